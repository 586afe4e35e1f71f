// Metafile pictures of the class library: drawn through a recording
// canvas, drawn again at any size, written as either file, and put on the
// clipboard with bitmaps.
#include <gtest/gtest.h>

#include "platform/gdi/metafile.h"
#include "platform/rtl/exceptions.h"
#include "platform/vcl/bitmap.h"
#include "platform/vcl/clipboard.h"
#include "platform/vcl/forms.h"
#include "platform/vcl/metafile.h"
#include "platform/vcl/picture.h"
#include "platform/vcl/streams.h"
#include "support/graphic_bytes.h"
#include "support/metafile_reader.h"

namespace {

using namespace vcl;
using test_support::PixelsOf;

void Paint(TCanvas& c) {
    c.Brush.SetColor(clWhite);
    c.FillRect({0, 0, 120, 80});
    c.Pen.SetColor(clNavy);
    c.Pen.SetWidth(2);
    c.Brush.SetColor(clYellow);
    c.Rectangle(10, 10, 70, 50);
    c.Font.SetColor(clRed);
    c.Brush.SetStyle(TBrushStyle::bsClear);
    c.TextOut(20, 55, "Metafile");
}

TEST(vcl_metafile, a_recorded_picture_draws_like_the_canvas_it_was_drawn_on_and_is_written_as_either_file) {
    EnsureApplication();
    TMetafile mf;
    int changes = 0;
    mf.OnChange = [&] { ++changes; };
    mf.SetSize(120, 80);
    TBitmap direct(120, 80);
    Paint(direct.Canvas());
    {
        TMetafileCanvas canvas(mf);
        Paint(canvas);
        // The recording surface answers as a raster one, pixels excepted.
        EXPECT_EQ(canvas.TextExtent("Metafile").cx, direct.Canvas().TextExtent("Metafile").cx);
        EXPECT_EQ(canvas.Pixel(15, 15), clNone);
        EXPECT_TRUE(mf.Records().empty());  // handed over when the canvas goes
    }
    EXPECT_FALSE(mf.Records().empty());
    EXPECT_EQ(changes, 2);  // the size, the picture

    // Drawn at its size: the same pixels; stretched: the same picture, twice as large.
    TBitmap played(120, 80);
    played.Canvas().Draw(0, 0, &mf);
    EXPECT_EQ(PixelsOf(played), PixelsOf(direct));
    TBitmap big(240, 160);
    big.Canvas().StretchDraw({0, 0, 240, 160}, &mf);
    EXPECT_EQ(big.Handle()->GetPixel(80, 50), direct.Handle()->GetPixel(40, 25));  // yellow inside
    EXPECT_EQ(big.Handle()->GetPixel(20, 40), direct.Handle()->GetPixel(10, 20));  // the navy frame

    // Written: an enhanced file by default, a Windows one when asked.
    const auto emf = test_support::ReadEmf(test_support::SavedBytes(mf));
    EXPECT_EQ(emf.bounds, (test_support::EmfFile::Rect{0, 0, 119, 79}));
    EXPECT_EQ(emf.Of(84).size(), 1u);  // the text
    mf.SetEnhanced(false);
    const auto wmf = test_support::ReadWmf(test_support::SavedBytes(mf));
    EXPECT_EQ(wmf.right, 120);
    EXPECT_EQ(wmf.bottom, 80);
    // A copy shares the picture and its kind.
    auto copy = mf.Clone();
    auto* same = dynamic_cast<TMetafile*>(copy.get());
    ASSERT_NE(same, nullptr);
    EXPECT_EQ(&same->Records(), &mf.Records());
    EXPECT_FALSE(same->Enhanced());
    TPicture picture;
    picture.SetGraphic(&mf);
    EXPECT_EQ(picture.Width(), 120);
    EXPECT_EQ(PixelsOf(picture.Bitmap()), PixelsOf(direct));  // as a bitmap: played on white
}

TEST(vcl_metafile, pictures_that_cannot_be_written_or_read_say_so_and_write_nothing) {
    EnsureApplication();
    TMetafile none;
    TMemoryStream out;
    EXPECT_THROW(none.SaveToStream(out), EInvalidGraphic);
    EXPECT_EQ(out.Size(), 0);
    EXPECT_THROW(none.SetSize(40000, 10), gdi::EGdiError);
    EXPECT_EQ(none.Width(), 0);
    none.SetSize(10, 10);
    TFileStream full("/dev/full", fmOpenWrite);
    EXPECT_THROW(none.SaveToStream(full), rtl::EWriteError);
    TMemoryStream in;
    in.WriteBuffer("x", 1);
    in.SetPosition(0);
    EXPECT_THROW(none.LoadFromStream(in), EInvalidGraphic);
}

TEST(vcl_clipboard, takes_bitmaps_and_metafiles_and_gives_them_back) {
    EnsureApplication();
    TBitmap bmp(30, 20);
    bmp.Canvas().Brush.SetColor(clTeal);
    bmp.Canvas().FillRect({5, 5, 25, 15});
    Clipboard().Assign(bmp);
    EXPECT_TRUE(Clipboard().HasFormat(CF_BITMAP));
    EXPECT_FALSE(Clipboard().HasFormat(CF_ENHMETAFILE));
    TBitmap back;
    ASSERT_TRUE(Clipboard().GetBitmap(back));
    EXPECT_EQ(PixelsOf(back), PixelsOf(bmp));

    TMetafile mf;
    mf.SetSize(120, 80);
    {
        TMetafileCanvas canvas(mf);
        Paint(canvas);
    }
    Clipboard().Assign(mf);
    EXPECT_TRUE(Clipboard().HasFormat(CF_ENHMETAFILE));
    EXPECT_TRUE(Clipboard().HasFormat(CF_METAFILEPICT));
    EXPECT_EQ(Clipboard().GetMetafile(CF_ENHMETAFILE), mf.FileBytes(true));
    EXPECT_EQ(Clipboard().GetMetafile(CF_METAFILEPICT), mf.FileBytes(false));
    // For programs that paste pixels only: the picture as a bitmap.
    TBitmap rendered;
    ASSERT_TRUE(Clipboard().GetBitmap(rendered));
    TBitmap direct(120, 80);
    Paint(direct.Canvas());
    EXPECT_EQ(PixelsOf(rendered), PixelsOf(direct));

    Clipboard().SetAsText("text");
    EXPECT_TRUE(Clipboard().HasText());
    EXPECT_FALSE(Clipboard().HasFormat(CF_BITMAP));
    EXPECT_TRUE(Clipboard().GetMetafile(CF_ENHMETAFILE).empty());
    EXPECT_FALSE(Clipboard().GetBitmap(back));
    EXPECT_THROW(Clipboard().Assign(TFont()), rtl::EConvertError);
}

}  // namespace
