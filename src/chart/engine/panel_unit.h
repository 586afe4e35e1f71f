#pragma once
// What the panel unit sets up for the whole program: the hand cursor of
// panning in the application's cursor table, bitmaps from the program's
// resources, and the hook that translates the chart's windows.
#include <functional>
#include <string>

#include "platform/vcl/controls.h"
#include "platform/vcl/cursors.h"

namespace vcl {
class TBitmap;
}

namespace chart::engine {

// Number 2020 of the application's cursor table: an open hand, put there
// from the resource "PLOT_CURSOR_HAND" while the panel unit is started (it
// starts as the program loads) and taken out when it stops.
constexpr vcl::TCursor crPlotHand = vcl::CursorNumber(2020);

// Walks the resource modules in order and loads into Bitmap the first
// bitmap resource named Name1 in a module, else named Name2 in it. Answers
// false, leaving Bitmap alone, when no module has either.
bool PlotLoadBitmapFromResource(vcl::TBitmap& Bitmap, const std::string& Name1,
                                const std::string& Name2);

// Translates a window's texts; nothing is set at start.
using TPlotTranslateHook = std::function<void(vcl::TControl* Control)>;
extern TPlotTranslateHook PlotTranslateHook;
// Calls the hook when it is set.
void PlotTranslateControl(vcl::TControl* Control);

// Counted start-up and shut-down of the panel unit.
void PanelUnitUse();
void PanelUnitRelease();

}  // namespace chart::engine
