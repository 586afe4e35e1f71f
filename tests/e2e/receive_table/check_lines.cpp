#include <climits>
#include <cstdio>
#include <set>
#include <stdexcept>

#include "chart/engine/value_list.h"
#include "e2e/receive_table/run.h"
#include "graph/graph_form.h"
#include "graph/point_file.h"
#include "terminal/receive_format.h"

// The oracle's checks of the views: each list or text file's lines (one
// stream's bytes a line, under its port's mark and its peer's name, in the
// order they were read), and the graph's points.
namespace receive_table::detail {

namespace {

// A text output file's lines, taken back as the list's: each line's time,
// port mark and bytes; a peer's name line as it is. A line that is none of
// these (two lines run together, the rest of a line begun in the list) is
// told in Bad: read back from the file, it stands for no bytes at all.
std::vector<Segment::Line> TextFileLines(const std::string& Text, terminal::TDataFormat Format,
                                         std::vector<std::string>& Bad) {
    std::vector<Segment::Line> out;
    std::size_t at = 0;
    while (at < Text.size()) {
        std::size_t end = Text.find_first_of("\r\n", at);
        if (end == std::string::npos) end = Text.size();
        const std::string line = Text.substr(at, end - at);
        at = end + 1;
        if (line.empty()) continue;
        const auto bad = [&] { Bad.push_back("\"" + line.substr(0, 60) + (line.size() > 60 ? "...\"" : "\"")); };
        // "hh:mm:ss.zzz" then the mark ("<" main port, "\xAB" Port2), then data.
        int h = 0, m = 0, s = 0, ms = 0;
        if (line.size() < 13 || std::sscanf(line.c_str(), "%2d:%2d:%2d.%3d", &h, &m, &s, &ms) != 4) {
            bad();
            continue;
        }
        const long time = ((h * 60L + m) * 60 + s) * 1000 + ms;
        if (line.find("RV data from CliIdx") != std::string::npos || line.find("UDP data from") != std::string::npos) {
            out.push_back({-1, time, terminal::dfMSG, line});
            continue;
        }
        const char mark = line[12];
        std::string bytes;
        // In a word format a byte shown alone stands on a line of its byte
        // format: one token of two digits.
        const std::string data = line.substr(13);
        const std::size_t from = data.find_first_not_of(' '), to = data.find_last_not_of(' ');
        const bool lone = Format == terminal::dfHW && from != std::string::npos && to - from == 1;
        const terminal::TDataFormat format = lone ? terminal::dfHEX : Format;
        try {
            if (mark != '<' && mark != '\xAB') throw std::runtime_error("no port mark");
            bytes = terminal::DecodeLineBytes(format, data);
        } catch (const std::exception&) {
            bad();
            continue;
        }
        out.push_back({mark == '<' ? 0 : 1, time, format, bytes});
    }
    return out;
}

}  // namespace

void Run::VerifyViews() {
    const terminal::TDataFormat format = WordView(c_.view) ? terminal::dfHW : terminal::dfHEX;
    for (Segment& s : segments_) {
        if (s.text) {
            std::vector<std::string> bad;
            s.lines = TextFileLines(s.bytes, format, bad);
            if (!bad.empty() && s.first_turn < 0)
                Fail(s.file + " holds " + std::to_string(bad.size()) + " line(s) that read back as no bytes, the first " +
                     bad.front());
        }
        // (A file written in two turns is looked at once, as the first.)
        if ((s.list || s.text) && s.first_turn < 0) VerifyLines(s);
        if ((s.list || s.text) && s.first_turn < 0 && WordView(c_.view) && !Rewrites(c_.plugin))
            for (int stream : Streams()) VerifyLoneBytes(s, stream);
        if ((s.list || s.text) && s.after_clear && WordView(c_.view) && !Rewrites(c_.plugin) &&
            c_.plugin != Plugin::RecvThenPurge)
            for (int stream : Streams()) VerifyFresh(s, stream);
    }
}

void Run::VerifyFresh(const Segment& S, int Stream) {
    // The stream's first line there after the Clear: its bytes were read
    // after it. A word's low byte read before the Clear, paired with a byte
    // read after it, stands either where it was read, ahead of the bytes
    // read after it (nothing came between), or not before the byte read
    // next (what came between was cleared). Found in the stream's reads by
    // the bytes that follow it on its line.
    std::vector<std::size_t> which;
    const std::string read = StreamRead(Stream, &which);
    static const std::vector<Read> none;
    const auto found = reads_.find(ReadKey(Stream));
    const std::vector<Read>& reads = found != reads_.end() ? found->second : none;
    std::string mine;
    long time = kNoStamp;
    for (const Segment::Line& l : S.lines) {
        if (l.dir < 0 || GivenBack(S, l.time)) continue;
        for (char ch : l.bytes)
            if (StreamOf(ch) == Stream) mine.push_back(ch);
        if (!mine.empty()) {
            time = l.time;
            break;
        }
    }
    const auto unique = [&](const std::string& Context) {
        const std::size_t at = read.find(Context);
        return at != std::string::npos && read.find(Context, at + 1) == std::string::npos ? at : std::string::npos;
    };
    const std::string where = S.list ? std::string("the list") : S.file;
    const std::string tag = "stream " + std::to_string(Stream) + ": the first line of " + where + " after the Clear (at " +
                            std::to_string(S.from) + ", shown at " + std::to_string(time) + ") ";
    constexpr std::size_t kContext = kRecord;
    if (mine.size() < 8) return;
    if (const std::size_t at = unique(mine.substr(0, kContext)); at != std::string::npos) {
        const Read& r = reads[which[at]];
        if (Minus(r.after, S.from) < 0)
            Fail(tag + "begins with a byte read before it, from " + std::to_string(r.at) + " to " +
                 std::to_string(r.after));
        return;
    }
    const std::size_t next = unique(mine.substr(1, kContext));
    if (mine.size() > 8 && next != std::string::npos && next > 0 && read[next - 1] != mine[0])
        Fail(tag + "begins with a byte that is not the one its port read before the next");
}

void Run::VerifyLoneBytes(const Segment& S, int Stream) {
    // A word format shows a byte alone, on a line of its own, only when its
    // peer or its port goes (or at the close): stamped with the time it was
    // read, which the test saw. Found in the stream's reads by the bytes of
    // the stream around it.
    static const std::vector<Read> none;
    const auto found = reads_.find(ReadKey(Stream));
    const std::vector<Read>& reads = found != reads_.end() ? found->second : none;
    std::vector<std::size_t> which;  // the read of each byte
    const std::string read = StreamRead(Stream, &which);
    std::string shown;  // the stream's bytes in this view so far
    std::vector<std::pair<std::size_t, const Segment::Line*>> lone;  // where in shown, and the line
    for (const Segment::Line& l : S.lines) {
        if (l.dir < 0) continue;
        std::string mine;
        for (char ch : l.bytes)
            if (StreamOf(ch) == Stream) mine.push_back(ch);
        if (mine.empty()) continue;
        if (l.format != terminal::dfHW && mine.size() == 1) lone.emplace_back(shown.size(), &l);
        shown += mine;
    }
    // (A port closed by the user, or reception switched off, lets every
    // peer's lone byte go; the close shows them last.)
    const bool ports_go = c_.user == User::PortButton || c_.user == User::F10;
    constexpr std::size_t kContext = 16;
    for (const auto& [at, line] : lone) {
        if (at + 1 < shown.size() && !ports_go) {
            Fail("stream " + std::to_string(Stream) + "'s byte shown alone at " + std::to_string(line->time) + " in " +
                 (S.list ? std::string("the list") : S.file) + ", though its peer stayed: " +
                 std::to_string(shown.size() - at - 1) + " more of its bytes follow it there");
            return;
        }
        // The byte with those before it (or, at the start, after it).
        const std::size_t from = at >= kContext ? at - kContext : at;
        const std::string context = shown.substr(from, kContext + 1);
        const std::size_t pos = read.find(context);
        if (context.size() < 8 || pos == std::string::npos || read.find(context, pos + 1) != std::string::npos) continue;
        const Read& r = reads[which[pos + (at - from)]];
        if (Minus(line->time, r.at) < -1 || Minus(line->time, r.after) > 1) {
            Fail("stream " + std::to_string(Stream) + "'s lone byte shown at " + std::to_string(line->time) +
                 ", read from " + std::to_string(r.at) + " to " + std::to_string(r.after));
            return;
        }
    }
}

void Run::VerifyLines(const Segment& S) {
    // Each line holds one stream's bytes under its port's mark, a peer's
    // under the name line that names it (anew after a Clear), and the lines
    // stand in the order their bytes were read, but for what waited for an
    // event: a stream held by a running event, or joined to an event's chunk.
    // A text file names its peers as the list does, each destination for
    // itself.
    const bool names = (S.list || S.text) && (c_.source == Source::TcpServer || c_.source == Source::Udp);
    std::string name;
    int named_stream = -1;
    const Segment::Line* last = nullptr;
    int last_stream = -1;
    bool told_order = false, told_name = false, told_mark = false, told_event = false, told_streams = false;
    for (const Segment::Line& l : S.lines) {
        if (l.dir == -1) {
            name = l.bytes;
            named_stream = -1;
            continue;
        }
        if (l.dir == -3) continue;
        if (l.dir == -2) {
            // A plug-in's line about its event's chunk stands under the name
            // of the peer that sent it: the peer is named before its event
            // says anything, in the list, where those lines go while text
            // output is on too. (A chunk read before a Clear is named
            // nowhere: it is not shown.)
            int s = -1;
            for (char ch : l.bytes)
                if ((s = StreamOf(ch)) >= 0) break;
            if (!names || told_event || s < 0) continue;
            long cleared = kNoStamp;
            for (long at : cleared_)
                if (Minus(at, l.time) <= 0) cleared = at;
            if (cleared != kNoStamp) {
                Decoder first(s, &DeviceOf(s)->Log());
                first.Feed(l.bytes, kNoStamp);
                if (first.records.empty() || Minus(first.records.front().written, cleared) <= 5) continue;
            }
            if (name.empty() || !NameFits(name, s) || (named_stream >= 0 && named_stream != s)) {
                told_event = true;
                Fail("the plug-in's line about stream " + std::to_string(s) + "'s chunk shown under " +
                     (name.empty() ? std::string("no name line") : "\"" + name + "\"") +
                     (named_stream >= 0 ? " after stream " + std::to_string(named_stream) + "'s bytes" : ""));
            }
            continue;
        }
        std::set<int> streams;
        for (char ch : l.bytes)
            if (StreamOf(ch) >= 0) streams.insert(StreamOf(ch));
        if (streams.empty()) continue;
        if (streams.size() > 1) {
            if (!told_streams) Fail("one line holds the bytes of " + std::to_string(streams.size()) + " streams");
            told_streams = true;
            continue;
        }
        const int s = *streams.begin();
        if (l.dir != SlotOf(s) && !told_mark) {
            told_mark = true;
            Fail("stream " + std::to_string(s) + "'s bytes shown under " + (l.dir == 0 ? "the main port's" : "Port2's") +
                 " mark");
        }
        if (names && !told_name) {
            if (name.empty()) {
                told_name = true;
                Fail("stream " + std::to_string(s) + "'s bytes shown under no name line");
            } else if (!NameFits(name, s) || (named_stream >= 0 && named_stream != s)) {
                told_name = true;
                Fail("stream " + std::to_string(s) + "'s bytes shown under \"" + name + "\"");
            }
            named_stream = s;
        }
        // A peer's lone low byte, shown on a byte line of its own when the
        // peer or its port goes, carries the time it was read: it may stand
        // after what other peers sent later.
        const bool lone = WordView(c_.view) && l.format != terminal::dfHW;
        // What a failed file switched off gives back to the list comes
        // after what the list had then.
        const bool given_back = GivenBack(S, l.time);
        if (last && last_stream != s && Minus(l.time, last->time) < 0 && !told_order && !lone && !given_back) {
            const bool held = HeldInWait(SlotOf(s)) && hold_lo_ != kNoStamp &&
                              Minus(l.time, hold_lo_) >= 0 && (hold_hi_ == kNoStamp || Minus(hold_hi_, l.time) >= 0);
            const bool joined = Declares(c_, SlotOf(last_stream) + 1);
            if (!held && !joined) {
                told_order = true;
                Fail("stream " + std::to_string(s) + "'s bytes read at " + std::to_string(l.time) +
                     " shown after stream " + std::to_string(last_stream) + "'s read at " + std::to_string(last->time));
            }
        }
        last = &l;
        last_stream = s;
    }
}

void Run::VerifyGraph(const Segment& S) {
    // The graph holds a point for every value the list shows since it was
    // last cleared (a byte, or in a word format a word and a byte shown
    // alone), at the time it was read, as a point file saved from it says.
    const std::string file = w_->dir.File("points.txt");
    chart::engine::TChartValueList x, y;
    try {
        w_->graph->SavePoints(file);
        graph::ReadPointFile(file, INT_MAX, x, y);
    } catch (const std::exception& e) {
        Fail(std::string("the graph's points could not be saved and read: ") + e.what());
        return;
    }
    std::vector<std::pair<long, int>> points, shown;
    for (int i = 0; i < x.Count(); ++i)
        points.emplace_back(MsOfDay(x.Values()[static_cast<std::size_t>(i)]),
                            static_cast<int>(std::lround(y.Values()[static_cast<std::size_t>(i)])));
    // (A word format's line a point a word, its low byte first; a byte
    // shown alone a point of its own.)
    for (const Segment::Line& l : S.lines) {
        if (l.dir < 0) continue;
        if (l.format == terminal::dfHW) {
            for (std::size_t i = 0; i + 1 < l.bytes.size(); i += 2)
                shown.emplace_back(l.time, static_cast<std::uint8_t>(l.bytes[i]) |
                                               static_cast<std::uint8_t>(l.bytes[i + 1]) << 8);
        } else {
            for (char ch : l.bytes) shown.emplace_back(l.time, static_cast<std::uint8_t>(ch));
        }
    }
    std::sort(points.begin(), points.end());
    std::sort(shown.begin(), shown.end());
    if (points == shown) return;
    std::size_t i = 0;
    while (i < points.size() && i < shown.size() && points[i] == shown[i]) ++i;
    Fail("the graph holds " + std::to_string(points.size()) + " points (" + std::to_string(w_->graph->PendingCount()) +
         " queued) for " + std::to_string(shown.size()) + " bytes shown; the first that differs: " +
         (i < points.size() ? std::to_string(points[i].second) + " at " + std::to_string(points[i].first) : "none") +
         " against " + (i < shown.size() ? std::to_string(shown[i].second) + " at " + std::to_string(shown[i].first) : "none"));
}

}  // namespace receive_table::detail
