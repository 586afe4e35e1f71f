// Received bytes take one way, whatever a plug-in's receive event does while
// they come: a pseudo-terminal plays the device behind COM5 while the event
// waits (NBSleep, its own Send to a slow reader, a box left open), and what
// came meanwhile goes to the event's Recv or PurgeRx, or to the event as its
// next chunk, in order and within the port's input buffer. Closing (the
// port on focus loss, the window) never runs an event inside it.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "e2e/plugin_window.h"
#include "platform/vcl/ini_files.h"
#include "support/file_contents.h"
#include "support/processor_share.h"

namespace {

using namespace std::chrono_literals;
using terminal::PortSlotMain;
using terminal::TMain;
using test_support::PluginWindow;
using test_support::PumpUntil;

// The event waits until the test says go (after the device's bytes have been
// read, so that they wait for the event), then reads with a Recv that does
// not wait, purges, or just returns.
const std::string kWaiter = std::string(test_support::kWaitForGo) + R"(
procedure OnReceive;
var b: string;
begin
  if RD = 'H' then
  begin
    WaitForGo;
    if Recv(4, 0, b) then AddMsg('got ' + b) else AddErr('Recv got ' + IntToStr(Length(b)) + ' bytes');
  end
  else if RD = 'P' then
  begin
    WaitForGo;
    PurgeRx;
    AddMsg('purged');
  end
  else if RD = 'S' then
    WaitForGo
  else
    AddMsg('event: ' + RD);
end;
)";

// The device sends Trigger; inside the event it starts, the device sends
// Meanwhile, which the port reads while the event waits; then the event goes
// on. True when all that came is shown.
bool WhileItWaits(PluginWindow& w, const std::string& Trigger, const std::string& Meanwhile) {
    TMain* m = w.main;
    bool read = false;
    test_support::WhileBusy inside(*m, [&] {
        if (!PumpUntil([&] { return m->GetPluginVar("WAITING") == "1"; })) return;
        const std::size_t before = m->RxQueue.Cost({});
        w.dev.Write(Meanwhile);
        read = PumpUntil([&] { return m->RxQueue.Cost({}) >= before + Meanwhile.size(); }) && m->PluginBusy;
        // The window has had its turn to hand them on: they still wait.
        read = read && PumpUntil([&] { return !m->PumpPosted; }) &&
               m->RxQueue.Cost({}) >= before + Meanwhile.size();
        m->SetPluginVar("GO", "1");
    });
    if (w.dev.Write(Trigger) != Trigger.size()) return false;
    return PumpUntil([&] { return inside.done && !m->PluginBusy; }) && read && w.ShowReceived();
}

TEST(receive_one_way, what_comes_while_the_event_waits_is_for_its_recv_its_purge_or_its_next_chunk) {
    PluginWindow w(kWaiter);
    TMain* m = w.main;
    ASSERT_TRUE(m->cp1->Connected()) << ::testing::PrintToString(w.Messages);

    // The body comes while the event waits: its Recv gets it from what
    // waits, and the list shows both in the order they came.
    ASSERT_TRUE(WhileItWaits(w, "H", "BODY"));
    EXPECT_EQ(w.LastMsg(), "got BODY");
    EXPECT_TRUE(w.LinesOf(terminal::dfERR).empty()) << w.LinesOf(terminal::dfERR).front();
    EXPECT_NE(w.AllLines().find("HBODY"), std::string::npos) << w.AllLines();
    EXPECT_EQ(w.RxCount(), 5u);

    // What comes while it waits is dropped by its PurgeRx, never counted.
    m->StartNewLine(true);
    ASSERT_TRUE(WhileItWaits(w, "P", "junk"));
    EXPECT_EQ(w.LastMsg(), "purged");
    EXPECT_EQ(w.AllLines().find("junk"), std::string::npos) << w.AllLines();
    EXPECT_EQ(w.RxCount(), 6u);

    // With neither, it is the event's next chunk.
    ASSERT_TRUE(WhileItWaits(w, "S", "tail"));
    ASSERT_TRUE(PumpUntil([&] { return w.LastMsg() == "event: tail"; })) << w.LastMsg();
    EXPECT_EQ(w.RxCount(), 11u);
    EXPECT_EQ(w.Messages, std::vector<std::string>{});
}

