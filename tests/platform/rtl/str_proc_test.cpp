#include "platform/rtl/str_proc.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace rtl;

TEST(str_proc, split_str_keeps_empty_parts) {
    std::vector<std::string> parts{"old"};
    SplitStr("a,b,", ',', parts);
    EXPECT_EQ(parts, (std::vector<std::string>{"a", "b", ""}));
    SplitStr("abc", ',', parts);
    EXPECT_EQ(parts, (std::vector<std::string>{"abc"}));
    SplitStr("", ',', parts);
    EXPECT_TRUE(parts.empty());
    SplitStr(",,", ',', parts);
    EXPECT_EQ(parts, (std::vector<std::string>{"", "", ""}));
    SplitStr("10.0.0.300", '.', parts);
    EXPECT_EQ(parts, (std::vector<std::string>{"10", "0", "0", "300"}));
}

TEST(str_proc, cut_token_and_next_token_walk_the_fields) {
    std::string s = "abc";
    EXPECT_EQ(CutToken(s, ','), "abc");
    EXPECT_EQ(s, "");
    s = "x,y,z";
    EXPECT_EQ(CutToken(s, ','), "x");
    EXPECT_EQ(s, "y,z");
    s = ",y";
    EXPECT_EQ(CutToken(s, ','), "");
    EXPECT_EQ(s, "y");

    const std::string text = "257|0|127.0.0.1";
    int pos = 0;
    EXPECT_EQ(NextToken(text, '|', pos), "257");
    EXPECT_EQ(pos, 4);
    EXPECT_EQ(NextToken(text, '|', pos), "0");
    EXPECT_EQ(pos, 6);
    EXPECT_EQ(NextToken(text, '|', pos), "127.0.0.1");
    EXPECT_EQ(pos, 16);
    EXPECT_EQ(NextToken(text, '|', pos), "");
    EXPECT_EQ(pos, 16);
    EXPECT_EQ(NextToken(text, '|', pos), "");
    EXPECT_EQ(pos, 16);
    // an empty last field, and positions far outside the text
    pos = 0;
    EXPECT_EQ(NextToken("a|", '|', pos), "a");
    EXPECT_EQ(NextToken("a|", '|', pos), "");
    EXPECT_EQ(pos, 3);
    pos = 2147483647;
    EXPECT_EQ(NextToken(text, '|', pos), "");
    EXPECT_EQ(pos, 16);
    pos = -10;
    EXPECT_EQ(NextToken(text, '|', pos), "257");
}

TEST(str_proc, hex_dumps_and_buffers) {
    const unsigned char bytes[] = {0x0A, 0xFF};
    EXPECT_EQ(BufToHex(bytes, 2, true), "0A FF");
    EXPECT_EQ(BufToHex(bytes, 2, false), "0AFF");
    EXPECT_EQ(BufToHex(bytes, 0, true), "");
    EXPECT_EQ(BufToHex(nullptr, 5, true), "");
    EXPECT_EQ(ArrayToHex(std::string("\x00\x10\xAB", 3), true), "00 10 AB");
    EXPECT_EQ(BufToStr("a\0b", 3), std::string("a\0b", 3));
    EXPECT_EQ(BufToStr("abc", -1), "");
    EXPECT_EQ(Reverse(std::string("ab\0c", 4)), std::string("c\0ba", 4));
    EXPECT_EQ(Reverse(""), "");
}

TEST(str_proc, backward_searches) {
    EXPECT_EQ(LastCharPos('(', "a(b(c", 100), 4);
    EXPECT_EQ(LastCharPos('(', "a(b(c", 3), 2);
    EXPECT_EQ(LastCharPos('(', "a(b(c", 0), 0);
    EXPECT_EQ(LastCharPos('(', "a(b(c", -5), 0);
    EXPECT_EQ(LastCharPos('x', "a(b(c", 100), 0);
    EXPECT_EQ(RPosEx("ab", "abab", 100), 3);
    EXPECT_EQ(RPosEx("ab", "abab", 2), 1);
    EXPECT_EQ(RPosEx("ab", "abab", 0), 0);
    EXPECT_EQ(RPosEx("abc", "ab", 100), 0);
    EXPECT_EQ(RPosEx("", "abab", 100), 5);
    EXPECT_EQ(RPosEx("", "abab", 2), 2);
    EXPECT_EQ(RPosEx("", "abab", -1), 0);
    // the comparison stops at the first zero byte of the searched text
    EXPECT_EQ(RPosEx(std::string("b\0z", 3), "abab", 100), 2);
}
