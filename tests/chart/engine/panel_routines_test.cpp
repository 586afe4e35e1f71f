#include "chart/engine/panel_routines.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <functional>
#include <limits>
#include <numeric>
#include <string>
#include <vector>

#include "platform/rtl/datetime.h"
#include "platform/rtl/exceptions.h"

using namespace chart::engine;
using rtl::EncodeDate;
using rtl::EncodeTime;
using vcl::TPoint;
using vcl::TRect;

namespace {

std::string DateText(double value) { return rtl::FormatDateTime("yyyy-mm-dd hh:nn", value); }

// Steps value once and returns the result as text.
std::string Stepped(double value, int step, bool increment, double amount = 0) {
    IncDecDateTime(true, increment, value, amount, step);
    return DateText(value);
}

double At(int y, int m, int d, int h = 0, int n = 0) {
    return EncodeDate(y, m, d) + EncodeTime(h, n, 0, 0);
}

// Runs f on a thread whose whole stack is `bytes` long.
void RunOnStack(std::size_t bytes, std::function<void()> f) {
    pthread_attr_t attr;
    ASSERT_EQ(pthread_attr_init(&attr), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attr, bytes), 0);
    pthread_t thread;
    auto body = [](void* arg) -> void* {
        (*static_cast<std::function<void()>*>(arg))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attr, body, &f), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
}

TEST(PanelRoutines, HitTestsOnSegmentsAndPolygons) {
    TRect r{30, 40, 10, 20};
    RectangleNormalise(r);
    EXPECT_TRUE(r.Left == 10 && r.Top == 20 && r.Right == 30 && r.Bottom == 40);

    const TPoint a{10, 10}, b{50, 10};
    EXPECT_TRUE(PointInLine(TPoint{30, 11}, a, b, 0));  // one pixel off, tolerance 0
    EXPECT_FALSE(PointInLine(TPoint{30, 12}, a, b, 0));
    EXPECT_TRUE(PointInLine(TPoint{30, 13}, 10, 10, 50, 10, 2));
    EXPECT_TRUE(PointInLine(TPoint{51, 10}, a, b, 0));  // beyond an end: distance to the end
    EXPECT_FALSE(PointInLine(TPoint{52, 10}, a, b, 0));
    EXPECT_TRUE(PointInLine(TPoint{50, 10}, a, b, -5));  // an end always hits
    EXPECT_FALSE(PointInLine(TPoint{12, 12}, a, a, 1));
    EXPECT_FALSE(PointInLine(TPoint{20, 22}, 10, 10, 50, 50));  // 1.41 from the diagonal
    // Positions of any 32-bit size: no overflow on the way.
    EXPECT_TRUE(PointInLine(TPoint{0, 1}, -2000000000, 0, 2000000000, 0));
    EXPECT_FALSE(PointInLine(TPoint{0, 3}, INT_MIN, INT_MIN, INT_MAX, INT_MAX));

    // A U shape: the notch between the arms is outside; top and left edges
    // belong to the polygon, bottom and right ones do not.
    const std::vector<TPoint> u = {{0, 0},   {30, 0},  {30, 30}, {20, 30},
                                   {20, 10}, {10, 10}, {10, 30}, {0, 30}};
    EXPECT_TRUE(PointInPolygon(TPoint{5, 20}, u, 7));
    EXPECT_TRUE(PointInPolygon(TPoint{15, 5}, u, 7));
    EXPECT_FALSE(PointInPolygon(TPoint{15, 20}, u, 7));
    EXPECT_TRUE(PointInPolygon(TPoint{0, 0}, u, 7));
    EXPECT_FALSE(PointInPolygon(TPoint{5, 30}, u, 7));
    // High picks a leading part; beyond the points it means all of them.
    const std::vector<TPoint> square = {{0, 0}, {10, 0}, {10, 10}, {0, 10}};
    EXPECT_TRUE(PointInPolygon(TPoint{8, 2}, square, 2));
    EXPECT_FALSE(PointInPolygon(TPoint{2, 8}, square, 2));
    EXPECT_TRUE(PointInPolygon(TPoint{2, 8}, square, INT_MAX));
    EXPECT_FALSE(PointInPolygon(TPoint{2, 8}, square, -1));
    EXPECT_FALSE(PointInPolygon(TPoint{0, 0}, {}, 3));
    const std::vector<TPoint> huge = {
        {INT_MIN, INT_MIN}, {INT_MAX, INT_MIN}, {INT_MAX, INT_MAX}, {INT_MIN, INT_MAX}};
    EXPECT_TRUE(PointInPolygon(TPoint{INT_MAX - 1, 0}, huge, 3));
}

