// The transmit path of the main window: one transmission from the transmit
// box (button, Enter, the transmit timer), the two send operations every
// sender uses, the pseudo-commands that read and write plug-in variables,
// RS-485 mode around a transmission, the history and the five patterns.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <span>
#include <thread>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/format.h"
#include "platform/rtl/name_escapes.h"
#include "platform/rtl/numbers.h"
#include "platform/rtl/strings.h"
#include "platform/vcl/clipboard.h"
#include "platform/vcl/dialogs.h"
#include "platform/win/message_window.h"
#include "platform/win/timers.h"
#include "script/runtime/my_script.h"
#include "terminal/main_form.h"
#include "terminal/rs485_timing.h"

namespace terminal {

namespace {

constexpr const char* kEmptyPattern = "<empty>";

// Why a write left bytes over: the device took no more within the write
// time-out (a reason of the unsent-bytes line, kept short).
std::string TimeOutReason(std::uint64_t Ms) {
    return rtl::Format("time-out %d ms", {static_cast<std::int64_t>(Ms)});
}

// Pattern entries of the transmit box's menu, Alt+1 to Alt+5.
std::array<vcl::TMenuItem*, 5> PatternEntries(TMain& m) { return {m.N11, m.N9, m.N10, m.N12, m.alt51}; }

vcl::TMenuItem* Entry(TMain& m, const char* name) {
    auto* item = dynamic_cast<vcl::TMenuItem*>(m.FindComponent(name));
    if (!item) throw rtl::Exception(rtl::Format("Menu entry %s is missing", {name}));
    return item;
}

// Raises RTS for the lifetime of the guard: whatever ends the transmission,
// a failed write or a refused pseudo-command included, the bus is released.
class TRS485Guard {
public:
    explicit TRS485Guard(TMain& m) : m_(m) { m_.SetRS485Line(true); }
    ~TRS485Guard() {
        if (raised_) m_.SetRS485Line(false);
    }
    TRS485Guard(const TRS485Guard&) = delete;
    TRS485Guard& operator=(const TRS485Guard&) = delete;
    // Drops RTS now (after the wait); the destructor then has nothing to do.
    void Release() {
        raised_ = false;
        m_.SetRS485Line(false);
    }

private:
    TMain& m_;
    bool raised_ = true;
};

// The pseudo-command a buffer holds: "__setv(" or "__getv(" with at least
// one byte of room for the argument and ")" at the end.
enum class TPseudo { None, SetV, GetV };
TPseudo PseudoCommand(const char* p, std::uint32_t count) {
    if (count < 9 || p[0] != '_' || p[1] != '_' || p[count - 1] != ')') return TPseudo::None;
    if (std::memcmp(p + 2, "setv(", 5) == 0) return TPseudo::SetV;
    if (std::memcmp(p + 2, "getv(", 5) == 0) return TPseudo::GetV;
    return TPseudo::None;
}

}  // namespace

void TMain::BuildTransmitPath() {
    Transb->OnClick = [this](vcl::TComponent* s) { TransbClick(s); };
    TrBCB->OnKeyDown = [this](vcl::TComponent* s, std::uint16_t& key, vcl::TShiftState shift) {
        TrBCBKeyDown(s, key, shift);
    };
    TrBCB->OnChange = [this](vcl::TComponent* s) { TrBCBChange(s); };
    tmr1->SetOnTimer([this](vcl::TComponent* s) { TransbClick(s); });
    BTrArrow->OnClick = [this](vcl::TComponent* s) { BTrArrowClick(s); };
    for (vcl::TMenuItem* item : PatternEntries(*this))
        item->OnClick = [this](vcl::TComponent* s) { alt51Click(s); };
    Entry(*this, "Addcurrent1")->OnClick = [this](vcl::TComponent* s) { Addcurrent1Click(s); };
    Entry(*this, "Clearfixedlines1")->OnClick = [this](vcl::TComponent* s) { Clearfixedlines1Click(s); };
    Entry(*this, "mCopy")->OnClick = [this](vcl::TComponent* s) { mCopyClick(s); };
    Entry(*this, "mPaste")->OnClick = [this](vcl::TComponent* s) { mPasteClick(s); };
}

// ---- One transmission

bool TMain::ParseTransmitLine() {
    TTransmitParseOptions options;
    options.TrFormat = TRFormat;
    options.LineBreak = TrLineBreak;
    options.RS485Mode = CBRS485->Checked();
    options.PluginLoaded = PluginLoaded();
    try {
        // The parser also parses again when the format, the line break,
        // RS-485 mode or the plug-in state differ from its last parse.
        TrParser.ParseTransmitLine(TrBCB->Text(), options);
        return true;
    } catch (const ETransmitParseError& e) {
        // The parser has emptied the buffer and marked the line already.
        TPositionedMessage pm = SplitPositionedMessage(e.Message);
        TmrEnCB->SetChecked(false);
        if (TrBCB->CanFocus()) TrBCB->SetFocus();
        if (pm.HasSpan) SelectTransmitSpan(pm.SelStart, pm.SelLength);
        ShowError("Wrong data in Input Line.\r" + pm.Message);
        // The message box may have taken the focus and the selection with it.
        if (pm.HasSpan) SelectTransmitSpan(pm.SelStart, pm.SelLength);
        return false;
    }
}

void TMain::SelectTransmitSpan(int Start, int Length) {
    TrBCB->SetSelStart(Start);
    TrBCB->SetSelLength(Length);
}

void TMain::TransbClick(vcl::TComponent* Sender) {
    try {
        TransmitLine(Sender);
    } catch (ENotConnected& e) {
        // The user's box says why the port cannot be used, on a line of its own.
        if (!e.Reason.empty()) e.Message += "\r" + e.Reason;
        throw;
    }
}

void TMain::TransmitLine(vcl::TComponent* Sender) {
    // 0. During a file transfer the button reads "Cancel".
    if (!TransmitEnabled) {
        TransmitEnabled = true;
        return;
    }
    // While an event of a plug-in with a send event runs, nothing goes out
    // past the send event that should shape it: a tick of the transmit
    // timer is skipped (the next one tries again), a transmission the user
    // starts is refused. A plug-in without one shapes nothing that is sent,
    // so its events (a poller waiting in Recv) hold nothing back.
    if (Sender == tmr1 && PluginHoldsSends()) return;
    CheckPluginSendIdle();
    // 1. The line into the transmit buffer.
    if (!ParseTransmitLine()) return;
    // 2. The history, newest first (not for Shift+Enter).
    const std::string text = TrBCB->Text();
    if (Sender && !text.empty()) {
        vcl::TComboItems& items = TrBCB->Items();
        if (items.Count() == 0 || items.Strings(0) != text) {
            int found = -1;
            for (int i = 0; i < items.Count() && found < 0; ++i)
                if (items.Strings(i) == text) found = i;
            if (found >= 0) items.Delete(found);
            items.Insert(0, text);
        }
        if (items.Count() > TRComboHistoryLen && items.Count() > 0) items.Delete(items.Count() - 1);
        TrBCB->SetText(text);
    }
    // 3. A new receive line before the transmission.
    if (mAddLnBefTr->Checked() && !RxPanel->CurLine().empty()) StartNewLine(true);
    // 4. Sending.
    std::span<const std::uint8_t> buffer = TrParser.TransmitBuffer();
    if (CBRS485->Checked() && !ForeignPort) {
        TRS485Guard rts(*this);
        const std::uint32_t n = SendData(buffer.data(), static_cast<std::uint32_t>(buffer.size()), false);
        terminal::RS485Wait(RS485FrameMicroseconds(cp1->DataBits(), cp1->Parity(), cp1->StopBits(), n, cp1->BaudRateValue()),
                  CPUSpeed);
        rts.Release();
        ShowTxCount();
    } else if (buffer.empty()) {
        // Nothing goes out, but a plug-in's send event may supply bytes.
        SendData(buffer.data(), 0, true);
    } else {
        for (const TTransmitSegment& seg : TrParser.TransmitSegments()) {
            if (seg.Length > 0)
                SendData(buffer.data() + seg.Offset, static_cast<std::uint32_t>(seg.Length), true);
            if (seg.PauseAfter) {
                TRLabel->Repaint();
                std::this_thread::sleep_for(std::chrono::milliseconds(seg.PauseMs));
            }
        }
    }
    // 5. Stepping values: the line shows the values of the next transmission.
    if (TrParser.StepTokens()) TrBCB->SetText(TrParser.RebuildTransmitText());
    // 6.
    if (Sender == Transb && TrBCB->CanFocus()) TrBCB->SetFocus();
}

void TMain::SetRS485Line(bool Raised) { cp1->ToggleRTS(Raised); }

void TMain::CheckPluginSendIdle() {
    if (PluginHoldsSends()) CheckPluginIdle();
}

bool TMain::PluginHoldsSends() const {
    // A plug-in's Send that waits for the device holds the port too: bytes of
    // another send would land in the middle of its own.
    return PluginBusy && ((Script && Script->HasOnSend()) || PluginSendWaiting[PortSlotMain]);
}

// ---- The send operations

std::uint32_t TMain::SendData(const void* Buf, std::uint32_t Count, bool ShowCount, TSender By) {
    const char* p = static_cast<const char*>(Buf);
    // 1. Pseudo-commands on the plug-in variables: nothing is sent.
    switch (PseudoCommand(p, Count)) {
        case TPseudo::SetV: {
            const std::string arg(p + 7, Count - 8);
            ScriptSetV(arg, ",");
            AddTextLine("__setv(" + arg + ")", 2, 0, dfMSG);
            return 0;
        }
        case TPseudo::GetV: {
            const std::string arg(p + 7, Count - 8);
            script::runtime::CheckVariableName(arg);
            const std::string value = ScriptGetV(rtl::UpperCase(arg));
            AddTextLine("__getv(" + arg + ") -> " + value, 0, 0, dfMSG);
            return 0;
        }
        case TPseudo::None: break;
    }
    // 2. The plug-in's send event may change or empty what is sent; the
    //    string holds it for the rest of the sending.
    std::string hooked;
    if (Script && !PluginBusy && Script->HasOnSend()) {
        hooked.assign(p, Count);
        if (!PluginTransmitHook(hooked)) return 0;
        Buf = hooked.data();
        Count = static_cast<std::uint32_t>(hooked.size());
    }
    // 3. Connection check; a repeating transmission stops when it fails.
    CheckConnected(true);
    // 4. Send.
    std::uint32_t n = 0;
    if (ForeignPort) {
        const int sent = ForeignPort->Send(Buf, static_cast<int>(Count));
        n = sent > 0 ? static_cast<std::uint32_t>(sent) : 0;
    } else if (Count > 0) {
        bool ok = false;
        std::string unsent_why;
        n = By == TSender::Plugin ? WriteForPlugin(*cp1, PortSlotMain, Buf, Count, ok, unsent_why)
                                  : cp1->SendData(Buf, Count, &ok);
        // The write itself failed: the port is lost. (A zero-length probe of
        // the handle would pass here, the device being gone only for real
        // writes.)
        if (!ok) SerialWriteFailed(n);
        if (By == TSender::Plugin && n < Count) ReportUnsent("Send", n, Count, unsent_why, 0);
        // A device that took only part of the line within the write time-out:
        // the rest is never sent, and the user must not take it as sent.
        if (By == TSender::User && ok && n < Count)
            ReportUnsent("Transmit", n, Count,
                         TimeOutReason(cp1->WriteTimeoutFor(Count)), 0);
    }
    // 5. The sent bytes in the receive panel.
    if (mShowWrites->Checked() && (!PluginLoaded() || (PluginFlags & APTD) != 0)) ShowData(Buf, n, 2);
    // 6.
    SentCount += n;
    if (ShowCount) ShowTxCount();
    return n;
}

std::uint32_t TMain::SendData2(const void* Buf, std::uint32_t Count, TSender By) {
    CheckConnected(false);
    if (Count == 0) return 0;
    bool ok = false;
    std::string unsent_why;
    const std::uint32_t n = By == TSender::Plugin ? WriteForPlugin(*cp2, PortSlot2, Buf, Count, ok, unsent_why)
                                                  : cp2->SendData(Buf, Count, &ok);
    if (!ok) {  // a lost second port closes silently
        cp2->Disconnect();
        RefreshPortState(false);
    } else if (By == TSender::Plugin && n < Count) {
        ReportUnsent("Send2", n, Count, unsent_why, 1);
    }
    return n;
}

std::uint32_t TMain::WriteForPlugin(ports::TCommPortDriver& Driver, int Slot, const void* Buf, std::uint32_t Count,
                                    bool& Ok, std::string& Why) {
    // The whole send may take as long as one write of it may (the port's
    // write time-out for Count bytes), but it is written in slices with the
    // message loop running between them: the window stays painted and the
    // plug-in can be unloaded while a slow device takes its bytes.
    constexpr std::uint32_t kSliceMs = 50;
    const auto* p = static_cast<const char*>(Buf);
    const std::uint64_t limit = Driver.WriteTimeoutFor(Count);
    const std::uint32_t start = win::GetTickCount();
    const win::HANDLE handle = Driver.Handle();
    struct TWaiting {
        bool& flag;
        bool was;
        ~TWaiting() { flag = was; }
    } waiting{PluginSendWaiting[Slot], PluginSendWaiting[Slot]};
    std::uint32_t sent = 0;
    for (;;) {
        const std::uint64_t spent = win::GetTickCount() - start;
        const std::uint64_t left = limit == 0 ? kSliceMs : (limit > spent ? limit - spent : 0);
        const auto slice = static_cast<std::uint32_t>(std::min<std::uint64_t>(left, kSliceMs));
        sent += Driver.SendDataWithin(p + sent, Count - sent, slice, &Ok);
        if (!Ok || sent == Count) return sent;
        if (limit != 0 && win::GetTickCount() - start >= limit) {
            Why = TimeOutReason(limit);
            return sent;
        }
        PluginSendWaiting[Slot] = true;
        win::ProcessMessages();
        NotePluginLoopTurn();
        if (!Script || Script->Stopped()) {
            Why = "plugin stopped";
            return sent;
        }
        if (!Driver.Connected() || Driver.Handle() != handle) {
            Why = "port closed";
            return sent;
        }
    }
}

void TMain::ReportUnsent(const char* What, std::uint32_t Sent, std::uint32_t Count, const std::string& Why,
                         std::uint8_t Dir) {
    // An error line short enough to be read whole, reason included, in the
    // receive panel of the default window with time stamps on (about 64
    // characters show): "Send2: 663040 of 3000000 sent (time-out 10000 ms)"
    // and the count of a folded repeat. It is folded while the same send
    // keeps failing the same way.
    std::string text = rtl::Format("%s: %d of %d sent", {std::string_view(What), static_cast<std::int64_t>(Sent),
                                                         static_cast<std::int64_t>(Count)});
    if (!Why.empty()) text += " (" + Why + ")";
    AddErrorLine(text, Dir, CurrentTime());
}

// ---- Plug-in variables

void TMain::ScriptSetV(const std::string& Text, const std::string& Delimiter) {
    const std::size_t pos = Delimiter.empty() ? std::string::npos : Text.find(Delimiter);
    if (pos == std::string::npos) throw rtl::Exception("Bad \"SetV\" proc delimiter");
    const std::string written = Text.substr(0, pos);
    script::runtime::CheckVariableName(written);
    const std::string name = rtl::UpperCase(written);
    const std::string value = Text.substr(pos + Delimiter.size());
    std::uint8_t flag = 0;
    if (name == "APTD") flag = APTD;
    else if (name == "APRD") flag = APRD;
    else if (name == "APGD") flag = APGD;
    if (flag == 0) {
        SetPluginVar(name, value);
        return;
    }
    if (value == "0")
        PluginFlags &= static_cast<std::uint8_t>(~flag);
    else if (value == "1")
        PluginFlags |= flag;
    else
        throw rtl::Exception(rtl::Format("Bad Value \"%s\"", {rtl::PlainInMessage(value)}));
}

std::string TMain::ScriptGetV(const std::string& Name) {
    std::uint8_t flag = 0;
    if (Name == "APTD") flag = APTD;
    else if (Name == "APRD") flag = APRD;
    else if (Name == "APGD") flag = APGD;
    if (flag != 0) return (PluginFlags & flag) != 0 ? "1" : "0";
    return GetPluginVar(Name);
}

namespace {
// Ordinal, case-sensitive order of the variable store.
int CompareVar(const TPluginVar& v, const std::string& name) {
    const int c = v.Name.compare(name);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}
}  // namespace

void TMain::SetPluginVar(const std::string& Name, const std::string& Value) {
    // Gone with a closed window, where a stopped event may still be on its
    // way back.
    if (!PluginVars) return;
    int index = 0;
    if (PluginVars->Find(Name, CompareVar, index)) {
        PluginVars->Get(index).Value = Value;
        return;
    }
    TPluginVar& v = PluginVars->Insert(index);
    v.Name = Name;
    v.Value = Value;
}

std::string TMain::GetPluginVar(const std::string& Name) {
    int index = 0;
    return PluginVars && PluginVars->Find(Name, CompareVar, index) ? PluginVars->Get(index).Value : std::string();
}

// ---- The transmit box, its menu and patterns

void TMain::TrBCBKeyDown(vcl::TComponent*, std::uint16_t& Key, vcl::TShiftState Shift) {
    if (Key != vcl::VK_RETURN) return;
    Key = 0;
    // Shift+Enter sends without entering the line into the history.
    TransbClick((Shift & vcl::ssShift) != 0 ? nullptr : TrBCB);
}

void TMain::TrBCBChange(vcl::TComponent*) { TrParser.MarkForParse(); }

void TMain::Addcurrent1Click(vcl::TComponent*) {
    const std::string text = TrBCB->Text();
    if (text.empty()) throw rtl::Exception("Could not add empty string");
    std::string answer;
    if (!vcl::InputQuery("Enter pattern number", "Number (1-5)", answer)) return;
    const std::int64_t n = rtl::StrToIntDef(answer, 0);
    if (n < 1 || n > 5) throw rtl::Exception("Illegal number");
    PatternEntries(*this)[static_cast<std::size_t>(n - 1)]->SetCaption(text);
}

void TMain::Clearfixedlines1Click(vcl::TComponent*) {
    for (vcl::TMenuItem* item : PatternEntries(*this)) item->SetCaption(kEmptyPattern);
}

void TMain::alt51Click(vcl::TComponent* Sender) {
    auto* item = dynamic_cast<vcl::TMenuItem*>(Sender);
    if (!item || item->Caption() == kEmptyPattern) return;
    TrBCB->SetText(item->Caption());
    TrParser.MarkForParse();
}

void TMain::mCopyClick(vcl::TComponent*) { TrBCB->CopyToClipboard(); }

void TMain::mPasteClick(vcl::TComponent*) {
    std::string text = vcl::Clipboard().AsText();
    bool replaced = false;
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 32) {
            c = ' ';
            replaced = true;
        }
    if (replaced) vcl::Clipboard().SetAsText(text);
    if (text.empty()) return;
    // Typed over the selection, or in at the cursor; the box's change event
    // marks the line for parsing.
    TrBCB->SetSelText(text);
}

void TMain::BTrArrowClick(vcl::TComponent*) {
    vcl::TPoint p = BTrArrow->ClientToScreen({BTrArrow->Width(), BTrArrow->Height()});
    pmTrArrow->Popup(p.X, p.Y);
    if (TrBCB->CanFocus()) TrBCB->SetFocus();
}

void TMain::EnableTrControls(bool Enable) {
    if (!Enable) {
        if (!TransmitEnabled) return;  // already disabled: keep the saved caption
        TransbCaption = Transb->Caption();
        Transb->SetCaption("Cancel");
    } else if (!TransmitEnabled || Transb->Caption() == "Cancel") {
        Transb->SetCaption(TransbCaption.empty() ? std::string("Transmit") : TransbCaption);
    }
    nastrp->SetEnabled(Enable);
    Timergb->SetEnabled(Enable);
    BTrArrow->SetEnabled(Enable);
    TransmitEnabled = Enable;
}

}  // namespace terminal
