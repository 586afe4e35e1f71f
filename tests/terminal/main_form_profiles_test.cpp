#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/file_writes.h"
#include "platform/vcl/dialogs.h"
#include "platform/vcl/file_text.h"
#include "platform/vcl/forms.h"
#include "platform/vcl/ini_files.h"
#include "platform/vcl/std_ctrls.h"
#include "platform/win/comm.h"
#include "ports/ethernet_port.h"
#include "support/pty.h"
#include "support/main_window.h"
#include "support/temp_dir.h"
#include "terminal/main_form.h"

namespace {

using terminal::TMain;

// An activated main window on a settings file of the test's own: the save
// dialog is answered with `name` (or cancelled), questions with `answer`.
struct Profiles : test_support::MainWindow {
    std::vector<vcl::TMessageRequest>& asked = Requests;
    int& answer = MessageAnswer;
    std::string name;
    bool cancel = false;
    std::string prompt;
    TMain*& m = main;

    Profiles() : BasicMainWindow({.Start = false}) {
        answer = vcl::IDYES;
        vcl::Application->InputHook = [this](const std::string& caption, const std::string& text,
                                              std::string& value) {
            prompt = caption + "|" + text + "|" + value;
            value = name;
            return !cancel;
        };
    }
    void Start(const std::string& file_text = {}) {
        if (!file_text.empty()) std::ofstream(ini, std::ios::binary) << file_text;
        BasicMainWindow::Start();
    }
    void Save(const std::string& n) {
        name = n;
        m->SavecfgbClick(m->Saveb);
    }
    std::string Key(const std::string& section, const std::string& key) const {
        return vcl::TIniFile(ini).ReadString(section, key, "<none>");
    }
    std::string Entries() const {
        std::string out;
        for (int i = 0; i < m->CBProfile->Items().Count(); ++i)
            out += m->CBProfile->Items().Strings(i) + ";";
        return out;
    }
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void CloseWindow(TMain* m) {
    bool can = true;
    m->FormCloseQuery(m, can);
    ASSERT_TRUE(can);
}

std::string ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const rtl::Exception& e) {
        return e.Message;
    }
    return "<no error>";
}

TEST(main_form_profiles, saved_profile_is_written_and_a_restart_applies_it_and_opens_the_port) {
    test_support::PtyPair device;
    Profiles p;
    // The COM number reaches the device through the settings' own port map.
    p.Start("[PortMap]\r\nCOM47=" + device.SlavePath() + "\r\n");
    TMain* m = p.m;
    m->ForceComNumber(47, true);
    m->speedcb->SetItemIndex(m->speedcb->Items().IndexOf("9600"));
    m->Databitscb->SetItemIndex(3);
    m->Parcb->SetItemIndex(0);
    m->Stopbcb->SetItemIndex(0);
    m->DTRcb->SetChecked(true);
    m->rtscb->SetChecked(false);
    m->speedcbExit(m->ComNcb);
    ASSERT_TRUE(m->cp1->Connected());

    p.Save("Lab");
    EXPECT_EQ(p.prompt,
              "Profile saving...|Enter Name (leave empty if you want to save as current):| [9600,8N1,Dr]");
    EXPECT_EQ(p.Entries(), "Lab;");
    EXPECT_EQ(m->CBProfile->ItemIndex(), 0);
    EXPECT_TRUE(m->BDelProfile->Enabled());
    EXPECT_EQ(p.Key("Config1", "Name"), "Lab");
    EXPECT_EQ(p.Key("Config1", "Port"), "47");
    EXPECT_EQ(p.Key("Config1", "Speed"), "9600");
    EXPECT_EQ(p.Key("Config1", "DataBits"), "3");
    EXPECT_EQ(p.Key("Config1", "DTR"), "1");
    EXPECT_EQ(p.Key("Config1", "RTS"), "0");
    EXPECT_EQ(p.Key("Config1", "AuxParams"), "<none>");  // written only when set
    EXPECT_EQ(p.Key("Main", "CurrentProfile"), "1");
    EXPECT_EQ(p.Key("Config11", "Port"), "47");
    EXPECT_EQ(p.Key("Config11", "Name"), "");

    // Settings changed after the save, then the window closes and comes back.
    m->speedcb->SetItemIndex(m->speedcb->Items().IndexOf("19200"));
    m->ApplyPortParams(false, true);
    m->CBProfile->SetItemIndex(0);  // still the current profile on close
    bool can = true;
    m->FormCloseQuery(m, can);
    EXPECT_EQ(p.Key("Config1", "Speed"), "9600");  // closing leaves the named slots alone
    EXPECT_EQ(p.Key("Config11", "Speed"), "19200");
    win::SetComPortMapOverrides({});

    p.Start();
    m = p.m;
    EXPECT_TRUE(p.asked.empty());
    EXPECT_EQ(p.Entries(), "Lab;");
    EXPECT_EQ(m->CBProfile->ItemIndex(), 0);
    EXPECT_EQ(m->LastProfileName, "Lab");
    EXPECT_EQ(m->ComNcb->Text().rfind("COM47", 0), 0u) << m->ComNcb->Text();
    EXPECT_EQ(m->speedcb->Text(), "9600");
    ASSERT_TRUE(m->cp1->Connected());
    EXPECT_EQ(device.SlaveBaud(), 9600u);
    device.Write("ping");
    char got[4] = {};
    bool ok = false;
    EXPECT_EQ(m->cp1->ReadDataTimeout(got, 4, &ok, 2000), 4u);
    EXPECT_EQ(std::string(got, 4), "ping");
    win::SetComPortMapOverrides({});
}

