#pragma once
// Where each received piece goes, and when: the plug-in's receive event, a
// Recv, the list or an output file. The ports' pieces wait in the receive
// queue (receive_queue.h); this unit hands them on one at a time, the oldest
// that nothing holds first, and keeps what that needs: which port's event
// runs and which pieces it was given, whose bytes a Recv reads, and the
// output files: the one that is on, and those switched off that still take
// what was read for them.
//
// Every piece carries its destination from the moment it is read: the
// output file that was on then, or the list. It is handed on with it, and
// each destination names its own peers, keeps its own lines and pairs its
// own words. Each file opened for output is an object of its own, owned
// here from its opening until nothing is owed to it or read for it any
// more, so that no piece can reach a file it was not read for.
//
// It owns no window, port or plug-in: the main window wires it to them
// through the hooks below, so that every decision can be tried without one.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "terminal/list_output.h"
#include "terminal/receive_queue.h"

namespace terminal {

struct TReceiveRouterHooks {
    // The plug-in declares the receive event of this port (ONRECEIVE for the
    // main port, ONRECEIVE2 for Port2).
    std::function<bool(bool IsMain)> EventDeclared;
    // An event of the plug-in runs (any: load, send, receive).
    std::function<bool()> PluginBusy;
    // Runs the receive event of First's port on Data (First's bytes and
    // those that waited behind it), which becomes what the plug-in left.
    std::function<void(const TReceivedPiece& First, std::string& Data)> RunEvent;
    // The most a source's stream may hold: its port's input buffer.
    std::function<std::size_t(const TReceiveSource&)> Bound;
    // What a source's stream holds has changed: its port's room follows.
    std::function<void(const TReceiveSource&)> RoomChanged;
    // Asks for Pump from the message loop.
    std::function<void()> PostPump;

    // Where pieces go. To is the output file a piece was read for, open as
    // text or as binary; null, the list.
    // A line (Piece.Bytes its text): a foreign port's goes to the list, a
    // serial port's line error where the port's data goes (a text file
    // keeps it until it has taken it, as it keeps data).
    std::function<void(TListOutput* To, const TReceivedPiece& Piece)> ShowLine;
    // A data piece: counted on its port and shown in To, under its peer's
    // name line where To named another peer last (a binary file takes the
    // bytes alone).
    std::function<void(TListOutput* To, const TReceivedPiece& Piece)> ShowData;
    // Piece says its peer (or its port) has gone: what is left of it (a
    // word's low byte that waits for its pair) shows in each place it was
    // read for (ForEachFile says which files there are).
    std::function<void(const TReceivedPiece& Piece)> Gone;
    // File (open or failed) is done with: nothing is read for it or waits
    // for it any more. What is left of the words read for it shows where
    // its data went (the file while open, else the list).
    std::function<void(TListOutput& File)> Ending;
    // An output file failed (File->Failure() says which and why): what it
    // had not taken (Rest, counted already) and what was read for it from
    // then on go to the list, paired as they were read for it. WasOn: it
    // was the output that is on, which is off now.
    std::function<void(TListOutput& File, bool WasOn, std::vector<TUnwrittenChunk> Rest)> OutputFailed;
    // A file is let go (written out, or failed and settled): nothing may
    // write to it after this, and it is freed.
    std::function<void(const TListOutput& File)> LetGo;
    // The output that is on failed, inside whatever wrote to it: it is off
    // from this moment (On() is null), and only what shows that (the menu's
    // check mark) may change here; the failure is settled later.
    std::function<void()> OutputWentOff;
};

class TReceiveRouter {
public:
    TReceiveRouter(TReceiveQueue& Queue, TReceiveRouterHooks Hooks);
    TReceiveRouter(const TReceiveRouter&) = delete;
    TReceiveRouter& operator=(const TReceiveRouter&) = delete;

    // A piece read now: it waits in its stream for its turn, bound for the
    // output that is on (or the list).
    void Add(TReceivedPiece Piece);
    // A line about reception or a peer, in its place in Source's stream:
    // shown at once when nothing there or elsewhere is to go first.
    void AddLine(int Code, const std::string& Text, const TReceiveSource& Source, double Time);
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

