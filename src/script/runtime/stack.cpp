#include "script/runtime/stack.h"

#include <algorithm>

#include "script/runtime/errors.h"
#include "script/runtime/managed_blocks.h"
#include "script/runtime/value_access.h"
#include "script/runtime/value_layout.h"
#include "script/runtime/value_lifetime.h"

namespace script::runtime {

namespace {

// The largest item: a typed value of the largest value there may be.
constexpr std::uint64_t kMaxItemBytes = kMaxValueBytes + kTypedValueHeaderBytes;

void FinalizeItem(void* item) noexcept {
    const TPSTypeRec* type = TypeOfTypedValue(item);
    if (type != nullptr && type->NeedsFinalization()) FinalizeValue(ValueOfTypedValue(item), type);
}

// The value and type of an item for the typed accessors; an item whose type
// was never stored has nothing to read.
struct TypedItem {
    void* Value;
    const TPSTypeRec* Type;
};

TypedItem Typed(void* item) {
    const TPSTypeRec* type = TypeOfTypedValue(item);
    if (type == nullptr) ThrowTypeMismatch();
    return {ValueOfTypedValue(item), type};
}

void RequireWritten(bool ok) {
    if (!ok) ThrowTypeMismatch();
}

}  // namespace

TPSStack::~TPSStack() { Clear(); }

void* TPSStack::PushOnNewPage(std::uint32_t bytes) {
    const std::uint64_t rounded = RoundedItemBytes(bytes);
    if (rounded > kMaxItemBytes || length_ + rounded > max_bytes_) throw EPSOutOfMemory();
    const auto size = static_cast<std::uint32_t>(rounded);
    if (one_block_) {
        NextItemAddress();
        std::byte* address = block_ + length_;
        items_.push_back(Item{address, 0, size});
        length_ += size;
        if (length_ > high_water_) high_water_ = length_;
        StoreAs(address, static_cast<const TPSTypeRec*>(nullptr));
        return address;
    }
    if (pages_.empty() || pages_[page_].Size - pages_[page_].Used < size) page_ = NextPageFor(size);
    Page& page = pages_[page_];
    std::byte* address = page.Bytes.get() + page.Used;
    items_.push_back(Item{address, page_, size});
    page.Used += size;
    length_ += size;
    if (length_ > high_water_) high_water_ = length_;
    StoreAs(address, static_cast<const TPSTypeRec*>(nullptr));
    return address;
}

void TPSStack::SetOneBlock(bool on) {
    if (!items_.empty()) throw EPSError("The stack is in use");
    Clear();
    one_block_ = on;
}

void TPSStack::SetGrowingPages(bool on) {
    if (!items_.empty()) throw EPSError("The stack is in use");
    growing_pages_ = on;
}

std::byte* TPSStack::NextItemAddress() {
    if (one_block_) {
        if (block_ == nullptr) page_ = NextPageFor(0);
        return block_ + length_;
    }
    return pages_.empty() ? nullptr : pages_[page_].Bytes.get() + pages_[page_].Used;
}

void TPSStack::TrimBlock() {
    if (!one_block_ || !items_.empty() || high_water_ <= kKeptBlockBytes) return;
    pages_.clear();
    block_ = nullptr;
    page_ = 0;
    capacity_ = 0;
    high_water_ = 0;
}

std::uint32_t TPSStack::NextPageFor(std::uint32_t bytes) {
    if (one_block_) {
        // The whole limit at once: the system gives the pages as they are
        // first touched. An item beyond the limit was refused already.
        if (pages_.empty()) {
            const std::uint64_t size = std::max<std::uint64_t>(kPageBytes, (max_bytes_ + kPageBytes - 1) / kPageBytes * kPageBytes);
            Page page;
            page.Bytes = std::make_unique_for_overwrite<std::byte[]>(size);
            page.Size = static_cast<std::uint32_t>(std::min<std::uint64_t>(size, UINT32_MAX));
            block_ = page.Bytes.get();
            pages_.push_back(std::move(page));
            capacity_ = size;
        }
        (void)bytes;
        return 0;
    }
    // Pages after the top item's page hold no items: they are spares.
    const std::uint32_t next = items_.empty() ? 0 : page_ + 1;
    if (next < pages_.size()) {
        if (pages_[next].Size >= bytes) {
            pages_[next].Used = 0;
            return next;
        }
        for (std::size_t i = next; i < pages_.size(); ++i) capacity_ -= pages_[i].Size;
        pages_.resize(next);
    }
    std::uint64_t size = std::max<std::uint64_t>(kPageBytes, (std::uint64_t{bytes} + kPageBytes - 1) / kPageBytes * kPageBytes);
    if (growing_pages_) {
        const std::uint64_t grown = std::min<std::uint64_t>(kPageBytes, std::max<std::uint64_t>(kFirstSmallPageBytes, capacity_));
        size = std::max<std::uint64_t>(grown, RoundedItemBytes(bytes));
    }
    Page page;
    page.Bytes = std::make_unique_for_overwrite<std::byte[]>(size);
    page.Size = static_cast<std::uint32_t>(size);
    pages_.push_back(std::move(page));
    capacity_ += size;
    return next;
}

void TPSStack::PopReleasing() {
    // Finalised while it is still counted, so that nothing the release
    // reaches can reuse its bytes.
    FinalizeItem(items_.back().Address);
    const Item item = items_.back();
    items_.pop_back();
    length_ -= item.Bytes;
    if (one_block_) return;
    pages_[item.Page].Used = static_cast<std::uint32_t>(item.Address - pages_[item.Page].Bytes.get());
    page_ = items_.empty() ? 0 : items_.back().Page;
    DropSparePages();
}

void TPSStack::PopTo(std::uint32_t count) {
    while (items_.size() > count) Pop();
}

void TPSStack::DropSparePages() {
    // The one block stays until it is trimmed or cleared.
    if (one_block_) return;
    // Up to kSparePages ordinary pages stay for the next pushes; a page of
    // its own for a large item never does.
    std::size_t keep = items_.empty() ? 0 : page_ + 1;
    const std::size_t limit = keep + kSparePages;
    while (keep < pages_.size() && keep < limit && pages_[keep].Size == kPageBytes) ++keep;
    if (keep >= pages_.size()) return;
    for (std::size_t i = keep; i < pages_.size(); ++i) capacity_ -= pages_[i].Size;
    pages_.resize(keep);
}

void TPSStack::Clear() {
    for (auto it = items_.rbegin(); it != items_.rend(); ++it) FinalizeItem(it->Address);
    items_.clear();
    pages_.clear();
    block_ = nullptr;
    page_ = 0;
    length_ = 0;
    capacity_ = 0;
    high_water_ = 0;
}

void* TPSStack::ItemAt(std::int32_t index) const {
    const auto count = static_cast<std::int64_t>(items_.size());
    const std::int64_t at = index < 0 ? count + index : index;
    if (at < 0 || at >= count) throw EPSError(PSErrorText(erOutOfStackRange, {}));
    return items_[static_cast<std::size_t>(at)].Address;
}

std::int32_t TPSStack::GetInt(std::int32_t index) const {
    const TypedItem t = Typed(ItemAt(index));
    return PSReadInt(t.Value, t.Type);
}

long double TPSStack::GetReal(std::int32_t index) const {
    const TypedItem t = Typed(ItemAt(index));
    return PSReadReal(t.Value, t.Type);
}

std::string TPSStack::GetString(std::int32_t index) const {
    const TypedItem t = Typed(ItemAt(index));
    return PSReadString(t.Value, t.Type);
}

std::string_view TPSStack::GetText(std::int32_t index, std::string& made) const {
    const TypedItem t = Typed(ItemAt(index));
    return PSReadText(t.Value, t.Type, made);
}

void TPSStack::SetInt(std::int32_t index, std::int32_t v) {
    const TypedItem t = Typed(ItemAt(index));
    bool ok = true;
    PSWriteInt(t.Value, t.Type, ok, v);
    RequireWritten(ok);
}

void TPSStack::SetUInt(std::int32_t index, std::uint32_t v) {
    const TypedItem t = Typed(ItemAt(index));
    bool ok = true;
    PSWriteUInt(t.Value, t.Type, ok, v);
    RequireWritten(ok);
}

void TPSStack::SetInt64(std::int32_t index, std::int64_t v) {
    const TypedItem t = Typed(ItemAt(index));
    bool ok = true;
    PSWriteInt64(t.Value, t.Type, ok, v);
    RequireWritten(ok);
}

void TPSStack::SetReal(std::int32_t index, long double v) {
    const TypedItem t = Typed(ItemAt(index));
    bool ok = true;
    PSWriteReal(t.Value, t.Type, ok, v);
    RequireWritten(ok);
}

void TPSStack::SetString(std::int32_t index, std::string_view v) {
    const TypedItem t = Typed(ItemAt(index));
    bool ok = true;
    PSWriteString(t.Value, t.Type, ok, v);
    RequireWritten(ok);
}

}  // namespace script::runtime
