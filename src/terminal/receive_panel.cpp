#include "terminal/receive_panel.h"

#include <algorithm>
#include <exception>
#include <utility>

namespace terminal {

// Holds the list's update count and the graph window's update lock for one
// chunk, and gives both back on every path out of it. On the normal path the
// release runs through Release() so a failing hook reports to the caller;
// while an exception unwinds, the destructor releases and swallows.
class TReceivePanel::TChunkGuard {
public:
    TChunkGuard(TReceivePanel& Panel, bool List, bool Graph)
        : panel_(Panel), list_(List), graph_(Graph) {
        if (list_) panel_.BeginUpdate();
        if (graph_ && panel_.hooks_.GraphSetUpdateLock) {
            try {
                panel_.hooks_.GraphSetUpdateLock(true);
            } catch (...) {
                if (list_) panel_.EndUpdate();
                throw;
            }
        }
    }
    TChunkGuard(const TChunkGuard&) = delete;
    TChunkGuard& operator=(const TChunkGuard&) = delete;

    void Release() {
        const bool list = std::exchange(list_, false);
        const bool graph = std::exchange(graph_, false);
        // The list first, as the chunk ends; the graph lock even if it fails.
        try {
            if (list) panel_.EndUpdate();
        } catch (...) {
            if (graph && panel_.hooks_.GraphSetUpdateLock) panel_.hooks_.GraphSetUpdateLock(false);
            throw;
        }
        if (graph && panel_.hooks_.GraphSetUpdateLock) panel_.hooks_.GraphSetUpdateLock(false);
    }

