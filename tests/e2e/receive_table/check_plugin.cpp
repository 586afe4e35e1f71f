#include <algorithm>
#include <climits>

#include "e2e/receive_table/run.h"

// The oracle's checks of what the plug-in did and got: each receive event's
// chunks (every record of its port once, one peer's a chunk), what Recv
// returned, the loss a PurgeRx makes, and which ports waited while an
// event waited.
namespace receive_table::detail {

void Run::AddPurgeLoss(const std::vector<int>& Streams) {
    const std::vector<int>& streams = Streams;
    // What the plug-in's PurgeRx threw away: the bytes of the stream its
    // Recv read that waited untaken then (after the last record the Recv
    // took), and what a serial port's system held unread.
    if (c_.plugin == Plugin::RecvThenPurge && !purged_.empty()) {
        const long purge = PluginTime(purge_), purged = PluginTime(purged_);
        for (int s : streams) {
            if (GotStream() >= 0 ? s != GotStream() : SlotOf(s) != 0) continue;
            if (c_.source == Source::Port2Serial) continue;
            Decoder got(s, &DeviceOf(s)->Log());
            got.Feed(got_, kNoStamp);
            const long after = got.records.empty() ? kNoStamp : WrittenAt(&DeviceOf(s)->Log(), got.records.back().seq + 1);
            const long lo = after != kNoStamp ? after : std::min(purge - 150, ReadFloor(purge));
            losses_.push_back({lo, purged + 20, true, true, "PurgeRx", s});
        }
    }
}

std::map<int, std::set<long>> Run::RecvExempt(const std::vector<int>& Streams) const {
    const std::vector<int>& streams = Streams;
    // The records of the event's first chunk may show after the bytes a Recv
    // took meanwhile, once those reach the port's input buffer: each
    // stream's own records.
    std::map<int, std::set<long>> exempt;
    std::size_t queued_most = 0;
    for (std::size_t i = 0; i <= kStreamsMax; ++i) queued_most = std::max(queued_most, max_queued_[i]);
    // (The bytes a Recv took all waited until they reached the bound, so a
    // Recv that took as much reached it.)
    // (A Recv that takes a byte at a time reaches it within the wait; how
    // much it took first is checked below. What a Recv took before PurgeRx
    // reaches it with what the port reads on for the event's next chunk: the
    // bound counts all that its stream holds.)
    const bool bytewise = c_.plugin == Plugin::RecvBytesInEvent;
    if ((c_.plugin == Plugin::RecvInEvent || bytewise || c_.plugin == Plugin::RecvThenPurge) && held_slot_ != 0 &&
        !rd_[held_slot_ - 1].empty() &&
        (bytewise || queued_most + 1024 >= bound_ || got_.size() + 4096 >= bound_)) {
        for (int s : streams) {
            Decoder first(s);
            first.Feed(rd_[held_slot_ - 1].front(), kNoStamp);
            // With the records it cuts at its ends.
            if (first.records.empty()) continue;
            for (long q = first.records.front().seq - 1; q <= first.records.back().seq + 1; ++q) exempt[s].insert(q);
        }
    }
    return exempt;
}

long Run::VerifyEvents(int Stream, std::uint32_t Complete, long LastWritten) {
    // Every record of a port whose receive event the plug-in declares goes
    // to that event once (or to the Recv that took it), in order; one chunk
    // is one peer's (one stream's).
    const int slot = SlotOf(Stream);
    if (!Declares(c_, slot + 1)) return 0;
    const WriteLog& log = DeviceOf(Stream)->Log();
    Decoder rd(Stream, &log), got(Stream, &log);
    for (const std::string& chunk : rd_[slot]) {
        std::set<int> streams;
        for (char ch : chunk)
            if (StreamOf(ch) >= 0) streams.insert(StreamOf(ch));
        if (streams.size() > 1 && !told_chunk_) {
            told_chunk_ = true;
            Fail("one receive event's chunk holds the bytes of several streams");
        }
        rd.Feed(chunk, kNoStamp);
    }
    rd.Break();
    got.Feed(got_, kNoStamp);
    got.Break();
    Decoder both(Stream);
    both.records = rd.records;
    both.records.insert(both.records.end(), got.records.begin(), got.records.end());
    std::sort(both.records.begin(), both.records.end(),
              [](const Decoder::Rec& a, const Decoder::Rec& b) { return a.seq < b.seq; });
    // A record split between the event's chunk and the bytes its Recv took
    // (at either end of them) is whole in neither. Datagrams missing are
    // weighed against those told lost.
    const bool datagrams = c_.source == Source::Udp;
    const long split = got_.empty() ? 0 : 2;
    const std::string tag = "stream " + std::to_string(Stream) + " in the receive events: ";
    long unexplained = 0;
    CheckRecords(tag, Stream, both, &log, Complete, LastWritten, run_start_, losses_, true,
                 datagrams ? LONG_MAX : split, {}, failures_, &unexplained);
    return std::max(0L, unexplained - split);
}

long Run::VerifyRecv(const std::vector<int>& Streams) {
    const std::vector<int>& streams = Streams;
    const bool bytewise = c_.plugin == Plugin::RecvBytesInEvent;
    // What a Recv returned: the bytes its port read, in order.
    const bool recv = c_.plugin == Plugin::RecvInEvent || bytewise || c_.plugin == Plugin::RecvLoopOnLoad ||
                      c_.plugin == Plugin::RecvLoopOnSend || c_.plugin == Plugin::RecvThenPurge;
    const int got_stream = GotStream();
    const bool recv_floods = c_.source != Source::Port2Serial;
    // (A Recv the close, Unload or its port's close ends keeps nothing.)
    const bool ended = c_.user == User::Close || c_.user == User::OffThenClose || c_.user == User::Unload ||
                       c_.user == User::PortButton;
    if (recv && recv_floods && !ended && got_.empty())
        Fail("Recv returned nothing while its port flooded (the ports counted " +
             std::to_string(m_->PortSlots[0].RxCount) + " and " + std::to_string(m_->PortSlots[1].RxCount) + " B)");
    const bool datagrams = c_.source == Source::Udp;
    long missing = 0;
    for (int s : streams) {
        if (got_stream >= 0 && s != got_stream) continue;
        Decoder got(s, &DeviceOf(s)->Log());
        got.Feed(got_, kNoStamp);
        got.Break();
        if (got.records.empty()) continue;
        Decoder run(s);
        run.records = got.records;
        // Only the run it took: from its first record to its last.
        const long first = got.records.front().seq;
        for (Decoder::Rec& r : run.records) r.seq -= first;
        const auto last = static_cast<std::uint32_t>(got.records.back().seq - first + 1);
        // A server's Recv reads the current client: while the user made
        // another client current, a loop of Recv read that one.
        const bool turned = c_.source == Source::TcpServer && c_.user == User::LineSetting;
        long unexplained = 0;
        CheckRecords("stream " + std::to_string(s) + " in what Recv returned: ", s, run, nullptr, last, 0, run_start_,
                     losses_, true, turned || datagrams ? LONG_MAX : 0, {}, failures_, &unexplained);
        missing += datagrams ? unexplained : 0;
    }
    return missing;
}

void Run::VerifyRecvTook(const std::vector<int>& Streams) {
    // (Only a wait that no action of the user ends or turns to another
    // port: a Recv a byte at a time, or one that PurgeRx follows, takes
    // part of what comes.)
    const bool loop = c_.plugin == Plugin::RecvLoopOnLoad || c_.plugin == Plugin::RecvLoopOnSend;
    const bool recv = c_.plugin == Plugin::RecvInEvent || loop;
    const bool undisturbed = c_.user == User::Nothing || c_.user == User::Clear || c_.user == User::OutputOffOn ||
                             c_.user == User::OutputTwice || c_.user == User::ClearThenOff ||
                             c_.user == User::OutputResumed;
    if (!recv || !undisturbed || c_.source == Source::Port2Serial || recv_since_.empty() || recv_until_.empty())
        return;
    // (What the port read just as the wait began or ended may go either
    // way.)
    const long since = PluginTime(recv_since_) + 60, until = PluginTime(recv_until_) - 100;
    for (int s : Streams) {
        if (GotStream() >= 0 && s != GotStream()) continue;
        const WriteLog& log = DeviceOf(s)->Log();
        Decoder got(s, &log);
        got.Feed(got_, kNoStamp);
        std::set<long> took;
        for (const Decoder::Rec& r : got.records) took.insert(r.seq);
        const auto found = reads_.find(ReadKey(s));
        if (found == reads_.end()) continue;
        const std::vector<Read>& reads = found->second;
        Decoder read(s, &log);
        for (std::size_t i = 0; i < reads.size(); ++i) read.Feed(reads[i].bytes, static_cast<long>(i));
        // (The loop's plug-in computes next to nothing between its calls of
        // Recv: the port reads while one waits.)
        for (const Decoder::Rec& r : read.records) {
            // (Read whole while the Recv waited: its first byte and its last.)
            const long at = reads[static_cast<std::size_t>(r.stamp)].at;
            const long end = reads[static_cast<std::size_t>(r.ended)].at;
            if (Minus(at, since) < 0 || Minus(until, end) < 0 || took.count(r.seq)) continue;
            // (The window's thread that had no processor from the read on
            // may not have turned the Recv again.)
            FailUnlessStill("stream " + std::to_string(s) + ": record " + std::to_string(r.seq) + ", read at " +
                                std::to_string(at) + " while the Recv waited (" + std::to_string(since - 60) + " to " +
                                std::to_string(until + 100) + "), is not in what Recv returned (" +
                                std::to_string(got.records.size()) + " records)",
                            at, until + 100, 100);
            break;
        }
    }
}

void Run::VerifyHolding() {
    const bool bytewise = c_.plugin == Plugin::RecvBytesInEvent;
    // A receive event that waits holds its own port's bytes, and the other
    // port's when the plug-in declares that port's event too (they wait for
    // it); without one, the other port's go on meanwhile (counted as they
    // come). A Recv takes the bytes of its source, which may be the other
    // port's: an Ethernet server's current client.
    if (held_slot_ != 0 && Waits(c_) && !m_->PluginBusy) {
        const int held = held_slot_ == 1 ? terminal::PortSlotMain : terminal::PortSlot2;
        const int other = held == terminal::PortSlotMain ? terminal::PortSlot2 : terminal::PortSlotMain;
        const int other_slot = held_slot_ == 1 ? 2 : 1;
        const bool taken = (c_.plugin == Plugin::RecvInEvent || bytewise || c_.plugin == Plugin::RecvThenPurge) &&
                           RecvSlot(c_) == other_slot;
        const bool moved = counted_at_action_[other] != counted_at_effect_[other];
        const std::string during = std::string("while the ") + (held_slot_ == 1 ? "main port's" : "Port2's") +
                                   " event waited, the other port's bytes ";
        // (Unless they waited for a slow pipe that all received data goes
        // to: held back for it, as the waiting port's are. A port that read
        // nothing meanwhile had no turn.)
        if (SlotFloods(other) && !Declares(c_, other_slot) && !moved && !PipeHeldBetween(effect_ms_, action_ms_)) {
            if (SlotRead(other, effect_ms_, action_ms_))
                Fail(during + "waited too");
            else
                FailUnlessStill(during + "waited too: the port read nothing", effect_ms_, action_ms_,
                                Minus(action_ms_, effect_ms_) / 2, false);
        }
        if (SlotFloods(other) && Declares(c_, other_slot) && !taken && moved)
            Fail(during + "went on without their own event");
    }
}

}  // namespace receive_table::detail
