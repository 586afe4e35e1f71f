#pragma once
// The quick forms' helpers: a quick form is what the general loop
// (interpreter.cpp) gives an instruction once it has run it, noting the
// types its operands had; at every run it checks those types are still
// there (else the instruction's general handler runs) and does the work
// without the general machinery. Here: how a quick form finds its operands'
// values, whether an operand may take part in one, and the compiler's
// patterns that a quick form takes along.
#include <cstddef>
#include <cstdint>

#include "script/runtime/decoded_code.h"
#include "script/runtime/managed_blocks.h"
#include "script/runtime/stack.h"
#include "script/runtime/type_records.h"
#include "script/runtime/value_layout.h"

namespace script::runtime {

// A variable of a quick form's operand with the type it was seen with (or
// what a Pointer item points at, when it may be followed); nil otherwise.
[[gnu::always_inline]] inline void* QuickVariable(const TPSStack& stack, std::int32_t base, const TPSDecodedVar& v, const TPSTypeRec* seen,
                           bool follow) {
    if (v.Place == TPSVarPlace::Fixed) return v.Value;
    const std::uint32_t index = static_cast<std::uint32_t>(base) + static_cast<std::uint32_t>(v.Offset);
    void* item = stack.GetItem(index);
    if (item != nullptr && TypeOfTypedValue(item) == seen) [[likely]]
        return ValueOfTypedValue(item);
    const TPSTypeRec* type = item != nullptr ? TypeOfTypedValue(item) : nullptr;
    if (type == nullptr || type->BaseType != btPointer || !follow) return nullptr;
    const auto* value = static_cast<const std::byte*>(ValueOfTypedValue(item));
    if (LoadAs<const TPSTypeRec*>(value + offsetof(PSPointerValue, Type)) != seen) return nullptr;
    return LoadAs<void*>(value + offsetof(PSPointerValue, Address));
}

// An element of a quick form's operand: its container and index still of
// the types seen, and the index within the container; nil otherwise (the
// general form then reports what is wrong).
void* QuickElement(const TPSStack& stack, std::int32_t base, const TPSDecodedOperand& o);

// The value of an operand of a quick form, when it still has the type the
// form was made for: a global or constant always has; a stack item, or what
// a Pointer item of it points at, is checked; an element is looked up
// again. Nil when it has not.
[[gnu::always_inline]] inline void* QuickValue(const TPSStack& stack, std::int32_t base, const TPSDecodedOperand& o) {
    if (o.Form <= TPSOperandForm::Constant) [[likely]]
        return QuickVariable(stack, base, o.Var, o.Seen, o.Follow);
    return QuickElement(stack, base, o);
}

// Where a quick form goes, and the ticks on the way there.
struct Hop {
    std::uint32_t To;
    std::uint8_t Ticks;
};

// The run goes to instruction i, having passed ticks: a Goto there is taken
// at once (and its tick with it).
Hop Threaded(const TPSDecodedInstr* instrs, std::uint32_t i, std::uint8_t ticks = 0);
// Where a jump instruction's jump goes on.
Hop JumpHop(const TPSDecodedInstr* instrs, const TPSDecodedInstr& jump);
inline void QuickNextTo(TPSDecodedInstr& in, Hop hop) { in.QuickNext = HopTo(hop.To, hop.Ticks); }
inline void QuickTargetTo(TPSDecodedInstr& in, Hop hop) { in.QuickTarget = HopTo(hop.To, hop.Ticks); }

// The type of a variable as a quick form would see it: of the item, or of
// what a Pointer item points at when followed; nil when there is none.
const TPSTypeRec* SeenType(const TPSStack& stack, std::int32_t base, const TPSDecodedVar& v, bool follow);
// Whether an operand may take part in a quick form, its types as resolved
// now remembered (in o).
bool QuickOperand(const TPSStack& stack, std::int32_t base, TPSDecodedOperand& o, const TPSTypeRec* resolved);
// Whether a SetFlag on var takes a Pop and a FlagGoto along; then in notes
// where the jump goes and on which result.
bool FlagJumpFollows(TPSDecodedInstr* instrs, const TPSDecodedInstr& set_flag, const TPSDecodedOperand& var,
                     TPSDecodedInstr& in);
// Whether the top item is the stack variable of an operand, of the type the
// quick form saw (the condition's temporary, which a Pop drops at once).
inline bool TopIsSeen(const TPSStack& stack, std::int32_t base, const TPSDecodedOperand& o) {
    void* top = stack.Top();
    return top == stack.GetItem(static_cast<std::uint32_t>(base) + static_cast<std::uint32_t>(o.Var.Offset)) &&
           TypeOfTypedValue(top) == o.Seen;
}

// The quick form of a Compare, seeing what follows it.
std::uint8_t QuickCompare(TPSDecodedInstr* instrs, TPSDecodedInstr& in);
// Whether the source and the destination of a SetPtr may take part in its
// quick form.
bool QuickPointerSource(const TPSStack& stack, std::int32_t base, TPSDecodedOperand& o);
bool QuickPointerDestination(const TPSStack& stack, std::int32_t base, TPSDecodedOperand& o);

}  // namespace script::runtime
