// Transparency blocks (through the platform blend and through the byte
// loop), smooth resampling, and the two small geometric routines.
#include <gtest/gtest.h>

#include <vector>

#include "chart/drawing/drawing_setup.h"
#include "chart/drawing/resample.h"
#include "support/chart_surfaces.h"
#include "support/qt_app.h"

namespace {

using namespace chart;
using test_support::RasterChart;

// Scrambled pixels, then a block of Transparency over (10, 10, 40, 30) in
// which the rectangle is filled red. Returns the pixels before the block.
std::vector<gdi::COLORREF> BlendOverScramble(RasterChart& r, int transparency) {
    for (int y = 0; y < r.bitmap.Height(); ++y)
        for (int x = 0; x < r.bitmap.Width(); ++x)
            r.bitmap.Handle()->SetPixel(x, y, gdi::RGB(x * 37 + y * 11, x * 5 + y * 71, (x ^ y) * 13));
    r.bitmap.Handle()->SetPixel(15, 15, gdi::RGB(255, 255, 255));
    const std::vector<gdi::COLORREF> before = r.Pixels();
    auto blend = r.canvas.BeginBlending({10, 10, 40, 30}, transparency);
    r.canvas.Brush->SetColor(vcl::clRed);
    r.canvas.FillRect({0, 0, 50, 40});
    r.canvas.EndBlending(std::move(blend));
    return before;
}

// Restores the platform blend setting when the scope ends.
struct AlphaBlendSwitch {
    bool saved = PlotAlphaBlendAvailable;
    explicit AlphaBlendSwitch(bool on) { PlotAlphaBlendAvailable = on; }
    ~AlphaBlendSwitch() { PlotAlphaBlendAvailable = saved; }
};

bool Inside(int x, int y) { return x >= 10 && x < 40 && y >= 10 && y < 30; }

TEST(plot_blend, transparency_zero_keeps_the_drawing_and_a_hundred_the_background) {
    test_support::EnsureQtApplication();
    for (bool platform : {true, false}) {
        AlphaBlendSwitch use(platform);
        for (int transparency : {0, 100, 120, -5}) {
            RasterChart r(50, 40);
            const auto before = BlendOverScramble(r, transparency);
            // Outside the block the fill stays; inside, 0 (and below) keeps the
            // red, 100 (and above: no wrapped colours) gives the old pixels.
            for (int y = 0; y < 40; ++y)
                for (int x = 0; x < 50; ++x) {
                    const gdi::COLORREF want = !Inside(x, y) || transparency <= 0 ? gdi::RGB(255, 0, 0)
                                                                                  : before[y * 50 + x];
                    ASSERT_EQ(r.At(x, y), want) << platform << " " << transparency << ": " << x << "," << y;
                }
        }
    }
}

TEST(plot_blend, the_byte_loop_mixes_each_channel_by_the_percent) {
    test_support::EnsureQtApplication();
    AlphaBlendSwitch use(false);
    RasterChart r(50, 40);
    const auto before = BlendOverScramble(r, 30);
    // t + 30 * (s - t) / 100 per channel, truncated; a pure white target
    // loses a step of red first (the fill is red, so no target is white).
    for (int y = 10; y < 30; ++y)
        for (int x = 10; x < 40; ++x) {
            const gdi::COLORREF s = before[y * 50 + x];
            auto mix = [](int t, int s) { return t + 30 * (s - t) / 100; };
            ASSERT_EQ(r.At(x, y), gdi::RGB(mix(255, gdi::GetRValue(s)), mix(0, gdi::GetGValue(s)), mix(0, gdi::GetBValue(s))))
                << x << "," << y;
        }
    // Over white drawing the red loses a step: 254 + 30 * (s - 254) / 100.
    vcl::TBitmap saved(1, 1), target(1, 1);
    saved.Handle()->SetPixel(0, 0, gdi::RGB(0, 0, 0));
    PlotBlendPixels(saved, target, 0, 0, 30);
    EXPECT_EQ(target.Handle()->GetPixel(0, 0), gdi::RGB(254 - 76, 255 - 76, 255 - 76));
}

TEST(plot_blend, blocks_clamp_their_rectangle_nest_and_skip_metafiles) {
    test_support::EnsureQtApplication();
    RasterChart r(50, 40);
    // Entirely at negative coordinates: clamped to start at 0, one pixel.
    auto off = r.canvas.BeginBlending({-30, -30, -10, -10}, 50);
    EXPECT_TRUE(off->Valid());
    EXPECT_EQ(off->Rectangle(), (TRect{0, 0, 1, 1}));
    r.canvas.EndBlending(std::move(off));
    // Limited to the surface; beyond it nothing is left to save.
    auto beyond = r.canvas.BeginBlending({60, 10, 90, 20}, 50);
    EXPECT_FALSE(beyond->Valid());
    r.canvas.EndBlending(std::move(beyond));
    // An inner block of its own transparency does not change the outer one.
    auto outer = r.canvas.BeginBlending({0, 0, 50, 40}, 100);
    r.canvas.Brush->SetColor(vcl::clBlue);
    r.canvas.FillRect({0, 0, 50, 40});
    auto inner = r.canvas.BeginBlending({0, 0, 10, 10}, 0);
    r.canvas.EndBlending(std::move(inner));
    r.canvas.EndBlending(std::move(outer));
    EXPECT_EQ(r.Count(gdi::RGB(255, 255, 255)), 2000);
    // While drawing into a metafile nothing is mixed.
    r.canvas.Metafiling = true;
    auto skipped = r.canvas.BeginBlending({0, 0, 50, 40}, 100);
    r.canvas.FillRect({0, 0, 50, 40});
    r.canvas.EndBlending(std::move(skipped));
    EXPECT_EQ(r.Count(gdi::RGB(0, 0, 255)), 2000);
    r.canvas.Metafiling = false;
}

TEST(plot_blend, buffered_surfaces_mix_in_their_own_bitmap) {
    test_support::EnsureQtApplication();
    vcl::TBitmap window(60, 40);
    TPlotCanvas3D c;
    c.InitWindow(&window.Canvas(), nullptr, vcl::clWhite, false, {0, 0, 60, 40});
    c.Projection(0, {0, 0, 60, 40});
    c.ResetState();
    c.Brush->SetColor(vcl::clWhite);
    c.FillRect({0, 0, 60, 40});
    auto blend = c.BeginBlending({0, 0, 30, 40}, 100);
    c.Brush->SetColor(vcl::clBlack);
    c.FillRect({0, 0, 60, 40});
    c.EndBlending(std::move(blend));
    c.ShowImage(&window.Canvas(), &window.Canvas(), {0, 0, 60, 40});
    EXPECT_EQ(test_support::CountPixels(*window.Handle(), gdi::RGB(255, 255, 255)), 1200);
    // Drawing directly on another canvas while the bitmap is kept: the mix
    // happens where the drawing is, not in the kept bitmap.
    vcl::TBitmap other(60, 40);
    c.DirectDrawing = true;
    c.SetBufferedDisplay(false);
    c.InitWindow(&other.Canvas(), nullptr, vcl::clWhite, false, {0, 0, 60, 40});
    auto direct = c.BeginBlending({0, 0, 30, 40}, 100);
    c.Brush->SetColor(vcl::clBlack);
    c.FillRect({0, 0, 60, 40});
    c.EndBlending(std::move(direct));
    EXPECT_EQ(test_support::CountPixels(*other.Handle(), gdi::RGB(255, 255, 255)), 1200);
}

TEST(smooth_stretch, resamples_without_wrapping_or_reading_outside) {
    test_support::EnsureQtApplication();
    // 2 x 2 to 4 x 4: a ramp held to 0..255 (bright sums past 1.0 stay
    // 255 rather than wrap), plain rows staying plain.
    vcl::TBitmap small(2, 2), big(4, 4);
    small.Handle()->SetPixel(0, 0, gdi::RGB(255, 255, 255));
    small.Handle()->SetPixel(1, 0, gdi::RGB(255, 255, 255));
    small.Handle()->SetPixel(0, 1, gdi::RGB(0, 0, 0));
    small.Handle()->SetPixel(1, 1, gdi::RGB(0, 0, 0));
    SmoothStretch(small, big);
    EXPECT_EQ(big.PixelFormat(), vcl::TPixelFormat::pf24bit);
    for (int x = 0; x < 4; ++x) {
        EXPECT_GE(gdi::GetRValue(big.Handle()->GetPixel(x, 0)), 253) << x;
        EXPECT_EQ(big.Handle()->GetPixel(x, 3), gdi::RGB(0, 0, 0)) << x;
        EXPECT_GT(gdi::GetRValue(big.Handle()->GetPixel(x, 1)), gdi::GetRValue(big.Handle()->GetPixel(x, 2)));
    }
    // A hard edge rings past white and black: held there, never wrapped.
    vcl::TBitmap edge(4, 2), wide(12, 2);
    for (int x = 0; x < 4; ++x)
        for (int y = 0; y < 2; ++y) edge.Handle()->SetPixel(x, y, x < 2 ? gdi::RGB(255, 255, 255) : gdi::RGB(0, 0, 0));
    SmoothStretch(edge, wide);
    for (int x = 0; x < 4; ++x) EXPECT_GE(gdi::GetRValue(wide.Handle()->GetPixel(x, 0)), 240) << x;
    for (int x = 8; x < 12; ++x) EXPECT_LE(gdi::GetRValue(wide.Handle()->GetPixel(x, 0)), 15) << x;
    // The linear kernel from 3 to 5 pixels: exact halfway values.
    vcl::TBitmap three(3, 2), five(5, 2);
    for (int x = 0; x < 3; ++x)
        for (int y = 0; y < 2; ++y) three.Handle()->SetPixel(x, y, gdi::RGB(x * 100, 0, 0));
    SmoothStretch(three, five, true);
    for (int x = 0; x < 5; ++x) EXPECT_EQ(five.Handle()->GetPixel(x, 0), gdi::RGB(x * 50, 0, 0)) << x;
    // Shrinking 10 to 2 reaches far past the edges: read inside, averaged
    // (the weights, rounded each to 1/1024, add up to nearly one).
    vcl::TBitmap ten(10, 10), two(2, 2);
    ten.Handle()->Fill(gdi::RGB(90, 90, 90));
    SmoothStretch(ten, two);
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(gdi::GetRValue(two.Handle()->GetPixel(i % 2, i / 2)), 90, 3);
    // Too small on either side: nothing happens.
    vcl::TBitmap one(1, 5), dest(3, 3);
    dest.Handle()->Fill(gdi::RGB(1, 2, 3));
    SmoothStretch(one, dest);
    EXPECT_EQ(dest.Handle()->GetPixel(1, 1), gdi::RGB(1, 2, 3));
    vcl::TBitmap tiny(1, 1);
    SmoothStretch(ten, tiny);
}

TEST(drawing_routines, point_along_a_line_and_the_hypotenuse) {
    EXPECT_EQ(PointAlongLine({0, 0}, {10, 0}, 3), (TPoint{7, 0}));
    // Leftwards the point still lies back toward the first point.
    EXPECT_EQ(PointAlongLine({10, 0}, {0, 0}, 3), (TPoint{3, 0}));
    EXPECT_EQ(PointAlongLine({0, 0}, {30, 40}, 5), (TPoint{27, 36}));
    EXPECT_EQ(PointAlongLine({30, 40}, {0, 0}, 5), (TPoint{3, 4}));
    EXPECT_EQ(PointAlongLine({5, 0}, {5, 20}, 4), (TPoint{5, 16}));
    EXPECT_EQ(PointAlongLine({5, 20}, {5, 0}, 4), (TPoint{5, 4}));
    EXPECT_DOUBLE_EQ(Hypotenuse(3, 4), 5);
}

}  // namespace
