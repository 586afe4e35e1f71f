// Received bytes through the whole road: a pseudo-terminal plays the device
// behind COM5 (and COM6 for Port2), the main window opens them through its
// own port parameters, the serial drivers poll them, and the bytes end up as
// receive-panel lines, counters, graph points or output-file bytes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <string>
#include <vector>

#include "chart/engine/fast_line_series.h"
#include "graph/graph_form.h"
#include "platform/vcl/forms.h"
#include "platform/win/timers.h"
#include "support/main_window.h"
#include "support/pty.h"
#include "support/qt_app.h"
#include "terminal/main_form.h"

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
    m->OutputFile.Open(file.string(), terminal::TListFileType::Binary);
    std::string bytes;
    for (int round = 0; round < 4; ++round)
        for (int b = 0; b < 256; ++b) bytes.push_back(static_cast<char>(b));
    const int lines = p.Lines().LineCount();
    ASSERT_TRUE(p.Send(p.main_dev, bytes));
    m->OutputFile.Close();
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

    // More than 16 errors a second at the 50 ms polling delay.
    const std::uint32_t start = win::GetTickCount() - 1001;
    m->ErrStat[terminal::PortSlotMain] = {start, 40};
    m->cp1ReceiveError(m->cp1, 0x8);
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

}  // namespace
