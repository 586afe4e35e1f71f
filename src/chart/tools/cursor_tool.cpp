#include "chart/tools/cursor_tool.h"

#include <algorithm>
#include <cmath>

#include "chart/drawing/plot_pro_co.h"
#include "chart/engine/axis_panel.h"
#include "chart/engine/chart_axis.h"
#include "chart/engine/chart_series.h"
#include "chart/tools/overlay.h"

namespace chart::tools {

using chart::engine::TChartAxis;
using chart::engine::TChartListOrder;
using chart::engine::TCustomAxisPanel;

namespace {

// The usable visible range of a series: false when there is none.
bool VisibleRange(const TChartSeries& Series, int& First, int& Last) {
    const int count = Series.Count();
    First = std::max(Series.FirstVisibleIndex, 0);
    Last = Series.LastVisibleIndex;
    if (Last < 0 || Last >= count) Last = count - 1;
    return count >= 1 && count > First && count > Last && Last >= First;
}

// The lowest index of First..Last whose X is nearest Value, in a list kept
// in ascending order: two binary searches instead of a scan.
int NearestSortedX(const chart::engine::TChartValueList& X, int First, int Last, double Value,
                   double& Distance) {
    auto value = [&](int i) { return X.Value(i); };
    // First index at or above Value.
    int lo = First, hi = Last + 1;
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        if (value(mid) < Value) lo = mid + 1;
        else hi = mid;
    }
    int best = -1;
    Distance = -1;
    if (lo > First) {
        // The lowest index holding the value just below.
        const double below = value(lo - 1);
        int a = First, b = lo - 1;
        while (a < b) {
            const int mid = a + (b - a) / 2;
            if (value(mid) < below) a = mid + 1;
            else b = mid;
        }
        best = a;
        Distance = std::fabs(Value - below);
    }
    if (lo <= Last) {
        const double d = std::fabs(Value - value(lo));
        if (best == -1 || d < Distance) {
            best = lo;
            Distance = d;
        }
    }
    return best;
}

}  // namespace

TCursorTool::TCursorTool(vcl::TComponent* AOwner) : TPlotCustomToolSeries(AOwner) {}

void TCursorTool::SetScopeStyle(TScopeCursorStyle Value) {
    if (scope_style_ == Value) return;
    scope_style_ = Value;
    Repaint();
}

void TCursorTool::SetStyle(TCursorToolStyle Value) {
    if (style_ == Value) return;
    style_ = Value;
    SnapToNearest();
    Repaint();
}

int TCursorTool::NearestPoint(TCursorToolStyle AStyle, double& Distance) const {
    Distance = -1;
    TChartSeries* series = Series();
    if (!series) return -1;
    int first = 0, last = -1;
    if (!VisibleRange(*series, first, last)) return -1;
    const auto& xs = series->XValues();
    const auto& ys = series->YValues();
    const bool alongX = SnapStyle == ssVertical || (SnapStyle == ssDefault && AStyle == cssVertical);
    const bool alongY = SnapStyle == ssHorizontal || (SnapStyle == ssDefault && AStyle == cssHorizontal);
    if (alongX && xs.Order == TChartListOrder::loAscending && !std::isnan(XValue))
        return NearestSortedX(xs, first, last, XValue, Distance);
    int result = -1;
    for (int i = first; i <= last; ++i) {
        double d;
        if (alongX) d = std::fabs(XValue - xs.Value(i));
        else if (alongY) d = std::fabs(YValue - ys.Value(i));
        else d = std::sqrt((XValue - xs.Value(i)) * (XValue - xs.Value(i)) +
                           (YValue - ys.Value(i)) * (YValue - ys.Value(i)));
        if (Distance == -1 || d < Distance) {
            result = i;
            Distance = d;
        }
    }
    return result;
}

