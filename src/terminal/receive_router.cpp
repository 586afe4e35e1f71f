#include "terminal/receive_router.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace terminal {

namespace {

// Puts a value back as it was when the scope ends.
template <class T>
struct TRestore {
    T& to;
    T was;
    ~TRestore() { to = was; }
};

}  // namespace

TReceiveRouter::TReceiveRouter(TReceiveQueue& Queue, TReceiveRouterHooks Hooks)
    : queue_(Queue), hooks_(std::move(Hooks)) {}

void TReceiveRouter::Add(TReceivedPiece Piece) {
    Piece.Output = On();
    // A line or an end waits behind what came before it for the same
    // client; with nothing waiting there, or anywhere else to be shown
    // first, it goes at once (among the lines a running event adds itself:
    // one may be about what that event does, a send of its that fails).
    // An end, and a line about the port as a whole, also wait as long as
    // the rules hold them back: the chunk of a running event of theirs
    // comes first, and whatever their peers sent before them.
    // A serial port's line error is about what the port read before it,
    // which may wait for the port's running event: it waits as the rules
    // hold data back too.
    const auto held = [this](const TReceivedPiece& p) { return Held(p); };
    const bool ruled = Piece.Kind == TReceivedPiece::TKind::Gone || Piece.Source.Client == TReceiveSource::PortWide ||
                       Piece.LineCode == TReceivedPiece::PortErrorLine;
    if (Piece.Kind != TReceivedPiece::TKind::Data && !closing_ && queue_.Empty(Piece.Source) &&
        !(ruled && Held(Piece)) && !FailurePending() && !queue_.AnyFree(held)) {
        Deliver(Piece);
        return;
    }
    const TReceiveSource source = Piece.Source;
    queue_.Add(std::move(Piece));
    hooks_.RoomChanged(source);
    hooks_.PostPump();
}

void TReceiveRouter::AddLine(int Code, const std::string& Text, const TReceiveSource& Source, double Time) {
    TReceivedPiece line;
    line.Kind = TReceivedPiece::TKind::Line;
    line.Source = Source;
    line.LineCode = Code;
    line.Bytes = Text;
    line.Time = Time;
    Add(std::move(line));
}

bool TReceiveRouter::Held(const TReceivedPiece& Piece) const {
    // A close hands everything on, at once and without events.
    if (closing_) return false;
    // Data for a file whose pipe has not taken what it was given yet (or
    // that failed and is not settled yet) waits here, counted against its
    // port's input buffer as a receive event's does, so that the port reads
    // no more meanwhile and a slow reader slows the device instead of
    // holding the window.
    if (Piece.Kind == TReceivedPiece::TKind::Data && !Piece.Cleared && Piece.Output && Piece.Output->Holding())
        return true;
    const int slot = Piece.Source.IsMain ? 1 : 0;
    if (Piece.Kind != TReceivedPiece::TKind::Data) {
        // A line or an end about the foreign port as a whole (its socket
        // closed, say) comes after everything its peers sent before it
        // that still waits (for a receive event, say). Its end also waits
        // for the running event of one of its peers, whose chunk comes
        // first; a line may be about what that event does itself (a send
        // it makes that fails), and goes at once.
        if (Piece.Source.Client == TReceiveSource::PortWide)
            return (Piece.Kind == TReceivedPiece::TKind::Gone && eventForeign_) ||
                   queue_.ClientPieceBefore(Piece.Seq);
        // A line about a client waits for that client's data before it.
        return eventSlot_ == slot;
    }
    if (Piece.Taken)
        // Taken during the port's own event: shown after the event's chunk,
        // unless its stream holds as much as the port's input buffer (the
        // bound goes first: the oldest taken bytes show then, so that the
        // port can read on for the Recv). Once what the event took reached
        // the bound, the chunk's place is gone: all it takes shows at once,
        // so that the port reads on at full room rather than by what each
        // Recv frees.
        return eventSlot_ == slot && !eventTakenSpilled_ && queue_.Cost(Piece.Source) < hooks_.Bound(Piece.Source);
    if (eventSlot_ == slot) return true;
    if (recvWaiting_ > 0 && Piece.Source == recvWaitSource_) return true;
    // A port whose receive event the plug-in declares waits for it while
    // any event of the plug-in runs (load, send, the other port's receive
    // event): a decoder in that event sees every chunk of its port. A port
    // without one goes on at once.
    return hooks_.PluginBusy() && hooks_.EventDeclared(Piece.Source.IsMain);
}

void TReceiveRouter::PluginIdle() {
    if (!queue_.Empty()) hooks_.PostPump();
}

