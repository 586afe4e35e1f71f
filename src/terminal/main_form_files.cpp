// The main window's file commands: the receive list's editing and its files
// (save, load, output to a file), and whole files sent on the main port
// (ASCII-hex text, a saved receive log, binary files with or without tags)
// through one raw sender that keeps the window alive and can be cancelled.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <new>
#include <optional>
#include <thread>

#include "graph/graph_form.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/failure_trace.h"
#include "platform/rtl/format.h"
#include "platform/vcl/clipboard.h"
#include "platform/vcl/controls.h"
#include "platform/vcl/file_save.h"
#include "platform/vcl/regular_file.h"
#include "terminal/common_str_proc.h"
#include "terminal/file_send_formats.h"
#include "terminal/main_form.h"

namespace terminal {

namespace {

// Each write of a transfer is at most this long, so the window is seen to
// between writes even when the line is fast and the file large.
constexpr std::size_t kSendChunk = 64 * 1024;

// Write time-outs of the main port: short during a transfer, so that a
// Cancel is noticed within about half a second; the usual one otherwise.
constexpr std::uint32_t kTransferWriteTimeoutMs = 500;
constexpr std::uint32_t kNormalWriteTimeoutMs = 10000;

// A tagged transfer cancelled inside one of its writes.
struct TTransferCancelled {};

vcl::TMenuItem* Entry(TMain& m, const char* name) {
    auto* item = dynamic_cast<vcl::TMenuItem*>(m.FindComponent(name));
    if (!item) throw rtl::Exception(rtl::Format("Menu entry %s is missing", {name}));
    return item;
}

std::uint64_t NowMs() {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void ProcessMessages() {
    if (vcl::Application) vcl::Application->ProcessMessages();
}

// The program is ending (its window was closed during a transfer): the
// transfer stops instead of holding the port for the rest of the file
// behind a window that is gone.
bool Quitting() { return vcl::Application && vcl::Application->Terminated(); }

// The transmit controls are taken for a transfer: the Transmit button
// reads "Cancel", and the transmit timer's ticks are skipped meanwhile (a
// tick runs a transmission, which during a transfer would cancel the file
// half sent). Everything is given back however the transfer ends.
class TTransmitControlsTaken {
public:
    explicit TTransmitControlsTaken(TMain& m) : m_(m), tick_(m.tmr1->OnTimer()) {
        m_.EnableTrControls(false);
        m_.tmr1->SetOnTimer([](vcl::TComponent*) {});
    }
    ~TTransmitControlsTaken() {
        m_.tmr1->SetOnTimer(std::move(tick_));
        m_.EnableTrControls(true);
    }
    TTransmitControlsTaken(const TTransmitControlsTaken&) = delete;
    TTransmitControlsTaken& operator=(const TTransmitControlsTaken&) = delete;

private:
    TMain& m_;
    vcl::TNotifyEvent tick_;
};

// A raw transfer on the serial port: the controls (when asked) and a short
// write time-out, so that a Cancel is seen between writes; the usual
// time-out comes back however the transfer ends.
class TTransferScope {
public:
    TTransferScope(TMain& m, bool TakeControls) : m_(m) {
        if (TakeControls) controls_.emplace(m_);
        m_.cp1->SetWriteTimeouts(0, kTransferWriteTimeoutMs);
    }
    ~TTransferScope() { m_.cp1->SetWriteTimeouts(0, kNormalWriteTimeoutMs); }
    TTransferScope(const TTransferScope&) = delete;
    TTransferScope& operator=(const TTransferScope&) = delete;

private:
    TMain& m_;
    std::optional<TTransmitControlsTaken> controls_;
};

// The bytes a file command sends, made by Make from the whole file. Only a
// regular file that fits in memory is read (a FIFO or a device is refused
// before it is opened); every failure names the file, and nothing is sent.
template <class MakeBytes>
std::string FileBytesToSend(const std::string& FileName, MakeBytes&& Make) {
    try {
        return Make(vcl::LoadRegularFile(FileName));
    } catch (const std::bad_alloc&) {
        throw rtl::EReadError("Cannot send \"" + FileName + "\": it does not fit in memory");
    }
}

}  // namespace

void TMain::BuildFileCommands() {
    ShiftHeld = [] { return (vcl::KeyboardShiftState() & vcl::ssShift) != 0; };
    auto hook = [this](const char* name, void (TMain::*handler)(vcl::TComponent*)) {
        Entry(*this, name)->OnClick = [this, handler](vcl::TComponent* s) { (this->*handler)(s); };
    };
    hook("Crm", &TMain::CrmClick);
    hook("mDeleteLine", &TMain::mDeleteLineClick);
    hook("mCopyLine", &TMain::mCopyLineClick);
    hook("Clearm", &TMain::ClearmClick);
    hook("mCopyAll", &TMain::mCopyAllClick);
    hook("Load1", &TMain::Load1Click);
    hook("mSaveAll", &TMain::mSaveAllClick);
    hook("Outputtofile1", &TMain::Outputtofile1Click);
    hook("SendASCIIHEXFile1", &TMain::SendASCIIHEXFile1Click);
    hook("SendSelflog1", &TMain::SendSelflog1Click);
    hook("SendBINFile1", &TMain::SendBINFile1Click);
    hook("mSendBinaryFileWithTags", &TMain::mSendBinaryFileWithTagsClick);
}

// ---- Editing the receive list

void TMain::CrmClick(vcl::TComponent*) { StartNewLine(true); }

void TMain::mDeleteLineClick(vcl::TComponent*) {
    RxRouter.SettleFailures();
    SyncReceivePanelOptions();
    RxPanel->WriteTo(TextOutput());
    const int index = DeletePanelLine(*RxPanel, lb1->ItemIndex());
    lb1->SetItemIndex(index);
}

void TMain::mCopyLineClick(vcl::TComponent*) {
    const int index = lb1->ItemIndex();
    const TLineStore& lines = RxPanel->Lines();
    if (index < 0 || index >= lines.LineCount()) return;
    vcl::Clipboard().SetAsText(CopyLineText(lines, index, ShiftHeld && ShiftHeld()));
}

void TMain::mCopyAllClick(vcl::TComponent*) {
    vcl::Clipboard().SetAsText(CopyAllText(RxPanel->Lines(), ShiftHeld && ShiftHeld()));
}

void TMain::ClearmClick(vcl::TComponent*) {
    // What was read before the clear is cleared with it (the list, and the
    // output file, which is emptied), also what still waits for its port's
    // receive event (which still gets it). Data read for a file switched off
    // since is that file's: the clear does not empty it. What a failed
    // output never took shows first, and goes with the list.
    RxRouter.SettleFailures();
    RxRouter.MarkCleared();
    RxPanel->ClearLines();
    if (graph::fGraph) graph::fGraph->ClearGraph();
    StartNewLine(true);
    RecalcListMetrics();
    PortSlots[PortSlotMain].RxCount = 0;
    PortSlots[PortSlot2].RxCount = 0;
    SentCount = 0;
    ShowRxCount();
    ShowTxCount();
    if (TListOutput* on = OutputOn()) on->Empty();
}

// ---- Receive-list files

void TMain::Load1Click(vcl::TComponent*) {
    if (!odInt->Execute()) return;
    SyncReceivePanelOptions();
    // The list, counters, graph and output file are cleared only once the
    // file is open and its first line sound: a file that is no list, or
    // cannot be read, changes nothing. Ends with a fresh current line, also
    // when the file breaks off later.
    LoadPanelList(odInt->FileName, *RxPanel, [this] { ClearmClick(nullptr); });
}

void TMain::mSaveAllClick(vcl::TComponent*) {
    if (!sd1->Execute()) return;
    CheckNotOutputFile(sd1->FileName);
    // The list saved holds what a failed output never took.
    RxRouter.SettleFailures();
    try {
        SaveList(RxPanel->Lines(), sd1->FileName, ListFileTypeOfFilter(sd1->FilterIndex));
    } catch (const vcl::EFileSaveError& e) {
        // Given up after the window has gone: only standard error is left
        // to say what the file never got.
        if (!vcl::Application || !vcl::Application->FinishingWrites()) throw;
        rtl::TraceFailure(rtl::Format("%d bytes of \"%s\" were not written: %s",
                                      {static_cast<std::int64_t>(e.Unwritten), sd1->FileName, e.what()}));
    }
}

void TMain::CheckNotOutputFile(const std::string& FileName) const {
    if (const TListOutput* on = OutputOn(); on && on->Holds(FileName))
        throw vcl::EFileSaveError(FileName, EBUSY, "it is the output file that Output to file is writing");
    // The program itself holds it: not some other program's file.
    if (const TListOutput* waiting = RxRouter.WaitingFile(FileName))
        throw vcl::EFileSaveError(FileName, EBUSY, "it is an output file switched off that is still being written "
                                                   "with what was received for it, " + WaitsFor(*waiting));
}

std::string TMain::WaitsFor(const TListOutput& Waiting) const {
    return Waiting.HasBacklog() ? "which waits for the program that reads it to take it"
                                : "which waits for the plug-in's receive event";
}

void TMain::ShowOutputState() {
    SyncReceivePanelOptions();
    Outputtofile1->SetChecked(OutputOn() != nullptr);
    UpdateNumFormat();
}

void TMain::Outputtofile1Click(vcl::TComponent*) {
    // Whatever fails (the open, the clear), the check mark, the label and
    // where received data goes show the output as it is. An output that
    // failed is off already, as the check mark has shown since.
    RxRouter.SettleFailures();
    try {
        if (OutputOn()) {
            SwitchOutputOff();
        } else if (sd1->Execute()) {
            const TListFileType type = ListFileTypeOfFilter(sd1->FilterIndex);
            if (const TListOutput* waiting = RxRouter.WaitingFile(sd1->FileName)) {
                ResumeOutput(*waiting, type);
            } else {
                // The internal format is refused before the file is touched.
                // What is read from now on goes to the file.
                RxRouter.OpenOutput(sd1->FileName, type);
                ClearmClick(nullptr);
            }
        }
    } catch (...) {
        ShowOutputState();
        throw;
    }
    ShowOutputState();
}

void TMain::SwitchOutputOff() { RxRouter.OutputSwitchedOff(); }

void TMain::ResumeOutput(const TListOutput& Waiting, TListFileType Type) {
    // The file was switched off while the plug-in's receive event held data
    // read for it, and is still open for that: output carries on into it,
    // after what it holds, so that nothing it was owed or holds is lost.
    if (Type == TListFileType::Internal) throw rtl::Exception(OutputNotSupportedText);
    if ((Type == TListFileType::Binary) != Waiting.Raw())
        throw rtl::Exception(rtl::Format(
            "Cannot create file \"%s\". It is still being written as a %s file with what was received for it "
            "before output to it was switched off, %s. Choose it as a %s file to carry on writing it.",
            {Waiting.FileName(), Waiting.Raw() ? "binary" : "text", WaitsFor(Waiting),
             Waiting.Raw() ? "binary" : "text"}));
    // The list starts anew, as whenever output is switched on; the file
    // keeps what it holds (it is not the output that is on yet).
    ClearmClick(nullptr);
    RxRouter.Resume(Waiting);
}

// ---- Sending files

bool TMain::SendForeignRaw(const char* p, std::size_t Count, bool WithCancel) {
    if (Count == 0) return true;
    CheckConnected(true);
    std::optional<TTransmitControlsTaken> controls;
    if (WithCancel) controls.emplace(*this);
    const bool cancellable = !TransmitEnabled;
    const std::size_t total = Count;
    // The whole file goes to the peer its first bytes went to.
    const std::uint64_t target = ForeignPort ? ForeignPort->SendTarget() : 0;
    // Cut short by the port: the reason it gave, never a bare "not
    // connected" for a port that is open.
    auto stopped = [&](std::string why) {
        if (why.empty() && ForeignPort) why = ForeignPort->LastFailure();
        std::string text = rtl::Format("File sending stopped after %d of %d bytes",
                                       {static_cast<std::int64_t>(total - Count), static_cast<std::int64_t>(total)});
        throw rtl::Exception(why.empty() ? text : text + ": " + why);
    };
    while (Count > 0) {
        if (!ForeignPort || !ForeignPort->Active()) stopped({});
        // A peer gone is told by the port's own send; another peer in its
        // place (a newcomer given its client index, another sender to reply
        // to) would get the rest of a file whose start went elsewhere.
        if (const std::uint64_t now = ForeignPort->SendTarget(); now != 0 && now != target)
            stopped("the client or address it went to is no longer the one sent to");
        // The port's queue takes what it has room for; while it is full the
        // window goes on (the queue drains through it) until the far side
        // has taken enough, as a slow serial line is waited for.
        const int room = ForeignPort->SendRoom();
        const std::size_t chunk = std::min({Count, kSendChunk, static_cast<std::size_t>(std::max(room, 0))});
        if (chunk > 0) {
            const int n = std::clamp(ForeignPort->Send(p, static_cast<int>(chunk)), 0, static_cast<int>(chunk));
            p += n;
            Count -= static_cast<std::size_t>(n);
            SentCount += static_cast<std::uint32_t>(n);
            ShowTxCount();
            if (static_cast<std::size_t>(n) != chunk) stopped({});
        }
        if (WithCancel || chunk == 0) ProcessMessages();
        if ((cancellable && TransmitEnabled) || Quitting()) return false;
        if (chunk == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void TMain::SerialWriteFailed(std::uint32_t Written) {
    if (Written > 0) {
        SentCount += Written;
        ShowTxCount();
    }
    const std::string name = cp1->PortName();
    cp1->Disconnect();
    RefreshPortState(true);
    throw rtl::Exception(rtl::Format("Handle of port \"%s\" is no longer valid", {name}));
}

bool TMain::SendRaw(const void* Buf, std::size_t Count, bool WithCancel) {
    const char* p = static_cast<const char*>(Buf);
    if (ForeignPort) return SendForeignRaw(p, Count, WithCancel);
    // Nothing can go out of a closed port; the user is told so instead of
    // being left to guess why the device got nothing.
    CheckConnected(true);

    TTransferScope scope(*this, WithCancel);
    // A transfer the Transmit button can cancel: this one, or the tagged
    // transfer this write is part of.
    const bool cancellable = !TransmitEnabled;
    while (Count > 0) {
        CheckConnected(true);
        const std::size_t chunk = std::min(Count, kSendChunk);
        bool ok = false;
        const std::uint32_t n = cp1->SendData(p, static_cast<std::uint32_t>(chunk), &ok);
        if (!ok) SerialWriteFailed(n);
        p += n;
        Count -= n;
        if (n > 0) {
            SentCount += n;
            ShowTxCount();
        }
        // A write that could not finish (flow control holding the line)
        // must not freeze the window, whoever started the transfer.
        if (WithCancel || n < chunk) ProcessMessages();
        if ((cancellable && TransmitEnabled) || Quitting()) return false;
        if (n == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void TMain::SendASCIIHEXFile1Click(vcl::TComponent*) {
    CheckPluginSendIdle();
    CheckConnected(true);
    if (!od1->Execute()) return;
    const std::string bytes = FileBytesToSend(od1->FileName, ParseAsciiHexFile);
    SendRaw(bytes.data(), bytes.size(), true);
}

void TMain::SendSelflog1Click(vcl::TComponent*) {
    CheckPluginSendIdle();
    CheckConnected(true);
    if (!odInt->Execute()) return;
    // The whole log is read first: a faulty one sends nothing.
    const std::string bytes = FileBytesToSend(odInt->FileName, SelfLogSendBytes);
    if (!bytes.empty()) SendRaw(bytes.data(), bytes.size(), true);
}

void TMain::SendBINFile1Click(vcl::TComponent*) {
    CheckPluginSendIdle();
    CheckConnected(true);
    if (od1->Execute()) SendBinaryFile(od1->FileName, false);
}

void TMain::mSendBinaryFileWithTagsClick(vcl::TComponent*) {
    CheckPluginSendIdle();
    CheckConnected(true);
    if (od1->Execute()) SendBinaryFile(od1->FileName, true);
}

void TMain::SendBinaryFile(const std::string& FileName, bool WithTags) {
    std::string data = FileBytesToSend(FileName, [](std::string Data) { return Data; });
    if (data.empty()) return;
    if (!WithTags) {
        SendRaw(data.data(), data.size(), true);
        return;
    }
    const TSendPlan plan = PlanTaggedBinaryFile(std::move(data));
    TTransmitControlsTaken controls(*this);
    TSendHooks hooks;
    hooks.Write = [this](std::string_view bytes) {
        if (!bytes.empty() && !SendRaw(bytes.data(), bytes.size(), false))
            throw TTransferCancelled{};
    };
    hooks.ProcessMessages = [] { ProcessMessages(); };
    // The Transmit button sets the flag again to cancel; closing the
    // program cancels too.
    hooks.Cancelled = [this] { return TransmitEnabled || Quitting(); };
    hooks.NowMs = [] { return NowMs(); };
    hooks.Sleep = [](std::uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
    try {
        SendTaggedPlan(plan, hooks);
    } catch (const TTransferCancelled&) {
        // Cancelled inside a write: the rest stays unsent, nothing is reported.
    }
}

}  // namespace terminal
