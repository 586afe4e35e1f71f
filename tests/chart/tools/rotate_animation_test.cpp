// Turning a 3D chart with the mouse (the turn per pixel by Speed, the
// limits of a flat surface, the XOR outline that draws no repaint, the
// chart's repaints given back however the drag ends, inertia), and the
// series animation (groups, Stop from a step, Steps 0, and the loop ending
// safely when the window, the series or the tool goes while it waits).
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>

#include "chart/engine/panel_unit.h"
#include "chart/tools/rotate_tool.h"
#include "chart/tools/series_animation_tool.h"
#include "platform/vcl/timer.h"
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

struct RotateChart : ToolChart {
    TRotateTool* tool = new TRotateTool(nullptr);
    RotateChart() {
        AddPixel(100, 100);
        AddPixel(300, 200);
        chart->SetView3D(true);
        chart->View3DOptions().SetRotation(0);
        chart->View3DOptions().SetElevation(300);
        tool->SetParentChart(chart);
        Paint();
    }
    double Rotation() { return chart->View3DOptions().RotationFloat(); }
    double Elevation() { return chart->View3DOptions().ElevationFloat(); }
};

TEST(rotate_tool, speed_sets_the_turn_and_a_flat_surface_keeps_its_limits) {
    RotateChart c;
    c.tool->Pen().SetVisible(false);
    const int w = c.chart->ChartWidth;
    // Across the whole chart: 90 degrees at the neutral speed, 135 at 100.
    MouseDrag(*c.chart, Qt::LeftButton, 10, 150, 10 + w, 150, 1);
    EXPECT_NEAR(c.Rotation(), 90, 1e-9);
    EXPECT_FALSE(c.chart->View3DOptions().Orthogonal());
    c.tool->SetSpeed(100);
    MouseDrag(*c.chart, Qt::LeftButton, 10, 150, 10 + w, 150, 1);
    EXPECT_NEAR(c.Rotation(), 225, 1e-9);
    // Past a whole turn the rotation comes round again.
    MouseDrag(*c.chart, Qt::LeftButton, 10, 150, 10 + w, 150, 1);
    EXPECT_NEAR(c.Rotation(), 360, 1e-9);
    // Downwards the elevation stops at 270, upwards at 360.
    MouseDrag(*c.chart, Qt::LeftButton, 100, 10, 100, 290, 3);
    EXPECT_DOUBLE_EQ(c.Elevation(), 270);
    MouseDrag(*c.chart, Qt::LeftButton, 100, 290, 100, 10, 3);
    MouseDrag(*c.chart, Qt::LeftButton, 100, 290, 100, 10, 3);
    EXPECT_DOUBLE_EQ(c.Elevation(), 360);
    // Rotation only; inverted turns the other way.
    c.tool->SetStyle(rsRotation);
    c.tool->SetInverted(true);
    MouseDrag(*c.chart, Qt::LeftButton, 100, 10, 100 + w / 3, 290, 1);
    EXPECT_DOUBLE_EQ(c.Elevation(), 360);
    EXPECT_NEAR(c.Rotation(), 360 - (w / 3) * 90.0 / w * 1.5, 1e-9);
    // Another button leaves the chart to zoom.
    MousePress(*c.chart, Qt::RightButton, 50, 50);
    EXPECT_FALSE(c.tool->Dragging());
    MouseRelease(*c.chart, Qt::RightButton, 50, 50);
}

TEST(rotate_tool, the_outline_is_drawn_in_xor_and_the_chart_repaints_again_however_the_drag_ends) {
    RotateChart c;
    const auto before = c.CopyImage();
    const int draws = c.chart->Draws;
    MousePress(*c.chart, Qt::LeftButton, 100, 100);
    EXPECT_EQ(c.chart->Cursor(), crPlotHand);
    MouseMoveTo(*c.chart, 130, 100, Qt::LeftButton);
    EXPECT_FALSE(c.chart->AutoRepaint);
    const auto outlined = c.CopyImage();
    EXPECT_FALSE(test_support::Differences(*before, *outlined).empty());
    // No turn: the outline drawn again takes the old one away exactly and
    // the same one comes back.
    MouseMoveTo(*c.chart, 130, 100, Qt::LeftButton);
    EXPECT_TRUE(test_support::Differences(*outlined, c.Image()).empty());
    c.Paint();
    EXPECT_EQ(c.chart->Draws, draws);
    MouseRelease(*c.chart, Qt::LeftButton, 130, 100);
    EXPECT_TRUE(c.chart->AutoRepaint);
    EXPECT_EQ(c.chart->Cursor(), vcl::TCursor::crDefault);
    c.Paint();
    EXPECT_GT(c.chart->Draws, draws);

    // Switched off or freed in the middle of a drag: the chart repaints.
    MousePress(*c.chart, Qt::LeftButton, 100, 100);
    MouseMoveTo(*c.chart, 120, 110, Qt::LeftButton);
    ASSERT_FALSE(c.chart->AutoRepaint);
    c.tool->SetActive(false);
    EXPECT_TRUE(c.chart->AutoRepaint);
    MouseRelease(*c.chart, Qt::LeftButton, 120, 110);
    c.tool->SetActive(true);
    MousePress(*c.chart, Qt::LeftButton, 100, 100);
    MouseMoveTo(*c.chart, 120, 110, Qt::LeftButton);
    ASSERT_FALSE(c.chart->AutoRepaint);
    vcl::TComponent::Free(c.tool);
    EXPECT_TRUE(c.chart->AutoRepaint);
    MouseRelease(*c.chart, Qt::LeftButton, 120, 110);
}

