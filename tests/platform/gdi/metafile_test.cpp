// Metafiles of recordings: a drawing that uses every kind of call written
// as an enhanced and as a Windows metafile and read back by our own record
// readers and by two converters of other authors, and played back onto a
// raster context.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <numeric>
#include <set>

#include "platform/gdi/bytes.h"
#include "platform/gdi/dib.h"
#include "platform/gdi/metafile.h"
#include "support/gdi_surface.h"
#include "support/metafile_reader.h"
#include "support/svg_text.h"
#include "support/qt_app.h"

namespace {

using namespace gdi;
using test_support::EmfFile;
using test_support::Surface;
using test_support::Attribute;
using test_support::Elements;
using test_support::Numbers;

constexpr int kW = 300, kH = 200;

// Record types and functions the tests look for.
enum : std::uint32_t {
    EMR_POLYGON16 = 86, EMR_POLYLINE16 = 87, EMR_SETPIXELV = 15, EMR_SETBKMODE = 18, EMR_SETROP2 = 20,
    EMR_SETTEXTALIGN = 22, EMR_SELECTOBJECT = 37, EMR_CREATEPEN = 38, EMR_CREATEBRUSHINDIRECT = 39,
    EMR_DELETEOBJECT = 40, EMR_ELLIPSE = 42, EMR_RECTANGLE = 43, EMR_ROUNDRECT = 44, EMR_ARC = 45,
    EMR_PIE = 47, EMR_LINETO = 54, EMR_ARCTO = 55, EMR_SETARCDIRECTION = 57, EMR_BEGINPATH = 59,
    EMR_ENDPATH = 60, EMR_STROKEANDFILLPATH = 63, EMR_SELECTCLIPPATH = 67, EMR_EXTSELECTCLIPRGN = 75,
    EMR_STRETCHDIBITS = 81, EMR_EXTCREATEFONTINDIRECTW = 82, EMR_EXTTEXTOUTW = 84,
    EMR_EXTCREATEPEN = 95, EMR_EOF = 14,
};
enum : std::uint16_t {
    META_SAVEDC = 0x001E, META_RESTOREDC = 0x0127, META_SETTEXTCOLOR = 0x0209, META_LINETO = 0x0213,
    META_MOVETO = 0x0214, META_CREATEPENINDIRECT = 0x02FA, META_CREATEFONTINDIRECT = 0x02FB,
    META_CREATEBRUSHINDIRECT = 0x02FC, META_ARC = 0x0817, META_EXTTEXTOUT = 0x0A32,
    META_STRETCHDIB = 0x0F43, META_INTERSECTCLIPRECT = 0x0416, META_EXCLUDECLIPRECT = 0x0415,
    META_POLYLINE = 0x0325, META_SELECTOBJECT = 0x012D, META_SETPIXEL = 0x041F,
};

const std::vector<POINT> kLine = {{10, 150}, {60, 40}, {110, 120}, {160, 20}};
const std::vector<DWORD> kUserStyle = {6, 3};

// A source of distinct pixels for the stretched copy.
Surface& Source() {
    static Surface source(4, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) source.bitmap->SetPixel(x, y, RGB(x * 60, y * 100, 200));
    return source;
}

// Draws with every kind of call the chart uses.
void DrawScene(DC& dc) {
    // Band fills.
    for (int band = 0; band < 10; ++band)
        dc.FillRect({0, band * 20, kW, band * 20 + 20}, CreateSolidBrush(RGB(255, 255 - band * 10, 200)));
    // Cosmetic dashed pen; XOR.
    dc.SelectObject(CreatePen(PS_DASH, 1, RGB(0, 0, 160)));
    dc.MoveToEx(5, 5);
    dc.LineTo(290, 5);
    dc.SetROP2(R2_XORPEN);
    dc.LineTo(290, 190);
    dc.SetROP2(R2_COPYPEN);
    // Extended pen: wide, flat ends, mitred, a style of its own.
    const LOGBRUSH red{BS_SOLID, RGB(220, 0, 0), 0};
    dc.SelectObject(ExtCreatePen(PS_GEOMETRIC | PS_USERSTYLE | PS_ENDCAP_FLAT | PS_JOIN_MITER, 5, red, kUserStyle));
    dc.Polyline(kLine);
    // Hatched brush, transparent background, polygon in winding mode.
    dc.SelectObject(CreatePen(PS_SOLID, 1, RGB(0, 0, 0)));
    dc.SelectObject(CreateHatchBrush(HS_DIAGCROSS, RGB(0, 120, 0)));
    dc.SetBkMode(TRANSPARENT);
    dc.Rectangle(180, 30, 230, 70);
    dc.SetPolyFillMode(WINDING);
    const std::vector<POINT> star = {{240, 30}, {260, 80}, {215, 45}, {270, 45}, {225, 80}};
    dc.Polygon(star);
    dc.SetBkMode(OPAQUE);
    // Curves.
    dc.SelectObject(CreateSolidBrush(RGB(250, 200, 0)));
    dc.Ellipse(20, 160, 60, 190);
    dc.RoundRect(70, 160, 120, 190, 10, 8);
    dc.Pie(130, 150, 180, 195, 180, 170, 130, 170);
    dc.SetArcDirection(AD_CLOCKWISE);
    dc.Arc(190, 150, 240, 195, 240, 170, 190, 170);
    dc.SetArcDirection(AD_COUNTERCLOCKWISE);
    dc.MoveToEx(250, 190);
    dc.ArcTo(250, 150, 290, 190, 290, 170, 250, 170);
    // Pixels.
    for (int i = 0; i < 5; ++i) dc.SetPixel(100 + i, 100, RGB(0, 0, 255));
    // Turned text, centred on its bottom.
    LOGFONT lf;
    lf.lfHeight = -13;
    lf.lfFaceName = "Arial";
    lf.lfEscapement = 900;
    dc.SelectObject(CreateFontIndirect(lf));
    dc.SetTextAlign(TA_CENTER | TA_BOTTOM);
    dc.SetTextColor(RGB(80, 0, 80));
    dc.TextOut(20, 100, "\xC6 axis");  // Ж
    dc.SetTextAlign(TA_LEFT | TA_TOP);
    // Outlined letters: a text path filled and stroked.
    lf.lfEscapement = 0;
    lf.lfHeight = -20;
    dc.SelectObject(CreateFontIndirect(lf));
    dc.SelectObject(CreateSolidBrush(RGB(0, 90, 200)));
    dc.BeginPath();
    dc.TextOut(40, 60, "Chart");
    dc.EndPath();
    dc.StrokeAndFillPath();
    // A clip path, then region clips combined four ways and restored.
    dc.BeginPath();
    dc.Ellipse(120, 60, 170, 110);
    dc.EndPath();
    dc.SelectClipPath(RGN_AND);
    dc.FillRect({100, 50, 200, 120}, CreateSolidBrush(RGB(0, 200, 200)));
    dc.SelectClipRgn(nullptr);
    dc.ExtSelectClipRgn(CreateRectRgn(200, 90, 280, 140), RGN_AND);
    dc.ExtSelectClipRgn(CreateEllipticRgn(210, 95, 250, 135), RGN_DIFF);
    dc.ExtSelectClipRgn(CreateRectRgn(260, 120, 295, 145), RGN_XOR);
    dc.FillRect({190, 80, 300, 150}, CreateSolidBrush(RGB(120, 0, 0)));
    dc.SelectClipRgn(nullptr);
    // A stretched copy of a small bitmap, a pattern fill, a blend.
    dc.StretchBlt(60, 100, 40, 30, Source().dc.get(), 0, 0, 4, 3, SRCCOPY);
    dc.FillRect({250, 150, 290, 195}, CreatePatternBrush(Source().bitmap));
    BLENDFUNCTION half;
    half.SourceConstantAlpha = 128;
    dc.AlphaBlend(110, 130, 8, 6, Source().dc.get(), 0, 0, 4, 3, half);
    // Coordinates far beyond 16 bits.
    dc.MoveToEx(150, 100);
    dc.LineTo(100000, -50000);
}

std::unique_ptr<DC> RecordScene() {
    auto dc = DC::CreateRecordingDC(kW, kH);
    DrawScene(*dc);
    return dc;
}

std::vector<std::uint32_t> TypesOf(const EmfFile& f) {
    std::vector<std::uint32_t> out;
    for (const auto& r : f.list) out.push_back(r.type);
    return out;
}

// Whether the types appear in this order (other records between them).
bool InOrder(const std::vector<std::uint32_t>& all, const std::vector<std::uint32_t>& wanted) {
    auto it = all.begin();
    for (std::uint32_t t : wanted) {
        it = std::find(it, all.end(), t);
        if (it == all.end()) return false;
        ++it;
    }
    return true;
}

TEST(gdi_metafile, enhanced_file_holds_each_call_with_the_objects_and_attributes_it_was_made_with) {
    test_support::EnsureQtApplication();
    auto dc = RecordScene();
    const std::vector<std::uint8_t> bytes = EnhancedMetafileBytes(dc->Records(), kW, kH);
    const EmfFile f = test_support::ReadEmf(bytes);  // sizes, alignment, counts, signature, end

    // Header: bounds of what is drawn (the bands cover the surface), frame
    // in hundredths of a millimetre at 96 pixels an inch.
    EXPECT_EQ(f.bounds, (EmfFile::Rect{0, 0, kW - 1, kH - 1}));
    EXPECT_EQ(f.frame, (EmfFile::Rect{0, 0, 7938, 5292}));
    EXPECT_EQ(f.version, 0x10000u);
    EXPECT_EQ(f.description.substr(0, 7), u"Vostrel");
    // Handles: every object made or selected fits the table.
    std::set<std::uint32_t> made;
    for (std::uint32_t type : {EMR_CREATEPEN, EMR_CREATEBRUSHINDIRECT, EMR_EXTCREATEFONTINDIRECTW, EMR_EXTCREATEPEN})
        for (const auto& r : f.Of(type)) {
            EXPECT_LT(r.U32(8), f.handles);
            EXPECT_GT(r.U32(8), 0u);  // 0 is the file itself
            made.insert(r.U32(8));
        }
    for (const auto& r : f.Of(EMR_SELECTOBJECT)) {
        const std::uint32_t h = r.U32(8);
        EXPECT_TRUE((h & 0x80000000u) || made.count(h)) << h;
    }

    const auto everything = f.SelectedAt(f.list.size());
    EXPECT_TRUE(everything.errors.empty()) << (everything.errors.empty() ? "" : everything.errors.front());
    // The outlined letters are filled with the brush and stroked with the
    // pen they were drawn with.
    const std::size_t outlined = f.Where(EMR_STROKEANDFILLPATH).front();
    ASSERT_NE(f.SelectedAt(outlined).brush, nullptr);
    EXPECT_EQ(f.SelectedAt(outlined).brush->U32(16), RGB(0, 90, 200));
    // Pens: the dashed cosmetic one plain, the extended one with its style.
    bool dashed = false;
    for (const auto& r : f.Of(EMR_CREATEPEN)) dashed |= r.U32(12) == PS_DASH && r.U32(24) == RGB(0, 0, 160);
    EXPECT_TRUE(dashed);
    const auto ext = f.Of(EMR_EXTCREATEPEN);
    ASSERT_EQ(ext.size(), 1u);
    EXPECT_EQ(ext[0].U32(28), PS_GEOMETRIC | PS_USERSTYLE | PS_ENDCAP_FLAT | PS_JOIN_MITER);
    EXPECT_EQ(ext[0].U32(32), 5u);
    EXPECT_EQ(ext[0].U32(40), RGB(220, 0, 0));
    EXPECT_EQ(ext[0].U32(48), 2u);
    EXPECT_EQ(ext[0].U32(52), 6u);
    EXPECT_EQ(ext[0].U32(56), 3u);
    bool hatched = false;
    for (const auto& r : f.Of(EMR_CREATEBRUSHINDIRECT))
        hatched |= r.U32(12) == BS_HATCHED && r.U32(16) == RGB(0, 120, 0) && r.U32(20) == HS_DIAGCROSS;
    EXPECT_TRUE(hatched);
    // The polyline as drawn, 16-bit points.
    const auto lines = f.Of(EMR_POLYLINE16);
    ASSERT_EQ(lines.size(), 1u);
    ASSERT_EQ(lines[0].U32(24), kLine.size());
    for (std::size_t i = 0; i < kLine.size(); ++i) {
        EXPECT_EQ(lines[0].I16(28 + 4 * i), kLine[i].x);
        EXPECT_EQ(lines[0].I16(30 + 4 * i), kLine[i].y);
    }
    // Modes, each set before the call that uses it and only when it changes.
    std::vector<std::uint32_t> rops, bkModes;
    for (const auto& r : f.Of(EMR_SETROP2)) rops.push_back(r.U32(8));
    for (const auto& r : f.Of(EMR_SETBKMODE)) bkModes.push_back(r.U32(8));
    EXPECT_EQ(rops, (std::vector<std::uint32_t>{R2_XORPEN, R2_COPYPEN}));
    EXPECT_EQ(bkModes.front(), std::uint32_t(TRANSPARENT));
    const auto types = TypesOf(f);
    EXPECT_TRUE(InOrder(types, {EMR_SETROP2, EMR_LINETO, EMR_EXTCREATEPEN, EMR_SETROP2, EMR_POLYLINE16}));
    EXPECT_TRUE(InOrder(types, {EMR_ELLIPSE, EMR_ROUNDRECT, EMR_PIE, EMR_SETARCDIRECTION, EMR_ARC,
                                EMR_SETARCDIRECTION, EMR_ARCTO}));
    EXPECT_EQ(f.Of(EMR_SETPIXELV).size(), 5u);
    EXPECT_EQ(f.Of(EMR_SETPIXELV)[0].U32(16), RGB(0, 0, 255));

    // Turned text with its alignment, as UTF-16, with advances that add up
    // to the width it is measured with.
    bool turned = false;
    for (const auto& r : f.Of(EMR_EXTCREATEFONTINDIRECTW))
        if (r.I32(20) == 900) {
            turned = true;
            EXPECT_EQ(r.I32(12), -13);
            EXPECT_EQ(r.U16(40), u'A');
            EXPECT_EQ(r.U16(42), u'r');
        }
    EXPECT_TRUE(turned);
    bool aligned = false;
    for (const auto& r : f.Of(EMR_SETTEXTALIGN)) aligned |= r.U32(8) == (TA_CENTER | TA_BOTTOM);
    EXPECT_TRUE(aligned);
    const auto texts = f.Of(EMR_EXTTEXTOUTW);
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(EmfFile::Text(texts[0]), u"\u0416 axis");
    EXPECT_EQ(texts[0].I32(36), 20);
    EXPECT_EQ(texts[0].I32(40), 100);
    SIZE extent;
    {
        auto probe = DC::CreateRecordingDC(10, 10);
        LOGFONT lf;
        lf.lfHeight = -13;
        lf.lfFaceName = "Arial";
        probe->SelectObject(CreateFontIndirect(lf));
        probe->GetTextExtentPoint32W(u"\u0416 axis", &extent);
    }
    const auto advances = EmfFile::Advances(texts[0]);
    EXPECT_EQ(std::accumulate(advances.begin(), advances.end(), 0), extent.cx);
    // "Ж axis" is 6 characters: 12 bytes and 0 bytes of padding; "Chart"
    // pads its 10 bytes with 2 zeros.
    EXPECT_EQ(texts[1].U32(72), 76u + 12u);
    EXPECT_EQ(texts[1].U16(76 + 10), 0u);
    EXPECT_TRUE(InOrder(types, {EMR_BEGINPATH, EMR_EXTTEXTOUTW, EMR_ENDPATH, EMR_STROKEANDFILLPATH}));
    EXPECT_TRUE(InOrder(types, {EMR_BEGINPATH, EMR_ELLIPSE, EMR_ENDPATH, EMR_SELECTCLIPPATH}));

    // Clips: the path, then AND, DIFF, XOR and back to none.
    std::vector<std::uint32_t> modes;
    for (const auto& r : f.Of(EMR_EXTSELECTCLIPRGN)) modes.push_back(r.U32(12));
    EXPECT_EQ(modes, (std::vector<std::uint32_t>{RGN_COPY, RGN_AND, RGN_DIFF, RGN_XOR, RGN_COPY}));
    const auto clips = f.Of(EMR_EXTSELECTCLIPRGN);
    EXPECT_EQ(clips[0].U32(8), 0u);  // restoring has no region
    EXPECT_EQ(clips[1].U32(16), 32u);
    EXPECT_EQ(clips[1].U32(24), 1u);  // one rectangle
    EXPECT_EQ(clips[1].I32(48), 200);
    EXPECT_EQ(clips[1].I32(60), 140);
    EXPECT_GT(clips[2].U32(24), 10u);  // an ellipse: many rows

    // The stretched copy: the source pixels as a bitmap, stretched.
    const auto blits = f.Of(EMR_STRETCHDIBITS);
    ASSERT_EQ(blits.size(), 1u);
    const auto& b = blits[0];
    EXPECT_EQ(b.I32(24), 60);
    EXPECT_EQ(b.I32(28), 100);
    EXPECT_EQ(b.I32(72), 40);
    EXPECT_EQ(b.I32(76), 30);
    EXPECT_EQ(b.U32(68), SRCCOPY);
    const DecodedDib dib = DecodeDib(b.bytes.subspan(b.U32(48), b.U32(52)), b.bytes.subspan(b.U32(56), b.U32(60)));
    ASSERT_EQ(dib.bitmap->Width(), 4);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(dib.bitmap->GetPixel(x, y), RGB(x * 60, y * 100, 200));
    // The pattern as a bitmap of its own; the blend with its alpha.
    const auto patterns = f.Of(94);
    ASSERT_EQ(patterns.size(), 1u);
    const auto& p = patterns[0];
    const DecodedDib tile = DecodeDib(p.bytes.subspan(p.U32(16), p.U32(20)), p.bytes.subspan(p.U32(24), p.U32(28)));
    EXPECT_EQ(tile.bitmap->GetPixel(2, 1), RGB(120, 100, 200));
    const auto blends = f.Of(114);
    ASSERT_EQ(blends.size(), 1u);
    EXPECT_EQ(blends[0].U32(40) >> 16 & 0xFF, 128u);
    EXPECT_EQ(blends[0].I32(100), 4);  // the source's width
    // Far coordinates kept whole.
    bool far = false;
    for (const auto& r : f.Of(EMR_LINETO)) far |= r.I32(8) == 100000 && r.I32(12) == -50000;
    EXPECT_TRUE(far);
}

TEST(gdi_metafile, playing_a_recording_back_draws_what_the_calls_drew) {
    test_support::EnsureQtApplication();
    Surface direct(kW, kH), played(kW, kH);
    DrawScene(*direct);
    auto dc = RecordScene();
    const HPEN pen = played->CurrentPen();
    played->IntersectClipRect(0, 0, kW, kH);
    PlayRecords(dc->Records(), kW, kH, *played, {0, 0, kW, kH});
    EXPECT_EQ(played.Pixels(), direct.Pixels());
    // The context is as it was.
    EXPECT_EQ(played->CurrentPen(), pen);
    EXPECT_EQ(played->GetROP2(), R2_COPYPEN);
    RECT box;
    EXPECT_EQ(played->GetClipBox(&box), SIMPLEREGION);
    EXPECT_EQ(box, (RECT{0, 0, kW, kH}));

    // Stretched to twice the size into part of a larger surface: the bands
    // double, and nothing lands outside the target.
    Surface big(2 * kW + 40, 2 * kH + 40);
    PlayRecords(dc->Records(), kW, kH, *big, {20, 20, 20 + 2 * kW, 20 + 2 * kH});
    EXPECT_EQ(big.At(30, 20 + 2 * 20 + 5), RGB(255, 245, 200));  // second band
    EXPECT_EQ(big.At(30, 20 + 2 * 20 - 5), RGB(255, 255, 200));
    EXPECT_EQ(big.At(10, 10), RGB(255, 255, 255));
    EXPECT_EQ(big.At(2 * kW + 30, 100), RGB(255, 255, 255));
    EXPECT_EQ(big.At(20 + 2 * 61, 20 + 2 * 101), direct.At(61, 101));  // inside the stretched copy
}

TEST(gdi_metafile, windows_file_holds_the_calls_reduced_to_sixteen_bits) {
    test_support::EnsureQtApplication();
    auto dc = RecordScene();
    const std::vector<std::uint8_t> bytes = WindowsMetafileBytes(dc->Records(), kW, kH);
    const test_support::WmfFile f = test_support::ReadWmf(bytes);
    EXPECT_EQ(f.left, 0);
    EXPECT_EQ(f.top, 0);
    EXPECT_EQ(f.right, kW);
    EXPECT_EQ(f.bottom, kH);
    EXPECT_EQ(f.inch, 96);
    EXPECT_GE(f.objects, 3);

    // Far coordinates held at the limits, not wrapped.
    bool far = false;
    for (const auto& r : f.Of(META_LINETO)) far |= r.Param(0) == -32768 && r.Param(1) == 32767;
    EXPECT_TRUE(far);
    // The extended pen: wide, so solid; its ends and joins kept.
    bool wide = false;
    for (const auto& r : f.Of(META_CREATEPENINDIRECT))
        if (r.Param(1) == 5) {
            wide = true;
            EXPECT_EQ(std::uint16_t(r.Param(0)), PS_SOLID | PS_ENDCAP_FLAT | PS_JOIN_MITER);
            EXPECT_EQ(r.U32Param(3), RGB(220, 0, 0));
        }
    EXPECT_TRUE(wide);
    // The clockwise arc with its ends swapped; ArcTo as line, arc, move.
    const auto arcs = f.Where(META_ARC);
    ASSERT_EQ(arcs.size(), 2u);
    const auto& cw = f.list[arcs[0]];
    EXPECT_EQ(cw.Param(2), 170);  // start y
    EXPECT_EQ(cw.Param(3), 190);  // start x: the recorded end
    EXPECT_EQ(cw.Param(1), 240);  // end x: the recorded start
    EXPECT_EQ(f.list[arcs[1] - 1].function, META_LINETO);
    EXPECT_EQ(f.list[arcs[1] + 1].function, META_MOVETO);
    EXPECT_EQ(f.list[arcs[1] - 1].Param(1), 290);  // to the arc's start on the ellipse
    EXPECT_EQ(f.list[arcs[1] - 1].Param(0), 170);
    EXPECT_EQ(f.Of(META_SETPIXEL).size(), 5u);

    // Text in the code page; the text path's letters in the fill colour.
    const auto texts = f.Where(META_EXTTEXTOUT);
    ASSERT_EQ(texts.size(), 2u);
    const auto& first = f.list[texts[0]];
    EXPECT_EQ(first.Param(2), 6);
    EXPECT_EQ(first.bytes[14], 0xC6);
    std::uint32_t colour = 0;
    for (std::size_t i = 0; i < texts[1]; ++i)
        if (f.list[i].function == META_SETTEXTCOLOR) colour = f.list[i].U32Param(0);
    EXPECT_EQ(colour, RGB(0, 90, 200));
    bool turned = false;
    for (const auto& r : f.Of(META_CREATEFONTINDIRECT)) turned |= r.Param(2) == 900;
    EXPECT_TRUE(turned);

    // Clips as saved states of box less outside: the ellipse path, then the
    // combined regions, each restored before the next.
    const auto saves = f.Where(META_SAVEDC), restores = f.Where(META_RESTOREDC);
    ASSERT_EQ(saves.size(), 4u);  // path; AND; DIFF; XOR
    ASSERT_EQ(restores.size(), 4u);
    for (std::size_t i = 0; i < saves.size(); ++i) {
        EXPECT_LT(saves[i], restores[i]);
        if (i + 1 < saves.size()) {
            EXPECT_LT(restores[i], saves[i + 1]);
        }
        EXPECT_EQ(f.list[saves[i] + 1].function, META_INTERSECTCLIPRECT);
    }
    const auto& pathBox = f.list[saves[0] + 1];
    EXPECT_EQ(pathBox.Param(3), 120);  // left
    EXPECT_EQ(pathBox.Param(1), 170);  // right
    EXPECT_EQ(f.list[saves[0] + 2].function, META_EXCLUDECLIPRECT);
    EXPECT_EQ(f.list[saves[1] + 1].Param(3), 200);
    // Played through its object table: no object is deleted while it is
    // selected or held by a saved state, and each call finds the objects
    // it was made with (after the restores too).
    bool farChecked = false;
    for (std::size_t i = 0; i < f.list.size(); ++i) {
        const auto& r = f.list[i];
        if (r.function == META_LINETO && r.Param(1) == 32767) {
            const auto sel = f.SelectedAt(i);
            ASSERT_NE(sel.pen, nullptr);
            EXPECT_EQ(sel.pen->Param(1), 1);
            EXPECT_EQ(sel.pen->U32Param(3), RGB(0, 0, 0));  // the pen selected last
            farChecked = true;
        }
    }
    EXPECT_TRUE(farChecked);
    ASSERT_NE(f.SelectedAt(texts[1]).font, nullptr);
    EXPECT_EQ(f.SelectedAt(texts[1]).font->Param(0), -20);
    EXPECT_EQ(f.SelectedAt(texts[0]).font->Param(2), 900);
    const auto all = f.SelectedAt(f.list.size());
    EXPECT_TRUE(all.errors.empty()) << (all.errors.empty() ? "" : all.errors.front());
    // The polyline as a move and lines, with the extended pen reduced.
    EXPECT_TRUE(f.Where(META_POLYLINE).empty());
    std::size_t run = 0;
    for (std::size_t i = 0; i + kLine.size() <= f.list.size() && run == 0; ++i)
        if (f.list[i].function == META_MOVETO && f.list[i].Param(1) == kLine[0].x && f.list[i].Param(0) == kLine[0].y)
            run = i;
    ASSERT_NE(run, 0u);
    for (std::size_t k = 1; k < kLine.size(); ++k) {
        EXPECT_EQ(f.list[run + k].function, META_LINETO);
        EXPECT_EQ(f.list[run + k].Param(1), kLine[k].x);
        EXPECT_EQ(f.list[run + k].Param(0), kLine[k].y);
    }
    EXPECT_EQ(f.SelectedAt(run + 1).pen->Param(1), 5);

    // The stretched copy as a bitmap of the source's pixels.
    EXPECT_EQ(f.Of(0x0142).size(), 1u);  // the pattern brush
    const auto dibs = f.Of(META_STRETCHDIB);
    ASSERT_EQ(dibs.size(), 2u);  // the copy, and the blend copied opaque
    const auto& d = dibs[0];
    EXPECT_EQ(d.U32Param(0), SRCCOPY);
    EXPECT_EQ(d.Param(7), 30);  // height and width of the destination
    EXPECT_EQ(d.Param(8), 40);
    const auto dib = d.bytes.subspan(6 + 2 * 11);
    const DecodedDib decoded = DecodeDib(dib, dib.subspan(40));
    EXPECT_EQ(decoded.bitmap->GetPixel(3, 2), RGB(180, 200, 200));
}

// A small chart: background, frame, grid, a line, labels.
void DrawChart(DC& dc) {
    dc.FillRect({0, 0, kW, kH}, CreateSolidBrush(RGB(255, 255, 255)));
    dc.SelectObject(CreatePen(PS_SOLID, 1, RGB(0, 0, 0)));
    dc.SelectObject(GetStockBrush(NULL_BRUSH));
    dc.Rectangle(40, 20, 280, 170);
    dc.SelectObject(CreatePen(PS_SOLID, 2, RGB(200, 0, 0)));
    const std::vector<POINT> line = {{40, 160}, {100, 60}, {160, 120}, {220, 40}, {280, 90}};
    dc.Polyline(line);
    LOGFONT lf;
    lf.lfHeight = -11;
    lf.lfFaceName = "Arial";
    dc.SelectObject(CreateFontIndirect(lf));
    dc.SetBkMode(TRANSPARENT);
    dc.SetTextAlign(TA_RIGHT | TA_TOP);
    dc.TextOut(36, 164, "0.5");
    dc.TextOut(36, 14, "10.5");
    dc.SetTextAlign(TA_CENTER | TA_TOP);
    dc.TextOut(160, 176, "Time");
}

TEST(gdi_metafile, files_convert_to_svg_with_the_shapes_and_texts_in_place) {
    test_support::EnsureQtApplication();
    auto dc = DC::CreateRecordingDC(kW, kH);
    DrawChart(*dc);
    const std::vector<double> line = {40, 160, 100, 60, 160, 120, 220, 40, 280, 90};
    // The enhanced file: shapes in drawing coordinates.
    const std::string emf = test_support::ConvertToSvg("emf2svg-conv", EnhancedMetafileBytes(dc->Records(), kW, kH), ".emf");
    ASSERT_FALSE(emf.empty()) << "emf2svg-conv (package emf2svg) could not convert the file";
    bool frame = false;
    for (const std::string& e : Elements(emf, "rect"))
        if (Attribute(e, "fill") == "none")
            frame = Numbers(Attribute(e, "x") + " " + Attribute(e, "y") + " " + Attribute(e, "width") + " " +
                            Attribute(e, "height")) == std::vector<double>{40, 20, 240, 150};
    EXPECT_TRUE(frame) << emf;
    bool drawn = false;
    for (const std::string& e : Elements(emf, "path"))
        drawn |= Attribute(e, "stroke") == "#C80000" && Numbers(Attribute(e, "d")) == line;
    EXPECT_TRUE(drawn) << emf;
    for (const char* label : {"0.5", "10.5", "Time"})
        EXPECT_NE(emf.find(std::string("[CDATA[") + label + "]]"), std::string::npos) << label;
    bool centred = false;
    for (const std::string& e : Elements(emf, "text"))
        centred |= Attribute(e, "text-anchor") == "middle" && Attribute(e, "x") == "160.0000";
    EXPECT_TRUE(centred) << emf;

    // The Windows file: shapes where they were drawn (within the
    // converter's rounding), texts whole.
    const std::string wmf = test_support::ConvertToSvg("wmf2svg", WindowsMetafileBytes(dc->Records(), kW, kH), ".wmf");
    ASSERT_FALSE(wmf.empty()) << "wmf2svg (package libwmf-bin) could not convert the file";
    // The line: one segment after another, as drawn.
    std::vector<double> pts;
    for (const std::string& e : Elements(wmf, "line")) {
        if (Attribute(e, "style").find("stroke-width:1.9") == std::string::npos) continue;  // the 2-pixel pen
        const std::vector<double> ends = Numbers(Attribute(e, "x1") + " " + Attribute(e, "y1") + " " +
                                                 Attribute(e, "x2") + " " + Attribute(e, "y2"));
        if (pts.empty()) pts.insert(pts.end(), ends.begin(), ends.begin() + 2);
        pts.insert(pts.end(), ends.begin() + 2, ends.end());
    }
    ASSERT_EQ(pts.size(), line.size()) << wmf;
    for (std::size_t i = 0; i < line.size(); ++i) EXPECT_NEAR(pts[i], line[i], 1.5) << i;
    bool box = false;
    for (const std::string& e : Elements(wmf, "rect"))
        if (Attribute(e, "style").find("fill:none") != std::string::npos) {
            const std::vector<double> xywh = Numbers(Attribute(e, "x") + " " + Attribute(e, "y") + " " +
                                                     Attribute(e, "width") + " " + Attribute(e, "height"));
            box = std::abs(xywh[0] - 40) < 1.5 && std::abs(xywh[1] - 20) < 1.5 && std::abs(xywh[2] - 240) < 2.5 &&
                  std::abs(xywh[3] - 150) < 2.5;
        }
    EXPECT_TRUE(box) << wmf;
    for (const char* label : {">0.5<", ">10.5<", ">Time<"}) EXPECT_NE(wmf.find(label), std::string::npos) << label;
}

TEST(gdi_metafile, empty_recordings_odd_sizes_and_questions_to_the_recording_surface) {
    test_support::EnsureQtApplication();
    // Nothing drawn: a header and an end record, empty bounds.
    auto empty = DC::CreateRecordingDC(10, 10);
    const EmfFile f = test_support::ReadEmf(EnhancedMetafileBytes(empty->Records(), 10, 10));
    EXPECT_EQ(f.list.size(), 2u);
    EXPECT_EQ(f.bounds, (EmfFile::Rect{0, 0, -1, -1}));
    EXPECT_EQ(test_support::ReadWmf(WindowsMetafileBytes(empty->Records(), 10, 10)).list.back().function, 0);
    // Drawing wholly outside: empty bounds too.
    empty->Rectangle(-50, -50, -10, -10);
    EXPECT_EQ(RecordedBounds(empty->Records(), 10, 10), RECT{});
    // The surface answers pixel reads with a defined "no pixel" and text
    // metrics as a raster surface of 96 pixels an inch does.
    EXPECT_EQ(empty->GetPixel(5, 5), CLR_INVALID);
    Surface raster(10, 10);
    LOGFONT lf;
    lf.lfHeight = -11;  // 8 points
    lf.lfFaceName = "Tahoma";
    empty->SelectObject(CreateFontIndirect(lf));
    raster->SelectObject(CreateFontIndirect(lf));
    TEXTMETRIC a, b;
    ASSERT_TRUE(empty->GetTextMetrics(&a));
    ASSERT_TRUE(raster->GetTextMetrics(&b));
    EXPECT_EQ(a.tmHeight, b.tmHeight);
    EXPECT_EQ(a.tmAscent, b.tmAscent);
    EXPECT_EQ(a.tmAveCharWidth, b.tmAveCharWidth);
    EXPECT_EQ(a.tmHeight - a.tmInternalLeading, 11);  // 8 points at 96 an inch
    EXPECT_THROW(DC::CreateRecordingDC(40000, 10), EGdiError);
}

}  // namespace
