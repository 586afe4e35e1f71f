#pragma once
// The 13 x 13 pixel check box (or radio button) the legend draws in front
// of each item that can be switched on and off.
#include "chart/drawing/plot_canvas.h"

namespace chart::engine {

// A sunken white box with a check mark when Checked, at (X, Y); a round
// one with a dot when IsCheckBox is False.
void PlotDrawCheckBox(int X, int Y, chart::TPlotCanvas& Canvas, bool Checked, bool IsCheckBox);

}  // namespace chart::engine
