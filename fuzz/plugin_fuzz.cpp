// A plug-in source of any text, loaded as the main window loads one:
// through the plug-in host, with the real include files beside it (the
// plug-ins of the compiler's tests and their "inc" folder) and the real
// plug-in library. It either compiles, or is refused with the compiler's,
// preprocessor's or loader's message; one that loads has its ONLOAD,
// ONSEND, ONRECEIVE and ONRECEIVE2 run (TD, RD and RD2 holding a peer's
// bytes), each within an instruction budget. Every event ends, finished or
// stopped or with the script's exception, and the host reads its variables
// afterwards. The peer's bytes are those after the input's last NUL; they
// also answer the plug-in's Recv.
//
// The library's waits and files are the machine's, not the fuzzer's: Sleep
// and NBSleep only handle messages, and LoadStrFromFile/SaveStrToFile use
// files of the fuzzer's own folder (by the name's hash).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "fuzz_support.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/numbers.h"
#include "platform/vcl/file_text.h"
#include "platform/win/message_window.h"
#include "script/runtime/exec.h"
#include "script/runtime/host_calls.h"
#include "script/runtime/my_script.h"

namespace {

using fuzz_support::Check;
using namespace script::runtime;

constexpr std::uint64_t kStepBudget = 30000;

void Nap(std::uint32_t) { win::ProcessMessages(); }

std::string SandboxFile(const std::string& name) {
    return fuzz_support::File("plugin_" + std::to_string(std::hash<std::string>{}(name) % 8));
}

bool Save(const std::string& name, const std::string& data) {
    if (name.empty()) return false;
    fuzz_support::WriteFile(SandboxFile(name), data);
    return true;
}

bool Load(const std::string& name, std::string& data) {
    data.clear();
    if (name.empty()) return false;
    try {
        data = vcl::LoadStrFromFile(SandboxFile(name));
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

// Binds the library's waits and files to the fuzzer's own routines.
void Sandbox(TPSExec& exec) {
    const std::map<std::string, TPSRegisteredFunction*> own = {
        {"SLEEP", exec.RegisterHostFunction(&Nap, "FUZZ_NAP", cdRegister)},
        {"NBSLEEP", exec.RegisterHostFunction(&Nap, "FUZZ_NAP", cdRegister)},
        {"SAVESTRTOFILE", exec.RegisterHostFunction(&Save, "FUZZ_SAVE", cdRegister)},
        {"LOADSTRFROMFILE", exec.RegisterHostFunction(&Load, "FUZZ_LOAD", cdRegister)},
    };
    for (std::uint32_t no = 0; no < exec.ProcCount(); ++no) {
        TPSProcRec* proc = exec.GetProc(no);
        if (!proc->IsExternal()) continue;
        TPSExternalProcRec& external = AsExternal(*proc);
        if (const auto it = own.find(external.Name); it != own.end()) external.Handler = it->second->Handler;
    }
}

// The main window's side of the plug-in's requests, answered at once.
struct TPeer {
    std::string bytes;
    std::size_t read = 0;
    std::map<std::string, std::string> vars;

    void Request(std::int32_t code, const std::string& text, std::string& reply) {
        switch (code) {
            case srSend:
            case srSend2: reply = rtl::IntToStr(static_cast<std::int64_t>(text.size())); break;
            case srRecv: {
                Check(text.size() == 16);
                const std::uint32_t count = static_cast<std::uint32_t>(rtl::StrToInt("$" + text.substr(0, 8)));
                reply = bytes.substr(read, count);
                read += reply.size();
                break;
            }
            case srSetV: {
                const auto cr = text.find('\r');
                Check(cr != std::string::npos);
                vars[text.substr(0, cr)] = text.substr(cr + 1);
                break;
            }
            case srGetV: reply = vars[text]; break;
            case srGraphAdd: Check(text.size() == 8); break;
            default: break;
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_support::QuietApplication();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string source(fuzz_support::Bytes(data, size));
    TPeer peer;
    if (const auto nul = source.rfind('\0'); nul != std::string::npos) {
        peer.bytes = source.substr(nul + 1);
        source.resize(nul);
    }
    TMyScript script([&peer](std::int32_t code, const std::string& text, std::string& reply) {
        peer.Request(code, text, reply);
    });
    try {
        script.Compile(source, std::string(VOSTREL_FUZZ_PLUGINS_DIR) + "/fuzz.pas");
    } catch (const std::exception& e) {
        Check(script.Exec() == nullptr || script.Exec()->Status() == TPSStatus::isNotLoaded ||
              script.Exec()->Status() == TPSStatus::isLoaded);
        return 0;
    }
    TPSExec& exec = *script.Exec();
    Sandbox(exec);
    std::uint64_t steps = 0;
    exec.SetOnStep([&steps](TPSExec& e) {
        if (++steps > kStepBudget) e.Stop();
    });
    auto run = [&](bool declared, const std::function<void()>& event) {
        if (!declared) return;
        steps = 0;
        try {
            event();
        } catch (const std::exception& e) {
            Check(!script.ExceptionText(e).empty());
        }
        Check(exec.Status() == TPSStatus::isLoaded || exec.Status() == TPSStatus::isPaused);
        Check(steps <= kStepBudget + TPSExec::kMaxRunNesting + 1);
    };
    run(script.HasOnLoad(), [&] { script.RunOnLoad(); });
    run(script.HasOnSend(), [&] {
        script.SetTD(peer.bytes);
        script.RunOnSend();
        (void)script.GetTD();
    });
    for (bool main : {true, false})
        run(script.HasOnReceive(main), [&] {
            script.SetRD(main, peer.bytes);
            script.RunOnReceive(main);
            (void)script.GetRD(main);
        });
    return 0;
}
