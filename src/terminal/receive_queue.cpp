#include "terminal/receive_queue.h"

#include <algorithm>
#include <utility>

namespace terminal {

namespace {

bool UntakenData(const TReceivedPiece& p) { return p.Kind == TReceivedPiece::TKind::Data && !p.Taken; }

std::size_t CostOf(const TReceivedPiece& p) { return p.Bytes.size() + p.NameLine.size() + TReceiveQueue::PieceUpkeep; }

}  // namespace

TReceiveQueue::TStream& TReceiveQueue::StreamOf(const TReceiveSource& Source) {
    for (TStream& s : streams_)
        if (s.Source == Source) return s;
    TStream& s = streams_.emplace_back();
    s.Source = Source;
    return s;
}

const TReceiveQueue::TStream* TReceiveQueue::FindStream(const TReceiveSource& Source) const {
    for (const TStream& s : streams_)
        if (s.Source == Source) return &s;
    return nullptr;
}

void TReceiveQueue::Counted(TStream& S, const TReceivedPiece& P, bool Add) {
    const std::size_t cost = CostOf(P);
    S.Cost = Add ? S.Cost + cost : S.Cost - cost;
    pieces_ = Add ? pieces_ + 1 : pieces_ - 1;
}

void TReceiveQueue::Add(TReceivedPiece&& Piece) {
    Piece.Seq = nextSeq_++;
    TStream& s = StreamOf(Piece.Source);
    Counted(s, Piece, true);
    s.Pieces.push_back(std::move(Piece));
}

void TReceiveQueue::PutBack(std::vector<TReceivedPiece> Pieces) {
    for (auto it = Pieces.rbegin(); it != Pieces.rend(); ++it) {
        TStream& s = StreamOf(it->Source);
        Counted(s, *it, true);
        s.Pieces.push_front(std::move(*it));
    }
}

bool TReceiveQueue::Empty(const TReceiveSource& Source) const {
    const TStream* s = FindStream(Source);
    return s == nullptr || s->Pieces.empty();
}

std::size_t TReceiveQueue::Cost(const TReceiveSource& Source) const {
    const TStream* s = FindStream(Source);
    return s ? s->Cost : 0;
}

bool TReceiveQueue::PopNext(const THeld& Held, TReceivedPiece& Out) {
    TStream* oldest = nullptr;
    for (TStream& s : streams_)
        if (!s.Pieces.empty() && (!oldest || s.Pieces.front().Seq < oldest->Pieces.front().Seq) &&
            !Held(s.Pieces.front()))
            oldest = &s;
    if (!oldest) return false;
    Counted(*oldest, oldest->Pieces.front(), false);
    Out = std::move(oldest->Pieces.front());
    oldest->Pieces.pop_front();
    return true;
}

bool TReceiveQueue::AnyFree(const THeld& Held) const {
    return std::any_of(streams_.begin(), streams_.end(),
                       [&](const TStream& s) { return !s.Pieces.empty() && !Held(s.Pieces.front()); });
}

void TReceiveQueue::PopFollowing(const TReceivedPiece& Like, std::size_t Max, std::vector<TReceivedPiece>& Out) {
    // Like may be an element of Out: what is needed of it is kept first.
    TStream& s = StreamOf(Like.Source);
    const std::uint64_t key = Like.NameKey;
    const bool cleared = Like.Cleared;
    TListOutput* const output = Like.Output;
    std::size_t total = 0;
    while (!s.Pieces.empty()) {
        const TReceivedPiece& p = s.Pieces.front();
        if (!UntakenData(p) || p.NameKey != key || p.Cleared != cleared || p.Output != output ||
            p.Bytes.empty() || total + p.Bytes.size() > Max)
            break;
        total += p.Bytes.size();
        Counted(s, p, false);
        Out.push_back(std::move(s.Pieces.front()));
        s.Pieces.pop_front();
    }
}

std::size_t TReceiveQueue::Take(const TReceiveSource& Source, std::size_t Max, std::string& Out) {
    TStream& s = StreamOf(Source);
    std::size_t taken = 0;
    for (auto it = s.Pieces.begin(); it != s.Pieces.end() && (Max == 0 || taken < Max); ++it) {
        if (!UntakenData(*it)) continue;
        const std::size_t want = Max == 0 ? it->Bytes.size() : std::min(it->Bytes.size(), Max - taken);
        Counted(s, *it, false);
        if (want < it->Bytes.size()) {
            // The rest stays a piece of its own behind the part taken, read
            // at the same time, with its peer's name line: shown after
            // another peer's lines, it comes under its own name again.
            TReceivedPiece rest = *it;
            rest.Bytes.erase(0, want);
            it->Bytes.resize(want);
            Counted(s, rest, true);
            it = std::prev(s.Pieces.insert(std::next(it), std::move(rest)));
        }
        it->Taken = true;
        Out += it->Bytes;
        taken += want;
        // Bytes taken from one read join the piece taken from it before, so
        // that a Recv that reads a byte at a time costs what the read did,
        // not an upkeep a byte.
        if (it != s.Pieces.begin()) {
            TReceivedPiece& before = *std::prev(it);
            if (before.Taken && before.Kind == it->Kind && before.Time == it->Time && before.NameKey == it->NameKey &&
                before.Output == it->Output && before.Cleared == it->Cleared) {
                Counted(s, before, false);
                before.Bytes += it->Bytes;
                Counted(s, before, true);
                // Its own count went when it was taken out above.
                it = std::prev(s.Pieces.erase(it));
                continue;
            }
        }
        Counted(s, *it, true);
    }
    return taken;
}

std::size_t TReceiveQueue::Drop(const TReceiveSource& Source) {
    TStream& s = StreamOf(Source);
    std::size_t dropped = 0;
    for (auto it = s.Pieces.begin(); it != s.Pieces.end();) {
        if (!UntakenData(*it)) {
            ++it;
            continue;
        }
        dropped += it->Bytes.size();
        Counted(s, *it, false);
        it = s.Pieces.erase(it);
    }
    return dropped;
}

void TReceiveQueue::Update(const std::function<void(TReceivedPiece&)>& Change) {
    for (TStream& s : streams_)
        for (TReceivedPiece& p : s.Pieces) Change(p);
}

bool TReceiveQueue::ClientPieceBefore(std::uint64_t Seq) const {
    // A stream keeps its pieces in the order they came: its first is its
    // oldest.
    return std::any_of(streams_.begin(), streams_.end(), [Seq](const TStream& s) {
        return s.Source.Client >= 0 && !s.Pieces.empty() && (Seq == 0 || s.Pieces.front().Seq < Seq);
    });
}

bool TReceiveQueue::Any(const std::function<bool(const TReceivedPiece&)>& Pred) const {
    for (const TStream& s : streams_)
        if (std::any_of(s.Pieces.begin(), s.Pieces.end(), Pred)) return true;
    return false;
}

}  // namespace terminal
