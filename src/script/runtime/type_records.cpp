#include "script/runtime/type_records.h"

#include <algorithm>

#include "script/compiler/ps_utils.h"
#include "script/runtime/managed_blocks.h"
#include "script/runtime/value_lifetime.h"

namespace script::runtime {

void TypedHeapValueDeleter::operator()(void* block) const noexcept { DestroyTypedHeapValue(block); }

void* TPSRuntimeAttribute::AddValue(const TPSTypeRec* type) {
    Values.emplace_back(CreateTypedHeapValue(type));
    return ValueOfTypedValue(Values.back().get());
}

TPSRuntimeAttribute& TPSRuntimeAttributes::Add(std::string_view attrib_type) {
    auto a = std::make_unique<TPSRuntimeAttribute>();
    a->AttribType = std::string(attrib_type);
    a->AttribTypeHash = MakeHash(attrib_type);
    items_.push_back(std::move(a));
    return *items_.back();
}

bool TPSTypeRec::CalcSize() {
    RealSize = BaseTypeSize(BaseType);
    switch (BaseType) {
    case btString: case btPChar: case btArray: case btPointer: case btVariant: case btInterface:
        needs_finalization_ = true;
        break;
    default:
        needs_finalization_ = false;
        break;
    }
    nesting_ = 1;
    return true;
}

bool TPSTypeRec_Record::CalcSize() {
    std::uint64_t offset = 0;
    std::uint32_t deepest = 0;
    bool managed = false;
    FieldOffsets.clear();
    for (const TPSTypeRec* field : FieldTypes) {
        FieldOffsets.push_back(static_cast<std::uint32_t>(offset));
        offset += field->RealSize;
        if (offset > kMaxValueBytes) return false;
        deepest = std::max(deepest, field->Nesting());
        managed = managed || field->NeedsFinalization();
    }
    if (deepest >= kMaxTypeNesting) return false;
    RealSize = static_cast<std::uint32_t>(offset);
    needs_finalization_ = managed;
    nesting_ = deepest + 1;
    return true;
}

bool TPSTypeRec_Array::CalcSize() {
    if (ArrayType == nullptr || ArrayType->Nesting() >= kMaxTypeNesting) return false;
    RealSize = BaseTypeSize(btArray);
    needs_finalization_ = true;
    nesting_ = ArrayType->Nesting() + 1;
    return true;
}

bool TPSTypeRec_StaticArray::CalcSize() {
    if (ArrayType == nullptr || ArrayType->Nesting() >= kMaxTypeNesting) return false;
    const std::uint64_t bytes = std::uint64_t{Size} * ArrayType->RealSize;
    if (bytes > kMaxValueBytes) return false;
    RealSize = static_cast<std::uint32_t>(bytes);
    needs_finalization_ = ArrayType->NeedsFinalization() && Size > 0;
    nesting_ = ArrayType->Nesting() + 1;
    return true;
}

bool TPSTypeRec_Set::CalcSize() {
    if (BitSize > kMaxSetBits) return false;
    ByteSize = SetByteSize(BitSize);
    RealSize = ByteSize;
    needs_finalization_ = false;
    nesting_ = 1;
    return true;
}

std::unique_ptr<TPSTypeRec> CreateTypeRec(std::uint8_t base_type) {
    switch (base_type) {
    case btRecord: return std::make_unique<TPSTypeRec_Record>();
    case btArray: return std::make_unique<TPSTypeRec_Array>();
    case btStaticArray: return std::make_unique<TPSTypeRec_StaticArray>();
    case btSet: return std::make_unique<TPSTypeRec_Set>();
    case btProcPtr: return std::make_unique<TPSTypeRec_ProcPtr>();
    case btClass: return std::make_unique<TPSTypeRec_Class>();
    case btInterface: return std::make_unique<TPSTypeRec_Interface>();
    default: return std::make_unique<TPSTypeRec>(base_type);
    }
}

}  // namespace script::runtime
