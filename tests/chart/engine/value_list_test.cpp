#include "chart/engine/value_list.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/rtl/exceptions.h"
#include "support/assertions.h"

using chart::engine::TChartListOrder;
using chart::engine::TChartValueList;

namespace {

using test_support::ExpectAssertion;

using Values = std::vector<double>;

Values ValuesOf(const TChartValueList& list) {
    return {list.Values().begin(), list.Values().end()};
}

void Append(TChartValueList& list, const Values& values) {
    for (double v : values) list.InsertValue(list.Count(), v);
}

// The statistics as bit patterns, and those of a fresh list with the same
// values computed in one pass.
std::vector<std::uint64_t> StatsOf(const TChartValueList& list) {
    return {std::bit_cast<std::uint64_t>(list.MinValue()),
            std::bit_cast<std::uint64_t>(list.MaxValue()),
            std::bit_cast<std::uint64_t>(list.Total()),
            std::bit_cast<std::uint64_t>(list.TotalABS())};
}
std::vector<std::uint64_t> FullPass(const TChartValueList& list) {
    TChartValueList copy;
    Append(copy, ValuesOf(list));
    return StatsOf(copy);
}

// A series in miniature: owns its lists, swaps whole points (values and
// labels) and records what the lists tell it.
class FakeSeries : public chart::engine::TValueListOwner {
  public:
    FakeSeries()
        : XValues(TChartValueList::Create(*this, "X")),
          YValues(TChartValueList::Create(*this, "Y")) {
        XValues.Order = TChartListOrder::loAscending;
    }
    void AddXY(double x, double y, std::string label) {
        const int index = XValues.AddValue(x);
        YValues.InsertValue(index, y);
        Labels.insert(Labels.begin() + index, std::move(label));
    }

    void AdoptValueList(std::unique_ptr<TChartValueList> List) override {
        Lists.push_back(std::move(List));
    }
    void SetValueListFlag(bool& Variable, bool Value) override {
        Repaints += Variable != Value;
        Variable = Value;
    }
    void NotifyDependents(std::uint8_t Event, int ValueIndex) override {
        Events.emplace_back(Event, ValueIndex);
    }
    void SwapValueIndex(int A, int B) override {
        for (auto& list : Lists) list->SwapValues(A, B);
        std::swap(Labels.at(static_cast<std::size_t>(A)), Labels.at(static_cast<std::size_t>(B)));
    }
    void CheckDataSource() override { ++SourceChecks; }

