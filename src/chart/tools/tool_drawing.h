#pragma once
// Small drawing helpers the chart tools share.
#include <algorithm>

#include "chart/engine/plot_panel.h"
#include "platform/vcl/graphics.h"

namespace chart::tools {

// The colour that, drawn in XOR mode over the chart's background, shows as
// Color there: the background is taken out of it first (a black pen would
// change nothing at all). Drawing it twice still restores.
inline vcl::TColor XorPenColor(chart::engine::TCustomPlotPanel& Chart, vcl::TColor Color) {
    const auto back = static_cast<vcl::TColor>(vcl::ColorToRGB(Chart.GetBackColor()));
    return static_cast<vcl::TColor>(vcl::ColorToRGB(Color)) ^ back;
}

// The smallest rectangle holding both (an empty one counts as none).
inline vcl::TRect UnionRect(const vcl::TRect& A, const vcl::TRect& B) {
    if (A.Right <= A.Left || A.Bottom <= A.Top) return B;
    if (B.Right <= B.Left || B.Bottom <= B.Top) return A;
    return {std::min(A.Left, B.Left), std::min(A.Top, B.Top), std::max(A.Right, B.Right),
            std::max(A.Bottom, B.Bottom)};
}

}  // namespace chart::tools
