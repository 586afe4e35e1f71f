#pragma once
// Running compiled scripts in tests the way a host does: the host declares
// its functions and variables to the compiler by text, registers the same
// functions with the executor, loads the image and runs it; tests then look
// at the host's log and the exported variables.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "../compiler/compiler_test_support.h"
#include "runtime_test_support.h"
#include "script/runtime/exec.h"
#include "script/runtime/host_calls.h"
#include "script/runtime/value_access.h"

namespace script::runtime::testing {

// An executor with a small library: Print(s) appends s and a line break to
// Log, and every variable of Vars ("NAME: type") is exported to the host.
class ScriptHost {
public:
    using Declare = std::function<void(compiler::TPSPascalCompiler&)>;

    ScriptHost() { exec.RegisterHostMethod(this, &ScriptHost::Print, cdRegister, "PRINT"); }

    // Compiles (with a main block or without) and loads; false with the
    // compiler's messages or the loader's error in Messages.
    bool Load(std::string_view source, const Declare& declare = {}) {
        auto compiled = compiler::testing::CompileScript(source, [&](compiler::TPSPascalCompiler& c) {
            c.AllowNoMainBlock = true;
            c.OnUses = [&](compiler::TPSPascalCompiler& comp, const std::string& name) {
                if (name != "SYSTEM") return false;
                comp.AddFunctionByDecl("procedure Print(const s: string)");
                for (const auto& [var, type] : Vars) comp.AddUsedVariableN(var, type);
                if (declare) declare(comp);
                return true;
            };
        });
        Messages = compiled.AllMessages();
        if (!compiled.Ok) return false;
        Image = compiled.Image;
        if (!exec.LoadImage(Image)) {
            Messages = ErrorText();
            return false;
        }
        return true;
    }

    // Runs the main block; true when no error stopped it.
    bool Run() { return exec.Run(); }

    std::string ErrorText() const { return PSErrorText(exec.LastErrorCode(), exec.LastErrorParam()); }

    // An exported variable, read as the host reads one.
    void* Var(std::string_view name) {
        void* item = exec.FindGlobalVar(name);
        EXPECT_NE(item, nullptr) << name;
        return item;
    }
    std::string VarText(std::string_view name) { return PSGetVarString(Var(name)); }
    std::int64_t VarInt(std::string_view name) {
        void* item = Var(name);
        return PSReadInt64(ValueOfTypedValue(item), TypeOfTypedValue(item));
    }
    long double VarReal(std::string_view name) {
        void* item = Var(name);
        return PSReadReal(ValueOfTypedValue(item), TypeOfTypedValue(item));
    }

    void Print(const std::string& s) { Log += s + "\n"; }

    TestExec exec;
    std::vector<std::pair<std::string, std::string>> Vars;
    std::string Log;
    std::string Messages;
    std::string Image;
};

// How a run of a script ended, as a host sees it.
struct Ending {
    bool Ok = false;
    std::string Log;
    std::string Error;
    std::uint32_t Proc = 0;
    std::uint32_t Pos = 0;
    bool operator==(const Ending&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const Ending& e) {
    return out << "ok " << e.Ok << " error '" << e.Error << "' at " << e.Proc << ":" << e.Pos << "\n" << e.Log;
}

// Loads and runs a script's main block in a host that runs the given tiers of forms.
inline Ending RunScript(const std::string& source, TPSFormTiers tiers, ScriptHost& host) {
    host.exec.Forms = tiers;
    EXPECT_TRUE(host.Load(source)) << host.Messages;
    Ending e;
    e.Ok = host.Run();
    e.Log = host.Log;
    e.Error = host.ErrorText();
    e.Proc = host.exec.LastErrorProc();
    e.Pos = host.exec.LastErrorPos();
    return e;
}

}  // namespace script::runtime::testing
