// The fast line on rendered pictures: each rule of the line (points on one
// pixel column, stairs, null points, the point before the visible range,
// clipping) against the segments it should paint, drawn one by one by the
// device context; the pixel-column runs of a dense line against every
// segment drawn; margins for the pen; the segment a new point draws into
// the shown image; settings, gallery, legend symbol and hit test; and bad
// input (no points, one point, NaN, infinities).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <tuple>

#include "chart/drawing/plot_canvas3d.h"
#include "chart/drawing/plot_const.h"
#include "chart/engine/plot_function.h"
#include "chart/engine/series_marks.h"
#include "platform/vcl/forms.h"
#include "support/chart_surfaces.h"
#include "support/line_chart.h"
#include "support/mouse.h"
#include "support/qt_app.h"
#include "support/screen.h"

namespace {

using chart::engine::TFastLineSeries;
using test_support::ExpectedPicture;
using test_support::FirstDifference;
using test_support::PixelChart;
using test_support::DrawSegments;
using test_support::Polyline;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// The chart's picture is its background with exactly these lines over it.
void ExpectPaints(PixelChart& chart, const std::vector<Polyline>& lines) {
    const auto shown = chart.Render();
    ASSERT_EQ(chart.ChartRect, (vcl::TRect{0, 0, chart.Width(), chart.Height()}));
    const auto expected = ExpectedPicture(chart, lines);
    int count = 0;
    const std::string first = FirstDifference(*shown, *expected, &count);
    EXPECT_EQ(count, 0) << "first at " << first;
}

TEST(fast_line, each_rule_paints_the_segments_it_names) {
    PixelChart chart;
    TFastLineSeries& line = *chart.Line;

    // Pixel columns 10, 10, 11: without DrawAllPoints the middle point is
    // skipped, so one segment from the first to the third; with it, two.
    chart.AddPixel(10, 50);
    chart.AddPixel(10.2, 20);
    chart.AddPixel(11, 70);
    line.SetDrawAllPoints(false);
    ExpectPaints(chart, {{{10, 50}, {11, 70}}});
    line.SetDrawAllPoints(true);
    ExpectPaints(chart, {{{10, 50}, {10, 20}, {11, 70}}});
    // A point on the same pixel as the one before draws nothing more.
    chart.AddPixel(11.3, 70);
    ExpectPaints(chart, {{{10, 50}, {10, 20}, {11, 70}}});

    // Stairs: across, then up or down; inverted, up or down first.
    line.Clear();
    chart.AddPixel(20, 80);
    chart.AddPixel(120, 30);
    chart.AddPixel(170, 60);
    line.SetStairs(true);
    ExpectPaints(chart, {{{20, 80}, {120, 80}, {120, 30}, {170, 30}, {170, 60}}});
    line.SetInvertedStairs(true);
    ExpectPaints(chart, {{{20, 80}, {20, 30}, {120, 30}, {120, 60}, {170, 60}}});
    line.SetStairs(false);
    line.SetInvertedStairs(false);

    // A null point in the middle: left out with both its segments, jumped
    // over, or joined like any point. Not looked for while IgnoreNulls.
    line.Clear();
    chart.AddPixel(10, 10);
    chart.AddPixel(50, 90);
    line.AddNullXY(100, 100 - 20);
    chart.AddPixel(150, 70);
    chart.AddPixel(190, 40);
    const std::vector<Polyline> joined = {{{10, 10}, {50, 90}, {100, 20}, {150, 70}, {190, 40}}};
    ExpectPaints(chart, joined);
    line.SetIgnoreNulls(false);
    line.SetTreatNulls(chart::engine::tnDontPaint);
    ExpectPaints(chart, {{{10, 10}, {50, 90}}, {{150, 70}, {190, 40}}});
    line.SetTreatNulls(chart::engine::tnSkip);
    ExpectPaints(chart, {{{10, 10}, {50, 90}, {150, 70}, {190, 40}}});
    line.SetTreatNulls(chart::engine::tnIgnore);
    ExpectPaints(chart, joined);
    line.SetIgnoreNulls(true);

    // Zoomed in, the line comes from the point before the visible range
    // and goes on to the first point past it (then clipped), so both ends
    // reach the edges; nothing is drawn outside the chart rectangle.
    line.Clear();
    for (int i = 0; i <= 20; ++i) chart.AddPixel(i * 20, 50 + (i % 2 ? 30 : -30));
    chart.BottomAxis().SetMinMax(50, 150);
    chart.Render();
    EXPECT_EQ(line.FirstVisibleIndex, 3);
    EXPECT_EQ(line.LastVisibleIndex, 8);
    Polyline zoomed;
    for (int i = 2; i <= 8; ++i) zoomed.push_back({(i * 20 - 50) * 2, 50 + (i % 2 ? 30 : -30)});
    ExpectPaints(chart, {zoomed});
    chart.PixelAxes();

    // A line leaving the chart's range is clipped to the chart rectangle.
    PixelChart framed(200, 100);
    framed.SetMarginUnits(chart::engine::muPixels);
    for (int i = 0; i < 4; ++i) framed.SetMargin(i, 10);
    framed.SetColor(0xF0F0F0);
    framed.AddPixel(10, 50);
    framed.AddPixel(100, -500);
    framed.AddPixel(190, 500);
    const auto shown = framed.Render();
    const vcl::TRect r = framed.ChartRect;
    ASSERT_EQ(r, (vcl::TRect{10, 10, 190, 90}));
    const auto background = framed.Background();
    int outside = 0, inside = 0;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 200; ++x) {
            const bool differs = shown->Handle()->GetPixel(x, y) != background->Handle()->GetPixel(x, y);
            const bool within = x > r.Left && x < r.Right && y >= r.Top && y < r.Bottom;
            (within ? inside : outside) += differs;
        }
    EXPECT_EQ(outside, 0);
    EXPECT_GT(inside, 100);
}

