#include "script/runtime/quick_forms.h"

#include "script/runtime/operation_bodies.h"

namespace script::runtime {

// An element of a quick form's operand: its container and index still of
// the types seen, and the index within the container; nil otherwise (the
// general form then reports what is wrong).
void* QuickElement(const TPSStack& stack, std::int32_t base, const TPSDecodedOperand& o) {
    auto* container = static_cast<std::byte*>(QuickVariable(stack, base, o.Var, o.SeenContainer, true));
    if (container == nullptr) return nullptr;
    std::uint32_t index = o.Number;
    if (o.Form == TPSOperandForm::ElementIndex) {
        const void* at = QuickVariable(stack, base, o.Index, o.SeenIndex, true);
        if (at == nullptr) return nullptr;
        // A 32-bit integer (a negative one is beyond every container).
        index = LoadAs<std::uint32_t>(at);
    }
    switch (o.SeenContainer->BaseType) {
    case btArray: {
        auto* data = LoadAs<std::byte*>(container);
        if (std::int64_t{index} >= BlockCount(data)) return nullptr;
        return data + std::uint64_t{index} * o.Seen->RealSize;
    }
    case btStaticArray:
        if (index >= AsStaticArray(o.SeenContainer).Size) return nullptr;
        return container + std::uint64_t{index} * o.Seen->RealSize;
    default: {
        const auto& record = AsRecord(o.SeenContainer);
        if (index >= record.FieldOffsets.size()) return nullptr;
        return container + record.FieldOffsets[index];
    }
    }
}



// The run goes to instruction i, having passed ticks: a Goto there is taken
// at once (and its tick with it).
Hop Threaded(const TPSDecodedInstr* instrs, std::uint32_t i, std::uint8_t ticks) {
    if (instrs[i].BaseOp == opGoto) return Hop{instrs[i].Target, static_cast<std::uint8_t>(ticks + instrs[i].JumpTicks)};
    return Hop{i, ticks};
}
// Where a jump instruction's jump goes on.
Hop JumpHop(const TPSDecodedInstr* instrs, const TPSDecodedInstr& jump) {
    return Threaded(instrs, jump.Target, jump.JumpTicks);
}

// The type of a variable as a quick form would see it: of the item, or of
// what a Pointer item points at when followed; nil when there is none.
const TPSTypeRec* SeenType(const TPSStack& stack, std::int32_t base, const TPSDecodedVar& v, bool follow) {
    if (v.Place == TPSVarPlace::Fixed) return v.Type;
    if (v.Place != TPSVarPlace::Stack) return nullptr;
    void* item = stack.GetItem(static_cast<std::uint32_t>(base) + static_cast<std::uint32_t>(v.Offset));
    const TPSTypeRec* type = item != nullptr ? TypeOfTypedValue(item) : nullptr;
    if (type != nullptr && type->BaseType == btPointer && follow) type = LoadAs<PSPointerValue>(ValueOfTypedValue(item)).Type;
    return type;
}

// The type of the element that an element operand selects in a container
// of a given type, when it is the same at every run; nil otherwise.
namespace {

const TPSTypeRec* ElementType(const TPSTypeRec* container, const TPSDecodedOperand& o) {
    switch (container->BaseType) {
    case btArray:
    case btStaticArray:
        return AsArray(container).ArrayType;
    case btRecord: {
        const auto& fields = AsRecord(container).FieldTypes;
        if (o.Form != TPSOperandForm::ElementNumber || o.Number >= fields.size()) return nullptr;
        return fields[o.Number];
    }
    default:
        return nullptr;
    }
}

}  // namespace

// Whether an operand may take part in a quick form, its types as resolved
// now remembered: a variable or constant whose value lies in its own slot
// (a global Pointer may point elsewhere at every run), or an element of an
// array or record selected by number or by an integer variable.
bool QuickOperand(const TPSStack& stack, std::int32_t base, TPSDecodedOperand& o, const TPSTypeRec* resolved) {
    if (o.Var.Place == TPSVarPlace::Missing) return false;
    if (o.Form <= TPSOperandForm::Constant) {
        if (o.Var.Place == TPSVarPlace::Fixed && o.Var.Type != resolved) return false;
        o.Seen = resolved;
        return true;
    }
    if (o.Form != TPSOperandForm::ElementNumber && o.Form != TPSOperandForm::ElementIndex) return false;
    // The container is always followed; a global container must not be a
    // Pointer, whose target may change.
    const TPSTypeRec* container = SeenType(stack, base, o.Var, true);
    if (container == nullptr || (o.Var.Place == TPSVarPlace::Fixed && o.Var.Type != container)) return false;
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
bool FlagJumpFollows(TPSDecodedInstr* instrs, const TPSDecodedInstr& set_flag, const TPSDecodedOperand& var,
                     TPSDecodedInstr& in) {
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
    return source != nullptr && source->BaseType != btPointer && QuickOperand(stack, base, o, source);
}

// Whether the destination of a SetPtr that has run may take part in its
// quick form: a Pointer variable.
bool QuickPointerDestination(const TPSStack& stack, std::int32_t base, TPSDecodedOperand& o) {
    if (o.Form != TPSOperandForm::Variable) return false;
    const TPSTypeRec* dest = SeenType(stack, base, o.Var, false);
    return dest != nullptr && dest->BaseType == btPointer && QuickOperand(stack, base, o, dest);
}

}  // namespace script::runtime
