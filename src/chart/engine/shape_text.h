#pragma once
// The texts inside titles, legends and marks: plain, or markup (sizes,
// fonts and colours set by tags). A markup text that cannot be read is
// drawn as it is written, so that one bad text never stops a paint.
#include <string>

#include "chart/drawing/plot_canvas.h"
#include "platform/vcl/graphics.h"

namespace chart::engine {

// Draws Text with its top-left at (X, Y) in the surface's font.
void DrawShapeText(chart::TCanvas3D& Canvas, int X, int Y, const std::string& Text, bool Html);
// The size Text takes: for markup as the markup lays it out; otherwise
// its width and the font's height (one line).
vcl::TSize ShapeTextExtent(chart::TCanvas3D& Canvas, const std::string& Text, bool Html);

}  // namespace chart::engine
