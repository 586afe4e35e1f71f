#pragma once
// Pictures that tools draw over a finished chart and take away again by
// drawing them a second time (not-XOR pens), and the surface test that
// tells when that cannot work (a smoothing surface has no pen modes: the
// tool repaints instead).
#include "chart/drawing/plot_canvas.h"
#include "chart/drawing/plot_pens.h"

namespace chart::engine {
class TCustomPlotPanel;
}

namespace chart::tools {

// Whether the surface smooths what it draws.
bool SmoothingCanvas(TCanvas3D& Canvas);
// Selects Pen on the surface so that drawing twice restores every pixel:
// its colour XOR-ed with the inverse of Back, in not-XOR mode.
void SelectOverlayPen(TCanvas3D& Canvas, chart::TChartPen& Pen, TColor Back);
// Runs Draw on the chart's shown image and shows the result, when that
// image is up to date; otherwise asks for a repaint (which draws the tool
// anew). Whether Draw ran.
bool DrawOverlay(engine::TCustomPlotPanel& Chart, const std::function<void()>& Draw);

}  // namespace chart::tools
