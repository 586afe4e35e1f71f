#include "chart/engine/plot_panel.h"

#include <cxxabi.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <typeinfo>

#include "chart/drawing/plot_canvas3d.h"
#include "chart/engine/chart_filer.h"
#include "chart/engine/palettes.h"
#include "chart/engine/pixel_math.h"
#include "platform/rtl/exceptions.h"
#include "platform/vcl/metafile.h"
#include "platform/vcl/picture.h"

namespace chart::engine {

namespace {

void Shrink(TRect& r, long long by) {
    r.Left = Clamp32(r.Left + by);
    r.Top = Clamp32(r.Top + by);
    r.Right = Clamp32(r.Right - by);
    r.Bottom = Clamp32(r.Bottom - by);
}

// The surface's Frame3D, drawing no more lines than the rectangle has room
// for (a band of any 32-bit width must not take forever); the rectangle
// still comes back shrunk by the whole width.
void Frame3D(TCanvas3D& canvas, TRect& r, TColor topLeft, TColor bottomRight, int width) {
    const long long room =
        (std::min<long long>((long long)r.Right - r.Left, (long long)r.Bottom - r.Top) + 1) / 2;
    const int lines = static_cast<int>(std::clamp<long long>(width, 0, std::max(room, 0LL)));
    if (lines > 0) canvas.Frame3D(r, topLeft, bottomRight, lines);
    if (width > lines) Shrink(r, static_cast<long long>(width) - lines);
}

std::string TypeName(const std::type_info& type) {
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> plain(
        abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), std::free);
    std::string name = status == 0 && plain ? plain.get() : type.name();
    const auto colon = name.rfind("::");
    return colon == std::string::npos ? name : name.substr(colon + 2);
}

}  // namespace

// ---- Listeners

