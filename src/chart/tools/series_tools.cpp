#include "chart/tools/series_tools.h"

#include "chart/drawing/plot_pro_co.h"
#include "chart/engine/axis_panel.h"
#include "chart/engine/chart_axis.h"
#include "chart/engine/chart_series.h"

namespace chart::tools {

using engine::TChartAxis;
using engine::TChartSeries;
using engine::TCustomAxisPanel;

// ---- Picture behind the series

TChartImageTool::TChartImageTool(vcl::TComponent* AOwner)
    : TPlotCustomToolSeries(AOwner), picture_(std::make_unique<TPlotPicture>()) {
    picture_->OnChange = [this] { Repaint(); };
}

TChartImageTool::~TChartImageTool() { picture_->OnChange = nullptr; }

void TChartImageTool::SetSeries(TChartSeries* Value) {
    TPlotCustomToolSeries::SetSeries(Value);
    Repaint();
}

TRect TChartImageTool::TargetRect() {
    TChartSeries* s = Series();
    TChartAxis* h = GetHorizAxis();
    TChartAxis* v = GetVertAxis();
    if (!h || !v) return {};
    if (s && s->Count() > 0)
        return {s->CalcXPosValue(s->MinXValue()), s->CalcYPosValue(s->MaxYValue()),
                s->CalcXPosValue(s->MaxXValue()), s->CalcYPosValue(s->MinYValue())};
    return {h->CalcXPosValue(h->Minimum()), v->CalcYPosValue(v->Maximum()), h->CalcXPosValue(h->Maximum()),
            v->CalcYPosValue(v->Minimum())};
}

void TChartImageTool::ChartEvent(engine::TChartToolEvent AEvent) {
    TCustomAxisPanel* chart = ParentChart();
    if (AEvent != engine::cteBeforeDrawSeries || !chart || !picture_->Graphic()) return;
    TCanvas3D& canvas = *chart->Canvas();
    // Cut to the plot as the series are.
    const bool clip = chart->ClipPoints() && chart->CanClip();
    if (clip) canvas.ClipCube(chart->ChartRect, 0, chart->Width3D);
    TRect r = TargetRect();
    if (chart->View3D()) r = canvas.CalcRect3D(r, chart->Width3D);
    canvas.StretchDraw(r, picture_->FilteredGraphic());
    if (clip) canvas.UnClipRectangle();
}

std::string TChartImageTool::Description() const { return PlotMsg_ImageTool; }
std::string TChartImageTool::LongDescription() const { return PlotMsg_ImageToolDesc; }

// ---- Clipping one series

void TClipSeriesTool::SeriesEvent(engine::TChartSeriesToolEvent AEvent) {
    TCustomAxisPanel* chart = ParentChart();
    if (!chart) return;
    if (AEvent == engine::cseBeforeDrawValues) {
        TChartAxis* h = GetHorizAxis();
        TChartAxis* v = GetVertAxis();
        // Only where the chart clips its series at all.
        if (!chart->ClipPoints() || !chart->CanClip() || !h || !v || clipped_) return;
        chart->Canvas()->ClipRectangle(TRect{h->StartPixel, v->StartPixel, h->EndPixel, v->EndPixel});
        clipped_ = true;
    } else if (AEvent == engine::cseAfterDrawValues && clipped_) {
        clipped_ = false;
        chart->Canvas()->UnClipRectangle();
    }
}

std::string TClipSeriesTool::Description() const { return PlotMsg_ClipSeriesTool; }
std::string TClipSeriesTool::LongDescription() const { return PlotMsg_ClipSeriesToolDesc; }

}  // namespace chart::tools