// Dense data, many points to a pixel column: the runs drawn as a few
// points each paint what drawing every segment paints, the line's last
// point included.
TEST(fast_line, pixel_column_runs_paint_what_every_segment_paints) {
    PixelChart chart(300, 120);
    TFastLineSeries& line = *chart.Line;
    std::mt19937 random(7);
    std::uniform_real_distribution<double> unit(0, 1);
    struct Shape {
        const char* name;
        int points;
        std::function<double(int, double)> y;  // (index, previous y)
        int chunk = 1;                          // points sharing an X
    };
    const Shape shapes[] = {
        {"noise", 20000, [&](int, double) { return 10 + unit(random) * 100; }},
        {"walk", 30000, [&](int, double p) { return std::clamp(p + (unit(random) - 0.5) * 6, 10.0, 110.0); }},
        {"spikes", 9000, [&](int i, double) { return i % 97 == 0 ? 110 : 60 + (i % 3); }},
        {"steps", 6000, [&](int i, double) { return 10 + (i / 700) * 13 % 100; }},
        {"beyond", 8000, [&](int, double) { return unit(random) * 400 - 140; }},
        {"few", 40, [&](int, double) { return 10 + unit(random) * 100; }},
        {"chunks", 20000, [&](int, double) { return 10 + unit(random) * 100; }, 64},
    };
    // Each shape through both value-to-pixel routines, the line ending in
    // its last column within the column's range, on a new extreme (the line
    // stops short of it), or back on the column's lowest or highest point
    // (painted).
    for (const Shape& shape : shapes) {
        for (int run = 0; run < 8; ++run) {
            const bool fast = run % 2;
            const int end = run / 2;
            SCOPED_TRACE(std::string(shape.name) + (fast ? " fast" : "") + " end " + std::to_string(end));
            chart.Axes().SetFastCalc(fast);
            line.Clear();
            line.BeginUpdate();
            double y = 60;
            for (int i = 0; i < shape.points; ++i) {
                y = shape.y(i, y);
                line.AddXY(298.0 * (i - i % shape.chunk) / shape.points, y);
            }
            const double extreme = end == 3 ? 115 : 5;
            line.AddXY(299.0, 50);
            line.AddXY(299.05, extreme);
            line.AddXY(299.1, 60);
            line.AddXY(299.2, end == 0 ? 80 : end == 1 ? 118 : extreme);
            line.EndUpdate();
            chart.Render();
            Polyline every;
            for (int i = 0; i < line.Count(); ++i) every.push_back({line.CalcXPos(i), line.CalcYPos(i)});
            ExpectPaints(chart, {every});
        }
    }
    // Without DrawAllPoints only the first point of a column is drawn.
    chart.Axes().SetFastCalc(false);
    line.Clear();
    for (int i = 0; i < 3000; ++i) line.AddXY(i / 10.0, (i * 37) % 120);
    line.SetDrawAllPoints(false);
    chart.Render();
    Polyline firsts;
    for (int i = 0; i < line.Count(); ++i)
        if (firsts.empty() || firsts.back().X != line.CalcXPos(i)) firsts.push_back({line.CalcXPos(i), line.CalcYPos(i)});
    ExpectPaints(chart, {firsts});
}

