// Galleries of what the effects draw, each painted the way a chart paints
// (through the surface's off-screen buffer, shown into one window image),
// written as a PNG file in the test's folder and checked against what the
// drawing rules predict: band colours at chosen rows, side faces darker by
// the shading amounts, a blurred shadow where the shape's box moved by its
// offsets lands, nothing changed outside a clip.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <set>
#include <string>

#include "chart/drawing/geometric_filters.h"
#include "chart/drawing/pixel_filters.h"
#include "chart/drawing/plot_canvas3d.h"
#include "chart/drawing/plot_font.h"
#include "chart/drawing/view3d_options.h"
#include "platform/vcl/picture.h"
#include "support/gdi_surface.h"
#include "support/qt_app.h"

namespace {

using namespace chart;

constexpr gdi::COLORREF kWhite = gdi::RGB(255, 255, 255);

// A window image made of panels, each painted as one chart paint.
struct Gallery {
    int panelW, panelH, columns;
    vcl::TBitmap window;
    TPlotCanvas3D canvas;

    Gallery(int w, int h, int cols, int rows) : panelW(w), panelH(h), columns(cols), window(w * cols, h * rows) {}

    // Paints panel `index`: its bounds are (0, 0, panelW, panelH).
    void Paint(int index, TView3DOptions* options, bool is3D, const std::function<void()>& draw,
               TColor back = vcl::clWhite, int depth = 0) {
        const int x = (index % columns) * panelW, y = (index / columns) * panelH;
        const vcl::TRect user{x, y, x + panelW, y + panelH};
        const vcl::TRect bounds = canvas.InitWindow(&window.Canvas(), options, back, is3D, user);
        canvas.Projection(depth, bounds);
        canvas.ResetState();
        canvas.Brush->SetColor(back);
        canvas.FillRect(bounds);
        draw();
        canvas.ShowImage(&window.Canvas(), &window.Canvas(), user);
    }
    // A pixel of panel `index`.
    gdi::COLORREF At(int index, int x, int y) const {
        return window.Handle()->GetPixel((index % columns) * panelW + x, (index / columns) * panelH + y);
    }
    // Written as PNG and read back: the file shows exactly what was drawn.
    void Save(const std::string& name) {
        const std::string file = (std::filesystem::current_path() / name).string();
        vcl::TPngGraphic png;
        png.Assign(window);
        png.SaveToFile(file);
        vcl::TPicture back;
        back.LoadFromFile(file);
        auto* read = dynamic_cast<vcl::TPngGraphic*>(back.Graphic());
        ASSERT_NE(read, nullptr);
        EXPECT_EQ(test_support::PixelsOf(*read->Handle()), test_support::PixelsOf(*window.Handle()));
    }
};

gdi::COLORREF Grey(int v) { return gdi::RGB(v, v, v); }

TEST(effects_gallery, every_gradient_direction_with_middle_colour_and_angle) {
    test_support::EnsureQtApplication();
    Gallery g(140, 90, 4, 3);
    const TRect area{10, 10, 130, 80};  // 120 x 70
    const TGradientDirection directions[] = {gdTopBottom, gdBottomTop,   gdLeftRight,      gdRightLeft,
                                             gdFromCenter, gdFromTopLeft, gdFromBottomLeft, gdRadial,
                                             gdDiagonalUp, gdDiagonalDown};
    for (int i = 0; i < 10; ++i)
        g.Paint(i, nullptr, false, [&] {
            TPlotGradient gradient;
            gradient.SetStartColor(vcl::clRed);
            gradient.SetEndColor(vcl::clBlue);
            gradient.SetDirection(directions[i]);
            gradient.Draw(g.canvas, area);
        });
    // A middle colour, and a gradient turned by 30 degrees.
    g.Paint(10, nullptr, false, [&] {
        TPlotGradient gradient;
        gradient.SetStartColor(vcl::clRed);
        gradient.SetMidColor(vcl::clWhite);
        gradient.SetEndColor(vcl::clBlue);
        gradient.Draw(g.canvas, area);
    });
    g.Paint(11, nullptr, false, [&] {
        TPlotGradient gradient;
        gradient.SetStartColor(vcl::clRed);
        gradient.SetEndColor(vcl::clBlue);
        gradient.SetAngle(30);
        g.canvas.Pen->SetColor(vcl::clLime);
        gradient.Draw(g.canvas, area);
    }, vcl::clSilver);
    g.Save("chart_gradients.png");

    const gdi::COLORREF red = gdi::RGB(255, 0, 0), blue = gdi::RGB(0, 0, 255);
    // Straight bands: the start colour on the bottom (top-bottom) or right
    // (left-right) band, the end colour on the opposite one; 70 rows give 70
    // bands, so row 45 from the top is step 79 - 45 = 34 of 69.
    EXPECT_EQ(g.At(0, 60, 79), red);
    EXPECT_EQ(g.At(0, 60, 10), blue);
    EXPECT_EQ(g.At(0, 60, 45), gdi::RGB(255 + (0 - 255) * 34 / 69, 0, 255 * 34 / 69));
    EXPECT_EQ(g.At(1, 60, 79), blue);
    EXPECT_EQ(g.At(1, 60, 10), red);
    EXPECT_EQ(g.At(2, 129, 40), red);
    EXPECT_EQ(g.At(2, 10, 40), blue);
    EXPECT_EQ(g.At(3, 129, 40), blue);
    EXPECT_EQ(g.At(3, 10, 40), red);
    // From the centre: the edge takes the end colour, the middle (step 94
    // of 95) nearly the start.
    EXPECT_EQ(g.At(4, 10, 10), blue);
    EXPECT_EQ(g.At(4, 70, 45), gdi::RGB(255 * 94 / 95, 0, 255 - 255 * 94 / 95));
    // Radial: the end colour in the corners, near the start in the middle.
    EXPECT_EQ(g.At(7, 10, 10), blue);
    EXPECT_GT(gdi::GetRValue(g.At(7, 71, 46)), 240);
    // Middle colour: both halves meet in white at the split row (80 + 10) / 2.
    EXPECT_EQ(g.At(10, 60, 44), kWhite);
    EXPECT_EQ(g.At(10, 60, 45), kWhite);
    EXPECT_EQ(g.At(10, 60, 79), red);
    EXPECT_EQ(g.At(10, 60, 10), blue);
    // Every panel leaves the pixels outside its rectangle alone.
    for (int i = 0; i < 11; ++i) {
        EXPECT_EQ(g.At(i, 9, 9), kWhite) << i;
        EXPECT_EQ(g.At(i, 130, 80), kWhite) << i;
        EXPECT_EQ(g.At(i, 131, 45), kWhite) << i;
    }
    // Turned by 30 degrees: inside the frame every pixel holds a gradient
    // colour (no red and blue both at zero), the frame is the pen's, and
    // nothing outside the rectangle changed.
    for (int y = 0; y < 90; ++y)
        for (int x = 0; x < 140; ++x) {
            const gdi::COLORREF c = g.At(11, x, y);
            const bool inside = x >= 10 && x < 130 && y >= 10 && y < 80;
            const bool frame = inside && (x == 10 || x == 129 || y == 10 || y == 79);
            if (!inside) ASSERT_EQ(c, Grey(192)) << x << "," << y;
            else if (frame) ASSERT_EQ(c, gdi::RGB(0, 255, 0)) << x << "," << y;
            else ASSERT_TRUE(gdi::GetGValue(c) == 0 && gdi::GetRValue(c) + gdi::GetBValue(c) >= 250) << x << "," << y;
        }
}

TEST(effects_gallery, text_with_a_gradient_and_a_blurred_shadow) {
    test_support::EnsureQtApplication();
    Gallery g(300, 90, 1, 2);
    TPlotFont font;
    font.SetSize(36);
    font.SetStyle(vcl::fsBold);
    font.Gradient()->SetVisible(true);
    font.Gradient()->SetStartColor(vcl::clRed);
    font.Gradient()->SetEndColor(vcl::clYellow);
    font.Shadow()->SetHorizSize(4);
    font.Shadow()->SetVertSize(4);
    font.Shadow()->SetColor(vcl::clGray);
    font.Shadow()->SetSmoothBlur(2);
    g.Paint(0, nullptr, false, [&] {
        g.canvas.AssignFont(font);
        g.canvas.TextOut(20, 15, "Gradient");
    });
    // The same text plain, to tell where the letters are.
    TPlotFont plain;
    plain.SetSize(36);
    plain.SetStyle(vcl::fsBold);
    g.Paint(1, nullptr, false, [&] {
        g.canvas.AssignFont(plain);
        g.canvas.TextOut(20, 15, "Gradient");
    });
    g.Save("chart_text_effects.png");

    // Inside the letters: red to yellow (no blue); around them only the
    // grey shadow, blurred into many levels, or the letters' own edges
    // (their outline as a path is a little wider than the plain glyphs).
    int letters = 0, filled = 0, greys = 0, others = 0;
    std::set<gdi::COLORREF> shades;
    for (int y = 0; y < 90; ++y)
        for (int x = 0; x < 300; ++x) {
            const gdi::COLORREF c = g.At(0, x, y);
            const bool letterColour = gdi::GetRValue(c) == 255 && gdi::GetBValue(c) == 0;
            if (g.At(1, x, y) == 0) {
                ++letters;
                filled += letterColour;
            } else if (c != kWhite) {
                const bool grey = gdi::GetRValue(c) == gdi::GetGValue(c) && gdi::GetGValue(c) == gdi::GetBValue(c);
                if (grey) {
                    ++greys;
                    shades.insert(c);
                } else if (!letterColour) {
                    ++others;
                }
            }
        }
    EXPECT_GT(letters, 500);
    EXPECT_GE(filled, letters * 95 / 100);
    EXPECT_GT(greys, 200);
    EXPECT_GT(shades.size(), 8u);
    EXPECT_LT(others, greys / 10);
    // The shadow lies right of and below the letters: none above the text.
    for (int x = 0; x < 300; ++x) EXPECT_EQ(g.At(0, x, 14), kWhite) << x;
    std::set<int> gradientRows;
    for (int x = 20; x < 300; ++x)
        for (int y = 0; y < 90; ++y)
            if (g.At(1, x, y) == 0) gradientRows.insert(gdi::GetGValue(g.At(0, x, y)));
    EXPECT_GT(gradientRows.size(), 10u);  // the green channel ramps from red to yellow
}

TEST(effects_gallery, a_transparent_shape_with_its_shadow_over_a_pattern) {
    test_support::EnsureQtApplication();
    Gallery g(220, 150, 1, 1);
    const TRect shape{40, 30, 150, 100};
    TPlotShadow shadow;
    shadow.SetDefaults(vcl::clBlack, 8);
    shadow.SetClip(true);
    // Stripes of teal on even tens of x, white on odd tens.
    auto teal = [](int x) { return (x % 20) < 10; };
    g.Paint(0, nullptr, false, [&] {
        auto& c = g.canvas;
        for (int x = 0; x < 220; x += 20) {
            c.Brush->SetColor(vcl::clTeal);
            c.FillRect({x, 0, x + 10, 150});
        }
        // Clipped to (0, 0, 200, 115): the shadow's blur stops at the clip.
        c.ClipRectangle({0, 0, 200, 115});
        std::unique_ptr<TPlotBlend> blend = c.BeginBlending(shape, 40);
        shadow.Draw(c, shape, 0, 0);
        c.Brush->SetColor(vcl::clYellow);
        c.Pen->SetColor(vcl::clNavy);
        c.RectangleRect(shape);
        c.EndBlending(std::move(blend));
        c.UnClipRectangle();
    });
    g.Save("chart_shape_shadow.png");

    // The stripes show through the yellow box: 40 percent of the background
    // through 60 percent of yellow.
    const gdi::COLORREF overTeal = g.At(0, 45, 60), overWhite = g.At(0, 55, 60);
    EXPECT_NE(overTeal, overWhite);
    EXPECT_EQ(gdi::GetRValue(overWhite), 255);
    EXPECT_EQ(gdi::GetBValue(overWhite), (255 * 102 + 127) / 255);
    // The shadow: the box moved by 8 (x 48..157, y 38..107 as a rectangle
    // without pen fills), dark inside, softer toward its edge, multiplied
    // into the white stripe x 150..159 right of the box and below it.
    const int core = gdi::GetRValue(g.At(0, 152, 60)), edge = gdi::GetRValue(g.At(0, 157, 60));
    EXPECT_LT(core, 60);
    EXPECT_GT(edge, core);
    EXPECT_LT(edge, 255);
    EXPECT_LT(gdi::GetRValue(g.At(0, 112, 104)), 60);
    // None beyond the blur's reach, none left of or above the box.
    EXPECT_EQ(g.At(0, 172, 60), kWhite);
    EXPECT_EQ(g.At(0, 35, 60), kWhite);
    EXPECT_EQ(g.At(0, 75, 25), kWhite);
    // Nothing changed below the clip.
    for (int x = 0; x < 200; ++x)
        for (int y = 115; y < 150; ++y)
            ASSERT_EQ(g.At(0, x, y), teal(x) ? gdi::RGB(0, 128, 128) : kWhite) << x << "," << y;
}

TEST(effects_gallery, every_solid_in_orthogonal_and_free_3d) {
    test_support::EnsureQtApplication();
    Gallery g(130, 130, 8, 2);
    TView3DOptions ortho(nullptr);
    TView3DOptions free(nullptr);
    free.SetOrthogonal(false);
    free.SetElevation(340);
    free.SetRotation(330);
    free.SetPerspective(20);
    const std::vector<std::function<void(TPlotCanvas3D&)>> solids = {
        [](TPlotCanvas3D& c) { c.Cube(35, 85, 40, 100, 0, 30, true); },
        [](TPlotCanvas3D& c) { c.Cylinder(true, 35, 40, 85, 100, 0, 30, true); },
        [](TPlotCanvas3D& c) { c.Cone(true, 35, 40, 85, 100, 0, 30, true, 0); },
        [](TPlotCanvas3D& c) { c.Pyramid(true, 35, 40, 85, 100, 0, 30, true); },
        [](TPlotCanvas3D& c) { c.PyramidTruncated({35, 40, 85, 100}, 0, 30, 10, 8); },
        [](TPlotCanvas3D& c) { c.Pie3D(60, 70, 45, 45, 0, 15, 0.3, 4.5, true, true, 0, nullptr); },
        [](TPlotCanvas3D& c) { c.Pie3D(60, 70, 45, 45, 0, 15, 0.3, 4.5, true, true, 50, nullptr); },
        [](TPlotCanvas3D& c) {
            c.EllipseWithZ(20, 30, 100, 80, 10);
            c.Brush->SetColor(vcl::clRed);
            c.ArrowDefault(true, {20, 110}, {110, 90}, 16, 12, 0);
        },
    };
    for (std::size_t i = 0; i < solids.size(); ++i) {
        for (int row = 0; row < 2; ++row)
            g.Paint(static_cast<int>(i) + 8 * row, row == 0 ? &ortho : &free, true, [&] {
                g.canvas.Brush->SetColor(gdi::RGB(0, 192, 255));
                g.canvas.Pen->SetColor(vcl::clBlack);
                solids[i](g.canvas);
            }, vcl::clWhite, 30);
    }
    g.Save("chart_solids.png");

    // The orthogonal cube: its front in the brush colour, the right side
    // 128 darker per channel, the top 64 darker.
    EXPECT_EQ(g.At(0, 60, 80), gdi::RGB(0, 192, 255));
    EXPECT_EQ(g.At(0, 95, 80), gdi::RGB(0, 64, 127));
    EXPECT_EQ(g.At(0, 60, 33), gdi::RGB(0, 128, 191));
    // Every solid drew something in both views.
    for (int i = 0; i < 16; ++i) {
        int ink = 0;
        for (int y = 0; y < 130; ++y)
            for (int x = 0; x < 130; ++x) ink += g.At(i, x, y) != kWhite;
        EXPECT_GT(ink, 500) << i;
    }
}

TEST(effects_gallery, every_filter_on_one_image) {
    test_support::EnsureQtApplication();
    // The test image: colour ramps, a white disc and a black bar.
    vcl::TBitmap source(96, 72);
    source.SetPixelFormat(vcl::TPixelFormat::pf24bit);
    for (int y = 0; y < 72; ++y)
        for (int x = 0; x < 96; ++x) source.Handle()->SetPixel(x, y, gdi::RGB(x * 255 / 95, y * 255 / 71, 128));
    source.Canvas().Brush.SetColor(vcl::clWhite);
    source.Canvas().Ellipse(20, 12, 60, 52);
    source.Canvas().Brush.SetColor(vcl::clBlack);
    source.Canvas().FillRect({66, 20, 74, 60});

    const std::vector<const TFilterClass*>& classes = PlotFilterClasses();
    ASSERT_EQ(classes.size(), 21u);
    const int columns = 6, cellW = 200, cellH = 160;
    vcl::TBitmap sheet(columns * cellW, 4 * cellH);
    sheet.Canvas().Brush.SetColor(vcl::clSilver);
    sheet.Canvas().FillRect({0, 0, sheet.Width(), sheet.Height()});
    auto place = [&](int index, vcl::TBitmap& b, const std::string& caption) {
        const int x = (index % columns) * cellW + 4, y = (index / columns) * cellH + 4;
        sheet.Canvas().Draw(x, y + 16, &b);
        sheet.Canvas().Brush.SetStyle(vcl::TBrushStyle::bsClear);
        sheet.Canvas().TextOut(x, y, caption);
        sheet.Canvas().Brush.SetStyle(vcl::TBrushStyle::bsSolid);
    };
    vcl::TBitmap original;
    original.Assign(source);
    place(0, original, "Original");
    std::vector<std::unique_ptr<vcl::TBitmap>> results;
    for (std::size_t i = 0; i < classes.size(); ++i) {
        std::unique_ptr<TPlotFilter> filter = classes[i]->Create();
        // Settings that show each filter plainly.
        if (auto* f = dynamic_cast<TBlurFilter*>(filter.get())) f->Steps = 3;
        if (auto* f = dynamic_cast<TBrightnessFilter*>(filter.get())) f->Amount = 30;
        if (auto* f = dynamic_cast<TContrastFilter*>(filter.get())) f->Amount = 60;
        if (auto* f = dynamic_cast<TColorFilter*>(filter.get())) f->Blue = 120;
        if (auto* f = dynamic_cast<THueLumSatFilter*>(filter.get())) f->Hue = 80;
        if (auto* f = dynamic_cast<TCropFilter*>(filter.get())) f->Left = 10, f->Top = 10, f->Width = 40, f->Height = 30;
        if (auto* f = dynamic_cast<TResizeFilter*>(filter.get()); f && !dynamic_cast<TCropFilter*>(f))
            f->Width = 140, f->Height = 60;
        if (auto* f = dynamic_cast<TRotateFilter*>(filter.get())) f->SetAngle(30);
        if (auto* f = dynamic_cast<TMirrorFilter*>(filter.get())) f->Direction = mdRight;
        if (auto* f = dynamic_cast<TZoomFilter*>(filter.get())) f->Percent = 40;
        auto b = std::make_unique<vcl::TBitmap>();
        b->Assign(source);
        filter->ApplyTo(*b);
        place(static_cast<int>(i) + 1, *b, filter->Description());
        results.push_back(std::move(b));
    }
    vcl::TPngGraphic png;
    png.Assign(sheet);
    png.SaveToFile((std::filesystem::current_path() / "chart_filters.png").string());

    // Spot checks against the rules, by class.
    auto result = [&](const char* name) -> vcl::TBitmap& {
        for (std::size_t i = 0; i < classes.size(); ++i)
            if (classes[i]->Name == name) return *results[i];
        throw std::runtime_error(name);
    };
    const gdi::COLORREF at = source.Handle()->GetPixel(10, 60);
    EXPECT_EQ(result("TInvertFilter").Handle()->GetPixel(10, 60),
              gdi::RGB(255 - gdi::GetRValue(at), 255 - gdi::GetGValue(at), 255 - gdi::GetBValue(at)));
    EXPECT_EQ(result("TFlipFilter").Handle()->GetPixel(10, 71 - 60), at);
    EXPECT_EQ(result("TReverseFilter").Handle()->GetPixel(95 - 10, 60), at);
    EXPECT_EQ(result("TMirrorFilter").Width(), 192);
    EXPECT_EQ(result("TResizeFilter").Width(), 140);
    EXPECT_GT(result("TRotateFilter").Width(), 96);
    const gdi::COLORREF grey = result("TGrayScaleFilter").Handle()->GetPixel(10, 60);
    EXPECT_EQ(grey, Grey((gdi::GetRValue(at) + gdi::GetGValue(at) + gdi::GetBValue(at)) / 3));
}

}  // namespace
