#include <algorithm>
#include <climits>

#include "e2e/receive_table/run.h"

// The oracle's checks of each stream's records: every one once and in order
// in the destinations it was read for (or lost by design around an action),
// where its read put it, stamped with the time of that read, and shown as a
// receive event left it.
namespace receive_table::detail {

namespace {

// Whether a loss window of the kind (Events: what the receive events lose;
// else what the list and the files lose) holds a record of Stream written
// at Written; where the device's log does not tell when the record was
// written, one written between the records around it (Prev and Next).
bool Explained(const std::vector<Loss>& Losses, int Stream, long Written, long Prev, long Next, bool Events) {
    const long lo = Written != kNoStamp ? Written : Prev, hi = Written != kNoStamp ? Written : Next;
    for (const Loss& l : Losses) {
        if (Events ? !l.events : !l.list) continue;
        if (l.stream >= 0 && l.stream != Stream) continue;
        if (Minus(lo, l.lo) < 0) continue;
        if (l.hi != kForever && Minus(l.hi, hi) < 0) continue;
        return true;
    }
    return false;
}

}  // namespace

// When the device wrote a record; kNoStamp: its log does not tell.
long WrittenAt(const WriteLog* Log, long Seq) {
    if (!Log || Seq < 0 || Seq >= static_cast<long>(Log->size())) return kNoStamp;
    return (*Log)[static_cast<std::size_t>(Seq)].at;
}

long CheckRecords(const std::string& Tag, int Stream, const Decoder& D, const WriteLog* Log, std::uint32_t Complete,
                  long LastWritten, long Start, const std::vector<Loss>& Losses, bool Events, long Allowance,
                  const std::set<long>& Exempt, std::vector<std::string>& Failures, long* Unexplained) {
    long missing = 0;
    std::vector<Decoder::Rec> recs;
    std::set<long> seen;
    for (const Decoder::Rec& r : D.records) {
        if (!seen.insert(r.seq).second) {
            Failures.push_back(Tag + "record " + std::to_string(r.seq) + " twice");
            return missing;
        }
        if (!Exempt.count(r.seq)) recs.push_back(r);
    }
    for (std::size_t i = 1; i < recs.size(); ++i)
        if (recs[i].seq < recs[i - 1].seq) {
            Failures.push_back(Tag + "record " + std::to_string(recs[i].seq) + " after " +
                               std::to_string(recs[i - 1].seq));
            return missing;
        }
    // The holes, with the records around them.
    long unexplained = 0;
    std::string first_hole;
    auto hole = [&](std::size_t at, long from, long to, long prev, long next) {
        // (Each line in a word format loses a byte at most, which cuts one
        // record, or joins two when it was a separator. An exempt record
        // shown elsewhere, out of order, is no hole.)
        const long lines = std::count(D.loss_points.begin(), D.loss_points.end(), at);
        long here = 0, first = -1;
        for (long q = from; q < to; ++q) {
            if (Exempt.count(q) && seen.count(q)) continue;
            ++missing;
            if (!Explained(Losses, Stream, WrittenAt(Log, q), prev, next, Events)) {
                ++here;
                if (first < 0) first = q;
            }
        }
        if (lines > 0) here = std::max(0L, here - (lines + 1));
        unexplained += here;
        if (here > 0 && first_hole.empty()) {
            const long written = WrittenAt(Log, first);
            first_hole = "records " + std::to_string(from) + " to " + std::to_string(to - 1) + " (written " +
                         std::to_string(prev) + " to " + std::to_string(next) + "; record " + std::to_string(first) +
                         (written != kNoStamp ? " written at " + std::to_string(written) : std::string()) + ")";
        }
    };
    long expected = 0, prev = Start;
    for (std::size_t i = 0; i < D.records.size(); ++i) {
        const Decoder::Rec& r = D.records[i];
        if (Exempt.count(r.seq)) continue;
        if (r.seq > expected) {
            // Exempt records fill a hole of their own.
            long from = expected;
            while (from < r.seq && Exempt.count(from)) ++from;
            if (from < r.seq) hole(i, from, r.seq, prev, r.written);
        }
        expected = std::max(expected, r.seq + 1);
        prev = r.written;
    }
    while (expected < static_cast<long>(Complete) && Exempt.count(expected)) ++expected;
    if (expected < static_cast<long>(Complete)) hole(D.records.size(), expected, Complete, prev, LastWritten);
    if (Unexplained) *Unexplained = unexplained;
    if (unexplained > Allowance)
        Failures.push_back(Tag + std::to_string(unexplained) + " records missing where nothing loses data: " +
                           first_hole);
    return missing;
}

void Run::VerifyStream(int Stream, const std::set<long>& Exempt, Figures& F) {
    const int s = Stream;
    const bool datagrams = c_.source == Source::Udp;
    Device* dev = DeviceOf(s);
    const WriteLog& log = dev->Log();
    Decoder d(s, &log);
    FeedViews(Stream, d);
    F.seen += d.bytes;
    const std::string tag = "stream " + std::to_string(s) + ": ";
    // Once each, in order, and what is missing lost by design around an
    // action (or told lost, for datagrams).
    // In a word format a stream's last byte may wait for its pair, and the
    // close shows it in the list, which it empties (a text file that is on
    // takes it).
    std::uint32_t complete = dev->Complete();
    const bool lone_unseen = !(TextView(c_.view) && output_on_at_close_);
    if (WordView(c_.view) && lone_unseen && !d.partials.empty() && d.partials.back() == d.records.size() &&
        !d.records.empty() && d.records.back().seq + 2 == complete)
        --complete;
    long unexplained = 0;
    // (What a Recv in the event took shows ahead of the event's chunk
    // once it reached the bound. The queue may have been looked at just
    // before it did, and a Recv stopped by an Unload or the close never
    // tells what it took: what shows ahead of the chunk tells, when it
    // is at least the bound.)
    std::set<long> exempt_here = Exempt;
    // What a failed file switched off gave back to the list stands after
    // what was read for the list meanwhile; the record its reader took in
    // part is whole nowhere.
    long cut = 0;
    if (pipe_failed_ms_ != kNoStamp) {
        cut = 1;
        for (const Decoder::Rec& rec : d.records)
            if (rec.stamp != kNoStamp && GivenBack(segments_[static_cast<std::size_t>(rec.segment)], rec.stamp))
                exempt_here.insert(rec.seq);
    }
    if (exempt_here.empty() && c_.plugin == Plugin::RecvInEvent && held_slot_ != 0 &&
        !rd_[held_slot_ - 1].empty()) {
        Decoder first(s);
        first.Feed(rd_[held_slot_ - 1].front(), kNoStamp);
        if (!first.records.empty()) {
            const long lo = first.records.front().seq, hi = first.records.back().seq;
            std::size_t ahead = 0;
            for (const Decoder::Rec& rec : d.records) {
                if (rec.seq >= lo && rec.seq <= hi) break;
                if (rec.seq > hi) ++ahead;
            }
            if (ahead * kRecord + 4096 >= bound_)
                for (long q = lo - 1; q <= hi + 1; ++q) exempt_here.insert(q);
        }
    }
    // (The event's first chunk shown after what a Recv took may cut the
    // record it lands in two. Datagrams missing are weighed against those
    // told lost below.)
    const long missing =
        CheckRecords(tag, s, d, &log, complete, dev->LastWritten(), run_start_, losses_, false,
                     datagrams ? LONG_MAX : (Exempt.empty() ? 0 : 1) + cut, exempt_here, failures_, &unexplained);
    F.lost_by_design += missing - unexplained;
    F.datagrams_missing += datagrams ? unexplained : 0;
    VerifyRewritten(s, d);
    VerifyPlaces(Stream, d);
    F.worst_lag = std::max(F.worst_lag, VerifyStamps(Stream, d));
    // A close loses only what the ports had not read: everything a port
    // read is in the file or the list, a word format's lone bytes too.
    // (PurgeRx throws away what was read, and the longer rewrite adds to
    // it; in a word format a line of its own may drop the byte a word had
    // begun.)
    if (c_.user == User::Close && output_on_at_close_ && !(FailingPipe(c_.view) && reader_gone_) &&
        c_.plugin != Plugin::RewriteLonger && c_.plugin != Plugin::RecvThenPurge &&
        !(WordView(c_.view) && !d.loss_points.empty())) {
        const std::size_t read = Serial(c_.source) ? read_at_close_[SlotOf(s)] : BytesRead(s);
        if (d.bytes != read)
            Fail(tag + std::to_string(read) + " bytes read when the port closed, " + std::to_string(d.bytes) +
                 " kept");
    }
    // Each byte shows once at most: one shown more often than its port read
    // it was shown twice (taken by a Recv, and left untaken too).
    if (const std::size_t read = BytesRead(s); d.bytes > read)
        Fail(tag + std::to_string(d.bytes) + " of its bytes shown, " + std::to_string(read) + " read");
    VerifyOwed(s, d);
    VerifyLastByte(s, d);
    const long events_missing = VerifyEvents(s, dev->Complete(), dev->LastWritten());
    F.datagrams_missing_in_events += datagrams ? events_missing : 0;
}

std::size_t Run::BytesRead(int Stream) const {
    std::size_t n = 0;
    if (const auto it = reads_.find(ReadKey(Stream)); it != reads_.end())
        for (const Read& r : it->second) n += std::count_if(r.bytes.begin(), r.bytes.end(), [&](char c) { return StreamOf(c) == Stream; });
    return n;
}

std::string Run::StreamRead(int Stream, std::vector<std::size_t>* Which) const {
    std::string read;
    const auto found = reads_.find(ReadKey(Stream));
    if (found == reads_.end()) return read;
    for (std::size_t i = 0; i < found->second.size(); ++i)
        for (char ch : found->second[i].bytes)
            if (StreamOf(ch) == Stream) {
                read.push_back(ch);
                if (Which) Which->push_back(i);
            }
    return read;
}

void Run::VerifyLastByte(int Stream, const Decoder& D) {
    // The close shows what a word format still pairs where it was read for:
    // with text output on, the file ends with the last bytes the port read
    // of each stream (the list, which the close empties, cannot be seen).
    // A port the user closed for good (it read nothing of the stream after
    // that) has shown them itself, in the list, before the close: its lines
    // about itself ("Close Socket") leave the words begun as they were.
    if (!WordView(c_.view) || Rewrites(c_.plugin) || c_.plugin == Plugin::RecvThenPurge) return;
    const auto found = reads_.find(ReadKey(Stream));
    if (found == reads_.end() || found->second.empty()) return;
    const Segment* file = nullptr;
    if (TextView(c_.view) && output_on_at_close_ && D.loss_points.empty()) {
        for (const Segment& s : segments_)
            if (!s.list) file = &s;
    } else if (!to_file_ && port_closed_ms_ != kNoStamp && Minus(found->second.back().at, port_closed_ms_) < 0 &&
               !segments_.empty() && segments_.back().list) {
        file = &segments_.back();
    }
    if (!file) return;
    const std::string read = StreamRead(Stream);
    std::string shown;
    for (const Segment::Line& l : file->lines)
        if (l.dir >= 0)
            for (char ch : l.bytes)
                if (StreamOf(ch) == Stream) shown.push_back(ch);
    constexpr std::size_t kTail = 8;
    const std::string read_tail = read.substr(read.size() - std::min(read.size(), kTail));
    const std::string shown_tail = shown.substr(shown.size() - std::min(shown.size(), kTail));
    if (!read_tail.empty() && shown_tail != read_tail)
        Fail("stream " + std::to_string(Stream) + ": " + (file->list ? std::string("the list") : file->file) +
             " ends in \"" + shown_tail +
             "\" where the port's last read of it ends in \"" + read_tail + "\" (" + std::to_string(read.size()) +
             " bytes read, " + std::to_string(shown.size()) + " shown there)");
}

void Run::VerifyOwed(int Stream, const Decoder& D) {
    // (A pipe whose reader went gives its rest to the list, and a
    // rewriting or purging plug-in changes what was read.)
    if (c_.user != User::OffThenClose || last_off_ == kNoStamp || FailingPipe(c_.view) || Rewrites(c_.plugin) ||
        c_.plugin == Plugin::RecvThenPurge)
        return;
    std::set<long> in_file;
    for (const Decoder::Rec& r : D.records)
        if (r.segment == 0) in_file.insert(r.seq);
    const auto found = reads_.find(ReadKey(Stream));
    if (found == reads_.end()) return;
    const std::vector<Read>& reads = found->second;
    Decoder read(Stream, &DeviceOf(Stream)->Log());
    for (std::size_t i = 0; i < reads.size(); ++i) read.Feed(reads[i].bytes, static_cast<long>(i));
    std::size_t owed = 0, missing = 0;
    long first = -1;
    for (const Decoder::Rec& r : read.records) {
        // (A record whose end was read just before the switch-off may be
        // the list's.)
        if (Minus(reads[static_cast<std::size_t>(r.ended)].after, last_off_ - 20) > 0) continue;
        ++owed;
        if (!in_file.count(r.seq)) {
            ++missing;
            if (first < 0) first = r.seq;
        }
    }
    // (In a word format the last record's end may be paired with a byte
    // read after the switch-off, and show in the list with it.)
    if (missing > (WordView(c_.view) ? 1u : 0u))
        Fail("stream " + std::to_string(Stream) + ": " + std::to_string(missing) + " of the " + std::to_string(owed) +
             " records read before output was switched off (at " + std::to_string(last_off_) + ") are not in " +
             segments_.front().file + " after the close, the first record " + std::to_string(first));
}

void Run::FeedViews(int Stream, Decoder& D) const {
    std::size_t resume = 0;  // where a binary file's second turn begins, for this stream
    for (std::size_t i = 0; i < segments_.size(); ++i) {
        const Segment& seg = segments_[i];
        if (!seg.joins) D.Break();
        D.Into(static_cast<int>(i));
        if (seg.list || seg.text) {
            // (A text file written in two turns holds both: a line is the
            // second turn's when read once output came on again.)
            const long second_from = seg.second_turn >= 0 ? segments_[seg.second_turn].from : kNoStamp;
            for (const Segment::Line& l : seg.lines) {
                // (A name line keeps the words begun; any other line
                // starts them anew.)
                if (l.dir < 0) {
                    if (l.dir < -1 && WordView(c_.view)) D.MayLose();
                    continue;
                }
                if (second_from != kNoStamp && Minus(l.time, second_from) >= 0) continue;
                if (seg.first_turn >= 0 && Minus(l.time, seg.from) < 0) continue;
                D.Feed(l.bytes, l.time);
            }
        } else if (seg.second_turn >= 0) {
            FeedTurns(Stream, i, D, resume);
        } else if (seg.first_turn >= 0) {
            D.Feed(segments_[seg.first_turn].bytes.substr(resume), kNoStamp);
        } else {
            D.Feed(seg.bytes, kNoStamp);
        }
    }
    // Output switched off hands on to the list without a loss, so a
    // record may begin in the file and end in the list.
    D.Break();
}

void Run::VerifyPlaces(int Stream, const Decoder& D) {
    const std::string tag = "stream " + std::to_string(Stream) + ": ";
    // Where each record went: the list after a Clear or output switched
    // off shows only what was read after it; a file switched off holds
    // nothing written after it. (A record begun in a text file switched
    // off carries that file's stamp: its end is what is in the list.)
    for (const Decoder::Rec& rec : D.records) {
        const Segment& seg = segments_[static_cast<std::size_t>(rec.segment)];
        const long read = rec.began == rec.segment ? rec.stamp : rec.ended;
        if (seg.list && read != kNoStamp && seg.from != kNoStamp && Minus(read, seg.from) < -1 &&
            !GivenBack(seg, read)) {
            Fail(tag + "record " + std::to_string(rec.seq) + ", read at " + std::to_string(read) +
                 ", shows in the list begun at " + std::to_string(seg.from));
            break;
        }
        if (!seg.list && seg.to != kForever && Minus(rec.written, seg.to) > 5) {
            Fail(tag + "record " + std::to_string(rec.seq) + ", written at " + std::to_string(rec.written) +
                 ", is in " + seg.file + ", switched off at " + std::to_string(seg.to));
            break;
        }
        // (A text file's first turn holds what was read before its
        // switch-off.)
        if (seg.text && seg.second_turn >= 0 && rec.stamp != kNoStamp && rec.began == rec.segment &&
            Minus(rec.stamp, seg.to) > 1) {
            Fail(tag + "record " + std::to_string(rec.seq) + ", read at " + std::to_string(rec.stamp) +
                 ", is in " + seg.file + ", switched off at " + std::to_string(seg.to) +
                 " and on again at " + std::to_string(segments_[seg.second_turn].from));
            break;
        }
    }
}

long Run::VerifyStamps(int Stream, const Decoder& D) {
    const int s = Stream;
    const std::string tag = "stream " + std::to_string(Stream) + ": ";
    const WriteLog& log = DeviceOf(s)->Log();
    long worst_lag = 0;
    // Stamped when read: each record with the time its port's read that
    // took its first byte reached the window (the test saw every read,
    // with its bytes). A record an event rewrote carries the stamp of
    // its chunk's first piece, read before it perhaps; in a word format,
    // a byte that begins a word shows with the byte that ends it, read
    // next.
    static const std::vector<Read> none;
    const auto found = reads_.find(ReadKey(s));
    const std::vector<Read>& reads = found != reads_.end() ? found->second : none;
    Decoder read(s, &log);
    for (std::size_t i = 0; i < reads.size(); ++i) read.Feed(reads[i].bytes, static_cast<long>(i));
    // The read of each record's first byte, and the stream's next read.
    std::map<long, std::pair<const Read*, const Read*>> read_by;
    for (const Decoder::Rec& rec : read.records) {
        std::size_t i = static_cast<std::size_t>(rec.stamp), next = i + 1;
        while (next < reads.size() && std::none_of(reads[next].bytes.begin(), reads[next].bytes.end(),
                                                   [&](char c) { return StreamOf(c) == s; }))
            ++next;
        read_by[rec.seq] = {&reads[i], next < reads.size() ? &reads[next] : &reads[i]};
    }
    std::size_t stamped = 0, matched = 0;
    for (const Decoder::Rec& rec : D.records) {
        if (rec.stamp == kNoStamp) continue;
        ++stamped;
        const auto it = read_by.find(rec.seq);
        if (it == read_by.end()) continue;
        ++matched;
        const Read& r = *it->second.first;
        const long until = WordView(c_.view) ? it->second.second->after : r.after;
        const long put = static_cast<std::size_t>(rec.seq) < log.size() && log[rec.seq].put != kNoStamp
                             ? log[rec.seq].put
                             : rec.written;
        worst_lag = std::max(worst_lag, Minus(rec.stamp, put));
        if (Minus(rec.stamp, until) > 1 || (Minus(rec.stamp, r.at) < -1 && rec.rewritten == 0)) {
            Fail(tag + "record " + std::to_string(rec.seq) + " stamped at " + std::to_string(rec.stamp) +
                 ", read from " + std::to_string(r.at) + " to " + std::to_string(until) + " (" +
                 std::to_string(Minus(r.at, put)) + " ms after it was written)");
            break;
        }
    }
    if (stamped > 0 && matched == 0) Fail(tag + "none of the records shown is in what the test saw its port read");
    return worst_lag;
}

void Run::VerifyRewritten(int Stream, const Decoder& D) {
    // A record its receive event got whole shows as the event left it,
    // rewritten; one no event got shows as it came.
    if (!Rewrites(c_.plugin)) return;
    // (A close stops the event it comes in, whose chunk then shows as it
    // came: the last chunk the plug-in noted.)
    const std::vector<std::string>& chunks = rd_[SlotOf(Stream)];
    const bool stopped = c_.user == User::Close || c_.user == User::OffThenClose;
    Decoder got(Stream, &DeviceOf(Stream)->Log());
    for (std::size_t i = 0; i < chunks.size(); ++i)
        if (!(stopped && i + 1 == chunks.size())) got.Feed(chunks[i], kNoStamp);
    std::set<long> rewrote;
    for (const Decoder::Rec& r : got.records) rewrote.insert(r.seq);
    std::set<long> last;
    if (stopped && !chunks.empty()) {
        Decoder stopped_chunk(Stream, &DeviceOf(Stream)->Log());
        stopped_chunk.Feed(chunks.back(), kNoStamp);
        for (const Decoder::Rec& r : stopped_chunk.records) last.insert(r.seq);
    }
    const std::string tag = "stream " + std::to_string(Stream) + ": record ";
    for (const Decoder::Rec& r : D.records) {
        if (last.count(r.seq)) continue;
        const bool by_event = rewrote.count(r.seq) > 0;
        if (by_event && r.plain > 0) {
            Fail(tag + std::to_string(r.seq) + ", which its receive event rewrote, shows " +
                 (r.rewritten > 0 ? "in part " : "") + "as it came");
            return;
        }
        if (!by_event && r.plain == 0) {
            Fail(tag + std::to_string(r.seq) + " shows rewritten, though no receive event got it");
            return;
        }
    }
}

void Run::FeedTurns(int Stream, std::size_t First, Decoder& D, std::size_t& Resume) const {
    // The stream's letters in the list between the two turns, and its first
    // separator there: what stands before it is the end of the record the
    // switch-off cut, whose start ends the first turn.
    const std::string& file = segments_[First].bytes;
    const WriteLog& log = DeviceOf(Stream)->Log();
    std::string listed;
    for (std::size_t i = First + 1; i < static_cast<std::size_t>(segments_[First].second_turn); ++i)
        for (const Segment::Line& l : segments_[i].lines)
            if (l.dir >= 0)
                for (char c : l.bytes)
                    if (StreamOf(c) == Stream) listed.push_back(c);
    Decoder between(Stream, &log);
    between.Feed(listed, kNoStamp);
    Decoder scan(Stream, &log);
    std::size_t split = 0;
    if (!between.records.empty()) {
        std::size_t cut = 0;  // letters of the cut record in the list before its separator
        while (cut < listed.size() && !Separator(listed[cut])) ++cut;
        const bool whole = cut == kDigits && (between.partials.empty() || between.partials.front() > 0);
        const std::size_t first_turn_letters = whole || cut > kDigits ? 0 : kDigits - cut;
        // Just after the last record of the first turn (all before the
        // list's first), then that many letters of the stream more.
        const long least = between.records.front().seq;
        for (std::size_t i = 0; i < file.size(); ++i) {
            const std::size_t n = scan.records.size();
            scan.Feed(file[i], kNoStamp);
            if (scan.records.size() > n) {
                if (scan.records.back().seq >= least) break;
                split = i + 1;
            }
        }
        for (std::size_t k = 0; k < first_turn_letters && split < file.size(); ++split)
            if (StreamOf(file[split]) == Stream) ++k;
    } else {
        // Nothing of the stream between the turns: the second begins where
        // the stream is first cut or skips records (what was read for the
        // list went when output came on again); where nothing went, the turns
        // cannot be told apart, and it is all the second's (whose file is not
        // switched off).
        long next = -1;
        std::size_t after = 0;
        for (std::size_t i = 0; i < file.size(); ++i) {
            const std::size_t n = scan.records.size(), cut = scan.partials.size();
            scan.Feed(file[i], kNoStamp);
            if (scan.partials.size() > cut || (scan.records.size() > n && next >= 0 && scan.records.back().seq != next)) {
                split = after;
                break;
            }
            if (scan.records.size() > n) {
                next = scan.records.back().seq + 1;
                after = i + 1;
            }
        }
    }
    D.Feed(file.substr(0, split), kNoStamp);
    Resume = split;
}

}  // namespace receive_table::detail