TEST(main_form_profiles, a_profile_whose_save_fails_leaves_the_list_as_the_file_keeps_it) {
    Profiles p;
    p.Start();
    TMain* m = p.m;
    p.Save("Lab");
    ASSERT_EQ(p.Entries(), "Lab;");
    ASSERT_EQ(m->CBProfile->ItemIndex(), 0);
    const std::string kept = ReadFile(p.ini);
    m->speedcb->SetItemIndex(m->speedcb->Items().IndexOf("115200"));
    const std::string full = "Unable to write to " + p.ini + ": No space left on device.";
    {
        rtl::TInjectedFileFaults disk;
        disk.FailWritesFrom(1);
        // A new profile: the error box as ever, and the list as before it.
        p.name = "Bench";
        m->Saveb->Click();
        ASSERT_EQ(p.asked.size(), 1u);
        EXPECT_EQ(p.asked[0].Text, full);
        EXPECT_EQ(p.Entries(), "Lab;");
        EXPECT_EQ(m->CBProfile->ItemIndex(), 0);
        EXPECT_TRUE(m->BDelProfile->Enabled());
        EXPECT_EQ(m->Profiles[2].Name, "");
        // Overwriting one after the question: its entry and slot as before.
        p.name = "Lab [fast]";
        m->Saveb->Click();
        ASSERT_EQ(p.asked.size(), 3u);
        EXPECT_EQ(p.asked[1].Text, "Profile with such name already exists\rWould you like to overwrite it?");
        EXPECT_EQ(p.asked[2].Text, full);
        EXPECT_EQ(p.Entries(), "Lab;");
        EXPECT_EQ(m->Profiles[1].Name, "Lab");
        EXPECT_EQ(m->Profiles[1].Speed, 9600);
        EXPECT_EQ(m->CBProfile->ItemIndex(), 0);
        // Deleting it: the file still holds it, so the list does too.
        m->BDelProfile->Click();
        ASSERT_EQ(p.asked.size(), 5u);
        EXPECT_EQ(p.asked[4].Text, full);
        EXPECT_EQ(p.Entries(), "Lab;");
        EXPECT_EQ(m->Profiles[1].Name, "Lab");
        EXPECT_EQ(m->CBProfile->ItemIndex(), 0);
        EXPECT_TRUE(m->BDelProfile->Enabled());
    }
    EXPECT_EQ(ReadFile(p.ini), kept);
    // With room on the disk the same save is kept, and a restart lists what
    // the window listed.
    p.Save("Bench");
    EXPECT_EQ(p.Entries(), "Lab;Bench;");
    EXPECT_EQ(m->CBProfile->ItemIndex(), 1);
    p.Start();
    EXPECT_EQ(p.Entries(), "Lab;Bench;");
    EXPECT_EQ(p.m->Profiles[2].Speed, 115200);
}

