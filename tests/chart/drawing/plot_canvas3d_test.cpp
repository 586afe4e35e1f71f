// The GDI surface: its off-screen buffer, clips that come back one at a
// time on each surface, the projection in 2D and orthogonal 3D, and text
// with the chart font's effects.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "chart/drawing/plot_font.h"
#include "chart/drawing/view3d_options.h"
#include "support/chart_surfaces.h"
#include "support/qt_app.h"

namespace {

using namespace chart;
using test_support::RasterChart;
using test_support::RecordingChart;

constexpr gdi::COLORREF kRed = gdi::RGB(255, 0, 0);

// Fills the whole surface red and answers which pixels took it.
gdi::RECT FillAndBox(RasterChart& r) {
    r.bitmap.Handle()->Fill(gdi::RGB(255, 255, 255));
    r.canvas.Brush->SetColor(vcl::clRed);
    r.canvas.Brush->SetStyle(vcl::TBrushStyle::bsSolid);
    r.canvas.FillRect({0, 0, r.bitmap.Width(), r.bitmap.Height()});
    return r.InkBox();
}

TEST(plot_canvas3d, the_buffer_is_reused_and_a_valid_image_is_copied_again) {
    test_support::EnsureQtApplication();
    vcl::TBitmap window(120, 80);
    TPlotCanvas3D c;
    EXPECT_TRUE(c.GetBufferedDisplay());
    EXPECT_TRUE(c.Dirty());
    EXPECT_EQ(c.InitWindow(&window.Canvas(), nullptr, vcl::clWhite, false, {10, 10, 110, 70}),
              (vcl::TRect{0, 0, 100, 60}));
    vcl::TBitmap* buffer = c.Bitmap();
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(buffer->Width(), 100);
    EXPECT_EQ(c.ReferenceCanvas, &buffer->Canvas());
    c.Brush->SetColor(vcl::clRed);
    c.FillRect({0, 0, 100, 60});
    // The image reaches the window only at ShowImage.
    EXPECT_EQ(window.Handle()->GetPixel(50, 50), gdi::RGB(255, 255, 255));
    c.ShowImage(&window.Canvas(), &window.Canvas(), {10, 10, 110, 70});
    EXPECT_EQ(window.Handle()->GetPixel(10, 10), kRed);
    EXPECT_EQ(window.Handle()->GetPixel(109, 69), kRed);
    EXPECT_EQ(window.Handle()->GetPixel(110, 70), gdi::RGB(255, 255, 255));
    EXPECT_FALSE(c.Dirty());
    EXPECT_EQ(c.ReferenceCanvas, &window.Canvas());
    // A repaint without a change copies the image (to the window's origin).
    vcl::TBitmap other(120, 80);
    c.SetCanvas(&other.Canvas());
    EXPECT_TRUE(c.ReDrawBitmap());
    EXPECT_EQ(other.Handle()->GetPixel(0, 0), kRed);
    c.Invalidate();
    EXPECT_FALSE(c.ReDrawBitmap());
    // The next paint of the same size keeps the bitmap object.
    c.InitWindow(&window.Canvas(), nullptr, vcl::clWhite, false, {0, 0, 100, 60});
    EXPECT_EQ(c.Bitmap(), buffer);
    // Switching buffering off frees it, unless a direct drawing is under way.
    c.DirectDrawing = true;
    c.SetBufferedDisplay(false);
    EXPECT_EQ(c.Bitmap(), buffer);
    c.SetBufferedDisplay(true);
    c.DirectDrawing = false;
    c.SetBufferedDisplay(false);
    EXPECT_EQ(c.Bitmap(), nullptr);
    // Unbuffered, the surface draws on the target in its own coordinates.
    EXPECT_EQ(c.InitWindow(&window.Canvas(), nullptr, vcl::clWhite, false, {5, 5, 50, 50}),
              (vcl::TRect{5, 5, 50, 50}));
    EXPECT_EQ(c.ReferenceCanvas, &window.Canvas());
    EXPECT_FALSE(c.ReDrawBitmap());
    // The bitmap can be swapped out and back whole.
    auto mine = std::make_unique<vcl::TBitmap>(3, 3);
    vcl::TBitmap* raw = mine.get();
    EXPECT_EQ(c.SetBitmap(std::move(mine)), nullptr);
    EXPECT_EQ(c.Bitmap(), raw);
}

TEST(plot_canvas3d, each_unclip_goes_back_one_clip_on_its_own_surface) {
    RasterChart r(100, 100);
    auto& c = r.canvas;
    // Three levels.
    c.ClipRectangle({10, 10, 90, 90});
    c.ClipRectangle({20, 0, 100, 80});
    c.ClipRectangle({30, 30, 40, 40});
    EXPECT_EQ(FillAndBox(r), (gdi::RECT{30, 30, 40, 40}));
    c.UnClipRectangle();
    EXPECT_EQ(FillAndBox(r), (gdi::RECT{20, 10, 90, 80}));
    c.UnClipRectangle();
    EXPECT_EQ(FillAndBox(r), (gdi::RECT{10, 10, 90, 90}));
    c.UnClipRectangle();
    EXPECT_EQ(FillAndBox(r), (gdi::RECT{0, 0, 100, 100}));
    c.UnClipRectangle();  // nothing left to undo: no clip
    EXPECT_EQ(FillAndBox(r), (gdi::RECT{0, 0, 100, 100}));

    // An inverted ellipse inside a clip: undoing it gives the clip back.
    c.ClipRectangle({10, 10, 90, 90});
    c.ClipEllipse({20, 20, 80, 80}, true);
    FillAndBox(r);
    EXPECT_EQ(r.At(50, 50), gdi::RGB(255, 255, 255));
    EXPECT_EQ(r.At(12, 12), kRed);
    EXPECT_EQ(r.At(5, 5), gdi::RGB(255, 255, 255));
    c.UnClipRectangle();
    EXPECT_EQ(FillAndBox(r), (gdi::RECT{10, 10, 90, 90}));
    c.UnClipRectangle();
    // Without a clip the inverted ellipse leaves everything but the ellipse.
    c.ClipEllipse({20, 20, 80, 80}, true);
    FillAndBox(r);
    EXPECT_EQ(r.At(5, 5), kRed);
    EXPECT_EQ(r.At(50, 50), gdi::RGB(255, 255, 255));
    c.UnClipRectangle();

    // Two surfaces clipping in turn each get their own clip back.
    RasterChart other(100, 100);
    c.ClipRectangle({0, 0, 50, 50});
    other.canvas.ClipRectangle({50, 50, 100, 100});
    other.canvas.ClipRectangle({60, 60, 70, 70});
    c.UnClipRectangle();
    other.canvas.UnClipRectangle();
    EXPECT_EQ(FillAndBox(r), (gdi::RECT{0, 0, 100, 100}));
    EXPECT_EQ(FillAndBox(other), (gdi::RECT{50, 50, 100, 100}));

    // A new paint starts with nothing to undo.
    c.ClipRectangle({10, 10, 20, 20});
    c.InitWindow(&r.bitmap.Canvas(), nullptr, vcl::clWhite, false, {0, 0, 100, 100});
    c.UnClipRectangle();
    EXPECT_EQ(FillAndBox(r), (gdi::RECT{0, 0, 100, 100}));

    // Round rectangles and polygons; a point count beyond the array takes
    // its points, a negative one none.
    c.ClipRoundRectangle({10, 10, 50, 50}, 20);
    FillAndBox(r);
    EXPECT_EQ(r.At(10, 10), gdi::RGB(255, 255, 255));
    EXPECT_EQ(r.At(30, 10), kRed);
    c.UnClipRectangle();
    const std::vector<vcl::TPoint> tri = {{0, 0}, {60, 0}, {0, 60}};
    c.ClipPolygon(tri, 99, false);
    // The pixels a polygon with these points fills: the tips on the right
    // and bottom edges left out.
    EXPECT_EQ(FillAndBox(r), (gdi::RECT{0, 0, 60, 60}));
    EXPECT_EQ(r.At(59, 0), kRed);
    EXPECT_EQ(r.At(60, 0), gdi::RGB(255, 255, 255));
    c.UnClipRectangle();
    c.ClipPolygon(tri, 3, true);
    FillAndBox(r);
    EXPECT_EQ(r.At(5, 5), gdi::RGB(255, 255, 255));
    EXPECT_EQ(r.At(90, 90), kRed);
    c.UnClipRectangle();
    c.ClipPolygon(tri, -4, false);
    EXPECT_EQ(FillAndBox(r), (gdi::RECT{}));
    c.UnClipRectangle();
}

TEST(plot_canvas3d, clip_cube_in_2d_and_in_orthogonal_3d) {
    RasterChart r(200, 150);
    r.canvas.ClipCube({10, 10, 100, 100}, 0, 50);
    EXPECT_EQ(FillAndBox(r), (gdi::RECT{11, 11, 100, 99}));
    r.canvas.UnClipRectangle();
    // Orthogonal at 45 degrees: the front and the back face and what joins them.
    TView3DOptions options(nullptr);
    r.canvas.InitWindow(&r.bitmap.Canvas(), &options, vcl::clWhite, true, {0, 0, 200, 150});
    r.canvas.Projection(50, {0, 0, 200, 150});
    r.canvas.ClipCube({20, 60, 100, 120}, 0, 30);
    FillAndBox(r);
    const vcl::TPoint back = r.canvas.Calculate3DPosition(100, 60, 30);
    EXPECT_EQ(back, (vcl::TPoint{130, 30}));
    EXPECT_EQ(r.At(25, 115), kRed);  // front
    EXPECT_EQ(r.At(125, 35), kRed);  // back
    EXPECT_EQ(r.At(25, 40), gdi::RGB(255, 255, 255));  // above the front, left of the back
    EXPECT_EQ(r.At(125, 115), gdi::RGB(255, 255, 255));
    r.canvas.UnClipRectangle();
    // The hull: three points are their own; fewer have none.
    EXPECT_EQ(TPlotCanvas3D::ConvexHull({{0, 0}, {5, 0}, {0, 5}}).size(), 3u);
    EXPECT_TRUE(TPlotCanvas3D::ConvexHull({{0, 0}, {5, 0}}).empty());
    const auto hull = TPlotCanvas3D::ConvexHull({{0, 0}, {10, 0}, {10, 10}, {0, 10}, {5, 5}, {3, 7}});
    EXPECT_EQ(hull, (std::vector<vcl::TPoint>{{10, 10}, {0, 10}, {0, 0}, {10, 0}}));
}

TEST(plot_canvas3d, projection_in_2d_and_orthogonal_3d_and_back) {
    RasterChart r(200, 100);
    auto& c = r.canvas;
    // 2D: nothing moves either way.
    EXPECT_EQ(c.Calculate3DPosition(10, 20, 99), (vcl::TPoint{10, 20}));
    int x = 10, y = 20;
    c.Calculate2DPosition(x, y, 99);
    EXPECT_EQ(x, 10);
    EXPECT_EQ(y, 20);

    TView3DOptions v(nullptr);
    auto paint = [&] {
        c.InitWindow(&r.bitmap.Canvas(), &v, vcl::clWhite, true, {0, 0, 200, 100});
        c.Projection(40, {0, 0, 200, 100});
    };
    paint();
    EXPECT_TRUE(c.IsOrthogonal());
    EXPECT_EQ(c.ZCenter, 20);
    EXPECT_EQ(c.Calculate3DPosition(100, 50, 10), (vcl::TPoint{110, 40}));
    x = 110, y = 40;
    c.Calculate2DPosition(x, y, 10);
    EXPECT_EQ(x, 100);
    EXPECT_EQ(y, 50);
    EXPECT_EQ(c.Calculate3DPosition(100.4, 49.6, 10), (vcl::TPoint{110, 40}));
    // 135 degrees: the depth goes to the left.
    v.SetOrthoAngle(135);
    paint();
    EXPECT_EQ(c.Calculate3DPosition(100, 50, 10), (vcl::TPoint{90, 40}));
    // 90 degrees: no division by the near-zero cosine.
    v.SetOrthoAngle(90);
    paint();
    EXPECT_EQ(c.Calculate3DPosition(100, 50, 10), (vcl::TPoint{110, 40}));
    // Zoom 150: ten pixels right of the centre land fifteen right of the origin.
    v.SetOrthoAngle(45);
    v.SetZoom(150);
    v.SetHorizOffset(7);
    paint();
    EXPECT_EQ(c.ZoomFactor(), 1.5);
    EXPECT_EQ(c.Calculate3DPosition(110, 50, 0), (vcl::TPoint{122, 50}));
    x = 122, y = 50;
    c.Calculate2DPosition(x, y, 0);
    EXPECT_EQ(x, 110);
    // Far points clamp to the 32-bit range.
    EXPECT_EQ(c.Calculate3DPosition(INT32_MAX, INT32_MIN, INT32_MAX).X, INT32_MAX);
    EXPECT_EQ(c.Calculate3DPosition(INT32_MAX, INT32_MIN, INT32_MAX).Y, INT32_MIN);
    // The operations that only project.
    v.SetZoom(100);
    v.SetHorizOffset(0);
    paint();
    c.SetPixel3D(100, 50, 10, vcl::clRed);
    EXPECT_EQ(r.At(110, 40), kRed);
    EXPECT_EQ(c.GetPixel3D(100, 50, 10), vcl::clRed);
    c.Pen->SetColor(vcl::clBlue);
    c.HorizLine3D(0, 50, 60, 10);
    EXPECT_EQ(r.At(30, 50), gdi::RGB(0, 0, 255));
    c.Pen->SetWidth(3);
    c.SetPixel3D(20, 20, 0, vcl::clLime);  // a dot of the pen's width, in its colour
    EXPECT_EQ(r.At(20, 20), gdi::RGB(0, 0, 255));
    EXPECT_EQ(r.At(21, 20), gdi::RGB(0, 0, 255));
}

TEST(plot_canvas3d, a_text_shadow_is_drawn_first_at_its_offset) {
    test_support::EnsureQtApplication();
    RecordingChart r(200, 100);
    TPlotFont font;
    font.SetColor(vcl::clBlue);
    font.Shadow()->SetHorizSize(-2);
    font.Shadow()->SetVertSize(3);
    r.canvas.AssignFont(font);
    r.canvas.TextOut(10, 10, "Shade");
    const auto texts = r.Of(gdi::RecordOp::TextOut);
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0].Args, (std::vector<int>{10, 13}));
    EXPECT_EQ(texts[0].State.TextColor, gdi::RGB(192, 192, 192));
    EXPECT_EQ(texts[1].Args, (std::vector<int>{12, 10}));
    EXPECT_EQ(texts[1].State.TextColor, gdi::RGB(0, 0, 255));
    EXPECT_EQ(texts[1].State.BkMode, gdi::TRANSPARENT);
    // A transparent shadow: the silver of the opaque one becomes silver
    // mixed half with the white below (the letters drawn over it blend
    // their edges with whatever is there); what was white stays white.
    RasterChart opaque(200, 60), seeThrough(200, 60);
    TPlotFont big;
    big.SetSize(20);
    big.Shadow()->SetHorizSize(3);
    big.Shadow()->SetVertSize(3);
    opaque.canvas.AssignFont(big);
    opaque.canvas.TextOut(10, 10, "Shade");
    big.Shadow()->SetTransparency(50);
    seeThrough.canvas.AssignFont(big);
    seeThrough.canvas.TextOut(10, 10, "Shade");
    const auto before = opaque.Pixels(), after = seeThrough.Pixels();
    int silver = 0, mixed = 0;
    for (std::size_t i = 0; i < before.size(); ++i) {
        if (before[i] == gdi::RGB(255, 255, 255)) {
            ASSERT_EQ(after[i], before[i]) << i;
        }
        silver += before[i] == gdi::RGB(192, 192, 192);
        mixed += after[i] == gdi::RGB(224, 224, 224);
    }
    EXPECT_GT(silver, 20);
    EXPECT_GE(mixed, silver * 3 / 4);
}

