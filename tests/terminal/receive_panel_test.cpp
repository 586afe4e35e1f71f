#include "terminal/receive_panel.h"
#include "terminal/visible_line.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/rtl/datetime.h"
#include "platform/rtl/exceptions.h"

namespace terminal {
namespace {

double Stamp(int y, int mo, int d, int h, int mi, int s, int ms) {
    return rtl::EncodeDate(y, mo, d) + rtl::EncodeTime(h, mi, s, ms);
}

class FakeClock : public TReceiveClock {
public:
    double Now = Stamp(2026, 12, 7, 10, 20, 30, 400);
    std::int64_t Ticks = 0;
    double LocalNow() override { return Now; }
    std::int64_t Counter() override { return Ticks; }
    std::int64_t CounterFrequency() override { return 1000; }
};

// A panel with one character per pixel, so the panel width sets CharsPerLine,
// no time and no direction mark unless a test asks for them, and hooks that
// record what the list and the graph window are told.
struct PanelFixture {
    FakeClock Clock;
    TReceivePanel Panel{Clock};
    std::vector<std::pair<double, double>> Points;
    int GraphLocks = 0, GraphLockCalls = 0, SyncCalls = 0, AntiHangCalls = 0;
    bool GraphOn = false, GraphSigned = false;
    std::string File;

    explicit PanelFixture(int CharsPerLine = 20, int Lines = 100) {
        Panel.RVPnlTime = tpNone;
        auto& h = Panel.Hooks();
        h.CheckAntiHang = [this] { ++AntiHangCalls; };
        h.GraphFeedEnabled = [this] { return GraphOn; };
        h.GraphSigned = [this] { return GraphSigned; };
        h.GraphSetUpdateLock = [this](bool lock) {
            ++GraphLockCalls;
            GraphLocks += lock ? 1 : -1;
        };
        h.GraphAddPoint = [this](double t, double v) { Points.emplace_back(t, v); };
        h.ListSyncCount = [this](int) { ++SyncCalls; };
        Panel.SetListMetrics({1, 10, CharsPerLine + 4, Lines * 10 + 5, 0});
        Panel.StartNewLine(true);
    }

    void Show(const std::string& bytes, std::uint8_t dir = 0) { Panel.ShowData(bytes, dir); }
    std::vector<std::string> Texts() const {
        std::vector<std::string> out;
        for (int i = 0; i < Panel.Lines().LineCount(); ++i) out.push_back(Panel.Lines().GetLine(i));
        return out;
    }
    std::string Bytes(int n, int first = 0) {
        std::string s;
        for (int i = 0; i < n; ++i) s.push_back(static_cast<char>(first + i));
        return s;
    }
};

using Lines = std::vector<std::string>;

// A text file as the panel sees it: what was put, and whether its last line
// is still open.
struct StringSink : TLineSink {
    std::string Text;
    std::function<void(std::string_view)> OnPut;
    void Put(std::string_view T, std::size_t, std::size_t) override {
        if (OnPut) OnPut(T);
        Text += T;
    }
    bool LineOpen() const override { return !Text.empty() && Text.back() != '\r'; }
};

TEST(receive_panel, hex_lines_wrap_at_chars_per_line) {
    PanelFixture f(20);
    f.Show(f.Bytes(40));
    const Lines texts = f.Texts();
    ASSERT_EQ(texts.size(), 6u);
    EXPECT_EQ(texts[0], "00 01 02 03 04 05 06");  // 7 tokens: 20 characters
    EXPECT_EQ(texts[4], "1C 1D 1E 1F 20 21 22");
    EXPECT_EQ(texts[5], "23 24 25 26 27");  // the current line holds 5
    EXPECT_EQ(f.Panel.CurLine(), texts[5]);
    EXPECT_EQ(f.Panel.CurLineWidth(), 14);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(f.Panel.Lines().LineRecord(i).Format, dfHEX);
        EXPECT_EQ(f.Panel.Lines().LineRecord(i).PrefixLen, 0);
    }
    // The next chunk goes on filling the current line.
    f.Show("\xAA");
    EXPECT_EQ(f.Texts().back(), "23 24 25 26 27 AA");