TEST(main_form_profiles, a_plugin_that_cannot_be_loaded_stays_configured_until_the_user_changes_it) {
    Profiles p;
    const std::string share = p.dir.File("share");
    const std::string plugin = share + "/Greeter.pas";
    const std::string labPlugin = share + "/Lab.pas";
    const std::string settings = "[Config1]\r\nName=Lab\r\nPlugPath=" + labPlugin + "\r\n[Config11]\r\nPlugPath=" +
                                 plugin + "\r\n";
    // The share is not mounted yet: the start says so, as ever...
    p.Start(settings);
    TMain* m = p.m;
    ASSERT_EQ(p.asked.size(), 1u);
    EXPECT_EQ(p.asked[0].Text.rfind("Error loading plugin\r" + plugin + "\r\rCannot open file", 0), 0u)
        << p.asked[0].Text;
    EXPECT_EQ(m->PluginPath, "");
    // ...and the settings keep naming it, in the profiles saved meanwhile too.
    m->pmPluginPopup(nullptr);
    EXPECT_TRUE(m->mUnloadPlugin->Enabled());
    EXPECT_TRUE(m->mReloadPlugin->Enabled());
    p.Save("Bench");
    EXPECT_EQ(p.Key("Config2", "PlugPath"), plugin);
    CloseWindow(m);
    EXPECT_EQ(p.Key("Config11", "PlugPath"), plugin);

    // Once the share is there, the next start loads it.
    std::filesystem::create_directories(share);
    vcl::SaveStrToFile("procedure OnLoad; begin end;", plugin);
    p.Start();
    m = p.m;
    EXPECT_EQ(m->PluginPath, plugin);
    std::filesystem::remove(plugin);

    // Unload drops it.
    p.Start();
    m = p.m;
    ASSERT_EQ(m->PluginPath, "");
    m->mUnloadPluginClick(nullptr);
    m->pmPluginPopup(nullptr);
    EXPECT_FALSE(m->mUnloadPlugin->Enabled());
    CloseWindow(m);
    EXPECT_EQ(p.Key("Config11", "PlugPath"), "");

    // Choosing a profile puts its own plug-in in its place, loaded or not.
    std::ofstream(p.ini, std::ios::binary) << settings;
    p.Start();
    m = p.m;
    m->CBProfile->SetItemIndex(0);
    m->CBProfileChange(m->CBProfile);
    EXPECT_EQ(p.asked.back().Text.rfind("Error loading plugin\r" + labPlugin, 0), 0u) << p.asked.back().Text;
    CloseWindow(m);
    EXPECT_EQ(p.Key("Config11", "PlugPath"), labPlugin);

    // Loading another plug-in puts that one in its place.
    const std::string other = p.dir.File("Other.pas");
    vcl::SaveStrToFile("procedure OnLoad; begin end;", other);
    std::ofstream(p.ini, std::ios::binary) << settings;
    p.Start();
    m = p.m;
    vcl::Application->DialogHook = [&](vcl::TCommonDialog& d) {
        static_cast<vcl::TOpenDialog&>(d).FileName = other;
        return true;
    };
    m->mLoadPluginClick(nullptr);
    vcl::Application->DialogHook = nullptr;
    EXPECT_EQ(m->PluginPath, other);
    CloseWindow(m);
    EXPECT_EQ(p.Key("Config11", "PlugPath"), other);
}

