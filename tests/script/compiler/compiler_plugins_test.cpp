// Realistic plug-in sources compiled with the plug-in host's settings.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "compiler_test_support.h"

namespace script::compiler {
namespace {
using testing::CompilePlugin;
using testing::CompileScript;
using testing::PluginHostSettings;

// From the source folder the build names, not __FILE__: a compiler cache may
// make that path relative to wherever the object was first built.
std::string TestDir() { return std::string(VOSTREL_SOURCE_DIR_DEFAULT) + "/tests/script/compiler"; }

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string ReadPlugin(const std::string& name) { return ReadFile(TestDir() + "/plugins/" + name); }

// Every file below the plug-in folder, by the name an include asks for
// ("plugins/inc/crc16.inc"), the way the host reads them from disk.
std::map<std::string, std::string> PluginFiles() {
    std::map<std::string, std::string> files;
    const std::filesystem::path root = TestDir();
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root / "plugins"))
        if (entry.is_regular_file())
            files[entry.path().lexically_relative(root).generic_string()] = ReadFile(entry.path());
    return files;
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

// The code of every script procedure decodes, jumps land on instructions
// (or the end), calls name procedures and pushes name types of the image.
void ExpectSoundCode(const test_support::PSImage& image, const std::string& name) {
    for (const auto& proc : image.Procs) {
        if (proc.External) continue;
        std::vector<test_support::PSInstruction> code;
        try {
            code = test_support::DecodeCode(image, proc.Code);
        } catch (const test_support::PSImageError& e) {
            ADD_FAILURE() << name << " " << proc.Name << ": " << e.what();
            continue;
        }
        std::set<std::uint32_t> starts{static_cast<std::uint32_t>(proc.Code.size())};
        for (const auto& i : code) starts.insert(i.Pos);
        for (const auto& i : code) {
            if (i.IsJump) {
                EXPECT_TRUE(starts.count(i.Target)) << name << " " << proc.Name << " @" << i.Pos;
            }
            if (i.Opcode == opCall) {
                EXPECT_LT(i.Number, image.Procs.size()) << name << " " << proc.Name;
            }
            if (i.Opcode == opPushType) {
                EXPECT_LT(i.Number, image.Types.size()) << name << " " << proc.Name;
            }
        }
        ASSERT_FALSE(code.empty()) << name << " " << proc.Name;
        EXPECT_EQ(code.back().Opcode, opRet) << name << " " << proc.Name;
    }
}

TEST(compiler_plugins, every_plugin_in_the_folder_compiles_with_its_includes_and_declares_an_event) {
    const auto files = PluginFiles();
    int plugins = 0;
    for (const auto& [name, text] : files) {
        if (!name.ends_with(".pas")) continue;
        ++plugins;
        auto r = CompilePlugin(text, name, files);
        EXPECT_TRUE(r.Ok) << name << "\n" << r.AllMessages();
        for (const auto& m : r.Messages) EXPECT_TRUE(m.starts_with("[Hint]")) << name << ": " << m;
        EXPECT_TRUE(r.Events.HasOnLoad || r.Events.HasOnSend || r.Events.HasOnReceive || r.Events.HasOnReceive2)
            << name;
        if (r.Ok) ExpectSoundCode(r.Parsed, name);
    }
    EXPECT_GE(plugins, 30);
}

// The images the plug-ins compile to were recorded once; the compiler's
// output for them must not change unless the change is meant. With
// VOSTREL_RECORD_IMAGES set the test writes the images afresh instead.
TEST(compiler_plugins, every_plugin_compiles_to_its_recorded_image_byte_for_byte) {
    const auto files = PluginFiles();
    const std::filesystem::path imageDir = std::filesystem::path(TestDir()) / "plugin_images";
    const bool record = std::getenv("VOSTREL_RECORD_IMAGES") != nullptr;
    std::set<std::string> expected;
    for (const auto& [name, text] : files) {
        if (!name.ends_with(".pas")) continue;
        const std::string imageName = std::filesystem::path(name).stem().string() + ".img";
        expected.insert(imageName);
        auto r = CompilePlugin(text, name, files);
        ASSERT_TRUE(r.Ok) << name << "\n" << r.AllMessages();
        if (record) {
            std::filesystem::create_directories(imageDir);
            std::ofstream(imageDir / imageName, std::ios::binary) << r.Image;
            continue;
        }
        ASSERT_TRUE(std::filesystem::exists(imageDir / imageName)) << "no recorded image for " << name;
        const std::string recorded = ReadFile(imageDir / imageName);
        if (r.Image == recorded) continue;
        std::size_t at = 0;
        while (at < r.Image.size() && at < recorded.size() && r.Image[at] == recorded[at]) ++at;
        ADD_FAILURE() << name << ": the image differs from the recorded one at byte " << at << " (sizes "
                      << r.Image.size() << " and " << recorded.size() << ")";
    }
    // A recorded image whose source is gone is stale.
    for (const auto& entry : std::filesystem::directory_iterator(imageDir))
        EXPECT_TRUE(expected.count(entry.path().filename().string())) << "stale " << entry.path();
    EXPECT_GE(expected.size(), 30u);
}

TEST(compiler_plugins, host_records_events_in_any_case_and_refuses_an_event_function) {
    auto r = CompilePlugin("procedure onload; begin end; procedure OnReceive2; begin end;", "p.pas");
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    EXPECT_TRUE(r.Events.HasOnLoad);
    EXPECT_TRUE(r.Events.HasOnReceive2);
    EXPECT_FALSE(r.Events.HasOnSend);
    EXPECT_FALSE(r.Events.HasOnReceive);
    r = CompilePlugin("function ONSEND: Integer; begin Result := 1; end;", "p.pas");
    EXPECT_FALSE(r.Ok);
    EXPECT_TRUE(r.Events.HasOnSend);
    EXPECT_TRUE(r.HasMessage("Type mismatch")) << r.AllMessages();
    // Other procedures may have any shape.
    r = CompilePlugin("function OnSendHelper(x: Integer): Integer; begin Result := x; end;", "p.pas");
    EXPECT_TRUE(r.Ok) << r.AllMessages();
}

TEST(compiler_plugins, includes_resolve_beside_the_including_file_and_errors_point_into_them) {
    const std::map<std::string, std::string> files = {
        {"dir/inc/a.inc", "{$I b.inc}\nfunction A: Integer; begin Result := B + 1; end;\n"},
        {"dir/inc/b.inc", "function B: Integer;\nbegin\n  Result := 'x';\nend;\n"},
        {"dir/inc/c.inc", "function C: Integer; begin Result := 3; end;\n"}};
    auto r = CompilePlugin("{$I inc/c.inc}\nprocedure OnLoad; begin AddMsg(IntToStr(C)); end;", "dir/main.pas", files);
    EXPECT_TRUE(r.Ok) << r.AllMessages();
    // b.inc is found beside a.inc, its error reported in its own rows.
    r = CompilePlugin("\n{$I inc/a.inc}\nprocedure OnLoad; begin end;", "dir/main.pas", files);
    EXPECT_FALSE(r.Ok);
    EXPECT_TRUE(r.HasMessage("[Error] dir/inc/b.inc(3:16): Type mismatch")) << r.AllMessages();
    // A missing include is the preprocessor's error; an empty one reads as empty.
    try {
        CompilePlugin("{$I inc/none.inc}\nprocedure OnLoad; begin end;", "dir/main.pas", files);
        ADD_FAILURE() << "a missing include compiled";
    } catch (const EPSPreProcessor& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to find file 'dir/inc/none.inc' used from 'dir/main.pas'");
    }
    auto with_empty = files;
    with_empty["dir/inc/none.inc"] = "";
    r = CompilePlugin("{$I inc/none.inc}\nprocedure OnLoad; begin end;", "dir/main.pas", with_empty);
    EXPECT_TRUE(r.Ok) << r.AllMessages();
    // Defines of the source select its code.
    r = CompilePlugin("{$DEFINE X}{$IFDEF X}procedure OnLoad; begin end;{$ELSE}bad{$ENDIF}", "dir/main.pas", files);
    EXPECT_TRUE(r.Ok) << r.AllMessages();
    EXPECT_TRUE(r.Events.HasOnLoad);
}

TEST(compiler_plugins, untyped_library_functions_carry_their_completed_parameters_into_the_image) {
    auto r = CompilePlugin("var w: Word; procedure OnLoad; begin TD := Data2Str(w); Str2Data(RD, w); end;", "p.pas");
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    std::string d2s, s2d;
    for (const auto& p : r.Parsed.Procs) {
        if (p.External && p.Name == "DATA2STR") d2s = p.Decl;
        if (p.External && p.Name == "STR2DATA") s2d = p.Decl;
    }
    // Result byte, then one byte per parameter (1 by reference).
    EXPECT_EQ(d2s, std::string("\1\0", 2));
    EXPECT_EQ(s2d, std::string("\0\0\1", 3));
}

}  // namespace
}  // namespace script::compiler