    // Other formats wrap by their own widths; ASC has no separator.
    PanelFixture g(10);
    g.Panel.DataFormat = dfDEC;
    g.Show(f.Bytes(4));
    EXPECT_EQ(g.Texts(), (Lines{"000 001", "002 003"}));
    PanelFixture a(4);
    a.Panel.DataFormat = dfASC;
    a.Show("abcdefghij");
    EXPECT_EQ(a.Texts(), (Lines{"abcd", "efgh", "ij"}));
    PanelFixture b(17);
    b.Panel.DataFormat = dfBIN;
    b.Show("\x01\x02\x03");
    EXPECT_EQ(b.Texts(), (Lines{"00000001 00000010", "00000011"}));
}

// Received bytes come in chunks of whatever size the polling finds: the
// lines they make must not depend on where the chunks end.
TEST(receive_panel, lines_are_the_same_however_the_bytes_are_split_into_chunks) {
    std::string data;
    for (int i = 0; i < 700; ++i) data.push_back(static_cast<char>((i * 37 + i / 7) & 0xFF));
    data[100] = '\n';
    data[333] = '\n';
    const std::vector<std::size_t> pieces = {1, 2, 3, 7, 16, 64, 250};
    for (const TDataFormat format : {dfHEX, dfDEC, dfBIN, dfASC, dfDW}) {
        auto render = [&](auto&& next_size, bool graph = false) {
            PanelFixture f(37);
            f.GraphOn = graph;  // the graph takes every byte: one at a time
            f.Panel.DataFormat = format;
            f.Panel.RVPnlTime = tpMilliseconds;
            f.Panel.ShowWrites = true;  // the direction mark as well
            // Twenty bytes of the second port in the middle change direction.
            const std::size_t ends[] = {400, 420, data.size()};
            std::size_t at = 0, k = 0;
            for (int part = 0; part < 3; ++part) {
                while (at < ends[part]) {
                    const std::size_t n = std::min(next_size(k++), ends[part] - at);
                    f.Show(data.substr(at, n), part == 1 ? 1 : 0);
                    at += n;
                }
            }
            return f.Texts();
        };
        const Lines whole = render([](std::size_t) { return std::size_t{20000}; });
        ASSERT_GT(whole.size(), 10u) << int(format);
        EXPECT_EQ(render([](std::size_t) { return std::size_t{20000}; }, true), whole) << int(format);
        for (const std::size_t piece : pieces)
            EXPECT_EQ(render([&](std::size_t) { return piece; }), whole) << int(format) << " in " << piece;
        EXPECT_EQ(render([&](std::size_t k) { return pieces[k % pieces.size()]; }), whole) << int(format);
    }
}

TEST(receive_panel, word_formats_pair_bytes_across_chunks_until_a_new_line) {
    PanelFixture f(40);
    f.Panel.DataFormat = dfDW;
    f.Show("\x01\x02\x03");  // 0x0201, then 0x03 waits for its high byte
    EXPECT_EQ(f.Panel.CurLine(), "00513");
    f.Show(std::string("\x00", 1));  // pairs with the pending 0x03
    EXPECT_EQ(f.Panel.CurLine(), "00513 00003");

    f.Show("\x05");                  // pending low byte...
    f.Panel.StartNewLine(true);      // ...forgotten by a new line
    f.Show("\x01\x02");
    EXPECT_EQ(f.Panel.CurLine(), "00513");

    PanelFixture h(40);
    h.Panel.DataFormat = dfHW;
    h.Show("\xEF\xBE\x34\x12");
    EXPECT_EQ(h.Panel.CurLine(), "BEEF 1234");
    // A line is cut at the width of whole words.
    PanelFixture n(9);
    n.Panel.DataFormat = dfHW;
    n.Show(n.Bytes(6, 1));
    EXPECT_EQ(n.Texts(), (Lines{"0201 0403", "0605"}));

    // Each stream pairs its own bytes, through the other's lines (wrapped
    // ones too). A byte shown on its own (HEX) drops its stream's waiting
    // low byte, which read back later would come after it; a message line
    // starts every stream afresh.
    PanelFixture s(9);
    s.Panel.DataFormat = dfHW;
    s.Show("\x01", 0);
    s.Show("\x11\x22\x33\x44\x55\x66\x77", 1);  // two lines; 0x77 waits
    s.Show("\x02", 0);
    s.Panel.DataFormat = dfHEX;
    s.Show("\x0A", 0);
    s.Panel.DataFormat = dfHW;
    s.Show("\x03", 0);  // waits...
    s.Panel.DataFormat = dfHEX;
    s.Show("\x0B", 0);  // ...and is dropped
    s.Panel.DataFormat = dfHW;
    s.Show("\x88", 1);
    s.Show("\x0C\x0D", 0);
    s.Show("\x10", 0);
    s.Show("\x99", 1);
    // A message line between leaves every begun word waiting: its low
    // byte pairs with its stream's next.
    s.Panel.AddTextLine("m", 0, 0, dfMSG);
    s.Show("\x0E\x0F", 0);
    s.Show("\xAA\xBB", 1);
    EXPECT_EQ(s.Texts(), (Lines{"2211 4433", "6655", "0201", "0A 0B", "8877", "0D0C", "m", "0E10", "AA99"}));
    // The stream's last byte alone, once its port has gone: on a line of
    // the byte format, which reads back as that one byte.
    s.Panel.ShowLoneBytes(0, 0, true);
    s.Panel.ShowLoneBytes(1, 0, true);
    EXPECT_EQ(s.Texts(), (Lines{"2211 4433", "6655", "0201", "0A 0B", "8877", "0D0C", "m", "0E10", "AA99", "0F", "BB", ""}));
    std::string main_bytes, port2_bytes;
    for (int i = 0; i < s.Panel.Lines().LineCount(); ++i)
        (s.Panel.Lines().LineRecord(i).Dir == 0 ? main_bytes : port2_bytes) += s.Panel.Lines().LineBytes(i);
    EXPECT_EQ(main_bytes, "\x01\x02\x0A\x0B\x0C\x0D\x10\x0E\x0F");
    EXPECT_EQ(port2_bytes, std::string("\x11\x22\x33\x44\x55\x66\x77\x88\x99\xAA\xBB"));

    // The peers of one port (a server's clients) pair their own bytes: a
    // line naming the next peer leaves every begun word waiting, a line
    // holds one peer's words, and no peer completes another's low byte.
    PanelFixture q(40);
    q.Panel.DataFormat = dfHW;
    q.Panel.ShowData("\x01\x02\x03", 1, 0, 7);  // 03 waits for peer 7
    q.Panel.AddTextLine("named", 0, 0, dfMSG);
    q.Panel.ShowData("\x11", 1, 0, 8);       // waits for peer 8
    q.Panel.ShowData("\x22\x33", 1, 0, 9);
    q.Panel.ShowData("\x04", 1, 0, 7);
    q.Panel.ShowData("\x12", 1, 0, 8);
    EXPECT_EQ(q.Texts(), (Lines{"0201", "named", "3322", "0403", "1211"}));
    EXPECT_EQ(q.Panel.WaitingPeers(), 0u);

    // Peers without end (datagrams from ever new ports) leave no more low
    // bytes waiting than the bound: the one heard from longest ago loses
    // its byte, the latest still complete their words.
    PanelFixture many(40);
    many.Panel.DataFormat = dfHW;
    const std::uint64_t peers = TReceivePanel::MaxWaitingPeers + 100;
    for (std::uint64_t k = 1; k <= peers; ++k) many.Panel.ShowData("\x01", 0, 0, k);
    EXPECT_EQ(many.Panel.WaitingPeers(), TReceivePanel::MaxWaitingPeers);
    many.Panel.ShowData("\x02", 0, 0, peers);
    EXPECT_EQ(many.Panel.CurLine(), "0201");
    many.Panel.ShowData("\x03", 0, 0, 1);  // its 01 was dropped: 03 waits
    EXPECT_EQ(many.Panel.CurLine(), "0201");
}

TEST(receive_panel, asc_line_break_character_ends_the_line_after_itself) {
    PanelFixture f(80);
    f.Panel.DataFormat = dfASC;
    f.Panel.RVLineBreak = '\n';
    f.Show("ab\ncd");
    Lines texts = f.Texts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], "ab\x95" "0A");
    EXPECT_EQ(HideNonVisibleCodes(texts[0]), "ab\x95");  // drawn as the mark alone
    EXPECT_EQ(texts[1], "cd");
    EXPECT_EQ(f.Panel.Lines().LineBytes(0), "ab\n");

    // Hidden codes count 1 for wrapping, shown ones 3.
    PanelFixture hidden(3);
    hidden.Panel.DataFormat = dfASC;
    hidden.Show("a\x01" "bc");
    EXPECT_EQ(hidden.Texts(), (Lines{"a\x95" "01b", "c"}));
    PanelFixture shown(3);
    shown.Panel.DataFormat = dfASC;
    shown.Panel.ShowASCIInonvisiblecodes = true;
    shown.Show("a\x01" "bc");
    EXPECT_EQ(shown.Texts(), (Lines{"a", "\x95" "01", "bc"}));

    // A CR line break: the LF is an ordinary non-visible code then.
    PanelFixture cr(80);
    cr.Panel.DataFormat = dfASC;
    cr.Panel.RVLineBreak = '\r';
    cr.Show("x\ny\rz");
    EXPECT_EQ(cr.Texts(), (Lines{"x\x95" "0Ay\x95" "0D", "z"}));
}

