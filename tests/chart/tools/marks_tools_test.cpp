// The marks tools through the chart's mouse: a mark dragged to a place of
// the user's own (its arrow staying at the point), presses elsewhere left
// to the chart's zoom; and a point's label shown as a hint while the mouse
// rests on it, kept without flicker, left alone by a second tip tool, and
// the chart repainting again after a text handler that raised.
#include <gtest/gtest.h>

#include <map>
#include <stdexcept>

#include "chart/drawing/plot_canvas3d.h"
#include "chart/engine/series_marks.h"
#include "chart/tools/marks_tools.h"
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

// Three labelled points with their marks shown.
struct MarksChart : ToolChart {
    MarksChart() {
        points->AddXY(100, 150, "north");
        points->AddXY(200, 100, "north");
        points->AddXY(300, 200, "south");
        points->Marks().SetVisible(true);
        points->Marks().SetStyle(smsValue);
        Paint();
    }
    TSeriesMarkPosition& Mark(int Index) { return *points->Marks().Positions().Position(Index); }
    vcl::TPoint Inside(int Index) { return {Mark(Index).LeftTop.X + 3, Mark(Index).LeftTop.Y + 3}; }
};

TEST(marks_tools, a_dragged_mark_keeps_its_new_place_and_its_arrow_at_the_point) {
    MarksChart c;
    auto* tool = new TDragMarksTool(nullptr);
    tool->SetParentChart(c.chart);
    std::vector<int> dragged;
    tool->OnDraggedMark = [&](vcl::TComponent*, int Index, vcl::TMouseButton, vcl::TShiftState, int, int) {
        dragged.push_back(Index);
    };
    const TSeriesMarkPosition before = c.Mark(1);
    ASSERT_FALSE(before.Custom);
    const vcl::TPoint at = c.Inside(1);
    MouseMoveTo(*c.chart, at.X, at.Y);
    EXPECT_EQ(c.chart->Cursor(), vcl::TCursor::crHandPoint);
    MouseDrag(*c.chart, Qt::LeftButton, at.X, at.Y, at.X + 40, at.Y - 20);
    EXPECT_EQ(dragged, std::vector<int>{1});
    EXPECT_EQ(tool->DragIndex(), -1);
    EXPECT_FALSE(c.chart->Zoomed);
    c.Paint();
    const TSeriesMarkPosition& after = c.Mark(1);
    EXPECT_TRUE(after.Custom);
    EXPECT_EQ(after.LeftTop.X, before.LeftTop.X + 40);
    EXPECT_EQ(after.LeftTop.Y, before.LeftTop.Y - 20);
    EXPECT_EQ(after.ArrowTo.X, before.ArrowTo.X + 40);
    EXPECT_EQ(after.ArrowFrom.X, before.ArrowFrom.X);
    EXPECT_EQ(after.ArrowFrom.Y, before.ArrowFrom.Y);
    // The other marks stayed where the chart put them.
    EXPECT_FALSE(c.Mark(0).Custom);

    // A press on empty space is the chart's: the zoom starts.
    MousePress(*c.chart, Qt::LeftButton, 20, 280);
    EXPECT_TRUE(c.chart->Zoom().Active);
    MouseRelease(*c.chart, Qt::LeftButton, 20, 280);

    // Only its own series' marks when it has one.
    auto* other = new test_support::ClickablePoints(nullptr);
    other->SetParentChart(c.chart);
    tool->SetSeries(other);
    const vcl::TPoint mark0 = c.Inside(0);
    MousePress(*c.chart, Qt::LeftButton, mark0.X, mark0.Y);
    EXPECT_EQ(tool->DragIndex(), -1);
    MouseRelease(*c.chart, Qt::LeftButton, mark0.X, mark0.Y);

    // Its series freed in the middle of a drag: the moves do nothing.
    tool->SetSeries(nullptr);
    MousePress(*c.chart, Qt::LeftButton, mark0.X, mark0.Y);
    ASSERT_EQ(tool->DragIndex(), 0);
    vcl::TComponent::Free(c.points);
    c.points = nullptr;
    MouseMoveTo(*c.chart, mark0.X + 10, mark0.Y, Qt::LeftButton);
    MouseRelease(*c.chart, Qt::LeftButton, mark0.X + 10, mark0.Y);
    EXPECT_EQ(tool->DragIndex(), -1);
}

