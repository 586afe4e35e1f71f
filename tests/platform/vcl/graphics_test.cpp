// The class library's drawing classes over device contexts: what reaches
// the context and when, pens with handles made elsewhere, font sizes,
// bitmaps with their formats and rows, PNG pictures.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/vcl/bitmap.h"
#include "platform/vcl/forms.h"
#include "platform/vcl/graphics.h"
#include "platform/vcl/picture.h"
#include "platform/vcl/streams.h"
#include "support/temp_dir.h"

namespace {

using namespace vcl;

constexpr gdi::COLORREF kWhite = gdi::RGB(255, 255, 255);

TEST(vcl_colors, system_colours_come_from_the_table_and_other_high_bytes_drop) {
    EXPECT_EQ(ColorToRGB(clWindow), kWhite);
    EXPECT_EQ(ColorToRGB(clHighlight), gdi::RGB(0x30, 0x8C, 0xC6));
    EXPECT_EQ(ColorToRGB(clBtnShadow), gdi::GetSysColor(gdi::COLOR_BTNSHADOW));
    EXPECT_EQ(ColorToRGB(TColor(0xFF0000FFu)), 0u);  // no system colour 255
    EXPECT_EQ(ColorToRGB(TColor(0xFF010005u)), 0u);
    EXPECT_EQ(ColorToRGB(0x7F00FF00), 0x00FF00u);
    EXPECT_EQ(ColorToRGB(clNone), 0xFFFFFFu);
    EXPECT_EQ(ColorToRGB(clDefault), 0u);
    EXPECT_EQ(MulDiv(8, 96, 72), 11);
    EXPECT_EQ(MulDiv(-11, 72, 96), -8);
    EXPECT_EQ(MulDiv(3, 1, 2), 2);
    EXPECT_EQ(MulDiv(1, 1, 0), -1);
}

TEST(vcl_canvas, pen_brush_and_font_reach_the_context_only_when_they_change) {
    EnsureApplication();
    auto dc = gdi::DC::CreateRecordingDC(100, 50);
    TCanvas canvas;
    canvas.SetHandle(dc.get());
    canvas.Rectangle(0, 0, 10, 10);
    canvas.Rectangle(5, 5, 20, 20);
    auto count = [&](gdi::RecordOp op) {
        int n = 0;
        for (const gdi::Record& r : dc->Records()) n += r.Op == op;
        return n;
    };
    EXPECT_EQ(count(gdi::RecordOp::SelectPen), 1);
    EXPECT_EQ(count(gdi::RecordOp::SelectBrush), 1);
    canvas.Pen.SetColor(clRed);
    canvas.Pen.SetMode(TPenMode::pmNotXor);
    canvas.Rectangle(0, 0, 5, 5);
    EXPECT_EQ(count(gdi::RecordOp::SelectPen), 2);
    EXPECT_EQ(dc->Records().back().State.Pen->Log().elpColor, gdi::RGB(255, 0, 0));
    EXPECT_EQ(dc->Records().back().State.Rop2, gdi::R2_NOTXORPEN);
    // A solid brush makes the background its colour and opaque; others
    // leave it transparent. Handle() hands the context out ready.
    canvas.Brush.SetColor(clBlue);
    EXPECT_EQ(canvas.Handle()->GetBkMode(), gdi::OPAQUE);
    EXPECT_EQ(canvas.Handle()->GetBkColor(), gdi::RGB(0, 0, 255));
    canvas.Brush.SetStyle(TBrushStyle::bsDiagCross);
    EXPECT_EQ(canvas.Handle()->GetBkMode(), gdi::TRANSPARENT);
    EXPECT_EQ(canvas.Handle()->CurrentBrush()->Log().lbHatch, gdi::HS_DIAGCROSS);
    // The font's colour is the text colour; its face is kept while only the
    // colour changes.
    const gdi::HFONT face = canvas.Font.Handle();
    canvas.Font.SetColor(clLime);
    EXPECT_EQ(canvas.Handle()->GetTextColor(), gdi::RGB(0, 255, 0));
    EXPECT_EQ(canvas.Handle()->CurrentFont(), face);
    canvas.Font.SetStyle(fsBold);
    EXPECT_NE(canvas.Font.Handle(), face);
    EXPECT_EQ(canvas.Handle()->CurrentFont()->Log().lfWeight, gdi::FW_BOLD);
}

TEST(vcl_canvas, text_on_a_solid_brush_fills_its_cell_and_a_clear_one_does_not) {
    EnsureApplication();
    TBitmap bmp(120, 40);
    TCanvas& c = bmp.Canvas();
    c.Brush.SetColor(clRed);
    c.TextOut(2, 2, "Text");
    const TSize size = c.TextExtent("Text");
    EXPECT_EQ(c.PenPos(), (TPoint{2 + size.cx, 2}));
    EXPECT_EQ(bmp.Handle()->GetPixel(2, 2), gdi::RGB(255, 0, 0));
    EXPECT_EQ(bmp.Handle()->GetPixel(1 + size.cx, 1 + size.cy), gdi::RGB(255, 0, 0));
    EXPECT_EQ(bmp.Handle()->GetPixel(2 + size.cx, 2), kWhite);
    c.Brush.SetStyle(TBrushStyle::bsClear);
    c.TextOut(60, 2, "Text");
    EXPECT_EQ(bmp.Handle()->GetPixel(60, 2), kWhite);
    // TextRect clips to its rectangle and fills it with a solid brush.
    c.Brush.SetColor(clBlue);
    c.Brush.SetStyle(TBrushStyle::bsSolid);
    c.TextRect({0, 25, 10, 40}, 0, 25, "Wide text");
    EXPECT_EQ(bmp.Handle()->GetPixel(9, 39), gdi::RGB(0, 0, 255));
    EXPECT_EQ(bmp.Handle()->GetPixel(10, 30), kWhite);
    // Pixels and XOR lines through the canvas.
    c.SetPixel(100, 30, clLime);
    EXPECT_EQ(c.Pixel(100, 30), clLime);
    EXPECT_EQ(c.Pixel(500, 30), clNone);
    c.Pen.SetMode(TPenMode::pmXor);
    c.Pen.SetColor(clWhite);
    c.MoveTo(90, 35);
    c.LineTo(110, 35);
    EXPECT_EQ(c.Pixel(95, 35), clBlack);
    c.MoveTo(90, 35);
    c.LineTo(110, 35);
    EXPECT_EQ(c.Pixel(95, 35), clWhite);
    // Without a context of its own a canvas still measures.
    TCanvas measuring;
    EXPECT_EQ(measuring.TextWidth("Text"), TCanvas().TextWidth("Text"));
    EXPECT_GT(measuring.TextHeight("Text"), 0);
}

TEST(vcl_pen, a_handle_made_elsewhere_stays_until_a_property_changes) {
    TPen pen;
    int changes = 0;
    pen.OnChange = [&] { ++changes; };
    const gdi::DWORD dots[] = {0, 3};
    const gdi::HPEN made = gdi::ExtCreatePen(gdi::PS_GEOMETRIC | gdi::PS_USERSTYLE, 1,
                                             gdi::LOGBRUSH{gdi::BS_SOLID, gdi::RGB(0, 0, 255), 0}, dots);
    pen.SetHandle(made);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(pen.Handle(), made);
    EXPECT_EQ(pen.Color(), clBlue);
    EXPECT_EQ(pen.Style(), TPenStyle::psUserStyle);
    pen.SetMode(TPenMode::pmXor);  // the mode is not part of the pen
    EXPECT_EQ(pen.Handle(), made);
    pen.SetColor(clRed);
    EXPECT_NE(pen.Handle(), made);
    EXPECT_EQ(pen.Handle()->Log().elpColor, gdi::RGB(255, 0, 0));
    pen.SetColor(clRed);
    EXPECT_EQ(changes, 3);
    // Widths below one draw one pixel.
    pen.SetWidth(0);
    EXPECT_EQ(pen.Handle()->Width(), 1);
    TPen copy;
    copy.Assign(pen);
    EXPECT_EQ(copy.Mode(), TPenMode::pmXor);
    EXPECT_EQ(copy.Width(), 0);
    EXPECT_THROW(copy.Assign(TBrush()), rtl::EConvertError);
}

TEST(vcl_font, size_height_and_resolution) {
    TFont f;
    EXPECT_EQ(f.Size(), 8);
    EXPECT_EQ(f.Height(), -11);
    f.SetHeight(-15);
    EXPECT_EQ(f.Size(), 11);
    EXPECT_EQ(f.LogFont().lfHeight, -15);
    f.SetHeight(20);  // positive: the cell
    EXPECT_EQ(f.Size(), -15);
    EXPECT_EQ(f.LogFont().lfHeight, 20);
    f.SetSize(12);
    EXPECT_EQ(f.Height(), -16);
    // A font at another resolution keeps its size in points.
    TFont hi;
    hi.PixelsPerInch = 120;
    hi.Assign(f);
    EXPECT_EQ(hi.Size(), 12);
    EXPECT_EQ(hi.Height(), -20);
    EXPECT_EQ(hi.LogFont().lfHeight, -16);
    f.SetCharset(gdi::RUSSIAN_CHARSET);
    f.SetPitch(TFontPitch::fpFixed);
    f.SetStyle(fsItalic | fsUnderline | fsStrikeOut);
    const gdi::LOGFONT lf = f.LogFont();
    EXPECT_EQ(lf.lfCharSet, gdi::RUSSIAN_CHARSET);
    EXPECT_EQ(lf.lfPitchAndFamily, gdi::FIXED_PITCH);
    EXPECT_EQ(lf.lfItalic + lf.lfUnderline + lf.lfStrikeOut, 3);
    EXPECT_EQ(lf.lfWeight, gdi::FW_NORMAL);
}

TEST(vcl_bitmap, size_pixel_format_rows_and_canvas) {
    TBitmap bmp;
    EXPECT_TRUE(bmp.Empty());
    bmp.SetWidth(7);
    bmp.SetHeight(3);  // one side at a time, from nothing
    EXPECT_EQ(bmp.Width(), 7);
    EXPECT_EQ(bmp.Height(), 3);
    bmp.Canvas().Brush.SetColor(0x123456);
    bmp.Canvas().FillRect({0, 0, 7, 3});
    bmp.SetPixelFormat(TPixelFormat::pf24bit);
    const std::uint8_t* row = bmp.ScanLine(2);
    EXPECT_EQ(row[0], 0x12);  // blue, green, red
    EXPECT_EQ(row[1], 0x34);
    EXPECT_EQ(row[2], 0x56);
    EXPECT_THROW(bmp.ScanLine(3), EInvalidGraphicOperation);
    EXPECT_THROW(bmp.ScanLine(-1), EInvalidGraphicOperation);
    // The canvas keeps drawing after the format and size changed.
    bmp.SetSize(10, 4);
    bmp.Canvas().Pixel(0, 0);
    bmp.Canvas().SetPixel(9, 3, clRed);
    EXPECT_EQ(bmp.ScanLine(3)[27], 0);
    EXPECT_EQ(bmp.ScanLine(3)[29], 255);
    EXPECT_EQ(bmp.ScanLine(0)[0], 0x12);
    EXPECT_EQ(bmp.ScanLine(0)[9 * 3], 0xFF);  // grown: white
    bmp.SetPixelFormat(TPixelFormat::pf32bit);
    EXPECT_EQ(bmp.ScanLine(0)[3], 0xFF);
    EXPECT_THROW(bmp.SetPixelFormat(TPixelFormat::pfCustom), EInvalidGraphicOperation);
    EXPECT_EQ(bmp.PixelFormat(), TPixelFormat::pf32bit);
    EXPECT_THROW(bmp.SetSize(40000, 4), gdi::EGdiError);
    EXPECT_EQ(bmp.Width(), 10);
    // A copy holds its own pixels.
    TBitmap copy;
    copy.Assign(bmp);
    copy.Canvas().SetPixel(0, 0, clBlack);
    EXPECT_EQ(bmp.Canvas().Pixel(0, 0), 0x123456);
    EXPECT_EQ(copy.Canvas().Pixel(9, 3), clRed);
    test_support::TempDir dir;
    EXPECT_THROW(TBitmap().SaveToFile(dir.File("never.bmp")), EInvalidGraphic);  // empty
    // Drawn stretched onto another canvas.
    TBitmap big(20, 8);
    big.Canvas().StretchDraw({0, 0, 20, 8}, &bmp);
    EXPECT_EQ(big.Canvas().Pixel(19, 7), clRed);
    EXPECT_EQ(big.Canvas().Pixel(2, 1), 0x123456);
}

TEST(vcl_picture, png_files_round_trip_with_alpha_and_refuse_what_they_cannot_hold) {
    EnsureApplication();
    test_support::TempDir dir;
    // A picture with alpha: an opaque red pixel and a half transparent blue one.
    TPngGraphic png;
    TBitmap two(2, 1);
    png.Assign(two);
    png.Handle()->SetHasAlpha(true);
    auto* px = reinterpret_cast<std::uint32_t*>(png.Handle()->ScanLine(0));
    px[0] = 0xFFFF0000u;
    px[1] = 0x800000FFu;
    png.SaveToFile(dir.File("a.PNG"));
    TPicture picture;
    int changes = 0;
    picture.OnChange = [&] { ++changes; };
    picture.LoadFromFile(dir.File("a.PNG"));  // the extension in any case
    EXPECT_EQ(changes, 1);
    auto* read = dynamic_cast<TPngGraphic*>(picture.Graphic());
    ASSERT_NE(read, nullptr);
    EXPECT_TRUE(read->HasAlpha());
    const auto* got = reinterpret_cast<const std::uint32_t*>(read->Handle()->ScanLine(0));
    EXPECT_EQ(got[0], 0xFFFF0000u);
    EXPECT_EQ(got[1], 0x800000FFu);
    // Drawn blended over white.
    TBitmap canvasBmp(2, 1);
    canvasBmp.Canvas().Draw(0, 0, read);
    EXPECT_EQ(canvasBmp.Canvas().Pixel(0, 0), clRed);
    EXPECT_EQ(canvasBmp.Canvas().Pixel(1, 0), 0xFF7F7F);
    // As a bitmap: drawn on white.
    TBitmap& asBitmap = picture.Bitmap();
    EXPECT_EQ(asBitmap.Width(), 2);
    EXPECT_EQ(asBitmap.Canvas().Pixel(1, 0), 0xFF7F7F);
    EXPECT_EQ(picture.Graphic(), &asBitmap);

    // Not a PNG: a clear error and the old pixels kept.
    {
        TFileStream junk(dir.File("junk.png"), fmCreate);
        junk.WriteBuffer("not a picture", 13);
    }
    TPngGraphic keep;
    keep.Assign(two);
    EXPECT_THROW(keep.LoadFromFile(dir.File("junk.png")), EInvalidGraphic);
    EXPECT_EQ(keep.Width(), 2);
    try {
        picture.LoadFromFile(dir.File("picture.xyz"));
        ADD_FAILURE() << "no error";
    } catch (const EInvalidGraphic& e) {
        EXPECT_NE(std::string(e.what()).find(".xyz"), std::string::npos);
    }
    EXPECT_THROW(TPngGraphic().SaveToFile(dir.File("empty.png")), EInvalidGraphic);
    picture.SetGraphic(nullptr);
    EXPECT_EQ(picture.Width(), 0);
}

}  // namespace
