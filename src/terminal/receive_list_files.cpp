#include "terminal/receive_list_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <exception>
#include <utility>
#include <vector>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/file_writes.h"
#include "platform/rtl/files.h"
#include "platform/rtl/format.h"
#include "platform/rtl/numbers.h"
#include "platform/vcl/file_save.h"
#include "platform/vcl/file_text.h"
#include "platform/vcl/streams.h"
#include "platform/win/write_ready.h"
#include "terminal/receive_panel.h"

namespace terminal {

namespace {

// While a pipe has not taken an output's backlog, how often it is looked
// at for a reader that takes less than a page at a time.
constexpr std::chrono::milliseconds kBacklogLook{50};

// Files are read in blocks of this size.
constexpr std::size_t kBlockSize = 1 << 20;

// The calendar's range of date-times: 0001-01-01 to the end of 9999-12-31.
// A stamp outside it (or not a number) could not be shown as a prefix.
constexpr double kMinDateTime = -693593.0;
constexpr double kMaxDateTime = 2958466.0;

constexpr int kHexDigits = 16;
constexpr std::size_t kFieldsLen = 2 + kHexDigits;  // direction, format, time

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Calls Line(text, number) for every line of the file, numbered from 1. A
// line ends at LF, and a CR right before it belongs to the line end; a lone
// CR stays in the text (message lines may hold one). A last line without
// an end counts; an empty file has no lines. A line longer than a block is
// gathered across blocks; once HeadLen of its characters are there,
// Head(start, number) may refuse it by raising, so that a file without line
// ends is given up early instead of being read into memory whole.
template <class OnLine, class OnHead>
void ForEachFileLine(const std::string& FileName, std::size_t HeadLen, OnLine&& Line, OnHead&& Head) {
    // Only a regular file is opened, without waiting: a FIFO would hold the
    // window until something writes into it.
    vcl::TFileStream file(FileName, vcl::fmOpenRead | vcl::fmShareDenyWrite | vcl::fmRegularOnly);
    std::vector<char> block(kBlockSize);
    std::string pending;  // the start of a line that goes on in the next block
    int number = 0;
    auto emit = [&](std::string_view text) {
        if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
        Line(text, ++number);
    };
    for (;;) {
        // A failed read is an error that names the file, never an early end.
        const ssize_t got = ::read(file.Handle(), block.data(), block.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) throw rtl::EReadError(vcl::ReadErrorText(FileName, errno));
        if (got == 0) break;
        std::string_view rest(block.data(), static_cast<std::size_t>(got));
        for (std::size_t lf = rest.find('\n'); lf != std::string_view::npos; lf = rest.find('\n')) {
            if (pending.empty()) {
                emit(rest.substr(0, lf));
            } else {
                pending.append(rest.substr(0, lf));
                emit(pending);
                pending.clear();
            }
            rest.remove_prefix(lf + 1);
        }
        const bool headChecked = pending.size() >= HeadLen;
        pending.append(rest);
        if (!headChecked && pending.size() >= HeadLen) Head(std::string_view(pending), number + 1);
    }
    if (!pending.empty()) emit(pending);
}

// Reads the fields in front of a line's text (direction, format, time, TAB).
bool ParseSelfLogFields(std::string_view Line, TLineRecord& Record) {
    if (Line.size() < kFieldsLen + 1 || Line[kFieldsLen] != '\t') return false;
    const char dir = Line[0];
    const char format = Line[1];
    if (dir < '0' || dir > '2' || format < '0' || format > '7') return false;
    std::uint64_t bits = 0;
    for (int k = 0; k < kHexDigits; ++k) {
        const int digit = HexDigitValue(Line[2 + static_cast<std::size_t>(k)]);
        if (digit < 0) return false;
        bits = bits << 4 | static_cast<std::uint64_t>(digit);
    }
    const auto time = std::bit_cast<double>(bits);
    if (!std::isfinite(time) || time < kMinDateTime || time >= kMaxDateTime) return false;
    Record = TLineRecord{static_cast<std::uint8_t>(dir - '0'), time,
                         static_cast<TDataFormat>(format - '0'), 0};
    return true;
}

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

[[noreturn]] void RaiseWrongLineFormat(int Number) {
    throw rtl::Exception(rtl::Format(WrongLineFormatText, {Number}));
}

}  // namespace

TListFileType ListFileTypeOfFilter(int FilterIndex) {
    if (FilterIndex < 1 || FilterIndex > 3)
        throw rtl::EConvertError(rtl::Format("Unknown file type %d", {FilterIndex}));
    return static_cast<TListFileType>(FilterIndex);
}

// --- the internal line format --------------------------------------------------

std::string FormatSelfLogLine(const TLineRecord& Record, std::string_view Data) {
    const auto bits = std::bit_cast<std::uint64_t>(Record.Time);
    return rtl::Format("%d%d%.16x\t%s\r\n", {Record.Dir, Record.Format, bits, Data});
}

bool ParseSelfLogLine(std::string_view Line, TLineRecord& Record, std::string_view& Data) {
    if (!ParseSelfLogFields(Line, Record)) return false;
    Data = Line.substr(kFieldsLen + 1);
    return true;
}

// --- saving and loading --------------------------------------------------------

void SaveList(const TLineStore& Lines, const std::string& FileName, TListFileType Type) {
    int count = Lines.LineCount();
    // The panel's list ends with the line being filled. Left empty, it is no
    // line of the log: stored, it would come back as a stray line stamped
    // 1899-12-30, one more with every save and load.
    if (Type == TListFileType::Internal && count > 0 && Lines.LineLength(count - 1) == 0) --count;
    vcl::SaveWholeFile(FileName, [&](vcl::TSaveOutput& out) {
        for (int i = 0; i < count; ++i) {
            switch (Type) {
                case TListFileType::Text:
                    out.Write(Lines.GetLine(i));
                    out.Write("\r\n");
                    break;
                case TListFileType::Binary:
                    out.Write(Lines.LineBytes(i));
                    break;
                case TListFileType::Internal:
                    out.Write(FormatSelfLogLine(Lines.LineRecord(i), Lines.LineData(i)));
                    break;
            }
        }
    });
}

void LoadSelfLog(const std::string& FileName, TLineStore& List, const TPrefixStyle& Style,
                 const std::function<void()>& Accepted) {
    // Nothing changes until the file is open and its first line is read and
    // found sound: a file that is not a list leaves the list as it was.
    bool accepted = false;
    auto accept = [&] {
        if (std::exchange(accepted, true)) return;
        if (Accepted) Accepted();
        List.Clear();
    };
    auto checkHead = [](std::string_view start, int number) {
        TLineRecord record;
        if (!ParseSelfLogFields(start, record)) RaiseWrongLineFormat(number);
    };
    ForEachFileLine(FileName, kFieldsLen + 1, [&](std::string_view line, int number) {
        TLineRecord record;
        std::string_view data;
        if (!ParseSelfLogLine(line, record, data)) RaiseWrongLineFormat(number);
        accept();
        const std::string prefix = FormatLinePrefix(Style, record.Dir, record.Time);
        record.PrefixLen = static_cast<std::uint8_t>(prefix.size());
        List.AddLine({}, record);
        // The store makes a styled prefix again from the record, so only the
        // data characters are kept.
        const int style = prefix.empty() ? 0 : List.InternPrefixStyle(Style);
        List.PutLineData(List.LineCount() - 1, style, record, prefix, data);
    }, checkHead);
    accept();  // an empty file is an empty list
}

void LoadPanelList(const std::string& FileName, TReceivePanel& Panel, const std::function<void()>& Accepted) {
    std::exception_ptr failure;
    bool accepted = false;
    Panel.BeginUpdate();
    try {
        LoadSelfLog(FileName, Panel.Lines(), Panel.CurrentPrefixStyle(), [&] {
            accepted = true;
            if (Accepted) Accepted();
            Panel.ClearLines();
        });
    } catch (...) {
        failure = std::current_exception();
    }
    Panel.EndUpdate();
    if (accepted) {
        Panel.SyncCount(-1);
        // The panel writes its current line into the last list line; after a
        // load, complete or not, that must be a fresh line of its own.
        Panel.StartNewLine(true);
    }
    if (failure) std::rethrow_exception(failure);
}

// --- editing -------------------------------------------------------------------

int DeletePanelLine(TReceivePanel& Panel, int Index) {
    TLineStore& lines = Panel.Lines();
    const int last = lines.LineCount() - 1;
    if (Index == last && Index >= 0) {
        if (lines.LineLength(Index) > 0) {
            lines.DeleteLine(Index);
            Panel.StartNewLine(true);
        } else if (lines.LineCount() > 1) {
            lines.DeleteLine(Index - 1);
        }
    } else {
        lines.DeleteLine(Index);  // the list's index error when out of range
    }
    Panel.SyncCount(-1);
    return Index;
}

std::string CopyLineText(const TLineStore& Lines, int Index, bool WithoutPrefix) {
    return WithoutPrefix ? Lines.LineData(Index) : Lines.GetLine(Index);
}

std::string CopyAllText(const TLineStore& Lines, bool WithoutPrefix) {
    if (!WithoutPrefix) return Lines.AllText();
    std::string text;
    for (int i = 0; i < Lines.LineCount(); ++i) {
        text += Lines.LineData(i);
        text += "\r\n";
    }
    return text;
}

// --- output to a file ----------------------------------------------------------

TListOutput::TListOutput() = default;
TListOutput::~TListOutput() = default;

void TListOutput::Open(const std::string& FileName, TListFileType Type) {
    if (Type == TListFileType::Internal) throw rtl::Exception(OutputNotSupportedText);
    Close();
    failure_.clear();
    // One open, locked before it is emptied: made empty and opened anew, a
    // file another program writes would lose its start before the lock
    // refused us. Others may watch it grow but not write into it.
    auto file = std::make_unique<vcl::TFileStream>(FileName, vcl::fmCreate | vcl::fmShareDenyWrite);
    // A pipe or device stays open without waiting (the stream keeps it so):
    // a reader that stops reading must not hold the window for good.
    struct stat st {};
    const bool regular = ::fstat(file->Handle(), &st) == 0 && S_ISREG(st.st_mode);
    file_ = std::move(file);
    regular_ = regular;
    raw_ = Type == TListFileType::Binary;
}

void TListOutput::Close() {
    watch_.reset();
    file_.reset();
    raw_ = false;
    regular_ = false;
    backlog_.clear();
    written_ = 0;
    kept_.clear();
    marking_ = false;
    marks_.clear();
    lineOpen_ = false;
    NamedPeer = 0;
}

void TListOutput::MoveFrom(TListOutput& From) {
    // The watch calls back the output it was made for: the new owner makes
    // its own.
    From.watch_.reset();
    file_ = std::move(From.file_);
    raw_ = std::exchange(From.raw_, false);
    regular_ = std::exchange(From.regular_, false);
    backlog_ = std::exchange(From.backlog_, {});
    written_ = std::exchange(From.written_, 0);
    kept_ = std::exchange(From.kept_, {});
    lineOpen_ = std::exchange(From.lineOpen_, false);
    NamedPeer = std::exchange(From.NamedPeer, 0);
    failedMeanwhile_ = std::exchange(From.failedMeanwhile_, false);
    unwrittenAtFailure_ = From.unwrittenAtFailure_;
    lastTaken_ = From.lastTaken_;
    queued_ = From.queued_;
    if (HasBacklog()) WatchBacklog();
}

std::unique_ptr<TListOutput> TListOutput::Release() {
    auto other = std::make_unique<TListOutput>();
    other->StallLimit = StallLimit;
    other->OnBacklogGone = OnBacklogGone;
    other->failure_ = failure_;
    other->MoveFrom(*this);
    return other;
}

void TListOutput::TakeBack(TListOutput& From) {
    Close();
    failure_.clear();
    MoveFrom(From);
}

const std::string& TListOutput::FileName() const {
    static const std::string none;
    return file_ ? file_->FileName() : none;
}

bool TListOutput::Holds(const std::string& FileName) const {
    struct stat open {}, named {};
    return file_ && ::fstat(file_->Handle(), &open) == 0 &&
           ::stat(rtl::SysPath(FileName).c_str(), &named) == 0 && open.st_dev == named.st_dev &&
           open.st_ino == named.st_ino;
}

bool TListOutput::Write(std::string_view Data) {
    if (!file_) return true;
    if (!Data.empty()) lineOpen_ = Data.back() != '\r';
    if (regular_) {
        // A regular file never waits (nothing here turns the loop: the
        // receive path must not be entered again).
        const rtl::TWriteWaitTurns noTurns(nullptr);
        if (const int error = rtl::WriteAll(file_->Handle(), Data, StallLimit)) {
            Failed(error);
            return false;
        }
        written_ += Data.size();
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
        Failed(error);
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

void TListOutput::Put(std::string_view Text, std::size_t Covered) {
    const std::uint64_t from = Given();
    Write(Text);
    if (!marking_) return;
    // Text the file took at once covers its bytes for good; what waits in
    // the backlog is marked by where it is.
    if (!HasBacklog())
        covered_ = Covered;
    else if (Covered > lastCovered_)
        marks_.push_back({from, Given(), lastCovered_, Covered});
    lastCovered_ = Covered;
}

void TListOutput::BeginChunk() {
    // A regular file takes everything at once (or fails at once, which the
    // caller sees).
    marking_ = file_ && !regular_;
    marks_.clear();
    covered_ = lastCovered_ = 0;
}

void TListOutput::KeepUntilWritten(TUnwrittenChunk Chunk, std::uint64_t Start) {
    const bool text = std::exchange(marking_, false);
    if (!file_ || Given() <= written_) return;
    TKept k;
    k.Text = text;
    k.Start = Start;
    k.End = Given();
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
    // A binary chunk's bytes up to what was written.
    if (!Text) return Written > Start ? static_cast<std::size_t>(Written - Start) : 0;
    // A text chunk's bytes whose whole text was written: a run of tokens
    // of one width is taken token by token.
    std::size_t taken = Covered;
    for (const TMark& m : Marks) {
        if (m.To <= Written) {
            taken = std::max(taken, m.CoveredTo);
        } else if (m.From < Written) {
            const std::uint64_t bytes = m.CoveredTo - m.CoveredFrom, length = m.To - m.From;
            if (length % bytes == 0)
                taken = std::max(taken, m.CoveredFrom + static_cast<std::size_t>((Written - m.From) / (length / bytes)));
        }
    }
    return taken;
}

std::vector<TUnwrittenChunk> TListOutput::TakeFailedChunks() {
    failedMeanwhile_ = false;
    std::vector<TUnwrittenChunk> out;
    for (TKept& k : kept_) {
        const std::size_t taken = k.Taken(written_);
        if (taken >= k.Chunk.Bytes.size()) continue;
        k.Chunk.Bytes.erase(0, taken);
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
        // The file closes, and the watch stays (disarmed) until the output
        // is closed or freed: this runs inside the watch's own call. What
        // the file took and what it kept stay known for TakeFailedChunks.
        std::unique_ptr<win::TWriteReadyWatch> watch = std::move(watch_);
        unwrittenAtFailure_ = backlog_.size();
        Failed(error);
        failedMeanwhile_ = true;
        watch_ = std::move(watch);
    } else if (HasBacklog()) {
        WatchBacklog();
        return;
    }
    if (OnBacklogGone) OnBacklogGone(*this);
}

std::size_t TListOutput::Finish() {
    // A pipe that failed from the loop since the window closed.
    std::size_t unwritten = failedMeanwhile_ ? unwrittenAtFailure_ : 0;
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

void TListOutput::Failed(int Error) {
    failure_ = vcl::SaveErrorText(file_->FileName(), Error);
    // What the file took and kept is known until the failure is settled.
    std::deque<TKept> kept = std::move(kept_);
    const std::uint64_t written = written_;
    const bool marking = marking_;
    Close();
    kept_ = std::move(kept);
    written_ = written;
    marking_ = marking;
}

void TListOutput::Empty() {
    if (!file_ || !regular_) return;
    if (::ftruncate(file_->Handle(), 0) != 0) throw vcl::EFileSaveError(file_->FileName(), errno);
    file_->SetPosition(0);
    lineOpen_ = false;
    NamedPeer = 0;
}

}  // namespace terminal
