// Bitmap files: every depth written and read back, files of other writers
// read, and bad files and failing streams refused with a clear error.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <cstring>
#include <set>

#include "platform/gdi/bytes.h"
#include "platform/gdi/dib.h"
#include "platform/rtl/exceptions.h"
#include "platform/vcl/bitmap.h"
#include "platform/vcl/forms.h"
#include "platform/vcl/picture.h"
#include "platform/vcl/streams.h"
#include "support/graphic_bytes.h"
#include "support/temp_dir.h"

namespace {

using namespace vcl;
using test_support::PixelsOf;

// A small scene of flat colours on an odd width (rows need padding).
void DrawFlat(TBitmap& bmp) {
    TCanvas& c = bmp.Canvas();
    c.Brush.SetColor(clWhite);
    c.FillRect({0, 0, bmp.Width(), bmp.Height()});
    c.Brush.SetColor(clRed);
    c.Pen.SetColor(clNavy);
    c.Rectangle(2, 2, 15, 11);
    c.Brush.SetColor(clYellow);
    c.Ellipse(17, 1, 30, 12);
    c.Pen.SetColor(clGreen);
    c.MoveTo(0, 12);
    c.LineTo(37, 0);
    c.SetPixel(36, 12, 0x336699);
}

// Every pixel a different colour.
void DrawMany(TBitmap& bmp) {
    for (int y = 0; y < bmp.Height(); ++y)
        for (int x = 0; x < bmp.Width(); ++x)
            bmp.Canvas().SetPixel(x, y, gdi::RGB(x * 7, y * 19, (x * y) & 0xFF));
}

std::unique_ptr<TBitmap> Loaded(const std::vector<std::uint8_t>& bytes) {
    TMemoryStream s;
    s.WriteBuffer(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    s.SetPosition(0);
    auto bmp = std::make_unique<TBitmap>();
    bmp->LoadFromStream(s);
    return bmp;
}

struct Depth {
    TPixelFormat format;
    int bits;         // biBitCount
    int compression;  // 0 BI_RGB, 3 BI_BITFIELDS
};

TEST(vcl_bitmap_file, every_depth_is_written_with_its_header_and_read_back_with_its_colours) {
    const Depth depths[] = {
        {TPixelFormat::pf1bit, 1, 0},   {TPixelFormat::pf4bit, 4, 0},   {TPixelFormat::pf8bit, 8, 0},
        {TPixelFormat::pf15bit, 16, 0}, {TPixelFormat::pf16bit, 16, 3}, {TPixelFormat::pf24bit, 24, 0},
        {TPixelFormat::pf32bit, 32, 0}, {TPixelFormat::pfDevice, 32, 0},
    };
    for (bool many : {false, true}) {
        TBitmap source(37, 13);
        many ? DrawMany(source) : DrawFlat(source);
        const std::vector<gdi::COLORREF> drawn = PixelsOf(source);
        for (const Depth& d : depths) {
            SCOPED_TRACE(testing::Message() << "bits " << d.bits << " compression " << d.compression
                                            << (many ? " many colours" : " flat colours"));
            TBitmap bmp;
            bmp.Assign(source);
            bmp.SetPixelFormat(d.format);
            const std::vector<gdi::COLORREF> reduced = PixelsOf(bmp);
            const std::vector<std::uint8_t> file = test_support::SavedBytes(bmp);
            const std::span<const std::uint8_t> f(file);

            // File header, 40-byte information header, padded rows bottom-up.
            ASSERT_GE(file.size(), 54u);
            EXPECT_EQ(file[0], 'B');
            EXPECT_EQ(file[1], 'M');
            EXPECT_EQ(gdi::GetU32(f, 2), file.size());
            EXPECT_EQ(gdi::GetU32(f, 6), 0u);
            EXPECT_EQ(gdi::GetU32(f, 14), 40u);
            EXPECT_EQ(gdi::GetI32(f, 18), 37);
            EXPECT_EQ(gdi::GetI32(f, 22), 13);  // positive: bottom-up
            EXPECT_EQ(gdi::GetU16(f, 26), 1);
            EXPECT_EQ(gdi::GetU16(f, 28), d.bits);
            EXPECT_EQ(gdi::GetU32(f, 30), std::uint32_t(d.compression));
            const std::size_t stride = (37 * std::size_t(d.bits) + 31) / 32 * 4;
            EXPECT_EQ(stride % 4, 0u);
            const std::uint32_t offBits = gdi::GetU32(f, 10);
            const std::uint32_t tableSize = gdi::GetU32(f, 46);
            EXPECT_EQ(offBits, 54 + (d.compression == 3 ? 12 : tableSize * 4));
            EXPECT_EQ(gdi::GetU32(f, 34), stride * 13);
            EXPECT_EQ(file.size(), offBits + stride * 13);
            if (d.bits <= 8) {
                EXPECT_GE(tableSize, 1u);
                EXPECT_LE(tableSize, 1u << d.bits);
            } else {
                EXPECT_EQ(tableSize, 0u);
            }
            if (d.bits == 24) {
                // The first row in the file is the bottom row of the picture.
                const gdi::COLORREF bottomLeft = drawn[12 * 37];
                EXPECT_EQ(file[offBits], gdi::GetBValue(bottomLeft));
                EXPECT_EQ(file[offBits + 2], gdi::GetRValue(bottomLeft));
            }

            const auto backFile = Loaded(file);
            const TBitmap& back = *backFile;
            EXPECT_EQ(back.Width(), 37);
            EXPECT_EQ(back.Height(), 13);
            const TPixelFormat expected =
                d.format == TPixelFormat::pfDevice ? TPixelFormat::pf32bit : d.format;
            EXPECT_EQ(back.PixelFormat(), expected);
            EXPECT_EQ(PixelsOf(back), reduced);  // the colour the depth gives each pixel

            std::set<gdi::COLORREF> colors(reduced.begin(), reduced.end());
            if (d.bits >= 24) {
                EXPECT_EQ(reduced, drawn);
            }
            if (d.format == TPixelFormat::pf1bit) {
                EXPECT_EQ(colors, (std::set<gdi::COLORREF>{0, 0xFFFFFF}));
            } else if (d.bits <= 8 && !many) {
                EXPECT_EQ(reduced, drawn);  // few colours: the picture's own table, no loss
            } else if (d.format == TPixelFormat::pf4bit) {
                // Many colours: the 16 standard colours.
                const std::set<gdi::COLORREF> standard = {
                    clBlack, clMaroon, clGreen, clOlive, clNavy, clPurple, clTeal, clGray,
                    clSilver, clRed, clLime, clYellow, clBlue, clFuchsia, clAqua, clWhite};
                for (gdi::COLORREF c : colors) EXPECT_TRUE(standard.count(c)) << std::hex << c;
            } else if (d.format == TPixelFormat::pf8bit) {
                EXPECT_GT(colors.size(), 16u);
                EXPECT_LE(colors.size(), 256u);
            }
            if (d.bits == 16) {
                // Five (or six) bits a channel: close to the colour drawn.
                for (std::size_t i = 0; i < drawn.size(); ++i)
                    for (int shift : {0, 8, 16})
                        EXPECT_LE(std::abs(int(drawn[i] >> shift & 0xFF) - int(reduced[i] >> shift & 0xFF)), 8);
            }
        }
    }
    // The luminance rule of black and white, and the depth kept by a copy.
    TBitmap mono(3, 1);
    mono.Canvas().SetPixel(0, 0, clYellow);
    mono.Canvas().SetPixel(1, 0, clNavy);
    mono.Canvas().SetPixel(2, 0, 0x808080);
    mono.SetMonochrome(true);
    EXPECT_EQ(mono.PixelFormat(), TPixelFormat::pf1bit);
    EXPECT_EQ(PixelsOf(mono), (std::vector<gdi::COLORREF>{0xFFFFFF, 0, 0xFFFFFF}));
    TBitmap copy;
    copy.Assign(mono);
    EXPECT_TRUE(copy.Monochrome());
    mono.SetMonochrome(false);
    EXPECT_EQ(mono.PixelFormat(), TPixelFormat::pfDevice);
}

TEST(vcl_bitmap_file, files_of_another_writer_are_read_and_ours_read_there) {
    EnsureApplication();
    test_support::TempDir dir;
    TBitmap ours(37, 13);
    DrawFlat(ours);
    ours.SaveToFile(dir.File("ours.bmp"));
    // Another reader sees the same pixels.
    QImage there(QString::fromStdString(dir.File("ours.bmp")), "BMP");
    ASSERT_FALSE(there.isNull());
    ASSERT_EQ(there.width(), 37);
    for (int y = 0; y < 13; ++y)
        for (int x = 0; x < 37; ++x) {
            const QRgb p = there.pixel(x, y);
            EXPECT_EQ(gdi::RGB(qRed(p), qGreen(p), qBlue(p)), ours.Handle()->GetPixel(x, y)) << x << "," << y;
        }
    // Files another writer made, at the depths it writes, through a picture.
    for (QImage::Format format : {QImage::Format_RGB888, QImage::Format_RGB32, QImage::Format_Indexed8,
                                  QImage::Format_Mono}) {
        QImage img = there.convertToFormat(format);
        const std::string name = dir.File("theirs" + std::to_string(int(format)) + ".bmp");
        ASSERT_TRUE(img.save(QString::fromStdString(name), "BMP"));
        TPicture picture;
        picture.LoadFromFile(name);
        auto* read = dynamic_cast<TBitmap*>(picture.Graphic());
        ASSERT_NE(read, nullptr);
        const QImage expected = img.convertToFormat(QImage::Format_RGB32);
        for (int y = 0; y < 13; ++y)
            for (int x = 0; x < 37; ++x) {
                const QRgb p = expected.pixel(x, y);
                ASSERT_EQ(read->Handle()->GetPixel(x, y), gdi::RGB(qRed(p), qGreen(p), qBlue(p)))
                    << "format " << int(format) << " at " << x << "," << y;
            }
    }

    // Hand-made: a top-down 32-bit bit-field file and a core-header 1-bit one
    // whose second index has no table entry.
    std::vector<std::uint8_t> topDown(14 + 40 + 12 + 8, 0);
    {
        std::vector<std::uint8_t> tail;
        gdi::ByteWriter w(tail);
        w.U32(40), w.I32(2), w.I32(-1), w.U16(1), w.U16(32), w.U32(3), w.U32(8);
        w.Zeros(16);
        w.U32(0x0000FF00), w.U32(0x00FF0000), w.U32(0xFF000000);  // red, green, blue masks
        w.U32(0x0000FF00), w.U32(0xFF000000);                      // red, blue
        std::memcpy(topDown.data() + 14, tail.data(), tail.size());
        topDown[0] = 'B', topDown[1] = 'M', topDown[10] = 14 + 52;
    }
    const auto maskedFile = Loaded(topDown);
    const TBitmap& masked = *maskedFile;
    EXPECT_EQ(masked.Handle()->GetPixel(0, 0), gdi::RGB(255, 0, 0));
    EXPECT_EQ(masked.Handle()->GetPixel(1, 0), gdi::RGB(0, 0, 255));
    std::vector<std::uint8_t> core = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 14 + 12 + 6, 0, 0, 0,
                                      12, 0, 0, 0, 2, 0, 1, 0, 1, 0, 1, 0,
                                      0x10, 0x20, 0x30, 0x40, 0x50, 0x60,  // blue, green, red
                                      0x40, 0, 0, 0};
    const auto tinyFile = Loaded(core);
    const TBitmap& tiny = *tinyFile;
    EXPECT_EQ(tiny.PixelFormat(), TPixelFormat::pf1bit);
    EXPECT_EQ(tiny.Handle()->GetPixel(0, 0), gdi::RGB(0x30, 0x20, 0x10));
    EXPECT_EQ(tiny.Handle()->GetPixel(1, 0), gdi::RGB(0x60, 0x50, 0x40));
    // An index with no entry in a short table reads black.
    std::vector<std::uint8_t> shortTable(14, 0);
    {
        gdi::ByteWriter w(shortTable);
        w.U32(40), w.I32(2), w.I32(1), w.U16(1), w.U16(8), w.U32(0), w.U32(4);
        w.Zeros(8), w.U32(1), w.U32(0);
        w.U8(0xFF), w.U8(0xFF), w.U8(0xFF), w.U8(0);  // entry 0: white
        w.U8(0), w.U8(5), w.U8(0), w.U8(0);
        shortTable[0] = 'B', shortTable[1] = 'M', shortTable[10] = 14 + 44;
    }
    const auto indexedFile = Loaded(shortTable);
    const TBitmap& indexed = *indexedFile;
    EXPECT_EQ(indexed.PixelFormat(), TPixelFormat::pf8bit);
    EXPECT_EQ(indexed.Handle()->GetPixel(0, 0), gdi::RGB(255, 255, 255));
    EXPECT_EQ(indexed.Handle()->GetPixel(1, 0), 0u);
}

TEST(vcl_bitmap_file, bad_files_and_failing_streams_are_reported_and_change_nothing) {
    TBitmap source(5, 3);
    DrawFlat(source);
    source.SetPixelFormat(TPixelFormat::pf24bit);
    const std::vector<std::uint8_t> good = test_support::SavedBytes(source);
    // Padding after each 15-byte row is zero.
    for (int row = 0; row < 3; ++row) EXPECT_EQ(good[54 + row * 16 + 15], 0) << row;

    auto refused = [&](std::vector<std::uint8_t> bytes, const std::string& reason) {
        TBitmap keep(2, 2);
        keep.Canvas().SetPixel(0, 0, clRed);
        try {
            TMemoryStream s;
            if (!bytes.empty()) s.WriteBuffer(bytes.data(), static_cast<std::int32_t>(bytes.size()));
            s.SetPosition(0);
            keep.LoadFromStream(s);
            ADD_FAILURE() << "read: " << reason;
        } catch (const EInvalidGraphic& e) {
            EXPECT_NE(std::string(e.what()).find(reason), std::string::npos) << e.what();
        }
        EXPECT_EQ(keep.Width(), 2);
        EXPECT_EQ(keep.Handle()->GetPixel(0, 0), gdi::RGB(255, 0, 0));
    };
    refused({}, "no data");
    refused({'P', 'K', 3, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, "not a bitmap file");
    refused(std::vector<std::uint8_t>(good.begin(), good.end() - 1), "cut short");
    auto patched = [&](std::size_t at, std::uint32_t value) {
        std::vector<std::uint8_t> b = good;
        if (at + 4 > b.size())
            ADD_FAILURE() << "no field at " << at;
        else
            gdi::ByteWriter(b).PatchU32(at, value);
        return b;
    };
    refused(patched(10, 9999), "not in the file");
    refused(patched(30, 1), "compressed");                  // run-length coded
    refused(patched(18, 40000), "too large");
    refused(patched(18, 0), "no pixels");
    refused(patched(14, 7), "header size");
    std::vector<std::uint8_t> deep = good;
    gdi::ByteWriter(deep).PatchU16(28, 48);
    refused(deep, "bits per pixel");

    // Nothing to write: an error and no byte written.
    TMemoryStream empty;
    EXPECT_THROW(TBitmap().SaveToStream(empty), EInvalidGraphic);
    EXPECT_EQ(empty.Size(), 0);
    // A device that takes nothing: the failure is reported.
    TFileStream full("/dev/full", fmOpenWrite);
    EXPECT_THROW(source.SaveToStream(full), rtl::EWriteError);
}

}  // namespace
