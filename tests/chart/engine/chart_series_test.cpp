// Chart elements and series data: the store-and-repaint convention, what a
// series tells its chart, adding, deleting and clearing points with their
// colours, labels and marks, bulk changes and the series that follow
// another, sorting, failures that must leave the data whole, and leaving
// the chart while everything is still there.
#include "chart/engine/chart_series.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "chart/engine/chart_exceptions.h"
#include "chart/engine/palettes.h"
#include "platform/rtl/exceptions.h"
#include "support/assertions.h"
#include "support/chart_panels.h"

namespace {

using test_support::ExpectAssertion;

using chart::engine::ChartException;
using chart::engine::TChartListOrder;
using chart::engine::TChartSeries;
using chart::engine::TChartValueList;
using chart::engine::TCustomChartElement;
using chart::engine::TCustomChartSeries;
using chart::engine::TPlotEvent;
using chart::engine::TPlotSeriesEvent;
using test_support::BackgroundPanel;
using Values = std::vector<double>;

Values ValuesOf(const TChartValueList& list) {
    return {list.Values().begin(), list.Values().end()};
}

// What the chart's listeners hear of its series: "event:title".
struct SeriesEvents : chart::engine::TPlotEventListener, chart::engine::TSeriesChangeListener {
    std::vector<std::string> heard;
    int changes = 0;
    void PlotEvent(TPlotEvent& e) override {
        if (auto* s = dynamic_cast<TPlotSeriesEvent*>(&e))
            heard.push_back(std::to_string(s->Event) + ":" + s->Series->Title());
    }
    void SeriesChanged(TCustomChartSeries&) override { ++changes; }
};

struct Chart : BackgroundPanel {
    SeriesEvents events;
    Chart() {
        Listeners().Add(&events);
        SeriesChangeListener = &events;
    }
};

TEST(chart_element, setters_store_and_repaint_only_on_a_change_and_need_no_chart) {
    TCustomChartElement loose(nullptr);
    loose.SetActive(false);
    loose.Pen().SetColor(vcl::clRed);
    EXPECT_FALSE(loose.Active());

    Chart chart;
    TCustomChartElement element(nullptr);
    element.SetParentComponent(&element);  // not a chart: ignored
    EXPECT_EQ(element.ParentChart(), nullptr);
    element.SetParentComponent(&chart);
    EXPECT_EQ(element.GetParentComponent(), &chart);
    EXPECT_TRUE(element.HasParent());
    int before = chart.Invalidations;
    element.SetActive(true);
    element.Pen().SetColor(vcl::clBlack);
    EXPECT_EQ(chart.Invalidations, before);
    element.SetActive(false);
    element.Pen().SetWidth(3);
    element.Brush().SetColor(vcl::clRed);
    double d = 0.5;
    element.SetDoubleProperty(d, 0.5);
    element.SetDoubleProperty(d, 0.25);
    EXPECT_EQ(chart.Invalidations, before + 4);

    loose.Tag = 7;
    loose.Brush().SetStyle(vcl::TBrushStyle::bsCross);
    element.Assign(loose);
    EXPECT_FALSE(element.Active());
    EXPECT_EQ(element.Pen().Color(), vcl::clRed);
    EXPECT_EQ(element.Brush().Style(), vcl::TBrushStyle::bsCross);
    EXPECT_EQ(element.Tag, 7);
    element.SetParentChart(nullptr);
}

TEST(chart_element, series_tell_the_chart_of_active_title_and_colour_changes) {
    Chart chart;
    TChartSeries series(nullptr);
    series.SetParentChart(&chart);
    // Joining: the automatic colour (red, the palette's first), then the
    // series is added.
    EXPECT_EQ(chart.events.heard, (std::vector<std::string>{"3:", "0:"}));
    EXPECT_EQ(series.SeriesColor(), vcl::clRed);
    chart.events.heard.clear();
    series.SetTitle("A");
    series.SetActive(false);
    series.SetActive(false);  // no change: nothing
    series.SetSeriesColor(vcl::clRed);  // the automatic colour: nothing
    series.SetSeriesColor(vcl::clBlue);
    EXPECT_EQ(chart.events.heard, (std::vector<std::string>{"2:A", "5:A", "3:A"}));
    EXPECT_EQ(chart.events.changes, 2);
    chart.SuppressSeriesEvents = true;
    series.SetTitle("B");
    EXPECT_EQ(chart.events.heard.size(), 3u);
    EXPECT_EQ(chart.events.changes, 3);

    TChartSeries copy(nullptr);
    series.SetShowInLegend(false);
    series.SetStyle(0xFF);
    series.Identifier = "id";
    copy.Assign(series);
    EXPECT_EQ(copy.Title(), "B");
    EXPECT_FALSE(copy.ShowInLegend());
    EXPECT_EQ(copy.Style(), 0x3F);
    EXPECT_EQ(copy.Identifier, "id");
    EXPECT_FALSE(copy.Active());
    EXPECT_TRUE(copy.IsIdentifierStored());
    series.SetParentChart(nullptr);
}

TEST(chart_series, adds_keep_x_order_colours_labels_and_nulls) {
    TChartSeries series(nullptr);
    for (double x : {1.0, 3.0, 7.0}) series.AddXY(x, x * 10);
    EXPECT_EQ(series.AddXY(5, 50), 2);
    EXPECT_EQ(ValuesOf(series.XValues()), (Values{1, 3, 5, 7}));
    EXPECT_EQ(ValuesOf(series.YValues()), (Values{10, 30, 50, 70}));
    EXPECT_FALSE(series.HasPointColors());
    EXPECT_EQ(series.Labels().Count(), 0);

    // The first real colour makes the list; earlier points are automatic.
    series.SetSeriesColor(vcl::clGreen);
    EXPECT_EQ(series.AddXY(4, 40, "", vcl::clRed), 2);
    EXPECT_TRUE(series.HasPointColors());
    EXPECT_EQ(series.ValueColor(2), vcl::clRed);
    EXPECT_EQ(series.ValueColor(0), vcl::clGreen);
    EXPECT_EQ(series.ValueColor(4), vcl::clGreen);

    // A label pads the list up to its point; later adds keep it in step.
    EXPECT_EQ(series.AddXY(6, 60, "six"), 4);
    EXPECT_EQ(series.Labels().Count(), 5);
    EXPECT_EQ(series.AddXY(0, 0), 0);
    EXPECT_EQ(series.Labels().Labels(5), "six");

    // Null points: the null value with colour clNone.
    TChartSeries values(nullptr);
    values.XValues().Order = TChartListOrder::loNone;
    EXPECT_EQ(values.Add(8), 0);
    EXPECT_EQ(values.AddNull("gap"), 1);
    EXPECT_EQ(values.AddXY(0, 9), 2);  // unordered: at the end
    EXPECT_EQ(ValuesOf(values.XValues()), (Values{0, 1, 0}));
    EXPECT_EQ(ValuesOf(values.YValues()), (Values{8, 0, 9}));
    EXPECT_TRUE(values.IsNull(1));
    EXPECT_FALSE(values.IsNull(2));
    EXPECT_EQ(values.ValueColor(2), vcl::clDefault);
    EXPECT_EQ(values.AddNullXY(5, 5), 3);
    EXPECT_TRUE(values.IsNull(3));

    // Each point coloured from the palette: the chart's own, else the global.
    values.SetColorEachPoint(true);
    EXPECT_EQ(values.ValueColor(0), vcl::clRed);
    EXPECT_EQ(values.ValueColor(2), vcl::clYellow);
    EXPECT_EQ(values.ValueColor(1), vcl::clNone);
    Chart chart;
    values.SetParentChart(&chart);
    chart::engine::ApplyChartPalette(chart, 4);
    EXPECT_EQ(values.ValueColor(0), 0xFF0000);
    EXPECT_EQ(values.ValueColor(9), 0x0000FF);  // 9 mod 8
    values.SetParentChart(nullptr);

    // OnBeforeAdd may refuse: nothing changes.
    values.OnBeforeAdd = [](TChartSeries*) { return false; };
    EXPECT_EQ(values.AddXY(1, 1, "x", vcl::clRed), -1);
    EXPECT_EQ(values.Count(), 4);
}

TEST(chart_series, the_automatic_colour_stays_automatic) {
    Chart chart;
    TChartSeries series(nullptr);
    series.SetParentChart(&chart);
    series.SetAutomaticColor(vcl::clBlue);
    EXPECT_EQ(series.SeriesColor(), vcl::clBlue);
    EXPECT_FALSE(series.IsSeriesColorStored());
    const std::size_t heard = chart.events.heard.size();
    series.SetSeriesColor(vcl::clBlue);
    EXPECT_FALSE(series.IsSeriesColorStored());
    EXPECT_EQ(chart.events.heard.size(), heard);
    series.SetSeriesColor(vcl::clLime);
    EXPECT_TRUE(series.IsSeriesColorStored());
    EXPECT_EQ(series.SeriesColor(), vcl::clLime);
    series.SetParentChart(nullptr);
}

TEST(chart_series, deletes_check_their_range_and_take_colours_labels_and_marks_along) {
    TChartSeries series(nullptr);
    for (int i = 0; i < 10; ++i)
        series.AddXY(i, i * i, i == 6 ? "six" : "", i == 8 ? vcl::clRed : vcl::clDefault);
    series.Marks().Positions().Ensure(2).Custom = true;
    series.Marks().Items().Items(3).SetColor(vcl::clYellow);

    for (int bad : {-1, 10}) {
        try {
            series.Delete(bad);
            ADD_FAILURE() << "no exception for " << bad;
        } catch (const ChartException& e) {
            EXPECT_EQ(e.Message, "Series Delete: ValueIndex " + std::to_string(bad) +
                                     " out of bounds (0 to 9).");
        }
    }
    EXPECT_EQ(series.Count(), 10);

    series.Delete(2);
    EXPECT_EQ(ValuesOf(series.XValues()), (Values{0, 1, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(series.Labels().Labels(5), "six");
    EXPECT_EQ(series.ValueColor(7), vcl::clRed);
    EXPECT_EQ(series.Marks().Positions().Position(2), nullptr);
    ASSERT_NE(series.Marks().Items().ItemIfAny(2), nullptr);  // item 3 moved down
    EXPECT_EQ(series.Marks().Items().ItemIfAny(2)->Color(), vcl::clYellow);

    ExpectAssertion([&] { series.DeleteRange(0, 0); },
                    "Quantity of data points to delete must be greater than zero.");
    ExpectAssertion([&] { series.DeleteRange(-1, 2); },
                    "Start of data points to delete must not be negative.");
    ExpectAssertion([&] { series.DeleteRange(5, 5); },
                    "Quantity of data to delete must be less than Count.");
    EXPECT_EQ(series.Count(), 9);

    // Removing 0..3 and closing the gap renumbers X.
    series.DeleteRange(0, 4, true);
    EXPECT_EQ(ValuesOf(series.XValues()), (Values{0, 1, 2, 3, 4}));
    EXPECT_EQ(ValuesOf(series.YValues()), (Values{25, 36, 49, 64, 81}));
    EXPECT_EQ(series.Labels().Labels(1), "six");
    EXPECT_EQ(series.ValueColor(3), vcl::clRed);

    // Everything: orders, the series colour and the custom items stay.
    series.SetSeriesColor(vcl::clTeal);
    series.DeleteRange(0, series.Count());
    EXPECT_EQ(series.Count(), 0);
    EXPECT_FALSE(series.HasPointColors());
    EXPECT_EQ(series.XValues().Order, TChartListOrder::loAscending);
    EXPECT_EQ(series.SeriesColor(), vcl::clTeal);
    EXPECT_NE(series.Marks().Items().ItemIfAny(2), nullptr);
}

TEST(chart_series, clear_empties_the_lists_and_tells_everyone_even_when_empty) {
    TChartSeries source(nullptr), follower(nullptr);
    follower.AddDataSource(source);
    follower.AddXY(1, 1);
    int cleared = 0;
    source.OnClearValues = [&](vcl::TComponent* s) { cleared += s == &source; };
    source.Clear();
    EXPECT_EQ(cleared, 1);
    EXPECT_EQ(follower.Count(), 0);

    source.SetSeriesColor(vcl::clRed);
    source.AddXY(1, 2, "a", vcl::clBlue);
    source.Marks().Positions().Ensure(0);
    source.Marks().Items().Items(0);
    source.Marks().Items().Loaded = true;
    source.Clear();
    EXPECT_EQ(source.Count(), 0);
    EXPECT_EQ(source.Labels().Count(), 0);
    EXPECT_FALSE(source.HasPointColors());
    EXPECT_EQ(source.SeriesColor(), vcl::clRed);
    EXPECT_EQ(source.Marks().Positions().Count(), 0);
    EXPECT_EQ(source.Marks().Items().Count(), 1);  // read from a form: kept
    source.Marks().Items().Loaded = false;
    source.Clear();
    EXPECT_EQ(source.Marks().Items().Count(), 0);
}

TEST(chart_series, followers_track_adds_deletes_and_bulk_changes_of_their_source) {
    Chart chart;
    TChartSeries source(nullptr), follower(nullptr), adds_off(nullptr);
    source.SetParentChart(&chart);
    source.SetTitle("S");
    follower.AddDataSource(source);
    adds_off.AddDataSource(source);
    adds_off.SourceEvents &= ~(chart::engine::sseAdd | chart::engine::sseDelete);

    source.AddXY(2, 20, "two", vcl::clRed);
    source.AddXY(1, 10);
    EXPECT_EQ(ValuesOf(follower.XValues()), (Values{1, 2}));
    EXPECT_EQ(follower.Labels().Labels(1), "two");
    EXPECT_EQ(follower.ValueColor(1), vcl::clRed);
    EXPECT_EQ(adds_off.Count(), 0);

    source.Delete(0);
    EXPECT_EQ(ValuesOf(follower.XValues()), (Values{2}));

    // Inside a bracket nothing is told per point; the outer end refreshes
    // the followers and tells the listeners once.
    chart.events.heard.clear();
    source.BeginUpdate();
    source.BeginUpdate();
    for (int i = 3; i < 8; ++i) source.AddXY(i, i * 10);
    source.EndUpdate();
    EXPECT_EQ(follower.Count(), 1);
    EXPECT_TRUE(chart.events.heard.empty());
    source.EndUpdate();
    source.EndUpdate();  // one too many: nothing
    EXPECT_EQ(ValuesOf(follower.XValues()), ValuesOf(source.XValues()));
    EXPECT_EQ(ValuesOf(adds_off.XValues()), ValuesOf(source.XValues()));
    EXPECT_EQ(chart.events.heard, (std::vector<std::string>{"6:S"}));

    // A removed range is followed by copying anew.
    source.DeleteRange(1, 3);
    EXPECT_EQ(ValuesOf(follower.XValues()), (Values{2, 6, 7}));
    EXPECT_EQ(ValuesOf(follower.YValues()), (Values{20, 60, 70}));

    // Values changed in place.
    source.YValues().Exchange(0, 2);
    EXPECT_EQ(ValuesOf(follower.YValues()), (Values{70, 60, 20}));

    // Chains back to a series are refused.
    EXPECT_THROW(source.AddDataSource(follower), ChartException);
    EXPECT_THROW(source.AddDataSource(source), ChartException);
    TChartSeries third(nullptr);
    third.AddDataSource(follower);
    try {
        source.AddDataSource(third);
        ADD_FAILURE();
    } catch (const ChartException& e) {
        EXPECT_EQ(e.Message, "Circular Series dependences are not allowed");
    }
    EXPECT_EQ(source.DataSources().Count(), 0);
    source.SetParentChart(nullptr);
}

// A series kept in Y along a horizontal axis.
struct HorizontalSeries : TChartSeries {
    HorizontalSeries() : TChartSeries(nullptr) { SetYMandatory(false); }
};

TEST(chart_series, values_from_a_source_of_the_other_orientation_exchange_x_and_y) {
    TChartSeries vertical(nullptr);
    vertical.AddXY(1, 100);
    HorizontalSeries horizontal;
    horizontal.AddValueFromSource(vertical, 0);
    EXPECT_EQ(horizontal.XValues().Value(0), 100);
    EXPECT_EQ(horizontal.YValues().Value(0), 1);
    EXPECT_EQ(&horizontal.MandatoryValueList(), &horizontal.XValues());
    EXPECT_EQ(horizontal.GetMarkValue(0), 100);
    EXPECT_EQ(horizontal.Add(700), 1);
    EXPECT_EQ(horizontal.YValues().Value(1), 1);  // the count before
    EXPECT_THROW(horizontal.AddChartValue(vertical, 1), rtl::EListError);
}

// A function that records what it is asked.
struct Doubler : chart::engine::TPlotFunction {
    int cleared = 0;
    void AddPoints(TChartSeries& Source) override {
        for (int i = 0; i < Source.Count(); ++i)
            ParentSeries()->AddXY(Source.GetXValue(i), 2 * Source.GetYValue(i));
    }
    void SeriesCleared() override { ++cleared; }
};

TEST(chart_series, a_series_with_a_function_is_filled_by_it) {
    TChartSeries source(nullptr), result(nullptr);
    auto function = std::make_unique<Doubler>();
    Doubler* doubler = function.get();
    result.SetFunction(std::move(function));
    EXPECT_EQ(doubler->ParentSeries(), &result);
    result.AddDataSource(source);
    source.XValues().SetDateTime(true);
    source.AddXY(1, 5);
    EXPECT_EQ(result.Count(), 0);  // functions do not follow single adds
    source.BeginUpdate();
    source.EndUpdate();
    EXPECT_EQ(ValuesOf(result.YValues()), (Values{10}));
    EXPECT_TRUE(result.XValues().DateTime());
    EXPECT_GE(doubler->cleared, 1);
}

TEST(chart_series, sorting_moves_whole_points_with_labels_past_the_end) {
    TChartSeries series(nullptr);
    series.XValues().Order = TChartListOrder::loNone;
    series.AddXY(3, 30, "c", vcl::clRed);
    series.AddXY(1, 10);
    series.AddXY(2, 20);
    ASSERT_EQ(series.Labels().Count(), 3);
    series.XValues().Order = TChartListOrder::loAscending;
    series.XValues().Sort();
    EXPECT_EQ(ValuesOf(series.XValues()), (Values{1, 2, 3}));
    EXPECT_EQ(ValuesOf(series.YValues()), (Values{10, 20, 30}));
    EXPECT_EQ(series.Labels().Labels(2), "c");
    EXPECT_EQ(series.Labels().Labels(0), "");
    EXPECT_EQ(series.ValueColor(2), vcl::clRed);

    // Labels shorter than the points: a label moving past the end pads.
    TChartSeries short_labels(nullptr);
    short_labels.XValues().Order = TChartListOrder::loNone;
    short_labels.AddXY(9, 0, "nine");
    for (int x : {1, 2, 3}) short_labels.AddXY(x, 0);
    EXPECT_EQ(short_labels.Labels().Count(), 4);  // the list had an entry: it keeps step
    short_labels.Labels().DeleteRange(1, 3);      // only the first point has one now
    short_labels.XValues().Order = TChartListOrder::loAscending;
    short_labels.XValues().Sort();
    EXPECT_EQ(ValuesOf(short_labels.XValues()), (Values{1, 2, 3, 9}));
    EXPECT_EQ(short_labels.Labels().Labels(3), "nine");
    EXPECT_EQ(short_labels.Labels().Labels(0), "");

    // Extra lists by name; any other name gives the mandatory list.
    EXPECT_EQ(&series.ValueListByName("x"), &series.YValues());
    TChartValueList::Create(series, "Open");
    EXPECT_EQ(&series.ValueListByName("OPEN"), &series.ValueList(2));
}

// Everything a series keeps per point, as one comparable text.
std::string PointsOf(const TChartSeries& s) {
    std::string out;
    for (int i = 0; i < s.Count(); ++i) {
        out += std::to_string(s.XValues().Value(i)) + "," + std::to_string(s.YValues().Value(i));
        for (int k = 2; k < s.ValueListCount(); ++k) out += "," + std::to_string(s.ValueList(k).Value(i));
        out += "," + std::to_string(s.ValueColor(i)) + "," + s.Labels().Labels(i) + ";";
    }
    out += " colours " + std::to_string(s.HasPointColors()) + " labels " + std::to_string(s.Labels().Count());
    // The extremes read before the totals, which may sum the list afresh.
    for (const TChartValueList* list : {&s.XValues(), &s.YValues()}) {
        out += " min " + std::to_string(list->MinValue());
        out += " max " + std::to_string(list->MaxValue());
        out += " finite " + std::to_string(list->MinFiniteValue());
        out += ".." + std::to_string(list->MaxFiniteValue());
    }
    for (const TChartValueList* list : {&s.XValues(), &s.YValues()}) {
        out += " total " + std::to_string(list->Total());
        out += " abs " + std::to_string(list->TotalABS());
    }
    return out;
}

TEST(chart_series, a_batch_lands_where_adding_its_points_one_by_one_puts_them) {
    using chart::engine::TAddedPoints;
    using chart::engine::TChartXY;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char* name;
        std::function<void(TChartSeries&)> setUp;
        std::vector<TChartXY> batch;
    };
    const auto line = [](std::vector<double> xs) {
        return [xs](TChartSeries& s) {
            for (double x : xs) s.AddXY(x, x * 10);
        };
    };
    const std::vector<Case> cases = {
        // Y tells the points apart: equal X keep the order they came in,
        // after the points already there.
        {"wholly before", line({10, 20, 30}), {{3, 1}, {1, 2}, {3, 3}, {2, 4}}},
        {"inside, equal X", line({10, 20, 20, 30}), {{20, 1}, {15, 2}, {20, 3}, {25, 4}, {10, 5}}},
        {"wholly after", line({10, 20}), {{20, 1}, {40, 2}, {30, 3}, {40, 4}}},
        {"spanning", line({10, 20, 30}), {{35, 1}, {5, 2}, {25, 3}, {-1, 4}, {35, 5}}},
        {"into an empty line", line({}), {{2, 1}, {1, 2}, {2, 3}}},
        {"descending",
         [](TChartSeries& s) {
             s.XValues().Order = TChartListOrder::loDescending;
             for (double x : {30, 20, 10}) s.AddXY(x, x);
         },
         {{25, 1}, {40, 2}, {10, 3}, {5, 4}, {25, 5}}},
        {"unordered list",
         [](TChartSeries& s) {
             s.XValues().Order = TChartListOrder::loNone;
             for (double x : {30, 10}) s.AddXY(x, x);
         },
         {{20, 1}, {5, 2}}},
        // Colours, labels (shorter than the points) and an extra list all
        // take their entries where the points went.
        {"colours, labels and an extra list",
         [](TChartSeries& s) {
             TChartValueList::Create(s, "Z").TempValue = 7;
             s.AddXY(10, 1, "ten", vcl::clRed);
             s.AddXY(20, 2);
             s.AddXY(30, 3, "", vcl::clBlue);
             s.AddXY(40, 4);
             s.Labels().DeleteRange(1, 3);
         },
         {{25, 5}, {5, 6}, {45, 7}, {10, 8}}},
        // Out of order where the batch lands (ordered only after the
        // points came), or X that is not a number: the search from the end
        // decides where each goes, as one by one.
        {"out of order",
         [](TChartSeries& s) {
             s.XValues().Order = TChartListOrder::loNone;
             for (double x : {10, 30, 20, 40}) s.AddXY(x, x);
             s.XValues().Order = TChartListOrder::loAscending;
         },
         {{15, 1}, {25, 2}, {50, 3}}},
        {"not a number", line({10, 20}), {{15, 1}, {nan, 2}, {5, 3}, {30, 4}}},
        // The extremes kept over a batch are those of a pass: of two equal
        // zeros the first in the list.
        {"zeros",
         [](TChartSeries& s) {
             for (double x : {1, 3, 4}) s.AddXY(x, x == 3 ? 0.0 : x);
         },
         {{2, -0.0}, {3.5, 7}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TChartSeries batch(nullptr), single(nullptr);
        c.setUp(batch);
        c.setUp(single);
        // The statistics read before: the batch keeps what it can of them.
        PointsOf(batch);
        for (const TChartXY& p : c.batch) single.AddXY(p.X, p.Y);
        TAddedPoints added;
        batch.AddXYs(c.batch, added);
        EXPECT_EQ(PointsOf(batch), PointsOf(single));
        EXPECT_EQ(added.Taken, static_cast<int>(c.batch.size()));
        // Places name the new points (by their Y), ascending.
        ASSERT_EQ(added.Places.size(), c.batch.size());
        std::vector<double> placed, given;
        for (std::size_t k = 0; k < added.Places.size(); ++k) {
            if (k > 0) {
                EXPECT_LT(added.Places[k - 1], added.Places[k]);
            }
            placed.push_back(batch.YValues().Value(added.Places[k]));
            given.push_back(c.batch[k].Y);
        }
        std::sort(placed.begin(), placed.end());
        std::sort(given.begin(), given.end());
        EXPECT_EQ(placed, given);
    }

    // OnBeforeAdd is asked for each point in order: refused ones stay out;
    // one that raises lets those before it in and passes on.
    TChartSeries series(nullptr);
    line({10, 20})(series);
    std::vector<double> asked;
    series.OnBeforeAdd = [&](TChartSeries* s) {
        asked.push_back(s->YValues().TempValue);
        if (s->YValues().TempValue == 4) throw rtl::Exception("stop");
        return s->YValues().TempValue != 2;
    };
    const std::vector<TChartXY> points = {{15, 1}, {5, 2}, {12, 3}, {1, 4}, {2, 5}};
    TAddedPoints added;
    EXPECT_THROW(series.AddXYs(points, added), rtl::Exception);
    EXPECT_EQ(asked, (Values{1, 2, 3, 4}));
    EXPECT_EQ(added.Taken, 3);
    EXPECT_EQ(added.Places, (std::vector<int>{1, 2}));
    EXPECT_EQ(ValuesOf(series.XValues()), (Values{10, 12, 15, 20}));
    EXPECT_EQ(ValuesOf(series.YValues()), (Values{100, 3, 1, 200}));
}

// An extra list that runs out of memory when told to.
struct ShortOfMemory : TChartValueList {
    using TChartValueList::TChartValueList;
    bool fail = false;
    void InsertValue(int ValueIndex, double Value) override {
        if (fail) throw std::bad_alloc();
        TChartValueList::InsertValue(ValueIndex, Value);
    }
};

struct ThreeLists : TChartSeries {
    ShortOfMemory* extra;
    ThreeLists() : TChartSeries(nullptr) {
        auto list = std::make_unique<ShortOfMemory>("Z");
        extra = list.get();
        AdoptValueList(std::move(list));
    }
};

TEST(chart_series, an_add_that_cannot_allocate_leaves_every_list_at_the_same_count) {
    ThreeLists series;
    series.AddXY(1, 10, "a");
    series.AddXY(3, 30);
    series.extra->fail = true;
    EXPECT_THROW(series.AddXY(2, 20, "b", vcl::clRed), std::bad_alloc);
    EXPECT_EQ(series.XValues().Count(), 2);
    EXPECT_EQ(series.YValues().Count(), 2);
    EXPECT_EQ(series.extra->Count(), 2);
    EXPECT_EQ(ValuesOf(series.XValues()), (Values{1, 3}));
    EXPECT_EQ(series.Labels().Count(), 2);
    EXPECT_FALSE(series.HasPointColors());
    TChartSeries source(nullptr);
    source.AddXY(0, 0);
    EXPECT_THROW(series.AddValueFromSource(source, 0), std::bad_alloc);
    EXPECT_EQ(series.YValues().Count(), 2);
    series.extra->fail = false;
    series.extra->TempValue = 5;
    EXPECT_EQ(series.AddXY(2, 20), 1);
    EXPECT_EQ(ValuesOf(*series.extra), (Values{0, 5, 0}));
}

// A series that checks, when it leaves its chart, that all of it is there.
struct Watchful : TChartSeries {
    std::vector<std::string>& log;
    Watchful(vcl::TComponent* owner, std::vector<std::string>& l) : TChartSeries(owner), log(l) {}
    void SetParentChart(chart::engine::TCustomAxisPanel* Value) override {
        if (!Value && ParentChart())
            log.push_back("leaves with " + std::to_string(Count()) + " points, pen " +
                          std::to_string(Pen().Width()) + ", brush " +
                          std::to_string(Brush().Color()));
        TChartSeries::SetParentChart(Value);
    }
};

TEST(chart_series, a_freed_series_leaves_its_chart_first_with_everything_intact) {
    Chart chart;
    std::vector<std::string> log;
    const std::string expected = "leaves with 2 points, pen 3, brush 255";
    auto fill = [&](Watchful& s) {
        s.SetParentChart(&chart);
        s.AddXY(1, 1);
        s.AddXY(2, 2);
        s.Pen().SetWidth(3);
        s.Brush().SetColor(vcl::clRed);
    };
    // Freed by Free, by its owner, and through a holder.
    auto* a = new Watchful(nullptr, log);
    fill(*a);
    vcl::TComponent::Free(a);
    {
        vcl::TComponent owner(nullptr);
        fill(*new Watchful(&owner, log));
    }
    {
        std::unique_ptr<Watchful, vcl::TComponentDeleter> held(new Watchful(nullptr, log));
        fill(*held);
    }
    EXPECT_EQ(log, (std::vector<std::string>(3, expected)));

    // A source freed before its follower: the follower forgets it.
    auto* source = new TChartSeries(nullptr);
    TChartSeries follower(nullptr);
    follower.AddDataSource(*source);
    source->AddXY(1, 1);
    vcl::TComponent::Free(source);
    EXPECT_EQ(follower.DataSources().Count(), 0);
    EXPECT_EQ(follower.Count(), 0);  // the source's clearing reached it
}

}  // namespace
