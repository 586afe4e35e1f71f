#pragma once
// The choice of a quick form (quick_forms.h): once the general handler of an
// instruction has run it (general_handlers.h), it gives the instruction the
// quick form that its operands allow, noting the types they had and where
// the form goes on, and taking along the instructions of a compiler pattern
// that follows (a comparison's jump, an if statement's flag). An
// instruction whose operands allow none keeps its general form.
//
// Each function is called only while the instruction still runs its
// general form and the executor makes quick forms; it runs once per
// instruction until the instruction has a form, so a call is cheap enough.
#include <cstdint>

#include "script/runtime/decoded_code.h"
#include "script/runtime/stack.h"
#include "script/runtime/type_records.h"

namespace script::runtime {

// The run as the choice sees it: the run stack, the frame base of the
// procedure that runs, and the list of instructions that runs.
struct RunView {
    const TPSStack& Stack;
    std::int32_t Base;
    TPSDecodedInstr* Instrs;
};

// An Assign of one base (32-bit integers, bytes or strings), its operands
// of the types dest and source.
void GiveQuickAssign(const RunView& run, TPSDecodedInstr& in, const TPSTypeRec* dest,
                     const TPSTypeRec* source);
// A Calc of two 32-bit integers.
void GiveQuickCalc(const RunView& run, TPSDecodedInstr& in, const TPSTypeRec* dest,
                   const TPSTypeRec* source);
// A Compare of two 32-bit integers into a byte, with the jump after it.
void GiveQuickCompare(const RunView& run, TPSDecodedInstr& in, const TPSTypeRec* result,
                      const TPSTypeRec* left, const TPSTypeRec* right);
// A PushType of a 32-bit temporary (just pushed) with the Assign that gives
// it its first value.
void GiveQuickPushAssign(const RunView& run, TPSDecodedInstr& in);
// A CondGoto or CondNotGoto on a byte.
void GiveQuickCondJump(const RunView& run, TPSDecodedInstr& in, const TPSTypeRec* condition);
// A SetFlag on a byte, with the Pop and FlagGoto of an if statement after it.
void GiveQuickSetFlag(const RunView& run, TPSDecodedInstr& in, const TPSTypeRec* condition);
// An Inc or Dec of a 32-bit integer.
void GiveQuickIncDec(const RunView& run, TPSDecodedInstr& in, const TPSTypeRec* counter);
// A SetPtr, in two looks: its source before it runs (which may change a
// container), noted when it may take part; then, once it has run (in the
// list as it is then), its destination, and the form is given when both may.
bool NoteQuickSetPtrSource(const RunView& run, TPSDecodedInstr& in);
void GiveQuickSetPtr(const RunView& run, TPSDecodedInstr& in, std::uint32_t next);

}  // namespace script::runtime
