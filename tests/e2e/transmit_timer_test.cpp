// The transmit timer end to end: the interval and the switch are set through
// the window's own controls, the message loop runs, and a pseudo-terminal
// playing the device counts the lines that arrive.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/vcl/forms.h"
#include "platform/win/comm.h"
#include "support/main_window.h"
#include "support/pty.h"
#include "support/qt_app.h"
#include "terminal/main_form.h"

namespace {

using namespace std::chrono_literals;

constexpr const char* kLine = "ping\r\n";

struct TransmitTimerFixture : test_support::MainWindow {
    test_support::PtyPair device;
    std::vector<std::string>& messages = Messages;
    std::string received;  // everything the device has read so far

    TransmitTimerFixture() : BasicMainWindow({.Start = false}) {
        win::SetComPortMapOverrides({{43, device.SlavePath()}});
        Start();
        main->ForceComNumber(43, true);
        main->ApplyPortParams(false, true);
        // "ping" with the CR LF line ending of the ASCII input format.
        main->TRFormat = terminal::trfAsc;
        main->TrLineBreak = "\r\n";
        main->TrBCB->SetText("ping");
        main->TrBCBChange(main->TrBCB);
        messages.clear();
    }
    ~TransmitTimerFixture() {
        Free();
        win::SetComPortMapOverrides({});
    }
    // Types the interval into the timer's text box and checks "Enable (F5)".
    void Enable(const std::string& seconds) {
        main->TmrEd->SetText(seconds);
        main->TmrEnCB->SetChecked(true);
    }
    // Runs the message loop for the span, collecting what the device reads.
    void Run(std::chrono::milliseconds span) {
        RunUntil([] { return false; }, span);
    }
    // Runs it, collecting, until Done holds (true) or limit passed (false).
    bool RunUntil(const std::function<bool()>& Done, std::chrono::milliseconds limit) {
        const bool done = test_support::PumpUntil([&] {
            received += device.Read(65536, 0ms);
            return Done();
        }, limit);
        received += device.Read(65536, 0ms);
        return done;
    }
    // Whole lines received; -1 when anything else arrived.
    int Lines() const {
        const std::string line = kLine;
        if (received.size() % line.size() != 0) return -1;
        for (std::size_t at = 0; at < received.size(); at += line.size())
            if (received.compare(at, line.size(), line) != 0) return -1;
        return static_cast<int>(received.size() / line.size());
    }
};

TEST(transmit_timer, half_a_second_repeats_the_line_until_switched_off) {
    TransmitTimerFixture f;
    terminal::TMain* m = f.main;
    ASSERT_TRUE(m->cp1->Connected());
    // Stamped before the timer starts: a late stamp would make its ticks
    // look early.
    const auto start = std::chrono::steady_clock::now();
    f.Enable("0.5");
    EXPECT_EQ(m->tmr1->Interval(), 500);
    EXPECT_EQ(m->ttr1->Position(), 14) << "the track bar follows the text box";
    ASSERT_TRUE(m->tmr1->Running());

    // Four lines come, no sooner than their ticks: a loaded machine may
    // deliver ticks late (and drops the ones that pile up), never early.
    ASSERT_TRUE(f.RunUntil([&] { return f.Lines() >= 4; }, 60s)) << f.received;
    const auto took = std::chrono::steady_clock::now() - start;
    const int lines = f.Lines();
    EXPECT_GE(took, lines * 500ms - 100ms) << lines << " lines";
    EXPECT_EQ(m->SentCount, static_cast<std::uint32_t>(f.received.size()));
    EXPECT_TRUE(f.messages.empty());
    // Every tick is a transmission with a sender: the line is in the
    // history once, not once per tick.
    ASSERT_EQ(m->TrBCB->Items().Count(), 1);
    EXPECT_EQ(m->TrBCB->Items().Strings(0), "ping");

    // Switched off: whatever was on its way is read, then nothing follows.
    m->TmrEnCB->SetChecked(false);
    EXPECT_FALSE(m->tmr1->Running());
    f.received += f.device.Read(65536, 50ms);
    const std::size_t before = f.received.size();
    f.Run(1200ms);
    EXPECT_EQ(f.received.size(), before);
}

TEST(transmit_timer, zero_interval_sends_nothing) {
    TransmitTimerFixture f;
    terminal::TMain* m = f.main;
    f.Enable("0");
    f.Run(1500ms);
    EXPECT_EQ(f.received, "");
    EXPECT_EQ(m->SentCount, 0u);
    EXPECT_FALSE(m->tmr1->Running());
    EXPECT_TRUE(f.messages.empty());
}

TEST(transmit_timer, a_vanished_device_stops_the_repeating_transmission) {
    TransmitTimerFixture f;
    terminal::TMain* m = f.main;
    f.Enable("0.1");
    ASSERT_TRUE(f.RunUntil([&] { return f.Lines() >= 1; }, 60s)) << f.received;

    // The polling notices the device gone (or a write fails first and says
    // so) and closes the port; the next tick finds it closed and unchecks
    // the timer box, after which nothing more is tried.
    f.device.CloseMaster();
    ASSERT_TRUE(test_support::PumpUntil([&] { return !m->TmrEnCB->Checked(); }, 60s));
    EXPECT_FALSE(m->tmr1->Running());
    EXPECT_FALSE(m->cp1->Connected());
    ASSERT_GE(f.messages.size(), 1u);
    ASSERT_LE(f.messages.size(), 2u);
    if (f.messages.size() == 2) {
        EXPECT_NE(f.messages[0].find("is no longer valid"), std::string::npos) << f.messages[0];
    }
    // The box says why under its usual words (plug-ins see those alone).
    EXPECT_EQ(f.messages.back().rfind("Port is not connected\r" + f.device.SlavePath() + ": ", 0), 0u)
        << f.messages.back();
    const std::size_t shown = f.messages.size();
    test_support::Pump(400ms);
    EXPECT_EQ(f.messages.size(), shown);
}

}  // namespace
