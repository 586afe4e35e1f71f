// What a port reads goes on in its place and at its time, whatever a plug-in
// does meanwhile: bytes a Recv takes show as they are taken (before the
// plug-in's message about them), a Clear or the end of output to a file acts
// on what was read before it, a Recv that reads in a loop keeps nothing back
// beyond a port's input buffer, and a line setting changed while the device
// is held back keeps what the system holds for the port.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "e2e/plugin_window.h"
#include "platform/vcl/file_text.h"
#include "support/file_contents.h"
#include "support/fifo_reader.h"
#include "support/processor_share.h"

namespace {

using namespace std::chrono_literals;
using terminal::TMain;
using test_support::PluginWindow;
using test_support::PumpUntil;

// The line of the list whose text holds Text, and its index (-1: none).
int LineWith(const PluginWindow& w, const std::string& Text) {
    for (int i = 0; i < w.Lines().LineCount(); ++i)
        if (w.Lines().LineData(i).find(Text) != std::string::npos) return i;
    return -1;
}

// A device that sends a numbered stream as fast as the port takes it, from a
// thread, until stopped; what it wrote, and how often it tried to write.
class Stream {
public:
    explicit Stream(test_support::PtyPair& Dev) : dev_(Dev) {
        thread_ = std::thread([this] {
            std::string pending;
            std::uint64_t n = 0;
            while (!stop_) {
                while (pending.size() < 4096) pending += std::to_string(n++) + ',';
                ++tries_;
                pollfd p{dev_.MasterFd(), POLLOUT, 0};
                if (poll(&p, 1, 5) <= 0) continue;
                const ssize_t k = ::write(dev_.MasterFd(), pending.data(), pending.size());
                if (k <= 0) continue;
                std::lock_guard<std::mutex> lock(mutex_);
                sent_.append(pending, 0, static_cast<std::size_t>(k));
                pending.erase(0, static_cast<std::size_t>(k));
            }
        });
    }
    ~Stream() { Stop(); }
    std::string Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        std::lock_guard<std::mutex> lock(mutex_);
        return sent_;
    }
    std::size_t Sent() {
        std::lock_guard<std::mutex> lock(mutex_);
        return sent_.size();
    }
    std::uint64_t Tries() const { return tries_; }

private:
    test_support::PtyPair& dev_;
    std::atomic<bool> stop_{false};
    std::atomic<std::uint64_t> tries_{0};
    std::mutex mutex_;
    std::string sent_;
    std::thread thread_;
};

// A request-and-answer poller: the transmit timer's tick asks, the device
// answers 50 ms later, and the plug-in's Recv takes the answer. The answer
// shows in its place, after the request and before the plug-in's message
// about it, stamped when it was read. (The Recv ends on the answer; its
// limit is only how long a busy machine may take to send it.)
TEST(receive_in_place, bytes_a_recv_takes_show_as_they_are_taken_stamped_when_read) {
    PluginWindow w(R"(
procedure OnSend;
var answer: string;
begin
  TD := '';
  PurgeRx;
  Send('READ'#13);
  if Recv(6, 20000, answer) then
    AddMsg('reading: ' + Copy(answer, 3, 3))
  else
    AddErr('no answer (' + IntToStr(Length(answer)) + ' bytes)');
end;
)");
    TMain* m = w.main;
    ASSERT_TRUE(m->cp1->Connected()) << ::testing::PrintToString(w.Messages);
    m->mShowWrites->SetChecked(true);
    m->RVPnlTime = terminal::tpMilliseconds;
    std::atomic<double> answered{0};
    std::optional<test_support::ProcessorShare> share;  // from the answer on
    std::thread device([&] {
        if (w.dev.Read(5, 10s) != "READ\r") return;
        std::this_thread::sleep_for(50ms);
        share.emplace();
        answered = terminal::TSystemReceiveClock().LocalNow();
        w.dev.Write("T=001\r");
    });
    m->TrBCB->SetText("0");
    m->TrBCBChange(m->TrBCB);
    m->Transb->Click();
    device.join();
    ASSERT_TRUE(w.ShowReceived());
    const int request = LineWith(w, "READ"), answer = LineWith(w, "T=001"), message = LineWith(w, "reading: 001");
    ASSERT_GE(request, 0) << w.AllLines();
    ASSERT_GE(answer, 0) << w.AllLines();
    ASSERT_GE(message, 0) << w.AllLines();
    EXPECT_LT(request, answer) << w.AllLines();
    EXPECT_LT(answer, message) << w.AllLines();
    EXPECT_EQ(w.Lines().LineRecord(answer).Dir, 0);
    // Read within a polling tick or two of the device's answer.
    const double lag_ms = (w.Lines().LineRecord(answer).Time - answered.load()) * 86400000.0;
    EXPECT_GE(lag_ms, -1.0);
    test_support::TimeBounds bounds;
    ASSERT_TRUE(share.has_value());
    EXPECT_TRUE(bounds.Within(*share, std::chrono::milliseconds(static_cast<long>(lag_ms)), 100ms,
                              "the read of the device's answer"));
    if (bounds.Void()) GTEST_SKIP() << bounds.Text();
}

// The receive event holds its port's next chunks while it waits until the
// test says go; meanwhile the user switches output to a file off, or clears
// the list. Each acts on what was read before it, held chunks included. A
// chunk with a '+' in it is changed, and so shows as one piece.
const std::string kWaitOnW = std::string(test_support::kWaitForGo) + R"(
procedure OnReceive;
begin
  if RD = 'W' then WaitForGo
  else if Pos('+', RD) > 0 then RD := RD + '!';
end;
)";

