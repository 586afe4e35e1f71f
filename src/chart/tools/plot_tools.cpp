#include "chart/tools/plot_tools.h"

#include "chart/drawing/plot_pro_co.h"
#include "chart/drawing/unit_start.h"
#include "chart/tools/annotation_tool.h"
#include "chart/tools/axis_tools.h"
#include "chart/tools/color_band_tool.h"
#include "chart/tools/cursor_tool.h"
#include "chart/tools/draw_line_tool.h"
#include "chart/tools/full_screen_tool.h"
#include "chart/tools/marks_tools.h"
#include "chart/tools/nearest_tool.h"
#include "chart/tools/rotate_tool.h"
#include "chart/tools/series_animation_tool.h"
#include "chart/tools/series_tools.h"

namespace chart::tools {

namespace {

using engine::PlotToolClass;

// The registry puts each class at its own place in the galleries' order.
const std::initializer_list<engine::TPlotToolClass>& UnitClasses() {
    static const std::initializer_list<engine::TPlotToolClass> classes = {
        PlotToolClass<TDragMarksTool>(),   PlotToolClass<TAxisArrowTool>(),
        PlotToolClass<TDrawLineTool>(),    PlotToolClass<TNearestTool>(),
        PlotToolClass<TRotateTool>(),      PlotToolClass<TChartImageTool>(),
        PlotToolClass<TMarksTipTool>(),    PlotToolClass<TAnnotationTool>(),
        PlotToolClass<TSeriesAnimationTool>(), PlotToolClass<TGridBandTool>(),
        PlotToolClass<TAxisScrollTool>(),  PlotToolClass<TRectangleTool>(),
        PlotToolClass<TClipSeriesTool>(),  PlotToolClass<TFullScreenTool>(),
        PlotToolClass<TCursorTool>(),      PlotToolClass<TColorBandTool>(),
        PlotToolClass<TColorLineTool>(),
    };
    return classes;
}

void Start() {
    PlotProCoUse();
    engine::RegisterPlotToolClasses(UnitClasses());
}

void Stop() {
    engine::UnregisterPlotToolClasses(UnitClasses());
    PlotProCoRelease();
}

constinit TUnitStart unit_start(Start, Stop);
[[maybe_unused]] const bool started = StartAtLoad(unit_start);

}  // namespace

void PlotToolsUse() { unit_start.Use(); }
void PlotToolsRelease() { unit_start.Release(); }

}  // namespace chart::tools
