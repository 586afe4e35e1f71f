#include <gtest/gtest.h>

#include <cstring>

#include "compiler_test_support.h"

namespace script::compiler {
namespace {
using testing::CompileScript;

// Compiles "const C = <expr>; var v: <type>; begin v := C; end." and answers
// the constant operand that the assignment writes.
struct Folded {
    bool Ok = false;
    std::string Operand;
    std::string Messages;
};

Folded FoldConst(const std::string& expr, const std::string& type = "Integer") {
    auto r = CompileScript("const C = " + expr + "; var v: " + type + "; begin v := C; end.");
    Folded f;
    f.Ok = r.Ok;
    f.Messages = r.AllMessages();
    if (r.Ok) {
        const auto ins = test_support::DecodeCode(r.Parsed, r.Parsed.ProcNamed("!MAIN").Code);
        if (!ins.empty() && ins[0].Operands.size() == 2) f.Operand = test_support::OperandText(ins[0].Operands[1]);
    }
    return f;
}

std::string Value(const std::string& operand) { return operand.substr(operand.find(':') + 1); }

TEST(compiler_constants, integer_folding_wraps_and_masks_like_the_runtime) {
    EXPECT_EQ(Value(FoldConst("7 / 2").Operand), "3");
    EXPECT_EQ(Value(FoldConst("7 div 2").Operand), "3");
    EXPECT_EQ(Value(FoldConst("1 shl 33").Operand), "2");
    EXPECT_EQ(Value(FoldConst("not 5").Operand), "-6");
    EXPECT_EQ(Value(FoldConst("2 + 3 * 4").Operand), "14");
    EXPECT_EQ(Value(FoldConst("(2 + 3) * 4").Operand), "20");
    EXPECT_EQ(Value(FoldConst("-1 shr 1").Operand), "0");
    EXPECT_EQ(Value(FoldConst("-7 mod 3").Operand), "-1");
    EXPECT_EQ(Value(FoldConst("2147483647 + 1").Operand), "-2147483648");
    EXPECT_EQ(Value(FoldConst("$FFFFFFFF + 1", "Cardinal").Operand), "0");
    EXPECT_EQ(Value(FoldConst("5000000000 + 1", "Int64").Operand), "5000000001");
    EXPECT_EQ(Value(FoldConst("5000000000 shl 65", "Int64").Operand), "10000000000");
    EXPECT_EQ(Value(FoldConst("(1 = 1) and (2 = 2)", "Boolean").Operand), "1");
    EXPECT_EQ(Value(FoldConst("(1 = 1) xor (2 = 2)", "Boolean").Operand), "0");
}

TEST(compiler_constants, faults_while_folding_are_errors) {
    auto f = FoldConst("5 div 0");
    EXPECT_FALSE(f.Ok);
    EXPECT_NE(f.Messages.find("Divide by Zero"), std::string::npos) << f.Messages;
    f = FoldConst("5 mod 0");
    EXPECT_NE(f.Messages.find("Divide by Zero"), std::string::npos) << f.Messages;
    f = FoldConst("1.5 / 0.0", "Extended");
    EXPECT_NE(f.Messages.find("Divide by Zero"), std::string::npos) << f.Messages;
    f = FoldConst("(-2147483647 - 1) div -1");
    EXPECT_FALSE(f.Ok);
    EXPECT_NE(f.Messages.find("Math Error"), std::string::npos) << f.Messages;
    f = FoldConst("(-2147483647 - 1) mod -1");
    EXPECT_FALSE(f.Ok);
    f = FoldConst("(-9223372036854775807 - 1) div -1", "Int64");
    EXPECT_FALSE(f.Ok);
    f = FoldConst("1.0e4000 * 1.0e4000", "Extended");
    EXPECT_FALSE(f.Ok);
    EXPECT_NE(f.Messages.find("Error"), std::string::npos) << f.Messages;
    f = FoldConst("not (1 = 1)", "Boolean");
    EXPECT_FALSE(f.Ok);
    EXPECT_NE(f.Messages.find("Type mismatch"), std::string::npos) << f.Messages;
    f = FoldConst("'a' < 'b'", "Boolean");
    EXPECT_FALSE(f.Ok);
    f = FoldConst("Foo + 1");
    EXPECT_NE(f.Messages.find("Unknown identifier 'Foo'"), std::string::npos) << f.Messages;
}

TEST(compiler_constants, literals_choose_their_type_and_reject_what_does_not_fit) {
    auto r = CompileScript("var a: Int64; begin a := 2147483647; a := 2147483648; a := 4294967296; a := $FFFFFFFF; end.");
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    const auto ins = test_support::DecodeCode(r.Parsed, r.Parsed.ProcNamed("!MAIN").Code);
    ASSERT_GE(ins.size(), 4u);
    EXPECT_EQ(ins[0].Operands[1].Constant.BaseType, btS32);
    EXPECT_EQ(ins[1].Operands[1].Constant.BaseType, btU32);
    EXPECT_EQ(ins[2].Operands[1].Constant.BaseType, btS64);
    EXPECT_EQ(ins[3].Operands[1].Constant.BaseType, btU32);

    r = CompileScript("var a: Int64; begin a := 99999999999999999999; end.");
    EXPECT_FALSE(r.Ok);
    EXPECT_TRUE(r.HasMessage("99999999999999999999")) << r.AllMessages();
    r = CompileScript("var a: Int64; begin a := $1FFFFFFFFFFFFFFFF; end.");
    EXPECT_FALSE(r.Ok);
    EXPECT_TRUE(r.HasMessage("$1FFFFFFFFFFFFFFFF")) << r.AllMessages();
    r = CompileScript("const C = 18446744073709551616; begin end.");
    EXPECT_FALSE(r.Ok);
}

TEST(compiler_constants, string_and_char_literals) {
    auto f = FoldConst("'it''s'", "String");
    EXPECT_EQ(f.Operand.substr(f.Operand.find(':') + 1), "'it's'");
    f = FoldConst("''''", "Char");
    EXPECT_EQ(Value(f.Operand), std::to_string('\''));
    f = FoldConst("#$41", "Char");
    EXPECT_EQ(Value(f.Operand), "65");
    f = FoldConst("#65#66", "String");
    EXPECT_EQ(Value(f.Operand), "'AB'");
    f = FoldConst("'a'#13#10'b'", "String");
    EXPECT_EQ(Value(f.Operand), "'a\r\nb'");
    f = FoldConst("'a' + 'b'", "String");
    EXPECT_EQ(Value(f.Operand), "'ab'");
    f = FoldConst("'ab' + 'c'", "String");
    EXPECT_EQ(Value(f.Operand), "'abc'");
    f = FoldConst("#321", "Char");  // modulo 256
    EXPECT_EQ(Value(f.Operand), "65");

    f = FoldConst("'a' 'b'", "String");
    EXPECT_FALSE(f.Ok);
    EXPECT_NE(f.Messages.find("Syntax error"), std::string::npos) << f.Messages;
    f = FoldConst("#", "Char");
    EXPECT_FALSE(f.Ok);
    EXPECT_NE(f.Messages.find("Char error"), std::string::npos) << f.Messages;
    f = FoldConst("#$", "Char");
    EXPECT_FALSE(f.Ok);
    EXPECT_NE(f.Messages.find("Char error"), std::string::npos) << f.Messages;
}

TEST(compiler_constants, reals_currency_and_sets_fold) {
    auto r = CompileScript(
        "const A = 7 / 2.0; BIG = 5000000000 + 0.5; var e: Extended; b: Boolean; "
        "begin e := A; e := BIG; b := 1.5 > 1; end.");
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    const auto ins = test_support::DecodeCode(r.Parsed, r.Parsed.ProcNamed("!MAIN").Code);
    ASSERT_GE(ins.size(), 3u);
    auto extended = [](const test_support::PSConstant& c) {
        long double v = 0;
        std::memcpy(&v, c.Bytes.data(), 10);
        return v;
    };
    EXPECT_EQ(ins[0].Operands[1].Constant.BaseType, btExtended);
    EXPECT_EQ(extended(ins[0].Operands[1].Constant), 3.5L);
    EXPECT_EQ(extended(ins[1].Operands[1].Constant), 5000000000.5L);
    EXPECT_EQ(ins[2].Operands[1].Constant.AsUnsigned(), 1u);

    r = CompileScript("type TS = set of Byte; var s: TS; b: Boolean; begin s := [1, 2, 9]; b := 2 in [1, 2]; end.");
    ASSERT_TRUE(r.Ok) << r.AllMessages();
    EXPECT_NE(r.Code().find("Assign G0, #"), std::string::npos) << r.Code();
}

}  // namespace
}  // namespace script::compiler
