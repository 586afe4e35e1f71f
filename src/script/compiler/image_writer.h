#pragma once
// Code emission and the writer of the compiled image.
//
// The emitters append to a procedure's code buffer (TPSInternalProcedure::
// Data): bytes, little-endian u32 words, raw runs, constants, the four operand
// kinds, and jumps, which are written with a placeholder distance and patched
// once the target is known. The writer turns the compiler's lists into the
// image that the runtime loads.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "script/compiler/data_model.h"

namespace script::compiler {

// ------------------------------------------------------------ code emission

void BlockWriteByte(std::string& code, std::uint8_t value);
void BlockWriteLong(std::string& code, std::uint32_t value);
void BlockWriteData(std::string& code, std::string_view bytes);

// Appends a constant: the u32 number of its type in the image, then the value
// bytes by base code. False (and nothing appended) when the constant has no
// type, its type has no number yet, or its value does not fit its type (a set
// whose bytes differ from the set's size).
bool BlockWriteConstant(std::string& code, const TPSConstValue& value);

// The four operand kinds.
void WriteVariableOperand(std::string& code, std::uint32_t address);
void WriteElementNumberOperand(std::string& code, std::uint32_t address, std::uint32_t number);
void WriteElementIndexOperand(std::string& code, std::uint32_t address, std::uint32_t index_address);
bool WriteConstantOperand(std::string& code, const TPSConstValue& value);

// Appends the placeholder distance and answers the position of its four
// bytes. The caller writes the rest of the instruction and notes where it
// ends: distances count from the byte after the whole instruction.
std::uint32_t WriteJumpPlaceholder(std::string& code);
// Writes (target - instruction_end) over the placeholder at field_pos. False,
// with nothing changed, when the field is outside the code, does not hold the
// placeholder (patched twice) or the distance does not fit in 32 bits.
bool PatchJump(std::string& code, std::uint32_t field_pos, std::uint32_t instruction_end,
               std::uint32_t target);
// Overwrites a u32 at pos; false when it lies outside the code.
bool WriteLongAt(std::string& code, std::uint32_t pos, std::uint32_t value);
std::uint32_t ReadLongAt(std::string_view code, std::uint32_t pos);

// ------------------------------------------------------------ declaration texts

// The byte signature of a procedural type and of a host function's import
// declaration: 1 when there is a result, else 0; then 1 per by-reference
// parameter and 0 per by-value parameter.
std::string MakeProcSignature(const TPSParametersDecl& decl);

// The declaration text of an internal procedure: the result's type number or
// -1, then " @" (by value) or " !" (by reference) and the parameter's type
// number for each parameter ("2 @0 !4"). An untyped parameter counts as -1.
std::string MakeProcDeclText(const TPSParametersDecl& decl);

// ------------------------------------------------------------ the image

struct TPSImageSource {
    const TPSTypeList* Types = nullptr;
    const TPSProcedureList* Procs = nullptr;
    const TPSVarList* Vars = nullptr;
    // Called first; a false answer means no image.
    std::function<bool()> OnBeforeOutput;
    // The class type that a class named before its import stands for.
    std::function<const TPSType*(const TPSUndefinedClassType&)> ResolveUndefinedClass;
};

struct TPSImageOutput {
    std::string Image;
    // Procedure and variable names for debuggers; not part of the image.
    std::string DebugNames;
    // Why no image was made; empty when the hook refused.
    std::string Error;
};

// Writes the image. False when the before-output hook refuses or when the
// model cannot be written faithfully (the error says why): type numbers that
// are not dense, a used type without a number or one that may never be
// written, a host function name too long for its one-byte length, a constant
// or variable whose type has no number. On failure the output's image is empty.
bool WriteImage(const TPSImageSource& source, TPSImageOutput& output);

}  // namespace script::compiler
