// What the main window shows on the screen after each command: the pixels
// the window last painted, taken from its backing store, not a fresh
// rendering of its controls.
#include <gtest/gtest.h>

#include <QAbstractScrollArea>
#include <QEnterEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/vcl/forms.h"
#include "ports/ethernet_port.h"
#include "support/dialog_answers.h"
#include "support/main_window.h"
#include "support/qt_app.h"
#include "support/screen.h"
#include "terminal/main_form.h"

namespace {

using terminal::TMain;

struct ScreenFixture : test_support::MainWindow {
    ScreenFixture() : BasicMainWindow({.Start = false, .Graph = true}) {
        test_support::EnsureQtApplication();
        vcl::Application->InputHook = [this](const std::string&, const std::string&, std::string& v) {
            return TakeAnswer(v);
        };
        Start();
        main->RVPnlTime = 0;
        main->Show();
        test_support::Pump(std::chrono::milliseconds(50));
    }
    void Receive(const std::string& bytes) {
        main->cp1->OnReceiveData(main->cp1, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
        main->PumpReceived();
    }
    void Click(const char* name) { ASSERT_TRUE(test_support::ClickMenu(main, name)) << name; }
    QWidget* Viewport() const {
        return qobject_cast<QAbstractScrollArea*>(main->lb1->Widget())->viewport();
    }
    // Row i of the list as the screen shows it: whether it holds text, and
    // its background at the right end.
    bool RowInked(int row) {
        const int h = main->lb1->ItemHeight();
        return test_support::BandHasInk(test_support::OnScreen(main->lb1), row * h, h);
    }
    QRgb RowBackground(int row) {
        const int h = main->lb1->ItemHeight();
        const QImage img = test_support::OnScreen(main->lb1);
        return img.pixel(img.width() - 2, row * h + h / 2);
    }
    // Lines here are white unless selected (or message lines, light green).
    bool RowHighlighted(int row) {
        const QRgb bg = RowBackground(row);
        return bg != qRgb(255, 255, 255) && bg != kMessageGreen;
    }
    static constexpr QRgb kMessageGreen = 0xFF80FF80;
};

TEST(main_form_screen, the_receive_panel_on_screen_follows_every_change_of_lines_and_selection) {
    ScreenFixture f;
    TMain* m = f.main;

    f.Receive("ABC");
    m->StartNewLine(true);
    f.Receive("DEF");
    m->StartNewLine(true);
    ASSERT_TRUE(f.RowInked(0));
    ASSERT_TRUE(f.RowInked(1));

    // Clear from the menu: the old lines leave the screen with the counters.
    f.Click("Clearm");
    EXPECT_EQ(m->RVLabel->Caption(), "(0, 0)");
    EXPECT_FALSE(f.RowInked(0));
    EXPECT_FALSE(f.RowInked(1));

    // A message line (as the Ethernet port reports one) shows with the next
    // frame, as data does.
    std::string reply;
    m->ForeignPortEvent(ports::fpeInfo, "Start UDP (listen port 5000)", reply);
    ASSERT_TRUE(f.ShowReceived());
    EXPECT_TRUE(f.RowInked(0));
    EXPECT_EQ(f.RowBackground(0), ScreenFixture::kMessageGreen);

    // New Line adds an empty line and the selection, on the last line,
    // follows it to the new one.
    f.Receive("12");
    ASSERT_TRUE(f.RowHighlighted(1));
    f.Click("Crm");
    EXPECT_FALSE(f.RowHighlighted(1));
    EXPECT_TRUE(f.RowHighlighted(2));

    // A click on a line moves the highlight there, and so do the arrow keys.
    const vcl::TRect r0 = m->lb1->ItemRect(0);
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, r0.Top + 3), f.Viewport()->mapToGlobal(QPointF(5, r0.Top + 3)),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(f.Viewport(), &press);
    EXPECT_EQ(m->lb1->ItemIndex(), 0);
    EXPECT_TRUE(f.RowHighlighted(0));
    EXPECT_FALSE(f.RowHighlighted(2));
    QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
    QCoreApplication::sendEvent(f.Viewport(), &down);
    EXPECT_TRUE(f.RowHighlighted(1));
    EXPECT_FALSE(f.RowHighlighted(0));

    // The line Find Text finds is highlighted, and so is the one Find next finds.
    m->StartNewLine(true);
    f.Receive("1");  // 31
    m->StartNewLine(true);
    f.Receive("1");
    m->lb1->SetItemIndex(0);
    f.Answers = {"31"};
    f.Click("FindText1");
    const int found = m->lb1->ItemIndex();
    ASSERT_GT(found, 0);
    EXPECT_TRUE(f.RowHighlighted(found));
    EXPECT_FALSE(f.RowHighlighted(0));
    f.Click("Findnext1");
    ASSERT_GT(m->lb1->ItemIndex(), found);
    EXPECT_TRUE(f.RowHighlighted(m->lb1->ItemIndex()));
    EXPECT_FALSE(f.RowHighlighted(found));

