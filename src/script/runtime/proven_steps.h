#pragma once
// What the loop of proven forms (proven_loop.cpp) works with: where a proven
// operand lies, and the comparison as a proven form keeps it.
#include <cstddef>
#include <cstdint>
#include <iterator>

#include "script/compiler/image_format.h"
#include "script/runtime/decoded_code.h"
#include "script/runtime/managed_blocks.h"
#include "script/runtime/operation_bodies.h"
#include "script/runtime/value_layout.h"

namespace script::runtime {

// A proven operand's slot in the frame whose return address lies at lb (or
// the global or constant it names).
[[gnu::always_inline]] inline std::byte* ProvenSlot(const TPSSlotRef& r, std::byte* lb) {
    // All ones for a slot of the frame, none for an address (an arithmetic
    // shift).
    const auto frame = static_cast<std::uintptr_t>(r.Word >> 63);
    return reinterpret_cast<std::byte*>(
        ((reinterpret_cast<std::uintptr_t>(lb) + static_cast<std::uintptr_t>(kFrameSlotBias)) & frame) +
        static_cast<std::uintptr_t>(r.Word));
}

// The target of the Pointer value at an address, when it is of the
// expected type; nil otherwise, and for a nil target.
[[gnu::always_inline]] inline std::byte* PointerTarget(const std::byte* at,
                                                       const TPSTypeRec* expect) {
    if (LoadAs<const TPSTypeRec*>(at + offsetof(PSPointerValue, Type)) != expect) return nullptr;
    return LoadAs<std::byte*>(at + offsetof(PSPointerValue, Address));
}

// An element of the container at an address; nil when its index is out of
// range (or the container is not the expected one): the general form then
// reports what is wrong.
std::byte* ProvenElement(std::byte* at, const TPSProvenAccess& x, std::byte* lb);

// Element index of the array whose value lies at an address (x tells the
// kind, the element size and a static array's length); nil when the index
// is out of range.
inline std::byte* ElementAt(std::byte* array, const TPSProvenAccess& x, std::uint32_t index) {
    if (x.Kind == paArrayElement) {
        auto* data = LoadAs<std::byte*>(array);
        if (std::int64_t{index} >= BlockCount(data)) return nullptr;
        return data + std::uint64_t{index} * x.ElementSize;
    }
    if (index >= x.Count) return nullptr;
    return array + std::uint64_t{index} * x.ElementSize;
}

// The value of a proven operand that does not lie in its slot.
[[gnu::always_inline]] inline std::byte* ProvenReach(std::byte* at, const TPSProvenAccess& x,
                                                     std::byte* lb) {
    if (x.Kind == paTarget) {
        std::byte* target = PointerTarget(at, x.Expect);
        return target != nullptr ? target + x.Number : nullptr;
    }
    return ProvenElement(at, x, lb);
}

// A proven 32-bit comparison (its relation and sign flip made by
// SetRelation from the operator).
[[gnu::always_inline]] inline bool Related(const TPSDecodedInstr& in, const void* l,
                                           const void* r) {
    return Holds(in.Relation, in.Flip, LoadAs<std::uint32_t>(l), LoadAs<std::uint32_t>(r));
}

// Proven operand n (0 to 3) of an instruction, found for a whole loop of
// steps: nil when a check fails.
inline std::byte* LoopOperand(const TPSDecodedCode& code, const TPSDecodedInstr& in, int n, std::byte* lb) {
    const TPSSlotRef* refs[4] = {&in.PA, &in.PB, &in.PC, &in.PD};
    std::byte* at = ProvenSlot(*refs[n], lb);
    return (in.Reach & (1u << n)) != 0 ? ProvenReach(at, code.AccessOf(in, n), lb) : at;
}

// Pops the top item, a String, releasing its text (which runs nothing).
inline void PopString(TPSStack& stack) {
    void* value = ValueOfTypedValue(stack.Top());
    const PSStr text = LoadStr(value);
    StoreAs(value, PSStr{nullptr});
    ReleaseString(text);
    stack.PopPlain();
}

// Whether a Pointer item at an address owns a copy (its pop releases it).
inline bool OwnsCopyAt(const void* item) {
    return LoadAs<std::uint64_t>(static_cast<const std::byte*>(item) + kTypedValueHeaderBytes +
                                 offsetof(PSPointerValue, OwnsCopy)) != 0;
}

// The moves of the two loops (interpreter.cpp, proven_loop.cpp), in a
// function that holds pc (the byte offset of the instruction that runs in
// the list instrs), lb (the frame base), a label tick and its own
// VOSTREL_NEXT() (on to the instruction at pc).
#define VOSTREL_IN(offset) \
    (*reinterpret_cast<TPSDecodedInstr*>(reinterpret_cast<std::byte*>(instrs) + (offset)))
#define VOSTREL_AT(instr) (std::size_t{instr} * sizeof(TPSDecodedInstr))
// Continues at a position of the current code, in the frame that runs now.
#define VOSTREL_JUMP_TO(position)                     \
    do {                                              \
        pc = VOSTREL_AT(decoded_->EntryAt(position)); \
        instrs = decoded_->Instrs();                  \
        lb = FrameBase();                             \
    } while (false)
// The next instruction in a loop of forms (the proven or the quick ones)
// whose label table forms begins at opcode first: its form, or back to the
// general loop (the loop's label to_main).
#define VOSTREL_FORM_NEXT(first)                                                  \
    do {                                                                          \
        if (attention_) goto to_main;                                             \
        const unsigned form = static_cast<unsigned>(VOSTREL_IN(pc).Op) - (first); \
        if (form >= std::size(forms)) goto to_main;                               \
        goto* forms[form];                                                        \
    } while (false)
// Goes on after a return, in the caller's code entered by ReturnInto: at
// the instruction after the call (the one at its return position).
#define VOSTREL_RESUME(back)                                   \
    do {                                                       \
        if ((back).Instr < decoded_->InstrCount()) {           \
            pc = VOSTREL_AT((back).Instr);                     \
            instrs = decoded_->Instrs();                       \
            lb = FrameBase();                                  \
        } else {                                               \
            VOSTREL_JUMP_TO((back).Position);                  \
        }                                                      \
    } while (false)
// Goes on at the instruction at offset to, counting the ticks passed on the
// way there (taken before pc changes).
#define VOSTREL_GO(to, ticks)                                                   \
    do {                                                                        \
        const std::uint32_t ticks_passed = (ticks);                             \
        pc = (to);                                                              \
        if (ticks_passed != 0 && (ticks_left_ -= ticks_passed) <= 0) goto tick; \
        VOSTREL_NEXT();                                                         \
    } while (false)
// Goes on along a hop (HopTo).
#define VOSTREL_HOP(hop)                                 \
    do {                                                 \
        pc = (hop);                                      \
        if ((pc & kHopTicks) != 0) [[unlikely]] {        \
            const std::uint32_t passed = pc & kHopTicks; \
            pc -= passed;                                \
            if ((ticks_left_ -= passed) <= 0) goto tick; \
        }                                                \
        VOSTREL_NEXT();                                  \
    } while (false)

}  // namespace script::runtime
