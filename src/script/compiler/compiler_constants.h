#pragma once
// Compile-time constants: typed reads, type classes, assignment
// compatibility, byte-wise sets and the folding of one binary operator over
// two constant cells. Folding never has undefined behaviour: integers wrap at
// their width through unsigned arithmetic, shift counts are masked, and
// division and float faults are detected and reported as error codes.
#include <cstdint>
#include <string>

#include "script/compiler/data_model.h"
#include "script/compiler/tokenizer.h"

namespace script::compiler {

// The binary operator levels of both expression grammars, loosest first.
enum class TOpLevel : std::uint8_t { Relation, Adding, Multiplying };
// The operator number of a token at a level; false when the token is no
// operator there. Constant expressions know no IN, IS or AS.
bool OperatorOfToken(TOpLevel level, TPSTokenId token, bool constant, std::uint8_t& op);

inline bool IsIntType(std::uint8_t b) { return (b >= btU8 && b <= btS32) || b == btS64; }
inline bool IsRealType(std::uint8_t b) { return (b >= btSingle && b <= btExtended) || b == btCurrency; }
inline bool IsIntRealType(std::uint8_t b) { return (b >= btU8 && b <= btExtended) || b == btS64 || b == btCurrency; }
inline std::uint8_t BaseOf(const TPSType* t) {
    t = ResolveTypeLink(t);
    return t == nullptr ? 0 : t->BaseType;
}

// Typed reads; ok is cleared when the cell's base type is not accepted.
std::uint32_t GetConstUInt(const TPSConstValue& v, bool& ok);
std::int32_t GetConstInt(const TPSConstValue& v, bool& ok);
std::int64_t GetConstInt64(const TPSConstValue& v, bool& ok);
long double GetConstReal(const TPSConstValue& v, bool& ok);
std::string GetConstString(const TPSConstValue& v, bool& ok);

void SetConstBoolean(TPSConstValue& v, TPSType* boolean_type, bool value);
void SetConstString(TPSConstValue& v, TPSType* string_type, std::string text);
// False when the value does not fit the real type (a Currency amount beyond
// the 64-bit range).
bool ConvertConstToReal(TPSConstValue& v, TPSType* real_type);

bool SetTestBit(const std::string& set, std::uint32_t bit);
void SetSetBit(std::string& set, std::uint32_t bit);

bool IsCompatibleType(const TPSType* target, const TPSType* source, bool cast);

// The outcome of a fold: code 0 on success, else the error code (14, 37, 38)
// with its parameter text.
struct TFoldResult {
    std::uint8_t Code = 0;
    std::string Param;
    bool Ok() const { return Code == 0; }
};

struct TFoldTypes {
    TPSType* Boolean = nullptr;
    TPSType* String = nullptr;
};

// left := left <op> right; the right cell is only read.
TFoldResult FoldBinaryConstants(const TFoldTypes& types, TPSConstValue& left, const TPSConstValue& right,
                                std::uint8_t op);

// not / negation of a constant in place: false for a type that has neither.
bool FoldNot(TPSConstValue& v, bool boolean_enum);
bool FoldNegate(TPSConstValue& v);
// A constant cast of an integer or Char constant to an integer or Char type.
bool FoldCast(const TPSConstValue& source, TPSConstValue& target);

}  // namespace script::compiler
