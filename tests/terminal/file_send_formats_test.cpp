#include "terminal/file_send_formats.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/rtl/exceptions.h"

namespace terminal {
namespace {

using namespace std::string_literals;

// The plan as the sender sees it: "bytes|pause" per chunk ("-" for none).
std::vector<std::string> Steps(const TSendPlan& plan) {
    std::vector<std::string> steps;
    for (const TSendChunk& c : plan.Chunks)
        steps.push_back(std::string(plan.Bytes(c)) + "|" +
                        (c.PauseMs ? std::to_string(*c.PauseMs) : std::string("-")));
    return steps;
}

std::string ErrorOf(const std::string& file) { return PlanTaggedBinaryFile(file).Error; }

TEST(file_send_formats, ascii_hex_pairs_digits_and_lets_a_single_digit_make_a_byte) {
    EXPECT_EQ(ParseAsciiHexFile("0A F 123"), "\x0A\x0F\x12\x03"s);
    EXPECT_EQ(ParseAsciiHexFile("ff,aB\r\n7"), "\xFF\xAB\x07"s);
    // Digits run on in pairs across the whole run, with no separator needed.
    EXPECT_EQ(ParseAsciiHexFile("0102030"), "\x01\x02\x03\x00"s);
    // Anything not a digit only separates, "x" and "G" included.
    EXPECT_EQ(ParseAsciiHexFile("0x1G2 zz"), "\x00\x01\x02"s);
    EXPECT_EQ(ParseAsciiHexFile(""), "");
    EXPECT_EQ(ParseAsciiHexFile("no digits here!"), "\x0D\x0E\x0E"s);  // d, e, e are digits
    EXPECT_EQ(ParseAsciiHexFile(" \t\r\n"), "");
}

TEST(file_send_formats, plain_binary_is_one_chunk_of_the_whole_file) {
    const std::string data("A\0<p=5>B"s);
    const TSendPlan plan = PlanBinaryFile(data);
    ASSERT_EQ(plan.Chunks.size(), 1u);
    EXPECT_EQ(plan.Bytes(plan.Chunks[0]), data);
    EXPECT_FALSE(plan.Chunks[0].PauseMs);
    EXPECT_TRUE(PlanBinaryFile("").Chunks.empty());
}

TEST(file_send_formats, tagged_file_sends_before_a_pause_tag_then_waits) {
    EXPECT_EQ(Steps(PlanTaggedBinaryFile("A<p=1000>B")),
              (std::vector<std::string>{"A|1000", "B|-"}));
    EXPECT_EQ(Steps(PlanTaggedBinaryFile("<p=0>")), (std::vector<std::string>{"|0"}));
    EXPECT_EQ(Steps(PlanTaggedBinaryFile("<p=100000>xy<p=007>")),
              (std::vector<std::string>{"|100000", "xy|7"}));
    // Two pauses in a row: the second follows nothing new.
    EXPECT_EQ(Steps(PlanTaggedBinaryFile("ab<p=1><p=2>c")),
              (std::vector<std::string>{"ab|1", "|2", "c|-"}));
    EXPECT_TRUE(PlanTaggedBinaryFile("").Chunks.empty());
    EXPECT_TRUE(PlanTaggedBinaryFile("<><!x>").Chunks.empty());
}

TEST(file_send_formats, tagged_file_escapes_and_ignores) {
    EXPECT_EQ(Steps(PlanTaggedBinaryFile("<<A")), (std::vector<std::string>{"<A|-"}));
    EXPECT_EQ(Steps(PlanTaggedBinaryFile("a<<<<b")), (std::vector<std::string>{"a<<b|-"}));
    // "<<" is taken before a tag is looked for: "<<p=5>" is "<", "p=5>".
    EXPECT_EQ(Steps(PlanTaggedBinaryFile("<<p=5>")), (std::vector<std::string>{"<p=5>|-"}));
    EXPECT_EQ(Steps(PlanTaggedBinaryFile("1<>2<! a comment >3")),
              (std::vector<std::string>{"123|-"}));
    // A ">" outside a tag and binary bytes are data.
    EXPECT_EQ(Steps(PlanTaggedBinaryFile("\x00>\xFF"s)),
              (std::vector<std::string>{"\x00>\xFF|-"s}));
}

TEST(file_send_formats, tagged_file_errors_carry_the_position_and_the_reason) {
    EXPECT_EQ(ErrorOf("abc<"), "Wrong formatting at position 3 (No close tag)");
    EXPECT_EQ(ErrorOf("<"), "Wrong formatting at position 0 (No close tag)");
    EXPECT_EQ(ErrorOf("ab<p=5"), "Wrong formatting at position 2 (No close tag)");
    // A wrong tag is placed just after its ">".
    EXPECT_EQ(ErrorOf("A<P=1000>B"), "Wrong formatting at position 9 (Wrong tag P=1000)");
    EXPECT_EQ(ErrorOf("A<p=100001>B"), "Wrong formatting at position 11 (Wrong tag p=100001)");
    EXPECT_EQ(ErrorOf("<p=>"), "Wrong formatting at position 4 (Wrong tag p=)");
    EXPECT_EQ(ErrorOf("<p= 5>"), "Wrong formatting at position 6 (Wrong tag p= 5)");
    EXPECT_EQ(ErrorOf("<p=-1>"), "Wrong formatting at position 6 (Wrong tag p=-1)");
    EXPECT_EQ(ErrorOf("<p=99999999999999999999>"),
              "Wrong formatting at position 24 (Wrong tag p=99999999999999999999)");
    EXPECT_EQ(ErrorOf("<x>"), "Wrong formatting at position 3 (Wrong tag x)");
    // Positions count the file's bytes, not the bytes kept after "<<" and tags.
    EXPECT_EQ(ErrorOf("<<<!c><"), "Wrong formatting at position 6 (No close tag)");
}

TEST(file_send_formats, tagged_file_error_keeps_chunks_of_earlier_pauses_only) {
    const TSendPlan plan = PlanTaggedBinaryFile("one<p=10>two<bad>three");
    EXPECT_EQ(Steps(plan), (std::vector<std::string>{"one|10"}));
    EXPECT_EQ(plan.Error, "Wrong formatting at position 17 (Wrong tag bad)");
    EXPECT_EQ(plan.TotalBytes(), 3u);
    // Without an earlier pause, nothing at all is sent.
    EXPECT_TRUE(PlanTaggedBinaryFile("two<bad>").Chunks.empty());
}

TEST(file_send_formats, a_huge_wrong_tag_is_cut_in_the_message) {
    const std::string file = "<" + std::string(5000, 'z') + ">";
    const std::string error = ErrorOf(file);
    EXPECT_EQ(error,
              "Wrong formatting at position 5002 (Wrong tag " + std::string(100, 'z') + "...)");
}

TEST(file_send_formats, large_tagged_file_is_compacted_in_its_own_buffer) {
    std::string file;
    for (int i = 0; i < 20000; ++i) file += "<<data<!c>";
    file += "<p=1>tail";
    const std::size_t capacity = file.capacity();
    const char* buffer = file.data();
    const TSendPlan plan = PlanTaggedBinaryFile(std::move(file));
    EXPECT_EQ(plan.Data.data(), buffer);  // moved, not copied
    EXPECT_EQ(plan.Data.capacity(), capacity);
    ASSERT_EQ(plan.Chunks.size(), 2u);
    EXPECT_EQ(plan.Chunks[0].Length, 20000u * 5);
    EXPECT_EQ(plan.Bytes(plan.Chunks[0]).substr(0, 10), "<data<data");
    EXPECT_EQ(plan.Bytes(plan.Chunks[1]), "tail");
}

// A port, a message loop and a clock for a tagged transfer: each write takes
// WriteMs, each nap its length; the user presses Cancel at CancelAtMs.
struct FakeSender {
    std::uint64_t now = 0;
    std::uint64_t WriteMs = 0;
    std::uint64_t CancelAtMs = UINT64_MAX;
    std::vector<std::string> log;  // "w:bytes@ms" and "m@ms"
    bool cancelled = false;

