#include "script/runtime/variant_bridge.h"

#include <cstddef>

#include "script/runtime/managed_blocks.h"
#include "script/runtime/numbers.h"
#include "script/runtime/value_access.h"

namespace script::runtime {

namespace {

// Converts count elements into an array 0..count-1.
bool ElementsToVariant(const void* first, std::uint32_t count, const TPSTypeRec* element, Variant& v) {
    Variant array = Variant::Array(0, static_cast<std::int32_t>(count) - 1);
    const auto* p = static_cast<const std::byte*>(first);
    for (std::uint32_t i = 0; i < count; ++i, p += element->RealSize) {
        Variant e;
        if (!PSValueToVariant(p, element, e)) return false;
        array.SetElement(static_cast<std::int32_t>(i), std::move(e));
    }
    v = std::move(array);
    return true;
}

}  // namespace

bool PSValueToVariant(const void* data, const TPSTypeRec* type, Variant& v) {
    if (type != nullptr && type->BaseType == btPointer && data != nullptr) {
        const auto p = LoadAs<PSPointerValue>(data);
        data = p.Address;
        type = p.Type;
        // One level: a pointer to a pointer has no Variant form.
        if (type != nullptr && type->BaseType == btPointer) return false;
    }
    if (type == nullptr) {
        v = data == nullptr ? Variant() : Variant::Null();
        return true;
    }
    if (data == nullptr) return false;
    switch (type->BaseType) {
    case btU8: {
        const auto b = LoadAs<std::uint8_t>(data);
        v = type->ExportName == "BOOLEAN" ? Variant::Boolean(b != 0) : Variant::Byte(b);
        return true;
    }
    case btS8: v = Variant::ShortInt(LoadAs<std::int8_t>(data)); return true;
    case btU16: v = Variant::Word(LoadAs<std::uint16_t>(data)); return true;
    case btS16: v = Variant::SmallInt(LoadAs<std::int16_t>(data)); return true;
    case btU32: v = Variant::LongWord(LoadAs<std::uint32_t>(data)); return true;
    case btS32: v = Variant::Integer(LoadAs<std::int32_t>(data)); return true;
    case btS64: v = Variant::Int64(LoadAs<std::int64_t>(data)); return true;
    case btSingle: v = Variant::Double(LoadAs<float>(data)); return true;
    case btExtended: v = Variant::Double(NarrowToDouble(LoadExtended(data))); return true;
    case btDouble: {
        const auto d = LoadAs<double>(data);
        v = type->ExportName == "TDATETIME" ? Variant::Date(d) : Variant::Double(d);
        return true;
    }
    case btCurrency: v = Variant::Currency(LoadAs<std::int64_t>(data)); return true;
    case btString: v = Variant::String(StringSlotView(data)); return true;
    case btPChar: v = Variant::String(PCharSlotView(data)); return true;
    case btChar: v = Variant::String(std::string(1, LoadAs<char>(data))); return true;
    case btVariant: v = Variant::CopyFromSlot(data); return true;
    case btArray: {
        void* elements = LoadAs<void*>(data);
        return ElementsToVariant(elements, static_cast<std::uint32_t>(BlockCount(elements)), AsArray(type).ArrayType, v);
    }
    case btStaticArray:
        return ElementsToVariant(data, AsStaticArray(type).Size, AsStaticArray(type).ArrayType, v);
    default:
        return false;
    }
}

bool VariantToPSValue(TPSExec& exec, const Variant& v, const THostParam& param) {
    const void* target = param.Data;
    const TPSTypeRec* type = param.Type;
    if (type == nullptr || target == nullptr || !FollowPointer(target, type)) {
        exec.RaiseError(ErTypeMismatch);
        return false;
    }
    // The source is read in place; the assignment takes its own references.
    const VariantCell cell = v.Cell();
    return exec.AssignValue(const_cast<void*>(target), &cell, type, exec.VariantType());
}

bool VariantArrayToDynArray(TPSExec& exec, void* dest, const Variant& src, const TPSTypeRec* dest_type) {
    if (!src.IsArray() || dest_type->BaseType != btArray) return false;
    // A copy: dest may hold the only other reference to the source.
    const Variant source = src;
    const std::int32_t count = source.ElementCount();
    SetDynArrayLength(dest, dest_type, count);
    const TPSTypeRec* element = AsArray(dest_type).ArrayType;
    auto* data = static_cast<std::byte*>(LoadAs<void*>(dest));
    for (std::int32_t i = 0; i < count; ++i) {
        const Variant e = source.GetElement(source.LowBound() + i);
        const VariantCell cell = e.Cell();
        if (!exec.AssignValue(data + static_cast<std::size_t>(i) * element->RealSize, &cell, element, exec.VariantType()))
            return false;
    }
    return true;
}

}  // namespace script::runtime
