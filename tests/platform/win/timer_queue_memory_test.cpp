// Timer messages (a polling tick posted from a multimedia timer's thread)
// when memory runs out at the moment one is posted: the allocator of this
// test program can be told to refuse the next allocations of one size on
// the calling thread, as an exhausted heap would.
#include <gtest/gtest.h>

#include <QEvent>

#include <chrono>
#include <cstdlib>
#include <new>

#include "platform/win/message_window.h"
#include "support/qt_app.h"

namespace {

// How many allocations of t_refusedSize bytes are still to be refused on
// this thread. State of the allocator itself, which has no other place.
thread_local std::size_t t_refusedSize = 0;
thread_local int t_refusals = 0;

void* Allocate(std::size_t size) {
    if (t_refusals > 0 && size == t_refusedSize) {
        --t_refusals;
        throw std::bad_alloc();
    }
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}

}  // namespace

// The replaceable allocation functions, all of them, so that every new and
// delete of the program meet the same heap.
void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return Allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    return operator new(size, tag);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace {

TEST(timer_queue_memory, a_tick_whose_turn_cannot_be_queued_comes_with_the_next_tick) {
    test_support::EnsureQtApplication();
    int ticks = 0;
    const win::HWND wnd = win::AllocateHWnd(
        [&](win::HWND, win::UINT msg, win::WPARAM, win::LPARAM) {
            if (msg == win::WM_TIMER) ++ticks;
            return win::LRESULT{0};
        },
        "TickCounter");
    test_support::Pump(std::chrono::milliseconds(20));  // nothing else waits for a turn
    // The turn of the loop that hands the tick out cannot be had.
    t_refusedSize = sizeof(QEvent);
    t_refusals = 1;
    EXPECT_FALSE(win::PostMessage(wnd, win::WM_TIMER, 1, 0));
    ASSERT_EQ(t_refusals, 0) << "the turn was never asked for";
    // What was refused is the turn, not the message: that waits.
    ASSERT_TRUE(win::TimerMessageWaiting(wnd)) << "the refusal hit another allocation of the same size";
    test_support::Pump(std::chrono::milliseconds(20));
    EXPECT_EQ(ticks, 0);
    // The next tick brings it (one waiting tick stands for both), and ticks
    // go on after it.
    EXPECT_TRUE(win::PostMessage(wnd, win::WM_TIMER, 1, 0));
    EXPECT_TRUE(test_support::PumpUntil([&] { return ticks == 1; }, std::chrono::seconds(5)));
    EXPECT_TRUE(win::PostMessage(wnd, win::WM_TIMER, 1, 0));
    EXPECT_TRUE(test_support::PumpUntil([&] { return ticks == 2; }, std::chrono::seconds(5)));
    win::DeallocateHWnd(wnd);
}

}  // namespace
