#include <gtest/gtest.h>

#include "compiler_test_support.h"
#include "script/compiler/image_writer.h"

namespace script::compiler {
namespace {
using testing::CompileScript;
using testing::PluginHostSettings;

TEST(compiler_driver, empty_main_block_compiles_to_standard_types_and_one_ret) {
    auto r = CompileScript("begin end.");
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    EXPECT_EQ(r.Parsed.Build, 23u);
    ASSERT_EQ(r.Parsed.Procs.size(), 1u);
    EXPECT_EQ(r.Parsed.Procs[0].Code, std::string(1, '\x09'));
    EXPECT_EQ(r.Parsed.Procs[0].ExportName, "!MAIN");
    EXPECT_EQ(r.Parsed.MainProc, 0u);
    EXPECT_EQ(r.Image.substr(0, 4), "VSCR");
    EXPECT_TRUE(r.Parsed.Vars.empty());
    // ___Pointer is numbered as it is declared; then Byte, Boolean (with its
    // export name), LongBool, WordBool, ByteBool, Char, the four strings ...
    ASSERT_GE(r.Parsed.Types.size(), 25u);
    EXPECT_EQ(r.Parsed.Types[0].BaseType, btPointer);
    EXPECT_EQ(r.Parsed.Types[1].BaseType, btU8);
    EXPECT_EQ(r.Parsed.Types[2].BaseType, btU8);
    EXPECT_TRUE(r.Parsed.Types[2].HasExportName);
    EXPECT_EQ(r.Parsed.Types[2].ExportName, "BOOLEAN");
    EXPECT_EQ(r.Parsed.Types[3].BaseType, btU32);  // LongBool
    EXPECT_EQ(r.Parsed.Types[4].BaseType, btU16);  // WordBool
    EXPECT_EQ(r.Parsed.Types[6].BaseType, btChar);
}

TEST(compiler_driver, messages_carry_row_column_and_exact_text) {
    auto r = CompileScript("var a: Integer\nbegin end.");
    EXPECT_FALSE(r.Ok);
    ASSERT_FALSE(r.Messages.empty());
    EXPECT_EQ(r.Messages[0], "[Error] (2:1): Semicolon (';') expected");

    r = CompileScript("begin\n  x := 1;\nend.");
    EXPECT_FALSE(r.Ok);
    ASSERT_FALSE(r.Messages.empty());
    EXPECT_EQ(r.Messages[0], "[Error] (2:3): Unknown identifier 'x'");

    r = CompileScript("begin Break; end.");
    EXPECT_FALSE(r.Ok);
    EXPECT_TRUE(r.HasMessage("Not in a loop")) << r.AllMessages();

    r = CompileScript("procedure P; forward;\nbegin end.");
    EXPECT_FALSE(r.Ok);
    EXPECT_TRUE(r.HasMessage("Unsatisfied Forward P")) << r.AllMessages();

    r = CompileScript("begin");
    EXPECT_FALSE(r.Ok);
    EXPECT_TRUE(r.HasMessage("Unexpected end of file")) << r.AllMessages();

    r = CompileScript("var s: string;\nbegin s := 'abc; end.");
    EXPECT_FALSE(r.Ok);
    ASSERT_FALSE(r.Messages.empty());
    EXPECT_EQ(r.Messages[0], "[Error] (2:12): String error");
    r = CompileScript("begin { never closed end.");
    EXPECT_FALSE(r.Ok);
    EXPECT_TRUE(r.HasMessage("Comment error")) << r.AllMessages();

    r = CompileScript("var a: Integer;");
    EXPECT_FALSE(r.Ok);
    EXPECT_TRUE(r.HasMessage("Unexpected end of file")) << r.AllMessages();
}

// A message stands at the current token; only a by-reference argument, a
// set element of the wrong type and the operand of a constant Boolean
// warning are reported where they stand in the text.
TEST(compiler_driver, messages_stand_at_the_current_token_unless_an_argument_or_element_is_meant) {
    const std::string decls =
        "type TBytes = set of Byte;\n"
        "var i: Integer; b: Byte; s: string; bs: TBytes;\n"
        "procedure P; begin end;\n"
        "procedure ByRef(var t: string); begin end;\n"
        "procedure ByValue(t: string); begin end;\n";
    struct Case {
        const char* statement;  // on row 7, after "begin" on row 6
        const char* message;
    };
    for (const Case& c : {
             // An assignment of a value of another type: at the ";".
             Case{"  i := 'x';", "[Error] (7:11): Type mismatch"},
             Case{"  s := i + 1;", "[Error] (7:13): Type mismatch"},
             // A procedure used as a value.
             Case{"  i := P;", "[Error] (7:9): No result"},
             // A by-value argument that does not fit is checked as an
             // assignment when the call is written, after the whole call.
             Case{"  ByValue(i);", "[Error] (7:13): Type mismatch"},
             // By reference: at the argument.
             Case{"  ByRef(i);", "[Error] (7:9): Type mismatch"},
             Case{"  ByRef('a');", "[Error] (7:9): Variable Expected"},
             // Set constructors: an element of another type where it stands,
             // one that is not a constant at the current token.
             Case{"  bs := [1, 'a'];", "[Error] (7:13): Type mismatch"},
             Case{"  bs := [1, b];", "[Error] (7:15): Type mismatch"},
             // nil for a parameter without a type: no type can be known.
             Case{"  i := Length(nil);", "[Error] (7:19): Type mismatch"},
         }) {
        auto r = CompileScript(decls + "begin\n" + c.statement + "\nend.");
        EXPECT_FALSE(r.Ok) << c.statement;
        EXPECT_TRUE(r.HasMessage(c.message)) << c.statement << "\n" << r.AllMessages();
    }
    // The warning about a constant operand stands at the left operand.
    auto r = CompileScript(decls + "begin\n  if True and (i > 0) then;\nend.");
    EXPECT_TRUE(r.Ok) << r.AllMessages();
    EXPECT_TRUE(r.HasMessage("[Warning] (7:6): True and is not needed")) << r.AllMessages();
}

TEST(compiler_driver, registration_outside_a_compilation_raises) {
    TPSPascalCompiler c;
    try {
        c.AddFunction("procedure X;");
        FAIL() << "no exception";
    } catch (const EPSCompilerException& e) {
        EXPECT_EQ(e.Message, "This function can only be called from within the OnUses event");
    }
    EXPECT_THROW(c.AddTypeS("T", "Integer"), EPSCompilerException);
    EXPECT_THROW(c.AddUsedVariableN("V", "String"), EPSCompilerException);
    EXPECT_EQ(c.FindType("Integer"), nullptr);
    std::string image;
    EXPECT_FALSE(c.GetOutput(image));
}

TEST(compiler_driver, registration_failures_raise_with_their_texts) {
    auto expectThrow = [](const std::function<void(TPSPascalCompiler&)>& call, const std::string& text) {
        TPSPascalCompiler c;
        c.OnUses = [&](TPSPascalCompiler& comp, const std::string&) {
            call(comp);
            return true;
        };
        try {
            c.Compile("begin end.");
            ADD_FAILURE() << "no exception for " << text;
        } catch (const EPSCompilerException& e) {
            EXPECT_EQ(e.Message, text);
        }
        // The compiler is usable again afterwards.
        c.OnUses = nullptr;
        EXPECT_TRUE(c.Compile("begin end."));
    };
    expectThrow([](TPSPascalCompiler& c) { c.AddFunction("function F(x: TNoSuchType): Integer;"); },
                "Unable to register function function F(x: TNoSuchType): Integer;");
    expectThrow([](TPSPascalCompiler& c) { c.AddConstantN("K", "TNoSuchType"); }, "Unable to register constant K");
    expectThrow([](TPSPascalCompiler& c) { c.AddVariableN("V", "TNoSuchType"); }, "Invalid type for variable V");
    expectThrow([](TPSPascalCompiler& c) { c.AddTypeCopyN("T", "TNoSuchType"); }, "Invalid Type");
    expectThrow([](TPSPascalCompiler& c) { c.AddTypeS("T", "array of"); }, "Unable to register type T");
    expectThrow([](TPSPascalCompiler& c) { c.FindInterface("IFoo"); }, "Unknown interface: IFoo");
    expectThrow(
        [](TPSPascalCompiler& c) {
            c.AddUsedVariableN("V", "String");
            c.AddUsedVariableN("v", "String");
        },
        "Duplicate identifier 'v'");
}

TEST(compiler_driver, host_registrations_are_usable_and_discarded_after_the_compilation) {
    TPSPascalCompiler c;
    int calls = 0;
    c.OnUses = [&](TPSPascalCompiler& comp, const std::string& name) {
        ++calls;
        EXPECT_EQ(name, "SYSTEM");
        comp.AddFunctionByDecl("function Twice(x: Integer): Integer");
        comp.AddTypeS("TColor", "(Red, Green, Blue)");
        comp.AddConstantN("Answer", "Integer")->Value->ts32 = 42;
        comp.AddUsedVariableN("TD", "String");
        return true;
    };
    ASSERT_TRUE(c.Compile("var c: TColor; begin c := Blue; TD := IntToStr(Twice(Answer)); end."));
    EXPECT_EQ(calls, 1);
    std::string image;
    ASSERT_TRUE(c.GetOutput(image));
    const auto parsed = test_support::ReadImage(image);
    ASSERT_EQ(parsed.Vars.size(), 2u);
    EXPECT_TRUE(parsed.Vars[0].Exported);
    EXPECT_EQ(parsed.Vars[0].ExportName, "TD");
    bool foundTwice = false;
    for (const auto& p : parsed.Procs)
        if (p.External && p.Name == "TWICE") foundTwice = true;
    EXPECT_TRUE(foundTwice);
    EXPECT_EQ(c.FindType("TColor"), nullptr);  // gone after the compilation
}

TEST(compiler_driver, main_block_options_and_failed_output) {
    auto r = CompileScript("var x: Integer; end.");
    EXPECT_FALSE(r.Ok);
    EXPECT_TRUE(r.HasMessage("'BEGIN' expected")) << r.AllMessages();
    r = CompileScript("var x: Integer; end.", [](TPSPascalCompiler& c) { c.AllowEndWithoutBegin = true; });
    EXPECT_TRUE(r.Ok) << r.AllMessages();
    r = CompileScript("var x: Integer;", [](TPSPascalCompiler& c) { c.AllowNoMainBlock = true; });
    EXPECT_TRUE(r.Ok) << r.AllMessages();
    EXPECT_TRUE(r.HasMessage("[Hint] (1:5): Variable 'x' never used")) << r.AllMessages();

    TPSPascalCompiler c;
    EXPECT_FALSE(c.Compile("begin x; end."));
    std::string image = "unchanged";
    EXPECT_FALSE(c.GetOutput(image));
    EXPECT_EQ(image, "unchanged");
    EXPECT_TRUE(c.Compile("program P; begin end."));
    EXPECT_TRUE(c.GetOutput(image));
}

TEST(compiler_driver, uses_clause_asks_the_host_and_refuses_unknown_units) {
    auto r = CompileScript("uses Foo; begin end.", PluginHostSettings);
    EXPECT_FALSE(r.Ok);
    EXPECT_TRUE(r.HasMessage("Unknown unit 'Foo'")) << r.AllMessages();
    r = CompileScript("uses System; begin end.", PluginHostSettings);
    EXPECT_FALSE(r.Ok);
    EXPECT_TRUE(r.HasMessage("Duplicate identifier 'System'")) << r.AllMessages();
    r = CompileScript("uses Extra; begin end.", [](TPSPascalCompiler& c) {
        c.OnUses = [](TPSPascalCompiler& comp, const std::string& name) {
            if (name == "EXTRA") comp.AddFunctionByDecl("procedure FromExtra");
            return true;
        };
    });
    EXPECT_TRUE(r.Ok) << r.AllMessages();
}

TEST(compiler_driver, export_check_refuses_events_with_parameters) {
    auto r = CompileScript("procedure OnSend; begin end; procedure Other(x: Integer); begin end;",
                           PluginHostSettings);
    EXPECT_TRUE(r.Ok) << r.AllMessages();
    r = CompileScript("function OnSend: Integer; begin Result := 1; end;", PluginHostSettings);
    EXPECT_FALSE(r.Ok);
    EXPECT_TRUE(r.HasMessage("Type mismatch")) << r.AllMessages();
    r = CompileScript("procedure onreceive(s: string); begin end;", PluginHostSettings);
    EXPECT_FALSE(r.Ok);

    std::string seen;
    r = CompileScript("function F(a: Byte; var s: String): Integer; begin Result := a; end; begin end.",
                      [&](TPSPascalCompiler& c) {
                          c.OnExportCheck = [&](TPSPascalCompiler&, TPSInternalProcedure&, const std::string& decl) {
                              seen = decl;
                              return true;
                          };
                      });
    EXPECT_TRUE(r.Ok) << r.AllMessages();
    EXPECT_EQ(seen, "LONGINT @BYTE !STRING");
}

TEST(compiler_driver, deep_nesting_is_an_error_not_a_crash) {
    std::string expr(5000, '(');
    expr += "1";
    expr += std::string(5000, ')');
    auto r = CompileScript("var x: Integer; begin x := " + expr + "; end.");
    EXPECT_FALSE(r.Ok);
    EXPECT_TRUE(r.HasMessage("Expression nested too deeply")) << r.AllMessages();

    std::string blocks;
    for (int i = 0; i < 5000; ++i) blocks += "begin ";
    for (int i = 0; i < 5000; ++i) blocks += "end; ";
    r = CompileScript("begin " + blocks + "end.");
    EXPECT_FALSE(r.Ok);
    EXPECT_TRUE(r.HasMessage("Statements nested too deeply")) << r.AllMessages();

    // A chain of operators at one level is no nesting: it compiles.
    std::string chain = "x";
    for (int i = 0; i < 20000; ++i) chain += " + x";
    r = CompileScript("var x: Integer; begin x := " + chain + "; end.");
    EXPECT_TRUE(r.Ok) << r.AllMessages();
    // A chain of element reads is computed one temporary inside the other:
    // that still counts as depth.
    std::string elements = "a[0]";
    for (int i = 0; i < 5000; ++i) elements += " + a[0]";
    r = CompileScript("var x: Integer; a: array[0..1] of Integer; begin x := " + elements + "; end.");
    EXPECT_FALSE(r.Ok);
    EXPECT_TRUE(r.HasMessage("Expression nested too deeply")) << r.AllMessages();

    std::string ifs;
    for (int i = 0; i < 5000; ++i) ifs += "if x = 1 then ";
    r = CompileScript("var x: Integer; begin " + ifs + "x := 2; end.");
    EXPECT_FALSE(r.Ok);
}

}  // namespace
}  // namespace script::compiler

