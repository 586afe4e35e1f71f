#include "platform/win/message_window.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QTimer>

#include <atomic>
#include <stdexcept>
#include <string>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/win/guarded_notifier.h"
#include "support/qt_app.h"
#include "support/processor_share.h"

namespace {

using namespace std::chrono_literals;

using test_support::PumpUntil;

struct Seen {
    win::UINT msg;
    win::WPARAM wParam;
    win::LPARAM lParam;
};

TEST(message_window, posted_messages_arrive_in_order_and_send_calls_at_once) {
    test_support::EnsureQtApplication();
    std::vector<Seen> seen;
    win::HWND wnd = win::AllocateHWnd(
        [&](win::HWND, win::UINT m, win::WPARAM w, win::LPARAM l) -> win::LRESULT {
            seen.push_back({m, w, l});
            return static_cast<win::LRESULT>(w) * 2;
        },
        "CPDrvWnd");
    ASSERT_NE(wnd, 0u);
    EXPECT_EQ(win::GetWindowText(wnd), "CPDrvWnd");
    EXPECT_TRUE(win::PostMessage(wnd, win::WM_USER + 1, 7, -3));
    EXPECT_TRUE(win::PostMessage(wnd, win::WM_USER + 2, 8, 0));
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(win::SendMessage(wnd, win::WM_USER, 21, 0), 42);
    ASSERT_EQ(seen.size(), 1u);
    ASSERT_TRUE(PumpUntil([&] { return seen.size() == 3; }));
    EXPECT_EQ(seen[1].msg, win::WM_USER + 1);
    EXPECT_EQ(seen[1].wParam, 7u);
    EXPECT_EQ(seen[1].lParam, -3);
    EXPECT_EQ(seen[2].msg, win::WM_USER + 2);
    win::DeallocateHWnd(wnd);
    EXPECT_EQ(win::GetWindowText(wnd), "");
    EXPECT_FALSE(win::PostMessage(wnd, win::WM_USER, 0, 0));
    EXPECT_EQ(win::SendMessage(wnd, win::WM_USER, 1, 0), 0);
}

TEST(message_window, messages_pending_for_a_destroyed_window_are_dropped_and_handles_not_reused) {
    test_support::EnsureQtApplication();
    int calls = 0;
    win::HWND first = win::AllocateHWnd([&](win::HWND, win::UINT, win::WPARAM, win::LPARAM) -> win::LRESULT {
        ++calls;
        return 0;
    }, "a");
    ASSERT_TRUE(win::PostMessage(first, win::WM_USER, 0, 0));
    win::DeallocateHWnd(first);
    int secondCalls = 0;
    win::HWND second = win::AllocateHWnd([&](win::HWND, win::UINT, win::WPARAM, win::LPARAM) -> win::LRESULT {
        ++secondCalls;
        return 0;
    }, "b");
    EXPECT_NE(first, second);
    for (int i = 0; i < 20; ++i) win::ProcessMessages();
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(secondCalls, 0);
    win::DeallocateHWnd(second);
}

TEST(message_window, posting_from_another_thread_while_the_window_goes_away_is_safe) {
    test_support::EnsureQtApplication();
    std::atomic<int> delivered{0};
    win::HWND wnd = win::AllocateHWnd([&](win::HWND, win::UINT, win::WPARAM, win::LPARAM) -> win::LRESULT {
        ++delivered;
        return 0;
    }, "x");
    std::atomic<bool> stop{false};
    std::atomic<int> accepted{0};
    std::thread poster([&] {
        while (!stop) {
            if (win::PostMessage(wnd, win::WM_TIMER, 1, 0)) ++accepted;
        }
    });
    ASSERT_TRUE(PumpUntil([&] { return delivered > 10; }));
    win::DeallocateHWnd(wnd);
    int atClose = delivered;
    for (int i = 0; i < 20; ++i) win::ProcessMessages();
    stop = true;
    poster.join();
    EXPECT_EQ(delivered, atClose);
    EXPECT_GT(accepted, atClose);
}

TEST(message_window, window_timer_ticks_with_its_id_and_can_be_killed_from_its_own_tick) {
    test_support::EnsureQtApplication();
    std::vector<win::WPARAM> ticks;
    win::HWND wnd = 0;
    wnd = win::AllocateHWnd([&](win::HWND h, win::UINT m, win::WPARAM w, win::LPARAM) -> win::LRESULT {
        if (m == win::WM_TIMER) {
            ticks.push_back(w);
            if (ticks.size() == 3) {
                EXPECT_TRUE(win::KillTimer(h, w));
            }
        }
        return 0;
    }, "t");
    EXPECT_EQ(win::SetTimer(wnd, 5, 2), 5u);
    ASSERT_TRUE(PumpUntil([&] { return ticks.size() >= 3; }));
    auto end = std::chrono::steady_clock::now() + 50ms;
    while (std::chrono::steady_clock::now() < end) {
        win::ProcessMessages();
        win::Sleep(1);
    }
    EXPECT_EQ(ticks, (std::vector<win::WPARAM>{5, 5, 5}));
    EXPECT_FALSE(win::KillTimer(wnd, 5));
    EXPECT_EQ(win::SetTimer(wnd + 1, 1, 10), 0u);
    win::DeallocateHWnd(wnd);
}

// A multimedia timer's ticks come from another thread at their own pace,
// whatever the window does with them; a window timer ticks beside them.
TEST(message_window, timer_messages_wait_for_everything_else_take_turns_and_never_pile_up) {
    test_support::EnsureQtApplication();
    std::atomic<int> slowTicks{0};
    win::HWND slow = win::AllocateHWnd([&](win::HWND, win::UINT m, win::WPARAM, win::LPARAM) -> win::LRESULT {
        if (m == win::WM_TIMER) {
            win::Sleep(3);  // a tick takes longer than the timer's period
            ++slowTicks;
        }
        return 0;
    }, "slow");
    std::vector<Seen> seen;
    win::HWND other = win::AllocateHWnd([&](win::HWND, win::UINT m, win::WPARAM w, win::LPARAM l) -> win::LRESULT {
        seen.push_back({m, w, l});
        return 0;
    }, "other");

    // A posted tick waits for the message posted after it; more ticks of the
    // same wParam while one waits are the same tick.
    ASSERT_TRUE(win::PostMessage(other, win::WM_TIMER, 9, 0));
    ASSERT_TRUE(win::PostMessage(other, win::WM_TIMER, 9, 0));
    ASSERT_TRUE(win::PostMessage(other, win::WM_TIMER, 8, 0));
    ASSERT_TRUE(win::PostMessage(other, win::WM_USER, 1, 0));
    ASSERT_TRUE(win::PostMessage(other, win::WM_TIMER, 9, 0));
    ASSERT_TRUE(PumpUntil([&] { return seen.size() >= 3; }));
    test_support::Pump(20ms);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].msg, win::WM_USER);
    EXPECT_EQ(seen[1].msg, win::WM_TIMER);
    EXPECT_EQ(seen[1].wParam, 9u);
    EXPECT_EQ(seen[2].wParam, 8u);
    seen.clear();

    std::atomic<bool> stop{false};
    std::thread poster([&] {
        while (!stop) {
            win::PostMessage(slow, win::WM_TIMER, 1, 0);
            win::Sleep(1);
        }
    });
    test_support::Pump(100ms);

    // Messages posted meanwhile do not wait behind a pile of ticks.
    const int before = slowTicks;
    for (int i = 0; i < 3; ++i) win::PostMessage(other, win::WM_USER, static_cast<win::WPARAM>(i), 0);
    ASSERT_TRUE(PumpUntil([&] { return seen.size() == 3; }));
    EXPECT_LE(slowTicks - before, 1);

    // A window timer still gets its turns while the slow one is always due.
    int otherTicks = 0;
    seen.clear();
    ASSERT_EQ(win::SetTimer(other, 5, 10), 5u);
    const int start = slowTicks;
    ASSERT_TRUE(PumpUntil([&] { return slowTicks - start >= 60; }, 10s));
    for (const Seen& s : seen) otherTicks += s.msg == win::WM_TIMER && s.wParam == 5;
    EXPECT_GE(otherTicks, 3);
    win::KillTimer(other, 5);

    // Once the poster stops, at most the one waiting tick is left.
    stop = true;
    poster.join();
    const int atStop = slowTicks;
    test_support::Pump(50ms);
    EXPECT_LE(slowTicks - atStop, 1);
    win::DeallocateHWnd(slow);
    win::DeallocateHWnd(other);
}

