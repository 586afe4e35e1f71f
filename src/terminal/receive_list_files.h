#pragma once
// The receive list on disk and the list's editing commands: saving as text,
// as the bytes the lines stand for, or in the internal line format (".cp"),
// loading ".cp" files back, and the output-to-file sink that takes what would
// go to the panel while "Output to file" is on. The main window's menu
// handlers ask the user (dialogs, Shift key) and call these.
//
// The internal format holds one text line per list line:
//   direction digit, format digit, the 64 bits of the time stamp (a double)
//   as 16 upper-case hexadecimal digits, TAB, the text without its prefix,
//   CR LF.
// The prefix is not stored; it is made again when the file is loaded.
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/rtl/file_writes.h"
#include "terminal/receive_format.h"
#include "terminal/receive_panel.h"
#include "terminal/receive_panel_lines.h"

namespace vcl {
class TFileStream;
}
namespace win {
class TWriteReadyWatch;
}

namespace terminal {

// The file types of the save dialog, numbered as its filter list
// ("Text File", "Binary File", "Internal Format").
enum class TListFileType { Text = 1, Binary = 2, Internal = 3 };

// The filter index of the dialog as a file type; any other index raises
// rtl::EConvertError.
TListFileType ListFileTypeOfFilter(int FilterIndex);

inline constexpr const char* SaveDialogTitle = "Choose output file name";
inline constexpr const char* SaveDialogFilter =
    "Text File (*.txt)|*.txt|Binary File (*.bin)|*.bin|Internal Format (*.cp)|*.cp";
inline constexpr const char* SaveDialogDefaultExt = "bin";
inline constexpr const char* LoadDialogTitle = "Choose file";
inline constexpr const char* LoadDialogFilter = "Internal Format (*.cp)|*.cp";

inline constexpr const char* WrongLineFormatText = "Wrong line format at line %d";
inline constexpr const char* OutputNotSupportedText = "This file type is not supported for output";

// --- the internal line format --------------------------------------------------

// One line of a ".cp" file, CR LF included.
std::string FormatSelfLogLine(const TLineRecord& Record, std::string_view Data);

// Reads one line of a ".cp" file (without its line end). The line is refused
// (false) unless it has two leading digits naming a known direction (0-2)
// and format (0-7), sixteen hexadecimal digits whose bits make a finite time
// stamp inside the calendar's range, and a TAB. On success Record holds
// Dir, Time and Format (PrefixLen 0) and Data the rest of the line.
bool ParseSelfLogLine(std::string_view Line, TLineRecord& Record, std::string_view& Data);

// --- saving and loading --------------------------------------------------------

// Writes the whole list to FileName: Text - every line with its prefix
// followed by CR LF; Binary - the bytes of every line in order (message and
// error lines give none); Internal - one ".cp" line per list line. The file
// is replaced only once all of it is written (vcl::SaveWholeFile): a full
// disk raises vcl::EFileSaveError naming the file and the reason, and a
// line whose text no longer reads as numbers the conversion error, both
// leaving an existing file as it was.
void SaveList(const TLineStore& Lines, const std::string& FileName, TListFileType Type);

// Reads the ".cp" file FileName into List: every line gets the prefix of
// Style for its direction and time. Nothing changes until the file is open
// and its first line read and accepted; then Accepted runs (when given) and
// List is cleared, and the lines are appended. A line that is not in the
// format raises rtl::Exception "Wrong line format at line %d" (counting from
// 1): refused at line 1, the list is as it was; later, the lines before it
// stay. A file that cannot be opened or read raises the file's error, which
// names the file and the system's reason; anything but a regular file (a
// FIFO, a device, a folder) is refused so without being opened. An empty
// file is an empty list.
void LoadSelfLog(const std::string& FileName, TLineStore& List, const TPrefixStyle& Style,
                 const std::function<void()>& Accepted = {});

// Loads a ".cp" file into the receive panel with its current prefix
// settings: repainting held off; once the first line is accepted, Accepted
// runs and the list is cleared; then the lines are read, and a fresh current
// line is started whether the file was read to its end or not, so that
// received data never writes over a loaded line. A file refused at its first
// line, or that cannot be opened or read, leaves the panel untouched. Errors
// are raised after that.
void LoadPanelList(const std::string& FileName, TReceivePanel& Panel,
                   const std::function<void()>& Accepted = {});

// --- editing -------------------------------------------------------------------

// Deletes line Index of the panel as "Delete Line" does: the current (last)
// line is emptied by starting a fresh one when it holds text, and when it is
// empty the line before it goes instead. Returns the index to select again.
// An index outside the list raises the list's index error.
int DeletePanelLine(TReceivePanel& Panel, int Index);

// The text "Copy Line" puts on the clipboard: the line, or its text without
// prefix (Shift held).
std::string CopyLineText(const TLineStore& Lines, int Index, bool WithoutPrefix);
// The text "Copy All" puts on the clipboard: every line (or its text without
// prefix) followed by CR LF.
std::string CopyAllText(const TLineStore& Lines, bool WithoutPrefix);

// --- output to a file ----------------------------------------------------------

// A chunk handed to the output that a pipe or device has not wholly taken
// yet: should the output fail before it does, the part not taken is shown
// in the list instead, so that nothing received is lost or shown twice.
struct TUnwrittenChunk {
    std::uint8_t Dir = 0;  // 0 main port, 1 Port2, 2 transmitted
    std::string Bytes;
    double Time = 0;
    std::uint64_t Peer = 0;
    bool Rendered = false;  // went to the file as text (its graph values are in)
};

// The file that takes the received data while "Output to file" is on: the
// chunks as they come (raw mode, the binary file type) or the panel's
// rendered text (text mode, as the panel's line sink). It may be a regular
// file, or a FIFO or a device that another program reads.
class TListOutput : public TLineSink {
public:
    TListOutput();
    ~TListOutput() override;
    TListOutput(const TListOutput&) = delete;
    TListOutput& operator=(const TListOutput&) = delete;

