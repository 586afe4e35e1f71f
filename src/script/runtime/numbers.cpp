#include "script/runtime/numbers.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "script/runtime/errors.h"

namespace script::runtime {

namespace {

constexpr long double kTwoPow63 = 9223372036854775808.0L;

[[noreturn]] void Overflow() { throw EPSMathError("Floating point overflow"); }
[[noreturn]] void Invalid() { throw EPSMathError("Invalid floating point operation"); }

}  // namespace

std::int64_t RoundToInt64(long double v) {
    if (std::isnan(v)) Invalid();
    if (!(v >= -kTwoPow63 && v < kTwoPow63)) Invalid();
    long double r = std::floor(v);
    const long double diff = v - r;
    if (diff > 0.5L || (diff == 0.5L && std::fmod(r, 2.0L) != 0)) r += 1;
    if (r >= kTwoPow63) Invalid();
    return static_cast<std::int64_t>(r);
}

std::int64_t RoundToCurrency(long double amount) { return RoundToInt64(amount * kCurrencyScale); }

std::int64_t IntToCurrency(std::int64_t v) {
    std::int64_t out = 0;
    if (__builtin_mul_overflow(v, kCurrencyScale, &out)) Invalid();
    return out;
}

long double CurrencyToReal(std::int64_t scaled) {
    return static_cast<long double>(scaled) / static_cast<long double>(kCurrencyScale);
}

std::int64_t CurrencyToInt(std::int64_t scaled) {
    std::int64_t q = scaled / kCurrencyScale;
    const std::int64_t r = scaled % kCurrencyScale;
    const std::int64_t half = kCurrencyScale / 2;
    const std::int64_t step = scaled < 0 ? -1 : 1;
    const std::int64_t mag = r < 0 ? -r : r;
    if (mag > half || (mag == half && (q % 2) != 0)) q += step;
    return q;
}

float NarrowToSingle(long double v) {
    if (std::isfinite(v) && std::fabs(v) > std::numeric_limits<float>::max()) {
        // Values that round to the largest Single are still in range.
        if (std::fabs(v) >= 0x1.ffffffp127L) Overflow();
        return v < 0 ? -std::numeric_limits<float>::max() : std::numeric_limits<float>::max();
    }
    return static_cast<float>(v);
}

double NarrowToDouble(long double v) {
    if (std::isfinite(v) && std::fabs(v) > std::numeric_limits<double>::max()) {
        if (std::fabs(v) >= 0x1.fffffffffffff8p1023L) Overflow();
        return v < 0 ? -std::numeric_limits<double>::max() : std::numeric_limits<double>::max();
    }
    return static_cast<double>(v);
}

long double CheckFloatResult(long double result, long double a, long double b) {
    if (std::isnan(result) && !std::isnan(a) && !std::isnan(b)) Invalid();
    if (std::isinf(result) && std::isfinite(a) && std::isfinite(b)) Overflow();
    return result;
}

std::size_t IntegerDigits(std::int64_t v, char* out) {
    return static_cast<std::size_t>(std::to_chars(out, out + 24, v).ptr - out);
}

std::string IntegerText(std::int64_t v) {
    char buf[24];
    return std::string(buf, IntegerDigits(v, buf));
}

std::string UnsignedText(std::uint64_t v) {
    char buf[24];
    const auto res = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, res.ptr);
}

std::string FloatText(double v, int significant_digits) {
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, significant_digits);
    return std::string(buf, res.ptr);
}

std::string CurrencyText(std::int64_t scaled) {
    const bool negative = scaled < 0;
    // The magnitude of the most negative value still fits unsigned.
    const std::uint64_t mag = negative ? 0 - static_cast<std::uint64_t>(scaled) : static_cast<std::uint64_t>(scaled);
    std::string text = (negative ? "-" : "") + UnsignedText(mag / kCurrencyScale);
    std::uint64_t frac = mag % kCurrencyScale;
    if (frac != 0) {
        std::string digits = UnsignedText(frac);
        digits.insert(0, 4 - digits.size(), '0');
        while (digits.back() == '0') digits.pop_back();
        text += "." + digits;
    }
    return text;
}

bool DateText(double days, std::string& text) {
    // Days from 1899-12-30 to 0001-01-01 and to 9999-12-31.
    if (!(days > -693594.0 && days < 2958466.0)) return false;
    const std::int64_t whole = static_cast<std::int64_t>(days);  // toward zero, as the format counts
    std::int64_t ms = static_cast<std::int64_t>(std::llround(std::fabs(days - static_cast<double>(whole)) * 86400000.0));
    if (ms >= 86400000) ms = 86399999;
    // Civil date of a day count from 1970-01-01 (1899-12-30 is day -25569).
    std::int64_t z = whole - 25569 + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const std::int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const std::int64_t m = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t y = yoe + era * 400 + (m <= 2 ? 1 : 0);
    char buf[48];
    int n = std::snprintf(buf, sizeof buf, "%02d.%02d.%04d", static_cast<int>(d), static_cast<int>(m), static_cast<int>(y));
    if (ms != 0) {
        const std::int64_t secs = ms / 1000;
        n += std::snprintf(buf + n, sizeof buf - static_cast<std::size_t>(n), " %02d:%02d:%02d",
                           static_cast<int>(secs / 3600), static_cast<int>(secs / 60 % 60), static_cast<int>(secs % 60));
    }
    text.assign(buf, static_cast<std::size_t>(n));
    return true;
}

bool ParseNumberText(std::string_view text, bool& is_integer, std::int64_t& integer, double& real) {
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return false;
    const char* begin = text.data();
    const char* end = begin + text.size();

    int base = 10;
    if (text.front() == '$') {
        base = 16;
        ++begin;
    } else if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        begin += 2;
    }
    if (begin == end) return false;
    std::uint64_t mag = 0;
    const auto ires = std::from_chars(begin, end, mag, base);
    if (ires.ec == std::errc() && ires.ptr == end) {
        const std::uint64_t limit = negative ? std::uint64_t{1} << 63 : (std::uint64_t{1} << 63) - 1;
        if (mag <= limit) {
            is_integer = true;
            integer = negative ? static_cast<std::int64_t>(0 - mag) : static_cast<std::int64_t>(mag);
            return true;
        }
    }
    if (base == 16) return false;
    // Only digits and a point may start a float: no "inf" or "nan".
    if (!((text.front() >= '0' && text.front() <= '9') || text.front() == '.')) return false;
    double v = 0;
    const auto fres = std::from_chars(begin, end, v, std::chars_format::general);
    if (fres.ec != std::errc() || fres.ptr != end) return false;
    is_integer = false;
    real = negative ? -v : v;
    return true;
}

}  // namespace script::runtime
