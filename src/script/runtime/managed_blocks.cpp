#include "script/runtime/managed_blocks.h"

#include <malloc.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "script/runtime/errors.h"
#include "script/runtime/value_layout.h"

namespace script::runtime {

namespace {

std::byte* BaseOf(void* payload) { return static_cast<std::byte*>(payload) - kBlockHeaderBytes; }
const std::byte* BaseOf(const void* payload) {
    return static_cast<const std::byte*>(payload) - kBlockHeaderBytes;
}

// Block sizes are checked against the cap before this, so they fit size_t.
std::size_t BlockBytes(std::uint64_t payload_bytes) {
    const std::uint64_t total = payload_bytes + kBlockHeaderBytes;
    if (payload_bytes > kMaxValueBytes || total > kMaxValueBytes) throw EPSOutOfMemory();
    return static_cast<std::size_t>(total);
}

// The payload bytes a block holds without moving: what the allocator gave,
// which may be more than was asked for (a string grown ahead keeps its
// spare room there; only its count says how long it is).
std::uint64_t PayloadCapacity(void* payload) { return malloc_usable_size(BaseOf(payload)) - kBlockHeaderBytes; }

// A string shortened in place keeps its block while the block holds no
// more than this, or no more than four times what is left.
constexpr std::uint64_t kKeptSpareBytes = 4096;

}  // namespace

void CheckValueBytes(std::uint64_t bytes) {
    if (bytes > kMaxValueBytes) throw EPSOutOfMemory();
}

void* AllocValueStorage(std::uint64_t bytes) {
    CheckValueBytes(bytes);
    void* p = std::malloc(bytes == 0 ? 1 : static_cast<std::size_t>(bytes));
    if (p == nullptr) throw EPSOutOfMemory();
    return p;
}

void FreeValueStorage(void* p) noexcept { std::free(p); }

void* NewBlock(std::uint64_t payload_bytes, std::int32_t count) {
    const std::size_t total = BlockBytes(payload_bytes);
    auto* base = static_cast<std::byte*>(std::calloc(1, total));
    if (base == nullptr) throw EPSOutOfMemory();
    const PSBlockHeader header{1, count};
    std::memcpy(base, &header, sizeof header);
    return base + kBlockHeaderBytes;
}

void* ResizeBlock(void* payload, std::uint64_t old_payload_bytes, std::uint64_t payload_bytes,
                  std::int32_t count) {
    const std::size_t total = BlockBytes(payload_bytes);
    auto* base = static_cast<std::byte*>(std::realloc(BaseOf(payload), total));
    if (base == nullptr) throw EPSOutOfMemory();
    std::byte* data = base + kBlockHeaderBytes;
    if (payload_bytes > old_payload_bytes)
        std::memset(data + old_payload_bytes, 0, static_cast<std::size_t>(payload_bytes - old_payload_bytes));
    BlockHeaderOf(data)->Count = count;
    return data;
}

void FreeBlock(void* payload) noexcept {
    if (payload != nullptr) std::free(BaseOf(payload));
}

PSBlockHeader* BlockHeaderOf(void* payload) { return reinterpret_cast<PSBlockHeader*>(BaseOf(payload)); }
const PSBlockHeader* BlockHeaderOf(const void* payload) {
    return reinterpret_cast<const PSBlockHeader*>(BaseOf(payload));
}

std::int32_t BlockRefCount(const void* payload) {
    return payload == nullptr ? 0 : BlockHeaderOf(payload)->RefCount;
}

void AddBlockRef(void* payload) {
    if (payload == nullptr) return;
    PSBlockHeader* h = BlockHeaderOf(payload);
    if (h->RefCount > 0) ++h->RefCount;
}

bool DropBlockRef(void* payload) {
    if (payload == nullptr) return false;
    PSBlockHeader* h = BlockHeaderOf(payload);
    if (h->RefCount <= 0) return false;
    return --h->RefCount == 0;
}

// ------------------------------------------------------------ strings

PSStr NewStringOfLength(std::uint64_t length) {
    if (length == 0) return nullptr;
    if (length > kMaxValueBytes) throw EPSOutOfMemory();
    // The payload keeps one zero byte after the characters.
    return static_cast<PSStr>(NewBlock(length + 1, static_cast<std::int32_t>(length)));
}

PSStr NewString(std::string_view text) {
    if (text.empty()) return nullptr;
    // Filled at once: no zeroing first (a plug-in makes many short pieces).
    const std::size_t total = BlockBytes(std::uint64_t{text.size()} + 1);
    auto* base = static_cast<std::byte*>(std::malloc(total));
    if (base == nullptr) throw EPSOutOfMemory();
    const PSBlockHeader header{1, static_cast<std::int32_t>(text.size())};
    std::memcpy(base, &header, sizeof header);
    auto* s = reinterpret_cast<PSStr>(base + kBlockHeaderBytes);
    std::memcpy(s, text.data(), text.size());
    s[text.size()] = '\0';
    return s;
}

std::string_view StringView(const char* s) {
    if (s == nullptr) return {};
    return {s, static_cast<std::size_t>(BlockCount(s))};
}

void AddStringRef(PSStr s) { AddBlockRef(s); }

void ReleaseString(PSStr s) noexcept {
    if (DropBlockRef(s)) FreeBlock(s);
}

PSStr LoadStr(const void* slot) { return LoadAs<PSStr>(slot); }

std::string_view StringSlotView(const void* slot) { return StringView(LoadStr(slot)); }

std::string_view PCharSlotView(const void* slot) {
    const char* s = LoadStr(slot);
    if (s == nullptr) return {};
    return {s, std::strlen(s)};
}

void SetStringSlot(void* slot, std::string_view text) {
    PSStr fresh = NewString(text);
    PSStr old = LoadStr(slot);
    StoreAs(slot, fresh);
    ReleaseString(old);
}

bool TrySetStringSlot(void* slot, std::string_view text) noexcept {
    try {
        SetStringSlot(slot, text);
        return true;
    } catch (const EPSOutOfMemory&) {
        return false;
    }
}

void ShareStringSlot(void* dest, const void* src) {
    PSStr s = LoadStr(src);
    AddStringRef(s);
    PSStr old = LoadStr(dest);
    StoreAs(dest, s);
    ReleaseString(old);
}

void ClearStringSlot(void* slot) noexcept {
    PSStr old = LoadStr(slot);
    StoreAs(slot, PSStr{nullptr});
    ReleaseString(old);
}

void AppendStringSlot(void* slot, std::string_view text) {
    if (text.empty()) return;
    PSStr s = LoadStr(slot);
    const auto old_length = static_cast<std::uint64_t>(BlockCount(s));
    const std::uint64_t length = old_length + text.size();
    if (length > kMaxValueBytes) throw EPSOutOfMemory();
    if (s != nullptr && BlockRefCount(s) == 1) {
        // No other value sees the string: it grows where it is. A block
        // with no room left gets room for as much again, so that a script
        // building a long text one piece at a time (an ONRECEIVE keeping
        // buf := buf + RD) pays for each byte a bounded number of times.
        if (length + 1 > PayloadCapacity(s)) {
            constexpr std::uint64_t most = kMaxValueBytes - kBlockHeaderBytes;
            if (length + 1 > most) throw EPSOutOfMemory();
            const std::uint64_t room = std::min(std::max(length + 1, 2 * (old_length + 1)), most);
            // Growing may move the block, and text with it.
            const bool inside = text.data() >= s && text.data() <= s + old_length;
            const std::ptrdiff_t offset = inside ? text.data() - s : 0;
            s = static_cast<PSStr>(ResizeBlock(s, old_length + 1, room, static_cast<std::int32_t>(length)));
            if (inside) text = {s + offset, text.size()};
        }
        std::memmove(s + old_length, text.data(), text.size());
        s[length] = '\0';
        BlockHeaderOf(s)->Count = static_cast<std::int32_t>(length);
        StoreAs(slot, s);
        return;
    }
    PSStr fresh = NewStringOfLength(length);
    if (old_length > 0) std::memcpy(fresh, s, static_cast<std::size_t>(old_length));
    std::memcpy(fresh + old_length, text.data(), text.size());
    StoreAs(slot, fresh);
    ReleaseString(s);
}

void DeleteFromStringSlot(void* slot, std::size_t at, std::size_t count) {
    if (count == 0) return;
    PSStr s = LoadStr(slot);
    const auto length = static_cast<std::size_t>(BlockCount(s));
    const std::size_t rest = length - at - count;
    if (at + rest == 0) {
        ClearStringSlot(slot);
        return;
    }
    if (BlockRefCount(s) == 1) {
        // No other value sees the string: the tail moves down where it is.
        std::memmove(s + at, s + at + count, rest);
        const std::size_t left = at + rest;
        s[left] = '\0';
        BlockHeaderOf(s)->Count = static_cast<std::int32_t>(left);
        // A large block left mostly empty gives its room back (the system
        // shrinks it where it lies).
        const std::uint64_t capacity = PayloadCapacity(s);
        if (capacity > kKeptSpareBytes && left + 1 < capacity / 4) {
            try {
                s = static_cast<PSStr>(ResizeBlock(s, left + 1, left + 1, static_cast<std::int32_t>(left)));
                StoreAs(slot, s);
            } catch (const EPSOutOfMemory&) {
                // The block keeps its room.
            }
        }
        return;
    }
    PSStr fresh = NewStringOfLength(at + rest);
    std::memcpy(fresh, s, at);
    std::memcpy(fresh + at, s + at + count, rest);
    StoreAs(slot, fresh);
    ReleaseString(s);
}

char* UniqueStringSlot(void* slot) {
    PSStr s = LoadStr(slot);
    if (s == nullptr || BlockRefCount(s) == 1) return s;
    SetStringSlot(slot, StringView(s));
    return LoadStr(slot);
}

}  // namespace script::runtime
