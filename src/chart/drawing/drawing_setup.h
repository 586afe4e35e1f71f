#pragma once
// The drawing layer's global settings, set once when the layer starts
// (before main) and read everywhere; and its default chart font.
#include <string>

namespace chart {

// Pens are realised as extended (geometric) pens on the device context.
extern bool PlotExtendedPens;
// AlphaBlend can mix transparent drawing back.
extern bool PlotAlphaBlendAvailable;
// SetDCBrushColor and SetDCPenColor are there to use.
extern bool PlotHasDCBrushColor;
extern bool PlotHasDCPenColor;
// Non-solid one-pixel pens become width 0; nothing sets it.
extern bool PlotZeroWidthPens;
// Band width of the centre gradient.
extern int PlotGradientStep;
// The chart font's defaults: from the string table ("Arial", "8"), for a
// Japanese user language the platform's default GUI font instead.
extern std::string PlotDefaultFontName;
extern int PlotDefaultFontSize;

// Sets the settings up (and starts the string tables it reads) / clears
// the default font name (and releases the tables). The layer starts as the
// program loads; counted like the tables, it stops when its last user
// releases it.
void DrawingLayerUse();
void DrawingLayerRelease();

// Whether the user's locale (LC_ALL, LC_MESSAGES, LANG) is Japanese.
bool UserLanguageIsJapanese();

}  // namespace chart
