// Point files as stored files rely on them: the bytes written for awkward
// values are those of the general format at 15 digits (more only where a
// value would not read back), every number reads back as the general number
// reader reads it, and lines split across the reader's blocks read whole.
#include "graph/point_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <locale.h>
#include <stdlib.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "chart/engine/value_list.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/file_writes.h"
#include "platform/rtl/format.h"
#include "platform/rtl/numbers.h"
#include "support/fifo_reader.h"
#include "support/temp_dir.h"

namespace {

using chart::engine::TChartValueList;

std::string ReadFile(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}
void WriteFile(const std::string& name, const std::string& text) { std::ofstream(name, std::ios::binary) << text; }

// A number the way the general formatter lays it out: "%g" (15 significant
// digits), with 16 or 17 only where 15 would not read back.
std::string GeneralText(double v) {
    std::string text = rtl::Format("%g", {v});
    for (int digits = 16; digits <= 17; ++digits) {
        double back = 0;
        if (!std::isfinite(v) || (rtl::TryStrToFloat(text, back) && std::isfinite(back))) break;
        text = rtl::FloatToStrF(v, rtl::TFloatFormat::ffGeneral, digits, 0);
    }
    return text;
}

std::vector<double> AwkwardValues() {
    constexpr double kMax = std::numeric_limits<double>::max();
    std::vector<double> v = {0.0, -0.0, 1, -1, 0.5, -3, 7, 255, -128, 65535, 0.1, 0.2, 0.1 + 0.2, 1.0 / 3, -2.0 / 3,
                             1e-4, 1.5e-5, 0.000123, 0.001, 9.99999999999999e-5, 0.00099999999999999995,
                             1e14, 1e15 - 1, 1e15, 999999999999999.5, 123456789012345, 1234567890123456, 1e16, 1e20,
                             -1e20, 1.5e-20, 9007199254740993.0, 9007199254740992.0, 1000000000000005.0,
                             1000000000000015.0, 1000000000000025.0, 0.1000000000000005, 1.000000000000005,
                             2.5e-310, std::numeric_limits<double>::denorm_min(), std::numeric_limits<double>::min(),
                             1e307, 9.999999999999999e307, 1e308, 1.5e308, kMax, -kMax, std::nextafter(kMax, 0.0),
                             45000.5, 46000.123456789, 46000.999999999999, std::nextafter(1e15, 0.0),
                             std::nextafter(1e-4, 0.0), std::nextafter(1e-4, 1.0), 99999999999999.99,
                             std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity()};
    // Every power of ten and its neighbours, where the layout switches.
    for (int e = -320; e <= 307; ++e) {
        const double p = std::pow(10.0, e);
        for (double x : {p, std::nextafter(p, 0.0), std::nextafter(p, kMax), p * 9.999999999999995, -p * 1.5})
            v.push_back(x);
    }
    std::mt19937_64 random(43);
    // Time stamps of a capture (days with the time as the fraction) ...
    for (int i = 0; i < 20000; ++i) v.push_back(46000 + std::uniform_real_distribution<double>(0, 1)(random));
    // ... values of 15 digits and a half (rounding half-way at the 15th) ...
    for (int i = 0; i < 20000; ++i) {
        const auto digits = static_cast<double>(random() % 1000000000000000ull) + 0.5;
        v.push_back(digits * std::pow(10.0, static_cast<int>(random() % 40) - 30));
    }
    // ... and doubles of any bit pattern.
    while (v.size() < 100000) {
        const double x = std::bit_cast<double>(random());
        if (std::isfinite(x)) v.push_back(x);
    }
    return v;
}

TEST(point_file, written_bytes_are_those_of_the_general_format_for_awkward_values) {
    test_support::TempDir dir;
    const std::vector<double> values = AwkwardValues();
    // Each value once as X and once as Y, beside a plain neighbour.
    std::vector<double> x, y;
    std::string expected;
    for (std::size_t i = 0; i < values.size(); ++i) {
        x.push_back(values[i]);
        y.push_back(static_cast<double>(i));
        x.push_back(static_cast<double>(i));
        y.push_back(values[i]);
    }
    // Points of one received chunk share a time stamp.
    for (std::size_t i = 0; i < 50000; ++i) {
        x.push_back(values[i / 100 * 7 % values.size()]);
        y.push_back(static_cast<double>(i % 256));
    }
    for (std::size_t i = 0; i < x.size(); ++i) expected += GeneralText(x[i]) + ";" + GeneralText(y[i]) + "\r\n";
    const std::string file = dir.File("awkward.csv");
    graph::WritePointFile(file, x, y);
    const std::string written = ReadFile(file);
    if (written != expected) {
        // The first line that differs, for the report.
        std::istringstream a(written), b(expected);
        std::string la, lb;
        while (std::getline(a, la) && std::getline(b, lb))
            if (la != lb) FAIL() << "wrote " << la << " where " << lb << " was due";
        FAIL() << written.size() << " bytes written, " << expected.size() << " due";
    }

    // Read back (without the numbers that are not numbers), every value is
    // its text correctly rounded, as the system's own conversion gives it
    // (the general reader, going through a longer type first, is one unit
    // off in the last place now and then).
    std::string finite;
    std::vector<std::pair<std::string, std::string>> texts;
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (!std::isfinite(x[i]) || !std::isfinite(y[i])) continue;
        texts.emplace_back(GeneralText(x[i]), GeneralText(y[i]));
        finite += texts.back().first + ";" + texts.back().second + "\r\n";
    }
    WriteFile(file, finite);
    TChartValueList rx, ry;
    graph::ReadPointFile(file, 1 << 30, rx, ry);
    ASSERT_EQ(rx.Count(), static_cast<int>(texts.size()));
    // The file is read in ascending X, so the values are looked up by text.
    std::vector<std::pair<double, double>> read, due;
    for (int i = 0; i < rx.Count(); ++i) read.emplace_back(rx.Value(i), ry.Value(i));
    const locale_t c = newlocale(LC_ALL_MASK, "C", nullptr);
    for (const auto& [tx, ty] : texts)
        due.emplace_back(strtod_l(tx.c_str(), nullptr, c), strtod_l(ty.c_str(), nullptr, c));
    freelocale(c);
    std::stable_sort(due.begin(), due.end(), [](auto& a, auto& b) { return a.first < b.first; });
    for (std::size_t i = 0; i < due.size(); ++i) {
        ASSERT_EQ(std::bit_cast<std::uint64_t>(read[i].first), std::bit_cast<std::uint64_t>(due[i].first)) << i;
        ASSERT_EQ(std::bit_cast<std::uint64_t>(read[i].second), std::bit_cast<std::uint64_t>(due[i].second)) << i;
    }
}

