// Received bytes through the whole road: a pseudo-terminal plays the device
// behind COM5 (and COM6 for Port2), the main window opens them through its
// own port parameters, the serial drivers poll them, and the bytes end up as
// receive-panel lines, counters, graph points or output-file bytes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "chart/engine/fast_line_series.h"
#include "graph/graph_form.h"
#include "platform/rtl/file_writes.h"
#include "platform/vcl/forms.h"
#include "platform/win/timers.h"
#include "ports/foreign_port.h"
#include "platform/vcl/dialogs.h"
#include "platform/vcl/file_text.h"
#include "support/dialog_answers.h"
#include "support/fifo_reader.h"
#include "support/hex_text.h"
#include "support/main_window.h"
#include "support/pty.h"
#include "support/qt_app.h"
#include "support/processor_share.h"
#include "terminal/main_form.h"
#include "terminal/receive_list_files.h"

namespace {

using terminal::TMain;

struct ReceivePath : test_support::MainWindow {
    test_support::PtyPair main_dev, second_dev;
    std::vector<vcl::TMessageRequest>& messages = Requests;

    ReceivePath() : BasicMainWindow({.Start = false, .Graph = true}) {
        main_dev.MapAsCom(5);
        second_dev.MapAsCom(6);
        Start();
        main->RVPnlTime = 0;  // no time: the lines are exactly their data and mark
        main->mShowWrites->SetChecked(true);
        main->ForceComNumber(5, true);
        main->ForceComNumber(6, false);
        main->ApplyBothPortParams(false);
    }
    // The window goes before the devices do.
    ~ReceivePath() { Free(); }
    // Plays bytes on a device and waits until the port's counter took them.
    bool Send(test_support::PtyPair& dev, const std::string& bytes) {
        const bool is_main = &dev == &main_dev;
        const std::uint64_t want =
            main->PortSlots[is_main ? terminal::PortSlotMain : terminal::PortSlot2].RxCount +
            static_cast<std::uint32_t>(bytes.size());
        if (dev.Write(bytes) != bytes.size()) return false;
        return test_support::PumpUntil([&] {
            return main->PortSlots[is_main ? terminal::PortSlotMain : terminal::PortSlot2].RxCount ==
                   want;
        });
    }
    const terminal::TLineStore& Lines() const { return main->RxPanel->Lines(); }
    int Last() const { return Lines().LineCount() - 1; }
};

TEST(receive_path, bytes_from_the_devices_become_panel_lines_counters_and_graph_points) {
    ReceivePath p;
    TMain* m = p.main;
    ASSERT_TRUE(m->cp1->Connected());
    ASSERT_TRUE(m->cp2->Connected());
    ASSERT_EQ(m->DataFormat, terminal::dfHEX);

    // HEX: one token per byte after the direction mark.
    ASSERT_TRUE(p.Send(p.main_dev, "AB"));
    EXPECT_EQ(p.Lines().LineData(p.Last()), "41 42");
    EXPECT_EQ(p.Lines().GetLine(p.Last()), "<41 42");
    EXPECT_EQ(p.Lines().LineRecord(p.Last()).Format, terminal::dfHEX);
    EXPECT_EQ(m->lb1->Count(), p.Lines().LineCount());

    // ASC with LF as the line break: the LF ends the first line.
    m->DataFormat = terminal::dfASC;
    m->StartNewLine(true);
    const int first = p.Last();
    ASSERT_TRUE(p.Send(p.main_dev, "ab\ncd"));
    ASSERT_EQ(p.Last(), first + 1);
    EXPECT_EQ(p.Lines().LineData(first), "ab\x95" "0A");
    EXPECT_EQ(p.Lines().LineData(first + 1), "cd");

    // Port2: its own line with its own mark.
    ASSERT_TRUE(p.Send(p.second_dev, "Z"));
    EXPECT_EQ(p.Lines().GetLine(p.Last()), "\xAB" "Z");
    EXPECT_EQ(p.Lines().LineRecord(p.Last()).Dir, 1);
    ASSERT_TRUE(p.ShowReceived());
    EXPECT_EQ(m->RVLabel->Caption(), "(7, 1)");

    // DW into the visible graph window, read as signed.
    p.graph->SetVisible(true);
    p.graph->cbSigned->SetChecked(true);
    m->DataFormat = terminal::dfDW;
    m->StartNewLine(true);
    ASSERT_TRUE(p.Send(p.main_dev, std::string("\x01\x00\xFF\xFF", 4)));
    ASSERT_EQ(p.graph->PointCount(), 2);
    EXPECT_EQ(p.graph->serLine->YValues().Value(0), 1);
    EXPECT_EQ(p.graph->serLine->YValues().Value(1), -1);
    EXPECT_EQ(p.Lines().LineData(p.Last()), "00001 65535");
    p.graph->SetVisible(false);
    ASSERT_TRUE(p.ShowReceived());
    EXPECT_EQ(m->RVLabel->Caption(), "(11, 1)");
    EXPECT_TRUE(p.messages.empty());
}

TEST(receive_path, raw_output_gets_every_byte_and_line_errors_fold) {
    ReceivePath p;
    TMain* m = p.main;
    ASSERT_TRUE(m->cp1->Connected());

    // Raw output: every byte value, in order, and nothing in the panel.
    const std::filesystem::path file = p.dir.File("out.bin");
    m->RxRouter.OpenOutput(file.string(), terminal::TListFileType::Binary);
    std::string bytes;
    for (int round = 0; round < 4; ++round)
        for (int b = 0; b < 256; ++b) bytes.push_back(static_cast<char>(b));
    const int lines = p.Lines().LineCount();
    ASSERT_TRUE(p.Send(p.main_dev, bytes));
    m->SwitchOutputOff();
    std::ifstream in(file, std::ios::binary);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()),
              bytes);
    EXPECT_EQ(p.Lines().LineCount(), lines);
    ASSERT_TRUE(p.ShowReceived());
    EXPECT_EQ(m->RVLabel->Caption(), "(1024, 0)");

    // Line errors as the driver reports them: repeats fold with their count.
    m->cp1ReceiveError(m->cp1, 0x2);
    m->cp1ReceiveError(m->cp1, 0x2);
    m->cp1ReceiveError(m->cp1, 0x2);
    m->cp1ReceiveError(m->cp2, 0x8 | 0x4);
    ASSERT_GE(p.Lines().LineCount(), 3);
    EXPECT_EQ(p.Lines().GetLine(p.Last() - 2), "<= OverRun Err = [3]");
    EXPECT_EQ(p.Lines().GetLine(p.Last() - 1), "\xAB= Parity Frame Err =");
    EXPECT_EQ(p.Lines().LineRecord(p.Last() - 1).Format, terminal::dfERR);
    // The data after them starts a line of its own.
    ASSERT_TRUE(p.Send(p.main_dev, "\x10"));
    EXPECT_EQ(p.Lines().GetLine(p.Last()), "<10");
}

