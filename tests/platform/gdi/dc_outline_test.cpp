// A filled shape with a one-pixel pen: the brush inside, the pen round it,
// meeting exactly (no brush beyond the outline, no background between the
// two) at every size and wherever the clip or the surface cuts the shape;
// without a pen the brush keeps to the same pixels.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/gdi/dc.h"
#include "support/gdi_surface.h"
#include "support/qt_app.h"

namespace {

using namespace gdi;
using test_support::Surface;

// Background, brush, pen and the background of a styled pen's gaps.
constexpr COLORREF kWhite = RGB(255, 255, 255), kRed = RGB(255, 0, 0), kBlack = 0, kBlue = RGB(0, 0, 255);
constexpr int kSide = 48;

// A shape in the box (x, y) .. (x + s, y + s), and the region of the same
// arguments where there is one.
using Draw = std::function<void(DC&, int x, int y, int s)>;
struct Shape {
    std::string name;
    bool curved;
    Draw draw;
    std::function<HRGN(int x, int y, int s)> region = nullptr;
};

void Poly(DC& dc, std::vector<POINT> points) { dc.Polygon(points); }
std::vector<POINT> Diamond(int x, int y, int s) {
    return {{x + s / 2, y}, {x + s - 1, y + s / 2}, {x + s / 2, y + s - 1}, {x, y + s / 2}};
}

std::vector<Shape> Shapes() {
    return {
        {"diamond", false, [](DC& d, int x, int y, int s) { Poly(d, Diamond(x, y, s)); },
         [](int x, int y, int s) { return CreatePolygonRgn(Diamond(x, y, s), ALTERNATE); }},
        {"triangle", false,
         [](DC& d, int x, int y, int s) { Poly(d, {{x + s / 2, y}, {x + s - 1, y + s - 1}, {x, y + s - 1}}); }},
        {"hexagon", false,
         [](DC& d, int x, int y, int s) {
             const int q = s / 4;
             Poly(d, {{x, y + s / 2}, {x + q, y}, {x + s - 1 - q, y}, {x + s - 1, y + s / 2},
                      {x + s - 1 - q, y + s - 1}, {x + q, y + s - 1}});
         }},
        {"star (alternate)", false,
         [](DC& d, int x, int y, int s) {
             Poly(d, {{x + s / 2, y}, {x + s * 4 / 5, y + s - 1}, {x, y + s / 3}, {x + s - 1, y + s / 3}, {x + s / 5, y + s - 1}});
         }},
        {"ellipse", true, [](DC& d, int x, int y, int s) { d.Ellipse(x, y, x + s, y + s * 2 / 3 + 1); },
         [](int x, int y, int s) { return CreateEllipticRgn(x, y, x + s, y + s * 2 / 3 + 1); }},
        {"circle", true, [](DC& d, int x, int y, int s) { d.Ellipse(x, y, x + s, y + s); }},
        {"chord", true, [](DC& d, int x, int y, int s) { d.Chord(x, y, x + s, y + s, x + s, y + s / 3, x, y); }},
        {"pie", true, [](DC& d, int x, int y, int s) { d.Pie(x, y, x + s, y + s, x + s, y + s / 3, x + s / 4, y); }},
        {"pie of three quarters", true, [](DC& d, int x, int y, int s) { d.Pie(x, y, x + s, y + s, x + s, y, x + s, y + s); }},
        {"round rectangle", true,
         [](DC& d, int x, int y, int s) { d.RoundRect(x, y, x + s, y + s * 3 / 4 + 1, s / 2, s / 3); },
         [](int x, int y, int s) { return CreateRoundRectRgn(x, y, x + s, y + s * 3 / 4 + 1, s / 2, s / 3); }},
    };
}

// The shape drawn on a white surface with a pen (gaps of a styled one in
// blue) and a brush, clipped to `clip` when given.
Surface Render(const Shape& shape, int x, int y, int s, const HPEN& pen, const HBRUSH& brush,
               const HRGN& clip = nullptr) {
    Surface out(kSide, kSide);
    out->SetBkColor(kBlue);
    out->SelectObject(pen);
    out->SelectObject(brush);
    if (clip) out->SelectClipRgn(clip);
    shape.draw(*out, x, y, s);
    return out;
}

bool In(int x, int y) { return x >= 0 && y >= 0 && x < kSide && y < kSide; }

constexpr std::pair<int, int> kSides[] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};