TEST(point_file, a_save_that_fails_half_way_leaves_the_old_file_and_no_other) {
    test_support::TempDir dir;
    const std::string file = dir.File("kept.csv");
    WriteFile(file, "1;1\r\n");
    // Enough points for several writes; the second one fails as on a full disk.
    std::vector<double> x(300000), y(300000, 0.25);
    for (std::size_t i = 0; i < x.size(); ++i) x[i] = static_cast<double>(i + 1);
    {
        rtl::TInjectedFileFaults faults;
        faults.FailWritesFrom(2);
        EXPECT_THROW(graph::WritePointFile(file, x, y), rtl::EWriteError);
        EXPECT_GE(faults.Writes(), 2);
    }
    EXPECT_EQ(ReadFile(file), "1;1\r\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1) << "a temporary was left";
    graph::WritePointFile(file, x, y);
    EXPECT_EQ(ReadFile(file).substr(0, 16), "1;0.25\r\n2;0.25\r\n");

    // Saved onto a FIFO whose reader takes a little and leaves part-way: the
    // save fails by name, and the program goes on (the pipe's signal would
    // end it).
    const std::string fifo = dir.File("points.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    test_support::FifoReader head(fifo);
    ASSERT_TRUE(head.Open());
    head.LeaveWhenFull(1000);
    try {
        graph::WritePointFile(fifo, x, y);
        ADD_FAILURE() << "a pipe without reader took the points";
    } catch (const rtl::EWriteError& e) {
        EXPECT_STREQ(e.what(), ("Cannot write \"" + fifo + "\": Broken pipe").c_str());
    }
    EXPECT_TRUE(head.Left());
}

TEST(point_file, numbers_read_as_the_general_reader_reads_them_and_lines_cross_blocks_whole) {
    test_support::TempDir dir;
    const std::string file = dir.File("texts.csv");
    // The same texts are numbers, with the same values, or no numbers.
    for (const char* text : {"5", " 5 ", "+5", "-5", ".5", "5.", "-.5", "1e5", "1E+5", "2.5e-3", "1e-400", "-1e-400",
                             "1e400", "-1e400", "1.7976931348623157e308", "1.7976931348623158e308",
                             "1.797693134862316e308", "4.9e-324", "2e-324", "0x10", "inf", "NAN", "1e", "e5", "1,5",
                             "1 5", " ", "--5", "5e+", "00012.50", "\t5", "1.5.5"}) {
        WriteFile(file, std::string("0;") + text + "\r\n");
        double due = 0;
        const bool number = rtl::TryStrToFloat(text, due);
        TChartValueList x, y;
        if (number) {
            graph::ReadPointFile(file, 10, x, y);
            ASSERT_EQ(y.Count(), 1) << text;
            EXPECT_EQ(std::bit_cast<std::uint64_t>(y.Value(0)), std::bit_cast<std::uint64_t>(due)) << text;
        } else {
            EXPECT_THROW(graph::ReadPointFile(file, 10, x, y), rtl::EConvertError) << text;
        }
    }

    // Lines of a file larger than a block, one CR LF split across the
    // boundary, a line split across it, and a last line without an end.
    constexpr std::size_t kBlock = std::size_t{1} << 20;
    std::string text;
    int n = 0;
    while (text.size() + 40 < kBlock) {
        ++n;
        text += std::to_string(n) + ";" + std::to_string(n % 100) + "\r\n";
    }
    // Blanks before the next X put its CR at the last byte of the block.
    const std::string line = std::to_string(++n) + ";7";
    text += std::string(kBlock - 1 - text.size() - line.size(), ' ') + line + "\r\n";
    ASSERT_EQ(text[kBlock - 1], '\r');
    while (text.size() < kBlock + kBlock / 2) text += std::to_string(++n) + ";-1.5\r";
    text += std::to_string(++n) + ";2";
    WriteFile(file, text);
    TChartValueList x, y;
    graph::ReadPointFile(file, 1 << 30, x, y);
    ASSERT_EQ(x.Count(), n);
    for (int i = 0; i < n; ++i) ASSERT_EQ(x.Value(i), i + 1);
    EXPECT_EQ(y.Value(n - 1), 2);
    EXPECT_EQ(y.Value(n - 2), -1.5);

    // An empty line in the middle, however far from its point, is an error
    // on its own line; empty lines at the end are not.
    WriteFile(file, text + "\r\n\r\n\n");
    TChartValueList x2, y2;
    graph::ReadPointFile(file, 1 << 30, x2, y2);
    EXPECT_EQ(x2.Count(), n);
    // As many points as the graph holds load, empty lines after them or not;
    // one more is refused, naming its line, before anything is read in.
    TChartValueList x4, y4;
    graph::ReadPointFile(file, n, x4, y4);
    EXPECT_EQ(x4.Count(), n);
    WriteFile(file, text + "\r\n\r\n\n3;3");
    TChartValueList x5, y5;
    try {
        graph::ReadPointFile(file, n, x5, y5);
        ADD_FAILURE() << "more points than the graph holds were taken";
    } catch (const rtl::EListError& e) {
        EXPECT_NE(e.Message.find("(" + std::to_string(n + 3) + ")"), std::string::npos) << e.Message;
    }
    EXPECT_EQ(x5.Count(), 0);
    TChartValueList x3, y3;
    try {
        graph::ReadPointFile(file, 1 << 30, x3, y3);
        ADD_FAILURE() << "an empty line was taken";
    } catch (const rtl::EConvertError& e) {
        EXPECT_NE(e.Message.find(std::to_string(n + 1)), std::string::npos) << e.Message;
    }
}

}  // namespace