TEST(main_form_profiles, summary_names_line_settings_rs485_and_plugin) {
    Profiles p;
    p.Start();
    TMain* m = p.m;
    m->CBRS485->SetChecked(true);
    EXPECT_EQ(m->GetParamsSummary(true), "9600,8N1,Dr,485");
    m->PluginPath = "/plugins/modbus.check.pas";
    EXPECT_EQ(m->GetParamsSummary(false), "9600,8N1,Dr,485,modbus.check");
    EXPECT_EQ(m->GetParamsSummary(true), "9600,8N1,Dr,485");
    m->CBRS485->SetChecked(false);
    m->speedcb->SetItemIndex(m->speedcb->Items().IndexOf("19200"));
    m->Databitscb->SetItemIndex(2);
    m->Parcb->SetItemIndex(2);
    m->Stopbcb->SetItemIndex(1);
    m->DTRcb->SetChecked(false);
    m->rtscb->SetChecked(true);
    EXPECT_EQ(m->GetParamsSummary(true), "19200,7E1.5,dR");

    m->UpdateSettingsSummary();
    EXPECT_EQ(m->lblSets->Caption(), "COM-,19200,7E1.5,dR");
    m->ForceComNumber(3, true);
    m->ForceComNumber(5, false);
    m->UpdateSettingsSummary();
    EXPECT_EQ(m->lblSets->Caption(), "COM3/5,19200,7E1.5,dR");
    EXPECT_EQ(m->RVLabel->Left(), m->lblSets->Left() + m->lblSets->Width() + 8);

    // A foreign port: its visible parameters' texts.
    m->ForeignPort = std::make_unique<ports::TEthernetPort>(257, nullptr);
    const std::string foreign = m->GetParamsSummary(true);
    EXPECT_FALSE(foreign.empty());
    EXPECT_NE(foreign.back(), ',');
    m->UpdateSettingsSummary();
    EXPECT_EQ(m->lblSets->Caption(), foreign);
    // Its settings are stored with its class id.
    m->StoreProfile(11, "");
    EXPECT_EQ(m->Profiles[11].AuxParams, "257|" + m->ForeignPort->GetSettings());
    m->ForeignPort.reset();
}

TEST(main_form_profiles, saving_under_an_existing_name_asks_before_overwriting) {
    Profiles p;
    p.Start();
    TMain* m = p.m;
    p.Save("Lab [9600,8N1,Dr]");
    m->speedcb->SetItemIndex(m->speedcb->Items().IndexOf("115200"));
    p.answer = vcl::IDNO;
    p.Save("  Lab [115200,8N1,Dr] ");
    ASSERT_EQ(p.asked.size(), 1u);
    EXPECT_EQ(p.asked[0].Text, "Profile with such name already exists\rWould you like to overwrite it?");
    EXPECT_EQ(p.asked[0].Caption, "VOSTREL");
    EXPECT_EQ(p.asked[0].Flags, unsigned(vcl::MB_YESNOCANCEL | vcl::MB_ICONQUESTION));
    EXPECT_EQ(p.Entries(), "Lab [9600,8N1,Dr];");
    EXPECT_EQ(m->Profiles[1].Speed, 9600);

    p.answer = vcl::IDYES;
    p.Save("  Lab [115200,8N1,Dr] ");
    EXPECT_EQ(p.Entries(), "  Lab [115200,8N1,Dr] ;");
    EXPECT_EQ(m->Profiles[1].Speed, 115200);
    EXPECT_EQ(p.Key("Config1", "Speed"), "115200");

    // The dialog offers the last name with the current summary.
    m->CBProfile->SetItemIndex(0);
    m->CBProfileChange(m->CBProfile);
    p.Save("");
    EXPECT_EQ(p.prompt.substr(p.prompt.rfind('|') + 1), "  Lab [115200,8N1,Dr]");
}

TEST(main_form_profiles, an_eleventh_profile_is_refused_and_an_empty_name_saves_the_current_settings) {
    Profiles p;
    p.Start();
    TMain* m = p.m;
    p.cancel = true;
    p.Save("ignored");
    EXPECT_FALSE(std::ifstream(p.ini).good());  // cancel writes nothing
    p.cancel = false;

    p.Save("");
    EXPECT_EQ(m->CBProfile->Items().Count(), 0);
    EXPECT_EQ(p.Key("Config11", "Speed"), "9600");
    EXPECT_EQ(p.Key("Config1", "Name"), "");  // every slot is written, named or not
    p.Save("   ");  // blanks only: the same as empty
    EXPECT_EQ(m->CBProfile->Items().Count(), 0);

    for (int i = 1; i <= 10; ++i) p.Save("P" + std::to_string(i));
    EXPECT_EQ(m->CBProfile->Items().Count(), 10);
    EXPECT_EQ(ErrorOf([&] { p.Save("P11"); }),
              "Too many profiles exist (10 items).\rFirst delete one of existing.");
    EXPECT_EQ(m->CBProfile->Items().Count(), 10);
    EXPECT_EQ(p.Key("Config10", "Name"), "P10");
    // Overwriting one of the ten still works.
    p.Save("P3");
    EXPECT_EQ(m->CBProfile->Items().Count(), 10);
    EXPECT_EQ(m->CBProfile->ItemIndex(), 2);
}

