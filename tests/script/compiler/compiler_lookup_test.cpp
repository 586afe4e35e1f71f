// Name lookups in scripts large enough that they go through the compiler's
// indexes, names whose hashes collide, and host registrations that rename
// or re-register what they declared.
#include <gtest/gtest.h>

#include "compiler_test_support.h"

namespace script::compiler {
namespace {
using testing::CompileScript;

std::size_t ProcNumber(const testing::CompileResult& r, const std::string& name) {
    for (std::size_t i = 0; i < r.Parsed.Procs.size(); ++i)
        if (!r.Parsed.Procs[i].External && r.Parsed.Procs[i].ExportName == name) return i;
    ADD_FAILURE() << "no procedure " << name;
    return 0;
}

TEST(compiler_lookup, names_with_the_same_hash_are_told_apart) {
    // Each pair has one MakeHash value.
    ASSERT_EQ(MakeHash("VFXRTMG"), MakeHash("VVXRTLG"));
    ASSERT_EQ(MakeHash("VNIDAAL"), MakeHash("VOYDAAC"));
    const std::string decls =
        "var VFXRTMG: Integer; VVXRTLG: string;\n"
        "procedure VNIDAAL(x: Integer); begin VFXRTMG := x; end;\n"
        "function VOYDAAC: string; begin Result := VVXRTLG; end;\n";
    auto r = CompileScript(decls + "begin VNIDAAL(3); VVXRTLG := VOYDAAC + 'a'; end.");
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    EXPECT_NE(r.Code("VNIDAAL").find("Assign G0, P0"), std::string::npos) << r.Code("VNIDAAL");
    EXPECT_NE(r.Code("VOYDAAC").find("Assign P0, G1"), std::string::npos) << r.Code("VOYDAAC");
    const std::string main = r.Code();
    EXPECT_NE(main.find("Call " + std::to_string(ProcNumber(r, "VNIDAAL"))), std::string::npos) << main;
    EXPECT_NE(main.find("Call " + std::to_string(ProcNumber(r, "VOYDAAC"))), std::string::npos) << main;

    // The Integer is not taken for the string of the same hash, nor is one
    // name a duplicate of the other.
    r = CompileScript(decls + "begin\n  VFXRTMG := 'x';\nend.");
    EXPECT_TRUE(r.HasMessage("(5:") && r.HasMessage("Type mismatch")) << r.AllMessages();
    r = CompileScript("var VFXRTMG: Integer;\nconst VVXRTLG = 2;\ntype VNIDAAL = Byte;\nbegin VFXRTMG := VVXRTLG; end.");
    EXPECT_TRUE(r.Ok) << r.AllMessages();
}

TEST(compiler_lookup, a_long_script_finds_every_declaration_and_every_clash) {
    // Procedures calling the one before, each with a global and a constant
    // of its own, and one forward declaration resolved at the very end.
    std::string text = "procedure Last(n: Integer); forward;\n";
    for (int i = 0; i < 1500; ++i) {
        const std::string n = std::to_string(i);
        text += "const K" + n + " = " + n + ";\nvar G" + n + ": Integer;\nprocedure P" + n + ";\nbegin G" + n +
                " := K" + n + (i > 0 ? "; P" + std::to_string(i - 1) : "") + "; end;\n";
    }
    const std::string body = "procedure Last(n: Integer); begin G1499 := n + K7; end;\n";
    auto r = CompileScript(text + body + "begin P1499; Last(G3); end.");
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    EXPECT_NE(r.Code("P1499").find("Call " + std::to_string(ProcNumber(r, "P1498"))), std::string::npos);
    EXPECT_NE(r.Code("P700").find("Assign G700, #14:700"), std::string::npos) << r.Code("P700");
    const std::string main = r.Code();
    EXPECT_NE(main.find("Call " + std::to_string(ProcNumber(r, "P1499"))), std::string::npos) << main;
    EXPECT_NE(main.find("Call " + std::to_string(ProcNumber(r, "LAST"))), std::string::npos) << main;

    // Names declared long before still clash.
    for (const char* clash : {"var P20: Integer;", "procedure G1400; begin end;", "const P3 = 1;", "type G9 = Byte;",
                              "procedure p10; begin end;"}) {
        r = CompileScript(text + clash + "\n" + body + "begin end.");
        EXPECT_FALSE(r.Ok) << clash;
        EXPECT_TRUE(r.HasMessage("Duplicate identifier")) << clash << "\n" << r.AllMessages();
    }
    // A second body for a procedure that was already given one.
    r = CompileScript(text + body + "procedure Last(n: Integer); begin end;\nbegin end.");
    EXPECT_TRUE(r.HasMessage("Duplicate identifier 'Last'")) << r.AllMessages();
}

TEST(compiler_lookup, host_renames_and_registrations_made_after_lookups_are_found) {
    auto setup = [](TPSPascalCompiler& c) {
        c.OnUses = [](TPSPascalCompiler& comp, const std::string& name) {
            if (name == "SYSTEM") {
                TPSRegProc* f = comp.AddFunction("function Foo: Integer;");
                // A registration that looks names up, then the rename.
                comp.AddVariableN("Seen", "Integer");
                f->SetName("Bar");
                // The later of two types of one name is the one in force.
                comp.AddType("TNum", btU8);
                comp.AddType("TNum", btString);
                return true;
            }
            if (name == "EXTRA") {
                TPSRegProc* f = comp.AddFunction("function Baz(x: Integer): Integer;");
                comp.AddVariableN("More", "Integer");
                f->SetName("Qux");
                return true;
            }
            return false;
        };
    };
    auto r = CompileScript("uses Extra;\nvar n: TNum;\nbegin n := 'abc'; Seen := Bar + Qux(2); end.", setup);
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    r = CompileScript("begin\n  Seen := Foo;\nend.", setup);
    EXPECT_TRUE(r.HasMessage("(2:11): Unknown identifier 'Foo'")) << r.AllMessages();
    r = CompileScript("uses Extra;\nbegin\n  Seen := Baz(1);\nend.", setup);
    EXPECT_TRUE(r.HasMessage("(3:11): Unknown identifier 'Baz'")) << r.AllMessages();
}

}  // namespace
}  // namespace script::compiler
