// Text: sizes at 96 dpi through the alias table, extents that add up,
// alignment, spacing, escapement and the background mode.
#include <gtest/gtest.h>

#include <string>

#include "platform/gdi/dc.h"
#include "support/gdi_surface.h"
#include "support/qt_app.h"

namespace {

using namespace gdi;
using test_support::Surface;

HFONT Font(int height, const char* face = "Arial", int escapement = 0) {
    LOGFONT lf;
    lf.lfHeight = height;
    lf.lfFaceName = face;
    lf.lfEscapement = escapement;
    return CreateFontIndirect(lf);
}

SIZE Extent(DC& dc, std::string_view text) {
    SIZE size;
    EXPECT_TRUE(dc.GetTextExtentPoint32(text, &size));
    return size;
}

TEST(gdi_text, heights_extents_and_spacing) {
    test_support::EnsureQtApplication();
    Surface s(10, 10);
    s->SelectObject(Font(-20));
    TEXTMETRIC tm;
    ASSERT_TRUE(s->GetTextMetrics(&tm));
    // A negative height is the character height: the cell adds the leading.
    EXPECT_GT(tm.tmHeight, 20);
    EXPECT_EQ(tm.tmInternalLeading, tm.tmHeight - 20);
    EXPECT_EQ(tm.tmAscent + tm.tmDescent, tm.tmHeight);
    EXPECT_EQ(Extent(*s, "Wg").cy, tm.tmHeight);
    // A positive height is the cell.
    s->SelectObject(Font(30));
    s->GetTextMetrics(&tm);
    EXPECT_NEAR(tm.tmHeight, 30, 1);
    // No kerning: a pair is as wide as its letters (up to the rounding of
    // fractional advances), as runs measured apart are.
    s->SelectObject(Font(-17, "Times New Roman"));
    const int av = Extent(*s, "AV").cx, a = Extent(*s, "A").cx, v = Extent(*s, "V").cx;
    EXPECT_NEAR(av, a + v, 1);
    EXPECT_EQ(Extent(*s, "").cx, 0);
    s->SetTextCharacterExtra(3);
    EXPECT_EQ(Extent(*s, "AV").cx, av + 6);
    // 8-bit text is the program's code page: the same widths as UTF-16.
    SIZE wide;
    s->GetTextExtentPoint32W(u"\u0416\u0430", &wide);
    EXPECT_EQ(Extent(*s, "\xC6\xE0").cx, wide.cx);
    // The aliases give the metric-compatible faces: Arial and Courier New
    // differ, a face name the alias table does not know still draws.
    s->SetTextCharacterExtra(0);
    s->SelectObject(Font(-16, "Courier New"));
    EXPECT_EQ(Extent(*s, "iiii").cx, Extent(*s, "WWWW").cx);
    s->SelectObject(Font(-16, "Arial"));
    EXPECT_LT(Extent(*s, "iiii").cx, Extent(*s, "WWWW").cx);
    s->SelectObject(Font(-16, "No Such Face"));
    EXPECT_GT(Extent(*s, "W").cx, 0);
}

TEST(gdi_text, alignment_places_the_box_and_the_background_fills_it) {
    test_support::EnsureQtApplication();
    auto draw = [](unsigned align, int mode) {
        auto s = std::make_unique<Surface>(200, 100);
        (*s)->SelectObject(Font(-20));
        (*s)->SetTextAlign(align);
        (*s)->SetBkMode(mode);
        (*s)->SetBkColor(RGB(255, 0, 0));
        (*s)->TextOut(100, 50, "Wg");
        return s;
    };
    Surface probe(10, 10);
    probe->SelectObject(Font(-20));
    const SIZE ext = Extent(*probe, "Wg");
    TEXTMETRIC tm;
    probe->GetTextMetrics(&tm);
    // Opaque: the cell of the text in the background colour.
    auto left = draw(TA_LEFT | TA_TOP, OPAQUE);
    EXPECT_EQ(left->InkBox(), (RECT{100, 50, 100 + ext.cx, 50 + ext.cy}));
    auto right = draw(TA_RIGHT | TA_BOTTOM, OPAQUE);
    EXPECT_EQ(right->InkBox(), (RECT{100 - ext.cx, 50 - ext.cy, 100, 50}));
    auto centre = draw(TA_CENTER | TA_BASELINE, OPAQUE);
    EXPECT_EQ(centre->InkBox(), (RECT{100 - ext.cx / 2, 50 - tm.tmAscent, 100 - ext.cx / 2 + ext.cx,
                                      50 + tm.tmDescent}));
    // Transparent: only the letters, inside that cell.
    auto glyphs = draw(TA_LEFT | TA_TOP, TRANSPARENT);
    const RECT ink = glyphs->InkBox();
    EXPECT_GE(ink.left, 100);
    EXPECT_LE(ink.right, 100 + ext.cx + 1);
    EXPECT_GE(ink.top, 50);
    EXPECT_LE(ink.bottom, 50 + ext.cy);
    EXPECT_EQ(glyphs->Count(RGB(255, 0, 0)), 0);
    EXPECT_GT(glyphs->Count(0), 20);

    // TA_UPDATECP draws at the current position and moves it on.
    Surface cp(200, 60);
    cp->SelectObject(Font(-20));
    cp->SetTextAlign(TA_UPDATECP);
    cp->MoveToEx(10, 10);
    cp->TextOut(0, 0, "Wg");
    EXPECT_EQ(cp->GetCurrentPositionEx(), (POINT{10 + ext.cx, 10}));
    EXPECT_GE(cp.InkBox().left, 10);
}

TEST(gdi_text, escapement_turns_the_text_counter_clockwise) {
    test_support::EnsureQtApplication();
    Surface flat(200, 200), up(200, 200), down(200, 200);
    flat->SelectObject(Font(-20, "Arial", 0));
    up->SelectObject(Font(-20, "Arial", 900));
    down->SelectObject(Font(-20, "Arial", -900));
    for (Surface* s : {&flat, &up, &down}) (*s)->TextOut(100, 100, "Turn");
    const RECT f = flat.InkBox(), u = up.InkBox(), d = down.InkBox();
    // Ninety degrees: the text runs upward from the point, its top to the left.
    EXPECT_LE(u.bottom, 101);
    EXPECT_NEAR(u.bottom - u.top, f.right - f.left, 2);
    EXPECT_GE(u.left, 100);
    EXPECT_LE(u.right, 100 + 25);
    // Minus ninety: downward, its top to the right.
    EXPECT_GE(d.top, 99);
    EXPECT_LE(d.right, 101);
    EXPECT_NEAR(d.bottom - d.top, f.right - f.left, 2);
}

TEST(gdi_text, text_paths_stroke_fill_widen_and_clip) {
    test_support::EnsureQtApplication();
    auto letters = [](auto&& finish) {
        auto s = std::make_unique<Surface>(200, 80);
        (*s)->SelectObject(Font(-60));
        (*s)->SelectObject(CreateSolidBrush(RGB(255, 0, 0)));
        (*s)->BeginPath();
        (*s)->TextOut(10, 5, "OH");
        (*s)->EndPath();
        finish(**s);
        return s;
    };
    auto filled = letters([](DC& dc) { dc.FillPath(); });
    auto outlined = letters([](DC& dc) { dc.StrokePath(); });
    auto both = letters([](DC& dc) { dc.StrokeAndFillPath(); });
    // Recording the path draws nothing; the fill has no outline, the
    // outline no inside.
    EXPECT_GT(filled->Count(RGB(255, 0, 0)), 300);
    EXPECT_EQ(filled->Count(0), 0);
    EXPECT_EQ(outlined->Count(RGB(255, 0, 0)), 0);
    EXPECT_GT(outlined->Count(0), 100);
    EXPECT_GT(both->Count(0), 100);
    EXPECT_GT(both->Count(RGB(255, 0, 0)), 0);
    // Clipping to the letters: a fill of everything paints the letters only.
    auto clipped = letters([](DC& dc) {
        EXPECT_TRUE(dc.SelectClipPath(RGN_AND));
        dc.FillRect({0, 0, 200, 80}, CreateSolidBrush(RGB(0, 0, 255)));
    });
    EXPECT_EQ(clipped->Count(RGB(0, 0, 255)), filled->Count(RGB(255, 0, 0)));
    // Widened, the path is the letters' outline: its fill is the stroke of
    // a wide pen, with the hole of the O left open.
    auto widened = letters([](DC& dc) {
        dc.SelectObject(CreatePen(PS_SOLID, 3, 0));
        dc.WidenPath();
        dc.FillPath();
    });
    EXPECT_GT(widened->Count(RGB(255, 0, 0)), 100);
    EXPECT_LT(widened->Count(RGB(255, 0, 0)), filled->Count(RGB(255, 0, 0)) * 2);
    // Path calls outside a finished path fail.
    Surface s(10, 10);
    EXPECT_FALSE(s->FillPath());
    EXPECT_FALSE(s->EndPath());
}

}  // namespace
