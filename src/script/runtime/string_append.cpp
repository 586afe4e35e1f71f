#include "script/runtime/string_append.h"

#include <functional>
#include <string_view>

#include "script/runtime/errors.h"
#include "script/runtime/managed_blocks.h"
#include "script/runtime/value_layout.h"

namespace script::runtime {

namespace {

// The most Pops looked past between the Calc and the assignment: e's
// temporaries (a function's result, a character read, a cast), a few.
constexpr std::uint32_t kMostPops = 8;

// A plain variable: its value and type, and the run-stack item it lies in
// or that points at it (-1 for a global).
struct PlainVar {
    void* Value = nullptr;
    const TPSTypeRec* Type = nullptr;
    std::int64_t Item = -1;
};

// The value of an operand that is a plain variable (a global, a local, or
// what a Pointer item of it points at), found without reporting anything:
// false for anything else or what does not resolve.
bool PlainVariable(const TPSStack& stack, std::int32_t base, const TPSDecodedOperand& o, PlainVar& out) {
    if (o.Form != TPSOperandForm::Variable) return false;
    if (o.Var.Place == TPSVarPlace::Fixed) {
        out = {o.Var.Value, o.Var.Type, -1};
    } else if (o.Var.Place == TPSVarPlace::Stack) {
        const std::int64_t index = std::int64_t{base} + o.Var.Offset;
        void* item = index >= 0 ? stack.GetItem(static_cast<std::uint32_t>(index)) : nullptr;
        if (item == nullptr) return false;
        out = {ValueOfTypedValue(item), TypeOfTypedValue(item), index};
    } else {
        return false;
    }
    if (out.Value == nullptr || out.Type == nullptr) return false;
    if (o.Follow && out.Type->BaseType == btPointer) {
        const auto p = LoadAs<PSPointerValue>(out.Value);
        out.Value = p.Address;
        out.Type = p.Type;
        if (out.Value == nullptr || out.Type == nullptr) return false;
    }
    return true;
}

// Whether popping the item runs nothing: no interface, object or Variant
// is released, no copy a Pointer owns is destroyed, so nothing can see the
// string grown before the Pops that come ahead of its assignment.
bool PopsQuietly(const void* item) {
    const TPSTypeRec* type = item != nullptr ? TypeOfTypedValue(item) : nullptr;
    if (type == nullptr || type->BaseType == btReturnAddress) return false;
    if (!type->NeedsFinalization()) return true;
    switch (type->BaseType) {
    case btString:
    case btPChar: return true;
    case btPointer: return LoadAs<PSPointerValue>(ValueOfTypedValue(item)).OwnsCopy == 0;
    default: return false;
    }
}

// Whether value lies in the value of one of the items from first up to
// count (exclusive).
bool LiesInItems(const TPSStack& stack, std::uint32_t first, std::uint32_t count, const void* value) {
    const std::less<const void*> before;
    for (std::uint32_t n = first; n < count; ++n) {
        void* item = stack.GetItem(n);
        const auto* begin = static_cast<const std::byte*>(ValueOfTypedValue(item));
        if (!before(value, begin) && before(value, begin + TypeOfTypedValue(item)->RealSize)) return true;
    }
    return false;
}

}  // namespace

std::uint32_t AppendForAssignment(TPSStack& stack, std::int32_t base, const TPSDecodedInstr* instrs,
                                  const TPSDecodedInstr& calc, void* temp, const void* x, const TPSTypeRec* x_type) {
    if (calc.Sub != caAdd) return kNoInstr;
    const std::uint8_t x_base = x_type->BaseType;
    if (x_base != btString && x_base != btChar && x_base != btPChar) return kNoInstr;
    // The Pops of e's temporaries, then the assignment.
    std::uint32_t at = calc.Next;
    std::uint32_t pops = 0;
    while (at != kNoInstr && instrs[at].BaseOp == opPop) {
        if (++pops > kMostPops) return kNoInstr;
        at = instrs[at].Next;
    }
    if (at == kNoInstr) return kNoInstr;
    const TPSDecodedInstr& assign = instrs[at];
    if (assign.BaseOp != opAssign || assign.Next == kNoInstr) return kNoInstr;
    // The items popped belong to this frame and release nothing that runs;
    // temp and s are left by them.
    const std::uint32_t count = stack.Count();
    if (std::int64_t{count} - pops <= std::int64_t{base} + 1) return kNoInstr;
    const std::uint32_t kept = count - pops;
    for (std::uint32_t n = kept; n < count; ++n)
        if (!PopsQuietly(stack.GetItem(n))) return kNoInstr;
    PlainVar from;
    PlainVar to;
    if (!PlainVariable(stack, base, assign.B(), from) || from.Value != temp || from.Item >= kept) return kNoInstr;
    if (!PlainVariable(stack, base, assign.A(), to) || to.Value == temp || to.Type->BaseType != btString ||
        to.Item >= kept || LiesInItems(stack, kept, count, to.Value))
        return kNoInstr;
    const PSStr text = LoadStr(to.Value);
    if (text == nullptr || LoadStr(temp) != text || BlockRefCount(text) != 2) return kNoInstr;
    // x may be s or temp itself: its view stays valid, as s keeps the text
    // (AppendStringSlot takes a view into the growing text).
    const std::string_view piece = x_base == btString  ? StringSlotView(x)
                                   : x_base == btPChar ? PCharSlotView(x)
                                                       : std::string_view(static_cast<const char*>(x), 1);
    ClearStringSlot(temp);
    try {
        AppendStringSlot(to.Value, piece);
    } catch (const EPSOutOfMemory&) {
        // s is as it was: the Calc runs as written and reports it.
        ShareStringSlot(temp, to.Value);
        return kNoInstr;
    }
    ShareStringSlot(temp, to.Value);
    for (std::uint32_t n = 0; n < pops; ++n) stack.Pop();
    return assign.Next;
}

}  // namespace script::runtime
