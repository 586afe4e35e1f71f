#pragma once
// One run of a cell: the window on ptys or sockets with the cell's plug-in,
// the devices flooding, the user's action in the plug-in's wait, and what
// the run saw kept for the oracle (check_*.cpp) to judge.
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "e2e/receive_table.h"
#include "e2e/receive_table/cells.h"
#include "e2e/receive_table/devices.h"
#include "e2e/receive_table/records.h"
#include "e2e/receive_table/stillness.h"
#include "ports/ethernet_port.h"
#include "support/fifo_reader.h"
#include "support/main_window.h"
#include "terminal/main_form.h"

namespace receive_table::detail {

using Clock = std::chrono::steady_clock;
using terminal::TMain;
using terminal::TReceiveSource;

// The serial ports' input buffer in the table: small enough that a wait of
// the plug-in drives a flooding stream past it.
constexpr std::uint32_t kSerialInBuf = 8192;
// What a piece that waits costs beyond its bytes and its name line, so that
// a flood of small pieces is bounded as bytes are.
constexpr std::size_t kPieceUpkeep = 64;
// What a server's client may have read and not handed on.
constexpr std::size_t kClientBound = 1000000;
// What one client sends at once when its port's wait begins, to drive its
// stream past that.
constexpr std::size_t kClientBurst = 1300000;
// What the main serial port's device sends at once while its port's Recv
// in the event waits: far more than a port held to what each Recv frees
// reads in the rest of the wait.
constexpr std::size_t kSerialBurst = 100000;
// What a TCP peer sends at once onto the slow pipe: read in pieces of up to
// the socket's read size, each far more than the pipe has room for.
constexpr std::size_t kPipeBurst = 40000;

// The slow pipe's reader: it takes at most so much every pace, steadily,
// from a pipe that holds one page (a serial port's) or four. A serial device
// floods faster than that, so the pipe sets the pace and the program's
// backlog builds all the time (the port is then held back, and the device
// with it); an Ethernet port reads on into its far larger bound whatever
// the pipe does, so its reader keeps up with a flood, and the backlog builds
// when a wait's release hands on more than the pipe holds (and for the
// server's three clients). A write of more than a page into a pipe takes
// what its free pages hold: a TCP peer's burst, read in pieces of many
// pages, is written in part.
constexpr int kSerialPipeCapacity = 4096, kEthernetPipeCapacity = 16384;
constexpr std::size_t kSerialPipeTake = 1024, kEthernetPipeTake = 2048;
constexpr std::chrono::milliseconds kSerialPipePace{200}, kEthernetPipePace{100};
// Ticks that saw the pipe holding, this far apart or closer, are one span:
// the port was not let read all it had between them.
constexpr long kPipeSpanJoin = 200;

// Where received data went, in the order it went there: the list (as a
// snapshot of its lines) or an output file; From and To are the read times
// (ms of the day) between which it was the destination.
struct Segment {
    bool list = false;
    std::string file;   // the output file it was (empty: the list)
    std::string bytes;  // a file's bytes
    bool captured = false;  // bytes taken while the file was still open
    bool joins = false;     // continues the one before it: nothing was lost between
    bool text = false;      // a file written as text
    bool after_clear = false;  // begun by a Clear (the list, or the file it emptied)
    // A file written in two turns (output switched on again into it): the
    // segment of its first turn, in the second turn's; that of its second,
    // in the first's (-1: none). The records of each turn are placed as the
    // program placed them: a text line by its stamp, a byte of a binary
    // file by where it stands.
    int first_turn = -1, second_turn = -1;
    long from = kNoStamp, to = kForever;
    struct Line {
        // 0 main port, 1 Port2; -1 a peer's name, -2 a plug-in's line about
        // its event's chunk, -3 any other message or error line
        int dir;
        long time;
        terminal::TDataFormat format;
        std::string bytes;  // data: its bytes; a message: its text
    };
    std::vector<Line> lines;
};

// A window of write times (ms of the day) in which an action loses data by
// design, and what loses it there; Stream -1: every stream's.
struct Loss {
    long lo, hi;
    bool list;    // the list and the output files lose it
    bool events;  // the receive events lose it
    std::string why;
    int stream = -1;
};

// Checks one view of a stream (the list and files, or what the events got)
// against what its device wrote: each record once and in order, and every
// one there but where a loss window explains it (each record missing by
// when its device wrote it, when its log tells). Exempt records may stand
// out of order. Returns the records missing.
long CheckRecords(const std::string& Tag, int Stream, const Decoder& D, const WriteLog* Log, std::uint32_t Complete,
                  long LastWritten, long Start, const std::vector<Loss>& Losses, bool Events, long Allowance,
                  const std::set<long>& Exempt, std::vector<std::string>& Failures, long* Unexplained = nullptr);
// When the device wrote a record; kNoStamp: its log does not tell.
long WrittenAt(const WriteLog* Log, long Seq);

class Run {
public:
    explicit Run(const Cell& C) : c_(C) {}
    Result Go();

private:
    using Window = test_support::MainWindow;