TEST(fast_line, margins_make_room_for_the_pen) {
    PixelChart chart(200, 100);
    TFastLineSeries& line = *chart.Line;
    const int expected[] = {1, 1, 2, 3, 3, 4, 4};  // widths 0 to 6
    for (int w = 0; w <= 6; ++w) {
        line.LinePen().SetWidth(w);
        int a = -1, b = -1;
        line.CalcHorizMargins(a, b);
        EXPECT_EQ(a, expected[w]) << w;
        EXPECT_EQ(b, expected[w]) << w;
        line.CalcVerticalMargins(a, b);
        EXPECT_EQ(a, expected[w]) << w;
        EXPECT_EQ(b, expected[w]) << w;
    }
    // On automatic axes the data end 3 pixels inside for a pen of 4, and
    // the wide line stays inside the chart rectangle.
    line.LinePen().SetWidth(4);
    chart.BottomAxis().SetAutomatic(true);
    chart.LeftAxis().SetAutomatic(true);
    chart.SetMarginUnits(chart::engine::muPixels);
    for (int i = 0; i < 4; ++i) chart.SetMargin(i, 20);
    chart.SetColor(0xF0F0F0);
    for (int i = 0; i < 10; ++i) line.AddXY(i, i % 2 ? 5 : -5);
    const auto shown = chart.Render();
    const vcl::TRect r = chart.ChartRect;
    EXPECT_EQ(line.CalcXPos(0), r.Left + 3);
    EXPECT_EQ(line.CalcXPos(9), r.Right - 3);
    EXPECT_EQ(line.CalcYPos(1), r.Top + 3);
    EXPECT_EQ(line.CalcYPos(0), r.Bottom - 3);
    EXPECT_EQ(shown->Handle()->GetPixel(line.CalcXPos(4), line.CalcYPos(4)), vcl::ColorToRGB(PixelChart::kLineColor));
    const auto background = chart.Background();
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 200; ++x)
            if (x <= r.Left || x >= r.Right || y < r.Top || y >= r.Bottom) {
                ASSERT_EQ(shown->Handle()->GetPixel(x, y), background->Handle()->GetPixel(x, y)) << x << "," << y;
            }
}

// The chart in a shown window: a point added while the series does not
// repaint draws its one segment into the image the window shows.
TEST(fast_line, a_new_point_draws_its_segment_into_the_shown_image) {
    vcl::EnsureApplication();
    vcl::TForm form(vcl::Application);
    form.SetClientSize(220, 120);
    auto* chart = new PixelChart(200, 100, &form);
    chart->SetParent(&form);
    chart->SetLeft(10);
    chart->SetTop(10);
    form.Show();
    TFastLineSeries& line = *chart->Line;
    line.AutoRepaint = false;
    auto image = [&]() -> vcl::TBitmap& { return test_support::ShownImage(*chart); };
    auto copy = [&] { return test_support::CopyOf(image()); };
    test_support::Pump(std::chrono::milliseconds(50));
    chart->Update();
    const int draws = chart->Draws;
    ASSERT_GE(draws, 1);

    // The first point ever draws nothing; the second its segment.
    auto before = copy();
    chart->AddPixel(20, 30);
    EXPECT_EQ(FirstDifference(*before, image()), "");
    chart->AddPixel(90, 70);
    DrawSegments(*before, {{{20, 30}, {90, 70}}}, PixelChart::kLineColor, chart->ChartRect);
    EXPECT_EQ(FirstDifference(*before, image()), "");

    // With the stock pen, and clipped: a point far outside draws only
    // within the chart rectangle.
    line.SetFastPen(true);
    chart->AddPixel(150, 500);
    DrawSegments(*before, {{{90, 70}, {150, 500}}}, PixelChart::kLineColor, chart->ChartRect);
    EXPECT_EQ(FirstDifference(*before, image()), "");

    // Inserted before the last point: from its predecessor.
    chart->AddPixel(120, 10);
    DrawSegments(*before, {{{90, 70}, {120, 10}}}, PixelChart::kLineColor, chart->ChartRect);
    EXPECT_EQ(FirstDifference(*before, image()), "");

    // Added in a bulk change: nothing until the repaint.
    line.BeginUpdate();
    chart->AddPixel(190, 90);
    line.EndUpdate();
    EXPECT_EQ(FirstDifference(*before, image()), "");
    EXPECT_EQ(chart->Draws, draws);

    // The window shows the image without painting the chart again.
    const QImage screen = test_support::OnScreen(chart);
    EXPECT_EQ(chart->Draws, draws);
    int differing = 0;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 200; ++x) {
            const QRgb p = screen.pixel(x, y);
            differing += (static_cast<gdi::COLORREF>(qRed(p) | qGreen(p) << 8 | qBlue(p) << 16)) !=
                         before->Handle()->GetPixel(x, y);
        }
    EXPECT_EQ(differing, 0);

    // A repaint draws the whole line, with the point of the bulk change.
    chart->Invalidate();
    chart->Update();
    EXPECT_EQ(chart->Draws, draws + 1);
    const auto repainted = copy();
    const auto expected = ExpectedPicture(*chart, {{{20, 30}, {90, 70}, {120, 10}, {150, 500}, {190, 90}}});
    EXPECT_EQ(FirstDifference(*repainted, *expected), "");

    // A segment drawn while the zoom band is out, across the band: the
    // band still shows once, and when it goes the line is as a paint
    // draws it.
    chart->Zoom().Pen().SetColor(vcl::clGray);
    chart->Update();
    test_support::MousePress(*chart, Qt::LeftButton, 150, 5);
    test_support::MouseMoveTo(*chart, 198, 95, Qt::LeftButton);
    chart->AddPixel(199, 20);
    const auto banded = copy();
    chart->Invalidate();
    chart->Update();
    EXPECT_EQ(FirstDifference(*banded, image()), "");
    chart->AddPixel(199.5, 60);
    test_support::MouseRelease(*chart, Qt::LeftButton, 156, 10);
    EXPECT_FALSE(chart->Zoomed);
    const auto released = copy();
    chart->Invalidate();
    chart->Update();
    EXPECT_EQ(FirstDifference(*released, image()), "");
}

