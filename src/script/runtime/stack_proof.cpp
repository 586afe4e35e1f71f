#include "script/runtime/stack_proof.h"

#include "script/runtime/exec.h"
#include "script/runtime/operation_bodies.h"
#include "script/runtime/stack.h"
#include "script/runtime/value_layout.h"

namespace script::runtime::shape_proof {

StackProof::StackProof(const TPSExec& exec, TPSDecodedCode& code, const TPSEntryShape& entry)
    : exec_(exec), code_(&code), instrs_(code.Instrs()), count_(code.InstrCount()), entry_(entry) {
    std::intptr_t off = 0;
    bool known = true;
    for (const TPSTypeRec* t : entry.Params) {
        known = known && t != nullptr;
        if (known) off -= StackItemBytes(t);
        param_offsets_.push_back(known ? off + static_cast<std::intptr_t>(kTypedValueHeaderBytes) : 0);
        param_known_.push_back(known);
    }
}

bool StackProof::Flow() {
    states_.assign(count_, State{});
    if (!Reach(0, {}, {})) return false;
    while (!work_.empty()) {
        const std::uint32_t i = work_.front();
        work_.pop_front();
        if (!Transfer(i)) return false;
    }
    return true;
}

// The instruction is reached with these items and frames: the same
// items as on every other path, or the proof fails. Expected targets
// that differ become unknown.
bool StackProof::Reach(std::uint32_t i, const Items& stack, const Frames& open) {
    if (i == kNoInstr) return true;
    // A return takes whatever it finds: it leaves the procedure, or runs
    // a finally block on that block's own items.
    if (instrs_[i].BaseOp == opRet) return true;
    State& st = states_[i];
    if (!st.Seen) {
        st.Seen = true;
        st.Stack = stack;
        st.Open = open;
        work_.push_back(i);
        return true;
    }
    if (st.Open != open || st.Stack.size() != stack.size()) return false;
    bool changed = false;
    for (std::size_t j = 0; j < stack.size(); ++j) {
        if (st.Stack[j].Type != stack[j].Type) return false;
        if (st.Stack[j].Target != stack[j].Target && st.Stack[j].Target != nullptr) {
            st.Stack[j].Target = nullptr;
            changed = true;
        }
    }
    if (changed) work_.push_back(i);
    return true;
}

// By code position: a block of a try frame or the end of its statement.
bool StackProof::ReachPos(std::uint32_t pos, const Items& stack, const Frames& open) {
    // Beyond the code the run fails at once ("Out Of Range").
    if (pos >= code_->CodeLength()) return true;
    if (!code_->HasInstrAt(pos)) return false;
    return Reach(code_->EntryAt(pos), stack, open);
}

std::size_t StackProof::FrameFloor(const Frames& open) const {
    return open.empty() ? 0 : states_[open.back()].Stack.size();
}

bool StackProof::SameTypes(const Items& a, const Items& b) const {
    if (a.size() != b.size()) return false;
    for (std::size_t j = 0; j < a.size(); ++j)
        if (a[j].Type != b[j].Type) return false;
    return true;
}

bool StackProof::Transfer(std::uint32_t i) {
    const TPSDecodedInstr& in = instrs_[i];
    Items stack = states_[i].Stack;
    const Frames open = states_[i].Open;
    switch (in.BaseOp) {
        case opAssign:
        case opCalc:
        case opCompare:
        case opBoolNot:
        case opNeg:
        case opIntNot:
        case opInc:
        case opDec:
        case opSetFlag:
        case opNop:
        case opCall:
        case opCallVar:
            // The count of items after a call is checked where a host may
            // have changed it; a script procedure returns to it.
            return Reach(in.Next, stack, open);
        case opSetPtr:
        case opSetPtrToCopy: {
            const Operand d = Value(in.A(), states_[i]);
            if (d.StackOffset >= 1 && d.Direct && d.Type->BaseType == btPointer) {
                const Operand s = Value(in.B(), states_[i]);
                const TPSTypeRec* target = nullptr;
                if (s.Known) target = s.Type->BaseType == btPointer ? s.SlotTarget : s.Type;
                stack[static_cast<std::size_t>(d.StackOffset - 1)].Target = target;
            }
            return Reach(in.Next, stack, open);
        }
        case opPush: {
            const Operand s = Value(in.A(), states_[i]);
            if (!s.Known) return false;
            stack.push_back(Slot{s.Type, nullptr});
            return Reach(in.Next, stack, open);
        }
        case opPushVar: {
            const Operand v = Value(in.A(), states_[i]);
            const TPSTypeRec* target = nullptr;
            if (v.Known) target = v.Type->BaseType == btPointer ? v.SlotTarget : v.Type;
            stack.push_back(Slot{in.Type, target});
            return Reach(in.Next, stack, open);
        }
        case opPushType:
            stack.push_back(Slot{in.Type, nullptr});
            return Reach(in.Next, stack, open);
        case opPop:
        case opPopGoto:
        case opPop2Goto: {
            const std::size_t n = in.BaseOp == opPop2Goto ? 2 : 1;
            // Too few items: the instruction fails and goes nowhere.
            if (stack.size() < n) return true;
            // Items of an open try frame stay until it is closed.
            if (stack.size() - n < FrameFloor(open)) return false;
            stack.resize(stack.size() - n);
            return Reach(in.BaseOp == opPop ? in.Next : in.Target, stack, open);
        }
        case opGoto:
            return Reach(in.Target, stack, open);
        case opCondGoto:
        case opCondNotGoto:
        case opFlagGoto:
            return Reach(in.Next, stack, open) && Reach(in.Target, stack, open);
        case opPushExceptionHandler: {
            Frames inside = open;
            inside.push_back(i);
            if (!Reach(in.Next, stack, inside)) return false;
            // An error, a return or the end of a block enters the blocks on
            // the items the frame was opened on.
            const TPSDecodedCode::FrameOffsetList& offsets = code_->FrameOffsets(in);
            for (int k = 0; k < 3; ++k)
                if (offsets[k] != kNoOffset && !ReachPos(offsets[k], stack, inside))
                    return false;
            return offsets[3] == kNoOffset || ReachPos(offsets[3], stack, open);
        }
        case opPopExceptionHandler: {
            if (open.empty()) return false;
            const std::uint32_t k = open.back();
            const Items& frame_items = states_[k].Stack;
            // Every block of the frame runs on the items it was opened on.
            if (!SameTypes(stack, frame_items)) return false;
            Frames outside = open;
            outside.pop_back();
            const TPSDecodedCode::FrameOffsetList& offsets = code_->FrameOffsets(instrs_[k]);
            const std::uint32_t starts[3] = {offsets[0], offsets[1], offsets[2]};
            if (LeavesTryEarly(starts, offsets[3], in.End)) {
                // A Break or Continue: once the blocks have run, the run goes
                // on after the pops that leave the statement.
                const TPSDecodedInstr* next = in.Next != kNoInstr ? &instrs_[in.Next] : nullptr;
                const bool paired = next != nullptr && in.Sub == phEndOfTry &&
                                    next->BaseOp == opPopExceptionHandler &&
                                    next->Sub == phEndOfFinally && next->Pos == in.End;
                const std::uint32_t at = paired ? next->Next : in.Next;
                // Leaving several try statements at once passes items on
                // from one to the next: not proven.
                if (at == kNoInstr || instrs_[at].BaseOp == opPopExceptionHandler) return false;
                if (!Reach(at, frame_items, outside)) return false;
            }
            return offsets[3] == kNoOffset || ReachPos(offsets[3], frame_items, outside);
        }
        default:
            // Ret, and the instructions that always fail.
            return true;
    }
}

std::intptr_t StackProof::LocalOffset(const Items& stack, std::size_t j) const {
    std::intptr_t off = ReturnAddressItemBytes();
    for (std::size_t m = 0; m < j; ++m) off += StackItemBytes(stack[m].Type);
    return off + static_cast<std::intptr_t>(kTypedValueHeaderBytes);
}

Operand StackProof::Var(const TPSDecodedVar& v, const State& s, bool follow) const {
    Operand o;
    if (v.Place == TPSVarPlace::Fixed) {
        // A global Pointer may point anywhere at every run.
        if (follow && v.Type->BaseType == btPointer) return {};
        o.Known = o.Provable = o.Direct = true;
        o.Type = v.Type;
        o.Ref = TPSSlotRef::Fixed(v.Value);
        return o;
    }
    if (v.Place != TPSVarPlace::Stack) return {};
    Slot slot;
    std::intptr_t off = 0;
    if (v.Offset >= 1) {
        const auto j = static_cast<std::size_t>(v.Offset - 1);
        if (j >= s.Stack.size()) return {};
        slot = s.Stack[j];
        off = LocalOffset(s.Stack, j);
    } else if (v.Offset <= -1) {
        const auto j = static_cast<std::size_t>(-static_cast<std::int64_t>(v.Offset) - 1);
        if (j >= entry_.Params.size() || !param_known_[j]) return {};
        slot = Slot{entry_.Params[j], entry_.Targets[j]};
        off = param_offsets_[j];
    } else {
        return {};
    }
    if (slot.Type == nullptr || slot.Type->BaseType == btReturnAddress) return {};
    o.Known = o.Provable = o.Direct = true;
    o.Type = slot.Type;
    o.Ref = TPSSlotRef::FrameSlot(off);
    o.StackOffset = v.Offset;
    o.SlotTarget = slot.Target;
    if (follow && slot.Type->BaseType == btPointer) {
        if (slot.Target == nullptr) return {};
        o.Type = slot.Target;
        o.Direct = false;
        o.Expected = true;
        o.Access.Kind = paTarget;
        o.Access.Expect = slot.Target;
    }
    return o;
}

Operand StackProof::Element(const TPSDecodedOperand& d, const State& s) const {
    const Operand c = Var(d.Var, s, false);
    if (!c.Known) return {};
    const TPSTypeRec* container = c.Type;
    const bool through = container->BaseType == btPointer;
    if (through) {
        if (c.StackOffset == 0 || c.SlotTarget == nullptr) return {};
        container = c.SlotTarget;
    }
    Operand e;
    e.Known = true;
    e.Expected = through;
    e.Ref = c.Ref;
    e.Access.ThroughPointer = through;
    e.Access.Expect = through ? container : nullptr;
    auto fixed_element = [&](std::uint32_t offset) {
        e.Provable = true;
        if (through) {
            e.Access.Kind = paTarget;
            e.Access.Number = offset;
        } else {
            e.Direct = true;
            e.Ref.MoveBy(offset);
        }
    };
    auto index_variable = [&]() {
        const Operand ix = Var(d.Index, s, false);
        if (ix.Provable && ix.Direct && IsInt32(ix.Type)) {
            e.Access.ByIndexVar = true;
            e.Access.Index = ix.Ref;
            e.Provable = true;
        }
    };
    switch (container->BaseType) {
        case btRecord: {
            const auto& record = AsRecord(container);
            // A field chosen at run time has the type of that field.
            if (d.Form != TPSOperandForm::ElementNumber || d.Number >= record.FieldTypes.size())
                return {};
            e.Type = record.FieldTypes[d.Number];
            fixed_element(record.FieldOffsets[d.Number]);
            break;
        }
        case btStaticArray: {
            const auto& array = AsStaticArray(container);
            e.Type = array.ArrayType;
            if (d.Form == TPSOperandForm::ElementNumber) {
                if (d.Number >= array.Size) return {};
                fixed_element(d.Number * array.ArrayType->RealSize);
            } else {
                e.Access.Kind = paStaticElement;
                e.Access.Count = array.Size;
                e.Access.ElementSize = array.ArrayType->RealSize;
                index_variable();
            }
            break;
        }
        case btArray: {
            e.Type = AsArray(container).ArrayType;
            e.Access.Kind = paArrayElement;
            e.Access.ElementSize = e.Type->RealSize;
            if (d.Form == TPSOperandForm::ElementNumber) {
                e.Access.Number = d.Number;
                e.Provable = true;
            } else {
                index_variable();
            }
            break;
        }
        default:
            return {};
    }
    // A Pointer element stands for a target no proof knows.
    if (d.Follow && e.Type->BaseType == btPointer) return {};
    return e;
}

Operand StackProof::Value(const TPSDecodedOperand& d, const State& s) const {
    switch (d.Form) {
        case TPSOperandForm::Variable:
        case TPSOperandForm::Constant:
            return Var(d.Var, s, d.Follow);
        case TPSOperandForm::ElementNumber:
        case TPSOperandForm::ElementIndex:
            return Element(d, s);
        default:
            return {};
    }
}

}  // namespace script::runtime::shape_proof
