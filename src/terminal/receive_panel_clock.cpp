#include "terminal/receive_panel_clock.h"

#include <chrono>
#include <ctime>

namespace terminal {

double TSystemReceiveClock::LocalNow() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    // The zone offset (with daylight saving) turns UTC seconds into local ones.
    const long long localSeconds = static_cast<long long>(seconds) + local.tm_gmtoff;
    const long long ms =
        duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    const long long msSinceUnix = localSeconds * 1000 + (ms < 0 ? ms + 1000 : ms);
    // 25569 days lie between 1899-12-30 and 1970-01-01.
    return 25569.0 + static_cast<double>(msSinceUnix) / 86400000.0;
}

std::int64_t TSystemReceiveClock::Counter() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::int64_t TSystemReceiveClock::CounterFrequency() { return 1000000000; }

}  // namespace terminal
