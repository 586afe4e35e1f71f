// What a chart shows behind its contents, on real pixels: the fill, the
// background picture in its four modes, the zoom rectangle in not-XOR
// mode; and the zoom settings.
#include <gtest/gtest.h>

#include "chart/drawing/not_available.h"
#include "chart/engine/plot_panel_extended.h"
#include "support/chart_panels.h"

namespace {

using chart::engine::TBackImage;
using chart::engine::TPlotZoom;
using test_support::BackgroundPanel;
using test_support::PixelAt;

constexpr gdi::COLORREF kFill = 0xC0C0C0;
constexpr gdi::COLORREF kRed = 0x0000FF;
constexpr gdi::COLORREF kBlue = 0xFF0000;

// A panel of 100 x 80 without bevels, filled grey.
struct Panel : BackgroundPanel {
    Panel() { MakePlain(100, 80, static_cast<vcl::TColor>(kFill)); }
};

// A red picture of w x h whose top-left pixel is blue.
std::unique_ptr<vcl::TBitmap> Picture(int w, int h) {
    auto b = std::make_unique<vcl::TBitmap>(w, h);
    b->Canvas().Brush.SetColor(vcl::clRed);
    b->Canvas().FillRect({0, 0, w, h});
    if (w > 0 && h > 0) b->Handle()->SetPixel(0, 0, kBlue);
    return b;
}

TEST(panel_background, back_image_is_stretched_tiled_centred_or_placed) {
    Panel panel;
    auto image = panel.Render();
    EXPECT_EQ(PixelAt(*image, 50, 40), kFill);

    const auto picture = Picture(10, 8);
    panel.BackImage().SetGraphic(picture.get());
    // Stretched over the whole panel: each picture pixel is 10 x 10.
    image = panel.Render();
    EXPECT_EQ(PixelAt(*image, 5, 5), kBlue);
    EXPECT_EQ(PixelAt(*image, 15, 15), kRed);
    EXPECT_EQ(PixelAt(*image, 99, 79), kRed);

    panel.SetBackImageMode(chart::engine::pbmTile);
    image = panel.Render();
    for (auto [x, y] : {std::pair{0, 0}, {10, 0}, {0, 8}, {90, 72}})
        EXPECT_EQ(PixelAt(*image, x, y), kBlue);
    EXPECT_EQ(PixelAt(*image, 11, 9), kRed);
    EXPECT_EQ(PixelAt(*image, 99, 79), kRed);

    panel.SetBackImageMode(chart::engine::pbmCenter);
    image = panel.Render();
    EXPECT_EQ(PixelAt(*image, 45, 36), kBlue);
    EXPECT_EQ(PixelAt(*image, 54, 43), kRed);
    EXPECT_EQ(PixelAt(*image, 44, 36), kFill);
    EXPECT_EQ(PixelAt(*image, 55, 36), kFill);

    panel.SetBackImageMode(chart::engine::pbmCustom);
    panel.BackImage().SetLeft(7);
    panel.BackImage().SetTop(9);
    image = panel.Render();
    EXPECT_EQ(PixelAt(*image, 7, 9), kBlue);
    EXPECT_EQ(PixelAt(*image, 6, 9), kFill);
    EXPECT_EQ(PixelAt(*image, 16, 16), kRed);

    // Inside the chart rectangle: not the background step's to draw.
    panel.SetBackImageInside(true);
    EXPECT_TRUE(panel.BackImageInside());
    image = panel.Render();
    EXPECT_EQ(PixelAt(*image, 7, 9), kFill);
    panel.SetBackImageInside(false);

    // Transparent: the bottom-left pixel's colour (red) is left out.
    panel.SetBackImageMode(chart::engine::pbmStretch);
    panel.SetBackImageTransp(true);
    EXPECT_TRUE(panel.BackImageTransp());
    image = panel.Render();
    EXPECT_EQ(PixelAt(*image, 5, 5), kBlue);
    EXPECT_EQ(PixelAt(*image, 50, 40), kFill);

    // A picture without width draws nothing, tiled or not.
    const auto empty = Picture(0, 8);
    panel.BackImage().SetGraphic(empty.get());
    panel.SetBackImageMode(chart::engine::pbmTile);
    EXPECT_FALSE(panel.HasBackImage() && panel.BackImage().Graphic()->Width() > 0);
    image = panel.Render();
    EXPECT_EQ(PixelAt(*image, 0, 0), kFill);

    // Without a picture the derived settings read False and ignore writes.
    panel.SetBackImage(nullptr);
    EXPECT_FALSE(panel.BackImageInside());
    EXPECT_FALSE(panel.BackImageTransp());
    panel.SetBackImageTransp(true);
    EXPECT_FALSE(panel.BackImageTransp());
    EXPECT_EQ(panel.BackImageIfAny(), nullptr);
}

TEST(panel_background, a_one_pixel_tile_on_a_huge_rectangle_draws_only_what_is_seen) {
    Panel panel;
    const auto dot = Picture(1, 1);
    TBackImage image;
    image.SetGraphic(dot.get());
    image.SetMode(chart::engine::pbmTile);
    panel.Extra = [&](BackgroundPanel& p, const vcl::TRect&) {
        image.Draw(p, {-2000000000, -2000000000, 2000000000, 2000000000}, 0);
    };
    auto bitmap = panel.Render();
    EXPECT_EQ(PixelAt(*bitmap, 50, 40), kBlue);
}

TEST(panel_background, fill_is_skipped_for_no_colour_and_rounded_by_border_round) {
    Panel panel;
    panel.SetColor(vcl::clNone);
    auto image = panel.PlotCreateBitmap(0x00FF00, {0, 0, 100, 80}, vcl::TPixelFormat::pfDevice);
    EXPECT_EQ(PixelAt(*image, 50, 40), 0x00FF00u);
    panel.SetColor(static_cast<vcl::TColor>(kFill));
    panel.SetBorderRound(20);
    image = panel.PlotCreateBitmap(0x00FF00, {0, 0, 100, 80}, vcl::TPixelFormat::pfDevice);
    EXPECT_EQ(PixelAt(*image, 0, 0), 0x00FF00u);
    EXPECT_EQ(PixelAt(*image, 50, 40), kFill);
    EXPECT_EQ(PixelAt(*image, 50, 1), kFill);
}

TEST(panel_background, effects_of_later_drawing_steps_raise_not_available_yet) {
    Panel panel;
    panel.Shadow().SetSize(3);
    EXPECT_THROW(panel.Render(), chart::ENotAvailableYet);
    panel.Shadow().SetVisible(false);
    EXPECT_NO_THROW(panel.Render());
    panel.Gradient().SetVisible(true);
    EXPECT_THROW(panel.Render(), chart::ENotAvailableYet);
    panel.SetGradient(nullptr);
    const auto picture = Picture(4, 4);
    TBackImage image;
    image.SetGraphic(picture.get());
    image.SetMode(chart::engine::pbmCenter);
    panel.Extra = [&](BackgroundPanel& p, const vcl::TRect& r) { image.Draw(p, r, 5); };
    EXPECT_THROW(panel.Render(), chart::ENotAvailableYet);
}

TEST(panel_background, zoom_rectangle_in_not_xor_shows_and_goes_again) {
    Panel panel;
    panel.SetColor(vcl::clWhite);
    panel.Zoom().Pen().SetColor(vcl::clGray);
    panel.Zoom().X0 = 10;
    panel.Zoom().Y0 = 10;
    panel.Zoom().X1 = 60;
    panel.Zoom().Y1 = 50;
    int times = 1;
    panel.Extra = [&](BackgroundPanel& p, const vcl::TRect&) {
        for (int i = 0; i < times; ++i) p.DrawZoomRectangle();
    };
    auto image = panel.Render();
    EXPECT_EQ(PixelAt(*image, 10, 30), 0x808080u);
    EXPECT_EQ(PixelAt(*image, 59, 30), 0x808080u);
    EXPECT_EQ(PixelAt(*image, 30, 30), 0xFFFFFFu);  // the brush is clear
    times = 2;
    image = panel.Render();
    EXPECT_EQ(PixelAt(*image, 10, 30), 0xFFFFFFu);
    EXPECT_EQ(PixelAt(*image, 30, 10), 0xFFFFFFu);

    // A hatched brush of the back colour would not show: it is drawn black.
    times = 1;
    panel.Zoom().Brush().SetStyle(vcl::TBrushStyle::bsDiagCross);
    image = panel.Render();
    int black = 0;
    for (int y = 12; y < 48; ++y)
        for (int x = 12; x < 58; ++x) black += PixelAt(*image, x, y) == 0u;
    EXPECT_GT(black, 100);
    panel.Zoom().SetBrush(nullptr);

    // On grey, a white pen is drawn in the back colour: white where it xors.
    panel.SetColor(static_cast<vcl::TColor>(kFill));
    panel.Zoom().Pen().SetColor(vcl::clWhite);
    times = 1;
    image = panel.Render();
    EXPECT_EQ(PixelAt(*image, 10, 30), 0xFFFFFFu);
    EXPECT_EQ(PixelAt(*image, 30, 30), kFill);
}

TEST(panel_background, zoom_settings_make_pen_and_brush_on_first_use_and_assign_their_part) {
    TPlotZoom zoom;
    EXPECT_EQ(zoom.PenIfAny(), nullptr);
    EXPECT_EQ(zoom.Pen().Color(), vcl::clWhite);
    EXPECT_FALSE(zoom.Pen().IsColorStored());
    EXPECT_EQ(zoom.Brush().Style(), vcl::TBrushStyle::bsClear);
    EXPECT_EQ(zoom.Brush().Color(), vcl::clWhite);
    zoom.Pen().SetColor(vcl::clRed);
    zoom.SetPen(nullptr);
    EXPECT_EQ(zoom.PenIfAny(), nullptr);
    EXPECT_EQ(zoom.Pen().Color(), vcl::clWhite);

    TPlotZoom source;
    source.Allow = false;
    source.Animated = true;
    source.AnimatedSteps = 3;
    source.Direction = chart::engine::tzdHorizontal;
    source.KeyShift = vcl::ssShift;
    source.MouseButton = vcl::TMouseButton::mbRight;
    source.MinimumPixels = 99;
    source.UpLeftZooms = true;
    source.Pen().SetColor(vcl::clGray);
    zoom.Assign(source);
    EXPECT_FALSE(zoom.Allow);
    EXPECT_TRUE(zoom.Animated);
    EXPECT_EQ(zoom.AnimatedSteps, 3);
    EXPECT_EQ(zoom.Direction, chart::engine::tzdHorizontal);
    EXPECT_EQ(zoom.KeyShift, vcl::ssShift);
    EXPECT_EQ(zoom.MouseButton, vcl::TMouseButton::mbRight);
    EXPECT_EQ(zoom.Pen().Color(), vcl::clGray);
    EXPECT_EQ(zoom.MinimumPixels, 16);
    EXPECT_FALSE(zoom.UpLeftZooms);

    // The panel: undoing a zoom tells, repaints and clears Zoomed.
    Panel panel;
    int told = 0;
    panel.OnUndoZoom = [&](vcl::TComponent*) { ++told; };
    panel.Zoomed = true;
    const int before = panel.Invalidations;
    panel.UndoZoom();
    EXPECT_EQ(told, 1);
    EXPECT_FALSE(panel.Zoomed);
    EXPECT_EQ(panel.Invalidations, before + 1);

    // Assign between panels takes zoom, panning and pictures too.
    Panel other;
    other.AllowPanning = chart::engine::pmHorizontal;
    other.Zoom().Direction = chart::engine::tzdVertical;
    const auto picture = Picture(3, 3);
    other.BackImage().SetGraphic(picture.get());
    other.BackImage().SetMode(chart::engine::pbmCustom);
    panel.Assign(other);
    EXPECT_EQ(panel.AllowPanning, chart::engine::pmHorizontal);
    EXPECT_EQ(panel.Zoom().Direction, chart::engine::tzdVertical);
    EXPECT_TRUE(panel.HasBackImage());
    EXPECT_EQ(panel.BackImageMode(), chart::engine::pbmCustom);
}

}  // namespace