int TCursorTool::SnapToNearest() {
    if (!Series() || !Snap) return -1;
    double distance = 0;
    const int i = NearestPoint(style_, distance);
    if (i == -1) return -1;
    if (style_ != cssVertical) YValue = Series()->YValues().Value(i);
    if (style_ != cssHorizontal) XValue = Series()->XValues().Value(i);
    return i;
}

void TCursorTool::Changed(int ValueIndex) {
    if (OnChange) OnChange(this, ipoint_.X, ipoint_.Y, XValue, YValue, Series(), ValueIndex);
}

TRect TCursorTool::CursorRect() {
    TRect r;
    if (FullChart && Chart()) {
        r = Chart()->ChartRect;
    } else {
        TChartAxis* h = GetHorizAxis();
        TChartAxis* v = GetVertAxis();
        if (!h || !v) return {};
        r = {std::min(h->StartPixel, h->EndPixel), std::min(v->StartPixel, v->EndPixel),
             std::max(h->StartPixel, h->EndPixel), std::max(v->StartPixel, v->EndPixel)};
    }
    if (OnCalcRect) OnCalcRect(this, r);
    return r;
}

TRect TCursorTool::DrawRect() {
    TRect r = CursorRect();
    if (horiz_size_ != 0) {
        r.Left = ipoint_.X - horiz_size_;
        r.Right = ipoint_.X + horiz_size_;
    }
    if (vert_size_ != 0) {
        r.Top = ipoint_.Y - vert_size_;
        r.Bottom = ipoint_.Y + vert_size_;
    }
    return r;
}

int TCursorTool::DrawDepth() const {
    return use_series_z_ && Series() && Chart() && Chart()->View3D() ? Series()->StartZ : 0;
}

void TCursorTool::ToSeriesPlane(int& X, int& Y) {
    if (use_series_z_ && Series() && Chart() && Chart()->View3D())
        Chart()->Canvas()->Calculate2DPosition(X, Y, Series()->StartZ);
}

void TCursorTool::SetValuesFromPixel(int X, int Y) {
    ToSeriesPlane(X, Y);
    TChartAxis* h = GetHorizAxis();
    TChartAxis* v = GetVertAxis();
    if (dragging_ != 2 && v) YValue = v->CalcPosPoint(Y);
    if (dragging_ != 1 && h) XValue = h->CalcPosPoint(X);
}

void TCursorTool::CalcPixelPosition() {
    TChartAxis* h = GetHorizAxis();
    TChartAxis* v = GetVertAxis();
    if (!h || !v) return;
    ipoint_ = {h->CalcPosValue(XValue), v->CalcPosValue(YValue)};
}

void TCursorTool::PlaceFirstTime() {
    TChartAxis* h = GetHorizAxis();
    TChartAxis* v = GetVertAxis();
    if (!h || !v) return;
    const int x = (h->StartPixel + h->EndPixel) / 2;
    const int y = (v->StartPixel + v->EndPixel) / 2;
    ipoint_ = {x, y};
    const int saved = dragging_;
    dragging_ = 0;
    SetValuesFromPixel(x, y);
    dragging_ = saved;
    const int i = SnapToNearest();
    CalcPixelPosition();
    Changed(i);
}

