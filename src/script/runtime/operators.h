#pragma once
// What the value operations of the executor share: the failures they
// detect themselves, and the helpers of the operator rows that more than
// one operator uses.
#include <cstdint>
#include <string>

#include "script/runtime/type_records.h"

namespace script::runtime {

class TPSExec;

// A failure an operation detects itself (a wrong type, a zero divisor, an
// overflow): reported with its code and parameter, with no exception object
// behind it.
struct TPSRuntimeFault {
    std::uint8_t Code;
    std::string Param;
};

[[noreturn]] inline void ThrowRuntimeFault(std::uint8_t code, std::string param = {}) {
    throw TPSRuntimeFault{code, std::move(param)};
}

// The parameter of error 20 when an integer division leaves the range.
inline constexpr char kIntegerOverflowText[] = "Integer overflow";

// a <op> b for one of the six relations of Compare. Floats compare as the
// processor does: with a NaN only "<>" holds.
template <typename T>
bool Relation(std::uint8_t op, const T& a, const T& b) {
    switch (op) {
    case coGreaterEqual: return a >= b;
    case coLessEqual: return a <= b;
    case coGreater: return a > b;
    case coLess: return a < b;
    case coNotEqual: return a != b;
    default: return a == b;
    }
}

// "is" and "as": the left must be a Class and the right a U32 naming a
// class type of the image; anything else is error 12 (type mismatch).
// Whether the object is of that class would take a class importer, and no
// host class is ever imported here: no object is known to be of a script
// class type, so "is" answers false and "as" fails.
bool ObjectIsOfClassOperand(const TPSExec& exec, const void* left, const void* right, const TPSTypeRec* left_type,
                            const TPSTypeRec* right_type);

}  // namespace script::runtime
