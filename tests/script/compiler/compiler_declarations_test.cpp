#include <gtest/gtest.h>

#include <cstring>

#include "compiler_test_support.h"

namespace script::compiler {
namespace {
using testing::CompileScript;

// The image type that variable n of the script has.
const test_support::PSType& VarType(const testing::CompileResult& r, std::size_t n) {
    return r.Parsed.Types.at(r.Parsed.Vars.at(n).TypeNo);
}

TEST(compiler_declarations, types_are_read_and_written_with_their_components) {
    auto r = CompileScript(
        "type TE = (ea, eb, ec); TS = set of TE; TR = record x: Byte; y: String; end;\n"
        "TA = array[1..0] of Byte; TB = array[-2..2] of TR; TP = function(x: Integer): Boolean;\n"
        "TAlias = TR;\n"
        "var e: TE; s: TS; r: TR; a: TA; b: TB; p: TP; al: TAlias;\n"
        "begin e := ec; s := [ea, ec]; end.");
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    EXPECT_EQ(VarType(r, 0).BaseType, btU8);  // three names: highest value 2, one byte
    EXPECT_EQ(VarType(r, 1).BaseType, btSet);
    EXPECT_EQ(VarType(r, 1).SetBits, 3u);
    EXPECT_EQ(VarType(r, 2).BaseType, btRecord);
    ASSERT_EQ(VarType(r, 2).FieldTypes.size(), 2u);
    EXPECT_EQ(r.Parsed.Types[VarType(r, 2).FieldTypes[1]].BaseType, btString);
    EXPECT_EQ(VarType(r, 3).ElementCount, 0u);
    EXPECT_EQ(VarType(r, 4).ElementCount, 5u);
    EXPECT_EQ(static_cast<std::int32_t>(VarType(r, 4).StartOffset), -2);
    EXPECT_EQ(VarType(r, 5).BaseType, btProcPtr);
    EXPECT_EQ(VarType(r, 5).ProcSignature, std::string("\1\0", 2));
    EXPECT_EQ(r.Parsed.Vars[6].TypeNo, r.Parsed.Vars[2].TypeNo);  // an alias is the same type
    EXPECT_NE(r.Code().find("Assign G0, #"), std::string::npos);
    EXPECT_NE(r.Code().find(":05"), std::string::npos) << r.Code();  // bits 0 and 2

    r = CompileScript("type TA = array[0..536870911] of Byte; begin end.");
    EXPECT_FALSE(r.Ok);
    EXPECT_TRUE(r.HasMessage("Type mismatch")) << r.AllMessages();
    r = CompileScript("type TA = array[-9223372036854775807 - 1..0] of Byte; begin end.");
    EXPECT_TRUE(r.HasMessage("Type mismatch")) << r.AllMessages();
    r = CompileScript("type TA = array[5..3] of Byte; begin end.");
    EXPECT_TRUE(r.HasMessage("Type mismatch")) << r.AllMessages();
    r = CompileScript("type TA = array[0..1.5] of Byte; begin end.");
    EXPECT_TRUE(r.HasMessage("Type mismatch")) << r.AllMessages();
    r = CompileScript("type TA = array[0..2 of Byte; begin end.");
    EXPECT_TRUE(r.HasMessage("Closing square bracket (']') expected")) << r.AllMessages();
    r = CompileScript("type TS = set of String; begin end.");
    EXPECT_TRUE(r.HasMessage("Type mismatch")) << r.AllMessages();
    r = CompileScript("type TR = record a, a: Byte; end; begin end.");
    EXPECT_TRUE(r.HasMessage("Duplicate identifier 'a'")) << r.AllMessages();
    r = CompileScript("type T = TNothing; begin end.");
    EXPECT_TRUE(r.HasMessage("Unknown type 'TNothing'")) << r.AllMessages();
    r = CompileScript("type T Integer; begin end.");
    EXPECT_TRUE(r.HasMessage("is ('=') expected")) << r.AllMessages();
}

TEST(compiler_declarations, element_types_get_smaller_numbers_than_their_arrays) {
    auto r = CompileScript("type TB = record z: Byte; end; TA = array of TB; var a: TA; begin end.");
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    const auto& arr = VarType(r, 0);
    EXPECT_EQ(arr.BaseType, btArray);
    EXPECT_LT(arr.ElementType, r.Parsed.Vars[0].TypeNo);
}

TEST(compiler_declarations, name_clashes_follow_the_declaration_kind) {
    // A constant may share its name with a type and a type with a constant.
    EXPECT_TRUE(CompileScript("type T = Integer; const T = 1; begin end.").Ok);
    EXPECT_TRUE(CompileScript("const K = 1; type K = Integer; begin end.").Ok);
    auto r = CompileScript("var V: Integer; const V = 1; begin V := 1; end.");
    EXPECT_TRUE(r.HasMessage("Duplicate identifier 'V'")) << r.AllMessages();
    r = CompileScript("procedure P; begin end; type P = Integer; begin end.");
    EXPECT_TRUE(r.HasMessage("Duplicate identifier 'P'")) << r.AllMessages();
    r = CompileScript("var Result: Integer; begin end.");
    EXPECT_TRUE(r.HasMessage("Duplicate identifier 'Result'")) << r.AllMessages();
    r = CompileScript("var IntToStr: Integer; begin end.");
    EXPECT_TRUE(r.HasMessage("Duplicate identifier 'IntToStr'")) << r.AllMessages();
    r = CompileScript("procedure P(x: Integer); var x: Byte; begin end; begin end.");
    EXPECT_TRUE(r.HasMessage("Duplicate identifier 'x'")) << r.AllMessages();
    r = CompileScript("var a, b: Integer; begin a := b; end.");
    ASSERT_TRUE(r.Ok);
    r = CompileScript("var a,\n  b: Integer; begin end.", [](TPSPascalCompiler& c) { c.AllowNoMainBlock = true; });
    // Both names carry the position of the first.
    EXPECT_TRUE(r.HasMessage("[Hint] (1:5): Variable 'a' never used")) << r.AllMessages();
    EXPECT_TRUE(r.HasMessage("[Hint] (1:5): Variable 'b' never used")) << r.AllMessages();
}

TEST(compiler_declarations, standard_interfaces_exist_in_every_compilation) {
    auto r = CompileScript("var d: IDispatch; u: IUnknown; i: IInterface; begin end.");
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    const auto& d = VarType(r, 0);
    EXPECT_EQ(d.BaseType, btInterface);
    EXPECT_TRUE(d.HasExportName);
    EXPECT_EQ(d.ExportName, "IDISPATCH");
    EXPECT_EQ(d.Guid[0], 0x00020400u);
    EXPECT_EQ(d.Guid[2], 0x000000C0u);
    EXPECT_EQ(d.Guid[3], 0x46000000u);
    EXPECT_EQ(VarType(r, 1).Guid[0], 0u);
    EXPECT_FALSE(VarType(r, 1).HasExportName);
}

TEST(compiler_declarations, host_currency_constants_fold_on_scaled_amounts) {
    auto host = [](TPSPascalCompiler& c) {
        c.OnUses = [](TPSPascalCompiler& comp, const std::string&) {
            comp.AddConstantN("Price", "Currency")->Value->tcurrency = 15000;  // 1.5
            return true;
        };
    };
    auto r = CompileScript("var c: Currency; begin c := Price + 2; end.", host);
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    const auto ins = test_support::DecodeCode(r.Parsed, r.Parsed.ProcNamed("!MAIN").Code);
    EXPECT_EQ(static_cast<std::int64_t>(ins[0].Operands[1].Constant.AsUnsigned()), 35000);
    r = CompileScript("var c: Currency; begin c := Price * 1.0e300; end.", host);
    EXPECT_FALSE(r.Ok);
    EXPECT_TRUE(r.HasMessage("Math Error")) << r.AllMessages();
    r = CompileScript("var c: Currency; begin c := Price / 0; end.", host);
    EXPECT_TRUE(r.HasMessage("Divide by Zero")) << r.AllMessages();
}

// A host that registers the attribute type Version(auto, Major: Integer;
// Name: String) and, optionally, hooks that refuse attributes.
void AttributeHost(TPSPascalCompiler& c, bool refuse_types, bool refuse_procs) {
    c.OnUses = [=](TPSPascalCompiler& comp, const std::string& name) {
        if (name != "SYSTEM") return false;
        TPSAttributeType* version = comp.AddAttributeType("Version");
        version->Fields.push_back({comp.FindType("Cardinal"), true});
        version->Fields.push_back({comp.FindType("Integer"), false});
        version->Fields.push_back({comp.FindType("String"), false});
        if (refuse_types) version->OnApplyToType = [](TPSAttribute&, TPSType&) { return false; };
        if (refuse_procs)
            version->OnApplyToProcedure = [&comp](TPSAttribute& a, TPSProcedure&) {
                if (a.Count() == 3 && a.Item(1).ts32 == 0) {
                    comp.MakeError({}, ecCustomError, "Version 0");
                    return false;
                }
                return true;
            };
        comp.AddAttributeType("Marker");
        return true;
    };
}

TEST(compiler_declarations, attribute_lists_fill_the_fields_of_registered_attribute_types) {
    auto host = [](TPSPascalCompiler& c) { AttributeHost(c, false, false); };
    auto r = CompileScript("type [Version(2 + 1, 'x')] TR = record a: Byte; end;\n"
                           "[Marker()] procedure P; begin end; var v: TR; begin P; end.",
                           host);
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    const auto& attributes = r.Parsed.Types.at(r.Parsed.Vars.at(0).TypeNo).Attributes;
    ASSERT_EQ(attributes.size(), 1u);
    EXPECT_EQ(attributes[0].Name, "VERSION");
    ASSERT_EQ(attributes[0].Values.size(), 3u);
    EXPECT_EQ(attributes[0].Values[0].BaseType, btU32);  // filled automatically, zero
    EXPECT_EQ(attributes[0].Values[0].AsUnsigned(), 0u);
    EXPECT_EQ(attributes[0].Values[1].AsUnsigned(), 3u);
    // A one-character text is a Char constant, which a String field takes.
    EXPECT_EQ(attributes[0].Values[2].BaseType, btChar);
    const auto& marker = r.Parsed.ProcNamed("P").Attributes;
    ASSERT_EQ(marker.size(), 1u);
    EXPECT_EQ(marker[0].Name, "MARKER");
    EXPECT_TRUE(marker[0].Values.empty());

    struct Case {
        const char* text;
        const char* message;
    } cases[] = {
        {"[Nope(1)] procedure P; begin end; begin end.", "Unknown identifier 'Nope'"},
        {"[1] procedure P; begin end; begin end.", "Identifier expected"},
        {"[Version 1, 'a')] procedure P; begin end; begin end.", "opening parenthesis ('(')expected"},
        {"[Version('a', 'b')] procedure P; begin end; begin end.", "Type mismatch"},
        {"[Version(1 'b')] procedure P; begin end; begin end.", "comma (',') expected"},
        {"[Version(1, 'b', 3)] procedure P; begin end; begin end.", "Closing parenthesis expected"},
        {"[Version(1, 'b') procedure P; begin end; begin end.", "Closing square bracket (']') expected"},
    };
    for (const auto& c : cases) {
        r = CompileScript(c.text, host);
        EXPECT_FALSE(r.Ok) << c.text;
        EXPECT_TRUE(r.HasMessage(c.message)) << c.text << "\n" << r.AllMessages();
    }
}

TEST(compiler_declarations, attribute_hooks_can_refuse_a_declaration_with_a_message) {
    auto r = CompileScript("type [Version(1, 'ab')] T = Integer; begin end.",
                           [](TPSPascalCompiler& c) { AttributeHost(c, true, false); });
    EXPECT_FALSE(r.Ok);
    EXPECT_TRUE(r.HasMessage("Attribute 'Version' not accepted")) << r.AllMessages();
    auto refusing = [](TPSPascalCompiler& c) { AttributeHost(c, false, true); };
    r = CompileScript("[Version(0, 'ab')] procedure P; begin end; begin end.", refusing);
    EXPECT_FALSE(r.Ok);
    EXPECT_TRUE(r.HasMessage("Version 0")) << r.AllMessages();
    EXPECT_FALSE(r.HasMessage("not accepted")) << r.AllMessages();
    r = CompileScript("[Version(1, 'ab')] procedure P; forward; procedure P; begin end; begin P; end.", refusing);
    EXPECT_TRUE(r.Ok) << r.AllMessages();
}

}  // namespace
}  // namespace script::compiler
