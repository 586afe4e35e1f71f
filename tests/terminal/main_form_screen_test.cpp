// What the main window shows on the screen after each command: the pixels
// the window last painted, taken from its backing store, not a fresh
// rendering of its controls.
#include <gtest/gtest.h>

#include <QAbstractScrollArea>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>

#include <string>
#include <vector>

#include "platform/vcl/forms.h"
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

    // A message line (as the Ethernet port reports one) shows at once.
    std::string reply;
    m->ForeignPortEvent(ports::fpeInfo, "Start UDP (listen port 5000)", reply);
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

}  // namespace
