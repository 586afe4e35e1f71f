#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <QImage>
#include <QWidget>

#include "platform/rtl/exceptions.h"
#include "platform/vcl/forms.h"
#include "platform/vcl/std_ctrls.h"
#include "ports/ethernet_port.h"
#include "support/pty.h"
#include "support/main_window.h"
#include "support/qt_app.h"
#include "support/temp_dir.h"
#include "terminal/main_form.h"

namespace {

using terminal::TMain;

constexpr vcl::TColor kFailed = 0x8080FF;

// An activated main window on a settings file of its own; messages and the
// input dialog are answered by the test. COM numbers mapped by the test are
// forgotten afterwards.
struct Window : test_support::MainWindow {
    std::vector<std::string>& messages = Messages;
    std::string input;
    bool cancel = false;
    TMain*& m = main;

    Window() : BasicMainWindow({.Start = false}) {
        vcl::Application->InputHook = [this](const std::string&, const std::string&, std::string& v) {
            v = input;
            return !cancel;
        };
    }
    ~Window() {
        Free();
        ::unsetenv("VOSTREL_COMPORTS");
    }
    static int Index(vcl::TComboBox* c, int port) { return c->Items().IndexOfObject(port); }
    // A user's choice in a list (its change handler runs).
    static void Choose(vcl::TComboBox* c, int index) { c->SelectByUser(index); }
    // The loop until done(), within a limit of the time the test was given.
    static void Pump(const std::function<bool()>& done, int ms = 3000) {
        test_support::PumpUntil(done, std::chrono::milliseconds(ms));
    }
    bool PanelHas(const std::string& text) const {
        const auto& lines = m->RxPanel->Lines();
        for (int i = 0; i < lines.LineCount(); ++i)
            if (lines.GetLine(i).find(text) != std::string::npos) return true;
        return false;
    }
};

std::string ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const rtl::Exception& e) {
        return e.Message;
    }
    return "<none>";
}

TEST(main_form_ports, scan_lists_the_ports_found_by_each_method_and_ethernet_only_in_the_main_list) {
    test_support::PtyPair low, high;
    low.MapAsCom(3);
    high.MapAsCom(45);
    Window w;
    TMain* m = w.Start();

    for (vcl::TComboBox* c : {m->ComNcb, m->cbComN2}) {
        EXPECT_EQ(c->Items().Strings(0), "[No]");
        EXPECT_EQ(c->ItemIndex(), 0);
        ASSERT_GT(Window::Index(c, 3), 0);
        EXPECT_GT(Window::Index(c, 45), Window::Index(c, 3));
        // The description follows a tab.
        EXPECT_EQ(c->Items().Strings(Window::Index(c, 3)).rfind("COM3\t(", 0), 0u);
    }
    const int last = m->ComNcb->Items().Count() - 1;
    EXPECT_EQ(m->ComNcb->Items().Strings(last), "Ethernet");
    EXPECT_EQ(m->ComNcb->Items().Objects(last), 257);
    EXPECT_EQ(Window::Index(m->cbComN2, 257), -1);

    // Probing COM1-COM9 and COM1-COM19 finds COM3 but not COM45.
    for (int method : {0, 1}) {
        m->mPortScanMeth->Items(method)->Click();
        EXPECT_EQ(m->PortScanMethod, method);
        EXPECT_TRUE(m->mPortScanMeth->Items(method)->Checked());
        EXPECT_GT(Window::Index(m->ComNcb, 3), 0);
        EXPECT_EQ(Window::Index(m->ComNcb, 45), -1);
        EXPECT_EQ(Window::Index(m->cbComN2, 45), -1);
    }
    m->mPortScanMeth->Items(2)->Click();
    EXPECT_GT(Window::Index(m->ComNcb, 45), 0);

    // Without descriptions the entry is the port name alone.
    m->mRetrieveportdescriptions->Click();
    EXPECT_FALSE(m->mRetrieveportdescriptions->Checked());
    EXPECT_EQ(m->ComNcb->Items().Strings(Window::Index(m->ComNcb, 45)), "COM45");
    EXPECT_TRUE(m->PortDescriptions.empty());

    // Re-reading keeps the chosen ports and opens them again.
    m->ForceComNumber(45, true);
    m->ForceComNumber(3, false);
    m->Rereadportsb->Click();
    EXPECT_EQ(m->ComNcb->Items().Objects(m->ComNcb->ItemIndex()), 45);
    EXPECT_EQ(m->cbComN2->Items().Objects(m->cbComN2->ItemIndex()), 3);
    EXPECT_TRUE(m->cp1->Connected());
    EXPECT_TRUE(m->cp2->Connected());
    EXPECT_TRUE(w.messages.empty());
}

