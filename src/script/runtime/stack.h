#pragma once
// The typed value stack of the runtime: the executor's globals, its
// temporaries and the run stack, where procedures keep their parameters,
// locals and return addresses.
//
// An item is a type record address followed by the value (a typed value,
// value_layout.h). Items lie in push order in pages of kPageBytes; an item
// that does not fit the rest of the current page starts the next page, and
// one larger than a page gets a page of its own. Pages are never moved or
// reallocated while items live in them, so the address of an item, of its
// value or of anything inside it stays valid until that item is popped, no
// matter how much is pushed after it: decoded operands, Pointer items and
// host functions hold such addresses.
//
// A stack in one block (SetOneBlock, the run stack) reserves its whole
// limit at once and lets the system give it memory as it is touched: its
// items then follow each other without a gap, so the items of a procedure's
// frame lie at byte distances from each other that their types fix.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "script/runtime/type_records.h"
#include "script/runtime/value_layout.h"

namespace script::runtime {

class TPSStack {
public:
    static constexpr std::uint32_t kPageBytes = 4096;
    // Items start at multiples of this, so every value is pointer-aligned.
    static constexpr std::uint32_t kItemAlign = sizeof(void*);
    // Pages kept for reuse after pops; more are given back.
    static constexpr std::uint32_t kSparePages = 2;

    TPSStack() = default;
    ~TPSStack();
    TPSStack(const TPSStack&) = delete;
    TPSStack& operator=(const TPSStack&) = delete;

    // Reserves an item of bytes bytes (type word included) and returns its
    // address. The type word is nil and the value bytes are not
    // initialised. Throws EPSOutOfMemory when the item would take the stack
    // beyond MaxBytes() (or is larger than any value can be).
    void* Push(std::uint32_t bytes) {
        // Inline while the current page has room: the interpreter pushes a
        // temporary for most expressions.
        const std::uint64_t rounded = RoundedItemBytes(bytes);
        if (block_ != nullptr && length_ + rounded <= max_bytes_) {
            // The one block: items follow each other.
            std::byte* address = block_ + length_;
            items_.push_back(Item{address, 0, static_cast<std::uint32_t>(rounded)});
            length_ += rounded;
            if (length_ > high_water_) high_water_ = length_;
            std::memset(address, 0, kTypedValueHeaderBytes);
            return address;
        }
        if (!one_block_ && !pages_.empty() && rounded <= pages_[page_].Size - pages_[page_].Used &&
            length_ + rounded <= max_bytes_) {
            Page& page = pages_[page_];
            std::byte* address = page.Bytes.get() + page.Used;
            items_.push_back(Item{address, page_, static_cast<std::uint32_t>(rounded)});
            page.Used += static_cast<std::uint32_t>(rounded);
            length_ += rounded;
            if (length_ > high_water_) high_water_ = length_;
            std::memset(address, 0, kTypedValueHeaderBytes);
            return address;
        }
        return PushOnNewPage(bytes);
    }
    // The bytes an item of bytes bytes takes, rounded up to kItemAlign.
    static constexpr std::uint64_t RoundedItemBytes(std::uint64_t bytes) {
        return (bytes + kItemAlign - 1) / kItemAlign * kItemAlign;
    }
    // An item of the type with an initialised value.
    void* PushType(const TPSTypeRec* type) {
        void* item = Push(kTypedValueHeaderBytes + type->RealSize);
        std::memcpy(item, &type, sizeof type);
        // Values are zero at first. Items are rounded up to kItemAlign, so
        // a small value is cleared with whole words.
        std::byte* value = static_cast<std::byte*>(item) + kTypedValueHeaderBytes;
        const std::uint64_t zero = 0;
        if (type->RealSize <= 8) {
            std::memcpy(value, &zero, 8);
        } else if (type->RealSize <= 16) {
            std::memcpy(value, &zero, 8);
            std::memcpy(value + 8, &zero, 8);
        } else {
            std::memset(value, 0, type->RealSize);
        }
        return item;
    }
    // Finalises the top item's value and removes it; nothing on an empty
    // stack.
    void Pop() {
        if (items_.empty()) return;
        const Item& top = items_.back();
        if (block_ != nullptr && HoldsNothing(top.Address)) {
            length_ -= top.Bytes;
            items_.pop_back();
            return;
        }
        // An item that holds nothing to release and does not start its page
        // leaves the page as the current one.
        Page& page = pages_[top.Page];
        if (top.Address != page.Bytes.get() && HoldsNothing(top.Address)) {
            page.Used = static_cast<std::uint32_t>(top.Address - page.Bytes.get());
            length_ -= top.Bytes;
            items_.pop_back();
            return;
        }
        PopReleasing();
    }
    // Pops the top item, which holds nothing to release (a value of a type
    // that needs no finalisation), inside the one block.
    void PopPlain() {
        length_ -= items_.back().Bytes;
        items_.pop_back();
    }
    // Pushes an item of rounded bytes (RoundedItemBytes) of a type whose
    // value the caller writes at once, inside the one block; nil when the
    // limit does not leave room.
    void* PushUnset(const TPSTypeRec* type, std::uint32_t rounded) {
        if (length_ + rounded > max_bytes_ || block_ == nullptr) return nullptr;
        std::byte* address = block_ + length_;
        items_.push_back(Item{address, 0, rounded});
        length_ += rounded;
        if (length_ > high_water_) high_water_ = length_;
        std::memcpy(address, &type, sizeof type);
        return address;
    }
    // Pushes an item of rounded bytes (RoundedItemBytes) of a small type
    // whose initial value is all zero, inside the one block; nil when the
    // limit does not leave room (Push would raise EPSOutOfMemory).
    void* PushPlain(const TPSTypeRec* type, std::uint32_t rounded) {
        auto* address = static_cast<std::byte*>(PushUnset(type, rounded));
        if (address == nullptr) return nullptr;
        const std::uint64_t zero = 0;
        for (std::uint32_t at = kTypedValueHeaderBytes; at < rounded; at += 8) std::memcpy(address + at, &zero, 8);
        return address;
    }
    // Pops until count items remain.
    void PopTo(std::uint32_t count);
    // Finalises every item, last pushed first, and frees every page.
    void Clear();

