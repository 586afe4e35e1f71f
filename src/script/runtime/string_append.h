#pragma once
// s := s + e for a string s that is a plain variable compiles to a
// temporary t: t := s; the code of e, whose own temporaries lie above t;
// t := t + x (a Calc, x the value of e); the Pops of e's temporaries;
// s := t. Run as written, the Calc copies the whole text, since s still
// holds it, so a script that builds a long string one piece at a time
// (letters := letters + Chr(i), Line := Line + RD[i]) takes time that
// grows with the square of its length. Run here, the text grows in s
// itself.
#include <cstdint>

#include "script/runtime/decoded_code.h"
#include "script/runtime/stack.h"
#include "script/runtime/type_records.h"

namespace script::runtime {

// The Calc calc (of the list instrs) of temp (the value of its
// destination) and x (its source's value and type). When the instructions
// after it are Pops of items whose release runs nothing (strings, numbers,
// characters, Pointers that own no copy) and then an assignment of temp to
// a plain string variable s, and s and temp are the only holders of their
// one text: x is appended to s in place, the Pops are done, and temp then
// shares s's text, which is where all stands after the instructions up to
// the assignment. Returns the instruction after the assignment, where the
// caller goes on. kNoInstr, with nothing changed, in every other case (the
// instructions then run as written).
std::uint32_t AppendForAssignment(TPSStack& stack, std::int32_t base, const TPSDecodedInstr* instrs,
                                  const TPSDecodedInstr& calc, void* temp, const void* x, const TPSTypeRec* x_type);

}  // namespace script::runtime
