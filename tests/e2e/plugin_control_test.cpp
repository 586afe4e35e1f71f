// Plug-ins through the main window: a plug-in named in the settings file
// or loaded from the plug-in button's menu is compiled and run, and its
// events hook what a pseudo-terminal (playing the device behind COM5)
// sends and receives.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <optional>
#include <thread>

#include "graph/graph_form.h"
#include "platform/rtl/cp1251.h"
#include "platform/rtl/files.h"
#include "platform/rtl/name_escapes.h"
#include "platform/vcl/dialogs.h"
#include "platform/vcl/file_text.h"
#include "platform/vcl/forms.h"
#include "platform/vcl/timer.h"
#include "platform/win/timers.h"
#include "ports/ethernet_port.h"
#include "script/runtime/my_script.h"
#include "e2e/plugin_window.h"
#include "support/main_window.h"
#include "support/pty.h"
#include "support/qt_app.h"
#include "support/processor_share.h"
#include "terminal/main_form.h"

namespace {

using namespace std::chrono_literals;
using terminal::TMain;
using test_support::PluginWindow;

// The plug-in most scenarios use: it greets the device when loaded, shows
// received text in upper case (dropping "drop", failing on "bad"),
// reverses what is sent, and answers a few commands typed as transmissions.
constexpr const char* kPlugin = R"(
function Flag(x: Boolean): string;
begin
  if x then Result := 'True' else Result := 'False';
end;

procedure OnLoad;
begin
  AddMsg('loaded');
  Send('hi');
end;

procedure OnReceive;
begin
  if RD = 'drop' then RD := ''
  else if RD = 'bad' then RD := IntToStr(1 div (Length(RD) - 3))
  else RD := UpperCase(RD);
end;

procedure OnSend;
var got: string; ok: Boolean; t: Cardinal;
begin
  if Copy(TD, 1, 4) = 'recv' then
  begin
    t := GetTickCount;
    ok := Recv(StrToInt(Copy(TD, 5, 2)), StrToInt(Copy(TD, 7, 4)), got);
    AddMsg(IntToStr(Length(got)) + Flag(ok) + ' ' + IntToStr(GetTickCount - t));
    TD := '';
  end
  else if TD = 'wait' then
  begin
    NBSleep(100000);
    TD := '';
  end
  else if TD = 'vars' then
  begin
    SetV('x', '1');
    SetV('apgd', '0');
    AddMsg(GetV('X') + GetV('APGD') + GetV('APRD') + '[' + GetV('never') + ']');
    GraphAdd(2.5);
    AddMsg(IntToStr(Send('count')));
    SetV('aprd', '2');
  end
  else
    TD := Reverse(TD);
end;
)";

