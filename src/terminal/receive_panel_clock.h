#pragma once
// Where the receive panel's time stamps come from: the local date and time,
// and a high-resolution counter for precise stamps. The panel takes the clock
// as an object so that tests can set the time.
#include <cstdint>

namespace terminal {

class TReceiveClock {
public:
    virtual ~TReceiveClock() = default;
    // Current local date and time, days since 1899-12-30.
    virtual double LocalNow() = 0;
    // A monotonic counter and its ticks per second.
    virtual std::int64_t Counter() = 0;
    virtual std::int64_t CounterFrequency() = 0;
};

// The machine's clocks: the system time in the local time zone, and the
// monotonic clock in nanoseconds.
class TSystemReceiveClock final : public TReceiveClock {
public:
    double LocalNow() override;
    std::int64_t Counter() override;
    std::int64_t CounterFrequency() override;
};

}  // namespace terminal
