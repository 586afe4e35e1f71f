// The main window's side of the ports: the port scan and the two port
// lists, the line parameters applied to both serial components, the failure
// mark and the reconnect timer, the port buttons, the foreign port chosen in
// the main list with its settings frame and its owner callback, DTR, RTS,
// the line break and the polling delay.
#include <algorithm>
#include <exception>
#include <string>
#include <vector>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/format.h"
#include "platform/rtl/numbers.h"
#include "platform/win/comm.h"
#include "platform/win/port_scan.h"
#include "ports/ethernet_port.h"
#include "terminal/main_form.h"
#include "terminal/receive_format.h"

namespace terminal {

namespace {

// Face of a port list whose port is wanted but closed, and of the summary.
constexpr vcl::TColor kFailedColor = 0x8080FF;
// The highest rate "Custom.." takes.
constexpr std::int64_t kMaxCustomSpeed = 16777215;

int EntryPort(vcl::TComboBox* combo, int index) {
    return static_cast<int>(combo->Items().Objects(index));
}

int SelectedPortNumber(vcl::TComboBox* combo) {
    const int index = combo->ItemIndex();
    return index < 0 ? -1 : EntryPort(combo, index);
}

// The text after the first tab (the description), or nothing.
std::string DescriptionOf(const std::string& entry) {
    const auto tab = entry.find('\t');
    return tab == std::string::npos ? std::string() : entry.substr(tab + 1);
}

}  // namespace

// ---- The port scan

void TMain::ReadPorts() {
    // Descriptions first: a failure here leaves the lists as they were.
    std::vector<std::string> descriptions;
    if (mRetrieveportdescriptions->Checked())
        for (const auto& [name, desc] : win::PortDescriptionsFromNames(win::ReadPnPPortNames()))
            descriptions.push_back(name + "=" + desc);
    PortDescriptions = std::move(descriptions);

    // Closed while the lists still say which port is which: what they have
    // read goes through the receive path first.
    for (TPortSlot& slot : PortSlots) slot.Driver->Disconnect();
    for (TPortSlot& slot : PortSlots) {
        slot.DropWidth = 0;
        slot.Combo->Items().Clear();
    }
    std::vector<int> numbers;
    if (PortScanMethod == 0 || PortScanMethod == 1)
        numbers = win::ProbeComPorts(PortScanMethod == 0 ? 9 : 19);
    else
        numbers = win::ComNumbersFromList(win::ReadSerialCommList());
    for (int n : numbers)
        for (TPortSlot& slot : PortSlots) AddPortItem(slot.Combo, n, slot.Combo->Items().Count());

    AddPortItem(ComNcb, 0, 0);
    for (const ports::TForeignPortClassEntry& e : ports::ForeignPortClasses())
        if (!e.Class.IsAvailable || e.Class.IsAvailable())
            AddPortItem(ComNcb, e.Id, ComNcb->Items().Count());
    ComNcb->SetItemIndex(0);
    AddPortItem(cbComN2, 0, 0);
    cbComN2->SetItemIndex(0);
    RefreshPortState(true);
    RefreshPortState(false);
}

void TMain::AddPortItem(vcl::TComboBox* Combo, int PortNum, int Index) {
    std::string text;
    if (PortNum == 0) {
        text = "[No]";
    } else if (PortNum >= ports::FirstForeignPortId) {
        text = ports::ForeignPortClasses()[ForeignClassIndex(PortNum, true)].Class.GetName();
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

// A number that is neither listed nor a COM number (1 to 255) selects no
// port: the serial component's port field cannot hold it.
void TMain::ForceComNumber(int PortNum, bool Main) {
    vcl::TComboBox* c = PortSlots[Main ? PortSlotMain : PortSlot2].Combo;
    int i = PortNum == 0 ? 0 : c->Items().IndexOfObject(PortNum);
    if (i < 0 && win::IsComPortNumber(PortNum)) {
        i = c->Items().Count();
        for (int k = 1; k < c->Items().Count(); ++k)
            if (EntryPort(c, k) > PortNum) {
                i = k;
                break;
            }
        AddPortItem(c, PortNum, i);
    }
    c->SetItemIndex(std::max(i, 0));
}

int TMain::ForeignClassIndex(std::int32_t Id, bool RaiseIfMissing) {
    return ports::ForeignClassIndex(Id, RaiseIfMissing);
}

// ---- Applying the parameters

void TMain::ApplyBothPortParams(bool SilentMain, bool Silent2) {
    std::exception_ptr main_error;
    try {
        ApplyPortParams(SilentMain, true);
    } catch (...) {
        main_error = std::current_exception();
    }
    try {
        ApplyPortParams(Silent2, false);
    } catch (rtl::Exception& e) {
        // Both failed: the user hears of both, the main port first.
        if (!main_error) throw;
        try {
            std::rethrow_exception(main_error);
        } catch (rtl::Exception& first) {
            first.Message += "\r\r" + e.Message;
            throw;
        }
    }
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
            // A line setting changes on the open port: what the device sent
            // and the system holds for the port is kept. A setting the device
            // refuses closes the port, and the reopen below says why.
            auto change = [d](auto set) {
                set();
                if (d->Connected() && !d->LineSettingsApplied()) d->Disconnect();
            };
            if (static_cast<std::uint32_t>(speed) != d->BaudRateValue())
                change([&] { d->SetBaudRateValue(static_cast<std::uint32_t>(speed)); });
            // A line parameter: its list must have a selection; its label
            // turns yellow for a non-default value.
            auto line_param = [&](vcl::TComboBox* box, const char* error, vcl::TLabel* label,
                                  bool unusual, int current, auto set) {
                at = box;
                int index = box->ItemIndex();
                if (index < 0) throw rtl::Exception(error);
                label->SetColor(unusual ? vcl::clYellow : label->Parent()->Color());
                if (index != current) change([&] { set(index); });
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
            cbFlow->SetColor(cbFlow->Checked() ? vcl::clYellow : cbFlow->Parent()->Color());
            ports::THwFlowControl flow = cbFlow->Checked() ? ports::hfRTSCTS : ports::hfNONE;
            if (flow != d->HwFlow()) change([&] { d->SetHwFlow(flow); });
            at = slot.Combo;
            int index = slot.Combo->ItemIndex();
            if (index < 0) throw rtl::Exception("Wrong Main Port value");
            int port = EntryPort(slot.Combo, index);
            // Only "[No]" and COM numbers reach the serial component (a
            // foreign class id would wrap round to a COM number).
            if (port != 0 && !win::IsComPortNumber(port)) throw rtl::Exception("Wrong Main Port value");
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
    // A port that is wanted but closed tells why in its box's hint.
    main.Combo->SetHint(PortFailureReason(true));
    second.Combo->SetHint(PortFailureReason(false));
    main.Combo->Repaint();
    second.Combo->Repaint();
    lblSets->SetColor(main.Combo->Tag == 1 || (!ForeignPort && second.Combo->Tag == 1)
                          ? kFailedColor
                          : vcl::clWhite);
}

// ---- The port lists

void TMain::ComNcbDrawItem(vcl::TComponent* Control, int Index, const vcl::TRect& Rect,
                           vcl::TOwnerDrawState State) {
    auto* combo = static_cast<vcl::TComboBox*>(Control);
    if (Index < 0 || Index >= combo->Items().Count()) return;
    vcl::TCanvas& c = combo->Canvas();
    const bool selected = (State & vcl::odSelected) != 0;
    const bool dropped = combo->DroppedDown();
    if (combo->Tag == 1 && Index == combo->ItemIndex() && !dropped)
        c.Brush.SetColor(kFailedColor);
    else
        c.Brush.SetColor(selected ? vcl::clHighlight : combo->Color());
    c.FillRect(Rect);
    const std::string text = combo->Items().Strings(Index);
    const auto tab = text.find('\t');
    c.Font.SetColor(selected ? vcl::clWhite : vcl::clBlack);
    // Centred in the entry's height, as the other lists show their text.
    const int top = Rect.Top + std::max(0, (Rect.Height() - c.TextHeight("Wg")) / 2);
    c.TextOut(Rect.Left + 2, top, text.substr(0, tab));
    // The face of the list shows the port name alone.
    if (tab != std::string::npos && dropped && (State & vcl::odComboBoxEdit) == 0) {
        if (!selected) c.Font.SetColor(vcl::clGray);
        c.TextOut(Rect.Left + 55, top, text.substr(tab + 1));
    }
}

void TMain::ComNcbDropDown(vcl::TComponent* Sender) {
    TPortSlot& slot = PortSlots[Sender == cbComN2 ? PortSlot2 : PortSlotMain];
    if (slot.DropWidth != 0) return;
    vcl::TCanvas& c = slot.Combo->Canvas();
    c.Font.Assign(slot.Combo->Font());
    int widest = 0;
    for (int i = 1; i < slot.Combo->Items().Count(); ++i)
        widest = std::max(widest, c.TextWidth(DescriptionOf(slot.Combo->Items().Strings(i))));
    slot.DropWidth = widest + 60;
    slot.Combo->SetDroppedWidth(slot.DropWidth);
}

void TMain::ComNcbChange(vcl::TComponent* Sender) {
    if (Sender == ComNcb) {
        SwitchPortPanel();
        const std::string prefix = ForeignPort ? rtl::IntToStr(ForeignPort->Id()) + "|" : "";
        if (ForeignPort && LastForeignSettings.compare(0, prefix.size(), prefix) == 0)
            ForeignPort->SetSettings(LastForeignSettings.substr(prefix.size()));
    } else if (ForeignPort) {
        RefreshPortState(false);
    }
    speedcbExit(Sender);
}

void TMain::RereadportsbClick(vcl::TComponent*) {
    const int main_port = std::max(SelectedPortNumber(ComNcb), 0);
    const int second_port = std::max(SelectedPortNumber(cbComN2), 0);
    ReadPorts();
    ForceComNumber(main_port, true);
    ForceComNumber(second_port, false);
    if (!ForeignPort) ApplyBothPortParams(false);
}

void TMain::mPortScanMethClick(vcl::TComponent* Sender) {
    auto* entry = static_cast<vcl::TMenuItem*>(Sender);
    PortScanMethod = static_cast<int>(entry->Tag);
    entry->SetChecked(true);
    RereadportsbClick(Sender);
}

void TMain::mRetrieveportdescriptionsClick(vcl::TComponent* Sender) {
    mRetrieveportdescriptions->SetChecked(!mRetrieveportdescriptions->Checked());
    RereadportsbClick(Sender);
}

// ---- The foreign port

void TMain::SwitchPortPanel() {
    const int port = SelectedPortNumber(ComNcb);
    if (ForeignPort) {
        LastForeignSettings = rtl::IntToStr(ForeignPort->Id()) + "|" + ForeignPort->GetSettings();
        ForeignPort.reset();
        ++ForeignPortSerial;
    }
    if (port < ports::FirstForeignPortId) {
        pnlForPPrms->SetVisible(false);
        pnlCommPrms->SetVisible(true);
        return;
    }
    cp1->Disconnect();
    cp2->Disconnect();
    const ports::TForeignPortClass& cls =
        ports::ForeignPortClasses()[ForeignClassIndex(port, true)].Class;
    ++ForeignPortSerial;
    ForeignPort = cls.Create(port, [this](int Code, const std::string& Text, std::string& Reply) {
        ForeignPortEvent(Code, Text, Reply);
    });
    // A new port's first peer is named; what its clients' streams still hold
    // from the port before it leaves them less room.
    // Its first peer is named, in the list and in the output file.
    RxPanel->ForgetNames();
    if (TListOutput* on = OutputOn()) on->NamedPeer = 0;
    for (int client = 0; client <= 255; ++client) UpdateForeignHold({.IsMain = client == 1, .Client = client});
    ports::TfrmForP* frame = ForeignPort->Frame();
    frame->SetParent(pnlForPPrms);
    frame->SetAlign(vcl::TAlign::alClient);
    pnlCommPrms->SetVisible(false);
    pnlForPPrms->SetVisible(true);
    frame->Lock(true);
    frame->Lock(false);
    ForeignPortStateChanged();
}

void TMain::ForeignPortStateChanged() {
    if (ForeignPort) {
        sbPort->SetDown(!ForeignPort->Active());
        SetPortButtonLook(sbPort);
    }
    RefreshPortState(true);
    RefreshPortState(false);
}

void TMain::ForeignPortEvent(int Code, const std::string& Text, std::string& Reply) {
    try {
        switch (Code) {
            // Lines about the peers and what they send keep their place among
            // the received chunks, which may wait for a plug-in event.
            case ports::fpeInfo:
            case ports::fpeError:
            case ports::fpeRecvInfo: {
                const int client = ForeignPort ? ForeignPort->ReportClient() : -1;
                const TReceiveSource source = client < 0
                                                  ? TReceiveSource{.IsMain = true, .Client = TReceiveSource::PortWide}
                                                  : TReceiveSource{.IsMain = client == 1, .Client = client};
                // A peer that has gone: after what it sent, and before the
                // line that says so, what its words left unpaired shows.
                if (ForeignPort && ForeignPort->DataOrigin().Gone)
                    ReceiveGone(source, ForeignPort->DataOrigin().Key);
                ReceiveLine(Code, Text, source);
                break;
            }
            case ports::fpeSendInfo:
                if (mShowWrites->Checked()) AddTextLine(Text, 0, 0, dfMSG);
                break;
            case ports::fpeData:
                if (!Text.empty()) {
                    // Client 1 is the main port, every other client Port2.
                    const int client = static_cast<std::uint8_t>(Text[0]);
                    ports::TForeignPort::TDataOrigin origin;
                    if (ForeignPort) origin = ForeignPort->DataOrigin();
                    ReceiveData({.IsMain = client == 1, .Client = client}, Text.data() + 1,
                                static_cast<std::uint32_t>(Text.size() - 1), origin.Key, std::move(origin.Line));
                }
                break;
            case ports::fpeRefresh:
                ForeignPortStateChanged();
                // A port that closed leaves no peer whose words wait.
                if (ForeignPort && !ForeignPort->Active())
                    for (const bool main : {true, false})
                        ReceiveGone({.IsMain = main, .Client = TReceiveSource::PortWide}, 0);
                break;
            case ports::fpeSettingsChanged:
                // A profile being applied edits the fields itself: that is
                // no departure from the profile.
                if (ApplyingProfile == 0) {
                    CBProfile->SetItemIndex(-1);
                    CBProfileChange(nullptr);
                }
                break;
            default: Reply.clear(); break;
        }
    } catch (...) {
        vcl::Application->HandleException(std::current_exception());
    }
}

// ---- Port buttons and the transmit path's checks

void TMain::SetPortButtonLook(vcl::TSpeedButton* Button) {
    const bool down = Button->Down();
    Button->Font().SetColor(down ? vcl::clRed : vcl::clWindowText);
    const vcl::TFontStyles style = Button->Font().Style();
    Button->Font().SetStyle(down ? (style | vcl::fsStrikeOut) : (style & ~vcl::fsStrikeOut));
}

void TMain::sbPortClick(vcl::TComponent* Sender) {
    auto* button = static_cast<vcl::TSpeedButton*>(Sender);
    const bool main = button == sbPort;
    if (!ForeignPort) {
        if (button->Down()) {
            PortSlots[main ? PortSlotMain : PortSlot2].Driver->Disconnect();
            RefreshPortState(main);
        } else {
            ApplyPortParams(true, main);
        }
    } else if (main) {
        try {
            if (button->Down()) {
                ForeignPort->SetActive(false);
            } else {
                ForeignPort->Frame()->CheckParams();
                ForeignPort->SetActive(true);
            }
        } catch (...) {
            button->SetDown(true);
            SetPortButtonLook(button);
            throw;
        }
        ForeignPortStateChanged();
    }
    SetPortButtonLook(button);
}

void TMain::CheckConnected(bool Main) {
    const bool connected = Main ? (ForeignPort ? ForeignPort->Active() : cp1->Connected())
                                : (!ForeignPort && cp2->Connected());
    if (connected) return;
    TmrEnCB->SetChecked(false);
    throw ENotConnected(std::string("Port") + (Main ? "" : "2") + " is not connected", PortFailureReason(Main));
}

std::string TMain::PortFailureReason(bool Main) const {
    const TPortSlot& slot = PortSlots[Main ? PortSlotMain : PortSlot2];
    if (ForeignPort || slot.Driver->Connected() || slot.Combo->ItemIndex() <= 0 || slot.Button->Down()) return {};
    return slot.Driver->FailureReason();
}

bool TMain::CheckPortHandle(bool Main, bool RaiseIt) {
    ports::TCommPortDriver* d = PortSlots[Main ? PortSlotMain : PortSlot2].Driver;
    win::DWORD written = 0;
    static const char kNothing = 0;
    if (d->Connected() && win::WriteFile(d->Handle(), &kNothing, 0, &written, nullptr)) return true;
    d->Disconnect();
    RefreshPortState(Main);
    if (RaiseIt)
        throw rtl::Exception(rtl::Format("Handle of port \"%s\" is no longer valid", {d->PortName()}));
    return false;
}

// ---- Parameter controls

void TMain::speedcbChange(vcl::TComponent* Sender) {
    const int last = speedcb->Items().Count() - 1;
    if (speedcb->ItemIndex() != last) {
        speedcbExit(Sender);
        return;
    }
    auto select_current = [this] {
        speedcb->SetItemIndex(speedcb->Items().IndexOf(rtl::IntToStr(cp1->BaudRateValue())));
    };
    // While the question is up the list shows the rate in use: anything that
    // applies the parameters meanwhile (the reconnect timer, the list losing
    // the focus) must not take "Custom.." for a rate and close the ports.
    select_current();
    std::string value = LastCustomSpeed;
    if (!vcl::InputQuery("Speed value", "Enter number", value)) return;
    std::int64_t v = -1;
    if (!rtl::TryStrToInt64(value, v)) v = -1;
    if (v < 1 || v > kMaxCustomSpeed) {
        select_current();
        throw rtl::Exception("Wrong value");
    }
    LastCustomSpeed = value;
    const std::string text = rtl::IntToStr(v);
    int i = speedcb->Items().IndexOf(text);
    if (i < 0) {
        i = last;
        speedcb->Items().Insert(i, text);
    }
    speedcb->SetItemIndex(i);
    speedcbExit(Sender);
}

void TMain::cbFlowClick(vcl::TComponent* Sender) {
    rtscb->SetEnabled(!CBRS485->Checked() && !cbFlow->Checked());
    speedcbExit(Sender);
}

void TMain::CBLineBreakClick(vcl::TComponent*) {
    const bool on = CBLineBreak->Checked();
    if (on) TmrEnCB->SetChecked(false);
    win::EscapeCommFunction(cp1->Handle(), on ? win::SETBREAK : win::CLRBREAK);
    CBLineBreak->SetColor(on ? kFailedColor : CBLineBreak->Parent()->Color());
}

void TMain::m1000msClick(vcl::TComponent* Sender) {
    auto* entry = static_cast<vcl::TMenuItem*>(Sender);
    auto delay = static_cast<std::uint16_t>(entry->Tag);
    cp1->SetPollingDelay(delay);
    cp2->SetPollingDelay(delay);
    entry->SetChecked(true);
    PollingIndex = entry->MenuIndex();
}

// ---- Reconnection

void TMain::TmrPortConnTimer(vcl::TComponent*) {
    if (Disableondeactivate1->Checked() && !Active()) return;
    if (RxRouter.Closing()) return;  // closing: the ports stay closed
    for (vcl::TComboBox* c : {ComNcb, cbComN2, speedcb, Databitscb, Stopbcb, Parcb})
        if (c->DroppedDown()) return;
    ApplyPortParams(true, true);
    ApplyPortParams(true, false);
}

void TMain::HookPortControls() {
    ports::RegisterEthernetPort();
    // A device that vanished leaves its port wanted but closed: marked failed
    // and retried by the reconnect timer, as after a failed write.
    for (ports::TCommPortDriver* d : {cp1, cp2})
        d->OnDeviceLost = [this](vcl::TComponent* s) { RefreshPortState(s == cp1); };
    sbPort->OnClick = [this](vcl::TComponent* s) { sbPortClick(s); };
    sbPort2->OnClick = [this](vcl::TComponent* s) { sbPortClick(s); };
    for (vcl::TComboBox* c : {ComNcb, cbComN2}) {
        c->OnChange = [this](vcl::TComponent* s) { ComNcbChange(s); };
        c->OnDrawItem = [this](vcl::TComponent* s, int i, const vcl::TRect& r,
                               vcl::TOwnerDrawState st) { ComNcbDrawItem(s, i, r, st); };
        c->OnDropDown = [this](vcl::TComponent* s) { ComNcbDropDown(s); };
    }
    speedcb->OnChange = [this](vcl::TComponent* s) { speedcbChange(s); };
    speedcb->OnExit = [this](vcl::TComponent* s) { speedcbExit(s); };
    for (vcl::TComboBox* c : {Databitscb, Stopbcb, Parcb})
        c->OnChange = [this](vcl::TComponent* s) { speedcbExit(s); };
    for (vcl::TCheckBox* c : {DTRcb, rtscb})
        c->OnClick = [this](vcl::TComponent* s) { speedcbExit(s); };
    cbFlow->OnClick = [this](vcl::TComponent* s) { cbFlowClick(s); };
    CBLineBreak->OnClick = [this](vcl::TComponent* s) { CBLineBreakClick(s); };
    CBRS485->OnClick = [this](vcl::TComponent* s) { CBRS485Click(s); };
    BSpeed->OnClick = [this](vcl::TComponent* s) { BSpeedClick(s); };
    tmrRS485On = new vcl::TTimer(this);
    tmrRS485On->Name = "tmrRS485On";
    tmrRS485On->SetEnabled(false);
    tmrRS485On->SetInterval(1);
    tmrRS485On->SetOnTimer([this](vcl::TComponent* s) { tmrRS485OnTimer(s); });
    Rereadportsb->OnClick = [this](vcl::TComponent* s) { RereadportsbClick(s); };
    TmrPortConn->SetOnTimer([this](vcl::TComponent* s) { TmrPortConnTimer(s); });
    for (int i = 0; i < mPortScanMeth->Count(); ++i)
        mPortScanMeth->Items(i)->OnClick = [this](vcl::TComponent* s) { mPortScanMethClick(s); };
    mRetrieveportdescriptions->OnClick = [this](vcl::TComponent* s) {
        mRetrieveportdescriptionsClick(s);
    };
}

}  // namespace terminal