TEST(main_form_profiles, deleting_moves_the_later_slots_down) {
    Profiles p;
    p.Start();
    TMain* m = p.m;
    EXPECT_EQ(ErrorOf([&] { m->BDelProfileClick(m->BDelProfile); }), "Nothing to delete");
    for (int i = 1; i <= 10; ++i) {
        m->speedcb->SetItemIndex(i % 10);
        p.Save("P" + std::to_string(i));
    }
    m->CBProfile->SetItemIndex(0);
    p.answer = vcl::IDCANCEL;
    m->BDelProfileClick(m->BDelProfile);
    ASSERT_EQ(p.asked.size(), 1u);
    EXPECT_EQ(p.asked[0].Text, "Do your really want to delete profile\r\"P1\" ?");
    EXPECT_EQ(m->CBProfile->Items().Count(), 10);

    p.answer = vcl::IDYES;
    m->BDelProfileClick(m->BDelProfile);
    EXPECT_EQ(m->CBProfile->Items().Count(), 9);
    EXPECT_EQ(m->CBProfile->ItemIndex(), -1);
    EXPECT_FALSE(m->BDelProfile->Enabled());
    EXPECT_EQ(m->Profiles[1].Name, "P2");
    EXPECT_EQ(m->Profiles[9].Name, "P10");
    EXPECT_EQ(m->Profiles[10].Name, "");
    EXPECT_EQ(m->Profiles[10].Speed, m->Profiles[9].Speed);  // the data stays
    EXPECT_EQ(p.Key("Config1", "Name"), "P2");
    EXPECT_EQ(p.Key("Config10", "Name"), "");
    EXPECT_EQ(p.Key("Main", "CurrentProfile"), "0");

    p.Start();
    EXPECT_EQ(p.m->CBProfile->Items().Count(), 9);
    EXPECT_EQ(p.m->CBProfile->ItemIndex(), -1);
}

TEST(main_form_profiles, changing_a_setting_drops_the_selection_but_applying_a_profile_does_not) {
    Profiles p;
    p.Start();
    TMain* m = p.m;
    p.Save("A");
    m->Parcb->SetItemIndex(1);
    p.Save("B");
    m->CBProfile->SetItemIndex(0);
    m->CBProfileChange(m->CBProfile);
    EXPECT_EQ(m->CBProfile->ItemIndex(), 0);  // applying kept it
    EXPECT_EQ(m->Parcb->ItemIndex(), 0);
    EXPECT_EQ(m->CBProfile->Hint(), "A");
    EXPECT_EQ(m->ApplyingProfile, 0);

    m->Databitscb->SetItemIndex(2);
    m->speedcbExit(m->Databitscb);
    EXPECT_EQ(m->CBProfile->ItemIndex(), -1);
    EXPECT_FALSE(m->BDelProfile->Enabled());

    // A profile whose port parameters fail is deselected and the error goes on.
    m->Profiles[2].Speed = 0;
    m->speedcb->Items().Insert(0, "0");
    m->CBProfile->SetItemIndex(1);
    const std::string error = ErrorOf([&] { m->CBProfileChange(m->CBProfile); });
    EXPECT_EQ(error.rfind("Error setting ", 0), 0u) << error;
    EXPECT_NE(error.find(" parameters\r\rWrong speed number"), std::string::npos) << error;
    EXPECT_EQ(m->CBProfile->ItemIndex(), -1);
    EXPECT_FALSE(m->BDelProfile->Enabled());
    EXPECT_EQ(m->ApplyingProfile, 0);
}

