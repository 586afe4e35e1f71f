#include "support/ps_disassembler.h"

#include "script/compiler/image_format.h"

namespace script::test_support {

namespace {
std::string AddressText(std::uint32_t address) {
    if (address < kGlobalAddressLimit) return "G" + std::to_string(address);
    if (address > kStackBaseAddress) return "L" + std::to_string(address - kStackBaseAddress - 1);
    if (address < kStackBaseAddress) return "P" + std::to_string(kStackBaseAddress - 1 - address);
    return "?" + std::to_string(address);
}

const char* Mnemonic(std::uint8_t opcode) {
    switch (opcode) {
    case opAssign: return "Assign";
    case opCalc: return "Calc";
    case opPush: return "Push";
    case opPushVar: return "PushVar";
    case opPop: return "Pop";
    case opCall: return "Call";
    case opGoto: return "Goto";
    case opCondGoto: return "CondGoto";
    case opCondNotGoto: return "CondNotGoto";
    case opRet: return "Ret";
    case opPushType: return "PushType";
    case opCompare: return "Compare";
    case opCallVar: return "CallVar";
    case opSetPtr: return "SetPtr";
    case opBoolNot: return "BoolNot";
    case opNeg: return "Neg";
    case opSetFlag: return "SetFlag";
    case opFlagGoto: return "FlagGoto";
    case opPushExceptionHandler: return "PushExceptionHandler";
    case opPopExceptionHandler: return "PopExceptionHandler";
    case opIntNot: return "IntNot";
    case opSetPtrToCopy: return "SetPtrToCopy";
    case opInc: return "Inc";
    case opDec: return "Dec";
    case opPopGoto: return "PopGoto";
    case opPop2Goto: return "Pop2Goto";
    case opNop: return "Nop";
    default: return "?";
    }
}

const char* CalcText(std::uint8_t calc) {
    static const char* const kCalc[] = {"+", "-", "*", "/", "mod", "shl", "shr", "and", "or", "xor"};
    return calc < 10 ? kCalc[calc] : "?";
}

const char* CompareText(std::uint8_t compare) {
    static const char* const kCompare[] = {">=", "<=", ">", "<", "<>", "=", "in", "is"};
    return compare < 8 ? kCompare[compare] : "?";
}
}  // namespace

std::string OperandText(const PSOperand& operand) {
    switch (operand.Kind) {
    case okVariable: return AddressText(operand.Address);
    case okConstant: {
        const PSConstant& c = operand.Constant;
        std::string value;
        if (c.BaseType == btString || c.BaseType == btPChar) value = "'" + c.Text + "'";
        else if (c.BaseType == btS32) value = std::to_string(static_cast<std::int32_t>(c.AsUnsigned()));
        else if (c.BaseType == btS64) value = std::to_string(static_cast<std::int64_t>(c.AsUnsigned()));
        else if (c.BaseType == btSet) {
            for (unsigned char b : c.Bytes) {
                static const char kHex[] = "0123456789ABCDEF";
                value += kHex[b >> 4];
                value += kHex[b & 15];
            }
        } else value = std::to_string(c.AsUnsigned());
        return "#" + std::to_string(c.TypeNo) + ":" + value;
    }
    case okElementNumber: return AddressText(operand.Address) + "[" + std::to_string(operand.Second) + "]";
    case okElementIndex: return AddressText(operand.Address) + "[" + AddressText(operand.Second) + "]";
    default: return "?";
    }
}

std::string InstructionText(const PSInstruction& in, const std::vector<PSInstruction>& all) {
    std::string text = Mnemonic(in.Opcode);
    if (in.Opcode == opCalc) text += std::string(" ") + CalcText(in.SubCode);
    if (in.Opcode == opCompare) text += std::string(" ") + CompareText(in.SubCode);
    if (in.Opcode == opCall || in.Opcode == opPushType) text += " " + std::to_string(in.Number);
    if (in.Opcode == opPopExceptionHandler) text += " " + std::to_string(in.SubCode);
    if (in.IsJump) {
        std::string target = "@?" + std::to_string(in.Target);
        if (!all.empty() && in.Target == all.back().End) target = "@end";
        for (std::size_t i = 0; i < all.size(); ++i)
            if (all[i].Pos == in.Target) target = "@" + std::to_string(i);
        text += " " + target;
    }
    bool first = true;
    for (const auto& operand : in.Operands) {
        text += first ? " " : ", ";
        first = false;
        text += OperandText(operand);
    }
    if (in.Opcode == opSetFlag) text += " " + std::to_string(in.SubCode);
    return text;
}

std::vector<std::string> Disassemble(const PSImage& image, std::string_view code) {
    const std::vector<PSInstruction> all = DecodeCode(image, code);
    std::vector<std::string> lines;
    lines.reserve(all.size());
    for (const auto& in : all) lines.push_back(InstructionText(in, all));
    return lines;
}

std::string DisassembleText(const PSImage& image, std::string_view code) {
    std::string text;
    for (const auto& line : Disassemble(image, code)) {
        if (!text.empty()) text += "\n";
        text += line;
    }
    return text;
}

}  // namespace script::test_support
