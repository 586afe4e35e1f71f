#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

#include <chrono>
#include <string>
#include <vector>

#include "platform/vcl/clipboard.h"
#include "platform/vcl/dialogs.h"
#include "platform/vcl/forms.h"
#include "support/main_window.h"
#include "support/qt_app.h"
#include "support/temp_dir.h"
#include "platform/win/message_window.h"
#include "terminal/main_form.h"

namespace {

using terminal::TMain;
using namespace std::chrono_literals;

// The main window after its first activation with no port open; modal
// messages, questions and dialogs are recorded and answered by the test.
struct ViewsFixture : test_support::MainWindow {
    std::vector<std::string>& messages = Messages;
    std::vector<std::string> questions;  // captions of the input questions
    std::vector<std::string>& answers = Answers;  // next answers; none left: cancel
    std::vector<std::string> dialogs;    // titles of the common dialogs
    std::function<bool(vcl::TCommonDialog&)> answer_dialog;
    bool shift = false;

    ViewsFixture() : BasicMainWindow({.Start = false}) {
        vcl::Application->InputHook = [this](const std::string& caption, const std::string&,
                                             std::string& v) {
            questions.push_back(caption);
            return TakeAnswer(v);
        };
        vcl::Application->DialogHook = [this](vcl::TCommonDialog& d) {
            dialogs.push_back(d.Title);
            return answer_dialog ? answer_dialog(d) : false;
        };
        Start();
        main->ShiftHeld = [this] { return shift; };
        messages.clear();
    }
    // A key as the form sees it first; true when the form consumed it.
    bool Key(std::uint16_t key, vcl::TShiftState shift_state = 0) {
        return main->PreviewKey(key, shift_state);
    }
    vcl::TMenuItem* Item(const char* name) {
        return dynamic_cast<vcl::TMenuItem*>(main->FindComponent(name));
    }
};

// The application's handler ends an error message with a period.
const std::string kNotConnected = "Port is not connected.";

TEST(main_form_views, track_bar_positions_map_to_intervals_both_ways) {
    const int positions[] = {1, 10, 11, 19, 20, 28, 29, 37};
    const int intervals[] = {10, 100, 200, 1000, 2000, 10000, 20000, 100000};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(TMain::TrackPosToInterval(positions[i]), intervals[i]);
    EXPECT_EQ(TMain::TrackPosToInterval(0), 10);
    EXPECT_EQ(TMain::TrackPosToInterval(99), 100000);
    for (int p = 1; p <= 37; ++p) EXPECT_EQ(TMain::IntervalToTrackPos(TMain::TrackPosToInterval(p)), p) << p;
    // Divisions truncate toward zero: nothing lies between 100 and 200 ms.
    EXPECT_EQ(TMain::IntervalToTrackPos(150), 11);
    EXPECT_EQ(TMain::IntervalToTrackPos(1500), 20);
    EXPECT_EQ(TMain::IntervalToTrackPos(15000), 29);
}

TEST(main_form_views, timer_text_track_bar_and_timer_stay_in_step) {
    ViewsFixture f;
    TMain* m = f.main;
    auto press = [&](std::uint16_t key) { m->TmrEdKeyDown(m->TmrEd, key, 0); };
    EXPECT_EQ(m->TmrEd->Text(), "0.1");
    EXPECT_EQ(m->ttr1->Position(), 10);
    m->ttr1->SetPosition(20);
    EXPECT_EQ(m->tmr1->Interval(), 2000);
    EXPECT_EQ(m->TmrEd->Text(), "2");

    m->TmrEd->SetText("0.15");
    EXPECT_EQ(m->tmr1->Interval(), 150);
    EXPECT_EQ(m->ttr1->Position(), 11);
    EXPECT_EQ(m->TmrEd->Text(), "0.15") << "typing is not rewritten by the track bar";
    for (const char* text : {"abc", "-3", "1e300"}) m->TmrEd->SetText(text);
    EXPECT_EQ(m->tmr1->Interval(), 150) << "texts that are no interval are ignored";

    m->TmrEd->SetText("2.5");
    press(vcl::VK_RETURN);
    EXPECT_EQ(m->TmrEd->Text(), "2.5");
    m->TmrEd->SetText("1.234");
    EXPECT_EQ(m->tmr1->Interval(), 1234);
    press(vcl::VK_RETURN);
    EXPECT_EQ(m->TmrEd->Text(), "1.2");
    EXPECT_EQ(m->tmr1->Interval(), 1200) << "the interval follows the text shown";

    // Up and Down move the bar by one, Page Up and Page Down by its page.
    m->ttr1->SetPosition(15);
    press(vcl::VK_UP);
    EXPECT_EQ(m->ttr1->Position(), 16);
    EXPECT_EQ(m->tmr1->Interval(), 700);
    EXPECT_EQ(m->TmrEd->Text(), "0.7");
    press(vcl::VK_NEXT);
    EXPECT_EQ(m->ttr1->Position(), 7);
    press(vcl::VK_NEXT);
    EXPECT_EQ(m->ttr1->Position(), 1) << "the bar stops at its end";
    EXPECT_EQ(m->tmr1->Interval(), 10);
}

TEST(main_form_views, timer_enable_box_starts_stops_and_zero_sends_nothing) {
    ViewsFixture f;
    TMain* m = f.main;
    // "0" switches the timer on with no interval: nothing is ever sent.
    m->TmrEd->SetText("0");
    m->TmrEnCB->SetChecked(true);
    EXPECT_FALSE(m->tmr1->Running());
    EXPECT_EQ(m->TmrEnCB->Color(), vcl::TColor(0x8080FF));
    test_support::Pump(200ms);
    EXPECT_TRUE(f.messages.empty());

    // A text that is not a number switches it off without a word.
    m->TmrEnCB->SetChecked(false);
    m->TmrEd->SetText("x");
    m->TmrEnCB->SetChecked(true);
    EXPECT_FALSE(m->TmrEnCB->Checked());
    EXPECT_FALSE(m->tmr1->Enabled());
    EXPECT_NE(m->TmrEnCB->Color(), vcl::TColor(0x8080FF));
    EXPECT_TRUE(f.messages.empty());

    // Typing "0" into a running timer's box stops it from firing; a real
    // interval transmits, and with no port the transmission stops it.
    m->TmrEd->SetText("0.02");
    m->TmrEnCB->SetChecked(true);
    EXPECT_TRUE(m->tmr1->Running());
    m->TmrEd->SetText("0");
    EXPECT_FALSE(m->tmr1->Running());
    test_support::Pump(100ms);
    EXPECT_TRUE(f.messages.empty());
    m->TmrEd->SetText("0.02");
    ASSERT_TRUE(test_support::PumpUntil([&] { return !f.messages.empty(); }));
    EXPECT_EQ(f.messages.front(), kNotConnected);
    EXPECT_FALSE(m->TmrEnCB->Checked());

    // Hiding the timer group switches the timer off.
    m->TmrEd->SetText("5");
    m->TmrEnCB->SetChecked(true);
    m->mViewTmr->Click();
    EXPECT_FALSE(m->Timergb->Visible());
    EXPECT_FALSE(m->TmrEnCB->Checked());
    m->mViewSet->Click();
    EXPECT_FALSE(m->nastrp->Visible());
    m->mViewSetClick(nullptr);
    EXPECT_FALSE(m->nastrp->Visible()) << "without a sender the state is kept";
}

TEST(main_form_views, function_keys_reach_their_handlers) {
    ViewsFixture f;
    TMain* m = f.main;
    m->TmrEd->SetText("5");
    EXPECT_FALSE(f.Key(vcl::VK_F5));
    EXPECT_TRUE(m->tmr1->Enabled());
    f.Key(vcl::VK_F5);
    EXPECT_FALSE(m->tmr1->Enabled());

    // F10 toggles reception and consumes the key.
    EXPECT_TRUE(f.Key(vcl::VK_F10));
    EXPECT_FALSE(m->ReceptionEnabled);
    EXPECT_EQ(m->dRVcb->Color(), vcl::TColor(0x8080FF));
    m->ReceiveData({}, "AB", 2);
    win::ProcessMessages();
    EXPECT_EQ(m->PortSlots[terminal::PortSlotMain].RxCount, 0u);
    f.Key(vcl::VK_F10);
    m->ReceiveData({}, "AB", 2);
    win::ProcessMessages();
    EXPECT_EQ(m->PortSlots[terminal::PortSlotMain].RxCount, 2u);

    // F1: no help file beside the program. F2 asks for a profile name,
    // Ctrl+F for the output file.
    f.Key(vcl::VK_F1);
    EXPECT_EQ(f.messages, std::vector<std::string>{"Can't open help file."});
    f.Key(vcl::VK_F2);
    EXPECT_EQ(f.questions.size(), 1u);
    f.Key('F', vcl::ssCtrl);
    f.Key('F');
    EXPECT_EQ(f.dialogs.size(), 1u) << "F alone is a letter";

    // Keys typed into the transmit box pass the form first.
    m->TrBCB->SetText("12");
    QKeyEvent f10(QEvent::KeyPress, Qt::Key_F10, Qt::NoModifier);
    QApplication::sendEvent(m->TrBCB->Widget(), &f10);
    EXPECT_FALSE(m->ReceptionEnabled);
    EXPECT_EQ(m->TrBCB->Text(), "12") << "nothing is typed";
}

TEST(main_form_views, shift_c_copies_the_data_part_and_alt_digits_send_patterns) {
    ViewsFixture f;
    TMain* m = f.main;
    m->RVPnlTime = 0;
    m->mShowWrites->SetChecked(true);
    m->ShowData("AB", 2, 0);
    m->StartNewLine(true);
    m->lb1->SetItemIndex(0);
    vcl::Clipboard().SetAsText("");
    f.shift = true;
    EXPECT_FALSE(f.Key('C', vcl::ssShift)) << "the letter still reaches the focused control";
    EXPECT_EQ(vcl::Clipboard().AsText(), "41 42");
    // The transmit box's menu offers Paste only while the clipboard has text.
    m->pmLine->OnPopup(m->pmLine);
    EXPECT_TRUE(f.Item("mPaste")->Enabled());
    vcl::Clipboard().SetAsText("");
    m->pmLine->OnPopup(m->pmLine);
    EXPECT_FALSE(f.Item("mPaste")->Enabled());

    // Alt+1 puts the pattern into the box and sends it as the button does.
    m->N11->SetCaption("01 02");
    EXPECT_TRUE(f.Key('1', vcl::ssAlt));
    EXPECT_EQ(m->TrBCB->Text(), "01 02");
    EXPECT_EQ(f.messages, std::vector<std::string>{kNotConnected});
    EXPECT_EQ(m->TrBCB->Items().Strings(0), "01 02");

    // A free pattern sends nothing; an empty caption sends an empty line.
    f.messages.clear();
    EXPECT_TRUE(f.Key('3', vcl::ssAlt));
    EXPECT_TRUE(f.messages.empty());
    EXPECT_EQ(m->TrBCB->Text(), "01 02");
    m->N10->SetCaption("");
    f.Key('3', vcl::ssAlt);
    EXPECT_EQ(m->TrBCB->Text(), "");
    EXPECT_EQ(f.messages, std::vector<std::string>{kNotConnected});
}

TEST(main_form_views, alt_digit_in_the_transmit_box_sends_like_anywhere_else) {
    ViewsFixture f;
    TMain* m = f.main;
    bool alt = true;
    m->AltHeld = [&] { return alt; };
    m->Show();
    m->TrBCB->SetFocus();
    test_support::Pump(20ms);
    m->N11->SetCaption("01 02");
    // The transmit box's menu has Alt+1 as the entry's shortcut, which the
    // toolkit serves before the form sees the key.
    QWidget* box = m->TrBCB->Widget()->focusProxy() ? m->TrBCB->Widget()->focusProxy() : m->TrBCB->Widget();
    QKeyEvent alt1(QEvent::KeyPress, Qt::Key_1, Qt::AltModifier, "1");
    QApplication::sendEvent(box, &alt1);
    EXPECT_EQ(m->TrBCB->Text(), "01 02");
    EXPECT_EQ(f.messages, std::vector<std::string>{kNotConnected});
    // Chosen with the mouse, the entry only fills the box.
    alt = false;
    m->TrBCB->SetText("");
    m->N11->Click();
    EXPECT_EQ(m->TrBCB->Text(), "01 02");
    EXPECT_EQ(f.messages.size(), 1u);
    m->Hide();
}

TEST(main_form_views, layouts_move_the_groups_and_switch_captions) {
    ViewsFixture f;
    TMain* m = f.main;
    // Layout 1 after start-up: the transmission column on the left.
    EXPECT_EQ(m->RvGB->Caption(), "Transmission");
    EXPECT_FALSE(m->GBUpper->Visible());
    EXPECT_EQ(m->Timergb->Parent(), m->RvGB);
    EXPECT_GT(m->ttr1->Top(), m->TmrEd->Top()) << "the track bar under the text box";

    m->mLayout2->Click();
    EXPECT_EQ(m->Layout, 2);
    EXPECT_EQ(m->RvGB->Caption(), "Options");
    EXPECT_TRUE(m->GBUpper->Visible());
    for (vcl::TControl* c : std::initializer_list<vcl::TControl*>{m->pnlTR, m->TRLabel, m->LTRFormat,
                                                                  m->sbTRFormat, m->sbPlugin})
        EXPECT_EQ(c->Parent(), m->GBUpper) << c->Name;
    EXPECT_EQ(m->Timergb->Parent(), m->pnlTR);
    EXPECT_EQ(m->Timergb->Align(), vcl::TAlign::alNone);
    EXPECT_GE(m->Timergb->Left(), m->BTrArrow->Left() + m->BTrArrow->Width());
    EXPECT_GT(m->ttr1->Left(), m->TmrEd->Left() + m->TmrEd->Width()) << "the track bar beside the text box";
    EXPECT_EQ(m->Transb->Width(), 160);
    EXPECT_TRUE(m->RvGB->Visible());
    EXPECT_TRUE(m->Splitter1->Visible());

    // Layout 3: the column floats under the settings link, hidden.
    m->SetLayout(3);
    EXPECT_TRUE(m->mLayout3->Checked());
    EXPECT_TRUE(m->lblSets->Visible());
    EXPECT_EQ(m->lblSets->Caption().substr(0, 5), "COM-,");
    EXPECT_FALSE(m->RvGB->Visible());
    EXPECT_EQ(m->RvGB->Parent(), m->TrGB);
    EXPECT_EQ(m->RvGB->Top(), m->lblSets->Top() + m->lblSets->Height());
    EXPECT_FALSE(m->Splitter1->Visible());
    m->lblSets->Click();
    EXPECT_TRUE(m->RvGB->Visible());
    EXPECT_TRUE(f.Key(vcl::VK_ESCAPE)) << "Escape hides the floating column";
    EXPECT_FALSE(m->RvGB->Visible());
    EXPECT_FALSE(f.Key(vcl::VK_ESCAPE)) << "and is not consumed when it is hidden";
    m->lblSets->Click();
    m->lb1->OnEnter(m->lb1);
    EXPECT_FALSE(m->RvGB->Visible()) << "the column hides when the focus leaves it";
    m->lblSets->Click();
    m->TmrEd->OnEnter(m->TmrEd);
    EXPECT_FALSE(m->RvGB->Visible()) << "also to the timer in the upper group";
    m->lblSets->Click();
    m->lblSets->Click();
    EXPECT_FALSE(m->RvGB->Visible()) << "the link toggles";

    // Back to layout 1: docked again, the panel, the timer and the
    // connection group stacked in that order.
    m->SetLayout(1);
    EXPECT_EQ(m->RvGB->Caption(), "Transmission");
    EXPECT_EQ(m->RvGB->Parent(), m);
    EXPECT_EQ(m->RvGB->Align(), vcl::TAlign::alLeft);
    EXPECT_TRUE(m->RvGB->Visible());
    EXPECT_TRUE(m->Splitter1->Visible());
    EXPECT_FALSE(m->GBUpper->Visible());
    EXPECT_FALSE(m->lblSets->Visible());
    EXPECT_EQ(m->Timergb->Top(), m->pnlTR->Top() + m->pnlTR->Height());
    EXPECT_EQ(m->nastrp->Top(), m->Timergb->Top() + m->Timergb->Height());

    // Other values are only stored.
    m->SetLayout(7);
    EXPECT_EQ(m->Layout, 7);
    EXPECT_TRUE(m->mLayout1->Checked());
}

TEST(main_form_views, enter_and_escape_hide_the_floating_column_while_a_control_in_it_has_the_focus) {
    ViewsFixture f;
    TMain* m = f.main;
    m->Show();
    m->SetLayout(3);
    test_support::Pump(20ms);
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
        m->lblSets->Click();
        ASSERT_TRUE(m->RvGB->Visible());
        m->DTRcb->SetFocus();
        test_support::Pump(20ms);
        ASSERT_TRUE(m->RvGB->ContainsFocus());
        m->lblSets->SetCaption("stale");
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        press.setTimestamp(key);  // each press an event of its own
        QApplication::sendEvent(QApplication::focusWidget(), &press);
        EXPECT_FALSE(m->RvGB->Visible()) << key;
        EXPECT_NE(m->lblSets->Caption(), "stale") << "the summary is refreshed";
        EXPECT_FALSE(m->RvGB->ContainsFocus());
        EXPECT_EQ(m->lb1->Count(), 1) << "the key reached neither the column nor the list";
    }
    m->Hide();
}

