#include "platform/win/timers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/win/loop_entry.h"
#include "support/processor_share.h"
#include "support/qt_app.h"

namespace {

using namespace std::chrono_literals;

std::atomic<int> g_fired{0};
std::atomic<win::MMRESULT> g_selfKill{0};

void CountTick(std::uint32_t, std::uint32_t, win::DWORD_PTR user, win::DWORD_PTR, win::DWORD_PTR) {
    reinterpret_cast<std::atomic<int>*>(user)->fetch_add(1);
}

void KillSelf(std::uint32_t id, std::uint32_t, win::DWORD_PTR, win::DWORD_PTR, win::DWORD_PTR) {
    ++g_fired;
    g_selfKill = win::timeKillEvent(id);
}

void FailTick(std::uint32_t, std::uint32_t, win::DWORD_PTR user, win::DWORD_PTR, win::DWORD_PTR) {
    const int n = reinterpret_cast<std::atomic<int>*>(user)->fetch_add(1) + 1;
    throw std::runtime_error("tick " + std::to_string(n) + " failed");
}

TEST(timers, clocks_are_monotonic_and_in_the_stated_units) {
    std::int64_t f = 0, c0 = 0, c1 = 0;
    ASSERT_TRUE(win::QueryPerformanceFrequency(&f));
    EXPECT_EQ(f, 1000000000);
    test_support::TimeBounds bounds;
    const test_support::ProcessorShare share;
    ASSERT_TRUE(win::QueryPerformanceCounter(&c0));
    win::DWORD t0 = win::GetTickCount();
    std::this_thread::sleep_for(20ms);
    win::DWORD t1 = win::GetTickCount();
    ASSERT_TRUE(win::QueryPerformanceCounter(&c1));
    EXPECT_GE(static_cast<win::DWORD>(t1 - t0), 19u);
    // Far less than two seconds in milliseconds, unless the nap ended that
    // late only because this thread waited for a processor.
    EXPECT_TRUE(bounds.Within(share, std::chrono::milliseconds(static_cast<win::DWORD>(t1 - t0)), 1999ms,
                              "the tick count over a nap of 20 ms"));
    EXPECT_GE(c1 - c0, 19000000);
    EXPECT_FALSE(win::QueryPerformanceCounter(nullptr));
    if (bounds.Void()) GTEST_SKIP() << bounds.Text();
}

TEST(timers, device_caps_and_period_requests) {
    win::TIMECAPS caps{};
    ASSERT_EQ(win::timeGetDevCaps(&caps, sizeof caps), win::TIMERR_NOERROR);
    EXPECT_EQ(caps.wPeriodMin, 1u);
    EXPECT_GE(caps.wPeriodMax, 1000u);
    EXPECT_EQ(win::timeGetDevCaps(nullptr, sizeof caps), win::TIMERR_NOCANDO);
    EXPECT_EQ(win::timeBeginPeriod(1), win::TIMERR_NOERROR);
    EXPECT_EQ(win::timeBeginPeriod(0), win::TIMERR_NOCANDO);
}

TEST(timers, periodic_timer_fires_until_killed_and_never_after) {
    std::atomic<int> count{0};
    win::MMRESULT id =
        win::timeSetEvent(2, 0, CountTick, reinterpret_cast<win::DWORD_PTR>(&count), win::TIME_PERIODIC);
    ASSERT_NE(id, 0u);
    for (test_support::GivenTimeLimit limit(2s); count < 5 && !limit.Passed();) std::this_thread::sleep_for(1ms);
    EXPECT_GE(count.load(), 5);
    EXPECT_EQ(win::timeKillEvent(id), win::TIMERR_NOERROR);
    int atKill = count;
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(count.load(), atKill);
    EXPECT_EQ(win::timeKillEvent(id), win::MMSYSERR_INVALPARAM);
    EXPECT_EQ(win::timeSetEvent(0, 0, CountTick, 0, win::TIME_PERIODIC), 0u);
    EXPECT_EQ(win::timeSetEvent(5, 0, nullptr, 0, win::TIME_PERIODIC), 0u);
}

TEST(timers, a_timer_may_kill_itself_from_its_callback) {
    win::MMRESULT id = win::timeSetEvent(1, 0, KillSelf, 0, win::TIME_PERIODIC);
    ASSERT_NE(id, 0u);
    for (test_support::GivenTimeLimit limit(2s); g_fired == 0 && !limit.Passed();) std::this_thread::sleep_for(1ms);
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(g_fired.load(), 1);
    EXPECT_EQ(g_selfKill.load(), win::TIMERR_NOERROR);
}

// A callback that fails loses its tick, never its failure: each one reaches
// the loop's error handler on the GUI thread, in order, the ones after the
// first as repeats, and the timer goes on ticking meanwhile.
TEST(timers, a_failing_callback_reaches_the_loop_error_handler_on_the_gui_thread) {
    test_support::EnsureQtApplication();
    struct Report {
        std::string text;
        bool repeated;
        bool onGuiThread;
    };
    std::vector<Report> reports;
    const auto gui = std::this_thread::get_id();
    win::SetLoopErrorHandler([&](std::exception_ptr e, bool repeated) {
        try {
            std::rethrow_exception(e);
        } catch (const std::exception& x) {
            reports.push_back({x.what(), repeated, std::this_thread::get_id() == gui});
        }
    });
    struct HandlerReset {
        ~HandlerReset() { win::SetLoopErrorHandler(nullptr); }
    } reset;

    std::atomic<int> thrown{0};
    win::MMRESULT id = win::timeSetEvent(2, 0, FailTick, reinterpret_cast<win::DWORD_PTR>(&thrown), win::TIME_PERIODIC);
    ASSERT_NE(id, 0u);
    ASSERT_TRUE(test_support::PumpUntil([&] { return reports.size() >= 3; }));
    EXPECT_EQ(win::timeKillEvent(id), win::TIMERR_NOERROR);
    // Every failure raised before the kill arrives, none is lost.
    const auto all = static_cast<std::size_t>(thrown.load());
    ASSERT_TRUE(test_support::PumpUntil([&] { return reports.size() == all; }));
    for (std::size_t i = 0; i < reports.size(); ++i) {
        EXPECT_EQ(reports[i].text, "tick " + std::to_string(i + 1) + " failed");
        EXPECT_EQ(reports[i].repeated, i > 0);
        EXPECT_TRUE(reports[i].onGuiThread);
    }
}

}  // namespace
