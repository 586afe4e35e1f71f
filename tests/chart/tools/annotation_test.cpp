// The annotation's box at its five places and at the user's (in pixels and
// in percent), its callout and clicks; the rectangle tool resized by its
// edges and corners (never below 3 pixels) and dragged, with the cursors
// it shows over each zone.
#include <gtest/gtest.h>

#include "chart/tools/annotation_tool.h"
#include "support/mouse.h"
#include "support/tool_chart.h"

namespace {

using namespace chart::engine;
using namespace chart::tools;
using test_support::MouseDrag;
using test_support::MouseMoveTo;
using test_support::MousePress;
using test_support::MouseRelease;
using test_support::ToolChart;

TEST(annotation_tool, the_box_sits_at_its_place_and_points_its_callout) {
    ToolChart c(400, 300);
    auto* tool = new TAnnotationTool(nullptr);
    tool->SetParentChart(c.chart);
    tool->SetText("Peak\nof the day");
    tool->Shape().Shadow().SetVisible(false);
    c.Paint();
    const vcl::TRect r = c.chart->ChartRect;
    vcl::TRect b = tool->Bounds();
    EXPECT_EQ(b.Left, r.Left + 10);
    EXPECT_EQ(b.Top, r.Top + 10);
    const int w = b.Right - b.Left, h = b.Bottom - b.Top;
    // Two lines: taller than wide text of one line would be.
    EXPECT_GT(h, 2 * c.chart->Canvas()->FontHeight() - 1);
    tool->SetPosition(ppRightBottom);
    c.Paint();
    b = tool->Bounds();
    EXPECT_EQ(b.Right - b.Left, w);
    EXPECT_LT(b.Right, r.Right);
    EXPECT_GT(b.Left, (r.Left + r.Right) / 2);
    EXPECT_GT(b.Top, (r.Top + r.Bottom) / 2);
    tool->SetPosition(ppCenter);
    c.Paint();
    b = tool->Bounds();
    EXPECT_NEAR((b.Left + b.Right) / 2.0, (r.Left + r.Right) / 2.0, 1.5);
    EXPECT_NEAR((b.Top + b.Bottom) / 2.0, (r.Top + r.Bottom) / 2.0, 1.5);
    // At the user's place, in pixels and in percent of the chart.
    tool->SetLeft(30);
    tool->SetTop(40);
    c.Paint();
    EXPECT_EQ(tool->Bounds().Left, 30);
    EXPECT_EQ(tool->Bounds().Top, 40);
    tool->SetPositionUnits(muPercent);
    tool->SetLeft(50);
    tool->SetTop(10);
    c.Paint();
    EXPECT_EQ(tool->Bounds().Left, r.Left + (r.Right - r.Left) / 2);
    EXPECT_EQ(tool->Bounds().Top, r.Top + 30);
    // The callout: a line from the box's nearer side to the point.
    tool->SetPositionUnits(muPixels);
    tool->SetLeft(30);
    tool->SetTop(40);
    tool->Callout().SetXPosition(350);
    tool->Callout().SetYPosition(250);
    tool->Callout().Arrow().SetColor(vcl::clRed);
    tool->Callout().Arrow().SetWidth(1);
    tool->Callout().Pen().SetVisible(false);
    tool->Callout().Brush().SetStyle(vcl::TBrushStyle::bsClear);
    auto redPixels = [&] {
        int red = 0;
        for (int x = tool->Bounds().Right + 20; x < 340; ++x)
            for (int y = 0; y < 300; ++y) red += c.Pixel(x, y) == vcl::clRed;
        return red;
    };
    c.Paint();
    EXPECT_EQ(redPixels(), 0);  // hidden, though its arrow pen is visible
    tool->Callout().SetVisible(true);
    c.Paint();
    b = tool->Bounds();
    EXPECT_GT(redPixels(), 100);
    // Clicks inside the box.
    int clicks = 0;
    tool->OnClick = [&](vcl::TComponent*, vcl::TMouseButton, vcl::TShiftState, int, int) { ++clicks; };
    MousePress(*c.chart, Qt::LeftButton, b.Left + 5, b.Top + 5);
    MouseRelease(*c.chart, Qt::LeftButton, b.Left + 5, b.Top + 5);
    MousePress(*c.chart, Qt::LeftButton, b.Right + 5, b.Top + 5);
    MouseRelease(*c.chart, Qt::LeftButton, b.Right + 5, b.Top + 5);
    EXPECT_EQ(clicks, 1);
    // Sizes below 0 are 0.
    tool->Shape().SetAutoSize(false);
    tool->SetWidth(-20);
    EXPECT_EQ(tool->Width(), 0);
    c.Paint();
}

TEST(rectangle_tool, corners_and_edges_resize_it_and_the_inside_drags_it) {
    ToolChart c(400, 300);
    auto* tool = new TRectangleTool(nullptr);
    tool->SetParentChart(c.chart);
    int resized = 0, dragged = 0;
    tool->OnResized = [&](vcl::TComponent*) { ++resized; };
    tool->OnDragged = [&](vcl::TComponent*) { ++dragged; };
    c.Paint();
    vcl::TRect b = tool->Bounds();
    EXPECT_EQ(b.Left, 10);
    EXPECT_EQ(b.Top, 10);
    EXPECT_GE(b.Right - b.Left, 49);
    // The cursors over the zones.
    const struct {
        int x, y;
        vcl::TCursor cursor;
    } zones[] = {{b.Left + 1, (b.Top + b.Bottom) / 2, vcl::TCursor::crSizeWE},
                 {(b.Left + b.Right) / 2, b.Top + 1, vcl::TCursor::crSizeNS},
                 {b.Left + 1, b.Top + 1, vcl::TCursor::crSizeNWSE},
                 {b.Right - 1, b.Top + 1, vcl::TCursor::crSizeNESW},
                 {(b.Left + b.Right) / 2, (b.Top + b.Bottom) / 2, vcl::TCursor::crHandPoint}};
    for (const auto& z : zones) {
        MouseMoveTo(*c.chart, z.x, z.y);
        EXPECT_EQ(c.chart->Cursor(), z.cursor) << z.x << "," << z.y;
    }
    // From the bottom-right corner: 30 wider, 20 higher.
    MouseDrag(*c.chart, Qt::LeftButton, b.Right - 1, b.Bottom - 1, b.Right + 29, b.Bottom + 19);
    c.Paint();
    vcl::TRect after = tool->Bounds();
    EXPECT_EQ(after.Left, b.Left);
    EXPECT_EQ(after.Right, b.Right + 30);
    EXPECT_EQ(after.Bottom, b.Bottom + 20);
    EXPECT_EQ(resized, 1);
    EXPECT_FALSE(c.chart->Zoomed);
    // The left edge dragged past the right one stops 3 pixels before it
    // (without margins, which the box cannot be narrower than).
    tool->Shape().Margins().SetLeft(0);
    tool->Shape().Margins().SetRight(0);
    c.Paint();
    b = tool->Bounds();
    MouseDrag(*c.chart, Qt::LeftButton, b.Left + 1, (b.Top + b.Bottom) / 2, b.Right + 50, (b.Top + b.Bottom) / 2);
    c.Paint();
    after = tool->Bounds();
    EXPECT_EQ(after.Right, b.Right);
    EXPECT_EQ(after.Right - after.Left, 3);
    // Widened again, then dragged from inside by (100, 50).
    MouseDrag(*c.chart, Qt::LeftButton, after.Left + 1, (b.Top + b.Bottom) / 2, 20, (b.Top + b.Bottom) / 2);
    c.Paint();
    b = tool->Bounds();
    MouseDrag(*c.chart, Qt::LeftButton, (b.Left + b.Right) / 2, (b.Top + b.Bottom) / 2,
              (b.Left + b.Right) / 2 + 100, (b.Top + b.Bottom) / 2 + 50);
    c.Paint();
    after = tool->Bounds();
    EXPECT_EQ(after.Left, b.Left + 100);
    EXPECT_EQ(after.Top, b.Top + 50);
    EXPECT_EQ(after.Right - after.Left, b.Right - b.Left);
    EXPECT_EQ(dragged, 1);
    // In percent units a drag stores the corner in percent of the chart.
    tool->SetPositionUnits(muPercent);
    tool->SetLeft(10);
    tool->SetTop(10);
    c.Paint();
    b = tool->Bounds();
    MouseDrag(*c.chart, Qt::LeftButton, b.Left + 10, b.Top + 10, b.Left + 50, b.Top + 40);
    EXPECT_EQ(tool->Left(), 20);
    EXPECT_EQ(tool->Top(), 20);
    // Neither allowed: presses go to the chart.
    tool->SetAllowDrag(false);
    tool->SetAllowResize(false);
    c.Paint();
    b = tool->Bounds();
    MousePress(*c.chart, Qt::LeftButton, b.Left + 10, b.Top + 10);
    EXPECT_TRUE(c.chart->Zoom().Active);
    MouseRelease(*c.chart, Qt::LeftButton, b.Left + 10, b.Top + 10);
}

}  // namespace
