#pragma once
// The chart tools of this unit, registered with the chart's tool classes as
// the program loads (each at its own place in the registry); counted users
// may hold the unit longer, the last release takes the classes out.
namespace chart::tools {

void PlotToolsUse();
void PlotToolsRelease();

}  // namespace chart::tools
