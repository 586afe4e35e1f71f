// What the program has read from a device is never thrown away or reordered
// when it closes the port itself: pseudo-terminals flood the main port and
// Port2 with numbered records while line settings change, ports are freed
// and reopened and the window closes, also while the plug-in's receive
// events wait, and raw output to a file (behind those events) must hold
// exactly what the serial layer took from each device, in order.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>

#include "e2e/plugin_window.h"
#include "platform/vcl/file_text.h"
#include "support/file_contents.h"
#include "support/main_window.h"
#include "support/pty.h"
#include "support/qt_app.h"
#include "terminal/main_form.h"

namespace {

using terminal::PortSlot2;
using terminal::PortSlotMain;
using terminal::TMain;

// Records of 16 bytes: a number in 15 letters, one per decimal digit, and a
// separator. The main port's letters are a-j with ";", Port2's k-t with ":",
// so that the two streams can be told apart in one raw file; the plug-in
// upper-cases every chunk, so a lower-case letter in the file is a chunk
// that went round it.
constexpr std::size_t kRecord = 16;
constexpr char kMainFirst = 'a', kSecondFirst = 'k';

std::string Records(char first, std::size_t from, std::size_t count) {
    std::string out;
    out.reserve(count * kRecord);
    for (std::size_t n = from; n < from + count; ++n) {
        std::string digits = std::to_string(n);
        digits.insert(0, kRecord - 1 - digits.size(), '0');
        for (char& d : digits) d = static_cast<char>(first + (d - '0'));
        out += digits + (first == kMainFirst ? ';' : ':');
    }
    return out;
}

constexpr const char* kPlugin = R"(
procedure OnReceive;
begin
  RD := UpperCase(RD);
end;

procedure OnReceive2;
begin
  RD2 := UpperCase(RD2);
end;
)";

// The same, with events that wait: what comes meanwhile waits for them.
constexpr const char* kWaitingPlugin = R"(
procedure OnReceive;
begin
  RD := UpperCase(RD);
  NBSleep(100);
end;

procedure OnReceive2;
begin
  RD2 := UpperCase(RD2);
  NBSleep(100);
end;
)";

// A device that sends records as fast as its port takes them, from a thread
// of its own, until stopped.
class Flood {
public:
    Flood(test_support::PtyPair& dev, char first) : first_(first) {
        thread_ = std::thread([this, fd = dev.MasterFd()] {
            std::string chunk;
            std::size_t at = 0, next = 0;
            while (!stop_) {
                if (at == chunk.size()) {
                    chunk = Records(first_, next, 64);
                    next += 64;
                    at = 0;
                }
                pollfd p{fd, POLLOUT, 0};
                if (poll(&p, 1, 10) <= 0) continue;
                const ssize_t n = write(fd, chunk.data() + at, chunk.size() - at);
                if (n > 0) {
                    at += static_cast<std::size_t>(n);
                    sent_ += static_cast<std::size_t>(n);
                }
            }
        });
    }
    ~Flood() { Stop(); }
    // Stops sending; what was sent, upper-cased as the plug-in leaves it.
    std::string Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        std::string sent = Records(first_, 0, sent_ / kRecord + 1).substr(0, sent_);
        for (char& c : sent) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
        return sent;
    }

private:
    char first_;
    std::atomic<bool> stop_{false};
    std::atomic<std::size_t> sent_{0};
    std::thread thread_;
};

// How many pieces of sent are missing from got, which must be sent in order
// with whole pieces left out (-1 when it is not).
int Gaps(const std::string& got, const std::string& sent) {
    std::size_t i = 0, at = 0;
    int gaps = 0;
    while (i < got.size()) {
        const auto [g, s] = std::mismatch(got.begin() + static_cast<std::ptrdiff_t>(i), got.end(),
                                          sent.begin() + static_cast<std::ptrdiff_t>(at), sent.end());
        i = static_cast<std::size_t>(g - got.begin());
        at = static_cast<std::size_t>(s - sent.begin());
        if (i == got.size()) break;
        // Two records hold a whole number: where they are in what was sent is
        // where the rest goes on.
        const std::size_t found = sent.find(got.substr(i, 2 * kRecord), at);
        if (found == std::string::npos) return -1;
        at = found;
        ++gaps;
    }
    return gaps;
}

// Both ports open on devices, the polling delay at 200 ms (so that read
// bytes wait in the port's queue for a while), raw output to a file and the
// plug-in loaded.
struct FloodWindow : test_support::MainWindow {
    test_support::PtyPair main_dev, second_dev;
    std::string out, plugin;
    // How much of the file went through the plug-in: all of it before a close.
    std::size_t through_plugin = std::string::npos;