TEST(marks_tools, resting_on_a_point_shows_its_label_as_the_hint) {
    MarksChart c;
    auto* tool = new TMarksTipTool(nullptr);
    tool->SetParentChart(c.chart);
    int texts = 0, cancels = 0;
    tool->OnGetText = [&](vcl::TComponent*, std::string& Text) {
        ++texts;
        Text += "!";
    };
    tool->OnCancelHint = [&](vcl::TComponent*) { ++cancels; };
    MouseMoveTo(*c.chart, c.points->CalcXPos(0), c.points->CalcYPos(0));
    EXPECT_EQ(c.chart->Hint(), "north!");
    EXPECT_TRUE(c.chart->ShowHint());
    EXPECT_EQ(vcl::Application->ShownHint(), "north!");
    // The marks keep their own style; the chart repaints as before.
    EXPECT_EQ(c.points->Marks().Style(), smsValue);
    EXPECT_TRUE(c.chart->AutoRepaint);
    // The next point has the same text: the hint stays as it is.
    MouseMoveTo(*c.chart, c.points->CalcXPos(1), c.points->CalcYPos(1));
    EXPECT_EQ(texts, 2);
    EXPECT_EQ(cancels, 0);
    EXPECT_EQ(vcl::Application->ShownHint(), "north!");
    // Off the points the hint goes.
    MouseMoveTo(*c.chart, 20, 20);
    EXPECT_EQ(cancels, 1);
    EXPECT_EQ(c.chart->Hint(), "");
    EXPECT_EQ(vcl::Application->ShownHint(), "");

    // With a second tip tool on the chart, leaving a point does not take
    // away a hint the other may show.
    auto* second = new TMarksTipTool(nullptr);
    second->SetParentChart(c.chart);
    second->SetMouseAction(mtmClick);
    MouseMoveTo(*c.chart, c.points->CalcXPos(2), c.points->CalcYPos(2));
    EXPECT_EQ(c.chart->Hint(), "south!");
    MouseMoveTo(*c.chart, 20, 20);
    EXPECT_EQ(c.chart->Hint(), "south!");
    vcl::TComponent::Free(second);
    // Switching the tool off takes the hint away.
    tool->SetActive(false);
    EXPECT_EQ(c.chart->Hint(), "");
    tool->SetActive(true);

    // A text handler that raises leaves the chart repainting and the
    // marks' style as it was.
    tool->OnGetText = [](vcl::TComponent*, std::string&) { throw std::runtime_error("no text"); };
    EXPECT_THROW(tool->ChartMouseEvent(cmeMove, vcl::TMouseButton::mbLeft, 0, c.points->CalcXPos(0),
                                       c.points->CalcYPos(0)),
                 std::runtime_error);
    EXPECT_TRUE(c.chart->AutoRepaint);
    EXPECT_EQ(c.points->Marks().Style(), smsValue);

    // The delays are the program's hint pauses.
    tool->SetMouseDelay(120);
    tool->SetHideDelay(-5);
    EXPECT_EQ(vcl::Application->HintPause(), 120);
    EXPECT_EQ(tool->HideDelay(), 0);
    tool->SetHideDelay(2500);
}

// A surface that keeps a text per point.
struct RegionCanvas : chart::TPlotCanvas3D, TPlotHintRegions {
    std::map<std::string, std::string> Regions;
    void AddHintRegion(const std::string& Key, const std::string& Text) override { Regions[Key] = Text; }
};

TEST(marks_tools, a_surface_with_hint_regions_gets_every_visible_point_text_instead) {
    MarksChart c;
    auto owned = std::make_unique<RegionCanvas>();
    RegionCanvas* regions = owned.get();
    c.chart->ReplaceCanvas(std::move(owned));
    auto* tool = new TMarksTipTool(nullptr);
    tool->SetParentChart(c.chart);
    tool->OnGetText = [](vcl::TComponent*, std::string& Text) { Text = "<" + Text + ">"; };
    c.Paint();
    const std::string name = c.points->NameOrNumber();
    EXPECT_EQ(regions->Regions, (std::map<std::string, std::string>{
                                    {name + "_0", "<north>"}, {name + "_1", "<north>"}, {name + "_2", "<south>"}}));
    // No hint of its own then.
    MouseMoveTo(*c.chart, c.points->CalcXPos(0), c.points->CalcYPos(0));
    EXPECT_EQ(c.chart->Hint(), "");
}

}  // namespace
