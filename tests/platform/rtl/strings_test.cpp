#include "platform/rtl/strings.h"

#include <gtest/gtest.h>

using namespace rtl;

TEST(strings, trim_pos_and_copy) {
    EXPECT_EQ(Trim("\t a b \r\n"), "a b");
    EXPECT_EQ(TrimLeft("  a "), "a ");
    EXPECT_EQ(TrimRight("  a "), "  a");
    EXPECT_EQ(Trim(std::string("\0x\0", 3)), "x");
    EXPECT_EQ(Trim("   "), "");
    EXPECT_EQ(Pos("b", "abcb"), 2);
    EXPECT_EQ(Pos("", "abc"), 0);
    EXPECT_EQ(Pos("x", "abc"), 0);
    EXPECT_EQ(PosEx("b", "abcb", 3), 4);
    EXPECT_EQ(PosEx("b", "abcb", 0), 0);
    EXPECT_EQ(PosEx("b", "abcb", 5), 0);
    EXPECT_EQ(Copy("abcdef", 2, 3), "bcd");
    EXPECT_EQ(Copy("abcdef", 0, 2), "ab");
    EXPECT_EQ(Copy("abcdef", 5, 100), "ef");
    EXPECT_EQ(Copy("abcdef", 7, 1), "");
    EXPECT_EQ(Copy("abcdef", 2, -1), "");
}

TEST(strings, quoting_case_and_comparison) {
    EXPECT_EQ(QuotedStr("it's"), "'it''s'");
    EXPECT_EQ(StringOfChar('-', 3), "---");
    EXPECT_EQ(StringOfChar('-', -3), "");
    EXPECT_EQ(UpperCase("abc\xE0z"), "ABC\xE0Z");  // ASCII only
    EXPECT_EQ(LowerCase("ABC\xC0Z"), "abc\xC0z");
    EXPECT_LT(CompareStr("B", "a"), 0);
    EXPECT_GT(CompareText("B", "a"), 0);
    EXPECT_EQ(CompareText("abc", "ABC"), 0);
    EXPECT_LT(CompareText("ab", "abc"), 0);
    EXPECT_TRUE(SameText("Config1", "CONFIG1"));
    EXPECT_FALSE(SameText("Config1", "Config"));
}
