// One paint of a chart, in its fixed order: background, the Z orders, the
// walls' room, the axes laid out (ranges, room, pixel ends, the series'
// margins), the projection, walls, axes behind, series, axes in front,
// titles and legend, the zoom rectangle; the tools told of every stage.
#include <algorithm>
#include <cmath>

#include "chart/drawing/view3d_options.h"
#include "chart/engine/axis_panel.h"
#include "chart/engine/chart_axis.h"
#include "chart/engine/chart_page.h"
#include "chart/engine/chart_series.h"

namespace chart::engine {

namespace {

// Clears AutoRepaint for the time of a paint (property changes made by
// event handlers then schedule no new paint) and puts it back however the
// paint ends.
class TPaintGuard {
  public:
    explicit TPaintGuard(TCustomPlotPanel& Panel) : panel_(Panel), saved_(Panel.AutoRepaint) {
        panel_.AutoRepaint = false;
    }
    ~TPaintGuard() { panel_.AutoRepaint = saved_; }
    TPaintGuard(const TPaintGuard&) = delete;
    TPaintGuard& operator=(const TPaintGuard&) = delete;

  private:
    TCustomPlotPanel& panel_;
    bool saved_;
};

}  // namespace

void TCustomAxisPanel::InternalDraw(const TRect& UserRect) {
    TPaintGuard guard(*this);
    TCanvas3D& canvas = *Canvas();
    const chart::TView3DOptions& view = View3DOptions();
    ReversedView = view.Orthogonal() ? view.OrthoAngle() > 90 : view.Rotation() < 180;
    // A page left beyond the end (points deleted since) is shown as, and
    // from now on is, the last page.
    pages_->KeepCurrentInRange();
    const bool full3D = canvas.GetSupportsFull3D();
    if (!full3D) DrawPanelBackground(UserRect);
    BroadcastToolEvent(cteAfterBackground);
    DoBeforeDrawChart();
    for (int i = 0; i < series_list_.Count(); ++i)
        if (series_list_.Items(i)->Active()) series_list_.Items(i)->DoBeforeDrawChart();
    if (!full3D) DrawTitlesAndLegend(true);
    CalcZOrders();
    CalcWallsRect();
    const TRect wallsRect = ChartRect;
    AxesPass();
    for (int i = 0; i < series_list_.Count(); ++i)
        if (series_list_.Items(i)->Active()) series_list_.Items(i)->CalcDepthPositions();
    SeriesMarginsPass();
    canvas.Projection(Width3D, ChartRect);
    if (full3D) {
        const TRect laidOut = ChartRect;
        ChartRect = wallsRect;
        DrawPanelBackground(UserRect);
        DrawTitlesAndLegend(true);
        ChartRect = laidOut;
    }
    DrawWalls();
    if (axis_behind_) {
        BroadcastToolEvent(cteBeforeDrawAxes);
        DrawAxes();
    }
    BroadcastToolEvent(cteBeforeDrawSeries);
    DoBeforeDrawSeries();
    DrawAllSeries();
    BroadcastToolEvent(cteAfterDrawSeries);
    if (!axis_behind_) {
        BroadcastToolEvent(cteBeforeDrawAxes);
        DrawAxes();
    }
    DrawTitlesAndLegend(false);
    if (Zoom().Active && !DrawingPicture()) DrawZoomRectangle();
    BroadcastToolEvent(cteAfterDraw);
    canvas.ResetState();
    DoAfterDraw();
}

void TCustomAxisPanel::DoAfterDraw() {
    if (OnAfterDraw) OnAfterDraw(this);
}
void TCustomAxisPanel::DoBeforeDrawAxes() {
    if (OnBeforeDrawAxes) OnBeforeDrawAxes(this);
}
void TCustomAxisPanel::DoBeforeDrawChart() {
    if (OnBeforeDrawChart) OnBeforeDrawChart(this);
}
void TCustomAxisPanel::DoBeforeDrawSeries() {
    if (OnBeforeDrawSeries) OnBeforeDrawSeries(this);
}

// ---- 3D sizes and Z orders

void TCustomAxisPanel::CalcSize3D() {
    if (!View3D()) {
        SeriesWidth3D = SeriesHeight3D = Width3D = Height3D = 0;
        return;
    }
    const chart::TView3DOptions& view = View3DOptions();
    double factor = chart3d_percent_ * 0.001;
    if (!view.Orthogonal()) factor *= 2;
    long long depth = RoundTo64(factor * ChartWidth);
    double ratio = 1.0;
    if (view.Orthogonal()) {
        const int angle = view.OrthoAngle() > 90 ? 180 - view.OrthoAngle() : view.OrthoAngle();
        ratio = std::tan(angle * 3.14159265358979323846 / 180.0);
    }
    if (ratio > 1) depth = RoundTo64(depth / ratio);
    const long long height = RoundTo64(depth * ratio);
    const long long layers = ApplyZOrder ? std::max(1, MaxZOrder + 1) : 1;
    SeriesWidth3D = ClampPixel(depth);
    SeriesHeight3D = ClampPixel(height);
    Height3D = ClampPixel(height * layers);
    Width3D = ClampPixel(depth * layers);
}

void TCustomAxisPanel::CalcWallsRect() { CalcSize3D(); }

void TCustomAxisPanel::CalcZOrders() {
    MaxZOrder = 0;
    const bool rows = ApplyZOrder && View3D();
    if (rows) {
        MaxZOrder = -1;
        for (int i = 0; i < series_list_.Count(); ++i)
            if (series_list_.Items(i)->Active()) series_list_.Items(i)->CalcZOrder();
    }
    if (depth_axis_->Inverted()) return;
    for (int i = 0; i < series_list_.Count(); ++i) {
        TChartSeries& s = *series_list_.Items(i);
        if (s.Active()) s.InternalDepthIndex = rows ? MaxZOrder - s.DepthRow() : 0;
    }
}

// ---- Axes

void TCustomAxisPanel::AxesPass() {
    // Pixel ends first, so that rounding a range to its label step on the
    // very first paint knows the axis length too.
    for (int i = 0; i < axes_->Count(); ++i) axes_->Items(i)->CalcPositions();
    for (int i = 0; i < axes_->Count(); ++i) {
        TChartAxis& axis = *axes_->Items(i);
        axis.ShownInLayout = IsAxisVisible(axis);
        axis.AdjustMaxMin();
    }
    for (int i = 0; i < axes_->Count(); ++i) axes_->Items(i)->CalcPositions();
    TRect r = ChartRect;
    for (int i = 0; i < axes_->Count(); ++i) {
        TChartAxis& axis = *axes_->Items(i);
        if (axis.ShownInLayout) {
            TRect reduced = r;
            axis.CalcRect(reduced, i < 5);
            const TRect meet{std::max(r.Left, reduced.Left), std::max(r.Top, reduced.Top),
                             std::min(r.Right, reduced.Right), std::min(r.Bottom, reduced.Bottom)};
            if (meet.Left < meet.Right && meet.Top < meet.Bottom) r = meet;
        } else if (axes_->HiddenAxisSize) {
            const long long room = axes_->HiddenAxisSize(axis);
            if (axis.Horizontal()) {
                if (axis.OtherSide())
                    r.Top = Clamp32(r.Top + room);
                else
                    r.Bottom = Clamp32(r.Bottom - room);
            } else {
                if (axis.OtherSide())
                    r.Right = Clamp32(r.Right - room);
                else
                    r.Left = Clamp32(r.Left + room);
            }
        }
    }
    ChartRect = r;
    RecalcWidthHeight();
    for (int i = 0; i < axes_->Count(); ++i) axes_->Items(i)->CalcPositions();
}

void TCustomAxisPanel::SeriesMarginsPass() {
    for (int i = 0; i < axes_->Count(); ++i) {
        TChartAxis& axis = *axes_->Items(i);
        long long left = 0, top = 0, right = 0, bottom = 0;
        for (int k = 0; k < series_list_.Count(); ++k) {
            TChartSeries& s = *series_list_.Items(k);
            if (!s.Active() || !s.AssociatedToAxis(axis)) continue;
            int a = 0, b = 0;
            if (axis.Horizontal()) {
                s.CalcHorizMargins(a, b);
                if (axis.AutomaticMinimum()) left = std::max<long long>(left, a);
                if (axis.AutomaticMaximum()) right = std::max<long long>(right, b);
            } else {
                s.CalcVerticalMargins(a, b);
                if (axis.AutomaticMaximum()) top = std::max<long long>(top, a);
                if (axis.AutomaticMinimum()) bottom = std::max<long long>(bottom, b);
            }
        }
        if (axis.MinimumOffset() != 0 || axis.MaximumOffset() != 0) {
            long long lo = axis.MinimumOffset(), hi = axis.MaximumOffset();
            if (axis.Inverted()) std::swap(lo, hi);
            if (axis.Horizontal()) {
                left += lo;
                right += hi;
            } else {
                bottom += lo;
                top += hi;
            }
        }
        axis.ApplyPixelMargins({Clamp32(left), Clamp32(top), Clamp32(right), Clamp32(bottom)});
    }
}

void TCustomAxisPanel::DrawAxes() {
    if (!axis_visible_) return;
    TCanvas3D& canvas = *Canvas();
    canvas.BeginGroup("axes");
    try {
        DoBeforeDrawAxes();
        for (int i = 0; i < axes_->Count(); ++i) {
            TChartAxis& axis = *axes_->Items(i);
            if (!axis.ShownInLayout) continue;
            if (&axis == bottom_axis_.get() && IsChartRectVisible(0)) continue;
            axis.Draw(true);
        }
    } catch (...) {
        canvas.EndGroup();
        throw;
    }
    canvas.EndGroup();
}

// ---- Series

void TCustomAxisPanel::ClipSeriesRect() {
    if (!CanClip()) return;
    const TRect r{ChartRect.Left, Clamp32(ChartRect.Top - 1LL), ChartRect.Right, Clamp32(ChartRect.Bottom + 1LL)};
    Canvas()->ClipCube(r, 0, Width3D);
    clipped_ = true;
}

void TCustomAxisPanel::UnClipSeriesRect() {
    if (!clipped_) return;
    clipped_ = false;
    Canvas()->UnClipRectangle();
}

void TCustomAxisPanel::DrawSeriesMarks(TChartSeries& Series) {
    if (Series.Count() == 0 || !Series.Marks().Visible()) return;
    const bool clip = Series.Marks().Clip();
    if (clip) ClipSeriesRect();
    try {
        Series.DrawMarks();
    } catch (...) {
        if (clip) UnClipSeriesRect();
        throw;
    }
    if (clip) UnClipSeriesRect();
}

void TCustomAxisPanel::DrawSeriesAlone(TChartSeries& Series) {
    Series.CalcFirstLastVisibleIndex();
    if (Series.FirstVisibleIndex == -1) return;
    Series.DoBeforeDrawValues();
    if (Series.UseAxis() && clip_points_) ClipSeriesRect();
    try {
        Series.DrawAllValues();
    } catch (...) {
        UnClipSeriesRect();
        throw;
    }
    UnClipSeriesRect();
    DrawSeriesMarks(Series);
    Series.DoAfterDrawValues();
}

void TCustomAxisPanel::DrawSeriesLayer(int Index) {
    TChartSeries& head = *series_list_.Items(Index);
    const int row = head.DepthRow();
    auto inLayer = [&](int k) {
        TChartSeries& s = *series_list_.Items(k);
        return s.Active() && s.DepthRow() == row;
    };
    int first = -1, last = -1;
    bool any = false;
    for (int k = Index; k < series_list_.Count(); ++k) {
        if (!inLayer(k)) continue;
        TChartSeries& s = *series_list_.Items(k);
        s.CalcFirstLastVisibleIndex();
        if (s.FirstVisibleIndex == -1) continue;
        first = any ? std::max(first, s.FirstVisibleIndex) : s.FirstVisibleIndex;
        last = any ? std::max(last, s.LastVisibleIndex) : s.LastVisibleIndex;
        any = true;
        s.DoBeforeDrawValues();
    }
    if (clip_points_) ClipSeriesRect();
    try {
        if (first != -1) {
            const bool forward = head.DrawValuesForward();
            for (int i = forward ? first : last; forward ? i <= last : i >= first; i += forward ? 1 : -1) {
                const bool listOrder = head.Count() <= i || head.DrawSeriesForward(i);
                const int n = series_list_.Count();
                for (int j = 0; j < n - Index; ++j) {
                    const int k = listOrder ? Index + j : n - 1 - j;
                    TChartSeries& s = *series_list_.Items(k);
                    if (inLayer(k) && s.Count() > i) s.DrawValue(i);
                }
            }
        }
    } catch (...) {
        UnClipSeriesRect();
        throw;
    }
    UnClipSeriesRect();
    for (int k = Index; k < series_list_.Count(); ++k) {
        if (!inLayer(k)) continue;
        TChartSeries& s = *series_list_.Items(k);
        if (s.FirstVisibleIndex == -1) continue;
        DrawSeriesMarks(s);
        s.DoAfterDrawValues();
    }
}

void TCustomAxisPanel::DrawAllSeries() {
    const bool backwards = depth_axis_->Inverted() != IsChartRectVisible(Width3D);
    const int n = series_list_.Count();
    for (int j = 0; j < n && j < series_list_.Count(); ++j) {
        const int i = backwards ? n - 1 - j : j;
        if (i >= series_list_.Count()) continue;
        TChartSeries& s = *series_list_.Items(i);
        if (!s.Active()) continue;
        if (!View3D() || !s.MoreSameZOrder())
            DrawSeriesAlone(s);
        else if (s.FirstInZOrder())
            DrawSeriesLayer(i);
    }
}

// ---- Hooks with a behaviour here

bool TCustomAxisPanel::IsChartRectVisible(int Z) {
    TCanvas3D& canvas = *Canvas();
    if (canvas.GetSupportsFull3D()) return false;
    const TRect& r = ChartRect;
    const TPoint p0 = canvas.Calculate3DPosition(r.Left, r.Top, Z);
    const TPoint p1 = canvas.Calculate3DPosition(r.Right, r.Top, Z);
    const TPoint p2 = canvas.Calculate3DPosition(r.Right, r.Bottom, Z);
    const double c = (static_cast<double>(p0.X) - p1.X) * (static_cast<double>(p2.Y) - p1.Y) -
                     (static_cast<double>(p2.X) - p1.X) * (static_cast<double>(p0.Y) - p1.Y);
    return c >= 0;
}

void TCustomAxisPanel::DrawLegendSymbolRect(const TRect& Rect) {
    TCanvas3D& canvas = *Canvas();
    canvas.RectangleRect(Rect);
    if (canvas.Brush->Color() != LegendColor) return;
    // The symbol would vanish in the legend: its outline again, visible.
    const TColor pen = canvas.Pen->Color();
    if (canvas.Brush->Color() == vcl::clBlack) canvas.Pen->SetColor(vcl::clWhite);
    canvas.Brush->SetStyle(vcl::TBrushStyle::bsClear);
    canvas.RectangleRect(Rect);
    canvas.Pen->SetColor(pen);
}

}  // namespace chart::engine
