#include "platform/rtl/float_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace rtl::detail {

namespace {

// Rounds the digit string at `keep` digits, half away from zero. Returns the
// exponent change (1 when 999.. became 1000..).
int RoundDigits(std::string& digits, int keep) {
    if (keep >= static_cast<int>(digits.size())) return 0;
    if (keep < 0) {
        digits.clear();
        return 0;
    }
    const bool up = digits[static_cast<size_t>(keep)] >= '5';
    digits.resize(static_cast<size_t>(keep));
    if (!up) return 0;
    for (int i = keep - 1; i >= 0; --i) {
        char& d = digits[static_cast<size_t>(i)];
        if (d != '9') {
            ++d;
            return 0;
        }
        d = '0';
    }
    // All nines: 0.99.. became 1.00..; keep the digit count (at least one).
    digits.insert(digits.begin(), '1');
    if (digits.size() > 1) digits.pop_back();
    return 1;
}

}  // namespace

TFloatRec FloatToDecimal(long double value, int precision, int decimals) {
    TFloatRec rec;
    if (std::isnan(value)) {
        rec.kind = TFloatRec::Kind::NaN;
        return rec;
    }
    rec.Negative = std::signbit(value);
    if (std::isinf(value)) {
        rec.kind = TFloatRec::Kind::Inf;
        return rec;
    }
    precision = std::clamp(precision, 1, 18);
    if (value == 0) {
        rec.Negative = false;
        return rec;
    }
    char buf[64];
    const auto res =
        std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific,
                      precision - 1);
    const std::string text(buf, res.ptr);
    const auto e = text.find('e');
    for (size_t i = 0; i < e; ++i)
        if (text[i] != '.') rec.Digits.push_back(text[i]);
    int exp10 = 0;
    std::from_chars(text.data() + e + 1 + (text[e + 1] == '+' ? 1 : 0), text.data() + text.size(),
                    exp10);
    rec.Exponent = exp10 + 1;
    if (decimals != kNoDecimals) {
        rec.Exponent += RoundDigits(rec.Digits, rec.Exponent + decimals);
    }
    while (!rec.Digits.empty() && rec.Digits.back() == '0') rec.Digits.pop_back();
    if (rec.Digits.empty()) {
        rec.Exponent = 0;
        rec.Negative = false;
    }
    return rec;
}

}  // namespace rtl::detail