TEST(receive_in_place, clear_and_output_off_act_on_what_was_read_before_them) {
    PluginWindow w(kWaitOnW);
    TMain* m = w.main;
    ASSERT_TRUE(m->cp1->Connected()) << ::testing::PrintToString(w.Messages);
    // The device sends Bytes, and the port reads them: they wait in the
    // window's queue for the event.
    auto read = [&](const std::string& Bytes) {
        ASSERT_EQ(w.dev.Write(Bytes), Bytes.size());
        ASSERT_TRUE(PumpUntil([&] {
            std::string queued;
            m->RxQueue.Any([&](const terminal::TReceivedPiece& p) {
                queued += p.Bytes;
                return false;
            });
            return queued.find(Bytes) != std::string::npos;
        }));
        // The window has had its turn to hand them on.
        ASSERT_TRUE(PumpUntil([&] { return !m->PumpPosted; }));
    };
    // While the event waits, Action runs between two chunks the port reads.
    // Counted: what the receive counter shows once everything went on.
    auto around = [&](const std::vector<std::string>& Before, std::function<void()> Action, const std::string& After,
                      std::uint64_t Counted) {
        bool done = false;
        test_support::WhileBusy inside(*m, [&] {
            ASSERT_TRUE(PumpUntil([&] { return m->GetPluginVar("WAITING") == "1"; }));
            for (const std::string& chunk : Before) read(chunk);
            Action();
            read(After);
            m->SetPluginVar("GO", "1");
            done = true;
        });
        ASSERT_EQ(w.dev.Write("W"), 1u);
        ASSERT_TRUE(PumpUntil([&] { return done && !m->PluginBusy; }));
        ASSERT_TRUE(PumpUntil([&] { return m->RxQueue.Empty() && w.RxCount() == Counted; })) << w.RxCount();
        ASSERT_TRUE(w.ShowReceived());
    };

    // Output to a file: what was read while it was on goes into the file,
    // though its event held it until after output was switched off: both
    // pieces, which the next event gets as one chunk and shows one by one.
    // What was read after goes to the list, also when that event changes
    // its chunk (it is another chunk).
    const std::string file = w.dir.File("out.bin");
    m->RxRouter.OpenOutput(file, terminal::TListFileType::Binary);
    around({"held-for-file", "more-for-file"}, [&] { m->Outputtofile1Click(nullptr); }, "+after-off", 38);
    EXPECT_FALSE((m->OutputOn() != nullptr));
    EXPECT_EQ(m->RxRouter.WaitingFile(file), nullptr) << "the file was kept open";
    EXPECT_EQ(test_support::Slurp(file), "Wheld-for-filemore-for-file");
    EXPECT_EQ(LineWith(w, "for-file"), -1) << w.AllLines();
    EXPECT_GE(LineWith(w, "+after-off!"), 0) << w.AllLines();

    // Output switched off, then the list cleared: the file switched off is
    // not the clear's, it still gets what was read for it.
    const std::string kept_file = w.dir.File("kept.bin");
    m->RxRouter.OpenOutput(kept_file, terminal::TListFileType::Binary);
    around(
        {"for-the-file"},
        [&] {
            m->Outputtofile1Click(nullptr);
            m->ClearmClick(nullptr);
        },
        "listed", 19);
    EXPECT_EQ(test_support::Slurp(kept_file), "Wfor-the-file");
    EXPECT_EQ(LineWith(w, "for-the-file"), -1) << w.AllLines();
    EXPECT_GE(LineWith(w, "listed"), 0) << w.AllLines();

    // Clear: what was read before it is cleared with the list (the event
    // still gets it), what came after shows and is counted.
    around({"cleared"}, [&] { m->ClearmClick(nullptr); }, "kept", 4);
    EXPECT_EQ(LineWith(w, "cleared"), -1) << w.AllLines();
    EXPECT_GE(LineWith(w, "kept"), 0) << w.AllLines();
    EXPECT_EQ(w.RxCount(), 4u);
    EXPECT_EQ(w.Messages, std::vector<std::string>{});
}

