#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <QColor>
#include <QImage>
#include <QPixmap>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <string>
#include <vector>

#include "chart/engine/fast_line_series.h"
#include "graph/graph_form.h"
#include "platform/rtl/cp1251.h"
#include "platform/rtl/files.h"
#include "platform/vcl/forms.h"
#include "platform/vcl/metafile.h"
#include "platform/win/timers.h"
#include "support/graphic_bytes.h"
#include "support/main_window.h"
#include "support/processor_share.h"
#include "support/metafile_reader.h"
#include "script/runtime/my_script.h"
#include "terminal/main_form.h"
#include "terminal/receive_list_files.h"

namespace {

using terminal::TMain;

// The main window after its first activation, with the graph window,
// modal messages recorded and the settings file in a folder of its own.
struct ReceiveFixture : test_support::MainWindow {
    std::vector<vcl::TMessageRequest>& messages = Requests;

    ReceiveFixture() : BasicMainWindow({.Graph = true, .Title = true}) {
        // No time in the prefix; the direction marks shown.
        main->RVPnlTime = 0;
        main->mShowWrites->SetChecked(true);
    }
    void Receive(ports::TCommPortDriver* from, const std::string& bytes) {
        from->OnReceiveData(from, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
        main->PumpReceived();
    }
    void Error(ports::TCommPortDriver* from, std::int32_t errs) { from->OnReceiveError(from, errs); }
    const terminal::TLineStore& Lines() const { return main->RxPanel->Lines(); }
    // The texts of all lines but the current (last) one.
    std::vector<std::string> Texts() const {
        std::vector<std::string> out;
        for (int i = 0; i + 1 < Lines().LineCount(); ++i) out.push_back(Lines().GetLine(i));
        return out;
    }
};

std::string ReadFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(main_form_receive, chunks_of_both_ports_are_counted_and_shown_with_their_direction) {
    ReceiveFixture f;
    TMain* m = f.main;
    ASSERT_TRUE(bool(m->cp1->OnReceiveData));
    ASSERT_TRUE(bool(m->cp2->OnReceiveData));
    f.Receive(m->cp1, "AB");
    f.Receive(m->cp1, "C");
    ASSERT_TRUE(f.ShowReceived());
    EXPECT_EQ(m->RVLabel->Caption(), "(3, 0)");
    EXPECT_EQ(m->RxPanel->CurLine(), "<41 42 43");
    EXPECT_EQ(m->lb1->Count(), 1);
    // The second port never continues a main-port line.
    f.Receive(m->cp2, std::string("\x01\xFF", 2));
    ASSERT_TRUE(f.ShowReceived());
    EXPECT_EQ(m->RVLabel->Caption(), "(3, 2)");
    ASSERT_EQ(f.Texts(), (std::vector<std::string>{"<41 42 43"}));
    EXPECT_EQ(f.Lines().GetLine(1), "\xAB" "01 FF");
    EXPECT_EQ(f.Lines().LineRecord(0).Dir, 0);
    EXPECT_EQ(f.Lines().LineRecord(1).Dir, 1);
    EXPECT_EQ(f.Lines().LineRecord(1).PrefixLen, 1);
    EXPECT_EQ(m->lb1->Count(), 2);
    // The selection follows the end of the list.
    EXPECT_EQ(m->lb1->ItemIndex(), 1);

    // The foreign port: client 1 is the main port, any other the second.
    std::string reply;
    m->ForeignPortEvent(ports::fpeData, "\x01Z", reply);
    m->ForeignPortEvent(ports::fpeData, "\x02YY", reply);
    ASSERT_TRUE(f.ShowReceived());
    EXPECT_EQ(m->RVLabel->Caption(), "(4, 4)");
    EXPECT_EQ(f.Lines().GetLine(2), "<5A");

    // An empty chunk changes nothing.
    const int lines = f.Lines().LineCount();
    f.Receive(m->cp1, "");
    ASSERT_TRUE(f.ShowReceived());
    EXPECT_EQ(f.Lines().LineCount(), lines);
    EXPECT_EQ(m->RVLabel->Caption(), "(4, 4)");
}

TEST(main_form_receive, counters_go_past_four_gigabytes_in_full) {
    ReceiveFixture f;
    TMain* m = f.main;
    // 9,471,787,008 bytes received on the main port, just short of 2^32 on
    // the second.
    m->PortSlots[terminal::PortSlotMain].RxCount = 9471787008u;
    m->PortSlots[terminal::PortSlot2].RxCount = 0xFFFFFFFFu;
    f.Receive(m->cp1, "AB");
    f.Receive(m->cp2, "C");
    ASSERT_TRUE(f.ShowReceived());
    EXPECT_EQ(m->PortSlots[terminal::PortSlotMain].RxCount, 9471787010u);
    EXPECT_EQ(m->PortSlots[terminal::PortSlot2].RxCount, 0x100000000u);
    EXPECT_EQ(m->RVLabel->Caption(), "(9471787010, 4294967296)");
    // Received over the foreign port, the same counters go on.
    std::string reply;
    m->ForeignPortEvent(ports::fpeData, "\x01Z", reply);
    ASSERT_TRUE(f.ShowReceived());
    EXPECT_EQ(m->RVLabel->Caption(), "(9471787011, 4294967296)");
}

TEST(main_form_receive, disabled_reception_ignores_chunks_whole) {
    ReceiveFixture f;
    TMain* m = f.main;
    m->ReceptionEnabled = false;
    f.Receive(m->cp1, "abc");
    f.Receive(m->cp2, "abc");
    EXPECT_EQ(m->RVLabel->Caption(), "(0, 0)");
    EXPECT_EQ(m->PortSlots[terminal::PortSlotMain].RxCount, 0u);
    EXPECT_EQ(f.Lines().LineCount(), 1);
    EXPECT_EQ(m->RxPanel->CurLine(), "");
    m->ReceptionEnabled = true;
    f.Receive(m->cp1, "a");
    EXPECT_EQ(m->RVLabel->Caption(), "(1, 0)");
}

TEST(main_form_receive, data_formats_and_ascii_line_breaks_follow_the_window_options) {
    ReceiveFixture f;
    TMain* m = f.main;
    m->DataFormat = terminal::dfASC;
    f.Receive(m->cp1, "ab\ncd");
    ASSERT_EQ(f.Texts().size(), 1u);
    EXPECT_EQ(f.Lines().LineData(0), "ab\x95" "0A");
    EXPECT_EQ(m->RxPanel->CurLine(), "<cd");
    // A CR as line break: the LF stays on the line.
    m->RvLineBreak = '\r';
    f.Receive(m->cp1, "\n\r");
    EXPECT_EQ(f.Lines().LineData(1), "cd\x95" "0A\x95" "0D");
    m->DataFormat = terminal::dfDEC;
    f.Receive(m->cp1, "\x07");
    EXPECT_EQ(m->RxPanel->CurLine(), "<007");
    // Without a mark, time or second port the prefix is empty.
    m->mShowWrites->SetChecked(false);
    m->DataFormat = terminal::dfBIN;
    f.Receive(m->cp2, "\x05");
    EXPECT_EQ(m->RxPanel->CurLine(), "00000101");
}

TEST(main_form_receive, raw_output_takes_the_exact_bytes_and_text_output_the_rendered_lines) {
    ReceiveFixture f;
    TMain* m = f.main;
    const std::filesystem::path raw = f.dir.File("raw.bin");
    m->RxRouter.OpenOutput(raw.string(), terminal::TListFileType::Binary);
    const std::string bytes("\x00\x01\xFF\r\nA", 6);
    f.Receive(m->cp1, bytes);
    f.Receive(m->cp2, "B");
    EXPECT_EQ(ReadFile(raw), bytes + "B");
    ASSERT_TRUE(f.ShowReceived());
    EXPECT_EQ(m->RVLabel->Caption(), "(6, 1)");
    EXPECT_EQ(f.Lines().LineCount(), 1);  // nothing shown
    EXPECT_EQ(m->RxPanel->CurLine(), "");
    // Line errors still go to the panel in raw mode.
    f.Error(m->cp1, 0x2);
    EXPECT_EQ(f.Texts().size(), 1u);
    EXPECT_EQ(ReadFile(raw), bytes + "B");
    m->SwitchOutputOff();

    const std::filesystem::path text = f.dir.File("text.txt");
    m->RxRouter.OpenOutput(text.string(), terminal::TListFileType::Text);
    const int lines = f.Lines().LineCount();
    f.Receive(m->cp1, "AB");
    f.Receive(m->cp2, "C");
    f.Error(m->cp1, 0x4);
    // An error ends the data line in progress before its own text.
    EXPECT_EQ(ReadFile(text), "<41 42\r\xAB" "43\r= Parity Err =\r");
    EXPECT_EQ(f.Lines().LineCount(), lines);  // the list is left alone
    m->SwitchOutputOff();
    // Closed again: the panel is the destination once more.
    f.Receive(m->cp1, "D");
    EXPECT_EQ(m->RxPanel->CurLine(), "<44");
    EXPECT_EQ(ReadFile(text), "<41 42\r\xAB" "43\r= Parity Err =\r");
}

TEST(main_form_receive, line_errors_are_named_and_repeats_fold_into_one_line) {
    ReceiveFixture f;
    TMain* m = f.main;
    ASSERT_TRUE(bool(m->cp1->OnReceiveError));
    f.Error(m->cp1, 0x2);
    f.Error(m->cp1, 0x2);
    f.Error(m->cp1, 0x2);
    ASSERT_EQ(f.Texts(), (std::vector<std::string>{"<= OverRun Err = [3]"}));
    EXPECT_EQ(f.Lines().LineRecord(0).Format, terminal::dfERR);
    EXPECT_EQ(f.Lines().LineRecord(0).PrefixLen, 1);
    EXPECT_EQ(m->lb1->Count(), 2);

    // The names in their fixed order; Mode alone hides the others.
    f.Error(m->cp1, 0x8 | 0x4);
    f.Error(m->cp1, 0x8000 | 0x4);
    f.Error(m->cp1, 0);
    f.Error(m->cp1, 0x1 | 0x100 | 0x400 | 0x10);
    const std::vector<std::string> t = f.Texts();
    ASSERT_EQ(t.size(), 5u);
    EXPECT_EQ(t[1], "<= Parity Frame Err =");
    EXPECT_EQ(t[2], "<= Mode Err =");
    EXPECT_EQ(t[3], "<= Unknown Err =");
    EXPECT_EQ(t[4], "<= Break I/O RxOvf TxFull Err =");

    // Another port between two errors, or a data byte, starts new lines;
    // the second port's errors fold among themselves.
    f.Error(m->cp1, 0x2);
    f.Error(m->cp2, 0x2);
    f.Error(m->cp2, 0x2);
    f.Error(m->cp1, 0x2);
    f.Receive(m->cp1, "x");
    f.Error(m->cp1, 0x2);
    std::vector<std::string> u = f.Texts();
    ASSERT_EQ(u.size(), 10u);
    EXPECT_EQ(u[5], "<= OverRun Err =");
    EXPECT_EQ(u[6], "\xAB= OverRun Err = [2]");
    EXPECT_EQ(u[7], "<= OverRun Err =");
    EXPECT_EQ(u[8], "<78");
    EXPECT_EQ(u[9], "<= OverRun Err =");

    // Folding stops 10 s after the first error of a run.
    terminal::TLineStore& lines = m->RxPanel->Lines();
    terminal::TLineRecord r = lines.LineRecord(9);
    r.Time -= 11.0 / 86400;
    lines.SetLineRecord(9, r);
    f.Error(m->cp1, 0x2);
    EXPECT_EQ(f.Texts().size(), 11u);
    // A count that was edited away counts as one error.
    f.Error(m->cp1, 0x2);
    lines.PutLine(10, "<= OverRun Err = [x]");
    f.Error(m->cp1, 0x2);
    EXPECT_EQ(f.Texts().back(), "<= OverRun Err = [2]");

    // "Disable Receive" keeps errors out.
    m->dRVcb->SetChecked(true);
    f.Error(m->cp1, 0x4);
    EXPECT_EQ(f.Texts().size(), 11u);
    EXPECT_TRUE(f.messages.empty());
}

TEST(main_form_receive, show_errors_switch_connects_and_disconnects_both_drivers) {
    ReceiveFixture f;
    TMain* m = f.main;
    EXPECT_TRUE(m->ShowErrorsm->Checked());
    m->ShowErrorsm->Click();
    EXPECT_FALSE(m->ShowErrorsm->Checked());
    EXPECT_FALSE(bool(m->cp1->OnReceiveError));
    EXPECT_FALSE(bool(m->cp2->OnReceiveError));
    // Applied without a sender (as reading the settings does): no toggle.
    m->ShowErrorsmClick(nullptr);
    EXPECT_FALSE(m->ShowErrorsm->Checked());
    m->ShowErrorsm->Click();
    ASSERT_TRUE(bool(m->cp2->OnReceiveError));
    m->cp2->OnReceiveError(m->cp2, 0x2);
    EXPECT_EQ(f.Texts(), (std::vector<std::string>{"\xAB= OverRun Err ="}));
}

TEST(main_form_receive, a_port_flooding_errors_is_suspended_with_a_notice) {
    ReceiveFixture f;
    TMain* m = f.main;
    ASSERT_EQ(m->PollingIndex, 2);  // 50 ms: more than 16 errors a second suspend
    // The program judges a window from its start to its own look at the
    // clock. Each window here starts just before the error that ends it, and
    // what is checked of it holds while the time from that start to the
    // look stays within a bound; past the bound only because the test waited
    // for a processor, that part is void.
    test_support::TimeBounds bounds;
    using std::chrono::milliseconds;

    // 10 errors in a second: the window restarts, nothing is suspended.
    const test_support::ProcessorShare counting;
    m->ErrStat[terminal::PortSlotMain] = {win::GetTickCount() - 1001, 9};
    f.Error(m->cp1, 0x2);
    EXPECT_FALSE(m->sbPort->Down());
    EXPECT_EQ(m->ErrStat[terminal::PortSlotMain].Count, 0u);
    EXPECT_TRUE(ReceiveFixture::Notices().empty());

    // Within the second the errors are only counted.
    const std::uint32_t restarted = m->ErrStat[terminal::PortSlotMain].StartTick;
    f.Error(m->cp1, 0x2);
    const milliseconds sinceRestart(win::GetTickCount() - restarted);
    EXPECT_TRUE(bounds.Within(counting, sinceRestart, milliseconds(1000), "the error after the restart"));
    if (sinceRestart <= milliseconds(1000)) {
        EXPECT_EQ(m->ErrStat[terminal::PortSlotMain].Count, 1u);
    }

    // 30 errors a second on Port2: its button goes down, the main port
    // stays. (30 errors stay more than 16 a second while the program looks
    // within 1874 ms of the window's start.)
    const test_support::ProcessorShare flooding;
    const std::uint32_t stamp = win::GetTickCount();
    m->ErrStat[terminal::PortSlot2] = {stamp - 1001, 29};
    f.Error(m->cp2, 0x2);
    const milliseconds look(win::GetTickCount() - stamp);
    EXPECT_TRUE(bounds.Within(flooding, look, milliseconds(800), "the look at Port2's errors"));
    if (look <= milliseconds(800)) {
        EXPECT_TRUE(m->sbPort2->Down());
        EXPECT_FALSE(m->sbPort->Down());
        auto notices = ReceiveFixture::Notices();
        ASSERT_EQ(notices.size(), 1u);
        EXPECT_EQ(static_cast<vcl::TLabel*>(notices[0]->FindComponent("Message"))->Caption(),
                  "Too many errors per second from " + m->cp2->PortName() +
                      "\rReception was automatically suspended.\rYou can manually resume it by "
                      "pressing button to the left of port name drop-down list");
        EXPECT_EQ(m->ErrStat[terminal::PortSlot2].Count, 0u);
    }

    // At 200 ms a port is never suspended.
    const std::size_t shown = ReceiveFixture::Notices().size();
    m->m1000msClick(m->m200ms);
    m->ErrStat[terminal::PortSlotMain] = {win::GetTickCount() - 1001, 5000};
    f.Error(m->cp1, 0x2);
    EXPECT_FALSE(m->sbPort->Down());
    EXPECT_EQ(ReceiveFixture::Notices().size(), shown);
    if (bounds.Void()) GTEST_SKIP() << bounds.Text();
}

TEST(main_form_receive, list_control_keeps_the_selection_on_the_end_or_where_the_user_put_it) {
    ReceiveFixture f;
    TMain* m = f.main;
    m->Infinitem->SetChecked(true);
    for (int i = 0; i < 50; ++i) m->AddTextLine("message " + std::to_string(i), 0, 0, terminal::dfMSG);
    // Lines added in a burst reach the list control with the next frame.
    ASSERT_TRUE(f.ShowReceived());
    EXPECT_EQ(m->lb1->Count(), 51);
    EXPECT_EQ(m->lb1->ItemIndex(), 50);
    EXPECT_EQ(f.Lines().LineRecord(7).Format, terminal::dfMSG);
    // A line chosen by the user stays chosen as the list grows.
    m->lb1->SetItemIndex(3);
    m->AddTextLine("more", 0, 0, terminal::dfMSG);
    ASSERT_TRUE(f.ShowReceived());
    EXPECT_EQ(m->lb1->Count(), 52);
    EXPECT_EQ(m->lb1->ItemIndex(), 3);
    // The repaint lock holds only while a chunk is rendered.
    EXPECT_FALSE(m->lb1->RepaintLocked());
    f.Receive(m->cp1, "abc");
    EXPECT_FALSE(m->lb1->RepaintLocked());
    // Clearing frees every line.
    m->lb1->Clear();
    EXPECT_EQ(m->lb1->Count(), 0);
    EXPECT_EQ(f.Lines().LineCount(), 0);
    m->StartNewLine(true);
    EXPECT_EQ(m->lb1->Count(), 1);
}

TEST(main_form_receive, a_list_at_its_memory_limit_keeps_the_selection_on_its_line_and_says_so_once) {
    // The limit is read once, when the window is made.
    setenv("VOSTREL_TEST_LIST_LIMIT_MB", "8", 1);
    ReceiveFixture f;
    unsetenv("VOSTREL_TEST_LIST_LIMIT_MB");
    TMain* m = f.main;
    const terminal::TLineStore& lines = f.Lines();
    std::string chunk;
    for (int i = 0; i < 64 * 1024; ++i) chunk.push_back(static_cast<char>(i * 7));
    std::uint32_t sent = 0;
    auto fill_until = [&](auto done) {
        for (int i = 0; i < 400 && !done(); ++i) {
            f.Receive(m->cp1, chunk);
            sent += static_cast<std::uint32_t>(chunk.size());
        }
        return f.ShowReceived() && done();
    };
    // The user picks a line when the list is half full; it stays picked
    // while older lines go.
    ASSERT_TRUE(fill_until([&] { return m->RxPanel->MemoryUsage() > (9u << 19); }));
    ASSERT_EQ(lines.DroppedLines(), 0u);
    const int picked = lines.LineCount() - 1000;
    m->lb1->SetItemIndex(picked);
    const std::string picked_text = lines.GetLine(picked);
    ASSERT_TRUE(fill_until([&] { return lines.DroppedLines() > 0; }));
    const int gone = static_cast<int>(lines.DroppedLines());
    ASSERT_LT(gone, picked) << "the picked line should still be there";
    EXPECT_EQ(m->lb1->Count(), lines.LineCount());
    EXPECT_EQ(m->lb1->ItemIndex(), picked - gone);
    EXPECT_EQ(lines.GetLine(m->lb1->ItemIndex()), picked_text);
    EXPECT_LE(m->RxPanel->MemoryUsage(), 8u << 20);

    // Told once, in a notice, however often lines are dropped after.
    ASSERT_TRUE(fill_until([&] { return lines.DroppedLines() > static_cast<std::uint64_t>(picked); }));
    EXPECT_EQ(m->lb1->ItemIndex(), -1) << "the picked line is gone";
    auto notices = f.Notices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(f.NoticeText(notices[0]).substr(0, 55), "The receive list has reached its memory limit of 8 MB (");
    EXPECT_NE(f.NoticeText(notices[0]).find("oldest received lines are now being dropped"), std::string::npos);
    // The byte counter counts everything received.
    EXPECT_EQ(m->PortSlots[terminal::PortSlotMain].RxCount, sent);

    // Cleared, the list starts over and says so again when full again.
    m->ClearmClick(nullptr);
    EXPECT_EQ(m->lb1->Count(), 1);
    const std::uint64_t before = lines.DroppedLines();
    ASSERT_TRUE(fill_until([&] { return lines.DroppedLines() > before; }));
    EXPECT_EQ(f.Notices().size(), 2u);
    EXPECT_TRUE(f.messages.empty());
}

TEST(main_form_receive, a_full_graph_says_so_in_a_notice_while_the_list_takes_every_byte) {
    // The graph's limit is read once, when its window is made: 1 MB of
    // points at 32 bytes each (line and queue).
    setenv("VOSTREL_TEST_GRAPH_LIMIT_MB", "1", 1);
    ReceiveFixture f;
    unsetenv("VOSTREL_TEST_GRAPH_LIMIT_MB");
    TMain* m = f.main;
    graph::TfGraph* g = f.graph;
    ASSERT_EQ(g->MaxPoints, 32768);
    m->DataFormat = 1;  // HEX: one value a byte, "XX" tokens
    m->Infinitem->SetChecked(true);
    g->SetVisible(true);
    std::string chunk;
    for (int i = 0; i < 4096; ++i) chunk.push_back(static_cast<char>(i % 251));
    // Bytes listed: every HEX token of every line.
    auto listed = [&] {
        std::uint64_t n = 0;
        for (int i = 0; i < f.Lines().LineCount(); ++i) n += (f.Lines().LineData(i).size() + 1) / 3;
        return n;
    };
    auto receive = [&](int chunks) {
        for (int i = 0; i < chunks; ++i) f.Receive(m->cp1, chunk);
        return f.ShowReceived();
    };
    ASSERT_TRUE(receive(10));
    EXPECT_EQ(g->serLine->Count(), 32768);
    EXPECT_EQ(g->PointCount(), 32768);
    EXPECT_EQ(m->PortSlots[terminal::PortSlotMain].RxCount, 10u * 4096);
    EXPECT_EQ(listed(), 10u * 4096);
    auto notices = f.Notices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(f.NoticeText(notices[0]), rtl::Utf8ToAnsi("График заполнен: 32768 точек. Новые точки не добавляются."));
    // Reception goes on past it, told once.
    ASSERT_TRUE(receive(5));
    EXPECT_EQ(listed(), 15u * 4096);
    EXPECT_EQ(f.Notices().size(), 1u);
    EXPECT_TRUE(f.messages.empty()) << "no box that waits in the receive path";

    // Memory running out for the graph costs the list nothing either.
    for (vcl::TForm* n : f.Notices()) vcl::TComponent::Free(n);
    g->bClear->Click();
    int adds = 0;
    g->serLine->OnBeforeAdd = [&](chart::engine::TChartSeries*) {
        if (++adds > 100) throw std::bad_alloc();
        return true;
    };
    ASSERT_TRUE(receive(3));
    EXPECT_EQ(g->serLine->Count(), 100);
    EXPECT_EQ(listed(), 18u * 4096);
    EXPECT_EQ(f.Notices().size(), 1u);
    EXPECT_TRUE(f.messages.empty());
    g->serLine->OnBeforeAdd = nullptr;
}

// The colour at the right end of a row (past any text) and the rightmost
// column of a row that differs from that background.
struct RowLook {
    QRgb Background;
    int InkRight;
};
RowLook LookOfRow(const QImage& img, int row, int item_height) {
    const int y0 = row * item_height;
    const QRgb bg = img.pixel(img.width() - 3, y0 + item_height / 2);
    int right = -1;
    for (int y = y0; y < y0 + item_height; ++y)
        for (int x = 0; x < img.width() - 3; ++x)
            if (img.pixel(x, y) != bg) right = std::max(right, x);
    return {bg, right};
}

// The darkest channel value in a part of a row (0xFF: untouched white).
int DarkestInRow(const QImage& img, int row, int item_height, int x_begin, int x_end) {
    int darkest = 0xFF;
    for (int y = row * item_height; y < (row + 1) * item_height; ++y)
        for (int x = x_begin; x < x_end; ++x) {
            const QRgb c = img.pixel(x, y);
            darkest = std::min({darkest, qRed(c), qGreen(c), qBlue(c)});
        }
    return darkest;
}

TEST(main_form_receive, lines_are_drawn_with_their_colours_silver_prefix_and_hidden_codes) {
    ReceiveFixture f;
    TMain* m = f.main;
    m->lb1->Widget()->resize(600, 300);
    m->AddTextLine("note", 0, 0, terminal::dfMSG);   // row 0
    f.Error(m->cp1, 0x2);                              // row 1
    f.Receive(m->cp2, "A");                            // row 2: Port2 data
    m->StartNewLine(true);
    m->DataFormat = terminal::dfASC;
    f.Receive(m->cp1, std::string("x\x01", 2));        // row 3: "<x" + hidden code
    ASSERT_EQ(m->lb1->Count(), 4);
    m->lb1->SetItemIndex(-1);
    ASSERT_TRUE(f.ShowReceived());
    const int h = m->lb1->ItemHeight();

    QImage img = m->lb1->Widget()->grab().toImage();
    EXPECT_EQ(LookOfRow(img, 0, h).Background, qRgb(0x80, 0xFF, 0x80));
    EXPECT_EQ(LookOfRow(img, 1, h).Background, qRgb(0xFF, 0xFF, 0x00));
    EXPECT_EQ(LookOfRow(img, 2, h).Background, qRgb(0xDD, 0xDD, 0xFF));
    EXPECT_EQ(LookOfRow(img, 3, h).Background, qRgb(0xFF, 0xFF, 0xFF));
    // The mark is drawn in silver (light grey on white), the data after it
    // in the text colour.
    const int mark_end = m->lb1->Canvas().TextWidth("<");
    const int mark = DarkestInRow(img, 3, h, 0, mark_end);
    EXPECT_LT(mark, 0xFF);
    EXPECT_GE(mark, 0xC0);
    EXPECT_LT(DarkestInRow(img, 3, h, mark_end, img.width() - 3), 0x80);
    // The hidden code shows as its mark alone; shown, its digits follow.
    const int hidden = LookOfRow(img, 3, h).InkRight;
    m->mShowASCIInonvisiblecodes->SetChecked(true);
    img = m->lb1->Widget()->grab().toImage();
    EXPECT_GT(LookOfRow(img, 3, h).InkRight, hidden + m->lb1->Canvas().TextWidth("0"));

    // A selected line keeps the list's selection colours.
    m->lb1->SetItemIndex(1);
    img = m->lb1->Widget()->grab().toImage();
    EXPECT_NE(LookOfRow(img, 1, h).Background, qRgb(0xFF, 0xFF, 0x00));
}

// An error line is the program's message: a file name in it is drawn by its
// letters. A message line, and the text of a plug-in's error line, are data
// and are drawn byte by byte, even where their bytes look like a name's.
TEST(main_form_receive, error_lines_show_a_names_letters_and_data_lines_their_bytes) {
    ReceiveFixture f;
    TMain* m = f.main;
    m->lb1->Widget()->resize(600, 300);
    const std::string name = rtl::FromSysPath("/p/éééééé.pas");
    const std::string text = "\"" + name + "\"";
    vcl::Application->OnErrorLine(text);           // row 0: the program's error
    m->AddTextLine(text, 0, 0, terminal::dfMSG);   // row 1: the same bytes as data
    std::string reply;
    m->ScriptCommand(script::runtime::srAddErr, text, reply);  // row 2: a plug-in's error text
    ASSERT_EQ(f.Lines().LineCount(), 4);
    ASSERT_TRUE(f.ShowReceived());
    m->lb1->SetItemIndex(-1);
    const int h = m->lb1->ItemHeight();
    const QImage img = m->lb1->Widget()->grab().toImage();
    const int shown = LookOfRow(img, 0, h).InkRight, data = LookOfRow(img, 1, h).InkRight;
    // Six letters drawn where the escapes would take 42 characters.
    EXPECT_LT(shown, data - 30 * m->RxPanel->CharWidth()) << shown << " " << data;
    EXPECT_EQ(LookOfRow(img, 2, h).InkRight, data);
    EXPECT_GT(shown, m->lb1->Canvas().TextWidth("<\"/p/") + 10 * m->RxPanel->CharWidth());
}

TEST(main_form_receive, a_loaded_line_of_a_megabyte_is_drawn_as_the_start_that_fits) {
    ReceiveFixture f;
    TMain* m = f.main;
    m->lb1->Widget()->resize(600, 300);
    // One ASC line of a megabyte with a non-visible code every few
    // characters, then a line of only its first 400 characters: in a window
    // without a horizontal scroll bar both must look the same.
    std::string data;
    for (int i = 0; data.size() < (1u << 20); ++i) data += i % 7 == 6 ? std::string("\x95" "0D") : std::string(1, char('A' + i % 26));
    const std::string head = "04" + std::string("40E6760000000000") + "\t";  // ASC, 46000.0
    const std::string file = f.dir.File("long.cp");
    {
        std::ofstream out(file, std::ios::binary);
        out << head << data << "\r\n" << head << data.substr(0, 400) << "\r\n";
    }
    m->SyncReceivePanelOptions();
    terminal::LoadPanelList(file, *m->RxPanel);
    ASSERT_EQ(f.Lines().LineCount(), 3);
    ASSERT_EQ(f.Lines().LineLength(0), 1 + data.size());
    m->lb1->SetItemIndex(-1);
    ASSERT_TRUE(f.ShowReceived());
    const int h = m->lb1->ItemHeight();
    for (const bool shown : {false, true}) {
        m->mShowASCIInonvisiblecodes->SetChecked(shown);
        const QImage img = m->lb1->Widget()->grab().toImage();
        const int width = img.width() - 3;
        const QImage first = img.copy(0, 0, width, h);
        const QImage second = img.copy(0, h, width, h);
        EXPECT_EQ(first, second) << "codes shown: " << shown;
        // And the row is filled with text to its right edge.
        EXPECT_LT(DarkestInRow(img, 0, h, width - 3 * m->RxPanel->CharWidth(), width), 0x80) << shown;

        // What drawing the row hands the surface, recorded: the start that
        // fills the row (here about 65 characters), never the megabyte.
        vcl::TMetafile picture;
        picture.SetSize(600, h);
        {
            vcl::TMetafileCanvas recorder(picture);
            vcl::TCanvas& canvas = m->lb1->Canvas();
            canvas.SetHandle(recorder.Handle());
            m->lb1DrawItem(m->lb1, 0, {0, 0, 600, h}, 0);
            canvas.SetHandle(nullptr);
        }
        const auto emf = test_support::ReadEmf(test_support::SavedBytes(picture));
        const auto texts = emf.Of(84);
        ASSERT_FALSE(texts.empty());
        std::size_t drawn = 0;
        for (const auto& t : texts) drawn += test_support::EmfFile::Text(t).size();
        EXPECT_GE(drawn, 600u / static_cast<unsigned>(m->RxPanel->CharWidth())) << shown;
        EXPECT_LT(drawn, 2000u) << shown;
    }
}

TEST(main_form_receive, panel_metrics_follow_the_list_size_and_a_starved_window_slows_polling) {
    ReceiveFixture f;
    TMain* m = f.main;
    m->Show();
    m->SetBounds(0, 0, 900, 600);
    vcl::Application->ProcessMessages();
    const int char_width = m->lb1->Canvas().TextWidth("x");
    ASSERT_GT(char_width, 0);
    EXPECT_EQ(m->lb1->ItemHeight(), m->RxPanel->LineHeight());
    EXPECT_EQ(m->RxPanel->CharsPerLine(),
              (m->lb1->Width() - 4 - m->lb1->ScrollBarWidth()) / char_width);
    EXPECT_EQ(m->RxPanel->VisibleLines(), (m->lb1->Height() - 5) / m->lb1->ItemHeight());
    const int wide = m->RxPanel->CharsPerLine();
    m->SetBounds(0, 0, 700, 600);
    vcl::Application->ProcessMessages();
    EXPECT_LT(m->RxPanel->CharsPerLine(), wide);
    // Lines wrap at the panel's width: "<" and tokens of 2 digits plus blanks.
    const int per_line = (m->RxPanel->CharsPerLine() - 1 + 1) / 3;
    f.Receive(m->cp1, std::string(static_cast<std::size_t>(per_line) + 1, 'A'));
    EXPECT_EQ(f.Lines().LineData(f.Lines().LineCount() - 2).size(),
              static_cast<std::size_t>(per_line * 3 - 1));
    EXPECT_EQ(m->RxPanel->CurLine(), "<41");

    // A chunk arriving after the window went 7 s without its watchdog tick
    // raises the polling delay first.
    ASSERT_EQ(m->PollingIndex, 2);
    m->AntiHangStamp = win::GetTickCount() - 8000;
    f.Receive(m->cp1, "B");
    EXPECT_EQ(m->PollingIndex, 3);
    EXPECT_EQ(m->cp1->PollingDelay(), 200);
    EXPECT_EQ(ReceiveFixture::Notices().size(), 1u);
    m->AntiHangStamp = win::GetTickCount() - 8000;
    f.Error(m->cp2, 0x2);
    EXPECT_EQ(m->PollingIndex, 4);
}

TEST(main_form_receive, graph_window_gets_values_only_while_it_is_visible) {
    ReceiveFixture f;
    TMain* m = f.main;
    m->DataFormat = terminal::dfHEX;
    f.Receive(m->cp1, "\x01\x02");
    EXPECT_EQ(f.graph->PointCount(), 0);
    f.graph->SetVisible(true);
    f.graph->cbSigned->SetChecked(true);
    f.Receive(m->cp1, "\x05\xFF");
    ASSERT_EQ(f.graph->PointCount(), 2);
    EXPECT_EQ(f.graph->serLine->YValues().Value(0), 5);
    EXPECT_EQ(f.graph->serLine->YValues().Value(1), -1);
    EXPECT_EQ(f.graph->UpdateLock(), 0);
    f.graph->cbSigned->SetChecked(false);
    f.Receive(m->cp2, "\xFF");
    ASSERT_EQ(f.graph->PointCount(), 3);
    EXPECT_EQ(f.graph->serLine->YValues().Value(2), 255);
    f.graph->SetVisible(false);
}

}  // namespace