int TPlotEventListeners::IndexOf(const TPlotEventListener* Listener) const {
    const auto it = std::find(items_.begin(), items_.end(), Listener);
    return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

void TPlotEventListeners::Add(TPlotEventListener* Listener) {
    if (Listener && IndexOf(Listener) < 0) items_.push_back(Listener);
}

void TPlotEventListeners::Remove(TPlotEventListener* Listener) {
    items_.erase(std::remove(items_.begin(), items_.end(), Listener), items_.end());
}

void TZoomPanning::Activate(int X, int Y) {
    X0 = X1 = X;
    Y0 = Y1 = Y;
    Active = true;
}

TCustomPanelNoCaption::TCustomPanelNoCaption(vcl::TComponent* AOwner) : vcl::TCustomPanel(AOwner) {
    SetShowCaption(false);
}

// ---- Construction

TCustomPlotPanel::TCustomPlotPanel(vcl::TComponent* AOwner)
    : TCustomPanelNoCaption(AOwner), view3d_options_(this) {
    AutoRepaint = false;
    // Arrow keys are the chart's own, not a dialog's way between controls.
    WantArrows = true;
    canvas_ = std::make_unique<chart::TPlotCanvas3D>();
    canvas_->SetCanvas(&ControlCanvas());
    SetBounds(0, 0, 400, 250);
    const chart::TNotifyEvent changed = [this](vcl::TPersistent* Sender) {
        PropertyChanged(Sender);
    };
    border_ = std::make_unique<chart::TChartHiddenPen>(changed);
    border_->DefaultEndStyle = chart::esFlat;
    border_->SetEndStyle(chart::esFlat);
    shadow_ = std::make_unique<chart::TPlotShadow>(changed);
    panning_ = std::make_unique<TZoomPanning>();
    SavedCursor = vcl::TControl::Cursor();
    AutoRepaint = true;
}

TCustomPlotPanel::~TCustomPlotPanel() {
    // Nothing may draw or broadcast any more.
    AutoRepaint = false;
    canvas_.reset();
}

void TCustomPlotPanel::Loaded() {
    SavedCursor = vcl::TControl::Cursor();
    if (border_round_ > 0) ApplyRoundRegion();
}

void TCustomPlotPanel::DefineProperties(TFiler& Filer) {
    Filer.DefineProperty(
        "BorderStyle",
        [this](chart::TReader& Reader) {
            bool single = false;
            if (Reader.NextValue() == chart::TValueType::vaIdent)
                single = Reader.ReadIdent() == "bsSingle";
            else
                Reader.ReadInteger();
            border_->SetVisible(single);
        },
        {}, false);
}

// ---- Surface

void TCustomPlotPanel::ReplaceCanvas(std::unique_ptr<TCanvas3D> NewCanvas) {
    if (!NewCanvas) return;
    NewCanvas->SetCanvas(&ControlCanvas());
    if (canvas_) {
        const bool old = AutoRepaint;
        AutoRepaint = false;
        try {
            NewCanvas->Assign(*canvas_);
        } catch (...) {
            AutoRepaint = old;
            throw;
        }
        AutoRepaint = old;
    }
    canvas_ = std::move(NewCanvas);
    if (AutoRepaint) Invalidate();
}

bool TCustomPlotPanel::BufferedDisplay() const { return canvas_->GetBufferedDisplay(); }
void TCustomPlotPanel::SetBufferedDisplay(bool Value) { canvas_->SetBufferedDisplay(Value); }
bool TCustomPlotPanel::Monochrome() const { return canvas_->GetMonochrome(); }
void TCustomPlotPanel::SetMonochrome(bool Value) { canvas_->SetMonochrome(Value); }
bool TCustomPlotPanel::CanClip() const { return !canvas_->GetSupportsFull3D(); }

// ---- Settings

void TCustomPlotPanel::SetView3D(bool Value) {
    if (Value == view3d_) return;
    SetBooleanProperty(view3d_, Value);
    TPlotView3DEvent event;
    BroadcastPlotEvent(event);
}

void TCustomPlotPanel::SetBorderRound(int Value) {
    if (Value == border_round_) return;
    SetIntegerProperty(border_round_, Value);
    if (!(ComponentState() & vcl::csLoading)) ApplyRoundRegion();
}

void TCustomPlotPanel::SetMargin(int Index, int Value) {
    SetIntegerProperty(margins_.at(static_cast<std::size_t>(Index)), Value);
}

void TCustomPlotPanel::SetMarginUnits(TPlotUnits Value) {
    if (Value == margin_units_) return;
    margin_units_ = Value;
    Invalidate();
}

void TCustomPlotPanel::ApplyRoundRegion() {
    if (region_guard_ || !Parent()) return;
    region_guard_ = true;
    try {
        SetWindowRgn(border_round_ < 1 ? gdi::HRGN()
                                       : gdi::CreateRoundRectRgn(0, 0, Width(), Height(),
                                                                 border_round_, border_round_),
                     true);
    } catch (...) {
        region_guard_ = false;
        throw;
    }
    region_guard_ = false;
}

// ---- Store and invalidate

void TCustomPlotPanel::SetBooleanProperty(bool& Variable, bool Value) {
    if (Variable == Value) return;
    Variable = Value;
    Invalidate();
}

void TCustomPlotPanel::SetIntegerProperty(int& Variable, int Value) {
    if (Variable == Value) return;
    Variable = Value;
    Invalidate();
}

void TCustomPlotPanel::SetColorProperty(TColor& Variable, TColor Value) {
    if (Variable == Value) return;
    Variable = Value;
    Invalidate();
}

void TCustomPlotPanel::SetDoubleProperty(double& Variable, double Value) {
    if (Variable == Value) return;
    Variable = Value;
    Invalidate();
}

void TCustomPlotPanel::SetStringProperty(std::string& Variable, const std::string& Value) {
    if (Variable == Value) return;
    Variable = Value;
    Invalidate();
}

void TCustomPlotPanel::PropertyChanged(vcl::TPersistent*) { Invalidate(); }

void TCustomPlotPanel::Invalidate() {
    if (!AutoRepaint || !canvas_) return;
    canvas_->Invalidate();
    vcl::TControl::Invalidate();
}

void TCustomPlotPanel::Assign(const TCustomPlotPanel& Source) {
    if (&Source == this) return;
    border_->Assign(*Source.border_);
    SetBorderRound(Source.border_round_);
    SetBufferedDisplay(Source.BufferedDisplay());
    PrintProportional = Source.PrintProportional;
    PrintResolution = Source.PrintResolution;
    PrintMargins = Source.PrintMargins;
    SetMarginUnits(Source.margin_units_);
    for (int i = 0; i < 4; ++i) SetMargin(i, Source.margins_[static_cast<std::size_t>(i)]);
    SetMonochrome(Source.Monochrome());
    shadow_->Assign(*Source.shadow_);
    SetView3D(Source.view3d_);
    view3d_options_.Assign(Source.view3d_options_);
    SetColor(Source.Color());
}

void TCustomPlotPanel::AssignTo(vcl::TPersistent& Dest) {
    if (dynamic_cast<vcl::TGraphic*>(&Dest) || dynamic_cast<vcl::TPicture*>(&Dest)) {
        const std::unique_ptr<vcl::TBitmap> bitmap = CreateBitmap();
        Dest.Assign(*bitmap);
        return;
    }
    throw rtl::EConvertError("Cannot assign a " + TypeName(typeid(*this)) + " to a " +
                             Dest.ClassName());
}

TRect TCustomPlotPanel::GetRectangle() {
    if (!Parent()) return {0, 0, Width(), Height()};
    return ClientRect();
}

TColor TCustomPlotPanel::PaletteColor(int Index) const { return engine::PaletteColor(Index); }

// ---- Paint

void TCustomPlotPanel::Paint() {
    // The image is shown on the control canvas, whatever the surface drew
    // on last.
    canvas_->SetCanvas(&ControlCanvas());
    if (!canvas_->ReDrawBitmap()) DrawToOwnCanvas();
}

void TCustomPlotPanel::DrawToOwnCanvas() { Draw(&ControlCanvas(), ClientRect()); }

void TCustomPlotPanel::InternalDraw(const TRect&) {}

void TCustomPlotPanel::Draw(vcl::TCanvas* UserCanvas, const TRect& UserRect) {
    ChartBounds = canvas_->InitWindow(UserCanvas, &view3d_options_, Color(), view3d_, UserRect);
    // Everything in 64 bits: margins and widths may be any 32-bit value.
    long long frame = BorderWidth();
    if (BevelInner() != vcl::TBevelCut::bvNone) frame += BevelWidth();
    if (BevelOuter() != vcl::TBevelCut::bvNone) frame += BevelWidth();
    if (border_->Visible()) frame += border_->Width();
    const long long w = (long long)ChartBounds.Right - ChartBounds.Left;
    const long long h = (long long)ChartBounds.Bottom - ChartBounds.Top;
    auto margin = [&](int index, long long size) -> long long {
        const long long m = margins_[static_cast<std::size_t>(index)];
        return margin_units_ == muPercent ? m * size / 100 : m;
    };
    long long left = ChartBounds.Left + frame + margin(0, w);
    long long top = ChartBounds.Top + frame + margin(1, h);
    long long right = ChartBounds.Right - frame - margin(2, w);
    long long bottom = ChartBounds.Bottom - frame - margin(3, h);
    if (shadow_->Visible()) {
        const long long s = shadow_->HorizSize(), v = shadow_->VertSize();
        if (s > 0)
            right -= 2 * s;
        else
            left += -2 * s;
        if (v > 0)
            bottom -= 2 * v;
        else
            top += -2 * v;
    }
    ChartRect = {Clamp32(left), Clamp32(top), Clamp32(right), Clamp32(bottom)};
    RecalcWidthHeight();
    InternalDraw(ChartBounds);
    canvas_->ShowImage(UserCanvas, &ControlCanvas(), UserRect);
}

void TCustomPlotPanel::RecalcWidthHeight() {
    TRect& r = ChartRect;
    if (r.Left < ChartBounds.Left) r.Left = ChartBounds.Left;
    if (r.Top < ChartBounds.Top) r.Top = ChartBounds.Top;
    if (r.Left > r.Right) r.Right = Clamp32((long long)r.Left + 1);
    if (r.Left == r.Right) r.Right = Clamp32((long long)r.Left + Width());
    if (r.Top > r.Bottom) r.Bottom = Clamp32((long long)r.Top + 1);
    if (r.Top == r.Bottom) r.Bottom = Clamp32((long long)r.Top + Height());
    ChartWidth = Clamp32((long long)r.Right - r.Left);
    ChartHeight = Clamp32((long long)r.Bottom - r.Top);
    ChartXCenter = Clamp32(((long long)r.Left + r.Right) / 2);
    ChartYCenter = Clamp32(((long long)r.Top + r.Bottom) / 2);
}

void TCustomPlotPanel::DrawToCanvas(vcl::TCanvas* ACanvas, const TRect& Rect) {
    const bool buffered = BufferedDisplay();
    auto* gdiCanvas = dynamic_cast<chart::TPlotCanvas3D*>(canvas_.get());
    if (gdiCanvas) gdiCanvas->DirectDrawing = true;
    auto restore = [&] {
        SetBufferedDisplay(buffered);
        if (gdiCanvas) {
            gdiCanvas->DirectDrawing = false;
            Invalidate();
        }
    };
    try {
        SetBufferedDisplay(false);
        Draw(ACanvas, Rect);
    } catch (...) {
        restore();
        throw;
    }
    restore();
}

bool TCustomPlotPanel::DrawOnCachedImage(const TRect& Area, const std::function<void()>& Draw) {
    auto* surface = dynamic_cast<chart::TPlotCanvas3D*>(canvas_.get());
    // Stale while a paint is drawing, too: what is drawn then is the paint's.
    if (!surface || !surface->GetBufferedDisplay() || surface->Dirty() || !surface->Bitmap())
        return false;
    vcl::TCanvas* shown = surface->ReferenceCanvas;
    surface->SetCanvas(&surface->Bitmap()->Canvas());
    try {
        Draw();
    } catch (...) {
        surface->SetCanvas(shown);
        throw;
    }
    surface->SetCanvas(shown);
    RepaintRect(Area);
    return true;
}

std::unique_ptr<vcl::TMetafile> TCustomPlotPanel::CreateMetafile(bool Enhanced, const TRect& Rect) {
    auto metafile = std::make_unique<vcl::TMetafile>();
    metafile->SetSize(std::max(1, Clamp32((long long)Rect.Right - Rect.Left)),
                      std::max(1, Clamp32((long long)Rect.Bottom - Rect.Top)));
    metafile->SetEnhanced(Enhanced);
    {
        // Freeing the canvas hands the drawing to the metafile.
        vcl::TMetafileCanvas target(*metafile);
        struct TMetafiling {
            TCanvas3D& canvas;
            explicit TMetafiling(TCanvas3D& c) : canvas(c) { canvas.Metafiling = true; }
            ~TMetafiling() { canvas.Metafiling = false; }
        } metafiling(*canvas_);
        DrawToCanvas(&target, Rect);
    }
    return metafile;
}

std::unique_ptr<vcl::TBitmap> TCustomPlotPanel::CreateBitmap() {
    return PlotCreateBitmap(Color(), GetRectangle(), vcl::TPixelFormat::pfDevice);
}

std::unique_ptr<vcl::TBitmap> TCustomPlotPanel::PlotCreateBitmap(TColor BackColor,
                                                                 const TRect& Rect,
                                                                 vcl::TPixelFormat PixelFormat) {
    auto bitmap = std::make_unique<vcl::TBitmap>();
    bitmap->SetPixelFormat(canvas_->GetSupportsFull3D() ? vcl::TPixelFormat::pf24bit : PixelFormat);
    bitmap->SetSize(Rect.Width(), Rect.Height());
    if (BackColor != vcl::clWhite) {
        vcl::TCanvas& c = bitmap->Canvas();
        c.Brush.SetStyle(vcl::TBrushStyle::bsSolid);
        c.Brush.SetColor(BackColor);
        c.FillRect({0, 0, bitmap->Width(), bitmap->Height()});
    }
    DrawToCanvas(&bitmap->Canvas(), Rect);
    return bitmap;
}

// ---- Bevels and border

void TCustomPlotPanel::DrawBevel(TCanvas3D& Canvas, vcl::TBevelCut Cut, TRect& Rect,
                                 int BorderRound, int BevelWidth) {
    if (Cut == vcl::TBevelCut::bvNone) return;
    const bool lowered = Cut == vcl::TBevelCut::bvLowered;
    if (BorderRound >= 1) {
        Canvas.Pen->SetColor(lowered ? vcl::clBtnShadow : vcl::clBtnHighlight);
        Shrink(Rect, 1);
        Canvas.RoundRectRect(Rect, BorderRound, BorderRound);
        Shrink(Rect, BevelWidth);
        return;
    }
    Frame3D(Canvas, Rect, lowered ? vcl::clBtnShadow : vcl::clBtnHighlight,
            Cut == vcl::TBevelCut::bvRaised ? vcl::clBtnShadow : vcl::clBtnHighlight, BevelWidth);
}

void TCustomPlotPanel::DrawPanelBevels(const TRect& Rect) {
    TCanvas3D& canvas = *canvas_;
    TRect r = Rect;
    canvas.Begin2D();
    try {
        canvas.Brush->SetStyle(vcl::TBrushStyle::bsClear);
        if (border_->Visible()) {
            const long long w = (long long)border_->Width() - 1;
            long long inset;
            if (border_->SmallDots()) {
                inset = 1;
            } else {
                inset = w / 2;
                if (w > 0) {
                    r.Left = Clamp32(r.Left + w / 2 + w % 2);
                    r.Top = Clamp32(r.Top + w / 2 + w % 2);
                    r.Right = Clamp32(r.Right - w / 2);
                    r.Bottom = Clamp32(r.Bottom - w / 2);
                }
            }
            canvas.AssignVisiblePen(*border_);
            if (border_round_ >= 1) {
                r.Right = Clamp32((long long)r.Right - 1);
                r.Bottom = Clamp32((long long)r.Bottom - 1);
                canvas.RoundRectRect(r, border_round_, border_round_);
            } else {
                canvas.RectangleRect(r);
                if (!border_->SmallDots()) ++inset;
            }
            Shrink(r, inset);
        }
        canvas.Pen->SetStyle(vcl::TPenStyle::psSolid);
        canvas.Pen->SetWidth(1);
        canvas.Pen->SetMode(vcl::TPenMode::pmCopy);
        DrawBevel(canvas, BevelOuter(), r, border_round_, BevelWidth());
        if (BorderWidth() > 0) Frame3D(canvas, r, Color(), Color(), BorderWidth());
        DrawBevel(canvas, BevelInner(), r, border_round_, BevelWidth());
    } catch (...) {
        canvas.End2D();
        throw;
    }
    canvas.End2D();
}

void TCustomPlotPanel::SetBrushCanvas(TColor Color, chart::TChartBrush& ABrush, TColor BackColor) {
    if (ABrush.Style() != vcl::TBrushStyle::bsSolid && Color == BackColor)
        Color = BackColor == vcl::clBlack ? vcl::clWhite : vcl::clBlack;
    canvas_->AssignBrushColors(ABrush, Color, BackColor);
}

// ---- Events

TPlotEvent& TCustomPlotPanel::BroadcastPlotEvent(TPlotEvent& Event) {
    if (Destroying()) return Event;
    Event.Sender = this;
    const bool mouse = dynamic_cast<TPlotMouseEvent*>(&Event) != nullptr;
    // By index: a listener may remove itself while it hears the event.
    for (int i = 0; i < listeners_.Count(); ++i) {
        listeners_.Items(i)->PlotEvent(Event);
        if (mouse && CancelMouseAction) break;
    }
    return Event;
}

void TCustomPlotPanel::BroadcastMouse(TPlotMouseEventKind Kind, vcl::TMouseButton Button,
                                      vcl::TShiftState Shift, int X, int Y) {
    TPlotMouseEvent event;
    event.Event = Kind;
    event.Button = Button;
    event.Shift = Shift;
    event.X = X;
    event.Y = Y;
    BroadcastPlotEvent(event);
}

void TCustomPlotPanel::MouseDown(vcl::TMouseButton Button, vcl::TShiftState Shift, int X, int Y) {
    CancelMouseAction = false;
    TCustomPanelNoCaption::MouseDown(Button, Shift, X, Y);
    if (listeners_.Count() > 0) BroadcastMouse(pmeDown, Button, Shift, X, Y);
}

void TCustomPlotPanel::MouseUp(vcl::TMouseButton Button, vcl::TShiftState Shift, int X, int Y) {
    TCustomPanelNoCaption::MouseUp(Button, Shift, X, Y);
    if (listeners_.Count() > 0) BroadcastMouse(pmeUp, Button, Shift, X, Y);
}

void TCustomPlotPanel::MouseMove(vcl::TShiftState Shift, int X, int Y) {
    CancelMouseAction = false;
    TCustomPanelNoCaption::MouseMove(Shift, X, Y);
    if (listeners_.Count() > 0 && !Designing())
        BroadcastMouse(pmeMove, vcl::TMouseButton::mbLeft, Shift, X, Y);
}

void TCustomPlotPanel::DblClick() {
    CancelMouseAction = false;
    TCustomPanelNoCaption::DblClick();
    if (CancelMouseAction) throw rtl::EAbort("");
}

void TCustomPlotPanel::MouseLeave() {
    SetCursor(SavedCursor);
    panning_->Active = false;
    TCustomPanelNoCaption::MouseLeave();
}

void TCustomPlotPanel::SysColorChange() { Invalidate(); }

void TCustomPlotPanel::Resize() {
    if (!(ComponentState() & vcl::csLoading) && border_round_ > 0) ApplyRoundRegion();
    TCustomPanelNoCaption::Resize();
}

void TCustomPlotPanel::CreateParams(vcl::TCreateParams& Params) {
    TCustomPanelNoCaption::CreateParams(Params);
    if (Color() == vcl::clNone) Params.ExStyle |= vcl::WS_EX_TRANSPARENT;
    canvas_->View3DOptions = nullptr;
}

}  // namespace chart::engine
