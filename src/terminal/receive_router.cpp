#include "terminal/receive_router.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "ports/foreign_port.h"

namespace terminal {

TReceiveRouter::TReceiveRouter(TReceiveQueue& Queue, TReceiveRouterHooks Hooks)
    : queue_(Queue), hooks_(std::move(Hooks)) {}

void TReceiveRouter::Add(TReceivedPiece Piece) {
    Piece.OutputGen = outputGen_;
    const TReceiveSource source = Piece.Source;
    queue_.Add(std::move(Piece));
    hooks_.RoomChanged(source);
    hooks_.PostPump();
}

void TReceiveRouter::AddLine(int Code, const std::string& Text, const TReceiveSource& Source, double Time) {
    // A line waits behind what came before it for the same client; with
    // nothing waiting there, or anywhere else to be shown first, it shows at
    // once (among the lines a running event adds itself).
    if (!closing_ && queue_.Empty(Source) &&
        !queue_.AnyFree([this](const TReceivedPiece& p) { return Held(p); })) {
        hooks_.ShowLine(Code, Text, Time);
        return;
    }
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
    // Data for an output whose pipe has not taken what it was given yet
    // waits here, counted against its port's input buffer as a receive
    // event's does, so that the port reads no more meanwhile and a slow
    // reader slows the device instead of holding the window.
    if (Piece.Kind == TReceivedPiece::TKind::Data && !Piece.Cleared && OutputHolding(Piece.OutputGen)) return true;
    const int slot = Piece.Source.IsMain ? 1 : 0;
    if (Piece.Kind == TReceivedPiece::TKind::Line)
        // A line about a client waits for that client's data before it.
        return Piece.Source.Client != TReceiveSource::PortWide && eventSlot_ == slot;
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
    // Files switched off whose pipe has taken the last of them meanwhile.
    std::vector<std::uint32_t> gens;
    for (const TDraining& d : draining_) gens.push_back(d.Gen);
    for (const std::uint32_t gen : gens) CloseDrainedOutput(gen);
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
    // The peer is named before its event says anything about its data.
    NamePeer(pieces.front());
    eventPieces_ = &pieces;
    eventPiecesShown_ = 0;
    eventPiecesGone_ = false;
    struct Over {
        TReceiveRouter& r;
        ~Over() {
            r.eventPieces_ = nullptr;
            r.eventSlot_ = -1;
            r.eventTakenSpilled_ = false;
        }
    } over{*this};
    // What the port delivers meanwhile waits in the queue, for the event's
    // Recv and PurgeRx, then as its next chunk; the other port's bytes go
    // on.
    eventSlot_ = is_main ? 1 : 0;
    hooks_.RunEvent(is_main, rd);
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

void TReceiveRouter::Deliver(const TReceivedPiece& Piece) {
    if (Piece.Cleared) return;
    struct Guard {
        TReceiveRouter& r;
        TListOutput* was;
        ~Guard() {
            r.delivering_ = false;
            r.deliveryOutput_ = was;
            if (std::exchange(r.pumpWanted_, false)) r.hooks_.PostPump();
        }
    } guard{*this, deliveryOutput_};
    delivering_ = true;
    // Where the piece goes: the output in force when it was read.
    const TDraining* draining = Piece.OutputGen != outputGen_ ? DrainingFor(Piece.OutputGen) : nullptr;
    deliveryOutput_ = draining ? draining->Output.get() : nullptr;
    if (Piece.Kind == TReceivedPiece::TKind::Line) {
        hooks_.ShowLine(Piece.LineCode, Piece.Bytes, Piece.Time);
    } else {
        NamePeer(Piece);
        if (!Piece.Bytes.empty()) hooks_.ShowData(Piece.Source.IsMain, Piece.Bytes, Piece.Time, Piece.NameKey);
    }
    if (deliveryOutput_) {
        deliveryOutput_ = nullptr;
        // The last piece read for a file that was switched off lets it go.
        CloseDrainedOutput(Piece.OutputGen);
    }
}

void TReceiveRouter::NamePeer(const TReceivedPiece& Piece) {
    // A peer's data comes under its name whenever the list named another
    // one last (or none yet).
    if (Piece.Cleared || Piece.NameKey == 0 || Piece.NameKey == lastNamedKey_ || Piece.NameLine.empty()) return;
    lastNamedKey_ = Piece.NameKey;
    hooks_.ShowName(Piece.NameLine, Piece.Time);
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

// ---- Clear and output

void TReceiveRouter::UpdateWaiting(const std::function<void(TReceivedPiece&)>& Change) {
    queue_.Update(Change);
    if (eventPieces_)
        for (auto it = eventPieces_->begin() + static_cast<std::ptrdiff_t>(eventPiecesShown_); it != eventPieces_->end();
             ++it)
            Change(*it);
}

void TReceiveRouter::MarkCleared() {
    // Data read for a file switched off since is that file's: the clear
    // does not take it from it.
    UpdateWaiting([this](TReceivedPiece& p) {
        if (p.Kind == TReceivedPiece::TKind::Line || !DrainingFor(p.OutputGen)) p.Cleared = true;
    });
    lastNamedKey_ = 0;
}

void TReceiveRouter::OutputSwitchedOff(TListOutput& Output) {
    // What was read for the file and still waits for its port's receive
    // event goes to the file all the same: it stays open for that, and
    // what is read from now on goes to the list.
    const std::uint32_t gen = outputGen_++;
    if (!PiecesWaitFor(gen) && !Output.Holding()) {
        Output.Close();
        return;
    }
    draining_.push_back({gen, Output.Release()});
}

TReceiveRouter::TDraining* TReceiveRouter::DrainingFor(std::uint32_t Gen) {
    for (TDraining& d : draining_)
        if (d.Gen == Gen) return &d;
    return nullptr;
}

bool TReceiveRouter::OutputHolding(std::uint32_t Gen) const {
    if (Gen == outputGen_) return hooks_.OutputHolding && hooks_.OutputHolding();
    for (const TDraining& d : draining_)
        if (d.Gen == Gen) return d.Output->Holding();
    return false;
}

TListOutput* TReceiveRouter::DrainingFile(const std::string& FileName) const {
    for (const TDraining& d : draining_)
        if (d.Output->Holds(FileName)) return d.Output.get();
    return nullptr;
}

void TReceiveRouter::Resume(TListOutput& Draining, TListOutput& Into) {
    const auto it = std::find_if(draining_.begin(), draining_.end(),
                                 [&](const TDraining& d) { return d.Output.get() == &Draining; });
    if (it == draining_.end()) return;
    Into.TakeBack(Draining);
    // What waits for the file is the output's that is on now: a Clear acts
    // on it, and switching off again keeps the file open for it.
    const std::uint32_t gen = it->Gen;
    draining_.erase(it);
    UpdateWaiting([this, gen](TReceivedPiece& p) {
        if (p.OutputGen == gen) p.OutputGen = outputGen_;
    });
}

bool TReceiveRouter::Draining(const TListOutput* Output) const {
    return std::any_of(draining_.begin(), draining_.end(),
                       [&](const TDraining& d) { return d.Output.get() == Output; });
}

void TReceiveRouter::DropDraining(const TListOutput& Output) {
    if (deliveryOutput_ == &Output) deliveryOutput_ = nullptr;
    std::erase_if(draining_, [&](const TDraining& d) { return d.Output.get() == &Output; });
}

void TReceiveRouter::CloseDraining() {
    for (TDraining& d : draining_) d.Output->Close();
    draining_.clear();
}

bool TReceiveRouter::PiecesWaitFor(std::uint32_t Gen) const {
    const auto for_output = [Gen](const TReceivedPiece& p) { return p.OutputGen == Gen && !p.Cleared; };
    return queue_.Any(for_output) ||
           (eventPieces_ && std::any_of(eventPieces_->begin() + static_cast<std::ptrdiff_t>(eventPiecesShown_),
                                        eventPieces_->end(), for_output));
}

void TReceiveRouter::CloseDrainedOutput(std::uint32_t Gen) {
    const auto it =
        std::find_if(draining_.begin(), draining_.end(), [Gen](const TDraining& d) { return d.Gen == Gen; });
    if (it == draining_.end() || PiecesWaitFor(Gen) || it->Output->Holding()) return;
    hooks_.OutputChanging();
    it->Output->Close();
    draining_.erase(it);
}

// ---- The close

void TReceiveRouter::HandOnEverything() {
    closing_ = true;
    // Files switched off take the rest as they always did at the close.
    for (TDraining& d : draining_) d.Output->WaitWhenFull();
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

}  // namespace terminal