// The pairs of visible controls of the column, and of every group inside
// it, that lie over each other, as "i over j" with their bounds.
std::vector<std::string> ColumnOverlaps(const vcl::TWinControl& column) {
    std::vector<std::string> found;
    for (int i = 0; i < column.ControlCount(); ++i) {
        const vcl::TControl* a = column.Controls(i);
        const vcl::TRect ra = a->BoundsRect();
        if (!a->Visible() || ra.Width() <= 0 || ra.Height() <= 0) continue;
        for (int j = i + 1; j < column.ControlCount(); ++j) {
            const vcl::TControl* b = column.Controls(j);
            const vcl::TRect rb = b->BoundsRect();
            if (!b->Visible() || rb.Width() <= 0 || rb.Height() <= 0) continue;
            if (ra.Left < rb.Right && rb.Left < ra.Right && ra.Top < rb.Bottom && rb.Top < ra.Bottom)
                found.push_back(std::to_string(i) + " (" + std::to_string(ra.Top) + ".." + std::to_string(ra.Bottom) +
                                ") over " + std::to_string(j) + " (" + std::to_string(rb.Top) + ".." +
                                std::to_string(rb.Bottom) + ")");
        }
    }
    for (int i = 0; i < column.ControlCount(); ++i)
        if (auto* w = dynamic_cast<const vcl::TWinControl*>(column.Controls(i)); w && w->Visible())
            for (const std::string& o : ColumnOverlaps(*w)) found.push_back("in " + std::to_string(i) + ": " + o);
    return found;
}