// The main port's event waits on 'S' until the test says go (the wait a
// plug-in's NBSleep(25000) would make, shortened), while both devices send
// and the user switches output to files on and off with Ctrl+F.
struct OutputWindow : test_support::TwoPortWindow {
    OutputWindow()
        : TwoPortWindow(std::string(test_support::kWaitForGo) +
                        "procedure OnReceive; begin if RD = 'S' then WaitForGo; end;") {}
    // Ctrl+F: output on into File (binary, the bytes as they came), or off.
    void CtrlF(const std::string& File = {}) {
        vcl::Application->DialogHook = [File](vcl::TCommonDialog& d) {
            auto* save = dynamic_cast<vcl::TOpenDialog*>(&d);
            if (!save || File.empty()) return false;
            save->FileName = File;
            save->FilterIndex = 2;
            return true;
        };
        std::uint16_t key = 'F';
        try {
            main->FormKeyDown(main, key, vcl::ssCtrl);
        } catch (const std::exception& e) {
            Messages.push_back(e.what());
        }
        vcl::Application->DialogHook = nullptr;
    }
    // Main sends Held (which waits for the event) and Port2 sends Shown (which
    // goes on at once); true once both are read.
    bool Send(const std::string& Held, const std::string& Shown) {
        const std::uint64_t rx2 = Rx2();
        if (dev.Write(Held) != Held.size() || second.Write(Shown) != Shown.size()) return false;
        return PumpUntil([&] {
            std::string queued;
            main->RxQueue.Any([&](const terminal::TReceivedPiece& p) {
                queued += p.Bytes;
                return false;
            });
            return queued.find(Held) != std::string::npos && Rx2() == rx2 + Shown.size();
        });
    }
    // The device sends 'S'; Meanwhile runs inside the wait that starts,
    // which ends after it. True when all that came has gone on.
    bool Wait(const std::function<void()>& Meanwhile) {
        bool done = false;
        test_support::WhileBusy inside(*main, [&] {
            if (PumpUntil([&] { return main->GetPluginVar("WAITING") == "1"; })) Meanwhile();
            main->SetPluginVar("GO", "1");
            done = true;
        });
        if (dev.Write("S") != 1) return false;
        return PumpUntil([&] { return done && !main->PluginBusy && main->RxQueue.Empty(); }) && ShowReceived();
    }
};

