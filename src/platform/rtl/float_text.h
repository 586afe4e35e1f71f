#pragma once
// Decimal digits of a floating-point value, the common ground of FloatToStr,
// FloatToStrF, FormatFloat and the float conversions of Format. The digits
// come from std::to_chars, which ignores the process locale (the widget
// toolkit changes it, and a "," must never turn up as decimal point).
#include <string>

namespace rtl::detail {

struct TFloatRec {
    enum class Kind { Number, NaN, Inf };
    Kind kind = Kind::Number;
    bool Negative = false;
    // value = 0.Digits * 10^Exponent; no trailing zeros; empty for zero.
    int Exponent = 0;
    std::string Digits;
};

// No rounding at a decimal position.
inline constexpr int kNoDecimals = 9999;

// The value to at most `precision` significant digits (1..18) and, unless
// decimals is kNoDecimals, rounded half away from zero at that many decimals.
// A value that rounds to zero comes back as zero, without a sign.
TFloatRec FloatToDecimal(long double value, int precision, int decimals);

}  // namespace rtl::detail
