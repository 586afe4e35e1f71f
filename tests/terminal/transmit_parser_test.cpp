#include "terminal/transmit_parser.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using terminal::TTransmitParseOptions;
using terminal::TTransmitParser;
namespace tp = terminal;

namespace {

using Bytes = std::vector<std::uint8_t>;

TTransmitParseOptions Dec() { return {tp::trfDec, "", false, false}; }
TTransmitParseOptions Hex() { return {tp::trfHex, "", false, false}; }
TTransmitParseOptions Asc(std::string lineBreak = "") { return {tp::trfAsc, std::move(lineBreak), false, false}; }

Bytes Sent(const TTransmitParser& p) {
    auto b = p.TransmitBuffer();
    return Bytes(b.begin(), b.end());
}

Bytes Parse(const std::string& text, const TTransmitParseOptions& options) {
    TTransmitParser p;
    p.ParseTransmitLine(text, options);
    return Sent(p);
}

// The full error text a parse raises, or "<no error>".
std::string ErrorOf(const std::string& text, const TTransmitParseOptions& options) {
    TTransmitParser p;
    try {
        p.ParseTransmitLine(text, options);
    } catch (const tp::ETransmitParseError& e) {
        return e.Message;
    }
    return "<no error>";
}

}  // namespace

TEST(transmit_parser, dec_tokens_are_separated_by_blanks_and_commas_only) {
    EXPECT_EQ(Parse("1 2,3", Dec()), (Bytes{1, 2, 3}));
    EXPECT_EQ(Parse(",, 1 ,  2,", Dec()), (Bytes{1, 2}));
    EXPECT_EQ(Parse("", Dec()), Bytes{});
    EXPECT_EQ(Parse("   ", Hex()), Bytes{});
    // A tab is part of the token, which then does not convert.
    EXPECT_EQ(ErrorOf("1\t2", Dec()), "_1-3_Token \"1\t2\" could not be converted to a number");
}