TEST(PanelRoutines, StepTableLookupsFormatsAndTextFields) {
    EXPECT_EQ(NextDateTimeStep(1.0 / 24), DateTimeStep[dtTwoHours]);
    EXPECT_EQ(NextDateTimeStep(7), 15);
    EXPECT_EQ(NextDateTimeStep(400), 365);
    EXPECT_EQ(NextDateTimeStep(1e-13), 365);  // below the table
    EXPECT_EQ(FindDateTimeStep(1.0 / 24), dtOneHour);
    EXPECT_EQ(FindDateTimeStep(1.0 / 24 + DateTimeStep[0] / 2), dtOneHour);
    EXPECT_EQ(FindDateTimeStep(1.0 / 24 + DateTimeStep[0] * 2), dtNone);
    EXPECT_EQ(FindDateTimeStep(30), dtOneMonth);
    const double when = At(2024, 3, 5, 14, 30);
    EXPECT_EQ(rtl::FormatDateTime(DateTimeDefaultFormat(1), when), "14:30");
    EXPECT_EQ(rtl::FormatDateTime(DateTimeDefaultFormat(2), when), "05.03.2024");
    EXPECT_EQ(PlotIntToStr(INT_MIN), "-2147483648");

    EXPECT_EQ(PlotExtractField("a;b;c", 2), "b");
    EXPECT_EQ(PlotExtractField("a;b;c", 4), "c");  // the rest after the last separator
    EXPECT_EQ(PlotExtractField("a;;c", 2), "");
    EXPECT_EQ(PlotExtractField("a;b;c", 0), "");
    EXPECT_EQ(PlotExtractField("", 1), "");
    EXPECT_EQ(PlotExtractFieldWithSeparator("x||y||z", 3, "||"), "z");
    EXPECT_EQ(PlotExtractFieldWithSeparator("x;y", 2, ""), "x;y");
    EXPECT_EQ(PlotFieldSeparator(), ";");
    SetPlotFieldSeparator(",");
    EXPECT_EQ(PlotExtractField("a;b,c", 2), "c");
    SetPlotFieldSeparator(";");
    EXPECT_EQ(PlotReplaceChar("first\rsecond", '\r', ' '), "first second");
    EXPECT_EQ(PlotReplaceChar("\ra\rb\r", '\r', '\0'), "ab");
}

