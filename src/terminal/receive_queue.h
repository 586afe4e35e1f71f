#pragma once
// What the ports have read and the main window has not handed on yet: one
// stream per source (a serial port, an Ethernet client, the Ethernet port as
// a whole for its own lines), each in the order it came, and the order of
// arrival across streams.
//
// The window hands pieces on one at a time, the oldest first among the
// streams that nothing holds: a piece goes to a plug-in's receive event, then
// to the list, the output file and the graph. A stream is held only for its
// own port's receive event (what comes while it runs is its next chunk) and
// for a plug-in's Recv that reads it, so one port's wait never holds
// another's bytes. What a stream holds, with each piece's upkeep, is what its
// port's room is measured against: the port reads no more once its stream
// is as large as its input buffer.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <type_traits>
#include <vector>

namespace terminal {

class TListOutput;

// Whose bytes: the main port's or Port2's slot, and for the foreign port the
// client index (0 to 255); Client is NoClient for a serial port and PortWide
// for the foreign port's lines that concern no client.
struct TReceiveSource {
    static constexpr int NoClient = -1;
    static constexpr int PortWide = -2;
    bool IsMain = true;
    int Client = NoClient;
    bool operator==(const TReceiveSource&) const = default;
};

struct TReceivedPiece {
    // Data; a line about reception or a peer; the end of a peer (NameKey)
    // or of a whole port (NameKey 0), after whatever it sent.
    enum class TKind : std::uint8_t { Data, Line, Gone };
    TKind Kind = TKind::Data;
    TReceiveSource Source;
    // Taken by a plug-in's Recv: counted and shown in its place, but never
    // given to the receive event.
    bool Taken = false;
    // Read before the list was cleared: it still goes to the receive event,
    // but is neither counted nor shown.
    bool Cleared = false;
    // A line: the foreign port's event code, or PortErrorLine for a line
    // error of a serial port (parity, framing, overrun, break), which goes
    // where the port's data goes: a text output file takes it as a line of
    // its own.
    static constexpr int PortErrorLine = -1;
    int LineCode = 0;
    std::string Bytes;  // the data, or the line's text
    double Time = 0;    // when the port read it
    // Where it goes: the output file that was on when it was read (null:
    // the list). That file stays open for it after output is switched off.
    TListOutput* Output = nullptr;
    // The peer whose data this is, as the list names it (a server's client, a
    // datagram's sender): a key no other peer has, 0 when it needs no name,
    // and the line that names it.
    std::uint64_t NameKey = 0;
    std::string NameLine;
    std::uint64_t Seq = 0;  // order of arrival, set by the queue
};

class TReceiveQueue {
public:
    // What a piece costs beyond its bytes, counted against a port's room, so
    // that a flood of empty datagrams or lines is bounded as bytes are.
    static constexpr std::size_t PieceUpkeep = 64;

    // Whether a piece at the front of its stream must wait: the caller's
    // test, called through a reference for the length of the call, so that
    // a piece on its way pays for no copy of the test.
    class THeld {
    public:
        template <class TTest>
            requires std::is_invocable_r_v<bool, const TTest&, const TReceivedPiece&>
        THeld(const TTest& Test)  // not explicit: the caller passes its lambda as it is
            : test_(&Test), call_([](const void* t, const TReceivedPiece& p) -> bool {
                  return (*static_cast<const TTest*>(t))(p);
              }) {}
        bool operator()(const TReceivedPiece& Piece) const { return call_(test_, Piece); }

    private:
        const void* test_;
        bool (*call_)(const void*, const TReceivedPiece&);
    };

    // Appends a piece to the end of its source's stream.
    void Add(TReceivedPiece&& Piece);
    // Puts pieces taken out for an event back in front of their streams, as
    // they were (their order of arrival kept).
    void PutBack(std::vector<TReceivedPiece> Pieces);

    bool Empty() const { return pieces_ == 0; }
    bool Empty(const TReceiveSource& Source) const;
    // Bytes and upkeep of every piece a source's stream holds, taken ones
    // included.
    std::size_t Cost(const TReceiveSource& Source) const;

    // The oldest piece at the front of a stream that Held does not hold;
    // false when there is none.
    bool PopNext(const THeld& Held, TReceivedPiece& Out);
    // Whether PopNext would find a piece.
    bool AnyFree(const THeld& Held) const;
    // The untaken data pieces that follow at the front of Source's stream and
    // have Like's name, clear mark and output, up to Max bytes in all: what a
    // receive event takes with the piece it was given (a chunk it changes
    // goes where its first piece goes).
    void PopFollowing(const TReceivedPiece& Like, std::size_t Max, std::vector<TReceivedPiece>& Out);
    // Recv: the first Max bytes (all when Max is 0) of Source's untaken data,
    // in order, are appended to Out and marked taken; a piece taken in part
    // is split. Returns the bytes taken.
    std::size_t Take(const TReceiveSource& Source, std::size_t Max, std::string& Out);
    // PurgeRx: Source's untaken data goes; returns the bytes dropped.
    std::size_t Drop(const TReceiveSource& Source);
    // Change sees every piece there now, and may mark it cleared or give it
    // another output (what it costs stays as it is).
    void Update(const std::function<void(TReceivedPiece&)>& Change);
    bool Any(const std::function<bool(const TReceivedPiece&)>& Pred) const;
    // Whether a foreign port's client (Client 0 to 255) has a piece waiting
    // that came before the piece numbered Seq (0: before any to come).
    bool ClientPieceBefore(std::uint64_t Seq) const;

private:
    struct TStream {
        TReceiveSource Source;
        std::deque<TReceivedPiece> Pieces;
        std::size_t Cost = 0;
    };
    TStream& StreamOf(const TReceiveSource& Source);
    const TStream* FindStream(const TReceiveSource& Source) const;
    void Counted(TStream& S, const TReceivedPiece& P, bool Add);

    std::vector<TStream> streams_;
    std::size_t pieces_ = 0;
    std::uint64_t nextSeq_ = 1;
};

}  // namespace terminal
