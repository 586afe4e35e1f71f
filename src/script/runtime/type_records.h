#pragma once
// Runtime type records: one per type entry of a loaded image, describing
// the layout of every value of that type. Everything the runtime does with
// a value goes through an (address, type record) pair.
//
// Sizes are those of x86-64 (BaseTypeSize): references (String, PChar,
// dynamic array, Class, Interface) are one pointer; Pointer, ProcPtr and the
// return address keep their words pointer-sized; Extended stays 10 bytes and
// Variant 16. Records are gap-free. A type whose values would be larger than
// kMaxValueBytes, or that nests deeper than kMaxTypeNesting, is refused by
// CalcSize, so no later size computation can overflow and no recursion over
// a value's parts can run away.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "script/compiler/image_format.h"
#include "script/runtime/interfaces.h"
#include "script/runtime/value_layout.h"

namespace script::runtime {

// How deep a type may nest (records in arrays in records ...).
inline constexpr std::uint32_t kMaxTypeNesting = 256;

// The size of one value of a base type that has a fixed size; 0 for the
// types whose size depends on the type (Record, StaticArray, Set) and for
// codes that have no values. ONE TABLE of all fixed sizes.
constexpr std::uint32_t BaseTypeSize(std::uint8_t base_type) {
    switch (base_type) {
    case btU8: case btS8: case btChar: return 1;
    case btU16: case btS16: return 2;
    case btU32: case btS32: case btSingle: return 4;
    case btDouble: case btS64: case btCurrency: return 8;
    case btExtended: return kExtendedBytes;
    case btString: case btPChar: case btArray: case btClass: case btInterface: return sizeof(void*);
    case btVariant: return 16;
    case btPointer: return sizeof(PSPointerValue);
    case btProcPtr: return sizeof(PSProcPtrValue);
    case btReturnAddress: return sizeof(PSReturnAddress);
    default: return 0;
    }
}

class TPSTypeRec;

// One typed heap value owned by an attribute (see value_lifetime.h).
struct TypedHeapValueDeleter {
    void operator()(void* block) const noexcept;
};
using TypedHeapValuePtr = std::unique_ptr<void, TypedHeapValueDeleter>;

// An attribute of a type or procedure: the attribute type's name and its
// typed constant values.
class TPSRuntimeAttribute {
public:
    std::string AttribType;  // upper case, as the image gives it
    std::uint32_t AttribTypeHash = 0;
    std::vector<TypedHeapValuePtr> Values;

    // Adds a value of the type, initialised; returns the value's address.
    void* AddValue(const TPSTypeRec* type);
};

class TPSRuntimeAttributes {
public:
    TPSRuntimeAttribute& Add(std::string_view attrib_type);
    std::size_t Count() const { return items_.size(); }
    TPSRuntimeAttribute& operator[](std::size_t i) const { return *items_[i]; }

private:
    std::vector<std::unique_ptr<TPSRuntimeAttribute>> items_;
};

class TPSTypeRec {
public:
    explicit TPSTypeRec(std::uint8_t base_type) : BaseType(base_type) {}
    virtual ~TPSTypeRec() = default;
    TPSTypeRec(const TPSTypeRec&) = delete;
    TPSTypeRec& operator=(const TPSTypeRec&) = delete;

    // Sets RealSize (and whatever the subclass derives from its parts);
    // false when the type is refused: its values would be larger than
    // kMaxValueBytes or it nests deeper than kMaxTypeNesting. The parts'
    // records must have their sizes computed first.
    virtual bool CalcSize();

    // Whether a value of this type holds something to release.
    bool NeedsFinalization() const { return needs_finalization_; }
    // 1 for a type without parts, else one more than its deepest part.
    std::uint32_t Nesting() const { return nesting_; }

    std::uint32_t ExportNameHash = 0;
    std::string ExportName;  // upper case; empty when the image gives none
    std::uint8_t BaseType;
    TPSRuntimeAttributes Attributes;
    std::uint32_t RealSize = 0;

protected:
    bool needs_finalization_ = false;
    std::uint32_t nesting_ = 1;
};

class TPSTypeRec_Record : public TPSTypeRec {
public:
    TPSTypeRec_Record() : TPSTypeRec(btRecord) {}
    bool CalcSize() override;

    std::vector<const TPSTypeRec*> FieldTypes;  // declaration order
    std::vector<std::uint32_t> FieldOffsets;    // set by CalcSize, same order
};

// A dynamic array; also the base of the static array.
class TPSTypeRec_Array : public TPSTypeRec {
public:
    TPSTypeRec_Array() : TPSTypeRec(btArray) {}
    bool CalcSize() override;

    const TPSTypeRec* ArrayType = nullptr;  // element type

protected:
    explicit TPSTypeRec_Array(std::uint8_t base_type) : TPSTypeRec(base_type) {}
};

class TPSTypeRec_StaticArray : public TPSTypeRec_Array {
public:
    TPSTypeRec_StaticArray() : TPSTypeRec_Array(btStaticArray) {}
    bool CalcSize() override;

    std::uint32_t Size = 0;         // element count
    std::uint32_t StartOffset = 0;  // the low bound, as the image gives it
};

class TPSTypeRec_Set : public TPSTypeRec {
public:
    TPSTypeRec_Set() : TPSTypeRec(btSet) {}
    bool CalcSize() override;

    std::uint32_t BitSize = 0;   // at most kMaxSetBits
    std::uint32_t ByteSize = 0;  // set by CalcSize
};

class TPSTypeRec_ProcPtr : public TPSTypeRec {
public:
    TPSTypeRec_ProcPtr() : TPSTypeRec(btProcPtr) {}
    std::string ParamInfo;  // the procedure type's signature text
};

class TPSTypeRec_Class : public TPSTypeRec {
public:
    TPSTypeRec_Class() : TPSTypeRec(btClass) {}
    std::string CN;  // class name
};

class TPSTypeRec_Interface : public TPSTypeRec {
public:
    TPSTypeRec_Interface() : TPSTypeRec(btInterface) {}
    TPSGuid Guid;
};

// A record of the class that matches a base code (a plain TPSTypeRec for
// the codes without a subclass); the caller fills the subclass's fields and
// calls CalcSize.
std::unique_ptr<TPSTypeRec> CreateTypeRec(std::uint8_t base_type);

// The subclass views; the base code must match.
inline const TPSTypeRec_Record& AsRecord(const TPSTypeRec* t) { return static_cast<const TPSTypeRec_Record&>(*t); }
inline const TPSTypeRec_Array& AsArray(const TPSTypeRec* t) { return static_cast<const TPSTypeRec_Array&>(*t); }
inline const TPSTypeRec_StaticArray& AsStaticArray(const TPSTypeRec* t) {
    return static_cast<const TPSTypeRec_StaticArray&>(*t);
}
inline const TPSTypeRec_Set& AsSet(const TPSTypeRec* t) { return static_cast<const TPSTypeRec_Set&>(*t); }
inline const TPSTypeRec_Interface& AsInterface(const TPSTypeRec* t) {
    return static_cast<const TPSTypeRec_Interface&>(*t);
}

}  // namespace script::runtime
