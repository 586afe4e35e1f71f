#pragma once
// Proving the shape of the run stack once, when a procedure's code is
// prepared: for an entry with known items below the return address, the
// number and types of the items above it at every instruction, over every
// path the code can take (jumps, the blocks of its try frames, the return
// waiting for a finally block). With the shape known, an operand that names
// a stack item lies at a fixed byte distance from the frame's return
// address and has a known type, so the instruction can run a proven form
// that checks nothing about it; and common sequences of the compiler (a
// temporary pushed, computed into and popped; an if statement's condition)
// run as one step.
//
// What is proven rests only on what every instruction does to the count and
// types of the items. What may change under a proven form is checked where
// it is used: the target of a Pointer item (a var parameter, a function's
// result) is expected to keep the type it had, an element's index to lie in
// range; a form whose check fails runs the instruction's general form, and
// one whose push depends on such a type leaves the rest of the procedure's
// run to the general form. Code whose shape cannot be proven at some
// instruction (a path that reaches it with other items, a pop below an open
// try frame, a try statement left other than as compiled) gets no proven
// form at all.
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "script/runtime/decoded_code.h"
#include "script/runtime/stack.h"
#include "script/runtime/type_records.h"
#include "script/runtime/value_layout.h"

namespace script::runtime {

// The stack where a procedure is entered: the items below its return
// address that its code names, nearest first, and what those that are
// Pointers pointed at (nil when not known; only expected). TopLevel: the
// main block run from an empty stack, with no return address.
struct TPSEntryShape {
    bool TopLevel = false;
    std::vector<const TPSTypeRec*> Params;
    std::vector<const TPSTypeRec*> Targets;

    // Entries that prove the same shapes (the targets are only expected).
    bool SameItems(const TPSEntryShape& other) const {
        return TopLevel == other.TopLevel && Params == other.Params;
    }
};

// Proves the shapes of general's code entered as entry, and gives a copy of
// it whose instructions run proven forms where their operands allow; nil
// when the shapes cannot be proven. A general code that has not run yet
// (fresh) is proven in place and gives its list to the proven code
// (TPSDecodedCode::TakeFrom) instead of being copied. Raises nothing.
std::unique_ptr<TPSDecodedCode> ProveCode(const TPSExec& exec, TPSDecodedCode& general,
                                          const TPSEntryShape& entry, bool fresh);

// The bytes of a run-stack item of the type, and of a return address item.
inline std::uint32_t StackItemBytes(const TPSTypeRec* type) {
    return static_cast<std::uint32_t>(
        TPSStack::RoundedItemBytes(kTypedValueHeaderBytes + std::uint64_t{type->RealSize}));
}
constexpr std::uint32_t ReturnAddressItemBytes() {
    return static_cast<std::uint32_t>(
        TPSStack::RoundedItemBytes(kTypedValueHeaderBytes + sizeof(PSReturnAddress)));
}

}  // namespace script::runtime