    explicit FloodWindow(const char* Plugin = kPlugin) : BasicMainWindow({.Start = false}) {
        main_dev.MapAsCom(5);
        second_dev.MapAsCom(6);
        Start();
        main->ForceComNumber(5, true);
        main->ForceComNumber(6, false);
        main->ApplyBothPortParams(false);
        main->m1000msClick(main->PollingEntry(3));
        out = dir.File("flood.bin");
        main->RxRouter.OpenOutput(out, terminal::TListFileType::Binary);
        plugin = dir.File("upper.pas");
        vcl::SaveStrToFile(Plugin, plugin);
        main->LoadPlugin(plugin);
    }
    ~FloodWindow() { Free(); }

    std::uint64_t Counted(int slot) const { return main->PortSlots[slot].RxCount; }
    // Two profiles of both ports at other rates, with the same plug-in.
    void AddProfiles() {
        for (int slot : {1, 2}) {
            terminal::TPortProfile& p = main->Profiles[slot];
            p = terminal::TPortProfile{};
            p.Port = 5;
            p.Port2 = 6;
            p.Speed = slot == 1 ? 38400 : 57600;
            p.Name = "Lab " + std::to_string(slot);
            p.PlugPath = plugin;
            main->CBProfile->Items().Add(p.Name);
        }
    }
    // The window closes in the flood: the ports read no more, and what they
    // had read goes into the file at once, without the plug-in (which has
    // no say once the window closes).
    void CloseInTheFlood() {
        ASSERT_TRUE(BothHoldReadBytes());
        through_plugin = std::min(through_plugin, test_support::Slurp(out).size());
        bool can_close = false;
        main->FormCloseQuery(main, can_close);
        EXPECT_TRUE(can_close);
        EXPECT_FALSE((main->OutputOn() != nullptr));
        EXPECT_FALSE(main->cp1->Connected());
        EXPECT_FALSE(main->cp2->Connected());
    }
    // Waits until both ports hold bytes they have read from their devices
    // and not handed on yet: a port closed now has something to lose.
    bool BothHoldReadBytes() {
        return test_support::PumpUntil([this] {
            return main->cp1->DeviceBytesRead() > Counted(PortSlotMain) &&
                   main->cp2->DeviceBytesRead() > Counted(PortSlot2);
        });
    }
    // Everything the drivers took from the devices went through the plug-in
    // into the file and the counters, in the order it was sent; what is
    // missing is only what the devices still held when a port was closed
    // and opened again (flushed on opening), at most once each time.
    void ExpectAllThatWasRead(Flood& main_flood, Flood& second_flood, int reopened) {
        const std::string main_sent = main_flood.Stop(), second_sent = second_flood.Stop();
        std::string main_got = FileBytesOf(true), second_got = FileBytesOf(false);
        // What a close handed on went round the plug-in, as it came.
        for (std::string* got : {&main_got, &second_got})
            for (char& c : *got) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
        EXPECT_EQ(Counted(PortSlotMain), main_got.size());
        EXPECT_EQ(Counted(PortSlot2), second_got.size());
        const int main_gaps = Gaps(main_got, main_sent), second_gaps = Gaps(second_got, second_sent);
        EXPECT_GE(main_gaps, 0) << "the main port's bytes are not what was sent, in order";
        EXPECT_GE(second_gaps, 0) << "Port2's bytes are not what was sent, in order";
        EXPECT_LE(main_gaps, reopened);
        EXPECT_LE(second_gaps, reopened);
        EXPECT_TRUE(Messages.empty()) << Messages.front();
    }
    // The file's bytes of one port, told apart by their letters: as many as
    // its driver read from the device, every one through the plug-in.
    std::string FileBytesOf(bool main_port) const {
        const char first = main_port ? kMainFirst : kSecondFirst;
        const char upper = static_cast<char>(first - 'a' + 'A');
        const char separator = main_port ? ';' : ':';
        std::string stream;
        std::size_t bypassed = 0, at = 0;
        for (char c : test_support::Slurp(out)) {
            const bool lower = c >= first && c < first + 10;
            bypassed += lower && at++ < through_plugin ? 1 : 0;
            if (lower || (c >= upper && c < upper + 10) || c == separator) stream.push_back(c);
        }
        EXPECT_EQ(bypassed, 0u) << "bytes that missed the plug-in";
        EXPECT_EQ(stream.size(), (main_port ? main->cp1 : main->cp2)->DeviceBytesRead());
        return stream;
    }
};


