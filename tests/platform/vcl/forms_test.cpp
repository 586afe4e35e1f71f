#include "platform/vcl/forms.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/rtl/exceptions.h"
#include "platform/vcl/custom_panel.h"
#include "platform/vcl/dialogs.h"
#include "platform/vcl/std_ctrls.h"
#include "platform/vcl/timer.h"
#include "support/qt_app.h"

namespace {

using namespace vcl;

// Records every modal message instead of showing it.
struct MessageRecorder {
    std::vector<TMessageRequest> seen;
    MessageRecorder() {
        EnsureApplication()->MessageHook = [this](const TMessageRequest& r) {
            seen.push_back(r);
            return IDOK;
        };
    }
    ~MessageRecorder() { Application->MessageHook = nullptr; }
};

// The loop until done(), within a limit of the time the test was given.
bool PumpUntil(const std::function<bool()>& done, int ms = 2000) {
    return test_support::PumpUntil(done, std::chrono::milliseconds(ms));
}

TEST(forms, exception_in_event_handler_reaches_the_application_handler_and_the_loop_goes_on) {
    MessageRecorder rec;
    Application->Title = "Vostrel";
    TForm form(Application);
    auto* button = new TButton(&form);
    int clicks = 0;
    button->OnClick = [&](TComponent*) {
        ++clicks;
        throw rtl::EConvertError("'x' is not a valid integer value");
    };
    button->Click();
    ASSERT_EQ(rec.seen.size(), 1u);
    EXPECT_EQ(rec.seen[0].Caption, "Vostrel");
    EXPECT_EQ(rec.seen[0].Text, "'x' is not a valid integer value.");
    EXPECT_EQ(rec.seen[0].Flags & 0xF0u, unsigned(MB_ICONERROR));

    // A silent abort shows nothing; a text ending in punctuation keeps it.
    button->OnClick = [](TComponent*) { throw rtl::EAbort("quiet"); };
    button->Click();
    EXPECT_EQ(rec.seen.size(), 1u);
    button->OnClick = [](TComponent*) { throw rtl::Exception("Line one.\rLine two."); };
    button->Click();
    ASSERT_EQ(rec.seen.size(), 2u);
    EXPECT_EQ(rec.seen[1].Text, "Line one.\rLine two.");

    // Raised from inside the toolkit's loop (a timer tick): handled there,
    // and the timer keeps ticking.
    TTimer timer(&form);
    int ticks = 0;
    timer.SetInterval(5);
    timer.SetOnTimer([&](TComponent*) {
        ++ticks;
        throw rtl::Exception("tick failed");
    });
    EXPECT_TRUE(PumpUntil([&] { return ticks >= 3; }));
    EXPECT_GE(rec.seen.size(), 5u);
    EXPECT_EQ(rec.seen.back().Text, "tick failed.");
}

TEST(forms, one_error_box_at_a_time_and_a_tick_failing_again_writes_a_line_instead) {
    MessageRecorder rec;
    Application->Title = "Vostrel";
    std::vector<std::string> lines;
    Application->OnErrorLine = [&](const std::string& text) { lines.push_back(text); };
    struct TLineHookReset {
        ~TLineHookReset() { Application->OnErrorLine = nullptr; }
    } reset;

    // A failed allocation has our own text; an error raised while its box is
    // open (the box's loop runs on) becomes a line, not a second box.
    Application->MessageHook = [&](const TMessageRequest& r) {
        rec.seen.push_back(r);
        Application->HandleException(std::make_exception_ptr(rtl::Exception("meanwhile")));
        return IDOK;
    };
    Application->HandleException(std::make_exception_ptr(std::bad_alloc()));
    ASSERT_EQ(rec.seen.size(), 1u);
    EXPECT_EQ(rec.seen[0].Text, "Out of memory");
    EXPECT_EQ(lines, std::vector<std::string>{"meanwhile."});
    Application->MessageHook = [&](const TMessageRequest& r) {
        rec.seen.push_back(r);
        return IDOK;
    };

    // A timer tick that keeps failing: one box, then a line for every tick
    // that fails again right after it.
    TForm form(Application);
    TTimer timer(&form);
    int ticks = 0;
    timer.SetInterval(2);
    timer.SetOnTimer([&](TComponent*) {
        ++ticks;
        throw std::bad_alloc();
    });
    ASSERT_TRUE(PumpUntil([&] { return ticks >= 4; }));
    timer.SetEnabled(false);
    ASSERT_EQ(rec.seen.size(), 2u);
    EXPECT_EQ(rec.seen[1].Text, "Out of memory");
    EXPECT_EQ(lines.size(), static_cast<std::size_t>(ticks));  // "meanwhile." and ticks 2 on
    EXPECT_EQ(lines.back(), "Out of memory");

    // With nowhere to write lines, a repeated failure still shows its box.
    Application->OnErrorLine = nullptr;
    Application->HandleException(std::make_exception_ptr(rtl::Exception("again")), true);
    ASSERT_EQ(rec.seen.size(), 3u);
    EXPECT_EQ(rec.seen[2].Text, "again.");
}

// With nowhere to write lines, an error raised while a box is open is not
// lost: it gets a box of its own once that one closes, each text once; and
// a box that cannot be shown at all leaves its text on standard error.
TEST(forms, without_an_error_line_an_error_raised_while_a_box_is_open_waits_for_a_box_of_its_own) {
    MessageRecorder rec;
    Application->OnErrorLine = nullptr;
    TForm form(Application);
    auto* button = new TButton(&form);
    button->OnClick = [](TComponent*) { throw rtl::Exception("click failed"); };
    Application->MessageHook = [&](const TMessageRequest& r) {
        rec.seen.push_back(r);
        if (rec.seen.size() == 1) {
            // The box's own loop runs on: clicks fail meanwhile, twice,
            // and the error on screen comes again.
            button->Click();
            button->Click();
            Application->HandleException(std::make_exception_ptr(rtl::Exception("first")));
        }
        return IDOK;
    };
    Application->HandleException(std::make_exception_ptr(rtl::Exception("first")));
    ASSERT_EQ(rec.seen.size(), 2u);
    EXPECT_EQ(rec.seen[0].Text, "first.");
    EXPECT_EQ(rec.seen[1].Text, "click failed.");
    EXPECT_EQ(rec.seen[1].Flags & 0xF0u, unsigned(MB_ICONERROR));
    button->Click();
    ASSERT_EQ(rec.seen.size(), 3u) << "no box is open any more: the next failure shows at once";

    Application->MessageHook = [](const TMessageRequest&) -> int { throw std::runtime_error("no screen"); };
    ::testing::internal::CaptureStderr();
    button->Click();
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("click failed."), std::string::npos) << err;
}

