#pragma once
// Compiling scripts in tests: the result, its messages and the decoded image,
// with the byte code of procedures as disassembled text.
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "script/compiler/compiler.h"
#include "script/compiler/preprocessor.h"
#include "script/runtime/plugin_declarations.h"
#include "support/ps_disassembler.h"
#include "support/ps_image_reader.h"

namespace script::compiler::testing {

struct CompileResult {
    bool Ok = false;
    std::vector<std::string> Messages;  // MessageToString of each
    std::string Image;
    test_support::PSImage Parsed;

    // The disassembled code of the procedure with that upper-case name
    // ("!MAIN" for the main block).
    std::string Code(std::string_view name = "!MAIN") const {
        const auto& proc = Parsed.ProcNamed(name);
        return test_support::DisassembleText(Parsed, proc.Code);
    }
    std::string AllMessages() const {
        std::string text;
        for (const auto& m : Messages) text += m + "\n";
        return text;
    }
    bool HasMessage(std::string_view text) const {
        for (const auto& m : Messages)
            if (m.find(text) != std::string::npos) return true;
        return false;
    }
};

inline CompileResult CompileScript(std::string_view text,
                                   const std::function<void(TPSPascalCompiler&)>& setup = {}) {
    TPSPascalCompiler compiler;
    if (setup) setup(compiler);
    CompileResult r;
    r.Ok = compiler.Compile(text);
    for (std::size_t i = 0; i < compiler.GetMsgCount(); ++i) r.Messages.push_back(compiler.GetMsg(i).MessageToString());
    if (compiler.GetOutput(r.Image)) r.Parsed = test_support::ReadImage(r.Image);
    return r;
}

using runtime::PluginEvents;

// The plug-in host's settings: its library declared in SYSTEM, no other
// units, a final "end." or no main block accepted, and event procedures
// checked to be parameterless procedures. When the compiler's Tag points to
// a PluginEvents, the events found are recorded there.
inline void PluginHostSettings(TPSPascalCompiler& c) {
    c.AllowEndWithoutBegin = true;
    c.AllowNoMainBlock = true;
    c.OnUses = runtime::DeclarePluginLibrary;
    c.OnExportCheck = [](TPSPascalCompiler& comp, TPSInternalProcedure& proc, const std::string&) {
        return runtime::CheckPluginEvent(comp, proc, static_cast<PluginEvents*>(comp.Tag));
    };
}

// A plug-in source compiled as the host does it: preprocessed first, with
// include files taken from a name -> text map (a missing one is an error),
// positions translated back to the source files and the events recorded.
struct PluginCompileResult : CompileResult {
    PluginEvents Events;
    std::string Preprocessed;
};

inline PluginCompileResult CompilePlugin(const std::string& source, const std::string& fileName,
                                         const std::map<std::string, std::string>& files = {}) {
    PluginCompileResult r;
    TPSPreProcessor pre;
    pre.Clear();
    pre.OnNeedFile = [&files](TPSPreProcessor&, const std::string& including, std::string& name, std::string& text) {
        const auto slash = including.find_last_of('/');
        name = (slash == std::string::npos ? std::string() : including.substr(0, slash + 1)) + name;
        const auto found = files.find(name);
        if (found == files.end()) return false;
        text = found->second;
        return true;
    };
    pre.MainFileName = fileName;
    pre.MainFileText = source;
    pre.PreProcess(fileName, r.Preprocessed);

    TPSPascalCompiler compiler;
    PluginHostSettings(compiler);
    compiler.Tag = &r.Events;
    compiler.OnTranslateLineInfo = [&pre](TPSPascalCompiler&, std::uint32_t& pos, std::uint32_t& row,
                                          std::uint32_t& col, std::string& module) {
        TPSLineInfoResults res;
        if (pre.LineInfo.GetLineInfo(module, pos, res)) {
            pos = res.Pos;
            row = res.Row;
            col = res.Col;
            module = res.Name;
        }
    };
    r.Ok = compiler.Compile(r.Preprocessed);
    if (!r.Ok) pre.AdjustMessages(compiler);
    for (std::size_t i = 0; i < compiler.GetMsgCount(); ++i) r.Messages.push_back(compiler.GetMsg(i).MessageToString());
    if (compiler.GetOutput(r.Image)) r.Parsed = test_support::ReadImage(r.Image);
    return r;
}

}  // namespace script::compiler::testing