TEST(transmit_parser, dec_numbers_take_type_letters_byte_order_and_ranges) {
    EXPECT_EQ(Parse("258W", Dec()), (Bytes{0x02, 0x01}));
    EXPECT_EQ(Parse("258WR", Dec()), (Bytes{0x01, 0x02}));
    EXPECT_EQ(Parse("258wr", Dec()), (Bytes{0x01, 0x02}));
    EXPECT_EQ(Parse("-1", Dec()), (Bytes{0xFF}));
    EXPECT_EQ(Parse("+5", Dec()), (Bytes{0x05}));
    EXPECT_EQ(Parse("1.5F", Dec()), (Bytes{0x00, 0x00, 0xC0, 0x3F}));
    EXPECT_EQ(Parse("1.5f", Dec()), (Bytes{0x00, 0x00, 0xC0, 0x3F}));
    EXPECT_EQ(Parse("-2.5e1D", Dec()), (Bytes{0, 0, 0, 0, 0, 0, 0x39, 0xC0}));
    EXPECT_EQ(Parse("$1F", Dec()), (Bytes{0x1F}));
    EXPECT_EQ(Parse("$1FW", Dec()), (Bytes{0x1F, 0x00}));
    EXPECT_EQ(Parse("$1D", Dec()), (Bytes{0x1D}));
    EXPECT_EQ(Parse("16909060L", Dec()), (Bytes{4, 3, 2, 1}));
    EXPECT_EQ(Parse("16909060LR", Dec()), (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(Parse("-1Q", Dec()), Bytes(8, 0xFF));
    EXPECT_EQ(Parse("-128 255", Dec()), (Bytes{0x80, 0xFF}));
    EXPECT_EQ(Parse("-32768W 65535W", Dec()), (Bytes{0x00, 0x80, 0xFF, 0xFF}));
    EXPECT_EQ(Parse("-2147483648L 4294967295L", Dec()), (Bytes{0, 0, 0, 0x80, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(Parse("-9223372036854775808Q", Dec()), (Bytes{0, 0, 0, 0, 0, 0, 0, 0x80}));
    EXPECT_EQ(Parse("9223372036854775807Q", Dec()), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}));

    EXPECT_EQ(ErrorOf("258", Dec()), "_1-3_Token \"258\" could not be converted to a number");
    for (const char* bad : {"-129", "256", "65536W", "-32769W", "4294967296L", "-2147483649L",
                            "9223372036854775808Q", "-9223372036854775809Q", "1.5", "1.5W", "1e", ".F",
                            "1e39F", "1e309D", "$", "$G", "-", "W", "1.5.5F", "nanF", "infD", "0x10"}) {
        const std::string text = bad;
        const std::string expected = "_1-" + std::to_string(text.size()) + "_Token \"" + text +
                                     "\" could not be converted to a number";
        EXPECT_EQ(ErrorOf(text, Dec()), expected) << text;
    }
}

TEST(transmit_parser, hex_tokens_are_always_hexadecimal) {
    EXPECT_EQ(Parse("1F", Hex()), (Bytes{0x1F}));
    EXPECT_EQ(Parse("ff 0D 0f", Hex()), (Bytes{0xFF, 0x0D, 0x0F}));
    EXPECT_EQ(Parse("1234W 1234WR", Hex()), (Bytes{0x34, 0x12, 0x12, 0x34}));
    EXPECT_EQ(Parse("FFFFFFFFL", Hex()), Bytes(4, 0xFF));
    EXPECT_EQ(Parse("FFFFFFFFFFFFFFFFQ", Hex()), Bytes(8, 0xFF));
    EXPECT_EQ(Parse("8000000000000000Q", Hex()), (Bytes{0, 0, 0, 0, 0, 0, 0, 0x80}));
    // "$" in HEX mode doubles the prefix, so the token is no number.
    EXPECT_EQ(ErrorOf("$1F", Hex()), "_1-3_Token \"$1F\" could not be converted to a number");
    EXPECT_EQ(ErrorOf("100", Hex()), "_1-3_Token \"100\" could not be converted to a number");
    EXPECT_EQ(ErrorOf("-1", Hex()), "_1-2_Token \"-1\" could not be converted to a number");
    EXPECT_EQ(ErrorOf("10000W", Hex()), "_1-6_Token \"10000W\" could not be converted to a number");
    EXPECT_EQ(ErrorOf("10000000000000000Q", Hex()),
              "_1-18_Token \"10000000000000000Q\" could not be converted to a number");
}

TEST(transmit_parser, flag_words_mark_the_first_byte_of_each_token) {
    TTransmitParser p;
    p.ParseTransmitLine("258W+ $10 5P 7R- 'a' 1Q", Dec());
    const auto f = p.TransmitFlags();
    ASSERT_EQ(p.TransmitLen(), 2 + 1 + 1 + 1 + 1 + 8);
    EXPECT_EQ(f[0], tp::tfTypeWord | tp::tfStepUp);
    EXPECT_EQ(f[1], 0);
    EXPECT_EQ(f[2], tp::tfDollar);
    EXPECT_EQ(f[3], tp::tfPause);
    EXPECT_EQ(f[4], tp::tfReverse | tp::tfStepDown);
    EXPECT_EQ(f[5], tp::tfQuoted);
    EXPECT_EQ(f[6], tp::tfTypeQuad);
    for (int k = 7; k < 14; ++k) EXPECT_EQ(f[static_cast<std::size_t>(k)], 0) << k;
    EXPECT_TRUE(p.StepTokens());

    TTransmitParser q;
    q.ParseTransmitLine("1 2W 5P", Dec());
    EXPECT_FALSE(q.StepTokens());
    EXPECT_EQ(tp::TokenSize(tp::tfTypeSingle), 4);
    EXPECT_EQ(tp::TokenSize(tp::tfTypeDouble | tp::tfReverse), 8);
}

TEST(transmit_parser, quoted_text_in_dec_and_hex_keeps_every_character) {
    EXPECT_EQ(Parse("\"A b,c\" 1", Dec()), (Bytes{'A', ' ', 'b', ',', 'c', 1}));
    EXPECT_EQ(Parse("'it''s'", Hex()), (Bytes{'i', 't', '\'', 's'}));
    EXPECT_EQ(Parse("\"say \"\"hi\"\"\"", Dec()), (Bytes{'s', 'a', 'y', ' ', '"', 'h', 'i', '"'}));
    EXPECT_EQ(Parse("\"a'b\"'c\"d'", Dec()), (Bytes{'a', '\'', 'b', 'c', '"', 'd'}));
    EXPECT_EQ(Parse("\"\"", Dec()), Bytes{});
    EXPECT_EQ(Parse("0D \"x\",0A", Hex()), (Bytes{0x0D, 'x', 0x0A}));

    EXPECT_EQ(ErrorOf("12\"ab\"", Dec()), "_3_Unexpected quotation mark");
    EXPECT_EQ(ErrorOf("1 'abc", Dec()), "_3_End quotation mark not found");
    EXPECT_EQ(ErrorOf("\"abc\"\"", Hex()), "_1_End quotation mark not found");
}

TEST(transmit_parser, ascii_line_reads_escapes_and_appends_the_line_break) {
    EXPECT_EQ(Parse("A\\tB\\0\\n\\r\\\\\\x41\\X4a\\xfF", Asc("\r\n")),
              (Bytes{'A', 9, 'B', 0, 10, 13, '\\', 0x41, 0x4A, 0xFF, 13, 10}));
    EXPECT_EQ(Parse("\\T\\N\\R", Asc()), (Bytes{9, 10, 13}));
    EXPECT_EQ(Parse("\\q", Asc()), (Bytes{'\\', 'q'}));
    EXPECT_EQ(Parse("ab\\", Asc()), (Bytes{'a', 'b', '\\'}));
    EXPECT_EQ(Parse("\\\\n", Asc()), (Bytes{'\\', 'n'}));
    EXPECT_EQ(Parse("x", Asc(std::string(1, '\0'))), (Bytes{'x', 0}));
    EXPECT_EQ(Parse("x", Asc("\n")), (Bytes{'x', 10}));
    EXPECT_EQ(Parse("", Asc("\r")), (Bytes{13}));
    // Quotes and numbers mean nothing in ASC.
    EXPECT_EQ(Parse("'1 2'", Asc()), (Bytes{'\'', '1', ' ', '2', '\''}));

    // The error quotes at most the four characters that the line holds.
    EXPECT_EQ(ErrorOf("ab\\x4", Asc()), "_4-6_Wrong HEX value (\"\\x4\")");
    EXPECT_EQ(ErrorOf("\\x", Asc()), "_2-4_Wrong HEX value (\"\\x\")");
    EXPECT_EQ(ErrorOf("\\xG1zz", Asc()), "_2-4_Wrong HEX value (\"\\xG1\")");
    EXPECT_EQ(ErrorOf("\\x4", Asc("\r\n")), "_2-4_Wrong HEX value (\"\\x4\r\")");
}

TEST(transmit_parser, stepped_hex_token_wraps_and_rebuilds_its_text) {
    TTransmitParser p;
    std::vector<std::uint8_t> sent;
    std::vector<std::string> texts;
    ASSERT_TRUE(p.ParseTransmitLine("FF+", Hex()));
    for (int k = 0; k < 3; ++k) {
        // The line was not changed: the stepped buffer is sent as it stands.
        if (k > 0) {
            EXPECT_FALSE(p.ParseTransmitLine("FF+", Hex()));
        }
        sent.push_back(p.TransmitBuffer()[0]);
        ASSERT_TRUE(p.StepTokens());
        texts.push_back(p.RebuildTransmitText());
    }
    EXPECT_EQ(sent, (Bytes{0xFF, 0x00, 0x01}));
    EXPECT_EQ(texts, (std::vector<std::string>{"00+", "01+", "02+"}));
}

TEST(transmit_parser, stepping_keeps_size_byte_order_and_direction) {
    TTransmitParser p;
    p.ParseTransmitLine("0- 255WR+ 65535W+ $FF+ -1Q- 1Q+ 7", Dec());
    EXPECT_EQ(p.RebuildTransmitText(), "255- 256WR+ 0W+ $00+ -2Q- 2Q+ 7");
    EXPECT_EQ(Sent(p), (Bytes{0xFF, 0x01, 0x00, 0x00, 0x00, 0x00, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                              0x02, 0, 0, 0, 0, 0, 0, 0, 7}));
    EXPECT_EQ(p.RebuildTransmitText(), "254- 257WR+ 1W+ $01+ -3Q- 3Q+ 7");

    TTransmitParser h;
    EXPECT_EQ(ErrorOf("10WP", Hex()), "_1-4_Incompatible flags for token \"10WP\"");
    h.ParseTransmitLine("FFFFFFFFL+ 0QR- 10P", Hex());
    EXPECT_EQ(h.RebuildTransmitText(), "00L+ FFFFFFFFFFFFFFFFQR- 10P");
    EXPECT_EQ(Sent(h), (Bytes{0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x10}));
}

TEST(transmit_parser, rebuilt_text_parses_back_to_the_same_bytes) {
    const std::string line =
        "\"a\"\"b\" 'c' 1+ -1W $7fW 3.14159F -2.5e-300D 1e-45F 123456789012345678Q 9R 4P \"z\"";
    TTransmitParser p;
    p.ParseTransmitLine(line, Dec());
    const std::string text = p.RebuildTransmitText();
    // Apostrophes come back as double quotes; adjacent quoted texts merge.
    EXPECT_EQ(text.substr(0, 11), "\"a\"\"bc\" 2+ ");
    TTransmitParser q;
    q.ParseTransmitLine(text, Dec());
    EXPECT_EQ(Sent(q), Sent(p));
    EXPECT_EQ(std::vector<std::uint16_t>(q.TransmitFlags().begin(), q.TransmitFlags().end()),
              std::vector<std::uint16_t>(p.TransmitFlags().begin(), p.TransmitFlags().end()));
}

TEST(transmit_parser, random_tokens_come_from_the_seeded_generator) {
    TTransmitParser p, twin;
    p.SeedRandom(1234);
    twin.SeedRandom(1234);
    p.ParseTransmitLine("? 5? W? LR?", Dec());
    const auto first = twin.RandomValue(1);
    const auto word = twin.RandomValue(2);
    const auto lng = twin.RandomValue(4);
    EXPECT_EQ(Sent(p), (Bytes{static_cast<std::uint8_t>(first), 5, static_cast<std::uint8_t>(word),
                              static_cast<std::uint8_t>(word >> 8), static_cast<std::uint8_t>(lng >> 24),
                              static_cast<std::uint8_t>(lng >> 16), static_cast<std::uint8_t>(lng >> 8),
                              static_cast<std::uint8_t>(lng)}));
    EXPECT_TRUE(p.StepTokens());
    const std::string text = p.RebuildTransmitText();
    const auto b1 = twin.RandomValue(1), b2 = twin.RandomValue(1), w = twin.RandomValue(2), l = twin.RandomValue(4);
    EXPECT_EQ(text, std::to_string(b1) + "? " + std::to_string(b2) + "? " + std::to_string(w) + "W? " +
                        std::to_string(l) + "LR?");

    TTransmitParser h, htwin;
    h.SeedRandom(99);
    htwin.SeedRandom(99);
    h.ParseTransmitLine("?", Hex());
    EXPECT_EQ(Sent(h), (Bytes{static_cast<std::uint8_t>(htwin.RandomValue(1))}));

    TTransmitParser r;
    r.SeedRandom(5);
    for (int k = 0; k < 2000; ++k) {
        EXPECT_LE(r.RandomValue(1), 255u);
        EXPECT_LE(r.RandomValue(2), 65535u);
        EXPECT_LE(r.RandomValue(4), 2147483646u);
    }
    EXPECT_EQ(r.RandomValue(8), 0u);
    EXPECT_EQ(ErrorOf("Q?", Dec()), "_1-2_Incompatible flags for token \"Q?\"");
    EXPECT_EQ(ErrorOf("1.5F+", Dec()), "_1-5_Incompatible flags for token \"1.5F+\"");
    EXPECT_EQ(ErrorOf("2 1D?", Dec()), "_3-5_Incompatible flags for token \"1D?\"");
}

TEST(transmit_parser, pauses_cut_the_buffer_into_writes) {
    TTransmitParser p;
    p.ParseTransmitLine("1 2 5P 3 0p 0P 4", Dec());
    const auto s = p.TransmitSegments();
    ASSERT_EQ(s.size(), 4u);
    EXPECT_EQ(s[0].Offset, 0u);
    EXPECT_EQ(s[0].Length, 2u);
    EXPECT_TRUE(s[0].PauseAfter);
    EXPECT_EQ(s[0].PauseMs, 50);
    EXPECT_EQ(s[1].Offset, 3u);
    EXPECT_EQ(s[1].Length, 1u);
    EXPECT_EQ(s[1].PauseMs, 0);
    EXPECT_TRUE(s[1].PauseAfter);
    EXPECT_EQ(s[2].Length, 0u);
    EXPECT_TRUE(s[2].PauseAfter);
    EXPECT_EQ(s[3].Offset, 6u);
    EXPECT_EQ(s[3].Length, 1u);
    EXPECT_FALSE(s[3].PauseAfter);

    TTransmitParser q;
    q.ParseTransmitLine("255P", Dec());
    const auto only = q.TransmitSegments();
    ASSERT_EQ(only.size(), 1u);
    EXPECT_EQ(only[0].Length, 0u);
    EXPECT_EQ(only[0].PauseMs, 2550);
    TTransmitParser e;
    e.ParseTransmitLine("", Dec());
    EXPECT_TRUE(e.TransmitSegments().empty());

    EXPECT_EQ(ErrorOf("5WP", Dec()), "_1-3_Incompatible flags for token \"5WP\"");
    EXPECT_EQ(ErrorOf("1 5P", {tp::trfDec, "", true, false}),
              "_3-4_\"Pause\" command is not allowed when \"RS-485 mode\" is on");
    EXPECT_EQ(ErrorOf("5P", {tp::trfHex, "", true, true}),
              "_1-2_\"Pause\" command is not allowed when \"RS-485 mode\" is on");
    EXPECT_EQ(ErrorOf("5P", {tp::trfDec, "", false, true}),
              "_1-2_\"Pause\" command is not allowed when you use a plugin. You should use script "
              "function \"Sleep\" or \"NBSleep\" inside plugin instead");
}

TEST(transmit_parser, a_line_parsed_before_rs485_or_a_plugin_is_parsed_again) {
    TTransmitParser p;
    EXPECT_TRUE(p.ParseNeeded());
    ASSERT_TRUE(p.ParseTransmitLine("1 5P 2", Dec()));
    EXPECT_FALSE(p.ParseNeeded());
    // Switching RS-485 on must not let the pause byte go out as data.
    EXPECT_EQ(ErrorOf("1 5P 2", {tp::trfDec, "", true, false}),
              "_3-4_\"Pause\" command is not allowed when \"RS-485 mode\" is on");
    EXPECT_THROW(p.ParseTransmitLine("1 5P 2", {tp::trfDec, "", true, false}), tp::ETransmitParseError);
    EXPECT_EQ(p.TransmitLen(), 0);
    EXPECT_TRUE(p.ParseNeeded());

    TTransmitParser q;
    q.ParseTransmitLine("1 5P 2", Dec());
    EXPECT_THROW(q.ParseTransmitLine("1 5P 2", {tp::trfDec, "", false, true}), tp::ETransmitParseError);

    // Only a marked line or changed options bring a new parse.
    TTransmitParser r;
    r.ParseTransmitLine("1", Dec());
    EXPECT_FALSE(r.ParseTransmitLine("2", Dec()));
    EXPECT_EQ(Sent(r), (Bytes{1}));
    r.MarkForParse();
    EXPECT_TRUE(r.ParseTransmitLine("2", Dec()));
    EXPECT_EQ(Sent(r), (Bytes{2}));
    EXPECT_TRUE(r.ParseTransmitLine("10", Hex()));
    EXPECT_EQ(Sent(r), (Bytes{0x10}));
    EXPECT_TRUE(r.ParseTransmitLine("1", Asc("\n")));
    EXPECT_EQ(Sent(r), (Bytes{'1', 10}));
    EXPECT_TRUE(r.ParseTransmitLine("1", Asc("\r")));
    EXPECT_EQ(Sent(r), (Bytes{'1', 13}));

    // A failed parse empties the buffer and stops the stepping.
    TTransmitParser s;
    s.ParseTransmitLine("1+ 2", Dec());
    s.MarkForParse();
    EXPECT_THROW(s.ParseTransmitLine("1+ 999", Dec()), tp::ETransmitParseError);
    EXPECT_EQ(s.TransmitLen(), 0);
    EXPECT_FALSE(s.StepTokens());
    EXPECT_TRUE(s.ParseNeeded());
}

TEST(transmit_parser, buffer_holds_at_most_65536_bytes) {
    const std::string tooMuch = "Too much data to transmit (more than 65536 bytes)";
    EXPECT_EQ(Parse(std::string(65534, 'a'), Asc("\r\n")).size(), 65536u);
    EXPECT_EQ(ErrorOf(std::string(65535, 'a'), Asc("\r\n")), tooMuch);
    EXPECT_EQ(ErrorOf(std::string(65537, 'a'), Asc()), tooMuch);

    EXPECT_EQ(Parse("\"" + std::string(65536, 'q') + "\"", Dec()).size(), 65536u);
    EXPECT_EQ(ErrorOf("\"" + std::string(65537, 'q') + "\"", Hex()), tooMuch);

    // A token that does not fit any more is refused whole, with its span.
    std::string line = "\"" + std::string(65535, 'q') + "\" 1";
    EXPECT_EQ(Parse(line, Dec()).size(), 65536u);
    line = "\"" + std::string(65535, 'q') + "\" 1W";
    const std::string at = std::to_string(65535 + 4);
    EXPECT_EQ(ErrorOf(line, Dec()), "_" + at + "-" + std::to_string(65535 + 5) + "_" + tooMuch);
    line = "\"" + std::string(65536, 'q') + "\" 1";
    EXPECT_EQ(ErrorOf(line, Dec()), "_" + std::to_string(65536 + 4) + "-" + std::to_string(65536 + 4) + "_" + tooMuch);

    TTransmitParser p;
    EXPECT_THROW(p.ParseTransmitLine(std::string(70000, 'a'), Asc()), tp::ETransmitParseError);
    EXPECT_EQ(p.TransmitLen(), 0);
}

TEST(transmit_parser, reverse_bytes_swaps_two_four_and_eight_byte_values) {
    EXPECT_EQ(TTransmitParser::ReverseBytes(0x0102, 2), 0x0201u);
    EXPECT_EQ(TTransmitParser::ReverseBytes(0x01020304, 4), 0x04030201u);
    EXPECT_EQ(TTransmitParser::ReverseBytes(0x0102030405060708ULL, 8), 0x0807060504030201ULL);
    EXPECT_EQ(TTransmitParser::ReverseBytes(0xAB, 1), 0xABu);
}

TEST(transmit_parser, error_text_splits_into_selection_and_message) {
    auto two = tp::SplitPositionedMessage("_3-5_Token \"258\" could not be converted to a number");
    EXPECT_TRUE(two.HasSpan);
    EXPECT_EQ(two.SelStart, 2);
    EXPECT_EQ(two.SelLength, 3);
    EXPECT_EQ(two.Message, "Token \"258\" could not be converted to a number");

    auto one = tp::SplitPositionedMessage("_7_Unexpected quotation mark");
    EXPECT_TRUE(one.HasSpan);
    EXPECT_EQ(one.SelStart, 6);
    EXPECT_EQ(one.SelLength, 1);
    EXPECT_EQ(one.Message, "Unexpected quotation mark");

    // Only the first "_" after the positions ends the prefix.
    auto hex = tp::SplitPositionedMessage("_2-4_Wrong HEX value (\"\\x_1\")");
    EXPECT_EQ(hex.SelStart, 1);
    EXPECT_EQ(hex.Message, "Wrong HEX value (\"\\x_1\")");

    for (const char* plain : {"Too much data to transmit (more than 65536 bytes)", "_abc_text", "_5-2_text", "_",
                              "_0_text", "__text", "_3-_text"}) {
        auto r = tp::SplitPositionedMessage(plain);
        EXPECT_FALSE(r.HasSpan) << plain;
        EXPECT_EQ(r.Message, plain);
    }

    // What the parser raises round-trips through the split.
    try {
        TTransmitParser p;
        p.ParseTransmitLine("1 2 300 4", Dec());
        FAIL() << "no error";
    } catch (const tp::ETransmitParseError& e) {
        auto r = tp::SplitPositionedMessage(e.Message);
        EXPECT_EQ(std::string("1 2 300 4").substr(static_cast<std::size_t>(r.SelStart),
                                                  static_cast<std::size_t>(r.SelLength)),
                  "300");
    }
}