TEST(main_form_ports, forcing_a_port_number_inserts_it_in_order_and_keeps_to_com_numbers) {
    test_support::PtyPair dev;
    dev.MapAsCom(3);
    Window w;
    TMain* m = w.Start();
    m->ForceComNumber(12, true);
    const int i12 = m->ComNcb->ItemIndex();
    EXPECT_EQ(m->ComNcb->Items().Strings(i12), "COM12");
    EXPECT_GT(i12, Window::Index(m->ComNcb, 3));
    EXPECT_LT(i12, Window::Index(m->ComNcb, 257));  // before the Ethernet entry
    m->ForceComNumber(12, true);                   // present: selected, not added again
    EXPECT_EQ(m->ComNcb->ItemIndex(), i12);
    m->ForceComNumber(2, false);
    EXPECT_EQ(m->cbComN2->Items().Objects(m->cbComN2->ItemIndex()), 2);
    EXPECT_LT(Window::Index(m->cbComN2, 2), Window::Index(m->cbComN2, 3));

    // Numbers above 255 are no COM ports: nothing is inserted, "[No]" is chosen.
    const int count = m->cbComN2->Items().Count();
    m->ForceComNumber(300, false);
    EXPECT_EQ(m->cbComN2->ItemIndex(), 0);
    EXPECT_EQ(m->cbComN2->Items().Count(), count);

    // A foreign class entry never reaches the serial component as a COM
    // number (257 would wrap round to COM1).
    test_support::PtyPair com1;
    com1.MapAsCom(1);
    m->ComNcb->SetItemIndex(Window::Index(m->ComNcb, 257));
    EXPECT_EQ(ErrorOf([&] { m->ApplyPortParams(false, true); }),
              "Error setting MainPort parameters\r\rWrong Main Port value");
    EXPECT_FALSE(m->cp1->Connected());

    EXPECT_EQ(TMain::ForeignClassIndex(999, false), -1);
    EXPECT_EQ(ErrorOf([] { TMain::ForeignClassIndex(999, true); }), "Foreign port with id=999 not found");
    EXPECT_GE(TMain::ForeignClassIndex(257, true), 0);
}

