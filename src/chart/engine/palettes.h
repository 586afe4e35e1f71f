#pragma once
// Colour palettes: the default table that series take their automatic
// colours from, the 15 built-in palettes a chart can install by index, the
// list of their names, and the panel unit's global palette.
#include <span>
#include <vector>

#include "platform/vcl/graphics.h"
#include "platform/vcl/string_list.h"

namespace chart::engine {

using vcl::TColor;
class TCustomAxisPanel;

// The default table: 20 colours, red first.
std::span<const TColor> DefaultColorTable();
// Built-in palette Index (1 to 15); any other index gives none.
std::span<const TColor> BuiltInPalette(int Index);
constexpr int kBuiltInPaletteCount = 15;

// The names of the 16 palettes (0 the default table, 1 to 15 the built-in
// ones), from the chart's captions.
class TColorPalettes : public vcl::TStringList {};

// The global list; filled while the chart unit is started (it starts as the
// program loads), none otherwise.
TColorPalettes* ColorPalettes();
// Counted start-up and shut-down of the chart unit's globals.
void ChartUnitUse();
void ChartUnitRelease();

// Installs Colors[0..High] as the chart's palette; High + 1 = 0 (or less)
// empties it, so the chart uses the default table again. A High beyond the
// colours given takes the colours there are.
void SetChartPalette(TCustomAxisPanel& Chart, std::span<const TColor> Colors, int High);
// Installs built-in palette Index (1 to 15); 0, any index above 15 and any
// negative index (a damaged stored setting) empty the chart's palette.
void ApplyChartPalette(TCustomAxisPanel& Chart, int Index);

// ---- The panel unit's global palette

// High = 0 installs the default table; otherwise the palette becomes a copy
// of Colors[0..High] (a High beyond the colours given takes the colours
// there are).
void SetDefaultColorPalette(std::span<const TColor> Colors, int High);
const std::vector<TColor>& ColorPalette();
// Entry Index modulo the palette's length, counted forward from the start
// for negative indexes too. An empty palette answers from the default table.
TColor PaletteColor(int Index);

}  // namespace chart::engine