// A word is two successive bytes of one stream. The main port, Port2 and the
// transmitted bytes each pair their own bytes, whatever the others send in
// between: a byte left over waits for its own port's next byte, and a line
// saved as binary gives back each port's bytes under its own lines, in order.
TEST(receive_path, words_pair_the_bytes_of_one_port_only) {
    enum Source { Main, Port2, Sent, NewLine };
    struct Step {
        Source from;
        std::string bytes;
    };
    // Port2's EE is left over when the user starts a new line: dropped. So
    // are the transmitted 30 and, at the end, the main port's 07 (not yet
    // shown, as the second byte has not come).
    const std::vector<Step> steps = {
        {Main, "\x01\x02\x03"}, {Port2, "\xAA\xBB\xCC\xDD"}, {Sent, "\x10\x20\x30"},
        {Main, "\x04\x05"},     {Port2, "\xEE"},             {Main, "\x06"},
        {NewLine, ""},          {Port2, "\xFF\x11"},         {Main, "\x07"},
    };
    const std::vector<std::uint16_t> graphed = {0x0201, 0xBBAA, 0xDDCC, 0x0403, 0x0605, 0x11FF};
    // Each line's bytes as a binary save gives them.
    const std::vector<std::string> line_bytes = {"\x01\x02", "\xAA\xBB\xCC\xDD", "\x10\x20",
                                                 "\x03\x04\x05\x06", "\xFF\x11"};
    const std::vector<std::string> hw = {"<0201", "\xAB" "BBAA DDCC", ">2010", "<0403 0605", "\xAB" "11FF"};
    const std::vector<std::string> dw = {"<00513", "\xAB" "48042 56780", ">08208", "<01027 01541",
                                         "\xAB" "04607"};
    struct Row {
        const char* name;
        terminal::TDataFormat format;
        bool graph_signed;
        int port2_client;  // 0: the serial ports; else the Ethernet port's clients 1 and this one
        const std::vector<std::string>& lines;
    };
    const Row rows[] = {
        {"HW, serial", terminal::dfHW, false, 0, hw},
        {"DW, serial", terminal::dfDW, true, 0, dw},
        {"HW, Ethernet slots", terminal::dfHW, true, 2, hw},
        {"DW, Ethernet slots", terminal::dfDW, false, 3, dw},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ReceivePath p;
        TMain* m = p.main;
        ASSERT_TRUE(m->cp1->Connected());
        ASSERT_TRUE(m->cp2->Connected());
        p.graph->SetVisible(true);
        p.graph->cbSigned->SetChecked(row.graph_signed);
        m->DataFormat = row.format;
        m->StartNewLine(true);
        const int first = p.Last();
        auto port_bytes = [&](bool is_main, const std::string& bytes) {
            if (row.port2_client == 0) return p.Send(is_main ? p.main_dev : p.second_dev, bytes);
            // What the Ethernet port hands on: the client index, then its bytes.
            auto& count = m->PortSlots[is_main ? terminal::PortSlotMain : terminal::PortSlot2].RxCount;
            const auto want = count + bytes.size();
            std::string reply;
            m->ForeignPortEvent(ports::fpeData,
                                std::string(1, static_cast<char>(is_main ? 1 : row.port2_client)) + bytes,
                                reply);
            return test_support::PumpUntil([&] { return count == want; });
        };
        for (const Step& step : steps) {
            switch (step.from) {
                case Main: ASSERT_TRUE(port_bytes(true, step.bytes)); break;
                case Port2: ASSERT_TRUE(port_bytes(false, step.bytes)); break;
                case Sent: m->ShowData(step.bytes.data(), step.bytes.size(), 2); break;
                case NewLine: m->StartNewLine(true); break;
            }
        }
        ASSERT_TRUE(p.ShowReceived());

        std::vector<std::string> shown;
        std::string all_bytes;
        for (int i = first; i <= p.Last(); ++i) {
            shown.push_back(p.Lines().GetLine(i));
            all_bytes += p.Lines().LineBytes(i);
            if (i - first < static_cast<int>(line_bytes.size())) {
                EXPECT_EQ(p.Lines().LineBytes(i), line_bytes[static_cast<std::size_t>(i - first)]) << i;
            }
        }
        EXPECT_EQ(shown, row.lines);

        // The graph takes the received words, not the transmitted ones.
        ASSERT_EQ(p.graph->PointCount(), static_cast<int>(graphed.size()));
        for (std::size_t k = 0; k < graphed.size(); ++k) {
            const double want = row.graph_signed ? static_cast<std::int16_t>(graphed[k]) : graphed[k];
            EXPECT_EQ(p.graph->serLine->YValues().Value(static_cast<int>(k)), want) << k;
        }

        const std::filesystem::path file = p.dir.File("list.bin");
        terminal::SaveList(p.Lines(), file.string(), terminal::TListFileType::Binary);
        std::ifstream in(file, std::ios::binary);
        EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()),
                  all_bytes);
        EXPECT_EQ(all_bytes, std::string("\x01\x02\xAA\xBB\xCC\xDD\x10\x20\x03\x04\x05\x06\xFF\x11"));
        EXPECT_TRUE(p.messages.empty());
    }
    unsetenv("VOSTREL_TEST_WRITE_STALL_MS");
}

