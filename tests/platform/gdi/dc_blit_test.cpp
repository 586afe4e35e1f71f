// Block transfers with ternary raster operations, stretching, mirroring and
// alpha; bitmaps with their size limits and pixel formats; the window
// context that draws through a painter.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <vector>

#include "platform/gdi/dc.h"
#include "platform/gdi/qt_gdi.h"
#include "support/gdi_surface.h"
#include "support/qt_app.h"

namespace {

using namespace gdi;
using test_support::Surface;

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kRed = RGB(255, 0, 0);

// 4 x 4, every pixel its own colour.
void Pattern(Surface& s) {
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) s.bitmap->SetPixel(x, y, RGB(x * 60, y * 60, 200));
}

TEST(gdi_blt, copies_stretches_mirrors_and_combines) {
    Surface src(4, 4);
    Pattern(src);
    Surface s(20, 20);
    s->BitBlt(2, 3, 4, 4, src.dc.get(), 0, 0, SRCCOPY);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(s.At(2 + x, 3 + y), src.At(x, y));
    EXPECT_EQ(s.Count(kWhite), 400 - 16);
    // Twice the size: each source pixel becomes 2 x 2.
    s->StretchBlt(10, 0, 8, 8, src.dc.get(), 0, 0, 4, 4, SRCCOPY);
    EXPECT_EQ(s.At(10, 0), src.At(0, 0));
    EXPECT_EQ(s.At(11, 1), src.At(0, 0));
    EXPECT_EQ(s.At(17, 7), src.At(3, 3));
    // A negative width mirrors (the columns from x - 4 up to x).
    s->StretchBlt(13, 12, -4, 4, src.dc.get(), 0, 0, 4, 4, SRCCOPY);
    EXPECT_EQ(s.At(9, 12), src.At(3, 0));
    EXPECT_EQ(s.At(12, 12), src.At(0, 0));
    EXPECT_EQ(s.At(13, 12), kWhite);
    // XOR twice restores; the inverted destination twice restores.
    const auto before = s.Pixels();
    s->BitBlt(0, 0, 4, 4, src.dc.get(), 0, 0, SRCINVERT);
    EXPECT_EQ(s.At(1, 1), src.At(1, 1) ^ kWhite);
    s->BitBlt(0, 0, 4, 4, src.dc.get(), 0, 0, SRCINVERT);
    s->PatBlt(0, 0, 20, 20, DSTINVERT);
    s->PatBlt(0, 0, 20, 20, DSTINVERT);
    EXPECT_EQ(s.Pixels(), before);
    // The pattern is the selected brush; BLACKNESS and WHITENESS need none.
    s->SelectObject(CreateSolidBrush(kRed));
    s->PatBlt(0, 0, 2, 2, PATCOPY);
    EXPECT_EQ(s.At(1, 1), kRed);
    s->PatBlt(0, 0, 1, 1, BLACKNESS);
    EXPECT_EQ(s.At(0, 0), 0u);
    s->SelectObject(GetStockBrush(NULL_BRUSH));
    s->PatBlt(0, 0, 2, 2, PATCOPY);
    EXPECT_EQ(s.At(1, 1), kRed);
    // Overlapping copy within one context reads the old pixels.
    Surface o(10, 1);
    for (int x = 0; x < 10; ++x) o.bitmap->SetPixel(x, 0, RGB(x, 0, 0));
    o->BitBlt(1, 0, 9, 1, o.dc.get(), 0, 0, SRCCOPY);
    for (int x = 1; x < 10; ++x) EXPECT_EQ(o.At(x, 0), RGB(x - 1, 0, 0));
    // A source that reads nothing, or no source where one is needed.
    EXPECT_FALSE(s->BitBlt(0, 0, 4, 4, nullptr, 0, 0, SRCCOPY));
    auto rec = DC::CreateRecordingDC(4, 4);
    EXPECT_FALSE(s->BitBlt(0, 0, 4, 4, rec.get(), 0, 0, SRCCOPY));
}

TEST(gdi_blt, alpha_blend_mixes_by_constant_and_per_pixel_alpha) {
    Surface src(2, 1);
    src.bitmap->SetHasAlpha(true);
    auto* row = reinterpret_cast<std::uint32_t*>(src.bitmap->ScanLine(0));
    row[0] = 0xFF0000FFu;  // opaque blue
    row[1] = 0x000000FFu;  // transparent blue
    Surface s(4, 1);
    BLENDFUNCTION half;
    half.SourceConstantAlpha = 128;
    s->AlphaBlend(0, 0, 2, 1, src.dc.get(), 0, 0, 2, 1, half);
    EXPECT_EQ(s.At(0, 0), RGB(127, 127, 255));
    BLENDFUNCTION own;
    own.AlphaFormat = AC_SRC_ALPHA;
    s->AlphaBlend(2, 0, 2, 1, src.dc.get(), 0, 0, 2, 1, own);
    EXPECT_EQ(s.At(2, 0), RGB(0, 0, 255));
    EXPECT_EQ(s.At(3, 0), kWhite);
    EXPECT_FALSE(s->AlphaBlend(0, 0, -2, 1, src.dc.get(), 0, 0, 2, 1, own));
}