// Every entry from the loop goes through one guard, each with its own
// count of failures: a paint that fails every time shows one box and then
// lines, a click that fails each time the user clicks shows a box each time,
// and a panel's paint failing does not make another panel's a repeat.
TEST(forms, a_paint_failing_again_writes_a_line_while_each_failing_click_shows_its_box) {
    MessageRecorder rec;
    std::vector<std::string> lines;
    Application->OnErrorLine = [&](const std::string& text) { lines.push_back(text); };
    struct TLineHookReset {
        ~TLineHookReset() { Application->OnErrorLine = nullptr; }
    } reset;
    struct Panel : TCustomPanel {
        using TCustomPanel::TCustomPanel;
        int paints = 0;
        void Paint() override {
            ++paints;
            throw rtl::Exception("paint failed");
        }
    };
    TForm form(Application);
    auto* one = new Panel(&form);
    auto* two = new Panel(&form);
    one->SetBounds(0, 0, 20, 20);
    two->SetBounds(0, 0, 20, 20);
    for (int i = 0; i < 3; ++i) one->Widget()->grab();
    EXPECT_EQ(one->paints, 3);
    ASSERT_EQ(rec.seen.size(), 1u);
    EXPECT_EQ(rec.seen[0].Text, "paint failed.");
    EXPECT_EQ(lines, (std::vector<std::string>{"paint failed.", "paint failed."}));
    two->Widget()->grab();
    EXPECT_EQ(rec.seen.size(), 2u) << "another panel's first failure is a new one";

    auto* button = new TButton(&form);
    button->OnClick = [](TComponent*) { throw rtl::Exception("click failed"); };
    button->Click();
    button->Click();
    ASSERT_EQ(rec.seen.size(), 4u);
    EXPECT_EQ(rec.seen[3].Text, "click failed.");
    EXPECT_EQ(lines.size(), 2u);
}

