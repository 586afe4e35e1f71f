// The main window's receive side: the receive panel linked with its list
// control, the graph window and the output file; the handler every received
// chunk passes through, with its counters; line errors folded into error
// lines and the suspension of a port that reports too many of them.
#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "graph/graph_form.h"
#include "platform/rtl/format.h"
#include "platform/win/comm.h"
#include "platform/win/memory.h"
#include "platform/win/timers.h"
#include "script/runtime/my_script.h"
#include "terminal/main_form.h"
#include "terminal/visible_line.h"

namespace terminal {

namespace {

// Background colours of the panel's lines (0x00BBGGRR).
constexpr vcl::TColor kErrorLineColor = 0x00FFFF;
constexpr vcl::TColor kMessageLineColor = 0x80FF80;
constexpr vcl::TColor kSecondPortColor = 0xFFDDDD;
constexpr vcl::TColor kTransmittedColor = 0xDDDDFF;

// Folding stops this long after the first of a run of equal errors.
constexpr double kErrorFoldSpan = 1.0 / 8640;  // 10 seconds

// The names of the line-error bits, in the order they are written.
struct TErrorName {
    std::int32_t Bit;
    const char* Name;
};
constexpr TErrorName kErrorNames[] = {{0x4, "Parity "}, {0x2, "OverRun "}, {0x10, "Break "},
                                      {0x8, "Frame "},  {0x400, "I/O "},   {0x1, "RxOvf "},
                                      {0x100, "TxFull "}};
constexpr std::int32_t kModeError = 0x8000;

std::string ErrorLineText(std::int32_t Errs) {
    std::string names;
    if (Errs & kModeError) {
        names = "Mode ";
    } else {
        for (const TErrorName& e : kErrorNames)
            if (Errs & e.Bit) names += e.Name;
    }
    if (names.empty()) names = "Unknown ";
    return "= " + names + "Err =";
}

// The repeat count of a folded error line's data: the number after its last
// "[". A line whose count was edited away counts as a single error.
std::uint32_t RepeatCount(const std::string& Data, std::size_t ErrorTextLen) {
    if (Data.size() <= ErrorTextLen) return 1;
    const std::size_t open = Data.rfind('[');
    if (open == std::string::npos) return 1;
    std::uint32_t count = 0;
    const char* first = Data.data() + open + 1;
    const auto [end, ec] = std::from_chars(first, Data.data() + Data.size(), count);
    if (ec != std::errc() || end == first) return 1;
    return count;
}

// The receive list's memory limit, taken once at start-up: a quarter of
// what the machine (or the process's address-space limit, when lower) has,
// at least 256 MB, and no more than the line store can address. The
// environment variable is for tests, which lower it to see it reached.
std::size_t ReceiveListLimit() {
    constexpr std::uint64_t kMB = 1024 * 1024;
    const std::uint64_t limit = std::min(std::max(256 * kMB, win::MemoryQuarter()), 64 * 1024 * kMB);
    return static_cast<std::size_t>(win::LoweredForTest(limit, "VOSTREL_TEST_LIST_LIMIT_MB"));
}

// Puts a flag back as it was when the scope ends, however it ends.
struct TRestoreFlag {
    bool& flag;
    bool value;
    ~TRestoreFlag() { flag = value; }
};

}  // namespace

// ---- The panel and its links

void TMain::CreateReceivePanel() {
    RxPanel = std::make_unique<TReceivePanel>(RxClock);
    RxPanel->SetMemoryLimit(ReceiveListLimit());
    lb1->SetPanel(RxPanel.get());
    lb1->OnDrawItem = [this](vcl::TComponent* c, int i, const vcl::TRect& r,
                             vcl::TOwnerDrawState s) { lb1DrawItem(c, i, r, s); };
    lb1->OnResize = [this](vcl::TComponent*) { RecalcListMetrics(); };

    // Hooked after construction: until the window has its size the panel
    // works with its default metrics and the list keeps its item height.
    TReceivePanelHooks& h = RxPanel->Hooks();
    h.CheckAntiHang = [this] { CheckAntiHang(); };
    h.GraphFeedEnabled = [this] {
        return !RenderingFailedChunk && graph::fGraph && graph::fGraph->Visible() &&
               (!PluginLoaded() || (PluginFlags & APGD) != 0);
    };
    h.GraphSigned = [] { return graph::fGraph && graph::fGraph->cbSigned->Checked(); };
    h.GraphSetUpdateLock = [](bool Lock) {
        if (graph::fGraph) graph::fGraph->SetUpdateLock(Lock);
    };
    h.GraphAddPoint = [](double Time, double Value) {
        if (graph::fGraph) graph::fGraph->AddPoint(Time, Value);
    };
    // A held chunk leaves the list control alone: the frame follows it up.
    h.ListRepaintLock = [this](bool Locked) {
        if (!HoldingChunk) lb1->SetRepaintLock(Locked);
    };
    h.ListSyncCount = [this](int Index) {
        if (!HoldingChunk) lb1->SyncCount(Index);
    };
    h.OldestLinesDropped = [this](std::size_t limit, int lines) { ListLimitReached(limit, lines); };
    // Errors that would open a second box while one is open, or come again
    // right after it was answered, are written here instead.
    if (vcl::Application) {
        vcl::Application->OnErrorLine = [this](const std::string& text) {
            AddErrorLine(text, 0, CurrentTime());
        };
        // A save that waits for a pipe turns the loop but holds the window's
        // timers, the watchdog's among them: the time it waits is not time
        // that received data kept the loop from its timer.
        vcl::Application->OnWriteWaitTurn = [this] { AntiHangStamp = AntiHangNow(); };
    }
    h.QueryMetrics = [this] {
        vcl::TCanvas& c = lb1->Canvas();
        c.Font.Assign(lb1->Font());
        TPanelMetrics m;
        m.LineHeight = c.TextHeight("0");
        m.CharWidth = c.TextWidth("x");
        lb1->SetItemHeight(m.LineHeight);
        m.PanelWidth = lb1->Width();
        m.PanelHeight = lb1->Height();
        m.ScrollBarWidth = lb1->ScrollBarWidth();
        return m;
    };

    ReceiveFrame = std::make_unique<vcl::TTimer>(nullptr);
    ReceiveFrame->SetEnabled(false);
    ReceiveFrame->SetInterval(kReceiveFrameMs);
    ReceiveFrame->SetOnTimer([this](vcl::TComponent*) { ShowReceiveFrame(); });

    PostWindow = win::AllocateHWnd(
        [this](win::HWND w, win::UINT msg, win::WPARAM wp, win::LPARAM lp) -> win::LRESULT {
            if (msg == kPumpMessage) {
                PumpPosted = false;
                PumpReceived();
                return 0;
            }
            // A close that let a waiting save return first.
            if (msg == kCloseMessage) {
                Close();
                return 0;
            }
            return win::DefWindowProc(w, msg, wp, lp);
        },
        "TMainPosts");
    cp1->OnClosed = [this](vcl::TComponent* Sender) { ReceiveGone({.IsMain = Sender == cp1}, 0); };
    cp2->OnClosed = cp1->OnClosed;
    cp1->OnReceiveData = [this](vcl::TComponent* s, const void* d, std::uint32_t n) {
        cp1ReceiveData(s, d, n);
    };
    cp2->OnReceiveData = cp1->OnReceiveData;
    ShowErrorsm->OnClick = [this](vcl::TComponent* s) { ShowErrorsmClick(s); };
    ShowErrorsmClick(nullptr);
}

void TMain::SyncReceivePanelOptions() {
    TReceivePanel& p = *RxPanel;
    p.DataFormat = static_cast<TDataFormat>(std::clamp(DataFormat, 0, int(dfBIN)));
    p.RVPnlTime = RVPnlTime;
    p.RVPnlTimeFormat = RVPnlTimeFormat;
    p.RVLineBreak = static_cast<std::uint8_t>(RvLineBreak);
    p.ShowASCIInonvisiblecodes = mShowASCIInonvisiblecodes->Checked();
    p.Timecaninterruptdatarow = mTimecaninterruptdatarow->Checked();
    p.ShowWrites = mShowWrites->Checked();
    p.SecondPortSelected = cbComN2->ItemIndex() > 0;
    if (Infinitem->Checked() != p.InfiniteList()) p.SetInfiniteList(Infinitem->Checked());
    if (Precisetimecalc1->Checked() != p.PreciseTimeCalc())
        p.SetPreciseTimeCalc(Precisetimecalc1->Checked());
}

TListOutput* TMain::TextOutput() {
    TListOutput* on = OutputOn();
    return on && !on->Raw() ? on : nullptr;
}

void TMain::StartNewLine(bool Repaint) {
    if (ListHeld) return;
    RxRouter.SettleFailures();
    SyncReceivePanelOptions();
    RxPanel->WriteTo(TextOutput());
    RxPanel->StartNewLine(Repaint);
}

void TMain::ShowData(const void* Data, std::size_t Count, std::uint8_t Dir, double Time, std::uint64_t Peer) {
    RxRouter.SettleFailures();
    TListOutput* to = TextOutput();
    Render(to, to, Data, Count, Dir, Time, Peer);
}

void TMain::Render(TListOutput* To, TLineSink* Owner, const void* Data, std::size_t Count, std::uint8_t Dir,
                   double Time, std::uint64_t Peer, std::string_view Name) {
    if (!To && ListHeld) return;
    SyncReceivePanelOptions();
    const auto* bytes = static_cast<const std::uint8_t*>(Data);
    RxPanel->WriteTo(To);
    RxPanel->PairFor(Owner);
    if (!To) {
        RxPanel->ShowData(bytes, Count, Dir, Time, Peer, Name);
    } else {
        // Kept until the file has taken it: should it fail first, the bytes
        // it never got go to the list, under their peer's name, with the
        // word their peer had begun before the chunk while its first byte is
        // among them.
        const TWordPair begun = RxPanel->DisplayPairing(Dir, Peer);
        const std::uint64_t start = To->Given();
        To->BeginChunk();
        RxPanel->ShowData(bytes, Count, Dir, Time, Peer, Name);
        To->KeepUntilWritten({Dir, std::string(reinterpret_cast<const char*>(bytes), Count), Time, Peer,
                              std::string(Name), true, false, begun},
                             start);
    }
    // A new peer past the bound of those whose words wait: the one heard
    // from longest ago shows the low byte it left, alone, after the chunk.
    for (const TLoneByte& lone : RxPanel->WordsOf(Owner).TakeEvicted()) ShowLoneByte(To, lone);
}

void TMain::ShowLoneBytesOf(TListOutput* Owner, std::uint8_t Dir, std::uint64_t Peer, bool All) {
    // A binary file pairs nothing, and data not shown leaves nothing.
    if (PluginLoaded() && (PluginFlags & APRD) == 0) return;
    std::vector<TLoneByte> lone = RxPanel->WordsOf(Owner).TakeLone(Dir, Peer, All);
    if (lone.empty() || UnwrittenAtClose(Owner, lone.size())) return;
    TListOutput* const to = Owner && Owner->IsOpen() && !Owner->Raw() ? Owner : nullptr;
    for (const TLoneByte& l : lone) ShowLoneByte(to, l);
}

void TMain::ShowLoneByte(TListOutput* To, const TLoneByte& Lone) {
    if (!To && ListHeld) return;
    SyncReceivePanelOptions();
    RxPanel->WriteTo(To);
    if (!To) {
        RxPanel->ShowLoneByte(Lone);
        return;
    }
    const std::uint64_t start = To->Given();
    To->BeginChunk();
    RxPanel->ShowLoneByte(Lone);
    To->KeepUntilWritten({Lone.Dir, std::string(1, static_cast<char>(Lone.Byte)), Lone.Time, Lone.Peer, Lone.Name,
                          true, true, {}},
                         start);
}

void TMain::OutputFailed(TListOutput& File, bool WasOn, std::vector<TUnwrittenChunk> Rest) {
    if (RxRouter.Closing()) {
        // The window is going: what the file never took, and what was read
        // for it from now on, is counted for standard error instead.
        TCloseFailure failure{&File, File.FileName(), File.Failure(), 0};
        for (const TUnwrittenChunk& chunk : Rest)
            if (!chunk.Line) failure.Unwritten += chunk.Bytes.size();
        CloseFailures.push_back(std::move(failure));
        return;
    }
    if (WasOn) {
        // The check mark, the label and where lines go follow.
        Outputtofile1->SetChecked(false);
        UpdateNumFormat();
    }
    // Not a modal box: this runs inside the receive path, which must go on.
    ShowNotice(vcl::mtError,
               File.Failure() + (WasOn ? "\r\rOutput to file was switched off. What was received from then on "
                                         "is shown in the list."
                                       : "\r\rWhat was received for it from then on is shown in the list."));
    for (const TUnwrittenChunk& chunk : Rest) ShowUnwritten(chunk, File);
}

bool TMain::UnwrittenAtClose(const TListOutput* File, std::size_t Bytes) {
    if (!File || !RxRouter.Closing()) return false;
    for (TCloseFailure& f : CloseFailures)
        if (f.File == File) {
            f.Unwritten += Bytes;
            return true;
        }
    return false;
}

void TMain::ShowUnwritten(const TUnwrittenChunk& Chunk, TListOutput& Owner) {
    if (Chunk.Line) {
        AddErrorLine(Chunk.Bytes, Chunk.Dir, Chunk.Time);
        return;
    }
    // Counted already, and graphed when it was rendered.
    if (Chunk.Dir != 2 && PluginLoaded() && (PluginFlags & APRD) == 0) return;
    const TRestoreFlag restore{RenderingFailedChunk, std::exchange(RenderingFailedChunk, Chunk.Rendered)};
    if (Chunk.Lone) {
        TLoneByte lone{Chunk.Dir, Chunk.Peer, Chunk.Name, static_cast<std::uint8_t>(Chunk.Bytes[0]), Chunk.Time,
                       !Chunk.Rendered};
        ShowLoneByte(nullptr, lone);
        return;
    }
    // Paired as it was in the file: from the word its peer had begun, when
    // its first byte completes it, else from a word of its own.
    SyncReceivePanelOptions();
    RxPanel->WriteTo(nullptr);
    RxPanel->PairFor(&Owner);
    if (Chunk.Rendered) RxPanel->SetDisplayPairing(Chunk.Dir, Chunk.Begun, Chunk.Peer);
    Render(nullptr, &Owner, Chunk.Bytes.data(), Chunk.Bytes.size(), Chunk.Dir, Chunk.Time, Chunk.Peer, Chunk.Name);
}

void TMain::AddTextLine(std::string_view Text, std::uint8_t Dir, double Time, TDataFormat Format) {
    if (ListHeld) return;
    RxRouter.SettleFailures();
    SyncReceivePanelOptions();
    // A message line is shown with the next frame, as data is: lines that
    // come in quick turns with data (a new UDP sender each datagram) must not
    // repaint the list once each.
    const bool held = HoldReceiveView();
    const TRestoreFlag restore{HoldingChunk, std::exchange(HoldingChunk, HoldingChunk || held)};
    RxPanel->AddTextLine(Text, Dir, Time, Format);
}

bool TMain::GraphValue(std::uint8_t B, std::uint8_t Dir, bool Signed, double& Value) {
    SyncReceivePanelOptions();
    return RxPanel->GraphValue(B, Dir, Signed, Value);
}

double TMain::CurrentTime() {
    SyncReceivePanelOptions();
    return RxPanel->CurrentTime();
}

void TMain::RecalcListMetrics() {
    SyncReceivePanelOptions();
    RxPanel->RecalcListMetrics();
}

void TMain::lb1DrawItem(vcl::TComponent*, int Index, const vcl::TRect& Rect,
                        vcl::TOwnerDrawState State) {
    const TLineStore& lines = RxPanel->Lines();
    if (Index < 0 || Index >= lines.LineCount()) return;
    const TLineRecord r = lines.LineRecord(Index);
    vcl::TCanvas& c = lb1->Canvas();
    if (!(State & vcl::odSelected)) {
        if (r.Format == dfERR)
            c.Brush.SetColor(kErrorLineColor);
        else if (r.Format == dfMSG)
            c.Brush.SetColor(kMessageLineColor);
        else if (r.Dir == 1)
            c.Brush.SetColor(kSecondPortColor);
        else if (r.Dir == 2)
            c.Brush.SetColor(kTransmittedColor);
        else
            c.Brush.SetColor(vcl::clWindow);
    }
    // Only the start of the line that fits can be seen: a line of any
    // length costs about the window's width to draw.
    // An error line is the program's message: a file name in it shows its
    // letters. Every other line is data, drawn byte by byte.
    c.SetMessageText(r.Format == dfERR);
    const bool hide = !mShowASCIInonvisiblecodes->Checked();
    auto shown = [hide](const std::string& raw) { return hide ? HideNonVisibleCodes(raw) : raw; };
    const int width = Rect.Right - Rect.Left;
    // A "•" drawn alone stands for three characters of the line.
    const std::size_t per_char = hide ? 3 : 1;
    const std::size_t guess =
        (static_cast<std::size_t>(std::max(width, 0) / std::max(1, RxPanel->CharWidth())) + 2) * per_char +
        r.PrefixLen;
    std::string text = shown(VisibleLineStart(
        guess, width, [&](std::size_t n) { return lines.GetLineStart(Index, n); },
        [&](const std::string& raw) { return c.TextWidth(shown(raw)); }));
    // The prefix in silver, the data after it in the text colour; each part
    // is drawn once.
    const std::size_t prefix = std::min<std::size_t>(r.PrefixLen, text.size());
    const std::string head = text.substr(0, prefix);
    const int data_left = prefix > 0 ? Rect.Left + c.TextWidth(head) : Rect.Left;
    c.TextRect(Rect, data_left, Rect.Top, text.substr(prefix));
    if (prefix > 0) {
        const vcl::TColor text_color = c.Font.Color();
        c.Font.SetColor(vcl::clSilver);
        c.TextOut(Rect.Left, Rect.Top, head);
        c.Font.SetColor(text_color);
    }
}

// ---- Received data

namespace {

// What the foreign port's clients may each have read and not handed on: as
// much as a serial port's input buffer.
constexpr std::size_t kForeignInBuf = 1000000;

}  // namespace

void TMain::cp1ReceiveData(vcl::TComponent* Sender, const void* DataPtr, std::uint32_t DataSize) {
    ReceiveData({.IsMain = Sender == cp1}, DataPtr, DataSize);
}

bool TMain::PluginLoaded() const { return Script != nullptr; }

void TMain::ReceiveData(TReceiveSource Source, const void* DataPtr, std::uint32_t DataSize, std::uint64_t NameKey,
                        std::string NameLine) {
    // Ignored whole while reception is disabled: not counted, not hooked.
    if (!ReceptionEnabled) return;
    if (DataSize == 0 && NameLine.empty()) return;
    TReceivedPiece piece;
    piece.Source = Source;
    piece.Bytes.assign(static_cast<const char*>(DataPtr), DataSize);
    // Stamped when read: a piece that waits for an event keeps its time.
    piece.Time = CurrentTime();
    piece.NameKey = NameKey;
    piece.NameLine = std::move(NameLine);
    RxRouter.Add(std::move(piece));
}

void TMain::ReceiveLine(int Code, const std::string& Text, TReceiveSource Source) {
    const bool about_data = Code == ports::fpeRecvInfo;
    if (about_data && !ReceptionEnabled) return;
    RxRouter.AddLine(Code, Text, Source, CurrentTime());
}

TReceiveRouterHooks TMain::RouterHooks() {
    TReceiveRouterHooks h;
    h.EventDeclared = [this](bool IsMain) { return Script && Script->HasOnReceive(IsMain); };
    h.PluginBusy = [this] { return PluginBusy; };
    h.RunEvent = [this](const TReceivedPiece& First, std::string& Data) {
        // The lines the plug-in adds while its event runs are about this
        // peer's data: they come under its name.
        // A chunk read before a Clear is named all the same: the lines come
        // after the Clear, and the list's last name may be another peer's.
        TEventPeer peer{First.NameKey, First.NameLine, First.Time};
        std::swap(EventPeer, peer);
        struct Restore {
            TEventPeer& to;
            TEventPeer& was;
            ~Restore() { std::swap(to, was); }
        } restore{EventPeer, peer};
        PluginReceiveHook(First.Source.IsMain, Data);
    };
    h.Bound = [this](const TReceiveSource& Source) { return StreamBound(Source); };
    h.RoomChanged = [this](const TReceiveSource& Source) { UpdateRoomOf(Source); };
    h.PostPump = [this] { PostReceivePump(); };
    h.ShowLine = [this](TListOutput* To, const TReceivedPiece& Piece) { ShowReceiveLine(To, Piece); };
    h.ShowData = [this](TListOutput* To, const TReceivedPiece& Piece) { ShowReceived(To, Piece); };
    h.Gone = [this](const TReceivedPiece& Piece) { ShowGone(Piece); };
    h.Ending = [this](TListOutput& File) {
        for (std::uint8_t dir : {0, 1, 2}) ShowLoneBytesOf(&File, dir, 0, true);
    };
    h.OutputFailed = [this](TListOutput& File, bool WasOn, std::vector<TUnwrittenChunk> Rest) {
        OutputFailed(File, WasOn, std::move(Rest));
    };
    h.LetGo = [this](const TListOutput& File) { RxPanel->Forget(File); };
    // Inside the write that failed: only the check mark and the label follow
    // at once, so that a click on the menu meanwhile does what it shows.
    h.OutputWentOff = [this] {
        Outputtofile1->SetChecked(false);
        UpdateNumFormat();
    };
    return h;
}

void TMain::NameEventPeer() {
    if (EventPeer.Key == 0 || EventPeer.Name.empty() || ListHeld) return;
    RxRouter.SettleFailures();
    SyncReceivePanelOptions();
    // The list names the peer unless it named it last; a text file that
    // takes the data names it there with the data (each write says where it
    // goes, so nothing is to be put back).
    RxPanel->WriteTo(nullptr);
    RxPanel->NamePeer(EventPeer.Key, EventPeer.Name, EventPeer.Time);
}

void TMain::ReceiveGone(const TReceiveSource& Source, std::uint64_t Key) {
    TReceivedPiece gone;
    gone.Kind = TReceivedPiece::TKind::Gone;
    gone.Source = Source;
    gone.NameKey = Key;
    gone.Time = CurrentTime();
    RxRouter.Add(std::move(gone));
}

void TMain::PostReceivePump() {
    if (PumpPosted || PostWindow == 0) return;
    PumpPosted = win::PostMessage(PostWindow, kPumpMessage, 0, 0);
    // The message cannot be queued (out of memory): the next chunk tries
    // again, and nothing that waits is lost meanwhile.
}

void TMain::PumpReceived() { RxRouter.Pump(); }

void TMain::ShowReceiveLine(TListOutput* To, const TReceivedPiece& Piece) {
    const double time = Piece.Time == 0 ? CurrentTime() : Piece.Time;
    if (Piece.LineCode != TReceivedPiece::PortErrorLine) {
        if (Piece.LineCode == ports::fpeError)
            // The same error again at once is counted on its line.
            AddErrorLine(Piece.Bytes, 0, time);
        else
            AddTextLine(Piece.Bytes, 0, time, dfMSG);
        return;
    }
    const std::uint8_t dir = Piece.Source.IsMain ? 0 : 1;
    if (!To || To->Raw()) {
        AddErrorLine(Piece.Bytes, dir, time);
        return;
    }
    // Its own line in the text file: a data line in progress ends first, so
    // the error never runs on into its text; the words peers have begun
    // wait on. Kept until the file has taken it: should the file fail
    // first, the line comes back to the list.
    SyncReceivePanelOptions();
    RxPanel->WriteTo(To);
    const std::uint64_t start = To->Given();
    To->BeginChunk();
    RxPanel->WriteLine(Piece.Bytes, dir, time, dfERR);
    TUnwrittenChunk line;
    line.Dir = dir;
    line.Bytes = Piece.Bytes;
    line.Time = time;
    line.Line = true;
    To->KeepUntilWritten(std::move(line), start);
}

void TMain::DeliverEverything() {
    RxRouter.HandOnEverything();
    // Every word a peer had begun shows its low byte where the data it was
    // read for went: the list, or each file; what a file refuses of them
    // comes back to the list.
    for (std::uint8_t dir : {0, 1, 2}) {
        ShowLoneBytesOf(nullptr, dir, 0, true);
        RxRouter.ForEachFile([&](TListOutput& f) { ShowLoneBytesOf(&f, dir, 0, true); });
    }
    RxRouter.SettleFiles();
    UpdateReceiveRooms();
}

std::size_t TMain::StreamBound(const TReceiveSource& Source) const {
    if (Source.Client != TReceiveSource::NoClient) return kForeignInBuf;
    return (Source.IsMain ? cp1 : cp2)->InBufSize();
}

void TMain::UpdateReceiveRooms() {
    auto room = [this](ports::TCommPortDriver* d, bool is_main) {
        const std::size_t waiting = RxQueue.Cost({.IsMain = is_main});
        return waiting >= d->InBufSize() ? 0u : static_cast<std::uint32_t>(d->InBufSize() - waiting);
    };
    cp1->SetReceiveRoom(room(cp1, true));
    cp2->SetReceiveRoom(room(cp2, false));
}

void TMain::UpdateRoomOf(const TReceiveSource& Source) {
    if (Source.Client == TReceiveSource::NoClient)
        UpdateReceiveRooms();
    else
        UpdateForeignHold(Source);
}

void TMain::UpdateForeignHold(const TReceiveSource& Source) {
    // A client is held back while its stream holds what a serial port's
    // input buffer would; every other client goes on.
    if (!ForeignPort || Source.Client < 0) return;
    const bool hold = RxQueue.Cost(Source) >= kForeignInBuf;
    if (hold != ForeignPort->ClientRxHeld(Source.Client)) ForeignPort->HoldClientRx(Source.Client, hold);
}

bool TMain::CountReceived(bool IsMain, std::size_t Size) {
    PortSlots[IsMain ? PortSlotMain : PortSlot2].RxCount += Size;
    const bool held = HoldReceiveView();
    if (!held) ShowRxCount();
    return held;
}

void TMain::ShowReceived(TListOutput* To, const TReceivedPiece& Piece) {
    const bool is_main = Piece.Source.IsMain;
    const std::uint8_t dir = is_main ? 0 : 1;
    const bool held = CountReceived(is_main, Piece.Bytes.size());
    // Read for a file that failed while the window closes.
    if (!To && UnwrittenAtClose(Piece.Output, Piece.Bytes.size())) return;
    if (To && To->Raw()) {
        // Kept until the file has taken it: should it fail first, the bytes
        // it never got are shown in the list.
        const std::uint64_t start = To->Given();
        To->Write(Piece.Bytes);
        To->KeepUntilWritten({dir, Piece.Bytes, Piece.Time, Piece.NameKey, Piece.NameLine, false, false, {}}, start);
        return;
    }
    if (!(PluginLoaded() && (PluginFlags & APRD) == 0)) {
        const TRestoreFlag holding{HoldingChunk, std::exchange(HoldingChunk, held)};
        Render(To, Piece.Output, Piece.Bytes.data(), Piece.Bytes.size(), dir, Piece.Time, Piece.NameKey,
               Piece.NameLine);
    }
}

void TMain::ShowGone(const TReceivedPiece& Piece) {
    // What the peer (or every peer of the port) left unpaired, in each place
    // its bytes were read for.
    const std::uint8_t dir = Piece.Source.IsMain ? 0 : 1;
    const bool all = Piece.NameKey == 0;
    ShowLoneBytesOf(nullptr, dir, Piece.NameKey, all);
    RxRouter.ForEachFile([&](TListOutput& f) { ShowLoneBytesOf(&f, dir, Piece.NameKey, all); });
}

bool TMain::HoldReceiveView() {
    if (ReceiveViewHeld) return true;
    const std::uint32_t now = win::GetTickCount();
    if (now - ReceiveFrameShown >= static_cast<std::uint32_t>(kReceiveFrameMs)) {
        // The first chunk after a quiet frame shows at once.
        ReceiveFrameShown = now;
        return false;
    }
    ReceiveViewHeld = true;
    // The frame comes a whole frame after the last one.
    ReceiveFrame->SetInterval(kReceiveFrameMs - static_cast<int>(now - ReceiveFrameShown));
    ReceiveFrame->SetEnabled(true);
    return true;
}

void TMain::ShowReceiveFrame() {
    ReceiveFrame->SetEnabled(false);
    ReceiveFrameShown = win::GetTickCount();
    if (!ReceiveViewHeld) return;
    ReceiveViewHeld = false;
    ShowRxCount();
    // New lines, or the line being filled grown.
    lb1->SyncCount(-1);
}

// ---- Line errors

void TMain::cp1ReceiveError(vcl::TComponent* Sender, std::int32_t Errs) {
    CheckAntiHang();
    if (dRVcb->Checked()) return;
    const bool is_main = Sender == cp1;
    // After everything the port read before it, wherever that waits (for
    // the port's receive event, the pump, a failed output's settling).
    RxRouter.AddLine(TReceivedPiece::PortErrorLine, ErrorLineText(Errs), {.IsMain = is_main}, CurrentTime());

    // Errors per second: a port that floods the window with them is
    // suspended (judged once a second; never at polling delays of 100 ms up).
    TErrStat& stat = ErrStat[is_main ? PortSlotMain : PortSlot2];
    ++stat.Count;
    const std::uint32_t tick = win::GetTickCount();
    const std::uint32_t elapsed = tick - stat.StartTick;
    if (elapsed <= 1000) return;
    const int delay = std::max<int>(10, static_cast<int>(PollingEntry(PollingIndex)->Tag));
    if (delay < 100 && static_cast<std::uint64_t>(stat.Count) * 1000 * delay > 800ull * elapsed) {
        TPortSlot& slot = PortSlots[is_main ? PortSlotMain : PortSlot2];
        ports::TCommPortDriver* d = slot.Driver;
        if (d->Connected()) {
            win::DWORD written = 0;
            static const char none = 0;
            if (!win::WriteFile(d->Handle(), &none, 0, &written, nullptr)) {
                // The device has gone: the port is closed like any failed one.
                const std::string name = d->PortName();
                d->Disconnect();
                RefreshPortState(is_main);
                ShowNotice(vcl::mtError,
                           rtl::Format("Handle of port \"%s\" is no longer valid", {name}));
                return;
            }
        }
        slot.Button->SetDown(true);
        if (slot.Button->OnClick) {
            slot.Button->OnClick(slot.Button);
        } else {
            // The port button frees its port when it goes down.
            d->Disconnect();
            RefreshPortState(is_main);
        }
        ShowNotice(vcl::mtWarning,
                   "Too many errors per second from " + d->PortName() +
                       "\rReception was automatically suspended." +
                       "\rYou can manually resume it by pressing button to the left of port "
                       "name drop-down list");
    }
    stat = {tick, 0};
}

void TMain::AddErrorLine(const std::string& Text, std::uint8_t Dir, double Time) {
    if (ListHeld) return;
    RxRouter.SettleFailures();
    TLineStore& lines = RxPanel->Lines();
    const int n = lines.LineCount();
    if (n > 1 && RxPanel->CurLine().empty()) {
        const int prev = n - 2;
        const TLineRecord r = lines.LineRecord(prev);
        if (r.Format == dfERR && r.Dir == Dir && Time - r.Time < kErrorFoldSpan) {
            const std::string data = lines.LineData(prev);
            // The same text, alone or with its count: a longer error that
            // merely starts the same way is another one.
            const bool same = data.compare(0, Text.size(), Text) == 0 &&
                              (data.size() == Text.size() || data.compare(Text.size(), 2, " [") == 0);
            if (same) {
                const std::uint32_t count = RepeatCount(data, Text.size()) + 1;
                const std::string line = lines.GetLine(prev);
                lines.PutLine(prev, line.substr(0, std::min<std::size_t>(r.PrefixLen, line.size())) +
                                        Text + " [" + std::to_string(count) + "]");
                lb1->SyncCount(prev);
                return;
            }
        }
    }
    AddTextLine(Text, Dir, Time, dfERR);
}

void TMain::ListLimitReached(std::size_t LimitBytes, int Lines) {
    ShowNotice(vcl::mtWarning,
               rtl::Format("The receive list has reached its memory limit of %d MB (%d lines): the "
                           "oldest received lines are now being dropped to make room for new ones.",
                           {static_cast<int>(LimitBytes >> 20), Lines}) +
                   "\r\rClearing the list starts it over. Output to a file keeps every byte received.");
}

void TMain::ShowErrorsmClick(vcl::TComponent* Sender) {
    if (Sender) ShowErrorsm->SetChecked(!ShowErrorsm->Checked());
    ports::TReceiveErrorEvent handler;
    if (ShowErrorsm->Checked())
        handler = [this](vcl::TComponent* s, std::int32_t e) { cp1ReceiveError(s, e); };
    cp1->OnReceiveError = handler;
    cp2->OnReceiveError = handler;
}

}  // namespace terminal
