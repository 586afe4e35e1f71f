// The export formats: their list and file-dialog entries, the graphic a
// file extension asks for, the bitmap written at each colour depth and read
// back, filters applied, metafiles read back record by record, the
// clipboard, and what bad sizes and failing streams give.
#include <gtest/gtest.h>

#include <set>

#include "chart/drawing/plot_html.h"
#include "chart/drawing/pixel_filters.h"
#include "chart/drawing/plot_canvas3d.h"
#include "chart/tools/editor_controls.h"
#include "chart/tools/export_formats.h"
#include "platform/gdi/dc.h"
#include "platform/vcl/bitmap.h"
#include "platform/vcl/clipboard.h"
#include "platform/vcl/metafile.h"
#include "platform/vcl/std_ctrls.h"
#include "platform/vcl/streams.h"
#include "support/graphic_bytes.h"
#include "support/metafile_reader.h"
#include "support/qt_app.h"
#include "support/sample_chart.h"

namespace {

using namespace chart::tools;
using test_support::PixelsOf;

std::vector<std::uint8_t> Bytes(vcl::TMemoryStream& s) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(s.Memory());
    return {p, p + s.Size()};
}

std::vector<std::uint8_t> Saved(TPlotExportFormat& format) {
    vcl::TMemoryStream s;
    format.SaveToStream(s);
    return Bytes(s);
}

std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

std::unique_ptr<vcl::TBitmap> Read(const std::vector<std::uint8_t>& file) {
    vcl::TMemoryStream s;
    s.WriteBuffer(file.data(), static_cast<std::int32_t>(file.size()));
    s.SetPosition(0);
    auto b = std::make_unique<vcl::TBitmap>();
    b->LoadFromStream(s);
    return b;
}

TEST(chart_export_formats, the_formats_list_their_files_and_give_the_graphic_of_an_extension) {
    test_support::EnsureQtApplication();
    const auto list = PlotExportFormats();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0], &BMPExportFormatClass());
    EXPECT_EQ(list[1], &EMFExportFormatClass());
    TBMPExportFormat bmp;
    TEMFExportFormat emf;
    EXPECT_EQ(bmp.Description(), "as &Bitmap");
    EXPECT_EQ(emf.Description(), "as &Metafile");
    EXPECT_EQ(bmp.FileFilter() + "|" + emf.FileFilter(),
              "Bitmaps (*.bmp)|*.bmp|Enhanced Metafiles (*.emf)|*.emf|Metafiles (*.wmf)|*.wmf");
    // A fresh metafile format has no options: it is enhanced.
    EXPECT_EQ(emf.Options(false), nullptr);
    EXPECT_EQ(emf.FileExtension(), "emf");

    // The dialog's entries from 0: the bitmap 1, the metafile 2 and 3.
    int index = 0;
    bmp.SetFilterIndex(index);
    emf.SetFilterIndex(index);
    EXPECT_EQ(index, 3);
    EXPECT_EQ(bmp.FilterIndex(), 1);
    EXPECT_EQ(emf.FilterIndex(), 2);
    EXPECT_TRUE(bmp.WantsFilter(1));
    EXPECT_FALSE(bmp.WantsFilter(2));
    EXPECT_FALSE(emf.WantsFilter(1));
    EXPECT_TRUE(emf.WantsFilter(2));
    EXPECT_EQ(emf.FileExtension(), "emf");
    // Entry 3 switches the metafile to a Windows one.
    EXPECT_TRUE(emf.WantsFilter(3));
    ASSERT_NE(emf.Options(false), nullptr);
    EXPECT_FALSE(emf.Options(false)->CBEnhanced->Checked());
    EXPECT_EQ(emf.FileExtension(), "wmf");
    EXPECT_EQ(emf.FilterIndex(), 3);
    EXPECT_FALSE(emf.WantsFilter(4));
    // Entry 2 chosen afterwards is the enhanced file again.
    EXPECT_TRUE(emf.WantsFilter(2));
    EXPECT_EQ(emf.FileExtension(), "emf");

    // The graphic of a file extension, for markup images.
    EXPECT_EQ(chart::PlotGraphicFromExtensionHook, &PlotGraphicFromExtension);
    const auto bitmap = PlotGraphicFromExtension(".BMP");
    ASSERT_NE(dynamic_cast<vcl::TBitmap*>(bitmap.get()), nullptr);
    EXPECT_TRUE(bitmap->Empty());
    EXPECT_EQ(PlotGraphicFromExtension(".png"), nullptr);
    EXPECT_EQ(PlotGraphicFromExtension("bmp"), nullptr);
    EXPECT_NE(dynamic_cast<vcl::TMetafile*>(PlotGraphicFromExtension(".Emf").get()), nullptr);
    EXPECT_EQ(PlotGraphicFromExtension(".wmf"), nullptr);  // a fresh format is enhanced

    // Taken out of the list, a format gives nothing; put back, it is last.
    UnregisterPlotExportFormat(BMPExportFormatClass());
    EXPECT_EQ(PlotGraphicFromExtension(".bmp"), nullptr);
    RegisterPlotExportFormat(BMPExportFormatClass());
    EXPECT_EQ(PlotExportFormats().back(), &BMPExportFormatClass());
    EXPECT_NE(PlotGraphicFromExtension(".bmp"), nullptr);
    UnregisterPlotExportFormat(EMFExportFormatClass());
    RegisterPlotExportFormat(EMFExportFormatClass());
    EXPECT_EQ(PlotExportFormats(), list);
    // More users keep them; the last release would end them.
    PlotExportFormatsUse();
    PlotExportFormatsRelease();
    EXPECT_EQ(PlotExportFormats().size(), 2u);
}

