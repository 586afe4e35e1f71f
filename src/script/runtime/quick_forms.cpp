#include "script/runtime/quick_forms.h"

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

}  // namespace script::runtime
