#include "script/runtime/value_lifetime.h"

#include <cstring>

#include "script/runtime/managed_blocks.h"
#include "script/runtime/variant.h"

namespace script::runtime {

void InitializeValue(void* slot, const TPSTypeRec* type) {
    if (type->RealSize > 0) std::memset(slot, 0, type->RealSize);
}

void FinalizeValues(void* first, std::uint32_t count, const TPSTypeRec* type) noexcept {
    if (!type->NeedsFinalization()) return;
    auto* p = static_cast<std::byte*>(first);
    for (std::uint32_t i = 0; i < count; ++i, p += type->RealSize) FinalizeValue(p, type);
}

void ReleaseDynArray(void* data, const TPSTypeRec* element_type) noexcept {
    if (!DropBlockRef(data)) return;
    FinalizeValues(data, static_cast<std::uint32_t>(BlockCount(data)), element_type);
    FreeBlock(data);
}

void FinalizeValue(void* slot, const TPSTypeRec* type) noexcept {
    switch (type->BaseType) {
    case btString:
    case btPChar:
        ClearStringSlot(slot);
        break;
    case btInterface: {
        auto* intf = LoadAs<IPSInterface*>(slot);
        StoreAs(slot, static_cast<IPSInterface*>(nullptr));
        if (intf != nullptr) intf->Release();
        break;
    }
    case btVariant:
        Variant::ClearSlot(slot);
        break;
    case btPointer: {
        const auto p = LoadAs<PSPointerValue>(slot);
        if (p.OwnsCopy != 0) {
            // Cleared first: the copy may hold values whose release reaches
            // back here.
            StoreAs(slot, PSPointerValue{});
            DestroyHeapValue(p.Address, p.Type);
        }
        break;
    }
    case btArray: {
        void* data = LoadAs<void*>(slot);
        // The variable no longer holds its reference either way.
        StoreAs(slot, static_cast<void*>(nullptr));
        ReleaseDynArray(data, AsArray(type).ArrayType);
        break;
    }
    case btRecord: {
        const auto& rec = AsRecord(type);
        for (std::size_t i = 0; i < rec.FieldTypes.size(); ++i) {
            if (rec.FieldTypes[i]->NeedsFinalization())
                FinalizeValue(static_cast<std::byte*>(slot) + rec.FieldOffsets[i], rec.FieldTypes[i]);
        }
        break;
    }
    case btStaticArray: {
        const auto& arr = AsStaticArray(type);
        FinalizeValues(slot, arr.Size, arr.ArrayType);
        break;
    }
    default:
        break;
    }
}

void* CreateHeapValue(const TPSTypeRec* type) {
    void* value = AllocValueStorage(type->RealSize);
    InitializeValue(value, type);
    return value;
}

void DestroyHeapValue(void* value, const TPSTypeRec* type) noexcept {
    if (value == nullptr) return;
    if (type != nullptr) FinalizeValue(value, type);
    FreeValueStorage(value);
}

void* CreateTypedHeapValue(const TPSTypeRec* type) {
    void* block = AllocValueStorage(std::uint64_t{kTypedValueHeaderBytes} + type->RealSize);
    StoreAs(block, type);
    InitializeValue(ValueOfTypedValue(block), type);
    return block;
}

void DestroyTypedHeapValue(void* block) noexcept {
    if (block == nullptr) return;
    FinalizeValue(ValueOfTypedValue(block), TypeOfTypedValue(block));
    FreeValueStorage(block);
}

void FreeTypedHeapValueList(std::unique_ptr<TPSList> list) noexcept {
    if (!list) return;
    for (std::uint32_t i = list->Count(); i > 0; --i) DestroyTypedHeapValue(list->GetItem(i - 1));
}

}  // namespace script::runtime
