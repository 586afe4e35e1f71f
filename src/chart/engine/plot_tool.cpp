#include "chart/engine/plot_tool.h"

#include <algorithm>
#include <iterator>
#include <string_view>

#include "chart/engine/axis_panel.h"
#include "chart/engine/chart_axis.h"
#include "chart/engine/chart_series.h"

namespace chart::engine {

// ---- Base

TPlotCustomTool::TPlotCustomTool(vcl::TComponent* AOwner) : TCustomChartElement(AOwner) {}

TPlotCustomTool::~TPlotCustomTool() {
    // Deleted without Free: the tool part is still whole here.
    if (TCustomAxisPanel* chart = ParentChart()) chart->Tools().Remove(this);
}

void TPlotCustomTool::SetParentChart(TCustomAxisPanel* Value) {
    TCustomAxisPanel* old = ParentChart();
    if (Value == old) return;
    if (old) {
        old->Tools().Remove(this);
        if (!Value) old->Invalidate();
    }
    TCustomChartElement::SetParentChart(Value);
    if (Value) Value->Tools().Add(this);
}

// ---- Series tools

TPlotCustomToolSeries::TPlotCustomToolSeries(vcl::TComponent* AOwner) : TPlotCustomTool(AOwner) {}

TPlotCustomToolSeries::~TPlotCustomToolSeries() = default;

void TPlotCustomToolSeries::SetSeries(TChartSeries* Value) {
    if (Value == series_) return;
    if (series_) {
        // Both ways: neither may later tell the other of its end.
        RemoveFreeNotification(series_);
        series_->RemoveFreeNotification(this);
    }
    series_ = Value;
    series_component_ = Value;
    if (series_) FreeNotification(series_);
}

void TPlotCustomToolSeries::Notification(vcl::TComponent* AComponent, vcl::TOperation Operation) {
    TPlotCustomTool::Notification(AComponent, Operation);
    // Compared as components: the series may be half destroyed by now.
    if (Operation == vcl::TOperation::opRemove && series_component_ &&
        AComponent == series_component_) {
        series_ = nullptr;
        series_component_ = nullptr;
    }
}

TChartAxis* TPlotCustomToolSeries::GetHorizAxis() const {
    if (series_) return series_->GetHorizAxis();
    TCustomAxisPanel* chart = ParentChart();
    if (!chart) return nullptr;
    if (!chart->NoActiveSeries(chart->BottomAxis())) return &chart->BottomAxis();
    if (!chart->NoActiveSeries(chart->TopAxis())) return &chart->TopAxis();
    return &chart->BottomAxis();
}

TChartAxis* TPlotCustomToolSeries::GetVertAxis() const {
    if (series_) return series_->GetVertAxis();
    TCustomAxisPanel* chart = ParentChart();
    if (!chart) return nullptr;
    if (!chart->NoActiveSeries(chart->LeftAxis())) return &chart->LeftAxis();
    if (!chart->NoActiveSeries(chart->RightAxis())) return &chart->RightAxis();
    return &chart->LeftAxis();
}

void TPlotCustomToolSeries::Assign(const TCustomChartElement& Source) {
    if (const auto* other = dynamic_cast<const TPlotCustomToolSeries*>(&Source))
        SetSeries(other->series_);
    TPlotCustomTool::Assign(Source);
}

// ---- Axis tools

TPlotCustomToolAxis::TPlotCustomToolAxis(vcl::TComponent* AOwner) : TPlotCustomTool(AOwner) {}

void TPlotCustomToolAxis::SetAxis(TChartAxis* Value) {
    if (Value == axis_) return;
    axis_ = Value;
    SetParentChart(Value ? Value->ParentChart() : nullptr);
    Repaint();
}

void TPlotCustomToolAxis::Assign(const TCustomChartElement& Source) {
    if (const auto* other = dynamic_cast<const TPlotCustomToolAxis*>(&Source))
        SetAxis(other->axis_);
    TPlotCustomTool::Assign(Source);
}

// ---- The chart's list

int TChartTools::IndexOf(const TPlotCustomTool* Tool) const {
    const auto it = std::find(items_.begin(), items_.end(), Tool);
    return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

void TChartTools::Add(TPlotCustomTool* Tool) {
    if (IndexOf(Tool) < 0) items_.push_back(Tool);
}

void TChartTools::Remove(const TPlotCustomTool* Tool) {
    items_.erase(std::remove(items_.begin(), items_.end(), Tool), items_.end());
}

void TChartTools::Clear() {
    // Each tool leaves the list as it is freed (and its owner's list too,
    // so whoever owns it will not free it again).
    while (!items_.empty()) {
        TPlotCustomTool* tool = items_.back();
        vcl::TComponent::Free(tool);
        Remove(tool);  // in case freeing it did not (it always does)
    }
}

// ---- Registries

TPlotCustomTool* CreatePlotTool(TPlotToolClass Class, vcl::TComponent* Owner) {
    if (!Class || !Class->Create) return nullptr;
    vcl::TComponent* made = Class->Create(Owner);
    if (auto* tool = dynamic_cast<TPlotCustomTool*>(made)) return tool;
    vcl::TComponent::Free(made);
    return nullptr;
}

int TPlotToolTypes::IndexOf(TPlotToolClass Class) const {
    const auto it = std::find(items_.begin(), items_.end(), Class);
    return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

void TPlotToolTypes::Remove(TPlotToolClass Class) {
    items_.erase(std::remove(items_.begin(), items_.end(), Class), items_.end());
}

namespace {

std::unique_ptr<TPlotToolTypes>& ToolTypes() {
    static std::unique_ptr<TPlotToolTypes> list;
    return list;
}

std::unique_ptr<TPlotSeriesTypes>& SeriesTypes() {
    static std::unique_ptr<TPlotSeriesTypes> list;
    return list;
}

}  // namespace

TPlotToolTypes& PlotToolTypesList() {
    if (!ToolTypes()) ToolTypes() = std::make_unique<TPlotToolTypes>();
    return *ToolTypes();
}

TPlotSeriesTypes& PlotSeriesTypesList() {
    if (!SeriesTypes()) SeriesTypes() = std::make_unique<TPlotSeriesTypes>();
    return *SeriesTypes();
}

void FreePlotRegistries() {
    SeriesTypes().reset();
    ToolTypes().reset();
}

namespace {

// The place of each tool class in the registry, whichever unit registers
// it and whenever: galleries list tools in this order. Classes not named
// here follow them in the order they came.
constexpr std::string_view kToolOrder[] = {
    "TCursorTool",      "TDragMarksTool",       "TAxisArrowTool", "TDrawLineTool",   "TNearestTool",
    "TColorBandTool",   "TColorLineTool",       "TRotateTool",    "TChartImageTool", "TMarksTipTool",
    "TAnnotationTool",  "TSeriesAnimationTool", "TGridBandTool",  "TAxisScrollTool", "TRectangleTool",
    "TClipSeriesTool",  "TFullScreenTool",
};

std::size_t ToolRank(TPlotToolClass Class) {
    const auto it = std::find(std::begin(kToolOrder), std::end(kToolOrder), Class->Name);
    return static_cast<std::size_t>(it - std::begin(kToolOrder));
}

}  // namespace

void TPlotToolTypes::Insert(TPlotToolClass Class) {
    const std::size_t rank = ToolRank(Class);
    const auto at = std::find_if(items_.begin(), items_.end(),
                                 [&](TPlotToolClass c) { return ToolRank(c) > rank; });
    items_.insert(at, Class);
}

void RegisterPlotToolClasses(std::initializer_list<TPlotToolClass> Classes) {
    TPlotToolTypes& types = PlotToolTypesList();
    for (TPlotToolClass c : Classes) {
        if (!c || types.IndexOf(c) >= 0) continue;
        vcl::RegisterClass(c);
        types.Insert(c);
    }
}

void UnregisterPlotToolClasses(std::initializer_list<TPlotToolClass> Classes) {
    if (!ToolTypes()) return;
    for (TPlotToolClass c : Classes) ToolTypes()->Remove(c);
}

// ---- Axes and series lists

int TChartAxes::IndexOf(const TChartAxis* Axis) const {
    const auto it = std::find(items_.begin(), items_.end(), Axis);
    return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

void TChartAxes::Remove(const TChartAxis* Axis) {
    items_.erase(std::remove(items_.begin(), items_.end(), Axis), items_.end());
}

TChartAxis* TChartAxes::GetLeftAxis() const { return &chart_.LeftAxis(); }
TChartAxis* TChartAxes::GetTopAxis() const { return &chart_.TopAxis(); }
TChartAxis* TChartAxes::GetBottomAxis() const { return &chart_.BottomAxis(); }
TChartAxis* TChartAxes::GetDepthAxis() const { return &chart_.DepthAxis(); }
TChartAxis* TChartAxes::GetDepthTopAxis() const { return &chart_.DepthTopAxis(); }

void TChartAxes::SetFastCalc(bool Value) {
    fast_calc_ = Value;
    for (TChartAxis* axis : items_) axis->SelectPosRoutines();
}

}  // namespace chart::engine
