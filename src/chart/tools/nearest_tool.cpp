#include "chart/tools/nearest_tool.h"

#include <cmath>

#include "chart/drawing/plot_pro_co.h"
#include "chart/drawing/resample.h"
#include "chart/engine/axis_panel.h"
#include "chart/engine/chart_series.h"
#include "chart/tools/overlay.h"

namespace chart::tools {

using engine::TChartSeries;
using engine::TCustomAxisPanel;

TNearestTool::TNearestTool(vcl::TComponent* AOwner)
    : TPlotCustomToolSeries(AOwner),
      line_pen_(std::make_unique<chart::TChartPen>([this](vcl::TPersistent*) { Repaint(); })) {
    Brush().SetStyle(vcl::TBrushStyle::bsClear);
    Pen().SetStyle(vcl::TPenStyle::psDot);
    Pen().SetColor(vcl::clWhite);
}

TNearestTool::~TNearestTool() = default;

void TNearestTool::SetStyle(TNearestToolStyle Value) {
    if (style_ == Value) return;
    style_ = Value;
    Repaint();
}

int TNearestTool::GetNearestPoint(TChartSeries& Series, int X, int Y) {
    const int own = Series.Clicked(X, Y);
    if (own != -1) return own;
    TCustomAxisPanel* chart = Series.ParentChart();
    if (!chart || Series.FirstVisibleIndex < 0) return -1;
    const TRect& r = chart->ChartRect;
    int best = 10000, index = -1;
    const int last = std::min(Series.LastVisibleIndex, Series.Count() - 1);
    for (int i = Series.FirstVisibleIndex; i <= last; ++i) {
        if (Series.IsNull(i)) continue;
        const int px = Series.CalcXPos(i), py = Series.CalcYPos(i);
        if (px < r.Left || px > r.Right || py < r.Top || py > r.Bottom) continue;
        const double h = chart::Hypotenuse(static_cast<double>(X) - px, static_cast<double>(Y) - py);
        if (!(h < best)) continue;
        const int d = static_cast<int>(std::lround(h));
        if (d < best) {
            best = d;
            index = i;
        }
    }
    return index;
}

void TNearestTool::DrawNearest() {
    TChartSeries* s = Series();
    TCustomAxisPanel* chart = ParentChart();
    if (!s || !chart || !s->Active() || point_ == -1 || point_ >= s->Count()) return;
    TCanvas3D& canvas = *chart->Canvas();
    const bool overlay = !full_repaint_;
    auto selectPen = [&](chart::TChartPen& p) {
        if (overlay && !SmoothingCanvas(canvas))
            SelectOverlayPen(canvas, p, chart->Color());
        else
            canvas.AssignVisiblePen(p);
    };
    selectPen(Pen());
    const int x = s->CalcXPos(point_), y = s->CalcYPos(point_);
    const int z = s->StartZ;
    const bool in3D = chart->View3D();
    const long long sz = size_;
    auto c = [](long long v) { return static_cast<int>(std::clamp<long long>(v, INT32_MIN, INT32_MAX)); };
    const TRect box{c(x - sz), c(y - sz), c(x + sz), c(y + sz)};
    if (style_ != hsNone) {
        canvas.AssignBrushColors(Brush(), Brush().Color(), Brush().BackColor());
        canvas.SetBackMode(gdi::TRANSPARENT);
        switch (style_) {
            case hsCircle:
                if (in3D)
                    canvas.EllipseWithZ(box.Left, box.Top, box.Right, box.Bottom, z);
                else
                    canvas.Ellipse(box.Left, box.Top, box.Right, box.Bottom);
                break;
            case hsRectangle:
                if (in3D)
                    canvas.RectangleWithZ(box, z);
                else
                    canvas.Rectangle(box.Left, box.Top, box.Right, box.Bottom);
                break;
            case hsDiamond: {
                const TPoint p[4] = {{x, box.Top}, {box.Right, y}, {x, box.Bottom}, {box.Left, y}};
                canvas.PolygonWithZ(p, z);
                break;
            }
            case hsSeries: {
                chart::TChartPen saved;
                saved.Assign(s->Pen());
                const bool repaint = chart->AutoRepaint;
                chart->AutoRepaint = false;
                s->Pen().Assign(Pen());
                s->DrawValue(point_);
                s->Pen().Assign(saved);
                chart->AutoRepaint = repaint;
                break;
            }
            case hsNone:
                break;
        }
    }
    if (line_pen_->Visible()) {
        selectPen(*line_pen_);
        if (in3D) {
            canvas.MoveTo(mouse_.X, mouse_.Y);
            canvas.LineTo3D(x, y, z);
        } else {
            canvas.Line(mouse_.X, mouse_.Y, x, y);
        }
    }
    if (overlay) canvas.Pen->SetMode(vcl::TPenMode::pmCopy);
}

void TNearestTool::ToggleNearest() {
    TCustomAxisPanel& chart = *ParentChart();
    if (SmoothingCanvas(*chart.Canvas())) {
        chart.Invalidate();
        return;
    }
    DrawOverlay(chart, [&] { DrawNearest(); });
}

void TNearestTool::ChartMouseEvent(engine::TChartMouseEvent AEvent, vcl::TMouseButton Button,
                                   vcl::TShiftState Shift, int X, int Y) {
    TPlotCustomToolSeries::ChartMouseEvent(AEvent, Button, Shift, X, Y);
    TChartSeries* s = Series();
    TCustomAxisPanel* chart = ParentChart();
    if (AEvent != engine::cmeMove || !s || !chart) return;
    if (!full_repaint_) ToggleNearest();
    point_ = GetNearestPoint(*s, X, Y);
    mouse_ = {X, Y};
    if (!full_repaint_) ToggleNearest();
    if (OnChange) OnChange(this);
    if (full_repaint_) chart->Invalidate();
}

void TNearestTool::ChartEvent(engine::TChartToolEvent AEvent) {
    TPlotCustomToolSeries::ChartEvent(AEvent);
    TCustomAxisPanel* chart = ParentChart();
    if (!chart) return;
    if (AEvent == engine::cteAfterDraw) {
        // The mark under the mouse is no part of a picture of the chart.
        if (!chart->DrawingPicture()) DrawNearest();
    } else if (AEvent == engine::cteMouseLeave) {
        if (!full_repaint_) ToggleNearest();
        point_ = -1;
        if (full_repaint_) chart->Invalidate();
    }
}

void TNearestTool::Assign(const engine::TCustomChartElement& Source) {
    if (auto* s = dynamic_cast<const TNearestTool*>(&Source)) {
        full_repaint_ = s->full_repaint_;
        line_pen_->Assign(*s->line_pen_);
        size_ = s->size_;
        style_ = s->style_;
    }
    TPlotCustomToolSeries::Assign(Source);
}

std::string TNearestTool::Description() const { return PlotMsg_NearestPointTool; }
std::string TNearestTool::LongDescription() const { return PlotMsg_NearestPointToolDesc; }

}  // namespace chart::tools
