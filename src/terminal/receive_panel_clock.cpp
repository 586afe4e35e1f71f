#include "terminal/receive_panel_clock.h"

#include <chrono>

#include "platform/rtl/datetime.h"

namespace terminal {

double TSystemReceiveClock::LocalNow() { return rtl::Now(); }

std::int64_t TSystemReceiveClock::Counter() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::int64_t TSystemReceiveClock::CounterFrequency() { return 1000000000; }

}  // namespace terminal
