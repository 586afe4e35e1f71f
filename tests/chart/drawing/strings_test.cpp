// The chart's string tables: filled before the program runs, read each
// time a text is needed (so a replaced text shows at once), emptied when
// their last user stops them; and the drawing layer's start-up settings.
#include <gtest/gtest.h>

#include "chart/drawing/drawing_setup.h"
#include "chart/drawing/plot_const.h"
#include "chart/drawing/plot_pro_co.h"
#include "platform/rtl/format.h"

namespace {

using namespace chart;

TEST(chart_strings, tables_are_filled_at_start_up_replaceable_and_emptied_at_shutdown) {
    EXPECT_EQ(PlotMsg_DefaultFontName, "Arial");
    EXPECT_EQ(PlotMsg_DefaultFontSize, "8");
    EXPECT_EQ(PlotMsg_AxisMinMax, "Axis Minimum Value must be <= Maximum");
    EXPECT_EQ(PlotMsg_CursorTool, "Cursor");
    EXPECT_EQ(PlotMsg_AntiAliasToolDesc, "Improves display of diagonal and curved lines, removing zig-zag.");
    EXPECT_EQ(PlotMsg_FilterHLS, "Hue,Lum,Sat");
    EXPECT_EQ(PlotMsg_PaletteWinXP, "Win. XP");
    // Readers fill in the placeholders; the two-line form breaks at its CR.
    EXPECT_EQ(rtl::Format(PlotMsg_3DPercent, {0, 100}), "3D effect percent must be between 0 and 100");
    EXPECT_EQ(rtl::Format(PlotMsg_SeriesDelete, {7, 4}), "Series Delete: ValueIndex 7 out of bounds (0 to 4).");
    EXPECT_EQ(rtl::Format(PlotMsg_OfTotalTwoLines, {"12", "40"}), "12\rof 40");
    EXPECT_EQ(rtl::Format(PlotMsg_OfTotal, {"12", "40"}), "12 of 40");

    // A translation replaces a text; every later reader sees it.
    PlotMsg_AxisMinMax = "Minimum muss <= Maximum sein";
    EXPECT_EQ(PlotMsg_AxisMinMax, "Minimum muss <= Maximum sein");

    // One more user and its release leave the tables as they are; stopping
    // them empties every entry, starting them again fills them anew.
    PlotConstUse();
    PlotConstRelease();
    EXPECT_EQ(PlotMsg_AxisMinMax, "Minimum muss <= Maximum sein");
    FinalizePlotConst();
    FinalizePlotProCo();
    EXPECT_TRUE(PlotMsg_AxisMinMax.empty());
    EXPECT_TRUE(PlotMsg_DefaultFontName.empty());
    EXPECT_TRUE(PlotMsg_ColorBandTool.empty());
    InitializePlotConst();
    InitializePlotProCo();
    EXPECT_EQ(PlotMsg_AxisMinMax, "Axis Minimum Value must be <= Maximum");
    EXPECT_EQ(PlotMsg_ColorBandToolDesc, "Displays a coloured rectangle (band) at the specified axis and position.");
}

TEST(chart_strings, the_drawing_layer_takes_its_settings_and_default_font_at_start_up) {
    EXPECT_TRUE(PlotExtendedPens);
    EXPECT_TRUE(PlotAlphaBlendAvailable);
    EXPECT_TRUE(PlotHasDCBrushColor);
    EXPECT_TRUE(PlotHasDCPenColor);
    EXPECT_FALSE(PlotZeroWidthPens);
    EXPECT_EQ(PlotGradientStep, 1);
    EXPECT_EQ(PlotDefaultFontName, "Arial");
    EXPECT_EQ(PlotDefaultFontSize, 8);
    // Only a Japanese locale swaps the default font for the GUI font.
    const char* lang = std::getenv("LANG");
    const std::string saved = lang ? lang : "";
    unsetenv("LC_ALL");
    unsetenv("LC_MESSAGES");
    setenv("LANG", "ja_JP.UTF-8", 1);
    EXPECT_TRUE(UserLanguageIsJapanese());
    setenv("LANG", "jam", 1);
    EXPECT_FALSE(UserLanguageIsJapanese());
    setenv("LANG", "ru_RU.CP1251", 1);
    EXPECT_FALSE(UserLanguageIsJapanese());
    if (lang) setenv("LANG", saved.c_str(), 1);
    else unsetenv("LANG");
}

}  // namespace