TEST(gdi_fills, filled_shapes_meet_their_one_pixel_outline_exactly) {
    test_support::EnsureQtApplication();
    const HPEN pen = CreatePen(PS_SOLID, 1, kBlack);
    const HBRUSH brush = CreateSolidBrush(kRed);
    const int sizes[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 12, 13, 16, 17, 24, 31, 40};
    for (const Shape& shape : Shapes()) {
        for (int s : sizes) {
            SCOPED_TRACE(shape.name + " of size " + std::to_string(s));
            const int x = 3, y = 4;
            const Surface framed = Render(shape, x, y, s, pen, brush);
            const Surface hollow = Render(shape, x, y, s, pen, GetStockBrush(NULL_BRUSH));
            const Surface bare = Render(shape, x, y, s, GetStockPen(NULL_PEN), brush);
            int inside = 0, beyond = 0, outlineChanged = 0, bareBeyond = 0, bareShort = 0, bareEdges = 0;
            // A region holds the pixels of the outlined curve, or of the
            // polygon's fill.
            const HRGN region = shape.region ? shape.region(x, y, s) : nullptr;
            int regionFaults = 0;
            auto covered = [&](int px, int py) { return In(px, py) && framed.At(px, py) != kWhite; };
            for (int py = 0; py < kSide; ++py)
                for (int px = 0; px < kSide; ++px) {
                    const COLORREF c = framed.At(px, py);
                    if (c == kRed) {
                        ++inside;
                        // Beside the brush only brush or pen: nothing of the
                        // background, outside the outline or between the two.
                        for (const auto& [dx, dy] : kSides) beyond += !covered(px + dx, py + dy);
                    }
                    // The brush leaves the pen's pixels as they are alone.
                    outlineChanged += (c == kBlack) != (hollow.At(px, py) == kBlack);
                    // Without a pen: never beyond the outlined shape, all of
                    // its inside, and (curves, like rectangles) no pixel of
                    // its right or bottom edge.
                    const bool filled = bare.At(px, py) == kRed;
                    bareBeyond += filled && c == kWhite;
                    bareShort += !filled && c == kRed;
                    bareEdges += shape.curved && filled && (!covered(px + 1, py) || !covered(px, py + 1));
                    if (region) regionFaults += PtInRegion(region, px, py) != (shape.curved ? c != kWhite : filled);
                }
            EXPECT_EQ(beyond, 0);
            EXPECT_EQ(outlineChanged, 0);
            EXPECT_EQ(bareBeyond, 0);
            EXPECT_EQ(bareShort, 0);
            EXPECT_EQ(bareEdges, 0);
            EXPECT_EQ(regionFaults, 0);
            if (s >= 12) {
                EXPECT_GT(inside, 0);
                EXPECT_GT(bare.Count(kRed), inside);
            }

            // Cut by a clip with a hole in it, or by the surface's edges, the
            // shape keeps the pixels it has there when whole.
            const HRGN clip = CreateRectRgn(x + s / 3, 0, kSide, kSide);
            CombineRgn(clip, clip, CreateRectRgn(x + s / 2, y + s / 3, x + s / 2 + 2, y + s / 2 + 2), RGN_DIFF);
            const Surface clipped = Render(shape, x, y, s, pen, brush, clip);
            const int shift = s / 2 + 2;
            const Surface cut = Render(shape, x - shift, y - shift, s, pen, brush);
            int clipFaults = 0, edgeFaults = 0;
            for (int py = 0; py < kSide; ++py)
                for (int px = 0; px < kSide; ++px) {
                    clipFaults += clipped.At(px, py) != (PtInRegion(clip, px, py) ? framed.At(px, py) : kWhite);
                    if (In(px + shift, py + shift)) edgeFaults += cut.At(px, py) != framed.At(px + shift, py + shift);
                }
            EXPECT_EQ(clipFaults, 0);
            EXPECT_EQ(edgeFaults, 0);
        }
    }
}

