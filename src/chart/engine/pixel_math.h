#pragma once
// Conversions between axis values and pixels that never meet a value beyond
// their integer type: every rounding here takes any double (NaN and the
// infinities included) and gives a defined integer. Rounding is to the
// nearest integer, halves to the even neighbour.
#include <algorithm>
#include <climits>
#include <cmath>

namespace chart::engine {

// The largest pixel coordinate an axis hands out: positions beyond it are
// clamped, whatever the range or the value.
inline constexpr int kPixelLimit = 67108863;

// Clamps to the 32-bit range.
inline int Clamp32(long long v) {
    return static_cast<int>(std::clamp<long long>(v, INT32_MIN, INT32_MAX));
}

// Clamps to +-kPixelLimit.
inline int ClampPixel(long long v) {
    return static_cast<int>(std::clamp<long long>(v, -kPixelLimit, kPixelLimit));
}

// Rounds |v| < 2^51 to the nearest integer, halves to the even one, as
// llrint does, without a call into the maths library (a pixel loop over
// millions of points rounds twice a point): added to 1.5 * 2^52 the value
// lands where doubles are whole numbers, and the addition rounds it.
inline long long RoundSmall(double v) {
    constexpr double kShift = 6755399441055744.0;
    return static_cast<long long>((v + kShift) - kShift);
}

// Rounds into 64 bits; values beyond +-2^62 are held there, NaN gives 0.
inline long long RoundTo64(double v) {
    constexpr double kLimit = 4611686018427387904.0;  // 2^62
    constexpr double kSmall = 2251799813685248.0;     // 2^51
    if (!(v > -kLimit)) return std::isnan(v) ? 0 : -(1LL << 62);
    if (v >= kLimit) return 1LL << 62;
    return std::fabs(v) < kSmall ? RoundSmall(v) : std::llrint(v);
}

// Rounds a pixel position held in a double: beyond +-kPixelLimit (and NaN,
// which counts as the low end) it is clamped.
inline int RoundPixel(double p) {
    if (!(p > -kPixelLimit)) return -kPixelLimit;
    if (p > kPixelLimit) return kPixelLimit;
    return static_cast<int>(RoundSmall(p));
}

// Rounds into 32 bits, clamping; NaN gives 0.
inline int RoundTo32(double v) {
    if (std::isnan(v)) return 0;
    return Clamp32(RoundTo64(v));
}

// A pixel position plus an offset, clamped to +-kPixelLimit.
inline int PixelPlus(long long base, long long offset) { return ClampPixel(base + offset); }

}  // namespace chart::engine