// A line error of the port (the driver's parity, framing, overrun or break
// report) comes after every byte the port read before it, wherever those
// bytes wait: the chunk its receive event runs on, the chunks read while the
// event waits, a chunk read but not handed on yet when the error comes; in
// the list, and in a text output file that takes both.
TEST(receive_in_place, a_line_error_comes_after_what_its_port_read_before_it_wherever_that_waits) {
    for (const bool to_file : {false, true}) {
        SCOPED_TRACE(to_file ? "text output to a file" : "the list");
        PluginWindow w(kWaitOnW);
        TMain* m = w.main;
        ASSERT_TRUE(m->cp1->Connected()) << ::testing::PrintToString(w.Messages);
        const std::string file = w.dir.File("out.txt");
        if (to_file) m->RxRouter.OpenOutput(file, terminal::TListFileType::Text);
        auto error = [m](std::int32_t Errs) { m->cp1ReceiveError(m->cp1, Errs); };
        // The event waits on "W"; meanwhile a parity error, a chunk, and a
        // break error come.
        bool done = false;
        test_support::WhileBusy inside(*m, [&] {
            ASSERT_TRUE(PumpUntil([&] { return m->GetPluginVar("WAITING") == "1"; }));
            error(0x4);
            ASSERT_EQ(w.dev.Write("held"), 4u);
            ASSERT_TRUE(PumpUntil([&] {
                return m->RxQueue.Any([](const terminal::TReceivedPiece& p) { return p.Bytes == "held"; });
            }));
            error(0x10);
            m->SetPluginVar("GO", "1");
            done = true;
        });
        ASSERT_EQ(w.dev.Write("W"), 1u);
        ASSERT_TRUE(PumpUntil([&] { return done && !m->PluginBusy && m->RxQueue.Empty() && w.RxCount() == 5; }));
        // A chunk read, and a framing error before the window's next turn
        // hands it on.
        const ports::TReceiveDataEvent read = m->cp1->OnReceiveData;
        m->cp1->OnReceiveData = [&](vcl::TComponent* s, const void* d, std::uint32_t n) {
            read(s, d, n);
            error(0x8);
        };
        ASSERT_TRUE(w.Play("late", 4)) << w.RxCount() << " " << w.AllLines();
        m->cp1->OnReceiveData = read;
        ASSERT_TRUE(w.ShowReceived());
        std::string order;
        if (to_file) {
            order = test_support::Slurp(file);
        } else {
            for (int i = 0; i < w.Lines().LineCount(); ++i) order += w.Lines().LineData(i) + "\r";
        }
        // Each once, in the order it was read.
        std::size_t last = 0;
        for (const std::string text : {"W", "= Parity Err =", "held", "= Break Err =", "late", "= Frame Err ="}) {
            const std::size_t at = order.find(text);
            ASSERT_NE(at, std::string::npos) << text << " is missing: " << order;
            EXPECT_GE(at, last) << text << " came too early: " << order;
            EXPECT_EQ(order.find(text, at + 1), std::string::npos) << text << " came twice: " << order;
            last = at;
        }
    }
}