TEST(receive_panel, prefix_shows_time_at_each_resolution_and_direction_mark) {
    PanelFixture f(200);
    f.Clock.Now = Stamp(2026, 12, 7, 9, 5, 7, 89);
    const double t = f.Clock.Now;
    // Each resolution with its mark; without a time the mark shows only while
    // writes are logged or a second port is chosen.
    struct Case {
        int Time;
        const char* Format;
        bool Writes, Second;
        std::uint8_t Dir;
        const char* Prefix;
    };
    const Case cases[] = {
        {tpMinutes, "", false, false, 0, "09:05<"},
        {tpSeconds, "", false, false, 1, "09:05:07\xAB"},
        {tpMilliseconds, "", false, false, 2, "09:05:07.089>"},
        {tpFreeFormat, "yyyy-mm-dd hh:nn:ss.zzz", false, false, 0, "2026-12-07 09:05:07.089<"},
        {tpFreeFormat, "nn", false, false, 0, "05<"},
        {tpNone, "", false, false, 0, ""},
        {tpNone, "", true, false, 2, ">"},
        {tpNone, "", false, true, 1, "\xAB"},
    };
    for (const Case& c : cases) {
        f.Panel.RVPnlTime = c.Time;
        f.Panel.RVPnlTimeFormat = c.Format;
        f.Panel.ShowWrites = c.Writes;
        f.Panel.SecondPortSelected = c.Second;
        EXPECT_EQ(f.Panel.LinePrefix(c.Dir, t), c.Prefix) << c.Time << " " << c.Format;
    }

    // A rendered line carries its prefix, its length and the chunk's time.
    f.Panel.SecondPortSelected = false;
    f.Panel.RVPnlTime = tpMilliseconds;
    f.Show("\x0A\x0B", 1);
    EXPECT_EQ(f.Panel.CurLine(), "09:05:07.089\xAB" "0A 0B");
    const TLineRecord r = f.Panel.Lines().LineRecord(0);
    EXPECT_EQ(r.Dir, 1);
    EXPECT_EQ(r.PrefixLen, 13);
    EXPECT_EQ(r.Time, t);
    EXPECT_EQ(f.Panel.Lines().LineData(0), "0A 0B");
    EXPECT_EQ(f.Panel.CurLineWidth(), 13 + 5);

    // A free format too long for the 8-bit prefix length is cut to fit.
    f.Panel.RVPnlTime = tpFreeFormat;
    f.Panel.RVPnlTimeFormat = std::string(300, 'x');
    const std::string longPrefix = f.Panel.LinePrefix(0, t);
    EXPECT_EQ(longPrefix.size(), 255u);
    EXPECT_EQ(longPrefix.back(), '<');
}