TEST(PanelRoutines, CalendarStepsMoveByMonthsHalfMonthsAndYears) {
    double v = 10;
    IncDecDateTime(false, true, v, 2.5, dtOneMonth);  // not a date
    IncDecDateTime(true, false, v, 0.5, dtOneDay);    // not a calendar step
    EXPECT_EQ(v, 12);

    // Months keep the day and the time; a day the month lacks becomes its last.
    EXPECT_EQ(Stepped(At(2024, 1, 31, 9, 15), dtOneMonth, true), "2024-02-29 09:15");
    EXPECT_EQ(Stepped(At(2023, 1, 29), dtOneMonth, true), "2023-02-28 00:00");
    EXPECT_EQ(Stepped(At(2024, 12, 31), dtTwoMonths, true), "2025-02-28 00:00");
    EXPECT_EQ(Stepped(At(2024, 2, 10), dtThreeMonths, false), "2023-11-10 00:00");
    EXPECT_EQ(Stepped(At(2024, 1, 10), dtFourMonths, false), "2023-09-10 00:00");
    EXPECT_EQ(Stepped(At(2024, 3, 31), dtSixMonths, false), "2023-09-30 00:00");

    // Half months: to the neighbouring 1st or 15th, either way.
    EXPECT_EQ(Stepped(At(2024, 3, 20), dtHalfMonth, false), "2024-03-15 00:00");
    EXPECT_EQ(Stepped(At(2024, 3, 15), dtHalfMonth, false), "2024-03-01 00:00");
    EXPECT_EQ(Stepped(At(2024, 1, 1, 6, 0), dtHalfMonth, false), "2023-12-15 06:00");
    EXPECT_EQ(Stepped(At(2024, 3, 1), dtHalfMonth, true), "2024-03-15 00:00");
    EXPECT_EQ(Stepped(At(2024, 12, 20), dtHalfMonth, true), "2025-01-01 00:00");

    // Years repeat until the amount is covered, at least once.
    EXPECT_EQ(Stepped(At(2020, 6, 1), dtOneYear, true, 3 * 365 - 2), "2023-06-01 00:00");
    EXPECT_EQ(Stepped(At(2020, 6, 1), dtOneYear, false, 700), "2018-06-01 00:00");
    EXPECT_EQ(Stepped(At(2020, 6, 1), dtOneYear, true, 0), "2021-06-01 00:00");
    EXPECT_EQ(Stepped(At(2024, 2, 29), dtOneYear, true, 4 * 365 + 1), "2028-02-29 00:00");

    // Alignment: rounding to days (halves to even) and weeks (Mondays),
    // truncation to calendar units.
    EXPECT_EQ(AlignDateTimeToStep(dtOneMonth, 0), 0);
    EXPECT_EQ(AlignDateTimeToStep(dtOneDay, 10.5), 10);
    EXPECT_EQ(AlignDateTimeToStep(dtThreeDays, 13.2), 12);
    EXPECT_EQ(DateText(AlignDateTimeToStep(dtOneWeek, At(2024, 3, 6, 18, 0))), "2024-03-04 00:00");
    EXPECT_EQ(AlignDateTimeToStep(dtOneHour, 10.3), 10.3);
    EXPECT_EQ(DateText(AlignDateTimeToStep(dtHalfMonth, At(2024, 8, 14, 23, 0))),
              "2024-08-01 00:00");
    EXPECT_EQ(DateText(AlignDateTimeToStep(dtSixMonths, At(2024, 8, 20, 14, 0))),
              "2024-08-01 00:00");
    EXPECT_EQ(DateText(AlignDateTimeToStep(dtOneYear, At(2024, 8, 20, 14, 0))), "2024-01-01 00:00");
}

TEST(PanelRoutines, CalendarStepsOutsideTheRuntimesDatesRaiseItsConversionError) {
    const auto step = [](double value, int s, bool increment, double amount = 0) {
        IncDecDateTime(true, increment, value, amount, s);
        return value;
    };
    EXPECT_THROW(step(At(9999, 12, 15), dtHalfMonth, true), rtl::EConvertError);
    EXPECT_THROW(step(At(9999, 6, 15), dtOneYear, true), rtl::EConvertError);
    EXPECT_THROW(step(At(1, 1, 15), dtOneMonth, false), rtl::EConvertError);
    // Values no date can have, and a year loop that would never end.
    EXPECT_THROW(step(1e12, dtOneMonth, true), rtl::EConvertError);
    EXPECT_THROW(step(std::nan(""), dtThreeMonths, false), rtl::EConvertError);
    EXPECT_THROW(step(At(2000, 1, 1), dtOneYear, true, 1e300), rtl::EConvertError);
    EXPECT_THROW(AlignDateTimeToStep(dtOneMonth, -1e12), rtl::EConvertError);
    try {
        step(At(9999, 12, 15), dtOneMonth, true);
        ADD_FAILURE() << "stepped past 9999";
    } catch (const rtl::EConvertError& e) {
        EXPECT_EQ(e.Message, "Invalid argument to date encode");
    }
    // The edges themselves still step.
    EXPECT_EQ(DateText(step(At(9999, 11, 30), dtOneMonth, true)), "9999-12-30 00:00");
    EXPECT_EQ(DateText(step(At(1, 2, 28), dtOneMonth, false)), "0001-01-28 00:00");
}

