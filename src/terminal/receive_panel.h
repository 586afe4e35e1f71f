#pragma once
// The receive panel without its window: the lines and their records, the
// line being filled, the rendering of received and transmitted chunks into
// lines, message and error lines, the panel metrics and the graph feed. The
// main window delegates ShowData, AddTextLine, StartNewLine, the metrics and
// GraphValue here; the owner-drawn list box shows Lines() and follows the
// view hooks (repaint lock, count changes).
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "terminal/receive_format.h"
#include "terminal/receive_panel_clock.h"
#include "terminal/receive_panel_lines.h"
#include "terminal/word_pairs.h"

namespace terminal {

// What the panel's metrics are computed from: the font's average character
// width and height, the panel's client size and a vertical scroll bar's width.
struct TPanelMetrics {
    int CharWidth = 9;
    int LineHeight = 17;
    int PanelWidth = 4 + 80 * 9;
    int PanelHeight = 5 + 30 * 17;
    int ScrollBarWidth = 0;
};

// A text file the panel writes its lines to instead of the list (output to
// a file as text): lines are separated by a carriage return alone, each
// starting with its own prefix. The file keeps its own line state: whether
// its last line is still open, and which peer it named last; and, as every
// output file does, the word pairs of what was read for it.
class TLineSink {
public:
    virtual ~TLineSink() = default;
    // Appends Text. Covered: how many bytes of the chunk being shown have
    // their whole text in the file with it, so that a file that fails to
    // take the rest can tell which bytes it never got; Text holds Tokens
    // tokens of one width, each covering as many bytes (0: text that covers
    // no byte of its own, as a prefix, a blank or a line end).
    virtual void Put(std::string_view Text, std::size_t Covered, std::size_t Tokens) = 0;
    // The last line put is not ended yet.
    virtual bool LineOpen() const = 0;
    // The key of the peer whose name line the file holds last (0: none).
    std::uint64_t NamedPeer = 0;
    // Which low bytes read for this file wait for their pair.
    TWordPairs Words;
};

// What the panel calls out to. Every hook may stay empty.
struct TReceivePanelHooks {
    // Once at the start of every chunk: the main window's anti-hang check
    // (raising the polling delay when the GUI thread is starved).
    std::function<void()> CheckAntiHang;
    // Whether received values go to the graph window now (it is visible and
    // no plug-in has turned the feed off), and whether they are read signed.
    std::function<bool()> GraphFeedEnabled;
    std::function<bool()> GraphSigned;
    // The graph window's update lock around a chunk, and one point.
    std::function<void(bool Lock)> GraphSetUpdateLock;
    std::function<void(double Time, double Value)> GraphAddPoint;
    // The list control: repainting held off (true) by the first BeginUpdate
    // and allowed again (false) by the last EndUpdate; SyncCount(Index).
    std::function<void(bool Locked)> ListRepaintLock;
    std::function<void(int Index)> ListSyncCount;
    // Reads the font and panel metrics afresh whenever they are recomputed
    // (the panel narrows when its scroll bar appears); without it the numbers
    // last given to SetListMetrics are used.
    std::function<TPanelMetrics()> QueryMetrics;
    // The list has reached its memory limit (LimitBytes) and its oldest
    // lines are being dropped; Lines are kept now. Once, until the list is
    // cleared or "Infinite List" is switched off and on. Called outside a
    // chunk's update.
    std::function<void(std::size_t LimitBytes, int Lines)> OldestLinesDropped;
};

class TReceivePanel {
public:
    explicit TReceivePanel(TReceiveClock& Clock, TReceivePanelHooks Hooks = {});
    TReceivePanel(const TReceivePanel&) = delete;
    TReceivePanel& operator=(const TReceivePanel&) = delete;

    // Options, applied by the main window's menus and settings.
    TDataFormat DataFormat = dfHEX;
    int RVPnlTime = tpSeconds;
    std::string RVPnlTimeFormat = "yyyy-mm-dd hh:nn:ss.zzz";
    std::uint8_t RVLineBreak = '\n';
    bool ShowASCIInonvisiblecodes = false;
    bool Timecaninterruptdatarow = false;
    bool ShowWrites = false;          // transmitted bytes are logged (mShowWrites)
    bool SecondPortSelected = false;  // cbComN2 is past its first entry

    TReceivePanelHooks& Hooks() { return hooks_; }

    TLineStore& Lines() { return lines_; }
    const TLineStore& Lines() const { return lines_; }

    // The line being filled.
    const std::string& CurLine() const { return curLine_; }
    int CurLineWidth() const { return curLineWidth_; }
    double CurLineTime() const { return curLineTime_; }
    std::uint8_t CurLineDir() const { return curLineDir_; }

