#include "script/compiler/ps_utils.h"

#include <gtest/gtest.h>

#include <clocale>

namespace script {
namespace {

TEST(ps_utils, make_hash_rotates_and_adds_each_byte) {
    EXPECT_EQ(MakeHash(""), 0u);
    EXPECT_EQ(MakeHash("A"), 65u);
    EXPECT_EQ(MakeHash("AB"), 65u * 128 + 66);
    // After five bytes the first one has rotated past bit 31 into the low bits.
    std::uint32_t h = 0;
    for (unsigned char b : std::string("\xFF\xFF\xFF\xFF\xFF\x01"))
        h = ((h << 7) | (h >> 25)) + b;
    EXPECT_EQ(MakeHash("\xFF\xFF\xFF\xFF\xFF\x01"), h);
    EXPECT_NE(MakeHash("AB"), MakeHash("BA"));
}

TEST(ps_utils, fast_upper_case_touches_only_ascii_letters) {
    EXPECT_EQ(FastUpperCase("begin"), "BEGIN");
    EXPECT_EQ(FastUpperCase("a1_z{`\xE4"), "A1_Z{`\xE4");
    EXPECT_EQ(FastUpperCase(std::string("a\0b", 3)), std::string("A\0B", 3));
    EXPECT_EQ(FastUpperCase(""), "");
}

TEST(ps_utils, word_splitting_takes_first_or_last_blank_separated_word) {
    std::string s = "abc";
    EXPECT_EQ(GetRemoveFirstWord(s), "abc");
    EXPECT_EQ(s, "");
    s = "ab cd ef";
    EXPECT_EQ(GetRemoveFirstWord(s), "ab");
    EXPECT_EQ(s, "cd ef");
    s = "ab cd ef";
    EXPECT_EQ(GetRemoveLastWord(s), "ef");
    EXPECT_EQ(s, "ab cd");
    s = "abc";
    EXPECT_EQ(GetRemoveLastWord(s), "abc");
    EXPECT_EQ(s, "");
    s = " x";
    EXPECT_EQ(GetRemoveFirstWord(s), "");
    EXPECT_EQ(s, "x");
    s = "x ";
    EXPECT_EQ(GetRemoveLastWord(s), "");
    EXPECT_EQ(s, "x");
}

TEST(ps_utils, integer_parsing_accepts_whole_decimal_or_dollar_hex_text) {
    EXPECT_EQ(PSStrToInt("12x"), -1);
    EXPECT_EQ(PSStrToInt("-1"), -1);
    EXPECT_EQ(PSStrToIntDef("12x", 7), 7);
    EXPECT_EQ(PSStrToIntDef("-1", 7), -1);
    EXPECT_EQ(PSStrToInt("$41"), 65);
    EXPECT_EQ(PSStrToInt("-$10"), -16);
    EXPECT_EQ(PSStrToInt("0x1f"), 31);
    EXPECT_EQ(PSStrToInt("$FFFFFFFF"), -1);
    EXPECT_EQ(PSStrToIntDef("$100000000", 5), 5);
    EXPECT_EQ(PSStrToInt("2147483647"), 2147483647);
    EXPECT_EQ(PSStrToInt("-2147483648"), INT32_MIN);
    EXPECT_EQ(PSStrToIntDef("2147483648", 3), 3);
    EXPECT_EQ(PSStrToIntDef("99999999999999999999", 3), 3);
    EXPECT_EQ(PSStrToInt("  42"), 42);
    EXPECT_EQ(PSStrToIntDef("42 ", 3), 3);
    EXPECT_EQ(PSStrToIntDef("", 3), 3);
    EXPECT_EQ(PSStrToIntDef("-", 3), 3);
    EXPECT_EQ(PSStrToIntDef("$", 3), 3);
    EXPECT_EQ(PSStrToInt("+8"), 8);
}

TEST(ps_utils, float_parsing_uses_period_whatever_the_locale) {
    // A process locale with "," must not change how script numbers parse.
    const char* old = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = old ? old : "C";
    std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    EXPECT_EQ(PSStrToFloat("1.5"), 1.5L);
    EXPECT_EQ(PSFloatToStr(1.5L), "1.500000000000");
    std::setlocale(LC_NUMERIC, saved.c_str());

    EXPECT_EQ(PSStrToFloat("-2.5e3"), -2500.0L);
    EXPECT_EQ(PSStrToFloat("+7"), 7.0L);
    EXPECT_EQ(PSStrToFloat(" .5 "), 0.5L);
    EXPECT_EQ(PSStrToFloat("3."), 3.0L);
    EXPECT_EQ(PSStrToFloat("1e-99999"), 0.0L);  // too small is zero, not an error
    EXPECT_EQ(PSStrToFloat("0.0000e99999"), 0.0L);
    EXPECT_GT(PSStrToFloat("1e4000"), 1e300L);  // fits the extended range
    for (const char* bad : {"1,5", "", "abc", "1e", "1e+", ".", "--1", "1.5x", "nan", "inf", "1e99999", "-12345e4930"}) {
        try {
            PSStrToFloat(bad);
            ADD_FAILURE() << "accepted '" << bad << "'";
        } catch (const EPSError& e) {
            EXPECT_EQ(e.Message, "Invalid float") << bad;
        }
    }
}

TEST(ps_utils, number_text_has_fixed_formats) {
    EXPECT_EQ(PSIntToStr(0), "0");
    EXPECT_EQ(PSIntToStr(-17), "-17");
    EXPECT_EQ(PSIntToStr(INT32_MIN), "-2147483648");
    EXPECT_EQ(PSFloatToStr(1.5L), "1.500000000000");
    EXPECT_EQ(PSFloatToStr(-0.25L), "-0.250000000000");
    EXPECT_EQ(PSFloatToStr(0.0L), "0.000000000000");
    EXPECT_EQ(PSFloatToStr(1e20L), "100000000000000000000.000000000000");
}

TEST(ps_utils, list_capacity_grows_by_32_and_recreates_after_512_changes) {
    TPSList list;
    EXPECT_EQ(list.Capacity(), 16u);
    EXPECT_EQ(list.Count(), 0u);
    int items[600];
    for (int i = 0; i < 17; ++i) EXPECT_EQ(list.Add(&items[i]), static_cast<std::uint32_t>(i));
    EXPECT_EQ(list.Capacity(), 48u);
    for (int i = 17; i < 512; ++i) list.Add(&items[i]);
    EXPECT_EQ(list.Capacity(), 528u);  // 16 + 16 * 32
    EXPECT_EQ(list.ChangeCount(), 512u);
    list.Add(&items[512]);  // the 513th change rebuilds the storage
    EXPECT_EQ(list.Count(), 513u);
    EXPECT_EQ(list.Capacity(), 544u);
    EXPECT_EQ(list.ChangeCount(), 0u);
    for (std::uint32_t i = 0; i < 513; ++i) ASSERT_EQ(list.GetItem(i), &items[i]);
    list.Clear();
    EXPECT_EQ(list.Count(), 0u);
    EXPECT_EQ(list.Capacity(), 64u);
}

TEST(ps_utils, emptied_list_shrinks_on_the_recreate_after_many_deletions) {
    TPSList list;
    int x = 0;
    for (int i = 0; i < 300; ++i) list.Add(&x);
    for (int i = 0; i < 212; ++i) list.DeleteLast();  // 512 changes: no rebuild yet
    EXPECT_EQ(list.Count(), 88u);
    EXPECT_EQ(list.Capacity(), 304u);
    list.DeleteLast();  // 513th change
    EXPECT_EQ(list.Count(), 87u);
    EXPECT_EQ(list.Capacity(), 96u);
}

TEST(ps_utils, list_delete_out_of_range_changes_nothing_and_is_not_counted) {
    TPSList list;
    int a = 1, b = 2, c = 3;
    list.Delete(0);
    list.DeleteLast();
    EXPECT_EQ(list.ChangeCount(), 0u);
    list.Add(&a);
    list.Add(&b);
    list.Add(&c);
    list.Delete(3);
    EXPECT_EQ(list.ChangeCount(), 3u);
    EXPECT_EQ(list.Count(), 3u);
    list.Delete(0);
    EXPECT_EQ(list.Count(), 2u);
    EXPECT_EQ(list.GetItem(0), &b);
    EXPECT_EQ(list.GetItem(1), &c);
    EXPECT_EQ(list.GetItem(2), nullptr);
    EXPECT_EQ(list.GetItem(static_cast<std::uint32_t>(-1)), nullptr);
    list.SetItem(5, &a);  // ignored
    list.SetItem(1, &a);
    EXPECT_EQ(list.GetItem(1), &a);
}

TEST(ps_utils, list_remove_takes_first_and_index_of_finds_last) {
    TPSList list;
    int a = 1, b = 2;
    list.Add(&a);
    list.Add(&b);
    list.Add(&a);
    EXPECT_EQ(list.IndexOf(&a), 2);
    EXPECT_EQ(list.IndexOf(nullptr), -1);
    list.Remove(&a);
    ASSERT_EQ(list.Count(), 2u);
    EXPECT_EQ(list.GetItem(0), &b);
    EXPECT_EQ(list.GetItem(1), &a);
    list.Remove(nullptr);
    EXPECT_EQ(list.Count(), 2u);
}

TEST(ps_utils, string_list_ignores_out_of_range_indexes) {
    TPSStringList list;
    EXPECT_EQ(list.Add("one"), 0u);
    EXPECT_EQ(list.Add("two"), 1u);
    EXPECT_EQ(list.Add("three"), 2u);
    list.Delete(1);
    ASSERT_EQ(list.Count(), 2u);
    EXPECT_EQ(list.GetItem(1), "three");
    EXPECT_EQ(list.GetItem(2), "");
    list.SetItem(9, "x");
    list.SetItem(0, "uno");
    EXPECT_EQ(list.GetItem(0), "uno");
    list.Delete(7);
    EXPECT_EQ(list.Count(), 2u);
}

}  // namespace
}  // namespace script
