#include "chart/drawing/graphic_hook.h"

namespace chart {

constinit TPlotGraphicFromExtension PlotGraphicFromExtensionHook = nullptr;

}  // namespace chart