void TCursorTool::DrawCursor() {
    TCustomAxisPanel* chart = Chart();
    if (!chart || ipoint_.X == -1) return;
    TCanvas3D& canvas = *chart->Canvas();
    canvas.AssignVisiblePenColor(Pen(), XorPenColor(*chart, Pen().Color()));
    canvas.Pen->SetMode(vcl::TPenMode::pmXor);
    canvas.Brush->SetStyle(vcl::TBrushStyle::bsClear);
    canvas.SetBackMode(gdi::TRANSPARENT);
    const int z = DrawDepth();
    const bool at_depth = use_series_z_ && chart->View3D();
    auto line = [&](int x0, int y0, int x1, int y1) {
        if (at_depth) canvas.LineWithZ(x0, y0, x1, y1, z);
        else canvas.Line(x0, y0, x1, y1);
    };
    // Held to the plot: a mark on a point near its edge, or on a value the
    // axes do not show, would lie over the axes' labels. (At a depth the
    // plot is a projected box, which the front rectangle does not hold.)
    const bool clipped = !at_depth && chart->CanClip();
    if (clipped) {
        const TRect plot = CursorRect();
        canvas.ClipRectangle({plot.Left, plot.Top, chart::engine::Clamp32(plot.Right + 1LL),
                              chart::engine::Clamp32(plot.Bottom + 1LL)});
    }
    const TRect r = DrawRect();
    const int x = ipoint_.X, y = ipoint_.Y;
    const bool horizontal = style_ == cssHorizontal || style_ == cssBoth || style_ == cssScope;
    const bool vertical = style_ == cssVertical || style_ == cssBoth || style_ == cssScope;
    if (horizontal) line(r.Left, y, r.Right, y);
    if (vertical) line(x, r.Top, x, r.Bottom);
    if (style_ == cssScope || style_ == cssScopeOnly) {
        const int s = scope_size_, hs = horiz_size_, vs = vert_size_;
        if (scope_style_ == scsCamera) {
            const TRect box{x - hs - s, y - vs - s, x + hs + s, y + vs + s};
            if (at_depth) canvas.RectangleWithZ(box, z);
            else canvas.RectangleRect(box);
            line(x - s, y, x + s, y);
            line(x, y - s, x, y + s);
        } else {
            line(x - hs - s, y, x - s, y);
            line(x + s, y, x + hs + s, y);
            line(x, y - vs - s, x, y - s);
            line(x, y + s, x, y + vs + s);
            const TRect box{x - s, y - s, x + s, y + s};
            if (scope_style_ == scsRectangle) {
                if (at_depth) canvas.RectangleWithZ(box, z);
                else canvas.RectangleRect(box);
            } else if (scope_style_ == scsCircle) {
                if (at_depth) canvas.EllipseWithZRect(box, z);
                else canvas.EllipseRect(box);
            } else if (scope_style_ == scsDiamond) {
                const TPoint diamond[4] = {{x, y - s}, {x + s, y}, {x, y + s}, {x - s, y}};
                if (at_depth) canvas.PolygonWithZ(diamond, z);
                else canvas.Polygon(diamond);
            }
        }
    }
    canvas.Pen->SetMode(vcl::TPenMode::pmCopy);
    if (clipped) canvas.UnClipRectangle();
}

TRect TCursorTool::DirtyArea() {
    TRect r = DrawRect();
    const int s = scope_size_;
    // The scope mark reaches its size beyond the sizes; a pen's width more.
    const int grow = s + std::max(Pen().Width(), 1) + 2;
    r = UnionRect(r, {ipoint_.X - horiz_size_ - grow, ipoint_.Y - vert_size_ - grow,
                      ipoint_.X + horiz_size_ + grow, ipoint_.Y + vert_size_ + grow});
    if (use_series_z_ && Chart() && Chart()->View3D() && Chart()->Width() > 0) return Chart()->ChartBounds;
    return {r.Left - 2, r.Top - 2, r.Right + 2, r.Bottom + 2};
}

int TCursorTool::Clicked(int X, int Y) {
    if (ipoint_.X == -1) return 0;
    const TRect r = DrawRect();
    if (X < r.Left || X > r.Right || Y < r.Top || Y > r.Bottom) return 0;
    ToSeriesPlane(X, Y);
    const int t = ClickTolerance;
    const bool nearY = std::abs(Y - ipoint_.Y) <= t;
    const bool nearX = std::abs(X - ipoint_.X) <= t;
    if ((style_ == cssBoth || style_ == cssScope || style_ == cssScopeOnly) && nearY && nearX) return 3;
    if (style_ != cssVertical && nearY) return 1;
    if (style_ == cssHorizontal) return 0;
    return nearX ? 2 : 0;
}