TEST(plugin_control, a_plugin_from_the_settings_runs_its_events_on_the_device_road) {
    PluginWindow w(kPlugin);
    TMain* m = w.main;
    ASSERT_TRUE(m->cp1->Connected()) << ::testing::PrintToString(w.Messages);
    // ONLOAD ran after the port was opened: its line shows, its bytes went out.
    EXPECT_EQ(w.Messages, std::vector<std::string>{});
    EXPECT_EQ(m->PluginPath, w.plugin);
    EXPECT_EQ(m->sbPlugin->Caption(), "Greeter");
    EXPECT_EQ(m->sbPlugin->Hint(), "Plugin: active");
    EXPECT_EQ(m->sbPlugin->Left() + m->sbPlugin->Width() + 5, m->sbTRFormat->Left());
    EXPECT_NE(w.AllLines().find("loaded"), std::string::npos) << w.AllLines();
    EXPECT_EQ(w.dev.Read(2, 2s), "hi");

    // ONRECEIVE changes the bytes before they are counted and shown.
    ASSERT_TRUE(w.Play("abc", 3));
    EXPECT_EQ(m->RxPanel->CurLine().substr(m->RxPanel->CurLine().size() - 3), "ABC") << w.AllLines();
    // Emptied: neither counted nor shown.
    m->StartNewLine(true);
    const std::uint64_t before = w.RxCount();
    ASSERT_EQ(w.dev.Write("drop"), 4u);
    test_support::Pump(300ms);
    EXPECT_EQ(w.RxCount(), before);
    ASSERT_TRUE(w.Play("z", 1));
    EXPECT_EQ(w.AllLines().find("drop"), std::string::npos);
    EXPECT_NE(w.AllLines().find("Z"), std::string::npos);
    // A script error shows the plug-in's error, and the chunk goes on as it came.
    m->StartNewLine(true);
    ASSERT_TRUE(w.Play("bad", 3));
    ASSERT_EQ(w.Messages.size(), 1u);
    EXPECT_EQ(w.Messages[0].rfind("An exception occurred during script execution (proc=", 0), 0u) << w.Messages[0];
    EXPECT_NE(w.AllLines().find("bad"), std::string::npos) << w.AllLines();
    EXPECT_TRUE(m->Script != nullptr);

    // ONSEND: the device gets the bytes reversed.
    EXPECT_EQ(w.Transmit("\x01\x02\x03"), 3u);
    EXPECT_EQ(w.dev.Read(3, 2s), "\x03\x02\x01");

    // Variables, the display flags, the graph and Send's count.
    w.Messages.clear();
    const int points = w.graph->PointCount() + w.graph->PendingCount();
    // The event ends in the error of its last SetV, so "vars" itself is
    // not sent; the plug-in's own Send went out.
    EXPECT_EQ(w.Transmit("vars"), 0u);
    EXPECT_EQ(w.dev.Read(9, 500ms), "count");
    EXPECT_NE(w.AllLines().find("101[]"), std::string::npos) << w.AllLines();
    EXPECT_NE(w.AllLines().find("|5"), std::string::npos) << w.AllLines();
    EXPECT_EQ(m->GetPluginVar("X"), "1");
    EXPECT_EQ(m->PluginFlags & terminal::APGD, 0);
    EXPECT_EQ(w.graph->PointCount() + w.graph->PendingCount(), points + 1);
    ASSERT_EQ(w.Messages.size(), 1u);
    EXPECT_NE(w.Messages[0].find("\r\rBad Value \"2\""), std::string::npos) << w.Messages[0];
}

