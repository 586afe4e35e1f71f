#include "terminal/receive_list_files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <bit>
#include <cmath>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "platform/rtl/datetime.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/numbers.h"
#include "platform/vcl/file_save.h"
#include "platform/vcl/streams.h"
#include "support/fifo.h"
#include "support/fifo_reader.h"
#include "support/qt_app.h"
#include "support/temp_dir.h"
#include "terminal/receive_panel.h"
#include "support/processor_share.h"

namespace terminal {
namespace {

double Stamp(int h, int mi, int s, int ms) {
    return rtl::EncodeDate(2026, 12, 7) + rtl::EncodeTime(h, mi, s, ms);
}

class FakeClock : public TReceiveClock {
public:
    double Now = Stamp(10, 20, 30, 400);
    double LocalNow() override { return Now; }
    std::int64_t Counter() override { return 0; }
    std::int64_t CounterFrequency() override { return 1000; }
};

struct PanelFixture {
    FakeClock Clock;
    TReceivePanel Panel{Clock};
    PanelFixture() {
        Panel.SetListMetrics({1, 10, 80 + 4, 100 * 10 + 5, 0});
        Panel.StartNewLine(true);
    }
    std::vector<std::string> Texts() const {
        std::vector<std::string> out;
        for (int i = 0; i < Panel.Lines().LineCount(); ++i) out.push_back(Panel.Lines().GetLine(i));
        return out;
    }
};

std::string ReadFile(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::string& name, const std::string& data) {
    std::ofstream(name, std::ios::binary) << data;
}

std::string LoadError(const std::string& name, TLineStore& list) {
    try {
        LoadSelfLog(name, list, TPrefixStyle{tpNone, {}, false});
    } catch (const rtl::Exception& e) {
        return e.Message;
    }
    return "loaded";
}

TEST(receive_list_files, internal_line_holds_direction_format_time_bits_and_data) {
    EXPECT_EQ(FormatSelfLogLine(TLineRecord{1, 0.5, dfHEX, 9}, "0A 0B"),
              "113FE0000000000000\t0A 0B\r\n");
    // Upper-case hexadecimal digits, and the sign bit of a time before 1899.
    EXPECT_EQ(FormatSelfLogLine(TLineRecord{2, -1.25, dfMSG, 0}, ""), "27BFF4000000000000\t\r\n");

    TLineRecord record;
    std::string_view data;
    ASSERT_TRUE(ParseSelfLogLine("113fe0000000000000\t0A 0B", record, data));
    EXPECT_EQ(record.Dir, 1);
    EXPECT_EQ(record.Format, dfHEX);
    EXPECT_EQ(record.Time, 0.5);
    EXPECT_EQ(data, "0A 0B");
    ASSERT_TRUE(ParseSelfLogLine("0740E0000000000000\t", record, data));
    EXPECT_EQ(record.Format, dfMSG);
    EXPECT_EQ(data, "");
}

TEST(receive_list_files, parse_refuses_every_kind_of_broken_line) {
    TLineRecord record;
    std::string_view data;
    const char* bad[] = {
        "",
        "113FE000000000000\t0A",   // 15 digits
        "113FE0000000000000 0A",  // no TAB
        "113FE00000000G0000\t0A", // not a digit
        "113FE00000 0000000\t0A", // blank inside
        "313FE0000000000000\t0A", // direction 3
        "183FE0000000000000\t0A", // format 8
        "x13FE0000000000000\t0A", // direction not a digit
        "1-3FE0000000000000\t0A", // format not a digit
        "117FF8000000000000\t0A", // NaN
        "117FF0000000000000\t0A", // infinity
        "11FFF0000000000000\t0A", // minus infinity
        "117E37E43C8800759C\t0A", // 1E300: no calendar date
        "11C1E0000000000000\t0A", // -2^31 days
    };
    for (const char* line : bad) EXPECT_FALSE(ParseSelfLogLine(line, record, data)) << line;
}

TEST(receive_list_files, received_hex_round_trips_through_internal_and_binary_files) {
    test_support::TempDir dir;
    PanelFixture f;
    f.Panel.RVPnlTime = tpMilliseconds;
    f.Panel.ShowData("\x0A\x0B", 0);
    f.Clock.Now = Stamp(10, 20, 31, 5);
    f.Panel.AddTextLine("port opened", 0, 0, dfMSG);
    const std::vector<std::string> before = f.Texts();
    ASSERT_EQ(before[0], "10:20:30.400<0A 0B");
    const TLineRecord first = f.Panel.Lines().LineRecord(0);

    SaveList(f.Panel.Lines(), dir.File("a.cp"), TListFileType::Internal);
    SaveList(f.Panel.Lines(), dir.File("a.bin"), TListFileType::Binary);
    SaveList(f.Panel.Lines(), dir.File("a.txt"), TListFileType::Text);
    EXPECT_EQ(ReadFile(dir.File("a.bin")), "\x0A\x0B");
    // Two lines: the empty current line is no line of the log.
    const std::string cp = ReadFile(dir.File("a.cp"));
    EXPECT_EQ(cp.substr(0, 19), "01" + rtl::IntToHex(std::bit_cast<unsigned long long>(first.Time), 16) + "\t");
    EXPECT_EQ(cp.substr(cp.size() - 14), "\tport opened\r\n");
    EXPECT_EQ(std::count(cp.begin(), cp.end(), '\n'), 2);
    EXPECT_EQ(ReadFile(dir.File("a.txt")), f.Panel.Lines().AllText());
    EXPECT_EQ(ReadFile(dir.File("a.txt")), "10:20:30.400<0A 0B\r\n10:20:31.005<port opened\r\n\r\n");

    f.Panel.ClearLines();
    LoadPanelList(dir.File("a.cp"), f.Panel);
    // The loaded lines, then the empty current line started after them.
    std::vector<std::string> expected = before;
    EXPECT_EQ(f.Texts(), expected);
    const TLineRecord loaded = f.Panel.Lines().LineRecord(0);
    EXPECT_EQ(loaded.Time, first.Time);
    EXPECT_EQ(loaded.Dir, first.Dir);
    EXPECT_EQ(loaded.Format, dfHEX);
    EXPECT_EQ(loaded.PrefixLen, first.PrefixLen);
    EXPECT_EQ(f.Panel.Lines().LineRecord(1).Format, dfMSG);
    EXPECT_EQ(f.Panel.Lines().LineBytes(0), "\x0A\x0B");
    EXPECT_EQ(f.Panel.UpdateCount(), 0);

    // Received data goes on a line of its own, the loaded ones unchanged.
    f.Panel.ShowData("\xFF", 0);
    expected.back() = "10:20:31.005<FF";
    EXPECT_EQ(f.Texts(), expected);

    // The prefix is made with the settings at loading time.
    f.Panel.RVPnlTime = tpMinutes;
    LoadPanelList(dir.File("a.cp"), f.Panel);
    EXPECT_EQ(f.Texts(), (std::vector<std::string>{"10:20<0A 0B", "10:20<port opened", ""}));
}

TEST(receive_list_files, binary_file_holds_the_bytes_of_every_data_line) {
    test_support::TempDir dir;
    TLineStore lines;
    lines.AddLine("001 255", TLineRecord{0, 0, dfDEC, 0});
    lines.AddLine("12:00<Err = 5", TLineRecord{0, 0, dfERR, 6});
    lines.AddLine("hello", TLineRecord{2, 0, dfMSG, 0});
    lines.AddLine("> 00513", TLineRecord{2, 0, dfDW, 2});  // transmitted lines count too
    lines.AddLine("A\x95" "0D", TLineRecord{1, 0, dfASC, 0});
    lines.AddLine("10000000 00000001", TLineRecord{1, 0, dfBIN, 0});
    lines.AddLine("FFFE", TLineRecord{1, 0, dfHW, 0});
    SaveList(lines, dir.File("b.bin"), TListFileType::Binary);
    EXPECT_EQ(ReadFile(dir.File("b.bin")), std::string("\x01\xFF\x01\x02" "A\x0D\x80\x01\xFE\xFF", 10));

    // An edited line that is no number any more is reported, not skipped.
    lines.AddLine("1Z", TLineRecord{0, 0, dfHEX, 0});
    EXPECT_THROW(SaveList(lines, dir.File("c.bin"), TListFileType::Binary), rtl::EConvertError);
    // Saving over an existing file replaces it; an empty list gives an empty file.
    TLineStore empty;
    SaveList(empty, dir.File("b.bin"), TListFileType::Binary);
    EXPECT_EQ(ReadFile(dir.File("b.bin")), "");
    EXPECT_THROW(SaveList(empty, dir.File("no/such/x.bin"), TListFileType::Text), vcl::EFileSaveError);
}

TEST(receive_list_files, wrong_line_stops_loading_and_keeps_the_lines_before_it) {
    test_support::TempDir dir;
    const std::string good = "013FE0000000000000\t01 02\r\n";
    const char* badLines[] = {"too short", "013FE0000000000000 01", "013FE00000000000ZZ\t01",
                              "017FF8000000000000\t01", "317FF8000000000000\t01",
                              "093FE0000000000000\t01", "\r"};
    for (const char* bad : badLines) {
        WriteFile(dir.File("w.cp"), good + bad + "\r\n" + good);
        TLineStore list;
        list.AddLine("old", {});
        EXPECT_EQ(LoadError(dir.File("w.cp"), list), "Wrong line format at line 2") << bad;
        ASSERT_EQ(list.LineCount(), 1) << bad;
        EXPECT_EQ(list.GetLine(0), "01 02");
    }

    // In the panel the loaded line stays untouched by data received after the
    // failed load: a fresh current line follows it.
    PanelFixture f;
    f.Panel.RVPnlTime = tpNone;
    f.Panel.ShowData("\x07", 0);
    WriteFile(dir.File("w.cp"), good + "garbage\r\n");
    try {
        LoadPanelList(dir.File("w.cp"), f.Panel);
        ADD_FAILURE() << "loaded a broken file";
    } catch (const rtl::Exception& e) {
        EXPECT_EQ(e.Message, "Wrong line format at line 2");
    }
    EXPECT_EQ(f.Panel.UpdateCount(), 0);
    f.Panel.ShowData("\x09", 0);
    EXPECT_EQ(f.Texts(), (std::vector<std::string>{"01 02", "09"}));

    // A file that cannot be opened is the stream's error.
    EXPECT_THROW(LoadPanelList(dir.File("missing.cp"), f.Panel), rtl::EFOpenError);
}

TEST(receive_list_files, a_file_refused_at_its_first_line_or_unreadable_changes_nothing) {
    test_support::TempDir dir;
    const std::string good = "013FE0000000000000\t01 02\r\n";
    int accepted = 0;
    auto load = [&](const std::string& name, TLineStore& list) {
        try {
            LoadSelfLog(name, list, TPrefixStyle{tpNone, {}, false}, [&] { ++accepted; });
        } catch (const rtl::Exception& e) {
            return e.Message;
        }
        return std::string("loaded");
    };
    TLineStore list;
    list.AddLine("old", {});
    // A short line, a broken field, a file with no line end at all (given up
    // at its head, not read whole), a lone line end.
    const std::string badFirst[] = {"x\r\n" + good, "01ZZ000000000000000\t1\r\n" + good,
                                    std::string(3u << 20, 'x'), "\n" + good};
    for (const std::string& bad : badFirst) {
        WriteFile(dir.File("bad.cp"), bad);
        EXPECT_EQ(load(dir.File("bad.cp"), list), "Wrong line format at line 1") << bad.substr(0, 20);
    }
    // Missing, a folder, and a read that fails.
    EXPECT_EQ(load(dir.File("missing.cp"), list).substr(0, 17), "Cannot open file ");
    EXPECT_EQ(load(dir.path(), list),
              "Cannot read \"" + dir.path() + "\": it is not a regular file (a folder, a device or a pipe)");
    EXPECT_EQ(load("/proc/self/mem", list), "Cannot read \"/proc/self/mem\": Input/output error");
    EXPECT_EQ(accepted, 0);
    ASSERT_EQ(list.LineCount(), 1);
    EXPECT_EQ(list.GetLine(0), "old");

    // Refused later, the lines before it are loaded, as before.
    WriteFile(dir.File("late.cp"), good + "broken\r\n");
    EXPECT_EQ(load(dir.File("late.cp"), list), "Wrong line format at line 2");
    EXPECT_EQ(accepted, 1);
    ASSERT_EQ(list.LineCount(), 1);
    EXPECT_EQ(list.GetLine(0), "01 02");
    // An empty file is a list without lines.
    WriteFile(dir.File("empty.cp"), "");
    EXPECT_EQ(load(dir.File("empty.cp"), list), "loaded");
    EXPECT_EQ(accepted, 2);
    EXPECT_EQ(list.LineCount(), 0);
}

TEST(receive_list_files, empty_files_garbage_and_huge_lines_load_safely) {
    test_support::TempDir dir;
    TLineStore list;
    WriteFile(dir.File("e.cp"), "");
    EXPECT_EQ(LoadError(dir.File("e.cp"), list), "loaded");
    EXPECT_EQ(list.LineCount(), 0);

    // Binary garbage: NUL bytes, lone CRs and bytes above 127 are refused at
    // the first line.
    std::string garbage;
    for (int i = 0; i < 5000; ++i) garbage.push_back(static_cast<char>((i * 7919 + 13) % 256));
    WriteFile(dir.File("g.cp"), garbage);
    EXPECT_EQ(LoadError(dir.File("g.cp"), list), "Wrong line format at line 1");
    EXPECT_EQ(list.LineCount(), 0);
    // Megabytes without a line end are refused from their first characters.
    WriteFile(dir.File("n.cp"), "0040E0000000000000\tok\r\n" + std::string(3 * 1024 * 1024, 'x'));
    EXPECT_EQ(LoadError(dir.File("n.cp"), list), "Wrong line format at line 2");
    EXPECT_EQ(list.LineCount(), 1);

    // A line of 3 MB spans several read blocks; LF-only line ends, a last line
    // without an end and a CR inside a message line are all read.
    const std::string huge(3 * 1024 * 1024 + 7, 'x');
    TLineStore lines;
    lines.AddLine("", TLineRecord{0, 0.25, dfMSG, 0});
    lines.AddLine(huge, TLineRecord{1, 0.75, dfASC, 0});
    lines.AddLine("a\rb", TLineRecord{2, 1.0, dfMSG, 0});
    SaveList(lines, dir.File("h.cp"), TListFileType::Internal);
    std::string saved = ReadFile(dir.File("h.cp"));
    ASSERT_EQ(saved.size(), 3 * (19 + 2) + huge.size() + 3);
    ASSERT_EQ(LoadError(dir.File("h.cp"), list), "loaded");
    ASSERT_EQ(list.LineCount(), 3);
    EXPECT_EQ(list.GetLine(1), huge);
    EXPECT_EQ(list.LineRecord(1).Time, 0.75);
    EXPECT_EQ(list.GetLine(2), "a\rb");

    WriteFile(dir.File("lf.cp"), "0040E0000000000000\tone\n1740E0000000000000\ttwo");
    ASSERT_EQ(LoadError(dir.File("lf.cp"), list), "loaded");
    ASSERT_EQ(list.LineCount(), 2);
    EXPECT_EQ(list.GetLine(1), "two");
    EXPECT_EQ(list.LineRecord(1).Dir, 1);
}

TEST(receive_list_files, loaded_prefix_follows_style_and_fits_the_record) {
    test_support::TempDir dir;
    TLineStore lines;
    lines.AddLine("41", TLineRecord{1, Stamp(13, 5, 7, 9), dfHEX, 0});
    SaveList(lines, dir.File("p.cp"), TListFileType::Internal);
    TLineStore list;
    LoadSelfLog(dir.File("p.cp"), list, TPrefixStyle{tpSeconds, {}, true});
    EXPECT_EQ(list.GetLine(0), "13:05:07\xAB" "41");
    EXPECT_EQ(list.LineRecord(0).PrefixLen, 9);
    EXPECT_EQ(list.LineData(0), "41");

    // A free format longer than a record can describe is cut to fit.
    LoadSelfLog(dir.File("p.cp"), list, TPrefixStyle{tpFreeFormat, '"' + std::string(300, 'y') + '"', true});
    EXPECT_EQ(list.LineRecord(0).PrefixLen, 255);
    EXPECT_EQ(list.LineData(0), "41");
}

TEST(receive_list_files, output_file_takes_text_or_raw_data_and_refuses_internal_format) {
    test_support::TempDir dir;
    TListOutput out;
    WriteFile(dir.File("keep.cp"), "precious");
    try {
        out.Open(dir.File("keep.cp"), TListFileType::Internal);
        ADD_FAILURE() << "internal format opened for output";
    } catch (const rtl::Exception& e) {
        EXPECT_EQ(e.Message, "This file type is not supported for output");
    }
    EXPECT_FALSE(out.IsOpen());
    EXPECT_EQ(ReadFile(dir.File("keep.cp")), "precious");

    // Raw: chunks as they come, the old contents gone.
    WriteFile(dir.File("raw.bin"), "old contents");
    out.Open(dir.File("raw.bin"), TListFileType::Binary);
    ASSERT_TRUE(out.IsOpen());
    EXPECT_TRUE(out.Raw());
    out.Write(std::string("\x00\x01\xFF", 3));
    out.Write("AB");
    EXPECT_EQ(ReadFile(dir.File("raw.bin")), std::string("\x00\x01\xFF" "AB", 5));
    // Clear: emptied, still open, and writing goes on from the start.
    out.Empty();
    EXPECT_EQ(ReadFile(dir.File("raw.bin")), "");
    out.Write("C");
    EXPECT_EQ(ReadFile(dir.File("raw.bin")), "C");

    // Opening another file closes the first; text mode takes the panel's text.
    PanelFixture f;
    f.Panel.RVPnlTime = tpNone;
    out.Open(dir.File("log.txt"), TListFileType::Text);
    EXPECT_FALSE(out.Raw());
    EXPECT_EQ(out.FileName(), dir.File("log.txt"));
    f.Panel.WriteTo(&out);
    f.Panel.ShowData("\x01\x02", 0);
    f.Panel.StartNewLine(true);
    f.Panel.ShowData("\x03", 0);
    EXPECT_EQ(ReadFile(dir.File("log.txt")), "01 02\r03");
    f.Panel.WriteTo(nullptr);

    out.Close();
    EXPECT_FALSE(out.IsOpen());
    EXPECT_EQ(out.FileName(), dir.File("log.txt")) << "a closed output names the file it wrote";
    out.Write("lost?");  // nothing to write to: ignored
    out.Empty();
    EXPECT_EQ(ReadFile(dir.File("log.txt")), "01 02\r03");
    EXPECT_EQ(ReadFile(dir.File("raw.bin")), "C");
    EXPECT_THROW(out.Open(dir.File("no/such/dir.txt"), TListFileType::Text), rtl::EFCreateError);
    EXPECT_FALSE(out.IsOpen());
}

// What a reader of the FIFO has there now, taken without waiting.
std::string Drain(int Reader) {
    std::string got;
    char buf[65536];
    for (ssize_t n; (n = read(Reader, buf, sizeof buf)) > 0;) got.append(buf, static_cast<std::size_t>(n));
    return got;
}

TEST(receive_list_files, output_to_a_fifo_never_waits_and_ends_cleanly_whatever_its_reader_does) {
    test_support::TempDir dir;
    TListOutput out;
    // No program reads it: refused by what it is, without waiting.
    const test_support::Fifo unread(dir.File("unread"));
    ASSERT_TRUE(unread.Made());
    try {
        out.Open(unread.path(), TListFileType::Binary);
        ADD_FAILURE() << "output opened on a FIFO nobody reads";
    } catch (const rtl::Exception& e) {
        EXPECT_EQ(e.Message, "Cannot create file \"" + unread.path() + "\". It is a pipe that no program reads");
    }
    EXPECT_FALSE(out.IsOpen());
    EXPECT_FALSE(unread.Rescued()) << "the open waited for a reader";

    // A reader there: opened, "Clear" has nothing to empty, the data flows.
    const test_support::Fifo pipe(dir.File("pipe"));
    ASSERT_TRUE(pipe.Made());
    int reader = open(pipe.path().c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    out.Open(pipe.path(), TListFileType::Binary);
    ASSERT_TRUE(out.IsOpen());
    EXPECT_NO_THROW(out.Empty());
    EXPECT_TRUE(out.Write("captured"));
    EXPECT_EQ(Drain(reader), "captured");

    // The reader stops reading: what the pipe cannot take stays with the
    // output and the write returns at once; once nothing is taken for the
    // allowed time, output fails and closes from the loop, and says so,
    // instead of holding the window for good.
    test_support::EnsureQtApplication();
    out.StallLimit = std::chrono::milliseconds(50);
    int gone = 0;
    out.OnSettle = [&](TListOutput&) { ++gone; };
    EXPECT_TRUE(out.Write(std::string(4u << 20, 'x')));
    EXPECT_TRUE(out.Holding());
    EXPECT_TRUE(out.Write("behind it"));
    EXPECT_TRUE(test_support::PumpUntil([&] { return gone > 0; }));
    EXPECT_EQ(gone, 1);
    EXPECT_FALSE(out.IsOpen());
    EXPECT_TRUE(out.FailurePending());
    EXPECT_EQ(out.Failure(),
              "Cannot write \"" + pipe.path() + "\": the program or device reading it stopped taking data");
    EXPECT_TRUE(out.TakeFailedChunks().empty());
    EXPECT_FALSE(out.Holding());
    Drain(reader);

    // The reader goes away: the next write fails with the system's reason,
    // and the program goes on (the signal a pipe raises would end it).
    out.Open(pipe.path(), TListFileType::Binary);
    close(reader);
    EXPECT_FALSE(out.Write("into nothing"));
    EXPECT_EQ(out.Failure(), "Cannot write \"" + pipe.path() + "\": Broken pipe");
    EXPECT_FALSE(out.IsOpen());
    EXPECT_FALSE(pipe.Rescued());
}

// A pipe that stops taking fails the output; of what was given to it, the
// list gets exactly the bytes the reader never got, chunk by chunk: a chunk
// the pipe took whole is gone, one it took in part leaves its rest, whether
// its bytes went as they came or as the panel's text. A reader that takes
// less than a page at a time makes no room for a write but still takes:
// that is no stall.
TEST(receive_list_files, a_pipe_that_stops_taking_leaves_the_list_what_it_never_got_once) {
    test_support::EnsureQtApplication();
    test_support::TempDir dir;
    const test_support::Fifo pipe(dir.File("pipe"));
    ASSERT_TRUE(pipe.Made());
    test_support::FifoReader reader(pipe.path());
    ASSERT_TRUE(reader.SetCapacity(4096));
    TListOutput out;
    out.StallLimit = std::chrono::milliseconds(300);
    bool gone = false;
    out.OnSettle = [&](TListOutput&) { gone = true; };
    out.Open(pipe.path(), TListFileType::Binary);
    const std::string a(3000, 'A'), b(3000, 'B'), c(10000, 'C');
    for (const std::string* chunk : {&a, &b, &c}) {
        const std::uint64_t start = out.Given();
        ASSERT_TRUE(out.Write(*chunk));
        out.KeepUntilWritten({0, *chunk, 0, 0, {}, false, false, {}}, start);
    }
    ASSERT_TRUE(out.HasBacklog());
    // The reader takes exactly A and B, then stops; the pipe fills with C.
    std::string got;
    ASSERT_TRUE(test_support::PumpUntil([&] {
        got += reader.TakeSome(a.size() + b.size() - got.size());
        return got.size() == a.size() + b.size();
    }));
    ASSERT_TRUE(test_support::PumpUntil([&] { return gone; }));
    EXPECT_TRUE(out.FailurePending());
    EXPECT_TRUE(out.Holding()) << "what comes next went on before the failure was settled";
    const std::string piped = got + reader.Take();
    std::vector<TUnwrittenChunk> rest = out.TakeFailedChunks();
    EXPECT_FALSE(out.Holding());
    ASSERT_EQ(rest.size(), 1u) << "a chunk the pipe took whole came back";
    EXPECT_EQ(piped + rest[0].Bytes, a + b + c);

    // As text: the bytes whose whole token reached the pipe are its; the
    // rest of the chunk shows from the first token it did not get whole.
    {
        test_support::FifoReader text_reader(pipe.path());
        ASSERT_TRUE(text_reader.SetCapacity(4096));
        TListOutput text;
        text.StallLimit = std::chrono::milliseconds(300);
        gone = false;
        text.OnSettle = [&](TListOutput&) { gone = true; };
        text.Open(pipe.path(), TListFileType::Text);
        PanelFixture f;
        f.Panel.RVPnlTime = tpNone;
        f.Panel.WriteTo(&text);
        std::string sent;
        for (int i = 0; i < 6; ++i) {
            std::string chunk(1000, '\0');
            for (std::size_t k = 0; k < chunk.size(); ++k) chunk[k] = static_cast<char>((k * 7 + i) & 0xFF);
            const std::uint64_t start = text.Given();
            text.BeginChunk();
            f.Panel.ShowData(chunk, 0);
            text.KeepUntilWritten({0, chunk, 0, 0, {}, true, false, {}}, start);
            sent += chunk;
        }
        std::string taken = text_reader.TakeSome(5000);
        ASSERT_TRUE(test_support::PumpUntil([&] { return gone; }));
        taken += text_reader.Take();
        std::string piped_bytes;
        for (std::size_t at = 0; at < taken.size();) {
            const std::size_t end = taken.find_first_of(" \r", at);
            if (end == std::string::npos) break;  // a token the pipe took in part
            if (end - at == 2) piped_bytes.push_back(static_cast<char>(std::stoi(taken.substr(at, 2), nullptr, 16)));
            at = end + 1;
        }
        std::string listed;
        for (const TUnwrittenChunk& chunk : text.TakeFailedChunks()) listed += chunk.Bytes;
        EXPECT_EQ(piped_bytes.size() + listed.size(), sent.size()) << piped_bytes.size() << " " << listed.size() << " tail: " << taken.substr(taken.size() > 80 ? taken.size() - 80 : 0);
        EXPECT_TRUE(piped_bytes + listed == sent) << "a byte was lost or shown twice";
        f.Panel.WriteTo(nullptr);
    }

    // A reader that takes a little at a time, never a page: no write goes
    // through for longer than the stall limit, and still the output stays.
    out.Open(pipe.path(), TListFileType::Binary);
    gone = false;
    reader.Take();
    ASSERT_TRUE(out.Write(std::string(20000, 'x')));
    reader.TakeEvery(100, std::chrono::milliseconds(10));
    // (A reader that a busy machine kept from running for the stall limit
    // took nothing all that while: then the check is void.)
    test_support::TimeBounds bounds;
    test_support::ProcessorShare share;
    // A span of the clock (the output's stall limit is one too), judged by
    // the waits below.
    test_support::Pump(std::chrono::milliseconds(1500));
    const bool givenUp = gone;
    share.Sample();
    if (givenUp && share.Waited() + std::chrono::milliseconds(20) >= std::chrono::milliseconds(300)) {
        bounds.AddVoid("the output was given up while a thread of the test waited " +
                       std::to_string(share.Waited().count()) + " ms for a processor");
    } else {
        EXPECT_FALSE(givenUp);
        EXPECT_TRUE(out.IsOpen()) << "a reader that still took was given up";
    }
    reader.StopTaking();
    EXPECT_TRUE(test_support::PumpUntil([&] { return gone; }));
    EXPECT_FALSE(out.IsOpen());
    if (bounds.Void()) GTEST_SKIP() << bounds.Text();
}

// The program ends with a backlog: the output waits for a reader that goes
// on taking, however long that takes in all, and gives up only on one that
// takes nothing for the stall limit, saying how much it never got.
TEST(receive_list_files, the_last_write_waits_for_a_reader_that_takes_and_counts_what_a_stopped_one_never_got) {
    test_support::EnsureQtApplication();
    test_support::TempDir dir;
    const test_support::Fifo pipe(dir.File("pipe"));
    ASSERT_TRUE(pipe.Made());
    test_support::FifoReader reader(pipe.path());
    ASSERT_TRUE(reader.SetCapacity(4096));
    TListOutput out;
    out.StallLimit = std::chrono::milliseconds(1000);
    out.Open(pipe.path(), TListFileType::Binary);
    const std::string data(300000, 'y');
    ASSERT_TRUE(out.Write(data));
    ASSERT_TRUE(out.HasBacklog());
    // 4 KB every 20 ms: some 1.5 s in all, longer than the stall limit, and
    // each pause far shorter, so that a reader a busy machine holds back for
    // a while is not given up.
    test_support::TimeBounds bounds;
    reader.TakeEvery(4096, std::chrono::milliseconds(20), true);
    const std::size_t unwrittenWhileTaking = out.Finish();
    // Given up while the reader still took: only a reader that went the
    // stall limit without a take may be, and only one held back that long
    // by a wait for a processor leaves the case void.
    const test_support::BoundedWait pauses = reader.Pauses(out.StallLimit);
    if (unwrittenWhileTaking != 0 && pauses.verdict == test_support::Timely::kVoid) {
        bounds.AddVoid("the output gave the reader up after a pause that " + pauses.account);
    } else {
        EXPECT_EQ(unwrittenWhileTaking, 0u) << out.Failure() << "; the reader " << pauses.account;
    }
    EXPECT_FALSE(out.IsOpen());
    reader.StopTaking();
    const std::string got = reader.Taken() + reader.Take();
    if (!bounds.Void()) {
        EXPECT_EQ(got.size(), data.size());
    }

    out.Open(pipe.path(), TListFileType::Binary);
    ASSERT_TRUE(out.Write(data));
    const std::string first = reader.TakeSome(10000);
    const std::size_t unwritten = out.Finish();
    EXPECT_EQ(unwritten, data.size() - first.size() - static_cast<std::size_t>(reader.Queued()));
    EXPECT_EQ(out.Failure(), "Cannot write \"" + pipe.path() + "\": the program or device reading it stopped taking data");
    if (bounds.Void()) GTEST_SKIP() << bounds.Text();
}

TEST(receive_list_files, a_second_output_on_the_same_file_is_refused_without_touching_the_first) {
    test_support::TempDir dir;
    const std::string name = dir.File("capture.bin");
    TListOutput first, second;
    first.Open(name, TListFileType::Binary);
    ASSERT_TRUE(first.Write("first part "));
    // Another output on it (another program's, or one through a link) is
    // refused before the file is emptied.
    const std::string link = dir.File("link.bin");
    ASSERT_EQ(symlink(name.c_str(), link.c_str()), 0);
    for (const std::string& other : {name, link}) {
        try {
            second.Open(other, TListFileType::Binary);
            ADD_FAILURE() << "a second output took " << other;
        } catch (const rtl::Exception& e) {
            EXPECT_EQ(e.Message, "Cannot create file \"" + other +
                                     "\". It is in use by a program that lets no one else write it");
        }
        EXPECT_FALSE(second.IsOpen());
        EXPECT_EQ(ReadFile(name), "first part ");
    }
    EXPECT_TRUE(first.Holds(link));
    EXPECT_FALSE(first.Holds(dir.File("other.bin")));
    // The first writes on where it was: no hole of NULs, nothing cut off.
    ASSERT_TRUE(first.Write("second part"));
    EXPECT_EQ(ReadFile(name), "first part second part");
}

TEST(receive_list_files, delete_line_and_copy_follow_the_menu_rules) {
    PanelFixture f;
    f.Panel.RVPnlTime = tpNone;
    f.Panel.AddTextLine("one", 0, 0, dfMSG);
    f.Panel.AddTextLine("two", 0, 0, dfMSG);
    f.Panel.ShowData("\x0A", 0);
    ASSERT_EQ(f.Texts(), (std::vector<std::string>{"one", "two", "0A"}));

    // The current line with text: emptied by a fresh line.
    EXPECT_EQ(DeletePanelLine(f.Panel, 2), 2);
    EXPECT_EQ(f.Texts(), (std::vector<std::string>{"one", "two", ""}));
    // The empty current line: the line before it goes.
    DeletePanelLine(f.Panel, 2);
    EXPECT_EQ(f.Texts(), (std::vector<std::string>{"one", ""}));
    DeletePanelLine(f.Panel, 0);
    EXPECT_EQ(f.Texts(), (std::vector<std::string>{""}));
    DeletePanelLine(f.Panel, 0);  // the only line, empty: stays
    EXPECT_EQ(f.Texts(), (std::vector<std::string>{""}));
    EXPECT_THROW(DeletePanelLine(f.Panel, -1), rtl::EListError);
    EXPECT_THROW(DeletePanelLine(f.Panel, 5), rtl::EListError);

    f.Panel.ShowData("\x0B", 0);
    f.Panel.ShowData("\x0C", 0);
    EXPECT_EQ(f.Texts(), (std::vector<std::string>{"0B 0C"}));

    TLineStore lines;
    lines.AddLine("12:00<01 02", TLineRecord{0, 0, dfHEX, 6});
    lines.AddLine("12:01>03", TLineRecord{2, 0, dfHEX, 6});
    EXPECT_EQ(CopyLineText(lines, 1, false), "12:01>03");
    EXPECT_EQ(CopyLineText(lines, 1, true), "03");
    EXPECT_EQ(CopyAllText(lines, false), "12:00<01 02\r\n12:01>03\r\n");
    EXPECT_EQ(CopyAllText(lines, true), "01 02\r\n03\r\n");
    EXPECT_THROW(CopyLineText(lines, -1, false), rtl::EListError);

    EXPECT_EQ(ListFileTypeOfFilter(3), TListFileType::Internal);
    EXPECT_THROW(ListFileTypeOfFilter(4), rtl::EConvertError);
}

}  // namespace
}  // namespace terminal
