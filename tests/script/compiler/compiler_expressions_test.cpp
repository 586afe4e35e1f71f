#include <gtest/gtest.h>

#include "compiler_test_support.h"

namespace script::compiler {
namespace {
using testing::CompileScript;

testing::CompileResult Main(const std::string& decls, const std::string& body) {
    return CompileScript(decls + " begin " + body + " end.");
}

TEST(compiler_expressions, casts_fold_or_are_refused) {
    auto r = Main("var b: Byte; c: Char; i: Integer;", "b := Byte(300); c := Char(65); i := ShortInt(200);");
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    const auto lines = test_support::Disassemble(r.Parsed, r.Parsed.ProcNamed("!MAIN").Code);
    EXPECT_EQ(lines[0], "Assign G0, #1:44");
    EXPECT_EQ(lines[1], "Assign G1, #6:65");
    EXPECT_EQ(lines[2].substr(lines[2].find(':') + 1), "200");  // S8 byte 0xC8
    r = Main("var i: Integer;", "i := Integer(2.5);");
    EXPECT_FALSE(r.Ok);
    EXPECT_TRUE(r.HasMessage("Type mismatch")) << r.AllMessages();
    r = Main("var b: Boolean;", "b := not True;");
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    EXPECT_NE(r.Code().find("Assign G0, #2:0"), std::string::npos) << r.Code();
    r = Main("var i: Integer;", "i := -ShortInt(-128);");
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    EXPECT_NE(r.Code().find(":128"), std::string::npos) << r.Code();  // -128 as an S8 byte
}

TEST(compiler_expressions, type_names_as_values_and_as_casts) {
    auto r = Main("var i: Integer; b: Byte;", "i := SizeOf(Integer); i := b as Integer;");
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    const auto lines = test_support::Disassemble(r.Parsed, r.Parsed.ProcNamed("!MAIN").Code);
    // The type reference constant carries the number of LongInt (14).
    EXPECT_EQ(lines[1].substr(lines[1].find(':') + 1), "14");
    EXPECT_EQ(lines[6], "Assign G0, G1");
    r = Main("var i, j: Integer;", "i := j as i;");
    EXPECT_FALSE(r.Ok);
    EXPECT_TRUE(r.HasMessage("Type mismatch")) << r.AllMessages();
}

TEST(compiler_expressions, operator_typing_rejects_mismatched_operands) {
    EXPECT_FALSE(Main("var s: String;", "s := 'a' + 1;").Ok);
    EXPECT_FALSE(Main("type A = set of Byte; B = set of Char; var a: A; b: B;", "a := a - b;").Ok);
    EXPECT_TRUE(Main("type A = set of Byte; var a: A;", "a := a - [1];").Ok);
    EXPECT_FALSE(Main("type A = set of Byte; var a, b: A; x: Boolean;", "x := a > b;").Ok);
    EXPECT_TRUE(Main("type A = set of Byte; var a, b: A; x: Boolean;", "x := a >= b;").Ok);
    auto r = Main("var x: Boolean; s: String;", "x := s = nil;");
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    EXPECT_NE(r.Code().find("Assign L0, #"), std::string::npos) << r.Code();
    r = Main("var x: Boolean;", "x := True and x; x := x or True;");
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    EXPECT_TRUE(r.HasMessage("[Warning] (1:28): True and is not needed")) << r.AllMessages();
    EXPECT_TRUE(r.HasMessage("Calculation always evaluates to True")) << r.AllMessages();
    r = Main("var x: Integer;", "x := (1 + 2) * 3 - x;");
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    EXPECT_NE(r.Code().find("#14:9"), std::string::npos) << r.Code();
}

TEST(compiler_expressions, strings_records_and_arrays_select_elements) {
    auto r = Main("var s: String; c: Char;", "c := s[3]; s[3] := 'x';");
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    std::string names;
    for (const auto& p : r.Parsed.Procs)
        if (p.External) names += p.Name + " ";
    EXPECT_EQ(names, "STRGET STRSET ");
    EXPECT_FALSE(Main("var s: String;", "s[3] := 65;").Ok);
    r = Main("var v, w: Variant;", "w := v[1]; v[2] := 5;");
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    names.clear();
    for (const auto& p : r.Parsed.Procs)
        if (p.External) names += p.Name + " ";
    EXPECT_EQ(names, "VARARRAYGET VARARRAYSET ");
    r = Main("var s: String; c: Char;", "c := s[3;");
    EXPECT_TRUE(r.HasMessage("Closing square bracket (']') expected")) << r.AllMessages();

    r = Main("type TA = array[1..3] of Integer; var a: TA; i: Integer;", "a[2] := 1; a[i] := 2;");
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    EXPECT_NE(r.Code().find("Assign G0[1], #14:1"), std::string::npos) << r.Code();
    EXPECT_NE(r.Code().find("Calc - L2, #14:1"), std::string::npos) << r.Code();
    EXPECT_NE(r.Code().find("SetPtr L0, L0[L1]"), std::string::npos) << r.Code();

    r = Main("type TR = record f: Integer; end; var r: TR; i: Integer;", "i := i.f;");
    EXPECT_TRUE(r.HasMessage("Semicolon (';') expected")) << r.AllMessages();
    r = Main("type TR = record f: Integer; end; var r: TR; i: Integer;", "i := r.g;");
    EXPECT_TRUE(r.HasMessage("Unknown identifier 'g'")) << r.AllMessages();
    r = Main("type TR = record f: Integer; end; TA = array of TR; var a: TA; i: Integer;", "a[i].f := 1;");
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    // Two sub-items: a pointer temporary walks the chain.
    EXPECT_NE(r.Code().find("SetPtr L0, G0\nPushType 15\nAssign L1, G1\nSetPtr L0, L0[L1]\nPop\nSetPtr L0, L0[0]\nAssign L0, #14:1"), std::string::npos)
        << r.Code();
}

TEST(compiler_expressions, field_of_a_function_result_is_read_where_the_value_is_written) {
    auto r = CompileScript(
        "type TR = record a: Integer; b: record c: Byte; end; end; var x: Integer;\n"
        "function F: TR; begin Result.a := 1; end;\n"
        "begin while F.a > x do x := x + 1; x := F.b.c; end.");
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    const auto lines = test_support::Disassemble(r.Parsed, r.Parsed.ProcNamed("!MAIN").Code);
    // The call sits after the loop head (instruction 1), so it runs on every pass.
    ASSERT_GE(lines.size(), 13u) << r.Code();
    EXPECT_EQ(lines[0], "PushType 2");
    EXPECT_EQ(lines[2], "PushVar L1");
    EXPECT_EQ(lines[3], "Call 1");
    EXPECT_EQ(lines[6], "Assign L2, L1[0]");
    EXPECT_EQ(lines[12], "Goto @1");
    r = CompileScript("type TR = record a: Integer; end; function F: TR; begin end; begin F.b := 1; end.");
    EXPECT_FALSE(r.Ok);
}

TEST(compiler_expressions, identifiers_resolve_by_scope_and_mode) {
    auto r = CompileScript(
        "var x: Integer; procedure P(x: Byte); var y: Integer; begin y := x; end; begin x := 1; end.");
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    EXPECT_EQ(r.Code("P"), "PushType 14\nAssign L0, P0\nRet");
    // A local hides a global of the same name.
    r = CompileScript("var x: Integer; procedure P; var x: Byte; begin x := 1; end; begin x := 2; end.");
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    EXPECT_EQ(r.Code("P"), "PushType 1\nAssign L0, #14:1\nRet");
    r = CompileScript("const K = 1; begin K := 2; end.");
    EXPECT_FALSE(r.Ok);
    r = CompileScript("var x: Integer; begin for Integer := 1 to 2 do ; end.");
    EXPECT_TRUE(r.HasMessage("Variable Expected")) << r.AllMessages();
}

TEST(compiler_expressions, calls_check_and_push_their_arguments) {
    auto r = Main("var i: Integer; s: String;", "i := StrToInt(s, 1);");
    EXPECT_FALSE(r.Ok);
    EXPECT_TRUE(r.HasMessage("Invalid number of parameters")) << r.AllMessages();
    r = Main("var i: Integer;", "i := StrToIntDef('1');");
    EXPECT_TRUE(r.HasMessage("Invalid number of parameters")) << r.AllMessages();
    r = Main("var s: String;", "Delete('abc', 1, 1);");
    EXPECT_TRUE(r.HasMessage("Variable Expected")) << r.AllMessages();
    r = Main("var i: Integer;", "i := ShowNothing;");
    EXPECT_TRUE(r.HasMessage("Unknown identifier 'ShowNothing'")) << r.AllMessages();
    r = CompileScript("procedure P; begin end; var i: Integer; begin i := P; end.");
    EXPECT_FALSE(r.Ok);
    EXPECT_TRUE(r.HasMessage("No result")) << r.AllMessages();

    // Assigned accepts a String or a PChar and passes it with its own type.
    r = Main("var s: String; p: PChar; b: Boolean;", "b := Assigned(s) or Assigned(p);");
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    r = Main("var i: Integer; b: Boolean;", "b := Assigned(i);");
    EXPECT_FALSE(r.Ok);

    // Empty brackets and no brackets both give an empty argument list.
    auto a = CompileScript("var c: Cardinal; begin c := GetTickCount(); end.", testing::PluginHostSettings);
    auto b = CompileScript("var c: Cardinal; begin c := GetTickCount; end.", testing::PluginHostSettings);
    ASSERT_TRUE(a.Ok && b.Ok) << a.AllMessages() << b.AllMessages();
    EXPECT_EQ(a.Code(), b.Code());
    EXPECT_EQ(a.Code(), "PushVar G3\nCall 1\nPop\nRet");

    // A result of exactly the destination's type is written in place.
    r = Main("var s: String;", "s := IntToStr(5);");
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    EXPECT_EQ(r.Code(), "PushType 17\nAssign L0, #14:5\nPushVar G0\nCall 1\nPop\nPop\nRet");
}

TEST(compiler_expressions, open_array_var_argument_copy_outlives_the_call) {
    auto r = CompileScript(
        "var arr: array of Integer; procedure Fill(var x: array of Integer); begin end; begin Fill(arr); end.");
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    const auto lines = test_support::Disassemble(r.Parsed, r.Parsed.ProcNamed("!MAIN").Code);
    ASSERT_EQ(lines.size(), 8u) << r.Code();
    EXPECT_EQ(lines[0].rfind("PushType", 0), 0u);  // the copy
    EXPECT_EQ(lines[1], "Assign L0, G0");
    EXPECT_EQ(lines[2], "PushType 0");
    EXPECT_EQ(lines[3], "SetPtr L1, L0");
    EXPECT_EQ(lines[4].rfind("Call", 0), 0u);
    EXPECT_EQ(lines[5], "Pop");  // the pointer
    EXPECT_EQ(lines[6], "Pop");  // the copy, only after the call
}

TEST(compiler_expressions, constructors_become_sets_or_arrays) {
    auto r = Main("type TS = set of Byte; var s: TS;", "s := [1, 2, 3];");
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    EXPECT_NE(r.Code().find(":0E000000"), std::string::npos) << r.Code();
    auto bad = Main("type TS = set of Byte; var s: TS; x: Byte;", "s := [1, x];");
    EXPECT_FALSE(bad.Ok);
    EXPECT_TRUE(bad.HasMessage("Type mismatch")) << bad.AllMessages();

    r = Main("var a: array of Integer;", "a := [1, 2];");
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    const auto lines = test_support::Disassemble(r.Parsed, r.Parsed.ProcNamed("!MAIN").Code);
    ASSERT_GE(lines.size(), 9u) << r.Code();
    EXPECT_EQ(lines[0].rfind("PushType", 0), 0u);
    EXPECT_EQ(lines[1], "PushType 14");
    EXPECT_EQ(lines[2], "Assign L1, #14:2");
    EXPECT_EQ(lines[3], "PushVar L0");
    EXPECT_EQ(lines[4].rfind("Call", 0), 0u);
    EXPECT_EQ(lines[5], "Pop");
    EXPECT_EQ(lines[6], "Pop");
    EXPECT_EQ(lines[7], "Assign L0[0], #14:1");
    EXPECT_EQ(lines[8], "Assign L0[1], #14:2");
}

}  // namespace
}  // namespace script::compiler

