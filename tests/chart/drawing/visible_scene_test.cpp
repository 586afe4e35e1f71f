// A scene drawn as a chart paints: four panels, each through the GDI
// surface's off-screen buffer, shown into one window image, written as a
// PNG file (chart_drawing_scene.png in the test's folder), read back and
// checked pixel by pixel against what the drawing rules predict.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "chart/drawing/drawing_setup.h"
#include "chart/drawing/plot_canvas3d.h"
#include "chart/drawing/plot_font.h"
#include "chart/drawing/view3d_options.h"
#include "platform/vcl/picture.h"
#include "support/gdi_surface.h"
#include "support/qt_app.h"

namespace {

using namespace chart;

constexpr int kPanelW = 200, kPanelH = 120;
constexpr gdi::COLORREF kWhite = gdi::RGB(255, 255, 255);
constexpr gdi::COLORREF kRed = gdi::RGB(255, 0, 0);
constexpr gdi::COLORREF kBlue = gdi::RGB(0, 0, 255);
constexpr gdi::COLORREF kMagenta = gdi::RGB(255, 0, 255);

struct Scene {
    vcl::TBitmap window{2 * kPanelW, 2 * kPanelH};
    TPlotCanvas3D canvas;
    vcl::TRect frameAfter;

    // One paint of a panel whose top-left corner is (x, y) in the window.
    template <class Draw>
    void Paint(int x, int y, TView3DOptions* options, bool is3D, Draw&& draw) {
        const vcl::TRect user{x, y, x + kPanelW, y + kPanelH};
        const vcl::TRect bounds = canvas.InitWindow(&window.Canvas(), options, vcl::clWhite, is3D, user);
        canvas.Projection(0, {0, 0, 200, 100});
        canvas.ResetState();
        canvas.Brush->SetColor(vcl::clWhite);
        canvas.FillRect(bounds);
        draw();
        canvas.ShowImage(&window.Canvas(), &window.Canvas(), user);
    }

    void Draw() {
        Paint(0, 0, nullptr, false, [&] {
            frameAfter = {0, 0, 10, 10};
            canvas.Frame3D(frameAfter, vcl::clBlue, vcl::clMaroon, 2);
            canvas.ClipCube({10, 10, 100, 100}, 0, 40);
            canvas.Brush->SetColor(vcl::clRed);
            canvas.FillRect({0, 0, kPanelW, kPanelH});
            canvas.UnClipRectangle();
        });
        Paint(kPanelW, 0, nullptr, false, [&] {
            canvas.ClipRectangle({20, 20, 120, 80});   // A
            canvas.ClipRectangle({50, 40, 70, 60});    // B
            canvas.UnClipRectangle();
            canvas.Brush->SetColor(vcl::clBlue);
            canvas.FillRect({0, 0, kPanelW, kPanelH});
            canvas.UnClipRectangle();
        });
        Paint(0, kPanelH, nullptr, false, [&] {
            TPlotFont font;
            font.SetSize(20);
            font.Shadow()->SetHorizSize(-2);
            font.Shadow()->SetVertSize(3);
            canvas.AssignFont(font);
            canvas.TextOut(10, 10, "Shade");
        });
        TView3DOptions options(nullptr);
        Paint(kPanelW, kPanelH, &options, true, [&] {
            // The edges of a box 20 deep, then the point (100, 50, 10).
            canvas.Pen->SetColor(vcl::clGray);
            canvas.MoveTo3D(40, 30, 0);
            canvas.LineTo3D(160, 30, 0);
            canvas.LineTo3D(160, 30, 20);
            canvas.MoveTo3D(160, 30, 0);
            canvas.LineTo3D(160, 90, 0);
            canvas.ZLine3D(40, 30, 0, 20);
            canvas.SetPixel3D(100, 50, 10, vcl::clFuchsia);
        });
    }
};

// The pixels of the picture inside a panel, by colour.
std::set<std::pair<int, int>> Where(const gdi::Bitmap& b, int px, int py, gdi::COLORREF color) {
    std::set<std::pair<int, int>> at;
    for (int y = 0; y < kPanelH; ++y)
        for (int x = 0; x < kPanelW; ++x)
            if (b.GetPixel(px + x, py + y) == color) at.insert({x, y});
    return at;
}

std::set<std::pair<int, int>> Rect(int left, int top, int right, int bottom) {
    std::set<std::pair<int, int>> r;
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x) r.insert({x, y});
    return r;
}

