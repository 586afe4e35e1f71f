#pragma once
// The storage behind script values that live outside their slot: heap
// values, and the reference-counted blocks of strings, PChars, dynamic
// arrays and Variant arrays.
//
// A slot holds raw bytes that the runtime copies freely, so a managed value
// in a slot is a bare handle: the address of the first payload byte of a
// block, or nil for an empty string or array. In front of the payload lies
// the block header:
//
//     refcount (i32) | count (i32) | payload ...
//
// The count is the string length or the element count. A string's payload
// is its characters followed by one zero byte, so a String or PChar handle is
// also a zero-terminated C string; a string grown by appending may have
// spare room behind that byte, which its count leaves out. A block whose reference count is negative
// belongs to no value and is never freed.
//
// Every allocation is checked against kMaxValueBytes, computed in 64 bits:
// a script asking for more (SetLength, string growth, padding) gets
// EPSOutOfMemory, which becomes runtime error 19, instead of a short block or
// the system's out-of-memory killer.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace script::runtime {

// The largest value, heap copy or managed block the runtime makes.
inline constexpr std::uint64_t kMaxValueBytes = std::uint64_t{256} << 20;

// Throws EPSOutOfMemory when bytes is over the cap.
void CheckValueBytes(std::uint64_t bytes);

// ------------------------------------------------------------ heap values

// Raw storage for one value (a heap copy); at least one byte is allocated.
// Throws EPSOutOfMemory over the cap or when the system refuses.
void* AllocValueStorage(std::uint64_t bytes);
void FreeValueStorage(void* p) noexcept;

// ------------------------------------------------------------ managed blocks

struct PSBlockHeader {
    std::int32_t RefCount;
    std::int32_t Count;
};
inline constexpr std::size_t kBlockHeaderBytes = sizeof(PSBlockHeader);

// A new block with reference count 1 and the given count; the payload is
// zero-filled. Returns the payload address. Throws EPSOutOfMemory when
// payload + header is over the cap.
void* NewBlock(std::uint64_t payload_bytes, std::int32_t count);
// Resizes a block that only the caller references; the payload up to the
// smaller size remains and the bytes beyond old_payload_bytes are zero.
// Throws EPSOutOfMemory (leaving the block as it was) over the cap or when
// the system refuses.
void* ResizeBlock(void* payload, std::uint64_t old_payload_bytes, std::uint64_t payload_bytes,
                  std::int32_t count);
// Frees the block of a payload address (nil is ignored).
void FreeBlock(void* payload) noexcept;

PSBlockHeader* BlockHeaderOf(void* payload);
const PSBlockHeader* BlockHeaderOf(const void* payload);
// Count of a block; 0 for nil.
inline std::int32_t BlockCount(const void* payload) {
    if (payload == nullptr) return 0;
    return reinterpret_cast<const PSBlockHeader*>(static_cast<const std::byte*>(payload) - kBlockHeaderBytes)->Count;
}
std::int32_t BlockRefCount(const void* payload);
// Adds a reference (nil and never-freed blocks are left alone).
void AddBlockRef(void* payload);
// Drops a reference; true when it was the last one, so that the caller
// finalises the payload and frees the block. Nil and never-freed blocks
// answer false.
bool DropBlockRef(void* payload);

// ------------------------------------------------------------ strings

// A String or PChar value: nil, or the characters of a string block.
using PSStr = char*;

// A new string block holding text (nil for empty text).
PSStr NewString(std::string_view text);
// A new string block of the given length, zero-filled, for the caller to fill.
PSStr NewStringOfLength(std::uint64_t length);
std::string_view StringView(const char* s);
void AddStringRef(PSStr s);
void ReleaseString(PSStr s) noexcept;

// String slots: the slot holds a PSStr.
PSStr LoadStr(const void* slot);
std::string_view StringSlotView(const void* slot);
// The text of a PChar slot: up to its first zero byte.
std::string_view PCharSlotView(const void* slot);
// Replaces the slot's string with text; the old string is released after the
// new one is in place.
void SetStringSlot(void* slot, std::string_view text);
// dest takes src's string by reference. Self- and alias-safe: the new
// reference is taken before the old one is dropped.
void ShareStringSlot(void* dest, const void* src);
void ClearStringSlot(void* slot) noexcept;
// Appends text to the slot's string: in place when no other value holds
// the string, else into a new string. text may lie in the string itself.
void AppendStringSlot(void* slot, std::string_view text);
// Replaces the slot's string with text as SetStringSlot does; false, with
// the slot as it was, when the text cannot be had (EPSOutOfMemory).
bool TrySetStringSlot(void* slot, std::string_view text) noexcept;
// The characters Copy(s, from, count) gives: from counts from 1 (below 1
// is 1), and the piece ends at the end of s.
inline std::string_view CopySlice(std::string_view s, std::int32_t from, std::int32_t count) {
    if (from < 1) from = 1;
    const auto length = static_cast<std::int64_t>(s.size());
    if (count <= 0 || from > length) return {};
    const std::int64_t take = count < length - from + 1 ? count : length - from + 1;
    return s.substr(static_cast<std::size_t>(from - 1), static_cast<std::size_t>(take));
}
// Removes count characters from at (0-based; at + count within the
// string): in place when no other value holds the string, else the rest is
// made once into a new string. A string left empty becomes nil.
void DeleteFromStringSlot(void* slot, std::size_t at, std::size_t count);
// Makes the slot's string unshared (copying it when another value holds it)
// and returns its characters for writing; nil for an empty string.
char* UniqueStringSlot(void* slot);

}  // namespace script::runtime