TEST(main_form_views, at_450_by_300_no_control_of_the_column_lies_over_another) {
    ViewsFixture f;
    TMain* m = f.main;
    m->Show();
    for (int layout : {1, 2}) {
        m->SetLayout(layout);
        m->SetBounds(m->Left(), m->Top(), 450, 300);
        test_support::Pump(20ms);
        // However low the column, its rows stay apart (the reception switch
        // at the bottom is clipped, never over the rows above).
        EXPECT_GE(m->RvGB->ControlCount(), layout == 1 ? 4 : 2) << layout;
        EXPECT_EQ(ColumnOverlaps(*m->RvGB), std::vector<std::string>{}) << layout;
        EXPECT_GE(m->pnlDRV->Top(), m->nastrp->Top() + m->nastrp->Height()) << layout;
        // Made high enough again, it goes back to the column's bottom.
        m->SetBounds(m->Left(), m->Top(), 860, 700);
        test_support::Pump(20ms);
        EXPECT_EQ(m->pnlDRV->Top() + m->pnlDRV->Height(), m->RvGB->AlignRect().Bottom) << layout;
        EXPECT_EQ(ColumnOverlaps(*m->RvGB), std::vector<std::string>{}) << layout;
    }
    m->Hide();
}

TEST(main_form_views, the_window_keeps_its_least_size) {
    ViewsFixture f;
    TMain* m = f.main;
    m->Show();
    test_support::Pump(20ms);
    m->SetWidth(60);
    m->SetHeight(40);
    EXPECT_EQ(m->Width(), m->Splitter1->Left() + 25);
    EXPECT_EQ(m->Height(), 110);
    m->Hide();
}