TEST(receive_panel, lines_keep_their_own_prefix_when_the_time_display_changes) {
    PanelFixture f(80);
    f.Panel.SecondPortSelected = true;
    const std::vector<std::pair<int, std::string>> settings = {
        {tpNone, ""}, {tpMinutes, ""}, {tpSeconds, ""}, {tpMilliseconds, ""},
        {tpFreeFormat, "yy"}, {tpFreeFormat, "hh'h'"}, {tpMinutes, ""}};
    Lines expected;
    for (const auto& [resolution, format] : settings) {
        f.Panel.RVPnlTime = resolution;
        f.Panel.RVPnlTimeFormat = format;
        f.Show("\x0A", 1);
        expected.push_back(f.Panel.CurLine());
        f.Panel.StartNewLine(true);
        f.Clock.Now += 1.0 / 86400;
    }
    expected.push_back("");
    EXPECT_EQ(f.Texts(), expected);
    EXPECT_EQ(expected[1], "10:20\xAB" "0A");
    EXPECT_EQ(expected[5], "10h\xAB" "0A");
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(f.Panel.Lines().LineData(i), "0A");
        EXPECT_EQ(f.Panel.Lines().LineLength(i), expected[static_cast<size_t>(i)].size());
    }
    // Changing a line's record does not change its text.
    TLineRecord r = f.Panel.Lines().LineRecord(3);
    r.Time += 0.5;
    r.Dir = 0;
    f.Panel.Lines().SetLineRecord(3, r);
    EXPECT_EQ(f.Panel.Lines().GetLine(3), expected[3]);
    EXPECT_EQ(f.Panel.Lines().LineRecord(3).Time, r.Time);
    EXPECT_EQ(f.Panel.Lines().AllText().substr(0, expected[0].size() + 2), expected[0] + "\r\n");
}

TEST(receive_panel, time_change_starts_a_new_line_only_with_the_option) {
    PanelFixture f(200);
    f.Panel.RVPnlTime = tpMinutes;
    f.Clock.Now = Stamp(2026, 12, 7, 10, 20, 0, 0);
    f.Show("\x01");
    f.Clock.Now = Stamp(2026, 12, 7, 10, 21, 0, 0);
    f.Show("\x02");
    EXPECT_EQ(f.Texts(), (Lines{"10:20<01 02"}));  // option off: the row goes on

    f.Panel.Timecaninterruptdatarow = true;
    f.Show("\x03");  // the line's time is 10:20, now it is 10:21
    f.Clock.Now = Stamp(2026, 12, 7, 10, 21, 59, 999);
    f.Show("\x04");  // same minute: stays
    EXPECT_EQ(f.Texts(), (Lines{"10:20<01 02", "10:21<03 04"}));

    // Exactly 60 minutes later shows the same minute, but it is another
    // time: a new line with the new stamp, not a continuation of the old one.
    f.Clock.Now = Stamp(2026, 12, 7, 11, 21, 30, 0);
    f.Show("\x05");
    EXPECT_EQ(f.Texts(), (Lines{"10:20<01 02", "10:21<03 04", "11:21<05"}));
    EXPECT_EQ(f.Panel.Lines().LineRecord(2).Time, f.Clock.Now);
}

TEST(receive_panel, direction_or_format_change_starts_a_new_line_even_when_it_fits) {
    PanelFixture f(80);
    f.Panel.SecondPortSelected = true;
    f.Show("\x01");
    f.Show("\x02", 1);
    f.Show("\x03", 1);
    f.Show("\x04", 0);
    EXPECT_EQ(f.Texts(), (Lines{"<01", "\xAB" "02 03", "<04"}));
    EXPECT_EQ(f.Panel.Lines().LineRecord(1).Dir, 1);

    // A line holds one format only, so that its bytes can be read back.
    PanelFixture g(80);
    g.Show("\x0A\x0B");
    g.Panel.DataFormat = dfDEC;
    g.Show("\x0C");
    EXPECT_EQ(g.Texts(), (Lines{"0A 0B", "012"}));
    EXPECT_EQ(g.Panel.Lines().LineRecord(1).Format, dfDEC);
    EXPECT_EQ(g.Panel.Lines().LineBytes(0), "\x0A\x0B");
    EXPECT_EQ(g.Panel.Lines().LineBytes(1), "\x0C");
}

TEST(receive_panel, add_text_line_keeps_a_partial_data_line_unchanged) {
    PanelFixture f(80);
    f.Panel.RVPnlTime = tpSeconds;
    f.Show("\x0A\x0B");
    const double msgTime = Stamp(2026, 12, 7, 23, 0, 1, 0);
    f.Panel.AddTextLine("= OverRun Err =", 0, msgTime, dfERR);
    f.Show("\x0C");
    EXPECT_EQ(f.Texts(), (Lines{"10:20:30<0A 0B", "23:00:01<= OverRun Err =", "10:20:30<0C"}));
    const TLineRecord err = f.Panel.Lines().LineRecord(1);
    EXPECT_EQ(err.Format, dfERR);
    EXPECT_EQ(err.Time, msgTime);
    EXPECT_EQ(err.PrefixLen, 9);
    EXPECT_EQ(f.Panel.Lines().LineData(1), "= OverRun Err =");

    // Time 0 stamps the line with the current local time; an empty current
    // line is taken over instead of leaving an empty line behind.
    PanelFixture g(80);
    g.Panel.AddTextLine("hello", 2, 0, dfMSG);
    EXPECT_EQ(g.Texts(), (Lines{"hello", ""}));
    EXPECT_EQ(g.Panel.Lines().LineRecord(0).Time, g.Clock.Now);
    EXPECT_EQ(g.Panel.Lines().LineRecord(0).Dir, 2);
    EXPECT_EQ(g.Panel.Lines().LineRecord(1).Format, dfHEX);  // the new current line
}