// An input pump (a plug-in's computing event keeps the window alive with
// one) hands out no posted and no timer messages, also not from a loop
// nested in it; they come, in their order, from the next full pump.
TEST(message_window, an_input_pump_holds_posted_and_timer_messages) {
    test_support::EnsureQtApplication();
    std::vector<Seen> seen;
    win::HWND wnd = win::AllocateHWnd([&](win::HWND, win::UINT m, win::WPARAM w, win::LPARAM l) -> win::LRESULT {
        seen.push_back({m, w, l});
        return 0;
    }, "held");
    ASSERT_EQ(win::SetTimer(wnd, 5, 5), 5u);
    ASSERT_TRUE(win::PostMessage(wnd, win::WM_USER, 1, 0));
    bool input = false;
    QTimer::singleShot(0, [&] {
        input = true;
        win::PostMessage(wnd, win::WM_USER, 2, 0);
        test_support::Pump(30ms);  // a modal loop the input opens
    });
    const auto end = std::chrono::steady_clock::now() + 60ms;
    while (std::chrono::steady_clock::now() < end) {
        win::ProcessInputMessages();
        win::Sleep(1);
    }
    EXPECT_TRUE(input);
    EXPECT_TRUE(seen.empty());
    // The timer now ticks no more for a long while, but the tick that came
    // due during the hold waits and comes after the posted messages: held,
    // not lost, and one for all the ticks missed.
    ASSERT_EQ(win::SetTimer(wnd, 5, 600000), 5u);
    ASSERT_TRUE(PumpUntil([&] { return seen.size() >= 3; }));
    test_support::Pump(50ms);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].msg, win::WM_USER);
    EXPECT_EQ(seen[0].wParam, 1u);
    EXPECT_EQ(seen[1].wParam, 2u);
    EXPECT_EQ(seen[2].msg, win::WM_TIMER);
    EXPECT_EQ(seen[2].wParam, 5u);
    win::KillTimer(wnd, 5);
    win::DeallocateHWnd(wnd);
}