    ~TChunkGuard() {
        try {
            Release();
        } catch (...) {
            // Already unwinding from the chunk's own failure; that one is reported.
        }
    }

private:
    TReceivePanel& panel_;
    bool list_;
    bool graph_;
};

TReceivePanel::TReceivePanel(TReceiveClock& Clock, TReceivePanelHooks Hooks)
    : clock_(Clock), hooks_(std::move(Hooks)) {
    // Until the window reports its size, the default metrics: 80 characters, 30 lines.
    RecalcListMetrics();
}

// --- metrics -----------------------------------------------------------------

void TReceivePanel::SetListMetrics(const TPanelMetrics& Metrics) {
    metrics_ = Metrics;
    RecalcListMetrics();
}

void TReceivePanel::RecalcListMetrics() {
    if (hooks_.QueryMetrics) metrics_ = hooks_.QueryMetrics();
    lineHeight_ = metrics_.LineHeight;
    charWidth_ = metrics_.CharWidth;
    // A font that reports no size must not divide by zero.
    const int itemHeight = std::max(1, lineHeight_);
    const int charWidth = std::max(1, charWidth_);
    visibleLines_ = std::max(1, (metrics_.PanelHeight - 5) / itemHeight);
    if (infiniteList_) {
        charsPerLine_ = (metrics_.PanelWidth - 4 - metrics_.ScrollBarWidth) / charWidth;
    } else {
        while (lines_.LineCount() > visibleLines_) lines_.DeleteLine(0);
        SyncCount(-1);
        charsPerLine_ = (metrics_.PanelWidth - 4) / charWidth;
    }
}

void TReceivePanel::SetInfiniteList(bool On) {
    // Switched off and on, the list starts over: reaching the limit again
    // is told again.
    if (On != infiniteList_) dropsTold_ = false;
    infiniteList_ = On;
    RecalcListMetrics();
}

void TReceivePanel::NoticeDrops() {
    const std::uint64_t dropped = lines_.DroppedLines();
    if (dropped == droppedSeen_) return;
    droppedSeen_ = dropped;
    if (dropsTold_) return;
    dropsTold_ = true;
    if (hooks_.OldestLinesDropped) hooks_.OldestLinesDropped(lines_.MemoryLimit(), lines_.LineCount());
}

// --- time ----------------------------------------------------------------------

void TReceivePanel::SetPreciseTimeCalc(bool On) {
    precise_ = On;
    if (On) {
        baseTime_ = clock_.LocalNow();
        baseCounter_ = clock_.Counter();
        frequency_ = clock_.CounterFrequency();
    }
}

double TReceivePanel::CurrentTime() {
    if (!precise_ || frequency_ <= 0) return clock_.LocalNow();
    const double elapsed = static_cast<double>(clock_.Counter() - baseCounter_);
    return baseTime_ + elapsed / static_cast<double>(frequency_) / 86400.0;
}

// --- list plumbing -------------------------------------------------------------

void TReceivePanel::WriteTo(TLineSink* To) {
    pairOwner_ = To;
    if (To == sink_) return;
    // The list's line in progress ends in the list (it is written there
    // already); a file's stays open in the file until it is written again.
    if (!sink_ && !curLine_.empty()) AppendNewLine(true);
    sink_ = To;
    ClearCurrentLine();
    // Back in a file left in mid-line: that line ends before the next
    // begins, so that two lines never run together into one that reads back
    // as nothing.
    if (sink_ && sink_->LineOpen()) sink_->Put("\r", 0, 0);
}

void TReceivePanel::Forget(const TLineSink& To) {
    // Its line in progress is the file's own: nothing of it belongs to the
    // list, nor to a file that may come next.
    if (pairOwner_ == &To) pairOwner_ = nullptr;
    if (sink_ != &To) return;
    sink_ = nullptr;
    ClearCurrentLine();
}

void TReceivePanel::Output(std::string_view Text, std::size_t Tokens) const {
    if (sink_) sink_->Put(Text, covered_, Tokens);
}

void TReceivePanel::BeginUpdate() {
    if (updateCount_++ == 0 && hooks_.ListRepaintLock) hooks_.ListRepaintLock(true);
}

void TReceivePanel::EndUpdate() {
    if (updateCount_ == 0) return;
    if (--updateCount_ == 0 && hooks_.ListRepaintLock) hooks_.ListRepaintLock(false);
}

void TReceivePanel::SyncCount(int Index) {
    if (hooks_.ListSyncCount) hooks_.ListSyncCount(Index);
}

void TReceivePanel::ClearLines() {
    lines_.Clear();
    listNamed_ = 0;
    curLineStyle_ = 0;  // the store forgot its prefix styles
    droppedSeen_ = lines_.DroppedLines();
    dropsTold_ = false;
    SyncCount(-1);
}

void TReceivePanel::EnsureCurrentLine() {
    // The list always ends with the line being filled; a caller that never
    // started one still gets a place to write to.
    if (lines_.LineCount() == 0) lines_.AddLine({}, TLineRecord{0, 0, DataFormat, 0});
}

void TReceivePanel::WriteCurrentLine() {
    EnsureCurrentLine();
    const std::string_view line(curLine_);
    const std::size_t prefix = std::min<std::size_t>(curLineRecord_.PrefixLen, line.size());
    lines_.PutLineData(lines_.LineCount() - 1, curLineStyle_, curLineRecord_, line.substr(0, prefix),
                       line.substr(prefix));
}

// --- rendering -----------------------------------------------------------------

int TReceivePanel::FormatByte(std::uint8_t B, std::uint8_t Dir, std::string& Token) {
    return FormatWith(Words().Of(Dir).Display, B, Token);
}

bool TReceivePanel::GraphValue(std::uint8_t B, std::uint8_t Dir, bool Signed, double& Value) {
    return GraphWith(Words().Of(Dir).Graph, B, Signed, Value);
}

int TReceivePanel::FormatWith(TWordPair& Pairing, std::uint8_t B, std::string& Token) const {
    if (IsWordFormat(DataFormat)) {
        std::uint16_t word = 0;
        if (!Pairing.Take(B, word)) return 0;
        return AppendToken(Token, DataFormat, word, ShowASCIInonvisiblecodes);
    }
    return AppendToken(Token, DataFormat, B, ShowASCIInonvisiblecodes);
}

bool TReceivePanel::GraphWith(TWordPair& Pairing, std::uint8_t B, bool Signed, double& Value) const {
    if (IsWordFormat(DataFormat)) {
        std::uint16_t word = 0;
        if (!Pairing.Take(B, word)) return false;
        Value = Signed ? static_cast<double>(static_cast<std::int16_t>(word)) : word;
        return true;
    }
    Value = Signed ? static_cast<double>(static_cast<std::int8_t>(B)) : B;
    return true;
}

TPrefixStyle TReceivePanel::CurrentPrefixStyle() const {
    return TPrefixStyle{RVPnlTime, RVPnlTimeFormat,
                        RVPnlTime != tpNone || ShowWrites || SecondPortSelected};
}

std::string TReceivePanel::LinePrefix(std::uint8_t Dir, double Time) const {
    return FormatLinePrefix(CurrentPrefixStyle(), Dir, Time);
}

void TReceivePanel::ClearCurrentLine() {
    curLine_.clear();
    curLineWidth_ = 0;
}

void TReceivePanel::StartNewLine(bool Repaint) {
    listWords_.Reset();
    if (sink_) sink_->Words.Reset();
    AppendNewLine(Repaint);
}

void TReceivePanel::AppendNewLine(bool Repaint) {
    ClearCurrentLine();
    if (sink_) {
        // The list's last line stays empty meanwhile: the list's own lines
        // (messages) go there, and data once lines go to the list again. A
        // line that holds text there (one just loaded) is never written
        // over: the list gets a fresh line after it.
        EnsureCurrentLine();
        Output("\r");
        if (lines_.LineLength(lines_.LineCount() - 1) == 0) return;
        TLineSink* const sink = std::exchange(sink_, nullptr);
        AppendNewLine(Repaint);
        sink_ = sink;
        return;
    }
    int n = lines_.LineCount();
    // "while" rather than "if": lines loaded or added beyond the visible
    // ones while the list was bounded are dropped too, so it never grows.
    while (n > 0 && n >= visibleLines_ && !infiniteList_) {
        lines_.DeleteLine(0);
        --n;
    }
    lines_.AddLine({}, TLineRecord{0, 0, DataFormat, 0});
    if (Repaint) SyncCount(-1);
    // The list is just starting to scroll: the scroll bar now takes width.
    if (n == visibleLines_) RecalcListMetrics();
    // Inside a chunk, the chunk tells once it is done.
    if (updateCount_ == 0) NoticeDrops();
}

void TReceivePanel::PutListLine(const std::string& Prefix, std::string_view Text, std::uint8_t Dir, double Time,
                                TDataFormat Format) {
    EnsureCurrentLine();
    const int last = lines_.LineCount() - 1;
    std::string text = Prefix;
    text += Text;
    // A line break inside would split the line in a saved list, which then
    // does not load back.
    std::replace_if(text.begin() + static_cast<std::ptrdiff_t>(Prefix.size()), text.end(),
                    [](char c) { return c == '\r' || c == '\n'; }, ' ');
    lines_.PutLine(last, text);
    lines_.SetLineRecord(last, TLineRecord{Dir, Time, Format, static_cast<std::uint8_t>(Prefix.size())});
    // The list's next line; a line being filled in a file is left alone.
    TLineSink* const sink = std::exchange(sink_, nullptr);
    const std::string line = std::move(curLine_);
    const int width = curLineWidth_;
    AppendNewLine(true);
    sink_ = sink;
    curLine_ = line;
    curLineWidth_ = width;
}

void TReceivePanel::PutWholeLine(const std::string& Prefix, std::string_view Text, std::uint8_t Dir, double Time,
                                 TDataFormat Format) {
    if (!curLine_.empty()) AppendNewLine(true);
    if (!sink_) {
        PutListLine(Prefix, Text, Dir, Time, Format);
        return;
    }
    Output(Prefix);
    Output(Text);
    AppendNewLine(true);
}

void TReceivePanel::NamePeer(std::uint64_t Peer, std::string_view Name, double Time) {
    if (Peer == 0 || Name.empty() || Named() == Peer) return;
    Named() = Peer;
    PutWholeLine(LinePrefix(0, Time), Name, 0, Time, dfMSG);
}

void TReceivePanel::ShowLoneByte(const TLoneByte& Lone) {
    // A word format shows a byte alone as its byte format does, on a line
    // of that format, so that the line reads back as the one byte it is.
    const TDataFormat format = DataFormat == dfHW ? dfHEX : DataFormat == dfDW ? dfDEC : DataFormat;
    const std::uint8_t dir = static_cast<std::uint8_t>(std::min<int>(Lone.Dir, 2));
    if (Lone.Peer != 0 && !Lone.Name.empty() && Named() != Lone.Peer) {
        Named() = Lone.Peer;
        PutWholeLine(LinePrefix(0, Lone.Time), Lone.Name, 0, Lone.Time, dfMSG);
    }
    std::string token;
    AppendToken(token, format, Lone.Byte, ShowASCIInonvisiblecodes);
    covered_ = 0;
    if (!curLine_.empty()) AppendNewLine(true);
    if (!sink_) {
        PutListLine(LinePrefix(dir, Lone.Time), token, dir, Lone.Time, format);
    } else {
        // The byte is in the file once its whole line's text is.
        Output(LinePrefix(dir, Lone.Time));
        covered_ = 1;
        Output(token, 1);
        AppendNewLine(true);
    }
    if (!Lone.Graphed || dir == 2 || !hooks_.GraphFeedEnabled || !hooks_.GraphFeedEnabled() || !hooks_.GraphAddPoint)
        return;
    const bool graphSigned = hooks_.GraphSigned && hooks_.GraphSigned();
    TChunkGuard guard(*this, false, true);
    hooks_.GraphAddPoint(Lone.Time, graphSigned ? static_cast<double>(static_cast<std::int8_t>(Lone.Byte)) : Lone.Byte);
    guard.Release();
}

void TReceivePanel::ShowData(const std::uint8_t* Data, std::size_t Count, std::uint8_t Dir, double Time,
                             std::uint64_t Peer, std::string_view Name) {
    if (hooks_.CheckAntiHang) hooks_.CheckAntiHang();
    const bool toFile = sink_ != nullptr;
    covered_ = 0;
    const bool graph = Dir != 2 && hooks_.GraphFeedEnabled && hooks_.GraphFeedEnabled();
    const bool graphSigned = graph && hooks_.GraphSigned && hooks_.GraphSigned();
    TChunkGuard guard(*this, !toFile, graph);
    bool feeding = graph;
    std::exception_ptr graphFailure;

    const double now = Time != 0 ? Time : CurrentTime();
    // One time stamp per chunk: whether it shows differently from the current
    // line's stamp is decided once, and a line started here shares it.
    bool timeChanged = Timecaninterruptdatarow && curLineWidth_ > 0 &&
                       TimeChangedAtResolution(RVPnlTime, RVPnlTimeFormat, curLineTime_, now);
    bool dirty = false;    // tokens added since the current line was last written
    bool started = false;  // a line was started during the chunk
    std::string token;
    // Every line the chunk starts has the same prefix (one direction, one
    // time stamp): it is made once.
    bool prefixMade = false;
    std::string prefix;
    TPrefixStyle prefixStyle;
    int prefixStyleId = 0;
    // Bytes whose tokens all have one width go onto the line in runs.
    const int fixedWidth = graph ? 0 : FixedTokenWidth(DataFormat);

    // The peer's own pairs: in the word formats the chunk goes on with a
    // low byte its peer sent earlier, even with other ports' and peers'
    // lines between.
    TWordPairs& words = Words();
    TStreamPairs& pairs = words.Of(Dir, Peer);
    // A byte shown on its own ends a word its stream had begun: paired
    // later, that low byte would be read back after the bytes shown here.
    if (!IsWordFormat(DataFormat)) pairs = {};

    // Whether the line being filled takes the chunk's tokens as far as the
    // stream goes: the same shown time, direction, peer and format. Weighed
    // once, not for every byte: only a line the chunk starts (its own) and a
    // call that may let the loop run (a write to the file, the graph, a new
    // line) can change it.
    const auto sameRow = [&] {
        return !timeChanged && Dir == curLineDir_ && Peer == curLinePeer_ && DataFormat == curLineFormat_;
    };
    bool carryOn = sameRow();

    // The peer's name goes out with the chunk's first token, where lines go
    // now named another peer last: never above a chunk that shows nothing.
    bool named = Peer == 0 || Name.empty() || Named() == Peer;
    auto nameFirst = [&] {
        named = true;
        if (dirty && !toFile) WriteCurrentLine();
        dirty = false;
        Named() = Peer;
        PutWholeLine(LinePrefix(0, now), Name, 0, now, dfMSG);
        started = true;
        carryOn = sameRow();
    };

    auto breakLine = [&] {
        if (dirty && !toFile) WriteCurrentLine();
        // This stream's pairs start over with its new line (its word is
        // complete here; the graph's pairing falls in step with the list's
        // again). Other streams keep theirs: a low byte another port left
        // waits for that port's next byte.
        pairs = {};
        AppendNewLine(false);
        started = true;
        dirty = false;
        carryOn = sameRow();
    };

    for (std::size_t k = 0; k < Count; ++k) {
        if (fixedWidth > 0 && named && curLineWidth_ > 0 && carryOn && curLineWidth_ < charsPerLine_) {
            // As many as fit behind a space each, as the byte-by-byte path
            // below would put them.
            const auto fit = static_cast<std::size_t>((charsPerLine_ - curLineWidth_) / (fixedWidth + 1));
            const std::size_t run = std::min(fit, Count - k);
            if (run > 0) {
                const std::size_t from = curLine_.size();
                AppendSpacedTokens(curLine_, DataFormat, Data + k, run);
                curLineWidth_ += static_cast<int>(run) * (fixedWidth + 1);
                dirty = true;
                if (toFile) {
                    covered_ = k + run;
                    Output(std::string_view(curLine_).substr(from), run);
                    carryOn = sameRow();
                }
                k += run - 1;
                continue;
            }
        }
        const std::uint8_t b = Data[k];
        token.clear();
        const int width = FormatWith(pairs.Display, b, token);
        if (feeding) {
            double value = 0;
            if (GraphWith(pairs.Graph, b, graphSigned, value) && hooks_.GraphAddPoint) {
                // The list takes the chunk whatever the graph does with it:
                // a graph that fails gets no more of the chunk, and its
                // error is passed on once the chunk is in the list.
                try {
                    hooks_.GraphAddPoint(now, value);
                } catch (...) {
                    graphFailure = std::current_exception();
                    feeding = false;
                }
                carryOn = sameRow();
            }
        }
        if (width == 0) {
            // A low byte that waits for its pair, with when it was read.
            if (pairs.Display.Pending) pairs.Display.Time = now;
            continue;
        }
        if (!named) nameFirst();

        int l = curLineWidth_;
        if (l > 0 && DataFormat != dfASC) ++l;
        // A token stays on the line only while it fits, the shown time, the
        // direction and the peer are the same, and the line is in the same
        // format (a line mixing formats or peers could not be read back).
        if (l > 0 && (l + width > charsPerLine_ || !carryOn)) {
            breakLine();
            l = 0;
        }
        if (l == 0) {
            if (!prefixMade) {
                prefixStyle = CurrentPrefixStyle();
                prefix = FormatLinePrefix(prefixStyle, Dir, now);
                prefixMade = true;
            }
            curLineTime_ = now;
            curLine_ = prefix;
            curLineWidth_ = static_cast<int>(curLine_.size());
            curLineRecord_ = TLineRecord{Dir, now, DataFormat, static_cast<std::uint8_t>(curLine_.size())};
            if (!toFile) {
                // The store makes the prefix again from the record, so only
                // the data characters of a line are kept.
                if (prefixStyleId == 0 && !curLine_.empty()) prefixStyleId = lines_.InternPrefixStyle(prefixStyle);
                curLineStyle_ = prefixStyleId;
                EnsureCurrentLine();
                lines_.SetLineRecord(lines_.LineCount() - 1, curLineRecord_);
            } else {
                // Should the file close in mid-line, the rest of this line
                // goes to the list with its prefix stored as text.
                curLineStyle_ = 0;
                if (!curLine_.empty()) Output(curLine_);
            }
            curLineDir_ = Dir;
            curLinePeer_ = Peer;
            curLineFormat_ = DataFormat;
            timeChanged = false;
            carryOn = true;
        }
        const std::size_t from = curLine_.size();
        if (DataFormat == dfASC || l == 0) {
            curLineWidth_ += width;
        } else {
            curLine_.push_back(' ');
            curLineWidth_ += width + 1;
        }
        curLine_ += token;
        dirty = true;
        if (toFile) {
            covered_ = k + 1;
            Output(std::string_view(curLine_).substr(from), 1);
            carryOn = sameRow();
        }

        if (DataFormat == dfASC && b == RVLineBreak) breakLine();
    }
    if (dirty && !toFile) WriteCurrentLine();
    if (!toFile && started) SyncCount(-1);
    covered_ = Count;
    // A low byte left waiting shows alone under its peer's name, should the
    // peer go before it pairs.
    if (pairs.Display.Pending) words.Name(Dir, Peer, Name);
    words.ForgetIfIdle(Dir, Peer);
    guard.Release();
    NoticeDrops();
    if (graphFailure) std::rethrow_exception(graphFailure);
}

void TReceivePanel::AddTextLine(std::string_view Text, std::uint8_t Dir, double Time, TDataFormat Format) {
    if (Time == 0) Time = clock_.LocalNow();
    // In the list, whatever lines go to: the list's line in progress ends
    // first; a file's line goes on after it.
    if (!sink_ && !curLine_.empty()) AppendNewLine(true);
    PutListLine(LinePrefix(Dir, Time), Text, Dir, Time, Format);
}

}  // namespace terminal
