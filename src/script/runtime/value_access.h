#pragma once
// Typed access to script values: read any numeric or string value as a
// number or a string, write one into a value of any numeric or string type,
// deep copies, and dynamic array lengths.
//
// A value whose type is Pointer (base 13) stands for what it points at, one
// level deep. A value that cannot be read that way raises the general
// failure "Type Mismatch" (EPSError); inside TPSExec::AssignValue and the
// operators it becomes runtime error 20.
#include <cstdint>
#include <string>
#include <string_view>

#include "script/runtime/type_records.h"

namespace script::runtime {

// Readers. Floats rounded to Currency round to nearest, ties to even;
// EPSMathError when the result does not fit 64 bits.
std::uint32_t PSReadUInt(const void* value, const TPSTypeRec* type);
std::int32_t PSReadInt(const void* value, const TPSTypeRec* type);
std::int64_t PSReadInt64(const void* value, const TPSTypeRec* type);
long double PSReadReal(const void* value, const TPSTypeRec* type);
std::int64_t PSReadCurrency(const void* value, const TPSTypeRec* type);
std::string PSReadString(const void* value, const TPSTypeRec* type);
// The same text without a copy where the value holds it: a String's or
// PChar's characters, a Char's one byte, seen where they lie, so the view is
// valid while the value (or what a Pointer value points at) is neither
// changed nor finalised. A Variant's text is made into `made`, which the
// view then shows. Reading a character of a long string, its length or a
// short piece of it costs the same whatever the string's length.
std::string_view PSReadText(const void* value, const TPSTypeRec* type, std::string& made);

// Writers: ok is cleared when the value's type does not take the number or
// string (nothing is written) and left as it was on success. A float beyond
// the destination's range, or a Currency beyond 64 bits, raises
// EPSMathError.
void PSWriteUInt(void* value, const TPSTypeRec* type, bool& ok, std::uint32_t v);
void PSWriteInt(void* value, const TPSTypeRec* type, bool& ok, std::int32_t v);
void PSWriteInt64(void* value, const TPSTypeRec* type, bool& ok, std::int64_t v);
void PSWriteReal(void* value, const TPSTypeRec* type, bool& ok, long double v);
void PSWriteString(void* value, const TPSTypeRec* type, bool& ok, std::string_view v);

// Typed values (a type record's address followed by the value).
std::string PSGetVarString(const void* typed);
void PSSetVarString(void* typed, const std::string& v);

// Deep copy of count consecutive values of the type onto initialised
// destination values. Managed values are shared (strings, dynamic arrays,
// interfaces, Variants); a Pointer that owns its target gets its own copy.
// Safe when dest and src are the same or overlap in their references: every
// new reference is taken before an old one is dropped. False for a type
// that has no values, or when a failure was raised during the copy.
bool CopyValues(void* dest, const void* src, std::uint32_t count, const TPSTypeRec* type);
// Copies a record field by field; false when a field is not copied (a
// field type without values, or a failure raised during the copy), the
// fields before it then being copied already.
bool CopyRecordValue(void* dest, const void* src, const TPSTypeRec* type);
// As CopyValues, but a failure raised during the copy (out of memory)
// passes to the caller.
bool CopyValuesOrThrow(void* dest, const void* src, std::uint32_t count, const TPSTypeRec* type);

// Helpers of the value operations.
// Replaces a Pointer by its target (one level); false when the target is nil.
bool FollowPointer(const void*& value, const TPSTypeRec*& type);
// The value of an integer base (U8..S32, S64, Char), sign- or zero-extended;
// false for other bases.
bool ReadIntegerValue(const void* value, std::uint8_t base, std::int64_t& out);
// The value of a float base (Single, Double, Extended); false for others.
bool ReadFloatValue(const void* value, std::uint8_t base, long double& out);
// Stores x rounded to a float base; EPSMathError beyond its range.
void StoreFloatValue(void* value, std::uint8_t base, long double x);
[[noreturn]] void ThrowTypeMismatch();

// Dynamic arrays (base 12). A type of another base raises "Invalid array".
std::int32_t GetDynArrayLength(const void* array_slot, const TPSTypeRec* type);
// New length n (a negative n counts as 0). A block that another value
// shares is copied first, so the other value keeps its elements. More than
// kMaxValueBytes raises EPSOutOfMemory, leaving the array as it was.
void SetDynArrayLength(void* array_slot, const TPSTypeRec* type, std::int64_t n);

}  // namespace script::runtime
