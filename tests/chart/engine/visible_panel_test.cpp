// A chart panel as a user would see it: colour, raised and lowered bevels,
// a border band, a width-4 rounded border pen, the background picture in
// each of its four modes, a framed shape and the zoom rectangle. Painted
// through PlotCreateBitmap and through a real paint of the window, written
// as a PNG (chart_engine_panel.png in the test's folder: the four modes
// side by side) and checked pixel by pixel against the drawing rules.
#include <gtest/gtest.h>

#include <QImage>
#include <QWidget>
#include <filesystem>
#include <vector>

#include "chart/engine/plot_shape.h"
#include "platform/vcl/picture.h"
#include "support/chart_panels.h"

namespace {

using chart::engine::TPlotBackImageMode;
using test_support::BackgroundPanel;
using test_support::PixelAt;

constexpr int kW = 400, kH = 250;
constexpr vcl::TColor kPanelColor = 0xE0F0FF;  // a light cream
constexpr gdi::COLORREF kNavy = 0x800000;
constexpr gdi::COLORREF kBlue = 0xFF0000;
constexpr gdi::COLORREF kShapeColor = 0x90EE90;

// A 40 x 30 picture: four coloured bands, its top-left pixel blue.
std::unique_ptr<vcl::TBitmap> Picture() {
    auto b = std::make_unique<vcl::TBitmap>(40, 30);
    const vcl::TColor bands[] = {0x3060C0, 0x40A040, 0xC08030, 0x8040A0};
    for (int i = 0; i < 4; ++i) {
        b->Canvas().Brush.SetColor(bands[i]);
        b->Canvas().FillRect({i * 10, 0, i * 10 + 10, 30});
    }
    b->Handle()->SetPixel(0, 0, kBlue);
    return b;
}

struct ShowcasePanel : BackgroundPanel {
    chart::engine::TPlotShape shape{this};
    bool zoom = true;
    ShowcasePanel(TPlotBackImageMode mode, const vcl::TBitmap& picture) {
        SetColor(kPanelColor);
        SetBevelOuter(vcl::TBevelCut::bvRaised);
        SetBevelInner(vcl::TBevelCut::bvLowered);
        SetBevelWidth(2);
        SetBorderWidth(2);
        Border().SetVisible(true);
        Border().SetWidth(4);
        Border().SetColor(static_cast<vcl::TColor>(kNavy));
        SetBorderRound(12);
        BackImage().SetGraphic(&picture);
        SetBackImageMode(mode);
        BackImage().SetLeft(20);
        BackImage().SetTop(40);
        shape.ShapeBounds = {260, 170, 360, 220};
        shape.SetColor(static_cast<vcl::TColor>(kShapeColor));
        shape.SetBevel(vcl::TBevelCut::bvRaised);
        shape.Shadow().SetVisible(false);  // shadows are drawn by a later step
        Zoom().Pen().SetColor(vcl::clGray);
        Zoom().X0 = 30;
        Zoom().Y0 = 30;
        Zoom().X1 = 370;
        Zoom().Y1 = 230;
        // The background, as the first step of a chart's paint; then a
        // shape and the zoom rectangle, as later steps do.
        Extra = [this](BackgroundPanel&, const vcl::TRect&) {
            shape.Draw();
            if (zoom) DrawZoomRectangle();
        };
    }
};

// The zoom pen's gray, turned by the back colour (white - back), in
// not-XOR with what is under it.
gdi::COLORREF NotXorGray(gdi::COLORREF under) {
    const gdi::COLORREF pen = 0x808080u ^ (0xFFFFFFu - vcl::ColorToRGB(kPanelColor));
    return ~(pen ^ under) & 0xFFFFFFu;
}

// A pixel of the toolkit's image as 0x00BBGGRR.
gdi::COLORREF Colour(QRgb p) { return qRed(p) | (qGreen(p) << 8) | (qBlue(p) << 16); }

TEST(visible_panel,
     a_panel_with_every_background_mode_written_as_png_shows_what_the_rules_predict) {
    const auto picture = Picture();
    const TPlotBackImageMode modes[] = {chart::engine::pbmStretch, chart::engine::pbmTile,
                                        chart::engine::pbmCenter, chart::engine::pbmCustom};
    // All four first, so that the picture is there to look at whatever the
    // checks find.
    vcl::TBitmap sheet(2 * kW, 2 * kH);
    std::vector<std::unique_ptr<ShowcasePanel>> panels;
    std::vector<std::unique_ptr<vcl::TBitmap>> images;
    for (int m = 0; m < 4; ++m) {
        panels.push_back(std::make_unique<ShowcasePanel>(modes[m], *picture));
        images.push_back(panels[m]->PlotCreateBitmap(vcl::clWhite, panels[m]->GetRectangle(),
                                                     vcl::TPixelFormat::pfDevice));
        sheet.Canvas().Draw((m % 2) * kW, (m / 2) * kH, images[m].get());
    }
    const std::string file = (std::filesystem::current_path() / "chart_engine_panel.png").string();
    vcl::TPngGraphic png;
    png.Assign(sheet);
    png.SaveToFile(file);
    vcl::TPicture read;
    read.LoadFromFile(file);
    ASSERT_NE(read.Graphic(), nullptr);
    EXPECT_EQ(read.Width(), 2 * kW);
    EXPECT_EQ(PixelAt(read.Bitmap(), kW + 80, 60), kBlue);

    const gdi::COLORREF light = vcl::ColorToRGB(vcl::clBtnHighlight),
                        dark = vcl::ColorToRGB(vcl::clBtnShadow);
    for (int m = 0; m < 4; ++m) {
        SCOPED_TRACE(m);
        ShowcasePanel& panel = *panels[m];
        const vcl::TBitmap& shown = *images[m];
        auto at = [&](int x, int y) { return shown.Handle()->GetPixel(x, y); };

        // The chart rectangle: frame 2 + 2 + 2 + 4, margins 3 % and 4 %.
        EXPECT_EQ(panel.ChartRect, (vcl::TRect{10 + 12, 10 + 10, 390 - 12, 240 - 10}));

        // Rounded: the corner is outside; the border pen (4 wide, in by 2),
        // then the raised and the lowered bevel as rounded lines, with the
        // panel's colour band between them.
        // (Stretched and tiled pictures cover the whole rectangle.)
        const bool covered =
            modes[m] == chart::engine::pbmStretch || modes[m] == chart::engine::pbmTile;
        if (!covered) {
            EXPECT_EQ(at(0, 0), 0xFFFFFFu);
            EXPECT_EQ(at(1, 0), 0xFFFFFFu);
            EXPECT_EQ(at(399, 249), 0xFFFFFFu);
        }
        EXPECT_EQ(at(200, 2), kNavy);
        EXPECT_EQ(at(2, 125), kNavy);
        EXPECT_EQ(at(200, 4), light);
        EXPECT_EQ(at(200, 6), vcl::ColorToRGB(kPanelColor));
        EXPECT_EQ(at(200, 7), vcl::ColorToRGB(kPanelColor));
        EXPECT_EQ(at(200, 9), dark);
        EXPECT_EQ(at(4, 125), light);
        EXPECT_EQ(at(9, 125), dark);

        // The picture by mode (away from the shape and the zoom rectangle).
        switch (modes[m]) {
            case chart::engine::pbmStretch:
                EXPECT_EQ(at(100, 125), picture->Handle()->GetPixel(10, 15));
                EXPECT_EQ(at(350, 125), picture->Handle()->GetPixel(35, 15));
                break;
            case chart::engine::pbmTile:
                EXPECT_EQ(at(80, 60), kBlue);
                EXPECT_EQ(at(120, 90), kBlue);
                EXPECT_EQ(at(81, 61), picture->Handle()->GetPixel(1, 1));
                EXPECT_EQ(at(115, 100), picture->Handle()->GetPixel(35, 10));
                break;
            case chart::engine::pbmCenter:
                EXPECT_EQ(at(180, 110), kBlue);
                EXPECT_EQ(at(219, 139), picture->Handle()->GetPixel(39, 29));
                EXPECT_EQ(at(179, 110), vcl::ColorToRGB(kPanelColor));
                EXPECT_EQ(at(100, 200), vcl::ColorToRGB(kPanelColor));
                break;
            case chart::engine::pbmCustom:
                EXPECT_EQ(at(20, 40), kBlue);
                EXPECT_EQ(at(59, 69), picture->Handle()->GetPixel(39, 29));
                EXPECT_EQ(at(60, 69), vcl::ColorToRGB(kPanelColor));
                break;
        }

        // The shape: its colour, and a raised bevel inside drawn over the
        // black frame.
        EXPECT_EQ(at(260, 195), light);
        EXPECT_EQ(at(310, 200), kShapeColor);
        EXPECT_EQ(at(261, 171), light);
        EXPECT_EQ(at(358, 218), dark);

        // The zoom rectangle turns what is under its outline by not-XOR with
        // gray and leaves everything else alone.
        panel.zoom = false;
        auto under =
            panel.PlotCreateBitmap(vcl::clWhite, panel.GetRectangle(), vcl::TPixelFormat::pfDevice);
        int outline = 0;
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) {
                const bool edge = ((x == 30 || x == 369) && y >= 30 && y < 230) ||
                                  ((y == 30 || y == 229) && x >= 30 && x < 370);
                const gdi::COLORREF u = under->Handle()->GetPixel(x, y);
                ASSERT_EQ(at(x, y), edge ? NotXorGray(u) : u) << x << "," << y;
                outline += edge;
            }
        EXPECT_EQ(outline, 2 * 340 + 2 * 198);
        panel.zoom = true;

        // A real paint of the window draws the same picture, once: the
        // second paint shows the cached image.
        const int draws = panel.Draws;
        const QImage first = panel.Widget()->grab().toImage();
        const QImage second = panel.Widget()->grab().toImage();
        EXPECT_EQ(panel.Draws, draws + 1);
        EXPECT_EQ(first, second);
        for (int y = 12; y < kH - 12; y += 7)
            for (int x = 12; x < kW - 12; x += 7)
                ASSERT_EQ(Colour(first.pixel(x, y)), at(x, y)) << x << "," << y;
    }
}

}  // namespace