TEST(receive_panel, bounded_list_never_grows_beyond_the_visible_lines) {
    PanelFixture f(2, 10);  // one HEX token per line, 10 visible lines
    f.Panel.SetInfiniteList(false);
    EXPECT_EQ(f.Panel.VisibleLines(), 10);
    f.Show(f.Bytes(10));
    ASSERT_EQ(f.Panel.Lines().LineCount(), 10);
    EXPECT_EQ(f.Panel.Lines().GetLine(0), "00");
    f.Show("\x0A");  // the eleventh line drops the first
    EXPECT_EQ(f.Panel.Lines().LineCount(), 10);
    EXPECT_EQ(f.Panel.Lines().GetLine(0), "01");
    for (int round = 0; round < 50; ++round) {
        f.Show(f.Bytes(37));
        f.Panel.AddTextLine("msg", 0, 0, dfMSG);
        ASSERT_LE(f.Panel.Lines().LineCount(), 10);
    }
    EXPECT_EQ(f.Texts()[8], "msg");

    // Turning the bound on trims at once; with it off no line is ever dropped.
    PanelFixture g(2, 10);
    g.Show(g.Bytes(25));
    EXPECT_EQ(g.Panel.Lines().LineCount(), 25);
    EXPECT_EQ(g.Panel.Lines().GetLine(0), "00");
    g.Panel.SetInfiniteList(false);
    EXPECT_EQ(g.Panel.Lines().LineCount(), 10);
    EXPECT_EQ(g.Panel.Lines().GetLine(9), "18");

    // Lines put straight into the store (a loaded file) are dropped too once
    // the next line starts.
    for (int i = 0; i < 25; ++i) g.Panel.Lines().AddLine("loaded", TLineRecord{});
    g.Panel.StartNewLine(true);
    EXPECT_EQ(g.Panel.Lines().LineCount(), 10);
    EXPECT_EQ(g.Panel.Lines().GetLine(9), "");

    // The memory held stays flat however much passes through.
    PanelFixture m(80, 10);
    m.Panel.SetInfiniteList(false);
    const std::string chunk = m.Bytes(200);
    for (int i = 0; i < 2000; ++i) m.Show(chunk);
    for (int i = 0; i < 20000; ++i) {
        m.Show(chunk);
        ASSERT_LE(m.Panel.MemoryUsage(),
                  3 * TLineStore::PageSize + TLineStore::EntryBlockSize + 4096)
            << i;
    }
}

TEST(receive_panel, metrics_follow_font_and_panel_size) {
    PanelFixture f(20);
    f.Panel.SetListMetrics({9, 17, 724, 400, 17});
    EXPECT_EQ(f.Panel.CharWidth(), 9);
    EXPECT_EQ(f.Panel.LineHeight(), 17);
    EXPECT_EQ(f.Panel.VisibleLines(), (400 - 5) / 17);
    EXPECT_EQ(f.Panel.CharsPerLine(), (724 - 4 - 17) / 9);  // scroll bar counted
    f.Panel.SetInfiniteList(false);
    EXPECT_EQ(f.Panel.CharsPerLine(), (724 - 4) / 9);

    // A tiny or unmeasured panel still shows one line and divides by nothing.
    f.Panel.SetListMetrics({0, 0, 2, 3, 0});
    EXPECT_EQ(f.Panel.VisibleLines(), 1);
    f.Show("\x01\x02");
    EXPECT_EQ(f.Panel.Lines().LineCount(), 1);

    // With the unbounded list the metrics are read again when it starts to
    // scroll: the panel narrows as its scroll bar appears.
    PanelFixture g(20, 3);
    g.Panel.Hooks().QueryMetrics = [] { return TPanelMetrics{1, 10, 34, 35, 5}; };
    g.Show(g.Bytes(20));  // three lines of 7, 7 and 6 tokens: not scrolling yet
    EXPECT_EQ(g.Panel.CharsPerLine(), 20);
    g.Show(g.Bytes(3));  // the fourth line: the list scrolls from here on
    EXPECT_EQ(g.Panel.CharsPerLine(), 34 - 4 - 5);
}

TEST(receive_panel, graph_feed_gives_one_value_per_byte_or_word) {
    PanelFixture f(80);
    f.GraphOn = true;
    f.Show("\x01\xFF");
    ASSERT_EQ(f.Points.size(), 2u);
    EXPECT_EQ(f.Points[0].second, 1);
    EXPECT_EQ(f.Points[1].second, 255);
    EXPECT_EQ(f.Points[0].first, f.Clock.Now);
    f.GraphSigned = true;
    f.Show("\xFF\x80");
    EXPECT_EQ(f.Points[2].second, -1);
    EXPECT_EQ(f.Points[3].second, -128);

    f.Points.clear();
    f.Panel.DataFormat = dfDW;
    f.Show(std::string("\x01\x00\xFF\xFF", 4), 0);
    ASSERT_EQ(f.Points.size(), 2u);
    EXPECT_EQ(f.Points[0].second, 1);
    EXPECT_EQ(f.Points[1].second, -1);
    f.GraphSigned = false;
    f.Panel.DataFormat = dfHW;
    f.Show("\xFF");
    f.Show("\xFF");  // the pair spans two chunks
    ASSERT_EQ(f.Points.size(), 3u);
    EXPECT_EQ(f.Points[2].second, 65535);

    // Each chunk is bracketed by the graph window's update lock.
    EXPECT_EQ(f.GraphLocks, 0);
    EXPECT_EQ(f.GraphLockCalls, 2 * 5);

    // Transmitted bytes and a hidden graph feed nothing.
    f.Points.clear();
    f.Show("\x01\x02", 2);
    f.GraphOn = false;
    f.Show("\x01\x02", 0);
    EXPECT_TRUE(f.Points.empty());
    EXPECT_EQ(f.GraphLockCalls, 10);
    EXPECT_EQ(f.AntiHangCalls, 7);  // the anti-hang check runs once per chunk

    double v = 0;
    f.Panel.DataFormat = dfBIN;
    EXPECT_TRUE(f.Panel.GraphValue(0x80, 0, true, v));
    EXPECT_EQ(v, -128);
}

