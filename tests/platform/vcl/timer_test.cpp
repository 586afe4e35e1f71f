#include "platform/vcl/timer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/vcl/forms.h"
#include "support/qt_app.h"

namespace {

using namespace vcl;

void Pump(int ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        Application->ProcessMessages();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

TEST(timer, runs_only_when_enabled_with_an_interval_and_a_handler) {
    EnsureApplication();
    TTimer t(nullptr);
    EXPECT_TRUE(t.Enabled());
    EXPECT_EQ(t.Interval(), 1000);
    EXPECT_FALSE(t.Running());  // no handler yet
    int ticks = 0;
    t.SetOnTimer([&](TComponent* s) {
        EXPECT_EQ(s, &t);
        ++ticks;
    });
    EXPECT_TRUE(t.Running());
    t.SetInterval(0);
    EXPECT_FALSE(t.Running());
    Pump(30);
    EXPECT_EQ(ticks, 0);
    t.SetInterval(2);
    EXPECT_TRUE(t.Running());
    // Ticks come (a busy machine may be slow to run the first).
    EXPECT_TRUE(test_support::PumpUntil([&] { return ticks > 0; }));
    t.SetEnabled(false);
    EXPECT_FALSE(t.Running());
    int stopped_at = ticks;
    Pump(30);
    EXPECT_EQ(ticks, stopped_at);
}

}  // namespace