TEST(chart_export_formats, markup_images_of_bitmap_files_load_through_the_formats) {
    test_support::EnsureQtApplication();
    // The application's loader hands over a 6 x 4 blue bitmap file.
    static std::vector<std::uint8_t> file;
    vcl::TBitmap blue(6, 4);
    blue.Canvas().Brush.SetColor(vcl::clBlue);
    blue.Canvas().FillRect({0, 0, 6, 4});
    file = test_support::SavedBytes(blue);
    chart::PlotHtmlImageLoader = [](const std::string&, vcl::TStream& stream) {
        stream.WriteBuffer(file.data(), static_cast<std::int32_t>(file.size()));
        return 0;
    };
    auto draw = [](const std::string& text) {
        auto target = std::make_unique<vcl::TBitmap>(100, 80);
        chart::TPlotCanvas3D c;
        c.SetBufferedDisplay(false);
        c.InitWindow(&target->Canvas(), nullptr, vcl::clWhite, false, {0, 0, 100, 80});
        c.ResetState();
        chart::HtmlTextOut(c, 10, 20, text);
        return target;
    };
    const auto bmp = draw("<IMG SRC=dot.bmp>");
    EXPECT_EQ(bmp->Handle()->GetPixel(10, 20), vcl::ColorToRGB(vcl::clBlue));
    EXPECT_EQ(bmp->Handle()->GetPixel(15, 23), vcl::ColorToRGB(vcl::clBlue));
    EXPECT_EQ(bmp->Handle()->GetPixel(16, 23), 0xFFFFFFu);
    // No format writes PNG files: the red-framed placeholder.
    const auto png = draw("<IMG SRC=dot.png>");
    EXPECT_EQ(png->Handle()->GetPixel(10, 20), vcl::ColorToRGB(vcl::clRed));
    EXPECT_EQ(png->Handle()->GetPixel(49, 59), vcl::ColorToRGB(vcl::clRed));
    chart::PlotHtmlImageLoader = nullptr;
}

