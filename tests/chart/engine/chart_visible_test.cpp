// A chart as a user sees it: a TChart on a form painted through the real
// paint road (the window's paint, offscreen), written as a PNG
// (chart_engine_chart.png in the test's folder), and checked on its
// pixels: labels centred under their ticks, grid lines only between the
// axis ends, the series clipped to the chart rectangle; the same chart in
// orthogonal 3D; and every awkward range or value a chart may meet paints
// and ends.
#include <gtest/gtest.h>

#include <QImage>
#include <QWidget>
#include <cmath>
#include <filesystem>
#include <limits>
#include <set>

#include "chart/drawing/view3d_options.h"
#include "chart/engine/chart_axis.h"
#include "platform/rtl/datetime.h"
#include "platform/vcl/forms.h"
#include "platform/vcl/picture.h"
#include "support/recording_series.h"

namespace {

using chart::engine::TChartAxis;
using test_support::At;
using test_support::PlainChart;
using test_support::RecordingSeries;

constexpr gdi::COLORREF kGrid = 0x808080;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

gdi::COLORREF Colour(QRgb p) { return qRed(p) | (qGreen(p) << 8) | (qBlue(p) << 16); }

// Dark pixels: label and axis ink (text is drawn black).
bool Ink(gdi::COLORREF c) { return (c & 0xFF) < 0x60 && ((c >> 8) & 0xFF) < 0x60 && (c >> 16) < 0x60; }

TEST(visible_chart, a_chart_on_a_form_shows_axes_grid_labels_and_a_clipped_series) {
    vcl::EnsureApplication();
    vcl::TForm form(nullptr);
    form.SetClientSize(600, 400);
    auto* chart = new PlainChart(600, 400, &form);
    chart->SetParent(&form);
    RecordingSeries& s = chart->AddRecording();
    s.SetSeriesColor(vcl::clBlue);
    s.Fill(201, [](int i) { return 50 + 60 * std::sin(i / 16.0); });
    // A fixed range narrower than the data: the line leaves the rectangle.
    chart->LeftAxis().SetMinMax(0, 100);
    chart->BottomAxis().SetMinMax(0, 180);
    chart->LeftAxis().Title().SetCaption("Volts");
    chart->BottomAxis().Title().SetCaption("Sample");
    form.Show();

    // The window's own paint and a bitmap of the chart draw the same.
    const QImage shown = chart->Widget()->grab().toImage();
    const auto image = chart->Render();
    vcl::TPngGraphic png;
    png.Assign(*image);
    png.SaveToFile((std::filesystem::current_path() / "chart_engine_chart.png").string());
    for (int y = 0; y < 400; y += 3)
        for (int x = 0; x < 600; x += 3)
            ASSERT_EQ(Colour(shown.pixel(x, y)), At(*image, x, y)) << x << "," << y;

    const vcl::TRect r = chart->ChartRect;
    TChartAxis& bottom = chart->BottomAxis();
    TChartAxis& left = chart->LeftAxis();
    ASSERT_EQ(bottom.Items().Count(), static_cast<int>(bottom.TickPositions.size()));
    ASSERT_GE(bottom.Items().Count(), 5);
    chart->Canvas()->AssignFont(bottom.LabelsFont());
    const int fontHeight = chart->Canvas()->FontHeight();

    // Bottom labels: ink centred on the tick, starting at the labels' row.
    for (std::size_t i = 0; i < bottom.TickPositions.size(); ++i) {
        const int p = bottom.TickPositions[i];
        const vcl::TRect box = bottom.Items().Items(static_cast<int>(i)).ShapeBounds;
        int lo = 10000, hi = -1, top = 10000;
        for (int y = bottom.LabelsPosition; y < bottom.LabelsPosition + fontHeight; ++y)
            for (int x = box.Left; x < box.Right; ++x)
                if (Ink(At(*image, x, y))) lo = std::min(lo, x), hi = std::max(hi, x), top = std::min(top, y);
        ASSERT_LE(lo, hi) << "no ink for label " << i;
        EXPECT_LE(std::abs(lo + hi - 2 * p), 2) << "label " << i << " at " << p;
        EXPECT_GE(top, bottom.LabelsPosition);
        // The tick below the axis line, in grey, from offset 1 for 4 pixels.
        EXPECT_EQ(At(*image, p, r.Bottom + 2), kGrid) << p;
    }
    // Left labels: right-aligned before the labels' column, their line
    // (a font height) centred on the tick.
    for (std::size_t i = 0; i < left.TickPositions.size(); ++i) {
        const int p = left.TickPositions[i];
        const vcl::TRect box = left.Items().Items(static_cast<int>(i)).ShapeBounds;
        EXPECT_EQ(box.Top, p - fontHeight / 2);
        EXPECT_EQ(box.Bottom - box.Top, fontHeight);
        int right = -1, lo = 10000, hi = -1;
        for (int y = box.Top; y < box.Bottom; ++y)
            for (int x = box.Left; x < left.LabelsPosition + 2; ++x)
                if (Ink(At(*image, x, y))) right = std::max(right, x), lo = std::min(lo, y), hi = std::max(hi, y);
        ASSERT_GE(right, 0) << "no ink for label " << i;
        EXPECT_LE(right, left.LabelsPosition);
        EXPECT_GE(right, left.LabelsPosition - 3);
        EXPECT_TRUE(lo <= p && p <= hi) << "label " << i;
    }

    // Grid lines only at ticks strictly between the axis ends.
    std::set<int> gridColumns;
    const int row = (r.Top + r.Bottom) / 2 + 1;
    for (int x = r.Left; x <= r.Right; ++x)
        for (int y = row; y < row + 6; ++y)
            if (At(*image, x, y) == kGrid) gridColumns.insert(x);
    std::set<int> inside;
    for (int p : bottom.TickPositions)
        if (p > bottom.StartPixel && p < bottom.EndPixel) inside.insert(p);
    EXPECT_EQ(gridColumns, inside);
    for (int p : left.TickPositions) {
        const bool between = p > left.StartPixel && p < left.EndPixel;
        bool grid = false;
        for (int x = (r.Left + r.Right) / 2; x < (r.Left + r.Right) / 2 + 8; ++x) grid |= At(*image, x, p) == kGrid;
        EXPECT_EQ(grid, between) << p;
    }

    // The series inside the chart rectangle only (a pixel more at top and
    // bottom), and drawn there.
    int blue = 0;
    for (int y = 0; y < 400; ++y)
        for (int x = 0; x < 600; ++x)
            if (At(*image, x, y) == 0xFF0000) {
                ++blue;
                ASSERT_TRUE(x >= r.Left && x < r.Right && y >= r.Top - 1 && y <= r.Bottom) << x << "," << y;
            }
    EXPECT_GT(blue, 300);

    // The same chart in orthogonal 3D: the grid of the left axis lies on
    // the back, the depth of the box away.
    chart->SetView3D(true);
    chart->View3DOptions().SetOrthogonal(true);
    const auto deep = chart->Render();
    EXPECT_GT(chart->Width3D, 0);
    const int tick = left.TickPositions[left.TickPositions.size() / 2];
    const vcl::TPoint back = chart->Canvas()->Calculate3DPosition(chart->ChartRect.Left + 20, tick, chart->Width3D);
    int onBack = 0;
    for (int x = back.X - 4; x <= back.X + 4; ++x) onBack += At(*deep, x, back.Y) == kGrid;
    EXPECT_GT(onBack, 0);
    form.Hide();
}

TEST(visible_chart, awkward_ranges_and_values_paint_and_end) {
    PlainChart chart(400, 300);
    RecordingSeries& s = chart.AddRecording();
    TChartAxis& x = chart.BottomAxis();
    TChartAxis& y = chart.LeftAxis();
    auto labels = [](TChartAxis& a) { return a.Items().Count(); };

    // No points: zero ranges, one label each.
    chart.Render();
    EXPECT_EQ(labels(x), 1);
    EXPECT_EQ(labels(y), 1);
    // One point, and all X equal.
    s.AddXY(3, 4);
    chart.Render();
    EXPECT_EQ(s.Drawn, (std::vector<int>{0}));
    for (int i = 0; i < 5; ++i) s.AddXY(3, i);
    chart.Render();
    EXPECT_TRUE(x.RangeIsZero);
    EXPECT_EQ(labels(x), 1);
    EXPECT_EQ(x.CalcXPosValue(3), x.CenterPixel);

    // Not numbers and infinities: the axes take the finite values.
    s.Clear();
    s.AddXY(1, kNaN);
    s.AddXY(2, 5);
    s.AddXY(3, kInf);
    s.AddXY(4, -kInf);
    s.AddXY(5, 9);
    s.AddXY(kInf, 7);
    chart.Render();
    EXPECT_EQ(y.InternalMinimum, 5);
    EXPECT_EQ(y.InternalMaximum, 9);
    EXPECT_EQ(x.InternalMinimum, 1);
    EXPECT_EQ(x.InternalMaximum, 5);
    s.Clear();
    s.AddXY(kNaN, kNaN);
    chart.Render();
    EXPECT_EQ(y.InternalMaximum, 0);

    // The narrowest and the widest ranges, also through the fast routines.
    s.Clear();
    s.Fill(100, [](int i) { return i * 1e298; });
    for (bool fast : {false, true}) {
        chart.Axes().SetFastCalc(fast);
        y.SetAutomatic(true);
        chart.Render();
        EXPECT_GE(labels(y), 2);
        y.SetMinMax(5e299, 5e299 + 1e-10);
        chart.Render();
        EXPECT_LE(labels(y), 1);
        x.SetMinMax(1e300, -1e300);
        chart.Render();
        EXPECT_GE(labels(x), 2);
        x.SetMinMax(50, 50);
        chart.Render();
        x.SetAutomatic(true);
    }
    chart.Axes().SetFastCalc(false);

    // No room between labels asked for, and a step giving 10,000 labels
    // or more: labels are drawn up to that bound, none beyond it.
    y.SetMinMax(0, 1);
    y.SetLabelsSeparation(0);
    y.SetIncrement(1e-4);
    chart.Render();
    EXPECT_EQ(labels(y), 0);
    y.SetIncrement(2e-4);
    chart.Render();
    EXPECT_EQ(labels(y), 5001);
    y.SetIncrement(0);
    chart.Render();
    EXPECT_GT(labels(y), 0);
    y.SetLabelsSeparation(10);

    // Bases below 1 and just above it: every label loop ends.
    y.SetMinMax(1, 1000);
    y.SetLogarithmic(true);
    y.SetLogarithmicBase(0.5);
    chart.Render();
    EXPECT_EQ(y.Items().Items(0).Text(), "1");
    EXPECT_EQ(labels(y), 10);  // 1, 2, 4, ... 512
    y.SetLogarithmicBase(1.0000001);
    chart.Render();
    EXPECT_EQ(labels(y), 0);
    y.SetMinorTickCount(1000000);
    y.MinorGrid().SetVisible(true);
    y.SetLogarithmicBase(10);
    chart.Render();
    EXPECT_EQ(labels(y), 4);
    y.SetLogarithmic(false);

    // Date-times far outside the calendar and a huge minor tick count.
    s.XValues().SetDateTime(true);
    x.SetMinMax(-1e300, 1e300);
    chart.Render();
    x.SetMinMax(1e12, 1e12 + 400);
    x.SetExactDateTime(true);
    x.SetIncrement(30);
    chart.Render();
    x.SetMinorTickCount(2147483647);
    x.SetAutomatic(true);
    x.SetIncrement(0);
    chart.Render();
}

TEST(visible_chart, automatic_bounds_round_to_steps_below_a_second_on_dates_far_from_zero) {
    PlainChart chart(400, 300);
    RecordingSeries& s = chart.AddRecording();
    s.XValues().SetDateTime(true);
    // 45,000 days are 3.9e9 seconds: beyond any 32-bit count of steps.
    const double day = 45000;
    const double second = 1.0 / 86400;
    for (int i = 0; i <= 10; ++i) s.AddXY(day + (i + 0.3) * second, i);
    TChartAxis& x = chart.BottomAxis();
    x.SetMaximumRound(true);
    x.SetMinimumRound(true);
    x.SetIncrement(second);
    x.SetLabelsSeparation(0);
    chart.Render();
    const double steps = x.InternalMaximum / second;
    EXPECT_NEAR(steps, std::round(steps), 1e-3);
    EXPECT_GE(x.InternalMaximum, day + 10.3 * second);
    EXPECT_LT(x.InternalMaximum, day + 11.3 * second);
    EXPECT_LE(x.InternalMinimum, day + 0.3 * second);
    EXPECT_GT(x.InternalMinimum, day - 0.7 * second);
}

}  // namespace
