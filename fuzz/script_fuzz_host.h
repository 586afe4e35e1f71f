#pragma once
// What the script-running fuzz targets share: a host with a small library
// of typed routines (and a stub for any other import), and runs bounded by
// a budget of ticks (backward jumps and calls), after which every run must
// have ended: finished, stopped or paused with an error, its temporaries
// gone.
//
// Every input runs three times, in three hosts: one that runs the general
// handlers only, one that also gives instructions quick forms, and one
// whose procedures run their proven forms as well. Each run must end as the
// general one does: the same status, the same error (code, parameter,
// procedure, position), the same result or host exception, and the same
// values in every global.
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "script/compiler/compiler.h"
#include "script/compiler/compiler_test_support.h"
#include "script/runtime/exec.h"
#include "script/runtime/export_decl.h"
#include "script/runtime/host_calls.h"
#include "script/runtime/managed_blocks.h"
#include "script/runtime/value_access.h"
#include "script/runtime/variant_bridge.h"
#include "support/form_tiers.h"

namespace fuzz_host {

using namespace script::runtime;
using namespace script;

inline void Check(bool condition) {
    if (!condition) std::abort();
}

// Ticks each run may take, and the time that all runs of one input may
// take: a damaged image may give a temporary the largest size a value may
// have, and then every push of it clears that many bytes. (Between two
// ticks a run passes each instruction of a procedure once at most.)
inline constexpr std::uint64_t kTickBudget = 4000;
inline constexpr std::chrono::milliseconds kTimeBudget{1500};

// A value as text that two hosts can compare: its bytes, or what it holds
// (addresses differ from host to host and are left out).
inline std::string Snapshot(const void* value, const TPSTypeRec* type, int depth = 0) {
    if (type == nullptr || value == nullptr) return "?";
    if (depth > 4) return "...";
    auto elements = [&](const std::byte* first, const TPSTypeRec* element, std::int64_t count) {
        std::string out = "[" + std::to_string(count) + ":";
        for (std::int64_t n = 0; n < count && n < 64; ++n)
            out += Snapshot(first + n * element->RealSize, element, depth + 1) + ",";
        return out + "]";
    };
    const auto* bytes = static_cast<const std::byte*>(value);
    switch (type->BaseType) {
    case btString:
    case btPChar:
        return "'" + PSReadString(value, type) + "'";
    case btArray: {
        const auto* data = LoadAs<const std::byte*>(value);
        return elements(data, AsArray(type).ArrayType, BlockCount(data));
    }
    case btStaticArray:
        return elements(bytes, AsStaticArray(type).ArrayType, AsStaticArray(type).Size);
    case btRecord: {
        std::string out = "{";
        const auto& record = AsRecord(type);
        for (std::size_t n = 0; n < record.FieldTypes.size(); ++n)
            out += Snapshot(bytes + record.FieldOffsets[n], record.FieldTypes[n], depth + 1) + ";";
        return out + "}";
    }
    case btPointer: {
        const auto p = LoadAs<PSPointerValue>(value);
        return std::string("P") + (p.Address == nullptr ? "0" : "1") + (p.Type != nullptr ? std::to_string(p.Type->BaseType) : "-");
    }
    case btProcPtr: {
        const auto p = LoadAs<PSProcPtrValue>(value);
        return "F" + std::to_string(p.ProcNo) + (p.Object != nullptr ? "o" : "");
    }
    case btVariant: {
        Variant v;
        if (!PSValueToVariant(value, type, v)) return "V?";
        std::string out = "V" + std::to_string(v.VType());
        try {
            if (!v.IsArray()) out += ":" + v.ToString();
        } catch (...) {
        }
        return out;
    }
    case btClass:
    case btInterface:
        return LoadAs<const void*>(value) == nullptr ? "nil" : "obj";
    default: {
        std::string out = "#";
        static const char* const kHex = "0123456789ABCDEF";
        for (std::uint32_t n = 0; n < type->RealSize && n < 64; ++n) {
            const auto b = static_cast<unsigned>(bytes[n]);
            out += kHex[b >> 4];
            out += kHex[b & 15];
        }
        return out;
    }
    }
}

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


// How one run ended, as far as a host sees it.
struct Outcome {
    bool Ok = false;
    TPSStatus Status = TPSStatus::isNotLoaded;
    std::uint8_t Code = 0;
    std::string Param;
    std::uint32_t Proc = 0;
    std::uint32_t Pos = 0;
    std::string Result;
    std::string Thrown;
    std::string Globals;
    bool operator==(const Outcome&) const = default;
};

// A host that runs scripts within the budget.
class Host : public TPSExec {
public:
    explicit Host(TPSFormTiers tiers = TPSFormTiers::All) {
        Forms = tiers;
        RegisterHostFunction(Text, "TEXT", cdRegister);
        RegisterHostFunction(Wide, "WIDE", cdStdCall);
        RegisterHostFunction(Update, "UPDATE", cdPascal);
        RegisterHostFunction(Join, "JOIN", cdRegister);
        RegisterHostFunction(Callback, "CALLBACK", cdRegister);
        SetOnTick(
            [this](TPSExec& e) {
                if (++ticks_ > kTickBudget) e.Stop();
                if (std::chrono::steady_clock::now() - started_ > kTimeBudget) {
                    timed_out_ = true;
                    e.Stop();
                }
            },
            1);
    }

    // Runs the main block, then every procedure (with no parameters); each
    // ends within the budgets in a known state.
    void RunAll() {
        Begin();
        RunMain();
        for (std::uint32_t no = 0; no < ProcCount(); ++no) RunProcedure(no);
    }

