// A plug-in event that computes long, waits or fails, through the window and
// a pseudo-terminal playing the device: nothing reaches the device past the
// send event that shapes it, the window stays in the user's hands, every
// event can be stopped from the plug-in button's menu, and one failing
// plug-in never buries the user in error boxes.
#include <gtest/gtest.h>
#include <functional>
#include <QTimer>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "e2e/plugin_window.h"
#include "platform/vcl/dialogs.h"
#include "platform/vcl/ini_files.h"
#include "support/dialog_answers.h"
#include "support/processor_share.h"

namespace {

using namespace std::chrono_literals;
using terminal::TMain;
using test_support::PluginWindow;
using test_support::WhileBusy;

const std::string kRunning = std::string(terminal::kPluginRunningText) + ".";

// The transmit box holds T in the ASCII format without a line ending.
void TypeT(TMain& m) {
    m.mStringModeClick(m.pmTRFormat->Items()->Items(terminal::trfAsc));
    m.SetLineBreak(true, 4);
    m.TrBCB->SetText("T");
    m.TrBCBChange(m.TrBCB);
}

// ... and the transmit timer is switched on with the interval typed in.
void RepeatT(TMain& m, const std::string& Seconds) {
    TypeT(m);
    m.TmrEd->SetText(Seconds);
    m.TmrEnCB->SetChecked(true);
}

// Whether Text is Unit over and over (at least once).
bool RepeatsOf(const std::string& Text, const std::string& Unit) {
    if (Text.empty() || Text.size() % Unit.size() != 0) return false;
    for (std::size_t at = 0; at < Text.size(); at += Unit.size())
        if (Text.compare(at, Unit.size(), Unit) != 0) return false;
    return true;
}

// Runs the loop for the span, and past it until the device has read at
// least Least bytes (for 20 s more at the most: a busy machine may have sent
// less within the span), collecting what the device reads.
std::string DeviceReads(PluginWindow& w, std::chrono::milliseconds Span, std::size_t Least = 0) {
    std::string got;
    const auto end = std::chrono::steady_clock::now() + Span;
    test_support::PumpUntil([&] {
        got += w.dev.Read(4096, 0ms);
        return got.size() >= Least && std::chrono::steady_clock::now() >= end;
    }, Span + 20s);
    return got + w.dev.Read(4096, 20ms);
}

TEST(plugin_busy, a_computing_send_event_is_never_bypassed_and_only_input_is_handled_meanwhile) {
    PluginWindow w(R"(
procedure OnSend;
var t: Cardinal;
begin
  t := GetTickCount;
  while GetTickCount - t < 300 do ;
  TD := '[' + TD + ']';
end;)");
    TMain* m = w.main;
    ASSERT_TRUE(m->cp1->Connected()) << ::testing::PrintToString(w.Messages);
    test_support::DialogAnswers dialogs;
    std::uint32_t counted_before = 0, counted_during = 0;
    std::uint32_t stamp_before = 0, stamp_during = 0;
    WhileBusy user(*m, [&] {
        // The device answers while the event computes; the user presses
        // Transmit and picks a file to send.
        counted_before = w.RxCount();
        stamp_before = m->AntiHangStamp;
        w.dev.Write("abc");
        test_support::ClickControl(*m->Transb);
        dialogs.Answer(w.plugin, 0);
        test_support::ClickMenu(m, "SendBINFile1");
        // Time passes within the event: ticks of the port's polling come due.
        test_support::Pump(150ms);
        counted_during = w.RxCount();
        stamp_during = m->AntiHangStamp;
    });
    RepeatT(*m, "0.1");
    // Two shaped ticks at the least, and the ticks that came due meanwhile.
    const std::string got = DeviceReads(w, 1500ms, 6);
    m->TmrEnCB->SetChecked(false);

    // Only what the send event made went out, one tick at a time.
    EXPECT_TRUE(RepeatsOf(got, "[T]")) << got;
    EXPECT_GE(got.size(), 6u) << got;
    // The user's transmissions were refused, not sent around the plug-in.
    ASSERT_TRUE(user.done);
    EXPECT_EQ(dialogs.Messages, (std::vector<std::string>{kRunning, kRunning}));
    EXPECT_EQ(dialogs.Dialogs, std::vector<std::string>{});
    // The polling waited for the event; the bytes were taken once it ended.
    EXPECT_EQ(counted_during, counted_before);
    EXPECT_EQ(stamp_during, stamp_before);
    EXPECT_TRUE(test_support::PumpUntil([&] { return w.RxCount() == counted_before + 3; }));
}

TEST(plugin_busy, without_a_send_event_the_users_transmission_goes_out_meanwhile) {
    PluginWindow w("procedure OnReceive; var t: Cardinal;\n"
                   "begin t := GetTickCount; while GetTickCount - t < 300 do ; end;");
    TMain* m = w.main;
    ASSERT_TRUE(m->cp1->Connected());
    TypeT(*m);
    WhileBusy click(*m, [&] { test_support::ClickControl(*m->Transb); });
    ASSERT_TRUE(w.Play("x", 1));
    EXPECT_TRUE(click.done);
    EXPECT_EQ(w.dev.Read(1, 500ms), "T");
    EXPECT_EQ(w.Messages, std::vector<std::string>{});
}

TEST(plugin_busy, a_waiting_send_event_skips_the_timer_and_unload_sends_nothing) {
    PluginWindow w("procedure OnSend; var got: string;\n"
                   "begin Recv(100, 5000, got); TD := '[' + TD + ']'; end;");
    TMain* m = w.main;
    ASSERT_TRUE(m->cp1->Connected());
    m->Profiles[1] = m->Profiles[11];
    m->Profiles[1].Name = "fast";
    m->Profiles[1].Speed = 115200;
    m->Profiles[1].PlugPath.clear();
    m->CBProfile->Items().Add("fast");
    std::string during;
    int profile_during = 0;
    WhileBusy user(*m, [&] {
        // The wait goes on for a while: the timer's ticks are skipped.
        test_support::Pump(500ms);
        during = w.dev.Read(4096, 0ms);
        // A profile chosen now is refused whole: the box shows what is in force.
        m->CBProfile->SelectByUser(0);
        profile_during = m->CBProfile->ItemIndex();
        // The user switches the timer off and unloads the plug-in.
        m->TmrEnCB->SetChecked(false);
        EXPECT_TRUE(test_support::ChoosePluginEntry(*m, m->mUnloadPlugin));
    });
    RepeatT(*m, "0.1");
    EXPECT_EQ(DeviceReads(w, 1500ms), "");
    ASSERT_TRUE(user.done);
    EXPECT_EQ(during, "");
    // The stopped event's transmission sent nothing: TD was never shaped.
    EXPECT_EQ(m->Script, nullptr);
    EXPECT_EQ(m->SentCount, 0u);
    EXPECT_EQ(w.Messages, std::vector<std::string>{kRunning});
    EXPECT_EQ(profile_during, -1);
    EXPECT_EQ(m->speedcb->Text(), "9600");
    bool can_close = false;
    m->FormCloseQuery(m, can_close);
    ASSERT_TRUE(can_close);
    vcl::TIniFile ini(w.ini);
    EXPECT_EQ(ini.ReadInteger("Main", "CurrentProfile", -1), 0);
}

// The receive event waits a moment, in which the user switches the transmit
// timer on (a tick every 1.5 s), then computes for 1.7 s while a tick comes
// due: what the device reads first and when, counted from before the timer
// started.
struct FirstTick {
    std::string got;
    std::chrono::milliseconds took;
    test_support::ProcessorShare share;  // from the timer's start on
};
FirstTick FirstTickAfterComputing(const std::string& SendEvent) {
    PluginWindow w("procedure OnReceive; var t: Cardinal;\n"
                   "begin NBSleep(300); t := GetTickCount; while GetTickCount - t < 1700 do ; end;\n" + SendEvent);
    TMain* m = w.main;
    EXPECT_TRUE(m->cp1->Connected());
    auto start = std::chrono::steady_clock::now();
    std::optional<test_support::ProcessorShare> share;
    WhileBusy user(*m, [&] {
        start = std::chrono::steady_clock::now();
        share.emplace();
        RepeatT(*m, "1.5");
    });
    w.dev.Write("x");
    std::string got;
    test_support::PumpUntil([&] {
        got += w.dev.Read(16, 0ms);
        return !got.empty();
    }, 20s);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    got += w.dev.Read(16, 100ms);
    m->TmrEnCB->SetChecked(false);
    EXPECT_TRUE(user.done);
    EXPECT_EQ(w.Messages, std::vector<std::string>{});
    return {got, took, share.value_or(test_support::ProcessorShare())};
}

TEST(plugin_busy, only_a_plugin_with_a_send_event_holds_the_transmit_timer_back) {
    test_support::TimeBounds bounds;
    {
        // A poller without a send event, loaded while the user's timer
        // runs, waits in Recv in its ONLOAD (or in NBSleep in its receive
        // event): the timer goes on sending meanwhile.
        PluginWindow w("procedure OnLoad; begin end;");
        TMain* m = w.main;
        ASSERT_TRUE(m->cp1->Connected());
        RepeatT(*m, "0.1");
        const std::string poller = w.dir.File("poller.pas");
        vcl::SaveStrToFile("procedure OnLoad; var got: string; begin Recv(100, 1000, got); end;\n"
                           "procedure OnReceive; begin NBSleep(1000); end;",
                           poller);
        for (bool on_load : {true, false}) {
            std::string during;
            // Two ticks at the least in 600 ms, judged by the time the
            // window gave: a busy machine may have turned the loop too
            // seldom.
            std::optional<::testing::AssertionResult> ticked;
            WhileBusy probe(*m, [&] {
                w.dev.Read(4096, 0ms);
                const test_support::ProcessorShare window;
                test_support::Pump(600ms);
                during = w.dev.Read(4096, 0ms);
                ticked = bounds.Came(window, during.size() >= 2, 400ms, "a second tick while the poller waited");
            });
            if (on_load) {
                m->LoadPlugin(poller);
                ASSERT_NE(m->Script, nullptr);
            } else {
                w.dev.Write("x");
            }
            ASSERT_TRUE(test_support::PumpUntil([&] { return probe.done && !m->PluginBusy; }));
            EXPECT_EQ(during, std::string(during.size(), 'T')) << on_load;
            ASSERT_TRUE(ticked.has_value());
            EXPECT_TRUE(*ticked) << on_load << " " << during;
        }
        m->TmrEnCB->SetChecked(false);
        EXPECT_EQ(w.Messages, std::vector<std::string>{});
    }
    // A tick that came due while the event computed goes out as soon as
    // the event is over, before the next tick is due at 3 s...
    const FirstTick plain = FirstTickAfterComputing("");
    EXPECT_EQ(plain.got, "T");
    EXPECT_TRUE(bounds.Within(plain.share, plain.took, 3000ms, "the tick that came due while the event computed"));
    EXPECT_GE(plain.took, 1500ms);
    // ... but a plug-in with a send event drops it: the next tick is the
    // first to go out, shaped by the send event.
    const FirstTick shaped = FirstTickAfterComputing("procedure OnSend; begin TD := '[' + TD + ']'; end;");
    EXPECT_EQ(shaped.got, "[T]");
    EXPECT_GE(shaped.took, 2700ms);
    if (bounds.Void()) GTEST_SKIP() << bounds.Text();
}

// Runs Action once from a timer of the toolkit, the first time the main
// window's load event is running (it said so with its first message).
struct WhileLoading {
    QTimer timer;
    bool done = false;
    bool loading = false;  // the load event ran when Action ran
    explicit WhileLoading(std::function<void(TMain&)> Action) {
        timer.setInterval(20);
        QObject::connect(&timer, &QTimer::timeout, [this, Action] {
            auto* m = dynamic_cast<TMain*>(vcl::Application->FindComponent("Main"));
            if (done || !m || !m->PluginBusy || !m->Script || m->RxPanel->Lines().LineCount() < 2) return;
            done = true;
            timer.stop();
            loading = m->PluginBusy && m->PluginPath.empty();
            Action(*m);
        });
        timer.start();
    }
};

TEST(plugin_busy, an_onload_that_never_returns_is_stopped_from_the_menu) {
    test_support::EnsureQtApplication();
    // Named in the settings, it runs at start; the user opens the menu
    // while it runs.
    bool chosen = false;
    WhileLoading user_unloads([&](TMain& m) { chosen = test_support::ChoosePluginEntry(m, m.mUnloadPlugin); });
    test_support::TimeBounds bounds;
    const test_support::ProcessorShare start;
    PluginWindow w("procedure OnLoad; begin AddMsg('looping'); while True do NBSleep(50); end;");
    TMain* m = w.main;
    EXPECT_TRUE(bounds.Within(start, 5s, "the start with the load event stopped from the menu"));
    EXPECT_TRUE(user_unloads.loading);
    EXPECT_TRUE(chosen);
    EXPECT_EQ(w.LastMsg(), "looping");
    EXPECT_EQ(m->Script, nullptr);
    EXPECT_EQ(m->PluginPath, "");
    EXPECT_FALSE(m->PluginBusy);
    EXPECT_EQ(w.Messages, std::vector<std::string>{});
    m->pmPluginPopup(nullptr);
    EXPECT_FALSE(m->mUnloadPlugin->Enabled());
    EXPECT_TRUE(m->mReloadPlugin->Enabled());

    // One that only computes, loaded from the menu, stops the same way.
    const std::string busy = w.dir.File("busy.pas");
    vcl::SaveStrToFile("procedure OnLoad; var i: Integer; begin while True do i := i + 1; end;", busy);
    test_support::DialogAnswers dialogs;
    dialogs.Answer(busy, 0);
    bool busy_when_chosen = false;
    WhileBusy user(*m, [&] {
        busy_when_chosen = m->PluginBusy && m->Script && m->PluginPath.empty();
        chosen = test_support::ChoosePluginEntry(*m, m->mUnloadPlugin);
    });
    chosen = false;
    test_support::ClickMenu(m, "mLoadPlugin");
    EXPECT_TRUE(busy_when_chosen);
    EXPECT_TRUE(chosen);
    EXPECT_EQ(m->Script, nullptr);
    EXPECT_EQ(m->LastPluginPath, busy);
    EXPECT_EQ(dialogs.Messages, std::vector<std::string>{});
    if (bounds.Void()) GTEST_SKIP() << bounds.Text();
}

// The user closes the window while the plug-in named in the settings is
// still in its load event: the window closes at once, and the settings keep
// naming the plug-in, so the next start loads it again.
TEST(plugin_busy, closing_during_the_load_event_keeps_the_plugin_in_the_settings) {
    test_support::EnsureQtApplication();
    test_support::TimeBounds bounds;
    bool closed = false;
    WhileLoading user_closes([&](TMain& m) {
        const test_support::ProcessorShare at;
        m.Close();
        EXPECT_TRUE(bounds.Within(at, 1s, "the close"));
        closed = m.RxRouter.Closing() && !m.cp1->Connected();
    });
    PluginWindow w("procedure OnLoad; begin AddMsg('waiting'); NBSleep(8000); end;");
    TMain* m = w.main;
    EXPECT_TRUE(user_closes.loading);
    EXPECT_TRUE(closed);
    EXPECT_FALSE(m->PluginBusy);
    EXPECT_EQ(vcl::TIniFile(w.ini).ReadString("Config11", "PlugPath", ""), w.plugin);
    EXPECT_EQ(w.Messages, std::vector<std::string>{});
    if (bounds.Void()) GTEST_SKIP() << bounds.Text();
}

TEST(plugin_busy, a_failing_plugin_shows_one_box_and_its_menu_stays_in_reach) {
    PluginWindow w(R"(
procedure OnReceive;
begin
  Send('c');
  if RD <> 'ok' then RD := IntToStr(1 div (Length(RD) - Length(RD)));
end;

procedure OnSend;
begin
  if TD = 'bad' then TD := IntToStr(1 div (Length(TD) - 3));
end;)");
    TMain* m = w.main;
    ASSERT_TRUE(m->cp1->Connected());
    // The plug-in answers every chunk it is given with one "c", then fails.
    // The device sends thirty bytes, each once the one before has been
    // taken in, so that each is a chunk of its own; one of them while the
    // user still reads the box (it is taken in once the box is closed).
    w.main->RVPnlTime = 0;
    std::size_t written = 0;
    const auto send = [&] {
        ASSERT_EQ(w.dev.Write("x"), 1u);
        ++written;
    };
    vcl::Application->MessageHook = [&](const vcl::TMessageRequest& r) {
        w.Messages.push_back(r.Text);
        send();
        return vcl::IDOK;
    };
    while (written < 30) {
        send();
        ASSERT_TRUE(test_support::PumpUntil([&] { return w.RxCount() == written; })) << written;
    }
    ASSERT_EQ(w.RxCount(), 30u);
    const std::size_t chunks = w.dev.Read(30, 5s).size();
    ASSERT_EQ(chunks, 30u);
    // One box; the errors after it are error lines of the same text.
    ASSERT_EQ(w.Messages.size(), 1u) << ::testing::PrintToString(w.Messages);
    std::string shown = w.Messages[0];
    ASSERT_EQ(shown.back(), '.');
    shown.pop_back();
    for (char& c : shown)
        if (c == '\r') c = ' ';
    const std::vector<std::string> errors = w.LinesOf(terminal::dfERR);
    EXPECT_EQ(errors.size(), chunks - 1) << "one error for every chunk after the first";
    for (const std::string& e : errors) EXPECT_EQ(e, shown);
    // Every chunk was shown as it came, on a line of its own between the
    // error lines.
    std::size_t shown_chunks = 0;
    for (int i = 0; i < w.Lines().LineCount(); ++i)
        if (w.Lines().LineData(i) == "x") ++shown_chunks;
    EXPECT_EQ(shown_chunks, chunks) << w.AllLines();

    // The send event's errors: a box, then a line, a box again once it has
    // run without an error, and after the plug-in is loaded again.
    w.Messages.clear();
    const auto boxes_after = [&](const std::string& text) {
        w.Transmit(text);
        return w.Messages.size();
    };
    EXPECT_EQ(boxes_after("bad"), 1u);
    EXPECT_EQ(boxes_after("bad"), 1u);
    EXPECT_EQ(boxes_after("good"), 1u);
    EXPECT_EQ(boxes_after("bad"), 2u);
    EXPECT_EQ(w.dev.Read(10, 300ms), "good");
    m->mReloadPluginClick(nullptr);
    EXPECT_EQ(boxes_after("bad"), 3u);
    EXPECT_EQ(boxes_after("bad"), 3u);

    // The user reaches Unload.
    EXPECT_TRUE(test_support::ChoosePluginEntry(*m, m->mUnloadPlugin));
    EXPECT_EQ(m->Script, nullptr);
}

TEST(plugin_busy, errors_while_a_plugin_box_is_open_become_lines) {
    // The load fails; while its box is open the device sends, and the
    // receive event of the plug-in being loaded fails too.
    PluginWindow w("procedure OnLoad; begin RD := IntToStr(1 div (Length(TD) - Length(TD))); end;\n"
                   "procedure OnReceive; begin RD := IntToStr(1 div (Length(RD) - Length(RD))); end;");
    TMain* m = w.main;
    ASSERT_EQ(w.Messages.size(), 1u);
    // The first box waits for the error line, or for a second box, however
    // long a busy machine takes to read the byte (giving up after 20 s); a
    // second box is only counted.
    bool open = false;
    vcl::Application->MessageHook = [&](const vcl::TMessageRequest& r) {
        w.Messages.push_back(r.Text);
        if (open) return vcl::IDOK;
        open = true;
        w.dev.Write("y");
        test_support::PumpUntil([&] { return !w.LinesOf(terminal::dfERR).empty() || w.Messages.size() > 2; }, 20s);
        open = false;
        return vcl::IDOK;
    };
    m->mReloadPluginClick(nullptr);
    EXPECT_EQ(w.Messages.size(), 2u);
    EXPECT_EQ(w.LinesOf(terminal::dfERR).size(), 1u);
    EXPECT_EQ(m->Script, nullptr);
}

}  // namespace
