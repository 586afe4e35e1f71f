#pragma once
// The main window with a plug-in named in its settings file, COM5 played by
// a pseudo-terminal, and the user's ways to the plug-in button's menu.
// Header only: the end-to-end tests link the whole terminal.
#include <QApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QTimer>

#include <functional>

#include <string>

#include "platform/vcl/file_text.h"
#include "platform/vcl/menus.h"
#include "support/main_window.h"
#include "support/mouse.h"
#include "support/pty.h"
#include "support/qt_app.h"
#include "terminal/main_form.h"

namespace test_support {

// A plug-in procedure that says it waits (variable WAITING) and waits until
// the test says go (variable GO): a test synchronises on it instead of on
// time.
inline constexpr const char* kWaitForGo = R"(
procedure WaitForGo;
begin
  SetV('WAITING', '1');
  while GetV('GO') <> '1' do NBSleep(5);
  SetV('GO', '0');
  SetV('WAITING', '0');
end;
)";

struct PluginWindow : test_support::MainWindow {
    test_support::PtyPair dev;
    std::string plugin;

    explicit PluginWindow(const std::string& Source, const std::string& Extra = "")
        : BasicMainWindow({.Start = false, .Graph = true}) {
        dev.MapAsCom(5);
        plugin = dir.File("Greeter.pas");
        vcl::SaveStrToFile(Source, plugin);
        vcl::SaveStrToFile("[Main]\r\nDataFormat=4\r\nRVPnlTime=0\r\n[Config11]\r\nPort=5\r\nSpeed=9600\r\nPlugPath=" +
                               plugin + "\r\n" + Extra,
                           ini);
        Start();
        main->RVPnlTime = 0;
    }
    ~PluginWindow() { Free(); }

    const terminal::TLineStore& Lines() const { return main->RxPanel->Lines(); }
    std::string AllLines() const {
        std::string text;
        for (int i = 0; i < Lines().LineCount(); ++i) text += Lines().LineData(i) + "|";
        return text + main->RxPanel->CurLine();
    }
    std::uint64_t RxCount() const { return main->PortSlots[terminal::PortSlotMain].RxCount; }
    bool Play(const std::string& bytes, std::uint32_t counted) {
        const std::uint64_t want = RxCount() + counted;
        if (dev.Write(bytes) != bytes.size()) return false;
        return test_support::PumpUntil([&] { return RxCount() == want; });
    }
    // The main port opened anew with a lowered input buffer, so that a test
    // reaches it with little data; true when it is open.
    bool LowerInputBuffer(std::uint32_t Bytes) {
        main->cp1->Disconnect();
        main->cp1->SetInBufSize(Bytes);
        main->ApplyPortParams(false, true);
        return main->cp1->Connected();
    }
    std::uint32_t Transmit(const std::string& text) {
        return main->SendData(text.data(), static_cast<std::uint32_t>(text.size()), true);
    }
    // The lines of one format, their text without prefix.
    std::vector<std::string> LinesOf(terminal::TDataFormat Format) const {
        std::vector<std::string> out;
        for (int i = 0; i < Lines().LineCount(); ++i)
            if (Lines().LineRecord(i).Format == Format) out.push_back(Lines().LineData(i));
        return out;
    }
    // The last MSG line's text.
    std::string LastMsg() const {
        for (int i = Lines().LineCount() - 1; i >= 0; --i)
            if (Lines().LineRecord(i).Format == terminal::dfMSG) return Lines().LineData(i);
        return {};
    }
};

// The device behind Port2 (COM6), mapped before the window opens.
struct SecondDevice {
    test_support::PtyPair second;
    SecondDevice() { second.MapAsCom(6); }
};

// The plug-in window with Port2 open as well.
struct TwoPortWindow : SecondDevice, PluginWindow {
    explicit TwoPortWindow(const std::string& Source) : PluginWindow(Source, "Port2=6\r\n") {}
    std::uint64_t Rx2() const { return main->PortSlots[terminal::PortSlot2].RxCount; }
};

// A click of the left button in the middle of a control.
inline void ClickControl(vcl::TControl& Control) {
    MousePress(Control, Qt::LeftButton, Control.Width() / 2, Control.Height() / 2);
    MouseRelease(Control, Qt::LeftButton, Control.Width() / 2, Control.Height() / 2);
}

// The user clicks the plug-in button, then the entry of the menu that opens;
// false when the menu did not open or the entry is greyed (nothing happens).
inline bool ChoosePluginEntry(terminal::TMain& m, vcl::TMenuItem* Entry) {
    ClickControl(*m.sbPlugin);
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (menu == nullptr) return false;
    const bool enabled = Entry->Action()->isEnabled();
    const QPointF at = menu->actionGeometry(Entry->Action()).center();
    QMouseEvent press(QEvent::MouseButtonPress, at, menu->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, {});
    QApplication::sendEvent(menu, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, menu->mapToGlobal(at), Qt::LeftButton, Qt::NoButton, {});
    QApplication::sendEvent(menu, &release);
    if (menu->isVisible()) menu->close();
    return enabled;
}

// Runs Action once, the first time the loop reaches it while a plug-in event
// runs: from a timer of the toolkit, as the user's input comes in.
struct WhileBusy {
    QTimer timer;
    bool done = false;
    WhileBusy(terminal::TMain& m, std::function<void()> Action) {
        timer.setInterval(20);
        QObject::connect(&timer, &QTimer::timeout, [this, &m, Action] {
            if (done || !m.PluginBusy) return;
            done = true;
            timer.stop();
            Action();
        });
        timer.start();
    }
};

// The device sends Trigger; Meanwhile runs once, inside the plug-in event
// that Trigger starts. True when both are over and all that came is shown.
inline bool Exchange(PluginWindow& w, const std::string& Trigger, std::function<void()> Meanwhile = [] {}) {
    WhileBusy inside(*w.main, std::move(Meanwhile));
    if (w.dev.Write(Trigger) != Trigger.size()) return false;
    return PumpUntil([&] { return inside.done && !w.main->PluginBusy; }) && w.ShowReceived();
}

}  // namespace test_support
