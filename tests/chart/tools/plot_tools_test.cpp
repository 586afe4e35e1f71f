// The cursor, colour line and colour band tools on a chart whose values are
// pixels (support/line_chart.h): what they draw, where they snap and how the
// mouse moves them.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "chart/engine/chart_axis.h"
#include "chart/engine/plot_tool.h"
#include "chart/tools/color_band_tool.h"
#include "chart/tools/cursor_tool.h"
#include "chart/tools/plot_tools.h"
#include "support/chart_panels.h"
#include "support/line_chart.h"
#include "support/mouse.h"

namespace {

using chart::tools::TColorBandTool;
using chart::tools::TColorLineTool;
using chart::tools::TCursorTool;
using test_support::PixelChart;
using test_support::PixelAt;

constexpr gdi::COLORREF kWhite = 0xFFFFFF;

// Pixels of b that differ from a.
int Differences(vcl::TBitmap& a, vcl::TBitmap& b) {
    int n = 0;
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width(); ++x) n += a.Handle()->GetPixel(x, y) != b.Handle()->GetPixel(x, y);
    return n;
}

TEST(plot_tools, the_tools_unit_registers_its_classes_in_gallery_order) {
    chart::tools::PlotToolsUse();
    auto& types = chart::engine::PlotToolTypesList();
    const int cursor = types.IndexOf(chart::engine::PlotToolClass<TCursorTool>());
    const int band = types.IndexOf(chart::engine::PlotToolClass<TColorBandTool>());
    const int line = types.IndexOf(chart::engine::PlotToolClass<TColorLineTool>());
    ASSERT_GE(cursor, 0);
    EXPECT_LT(cursor, band);
    EXPECT_LT(band, line);
    // Made by name, as form reading makes them.
    vcl::TComponentClass byName = vcl::GetClass("TColorBandTool");
    ASSERT_NE(byName, nullptr);
    std::unique_ptr<vcl::TComponent, vcl::TComponentDeleter> made(byName->Create(nullptr));
    EXPECT_NE(dynamic_cast<TColorBandTool*>(made.get()), nullptr);
    EXPECT_EQ(static_cast<TColorBandTool*>(made.get())->Description(), "Color Band");
    chart::tools::PlotToolsRelease();
}

TEST(plot_tools, cursor_snaps_to_the_lowest_of_equally_near_points) {
    PixelChart chart;
    auto* cursor = new TCursorTool(&chart);
    cursor->SetParentChart(&chart);
    for (double x : {1.0, 2.0, 3.0}) chart.Line->AddXY(x, x * 10);
    cursor->SetSeries(chart.Line);
    cursor->Snap = true;
    cursor->SnapStyle = chart::tools::ssVertical;
    cursor->XValue = 2.5;
    EXPECT_EQ(cursor->SnapToNearest(), 1);
    EXPECT_EQ(cursor->XValue, 2);
    EXPECT_EQ(cursor->YValue, 20);

    // A horizontal cursor moves along Y only; without Snap nothing moves.
    cursor->SnapStyle = chart::tools::ssDefault;
    cursor->SetStyle(chart::tools::cssHorizontal);
    cursor->XValue = 1.2;
    cursor->YValue = 29;
    EXPECT_EQ(cursor->SnapToNearest(), 2);
    EXPECT_EQ(cursor->XValue, 1.2);
    EXPECT_EQ(cursor->YValue, 30);
    cursor->Snap = false;
    EXPECT_EQ(cursor->SnapToNearest(), -1);

    // The search along a sorted X list finds what a scan over every point
    // finds, duplicates and all.
    chart.Line->Clear();
    std::mt19937 random(7);
    std::uniform_int_distribution<int> step(0, 3);
    double x = 0;
    for (int i = 0; i < 500; ++i) chart.Line->AddXY(x += step(random) * 0.5, i);
    cursor->Snap = true;
    cursor->SnapStyle = chart::tools::ssVertical;
    for (double at = -3; at < x + 3; at += 0.25) {
        cursor->XValue = at;
        double distance = 0;
        const int found = cursor->NearestPoint(chart::tools::cssBoth, distance);
        int expected = -1;
        double best = -1;
        for (int i = 0; i < chart.Line->Count(); ++i) {
            const double d = std::fabs(at - chart.Line->XValues().Value(i));
            if (best == -1 || d < best) {
                best = d;
                expected = i;
            }
        }
        ASSERT_EQ(found, expected) << "at " << at;
        EXPECT_EQ(distance, best);
    }
}

