// The runtime's number and date-time text routines on any text. Integer
// text either reads as a value that writes and reads back the same, or is
// refused alike by every reading routine. Float text that reads writes back
// in the general format to text that reads to the same 15 digits, and in 17
// exponent digits to text that reads to exactly the same value. The text as
// a Format, FormatFloat or FormatDateTime pattern either formats or raises
// the conversion error; dates and times within the calendar decode to parts
// that encode back to the same moment, to the millisecond.
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "platform/rtl/datetime.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/format.h"
#include "platform/rtl/numbers.h"

namespace {

using fuzz_support::Check;

void Integers(const std::string& text) {
    std::int32_t v32 = 0;
    const bool ok32 = rtl::TryStrToInt(text, v32);
    Check(rtl::StrToIntDef(text, 7) == (ok32 ? v32 : 7));
    try {
        Check(rtl::StrToInt(text) == v32 && ok32);
    } catch (const rtl::EConvertError&) {
        Check(!ok32);
    }
    if (ok32) {
        Check(rtl::StrToInt(rtl::IntToStr(v32)) == v32);
        Check(rtl::StrToInt("$" + rtl::IntToHex(v32, 8)) == v32);
    }
    std::int64_t v64 = 0;
    const bool ok64 = rtl::TryStrToInt64(text, v64);
    // What fits 32 bits fits 64; a decimal value reads the same in both.
    if (ok32) Check(ok64);
    if (ok64) {
        Check(rtl::StrToInt64(rtl::IntToStr(v64)) == v64);
        Check(rtl::StrToInt64("$" + rtl::IntToHex(static_cast<long long>(v64), 16)) == v64);
    }
}

void Floats(double v) {
    Check(std::isfinite(v));
    const std::string exact = rtl::FloatToStrF(v, rtl::TFloatFormat::ffExponent, 17, 0);
    Check(std::bit_cast<std::uint64_t>(rtl::StrToFloat(exact)) == std::bit_cast<std::uint64_t>(v) || v == 0);
    // The general format keeps 15 digits, which round the largest doubles
    // past the double's range: that text does not read back (the point files
    // write more digits for exactly these values).
    if (std::fabs(v) >= 1.797693134862315e308) return;
    const std::string general = rtl::FloatToStr(v);
    const double back = rtl::StrToFloat(general);
    Check(fuzz_support::Same15(v, back) && rtl::FloatToStr(back) == general);
    try {
        (void)rtl::Round(v);
        (void)rtl::Trunc(v);
    } catch (const rtl::EInvalidOp&) {
        Check(std::fabs(v) >= 9.2e18);
    }
}

void Patterns(const std::string& text, double v, std::int64_t i) {
    try {
        (void)rtl::Format(text, {v, static_cast<int>(i), text, i, 'c', true});
    } catch (const rtl::EConvertError&) {
    }
    (void)rtl::FormatFloat(text, v);
    for (int format = 0; format < 5; ++format)
        (void)rtl::FloatToStrF(v, static_cast<rtl::TFloatFormat>(format), static_cast<int>(i % 20), static_cast<int>(i / 20 % 20));
}

void Times(const std::string& text, double t) {
    int year, month, day, hour, min, sec, msec;
    rtl::DecodeDate(t, year, month, day);
    rtl::DecodeTime(t, hour, min, sec, msec);
    const double date = rtl::EncodeDate(year, month, day);
    const double time = rtl::EncodeTime(hour, min, sec, msec);
    const double back = t < 0 ? date - time : date + time;
    Check(std::fabs(back - t) <= 0.5000001 / rtl::MSecsPerDay + std::fabs(t) * 1e-15);
    Check(rtl::DayOfWeek(t) >= 1 && rtl::DayOfWeek(t) <= 7);
    (void)rtl::FormatDateTime(text, t);
    (void)rtl::DateTimeToStr(t);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(fuzz_support::Bytes(data, size));
    Integers(text);
    std::uint64_t bits = 0;
    std::memcpy(&bits, data, std::min(size, sizeof bits));
    double v = 0;
    if (!rtl::TryStrToFloat(text, v)) {
        v = std::bit_cast<double>(bits);
        if (!std::isfinite(v)) v = static_cast<double>(bits);
    }
    Floats(v);
    Patterns(text, v, static_cast<std::int64_t>(bits));
    Times(text, fuzz_support::CalendarTime(bits));
    return 0;
}