TEST(main_form_ports, choosing_a_port_opens_it_with_the_line_parameters_and_the_button_frees_it) {
    test_support::PtyPair dev;
    dev.MapAsCom(46);
    Window w;
    TMain* m = w.Start();
    m->speedcb->SetItemIndex(m->speedcb->Items().IndexOf("19200"));
    m->Databitscb->SetItemIndex(2);  // 7 bits
    m->Parcb->SetItemIndex(2);       // even
    m->Stopbcb->SetItemIndex(2);     // 2 stop bits
    Window::Choose(m->ComNcb, Window::Index(m->ComNcb, 46));
    ASSERT_TRUE(m->cp1->Connected());
    termios t = dev.SlaveTermios();
    EXPECT_EQ(dev.SlaveBaud(), 19200u);
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    // A pty forces 8 bits without parity on its termios: the component's own view.
    EXPECT_EQ(m->cp1->DataBits(), ports::db7BITS);
    EXPECT_EQ(m->cp1->Parity(), ports::ptEVEN);
    EXPECT_EQ(m->lblDataBits->Color(), vcl::clYellow);
    EXPECT_EQ(m->lblStopBits->Color(), vcl::clYellow);
    EXPECT_NE(m->lblParity->Color(), vcl::clYellow);  // even parity is usual
    EXPECT_EQ(m->ComNcb->Tag, 0);
    EXPECT_EQ(m->lblSets->Color(), vcl::clWhite);
    EXPECT_FALSE(m->TmrPortConn->Enabled());

    // A parameter list's change reopens the port with the new value.
    Window::Choose(m->Databitscb, 3);
    EXPECT_TRUE(m->cp1->Connected());
    EXPECT_EQ(m->cp1->DataBits(), ports::db8BITS);
    EXPECT_EQ(m->lblDataBits->Color(), m->pnlCommPrms->Color());
    m->cbFlow->SetChecked(true);
    EXPECT_TRUE(dev.SlaveTermios().c_cflag & CRTSCTS);
    EXPECT_FALSE(m->rtscb->Enabled());
    EXPECT_EQ(m->cbFlow->Color(), vcl::clYellow);
    m->cbFlow->SetChecked(false);
    EXPECT_TRUE(m->rtscb->Enabled());

    // "Custom..": a new rate goes in before "Custom.." and is applied.
    const int custom = m->speedcb->Items().Count() - 1;
    w.input = "250000";
    Window::Choose(m->speedcb, custom);
    EXPECT_EQ(m->speedcb->Text(), "250000");
    EXPECT_EQ(m->speedcb->Items().Strings(custom + 1), "Custom..");
    EXPECT_EQ(m->cp1->BaudRateValue(), 250000u);
    EXPECT_TRUE(m->cp1->Connected());
    // Out of range: the rate in use is selected again and the error shown.
    for (const char* wrong : {"0", "16777216", "fast"}) {
        w.input = wrong;
        Window::Choose(m->speedcb, m->speedcb->Items().Count() - 1);
        EXPECT_EQ(m->speedcb->Text(), "250000");
        ASSERT_FALSE(w.messages.empty());
        EXPECT_EQ(w.messages.back(), "Wrong value.");  // shown with a full stop
    }
    w.cancel = true;
    Window::Choose(m->speedcb, m->speedcb->Items().Count() - 1);
    EXPECT_EQ(m->speedcb->Text(), "250000");
    EXPECT_EQ(m->cp1->BaudRateValue(), 250000u);

    // The port button frees the port: closed, struck through in red, not retried.
    m->sbPort->Click();
    EXPECT_TRUE(m->sbPort->Down());
    EXPECT_FALSE(m->cp1->Connected());
    EXPECT_FALSE(m->TmrPortConn->Enabled());
    EXPECT_EQ(m->sbPort->Font().Color(), vcl::clRed);
    EXPECT_TRUE(m->sbPort->Font().Style() & vcl::fsStrikeOut);
    EXPECT_EQ(m->ComNcb->Tag, 1);
    EXPECT_EQ(m->lblSets->Color(), kFailed);
    // A freed port stays closed when the parameters change.
    Window::Choose(m->Parcb, 0);
    EXPECT_FALSE(m->cp1->Connected());
    m->sbPort->Click();
    EXPECT_FALSE(m->sbPort->Down());
    EXPECT_TRUE(m->cp1->Connected());
    EXPECT_FALSE(m->sbPort->Font().Style() & vcl::fsStrikeOut);
    EXPECT_EQ(m->ComNcb->Tag, 0);

    // Applying the parameters switches the line break off.
    m->TmrEnCB->SetChecked(true);
    m->CBLineBreak->SetChecked(true);
    EXPECT_FALSE(m->TmrEnCB->Checked());
    EXPECT_EQ(m->CBLineBreak->Color(), kFailed);
    Window::Choose(m->Stopbcb, 0);
    EXPECT_FALSE(m->CBLineBreak->Checked());
    EXPECT_NE(m->CBLineBreak->Color(), kFailed);

    // The polling-delay menu sets both drivers.
    m->m5ms->Click();
    EXPECT_EQ(m->cp1->PollingDelay(), 5);
    EXPECT_EQ(m->cp2->PollingDelay(), 5);
    EXPECT_EQ(m->PollingIndex, 1);
}

