#include "platform/rtl/cp1251.h"

#include <gtest/gtest.h>

using namespace rtl;

TEST(cp1251, cyrillic_case_mapping_round_trips) {
    const std::string upper = Utf8ToAnsi("АБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯЎЇІЄҐЂЃЉЊЌЋЏЈЅ");
    const std::string lower = Utf8ToAnsi("абвгдеёжзийклмнопрстуфхцчшщъыьэюяўїієґђѓљњќћџјѕ");
    ASSERT_EQ(upper.size(), 47u);
    EXPECT_EQ(upper.find('?'), std::string::npos);
    EXPECT_EQ(AnsiUpperCase(lower), upper);
    EXPECT_EQ(AnsiLowerCase(upper), lower);
    EXPECT_EQ(AnsiUpperCase("abc-Z09"), "ABC-Z09");
    // bytes that are not letters stay as they are
    for (int b = 0; b < 256; ++b) {
        const char c = static_cast<char>(b);
        EXPECT_EQ(AnsiLowerChar(AnsiUpperChar(AnsiLowerChar(c))), AnsiLowerChar(c)) << b;
    }
    EXPECT_EQ(AnsiUpperChar('\xB5'), '\xB5');  // micro sign has no capital here
    EXPECT_EQ(AnsiUpperChar('\xB9'), '\xB9');  // numero sign
}

TEST(cp1251, comparison_ignores_case_and_keeps_the_alphabet) {
    EXPECT_TRUE(AnsiSameText(Utf8ToAnsi("Привет"), Utf8ToAnsi("пРИВЕТ")));
    EXPECT_FALSE(AnsiSameText(Utf8ToAnsi("Привет"), Utf8ToAnsi("Привед")));
    EXPECT_LT(AnsiCompareText(Utf8ToAnsi("е"), Utf8ToAnsi("Ё")), 0);
    EXPECT_LT(AnsiCompareText(Utf8ToAnsi("Ё"), Utf8ToAnsi("ж")), 0);
    EXPECT_LT(AnsiCompareText("z", Utf8ToAnsi("а")), 0);
    EXPECT_LT(AnsiCompareText("ab", "ABC"), 0);
    EXPECT_NE(AnsiCompareStr("a", "A"), 0);
}

TEST(cp1251, utf8_conversion_round_trips_every_byte_and_replaces_the_rest) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    EXPECT_EQ(Utf8ToAnsi(AnsiToUtf8(all)), all);
    EXPECT_EQ(AnsiToUtf8("\xC0\xFF\xA8\xB9"), "АяЁ№");
    EXPECT_EQ(Utf8ToAnsi("€…™"), "\x88\x85\x99");
    EXPECT_EQ(Utf8ToAnsi("a中b😀c"), "a?b?c");
    // malformed input: stray continuation, truncated sequence, overlong, surrogate
    EXPECT_EQ(Utf8ToAnsi("\x80x"), "?x");
    EXPECT_EQ(Utf8ToAnsi("x\xD0"), "x?");
    EXPECT_EQ(Utf8ToAnsi("\xE0\x80\xAFy"), "?y");
    EXPECT_EQ(Utf8ToAnsi("\xED\xA0\x80"), "?");
    EXPECT_EQ(Utf8ToAnsi("\xC0\xAF"), "??");
    EXPECT_EQ(Utf8ToAnsi("\xD0z"), "?z");
}