TEST(PanelRoutines, QuickSortSortsAnyIndexRangeThroughItsCallbacks) {
    const auto sortRange = [](std::vector<int>& v, int lo, int hi) {
        PlotQuickSort(
            lo, hi, [&](int a, int b) { return v[a] < v[b] ? -1 : (v[a] > v[b] ? 1 : 0); },
            [&](int a, int b) { std::swap(v[a], v[b]); });
    };
    std::vector<std::vector<int>> inputs = {{}, {1}, {2, 1}, {1, 2}, {5, 5, 5, 5, 5}};
    std::vector<int> ascending(1000), descending(1000), random(5000), organ(999);
    std::iota(ascending.begin(), ascending.end(), 0);
    std::iota(descending.rbegin(), descending.rend(), 0);
    unsigned seed = 12345;
    for (int& x : random) x = static_cast<int>((seed = seed * 1103515245u + 12345u) >> 20) % 50;
    for (int i = 0; i < 999; ++i) organ[i] = i < 500 ? i : 998 - i;
    inputs.insert(inputs.end(), {ascending, descending, random, organ});
    for (auto v : inputs) {
        std::vector<int> expected = v;
        std::sort(expected.begin(), expected.end());
        sortRange(v, 0, static_cast<int>(v.size()) - 1);
        EXPECT_EQ(v, expected);
    }

    // Only the range moves.
    std::vector<int> part = {9, 8, 7, 6, 5, 4};
    sortRange(part, 1, 4);
    EXPECT_EQ(part, (std::vector<int>{9, 5, 6, 7, 8, 4}));
    sortRange(part, 4, 2);
    EXPECT_EQ(part, (std::vector<int>{9, 5, 6, 7, 8, 4}));

    // A compare that answers at random still never leads outside the range.
    std::vector<int> touched;
    PlotQuickSort(
        10, 400,
        [&](int a, int b) {
            touched.insert(touched.end(), {a, b});
            return static_cast<int>((seed = seed * 1103515245u + 12345u) >> 29) % 3 - 1;
        },
        [&](int a, int b) {
            touched.insert(touched.end(), {a, b});
        });
    ASSERT_FALSE(touched.empty());
    EXPECT_GE(*std::min_element(touched.begin(), touched.end()), 10);
    EXPECT_LE(*std::max_element(touched.begin(), touched.end()), 400);
}

TEST(PanelRoutines, QuickSortStackStaysSmallOnItsWorstInput) {
    // An adversary fixes each item's value only when it must, so that every
    // pivot turns out to be the smallest item of its range: the partitions
    // shrink by one or two, and a sort that recursed into both sides in turn
    // would go n / 2 frames deep.
    constexpr int n = 8000;
    constexpr int unset = n;
    std::vector<int> item(n), value(n, unset);
    std::iota(item.begin(), item.end(), 0);
    int fixed = 0, candidate = -1;
    long long compares = 0;
    const auto compare = [&](int a, int b) {
        ++compares;
        const int x = item[a], y = item[b];
        if (value[x] == unset && value[y] == unset) value[x == candidate ? x : y] = fixed++;
        if (value[x] == unset)
            candidate = x;
        else if (value[y] == unset)
            candidate = y;
        return value[x] < value[y] ? -1 : (value[x] > value[y] ? 1 : 0);
    };
    const auto swap = [&](int a, int b) { std::swap(item[a], item[b]); };
    // A 64 KB stack holds a few dozen frames of the sort, not thousands.
    RunOnStack(64 * 1024, [&] { PlotQuickSort(0, n - 1, compare, swap); });
    EXPECT_GT(compares, static_cast<long long>(n) * n / 8);  // the input was the worst kind
    for (int i = 1; i < n; ++i) ASSERT_LE(value[item[i - 1]], value[item[i]]) << i;
}

}  // namespace