TEST(forms, close_asks_close_query_then_raises_on_close_and_hides) {
    EnsureApplication();
    TForm form(Application);
    form.Show();
    bool allow = false;
    int queries = 0, closes = 0;
    form.OnCloseQuery = [&](TComponent*, bool& can) {
        ++queries;
        can = allow;
    };
    form.OnClose = [&](TComponent*, TCloseAction& a) {
        ++closes;
        EXPECT_EQ(a, TCloseAction::caHide);
    };
    form.Close();
    EXPECT_EQ(queries, 1);
    EXPECT_EQ(closes, 0);
    EXPECT_TRUE(form.Visible());
    allow = true;
    form.Close();
    EXPECT_EQ(closes, 1);
    EXPECT_FALSE(form.Visible());

    // The window system's close request takes the same road.
    form.Show();
    allow = false;
    form.Widget()->close();
    EXPECT_EQ(queries, 3);
    EXPECT_TRUE(form.Visible());
    allow = true;
    form.Widget()->close();
    EXPECT_FALSE(form.Visible());
}

// The main form closes from inside a modal box's loop while other windows
// stay shown (a form, two notices: windows that decide their own close).
// The application's loop and the box's end at once, and from then on no
// box, dialog or modal form opens: each answers as if cancelled. Run in a
// process of its own: the application cannot run again after it ended.
TEST(forms_death_test, closing_the_main_form_ends_every_loop_whatever_stays_shown) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            ::alarm(20);  // a loop that goes on kills the child instead of hanging
            TApplication* app = EnsureApplication();
            auto* main = new TForm(app);
            app->SetMainForm(main);
            (new TForm(app))->Show();
            ShowNotice("one", mtWarning);
            ShowNotice("two", mtWarning);
            std::vector<int> answers;
            auto* start = new TTimer(main);
            start->SetInterval(50);
            start->SetOnTimer([&](TComponent*) {
                start->SetEnabled(false);
                auto* close = new TTimer(main);
                close->SetInterval(50);
                close->SetOnTimer([close, main](TComponent*) {
                    close->SetEnabled(false);
                    main->Close();
                });
                close->SetEnabled(true);
                answers.push_back(app->MessageBox("waits for an answer", "t", MB_OK));
                answers.push_back(app->MessageBox("after the end", "t", MB_OK));
                answers.push_back((new TOpenDialog(main))->Execute() ? 1 : 0);
                answers.push_back((new TForm(app))->ShowModal());
            });
            start->SetEnabled(true);
            app->Run();
            std::_Exit(answers == std::vector<int>{IDCANCEL, IDCANCEL, 0, mrCancel} ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(forms, release_frees_the_form_after_the_current_event) {
    EnsureApplication();
    int before = Application->ComponentCount();
    auto* form = new TForm(Application);
    form->Release();
    EXPECT_EQ(Application->ComponentCount(), before + 1);
    EXPECT_TRUE(PumpUntil([&] { return Application->ComponentCount() == before; }));
}

TEST(forms, key_preview_sees_keys_of_child_controls_first_and_may_eat_them) {
    EnsureApplication();
    TForm form(Application);
    form.SetKeyPreview(true);
    auto* edit = new TEdit(&form);
    edit->SetParent(&form);
    std::vector<std::uint16_t> keys;
    form.OnKeyDown = [&](TComponent*, std::uint16_t& key, TShiftState shift) {
        keys.push_back(key);
        if (key == VK_F10) key = 0;
        EXPECT_EQ(shift, TShiftState(0));
    };
    QKeyEvent f10(QEvent::KeyPress, Qt::Key_F10, Qt::NoModifier);
    QApplication::sendEvent(edit->Widget(), &f10);
    QKeyEvent a(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, "a");
    QApplication::sendEvent(edit->Widget(), &a);
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[0], VK_F10);
    EXPECT_EQ(keys[1], 'A');
    // F10 was eaten; the letter reached the edit.
    EXPECT_EQ(edit->Text(), "a");
    // A key sent to the form itself is seen once.
    QKeyEvent f5(QEvent::KeyPress, Qt::Key_F5, Qt::NoModifier);
    QApplication::sendEvent(form.Widget(), &f5);
    ASSERT_EQ(keys.size(), 3u);
    EXPECT_EQ(keys[2], VK_F5);
    keys.pop_back();
    form.SetKeyPreview(false);
    QKeyEvent b(QEvent::KeyPress, Qt::Key_B, Qt::NoModifier, "b");
    QApplication::sendEvent(edit->Widget(), &b);
    EXPECT_EQ(keys.size(), 2u);
}

