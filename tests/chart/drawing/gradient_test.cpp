// Gradients as the surface paints them: band fills in each direction with
// their balance, the gradient's own paths (middle colour, monochrome,
// elliptical bands, a sub-gradient blended over, turned through a bitmap,
// polygons), and rectangles that are empty or far too large.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <vector>

#include "chart/drawing/plot_gradient.h"
#include "chart/drawing/view3d_options.h"
#include "support/chart_surfaces.h"
#include "support/qt_app.h"

namespace {

using namespace chart;
using test_support::RasterChart;
using test_support::RecordingChart;

constexpr gdi::COLORREF kWhite = gdi::RGB(255, 255, 255);

gdi::COLORREF Grey(int v) { return gdi::RGB(v, v, v); }

// The colours down one column, top to bottom.
std::vector<gdi::COLORREF> Column(const RasterChart& r, int x, int top, int bottom) {
    std::vector<gdi::COLORREF> out;
    for (int y = top; y < bottom; ++y) out.push_back(r.At(x, y));
    return out;
}

TEST(gradient_fill, bands_run_from_the_start_colour_with_their_balance) {
    test_support::EnsureQtApplication();
    // White to black over 10 rows: 10 bands, white at the bottom, black on
    // top; band i from the bottom is 255 - 255 * i / 9, truncated.
    RasterChart r(40, 1100);
    r.canvas.GradientFill({5, 0, 35, 10}, vcl::clWhite, vcl::clBlack, gdTopBottom, 50, 0, 0);
    for (int row = 0; row < 10; ++row) EXPECT_EQ(r.At(20, row), Grey(255 + (-255 * (9 - row)) / 9)) << row;
    EXPECT_EQ(r.At(20, 9), kWhite);
    EXPECT_EQ(r.At(20, 0), Grey(0));
    EXPECT_EQ(r.At(4, 5), kWhite);
    EXPECT_EQ(r.At(35, 5), kWhite);
    // Balance 100: step i takes ((1 + i) / 10) squared of the way.
    r.canvas.GradientFill({5, 20, 35, 30}, vcl::clWhite, vcl::clBlack, gdTopBottom, 100, 0, 0);
    for (int i = 0; i < 10; ++i) {
        const double k = std::pow((1.0 + i) / 10.0, 2.0);
        EXPECT_EQ(r.At(20, 29 - i), Grey(static_cast<int>(std::nearbyint(-255 * k)) + 255)) << i;
    }
    // 1000 rows: 256 bands of 3 or 4 rows, each its own colour.
    r.canvas.GradientFill({5, 100, 35, 1100}, vcl::clWhite, vcl::clBlack, gdBottomTop, 50, 0, 0);
    const std::vector<gdi::COLORREF> column = Column(r, 20, 100, 1100);
    std::vector<int> runs{1};
    for (std::size_t i = 1; i < column.size(); ++i) {
        if (column[i] == column[i - 1]) ++runs.back();
        else runs.push_back(1);
    }
    ASSERT_EQ(runs.size(), 256u);
    for (int run : runs) EXPECT_TRUE(run == 3 || run == 4) << run;
    // Bottom to top swaps the colours: black at the bottom.
    EXPECT_EQ(column.back(), Grey(0));
    EXPECT_EQ(column.front(), kWhite);
}

TEST(gradient_fill, every_direction_fills_its_rectangle_and_nothing_else) {
    test_support::EnsureQtApplication();
    // Wide, tall (reversed corners are the same rectangle), one pixel high.
    for (const TRect& rect : {TRect{10, 5, 50, 40}, TRect{30, 45, 20, 2}, TRect{5, 20, 55, 21}})
    for (int d = gdTopBottom; d <= gdDiagonalDown; ++d) {
        RasterChart r(60, 50);
        r.canvas.GradientFill(rect, vcl::clRed, vcl::clBlue, static_cast<TGradientDirection>(d), 50, 0, 0);
        TRect n = rect;
        NormalizeRect(n);
        if (n.Bottom - n.Top == 1 && (d == gdTopBottom || d == gdBottomTop)) continue;  // one band: none drawn
        for (int y = 0; y < 50; ++y)
            for (int x = 0; x < 60; ++x) {
                const gdi::COLORREF c = r.At(x, y);
                if (x >= n.Left && x < n.Right && y >= n.Top && y < n.Bottom)
                    ASSERT_TRUE(gdi::GetGValue(c) == 0 && gdi::GetRValue(c) + gdi::GetBValue(c) >= 250)
                        << d << ": " << x << "," << y;
                else
                    ASSERT_EQ(c, kWhite) << d << ": " << x << "," << y;
            }
    }
    // From the left corners: the corner takes the start colour's opposite
    // (the colours are swapped), the far corner nearly the start.
    RasterChart c(40, 30);
    c.canvas.GradientFill({0, 0, 40, 30}, vcl::clRed, vcl::clBlue, gdFromTopLeft, 50, 0, 0);
    EXPECT_EQ(c.At(0, 0), gdi::RGB(0, 0, 255));
    EXPECT_GT(gdi::GetRValue(c.At(39, 29)), 200);
    c.canvas.GradientFill({0, 0, 40, 30}, vcl::clRed, vcl::clBlue, gdFromBottomLeft, 50, 0, 0);
    EXPECT_EQ(c.At(0, 29), gdi::RGB(0, 0, 255));
    EXPECT_GT(gdi::GetRValue(c.At(39, 0)), 200);
}

TEST(gradient_fill, empty_rectangles_draw_nothing_and_huge_ones_finish) {
    test_support::EnsureQtApplication();
    RecordingChart rec(50, 50);
    for (int d = gdTopBottom; d <= gdDiagonalDown; ++d) {
        rec.canvas.GradientFill({10, 10, 10, 40}, vcl::clRed, vcl::clBlue, static_cast<TGradientDirection>(d), 50, 0, 0);
        rec.canvas.GradientFill({10, 10, 40, 10}, vcl::clRed, vcl::clBlue, static_cast<TGradientDirection>(d), 50, 0, 0);
    }
    EXPECT_TRUE(rec.Drawing().empty());
    TPlotGradient gradient;
    gradient.Draw(rec.canvas, {5, 5, 5, 5});
    gradient.SetAngle(30);
    gradient.Draw(rec.canvas, {5, 5, 30, 5});
    EXPECT_TRUE(rec.Drawing().empty());
    // Rectangles far beyond the surface fill what can be seen, at once.
    const auto start = std::chrono::steady_clock::now();
    for (int d = gdTopBottom; d <= gdDiagonalDown; ++d) {
        RasterChart r(40, 30);
        r.canvas.GradientFill({-1000000000, -1000000000, 1000000000, 1000000000}, vcl::clRed, vcl::clBlue,
                              static_cast<TGradientDirection>(d), 50, 0, 0);
        EXPECT_EQ(r.Count(kWhite), 0) << d;
    }
    TPlotGradient turned;
    turned.SetStartColor(vcl::clRed);
    turned.SetEndColor(vcl::clBlue);
    turned.SetAngle(45);
    RasterChart t(40, 30);
    turned.Draw(t.canvas, {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX});
    EXPECT_EQ(t.Count(kWhite), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
}

TEST(plot_gradient, middle_colour_monochrome_and_sub_gradient) {
    test_support::EnsureQtApplication();
    // A middle colour splits an odd height at (Top + Bottom) div 2: the
    // upper half runs from the middle colour (bottom) to the end (top),
    // the lower half from the start (bottom) to the middle colour.
    RasterChart r(20, 40);
    TPlotGradient g;
    g.SetStartColor(vcl::clRed);
    g.SetEndColor(vcl::clBlue);
    g.SetMidColor(vcl::clLime);
    g.Draw(r.canvas, {0, 3, 20, 18});  // split row 10
    EXPECT_EQ(r.At(5, 9), gdi::RGB(0, 255, 0));
    EXPECT_EQ(r.At(5, 10), gdi::RGB(0, 255, 0));
    EXPECT_EQ(r.At(5, 3), gdi::RGB(0, 0, 255));
    EXPECT_EQ(r.At(5, 17), gdi::RGB(255, 0, 0));
    // From the centre the middle colour is left out, with balance 50.
    RasterChart a(30, 20), b(30, 20);
    g.SetDirection(gdFromCenter);
    g.SetBalance(80);
    g.Draw(a.canvas, {0, 0, 30, 20});
    b.canvas.GradientFill({0, 0, 30, 20}, vcl::clRed, vcl::clBlue, gdFromCenter, 50, 0, 0);
    EXPECT_EQ(a.Pixels(), b.Pixels());
    // Monochrome: red and blue both become the grey of their mean, 85.
    RasterChart m(20, 20);
    m.canvas.SetMonochrome(true);
    TPlotGradient mono;
    mono.SetStartColor(vcl::clRed);
    mono.SetEndColor(vcl::clBlue);
    mono.Draw(m.canvas, {0, 0, 20, 20});
    EXPECT_EQ(m.Count(Grey(85)), 400);
    // Turned, it stays grey.
    mono.SetAngle(30);
    mono.SetEndColor(vcl::clYellow);
    m.canvas.Pen->SetColor(vcl::clBlack);
    mono.Draw(m.canvas, {0, 0, 20, 20});
    EXPECT_EQ(test_support::CountPixels(*m.bitmap.Handle(), [](gdi::COLORREF c) {
        return gdi::GetRValue(c) != gdi::GetGValue(c) || gdi::GetGValue(c) != gdi::GetBValue(c);
    }), 0);
    // Balances far outside 0..100 hold each channel to its range.
    RasterChart wild(10, 10);
    wild.canvas.GradientFill({0, 0, 10, 10}, gdi::RGB(250, 10, 0), gdi::RGB(0, 250, 0), gdTopBottom, -400, 0, 0);
    EXPECT_EQ(wild.At(5, 9), gdi::RGB(0, 255, 0));
    EXPECT_EQ(wild.At(5, 0), gdi::RGB(0, 250, 0));
    // A sub-gradient of transparency 50 shows half over its parent; an
    // invisible one not at all.
    RasterChart s(20, 20);
    TPlotGradient parent;
    parent.SetStartColor(vcl::clRed);
    parent.SetEndColor(vcl::clRed);
    parent.SubGradient()->SetStartColor(vcl::clBlue);
    parent.SubGradient()->SetEndColor(vcl::clBlue);
    parent.Draw(s.canvas, {0, 0, 20, 20});
    EXPECT_EQ(s.Count(gdi::RGB(255, 0, 0)), 400);
    parent.SubGradient()->SetVisible(true);
    parent.Draw(s.canvas, {0, 0, 20, 20});
    EXPECT_EQ(s.Count(gdi::RGB(128, 0, 127)), 400);
    // A radial sub-gradient is drawn with its elliptical bands.
    parent.SubGradient()->SetDirection(gdRadial);
    parent.SubGradient()->SetTransparency(0);
    parent.SubGradient()->SetStartColor(vcl::clLime);
    parent.Draw(s.canvas, {0, 0, 20, 20});
    EXPECT_EQ(s.At(0, 0), gdi::RGB(0, 0, 255));
    EXPECT_GT(gdi::GetGValue(s.At(10, 10)), 200);
}

TEST(plot_gradient, elliptical_bands_count_and_place) {
    test_support::EnsureQtApplication();
    // 10 x 4: N = 10, eleven ellipses from the end colour to the start; the
    // first one (1, 1, 11, 5) around the centre (6, 3), moved one pixel.
    RecordingChart r(40, 40);
    TPlotGradient g;
    g.SetStartColor(gdi::RGB(0, 0, 0));
    g.SetEndColor(gdi::RGB(220, 110, 0));
    DrawRadialGradient(g, r.canvas, {0, 0, 10, 4});
    auto ellipses = r.Of(gdi::RecordOp::Ellipse);
    ASSERT_EQ(ellipses.size(), 11u);
    EXPECT_EQ(ellipses.front().Args, (std::vector<int>{1, 1, 11, 5}));
    EXPECT_EQ(ellipses.front().State.DCBrushColor, gdi::RGB(220, 110, 0));
    EXPECT_EQ(ellipses.back().State.DCBrushColor, gdi::RGB(0, 0, 0));
    // The background is the end colour, the clip taken back afterwards.
    const auto fills = r.Of(gdi::RecordOp::FillRect);
    ASSERT_EQ(fills.size(), 1u);
    EXPECT_EQ(fills[0].Args, (std::vector<int>{0, 0, 10, 4}));
    // 11 x 4: N = 11 less one for the odd width: again eleven ellipses, the
    // steps still those of 11, so the first band is not quite the end colour.
    r.dc->ClearRecords();
    DrawRadialGradient(g, r.canvas, {0, 0, 11, 4});
    ellipses = r.Of(gdi::RecordOp::Ellipse);
    ASSERT_EQ(ellipses.size(), 11u);
    EXPECT_EQ(ellipses.front().Args, (std::vector<int>{2, 1, 12, 5}));
    EXPECT_EQ(ellipses.front().State.DCBrushColor, gdi::RGB(200, 100, 0));
    // An empty rectangle is skipped.
    r.dc->ClearRecords();
    DrawRadialGradient(g, r.canvas, {5, 5, 5, 9});
    EXPECT_TRUE(r.Drawing().empty());
}

TEST(plot_gradient, turned_gradients_cover_their_rectangle_exactly) {
    test_support::EnsureQtApplication();
    // 90 degrees on 100 x 20: every pixel of the rectangle painted (the pen
    // frames it), none outside.
    for (int angle : {90, 30, -45, 200}) {
        RasterChart r(140, 60);
        TPlotGradient g;
        g.SetStartColor(vcl::clRed);
        g.SetEndColor(vcl::clBlue);
        g.SetAngle(angle);
        r.canvas.Pen->SetColor(vcl::clLime);
        g.Draw(r.canvas, {20, 20, 120, 40});
        for (int y = 0; y < 60; ++y)
            for (int x = 0; x < 140; ++x) {
                const gdi::COLORREF c = r.At(x, y);
                const bool inside = x >= 20 && x < 120 && y >= 20 && y < 40;
                const bool frame = inside && (x == 20 || x == 119 || y == 20 || y == 39);
                if (!inside) ASSERT_EQ(c, kWhite) << angle << ": " << x << "," << y;
                else if (frame) ASSERT_EQ(c, gdi::RGB(0, 255, 0)) << angle << ": " << x << "," << y;
                else ASSERT_TRUE(gdi::GetGValue(c) == 0 && gdi::GetRValue(c) + gdi::GetBValue(c) >= 250)
                    << angle << ": " << x << "," << y;
            }
        EXPECT_EQ(g.Angle(), angle);
    }
    // Without the rotation (the image filters not started) the gradient is
    // drawn unturned.
    const TPlotRotateBitmap hook = PlotRotateBitmapHook;
    PlotRotateBitmapHook = nullptr;
    RasterChart plain(40, 40), turned(40, 40);
    TPlotGradient g;
    g.Draw(plain.canvas, {0, 0, 40, 40});
    g.SetAngle(60);
    g.Draw(turned.canvas, {0, 0, 40, 40});
    PlotRotateBitmapHook = hook;
    EXPECT_EQ(plain.Pixels(), turned.Pixels());
}

TEST(plot_gradient, polygons_are_filled_inside_their_outline_at_depth) {
    test_support::EnsureQtApplication();
    RasterChart r(60, 60);
    TPlotGradient g;
    g.SetStartColor(vcl::clRed);
    g.SetEndColor(vcl::clRed);
    r.canvas.Pen->SetColor(vcl::clBlack);
    const std::vector<TPoint> triangle{{10, 10}, {50, 10}, {10, 50}};
    g.DrawPolygon(r.canvas, triangle);
    // No outline (the pen is made clear), nothing outside the triangle.
    EXPECT_EQ(r.Count(gdi::RGB(0, 0, 0)), 0);
    EXPECT_EQ(r.At(12, 12), gdi::RGB(255, 0, 0));
    EXPECT_EQ(r.At(45, 45), kWhite);
    EXPECT_GT(r.Count(gdi::RGB(255, 0, 0)), 700);
    EXPECT_EQ(r.canvas.Pen->Style(), vcl::TPenStyle::psClear);
    // At depth 10 in orthogonal 3D the polygon moves 10 right and 10 up.
    RasterChart d(80, 80);
    TView3DOptions options(nullptr);
    d.canvas.InitWindow(&d.bitmap.Canvas(), &options, vcl::clWhite, true, {0, 0, 80, 80});
    d.canvas.Projection(0, {0, 0, 80, 80});
    g.DrawPolygonWithZ(d.canvas, triangle, 10);
    EXPECT_EQ(d.At(22, 2), gdi::RGB(255, 0, 0));
    EXPECT_EQ(d.At(12, 12), kWhite);
}

}  // namespace
