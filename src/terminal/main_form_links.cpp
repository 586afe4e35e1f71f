// The main window's calls into the terminal's other parts, as far as they
// stand. Each says what it does so far; the parts that own them replace
// these bodies (settings file, port scan and selection, profiles, layouts,
// receive panel, RS-485).
#include <unistd.h>

#include <cstdlib>
#include <exception>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/files.h"
#include "platform/rtl/format.h"
#include "platform/rtl/numbers.h"
#include "terminal/main_form.h"

namespace terminal {

// The settings file lives beside the executable; where that folder cannot
// be written, in the user's configuration folder.
std::string TMain::DefaultConfigFileName() {
    std::string exe = rtl::ExeFolder();
    if (::access(rtl::SysPath(exe).c_str(), W_OK) == 0) return exe + "vostrel.ini";
    std::string base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
        base = rtl::FromSysPath(xdg);
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = rtl::FromSysPath(home) + "/.config";
    else
        return exe + "vostrel.ini";
    return rtl::IncludeTrailingPathDelimiter(base) + "vostrel/vostrel.ini";
}

// The port scan comes with the port-selection part: no COM port is listed
// yet, both lists hold "[No]" alone; both drivers are closed.
void TMain::ReadPorts() {
    for (TPortSlot& slot : PortSlots) {
        slot.DropWidth = 0;
        slot.Combo->Items().Clear();
        slot.Driver->Disconnect();
    }
    for (TPortSlot& slot : PortSlots) {
        AddPortItem(slot.Combo, 0, 0);
        slot.Combo->SetItemIndex(0);
    }
    RefreshPortState(true);
    RefreshPortState(false);
}

void TMain::ApplyBothPortParams(bool Silent) {
    std::exception_ptr main_error;
    try {
        ApplyPortParams(Silent, true);
    } catch (...) {
        main_error = std::current_exception();
    }
    ApplyPortParams(Silent, false);
    if (main_error) std::rethrow_exception(main_error);
}

// The UI's line parameters onto a slot's driver, then opening it. Returns
// true without an error; Silent swallows errors (the slot stays closed).
bool TMain::ApplyPortParams(bool Silent, bool Main) {
    TPortSlot& slot = PortSlots[Main ? PortSlotMain : PortSlot2];
    ports::TCommPortDriver* d = slot.Driver;
    vcl::TWinControl* at = nullptr;
    try {
        if (!ForeignPort) {
            CBLineBreak->SetChecked(false);
            at = speedcb;
            std::int64_t speed = rtl::StrToIntDef(speedcb->Text(), 0);
            if (speed <= 0) throw rtl::Exception("Wrong speed number");
            if (static_cast<std::uint32_t>(speed) != d->BaudRateValue()) {
                d->Disconnect();
                d->SetBaudRateValue(static_cast<std::uint32_t>(speed));
            }
            // A line parameter: its list must have a selection; its label
            // turns yellow for a non-default value; a change closes the port.
            auto line_param = [&](vcl::TComboBox* box, const char* error, vcl::TLabel* label,
                                  bool unusual, int current, auto set) {
                at = box;
                int index = box->ItemIndex();
                if (index < 0) throw rtl::Exception(error);
                label->SetColor(unusual ? vcl::clYellow : RvGB->Color());
                if (index != current) {
                    d->Disconnect();
                    set(index);
                }
            };
            line_param(Databitscb, "Wrong databits value", lblDataBits,
                       Databitscb->ItemIndex() != 3, d->DataBits(),
                       [d](int i) { d->SetDataBits(static_cast<ports::TDataBits>(i)); });
            line_param(Stopbcb, "Wrong stopbits value", lblStopBits, Stopbcb->ItemIndex() != 0,
                       d->StopBits(),
                       [d](int i) { d->SetStopBits(static_cast<ports::TStopBits>(i)); });
            line_param(Parcb, "Wrong parity value", lblParity, Parcb->ItemIndex() >= 3,
                       d->Parity(), [d](int i) { d->SetParity(static_cast<ports::TParity>(i)); });
            at = cbFlow;
            cbFlow->SetColor(cbFlow->Checked() ? vcl::clYellow : RvGB->Color());
            ports::THwFlowControl flow = cbFlow->Checked() ? ports::hfRTSCTS : ports::hfNONE;
            if (flow != d->HwFlow()) {
                d->Disconnect();
                d->SetHwFlow(flow);
            }
            at = slot.Combo;
            int index = slot.Combo->ItemIndex();
            if (index < 0) throw rtl::Exception("Wrong Main Port value");
            int port = static_cast<int>(slot.Combo->Items().Objects(index));
            if (port != d->Port() || !d->Connected()) {
                d->Disconnect();
                d->SetPort(static_cast<ports::TPortNumber>(port));
                if (index != 0 && !slot.Button->Down() && d->Connect()) d->FlushBuffers(true, true);
            }
            d->ToggleDTR(DTRcb->Checked());
            d->ToggleRTS(rtscb->Checked());
        }
        RefreshPortState(Main);
        return true;
    } catch (rtl::Exception& e) {
        d->Disconnect();
        RefreshPortState(Main);
        if (Silent) return false;
        if (at && at->CanFocus()) at->SetFocus();
        e.Message = (Main ? "Error setting MainPort parameters\r\r"
                          : "Error setting AuxPort parameters\r\r") +
                    e.Message;
        throw;
    }
}

void TMain::RefreshPortState(bool Main) {
    TPortSlot& main = PortSlots[PortSlotMain];
    TPortSlot& second = PortSlots[PortSlot2];
    (void)Main;  // both slots are judged together
    if (ForeignPort) {
        // The second port stays closed while a foreign port is the main one.
        main.Combo->Tag = ForeignPort->Active() ? 0 : 1;
        second.Combo->Tag = second.Combo->ItemIndex() != 0 ? 1 : 0;
        TmrPortConn->SetEnabled(false);
    } else {
        auto wanted_closed = [](const TPortSlot& s) {
            return !s.Driver->Connected() && s.Combo->ItemIndex() != 0 && !s.Button->Down();
        };
        main.Combo->Tag = main.Driver->Connected() ? 0 : 1;
        second.Combo->Tag = (!second.Driver->Connected() && second.Combo->ItemIndex() != 0) ? 1 : 0;
        TmrPortConn->SetEnabled(wanted_closed(main) || wanted_closed(second));
    }
    main.Combo->Repaint();
    second.Combo->Repaint();
    lblSets->SetColor(main.Combo->Tag == 1 || (!ForeignPort && second.Combo->Tag == 1)
                          ? vcl::TColor(0x8080FF)
                          : vcl::clWhite);
}

void TMain::AddPortItem(vcl::TComboBox* Combo, int PortNum, int Index) {
    std::string text;
    if (PortNum == 0) {
        text = "[No]";
    } else {
        text = rtl::Format("COM%d", {PortNum});
        const std::string key = text + "=";
        for (const std::string& d : PortDescriptions)
            if (d.compare(0, key.size(), key) == 0) {
                text = rtl::Format("%s\t(%s)", {text, d.substr(key.size())});
                break;
            }
    }
    Combo->Items().InsertObject(Index, text, PortNum);
}

void TMain::ForceComNumber(int PortNum, bool Main) {
    vcl::TComboBox* c = PortSlots[Main ? PortSlotMain : PortSlot2].Combo;
    if (PortNum == 0) {
        c->SetItemIndex(0);
        return;
    }
    int i = c->Items().IndexOfObject(PortNum);
    if (i < 0) {
        i = c->Items().Count();
        for (int k = 1; k < c->Items().Count(); ++k)
            if (c->Items().Objects(k) > PortNum) {
                i = k;
                break;
            }
        AddPortItem(c, PortNum, i);
    }
    c->SetItemIndex(i);
}

void TMain::m1000msClick(vcl::TComponent* Sender) {
    auto* entry = static_cast<vcl::TMenuItem*>(Sender);
    auto delay = static_cast<std::uint16_t>(entry->Tag);
    cp1->SetPollingDelay(delay);
    cp2->SetPollingDelay(delay);
    entry->SetChecked(true);
    PollingIndex = entry->MenuIndex();
}

// Measuring the clock (with a Sender) comes with the RS-485 part; the hint
// is refreshed always.
void TMain::BSpeedClick(vcl::TComponent* Sender) {
    (void)Sender;
    BSpeed->SetHint(rtl::Format("%sCurrent speed value = %d kHz",
                                {"Count CPU speed\r(for exact 485 mode functioning)\r", CPUSpeed}));
}

void TMain::Disableondeactivate1Click(vcl::TComponent* Sender) { ToggleCheck(Sender); }

// A menu option that only toggles its check mark (called with no sender,
// it keeps the state).
void TMain::ToggleCheck(vcl::TComponent* Sender) {
    if (auto* m = dynamic_cast<vcl::TMenuItem*>(Sender)) m->SetChecked(!m->Checked());
}

}  // namespace terminal
