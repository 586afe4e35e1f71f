#include <gtest/gtest.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/vcl/clipboard.h"
#include "platform/vcl/forms.h"
#include "ports/foreign_port.h"
#include "support/main_window.h"
#include "support/qt_app.h"
#include "terminal/main_form.h"

namespace {

using terminal::TMain;

// The main window without a port, its modal messages recorded and its
// questions answered by the test.
struct TransmitFixture : test_support::MainWindow {
    std::vector<std::string>& messages = Messages;
    std::vector<std::string>& answers = Answers;  // next answers to InputQuery; empty: cancel

    TransmitFixture() : BasicMainWindow({.Start = false}) {
        vcl::Application->InputHook = [this](const std::string&, const std::string&, std::string& v) {
            return TakeAnswer(v);
        };
        Start();
        messages.clear();
    }
    // Types a line and presses Enter (Shift+Enter with shift).
    void Enter(const std::string& text, bool shift = false) {
        main->TrBCB->SetText(text);
        main->TrBCBChange(main->TrBCB);
        std::uint16_t key = vcl::VK_RETURN;
        vcl::Guarded([&] { main->TrBCBKeyDown(main->TrBCB, key, shift ? vcl::ssShift : 0); });
    }
    // MSG lines of the receive panel as "<dir>:<text>".
    std::vector<std::string> MessageLines() const {
        std::vector<std::string> out;
        const auto& lines = main->RxPanel->Lines();
        for (int i = 0; i < lines.LineCount(); ++i)
            if (lines.LineRecord(i).Format == terminal::dfMSG)
                out.push_back(std::to_string(lines.LineRecord(i).Dir) + ":" + lines.LineData(i));
        return out;
    }
    std::vector<std::string> History() const {
        std::vector<std::string> out;
        for (int i = 0; i < main->TrBCB->Items().Count(); ++i) out.push_back(main->TrBCB->Items().Strings(i));
        return out;
    }
};

// Errors reach the application's handler, which ends a message with a period.
// A foreign port whose transport is the test: Send answers what the test sets.
class TFakeFrame : public ports::TfrmForP {
public:
    TFakeFrame() : TfrmForP(nullptr, "TFakePort") {}
    std::uint8_t GetParam(int, std::string&, bool) override { return 0; }
    void SetParam(int, const std::string&) override {}
    void SetActiveLook(bool) override {}
};
class TFakePort : public ports::TForeignPort {
public:
    TFakePort() : TForeignPort(300, nullptr, std::make_unique<TFakeFrame>()) {}
    void SetActive(bool Value) override { SetActiveFlag(Value); }
    int Send(const void* Buf, int Len) override {
        Sent.append(static_cast<const char*>(Buf), static_cast<std::size_t>(Len));
        return SendResult < 0 ? SendResult : Len;
    }
    std::string Sent;
    int SendResult = 0;  // negative: the transport reports a failure
};

const std::string kNotConnected = "Port is not connected.";

TEST(main_form_transmit, pseudo_commands_set_and_get_plugin_variables_without_sending) {
    TransmitFixture f;
    TMain* m = f.main;
    m->TRFormat = terminal::trfAsc;
    m->TrLineBreak = "";
    m->TmrEnCB->SetChecked(true);

    f.Enter("__setv(abc,Hello, world)");
    f.Enter("__getv(ABC)");
    f.Enter("__getv(never)");
    EXPECT_TRUE(f.messages.empty()) << "nothing reached the port check: " << f.messages.front();
    EXPECT_EQ(f.MessageLines(), (std::vector<std::string>{"2:__setv(abc,Hello, world)",
                                                          "0:__getv(ABC) -> Hello, world", "0:__getv(never) -> "}));
    EXPECT_EQ(m->GetPluginVar("ABC"), "Hello, world");
    EXPECT_EQ(m->GetPluginVar("abc"), "") << "names are stored upper case, looked up exactly";
    EXPECT_EQ(m->SentCount, 0u);
    EXPECT_TRUE(m->TmrEnCB->Checked());

    // The display flags: only "0" and "1"; the names in any case.
    m->PluginFlags = terminal::APTD | terminal::APRD | terminal::APGD;
    f.Enter("__setv(apgd,0)");
    EXPECT_EQ(m->PluginFlags, terminal::APTD | terminal::APRD);
    f.Enter("__getv(apgd)");
    EXPECT_EQ(f.MessageLines().back(), "0:__getv(apgd) -> 0");
    f.Enter("__setv(APGD,2)");
    f.Enter("__setv(nodelimiter)");
    EXPECT_EQ(f.messages, (std::vector<std::string>{"Bad Value \"2\"", "Bad \"SetV\" proc delimiter."}));
    EXPECT_EQ(m->PluginFlags, terminal::APTD | terminal::APRD);

    // Variables are kept sorted by their case-sensitive names.
    m->SetPluginVar("B", "2");
    m->SetPluginVar("A", "1");
    m->SetPluginVar("B", "3");
    ASSERT_EQ(m->PluginVars->Count(), 3);
    EXPECT_EQ(m->PluginVars->Get(0).Name, "A");
    EXPECT_EQ(m->PluginVars->Get(1).Name, "ABC");
    EXPECT_EQ(m->GetPluginVar("B"), "3");

    // Anything else that looks alike is data, and without a port it fails.
    f.messages.clear();
    for (const char* data : {"__send(x)", "__setv()", "__setv(a,1", "_-setv(a,1)"}) f.Enter(data);
    EXPECT_EQ(f.messages, std::vector<std::string>(4, kNotConnected));
    EXPECT_FALSE(m->TmrEnCB->Checked()) << "a repeating transmission stops";
}

TEST(main_form_transmit, pseudo_commands_refuse_a_name_with_a_line_break_as_set_v_and_get_v_do) {
    TransmitFixture f;
    TMain* m = f.main;
    m->TRFormat = terminal::trfAsc;
    m->TrLineBreak = "";
    m->SetPluginVar("A", "kept");
    const int stored = m->PluginVars->Count();
    // "\r" and "\n" are the transmit line's escapes for CR and LF.
    f.Enter("__setv(a\\rb,zz)");
    f.Enter("__setv(a\\n,zz)");
    f.Enter("__getv(a\\rb)");
    EXPECT_EQ(f.messages,
              (std::vector<std::string>{"Bad variable name 'a'#13'b': a name cannot hold a line break.",
                                        "Bad variable name 'a'#10: a name cannot hold a line break.",
                                        "Bad variable name 'a'#13'b': a name cannot hold a line break."}));
    EXPECT_EQ(m->PluginVars->Count(), stored) << "nothing is stored";
    EXPECT_EQ(m->GetPluginVar("A"), "kept");
    EXPECT_EQ(f.MessageLines(), std::vector<std::string>{}) << "no line claims it was set or read";
    // A line break in the value is the value's own.
    f.Enter("__setv(b,1\\r2)");
    EXPECT_EQ(m->GetPluginVar("B"), "1\r2");
}

TEST(main_form_transmit, parse_error_selects_the_token_and_parses_again_next_time) {
    TransmitFixture f;
    TMain* m = f.main;
    m->TmrEnCB->SetChecked(true);
    f.Enter("1 2 258 4");
    ASSERT_EQ(f.messages.size(), 1u);
    EXPECT_EQ(f.messages[0], "Wrong data in Input Line.\rToken \"258\" could not be converted to a number");
    EXPECT_EQ(m->TrBCB->SelStart(), 4);
    EXPECT_EQ(m->TrBCB->SelLength(), 3);
    EXPECT_EQ(m->TrBCB->SelText(), "258") << "the faulty token is selected in the box itself";
    EXPECT_FALSE(m->TmrEnCB->Checked());
    EXPECT_TRUE(m->ParseNeeded);
    EXPECT_EQ(m->TrParser.TransmitLen(), 0);
    EXPECT_TRUE(f.History().empty()) << "a failed parse does not enter the history";

    // The same line again fails again (it is parsed again, not sent empty).
    vcl::Guarded([&] { m->TransbClick(m->Transb); });
    EXPECT_EQ(f.messages.size(), 2u);
    EXPECT_EQ(f.messages[1], f.messages[0]);
}

TEST(main_form_transmit, switching_rs485_mode_parses_the_unchanged_line_again) {
    TransmitFixture f;
    TMain* m = f.main;
    m->CPUSpeed = 1000;  // no clock measurement when the mode goes on
    f.Enter("1 5P 2");
    EXPECT_EQ(f.messages, std::vector<std::string>{kNotConnected}) << "the pause parses without RS-485";
    EXPECT_FALSE(m->ParseNeeded);

    m->CBRS485->SetChecked(true);
    vcl::Guarded([&] { m->TransbClick(m->Transb); });
    ASSERT_EQ(f.messages.size(), 2u);
    EXPECT_EQ(f.messages[1],
              "Wrong data in Input Line.\r\"Pause\" command is not allowed when \"RS-485 mode\" is on");
    EXPECT_EQ(m->TrBCB->SelStart(), 2);
    EXPECT_EQ(m->TrBCB->SelLength(), 2);

    m->CBRS485->SetChecked(false);
    vcl::Guarded([&] { m->TransbClick(m->Transb); });
    EXPECT_EQ(f.messages.back(), kNotConnected);

    // A change of the input format parses again as well: "1A" is no DEC byte.
    m->TrBCB->SetText("1A");
    m->TrBCBChange(m->TrBCB);
    m->TRFormat = terminal::trfHex;
    vcl::Guarded([&] { m->TransbClick(m->Transb); });
    m->TRFormat = terminal::trfDec;
    vcl::Guarded([&] { m->TransbClick(m->Transb); });
    EXPECT_EQ(f.messages.back(), "Wrong data in Input Line.\rToken \"1A\" could not be converted to a number");
}

TEST(main_form_transmit, history_keeps_the_newest_lines_first_up_to_its_length) {
    TransmitFixture f;
    TMain* m = f.main;
    m->TRFormat = terminal::trfAsc;
    m->TrLineBreak = "";
    m->TRComboHistoryLen = 3;
    for (const char* v : {"__getv(a)", "__getv(b)", "__getv(c)"}) f.Enter(v);
    EXPECT_EQ(f.History(), (std::vector<std::string>{"__getv(c)", "__getv(b)", "__getv(a)"}));
    f.Enter("__getv(a)");  // an old line moves up, nothing is lost
    EXPECT_EQ(f.History(), (std::vector<std::string>{"__getv(a)", "__getv(c)", "__getv(b)"}));
    f.Enter("__getv(d)");  // a new one pushes the oldest out
    EXPECT_EQ(f.History(), (std::vector<std::string>{"__getv(d)", "__getv(a)", "__getv(c)"}));
    f.Enter("__getv(e)", true);  // Shift+Enter sends without recording
    EXPECT_EQ(f.History(), (std::vector<std::string>{"__getv(d)", "__getv(a)", "__getv(c)"}));
    EXPECT_EQ(f.MessageLines().back(), "0:__getv(e) -> ");
    f.Enter("__getv(A)");  // the case of a line matters
    EXPECT_EQ(f.History().front(), "__getv(A)");
    EXPECT_EQ(m->TrBCB->Text(), "__getv(A)");
    EXPECT_TRUE(f.messages.empty());
}

TEST(main_form_transmit, typed_text_is_sent_as_typed_and_never_completed_from_the_history) {
    TransmitFixture f;
    TMain* m = f.main;
    m->TRFormat = terminal::trfAsc;
    m->TrLineBreak = "";
    f.Enter("__getv(a)");
    f.Enter("1 2 3");
    ASSERT_EQ(f.History(), (std::vector<std::string>{"1 2 3", "__getv(a)"}));
    // The user types "1" and "_" into the box as keys: the box keeps what was
    // typed (the history stays in the drop-down list).
    QLineEdit* edit = static_cast<QComboBox*>(m->TrBCB->Widget())->lineEdit();
    ASSERT_NE(edit, nullptr);
    m->Show();
    m->Activate();
    m->TrBCB->SetFocus();
    ASSERT_TRUE(test_support::PumpUntil([&] { return edit->hasFocus(); }));
    edit->clear();
    QKeyEvent one(QEvent::KeyPress, Qt::Key_1, Qt::NoModifier, "1");
    QCoreApplication::sendEvent(edit, &one);
    EXPECT_EQ(m->TrBCB->Text(), "1");
    std::uint16_t key = vcl::VK_RETURN;
    vcl::Guarded([&] { m->TrBCBKeyDown(m->TrBCB, key, 0); });
    EXPECT_EQ(f.History().front(), "1");
    edit->clear();
    for (int i = 0; i < 2; ++i) {
        QKeyEvent under(QEvent::KeyPress, Qt::Key_Underscore, Qt::NoModifier, "_");
        QCoreApplication::sendEvent(edit, &under);
    }
    EXPECT_EQ(m->TrBCB->Text(), "__");
    EXPECT_EQ(f.History(), (std::vector<std::string>{"1", "1 2 3", "__getv(a)"}));
}

TEST(main_form_transmit, patterns_are_added_chosen_and_cleared) {
    TransmitFixture f;
    TMain* m = f.main;
    vcl::TMenuItem* add = static_cast<vcl::TMenuItem*>(m->FindComponent("Addcurrent1"));
    vcl::TMenuItem* clear = static_cast<vcl::TMenuItem*>(m->FindComponent("Clearfixedlines1"));
    m->TrBCB->SetText("");
    add->Click();
    EXPECT_EQ(f.messages, std::vector<std::string>{"Could not add empty string."});

    m->TrBCB->SetText("1 2 3");
    f.answers = {"6"};
    add->Click();
    f.answers = {"x"};
    add->Click();
    add->Click();  // cancelled: nothing happens
    EXPECT_EQ(f.messages, (std::vector<std::string>{"Could not add empty string.", "Illegal number.", "Illegal number."}));
    f.answers = {"2"};
    add->Click();
    EXPECT_EQ(m->N9->Caption(), "1 2 3");
    EXPECT_EQ(m->N11->Caption(), "<empty>");

    // Choosing a pattern puts it into the box and marks it for parsing; an
    // empty one leaves the box alone.
    f.Enter("7");
    EXPECT_FALSE(m->ParseNeeded);
    m->N11->Click();
    EXPECT_EQ(m->TrBCB->Text(), "7");
    m->N9->Click();
    EXPECT_EQ(m->TrBCB->Text(), "1 2 3");
    EXPECT_TRUE(m->ParseNeeded);

    clear->Click();
    for (vcl::TMenuItem* p : {m->N11, m->N9, m->N10, m->N12, m->alt51}) EXPECT_EQ(p->Caption(), "<empty>");
}

TEST(main_form_transmit, paste_replaces_the_selection_with_control_characters_as_blanks) {
    TransmitFixture f;
    TMain* m = f.main;
    vcl::TMenuItem* paste = static_cast<vcl::TMenuItem*>(m->FindComponent("mPaste"));
    f.Enter("01 ");
    EXPECT_FALSE(m->ParseNeeded);
    vcl::Clipboard().SetAsText("02\r\n03\t04");
    paste->Click();
    EXPECT_EQ(vcl::Clipboard().AsText(), "02  03 04") << "the cleaned text goes back to the clipboard";
    EXPECT_EQ(m->TrBCB->Text(), "01 02  03 04");
    EXPECT_TRUE(m->ParseNeeded);

    // Over a selection the pasted text takes its place; clean text leaves
    // the clipboard as it was.
    m->TrBCB->SetSelStart(3);
    m->TrBCB->SetSelLength(4);
    vcl::Clipboard().SetAsText("$1F");
    paste->Click();
    EXPECT_EQ(m->TrBCB->Text(), "01 $1F03 04");
    EXPECT_EQ(m->TrBCB->SelStart(), 6);
    EXPECT_EQ(vcl::Clipboard().AsText(), "$1F");

    // Without a selection it goes in at the cursor.
    m->TrBCB->SetSelStart(0);
    vcl::Clipboard().SetAsText("\x01");
    paste->Click();
    EXPECT_EQ(m->TrBCB->Text(), " 01 $1F03 04");

    // An empty clipboard changes nothing.
    vcl::Clipboard().SetAsText("");
    m->TrBCB->SetSelStart(0);
    m->TrBCB->SetSelLength(3);
    paste->Click();
    EXPECT_EQ(m->TrBCB->Text(), " 01 $1F03 04");
}

TEST(main_form_transmit, copy_takes_the_boxs_selection_only) {
    TransmitFixture f;
    TMain* m = f.main;
    vcl::TMenuItem* copy = static_cast<vcl::TMenuItem*>(m->FindComponent("mCopy"));
    m->TrBCB->SetText("10 20 30");
    m->TrBCB->SetSelStart(3);
    m->TrBCB->SetSelLength(5);
    copy->Click();
    EXPECT_EQ(vcl::Clipboard().AsText(), "20 30");

    // Nothing selected: nothing is copied.
    vcl::Clipboard().SetAsText("before");
    m->TrBCB->SetSelStart(2);
    copy->Click();
    EXPECT_EQ(vcl::Clipboard().AsText(), "before");
    EXPECT_EQ(m->TrBCB->Text(), "10 20 30");
}

TEST(main_form_transmit, transmit_controls_are_disabled_and_the_button_cancels) {
    TransmitFixture f;
    TMain* m = f.main;
    m->EnableTrControls(false);
    EXPECT_EQ(m->Transb->Caption(), "Cancel");
    EXPECT_FALSE(m->nastrp->Enabled());
    EXPECT_FALSE(m->Timergb->Enabled());
    EXPECT_FALSE(m->BTrArrow->Enabled());
    EXPECT_FALSE(m->TransmitEnabled);

    m->TrBCB->SetText("__getv(x)");
    m->Transb->Click();  // only cancels the file transfer
    EXPECT_TRUE(m->TransmitEnabled);
    EXPECT_TRUE(f.MessageLines().empty());

    m->EnableTrControls(true);
    EXPECT_EQ(m->Transb->Caption(), "Transmit");
    EXPECT_TRUE(m->nastrp->Enabled());
    EXPECT_TRUE(m->BTrArrow->Enabled());
}

TEST(main_form_transmit, a_line_of_unsent_bytes_shows_whole_with_its_reason_in_the_default_window) {
    // The default window, 860 by 600, with time stamps on: the longest of
    // these lines, a repeat folded into it included, is read to its end.
    TransmitFixture f;
    TMain* m = f.main;
    m->SetBounds(0, 0, 860, 600);  // the offscreen screen is smaller
    ASSERT_EQ(m->Width(), 860);
    ASSERT_EQ(m->RVPnlTime, 2);  // seconds
    m->Show();
    test_support::Pump(std::chrono::milliseconds(50));
    for (int i = 0; i < 2; ++i) m->ReportUnsent("Send2", 663040, 3000000, "time-out 10000 ms", 1);
    for (int i = 0; i < 2; ++i) m->ReportUnsent("Transmit", 65535, 65536, "time-out 10000 ms", 0);
    for (int i = 0; i < 2; ++i) m->ReportUnsent("Send", 3999999, 4000000, "plugin stopped", 0);
    const auto& lines = m->RxPanel->Lines();
    const int room = m->lb1->Width() - m->lb1->ScrollBarWidth() - 4;
    int seen = 0;
    for (int i = 0; i < lines.LineCount(); ++i) {
        if (lines.LineRecord(i).Format != terminal::dfERR) continue;
        ++seen;
        const std::string line = lines.GetLine(i);
        EXPECT_TRUE(line.ends_with(") [2]")) << line;
        EXPECT_LE(m->lb1->Canvas().TextWidth(line), room) << line;
    }
    EXPECT_EQ(seen, 3);
}

TEST(main_form_transmit, second_port_must_be_connected) {
    TransmitFixture f;
    TMain* m = f.main;
    m->TmrEnCB->SetChecked(true);
    try {
        m->SendData2("ab", 2);
        ADD_FAILURE() << "no error";
    } catch (const rtl::Exception& e) {
        EXPECT_EQ(e.Message, "Port2 is not connected");
    }
    EXPECT_FALSE(m->TmrEnCB->Checked());
}

TEST(main_form_transmit, foreign_port_sends_and_counts_what_its_transport_took) {
    TransmitFixture f;
    TMain* m = f.main;
    auto owned = std::make_unique<TFakePort>();
    TFakePort* port = owned.get();
    m->ForeignPort = std::move(owned);
    m->CBRS485->SetChecked(false);

    f.Enter("1 2");
    EXPECT_EQ(f.messages, std::vector<std::string>{kNotConnected}) << "an inactive foreign port";
    port->SetActive(true);
    f.Enter("1 2");
    EXPECT_EQ(port->Sent, std::string("\x01\x02"));
    EXPECT_EQ(m->SentCount, 2u);

    // A transport failure counts nothing (and does not wrap the counter).
    port->SendResult = -1;
    f.Enter("3");
    EXPECT_EQ(m->SentCount, 2u);
    EXPECT_EQ(m->TRLabel->Caption(), "2");
    m->ForeignPort.reset();
}

}  // namespace
