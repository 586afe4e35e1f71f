// The anti-hang watchdog judges reception, not the plug-in: a receive event
// that by itself keeps the loop for seconds leaves the polling delay alone,
// while a flood of short events, or a flood that starves the loop while an
// event waits, still raises it. The watchdog's clock is moved on by the test
// inside the event, so that seconds pass in a moment; its timer is off, as
// it would not get its turn in a starved loop.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "e2e/plugin_window.h"
#include "platform/vcl/ini_files.h"
#include "platform/win/timers.h"

namespace {

using namespace std::chrono_literals;
using terminal::TMain;
using test_support::PluginWindow;

constexpr const char* kWorker = R"(
procedure Compute(ms: Cardinal);
var t: Cardinal;
begin
  t := GetTickCount;
  while GetTickCount - t < ms do ;
end;

procedure OnReceive;
begin
  if RD = 'long' then
  begin
    Compute(300);
    Send('echo');
  end
  else if RD = 'wait' then
    NBSleep(300)
  else
    Compute(20);
end;
)";

TEST(plugin_watchdog, a_long_event_leaves_the_polling_delay_alone_and_a_flood_still_raises_it) {
    PluginWindow w(kWorker);
    TMain* m = w.main;
    ASSERT_TRUE(m->cp1->Connected()) << ::testing::PrintToString(w.Messages);
    m->mShowWrites->SetChecked(true);  // the event's Send is rendered while it runs
    m->tmrAntiHang->SetEnabled(false);
    std::uint32_t skipped = 0;
    m->AntiHangClock = [&] { return win::GetTickCount() + skipped; };
    m->AntiHangStamp = m->AntiHangNow();
    ASSERT_EQ(m->PollingIndex, 2);
    // Eight seconds pass inside the event that Trigger starts.
    const auto eight_seconds_inside = [&](const std::string& Trigger) {
        return test_support::Exchange(w, Trigger, [&] { skipped += 8000; });
    };

    // An event that computes for 8 s: neither its own rendering of what it
    // sends nor the rendering of its chunk after it counts that time.
    ASSERT_TRUE(eight_seconds_inside("long"));
    EXPECT_EQ(w.dev.Read(4, 500ms), "echo");
    EXPECT_EQ(m->PollingIndex, 2);

    // An event that waits in NBSleep lets the loop run: 8 s without the
    // watchdog's tick then are the data's doing.
    ASSERT_TRUE(eight_seconds_inside("wait"));
    EXPECT_EQ(m->PollingIndex, 3);

    // A flood whose events take 20 ms each, arriving 7.5 s after the last
    // tick: one step up.
    m->AntiHangStamp = m->AntiHangNow() - 7500;
    std::thread device([&] {
        for (int i = 0; i < 10; ++i) {
            w.dev.Write("x");
            std::this_thread::sleep_for(10ms);
        }
    });
    test_support::PumpUntil([&] { return false; }, 400ms);
    device.join();
    ASSERT_TRUE(test_support::PumpUntil([&] { return w.RxCount() == 4 + 4 + 10; }));
    EXPECT_EQ(m->PollingIndex, 4);
    EXPECT_EQ(m->cp1->PollingDelay(), 500);
    EXPECT_EQ(w.Messages, std::vector<std::string>{});
    // What is stored is what the data caused.
    bool can_close = false;
    m->FormCloseQuery(m, can_close);
    ASSERT_TRUE(can_close);
    EXPECT_EQ(vcl::TIniFile(w.ini).ReadInteger("Main", "PollingDelay", -1), 4);
}

}  // namespace