TEST(plugin_control, recv_waits_for_its_bytes_and_for_its_time) {
    PluginWindow w(kPlugin);
    TMain* m = w.main;
    ASSERT_TRUE(m->cp1->Connected());
    ASSERT_EQ(w.dev.Read(2, 2s), "hi");
    auto play_later = [&](std::string first, std::string second) {
        return std::thread([&w, first, second] {
            w.dev.Write(first);
            std::this_thread::sleep_for(200ms);
            if (!second.empty()) w.dev.Write(second);
        });
    };
    auto elapsed = [](const std::string& msg) { return std::stoi(msg.substr(msg.find(' ') + 1)); };

    // The windows are wide, so a loaded machine that runs the device late
    // still meets them; each wait ends when its bytes are in, long before.
    // (A window that a busy machine held back from its Recv until both
    // halves were in sees a short wait: void.)
    test_support::TimeBounds bounds;
    const test_support::ProcessorShare share;
    std::thread device = play_later("12345", "67890");
    EXPECT_EQ(w.Transmit("recv109000"), 0u);
    device.join();
    EXPECT_EQ(w.LastMsg().substr(0, 7), "10True ") << w.LastMsg();
    const std::chrono::milliseconds waited(elapsed(w.LastMsg()));
    EXPECT_TRUE(bounds.AtLeast(share, waited, 150ms, "the Recv's wait for the second half"));
    EXPECT_TRUE(bounds.Within(share, waited, 8000ms, "the Recv's wait for the second half"));
    // What the plug-in read is counted and shown as received data.
    ASSERT_TRUE(w.ShowReceived());
    EXPECT_NE(w.AllLines().find("1234567890"), std::string::npos) << w.AllLines();

    // The windows below are fixed: what a Recv got in its time is judged by
    // the time the window gave. On a busy machine the device's bytes (or the
    // port's reading of them) may come after the window, and the Recv gets
    // fewer; anything else is wrong whatever the machine did.
    const auto got_in_time = [&](const test_support::ProcessorShare& Window, const std::string& Want,
                                 std::chrono::milliseconds Bound, const std::string& What) {
        const std::string msg = w.LastMsg();
        const bool came = msg.substr(0, Want.size()) == Want;
        if (!came) {
            ASSERT_TRUE(!msg.empty() && std::isdigit(static_cast<unsigned char>(msg[0]))) << msg;
            EXPECT_LT(std::stoi(msg), std::stoi(Want)) << msg;
        }
        EXPECT_TRUE(bounds.Came(Window, came, Bound, What)) << msg;
    };
    const test_support::ProcessorShare part;
    device = play_later("abcde", "");
    EXPECT_EQ(w.Transmit("recv101000"), 0u);
    device.join();
    got_in_time(part, "5False ", 500ms, "the five bytes in a Recv of 1000 ms");
    EXPECT_GE(elapsed(w.LastMsg()), 990);

    const test_support::ProcessorShare rest;
    device = play_later("xy", "z");
    EXPECT_EQ(w.Transmit("recv002000"), 0u);
    device.join();
    got_in_time(rest, "3True ", 1000ms, "the byte sent 200 ms late in a Recv of 2000 ms");
    EXPECT_GE(elapsed(w.LastMsg()), 1990);
    if (bounds.Void()) GTEST_SKIP() << bounds.Text();
}

TEST(plugin_control, unload_stops_a_waiting_event_while_the_window_goes_on) {
    PluginWindow w(kPlugin);
    TMain* m = w.main;
    ASSERT_TRUE(m->cp1->Connected());
    ASSERT_EQ(w.dev.Read(2, 2s), "hi");
    m->Profiles[1] = m->Profiles[11];
    m->Profiles[1].Name = "other";
    m->Profiles[1].Speed = 19200;
    m->Profiles[1].PlugPath = w.plugin;

    std::uint32_t seen_during_wait = 0;
    bool waiting_at_unload = false;
    std::string load_error;
    std::optional<test_support::ProcessorShare> unloaded_at;
    vcl::TTimer during(nullptr);
    during.SetInterval(150);
    during.SetOnTimer([&](vcl::TComponent*) {
        during.SetEnabled(false);
        // Received data waits for the plug-in's receive event, and commands
        // that would free the running script are refused; a profile's other
        // settings still apply.
        w.dev.Write("live");
        test_support::PumpUntil([&] { return w.RxCount() >= 4; }, 500ms);
        seen_during_wait = w.RxCount();
        try {
            m->mReloadPluginClick(nullptr);
        } catch (const std::exception& e) {
            load_error = e.what();
        }
        m->ApplyConf(1);
        // Nothing of that ended the wait: Unload does.
        waiting_at_unload = m->PluginBusy && m->Script && !m->Script->Stopped();
        unloaded_at.emplace();
        m->mUnloadPluginClick(nullptr);
    });
    during.SetEnabled(true);
    // The event stopped inside its wait had no say in TD: nothing is sent.
    EXPECT_EQ(w.Transmit("wait"), 0u);
    test_support::TimeBounds bounds;
    ASSERT_TRUE(unloaded_at.has_value());
    EXPECT_TRUE(bounds.Within(*unloaded_at, 5s, "the end of the event after the unload"))
        << "the wait of 100 s was not stopped";
    EXPECT_TRUE(waiting_at_unload);
    EXPECT_EQ(w.dev.Read(10, 500ms), "");
    EXPECT_EQ(seen_during_wait, 0u);
    // With the plug-in gone, what waited for its event goes on as it came.
    EXPECT_TRUE(test_support::PumpUntil([&] { return w.RxCount() == 4; }));
    EXPECT_EQ(w.AllLines().find("LIVE"), std::string::npos) << w.AllLines();
    EXPECT_EQ(load_error, terminal::kPluginRunningText);
    ASSERT_EQ(w.Messages.size(), 1u);
    EXPECT_EQ(w.Messages[0], std::string(terminal::kPluginRunningText) + ".");
    EXPECT_EQ(m->speedcb->Text(), "19200");
    // The event returned and the plug-in went with it.
    EXPECT_EQ(m->Script, nullptr);
    EXPECT_EQ(m->PluginPath, "");
    EXPECT_EQ(m->sbPlugin->Hint(), "Plugin: inactive");
    EXPECT_FALSE(m->PluginBusy);
    bool can_close = false;
    m->FormCloseQuery(m, can_close);
    EXPECT_TRUE(can_close);
    if (bounds.Void()) GTEST_SKIP() << bounds.Text();
}

