#include <gtest/gtest.h>

#include <QAbstractScrollArea>
#include <QCoreApplication>
#include <QMouseEvent>
#include <QWidget>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "graph/graph_form.h"
#include "platform/rtl/datetime.h"
#include "platform/vcl/forms.h"
#include "support/main_window.h"
#include "support/qt_app.h"
#include "support/temp_dir.h"
#include "terminal/data_tip_form.h"
#include "terminal/main_form.h"

namespace {

using namespace std::chrono_literals;
using terminal::TMain;

// The main window after its first activation with no port open. Modal
// messages are recorded; input dialogs are recorded and answered with the
// next prepared answer (none left: cancelled).
struct AnalysisFixture : test_support::MainWindow {
    std::vector<vcl::TMessageRequest>& messages = Requests;
    std::vector<std::string> prompts;    // "caption|prompt|proposed value"
    std::vector<std::string>& answers = Answers;

    AnalysisFixture() : BasicMainWindow({.Start = false, .Graph = true}) {
        test_support::EnsureQtApplication();
        vcl::Application->InputHook = [this](const std::string& caption,
                                             const std::string& prompt, std::string& value) {
            prompts.push_back(caption + "|" + prompt + "|" + value);
            return TakeAnswer(value);
        };
        Start();
        main->RVPnlTime = 0;  // lines are their direction mark and data
    }
    void Receive(const std::string& bytes) {
        main->cp1->OnReceiveData(main->cp1, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
        main->PumpReceived();
    }
    // Bytes received in a data format, as a whole line of their own.
    void ReceiveLine(int format, const std::string& bytes) {
        main->DataFormat = format;
        Receive(bytes);
        main->StartNewLine(true);
    }
    void Click(const char* name) {
        auto* item = dynamic_cast<vcl::TMenuItem*>(main->FindComponent(name));
        ASSERT_NE(item, nullptr) << name;
        item->Click();
    }
    // The text of the last message box, and the messages cleared.
    std::string TakeMessage(const std::string& caption = "VOSTREL") {
        if (messages.empty()) return "<none>";
        EXPECT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages.back().Caption, caption);
        std::string text = messages.back().Text;
        messages.clear();
        return text;
    }
    // The message of a statistic's entry with the window in a data format.
    std::string Statistic(int format, const char* entry) {
        main->DataFormat = format;
        Click(entry);
        if (!messages.empty()) {
            EXPECT_EQ(messages.back().Flags, vcl::MB_OK | vcl::MB_ICONINFORMATION);
        }
        return TakeMessage();
    }
    const terminal::TLineStore& Lines() const { return main->RxPanel->Lines(); }
};

TEST(main_form_analysis, statistics_cover_every_value_of_the_list_in_the_current_format) {
    using namespace terminal;
    AnalysisFixture f;
    // No values yet: the start values, in the window's format.
    EXPECT_EQ(f.Statistic(dfDEC, "CountMaximum1"), "Result is -2147483647\r\rData count: 0");
    EXPECT_EQ(f.Statistic(dfHEX, "CountMin1"), "Result is $7FFFFFFF\r\rData count: 0");

    f.ReceiveLine(dfDEC, "\x01\x02\x03");
    EXPECT_EQ(f.Statistic(dfDEC, "mCountSum"), "Result is 6\r\rData count: 3");

    // A word line counts its bytes in pairs, low byte first; a message line
    // holds no values. The result follows the window's format, not the lines'.
    f.ReceiveLine(dfDW, std::string("\x01\x02", 2));
    f.main->AddTextLine("Connected", 1, 0, dfMSG);
    EXPECT_EQ(f.Statistic(dfDEC, "mCountSum"), "Result is 519\r\rData count: 4");
    EXPECT_EQ(f.Statistic(dfHEX, "mCountSum"), "Result is $0207\r\rData count: 4");
    EXPECT_EQ(f.Statistic(dfASC, "CountMaximum1"), "Result is $0201\r\rData count: 4");
    EXPECT_EQ(f.Statistic(dfDW, "CountMin1"), "Result is 1\r\rData count: 4");
    // (1 + 2 + 3 + 513) / 4 = 129.75
    EXPECT_EQ(f.Statistic(dfDW, "mCountAverage"), "Result is 130\r\rData count: 4");
}

TEST(main_form_analysis, text_search_ignores_case_selects_each_match_and_stops_at_the_end) {
    AnalysisFixture f;
    f.ReceiveLine(terminal::dfASC, "first");
    f.main->AddTextLine("Err = Framing", 1, 0, terminal::dfERR);
    f.ReceiveLine(terminal::dfASC, "second");
    f.main->AddTextLine("Err = Parity", 1, 0, terminal::dfERR);
    // Cyrillic letters compare without regard to case too: "Ошибка" / "ОШИБКА".
    f.ReceiveLine(terminal::dfASC, "\xCE\xF8\xE8\xE1\xEA\xE0");

    f.answers = {"err"};
    f.Click("FindText1");
    EXPECT_EQ(f.prompts.back(), "Find text|Text to find:|");
    EXPECT_EQ(f.main->lb1->ItemIndex(), 1);
    EXPECT_TRUE(f.messages.empty());
    f.Click("Findnext1");
    EXPECT_EQ(f.main->lb1->ItemIndex(), 3);
    // Past the last match: "Not found", the selection stays, and again.
    f.Click("Findnext1");
    EXPECT_EQ(f.TakeMessage(), "Not found");
    EXPECT_EQ(f.main->lb1->ItemIndex(), 3);
    f.Click("Findnext1");
    EXPECT_EQ(f.TakeMessage(), "Not found");

    // The last text is proposed; a new search starts at the first line.
    f.answers = {"\xEE\xd8\xc8\xc1\xca\xc0"};
    f.Click("FindText1");
    EXPECT_EQ(f.prompts.back(), "Find text|Text to find:|err");
    EXPECT_EQ(f.main->lb1->ItemIndex(), 4);

    // Cancelling changes nothing.
    const std::size_t asked = f.prompts.size();
    f.Click("FindText1");
    EXPECT_EQ(f.prompts.size(), asked + 1);
    EXPECT_EQ(f.main->ListSearch.FindTextValue, "\xEE\xd8\xc8\xc1\xca\xc0");
    EXPECT_EQ(f.main->lb1->ItemIndex(), 4);
    EXPECT_TRUE(f.messages.empty());
}

TEST(main_form_analysis, time_gap_search_asks_for_the_interval_and_goes_on_from_the_selection) {
    AnalysisFixture f;
    const double t0 = rtl::EncodeDate(2026, 1, 2) + 0.5;
    const double ms = 1.0 / rtl::MSecsPerDay;
    f.main->RxPanel->ClearLines();
    f.main->lb1->SetItemIndex(-1);
    for (double at : {0.0, 100.0, 1600.0, 1700.0, 1750.0, 4000.0})
        f.main->AddTextLine("tick", 1, t0 + at * ms, terminal::dfMSG);
    ASSERT_TRUE(f.ShowReceived());  // lines added in a burst reach the list with the next frame
    f.main->lb1->SetItemIndex(-1);

    f.answers = {"1000"};
    f.Click("mFindTimeGap");
    EXPECT_EQ(f.prompts.back(), "Search parameter|Interval, ms|1000");
    EXPECT_EQ(f.main->lb1->ItemIndex(), 2);
    f.Click("Findnext1");
    EXPECT_EQ(f.main->lb1->ItemIndex(), 5);
    f.Click("Findnext1");
    EXPECT_EQ(f.TakeMessage(), "Not found");

    // A smaller interval, from the line after the selected one; it is kept.
    f.main->lb1->SetItemIndex(2);
    f.answers = {"60"};
    f.Click("mFindTimeGap");
    EXPECT_EQ(f.main->lb1->ItemIndex(), 3);
    EXPECT_EQ(f.main->ListSearch.GapMs, 60);
    f.Click("Findnext1");
    EXPECT_EQ(f.main->lb1->ItemIndex(), 5);

    // Not a number: the conversion error, the interval unchanged.
    f.answers = {"1s"};
    f.Click("mFindTimeGap");
    EXPECT_EQ(f.prompts.back(), "Search parameter|Interval, ms|60");
    ASSERT_EQ(f.messages.size(), 1u);
    EXPECT_NE(f.messages[0].Text.find("1s"), std::string::npos) << f.messages[0].Text;
    f.messages.clear();
    EXPECT_EQ(f.main->ListSearch.GapMs, 60);
    EXPECT_EQ(f.main->lb1->ItemIndex(), 5);
}

TEST(main_form_analysis, error_search_selects_error_lines_without_wrapping_around) {
    AnalysisFixture f;
    // "Find next" before any search does nothing.
    f.Click("Findnext1");
    EXPECT_TRUE(f.messages.empty());
    EXPECT_TRUE(f.prompts.empty());

    for (int i = 0; i < 60; ++i) f.ReceiveLine(terminal::dfHEX, "\x10\x20");
    f.main->AddTextLine("Err = Overrun", 1, 0, terminal::dfERR);
    f.ReceiveLine(terminal::dfHEX, "\x30");
    f.main->AddTextLine("Err = Break", 1, 0, terminal::dfERR);
    f.main->lb1->SetItemIndex(-1);
    f.main->lb1->SetTopIndex(0);

    f.Click("Finderror1");
    EXPECT_EQ(f.main->lb1->ItemIndex(), 60);
    // Selected and scrolled into view.
    EXPECT_TRUE(f.main->lb1->Selected(60));
    EXPECT_LE(f.main->lb1->TopIndex(), 60);
    EXPECT_GT(f.main->lb1->TopIndex() + f.main->lb1->VisibleRows(), 60);
    f.Click("Findnext1");
    EXPECT_EQ(f.main->lb1->ItemIndex(), 62);
    f.Click("Findnext1");
    EXPECT_EQ(f.TakeMessage(), "Not found");
    EXPECT_EQ(f.main->lb1->ItemIndex(), 62);

    // With the last line selected: not found, no wrapping to the first error.
    f.main->lb1->SetItemIndex(f.main->lb1->Count() - 1);
    f.Click("Finderror1");
    EXPECT_EQ(f.TakeMessage(), "Not found");
}

TEST(main_form_analysis, two_line_difference_reports_that_it_is_not_implemented) {
    AnalysisFixture f;
    f.ReceiveLine(terminal::dfHEX, "\x01");
    f.main->lb1->SetItemIndex(0);
    // It fails: the application's handler shows the error with its title.
    vcl::Application->Title = "Vostrel";
    f.Click("Finddifference1");
    EXPECT_EQ(f.TakeMessage("Vostrel"), "This function is not implemented yet.");
    EXPECT_EQ(f.main->lb1->ItemIndex(), 0);
}

// ---- The data tip over the receive list ----------------------------------------

struct TipFixture : AnalysisFixture {
    terminal::TfrmData* tip;
    bool ctrl = true;
    TipFixture() {
        tip = new terminal::TfrmData(vcl::Application);
        tip->CtrlHeld = [this] { return ctrl; };
        tip->ScreenBounds = vcl::ScreenRect;
        tip->Timer1->SetInterval(50);
        main->Show();
        main->Activate();
        test_support::PumpUntil([&] { return main->Active(); });
    }
    ~TipFixture() { vcl::TComponent::Free(tip); }
    // A mouse move over the list's client point, as the toolkit delivers it.
    void MoveMouse(int x, int y, bool withCtrl) {
        auto* area = qobject_cast<QAbstractScrollArea*>(main->lb1->Widget());
        ASSERT_NE(area, nullptr);
        QWidget* port = area->viewport();
        const QPointF local(x, y);
        QMouseEvent e(QEvent::MouseMove, local, port->mapToGlobal(local), Qt::NoButton,
                      Qt::NoButton, withCtrl ? Qt::ControlModifier : Qt::NoModifier);
        QCoreApplication::sendEvent(port, &e);
    }
    // The client point over a 1-based column of line Index's data.
    vcl::TPoint Over(int Index, int Column) const {
        const int cw = main->RxPanel->CharWidth();
        const int prefix = Lines().LineRecord(Index).PrefixLen;
        const vcl::TRect r = main->lb1->ItemRect(Index);
        return {(prefix + Column - 1) * cw + cw / 2, r.Top + r.Height() / 2};
    }
};

TEST(main_form_analysis, ctrl_over_a_line_shows_its_data_tip_without_taking_activation) {
    TipFixture f;
    f.ReceiveLine(terminal::dfASC, "AB");
    f.ReceiveLine(terminal::dfDEC, "\x01\x02\x03");
    f.main->AddTextLine("Connected", 1, 0, terminal::dfMSG);
    ASSERT_TRUE(f.main->Active());

    // Without Ctrl the mouse shows nothing.
    vcl::TPoint p = f.Over(0, 2);
    f.MoveMouse(p.X, p.Y, false);
    EXPECT_FALSE(f.tip->Visible());

    // Over the B of the ASC line: its bytes in hexadecimal, B's highlighted.
    f.MoveMouse(p.X, p.Y, true);
    ASSERT_TRUE(f.tip->Visible());
    EXPECT_EQ(f.tip->LInfo1->Caption(), " 41 <y=h>42<y=.> ");
    test_support::Pump(50ms);
    EXPECT_TRUE(f.main->Active());
    EXPECT_FALSE(f.tip->Active());
    // Under the hovered line, on the screen.
    const vcl::TRect item = f.main->lb1->ItemRect(0);
    EXPECT_EQ(f.tip->Top(), f.main->lb1->ClientToScreen({0, item.Bottom}).Y);
    const vcl::TRect screen = vcl::ScreenRect();
    ASSERT_GT(screen.Width(), 0);
    EXPECT_LE(f.tip->Left() + f.tip->Width(), screen.Right);

    // Over the 002 of the DEC line: the bytes as characters, the second one highlighted.
    p = f.Over(1, 6);
    f.MoveMouse(p.X, p.Y, true);
    const std::string dot = "\x95";
    EXPECT_EQ(f.tip->LInfo1->Caption(), " " + dot + "<y=h>" + dot + "<y=.>" + dot + " ");

    // Over the message line, and below the last line, the tip hides.
    p = f.Over(2, 1);
    f.MoveMouse(p.X, p.Y, true);
    EXPECT_FALSE(f.tip->Visible());
    p = f.Over(0, 1);
    f.MoveMouse(p.X, p.Y, true);
    ASSERT_TRUE(f.tip->Visible());
    f.MoveMouse(p.X, f.main->lb1->ItemRect(f.main->lb1->Count()).Top + 2, true);
    EXPECT_FALSE(f.tip->Visible());

    // With non-visible codes shown, a code's mark and digits are one byte:
    // the column of the B after them is the second byte.
    f.main->mShowASCIInonvisiblecodes->SetChecked(true);
    f.ReceiveLine(terminal::dfASC, "\x01" "B");
    const int coded = f.main->lb1->Count() - 2;
    ASSERT_EQ(f.Lines().LineData(coded), "\x95" "01B");
    p = f.Over(coded, 4);
    f.MoveMouse(p.X, p.Y, true);
    EXPECT_EQ(f.tip->LInfo1->Caption(), " 01 <y=h>42<y=.> ");

    // Ctrl let go: hidden at the next tick of the tip's timer.
    f.MoveMouse(p.X, p.Y, true);
    ASSERT_TRUE(f.tip->Visible());
    test_support::Pump(120ms);
    EXPECT_TRUE(f.tip->Visible());
    f.ctrl = false;
    EXPECT_TRUE(test_support::PumpUntil([&] { return !f.tip->Visible(); }));
    EXPECT_TRUE(f.main->Active());
}

TEST(main_form_analysis, the_tip_takes_the_size_of_each_text_while_ctrl_stays_held) {
    TipFixture f;
    f.ReceiveLine(terminal::dfHEX, "hello world, a long line of text");
    f.ReceiveLine(terminal::dfASC, "xy");
    f.ReceiveLine(terminal::dfBIN, "\x01\x02\x03");
    // From line to line of different formats with Ctrl held throughout: the
    // window is always the size of its text (plus its one-pixel border).
    int widest = 0;
    for (int pass = 0; pass < 2; ++pass)
        for (int line : {0, 1, 2, 0, 2, 1}) {
            const vcl::TPoint p = f.Over(line, 1);
            f.MoveMouse(p.X, p.Y, true);
            ASSERT_TRUE(f.tip->Visible()) << line;
            test_support::Pump(20ms);
            const int w = f.tip->LInfo1->Width() + 2, h = f.tip->LInfo1->Height() + 2;
            EXPECT_EQ(f.tip->Width(), w) << line;
            EXPECT_EQ(f.tip->Height(), h) << line;
            EXPECT_EQ(f.tip->Widget()->width(), w) << line;
            EXPECT_EQ(f.tip->Widget()->height(), h) << line;
            widest = std::max(widest, w);
        }
    EXPECT_GT(widest, f.tip->Width());  // the sizes did differ
}


}  // namespace