TEST(plot_tools, scope_cursor_is_drawn_in_xor_over_the_picture_and_placed_once) {
    PixelChart chart(200, 100);
    auto* cursor = new TCursorTool(&chart);
    cursor->SetParentChart(&chart);
    int changes = 0;
    cursor->OnChange = [&](TCursorTool*, int, int, double, double, chart::engine::TChartSeries*, int) { ++changes; };
    cursor->SetStyle(chart::tools::cssScopeOnly);
    cursor->SetHorizSize(20);
    cursor->SetVertSize(20);
    auto first = chart.Render();
    // The first paint places it at the middle of the plot and reports once.
    EXPECT_EQ(changes, 1);
    const vcl::TPoint p = cursor->IPoint();
    EXPECT_EQ(p.X, 100);
    EXPECT_EQ(p.Y, 50);
    // The square from 4 left of and above the point to 4 right of and
    // below it, and 20-pixel ticks beyond its sides; the point itself clear.
    EXPECT_NE(PixelAt(*first, p.X - 4, p.Y), kWhite);
    EXPECT_NE(PixelAt(*first, p.X, p.Y - 4), kWhite);
    EXPECT_NE(PixelAt(*first, p.X - 24, p.Y), kWhite);
    EXPECT_NE(PixelAt(*first, p.X + 20, p.Y), kWhite);
    EXPECT_NE(PixelAt(*first, p.X, p.Y + 20), kWhite);
    EXPECT_EQ(PixelAt(*first, p.X - 26, p.Y), kWhite);
    EXPECT_EQ(PixelAt(*first, p.X, p.Y), kWhite);
    EXPECT_EQ(PixelAt(*first, p.X - 10, p.Y - 10), kWhite);
    // The default black pen shows black on the white chart.
    EXPECT_EQ(PixelAt(*first, p.X - 10, p.Y), 0u);
    // Nothing else of the picture changes.
    cursor->SetActive(false);
    auto without = chart.Render();
    int outside = 0;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 200; ++x)
            if (PixelAt(*first, x, y) != PixelAt(*without, x, y))
                outside += std::abs(x - p.X) > 24 || std::abs(y - p.Y) > 24;
    EXPECT_EQ(outside, 0);
    EXPECT_GT(Differences(*without, *first), 40);
}

TEST(plot_tools, cursor_follows_the_mouse_inside_the_axes_only) {
    PixelChart chart(200, 100);
    auto* cursor = new TCursorTool(&chart);
    cursor->SetParentChart(&chart);
    cursor->FollowMouse = true;
    chart.Render();
    cursor->ChartMouseEvent(chart::engine::cmeMove, vcl::TMouseButton::mbLeft, 0, 30, 40);
    EXPECT_EQ(cursor->XValue, 30);
    EXPECT_EQ(cursor->YValue, 60);  // values are pixels up from the bottom
    cursor->ChartMouseEvent(chart::engine::cmeMove, vcl::TMouseButton::mbLeft, 0, 250, 40);
    EXPECT_EQ(cursor->XValue, 30);

    // Dragged: a press near the horizontal line of a cross moves only Y;
    // at the crossing both.
    cursor->FollowMouse = false;
    cursor->SetStyle(chart::tools::cssBoth);
    chart.Render();
    const vcl::TPoint p = cursor->IPoint();
    EXPECT_EQ(cursor->Clicked(p.X + 2, p.Y + 2), 3);
    EXPECT_EQ(cursor->Clicked(p.X + 40, p.Y + 3), 1);
    EXPECT_EQ(cursor->Clicked(p.X + 2, p.Y + 30), 2);
    cursor->ChartMouseEvent(chart::engine::cmeDown, vcl::TMouseButton::mbLeft, 0, p.X + 40, p.Y + 1);
    EXPECT_TRUE(chart.CancelMouseAction);
    cursor->ChartMouseEvent(chart::engine::cmeMove, vcl::TMouseButton::mbLeft, 0, p.X + 70, 20);
    cursor->ChartMouseEvent(chart::engine::cmeUp, vcl::TMouseButton::mbLeft, 0, p.X + 70, 20);
    EXPECT_EQ(cursor->XValue, 30);
    EXPECT_EQ(cursor->YValue, 80);
}

TEST(plot_tools, colour_band_fills_between_its_values_in_either_order) {
    PixelChart chart(200, 100);
    auto* band = new TColorBandTool(&chart);
    band->SetAxis(&chart.BottomAxis());
    EXPECT_EQ(chart.Tools().IndexOf(band), 0);
    EXPECT_EQ(chart.Tools().Count(), 1);  // its edge lines are not the chart's tools
    band->SetColor(0x00FFFF);
    band->Pen().SetVisible(false);
    band->SetStartValue(50);
    band->SetEndValue(20);
    auto b = chart.Render();
    EXPECT_EQ(PixelAt(*b, 19, 50), kWhite);
    EXPECT_EQ(PixelAt(*b, 21, 50), 0x00FFFFu);
    EXPECT_EQ(PixelAt(*b, 48, 50), 0x00FFFFu);
    EXPECT_EQ(PixelAt(*b, 50, 50), kWhite);
    const vcl::TRect r = band->BoundsRect();
    EXPECT_EQ(r.Left, 20);
    EXPECT_EQ(r.Right, 50);
    // Wholly beyond the axis: nothing.
    band->SetStartValue(300);
    band->SetEndValue(400);
    EXPECT_EQ(band->BoundsRect().Right - band->BoundsRect().Left, 0);
    auto empty = chart.Render();
    EXPECT_EQ(PixelAt(*empty, 199, 50), kWhite);
}

