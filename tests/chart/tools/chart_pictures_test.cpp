// A chart drawn through the chart's drawing surface into a bitmap and into
// a metafile canvas: the bitmap written and read back at each depth, the
// metafile written as either file, read back by our readers and by the
// converters, and played back as the bitmap shows it.
#include <gtest/gtest.h>

#include <set>

#include "chart/drawing/plot_canvas3d.h"
#include "chart/drawing/plot_font.h"
#include "platform/gdi/dib.h"
#include "platform/vcl/bitmap.h"
#include "platform/vcl/metafile.h"
#include "support/graphic_bytes.h"
#include "support/metafile_reader.h"
#include "support/qt_app.h"
#include "support/svg_text.h"

namespace {

using namespace vcl;
using test_support::PixelsOf;

constexpr int kW = 400, kH = 300;

// A chart: background, frame, grid, a clipped line, labels, a turned axis
// title and outlined letters.
void DrawChart(chart::TPlotCanvas3D& c, TCanvas& target, bool metafiling) {
    c.Metafiling = metafiling;
    c.SetBufferedDisplay(false);
    c.InitWindow(&target, nullptr, clWhite, false, {0, 0, kW, kH});
    c.Projection(0, {0, 0, kW, kH});
    c.Brush->SetColor(0xF0F0F0);
    c.FillRect({0, 0, kW, kH});
    c.Brush->SetColor(clWhite);
    c.Pen->SetColor(clBlack);
    c.Rectangle(50, 30, 380, 250);
    c.Pen->SetColor(clSilver);
    for (int y = 70; y < 250; y += 40) c.Line(51, y, 379, y);
    c.ClipRectangle({51, 31, 379, 249});
    c.Pen->SetColor(clRed);
    c.Pen->SetWidth(2);
    const std::vector<chart::TPoint> line = {{50, 240}, {120, 60}, {190, 180}, {260, 20}, {380, 140}};
    c.Polyline(line);  // above the frame: clipped
    c.UnClipRectangle();
    c.Pen->SetWidth(1);
    c.Font->SetName("Arial");
    c.Font->SetSize(8);
    c.Font->SetColor(clBlack);
    c.SetBackMode(gdi::TRANSPARENT);
    c.SetTextAlign(gdi::TA_RIGHT);
    c.TextOut(45, 244, "0");
    c.TextOut(45, 24, "100");
    c.SetTextAlign(gdi::TA_CENTER);
    c.TextOut(215, 256, "Time");
    c.SetTextAlign(gdi::TA_LEFT);
    c.RotateLabel(10, 170, "Volts", 90);
    chart::TPlotFont outlined;
    outlined.SetName("Arial");
    outlined.SetSize(14);
    outlined.SetColor(clYellow);
    outlined.OutLine()->SetVisible(true);
    outlined.OutLine()->SetColor(clNavy);
    c.AssignFont(outlined);
    c.TextOut(150, 2, "Chart");
}

TEST(chart_pictures, a_chart_bitmap_is_written_and_read_back_with_the_colours_of_its_depth) {
    test_support::EnsureQtApplication();
    TBitmap drawn(kW, kH);
    chart::TPlotCanvas3D surface;
    DrawChart(surface, drawn.Canvas(), false);
    // A pixel read from the drawn chart is its colour.
    EXPECT_EQ(surface.GetPixel(60, 35), clWhite);
    EXPECT_EQ(surface.GetPixel(2, 2), 0xF0F0F0);
    const std::vector<gdi::COLORREF> pixels = PixelsOf(drawn);

    for (TPixelFormat format : {TPixelFormat::pf24bit, TPixelFormat::pf32bit, TPixelFormat::pfDevice,
                                TPixelFormat::pf8bit, TPixelFormat::pf4bit, TPixelFormat::pf1bit}) {
        TBitmap copy;
        copy.Assign(drawn);
        copy.SetPixelFormat(format);
        TMemoryStream file;
        copy.SaveToStream(file);
        file.SetPosition(0);
        TBitmap back;
        back.LoadFromStream(file);
        const std::vector<gdi::COLORREF> read = PixelsOf(back);
        const std::set<gdi::COLORREF> colours(read.begin(), read.end());
        switch (format) {
            case TPixelFormat::pf24bit:
            case TPixelFormat::pf32bit:
            case TPixelFormat::pfDevice: EXPECT_EQ(read, pixels); break;
            case TPixelFormat::pf8bit:
                // A chart has fewer than 256 colours: its own table, no loss.
                ASSERT_LE(std::set<gdi::COLORREF>(pixels.begin(), pixels.end()).size(), 256u);
                EXPECT_EQ(read, pixels);
                break;
            case TPixelFormat::pf4bit:
                EXPECT_LE(colours.size(), 16u);
                EXPECT_EQ(read, PixelsOf(copy));
                EXPECT_EQ(back.Handle()->GetPixel(200, 100), ColorToRGB(clWhite));
                EXPECT_EQ(back.Handle()->GetPixel(50, 100), 0u);  // the frame
                break;
            default:
                EXPECT_EQ(colours, (std::set<gdi::COLORREF>{0, 0xFFFFFF}));
                EXPECT_EQ(back.Handle()->GetPixel(50, 100), 0u);
                EXPECT_EQ(back.Handle()->GetPixel(200, 100), 0xFFFFFFu);
                break;
        }
    }
}

TEST(chart_pictures, a_chart_metafile_holds_the_chart_as_drawn_in_both_files) {
    test_support::EnsureQtApplication();
    TMetafile mf;
    mf.SetSize(kW, kH);
    {
        TMetafileCanvas target(mf);
        chart::TPlotCanvas3D surface;
        DrawChart(surface, target, true);
        // Pixel reads on a metafile have an answer: no pixel.
        EXPECT_EQ(surface.GetPixel(60, 35), clNone);
        EXPECT_EQ(surface.GetPixel(-5, 99999), clNone);
    }
    // Played back, it is the chart the bitmap shows.
    TBitmap drawn(kW, kH);
    chart::TPlotCanvas3D surface;
    DrawChart(surface, drawn.Canvas(), false);
    TBitmap played(kW, kH);
    played.Canvas().Draw(0, 0, &mf);
    EXPECT_EQ(PixelsOf(played), PixelsOf(drawn));

    // The enhanced file: the line clipped to the frame, the labels, the
    // outlined letters as a text path.
    const auto emf = test_support::ReadEmf(mf.FileBytes(true));
    EXPECT_EQ(emf.bounds, (test_support::EmfFile::Rect{0, 0, kW - 1, kH - 1}));
    std::vector<std::u16string> texts;
    for (const auto& r : emf.Of(84)) texts.push_back(test_support::EmfFile::Text(r));
    EXPECT_EQ(texts, (std::vector<std::u16string>{u"0", u"100", u"Time", u"Volts", u"Chart"}));
    std::vector<std::uint32_t> types;
    for (const auto& r : emf.list) types.push_back(r.type);
    const auto clip = std::find(types.begin(), types.end(), 75u);
    ASSERT_NE(clip, types.end());
    EXPECT_EQ(*std::find(clip, types.end(), 87u), 87u);  // the line after the clip
    // The outlined letters: a path of the text, filled in the font's colour
    // and stroked with the outline's pen.
    const auto outlined = emf.Where(63);
    ASSERT_EQ(outlined.size(), 1u);
    const auto held = emf.SelectedAt(outlined[0]);
    ASSERT_NE(held.pen, nullptr);
    ASSERT_NE(held.brush, nullptr);
    EXPECT_EQ(held.pen->U32(24), ColorToRGB(clNavy));
    EXPECT_EQ(held.brush->U32(16), ColorToRGB(clYellow));
    EXPECT_TRUE(held.errors.empty());

    // Converted by others: the line, the labels and the frame in place.
    const std::string svg = test_support::ConvertToSvg("emf2svg-conv", mf.FileBytes(true), ".emf");
    ASSERT_FALSE(svg.empty());
    for (const char* label : {"[CDATA[Time]]", "[CDATA[100]]", "[CDATA[Volts]]"})
        EXPECT_NE(svg.find(label), std::string::npos) << label;
    const std::size_t path = svg.find("stroke=\"#FF0000\"");
    ASSERT_NE(path, std::string::npos) << svg;
    const std::size_t d = svg.rfind("<path d=\"", path);
    EXPECT_EQ(test_support::Numbers(svg.substr(d, path - d)),
              (std::vector<double>{50, 240, 120, 60, 190, 180, 260, 20, 380, 140}));
    const std::string wmf = test_support::ConvertToSvg("wmf2svg", mf.FileBytes(false), ".wmf");

    ASSERT_FALSE(wmf.empty());
    for (const char* label : {">Time<", ">100<", ">Volts<", ">Chart<"})
        EXPECT_NE(wmf.find(label), std::string::npos) << label;
    int redLines = 0;
    for (std::size_t at = wmf.find("<line "); at != std::string::npos; at = wmf.find("<line ", at + 1))
        redLines += wmf.substr(at, wmf.find("/>", at) - at).find("stroke:red") != std::string::npos;
    EXPECT_EQ(redLines, 4);
}

}  // namespace
