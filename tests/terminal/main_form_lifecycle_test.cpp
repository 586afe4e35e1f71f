#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "graph/graph_form.h"
#include "platform/rtl/exceptions.h"
#include "platform/vcl/forms.h"
#include "platform/vcl/std_ctrls.h"
#include "platform/win/comm.h"
#include "platform/win/timers.h"
#include "ports/ethernet_port.h"
#include "support/main_window.h"
#include "support/pty.h"
#include "support/qt_app.h"
#include "terminal/main_form.h"

namespace {

using terminal::TMain;

// The main window and the graph window as the program makes them, with
// modal messages recorded instead of shown and the settings file in a
// folder of the test's own.
struct MainFixture : test_support::MainWindow {
    std::vector<vcl::TMessageRequest>& messages = Requests;

    MainFixture() : BasicMainWindow({.Activate = false, .Graph = true, .Title = true}) {}
};

std::string PollingNotice(int ms) {
    return "Polling delay was increased to " + std::to_string(ms) +
           " ms due to performance problems caused by too high data reception rate.\r\r"
           "You can manually restore it in \"Polling Delay\" reception panel popup menu";
}

// Whether the window renewed its anti-hang stamp since Before, a reading of
// its clock: the stamp lies between Before and now, however long the test
// was held up in between.
::testing::AssertionResult RenewedSince(const TMain& m, std::uint32_t Before) {
    const std::uint32_t age = m.AntiHangStamp - Before;
    const std::uint32_t span = m.AntiHangNow() - Before;
    if (age <= span) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the stamp " << m.AntiHangStamp << " is not between " << Before
                                         << " and " << Before + span;
}

void Pump(int ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        vcl::Application->ProcessMessages();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

TEST(main_form_lifecycle, creation_sets_the_option_table_and_builds_the_window) {
    MainFixture f;
    TMain* m = f.main;
    EXPECT_EQ(m->Caption(), "VOSTREL");
    EXPECT_EQ(m->DataFormat, 1);
    EXPECT_EQ(m->TRFormat, 0);
    EXPECT_EQ(m->TrLineBreak, "\r\n");
    EXPECT_EQ(m->RvLineBreak, '\n');
    EXPECT_EQ(m->TRComboHistoryLen, 7);
    EXPECT_EQ(m->RVPnlTime, 2);
    EXPECT_EQ(m->RVPnlTimeFormat, "yyyy-mm-dd hh:nn:ss.zzz");
    EXPECT_EQ(m->Layout, 1);
    EXPECT_EQ(m->PollingIndex, 2);
    EXPECT_EQ(m->PortScanMethod, 2);
    EXPECT_TRUE(m->ReceptionEnabled);
    EXPECT_TRUE(m->ParseNeeded);
    EXPECT_TRUE(m->SendingCancelled);
    EXPECT_EQ(m->CPUSpeed, 0);
    EXPECT_TRUE(m->KeyPreview());
    // The two drivers as the form describes them.
    for (ports::TCommPortDriver* d : {m->cp1, m->cp2}) {
        EXPECT_EQ(d->InBufSize(), 1000000u);
        EXPECT_EQ(d->OutBufSize(), 1000000u);
        EXPECT_EQ(d->PollingDelay(), 5);
        EXPECT_FALSE(d->EnableDTROnOpen());
        EXPECT_EQ(d->InputTimeout(), 100u);
        EXPECT_TRUE(d->UseMultimediaTimer());
        EXPECT_EQ(d->HwFlow(), ports::hfNONE);
    }
    EXPECT_EQ(m->PortSlots[terminal::PortSlotMain].Driver, m->cp1);
    EXPECT_EQ(m->PortSlots[terminal::PortSlotMain].Combo, m->ComNcb);
    EXPECT_EQ(m->PortSlots[terminal::PortSlot2].Button, m->sbPort2);
    EXPECT_TRUE(m->tmrAntiHang->Running());
    EXPECT_EQ(m->tmrAntiHang->Interval(), 2000);
    EXPECT_FALSE(m->tmr1->Enabled());
    EXPECT_EQ(m->tmr1->Interval(), 100);
    EXPECT_FALSE(m->TmrPortConn->Enabled());
    EXPECT_TRUE(m->m50ms->Checked());
    EXPECT_EQ(m->lb1->Parent(), m->TrGB);
    EXPECT_EQ(m->lb1->ItemHeight(), 17);
    EXPECT_EQ(m->lb1->PopupMenu(), m->pmList);
    // Every name the other parts look up is there.
    for (const char* name : {"sbPort", "ComNcb", "speedcb", "Databitscb", "Stopbcb", "Parcb",
                             "cbFlow", "DTRcb", "rtscb", "CBLineBreak", "CBRS485", "BSpeed",
                             "Rereadportsb", "pnlCommPrms", "pnlForPPrms", "CBProfile", "Saveb",
                             "BDelProfile", "TrBCB", "Transb", "BTrArrow", "tmr1", "TmrEnCB",
                             "TmrEd", "ttr1", "GBUpper", "RvGB", "TrGB", "Splitter1", "pnlTR",
                             "Timergb", "nastrp", "pnlDRV", "dRVcb", "TRLabel", "RVLabel",
                             "lblSets", "TmrPortConn", "tmrAntiHang", "ApplicationEvents1",
                             "pmView", "pmList", "pmLine", "pmTrArrow", "pmOutput", "pmLCount",
                             "pmTRFormat", "pmPlugin", "mShowGraph", "mClearCounter", "mLayout1",
                             "mLayout2", "mLayout3", "Disableondeactivate1", "fd1", "od1", "sd1",
                             "odPlug", "odInt", "cp1", "cp2", "N1ms1", "m1000ms", "alt51"})
        EXPECT_NE(m->FindComponent(name), nullptr) << name;
    EXPECT_EQ(m->dRVcb->Caption(), "Disable Receive (F10)");
    EXPECT_EQ(m->RvGB->Caption(), "Transmission");
    EXPECT_EQ(m->TrGB->Caption(), "Reception");
    EXPECT_EQ(m->nastrp->Caption(), "Connection");
}

TEST(main_form_lifecycle, first_activation_runs_once_and_a_missing_settings_file_gives_no_message) {
    MainFixture f;
    TMain* m = f.main;
    EXPECT_FALSE(m->FirstActivationDone());
    const std::uint32_t activated = m->AntiHangNow();
    m->FormActivate(m);
    EXPECT_TRUE(m->FirstActivationDone());
    EXPECT_TRUE(f.messages.empty());
    EXPECT_EQ(vcl::Application->HintPause(), 100);
    // One empty current line, "[No]" selected in both port lists, slot 11 applied.
    EXPECT_EQ(m->lb1->Count(), 1);
    EXPECT_EQ(m->ComNcb->ItemIndex(), 0);
    EXPECT_EQ(m->ComNcb->Text(), "[No]");
    EXPECT_EQ(m->cbComN2->ItemIndex(), 0);
    EXPECT_EQ(m->speedcb->Text(), "9600");
    EXPECT_EQ(m->Databitscb->Text(), "8");
    EXPECT_TRUE(m->DTRcb->Checked());
    EXPECT_FALSE(m->rtscb->Checked());
    EXPECT_EQ(m->BSpeed->Hint(),
              "Count CPU speed\r(for exact 485 mode functioning)\rCurrent speed value = 0 kHz");
    EXPECT_TRUE(RenewedSince(*m, activated));
    ASSERT_TRUE(bool(f.graph->OnClose));
    // The polling delay in effect is the default entry's (50 ms), on both drivers.
    EXPECT_EQ(m->PollingIndex, 2);
    EXPECT_EQ(m->cp1->PollingDelay(), 50);
    EXPECT_EQ(m->cp2->PollingDelay(), 50);
    EXPECT_EQ(m->N1ms1->Enabled(), ports::TCommPortDriver::GetMinPollingDelay() == 1);

    // A later activation reads and applies nothing.
    m->rtscb->SetChecked(true);
    m->FormActivate(m);
    EXPECT_EQ(m->lb1->Count(), 1);
    EXPECT_TRUE(m->rtscb->Checked());

    // The form's own activation goes through the same handler.
    MainFixture g;
    g.main->Show();
    g.main->Activate();
    EXPECT_TRUE(test_support::PumpUntil([&] { return g.main->FirstActivationDone(); }));
    EXPECT_EQ(g.main->lb1->Count(), 1);
}

TEST(main_form_lifecycle, unreadable_settings_file_is_reported_and_start_up_goes_on) {
    MainFixture f;
    TMain* m = f.main;
    std::filesystem::create_directories(m->ConfigFileName);  // a folder, not a file
    const std::uint32_t activated = m->AntiHangNow();
    m->FormActivate(m);
    ASSERT_EQ(f.messages.size(), 1u);
    EXPECT_EQ(f.messages[0].Text,
              "Can't read configuration from file \"" + m->ConfigFileName + "\"\r\rCannot read \"" +
                  m->ConfigFileName + "\": it is not a regular file (a folder, a device or a pipe)");
    EXPECT_EQ(f.messages[0].Caption, "VOSTREL");
    EXPECT_EQ(f.messages[0].Flags & 0xF0u, unsigned(vcl::MB_ICONERROR));
    // The rest of the start-up still ran: the port scan filled the main list.
    EXPECT_EQ(m->ComNcb->Items().Strings(m->ComNcb->Items().Count() - 1), "Ethernet");
    EXPECT_TRUE(RenewedSince(*m, activated));

    // A regular file that opens but fails while it is read (a failing disk;
    // here the system's memory file of this process, read from its start):
    // the reader's reason, not settings quietly taken as empty.
    MainFixture g;
    m = g.main;
    std::filesystem::create_symlink("/proc/self/mem", m->ConfigFileName);
    m->FormActivate(m);
    ASSERT_EQ(g.messages.size(), 1u);
    EXPECT_EQ(g.messages[0].Text.rfind("Can't read configuration from file \"" + m->ConfigFileName +
                                           "\"\r\rCannot read \"" + m->ConfigFileName + "\": ",
                                       0),
              0u)
        << g.messages[0].Text;
    EXPECT_TRUE(g.messages[0].Text.ends_with("error")) << g.messages[0].Text;
    // Gone before the window closes and writes its settings.
    std::filesystem::remove(m->ConfigFileName);
}

// The user closes the window while a box of the start-up is open (here the
// one about a mapping that cannot be used): the start-up stops there (the
// profile's port stays closed and its plug-in is not loaded, so no load
// event talks to the device behind a window that is gone), and the
// settings file keeps the profile that was never applied.
TEST(main_form_lifecycle, closing_during_a_start_up_box_starts_nothing_more) {
    const char* was = std::getenv("VOSTREL_COMPORTS");
    struct Restore {
        std::optional<std::string> value;
        ~Restore() { value ? setenv("VOSTREL_COMPORTS", value->c_str(), 1) : unsetenv("VOSTREL_COMPORTS"); }
    } restore{was ? std::optional<std::string>(was) : std::nullopt};
    test_support::PtyPair dev;
    dev.MapAsCom(5);
    setenv("VOSTREL_COMPORTS", (std::string(std::getenv("VOSTREL_COMPORTS")) + ";junk").c_str(), 1);
    MainFixture f;
    TMain* m = f.main;
    const std::string plugin = f.dir.File("hello.pas");
    std::ofstream(plugin) << "procedure OnLoad; begin Send('hello'); end;\n";
    std::ofstream(f.ini, std::ios::binary) << "[Config11]\r\nPort=5\r\nSpeed=9600\r\nPlugPath=" << plugin << "\r\n";
    f.graph->Show();
    m->Show();
    vcl::Application->MessageHook = [&](const vcl::TMessageRequest& r) {
        f.messages.push_back(r);
        m->Close();
        return vcl::IDOK;
    };
    m->FormActivate(m);
    ASSERT_EQ(f.messages.size(), 1u);
    EXPECT_NE(f.messages[0].Text.find("\"junk\" is ignored"), std::string::npos) << f.messages[0].Text;
    EXPECT_FALSE(m->Visible());
    EXPECT_FALSE(m->cp1->Connected());
    EXPECT_EQ(m->Script, nullptr);
    EXPECT_EQ(dev.Read(5, std::chrono::milliseconds(300)), "");
    std::stringstream ini;
    ini << std::ifstream(f.ini).rdbuf();
    EXPECT_NE(ini.str().find("PlugPath=" + plugin), std::string::npos) << ini.str();
}

TEST(main_form_lifecycle, plugin_busy_guard_raises_its_exact_message) {
    MainFixture f;
    TMain* m = f.main;
    EXPECT_NO_THROW(m->CheckPluginIdle());
    m->SetPluginBusy(true);
    try {
        m->CheckPluginIdle();
        FAIL() << "no exception";
    } catch (const rtl::Exception& e) {
        EXPECT_EQ(e.Message, "Can't execute this command because the plugin is running");
    }
    m->SetPluginBusy(false);
    EXPECT_NO_THROW(m->CheckPluginIdle());
}

TEST(main_form_lifecycle, close_while_a_plugin_event_runs_closes_at_once) {
    MainFixture f;
    TMain* m = f.main;
    m->FormActivate(m);
    m->Show();
    // An event of the plug-in runs (its host is not needed to close): the
    // window does not wait for it.
    m->SetPluginBusy(true);
    m->Close();
    EXPECT_FALSE(m->Visible());
    EXPECT_EQ(m->PluginVars, nullptr);
    EXPECT_EQ(m->lb1->Count(), 0);
    EXPECT_FALSE(m->cp1->Connected());
    EXPECT_TRUE(f.messages.empty());
    m->SetPluginBusy(false);
}

TEST(main_form_lifecycle, anti_hang_escalation_steps_the_polling_delay_and_tells_the_user) {
    MainFixture f;
    TMain* m = f.main;
    m->FormActivate(m);

    // From 0 (and from 1) straight to 2, 50 ms.
    m->m1000msClick(m->PollingEntry(0));
    EXPECT_EQ(m->PollingIndex, 0);
    EXPECT_EQ(m->cp1->PollingDelay(), 1);
    const std::uint32_t stale = m->AntiHangNow();
    m->AntiHangStamp = stale - 7500;
    m->CheckAntiHang();
    EXPECT_EQ(m->PollingIndex, 2);
    EXPECT_TRUE(m->m50ms->Checked());
    EXPECT_EQ(m->cp1->PollingDelay(), 50);
    EXPECT_EQ(m->cp2->PollingDelay(), 50);
    EXPECT_TRUE(RenewedSince(*m, stale));
    auto notices = MainFixture::Notices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(MainFixture::NoticeText(notices[0]), PollingNotice(50));
    EXPECT_TRUE(notices[0]->Visible());

    m->m1000msClick(m->PollingEntry(1));
    m->IncreasePollingDelay();
    EXPECT_EQ(m->PollingIndex, 2);

    // A fresh stamp changes nothing.
    m->CheckAntiHang();
    EXPECT_EQ(m->PollingIndex, 2);

    // From 4 to 5 (1000 ms) also closes the graph window, and its close
    // handler clears mShowGraph.
    m->mShowGraphClick(m->mShowGraph);
    EXPECT_TRUE(f.graph->Visible());
    EXPECT_TRUE(m->mShowGraph->Checked());
    m->m1000msClick(m->PollingEntry(4));
    m->IncreasePollingDelay();
    EXPECT_EQ(m->PollingIndex, 5);
    EXPECT_EQ(m->cp1->PollingDelay(), 1000);
    EXPECT_FALSE(f.graph->Visible());
    EXPECT_FALSE(m->mShowGraph->Checked());
    notices = MainFixture::Notices();
    ASSERT_EQ(notices.size(), 3u);  // several notices stay open at once
    EXPECT_EQ(MainFixture::NoticeText(notices.back()), PollingNotice(1000));

    // At 5 only the stamp moves.
    const std::uint32_t staleAgain = m->AntiHangNow();
    m->AntiHangStamp = staleAgain - 9000;
    m->CheckAntiHang();
    EXPECT_EQ(m->PollingIndex, 5);
    EXPECT_TRUE(RenewedSince(*m, staleAgain));
    EXPECT_EQ(MainFixture::Notices().size(), 3u);

    // The notice's OK button frees it once its click is handled.
    auto* ok = dynamic_cast<vcl::TButton*>(notices[0]->FindComponent("OK"));
    ASSERT_NE(ok, nullptr);
    ok->Click();
    Pump(20);
    EXPECT_EQ(MainFixture::Notices().size(), 2u);
    // Closed through its window, a notice goes away as well.
    notices[1]->Close();
    Pump(20);
    EXPECT_EQ(MainFixture::Notices().size(), 1u);
    EXPECT_TRUE(f.messages.empty());  // notices are not modal messages
}

TEST(main_form_lifecycle, show_graph_entry_follows_the_graph_window) {
    MainFixture f;
    TMain* m = f.main;
    m->FormActivate(m);
    m->mShowGraph->Click();
    EXPECT_TRUE(m->mShowGraph->Checked());
    EXPECT_TRUE(f.graph->Visible());
    f.graph->Close();  // the user closes the graph window
    EXPECT_FALSE(m->mShowGraph->Checked());
    m->mShowGraph->Click();
    EXPECT_TRUE(f.graph->Visible());
    m->mShowGraph->Click();
    EXPECT_FALSE(f.graph->Visible());
    EXPECT_FALSE(m->mShowGraph->Checked());
}

TEST(main_form_lifecycle, graph_window_closing_after_the_main_window_is_gone_is_harmless) {
    MainFixture f;
    f.main->FormActivate(f.main);
    ASSERT_TRUE(bool(f.graph->OnClose));
    vcl::TComponent::Free(f.main);
    f.main = nullptr;
    EXPECT_FALSE(bool(f.graph->OnClose));
    f.graph->Show();
    f.graph->Close();
    EXPECT_FALSE(f.graph->Visible());
}

TEST(main_form_lifecycle, counters_show_in_their_labels_and_clear_by_label) {
    MainFixture f;
    TMain* m = f.main;
    m->PortSlots[terminal::PortSlotMain].RxCount = 12;
    m->PortSlots[terminal::PortSlot2].RxCount = 3000000000u;
    m->SentCount = 7;
    m->ShowRxCount();
    m->ShowTxCount();
    EXPECT_EQ(m->RVLabel->Caption(), "(12, 3000000000)");
    EXPECT_EQ(m->TRLabel->Caption(), "7");
    m->RVLabel->Click();
    EXPECT_EQ(m->pmLCount->PopupComponent(), m->RVLabel);
    m->mClearCounter->Click();
    EXPECT_EQ(m->RVLabel->Caption(), "(0, 0)");
    EXPECT_EQ(m->TRLabel->Caption(), "7");
    m->TRLabel->Click();
    m->mClearCounter->Click();
    EXPECT_EQ(m->TRLabel->Caption(), "0");
    EXPECT_EQ(m->SentCount, 0u);
}

TEST(main_form_lifecycle, free_port_on_focus_loss_closes_and_reopens_both_ports) {
    test_support::PtyPair main_dev, second_dev;
    win::SetComPortMapOverrides({{41, main_dev.SlavePath()}, {42, second_dev.SlavePath()}});
    MainFixture f;
    TMain* m = f.main;
    m->FormActivate(m);
    m->ForceComNumber(41, true);
    m->ForceComNumber(42, false);
    EXPECT_EQ(m->ComNcb->Text().substr(0, 6), "COM41\t");  // then the description
    ASSERT_TRUE(m->ApplyPortParams(false, true));
    ASSERT_TRUE(m->ApplyPortParams(false, false));
    ASSERT_TRUE(m->cp1->Connected());
    ASSERT_TRUE(m->cp2->Connected());

    // Off: focus changes leave the ports alone.
    m->ApplicationEvents1Deactivate(nullptr);
    EXPECT_TRUE(m->cp1->Connected());

    m->Disableondeactivate1->Click();
    ASSERT_TRUE(m->Disableondeactivate1->Checked());
    m->ApplicationEvents1Deactivate(nullptr);
    EXPECT_FALSE(m->cp1->Connected());
    EXPECT_FALSE(m->cp2->Connected());
    EXPECT_FALSE(m->TmrPortConn->Enabled());
    m->ApplicationEvents1Activate(nullptr);
    EXPECT_TRUE(m->cp1->Connected());
    EXPECT_TRUE(m->cp2->Connected());

    // Minimize then restore reopens once, whichever of the restore and the
    // activation comes first (applying the parameters a second time would
    // switch the line break off).
    m->ApplicationEvents1Minimize(nullptr);
    EXPECT_FALSE(m->cp1->Connected());
    EXPECT_TRUE(m->WasMinimized);
    m->ApplicationEvents1Restore(nullptr);
    EXPECT_TRUE(m->cp1->Connected());
    EXPECT_TRUE(m->cp2->Connected());
    m->CBLineBreak->SetChecked(true);
    m->ApplicationEvents1Activate(nullptr);
    EXPECT_TRUE(m->CBLineBreak->Checked());
    EXPECT_FALSE(m->WasMinimized);

    m->ApplicationEvents1Minimize(nullptr);
    m->ApplicationEvents1Activate(nullptr);  // activation first: only clears the mark
    EXPECT_FALSE(m->cp1->Connected());
    m->ApplicationEvents1Restore(nullptr);
    EXPECT_TRUE(m->cp1->Connected());
    EXPECT_TRUE(m->cp2->Connected());

    // A plain activation applies the parameters again.
    m->CBLineBreak->SetChecked(true);
    m->ApplicationEvents1Activate(nullptr);
    EXPECT_FALSE(m->CBLineBreak->Checked());

    // With a foreign port in use, focus changes leave everything open.
    m->ForeignPort = std::make_unique<ports::TEthernetPort>(257, nullptr);
    m->ApplicationEvents1Deactivate(nullptr);
    EXPECT_TRUE(m->cp1->Connected());
    EXPECT_TRUE(m->cp2->Connected());
    m->RefreshPortState(true);
    EXPECT_EQ(m->ComNcb->Tag, 1);  // the foreign port is not active
    EXPECT_EQ(m->cbComN2->Tag, 1);  // Port2 stays closed beside a foreign port
    EXPECT_FALSE(m->TmrPortConn->Enabled());
    m->ForeignPort.reset();

    // A port that cannot be reopened stays closed, silently, and is retried.
    m->ApplicationEvents1Deactivate(nullptr);
    main_dev.CloseMaster();
    win::SetComPortMapOverrides({{42, second_dev.SlavePath()}});
    m->ApplicationEvents1Activate(nullptr);
    EXPECT_FALSE(m->cp1->Connected());
    EXPECT_TRUE(m->cp2->Connected());
    EXPECT_TRUE(m->TmrPortConn->Enabled());
    EXPECT_EQ(m->ComNcb->Tag, 1);
    EXPECT_TRUE(f.messages.empty());
    win::SetComPortMapOverrides({});
}

TEST(main_form_lifecycle, applying_wrong_parameters_names_the_port_unless_silent) {
    MainFixture f;
    TMain* m = f.main;
    m->FormActivate(m);
    m->Databitscb->SetItemIndex(-1);
    EXPECT_FALSE(m->ApplyPortParams(true, true));
    try {
        m->ApplyPortParams(false, false);
        FAIL() << "no exception";
    } catch (const rtl::Exception& e) {
        EXPECT_EQ(e.Message, "Error setting AuxPort parameters\r\rWrong databits value");
    }
}

}  // namespace