TEST(forms, application_events_reach_every_registered_component) {
    EnsureApplication();
    TForm form(Application);
    auto* ev1 = new TApplicationEvents(&form);
    auto* ev2 = new TApplicationEvents(&form);
    std::vector<std::string> log;
    ev1->OnActivate = [&](TComponent*) { log.push_back("a1"); };
    ev2->OnActivate = [&](TComponent*) { log.push_back("a2"); };
    ev1->OnDeactivate = [&](TComponent*) { log.push_back("d1"); };
    ev2->OnMinimize = [&](TComponent*) { log.push_back("m2"); };
    ev1->OnRestore = [&](TComponent*) { log.push_back("r1"); };
    Application->DoActivate(true);
    Application->DoActivate(false);
    Application->DoMinimize();
    Application->DoRestore();
    EXPECT_EQ(log, (std::vector<std::string>{"a1", "a2", "d1", "m2", "r1"}));
    TComponent::Free(ev2);
    log.clear();
    Application->DoActivate(true);
    EXPECT_EQ(log, std::vector<std::string>{"a1"});
}

TEST(forms, message_dialog_form_has_the_text_and_its_buttons) {
    EnsureApplication();
    TForm* dlg = CreateMessageDialog("First\rSecond", mtWarning, mbOK);
    auto* label = dynamic_cast<TLabel*>(dlg->FindComponent("Message"));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->Caption(), "First\rSecond");
    EXPECT_EQ(dlg->Caption(), "Warning");
    auto* ok = dynamic_cast<TButton*>(dlg->FindComponent("OK"));
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(dlg->FindComponent("Cancel"), nullptr);
    dlg->Show();
    ok->Click();
    EXPECT_FALSE(dlg->Visible());
    TComponent::Free(dlg);
}

TEST(forms, message_and_input_and_file_dialogs_answer_through_the_test_hooks) {
    MessageRecorder rec;
    Application->Title = "Vostrel";
    EXPECT_EQ(MessageDlg("Sure?", mtConfirmation, mbYes | mbNo | mbCancel), mrOk);
    ASSERT_EQ(rec.seen.size(), 1u);
    EXPECT_EQ(rec.seen[0].Flags, unsigned(MB_YESNOCANCEL | MB_ICONQUESTION));
    EXPECT_EQ(rec.seen[0].Caption, "Vostrel");

    Application->InputHook = [](const std::string& caption, const std::string& prompt,
                                std::string& value) {
        EXPECT_EQ(caption, "Speed value");
        EXPECT_EQ(prompt, "Enter number");
        value += "00";
        return true;
    };
    std::string v = "2";
    EXPECT_TRUE(InputQuery("Speed value", "Enter number", v));
    EXPECT_EQ(v, "200");
    Application->InputHook = nullptr;

    TForm owner(Application);
    TSaveDialog sd(&owner);
    sd.Filter = "Text File (*.txt)|*.txt|Binary File (*.bin)|*.bin";
    Application->DialogHook = [](TCommonDialog& d) {
        auto& s = dynamic_cast<TSaveDialog&>(d);
        s.FileName = "/tmp/out.bin";
        s.FilterIndex = 2;
        return true;
    };
    EXPECT_TRUE(sd.Execute());
    EXPECT_EQ(sd.FileName, "/tmp/out.bin");
    Application->DialogHook = [](TCommonDialog&) { return false; };
    EXPECT_FALSE(sd.Execute());
    Application->DialogHook = nullptr;
    EXPECT_EQ(FilterToQtText("All files|*|Logs|*.cp;*.txt"), "All files (*);;Logs (*.cp *.txt)");
    EXPECT_EQ(FilterToQtText(sd.Filter), "Text File (*.txt);;Binary File (*.bin)");
}

}  // namespace