TEST(plot_tools, colour_lines_stand_at_their_value_and_are_dragged_within_the_axis) {
    PixelChart chart(200, 100);
    auto* line = new TColorLineTool(&chart);
    line->SetAxis(&chart.BottomAxis());
    line->SetStyle(chart::tools::clCenter);
    chart.Render();
    EXPECT_EQ(line->GetValue(), 100);
    line->SetValue(40);
    EXPECT_EQ(line->Style(), chart::tools::clCustom);
    auto b = chart.Render();
    EXPECT_EQ(PixelAt(*b, 40, 50), 0u);
    EXPECT_EQ(PixelAt(*b, 41, 50), kWhite);

    int drags = 0, ends = 0;
    line->OnDragLine = [&](TColorLineTool*) { ++drags; };
    line->OnEndDragLine = [&](TColorLineTool*) { ++ends; };
    line->ChartMouseEvent(chart::engine::cmeDown, vcl::TMouseButton::mbLeft, 0, 41, 50);
    EXPECT_TRUE(line->Dragging());
    line->ChartMouseEvent(chart::engine::cmeMove, vcl::TMouseButton::mbLeft, 0, 500, 50);
    line->ChartMouseEvent(chart::engine::cmeUp, vcl::TMouseButton::mbLeft, 0, 500, 50);
    EXPECT_EQ(drags, 1);
    EXPECT_EQ(ends, 1);
    EXPECT_EQ(line->Value(), chart.BottomAxis().CalcPosPoint(chart.BottomAxis().EndPixel));
    line->NoLimitDrag = true;
    chart.Render();
    const int at = chart.BottomAxis().CalcPosValue(line->Value());
    line->ChartMouseEvent(chart::engine::cmeDown, vcl::TMouseButton::mbLeft, 0, at, 50);
    line->ChartMouseEvent(chart::engine::cmeMove, vcl::TMouseButton::mbLeft, 0, 500, 50);
    line->ChartMouseEvent(chart::engine::cmeUp, vcl::TMouseButton::mbLeft, 0, 500, 50);
    EXPECT_EQ(line->Value(), 500);
}

TEST(plot_tools, a_band_edge_dragged_by_the_user_resizes_the_band_once) {
    PixelChart chart(200, 100);
    auto* band = new TColorBandTool(&chart);
    band->SetAxis(&chart.BottomAxis());
    band->SetStartValue(20);
    band->SetEndValue(60);
    int resized = 0;
    band->OnResized = [&](vcl::TComponent*) { ++resized; };
    chart.Render();
    // Not resizable: a press on the edge does nothing.
    band->ChartMouseEvent(chart::engine::cmeDown, vcl::TMouseButton::mbLeft, 0, 20, 50);
    EXPECT_FALSE(chart.CancelMouseAction);
    band->SetResizeStart(true);
    band->ChartMouseEvent(chart::engine::cmeDown, vcl::TMouseButton::mbLeft, 0, 21, 50);
    EXPECT_TRUE(chart.CancelMouseAction);
    chart.CancelMouseAction = false;
    band->ChartMouseEvent(chart::engine::cmeMove, vcl::TMouseButton::mbLeft, 0, 30, 50);
    band->ChartMouseEvent(chart::engine::cmeMove, vcl::TMouseButton::mbLeft, 0, 35, 50);
    band->ChartMouseEvent(chart::engine::cmeUp, vcl::TMouseButton::mbLeft, 0, 35, 50);
    EXPECT_EQ(band->StartValue(), 35);
    EXPECT_EQ(band->EndValue(), 60);
    EXPECT_EQ(resized, 1);
}

TEST(plot_tools, the_mouse_over_the_chart_reaches_the_band_edges_before_panning) {
    PixelChart chart(200, 100);
    chart.AllowPanning = chart::engine::pmHorizontal;
    auto* band = new TColorBandTool(&chart);
    band->SetAxis(&chart.BottomAxis());
    band->SetStartValue(20);
    band->SetEndValue(60);
    band->SetResizeEnd(true);
    int resized = 0;
    band->OnResized = [&](vcl::TComponent*) { ++resized; };
    chart.Render();
    const double before = chart.BottomAxis().Minimum();
    // Dragging the end edge with the left button moves the edge, not the axes.
    test_support::MouseDrag(chart, Qt::LeftButton, 60, 50, 90, 50);
    EXPECT_EQ(band->EndValue(), 90);
    EXPECT_EQ(resized, 1);
    EXPECT_EQ(chart.BottomAxis().Minimum(), before);
    // Elsewhere the right button pans the axes.
    test_support::MouseDrag(chart, Qt::RightButton, 120, 50, 100, 50);
    EXPECT_NE(chart.BottomAxis().Minimum(), before);
    EXPECT_EQ(band->EndValue(), 90);
}

}  // namespace
