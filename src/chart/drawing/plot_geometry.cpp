#include "chart/drawing/plot_geometry.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "platform/vcl/bitmap.h"

namespace chart {

TPoint RectCenter(const TRect& R) {
    return {static_cast<int>((static_cast<long long>(R.Left) + R.Right) / 2),
            static_cast<int>((static_cast<long long>(R.Top) + R.Bottom) / 2)};
}

void NormalizeRect(TRect& R) {
    if (R.Left > R.Right) SwapInteger(R.Left, R.Right);
    if (R.Top > R.Bottom) SwapInteger(R.Top, R.Bottom);
}

void SetBitmapSize(vcl::TBitmap& Bitmap, int Width, int Height) {
    Bitmap.SetWidth(Width);
    Bitmap.SetHeight(Height);
}

bool PlotCullPoints(const TPoint& P0, const TPoint& P1, const TPoint& P2) {
    const long long d = (static_cast<long long>(P0.X) - P1.X) * (static_cast<long long>(P2.Y) - P1.Y) -
                        (static_cast<long long>(P2.X) - P1.X) * (static_cast<long long>(P0.Y) - P1.Y);
    return d < 0;
}

TRGBTriple PlotColorToTriple(TColor Color) {
    const gdi::COLORREF c = vcl::ColorToRGB(Color);
    return {static_cast<std::uint8_t>(gdi::GetBValue(c)), static_cast<std::uint8_t>(gdi::GetGValue(c)),
            static_cast<std::uint8_t>(gdi::GetRValue(c))};
}

namespace {

TRect Box(std::span<const TPoint> Points) {
    TRect r{Points[0].X, Points[0].Y, Points[0].X, Points[0].Y};
    for (const TPoint& p : Points) {
        r.Left = std::min(r.Left, p.X);
        r.Right = std::max(r.Right, p.X);
        r.Top = std::min(r.Top, p.Y);
        r.Bottom = std::max(r.Bottom, p.Y);
    }
    return r;
}

}  // namespace

TRect PolygonBounds(std::span<const TPoint> Points, int Count) {
    const std::size_t n = std::min<std::size_t>(Points.size(), static_cast<std::size_t>(std::max(Count, 0)));
    if (n == 0) return {};
    TRect r = Box(Points.first(n));
    if (r.Right < INT32_MAX) ++r.Right;
    if (r.Bottom < INT32_MAX) ++r.Bottom;
    return r;
}

TRect PolygonBoundsHigh(std::span<const TPoint> Points, int High) {
    const std::size_t n = std::min<std::size_t>(Points.size(), static_cast<std::size_t>(std::max(High + 1, 0)));
    if (n == 0) return {};
    return Box(Points.first(n));
}

void SwapInteger(int& A, int& B) { std::swap(A, B); }
void SwapDouble(double& A, double& B) { std::swap(A, B); }

}  // namespace chart
