// Shadows of shapes: flat for either sign of the sizes (inside and outside
// a 2D bracket), transparent, graded on surfaces without a bitmap, and
// smooth (blurred into the surface's bitmap) for rectangles, ellipses and
// polygons.
#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "chart/drawing/plot_shadow.h"
#include "platform/rtl/exceptions.h"
#include "support/chart_surfaces.h"
#include "support/qt_app.h"

namespace {

using namespace chart;
using test_support::RasterChart;
using test_support::RecordingChart;

constexpr gdi::COLORREF kWhite = gdi::RGB(255, 255, 255);

using PixelSet = std::set<std::pair<int, int>>;

// The offset box less the shape: where a flat shadow shows.
PixelSet Uncovered(const TRect& shape, int h, int v) {
    PixelSet out;
    for (int y = shape.Top + v; y < shape.Bottom + v; ++y)
        for (int x = shape.Left + h; x < shape.Right + h; ++x)
            if (!(x >= shape.Left && x < shape.Right && y >= shape.Top && y < shape.Bottom)) out.insert({x, y});
    return out;
}

PixelSet Where(const RasterChart& r, gdi::COLORREF colour) {
    PixelSet out;
    for (int y = 0; y < r.bitmap.Height(); ++y)
        for (int x = 0; x < r.bitmap.Width(); ++x)
            if (r.At(x, y) == colour) out.insert({x, y});
    return out;
}

// A buffered surface on a window image, whose bitmap smooth shadows use.
struct Buffered {
    vcl::TBitmap window{80, 60};
    TPlotCanvas3D canvas;
    Buffered() {
        canvas.InitWindow(&window.Canvas(), nullptr, vcl::clWhite, false, {0, 0, 80, 60});
        canvas.Projection(0, {0, 0, 80, 60});
        canvas.ResetState();
        canvas.Brush->SetColor(vcl::clWhite);
        canvas.FillRect({0, 0, 80, 60});
    }
    gdi::COLORREF At(int x, int y) { return canvas.Bitmap()->Handle()->GetPixel(x, y); }
};

TEST(plot_shadow, flat_shadows_show_right_where_the_shape_leaves_them_for_either_sign) {
    test_support::EnsureQtApplication();
    const TRect shape{20, 15, 50, 35};
    for (auto [h, v] : std::vector<std::pair<int, int>>{{3, 3}, {-3, -3}, {4, -2}, {-5, 6}, {0, 4}}) {
        for (bool bracket : {false, true}) {
            RasterChart r(80, 60);
            TPlotShadow shadow;
            shadow.SetSmooth(false);
            shadow.SetColor(vcl::clBlack);
            shadow.SetHorizSize(h);
            shadow.SetVertSize(v);
            if (bracket) r.canvas.Begin2D();
            shadow.Draw(r.canvas, shape, 0, 0);
            if (bracket) r.canvas.End2D();
            EXPECT_EQ(Where(r, 0), Uncovered(shape, h, v)) << h << "," << v << " " << bracket;
        }
    }
    // Rounded: the whole offset rounded rectangle.
    RecordingChart rec(80, 60);
    TPlotShadow round;
    round.SetSmooth(false);
    round.SetSize(4);
    round.Draw(rec.canvas, shape, 0, 6);
    const auto rr = rec.Of(gdi::RecordOp::RoundRect);
    ASSERT_EQ(rr.size(), 1u);
    EXPECT_EQ(rr[0].Args, (std::vector<int>{24, 19, 54, 39, 6, 6}));
    EXPECT_EQ(rr[0].State.Brush->Log().lbColor, gdi::RGB(192, 192, 192));
    EXPECT_TRUE(rr[0].State.Pen->IsNull());
}

TEST(plot_shadow, nothing_without_size_or_colour_and_the_canvas_keeps_its_pen_and_brush) {
    test_support::EnsureQtApplication();
    RecordingChart r(80, 60);
    TPlotShadow shadow;
    shadow.DrawRect(r.canvas, {10, 10, 30, 30});
    shadow.DrawEllipse(r.canvas, {10, 10, 30, 30}, 0);
    const std::vector<TPoint> points{{1, 1}, {9, 1}, {5, 9}};
    shadow.DrawPolygon(r.canvas, points, 0);
    shadow.SetSize(3);
    shadow.SetColor(vcl::clNone);
    shadow.SetTransparency(50);
    shadow.DrawRect(r.canvas, {10, 10, 30, 30});
    EXPECT_TRUE(r.dc->Records().empty());
    // After a shadow the pen and brush are what they were.
    shadow.SetColor(vcl::clBlack);
    r.canvas.Pen->SetColor(vcl::clRed);
    r.canvas.Pen->SetWidth(3);
    r.canvas.Brush->SetColor(vcl::clBlue);
    r.canvas.Brush->SetStyle(vcl::TBrushStyle::bsCross);
    shadow.SetTransparency(0);
    shadow.SetSmooth(false);
    shadow.DrawRect(r.canvas, {10, 10, 30, 30});
    shadow.DrawEllipse(r.canvas, {10, 10, 30, 30}, 0);
    shadow.DrawPolygon(r.canvas, points, 0);
    EXPECT_EQ(r.canvas.Pen->Color(), vcl::clRed);
    EXPECT_EQ(r.canvas.Pen->Width(), 3);
    EXPECT_EQ(r.canvas.Brush->Color(), vcl::clBlue);
    EXPECT_EQ(r.canvas.Brush->Style(), vcl::TBrushStyle::bsCross);
    // The ellipse and polygon shadows are the shapes moved by the sizes.
    EXPECT_EQ(r.Of(gdi::RecordOp::Ellipse)[0].Args, (std::vector<int>{13, 13, 34, 34}));
    const auto polygon = r.Of(gdi::RecordOp::Polygon).back();
    EXPECT_EQ(polygon.Points, (std::vector<gdi::POINT>{{4, 4}, {12, 4}, {8, 12}}));
}

TEST(plot_shadow, transparent_and_graded_shadows) {
    test_support::EnsureQtApplication();
    // Half transparent black over white: the platform blend's half grey.
    RasterChart r(80, 60);
    TPlotShadow shadow;
    shadow.SetSmooth(false);
    shadow.SetColor(vcl::clBlack);
    shadow.SetSize(4);
    shadow.SetTransparency(50);
    shadow.DrawRect(r.canvas, {10, 10, 40, 30});
    EXPECT_EQ(Where(r, gdi::RGB(128, 128, 128)), Uncovered({10, 10, 40, 30}, 4, 4));
    // Graded (smooth on a surface without a bitmap): (64, 64, 64) four
    // rows deep lightens by 48 a row.
    RasterChart g(80, 60);
    TPlotShadow graded;
    graded.SetColor(gdi::RGB(64, 64, 64));
    graded.SetVertSize(4);
    graded.Draw(g.canvas, {10, 10, 40, 30}, 0, 0);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(g.At(20, 30 + i), gdi::RGB(64 + 48 * i, 64 + 48 * i, 64 + 48 * i)) << i;
    EXPECT_EQ(g.At(20, 34), kWhite);
    EXPECT_EQ(g.At(20, 29), kWhite);
    // Each row stops one pixel earlier than the next: the corner is cut.
    EXPECT_EQ(g.At(37, 30), kWhite);
    EXPECT_EQ(g.At(37, 33), gdi::RGB(208, 208, 208));
    // Upwards and to the left for negative sizes.
    RasterChart n(80, 60);
    graded.SetVertSize(-3);
    graded.SetHorizSize(-3);
    graded.Draw(n.canvas, {20, 20, 50, 40}, 0, 0);
    EXPECT_EQ(n.At(30, 19), gdi::RGB(64, 64, 64));
    EXPECT_EQ(n.At(19, 25), gdi::RGB(64, 64, 64));
    EXPECT_EQ(n.At(30, 41), kWhite);
    EXPECT_EQ(n.At(51, 25), kWhite);
    // Ellipses on such a surface: bands from dark (128 darker) to light.
    RecordingChart rec(80, 60);
    TPlotShadow soft;
    soft.SetColor(gdi::RGB(200, 100, 50));
    soft.SetSize(5);
    soft.DrawEllipse(rec.canvas, {10, 10, 40, 30}, 0);
    const auto bands = rec.Of(gdi::RecordOp::Ellipse);
    ASSERT_FALSE(bands.empty());
    EXPECT_EQ(bands.back().State.DCBrushColor, gdi::RGB(72, 0, 0));
    EXPECT_EQ(rec.Of(gdi::RecordOp::FillRect)[0].State.DCBrushColor, gdi::RGB(232, 132, 82));
}

// A surface that cannot mix what a transparency block covers.
class UnmixableCanvas : public TPlotCanvas3D {
public:
    void EndBlending(std::unique_ptr<TPlotBlend>) override { throw rtl::Exception("no memory to mix"); }
};

TEST(plot_shadow, a_shadow_that_cannot_be_mixed_stays_drawn_and_leaves_a_trace) {
    test_support::EnsureQtApplication();
    vcl::TBitmap bitmap(80, 60);
    UnmixableCanvas canvas;
    canvas.SetBufferedDisplay(false);
    canvas.InitWindow(&bitmap.Canvas(), nullptr, vcl::clWhite, false, {0, 0, 80, 60});
    canvas.Projection(0, {0, 0, 80, 60});
    canvas.Pen->SetColor(vcl::clRed);
    canvas.Brush->SetColor(vcl::clBlue);
    TPlotShadow shadow;
    shadow.SetSmooth(false);
    shadow.SetColor(vcl::clBlack);
    shadow.SetSize(4);
    shadow.SetTransparency(50);
    ::testing::internal::CaptureStderr();
    shadow.DrawRect(canvas, {10, 10, 40, 30});
    const std::string trace = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(trace, "vostrel: mixing a transparent shadow: no memory to mix\n");
    // Drawn opaque, and the canvas has its own pen and brush back.
    EXPECT_EQ(bitmap.Handle()->GetPixel(42, 20), gdi::RGB(0, 0, 0));
    EXPECT_EQ(canvas.Pen->Color(), vcl::clRed);
    EXPECT_EQ(canvas.Brush->Color(), vcl::clBlue);
}

TEST(plot_shadow, smooth_shadows_blur_into_the_bitmap_where_the_shape_moved) {
    test_support::EnsureQtApplication();
    const TRect shape{20, 15, 50, 35};
    // A plain rectangle: only the fringe right of and below the shape is
    // worked; the shadow's inside, under the shape, is left alone.
    Buffered b;
    TPlotShadow shadow;
    shadow.SetColor(vcl::clBlack);
    shadow.SetSize(6);
    shadow.DrawRect(b.canvas, shape);
    EXPECT_EQ(b.At(30, 25), kWhite);  // under the shape
    EXPECT_LT(gdi::GetRValue(b.At(53, 28)), 40);
    EXPECT_LT(gdi::GetRValue(b.At(35, 38)), 40);
    EXPECT_GT(gdi::GetRValue(b.At(56, 28)), gdi::GetRValue(b.At(53, 28)));
    EXPECT_EQ(b.At(15, 25), kWhite);  // left of the shape
    EXPECT_EQ(b.At(35, 10), kWhite);  // above it
    EXPECT_EQ(b.At(75, 28), kWhite);  // beyond the blur's reach
    // Negative sizes: up and to the left, the whole bitmap blurred.
    Buffered n;
    shadow.SetHorizSize(-6);
    shadow.SetVertSize(-6);
    shadow.DrawRect(n.canvas, shape);
    EXPECT_LT(gdi::GetRValue(n.At(16, 20)), 40);
    EXPECT_LT(gdi::GetRValue(n.At(30, 11)), 40);
    EXPECT_LT(gdi::GetRValue(n.At(30, 25)), 40);  // the whole blurred shape lies under it
    EXPECT_EQ(n.At(56, 28), kWhite);
    EXPECT_EQ(n.At(35, 40), kWhite);
    // Ellipses and polygons blur their whole shape: darkest in its middle.
    Buffered e;
    shadow.SetSize(5);
    shadow.DrawEllipse(e.canvas, shape, 0);
    EXPECT_LT(gdi::GetRValue(e.At(40, 30)), 20);
    EXPECT_EQ(e.At(21, 16), kWhite);  // outside the moved ellipse
    Buffered p;
    const std::vector<TPoint> triangle{{20, 10}, {60, 10}, {20, 50}};
    shadow.DrawPolygon(p.canvas, triangle, 0);
    EXPECT_LT(gdi::GetRValue(p.At(30, 20)), 20);
    EXPECT_EQ(p.At(60, 50), kWhite);
    // A rounded rectangle: its whole shape blurred, the corners softer than
    // the sides.
    Buffered rr;
    shadow.SetSize(6);
    shadow.Draw(rr.canvas, shape, 0, 16);
    EXPECT_LT(gdi::GetRValue(rr.At(53, 30)), 60);
    EXPECT_GT(gdi::GetRValue(rr.At(54, 39)), gdi::GetRValue(rr.At(53, 30)));
    EXPECT_LT(gdi::GetRValue(rr.At(30, 25)), 60);  // whole: also under the shape, drawn over it next
    // A clip keeps the blur inside it.
    Buffered c;
    c.canvas.ClipRectangle({0, 0, 53, 60});
    shadow.SetClip(true);
    shadow.DrawRect(c.canvas, shape);
    c.canvas.UnClipRectangle();
    for (int y = 0; y < 60; ++y)
        for (int x = 53; x < 80; ++x) ASSERT_EQ(c.At(x, y), kWhite) << x << "," << y;
    EXPECT_LT(gdi::GetRValue(c.At(52, 30)), 60);
}

}  // namespace