    std::uint32_t Count() const { return static_cast<std::uint32_t>(items_.size()); }
    // The item at a position from the bottom; nil when the index is not
    // below Count() (a negative index cast to unsigned never is).
    void* GetItem(std::uint32_t index) const {
        return index < items_.size() ? items_[index].Address : nullptr;
    }
    void* Top() const { return items_.empty() ? nullptr : items_.back().Address; }
    // The address at which the next item of the one block would start
    // (the block is reserved when it is not yet).
    std::byte* NextItemAddress();

    // Keeps the items in one block of MaxBytes() (reserved at the first
    // push), given back by Clear() and by TrimBlock(). Only on an empty stack.
    void SetOneBlock(bool on);
    bool OneBlock() const { return one_block_; }
    // Gives the one block back when the stack is empty and more than
    // kKeptBlockBytes of it have been used since it was reserved.
    void TrimBlock();
    static constexpr std::uint64_t kKeptBlockBytes = std::uint64_t{1} << 20;

    // Starts with a page of kFirstSmallPageBytes and doubles each new page
    // up to kPageBytes: for a stack that many objects hold and that mostly
    // keeps a few small items (the constants of one procedure), where a
    // whole page each would cost more than the items. Only on an empty stack.
    void SetGrowingPages(bool on);
    static constexpr std::uint32_t kFirstSmallPageBytes = 256;

    // Bytes that the items take, each rounded up to kItemAlign.
    std::uint64_t Length() const { return length_; }
    // Bytes of the pages held, spare pages included; of the one block, the
    // pages of it used since it was reserved.
    std::uint64_t Capacity() const {
        return one_block_ ? (high_water_ + kPageBytes - 1) / kPageBytes * kPageBytes : capacity_;
    }
    // The most bytes the items may take (Length()).
    std::uint64_t MaxBytes() const { return max_bytes_; }
    // On a stack in one block, set it before the first push (the block is
    // reserved for the limit in force then).
    void SetMaxBytes(std::uint64_t bytes) {
        if (one_block_ && !pages_.empty() && bytes > pages_[0].Size) bytes = pages_[0].Size;
        max_bytes_ = bytes;
    }

    // Typed access by position: a negative index counts from the top (-1 is
    // the top item), a non-negative one from the bottom. An index that names
    // no item raises EPSError "Out Of Stack Range". Readers and writers go
    // through a Pointer item to what it points at; a writer that cannot
    // store the value raises "Type Mismatch" and leaves the item unchanged.
    std::int32_t GetInt(std::int32_t index) const;
    long double GetReal(std::int32_t index) const;
    std::string GetString(std::int32_t index) const;
    // The text GetString reads, seen where it lies (PSReadText): valid while
    // the item is neither changed nor popped.
    std::string_view GetText(std::int32_t index, std::string& made) const;
    std::string GetAnsiString(std::int32_t index) const { return GetString(index); }
    void SetInt(std::int32_t index, std::int32_t v);
    void SetUInt(std::int32_t index, std::uint32_t v);
    void SetInt64(std::int32_t index, std::int64_t v);
    void SetReal(std::int32_t index, long double v);
    void SetString(std::int32_t index, std::string_view v);

    // The item that an accessor index names; raises as the accessors do.
    void* ItemAt(std::int32_t index) const;

private:
    struct Page {
        std::unique_ptr<std::byte[]> Bytes;
        std::uint32_t Size = 0;
        std::uint32_t Used = 0;
    };
    // 16 bytes, so that the item count is a shift of the list's byte size
    // (GetItem runs for every local variable the general path reads).
    struct Item {
        std::byte* Address;
        std::uint32_t Page;   // index in pages_
        std::uint32_t Bytes;  // rounded size
    };
    static_assert(sizeof(Item) == 16);

    void* PushOnNewPage(std::uint32_t bytes);
    // Whether an item's value holds nothing to release now (a type that
    // never does, or an empty string or a Pointer that owns no copy).
    static bool HoldsNothing(const void* item) {
        const TPSTypeRec* type = TypeOfTypedValue(item);
        if (type == nullptr || !type->NeedsFinalization()) return true;
        const void* value = ValueOfTypedValue(item);
        switch (type->BaseType) {
        case btPointer: return LoadAs<PSPointerValue>(value).OwnsCopy == 0;
        case btString:
        case btPChar: return LoadAs<const void*>(value) == nullptr;
        default: return false;
        }
    }
    void PopReleasing();
    // Makes the page after the current one (or the current one when it is
    // still empty) ready for an item of bytes bytes; returns its index.
    std::uint32_t NextPageFor(std::uint32_t bytes);
    void DropSparePages();

    std::vector<Page> pages_;
    std::uint32_t page_ = 0;  // the page the top item lies in, or the next free one
    std::vector<Item> items_;
    std::uint64_t length_ = 0;
    std::uint64_t capacity_ = 0;
    std::uint64_t max_bytes_ = UINT64_MAX;
    // The one block: its start (the first page's bytes while it is
    // reserved) and the most bytes used since it was.
    bool one_block_ = false;
    bool growing_pages_ = false;
    std::byte* block_ = nullptr;
    std::uint64_t high_water_ = 0;
};

}  // namespace script::runtime