// The button shows a plug-in's name by its letters, also those the code
// page lacks: measured on them, it stays whole where it fits, and one too
// long is shortened by whole letters.
TEST(plugin_control, a_plugins_name_shows_its_letters_and_what_it_shows_its_bytes) {
    PluginWindow w("procedure OnLoad; begin end;");
    TMain* m = w.main;
    const int countRight = m->TRLabel->Left() + m->TRLabel->Width();
    auto load = [&](const std::string& name) {
        const std::string file = rtl::FromSysPath(w.dir.File(name + ".pas"));
        vcl::SaveStrToFile("procedure OnLoad; begin end;", file);
        m->LoadPlugin(file);
        EXPECT_GT(m->sbPlugin->Left(), countRight) << name;
        EXPECT_EQ(m->sbPlugin->Left() + m->sbPlugin->Width() + 5, m->sbTRFormat->Left()) << name;
        return m->sbPlugin->Caption();
    };
    EXPECT_EQ(load("日本"), rtl::FromSysPath("日本"));
    EXPECT_EQ(m->sbPlugin->Hint(), "Plugin: active");
    for (const std::string name : {"température", "éèêëēĕėęěéèêëēĕėęěéèêëēĕėęěéèêëēĕėęě"}) {
        const std::string caption = load(name);
        if (caption == rtl::FromSysPath(name)) continue;
        ASSERT_TRUE(caption.ends_with("...")) << caption;
        const std::string kept = caption.substr(0, caption.size() - 3);
        EXPECT_GE(kept.size(), 4u) << name;
        EXPECT_TRUE(rtl::FromSysPath(name).starts_with(kept)) << name;
        // Whole letters only: no escape is cut.
        EXPECT_EQ(rtl::FromSysPath(rtl::SysPath(kept)), kept) << name;
        EXPECT_EQ(m->sbPlugin->Hint(), "Plugin: active\r" + rtl::FromSysPath(name + ".pas"));
    }
    EXPECT_TRUE(m->sbPlugin->Caption().ends_with("...")) << "the long name is shortened";

    // A profile's name is plain text: the plug-in's name goes into the one
    // offered as the code page spells it.
    load("température");
    std::string offered;
    vcl::Application->InputHook = [&](const std::string&, const std::string&, std::string& value) {
        offered = value;
        return false;
    };
    m->SavecfgbClick(nullptr);
    EXPECT_TRUE(offered.ends_with(",temp?rature]")) << offered;

    // What a plug-in shows is plain text: its bytes, never a name's letters.
    const std::string text = "\x98" "0000E9 \x98" "000000";
    vcl::SaveStrToFile("procedure OnLoad; var t: string; begin t := Chr($98) + '0000E9 ' + Chr($98) + '000000';"
                       " ShowMessage(t); AddErr(t); SetV('apgd', t); end;",
                       w.dir.File("show.pas"));
    w.Messages.clear();
    m->LoadPlugin(w.dir.File("show.pas"));
    ASSERT_EQ(w.Messages.size(), 2u);
    EXPECT_EQ(rtl::MessageToUtf8(w.Messages[0]), rtl::AnsiToUtf8(text));
    EXPECT_NE(rtl::MessageToUtf8(w.Messages[1]).find("Bad Value \"" + rtl::AnsiToUtf8(text) + "\""),
              std::string::npos);
    EXPECT_EQ(rtl::MessageToUtf8(w.LinesOf(terminal::dfERR).back()), rtl::AnsiToUtf8(text));
}

