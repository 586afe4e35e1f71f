#include "chart/engine/plot_panel_extended.h"

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "chart/engine/chart_filer.h"
#include "platform/rtl/exceptions.h"
#include "platform/vcl/graphic.h"

namespace chart::engine {

TCustomPlotPanelExtended::TCustomPlotPanelExtended(vcl::TComponent* AOwner)
    : TCustomPlotPanel(AOwner), zoom_(std::make_unique<TPlotZoom>()) {}

TCustomPlotPanelExtended::~TCustomPlotPanelExtended() = default;

chart::TPlotGradient& TCustomPlotPanelExtended::Gradient() {
    if (!gradient_)
        gradient_ = std::make_unique<chart::TPlotGradient>(
            [this](vcl::TPersistent* Sender) { PropertyChanged(Sender); });
    return *gradient_;
}

void TCustomPlotPanelExtended::SetGradient(const chart::TPlotGradient* Value) {
    if (!Value)
        gradient_.reset();
    else if (Value != gradient_.get())
        Gradient().Assign(*Value);
}

TBackImage& TCustomPlotPanelExtended::BackImage() {
    if (!back_image_) {
        back_image_ = std::make_unique<TBackImage>();
        back_image_->OnChange = [this] { PropertyChanged(back_image_.get()); };
    }
    return *back_image_;
}

void TCustomPlotPanelExtended::SetBackImage(const TBackImage* Value) {
    if (!Value) {
        back_image_.reset();
        Invalidate();
    } else if (Value != back_image_.get()) {
        BackImage().Assign(*Value);
    }
}

bool TCustomPlotPanelExtended::BackImageInside() const {
    return HasBackImage() && back_image_->Inside();
}

TPlotBackImageMode TCustomPlotPanelExtended::BackImageMode() const {
    return back_image_ ? back_image_->Mode() : pbmStretch;
}

bool TCustomPlotPanelExtended::BackImageTransp() const {
    return HasBackImage() && back_image_->Graphic()->Transparent();
}

void TCustomPlotPanelExtended::SetBackImageTransp(bool Value) {
    if (HasBackImage()) back_image_->Graphic()->SetTransparent(Value);
}

bool TCustomPlotPanelExtended::HasBackImage() const {
    return back_image_ && back_image_->Graphic();
}

void TCustomPlotPanelExtended::DrawBackImage(const TRect& Rect, int Z) {
    if (HasBackImage()) back_image_->Draw(*this, Rect, Z);
}

void TCustomPlotPanelExtended::UndoZoom() {
    if (OnUndoZoom) OnUndoZoom(this);
    Invalidate();
    Zoomed = false;
}

void TCustomPlotPanelExtended::FillPanelRect(const TRect& Rect) {
    TCanvas3D& canvas = *Canvas();
    canvas.Begin2D();
    try {
        if (gradient_ && gradient_->Visible()) {
            gradient_->Draw(canvas, Rect, BorderRound());
        } else if (Color() != vcl::clNone) {
            canvas.Brush->SetStyle(vcl::TBrushStyle::bsSolid);
            canvas.Brush->SetColor(Color());
            canvas.Pen->SetStyle(vcl::TPenStyle::psClear);
            if (BorderRound() == 0)
                canvas.EraseBackground(Rect);
            else
                canvas.RoundRectRect(Rect, BorderRound(), BorderRound());
        }
    } catch (...) {
        canvas.End2D();
        throw;
    }
    canvas.End2D();
}

void TCustomPlotPanelExtended::DrawPanelBackground(const TRect& Rect) {
    TCanvas3D& canvas = *Canvas();
    TRect r = Rect;
    canvas.Begin2D();
    try {
        chart::TPlotShadow& shadow = Shadow();
        if (shadow.Visible() && (shadow.HorizSize() != 0 || shadow.VertSize() != 0)) {
            const TColor under = Parent() ? Parent()->Color() : Color();
            canvas.Brush->SetStyle(vcl::TBrushStyle::bsSolid);
            canvas.Brush->SetColor(under);
            canvas.FillRect(r);
            auto moved = [](int v, long long by) {
                return static_cast<int>(std::clamp<long long>(v + by, INT32_MIN, INT32_MAX));
            };
            const long long h = shadow.HorizSize(), v = shadow.VertSize();
            if (h < 1)
                r.Left = moved(r.Left, 1 - 2 * h);
            else
                r.Right = moved(r.Right, -(2 * h + 1));
            if (v < 1)
                r.Top = moved(r.Top, 1 - 2 * v);
            else
                r.Bottom = moved(r.Bottom, -(2 * v + 1));
            shadow.Draw(canvas, r, 0, BorderRound());
            if (h < 1)
                r.Left = moved(r.Left, -1);
            else
                r.Right = moved(r.Right, 1);
            if (v < 1)
                r.Top = moved(r.Top, -1);
            else
                r.Bottom = moved(r.Bottom, 1);
        }
        FillPanelRect(r);
        if (HasBackImage() && !back_image_->Inside()) DrawBackImage(r, 0);
        DrawPanelBevels(r);
    } catch (...) {
        canvas.End2D();
        throw;
    }
    canvas.End2D();
}

void TCustomPlotPanelExtended::DrawZoomRectangle() {
    TCanvas3D& canvas = *Canvas();
    // Colours xor (white - back) turn into themselves on white and keep
    // their contrast on any other back colour.
    const TColor back = static_cast<TColor>(vcl::ColorToRGB(GetBackColor()));
    const TColor flip = vcl::clWhite - back;
    TPlotZoomBrush* brush = zoom_->BrushIfAny();
    if (brush)
        SetBrushCanvas(static_cast<TColor>(vcl::ColorToRGB(brush->Color())) ^ flip, *brush, back);
    else
        canvas.Brush->SetStyle(vcl::TBrushStyle::bsClear);
    TPlotZoomPen& pen = zoom_->Pen();
    canvas.AssignVisiblePenColor(pen, static_cast<TColor>(vcl::ColorToRGB(pen.Color())) ^ flip);
    // After the pen: taking the zoom pen copies its own (copy) mode.
    canvas.Pen->SetMode(vcl::TPenMode::pmNotXor);
    if (!brush || brush->Style() == vcl::TBrushStyle::bsClear) canvas.SetBackMode(gdi::TRANSPARENT);
    canvas.Rectangle(zoom_->X0, zoom_->Y0, zoom_->X1, zoom_->Y1);
}

void TCustomPlotPanelExtended::DefineProperties(TFiler& Filer) {
    TCustomPlotPanel::DefineProperties(Filer);
    TPlotZoom& zoom = *zoom_;
    Filer.DefineProperty("AllowZoom", [&zoom](chart::TReader& Reader) { zoom.Allow = Reader.ReadBoolean(); }, {},
                         false);
    Filer.DefineProperty(
        "AnimatedZoom", [&zoom](chart::TReader& Reader) { zoom.Animated = Reader.ReadBoolean(); }, {}, false);
    Filer.DefineProperty(
        "AnimatedZoomSteps", [&zoom](chart::TReader& Reader) { zoom.AnimatedSteps = ReadInt32(Reader); }, {},
        false);
    const bool margins = std::any_of(PrintMargins.begin(), PrintMargins.end(), [](int m) { return m != 15; });
    Filer.DefineProperty(
        "PrintMargins",
        [this](chart::TReader& Reader) {
            // All four or none: a list of another length changes nothing.
            std::vector<int> read;
            Reader.ReadListBegin();
            while (!Reader.EndOfList()) read.push_back(ReadInt32(Reader));
            Reader.ReadListEnd();
            if (read.size() != PrintMargins.size())
                throw rtl::EReadError("PrintMargins holds " + std::to_string(read.size()) + " numbers, not 4");
            std::copy(read.begin(), read.end(), PrintMargins.begin());
        },
        [this](chart::TWriter& Writer) {
            Writer.WriteListBegin();
            for (int m : PrintMargins) Writer.WriteInteger(m);
            Writer.WriteListEnd();
        },
        margins);
}

void TCustomPlotPanelExtended::Assign(const TCustomPlotPanel& Source) {
    if (const auto* other = dynamic_cast<const TCustomPlotPanelExtended*>(&Source);
        other && other != this) {
        SetBackImage(other->back_image_.get());
        SetGradient(other->gradient_.get());
        AllowPanning = other->AllowPanning;
        zoom_->Assign(*other->zoom_);
    }
    TCustomPlotPanel::Assign(Source);
}

}  // namespace chart::engine
