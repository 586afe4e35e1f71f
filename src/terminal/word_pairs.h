#pragma once
// The word formats (DW, HW) show two successive bytes as one word, the first
// the low byte: which low bytes wait for their pair. Every place received
// bytes are read for keeps its own pairs (the list, each output file), so
// that a word never joins a byte read for one place with a byte read for
// another; within it each stream (main port, Port2, transmitted) and each
// peer of a port that serves several pairs its own bytes.
#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace terminal {

// The low byte of a word that waits for its stream's next byte.
struct TWordPair {
    bool Pending = false;
    std::uint8_t Low = 0;
    double Time = 0;  // when the low byte was read
    // Takes the stream's next byte: false while it is a low byte, true
    // with Word (byte x 256 + low byte) when it completes one.
    bool Take(std::uint8_t B, std::uint16_t& Word) {
        if (!std::exchange(Pending, !Pending)) {
            Low = B;
            return false;
        }
        Word = static_cast<std::uint16_t>(B * 256 + Low);
        return true;
    }
};

// One stream's pairing: the list's (or file's), and the graph's, which sees
// only the bytes that came while it was fed.
struct TStreamPairs {
    TWordPair Display, Graph;
};

// A low byte whose pair never came (its peer or port went, its place was
// let go, the program closed): shown alone, in the byte format of its word
// format, under its peer's name and stamped when it was read.
struct TLoneByte {
    std::uint8_t Dir = 0;
    std::uint64_t Peer = 0;
    std::string Name;  // the line that names its peer (empty: none)
    std::uint8_t Byte = 0;
    double Time = 0;
    bool Graphed = false;  // the graph was given it as a low byte
};

class TWordPairs {
public:
    // Peers whose begun words are remembered at most; past it the one heard
    // from longest ago is done with: its waiting low byte goes to those
    // given back (TakeEvicted), to be shown alone.
    static constexpr std::size_t MaxWaitingPeers = 4096;

    // A port's own stream (Peer 0) is found at no more than an index: every
    // received chunk comes by.
    TStreamPairs& Of(std::uint8_t Dir, std::uint64_t Peer = 0) {
        Dir = Clamped(Dir);
        return Peer == 0 ? own_[Dir] : PeerOf(Dir, Peer);
    }
    // The line that names Peer, for a low byte it leaves waiting.
    void Name(std::uint8_t Dir, std::uint64_t Peer, std::string_view Name);
    // Forgets a peer whose pairs wait for nothing.
    void ForgetIfIdle(std::uint8_t Dir, std::uint64_t Peer);
    void Reset() {
        own_ = {};
        peers_.clear();
        evicted_.clear();
    }
    // The low bytes of peers done with for the bound since the last call.
    std::vector<TLoneByte> TakeEvicted() { return std::exchange(evicted_, {}); }
    // Takes the low byte Peer (or every peer of stream Dir: AllPeers, the
    // port's own stream among them) left waiting, in the order of the
    // peers' keys; the graph's waits end with it.
    std::vector<TLoneByte> TakeLone(std::uint8_t Dir, std::uint64_t Peer, bool AllPeers);
    // Every low byte that waits, of every stream.
    std::vector<TLoneByte> TakeAllLone();
    std::size_t WaitingPeers() const { return peers_.size(); }

private:
    struct TPeerPairs {
        TStreamPairs Pairs;
        std::uint64_t Used = 0;
        std::string Name;
    };
    // Only 0, 1 and 2 are ever given; anything else counts as transmitted
    // rather than reaching past the table.
    std::uint8_t Clamped(std::uint8_t Dir) const {
        return static_cast<std::uint8_t>(Dir < own_.size() ? Dir : own_.size() - 1);
    }
    TStreamPairs& PeerOf(std::uint8_t Dir, std::uint64_t Peer);

    std::array<TStreamPairs, 3> own_{};
    std::map<std::pair<std::uint8_t, std::uint64_t>, TPeerPairs> peers_;
    std::uint64_t use_ = 0;
    std::vector<TLoneByte> evicted_;
};

}  // namespace terminal
