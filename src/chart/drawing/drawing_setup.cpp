#include "chart/drawing/drawing_setup.h"

#include <cstdlib>
#include <cstring>

#include "chart/drawing/plot_const.h"
#include "chart/drawing/plot_pro_co.h"
#include "chart/drawing/unit_start.h"
#include "platform/gdi/objects.h"
#include "platform/rtl/numbers.h"
#include "platform/vcl/graphics.h"

namespace chart {

bool PlotExtendedPens = false;
bool PlotAlphaBlendAvailable = false;
bool PlotHasDCBrushColor = false;
bool PlotHasDCPenColor = false;
bool PlotZeroWidthPens = false;
int PlotGradientStep = 1;
[[gnu::init_priority(kPlotTextsPriority)]] std::string PlotDefaultFontName;
int PlotDefaultFontSize = 0;

namespace {

void Start() {
    PlotConstUse();
    PlotProCoUse();
    // The device-context layer is the extended one everywhere here, with
    // AlphaBlend and the DC pen and brush colours.
    PlotExtendedPens = true;
    PlotAlphaBlendAvailable = PlotExtendedPens;
    PlotHasDCBrushColor = true;
    PlotHasDCPenColor = true;
    PlotZeroWidthPens = false;
    PlotGradientStep = 1;
    PlotDefaultFontSize = rtl::StrToIntDef(PlotMsg_DefaultFontSize, 8);
    PlotDefaultFontName = PlotMsg_DefaultFontName;
    if (UserLanguageIsJapanese()) {
        const gdi::LOGFONT& gui = gdi::GetStockFont(gdi::DEFAULT_GUI_FONT)->Log();
        if (PlotDefaultFontSize == 8)
            PlotDefaultFontSize = -vcl::MulDiv(gui.lfHeight, 72, gdi::kPixelsPerInch);
        if (PlotDefaultFontName == "Arial") PlotDefaultFontName = gui.lfFaceName;
    }
}

void Stop() {
    PlotDefaultFontName.clear();
    PlotProCoRelease();
    PlotConstRelease();
}

constinit TUnitStart unit_start(Start, Stop);
[[maybe_unused]] const bool started = StartAtLoad(unit_start);

}  // namespace

void DrawingLayerUse() { unit_start.Use(); }
void DrawingLayerRelease() { unit_start.Release(); }

bool UserLanguageIsJapanese() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* v = std::getenv(name);
        if (v && *v)
            return std::strncmp(v, "ja", 2) == 0 &&
                   (v[2] == '\0' || v[2] == '_' || v[2] == '.' || v[2] == '@');
    }
    return false;
}

}  // namespace chart
