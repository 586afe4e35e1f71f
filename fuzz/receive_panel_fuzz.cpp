// The receive panel fed a peer's bytes in every data format, in chunks from
// the main port, the second port and the transmit path, the received ones
// from one of several peers of their port, with message, error and name
// lines between them (which end no word), under any prefix, width
// and time options. Within each run of one format, each stream's lines (a
// stream being one peer of one port) read back that stream's bytes in order
// (a word pairs two bytes of one stream, a line holds one stream's bytes,
// and a stream's last odd byte waits for its pair), each line fits the panel
// unless it holds a single token; a list that is not infinite never holds
// more lines than the panel shows.
// A second panel fed the same with the graph feed on (which renders byte
// by byte) shows the same lines, and the graph gets every received value.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "receive_panel_support.h"
#include "terminal/receive_panel.h"

namespace {

using fuzz_support::Check;
using namespace terminal;

// Peers of a port: 0 its own stream, 1 to 3 the peers of a port that serves
// several.
constexpr int kPeers = 4;

// A stream: a direction and a peer.
int StreamOf(std::uint8_t Dir, int Peer) { return Dir * kPeers + Peer; }

struct TFed {
    std::uint8_t Byte;
    int Stream;
};

struct TPanels {
    fuzz_support::TSetClock clock;
    TReceivePanel plain{clock};
    TReceivePanel graphed{clock};
    std::vector<double> values;
    bool graphSigned = false;