TEST(plugin_control, the_menu_loads_reloads_edits_and_unloads) {
    PluginWindow w("procedure OnLoad; begin AddMsg('first'); end;");
    TMain* m = w.main;
    ASSERT_EQ(m->PluginPath, w.plugin);
    m->pmPluginPopup(nullptr);
    EXPECT_TRUE(m->mUnloadPlugin->Enabled());
    m->mUnloadPluginClick(nullptr);
    EXPECT_EQ(m->Script, nullptr);
    EXPECT_EQ(m->sbPlugin->Caption(), "");
    m->pmPluginPopup(nullptr);
    EXPECT_FALSE(m->mUnloadPlugin->Enabled());
    EXPECT_TRUE(m->mReloadPlugin->Enabled());

    // Reload takes the file as it is now.
    vcl::SaveStrToFile("procedure OnLoad; begin AddMsg('second'); end;", w.plugin);
    m->mReloadPluginClick(nullptr);
    EXPECT_EQ(w.LastMsg(), "second");
    EXPECT_EQ(m->PluginPath, w.plugin);

    // A long name never runs over the sent count: the "Input:" label gives
    // way first, then the name is shortened.
    const std::string longName = w.dir.File("a_plugin_with_a_very_long_descriptive_name.pas");
    vcl::SaveStrToFile("procedure OnLoad; begin end;", longName);
    m->LoadPlugin(longName);
    const int countRight = m->TRLabel->Left() + m->TRLabel->Width();
    EXPECT_GT(m->sbPlugin->Left(), countRight);
    EXPECT_EQ(m->sbPlugin->Left() + m->sbPlugin->Width() + 5, m->sbTRFormat->Left());
    EXPECT_TRUE(m->sbPlugin->Caption().ends_with("...")) << m->sbPlugin->Caption();
    EXPECT_TRUE(std::string("a_plugin_with_a_very_long_descriptive_name").starts_with(
        m->sbPlugin->Caption().substr(0, m->sbPlugin->Caption().size() - 3)));
    EXPECT_FALSE(m->LTRFormat->Visible());
    // The whole name stays in the hint.
    EXPECT_EQ(m->sbPlugin->Hint(), "Plugin: active\ra_plugin_with_a_very_long_descriptive_name.pas");
    m->LoadPlugin(w.plugin);
    EXPECT_EQ(m->sbPlugin->Caption(), "Greeter");
    EXPECT_EQ(m->sbPlugin->Hint(), "Plugin: active");
    EXPECT_GT(m->sbPlugin->Left(), countRight);
    if (m->LTRFormat->Visible()) {
        EXPECT_GT(m->LTRFormat->Left(), countRight);
    }
    m->UnloadPlugin();
    EXPECT_TRUE(m->LTRFormat->Visible());
    EXPECT_GT(m->LTRFormat->Left(), countRight);

    // Load from the dialog; a compile error names the file, row and column.
    const std::string broken = w.dir.File("broken.pas");
    vcl::SaveStrToFile("procedure OnLoad;\nbegin\n  Nothing;\nend;\n", broken);
    std::string filter;
    vcl::Application->DialogHook = [&](vcl::TCommonDialog& d) {
        filter = static_cast<vcl::TOpenDialog&>(d).Filter;
        static_cast<vcl::TOpenDialog&>(d).FileName = broken;
        return true;
    };
    try {
        m->mLoadPluginClick(nullptr);
        ADD_FAILURE() << "loaded";
    } catch (const std::exception& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Error loading plugin\r" + broken + "\r\r[Error] " + broken + "(3:3): Unknown identifier 'Nothing'\r");
    }
    EXPECT_EQ(filter, "Pascal Files (*.pas)|*.pas");
    EXPECT_EQ(m->Script, nullptr);
    EXPECT_EQ(m->LastPluginPath, broken);
    // A plug-in that the loader refuses, or a missing file, is no plug-in either.
    try {
        m->LoadPlugin(w.dir.File("none.pas"));
        ADD_FAILURE() << "loaded";
    } catch (const std::exception& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Error loading plugin\r" + w.dir.File("none.pas") + "\r\rCannot open file", 0),
                  0u)
            << e.what();
    }

    // Edit opens the file; a failed opener says so.
    std::string opened;
    m->ShellOpen = [&](const std::string& f) {
        opened = f;
        return 2;
    };
    try {
        m->mEditPluginClick(nullptr);
        ADD_FAILURE() << "no error";
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "Can't open editor");
    }
    EXPECT_EQ(opened, w.dir.File("none.pas"));

    // The profile's plug-in is stored with it.
    m->LoadPlugin(w.plugin);
    m->StoreProfile(11, "");
    EXPECT_EQ(m->Profiles[11].PlugPath, w.plugin);
}

