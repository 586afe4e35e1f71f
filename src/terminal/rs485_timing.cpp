#include "terminal/rs485_timing.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <x86intrin.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <limits>
#include <thread>

namespace terminal {
namespace {

using Clock = std::chrono::steady_clock;

// Nice values that stand for the high priority class with an above-normal
// GUI thread, and for normal.
constexpr int kRS485Nice = -11;
constexpr int kNormalNice = 0;

std::uint64_t Ticks() { return __rdtsc(); }

// Raises the calling thread to the top real-time priority while it lives,
// when the system allows it; puts the previous policy back at the end.
class RealTimeScope {
public:
    RealTimeScope() {
        if (pthread_getschedparam(pthread_self(), &policy_, &param_) != 0) return;
        sched_param top{};
        top.sched_priority = sched_get_priority_max(SCHED_FIFO);
        raised_ = pthread_setschedparam(pthread_self(), SCHED_FIFO, &top) == 0;
    }
    ~RealTimeScope() {
        if (raised_) pthread_setschedparam(pthread_self(), policy_, &param_);
    }
    RealTimeScope(const RealTimeScope&) = delete;
    RealTimeScope& operator=(const RealTimeScope&) = delete;

private:
    int policy_ = SCHED_OTHER;
    sched_param param_{};
    bool raised_ = false;
};

}  // namespace

std::int64_t RS485FrameMicroseconds(ports::TDataBits DataBits, ports::TParity Parity, ports::TStopBits StopBits,
                                    std::int64_t Bytes, std::int64_t BaudRate) {
    constexpr std::int64_t kMargin = 200;
    if (BaudRate <= 0 || Bytes <= 0) return kMargin;
    const std::int64_t dataBits = 5 + static_cast<std::int64_t>(DataBits);
    const std::int64_t parityBits = Parity == ports::ptNONE ? 0 : 1;
    const std::int64_t stopBits = StopBits == ports::sb2BITS ? 2 : 1;
    const std::int64_t bitsPerByte = 1 + dataBits + parityBits + stopBits;
    return bitsPerByte * 1000000 * Bytes / BaudRate + kMargin;
}

std::int64_t RS485WaitTicks(std::int64_t Microseconds, std::int32_t CPUSpeed) {
    if (Microseconds <= 0 || CPUSpeed <= 0) return 0;
    const double ticks = std::nearbyint(static_cast<double>(CPUSpeed) / 1000.0 * static_cast<double>(Microseconds));
    if (ticks >= static_cast<double>(std::numeric_limits<std::int64_t>::max())) return std::numeric_limits<std::int64_t>::max();
    return static_cast<std::int64_t>(ticks);
}

void RS485Wait(std::int64_t Microseconds, std::int32_t CPUSpeed) {
    const std::int64_t ticks = RS485WaitTicks(Microseconds, CPUSpeed);
    if (ticks <= 0) return;
    const std::uint64_t start = Ticks();
    // Bounds the wait when the stored rate is far off; checked only now and
    // then so the loop stays close to the counter.
    const std::int64_t boundUs = std::min<std::int64_t>(Microseconds, 1'000'000'000'000);
    const Clock::time_point limit = Clock::now() + std::chrono::microseconds(boundUs * 2) + std::chrono::milliseconds(50);
    for (unsigned spins = 0;; ++spins) {
        if (Ticks() - start >= static_cast<std::uint64_t>(ticks)) return;
        if ((spins & 255u) == 0 && Clock::now() >= limit) return;
    }
}

std::int32_t MeasureCpuSpeed(std::chrono::milliseconds span) {
    if (span.count() <= 0) span = std::chrono::milliseconds(1);
    const RealTimeScope realTime;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const Clock::time_point t0 = Clock::now();
    const std::uint64_t c0 = Ticks();
    std::this_thread::sleep_for(span);
    const std::uint64_t c1 = Ticks();
    const Clock::time_point t1 = Clock::now();
    // Divided by the time that really passed, which a sleep overshoots.
    const auto elapsedUs = std::chrono::duration_cast<std::chrono::microseconds>(t1 - t0).count();
    if (elapsedUs <= 0) return 0;
    const long double kHz = static_cast<long double>(c1 - c0) * 1000.0L / static_cast<long double>(elapsedUs);
    if (kHz >= static_cast<long double>(std::numeric_limits<std::int32_t>::max()))
        return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(std::llround(kHz));
}

bool SetRS485Priority(bool On) {
    // On Linux the nice value of PRIO_PROCESS 0 is that of the calling
    // thread, the GUI thread here.
    errno = 0;
    return setpriority(PRIO_PROCESS, 0, On ? kRS485Nice : kNormalNice) == 0;
}

}  // namespace terminal
