#include "chart/engine/engine_startup.h"

#include <algorithm>
#include <vector>

#include "chart/drawing/unit_start.h"
#include "chart/engine/pixel_math.h"
#include "platform/rtl/cp1251.h"
#include "platform/vcl/forms.h"

namespace chart::engine {

namespace {

int pixel_limit = 32767;

std::vector<std::string>& StreamableClasses() {
    static std::vector<std::string> classes;
    return classes;
}

void Start() {
    // The NT family's limit: this system always runs as one.
    pixel_limit = kPixelLimit;
    StreamableClasses() = {"TChartAxisTitle", "TChartAxis", "TChartDepthAxis", "TSeriesMarks"};
}

void Stop() { StreamableClasses().clear(); }

chart::TUnitStart& EngineUnit() {
    static chart::TUnitStart unit(&Start, &Stop);
    return unit;
}

const bool started = chart::StartAtLoad(EngineUnit());

// A task-modal box (the platform's flag value).
constexpr unsigned kTaskModal = 0x2000;

}  // namespace

int PlotPixelLimit() {
    (void)started;
    return pixel_limit;
}

bool IsPlotStreamableClass(const std::string& Name) {
    const auto& classes = StreamableClasses();
    return std::any_of(classes.begin(), classes.end(), [&](const std::string& c) { return rtl::AnsiSameText(c, Name); });
}

void PlotEngineErrorBox(const std::string& Message) {
    vcl::EnsureApplication()->MessageBox(Message, "", kTaskModal | vcl::MB_ICONERROR);
}

void PlotEngineUse() { EngineUnit().Use(); }
void PlotEngineRelease() { EngineUnit().Release(); }

}  // namespace chart::engine
