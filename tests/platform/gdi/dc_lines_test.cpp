// One-pixel lines are our own walk: GDI's edge rules, the ROP2 table, the
// dash styles and coordinates anywhere in the 32-bit range. Wide pens go
// through the toolkit: checked by invariants.
#include <gtest/gtest.h>

#include <vector>

#include "platform/gdi/dc.h"
#include "support/gdi_surface.h"
#include "support/qt_app.h"

namespace {

using namespace gdi;
using test_support::Surface;

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kBlack = 0;
constexpr COLORREF kRed = RGB(255, 0, 0);

TEST(gdi_lines, lines_leave_out_their_last_pixel_and_rectangles_their_right_and_bottom_edges) {
    Surface s(60, 40);
    s->MoveToEx(2, 2);
    s->LineTo(12, 2);
    for (int x = 2; x < 12; ++x) EXPECT_EQ(s.At(x, 2), kBlack) << x;
    EXPECT_EQ(s.At(12, 2), kWhite);
    EXPECT_EQ(s->GetCurrentPositionEx(), (POINT{12, 2}));

    s->MoveToEx(0, 5);
    s->LineTo(5, 10);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(s.At(i, 5 + i), kBlack);
    EXPECT_EQ(s.At(5, 10), kWhite);

    // Outline on the first and last row and column inside the rectangle,
    // the brush inside that.
    s->SelectObject(CreateSolidBrush(kRed));
    s->Rectangle(20, 10, 30, 16);
    EXPECT_EQ(s.At(20, 10), kBlack);
    EXPECT_EQ(s.At(29, 15), kBlack);
    EXPECT_EQ(s.At(30, 15), kWhite);
    EXPECT_EQ(s.At(29, 16), kWhite);
    EXPECT_EQ(s.At(21, 11), kRed);
    EXPECT_EQ(s.At(28, 14), kRed);
    EXPECT_EQ(s.Count(kRed), 8 * 4);
    // Reversed corners draw the same rectangle.
    Surface t(60, 40);
    t->SelectObject(CreateSolidBrush(kRed));
    t->Rectangle(30, 16, 20, 10);
    EXPECT_EQ(t.Count(kRed), 8 * 4);
    EXPECT_EQ(t.Count(kBlack), 2 * 10 + 2 * 4);

    // Without an outline the rectangle is one pixel smaller.
    s->SelectObject(GetStockPen(NULL_PEN));
    s->Rectangle(40, 10, 50, 16);
    EXPECT_EQ(s.At(40, 10), kRed);
    EXPECT_EQ(s.At(48, 14), kRed);
    EXPECT_EQ(s.At(49, 14), kWhite);
    EXPECT_EQ(s.At(48, 15), kWhite);
}

TEST(gdi_lines, the_sixteen_rop2_modes_combine_pen_and_destination_bit_by_bit) {
    const COLORREF dest = 0xA5C35A, pen = 0x3CF00F;
    for (int mode = R2_BLACK; mode <= R2_WHITE; ++mode) {
        Surface s(4, 1);
        s->SetPixel(0, 0, dest);
        s->SelectObject(CreatePen(PS_SOLID, 1, pen));
        EXPECT_EQ(s->SetROP2(mode), R2_COPYPEN);
        s->MoveToEx(0, 0);
        s->LineTo(1, 0);
        // The mode's number less one is its truth table over (pen, dest).
        COLORREF expected = 0;
        for (int bit = 0; bit < 24; ++bit) {
            const int p = (pen >> bit) & 1, d = (dest >> bit) & 1;
            expected |= COLORREF(((mode - 1) >> (p * 2 + d)) & 1) << bit;
        }
        EXPECT_EQ(s.At(0, 0), expected) << "mode " << mode;
        EXPECT_EQ(s.At(1, 0), kWhite);
    }
    Surface s(2, 2);
    EXPECT_EQ(s->SetROP2(0), 0);
    EXPECT_EQ(s->SetROP2(17), 0);
    EXPECT_EQ(s->GetROP2(), R2_COPYPEN);
}

TEST(gdi_lines, xor_and_not_xor_drawn_twice_restore_every_pixel) {
    test_support::EnsureQtApplication();
    // A star crosses itself: within one polyline its crossings are drawn once.
    const std::vector<POINT> star = {{50, 5}, {80, 90}, {5, 35}, {95, 35}, {20, 90}, {50, 5}};
    for (int mode : {R2_XORPEN, R2_NOTXORPEN, R2_NOT}) {
        Surface s(100, 100);
        s.Scramble();
        const auto before = s.Pixels();
        auto draw = [&] {
            s->SetROP2(mode);
            s->SelectObject(CreateSolidBrush(RGB(40, 140, 240)));
            s->SelectObject(CreatePen(PS_SOLID, 1, RGB(200, 30, 90)));
            s->Polyline(star);
            s->SelectObject(CreatePen(PS_DASHDOT, 1, RGB(10, 200, 30)));
            s->Rectangle(10, 10, 70, 60);
            s->SelectObject(CreatePen(PS_SOLID, 4, RGB(90, 90, 255)));
            s->MoveToEx(5, 95);
            s->LineTo(95, 60);
            s->SelectObject(CreateHatchBrush(HS_CROSS, RGB(1, 2, 3)));
            s->Ellipse(30, 30, 90, 80);
        };
        draw();
        EXPECT_NE(s.Pixels(), before) << mode;
        draw();
        EXPECT_EQ(s.Pixels(), before) << "mode " << mode;
    }
    // A crossing pixel of the star changed once: it is not back to white.
    Surface s(100, 100);
    s->SetROP2(R2_XORPEN);
    s->SelectObject(CreatePen(PS_SOLID, 1, kWhite));
    s->Polyline(star);
    Surface copy(100, 100);
    copy->SelectObject(CreatePen(PS_SOLID, 1, kBlack));
    copy->Polyline(star);
    EXPECT_EQ(s.Count(kBlack), copy.Count(kBlack));
}

TEST(gdi_lines, dashed_dotted_alternate_and_small_dot_pens) {
    auto row = [](Surface& s, int y, int n) {
        std::string r;
        for (int x = 0; x < n; ++x) r += s.At(x, y) == kBlack ? '#' : s.At(x, y) == kRed ? 'r' : '.';
        return r;
    };
    Surface s(40, 10);
    s->SetBkMode(TRANSPARENT);
    s->SelectObject(CreatePen(PS_DOT, 1, kBlack));
    s->MoveToEx(0, 0);
    s->LineTo(14, 0);
    EXPECT_EQ(row(s, 0, 15), "###...###...##.");
    // The dashes run on across the corners of a polyline.
    const std::vector<POINT> bent = {{0, 2}, {4, 2}, {14, 2}};
    s->Polyline(bent);
    EXPECT_EQ(row(s, 2, 15), "###...###...##.");
    // With an opaque background the gaps take the background colour.
    s->SetBkMode(OPAQUE);
    s->SetBkColor(kRed);
    s->MoveToEx(0, 4);
    s->LineTo(14, 4);
    EXPECT_EQ(row(s, 4, 15), "###rrr###rrr##.");
    s->SetBkMode(TRANSPARENT);
    s->SelectObject(ExtCreatePen(PS_COSMETIC | PS_ALTERNATE, 1, LOGBRUSH{BS_SOLID, kBlack, 0}));
    s->MoveToEx(0, 6);
    s->LineTo(9, 6);
    EXPECT_EQ(row(s, 6, 10), "#.#.#.#.#.");
    // Dots of no length with round ends, gaps of three: a dot every third pixel.
    const DWORD dots[] = {0, 3};
    s->SelectObject(ExtCreatePen(PS_GEOMETRIC | PS_USERSTYLE, 1, LOGBRUSH{BS_SOLID, kBlack, 0}, dots));
    s->MoveToEx(0, 8);
    s->LineTo(10, 8);
    EXPECT_EQ(row(s, 8, 11), "#..#..#..#.");
    // CreatePen: widths below one draw one pixel; styles wider than one draw solid.
    EXPECT_EQ(CreatePen(PS_SOLID, -4, 0)->Width(), 1);
    EXPECT_EQ(CreatePen(PS_DASH, 3, 0)->Style(), PS_SOLID);
}

TEST(gdi_lines, coordinates_anywhere_in_the_32_bit_range_are_clipped_before_drawing) {
    test_support::EnsureQtApplication();
    constexpr int kFar = 67108863;
    Surface s(100, 100);
    s->MoveToEx(-kFar, -kFar);
    s->LineTo(kFar, kFar);
    EXPECT_EQ(s.Count(kBlack), 100);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(s.At(i, i), kBlack);

    // The same pixels as the whole line would give: its middle rounds down.
    Surface t(100, 100);
    t->MoveToEx(-kFar, 10);
    t->LineTo(kFar, 11);
    for (int x = 0; x < 100; ++x) EXPECT_EQ(t.At(x, 11), kBlack) << x;
    EXPECT_EQ(t.Count(kBlack), 100);
    t->MoveToEx(INT32_MIN, INT32_MIN);
    t->LineTo(INT32_MAX, INT32_MAX);
    EXPECT_EQ(t.Count(kBlack), 199);

    // Wide pens, polygons and ellipses reaching far out keep what shows.
    Surface w(100, 100);
    w->SelectObject(CreatePen(PS_SOLID, 5, kBlack));
    w->MoveToEx(-kFar, 50);
    w->LineTo(kFar, 50);
    EXPECT_EQ(w.At(50, 50), kBlack);
    EXPECT_EQ(w.At(50, 48), kBlack);
    EXPECT_EQ(w.At(50, 44), kWhite);
    w->SelectObject(GetStockPen(NULL_PEN));
    w->SelectObject(CreateSolidBrush(kRed));
    const std::vector<POINT> huge = {{-kFar, -kFar}, {kFar, -kFar}, {kFar, 20}, {-kFar, 20}};
    w->Polygon(huge);
    EXPECT_EQ(w.At(0, 0), kRed);
    EXPECT_EQ(w.At(99, 19), kRed);
    EXPECT_EQ(w.At(99, 21), kWhite);
    w->Ellipse(-kFar, -kFar, kFar, kFar);
    EXPECT_EQ(w.At(50, 90), kRed);
}

TEST(gdi_lines, wide_pens_have_their_width_ends_and_joins) {
    test_support::EnsureQtApplication();
    auto column = [](Surface& s, int x) {
        int n = 0;
        for (int y = 0; y < s.Height(); ++y) n += s.At(x, y) == kBlack ? 1 : 0;
        return n;
    };
    const LOGBRUSH black{BS_SOLID, kBlack, 0};
    Surface flat(60, 40), square(60, 40), round(60, 40);
    flat->SelectObject(ExtCreatePen(PS_GEOMETRIC | PS_ENDCAP_FLAT, 5, black));
    square->SelectObject(ExtCreatePen(PS_GEOMETRIC | PS_ENDCAP_SQUARE, 5, black));
    round->SelectObject(ExtCreatePen(PS_GEOMETRIC | PS_ENDCAP_ROUND, 5, black));
    for (Surface* s : {&flat, &square, &round}) {
        (*s)->MoveToEx(15, 20);
        (*s)->LineTo(45, 20);
        EXPECT_EQ(column(*s, 30), 5);
    }
    // Flat ends stop at the points, square ones reach half the width past.
    EXPECT_EQ(column(flat, 12), 0);
    EXPECT_EQ(column(square, 14), 5);
    EXPECT_GT(column(round, 14), 0);
    EXPECT_LT(column(round, 13), 5);
    EXPECT_EQ(flat.InkBox().top, 18);
    EXPECT_EQ(flat.InkBox().bottom, 23);
}

}  // namespace