TEST(main_form_views, output_and_input_formats_and_line_breaks) {
    ViewsFixture f;
    TMain* m = f.main;
    EXPECT_EQ(m->LNumFormat->Caption(), "HEX");
    EXPECT_EQ(m->TrBCB->Hint().substr(0, 20), "11 22 33 - DEC numbe") << "the look of the start-up format";
    // "Dec word" while a line is half filled starts a new line first.
    m->ShowData("A", 1, 0);
    const int lines = m->RxPanel->Lines().LineCount();
    f.Item("mFormat2")->Click();
    EXPECT_EQ(m->DataFormat, 2);
    EXPECT_EQ(m->LNumFormat->Caption(), "DW");
    EXPECT_EQ(m->RxPanel->Lines().LineCount(), lines + 1);
    f.Item("mFormat4")->Click();
    EXPECT_EQ(m->LNumFormat->Caption(), "ASC");
    EXPECT_EQ(m->RxPanel->Lines().LineCount(), lines + 1) << "an empty line is not ended";

    f.Item("mMode1")->Click();
    EXPECT_EQ(m->TRFormat, 1);
    EXPECT_EQ(m->sbTRFormat->Caption(), "HEX");
    EXPECT_EQ(m->TrBCB->Color(), vcl::TColor(0xC0FFFF));
    EXPECT_EQ(m->TrBCB->Hint().substr(0, 30), "56 88 AA - HEX numbers (int8)\r");
    f.Item("mMode2")->Click();
    EXPECT_EQ(m->TrBCB->Color(), vcl::TColor(0xFFC0FF));

    f.Item("mAscTrLbNone")->Click();
    EXPECT_EQ(m->TrLineBreak, "");
    f.Item("mAscRvLb0")->Click();
    EXPECT_EQ(m->RvLineBreak, '\0');
    m->SetLineBreak(false, 2);  // CR LF is no receive line break
    EXPECT_EQ(m->RvLineBreak, '\0');
    EXPECT_EQ(TMain::LineBreakIndex("\r\n"), 2);
    EXPECT_EQ(TMain::LineBreakIndex(std::string(1, '\0')), 3);
    EXPECT_EQ(TMain::LineBreakIndex("x"), 1);
}

