#pragma once
// The pixels of a one-pixel line, our own walk: from the first point
// toward the last, the last pixel left out (as GDI draws lines), clipped to
// a box before a single pixel is visited, with 64-bit arithmetic so that
// endpoints anywhere in the 32-bit range cost no more than the part that
// shows.
//
// Along the major axis the line takes one pixel per step; the minor
// coordinate of step i is the start's plus round(i * minor / major), halves
// away from the start. The same two points therefore always give the same
// pixels, whichever part is clipped.
#include <algorithm>
#include <cstdint>

namespace gdi::detail {

struct Box {
    int x0, y0, x1, y1;  // [x0, x1) x [y0, y1)
};

using i64 = std::int64_t;
using i128 = __int128;

// Smallest i >= 0 with m(i) >= k, where m(i) = floor((2ia + b) / 2b), a > 0.
inline i64 FirstStepReaching(i64 k, i64 a, i64 b) {
    const i128 num = i128(2) * b * k - b;
    if (num <= 0) return 0;
    const i128 den = i128(2) * a;
    return static_cast<i64>((num + den - 1) / den);
}
// Largest i with m(i) <= k (may be negative when none).
inline i64 LastStepWithin(i64 k, i64 a, i64 b) {
    const i128 num = i128(2) * b * k + b;  // m(i) <= k  <=>  2ia + b < 2b(k + 1)
    const i128 den = i128(2) * a;
    if (num <= 0) return -1;
    return static_cast<i64>((num + den - 1) / den) - 1;
}

// Walks one axis-generic line: major coordinate u (step su), minor v (step
// sv, amount a per b major steps). plot(u, v, i) receives major and minor
// coordinates. Returns the number of steps of the whole line.
template <class Plot>
inline i64 WalkAxis(i64 u0, i64 v0, i64 du, i64 dv, int uMin, int uMax, int vMin, int vMax,
                    Plot&& plot) {
    const i64 b = du < 0 ? -du : du;
    const i64 a = dv < 0 ? -dv : dv;
    if (b == 0) return 0;
    const int su = du < 0 ? -1 : 1;
    const int sv = dv < 0 ? -1 : 1;
    i64 first = 0, last = b - 1;
    const bool inside = u0 >= uMin && u0 < uMax && v0 >= vMin && v0 < vMax &&
                        u0 + du >= uMin && u0 + du < uMax && v0 + dv >= vMin && v0 + dv < vMax;
    if (!inside) {
        // Major axis: u0 + su * i within [uMin, uMax - 1].
        if (su > 0) {
            first = std::max(first, i64(uMin) - u0);
            last = std::min(last, i64(uMax) - 1 - u0);
        } else {
            first = std::max(first, u0 - (i64(uMax) - 1));
            last = std::min(last, u0 - i64(uMin));
        }
        if (first > last) return b;
        // Minor axis: v0 + sv * m(i) within [vMin, vMax - 1].
        i64 kLow, kHigh;
        if (sv > 0) {
            kLow = i64(vMin) - v0;
            kHigh = i64(vMax) - 1 - v0;
        } else {
            kLow = v0 - (i64(vMax) - 1);
            kHigh = v0 - i64(vMin);
        }
        if (a == 0) {
            if (kLow > 0 || kHigh < 0) return b;
        } else {
            if (kHigh < 0) return b;
            if (kLow > 0) first = std::max(first, FirstStepReaching(kLow, a, b));
            last = std::min(last, LastStepWithin(kHigh, a, b));
        }
        if (first > last) return b;
    }
    // num = (2ia + b) mod 2b, m = (2ia + b) div 2b at step `first`.
    const i128 start = i128(2) * first * a + b;
    i64 m = static_cast<i64>(start / (i128(2) * b));
    i64 num = static_cast<i64>(start % (i128(2) * b));
    int u = static_cast<int>(u0 + su * first);
    int v = static_cast<int>(v0 + sv * m);
    const i64 twoA = 2 * a, twoB = 2 * b;
    for (i64 i = first; i <= last; ++i) {
        plot(u, v, i);
        u += su;
        num += twoA;
        if (num >= twoB) {
            num -= twoB;
            v += sv;
        }
    }
    return b;
}

// plot(x, y, i) for each visible pixel; returns the line's pixel count.
template <class Plot>
inline i64 WalkLine(i64 x0, i64 y0, i64 x1, i64 y1, const Box& box, Plot&& plot) {
    const i64 dx = x1 - x0, dy = y1 - y0;
    if ((dx < 0 ? -dx : dx) >= (dy < 0 ? -dy : dy))
        return WalkAxis(x0, y0, dx, dy, box.x0, box.x1, box.y0, box.y1,
                        [&](int x, int y, i64 i) { plot(x, y, i); });
    return WalkAxis(y0, x0, dy, dx, box.y0, box.y1, box.x0, box.x1,
                    [&](int y, int x, i64 i) { plot(x, y, i); });
}

}  // namespace gdi::detail
