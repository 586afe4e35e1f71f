#include "terminal/receive_format.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/rtl/datetime.h"
#include "platform/rtl/exceptions.h"

namespace terminal {
namespace {

double Stamp(int y, int mo, int d, int h, int mi, int s, int ms) {
    return rtl::EncodeDate(y, mo, d) + rtl::EncodeTime(h, mi, s, ms);
}

std::string Token(TDataFormat Format, std::uint16_t Value, bool ShowNonVisible, int& Width) {
    std::string s;
    Width = AppendToken(s, Format, Value, ShowNonVisible);
    return s;
}

TEST(receive_format, each_data_format_renders_its_token_with_its_width) {
    int w = 0;
    EXPECT_EQ(Token(dfDEC, 7, false, w), "007");
    EXPECT_EQ(w, 3);
    EXPECT_EQ(Token(dfDEC, 255, false, w), "255");
    EXPECT_EQ(Token(dfHEX, 0x0A, false, w), "0A");
    EXPECT_EQ(w, 2);
    EXPECT_EQ(Token(dfHEX, 0xFF, false, w), "FF");
    EXPECT_EQ(Token(dfDW, 0x0201, false, w), "00513");
    EXPECT_EQ(w, 5);
    EXPECT_EQ(Token(dfDW, 65535, false, w), "65535");
    EXPECT_EQ(Token(dfHW, 0xBEEF, false, w), "BEEF");
    EXPECT_EQ(w, 4);
    EXPECT_EQ(Token(dfHW, 0x0001, false, w), "0001");
    EXPECT_EQ(Token(dfBIN, 0x4D, false, w), "01001101");
    EXPECT_EQ(w, 8);
    EXPECT_EQ(Token(dfASC, 'A', false, w), "A");
    EXPECT_EQ(w, 1);
    EXPECT_EQ(Token(dfASC, ' ', true, w), " ");
    EXPECT_EQ(w, 1);
    EXPECT_EQ(Token(dfERR, 1, false, w), "");
    EXPECT_EQ(w, 0);

    EXPECT_EQ(DataFormatName(dfDEC), "DEC");
    EXPECT_EQ(DataFormatName(dfHW), "HW");
    EXPECT_EQ(DataFormatName(dfMSG), "MSG");
    EXPECT_EQ(DataFormatName(8), "");
}

TEST(receive_format, asc_shows_non_visible_codes_as_mark_and_hex_with_width_by_option) {
    int w = 0;
    for (int b : {0, 10, 13, 31, 127, 149, 152}) {
        const std::string expected = std::string("\x95") + "0123456789ABCDEF"[b >> 4] +
                                     "0123456789ABCDEF"[b & 15];
        EXPECT_EQ(Token(dfASC, static_cast<std::uint16_t>(b), false, w), expected) << b;
        EXPECT_EQ(w, 1) << b;
        EXPECT_EQ(Token(dfASC, static_cast<std::uint16_t>(b), true, w), expected) << b;
        EXPECT_EQ(w, 3) << b;
    }
    // 148, 150, 151 and 255 are ordinary characters.
    for (int b : {148, 150, 151, 255}) {
        EXPECT_EQ(Token(dfASC, static_cast<std::uint16_t>(b), false, w),
                  std::string(1, static_cast<char>(b)));
    }
    EXPECT_EQ(HideNonVisibleCodes("ab\x95" "0Acd\x95" "7F"), "ab\x95" "cd\x95");
    EXPECT_EQ(HideNonVisibleCodes("plain"), "plain");
    // A mark at the very end drops what is there and stops.
    EXPECT_EQ(HideNonVisibleCodes("x\x95" "0"), "x\x95");
}

TEST(receive_format, binary_text_round_trips_and_demands_eight_characters) {
    for (int b = 0; b < 256; ++b) {
        const auto byte = static_cast<std::uint8_t>(b);
        ASSERT_EQ(BinTextToByte(ByteToBinText(byte)), byte);
    }
    EXPECT_EQ(ByteToBinText(0x80), "10000000");
    try {
        BinTextToByte("0101");
        FAIL() << "short text accepted";
    } catch (const rtl::EAssertionFailed& e) {
        EXPECT_EQ(e.Message, "Length(s) = 8");
    }
}

TEST(receive_format, prefix_time_part_at_each_resolution) {
    const double t = Stamp(2026, 3, 5, 14, 7, 9, 45);
    EXPECT_EQ(FormatPrefixTime(tpNone, "", t), "");
    EXPECT_EQ(FormatPrefixTime(tpMinutes, "", t), "14:07");
    EXPECT_EQ(FormatPrefixTime(tpSeconds, "", t), "14:07:09");
    EXPECT_EQ(FormatPrefixTime(tpMilliseconds, "", t), "14:07:09.045");
    EXPECT_EQ(FormatPrefixTime(tpFreeFormat, "yyyy-mm-dd hh:nn:ss.zzz", t), "2026-03-05 14:07:09.045");
    EXPECT_EQ(FormatPrefixTime(tpFreeFormat, "hh:mm", t), "14:07");
    // Half a millisecond before midnight rounds into the next day, not to hour 24.
    EXPECT_EQ(FormatPrefixTime(tpMilliseconds, "", Stamp(2026, 3, 5, 23, 59, 59, 999) + 0.6 / 86400000.0),
              "00:00:00.000");
    EXPECT_EQ(FormatPrefixTime(tpMinutes, "", 99), "00:00");

    TPrefixStyle style{tpSeconds, "", true};
    EXPECT_EQ(FormatLinePrefix(style, 0, t), "14:07:09<");
    EXPECT_EQ(FormatLinePrefix(style, 1, t), "14:07:09\xAB");
    EXPECT_EQ(FormatLinePrefix(style, 2, t), "14:07:09>");
    EXPECT_EQ(FormatLinePrefix(style, 7, t), "14:07:09");  // no mark for an unknown direction
    style.Mark = false;
    EXPECT_EQ(FormatLinePrefix(style, 0, t), "14:07:09");
}

TEST(receive_format, time_change_compares_full_date_and_time_at_the_resolution) {
    const double start = Stamp(2026, 1, 1, 10, 15, 30, 500);
    const double sameMinute = Stamp(2026, 1, 1, 10, 15, 59, 999);
    const double hourLater = Stamp(2026, 1, 1, 11, 15, 30, 500);
    const double dayLater = Stamp(2026, 1, 2, 10, 15, 30, 500);
    const double nextMs = Stamp(2026, 1, 1, 10, 15, 30, 501);

    EXPECT_FALSE(TimeChangedAtResolution(tpMinutes, "", start, sameMinute));
    // Exactly an hour (or a day) later shows the same minute, yet it is
    // another time: the line must not continue under its old stamp.
    EXPECT_TRUE(TimeChangedAtResolution(tpMinutes, "", start, hourLater));
    EXPECT_TRUE(TimeChangedAtResolution(tpSeconds, "", start, hourLater));
    EXPECT_TRUE(TimeChangedAtResolution(tpMilliseconds, "", start, dayLater));
    EXPECT_TRUE(TimeChangedAtResolution(tpSeconds, "", start, sameMinute));
    EXPECT_FALSE(TimeChangedAtResolution(tpSeconds, "", start, nextMs));
    EXPECT_TRUE(TimeChangedAtResolution(tpMilliseconds, "", start, nextMs));
    EXPECT_FALSE(TimeChangedAtResolution(tpNone, "", start, dayLater));
    EXPECT_FALSE(TimeChangedAtResolution(tpFreeFormat, "nn", start, hourLater));
    EXPECT_TRUE(TimeChangedAtResolution(tpFreeFormat, "hh:nn", start, hourLater));
}

TEST(receive_format, line_bytes_are_read_back_by_format) {
    EXPECT_EQ(DecodeLineBytes(dfDEC, "001 255"), std::string("\x01\xFF", 2));
    EXPECT_EQ(DecodeLineBytes(dfHEX, "0A 0B"), "\x0A\x0B");
    EXPECT_EQ(DecodeLineBytes(dfDW, "00513"), "\x01\x02");
    EXPECT_EQ(DecodeLineBytes(dfHW, "BEEF 0001"), std::string("\xEF\xBE\x01\x00", 4));
    EXPECT_EQ(DecodeLineBytes(dfBIN, "01001101 00000000"), std::string("\x4D\x00", 2));
    EXPECT_EQ(DecodeLineBytes(dfASC, "ab\x95" "0Acd"), "ab\ncd");
    // A mark without two upper-case hex digits stays the character 149.
    EXPECT_EQ(DecodeLineBytes(dfASC, "x\x95" "0a\x95"), "x\x95" "0a\x95");
    EXPECT_EQ(DecodeLineBytes(dfMSG, "hello"), "");
    EXPECT_EQ(DecodeLineBytes(dfERR, "= OverRun Err ="), "");
    EXPECT_EQ(DecodeLineBytes(dfHEX, ""), "");

    // Every byte survives rendering and reading back in every format.
    for (TDataFormat f : {dfDEC, dfHEX, dfASC, dfBIN}) {
        std::string text;
        std::string bytes;
        for (int b = 0; b < 256; ++b) {
            if (!text.empty() && f != dfASC) text.push_back(' ');
            AppendToken(text, f, static_cast<std::uint16_t>(b), false);
            bytes.push_back(static_cast<char>(b));
        }
        EXPECT_EQ(DecodeLineBytes(f, text), bytes) << int(f);
    }

    try {
        DecodeLineBytes(dfDEC, "001 2a");
        FAIL() << "non-number accepted";
    } catch (const rtl::EConvertError& e) {
        EXPECT_EQ(e.Message, "'2a' is not a valid integer value");
    }
    try {
        DecodeLineBytes(dfHEX, "0G");
        FAIL() << "non-number accepted";
    } catch (const rtl::EConvertError& e) {
        EXPECT_EQ(e.Message, "'$0G' is not a valid integer value");
    }
    EXPECT_THROW(DecodeLineBytes(dfDEC, "99999999999"), rtl::EConvertError);
    EXPECT_THROW(DecodeLineBytes(dfBIN, "0101"), rtl::EConvertError);
}

}  // namespace
}  // namespace terminal
