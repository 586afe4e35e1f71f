// Tools: what they hear of a paint and in which order, the list a chart
// keeps of them, tools bound to a series or an axis, the registries of tool
// classes and series types, and that a tool is destroyed exactly once
// whichever goes first: its chart, its owner or the tool itself.
#include "chart/engine/plot_tool.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QEvent>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "chart/engine/chart_axis.h"
#include "platform/vcl/class_registry.h"
#include "support/recording_series.h"

namespace {

using chart::engine::TChartAxis;
using chart::engine::TChartToolEvent;
using chart::engine::TPlotCustomTool;
using chart::engine::TPlotCustomToolAxis;
using chart::engine::TPlotCustomToolSeries;
using test_support::PlainChart;
using test_support::RecordingSeries;

// Everything a tool hears, as text; and how many of its kind are alive.
struct Journal {
    std::vector<std::string> heard;
    int alive = 0;
};

class ListeningTool : public TPlotCustomToolSeries {
  public:
    explicit ListeningTool(vcl::TComponent* AOwner, Journal* J = nullptr)
        : TPlotCustomToolSeries(AOwner), journal(J) {
        if (journal) ++journal->alive;
    }
    ~ListeningTool() override {
        if (journal) --journal->alive;
    }
    void ChartEvent(TChartToolEvent AEvent) override {
        if (journal) journal->heard.push_back(Tag + std::to_string(AEvent));
    }
    void SeriesEvent(chart::engine::TChartSeriesToolEvent AEvent) override {
        if (journal) journal->heard.push_back("s" + std::to_string(AEvent));
    }
    std::string Description() const override { return "Listening"; }
    Journal* journal;
    std::string Tag;
};

class AxisTool : public TPlotCustomToolAxis {
  public:
    using TPlotCustomToolAxis::TPlotCustomToolAxis;
};

TEST(plot_tool, tools_hear_the_paint_stages_in_order_and_only_while_active) {
    PlainChart chart;
    RecordingSeries& series = chart.AddRecording();
    series.Fill(10, [](int i) { return i; });
    Journal journal;
    auto* first = new ListeningTool(&chart, &journal);
    auto* second = new ListeningTool(&chart, &journal);
    first->Tag = "a";
    second->Tag = "b";
    first->SetParentChart(&chart);
    second->SetParentChart(&chart);
    second->SetSeries(&series);
    EXPECT_EQ(chart.Tools().Count(), 2);
    EXPECT_EQ(chart.Tools().GetTool(0), first);

    // Axes behind the series (the default): 2, 3, 1, 4, 0; the series
    // tool hears its series' values drawn between 1 and 4.
    chart.Render();
    EXPECT_EQ(journal.heard, (std::vector<std::string>{"a2", "b2", "a3", "b3", "a1", "b1", "s1", "s4",
                                                       "a4", "b4", "a0", "b0"}));
    // Axes in front: 2, 1, 4, 3, 0.
    journal.heard.clear();
    chart.SetAxisBehind(false);
    first->SetActive(false);
    chart.Render();
    EXPECT_EQ(journal.heard, (std::vector<std::string>{"b2", "b1", "s1", "s4", "b4", "b3", "b0"}));

    // The mouse leaving the chart is event 5.
    journal.heard.clear();
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(chart.Widget(), &leave);
    EXPECT_EQ(journal.heard, (std::vector<std::string>{"b5"}));

    // Moving a tool to another chart appends it there; leaving for none
    // repaints the old chart.
    PlainChart other;
    first->SetParentChart(&other);
    EXPECT_EQ(chart.Tools().Count(), 1);
    EXPECT_EQ(other.Tools().GetTool(0), first);
    other.Render();
    other.SetBufferedDisplay(true);
    other.PlotCreateBitmap(vcl::clWhite, other.GetRectangle(), vcl::TPixelFormat::pfDevice);
    first->SetParentChart(nullptr);
    EXPECT_EQ(other.Tools().Count(), 0);

    // A series tool forgets a series that is freed; without a series its
    // axes are the chart's used ones.
    EXPECT_EQ(second->GetHorizAxis(), &chart.BottomAxis());
    series.SetHorizAxis(chart::engine::aTopAxis);
    EXPECT_EQ(second->GetHorizAxis(), &chart.TopAxis());
    vcl::TComponent::Free(&series);
    EXPECT_EQ(second->Series(), nullptr);
    EXPECT_EQ(second->GetHorizAxis(), &chart.BottomAxis());
    EXPECT_EQ(second->GetVertAxis(), &chart.LeftAxis());
    vcl::TComponent::Free(first);
}

TEST(plot_tool, axis_tools_follow_their_axis_and_its_chart) {
    PlainChart chart;
    auto* tool = new AxisTool(nullptr);
    TChartAxis& custom = chart.CustomAxes().Add();
    EXPECT_EQ(chart.Axes().Count(), 7);
    EXPECT_TRUE(custom.IsCustom());
    EXPECT_FALSE(chart.LeftAxis().IsCustom());
    tool->SetAxis(&custom);
    EXPECT_EQ(tool->ParentChart(), &chart);
    EXPECT_EQ(chart.Tools().Count(), 1);
    // The axis goes: the tool lets go of it (and stays listed); the series
    // falls back to the left axis.
    RecordingSeries& s = chart.AddRecording();
    s.SetCustomVertAxis(&custom);
    EXPECT_EQ(s.VertAxis(), chart::engine::aCustomVertAxis);
    EXPECT_EQ(s.GetVertAxis(), &custom);
    chart.CustomAxes().Delete(0);
    EXPECT_EQ(tool->Axis(), nullptr);
    EXPECT_EQ(tool->ParentChart(), &chart);
    EXPECT_EQ(s.VertAxis(), chart::engine::aLeftAxis);
    EXPECT_EQ(s.GetVertAxis(), &chart.LeftAxis());
    EXPECT_EQ(chart.Axes().Count(), 6);
    tool->SetAxis(&chart.LeftAxis());
    EXPECT_EQ(chart.Tools().Count(), 1);
    // Without an axis the tool leaves; back on an axis of the chart, the
    // chart (going first) frees it with its other tools.
    tool->SetAxis(nullptr);
    EXPECT_EQ(chart.Tools().Count(), 0);
    tool->SetAxis(&chart.BottomAxis());
    EXPECT_EQ(chart.Tools().Count(), 1);
}

TEST(plot_tool, a_tool_is_destroyed_exactly_once_whichever_goes_first) {
    Journal journal;
    // 0: the chart first; 1: the owner first; 2: the tool first (Free);
    // 3: the tool deleted outright; 4: the chart owns it; 5: no owner.
    for (int order = 0; order < 6; ++order) {
        SCOPED_TRACE(order);
        auto form = std::make_unique<vcl::TComponent>(nullptr);
        auto* chart = new PlainChart(300, 200, form.get());
        vcl::TComponent* owner = order == 4 ? static_cast<vcl::TComponent*>(chart)
                                 : order == 5 ? nullptr
                                              : form.get();
        auto* tool = new ListeningTool(owner, &journal);
        auto* series = new RecordingSeries(form.get());
        series->SetParentChart(chart);
        tool->SetSeries(series);
        tool->SetParentChart(chart);
        EXPECT_EQ(journal.alive, 1);
        switch (order) {
            case 0:
            case 4:
            case 5:
                vcl::TComponent::Free(chart);
                EXPECT_EQ(journal.alive, 0);
                break;
            case 1:
                form.reset();
                EXPECT_EQ(journal.alive, 0);
                break;
            case 2:
                vcl::TComponent::Free(tool);
                EXPECT_EQ(chart->Tools().Count(), 0);
                vcl::TComponent::Free(chart);
                break;
            case 3:
                delete tool;
                EXPECT_EQ(chart->Tools().Count(), 0);
                chart->Render();
                vcl::TComponent::Free(chart);
                break;
        }
        form.reset();
        EXPECT_EQ(journal.alive, 0);
    }
}

TEST(plot_tool, registries_keep_each_tool_class_once_in_order) {
    using chart::engine::PlotToolClass;
    using chart::engine::PlotToolTypesList;
    const auto listening = PlotToolClass<ListeningTool>();
    const auto axis = PlotToolClass<AxisTool>();
    const int before = PlotToolTypesList().Count();
    chart::engine::RegisterPlotToolClasses({listening, axis, listening});
    EXPECT_EQ(PlotToolTypesList().Count(), before + 2);
    EXPECT_EQ(PlotToolTypesList().Items(before), listening);
    EXPECT_EQ(PlotToolTypesList().Items(before + 1), axis);
    // Known to the class library by name, and made from the class.
    EXPECT_EQ(vcl::GetClass("listeningtool"), listening);
    PlainChart chart;
    TPlotCustomTool* made = chart::engine::CreatePlotTool(listening, &chart);
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(made->Description(), "Listening");
    EXPECT_EQ(made->GetEditorClassName(), "TSeriesToolEditor");
    chart::engine::UnregisterPlotToolClasses({listening, axis});
    EXPECT_EQ(PlotToolTypesList().Count(), before);
    vcl::UnRegisterClass(listening);
    vcl::UnRegisterClass(axis);

    // The series types are the program's for the whole run: the ones
    // registered before this test come back after its Clear.
    auto& types = chart::engine::PlotSeriesTypesList();
    struct RestoreSeriesTypes {
        chart::engine::TPlotSeriesTypes& types;
        std::vector<chart::engine::TPlotSeriesType> kept;
        explicit RestoreSeriesTypes(chart::engine::TPlotSeriesTypes& t) : types(t) {
            for (int i = 0; i < types.Count(); ++i) kept.push_back(types.Items(i));
        }
        ~RestoreSeriesTypes() {
            types.Clear();
            for (const auto& t : kept) types.Add(std::make_unique<chart::engine::TPlotSeriesType>(t));
        }
    } restore(types);
    auto type = std::make_unique<chart::engine::TPlotSeriesType>();
    type->SeriesClass = vcl::ClassOf<RecordingSeries>();
    type->Description = "Recording";
    types.Add(std::move(type));
    EXPECT_EQ(types.Items(types.Count() - 1).Description, "Recording");
    types.Clear();
    EXPECT_EQ(types.Count(), 0);
}

}  // namespace