TEST(main_form_ports, a_wanted_port_without_its_device_is_marked_failed_and_reopened_when_it_appears) {
    Window w;
    const std::string link = w.dir.File("dev47");
    ::setenv("VOSTREL_COMPORTS", ("47=" + link).c_str(), 1);
    TMain* m = w.Start();
    m->ForceComNumber(47, true);
    EXPECT_TRUE(m->ApplyPortParams(false, true));  // no error: only a failed slot
    EXPECT_FALSE(m->cp1->Connected());
    EXPECT_EQ(m->ComNcb->Tag, 1);
    EXPECT_EQ(m->lblSets->Color(), kFailed);
    EXPECT_TRUE(m->TmrPortConn->Enabled());
    EXPECT_EQ(m->TmrPortConn->Interval(), 1000);
    // The closed list's face shows the mark.
    const QRgb light_red = qRgb(0xFF, 0x80, 0x80);
    auto face = [&] {
        const QImage img = m->ComNcb->Widget()->grab().toImage();
        return img.pixel(img.width() / 2, 3);
    };
    EXPECT_EQ(face(), light_red);

    // A list that is dropped down holds the retry back; then the device appears.
    test_support::PtyPair dev;
    std::filesystem::create_symlink(dev.SlavePath(), link);
    m->Show();
    m->speedcb->SetDroppedDown(true);
    if (m->speedcb->DroppedDown()) {
        Window::Pump([&] { return m->cp1->Connected(); }, 1300);
        EXPECT_FALSE(m->cp1->Connected());
        m->speedcb->SetDroppedDown(false);
    }
    Window::Pump([&] { return m->cp1->Connected(); });
    EXPECT_TRUE(m->cp1->Connected());
    EXPECT_EQ(m->ComNcb->Tag, 0);
    EXPECT_EQ(m->lblSets->Color(), vcl::clWhite);
    EXPECT_FALSE(m->TmrPortConn->Enabled());
    EXPECT_NE(face(), light_red);

    // Port2 "[No]" is never failed; a wanted Port2 without a device is.
    EXPECT_EQ(m->cbComN2->Tag, 0);
    m->ForceComNumber(48, false);
    m->ApplyPortParams(true, false);
    EXPECT_EQ(m->cbComN2->Tag, 1);
    EXPECT_EQ(m->lblSets->Color(), kFailed);
    EXPECT_TRUE(m->TmrPortConn->Enabled());
    m->sbPort2->Click();  // freed: no longer retried
    EXPECT_FALSE(m->TmrPortConn->Enabled());
    EXPECT_TRUE(w.messages.empty());
}

TEST(main_form_ports, transmit_checks_name_the_port_that_is_not_connected) {
    test_support::PtyPair dev;
    dev.MapAsCom(48);
    Window w;
    TMain* m = w.Start();
    m->TmrEnCB->SetChecked(true);
    EXPECT_EQ(ErrorOf([&] { m->CheckConnected(true); }), "Port is not connected");
    EXPECT_FALSE(m->TmrEnCB->Checked());
    m->TmrEnCB->SetChecked(true);
    EXPECT_EQ(ErrorOf([&] { m->CheckConnected(false); }), "Port2 is not connected");
    EXPECT_FALSE(m->TmrEnCB->Checked());

    Window::Choose(m->ComNcb, Window::Index(m->ComNcb, 48));
    ASSERT_TRUE(m->cp1->Connected());
    EXPECT_EQ(ErrorOf([&] { m->CheckConnected(true); }), "<none>");
    EXPECT_TRUE(m->CheckPortHandle(true, true));
    EXPECT_TRUE(m->cp1->Connected());

    // A device that vanished: the handle no longer takes writes, the port
    // is closed and marked.
    dev.CloseMaster();
    bool valid = true;
    Window::Pump([&] { return !(valid = m->CheckPortHandle(true, false)); });
    EXPECT_FALSE(valid);
    EXPECT_FALSE(m->cp1->Connected());
    EXPECT_EQ(ErrorOf([&] { m->CheckPortHandle(true, true); }),
              "Handle of port \"\\\\.\\COM48\" is no longer valid");
    EXPECT_EQ(m->ComNcb->Tag, 1);
    EXPECT_TRUE(m->TmrPortConn->Enabled());
}