void TReceiveRouter::Pump() {
    // Never inside the rendering of a piece (should anything there let the
    // loop run): the piece's end asks for the pump again.
    if (delivering_) {
        pumpWanted_ = true;
        return;
    }
    SettleFiles();
    const auto held = [this](const TReceivedPiece& p) { return Held(p); };
    TReceivedPiece piece;
    while (queue_.PopNext(held, piece)) {
        const TReceiveSource source = piece.Source;
        const bool event = HandOn(piece);
        hooks_.RoomChanged(source);
        // After a piece that ran the plug-in's receive event the loop gets
        // its turn before the next, so that a flood into events that wait
        // never keeps this message from returning.
        if (event) break;
    }
    if (queue_.AnyFree(held)) hooks_.PostPump();
}

bool TReceiveRouter::HandOn(TReceivedPiece& Piece) {
    const bool is_main = Piece.Source.IsMain;
    // The plug-in's receive event may change or drop the chunk. It runs
    // only while no event of the plug-in runs (one that waits lets the loop
    // hand on other ports' pieces meanwhile); until then the chunk waits for
    // it (Held). What a Recv took is the plug-in's already, and a close
    // hands everything on without events.
    const bool event = Piece.Kind == TReceivedPiece::TKind::Data && !Piece.Taken && !closing_ &&
                       hooks_.EventDeclared(is_main) && !hooks_.PluginBusy();
    if (!event) {
        Deliver(Piece);
        return false;
    }
    // The event takes the pieces of its stream that wait behind this one
    // (they came while its last run went on), as one chunk.
    const std::size_t bound = hooks_.Bound(Piece.Source);
    const std::size_t first = Piece.Bytes.size();
    std::vector<TReceivedPiece> pieces;
    pieces.push_back(std::move(Piece));
    queue_.PopFollowing(pieces.front(), first < bound ? bound - first : 0, pieces);
    // Its port reads on while the event runs: what it reads waits for the
    // event's Recv, or as its next chunk.
    hooks_.RoomChanged(pieces.front().Source);
    std::string chunk;
    for (const TReceivedPiece& p : pieces) chunk += p.Bytes;
    std::string rd = chunk;
    eventPieces_ = &pieces;
    eventPiecesShown_ = 0;
    eventPiecesGone_ = false;
    struct Over {
        TReceiveRouter& r;
        ~Over() {
            r.eventPieces_ = nullptr;
            r.eventSlot_ = -1;
            r.eventForeign_ = false;
            r.eventTakenSpilled_ = false;
        }
    } over{*this};
    // What the port delivers meanwhile waits in the queue, for the event's
    // Recv and PurgeRx, then as its next chunk; the other port's bytes go
    // on.
    eventSlot_ = is_main ? 1 : 0;
    eventForeign_ = pieces.front().Source.Client >= 0;
    hooks_.RunEvent(pieces.front(), rd);
    // A close that could not wait for the event has handed its pieces on.
    if (eventPiecesGone_) return true;
    if (rd != chunk) {
        // Changed: the chunk shows as one piece, read when its first was.
        TReceivedPiece changed = std::move(pieces.front());
        changed.Bytes = std::move(rd);
        pieces.assign(1, std::move(changed));
    }
    // Unchanged, each piece shows with its own read time. Those not shown
    // yet still wait: a file switched off stays open for them, and a close
    // meanwhile (or one that could not wait for the event) hands them on.
    while (!eventPiecesGone_ && eventPiecesShown_ < pieces.size()) Deliver(pieces[eventPiecesShown_++]);
    return true;
}

TListOutput* TReceiveRouter::Destination(const TReceivedPiece& Piece) {
    return Piece.Output && Piece.Output->IsOpen() ? Piece.Output : nullptr;
}

bool TReceiveRouter::FailurePending() const {
    bool pending = false;
    ForEachFile([&](const TListOutput& f) { pending = pending || f.FailurePending(); });
    return pending;
}