// Each chunk is answered with 20,000 bytes, which a device reading about
// 100 KB/s takes a while to read: the bytes that come meanwhile are the
// event's next chunks, so it counts every byte the window counts.
TEST(receive_one_way, the_event_gets_what_came_while_its_own_send_waited_for_a_slow_device) {
    PluginWindow w(R"(
var total: Integer;
procedure OnReceive;
begin
  total := total + Length(RD);
  SetV('seen', IntToStr(total));
  Send(StringOfChar('x', 20000));
end;
)");
    TMain* m = w.main;
    ASSERT_TRUE(m->cp1->Connected()) << ::testing::PrintToString(w.Messages);
    std::atomic<bool> stop{false};
    std::atomic<std::size_t> read{0};
    std::thread reader([&] {
        char buf[1000];
        while (!stop) {
            const ssize_t n = ::read(w.dev.MasterFd(), buf, sizeof buf);
            if (n > 0) read += static_cast<std::size_t>(n);
            std::this_thread::sleep_for(10ms);
        }
    });
    std::thread sender([&] {
        for (int i = 0; i < 200; ++i) {
            w.dev.Write("a");
            std::this_thread::sleep_for(5ms);
        }
    });
    ASSERT_TRUE(PumpUntil([&] { return w.RxCount() == 200u; }, 60s));
    sender.join();
    ASSERT_TRUE(PumpUntil([&] { return !m->PluginBusy && m->RxQueue.Empty(); }, 30s));
    stop = true;
    reader.join();
    EXPECT_EQ(m->GetPluginVar("SEEN"), "200");
    EXPECT_GT(read.load(), 20000u);
    EXPECT_TRUE(w.LinesOf(terminal::dfERR).empty()) << w.LinesOf(terminal::dfERR).front();
}

// A box the event opens stays up while the device floods the port, its own
// box or the box of its error: what waits for the event stays within the
// port's input buffer (lowered here, so that it is reached at once) and the
// device is held back; afterwards the raw output file holds exactly what
// the device sent, in order.
TEST(receive_one_way, a_box_left_open_in_a_flood_holds_the_device_back_and_loses_nothing) {
    PluginWindow w(R"(
procedure OnReceive;
var z: Integer;
begin
  if Pos('!', RD) > 0 then ShowMessage('look');
  if Pos('?', RD) > 0 then begin z := 0; z := 1 div z; end;
end;
)");
    TMain* m = w.main;
    constexpr std::uint32_t kBuffer = 64 * 1024;
    m->cp1->Disconnect();
    m->cp1->SetInBufSize(kBuffer);
    m->ApplyPortParams(false, true);
    ASSERT_TRUE(m->cp1->Connected());

    // While a box is up (for a second and a half), nothing read waits
    // beyond the buffer, whether in the window's queue or in the port's.
    std::size_t most_waiting = 0;
    std::uint64_t most_held = 0;
    vcl::Application->MessageHook = [&](const vcl::TMessageRequest& r) {
        w.Messages.push_back(r.Text);
        const auto until = std::chrono::steady_clock::now() + 1500ms;
        while (std::chrono::steady_clock::now() < until) {
            win::ProcessMessages();
            win::Sleep(1);
            most_waiting = std::max(most_waiting, m->RxQueue.Cost({}));
            most_held = std::max<std::uint64_t>(most_held, m->RxQueue.Cost({}) + m->cp1->CountRX());
        }
        return vcl::IDOK;
    };
    for (const char first : {'!', '?'}) {
        SCOPED_TRACE(std::string("opened by ") + first);
        w.Messages.clear();
        most_waiting = most_held = 0;
        const std::string file = w.dir.File("raw.bin");
        m->RxRouter.OpenOutput(file, terminal::TListFileType::Binary);
        const std::uint64_t before = w.RxCount();
        std::string sent(1, first);
        for (int i = 0; sent.size() < 600 * 1024; ++i) sent += std::to_string(i) + ',';
        std::atomic<std::size_t> written{0};
        std::thread device([&] {
            const auto limit = std::chrono::steady_clock::now() + 60s;
            while (written < sent.size() && std::chrono::steady_clock::now() < limit) {
                pollfd p{w.dev.MasterFd(), POLLOUT, 0};
                if (poll(&p, 1, 10) <= 0) continue;
                const ssize_t n = ::write(w.dev.MasterFd(), sent.data() + written, sent.size() - written);
                if (n > 0) written += static_cast<std::size_t>(n);
            }
        });
        const bool all = PumpUntil([&] { return w.RxCount() == before + sent.size(); }, 60s);
        device.join();
        ASSERT_TRUE(all) << w.RxCount() - before;
        m->SwitchOutputOff();
        ASSERT_EQ(w.Messages.size(), 1u);
        EXPECT_GT(most_waiting, 0u);
        // (A piece's upkeep counts with its bytes: one read may go past by it.)
        EXPECT_LE(most_waiting, kBuffer + terminal::TReceiveQueue::PieceUpkeep);
        EXPECT_LE(most_held, kBuffer + terminal::TReceiveQueue::PieceUpkeep);
        EXPECT_TRUE(test_support::Slurp(file) == sent) << "the file is not what the device sent";
    }
    EXPECT_NE(w.Messages[0].find("divide by Zero"), std::string::npos) << w.Messages[0];
}