// A tick that came due and was not handled can be taken back, waiting as a
// message or still overdue in its timer; the timer goes on.
TEST(message_window, a_due_tick_is_taken_back_and_the_timer_goes_on) {
    test_support::EnsureQtApplication();
    int ticks = 0;
    win::HWND wnd = win::AllocateHWnd([&](win::HWND, win::UINT m, win::WPARAM, win::LPARAM) -> win::LRESULT {
        ticks += m == win::WM_TIMER;
        return 0;
    }, "due");
    // A long period leaves a busy machine room between the ticks.
    ASSERT_EQ(win::SetTimer(wnd, 3, 400), 3u);
    EXPECT_FALSE(win::RemoveTimerMessage(wnd, 3));
    win::Sleep(420);  // overdue: the loop has not run
    EXPECT_TRUE(win::RemoveTimerMessage(wnd, 3));
    test_support::Pump(30ms);
    EXPECT_EQ(ticks, 0);
    win::Sleep(400);
    win::ProcessInputMessages();  // the tick now waits as a message
    EXPECT_TRUE(win::RemoveTimerMessage(wnd, 3));
    test_support::Pump(30ms);
    EXPECT_EQ(ticks, 0);
    test_support::TimeBounds bounds;
    ASSERT_TRUE(bounds.Within(
        test_support::JudgedWait([&](std::chrono::milliseconds limit) { return PumpUntil([&] { return ticks >= 2; }, limit); },
                                 3s, 30s),
        "two more ticks of the timer of 400 ms"));
    EXPECT_FALSE(win::RemoveTimerMessage(wnd, 4));
    win::DeallocateHWnd(wnd);
    if (bounds.Void()) GTEST_SKIP() << bounds.Text();
}

TEST(message_window, a_window_may_destroy_itself_inside_its_procedure) {
    test_support::EnsureQtApplication();
    int calls = 0;
    win::HWND wnd = 0;
    wnd = win::AllocateHWnd([&](win::HWND h, win::UINT, win::WPARAM, win::LPARAM) -> win::LRESULT {
        ++calls;
        win::DeallocateHWnd(h);
        return 0;
    }, "self");
    win::SetTimer(wnd, 1, 1);
    win::PostMessage(wnd, win::WM_USER, 0, 0);
    win::PostMessage(wnd, win::WM_USER, 0, 0);
    for (int i = 0; i < 30; ++i) {
        win::ProcessMessages();
        win::Sleep(1);
    }
    EXPECT_EQ(calls, 1);
}

}  // namespace

