#pragma once
// The byte layout of script values inside their slots. Slots lie wherever
// the runtime puts them (record fields follow each other without gaps), so
// every value is read and written with memcpy and never through a pointer
// of its own type.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

namespace script::runtime {

class TPSTypeRec;
class TPSProcRec;
class TPSDecodedCode;

template <typename T>
T LoadAs(const void* slot) {
    static_assert(std::is_trivially_copyable_v<T>);
    T v;
    std::memcpy(&v, slot, sizeof v);
    return v;
}

template <typename T>
void StoreAs(void* slot, const T& v) {
    static_assert(std::is_trivially_copyable_v<T>);
    std::memcpy(slot, &v, sizeof v);
}

// Extended is the 10-byte x87 format, which long double holds on x86-64.
static_assert(std::numeric_limits<long double>::digits == 64, "Extended needs the x87 format");
inline constexpr std::uint32_t kExtendedBytes = 10;

inline long double LoadExtended(const void* slot) {
    long double v = 0;
    std::memcpy(&v, slot, kExtendedBytes);
    return v;
}

inline void StoreExtended(void* slot, long double v) { std::memcpy(slot, &v, kExtendedBytes); }

// Pointer (base 13): the target's address and type record, and whether the
// target is a heap copy that this pointer owns and frees.
struct PSPointerValue {
    void* Address = nullptr;
    const TPSTypeRec* Type = nullptr;
    std::uint64_t OwnsCopy = 0;
};
static_assert(sizeof(PSPointerValue) == 24);

// ProcPtr (base 21): a script procedure number, or (number 0) a host method
// given by its code and object.
struct PSProcPtrValue {
    std::uint32_t ProcNo = 0;
    std::uint32_t Reserved = 0;
    void* Code = nullptr;
    void* Object = nullptr;
};
static_assert(sizeof(PSProcPtrValue) == 24);

// The interpreter's return address (base 0): the caller's procedure, its
// position after the call and its stack base; and the form of the caller's
// code that runs (nil: its general form) with the number of the
// instruction at that position in it.
struct PSReturnAddress {
    const TPSProcRec* Proc = nullptr;
    std::uint32_t Position = 0;
    std::int32_t StackBase = 0;
    TPSDecodedCode* Code = nullptr;
    std::uint32_t Instr = 0;
    std::uint32_t Reserved = 0;
};
static_assert(sizeof(PSReturnAddress) == 32);

// A typed value (a typed heap value, a stack item): the type record's
// address, then the value.
inline constexpr std::uint32_t kTypedValueHeaderBytes = sizeof(const TPSTypeRec*);

inline const TPSTypeRec* TypeOfTypedValue(const void* typed) { return LoadAs<const TPSTypeRec*>(typed); }
inline void* ValueOfTypedValue(void* typed) { return static_cast<std::byte*>(typed) + kTypedValueHeaderBytes; }
inline const void* ValueOfTypedValue(const void* typed) {
    return static_cast<const std::byte*>(typed) + kTypedValueHeaderBytes;
}

}  // namespace script::runtime
