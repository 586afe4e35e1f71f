#pragma once
// Where each received piece goes, and when: the plug-in's receive event, a
// Recv, the list or an output file. The ports' pieces wait in the receive
// queue (receive_queue.h); this unit hands them on one at a time, the oldest
// that nothing holds first, and keeps what that needs: which port's event
// runs and which pieces it was given, whose bytes a Recv reads, which peer
// the list named last, which output each piece was read for and the files
// switched off that still take what was read for them.
//
// It owns no window, port or plug-in: the main window wires it to them
// through the hooks below, so that every decision can be tried without one.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "terminal/receive_list_files.h"
#include "terminal/receive_queue.h"

namespace terminal {

struct TReceiveRouterHooks {
    // The plug-in declares the receive event of this port (ONRECEIVE for the
    // main port, ONRECEIVE2 for Port2).
    std::function<bool(bool IsMain)> EventDeclared;
    // An event of the plug-in runs (any: load, send, receive).
    std::function<bool()> PluginBusy;
    // Runs the receive event on Data, which becomes what the plug-in left.
    std::function<void(bool IsMain, std::string& Data)> RunEvent;
    // The most a source's stream may hold: its port's input buffer.
    std::function<std::size_t(const TReceiveSource&)> Bound;
    // What a source's stream holds has changed: its port's room follows.
    std::function<void(const TReceiveSource&)> RoomChanged;
    // A foreign port's line, stamped Time.
    std::function<void(int Code, const std::string& Text, double Time)> ShowLine;
    // Data counted on its port and written to the raw output file, or shown
    // in the list and the graph, stamped Time. The output it goes to is
    // DeliveryOutput() (null: the one that is on).
    std::function<void(bool IsMain, const std::string& Data, double Time, std::uint64_t Peer)> ShowData;
    // The line that names the peer whose data follows, stamped Time.
    std::function<void(const std::string& Text, double Time)> ShowName;
    // The output pieces go to is about to change (a file switched off lets
    // go): the list's writer follows.
    std::function<void()> OutputChanging;
    // Asks for Pump from the message loop.
    std::function<void()> PostPump;
    // The output that is on holds back what goes to it (TListOutput::
    // Holding: a pipe that has not taken what it was given yet).
    std::function<bool()> OutputHolding;
};

class TReceiveRouter {
public:
    TReceiveRouter(TReceiveQueue& Queue, TReceiveRouterHooks Hooks);
    TReceiveRouter(const TReceiveRouter&) = delete;
    TReceiveRouter& operator=(const TReceiveRouter&) = delete;

    // A piece read now: it waits in its stream for its turn.
    void Add(TReceivedPiece Piece);
    // A line about reception or a peer, in its place in Source's stream:
    // shown at once when nothing there or elsewhere is to go first.
    void AddLine(int Code, const std::string& Text, const TReceiveSource& Source, double Time);
    // Whether a piece at the front of its stream must wait.
    bool Held(const TReceivedPiece& Piece) const;
    // Hands on the oldest pieces nothing holds. A receive event runs only
    // while no plug-in event runs, so a pump that a wait of the plug-in
    // reaches only shows pieces of ports without a declared event.
    void Pump();
    // An event of the plug-in has ended: what waited for it goes on.
    void PluginIdle();

    // ---- A plug-in's Recv
    // While a Recv waits, Source's pieces are its to take.
    class TRecvScope {
    public:
        TRecvScope(TReceiveRouter& Router, const TReceiveSource& Source);
        ~TRecvScope();
        TRecvScope(const TRecvScope&) = delete;
        TRecvScope& operator=(const TRecvScope&) = delete;

    private:
        TReceiveRouter& router_;
        TReceiveSource outer_;
    };
    // Takes up to Want bytes (0: all) of Source's untaken data into Data;
    // what is taken goes on in its place. Returns the bytes taken.
    std::size_t Take(const TReceiveSource& Source, std::size_t Want, std::string& Data);
    // PurgeRx: Source's untaken data goes.
    void Drop(const TReceiveSource& Source);
    bool RecvWaiting() const { return recvWaiting_ > 0; }

