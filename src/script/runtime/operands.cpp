// Resolving decoded operands to (address, type) pairs: variables in place,
// constants made once at decoding, and elements of records and arrays with
// their range checks. Every error is reported at the position where reading
// the byte code would have found it.
#include "script/runtime/exec.h"
#include "script/runtime/managed_blocks.h"
#include "script/runtime/operand_resolution.h"
#include "script/runtime/value_layout.h"

namespace script::runtime {

namespace {

// The value of an index variable as an unsigned 32-bit number.
bool ReadIndex(const void* value, const TPSTypeRec* type, std::uint32_t& index) {
    bool through_pointer = false;
    if (type->BaseType == btPointer) {
        const auto p = LoadAs<PSPointerValue>(value);
        if (p.Address == nullptr || p.Type == nullptr) return false;
        value = p.Address;
        type = p.Type;
        through_pointer = true;
    }
    switch (type->BaseType) {
    case btU8: index = LoadAs<std::uint8_t>(value); return true;
    case btS8: index = static_cast<std::uint32_t>(std::int32_t{LoadAs<std::int8_t>(value)}); return true;
    case btU16: index = LoadAs<std::uint16_t>(value); return true;
    case btS16: index = static_cast<std::uint32_t>(std::int32_t{LoadAs<std::int16_t>(value)}); return true;
    case btU32:
    case btS32: index = LoadAs<std::uint32_t>(value); return true;
    case btProcPtr:
        if (!through_pointer) return false;
        index = LoadAs<PSProcPtrValue>(value).ProcNo;
        return true;
    default: return false;
    }
}

}  // namespace

void TPSExec::FailAt(std::uint32_t position, std::uint8_t code) {
    position_ = position;
    RaiseError(code);
}

bool TPSExec::ResolveElement(const TPSDecodedOperand& o, TPSOperand& out) {
    if (o.Form == TPSOperandForm::Broken) {
        FailAt(o.End, o.FailCode);
        return false;
    }
    if (o.Form <= TPSOperandForm::Constant) return ResolveOperand(o, out);

    // The container, always standing for what a Pointer points at.
    void* address = nullptr;
    const TPSTypeRec* type = nullptr;
    if (!ResolveVar(o.Var, o.HeadEnd, address, type)) return false;
    if (type->BaseType == btPointer) {
        const auto p = LoadAs<PSPointerValue>(address);
        if (p.Address == nullptr || p.Type == nullptr) {
            FailAt(o.HeadEnd, erNullPointerException);
            return false;
        }
        address = p.Address;
        type = p.Type;
    }
    if (o.Form == TPSOperandForm::ElementShort) {
        FailAt(o.HeadEnd, ErOutOfRange);
        return false;
    }
    std::uint32_t index = o.Number;
    if (o.Form == TPSOperandForm::ElementIndex) {
        void* index_value = nullptr;
        const TPSTypeRec* index_type = nullptr;
        if (!ResolveVar(o.Index, o.End, index_value, index_type)) return false;
        if (!ReadIndex(index_value, index_type, index)) {
            FailAt(o.End, ErTypeMismatch);
            return false;
        }
    }
    auto* bytes = static_cast<std::byte*>(address);
    switch (type->BaseType) {
    case btRecord: {
        const auto& record = AsRecord(type);
        if (index >= record.FieldTypes.size()) {
            FailAt(o.End, ErOutOfRange);
            return false;
        }
        address = bytes + record.FieldOffsets[index];
        type = record.FieldTypes[index];
        break;
    }
    case btArray: {
        auto* data = LoadAs<std::byte*>(address);
        const TPSTypeRec* element = AsArray(type).ArrayType;
        if (std::int64_t{index} >= BlockCount(data)) {
            FailAt(o.End, ErOutOfRange);
            return false;
        }
        address = data + std::uint64_t{index} * element->RealSize;
        type = element;
        break;
    }
    case btStaticArray: {
        const auto& array = AsStaticArray(type);
        if (index >= array.Size) {
            FailAt(o.End, ErOutOfRange);
            return false;
        }
        address = bytes + std::uint64_t{index} * array.ArrayType->RealSize;
        type = array.ArrayType;
        break;
    }
    default:
        FailAt(o.End, erInvalidType);
        return false;
    }
    if (o.Follow && type->BaseType == btPointer) {
        const auto p = LoadAs<PSPointerValue>(address);
        if (p.Address == nullptr || p.Type == nullptr) {
            FailAt(o.End, erNullPointerException);
            return false;
        }
        address = p.Address;
        type = p.Type;
    }
    out = TPSOperand{address, type, false};
    return true;
}

bool TPSExec::ReadOperand(TPSOperand& out, bool follow_pointer) {
    const std::uint32_t temporaries = temporaries_.Count();
    TPSDecodedOperand decoded;
    std::uint32_t pos = position_;
    try {
        DecodeOperand(*this, code_, code_length_, pos, temporaries_, decoded);
    } catch (...) {
        // Out of memory for a constant: nothing of it is left.
        temporaries_.PopTo(temporaries);
        ReportException(std::current_exception());
        return false;
    }
    decoded.Follow = follow_pointer;
    position_ = pos;
    if (!ResolveOperand(decoded, out)) {
        temporaries_.PopTo(temporaries);
        return false;
    }
    out.Temporary = decoded.IsConstant();
    position_ = decoded.End;
    return true;
}

void TPSExec::ReleaseOperand(const TPSOperand& operand) {
    if (operand.Temporary) temporaries_.Pop();
}

}  // namespace script::runtime