void TReceiveRouter::Deliver(const TReceivedPiece& Piece) {
    if (Piece.Cleared) return;
    // The piece's file stays while it is shown, whatever is settled.
    const TRestore<decltype(inFlight_)> pin{inFlight_, std::exchange(inFlight_, Piece.Output)};
    // What a failed file never took goes to the list before anything shown
    // after it.
    if (!delivering_ && FailurePending()) SettleFiles();
    // (A line shown at once may come while another piece is shown: the
    // outer one asks for the pump.)
    struct Guard {
        TReceiveRouter& r;
        bool outer;
        ~Guard() {
            r.delivering_ = !outer;
            if (outer && std::exchange(r.pumpWanted_, false)) r.hooks_.PostPump();
        }
    } guard{*this, !delivering_};
    delivering_ = true;
    TListOutput* const to = Destination(Piece);
    switch (Piece.Kind) {
        case TReceivedPiece::TKind::Line: hooks_.ShowLine(to, Piece); break;
        case TReceivedPiece::TKind::Gone: hooks_.Gone(Piece); break;
        case TReceivedPiece::TKind::Data:
            if (!Piece.Bytes.empty()) hooks_.ShowData(to, Piece);
            break;
    }
    // The last piece read for a file that is not on lets it go.
    inFlight_ = pin.was;
    if (Piece.Output && Piece.Output != on_.get()) CloseIfDone(Piece.Output);
}

// ---- Recv and PurgeRx

TReceiveRouter::TRecvScope::TRecvScope(TReceiveRouter& Router, const TReceiveSource& Source)
    : router_(Router), outer_(Router.recvWaitSource_) {
    ++router_.recvWaiting_;
    router_.recvWaitSource_ = Source;
}

TReceiveRouter::TRecvScope::~TRecvScope() {
    --router_.recvWaiting_;
    router_.recvWaitSource_ = outer_;
    if (!router_.queue_.Empty()) router_.hooks_.PostPump();
}

std::size_t TReceiveRouter::Take(const TReceiveSource& Source, std::size_t Want, std::string& Data) {
    // Taken bytes stay in their place in the queue, to be counted and shown
    // there, never given to the receive event: at once, unless they wait
    // behind the chunk of their port's running event.
    const std::size_t taken = queue_.Take(Source, Want, Data);
    if (taken == 0) return 0;
    if (eventSlot_ == (Source.IsMain ? 1 : 0) && queue_.Cost(Source) >= hooks_.Bound(Source))
        eventTakenSpilled_ = true;
    Pump();
    hooks_.RoomChanged(Source);
    return taken;
}

void TReceiveRouter::Drop(const TReceiveSource& Source) {
    queue_.Drop(Source);
    hooks_.RoomChanged(Source);
}

// ---- Clear and the output files

void TReceiveRouter::UpdateWaiting(const std::function<void(TReceivedPiece&)>& Change) {
    queue_.Update(Change);
    if (eventPieces_)
        for (auto it = eventPieces_->begin() + static_cast<std::ptrdiff_t>(eventPiecesShown_); it != eventPieces_->end();
             ++it)
            Change(*it);
}

void TReceiveRouter::Redirect(const TListOutput* From, TListOutput* To) {
    UpdateWaiting([From, To](TReceivedPiece& p) {
        if (p.Output == From) p.Output = To;
    });
}

void TReceiveRouter::MarkCleared() {
    // Data read for a file switched off since is that file's: the clear
    // does not take it from it.
    UpdateWaiting([this](TReceivedPiece& p) {
        if (p.Kind == TReceivedPiece::TKind::Line || !p.Output || p.Output == on_.get()) p.Cleared = true;
    });
}

bool TReceiveRouter::PiecesWaitFor(const TListOutput* File) const {
    if (File == inFlight_) return true;
    const auto for_file = [File](const TReceivedPiece& p) { return p.Output == File && !p.Cleared; };
    return queue_.Any(for_file) ||
           (eventPieces_ && std::any_of(eventPieces_->begin() + static_cast<std::ptrdiff_t>(eventPiecesShown_),
                                        eventPieces_->end(), for_file));
}

void TReceiveRouter::OpenOutput(const std::string& FileName, TListFileType Type) {
    // One that failed and is not settled yet is a file of its own: what was
    // read for it never reaches the new one.
    SetAsideOn();
    auto file = std::make_unique<TListOutput>();
    file->OnSettle = [this](TListOutput& File) {
        if (&File == on_.get() && File.FailurePending() && hooks_.OutputWentOff) hooks_.OutputWentOff();
        hooks_.PostPump();
    };
    file->Open(FileName, Type);
    on_ = std::move(file);
}

void TReceiveRouter::SetAsideOn() {
    if (!on_) return;
    waiting_.push_back(std::move(on_));
}

void TReceiveRouter::OutputSwitchedOff() {
    // What was read for the file and still waits (for its port's receive
    // event, or for the pipe) goes to the file all the same: it stays open
    // for that, and what is read from now on goes to the list.
    if (!On()) return;
    SetAsideOn();
    CloseIfDone(waiting_.back().get());
}

