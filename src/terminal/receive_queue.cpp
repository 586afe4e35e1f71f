#include "terminal/receive_queue.h"

#include <algorithm>
#include <utility>

namespace terminal {

namespace {

bool Waits(const TReceivedPiece& p) { return p.Kind == TReceivedPiece::TKind::Data && !p.Taken; }

bool WaitsFrom(const TReceivedPiece& p, const TReceiveSource& Source) { return Waits(p) && p.Source == Source; }

}  // namespace

void TReceiveQueue::Count(const TReceiveSource& Source, std::size_t Size, bool Add) {
    std::size_t& slot = waiting_[Source.IsMain ? 1 : 0];
    slot = Add ? slot + Size : slot - Size;
    if (Source.Client != TReceiveSource::NoClient) waitingForeign_ = Add ? waitingForeign_ + Size : waitingForeign_ - Size;
}

void TReceiveQueue::Add(TReceiveSource Source, const char* Data, std::size_t Size) {
    if (Size == 0) return;
    if (pieces_.empty() || !WaitsFrom(pieces_.back(), Source)) {
        pieces_.emplace_back();
        pieces_.back().Source = Source;
    }
    pieces_.back().Bytes.append(Data, Size);
    Count(Source, Size, true);
}

void TReceiveQueue::AddLine(int Code, std::string Text) {
    TReceivedPiece& line = pieces_.emplace_back();
    line.Kind = TReceivedPiece::TKind::Line;
    line.LineCode = Code;
    line.Bytes = std::move(Text);
}

TReceivedPiece TReceiveQueue::Pop() {
    TReceivedPiece piece = std::move(pieces_.front());
    pieces_.pop_front();
    if (Waits(piece)) Count(piece.Source, piece.Bytes.size(), false);
    return piece;
}

std::size_t TReceiveQueue::Take(const TReceiveSource& Source, std::size_t Max, std::string& Out) {
    std::size_t taken = 0;
    for (auto it = pieces_.begin(); it != pieces_.end() && (Max == 0 || taken < Max); ++it) {
        if (!WaitsFrom(*it, Source)) continue;
        const std::size_t want = Max == 0 ? it->Bytes.size() : std::min(it->Bytes.size(), Max - taken);
        if (want < it->Bytes.size()) {
            // The rest stays a piece of its own behind the part taken.
            TReceivedPiece rest;
            rest.Source = Source;
            rest.Bytes = it->Bytes.substr(want);
            it->Bytes.resize(want);
            it = pieces_.insert(std::next(it), std::move(rest));
            --it;
        }
        Count(Source, want, false);
        it->Taken = true;
        Out += it->Bytes;
        taken += want;
    }
    return taken;
}

std::size_t TReceiveQueue::Drop(const TReceiveSource& Source) {
    std::size_t dropped = 0;
    for (auto it = pieces_.begin(); it != pieces_.end();) {
        if (!WaitsFrom(*it, Source)) {
            ++it;
            continue;
        }
        dropped += it->Bytes.size();
        Count(Source, it->Bytes.size(), false);
        it = pieces_.erase(it);
    }
    return dropped;
}

}  // namespace terminal