TEST(nothing_read_lost, a_flood_through_setting_changes_and_the_window_closing_keeps_all_the_program_read) {
    FloodWindow w;
    TMain* m = w.main;
    ASSERT_TRUE(m->cp1->Connected());
    ASSERT_TRUE(m->cp2->Connected());
    Flood main_flood(w.main_dev, kMainFirst), second_flood(w.second_dev, kSecondFirst);
    w.AddProfiles();

    // Every change closes and reopens both ports (Port2 takes the same line
    // settings; the port button frees the main port alone), each time while
    // they hold bytes read and not yet shown.
    const int fast = m->speedcb->Items().IndexOf("19200"), slow = m->speedcb->Items().IndexOf("9600");
    ASSERT_GE(fast, 0);
    ASSERT_GE(slow, 0);
    int changes = 0, reopened = 0;
    for (int round = 0; round < 4; ++round) {
        const bool odd = round % 2 == 1;
        for (int step = 0; step < 7; ++step) {
            ASSERT_TRUE(w.BothHoldReadBytes()) << "change " << changes;
            switch (step) {
                case 0: m->speedcb->SelectByUser(odd ? slow : fast); break;
                case 1: m->Databitscb->SelectByUser(odd ? 3 : 2); break;
                case 2: m->Parcb->SelectByUser(odd ? 0 : 2); break;
                case 3: m->Stopbcb->SelectByUser(odd ? 0 : 2); break;
                case 4: m->cbFlow->SetChecked(!odd); break;
                case 5:
                    m->sbPort->Click();
                    ASSERT_FALSE(m->cp1->Connected());
                    m->sbPort->Click();
                    break;
                default: m->CBProfile->SelectByUser(odd ? 1 : 0); break;
            }
            ++changes;
            // Only the port button closes a port: a line setting or a
            // profile of the same ports keeps what the system holds.
            reopened += step == 5 ? 1 : 0;
            ASSERT_TRUE(m->cp1->Connected() && m->cp2->Connected()) << "change " << changes;
        }
    }
    EXPECT_EQ(m->cp1->BaudRateValue(), 57600u);

    // The window closes in the flood, with bytes read and not yet shown.
    w.CloseInTheFlood();
    w.ExpectAllThatWasRead(main_flood, second_flood, reopened);
}

// Events that wait hold what comes for them; every kind of close meanwhile
// (line settings, either port button, the port list read again, focus lost
// and back, a profile) hands out what the ports had read behind what waits,
// never ahead of it.
TEST(nothing_read_lost, closes_while_receive_events_wait_keep_both_ports_bytes_in_order) {
    FloodWindow w(kWaitingPlugin);
    TMain* m = w.main;
    ASSERT_TRUE(m->cp1->Connected());
    ASSERT_TRUE(m->cp2->Connected());
    // While one port's event waits, the other port's chunks go on without
    // their own event (no event of the plug-in starts while one runs): what
    // matters here is the order.
    w.through_plugin = 0;
    m->Disableondeactivate1->SetChecked(true);
    w.AddProfiles();
    Flood main_flood(w.main_dev, kMainFirst), second_flood(w.second_dev, kSecondFirst);

    const int fast = m->speedcb->Items().IndexOf("19200"), slow = m->speedcb->Items().IndexOf("9600");
    ASSERT_GE(fast, 0);
    ASSERT_GE(slow, 0);
    int changes = 0, reopened = 0;
    for (int round = 0; round < 2; ++round) {
        const bool odd = round % 2 == 1;
        for (int step = 0; step < 6; ++step) {
            ASSERT_TRUE(w.BothHoldReadBytes()) << "change " << changes;
            // Each close comes while an event waits, but for the profile,
            // which is refused then and so comes between events.
            auto change = [&] {
                switch (step) {
                    case 0: m->speedcb->SelectByUser(odd ? slow : fast); break;
                    case 1:
                        m->sbPort->Click();
                        m->sbPort->Click();
                        break;
                    case 2:
                        m->sbPort2->Click();
                        m->sbPort2->Click();
                        break;
                    case 3: m->Rereadportsb->Click(); break;
                    case 4:
                        m->FocusChanged(false);
                        m->FocusChanged(true);
                        break;
                    default: m->CBProfile->SelectByUser(odd ? 1 : 0); break;
                }
            };
            if (step == 5) {
                change();
            } else {
                test_support::WhileBusy inside(*m, change);
                ASSERT_TRUE(test_support::PumpUntil([&] { return inside.done; })) << "change " << changes;
            }
            ++changes;
            // The port buttons, the port list read again and the focus
            // close the ports; a line setting and a profile do not.
            reopened += step >= 1 && step <= 4 ? 1 : 0;
            ASSERT_TRUE(m->cp1->Connected() && m->cp2->Connected()) << "change " << changes;
        }
    }

    w.CloseInTheFlood();
    w.ExpectAllThatWasRead(main_flood, second_flood, reopened);
}

}  // namespace
