#include "terminal/receive_panel_lines.h"

#include <algorithm>
#include <cstring>

#include "platform/rtl/exceptions.h"

namespace terminal {

namespace {

// Once the first page sits this far into the logical space, offsets are
// shifted back to 0 so that a panel running for days never runs out of them.
// Shifting touches every entry, so it is left for as long as the 38-bit
// offsets allow while the text held stays below 128 GB.
constexpr std::uint64_t kRebaseThreshold = std::uint64_t{1} << 36;

// How much below its limit a full store drops to: enough that drops come
// in blocks of many lines, little enough that a drop stays short.
std::size_t DropMargin(std::size_t Limit) {
    const std::size_t margin = std::clamp<std::size_t>(Limit / 256, 2 * TLineStore::PageSize,
                                                       64 * TLineStore::PageSize);
    return std::min(margin, Limit / 4);
}

}  // namespace

TLineStore::Entry TLineStore::MakeEntry(std::uint64_t Offset, const TLineRecord& Record) {
    Entry e;
    e.Time = Record.Time;
    e.Packed = (Offset & kOffsetMask) | (std::uint64_t{Record.Dir} << 40) |
               (std::uint64_t{Record.Format} << 48) | (std::uint64_t{Record.PrefixLen} << 56);
    return e;
}

void TLineStore::CheckIndex(int Index) const {
    if (Index < 0 || Index >= LineCount())
        throw rtl::EListError("List index out of bounds (" + std::to_string(Index) + ")");
}

std::uint64_t TLineStore::EndOf(std::size_t Index) const {
    return Index + 1 < entries_.size() ? OffsetOf(entries_[Index + 1]) : end_;
}

void TLineStore::Append(std::string_view Text) {
    std::size_t done = 0;
    while (done < Text.size()) {
        const std::uint64_t rel = end_ - pagesBase_;
        const std::size_t page = static_cast<std::size_t>(rel / PageSize);
        const std::size_t at = static_cast<std::size_t>(rel % PageSize);
        if (page == pages_.size()) pages_.push_back(textPool_.Take());
        const std::size_t n = std::min(PageSize - at, Text.size() - done);
        std::memcpy(pages_[page].get() + at, Text.data() + done, n);
        done += n;
        end_ += n;
    }
}

void TLineStore::TruncateTo(std::uint64_t Offset) {
    end_ = Offset;
    // Keep the pages that hold text plus the one being filled.
    const std::size_t needed = static_cast<std::size_t>((end_ - pagesBase_) / PageSize) + 1;
    while (pages_.size() > needed) {
        textPool_.Give(std::move(pages_.back()));
        pages_.pop_back();
    }
}

void TLineStore::ReleaseBefore(std::uint64_t Offset) {
    while (!pages_.empty() && pagesBase_ + PageSize <= Offset && pages_.size() > 1) {
        textPool_.Give(std::move(pages_.front()));
        pages_.pop_front();
        pagesBase_ += PageSize;
    }
    if (pagesBase_ >= kRebaseThreshold) {
        for (std::size_t k = 0; k < entries_.size(); ++k)
            SetOffset(entries_[k], OffsetOf(entries_[k]) - pagesBase_);
        end_ -= pagesBase_;
        pagesBase_ = 0;
    }
}

void TLineStore::CopyOut(std::uint64_t Offset, std::uint64_t Length, std::string& Out) const {
    while (Length > 0) {
        const std::uint64_t rel = Offset - pagesBase_;
        const std::size_t page = static_cast<std::size_t>(rel / PageSize);
        const std::size_t at = static_cast<std::size_t>(rel % PageSize);
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(PageSize - at, Length));
        Out.append(pages_[page].get() + at, n);
        Offset += n;
        Length -= n;
    }
}

void TLineStore::Overwrite(std::uint64_t Offset, std::string_view Text) {
    std::size_t done = 0;
    while (done < Text.size()) {
        const std::uint64_t rel = Offset + done - pagesBase_;
        const std::size_t page = static_cast<std::size_t>(rel / PageSize);
        const std::size_t at = static_cast<std::size_t>(rel % PageSize);
        const std::size_t n = std::min(PageSize - at, Text.size() - done);
        std::memcpy(pages_[page].get() + at, Text.data() + done, n);
        done += n;
    }
}

