#include "script/runtime/string_append.h"

#include <string_view>

#include "script/runtime/errors.h"
#include "script/runtime/managed_blocks.h"
#include "script/runtime/value_layout.h"

namespace script::runtime {

namespace {

// The value of an operand that is a plain variable (a global, a local, or
// what a Pointer item of it points at), found without reporting anything:
// nil for anything else or what does not resolve.
void* PlainVariable(const TPSStack& stack, std::int32_t base, const TPSDecodedOperand& o, const TPSTypeRec*& type) {
    if (o.Form != TPSOperandForm::Variable) return nullptr;
    void* value = nullptr;
    if (o.Var.Place == TPSVarPlace::Fixed) {
        value = o.Var.Value;
        type = o.Var.Type;
    } else if (o.Var.Place == TPSVarPlace::Stack) {
        void* item = stack.GetItem(static_cast<std::uint32_t>(base) + static_cast<std::uint32_t>(o.Var.Offset));
        if (item == nullptr) return nullptr;
        type = TypeOfTypedValue(item);
        value = ValueOfTypedValue(item);
    }
    if (value == nullptr || type == nullptr) return nullptr;
    if (o.Follow && type->BaseType == btPointer) {
        const auto p = LoadAs<PSPointerValue>(value);
        value = p.Address;
        type = p.Type;
        if (value == nullptr || type == nullptr) return nullptr;
    }
    return value;
}

}  // namespace

bool AppendForAssignment(const TPSStack& stack, std::int32_t base, const TPSDecodedInstr& calc,
                         const TPSDecodedInstr& assign, void* temp, const void* x, const TPSTypeRec* x_type) {
    if (calc.Sub != caAdd || assign.BaseOp != opAssign) return false;
    const std::uint8_t x_base = x_type->BaseType;
    if (x_base != btString && x_base != btChar && x_base != btPChar) return false;
    const TPSTypeRec* from_type = nullptr;
    const TPSTypeRec* to_type = nullptr;
    if (PlainVariable(stack, base, assign.B(), from_type) != temp) return false;
    void* to = PlainVariable(stack, base, assign.A(), to_type);
    if (to == nullptr || to == temp || to_type->BaseType != btString) return false;
    const PSStr text = LoadStr(to);
    if (text == nullptr || LoadStr(temp) != text || BlockRefCount(text) != 2) return false;
    // x may be s or temp itself: its view stays valid, as s keeps the text
    // (AppendStringSlot takes a view into the growing text).
    const std::string_view piece = x_base == btString  ? StringSlotView(x)
                                   : x_base == btPChar ? PCharSlotView(x)
                                                       : std::string_view(static_cast<const char*>(x), 1);
    ClearStringSlot(temp);
    try {
        AppendStringSlot(to, piece);
    } catch (const EPSOutOfMemory&) {
        // s is as it was: the Calc runs as written and reports it.
        ShareStringSlot(temp, to);
        return false;
    }
    ShareStringSlot(temp, to);
    return true;
}

}  // namespace script::runtime