    // ---- The user's commands
    // Clear: what was read before it is neither counted nor shown (a
    // receive event still gets it), but for what a file switched off still
    // takes; the next peer is named anew.
    void MarkCleared();
    // A new foreign port: its first peer is named.
    void ForgetNames() { lastNamedKey_ = 0; }
    // Output to a file switched on: what is read from now goes to it.
    void OutputSwitchedOn() { ++outputGen_; }
    // Output switched off: Output is closed, or kept open (taken from it)
    // for what was read for it and still waits; any number of files can
    // wait so at once, each for its own pieces.
    void OutputSwitchedOff(TListOutput& Output);
    std::uint32_t OutputGen() const { return outputGen_; }
    // The output the piece being handed on goes to; null: the one that is on.
    TListOutput* DeliveryOutput() const { return deliveryOutput_; }
    // The file switched off that still waits for what was read for it and
    // is FileName (by any of its names); null when there is none.
    TListOutput* DrainingFile(const std::string& FileName) const;
    // Output switched on again into that file (after OutputSwitchedOn):
    // Into carries on writing it, and what waits for it is Into's now.
    void Resume(TListOutput& Draining, TListOutput& Into);
    // Whether Output is a file switched off that still takes pieces.
    bool Draining(const TListOutput* Output) const;
    // Whether any file switched off is still open.
    bool Draining() const { return !draining_.empty(); }
    // A file switched off failed: what was read for it goes where received
    // data goes now.
    void DropDraining(const TListOutput& Output);
    // Every file switched off is closed (the program ends).
    void CloseDraining();
    // Whether a piece read under output Gen still waits to be shown.
    bool PiecesWaitFor(std::uint32_t Gen) const;

    // ---- The close
    // From now on nothing waits and no event runs.
    void BeginClose() { closing_ = true; }
    bool Closing() const { return closing_; }
    // Hands everything on at once, without events, in the order it came,
    // the pieces a running event was given first.
    void HandOnEverything();

    // The slot whose receive event runs (1 main, 0 Port2), or -1.
    int EventSlot() const { return eventSlot_; }

private:
    // One piece on its way; true when the plug-in's receive event ran.
    bool HandOn(TReceivedPiece& Piece);
    // A piece counted and shown (or written), with the name of its peer
    // when the list names another one last; nothing for a piece read before
    // the list was cleared.
    void Deliver(const TReceivedPiece& Piece);
    // The line that names the piece's peer, when the list named another one
    // last.
    void NamePeer(const TReceivedPiece& Piece);
    // Output Gen's file switched off is closed once nothing waits for it.
    void CloseDrainedOutput(std::uint32_t Gen);
    struct TDraining {
        std::uint32_t Gen = 0;
        std::unique_ptr<TListOutput> Output;
    };
    TDraining* DrainingFor(std::uint32_t Gen);
    // Whether the output of Gen holds back what goes to it.
    bool OutputHolding(std::uint32_t Gen) const;
    // Every piece that waits, in the queue or given to the running event.
    void UpdateWaiting(const std::function<void(TReceivedPiece&)>& Change);

    TReceiveQueue& queue_;
    TReceiveRouterHooks hooks_;

    int eventSlot_ = -1;
    int recvWaiting_ = 0;
    TReceiveSource recvWaitSource_;
    // The pieces a running receive event was given, while it runs and until
    // they are shown (null otherwise); the first eventPiecesShown_ of them
    // are shown already. A close that cannot wait for the event hands the
    // others on itself and sets eventPiecesGone_.
    std::vector<TReceivedPiece>* eventPieces_ = nullptr;
    std::size_t eventPiecesShown_ = 0;
    bool eventPiecesGone_ = false;
    // What the running event took with Recv reached its port's bound: it
    // no longer waits behind the event's chunk.
    bool eventTakenSpilled_ = false;
    bool delivering_ = false;  // a piece is being counted and shown
    bool pumpWanted_ = false;  // the pump was asked for meanwhile
    // The key of the peer the list named last (0: none since it was cleared).
    std::uint64_t lastNamedKey_ = 0;
    bool closing_ = false;
    // Each piece goes to the output (file or list) that was in force when it
    // was read, by number. Switching output off while pieces read for the
    // file still wait keeps that file open for them until they are written.
    std::uint32_t outputGen_ = 1;
    std::vector<TDraining> draining_;
    TListOutput* deliveryOutput_ = nullptr;
};

}  // namespace terminal
