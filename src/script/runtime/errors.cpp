#include "script/runtime/errors.h"

#include <array>

namespace script::runtime {

namespace {

// Texts of codes 0..24; "%s" marks where the parameter goes. ORDER TPSError
constexpr std::array<const char*, 25> kErrorTexts = {
    "No Error",
    "Cannot Import %s",
    "Invalid Type",
    "Internal error",
    "Invalid Header",
    "Invalid Opcode",
    "Invalid Opcode Parameter",
    "no Main Proc",
    "Out of Global Vars range",
    "Out of Proc Range",
    "Out Of Range",
    "Out Of Stack Range",
    "Type Mismatch",
    "Unexpected End Of File",
    "Version error",
    "divide by Zero",
    "Math error",
    "Could not call proc",
    "Out of Record Fields Range",
    "Out Of Memory",
    "Exception: %s",
    "Null Pointer Exception",
    "Null variant error",
    "Interface not supported",
    "%s",
};
static_assert(kErrorTexts.size() == erCustomError + 1);

std::string Fill(std::string_view text, std::string_view param) {
    std::string out(text);
    const std::size_t at = out.find("%s");
    if (at != std::string::npos) out.replace(at, 2, param);
    return out;
}

}  // namespace

std::string PSErrorText(std::uint8_t code, std::string_view param) {
    const std::uint8_t index = code & 0x7F;
    if (index >= kErrorTexts.size()) return "Unknown error";
    switch (index) {
    case erCannotImport: {
        // An import's name may come with the rest of its declaration text;
        // only what stands before the first control character is shown.
        std::size_t end = 0;
        while (end < param.size() && static_cast<unsigned char>(param[end]) >= 32) ++end;
        return Fill(kErrorTexts[index], param.substr(0, end));
    }
    case erCouldNotCallProc:
        if (param.empty()) return kErrorTexts[index];
        return std::string(kErrorTexts[index]) + " (" + std::string(param) + ")";
    default:
        return Fill(kErrorTexts[index], param);
    }
}

}  // namespace script::runtime