TEST(fast_line, settings_gallery_legend_symbol_and_hit_test) {
    PixelChart chart;
    TFastLineSeries& line = *chart.Line;
    // The series colour is the pen's, both ways.
    line.SetSeriesColor(vcl::clRed);
    EXPECT_EQ(line.LinePen().Color(), vcl::clRed);
    chart::TChartPen pen;
    pen.SetColor(vcl::clGreen);
    pen.SetWidth(3);
    line.SetLinePen(pen);
    EXPECT_EQ(line.SeriesColor(), vcl::clGreen);
    EXPECT_EQ(line.LinePen().Width(), 3);

    // Assign copies the drawing options and the null treatment.
    TFastLineSeries other(nullptr);
    other.AutoRepaint = false;
    other.SetDrawAllPoints(false);
    other.SetIgnoreNulls(false);
    other.SetStairs(true);
    other.SetInvertedStairs(true);
    other.SetTreatNulls(chart::engine::tnSkip);
    other.SetFastPen(true);
    other.SetTitle("copied");
    auto options = [](const TFastLineSeries& s) {
        return std::tuple(s.AutoRepaint, s.DrawAllPoints(), s.IgnoreNulls(), s.Stairs(), s.InvertedStairs(),
                          s.TreatNulls(), s.FastPen(), s.Title());
    };
    line.Assign(other);
    EXPECT_EQ(options(line), options(other));

    // The gallery: the base's style, then marks, dotted, stairs.
    std::vector<std::string> names;
    line.CreateSubGallery([&](const std::string& n) { names.push_back(n); });
    EXPECT_EQ(names, (std::vector<std::string>{chart::PlotMsg_GalleryNormal, chart::PlotMsg_GalleryMarks,
                                               chart::PlotMsg_GalleryDotted, chart::PlotMsg_GalleryStairs}));
    TFastLineSeries styled(nullptr);
    styled.SetSubGallery(&styled, 1);
    EXPECT_TRUE(styled.Marks().Visible());
    styled.SetSubGallery(&styled, 2);
    EXPECT_TRUE(styled.LinePen().SmallDots());
    styled.SetSubGallery(&styled, 3);
    EXPECT_TRUE(styled.Stairs());

    // The legend symbol: one line across the middle of its rectangle.
    line.Assign(TFastLineSeries(nullptr));
    line.SetSeriesColor(vcl::clGreen);
    vcl::TBitmap symbol(30, 12);
    symbol.Canvas().Brush.SetColor(vcl::clWhite);
    symbol.Canvas().FillRect({0, 0, 30, 12});
    chart.Canvas()->SetCanvas(&symbol.Canvas());
    line.DrawLegend(-1, {2, 2, 28, 10});
    chart.Canvas()->SetCanvas(&chart.ControlCanvas());
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 30; ++x)
            EXPECT_EQ(symbol.Handle()->GetPixel(x, y) == vcl::ColorToRGB(vcl::clGreen), y == 6 && x >= 2 && x < 28)
                << x << "," << y;

    // The hit test: a point gives its index, a segment its first point's.
    line.Clear();
    chart.AddPixel(20, 20);
    chart.AddPixel(100, 60);
    chart.AddPixel(180, 20);
    chart.Render();
    EXPECT_EQ(line.Clicked(100, 60), 1);
    EXPECT_EQ(line.Clicked(60, 40), 0);
    EXPECT_EQ(line.Clicked(61, 41), 0);  // within a pixel
    EXPECT_EQ(line.Clicked(140, 40), 1);
    EXPECT_EQ(line.Clicked(60, 50), -1);
    line.SetStairs(true);  // 20,20 - 100,20 - 100,60 - 180,60 - 180,20
    EXPECT_EQ(line.Clicked(60, 20), 0);
    EXPECT_EQ(line.Clicked(100, 40), 0);
    EXPECT_EQ(line.Clicked(140, 60), 1);
    EXPECT_EQ(line.Clicked(60, 40), -1);
    line.Clear();
    chart.Render();
    EXPECT_EQ(line.Clicked(60, 40), -1);
}