TEST(plot_canvas3d, outlined_hollow_and_picture_filled_letters) {
    test_support::EnsureQtApplication();
    RecordingChart r(200, 100);
    TPlotFont font;
    font.OutLine()->SetVisible(true);
    font.OutLine()->SetColor(vcl::clRed);
    r.canvas.AssignFont(font);
    r.canvas.TextOut(5, 5, "Out");
    EXPECT_EQ(r.Drawing(), (std::vector<std::string>{"BeginPath", "TextOut", "EndPath", "StrokeAndFillPath"}));
    EXPECT_EQ(r.Of(gdi::RecordOp::StrokeAndFillPath)[0].State.Pen->Log().elpColor, gdi::RGB(255, 0, 0));
    // A font colour of none: hollow letters, stroked only.
    r.dc->ClearRecords();
    font.SetColor(vcl::clNone);
    r.canvas.AssignFont(font);
    r.canvas.TextOut(5, 5, "Out");
    EXPECT_EQ(r.Drawing(), (std::vector<std::string>{"BeginPath", "TextOut", "EndPath", "StrokePath"}));

    // A picture fills the letters (and nothing else) before the outline.
    RasterChart p(200, 80);
    TPlotFont pictured;
    pictured.SetSize(40);
    vcl::TBitmap green(4, 4);
    green.Canvas().Brush.SetColor(vcl::clLime);
    green.Canvas().FillRect({0, 0, 4, 4});
    pictured.Picture()->SetGraphic(&green);
    p.canvas.AssignFont(pictured);
    p.canvas.TextOut(10, 5, "II");
    const int painted = p.Count(gdi::RGB(0, 255, 0));
    EXPECT_GT(painted, 100);
    const int wide = p.canvas.TextWidth("II"), high = p.canvas.TextHeight("II");
    EXPECT_LT(painted, wide * high / 2);
    const gdi::RECT ink = p.InkBox();
    EXPECT_GE(ink.left, 10);
    EXPECT_LE(ink.right, 10 + wide);
    // The clip of the letters was taken back.
    p.canvas.Brush->SetColor(vcl::clRed);
    p.canvas.FillRect({0, 0, 200, 80});
    EXPECT_EQ(p.Count(kRed), 200 * 80);
}

