#include "chart/tools/color_band_tool.h"

#include <algorithm>
#include <cmath>

#include "chart/drawing/plot_blend.h"
#include "chart/drawing/plot_pro_co.h"
#include "chart/drawing/plot_filters.h"
#include "chart/engine/axis_panel.h"
#include "chart/engine/chart_axis.h"
#include "chart/engine/panel_routines.h"
#include "chart/tools/overlay.h"

namespace chart::tools {

using chart::engine::TChartAxis;
using chart::engine::TCustomAxisPanel;

// ===========================================================================
// Colour line

TColorLineTool::TColorLineTool(vcl::TComponent* AOwner) : TPlotCustomToolAxis(AOwner) {}

TCustomAxisPanel* TColorLineTool::Chart() const { return ParentChart() ? ParentChart() : substitute_; }

void TColorLineTool::SetStyle(TColorLineStyle Value) {
    if (style_ == Value) return;
    style_ = Value;
    Repaint();
}

void TColorLineTool::SetValue(double Value) {
    if ((ComponentState() & vcl::csLoading) == 0) style_ = clCustom;
    if (dragging_ && !DragRepaint) {
        value_ = Value;
        return;
    }
    if (value_ == Value) return;
    value_ = Value;
    Repaint();
}

double TColorLineTool::GetValue() const {
    const TChartAxis* axis = Axis();
    if (!axis) return value_;
    switch (style_) {
        case clMaximum: return axis->Maximum();
        case clCenter: return (axis->Maximum() + axis->Minimum()) * 0.5;
        case clMinimum: return axis->Minimum();
        case clCustom: break;
    }
    return value_;
}

double TColorLineTool::LimitValue(double Value) const {
    const TChartAxis* axis = Axis();
    if (!axis) return Value;
    // The values at the axis's two pixel ends, in the order pixels run
    // (reversed for inverted axes, and for vertical ones, whose pixels grow
    // downward).
    double a = axis->CalcPosPoint(axis->StartPixel);
    double b = axis->CalcPosPoint(axis->EndPixel);
    if (a > b) std::swap(a, b);
    return std::clamp(Value, a, b);
}

int TColorLineTool::LinePixel() const { return Axis() ? Axis()->CalcPosValue(GetValue()) : 0; }

bool TColorLineTool::Clicked(int X, int Y) {
    TCustomAxisPanel* chart = Chart();
    if (!Axis() || !chart) return false;
    const TRect& r = chart->ChartRect;
    const int p = LinePixel();
    if (Axis()->Horizontal()) return std::abs(X - p) < 3 && Y >= r.Top && Y <= r.Bottom;
    return std::abs(Y - p) < 3 && X >= r.Left && X <= r.Right;
}

void TColorLineTool::DrawColorLine(bool Back) {
    TCustomAxisPanel* chart = Chart();
    if (!chart || !Axis()) return;
    if (AllowDrag && !NoLimitDrag && style_ == clCustom) value_ = LimitValue(value_);
    TCanvas3D& canvas = *chart->Canvas();
    canvas.AssignVisiblePen(Pen());
    canvas.Brush->SetStyle(vcl::TBrushStyle::bsClear);
    canvas.SetBackMode(gdi::TRANSPARENT);
    const int p = LinePixel();
    const TRect& r = chart->ChartRect;
    const bool horizontal = Axis()->Horizontal();
    const bool in3D = chart->View3D();
    const int depth = chart->Width3D;
    auto depthLine = [&] {
        if (horizontal) canvas.ZLine3D(p, r.Bottom, 0, depth);
        else canvas.ZLine3D(r.Left, p, 0, depth);
    };
    auto lineAt = [&](int z) {
        if (horizontal) canvas.VertLine3D(p, r.Top, r.Bottom, z);
        else canvas.HorizLine3D(r.Left, r.Right, p, z);
    };
    if (Back) {
        if (in3D && Draw3D) depthLine();
        if (DrawBehind || Draw3D) lineAt(depth);
        return;
    }
    if (!in3D && dragging_ && !DragRepaint) return;
    if (in3D && Draw3D) depthLine();
    if (!DrawBehind) lineAt(0);
}

void TColorLineTool::ChartEvent(chart::engine::TChartToolEvent AEvent) {
    if (!Axis()) return;
    if (AEvent == chart::engine::cteBeforeDrawSeries) DrawColorLine(true);
    else if (AEvent == chart::engine::cteAfterDraw) DrawColorLine(false);
}

void TColorLineTool::ToggleDragLine() {
    TCustomAxisPanel* chart = Chart();
    const int p = LinePixel();
    const TRect& r = chart->ChartRect;
    const int w = std::max(Pen().Width(), 1) + 2;
    const TRect area = Axis()->Horizontal() ? TRect{p - w, r.Top - w, p + w, r.Bottom + w}
                                            : TRect{r.Left - w, p - w, r.Right + w, p + w};
    chart->DrawOnCachedImage(area, [&] {
        TCanvas3D& canvas = *chart->Canvas();
        canvas.AssignVisiblePen(Pen());
        canvas.Pen->SetMode(vcl::TPenMode::pmNotXor);
        canvas.SetBackMode(gdi::TRANSPARENT);
        if (Axis()->Horizontal()) canvas.VertLine3D(p, r.Top, r.Bottom, 0);
        else canvas.HorizLine3D(r.Left, r.Right, p, 0);
        canvas.Pen->SetMode(vcl::TPenMode::pmCopy);
    });
}

void TColorLineTool::ChartMouseEvent(chart::engine::TChartMouseEvent AEvent, vcl::TMouseButton Button,
                                     vcl::TShiftState, int X, int Y) {
    TCustomAxisPanel* chart = Chart();
    if (!AllowDrag || !Axis() || !chart) return;
    switch (AEvent) {
        case chart::engine::cmeDown:
            if (Button != vcl::TMouseButton::mbLeft) break;
            dragging_ = Clicked(X, Y);
            chart->CancelMouseAction = dragging_;
            if (dragging_ && OnBeginDragLine) OnBeginDragLine(this);
            break;
        case chart::engine::cmeMove:
            if (dragging_) {
                double v = Axis()->CalcPosPoint(Axis()->Horizontal() ? X : Y);
                if (!NoLimitDrag) v = LimitValue(v);
                if (DragRepaint) {
                    SetValue(v);
                    chart->CancelMouseAction = true;
                    if (OnDragLine) OnDragLine(this);
                } else {
                    if (v != GetValue()) {
                        ToggleDragLine();
                        style_ = clCustom;
                        value_ = v;
                        chart->CancelMouseAction = true;
                        if (OnDragLine) OnDragLine(this);
                        ToggleDragLine();
                    } else {
                        chart->CancelMouseAction = true;
                        if (OnDragLine) OnDragLine(this);
                    }
                }
            } else if (Clicked(X, Y)) {
                chart->SetCursor(Axis()->Horizontal() ? vcl::TCursor::crHSplit : vcl::TCursor::crVSplit);
                cursor_shown_ = true;
                chart->CancelMouseAction = true;
            } else if (cursor_shown_) {
                chart->SetCursor(vcl::TCursor::crDefault);
                cursor_shown_ = false;
            }
            break;
        case chart::engine::cmeUp:
            if (dragging_) {
                dragging_ = false;
                if (!DragRepaint) chart->Invalidate();
                DoEndDragLine();
            }
            break;
    }
}

void TColorLineTool::DoEndDragLine() {
    if (OnInternalDragEnd) OnInternalDragEnd();
    if (OnEndDragLine) OnEndDragLine(this);
}

void TColorLineTool::Assign(const chart::engine::TCustomChartElement& Source) {
    if (const auto* other = dynamic_cast<const TColorLineTool*>(&Source)) {
        AllowDrag = other->AllowDrag;
        DragRepaint = other->DragRepaint;
        Draw3D = other->Draw3D;
        DrawBehind = other->DrawBehind;
        NoLimitDrag = other->NoLimitDrag;
        style_ = other->style_;
        value_ = other->value_;
    }
    TPlotCustomToolAxis::Assign(Source);
}

std::string TColorLineTool::Description() const { return chart::PlotMsg_ColorLineTool; }
std::string TColorLineTool::LongDescription() const { return chart::PlotMsg_ColorLineToolDesc; }

// ===========================================================================
// Colour band

TColorBandTool::TColorBandTool(vcl::TComponent* AOwner)
    : TPlotCustomToolAxis(AOwner),
      gradient_(std::make_unique<chart::TPlotGradient>([this](vcl::TPersistent*) { Repaint(); })),
      start_line_(new TColorLineTool(nullptr)),
      end_line_(new TColorLineTool(nullptr)) {
    for (TColorLineTool* line : {start_line_.get(), end_line_.get()}) {
        line->SetActive(false);
        line->DragRepaint = true;
        line->Pen().OnChange = [this] { Repaint(); };
        line->OnDragLine = [this](TColorLineTool* l) {
            if (l->DragRepaint) LineMoved(*l);
        };
        line->OnInternalDragEnd = [this, line] {
            if (!line->DragRepaint) LineMoved(*line);
            if (OnResized) OnResized(this);
        };
    }
}

TColorBandTool::~TColorBandTool() = default;

chart::TPlotPicture& TColorBandTool::Picture() {
    if (!picture_) {
        picture_ = std::make_unique<chart::TPlotPicture>();
        picture_->OnChange = [this] { Repaint(); };
    }
    return *picture_;
}

bool TColorBandTool::ResizeStart() const { return start_line_->Active(); }
void TColorBandTool::SetResizeStart(bool Value) { start_line_->SetActive(Value); }
bool TColorBandTool::ResizeEnd() const { return end_line_->Active(); }
void TColorBandTool::SetResizeEnd(bool Value) { end_line_->SetActive(Value); }

void TColorBandTool::CopyValuesToLines() {
    start_line_->SetValue(start_value_);
    end_line_->SetValue(end_value_);
}

void TColorBandTool::SetStartValue(double Value) {
    SetDoubleProperty(start_value_, Value);
    CopyValuesToLines();
}

void TColorBandTool::SetEndValue(double Value) {
    SetDoubleProperty(end_value_, Value);
    CopyValuesToLines();
}

void TColorBandTool::LineMoved(TColorLineTool& Line) {
    if (&Line == start_line_.get()) SetStartValue(Line.Value());
    else SetEndValue(Line.Value());
}

void TColorBandTool::Loaded() { CopyValuesToLines(); }

void TColorBandTool::SetAxis(TChartAxis* Value) {
    TPlotCustomToolAxis::SetAxis(Value);
    for (TColorLineTool* line : {start_line_.get(), end_line_.get()}) {
        line->SetAxis(Value);
        line->SetParentChart(nullptr);
        line->SetSubstituteChart(ParentChart());
    }
}

void TColorBandTool::SetParentChart(TCustomAxisPanel* Value) {
    TPlotCustomToolAxis::SetParentChart(Value);
    // Made before the lines during construction: nothing to tell then.
    if (start_line_) start_line_->SetSubstituteChart(Value);
    if (end_line_) end_line_->SetSubstituteChart(Value);
}

int TColorBandTool::BandZ() const { return draw_behind_ && ParentChart() ? ParentChart()->Width3D : 0; }

TRect TColorBandTool::BoundsRect() {
    TChartAxis* axis = Axis();
    TCustomAxisPanel* chart = ParentChart();
    if (!axis || !chart) return {};
    TRect r = chart->ChartRect;
    double a = start_value_, b = end_value_;
    if ((a > b) != axis->Inverted()) std::swap(a, b);
    const double lo = std::min(a, b), hi = std::max(a, b);
    if (hi < axis->Minimum() || lo > axis->Maximum()) return {};
    const int pa = axis->CalcPosValue(a), pb = axis->CalcPosValue(b);
    if (axis->Horizontal()) {
        r.Left = std::clamp(std::min(pa, pb), r.Left, r.Right);
        r.Right = std::clamp(std::max(pa, pb), r.Left, r.Right);
        if (Pen().Visible()) ++r.Right;
    } else {
        const int top = std::clamp(std::min(pa, pb), r.Top, r.Bottom);
        const int bottom = std::clamp(std::max(pa, pb), r.Top, r.Bottom);
        r.Top = top;
        r.Bottom = bottom;
        ++r.Left;
        ++r.Bottom;
        if (!Pen().Visible()) {
            ++r.Right;
            ++r.Bottom;
        }
    }
    return r;
}

void TColorBandTool::DrawBand() {
    TCustomAxisPanel* chart = ParentChart();
    const TRect r = BoundsRect();
    if (!chart || r.Right - r.Left <= 0 || r.Bottom - r.Top <= 0) return;
    TCanvas3D& canvas = *chart->Canvas();
    canvas.AssignBrushColor(Brush(), color_);
    canvas.AssignVisiblePen(Pen());
    const int z = BandZ();
    const bool in3D = chart->View3D();
    const TRect onScreen = in3D ? canvas.CalcRect3D(r, z) : r;
    std::unique_ptr<chart::TPlotBlend> blend;
    if (transparency_ != 0) blend = canvas.BeginBlending(onScreen, transparency_);
    if (gradient_->Visible()) {
        gradient_->Draw(canvas, {onScreen.Left, onScreen.Top, onScreen.Right - 1, onScreen.Bottom - 1});
        canvas.Brush->SetStyle(vcl::TBrushStyle::bsClear);
    }
    vcl::TGraphic* graphic = picture_ ? picture_->FilteredGraphic() : nullptr;
    if (!graphic) {
        if (in3D) canvas.RectangleWithZ(r, z);
        else canvas.RectangleRect(r);
    } else {
        canvas.StretchDraw(onScreen, graphic);
    }
    if (blend) canvas.EndBlending(std::move(blend));
    if (end_line_->Active()) {
        end_line_->SetValue(end_value_);
        end_line_->DrawColorLine(draw_behind_);
    }
    if (start_line_->Active()) {
        start_line_->SetValue(start_value_);
        start_line_->DrawColorLine(draw_behind_);
    }
}

void TColorBandTool::ChartEvent(chart::engine::TChartToolEvent AEvent) {
    if (!Axis()) return;
    const chart::engine::TChartToolEvent when = draw_behind_axes_ ? chart::engine::cteBeforeDrawAxes
                                                : draw_behind_     ? chart::engine::cteBeforeDrawSeries
                                                                   : chart::engine::cteAfterDraw;
    if (AEvent == when) DrawBand();
}

bool TColorBandTool::PointInBand(int X, int Y) {
    TCustomAxisPanel* chart = ParentChart();
    const TRect r = BoundsRect();
    if (!chart || r.Right <= r.Left || r.Bottom <= r.Top) return false;
    const int z = BandZ();
    const TPoint corners[4] = {chart->Canvas()->Calculate3DPosition(r.Left, r.Top, z),
                               chart->Canvas()->Calculate3DPosition(r.Right, r.Top, z),
                               chart->Canvas()->Calculate3DPosition(r.Right, r.Bottom, z),
                               chart->Canvas()->Calculate3DPosition(r.Left, r.Bottom, z)};
    return chart::engine::PointInPolygon({X, Y}, corners, 3);
}

void TColorBandTool::ChartMouseEvent(chart::engine::TChartMouseEvent AEvent, vcl::TMouseButton Button,
                                     vcl::TShiftState Shift, int X, int Y) {
    TCustomAxisPanel* chart = ParentChart();
    if (!chart) return;
    if (start_line_->Active()) start_line_->ChartMouseEvent(AEvent, Button, Shift, X, Y);
    if (end_line_->Active() && !chart->CancelMouseAction)
        end_line_->ChartMouseEvent(AEvent, Button, Shift, X, Y);
    if (AEvent == chart::engine::cmeMove) {
        if (Cursor != vcl::TCursor::crDefault && !chart->CancelMouseAction && PointInBand(X, Y)) {
            chart->SetCursor(Cursor);
            cursor_shown_ = true;
            const bool busy = chart->Zoom().Active || chart->Panning().Active;
            if (!busy) chart->CancelMouseAction = true;
        } else if (cursor_shown_ && !chart->CancelMouseAction) {
            chart->SetCursor(vcl::TCursor::crDefault);
            cursor_shown_ = false;
        }
    } else if (AEvent == chart::engine::cmeDown && OnClick && PointInBand(X, Y)) {
        OnClick(this, Button, Shift, X, Y);
    }
}

void TColorBandTool::Assign(const chart::engine::TCustomChartElement& Source) {
    if (const auto* other = dynamic_cast<const TColorBandTool*>(&Source)) {
        color_ = other->color_;
        Cursor = other->Cursor;
        draw_behind_ = other->draw_behind_;
        draw_behind_axes_ = other->draw_behind_axes_;
        end_value_ = other->end_value_;
        gradient_->Assign(*other->gradient_);
        start_value_ = other->start_value_;
        transparency_ = other->transparency_;
        start_line_->Assign(*other->start_line_);
        end_line_->Assign(*other->end_line_);
        // Copying a line's axis would put it into a chart's tools.
        for (TColorLineTool* line : {start_line_.get(), end_line_.get()}) {
            line->SetParentChart(nullptr);
            line->SetSubstituteChart(ParentChart());
        }
        if (other->picture_) Picture().Assign(*other->picture_);
        else picture_.reset();
        OnClick = other->OnClick;
        CopyValuesToLines();
    }
    TPlotCustomToolAxis::Assign(Source);
}

std::string TColorBandTool::Description() const { return chart::PlotMsg_ColorBandTool; }
std::string TColorBandTool::LongDescription() const { return chart::PlotMsg_ColorBandToolDesc; }

}  // namespace chart::tools
