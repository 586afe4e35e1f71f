// The Compare instruction: the left operand's base type chooses how the
// two values are compared, and the right operand is read towards it.
#include <cstring>
#include <string>
#include <string_view>

#include "script/runtime/exec.h"
#include "script/runtime/managed_blocks.h"
#include "script/runtime/operators.h"
#include "script/runtime/value_access.h"
#include "script/runtime/value_layout.h"
#include "script/runtime/variant.h"
#include "script/runtime/variant_bridge.h"

namespace script::runtime {

namespace {

bool IsEquality(std::uint8_t op) { return op == coEqual || op == coNotEqual; }


// Strings compare ordinally: bytes as unsigned values, a prefix first.
bool TextRelation(std::uint8_t op, std::string_view a, std::string_view b) { return Relation(op, a, b); }

bool VariantRelation(std::uint8_t op, const Variant& a, const Variant& b) {
    if (IsEquality(op)) return VarEquals(a, b) == (op == coEqual);
    const TVarOrder order = VarCompare(a, b);
    switch (op) {
    case coGreaterEqual: return order == TVarOrder::Greater || order == TVarOrder::Equal;
    case coLessEqual: return order == TVarOrder::Less || order == TVarOrder::Equal;
    case coGreater: return order == TVarOrder::Greater;
    default: return order == TVarOrder::Less;
    }
}

std::string_view OneChar(const void* value) { return {static_cast<const char*>(value), 1}; }

void RequireEquality(std::uint8_t op) {
    if (!IsEquality(op)) ThrowRuntimeFault(ErTypeMismatch);
}

// An S32 left: the right is taken at its own width.
bool CompareS32(std::uint8_t op, const void* left, const void* right, const TPSTypeRec* right_type) {
    if (!FollowPointer(right, right_type)) ThrowTypeMismatch();
    const auto l = LoadAs<std::int32_t>(left);
    switch (right_type->BaseType) {
    case btU8: case btS8: case btU16: case btS16: case btU32: case btS32: case btChar: {
        std::int64_t r = 0;
        ReadIntegerValue(right, right_type->BaseType, r);
        // A U32's bits count as signed.
        return Relation(op, l, static_cast<std::int32_t>(static_cast<std::uint32_t>(r)));
    }
    case btProcPtr:
        RequireEquality(op);
        return Relation(op, l, static_cast<std::int32_t>(LoadAs<PSProcPtrValue>(right).ProcNo));
    case btS64: return Relation(op, std::int64_t{l}, LoadAs<std::int64_t>(right));
    case btSingle: case btDouble: case btExtended: {
        long double r = 0;
        ReadFloatValue(right, right_type->BaseType, r);
        return Relation(op, static_cast<long double>(l), r);
    }
    case btVariant: return VariantRelation(op, Variant::Integer(l), Variant::CopyFromSlot(right));
    default: ThrowTypeMismatch();
    }
}

bool CompareSets(std::uint8_t op, const void* left, const void* right, const TPSTypeRec* type) {
    const auto* l = static_cast<const std::uint8_t*>(left);
    const auto* r = static_cast<const std::uint8_t*>(right);
    const std::uint32_t n = AsSet(type).ByteSize;
    switch (op) {
    case coGreaterEqual:
        for (std::uint32_t i = 0; i < n; ++i)
            if ((r[i] & ~l[i]) != 0) return false;
        return true;
    case coLessEqual:
        for (std::uint32_t i = 0; i < n; ++i)
            if ((l[i] & ~r[i]) != 0) return false;
        return true;
    case coEqual:
    case coNotEqual:
        return (std::memcmp(l, r, n) == 0) == (op == coEqual);
    default:
        ThrowRuntimeFault(ErTypeMismatch);
    }
}

bool CompareProcPtrs(std::uint8_t op, const void* left, const void* right) {
    const auto l = LoadAs<PSProcPtrValue>(left);
    const auto r = LoadAs<PSProcPtrValue>(right);
    bool equal = false;
    if (l.ProcNo != 0 || r.ProcNo != 0) {
        equal = l.ProcNo == r.ProcNo;
    } else {
        // Host methods: the same code on the same object.
        equal = l.Code == r.Code && l.Object == r.Object;
    }
    return equal == (op == coEqual);
}

// "in": membership in a set, or equality with some element of an array of
// Variants.
bool CompareIn(const void* left, const void* right, const TPSTypeRec* left_type, const TPSTypeRec* right_type) {
    if (right_type->BaseType == btArray && AsArray(right_type).ArrayType->BaseType == btVariant) {
        Variant v;
        if (!PSValueToVariant(left, left_type, v)) v = Variant();
        const auto* data = LoadAs<const std::byte*>(right);
        const std::int32_t count = BlockCount(data);
        for (std::int32_t i = 0; i < count; ++i)
            if (VarEquals(Variant::CopyFromSlot(data + std::size_t(i) * sizeof(VariantCell)), v)) return true;
        return false;
    }
    if (right_type->BaseType == btSet) {
        const std::uint32_t v = PSReadUInt(left, left_type);
        if (v >= AsSet(right_type).BitSize) ThrowRuntimeFault(erOutofRecordRange);
        return (static_cast<const std::uint8_t*>(right)[v / 8] >> (v % 8) & 1) != 0;
    }
    ThrowRuntimeFault(ErTypeMismatch);
}

bool Compare(const TPSExec& exec, std::uint8_t op, const void* left, const void* right, const TPSTypeRec* left_type,
             const TPSTypeRec* right_type) {
    // A text on the right is compared where it lies, not copied.
    std::string made;
    if (op > coIs) ThrowRuntimeFault(erInvalidOpcodeParameter);
    if (op == coIn) return CompareIn(left, right, left_type, right_type);
    if (op == coIs) return ObjectIsOfClassOperand(exec, left, right, left_type, right_type);
    const std::uint8_t right_base = right_type->BaseType;
    switch (left_type->BaseType) {
    case btU8:
        if (right_base == btString || right_base == btPChar)
            return TextRelation(op, OneChar(left), PSReadText(right, right_type, made));
        return Relation(op, std::uint32_t{LoadAs<std::uint8_t>(left)}, PSReadUInt(right, right_type));
    case btS8: return Relation(op, std::int32_t{LoadAs<std::int8_t>(left)}, PSReadInt(right, right_type));
    case btS16: return Relation(op, std::int32_t{LoadAs<std::int16_t>(left)}, PSReadInt(right, right_type));
    case btU16: return Relation(op, std::uint32_t{LoadAs<std::uint16_t>(left)}, PSReadUInt(right, right_type));
    case btU32: return Relation(op, LoadAs<std::uint32_t>(left), PSReadUInt(right, right_type));
    case btS32: return CompareS32(op, left, right, right_type);
    case btSingle: case btDouble: case btExtended: {
        long double l = 0;
        ReadFloatValue(left, left_type->BaseType, l);
        return Relation(op, l, PSReadReal(right, right_type));
    }
    case btCurrency: return Relation(op, LoadAs<std::int64_t>(left), PSReadCurrency(right, right_type));
    case btS64: return Relation(op, LoadAs<std::int64_t>(left), PSReadInt64(right, right_type));
    case btString: return TextRelation(op, StringSlotView(left), PSReadText(right, right_type, made));
    case btPChar: return TextRelation(op, PCharSlotView(left), PSReadText(right, right_type, made));
    case btChar: return TextRelation(op, OneChar(left), PSReadText(right, right_type, made));
    case btVariant: {
        Variant r;
        if (!PSValueToVariant(right, right_type, r)) ThrowRuntimeFault(ErTypeMismatch);
        return VariantRelation(op, Variant::CopyFromSlot(left), r);
    }
    case btSet:
        if (right_type != left_type) ThrowRuntimeFault(ErTypeMismatch);
        return CompareSets(op, left, right, left_type);
    case btRecord:
        // Bytes, so a String field compares by its reference.
        if (right_type != left_type) ThrowRuntimeFault(ErTypeMismatch);
        RequireEquality(op);
        return (std::memcmp(left, right, left_type->RealSize) == 0) == (op == coEqual);
    case btClass:
    case btInterface:
        if (right_base != left_type->BaseType) ThrowRuntimeFault(ErTypeMismatch);
        RequireEquality(op);
        return (LoadAs<const void*>(left) == LoadAs<const void*>(right)) == (op == coEqual);
    case btProcPtr:
        if (right_base != btProcPtr) ThrowRuntimeFault(ErTypeMismatch);
        RequireEquality(op);
        return CompareProcPtrs(op, left, right);
    default:
        ThrowRuntimeFault(ErTypeMismatch);
    }
}

void StoreCompareResult(void* result, const TPSTypeRec* type, bool value) {
    switch (type->BaseType) {
    case btU8: case btS8: StoreAs(result, static_cast<std::uint8_t>(value)); break;
    case btU16: case btS16: StoreAs(result, static_cast<std::uint16_t>(value)); break;
    case btU32: case btS32: StoreAs(result, static_cast<std::uint32_t>(value)); break;
    case btVariant: Variant::StoreIntoSlot(result, Variant::Boolean(value)); break;
    default: ThrowRuntimeFault(ErTypeMismatch);
    }
}

}  // namespace

bool ObjectIsOfClassOperand(const TPSExec& exec, const void* /*left*/, const void* right,
                            const TPSTypeRec* left_type, const TPSTypeRec* right_type) {
    if (left_type->BaseType != btClass || right_type->BaseType != btU32) ThrowRuntimeFault(ErTypeMismatch);
    const TPSTypeRec* class_type = exec.GetType(LoadAs<std::uint32_t>(right));
    if (class_type == nullptr || class_type->BaseType != btClass) ThrowRuntimeFault(ErTypeMismatch);
    // A nil object is of no class, and any other would be known only to a
    // class importer, which this runtime does not have.
    return false;
}

bool TPSExec::CompareValues(const void* left, const void* right, void* result, const TPSTypeRec* left_type,
                            const TPSTypeRec* right_type, const TPSTypeRec* result_type, std::uint8_t op) {
    return RunOperator(
        [&] { StoreCompareResult(result, result_type, Compare(*this, op, left, right, left_type, right_type)); });
}

}  // namespace script::runtime