namespace {

TEST(forms, a_form_shown_without_activation_leaves_the_active_window_active) {
    EnsureApplication();
    TForm main(Application);
    main.SetBounds(50, 50, 300, 200);
    main.Show();
    main.Activate();
    ASSERT_TRUE(PumpUntil([&] { return main.Active(); }));

    TForm tip(Application);
    tip.SetBorderStyle(TFormBorderStyle::bsNone);
    tip.SetFormStyle(TFormStyle::fsStayOnTop);
    int shows = 0;
    tip.OnShow = [&](TComponent*) { ++shows; };
    tip.SetBounds(60, 60, 80, 20);
    tip.ShowNoActivate();
    EXPECT_TRUE(tip.Visible());
    EXPECT_TRUE(tip.NoActivate());
    EXPECT_EQ(shows, 1);
    test_support::Pump(std::chrono::milliseconds(50));
    EXPECT_TRUE(main.Active());
    EXPECT_FALSE(tip.Active());
    EXPECT_EQ(tip.Left(), 60);
    EXPECT_EQ(tip.Width(), 80);

    // Hidden and shown again (the style applied anew), it stays out of the way.
    tip.Hide();
    tip.SetFormStyle(TFormStyle::fsStayOnTop);
    tip.ShowNoActivate();
    test_support::Pump(std::chrono::milliseconds(50));
    EXPECT_TRUE(tip.Visible());
    EXPECT_TRUE(main.Active());

    // A form shown the ordinary way takes activation (the check above can fail).
    TForm other(Application);
    other.Show();
    other.Activate();
    EXPECT_TRUE(PumpUntil([&] { return other.Active(); }));
    EXPECT_FALSE(main.Active());
}

TEST(forms, screen_rect_is_the_primary_screen) {
    EnsureApplication();
    const TRect r = ScreenRect();
    EXPECT_GT(r.Width(), 0);
    EXPECT_GT(r.Height(), 0);
    EXPECT_EQ(r.Left, 0);
    EXPECT_EQ(r.Top, 0);
}

TEST(forms, set_bounds_moves_and_resizes_a_shown_window_at_once) {
    EnsureApplication();
    TForm form(Application);
    form.SetBounds(10, 20, 300, 200);
    form.Show();
    PumpUntil([&] { return form.Widget()->isVisible(); });
    form.SetBounds(40, 50, 420, 310);
    EXPECT_EQ(form.Width(), 420);
    EXPECT_EQ(form.Height(), 310);
    PumpUntil([&] { return form.Widget()->width() == 420; });
    EXPECT_EQ(form.Widget()->size(), QSize(420, 310));
    EXPECT_EQ(form.Left(), 40);
    EXPECT_EQ(form.Width(), 420);
    // And once more, smaller.
    form.SetBounds(60, 70, 250, 180);
    PumpUntil([&] { return form.Widget()->width() == 250; });
    EXPECT_EQ(form.Widget()->size(), QSize(250, 180));
    EXPECT_EQ(form.Height(), 180);
}

}  // namespace