TEST(receive_panel, failing_chunk_releases_list_update_and_graph_lock) {
    // An output-file write error thrown by the writer in mid-chunk.
    PanelFixture f(80);
    f.GraphOn = true;
    int writes = 0;
    StringSink sink;
    sink.OnPut = [&](std::string_view) {
        if (++writes == 3) throw rtl::EWriteError("Stream write error");
    };
    f.Panel.WriteTo(&sink);
    EXPECT_THROW(f.Show("\x01\x02\x03\x04"), rtl::EWriteError);
    EXPECT_EQ(f.GraphLocks, 0);
    EXPECT_EQ(f.Panel.UpdateCount(), 0);

    // The graph window failing on a point costs the list nothing: the whole
    // chunk is listed, the graph gets no more of it, and the failure is
    // passed on once, after the chunk.
    PanelFixture g(80);
    g.GraphOn = true;
    bool locked = false;
    int offered = 0;
    g.Panel.Hooks().ListRepaintLock = [&](bool on) { locked = on; };
    g.Panel.Hooks().GraphAddPoint = [&](double, double) {
        if (++offered == 2) throw std::runtime_error("graph");
    };
    EXPECT_THROW(g.Show("\x01\x02\x03\x04"), std::runtime_error);
    EXPECT_EQ(g.Panel.CurLine(), "01 02 03 04");
    EXPECT_EQ(offered, 2);
    EXPECT_EQ(g.Panel.UpdateCount(), 0);
    EXPECT_FALSE(locked);
    EXPECT_EQ(g.GraphLocks, 0);
    // The panel keeps working afterwards, and the graph is fed again.
    g.Show("\x05");
    EXPECT_EQ(g.Panel.CurLine(), "01 02 03 04 05");
    EXPECT_EQ(offered, 3);

    // A repaint hook failing while the lock is released still frees the graph lock.
    PanelFixture h(80);
    h.GraphOn = true;
    h.Panel.Hooks().ListRepaintLock = [](bool on) {
        if (!on) throw std::runtime_error("paint");
    };
    EXPECT_THROW(h.Show("\x01"), std::runtime_error);
    EXPECT_EQ(h.GraphLocks, 0);
    EXPECT_EQ(h.Panel.UpdateCount(), 0);
}

TEST(receive_panel, text_output_file_receives_rendered_text_and_the_list_keeps_its_own_lines) {
    PanelFixture f(9);
    f.Panel.RVPnlTime = tpMinutes;
    f.Show("\x01");
    StringSink file;
    f.Panel.WriteTo(&file);
    f.Panel.StartNewLine(true);
    const Lines before = f.Texts();
    f.Show("\x0A\x0B\x0C");
    // Message lines go to the list, each on a line of its own, and leave
    // the file's line open.
    f.Panel.AddTextLine("x", 0, 0, dfMSG);
    f.Panel.AddTextLine("y", 0, 0, dfMSG);
    EXPECT_EQ(file.Text, "\r10:20<0A\r10:20<0B\r10:20<0C");
    EXPECT_EQ(f.Texts().size(), before.size() + 2);
    EXPECT_EQ(f.Panel.UpdateCount(), 0);

    // Lines go to the list again. The line that was going to the file ends
    // there (its bytes are in the file already): what comes next starts a
    // line of its own, after the message lines written to the list
    // meanwhile.
    f.Panel.RVPnlTime = tpSeconds;
    f.Show("\x0D");
    f.Panel.WriteTo(nullptr);
    f.Panel.SetListMetrics({1, 10, 104, 1005, 0});
    f.Panel.RVPnlTime = tpMilliseconds;
    f.Show("\x0E");
    Lines after = f.Texts();
    ASSERT_GE(after.size(), 3u);
    EXPECT_EQ(after.back(), "10:20:30.400<0E");
    EXPECT_EQ(after[after.size() - 2], "10:20<y");
    EXPECT_EQ(after[after.size() - 3], "10:20<x");
    EXPECT_EQ(file.Text, "\r10:20<0A\r10:20<0B\r10:20<0C\r10:20:30<0D");

    // Back in the file, left in mid-line: that line ends first. A peer's
    // data comes under its name line in the file, once. A half word waits
    // in the place it was read for: a byte read for the list never
    // completes a word begun in the file.
    f.Panel.WriteTo(&file);
    f.Panel.DataFormat = dfHW;
    f.Panel.ShowData("\x01\x02\x03", 0, 0, 5, "RV data from CliIdx=5");
    f.Panel.ShowData("\x04", 0, 0, 5, "RV data from CliIdx=5");
    f.Panel.ShowData("\x07", 0, 0, 6, "RV data from CliIdx=6");  // waits: no name yet
    const std::string inFile = "\r10:20<0A\r10:20<0B\r10:20<0C\r10:20:30<0D\r10:20:30.400<RV data from CliIdx=5\r"
                               "10:20:30.400<0201 0403";
    EXPECT_EQ(file.Text, inFile);
    f.Panel.WriteTo(nullptr);
    f.Panel.ShowData("\x08", 0, 0, 6, "RV data from CliIdx=6");
    f.Panel.ShowData("\x09", 0, 0, 6, "RV data from CliIdx=6");
    after = f.Texts();
    ASSERT_GE(after.size(), 3u);
    EXPECT_EQ(after[after.size() - 2], "10:20:30.400<RV data from CliIdx=6");
    EXPECT_EQ(after.back(), "10:20:30.400<0908");
    // The file's low byte shows there alone once its words end, under its
    // peer's name; the list's pairs have nothing of it.
    EXPECT_TRUE(f.Panel.WordsOf(nullptr).TakeLone(0, 6, false).empty());
    f.Panel.WriteTo(&file);
    for (const terminal::TLoneByte& lone : file.Words.TakeLone(0, 6, false)) f.Panel.ShowLoneByte(lone);
    EXPECT_EQ(file.Text, inFile + "\r10:20:30.400<RV data from CliIdx=6\r10:20:30.400<07\r");
}