const TListOutput* TReceiveRouter::WaitingFile(const std::string& FileName) const {
    for (const auto& f : waiting_)
        if (f->Holds(FileName)) return f.get();
    return nullptr;
}

void TReceiveRouter::Resume(const TListOutput& Waiting) {
    const auto it = std::find_if(waiting_.begin(), waiting_.end(), [&](const auto& f) { return f.get() == &Waiting; });
    if (it == waiting_.end() || !(*it)->IsOpen()) return;
    std::unique_ptr<TListOutput> file = std::move(*it);
    waiting_.erase(it);
    SetAsideOn();
    // The same object: what waits for it is the output's that is on now (a
    // Clear acts on it, and switching off again keeps the file open for it).
    on_ = std::move(file);
}

void TReceiveRouter::OutputFailed(TListOutput& File) {
    const bool was_on = &File == on_.get();
    std::vector<TUnwrittenChunk> rest = File.TakeFailedChunks();
    File.Close();
    if (was_on) SetAsideOn();
    // What still waits for it goes to the list after what it had not taken,
    // paired as it was read for it: the object stays until that is shown.
    hooks_.OutputFailed(File, was_on, std::move(rest));
    CloseIfDone(&File);
}

void TReceiveRouter::SettleFailures() {
    if (!delivering_ && !settling_ && FailurePending()) SettleFiles();
}

void TReceiveRouter::SettleFiles() {
    // Settling shows what a failed file never took, which goes through the
    // window's writers: they find it under way.
    if (settling_) return;
    const TRestore<bool> over{settling_, std::exchange(settling_, true)};
    // A pipe that stopped taking (or whose reader went), or a write that
    // failed; a file whose pipe took the last of what it was owed is let go.
    if (on_ && on_->FailurePending()) OutputFailed(*on_);
    std::vector<TListOutput*> files;
    for (const auto& f : waiting_) files.push_back(f.get());
    for (TListOutput* f : files) {
        // (Settling one may have let another go.)
        if (std::none_of(waiting_.begin(), waiting_.end(), [f](const auto& w) { return w.get() == f; })) continue;
        if (f->FailurePending())
            OutputFailed(*f);
        else
            CloseIfDone(f);
    }
}

void TReceiveRouter::CloseIfDone(const TListOutput* File) {
    auto it = std::find_if(waiting_.begin(), waiting_.end(), [&](const auto& f) { return f.get() == File; });
    if (it == waiting_.end() || PiecesWaitFor(File) || (*it)->Holding() || closing_) return;
    // What its words left unpaired goes last, where its data went; that
    // may fill a pipe (then it waits for the pipe) or fail (then it is
    // settled first).
    TListOutput& file = **it;
    if (hooks_.Ending) hooks_.Ending(file);
    if (file.Holding()) return;
    it = std::find_if(waiting_.begin(), waiting_.end(), [&](const auto& f) { return f.get() == File; });
    if (it == waiting_.end()) return;
    file.Close();
    LetGo(it);
}

void TReceiveRouter::LetGo(std::vector<std::unique_ptr<TListOutput>>::iterator It) {
    // Only pieces the list cleared may still name it: they go nowhere.
    Redirect(It->get(), nullptr);
    if (hooks_.LetGo) hooks_.LetGo(**It);
    waiting_.erase(It);
}

// ---- The close

void TReceiveRouter::HandOnEverything() {
    // What failed files never took goes first, in the list.
    SettleFiles();
    closing_ = true;
    // The pieces a running event holds came first: they go as they came
    // (the event is being stopped and has no say any more).
    if (eventPieces_ && !eventPiecesGone_) {
        // Only those not shown yet; the one being shown stays where it is.
        const auto rest = eventPieces_->begin() + static_cast<std::ptrdiff_t>(eventPiecesShown_);
        queue_.PutBack({std::make_move_iterator(rest), std::make_move_iterator(eventPieces_->end())});
        eventPieces_->erase(rest, eventPieces_->end());
        eventPiecesGone_ = true;
    }
    TReceivedPiece piece;
    while (queue_.PopNext([](const TReceivedPiece&) { return false; }, piece)) Deliver(piece);
}

std::vector<std::unique_ptr<TListOutput>> TReceiveRouter::TakeOpenFiles() {
    std::vector<std::unique_ptr<TListOutput>> open;
    SetAsideOn();
    for (auto& f : waiting_) {
        Redirect(f.get(), nullptr);
        if (hooks_.LetGo) hooks_.LetGo(*f);
        if (f->IsOpen()) open.push_back(std::move(f));
    }
    waiting_.clear();
    return open;
}

}  // namespace terminal
