#include "script/runtime/constant_reader.h"

#include <cstring>

#include "script/runtime/managed_blocks.h"
#include "script/runtime/value_layout.h"

namespace script::runtime {

bool HasConstantForm(std::uint8_t base_type) {
    switch (base_type) {
    case btU8: case btS8: case btU16: case btS16: case btU32: case btS32: case btSingle: case btDouble:
    case btExtended: case btString: case btPChar: case btS64: case btChar: case btProcPtr: case btSet:
    case btCurrency:
        return true;
    default:
        return false;
    }
}

TPSConstantRead ReadConstantValue(std::string_view bytes, std::size_t& pos, const TPSTypeRec* type, void* value) {
    if (!HasConstantForm(type->BaseType)) return TPSConstantRead::crInvalidType;
    const std::size_t left = pos <= bytes.size() ? bytes.size() - pos : 0;
    const char* at = bytes.data() + pos;
    switch (type->BaseType) {
    case btString:
    case btPChar: {
        if (left < 4) return TPSConstantRead::crShort;
        const auto length = LoadAs<std::uint32_t>(at);
        if (left - 4 < length) return TPSConstantRead::crShort;
        // A PChar slot holds a string handle as well: its characters stay
        // alive as long as the value.
        SetStringSlot(value, std::string_view(at + 4, length));
        pos += 4 + std::size_t{length};
        return TPSConstantRead::crOk;
    }
    case btProcPtr: {
        if (left < 4) return TPSConstantRead::crShort;
        StoreAs(value, PSProcPtrValue{LoadAs<std::uint32_t>(at), 0, nullptr, nullptr});
        pos += 4;
        return TPSConstantRead::crOk;
    }
    default: {
        // Numbers and sets: their stored bytes are their value bytes.
        const std::uint32_t n = type->BaseType == btSet ? type->RealSize : FixedConstantBytes(type->BaseType);
        if (left < n) return TPSConstantRead::crShort;
        std::memcpy(value, at, n);
        pos += n;
        return TPSConstantRead::crOk;
    }
    }
}

}  // namespace script::runtime
