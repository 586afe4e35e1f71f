// Any bytes given to the executor as a compiled image are either refused
// with a loader error, leaving the executor empty, or load; then the code of
// every script procedure is decoded as operands at every position. Nothing
// crashes, leaks or asks for more than the value cap (run with
// -malloc_limit_mb a little above it).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "script/runtime/exec.h"

namespace {

using namespace script::runtime;

void Check(bool condition) {
    if (!condition) std::abort();
}

bool BindInterfaceCall(TPSExec&, TPSExternalProcRec& proc, void*) {
    if (proc.Decl.size() < 7) return false;
    proc.Handler = [](TPSExec&, TPSExternalProcRec&, TPSStack&, TPSStack&) { return true; };
    return true;
}

// Every named import binds, as if the host had registered it; nameless
// ones go through the special imports.
class FuzzExec : public TPSExec {
public:
    FuzzExec() {
        RegisterSpecialProcImport("intf", BindInterfaceCall, nullptr);
        RegisterAttributeType("REFUSED", [](TPSExec&, const TPSRuntimeAttribute&) { return false; });
    }

    // Decodes an operand at every position of every script procedure.
    void DecodeEverywhere() {
        for (std::uint32_t no = 0; no < ProcCount(); ++no) {
            const TPSProcRec* proc = GetProc(no);
            if (!proc->IsInternal()) continue;
            const auto& code = AsInternal(*proc).Code;
            current_proc_ = proc;
            code_ = code.data();
            code_length_ = static_cast<std::uint32_t>(code.size());
            for (std::uint32_t at = 0; at < code_length_ && at < 2048; ++at) {
                position_ = at;
                TPSOperand op;
                if (ReadOperand(op, (at & 1) != 0)) {
                    Check(op.Address != nullptr && op.Type != nullptr);
                    Check(position_ > at && position_ <= code_length_);
                    ReleaseOperand(op);
                }
                Check(temporaries_.Count() == 0);
            }
        }
        current_proc_ = nullptr;
        code_ = nullptr;
        code_length_ = 0;
    }

protected:
    bool BindExternalProc(const std::string& name, TPSExternalProcRec& proc) override {
        if (name.empty()) return TPSExec::BindExternalProc(name, proc);
        proc.Handler = [](TPSExec&, TPSExternalProcRec&, TPSStack&, TPSStack&) { return true; };
        return true;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzExec exec;
    const std::string_view image(reinterpret_cast<const char*>(data), size);
    if (!exec.LoadImage(image)) {
        Check(exec.LastErrorCode() != 0);
        Check(exec.Status() == TPSStatus::isNotLoaded);
        Check(exec.TypeCount() == 0 && exec.ProcCount() == 0 && exec.Globals().Count() == 0);
        return 0;
    }
    Check(exec.Status() == TPSStatus::isLoaded);
    Check(exec.MainProcNo() == 0xFFFFFFFF || exec.MainProcNo() < exec.ProcCount());
    for (const TPSExportedVar& var : exec.ExportedVars()) Check(var.Index < exec.Globals().Count());
    exec.DecodeEverywhere();
    exec.ResetGlobals();
    return 0;
}
