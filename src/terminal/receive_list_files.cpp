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

namespace {

// Writes the first Count lines into Out as a file of Type holds them.
template <class TOut>
void WriteList(const TLineStore& Lines, int Count, TListFileType Type, TOut& Out) {
    for (int i = 0; i < Count; ++i) {
        switch (Type) {
            case TListFileType::Text:
                Out.Write(Lines.GetLine(i));
                Out.Write("\r\n");
                break;
            case TListFileType::Binary:
                Out.Write(Lines.LineBytes(i));
                break;
            case TListFileType::Internal:
                Out.Write(FormatSelfLogLine(Lines.LineRecord(i), Lines.LineData(i)));
                break;
        }
    }
}

struct TByteCount {
    std::uint64_t Bytes = 0;
    void Write(std::string_view Data) { Bytes += Data.size(); }
};

}  // namespace

void SaveList(const TLineStore& Lines, const std::string& FileName, TListFileType Type) {
    int count = Lines.LineCount();
    // The panel's list ends with the line being filled. Left empty, it is no
    // line of the log: stored, it would come back as a stray line stamped
    // 1899-12-30, one more with every save and load.
    if (Type == TListFileType::Internal && count > 0 && Lines.LineLength(count - 1) == 0) --count;
    try {
        vcl::SaveWholeFile(FileName, [&](vcl::TSaveOutput& out) { WriteList(Lines, count, Type, out); });
    } catch (vcl::EFileSaveError& e) {
        // What the file never got: counted only when it failed.
        TByteCount whole;
        WriteList(Lines, count, Type, whole);
        e.Unwritten = whole.Bytes - std::min(whole.Bytes, e.Written);
        throw;
    }
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

}  // namespace terminal