namespace script::compiler {
namespace {

TEST(compiler_driver, statement_positions_are_translated_into_the_debug_text) {
    TPSPascalCompiler c;
    std::vector<std::uint32_t> rows;
    c.OnTranslateLineInfo = [&](TPSPascalCompiler&, std::uint32_t&, std::uint32_t& row, std::uint32_t&,
                                std::string& module) {
        rows.push_back(row);
        module = "lib.inc";
        row += 100;
    };
    ASSERT_TRUE(c.Compile("var x: Integer;\nbegin\n  x := 1;\n  x := 2;\nend."));
    EXPECT_EQ(rows, (std::vector<std::uint32_t>{3, 4}));
    const std::string& debug = c.DebugText();
    EXPECT_NE(debug.find("lib.inc"), std::string::npos);
    // The first position record: procedure 0, code offset 0, translated row 103.
    const std::size_t at = debug.find('P', debug.find("x\1"));
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(ReadLongAt(debug, static_cast<std::uint32_t>(at + 1)), 0u);
    EXPECT_EQ(ReadLongAt(debug, static_cast<std::uint32_t>(at + 5)), 0u);
    EXPECT_EQ(ReadLongAt(debug, static_cast<std::uint32_t>(at + 13)), 103u);
}

}  // namespace
}  // namespace script::compiler