TEST(gdi_bitmaps, sizes_formats_and_limits) {
    // Sides of 0 or below: an empty bitmap that draws nothing and reads nothing.
    for (auto [w, h] : {std::pair{0, 5}, std::pair{-3, -3}, std::pair{7, 0}}) {
        auto empty = CreateBitmap(w, h);
        EXPECT_TRUE(empty->Empty());
        auto dc = DC::CreateCompatibleDC();
        dc->SelectObject(empty);
        EXPECT_EQ(empty->Width(), std::max(w, 0));  // the other side is kept
        EXPECT_TRUE(dc->Rectangle(0, 0, 5, 5));
        EXPECT_EQ(dc->GetPixel(0, 0), CLR_INVALID);
        EXPECT_EQ(dc->SetPixel(0, 0, kRed), CLR_INVALID);
    }
    // Beyond 32,767 a side: a clear error.
    try {
        CreateBitmap(32768, 2);
        ADD_FAILURE() << "no error";
    } catch (const EGdiError& e) {
        EXPECT_NE(std::string(e.what()).find("32768 x 2"), std::string::npos) << e.what();
    }
    // A new size keeps what both share, the rest is white.
    Surface s(4, 4);
    s->FillRect({0, 0, 4, 4}, CreateSolidBrush(kRed));
    s.bitmap->SetSize(6, 2);
    EXPECT_EQ(s->Width(), 6);
    EXPECT_EQ(s.At(3, 1), kRed);
    EXPECT_EQ(s.At(5, 1), kWhite);
    s->Rectangle(0, 0, 6, 2);
    EXPECT_EQ(s.At(5, 1), 0u);
    // 24 bits per pixel: blue, green, red; drawing and reading as before.
    s.bitmap->SetBitsPerPixel(24);
    EXPECT_EQ(s.bitmap->BytesPerLine() >= 18, true);
    EXPECT_EQ(s.At(2, 1), 0u);
    s->SelectObject(CreateSolidBrush(RGB(10, 20, 30)));
    s->SelectObject(GetStockPen(NULL_PEN));
    s->Rectangle(1, 0, 4, 3);
    const std::uint8_t* row = s.bitmap->ScanLine(0);
    EXPECT_EQ(row[3], 30);
    EXPECT_EQ(row[4], 20);
    EXPECT_EQ(row[5], 10);
    s->SetROP2(R2_XORPEN);
    s->SelectObject(CreatePen(PS_SOLID, 1, kWhite));
    s->MoveToEx(0, 1);
    s->LineTo(6, 1);
    EXPECT_EQ(s.At(5, 1), kWhite);
    EXPECT_EQ(s.At(1, 1), RGB(245, 235, 225));
    // System colours come from one fixed table; beyond it, black.
    EXPECT_EQ(GetSysColor(COLOR_WINDOW), kWhite);
    EXPECT_EQ(GetSysColor(31), 0u);
    EXPECT_EQ(GetSysColor(-1), 0u);
    // The high byte of a COLORREF is not a colour.
    s->SetROP2(R2_COPYPEN);
    EXPECT_EQ(s->SetPixel(0, 0, 0x7F0000FFu), kRed);
    EXPECT_EQ(s.At(0, 0), kRed);
}

TEST(gdi_window, a_window_context_draws_what_a_memory_context_draws) {
    test_support::EnsureQtApplication();
    auto scene = [](DC& dc) {
        dc.SelectObject(CreatePen(PS_DOT, 1, RGB(0, 0, 255)));
        dc.SelectObject(CreateHatchBrush(HS_BDIAGONAL, kRed));
        dc.SetBkColor(RGB(0, 200, 0));
        dc.Rectangle(5, 5, 60, 40);
        dc.SetROP2(R2_XORPEN);
        dc.SelectObject(CreatePen(PS_SOLID, 1, kWhite));
        const std::vector<POINT> zig = {{0, 50}, {30, 20}, {60, 50}, {90, 20}};
        dc.Polyline(zig);
        dc.SetROP2(R2_COPYPEN);
        dc.SelectClipRgn(CreateEllipticRgn(50, 0, 100, 60));
        dc.FillRect({0, 0, 100, 60}, CreateSolidBrush(RGB(200, 200, 0)));
        dc.SetPixel(75, 30, 0);
    };
    Surface memory(100, 60);
    scene(*memory.dc);
    QImage window(100, 60, QImage::Format_RGB32);
    window.fill(Qt::white);
    {
        QPainter painter(&window);
        painter.setPen(Qt::magenta);  // the painter's own state survives
        auto dc = CreatePainterDC(&painter, 100, 60);
        scene(*dc);
        EXPECT_EQ(dc->GetPixel(75, 30), CLR_INVALID);  // a window is not read
        dc.reset();
        EXPECT_EQ(painter.pen().color(), QColor(Qt::magenta));
        EXPECT_FALSE(painter.hasClipping());
    }
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 100; ++x)
            ASSERT_EQ(FromQRgb(window.pixel(x, y)), memory.At(x, y)) << x << "," << y;
}

}  // namespace