TEST(main_form_views, time_display_and_toggles_apply_without_a_sender) {
    ViewsFixture f;
    TMain* m = f.main;
    m->mTimeInRVPanel->Items(1)->Click();
    EXPECT_TRUE(m->mTimecaninterruptdatarow->Enabled());
    m->mTimeInRVPanel->Items(0)->Click();
    EXPECT_EQ(m->RVPnlTime, 0);
    EXPECT_FALSE(m->mTimecaninterruptdatarow->Enabled());

    // Free format: cancel changes nothing, an answer sets and selects it.
    m->mTimeFreeFormat->Click();
    EXPECT_EQ(f.questions, std::vector<std::string>{"Free time format"});
    EXPECT_EQ(m->RVPnlTime, 0);
    f.answers = {"hh:nn"};
    m->mTimeFreeFormat->Click();
    EXPECT_EQ(m->RVPnlTimeFormat, "hh:nn");
    EXPECT_EQ(m->mTimeFreeFormat->Caption(), "Free format (hh:nn)...");
    EXPECT_EQ(m->RVPnlTime, 4);

    // As the settings reading applies them: no sender, no toggling.
    m->RVPnlTime = 3;
    m->milliseconds1Click(nullptr);
    EXPECT_TRUE(m->mTimeInRVPanel->Items(3)->Checked());
    m->mStayonTop->SetChecked(true);
    m->mStayonTopClick(nullptr);
    EXPECT_EQ(m->FormStyle(), vcl::TFormStyle::fsStayOnTop);
    m->mStayonTop->Click();
    EXPECT_EQ(m->FormStyle(), vcl::TFormStyle::fsNormal);
    m->mShowASCIInonvisiblecodes->Click();
    m->mShowASCIInonvisiblecodesClick(nullptr);
    EXPECT_TRUE(m->RxPanel->ShowASCIInonvisiblecodes);
    m->Infinitem->Click();
    m->InfinitemClick(nullptr);
    EXPECT_FALSE(m->RxPanel->InfiniteList());
    m->Precisetimecalc1->Click();
    EXPECT_TRUE(m->RxPanel->PreciseTimeCalc());
}