    // Deleting a line redraws the lines that moved up.
    const int before = m->lb1->Count();
    m->lb1->SetItemIndex(0);
    f.Click("mDeleteLine");
    EXPECT_EQ(m->lb1->Count(), before - 1);
    EXPECT_NE(f.RowBackground(0), ScreenFixture::kMessageGreen);  // the message line is gone
}

// Data that streams in reaches the screen once a frame, whole: every line,
// the counters and the selection at the end of the list; a command in
// between shows at once and the frame after it brings nothing back.
TEST(main_form_screen, a_burst_of_chunks_reaches_the_screen_whole_at_the_next_frame) {
    ScreenFixture f;
    TMain* m = f.main;
    for (int i = 0; i < 300; ++i) f.Receive(std::string(7, static_cast<char>('A' + i % 26)));
    m->cp2->OnReceiveData(m->cp2, "\x01\x02\x03\x04\x05", 5);
    m->PumpReceived();
    ASSERT_TRUE(f.ShowReceived());
    EXPECT_EQ(m->RVLabel->Caption(), "(2100, 5)");
    const terminal::TLineStore& lines = m->RxPanel->Lines();
    int tokens = 0;
    for (int i = 0; i < lines.LineCount(); ++i) {
        const std::string data = lines.LineData(i);
        if (!data.empty()) tokens += static_cast<int>(std::count(data.begin(), data.end(), ' ')) + 1;
    }
    EXPECT_EQ(tokens, 2105);
    ASSERT_EQ(m->lb1->Count(), lines.LineCount());
    EXPECT_EQ(m->lb1->ItemIndex(), m->lb1->Count() - 1);
    const int last_row = m->lb1->ItemIndex() - m->lb1->TopIndex();
    ASSERT_GE(last_row, 0);
    EXPECT_TRUE(f.RowInked(last_row));
    EXPECT_TRUE(f.RowHighlighted(last_row));
    EXPECT_TRUE(f.RowInked(last_row - 1));

    for (int i = 0; i < 10; ++i) f.Receive("Z");
    f.Click("Clearm");
    EXPECT_EQ(m->RVLabel->Caption(), "(0, 0)");
    EXPECT_FALSE(f.RowInked(0));
    ASSERT_TRUE(f.ShowReceived());
    EXPECT_EQ(m->RVLabel->Caption(), "(0, 0)");
    EXPECT_EQ(m->lb1->Count(), 1);
    EXPECT_FALSE(f.RowInked(0));
}

// Every control the window shows is whole, apart from the others and wide
// enough for its text, in every layout and in every role of the Ethernet
// port, at the size the window opens with.
TEST(main_form_screen, every_shown_control_is_whole_and_readable_in_each_layout_and_role) {
    ScreenFixture f;
    TMain* m = f.main;
    auto check = [&](const std::string& what) {
        test_support::Pump(std::chrono::milliseconds(20));
        // Layout 3's column floats over the receive list.
        for (const std::string& p : test_support::LayoutProblems(m, {m->RvGB}))
            ADD_FAILURE() << what << ": " << p;
    };
    auto each_layout = [&](const std::string& what) {
        for (int layout = 1; layout <= 3; ++layout) {
            m->SetLayout(layout);
            check(what + ", layout " + std::to_string(layout));
        }
        // Layout 3's column opens under the settings link.
        m->lblSetsClick(m->lblSets);
        ASSERT_TRUE(m->RvGB->Visible());
        check(what + ", layout 3 with its column");
        m->lblSetsClick(m->lblSets);
        m->SetLayout(1);
    };
    each_layout("serial port");

    m->ForceComNumber(257, true);
    m->ComNcbChange(m->ComNcb);
    ASSERT_TRUE(m->ForeignPort);
    ports::TfrmForP* frame = m->ForeignPort->Frame();
    for (const char* role : {"0", "1", "2"}) {
        frame->SetParam(0, role);
        each_layout(std::string("Ethernet role ") + role);
    }
    // Serving: the current client and the disconnect button show too, and
    // the local port stays in sight.
    frame->SetParam(3, "0");
    m->sbPort->Click();
    ASSERT_TRUE(m->ForeignPort->Active());
    auto* eth = static_cast<ports::TfrmForPEth*>(frame);
    EXPECT_TRUE(eth->bDisconnClient->Visible());
    EXPECT_TRUE(eth->edLocalPort->Visible());
    each_layout("Ethernet server");
    m->sbPort->Click();
}

TEST(main_form_screen, the_settings_link_underlines_under_the_mouse_and_toggles_its_column) {
    ScreenFixture f;
    TMain* m = f.main;
    m->Activate();
    ASSERT_TRUE(test_support::PumpUntil([&] { return m->Active(); }));
    m->SetLayout(3);
    QWidget* link = m->lblSets->Widget();
    ASSERT_TRUE(link->isVisible());
    auto click = [&] {
        const QPointF at(3, 3);
        for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
            QMouseEvent e(type, at, link->mapToGlobal(at), Qt::LeftButton,
                          type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
            QCoreApplication::sendEvent(link, &e);
        }
        test_support::Pump(std::chrono::milliseconds(50));
    };

    // The mouse comes over the link and leaves it again.
    QEnterEvent enter(QPointF(3, 3), QPointF(3, 3), link->mapToGlobal(QPointF(3, 3)));
    QCoreApplication::sendEvent(link, &enter);
    EXPECT_TRUE(link->font().underline());
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(link, &leave);
    EXPECT_FALSE(link->font().underline());

    // A click opens the column, which keeps the focus inside it and stays
    // open; the next click closes it.
    ASSERT_FALSE(m->RvGB->Visible());
    click();
    EXPECT_TRUE(m->RvGB->Visible());
    EXPECT_TRUE(m->RvGB->ContainsFocus());
    click();
    EXPECT_FALSE(m->RvGB->Visible());
    // Open again, it closes when another control takes the focus.
    click();
    ASSERT_TRUE(m->RvGB->Visible());
    m->lb1->SetFocus();
    test_support::Pump(std::chrono::milliseconds(50));
    EXPECT_FALSE(m->RvGB->Visible());
}

}  // namespace
