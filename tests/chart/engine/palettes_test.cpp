// Colour palettes (the chart's and the panel unit's, with their different
// rules for the last index), the palette names, the hand cursor and bitmaps
// from resources.
#include "chart/engine/palettes.h"

#include <gtest/gtest.h>

#include <QCursor>
#include <QWidget>

#include "chart/engine/panel_unit.h"
#include "platform/vcl/bitmap.h"
#include "platform/vcl/resources.h"
#include "support/chart_panels.h"

namespace {

using namespace chart::engine;
using vcl::TColor;

TEST(palettes, built_in_palettes_by_index_and_the_default_for_any_other) {
    const std::vector<std::size_t> counts = {22, 11, 14, 8,  12, 9, 14, 25,
                                             13, 16, 15, 15, 12, 8, 8};
    for (int i = 1; i <= 15; ++i)
        EXPECT_EQ(BuiltInPalette(i).size(), counts[static_cast<std::size_t>(i - 1)]) << i;

    test_support::BackgroundPanel chart;
    ApplyChartPalette(chart, 12);
    ASSERT_EQ(chart.ColorPalette().size(), 15u);
    for (int i = 0; i < 15; ++i)
        EXPECT_EQ(chart.ColorPalette()[static_cast<std::size_t>(i)], 0xF0F0F0 - i * 0x101010);
    EXPECT_EQ(chart.GetDefaultColor(15), 0xF0F0F0);
    EXPECT_EQ(chart.GetDefaultColor(-1), 0x101010);

    // 0, beyond 15 and a damaged negative index give the default table.
    for (int index : {0, 16, -3, INT_MIN}) {
        ApplyChartPalette(chart, 12);
        ApplyChartPalette(chart, index);
        EXPECT_TRUE(chart.ColorPalette().empty()) << index;
        EXPECT_EQ(chart.GetDefaultColor(0), vcl::clRed);
        EXPECT_EQ(chart.GetDefaultColor(19), 0xA4A0A0);
        EXPECT_EQ(chart.GetDefaultColor(20), vcl::clRed);
    }

    // The chart's rule: High + 1 colours, none for High -1; no more than given.
    const TColor colors[] = {1, 2, 3};
    SetChartPalette(chart, colors, 1);
    EXPECT_EQ(chart.ColorPalette(), (std::vector<TColor>{1, 2}));
    SetChartPalette(chart, colors, 99);
    EXPECT_EQ(chart.ColorPalette().size(), 3u);
    SetChartPalette(chart, colors, -1);
    EXPECT_TRUE(chart.ColorPalette().empty());
}

TEST(palettes, the_global_palette_takes_high_zero_as_the_default_table) {
    const TColor colors[] = {0x111111, 0x222222, 0x333333};
    SetDefaultColorPalette(colors, 2);
    EXPECT_EQ(ColorPalette(), (std::vector<TColor>{0x111111, 0x222222, 0x333333}));
    EXPECT_EQ(PaletteColor(4), 0x222222);
    EXPECT_EQ(PaletteColor(-1), 0x333333);
    EXPECT_EQ(PaletteColor(INT_MIN),
              PaletteColor(static_cast<int>(((long long)INT_MIN % 3 + 3) % 3)));
    // Unlike the chart's rule, High 0 is the default table, not one colour.
    SetDefaultColorPalette(colors, 0);
    EXPECT_EQ(ColorPalette().size(), 20u);
    EXPECT_EQ(PaletteColor(3), vcl::clBlue);
    // An empty palette answers from the default table.
    SetDefaultColorPalette({}, -1);
    EXPECT_TRUE(ColorPalette().empty());
    EXPECT_EQ(PaletteColor(1), vcl::clGreen);
    SetDefaultColorPalette({}, 0);

    // The panel's palette colour is the global one.
    test_support::BackgroundPanel panel;
    EXPECT_EQ(panel.PaletteColor(21), vcl::clGreen);
}

TEST(palettes, names_of_the_sixteen_palettes_come_from_the_captions) {
    ASSERT_NE(ColorPalettes(), nullptr);
    ASSERT_EQ(ColorPalettes()->Count(), 16);
    EXPECT_EQ(ColorPalettes()->Get(0), "Orvandel");
    EXPECT_EQ(ColorPalettes()->Get(12), "Gray scale");
    EXPECT_EQ(ColorPalettes()->Get(15), "Cool");
    ChartUnitRelease();
    EXPECT_EQ(ColorPalettes(), nullptr);
    ChartUnitUse();
    EXPECT_EQ(ColorPalettes()->Count(), 16);
}

TEST(panel_unit, hand_cursor_lives_in_the_cursor_table_while_the_unit_runs) {
    const vcl::TResourceImage* hand = vcl::ScreenCursor(crPlotHand);
    ASSERT_NE(hand, nullptr);
    EXPECT_EQ(hand->Width(), 16);
    EXPECT_EQ(hand->Height(), 16);
    test_support::BackgroundPanel panel;
    panel.SetCursor(crPlotHand);
    EXPECT_EQ(panel.Cursor(), crPlotHand);
    EXPECT_EQ(panel.Widget()->cursor().shape(), Qt::BitmapCursor);
    EXPECT_EQ(panel.Widget()->cursor().hotSpot(), QPoint(8, 8));
    PanelUnitRelease();
    EXPECT_EQ(vcl::ScreenCursor(crPlotHand), nullptr);
    panel.SetCursor(crPlotHand);
    EXPECT_EQ(panel.Widget()->cursor().shape(), Qt::ArrowCursor);
    PanelUnitUse();
    EXPECT_NE(vcl::ScreenCursor(crPlotHand), nullptr);
}

TEST(panel_unit, bitmaps_from_the_first_module_that_has_either_name) {
    const vcl::TResourceModule first{"first",
                                     {{vcl::TResourceType::rtBitmap,
                                       "second_choice",
                                       {{"rg", "gr"}, {{'r', vcl::clRed}, {'g', vcl::clLime}}}}}};
    const vcl::TResourceModule later{
        "later", {{vcl::TResourceType::rtBitmap, "First_Choice", {{"bbb"}, {{'b', vcl::clBlue}}}}}};
    vcl::RegisterResourceModule(first);
    vcl::RegisterResourceModule(later);
    vcl::TBitmap bitmap(5, 5);
    // The first module holds only the second name: it wins.
    ASSERT_TRUE(PlotLoadBitmapFromResource(bitmap, "FIRST_CHOICE", "SECOND_CHOICE"));
    EXPECT_EQ(bitmap.Width(), 2);
    EXPECT_EQ(bitmap.Handle()->GetPixel(0, 0), 0x0000FFu);
    EXPECT_EQ(bitmap.Handle()->GetPixel(1, 0), 0x00FF00u);
    vcl::UnregisterResourceModule(first);
    ASSERT_TRUE(PlotLoadBitmapFromResource(bitmap, "first_choice", "second_choice"));
    EXPECT_EQ(bitmap.Width(), 3);
    EXPECT_EQ(bitmap.Handle()->GetPixel(2, 0), 0xFF0000u);
    // Neither name anywhere: the bitmap stays as it was. A cursor is not a bitmap.
    EXPECT_FALSE(PlotLoadBitmapFromResource(bitmap, "nothing", "PLOT_CURSOR_HAND"));
    EXPECT_EQ(bitmap.Width(), 3);
    vcl::UnregisterResourceModule(later);

    const vcl::TResourceModule damaged{
        "damaged", {{vcl::TResourceType::rtBitmap, "ragged", {{"ab", "a"}, {}}}}};
    vcl::RegisterResourceModule(damaged);
    EXPECT_THROW(PlotLoadBitmapFromResource(bitmap, "ragged", ""), vcl::EInvalidGraphic);
    vcl::UnregisterResourceModule(damaged);
}

TEST(panel_unit, the_translation_hook_is_called_when_set) {
    test_support::BackgroundPanel panel;
    PlotTranslateControl(&panel);  // nothing set: nothing happens
    vcl::TControl* seen = nullptr;
    PlotTranslateHook = [&](vcl::TControl* c) { seen = c; };
    PlotTranslateControl(&panel);
    EXPECT_EQ(seen, &panel);
    PlotTranslateHook = nullptr;
}

}  // namespace
