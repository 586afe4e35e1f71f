#include "chart/drawing/resample.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "chart/drawing/projection_math.h"
#include "platform/vcl/bitmap.h"

namespace chart {

namespace {

double Sinc(double t) { return t == 0 ? 1.0 : std::sin(t) / t; }

double Lanczos3(double x) {
    x = std::fabs(x);
    if (x == 0) return 1.0;
    if (x >= 3.0) return 0.0;
    return Sinc(std::numbers::pi * x) * Sinc(std::numbers::pi * x / 3.0);
}

double Triangle(double x) {
    x = std::fabs(x);
    return x < 1.0 ? 1.0 - x : 0.0;
}

struct Contributor {
    int pixel;
    int weight;  // 1024 = 1.0
};

// Reflects an index at the edges as often as needed, so that a kernel
// wider than the whole row still reads inside it.
int Reflect(long long j, int n) {
    while (j < 0 || j >= n) {
        if (j < 0) j = -j;
        if (j >= n) j = 2LL * n - 1 - j;
    }
    return static_cast<int>(j);
}

// For each destination index, the source pixels and their weights.
std::vector<std::vector<Contributor>> Contributors(int n, int m, bool linear) {
    const double support = linear ? 1.0 : 3.0;
    const double f = static_cast<double>(m - 1) / static_cast<double>(n - 1);
    // Shrinking widens the kernel over the source by 1 / f; enlarging keeps
    // its whole support (narrower, its weights would no longer add up to one
    // and a plain picture would come out with darker pixels in between).
    const double kernelScale = f < 1.0 ? f : 1.0;
    const double halfWidth = support / kernelScale;
    std::vector<std::vector<Contributor>> lists(static_cast<std::size_t>(m));
    for (int i = 0; i < m; ++i) {
        const double centre = i / f;
        const long long first = static_cast<long long>(std::floor(centre - halfWidth));
        const long long last = static_cast<long long>(std::ceil(centre + halfWidth));
        auto& list = lists[static_cast<std::size_t>(i)];
        for (long long j = first; j <= last; ++j) {
            const double x = (centre - static_cast<double>(j)) * kernelScale;
            const int weight = RoundToInt((linear ? Triangle(x) : Lanczos3(x)) * 1024.0 * kernelScale);
            if (weight == 0) continue;
            list.push_back({Reflect(j, n), weight});
        }
    }
    return lists;
}

std::uint8_t Settle(long long sum) {
    if (sum < 0) return 0;
    if (sum >= 262144) return 255;
    return static_cast<std::uint8_t>(sum >> 10);
}

}  // namespace

void SmoothStretch(const vcl::TBitmap& Source, vcl::TBitmap& Dest, bool Linear) {
    const int sw = Source.Width(), sh = Source.Height();
    const int dw = Dest.Width(), dh = Dest.Height();
    if (sw < 2 || sh < 2 || dw < 2 || dh < 2) return;
    Dest.SetPixelFormat(vcl::TPixelFormat::pf24bit);
    const gdi::Bitmap& src = *Source.Handle();
    gdi::Bitmap& dst = *Dest.Handle();
    const int step = src.BitsPerPixel() / 8;

    // Across: every source row into a work area of destination width.
    const auto across = Contributors(sw, dw, Linear);
    std::vector<std::uint8_t> work(static_cast<std::size_t>(dw) * sh * 3);
    for (int y = 0; y < sh; ++y) {
        const std::uint8_t* row = src.ScanLine(y);
        std::uint8_t* out = work.data() + static_cast<std::size_t>(y) * dw * 3;
        for (int x = 0; x < dw; ++x) {
            long long b = 0, g = 0, r = 0;
            for (const Contributor& c : across[static_cast<std::size_t>(x)]) {
                const std::uint8_t* p = row + static_cast<std::ptrdiff_t>(c.pixel) * step;
                b += static_cast<long long>(p[0]) * c.weight;
                g += static_cast<long long>(p[1]) * c.weight;
                r += static_cast<long long>(p[2]) * c.weight;
            }
            out[3 * x] = Settle(b);
            out[3 * x + 1] = Settle(g);
            out[3 * x + 2] = Settle(r);
        }
    }
    // Down: the work area into the destination.
    const auto down = Contributors(sh, dh, Linear);
    std::vector<long long> sums(static_cast<std::size_t>(dw) * 3);
    for (int y = 0; y < dh; ++y) {
        std::fill(sums.begin(), sums.end(), 0);
        for (const Contributor& c : down[static_cast<std::size_t>(y)]) {
            const std::uint8_t* row = work.data() + static_cast<std::size_t>(c.pixel) * dw * 3;
            for (int i = 0; i < dw * 3; ++i) sums[static_cast<std::size_t>(i)] += static_cast<long long>(row[i]) * c.weight;
        }
        std::uint8_t* out = dst.ScanLine(y);
        for (int i = 0; i < dw * 3; ++i) out[i] = Settle(sums[static_cast<std::size_t>(i)]);
    }
}

TPoint PointAlongLine(const TPoint& P0, const TPoint& P1, double Distance) {
    if (P0.X != P1.X) {
        // The direction from P0 to P1 over the full circle: the arc tangent
        // of the slope alone would step away from P0 on lines drawn leftwards.
        const double a = std::atan2(static_cast<double>(P1.Y) - P0.Y, static_cast<double>(P1.X) - P0.X);
        return {RoundPlus(-Distance * std::cos(a), P1.X), RoundPlus(-Distance * std::sin(a), P1.Y)};
    }
    const double y = P1.Y >= P0.Y ? P1.Y - Distance : P1.Y + Distance;
    return {P1.X, RoundToInt(y)};
}

double Hypotenuse(double X, double Y) { return std::sqrt(X * X + Y * Y); }

}  // namespace chart
