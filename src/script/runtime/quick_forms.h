#pragma once
// The quick forms' helpers: a quick form is what the general loop
// (interpreter.cpp) gives an instruction once it has run it, noting the
// types its operands had (quick_choice.h); at every run (quick_loop.cpp) it
// checks those types are still there (else the instruction's general
// handler runs) and does the work without the general machinery. Here: how
// a quick form finds its operands' values.
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

// Whether the top item is the stack variable of an operand, of the type the
// quick form saw (the condition's temporary, which a Pop drops at once).
inline bool TopIsSeen(const TPSStack& stack, std::int32_t base, const TPSDecodedOperand& o) {
    void* top = stack.Top();
    return top == stack.GetItem(static_cast<std::uint32_t>(base) + static_cast<std::uint32_t>(o.Var.Offset)) &&
           TypeOfTypedValue(top) == o.Seen;
}

}  // namespace script::runtime
