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

inline bool SameRecord(const terminal::TLineRecord& a, const terminal::TLineRecord& b) {
    return a.Dir == b.Dir && a.Format == b.Format && a.PrefixLen == b.PrefixLen &&
           std::bit_cast<std::uint64_t>(a.Time) == std::bit_cast<std::uint64_t>(b.Time);
}

}  // namespace fuzz_support