TEST(receive_in_place, every_file_switched_off_in_one_wait_gets_what_was_read_for_it_and_can_be_written_on) {
    OutputWindow w;
    TMain* m = w.main;
    ASSERT_TRUE(m->cp1->Connected() && m->cp2->Connected()) << ::testing::PrintToString(w.Messages);
    const std::string a = w.dir.File("a.bin"), b = w.dir.File("b.bin");
    w.CtrlF(a);
    ASSERT_TRUE((m->OutputOn() != nullptr));
    ASSERT_TRUE(w.Wait([&] {
        ASSERT_TRUE(w.Send("M1DATA", "P2A"));
        w.CtrlF();
        w.CtrlF(b);
        ASSERT_TRUE(w.Send("M2DATA", "P2B"));
        w.CtrlF();
        ASSERT_FALSE((m->OutputOn() != nullptr));
    }));
    EXPECT_EQ(test_support::Slurp(a), "P2ASM1DATA");
    EXPECT_EQ(test_support::Slurp(b), "P2BM2DATA");
    // The list was cleared when b.bin was switched on and got nothing since.
    EXPECT_EQ(w.AllLines(), "|");
    EXPECT_TRUE(m->RxRouter.WaitingFile(a) == nullptr && m->RxRouter.WaitingFile(b) == nullptr)
        << "a file switched off was kept open";
    EXPECT_EQ(w.Messages, std::vector<std::string>{});

    // Output on again into a file that still waits for what was read for it
    // carries on writing it, after what it holds.
    w.CtrlF(a);
    ASSERT_TRUE(w.Wait([&] {
        ASSERT_TRUE(w.Send("M1", "P2X"));
        w.CtrlF();
        w.CtrlF(a);
        EXPECT_EQ(w.Messages, std::vector<std::string>{});
        ASSERT_TRUE((m->OutputOn() != nullptr));
        ASSERT_TRUE(w.Send("M2", "P2Y"));
    }));
    EXPECT_EQ(test_support::Slurp(a), "P2XP2YSM1M2");
    // Switched off again once all is written, it closes at once.
    w.CtrlF();
    EXPECT_EQ(m->RxRouter.WaitingFile(a), nullptr);
    EXPECT_EQ(w.AllLines(), "|");

    // Saved onto while it waits, the list and the graph's points are
    // refused: the file is this program's own output, and says so.
    w.CtrlF(a);
    std::vector<std::string> refusals;
    ASSERT_TRUE(w.Wait([&] {
        ASSERT_TRUE(w.Send("M3", "P2Z"));
        w.CtrlF();
        ASSERT_NE(m->RxRouter.WaitingFile(a), nullptr);
        vcl::Application->DialogHook = [&](vcl::TCommonDialog& d) {
            auto* save = dynamic_cast<vcl::TOpenDialog*>(&d);
            if (save) save->FileName = a, save->FilterIndex = 2;
            return save != nullptr;
        };
        for (const std::function<void()>& save : std::vector<std::function<void()>>{
                 [&] { m->mSaveAllClick(nullptr); }, [&] { w.graph->SavePoints(a); }}) {
            try {
                save();
                refusals.push_back("saved");
            } catch (const std::exception& e) {
                refusals.push_back(e.what());
            }
        }
        vcl::Application->DialogHook = nullptr;
    }));
    const std::string refused = "Cannot write \"" + a +
                                "\": it is an output file switched off that is still being written with what was "
                                "received for it, which waits for the plug-in's receive event";
    EXPECT_EQ(refusals, (std::vector<std::string>{refused, refused}));
    EXPECT_EQ(test_support::Slurp(a), "P2ZSM3");
}

// A port that closes while its own receive event waits: its end shows after
// what the event holds. In HW, the low byte 11 read before the event pairs
// with the event's 'S' into one word; nothing shows alone, nothing is lost.
TEST(receive_in_place, a_port_closed_inside_its_own_event_ends_after_what_the_event_holds) {
    OutputWindow w;
    TMain* m = w.main;
    ASSERT_TRUE(m->cp1->Connected()) << ::testing::PrintToString(w.Messages);
    m->mShowWrites->SetChecked(true);
    m->DataFormat = terminal::dfHW;
    m->StartNewLine(true);
    ASSERT_TRUE(w.Play("\x11", 1));
    ASSERT_TRUE(w.Wait([&] {
        m->sbPort->Click();
        ASSERT_FALSE(m->cp1->Connected());
        // The loop's turns meanwhile: the end waits for the event.
        test_support::Pump(std::chrono::milliseconds(200));
    }));
    EXPECT_EQ(w.RxCount(), 2u);
    std::vector<std::string> shown;
    for (int i = 0; i < w.Lines().LineCount(); ++i)
        if (w.Lines().LineLength(i) > 0) shown.push_back(w.Lines().GetLine(i));
    EXPECT_EQ(shown, std::vector<std::string>{"<5311"});
}

