#pragma once
// Smooth resampling of bitmaps (image filters, the filters editor's
// preview) and two small geometric routines of the drawing layer.
#include "chart/drawing/plot_geometry.h"

namespace vcl {
class TBitmap;
}

namespace chart {

// Resamples Source into Dest's current size (Dest becomes 24 bits per
// pixel) with a three-lobe Lanczos kernel, or with the linear (triangle)
// kernel when Linear is set. Nothing happens unless Source is at least
// 2 x 2 pixels and Dest at least 2 x 2. Source is not changed.
void SmoothStretch(const vcl::TBitmap& Source, vcl::TBitmap& Dest, bool Linear = false);

// The point Distance pixels back from P1 toward P0.
TPoint PointAlongLine(const TPoint& P0, const TPoint& P1, double Distance);

double Hypotenuse(double X, double Y);

}  // namespace chart