void TCursorTool::ChartEvent(chart::engine::TChartToolEvent AEvent) {
    // A picture of the chart holds the chart alone: the cursor, drawn to be
    // erased by drawing it again, stays on screen (and keeps its place
    // there, whatever size the picture is).
    if (AEvent != chart::engine::cteAfterDraw || !Chart() || Chart()->DrawingPicture()) return;
    if (ipoint_.X == -1 && ipoint_.Y == -1) PlaceFirstTime();
    else CalcPixelPosition();
    DrawCursor();
}

void TCursorTool::ChartMouseEvent(chart::engine::TChartMouseEvent AEvent, vcl::TMouseButton,
                                  vcl::TShiftState, int X, int Y) {
    TCustomAxisPanel* chart = Chart();
    if (!chart) return;
    switch (AEvent) {
        case chart::engine::cmeDown:
            if (!FollowMouse) {
                dragging_ = Clicked(X, Y);
                if (dragging_ != 0) chart->CancelMouseAction = true;
            }
            break;
        case chart::engine::cmeMove: {
            const TRect r = CursorRect();
            const bool inside = X >= r.Left && X <= r.Right && Y >= r.Top && Y <= r.Bottom;
            if ((dragging_ != 0 || FollowMouse) && inside && ipoint_.X != -1) {
                // Erase, move, draw, between paints into the shown image;
                // when there is none, the coming paint draws it anyway.
                const TPoint old = ipoint_;
                const TRect before = DirtyArea();
                SetValuesFromPixel(X, Y);
                const int i = SnapToNearest();
                CalcPixelPosition();
                const TPoint now = ipoint_;
                chart->DrawOnCachedImage(UnionRect(before, DirtyArea()), [&] {
                    ipoint_ = old;
                    DrawCursor();
                    ipoint_ = now;
                    DrawCursor();
                });
                Changed(i);
                if (OnSnapChange && i != last_snap_)
                    OnSnapChange(this, ipoint_.X, ipoint_.Y, XValue, YValue, Series(), i);
                last_snap_ = i;
            } else {
                const int part = Clicked(X, Y);
                if (part != 0) {
                    chart->SetCursor(part == 1 ? vcl::TCursor::crVSplit
                                     : part == 2 ? vcl::TCursor::crHSplit
                                                 : vcl::TCursor::crSizeAll);
                    cursor_shown_ = true;
                } else if (cursor_shown_) {
                    chart->SetCursor(chart->SavedCursor);
                    cursor_shown_ = false;
                }
                chart->CancelMouseAction = part != 0;
            }
            break;
        }
        case chart::engine::cmeUp:
            dragging_ = 0;
            break;
    }
}

void TCursorTool::SetParentChart(chart::engine::TCustomAxisPanel* Value) {
    TPlotCustomToolSeries::SetParentChart(Value);
    Repaint();
}

void TCursorTool::SetSeries(TChartSeries* Value) {
    TPlotCustomToolSeries::SetSeries(Value);
    last_snap_ = -1;
    if (Value) {
        SnapToNearest();
        Repaint();
    }
}

void TCursorTool::Assign(const chart::engine::TCustomChartElement& Source) {
    if (const auto* other = dynamic_cast<const TCursorTool*>(&Source)) {
        FullChart = other->FullChart;
        XValue = other->XValue;
        YValue = other->YValue;
        ClickTolerance = other->ClickTolerance;
        FollowMouse = other->FollowMouse;
        horiz_size_ = other->horiz_size_;
        scope_size_ = other->scope_size_;
        scope_style_ = other->scope_style_;
        Snap = other->Snap;
        SnapStyle = other->SnapStyle;
        style_ = other->style_;
        use_series_z_ = other->use_series_z_;
        vert_size_ = other->vert_size_;
    }
    TPlotCustomToolSeries::Assign(Source);
}

std::string TCursorTool::Description() const { return chart::PlotMsg_CursorTool; }
std::string TCursorTool::LongDescription() const { return chart::PlotMsg_CursorToolDesc; }

}  // namespace chart::tools