void TLineStore::AddLine(std::string_view Text, const TLineRecord& Record) {
    // Room for the new entry and a page of text to come.
    if (limit_ != 0 && BytesInUse() + Text.size() + PageSize + EntryBlockSize > limit_) DropForLimit();
    entries_.push_back(MakeEntry(end_, Record));
    Append(Text);
}

std::size_t TLineStore::BytesInUse() const {
    return textPool_.BlocksInUse() * PageSize + entryPool_.BlocksInUse() * EntryBlockSize;
}

void TLineStore::DropForLimit() {
    // Down to the margin below the limit, so the next drop is a block of
    // lines away. Blocks given back wait as spares for the lines to come.
    const std::size_t target = limit_ - std::min(limit_, margin_ + PageSize + EntryBlockSize);
    while (entries_.size() > 1 && BytesInUse() > target) {
        RemoveFirst();
        ++dropped_;
    }
}

void TLineStore::RemoveFirst() {
    entries_.pop_front();
    ReleaseBefore(OffsetOf(entries_.front()));
}

void TLineStore::SetMemoryLimit(std::size_t Bytes) {
    limit_ = Bytes;
    margin_ = DropMargin(Bytes);
    // The blocks a drop frees wait for the lines that follow it; together
    // with the lines kept they stay within the limit.
    const std::size_t spareBytes = limit_ == 0 ? 0 : margin_ / 2;
    textPool_.SetSpareLimit(std::max<std::size_t>(1, spareBytes / PageSize));
    entryPool_.SetSpareLimit(std::max<std::size_t>(1, spareBytes / EntryBlockSize));
}

void TLineStore::ReplaceText(std::size_t i, std::string_view Text) {
    const std::uint64_t start = OffsetOf(entries_[i]);
    const std::uint64_t oldEnd = EndOf(i);
    if (oldEnd - start == Text.size()) {
        Overwrite(start, Text);
        return;
    }
    if (i + 1 == entries_.size()) {  // the current line: the common case
        TruncateTo(start);
        Append(Text);
        return;
    }
    std::string tail;
    CopyOut(oldEnd, end_ - oldEnd, tail);
    TruncateTo(start);
    Append(Text);
    Append(tail);
    const std::uint64_t newEnd = start + Text.size();
    for (std::size_t k = i + 1; k < entries_.size(); ++k)
        SetOffset(entries_[k], OffsetOf(entries_[k]) - oldEnd + newEnd);
}

void TLineStore::PutLine(int Index, std::string_view Text) {
    CheckIndex(Index);
    const auto i = static_cast<std::size_t>(Index);
    ReplaceText(i, Text);
    SetStyle(entries_[i], 0);
}

int TLineStore::InternPrefixStyle(const TPrefixStyle& Style) {
    for (std::size_t k = 0; k < styles_.size(); ++k)
        if (styles_[k] == Style) return static_cast<int>(k + 1);
    if (styles_.size() == kMaxStyles) return 0;
    styles_.push_back(Style);
    return static_cast<int>(styles_.size());
}

void TLineStore::PutLineData(int Index, int StyleId, const TLineRecord& Record,
                             std::string_view Prefix, std::string_view Data) {
    CheckIndex(Index);
    const auto i = static_cast<std::size_t>(Index);
    if (StyleId <= 0 || static_cast<std::size_t>(StyleId) > styles_.size()) {
        std::string text(Prefix);
        text += Data;
        ReplaceText(i, text);
        StyleId = 0;
    } else {
        ReplaceText(i, Data);
    }
    Entry& e = entries_[i];
    e = MakeEntry(OffsetOf(e), Record);
    SetStyle(e, StyleId);
}

void TLineStore::AppendStyledPrefix(std::size_t Index, std::string& Out) const {
    const Entry& e = entries_[Index];
    const int style = StyleOf(e);
    if (style == 0) return;
    Out += FormatLinePrefix(styles_[static_cast<std::size_t>(style - 1)],
                            static_cast<std::uint8_t>(e.Packed >> 40), e.Time);
}

std::string TLineStore::GetLine(int Index) const {
    CheckIndex(Index);
    const auto i = static_cast<std::size_t>(Index);
    std::string out;
    const std::uint64_t start = OffsetOf(entries_[i]);
    out.reserve(static_cast<std::size_t>(EndOf(i) - start) + 16);
    AppendStyledPrefix(i, out);
    CopyOut(start, EndOf(i) - start, out);
    return out;
}

