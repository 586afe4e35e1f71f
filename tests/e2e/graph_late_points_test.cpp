// The graph window beside a plug-in whose receive event waits: what the
// waiting port read meanwhile reaches the graph late, stamped with its read
// times, before the other port's points. Two pseudo-terminals flood COM5
// and COM6; the window must keep answering, read both as they write, and
// end with every value in time order.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "chart/engine/fast_line_series.h"
#include "chart/engine/value_list.h"
#include "platform/vcl/file_text.h"
#include "support/main_window.h"
#include "support/pty.h"
#include "support/qt_app.h"
#include "support/processor_share.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A device writing Rate bytes a second in blocks every Period for Span,
// from a thread of its own; Byte(i) is its i-th byte.
struct Flood {
    test_support::PtyPair pty;
    std::thread thread;
    std::string written;
    Clock::duration took{};
    // The longest time between two of its writes: a device that the
    // machine kept from running for long wrote nothing all that while.
    Clock::duration longest{};

    template <class F>
    void Start(int Rate, std::chrono::milliseconds Period, Clock::duration Span, F Byte) {
        thread = std::thread([this, Rate, Period, Span, Byte] {
            const auto start = Clock::now();
            auto next = start, last = start;
            std::size_t i = 0;
            while (next - start < Span) {
                std::string block;
                for (int k = 0; k < Rate * Period.count() / 1000; ++k) block.push_back(Byte(i++));
                const auto before = Clock::now();
                const std::size_t n = pty.Write(block, 20s);
                written += block.substr(0, n);
                longest = std::max(longest, before - last);
                last = before;
                if (n < block.size()) break;
                next += Period;
                std::this_thread::sleep_until(next);
            }
            took = Clock::now() - start;
        });
    }
};

// Bytes a second: the waiting main port's, the other port's. The other
// port's points, many beside the few read in each short poll of the main
// port, are what each late chunk lands in front of.
constexpr int kMainRate = 20000;
constexpr int kSecondRate = 100000;
constexpr auto kSpan = 6s;
constexpr int kWaitMs = 4000;

TEST(graph_late_points, a_plug_in_wait_on_one_port_never_stalls_the_window_and_every_value_lands_in_time_order) {
    Flood main, second;
    main.pty.MapAsCom(5);
    second.pty.MapAsCom(6);
    test_support::MainWindow w({.Start = false, .Graph = true});
    const std::string plugin = w.dir.File("Wait.pas");
    vcl::SaveStrToFile("procedure OnReceive;\r\nbegin\r\n  if Pos('W', RD) > 0 then NBSleep(" +
                           std::to_string(kWaitMs) + ");\r\nend;\r\n",
                       plugin);
    // Decimal bytes, times with milliseconds, the fastest polling: many
    // small chunks, each flushed into the graph on its own.
    vcl::SaveStrToFile("[Main]\r\nDataFormat=0\r\nRVPnlTime=3\r\nPollingDelay=0\r\n[Config11]\r\nPort=5\r\n"
                       "Port2=6\r\nSpeed=115200\r\nPlugPath=" +
                           plugin + "\r\n",
                       w.ini);
    terminal::TMain* m = w.Start();
    ASSERT_TRUE(m->cp1->Connected() && m->cp2->Connected()) << ::testing::PrintToString(w.Messages);
    ASSERT_TRUE(m->PluginLoaded());
    m->mShowGraphClick(m->mShowGraph);
    graph::TfGraph* g = w.graph;
    ASSERT_TRUE(g->Visible());
    ASSERT_TRUE(g->cbXATime->Checked());
    const int polling = m->PollingIndex;

    // The window's loop: the longest time between two turns of a timer.
    // (Each bound is judged by the time the test was given: one that a
    // busy machine kept the window or a device from running is void.)
    test_support::TimeBounds bounds;
    const test_support::ProcessorShare share;
    test_support::LongestGap longest;
    QTimer timer;
    timer.setInterval(20);
    QObject::connect(&timer, &QTimer::timeout, [&] { longest.Tick(); });
    timer.start();

    // The main port's values stay below 128 and only its trigger is a
    // "W"; the second port's are 128 and above: the graph's values tell
    // whose they are.
    // The main port's bytes in small pieces, as a device sending short
    // records does: each is a chunk of its own after the wait.
    main.Start(kMainRate, 1ms, kSpan, [](std::size_t i) {
        if (i == kMainRate / 2) return 'W';
        const char c = static_cast<char>(i % 100);
        return c == 'W' ? 'V' : c;
    });
    second.Start(kSecondRate, 10ms, kSpan, [](std::size_t i) { return static_cast<char>(128 + i % 100); });
    std::atomic<bool> done{false};
    std::thread joiner([&] {
        main.thread.join();
        second.thread.join();
        done = true;
    });
    const bool all = test_support::PumpUntil(
        [&] {
            return done && g->serLine->Count() == static_cast<int>(main.written.size() + second.written.size()) &&
                   g->LateCount() == 0;
        },
        60s);
    joiner.join();
    timer.stop();

    RecordProperty("longest_gap_ms", static_cast<int>(longest.Longest().count()));
    EXPECT_TRUE(bounds.Within(longest.Judged(1000ms), "the window"));
    ASSERT_TRUE(all) << g->serLine->Count() << " points for " << main.written.size() + second.written.size()
                     << " bytes";
    // Both devices wrote as fast as they meant to: nothing held them back.
    EXPECT_EQ(main.written.size() * kSecondRate / kMainRate, second.written.size());
    const auto ms = [](Clock::duration d) { return std::chrono::duration_cast<std::chrono::milliseconds>(d); };
    EXPECT_TRUE(bounds.Within(share, ms(main.took), kSpan + 1500ms, "the main port's device"));
    EXPECT_TRUE(bounds.Within(share, ms(second.took), kSpan + 1500ms, "the second port's device"));

    // Every value, in time order; each port's values in the order its
    // device wrote them.
    const auto x = g->serLine->XValues().Values();
    const auto y = g->serLine->YValues().Values();
    std::string mainSeen, secondSeen;
    std::size_t run = 0, longestRun = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (i > 0) {
            ASSERT_LE(x[i - 1], x[i]) << i;
        }
        (y[i] < 128 ? mainSeen : secondSeen).push_back(static_cast<char>(y[i]));
        run = y[i] < 128 ? run + 1 : 0;
        longestRun = std::max(longestRun, run);
    }
    EXPECT_TRUE(mainSeen == main.written);
    EXPECT_TRUE(secondSeen == second.written);
    // What the main port read during the wait kept its read times: it lies
    // among the other port's points, not in one block after them. (A device
    // that the machine kept from writing for most of that long makes such a
    // block: the other port's device writes nothing meanwhile, or the main
    // port's writes what it owes at once, all read together.)
    const Clock::duration held = std::max(main.longest, second.longest);
    if (longestRun >= static_cast<std::size_t>(kMainRate / 2) && held >= 400ms)
        bounds.AddVoid("a device wrote nothing for " + std::to_string(ms(held).count()) + " ms: " +
                       std::to_string(longestRun) + " of the main port's values came in a row");
    else
        EXPECT_LT(longestRun, static_cast<std::size_t>(kMainRate / 2));

    // No notice, no box, the polling delay as it was.
    EXPECT_TRUE(w.Notices().empty());
    EXPECT_TRUE(w.Messages.empty()) << ::testing::PrintToString(w.Messages);
    EXPECT_EQ(m->PollingIndex, polling);
    if (bounds.Void()) GTEST_SKIP() << bounds.Text();
}

}  // namespace
