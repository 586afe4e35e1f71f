#include "terminal/rs485_timing.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <limits>
#include <string>

#include "support/processor_share.h"

namespace terminal {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::chrono::microseconds TimeOf(std::int64_t microseconds, std::int32_t cpuSpeed) {
    const auto t0 = Clock::now();
    RS485Wait(microseconds, cpuSpeed);
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - t0);
}

TEST(rs485_timing, frame_time_counts_start_data_parity_and_stop_bits_in_64_bits) {
    using namespace ports;
    // 10 bytes of 8N1 at 9600 baud: 10 * 1000000 * 10 div 9600 + 200.
    EXPECT_EQ(RS485FrameMicroseconds(db8BITS, ptNONE, sb1BITS, 10, 9600), 10616);
    // Parity adds a bit, 1.5 stop bits count as one, two as two.
    EXPECT_EQ(RS485FrameMicroseconds(db8BITS, ptEVEN, sb1BITS, 10, 9600), 11658);
    EXPECT_EQ(RS485FrameMicroseconds(db8BITS, ptNONE, sb1HALFBITS, 10, 9600), 10616);
    EXPECT_EQ(RS485FrameMicroseconds(db7BITS, ptMARK, sb2BITS, 3, 300), 110200);
    EXPECT_EQ(RS485FrameMicroseconds(db5BITS, ptNONE, sb1BITS, 1, 115200), 200 + 7000000 / 115200);
    // 64 KB at 9600 baud lasts over a minute; the product is far beyond 32 bits.
    EXPECT_EQ(RS485FrameMicroseconds(db8BITS, ptNONE, sb1BITS, 65536, 9600), 68266866);
    // Nothing sent, or no rate: the margin alone.
    EXPECT_EQ(RS485FrameMicroseconds(db8BITS, ptNONE, sb1BITS, 0, 9600), 200);
    EXPECT_EQ(RS485FrameMicroseconds(db8BITS, ptNONE, sb1BITS, 10, 0), 200);
}

TEST(rs485_timing, wait_ticks_keep_their_kilohertz_meaning_past_32_bits) {
    EXPECT_EQ(RS485WaitTicks(10616, 3000000), 31848000);
    // A minute at 3 GHz is far more than 2^32 ticks.
    EXPECT_EQ(RS485WaitTicks(68266866, 3000000), 204800598000LL);
    EXPECT_GT(RS485WaitTicks(68266866, 3000000), std::int64_t{1} << 32);
    EXPECT_EQ(RS485WaitTicks(7, 1500), 10);  // 10.5 to the nearest even tick
    EXPECT_EQ(RS485WaitTicks(1000, 0), 0);
    EXPECT_EQ(RS485WaitTicks(1000, -5), 0);
    EXPECT_EQ(RS485WaitTicks(-1, 3000000), 0);
}

TEST(rs485_timing, wait_lasts_at_least_the_time_asked_and_not_grossly_more) {
    const std::int32_t speed = MeasureCpuSpeed(200ms);
    ASSERT_GT(speed, 1000);  // a counter of at least 1 MHz

    // The rate is itself measured against the system clock, so it may be a
    // hair off; 1% covers that and nothing coarser. The upper bounds leave
    // room for a loaded machine that runs the thread late, and still catch
    // a wait a thousand times too long.
    // (Each wait judged by the time the test was given: one that a busy
    // machine kept from running is void.)
    test_support::TimeBounds bounds;
    const auto timed = [&](std::int64_t us, std::int32_t cpuSpeed, std::chrono::milliseconds bound,
                           const std::string& what) {
        const test_support::ProcessorShare share;
        const auto took = TimeOf(us, cpuSpeed);
        EXPECT_TRUE(bounds.Within(share, bound, what)) << us;
        return took;
    };
    for (std::int64_t us : {2000, 20000}) {
        const auto took = timed(us, speed, 1000ms, "a wait of " + std::to_string(us) + " us");
        EXPECT_GE(took.count(), us - us / 100) << us;
    }

    // Not measured: no wait at all (rather than the second asked).
    timed(1000000, 0, 500ms, "a wait without a measured rate");
    // A rate far above the real one (a settings file from another machine)
    // holds the thread for a bounded time only: twice the time asked plus
    // 50 ms, where the counter alone would spin for many seconds.
    timed(20000, std::numeric_limits<std::int32_t>::max(), 2s, "a wait at a rate far too high");
    if (bounds.Void()) GTEST_SKIP() << bounds.Text();
}

TEST(rs485_timing, priority_change_is_applied_when_permitted_and_undone) {
    errno = 0;
    const int before = getpriority(PRIO_PROCESS, 0);

    if (SetRS485Priority(true)) {
        EXPECT_EQ(getpriority(PRIO_PROCESS, 0), -11);
    } else {
        EXPECT_EQ(getpriority(PRIO_PROCESS, 0), before);
    }

    const int during = getpriority(PRIO_PROCESS, 0);
    if (SetRS485Priority(false)) {
        EXPECT_EQ(getpriority(PRIO_PROCESS, 0), 0);
    } else {
        EXPECT_EQ(getpriority(PRIO_PROCESS, 0), during);
    }
    setpriority(PRIO_PROCESS, 0, before);
}

}  // namespace
}  // namespace terminal
