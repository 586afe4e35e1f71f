#include "terminal/list_output.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <utility>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/files.h"
#include "platform/vcl/file_save.h"
#include "platform/vcl/streams.h"
#include "platform/win/write_ready.h"

namespace terminal {

namespace {

// While a pipe has not taken an output's backlog, how often it is looked
// at for a reader that takes less than a page at a time.
constexpr std::chrono::milliseconds kBacklogLook{50};

// Writes as much of Data as a descriptor opened without waiting takes now;
// Done counts it. 0, or the system's error number (nothing taken: EIO).
int WriteWhatFits(int Fd, std::string_view Data, std::size_t& Done) {
    while (Done < Data.size()) {
        const ssize_t n = rtl::WriteSome(Fd, Data.data() + Done, Data.size() - Done);
        if (n > 0) {
            Done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
        return n == 0 ? EIO : errno;
    }
    return 0;
}

}  // namespace

TListOutput::TListOutput() = default;
TListOutput::~TListOutput() = default;

void TListOutput::Open(const std::string& FileName, TListFileType Type) {
    if (Type == TListFileType::Internal) throw rtl::Exception(OutputNotSupportedText);
    // One open, locked before it is emptied: made empty and opened anew, a
    // file another program writes would lose its start before the lock
    // refused us. Others may watch it grow but not write into it.
    auto file = std::make_unique<vcl::TFileStream>(FileName, vcl::fmCreate | vcl::fmShareDenyWrite);
    // A pipe or device stays open without waiting (the stream keeps it so):
    // a reader that stops reading must not hold the window for good.
    struct stat st {};
    const bool regular = ::fstat(file->Handle(), &st) == 0 && S_ISREG(st.st_mode);
    // Nothing of a file written before goes on into this one.
    Close();
    failure_.clear();
    failurePending_ = false;
    written_ = 0;
    NamedPeer = 0;
    Words.Reset();
    file_ = std::move(file);
    name_ = FileName;
    regular_ = regular;
    raw_ = Type == TListFileType::Binary;
}

void TListOutput::Close() {
    watch_.reset();
    file_.reset();
    regular_ = false;
    backlog_.clear();
    kept_.clear();
    marking_ = false;
    marks_.clear();
    lineOpen_ = false;
}

bool TListOutput::Holds(const std::string& FileName) const {
    struct stat open {}, named {};
    return file_ && ::fstat(file_->Handle(), &open) == 0 &&
           ::stat(rtl::SysPath(FileName).c_str(), &named) == 0 && open.st_dev == named.st_dev &&
           open.st_ino == named.st_ino;
}

bool TListOutput::Write(std::string_view Data) {
    if (!file_) return false;
    if (!Data.empty()) lineOpen_ = Data.back() != '\r';
    if (regular_) {
        // A regular file never waits (nothing here turns the loop: the
        // receive path must not be entered again).
        const rtl::TWriteWaitTurns noTurns(nullptr);
        std::size_t done = 0;
        const int error = rtl::WriteAll(file_->Handle(), Data, StallLimit, &done);
        written_ += done;
        if (error) {
            Failed(error, Data.size() - done);
            return false;
        }
        return true;
    }
    // Behind a backlog, in order; the caller holds back further pieces.
    if (HasBacklog()) {
        backlog_ += Data;
        return true;
    }
    std::size_t done = 0;
    const int error = WriteWhatFits(file_->Handle(), Data, done);
    written_ += done;
    if (error) {
        Failed(error, Data.size() - done);
        return false;
    }
    if (done == Data.size()) return true;
    // Full for now: the rest waits here, and the stall counts from now.
    backlog_.assign(Data.substr(done));
    lastTaken_ = TClock::now();
    queued_ = rtl::QueuedForReader(file_->Handle());
    WatchBacklog();
    return true;
}

void TListOutput::Put(std::string_view Text, std::size_t Covered, std::size_t Tokens) {
    const std::uint64_t from = Given();
    // Text the file refused covers nothing: its bytes come back.
    if (!Write(Text) || !marking_) return;
    // Text the file took at once covers its bytes for good; what waits in
    // the backlog is marked by where it is.
    if (!HasBacklog())
        covered_ = Covered;
    else if (Covered > lastCovered_)
        marks_.push_back({from, Given(), lastCovered_, Covered, Tokens});
    lastCovered_ = Covered;
}

void TListOutput::BeginChunk() {
    // A regular file takes everything at once, or fails part-way (a full
    // disk): either way what it took is known.
    marking_ = static_cast<bool>(file_);
    marks_.clear();
    covered_ = lastCovered_ = 0;
}

void TListOutput::KeepUntilWritten(TUnwrittenChunk Chunk, std::uint64_t Start) {
    const bool text = std::exchange(marking_, false);
    // Taken whole, or given to no file at all.
    if (!failurePending_ && (!file_ || Given() <= written_)) return;
    TKept k;
    k.Text = text || Chunk.Rendered || Chunk.Lone || Chunk.Line;
    k.Start = Start;
    k.End = Given();
    // A line the file failed on (or after) never reached it whole.
    if (Chunk.Line && failurePending_) k.End = std::numeric_limits<std::uint64_t>::max();
    k.Covered = covered_;
    k.Marks = std::move(marks_);
    marks_.clear();
    k.Chunk = std::move(Chunk);
    kept_.push_back(std::move(k));
}

void TListOutput::ForgetTaken() {
    while (!kept_.empty() && kept_.front().End <= written_) kept_.pop_front();
}

std::size_t TListOutput::TKept::Taken(std::uint64_t Written) const {
    // A line is taken whole or not at all.
    if (Chunk.Line) return Written >= End ? Chunk.Bytes.size() : 0;
    // A binary chunk's bytes up to what was written.
    if (!Text) {
        const std::uint64_t taken = Written > Start ? Written - Start : 0;
        return static_cast<std::size_t>(std::min<std::uint64_t>(taken, Chunk.Bytes.size()));
    }
    // A text chunk's bytes whose token's whole text was written. A run of
    // tokens of one width is taken token by token; a token that covers two
    // bytes (a word) is taken with both or not at all.
    std::size_t taken = Covered;
    for (const TMark& m : Marks) {
        if (m.To <= Written) {
            taken = std::max(taken, m.CoveredTo);
        } else if (m.From < Written && m.Tokens > 1) {
            const std::uint64_t length = m.To - m.From;
            const std::size_t bytes = m.CoveredTo - m.CoveredFrom;
            if (length % m.Tokens == 0 && bytes % m.Tokens == 0) {
                const std::uint64_t whole = (Written - m.From) / (length / m.Tokens);
                taken = std::max(taken, m.CoveredFrom + static_cast<std::size_t>(whole) * (bytes / m.Tokens));
            }
        }
    }
    return taken;
}

std::vector<TUnwrittenChunk> TListOutput::TakeFailedChunks() {
    failurePending_ = false;
    std::vector<TUnwrittenChunk> out;
    for (TKept& k : kept_) {
        const std::size_t taken = k.Taken(written_);
        if (taken >= k.Chunk.Bytes.size()) continue;
        if (taken > 0) {
            // Cut after a whole token: the word the chunk's first byte
            // completed is in the file.
            k.Chunk.Bytes.erase(0, taken);
            k.Chunk.Begun = {};
        }
        out.push_back(std::move(k.Chunk));
    }
    kept_.clear();
    return out;
}

void TListOutput::WatchBacklog() {
    if (!watch_) watch_ = std::make_unique<win::TWriteReadyWatch>(file_->Handle(), [this] { WriteBacklog(); });
    // The pipe's room comes by the notifier; a reader that takes a little
    // at a time, or nothing, is looked at by the clock.
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(lastTaken_ + StallLimit - TClock::now());
    watch_->Arm(std::clamp(left, std::chrono::milliseconds(1), kBacklogLook));
}

void TListOutput::WriteBacklog() {
    if (!file_ || !HasBacklog()) return;
    std::size_t done = 0;
    int error = WriteWhatFits(file_->Handle(), backlog_, done);
    const TClock::time_point now = TClock::now();
    // A reader that takes less than a page of the pipe at a time makes no
    // room for a write, but takes all the same.
    const long queued = rtl::QueuedForReader(file_->Handle());
    if (done > 0 || (queued >= 0 && queued_ >= 0 && queued < queued_)) lastTaken_ = now;
    queued_ = queued;
    if (done > 0) {
        backlog_.erase(0, done);
        written_ += done;
        ForgetTaken();
    }
    if (error == 0 && HasBacklog() && now - lastTaken_ >= StallLimit) error = rtl::WriteStalled;
    if (error != 0) {
        // The watch stays (disarmed) until the output is freed: this runs
        // inside the watch's own call. Failed asks for the settling.
        std::unique_ptr<win::TWriteReadyWatch> watch = std::move(watch_);
        Failed(error, 0);
        watch_ = std::move(watch);
        return;
    }
    if (HasBacklog()) {
        WatchBacklog();
        return;
    }
    if (OnSettle) OnSettle(*this);
}

std::size_t TListOutput::Finish() {
    // One that failed since the window closed, and was never settled.
    std::size_t unwritten = failurePending_ ? unwrittenAtFailure_ : 0;
    if (file_ && HasBacklog()) {
        if (watch_) watch_->Disarm();
        // Nothing runs between the waits: the window is gone.
        const rtl::TWriteWaitTurns noTurns(nullptr);
        std::size_t done = 0;
        if (const int error = rtl::WriteAll(file_->Handle(), backlog_, StallLimit, &done)) {
            failure_ = vcl::SaveErrorText(file_->FileName(), error);
            unwritten = backlog_.size() - done;
        }
    }
    Close();
    return unwritten;
}

void TListOutput::Failed(int Error, std::size_t Unwritten) {
    failure_ = vcl::SaveErrorText(file_->FileName(), Error);
    unwrittenAtFailure_ = backlog_.size() + Unwritten;
    // What the file took and kept is known until the failure is settled;
    // the chunk being written is kept as far as it went.
    std::deque<TKept> kept = std::move(kept_);
    const bool marking = marking_;
    std::vector<TMark> marks = std::move(marks_);
    Close();
    kept_ = std::move(kept);
    marking_ = marking;
    marks_ = std::move(marks);
    failurePending_ = true;
    if (OnSettle) OnSettle(*this);
}

void TListOutput::Empty() {
    if (!file_ || !regular_) return;
    if (::ftruncate(file_->Handle(), 0) != 0) throw vcl::EFileSaveError(file_->FileName(), errno);
    file_->SetPosition(0);
    lineOpen_ = false;
    NamedPeer = 0;
}

}  // namespace terminal