TEST(chart_export_formats, a_bitmap_takes_the_panels_size_and_the_chosen_colour_depth) {
    test_support::EnsureQtApplication();
    test_support::SampleChartPanel panel;
    const std::unique_ptr<vcl::TBitmap> chart = panel.Render();
    const auto drawn = PixelsOf(*chart);
    TBMPExportFormat format;
    format.Panel = &panel;
    TBMPOptions& options = *format.Options();

    // No size given: the panel's, kept in the format.
    const auto file = Saved(format);
    EXPECT_EQ(format.Width, 400);
    EXPECT_EQ(format.Height, 300);
    // File header, 40-byte information header, 32 bits for "Default".
    ASSERT_GT(file.size(), 54u);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(U32(file, 2), file.size());
    EXPECT_EQ(U32(file, 14), 40u);
    EXPECT_EQ(file[28], 32);
    EXPECT_EQ(PixelsOf(*Read(file)), drawn);

    // Each entry of the list is its depth; the file read back holds the
    // chart at that depth.
    const int bits[] = {32, 1, 4, 8, 16, 16, 24, 32};
    for (int entry = 1; entry < 8; ++entry) {
        options.CBColors->SetItemIndex(entry);
        const auto bytes = Saved(format);
        ASSERT_GT(bytes.size(), 54u) << entry;
        EXPECT_EQ(bytes[28], bits[entry]) << entry;
        const auto back = PixelsOf(*Read(bytes));
        const std::set<gdi::COLORREF> colours(back.begin(), back.end());
        switch (entry) {
            case 1: EXPECT_EQ(colours, (std::set<gdi::COLORREF>{0, 0xFFFFFF})); break;
            case 2: EXPECT_LE(colours.size(), 16u); break;
            case 4: EXPECT_EQ(U32(bytes, 30), 0u); break;  // 5-5-5 without masks
            case 5: EXPECT_EQ(U32(bytes, 30), 3u); break;  // 5-6-5 bit fields
            default: EXPECT_EQ(back, drawn) << entry;      // 8 bits: the chart's own colours
        }
        // The line's colour survives every depth but black and white.
        if (entry != 1) {
            EXPECT_EQ(back[230 * 400 + 60] & 0xF8F8F8, gdi::RGB(255, 0, 0) & 0xF8F8F8) << entry;
        }
    }

    // Monochrome wins over the list, which it disables.
    options.CBColors->SetItemIndex(6);
    options.CBMono->SetChecked(true);
    EXPECT_FALSE(options.CBColors->Enabled());
    const auto mono = format.Bitmap();
    EXPECT_TRUE(mono->Monochrome());
    EXPECT_EQ(Saved(format)[28], 1);
    options.CBMono->SetChecked(false);
    EXPECT_TRUE(options.CBColors->Enabled());

    // A size of its own: the chart drawn into it.
    format.Width = 200;
    format.Height = 100;
    const auto small = Read(Saved(format));
    EXPECT_EQ(small->Width(), 200);
    EXPECT_EQ(small->Height(), 100);
}

TEST(chart_export_formats, filters_apply_in_order_and_the_bitmap_keeps_its_depth) {
    test_support::EnsureQtApplication();
    test_support::SampleChartPanel panel;
    TBMPExportFormat format;
    format.Panel = &panel;
    format.Options()->CBColors->SetItemIndex(3);  // 256 colours
    format.Filters().Add<chart::TInvertFilter>();
    chart::TGrayScaleFilter& grey = format.Filters().Add<chart::TGrayScaleFilter>();
    grey.Enabled = false;
    const auto bytes = Saved(format);
    EXPECT_EQ(bytes[28], 8);
    const std::unique_ptr<vcl::TBitmap> expected = panel.Render();
    chart::TInvertFilter().ApplyTo(*expected);
    EXPECT_EQ(PixelsOf(*Read(bytes)), PixelsOf(*expected));
    // What the clipboard gets is that picture too.
    format.CopyToClipboard();
    vcl::TBitmap pasted;
    ASSERT_TRUE(vcl::Clipboard().GetBitmap(pasted));
    EXPECT_EQ(PixelsOf(pasted), PixelsOf(*expected));
}

// A surface that draws in full 3D: bitmaps of it are made at 24 bits.
struct TFull3DCanvas : chart::TPlotCanvas3D {
    bool GetSupportsFull3D() override { return true; }
};

TEST(chart_export_formats, a_full_3d_surface_is_exported_at_24_bits) {
    test_support::EnsureQtApplication();
    test_support::SampleChartPanel panel;
    panel.ReplaceCanvas(std::make_unique<TFull3DCanvas>());
    TBMPExportFormat format;
    format.Panel = &panel;
    format.Options()->CBColors->SetItemIndex(2);
    EXPECT_EQ(format.Bitmap()->PixelFormat(), vcl::TPixelFormat::pf24bit);
    EXPECT_EQ(Saved(format)[28], 24);
}

