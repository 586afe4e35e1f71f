#pragma once
// The receive panel as the fuzz targets drive it: a clock that shows the
// time a target sets, and comparisons of lines.
#include <bit>
#include <cstdint>
#include <string>

#include "terminal/receive_panel.h"

namespace fuzz_support {

class TSetClock final : public terminal::TReceiveClock {
public:
    double Now = 45000.5;
    std::int64_t Ticks = 0;
    double LocalNow() override { return Now; }
    std::int64_t Counter() override { return Ticks; }
    std::int64_t CounterFrequency() override { return 1000000; }
};

// The calendar's date-times (0001-01-01 up to the last millisecond of
// 9999-12-31) from any bits: a stamp the program could have taken.
inline double CalendarTime(std::uint64_t bits) {
    constexpr double kFirst = -693593.0, kSpan = 2958466.0 + 693593.0 - 1.0 / 86400000.0;
    return kFirst + static_cast<double>(bits % (1ull << 52)) / static_cast<double>(1ull << 52) * kSpan;
}

inline bool SameRecord(const terminal::TLineRecord& a, const terminal::TLineRecord& b) {
    return a.Dir == b.Dir && a.Format == b.Format && a.PrefixLen == b.PrefixLen &&
           std::bit_cast<std::uint64_t>(a.Time) == std::bit_cast<std::uint64_t>(b.Time);
}

}  // namespace fuzz_support