// Binary output onto a pipe that holds a page. The main port's event waits
// while 3000 'A', 'B' and 'C' come; after the wait the reader takes S and A,
// and stops: what is left is more than the page holds, wherever in the
// stream the page began. Once the pipe is given up, each byte the port
// read is in one place: in the pipe, or in the list.
TEST(receive_in_place, a_pipe_that_stops_after_a_wait_leaves_each_byte_in_one_place) {
    setenv("VOSTREL_TEST_WRITE_STALL_MS", "400", 1);
    OutputWindow w;
    TMain* m = w.main;
    ASSERT_TRUE(m->cp1->Connected()) << ::testing::PrintToString(w.Messages);
    const std::string fifo = w.dir.File("pipe");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    test_support::FifoReader reader(fifo);
    ASSERT_TRUE(reader.SetCapacity(4096));
    w.CtrlF(fifo);
    ASSERT_TRUE((m->OutputOn() != nullptr));
    const std::string sent = "S" + std::string(3000, 'A') + std::string(3000, 'B') + std::string(3000, 'C');
    std::atomic<bool> stop{false};
    std::string piped;
    std::thread taking([&] {
        while (!stop && piped.size() < 3001) {
            piped += reader.TakeSome(3001 - piped.size());
            std::this_thread::sleep_for(1ms);
        }
    });
    ASSERT_TRUE(w.Wait([&] {
        ASSERT_EQ(w.dev.Write(sent.substr(1)), sent.size() - 1);
        std::size_t queued = 0;
        ASSERT_TRUE(PumpUntil([&] {
            queued = 0;
            m->RxQueue.Any([&](const terminal::TReceivedPiece& p) {
                queued += p.Bytes.size();
                return false;
            });
            return queued == sent.size() - 1;
        })) << queued;
    }));
    EXPECT_TRUE(PumpUntil([&] { return !(m->OutputOn() != nullptr); })) << "the stopped reader was not given up";
    ASSERT_TRUE(w.ShowReceived());
    stop = true;
    taking.join();
    unsetenv("VOSTREL_TEST_WRITE_STALL_MS");
    EXPECT_EQ(piped.size(), 3001u);
    piped += reader.Take();
    std::string listed;
    for (int i = 0; i < w.Lines().LineCount(); ++i)
        if (w.Lines().LineRecord(i).Format < terminal::dfERR) listed += w.Lines().LineBytes(i);
    EXPECT_EQ(piped.size() + listed.size(), sent.size()) << piped.size() << " piped, " << listed.size() << " listed";
    EXPECT_TRUE(piped + listed == sent) << "a byte was lost or shown twice";
    EXPECT_FALSE(m->Outputtofile1->Checked());
}

// Both devices send as fast as the ports take it; the main port's event
// waits on every third chunk, and Port2's event keeps what it is given. It
// is given every byte Port2 sent, once and in order: Port2's chunks wait for
// their own event while the main port's waits. A Port2 without an event of
// its own goes on during the main port's wait.
TEST(receive_in_place, a_ports_declared_event_sees_its_every_chunk_while_the_other_ports_event_waits) {
    test_support::TwoPortWindow w(R"(
var n: Integer;
procedure OnReceive;
begin
  n := n + 1;
  if n mod 3 = 0 then NBSleep(60);
end;
procedure OnReceive2;
begin
  SetV('P2', GetV('P2') + RD2);
end;
)");
    TMain* m = w.main;
    ASSERT_TRUE(m->cp1->Connected() && m->cp2->Connected()) << ::testing::PrintToString(w.Messages);
    std::size_t held_while_busy = 0;
    QTimer watch;
    watch.setInterval(5);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (m->RxRouter.EventSlot() == 1 && !m->RxQueue.Empty({.IsMain = false})) ++held_while_busy;
    });
    watch.start();
    Stream main_device(w.dev), second_device(w.second);
    // 1.5 s of both streams, and on until Port2 was seen read while the main
    // port's event waited (for 20 s at the most: a busy machine may turn the
    // loop too seldom to see it in the 1.5 s).
    const auto least = std::chrono::steady_clock::now() + 1500ms;
    PumpUntil([&] { return held_while_busy > 0 && std::chrono::steady_clock::now() >= least; }, 20s);
    const std::string sent2 = second_device.Stop();
    const std::string sent1 = main_device.Stop();
    ASSERT_TRUE(PumpUntil([&] { return w.Rx2() == sent2.size() && w.RxCount() == sent1.size() && !m->PluginBusy &&
                                       m->RxQueue.Empty(); },
                          30s))
        << w.Rx2() << " of " << sent2.size();
    watch.stop();
    EXPECT_GT(held_while_busy, 0u) << "Port2 never read while the main port's event waited";
    const std::string seen = m->GetPluginVar("P2");
    EXPECT_EQ(seen.size(), sent2.size());
    EXPECT_TRUE(seen == sent2) << "ONRECEIVE2 did not see Port2's stream once and in order";
    EXPECT_EQ(w.Messages, std::vector<std::string>{});

    // Without ONRECEIVE2, Port2 goes on while the main port's event waits.
    test_support::TwoPortWindow plain(std::string(test_support::kWaitForGo) +
                                      "procedure OnReceive; begin WaitForGo; end;");
    bool went_on = false;
    test_support::WhileBusy inside(*plain.main, [&] {
        ASSERT_TRUE(PumpUntil([&] { return plain.main->GetPluginVar("WAITING") == "1"; }));
        ASSERT_EQ(plain.second.Write("abc"), 3u);
        went_on = PumpUntil([&] { return plain.Rx2() == 3; });
        plain.main->SetPluginVar("GO", "1");
    });
    ASSERT_EQ(plain.dev.Write("W"), 1u);
    ASSERT_TRUE(PumpUntil([&] { return inside.done && !plain.main->PluginBusy; }));
    EXPECT_TRUE(went_on);
}

