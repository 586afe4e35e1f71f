#pragma once
// Points, rectangles and colours as the chart code uses them, and the point
// and rectangle routines the whole chart shares.
#include <cstdint>
#include <span>

#include "platform/vcl/graphics.h"

namespace vcl {
class TBitmap;
}

namespace chart {

using vcl::TColor;
using vcl::TPoint;
using vcl::TRect;

// A point with depth: chart pixels X, Y and a depth Z in pixels.
struct TPoint3D {
    int X = 0;
    int Y = 0;
    int Z = 0;
    friend bool operator==(const TPoint3D&, const TPoint3D&) = default;
};

// A colour's channels in the order of 24-bit pixel rows.
struct TRGBTriple {
    std::uint8_t rgbtBlue = 0;
    std::uint8_t rgbtGreen = 0;
    std::uint8_t rgbtRed = 0;
    friend bool operator==(const TRGBTriple&, const TRGBTriple&) = default;
};

inline TPoint MakePoint(int X, int Y) { return {X, Y}; }
inline TRect MakeRect(int Left, int Top, int Right, int Bottom) { return {Left, Top, Right, Bottom}; }
// Edges count as inside.
inline bool PointInRectXY(const TRect& R, int X, int Y) {
    return X >= R.Left && X <= R.Right && Y >= R.Top && Y <= R.Bottom;
}
inline bool PointInRect(const TRect& R, const TPoint& P) { return PointInRectXY(R, P.X, P.Y); }
inline TPoint RectSize(const TRect& R) { return {R.Right - R.Left, R.Bottom - R.Top}; }
// Halves truncated toward zero.
TPoint RectCenter(const TRect& R);
// Swaps Left/Right and Top/Bottom where they are reversed.
void NormalizeRect(TRect& R);
// Width first, then height.
void SetBitmapSize(vcl::TBitmap& Bitmap, int Width, int Height);
// True when the three points turn clockwise on the screen (a face turned
// away from the viewer).
bool PlotCullPoints(const TPoint& P0, const TPoint& P1, const TPoint& P2);
TRGBTriple PlotColorToTriple(TColor Color);
// The min/max box of the first Count points, Right and Bottom one larger
// (a single point gives a 1 x 1 box). Count is limited to the points.
TRect PolygonBounds(std::span<const TPoint> Points, int Count);
// The older form: points 0..High; an empty array gives an empty rectangle,
// otherwise the exact min/max box.
TRect PolygonBoundsHigh(std::span<const TPoint> Points, int High);

void SwapInteger(int& A, int& B);
void SwapDouble(double& A, double& B);

}  // namespace chart
