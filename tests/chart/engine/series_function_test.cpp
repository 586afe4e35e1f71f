// Calculation functions fill their series from their sources: over all
// points, or period by period (points or X ranges, dates by the calendar),
// with every period walk ending; several sources at once; the period's
// errors; and a function moving between series.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "chart/engine/chart_exceptions.h"
#include "chart/engine/plot_function.h"
#include "platform/rtl/datetime.h"
#include "support/recording_series.h"

namespace {

using namespace chart::engine;
using test_support::PlainChart;
using test_support::RecordingSeries;
using Points = std::vector<std::pair<double, double>>;

// The mean of Y over the period (all points for -1, -1), counting its calls.
struct MeanFunction : TPlotFunction {
    int calls = 0;
    double Calculate(TChartSeries& Source, int FirstIndex, int LastIndex) override {
        ++calls;
        if (FirstIndex < 0) {
            FirstIndex = 0;
            LastIndex = Source.Count() - 1;
        }
        double sum = 0;
        for (int i = FirstIndex; i <= LastIndex; ++i) sum += Source.YValues().Value(i);
        return sum / (LastIndex - FirstIndex + 1);
    }
    // The sum of the sources' values at the index (0 past a source's end).
    double CalculateMany(const std::vector<TChartSeries*>& Sources, int ValueIndex) override {
        double sum = 0;
        for (TChartSeries* s : Sources)
            if (ValueIndex < s->Count()) sum += s->YValues().Value(ValueIndex);
        return sum;
    }
};

Points PointsOf(const TChartSeries& s) {
    Points out;
    for (int i = 0; i < s.Count(); ++i) out.emplace_back(s.XValues().Value(i), s.YValues().Value(i));
    return out;
}

// A chart with a source series and a result series fed by it through a
// function of the given kind.
template <class F>
struct FunctionChart {
    PlainChart chart;
    RecordingSeries& source = chart.AddRecording();
    RecordingSeries& result = chart.AddRecording();
    F* function = nullptr;
    FunctionChart() {
        auto f = std::make_unique<F>();
        function = f.get();
        result.SetFunction(std::move(f));
        result.SetDataSource(&source);
    }
    void Fill(const Points& p) {
        source.BeginUpdate();
        source.Clear();
        for (auto [x, y] : p) source.AddXY(x, y);
        source.EndUpdate();
    }
};

TEST(series_function, over_all_points_one_point_or_a_level_line_and_the_base_calculates_zero) {
    FunctionChart<TPlotFunction> base;
    base.Fill({{0, 10}, {4, 50}, {2, 30}});
    EXPECT_EQ(PointsOf(base.result), (Points{{2, 0}}));
    base.result.FunctionSinglePoint = false;
    base.function->ReCalculate();
    EXPECT_EQ(PointsOf(base.result), (Points{{0, 0}, {4, 0}}));

    FunctionChart<MeanFunction> mean;
    mean.Fill({{0, 10}, {4, 50}, {2, 30}});
    EXPECT_EQ(PointsOf(mean.result), (Points{{2, 30}}));
    // Single adds to the source do not reach a function; bulk changes do.
    mean.source.AddXY(6, 70);
    EXPECT_EQ(PointsOf(mean.result), (Points{{2, 30}}));
    mean.source.BeginUpdate();
    mean.source.EndUpdate();
    EXPECT_EQ(PointsOf(mean.result), (Points{{3, 40}}));
    // The result is the function's: never stored as own data.
    EXPECT_FALSE(mean.result.HasOwnData());
}

TEST(series_function, period_walks_by_points_and_by_ranges_always_end) {
    FunctionChart<MeanFunction> t;
    MeanFunction& f = *t.function;
    t.Fill({{0, 10}, {1, 20}, {2, 30}, {3, 40}, {4, 50}});
    f.SetPeriod(2);
    // Two full periods; the last, incomplete one adds nothing.
    EXPECT_EQ(PointsOf(t.result), (Points{{0.5, 15}, {2.5, 35}}));
    f.SetPeriodAlign(paFirst);
    EXPECT_EQ(PointsOf(t.result), (Points{{0, 15}, {2, 35}}));
    f.SetPeriodAlign(paLast);
    EXPECT_EQ(PointsOf(t.result), (Points{{1, 15}, {3, 35}}));

    // A period that rounds to no points takes one point each.
    f.SetPeriod(0.3);
    EXPECT_EQ(PointsOf(t.result), (Points{{0, 10}, {1, 20}, {2, 30}, {3, 40}, {4, 50}}));

    // Ranges: [0, 2) holds two points, [2, 4) none (a 0 at its middle),
    // [4, 6) one, [6, 8) one.
    t.Fill({{0, 10}, {1, 20}, {5, 50}, {6, 60}});
    f.SetPeriodStyle(psRange);
    f.SetPeriod(2);
    f.SetPeriodAlign(paCenter);
    const Points ranged = PointsOf(t.result);
    ASSERT_EQ(ranged.size(), 4u);
    EXPECT_EQ(ranged[0].second, 15);
    EXPECT_NEAR(ranged[0].first, (0 + 2 - 0.002) / 2, 1e-12);
    EXPECT_EQ(ranged[1].second, 0);
    EXPECT_EQ(ranged[2].second, 50);
    EXPECT_EQ(ranged[3].second, 60);

    // A period lost in the values' precision: the window stops moving and
    // the walk ends.
    t.Fill({{1e15, 1}, {1e15 + 10, 2}});
    f.SetPeriod(1e-6);
    EXPECT_EQ(t.result.Count(), 0);
    // A point without a finite X is counted where it is met.
    t.Fill({{0, 10}, {std::nan(""), 30}, {3, 40}});
    f.SetPeriod(2);
    EXPECT_GE(t.result.Count(), 2);
}

TEST(series_function, date_ranges_follow_the_calendar_and_several_sources_sum_by_index) {
    FunctionChart<MeanFunction> t;
    MeanFunction& f = *t.function;
    t.source.XValues().SetDateTime(true);
    const double jan1 = rtl::EncodeDate(2024, 1, 1), jan20 = rtl::EncodeDate(2024, 1, 20);
    const double feb1 = rtl::EncodeDate(2024, 2, 1), feb29 = rtl::EncodeDate(2024, 2, 29);
    const double mar1 = rtl::EncodeDate(2024, 3, 1);
    t.Fill({{jan1, 1}, {jan20, 3}, {feb1, 5}, {feb29, 7}, {mar1, 9}});
    f.BeginUpdate();
    f.SetPeriodStyle(psRange);
    f.SetPeriod(30);  // a month: windows start on the 1st
    f.SetPeriodAlign(paFirst);
    EXPECT_EQ(t.result.Count(), 1);  // nothing recalculated while updating
    f.EndUpdate();
    EXPECT_EQ(PointsOf(t.result), (Points{{jan1, 2}, {feb1, 6}, {mar1, 9}}));
    EXPECT_TRUE(t.result.XValues().DateTime());

    // Several sources: one point per index of the longest, its X and label.
    PlainChart chart;
    RecordingSeries& a = chart.AddRecording();
    RecordingSeries& b = chart.AddRecording();
    RecordingSeries& sum = chart.AddRecording();
    a.AddXY(10, 1, "first");
    a.AddXY(20, 2);
    a.AddXY(30, 3);
    b.AddXY(0, 100);
    sum.SetFunction(std::make_unique<MeanFunction>());
    sum.AddDataSource(a);
    sum.AddDataSource(b);
    sum.CheckDataSource();
    EXPECT_EQ(PointsOf(sum), (Points{{10, 101}, {20, 2}, {30, 3}}));
    EXPECT_EQ(sum.Labels().Labels(0), "first");
}

TEST(series_function, a_bad_period_is_refused_and_the_same_one_recalculates_nothing) {
    FunctionChart<MeanFunction> t;
    MeanFunction& f = *t.function;
    t.Fill({{0, 1}, {1, 2}});
    f.SetPeriod(1);
    const int calls = f.calls;
    f.SetPeriod(1);
    EXPECT_EQ(f.calls, calls);
    for (double bad : {-1.0, std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
        try {
            f.SetPeriod(bad);
            ADD_FAILURE() << bad;
        } catch (const ChartException& e) {
            EXPECT_EQ(e.Message, "Function Period should be >= 0");
        }
        EXPECT_EQ(f.Period(), 1);
    }
    EXPECT_EQ(f.GetEditorClassName(), "TPlotFunctionEditor");

    // Copying settings, and moving to another series, which takes it over.
    MeanFunction other;
    other.Assign(f);
    EXPECT_EQ(other.Period(), 1);
    RecordingSeries& next = t.chart.AddRecording();
    next.SetDataSource(&t.source);
    f.SetParentSeries(&next);
    EXPECT_EQ(t.result.Function(), nullptr);
    EXPECT_EQ(next.Function(), &f);
    EXPECT_EQ(f.GetParentComponent(), &next);
    EXPECT_EQ(PointsOf(next), (Points{{0, 1}, {1, 2}}));
}

}  // namespace