// A plug-in that reads with Recv in a loop, in its load event and in its
// receive event, while the device sends as fast as it can: what Recv takes
// is shown (here: written to the raw output file) as it is taken, so the
// window holds no more than the port's input buffer, and the file gets every
// byte in order. The loop lasts 3 s, and on until the test has seen enough
// sent and written while it ran (for 30 s at the most: a busy machine may
// send too little in the 3 s to matter).
TEST(receive_in_place, a_recv_loop_keeps_nothing_back_beyond_the_input_buffer) {
    for (const bool in_receive_event : {false, true}) {
        SCOPED_TRACE(in_receive_event ? "in ONRECEIVE" : "in ONLOAD");
        PluginWindow w("procedure OnLoad; begin end;");
        TMain* m = w.main;
        // A lowered input buffer, reached at once.
        ASSERT_TRUE(w.LowerInputBuffer(64 * 1024)) << ::testing::PrintToString(w.Messages);
        const std::string file = w.dir.File("raw.bin");
        m->RxRouter.OpenOutput(file, terminal::TListFileType::Binary);
        const std::string loop =
            "var s: string; t: Cardinal;\nbegin\n  SetV('LOOP', '1');\n  t := GetTickCount;\n"
            "  while (GetTickCount - t < 3000) or\n"
            "        ((GetV('ENOUGH') <> '1') and (GetTickCount - t < 30000)) do Recv(" +
            std::string(in_receive_event ? "0, 100" : "65536, 20") + ", s);\n  SetV('LOOP', '0');\nend;\n";
        const std::string source = in_receive_event
                                       ? "var done: Boolean;\nprocedure OnReceive;\n"
                                         "var s: string; t: Cardinal;\nbegin\n  if done then Exit;\n"
                                         "  done := True;\n  SetV('FIRST', IntToStr(Length(RD)));\n" +
                                             loop.substr(loop.find("  SetV"))
                                       : "procedure OnLoad;\n" + loop;
        const std::string plugin = w.dir.File("loop.pas");
        vcl::SaveStrToFile(source, plugin);

        Stream device(w.dev);
        std::size_t most = 0, written_in_loop = 0;
        QTimer watch;
        watch.setInterval(10);
        QObject::connect(&watch, &QTimer::timeout, [&] {
            most = std::max(most, m->RxQueue.Cost({}));
            if (m->GetPluginVar("LOOP") != "1") return;
            written_in_loop = test_support::Slurp(file).size();
            if (written_in_loop > m->cp1->InBufSize() && device.Sent() > 2u * m->cp1->InBufSize())
                m->SetPluginVar("ENOUGH", "1");
        });
        watch.start();
        m->LoadPlugin(plugin);
        ASSERT_NE(m->Script, nullptr) << ::testing::PrintToString(w.Messages);
        ASSERT_TRUE(PumpUntil([&] { return m->GetPluginVar("LOOP") == "0"; }, 60s));
        const std::string sent = device.Stop();
        ASSERT_TRUE(PumpUntil([&] { return m->cp1->DeviceBytesRead() == sent.size() && !m->PluginBusy &&
                                           m->RxQueue.Empty() && w.RxCount() == sent.size(); },
                              30s))
            << m->cp1->DeviceBytesRead() << " of " << sent.size();
        watch.stop();
        m->SwitchOutputOff();
        EXPECT_GT(sent.size(), 2u * m->cp1->InBufSize()) << "the device sent too little to matter";
        EXPECT_GT(written_in_loop, m->cp1->InBufSize()) << "what Recv took was not written as it was taken";
        EXPECT_LE(most, m->cp1->InBufSize() + 4096);
        const std::string got = test_support::Slurp(file);
        if (!in_receive_event) {
            EXPECT_TRUE(got == sent) << "the file is not what the device sent";
        } else {
            // The event's own chunk shows when it returns; what its Recv took
            // waits behind it only as long as that is less than the input
            // buffer, and shows ahead of it beyond that.
            const std::size_t first = std::stoul(m->GetPluginVar("FIRST"));
            const std::size_t at = got.find(sent.substr(0, first));
            ASSERT_NE(at, std::string::npos);
            EXPECT_GT(at, 0u);
            EXPECT_TRUE(got.size() == sent.size() && got.compare(0, at, sent, first, at) == 0 &&
                        got.compare(at + first, std::string::npos, sent, first + at) == 0)
                << "the file is not the device's stream with the event's chunk in its place";
        }
        EXPECT_EQ(w.Messages, std::vector<std::string>{});
    }
}

