#pragma once
// What the script-running fuzz targets share: a host with a small library
// of typed routines (and a stub for any other import), and runs bounded by
// an instruction budget, after which every run must have ended: finished,
// stopped or paused with an error, its temporaries gone.
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "script/compiler/compiler.h"
#include "script/compiler/compiler_test_support.h"
#include "script/runtime/exec.h"
#include "script/runtime/export_decl.h"
#include "script/runtime/host_calls.h"
#include "script/runtime/managed_blocks.h"

namespace fuzz_host {

using namespace script::runtime;

inline void Check(bool condition) {
    if (!condition) std::abort();
}

// Instructions each run may take, and the time that all runs of one input
// may take: a damaged image may give a temporary the largest size a value
// may have, and then every push of it clears that many bytes.
inline constexpr std::uint64_t kStepBudget = 20000;
inline constexpr std::chrono::milliseconds kTimeBudget{1500};

inline std::string Text(const std::string& s, std::int32_t n) { return s + std::to_string(n); }
inline std::int64_t Wide(std::int64_t v, double d) { return v + static_cast<std::int64_t>(d > 0 && d < 1e9 ? d : 0); }
inline void Update(std::int32_t& n, std::string& s, Variant& v) {
    n += 1;
    s += "!";
    v = Variant::Integer(n);
}
inline std::string Join(const PSOpenArray<TPSVarRec>& args) { return std::to_string(args.Items.size()); }
inline std::int32_t Callback(TPSMethod m, std::int32_t v) {
    // The script's error comes back as the script method's exception.
    return m.Call({Variant::Integer(v)}).ToInt32();
}

inline void DeclareTypedRoutines(script::compiler::TPSPascalCompiler& c) {
    c.AddFunctionByDecl("function Text(const s: string; n: Integer): string");
    c.AddFunctionByDecl("function Wide(v: Int64; d: Double): Int64");
    c.AddFunctionByDecl("procedure Update(var n: Integer; var s: string; var v: Variant)");
    c.AddFunctionByDecl("function Join(const args: array of const): string");
    c.AddTypeS("TMapper", "function(v: Integer): Integer");
    c.AddFunctionByDecl("function Callback(m: TMapper; v: Integer): Integer");
}

// The plug-in library of the compiler's tests (bound to stubs when run),
// and a few typed routines of every kind.
inline void DeclareLibrary(script::compiler::TPSPascalCompiler& c) {
    script::compiler::testing::PluginHostSettings(c);
    auto plugin_library = c.OnUses;
    c.OnUses = [plugin_library](script::compiler::TPSPascalCompiler& comp, const std::string& name) {
        if (!plugin_library(comp, name)) return false;
        DeclareTypedRoutines(comp);
        return true;
    };
}


// A host that runs scripts within the budget.
class Host : public TPSExec {
public:
    Host() {
                RegisterHostFunction(Text, "TEXT", cdRegister);
        RegisterHostFunction(Wide, "WIDE", cdStdCall);
        RegisterHostFunction(Update, "UPDATE", cdPascal);
        RegisterHostFunction(Join, "JOIN", cdRegister);
        RegisterHostFunction(Callback, "CALLBACK", cdRegister);
        SetOnStep([this](TPSExec& e) {
            if (++steps_ > kStepBudget || std::chrono::steady_clock::now() - started_ > kTimeBudget) e.Stop();
        });
    }

    // Runs the main block, then every procedure (with no parameters); each
    // ends within the budgets in a known state.
    void RunAll() {
        steps_ = 0;
        started_ = std::chrono::steady_clock::now();
        Run();
        CheckEnded();
        Stop();
        for (std::uint32_t no = 0; no < ProcCount(); ++no) {
            const TPSProcRec* proc = GetProc(no);
            if (!proc->IsInternal() || no == MainProcNo()) continue;
            const ExportSignature sig = ParseExportDecl(AsInternal(*proc).ExportDecl);
            steps_ = 0;
            try {
                if (sig.Valid && sig.Params.empty()) {
                    CallProc(no, {});
                } else {
                    RunProc({}, no);
                }
            } catch (...) {
                // The script's error, or a host exception it raised.
            }
            CheckEnded();
            Stop();
        }
    }

protected:
    // Any import that the library does not have binds to a stub that
    // takes its parameters as the mode text lays them out.
    bool BindExternalProc(const std::string& name, TPSExternalProcRec& proc) override {
        if (TPSExec::BindExternalProc(name, proc)) return true;
        if (name.empty()) return false;
        proc.Handler = [](TPSExec& exec, TPSExternalProcRec& p, TPSStack&, TPSStack& stack) {
            std::vector<THostParam> params;
            THostParam result;
            bool has_result = false;
            if (!TakeHostParams(exec, stack, p.Decl, 0, params, result, has_result)) return false;
            // Values as a host routine takes them (of a size a host would
            // hand over element by element).
            for (const THostParam& param : params) {
                Variant v;
                if (param.Type == nullptr || param.Data == nullptr || param.Type->RealSize > 65536) continue;
                if (param.Type->BaseType == script::btArray && BlockCount(LoadAs<void*>(param.Data)) > 4096) continue;
                PSValueToVariant(param.Data, param.Type, v);
            }
            if (has_result && result.Type != nullptr && result.Data != nullptr)
                VariantToPSValue(exec, Variant::Integer(1), result);
            return true;
        };
        return true;
    }

private:
    void CheckEnded() {
        Check(Status() == TPSStatus::isLoaded || Status() == TPSStatus::isPaused);
        // A stop takes effect after the current instruction of each run
        // that host calls nest.
        Check(steps_ <= kStepBudget + TPSExec::kMaxRunNesting + 1);
        // The loop makes no temporaries of its own; what a run leaves is
        // its stack only.
        Check(temporaries_.Count() == 0);
    }

    std::uint64_t steps_ = 0;
    std::chrono::steady_clock::time_point started_;
};

}  // namespace fuzz_host