// A word view keeps every byte of each port: the plug-in's lines about each
// chunk and the other port's lone byte between reset no pairing, and a port
// that closes shows the low byte its word was left waiting with, alone, as
// the byte it is.
TEST(receive_path, a_word_view_keeps_every_byte_through_a_plugins_lines_and_a_port_that_closes) {
    ReceivePath p;
    TMain* m = p.main;
    ASSERT_TRUE(m->cp1->Connected());
    ASSERT_TRUE(m->cp2->Connected());
    const std::string plugin = p.dir.File("count.pas");
    vcl::SaveStrToFile("procedure OnReceive; begin AddMsg('got ' + IntToStr(Length(RD))); end;", plugin);
    m->LoadPlugin(plugin);
    ASSERT_NE(m->Script, nullptr);
    m->DataFormat = terminal::dfHW;
    m->StartNewLine(true);
    const int first = p.Last();
    for (const auto& [dev, bytes] : std::vector<std::pair<test_support::PtyPair*, std::string>>{
             {&p.main_dev, "\x11\x12\x13"}, {&p.second_dev, "\xCC"}, {&p.main_dev, "\x14\x15"},
             {&p.second_dev, "\xDD"}, {&p.main_dev, "\x16"}, {&p.main_dev, "\x17"}, {&p.second_dev, "\xEE"}})
        ASSERT_TRUE(p.Send(*dev, bytes));
    ASSERT_TRUE(p.ShowReceived());
    // Both ports close: each low byte left waiting shows, as the byte it is.
    m->sbPort->Click();
    m->sbPort2->Click();
    ASSERT_FALSE(m->cp1->Connected());
    ASSERT_FALSE(m->cp2->Connected());
    ASSERT_TRUE(p.ShowReceived());
    std::vector<std::string> shown;
    std::string bytes;
    for (int i = first; i < p.Last(); ++i) {
        shown.push_back(p.Lines().GetLine(i));
        bytes += p.Lines().LineBytes(i);
    }
    EXPECT_EQ(shown, (std::vector<std::string>{"<got 3", "<1211", "<got 2", "<1413", "\xAB" "DDCC", "<got 1", "<1615",
                                               "<got 1", "<17", "\xAB" "EE"}));
    EXPECT_EQ(bytes, std::string("\x11\x12\x13\x14\xCC\xDD\x15\x16\x17\xEE"));
    const std::filesystem::path file = p.dir.File("list.bin");
    terminal::SaveList(p.Lines(), file.string(), terminal::TListFileType::Binary);
    std::ifstream in(file, std::ios::binary);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()), bytes);
    EXPECT_TRUE(p.messages.empty());
}

// Output to a file switched on (into File, as text or binary) or off, as
// the menu entry does after its dialog.
void SwitchOutput(TMain& m, const std::string& File = {}, int Filter = 1) {
    vcl::Application->DialogHook = [File, Filter](vcl::TCommonDialog& d) {
        auto* od = dynamic_cast<vcl::TOpenDialog*>(&d);
        if (od) od->FileName = File, od->FilterIndex = Filter;
        return od != nullptr;
    };
    m.Outputtofile1->Click();
    vcl::Application->DialogHook = nullptr;
}

