// Port control as a user meets it: pseudo-terminals play the devices behind
// COM numbers, the main window opens them through its own controls, and the
// devices come and go while the program runs.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFocusEvent>
#include <QWidget>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/vcl/forms.h"
#include "platform/win/comm.h"
#include "script/runtime/my_script.h"
#include "support/main_window.h"
#include "support/pty.h"
#include "support/qt_app.h"
#include "terminal/main_form.h"
#include "support/processor_share.h"

namespace {

using namespace std::chrono_literals;
using terminal::TMain;

struct PortControl : test_support::MainWindow {
    test_support::PtyPair dev;
    // Called while an input question is up (the question's own loop runs
    // meanwhile); its answer: none (cancelled) or the text given.
    std::function<bool(std::string&)> WhileAsking;

    PortControl() : BasicMainWindow({.Start = false}) {
        test_support::EnsureQtApplication();
        dev.MapAsCom(5);
        vcl::Application->InputHook = [this](const std::string&, const std::string&, std::string& v) {
            return WhileAsking ? WhileAsking(v) : false;
        };
        Start();
        main->RVPnlTime = 0;
        // Counts the reconnect timer's ticks, each after it has been handled.
        vcl::TNotifyEvent reconnect = main->TmrPortConn->OnTimer();
        main->TmrPortConn->SetOnTimer([this, reconnect](vcl::TComponent* s) {
            reconnect(s);
            ++ReconnectTicks;
        });
    }
    int ReconnectTicks = 0;
    ~PortControl() { Free(); }
    std::uint64_t Received() const { return main->PortSlots[terminal::PortSlotMain].RxCount; }
    // The box Transmit shows for a line "1" (the transmit line's own text is kept).
    std::string TransmitRefusal() {
        Messages.clear();
        main->TrBCB->SetText("1");
        main->Transb->Click();
        return Messages.empty() ? std::string() : Messages.back();
    }
    // What a plug-in's Send sees on the main port.
    std::string PluginSendRefusal() {
        std::string reply;
        try {
            main->ScriptCommand(script::runtime::srSend, "x", reply);
        } catch (const std::exception& e) {
            return e.what();
        }
        return {};
    }
    void ChooseSpeedEntry(int index) {
        vcl::Guarded([&] { main->speedcb->SelectByUser(index); });
    }
};

TEST(port_control, custom_speed_closes_and_loses_nothing_until_a_valid_rate_is_entered) {
    PortControl f;
    TMain* m = f.main;
    m->ForceComNumber(5, true);
    m->ForceComNumber(9, false);  // wanted but not there: the reconnect timer runs
    m->ApplyBothPortParams(true);
    ASSERT_TRUE(m->cp1->Connected());
    ASSERT_TRUE(m->TmrPortConn->Enabled());
    const int custom = m->speedcb->Items().Count() - 1;
    ASSERT_EQ(m->speedcb->Items().Strings(custom), "Custom..");

    // A profile is selected (a change of any port setting would drop it).
    m->CBProfile->Items().Add("Lab");
    m->CBProfile->SetItemIndex(0);
    // The question takes the keyboard from the list, the device keeps
    // sending and the reconnect timer ticks while the user thinks; then the
    // user cancels.
    m->speedcb->SetFocus();
    f.WhileAsking = [&](std::string&) {
        QFocusEvent out(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
        QCoreApplication::sendEvent(m->speedcb->Widget(), &out);
        EXPECT_EQ(f.dev.Write("abc"), 3u);
        // The reconnect timer ticks at least once, and the bytes are taken
        // in, however late a loaded machine runs the polling.
        const int ticks = f.ReconnectTicks;
        EXPECT_TRUE(test_support::PumpUntil([&] { return f.ReconnectTicks > ticks && f.Received() == 3u; }, 60s));
        return false;
    };
    f.ChooseSpeedEntry(custom);
    EXPECT_TRUE(m->cp1->Connected());
    EXPECT_EQ(f.Received(), 3u);
    EXPECT_EQ(m->RxPanel->Lines().LineData(0), "61 62 63");
    EXPECT_EQ(m->speedcb->Text(), "9600");
    EXPECT_EQ(m->cp1->BaudRateValue(), 9600u);
    EXPECT_EQ(m->CBProfile->ItemIndex(), 0);  // nothing was changed
    EXPECT_TRUE(f.Messages.empty()) << f.Messages.front();

    // A valid rate is entered: it is listed before "Custom..", applied, and
    // the port is open at it.
    f.WhileAsking = [&](std::string& v) {
        EXPECT_EQ(f.dev.Write("d"), 1u);
        const int ticks = f.ReconnectTicks;
        EXPECT_TRUE(test_support::PumpUntil([&] { return f.ReconnectTicks > ticks && f.Received() == 4u; }, 60s));
        v = "250000";
        return true;
    };
    f.ChooseSpeedEntry(custom);
    EXPECT_TRUE(m->cp1->Connected());
    EXPECT_EQ(m->speedcb->Text(), "250000");
    EXPECT_EQ(m->speedcb->Items().Strings(custom), "250000");
    EXPECT_EQ(f.dev.SlaveBaud(), 250000u);
    EXPECT_EQ(f.Received(), 4u);
    EXPECT_TRUE(f.Messages.empty()) << f.Messages.front();
}

TEST(port_control, a_device_that_vanishes_while_receiving_is_marked_failed_and_reopened_when_back) {
    PortControl f;
    TMain* m = f.main;
    m->ForceComNumber(5, true);
    m->ApplyBothPortParams(true);
    ASSERT_TRUE(m->cp1->Connected());
    ASSERT_FALSE(m->TmrPortConn->Enabled());
    ASSERT_EQ(f.dev.Write("ab"), 2u);
    ASSERT_TRUE(test_support::PumpUntil([&] { return f.Received() == 2; }));

    EXPECT_EQ(m->ComNcb->Hint(), "");

    // The device goes while nothing is being sent: the port is noticed
    // closed, its list marked failed and the reconnect timer runs. The list
    // says why in its hint, Transmit says it under its usual words, and the
    // receive list gets no line for it, however often the timer retries.
    const int lines = m->RxPanel->Lines().LineCount();
    f.dev.CloseMaster();
    test_support::TimeBounds bounds;
    EXPECT_TRUE(bounds.Within(test_support::JudgedWait(
                                  [&](std::chrono::milliseconds limit) {
                                      return test_support::PumpUntil(
                                          [&] {
                                              return !m->cp1->Connected() && m->ComNcb->Tag == 1 &&
                                                     m->TmrPortConn->Enabled();
                                          },
                                          limit);
                                  },
                                  3s, 30s),
                              "the notice of the device gone"));
    EXPECT_TRUE(f.Messages.empty());
    // Gone away, and then (once the timer has tried again) no such device.
    const std::string device = win::ComPortDevice(5);
    EXPECT_EQ(m->ComNcb->Hint().rfind(device + ": ", 0), 0u) << m->ComNcb->Hint();
    const std::string refusal = f.TransmitRefusal();
    EXPECT_EQ(refusal.rfind("Port is not connected\r" + m->ComNcb->Hint(), 0), 0u) << refusal;
    EXPECT_EQ(f.PluginSendRefusal(), "Port is not connected");
    // A port the user freed is not failing: its list tells nothing.
    m->sbPort->Click();
    ASSERT_TRUE(m->sbPort->Down());
    EXPECT_EQ(m->ComNcb->Hint(), "");
    EXPECT_EQ(f.TransmitRefusal(), "Port is not connected.");
    m->sbPort->Click();
    EXPECT_EQ(m->ComNcb->Hint(), device + ": no such device");
    EXPECT_EQ(m->RxPanel->Lines().LineCount(), lines);
    EXPECT_EQ(m->RxPanel->CurLine(), "61 62");
    f.Messages.clear();

    // It comes back under the same number: the timer opens it again.
    test_support::PtyPair again;
    again.MapAsCom(5);
    ASSERT_TRUE(test_support::PumpUntil([&] { return m->cp1->Connected(); }, 5s));
    EXPECT_EQ(m->ComNcb->Tag, 0);
    EXPECT_EQ(m->ComNcb->Hint(), "");
    EXPECT_FALSE(m->TmrPortConn->Enabled());
    ASSERT_EQ(again.Write("d"), 1u);
    EXPECT_TRUE(test_support::PumpUntil([&] { return f.Received() == 3; }));
    f.Free();
    if (bounds.Void()) GTEST_SKIP() << bounds.Text();
}

TEST(port_control, a_device_another_program_holds_exclusively_stays_refused_and_says_so) {
    PortControl f;
    TMain* m = f.main;
    // The other program only sets the terminal's exclusive mode (it takes
    // no lock); this test may run with privileges that pass that mode.
    const int other = ::open(f.dev.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(other, 0);
    termios raw{};
    ASSERT_EQ(::tcgetattr(other, &raw), 0);
    ::cfmakeraw(&raw);
    ASSERT_EQ(::tcsetattr(other, TCSANOW, &raw), 0);
    ASSERT_EQ(::ioctl(other, TIOCEXCL), 0);
    m->ForceComNumber(5, true);
    m->ApplyBothPortParams(true);
    EXPECT_FALSE(m->cp1->Connected());
    EXPECT_EQ(m->ComNcb->Tag, 1);
    const std::string reason = f.dev.SlavePath() + ": the device is in use by another program";
    EXPECT_EQ(m->ComNcb->Hint(), reason);
    EXPECT_EQ(f.TransmitRefusal(), "Port is not connected\r" + reason + ".");
    EXPECT_EQ(f.PluginSendRefusal(), "Port is not connected");
    // Bytes the device sends meanwhile go to the other program alone, also
    // after the reconnect timer has tried the port again.
    ASSERT_TRUE(m->TmrPortConn->Enabled());
    ASSERT_EQ(f.dev.Write("zz"), 2u);
    const int ticks = f.ReconnectTicks;
    ASSERT_TRUE(test_support::PumpUntil([&] { return f.ReconnectTicks > ticks; }, 10s));
    EXPECT_FALSE(m->cp1->Connected());
    EXPECT_EQ(f.Received(), 0u);
    char got[4] = {};
    EXPECT_EQ(::read(other, got, sizeof got), 2);

    // Once the other program lets go, the reconnect timer takes the port,
    // and the port it holds keeps others out in turn.
    ASSERT_EQ(::ioctl(other, TIOCNXCL), 0);
    ::close(other);
    ASSERT_TRUE(test_support::PumpUntil([&] { return m->cp1->Connected(); }, 5s));
    EXPECT_EQ(m->ComNcb->Hint(), "");
    EXPECT_EQ(win::CreateFileA(f.dev.SlavePath(), win::GENERIC_READ | win::GENERIC_WRITE, 0, nullptr,
                               win::OPEN_EXISTING, win::FILE_ATTRIBUTE_NORMAL, 0),
              win::INVALID_HANDLE_VALUE);
    EXPECT_EQ(win::GetLastErrorText(), reason);
    ASSERT_EQ(f.dev.Write("ok"), 2u);
    EXPECT_TRUE(test_support::PumpUntil([&] { return f.Received() == 2; }));
    f.Free();
}

TEST(port_control, a_device_mapped_twice_is_listed_once_and_unusable_mappings_are_refused) {
    PortControl f;
    const std::string kept = std::getenv("VOSTREL_COMPORTS");
    // COM6 reaches the same device as COM5; 300 is no COM number; the last
    // entry is no mapping at all.
    setenv("VOSTREL_COMPORTS",
           (kept + ";6=" + f.dev.SlavePath() + ";300=" + f.dev.SlavePath() + ";nonsense").c_str(), 1);
    f.Messages.clear();
    TMain* m = f.Start();
    ASSERT_EQ(f.Messages.size(), 1u);
    EXPECT_EQ(f.Messages[0],
              "VOSTREL_COMPORTS: \"300=" + f.dev.SlavePath() +
                  "\" is ignored: an entry is a COM number from 1 to 255, \"=\" and a device\r"
                  "VOSTREL_COMPORTS: \"nonsense\" is ignored: an entry is a COM number from 1 to 255, "
                  "\"=\" and a device");
    EXPECT_GE(m->ComNcb->Items().IndexOfObject(5), 0);
    EXPECT_EQ(m->ComNcb->Items().IndexOfObject(6), -1);
    EXPECT_EQ(m->cbComN2->Items().IndexOfObject(6), -1);
    // Nothing opens as COM300 (it would be a foreign-port number anyway).
    EXPECT_EQ(win::ComPortDevice(300), "");
    setenv("VOSTREL_COMPORTS", kept.c_str(), 1);
    f.Free();
}

}  // namespace
