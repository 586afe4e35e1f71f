#include "chart/engine/palettes.h"

#include <algorithm>
#include <array>
#include <memory>

#include "chart/drawing/plot_pro_co.h"
#include "chart/drawing/unit_start.h"
#include "chart/engine/axis_panel.h"
#include "chart/engine/plot_tool.h"

namespace chart::engine {

namespace {

constexpr std::array<TColor, 20> kDefault = {0x0000FF, 0x008000, 0x00FFFF, 0xFF0000, 0xFFFFFF,
                                             0x808080, 0xFF00FF, 0x808000, 0x800000, 0x000080,
                                             0x00FF00, 0x008080, 0x800080, 0xC0C0C0, 0xFFFF00,
                                             0x000000, 0xC0DCC0, 0xF0CAA6, 0xF0FBFF, 0xA4A0A0};

constexpr std::array<TColor, 22> kPalette1 = {
    0xFF9999, 0x663399, 0xCCFFFF, 0xFFFFCC, 0x660066, 0x8080FF, 0xCC6600, 0xFFCCCC,
    0x800000, 0xFF00FF, 0x00FFFF, 0xFFFF00, 0x800080, 0x000080, 0x808000, 0xFF0000,
    0xFFCC00, 0xFFFFCC, 0xCCFFCC, 0x00FFFF, 0xFFCC99, 0xCC99FF};
constexpr std::array<TColor, 11> kPalette2 = {0xA1A55D, 0x3153C4, 0x0996E7, 0x4AE8F6,
                                              0xA7A2B1, 0x84A7C9, 0x51798C, 0xB7CDD8,
                                              0x536508, 0x7BD8F7, 0x846401};
constexpr std::array<TColor, 14> kPalette3 = {0xFFFFCC, 0xCCFFFF, 0xFFCCCC, 0xCCCC00, 0xCCCCCC,
                                              0x999900, 0x999999, 0xCCCCFF, 0x66CCFF, 0xFFCCCC,
                                              0x9999FF, 0x99FFFF, 0xFFCC99, 0xCCFFCC};
constexpr std::array<TColor, 8> kPalette4 = {0xFF0000, 0x0000FF, 0x00FF00, 0x00CCFF,
                                             0x404040, 0x00FFFF, 0xC000FF, 0xFFFFFF};
constexpr std::array<TColor, 12> kPalette5 = {0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF,
                                              0xFF00FF, 0x00FFFF, 0x800000, 0x008000,
                                              0x808000, 0x000080, 0x800080, 0x008080};
constexpr std::array<TColor, 9> kPalette6 = {0x00A5FF, 0xCE0000, 0x00CE00, 0x40FFFF, 0xFFFF40,
                                             0xFF40FF, 0x0040FF, 0xA58080, 0x408080};
constexpr std::array<TColor, 14> kPalette7 = {0x6699FF, 0x6666FF, 0xFFCC99, 0x669966, 0x99CCCC,
                                              0xCC6699, 0x6666CC, 0x99CCFF, 0xFF6699, 0xCCCCCC,
                                              0xCCFF66, 0xFF9966, 0x996699, 0xFFCCCC};
constexpr std::array<TColor, 25> kPalette8 = {
    0x000099, 0x0000C3, 0x0000EE, 0x001AFF, 0x0046FF, 0x0073FF, 0x009FFF, 0x00CBFF, 0x00F7FF,
    0x08F4E3, 0x11E7C3, 0x1BDAA3, 0x25CD83, 0x2EC063, 0x38B342, 0x42A622, 0x4B9A02, 0x6A870C,
    0x8A751A, 0xAA6328, 0xCB5036, 0xEB3E44, 0xFF2A61, 0xFF1596, 0xFF00CC};
constexpr std::array<TColor, 13> kPalette9 = {0xFE9B82, 0x24D1FC, 0x0DBC7C, 0x2F85FD, 0xFCFEFD,
                                              0x214EE2, 0xD63829, 0x0094B7, 0x00865A, 0x0046D2,
                                              0xFAE5D3, 0xD8D8D8, 0x7B715F};
constexpr std::array<TColor, 16> kPalette10 = {
    0xFFFFFF, 0x05F3FC, 0x0264FF, 0x0608DD, 0x8408F2, 0xA50046, 0xD40000, 0xEAAB02,
    0x14B71F, 0x116400, 0x052C56, 0x3A7190, 0xC0C0C0, 0x808080, 0x404040, 0x000000};
constexpr std::array<TColor, 15> kPalette11 = {0xD21F00, 0x0102E0, 0x02661E, 0x7ECDE8, 0xACABAF,
                                               0xD9D0A4, 0x3C3B3D, 0x31DD95, 0x01009E, 0x74F7DC,
                                               0xFDFD45, 0x748ED1, 0x91D8A0, 0x657AD5, 0xD99596};
constexpr std::array<TColor, 15> kPalette12 = {0xF0F0F0, 0xE0E0E0, 0xD0D0D0, 0xC0C0C0, 0xB0B0B0,
                                               0xA0A0A0, 0x909090, 0x808080, 0x707070, 0x606060,
                                               0x505050, 0x404040, 0x303030, 0x202020, 0x101010};
constexpr std::array<TColor, 12> kPalette13 = {0xA36644, 0x359CF3, 0x144CF1, 0xA8974E,
                                               0x6B402B, 0x637B1D, 0x0E08B3, 0x5DC0F2,
                                               0x9EB75D, 0x707070, 0x8DEAF3, 0xB4B4B4};
constexpr std::array<TColor, 8> kPalette14 = {0x8DEAF3, 0x5DC0F2, 0x359CF3, 0x1C81F5,
                                              0x156BF3, 0x144CF1, 0x0A18E6, 0x0E08B3};
constexpr std::array<TColor, 8> kPalette15 = {0x6B402B, 0x8C543B, 0xA36644, 0xA8974E,
                                              0x9EB75D, 0x8AA041, 0x7D922B, 0x637B1D};

constexpr std::array<std::span<const TColor>, kBuiltInPaletteCount> kPalettes = {
    kPalette1, kPalette2,  kPalette3,  kPalette4,  kPalette5,  kPalette6,  kPalette7, kPalette8,
    kPalette9, kPalette10, kPalette11, kPalette12, kPalette13, kPalette14, kPalette15};

// The first Count colours with High as the last index asked for.
std::vector<TColor> Prefix(std::span<const TColor> colors, int high) {
    const long long wanted = static_cast<long long>(high) + 1;
    const std::size_t n = static_cast<std::size_t>(
        std::clamp<long long>(wanted, 0, static_cast<long long>(colors.size())));
    return {colors.begin(), colors.begin() + static_cast<std::ptrdiff_t>(n)};
}

// ---- Chart unit

std::unique_ptr<TColorPalettes>& PaletteNames() {
    static std::unique_ptr<TColorPalettes> names;
    return names;
}

void StartChartUnit() {
    PlotProCoUse();
    PlotToolTypesList();
    PlotSeriesTypesList();
    auto names = std::make_unique<TColorPalettes>();
    for (const std::string* name :
         {&PlotMsg_PaletteOrvandel, &PlotMsg_PaletteExcel, &PlotMsg_PaletteVictorian,
          &PlotMsg_PalettePastels, &PlotMsg_PaletteSolid, &PlotMsg_PaletteClassic,
          &PlotMsg_PaletteWeb, &PlotMsg_PaletteModern, &PlotMsg_PaletteRainbow,
          &PlotMsg_PaletteWinXP, &PlotMsg_PaletteMacOS, &PlotMsg_PaletteWinVista,
          &PlotMsg_PaletteGrayscale, &PlotMsg_PaletteOpera, &PlotMsg_PaletteWarm,
          &PlotMsg_PaletteCool})
        names->Add(*name);
    PaletteNames() = std::move(names);
}

void StopChartUnit() {
    PaletteNames().reset();
    FreePlotRegistries();
    PlotProCoRelease();
}

constinit TUnitStart chart_unit(StartChartUnit, StopChartUnit);
[[maybe_unused]] const bool chart_unit_started = StartAtLoad(chart_unit);

std::vector<TColor>& GlobalPalette() {
    static std::vector<TColor> palette(kDefault.begin(), kDefault.end());
    return palette;
}

}  // namespace

std::span<const TColor> DefaultColorTable() { return kDefault; }

std::span<const TColor> BuiltInPalette(int Index) {
    if (Index < 1 || Index > kBuiltInPaletteCount) return {};
    return kPalettes[static_cast<std::size_t>(Index - 1)];
}

TColorPalettes* ColorPalettes() { return PaletteNames().get(); }
void ChartUnitUse() { chart_unit.Use(); }
void ChartUnitRelease() { chart_unit.Release(); }

void SetChartPalette(TCustomAxisPanel& Chart, std::span<const TColor> Colors, int High) {
    Chart.SetColorPalette(Prefix(Colors, High));
    Chart.FillSeriesColors();
}

void ApplyChartPalette(TCustomAxisPanel& Chart, int Index) {
    const std::span<const TColor> colors = BuiltInPalette(Index);
    SetChartPalette(Chart, colors, static_cast<int>(colors.size()) - 1);
}

void SetDefaultColorPalette(std::span<const TColor> Colors, int High) {
    if (High == 0)
        GlobalPalette().assign(kDefault.begin(), kDefault.end());
    else
        GlobalPalette() = Prefix(Colors, High);
}

const std::vector<TColor>& ColorPalette() { return GlobalPalette(); }

TColor PaletteColor(int Index) {
    const std::vector<TColor>& palette = GlobalPalette();
    const std::span<const TColor> colors =
        palette.empty() ? std::span<const TColor>(kDefault) : palette;
    const long long n = static_cast<long long>(colors.size());
    return colors[static_cast<std::size_t>(((Index % n) + n) % n)];
}

}  // namespace chart::engine
