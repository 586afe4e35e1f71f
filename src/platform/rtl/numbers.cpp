#include "platform/rtl/numbers.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <limits>
#include <vector>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/float_text.h"

namespace rtl {

using detail::FloatToDecimal;
using detail::kNoDecimals;
using detail::TFloatRec;

namespace {

std::string SpecialText(const TFloatRec& rec) {
    if (rec.kind == TFloatRec::Kind::NaN) return "NAN";
    return rec.Negative ? "-INF" : "INF";
}

char DigitAt(const TFloatRec& rec, int index) {
    if (index < 0 || index >= static_cast<int>(rec.Digits.size())) return '0';
    return rec.Digits[static_cast<size_t>(index)];
}

std::string ExponentText(int exponent, bool forceSign, int minDigits) {
    std::string out;
    if (exponent < 0)
        out += '-';
    else if (forceSign)
        out += '+';
    std::string digits = std::to_string(exponent < 0 ? -exponent : exponent);
    if (static_cast<int>(digits.size()) < minDigits)
        digits.insert(0, static_cast<size_t>(minDigits) - digits.size(), '0');
    return out + digits;
}

std::string GeneralText(const TFloatRec& rec, int precision) {
    if (rec.kind != TFloatRec::Kind::Number) return SpecialText(rec);
    if (rec.Digits.empty()) return "0";
    std::string out = rec.Negative ? "-" : "";
    const int n = static_cast<int>(rec.Digits.size());
    if (rec.Exponent > precision || rec.Exponent < -3) {
        out += rec.Digits[0];
        if (n > 1) out += DecimalSeparator + rec.Digits.substr(1);
        return out + 'E' + ExponentText(rec.Exponent - 1, false, 0);
    }
    if (rec.Exponent <= 0) {
        out += '0';
        out += DecimalSeparator;
        out.append(static_cast<size_t>(-rec.Exponent), '0');
        return out + rec.Digits;
    }
    for (int i = 0; i < rec.Exponent; ++i) out += DigitAt(rec, i);
    if (n > rec.Exponent) out += DecimalSeparator + rec.Digits.substr(static_cast<size_t>(rec.Exponent));
    return out;
}

// Integer part and `decimals` decimals of a rounded value, without sign.
std::string FixedDigits(const TFloatRec& rec, int decimals, bool thousands) {
    std::string out;
    if (rec.Exponent <= 0) {
        out = "0";
    } else {
        for (int i = 0; i < rec.Exponent; ++i) {
            out += DigitAt(rec, i);
            const int left = rec.Exponent - 1 - i;
            if (thousands && left > 0 && left % 3 == 0) out += ThousandSeparator;
        }
    }
    if (decimals > 0) {
        out += DecimalSeparator;
        for (int i = 0; i < decimals; ++i) out += DigitAt(rec, rec.Exponent + i);
    }
    return out;
}

}  // namespace

std::string FloatToStrF(long double value, TFloatFormat format, int precision, int digits) {
    precision = std::min(std::max(precision, 1), 18);
    switch (format) {
        case TFloatFormat::ffGeneral:
            return GeneralText(FloatToDecimal(value, precision, kNoDecimals), precision);
        case TFloatFormat::ffExponent: {
            const TFloatRec rec = FloatToDecimal(value, precision, kNoDecimals);
            if (rec.kind != TFloatRec::Kind::Number) return SpecialText(rec);
            std::string out = rec.Negative ? "-" : "";
            out += DigitAt(rec, 0);
            if (precision > 1) {
                out += DecimalSeparator;
                for (int i = 1; i < precision; ++i) out += DigitAt(rec, i);
            }
            const int exponent = rec.Digits.empty() ? 0 : rec.Exponent - 1;
            return out + 'E' + ExponentText(exponent, true, std::min(std::max(digits, 0), 4));
        }
        case TFloatFormat::ffFixed:
        case TFloatFormat::ffNumber:
        case TFloatFormat::ffCurrency: {
            digits = std::min(std::max(digits, 0), 18);
            const TFloatRec rec = FloatToDecimal(value, precision, digits);
            if (rec.kind != TFloatRec::Kind::Number) return SpecialText(rec);
            // More integer digits than the precision holds: general format instead.
            if (rec.Exponent > precision)
                return GeneralText(FloatToDecimal(value, precision, kNoDecimals), precision);
            const std::string body =
                FixedDigits(rec, digits, format != TFloatFormat::ffFixed);
            if (format != TFloatFormat::ffCurrency) return (rec.Negative ? "-" : "") + body;
            return rec.Negative ? "(" + std::string(CurrencyString) + body + ")"
                                : CurrencyString + body;
        }
    }
    return {};
}

std::string FloatToStr(long double value) {
    return FloatToStrF(value, TFloatFormat::ffGeneral, 15, 0);
}

namespace {

// One ";"-separated section of a FormatFloat pattern, as the scan sees it.
struct TSection {
    std::string text;
    int DigitCount = 0;     // "0" and "#" placeholders before any exponent
    int DecimalIndex = -1;  // placeholders before the decimal point
    int FirstZero = 1 << 30;
    int LastZero = -1;
    bool Thousands = false;
    bool Scientific = false;
};

std::vector<std::string> SplitSections(const std::string& format) {
    std::vector<std::string> sections(1);
    char quote = 0;
    for (char c : format) {
        if (quote) {
            if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == ';') {
            if (sections.size() == 3) break;
            sections.emplace_back();
            continue;
        }
        sections.back() += c;
    }
    return sections;
}

bool IsExponentAt(const std::string& s, size_t i) {
    return (s[i] == 'E' || s[i] == 'e') && i + 1 < s.size() && (s[i + 1] == '+' || s[i + 1] == '-');
}

TSection ScanSection(const std::string& text) {
    TSection sec;
    sec.text = text;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"' || c == '\'') {
            const auto end = text.find(c, i + 1);
            if (end == std::string::npos) break;
            i = end;
        } else if (c == '0' || c == '#') {
            if (c == '0') {
                sec.FirstZero = std::min(sec.FirstZero, sec.DigitCount);
                sec.LastZero = sec.DigitCount;
            }
            ++sec.DigitCount;
        } else if (c == '.') {
            if (sec.DecimalIndex < 0) sec.DecimalIndex = sec.DigitCount;
        } else if (c == ',') {
            sec.Thousands = true;
        } else if (IsExponentAt(text, i)) {
            sec.Scientific = true;
            break;  // what follows belongs to the exponent
        }
    }
    if (sec.DecimalIndex < 0) sec.DecimalIndex = sec.DigitCount;
    return sec;
}