// The device sends as fast as it can while the receive event waits, so that
// the port stops reading and the system holds what comes; the user changes
// the speed and the parity meanwhile. The port stays open with its new
// settings, and the file gets the device's stream whole: nothing the system
// held for the port is thrown away.
TEST(receive_in_place, line_settings_changed_while_the_device_is_held_back_keep_what_it_sent) {
    PluginWindow w(std::string(test_support::kWaitForGo) + R"(
var done: Boolean;
procedure OnReceive;
begin
  if done then Exit;
  done := True;
  Send('<W>');
  WaitForGo;
end;
)");
    TMain* m = w.main;
    ASSERT_TRUE(m->cp1->Connected()) << ::testing::PrintToString(w.Messages);
    const std::string file = w.dir.File("raw.bin");
    m->RxRouter.OpenOutput(file, terminal::TListFileType::Binary);
    Stream device(w.dev);
    bool changed = false;
    test_support::WhileBusy inside(*m, [&] {
        // The port's room is used up and the device waits on the system:
        // over 400 ms in which it goes on trying to write, none of its
        // stream gets through.
        ASSERT_TRUE(PumpUntil([&] { return m->RxQueue.Cost({}) >= m->cp1->InBufSize(); }, 30s));
        const auto held_back = [&] {
            const std::size_t sent = device.Sent();
            const std::uint64_t tries = device.Tries();
            test_support::Pump(400ms);
            return device.Sent() == sent && device.Tries() >= tries + 20;
        };
        bool held = false;
        for (int round = 0; round < 50 && !held; ++round) held = held_back();
        ASSERT_TRUE(held) << "the device was never held back";
        m->speedcb->SelectByUser(m->speedcb->Items().IndexOf("19200"));
        m->Parcb->SelectByUser(2);
        changed = m->cp1->Connected() && m->cp1->BaudRateValue() == 19200u && m->cp1->Parity() == ports::ptEVEN;
        m->SetPluginVar("GO", "1");
    });
    ASSERT_TRUE(PumpUntil([&] { return inside.done && !m->PluginBusy; }, 60s));
    EXPECT_TRUE(changed);
    std::this_thread::sleep_for(200ms);
    const std::string sent = device.Stop();
    ASSERT_TRUE(PumpUntil([&] { return m->cp1->DeviceBytesRead() == sent.size() && m->RxQueue.Empty() &&
                                       w.RxCount() == sent.size(); },
                          30s))
        << m->cp1->DeviceBytesRead() << " of " << sent.size();
    m->SwitchOutputOff();
    EXPECT_TRUE(test_support::Slurp(file) == sent) << "the file is not the device's stream";
    EXPECT_EQ(w.Messages, std::vector<std::string>{});
}

}  // namespace