    TSendHooks Hooks() {
        TSendHooks h;
        h.Write = [this](std::string_view b) {
            log.push_back("w:" + std::string(b) + "@" + std::to_string(now));
            now += WriteMs;
        };
        h.ProcessMessages = [this] {
            log.push_back("m@" + std::to_string(now));
            if (now >= CancelAtMs) cancelled = true;
        };
        h.Cancelled = [this] { return cancelled; };
        h.NowMs = [this] { return now; };
        h.Sleep = [this](std::uint32_t ms) { now += ms; };
        return h;
    }
    std::vector<std::string> Writes() const {
        std::vector<std::string> w;
        for (const std::string& e : log)
            if (e[0] == 'w') w.push_back(e);
        return w;
    }
    int Messages() const {
        return static_cast<int>(std::count_if(log.begin(), log.end(),
                                              [](const std::string& e) { return e[0] == 'm'; }));
    }
};

TEST(file_send_formats, tagged_transfer_pauses_between_chunks_and_cancels_in_a_pause) {
    FakeSender s;
    EXPECT_TRUE(SendTaggedPlan(PlanTaggedBinaryFile("A<p=1000>B"), s.Hooks()));
    EXPECT_EQ(s.Writes(), (std::vector<std::string>{"w:A@0", "w:B@1000"}));
    EXPECT_EQ(s.Messages(), 1000);  // every millisecond of the pause

    FakeSender c;
    c.CancelAtMs = 300;
    EXPECT_FALSE(SendTaggedPlan(PlanTaggedBinaryFile("A<p=1000>B<p=5>C"), c.Hooks()));
    EXPECT_EQ(c.Writes(), (std::vector<std::string>{"w:A@0"}));
    EXPECT_EQ(c.now, 300u);  // ended at once, not after the whole pause

    // A Cancel seen while messages are handled between chunks keeps the
    // last chunk unsent.
    FakeSender late;
    late.WriteMs = 600;
    late.CancelAtMs = 0;
    EXPECT_FALSE(SendTaggedPlan(PlanTaggedBinaryFile("A<p=0>B"), late.Hooks()));
    EXPECT_EQ(late.Writes(), (std::vector<std::string>{"w:A@0"}));
}

TEST(file_send_formats, tagged_transfer_handles_messages_at_most_every_half_second_between_chunks) {
    std::string file;
    for (int i = 0; i < 10; ++i) file += "x<p=0>";
    FakeSender s;
    s.WriteMs = 200;
    EXPECT_TRUE(SendTaggedPlan(PlanTaggedBinaryFile(file), s.Hooks()));
    EXPECT_EQ(s.Writes().size(), 10u);
    // 2000 ms of writing, messages after 600, 1200 and 1800 ms.
    EXPECT_EQ(s.Messages(), 3);
}

TEST(file_send_formats, tagged_transfer_raises_the_format_error_after_earlier_chunks) {
    FakeSender s;
    try {
        SendTaggedPlan(PlanTaggedBinaryFile("A<p=2>B<oops>C"), s.Hooks());
        FAIL() << "no error";
    } catch (const rtl::Exception& e) {
        EXPECT_STREQ(e.what(), "Wrong formatting at position 13 (Wrong tag oops)");
    }
    EXPECT_EQ(s.Writes(), (std::vector<std::string>{"w:A@0"}));
}

std::string LogLine(const std::string& head, const std::string& data) {
    return head + "3FE0000000000000\t" + data + "\r\n";
}

TEST(file_send_formats, self_log_sends_received_data_lines_only) {
    const std::string log = LogLine("01", "0A 0B") +    // HEX, received
                            LogLine("21", "FF") +       // transmitted: skipped
                            LogLine("00", "001 255") +  // DEC
                            LogLine("06", "Break") +    // ERR: skipped
                            LogLine("17", "Hello") +    // MSG: skipped
                            LogLine("14",
                                    "A\x95"
                                    "0DB") +            // ASC with a hidden code
                            LogLine("13", "0201") +     // HW: low byte first
                            LogLine("15", "00000011");  // BIN
    EXPECT_EQ(SelfLogSendBytes(log),
              "\x0A\x0B\x01\xFF"
              "A\x0D"
              "B\x01\x02\x03"s);
    EXPECT_EQ(SelfLogSendBytes(""), "");
    // LF alone ends a line too, and the last line needs no end.
    EXPECT_EQ(SelfLogSendBytes("013FE0000000000000\t01\n013FE0000000000000\t02"), "\x01\x02"s);
}

TEST(file_send_formats, faulty_self_log_raises_and_sends_nothing) {
    try {
        SelfLogSendBytes(LogLine("01", "0A") + "01short\r\n");
        FAIL() << "no error";
    } catch (const rtl::Exception& e) {
        EXPECT_STREQ(e.what(), "Wrong line format at line 2");
    }
    try {
        SelfLogSendBytes("013FE0000000000000 0A\r\n");  // blank where the TAB belongs
        FAIL() << "no error";
    } catch (const rtl::Exception& e) {
        EXPECT_STREQ(e.what(), "Wrong line format at line 1");
    }
    // An empty line among records is a short line too.
    EXPECT_THROW(SelfLogSendBytes(LogLine("01", "0A") + "\r\n" + LogLine("01", "0B")),
                 rtl::Exception);
    // Fields the receive list would not load are refused the same way.
    for (const std::string& bad : {LogLine("x1", "0A"), LogLine("31", "0A"), LogLine("08", "0A"),
                                   "01ZZZZ000000000000\t0A\r\n"s})
        EXPECT_THROW(SelfLogSendBytes(bad), rtl::Exception) << bad;
    try {
        SelfLogSendBytes(LogLine("01", "0A") + LogLine("00", "001") + LogLine("01", "0A GG"));
        FAIL() << "no error";
    } catch (const rtl::EConvertError& e) {
        EXPECT_STREQ(e.what(), "'$GG' is not a valid integer value at line 3");
    }
}

}  // namespace
}  // namespace terminal
