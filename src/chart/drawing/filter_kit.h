#pragma once
// What the filter units share privately: fast rounding for pixel work, and
// the makers of their property tables and class records.
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

// An Integer property over a field of C, with its default.
template <class C>
TPropInfo IntField(const char* name, int C::*member, long long def) {
    return IntegerProperty<C>(
        name, [member](const C& f) { return f.*member; },
        [member](C& f, long long v) { f.*member = static_cast<int>(v); }, def);
}

template <class C>
TPropInfo BoolField(const char* name, bool C::*member, bool def) {
    return BooleanProperty<C>(
        name, [member](const C& f) { return f.*member; }, [member](C& f, bool v) { f.*member = v; }, def);
}

// The class record of filter class C (one per class).
template <class C>
const TFilterClass& MakeClass(const char* name, std::string (*description)(), const TPropertyTable& props) {
    static const TFilterClass c{name, description, [] { return std::make_unique<C>(); }, &props};
    return c;
}

}  // namespace chart::filter_kit
