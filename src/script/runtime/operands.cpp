// Decoding the operands of an instruction into (address, type) pairs:
// variables in place, constants on the temporaries stack, and elements of
// records and arrays with their range checks.
#include <string_view>

#include "script/runtime/constant_reader.h"
#include "script/runtime/exec.h"
#include "script/runtime/managed_blocks.h"
#include "script/runtime/value_layout.h"

namespace script::runtime {

namespace {

// The kind byte and the address or type word.
constexpr std::uint32_t kOperandHeadBytes = 5;

std::uint32_t CodeLong(const std::uint8_t* at) { return LoadAs<std::uint32_t>(at); }

}  // namespace

// An address word names a global below kGlobalAddressLimit, else a run-stack
// item relative to the stack base (taken modulo 2^32, so that a word below
// the base names no item rather than a wrapped one).
bool TPSExec::ResolveVariable(std::uint32_t address, bool element, void*& item) {
    if (address < kGlobalAddressLimit) {
        item = globals_.GetItem(address);
        if (item == nullptr) {
            RaiseError(erOutOfGlobalVarsRange);
            return false;
        }
    } else {
        item = stack_.GetItem(static_cast<std::uint32_t>(stack_base_) + address - kStackBaseAddress);
        if (item == nullptr) {
            RaiseError(element ? erOutOfStackRange : erOutOfGlobalVarsRange);
            return false;
        }
    }
    if (TypeOfTypedValue(item) == nullptr) {
        // An item reserved by a host without a type has no value to use.
        RaiseError(erInvalidType);
        return false;
    }
    return true;
}

namespace {

// Replaces a Pointer by its target; false (error 21 reported) for nil.
bool FollowOperand(TPSExec& exec, void*& address, const TPSTypeRec*& type) {
    const auto p = LoadAs<PSPointerValue>(address);
    if (p.Address == nullptr || p.Type == nullptr) {
        exec.RaiseError(erNullPointerException);
        return false;
    }
    address = p.Address;
    type = p.Type;
    return true;
}

// The value of an index variable as an unsigned 32-bit number.
bool ReadIndex(TPSExec& exec, void* item, std::uint32_t& index) {
    const void* value = ValueOfTypedValue(item);
    const TPSTypeRec* type = TypeOfTypedValue(item);
    bool through_pointer = false;
    if (type->BaseType == btPointer) {
        const auto p = LoadAs<PSPointerValue>(value);
        if (p.Address == nullptr || p.Type == nullptr) {
            exec.RaiseError(ErTypeMismatch);
            return false;
        }
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
        if (!through_pointer) break;
        index = LoadAs<PSProcPtrValue>(value).ProcNo;
        return true;
    default: break;
    }
    exec.RaiseError(ErTypeMismatch);
    return false;
}

}  // namespace

bool TPSExec::ReadOperand(TPSOperand& out, bool follow_pointer) {
    if (position_ > code_length_ || code_length_ - position_ < kOperandHeadBytes) {
        RaiseError(ErOutOfRange);
        return false;
    }
    const std::uint8_t kind = code_[position_];
    const std::uint32_t word = CodeLong(code_ + position_ + 1);
    position_ += kOperandHeadBytes;

    switch (kind) {
    case okVariable: {
        void* item = nullptr;
        if (!ResolveVariable(word, false, item)) return false;
        void* address = ValueOfTypedValue(item);
        const TPSTypeRec* type = TypeOfTypedValue(item);
        if (follow_pointer && type->BaseType == btPointer && !FollowOperand(*this, address, type)) return false;
        out = TPSOperand{address, type, false};
        return true;
    }

    case okConstant: {
        const TPSTypeRec* type = GetType(word);
        // Only types with a constant form are made: a constant of any other
        // type would be refused after its value was made.
        if (type == nullptr || !HasConstantForm(type->BaseType)) {
            RaiseError(erInvalidType);
            return false;
        }
        const std::uint32_t temporaries = temporaries_.Count();
        try {
            void* value = ValueOfTypedValue(temporaries_.PushType(type));
            std::size_t pos = position_;
            const std::string_view code(reinterpret_cast<const char*>(code_), code_length_);
            if (ReadConstantValue(code, pos, type, value) != TPSConstantRead::crOk) {
                temporaries_.PopTo(temporaries);
                RaiseError(ErOutOfRange);
                return false;
            }
            position_ = static_cast<std::uint32_t>(pos);
            out = TPSOperand{value, type, true};
            return true;
        } catch (...) {
            // Out of memory for the value: nothing of it is left.
            temporaries_.PopTo(temporaries);
            ReportException(std::current_exception());
            return false;
        }
    }

    case okElementNumber:
    case okElementIndex: {
        void* item = nullptr;
        if (!ResolveVariable(word, true, item)) return false;
        void* address = ValueOfTypedValue(item);
        const TPSTypeRec* type = TypeOfTypedValue(item);
        if (type->BaseType == btPointer && !FollowOperand(*this, address, type)) return false;
        if (code_length_ - position_ < 4) {
            RaiseError(ErOutOfRange);
            return false;
        }
        std::uint32_t index = CodeLong(code_ + position_);
        position_ += 4;
        if (kind == okElementIndex) {
            void* index_item = nullptr;
            if (!ResolveVariable(index, true, index_item) || !ReadIndex(*this, index_item, index)) return false;
        }
        auto* bytes = static_cast<std::byte*>(address);
        switch (type->BaseType) {
        case btRecord: {
            const auto& record = AsRecord(type);
            if (index >= record.FieldTypes.size()) {
                RaiseError(ErOutOfRange);
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
                RaiseError(ErOutOfRange);
                return false;
            }
            address = data + std::uint64_t{index} * element->RealSize;
            type = element;
            break;
        }
        case btStaticArray: {
            const auto& array = AsStaticArray(type);
            if (index >= array.Size) {
                RaiseError(ErOutOfRange);
                return false;
            }
            address = bytes + std::uint64_t{index} * array.ArrayType->RealSize;
            type = array.ArrayType;
            break;
        }
        default:
            RaiseError(erInvalidType);
            return false;
        }
        if (follow_pointer && type->BaseType == btPointer && !FollowOperand(*this, address, type)) return false;
        out = TPSOperand{address, type, false};
        return true;
    }

    default:
        RaiseError(erInvalidOpcodeParameter);
        return false;
    }
}

void TPSExec::ReleaseOperand(const TPSOperand& operand) {
    if (operand.Temporary) temporaries_.Pop();
}

}  // namespace script::runtime
