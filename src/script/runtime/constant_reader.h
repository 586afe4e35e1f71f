#pragma once
// Typed constants as the image stores them (operands of instructions and
// attribute values): the value bytes that follow a type number, laid out by
// the type's base code.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "script/runtime/type_records.h"

namespace script::runtime {

enum class TPSConstantRead : std::uint8_t { crOk, crShort, crInvalidType };

// Whether constants of the base code exist: the integers, floats, Currency,
// strings (String, PChar), Char, ProcPtr and Set.
bool HasConstantForm(std::uint8_t base_type);

// Reads a constant of the type from bytes at pos into value (initialised,
// of that type) and moves pos past it. Numbers take their size in bytes; a
// String or PChar is a u32 length and the characters; a ProcPtr its
// procedure number as a u32; a Set its byte size in bytes. crShort when the
// bytes run out (value unchanged), crInvalidType for a type without a
// constant form.
TPSConstantRead ReadConstantValue(std::string_view bytes, std::size_t& pos, const TPSTypeRec* type, void* value);

}  // namespace script::runtime
