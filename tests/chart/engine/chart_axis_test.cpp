// Axes: the range rules and their errors, values to pixels and back (also
// far outside the range, in the fast routines a deep zoom uses), the
// label increments for numbers, date-times and logarithms, label texts
// through the platform's patterns, custom labels, and the room an axis
// takes beside the chart rectangle. Axes are read after a real paint.
#include "chart/engine/chart_axis.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "chart/engine/chart_exceptions.h"
#include "chart/engine/panel_routines.h"
#include "platform/rtl/datetime.h"
#include "support/recording_series.h"

namespace {

using chart::engine::AxisException;
using chart::engine::kPixelLimit;
using chart::engine::NextNiceStep;
using chart::engine::TChartAxis;
using test_support::PlainChart;
using test_support::RecordingSeries;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// The texts of the labels an automatic axis drew last.
std::vector<std::string> LabelTexts(TChartAxis& axis) {
    std::vector<std::string> texts;
    for (int i = 0; i < axis.Items().Count(); ++i) texts.push_back(axis.Items().Items(i).Text());
    return texts;
}

template <class F>
void ExpectAxisError(F&& f, const std::string& message) {
    try {
        f();
        ADD_FAILURE() << "no error, expected: " << message;
    } catch (const AxisException& e) {
        EXPECT_EQ(e.Message, message);
    }
}

TEST(chart_axis, range_settings_follow_their_rules_and_refuse_what_cannot_be) {
    PlainChart chart;
    RecordingSeries& s = chart.AddRecording();
    s.Fill(11, [](int i) { return i * 10.0; });
    TChartAxis& left = chart.LeftAxis();

    left.SetAutomatic(false);
    EXPECT_FALSE(left.AutomaticMinimum());
    EXPECT_FALSE(left.AutomaticMaximum());
    left.SetAutomaticMinimum(true);
    EXPECT_FALSE(left.Automatic());
    left.SetAutomaticMaximum(true);
    EXPECT_TRUE(left.Automatic());

    left.SetMinMax(5, 2);
    EXPECT_EQ(left.Minimum(), 2);
    EXPECT_EQ(left.Maximum(), 5);
    EXPECT_FALSE(left.Automatic());
    left.SetMinMax(3, 3);
    EXPECT_EQ(left.Maximum(), 3 + 1e-10);

    left.SetMinMax(0, 10);
    ExpectAxisError([&] { left.SetMinimum(11); }, "Axis Minimum Value must be <= Maximum");
    ExpectAxisError([&] { left.SetMaximum(-1); }, "Axis Maximum Value must be >= Minimum");
    ExpectAxisError([&] { left.SetMaximum(kNaN); }, "Axis Maximum Value must be >= Minimum");
    EXPECT_EQ(left.Minimum(), 0);
    EXPECT_EQ(left.Maximum(), 10);
    ExpectAxisError([&] { left.SetIncrement(-1); }, "Axis increment must be >= 0");
    for (double base : {0.0, 1.0, -2.0, kInf})
        ExpectAxisError([&] { left.SetLogarithmicBase(base); },
                        "Axis Logarithmic Base should be <> 1 and > 0");
    EXPECT_EQ(left.LogarithmicBase(), 10);
    ExpectAxisError([&] { left.SetLabelsSeparation(-1); },
                    "Labels Separation % must be greater than 0");
    EXPECT_EQ(left.LabelsSeparation(), 10);

    // Logarithmic refuses negative data and date-times.
    s.AddXY(11, -5);
    chart.LeftAxis().SetAutomatic(true);
    ExpectAxisError([&] { left.SetLogarithmic(true); },
                    "Logarithmic Axis Min and Max values should be >= 0");
    EXPECT_FALSE(left.Logarithmic());
    s.XValues().SetDateTime(true);
    ExpectAxisError([&] { chart.BottomAxis().SetLogarithmic(true); },
                    "DateTime Axis cannot be Logarithmic");

    left.SetZPosition(0);
    EXPECT_EQ(left.ZPosition(), 0.01);
    try {
        chart.SetChart3DPercent(101);
        ADD_FAILURE() << "101 accepted";
    } catch (const rtl::Exception& e) {
        EXPECT_EQ(e.Message, "3D effect percent must be between 1 and 100");
    }
    EXPECT_EQ(chart.Chart3DPercent(), 15);

    // Scrolling with limits only moves towards data beyond the range.
    TChartAxis& bottom = chart.BottomAxis();
    bottom.SetMinMax(0, 20);
    bottom.Scroll(5, true);
    EXPECT_EQ(bottom.Maximum(), 20);
    bottom.Scroll(-5, true);
    EXPECT_EQ(bottom.Maximum(), 20);
    bottom.SetMinMax(0, 5);
    bottom.Scroll(2, true);
    EXPECT_EQ(bottom.Minimum(), 2);
    EXPECT_EQ(bottom.Maximum(), 7);
    bottom.Scroll(-10, false);
    EXPECT_EQ(bottom.Minimum(), -8);
}

TEST(chart_axis, values_map_to_pixels_and_back_and_never_beyond_the_limit) {
    PlainChart chart;
    chart.AddRecording().Fill(101, [](int i) { return i; });
    chart.Render();
    TChartAxis& x = chart.BottomAxis();
    TChartAxis& y = chart.LeftAxis();
    EXPECT_EQ(x.InternalMinimum, 0);
    EXPECT_EQ(x.InternalMaximum, 100);
    EXPECT_EQ(x.StartPixel, chart.ChartRect.Left);
    EXPECT_EQ(x.EndPixel, chart.ChartRect.Right);
    EXPECT_EQ(x.CalcXPosValue(0), x.StartPixel);
    EXPECT_EQ(x.CalcXPosValue(100), x.EndPixel);
    EXPECT_EQ(y.CalcYPosValue(0), y.EndPixel);
    EXPECT_EQ(y.CalcYPosValue(100), y.StartPixel);
    for (double v : {0.0, 12.5, 50.0, 99.0}) {
        EXPECT_NEAR(x.CalcPosPoint(x.CalcXPosValue(v)), v, 100.0 / x.AxisPixelSize);
        EXPECT_NEAR(y.CalcPosPoint(y.CalcYPosValue(v)), v, 100.0 / y.AxisPixelSize);
    }

    // Far outside, infinite or not a number: clamped, NaN as minus infinity.
    EXPECT_EQ(x.CalcXPosValue(1e300), kPixelLimit);
    EXPECT_EQ(x.CalcXPosValue(-kInf), -kPixelLimit);
    EXPECT_EQ(x.CalcXPosValue(kNaN), -kPixelLimit);
    EXPECT_EQ(y.CalcYPosValue(kNaN), kPixelLimit);
    EXPECT_EQ(y.CalcYPosValue(-1e300), kPixelLimit);

    // The fast routines: the offset rounded alone, then added; in range as
    // they always were, and a deep zoom clamps instead of overflowing.
    chart.Axes().SetFastCalc(true);
    for (double v : {0.0, 0.37, 33.3, 77.77, 100.0}) {
        const long long t = std::llrint((v - x.InternalMinimum) * x.AxisScale);
        EXPECT_EQ(x.CalcXPosValue(v), x.StartPixel + t) << v;
        EXPECT_EQ(y.CalcYPosValue(v), y.EndPixel - std::llrint((v - y.InternalMinimum) * y.AxisScale));
    }
    x.SetMinMax(50, 50 + 1e-10);
    chart.Render();
    EXPECT_EQ(x.CalcXPosValue(0), -kPixelLimit);
    EXPECT_EQ(x.CalcXPosValue(100), kPixelLimit);
    EXPECT_EQ(y.CalcYPosValue(1e308), -kPixelLimit);
    EXPECT_EQ(x.CalcXPosValue(kNaN), -kPixelLimit);
    chart.Axes().SetFastCalc(false);
    EXPECT_EQ(x.CalcXPosValue(100), kPixelLimit);

    // Inverted: the minimum at the end.
    x.SetAutomatic(true);
    x.SetInverted(true);
    chart.Render();
    EXPECT_EQ(x.CalcXPosValue(0), x.EndPixel);
    EXPECT_EQ(x.CalcXPosValue(100), x.StartPixel);
    EXPECT_NEAR(x.CalcPosPoint(x.CalcXPosValue(25)), 25, 100.0 / x.AxisPixelSize);

    // Logarithmic: equal ratios, equal distances; values <= 0 at the
    // minimum's end.
    y.SetLogarithmic(true);
    y.SetMinMax(1, 100);
    chart.Render();
    EXPECT_NEAR(y.CalcYPosValue(10), (y.StartPixel + y.EndPixel) / 2.0, 0.5);
    EXPECT_EQ(y.CalcYPosValue(0), y.EndPixel);
    EXPECT_EQ(y.CalcYPosValue(-3), y.EndPixel);
    EXPECT_NEAR(y.CalcPosPoint(y.CalcYPosValue(30)), 30, 1.0);
    EXPECT_EQ(LabelTexts(y), (std::vector<std::string>{"1", "10", "100"}));

    // A zero range maps everything to the centre.
    x.SetInverted(false);
    chart.SeriesList().Items(0)->Clear();
    chart.SeriesList().Items(0)->AddXY(7, 7);
    y.SetLogarithmic(false);
    y.SetAutomatic(true);
    chart.Render();
    EXPECT_TRUE(x.RangeIsZero);
    EXPECT_EQ(x.AxisScale, 0);
    EXPECT_EQ(x.CalcXPosValue(-1e9), x.CenterPixel);
    EXPECT_EQ(y.CalcYPosValue(7), y.CenterPixel);
    EXPECT_EQ(LabelTexts(x), (std::vector<std::string>{"7"}));
    EXPECT_EQ(LabelTexts(y), (std::vector<std::string>{"7"}));
}

TEST(chart_axis, increments_step_along_1_2_5_and_the_calendar_to_fit_the_room) {
    EXPECT_EQ(NextNiceStep(1), 2);
    EXPECT_EQ(NextNiceStep(2), 5);
    EXPECT_EQ(NextNiceStep(5), 10);
    EXPECT_EQ(NextNiceStep(7), 10);
    EXPECT_EQ(NextNiceStep(10), 20);
    EXPECT_EQ(NextNiceStep(20), 50);
    EXPECT_NEAR(NextNiceStep(0.05), 0.1, 1e-15);
    EXPECT_NEAR(NextNiceStep(0.3), 0.5, 1e-15);
    EXPECT_EQ(NextNiceStep(kInf), 1);
    EXPECT_EQ(NextNiceStep(0), 1);

    // 0..100 on a 400-pixel axis: 30-pixel labels with 10 % between them
    // leave room for 12; 100 / 13 steps up to 10: 11 labels, 100 down to 0.
    PlainChart chart;
    chart.SetMarginUnits(chart::engine::muPixels);
    chart.AddRecording().Fill(101, [](int i) { return i; });
    chart.Render();
    TChartAxis& x = chart.BottomAxis();
    chart.SetBounds(0, 0, chart.Width() + 400 - x.AxisPixelSize, chart.Height());
    chart.Render();
    ASSERT_EQ(x.AxisPixelSize, 400);
    EXPECT_EQ(x.IncrementForLabelSize(30), 10);
    EXPECT_EQ(LabelTexts(x), (std::vector<std::string>{"100", "90", "80", "70", "60", "50", "40",
                                                       "30", "20", "10", "0"}));
    // Each label centred under its tick, its top at the labels' position.
    ASSERT_EQ(x.TickPositions.size(), 11u);
    for (int i = 0; i < x.Items().Count(); ++i) {
        const vcl::TRect& b = x.Items().Items(i).ShapeBounds;
        EXPECT_LE(std::abs((b.Left + b.Right) - 2 * x.TickPositions[static_cast<std::size_t>(i)]), 1);
        EXPECT_EQ(b.Top, x.LabelsPosition);
    }

    // A step asked for that is too small for the room goes up the 1-2-5
    // sequence; with no separation it is taken as it is.
    x.SetIncrement(1);
    chart.Render();
    EXPECT_EQ(LabelTexts(x).front(), "100");
    EXPECT_LE(x.Items().Count(), 13);
    x.SetLabelsSeparation(0);
    chart.Render();
    EXPECT_EQ(x.Items().Count(), 101);
    x.SetLabelsSeparation(10);
    x.SetIncrement(0);

    // Ten minutes with room for eight: from a millionth of the range up
    // the 1-2-5 sequence, then the calendar steps, to five minutes.
    RecordingSeries& s = *static_cast<RecordingSeries*>(chart.SeriesList().Items(0));
    s.Clear();
    s.XValues().SetDateTime(true);
    const double start = rtl::EncodeDate(2024, 3, 1) + rtl::EncodeTime(14, 1, 0, 0);
    for (int i = 0; i <= 600; ++i) s.AddXY(start + i / 86400.0, i);
    chart.Render();
    x.SetMinMax(start, start + 10 / 1440.0);
    chart.Render();
    EXPECT_NEAR(x.DateTimeIncrementFor(8), 5 / 1440.0, 1e-12);
    // With the graph window's format every label reads h:nn:ss; the first
    // label is rounded to the step.
    x.SetDateTimeFormat("h:nn:ss");
    x.SetIncrement(5 / 1440.0);
    chart.Render();
    EXPECT_EQ(LabelTexts(x), (std::vector<std::string>{"14:10:00", "14:05:00"}));
}

TEST(chart_axis, label_texts_come_from_the_platform_patterns_and_the_chart_events) {
    PlainChart chart;
    chart.AddRecording().Fill(6, [](int i) { return i * 500.0; });
    chart.Render();
    TChartAxis& y = chart.LeftAxis();
    EXPECT_EQ(LabelTexts(y).front(), "2,500");
    EXPECT_EQ(y.LabelValue(0.125), "0.125");
    EXPECT_EQ(y.LabelValue(1234.56789), "1,234.568");
    // Stepping down from the top of a range around zero leaves rounding
    // error at zero, far beyond what the pattern shows: zero is labelled 0.
    {
        PlainChart wide;
        wide.AddRecording().Fill(2, [](int i) { return i == 0 ? -1e300 : 1e300; });
        wide.Render();
        TChartAxis& w = wide.LeftAxis();
        std::vector<double> values;
        for (int i = 0; i < w.Items().Count(); ++i) values.push_back(w.Items().Items(i).Value());
        ASSERT_GE(values.size(), 3u);
        const auto zero = std::find(values.begin(), values.end(), 0.0);
        ASSERT_NE(zero, values.end());
        EXPECT_EQ(LabelTexts(w)[static_cast<std::size_t>(zero - values.begin())], "0");
    }

    // The chart's label event sees every text; multi-line labels break at
    // blanks and measure as two lines along a vertical axis.
    int asked = 0;
    chart.OnGetAxisLabel = [&](TChartAxis* axis, chart::engine::TChartSeries* series, int index,
                               std::string& text) {
        ++asked;
        EXPECT_EQ(series, nullptr);
        EXPECT_EQ(index, -1);
        if (axis == &y) text = "v " + text;
    };
    chart.Render();
    EXPECT_GT(asked, 0);
    EXPECT_EQ(LabelTexts(y).front(), "v 2,500");
    const int oneLine = y.LabelExtentAlong(2500);
    y.SetLabelsMultiLine(true);
    EXPECT_EQ(y.LabelValue(2500), "v\r2,500");
    EXPECT_EQ(y.LabelExtentAlong(2500), 2 * oneLine);
    chart.OnGetAxisLabel = nullptr;

    // Labels from the chart's own walk: Stop at once keeps the default ones.
    chart.OnGetNextAxisLabel = [](TChartAxis*, int, double&, bool& stop) { stop = true; };
    chart.Render();
    EXPECT_EQ(LabelTexts(y).front(), "2,500");
    chart.OnGetNextAxisLabel = [](TChartAxis*, int index, double& value, bool& stop) {
        value = index * 1000.0;
        stop = index > 2;
    };
    chart.Render();
    EXPECT_EQ(LabelTexts(y), (std::vector<std::string>{"0", "1,000", "2,000"}));
    chart.OnGetNextAxisLabel = nullptr;

    // Custom labels: one added switches the automatic ones off; cleared,
    // the axis shows no labels at all.
    y.Items().Add(1200, "limit");
    EXPECT_FALSE(y.Items().Automatic);
    chart.Render();
    EXPECT_EQ(y.TickPositions, (std::vector<int>{y.CalcYPosValue(1200)}));
    y.Items().Clear();
    chart.Render();
    EXPECT_TRUE(y.TickPositions.empty());
    EXPECT_FALSE(y.Items().Automatic);
}

TEST(chart_axis, layout_reserves_room_for_title_labels_and_ticks_and_an_empty_title_takes_none) {
    PlainChart chart;
    // Without series every axis shows (but the depth axes, in 2D).
    chart.Render();
    for (TChartAxis* axis : {&chart.LeftAxis(), &chart.TopAxis(), &chart.RightAxis(), &chart.BottomAxis()})
        EXPECT_TRUE(axis->ShownInLayout);
    EXPECT_FALSE(chart.DepthAxis().ShownInLayout);
    chart.AddRecording().Fill(11, [](int i) { return i * 1000.0; });
    chart.Render();
    EXPECT_FALSE(chart.TopAxis().ShownInLayout);
    EXPECT_FALSE(chart.RightAxis().ShownInLayout);
    chart.Render();
    // The panel less 3 % and 4 % margins: 18, 16, 582, 384.
    chart::TCanvas3D& canvas = *chart.Canvas();
    canvas.AssignFont(chart.BottomAxis().LabelsFont());
    const int labelHeight = canvas.FontHeight();
    // Axis pen 2 + 1, tick 4.
    EXPECT_EQ(chart.ChartRect.Bottom, 384 - labelHeight - 7);
    EXPECT_EQ(chart.BottomAxis().LabelsPosition, 384 - labelHeight);
    const int widest = chart.LeftAxis().MaxLabelsWidth();
    EXPECT_EQ(widest, canvas.TextWidth("10,000") + canvas.TextWidth(" "));
    EXPECT_EQ(chart.ChartRect.Left, 18 + widest + 7);
    EXPECT_EQ(chart.ChartRect.Top, 16);
    EXPECT_EQ(chart.ChartRect.Right, 582);

    chart.BottomAxis().Title().SetCaption("Seconds");
    chart.LeftAxis().Title().SetCaption("Volts");
    chart.Render();
    canvas.AssignFont(chart.BottomAxis().Title().Font());
    const int titleHeight = canvas.FontHeight();
    EXPECT_EQ(chart.ChartRect.Bottom, 384 - titleHeight - labelHeight - 7);
    EXPECT_EQ(chart.BottomAxis().TitlePosition, 384 - titleHeight);
    // The left title turned by 90 degrees takes a line's height.
    EXPECT_EQ(chart.ChartRect.Left, 18 + titleHeight + widest + 7);

    // Fixed sizes and alternate rows.
    chart.BottomAxis().SetLabelsSize(30);
    chart.BottomAxis().SetLabelsAlternate(true);
    chart.Render();
    EXPECT_EQ(chart.ChartRect.Bottom, 384 - titleHeight - 60 - 7);
    // The other half of the labels one row further out.
    const auto& items = chart.BottomAxis().Items();
    ASSERT_GE(items.Count(), 2);
    EXPECT_EQ(items.Items(1).ShapeBounds.Top - items.Items(0).ShapeBounds.Top, labelHeight);

    chart.LeftAxis().Title().SetCaption("");
    chart.BottomAxis().Title().SetVisible(false);
    chart.BottomAxis().SetLabelsSize(0);
    chart.BottomAxis().SetLabelsAlternate(false);
    chart.Render();
    EXPECT_EQ(chart.ChartRect.Left, 18 + widest + 7);
    EXPECT_EQ(chart.ChartRect.Bottom, 384 - labelHeight - 7);
}

}  // namespace