    std::vector<std::unique_ptr<TChartValueList>> Lists;
    TChartValueList& XValues;
    TChartValueList& YValues;
    std::vector<std::string> Labels;
    std::vector<std::pair<int, int>> Events;
    int Repaints = 0;
    int SourceChecks = 0;
};

TEST(ValueList, AddsKeepTheOrderAndEditsMoveTheRightValues) {
    TChartValueList ascending;
    ascending.Order = TChartListOrder::loAscending;
    EXPECT_EQ(ascending.AddValue(3), 0);
    EXPECT_EQ(ascending.AddValue(1), 0);
    EXPECT_EQ(ascending.AddValue(2), 1);
    EXPECT_EQ(ascending.AddValue(2), 2);  // after the 2 already there
    EXPECT_EQ(ascending.TempValue, 2);
    EXPECT_EQ(ValuesOf(ascending), (Values{1, 2, 2, 3}));

    TChartValueList unordered, descending;
    descending.Order = TChartListOrder::loDescending;
    for (double v : {5.0, 7.0, 6.0, 1.0}) {
        unordered.AddValue(v);
        descending.AddValue(v);
    }
    EXPECT_EQ(ValuesOf(unordered), (Values{5, 7, 6, 1}));
    EXPECT_EQ(ValuesOf(descending), (Values{7, 6, 5, 1}));

    // Time stamps with a late one now and then, through many growths.
    TChartValueList times;
    times.Order = TChartListOrder::loAscending;
    for (int i = 0; i < 50000; ++i) times.AddValue(i % 7 == 3 ? i - 2.5 : i);
    for (int i = 1; i < times.Count(); ++i) ASSERT_LE(times.Value(i - 1), times.Value(i)) << i;

    TChartValueList list;
    Append(list, {1, 2, 3});
    list.InsertValue(1, 9);
    list.Delete(3);
    EXPECT_EQ(ValuesOf(list), (Values{1, 9, 2}));
    list.Scroll();
    EXPECT_EQ(ValuesOf(list), (Values{9, 2, 1}));
    list.DeleteRange(1, 2);
    EXPECT_EQ(ValuesOf(list), (Values{9}));
    list.ClearValues();
    list.Scroll();
    EXPECT_EQ(list.Count(), 0);
}

TEST(ValueList, BadIndexesAndCountsAreRefusedWithTheListUnchanged) {
    TChartValueList list;
    Append(list, {1, 2, 3});
    EXPECT_THROW(list.InsertValue(4, 0), rtl::EListError);
    EXPECT_THROW(list.InsertValue(-1, 0), rtl::EListError);
    EXPECT_THROW(list.Delete(3), rtl::EListError);
    EXPECT_THROW(list.Exchange(-1, 0), rtl::EListError);
    ExpectAssertion([&] { list.DeleteRange(2, 2); },
                    "Quantity of data to delete must be less than Count.");
    ExpectAssertion([&] { list.DeleteRange(-1, 2); },
                    "Start and Quantity of data to delete must not be negative.");
    ExpectAssertion([&] { list.SetCount(-5); }, "ValueList Count must be greater than zero.");
    EXPECT_EQ(ValuesOf(list), (Values{1, 2, 3}));

    // The count check is on the new count: an empty list (old count 0) must
    // not take -1 either.
    TChartValueList empty;
    ExpectAssertion([&] { empty.SetCount(-1); }, "ValueList Count must be greater than zero.");
    EXPECT_EQ(empty.Count(), 0);
    EXPECT_THROW(empty.Last(), rtl::EListError);
    EXPECT_EQ(empty.AddValue(1), 0);

    list.SetCount(2);
    EXPECT_EQ(list.Total(), 3);
    list.SetCount(4);
    EXPECT_EQ(ValuesOf(list), (Values{1, 2, 0, 0}));
}

TEST(ValueList, StatisticsFollowEveryChangeAndAppendsExtendThemBitForBit) {
    TChartValueList list;
    EXPECT_EQ(StatsOf(list), (std::vector<std::uint64_t>{0, 0, 0, 0}));
    Append(list, {-2, 3});
    EXPECT_EQ(list.MinValue(), -2);
    EXPECT_EQ(list.MaxValue(), 3);
    EXPECT_EQ(list.Total(), 1);
    EXPECT_EQ(list.TotalABS(), 5);
    EXPECT_EQ(list.Range(), 5);
    EXPECT_FALSE(list.Modified());
    list.SetValue(0, 10);  // the old minimum is gone
    EXPECT_EQ(list.MinValue(), 3);

    // 1e16 + 1 + 1 depends on the order of the additions: summing the new
    // values apart, or in another order, would show.
    list.ClearValues();
    Append(list, {1e16, 0.1, -0.3});
    EXPECT_EQ(StatsOf(list), FullPass(list));
    const auto appendAndCheck = [&](const char* after) {
        for (double v : {1.0, 1.0, 0.7, -2e16, 1.0}) list.AddValue(v);
        list.InsertValue(list.Count(), 1e-3);  // an insert at the end is an append
        EXPECT_EQ(StatsOf(list), FullPass(list)) << after;
    };
    appendAndCheck("appends");
    list.InsertValue(1, -3e16);
    appendAndCheck("an insert inside");
    list.Delete(0);
    appendAndCheck("a delete");
    list.Exchange(0, 1);
    appendAndCheck("an exchange");
    list.Scroll();
    appendAndCheck("a scroll");
    list.SetCount(3);
    appendAndCheck("a shorter count");
    // Values exchanged with a list filled aside: each has the other's, and
    // the statistics of both follow.
    TChartValueList aside;
    Append(aside, {5, -7, 9, 11});
    const Values before = ValuesOf(list);
    (void)list.MaxValue();
    (void)aside.MaxValue();
    list.ExchangeValues(aside);
    EXPECT_EQ(ValuesOf(list), (Values{5, -7, 9, 11}));
    EXPECT_EQ(ValuesOf(aside), before);
    EXPECT_EQ(list.MaxValue(), 11);
    EXPECT_EQ(StatsOf(aside), FullPass(aside));
    appendAndCheck("an exchange of all values");

    // Ordered adds past the end extend; one that lands inside starts over.
    TChartValueList times;
    times.Order = TChartListOrder::loAscending;
    for (int i = 0; i < 1000; ++i) times.AddValue(1e16 + 2 * i);
    EXPECT_EQ(StatsOf(times), FullPass(times));
    times.AddValue(1e16 + 2000);
    times.AddValue(-1);
    EXPECT_EQ(times.First(), -1);
    EXPECT_EQ(StatsOf(times), FullPass(times));
}

TEST(ValueList, ListsOfASeriesSortWholePointsAndReportToTheirSeries) {
    FakeSeries series;
    ASSERT_EQ(series.Lists.size(), 2u);
    EXPECT_EQ(series.Lists[0].get(), &series.XValues);
    EXPECT_EQ(series.YValues.Owner(), &series);

    for (int i = 1; i <= 4; ++i) series.AddXY(i, 10 * i, std::string(1, char('a' + i - 1)));
    series.XValues.SetValue(0, 9);
    series.XValues.SetValue(2, 0);
    series.XValues.Sort();
    EXPECT_EQ(ValuesOf(series.XValues), (Values{0, 2, 4, 9}));
    EXPECT_EQ(ValuesOf(series.YValues), (Values{30, 20, 40, 10}));
    EXPECT_EQ(series.Labels, (std::vector<std::string>{"c", "b", "d", "a"}));
    EXPECT_EQ(series.XValues.MaxValue(), 9);
    series.YValues.Sort();  // unordered: stays
    EXPECT_EQ(ValuesOf(series.YValues), (Values{30, 20, 40, 10}));

    series.YValues.Exchange(2, 3);
    series.YValues.FillSequence();
    EXPECT_EQ(ValuesOf(series.YValues), (Values{0, 1, 2, 3}));
    EXPECT_EQ(series.Events, (std::vector<std::pair<int, int>>{{4, 2}, {4, 0}}));

    series.XValues.SetDateTime(true);
    series.XValues.SetDateTime(true);
    series.XValues.SetValueSource("Time");
    series.XValues.SetValueSource("Time");
    EXPECT_EQ(series.Repaints, 1);
    EXPECT_EQ(series.SourceChecks, 1);

    // Assign copies the settings, not the values or the name.
    TChartValueList& extra = TChartValueList::Create(series, "Z");
    extra.Assign(series.XValues);
    EXPECT_EQ(series.Lists.size(), 3u);
    EXPECT_EQ(extra.Name, "Z");
    EXPECT_EQ(extra.Count(), 0);
    EXPECT_EQ(extra.Order, TChartListOrder::loAscending);
    EXPECT_TRUE(extra.DateTime());
    EXPECT_EQ(extra.ValueSource(), "Time");
    EXPECT_TRUE(extra.IsDateTimeStored());

    // Without a series a list sorts its own values, either way.
    TChartValueList own;
    Append(own, {5, -1, 3, 3, 8, 0, -1});
    own.Order = TChartListOrder::loDescending;
    own.Sort();
    EXPECT_EQ(ValuesOf(own), (Values{8, 5, 3, 3, 0, -1, -1}));
    own.Order = TChartListOrder::loAscending;
    own.Sort();
    EXPECT_EQ(ValuesOf(own), (Values{-1, -1, 0, 3, 3, 5, 8}));
}

}  // namespace
