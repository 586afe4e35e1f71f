#pragma once
// Numbers as text, by fixed rules stored files and plug-ins rely on: "." is always the
// decimal separator, "," the thousands separator, hexadecimal digits are
// upper case, "$" marks hexadecimal input. Conversions never consult the C
// locale, which the widget toolkit may have changed.
#include <cstdint>
#include <string>
#include <string_view>

namespace rtl {

inline constexpr char DecimalSeparator = '.';
inline constexpr char ThousandSeparator = ',';
inline constexpr const char* CurrencyString = "$";
inline constexpr int CurrencyDecimals = 2;

enum class TFloatFormat { ffGeneral, ffExponent, ffFixed, ffNumber, ffCurrency };

// General format with 15 significant digits: "0.1", "1E20", "1.5E-7", "NAN", "INF", "-INF".
std::string FloatToStr(long double value);
// Precision: significant digits (at most 18). Digits: minimum exponent digits for
// ffExponent (0 to 4), decimals for ffFixed/ffNumber/ffCurrency.
std::string FloatToStrF(long double value, TFloatFormat format, int precision, int digits);
// Pattern formatting: "0" digit, "#" optional digit, "." decimal point, "," thousands
// anywhere, "E+00"/"E-00" scientific, quoted text literal, up to three ";" sections
// (positive; negative; zero).
std::string FormatFloat(const std::string& format, long double value);

// Text -> float: optional blanks around, sign, digits with "." and an exponent.
// Raises EConvertError "'%s' is not a valid floating point value".
double StrToFloat(const std::string& text);
long double StrToExtended(const std::string& text);
double StrToFloatDef(const std::string& text, double fallback);
// Where the parts of a decimal number lie in a text that holds one: blanks
// around it, a sign, digits with at most one decimal separator (one digit
// at least), an optional exponent, nothing else.
struct TDecimalText {
    std::size_t Begin = 0;     // the sign, or the first digit
    std::size_t Mantissa = 0;  // after the sign
    std::size_t End = 0;       // before the trailing blanks
    bool Negative = false;
};
// False when the text holds no such number ("INF", "NAN" and hex are none).
bool ScanDecimalText(std::string_view text, TDecimalText& parts);
bool TryStrToFloat(const std::string& text, double& value);
bool TryStrToFloat(const std::string& text, long double& value);

std::string IntToStr(std::int64_t value);
// Upper-case hexadecimal, zero-padded to at least `digits`. A 32-bit value
// prints as its 32-bit two's complement, a 64-bit one as its 64-bit pattern.
std::string IntToHex(std::int32_t value, int digits);
std::string IntToHex(std::uint32_t value, int digits);
std::string IntToHex(long value, int digits);
std::string IntToHex(unsigned long value, int digits);
std::string IntToHex(long long value, int digits);
std::string IntToHex(unsigned long long value, int digits);

// Text -> integer: leading blanks, an optional sign, then decimal digits or
// "$", "0x", "x" and hexadecimal digits; nothing may follow. Hexadecimal
// covers the whole unsigned range of the width (StrToInt("$FFFFFFFF") = -1).
// Raises EConvertError "'%s' is not a valid integer value".
std::int32_t StrToInt(const std::string& text);
std::int32_t StrToIntDef(const std::string& text, std::int32_t fallback);
bool TryStrToInt(const std::string& text, std::int32_t& value);
std::int64_t StrToInt64(const std::string& text);
std::int64_t StrToInt64Def(const std::string& text, std::int64_t fallback);
bool TryStrToInt64(const std::string& text, std::int64_t& value);

// Rounding to the nearest integer, ties to the even one (0.5 -> 0, 1.5 -> 2,
// 2.5 -> 2, -0.5 -> 0). Raises EInvalidOp outside the 64-bit range or for NaN.
std::int64_t Round(long double value);
// Towards zero; EInvalidOp as Round.
std::int64_t Trunc(long double value);

// The runtime's pseudo-random generator: a 32-bit linear congruential
// sequence (seed * 134775813 + 1) whose seed Randomize takes from the clock.
class TRandomGenerator {
public:
    explicit TRandomGenerator(std::uint32_t seed = 0) : RandSeed(seed) {}
    void Randomize();
    // 0 <= result < range; 0 when range <= 0.
    std::int32_t Next(std::int32_t range);
    // 0 <= result < 1.
    double NextFloat();

    std::uint32_t RandSeed;

private:
    std::uint32_t Step();
};

// The generator of the process, used by Random and Randomize.
TRandomGenerator& RandomGenerator();
std::int32_t Random(std::int32_t range);
double Random();
void Randomize();

}  // namespace rtl
