#include "platform/rtl/format.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/rtl/exceptions.h"

using rtl::Format;

// Device names, record lines and plug-in texts are built with these forms:
// the precision pads with zeros, the width with spaces, "-" justifies left.
TEST(format, integers_pad_with_zeros_to_the_precision_and_with_spaces_to_the_width) {
    EXPECT_EQ(Format("\\\\.\\COM%d", {25}), "\\\\.\\COM25");
    EXPECT_EQ(Format("%.3d", {7}), "007");
    EXPECT_EQ(Format("%.3d", {-5}), "-005");
    EXPECT_EQ(Format("%.5d", {65535}), "65535");
    EXPECT_EQ(Format("[%5d]", {42}), "[   42]");
    EXPECT_EQ(Format("[%-5d]", {42}), "[42   ]");
    EXPECT_EQ(Format("[%*d]", {4, 7}), "[   7]");
    EXPECT_EQ(Format("%d", {-2147483647 - 1}), "-2147483648");
    EXPECT_EQ(Format("%d", {INT64_MIN}), "-9223372036854775808");
    EXPECT_EQ(Format("%d", {18446744073709551615ull}), "18446744073709551615");
    EXPECT_EQ(Format("%u", {-1}), "4294967295");
    EXPECT_EQ(Format("(%d, %d)", {3, 0}), "(3, 0)");
    EXPECT_EQ(Format("100%%", {}), "100%");
}

TEST(format, hexadecimal_is_upper_case_and_keeps_the_argument_width) {
    EXPECT_EQ(Format("%x", {255}), "FF");
    EXPECT_EQ(Format("$%.4x", {10}), "$000A");
    EXPECT_EQ(Format("%x", {-1}), "FFFFFFFF");
    EXPECT_EQ(Format("%x", {static_cast<long long>(-1)}), "FFFFFFFFFFFFFFFF");
    EXPECT_EQ(Format("%.16x", {static_cast<long long>(0x3FE0000000000000)}), "3FE0000000000000");
    EXPECT_EQ(Format("%.16x", {static_cast<long long>(0)}), "0000000000000000");
    // the internal receive-list record line
    EXPECT_EQ(Format("%d%d%.16x\t%s\r\n",
                     {1, 1, static_cast<long long>(0x3FE0000000000000), std::string("0A 0B")}),
              "113FE0000000000000\t0A 0B\r\n");
}

TEST(format, strings_chars_and_indexes) {
    const std::string name = "TfrmEth";
    EXPECT_EQ(Format("%s: Bad param idx (%d)", {name, 7}), "TfrmEth: Bad param idx (7)");
    EXPECT_EQ(Format("%.3s|%5s|%-5s|", {"abcdef", "ab", "ab"}), "abc|   ab|ab   |");
    EXPECT_EQ(Format("%s%s", {'x', "y"}), "xy");
    EXPECT_EQ(Format("%1:s %0:s %s", {"a", "b"}), "b a b");
    EXPECT_EQ(Format("%s", {static_cast<const char*>(nullptr)}), "");
    // bytes pass through untouched
    EXPECT_EQ(Format("%s", {std::string("\xC0\x00\xFF", 3)}), std::string("\xC0\x00\xFF", 3));
}

TEST(format, floats_follow_general_fixed_and_exponent_rules) {
    EXPECT_EQ(Format("%g;%g", {1.0, 0.5}), "1;0.5");
    EXPECT_EQ(Format("%g;%g", {2.0, -3.0}), "2;-3");
    EXPECT_EQ(Format("%g", {0.1 + 0.2}), "0.3");
    EXPECT_EQ(Format("%g", {1e20}), "1E20");
    EXPECT_EQ(Format("%g", {1.5e-7}), "1.5E-7");
    EXPECT_EQ(Format("%g", {46000.123456789}), "46000.123456789");
    EXPECT_EQ(Format("%.1f", {1.25}), "1.3");
    EXPECT_EQ(Format("%.1f", {0.1}), "0.1");
    EXPECT_EQ(Format("%f", {-2.0}), "-2.00");
    EXPECT_EQ(Format("%.0f", {0.4}), "0");
    EXPECT_EQ(Format("%.2f", {-0.001}), "0.00");
    EXPECT_EQ(Format("%e", {1.0}), "1.00000000000000E+000");
    EXPECT_EQ(Format("%.3e", {-12345.0}), "-1.23E+004");
    EXPECT_EQ(Format("%n", {1234567.891}), "1,234,567.89");
    EXPECT_EQ(Format("%m", {-1234.5}), "($1,234.50)");
    EXPECT_EQ(Format("X:%g  Y:%g", {1.0, 2.5}), "X:1  Y:2.5");
}

TEST(format, mismatch_and_missing_arguments_raise_convert_error_with_text) {
    const char* message = "Format '%d' invalid or incompatible with argument";
    try {
        Format("%d", {"text"});
        FAIL() << "no exception";
    } catch (const rtl::EConvertError& e) {
        EXPECT_EQ(e.Message, message);
    }
    EXPECT_THROW(Format("%d %d", {1}), rtl::EConvertError);
    EXPECT_THROW(Format("%f", {1}), rtl::EConvertError);
    EXPECT_THROW(Format("%s", {1.5}), rtl::EConvertError);
    EXPECT_THROW(Format("%y", {1}), rtl::EConvertError);
    EXPECT_THROW(Format("abc%", {}), rtl::EConvertError);
    EXPECT_THROW(Format("%5:d", {1}), rtl::EConvertError);
    EXPECT_THROW(Format("%*d", {"x", 1}), rtl::EConvertError);
}
