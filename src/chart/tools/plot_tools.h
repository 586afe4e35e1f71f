#pragma once
// The chart tools unit: registers its tool classes with the chart's tool
// registry when the program starts, each at its own place in the registry,
// and takes them out when the last user releases it. Code that makes tools
// calls PlotToolsUse, so that the unit is linked and started whatever else
// the program refers to.
namespace chart::tools {

void PlotToolsUse();
void PlotToolsRelease();

}  // namespace chart::tools