    bool SetUp();
    bool SetUpSerial();
    bool SetUpEthernet();
    // Why the set-up failed; returns false.
    bool SetUpFails(const std::string& Why) {
        setup_failure_ = Why;
        return false;
    }
    std::string setup_failure_;
    void StartFloods();
    void StopFloods();
    bool LoadPlugin();
    void Tick();
    void Act(int Step);
    // Before a UDP port the user closes in a word view: its senders stop,
    // each stream ending in a byte that waits for its pair, and what they
    // sent is read. True while that is not over.
    bool SendersEndFirst();
    Clock::time_point senders_ended_{}, senders_read_moved_{};
    std::size_t senders_read_ = 0;
    long port_closed_ms_ = kNoStamp;  // when the user closed the port
    bool InWait() const;
    // Whether the plug-in's wait is a Recv (or a loop of them).
    bool RecvWaits() const {
        return c_.plugin == Plugin::RecvInEvent || c_.plugin == Plugin::RecvLoopOnLoad ||
               c_.plugin == Plugin::RecvLoopOnSend || c_.plugin == Plugin::RecvBytesInEvent ||
               c_.plugin == Plugin::RecvThenPurge;
    }
    // When the devices stop: the planned time, whatever the plug-in does.
    Clock::time_point FloodsEnd() const;
    // What the run finds now, for a check that did not hold: what waits,
    // whether the plug-in runs, what the ports read.
    std::string StateNow() const;
    bool PluginDone() const;
    // A Recv loop whose port the user closes meanwhile: its next Recv fails
    // ("Port is not connected"), which ends its event with the error's box;
    // a load event that fails so leaves no plug-in loaded.
    bool RecvLosesItsPort() const;
    void Snapshot();
    // The list's lines, taken back as bytes (data) or text.
    std::vector<Segment::Line> ListLines();
    void Capture(const std::string& File);
    void OpenOutput(const std::string& File);
    void SwitchOutputOn(const std::string& File);
    void SwitchOutputOff();
    void CloseWindow();
    void CollectEvents();
    // The oracle: every check of a cell, by kind (check_*.cpp), once the
    // run is over.
    void Verify(Result& R);
    // What the run's figures were, one line.
    struct Figures {
        std::size_t seen = 0;
        long worst_lag = 0, lost_by_design = 0, datagrams_missing = 0, datagrams_missing_in_events = 0;
        std::size_t queued = 0;
        long pipe_held_ms = 0;
    };
    void Summarise(Result& R, const Figures& F) const;
    // The views: text files read back as lines, and each list or text
    // file's lines (marks, names, order); the graph's points.
    void VerifyViews();
    void VerifyLines(const Segment& S);
    // A word format's lone bytes: shown only when their peer or port goes,
    // each stamped with the read that took it.
    void VerifyLoneBytes(const Segment& S, int Stream);
    void VerifyGraph(const Segment& S);
    // Each stream's records where they went: once, in order, lost only by
    // design, in the destination they were read for, stamped with their
    // read; and in the receive events.
    void VerifyStream(int Stream, const std::set<long>& Exempt, Figures& F);
    // The stream's letters from every destination, in their order.
    void FeedViews(int Stream, Decoder& D) const;
    // The stream's bytes in the reads the window got.
    std::size_t BytesRead(int Stream) const;
    // A file switched off before the close holds everything read for it:
    // the program writes its pipe's share once the window has gone.
    void VerifyOwed(int Stream, const Decoder& D);
    // A word view's last byte, which the close shows alone, in the text
    // file that was on; or, where the user closed the port for good, in the
    // list before the close.
    void VerifyLastByte(int Stream, const Decoder& D);
    // After a Clear a place shows nothing read before it: in a word view,
    // no word pairs a low byte read before it.
    void VerifyFresh(const Segment& S, int Stream);
    // The stream's bytes as its port read them, and the read of each.
    std::string StreamRead(int Stream, std::vector<std::size_t>* Which = nullptr) const;
    void VerifyPlaces(int Stream, const Decoder& D);
    // Returns the most a record's stamp came after its write.
    long VerifyStamps(int Stream, const Decoder& D);
    // What the plug-in did: the loss its PurgeRx makes, the records that
    // may show out of order around a Recv in the event, what Recv returned,
    // and which ports waited while its event did.
    void AddPurgeLoss(const std::vector<int>& Streams);
    std::map<int, std::set<long>> RecvExempt(const std::vector<int>& Streams) const;
    // Returns the records missing in what a Recv returned of the datagrams
    // (weighed against those the port and the system lost).
    long VerifyRecv(const std::vector<int>& Streams);
    // A Recv that waits holds its port's bytes: every record its port read
    // meanwhile is in what it returned.
    void VerifyRecvTook(const std::vector<int>& Streams);
    void VerifyHolding();
    // What waited stays within its bound; returns the most that waited.
    std::size_t VerifyBounds();
    // What the slow pipe held back; returns for how long (ms).
    long VerifyPipe();
    // The window answered, closed at once, showed no box or notice of its
    // own, and saved its settings.
    void VerifyWindow();
    // Checks a receive event's records of a stream; returns the records
    // missing that no loss explains.
    long VerifyEvents(int Stream, std::uint32_t Complete, long LastWritten);
    // What a plug-in's event rewrote shows as it left it, and nothing else.
    void VerifyRewritten(int Stream, const Decoder& D);
    // Places the records of a binary file written in two turns: each stream's
    // bytes of the second turn follow its bytes of the first in the file.
    void FeedTurns(int Stream, std::size_t First, Decoder& D, std::size_t& Resume) const;
    void Fail(const std::string& Why) { failures_.push_back(Why); }
    // A check that cannot decide: the machine stood still past what it
    // allows.
    void Void(const std::string& Why) { voids_.push_back(Why); }
    // Fails with Why, unless the threads of the test waited for a processor
    // from From to To (ms of the day) at least Excess ms, which is then what
    // kept the check from holding: the cell is void.
    void FailUnlessStill(const std::string& Why, long From, long To, long Excess, bool Main = true) {
        const long waited = stillness_.Waited(From, To, Main);
        if (Excess > 0 && waited >= Excess)
            Void(Why + " (the " + (Main ? "window's thread" : "test's threads") + " waited " +
                 std::to_string(waited) + " ms for a processor meanwhile)");
        else
            Fail(Why);
    }
    void Lossy(long Lo, long Hi, bool List, bool Events, const std::string& Why) {
        losses_.push_back({Lo, Hi, List, Events, Why});
    }
    // The ports' reads, as the window got them: each port's (serial: its
    // slot 0 or 1; Ethernet: 100 + the client's index) bytes, and the times
    // (ms of the day, by the clock that stamps them) just before the window
    // took them and just after: it stamps them in between.
    struct Read {
        long at, after;
        std::string bytes;
    };
    void NoteRead(int Key, const void* Data, std::size_t Size, const std::function<void()>& Take) {
        const long at = Now();
        Take();
        reads_[Key].push_back({at, Now(), std::string(static_cast<const char*>(Data), Size)});
    }
    void WatchReads();
    int ReadKey(int Stream) const;
    // The first read of a port after At (kNoStamp: none), and the last before
    // At (kNoStamp: none).
    long ReadAfter(int Key, long At) const;
    long ReadBefore(int Key, long At) const;
    // The earliest write time of what a port can read from At on: whatever
    // was written after its last read before At (a port that stood still
    // reads late what was written long before). The earliest of the
    // streams' ports that read at all.
    long ReadFloor(long At) const;
    // When the record a port was reading at At was written (kNoStamp: it
    // read nothing of the stream from then on).
    long FirstReadAfter(int Stream, long At) const;
    // The start of what an action at Now loses: what waited for a running
    // event was read since the wait began, and what waited for a slow pipe
    // since the pipe began to hold it back (a Clear drops it as it empties
    // a regular file: a pipe has nothing to empty); in write times, from the
    // ports' last reads before then.
    // (Also what still waited then for a plug-in's event that is slow to
    // come, since the oldest of it was read.)
    long LossFrom(long Now) const {
        long from = hold_lo_ != kNoStamp ? std::min(hold_lo_, Now) : Now;
        if (const long piped = PipeHeldSince(); piped != kNoStamp && Minus(piped, from) < 0) from = piped;
        if (const long queued = OldestQueued(); queued != kNoStamp && Minus(queued, from) < 0) from = queued;
        return std::min(from - 150, ReadFloor(from));
    }
    // When the oldest data that waits now was read (kNoStamp: none waits).
    long OldestQueued() const {
        long oldest = kNoStamp;
        m_->RxQueue.Any([&](const terminal::TReceivedPiece& p) {
            if (p.Kind == terminal::TReceivedPiece::TKind::Data && p.Time != 0 &&
                (oldest == kNoStamp || Minus(MsOfDay(p.Time), oldest) < 0))
                oldest = MsOfDay(p.Time);
            return false;
        });
        return oldest;
    }
    // The output file that is on: its segment's place plus one (0: none).
    std::size_t OutputOn() const {
        for (std::size_t i = segments_.size(); i > 0; --i)
            if (!segments_[i - 1].list && segments_[i - 1].to == kForever) return i;
        return 0;
    }
    // Output coming on clears only the list, which holds what was read
    // since output was last switched off, wait or no wait: what was read
    // before belongs to that file, which keeps it; what a port read after,
    // however long it had waited to be read, is lost.
    long OpenedLossFrom(long Now) const {
        return last_off_ == kNoStamp ? LossFrom(Now) : std::min(last_off_ - 150, ReadFloor(last_off_));
    }
    // A time of the plug-in's clock (GetTickCount) as ms of the day.
    long PluginTime(const std::string& Ticks) const;
    std::vector<TReceiveSource> StreamsToWatch() const;
    std::size_t QueuedBytes(const TReceiveSource& S) const;
    std::string PluginVar(const std::string& Name) const { return w_->main->GetPluginVar(Name); }
    std::uint64_t SerialRead(bool Main) const {
        return (Main ? w_->main->cp1 : w_->main->cp2)->DeviceBytesRead();
    }
    long Now() const { return MsOfDay(m_->CurrentTime()); }
    // The slot (0 main, 1 Port2) and the direction mark of a stream's data;
    // the peers a name line may name for it.
    int SlotOf(int Stream) const;
    bool NameFits(const std::string& Name, int Stream) const;
    int NamedStream(const std::string& Line) const;
    Device* DeviceOf(int Stream) const;
    int GotStream() const;
    // The streams the cell's devices send.
    std::vector<int> Streams() const;
    // Whether a port of the slot read anything from From to To.
    bool SlotRead(int Slot, long From, long To) const;
    ports::TfrmForPEth* ForeignFrame() const;

