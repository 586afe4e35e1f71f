#pragma once
// Number conversions of the runtime with their faults detected: C++ floats
// do not trap, and a float converted to an integer out of range is
// undefined, so every such step is checked here and raises the failure that
// becomes the script's runtime error (EPSMathError: error 16).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace script::runtime {

inline constexpr std::int64_t kCurrencyScale = 10000;

// Rounds to the nearest integer, ties to even, in Extended precision.
// EPSMathError when v is not a number or the result is outside 64 bits.
std::int64_t RoundToInt64(long double v);
// The Currency (amount times 10000) nearest to an amount, ties to even.
std::int64_t RoundToCurrency(long double amount);
// v times 10000; EPSMathError beyond 64 bits.
std::int64_t IntToCurrency(std::int64_t v);
// The amount of a Currency as Extended (scaled / 10000).
long double CurrencyToReal(std::int64_t scaled);
// The integer nearest a Currency amount, ties to even (exact).
std::int64_t CurrencyToInt(std::int64_t scaled);

// To a narrower float; EPSMathError when a finite v is beyond its range
// (infinities and NaN pass as they are).
float NarrowToSingle(long double v);
double NarrowToDouble(long double v);
// EPSMathError when a float operation on finite operands overflowed or
// gave an invalid (NaN) result; passes the result through.
long double CheckFloatResult(long double result, long double a, long double b);

// Text of numbers, independent of the process locale.
std::string IntegerText(std::int64_t v);
// The same digits written into out (room for 24); their count.
std::size_t IntegerDigits(std::int64_t v, char* out);
std::string UnsignedText(std::uint64_t v);
// General format with the given significant digits ("3.5", "1e+20").
std::string FloatText(double v, int significant_digits);
// The amount of a Currency with at most four decimals ("1.5", "-0.0001").
std::string CurrencyText(std::int64_t scaled);
// Days since 1899-12-30 as "dd.mm.yyyy", with " hh:nn:ss" when the time of
// day is not midnight; false for a date outside the years 1..9999.
bool DateText(double days, std::string& text);

// Reads a whole number text: blanks around it, an optional sign, then
// decimal digits, "$" or "0x" hexadecimal digits, or a decimal float
// ("1.5", "2e3"). An integer that fits 64 bits sets is_integer. False when
// the text is no number.
bool ParseNumberText(std::string_view text, bool& is_integer, std::int64_t& integer, double& real);

}  // namespace script::runtime
