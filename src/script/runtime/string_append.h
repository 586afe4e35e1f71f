#pragma once
// s := s + x for a string s that is a plain variable compiles to a
// temporary t: t := s; t := t + x (a Calc); s := t. Run as written, the
// Calc copies the whole text, since s still holds it, so a script that
// builds a long string one piece at a time takes time that grows with the
// square of its length. Run here, the text grows in s itself.
#include <cstdint>

#include "script/runtime/decoded_code.h"
#include "script/runtime/stack.h"
#include "script/runtime/type_records.h"

namespace script::runtime {

// The Calc of temp (the value of calc's destination) and x (its source's
// value and type), with assign the instruction after it: when assign gives
// temp to a plain string variable s, and s and temp are the only holders of
// their one text, x is appended to s in place and temp then shares s's
// text, which is where both stand after the two instructions; the caller
// goes on after assign. False, with nothing changed, in every other case
// (the two instructions then run as written).
bool AppendForAssignment(const TPSStack& stack, std::int32_t base, const TPSDecodedInstr& calc,
                         const TPSDecodedInstr& assign, void* temp, const void* x, const TPSTypeRec* x_type);

}  // namespace script::runtime