TEST(gdi_fills, styled_outlines_modes_and_far_coordinates_keep_fill_and_outline_apart) {
    test_support::EnsureQtApplication();
    const HBRUSH brush = CreateSolidBrush(kRed);
    for (const Shape& shape : Shapes()) {
        for (int s : {5, 12, 17, 30}) {
            SCOPED_TRACE(shape.name + " of size " + std::to_string(s));
            const int x = 6, y = 5;
            // A dotted pen with an opaque background: its dots and gaps
            // together are the solid outline, whatever the clip lets through.
            const HPEN dotted = CreatePen(PS_DOT, 1, kBlack);
            const Surface solid = Render(shape, x, y, s, CreatePen(PS_SOLID, 1, kBlack), brush);
            const Surface dots = Render(shape, x, y, s, dotted, brush);
            const HRGN clip = CreateRectRgn(x + s / 3, y + s / 4, kSide, kSide);
            const Surface clipped = Render(shape, x, y, s, dotted, brush, clip);
            int notOutline = 0, clipFaults = 0;
            for (int py = 0; py < kSide; ++py)
                for (int px = 0; px < kSide; ++px) {
                    const COLORREF c = dots.At(px, py);
                    notOutline += (c == kBlack || c == kBlue) != (solid.At(px, py) == kBlack);
                    clipFaults += clipped.At(px, py) != (PtInRegion(clip, px, py) ? c : kWhite);
                }
            EXPECT_EQ(notOutline, 0);
            EXPECT_EQ(clipFaults, 0);
            if (s >= 12) {
                EXPECT_GT(dots.Count(kBlack), 0);
                EXPECT_GT(dots.Count(kBlue), 0);
            }

            // XOR and NOT drawn twice restore every pixel; a curve's pixels,
            // inside or outline, dash or gap, are each drawn once.
            for (int mode : {R2_XORPEN, R2_NOT}) {
                Surface t(kSide, kSide);
                t.Scramble();
                const auto before = t.Pixels();
                t->SetROP2(mode);
                t->SetBkColor(RGB(10, 200, 90));
                t->SelectObject(CreatePen(PS_DASHDOT, 1, RGB(200, 30, 90)));
                t->SelectObject(CreateHatchBrush(HS_DIAGCROSS, RGB(40, 140, 240)));
                shape.draw(*t, x, y, s);
                const auto once = t.Pixels();
                if (mode == R2_NOT && shape.curved) {
                    int faults = 0;
                    for (int py = 0; py < kSide; ++py)
                        for (int px = 0; px < kSide; ++px) {
                            const auto i = static_cast<std::size_t>(py * kSide + px);
                            const COLORREF flipped = ~before[i] & 0xFFFFFFu;
                            faults += once[i] != (solid.At(px, py) != kWhite ? flipped : before[i]);
                        }
                    EXPECT_EQ(faults, 0);
                }
                EXPECT_NE(once, before);
                shape.draw(*t, x, y, s);
                EXPECT_EQ(t.Pixels(), before) << "mode " << mode;
            }
        }
    }
    // Curves reaching far beyond the surface draw what shows of them: a
    // quarter pie centred on the surface, whole ellipses around it.
    for (int far : {1 << 24, INT32_MAX / 2 - 64}) {
        for (int style : {PS_SOLID, PS_DOT}) {
            SCOPED_TRACE("far " + std::to_string(far) + " style " + std::to_string(style));
            Surface t(kSide, kSide);
            t->SelectObject(CreatePen(style, 1, kBlack));
            t->SelectObject(brush);
            t->Pie(24 - far, 24 - far, 24 + far, 24 + far, 24 + far, 24, 24, 24 - far);
            EXPECT_EQ(t.At(40, 8), kRed);
            EXPECT_EQ(t.At(8, 8), kWhite);
            EXPECT_EQ(t.At(40, 40), kWhite);
            // The rays are outline, dash or gap, next to the background.
            for (auto [px, py] : {std::pair{24, 8}, std::pair{40, 23}})
                EXPECT_TRUE(t.At(px, py) == kBlack || (style != PS_SOLID && t.At(px, py) != kRed));
            EXPECT_EQ(t.At(23, 8), kWhite);
            EXPECT_EQ(t.At(40, 24), kWhite);
            t->Ellipse(INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX);
            t->RoundRect(-far, -far, far, far, far, far);
            t->Chord(-far, -far, far, far, far, 0, -far, 0);
            EXPECT_EQ(t.Count(kRed), kSide * kSide);
        }
    }
}

}  // namespace