    // Metrics.
    int CharsPerLine() const { return charsPerLine_; }
    int VisibleLines() const { return visibleLines_; }
    int CharWidth() const { return charWidth_; }
    int LineHeight() const { return lineHeight_; }
    // Takes new font and panel metrics, then RecalcListMetrics.
    void SetListMetrics(const TPanelMetrics& Metrics);
    void RecalcListMetrics();

    bool InfiniteList() const { return infiniteList_; }
    void SetInfiniteList(bool On);

    // The most memory the lines may hold (0: no limit); past it the oldest
    // lines are dropped (see TLineStore::SetMemoryLimit).
    void SetMemoryLimit(std::size_t Bytes) { lines_.SetMemoryLimit(Bytes); }

    // Precise time stamps: switching on takes the base time and counter.
    bool PreciseTimeCalc() const { return precise_; }
    void SetPreciseTimeCalc(bool On);
    double CurrentTime();

    // Where rendered lines go from now on: a text file (output to a file as
    // text), or the list (null). The line being filled stays in the place it
    // was begun in: the list's ends there; a file's stays open until the
    // file is written again, which ends it first. (In raw mode the receive
    // path writes received chunks itself.) The bytes shown pair with the
    // words of that place, until PairFor says otherwise.
    void WriteTo(TLineSink* To);
    // The place the bytes shown from now on were read for, whose word pairs
    // they go on (null: the list): a file that failed leaves what it never
    // took to the list, paired as it was read.
    void PairFor(TLineSink* Owner) { pairOwner_ = Owner; }
    // The word pairs of what was read for Owner (null: the list).
    TWordPairs& WordsOf(TLineSink* Owner) { return Owner ? Owner->Words : listWords_; }
    // To goes away: lines go to the list again if they went there.
    void Forget(const TLineSink& To);

    // The list's update counter: the first begin holds repainting off, the
    // last end lets it go on.
    void BeginUpdate();
    void EndUpdate();
    int UpdateCount() const { return updateCount_; }
    void SyncCount(int Index);

    // Renders one byte of stream Dir (0 main port, 1 Port2, 2 transmitted)
    // in DataFormat into Token (appended); returns its width. In the word
    // formats a byte pairs only with bytes of its own stream: the first of
    // a pair gives an empty token and waits for the stream's next byte.
    int FormatByte(std::uint8_t B, std::uint8_t Dir, std::string& Token);
    // The graph value of one byte of stream Dir: in the word formats only
    // every second byte of that stream completes a value (low byte first).
    bool GraphValue(std::uint8_t B, std::uint8_t Dir, bool Signed, double& Value);
    std::string LinePrefix(std::uint8_t Dir, double Time) const;
    // How LinePrefix makes prefixes with the options as they are now.
    TPrefixStyle CurrentPrefixStyle() const;

    // Starts a fresh line where lines go now; the word pairs of the list and
    // of where lines go now start over (a user's new line, a new format, a
    // Clear: a low byte still waiting there is dropped).
    void StartNewLine(bool Repaint);
    // A line of the program's own where lines go now, as Text alone (an
    // error written into a text file): the line being filled ends first;
    // word pairs kept.
    void WriteLine(std::string_view Text, std::uint8_t Dir, double Time, TDataFormat Format) {
        PutWholeLine({}, Text, Dir, Time, Format);
    }
    // Renders a chunk stamped Time (0: now), the time it was read. Peer says
    // whose bytes they are within the stream, for a port that serves several
    // peers (a server's client, a datagram's sender): each peer pairs its own
    // bytes into words, and a line holds one peer's bytes. 0 is the port's
    // own stream (a serial port, the transmitted bytes). Name is the line
    // that names the peer: it goes out with the chunk's first token where
    // lines go (the list or the file) when that place named another peer
    // last, and not at all while the chunk shows nothing (a low byte that
    // waits for its pair).
    void ShowData(const std::uint8_t* Data, std::size_t Count, std::uint8_t Dir, double Time = 0,
                  std::uint64_t Peer = 0, std::string_view Name = {});
    void ShowData(std::string_view Data, std::uint8_t Dir, double Time = 0, std::uint64_t Peer = 0,
                  std::string_view Name = {}) {
        ShowData(reinterpret_cast<const std::uint8_t*>(Data.data()), Data.size(), Dir, Time, Peer, Name);
    }
    // A whole MSG or ERR line in the list, stamped Time (0: now), whatever
    // lines go to: it leaves the line being filled in a file, and every word
    // a peer has begun waits for that peer's next byte.
    void AddTextLine(std::string_view Text, std::uint8_t Dir, double Time, TDataFormat Format);
    // Names Peer with Name where lines go now, unless that place named it
    // last: before a receive event runs, so that the lines it adds about
    // the peer's data come under the peer's name.
    void NamePeer(std::uint64_t Peer, std::string_view Name, double Time);
    // The list names the next peer anew (a new port: the keys start over).
    void ForgetNames() { listNamed_ = 0; }
    // A low byte whose pair never came, shown where lines go now on a line
    // of its own, in the byte format of its word format (HEX for HW, DEC
    // for DW), under its peer's name and stamped when it was read; the graph
    // gets its value when it was given the low byte, so that it plots what
    // the list shows.
    void ShowLoneByte(const TLoneByte& Lone);
    // A peer (Peer), or every peer of stream Dir (AllPeers), is gone: each
    // low byte it left waiting in the pairs of where lines go now is shown.
    void ShowLoneBytes(std::uint8_t Dir, std::uint64_t Peer, bool AllPeers = false) {
        for (const TLoneByte& lone : Words().TakeLone(Dir, Peer, AllPeers)) ShowLoneByte(lone);
    }
    // Frees every line and record and tells the list (SyncCount(-1)); the
    // list names the next peer anew.
    void ClearLines();