    void Begin() { started_ = std::chrono::steady_clock::now(); }
    // Whether the time ran out (the runs then stopped where the clock said).
    bool TimedOut() const { return timed_out_; }

    Outcome RunMain() {
        ticks_ = 0;
        Outcome out;
        out.Ok = Run();
        return Ended(out);
    }

    // Runs a script procedure other than the main block (none: nothing).
    Outcome RunProcedure(std::uint32_t no) {
        Outcome out;
        const TPSProcRec* proc = GetProc(no);
        if (proc == nullptr || !proc->IsInternal() || no == MainProcNo()) return out;
        const ExportSignature sig = ParseExportDecl(AsInternal(*proc).ExportDecl);
        ticks_ = 0;
        try {
            if (sig.Valid && sig.Params.empty()) {
                const Variant result = CallProc(no, {});
                out.Result = result.IsNull() ? "null" : Snapshot(&result, VariantType());
                out.Ok = true;
            } else {
                out.Ok = RunProc({}, no);
            }
        } catch (const std::exception& e) {
            // The script's error, or a host exception it raised.
            out.Thrown = e.what();
        } catch (...) {
            out.Thrown = "?";
        }
        return Ended(out);
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
    // Checks that the run ended in a known state, records how, and stops
    // it (a paused run).
    Outcome Ended(Outcome& out) {
        Check(Status() == TPSStatus::isLoaded || Status() == TPSStatus::isPaused);
        // A stop takes effect at the next instruction of each run that host
        // calls nest, each of which may pass one more tick on the way.
        Check(ticks_ <= kTickBudget + TPSExec::kMaxRunNesting + 1);
        // The loop makes no temporaries of its own; what a run leaves is
        // its stack only.
        Check(temporaries_.Count() == 0);
        out.Status = Status();
        out.Code = LastErrorCode();
        out.Param = LastErrorParam();
        out.Proc = LastErrorProc();
        out.Pos = LastErrorPos();
        for (std::uint32_t n = 0; n < Globals().Count(); ++n) {
            void* item = Globals().GetItem(n);
            out.Globals += Snapshot(ValueOfTypedValue(item), TypeOfTypedValue(item)) + "|";
        }
        Stop();
        return out;
    }

    std::uint64_t ticks_ = 0;
    bool timed_out_ = false;
    std::chrono::steady_clock::time_point started_;
};

inline void ReportDifference(const Outcome& general, const Outcome& other, TPSFormTiers tiers, const char* what) {
    std::fprintf(stderr,
                 "%s: the general handlers and %s differ:\n"
                 "  ok %d/%d status %d/%d code %d/%d pos %u/%u proc %u/%u\n"
                 "  param '%s' / '%s'\n  result '%s' / '%s'\n  thrown '%s' / '%s'\n  globals %s\n       / %s\n",
                 what, test_support::TierName(tiers), general.Ok, other.Ok, static_cast<int>(general.Status),
                 static_cast<int>(other.Status), general.Code, other.Code, general.Pos, other.Pos, general.Proc,
                 other.Proc, general.Param.c_str(), other.Param.c_str(), general.Result.c_str(), other.Result.c_str(),
                 general.Thrown.c_str(), other.Thrown.c_str(), general.Globals.c_str(), other.Globals.c_str());
    std::abort();
}

// Loads an image into a host of every tier (test_support::kEveryTier), and
// runs the main block and every procedure in each, checking that every run
// ends as the general one does. Returns whether the image loaded (the same
// in all, with the same error when not).
inline bool RunEveryWay(const std::string& image) {
    std::array<std::unique_ptr<Host>, test_support::kEveryTier.size()> hosts;
    for (std::size_t n = 0; n < hosts.size(); ++n) hosts[n] = std::make_unique<Host>(test_support::kEveryTier[n]);
    auto host = [&](TPSFormTiers tiers) -> Host& {
        for (std::size_t n = 0; n < hosts.size(); ++n)
            if (test_support::kEveryTier[n] == tiers) return *hosts[n];
        std::abort();
    };
    Host& general = *hosts[0];
    const bool loaded = general.LoadImage(image);
    for (std::size_t n = 1; n < hosts.size(); ++n) {
        Check(hosts[n]->LoadImage(image) == loaded);
        Check(hosts[n]->LastErrorCode() == general.LastErrorCode());
    }
    if (!loaded) {
        Check(general.LastErrorCode() != 0);
        Check(general.Status() == TPSStatus::isNotLoaded);
        return false;
    }
    for (auto& h : hosts) h->Begin();
    auto timed_out = [&] {
        for (auto& h : hosts)
            if (h->TimedOut()) return true;
        return false;
    };
    // Runs every tier, then reports the first difference, unless a run was
    // cut short by the clock (it stops where it happens to be). False then.
    auto alike = [&](auto&& run, const char* what) {
        Outcome general_run, other_run;
        TPSFormTiers differing = TPSFormTiers::GeneralOnly;
        test_support::RunEveryTier(run, [&](const Outcome& g, const Outcome& o, TPSFormTiers tiers) {
            if (differing != TPSFormTiers::GeneralOnly) return;
            general_run = g;
            other_run = o;
            differing = tiers;
        });
        if (timed_out()) return false;
        if (differing != TPSFormTiers::GeneralOnly) ReportDifference(general_run, other_run, differing, what);
        return true;
    };
    if (!alike([&](TPSFormTiers tiers) { return host(tiers).RunMain(); }, "main block")) return true;
    for (std::uint32_t no = 0; no < general.ProcCount(); ++no)
        if (!alike([&](TPSFormTiers tiers) { return host(tiers).RunProcedure(no); }, "procedure")) return true;
    return true;
}

}  // namespace fuzz_host
