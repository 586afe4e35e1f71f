#pragma once
// The common cases of operand resolution, inline for the instruction loop:
// a global or constant is known already, a local is one look-up in the run
// stack. Elements and failures go to ResolveElement (operands.cpp).
#include "script/runtime/exec.h"
#include "script/runtime/value_layout.h"

namespace script::runtime {

inline bool TPSExec::ResolveVar(const TPSDecodedVar& v, std::uint32_t at, void*& value, const TPSTypeRec*& type) {
    if (v.Place == TPSVarPlace::Fixed) {
        value = v.Value;
        type = v.Type;
        return true;
    }
    if (v.Place == TPSVarPlace::Stack) {
        void* item = stack_.GetItem(static_cast<std::uint32_t>(stack_base_) + static_cast<std::uint32_t>(v.Offset));
        if (item != nullptr) {
            type = TypeOfTypedValue(item);
            // An item reserved by a host without a type has no value to use,
            // and a return address is no value of the script's.
            if (type != nullptr && type->BaseType != btReturnAddress) {
                value = ValueOfTypedValue(item);
                return true;
            }
            FailAt(at, erInvalidType);
            return false;
        }
    }
    FailAt(at, v.FailCode);
    return false;
}

inline bool TPSExec::ResolveOperand(const TPSDecodedOperand& o, TPSOperand& out) {
    if (o.Form > TPSOperandForm::Constant) return ResolveElement(o, out);
    void* value = nullptr;
    const TPSTypeRec* type = nullptr;
    if (!ResolveVar(o.Var, o.HeadEnd, value, type)) return false;
    if (o.Follow && type->BaseType == btPointer) {
        const auto p = LoadAs<PSPointerValue>(value);
        if (p.Address == nullptr || p.Type == nullptr) {
            FailAt(o.End, erNullPointerException);
            return false;
        }
        value = p.Address;
        type = p.Type;
    }
    out.Address = value;
    out.Type = type;
    out.Temporary = false;
    return true;
}

}  // namespace script::runtime