    TPanels() {
        graphed.Hooks().GraphFeedEnabled = [] { return true; };
        graphed.Hooks().GraphSigned = [this] { return graphSigned; };
        graphed.Hooks().GraphAddPoint = [this](double, double v) { values.push_back(v); };
    }
    template <class F>
    void Both(F f) {
        f(plain);
        f(graphed);
    }
};

int TokenCount(TDataFormat format, const std::string& data) {
    // An ASC token is one character once the codes are hidden.
    if (format == dfASC) return static_cast<int>(HideNonVisibleCodes(data).size());
    int tokens = 0;
    for (std::size_t i = 0; i < data.size(); ++i) tokens += data[i] != ' ' && (i == 0 || data[i - 1] == ' ');
    return tokens;
}

// The lines from First on against the bytes fed since the run began, with
// the stream that wrote each line (Owners, by line index). In the word
// formats a byte pairs only with its own stream's next byte, so each stream
// is followed on its own: its lines read back its bytes in order, and only
// its last odd byte waits.
void CheckRun(const TReceivePanel& panel, int first, const std::vector<TFed>& fed,
              const std::map<int, int>& owners) {
    const TLineStore& lines = panel.Lines();
    const TDataFormat format = panel.DataFormat;
    const bool words = IsWordFormat(format);
    std::map<int, std::vector<std::uint8_t>> streams;
    for (const TFed& f : fed) streams[f.Stream].push_back(f.Byte);
    std::map<int, std::size_t> at;
    for (int i = first; i < lines.LineCount(); ++i) {
        const TLineRecord record = lines.LineRecord(i);
        const std::string data = lines.LineData(i);
        // Message, error and name lines come between a stream's lines.
        if (data.empty() || record.Format == dfMSG || record.Format == dfERR) continue;
        Check(record.Format == format);
        const auto owner = owners.find(i);
        Check(owner != owners.end());
        Check(record.Dir == owner->second / kPeers);
        const std::vector<std::uint8_t>& stream = streams[owner->second];
        std::size_t& next = at[owner->second];
        for (char c : lines.LineBytes(i)) {
            Check(next < stream.size() && static_cast<std::uint8_t>(c) == stream[next]);
            ++next;
        }
        const int width = record.PrefixLen + static_cast<int>(panel.ShowASCIInonvisiblecodes || format != dfASC
                                                                  ? data.size()
                                                                  : HideNonVisibleCodes(data).size());
        Check(width <= panel.CharsPerLine() || TokenCount(format, data) == 1);
    }
    for (const auto& [id, stream] : streams) Check(at[id] == stream.size() - (words ? stream.size() % 2 : 0));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    TPanels p;
    const auto options = in.ConsumeIntegral<std::uint16_t>();
    const std::string freeFormat = in.ConsumeRandomLengthString(24);
    TPanelMetrics metrics;
    metrics.CharWidth = in.ConsumeIntegralInRange(0, 12);
    metrics.PanelWidth = in.ConsumeIntegralInRange(0, 1200);
    metrics.ScrollBarWidth = in.ConsumeIntegralInRange(0, 20);
    metrics.LineHeight = in.ConsumeIntegralInRange(0, 40);
    metrics.PanelHeight = in.ConsumeIntegralInRange(0, 600);
    p.clock.Now = fuzz_support::CalendarTime(in.ConsumeIntegral<std::uint64_t>());
    p.graphSigned = (options & 0x200) != 0;
    p.Both([&](TReceivePanel& panel) {
        panel.RVPnlTime = options % 5;
        panel.RVPnlTimeFormat = freeFormat;
        panel.ShowASCIInonvisiblecodes = (options & 0x08) != 0;
        panel.Timecaninterruptdatarow = (options & 0x10) != 0;
        panel.RVLineBreak = "\r\n\0"[(options >> 5) % 3];
        panel.ShowWrites = (options & 0x80) != 0;
        panel.SecondPortSelected = (options & 0x100) != 0;
        panel.SetListMetrics(metrics);
        panel.SetInfiniteList((options & 0x400) == 0);
        panel.StartNewLine(true);
    });
    // A bounded list keeps only the lines that fit the panel, dropping the
    // oldest: the runs are not followed then, only the bound.
    const bool bounded = !p.plain.InfiniteList();
    // The stream that wrote each line of the run, by line index.
    std::map<int, int> owners;
    auto checkRun = [&](int first, const std::vector<TFed>& fed) {
        if (bounded)
            Check(p.plain.Lines().LineCount() <= p.plain.VisibleLines());
        else
            CheckRun(p.plain, first, fed, owners);
    };

    std::vector<TFed> fed;
    std::vector<double> expected;
    int first = 0;
    while (in.remaining_bytes() > 0) {
        const auto op = in.ConsumeIntegral<std::uint8_t>();
        if (op >= 24 && op < 32) {
            // A message or error line, or one naming a peer: the run goes
            // on, words and all.
            p.Both([&](TReceivePanel& panel) {
                panel.AddTextLine(std::string(1, static_cast<char>('a' + op)), op & 1, 0, op & 2 ? dfMSG : dfERR);
            });
            continue;
        }
        if (op < 24) {
            // A new run: a format (the user's choice).
            checkRun(first, fed);
            p.Both([&](TReceivePanel& panel) {
                panel.DataFormat = static_cast<TDataFormat>(op % 6);
                panel.StartNewLine(true);
            });
            fed.clear();
            owners.clear();
            first = p.plain.Lines().LineCount() - 1;
            continue;
        }
        // A chunk: its direction and peer (received bytes only), how much
        // later it comes, then its bytes.
        const std::uint8_t dir = op % 3;
        const int peer = dir == 2 ? 0 : (op >> 5) % kPeers;
        const int stream = StreamOf(dir, peer);
        p.clock.Now += (op >> 2) % 8 == 0 ? 0 : static_cast<double>(op) / 86400.0;
        const std::string chunk = in.ConsumeRandomLengthString(64);
        // The chunk writes on the line being filled, unless another stream
        // owns it, and on the lines it adds (followed while no line is
        // dropped).
        const int last = p.plain.Lines().LineCount() - 1;
        const std::string lastText = p.plain.Lines().GetLine(last);
        p.Both([&](TReceivePanel& panel) { panel.ShowData(chunk, dir, 0, static_cast<std::uint64_t>(peer) * 1000003); });
        for (int i = last; !bounded && i < p.plain.Lines().LineCount(); ++i) {
            const auto owner = owners.find(i);
            if (owner == owners.end()) {
                if (!p.plain.Lines().LineData(i).empty()) owners[i] = stream;
            } else if (owner->second != stream) {
                // A line never takes another stream's bytes.
                Check(i != last || p.plain.Lines().GetLine(i) == lastText);
            }
        }
        for (char c : chunk) {
            const auto b = static_cast<std::uint8_t>(c);
            fed.push_back({b, stream});
            if (dir != 2 && !IsWordFormat(p.plain.DataFormat))
                expected.push_back(p.graphSigned ? static_cast<std::int8_t>(b) : b);
        }
        if (IsWordFormat(p.plain.DataFormat)) expected = p.values;  // pairs are not followed here
    }
    checkRun(first, fed);
    const TLineStore& a = p.plain.Lines();
    const TLineStore& b = p.graphed.Lines();
    Check(a.LineCount() == b.LineCount());
    for (int i = 0; i < a.LineCount(); ++i) {
        Check(a.GetLine(i) == b.GetLine(i));
        Check(fuzz_support::SameRecord(a.LineRecord(i), b.LineRecord(i)));
    }
    Check(p.values == expected);
    return 0;
}