// Resident memory of this process.
std::size_t ResidentBytes() {
    long pages = 0, resident = 0;
    if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return static_cast<std::size_t>(resident) * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

TEST(receive_panel, a_list_at_its_memory_limit_drops_its_oldest_lines_in_blocks_and_tells_once) {
    PanelFixture f(80);  // 27 HEX tokens a line
    int told = 0;
    std::size_t toldLimit = 0;
    int toldLines = 0;
    f.Panel.Hooks().OldestLinesDropped = [&](std::size_t limit, int lines) {
        ++told;
        toldLimit = limit;
        toldLines = lines;
        // Told outside the chunk, with the list's update released.
        EXPECT_EQ(f.Panel.UpdateCount(), 0);
    };
    constexpr std::size_t kLimit = 8u << 20;
    f.Panel.SetMemoryLimit(kLimit);
    const std::string chunk = f.Bytes(27 * 75);  // 75 whole lines a chunk
    std::size_t received = 0;
    int dropEvents = 0;
    std::uint64_t dropped = 0;
    while (received < (10u << 20)) {
        f.Show(chunk);
        received += chunk.size();
        ASSERT_LE(f.Panel.MemoryUsage(), kLimit) << received;
        if (f.Panel.Lines().DroppedLines() != dropped) ++dropEvents;
        dropped = f.Panel.Lines().DroppedLines();
    }
    const TLineStore& lines = f.Panel.Lines();
    // Every line is either kept or counted as dropped; whole lines went, the
    // oldest first, and the newest are all there.
    EXPECT_EQ(lines.LineCount() + dropped, received / 27);
    EXPECT_EQ(lines.LineLength(0), 80u);
    EXPECT_EQ(lines.GetLine(lines.LineCount() - 1).substr(0, 6), "CE CF ");  // byte 27 * 74
    EXPECT_EQ(lines.GetLine(lines.LineCount() - 2).substr(0, 6), "B3 B4 ");
    // Drops come in blocks of many lines, not one line per new line.
    EXPECT_GE(dropEvents, 2);
    EXPECT_LE(dropEvents, 40);
    EXPECT_EQ(told, 1);
    EXPECT_EQ(toldLimit, kLimit);
    EXPECT_GT(toldLines, 1000);

    // Once cleared the list starts over and tells again when full again;
    // switching "Infinite List" off and on does the same.
    f.Panel.ClearLines();
    f.Panel.StartNewLine(true);
    EXPECT_EQ(lines.DroppedLines(), dropped);  // the count never goes back
    while (lines.DroppedLines() == dropped) f.Show(chunk);
    EXPECT_EQ(told, 2);
    f.Panel.SetInfiniteList(false);
    f.Panel.SetInfiniteList(true);
    for (int i = 0; i < 2000; ++i) f.Show(chunk);
    EXPECT_EQ(told, 3);
}

TEST(receive_panel, clearing_a_long_capture_gives_its_memory_back_to_the_system) {
    PanelFixture f(80);
    f.Panel.DataFormat = dfBIN;      // nine characters a byte
    f.Panel.RVPnlTime = tpSeconds;  // lines keep their data text alone
    const std::string chunk = f.Bytes(4096);
    f.Show(chunk);
    const std::size_t before = ResidentBytes();
    for (std::size_t done = 0; done < (16u << 20); done += chunk.size()) f.Show(chunk);
    const std::size_t full = ResidentBytes();
    ASSERT_GT(full, before + (128u << 20));
    f.Panel.ClearLines();
    f.Panel.StartNewLine(true);
    EXPECT_LT(ResidentBytes(), before + (16u << 20)) << "before " << (before >> 20) << " MB, full "
                                                     << (full >> 20) << " MB";
}

TEST(receive_panel, precise_time_counts_from_the_base_taken_when_switched_on) {
    PanelFixture f(80);
    const double base = f.Clock.Now;
    f.Clock.Ticks = 5000;
    f.Panel.SetPreciseTimeCalc(true);
    f.Clock.Now += 1.0;  // the wall clock jumps; precise stamps do not follow it
    f.Clock.Ticks = 5000 + 1500;
    EXPECT_DOUBLE_EQ(f.Panel.CurrentTime(), base + 1.5 / 86400.0);
    f.Panel.SetPreciseTimeCalc(false);
    EXPECT_EQ(f.Panel.CurrentTime(), f.Clock.Now);
}

TEST(receive_panel, system_clock_gives_local_date_and_time) {
    TSystemReceiveClock clock;
    const std::time_t before = std::time(nullptr);
    const double now = clock.LocalNow();
    const std::time_t after = std::time(nullptr);
    std::tm a{}, b{};
    localtime_r(&before, &a);
    localtime_r(&after, &b);
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, msec = 0;
    rtl::DecodeDate(now, year, month, day);
    rtl::DecodeTime(now, hour, minute, second, msec);
    EXPECT_TRUE((hour == a.tm_hour && minute == a.tm_min) || (hour == b.tm_hour && minute == b.tm_min));
    EXPECT_TRUE(day == a.tm_mday || day == b.tm_mday);
    EXPECT_TRUE(year == a.tm_year + 1900 || year == b.tm_year + 1900);
    const std::int64_t c1 = clock.Counter();
    EXPECT_GE(clock.Counter(), c1);
    EXPECT_EQ(clock.CounterFrequency(), 1000000000);
}

TEST(receive_panel, line_store_keeps_texts_and_records_through_edits) {
    TLineStore s;
    const TLineRecord r{1, 0.5, dfHEX, 3};
    s.AddLine("ab<0A 0B", r);
    s.AddLine("second", TLineRecord{2, 1.0, dfMSG, 0});
    s.AddLine("third", TLineRecord{0, 2.0, dfDEC, 0});
    EXPECT_EQ(s.LineData(0), "0A 0B");
    EXPECT_EQ(s.LineBytes(0), "\x0A\x0B");
    const TLineRecord back = s.LineRecord(0);
    EXPECT_EQ(back.Dir, 1);
    EXPECT_EQ(back.Time, 0.5);
    EXPECT_EQ(back.Format, dfHEX);
    EXPECT_EQ(back.PrefixLen, 3);

    s.PutLine(1, "2nd, longer now");  // a middle line grows
    s.PutLine(0, "x");                // and the first shrinks
    EXPECT_EQ(s.AllText(), "x\r\n2nd, longer now\r\nthird\r\n");
    EXPECT_EQ(s.LineData(0), "");  // prefix longer than the text
    s.DeleteLine(1);
    EXPECT_EQ(s.AllText(), "x\r\nthird\r\n");
    EXPECT_EQ(s.LineRecord(1).Time, 2.0);
    EXPECT_THROW(s.GetLine(2), rtl::EListError);
    EXPECT_THROW(s.DeleteLine(-1), rtl::EListError);

    // Lines larger than a page, and many lines across pages.
    const std::string big(TLineStore::PageSize + 123, 'q');
    s.AddLine(big, r);
    for (int i = 0; i < 30000; ++i) s.AddLine("line " + std::to_string(i), r);
    EXPECT_EQ(s.GetLine(2), big);
    EXPECT_EQ(s.GetLine(3 + 29999), "line 29999");
    while (s.LineCount() > 5) s.DeleteLine(0);
    EXPECT_EQ(s.GetLine(0), "line 29995");
    // The text of five lines (a spare page kept) and one block of entries.
    EXPECT_LE(s.MemoryUsage(), 3 * TLineStore::PageSize + TLineStore::EntryBlockSize);
    s.PutLine(4, std::string(3 * TLineStore::PageSize, 'z'));
    EXPECT_EQ(s.LineLength(4), 3 * TLineStore::PageSize);
    EXPECT_EQ(s.GetLine(3), "line 29998");
    s.Clear();
    EXPECT_EQ(s.LineCount(), 0);
    EXPECT_EQ(s.MemoryUsage(), 0u);
}

TEST(receive_panel, a_line_start_is_taken_without_copying_the_whole_line) {
    TLineStore s;
    const TPrefixStyle style{tpNone, "", true};
    const int id = s.InternPrefixStyle(style);
    ASSERT_GT(id, 0);
    // A styled prefix ("<", made from the record) before data that runs
    // over several pages.
    std::string data;
    for (std::size_t i = 0; data.size() < 3 * TLineStore::PageSize; ++i) data += char('a' + i % 26);
    const TLineRecord r{0, 1.0, dfASC, 1};
    s.AddLine("", r);
    s.PutLineData(0, id, r, "<", data);
    s.AddLine("plain", TLineRecord{});
    EXPECT_EQ(s.GetLineStart(0, 0), "");
    EXPECT_EQ(s.GetLineStart(0, 1), "<");
    EXPECT_EQ(s.GetLineStart(0, 4), "<abc");
    // Across a page boundary of the text.
    const std::size_t across = TLineStore::PageSize + 10;
    EXPECT_EQ(s.GetLineStart(0, across), "<" + data.substr(0, across - 1));
    // More than the line holds: the whole line, nothing of the next.
    EXPECT_EQ(s.GetLineStart(0, data.size() + 100), s.GetLine(0));
    EXPECT_EQ(s.GetLineStart(1, 100), "plain");
    EXPECT_THROW(s.GetLineStart(2, 1), rtl::EListError);
}

TEST(receive_panel, a_visible_line_start_takes_what_fills_the_width_and_little_more) {
    const std::string line(10'000'000, 'w');
    std::size_t most = 0;
    int tries = 0;
    auto take = [&](std::size_t n) {
        ++tries;
        most = std::max(most, n);
        return line.substr(0, n);
    };
    // A fixed-pitch font of 9 pixels and a good guess: one try.
    auto fixed = [](const std::string& t) { return static_cast<int>(t.size()) * 9; };
    std::string got = VisibleLineStart(90, 800, take, fixed);
    EXPECT_EQ(tries, 1);
    EXPECT_GE(fixed(got), 800);
    EXPECT_LE(most, 90u);
    // Characters much narrower than guessed: the start grows until it covers
    // the width, never far past it.
    tries = 0;
    most = 0;
    auto narrow = [](const std::string& t) { return static_cast<int>(t.size()) * 2; };
    got = VisibleLineStart(90, 800, take, narrow);
    EXPECT_GE(narrow(got), 800);
    EXPECT_LE(most, 2u * 400u);
    EXPECT_EQ(tries, 4);  // 90, 180, 360, 720
    // A line narrower than the window comes whole; a window without width
    // takes the guess.
    EXPECT_EQ(VisibleLineStart(90, 800, [](std::size_t n) { return std::string("short").substr(0, n); }, fixed),
              "short");
    tries = 0;
    EXPECT_EQ(VisibleLineStart(5, 0, take, fixed).size(), 5u);
    EXPECT_EQ(tries, 1);
}

}  // namespace
}  // namespace terminal