    // Opens FileName for writing (made when missing), other programs allowed
    // to read it but not to write it, and empties it. The lock is taken
    // before anything changes: a file another program holds so (its own
    // output file) is refused untouched. Nothing waits: a FIFO that no
    // program reads is refused by name. The internal format raises "This
    // file type is not supported for output" and leaves the file alone. An
    // output already open is closed first; on any failure none is open.
    void Open(const std::string& FileName, TListFileType Type);
    // Closes the file. What a pipe has not taken yet is given up.
    void Close();
    // Hands the open file over to another output, leaving this one closed;
    // what the pipe has not taken yet, and the line and name state, go with
    // it.
    std::unique_ptr<TListOutput> Release();
    // Carries on writing the file From holds, after what it holds; From is
    // left closed.
    void TakeBack(TListOutput& From);
    bool IsOpen() const { return static_cast<bool>(file_); }
    bool Raw() const { return raw_; }
    const std::string& FileName() const;
    // Whether FileName names the file being written (by any of its names).
    bool Holds(const std::string& FileName) const;

    // Appends to the file. A regular file is written at once. A pipe or a
    // device takes what it can now; the rest stays here as the backlog
    // (HasBacklog) and goes out from the loop as the reader takes more,
    // so that a slow reader never holds the window; the caller holds back
    // further data for the file meanwhile. A write the system refuses (a
    // full disk, a pipe whose reader has gone) closes the output at once
    // and returns false; Failure() then tells which file and why ("Cannot
    // write "<file>": <reason>"), and the caller shows the data elsewhere,
    // so that nothing received is lost. Part of the failed data may have
    // reached the file. True when all was written or kept, and while
    // closed (nothing to do).
    bool Write(std::string_view Data);
    const std::string& Failure() const { return failure_; }
    // Empties the file and keeps it open ("Clear" while output is on); a
    // failure raises EFileSaveError naming the file and the reason. A pipe
    // or a device has nothing to empty. The file names the next peer anew.
    void Empty();

    // Text output, as the panel's sink: Write, with how much of the chunk
    // being shown the text covers (see BeginChunk).
    void Put(std::string_view Text, std::size_t Covered) override;
    // The last line written to the file is not ended yet (the next line's
    // "\r" ends it).
    bool LineOpen() const override { return lineOpen_; }

