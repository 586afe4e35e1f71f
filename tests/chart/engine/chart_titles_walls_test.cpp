// Titles and walls through the real paint: titles measure their lines and
// take their room off the chart rectangle (or none, placed by hand), their
// text lands in their band; walls draw in 2D only at the back, in 3D on the
// sides of the box, before the series or in front of them.
#include <gtest/gtest.h>

#include "chart/drawing/view3d_options.h"
#include "chart/engine/chart_axis.h"
#include "chart/engine/fast_line_series.h"
#include "support/png_file.h"
#include "support/recording_series.h"

namespace {

using chart::engine::TChartTitle;
using test_support::At;
using test_support::PlainChart;

// Whether a pixel is mostly of Color's main channels (text is smoothed).
bool Like(gdi::COLORREF Pixel, gdi::COLORREF Color) {
    for (int shift = 0; shift < 24; shift += 8) {
        const int want = (Color >> shift) & 0xFF, got = (Pixel >> shift) & 0xFF;
        if (want == 0xFF ? got < 0xA0 : want == 0 ? got > 0x60 : got != want) return false;
    }
    return true;
}

// The box of the pixels like Color inside Area (empty when none).
vcl::TRect InkOf(const vcl::TBitmap& b, gdi::COLORREF Color, const vcl::TRect& Area) {
    vcl::TRect r{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
    for (int y = std::max(Area.Top, 0); y < std::min(Area.Bottom, b.Height()); ++y)
        for (int x = std::max(Area.Left, 0); x < std::min(Area.Right, b.Width()); ++x)
            if (Like(At(b, x, y), Color)) {
                r.Left = std::min(r.Left, x);
                r.Top = std::min(r.Top, y);
                r.Right = std::max(r.Right, x);
                r.Bottom = std::max(r.Bottom, y);
            }
    return r;
}
bool Empty(const vcl::TRect& r) { return r.Left > r.Right; }

int FontHeightOf(PlainChart& Chart, chart::TPlotFont& Font) {
    Chart.Canvas()->AssignFont(Font);
    return Chart.Canvas()->FontHeight();
}

// Without axes the chart rectangle after a paint is what titles and legend
// left of it.
struct TitledChart {
    PlainChart chart{400, 300};
    vcl::TRect plain;
    TitledChart() {
        chart.SetAxisVisible(false);
        chart.Render();
        plain = chart.ChartRect;
    }
};

TEST(chart_titles, titles_take_their_lines_of_room_and_draw_inside_their_band) {
    TitledChart t;
    PlainChart& c = t.chart;
    c.Title().Text().Add("Pressure");
    c.Foot().Text().Add("first");
    c.Foot().Text().Add("second");
    auto image = c.Render();
    const int h = FontHeightOf(c, c.Title().Font());
    const int hf = FontHeightOf(c, c.Foot().Font());

    // The title at the top of the old rectangle (its box one frame width
    // round the line), the chart below it by the margin and the frame; the
    // empty subtitle takes nothing; the two-line foot leaves the bottom two
    // lines and the margin up.
    const int fw = c.Title().Frame().Width();
    EXPECT_EQ(c.Title().ShapeBounds.Top, t.plain.Top);
    EXPECT_EQ(c.Title().ShapeBounds.Bottom, t.plain.Top + h + 2 * fw);
    EXPECT_EQ(c.ChartRect.Top, t.plain.Top + h + 2 * fw + 5 + fw);
    EXPECT_EQ(c.ChartRect.Bottom, t.plain.Bottom - 2 * hf - 5);

    // Blue text only inside the title's band, centred on the chart.
    const vcl::TRect blue = InkOf(*image, vcl::clBlue, {0, 0, 400, 300});
    ASSERT_FALSE(Empty(blue));
    EXPECT_GE(blue.Top, t.plain.Top + fw);
    EXPECT_LT(blue.Bottom, t.plain.Top + fw + h);
    EXPECT_NEAR((blue.Left + blue.Right) / 2, (t.plain.Left + t.plain.Right) / 2, 3);
    // The foot's lines in order at the bottom: "first" above "second",
    // which is the wider one.
    const vcl::TRect upper = InkOf(*image, vcl::clRed, {0, t.plain.Bottom - 2 * hf, 400, t.plain.Bottom - hf});
    const vcl::TRect lower = InkOf(*image, vcl::clRed, {0, t.plain.Bottom - hf, 400, t.plain.Bottom + 1});
    ASSERT_FALSE(Empty(upper));
    ASSERT_FALSE(Empty(lower));
    EXPECT_LT(upper.Right - upper.Left, lower.Right - lower.Left);
    EXPECT_TRUE(Empty(InkOf(*image, vcl::clRed, {0, 0, 400, t.plain.Bottom - 2 * hf})));

    // Clicks: on the band, not beside the framed width nor on a hidden title.
    const vcl::TRect band = c.Title().ShapeBounds;
    EXPECT_TRUE(c.Title().Clicked((band.Left + band.Right) / 2, band.Top + 2));
    EXPECT_FALSE(c.Title().Clicked(band.Left - 2, band.Top + 2));
    EXPECT_FALSE(c.Foot().Clicked((band.Left + band.Right) / 2, band.Top + 2));
    c.Title().SetVisible(false);
    EXPECT_FALSE(c.Title().Clicked((band.Left + band.Right) / 2, band.Top + 2));

    // A hidden title draws nothing and takes no room.
    image = c.Render();
    EXPECT_EQ(c.ChartRect.Top, t.plain.Top);
    EXPECT_TRUE(Empty(InkOf(*image, vcl::clBlue, {0, 0, 400, 300})));
    EXPECT_EQ(c.ChartRect.Bottom, t.plain.Bottom - 2 * hf - 5);
}

TEST(chart_titles, alignment_frame_and_a_title_placed_by_hand) {
    TitledChart t;
    PlainChart& c = t.chart;
    TChartTitle& title = c.SubTitle();
    title.Text().Add("left");
    title.SetAlignment(chart::engine::taLeftJustify);
    title.SetTransparent(false);
    title.SetColor(0x00FFFF);
    title.Shadow().SetVisible(false);
    auto image = c.Render();
    c.Canvas()->AssignFont(title.Font());
    const int g = c.Canvas()->TextWidth("W");
    const int w = c.Canvas()->TextWidth("left");
    // Framed as wide as the line with half a "W" each side (and the frame).
    const int fw = title.Frame().Width();
    EXPECT_EQ(title.ShapeBounds.Left, t.plain.Left - fw);
    EXPECT_EQ(title.ShapeBounds.Right, title.ShapeBounds.Left + w + g + fw);
    const vcl::TRect text = InkOf(*image, vcl::clBlue, {0, 0, 400, 300});
    EXPECT_NEAR(text.Left, title.ShapeBounds.Left + g / 2, 2);
    // The box's fill behind the text; the frame width and the margin below.
    EXPECT_EQ(At(*image, title.ShapeBounds.Right - 2, title.ShapeBounds.Top + 3), 0x00FFFFu);
    EXPECT_EQ(c.ChartRect.Top, title.ShapeBounds.Bottom + 5 + fw);

    // Right-justified with AdjustFrame off: the box is the chart's width, the
    // text ends half a "W" from its right.
    title.SetAlignment(chart::engine::taRightJustify);
    title.SetAdjustFrame(false);
    image = c.Render();
    EXPECT_EQ(title.ShapeBounds.Right, t.plain.Right + fw);
    EXPECT_NEAR(InkOf(*image, vcl::clBlue, {0, 0, 400, 300}).Right, title.ShapeBounds.Right - g / 2, 2);

    // Markup: a bold run measured and drawn by the markup; a text the markup
    // cannot read is drawn as written and the paint goes on.
    title.SetAlignment(chart::engine::taLeftJustify);
    title.Text().Clear();
    title.Text().Add("<b>bold</b> plain");
    title.SetTextFormat(chart::engine::ttfHtml);
    image = c.Render();
    const vcl::TRect marked = InkOf(*image, vcl::clBlue, {0, 0, 400, 300});
    ASSERT_FALSE(Empty(marked));
    c.Canvas()->AssignFont(title.Font());
    EXPECT_LT(marked.Right - marked.Left, c.Canvas()->TextWidth("<b>bold</b> plain"));
    title.Text().Clear();
    title.Text().Add("<b unclosed");
    image = c.Render();
    const vcl::TRect plain = InkOf(*image, vcl::clBlue, {0, 0, 400, 300});
    ASSERT_FALSE(Empty(plain));
    EXPECT_NEAR(plain.Right - plain.Left, c.Canvas()->TextWidth("<b unclosed"), 3);
    EXPECT_EQ(c.ChartRect.Top, title.ShapeBounds.Bottom + 5 + fw);
    title.SetTextFormat(chart::engine::ttfNormal);

    // Placed by hand: drawn at its place after the series, taking no room,
    // and there on every paint.
    title.SetLeft(30);
    title.SetTop(150);
    EXPECT_TRUE(title.CustomPosition());
    for (int paint = 0; paint < 2; ++paint) {
        image = c.Render();
        EXPECT_EQ(c.ChartRect.Top, t.plain.Top);
        EXPECT_EQ(title.ShapeBounds.Left, 30);
        EXPECT_EQ(title.ShapeBounds.Top, 150);
        const vcl::TRect ink = InkOf(*image, vcl::clBlue, {0, 0, 400, 300});
        EXPECT_GE(ink.Top, 150);
        EXPECT_GE(ink.Left, 30);
    }
}

constexpr gdi::COLORREF kWall = 0x3080F0;

TEST(chart_walls, a_flat_chart_draws_only_its_back_wall_framing_the_chart_rectangle) {
    PlainChart c(400, 300);
    c.SetAxisVisible(false);
    c.AddRecording().Paint = false;
    auto image = c.Render();
    const vcl::TRect r = c.ChartRect;
    // Transparent by default: its pen alone frames the rectangle.
    EXPECT_EQ(At(*image, r.Left, (r.Top + r.Bottom) / 2), 0u);
    EXPECT_EQ(At(*image, r.Right, (r.Top + r.Bottom) / 2), 0u);
    EXPECT_EQ(At(*image, (r.Left + r.Right) / 2, r.Bottom), 0u);
    EXPECT_EQ(At(*image, (r.Left + r.Right) / 2, (r.Top + r.Bottom) / 2), vcl::clWhite);

    // Filled, it covers the rectangle; the side walls show nowhere in 2D.
    c.BackWall().SetTransparent(false);
    c.BackWall().SetColor(kWall);
    c.LeftWall().SetColor(0x00FF00);
    c.BottomWall().SetColor(0xFF0000);
    image = c.Render();
    EXPECT_EQ(At(*image, r.Left + 1, r.Top + 1), kWall);
    EXPECT_EQ(At(*image, r.Right - 1, r.Bottom - 1), kWall);
    EXPECT_EQ(At(*image, r.Right + 2, r.Bottom - 1), vcl::clWhite);
    EXPECT_TRUE(Empty(InkOf(*image, 0x00FF00, {0, 0, 400, 300})));
    EXPECT_TRUE(Empty(InkOf(*image, 0xFF0000, {0, 0, 400, 300})));

    // EndPosition 50: only the upper half.
    c.BackWall().SetEndPosition(50);
    image = c.Render();
    const int middle = (r.Top + r.Bottom) / 2;
    EXPECT_EQ(At(*image, r.Left + 5, middle - 3), kWall);
    EXPECT_EQ(At(*image, r.Left + 5, middle + 3), vcl::clWhite);

    // Without 3D walls, no wall at all.
    c.SetView3DWalls(false);
    image = c.Render();
    EXPECT_TRUE(Empty(InkOf(*image, kWall, {0, 0, 400, 300})));
    EXPECT_EQ(At(*image, r.Left, middle), vcl::clWhite);
}

TEST(chart_walls, in_3d_side_walls_span_the_box_behind_the_series_and_a_right_wall_covers_them) {
    PlainChart c(500, 360);
    c.SetView3D(true);
    c.SetChart3DPercent(40);
    c.View3DOptions().SetOrthogonal(true);
    c.LeftWall().SetColor(0x00FF00);
    c.BottomWall().SetColor(0xFF0000);
    c.BottomWall().SetSize(4);
    c.RightWall().SetVisible(true);
    c.RightWall().SetColor(kWall);
    auto& s = c.AddRecording();
    s.SetSeriesColor(vcl::clBlack);
    // A level line at 50 that runs past the axis' end, into the box's depth
    // (which the series' clip lets through).
    s.KeepPointAfterLast = true;
    s.Fill(41, [](int) { return 50.0; });
    c.LeftAxis().SetMinMax(0, 100);
    c.BottomAxis().SetMinMax(0, 19.5);
    auto image = c.Render();
    test_support::WritePngAndReadBack(*image, "chart_engine_walls_3d.png");
    const vcl::TRect r = c.ChartRect;
    ASSERT_GT(c.Width3D, 8);

    // Side walls: the chart's height plus the bottom wall's thickness.
    int top = 0, bottom = 0;
    chart::engine::SideWallHeight(c, c.LeftWall(), top, bottom);
    EXPECT_EQ(top, r.Top);
    EXPECT_EQ(bottom, r.Bottom + 4);
    EXPECT_EQ(c.CalcWallSize(c.BottomAxis()), 4);
    c.LeftWall().SetStartPosition(50);
    chart::engine::SideWallHeight(c, c.LeftWall(), top, bottom);
    EXPECT_EQ(top, r.Top + (r.Bottom - r.Top) / 2);
    c.LeftWall().SetStartPosition(0);

    const int y = c.LeftAxis().CalcYPosValue(50);
    // The left wall lies behind the line; the right wall, facing the viewer
    // in this view, covers the line where both meet.
    const vcl::TRect left = InkOf(*image, 0x00FF00, {0, 0, 500, 360});
    ASSERT_FALSE(Empty(left));
    EXPECT_LE(left.Left, r.Left + 1);
    int lineOnLeftWall = 0;
    for (int x = r.Left + 1; x < r.Left + c.Width3D / 2; ++x) lineOnLeftWall += At(*image, x, y) == 0 ? 1 : 0;
    EXPECT_GT(lineOnLeftWall, 0);
    const vcl::TRect right = InkOf(*image, kWall, {0, 0, 500, 360});
    ASSERT_FALSE(Empty(right));
    EXPECT_GE(right.Left, r.Right - 1);
    EXPECT_EQ(At(*image, r.Right + c.Width3D / 2, y), kWall);
    EXPECT_FALSE(Empty(InkOf(*image, 0xFF0000, {0, r.Bottom, 500, 360})));

    // AutoHide keeps the right wall out of the front: the line shows there.
    c.RightWall().SetAutoHide(true);
    image = c.Render();
    EXPECT_TRUE(Empty(InkOf(*image, kWall, {0, 0, 500, 360})));
    EXPECT_EQ(At(*image, r.Right + c.Width3D / 2, y), 0u);
}

TEST(chart_walls, the_graph_windows_chart_shows_no_title_legend_or_wall_and_keeps_its_rectangle) {
    // The graph window's settings: margins 1, the title hidden (its text
    // kept), the legend hidden, flat without walls, one navy line that is
    // not listed in the legend.
    PlainChart c(800, 400);
    for (int i = 0; i < 4; ++i) c.SetMargin(i, 1);
    c.Title().Text().Add("TChart");
    c.Title().SetVisible(false);
    c.SetView3DWalls(false);
    auto* line = new chart::engine::TFastLineSeries(nullptr);
    line->SetParentChart(&c);
    line->SetShowInLegend(false);
    line->SetSeriesColor(0x800000);
    for (int i = 0; i < 50; ++i) line->AddXY(i, i % 7);
    auto image = c.Render();
    const vcl::TRect r = c.ChartRect;
    test_support::WritePngAndReadBack(*image, "chart_engine_graph_window.png");

    // Only the margins on the top and right: no title band, no legend.
    EXPECT_EQ(r.Top, 4);
    EXPECT_EQ(r.Right, 792);
    EXPECT_TRUE(Empty(InkOf(*image, vcl::clBlue, {0, 0, 800, 400})));
    // No wall's frame on the sides without an axis.
    int frame = 0;
    for (int x = r.Left + 1; x < r.Right; ++x) frame += At(*image, x, r.Top) == 0u ? 1 : 0;
    for (int y = r.Top + 1; y < r.Bottom; ++y) frame += At(*image, r.Right, y) == 0u ? 1 : 0;
    EXPECT_EQ(frame, 0);

    // The legend, shown, lists nothing and takes no room either.
    c.Legend().SetVisible(true);
    c.Render();
    EXPECT_EQ(c.ChartRect, r);
    // The title, shown, would take its band.
    c.Title().SetVisible(true);
    c.Render();
    EXPECT_GT(c.ChartRect.Top, r.Top);
}

}  // namespace
