// Every plug-in of the compiler's test set, compiled as the plug-in host
// compiles it, runs its main block and each of its events against a stub of
// the plug-in library registered through the typed invoker. Each run
// finishes or ends in a runtime error; none crashes, leaks or hangs; and
// every tier of forms gives what the general handlers alone give.
#include <gtest/gtest.h>

#include <map>

#include "exec_test_support.h"
#include "script_host_support.h"
#include "support/form_tiers.h"

namespace script::runtime {
namespace {

using testing::PluginFiles;

// The plug-in library with answers of its own: what the device sends is
// a fixed text, and every call is counted.
class StubLibrary {
public:
    explicit StubLibrary(TPSExec& exec) {
        exec.RegisterHostMethod(this, &StubLibrary::Show, cdRegister, "SHOWMESSAGE");
        exec.RegisterHostMethod(this, &StubLibrary::Send, cdRegister, "SEND");
        exec.RegisterHostMethod(this, &StubLibrary::Send, cdRegister, "SEND2");
        exec.RegisterHostFunction(+[](std::uint16_t v) { return static_cast<std::uint8_t>(v); }, "LO", cdRegister);
        exec.RegisterHostFunction(+[](std::uint16_t v) { return static_cast<std::uint8_t>(v >> 8); }, "HI", cdRegister);
        exec.RegisterHostFunction(+[](std::uint32_t v) { return static_cast<std::uint16_t>(v); }, "LOWORD", cdRegister);
        exec.RegisterHostFunction(+[](std::uint32_t v) { return static_cast<std::uint16_t>(v >> 16); }, "HIWORD", cdRegister);
        exec.RegisterHostFunction(+[](std::uint8_t lo, std::uint8_t hi) { return static_cast<std::uint16_t>(hi << 8 | lo); },
                                  "MAKEWORD", cdRegister);
        exec.RegisterHostFunction(+[](std::uint16_t lo, std::uint16_t hi) { return std::uint32_t{hi} << 16 | lo; },
                                  "MAKELONG", cdRegister);
        exec.RegisterHostFunction(+[](const std::string&, const std::string&, std::int32_t) { return std::int32_t{1}; },
                                  "MSGBOX", cdRegister);
        exec.RegisterHostFunction(+[](std::uint32_t v) { return __builtin_bswap32(v); }, "SWAP32", cdRegister);
        exec.RegisterHostFunction(+[](std::int32_t v, std::int32_t) { return std::to_string(v); }, "INTTOHEX", cdRegister);
        exec.RegisterHostFunction(+[](const std::string& f, const PSOpenArray<TPSVarRec>& args) {
            return f + "/" + std::to_string(args.Items.size());
        }, "FORMAT", cdRegister);
        exec.RegisterHostFunction(+[](PSValueRef x) { return std::string(x.Type != nullptr ? x.Type->RealSize : 0, 'x'); },
                                  "DATA2STR", cdRegister);
        exec.RegisterHostFunction(+[](const std::string&, PSVarRef) {}, "STR2DATA", cdRegister);
        exec.RegisterHostFunction(+[](const std::string& s) { return std::string(s.rbegin(), s.rend()); }, "REVERSE",
                                  cdRegister);
        exec.RegisterHostFunction(+[](const PSOpenArray<Variant>& data) {
            std::string out;
            for (const Variant& v : data.Items) out += v.ToString();
            return out;
        }, "COMPOSE", cdRegister);
        exec.RegisterHostMethod(this, &StubLibrary::Wait, cdRegister, "SLEEP");
        exec.RegisterHostMethod(this, &StubLibrary::Wait, cdRegister, "NBSLEEP");
        exec.RegisterHostFunction(+[](const std::string& s, bool) { return s; }, "ARRAYTOHEX", cdRegister);
        exec.RegisterHostMethod(this, &StubLibrary::Show, cdRegister, "ADDMSG");
        exec.RegisterHostMethod(this, &StubLibrary::Show, cdRegister, "UPDMSG");
        exec.RegisterHostMethod(this, &StubLibrary::Show, cdRegister, "ADDERR");
        exec.RegisterHostFunction(+[](std::int32_t range) { return range > 0 ? range / 2 : 0; }, "RANDOM", cdRegister);
        exec.RegisterHostFunction(+[] { return 0.5; }, "RND", cdRegister);
        exec.RegisterHostMethod(this, &StubLibrary::Recv, cdRegister, "RECV");
        exec.RegisterHostMethod(this, &StubLibrary::Nothing, cdRegister, "PURGERX");
        exec.RegisterHostFunction(+[](const std::string&, std::string& data) {
            data = "stored";
            return true;
        }, "LOADSTRFROMFILE", cdRegister);
        exec.RegisterHostFunction(+[](const std::string&, const std::string&) { return true; }, "SAVESTRTOFILE",
                                  cdRegister);
        exec.RegisterHostMethod(this, &StubLibrary::Ticks, cdRegister, "GETTICKCOUNT");
        exec.RegisterHostMethod(this, &StubLibrary::SetV, cdRegister, "SETV");
        exec.RegisterHostMethod(this, &StubLibrary::GetV, cdRegister, "GETV");
        exec.RegisterHostFunction(+[](double) {}, "GRAPHADD", cdRegister);
        exec.RegisterHostFunction(+[](const std::string&) {}, "PLAY", cdRegister);
    }

