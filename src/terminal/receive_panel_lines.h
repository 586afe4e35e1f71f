#pragma once
// The receive panel's lines: every line's text lives in one paged text arena,
// in line order, and every line has one packed 16-byte entry (its record and
// where its text starts). A line's text ends where the next one begins, so no
// length is kept and no line owns a heap object. Appending, rewriting the last
// line and dropping the first line are cheap; rewriting or deleting a line in
// the middle moves the text behind it (a user command, not the data path).
// A data line's time and direction prefix is not stored as text: it is made
// again from the line's record and one of a few remembered prefix styles, so
// a line costs its data characters and its entry.
// Pages and entries live in blocks taken from the system: clearing the store
// gives its memory back. With a memory limit set, adding a line that would
// take the store past it first drops the oldest lines, a block of them at a
// time, so that a capture of any length stays within the limit.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>

#include "terminal/line_blocks.h"
#include "terminal/receive_format.h"

namespace terminal {

// The record of one panel line.
struct TLineRecord {
    std::uint8_t Dir = 0;  // 0 main port, 1 second port, 2 transmitted
    double Time = 0;       // date-time of the line's first token
    TDataFormat Format = 0;
    std::uint8_t PrefixLen = 0;  // characters of time and direction prefix
};

class TLineStore {
public:
    TLineStore() = default;
    TLineStore(const TLineStore&) = delete;
    TLineStore& operator=(const TLineStore&) = delete;

    int LineCount() const { return static_cast<int>(entries_.size()); }

    void AddLine(std::string_view Text, const TLineRecord& Record);
    // Index out of range raises rtl::EListError, as the string list does.
    void PutLine(int Index, std::string_view Text);

    // A number (1 to 3) for a prefix style, so that lines can have their
    // prefix made on demand; 0 when the style table is full.
    int InternPrefixStyle(const TPrefixStyle& Style);
    // Sets a line to the prefix of style StyleId (from InternPrefixStyle) for
    // Record followed by Data; Record.PrefixLen must be that prefix's length.
    // StyleId 0 stores Prefix literally instead.
    void PutLineData(int Index, int StyleId, const TLineRecord& Record, std::string_view Prefix,
                     std::string_view Data);
    std::string GetLine(int Index) const;
    // The first MaxChars characters of a line's text (prefix included), or
    // all of a shorter one: the cost follows MaxChars, not the line.
    std::string GetLineStart(int Index, std::size_t MaxChars) const;
    TLineRecord LineRecord(int Index) const;
    void SetLineRecord(int Index, const TLineRecord& Record);
    void DeleteLine(int Index);
    void Clear();

    // The text after the prefix (PrefixLen characters, or all of a shorter text).
    std::string LineData(int Index) const;
    // The bytes the line's text stands for (see DecodeLineBytes).
    std::string LineBytes(int Index) const;
    // Every line followed by CR LF.
    std::string AllText() const;

    // Length of a line's text without copying it.
    std::size_t LineLength(int Index) const;
    // Bytes of memory held: text pages and entry blocks, in use or kept for
    // reuse.
    std::size_t MemoryUsage() const;

    // The most memory the store may hold (0: no limit). Adding a line that
    // could take it past the limit first drops the oldest lines (never the
    // last one) until a margin is free again, so drops come in blocks.
    void SetMemoryLimit(std::size_t Bytes);
    std::size_t MemoryLimit() const { return limit_; }
    // Lines dropped for the limit since the store was made (never goes back,
    // not even on Clear): whoever shows the lines by index follows it.
    std::uint64_t DroppedLines() const { return dropped_; }

    static constexpr std::size_t PageSize = 1024 * 1024;
    static constexpr std::size_t EntryBlockSize = 1024 * 1024;

private:
    // One line: its time stamp, and packed into 64 bits the logical offset of
    // its stored text (38 bits), its prefix style (2 bits, 0 = the prefix is
    // part of the stored text), Dir, Format and PrefixLen (8 bits each).
    struct Entry {
        double Time;
        std::uint64_t Packed;
    };
    static_assert(sizeof(Entry) == 16);

    static constexpr unsigned kOffsetBits = 38;
    static constexpr std::uint64_t kOffsetMask = (std::uint64_t{1} << kOffsetBits) - 1;
    static constexpr std::uint64_t kStyleMask = std::uint64_t{3} << kOffsetBits;
    static constexpr std::size_t kMaxStyles = 3;

    static int StyleOf(const Entry& E) { return static_cast<int>((E.Packed & kStyleMask) >> kOffsetBits); }
    static void SetStyle(Entry& E, int Style) {
        E.Packed = (E.Packed & ~kStyleMask) | (std::uint64_t(Style) << kOffsetBits);
    }
    // Appends line Index's prefix when it is made from a style.
    void AppendStyledPrefix(std::size_t Index, std::string& Out) const;
    void ReplaceText(std::size_t Index, std::string_view Text);

    static std::uint64_t OffsetOf(const Entry& E) { return E.Packed & kOffsetMask; }
    static void SetOffset(Entry& E, std::uint64_t Offset) {
        E.Packed = (E.Packed & ~kOffsetMask) | (Offset & kOffsetMask);
    }
    static Entry MakeEntry(std::uint64_t Offset, const TLineRecord& Record);

    void CheckIndex(int Index) const;
    std::uint64_t EndOf(std::size_t Index) const;

    // The text arena: logical offsets [base_, end_) live in pages_, page k
    // starting at pagesBase_ + k * PageSize.
    void Append(std::string_view Text);
    void TruncateTo(std::uint64_t Offset);
    void ReleaseBefore(std::uint64_t Offset);
    void CopyOut(std::uint64_t Offset, std::uint64_t Length, std::string& Out) const;
    void Overwrite(std::uint64_t Offset, std::string_view Text);

    // Removes line 0 (there must be another line behind it).
    void RemoveFirst();
    // Gives every text page back and starts the text afresh.
    void ReleasePages();
    // Memory the lines take now, spare blocks left out.
    std::size_t BytesInUse() const;
    void DropForLimit();

    // The pools first: the containers, which give their blocks back to them,
    // are destroyed before them.
    TBlockPool textPool_{PageSize};
    TBlockPool entryPool_{EntryBlockSize};
    TBlockQueue<Entry> entries_{entryPool_};
    std::deque<TBlockPool::TBlock> pages_;
    std::deque<TPrefixStyle> styles_;  // style k + 1 is styles_[k]
    std::uint64_t pagesBase_ = 0;  // logical offset of pages_[0]
    std::uint64_t end_ = 0;        // logical end of the text
    std::size_t limit_ = 0;
    std::size_t margin_ = 0;  // what a drop frees below the limit
    std::uint64_t dropped_ = 0;
};

}  // namespace terminal
