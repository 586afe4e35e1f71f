// The axis tools through the chart's mouse: scrolling an axis by dragging
// on it (and the axes that share its series), the arrows at its ends with
// their hit test, refusal through OnAllowScroll and the paired axis, and
// bands between the grid lines in the pixels they paint.
#include <gtest/gtest.h>

#include "chart/engine/chart_axis.h"
#include "chart/tools/axis_tools.h"
#include "support/mouse.h"
#include "support/png_file.h"
#include "support/tool_chart.h"

namespace {

using namespace chart::engine;
using namespace chart::tools;
using test_support::MouseDrag;
using test_support::MouseMoveTo;
using test_support::MousePress;
using test_support::MouseRelease;
using test_support::ToolChart;

// A 500-pixel wide chart whose bottom axis (0..100) is the only one shown.
struct AxisChart : ToolChart {
    AxisChart() : ToolChart(500, 300) {
        chart->SetAxisVisible(true);
        chart->LeftAxis().SetVisible(false);
        chart->BottomAxis().SetMinMax(0, 100);
        chart->LeftAxis().SetMinMax(0, 50);
        AddPixel(10, 10);
        Paint();
    }
    TChartAxis& Bottom() { return chart->BottomAxis(); }
    int AxisY() { return Bottom().AxisPosition + 1; }
};

TEST(axis_tools, dragging_an_axis_scrolls_it_and_the_axes_sharing_its_series) {
    AxisChart c;
    auto* tool = new TAxisScrollTool(nullptr);
    tool->SetParentChart(c.chart);
    ASSERT_EQ(c.Bottom().EndPixel - c.Bottom().StartPixel, 500);

    // 10 pixels to the right: -2 on a 0..100 axis, +2 with ScrollInverted.
    MouseDrag(*c.chart, Qt::LeftButton, 200, c.AxisY(), 210, c.AxisY(), 1);
    EXPECT_DOUBLE_EQ(c.Bottom().Minimum(), -2);
    EXPECT_DOUBLE_EQ(c.Bottom().Maximum(), 98);
    EXPECT_FALSE(c.chart->Zoom().Active);
    EXPECT_EQ(tool->DraggedAxis(), nullptr);
    tool->SetScrollInverted(true);
    c.Paint();
    MouseDrag(*c.chart, Qt::LeftButton, 200, c.AxisY(), 210, c.AxisY(), 1);
    EXPECT_DOUBLE_EQ(c.Bottom().Minimum(), 0);

    // A series on both horizontal axes carries the top axis along by the
    // same pixels on its own scale.
    c.points->SetHorizAxis(aBothHorizAxis);
    c.chart->TopAxis().SetMinMax(0, 1000);
    c.Paint();
    tool->SetScrollInverted(false);
    MouseDrag(*c.chart, Qt::LeftButton, 200, c.AxisY(), 210, c.AxisY(), 1);
    EXPECT_DOUBLE_EQ(c.Bottom().Minimum(), -2);
    EXPECT_NEAR(c.chart->TopAxis().Minimum(), -1000.0 * 10 / (c.chart->TopAxis().EndPixel - c.chart->TopAxis().StartPixel), 1e-9);

    // With the tool bound to the left axis, the bottom axis is left alone
    // (and zooming is the chart's again).
    tool->SetAxis(&c.chart->LeftAxis());
    const double before = c.Bottom().Minimum();
    MouseDrag(*c.chart, Qt::LeftButton, 200, c.AxisY(), 210, c.AxisY(), 1);
    EXPECT_DOUBLE_EQ(c.Bottom().Minimum(), before);

    // A vertical axis dragged upwards scrolls by a negative offset.
    c.chart->LeftAxis().SetVisible(true);
    c.Paint();
    TChartAxis& left = c.chart->LeftAxis();
    const int x = left.AxisPosition - 2;
    MouseDrag(*c.chart, Qt::LeftButton, x, 150, x, 140, 1);
    EXPECT_LT(left.Minimum(), 0);

    // The tool taken off its axis (and so its chart) halfway through a
    // drag: the moves do nothing.
    const double kept = left.Minimum();
    MousePress(*c.chart, Qt::LeftButton, x, 150);
    ASSERT_EQ(tool->DraggedAxis(), &left);
    tool->SetAxis(nullptr);
    MouseMoveTo(*c.chart, x, 120, Qt::LeftButton);
    MouseRelease(*c.chart, Qt::LeftButton, x, 120);
    EXPECT_DOUBLE_EQ(left.Minimum(), kept);
    vcl::TComponent::Free(tool);
}

TEST(axis_tools, arrows_scroll_by_a_share_of_the_range_and_answer_only_near_the_axis) {
    AxisChart c;
    auto* tool = new TAxisArrowTool(nullptr);
    tool->SetAxis(&c.Bottom());
    c.Paint();
    TChartAxis& axis = c.Bottom();
    const int s = axis.StartPixel, e = axis.EndPixel, a = axis.AxisPosition;
    // The hit test: within the arrow's length, less than 3 pixels across.
    EXPECT_EQ(tool->ClickedArrow(s + 8, a), 0);
    EXPECT_EQ(tool->ClickedArrow(s + 8, a + 2), 0);
    EXPECT_EQ(tool->ClickedArrow(s + 8, a + 3), -1);
    EXPECT_EQ(tool->ClickedArrow(s + 8, a - 3), -1);
    EXPECT_EQ(tool->ClickedArrow(e - 8, a), 1);
    EXPECT_EQ(tool->ClickedArrow(s + 16, a), -1);
    // Drawn at both ends in the tool's brush.
    tool->Brush().SetColor(vcl::clRed);
    c.Paint();
    test_support::WritePngAndReadBack(c.Image(), "axis_arrows.png");
    EXPECT_EQ(c.Pixel(s + 4, a), vcl::clRed);
    EXPECT_EQ(c.Pixel(e - 4, a), vcl::clRed);

    // A click on the start arrow scrolls by 10 % of the range, the end arrow
    // back; OnClick tells which; the chart does not zoom.
    std::vector<bool> clicks;
    tool->OnClick = [&](vcl::TComponent*, bool AtStart) { clicks.push_back(AtStart); };
    MousePress(*c.chart, Qt::LeftButton, s + 8, a);
    MouseRelease(*c.chart, Qt::LeftButton, s + 8, a);
    EXPECT_DOUBLE_EQ(axis.Minimum(), 10);
    EXPECT_FALSE(c.chart->Zoom().Active);
    c.Paint();
    MousePress(*c.chart, Qt::LeftButton, e - 8, a);
    MouseRelease(*c.chart, Qt::LeftButton, e - 8, a);
    EXPECT_DOUBLE_EQ(axis.Minimum(), 0);
    EXPECT_EQ(clicks, (std::vector<bool>{true, false}));

    // The chart may refuse; the top axis of a series on both axes follows.
    int scrolls = 0;
    c.chart->OnScroll = [&](vcl::TComponent*) { ++scrolls; };
    c.chart->OnAllowScroll = [](TChartAxis*, double&, double& AMax, bool& Allow) { Allow = AMax <= 110; };
    c.points->SetHorizAxis(aBothHorizAxis);
    c.chart->TopAxis().SetMinMax(0, 100);
    c.Paint();
    MousePress(*c.chart, Qt::LeftButton, s + 8, a);
    EXPECT_DOUBLE_EQ(axis.Minimum(), 10);
    EXPECT_DOUBLE_EQ(c.chart->TopAxis().Minimum(), 10);
    MousePress(*c.chart, Qt::LeftButton, s + 8, a);
    EXPECT_DOUBLE_EQ(axis.Minimum(), 10);
    EXPECT_EQ(scrolls, 1);

    // ScrollPercent 0: inert arrows that still change the cursor.
    tool->SetScrollPercent(0);
    MousePress(*c.chart, Qt::LeftButton, s + 8, a);
    EXPECT_DOUBLE_EQ(axis.Minimum(), 10);
    EXPECT_EQ(clicks.size(), 4u);
    MouseMoveTo(*c.chart, s + 8, a);
    EXPECT_EQ(c.chart->Cursor(), vcl::TCursor::crHandPoint);
}

TEST(axis_tools, grid_bands_alternate_between_the_ticks) {
    ToolChart c(400, 300);
    c.chart->SetAxisVisible(true);
    c.chart->BottomAxis().SetVisible(false);
    c.chart->LeftAxis().SetMinMax(0, 300);
    c.chart->LeftAxis().SetIncrement(100);
    c.chart->LeftAxis().Grid().SetVisible(false);
    auto* tool = new TGridBandTool(nullptr);
    tool->SetAxis(&c.chart->LeftAxis());
    tool->Band1().SetColor(vcl::clYellow);
    tool->Band2().SetColor(vcl::clAqua);
    c.Paint();
    const std::vector<int>& ticks = c.chart->LeftAxis().TickPositions;
    ASSERT_GE(ticks.size(), 3u);
    const int x = (c.chart->ChartRect.Left + c.chart->ChartRect.Right) / 2;
    // Between ticks k and k + 1 the band of parity k + 1 (the leading band
    // above the first tick has Band1 when there is room for it).
    for (std::size_t k = 0; k + 1 < ticks.size(); ++k) {
        const int y = (ticks[k] + ticks[k + 1]) / 2;
        EXPECT_EQ(c.Pixel(x, y), k % 2 == 0 ? vcl::clAqua : vcl::clYellow) << "band " << k;
    }
    // Both brushes clear: nothing painted.
    tool->Band1().SetStyle(vcl::TBrushStyle::bsClear);
    tool->Band2().SetStyle(vcl::TBrushStyle::bsClear);
    c.Paint();
    EXPECT_EQ(c.Pixel(x, (ticks[0] + ticks[1]) / 2), vcl::clWhite);
    // A hatched band without a back colour shows the back wall's colour
    // behind the hatch.
    c.chart->BackWall().SetColor(vcl::clLime);
    c.chart->BackWall().SetTransparent(false);
    tool->Band2().SetStyle(vcl::TBrushStyle::bsCross);
    tool->Band2().SetColor(vcl::clBlue);
    c.Paint();
    int blue = 0, lime = 0;
    for (int y = ticks[0] + 2; y < ticks[1] - 2; ++y)
        for (int dx = 0; dx < 16; ++dx) {
            const vcl::TColor p = c.Pixel(x + dx, y);
            blue += p == vcl::clBlue;
            lime += p == vcl::clLime;
        }
    EXPECT_GT(blue, 10);
    EXPECT_GT(lime, blue);
    // The tool freed: the axis draws on without it.
    vcl::TComponent::Free(tool);
    EXPECT_FALSE(c.chart->LeftAxis().OnDrawGrids);
    c.Paint();
}

}  // namespace
