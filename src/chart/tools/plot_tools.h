#pragma once
// The chart tools unit: registers its tool classes with the chart's tool
// registry when the program starts (and takes them out when it ends).
// Code that makes tools calls PlotToolsUse, so that the unit is linked and
// started whatever else the program refers to.
namespace chart::tools {

void PlotToolsUse();
void PlotToolsRelease();

}  // namespace chart::tools