    // What a pipe or device has not taken yet.
    bool HasBacklog() const { return !backlog_.empty(); }
    // Data for this output must wait: the pipe has not taken the backlog
    // yet, or the output failed from the loop and that is not settled yet.
    bool Holding() const { return HasBacklog() || failedMeanwhile_; }
    // Bytes given to the file so far (taken, or in the backlog): where the
    // next chunk starts in what the file is given.
    std::uint64_t Given() const { return written_ + backlog_.size(); }
    // A text chunk is about to be rendered into the file: what each Put
    // covers of it is noted, so that a pipe that fails before taking all of
    // it tells which of its bytes it never got.
    void BeginChunk();
    // Chunk was given to the file from Start on (raw: as its bytes; text:
    // rendered since BeginChunk). It is kept until the pipe has taken it,
    // each chunk leaving as its last byte does.
    void KeepUntilWritten(TUnwrittenChunk Chunk, std::uint64_t Start);
    // Runs from the loop when the backlog has gone: all taken, or the
    // output failed meanwhile (FailedMeanwhile). It must not free the
    // output: it only asks for that to happen later.
    std::function<void(TListOutput&)> OnBacklogGone;
    // The output failed from the loop, with its backlog: a reader that took
    // nothing at all for StallLimit ("stopped taking data"), or one that
    // went.
    bool FailedMeanwhile() const { return failedMeanwhile_; }
    // What the failed output's reader never got: of each chunk kept, the
    // bytes from the first one whose whole text (or the byte itself) did not
    // reach the file; taken once, and the failure is settled.
    std::vector<TUnwrittenChunk> TakeFailedChunks();

    // The program ends and its window has gone: writes what the pipe has
    // not taken yet, waiting for a reader that goes on taking, however
    // slowly; one that takes nothing for StallLimit is given up. Then the
    // file is closed. Returns the bytes that were not written (0: all were),
    // with Failure() telling why.
    std::size_t Finish();

    // How long a pipe or device may take nothing before the output fails.
    std::chrono::milliseconds StallLimit = rtl::WriteStallLimit();

private:
    using TClock = std::chrono::steady_clock;
    // Text put while the pipe was behind: from offset From to To in what
    // the file is given, covering the chunk's bytes from CoveredFrom to
    // CoveredTo (a run of tokens of one width each, or one token).
    struct TMark {
        std::uint64_t From = 0, To = 0;
        std::size_t CoveredFrom = 0, CoveredTo = 0;
    };
    // A chunk whose bytes (or text) are in the backlog.
    struct TKept {
        TUnwrittenChunk Chunk;
        std::uint64_t Start = 0, End = 0;  // where its bytes or text are in what the file is given
        // Text: what its text covers where; Covered, the bytes whose text
        // the file took at once.
        std::vector<TMark> Marks;
        std::size_t Covered = 0;
        bool Text = false;
        // The bytes of the chunk the file took, when it took Written bytes
        // of what it was given.
        std::size_t Taken(std::uint64_t Written) const;
    };
    // Writes what the backlog holds, as much as the pipe takes now.
    void WriteBacklog();
    void Failed(int Error);
    // Moves the file and what goes with it from From, closed then.
    void MoveFrom(TListOutput& From);
    // Watches the pipe for room again while the backlog lasts.
    void WatchBacklog();
    // The file took everything up to written_: the chunks wholly in it go.
    void ForgetTaken();

    std::unique_ptr<vcl::TFileStream> file_;
    bool raw_ = false;
    bool regular_ = false;
    std::string failure_;
    std::string backlog_;
    std::uint64_t written_ = 0;  // bytes the file took
    std::deque<TKept> kept_;
    // The text chunk being rendered (BeginChunk): its marks.
    bool marking_ = false;
    std::vector<TMark> marks_;
    std::size_t covered_ = 0, lastCovered_ = 0;
    TClock::time_point lastTaken_{};
    long queued_ = -1;  // what the reader had not taken when last seen
    std::unique_ptr<win::TWriteReadyWatch> watch_;
    bool failedMeanwhile_ = false;
    std::size_t unwrittenAtFailure_ = 0;  // what the backlog held when the pipe failed
    bool lineOpen_ = false;
};

}  // namespace terminal