    // Bytes held by the lines and the line being filled.
    std::size_t MemoryUsage() const { return lines_.MemoryUsage() + curLine_.capacity(); }

    using TWordPair = terminal::TWordPair;
    // The list's (or file's) pairing of one peer's stream, where the bytes
    // shown now pair: a chunk a failed output gives back is paired as it
    // was the first time.
    TWordPair DisplayPairing(std::uint8_t Dir, std::uint64_t Peer = 0) {
        const TWordPair pairing = Words().Of(Dir, Peer).Display;
        Words().ForgetIfIdle(Dir, Peer);
        return pairing;
    }
    void SetDisplayPairing(std::uint8_t Dir, TWordPair Pairing, std::uint64_t Peer = 0) {
        Words().Of(Dir, Peer).Display = Pairing;
        Words().ForgetIfIdle(Dir, Peer);
    }

    static constexpr std::size_t MaxWaitingPeers = TWordPairs::MaxWaitingPeers;
    std::size_t WaitingPeers() { return Words().WaitingPeers(); }

private:
    class TChunkGuard;

    // The pairs the bytes shown now go on.
    TWordPairs& Words() { return WordsOf(pairOwner_); }
    // FormatByte and GraphValue with a given pairing.
    int FormatWith(TWordPair& Pairing, std::uint8_t B, std::string& Token) const;
    bool GraphWith(TWordPair& Pairing, std::uint8_t B, bool Signed, double& Value) const;

    void WriteCurrentLine();
    void EnsureCurrentLine();
    // Empties the line being filled, word pairs kept.
    void ClearCurrentLine();
    // Ends the line being filled and appends a fresh one, leaving the word
    // pairs alone (StartNewLine without the reset).
    void AppendNewLine(bool Repaint);
    // Text where lines go: Tokens tokens that bring the chunk's bytes
    // covered up to covered_ (0: text that covers none).
    void Output(std::string_view Text, std::size_t Tokens = 0) const;
    // The peer named last where lines go now.
    std::uint64_t& Named() { return sink_ ? sink_->NamedPeer : listNamed_; }
    // A whole line of the program's own where lines go now (prefix and
    // text), ending the line being filled first; word pairs kept.
    void PutWholeLine(const std::string& Prefix, std::string_view Text, std::uint8_t Dir, double Time,
                      TDataFormat Format);
    // A whole line in the list, whatever lines go to now.
    void PutListLine(const std::string& Prefix, std::string_view Text, std::uint8_t Dir, double Time,
                     TDataFormat Format);
    // Tells OldestLinesDropped when the list has started dropping lines.
    void NoticeDrops();

    TReceiveClock& clock_;
    TReceivePanelHooks hooks_;
    TLineStore lines_;

    std::string curLine_;
    int curLineWidth_ = 0;
    double curLineTime_ = 0;
    std::uint8_t curLineDir_ = 0;
    std::uint64_t curLinePeer_ = 0;
    TDataFormat curLineFormat_ = dfHEX;
    TLineRecord curLineRecord_;  // the record the current line is written with
    int curLineStyle_ = 0;       // its prefix style in the line store (0: literal)

    // The list's word pairs (each output file keeps its own), and whose
    // pairs the bytes shown now go on (null: the list's).
    TWordPairs listWords_;
    TLineSink* pairOwner_ = nullptr;

    int charsPerLine_ = 80, visibleLines_ = 1, charWidth_ = 8, lineHeight_ = 17;
    TPanelMetrics metrics_;
    bool infiniteList_ = true;
    std::uint64_t droppedSeen_ = 0;  // the store's drop count last looked at
    bool dropsTold_ = false;

    bool precise_ = false;
    double baseTime_ = 0;
    std::int64_t baseCounter_ = 0, frequency_ = 0;

    TLineSink* sink_ = nullptr;
    // Of the chunk being shown: its bytes whose text is out.
    std::size_t covered_ = 0;
    std::uint64_t listNamed_ = 0;  // the peer the list named last (0: none)
    int updateCount_ = 0;
};

}  // namespace terminal