std::string Slurp(const std::string& File) {
    std::ifstream in(File, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The message windows open now (notices of earlier tests too), freed.
std::vector<std::string> TakeNotices() {
    std::vector<std::string> notices;
    if (!vcl::Application) return notices;
    for (int i = 0; i < vcl::Application->ComponentCount(); ++i) {
        auto* f = dynamic_cast<vcl::TForm*>(vcl::Application->Components(i));
        if (f && f->FindComponent("Message")) {
            notices.push_back(static_cast<vcl::TLabel*>(f->FindComponent("Message"))->Caption());
            vcl::TComponent::Free(f);
            --i;
        }
    }
    return notices;
}

TEST(receive_path, a_flood_of_errors_from_a_vanished_device_closes_its_port_with_a_notice) {
    TakeNotices();
    ReceivePath p;
    TMain* m = p.main;
    ASSERT_TRUE(m->cp1->Connected());
    const std::string name = m->cp1->PortName();
    // The errors come before the polling notices the device gone.
    m->cp1->PausePolling();
    p.main_dev.CloseMaster();
    test_support::Pump(std::chrono::milliseconds(200));
    ASSERT_TRUE(m->cp1->Connected());  // the window has not noticed yet
    m->cp1->ContinuePolling();

    // More than 16 errors a second at the 50 ms polling delay: 41 in a
    // window that the program sees last for 1001 ms and as long as it takes
    // to get from here to its look at the clock, which must be less than
    // 1.5 s more for the rate to stay that high.
    test_support::TimeBounds bounds;
    const test_support::ProcessorShare share;
    const std::uint32_t start = win::GetTickCount() - 1001;
    m->ErrStat[terminal::PortSlotMain] = {start, 40};
    m->cp1ReceiveError(m->cp1, 0x8);
    const std::chrono::milliseconds look(win::GetTickCount() - start - 1001);
    ASSERT_TRUE(bounds.Within(share, look, std::chrono::milliseconds(1500), "the look at the errors"));
    // Later only because the test waited for a processor: the rate the
    // program saw was too low for what follows.
    if (bounds.Void()) GTEST_SKIP() << bounds.Text();
    EXPECT_FALSE(m->cp1->Connected());
    EXPECT_EQ(m->ComNcb->Tag, 1);  // marked as wanted but not open
    EXPECT_FALSE(m->sbPort->Down());  // closed as failed, not suspended
    // The statistics stay as they were.
    EXPECT_EQ(m->ErrStat[terminal::PortSlotMain].StartTick, start);
    EXPECT_EQ(m->ErrStat[terminal::PortSlotMain].Count, 41u);
    EXPECT_EQ(TakeNotices(), (std::vector<std::string>{"Handle of port \"" + name + "\" is no longer valid"}));
    EXPECT_EQ(p.Lines().GetLine(p.Last() - 1), "<= Frame Err =");
}

TEST(receive_path, a_chunk_that_fails_inside_a_polling_tick_costs_that_chunk_and_at_most_one_box) {
    ReceivePath p;
    TMain* m = p.main;
    ASSERT_TRUE(m->cp1->Connected());
    // Rendering fails as it would with the memory gone.
    bool failing = true;
    m->RxPanel->Hooks().CheckAntiHang = [&] {
        if (failing) throw std::bad_alloc();
    };
    // The box's own loop goes on: a chunk that fails while it is open is
    // written as an error line, not shown in a second box.
    const auto& received = m->PortSlots[terminal::PortSlotMain].RxCount;
    bool sent_while_open = false;
    vcl::Application->MessageHook = [&](const vcl::TMessageRequest& r) {
        p.Requests.push_back(r);
        if (!sent_while_open) {
            sent_while_open = true;
            EXPECT_TRUE(p.Send(p.main_dev, "B"));
        }
        return vcl::IDOK;
    };
    ASSERT_EQ(p.main_dev.Write("A"), 1u);
    ASSERT_TRUE(test_support::PumpUntil([&] { return received == 2; }));
    ASSERT_TRUE(sent_while_open);
    ASSERT_EQ(p.messages.size(), 1u);
    EXPECT_EQ(p.messages[0].Text, "Out of memory");
    EXPECT_EQ(p.messages[0].Flags & 0xF0u, unsigned(vcl::MB_ICONERROR));
    // Failing again right after the box was answered: a line again, folded.
    ASSERT_TRUE(p.Send(p.main_dev, "C"));
    EXPECT_EQ(p.messages.size(), 1u);
    ASSERT_GE(p.Lines().LineCount(), 2);
    EXPECT_EQ(p.Lines().GetLine(p.Last() - 1), "<Out of memory [2]");
    EXPECT_EQ(p.Lines().LineRecord(p.Last() - 1).Format, terminal::dfERR);

    // Only those chunks' display was lost: the port goes on receiving, every
    // byte was counted, and the next chunk shows.
    failing = false;
    ASSERT_TRUE(p.Send(p.main_dev, "D"));
    EXPECT_TRUE(m->cp1->Connected());
    EXPECT_EQ(p.Lines().GetLine(p.Last()), "<44");
    ASSERT_TRUE(p.ShowReceived());
    EXPECT_EQ(m->RVLabel->Caption(), "(4, 0)");
}

using test_support::HexTextBytes;

// What the list shows of the main port's data, in order.
std::string ListedBytes(const terminal::TLineStore& Lines) {
    std::string bytes;
    for (int i = 0; i < Lines.LineCount(); ++i)
        if (Lines.LineRecord(i).Dir == 0 && Lines.LineRecord(i).Format < terminal::dfERR) bytes += Lines.LineBytes(i);
    return bytes;
}

std::string Counting(std::size_t Count, unsigned Seed) {
    std::string s(Count, '\0');
    for (std::size_t i = 0; i < Count; ++i) s[i] = static_cast<char>((i * 7 + Seed) & 0xFF);
    return s;
}

// A FIFO for the output or a save, read at a pace: a pipe of one page, so
// that the program soon finds it full. The file dialogs choose it.
struct SlowReader {
    SlowReader(ReceivePath& p, const char* Name, int Filter) : path(p.dir.File(Name)) {
        made = mkfifo(path.c_str(), 0600) == 0;
        reader = std::make_unique<test_support::FifoReader>(path);
        made = made && reader->SetCapacity(4096);
        vcl::Application->DialogHook = [this, Filter](vcl::TCommonDialog& d) {
            auto* od = dynamic_cast<vcl::TOpenDialog*>(&d);
            if (od) od->FileName = path, od->FilterIndex = Filter;
            return od != nullptr;
        };
    }
    ~SlowReader() { vcl::Application->DialogHook = nullptr; }
    std::string path;
    bool made = false;
    std::unique_ptr<test_support::FifoReader> reader;
};

// Sends a line typed in the transmit box (decimal bytes) through the main
// port; "Log transmitted bytes" shows it where received data goes.
void Transmit(TMain& m, const std::string& Line) {
    m.TrBCB->SetText(Line);
    m.TrBCBChange(m.TrBCB);
    m.Transb->Click();
}

// In a word format a low byte waits for its pair in the place it was read
// for (the list, or the output file that was on), and shows alone there,
// under no other place's words, when that place is done with (output
// switched off), when its port closes, or at the window's close; so does
// the last byte of what was sent, logged there. The graph plots it as the
// list shows it, and pairs the bytes its port reads after it anew.
TEST(receive_path, a_word_views_lone_byte_goes_where_it_was_read_for_and_to_the_graph) {
    {
        ReceivePath p;
        TMain* m = p.main;
        m->DataFormat = terminal::dfHW;
        m->StartNewLine(true);
        const std::string one = p.dir.File("one.txt"), two = p.dir.File("two.txt");
        SwitchOutput(*m, one);
        ASSERT_NE(m->OutputOn(), nullptr);
        ASSERT_TRUE(p.Send(p.main_dev, "\x11\x12\x13"));
        ASSERT_TRUE(p.ShowReceived());
        Transmit(*m, "33 34 35");
        // Switched off: the file is done with, and 13 and the sent 23 end it.
        SwitchOutput(*m);
        ASSERT_EQ(m->OutputOn(), nullptr);
        EXPECT_EQ(Slurp(one), "<1211\r>2221\r<13\r>23\r");
        // On into another file: 14 and 15 are a word of their own there.
        SwitchOutput(*m, two);
        ASSERT_TRUE(p.Send(p.main_dev, "\x14\x15\x16"));
        ASSERT_TRUE(p.ShowReceived());
        // The port closes: 16 shows in the file it was read for.
        m->sbPort->Click();
        ASSERT_FALSE(m->cp1->Connected());
        ASSERT_TRUE(p.ShowReceived());
        EXPECT_EQ(Slurp(two), "<1514\r<16\r");
        EXPECT_EQ(ListedBytes(p.Lines()), "");
        EXPECT_EQ(Slurp(one), "<1211\r>2221\r<13\r>23\r");
        // Port open again, 17 read for the file and 33 the last byte sent:
        // the close writes both there.
        m->sbPort->Click();
        ASSERT_TRUE(m->cp1->Connected());
        Transmit(*m, "49 50 51");
        ASSERT_TRUE(p.Send(p.main_dev, "\x17"));
        ASSERT_TRUE(p.ShowReceived());
        m->Close();
        p.Free();
        EXPECT_EQ(Slurp(two), "<1514\r<16\r>3231\r<17\r>33\r");
    }
    {
        // With the graph open: the list shows 2221 and 23 alone when the
        // port closes, and the graph has both.
        ReceivePath p;
        TMain* m = p.main;
        p.graph->SetVisible(true);
        m->DataFormat = terminal::dfHW;
        m->StartNewLine(true);
        ASSERT_TRUE(p.Send(p.main_dev, "\x21\x22\x23"));
        ASSERT_TRUE(p.ShowReceived());
        m->sbPort->Click();
        ASSERT_TRUE(p.ShowReceived());
        EXPECT_EQ(p.Lines().GetLine(p.Last() - 1), "<23");
        EXPECT_EQ(p.Lines().GetLine(p.Last() - 2), "<2221");
        ASSERT_EQ(p.graph->PointCount(), 2);
        EXPECT_EQ(p.graph->serLine->YValues().Value(0), 0x2221);
        EXPECT_EQ(p.graph->serLine->YValues().Value(1), 0x23);
        // Open again: 24 and 25 are a word of their own in the graph too.
        m->sbPort->Click();
        ASSERT_TRUE(m->cp1->Connected());
        ASSERT_TRUE(p.Send(p.main_dev, "\x24\x25\x26\x27"));
        ASSERT_TRUE(p.ShowReceived());
        EXPECT_EQ(p.Lines().GetLine(p.Last()), "<2524 2726");
        ASSERT_EQ(p.graph->PointCount(), 4);
        EXPECT_EQ(p.graph->serLine->YValues().Value(2), 0x2524);
        EXPECT_EQ(p.graph->serLine->YValues().Value(3), 0x2726);
        EXPECT_TRUE(p.messages.empty());
    }
}

// A text output file in a word format pairs anew, as the list does, where
// the user starts a new line, changes the format or clears: a byte read
// before it never makes a word with one read after it.
TEST(receive_path, a_text_files_words_start_anew_at_a_new_line_a_format_change_and_a_clear) {
    enum Action { NewLine, Format, Clear };
    struct Row {
        const char* name;
        Action action;
        std::string file;  // the file after 11 12 13, the action, then 14 15 16 17
    };
    const Row rows[] = {
        {"a new line", NewLine, "<1211\r<1514 1716"},
        // (DW: 0x1514 is 5396, 0x1716 5910.)
        {"a format change", Format, "<1211\r<05396 05910"},
        {"a Clear", Clear, "<1514 1716"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ReceivePath p;
        TMain* m = p.main;
        m->DataFormat = terminal::dfHW;
        m->ASCII1Click(nullptr);
        const std::string file = p.dir.File("words.txt");
        SwitchOutput(*m, file);
        ASSERT_NE(m->OutputOn(), nullptr);
        ASSERT_TRUE(p.Send(p.main_dev, "\x11\x12\x13"));
        ASSERT_TRUE(p.ShowReceived());
        switch (row.action) {
            case NewLine: m->CrmClick(nullptr); break;
            case Format:
                m->DataFormat = terminal::dfDW;
                m->ASCII1Click(nullptr);
                break;
            case Clear: m->ClearmClick(nullptr); break;
        }
        ASSERT_TRUE(p.Send(p.main_dev, "\x14\x15\x16\x17"));
        ASSERT_TRUE(p.ShowReceived());
        EXPECT_EQ(Slurp(file), row.file);
        EXPECT_TRUE(p.messages.empty());
    }
}

// A lone byte's line that the output file refuses (its reader went, as
// `head -c` does once it has what it wanted; a full disk) shows in the list:
// the byte is never lost.
TEST(receive_path, a_lone_byte_whose_line_the_output_file_refuses_shows_in_the_list) {
    TakeNotices();
    {
        ReceivePath p;
        TMain* m = p.main;
        vcl::Application->Title = "Vostrel";
        m->DataFormat = terminal::dfHW;
        m->StartNewLine(true);
        SlowReader pipe(p, "pipe", 1);
        ASSERT_TRUE(pipe.made);
        m->Outputtofile1->Click();
        ASSERT_NE(m->OutputOn(), nullptr);
        ASSERT_TRUE(p.Send(p.main_dev, "\x21\x22\x23"));
        ASSERT_TRUE(p.ShowReceived());
        std::string piped;
        ASSERT_TRUE(test_support::PumpUntil([&] {
            piped += pipe.reader->Take();
            return piped.find("2221") != std::string::npos;
        }));
        pipe.reader.reset();  // the reader has what it wanted and goes
        m->sbPort->Click();
        ASSERT_TRUE(p.ShowReceived());
        ASSERT_TRUE(test_support::PumpUntil([&] { return m->OutputOn() == nullptr; }));
        ASSERT_TRUE(p.ShowReceived());
        EXPECT_EQ(piped, "\r<2221");
        ASSERT_EQ(ListedBytes(p.Lines()), "\x23") << "the lone byte was lost";
        EXPECT_EQ(p.Lines().GetLine(p.Last() - 1), "<23");
        EXPECT_FALSE(m->Outputtofile1->Checked());
        const auto notices = TakeNotices();
        ASSERT_EQ(notices.size(), 1u);
        EXPECT_EQ(notices[0].rfind("Cannot write \"" + pipe.path + "\": Broken pipe", 0), 0u) << notices[0];
    }
    {
        ReceivePath p;
        TMain* m = p.main;
        m->DataFormat = terminal::dfHW;
        m->StartNewLine(true);
        const std::string file = p.dir.File("out.txt");
        SwitchOutput(*m, file);
        ASSERT_TRUE(p.Send(p.main_dev, "\x21\x22\x23"));
        ASSERT_TRUE(p.ShowReceived());
        {
            rtl::TInjectedFileFaults full;
            full.FailWritesFrom(1);
            m->sbPort->Click();
            ASSERT_TRUE(p.ShowReceived());
        }
        ASSERT_TRUE(test_support::PumpUntil([&] { return m->OutputOn() == nullptr; }));
        ASSERT_TRUE(p.ShowReceived());
        EXPECT_EQ(Slurp(file), "<2221");
        EXPECT_EQ(ListedBytes(p.Lines()), "\x23");
        EXPECT_EQ(TakeNotices().size(), 1u);
    }
}

// Text output onto a FIFO whose reader takes 8,000 bytes a second, while
// the device sends 8-byte records faster than that: the window closes at
// once, and the program goes on writing what it read to the reader, which
// gets every record the port had read, in order, before the program ends.
TEST(receive_path, the_close_goes_at_once_and_writes_on_to_a_reader_that_still_reads) {
    using namespace std::chrono_literals;
    ReceivePath p;
    TMain* m = p.main;
    // What waits for the pipe is bounded by a small input buffer, so that
    // what is owed at the close is written within a few seconds.
    m->cp1->Disconnect();
    m->cp1->SetInBufSize(4096);
    m->ApplyBothPortParams(false);
    ASSERT_TRUE(m->cp1->Connected());
    SlowReader pipe(p, "pipe", 1);
    ASSERT_TRUE(pipe.made);
    m->Outputtofile1->Click();
    ASSERT_TRUE((m->OutputOn() != nullptr));
    pipe.reader->TakeEvery(2000, 250ms);
    std::string sent;
    std::atomic<bool> stop{false};
    std::thread device([&] {
        for (std::uint32_t n = 0; !stop; ++n) {
            char record[9];
            std::snprintf(record, sizeof record, "%07u;", n);
            sent.append(record, 8);
            // At most 20,000 bytes a second; a port held back holds the device.
            if (p.main_dev.Write(std::string(record, 8), 5s) != 8) break;
            std::this_thread::sleep_for(400us);
        }
    });
    m->Show();
    test_support::PumpUntil([] { return false; }, 1500ms);
    test_support::TimeBounds bounds;
    const test_support::ProcessorShare closing;
    m->Close();
    EXPECT_TRUE(bounds.Within(closing, 1s, "the close")) << "the close waited for the reader";
    EXPECT_FALSE(m->Visible()) << "the window stayed after the close";
    // The pipe has not taken all yet: that is written once the window has
    // gone, when the program ends.
    EXPECT_FALSE(m->Finishing.empty()) << "the close gave up what the pipe had not taken";
    const std::uint64_t read = m->cp1->DeviceBytesRead();
    stop = true;
    device.join();
    ASSERT_GT(read, 0u);
    // The program ends: its window goes, and the rest is written then.
    p.Free();
    pipe.reader->StopTaking();
    const std::string text = pipe.reader->Taken() + pipe.reader->Take();
    const std::string got = HexTextBytes(text);
    EXPECT_EQ(got.size(), read) << "of the bytes the port read, the reader got " << got.size();
    EXPECT_TRUE(sent.compare(0, got.size(), got) == 0) << "the reader got other bytes";
    if (bounds.Void()) GTEST_SKIP() << bounds.Text();
}

// Output to a FIFO whose reader takes 2,000 bytes every 300 ms while the
// device sends as fast as the port reads: the window goes on answering, no
// notice comes (the reader never stops taking), and the reader gets every
// byte in order, as raw bytes or as text. Then the reader takes nothing any
// more: after the stall limit, output ends with its notice, and what the
// pipe did not take shows in the list, so that nothing is lost.
TEST(receive_path, output_onto_a_slow_pipe_never_holds_the_window_and_loses_nothing) {
    using namespace std::chrono_literals;
    // The limit scaled down with the reader's pace: 5 s for a pause of 1 s,
    // so that a reader a busy machine holds back for a while is not given
    // up; one held back for longer is told apart below.
    constexpr auto kStall = 1500ms;
    setenv("VOSTREL_TEST_WRITE_STALL_MS", std::to_string(kStall.count()).c_str(), 1);
    test_support::TimeBounds bounds;
    struct Mode {
        const char* name;
        int filter;  // 1 text, 2 binary
        std::size_t first, second;  // bytes the device sends while the reader takes, and after
    };
    for (const Mode& mode : {Mode{"binary", 2, 16000, 6000}, Mode{"text", 1, 8000, 2000}}) {
        SCOPED_TRACE(mode.name);
        TakeNotices();
        ReceivePath p;
        TMain* m = p.main;
        // A small input buffer, so that what waits for the pipe soon holds
        // the port back.
        m->cp1->Disconnect();
        m->cp1->SetInBufSize(1024);
        m->ApplyBothPortParams(false);
        ASSERT_TRUE(m->cp1->Connected());
        const int polling = m->PollingIndex;
        SlowReader pipe(p, "pipe", mode.filter);
        ASSERT_TRUE(pipe.made);
        test_support::FifoReader& reader = *pipe.reader;
        m->Outputtofile1->Click();
        ASSERT_TRUE((m->OutputOn() != nullptr));
        const auto readerBytes = [&](const std::string& got) {
            return mode.filter == 2 ? got : HexTextBytes(got);
        };

        const std::string first = Counting(mode.first, 1);
        reader.TakeEvery(2000, 300ms, true);
        std::size_t wrote = 0;
        std::thread device([&] { wrote = p.main_dev.Write(first, 60s); });
        const auto& counted = m->PortSlots[terminal::PortSlotMain].RxCount;
        {
            // The longest the loop went without turning: a 20 ms timer notes
            // the gaps between its ticks.
            QTimer timer;
            test_support::LongestGap gap;
            QObject::connect(&timer, &QTimer::timeout, [&] { gap.Tick(); });
            timer.start(20);
            std::size_t waiting = 0;  // the most that waited in the queue
            // The most that was handed on (counted) and the reader had not
            // taken yet.
            std::size_t unread = 0;
            const bool all = test_support::PumpUntil(
                [&] {
                    waiting = std::max(waiting, m->RxQueue.Cost({.IsMain = true}));
                    const std::size_t taken = readerBytes(reader.Taken()).size();
                    if (counted > taken) unread = std::max<std::size_t>(unread, counted - taken);
                    return taken >= first.size() || m->OutputOn() == nullptr;
                },
                40s);
            device.join();
            ASSERT_EQ(wrote, first.size());
            // Output given up while the reader still took: only a reader
            // that went the stall limit without a take may be, and only one
            // held back that long by a wait for a processor leaves the case
            // void; a reader that kept its pace fails it.
            if (m->OutputOn() == nullptr) {
                const test_support::BoundedWait pauses = reader.Pauses(kStall);
                if (pauses.verdict == test_support::Timely::kVoid) {
                    bounds.AddVoid(std::string(mode.name) + ": output was given up after a pause of the reader that " +
                                   pauses.account);
                    continue;
                }
                ADD_FAILURE() << "output was given up while the reader took; it " << pauses.account;
            }
            EXPECT_TRUE(all) << readerBytes(reader.Taken()).size() << " of " << first.size() << " bytes";
            EXPECT_TRUE(bounds.Within(gap.Judged(1000ms), "the window")) << "the window did not answer for that long";
            // What the pipe could not take waited as received data, within
            // the port's input buffer, and held the device back: beyond what
            // the pipe holds, at most one piece went out ahead of the reader.
            EXPECT_LE(waiting, m->cp1->InBufSize() + terminal::TReceiveQueue::PieceUpkeep);
            const std::size_t piped = mode.filter == 2 ? 4096 : 4096 / 3;  // bytes the pipe holds
            EXPECT_LE(unread, piped + 2 * m->cp1->InBufSize());
        }
        EXPECT_TRUE(readerBytes(reader.Taken()) == first) << "the reader got other bytes";
        EXPECT_EQ(TakeNotices(), std::vector<std::string>{});
        EXPECT_TRUE((m->OutputOn() != nullptr));
        EXPECT_TRUE(m->Outputtofile1->Checked());
        EXPECT_EQ(m->PollingIndex, polling);

        // The reader stops taking while the device goes on.
        reader.StopTaking();
        const std::string second = Counting(mode.second, 2);
        ASSERT_EQ(p.main_dev.Write(second, 10s), second.size());
        ASSERT_TRUE(test_support::PumpUntil([&] { return !(m->OutputOn() != nullptr); }, 20s));
        ASSERT_TRUE(test_support::PumpUntil([&] { return counted == first.size() + second.size(); }));
        ASSERT_TRUE(p.ShowReceived());
        const std::vector<std::string> notices = TakeNotices();
        ASSERT_EQ(notices.size(), 1u);
        EXPECT_EQ(notices[0], "Cannot write \"" + pipe.path +
                                  "\": the program or device reading it stopped taking data\r\rOutput to file was "
                                  "switched off. What was received from then on is shown in the list.");
        EXPECT_FALSE(m->Outputtofile1->Checked());
        EXPECT_EQ(m->PollingIndex, polling);
        // What reached the pipe is the start of what the device sent and the
        // list holds the rest, each byte once: a chunk the pipe had taken in
        // part shows from the first byte it did not take whole.
        const std::string all = first + second;
        const std::string piped = readerBytes(reader.Taken() + reader.Take());
        const std::string listed = ListedBytes(p.Lines());
        EXPECT_TRUE(all.compare(0, piped.size(), piped) == 0) << "the pipe got other bytes";
        EXPECT_EQ(piped.size() + listed.size(), all.size()) << piped.size() << " piped, " << listed.size() << " listed";
        EXPECT_TRUE(piped.size() <= all.size() && listed == all.substr(piped.size()))
            << "the list does not show exactly what the pipe did not get";
        EXPECT_TRUE(p.messages.empty());
    }
    unsetenv("VOSTREL_TEST_WRITE_STALL_MS");
    if (bounds.Void()) GTEST_SKIP() << bounds.Text();
}

// A list saved onto a pipe read at 8 KB/s while the device sends 11,520
// bytes a second: the save waits for the reader with the window answering,
// and the window's own timers held meanwhile; that wait is no sign of a
// flood, so no polling-delay notice comes after it.
TEST(receive_path, saving_onto_a_slow_pipe_while_the_device_sends_raises_no_polling_delay) {
    using namespace std::chrono_literals;
    TakeNotices();
    ReceivePath p;
    TMain* m = p.main;
    ASSERT_TRUE(m->cp1->Connected());
    const int polling = m->PollingIndex;
    // The watchdog's clock runs ten times as fast, its timer with it: the
    // 7 s it allows are 0.7 s here.
    m->AntiHangClock = [] { return win::GetTickCount() * 10; };
    m->tmrAntiHang->SetInterval(200);
    m->AntiHangStamp = m->AntiHangNow();
    // How long the window's thread went without a turn (the save's turns,
    // a timer's ticks besides): a watchdog that allows 0.7 s sees a thread
    // that a busy machine kept from running as a hung one.
    test_support::LongestGap gap;
    const std::function<void()> turn = vcl::Application->OnWriteWaitTurn;
    vcl::Application->OnWriteWaitTurn = [&] {
        gap.Tick();
        if (turn) turn();
    };
    QTimer ticks;
    QObject::connect(&ticks, &QTimer::timeout, [&] { gap.Tick(); });
    ticks.start(20);
    const std::string listed = Counting(16000, 3);
    for (std::size_t at = 0; at < listed.size(); at += 2000) ASSERT_TRUE(p.Send(p.main_dev, listed.substr(at, 2000)));
    ASSERT_TRUE(p.ShowReceived());
    const std::string saved = ListedBytes(p.Lines());
    ASSERT_EQ(saved.size(), 16000u);

    SlowReader pipe(p, "list.bin", 2);
    ASSERT_TRUE(pipe.made);
    test_support::FifoReader& reader = *pipe.reader;
    reader.TakeEvery(800, 100ms);
    std::atomic<bool> sending{true};
    std::thread device([&] {
        const std::string tenth = Counting(1152, 4);
        while (sending) {
            p.main_dev.Write(tenth, 1s);
            std::this_thread::sleep_for(100ms);
        }
    });
    const auto began = std::chrono::steady_clock::now();
    EXPECT_TRUE(test_support::ClickMenu(m, "mSaveAll"));
    const auto took = std::chrono::steady_clock::now() - began;
    // The device goes on a while after the save, and what came is shown.
    test_support::Pump(1500ms);
    sending = false;
    device.join();
    EXPECT_TRUE(p.ShowReceived());
    reader.StopTaking();
    EXPECT_GT(took, 1000ms) << "the save did not wait for the reader";
    EXPECT_TRUE(p.messages.empty()) << p.messages.front().Text;
    EXPECT_TRUE((reader.Taken() + reader.Take()) == saved) << "the reader did not get the list";
    ticks.stop();
    vcl::Application->OnWriteWaitTurn = turn;
    const std::vector<std::string> notices = TakeNotices();
    if (notices.empty() && m->PollingIndex == polling) return;
    test_support::TimeBounds bounds;
    EXPECT_TRUE(bounds.Within(gap.Judged(700ms), "the window's thread"));
    if (bounds.Void()) GTEST_SKIP() << bounds.Text() << " (the watchdog raised the polling delay)";
    EXPECT_EQ(notices, std::vector<std::string>{});
    EXPECT_EQ(m->PollingIndex, polling);
}

}  // namespace
