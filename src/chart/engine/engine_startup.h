#pragma once
// The chart engine's start-up, once as the program loads: the pixel limit
// of axis calculations (the one of the platform family this system runs
// as), the engine's classes that a form stream may name, and the box that
// tells the user of properties a stored chart holds that are obsolete.
#include <string>

namespace chart::engine {

// The largest pixel coordinate axis calculations hand out.
int PlotPixelLimit();
// Whether a form stream may name the class (the axis and its title, the
// depth axis, series marks), while the engine is started.
bool IsPlotStreamableClass(const std::string& Name);
// Tells of an obsolete stored property: a task-modal message box with the
// stop icon and no caption.
void PlotEngineErrorBox(const std::string& Message);

// Counted like the other units: the first use starts the engine, the last
// release unregisters its classes.
void PlotEngineUse();
void PlotEngineRelease();

}  // namespace chart::engine
