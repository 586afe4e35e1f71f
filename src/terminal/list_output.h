#pragma once
// Output to a file: the file that takes the received data while "Output to
// file" is on, as the chunks come (the binary file type, raw mode) or as the
// panel's rendered text. It may be a regular file, or a FIFO or a device
// that another program reads, which may take slowly, stop taking, or go.
//
// A write that fails is told by the output itself, whatever wrote: it
// closes, keeps what it never took, and asks to be settled (OnSettle), so
// that no writer has to look.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/rtl/file_writes.h"
#include "terminal/receive_panel.h"
#include "terminal/word_pairs.h"

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

inline constexpr const char* OutputNotSupportedText = "This file type is not supported for output";

// What was handed to an output that a pipe or device has not wholly taken
// yet: should the output fail before it does, the part not taken is shown
// in the list instead, with everything it carried, so that each byte read
// ends once, in the file or in the list, under its peer's name and paired
// as it was read.
struct TUnwrittenChunk {
    std::uint8_t Dir = 0;  // 0 main port, 1 Port2, 2 transmitted
    std::string Bytes;
    double Time = 0;
    std::uint64_t Peer = 0;
    std::string Name;       // the line that names its peer (empty: none)
    bool Rendered = false;  // went to the file as text (its graph values are in)
    // A low byte whose pair never came, on a line of its own (Bytes holds
    // it): it comes back as such.
    bool Lone = false;
    // The word its peer had begun when the chunk came, which the chunk's
    // first byte completes: given back with it while that byte is.
    TWordPair Begun;
    // A port's error line (Bytes holds its text): it comes back as such,
    // whole, unless the file took all of it.
    bool Line = false;
};

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
    // file type is not supported for output" and leaves the file alone.
    // Whatever this output held before (its file, what it kept, a failure)
    // is gone once the new file is open; the receive path opens each file
    // as an output of its own.
    void Open(const std::string& FileName, TListFileType Type);
    // Closes the file. What a pipe has not taken yet is given up.
    void Close();
    bool IsOpen() const { return static_cast<bool>(file_); }
    bool Raw() const { return raw_; }
    // The file this output writes, or wrote last (a failed one too).
    const std::string& FileName() const { return name_; }
    // Whether FileName names the file being written (by any of its names).
    bool Holds(const std::string& FileName) const;

    // Appends to the file. A regular file is written at once. A pipe or a
    // device takes what it can now; the rest stays here as the backlog
    // (HasBacklog) and goes out from the loop as the reader takes more,
    // so that a slow reader never holds the window; the caller holds back
    // further data for the file meanwhile. A write the system refuses (a
    // full disk, a pipe whose reader has gone) closes the output at once:
    // it fails (FailurePending) and asks to be settled. False when nothing
    // more goes to the file: it failed now or before.
    bool Write(std::string_view Data);
    // "Cannot write "<file>": <reason>" once the output failed.
    const std::string& Failure() const { return failure_; }
    // Empties the file and keeps it open ("Clear" while output is on); a
    // failure raises EFileSaveError naming the file and the reason. A pipe
    // or a device has nothing to empty. The file names the next peer anew.
    void Empty();

    // Text output, as the panel's sink: Write, with how much of the chunk
    // being shown the text covers (see BeginChunk).
    void Put(std::string_view Text, std::size_t Covered, std::size_t Tokens) override;
    // The last line written to the file is not ended yet (the next line's
    // "\r" ends it).
    bool LineOpen() const override { return lineOpen_; }

    // What a pipe or device has not taken yet.
    bool HasBacklog() const { return !backlog_.empty(); }
    // Data for this output must wait: the pipe has not taken the backlog
    // yet, or the output failed and that is not settled yet.
    bool Holding() const { return HasBacklog() || failurePending_; }
    // Bytes given to the file so far (taken, or in the backlog): where the
    // next chunk starts in what the file is given.
    std::uint64_t Given() const { return written_ + backlog_.size(); }
    // A chunk is about to be written or rendered into the file: what each
    // Put covers of it is noted, so that a file that fails before taking
    // all of it tells which of its bytes it never got.
    void BeginChunk();
    // Chunk was given to the file from Start on (raw: as its bytes; text:
    // rendered since BeginChunk). It is kept until the file has taken it,
    // each chunk leaving as its last byte does; a chunk the file failed on
    // is kept for what it never took.
    void KeepUntilWritten(TUnwrittenChunk Chunk, std::uint64_t Start);
    // Asks the owner to settle the output later (from the loop, never from
    // inside the write): its backlog has gone, or it failed. It must not
    // free the output.
    std::function<void(TListOutput&)> OnSettle;
    // The output failed (a write refused, a reader that took nothing at all
    // for StallLimit, one that went) and that is not settled yet.
    bool FailurePending() const { return failurePending_; }
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
    // Text put while the file had not taken all it was given: from offset
    // From to To in what the file is given, Tokens tokens of one width
    // covering the chunk's bytes from CoveredFrom to CoveredTo.
    struct TMark {
        std::uint64_t From = 0, To = 0;
        std::size_t CoveredFrom = 0, CoveredTo = 0;
        std::size_t Tokens = 0;
    };
    // A chunk whose bytes (or text) the file has not wholly taken.
    struct TKept {
        TUnwrittenChunk Chunk;
        std::uint64_t Start = 0, End = 0;  // where its bytes or text are in what the file is given
        // Text: what its text covers where; Covered, the bytes whose text
        // the file took at once.
        std::vector<TMark> Marks;
        std::size_t Covered = 0;
        bool Text = false;
        // The bytes of the chunk the file took, when it took Written bytes
        // of what it was given: a byte is taken once the whole text of its
        // token is.
        std::size_t Taken(std::uint64_t Written) const;
    };
    // Writes what the backlog holds, as much as the pipe takes now.
    void WriteBacklog();
    // A write failed with Error, Unwritten bytes of what the file was
    // given not taken: the file closes; what it was given and kept stays
    // known until the failure is settled.
    void Failed(int Error, std::size_t Unwritten);
    // Watches the pipe for room again while the backlog lasts.
    void WatchBacklog();
    // The file took everything up to written_: the chunks wholly in it go.
    void ForgetTaken();

    std::unique_ptr<vcl::TFileStream> file_;
    std::string name_;
    bool raw_ = false;
    bool regular_ = false;
    std::string failure_;
    std::string backlog_;
    std::uint64_t written_ = 0;  // bytes the file took
    std::deque<TKept> kept_;
    // The chunk being rendered (BeginChunk): its marks.
    bool marking_ = false;
    std::vector<TMark> marks_;
    std::size_t covered_ = 0, lastCovered_ = 0;
    TClock::time_point lastTaken_{};
    long queued_ = -1;  // what the reader had not taken when last seen
    std::unique_ptr<win::TWriteReadyWatch> watch_;
    bool failurePending_ = false;
    std::size_t unwrittenAtFailure_ = 0;  // what the file was given and never took
    bool lineOpen_ = false;
};

}  // namespace terminal