namespace {

TEST(chart_axis, drawing_options_decide_which_ticks_grid_lines_and_labels_appear) {
    PlainChart chart;
    RecordingSeries& s = chart.AddRecording();
    s.Fill(101, [](int i) { return i; });
    TChartAxis& x = chart.BottomAxis();
    x.SetIncrement(10);
    chart.Render();
    ASSERT_EQ(x.TickPositions.size(), 11u);
    EXPECT_EQ(x.TickPositions.front(), x.EndPixel);
    EXPECT_EQ(x.TickPositions.back(), x.StartPixel);

    // Labels on the very ends only when asked.
    x.SetLabelsOnAxis(false);
    chart.Render();
    EXPECT_EQ(LabelTexts(x).front(), "90");
    EXPECT_EQ(LabelTexts(x).back(), "10");
    x.SetLabelsOnAxis(true);

    // A label its event hides keeps its tick.
    x.OnDrawLabel = [](TChartAxis*, int&, int&, int&, std::string& text, bool& draw) {
        if (text == "50") draw = false;
        if (text == "60") text = "six\rty";
    };
    const auto image = chart.Render();
    EXPECT_EQ(x.TickPositions.size(), 11u);
    const int fifty = x.CalcXPosValue(50);
    const int labelsTop = x.LabelsPosition;
    int ink = 0;
    for (int y = labelsTop; y < labelsTop + 12; ++y)
        for (int px = fifty - 6; px <= fifty + 6; ++px) ink += (test_support::At(*image, px, y) & 0xFF) < 0x60;
    EXPECT_EQ(ink, 0);
    x.OnDrawLabel = nullptr;

    // No labels and ticks only where labels are: no ticks, no grid.
    x.SetLabels(false);
    chart.Render();
    EXPECT_TRUE(x.TickPositions.empty());
    // Ticks everywhere else.
    x.SetTickOnLabelsOnly(false);
    chart.Render();
    EXPECT_EQ(x.TickPositions.size(), 11u);
    x.SetLabels(true);
    x.SetTickOnLabelsOnly(true);

    // Grid lines at every n-th tick (0 and below as 1), or between ticks.
    auto gridColumns = [&] {
        const auto picture = chart.Render();
        std::vector<int> columns;
        const int y = (chart.ChartRect.Top + chart.ChartRect.Bottom) / 2;
        for (int px = chart.ChartRect.Left + 1; px < chart.ChartRect.Right; ++px) {
            bool grid = false;
            for (int k = 0; k < 4; ++k) grid |= test_support::At(*picture, px, y + k) == 0x808080;
            if (grid) columns.push_back(px);
        }
        return columns;
    };
    chart.LeftAxis().Grid().SetVisible(false);
    x.Grid().SetDrawEvery(0);
    EXPECT_EQ(gridColumns().size(), 9u);
    x.Grid().SetDrawEvery(2);
    const auto every2 = gridColumns();
    EXPECT_EQ(every2.size(), 4u);
    EXPECT_EQ(every2.front(), x.TickPositions[8]);
    x.Grid().SetDrawEvery(1);
    x.SetGridCentered(true);
    const auto centred = gridColumns();
    ASSERT_EQ(centred.size(), 10u);
    EXPECT_EQ(centred.back(), (x.TickPositions[0] + x.TickPositions[1] + 1) / 2);
    x.SetGridCentered(false);

    // Three minor ticks between two ticks, none beyond the ends.
    x.Ticks().SetVisible(false);
    const auto picture = chart.Render();
    int marks = 0;
    for (int px = x.StartPixel + 1; px < x.EndPixel; ++px)
        marks += test_support::At(*picture, px, chart.ChartRect.Bottom + 2) == 0x808080;
    EXPECT_EQ(marks, 10 * 3);

    // Text labels from the points' labels, thinned where they would touch.
    s.Clear();
    for (int i = 0; i < 40; ++i) s.AddXY(i, i, "point " + std::to_string(i));
    x.SetIncrement(0);
    chart.Render();
    EXPECT_EQ(x.EffectiveLabelStyle(), chart::engine::talText);
    const auto texts = LabelTexts(x);
    ASSERT_GE(texts.size(), 3u);
    EXPECT_LT(texts.size(), 40u);
    EXPECT_EQ(texts.front(), "point 0");
    for (int i = 1; i < x.Items().Count(); ++i) {
        const auto& a = x.Items().Items(i - 1).ShapeBounds;
        const auto& b = x.Items().Items(i).ShapeBounds;
        EXPECT_GE(b.Left + x.ParentChart()->Canvas()->TextWidth("W") / 2, a.Right - x.ParentChart()->Canvas()->TextWidth("W") / 2);
    }
    x.SetLabelsSeparation(0);
    chart.Render();
    EXPECT_EQ(LabelTexts(x).size(), 40u);
}

}  // namespace