TEST(fast_line, marks_stand_on_their_callout_and_a_function_draws_a_level_line) {
    PixelChart chart;
    TFastLineSeries& line = *chart.Line;
    chart.AddPixel(50, 70);
    chart.AddPixel(150, 60);
    chart::engine::TSeriesMarks& marks = line.Marks();
    marks.SetVisible(true);
    marks.SetArrowLength(8);
    marks.Arrow().SetColor(vcl::clRed);
    const auto shown = chart.Render();
    // The box sits the callout's length above its point, the arrow between.
    ASSERT_NE(marks.Positions().Position(0), nullptr);
    const chart::engine::TSeriesMarkPosition& p = *marks.Positions().Position(0);
    EXPECT_EQ(p.ArrowFrom.Y, 70);
    EXPECT_EQ(p.ArrowTo.Y, 62);
    EXPECT_EQ(p.LeftTop.Y + p.Height, 63);
    EXPECT_EQ(shown->Handle()->GetPixel(50, 66), vcl::ColorToRGB(vcl::clRed));

    // A function over all the points of a source: a level line from the
    // source's first X to its last.
    auto* level = new TFastLineSeries(nullptr);
    level->SetParentChart(&chart);
    level->SetFunction(std::make_unique<chart::engine::TPlotFunction>());
    level->SetDataSource(&line);
    ASSERT_EQ(level->Count(), 2);
    EXPECT_EQ(level->XValues().Value(0), 50);
    EXPECT_EQ(level->XValues().Value(1), 150);
    EXPECT_EQ(level->YValues().Value(0), level->YValues().Value(1));
}

TEST(fast_line, bad_input_draws_soundly) {
    PixelChart chart;
    TFastLineSeries& line = *chart.Line;
    // No points, one point, every point on one pixel: nothing to see.
    ExpectPaints(chart, {});
    chart.AddPixel(50, 50);
    ExpectPaints(chart, {});
    for (int i = 0; i < 1000; ++i) chart.AddPixel(50 + i * 1e-4, 50);
    ExpectPaints(chart, {});
    // Automatic axes on a single value do not divide by a zero range.
    chart.BottomAxis().SetAutomatic(true);
    chart.LeftAxis().SetAutomatic(true);
    chart.Render();
    chart.PixelAxes();

    // A value that is not a number breaks the line there; infinities run
    // to the edge of the chart and no further.
    line.Clear();
    chart.AddPixel(10, 10);
    chart.AddPixel(40, 80);
    line.AddXY(70, kNaN);
    chart.AddPixel(100, 30);
    chart.AddPixel(130, 60);
    line.AddXY(160, kInf);
    chart.AddPixel(190, 50);
    ExpectPaints(chart, {{{10, 10}, {40, 80}}, {{100, 30}, {130, 60}, {160, -67108863}, {190, 50}}});
    // The same through the rules point by point (here: with stairs).
    line.SetStairs(true);
    ExpectPaints(chart, {{{10, 10}, {40, 10}, {40, 80}},
                         {{100, 30}, {130, 30}, {130, 60}, {160, 60}, {160, -67108863}, {190, -67108863}, {190, 50}}});
    line.SetStairs(false);
    // Automatic axes take their range from the finite values only.
    chart.BottomAxis().SetAutomatic(true);
    chart.LeftAxis().SetAutomatic(true);
    chart.Render();
    EXPECT_DOUBLE_EQ(chart.LeftAxis().Maximum(), 90);
    EXPECT_DOUBLE_EQ(chart.LeftAxis().Minimum(), 20);
}

}  // namespace