namespace script::compiler {
namespace {

TEST(compiler_expressions, notification_variants_become_getter_and_setter_calls) {
    auto r = testing::CompileScript("var v: Variant; begin N := 5; v := N; end.", [](TPSPascalCompiler& c) {
        c.OnUses = [](TPSPascalCompiler& comp, const std::string&) {
            comp.AddUsedVariableN("N", "!NotificationVariant");
            return true;
        };
    });
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    std::string names;
    for (const auto& p : r.Parsed.Procs)
        if (p.External) names += p.Name + " ";
    EXPECT_EQ(names, "!NOTIFICATIONVARIANTSET !NOTIFICATIONVARIANTGET ");
    EXPECT_NE(r.Code().find("'N'"), std::string::npos) << r.Code();
}

}  // namespace
}  // namespace script::compiler

namespace script::compiler {
namespace {

TEST(compiler_expressions, variant_members_are_bound_late_through_idispatchinvoke) {
    auto r = testing::CompileScript("var v, w: Variant; begin w := v.Item(1, 'a'); v.Visible := True; end.");
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    const std::string code = r.Code();
    EXPECT_NE(code.find("Assign L1, #7:'Item'"), std::string::npos) << code;
    EXPECT_NE(code.find("Assign L2, #2:0"), std::string::npos) << code;  // a read
    EXPECT_NE(code.find("#7:'Visible'"), std::string::npos) << code;
    EXPECT_NE(code.find("Assign L3, #2:1"), std::string::npos) << code;  // a property write
    EXPECT_EQ(r.Parsed.Procs[1].Name, "IDISPATCHINVOKE");
    r = testing::CompileScript("var v: Variant; begin v.; end.");
    EXPECT_TRUE(r.HasMessage("Identifier expected")) << r.AllMessages();
}

}  // namespace
}  // namespace script::compiler