std::string ApplySection(const TSection& sec, const TFloatRec& rec, bool minus) {
    const std::string& s = sec.text;
    std::string out = minus ? "-" : "";
    const int ndigits = static_cast<int>(rec.Digits.size());
    const int intDigits = sec.Scientific ? sec.DecimalIndex : rec.Exponent;
    const bool pointNeeded = sec.LastZero >= sec.DecimalIndex || ndigits > intDigits;
    bool leadingDone = false, pointDone = false, exponentDone = false;
    int k = 0;  // placeholder index
    auto emitInteger = [&](int place) {
        // place counts from 1 at the units position
        if (sec.Scientific) {
            // every mantissa position before the point is significant
            out += DigitAt(rec, k);
            return;
        }
        if (place <= rec.Exponent)
            out += DigitAt(rec, rec.Exponent - place);
        else if (k >= sec.FirstZero)
            out += '0';
        else
            return;
        if (sec.Thousands && place > 1 && (place - 1) % 3 == 0) out += ThousandSeparator;
    };
    auto emitLeading = [&] {
        // Integer digits for which the pattern has no placeholder go in front.
        if (leadingDone) return;
        leadingDone = true;
        if (sec.Scientific) return;
        for (int place = rec.Exponent; place > sec.DecimalIndex; --place) {
            out += DigitAt(rec, rec.Exponent - place);
            if (sec.Thousands && place > 1 && (place - 1) % 3 == 0) out += ThousandSeparator;
        }
    };
    for (size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (exponentDone) {
            out += c;
            continue;
        }
        if (c == '"' || c == '\'') {
            const auto end = s.find(c, i + 1);
            out += s.substr(i + 1, (end == std::string::npos ? s.size() : end) - i - 1);
            i = end == std::string::npos ? s.size() : end;
        } else if (c == '0' || c == '#') {
            emitLeading();
            if (k < sec.DecimalIndex) {
                emitInteger(sec.DecimalIndex - k);
            } else {
                const int idx = sec.Scientific ? k : rec.Exponent + (k - sec.DecimalIndex);
                if (idx < ndigits)
                    out += DigitAt(rec, idx);
                else if (k <= sec.LastZero)
                    out += '0';
            }
            ++k;
        } else if (c == '.') {
            emitLeading();
            if (!pointDone && pointNeeded) out += DecimalSeparator;
            pointDone = true;
        } else if (c == ',') {
            // a flag only
        } else if (sec.Scientific && IsExponentAt(s, i)) {
            emitLeading();
            const bool forceSign = s[i + 1] == '+';
            size_t j = i + 2;
            int minDigits = 0;
            while (j < s.size() && s[j] == '0') ++minDigits, ++j;
            const int exponent = rec.Digits.empty() ? 0 : rec.Exponent - sec.DecimalIndex;
            out += c;
            out += ExponentText(exponent, forceSign, std::min(minDigits, 4));
            i = j - 1;
            exponentDone = true;
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

std::string FormatFloat(const std::string& format, long double value) {
    if (format.empty() || std::isnan(value) || std::isinf(value)) return FloatToStr(value);
    const std::vector<std::string> texts = SplitSections(format);
    auto section = [&](size_t i) {
        return i < texts.size() && !texts[i].empty() ? ScanSection(texts[i]) : ScanSection(texts[0]);
    };
    const bool negative = value < 0;
    TSection sec = section(negative ? 1 : 0);
    bool minus = negative && !(texts.size() > 1 && !texts[1].empty());
    if (!sec.Scientific && std::fabs(value) >= 1e18L) return FloatToStr(value);
    auto round = [&](const TSection& s) {
        return s.Scientific ? FloatToDecimal(value, std::max(s.DigitCount, 1), kNoDecimals)
                            : FloatToDecimal(value, 18, s.DigitCount - s.DecimalIndex);
    };
    TFloatRec rec = round(sec);
    if (rec.Digits.empty()) {
        // Zero, or rounded to zero at the section's decimals: the zero section, no sign.
        sec = section(2);
        minus = false;
        rec = round(sec);
        rec.Digits.clear();
        rec.Exponent = 0;
    }
    return ApplySection(sec, rec, minus);
}

namespace {

bool IsBlank(char c) { return c == ' '; }

// The integer scan plug-ins and stored settings rely on: leading blanks, sign, "$"/"0x"/"x" hexadecimal
// or decimal digits, nothing after. Decimal values must fit the signed range;
// hexadecimal ones the unsigned range of `bits`.
bool ScanInteger(const std::string& text, int bits, std::int64_t& value) {
    size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    int base = 10;
    if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= text.size()) return false;
    const std::uint64_t limit = base == 16 ? (bits == 64 ? ~0ull : (1ull << bits) - 1)
                                           : (1ull << (bits - 1)) - (negative ? 0 : 1);
    std::uint64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return false;
        if (magnitude > (limit - static_cast<std::uint64_t>(d)) / static_cast<std::uint64_t>(base))
            return false;
        magnitude = magnitude * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(d);
    }
    if (negative) magnitude = 0 - magnitude;
    if (bits == 32) {
        value = static_cast<std::int32_t>(static_cast<std::uint32_t>(magnitude));
    } else {
        value = static_cast<std::int64_t>(magnitude);
    }
    return true;
}

[[noreturn]] void RaiseNotInteger(const std::string& text) {
    throw EConvertError("'" + text + "' is not a valid integer value");
}

}  // namespace

bool TryStrToInt(const std::string& text, std::int32_t& value) {
    std::int64_t v;
    if (!ScanInteger(text, 32, v)) return false;
    value = static_cast<std::int32_t>(v);
    return true;
}

std::int32_t StrToInt(const std::string& text) {
    std::int32_t v;
    if (!TryStrToInt(text, v)) RaiseNotInteger(text);
    return v;
}

std::int32_t StrToIntDef(const std::string& text, std::int32_t fallback) {
    std::int32_t v;
    return TryStrToInt(text, v) ? v : fallback;
}

bool TryStrToInt64(const std::string& text, std::int64_t& value) {
    return ScanInteger(text, 64, value);
}

std::int64_t StrToInt64(const std::string& text) {
    std::int64_t v;
    if (!TryStrToInt64(text, v)) RaiseNotInteger(text);
    return v;
}

std::int64_t StrToInt64Def(const std::string& text, std::int64_t fallback) {
    std::int64_t v;
    return TryStrToInt64(text, v) ? v : fallback;
}

namespace {

// Roughly log10 of a well-formed unsigned decimal text: the position of its
// first significant digit relative to the point, plus its exponent.
long long DecimalMagnitude(const std::string& text) {
    const auto e = text.find_first_of("eE");
    const std::string mantissa = text.substr(0, e);
    long long exponent = 0;
    if (e != std::string::npos) {
        size_t i = e + 1;
        const bool negative = text[i] == '-';
        if (text[i] == '+' || text[i] == '-') ++i;
        for (; i < text.size(); ++i) exponent = std::min(exponent * 10 + (text[i] - '0'), 1000000000LL);
        if (negative) exponent = -exponent;
    }
    const auto point = mantissa.find(DecimalSeparator);
    const auto first = mantissa.find_first_of("123456789");
    if (first == std::string::npos) return -1000000000LL;  // zero
    const long long intEnd = point == std::string::npos ? static_cast<long long>(mantissa.size())
                                                        : static_cast<long long>(point);
    const long long pos = static_cast<long long>(first);
    return (pos < intEnd ? intEnd - pos - 1 : intEnd - pos) + exponent;
}

}  // namespace

bool ScanDecimalText(std::string_view text, TDecimalText& parts) {
    size_t b = 0, e = text.size();
    while (b < e && IsBlank(text[b])) ++b;
    while (e > b && IsBlank(text[e - 1])) --e;
    size_t i = b;
    const bool negative = i < e && text[i] == '-';
    if (i < e && (text[i] == '+' || text[i] == '-')) ++i;
    const size_t mantissa = i;
    int digits = 0;
    while (i < e && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
    if (i < e && text[i] == DecimalSeparator) {
        ++i;
        while (i < e && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
    }
    if (digits == 0) return false;
    if (i < e && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < e && (text[i] == '+' || text[i] == '-')) ++i;
        int expDigits = 0;
        while (i < e && text[i] >= '0' && text[i] <= '9') ++i, ++expDigits;
        if (expDigits == 0) return false;
    }
    if (i != e) return false;
    parts = {b, mantissa, e, negative};
    return true;
}

bool TryStrToFloat(const std::string& text, long double& value) {
    // Check the shape first: from_chars alone would accept "inf", "nan" and hex.
    TDecimalText parts;
    if (!ScanDecimalText(text, parts)) return false;
    const size_t b = parts.Begin, mantissa = parts.Mantissa, e = parts.End;
    std::string normal(text, mantissa, e - mantissa);
    if (normal[0] == DecimalSeparator) normal.insert(0, 1, '0');
    long double v = 0;
    const auto res = std::from_chars(normal.data(), normal.data() + normal.size(), v);
    if (res.ec == std::errc::result_out_of_range) {
        // Too small is zero, too large is not a number we can hold.
        if (DecimalMagnitude(normal) >= 0) return false;
        v = 0;
    } else if (res.ec != std::errc() || std::isinf(v)) {
        return false;
    }
    value = text[b] == '-' ? -v : v;
    return true;
}

bool TryStrToFloat(const std::string& text, double& value) {
    long double v;
    if (!TryStrToFloat(text, v)) return false;
    if (std::fabs(v) > std::numeric_limits<double>::max()) return false;
    value = static_cast<double>(v);
    return true;
}

long double StrToExtended(const std::string& text) {
    long double v;
    if (!TryStrToFloat(text, v))
        throw EConvertError("'" + text + "' is not a valid floating point value");
    return v;
}

double StrToFloat(const std::string& text) {
    double v;
    if (!TryStrToFloat(text, v))
        throw EConvertError("'" + text + "' is not a valid floating point value");
    return v;
}

double StrToFloatDef(const std::string& text, double fallback) {
    double v;
    return TryStrToFloat(text, v) ? v : fallback;
}

std::string IntToStr(std::int64_t value) { return std::to_string(value); }

namespace {

std::string HexText(std::uint64_t value, int digits) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    do {
        out.insert(out.begin(), kHex[value & 15]);
        value >>= 4;
    } while (value != 0);
    if (static_cast<int>(out.size()) < digits)
        out.insert(0, static_cast<size_t>(digits) - out.size(), '0');
    return out;
}

}  // namespace

std::string IntToHex(std::int32_t value, int digits) {
    return HexText(static_cast<std::uint32_t>(value), digits);
}
std::string IntToHex(std::uint32_t value, int digits) { return HexText(value, digits); }
std::string IntToHex(long value, int digits) {
    return HexText(static_cast<std::uint64_t>(value), digits);
}
std::string IntToHex(unsigned long value, int digits) { return HexText(value, digits); }
std::string IntToHex(long long value, int digits) {
    return HexText(static_cast<std::uint64_t>(value), digits);
}
std::string IntToHex(unsigned long long value, int digits) { return HexText(value, digits); }

namespace {

std::int64_t ToInt64(long double value) {
    // 2^63 is exact in long double; anything at or beyond it does not fit.
    constexpr long double kLimit = 9223372036854775808.0L;
    if (std::isnan(value) || value >= kLimit || value < -kLimit)
        throw EInvalidOp("Invalid floating point operation");
    return static_cast<std::int64_t>(value);
}

}  // namespace

std::int64_t Round(long double value) {
    // nearbyint follows the current rounding mode, which is to-nearest-even.
    return ToInt64(std::nearbyint(value));
}

std::int64_t Trunc(long double value) { return ToInt64(std::trunc(value)); }

std::uint32_t TRandomGenerator::Step() {
    RandSeed = RandSeed * 134775813u + 1u;
    return RandSeed;
}

void TRandomGenerator::Randomize() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    RandSeed = static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(now).count());
}

std::int32_t TRandomGenerator::Next(std::int32_t range) {
    const std::uint64_t r = Step();
    if (range <= 0) return 0;
    return static_cast<std::int32_t>((r * static_cast<std::uint64_t>(range)) >> 32);
}

double TRandomGenerator::NextFloat() { return Step() / 4294967296.0; }

TRandomGenerator& RandomGenerator() {
    static TRandomGenerator generator;
    return generator;
}

std::int32_t Random(std::int32_t range) { return RandomGenerator().Next(range); }
double Random() { return RandomGenerator().NextFloat(); }
void Randomize() { RandomGenerator().Randomize(); }

}  // namespace rtl