std::string TLineStore::GetLineStart(int Index, std::size_t MaxChars) const {
    CheckIndex(Index);
    const auto i = static_cast<std::size_t>(Index);
    std::string out;
    AppendStyledPrefix(i, out);
    if (out.size() >= MaxChars) {
        out.resize(MaxChars);
        return out;
    }
    const std::uint64_t start = OffsetOf(entries_[i]);
    CopyOut(start, std::min<std::uint64_t>(EndOf(i) - start, MaxChars - out.size()), out);
    return out;
}

std::size_t TLineStore::LineLength(int Index) const {
    CheckIndex(Index);
    const auto i = static_cast<std::size_t>(Index);
    const std::size_t prefix = StyleOf(entries_[i]) != 0 ? LineRecord(Index).PrefixLen : 0;
    return prefix + static_cast<std::size_t>(EndOf(i) - OffsetOf(entries_[i]));
}

TLineRecord TLineStore::LineRecord(int Index) const {
    CheckIndex(Index);
    const Entry& e = entries_[static_cast<std::size_t>(Index)];
    TLineRecord r;
    r.Time = e.Time;
    r.Dir = static_cast<std::uint8_t>(e.Packed >> 40);
    r.Format = static_cast<TDataFormat>(e.Packed >> 48);
    r.PrefixLen = static_cast<std::uint8_t>(e.Packed >> 56);
    return r;
}

void TLineStore::SetLineRecord(int Index, const TLineRecord& Record) {
    const TLineRecord old = LineRecord(Index);
    const auto i = static_cast<std::size_t>(Index);
    // A prefix made from the record would change with it: keep the text as it
    // is by storing the prefix literally first.
    if (StyleOf(entries_[i]) != 0 && (old.Dir != Record.Dir || old.Time != Record.Time ||
                                      old.PrefixLen != Record.PrefixLen)) {
        ReplaceText(i, GetLine(Index));
        SetStyle(entries_[i], 0);
    }
    Entry& e = entries_[i];
    const int style = StyleOf(e);
    e = MakeEntry(OffsetOf(e), Record);
    SetStyle(e, style);
}

void TLineStore::DeleteLine(int Index) {
    CheckIndex(Index);
    const auto i = static_cast<std::size_t>(Index);
    if (i == 0) {
        if (entries_.size() > 1) {
            RemoveFirst();
            return;
        }
        entries_.pop_front();
        // Start the text afresh; the prefix styles stay valid.
        ReleasePages();
        return;
    }
    PutLine(Index, {});
    entries_.erase(i);
}

void TLineStore::ReleasePages() {
    for (auto& page : pages_) textPool_.Give(std::move(page));
    pages_.clear();
    pagesBase_ = 0;
    end_ = 0;
}

void TLineStore::Clear() {
    entries_.clear();
    ReleasePages();
    styles_.clear();
    // Everything goes back to the system, the spares too.
    textPool_.ReleaseSpares();
    entryPool_.ReleaseSpares();
}

std::string TLineStore::LineData(int Index) const {
    CheckIndex(Index);
    const auto i = static_cast<std::size_t>(Index);
    if (StyleOf(entries_[i]) != 0) {
        std::string data;
        CopyOut(OffsetOf(entries_[i]), EndOf(i) - OffsetOf(entries_[i]), data);
        return data;
    }
    const std::string text = GetLine(Index);
    const std::size_t prefix = LineRecord(Index).PrefixLen;
    return prefix < text.size() ? text.substr(prefix) : std::string();
}

std::string TLineStore::LineBytes(int Index) const {
    return DecodeLineBytes(LineRecord(Index).Format, LineData(Index));
}

std::string TLineStore::AllText() const {
    std::string out;
    out.reserve(static_cast<std::size_t>(end_ - (entries_.empty() ? end_ : OffsetOf(entries_[0]))) +
                entries_.size() * 2);
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        const std::uint64_t start = OffsetOf(entries_[i]);
        AppendStyledPrefix(i, out);
        CopyOut(start, EndOf(i) - start, out);
        out += "\r\n";
    }
    return out;
}

std::size_t TLineStore::MemoryUsage() const {
    return (textPool_.BlocksInUse() + textPool_.Spares()) * PageSize +
           (entryPool_.BlocksInUse() + entryPool_.Spares()) * EntryBlockSize;
}

}  // namespace terminal