TEST(visible_scene, a_painted_scene_written_as_png_shows_what_the_rules_predict) {
    test_support::EnsureQtApplication();
    Scene scene;
    scene.Draw();
    const std::string file = (std::filesystem::current_path() / "chart_drawing_scene.png").string();
    vcl::TPngGraphic png;
    png.Assign(scene.window);
    png.SaveToFile(file);
    vcl::TPicture picture;
    picture.LoadFromFile(file);
    auto* read = dynamic_cast<vcl::TPngGraphic*>(picture.Graphic());
    ASSERT_NE(read, nullptr);
    ASSERT_EQ(read->Width(), 2 * kPanelW);
    ASSERT_EQ(read->Height(), 2 * kPanelH);
    EXPECT_FALSE(read->HasAlpha());
    const gdi::Bitmap& shown = *read->Handle();
    EXPECT_EQ(test_support::PixelsOf(shown), test_support::PixelsOf(*scene.window.Handle()));

    // Frame3D two wide on (0, 0, 10, 10) leaves (2, 2, 8, 8); the bevel is
    // blue at the top left, maroon at the bottom right.
    EXPECT_EQ(scene.frameAfter, (vcl::TRect{2, 2, 8, 8}));
    EXPECT_EQ(shown.GetPixel(1, 1), kBlue);
    EXPECT_EQ(shown.GetPixel(8, 8), gdi::RGB(128, 0, 0));
    EXPECT_EQ(shown.GetPixel(10, 10), kWhite);
    // After ClipCube (10, 10, 100, 100) in 2D the red fill covers x 11..99,
    // y 11..98 and nothing else.
    EXPECT_EQ(Where(shown, 0, 0, kRed), Rect(11, 11, 100, 99));
    // Clip A, clip B, unclip: the fill changes A only.
    EXPECT_EQ(Where(shown, kPanelW, 0, kBlue), Rect(20, 20, 120, 80));

    // Text with a shadow of (-2, 3) at (10, 10): the text as drawn plainly at
    // (12, 10) over its silver copy at (10, 13).
    test_support::Surface expected(kPanelW, kPanelH);
    gdi::LOGFONT lf;
    lf.lfHeight = -vcl::MulDiv(20, 96, 72);
    lf.lfFaceName = PlotDefaultFontName;
    expected->SelectObject(gdi::CreateFontIndirect(lf));
    expected->SetBkMode(gdi::TRANSPARENT);
    expected->SetTextColor(gdi::RGB(192, 192, 192));
    expected->TextOut(10, 13, "Shade");
    expected->SetTextColor(0);
    expected->TextOut(12, 10, "Shade");
    int silver = 0;
    for (int y = 0; y < kPanelH; ++y)
        for (int x = 0; x < kPanelW; ++x) {
            ASSERT_EQ(shown.GetPixel(x, kPanelH + y), expected.At(x, y)) << x << "," << y;
            silver += expected.At(x, y) == gdi::RGB(192, 192, 192);
        }
    EXPECT_GT(silver, 20);
    EXPECT_GT(expected.Count(0), 50);

    // (100, 50, 10) at OrthoAngle 45 on (0, 0, 200, 100) lands at (110, 40).
    EXPECT_EQ(Where(shown, kPanelW, kPanelH, kMagenta), (std::set<std::pair<int, int>>{{110, 40}}));
    // The box's back edge runs 20 deep: from (160, 30) to (180, 10).
    EXPECT_EQ(shown.GetPixel(kPanelW + 170, kPanelH + 20), gdi::RGB(128, 128, 128));
}

}  // namespace