    Cell c_;
    std::unique_ptr<Window> w_;
    TMain* m_ = nullptr;
    std::unique_ptr<PtyDevice> main_dev_, second_dev_;
    std::vector<std::unique_ptr<SocketDevice>> peers_;
    test_support::Fd listener_;
    std::uint16_t server_port_ = 0;
    std::string plugin_file_;
    std::vector<std::string> failures_, voids_;
    Stillness stillness_;
    std::map<int, std::vector<Read>> reads_;
    ports::TForeignPort* watched_port_ = nullptr;
    bool loaded_ = false;  // the plug-in has loaded (its ONLOAD is over)
    // The plug-in's clock and the time of day at the start, read together.
    std::uint32_t tick0_ = 0;
    long ms0_ = 0;
    // The server's client 2 has gone (its port said so), and the index the
    // newcomer got (0: none yet).
    bool client2_gone_ = false;
    int newcomer_index_ = 0;
    // The window's longest time without a turn of the test's timer: when it
    // began and ended (ms of the day).
    long max_gap_from_ = kNoStamp, max_gap_to_ = kNoStamp;
    std::vector<Segment> segments_;
    std::vector<Loss> losses_;
    bool to_file_ = false;
    int outputs_ = 0;

    // The script of the cell.
    enum class Stage { Flooding, Effect, Acting, Settle, Done } stage_ = Stage::Flooding;
    Clock::time_point start_, effect_at_, acted_at_;
    int step_ = 0;  // the user's steps taken
    Clock::time_point last_tick_;
    std::chrono::milliseconds max_gap_{0};
    std::size_t max_queued_[kStreamsMax + 1] = {};
    std::size_t bound_ = 0;
    long close_ms_ = -1;
    long close_from_ = kNoStamp;  // when the close began (ms of the day)
    bool closed_ = false;
    bool floods_stopped_ = false;
    // A failing pipe's reader: gone (left or stopped) at, and when the
    // program said the pipe failed (kNoStamp: not yet).
    bool reader_gone_ = false;
    long reader_gone_ms_ = kNoStamp, pipe_failed_ms_ = kNoStamp;
    void ReaderGoes();
    // Whether a line of the list read at Time may be what a failed file
    // switched off gave back: read before the list became the destination.
    bool GivenBack(const Segment& S, long Time) const {
        return pipe_failed_ms_ != kNoStamp && S.list && Minus(Time, S.from != kNoStamp ? S.from : pipe_failed_ms_) < 0;
    }
    void NotePipeFailure();
    void CheckPipeLetGo(bool Closed);
    int polling_at_close_ = -1;  // the window's polling delay entry when it closed
    bool output_on_at_close_ = false;
    bool unloaded_ = false;
    bool box_open_ = false;
    bool late_ = false;  // a step came after the plug-in's wait
    long lost_told_ = 0;  // datagrams the port said it lost
    // What the system dropped of the datagrams sent to the UDP port, its
    // socket's buffer full, by the port's local port (its own count).
    std::map<unsigned, long> udp_drops_;
    void SampleUdpDrops();
    // The plug-in's wait (read times, ms of the day), and the slot whose
    // receive event waited (1 main, 2 Port2; 0 none).
    long hold_lo_ = kNoStamp, hold_hi_ = kNoStamp;
    long load_lo_ = kNoStamp;  // the plug-in's load began (less 150 ms)
    long last_off_ = kNoStamp;  // when output was last switched off
    std::vector<long> cleared_;  // when the list was cleared (a Clear, output coming on)
    int held_slot_ = 0;
    long run_start_ = 0;
    std::uint64_t counted_at_effect_[2] = {0, 0}, counted_at_action_[2] = {0, 0};
    bool SlotFloods(int Slot) const;
    // Whether the main port's device bursts as its Recv in the event begins,
    // and what of the burst was not written when the wait ended.
    bool RecvBursts() const {
        return c_.view == View::Plain && c_.user == User::Nothing && Serial(c_.source) &&
               c_.plugin == Plugin::RecvInEvent && held_slot_ == 1;
    }
    std::size_t burst_left_ = 0;
    bool burst_begun_ = false;
    std::size_t taken_waiting_ = 0;
    std::size_t messages_at_start_ = 0;
    // What the receive events got, per slot, and what Recv returned.
    std::vector<std::string> rd_[2];
    std::string got_;
    bool events_collected_ = false;
    bool told_chunk_ = false;
    // When the plug-in's PurgeRx began and ended (its clock; empty: never).
    std::string purge_, purged_;
    // When the plug-in's wait (or its loop of Recv) began and ended (its
    // clock; empty: never).
    std::string recv_since_, recv_until_;
    // The server's newcomer.
    int newcomer_ = -1;
    std::uint64_t read_at_close_[2] = {0, 0};
    std::uint64_t read_at_full_ = 0, read_while_full_ = 0;
    // Whether a slot's stream (0 main, 1 Port2) waits while the plug-in's
    // event waits: its own event's slot, and any slot whose event the
    // plug-in declares (it waits for that event).
    bool HeldInWait(int Slot) const {
        return held_slot_ != 0 && (Slot == held_slot_ - 1 || Declares(c_, Slot + 1));
    }
    // The slow pipe (View::Pipe): its reader, and the spans of read times
    // (ms of the day) in which the program held back what it had read for
    // the pipe, because the pipe had not taken what it was given.
    std::string pipe_path_;
    std::unique_ptr<test_support::FifoReader> pipe_;
    std::vector<std::pair<long, long>> pipe_spans_;
    long effect_ms_ = kNoStamp, action_ms_ = kNoStamp;
    // The most that was handed on to the pipe's output (counted on its port)
    // and the pipe's reader had not got: what the output kept for the pipe
    // (until the user's first action: a Clear sets the counts to 0).
    long pipe_unread_max_ = 0;
    // Whether the output onto the pipe (on, or switched off and still
    // taking what was read for it) holds back what goes to it now.
    bool PipeHolds() const;
    // Whether the pipe held back in some moment from Lo to Hi.
    bool PipeHeldBetween(long Lo, long Hi) const;
    // The span the pipe holds in now: when it began (kNoStamp: it holds
    // nothing now).
    long PipeHeldSince() const;
};

}  // namespace receive_table::detail
