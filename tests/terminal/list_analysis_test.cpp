#include "terminal/list_analysis.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/rtl/datetime.h"
#include "platform/rtl/exceptions.h"

namespace terminal {
namespace {

TLineRecord Rec(TDataFormat format, double time = 0, std::uint8_t prefixLen = 0) {
    return TLineRecord{0, time, format, prefixLen};
}

std::string Show(const TLineStore& lines, TStatistic statistic, TDataFormat current) {
    return FormatResult(CountStatistic(lines, statistic), current);
}

TEST(list_analysis, sum_reads_each_line_in_its_own_format_and_shows_the_current_one) {
    TLineStore lines;
    lines.AddLine("001 002 003", Rec(dfDEC));
    EXPECT_EQ(Show(lines, TStatistic::Sum, dfDEC), "Result is 6\r\rData count: 3");
    EXPECT_EQ(Show(lines, TStatistic::Sum, dfHEX), "Result is $0006\r\rData count: 3");

    lines.AddLine("12:00:00<00513", Rec(dfDW, 0, 9));  // the prefix holds no values
    EXPECT_EQ(Show(lines, TStatistic::Sum, dfDEC), "Result is 519\r\rData count: 4");
    EXPECT_EQ(Show(lines, TStatistic::Sum, dfDW), "Result is 519\r\rData count: 4");
    for (TDataFormat f : {dfHEX, dfHW, dfASC, dfBIN})
        EXPECT_EQ(Show(lines, TStatistic::Sum, f), "Result is $0207\r\rData count: 4");

    // Message and error lines hold no values; every other format does.
    lines.AddLine("Err = 5", Rec(dfERR));
    lines.AddLine("123", Rec(dfMSG));
    lines.AddLine("FF 10", Rec(dfHEX));                 // 255 + 16
    lines.AddLine("FFFF 0102", Rec(dfHW));              // 65535 + 258
    lines.AddLine("A\x95" "00", Rec(dfASC));            // 65 + 0
    lines.AddLine("10000000", Rec(dfBIN));              // 128
    const TAccumulator all = CountStatistic(lines, TStatistic::Sum);
    EXPECT_EQ(all.Value, 519 + 255 + 16 + 65535 + 258 + 65 + 0 + 128);
    EXPECT_EQ(all.Count, 4 + 2 + 2 + 2 + 1);

    // Lines First to Last only, clipped to the list.
    EXPECT_EQ(CountStatistic(lines, TStatistic::Sum, 4, 5).Value, 255 + 16 + 65535 + 258);
    EXPECT_EQ(CountStatistic(lines, TStatistic::Sum, 7, 99).Value, 128);
    EXPECT_EQ(CountStatistic(lines, TStatistic::Sum, 3, 2).Count, 0);

    // A line edited into no number is reported.
    lines.AddLine("0G", Rec(dfHEX));
    EXPECT_THROW(CountStatistic(lines, TStatistic::Sum), rtl::EConvertError);
}

TEST(list_analysis, sum_of_many_large_words_does_not_wrap) {
    TLineStore lines;
    std::string row;
    for (int k = 0; k < 100; ++k) row += k ? " 65535" : "65535";
    for (int i = 0; i < 700; ++i) lines.AddLine(row, Rec(dfDW));  // 70000 words
    const TAccumulator sum = CountStatistic(lines, TStatistic::Sum);
    EXPECT_EQ(sum.Value, 70000LL * 65535);  // beyond 32 bits
    EXPECT_EQ(sum.Count, 70000);
    EXPECT_EQ(FormatResult(sum, dfDW), "Result is 4587450000\r\rData count: 70000");
    EXPECT_EQ(FormatResult(sum, dfHW), "Result is $1116EEE90\r\rData count: 70000");
    EXPECT_EQ(CountStatistic(lines, TStatistic::Average).Value, 65535);
}

TEST(list_analysis, minimum_maximum_and_average_with_their_empty_results) {
    TLineStore lines;
    lines.AddLine("", Rec(dfHEX));
    lines.AddLine("Err", Rec(dfERR));
    EXPECT_EQ(Show(lines, TStatistic::Minimum, dfDEC), "Result is 2147483647\r\rData count: 0");
    EXPECT_EQ(Show(lines, TStatistic::Minimum, dfHEX), "Result is $7FFFFFFF\r\rData count: 0");
    EXPECT_EQ(Show(lines, TStatistic::Maximum, dfDW), "Result is -2147483647\r\rData count: 0");
    EXPECT_EQ(Show(lines, TStatistic::Maximum, dfASC), "Result is $80000001\r\rData count: 0");
    EXPECT_EQ(Show(lines, TStatistic::Average, dfDEC), "Result is 0\r\rData count: 0");
    EXPECT_EQ(Show(lines, TStatistic::Sum, dfHEX), "Result is $0000\r\rData count: 0");

    lines.AddLine("01 02", Rec(dfHEX));
    EXPECT_EQ(Show(lines, TStatistic::Average, dfDEC), "Result is 2\r\rData count: 2");  // 1.5 -> 2
    lines.AddLine("002 002", Rec(dfDEC));
    EXPECT_EQ(Show(lines, TStatistic::Average, dfDEC), "Result is 2\r\rData count: 4");  // 1.75
    lines.AddLine("00003", Rec(dfDW));
    EXPECT_EQ(Show(lines, TStatistic::Average, dfDEC), "Result is 2\r\rData count: 5");  // 2
    lines.AddLine("000 000 000", Rec(dfDEC));
    EXPECT_EQ(Show(lines, TStatistic::Average, dfDEC), "Result is 1\r\rData count: 8");  // 1.25

    lines.AddLine("FE01", Rec(dfHW));
    EXPECT_EQ(Show(lines, TStatistic::Minimum, dfDEC), "Result is 0\r\rData count: 9");
    EXPECT_EQ(Show(lines, TStatistic::Maximum, dfDEC), "Result is 65025\r\rData count: 9");
    EXPECT_EQ(Show(lines, TStatistic::Maximum, dfHEX), "Result is $FE01\r\rData count: 9");

    TLineStore halves;
    halves.AddLine("000 001", Rec(dfDEC));  // 0.5 -> 0
    EXPECT_EQ(CountStatistic(halves, TStatistic::Average).Value, 0);
    halves.AddLine("004", Rec(dfDEC));  // 5 / 3 -> 2
    EXPECT_EQ(CountStatistic(halves, TStatistic::Average).Value, 2);
}

TEST(list_analysis, time_gap_search_finds_the_first_longer_pause_after_the_selection) {
    TLineStore lines;
    const int times[] = {0, 1000, 2000, 3001, 3500, 5000, 6500};
    for (int t : times) lines.AddLine("00", Rec(dfHEX, rtl::EncodeDate(2026, 12, 7) + rtl::EncodeTime(10, 0, 0, 0) + t / rtl::MSecsPerDay));
    TListSearch search;
    EXPECT_EQ(search.GapMs, 1000);

    // Exactly 1000 ms is no gap; 1001 is.
    TSearchResult r = search.FindTimeGap(lines, -1, "1000");
    EXPECT_TRUE(r.Ran);
    EXPECT_EQ(r.Index, 3);
    EXPECT_EQ(search.LastSearch, TSearchKind::TimeGap);
    EXPECT_EQ(search.FindNext(lines, 3).Index, 5);
    EXPECT_EQ(search.FindNext(lines, 5).Index, 6);
    EXPECT_FALSE(search.FindNext(lines, 6).Found());  // at the end: no wrap
    EXPECT_FALSE(search.FindNext(lines, 99).Found());

    EXPECT_EQ(search.FindTimeGap(lines, 0, "1499").Index, 5);
    EXPECT_EQ(search.GapMs, 1499);
    // An answer that is no integer changes nothing.
    search.LastSearch = TSearchKind::Error;
    EXPECT_THROW(search.FindTimeGap(lines, -1, "1.5"), rtl::EConvertError);
    EXPECT_EQ(search.GapMs, 1499);
    EXPECT_EQ(search.LastSearch, TSearchKind::Error);

    EXPECT_FALSE(search.FindTimeGap(lines, -1, "5000").Found());
    TLineStore one;
    one.AddLine("", Rec(dfHEX));
    EXPECT_FALSE(search.FindTimeGap(one, -1).Found());
    TLineStore none;
    EXPECT_FALSE(search.FindTimeGap(none, -1).Found());
}

TEST(list_analysis, text_search_ignores_case_and_goes_on_where_it_stopped) {
    TLineStore lines;
    lines.AddLine("10:00<Port opened", Rec(dfMSG, 0, 6));
    lines.AddLine("10:01<Err = 5 (frame)", Rec(dfERR, 0, 6));
    lines.AddLine("10:02<41 42", Rec(dfHEX, 0, 6));
    lines.AddLine("\xCE\xD8\xC8\xC1\xCA\xC0 \xA8\xCB\xCA\xC0", Rec(dfMSG));  // Cyrillic upper case
    lines.AddLine("10:03<ERR = 7", Rec(dfERR, 0, 6));

    TListSearch search;
    EXPECT_EQ(search.FindText(lines, "err").Index, 1);
    EXPECT_EQ(search.FindIndex, 1);
    EXPECT_EQ(search.LastSearch, TSearchKind::Text);
    EXPECT_EQ(search.FindNext(lines, 0).Index, 4);  // the selection does not matter
    EXPECT_FALSE(search.FindNext(lines, 0).Found());
    EXPECT_FALSE(search.FindNext(lines, 0).Found());  // stays past the end

    // The prefix is part of the text; Windows-1251 letters fold too (ё/Ё).
    EXPECT_EQ(search.FindText(lines, "10:02<4").Index, 2);
    EXPECT_EQ(search.FindText(lines, "\xEE\xF8\xE8\xE1\xEA\xE0 \xB8\xEB").Index, 3);
    EXPECT_EQ(search.FindTextValue, "\xEE\xF8\xE8\xE1\xEA\xE0 \xB8\xEB");
    EXPECT_FALSE(search.FindText(lines, "missing").Found());
    EXPECT_FALSE(search.FindText(lines, "").Found());

    // Lines added after a failed search are searched by the next one.
    search.FindText(lines, "ready");
    lines.AddLine("Ready", Rec(dfMSG));
    EXPECT_EQ(search.FindNext(lines, -1).Index, 5);
}

TEST(list_analysis, error_search_next_and_unfinished_commands) {
    TLineStore lines;
    lines.AddLine("Err = 1", Rec(dfERR));
    lines.AddLine("01", Rec(dfHEX));
    lines.AddLine("Err = 2", Rec(dfERR));
    lines.AddLine("02", Rec(dfHEX));

    TListSearch search;
    EXPECT_FALSE(search.FindNext(lines, 0).Ran);  // nothing to repeat
    EXPECT_EQ(search.FindError(lines, -1).Index, 0);
    EXPECT_EQ(search.LastSearch, TSearchKind::Error);
    EXPECT_EQ(search.FindNext(lines, 0).Index, 2);
    const TSearchResult end = search.FindNext(lines, 2);
    EXPECT_TRUE(end.Ran);
    EXPECT_FALSE(end.Found());
    EXPECT_FALSE(search.FindError(lines, 3).Found());  // last line selected: no wrap

    try {
        TListSearch::FindTwoLineDifference();
        ADD_FAILURE() << "returned";
    } catch (const rtl::Exception& e) {
        EXPECT_EQ(e.Message, "This function is not implemented yet");
    }
    EXPECT_STREQ(NotFoundText, "Not found");
}

}  // namespace
}  // namespace terminal
