#pragma once
// The general handlers of the instructions that the loop (interpreter.cpp)
// runs most, inline for it: each runs one instruction as decoded, resolving
// and checking every operand, gives the instruction a quick form when its
// operands allow one (quick_choice.h), and tells the loop where the run
// goes on (GeneralMove). The seldom ones are in general_handlers.cpp.
//
// Only the loop includes this header. A handler reads the instruction
// before anything that may run host code (a release of a value, an
// assignment through a Variant, a host function): the list may move then.
#include <cstdint>

#include "script/runtime/exec.h"
#include "script/runtime/managed_blocks.h"
#include "script/runtime/operand_resolution.h"
#include "script/runtime/operation_bodies.h"
#include "script/runtime/quick_choice.h"
#include "script/runtime/string_append.h"
#include "script/runtime/value_layout.h"

namespace script::runtime {

// Compare of two 32-bit integers of one kind into a byte result.
inline bool CompareInteger32(std::uint8_t op, void* result, const TPSTypeRec* result_type,
                             const void* left, const void* right, std::uint8_t base) {
    if (op > coEqual || !IsByteValue(result_type)) return false;
    const bool r =
        Compare32(op, LoadAs<std::uint32_t>(left), LoadAs<std::uint32_t>(right), base == btS32);
    StoreAs(result, static_cast<std::uint8_t>(r));
    return true;
}

// Adds delta to an integer of base 1-6 or 17 in its own width; false for
// other bases.
inline bool StepInteger(void* value, std::uint8_t base, std::uint64_t delta) {
    switch (base) {
        case btU8:
        case btS8:
            StoreAs(value, static_cast<std::uint8_t>(LoadAs<std::uint8_t>(value) + delta));
            return true;
        case btU16:
        case btS16:
            StoreAs(value, static_cast<std::uint16_t>(LoadAs<std::uint16_t>(value) + delta));
            return true;
        case btU32:
        case btS32:
            StoreAs(value, static_cast<std::uint32_t>(LoadAs<std::uint32_t>(value) + delta));
            return true;
        case btS64:
            StoreAs(value, LoadAs<std::uint64_t>(value) + delta);
            return true;
        default:
            return false;
    }
}

inline TPSExec::GeneralMove TPSExec::GeneralAssign(TPSDecodedInstr& in) {
    TPSOperand d, s;
    if (!ResolveOperand(in.A(), d) || !ResolveOperand(in.B(), s)) return {0, ghFail};
    const std::uint32_t next = in.Next;
    if (!AssignSameBase(d.Address, s.Address, d.Type, s.Type)) {
        position_ = in.End;
        if (!AssignValue(d.Address, s.Address, d.Type, s.Type)) return {0, ghFail};
        return {next, ghReload};
    }
    if (in.Op == opAssign && MakesQuickForms())
        GiveQuickAssign({stack_, stack_base_, run_instrs_}, in, d.Type, s.Type);
    return {next, ghNext};
}

inline TPSExec::GeneralMove TPSExec::GeneralCalc(TPSDecodedInstr& in) {
    TPSOperand d, s;
    if (!ResolveOperand(in.A(), d) || !ResolveOperand(in.B(), s)) return {0, ghFail};
    const std::uint8_t base = d.Type->BaseType;
    // s := s + e: the text grows in s, and the Pops and the assignment
    // after this Calc are done with it.
    if (base == btString && !attention_) {
        const std::uint32_t after =
            AppendForAssignment(stack_, stack_base_, run_instrs_, in, d.Address, s.Address, s.Type);
        if (after != kNoInstr) return {after, ghNext};
    }
    const bool integers = IsInt32Base(base) && IsInt32(s.Type);
    // Worth a quick form; the general form runs this time.
    if (integers && in.Op == opCalc && MakesQuickForms())
        GiveQuickCalc({stack_, stack_base_, run_instrs_}, in, d.Type, s.Type);
    std::uint32_t r = 0;
    if (integers && Calc32(in.Sub, LoadAs<std::uint32_t>(d.Address),
                           LoadAs<std::uint32_t>(s.Address), base == btS32, r)) {
        StoreAs(d.Address, r);
        return {in.Next, ghNext};
    }
    position_ = in.End;
    const std::uint32_t next = in.Next;
    if (!CalcValues(d.Address, s.Address, d.Type, s.Type, in.Sub)) return {0, ghFail};
    return {next, ghReload};
}

inline TPSExec::GeneralMove TPSExec::GeneralCompare(TPSDecodedInstr& in) {
    TPSOperand d, l, r;
    if (!ResolveOperand(in.A(), d) || !ResolveOperand(in.B(), l) || !ResolveOperand(in.C(), r))
        return {0, ghFail};
    const std::uint8_t base = l.Type->BaseType;
    if (base == r.Type->BaseType && IsInt32Base(base) &&
        CompareInteger32(in.Sub, d.Address, d.Type, l.Address, r.Address, base)) {
        if (in.Op == opCompare && MakesQuickForms())
            GiveQuickCompare({stack_, stack_base_, run_instrs_}, in, d.Type, l.Type, r.Type);
        return {in.Next, ghNext};
    }
    position_ = in.End;
    const std::uint32_t next = in.Next;
    if (!CompareValues(l.Address, r.Address, d.Address, l.Type, r.Type, d.Type, in.Sub))
        return {0, ghFail};
    return {next, ghReload};
}

inline TPSExec::GeneralMove TPSExec::GeneralPush(TPSDecodedInstr& in) {
    TPSOperand s;
    if (!ResolveOperand(in.A(), s)) return {0, ghFail};
    const std::uint32_t next = in.Next;
    void* item = PushOrFail(s.Type, in.End);
    if (item == nullptr) return {0, ghFail};
    position_ = in.End;
    if (!AssignValue(ValueOfTypedValue(item), s.Address, s.Type, s.Type)) return {0, ghFail};
    return {next, ghReload};
}

inline TPSExec::GeneralMove TPSExec::GeneralPushVar(TPSDecodedInstr& in) {
    TPSOperand v;
    if (!ResolveOperand(in.A(), v)) return {0, ghFail};
    // A Pointer passes on what it points at.
    PSPointerValue p{v.Address, v.Type, 0};
    if (v.Type->BaseType == btPointer) {
        const auto source = LoadAs<PSPointerValue>(v.Address);
        p = PSPointerValue{source.Address, source.Type, 0};
    }
    void* item = PushOrFail(in.Type, in.End);
    if (item == nullptr) return {0, ghFail};
    StoreAs(ValueOfTypedValue(item), p);
    return {in.Next, ghNext};
}

inline TPSExec::GeneralMove TPSExec::GeneralPushType(TPSDecodedInstr& in) {
    if (PushOrFail(in.Type, in.End) == nullptr) return {0, ghFail};
    // A temporary that the next instruction assigns: both at once from now
    // on.
    if (in.Op == opPushType && MakesQuickForms())
        GiveQuickPushAssign({stack_, stack_base_, run_instrs_}, in);
    return {in.Next, ghNext};
}

inline TPSExec::GeneralMove TPSExec::GeneralPop(TPSDecodedInstr& in) {
    void* top = stack_.Top();
    if (top == nullptr || IsReturnAddressItem(top)) {
        FailAt(in.End, erOutOfStackRange);
        return {0, ghFail};
    }
    const std::uint32_t next = in.Next;
    stack_.Pop();
    // Releasing a value may have run host code.
    return {next, ghReload};
}

inline TPSExec::GeneralMove TPSExec::GeneralPopGoto(TPSDecodedInstr& in) {
    // Only items of the current frame are popped, never a return address.
    const std::uint32_t count = in.BaseOp == opPopGoto ? 1 : 2;
    const std::int64_t left = std::int64_t{stack_.Count()} - count;
    if (left <= stack_base_ || IsReturnAddressItem(stack_.Top()) ||
        (count == 2 && IsReturnAddressItem(stack_.GetItem(stack_.Count() - 2)))) {
        FailAt(in.End, erOutOfStackRange);
        return {0, ghFail};
    }
    const std::uint32_t target = in.Target;
    const std::uint8_t ticks = in.JumpTicks;
    stack_.PopTo(static_cast<std::uint32_t>(left));
    return {target, ghReloadGo, ticks};
}

inline TPSExec::GeneralMove TPSExec::GeneralCondGoto(TPSDecodedInstr& in) {
    TPSOperand v;
    bool value = false;
    if (!ReadCondition(in, v, value)) return {0, ghFail};
    if (in.Op == in.BaseOp && MakesQuickForms())
        GiveQuickCondJump({stack_, stack_base_, run_instrs_}, in, v.Type);
    if (value == (in.BaseOp == opCondGoto)) return {in.Target, ghGo, in.JumpTicks};
    return {in.Next, ghNext};
}

inline TPSExec::GeneralMove TPSExec::GeneralSetFlag(TPSDecodedInstr& in) {
    TPSOperand v;
    bool value = false;
    if (!ReadCondition(in, v, value)) return {0, ghFail};
    jump_flag_ = in.Sub != 0 ? !value : value;
    if (in.Op == in.BaseOp && MakesQuickForms())
        GiveQuickSetFlag({stack_, stack_base_, run_instrs_}, in, v.Type);
    return {in.Next, ghNext};
}

inline TPSExec::GeneralMove TPSExec::GeneralIncDec(TPSDecodedInstr& in) {
    TPSOperand v;
    if (!ResolveOperand(in.A(), v)) return {0, ghFail};
    if (!StepInteger(v.Address, v.Type->BaseType, in.BaseOp == opInc ? 1 : ~std::uint64_t{0})) {
        FailAt(in.End, ErTypeMismatch);
        return {0, ghFail};
    }
    if (in.Op == in.BaseOp && MakesQuickForms())
        GiveQuickIncDec({stack_, stack_base_, run_instrs_}, in, v.Type);
    return {in.Next, ghNext};
}

inline TPSExec::GeneralMove TPSExec::GeneralCall(TPSDecodedInstr& in) {
    std::uint32_t number = in.Number;
    const std::uint32_t next = in.Next;
    const std::uint32_t end = in.End;
    if (in.BaseOp == opCallVar) {
        GeneralMove done{0, ghFail};
        number = ProcOfCallValue(in, done);
        if (number == kNoProc) return done;
    }
    TPSProcRec* proc = procs_[number].get();
    if (proc->IsExternal()) {
        const auto index = static_cast<std::uint32_t>(&in - run_instrs_);
        position_ = end;
        const std::uint32_t items = stack_.Count();
        if (!CallExternal(AsExternal(*proc))) return {0, ghFail};
        return AfterHostCall(index, items, next);
    }
    void* item = PushOrFail(return_address_type_.get(), end);
    if (item == nullptr) return {0, ghFail};
    EnterFrame(item, proc, CodeForEntry(proc, stack_.Count() - 1), end, next);
    // (A call is a tick, counted where the callee starts.)
    return {0, ghEnter, 1};
}

inline TPSExec::GeneralMove TPSExec::AfterHostCall(std::uint32_t index, std::uint32_t items,
                                                   std::uint32_t next) {
    if (stack_.Count() != items) return LeaveProvenAfterHostCall(index);
    return {next, ghReloadGo, 1};
}

inline TPSExec::GeneralMove TPSExec::GeneralReturn(TPSDecodedInstr& in) {
    if (!exception_frames_.empty() && ReturnThroughFrames(in.Pos)) return {position_, ghEnter};
    if (stack_base_ == -1) {
        // The main procedure returned: the run is finished, also when it
        // had been paused on the way.
        position_ = in.End;
        status_ = TPSStatus::isLoaded;
        return {0, ghEndRun};
    }
    if (stack_.Count() <= static_cast<std::uint32_t>(stack_base_)) {
        position_ = in.End;
        status_ = run_entry_;
        return {0, ghEndRun};
    }
    stack_.PopTo(static_cast<std::uint32_t>(stack_base_) + 1);
    void* top = stack_.Top();
    if (!IsReturnAddressItem(top)) {
        FailAt(in.End, erOutOfStackRange);
        return {0, ghFail};
    }
    const auto back = LoadAs<PSReturnAddress>(ValueOfTypedValue(top));
    stack_.Pop();
    if (back.Proc == nullptr) {
        // The frame that the host made: its run ends here.
        stack_base_ = back.StackBase;
        position_ = back.Position;
        status_ = run_entry_;
        return {0, ghEndRun};
    }
    ReturnInto(back);
    // On at the instruction after the call (the one at its return position).
    if (back.Instr < decoded_->InstrCount()) return {back.Instr, ghReload};
    return {back.Position, ghEnter};
}

}  // namespace script::runtime
