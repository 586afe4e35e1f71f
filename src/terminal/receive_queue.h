#pragma once
// What the ports have read and the main window has not handed on yet, in
// the order it came: chunks of received bytes with the port they came from,
// and the foreign port's lines about reception (which client speaks, a
// datagram's sender) in their place among them.
//
// The window hands the queue on one piece at a time, from one place only:
// a piece goes to a plug-in's receive event, then to the list, the output
// file and the graph. While a receive event runs (or a plug-in's Recv
// waits), what comes waits here: Recv takes from it, PurgeRx drops from it,
// and the rest goes to the event as its next chunk once the event returns.
// What waits is what the ports were allowed to read (their room), so the
// queue never grows beyond a port's input buffer by much.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

namespace terminal {

// Whose bytes: the main port's or Port2's slot, and for the foreign port
// the client index (0 to 255); Client is NoClient for a serial port.
struct TReceiveSource {
    static constexpr int NoClient = -1;
    bool IsMain = true;
    int Client = NoClient;
    bool operator==(const TReceiveSource&) const = default;
};

struct TReceivedPiece {
    enum class TKind : std::uint8_t { Data, Line };
    TKind Kind = TKind::Data;
    TReceiveSource Source;
    // Taken by a plug-in's Recv: counted and shown in its place, but never
    // given to the receive event.
    bool Taken = false;
    int LineCode = 0;   // a line: the foreign port's event code
    std::string Bytes;  // the data, or the line's text
};

class TReceiveQueue {
public:
    // Appends bytes; they join the last piece when it is from the same source
    // and waits for the event too.
    void Add(TReceiveSource Source, const char* Data, std::size_t Size);
    void AddLine(int Code, std::string Text);

    bool Empty() const { return pieces_.empty(); }
    // Bytes that wait for the receive event, of one slot (Recv's taken bytes
    // not included: they are the plug-in's).
    std::size_t Waiting(bool IsMain) const { return waiting_[IsMain ? 1 : 0]; }
    // The same for the foreign port's clients, both slots together.
    std::size_t WaitingForeign() const { return waitingForeign_; }

    TReceivedPiece Pop();
    // Recv: the first Max bytes (all when Max is 0) of Source's waiting
    // pieces, in order, are appended to Out and marked taken; a piece taken
    // in part is split. Returns the bytes taken.
    std::size_t Take(const TReceiveSource& Source, std::size_t Max, std::string& Out);
    // PurgeRx: Source's waiting pieces go; returns the bytes dropped.
    std::size_t Drop(const TReceiveSource& Source);

private:
    void Count(const TReceiveSource& Source, std::size_t Size, bool Add);

    std::deque<TReceivedPiece> pieces_;
    std::size_t waiting_[2] = {0, 0};
    std::size_t waitingForeign_ = 0;
};

}  // namespace terminal
