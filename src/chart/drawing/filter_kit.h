#pragma once
// What the filter units share privately: fast rounding for pixel work, and
// the makers of their class records.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>

#include "chart/drawing/plot_filters.h"

namespace chart::filter_kit {

// Round to the nearest, halves to even, for the small values of pixel work
// (well inside +-2^51), without a library call per channel.
inline double RoundEven(double v) {
    constexpr double kMagic = 6755399441055744.0;  // 1.5 * 2^52
    return (v + kMagic) - kMagic;
}

inline std::uint8_t ClampByte(long long v) { return static_cast<std::uint8_t>(std::clamp<long long>(v, 0, 255)); }

// The class record of filter class C (one per class).
template <class C>
const TFilterClass& MakeClass(const char* name, std::string (*description)()) {
    static const TFilterClass c{name, description, [] { return std::make_unique<C>(); }};
    return c;
}

// A field of a base class as a member of C (so that C's table can hold it).
template <class C, class Base, class T>
T C::*Member(T Base::*member) {
    return static_cast<T C::*>(member);
}

}  // namespace chart::filter_kit
