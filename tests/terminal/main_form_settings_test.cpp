#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/rtl/cp1251.h"
#include "platform/rtl/files.h"
#include "platform/vcl/file_text.h"
#include "platform/vcl/forms.h"
#include "platform/vcl/ini_files.h"
#include "platform/vcl/std_ctrls.h"
#include "platform/win/comm.h"
#include "support/fifo.h"
#include "support/main_window.h"
#include "support/temp_dir.h"
#include "terminal/main_form.h"

namespace {

using terminal::TMain;

// A main window whose settings file is `ini`; modal messages are recorded.
struct Window : test_support::MainWindow {
    std::vector<vcl::TMessageRequest>& messages = Requests;
    TMain*& m = main;

    explicit Window(const std::string& ini, bool activate = true)
        : BasicMainWindow({.Activate = activate, .Ini = ini}) {}
    void Close() {
        bool can = true;
        m->FormCloseQuery(m, can);
        ASSERT_TRUE(can);
    }
    // The text of the last message line in the receive list.
    std::string LastMsg() const {
        const terminal::TLineStore& lines = m->RxPanel->Lines();
        for (int i = lines.LineCount() - 1; i >= 0; --i)
            if (lines.LineRecord(i).Format == terminal::dfMSG) return lines.LineData(i);
        return {};
    }
};

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

vcl::TMenuItem* Item(TMain* m, const char* name) {
    return dynamic_cast<vcl::TMenuItem*>(m->FindComponent(name));
}

TEST(main_form_settings, every_setting_round_trips_through_the_file) {
    test_support::TempDir dir;
    const std::string ini = dir.File("vostrel.ini");
    {
        Window w(ini);
        TMain* m = w.m;
        m->SetBounds(33, 44, 700, 500);
        m->RvGB->SetWidth(222);
        m->SetLayout(2);
        m->TRComboHistoryLen = 5;
        m->TrLineBreak = std::string(1, '\0');
        m->RvLineBreak = '\r';
        m->TmrEnCB->SetChecked(true);
        m->tmr1->SetInterval(250);
        m->Timergb->SetVisible(false);
        m->DataFormat = 4;
        m->dRVcb->SetChecked(true);
        m->mShowWrites->SetChecked(true);
        m->RVPnlTime = 4;
        m->RVPnlTimeFormat = "hh:nn";
        m->mTimecaninterruptdatarow->SetChecked(true);
        m->Precisetimecalc1->SetChecked(true);
        m->ShowErrorsm->SetChecked(false);
        m->Infinitem->SetChecked(false);
        m->mShowASCIInonvisiblecodes->SetChecked(true);
        m->CBRS485->SetChecked(true);
        m->TRFormat = 2;
        m->mAddLnBefTr->SetChecked(true);
        m->Disableondeactivate1->SetChecked(true);
        m->PortScanMethod = 0;
        m->mRetrieveportdescriptions->SetChecked(false);
        m->m1000msClick(m->PollingEntry(4));
        m->CPUSpeed = 2400000;
        m->lb1->Font().SetName("Liberation Mono");
        m->lb1->Font().SetSize(11);
        m->TrBCB->Items().Add("  spaced  ");
        m->TrBCB->Items().Add("\"quoted\"");
        m->TrBCB->SetText(" 1 2 3 ");
        m->N11->SetCaption(" first ");
        m->alt51->SetCaption("<empty>");
        m->speedcb->SetItemIndex(10);
        m->Parcb->SetItemIndex(2);
        m->rtscb->SetChecked(true);
        m->Profiles[11].AuxParams = "257|left over";  // kept with a COM port
        w.Close();
    }
    const std::string text = ReadFile(ini);
    EXPECT_NE(text.find("[Main]\r\nLeft=33\r\nTop=44\r\nWidth=700\r\nHeight=500\r\n"), std::string::npos);
    EXPECT_NE(text.find("TimerEnable=1\r\n"), std::string::npos);
    EXPECT_NE(text.find("Current=\" 1 2 3 \"\r\n"), std::string::npos);
    EXPECT_NE(text.find("0=\"  spaced  \"\r\n"), std::string::npos);
    EXPECT_NE(text.find("AuxParams=\"257|left over\"\r\nPlugPath=\r\n"), std::string::npos);
    EXPECT_EQ(text.find("NoTimeBeginPeriod"), std::string::npos);
    EXPECT_EQ(text.find("[Config1]"), std::string::npos);  // closing writes slot 11 only

    Window w(ini);
    TMain* m = w.m;
    EXPECT_TRUE(w.messages.empty());
    EXPECT_EQ(m->Left(), 33);
    EXPECT_EQ(m->Top(), 44);
    EXPECT_EQ(m->Width(), 700);
    EXPECT_EQ(m->Height(), 500);
    EXPECT_EQ(m->RvGB->Width(), 222);
    EXPECT_EQ(m->Layout, 2);
    EXPECT_TRUE(m->mLayout2->Checked());
    EXPECT_EQ(m->TRComboHistoryLen, 5);
    EXPECT_EQ(m->TrLineBreak, std::string(1, '\0'));
    EXPECT_TRUE(Item(m, "mAscTrLb0")->Checked());
    EXPECT_EQ(m->RvLineBreak, '\r');
    EXPECT_TRUE(Item(m, "mAscRvLbR")->Checked());
    EXPECT_EQ(m->tmr1->Interval(), 250);
    EXPECT_EQ(m->TmrEd->Text(), "0.25");
    EXPECT_FALSE(m->TmrEnCB->Checked());  // the timer always starts off
    EXPECT_FALSE(m->tmr1->Enabled());
    EXPECT_FALSE(m->Timergb->Visible());
    EXPECT_EQ(m->DataFormat, 4);
    EXPECT_TRUE(m->pmOutput->Items()->Items(4)->Checked());
    EXPECT_TRUE(m->nastrp->Visible());
    EXPECT_TRUE(m->dRVcb->Checked());
    EXPECT_FALSE(m->ReceptionEnabled);
    EXPECT_TRUE(m->mShowWrites->Checked());
    EXPECT_FALSE(m->mStayonTop->Checked());
    EXPECT_EQ(m->RVPnlTime, 4);
    EXPECT_TRUE(m->mTimeFreeFormat->Checked());
    EXPECT_EQ(m->RVPnlTimeFormat, "hh:nn");
    EXPECT_EQ(m->mTimeFreeFormat->Caption(), "Free format (hh:nn)...");
    EXPECT_TRUE(m->mTimecaninterruptdatarow->Checked());
    EXPECT_TRUE(m->Precisetimecalc1->Checked());
    EXPECT_FALSE(m->ShowErrorsm->Checked());
    EXPECT_FALSE(bool(m->cp1->OnReceiveError));  // line errors are not shown
    EXPECT_FALSE(bool(m->cp2->OnReceiveError));
    EXPECT_TRUE(m->RxPanel->ShowASCIInonvisiblecodes);
    EXPECT_FALSE(m->RxPanel->InfiniteList());
    EXPECT_FALSE(m->Infinitem->Checked());
    EXPECT_TRUE(m->mShowASCIInonvisiblecodes->Checked());
    EXPECT_TRUE(m->CBRS485->Checked());
    EXPECT_EQ(m->TRFormat, 2);
    EXPECT_EQ(m->sbTRFormat->Caption(), "ASC");
    EXPECT_TRUE(m->mAddLnBefTr->Checked());
    EXPECT_TRUE(m->Disableondeactivate1->Checked());
    EXPECT_EQ(m->PortScanMethod, 0);
    EXPECT_TRUE(m->mPortScanMeth->Items(0)->Checked());
    EXPECT_FALSE(m->mRetrieveportdescriptions->Checked());
    EXPECT_EQ(m->PollingIndex, 4);
    EXPECT_EQ(m->cp1->PollingDelay(), 500);
    EXPECT_EQ(m->CPUSpeed, 2400000);
    EXPECT_EQ(m->lb1->Font().Name(), "Liberation Mono");
    EXPECT_EQ(m->lb1->Font().Size(), 11);
    EXPECT_EQ(m->Fontm->Caption(), "Font (Liberation Mono, 11)...");
    ASSERT_EQ(m->TrBCB->Items().Count(), 2);
    EXPECT_EQ(m->TrBCB->Items().Strings(0), "  spaced  ");
    EXPECT_EQ(m->TrBCB->Items().Strings(1), "\"quoted\"");
    EXPECT_EQ(m->TrBCB->Text(), " 1 2 3 ");
    EXPECT_EQ(m->N11->Caption(), " first ");
    EXPECT_EQ(m->alt51->Caption(), "<empty>");
    EXPECT_EQ(m->N9->Caption(), "<empty>");
    // Slot 11 comes back and is applied.
    EXPECT_EQ(m->speedcb->Text(), "115200");
    EXPECT_EQ(m->Parcb->ItemIndex(), 2);
    EXPECT_TRUE(m->rtscb->Checked());
    EXPECT_EQ(m->Profiles[11].AuxParams, "257|left over");
    EXPECT_EQ(m->CBProfile->Items().Count(), 0);
}

TEST(main_form_settings, missing_file_keeps_the_defaults_and_stay_on_top_is_applied) {
    test_support::TempDir dir;
    const std::string ini = dir.File("vostrel.ini");
    {
        Window w(ini);
        EXPECT_TRUE(w.messages.empty());
        TMain* m = w.m;
        EXPECT_EQ(m->DataFormat, 1);
        EXPECT_EQ(m->TrLineBreak, "\r\n");
        EXPECT_EQ(m->RvLineBreak, '\n');
        EXPECT_EQ(m->RVPnlTime, 2);
        EXPECT_EQ(m->PollingIndex, 2);
        EXPECT_EQ(m->RvGB->Width(), 270);
        EXPECT_EQ(m->tmr1->Interval(), 100);
        EXPECT_EQ(m->TrBCB->Items().Count(), 0);
        EXPECT_EQ(m->N11->Caption(), "<empty>");  // absent patterns keep their caption
        EXPECT_FALSE(m->rtscb->Checked());  // slot 11 stays cleared: RTS off
        EXPECT_TRUE(m->DTRcb->Checked());
        EXPECT_FALSE(std::filesystem::exists(ini));  // reading writes nothing
    }
    WriteFile(ini, "[Main]\r\nStayOnTop=1\r\n");
    Window w(ini);
    EXPECT_TRUE(w.m->mStayonTop->Checked());
    EXPECT_EQ(w.m->FormStyle(), vcl::TFormStyle::fsStayOnTop);
}

TEST(main_form_settings, values_are_checked_as_they_are_read) {
    test_support::TempDir dir;
    const std::string ini = dir.File("vostrel.ini");
    // Only the low byte of the line breaks counts; out-of-range values fall
    // back; a non-numeric value reads as the default.
    WriteFile(ini,
              "[Main]\r\nTRPanelWidth=10\r\nLayout=7\r\nTRLineBreak=258\r\nRVLineBreak=259\r\n"
              "DataFormat=260\r\nRVPnlTime=9\r\nTRFormat=3\r\nPortScanMethod=5\r\nPollingDelay=-1\r\n"
              "TimerValue=abc\r\nLeft=x\r\n");
    {
        Window w(ini);
        TMain* m = w.m;
        EXPECT_TRUE(w.messages.empty());
        EXPECT_EQ(m->RvGB->Width(), 30);
        EXPECT_EQ(m->Layout, 1);
        EXPECT_EQ(m->TrLineBreak, "\r\n");
        EXPECT_TRUE(Item(m, "mAscTrLbRN")->Checked());
        EXPECT_EQ(m->RvLineBreak, '\0');
        EXPECT_TRUE(Item(m, "mAscRvLb0")->Checked());
        EXPECT_EQ(m->DataFormat, 4);
        EXPECT_EQ(m->RVPnlTime, 2);
        EXPECT_TRUE(m->mTimeInRVPanel->Items(2)->Checked());
        EXPECT_EQ(m->TRFormat, 0);
        EXPECT_EQ(m->PortScanMethod, 2);
        EXPECT_EQ(m->PollingIndex, 2);
        EXPECT_EQ(m->tmr1->Interval(), 100);
        EXPECT_EQ(m->Left(), 120);
    }
    WriteFile(ini,
              "[Main]\r\nTRLineBreak=261\r\nRVLineBreak=2\r\nDataFormat=6\r\nRVPnlTime=0\r\n"
              "PollingDelay=0\r\n");
    Window w(ini);
    TMain* m = w.m;
    EXPECT_EQ(m->TrLineBreak, "\r\n");
    EXPECT_EQ(m->RvLineBreak, '\n');
    EXPECT_EQ(m->DataFormat, 1);  // the separator's position is no data format
    EXPECT_TRUE(m->pmOutput->Items()->Items(1)->Checked());
    EXPECT_EQ(m->RVPnlTime, 0);
    EXPECT_FALSE(m->mTimecaninterruptdatarow->Enabled());
    EXPECT_EQ(m->PollingIndex, m->N1ms1->Enabled() ? 0 : 1);
}

TEST(main_form_settings, history_rewritten_shorter_keeps_old_keys_that_are_not_read_back) {
    test_support::TempDir dir;
    const std::string ini = dir.File("vostrel.ini");
    {
        Window w(ini);
        for (int i = 0; i < 7; ++i) w.m->TrBCB->Items().Add("entry" + std::to_string(i));
        w.m->SaveConfig(false);
        for (int i = 6; i >= 3; --i) w.m->TrBCB->Items().Delete(i);
        w.m->SaveConfig(false);
    }
    vcl::TIniFile file(ini);
    EXPECT_EQ(file.ReadInteger("TrHistory", "Count", -1), 3);
    EXPECT_EQ(file.ReadString("TrHistory", "6", ""), "entry6");
    Window w(ini);
    ASSERT_EQ(w.m->TrBCB->Items().Count(), 3);
    EXPECT_EQ(w.m->TrBCB->Items().Strings(2), "entry2");
}

// Counts how often a file in a folder is replaced or rewritten.
class FileWatch {
public:
    FileWatch(const std::string& folder, std::string name) : name_(std::move(name)) {
        fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        inotify_add_watch(fd_, folder.c_str(), IN_MOVED_TO | IN_CLOSE_WRITE);
    }
    ~FileWatch() { close(fd_); }
    int Writes() {
        alignas(inotify_event) char buf[65536];
        for (ssize_t n; (n = read(fd_, buf, sizeof buf)) > 0;)
            for (char* p = buf; p < buf + n;) {
                auto* e = reinterpret_cast<inotify_event*>(p);
                if (e->len && name_ == e->name) ++writes_;
                p += sizeof(inotify_event) + e->len;
            }
        return writes_;
    }

private:
    int fd_ = -1;
    std::string name_;
    int writes_ = 0;
};

TEST(main_form_settings, history_reads_at_most_its_length_and_saving_writes_the_file_once) {
    test_support::TempDir dir;
    const std::string ini = dir.File("vostrel.ini");
    std::string history = "[TrHistory]\r\nCount=999999999\r\n999999999=last\r\n";
    for (int i = 0; i < 10; ++i) history += std::to_string(i) + "=line" + std::to_string(i) + "\r\n";
    // A length in range is taken, and only that many entries are read.
    WriteFile(ini, "[Main]\r\nTRComboHistoryLen=5\r\n" + history);
    {
        Window w(ini);
        EXPECT_EQ(w.m->TRComboHistoryLen, 5);
        ASSERT_EQ(w.m->TrBCB->Items().Count(), 5);
        EXPECT_EQ(w.m->TrBCB->Items().Strings(4), "line4");
    }
    // An absurd one keeps the default.
    WriteFile(ini, "[Main]\r\nTRComboHistoryLen=999999999\r\n" + history);
    {
        Window w(ini);
        EXPECT_EQ(w.m->TRComboHistoryLen, 7);
        EXPECT_EQ(w.m->TrBCB->Items().Count(), 7);
    }
    WriteFile(ini, "[Main]\r\nTRComboHistoryLen=-1\r\n" + history);
    {
        Window w(ini);
        EXPECT_EQ(w.m->TRComboHistoryLen, 7);
    }

    // A save, however many keys it writes, replaces the file once, whole.
    Window w(ini);
    w.m->TRComboHistoryLen = 1000;
    w.m->TrBCB->Items().Clear();
    for (int i = 0; i < 1000; ++i) w.m->TrBCB->Items().Add("entry" + std::to_string(i));
    FileWatch watch(dir.path(), "vostrel.ini");
    w.m->SaveConfig(true);
    EXPECT_EQ(watch.Writes(), 1);
    w.Close();
    EXPECT_EQ(watch.Writes(), 2);
    EXPECT_TRUE(w.messages.empty());
    vcl::TIniFile file(ini);
    EXPECT_EQ(file.ReadInteger("TrHistory", "Count", -1), 1000);
    EXPECT_EQ(file.ReadString("TrHistory", "999", ""), "entry999");
    EXPECT_EQ(file.ReadString("Config11", "Speed", ""), "9600");
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        EXPECT_EQ(e.path().filename(), "vostrel.ini");  // no temporary file left
}

TEST(main_form_settings, the_window_fits_a_screen_and_bad_profiles_are_reported) {
    test_support::TempDir dir;
    const std::string ini = dir.File("vostrel.ini");
    vcl::EnsureApplication();
    const std::vector<vcl::TRect> areas = vcl::ScreenWorkAreas();
    ASSERT_FALSE(areas.empty());
    const vcl::TRect& area = areas.front();
    auto on_a_screen = [&](const vcl::TRect& r) {
        for (const vcl::TRect& a : areas)
            if (std::min(r.Right, a.Right) - std::max(r.Left, a.Left) >= 50 &&
                std::min(r.Bottom, a.Bottom) - std::max(r.Top, a.Top) >= 30)
                return true;
        return false;
    };
    // Absurd sizes are the work area's; the column leaves the receive group room.
    WriteFile(ini, "[Main]\r\nLeft=0\r\nTop=0\r\nWidth=2147483647\r\nHeight=2147483647\r\n"
                   "TRPanelWidth=100000\r\n");
    {
        Window w(ini);
        EXPECT_TRUE(w.messages.empty());
        EXPECT_LE(w.m->Width(), area.Width());
        EXPECT_LE(w.m->Height(), area.Height());
        EXPECT_LE(w.m->RvGB->Width() + w.m->Splitter1->Width() + 25, w.m->ClientWidth());
        EXPECT_GE(w.m->TrGB->Width(), 25);
        w.Close();
        vcl::TIniFile file(ini);
        EXPECT_LE(file.ReadInteger("Main", "Width", -1), area.Width());
    }
    // A window left off every screen comes back onto the nearest one.
    for (const char* place : {"Left=-30000\r\nTop=-30000", "Left=2000000000\r\nTop=100",
                              "Left=100\r\nTop=2147483647"}) {
        WriteFile(ini, std::string("[Main]\r\n") + place + "\r\nWidth=500\r\nHeight=400\r\n");
        Window w(ini);
        EXPECT_TRUE(on_a_screen(w.m->BoundsRect())) << place;
        EXPECT_EQ(w.m->Width(), std::min(500, area.Width())) << place;
    }
    // A profile whose port is a foreign class that does not exist.
    WriteFile(ini, "[Config11]\r\nPort=300\r\n");
    {
        Window w(ini);
        ASSERT_EQ(w.messages.size(), 1u);
        EXPECT_EQ(w.messages[0].Text, "Foreign port with id=300 not found");
    }
    // Ports that are no port numbers at all: the first stops the applying.
    WriteFile(ini, "[Config11]\r\nPort=-5\r\nPort2=100000\r\n");
    {
        Window w(ini);
        ASSERT_EQ(w.messages.size(), 1u);
        EXPECT_EQ(w.messages[0].Text, "Error setting MainPort parameters\r\rWrong Main Port value");
    }
    WriteFile(ini, "[Config11]\r\nPort2=100000\r\n");
    {
        Window w(ini);
        ASSERT_EQ(w.messages.size(), 1u);
        EXPECT_EQ(w.messages[0].Text, "Error setting AuxPort parameters\r\rWrong Main Port value");
    }
    // A rate no port takes: both ports' errors reach the user.
    for (const char* speed : {"-5", "2147483647"}) {
        WriteFile(ini, std::string("[Config11]\r\nSpeed=") + speed + "\r\n");
        Window w(ini);
        ASSERT_EQ(w.messages.size(), 1u) << speed;
        EXPECT_EQ(w.messages[0].Text,
                  "Error setting MainPort parameters\r\rWrong speed number\r\r"
                  "Error setting AuxPort parameters\r\rWrong speed number");
        EXPECT_EQ(w.m->speedcb->Items().IndexOf(speed), -1);
    }
}

TEST(main_form_settings, read_only_keys_and_sections_survive_saving) {
    test_support::TempDir dir;
    const std::string ini = dir.File("vostrel.ini");
    WriteFile(ini,
              "[PortMap]\r\nCOM200=/dev/null-device\r\nCOMx=/dev/ignored\r\n"
              "[Main]\r\nNoTimeBeginPeriod=1\r\nCurrentProfile=3\r\n"
              "[Config1]\r\nName=Keep\r\nSpeed=1200\r\n");
    Window w(ini, false);
    int selected = 11;
    bool no_period = false;
    w.m->ReadConfig(selected, no_period);
    EXPECT_TRUE(no_period);
    EXPECT_EQ(selected, 3);
    EXPECT_EQ(win::ComPortDevice(200), "/dev/null-device");
    w.m->Profiles[1].Speed = 4800;  // not written on close
    w.m->SaveConfig(false);
    const std::string text = ReadFile(ini);
    EXPECT_EQ(text.rfind("[PortMap]\r\nCOM200=/dev/null-device\r\nCOMx=/dev/ignored\r\n", 0), 0u);
    EXPECT_NE(text.find("NoTimeBeginPeriod=1\r\n"), std::string::npos);
    EXPECT_NE(text.find("[Config1]\r\nName=Keep\r\nSpeed=1200\r\n\r\n"), std::string::npos);
    win::SetComPortMapOverrides({});
}

TEST(main_form_settings, garbage_long_lines_and_absurd_values_never_crash) {
    test_support::TempDir dir;
    const std::string ini = dir.File("vostrel.ini");
    std::string garbage;
    for (int i = 0; i < 4096; ++i) garbage += static_cast<char>((i * 7919) & 0xFF);
    garbage += "\r\n[Main]\r\nLeft=2147483647\r\nTop=-2147483648\r\nWidth=-5\r\nHeight=99999999\r\n"
               "TRPanelWidth=2147483647\r\nTimerValue=-100\r\nFontSize=0\r\nFontName=\r\nCPUSpeed=-7\r\n"
               "CurrentProfile=99\r\nRVPnlTimeFormat=" +
               std::string(100000, 'y') + "\r\n[TrHistory]\r\nCount=2147483647\r\n0=" +
               std::string(1000000, 'z') + "\r\n[Config11]\r\nPort=-5\r\nPort2=100000\r\n"
               "DataBits=9\r\nStopBits=-1\r\nParity=77\r\nSpeed=2147483647\r\n";
    WriteFile(ini, garbage);
    Window w(ini);
    TMain* m = w.m;
    // The profile's main port is no port number: that stops the applying.
    ASSERT_EQ(w.messages.size(), 1u);
    EXPECT_EQ(w.messages[0].Text, "Error setting MainPort parameters\r\rWrong Main Port value");
    EXPECT_LE(m->Left(), 32767);
    EXPECT_GE(m->Top(), -32767);
    EXPECT_LE(m->RvGB->Width(), 32767);
    EXPECT_EQ(m->tmr1->Interval(), 0);
    EXPECT_EQ(m->CPUSpeed, 0);  // counts as not measured
    // Values are read whole, however long.
    EXPECT_EQ(m->RVPnlTimeFormat, std::string(100000, 'y'));
    ASSERT_EQ(m->TrBCB->Items().Count(), 1);  // only the keys that are there
    EXPECT_EQ(m->TrBCB->Items().Strings(0), std::string(1000000, 'z'));
    EXPECT_GE(m->lb1->Font().Size(), 1);  // size 0 was not taken
    EXPECT_FALSE(m->lb1->Font().Name().empty());
    EXPECT_EQ(m->ComNcb->ItemIndex(), -1);
    EXPECT_EQ(m->cbComN2->Text(), "[No]");
    EXPECT_EQ(m->Databitscb->Text(), "8");
    EXPECT_EQ(m->Parcb->Text(), "None");
    EXPECT_EQ(m->speedcb->Items().IndexOf("2147483647"), -1);
    EXPECT_EQ(m->CBProfile->ItemIndex(), -1);
}

TEST(main_form_settings, a_settings_file_that_is_a_fifo_holds_neither_the_start_nor_the_close) {
    test_support::TempDir dir;
    const test_support::Fifo fifo(dir.File("vostrel.ini"));
    ASSERT_TRUE(fifo.Made());
    {
        // The start says which file and why, and goes on with the defaults.
        Window w(fifo.path());
        TMain* m = w.m;
        ASSERT_EQ(w.messages.size(), 1u);
        EXPECT_EQ(w.messages[0].Text, "Can't read configuration from file \"" + fifo.path() + "\"\r\rCannot read \"" +
                                          fifo.path() + "\": it is not a regular file (a folder, a device or a pipe)");
        EXPECT_EQ(w.messages[0].Caption, "VOSTREL");
        EXPECT_EQ(m->ComNcb->Items().Strings(m->ComNcb->Items().Count() - 1), "Ethernet");
        EXPECT_EQ(m->RVPnlTimeFormat, "yyyy-mm-dd hh:nn:ss.zzz");
        // Closing writes nothing into it (that would wait for a reader).
        w.Close();
        ASSERT_EQ(w.messages.size(), 2u);
        EXPECT_EQ(w.messages[1].Text,
                  "Unable to write to " + fifo.path() + ": it is not a regular file (a device or a pipe)");
    }
    EXPECT_FALSE(fifo.Rescued());
    EXPECT_TRUE(fifo.StillFifo());
}

TEST(main_form_settings, values_come_back_as_they_were_written_whatever_their_ends_and_length) {
    test_support::TempDir dir;
    const std::string ini = dir.File("vostrel.ini");
    // A plug-in whose file name ends in a blank, loaded from the settings.
    const std::string plugin = dir.File("blank.pas ");
    vcl::SaveStrToFile("procedure OnLoad; begin end;", plugin);
    const std::string timeFormat = "'['hh:nn:ss']' ";
    const std::string longHistory(3000, 'h'), longLine(3000, 'c'), longPattern(3000, 'p');
    {
        Window w(ini);
        TMain* m = w.m;
        m->RVPnlTimeFormat = timeFormat;
        m->TrBCB->Items().Add(longHistory);
        m->TrBCB->Items().Add("\"quoted\"");
        m->TrBCB->SetText(longLine);
        m->N11->SetCaption(longPattern);
        m->N9->SetCaption("'single'");
        m->LoadPlugin(plugin);
        ASSERT_EQ(m->PluginPath, plugin);
        std::vector<std::string> names = {"\"quoted\"", "  spaced  "};
        vcl::Application->InputHook = [&](const std::string&, const std::string&, std::string& value) {
            value = names.front();
            names.erase(names.begin());
            return true;
        };
        m->SavecfgbClick(m->Saveb);
        m->SavecfgbClick(m->Saveb);
        vcl::Application->InputHook = nullptr;
        ASSERT_EQ(m->CBProfile->Items().Count(), 2);
        w.Close();
        EXPECT_EQ(w.messages.size(), 0u);
    }
    // Texts with a blank or a quote at an end are written in one pair of
    // quotes; the keys always quoted keep exactly one pair; others stay bare.
    const std::string text = ReadFile(ini);
    EXPECT_NE(text.find("RVPnlTimeFormat=\"'['hh:nn:ss']' \"\r\n"), std::string::npos) << text.substr(0, 2000);
    EXPECT_NE(text.find("1=\"\"quoted\"\"\r\n"), std::string::npos);
    EXPECT_NE(text.find("2=\"'single'\"\r\n"), std::string::npos);
    EXPECT_NE(text.find("[Config1]\r\nName=\"\"quoted\"\"\r\n"), std::string::npos);
    EXPECT_NE(text.find("[Config2]\r\nName=\"  spaced  \"\r\n"), std::string::npos);
    EXPECT_NE(text.find("PlugPath=\"" + plugin + "\"\r\n"), std::string::npos);
    EXPECT_NE(text.find("TRComboHistoryLen=7\r\n"), std::string::npos);

    // A new window reads every value whole and as it was.
    for (int round = 0; round < 2; ++round) {
        Window w(ini);
        TMain* m = w.m;
        EXPECT_TRUE(w.messages.empty());
        EXPECT_EQ(m->RVPnlTimeFormat, timeFormat);
        ASSERT_EQ(m->TrBCB->Items().Count(), 2);
        EXPECT_EQ(m->TrBCB->Items().Strings(0), longHistory);
        EXPECT_EQ(m->TrBCB->Items().Strings(1), "\"quoted\"");
        EXPECT_EQ(m->TrBCB->Text(), longLine);
        EXPECT_EQ(m->N11->Caption(), longPattern);
        EXPECT_EQ(m->N9->Caption(), "'single'");
        ASSERT_EQ(m->CBProfile->Items().Count(), 2);
        EXPECT_EQ(m->CBProfile->Items().Strings(0), "\"quoted\"");
        EXPECT_EQ(m->CBProfile->Items().Strings(1), "  spaced  ");
        EXPECT_EQ(m->Profiles[2].PlugPath, plugin);
        // The selected profile's plug-in is loaded from the name read back.
        EXPECT_EQ(m->PluginPath, plugin);
        // Written back and read once more, nothing is cut or changed.
        w.Close();
    }
}

TEST(main_form_settings, files_written_before_read_the_same_values_as_they_always_did) {
    test_support::TempDir dir;
    const std::string ini = dir.File("vostrel.ini");
    // As older versions wrote them: free texts bare (the blank that ended
    // the time format is lost to the reader), the history, current line,
    // patterns and foreign-port settings in quotes; and edited by hand.
    WriteFile(ini,
              "[Main]\r\nRVPnlTimeFormat='['hh:nn:ss']' \r\nCurrentProfile=0\r\n"
              "[TrHistory]\r\nCount=4\r\nCurrent=\"  spaced  \"\r\n0=\"\"quoted\"\"\r\n1=\"'single'\"\r\n"
              "2='hand'\r\n3=  bare  \r\n"
              "[TrPatterns]\r\n1=\" first \"\r\n2=\"\"\r\n"
              "[Config1]\r\nName=\"quoted\"\r\n[Config2]\r\nName=  spaced  \r\n"
              "[Config11]\r\nAuxParams=\"257|a\"\r\nPlugPath=\r\n");
    for (int round = 0; round < 2; ++round) {
        // The same values, and the same again once written back and read.
        Window w(ini);
        TMain* m = w.m;
        EXPECT_TRUE(w.messages.empty());
        EXPECT_EQ(m->RVPnlTimeFormat, "['hh:nn:ss']") << round;
        ASSERT_EQ(m->TrBCB->Items().Count(), 4);
        EXPECT_EQ(m->TrBCB->Items().Strings(0), "\"quoted\"") << round;
        EXPECT_EQ(m->TrBCB->Items().Strings(1), "'single'") << round;
        EXPECT_EQ(m->TrBCB->Items().Strings(2), "hand") << round;
        EXPECT_EQ(m->TrBCB->Items().Strings(3), "bare") << round;
        EXPECT_EQ(m->TrBCB->Text(), "  spaced  ") << round;
        EXPECT_EQ(m->N11->Caption(), " first ") << round;
        EXPECT_EQ(m->N9->Caption(), "") << round;
        ASSERT_EQ(m->CBProfile->Items().Count(), 2);
        EXPECT_EQ(m->CBProfile->Items().Strings(0), "quoted") << round;
        EXPECT_EQ(m->CBProfile->Items().Strings(1), "spaced") << round;
        EXPECT_EQ(m->Profiles[11].AuxParams, "257|a") << round;
        m->SaveConfig(true);
    }
    // Texts without a blank or a quote at an end are still written bare.
    const std::string text = ReadFile(ini);
    EXPECT_NE(text.find("RVPnlTimeFormat=['hh:nn:ss']\r\n"), std::string::npos);
    EXPECT_NE(text.find("[Config1]\r\nName=quoted\r\n"), std::string::npos);
}

TEST(main_form_settings, a_plugin_path_typed_in_utf8_or_kept_in_the_code_page_names_the_same_file) {
    test_support::TempDir dir;
    const std::string ini = dir.File("vostrel.ini");
    std::filesystem::create_directories(dir.File("日本"));
    std::filesystem::create_directories(dir.File("Плагины"));
    const std::string typed = dir.File("日本/плагин.pas");    // as an editor of this system saves it
    const std::string legacy = dir.File("Плагины/old.pas");  // as the program always wrote Cyrillic
    WriteFile(typed, "procedure OnLoad; begin AddMsg('typed'); end;");
    WriteFile(legacy, "procedure OnLoad; begin AddMsg('legacy'); end;");
    const std::string legacyInPage = rtl::Utf8ToAnsi(legacy);
    WriteFile(ini, "[Main]\r\nCurrentProfile=1\r\n[Config1]\r\nName=Old\r\nPlugPath=" + legacyInPage +
                       "\r\n[Config11]\r\nPlugPath=" + typed + "\r\n");
    Window w(ini);
    TMain* m = w.m;
    EXPECT_TRUE(w.messages.empty()) << w.messages[0].Text;
    EXPECT_EQ(m->Profiles[1].PlugPath, legacyInPage);
    EXPECT_EQ(rtl::SysPath(m->Profiles[1].PlugPath), legacy);
    EXPECT_EQ(rtl::SysPath(m->Profiles[11].PlugPath), typed);
    EXPECT_EQ(rtl::SysPath(m->PluginPath), legacy);  // the selected profile's
    m->CBProfile->SetItemIndex(-1);
    m->ApplyConf(11);
    EXPECT_EQ(rtl::SysPath(m->PluginPath), typed);
    EXPECT_TRUE(w.messages.empty()) << w.messages[0].Text;
}

// Folders named in the code page whose bytes are valid UTF-8 as well: НІ is
// CD B2 (U+0372 in UTF-8), Её C5 B8 (U+0178), ВІ C2 B2 (U+00B2), Д№1 C4 B9 31
// (U+0139 and a digit).
TEST(main_form_settings, a_stored_plugin_path_names_the_file_it_named_through_restarts_and_other_saves) {
    test_support::TempDir dir;
    const std::string ini = dir.File("vostrel.ini");
    std::vector<std::string> stored;  // PlugPath values, Config1 to Config4
    int k = 1;
    for (const std::string folder : {"НІ", "Её", "ВІ", "Д№1"}) {
        std::filesystem::create_directories(dir.File(folder));
        const std::string plugin = dir.File(folder + "/p.pas");
        WriteFile(plugin, "procedure OnLoad; begin AddMsg('loaded " + std::to_string(k++) + "'); end;");
        // As the program writes it: in its code page, which is UTF-8 too.
        stored.push_back(rtl::FromSysPath(plugin));
        ASSERT_EQ(stored.back(), rtl::Utf8ToAnsi(plugin));
        ASSERT_TRUE(rtl::IsUtf8BeyondAscii(stored.back())) << folder;
    }
    // Typed by hand in UTF-8; and a value valid as both that names nothing.
    std::filesystem::create_directories(dir.File("日本"));
    const std::string typed = dir.File("日本/плагин.pas");
    WriteFile(typed, "procedure OnLoad; begin AddMsg('typed'); end;");
    const std::string gone = rtl::FromSysPath(dir.File("НІ/gone.pas"));
    std::string text = "[Main]\r\nCurrentProfile=1\r\n";
    for (int i = 0; i < 4; ++i)
        text += "[Config" + std::to_string(i + 1) + "]\r\nName=P" + std::to_string(i + 1) +
                "\r\nPlugPath=" + stored[i] + "\r\n";
    text += "[Config5]\r\nName=Typed\r\nPlugPath=" + typed + "\r\n";
    text += "[Config6]\r\nName=Gone\r\nPlugPath=" + gone + "\r\n";
    text += "[Config11]\r\nPlugPath=" + typed + "\r\n";
    WriteFile(ini, text);
    auto keeps = [&](const std::string& file, int slot, const std::string& value) {
        const std::string section = "[Config" + std::to_string(slot) + "]";
        const std::size_t at = file.find(section);
        const std::size_t next = file.find("\r\n[", at + 1);
        const std::string body = file.substr(at, next == std::string::npos ? std::string::npos : next - at);
        return body.find("\r\nPlugPath=" + value + "\r\n") != std::string::npos;
    };
    for (int round = 0; round < 2; ++round) {
        Window w(ini);
        TMain* m = w.m;
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(m->Profiles[i + 1].PlugPath, stored[i]) << round << " " << i;
            m->CBProfile->SetItemIndex(i);
            m->CBProfileChange(m->CBProfile);
            EXPECT_EQ(m->PluginPath, stored[i]) << round << " " << i;
            EXPECT_EQ(w.LastMsg(), "loaded " + std::to_string(i + 1)) << round << " " << i;
        }
        EXPECT_TRUE(w.messages.empty()) << w.messages[0].Text;
        // The name typed in UTF-8 is the file it spells.
        EXPECT_EQ(rtl::SysPath(m->Profiles[5].PlugPath), typed);
        EXPECT_EQ(rtl::SysPath(m->Profiles[11].PlugPath), typed);
        m->CBProfile->SetItemIndex(4);
        m->CBProfileChange(m->CBProfile);
        EXPECT_EQ(w.LastMsg(), "typed");
        EXPECT_EQ(m->Profiles[6].PlugPath, gone);
        // Saving a profile rewrites every slot: those nobody touched keep
        // their values byte for byte, and so does the one saved with the
        // plug-in it had.
        m->StoreProfile(5, "Typed");
        m->SaveConfig(true);
        const std::string saved = ReadFile(ini);
        for (int i = 0; i < 4; ++i) EXPECT_TRUE(keeps(saved, i + 1, stored[i])) << round << " " << i << saved;
        EXPECT_TRUE(keeps(saved, 5, typed)) << saved;
        EXPECT_TRUE(keeps(saved, 6, gone)) << saved;
        EXPECT_TRUE(keeps(saved, 11, typed)) << saved;
        EXPECT_TRUE(w.messages.empty()) << w.messages[0].Text;
        if (round == 0) {
            w.Close();
            EXPECT_TRUE(keeps(ReadFile(ini), 11, typed)) << ReadFile(ini);
        } else {
            // Another plug-in, loaded by hand, is written as the program
            // spells it.
            m->LoadPlugin(stored[3]);
            w.Close();
            EXPECT_TRUE(keeps(ReadFile(ini), 11, stored[3])) << ReadFile(ini);
        }
    }
}

TEST(main_form_settings, a_file_that_cannot_be_written_is_reported_on_close_and_the_window_closes) {
    test_support::TempDir dir;
    const std::string ini = dir.File("missing-folder/vostrel.ini");
    Window w(ini);
    EXPECT_THROW(w.m->SaveConfig(true), vcl::EIniFileException);
    w.Close();
    ASSERT_EQ(w.messages.size(), 1u);
    EXPECT_EQ(w.messages[0].Text, "Unable to write to " + ini + ": No such file or directory");
    EXPECT_EQ(w.messages[0].Caption, "VOSTREL");
    EXPECT_EQ(w.m->PluginVars, nullptr);  // the rest of the closing ran before
}

}  // namespace