TEST(plugin_control, a_wait_whose_port_goes_away_ends_and_touches_it_no_more) {
    PluginWindow w("procedure OnSend; var got: string; ok: Boolean;\n"
                   "begin ok := Recv(10, 60000, got); AddMsg('[' + got + ']'); TD := ''; end;");
    TMain* m = w.main;
    ASSERT_NE(m->Script, nullptr);
    // The main port becomes the Ethernet port, opened on a local port.
    const int ethernet = m->ComNcb->Items().IndexOfObject(257);
    ASSERT_GT(ethernet, 0);
    m->ComNcb->SelectByUser(ethernet);
    ASSERT_TRUE(m->ForeignPort);
    auto* frame = static_cast<ports::TfrmForPEth*>(m->ForeignPort->Frame());
    frame->edLocalPort->SetText("0");  // any free one
    frame->edDstIp->SetText("0.0.0.0");
    m->sbPort->Click();
    ASSERT_TRUE(m->ForeignPort->Active()) << ::testing::PrintToString(w.Messages);

    // While the plug-in waits, the user picks a serial port again: the
    // Ethernet port is freed, and the wait ends at once without it.
    vcl::TTimer during(nullptr);
    during.SetInterval(100);
    during.SetOnTimer([&](vcl::TComponent*) {
        during.SetEnabled(false);
        m->ComNcb->SelectByUser(m->ComNcb->Items().IndexOfObject(5));
    });
    during.SetEnabled(true);
    const auto start = std::chrono::steady_clock::now();
    try {
        w.Transmit("x");
    } catch (const std::exception&) {
        // The new port may not be open yet: sending says so.
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s) << "the wait ran out its time";
    EXPECT_EQ(m->ForeignPort, nullptr);
    EXPECT_EQ(w.LastMsg(), "[]");
    EXPECT_NE(m->Script, nullptr);
    EXPECT_FALSE(m->PluginBusy);
}

