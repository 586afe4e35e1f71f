// Any text goes through the preprocessor and the compiler without a crash,
// a hang or undefined behaviour: it either compiles to an image that decodes,
// or ends in messages (or a preprocessor error).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "script/compiler/compiler.h"
#include "script/compiler/preprocessor.h"

namespace {
void Check(bool condition) {
    if (!condition) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace script::compiler;
    const std::string source(reinterpret_cast<const char*>(data), size);
    TPSPreProcessor pre;
    pre.MainFileName = "fuzz.pas";
    pre.MainFileText = source;
    pre.OnNeedFile = [](TPSPreProcessor&, const std::string&, std::string&, std::string& output) {
        output = "const IncludedValue = 1;";
        return true;
    };
    std::string text;
    try {
        pre.PreProcess(pre.MainFileName, text);
    } catch (const EPSPreProcessor&) {
        return 0;
    }
    TPSPascalCompiler compiler;
    compiler.AllowEndWithoutBegin = (size & 1) != 0;
    compiler.AllowNoMainBlock = (size & 2) != 0;
    compiler.OnUses = [](TPSPascalCompiler& c, const std::string& name) {
        if (name != "SYSTEM") return false;
        c.AddFunctionByDecl("procedure ShowMessage(const Msg: string)");
        c.AddFunctionByDecl("function Format(const Format: string; const Args: array of const): string");
        c.AddUsedVariableN("TD", "string");
        return true;
    };
    const bool ok = compiler.Compile(text);
    std::string image;
    Check(ok == compiler.GetOutput(image));
    if (!ok) {
        Check(compiler.GetMsgCount() > 0);
        for (std::size_t i = 0; i < compiler.GetMsgCount(); ++i) pre.AdjustMessage(compiler.GetMsg(i));
    } else {
        Check(image.size() >= 28 && image.compare(0, 4, "VSCR") == 0);
    }
    return 0;
}
