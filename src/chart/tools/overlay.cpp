#include "chart/tools/overlay.h"

#include "chart/drawing/plot_antialias.h"
#include "chart/engine/plot_panel.h"

namespace chart::tools {

bool SmoothingCanvas(TCanvas3D& Canvas) { return dynamic_cast<TAntiAliasCanvas*>(&Canvas) != nullptr; }

void SelectOverlayPen(TCanvas3D& Canvas, chart::TChartPen& Pen, TColor Back) {
    chart::TChartPen pen;
    pen.Assign(Pen);
    pen.SetColor(static_cast<TColor>((vcl::ColorToRGB(Pen.Color()) ^ (0xFFFFFF - vcl::ColorToRGB(Back))) & 0xFFFFFF));
    pen.SetMode(vcl::TPenMode::pmNotXor);
    Canvas.AssignVisiblePen(pen);
}

bool DrawOverlay(engine::TCustomPlotPanel& Chart, const std::function<void()>& Draw) {
    if (Chart.DrawOnCachedImage({0, 0, Chart.Width(), Chart.Height()}, Draw)) return true;
    Chart.Invalidate();
    return false;
}

}  // namespace chart::tools