TEST(chart_export_formats, metafiles_hold_the_chart_drawn_while_the_surface_knows_it) {
    test_support::EnsureQtApplication();
    test_support::SampleChartPanel panel;
    // What the surface says while the chart is drawn into a metafile.
    std::vector<bool> metafiling;
    std::vector<vcl::TColor> pixels;
    auto draw = panel.Extra;
    panel.Extra = [&](test_support::BackgroundPanel& p, const vcl::TRect& r) {
        metafiling.push_back(p.Canvas()->Metafiling);
        pixels.push_back(p.Canvas()->GetPixel(60, 230));
        draw(p, r);
    };
    TEMFExportFormat format;
    format.Panel = &panel;
    const auto emf = test_support::ReadEmf(Saved(format));
    EXPECT_EQ(metafiling, std::vector<bool>{true});
    EXPECT_EQ(pixels, std::vector<vcl::TColor>{vcl::clNone});  // no pixels to read, no crash
    EXPECT_FALSE(panel.Canvas()->Metafiling);
    EXPECT_TRUE(panel.BufferedDisplay());
    EXPECT_EQ(emf.bounds, (test_support::EmfFile::Rect{0, 0, 399, 299}));
    // The frame, the labels and the line, as drawn.
    const auto frames = emf.Of(43);
    ASSERT_FALSE(frames.empty());
    bool frame = false;
    for (const auto& r : frames)
        frame = frame || (r.I32(8) == 50 && r.I32(12) == 40 && r.I32(16) == 360 && r.I32(20) == 250);
    EXPECT_TRUE(frame);
    std::vector<std::u16string> texts;
    for (const auto& r : emf.Of(84)) texts.push_back(test_support::EmfFile::Text(r));
    EXPECT_EQ(texts, (std::vector<std::u16string>{u"0", u"50", u"100", u"Time"}));
    ASSERT_EQ(emf.Of(87).size(), 1u);
    const auto line = emf.Of(87)[0];
    ASSERT_EQ(line.U32(24), 5u);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(line.I16(28 + 4 * i), panel.Line[static_cast<std::size_t>(i)].X);
        EXPECT_EQ(line.I16(30 + 4 * i), panel.Line[static_cast<std::size_t>(i)].Y);
    }

    // The Windows file of a smaller picture: its box, the frame rectangle,
    // the four texts, the line as a move and four lines.
    format.WantsFilter(format.FilterIndex() + 1);
    format.Width = 300;
    format.Height = 200;
    const auto wmf = test_support::ReadWmf(Saved(format));
    EXPECT_EQ(wmf.right - wmf.left, 300);
    EXPECT_EQ(wmf.bottom - wmf.top, 200);
    EXPECT_EQ(wmf.inch, 96);
    EXPECT_FALSE(wmf.Of(0x041B).empty());
    EXPECT_EQ(wmf.Of(0x0A32).size(), 4u);
    EXPECT_GE(wmf.Of(0x0213).size(), 4u);

    // The clipboard takes the metafile as both files.
    format.WantsFilter(format.FilterIndex() - 1);
    format.CopyToClipboard();
    EXPECT_EQ(test_support::ReadEmf(vcl::Clipboard().GetMetafile(vcl::CF_ENHMETAFILE)).bounds.right, 299);
    EXPECT_FALSE(vcl::Clipboard().GetMetafile(vcl::CF_METAFILEPICT).empty());
}

TEST(chart_export_formats, bad_sizes_and_failing_streams_are_reported_and_write_nothing) {
    test_support::EnsureQtApplication();
    test_support::SampleChartPanel panel;
    TBMPExportFormat bmp;
    TEMFExportFormat emf;
    vcl::TMemoryStream out;
    // No chart.
    EXPECT_THROW(bmp.SaveToStream(out), rtl::Exception);
    EXPECT_THROW(emf.SaveToStream(out), rtl::Exception);
    bmp.Panel = emf.Panel = &panel;
    // Sizes no picture can have.
    for (auto [w, h] : {std::pair{40000, 300}, std::pair{400, 99999}, std::pair{-5, 300}, std::pair{400, -1}}) {
        for (TPlotExportFormat* f : std::initializer_list<TPlotExportFormat*>{&bmp, &emf}) {
            f->Width = w;
            f->Height = h;
            try {
                f->SaveToStream(out);
                ADD_FAILURE() << w << " x " << h << " was written";
            } catch (const std::exception& e) {
                EXPECT_NE(std::string(e.what()).find(std::to_string(w < 0 || w > 32767 ? w : h)), std::string::npos)
                    << e.what();
            }
        }
    }
    EXPECT_EQ(out.Size(), 0);

    // A stream that cannot take the bytes: an error, never success.
    bmp.Width = emf.Width = 0;
    bmp.Height = emf.Height = 0;
    vcl::TFileStream full("/dev/full", vcl::fmOpenWrite);
    EXPECT_THROW(bmp.SaveToStream(full), rtl::Exception);
    EXPECT_THROW(emf.SaveToStream(full), rtl::Exception);

    // Every byte written is set: the same export twice is the same file,
    // and the padding of rows is zero.
    bmp.Width = 101;
    bmp.Height = 7;
    bmp.Options()->CBColors->SetItemIndex(6);  // 24 bits: 303 bytes a row, 1 of padding
    const auto first = Saved(bmp);
    const auto second = Saved(bmp);
    EXPECT_EQ(first, second);
    ASSERT_EQ(first.size(), 54u + 304u * 7u);
    for (int row = 0; row < 7; ++row) EXPECT_EQ(first[54 + 304 * row + 303], 0) << row;
    EXPECT_EQ(Saved(emf), Saved(emf));
}

}  // namespace
