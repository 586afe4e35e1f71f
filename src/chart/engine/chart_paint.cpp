// The chart's own steps of a paint: the walls behind the series, the titles
// and legend (before the series, taking their room, or placed by hand after
// them), the walls in front of the series with the axes they cover, and
// the legend's questions to the chart.
#include <string>

#include "chart/engine/chart.h"
#include "chart/engine/chart_axis.h"
#include "chart/engine/chart_series.h"

namespace chart::engine {

namespace {

// Walls frame the axes' box: a chart whose active series all go without
// axes has none.
bool WallsShown(TCustomChart& Chart) {
    if (Chart.CountActiveSeries() == 0) return true;
    for (int i = 0; i < Chart.SeriesCount(); ++i) {
        TChartSeries& s = *Chart.GetSeries(i);
        if (s.Active() && s.UseAxis()) return true;
    }
    return false;
}

// Draws the axis again over a wall, without its grid (already behind the
// series).
void DrawAxisAgain(TCustomChart& Chart, TChartAxis& Axis) {
    if (!Chart.AxisVisible() || !Axis.ShownInLayout) return;
    const bool back = Axis.HideBackGrid, side = Axis.HideSideGrid;
    Axis.HideBackGrid = Axis.HideSideGrid = true;
    try {
        Axis.Draw(true);
    } catch (...) {
        Axis.HideBackGrid = back;
        Axis.HideSideGrid = side;
        throw;
    }
    Axis.HideBackGrid = back;
    Axis.HideSideGrid = side;
}

// Begin2D/End2D around a step, however it ends.
template <class F>
void In2D(TCanvas3D& Canvas, F&& Step) {
    Canvas.Begin2D();
    try {
        Step();
    } catch (...) {
        Canvas.End2D();
        throw;
    }
    Canvas.End2D();
}

// A title inside its canvas group.
void DrawTitleGroup(TCanvas3D& Canvas, TChartTitle& Title, const char* Group) {
    Canvas.BeginGroup(Group);
    try {
        Title.DrawTitle();
    } catch (...) {
        Canvas.EndGroup();
        throw;
    }
    Canvas.EndGroup();
}

}  // namespace

void TCustomChart::DrawWalls() {
    if (!WallsShown(*this)) return;
    TChartWalls& walls = *walls_;
    const bool walls3D = View3D() && View3DWalls();
    if (walls3D && walls.Right().Visible() && WallSideTest(*this, ChartRect.Right))
        DrawWall(*this, TWallKind::Right);
    if (View3DWalls() && walls.Back().Visible() && !IsChartRectVisible(Width3D)) DrawWall(*this, TWallKind::Back);
    if (!walls3D) return;
    if (walls.Left().Visible() && !WallSideTest(*this, ChartRect.Left)) DrawWall(*this, TWallKind::Left);
    if (walls.Bottom().Visible()) DrawWall(*this, TWallKind::Bottom);
    if (IsChartRectVisible(0)) {
        DrawAxisAgain(*this, TopAxis());
        DrawAxisAgain(*this, BottomAxis());
    }
}

void TCustomChart::DrawTitlesAndLegend(bool BeforeSeries) {
    TCanvas3D& canvas = *Canvas();
    auto titles = [&](bool Custom) {
        const std::pair<TChartTitle*, const char*> all[] = {
            {title_.get(), "title"}, {sub_title_.get(), "subtitle"}, {foot_.get(), "foot"}, {sub_foot_.get(), "subfoot"}};
        for (const auto& [title, group] : all)
            if (title->CustomPosition() == Custom) DrawTitleGroup(canvas, *title, group);
    };
    In2D(canvas, [&] {
        TChartLegend& legend = *legend_;
        if (BeforeSeries) {
            // A legend left out of this paint answers no click where it
            // was drawn before.
            legend.LastShown = legend.FirstShown - 1;
            if (!legend.CustomPosition() && legend.ShouldDraw()) {
                if (legend.Alignment() == laLeft || legend.Alignment() == laRight) {
                    legend.DrawLegend();
                    titles(false);
                } else {
                    titles(false);
                    legend.DrawLegend();
                }
            } else {
                titles(false);
            }
        } else {
            if (legend.CustomPosition() && legend.ShouldDraw()) legend.DrawLegend();
            titles(true);
        }
    });
    if (BeforeSeries || !View3D() || !WallsShown(*this)) return;

    // The walls facing the viewer, over the series, with the axes they hide.
    TChartWalls& walls = *walls_;
    auto front = [&](TChartWall& wall) { return View3DWalls() && wall.Visible() && !wall.AutoHide(); };
    if (!WallSideTest(*this, ChartRect.Right) && front(walls.Right())) {
        DrawWall(*this, TWallKind::Right);
        DrawAxisAgain(*this, RightAxis());
    }
    if (WallSideTest(*this, ChartRect.Left) && front(walls.Left())) {
        DrawWall(*this, TWallKind::Left);
        DrawAxisAgain(*this, LeftAxis());
    }
    if (IsChartRectVisible(Width3D)) {
        DrawAxisAgain(*this, TopAxis());
        DrawAxisAgain(*this, BottomAxis());
        if (front(walls.Back())) DrawWall(*this, TWallKind::Back);
    }
}

// ---- The legend's questions

std::string TCustomChart::GetLegendValueText(TChartSeries* Series, int ValueIndex) {
    if (!Series) return {};
    return legend_->FormattedValue(*Series, ValueIndex);
}

std::string TCustomChart::LegendItemText(TLegendStyle Style, int Index, const std::string& Text) {
    std::string text = Text;
    if (OnGetLegendText) OnGetLegendText(this, Style, Index, text);
    return text;
}

TColor TCustomChart::LegendSymbolBackColor() { return legend_->Color(); }

chart::TChartPen* TCustomChart::LegendSymbolPen() {
    TLegendSymbol& symbol = legend_->Symbol();
    return symbol.DefaultPen() ? nullptr : &symbol.Pen();
}

void TCustomChart::DrawLegendSymbolRect(const TRect& Rect) {
    chart::TPlotGradient& gradient = legend_->Symbol().Gradient();
    if (!gradient.Visible()) return TCustomAxisPanel::DrawLegendSymbolRect(Rect);
    TCanvas3D& canvas = *Canvas();
    gradient.SetStartColor(canvas.Brush->Color());
    gradient.Draw(canvas, Rect, 0);
    canvas.Brush->SetStyle(vcl::TBrushStyle::bsClear);
    canvas.RectangleRect(Rect);
}

}  // namespace chart::engine
