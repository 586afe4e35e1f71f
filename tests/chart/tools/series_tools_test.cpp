// The two series tools on rendered pictures: a picture stretched behind
// the series over the plot or over the range of one series, cut to the
// plot; and a series cut to the rectangle of its own axes.
#include "chart/tools/series_tools.h"

#include <gtest/gtest.h>

#include <functional>

#include "chart/engine/chart_axis.h"
#include "platform/vcl/bitmap.h"
#include "support/png_file.h"
#include "support/recording_series.h"

namespace {

using chart::tools::TChartImageTool;
using chart::tools::TClipSeriesTool;
using test_support::At;
using test_support::PlainChart;
using test_support::RecordingSeries;

constexpr gdi::COLORREF kBlue = 0xFF0000, kRed = 0x0000FF, kWhite = 0xFFFFFF;

// Whether any pixel of the picture in the rows [Top, Bottom) has Colour.
bool AnyIn(const vcl::TBitmap& Picture, int Top, int Bottom, gdi::COLORREF Colour) {
    for (int y = std::max(Top, 0); y < Bottom && y < Picture.Height(); ++y)
        for (int x = 0; x < Picture.Width(); ++x)
            if (At(Picture, x, y) == Colour) return true;
    return false;
}

TEST(series_tools, a_picture_lies_behind_the_series_over_the_plot_or_the_series_range) {
    PlainChart chart;
    RecordingSeries& s = chart.AddRecording();
    s.SetSeriesColor(vcl::clRed);
    s.AddXY(2, 20);
    s.AddXY(6, 60);
    s.AddXY(8, 30);
    chart.BottomAxis().SetMinMax(0, 10);
    chart.LeftAxis().SetMinMax(0, 100);
    auto* tool = new TChartImageTool(&chart);
    tool->SetParentChart(&chart);
    vcl::TBitmap blue(4, 4);
    blue.Canvas().Brush.SetColor(vcl::clBlue);
    blue.Canvas().FillRect({0, 0, 4, 4});
    tool->Picture().Assign(blue);
    chart::engine::TChartAxis& x = chart.BottomAxis();
    chart::engine::TChartAxis& y = chart.LeftAxis();
    auto pixel = [&](const vcl::TBitmap& b, double vx, double vy) {
        return At(b, x.CalcXPosValue(vx), y.CalcYPosValue(vy));
    };

    // Without a series: the whole plot, with the series drawn over it.
    auto shown = chart.Render();
    EXPECT_EQ(pixel(*shown, 0.35, 95.5), kBlue);
    EXPECT_EQ(pixel(*shown, 9.65, 4.5), kBlue);
    EXPECT_EQ(At(*shown, s.CalcXPos(1), s.CalcYPos(1)), kRed);
    EXPECT_NE(At(*shown, x.StartPixel - 6, (y.StartPixel + y.EndPixel) / 2), kBlue);
    EXPECT_NE(At(*shown, (x.StartPixel + x.EndPixel) / 2, y.EndPixel + 6), kBlue);

    // With the series: from its least X to its greatest, its greatest Y to
    // its least.
    tool->SetSeries(&s);
    shown = chart.Render();
    test_support::WritePngAndReadBack(*shown, "series_tools_image_behind_a_series.png");
    EXPECT_EQ(pixel(*shown, 2.15, 58.5), kBlue);
    EXPECT_EQ(pixel(*shown, 7.85, 21.5), kBlue);
    EXPECT_EQ(pixel(*shown, 1.85, 40.5), kWhite);
    EXPECT_EQ(pixel(*shown, 8.15, 40.5), kWhite);
    EXPECT_EQ(pixel(*shown, 5.05, 61.5), kWhite);
    EXPECT_EQ(pixel(*shown, 5.05, 18.5), kWhite);

    // A series reaching beyond the axes: the picture stops at the plot.
    y.SetMinMax(30, 50);
    shown = chart.Render();
    EXPECT_EQ(At(*shown, x.CalcXPosValue(5.05), y.StartPixel + 2), kBlue);
    EXPECT_FALSE(AnyIn(*shown, 0, chart.ChartRect.Top, kBlue));
    EXPECT_FALSE(AnyIn(*shown, chart.ChartRect.Bottom + 1, chart.Height(), kBlue));
    // Unless the chart lets its series run beyond it.
    chart.SetClipPoints(false);
    shown = chart.Render();
    EXPECT_TRUE(AnyIn(*shown, 0, chart.ChartRect.Top, kBlue));
    chart.SetClipPoints(true);

    // No picture, nothing drawn.
    tool->Picture().SetGraphic(nullptr);
    shown = chart.Render();
    EXPECT_FALSE(AnyIn(*shown, 0, chart.Height(), kBlue));
}

TEST(series_tools, a_series_is_cut_to_its_axes_when_the_chart_clips_its_series) {
    PlainChart chart;
    RecordingSeries& s = chart.AddRecording();
    s.SetSeriesColor(vcl::clRed);
    s.Fill(11, [](int i) { return i * 10.0; });
    chart.BottomAxis().SetMinMax(0, 10);
    // The value axis holds 0 to 50 in the lower half of the plot: the rest
    // of the line lies in the upper half.
    chart::engine::TChartAxis& y = chart.LeftAxis();
    y.SetMinMax(0, 50);
    y.SetStartPosition(50);
    auto* clip = new TClipSeriesTool(&chart);
    clip->SetParentChart(&chart);
    clip->SetSeries(&s);
    auto shown = chart.Render();
    ASSERT_GT(y.StartPixel, chart.ChartRect.Top + 50);
    EXPECT_FALSE(AnyIn(*shown, 0, y.StartPixel - 1, kRed));
    EXPECT_TRUE(AnyIn(*shown, y.StartPixel + 1, y.EndPixel, kRed));
    // Without the tool, or on a chart that does not clip its series, the
    // line goes on above.
    clip->SetActive(false);
    shown = chart.Render();
    EXPECT_TRUE(AnyIn(*shown, chart.ChartRect.Top, y.StartPixel - 1, kRed));
    clip->SetActive(true);
    chart.SetClipPoints(false);
    shown = chart.Render();
    EXPECT_TRUE(AnyIn(*shown, chart.ChartRect.Top, y.StartPixel - 1, kRed));
    // A tool of another series leaves this one whole.
    chart.SetClipPoints(true);
    RecordingSeries& other = chart.AddRecording();
    clip->SetSeries(&other);
    shown = chart.Render();
    EXPECT_TRUE(AnyIn(*shown, chart.ChartRect.Top, y.StartPixel - 1, kRed));
}

}  // namespace
