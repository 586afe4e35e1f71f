#include <gtest/gtest.h>

#include "compiler_test_support.h"

namespace script::compiler {
namespace {
using testing::CompileScript;

// The instructions of the main block, each as disassembled text.
std::vector<std::string> MainLines(const testing::CompileResult& r) {
    return test_support::Disassemble(r.Parsed, r.Parsed.ProcNamed("!MAIN").Code);
}

int Count(const std::vector<std::string>& lines, const std::string& text) {
    int n = 0;
    for (const auto& l : lines) n += l == text ? 1 : 0;
    return n;
}

// Pushes (PushType) and pops (Pop) along the straight-line code must match
// for every procedure: temporaries never leak on the run stack.
void ExpectBalancedTemporaries(const testing::CompileResult& r, std::string_view proc, int locals) {
    int depth = 0;
    for (const auto& l : test_support::Disassemble(r.Parsed, r.Parsed.ProcNamed(proc).Code)) {
        if (l.rfind("PushType", 0) == 0) ++depth;
        if (l == "Pop") --depth;
    }
    EXPECT_EQ(depth, locals) << r.Code(proc);
}

TEST(compiler_statements, assignment_in_place_and_through_temporaries) {
    auto r = CompileScript("var x, y: Integer; d: Double; begin x := x + 1; d := x - y; x := y * 2 + x; end.");
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    const auto lines = MainLines(r);
    EXPECT_EQ(lines[0], "Calc + G0, #14:1");  // one Calc, no temporary
    // d := x - y is computed in an Integer temporary, then converted.
    EXPECT_EQ(lines[1], "PushType 14");
    EXPECT_EQ(lines[2], "Assign L0, G0");
    EXPECT_EQ(lines[3], "Calc - L0, G1");
    EXPECT_EQ(lines[4], "Assign G2, L0");
    EXPECT_EQ(lines[5], "Pop");
    ExpectBalancedTemporaries(r, "!MAIN", 0);

    r = CompileScript("var x: Integer; s: String; begin x := 'a'; end.");
    EXPECT_FALSE(r.Ok);
    EXPECT_TRUE(r.HasMessage("Type mismatch")) << r.AllMessages();
    r = CompileScript("var x: Integer; begin x; end.");
    EXPECT_FALSE(r.Ok);
    EXPECT_TRUE(r.HasMessage("Assignment expected")) << r.AllMessages();
    r = CompileScript("var x: Integer; begin x := 1 end.");
    EXPECT_TRUE(r.Ok) << r.AllMessages();
    r = CompileScript("var x: Integer; begin x := 1\n  x := 2; end.");
    EXPECT_FALSE(r.Ok);
    ASSERT_FALSE(r.Messages.empty());
    EXPECT_EQ(r.Messages[0], "[Error] (2:3): Semicolon (';') expected");
    r = CompileScript("var x: Integer; begin repeat x := 1 until x = 1; try x := 1 except x := 2 end; end.");
    EXPECT_TRUE(r.Ok) << r.AllMessages();
    r = CompileScript("var x: Integer; begin if x = 1 then x := 2; else x := 3; end.");
    EXPECT_FALSE(r.Ok);
    EXPECT_TRUE(r.HasMessage("Identifier expected")) << r.AllMessages();
}

TEST(compiler_statements, if_while_repeat_jump_to_the_right_places) {
    auto r = CompileScript("var x: Integer; begin if x > 3 then x := 1 else x := 2; end.");
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    auto lines = MainLines(r);
    ASSERT_EQ(lines.size(), 9u) << r.Code();
    EXPECT_EQ(lines[1], "Compare > L0, G0, #14:3");
    EXPECT_EQ(lines[2], "SetFlag L0 1");
    EXPECT_EQ(lines[3], "Pop");
    EXPECT_EQ(lines[4], "FlagGoto @7");
    EXPECT_EQ(lines[6], "Goto @8");

    r = CompileScript("var x: Integer; begin while x < 10 do begin x := x + 1; if x = 5 then break; end; end.");
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    lines = MainLines(r);
    // The loop's flag is popped after the loop; break lands on that Pop.
    const std::size_t popAt = lines.size() - 2;
    EXPECT_EQ(lines[popAt], "Pop");
    EXPECT_EQ(lines[2], "CondNotGoto @" + std::to_string(popAt) + " L0");
    EXPECT_EQ(Count(lines, "Goto @" + std::to_string(popAt)), 1) << r.Code();
    EXPECT_EQ(Count(lines, "Goto @1"), 1) << r.Code();  // back to the head

    r = CompileScript("var x: Integer; begin repeat x := x - 1; if x = 2 then continue; until x <= 0; end.");
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    lines = MainLines(r);
    EXPECT_EQ(lines[0], "PushType 2");
    EXPECT_EQ(lines[lines.size() - 3], "CondNotGoto @1 L0");
    ExpectBalancedTemporaries(r, "!MAIN", 0);
}

TEST(compiler_statements, for_loop_over_the_whole_range_of_its_counter_ends) {
    auto r = CompileScript("var b: Byte; x: Integer; begin for b := 0 to 255 do x := x + b; end.");
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    const auto lines = MainLines(r);
    ASSERT_EQ(lines.size(), 11u) << r.Code();
    EXPECT_EQ(lines[0], "Assign G0, #14:0");
    EXPECT_EQ(lines[2], "Compare <= L0, G0, #14:255");
    EXPECT_EQ(lines[3], "CondNotGoto @9 L0");
    EXPECT_EQ(lines[4], "Calc + G1, G0");
    // After the pass with the end value the loop stops before the counter
    // would wrap around to 0.
    EXPECT_EQ(lines[5], "Compare = L0, G0, #14:255");
    EXPECT_EQ(lines[6], "Inc G0");
    EXPECT_EQ(lines[7], "CondGoto @9 L0");
    EXPECT_EQ(lines[8], "Goto @4");
    EXPECT_EQ(lines[9], "Pop");

    r = CompileScript("var i: Integer; begin for i := 3 downto 1 do ; end.");
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    EXPECT_NE(r.Code().find("Compare >= L0, G0, #14:1"), std::string::npos) << r.Code();
    EXPECT_NE(r.Code().find("Dec G0"), std::string::npos) << r.Code();

    r = CompileScript("var s: String; begin for s := 1 to 2 do ; end.");
    EXPECT_FALSE(r.Ok);
    EXPECT_TRUE(r.HasMessage("Type mismatch")) << r.AllMessages();
    r = CompileScript("var i: Integer; begin for i := 1 do ; end.");
    EXPECT_FALSE(r.Ok);
    EXPECT_TRUE(r.HasMessage("'TO' expected")) << r.AllMessages();
}

TEST(compiler_statements, loop_exits_pop_exactly_what_case_and_with_pushed) {
    auto r = CompileScript(
        "var i, j: Integer; begin for i := 1 to 3 do case i of 1: case j of 2: break; end; end; end.");
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    auto lines = MainLines(r);
    // Two nested case statements: four temporaries to pop before the jump.
    std::size_t breakAt = 0;
    for (std::size_t k = 0; k + 4 < lines.size(); ++k)
        if (lines[k] == "Pop" && lines[k + 1] == "Pop" && lines[k + 2] == "Pop" && lines[k + 3] == "Pop" &&
            lines[k + 4].rfind("Goto", 0) == 0)
            breakAt = k;
    ASSERT_NE(breakAt, 0u) << r.Code();
    EXPECT_NE(lines[breakAt - 1], "Pop") << r.Code();
    EXPECT_EQ(lines[breakAt + 4], "Goto @" + std::to_string(lines.size() - 2)) << r.Code();
    EXPECT_EQ(Count(lines, "Pop2Goto"), 0);

    r = CompileScript(
        "type TR = record a: Integer; end; var r1, r2: TR; i: Integer; "
        "begin while i > 0 do with r1, r2 do begin a := 1; continue; end; end.");
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    lines = MainLines(r);
    // One pointer per named variable is popped before continuing.
    std::size_t contAt = 0;
    for (std::size_t k = 0; k < lines.size(); ++k)
        if (lines[k] == "Goto @1" && k >= 2 && lines[k - 1] == "Pop" && lines[k - 2] == "Pop") contAt = k;
    ASSERT_NE(contAt, 0u) << r.Code();
    EXPECT_NE(lines[contAt - 3], "Pop") << r.Code();
    // The field resolves through the innermost with-variable (r2).
    EXPECT_NE(r.Code().find("Assign L2[0], #14:1"), std::string::npos) << r.Code();

    r = CompileScript("var i: Integer; begin while i > 0 do try break; finally i := 0; end; end.");
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    EXPECT_NE(r.Code().find("PopExceptionHandler 0\nPopExceptionHandler 1\nGoto"), std::string::npos) << r.Code();
}

TEST(compiler_statements, case_labels_ranges_and_else) {
    auto r = CompileScript(
        "var i: Integer; begin case i of 1: i := 2; 3..5, 7: i := 0; else i := 9; end; end.");
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    const std::string code = r.Code();
    EXPECT_NE(code.find("Compare >= L1, L0, #14:3"), std::string::npos) << code;
    EXPECT_NE(code.find("Calc and L1, L2"), std::string::npos) << code;
    EXPECT_NE(code.find("Calc or L1, L2"), std::string::npos) << code;
    ExpectBalancedTemporaries(r, "!MAIN", 0);
    r = CompileScript("var i: Integer; begin case i 1: ; end; end.");
    EXPECT_FALSE(r.Ok);
    EXPECT_TRUE(r.HasMessage("'OF' expected")) << r.AllMessages();
}

TEST(compiler_statements, labels_and_gotos) {
    auto r = CompileScript("label L1; var i: Integer; begin goto L1; i := 1; L1: i := 2; end.");
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    const auto lines = MainLines(r);
    EXPECT_EQ(lines[0], "Goto @2");

    r = CompileScript("label L1; begin goto L1; end.");
    EXPECT_FALSE(r.Ok);
    EXPECT_TRUE(r.HasMessage("Label 'L1' not set")) << r.AllMessages();
    r = CompileScript("label L1; var i: Integer; begin goto L1; while i > 0 do begin L1: i := 0; end; end.");
    EXPECT_FALSE(r.Ok);
    EXPECT_TRUE(r.HasMessage("Invalid jump")) << r.AllMessages();
    r = CompileScript("begin goto Nowhere; end.");
    EXPECT_FALSE(r.Ok);
    EXPECT_TRUE(r.HasMessage("Unknown identifier 'Nowhere'")) << r.AllMessages();
}

TEST(compiler_statements, try_sections_record_their_offsets) {
    auto r = CompileScript("var i: Integer; begin try i := 1; except i := 2; finally i := 3; end; end.");
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    const auto ins = test_support::DecodeCode(r.Parsed, r.Parsed.ProcNamed("!MAIN").Code);
    ASSERT_EQ(ins[0].Opcode, opPushExceptionHandler);
    const std::uint32_t base = ins[0].End;
    EXPECT_EQ(ins[0].HandlerOffsets[0], kNoHandlerOffset);
    EXPECT_EQ(base + ins[0].HandlerOffsets[1], ins[3].Pos);  // except section
    EXPECT_EQ(base + ins[0].HandlerOffsets[2], ins[5].Pos);  // second finally
    EXPECT_EQ(base + ins[0].HandlerOffsets[3], ins[7].Pos);  // after the statement
    EXPECT_EQ(test_support::InstructionText(ins[2], ins), "PopExceptionHandler 0");
    EXPECT_EQ(test_support::InstructionText(ins[4], ins), "PopExceptionHandler 2");
    EXPECT_EQ(test_support::InstructionText(ins[6], ins), "PopExceptionHandler 3");

    r = CompileScript("begin try except end.");
    EXPECT_FALSE(r.Ok);
}

TEST(compiler_statements, procedures_functions_forward_and_locals) {
    auto r = CompileScript(
        "procedure P; forward;\n"
        "function Sum(x, y: Integer): Integer; var t: Integer; begin t := x; Result := t + y; end;\n"
        "procedure P; var unused: Byte; begin Sum(1, 2); end;\n"
        "function NoResult: Integer; begin end;\n"
        "begin P; end.");
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    EXPECT_EQ(r.Code("SUM"), "PushType 14\nAssign L0, P1\nAssign P0, L0\nCalc + P0, P2\nRet");
    EXPECT_TRUE(r.HasMessage("[Hint] (3:18): Variable 'unused' never used")) << r.AllMessages();
    EXPECT_TRUE(r.HasMessage("[Hint] (4:10): Variable 'Result' never used")) << r.AllMessages();
    // A function used as a statement: result in a temporary, popped after.
    EXPECT_NE(r.Code("P").find("PushType 14\nPushType 14\nAssign L2, #14:2\nPushType 14\nAssign L3, #14:1\nPushVar L1"),
              std::string::npos)
        << r.Code("P");
    EXPECT_EQ(r.Parsed.ProcNamed("SUM").ExportDecl, "14 @14 @14");

    r = CompileScript("procedure P(a: Integer); forward; procedure P(a: Byte); begin end; begin end.");
    EXPECT_FALSE(r.Ok);
    EXPECT_TRUE(r.HasMessage("Forward Parameter Mismatch")) << r.AllMessages();
    r = CompileScript("procedure P; external 'x'; begin end.");
    EXPECT_FALSE(r.Ok);
    EXPECT_TRUE(r.HasMessage("External procedures are not supported")) << r.AllMessages();
    r = CompileScript("procedure P; begin Result := 1; end; begin end.");
    EXPECT_FALSE(r.Ok);
    EXPECT_TRUE(r.HasMessage("Unknown identifier 'Result'")) << r.AllMessages();
    r = CompileScript("procedure P(a, a: Integer); begin end; begin end.");
    EXPECT_FALSE(r.Ok);
    EXPECT_TRUE(r.HasMessage("Duplicate identifier 'a'")) << r.AllMessages();
    r = CompileScript("var x: Integer; procedure X; begin end; begin end.");
    EXPECT_FALSE(r.Ok);
    EXPECT_TRUE(r.HasMessage("Duplicate identifier 'X'")) << r.AllMessages();
}

}  // namespace
}  // namespace script::compiler