    void Show(const std::string& s) { Shown += s + "\n"; ++Calls; }
    std::int32_t Send(const std::string& s) {
        Sent += s;
        ++Calls;
        return static_cast<std::int32_t>(s.size());
    }
    void Wait(std::uint32_t) { ++Calls; }
    void Nothing() { ++Calls; }
    bool Recv(std::int32_t count, std::int32_t, std::string& data) {
        ++Calls;
        data = std::string(static_cast<std::size_t>(std::clamp(count, 0, 64)), '\x01');
        return true;
    }
    std::uint32_t Ticks() { return Tick += 50; }
    void SetV(const std::string& name, const std::string& value) { Store[name] = value; }
    std::string GetV(const std::string& name) { return Store[name]; }

    std::string Shown;
    std::string Sent;
    int Calls = 0;
    std::uint32_t Tick = 0;
    std::map<std::string, std::string> Store;
};

// What one run of a plug-in's main block and events gave: every call the
// library saw, the error of each event, and the plug-in's data variables.
struct Transcript {
    bool AllOk = true;
    int Events = 0;
    std::vector<std::string> Failures;
    std::string Seen;
    bool operator==(const Transcript&) const = default;
};

// Runs the main block and each event of a compiled plug-in in the given
// tiers of forms.
Transcript RunPlugin(const std::string& name, const std::string& image, TPSFormTiers tiers) {
    Transcript out;
    TPSExec exec;
    exec.Forms = tiers;
    StubLibrary library(exec);
    EXPECT_TRUE(exec.LoadImage(image)) << PSErrorText(exec.LastErrorCode(), exec.LastErrorParam());
    // The host's own variables come first and are found by name.
    void* td = exec.FindGlobalVar("TD");
    void* rd = exec.FindGlobalVar("RD");
    EXPECT_NE(td, nullptr);
    EXPECT_NE(rd, nullptr);
    if (td == nullptr || rd == nullptr) return out;
    // A budget of ticks bounds every run, as a plug-in host would by time.
    std::uint64_t ticks = 0;
    exec.SetOnTick(
        [&](TPSExec& e) {
            if (++ticks > 200'000) e.Stop();
        },
        1);
    out.AllOk = exec.Run() || exec.MainProcNo() == kNoProc;
    exec.Stop();
    const std::pair<const char*, const char*> kEvents[] = {
        {"ONLOAD", nullptr}, {"ONSEND", "TD"}, {"ONRECEIVE", "RD"}, {"ONRECEIVE2", "RD2"}};
    for (const auto& [event, data] : kEvents) {
        if (exec.GetProcNo(event) == kNoProc) continue;
        ++out.Events;
        if (data != nullptr) PSSetVarString(exec.FindGlobalVar(data), std::string("\x01\x02\x03hello\r\n", 10));
        ticks = 0;
        try {
            EXPECT_TRUE(exec.CallProcByName(event, {}).IsNull());
        } catch (const EPSException& e) {
            // A runtime error of the script: its text and place.
            out.AllOk = false;
            EXPECT_FALSE(e.Message.empty());
            EXPECT_LT(e.ProcNo, exec.ProcCount()) << event;
            out.Failures.push_back(name + " " + event + ": " + e.Message);
            out.Seen += "error at " + std::to_string(e.ProcNo) + ":" + std::to_string(e.ProcPos) + "\n";
        } catch (const std::exception& e) {
            // A host exception raised inside the script comes back as it is.
            out.AllOk = false;
            out.Failures.push_back(name + " " + event + ": " + e.what());
        }
        EXPECT_EQ(exec.Status(), TPSStatus::isLoaded) << event;
        EXPECT_LE(ticks, 200'001u) << event;
        for (const char* var : {"TD", "RD", "RD2"}) out.Seen += PSGetVarString(exec.FindGlobalVar(var)) + "|";
        out.Seen += "\n";
    }
    out.Seen += library.Shown + "/" + library.Sent + "/" + std::to_string(library.Calls);
    for (const auto& [key, value] : library.Store) out.Seen += "/" + key + "=" + value;
    return out;
}

TEST(plugins_run, every_plugin_runs_its_events_against_the_stub_library) {
    const auto files = PluginFiles();
    int plugins = 0;
    int finished = 0;
    int events = 0;
    std::vector<std::string> failures;
    for (const auto& [name, text] : files) {
        if (!name.ends_with(".pas")) continue;
        SCOPED_TRACE(name);
        auto compiled = compiler::testing::CompilePlugin(text, name, files);
        ASSERT_TRUE(compiled.Ok) << compiled.AllMessages();
        ++plugins;
        // Every tier computes, sends, shows and fails as the general
        // handlers do.
        const auto runs = test_support::RunEveryTier(
            [&](TPSFormTiers tiers) { return RunPlugin(name, compiled.Image, tiers); },
            [](const Transcript& general, const Transcript& other, TPSFormTiers tiers) {
                EXPECT_EQ(other.Seen, general.Seen) << test_support::TierName(tiers);
                EXPECT_EQ(other.Failures, general.Failures) << test_support::TierName(tiers);
            });
        const Transcript& proven = runs.back();
        events += proven.Events;
        if (proven.AllOk) ++finished;
        failures.insert(failures.end(), proven.Failures.begin(), proven.Failures.end());
    }
    EXPECT_GE(plugins, 30);
    EXPECT_GE(events, 60);
    // The stubs answer as a device might, so most plug-ins get through; two
    // take what the stubs give for a number, and fail as scripts do.
    EXPECT_EQ(finished + 2, plugins);
    EXPECT_EQ(failures, (std::vector<std::string>{"plugins/int64_counter.pas ONLOAD: '' is not a valid integer value",
                                                   "plugins/open_array_stats.pas ONRECEIVE: Invalid float"}));
}

}  // namespace
}  // namespace script::runtime