TEST(plugin_control, a_variable_name_with_a_line_break_is_refused_by_send_as_by_set_v) {
    PluginWindow w("procedure OnReceive;\n"
                   "begin\n"
                   "  if RD = 's' then Send('__setv(a'#13'b,zz)')\n"
                   "  else if RD = 'g' then AddMsg(IntToStr(Send('__getv(a'#13'b)')))\n"
                   "  else SetV('a'#13'b', 'zz');\n"
                   "end;");
    TMain* m = w.main;
    ASSERT_TRUE(m->cp1->Connected()) << ::testing::PrintToString(w.Messages);
    const int stored = m->PluginVars->Count();
    // The first error is shown in a box, the ones after it as error lines.
    const auto refusals = [&] {
        std::vector<std::string> shown = w.Messages;
        for (const std::string& line : w.LinesOf(terminal::dfERR)) shown.push_back(line);
        return std::count_if(shown.begin(), shown.end(), [](const std::string& text) {
            return text.find("Bad variable name 'a'#13'b': a name cannot hold a line break") != std::string::npos;
        });
    };
    for (const char* trigger : {"s", "g", "v"}) {
        SCOPED_TRACE(trigger);
        const auto before = refusals();
        ASSERT_TRUE(w.Play(trigger, 1));
        EXPECT_EQ(refusals(), before + 1) << ::testing::PrintToString(w.Messages) << w.AllLines();
        EXPECT_EQ(m->PluginVars->Count(), stored);
        EXPECT_EQ(w.LinesOf(terminal::dfMSG), std::vector<std::string>{});
    }
    EXPECT_EQ(w.Messages.size(), 1u);
}

TEST(plugin_control, message_lines_and_the_second_port) {
    test_support::PtyPair second;
    second.MapAsCom(6);
    PluginWindow w("procedure OnLoad; begin AddMsg('a'); UpdMsg('b'); end;\n"
                   "procedure OnSend; begin UpdMsg('c'); AddErr('e'); TD := IntToStr(Send2('two')); end;",
                   "Port2=6\r\n");
    TMain* m = w.main;
    ASSERT_TRUE(m->cp2->Connected()) << ::testing::PrintToString(w.Messages);
    // UpdMsg changes the last message line.
    EXPECT_EQ(w.LastMsg(), "b");
    EXPECT_EQ(w.AllLines().find("a|"), std::string::npos) << w.AllLines();
    // After a data line in progress it adds a line of its own.
    ASSERT_TRUE(w.Play("x", 1));
    EXPECT_EQ(w.Transmit("t"), 1u);
    EXPECT_EQ(second.Read(3, 2s), "two");
    EXPECT_EQ(w.dev.Read(1, 2s), "3");
    EXPECT_EQ(w.LastMsg(), "c");
    EXPECT_NE(w.AllLines().find("b|"), std::string::npos) << w.AllLines();
    EXPECT_NE(w.AllLines().find("x|c|e|"), std::string::npos) << w.AllLines();
}

TEST(plugin_control, message_lines_with_line_breaks_save_and_load_back) {
    PluginWindow w("procedure OnLoad; begin AddMsg('one'#10'two'); AddErr('three'#13#10'four'); end;\n"
                   "procedure OnSend; begin AddMsg('x'); UpdMsg(TD + #13'six'); TD := ''; end;");
    TMain* m = w.main;
    EXPECT_EQ(w.LinesOf(terminal::dfERR), std::vector<std::string>{"three  four"});
    w.Transmit("seven\neight");
    const std::vector<std::string> messages{"one two", "seven eight six"};
    EXPECT_EQ(w.LinesOf(terminal::dfMSG), messages);
    // Saved in the internal format, the list loads back whole.
    const std::string file = w.dir.File("list.cp");
    vcl::Application->DialogHook = [&](vcl::TCommonDialog& d) {
        auto& od = static_cast<vcl::TOpenDialog&>(d);
        od.FileName = file;
        od.FilterIndex = 3;
        return true;
    };
    m->mSaveAllClick(nullptr);
    m->Load1Click(nullptr);
    EXPECT_EQ(w.Messages, std::vector<std::string>{});
    EXPECT_EQ(w.LinesOf(terminal::dfMSG), messages);
    EXPECT_EQ(w.LinesOf(terminal::dfERR), std::vector<std::string>{"three  four"});
}

}  // namespace
