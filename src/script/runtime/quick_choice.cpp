#include "script/runtime/quick_choice.h"

#include "script/runtime/managed_blocks.h"
#include "script/runtime/operation_bodies.h"
#include "script/runtime/value_layout.h"

namespace script::runtime {

namespace {

// Where a quick form goes, and the ticks on the way there.
struct Hop {
    std::uint32_t To;
    std::uint8_t Ticks;
};

// The run goes to instruction i, having passed ticks: a Goto there is taken
// at once (and its tick with it).
Hop Threaded(const TPSDecodedInstr* instrs, std::uint32_t i, std::uint8_t ticks = 0) {
    if (instrs[i].BaseOp == opGoto)
        return Hop{instrs[i].Target, static_cast<std::uint8_t>(ticks + instrs[i].JumpTicks)};
    return Hop{i, ticks};
}
// Where a jump instruction's jump goes on.
Hop JumpHop(const TPSDecodedInstr* instrs, const TPSDecodedInstr& jump) {
    return Threaded(instrs, jump.Target, jump.JumpTicks);
}

void QuickNextTo(TPSDecodedInstr& in, Hop hop) { in.QuickNext = HopTo(hop.To, hop.Ticks); }
void QuickTargetTo(TPSDecodedInstr& in, Hop hop) { in.QuickTarget = HopTo(hop.To, hop.Ticks); }

// The type of a variable as a quick form would see it: of the item, or of
// what a Pointer item points at when followed; nil when there is none.
const TPSTypeRec* SeenType(const TPSStack& stack, std::int32_t base, const TPSDecodedVar& v,
                           bool follow) {
    if (v.Place == TPSVarPlace::Fixed) return v.Type;
    if (v.Place != TPSVarPlace::Stack) return nullptr;
    void* item =
        stack.GetItem(static_cast<std::uint32_t>(base) + static_cast<std::uint32_t>(v.Offset));
    const TPSTypeRec* type = item != nullptr ? TypeOfTypedValue(item) : nullptr;
    if (type != nullptr && type->BaseType == btPointer && follow)
        type = LoadAs<PSPointerValue>(ValueOfTypedValue(item)).Type;
    return type;
}

// The type of the element that an element operand selects in a container
// of a given type, when it is the same at every run; nil otherwise.
const TPSTypeRec* ElementType(const TPSTypeRec* container, const TPSDecodedOperand& o) {
    switch (container->BaseType) {
        case btArray:
        case btStaticArray:
            return AsArray(container).ArrayType;
        case btRecord: {
            const auto& fields = AsRecord(container).FieldTypes;
            if (o.Form != TPSOperandForm::ElementNumber || o.Number >= fields.size())
                return nullptr;
            return fields[o.Number];
        }
        default:
            return nullptr;
    }
}

// Whether an operand may take part in a quick form, its types as resolved
// now remembered: a variable or constant whose value lies in its own slot
// (a global Pointer may point elsewhere at every run), or an element of an
// array or record selected by number or by an integer variable.
bool QuickOperand(const TPSStack& stack, std::int32_t base, TPSDecodedOperand& o,
                  const TPSTypeRec* resolved) {
    if (o.Var.Place == TPSVarPlace::Missing) return false;
    if (o.Form <= TPSOperandForm::Constant) {
        if (o.Var.Place == TPSVarPlace::Fixed && o.Var.Type != resolved) return false;
        o.Seen = resolved;
        return true;
    }
    if (o.Form != TPSOperandForm::ElementNumber && o.Form != TPSOperandForm::ElementIndex)
        return false;
    // The container is always followed; a global container must not be a
    // Pointer, whose target may change.
    const TPSTypeRec* container = SeenType(stack, base, o.Var, true);
    if (container == nullptr || (o.Var.Place == TPSVarPlace::Fixed && o.Var.Type != container))
        return false;
    const std::uint8_t kind = container->BaseType;
    if (kind != btArray && kind != btStaticArray && kind != btRecord) return false;
    // The element must be the value itself, of one type at every run: not a
    // Pointer that the general form follows, nor a field chosen at run time.
    if (ElementType(container, o) != resolved) return false;
    if (o.Form == TPSOperandForm::ElementIndex) {
        const TPSTypeRec* index = SeenType(stack, base, o.Index, false);
        if (index == nullptr || !IsInt32(index)) return false;
        o.SeenIndex = index;
    }
    o.SeenContainer = container;
    o.Seen = resolved;
    return true;
}

// Whether a SetFlag on var takes a Pop and a FlagGoto along (an if
// statement: the condition sets the flag, the temporary that held it goes,
// the flag decides the jump). Then in, the instruction that takes them
// along, notes where the jump goes, and on which result of its comparison
// it is taken.
bool FlagJumpFollows(TPSDecodedInstr* instrs, const TPSDecodedInstr& set_flag,
                     const TPSDecodedOperand& var, TPSDecodedInstr& in) {
    const TPSDecodedInstr* jump = FlagJumpAfter(instrs, &set_flag, var);
    if (jump == nullptr) return false;
    in.QuickJumpWhen = set_flag.Sub == 0;
    QuickTargetTo(in, JumpHop(instrs, *jump));
    QuickNextTo(in, Threaded(instrs, jump->Next));
    return true;
}

// The quick form of a Compare, seeing what follows it: a jump on its result
// (with the step of a for loop's counter between, or the flag of an if
// statement) is taken along.
std::uint8_t QuickCompare(TPSDecodedInstr* instrs, TPSDecodedInstr& in) {
    QuickNextTo(in, Threaded(instrs, in.Next));
    const TPSCompareFollowers f = MatchCompareFollowers(instrs, in);
    if (f.What == TPSCompareFollowers::kNone) return qpCompare32;
    in.QuickJumpWhen = f.JumpWhen;
    in.QuickStep = f.Step;
    QuickTargetTo(in, JumpHop(instrs, *f.Jump));
    QuickNextTo(in, Threaded(instrs, f.Jump->Next));
    return f.What == TPSCompareFollowers::kLoopStep ? qpLoopStep32
           : f.What == TPSCompareFollowers::kJump   ? qpCompareJump32
                                                    : qpCompareFlag32;
}

// Whether the source of a SetPtr about to run may take part in its quick
// form: a variable or element that is no Pointer (a Pointer source gives
// what it points at). Seen before the run, which may change a container.
bool QuickPointerSource(const TPSStack& stack, std::int32_t base, TPSDecodedOperand& o) {
    const TPSTypeRec* source = nullptr;
    if (o.Form == TPSOperandForm::Variable) {
        source = SeenType(stack, base, o.Var, false);
    } else if (o.Form == TPSOperandForm::ElementNumber || o.Form == TPSOperandForm::ElementIndex) {
        const TPSTypeRec* container = SeenType(stack, base, o.Var, true);
        if (container != nullptr) source = ElementType(container, o);
    }
    return source != nullptr && source->BaseType != btPointer &&
           QuickOperand(stack, base, o, source);
}

// Whether the destination of a SetPtr that has run may take part in its
// quick form: a Pointer variable.
bool QuickPointerDestination(const TPSStack& stack, std::int32_t base, TPSDecodedOperand& o) {
    if (o.Form != TPSOperandForm::Variable) return false;
    const TPSTypeRec* dest = SeenType(stack, base, o.Var, false);
    return dest != nullptr && dest->BaseType == btPointer && QuickOperand(stack, base, o, dest);
}

}  // namespace

void GiveQuickAssign(const RunView& run, TPSDecodedInstr& in, const TPSTypeRec* dest,
                     const TPSTypeRec* source) {
    if (!QuickOperand(run.Stack, run.Base, in.Held(0), dest) ||
        !QuickOperand(run.Stack, run.Base, in.Held(1), source))
        return;
    QuickNextTo(in, Threaded(run.Instrs, in.Next));
    if (IsInt32(dest) && IsInt32(source))
        in.Op = qpAssign32;
    else if (dest->RealSize == 1)
        in.Op = qpAssign8;
    else if (dest->BaseType == btString)
        in.Op = qpAssignString;
}

void GiveQuickCalc(const RunView& run, TPSDecodedInstr& in, const TPSTypeRec* dest,
                   const TPSTypeRec* source) {
    if (in.Sub > caXor || !QuickOperand(run.Stack, run.Base, in.Held(0), dest) ||
        !QuickOperand(run.Stack, run.Base, in.Held(1), source))
        return;
    QuickNextTo(in, Threaded(run.Instrs, in.Next));
    in.Op = FormOfCalc(kQuickForms, in.Sub);
}

void GiveQuickCompare(const RunView& run, TPSDecodedInstr& in, const TPSTypeRec* result,
                      const TPSTypeRec* left, const TPSTypeRec* right) {
    if (!IsByteValue(result) || !QuickOperand(run.Stack, run.Base, in.Held(0), result) ||
        !QuickOperand(run.Stack, run.Base, in.Held(1), left) ||
        !QuickOperand(run.Stack, run.Base, in.Held(2), right))
        return;
    in.Op = QuickCompare(run.Instrs, in);
}

void GiveQuickPushAssign(const RunView& run, TPSDecodedInstr& in) {
    if (!IsInt32(in.Type)) return;
    // The temporary is the top item; the next instruction must assign it a
    // 32-bit value that a quick form can read.
    const TPSDecodedInstr& next = run.Instrs[in.Next];
    const std::int64_t offset = static_cast<std::int64_t>(run.Stack.Count()) - 1 - run.Base;
    if (next.BaseOp != opAssign || next.A().Form != TPSOperandForm::Variable ||
        next.A().Var.Place != TPSVarPlace::Stack || next.A().Var.Offset != offset ||
        next.B().Form > TPSOperandForm::Constant || next.Next == kNoInstr)
        return;
    const TPSTypeRec* source = SeenType(run.Stack, run.Base, next.B().Var, next.B().Follow);
    TPSDecodedOperand copy = next.B();
    if (!IsInt32(source) || !QuickOperand(run.Stack, run.Base, copy, source)) return;
    in.Held(0) = copy;
    QuickNextTo(in, Threaded(run.Instrs, next.Next));
    in.Op = qpPushAssign32;
}

void GiveQuickCondJump(const RunView& run, TPSDecodedInstr& in, const TPSTypeRec* condition) {
    if (!IsByteValue(condition) || !QuickOperand(run.Stack, run.Base, in.Held(0), condition))
        return;
    in.QuickJumpWhen = in.BaseOp == opCondGoto;
    QuickTargetTo(in, JumpHop(run.Instrs, in));
    QuickNextTo(in, Threaded(run.Instrs, in.Next));
    in.Op = qpCondByte;
}

void GiveQuickSetFlag(const RunView& run, TPSDecodedInstr& in, const TPSTypeRec* condition) {
    if (!IsByteValue(condition) || !QuickOperand(run.Stack, run.Base, in.Held(0), condition))
        return;
    QuickNextTo(in, Threaded(run.Instrs, in.Next));
    const bool jump =
        in.A().Form == TPSOperandForm::Variable && FlagJumpFollows(run.Instrs, in, in.A(), in);
    in.Op = jump ? qpSetFlagJump : qpSetFlagByte;
}

void GiveQuickIncDec(const RunView& run, TPSDecodedInstr& in, const TPSTypeRec* counter) {
    if (!IsInt32(counter) || !QuickOperand(run.Stack, run.Base, in.Held(0), counter)) return;
    QuickNextTo(in, Threaded(run.Instrs, in.Next));
    in.Op = in.BaseOp == opInc ? qpInc32 : qpDec32;
}

bool NoteQuickSetPtrSource(const RunView& run, TPSDecodedInstr& in) {
    return QuickPointerSource(run.Stack, run.Base, in.Held(1));
}

void GiveQuickSetPtr(const RunView& run, TPSDecodedInstr& in, std::uint32_t next) {
    if (!QuickPointerDestination(run.Stack, run.Base, in.Held(0))) return;
    QuickNextTo(in, Threaded(run.Instrs, next));
    in.Op = qpSetPtr;
}

}  // namespace script::runtime
