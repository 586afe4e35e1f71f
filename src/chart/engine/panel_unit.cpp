#include "chart/engine/panel_unit.h"

#include "chart/drawing/unit_start.h"
#include "platform/vcl/bitmap.h"
#include "platform/vcl/resources.h"

namespace chart::engine {

TPlotTranslateHook PlotTranslateHook;

namespace {

// The engine's own resources.
const vcl::TResourceModule& EngineResources() {
    static const vcl::TResourceModule module{
        "chart engine",
        {{vcl::TResourceType::rtCursor,
          "PLOT_CURSOR_HAND",
          {{"      XX        ", "   XX X..XXX    ", "  X..XX..X..X   ", "  X..XX..X..X X ",
            "   X..X..X..XX.X", "   X..X..X..X..X", " XX X.......X..X", "X..XX..........X",
            "X...X.........X ", " X............X ", "  X...........X ", "  X..........X  ",
            "   X.........X  ", "    X.......X   ", "     X......X   ", "     X......X   "},
           {{'X', vcl::clBlack}, {'.', vcl::clWhite}},
           8,
           8}}}};
    return module;
}

void StartPanelUnit() {
    const vcl::TResourceModule& module = EngineResources();
    vcl::RegisterResourceModule(module);
    if (const vcl::TResource* hand = module.Find(vcl::TResourceType::rtCursor, "PLOT_CURSOR_HAND"))
        vcl::SetScreenCursor(crPlotHand, &hand->Image);
}

void StopPanelUnit() {
    vcl::SetScreenCursor(crPlotHand, nullptr);
    vcl::UnregisterResourceModule(EngineResources());
}

constinit TUnitStart panel_unit(StartPanelUnit, StopPanelUnit);
[[maybe_unused]] const bool panel_unit_started = StartAtLoad(panel_unit);

}  // namespace

bool PlotLoadBitmapFromResource(vcl::TBitmap& Bitmap, const std::string& Name1,
                                const std::string& Name2) {
    for (const vcl::TResourceModule* module : vcl::ResourceModules()) {
        const vcl::TResource* found = module->Find(vcl::TResourceType::rtBitmap, Name1);
        if (!found) found = module->Find(vcl::TResourceType::rtBitmap, Name2);
        if (found) {
            vcl::LoadBitmapResource(Bitmap, found->Image);
            return true;
        }
    }
    return false;
}

void PlotTranslateControl(vcl::TControl* Control) {
    if (PlotTranslateHook) PlotTranslateHook(Control);
}

void PanelUnitUse() { panel_unit.Use(); }
void PanelUnitRelease() { panel_unit.Release(); }

}  // namespace chart::engine
