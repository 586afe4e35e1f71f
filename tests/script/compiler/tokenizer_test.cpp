#include "script/compiler/tokenizer.h"

#include <gtest/gtest.h>

#include <vector>

namespace script::compiler {
namespace {

struct Tok {
    TPSTokenId id;
    std::string token;
    std::string raw;
    std::uint32_t pos, len, row, col;
};

struct Scan {
    std::vector<Tok> tokens;
    std::vector<TPSLexErrorKind> errors;
};

// Scans the whole text, at most 1000 tokens (a scanner that stops moving
// would otherwise hang the test).
Scan ScanAll(std::string_view text, bool keepComments = false, bool keepBlanks = false) {
    Scan out;
    TPSPascalParser p;
    p.KeepComments = keepComments;
    p.KeepBlanks = keepBlanks;
    p.OnParserError = [&out](TPSPascalParser&, TPSLexErrorKind k) { out.errors.push_back(k); };
    p.SetText(text);
    for (int n = 0; n < 1000; ++n) {
        out.tokens.push_back({p.CurrTokenId(), p.GetToken(), p.OriginalToken(), p.CurrTokenPos(),
                              p.TokenLength(), p.Row(), p.Col()});
        if (p.CurrTokenId() == tkEOF) break;
        p.Next();
    }
    return out;
}

std::vector<TPSTokenId> Ids(const Scan& s) {
    std::vector<TPSTokenId> ids;
    for (const auto& t : s.tokens) ids.push_back(t.id);
    return ids;
}

TEST(tokenizer, empty_text_is_end_of_file_at_row_1_column_1) {
    const Scan s = ScanAll("");
    ASSERT_EQ(s.tokens.size(), 1u);
    EXPECT_EQ(s.tokens[0].id, tkEOF);
    EXPECT_EQ(s.tokens[0].row, 1u);
    EXPECT_EQ(s.tokens[0].col, 1u);
    EXPECT_TRUE(s.errors.empty());
    // Text after a zero byte is not part of the script.
    EXPECT_EQ(Ids(ScanAll(std::string("a\0b", 3))), (std::vector<TPSTokenId>{tkIdentifier, tkEOF}));
}

TEST(tokenizer, symbols_and_keywords_have_their_ids_and_no_text) {
    const Scan s = ScanAll("; , . : ( ) [ ] := = <> > >= < <= + - / * @ ^ .. begin Begin BEGIN nil exit chr ord");
    const std::vector<TPSTokenId> expected = {
        tkSemiColon, tkComma, tkPeriod, tkColon, tkOpenRound, tkCloseRound, tkOpenBlock,
        tkCloseBlock, tkAssignment, tkEqual, tkNotEqual, tkGreater, tkGreaterEqual, tkLess,
        tkLessEqual, tkPlus, tkMinus, tkDivide, tkMultiply, tkAddressOf, tkDereference, tkTwoDots,
        tkBegin, tkBegin, tkBegin, tkNil, tkExit, tkChr, tkOrd, tkEOF};
    EXPECT_EQ(Ids(s), expected);
    for (const auto& t : s.tokens) {
        EXPECT_EQ(t.token, "");
        EXPECT_EQ(t.raw, "");
    }
    EXPECT_EQ(s.tokens[8].len, 2u);
    EXPECT_EQ(static_cast<int>(tkBegin), 33);
    EXPECT_EQ(static_cast<int>(tkNil), 95);
}

TEST(tokenizer, every_keyword_maps_to_its_id_and_near_misses_are_identifiers) {
    const char* words[] = {
        "AND", "ARRAY", "BEGIN", "CASE", "CONST", "DIV", "DO", "DOWNTO", "ELSE", "END", "FOR",
        "FUNCTION", "IF", "IN", "MOD", "NOT", "OF", "OR", "PROCEDURE", "PROGRAM", "REPEAT",
        "RECORD", "SET", "SHL", "SHR", "THEN", "TO", "TYPE", "UNTIL", "USES", "VAR", "WHILE",
        "WITH", "XOR", "EXIT", "CLASS", "CONSTRUCTOR", "DESTRUCTOR", "INHERITED", "PRIVATE",
        "PUBLIC", "PUBLISHED", "PROTECTED", "PROPERTY", "VIRTUAL", "OVERRIDE", "AS", "IS", "UNIT",
        "TRY", "EXCEPT", "FINALLY", "EXTERNAL", "FORWARD", "EXPORT", "LABEL", "GOTO", "CHR", "ORD",
        "INTERFACE", "IMPLEMENTATION", "INITIALIZATION", "FINALIZATION", "OUT", "NIL"};
    static_assert(std::size(words) == 65);
    for (int i = 0; i < 65; ++i) EXPECT_EQ(KeywordId(words[i]), 31 + i) << words[i];
    for (const char* w : {"A", "ANDX", "AN", "", "BEGINS", "ZZZ", "begin", "DOWN", "NILL"})
        EXPECT_EQ(KeywordId(w), tkIdentifier) << w;
}

TEST(tokenizer, identifiers_are_upper_cased_with_the_text_as_written_kept) {
    const Scan s = ScanAll("myVar _x1 b2_");
    ASSERT_EQ(s.tokens.size(), 4u);
    EXPECT_EQ(s.tokens[0].id, tkIdentifier);
    EXPECT_EQ(s.tokens[0].token, "MYVAR");
    EXPECT_EQ(s.tokens[0].raw, "myVar");
    EXPECT_EQ(s.tokens[1].token, "_X1");
    EXPECT_EQ(s.tokens[2].token, "B2_");
    EXPECT_EQ(s.tokens[2].pos, 10u);
    // Very long words are identifiers, never keywords.
    const Scan l = ScanAll(std::string(300, 'x'));
    EXPECT_EQ(l.tokens[0].id, tkIdentifier);
    EXPECT_EQ(l.tokens[0].len, 300u);
}

TEST(tokenizer, numbers_split_on_range_dots_and_take_exponents_only_with_digits) {
    auto check = [](std::string_view text, std::vector<std::pair<TPSTokenId, std::string>> want) {
        const Scan s = ScanAll(text);
        std::vector<std::pair<TPSTokenId, std::string>> got;
        for (const auto& t : s.tokens) {
            if (t.id != tkEOF) got.push_back({t.id, t.id == tkIdentifier ? t.raw : t.token});
        }
        EXPECT_EQ(got, want) << text;
        EXPECT_TRUE(s.errors.empty()) << text;
    };
    check("1..5", {{tkInteger, "1"}, {tkTwoDots, ""}, {tkInteger, "5"}});
    check("1.5e3", {{tkReal, "1.5e3"}});
    check("2E+1", {{tkReal, "2E+1"}});
    check("2e-10x", {{tkReal, "2e-10"}, {tkIdentifier, "x"}});
    check("3E", {{tkInteger, "3"}, {tkIdentifier, "E"}});
    check("3E+", {{tkInteger, "3"}, {tkIdentifier, "E"}, {tkPlus, ""}});
    check("1.2.3", {{tkReal, "1.2"}, {tkPeriod, ""}, {tkInteger, "3"}});
    check("1. ", {{tkReal, "1."}});
    check("007", {{tkInteger, "007"}});
    check("$ff $", {{tkHexInt, "$ff"}, {tkHexInt, "$"}});
    check("$1G", {{tkHexInt, "$1"}, {tkIdentifier, "G"}});
}

TEST(tokenizer, strings_and_character_codes) {
    Scan s = ScanAll("'it''s' '' 'a'b");
    ASSERT_EQ(s.tokens.size(), 5u);
    EXPECT_EQ(s.tokens[0].id, tkString);
    EXPECT_EQ(s.tokens[0].len, 7u);
    EXPECT_EQ(s.tokens[0].token, "'it''s'");
    EXPECT_EQ(s.tokens[1].len, 2u);
    EXPECT_EQ(s.tokens[2].token, "'a'");
    EXPECT_EQ(s.tokens[3].raw, "b");

    s = ScanAll("#65 #$1F #$41x #");
    ASSERT_EQ(s.tokens.size(), 6u);
    EXPECT_EQ(s.tokens[0].id, tkChar);
    EXPECT_EQ(s.tokens[0].len, 3u);
    EXPECT_EQ(s.tokens[1].token, "#$1F");
    EXPECT_EQ(s.tokens[1].len, 4u);
    EXPECT_EQ(s.tokens[2].token, "#$41");
    EXPECT_EQ(s.tokens[3].id, tkIdentifier);  // after the hex form a letter is a new token
    EXPECT_EQ(s.tokens[4].token, "#");
    EXPECT_TRUE(s.errors.empty());
}

TEST(tokenizer, lexical_errors_are_reported_once_and_end_the_text) {
    struct Case {
        const char* text;
        TPSLexErrorKind kind;
        std::uint32_t row, col;
    };
    const Case cases[] = {
        {"a {never closed", lekUnterminatedComment, 1, 3},
        {"a\r\n  (* open\r\n\r\nmore", lekUnterminatedComment, 2, 3},
        {"x := 'cut\r\n';", lekUnterminatedString, 1, 6},
        {"x := 'open", lekUnterminatedString, 1, 6},
        {"#65a", lekBadCharLiteral, 1, 1},
        {"a ! b", lekInvalidChar, 1, 3},
        {"a\n\xE4", lekInvalidChar, 2, 1},
        {"\"x\"", lekInvalidChar, 1, 1},
        {"}", lekInvalidChar, 1, 1},
    };
    for (const auto& c : cases) {
        const Scan s = ScanAll(c.text);
        ASSERT_EQ(s.errors.size(), 1u) << c.text;
        EXPECT_EQ(s.errors[0], c.kind) << c.text;
        const Tok& last = s.tokens.back();
        EXPECT_EQ(last.id, tkEOF) << c.text;
        EXPECT_EQ(last.len, 0u) << c.text;
        EXPECT_EQ(last.token, "") << c.text;
        // The error is placed where the faulty token starts.
        EXPECT_EQ(last.row, c.row) << c.text;
        EXPECT_EQ(last.col, c.col) << c.text;
    }
    // Without a callback the error still ends the text quietly.
    TPSPascalParser p;
    p.SetText("'x");
    EXPECT_EQ(p.CurrTokenId(), tkEOF);
}

TEST(tokenizer, comments_are_skipped_or_returned_and_count_their_line_breaks) {
    Scan s = ScanAll("a{x}b");
    ASSERT_EQ(Ids(s), (std::vector<TPSTokenId>{tkIdentifier, tkIdentifier, tkEOF}));
    EXPECT_EQ(s.tokens[1].token, "B");
    EXPECT_EQ(s.tokens[1].row, 1u);
    EXPECT_EQ(s.tokens[1].col, 5u);

    s = ScanAll("(*) // line\r\n{a\nb}x (**)y", true, false);
    ASSERT_EQ(s.tokens.size(), 7u);
    EXPECT_EQ(s.tokens[0].id, tkComment);
    EXPECT_EQ(s.tokens[0].token, "(*)");  // the search for "*)" starts at the opening "*"
    EXPECT_EQ(s.tokens[1].token, "// line");
    EXPECT_EQ(s.tokens[2].token, "{a\nb}");
    EXPECT_EQ(s.tokens[2].row, 2u);
    EXPECT_EQ(s.tokens[3].raw, "x");
    EXPECT_EQ(s.tokens[3].row, 3u);
    EXPECT_EQ(s.tokens[3].col, 3u);
    EXPECT_EQ(s.tokens[4].token, "(**)");
    EXPECT_EQ(s.tokens[5].raw, "y");
    EXPECT_TRUE(s.errors.empty());

    // A compiler directive left in the text is a brace comment to the tokenizer.
    s = ScanAll("{$I x.inc}a", true);
    ASSERT_EQ(s.tokens.size(), 3u);
    EXPECT_EQ(s.tokens[0].id, tkComment);
    EXPECT_EQ(s.tokens[0].token, "{$I x.inc}");

    s = ScanAll("(* a *)*)");
    EXPECT_EQ(Ids(s), (std::vector<TPSTokenId>{tkMultiply, tkCloseRound, tkEOF}));

    s = ScanAll("a /b", false, true);
    EXPECT_EQ(Ids(s), (std::vector<TPSTokenId>{tkIdentifier, tkBlank, tkDivide, tkIdentifier, tkEOF}));
    EXPECT_EQ(s.tokens[1].token, " ");
}

TEST(tokenizer, rows_and_columns_follow_cr_lf_crlf_and_tabs) {
    const Scan s = ScanAll("a\r\nb\nc\rd\r\n\r\n\te\n\n");
    ASSERT_EQ(s.tokens.size(), 6u);
    const std::uint32_t rows[] = {1, 2, 3, 4, 6, 8};
    const std::uint32_t cols[] = {1, 1, 1, 1, 2, 1};
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(s.tokens[i].row, rows[i]) << i;
        EXPECT_EQ(s.tokens[i].col, cols[i]) << i;
    }
    EXPECT_EQ(s.tokens[4].pos, 13u);
    EXPECT_EQ(s.tokens[5].id, tkEOF);
    EXPECT_EQ(s.tokens[5].pos, 16u);
}

TEST(tokenizer, set_text_restarts_the_scan) {
    TPSPascalParser p;
    p.SetText("a\nb\nc");
    p.Next();
    p.Next();
    EXPECT_EQ(p.Row(), 3u);
    p.SetText("  z");
    EXPECT_EQ(p.GetToken(), "Z");
    EXPECT_EQ(p.Row(), 1u);
    EXPECT_EQ(p.Col(), 3u);
    p.Next();
    EXPECT_EQ(p.CurrTokenId(), tkEOF);
    p.Next();  // stays at the end
    EXPECT_EQ(p.CurrTokenId(), tkEOF);
    EXPECT_EQ(p.CurrTokenPos(), 3u);
}

}  // namespace
}  // namespace script::compiler
