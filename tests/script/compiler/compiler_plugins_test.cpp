// Realistic plug-in sources compiled with the plug-in host's settings.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "compiler_test_support.h"

namespace script::compiler {
namespace {
using testing::CompileScript;
using testing::PluginHostSettings;

std::string ReadPlugin(const std::string& name) {
    std::string dir = __FILE__;
    dir = dir.substr(0, dir.find_last_of('/'));
    std::ifstream in(dir + "/plugins/" + name);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> ExternalNames(const test_support::PSImage& image) {
    std::vector<std::string> names;
    for (const auto& p : image.Procs)
        if (p.External) names.push_back(p.Name);
    return names;
}

bool Contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

TEST(compiler_plugins, checksum_plugin_compiles_with_its_events_and_library_calls) {
    const std::string source = ReadPlugin("checksum.pas");
    ASSERT_FALSE(source.empty());
    auto r = CompileScript(source, PluginHostSettings);
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    for (const char* event : {"ONLOAD", "ONSEND", "ONRECEIVE"}) EXPECT_EQ(r.Parsed.ProcNamed(event).ExportDecl, "-1");
    const auto externals = ExternalNames(r.Parsed);
    for (const char* name : {"ADDMSG", "ADDERR", "FORMAT", "ARRAYTOHEX", "COPY", "LENGTH", "STRGET"})
        EXPECT_TRUE(Contains(externals, name)) << name;
    // TD, RD, RD2 and the plug-in's own globals, the host's exported by name.
    ASSERT_EQ(r.Parsed.Vars.size(), 5u);
    EXPECT_EQ(r.Parsed.Vars[0].ExportName, "TD");
    EXPECT_EQ(r.Parsed.Vars[2].ExportName, "RD2");
    EXPECT_FALSE(r.Parsed.Vars[3].Exported);
    // The checksum function's result is assigned, so only real hints remain.
    for (const auto& m : r.Messages) EXPECT_EQ(m.find("[Error]"), std::string::npos) << m;
    // OnSend: TD := STX + TD + ETX + Chr(Checksum(TD)) ends in an assignment to TD.
    const std::string onSend = r.Code("ONSEND");
    EXPECT_NE(onSend.find("Assign G0, L0"), std::string::npos) << onSend;
}

TEST(compiler_plugins, poller_plugin_uses_records_enums_forward_with_and_untyped_parameters) {
    auto r = CompileScript(ReadPlugin("poller.pas"), PluginHostSettings);
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    const auto externals = ExternalNames(r.Parsed);
    for (const char* name : {"STR2DATA", "DATA2STR", "RECV", "GRAPHADD", "SETV", "PURGERX", "SEND", "MAKEWORD"})
        EXPECT_TRUE(Contains(externals, name)) << name;
    // Str2Data(answer, w): the untyped var parameter takes a pointer to w.
    const std::string poll = r.Code("POLL");
    EXPECT_NE(poll.find("SetPtr L"), std::string::npos) << poll;
    // The static array of records is declared as one type of ten elements.
    bool found = false;
    for (const auto& t : r.Parsed.Types)
        if (t.BaseType == btStaticArray && t.ElementCount == 10 && t.StartOffset == 0) found = true;
    EXPECT_TRUE(found);
}

TEST(compiler_plugins, host_refuses_bad_events_and_other_units) {
    auto r = CompileScript("procedure OnSend(const s: string); begin end;", PluginHostSettings);
    EXPECT_FALSE(r.Ok);
    EXPECT_TRUE(r.HasMessage("Type mismatch")) << r.AllMessages();
    r = CompileScript("uses Windows; procedure OnLoad; begin end;", PluginHostSettings);
    EXPECT_FALSE(r.Ok);
    EXPECT_TRUE(r.HasMessage("[Error] (1:6): Unknown unit 'Windows'")) << r.AllMessages();
    r = CompileScript("procedure OnLoad; begin ShowMessage(TD + RD + RD2); end; end.", PluginHostSettings);
    EXPECT_TRUE(r.Ok) << r.AllMessages();
}

}  // namespace
}  // namespace script::compiler