// With "Free port on focus loss" on, losing the focus closes the ports while
// a receive event waits and bytes wait for it; no event runs inside that
// close, and the activation that follows opens the ports again.
TEST(receive_one_way, closing_the_port_on_focus_loss_runs_no_event_and_the_activation_reopens_it) {
    PluginWindow w("procedure OnReceive; begin NBSleep(300); end;");
    TMain* m = w.main;
    m->Disableondeactivate1->SetChecked(true);
    ASSERT_TRUE(m->cp1->Connected());
    // Bytes the port has read and not handed on when the focus goes.
    m->cp1->PausePolling();
    ASSERT_EQ(w.dev.Write("x"), 1u);
    ASSERT_TRUE(PumpUntil([&] { return m->cp1->DeviceBytesRead() == 1; }));
    // The window gets the focus back while any event runs.
    test_support::WhileBusy back(*m, [&] { m->FocusChanged(true); });
    m->FocusChanged(false);
    m->cp1->ContinuePolling();
    EXPECT_FALSE(back.done) << "an event ran inside the close";
    ASSERT_TRUE(PumpUntil([&] { return back.done && !m->PluginBusy && m->RxQueue.Empty(); }, 10s));
    EXPECT_TRUE(m->cp1->Connected()) << "the port stays closed though the window is active";
    EXPECT_EQ(w.RxCount(), 1u);
}

// Closing the window while the receive event waits in a flood (in NBSleep,
// in a Recv, in a Send to a device that reads nothing): the event is asked to
// stop, the window closes as soon as it has returned, and the usual close
// follows (what was read handed on, the output file closed, settings saved,
// ports closed).
TEST(receive_one_way, the_window_closes_in_a_flood_while_events_wait_and_saves_its_settings) {
    test_support::TimeBounds bounds;
    for (const char* wait : {"NBSleep(1000)", "Recv(1000000, 60000, b)", "Send(StringOfChar('x', 2000000))"}) {
        SCOPED_TRACE(wait);
        PluginWindow w(std::string("procedure OnReceive; var b: string; begin ") + wait + "; end;");
        TMain* m = w.main;
        ASSERT_TRUE(m->cp1->Connected());
        const std::string file = w.dir.File("raw.bin");
        m->RxRouter.OpenOutput(file, terminal::TListFileType::Binary);
        m->m1000msClick(m->PollingEntry(1));  // a setting the close must save
        std::atomic<bool> stop{false};
        std::thread device([&] {
            while (!stop) {
                w.dev.WriteSome(reinterpret_cast<const std::uint8_t*>("0123456789"), 10);
                std::this_thread::sleep_for(1ms);
            }
        });
        // The user closes the window while an event waits.
        std::optional<test_support::ProcessorShare> asked;
        test_support::WhileBusy close(*m, [&] {
            asked.emplace();
            m->Close();
        });
        const bool closed = PumpUntil([&] { return close.done && !m->Visible() && !m->PluginBusy; }, 30s);
        stop = true;
        device.join();
        ASSERT_TRUE(closed) << "the window stays open";
        ASSERT_TRUE(asked.has_value());
        EXPECT_TRUE(bounds.Within(*asked, 1s, std::string("the close in ") + wait));
        EXPECT_FALSE(m->cp1->Connected());
        EXPECT_FALSE((m->OutputOn() != nullptr));
        EXPECT_EQ(m->Script, nullptr);
        vcl::TIniFile ini(w.ini);
        EXPECT_EQ(ini.ReadInteger("Main", "PollingDelay", -1), 1);
        // The plug-in the close stopped is still the one the settings name.
        EXPECT_EQ(ini.ReadString("Config11", "PlugPath", ""), w.plugin);
        // Everything counted went into the file.
        EXPECT_GT(w.RxCount(), 0u);
        EXPECT_EQ(test_support::Slurp(file).size(), w.RxCount());
    }
    if (bounds.Void()) GTEST_SKIP() << bounds.Text();
}

}  // namespace
