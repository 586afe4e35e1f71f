#pragma once
// The proof of a procedure's stack shapes (shape_analysis.h): for an entry
// with known items below the return address, the items above it at every
// instruction over every path the code can take, and what is known of an
// operand's value given those items. The choice of forms
// (shape_analysis.cpp) builds on it.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "script/runtime/decoded_code.h"
#include "script/runtime/shape_analysis.h"

namespace script::runtime {

class TPSExec;

namespace shape_proof {

struct Slot {
    const TPSTypeRec* Type = nullptr;
    // What a Pointer item is expected to point at; nil when not known.
    const TPSTypeRec* Target = nullptr;
};

using Items = std::vector<Slot>;
using Frames = std::vector<std::uint32_t>;

// What is proven before an instruction: the items above the return
// address, and the try frames this run of the procedure has open (their
// PushExceptionHandler instructions, innermost last).
struct State {
    bool Seen = false;
    Items Stack;
    Frames Open;
};

// What the proof knows of an operand's value.
struct Operand {
    bool Known = false;     // its type is known (the shape depends on no more)
    bool Provable = false;  // a proven form can reach it
    bool Direct = false;    // it lies in its slot
    bool Expected = false;  // its type is a Pointer target's expected one
    const TPSTypeRec* Type = nullptr;
    TPSSlotRef Ref;
    TPSProvenAccess Access;
    // The stack slot it is (a Variable form), as its address names it; 0
    // when none. What a Pointer slot is expected to point at.
    std::int32_t StackOffset = 0;
    const TPSTypeRec* SlotTarget = nullptr;
};

class StackProof {
  public:
    // Proves the shapes of code (a copy of a general form, whose
    // instructions the choice of forms then changes) entered as entry.
    StackProof(const TPSExec& exec, TPSDecodedCode& code, const TPSEntryShape& entry);

    // Follows every path from the entry; false when some instruction is
    // reached with other items than on another path (or otherwise cannot be
    // proven).
    bool Flow();
    // What is known of an operand's value before an instruction.
    Operand Value(const TPSDecodedOperand& d, const State& s) const;

  protected:
    const TPSExec& exec_;
    TPSDecodedCode* code_;
    TPSDecodedInstr* instrs_ = nullptr;
    std::uint32_t count_ = 0;
    const TPSEntryShape& entry_;
    std::vector<State> states_;

  private:
    // The instruction is reached with these items and frames: the same
    // items as on every other path, or the proof fails. Expected targets
    // that differ become unknown.
    bool Reach(std::uint32_t i, const Items& stack, const Frames& open);
    // By code position: a block of a try frame or the end of its statement.
    bool ReachPos(std::uint32_t pos, const Items& stack, const Frames& open);
    std::size_t FrameFloor(const Frames& open) const;
    bool SameTypes(const Items& a, const Items& b) const;
    bool Transfer(std::uint32_t i);
    std::intptr_t LocalOffset(const Items& stack, std::size_t j) const;
    Operand Var(const TPSDecodedVar& v, const State& s, bool follow) const;
    Operand Element(const TPSDecodedOperand& d, const State& s) const;

    std::vector<std::intptr_t> param_offsets_;
    std::vector<bool> param_known_;
    std::deque<std::uint32_t> work_;
};

}  // namespace shape_proof
}  // namespace script::runtime
