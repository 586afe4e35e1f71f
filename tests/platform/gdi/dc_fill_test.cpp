// Area fills are our own spans: brushes (solid, our 8 x 8 hatches, pattern
// bitmaps, the DC brush), the background mode and the ROP2 mode.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/gdi/dc.h"
#include "support/gdi_surface.h"
#include "support/qt_app.h"

namespace {

using namespace gdi;
using test_support::Surface;

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kBlue = RGB(0, 0, 255);

std::string Row(const Surface& s, int y, int x0, int x1) {
    std::string r;
    for (int x = x0; x < x1; ++x) r += s.At(x, y) == kRed ? '#' : s.At(x, y) == kBlue ? 'b' : '.';
    return r;
}

TEST(gdi_fills, hatches_are_8_by_8_tiles_from_the_device_origin) {
    struct Case {
        int hatch;
        const char* rows[8];
    };
    const Case cases[] = {
        {HS_HORIZONTAL, {"########", "........", "........", "........", "........", "........", "........", "........"}},
        {HS_VERTICAL, {"#.......", "#.......", "#.......", "#.......", "#.......", "#.......", "#.......", "#......."}},
        {HS_FDIAGONAL, {"#.......", ".#......", "..#.....", "...#....", "....#...", ".....#..", "......#.", ".......#"}},
        {HS_BDIAGONAL, {".......#", "......#.", ".....#..", "....#...", "...#....", "..#.....", ".#......", "#......."}},
        {HS_CROSS, {"########", "#.......", "#.......", "#.......", "#.......", "#.......", "#.......", "#......."}},
        {HS_DIAGCROSS, {"#......#", ".#....#.", "..#..#..", "...##...", "...##...", "..#..#..", ".#....#.", "#......#"}},
    };
    for (const Case& c : cases) {
        Surface s(24, 24);
        s->SetBkMode(TRANSPARENT);
        // Starts off the tile grid: the pattern still lines up with (0, 0).
        s->FillRect({3, 5, 24, 24}, CreateHatchBrush(c.hatch, kRed));
        for (int y = 8; y < 16; ++y) EXPECT_EQ(Row(s, y, 8, 16), c.rows[y - 8]) << c.hatch << " row " << y;
        EXPECT_EQ(Row(s, 16, 3, 8), std::string(c.rows[0]).substr(3));
        EXPECT_EQ(Row(s, 4, 0, 24), std::string(24, '.'));
        // An opaque background fills the rest of the tile.
        s->SetBkMode(OPAQUE);
        s->SetBkColor(kBlue);
        s->FillRect({0, 0, 8, 8}, CreateHatchBrush(c.hatch, kRed));
        for (int y = 0; y < 8; ++y) {
            std::string opaque = c.rows[y];
            for (char& ch : opaque) ch = ch == '.' ? 'b' : ch;
            EXPECT_EQ(Row(s, y, 0, 8), opaque) << c.hatch;
        }
    }
}

TEST(gdi_fills, fill_rect_copies_whatever_the_mode_and_shapes_combine_by_it) {
    Surface s(40, 20);
    s->SetROP2(R2_XORPEN);
    s->FillRect({0, 0, 10, 10}, CreateSolidBrush(kRed));
    EXPECT_EQ(s.At(5, 5), kRed);
    s->FillRect({0, 0, 10, 10}, CreateSolidBrush(kRed));
    EXPECT_EQ(s.At(5, 5), kRed);
    s->SelectObject(GetStockPen(NULL_PEN));
    s->SelectObject(CreateSolidBrush(kRed));
    s->Rectangle(20, 0, 31, 11);
    EXPECT_EQ(s.At(25, 5), RGB(0, 255, 255));
    s->Rectangle(20, 0, 31, 11);
    EXPECT_EQ(s.At(25, 5), kWhite);
    // Empty and reversed rectangles fill nothing.
    s->SetROP2(R2_COPYPEN);
    s->FillRect({35, 5, 35, 15}, CreateSolidBrush(kRed));
    s->FillRect({39, 15, 35, 5}, CreateSolidBrush(kRed));
    EXPECT_EQ(s.Count(kRed), 100);
}

TEST(gdi_fills, polygons_ellipses_and_pies_cover_their_inside) {
    test_support::EnsureQtApplication();
    Surface s(100, 100);
    s->SelectObject(GetStockPen(NULL_PEN));
    s->SelectObject(CreateSolidBrush(kRed));
    const std::vector<POINT> square = {{10, 10}, {30, 10}, {30, 30}, {10, 30}};
    s->Polygon(square);
    EXPECT_EQ(s.Count(kRed), 400);
    EXPECT_EQ(s.InkBox(), (RECT{10, 10, 30, 30}));
    // Alternate and winding fills of a shape that winds twice.
    const std::vector<POINT> twice = {{50, 10}, {90, 10}, {90, 50}, {50, 50}, {50, 20}, {80, 20},
                                      {80, 40}, {60, 40}, {60, 10}};
    Surface a(100, 100), w(100, 100);
    for (Surface* t : {&a, &w}) {
        (*t)->SelectObject(GetStockPen(NULL_PEN));
        (*t)->SelectObject(CreateSolidBrush(kRed));
    }
    w->SetPolyFillMode(WINDING);
    a->Polygon(twice);
    w->Polygon(twice);
    EXPECT_EQ(a.At(70, 30), kWhite);
    EXPECT_EQ(w.At(70, 30), kRed);
    EXPECT_EQ(a.At(85, 45), kRed);

    // An ellipse fills inside its box, symmetric about its centre; without
    // an outline it is one pixel smaller: the outlined ellipse less its
    // right and bottom edges.
    Surface e(100, 100), n(100, 100);
    e->SelectObject(CreateSolidBrush(kRed));
    e->Ellipse(10, 20, 71, 61);
    EXPECT_EQ(e.InkBox(), (RECT{10, 20, 71, 61}));
    EXPECT_EQ(e.At(40, 40), kRed);
    EXPECT_EQ(e.At(11, 21), kWhite);
    const auto outlined = e.Ink();
    for (auto [x, y] : outlined) {
        EXPECT_EQ(outlined.count({80 - x, y}), 1u) << x << "," << y;
        EXPECT_EQ(outlined.count({x, 80 - y}), 1u) << x << "," << y;
    }
    n->SelectObject(GetStockPen(NULL_PEN));
    n->SelectObject(CreateSolidBrush(kRed));
    n->Ellipse(10, 20, 71, 61);
    EXPECT_EQ(n.InkBox(), (RECT{10, 20, 70, 60}));
    for (auto [x, y] : n.Ink()) EXPECT_EQ(outlined.count({x, y}), 1u) << x << "," << y;
    // A pie from 0 to 90 degrees fills the upper right quarter only.
    Surface p(100, 100);
    p->SelectObject(CreateSolidBrush(kRed));
    p->Pie(0, 0, 100, 100, 100, 50, 50, 0);
    EXPECT_EQ(p.At(70, 30), kRed);
    EXPECT_EQ(p.At(30, 30), kWhite);
    EXPECT_EQ(p.At(70, 70), kWhite);
    // Clockwise the same points give the other three quarters.
    Surface c(100, 100);
    c->SelectObject(CreateSolidBrush(kRed));
    c->SetArcDirection(AD_CLOCKWISE);
    c->Pie(0, 0, 100, 100, 100, 50, 50, 0);
    EXPECT_EQ(c.At(70, 30), kWhite);
    EXPECT_EQ(c.At(30, 70), kRed);
}

TEST(gdi_fills, dc_brush_dc_pen_and_pattern_brushes) {
    Surface s(32, 16);
    s->SelectObject(GetStockBrush(DC_BRUSH));
    s->SelectObject(GetStockPen(DC_PEN));
    s->SetDCBrushColor(kRed);
    s->SetDCPenColor(kBlue);
    s->Rectangle(0, 0, 8, 8);
    EXPECT_EQ(s.At(0, 0), kBlue);
    EXPECT_EQ(s.At(3, 3), kRed);
    s->SetDCBrushColor(RGB(0, 255, 0));
    s->FillRect({0, 8, 8, 16}, GetStockBrush(DC_BRUSH));
    EXPECT_EQ(s.At(3, 12), RGB(0, 255, 0));

    // A pattern brush keeps its own copy of the pixels, tiled from (0, 0).
    auto pattern = CreateBitmap(2, 2);
    pattern->SetPixel(0, 0, kRed);
    pattern->SetPixel(1, 1, kBlue);
    const HBRUSH brush = CreatePatternBrush(pattern);
    pattern->SetPixel(1, 0, 0);
    s->FillRect({9, 0, 15, 4}, brush);
    EXPECT_EQ(Row(s, 0, 9, 15), ".#.#.#");
    EXPECT_EQ(Row(s, 1, 9, 15), "b.b.b.");
    EXPECT_EQ(s.At(10, 0), kRed);
}

}  // namespace
