#pragma once
// Readable text of compiled byte code for tests: one line per instruction,
// with variables named by kind (G global, L local or temporary, P parameter)
// and number, constants as type number and value, and jumps by the index of
// the instruction they land on ("@3"; "@end" past the last one).
#include <string>
#include <string_view>
#include <vector>

#include "support/ps_image_reader.h"

namespace script::test_support {

std::string OperandText(const PSOperand& operand);
std::string InstructionText(const PSInstruction& instruction, const std::vector<PSInstruction>& all);
std::vector<std::string> Disassemble(const PSImage& image, std::string_view code);
// The lines joined with "\n".
std::string DisassembleText(const PSImage& image, std::string_view code);

}  // namespace script::test_support