TEST(plot_canvas3d, labels_turn_by_their_angle) {
    test_support::EnsureQtApplication();
    RecordingChart r(200, 200);
    auto escapement = [&](double angle) {
        r.dc->ClearRecords();
        r.canvas.RotateLabel(100, 100, "Label", angle);
        const auto text = r.Of(gdi::RecordOp::TextOut);
        EXPECT_EQ(text.size(), 1u);
        return text.empty() ? -1 : text[0].State.Font->Log().lfEscapement;
    };
    EXPECT_EQ(escapement(90), 900);
    EXPECT_EQ(escapement(450), 900);
    EXPECT_EQ(escapement(-90), -900);
    EXPECT_EQ(escapement(12.34), 123);
    // A huge angle is reduced at once rather than 360 degrees at a time.
    EXPECT_EQ(escapement(360.0 * 1e15 + 90), std::lround(std::fmod(360.0 * 1e15 + 90, 360.0) * 10));
    // The canvas font is selected again afterwards, the brush left clear.
    r.canvas.TextOut(0, 0, "after");
    EXPECT_EQ(r.Of(gdi::RecordOp::TextOut).back().State.Font->Log().lfEscapement, 0);
    EXPECT_EQ(r.canvas.Brush->Style(), vcl::TBrushStyle::bsClear);
    // Zoomed text grows with the zoom in 3D.
    TView3DOptions v(nullptr);
    v.SetZoom(200);
    r.canvas.InitWindow(&r.target, &v, vcl::clWhite, true, {0, 0, 200, 200});
    r.canvas.Projection(0, {0, 0, 200, 200});
    r.dc->ClearRecords();
    r.canvas.TextOut3D(100, 100, 0, "Zoom");
    ASSERT_EQ(r.Of(gdi::RecordOp::TextOut).size(), 1u);
    EXPECT_EQ(r.Of(gdi::RecordOp::TextOut)[0].State.Font->Log().lfHeight,
              -vcl::MulDiv(r.canvas.Font->Size() * 2, 96, 72));
}

}  // namespace
