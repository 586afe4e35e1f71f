#include "script/compiler/messages.h"

#include <gtest/gtest.h>

#include "script/compiler/tokenizer.h"

namespace script::compiler {
namespace {

TEST(messages, render_kind_module_position_and_text) {
    TPSPascalCompilerError error(ecSemicolonExpected);
    error.SetCustomPos(100, 12, 5);
    EXPECT_EQ(error.MessageToString(), "[Error] (12:5): Semicolon (';') expected");
    EXPECT_EQ(error.Pos(), 100u);

    TPSPascalCompilerHint hint(ehVariableNotUsed, "COUNTER");
    hint.SetCustomPos(0, 3, 7);
    hint.SetModuleName("lib.inc");
    EXPECT_EQ(hint.MessageToString(), "[Hint] lib.inc(3:7): Variable 'COUNTER' never used");

    TPSPascalCompilerWarning warning(ewCalculationAlwaysEvaluatesTo, "True");
    warning.SetCustomPos(0, 1, 1);
    EXPECT_EQ(warning.MessageToString(), "[Warning] (1:1): Calculation always evaluates to True");
}

TEST(messages, every_error_code_has_its_exact_text) {
    const char* expected[] = {
        "Unknown identifier 'P'", "Identifier expected", "Comment error", "String error",
        "Char error", "Syntax error", "Unexpected end of file", "Semicolon (';') expected",
        "'BEGIN' expected", "period ('.') expected", "Duplicate identifier 'P'",
        "colon (':') expected", "Unknown type 'P'", "Closing parenthesis expected",
        "Type mismatch", "Internal error (P)", "Assignment expected", "'THEN' expected",
        "'DO' expected", "No result", "opening parenthesis ('(')expected", "comma (',') expected",
        "'TO' expected", "is ('=') expected", "'OF' expected",
        "Closing square bracket (']') expected", "Variable Expected", "String Expected",
        "'END' expected", "Label 'P' not set", "Not in a loop", "Invalid jump",
        "Opening square brackets ('[') expected", "Write-only property", "Read-only property",
        "Class type expected", "P", "Divide by Zero", "Math Error", "Unsatisfied Forward P",
        "Forward Parameter Mismatch", "Invalid number of parameters",
    };
    static_assert(std::size(expected) == 42);
    for (std::uint8_t code = 0; code < 42; ++code) {
        EXPECT_EQ(TPSPascalCompilerError(code, "P").ShortMessage(), expected[code]) << int(code);
    }
    EXPECT_EQ(TPSPascalCompilerError(42, "P").ShortMessage(), "Unknown error");
    EXPECT_EQ(TPSPascalCompilerError(255).ShortMessage(), "Unknown error");
}

TEST(messages, hint_and_warning_codes_and_custom_texts) {
    EXPECT_EQ(TPSPascalCompilerHint(ehFunctionNotUsed, "F").ShortMessage(), "Function 'F' never used");
    EXPECT_EQ(TPSPascalCompilerHint(ehCustomHint, "free text").ShortMessage(), "free text");
    EXPECT_EQ(TPSPascalCompilerHint(5).ShortMessage(), "Unknown hint");
    EXPECT_EQ(TPSPascalCompilerWarning(ewIsNotNeeded, "X").ShortMessage(), "X is not needed");
    EXPECT_EQ(TPSPascalCompilerWarning(ewAbstractClass).ShortMessage(), "Abstract Class Construction");
    EXPECT_EQ(TPSPascalCompilerWarning(ewCustomWarning, "mine").ShortMessage(), "mine");
    EXPECT_EQ(TPSPascalCompilerWarning(9).ShortMessage(), "Unknown warning");
    // A parameter holding "%s" is inserted literally, never expanded again.
    EXPECT_EQ(TPSPascalCompilerError(ecUnknownIdentifier, "%s%d").ShortMessage(),
              "Unknown identifier '%s%d'");
    EXPECT_EQ(TPSPascalCompilerError(ecCustomError, "100%").ShortMessage(), "100%");
}

TEST(messages, parser_position_is_the_current_token_start) {
    TPSPascalParser parser;
    parser.SetText("begin\r\n  x := 1;");
    parser.Next();  // X
    TPSPascalCompilerError error(ecUnknownIdentifier, "X");
    error.SetParserPos(parser);
    EXPECT_EQ(error.Pos(), 9u);
    EXPECT_EQ(error.MessageToString(), "[Error] (2:3): Unknown identifier 'X'");
}

TEST(messages, lexical_error_kinds_map_to_error_codes) {
    EXPECT_EQ(LexErrorToErrorCode(lekUnterminatedComment), ecCommentError);
    EXPECT_EQ(LexErrorToErrorCode(lekUnterminatedString), ecStringError);
    EXPECT_EQ(LexErrorToErrorCode(lekBadCharLiteral), ecCharError);
    EXPECT_EQ(LexErrorToErrorCode(lekInvalidChar), ecSyntaxError);
}

TEST(messages, format_text_fills_placeholders_in_order) {
    EXPECT_EQ(FormatText(kUnableToFindFile, {"a.inc", "main.pas"}),
              "Unable to find file 'a.inc' used from 'main.pas'");
    EXPECT_EQ(FormatText(kTooManyParameters, {"3", "14"}), "Too many parameters at 3:14");
    EXPECT_EQ(FormatText("%s and %s", {"one"}), "one and ");
    EXPECT_EQ(FormatText("50%% of %s%", {"x"}), "50% of x%");
    const EPSCompilerException e(FormatText(kUnableToRegisterFunction, {"procedure X;"}));
    EXPECT_STREQ(e.what(), "Unable to register function procedure X;");
}

}  // namespace
}  // namespace script::compiler
