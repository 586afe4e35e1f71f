#include "chart/tools/annotation_tool.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "chart/drawing/plot_pro_co.h"
#include "chart/engine/axis_panel.h"
#include "chart/engine/pixel_math.h"

namespace chart::tools {

using engine::TCustomAxisPanel;

namespace {

std::vector<std::string> SplitLines(const std::string& Text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = Text.find('\n', start);
        std::string line = Text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return lines;
}

int Clamp(long long Value) { return engine::Clamp32(Value); }

}  // namespace

// ---- The box

TTextShape::TTextShape(engine::TCustomPlotPanelExtended* AOwner)
    : TPlotCustomShapePosition(AOwner), margins_(std::make_unique<engine::TMargins>(this)) {}

TTextShape::~TTextShape() = default;

void TTextShape::Assign(const vcl::TPersistent& Source) {
    if (auto* s = dynamic_cast<const TTextShape*>(&Source)) {
        auto_size_ = s->auto_size_;
        clip_text_ = s->clip_text_;
        cursor_ = s->cursor_;
        margins_->Assign(*s->margins_);
        text_ = s->text_;
        text_alignment_ = s->text_alignment_;
    }
    TPlotCustomShapePosition::Assign(Source);
}

void TTextShape::DrawText() {
    auto* chart = dynamic_cast<TCustomAxisPanel*>(ParentChart());
    if (!chart) return;
    TCanvas3D& canvas = *chart->Canvas();
    if (Visible()) Draw();
    const TRect& r = ShapeBounds;
    if (clip_text_) canvas.ClipRectangle(r);
    canvas.AssignFont(Font());
    canvas.SetBackMode(gdi::TRANSPARENT);
    const int penWidth = Frame().Visible() ? Frame().Width() : 0;
    long long x = 0;
    unsigned align = gdi::TA_LEFT;
    switch (text_alignment_) {
        case engine::taLeftJustify:
            x = static_cast<long long>(r.Left) + margins_->LeftSize() + penWidth;
            break;
        case engine::taCenter:
            x = ((static_cast<long long>(r.Left) + margins_->LeftSize()) +
                 (static_cast<long long>(r.Right) - margins_->RightSize())) / 2 + 1;
            align = gdi::TA_CENTER;
            break;
        case engine::taRightJustify:
            x = static_cast<long long>(r.Right) - margins_->RightSize();
            align = gdi::TA_RIGHT;
            break;
    }
    canvas.SetTextAlign(align);
    const int h = canvas.FontHeight();
    long long y = static_cast<long long>(r.Top) + margins_->TopSize();
    for (const std::string& line : SplitLines(text_)) {
        canvas.TextOut(Clamp(x), Clamp(y), line);
        y += h;
    }
    canvas.SetTextAlign(gdi::TA_LEFT);
    if (clip_text_) canvas.UnClipRectangle();
}

// ---- The callout

TAnnotationCallout::TAnnotationCallout(engine::TCustomPlotPanelExtended* Chart) : TCallout(Chart, nullptr) {
    SetVisible(false);
}

void TAnnotationCallout::Assign(const vcl::TPersistent& Source) {
    if (auto* s = dynamic_cast<const TAnnotationCallout*>(&Source)) {
        x_ = s->x_;
        y_ = s->y_;
        z_ = s->z_;
    }
    TCallout::Assign(Source);
}

// ---- The annotation

TAnnotationTool::TAnnotationTool(vcl::TComponent* AOwner)
    : TPlotCustomTool(AOwner),
      shape_(std::make_unique<TTextShape>()),
      callout_(std::make_unique<TAnnotationCallout>()) {}

TAnnotationTool::~TAnnotationTool() = default;

void TAnnotationTool::SetParentChart(TCustomAxisPanel* Value) {
    TPlotCustomTool::SetParentChart(Value);
    if (Destroying()) return;
    shape_->SetParentChart(Value);
    callout_->SetParentChart(Value);
    Repaint();
}

void TAnnotationTool::SetPosition(TAnnotationPosition Value) {
    position_ = Value;
    shape_->SetCustomPosition(false);
    Repaint();
}

void TAnnotationTool::SetPositionUnits(engine::TPlotUnits Value) {
    if (position_units_ == Value) return;
    position_units_ = Value;
    Repaint();
}

void TAnnotationTool::SetWidth(int Value) {
    shape_->SetWidth(std::max(0, Value));
    Repaint();
}

void TAnnotationTool::SetHeight(int Value) {
    shape_->SetHeight(std::max(0, Value));
    Repaint();
}

void TAnnotationTool::GetBounds(TRect& Rect, TPoint& TextOrigin) {
    TCustomAxisPanel& chart = *ParentChart();
    TCanvas3D& canvas = *chart.Canvas();
    const TRect& R = chart.ChartRect;
    const long long W = static_cast<long long>(R.Right) - R.Left, H = static_cast<long long>(R.Bottom) - R.Top;
    canvas.AssignFont(shape_->Font());
    std::string text = GetText();
    if (text.empty()) text = " ";
    const std::vector<std::string> lines = SplitLines(text);
    const int fontHeight = canvas.FontHeight();
    long long w = 0, h = 0;
    if (shape_->AutoSize()) {
        for (const std::string& line : lines) w = std::max<long long>(w, canvas.TextWidth(line));
        h = static_cast<long long>(lines.size()) * fontHeight;
        if (shape_->Frame().Visible()) {
            const int half = (shape_->Frame().Width() + 1) / 2;
            w += half;
            h += half;
        }
    } else {
        w = std::max(0, shape_->Width());
        h = std::max(0, shape_->Height());
    }
    engine::TMargins& m = shape_->Margins();
    m.CalcSizes(Clamp(w), Clamp(h), fontHeight);
    margin_width_ = m.HorizSize();
    margin_height_ = m.VertSize();
    w += margin_width_;
    h += margin_height_;
    long long x = 0, y = 0;
    if (!shape_->CustomPosition()) {
        const long long left = static_cast<long long>(R.Left) + 10, top = static_cast<long long>(R.Top) + 10;
        const long long right = R.Left + W - w - m.RightSize(), bottom = R.Top + H - h - m.BottomSize();
        switch (position_) {
            case ppLeftTop: x = left; y = top; break;
            case ppLeftBottom: x = left; y = bottom; break;
            case ppRightTop: x = right; y = top; break;
            case ppRightBottom: x = right; y = bottom; break;
            case ppCenter:
                x = R.Left + (W - w) / 2;
                y = R.Top + (H - h) / 2;
                break;
        }
    } else if (position_units_ == engine::muPixels) {
        x = shape_->Left();
        y = shape_->Top();
    } else {
        x = std::llround(shape_->Left() * W * 0.01);
        y = std::llround(shape_->Top() * H * 0.01);
    }
    Rect = {Clamp(x), Clamp(y), Clamp(x + w - 1), Clamp(y + h - 1)};
    const int half = shape_->Frame().Visible() ? shape_->Frame().Width() / 2 : 0;
    TextOrigin = {Clamp(static_cast<long long>(Rect.Left) + half), Clamp(static_cast<long long>(Rect.Top) + half)};
    if (shape_->AutoSize()) {
        shape_->ShapeBounds.Right = Clamp(static_cast<long long>(shape_->ShapeBounds.Left) + w - 1);
        shape_->ShapeBounds.Bottom = Clamp(static_cast<long long>(shape_->ShapeBounds.Top) + h - 1);
    }
}

void TAnnotationTool::DrawText() {
    TCustomAxisPanel* chart = ParentChart();
    if (!chart) return;
    TRect r;
    TPoint origin;
    GetBounds(r, origin);
    bounds_ = r;
    // Drawn during the paint: setting the text asks for no repaint then.
    shape_->SetText(GetText());
    // The shape draws at the box; its own bounds (custom corner, size) stay.
    const TRect kept = shape_->ShapeBounds;
    shape_->ShapeBounds = r;
    shape_->DrawText();
    shape_->ShapeBounds = kept;
    // Only a shown callout: its arrow pen is visible from the start, and a
    // hidden callout would otherwise draw a line from the chart's corner.
    if (callout_->Visible()) {
        const long long px = callout_->XPosition(), py = callout_->YPosition();
        long long tx = px > r.Right ? r.Right : px < r.Left ? r.Left : (static_cast<long long>(r.Left) + r.Right) / 2;
        long long ty = py > r.Bottom ? r.Bottom : py < r.Top ? r.Top : (static_cast<long long>(r.Top) + r.Bottom) / 2;
        TPoint from{Clamp(px), Clamp(py)};
        if (const int d = callout_->Distance(); d > 0) {
            const double dx = static_cast<double>(tx - px), dy = static_cast<double>(ty - py);
            const double len = std::hypot(dx, dy);
            if (len > 0) from = {Clamp(std::llround(px + dx * d / len)), Clamp(std::llround(py + dy * d / len))};
        }
        callout_->Draw(vcl::clNone, from, false, callout_->ZPosition(), TPoint{Clamp(tx), Clamp(ty)}, TPoint{});
    }
}

bool TAnnotationTool::Clicked(int X, int Y) const {
    return bounds_.Right > bounds_.Left && X >= bounds_.Left && X <= bounds_.Right && Y >= bounds_.Top &&
           Y <= bounds_.Bottom;
}

void TAnnotationTool::ChartEvent(engine::TChartToolEvent AEvent) {
    TPlotCustomTool::ChartEvent(AEvent);
    if (AEvent != engine::cteAfterDraw || !ParentChart()) return;
    if (OnBeforeDraw) OnBeforeDraw(this);
    DrawText();
    if (OnAfterDraw) OnAfterDraw(this);
}

void TAnnotationTool::ChartMouseEvent(engine::TChartMouseEvent AEvent, vcl::TMouseButton Button,
                                      vcl::TShiftState Shift, int X, int Y) {
    TPlotCustomTool::ChartMouseEvent(AEvent, Button, Shift, X, Y);
    TCustomAxisPanel* chart = ParentChart();
    if (!chart || !Clicked(X, Y)) return;
    if (AEvent == engine::cmeDown) {
        if (OnClick) OnClick(this, Button, Shift, X, Y);
        if ((Shift & vcl::ssDouble) && OnDblClick) OnDblClick(this, Button, Shift, X, Y);
    } else if (AEvent == engine::cmeMove && shape_->Cursor() != vcl::TCursor::crDefault) {
        chart->SetCursor(shape_->Cursor());
        chart->CancelMouseAction = true;
    }
}

void TAnnotationTool::Assign(const engine::TCustomChartElement& Source) {
    if (auto* s = dynamic_cast<const TAnnotationTool*>(&Source)) {
        shape_->Assign(*s->shape_);
        callout_->Assign(*s->callout_);
        position_ = s->position_;
        position_units_ = s->position_units_;
    }
    TPlotCustomTool::Assign(Source);
}

std::string TAnnotationTool::Description() const { return PlotMsg_AnnotationTool; }
std::string TAnnotationTool::LongDescription() const { return PlotMsg_AnnotationToolDesc; }

// ---- The rectangle

TRectangleTool::TRectangleTool(vcl::TComponent* AOwner) : TAnnotationTool(AOwner) {
    TTextShape& s = Shape();
    s.SetAutoSize(false);
    s.SetCursor(vcl::TCursor::crHandPoint);
    s.ShapeBounds = {10, 10, 59, 59};
    s.SetCustomPosition(true);
    s.SetTransparency(75);
    s.Shadow().SetVisible(false);
}

int TRectangleTool::ClickedZone(int X, int Y) const {
    if (!Clicked(X, Y)) return -1;
    constexpr int tolerance = 4;
    const bool left = std::llabs(static_cast<long long>(X) - bounds_.Left) <= tolerance;
    const bool right = std::llabs(static_cast<long long>(X) - bounds_.Right) <= tolerance;
    const bool top = std::llabs(static_cast<long long>(Y) - bounds_.Top) <= tolerance;
    const bool bottom = std::llabs(static_cast<long long>(Y) - bounds_.Bottom) <= tolerance;
    if (left && top) return 4;
    if (left && bottom) return 5;
    if (right && top) return 6;
    if (right && bottom) return 7;
    if (left) return 0;
    if (top) return 1;
    if (right) return 2;
    if (bottom) return 3;
    return -1;
}

void TRectangleTool::SetActive(bool Value) {
    if (!Value) {
        zone_ = -1;
        dragging_ = false;
    }
    TAnnotationTool::SetActive(Value);
}

void TRectangleTool::PlaceBox(const TRect& Box, bool KeepSize) {
    TCustomAxisPanel& chart = *ParentChart();
    TTextShape& s = Shape();
    if (PositionUnits() == engine::muPixels) {
        const int w = KeepSize ? s.Width() : Clamp(static_cast<long long>(Box.Right) - Box.Left + 1 - margin_width_);
        const int h = KeepSize ? s.Height() : Clamp(static_cast<long long>(Box.Bottom) - Box.Top + 1 - margin_height_);
        // The margins take their part of the box; the text part may be none.
        s.ShapeBounds = {Box.Left, Box.Top, Clamp(static_cast<long long>(Box.Left) + std::max(0, w) - 1),
                         Clamp(static_cast<long long>(Box.Top) + std::max(0, h) - 1)};
    } else {
        // Percent units keep the size; only the corner moves.
        const double W = std::max(1, chart.ChartWidth), H = std::max(1, chart.ChartHeight);
        const int w = s.Width(), h = s.Height();
        s.ShapeBounds.Left = Clamp(std::llround(Box.Left * 100.0 / W));
        s.ShapeBounds.Top = Clamp(std::llround(Box.Top * 100.0 / H));
        s.SetWidth(w);
        s.SetHeight(h);
    }
    s.SetCustomPosition(true);
    chart.Invalidate();
}

void TRectangleTool::ChartMouseEvent(engine::TChartMouseEvent AEvent, vcl::TMouseButton Button,
                                     vcl::TShiftState Shift, int X, int Y) {
    TAnnotationTool::ChartMouseEvent(AEvent, Button, Shift, X, Y);
    TCustomAxisPanel* chart = ParentChart();
    if (!chart) return;
    const TRect& b = bounds_;
    switch (AEvent) {
        case engine::cmeDown: {
            const int zone = ClickedZone(X, Y);
            if (zone != -1 && allow_resize_) {
                zone_ = zone;
                const bool atRight = zone == 2 || zone == 6 || zone == 7;
                const bool atBottom = zone == 3 || zone == 5 || zone == 7;
                grab_x_ = X - (atRight ? b.Right : b.Left);
                grab_y_ = Y - (atBottom ? b.Bottom : b.Top);
                chart->CancelMouseAction = true;
            } else if (Clicked(X, Y) && allow_drag_) {
                dragging_ = true;
                grab_x_ = X - b.Left;
                grab_y_ = Y - b.Top;
                chart->CancelMouseAction = true;
            }
            break;
        }
        case engine::cmeMove:
            if (zone_ != -1) {
                const long long px = static_cast<long long>(X) - grab_x_, py = static_cast<long long>(Y) - grab_y_;
                long long l = b.Left, t = b.Top, r = b.Right, btm = b.Bottom;
                const bool moveLeft = zone_ == 0 || zone_ == 4 || zone_ == 5;
                const bool moveTop = zone_ == 1 || zone_ == 4 || zone_ == 6;
                const bool moveRight = zone_ == 2 || zone_ == 6 || zone_ == 7;
                const bool moveBottom = zone_ == 3 || zone_ == 5 || zone_ == 7;
                if (moveLeft) l = std::min(r - 3, px);
                if (moveTop) t = std::min(btm - 3, py);
                if (moveRight) r = std::max(l + 3, px);
                if (moveBottom) btm = std::max(t + 3, py);
                const TRect box{Clamp(l), Clamp(t), Clamp(r), Clamp(btm)};
                PlaceBox(box, PositionUnits() != engine::muPixels);
                bounds_ = box;
                chart->CancelMouseAction = true;
                if (OnResizing) OnResizing(this);
            } else if (dragging_) {
                const long long l = static_cast<long long>(X) - grab_x_, t = static_cast<long long>(Y) - grab_y_;
                const TRect box{Clamp(l), Clamp(t), Clamp(l + b.Right - b.Left), Clamp(t + b.Bottom - b.Top)};
                PlaceBox(box, true);
                bounds_ = box;
                chart->CancelMouseAction = true;
                if (OnDragging) OnDragging(this);
            } else {
                const int zone = ClickedZone(X, Y);
                if (zone != -1 && allow_resize_) {
                    static constexpr vcl::TCursor cursors[] = {
                        vcl::TCursor::crSizeWE,   vcl::TCursor::crSizeNS,   vcl::TCursor::crSizeWE,
                        vcl::TCursor::crSizeNS,   vcl::TCursor::crSizeNWSE, vcl::TCursor::crSizeNESW,
                        vcl::TCursor::crSizeNESW, vcl::TCursor::crSizeNWSE};
                    chart->SetCursor(cursors[zone]);
                    chart->CancelMouseAction = true;
                } else if (Clicked(X, Y)) {
                    chart->SetCursor(Shape().Cursor());
                    chart->CancelMouseAction = true;
                }
            }
            break;
        case engine::cmeUp:
            if (zone_ != -1) {
                zone_ = -1;
                if (OnResized) OnResized(this);
            } else if (dragging_) {
                dragging_ = false;
                if (OnDragged) OnDragged(this);
            }
            break;
    }
}

void TRectangleTool::Assign(const engine::TCustomChartElement& Source) {
    if (auto* s = dynamic_cast<const TRectangleTool*>(&Source)) {
        allow_drag_ = s->allow_drag_;
        allow_resize_ = s->allow_resize_;
    }
    TAnnotationTool::Assign(Source);
}

std::string TRectangleTool::Description() const { return PlotMsg_RectangleTool; }
std::string TRectangleTool::LongDescription() const { return PlotMsg_RectangleToolDesc; }

}  // namespace chart::tools
