// The main window's life: first activation, application focus, the anti-hang
// watchdog, notices, the plug-in busy flag, the graph window link, the
// byte counters and closing.
#include <algorithm>
#include <cstdio>
#include <exception>
#include <functional>
#include <utility>

#include "graph/graph_form.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/failure_trace.h"
#include "platform/rtl/format.h"
#include "platform/win/comm.h"
#include "platform/win/timers.h"
#include "script/runtime/my_script.h"
#include "terminal/main_form.h"

namespace terminal {

namespace {
constexpr const char* kCaption = "VOSTREL";
constexpr std::uint32_t kAntiHangLimitMs = 7000;
constexpr const char* kConfigReadErrorText = "Can't read configuration from file";
}  // namespace

void TMain::ShowError(const std::string& Text) {
    vcl::Application->MessageBox(Text, kCaption, vcl::MB_OK | vcl::MB_ICONERROR);
}

void TMain::FormActivate(vcl::TComponent*) {
    if (!first_activation_) return;
    first_activation_ = false;
    starting_up_ = true;

    bool no_time_begin_period = false;
    int selected_profile = 11;
    try {
        if (graph::fGraph) {
            graph::fGraph->OnClose = [this](vcl::TComponent* s, vcl::TCloseAction& a) {
                GraphWindowClose(s, a);
            };
            graph::fGraph->OnSavePoints = [this](const std::string& name) { CheckNotOutputFile(name); };
        }
        try {
            SetLayout(1);
            vcl::Application->SetHintPause(100);
            StartNewLine(true);
            ClearProfile(11);
            ReadConfig(selected_profile, no_time_begin_period);
        } catch (const EConfigRead& e) {
            // Start-up goes on with what was read so far and the defaults;
            // the text names the file and the reason.
            ShowError(e.what());
        } catch (const std::exception& e) {
            // A value that could not be applied.
            ShowError(std::string(kConfigReadErrorText) + "\r\r" + e.what());
        } catch (...) {
            ShowError(kConfigReadErrorText);
        }
        // The window was closed while a box of the start-up was open: the
        // close has run already and left the settings file as it was (the
        // stored profile was not applied yet), and nothing more may start (a
        // port, a plug-in's load event) behind a window that is gone.
        if (RxRouter.Closing()) return;
        if (!no_time_begin_period) win::timeBeginPeriod(1);  // never released
        // Mappings that cannot be used are said once, before the scan that
        // would silently leave them out.
        if (const std::vector<std::string> refused = win::ComPortMapErrors(); !refused.empty()) {
            std::string text;
            for (const std::string& r : refused) text += (text.empty() ? "" : "\r") + r;
            ShowError(text);
            if (RxRouter.Closing()) return;
        }
        ReadPorts();
        BSpeedClick(nullptr);
        AntiHangStamp = AntiHangNow();
        starting_up_ = false;
        if (selected_profile >= 1 && selected_profile <= CBProfile->Items().Count()) {
            CBProfile->SetItemIndex(selected_profile - 1);
            CBProfileChange(CBProfile);
        } else {
            ApplyConf(11);
        }
    } catch (const std::exception& e) {
        ShowError(e.what());
    }
    starting_up_ = false;
    if (Layout == 3) UpdateSettingsSummary();
}

// ---- Application focus

void TMain::ApplicationEvents1Activate(vcl::TComponent*) {
    // After a restore the work is done already.
    if (WasMinimized)
        WasMinimized = false;
    else
        FocusChanged(true);
}

void TMain::ApplicationEvents1Deactivate(vcl::TComponent*) {
    // Minimizing also deactivates the application, in either order; the
    // minimized mark must survive that so the restore reopens only once.
    bool keep = WasMinimized && WindowState() == vcl::TWindowState::wsMinimized;
    FocusChanged(false);
    if (keep) WasMinimized = true;
}

void TMain::ApplicationEvents1Minimize(vcl::TComponent*) {
    FocusChanged(false);
    WasMinimized = true;
}

void TMain::ApplicationEvents1Restore(vcl::TComponent*) {
    // The activation and the restore may come in either order. Keeping the
    // minimized mark across the restore lets the activation that follows do nothing,
    // so the ports reopen once in either order (a deactivation clears it).
    bool was_minimized = WasMinimized;
    FocusChanged(true);
    WasMinimized = was_minimized;
}

void TMain::ApplicationEvents1SettingChange(vcl::TComponent*) {
    // The decimal separator stays ".": rtl formats numbers with it whatever
    // the system's settings say, so there is nothing to force again here.
}

void TMain::FocusChanged(bool Active) {
    WasMinimized = false;
    // A window on its way to closing leaves its ports closed.
    if (!Disableondeactivate1->Checked() || ForeignPort || RxRouter.Closing()) return;
    try {
        if (Active) {
            ApplyBothPortParams(true);
        } else {
            // What the ports have read goes on the one way, from the loop.
            cp1->Disconnect();
            cp2->Disconnect();
            RefreshPortState(true);
            RefreshPortState(false);
            TmrPortConn->SetEnabled(false);
        }
    } catch (...) {
        // Reconnection errors on focus changes are never shown: a box would
        // take the focus the reconnection follows, and the user did not ask
        // for it. The failure still leaves a trace on standard error.
        rtl::TraceFailure(std::current_exception(), "reconnecting on a focus change");
    }
}

// ---- Anti-hang watchdog

void TMain::tmrAntiHangTimer(vcl::TComponent*) { AntiHangStamp = AntiHangNow(); }

std::uint32_t TMain::AntiHangNow() const { return AntiHangClock ? AntiHangClock() : win::GetTickCount(); }

void TMain::CheckAntiHang() {
    // The watchdog judges reception: a plug-in event that by itself keeps
    // the loop from its timer (computing, Sleep) is not a flood of data, and
    // raising the polling delay for it would change a stored setting for a
    // reason that did not happen.
    const std::uint32_t now = AntiHangNow();
    const std::uint32_t age = now - AntiHangStamp;
    const std::uint32_t excused = std::min(age, PluginHeldLoopMs(now));
    if (age - excused > kAntiHangLimitMs) IncreasePollingDelay();
}

void TMain::NotePluginLoopTurn() { PluginLoopTurn = AntiHangNow(); }

std::uint32_t TMain::PluginHeldLoopMs(std::uint32_t Now) const {
    if (!PluginBusy) return 0;
    // Shorter than the watchdog timer's period, the stretch cannot be what
    // kept the timer from ticking: a flood of short events still counts.
    const std::uint32_t held = Now - PluginLoopTurn;
    return held >= kAntiHangTickMs ? held : 0;
}

void TMain::IncreasePollingDelay() {
    const int last = mPollDelay->Count() - 1;
    if (PollingIndex >= last) {
        AntiHangStamp = AntiHangNow();
        return;
    }
    int index = PollingIndex + 1;
    if (index < 2) index = 2;
    vcl::TMenuItem* entry = PollingEntry(index);
    m1000msClick(entry);
    if (index == last && graph::fGraph) graph::fGraph->Close();
    AntiHangStamp = AntiHangNow();
    ShowNotice(vcl::mtWarning,
               "Polling delay was increased to " + rtl::Format("%d", {static_cast<int>(entry->Tag)}) +
                   " ms" + " due to performance problems caused by too high data reception rate." +
                   "\r\rYou can manually restore it in \"Polling Delay\" reception panel popup menu");
}

void TMain::ShowNotice(vcl::TMsgDlgType DlgType, const std::string& Text) { vcl::ShowNotice(Text, DlgType); }

// ---- Plug-in busy flag

void TMain::CheckPluginIdle() {
    if (PluginBusy) throw rtl::Exception(kPluginRunningText);
}

void TMain::SetPluginBusy(bool Value) {
    // A tick of the transmit timer that came due while an event of a
    // plug-in with a send event ran is dropped, not fired late: the timer
    // goes on with its next tick. Without a send event the tick was never
    // held back and goes out as it would without a plug-in.
    if (!Value && tmr1 && PluginHoldsSends()) tmr1->DiscardDueTick();
    if (Value && !PluginBusy) NotePluginLoopTurn();
    if (!Value && PluginBusy) {
        // What the event held the loop for by itself is not reception's:
        // the stamp moves on by it, so the next rendering does not count it.
        const std::uint32_t now = AntiHangNow();
        AntiHangStamp += std::min(now - AntiHangStamp, PluginHeldLoopMs(now));
    }
    PluginBusy = Value;
    // The chunks that waited for their port's receive event get it now.
    if (!Value) RxRouter.PluginIdle();
}

// ---- Graph window

void TMain::GraphWindowClose(vcl::TComponent*, vcl::TCloseAction&) { mShowGraph->SetChecked(false); }

void TMain::mShowGraphClick(vcl::TComponent*) {
    mShowGraph->SetChecked(!mShowGraph->Checked());
    if (graph::fGraph) graph::fGraph->SetVisible(mShowGraph->Checked());
}

// ---- Counters

void TMain::ShowRxCount() {
    RVLabel->SetCaption(rtl::Format("(%d, %d)", {PortSlots[PortSlotMain].RxCount,
                                                 PortSlots[PortSlot2].RxCount}));
}

void TMain::ShowTxCount() {
    const int width = TRLabel->Width();
    TRLabel->SetCaption(rtl::Format("%d", {SentCount}));
    // A count grown past its room takes the place of the labels beside it,
    // so that it stays readable in full.
    if (TRLabel->Width() != width) FitPluginButton();
}

void TMain::RVLabelClick(vcl::TComponent* Sender) {
    auto* label = static_cast<vcl::TLabel*>(Sender);
    pmLCount->SetPopupComponent(Sender);
    vcl::TPoint p = label->ClientToScreen({0, label->Height()});
    pmLCount->Popup(p.X, p.Y);
}

void TMain::mClearCounterClick(vcl::TComponent*) {
    if (pmLCount->PopupComponent() == RVLabel) {
        PortSlots[PortSlotMain].RxCount = 0;
        PortSlots[PortSlot2].RxCount = 0;
        ShowRxCount();
    } else if (pmLCount->PopupComponent() == TRLabel) {
        SentCount = 0;
        ShowTxCount();
    }
}

// ---- Closing

void TMain::FormCloseQuery(vcl::TComponent*, bool& CanClose) {
    // The window always closes, at once, whatever a plug-in does or a save
    // still writes: first the plug-in and the ports are let go
    // (LetGoOfPorts), so that a device, a TCP port or a client never waits
    // for a slow reader of ours.
    //
    // A save that waits for a pipe or a device to take more is then
    // written on: the windows go at once, and the save goes on to a reader
    // that still takes, as the output files do (one that takes nothing for
    // the stall limit is given up, and standard error says so); the close
    // comes again from the loop once it has returned, so that nothing it was
    // saving goes away under it.
    const bool saving = vcl::Application && vcl::Application->WriteWaiting();
    LetGoOfPorts(saving);
    if (saving) {
        vcl::Application->FinishWaitingWrites();
        CanClose = false;
        if (PostWindow != 0) win::PostMessage(PostWindow, kCloseMessage, 0, 0);
        return;
    }
    CanClose = true;
    if (vcl::Application) vcl::Application->WritesFinished();
    if (std::exchange(Closed, true)) return;
    // Then the settings are saved (the plug-in stays in them, also one
    // still in its load event) and the window lets go of what is left.
    CloseStep([&] {
        PluginVars.reset();
        // Closed before the start-up applied the stored profile (from one of
        // its boxes): the window holds no profile, no selection and no
        // change of the user's yet, and the file as it is holds the
        // settings; saving would store the empty window over them.
        if (!starting_up_) SaveConfig(false);
    });
    CloseStep([&] {
        ForeignPort.reset();
        lb1->OnDrawItem = nullptr;
        lb1->Clear();
        // A running event is still on its way back: its host goes once it
        // has returned.
        if (!PluginBusy) {
            Script.reset();
            PluginPath.clear();
        }
        PortDescriptions.clear();
    });
}

void TMain::CloseStep(const std::function<void()>& Do) {
    // Each step on its own: one that fails is shown, and the others still
    // run; above all the settings are saved.
    try {
        Do();
    } catch (const std::exception& e) {
        ShowError(e.what());
    } catch (...) {
        rtl::TraceFailure(std::current_exception(), "closing the window");
    }
}

void TMain::LetGoOfPorts(bool ListSaving) {
    // Once: a running event is asked to stop (its waits and its boxes end,
    // and it shows no box any more), the timers end, the ports close (a TCP
    // server stops listening) and what they had read goes on without
    // plug-in events, in the order it came; the output files, with what
    // their pipes have not taken, are written once the window has gone.
    if (RxRouter.Closing()) return;
    RxRouter.BeginClose();
    // A save of the list under way reads it: the list takes nothing more,
    // and goes with the window unseen.
    ListHeld = ListSaving;
    if (Script) {
        if (!PluginPath.empty())
            PendingPluginPath = PluginPath;
        else if (PluginBusy && PendingPluginPath.empty())
            PendingPluginPath = LastPluginPath;
        if (PluginBusy) Script->Stop();
    }
    if (PluginBusy && vcl::Application) vcl::Application->CloseModalBoxes();
    CloseStep([&] {
        TmrPortConn->SetEnabled(false);
        tmr1->SetEnabled(false);
        cp1->Disconnect();
        cp2->Disconnect();
        if (ForeignPort && ForeignPort->Active()) ForeignPort->SetActive(false);
    });
    CloseStep([&] { DeliverEverything(); });
    CloseStep([&] {
        SendingCancelled = true;
        const bool on = OutputOn() != nullptr;
        for (auto& file : RxRouter.TakeOpenFiles()) Finishing.push_back(std::move(file));
        if (on) ShowOutputState();
    });
    TellCloseFailures();
}

void TMain::TellCloseFailures() {
    // An output that failed while the close handed data on: its notice
    // would go with the window, and what it never took has no list left
    // to show it in.
    for (const TCloseFailure& f : std::exchange(CloseFailures, {}))
        rtl::TraceFailure(rtl::Format("%d bytes of data for \"%s\" were not written: %s",
                                      {static_cast<std::int64_t>(f.Unwritten), f.Name, f.Failure}));
}

void TMain::FinishOutputs() {
    // The window is gone: what the outputs' readers have not taken yet is
    // written now, however slowly they take it; a reader that takes nothing
    // for the stall limit is given up, and standard error says what it
    // never got.
    for (auto& file : std::exchange(Finishing, {})) {
        const std::string name = file->FileName();
        if (const std::size_t unwritten = file->Finish())
            std::fprintf(stderr, "vostrel: %zu bytes of \"%s\" were not written: %s\n", unwritten, name.c_str(),
                         file->Failure().c_str());
    }
}

}  // namespace terminal