TEST(main_form_profiles, slots_are_read_compacted_and_applied) {
    Profiles p;
    // Slot 2 has no name between named slots 1 and 3; slot 11 carries a name
    // that must not make it a listed profile; slot 3 has no RTS key.
    p.Start(
        "[Main]\r\nCurrentProfile=2\r\n"
        "[Config1]\r\nName=A\r\nSpeed=1200\r\nRTS=0\r\n"
        "[Config2]\r\nName=\r\nSpeed=2400\r\n"
        "[Config3]\r\nName=C\r\nSpeed=250000\r\nParity=2\r\nPlugPath=/p/c.pas\r\n"
        "[Config11]\r\nName=stray\r\nSpeed=4800\r\n");
    TMain* m = p.m;
    EXPECT_EQ(p.Entries(), "A;C;");
    EXPECT_EQ(m->Profiles[2].Name, "C");
    EXPECT_EQ(m->Profiles[3].Speed, 2400);
    EXPECT_EQ(m->Profiles[11].Name, "");
    // CurrentProfile 2 is C: a speed not in the list goes in before "Custom..".
    EXPECT_EQ(m->CBProfile->ItemIndex(), 1);
    const int n = m->speedcb->Items().Count();
    EXPECT_EQ(m->speedcb->Items().Strings(n - 2), "250000");
    EXPECT_EQ(m->speedcb->Items().Strings(n - 1), "Custom..");
    EXPECT_EQ(m->speedcb->Text(), "250000");
    EXPECT_EQ(m->Parcb->ItemIndex(), 2);
    EXPECT_TRUE(m->rtscb->Checked());  // read without an RTS key
    // The profile's plug-in does not exist: that is said, and the rest of
    // the profile stays applied.
    EXPECT_EQ(m->PluginPath, "");
    EXPECT_EQ(m->LastPluginPath, "/p/c.pas");
    ASSERT_FALSE(p.Messages.empty());
    EXPECT_EQ(p.Messages.back().rfind("Error loading plugin\r/p/c.pas\r\rCannot open file", 0), 0u)
        << p.Messages.back();
    m->ClearProfile(3);
    EXPECT_FALSE(m->Profiles[3].RTS);  // a cleared slot has RTS off
    EXPECT_EQ(m->Profiles[3].Speed, 9600);
}

TEST(main_form_profiles, profile_controls_reach_their_handlers) {
    Profiles p;
    p.Start();
    TMain* m = p.m;
    p.name = "Lab";
    m->Saveb->Click();
    EXPECT_EQ(p.Entries(), "Lab;");
    EXPECT_EQ(p.Key("Config1", "Name"), "Lab");
    p.name = "Bench";
    m->Saveb->Click();
    m->CBProfile->SetItemIndex(0);
    m->CBProfile->OnChange(m->CBProfile);
    EXPECT_EQ(m->LastProfileName, "Lab");
    EXPECT_TRUE(m->BDelProfile->Enabled());
    m->BDelProfile->Click();
    ASSERT_EQ(p.asked.size(), 1u);
    EXPECT_EQ(p.Entries(), "Bench;");
    EXPECT_EQ(p.Key("Config1", "Name"), "Bench");
}

TEST(main_form_profiles, a_foreign_port_profile_applies_its_own_class_settings_only) {
    Profiles p;
    p.Start();
    TMain* m = p.m;
    m->ForceComNumber(ports::FirstForeignPortId + 1, true);
    m->ComNcbChange(m->ComNcb);
    ASSERT_NE(m->ForeignPort, nullptr);
    const std::string before = m->ForeignPort->GetSettings();
    // The same settings with another local port.
    const std::string changed = before.substr(0, before.rfind('|') + 1) + "40123";
    ASSERT_NE(changed, before);
    p.Start("[Main]\r\nCurrentProfile=1\r\n"
            "[Config1]\r\nName=Net\r\nPort=257\r\nAuxParams=\"257|" + changed + "\"\r\n"
            "[Config2]\r\nName=Other\r\nPort=257\r\nAuxParams=\"300|" + before + "\"\r\n");
    m = p.m;
    ASSERT_NE(m->ForeignPort, nullptr);
    EXPECT_EQ(m->ForeignPort->GetSettings(), changed);
    EXPECT_TRUE(m->pnlForPPrms->Visible());
    // Another class id: the port is applied, its parameters stay.
    m->CBProfile->SetItemIndex(1);
    m->CBProfileChange(m->CBProfile);
    ASSERT_NE(m->ForeignPort, nullptr);
    EXPECT_EQ(m->ForeignPort->GetSettings(), changed);
    EXPECT_EQ(m->CBProfile->ItemIndex(), 1);
    // Stored back with its class id; the summary names the port's parameters.
    m->StoreProfile(11, "");
    EXPECT_EQ(m->Profiles[11].AuxParams, "257|" + changed);
    m->UpdateSettingsSummary();
    EXPECT_EQ(m->lblSets->Caption(), m->GetParamsSummary(true));
    EXPECT_NE(m->lblSets->Caption().find("40123"), std::string::npos);
}

}  // namespace