namespace {

// The loop's error handler for one test: records what reaches it.
struct LoopErrors {
    struct Report {
        std::string Text;
        bool Repeated;
    };
    std::vector<Report> seen;
    explicit LoopErrors(std::uint32_t repeat_window_ms) {
        win::SetLoopErrorHandler(
            [this](std::exception_ptr e, bool repeated) {
                try {
                    std::rethrow_exception(e);
                } catch (const std::exception& x) {
                    seen.push_back({x.what(), repeated});
                }
            },
            repeat_window_ms);
    }
    ~LoopErrors() { win::SetLoopErrorHandler(nullptr); }
};

TEST(message_window, what_a_procedure_raises_in_the_loop_is_reported_and_the_loop_goes_on) {
    test_support::EnsureQtApplication();
    LoopErrors errors(300);
    std::vector<win::WPARAM> handled;
    win::HWND wnd = win::AllocateHWnd(
        [&](win::HWND, win::UINT m, win::WPARAM w, win::LPARAM) -> win::LRESULT {
            handled.push_back(w);
            if (m == win::WM_TIMER && handled.size() > 6) return 0;
            if (w % 2 == 1 || m == win::WM_TIMER) throw std::runtime_error("failed " + std::to_string(w));
            return 0;
        },
        "CPDrvWnd");
    // Posted messages, each handled in turn: a failure soon after the
    // window's last one is a repeat, one after a quiet while is new.
    for (win::WPARAM w : {1, 2, 3}) ASSERT_TRUE(win::PostMessage(wnd, win::WM_USER, w, 0));
    ASSERT_TRUE(PumpUntil([&] { return handled.size() == 3; }));
    test_support::Pump(400ms);
    ASSERT_TRUE(win::PostMessage(wnd, win::WM_USER, 5, 0));
    ASSERT_TRUE(PumpUntil([&] { return handled.size() == 4; }));
    ASSERT_EQ(errors.seen.size(), 3u);
    EXPECT_EQ(errors.seen[0].Text, "failed 1");
    EXPECT_FALSE(errors.seen[0].Repeated);
    EXPECT_EQ(errors.seen[1].Text, "failed 3");
    EXPECT_TRUE(errors.seen[1].Repeated);
    EXPECT_EQ(errors.seen[2].Text, "failed 5");
    EXPECT_FALSE(errors.seen[2].Repeated);

    // A window timer whose ticks fail keeps ticking.
    win::SetTimer(wnd, 9, 2);
    ASSERT_TRUE(PumpUntil([&] { return handled.size() >= 7; }));
    win::KillTimer(wnd, 9);
    ASSERT_EQ(errors.seen.size(), 5u);
    EXPECT_EQ(errors.seen[3].Text, "failed 9");
    EXPECT_TRUE(errors.seen[3].Repeated);
    EXPECT_TRUE(errors.seen[4].Repeated);

    // A call made at once still raises to its caller.
    EXPECT_THROW(win::SendMessage(wnd, win::WM_USER, 7, 0), std::runtime_error);
    win::DeallocateHWnd(wnd);
}

// A socket notifier is an entry from the loop as a window timer is: what it
// raises reaches the same handler, folded into repeats the same way, and
// each entry keeps its own count: the timer failing does not make the
// notifier's next failure a repeat. With no handler the text goes to
// standard error.
TEST(message_window, a_failing_socket_notifier_reaches_the_handler_as_a_failing_timer_does) {
    test_support::EnsureQtApplication();
    LoopErrors errors(1000);
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds), 0);
    int reads = 0;
    auto notifier = win::MakeGuardedNotifier(fds[0], QSocketNotifier::Read, [&] {
        char c = 0;
        while (::read(fds[0], &c, 1) == 1) ++reads;
        throw std::runtime_error("read " + std::to_string(reads));
    });
    int ticks = 0;
    win::HWND wnd = win::AllocateHWnd(
        [&](win::HWND, win::UINT m, win::WPARAM, win::LPARAM) -> win::LRESULT {
            if (m != win::WM_TIMER) return 0;
            ++ticks;
            throw std::runtime_error("tick " + std::to_string(ticks));
        },
        "ticking");
    const auto feed = [&](int want) {
        EXPECT_EQ(::write(fds[1], "x", 1), 1);
        return PumpUntil([&] { return reads == want; });
    };

    ASSERT_TRUE(feed(1));
    win::SetTimer(wnd, 1, 2);
    ASSERT_TRUE(PumpUntil([&] { return ticks == 2; }));
    win::KillTimer(wnd, 1);
    ASSERT_TRUE(feed(2));
    test_support::Pump(1200ms);
    ASSERT_TRUE(feed(3));
    ASSERT_EQ(errors.seen.size(), 5u);
    const std::vector<std::pair<std::string, bool>> want = {
        {"read 1", false}, {"tick 1", false}, {"tick 2", true}, {"read 2", true}, {"read 3", false}};
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(errors.seen[i].Text, want[i].first) << i;
        EXPECT_EQ(errors.seen[i].Repeated, want[i].second) << i;
    }

    win::SetLoopErrorHandler(nullptr);
    ::testing::internal::CaptureStderr();
    const bool fed = feed(4);
    const std::string err = ::testing::internal::GetCapturedStderr();
    ASSERT_TRUE(fed);
    EXPECT_NE(err.find("read 4"), std::string::npos) << err;
    notifier.reset();
    win::DeallocateHWnd(wnd);
    ::close(fds[0]);
    ::close(fds[1]);
}

}  // namespace
