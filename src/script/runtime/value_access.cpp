#include "script/runtime/value_access.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

#include "script/runtime/errors.h"
#include "script/runtime/managed_blocks.h"
#include "script/runtime/numbers.h"
#include "script/runtime/value_lifetime.h"
#include "script/runtime/variant.h"

namespace script::runtime {

bool FollowPointer(const void*& value, const TPSTypeRec*& type) {
    if (type->BaseType != btPointer) return true;
    const auto p = LoadAs<PSPointerValue>(value);
    if (p.Address == nullptr || p.Type == nullptr) return false;
    value = p.Address;
    type = p.Type;
    return true;
}

bool ReadIntegerValue(const void* v, std::uint8_t base, std::int64_t& out) {
    switch (base) {
    case btU8: case btChar: out = LoadAs<std::uint8_t>(v); return true;
    case btS8: out = LoadAs<std::int8_t>(v); return true;
    case btU16: out = LoadAs<std::uint16_t>(v); return true;
    case btS16: out = LoadAs<std::int16_t>(v); return true;
    case btU32: out = LoadAs<std::uint32_t>(v); return true;
    case btS32: out = LoadAs<std::int32_t>(v); return true;
    case btS64: out = LoadAs<std::int64_t>(v); return true;
    default: return false;
    }
}

bool ReadFloatValue(const void* v, std::uint8_t base, long double& out) {
    switch (base) {
    case btSingle: out = LoadAs<float>(v); return true;
    case btDouble: out = LoadAs<double>(v); return true;
    case btExtended: out = LoadExtended(v); return true;
    default: return false;
    }
}

void StoreFloatValue(void* v, std::uint8_t base, long double x) {
    switch (base) {
    case btSingle: StoreAs(v, NarrowToSingle(x)); break;
    case btDouble: StoreAs(v, NarrowToDouble(x)); break;
    default: StoreExtended(v, x); break;
    }
}

void ThrowTypeMismatch() { throw EPSError(kTypeMismatchText); }

namespace {

void Resolve(const void*& value, const TPSTypeRec*& type) {
    if (!FollowPointer(value, type)) ThrowTypeMismatch();
}

bool ResolveDest(void*& value, const TPSTypeRec*& type) {
    const void* v = value;
    if (!FollowPointer(v, type)) return false;
    value = const_cast<void*>(v);
    return true;
}

// Writes into a Variant; a failure of the Variant library clears ok.
template <typename MakeVariant>
void WriteVariant(void* v, bool& ok, MakeVariant make) {
    try {
        Variant::StoreIntoSlot(v, make());
    } catch (const EPSOutOfMemory&) {
        throw;
    } catch (const EPSError&) {
        ok = false;
    }
}

// The integer writers: v is the number (widened as each writer's table
// says), kind the Variant kind a Variant destination gets.
void WriteInteger(void* value, const TPSTypeRec* type, bool& ok, std::int64_t v, std::uint16_t kind) {
    if (!ResolveDest(value, type)) {
        ok = false;
        return;
    }
    switch (type->BaseType) {
    case btU8: case btS8: case btChar: StoreAs(value, static_cast<std::uint8_t>(v)); break;
    case btU16: case btS16: StoreAs(value, static_cast<std::uint16_t>(v)); break;
    case btU32: case btS32: StoreAs(value, static_cast<std::uint32_t>(v)); break;
    case btS64: StoreAs(value, v); break;
    case btSingle: case btDouble: case btExtended: StoreFloatValue(value, type->BaseType, static_cast<long double>(v)); break;
    case btCurrency: StoreAs(value, IntToCurrency(v)); break;
    case btVariant:
        WriteVariant(value, ok, [&] {
            switch (kind) {
            case varLongWord: return Variant::LongWord(static_cast<std::uint32_t>(v));
            case varInteger: return Variant::Integer(static_cast<std::int32_t>(v));
            default: return Variant::Int64(v);
            }
        });
        break;
    case btProcPtr:
        // A procedure number; the 64-bit writer has no such row.
        if (kind == varInt64) {
            ok = false;
            break;
        }
        StoreAs(value, PSProcPtrValue{static_cast<std::uint32_t>(v), 0, nullptr, nullptr});
        break;
    default: ok = false; break;
    }
}

void CopyPointer(void* dest, const void* src) {
    const auto sp = LoadAs<PSPointerValue>(src);
    const auto old = LoadAs<PSPointerValue>(dest);
    PSPointerValue fresh;
    if (sp.Address != nullptr && sp.OwnsCopy == 0) {
        fresh = sp;
    } else if (sp.Address != nullptr) {
        // The new copy is made before the old one goes: the source may be
        // the destination itself, or lie inside its copy.
        void* copy = CreateHeapValue(sp.Type);
        try {
            if (!CopyValuesOrThrow(copy, sp.Address, 1, sp.Type)) {
                DestroyHeapValue(copy, sp.Type);
                return;
            }
        } catch (...) {
            DestroyHeapValue(copy, sp.Type);
            throw;
        }
        fresh = PSPointerValue{copy, sp.Type, 1};
    }
    StoreAs(dest, fresh);
    if (old.OwnsCopy != 0) DestroyHeapValue(old.Address, old.Type);
}

// Field by field in declaration order. A field that is not copied stops
// the copy: the record is then only partly the source's, and the caller
// must not take it as copied.
bool CopyRecordFields(std::byte* dest, const std::byte* src, const TPSTypeRec_Record& rec) {
    for (std::size_t f = 0; f < rec.FieldTypes.size(); ++f)
        if (!CopyValuesOrThrow(dest + rec.FieldOffsets[f], src + rec.FieldOffsets[f], 1, rec.FieldTypes[f]))
            return false;
    return true;
}

}  // namespace

// ------------------------------------------------------------ readers

std::uint32_t PSReadUInt(const void* value, const TPSTypeRec* type) {
    Resolve(value, type);
    std::int64_t bits = 0;
    if (ReadIntegerValue(value, type->BaseType, bits)) return static_cast<std::uint32_t>(bits);
    if (type->BaseType == btVariant) {
        const Variant v = Variant::CopyFromSlot(value);
        if (v.VType() == varString) {
            // A text stands for its one character's code.
            const std::string text = v.ToString();
            if (text.size() != 1) ThrowTypeMismatch();
            return static_cast<unsigned char>(text[0]);
        }
        return static_cast<std::uint32_t>(v.ToInt64());
    }
    ThrowTypeMismatch();
}

std::int32_t PSReadInt(const void* value, const TPSTypeRec* type) {
    Resolve(value, type);
    std::int64_t bits = 0;
    if (ReadIntegerValue(value, type->BaseType, bits)) return static_cast<std::int32_t>(static_cast<std::uint32_t>(bits));
    if (type->BaseType == btVariant) return Variant::CopyFromSlot(value).ToInt32();
    ThrowTypeMismatch();
}

std::int64_t PSReadInt64(const void* value, const TPSTypeRec* type) {
    Resolve(value, type);
    std::int64_t bits = 0;
    if (ReadIntegerValue(value, type->BaseType, bits)) return bits;
    if (type->BaseType == btVariant) return Variant::CopyFromSlot(value).ToInt64();
    ThrowTypeMismatch();
}

long double PSReadReal(const void* value, const TPSTypeRec* type) {
    Resolve(value, type);
    std::int64_t bits = 0;
    long double f = 0;
    if (type->BaseType != btChar && ReadIntegerValue(value, type->BaseType, bits)) return static_cast<long double>(bits);
    if (ReadFloatValue(value, type->BaseType, f)) return f;
    if (type->BaseType == btCurrency) return CurrencyToReal(LoadAs<std::int64_t>(value));
    if (type->BaseType == btVariant) return Variant::CopyFromSlot(value).ToReal();
    ThrowTypeMismatch();
}

std::int64_t PSReadCurrency(const void* value, const TPSTypeRec* type) {
    Resolve(value, type);
    std::int64_t bits = 0;
    long double f = 0;
    if (type->BaseType != btChar && ReadIntegerValue(value, type->BaseType, bits)) return IntToCurrency(bits);
    if (ReadFloatValue(value, type->BaseType, f)) return RoundToCurrency(f);
    if (type->BaseType == btCurrency) return LoadAs<std::int64_t>(value);
    if (type->BaseType == btVariant) return Variant::CopyFromSlot(value).ToCurrency();
    ThrowTypeMismatch();
}

std::string_view PSReadText(const void* value, const TPSTypeRec* type, std::string& made) {
    Resolve(value, type);
    switch (type->BaseType) {
    case btU8: case btChar: return {static_cast<const char*>(value), 1};
    case btString: return StringSlotView(value);
    case btPChar: return PCharSlotView(value);
    case btVariant: made = Variant::CopyFromSlot(value).ToString(); return made;
    default: ThrowTypeMismatch();
    }
}

std::string PSReadString(const void* value, const TPSTypeRec* type) {
    std::string made;
    const std::string_view text = PSReadText(value, type, made);
    return text.data() == made.data() ? std::move(made) : std::string(text);
}

// ------------------------------------------------------------ writers

void PSWriteUInt(void* value, const TPSTypeRec* type, bool& ok, std::uint32_t v) {
    WriteInteger(value, type, ok, v, varLongWord);
}

void PSWriteInt(void* value, const TPSTypeRec* type, bool& ok, std::int32_t v) {
    WriteInteger(value, type, ok, v, varInteger);
}

void PSWriteInt64(void* value, const TPSTypeRec* type, bool& ok, std::int64_t v) {
    WriteInteger(value, type, ok, v, varInt64);
}

void PSWriteReal(void* value, const TPSTypeRec* type, bool& ok, long double v) {
    if (!ResolveDest(value, type)) {
        ok = false;
        return;
    }
    switch (type->BaseType) {
    case btSingle: case btDouble: case btExtended: StoreFloatValue(value, type->BaseType, v); break;
    case btCurrency: StoreAs(value, RoundToCurrency(v)); break;
    case btVariant: WriteVariant(value, ok, [&] { return Variant::Double(NarrowToDouble(v)); }); break;
    default: ok = false; break;
    }
}

void PSWriteString(void* value, const TPSTypeRec* type, bool& ok, std::string_view v) {
    if (!ResolveDest(value, type)) {
        ok = false;
        return;
    }
    switch (type->BaseType) {
    case btChar:
        if (!v.empty()) StoreAs(value, v[0]);
        break;
    case btString: SetStringSlot(value, v); break;
    case btVariant: WriteVariant(value, ok, [&] { return Variant::String(std::string(v)); }); break;
    default: ok = false; break;
    }
}

std::string PSGetVarString(const void* typed) { return PSReadString(ValueOfTypedValue(typed), TypeOfTypedValue(typed)); }

void PSSetVarString(void* typed, const std::string& v) {
    bool ok = true;
    PSWriteString(ValueOfTypedValue(typed), TypeOfTypedValue(typed), ok, v);
}

// ------------------------------------------------------------ copies

bool CopyValuesOrThrow(void* dest, const void* src, std::uint32_t count, const TPSTypeRec* type) {
    auto* d = static_cast<std::byte*>(dest);
    const auto* s = static_cast<const std::byte*>(src);
    const std::size_t size = type->RealSize;
    switch (type->BaseType) {
    case btU8: case btS8: case btChar: case btU16: case btS16: case btU32: case btS32: case btSingle:
    case btDouble: case btS64: case btCurrency: case btExtended: case btProcPtr: case btSet: case btClass:
        std::memmove(d, s, size * count);
        return true;
    default:
        break;
    }
    for (std::uint32_t i = 0; i < count; ++i, d += size, s += size) {
        switch (type->BaseType) {
        case btString:
        case btPChar:
            ShareStringSlot(d, s);
            break;
        case btVariant:
            Variant::StoreIntoSlot(d, Variant::CopyFromSlot(s));
            break;
        case btInterface: {
            auto* fresh = LoadAs<IPSInterface*>(s);
            if (fresh != nullptr) fresh->AddRef();
            auto* old = LoadAs<IPSInterface*>(d);
            StoreAs(d, fresh);
            if (old != nullptr) old->Release();
            break;
        }
        case btArray: {
            void* fresh = LoadAs<void*>(s);
            AddBlockRef(fresh);
            void* old = LoadAs<void*>(d);
            StoreAs(d, fresh);
            ReleaseDynArray(old, AsArray(type).ArrayType);
            break;
        }
        case btRecord:
            if (!CopyRecordFields(d, s, AsRecord(type))) return false;
            break;
        case btStaticArray: {
            const auto& arr = AsStaticArray(type);
            if (!CopyValuesOrThrow(d, s, arr.Size, arr.ArrayType)) return false;
            break;
        }
        case btPointer:
            CopyPointer(d, s);
            break;
        default:
            return false;
        }
    }
    return true;
}

bool CopyValues(void* dest, const void* src, std::uint32_t count, const TPSTypeRec* type) {
    try {
        return CopyValuesOrThrow(dest, src, count, type);
    } catch (...) {
        return false;
    }
}

bool CopyRecordValue(void* dest, const void* src, const TPSTypeRec* type) {
    try {
        return CopyRecordFields(static_cast<std::byte*>(dest), static_cast<const std::byte*>(src), AsRecord(type));
    } catch (...) {
        return false;
    }
}

// ------------------------------------------------------------ dynamic arrays

std::int32_t GetDynArrayLength(const void* array_slot, const TPSTypeRec* type) {
    if (type->BaseType != btArray) throw EPSError("Invalid array");
    return BlockCount(LoadAs<void*>(array_slot));
}

void SetDynArrayLength(void* array_slot, const TPSTypeRec* type, std::int64_t n) {
    if (type->BaseType != btArray) throw EPSError("Invalid array");
    const TPSTypeRec* element = AsArray(type).ArrayType;
    const std::uint64_t size = element->RealSize;
    if (n < 0) n = 0;
    if (n > std::numeric_limits<std::int32_t>::max()) throw EPSOutOfMemory();
    const auto count = static_cast<std::int32_t>(n);
    void* data = LoadAs<void*>(array_slot);
    const std::int32_t old = BlockCount(data);
    if (old == 0 && count == 0) return;

    if (old > 0 && BlockRefCount(data) == 1) {
        auto* bytes = static_cast<std::byte*>(data);
        if (count == 0) {
            StoreAs(array_slot, static_cast<void*>(nullptr));
            FinalizeValues(bytes, static_cast<std::uint32_t>(old), element);
            FreeBlock(bytes);
            return;
        }
        if (count < old) {
            FinalizeValues(bytes + size * static_cast<std::uint64_t>(count), static_cast<std::uint32_t>(old - count), element);
            try {
                data = ResizeBlock(data, size * static_cast<std::uint64_t>(old), size * static_cast<std::uint64_t>(count), count);
            } catch (const EPSOutOfMemory&) {
                // The tail is already released; the block just stays larger.
                BlockHeaderOf(data)->Count = count;
            }
        } else {
            // New elements come zero-filled, which is their initial value.
            data = ResizeBlock(data, size * static_cast<std::uint64_t>(old), size * static_cast<std::uint64_t>(count), count);
        }
        StoreAs(array_slot, data);
        return;
    }

    // No elements yet, or a block that another value shares (or that is
    // never freed): a new block, so the others keep theirs.
    if (count == 0) {
        StoreAs(array_slot, static_cast<void*>(nullptr));
        ReleaseDynArray(data, element);
        return;
    }
    void* fresh = NewBlock(size * static_cast<std::uint64_t>(count), count);
    const std::int32_t keep = std::min(old, count);
    try {
        if (keep > 0) CopyValuesOrThrow(fresh, data, static_cast<std::uint32_t>(keep), element);
    } catch (...) {
        FinalizeValues(fresh, static_cast<std::uint32_t>(count), element);
        FreeBlock(fresh);
        throw;
    }
    StoreAs(array_slot, fresh);
    ReleaseDynArray(data, element);
}

}  // namespace script::runtime