TEST(rotate_tool, inertia_keeps_turning_and_dies_away) {
    RotateChart c;
    c.tool->Pen().SetVisible(false);
    c.tool->SetInertia(500);
    EXPECT_EQ(c.tool->Inertia(), 100);
    c.tool->SetInertia(-1);
    EXPECT_EQ(c.tool->Inertia(), 0);
    MouseDrag(*c.chart, Qt::LeftButton, 100, 150, 140, 150, 4);
    EXPECT_FALSE(c.tool->InertiaRunning());  // 0 stops at release
    const double stopped = c.Rotation();
    c.tool->SetInertia(60);
    MouseDrag(*c.chart, Qt::LeftButton, 100, 150, 140, 150, 4);
    const double released = c.Rotation();
    EXPECT_NEAR(released - stopped, 4 * 10 * 90.0 / c.chart->ChartWidth, 1e-9);
    EXPECT_TRUE(c.tool->InertiaRunning());
    EXPECT_TRUE(test_support::PumpUntil([&] { return !c.tool->InertiaRunning(); }, std::chrono::seconds(20)));
    EXPECT_GT(c.Rotation(), released + 5);
}

// 25 points of value 10 + i.
struct AnimatedChart : ToolChart {
    TSeriesAnimationTool* tool = new TSeriesAnimationTool(nullptr);
    AnimatedChart() {
        for (int i = 0; i < 25; ++i) points->AddXY(i * 10 + 20, 10 + i);
        tool->SetParentChart(chart);
        tool->SetSeries(points);
        tool->SetSteps(4);
    }
    double Value(int I) { return points->YValues().Value(I); }
};

TEST(series_animation, groups_grow_in_turn_and_stop_restores_the_values) {
    AnimatedChart c;
    c.tool->SetDrawEvery(10);
    // Each step of each group: which points have left the start value 10.
    std::vector<int> grown;
    std::vector<int> steps;
    int stops = 0;
    c.tool->OnStop = [&](vcl::TComponent*) { ++stops; };
    c.tool->OnStep = [&](vcl::TComponent*, int Step) {
        steps.push_back(Step);
        if (Step != 4) return;
        int n = 0;
        for (int i = 0; i < 25; ++i) n += c.Value(i) == 10 + i;
        grown.push_back(n);
        // Executing again while running does nothing.
        c.tool->Execute();
    };
    c.tool->Execute();
    EXPECT_EQ(grown, (std::vector<int>{10, 20, 25}));
    EXPECT_EQ(steps.size(), 15u);
    EXPECT_EQ(stops, 1);
    EXPECT_FALSE(c.tool->Running());
    for (int i = 0; i < 25; ++i) EXPECT_EQ(c.Value(i), 10 + i);

    // Stop from a step: the real values come back at once.
    c.tool->OnStep = [&](vcl::TComponent* Sender, int Step) {
        if (Step == 2) static_cast<TSeriesAnimationTool*>(Sender)->Stop();
    };
    c.tool->SetLoop(salCircular);
    c.tool->Execute();
    EXPECT_EQ(stops, 2);
    for (int i = 0; i < 25; ++i) EXPECT_EQ(c.Value(i), 10 + i);

    // Steps 0 animates in one step and fails nowhere.
    c.tool->SetLoop(salNo);
    c.tool->SetSteps(0);
    steps.clear();
    c.tool->OnStep = [&](vcl::TComponent*, int Step) { steps.push_back(Step); };
    c.tool->SetDrawEvery(0);
    c.tool->Execute();
    EXPECT_EQ(steps, (std::vector<int>{0, 1}));
    for (int i = 0; i < 25; ++i) EXPECT_EQ(c.Value(i), 10 + i);
}

TEST(series_animation, the_loop_ends_safely_when_what_it_animates_goes_during_its_delay) {
    using namespace std::chrono_literals;
    // Each waits in Delay while a timer frees something.
    auto run = [](const std::function<void(AnimatedChart*&)>& Free) {
        auto* c = new AnimatedChart;
        c->tool->SetDelay(5);
        c->tool->SetLoop(salOneWay);
        vcl::TTimer timer(nullptr);
        timer.SetInterval(40);
        timer.SetOnTimer([&](vcl::TComponent*) {
            timer.SetEnabled(false);
            Free(c);
        });
        c->tool->Execute();
        delete c;
    };
    // The series.
    run([](AnimatedChart*& C) {
        vcl::TComponent::Free(C->points);
        C->points = nullptr;
    });
    // The tool.
    bool stopped = false;
    run([&](AnimatedChart*& C) {
        C->tool->OnStop = [&](vcl::TComponent*) { stopped = true; };
        vcl::TComponent::Free(C->tool);
    });
    EXPECT_FALSE(stopped);
    // The window with the chart (which frees its series and tools).
    run([](AnimatedChart*& C) {
        delete C;
        C = nullptr;
    });
    // Stopped, or its window closed (hidden): the values come back.
    for (bool close : {false, true}) {
        AnimatedChart c;
        c.tool->SetDelay(5);
        c.tool->SetLoop(salOneWay);
        int stops = 0;
        c.tool->OnStop = [&](vcl::TComponent*) { ++stops; };
        vcl::TTimer timer(nullptr);
        timer.SetInterval(40);
        timer.SetOnTimer([&](vcl::TComponent*) {
            timer.SetEnabled(false);
            if (close)
                c.form.Close();
            else
                c.tool->Stop();
        });
        c.tool->Execute();
        EXPECT_EQ(stops, 1);
        EXPECT_FALSE(c.tool->Running());
        for (int i = 0; i < 25; ++i) EXPECT_EQ(c.Value(i), 10 + i);
    }
}

}  // namespace
