#include "terminal/word_pairs.h"

#include <iterator>

namespace terminal {

namespace {

// The lone low byte of one stream's pairs, if one waits; both waits end.
void TakeFrom(TStreamPairs& Pairs, std::uint8_t Dir, std::uint64_t Peer, const std::string& Name,
              std::vector<TLoneByte>& Out) {
    const bool graphed = std::exchange(Pairs.Graph.Pending, false);
    if (!std::exchange(Pairs.Display.Pending, false)) return;
    Out.push_back({Dir, Peer, Name, Pairs.Display.Low, Pairs.Display.Time, graphed});
}

}  // namespace

TStreamPairs& TWordPairs::PeerOf(std::uint8_t Dir, std::uint64_t Peer) {
    auto [it, added] = peers_.try_emplace({Dir, Peer});
    it->second.Used = ++use_;
    if (added && peers_.size() > MaxWaitingPeers) {
        // Senders without end (a datagram flood from ever new ports) leave
        // no more than this many low bytes waiting: the one heard from
        // longest ago is done with, as when it goes, and its low byte is
        // given back to be shown alone.
        auto oldest = peers_.end();
        for (auto p = peers_.begin(); p != peers_.end(); ++p)
            if (p != it && (oldest == peers_.end() || p->second.Used < oldest->second.Used)) oldest = p;
        TakeFrom(oldest->second.Pairs, oldest->first.first, oldest->first.second, oldest->second.Name, evicted_);
        peers_.erase(oldest);
    }
    return it->second.Pairs;
}

void TWordPairs::Name(std::uint8_t Dir, std::uint64_t Peer, std::string_view Name) {
    if (Peer == 0 || Name.empty()) return;
    if (const auto it = peers_.find({Clamped(Dir), Peer}); it != peers_.end() && it->second.Name != Name)
        it->second.Name = Name;
}

void TWordPairs::ForgetIfIdle(std::uint8_t Dir, std::uint64_t Peer) {
    if (Peer == 0) return;
    const auto it = peers_.find({Clamped(Dir), Peer});
    if (it != peers_.end() && !it->second.Pairs.Display.Pending && !it->second.Pairs.Graph.Pending)
        peers_.erase(it);
}

std::vector<TLoneByte> TWordPairs::TakeLone(std::uint8_t Dir, std::uint64_t Peer, bool AllPeers) {
    Dir = Clamped(Dir);
    std::vector<TLoneByte> out;
    if (AllPeers || Peer == 0) TakeFrom(own_[Dir], Dir, 0, {}, out);
    for (auto it = peers_.begin(); it != peers_.end();) {
        if (it->first.first == Dir && (AllPeers || it->first.second == Peer)) {
            TakeFrom(it->second.Pairs, Dir, it->first.second, it->second.Name, out);
            it = peers_.erase(it);
        } else {
            ++it;
        }
    }
    return out;
}

std::vector<TLoneByte> TWordPairs::TakeAllLone() {
    std::vector<TLoneByte> out;
    for (std::uint8_t dir = 0; dir < own_.size(); ++dir) {
        std::vector<TLoneByte> of = TakeLone(dir, 0, true);
        out.insert(out.end(), std::make_move_iterator(of.begin()), std::make_move_iterator(of.end()));
    }
    return out;
}

}  // namespace terminal
