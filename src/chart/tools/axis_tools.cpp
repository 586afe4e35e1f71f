#include "chart/tools/axis_tools.h"

#include <algorithm>
#include <cstdlib>

#include "chart/drawing/plot_blend.h"
#include "chart/drawing/plot_pro_co.h"
#include "chart/engine/chart.h"
#include "chart/engine/chart_axis.h"
#include "chart/engine/chart_series.h"

namespace chart::tools {

using engine::TChartAxis;
using engine::TChartSeries;
using engine::TCustomAxisPanel;
using engine::TCustomChart;

namespace {

// Pixels along the axis; 0 before the axis was laid out.
long long AxisLength(const TChartAxis& Axis) {
    return std::llabs(static_cast<long long>(Axis.EndPixel) - Axis.StartPixel);
}

// The axis paired with Axis (top and bottom, left and right), none for others.
TChartAxis* PairedAxis(TCustomAxisPanel& Chart, const TChartAxis& Axis) {
    if (&Axis == &Chart.BottomAxis()) return &Chart.TopAxis();
    if (&Axis == &Chart.TopAxis()) return &Chart.BottomAxis();
    if (&Axis == &Chart.LeftAxis()) return &Chart.RightAxis();
    if (&Axis == &Chart.RightAxis()) return &Chart.LeftAxis();
    return nullptr;
}

}  // namespace

bool ScrollAxisByUser(TChartAxis& Axis, double Offset, bool Pairs) {
    TCustomAxisPanel* chart = Axis.ParentChart();
    if (!chart) return false;
    auto* full = dynamic_cast<TCustomChart*>(chart);
    bool allowed = true;
    if (full && full->OnAllowScroll) {
        double lo = Axis.Minimum() + Offset, hi = Axis.Maximum() + Offset;
        full->OnAllowScroll(&Axis, lo, hi, allowed);
    }
    if (!allowed) return false;
    Axis.Scroll(Offset, false);
    if (Pairs)
        if (TChartAxis* other = PairedAxis(*chart, Axis))
            for (int i = 0; i < chart->SeriesCount(); ++i) {
                TChartSeries& s = *chart->GetSeries(i);
                const bool both = Axis.Horizontal() ? s.HorizAxis() == engine::aBothHorizAxis
                                                    : s.VertAxis() == engine::aBothVertAxis;
                if (both && s.AssociatedToAxis(Axis)) {
                    other->Scroll(Offset, false);
                    break;
                }
            }
    if (full && full->OnScroll) full->OnScroll(full);
    return true;
}

// ---- Dragging an axis

TAxisScrollTool::TAxisScrollTool(vcl::TComponent* AOwner) : TPlotCustomToolAxis(AOwner) {}

void TAxisScrollTool::SetParentChart(TCustomAxisPanel* Value) {
    if (Value != ParentChart()) dragged_ = nullptr;
    TPlotCustomToolAxis::SetParentChart(Value);
}

TChartAxis* TAxisScrollTool::AxisAt(int X, int Y) {
    TCustomAxisPanel* chart = ParentChart();
    if (!chart) return nullptr;
    if (TChartAxis* own = Axis()) return own->Visible() && own->Clicked(X, Y) ? own : nullptr;
    for (int i = 0; i < chart->Axes().Count(); ++i) {
        TChartAxis* a = chart->Axes().Items(i);
        if (a->Visible() && a->Clicked(X, Y)) return a;
    }
    return nullptr;
}

void TAxisScrollTool::ChartMouseEvent(engine::TChartMouseEvent AEvent, vcl::TMouseButton Button,
                                      vcl::TShiftState Shift, int X, int Y) {
    TPlotCustomToolAxis::ChartMouseEvent(AEvent, Button, Shift, X, Y);
    TCustomAxisPanel* chart = ParentChart();
    if (!Active() || !chart) return;
    // An axis freed since the press is no longer in the chart's list.
    if (dragged_ && chart->Axes().IndexOf(dragged_) < 0) dragged_ = nullptr;
    switch (AEvent) {
        case engine::cmeDown:
            dragged_ = AxisAt(X, Y);
            old_x_ = X;
            old_y_ = Y;
            break;
        case engine::cmeMove:
            if (dragged_) {
                TChartAxis& axis = *dragged_;
                double d = axis.Horizontal() ? static_cast<double>(old_x_) - X : static_cast<double>(old_y_) - Y;
                if (axis.Inverted()) d = -d;
                if (axis.Horizontal() == scroll_inverted_) d = -d;
                auto scrollBy = [&](TChartAxis& a) {
                    const long long length = AxisLength(a);
                    if (length > 0) a.Scroll((a.Maximum() - a.Minimum()) * d / static_cast<double>(length), false);
                };
                scrollBy(axis);
                for (int i = 0; i < chart->Axes().Count(); ++i) {
                    TChartAxis* other = chart->Axes().Items(i);
                    if (other == &axis || other->Horizontal() != axis.Horizontal() || other->IsDepthAxis) continue;
                    for (int k = 0; k < chart->SeriesCount(); ++k) {
                        TChartSeries& s = *chart->GetSeries(k);
                        if (s.AssociatedToAxis(axis) && s.AssociatedToAxis(*other)) {
                            scrollBy(*other);
                            break;
                        }
                    }
                }
                old_x_ = X;
                old_y_ = Y;
                chart->CancelMouseAction = true;
            } else if (AxisAt(X, Y)) {
                chart->SetCursor(vcl::TCursor::crHandPoint);
                chart->CancelMouseAction = true;
            }
            break;
        case engine::cmeUp:
            dragged_ = nullptr;
            break;
    }
}

void TAxisScrollTool::Assign(const engine::TCustomChartElement& Source) {
    if (auto* s = dynamic_cast<const TAxisScrollTool*>(&Source)) scroll_inverted_ = s->scroll_inverted_;
    TPlotCustomToolAxis::Assign(Source);
}

std::string TAxisScrollTool::Description() const { return PlotMsg_AxisScrollTool; }
std::string TAxisScrollTool::LongDescription() const { return PlotMsg_AxisScrollToolDesc; }

// ---- Arrows at the axis ends

TAxisArrowTool::TAxisArrowTool(vcl::TComponent* AOwner) : TPlotCustomToolAxis(AOwner) {}

void TAxisArrowTool::SetPosition(TAxisArrowToolPosition Value) {
    if (position_ == Value) return;
    position_ = Value;
    Repaint();
}

int TAxisArrowTool::ClickedArrow(int X, int Y) {
    TChartAxis* axis = Axis();
    if (!axis) return -1;
    const long long across = axis->Horizontal() ? Y : X;
    const long long along = axis->Horizontal() ? X : Y;
    if (std::llabs(across - axis->AxisPosition) >= 3) return -1;
    const long long s = axis->StartPixel, e = axis->EndPixel;
    if (position_ != aaEnd && s < along && along < s + length_) return 0;
    if (position_ != aaStart && e - length_ < along && along < e) return 1;
    return -1;
}

void TAxisArrowTool::ChartEvent(engine::TChartToolEvent AEvent) {
    TPlotCustomToolAxis::ChartEvent(AEvent);
    TCustomAxisPanel* chart = ParentChart();
    TChartAxis* axis = Axis();
    if (AEvent != engine::cteAfterDraw || !chart || !axis) return;
    TCanvas3D& canvas = *chart->Canvas();
    canvas.AssignBrushColors(Brush(), Brush().Color(), Brush().BackColor());
    canvas.AssignVisiblePen(Pen());
    const int z = chart->View3D() && axis->OtherSide() ? chart->Width3D : 0;
    const int a = axis->AxisPosition;
    auto at = [&](long long along) {
        const int p = static_cast<int>(std::clamp<long long>(along, INT32_MIN, INT32_MAX));
        return axis->Horizontal() ? TPoint{p, a} : TPoint{a, p};
    };
    auto arrow = [&](long long from, long long to) {
        canvas.Arrow(true, at(from), at(to), head_width_, head_width_, z, size_percent_);
    };
    if (position_ != aaEnd) arrow(static_cast<long long>(axis->StartPixel) + length_, axis->StartPixel);
    if (position_ != aaStart) arrow(static_cast<long long>(axis->EndPixel) - length_, axis->EndPixel);
}

void TAxisArrowTool::ChartMouseEvent(engine::TChartMouseEvent AEvent, vcl::TMouseButton Button,
                                     vcl::TShiftState Shift, int X, int Y) {
    TPlotCustomToolAxis::ChartMouseEvent(AEvent, Button, Shift, X, Y);
    TCustomAxisPanel* chart = ParentChart();
    TChartAxis* axis = Axis();
    if (!chart || !axis || !axis->Visible()) return;
    if (AEvent == engine::cmeDown) {
        if (scroll_percent_ == 0) return;
        const int hit = ClickedArrow(X, Y);
        if (hit == -1) return;
        double d = scroll_percent_ * (axis->Maximum() - axis->Minimum()) / 100.0;
        if (scroll_inverted_) d = -d;
        ScrollAxisByUser(*axis, hit == 0 ? d : -d, true);
        chart->CancelMouseAction = true;
        if (OnClick) OnClick(this, hit == 0);
    } else if (AEvent == engine::cmeMove && ClickedArrow(X, Y) != -1) {
        chart->SetCursor(vcl::TCursor::crHandPoint);
        chart->CancelMouseAction = true;
    }
}

void TAxisArrowTool::Assign(const engine::TCustomChartElement& Source) {
    if (auto* s = dynamic_cast<const TAxisArrowTool*>(&Source)) {
        head_width_ = s->head_width_;
        length_ = s->length_;
        position_ = s->position_;
        scroll_percent_ = s->scroll_percent_;
        scroll_inverted_ = s->scroll_inverted_;
        size_percent_ = s->size_percent_;
    }
    TPlotCustomToolAxis::Assign(Source);
}

std::string TAxisArrowTool::Description() const { return PlotMsg_AxisArrowsTool; }
std::string TAxisArrowTool::LongDescription() const { return PlotMsg_AxisArrowsToolDesc; }

// ---- Bands between grid lines

TGridBandBrush::TGridBandBrush(TNotifyEvent OnChange)
    : TChartBrush(OnChange), gradient_(std::make_unique<chart::TPlotGradient>(OnChange)) {}

TGridBandBrush::~TGridBandBrush() = default;

void TGridBandBrush::SetTransparency(int Value) {
    Value = std::clamp(Value, 0, 100);
    if (transparency_ == Value) return;
    transparency_ = Value;
    Changed();
}

void TGridBandBrush::Assign(const vcl::TPersistent& Source) {
    if (auto* s = dynamic_cast<const TGridBandBrush*>(&Source)) {
        gradient_->Assign(*s->gradient_);
        transparency_ = s->transparency_;
    }
    TChartBrush::Assign(Source);
}

TGridBandTool::TGridBandTool(vcl::TComponent* AOwner)
    : TPlotCustomToolAxis(AOwner),
      band1_(std::make_unique<TGridBandBrush>([this](vcl::TPersistent*) { Repaint(); })),
      band2_(std::make_unique<TGridBandBrush>([this](vcl::TPersistent*) { Repaint(); })) {
    band2_->SetColor(vcl::clWhite);
}

TGridBandTool::~TGridBandTool() { Detach(); }

void TGridBandTool::Detach() {
    // An axis that went first took its hook with it (and the tool forgot it).
    if (hooked_ && hooked_ == Axis()) hooked_->OnDrawGrids = nullptr;
    hooked_ = nullptr;
}

void TGridBandTool::SetAxis(TChartAxis* Value) {
    Detach();
    TPlotCustomToolAxis::SetAxis(Value);
    if (Value) {
        hooked_ = Value;
        Value->OnDrawGrids = [this](TChartAxis* Sender) { DrawGrids(Sender); };
    }
}

void TGridBandTool::DrawBand(int A, int B, TGridBandBrush& Brush, bool Horizontal) {
    if (Brush.Style() == vcl::TBrushStyle::bsClear) return;
    TCustomAxisPanel& chart = *ParentChart();
    TCanvas3D& canvas = *chart.Canvas();
    if (A > B) std::swap(A, B);
    TRect r = Horizontal ? TRect{A, extent_start_, B, extent_end_}
                         : TRect{extent_start_, A, extent_end_, static_cast<int>(std::min<long long>(B + 1LL, INT32_MAX))};
    std::unique_ptr<TPlotBlend> blend;
    if (Brush.Transparency() > 0)
        blend = canvas.BeginBlending(chart.View3D() ? canvas.CalcRect3D(r, chart.Width3D) : r, 0);
    if (!Brush.Gradient().Visible()) {
        TColor back = Brush.BackColor();
        if (back == vcl::clNone) {
            back = chart.Color();
            if (auto* full = dynamic_cast<TCustomChart*>(&chart)) back = full->BackWall().Color();
        }
        canvas.AssignBrushColors(Brush, Brush.Color(), back);
        canvas.Pen->SetStyle(vcl::TPenStyle::psClear);
        if (chart.View3D())
            canvas.RectangleWithZ(r, chart.Width3D);
        else
            canvas.Rectangle(r.Left, r.Top, static_cast<int>(std::min<long long>(r.Right + 1LL, INT32_MAX)), r.Bottom);
    } else {
        TRect g = r;
        if (chart.View3D())
            g = canvas.CalcRect3D(r, chart.Width3D);
        else
            g.Bottom -= 1;
        Brush.Gradient().Draw(canvas, g);
    }
    if (blend) {
        blend->Transparency = Brush.Transparency();
        canvas.EndBlending(std::move(blend));
    }
}

void TGridBandTool::DrawGrids(TChartAxis* Sender) {
    TCustomAxisPanel* chart = ParentChart();
    if (!Active() || !chart || !Sender || Sender != Axis()) return;
    const std::vector<int>& ticks = Sender->TickPositions;
    if (ticks.size() < 2) return;
    if (band1_->Style() == vcl::TBrushStyle::bsClear && band2_->Style() == vcl::TBrushStyle::bsClear) return;
    TCanvas3D& canvas = *chart->Canvas();
    canvas.Pen->SetStyle(vcl::TPenStyle::psClear);
    const bool horizontal = Sender->Horizontal();
    if (BandStart == 0 && BandEnd == 0) {
        const TRect& cr = chart->ChartRect;
        extent_start_ = horizontal ? static_cast<int>(std::min<long long>(cr.Top + 1LL, INT32_MAX))
                                   : static_cast<int>(std::min<long long>(cr.Left + 1LL, INT32_MAX));
        extent_end_ = horizontal ? cr.Bottom : cr.Right;
    } else {
        extent_start_ = BandStart;
        extent_end_ = BandEnd;
    }
    TGridBandBrush* brush = band1_.get();
    auto flip = [&] { brush = brush == band1_.get() ? band2_.get() : band1_.get(); };
    const int first = ticks.front(), last = ticks.back();
    // The leading band, from the axis end the ticks start from.
    if (horizontal) {
        if (Sender->EndPixel > first) DrawBand(static_cast<int>(Sender->EndPixel - 1LL), first, *brush, true);
    } else if (Sender->StartPixel < first) {
        DrawBand(static_cast<int>(Sender->StartPixel + 1LL), first, *brush, false);
    }
    flip();
    // Between each pair of ticks (also with only two: that band and the
    // trailing one are drawn as well, so two ticks give three bands).
    for (std::size_t i = 1; i < ticks.size(); ++i) {
        DrawBand(ticks[i - 1], ticks[i], *brush, horizontal);
        flip();
    }
    if (horizontal) {
        if (last > Sender->StartPixel) DrawBand(last, Sender->StartPixel, *brush, true);
    } else if (last < Sender->EndPixel) {
        DrawBand(last, Sender->EndPixel, *brush, false);
    }
}

void TGridBandTool::Assign(const engine::TCustomChartElement& Source) {
    if (auto* s = dynamic_cast<const TGridBandTool*>(&Source)) {
        band1_->Assign(*s->band1_);
        band2_->Assign(*s->band2_);
    }
    TPlotCustomToolAxis::Assign(Source);
}

std::string TGridBandTool::Description() const { return PlotMsg_GridBandTool; }
std::string TGridBandTool::LongDescription() const { return PlotMsg_GridBandToolDesc; }

}  // namespace chart::tools