    // ---- The user's commands and the output files
    // The output that is on (output to a file) while it is open, else null.
    TListOutput* On() const { return on_ && on_->IsOpen() ? on_.get() : nullptr; }
    // Output switched on into a new file (there is none on): what is read
    // from now on goes to it. A failure raises and changes nothing.
    void OpenOutput(const std::string& FileName, TListFileType Type);
    // Clear: what was read before it is neither counted nor shown (a
    // receive event still gets it), but for what a file switched off still
    // takes.
    void MarkCleared();
    // Output switched off: the file that is on closes, or stays open (taken
    // from it) for what was read for it and still waits, or that its pipe
    // has not taken yet; any number of files can wait so at once.
    void OutputSwitchedOff();
    // The file switched off that still waits for what was read for it and
    // is FileName (by any of its names); null when there is none.
    const TListOutput* WaitingFile(const std::string& FileName) const;
    // Output switched on again into that file: it is the output that is on
    // again, carrying on after what it holds, and what waits for it is the
    // output's that is on now.
    void Resume(const TListOutput& Waiting);
    // Output files that failed are settled, and files done with let go:
    // from the pump, and at the close.
    void SettleFiles();
    // A failed output is settled before anything the window writes after
    // it, whoever writes: every writer of the window calls this first. (A
    // piece handed on does so itself; inside the rendering of a piece or a
    // settling it waits for their end.)
    void SettleFailures();
    // Every file pieces may still be read for or shown in: the one that is
    // on, and those switched off or failed that something is owed to.
    template <class F>
    void ForEachFile(F&& Visit) const {
        if (on_) Visit(*on_);
        for (const auto& f : waiting_) Visit(*f);
    }

    // ---- The close
    // From now on nothing waits and no event runs.
    void BeginClose() { closing_ = true; }
    bool Closing() const { return closing_; }
    // Hands everything on at once, without events, in the order it came,
    // the pieces a running event was given first.
    void HandOnEverything();
    // The files that are still open (the one that is on, and those switched
    // off), with what their pipes have not taken: the program finishes
    // writing them once its window is gone.
    std::vector<std::unique_ptr<TListOutput>> TakeOpenFiles();

    // The slot whose receive event runs (1 main, 0 Port2), or -1.
    int EventSlot() const { return eventSlot_; }

private:
    // Whether a piece at the front of its stream must wait.
    bool Held(const TReceivedPiece& Piece) const;
    // One piece on its way; true when the plug-in's receive event ran.
    bool HandOn(TReceivedPiece& Piece);
    // A piece shown (or written) where it goes; nothing for a piece read
    // before the list was cleared.
    void Deliver(const TReceivedPiece& Piece);
    // Where a piece goes now: its file while that is open, else the list.
    static TListOutput* Destination(const TReceivedPiece& Piece);
    // Whether an output failed and that is not settled yet.
    bool FailurePending() const;
    // A write to File failed: the one rule of a failed output. What it had
    // not taken and what waits for it go to the list (hook OutputFailed).
    void OutputFailed(TListOutput& File);
    // A file not on is let go once nothing waits for it and its pipe has
    // taken all (what its words left unpaired goes last).
    void CloseIfDone(const TListOutput* File);
    // Drops a file not on from those kept.
    void LetGo(std::vector<std::unique_ptr<TListOutput>>::iterator It);
    bool PiecesWaitFor(const TListOutput* File) const;
    // Every piece that waits, in the queue or given to the running event.
    void UpdateWaiting(const std::function<void(TReceivedPiece&)>& Change);
    // What waits for From goes to To (null: the list).
    void Redirect(const TListOutput* From, TListOutput* To);
    // The output that is on goes to the files kept (switched off, or failed).
    void SetAsideOn();

    TReceiveQueue& queue_;
    TReceiveRouterHooks hooks_;
    // The output that is on (open, or failed and not settled yet).
    std::unique_ptr<TListOutput> on_;

    int eventSlot_ = -1;
    bool eventForeign_ = false;  // it is a foreign port's client's
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
    bool settling_ = false;    // failed files are being settled
    const TListOutput* inFlight_ = nullptr;  // the file of the piece being shown
    bool pumpWanted_ = false;  // the pump was asked for meanwhile
    bool closing_ = false;
    // Files not on that something is owed to: switched off, still taking
    // what was read for them or what their pipes have not taken; or failed,
    // while what was read for them still waits (it goes to the list).
    std::vector<std::unique_ptr<TListOutput>> waiting_;
};

}  // namespace terminal