TEST(main_form_ports, choosing_ethernet_shows_its_frame_and_the_button_opens_it) {
    test_support::PtyPair dev2;
    dev2.MapAsCom(49);
    Window w;
    TMain* m = w.Start();
    m->ForceComNumber(49, false);
    Window::Choose(m->cbComN2, m->cbComN2->ItemIndex());
    ASSERT_TRUE(m->cp2->Connected());

    Window::Choose(m->ComNcb, Window::Index(m->ComNcb, 257));
    ASSERT_TRUE(m->ForeignPort);
    EXPECT_EQ(m->ForeignPort->Id(), 257);
    auto* frame = static_cast<ports::TfrmForPEth*>(m->ForeignPort->Frame());
    EXPECT_EQ(frame->Parent(), m->pnlForPPrms);
    EXPECT_TRUE(m->pnlForPPrms->Visible());
    EXPECT_FALSE(m->pnlCommPrms->Visible());
    EXPECT_FALSE(m->cp2->Connected());  // Port2 stays closed beside a foreign port
    EXPECT_EQ(m->cbComN2->Tag, 1);
    EXPECT_EQ(m->ComNcb->Tag, 1);  // not active yet
    EXPECT_TRUE(m->sbPort->Down());
    EXPECT_FALSE(m->TmrPortConn->Enabled());

    // An invalid shown field keeps the port closed and names the field.
    frame->edLocalPort->SetText("70000");
    m->sbPort->Click();
    EXPECT_TRUE(m->sbPort->Down());
    EXPECT_FALSE(m->ForeignPort->Active());
    ASSERT_FALSE(w.messages.empty());
    EXPECT_EQ(w.messages.back(), "Wrong \"Local Port\" Value.");

    frame->edLocalPort->SetText("0");
    m->sbPort->Click();
    EXPECT_FALSE(m->sbPort->Down());
    EXPECT_TRUE(m->ForeignPort->Active());
    EXPECT_EQ(m->ComNcb->Tag, 0);
    EXPECT_TRUE(w.PanelHas("Start UDP (listen port 0)"));
    m->sbPort->Click();
    EXPECT_FALSE(m->ForeignPort->Active());
    EXPECT_TRUE(w.PanelHas("Close Socket"));
    EXPECT_TRUE(m->sbPort->Down());
    EXPECT_EQ(m->ComNcb->Tag, 1);

    // Editing a field drops the selected profile.
    m->CBProfile->Items().Add("Lab");
    m->CBProfile->SetItemIndex(0);
    frame->edDstPort->SetText("1234");
    EXPECT_EQ(m->CBProfile->ItemIndex(), -1);

    // Another main port frees it, keeping its settings for the next time.
    frame->edLocalPort->SetText("40001");
    Window::Choose(m->ComNcb, 0);
    EXPECT_FALSE(m->ForeignPort);
    EXPECT_EQ(m->LastForeignSettings, "257|0|127.0.0.1|1234|40001");
    EXPECT_TRUE(m->pnlCommPrms->Visible());
    EXPECT_FALSE(m->pnlForPPrms->Visible());
    EXPECT_TRUE(m->cp2->Connected());
    Window::Choose(m->ComNcb, Window::Index(m->ComNcb, 257));
    ASSERT_TRUE(m->ForeignPort);
    EXPECT_EQ(m->ForeignPort->GetSettings(), "0|127.0.0.1|1234|40001");
}

TEST(main_form_ports, rs485_mode_measures_the_clock_once_and_locks_rts) {
    Window w;
    TMain* m = w.Start();
    m->CpuMeasureMs = 50;
    ASSERT_EQ(m->CPUSpeed, 0);
    m->CBRS485->SetChecked(true);
    EXPECT_FALSE(m->rtscb->Enabled());
    EXPECT_EQ(m->CBRS485->Color(), kFailed);
    Window::Pump([&] { return !w.messages.empty(); });
    ASSERT_EQ(w.messages.size(), 1u);
    EXPECT_GT(m->CPUSpeed, 0);
    EXPECT_EQ(w.messages[0], "CPU frequency = " + std::to_string(m->CPUSpeed) + " kHz");
    EXPECT_EQ(m->BSpeed->Hint(), "Count CPU speed\r(for exact 485 mode functioning)\rCurrent speed value = " +
                                     std::to_string(m->CPUSpeed) + " kHz");
    EXPECT_EQ(m->FindComponent("DLGWAIT"), nullptr);  // the wait window is gone

    m->CBRS485->SetChecked(false);
    EXPECT_TRUE(m->rtscb->Enabled());
    EXPECT_NE(m->CBRS485->Color(), kFailed);
    // With a known rate the mode switches at once, without a measurement.
    m->CBRS485->SetChecked(true);
    Window::Pump([] { return false; }, 50);
    EXPECT_EQ(w.messages.size(), 1u);
    m->CBRS485->SetChecked(false);
    m->cbFlow->SetChecked(true);
    EXPECT_FALSE(m->rtscb->Enabled());  // flow control keeps it locked
    m->cbFlow->SetChecked(false);

    // Switched on and off again before the measurement runs: none is made.
    m->CPUSpeed = 0;
    m->CBRS485->SetChecked(true);
    m->CBRS485->SetChecked(false);
    Window::Pump([] { return false; }, 50);
    EXPECT_EQ(w.messages.size(), 1u);
    EXPECT_EQ(m->CPUSpeed, 0);

    // The button measures on request.
    m->BSpeed->Click();
    EXPECT_EQ(w.messages.size(), 2u);
    EXPECT_GT(m->CPUSpeed, 0);
}

}  // namespace
