// The general handlers that seldom run (the common ones are inline in
// general_handlers.h), and the work of conditions and pointers that
// general handlers share.
#include "script/runtime/general_handlers.h"

#include "script/runtime/operators.h"
#include "script/runtime/value_access.h"
#include "script/runtime/value_lifetime.h"

namespace script::runtime {

namespace {

// The value of a condition of base 1-6; false for other bases.
inline bool ConditionValue(const void* value, std::uint8_t base, bool& out) {
    switch (base) {
        case btU8:
        case btS8:
            out = LoadAs<std::uint8_t>(value) != 0;
            return true;
        case btU16:
        case btS16:
            out = LoadAs<std::uint16_t>(value) != 0;
            return true;
        case btU32:
        case btS32:
            out = LoadAs<std::uint32_t>(value) != 0;
            return true;
        default:
            return false;
    }
}

// A heap copy of a value that a Pointer owns; false when the value cannot be
// copied.
bool OwnedCopy(const void* from, const TPSTypeRec* type, PSPointerValue& out) {
    void* copy = CreateHeapValue(type);
    if (!CopyValues(copy, from, 1, type)) {
        DestroyHeapValue(copy, type);
        return false;
    }
    out = PSPointerValue{copy, type, 1};
    return true;
}

}  // namespace

bool TPSExec::ReadCondition(const TPSDecodedInstr& in, TPSOperand& v, bool& value) {
    if (!ResolveOperand(in.A(), v)) return false;
    if (ConditionValue(v.Address, v.Type->BaseType, value)) return true;
    FailAt(in.End, erInvalidType);
    return false;
}

bool TPSExec::SetPointer(const TPSDecodedInstr& in) {
    const bool copy = in.BaseOp == opSetPtrToCopy;
    TPSOperand d, s;
    if (!ResolveOperand(in.A(), d)) return false;
    if (in.A().IsConstant() || d.Type->BaseType != btPointer) {
        FailAt(in.A().End, erInvalidOpcodeParameter);
        return false;
    }
    if (!ResolveOperand(in.B(), s)) return false;
    if (!copy && in.B().IsConstant()) {
        FailAt(in.End, erInvalidOpcodeParameter);
        return false;
    }
    // A Pointer source gives what it points at (SetPtr takes its address
    // and type words as they are, also when nil).
    const void* from = s.Address;
    const TPSTypeRec* type = s.Type;
    if (type->BaseType == btPointer) {
        const auto source = LoadAs<PSPointerValue>(s.Address);
        from = source.Address;
        type = source.Type;
    }
    const auto old = LoadAs<PSPointerValue>(d.Address);
    PSPointerValue target{const_cast<void*>(from), type, 0};
    if (copy) {
        // The copy is made before the old one goes: the source may lie
        // inside it. A nil source makes the destination all zero.
        target = PSPointerValue{};
        if (from != nullptr && type != nullptr && !OwnedCopy(from, type, target)) {
            FailAt(in.End, ErTypeMismatch);
            return false;
        }
    } else if (old.OwnsCopy != 0 && from != nullptr) {
        // The copy it owned is released, unless the new target lies inside
        // it: then the pointer owns a copy of the target instead, so nothing
        // is left pointing into freed storage.
        const auto* begin = static_cast<const std::byte*>(old.Address);
        const auto* at = static_cast<const std::byte*>(from);
        if (at >= begin && at < begin + old.Type->RealSize && !OwnedCopy(from, type, target)) {
            FailAt(in.End, ErTypeMismatch);
            return false;
        }
    }
    StoreAs(d.Address, target);
    if (old.OwnsCopy != 0) DestroyHeapValue(old.Address, old.Type);
    return true;
}

TPSExec::GeneralMove TPSExec::GeneralSetPtr(TPSDecodedInstr& in) {
    const auto index = static_cast<std::uint32_t>(&in - run_instrs_);
    const std::uint32_t next = in.Next;
    const bool quick = in.Op == opSetPtr && MakesQuickForms() &&
                       NoteQuickSetPtrSource({stack_, stack_base_, run_instrs_}, in);
    if (!SetPointer(in)) return {0, ghFail};
    // (Releasing the old copy may have run host code: the list is read
    // again.)
    TPSDecodedInstr* list = decoded_->Instrs();
    if (quick) GiveQuickSetPtr({stack_, stack_base_, list}, list[index], next);
    return {next, ghReload};
}

TPSExec::GeneralMove TPSExec::GeneralUnary(TPSDecodedInstr& in) {
    TPSOperand v;
    if (!ResolveOperand(in.A(), v)) return {0, ghFail};
    position_ = in.End;
    const std::uint32_t next = in.Next;
    bool ok = false;
    if (in.BaseOp == opBoolNot) {
        ok = BooleanNotValue(v.Address, v.Type);
    } else if (in.BaseOp == opNeg) {
        ok = NegateValue(v.Address, v.Type);
    } else {
        ok = IntNotValue(v.Address, v.Type);
    }
    if (!ok) return {0, ghFail};
    return {next, ghReload};
}

std::uint32_t TPSExec::ProcOfCallValue(TPSDecodedInstr& in, GeneralMove& done) {
    const auto index = static_cast<std::uint32_t>(&in - run_instrs_);
    const std::uint32_t next = in.Next;
    const std::uint32_t end = in.End;
    done = {0, ghFail};
    TPSOperand v;
    if (!ResolveOperand(in.A(), v)) return kNoProc;
    if (v.Type->BaseType != btProcPtr) {
        FailAt(end, ErTypeMismatch);
        return kNoProc;
    }
    const auto value = LoadAs<PSProcPtrValue>(v.Address);
    if (value.ProcNo == 0 && value.Object != nullptr) {
        position_ = end;
        const std::uint32_t items = stack_.Count();
        if (!CallHostMethodValue(value, static_cast<const TPSTypeRec_ProcPtr&>(*v.Type).ParamInfo))
            return kNoProc;
        done = AfterHostCall(index, items, next);
        return kNoProc;
    }
    if (value.ProcNo >= procs_.size() || value.ProcNo == main_proc_) {
        FailAt(end, erOutOfProcRange);
        return kNoProc;
    }
    return value.ProcNo;
}

TPSExec::GeneralMove TPSExec::LeaveProvenAfterHostCall(std::uint32_t index) {
    // What the proof of this code rests on no longer holds: the call's
    // instruction in the general form, and on after it.
    const std::uint32_t pos = decoded_->Instrs()[index].Pos;
    LeaveProvenCode();
    const std::uint32_t at = decoded_->EntryAt(pos);
    return {decoded_->Instrs()[at].Next, ghReloadGo, 1};
}

void TPSExec::ReportDecodedFailure(const TPSDecodedInstr& in) {
    const TPSDecodedOperand* operands[3] = {&in.A(), &in.B(), &in.C()};
    TPSOperand ignored;
    for (std::uint8_t i = 0; i < in.OperandCount; ++i)
        if (!ResolveOperand(*operands[i], ignored)) return;
    FailAt(in.FailPos, in.FailCode);
}

}  // namespace script::runtime
