// Clip regions: made by our own scan conversion, combined exactly, queried
// alike on raster and recording contexts, and nothing outside them drawn.
#include <gtest/gtest.h>

#include <vector>

#include "platform/gdi/dc.h"
#include "support/gdi_surface.h"
#include "support/qt_app.h"

namespace {

using namespace gdi;
using test_support::Surface;

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kRed = RGB(255, 0, 0);

void FillAll(Surface& s) { s->FillRect({0, 0, s.Width(), s.Height()}, CreateSolidBrush(kRed)); }

TEST(gdi_clip, region_modes_leave_exactly_their_pixels_to_draw) {
    struct Case {
        int mode;
        int red;
        bool at25, at15, at35;
    };
    // A = (10,10)-(30,30), B = (20,20)-(40,40): 400 each, 100 shared.
    const Case cases[] = {{RGN_AND, 100, true, false, false},
                          {RGN_OR, 700, true, true, true},
                          {RGN_XOR, 600, false, true, true},
                          {RGN_DIFF, 300, false, true, false},
                          {RGN_COPY, 400, true, false, true}};
    for (const Case& c : cases) {
        Surface s(50, 50);
        EXPECT_EQ(s->SelectClipRgn(CreateRectRgn(10, 10, 30, 30)), SIMPLEREGION);
        const int kind = c.mode == RGN_COPY ? s->ExtSelectClipRgn(CreateRectRgn(20, 20, 40, 40), RGN_COPY)
                                            : s->ExtSelectClipRgn(CreateRectRgn(20, 20, 40, 40), c.mode);
        EXPECT_EQ(kind, c.mode == RGN_AND || c.mode == RGN_COPY ? SIMPLEREGION : COMPLEXREGION) << c.mode;
        FillAll(s);
        EXPECT_EQ(s.Count(kRed), c.red) << c.mode;
        EXPECT_EQ(s.At(25, 25) == kRed, c.at25) << c.mode;
        EXPECT_EQ(s.At(15, 15) == kRed, c.at15) << c.mode;
        EXPECT_EQ(s.At(35, 35) == kRed, c.at35) << c.mode;
    }
}

TEST(gdi_clip, xor_and_diff_without_a_clip_start_from_the_whole_surface) {
    for (int mode : {RGN_XOR, RGN_DIFF}) {
        Surface s(50, 40);
        s->ExtSelectClipRgn(CreateRectRgn(20, 20, 30, 30), mode);
        FillAll(s);
        EXPECT_EQ(s.Count(kRed), 50 * 40 - 100) << mode;
        EXPECT_EQ(s.At(25, 25), kWhite);
    }
    Surface s(50, 40);
    s->ExtSelectClipRgn(CreateRectRgn(20, 20, 30, 30), RGN_OR);
    FillAll(s);
    EXPECT_EQ(s.Count(kRed), 50 * 40);
    // Only RGN_COPY takes no region (the clip goes); other modes refuse it.
    EXPECT_EQ(s->ExtSelectClipRgn(nullptr, RGN_AND), RGN_ERROR);
    EXPECT_EQ(s->SelectClipRgn(nullptr), SIMPLEREGION);
    EXPECT_EQ(s->GetClipRgn(CreateRectRgn(0, 0, 0, 0)), 0);
}

TEST(gdi_clip, clip_queries_answer_alike_on_raster_and_recording_contexts) {
    Surface raster(60, 40);
    auto recording = DC::CreateRecordingDC(60, 40);
    for (DC* dc : {raster.dc.get(), recording.get()}) {
        HRGN got = CreateRectRgn(0, 0, 0, 0);
        EXPECT_EQ(dc->GetClipRgn(got), 0);
        EXPECT_EQ(dc->GetClipRgn(nullptr), -1);
        RECT box;
        EXPECT_EQ(dc->GetClipBox(&box), SIMPLEREGION);
        EXPECT_EQ(box, (RECT{0, 0, 60, 40}));
        dc->IntersectClipRect(10, 5, 50, 100);
        dc->ExcludeClipRect(20, 10, 30, 20);
        EXPECT_EQ(dc->GetClipRgn(got), 1);
        EXPECT_EQ(dc->GetClipBox(&box), COMPLEXREGION);
        EXPECT_EQ(box, (RECT{10, 5, 50, 40}));
        EXPECT_TRUE(dc->PtVisible(10, 5));
        EXPECT_FALSE(dc->PtVisible(9, 5));
        EXPECT_FALSE(dc->PtVisible(25, 15));
        EXPECT_FALSE(dc->PtVisible(49, 40));
        EXPECT_TRUE(PtInRegion(got, 20, 50));  // the clip itself reaches past the surface
        EXPECT_FALSE(PtInRegion(got, 20, 10));
    }
    EXPECT_EQ(recording->GetPixel(15, 15), CLR_INVALID);
}

TEST(gdi_clip, nothing_outside_the_clip_changes) {
    test_support::EnsureQtApplication();
    Surface s(120, 90);
    s.Scramble();
    const auto before = s.Pixels();
    const HRGN clip = CreateEllipticRgn(20, 10, 100, 80);
    s->SelectClipRgn(clip);
    s->SelectObject(CreatePen(PS_DASH, 1, kRed));
    s->SelectObject(CreateHatchBrush(HS_DIAGCROSS, kRed));
    for (int i = 0; i < 120; i += 7) {
        s->MoveToEx(i, 0);
        s->LineTo(119 - i, 89);
    }
    s->Rectangle(-5, -5, 125, 95);
    s->SelectObject(CreatePen(PS_SOLID, 9, RGB(0, 0, 255)));
    s->Ellipse(0, 0, 120, 90);
    LOGFONT lf;
    lf.lfHeight = -30;
    s->SelectObject(CreateFontIndirect(lf));
    s->TextOut(0, 30, "Clipped text");
    Surface src(120, 90);
    src->FillRect({0, 0, 120, 90}, CreateSolidBrush(RGB(0, 255, 0)));
    s->BitBlt(0, 0, 120, 90, src.dc.get(), 0, 0, SRCCOPY);
    const auto after = s.Pixels();
    int inside = 0;
    for (int y = 0; y < 90; ++y)
        for (int x = 0; x < 120; ++x) {
            const auto i = static_cast<std::size_t>(y * 120 + x);
            if (PtInRegion(clip, x, y)) ++inside;
            else EXPECT_EQ(after[i], before[i]) << x << "," << y;
        }
    EXPECT_EQ(s.Count(RGB(0, 255, 0)), inside);
}

TEST(gdi_regions, shapes_limits_and_arithmetic) {
    // An ellipse region: symmetric, inside its box, 4 pixels on its top row.
    const HRGN e = CreateEllipticRgn(0, 0, 10, 10);
    RECT box;
    EXPECT_EQ(GetRgnBox(e, &box), COMPLEXREGION);
    EXPECT_EQ(box, (RECT{0, 0, 10, 10}));
    int topRow = 0;
    for (int x = 0; x < 10; ++x) {
        topRow += PtInRegion(e, x, 0);
        EXPECT_EQ(PtInRegion(e, x, 3), PtInRegion(e, 9 - x, 3));
        EXPECT_EQ(PtInRegion(e, x, 3), PtInRegion(e, x, 6));
    }
    EXPECT_EQ(topRow, 4);
    // Round rectangles lose their corners, polygons cover their inside.
    const HRGN rr = CreateRoundRectRgn(0, 0, 20, 20, 10, 10);
    EXPECT_FALSE(PtInRegion(rr, 0, 0));
    EXPECT_TRUE(PtInRegion(rr, 10, 0));
    EXPECT_TRUE(PtInRegion(rr, 0, 10));
    const std::vector<POINT> tri = {{0, 0}, {20, 0}, {0, 20}};
    const HRGN t = CreatePolygonRgn(tri, ALTERNATE);
    EXPECT_TRUE(PtInRegion(t, 2, 2));
    EXPECT_FALSE(PtInRegion(t, 15, 15));
    // Far coordinates are held to the region limits; reversed corners swap.
    const HRGN far = CreateRectRgn(INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN);
    GetRgnBox(far, &box);
    EXPECT_EQ(box, (RECT{-kRegionLimit, -kRegionLimit, kRegionLimit, kRegionLimit}));
    const HRGN sum = CreateRectRgn(0, 0, 0, 0);
    EXPECT_EQ(CombineRgn(sum, CreateRectRgn(0, 0, 10, 10), CreateRectRgn(5, 0, 15, 10), RGN_OR), SIMPLEREGION);
    EXPECT_TRUE(EqualRgn(sum, CreateRectRgn(0, 0, 15, 10)));
    EXPECT_EQ(CombineRgn(sum, sum, nullptr, RGN_AND), RGN_ERROR);
    EXPECT_EQ(OffsetRgn(sum, 5, 5), SIMPLEREGION);
    EXPECT_EQ(GetRegionRects(sum), (std::vector<RECT>{{5, 5, 20, 15}}));
    EXPECT_EQ(OffsetRgn(sum, INT32_MAX, 0), NULLREGION);
}

}  // namespace
