#pragma once
// Rounding as the chart rounds: to the nearest integer, halves to the even
// neighbour; results outside the 32-bit range are clamped to it (and NaN
// gives 0), so no projected coordinate can overflow.
#include <cmath>
#include <cstdint>

namespace chart {

constexpr double kDegreesToRadians = 0.017453292519943295;

inline int RoundToInt(double v) {
    if (std::isnan(v)) return 0;
    if (v >= 2147483647.0) return INT32_MAX;
    if (v <= -2147483648.0) return INT32_MIN;
    return static_cast<int>(std::nearbyint(v));
}

// Round(v) + Origin, held to the 32-bit range.
inline int RoundPlus(double v, int Origin) { return RoundToInt(std::nearbyint(v) + Origin); }

}  // namespace chart
