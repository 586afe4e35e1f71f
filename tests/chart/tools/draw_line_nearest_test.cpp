// Lines drawn, selected and dragged with the mouse (kept in axis values,
// the rubber band and the dragged line drawn twice leaving every pixel as
// it was, hit tests by style and handle), and the nearest point followed
// by the mouse with its marker in not-XOR.
#include <gtest/gtest.h>

#include "chart/tools/antialias_tool.h"
#include "chart/tools/draw_line_tool.h"
#include "chart/tools/nearest_tool.h"
#include "support/mouse.h"
#include "support/tool_chart.h"

namespace {

using namespace chart::engine;
using namespace chart::tools;
using test_support::Differences;
using test_support::MouseDrag;
using test_support::MouseMoveTo;
using test_support::MousePress;
using test_support::MouseRelease;
using test_support::ToolChart;

struct LineChart : ToolChart {
    TDrawLineTool* tool = new TDrawLineTool(nullptr);
    LineChart() : ToolChart(400, 300) {
        tool->SetParentChart(chart);
        tool->Pen().SetColor(vcl::clBlue);
        AddPixel(200, 150);
        Paint();
    }
    // Pixel Y of the chart as a value.
    double V(int Y) { return chart->Height() - Y; }
};

TEST(draw_line_tool, dragging_draws_a_line_that_can_be_selected_and_moved) {
    LineChart c;
    int news = 0, selects = 0, draggedLines = 0;
    c.tool->OnNewLine = [&](vcl::TComponent*) { ++news; };
    c.tool->OnSelect = [&](vcl::TComponent*) { ++selects; };
    c.tool->OnDraggedLine = [&](vcl::TComponent*) { ++draggedLines; };
    const auto before = c.CopyImage();

    // The rubber band follows the drag on the shown image, without a
    // repaint; brought back to where it began, it leaves no pixel changed.
    const int draws = c.chart->Draws;
    MousePress(*c.chart, Qt::LeftButton, 50, 60);
    MouseMoveTo(*c.chart, 150, 110, Qt::LeftButton);
    EXPECT_GT(Differences(*before, c.Image()).size(), 90u);
    MouseMoveTo(*c.chart, 90, 200, Qt::LeftButton);
    MouseMoveTo(*c.chart, 50, 60, Qt::LeftButton);
    EXPECT_TRUE(Differences(*before, c.Image()).empty());
    EXPECT_EQ(c.chart->Draws, draws);
    // A click without movement draws no line.
    MouseRelease(*c.chart, Qt::LeftButton, 50, 60);
    EXPECT_EQ(c.tool->Lines().Count(), 0);
    EXPECT_TRUE(Differences(*before, c.Image()).empty());
    EXPECT_FALSE(c.chart->Zoom().Active);

    // A drag draws a line in axis values, selected.
    MouseDrag(*c.chart, Qt::LeftButton, 50, 60, 150, 110);
    ASSERT_EQ(c.tool->Lines().Count(), 1);
    TDrawLine& line = c.tool->Lines().Items(0);
    EXPECT_DOUBLE_EQ(line.X0(), 50);
    EXPECT_DOUBLE_EQ(line.Y0(), c.V(60));
    EXPECT_DOUBLE_EQ(line.X1(), 150);
    EXPECT_DOUBLE_EQ(line.Y1(), c.V(110));
    EXPECT_EQ(c.tool->Selected(), &line);
    EXPECT_EQ(news, 1);
    c.Paint();
    EXPECT_EQ(c.Pixel(100, 85), vcl::TColor(vcl::clBlue ^ 0));  // blue over white in not-XOR
    EXPECT_EQ(c.Pixel(150, 110), vcl::clBlack);                   // the end handle

    // Its end handle dragged: only the end point moves; no zoom.
    MouseMoveTo(*c.chart, 152, 112);
    EXPECT_EQ(c.chart->Cursor(), vcl::TCursor::crCross);
    MouseDrag(*c.chart, Qt::LeftButton, 152, 112, 252, 212);
    EXPECT_DOUBLE_EQ(line.X0(), 50);
    EXPECT_DOUBLE_EQ(line.X1(), 252);
    EXPECT_DOUBLE_EQ(line.Y1(), c.V(212));
    EXPECT_EQ(draggedLines, 1);
    EXPECT_FALSE(c.chart->Zoomed);
    // The whole line dragged by its body.
    c.Paint();
    MouseDrag(*c.chart, Qt::LeftButton, 150, 135, 160, 145);
    EXPECT_DOUBLE_EQ(line.X0(), 60);
    EXPECT_DOUBLE_EQ(line.Y0(), c.V(70));
    EXPECT_DOUBLE_EQ(line.X1(), 262);
    // While dragging, the dragged line drawn twice leaves the image as it was.
    c.Paint();
    const auto shown = c.CopyImage();
    MousePress(*c.chart, Qt::LeftButton, 160, 145);
    MouseMoveTo(*c.chart, 100, 30, Qt::LeftButton);
    EXPECT_FALSE(Differences(*shown, c.Image()).empty());
    MouseMoveTo(*c.chart, 160, 145, Qt::LeftButton);
    EXPECT_TRUE(Differences(*shown, c.Image()).empty());
    MouseRelease(*c.chart, Qt::LeftButton, 160, 145);

    // Scrolled, the line follows its values.
    c.chart->BottomAxis().SetMinMax(10, 410);
    c.Paint();
    EXPECT_EQ(c.tool->AxisPoint(line.StartPos()).X, 50);

    // A click elsewhere clears the selection; OnSelecting may refuse one.
    MousePress(*c.chart, Qt::LeftButton, 380, 20);
    MouseRelease(*c.chart, Qt::LeftButton, 380, 20);
    EXPECT_EQ(c.tool->Selected(), nullptr);
    c.tool->OnSelecting = [](TDrawLineTool*, TDrawLine*, bool& Allow) { Allow = false; };
    const int selected = selects;
    const vcl::TPoint mid = c.tool->AxisPoint({(line.X0() + line.X1()) / 2, (line.Y0() + line.Y1()) / 2});
    MousePress(*c.chart, Qt::LeftButton, mid.X, mid.Y);
    MouseRelease(*c.chart, Qt::LeftButton, mid.X, mid.Y);
    EXPECT_EQ(c.tool->Selected(), nullptr);
    EXPECT_EQ(selects, selected);
    // Without selection every drag draws.
    c.tool->SetEnableSelect(false);
    MouseDrag(*c.chart, Qt::LeftButton, mid.X, mid.Y, mid.X + 30, mid.Y);
    EXPECT_EQ(c.tool->Lines().Count(), 2);
    // Deleting the selected line clears the selection.
    c.tool->SetEnableSelect(true);
    c.tool->SetSelected(&c.tool->Lines().Items(1));
    c.tool->Lines().Delete(1);
    EXPECT_EQ(c.tool->Selected(), nullptr);

    // On a smoothing surface the pen is drawn as it is (no not-XOR there):
    // the drag repaints instead.
    auto* smooth = new TAntiAliasTool(nullptr);
    smooth->SetParentChart(c.chart);
    c.Paint();
    const int paints = c.chart->Draws;
    MouseDrag(*c.chart, Qt::LeftButton, 20, 250, 120, 250);
    ASSERT_EQ(c.tool->Lines().Count(), 2);
    c.Paint();
    EXPECT_GT(c.chart->Draws, paints);
    EXPECT_EQ(c.Pixel(70, 250), vcl::clBlue);
}

TEST(draw_line_tool, hit_tests_follow_the_style_and_the_handles) {
    LineChart c;
    TDrawLine& line = c.tool->Lines().Add();
    line.SetStartPos({100, c.V(100)});
    line.SetEndPos({200, c.V(150)});
    // A line: within tolerance + 1 pixels of the segment.
    EXPECT_EQ(c.tool->Clicked(150, 126, 0), &line);
    EXPECT_EQ(c.tool->Clicked(150, 129, 0), nullptr);
    c.tool->SetClickTolerance(3);
    EXPECT_EQ(c.tool->Clicked(150, 129, 0), &line);
    c.tool->SetClickTolerance(-4);
    EXPECT_EQ(c.tool->ClickTolerance(), 0);
    // A rectangle anywhere inside, parallels only on their lines.
    line.SetStyle(dlRectangle);
    EXPECT_EQ(c.tool->Clicked(110, 140, 0), &line);
    line.SetStyle(dlHorizParallel);
    EXPECT_EQ(c.tool->Clicked(110, 140, 0), nullptr);
    EXPECT_EQ(c.tool->Clicked(110, 150, 0), &line);
    line.SetStyle(dlVertParallel);
    EXPECT_EQ(c.tool->Clicked(200, 120, 0), &line);
    // Handles: 3 pixels each way, edges included.
    EXPECT_EQ(c.tool->Clicked(103, 97, 1), &line);
    EXPECT_EQ(c.tool->Clicked(104, 100, 1), nullptr);
    EXPECT_EQ(c.tool->Clicked(197, 153, 2), &line);
    EXPECT_EQ(c.tool->Clicked(197, 153, 1), nullptr);
}

struct NearChart : ToolChart {
    TNearestTool* tool = new TNearestTool(nullptr);
    NearChart() : ToolChart(400, 300) {
        AddPixel(100, 100);  // 0
        AddPixel(140, 100);  // 1: as far from (120, 100) as point 0
        AddPixel(300, 200);  // 2
        points->Pointer().SetHorizSize(2);
        points->Pointer().SetVertSize(2);
        tool->SetParentChart(chart);
        tool->SetSeries(points);
        Paint();
    }
};

TEST(nearest_tool, the_nearest_point_follows_the_mouse_and_its_marker_goes_cleanly) {
    NearChart c;
    int changes = 0;
    c.tool->OnChange = [&](vcl::TComponent*) { ++changes; };
    MouseMoveTo(*c.chart, 120, 100);
    EXPECT_EQ(c.tool->Point(), 0);  // a tie: the lower index
    MouseMoveTo(*c.chart, 280, 180);
    EXPECT_EQ(c.tool->Point(), 2);
    EXPECT_EQ(changes, 2);
    // The series' own hit test wins over a nearer point by distance.
    EXPECT_EQ(TNearestTool::GetNearestPoint(*c.points, 141, 101), 1);
    c.points->Pointer().SetHorizSize(30);
    EXPECT_EQ(TNearestTool::GetNearestPoint(*c.points, 129, 100), 0);
    c.points->Pointer().SetHorizSize(2);

    // Without full repaints the marker and its line are drawn in not-XOR
    // and taken away exactly when the mouse leaves.
    c.tool->SetFullRepaint(false);
    c.tool->Pen().SetColor(vcl::clBlack);
    c.tool->Pen().SetStyle(vcl::TPenStyle::psSolid);
    c.tool->SetDrawLine(true);
    c.Paint();
    MouseMoveTo(*c.chart, 380, 20);
    c.tool->ChartEvent(cteMouseLeave);
    c.Paint();
    const auto before = c.CopyImage();
    const int draws = c.chart->Draws;
    MouseMoveTo(*c.chart, 250, 150);
    EXPECT_EQ(c.tool->Point(), 2);
    EXPECT_GT(Differences(*before, c.Image()).size(), 100u);
    MouseMoveTo(*c.chart, 200, 150);
    c.tool->ChartEvent(cteMouseLeave);
    EXPECT_EQ(c.tool->Point(), -1);
    EXPECT_TRUE(Differences(*before, c.Image()).empty());
    EXPECT_EQ(c.chart->Draws, draws);
    // DrawLine is the line pen's Visible.
    c.tool->SetDrawLine(false);
    EXPECT_FALSE(c.tool->LinePen().Visible());
    // A null (between points 0 and 1 in X order) point is passed over.
    c.points->AddNullXY(110, c.chart->Height() - 100);
    c.Paint();
    EXPECT_EQ(TNearestTool::GetNearestPoint(*c.points, 108, 100), 0);
    // The series freed: moves do nothing.
    vcl::TComponent::Free(c.points);
    MouseMoveTo(*c.chart, 100, 100);
    EXPECT_EQ(c.tool->Series(), nullptr);
}

}  // namespace