TEST(main_form_views, font_dialog_sets_a_font_the_screen_has) {
    ViewsFixture f;
    TMain* m = f.main;
    f.answer_dialog = [](vcl::TCommonDialog& d) {
        auto& fd = dynamic_cast<vcl::TFontDialog&>(d);
        EXPECT_EQ(fd.Font.Name(), "Courier New") << "the dialog starts with the list's font";
        fd.Font.SetName("Arial");
        fd.Font.SetSize(14);
        return true;
    };
    m->Fontm->Click();
    EXPECT_EQ(m->lb1->Font().Name(), "Arial");
    EXPECT_EQ(m->lb1->Font().Size(), 14);
    EXPECT_EQ(m->Fontm->Caption(), "Font (Arial, 14)...");
    m->SetListFont("No Such Font Family", 9);
    m->SetListFont("Arial", 0);
    EXPECT_EQ(m->lb1->Font().Name(), "Arial");
    EXPECT_EQ(m->lb1->Font().Size(), 14);
}

TEST(main_form_views, help_without_a_file_fails_and_about_shows_the_version) {
    ViewsFixture f;
    f.main->mHelp->Click();
    EXPECT_EQ(f.messages, std::vector<std::string>{"Can't open help file."});
    // Numbers joined by dots, as the build declares it.
    const std::string version = TMain::FileVersion();
    EXPECT_NE(version.find('.'), std::string::npos) << version;
    EXPECT_EQ(version.find_first_not_of("0123456789."), std::string::npos) << version;
    f.Item("About1")->Click();
    ASSERT_EQ(f.messages.size(), 2u);
    EXPECT_NE(f.messages[1].find("Version " + version), std::string::npos) << f.messages[1];
}

}  // namespace
