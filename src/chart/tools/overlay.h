#pragma once
// Pictures that tools draw over a finished chart and take away again by
// drawing them a second time (not-XOR pens), and the surface test that
// tells when that cannot work (a smoothing surface has no pen modes: the
// tool repaints instead).
#include <algorithm>
#include <functional>

#include "chart/drawing/plot_canvas.h"
#include "chart/drawing/plot_pens.h"
#include "chart/engine/plot_panel.h"
#include "platform/vcl/graphics.h"

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

// The colour that, drawn in XOR mode over the chart's background, shows as
// Color there: the background is taken out of it first (a black pen would
// change nothing at all). Drawing it twice still restores.
inline vcl::TColor XorPenColor(engine::TCustomPlotPanel& Chart, vcl::TColor Color) {
    const auto back = static_cast<vcl::TColor>(vcl::ColorToRGB(Chart.GetBackColor()));
    return static_cast<vcl::TColor>(vcl::ColorToRGB(Color)) ^ back;
}

// The smallest rectangle holding both (an empty one counts as none): the
// area an overlay that moved must show again.
inline vcl::TRect UnionRect(const vcl::TRect& A, const vcl::TRect& B) {
    if (A.Right <= A.Left || A.Bottom <= A.Top) return B;
    if (B.Right <= B.Left || B.Bottom <= B.Top) return A;
    return {std::min(A.Left, B.Left), std::min(A.Top, B.Top), std::max(A.Right, B.Right),
            std::max(A.Bottom, B.Bottom)};
}

}  // namespace chart::tools
