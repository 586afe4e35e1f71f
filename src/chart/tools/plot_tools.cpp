#include "chart/tools/plot_tools.h"

#include "chart/drawing/plot_pro_co.h"
#include "chart/drawing/unit_start.h"
#include "chart/engine/plot_tool.h"
#include "chart/tools/color_band_tool.h"
#include "chart/tools/cursor_tool.h"

namespace chart::tools {

namespace {

using chart::engine::PlotToolClass;

// In the order the tool galleries list them.
void Start() {
    chart::PlotProCoUse();
    chart::engine::RegisterPlotToolClasses(
        {PlotToolClass<TCursorTool>(), PlotToolClass<TColorBandTool>(), PlotToolClass<TColorLineTool>()});
}

void Stop() {
    chart::engine::UnregisterPlotToolClasses(
        {PlotToolClass<TCursorTool>(), PlotToolClass<TColorBandTool>(), PlotToolClass<TColorLineTool>()});
    chart::PlotProCoRelease();
}

constinit chart::TUnitStart unit_start(Start, Stop);
[[maybe_unused]] const bool started = chart::StartAtLoad(unit_start);

}  // namespace

void PlotToolsUse() { unit_start.Use(); }
void PlotToolsRelease() { unit_start.Release(); }

}  // namespace chart::tools
