// The enhanced metafile writer: one record per recorded call, with the
// object and attribute records each call needs before it.
#include <QString>
#include <algorithm>
#include <cmath>

#include "platform/gdi/bytes.h"
#include "platform/gdi/dib.h"
#include "platform/gdi/metafile.h"
#include "platform/gdi/metafile_writer.h"
#include "platform/gdi/qt_gdi.h"
#include "platform/gdi/raster.h"

namespace gdi {

namespace {

using detail::Attr;
using detail::FileObject;

// Record types.
enum : std::uint32_t {
    EMR_HEADER = 1,
    EMR_POLYGON = 3,
    EMR_POLYLINE = 4,
    EMR_EOF = 14,
    EMR_SETPIXELV = 15,
    EMR_SETBKMODE = 18,
    EMR_SETPOLYFILLMODE = 19,
    EMR_SETROP2 = 20,
    EMR_SETTEXTALIGN = 22,
    EMR_SETTEXTCOLOR = 24,
    EMR_SETBKCOLOR = 25,
    EMR_MOVETOEX = 27,
    EMR_SELECTOBJECT = 37,
    EMR_CREATEPEN = 38,
    EMR_CREATEBRUSHINDIRECT = 39,
    EMR_DELETEOBJECT = 40,
    EMR_ELLIPSE = 42,
    EMR_RECTANGLE = 43,
    EMR_ROUNDRECT = 44,
    EMR_ARC = 45,
    EMR_CHORD = 46,
    EMR_PIE = 47,
    EMR_LINETO = 54,
    EMR_ARCTO = 55,
    EMR_SETARCDIRECTION = 57,
    EMR_BEGINPATH = 59,
    EMR_ENDPATH = 60,
    EMR_FILLPATH = 62,
    EMR_STROKEANDFILLPATH = 63,
    EMR_STROKEPATH = 64,
    EMR_WIDENPATH = 66,
    EMR_SELECTCLIPPATH = 67,
    EMR_ABORTPATH = 68,
    EMR_EXTSELECTCLIPRGN = 75,
    EMR_STRETCHDIBITS = 81,
    EMR_EXTCREATEFONTINDIRECTW = 82,
    EMR_EXTTEXTOUTW = 84,
    EMR_POLYGON16 = 86,
    EMR_POLYLINE16 = 87,
    EMR_CREATEDIBPATTERNBRUSHPT = 94,
    EMR_EXTCREATEPEN = 95,
    EMR_ALPHABLEND = 114,
};

constexpr std::uint32_t kSignature = 0x464D4520;  // " EMF"
constexpr std::uint32_t kStockNullBrush = 0x80000005u;
constexpr std::uint32_t kStockNullPen = 0x80000008u;
constexpr std::uint32_t kGraphicsModeCompatible = 1;
constexpr std::uint32_t kDibRgbColors = 0;
// The reference device: 1920 x 1440 pixels of 96 an inch are 508 x 381 mm.
constexpr int kDevicePixelsX = 1920, kDevicePixelsY = 1440;
constexpr int kDeviceMillimetresX = 508, kDeviceMillimetresY = 381;
constexpr double kHundredthsOfMillimetrePerPixel = 2540.0 / 96.0;
// "application\0picture\0\0"
constexpr char16_t kDescription[] = u"Vostrel\0chart\0";
constexpr std::size_t kDescriptionChars = std::size(kDescription);  // with the final NUL

bool Fits16(std::span<const POINT> points) {
    return std::all_of(points.begin(), points.end(), [](const POINT& p) {
        return p.x >= INT16_MIN && p.x <= INT16_MAX && p.y >= INT16_MIN && p.y <= INT16_MAX;
    });
}

RECT Inclusive(RECT r) {
    if (detail::IsEmpty(r)) return {0, 0, -1, -1};
    return {r.left, r.top, r.right - 1, r.bottom - 1};
}

class EmfWriter : public detail::MetafileWriter {
public:
    EmfWriter(int width, int height) : MetafileWriter(1), width_(width), height_(height), w_(out_) {}

    std::vector<std::uint8_t> Write(std::span<const Record> records) {
        Header(records);
        for (const Record& r : records) Play(r);
        const std::size_t eof = Begin(EMR_EOF);
        w_.U32(0);   // no palette
        w_.U32(16);  // where it would be
        w_.U32(20);  // the size of this record, again
        End(eof);
        w_.PatchU32(48, static_cast<std::uint32_t>(out_.size()));
        w_.PatchU32(52, records_);
        w_.PatchU16(56, static_cast<std::uint16_t>(std::max<std::uint32_t>(HandleCount(), 1)));
        return std::move(out_);
    }

private:
    std::size_t Begin(std::uint32_t type) {
        const std::size_t at = out_.size();
        w_.U32(type);
        w_.U32(0);
        return at;
    }
    void End(std::size_t at) {
        w_.Align(4);
        w_.PatchU32(at + 4, static_cast<std::uint32_t>(out_.size() - at));
        ++records_;
    }
    void Rect(const RECT& r) {
        w_.I32(r.left), w_.I32(r.top), w_.I32(r.right), w_.I32(r.bottom);
    }
    void Point(POINT p) { w_.I32(p.x), w_.I32(p.y); }
    void Simple(std::uint32_t type, std::initializer_list<std::int32_t> values) {
        const std::size_t at = Begin(type);
        for (std::int32_t v : values) w_.I32(v);
        End(at);
    }

    void Header(std::span<const Record> records) {
        const RECT bounds = RecordedBounds(records, width_, height_);
        const std::size_t at = Begin(EMR_HEADER);
        Rect(Inclusive(bounds));
        Rect({0, 0, int(std::lround(width_ * kHundredthsOfMillimetrePerPixel)),
              int(std::lround(height_ * kHundredthsOfMillimetrePerPixel))});
        w_.U32(kSignature);
        w_.U32(0x10000);  // version
        w_.U32(0);        // bytes, records, handles: patched at the end
        w_.U32(0);
        w_.U16(0);
        w_.U16(0);
        w_.U32(static_cast<std::uint32_t>(kDescriptionChars));
        w_.U32(108);  // the description follows the header
        w_.U32(0);    // palette entries
        w_.I32(kDevicePixelsX), w_.I32(kDevicePixelsY);
        w_.I32(kDeviceMillimetresX), w_.I32(kDeviceMillimetresY);
        w_.U32(0), w_.U32(0), w_.U32(0);  // no pixel format, no OpenGL
        w_.I32(kDeviceMillimetresX * 1000), w_.I32(kDeviceMillimetresY * 1000);
        for (char16_t c : kDescription) w_.U16(c);
        End(at);
    }

    // ---- Objects and attributes

    std::optional<std::uint32_t> StockHandle(const FileObject& o) const override {
        if (o.kind == FileObject::Kind::Pen && (o.pen.elpPenStyle & PS_STYLE_MASK) == PS_NULL)
            return kStockNullPen;
        if (o.kind == FileObject::Kind::Brush && o.brush.lbStyle == BS_NULL) return kStockNullBrush;
        return std::nullopt;
    }

    void EmitCreate(std::uint32_t handle, const FileObject& o) override {
        switch (o.kind) {
            case FileObject::Kind::Pen: return CreatePen(handle, o.pen);
            case FileObject::Kind::Brush: return CreateBrush(handle, o);
            case FileObject::Kind::Font: return CreateFont(handle, o.font);
        }
    }

    void CreatePen(std::uint32_t handle, const EXTLOGPEN& p) {
        const bool plain = (p.elpPenStyle & PS_TYPE_MASK) == PS_COSMETIC &&
                           (p.elpPenStyle & PS_STYLE_MASK) <= PS_INSIDEFRAME &&
                           p.elpBrushStyle == BS_SOLID;
        if (plain) {
            const std::size_t at = Begin(EMR_CREATEPEN);
            w_.U32(handle);
            w_.U32(p.elpPenStyle & PS_STYLE_MASK);
            w_.I32(static_cast<std::int32_t>(p.elpWidth));
            w_.I32(0);
            w_.U32(p.elpColor);
            End(at);
            return;
        }
        const std::size_t at = Begin(EMR_EXTCREATEPEN);
        w_.U32(handle);
        w_.U32(0), w_.U32(0), w_.U32(0), w_.U32(0);  // no bitmap brush
        w_.U32(p.elpPenStyle);
        w_.U32(p.elpWidth);
        w_.U32(p.elpBrushStyle);
        w_.U32(p.elpColor);
        w_.U32(static_cast<std::uint32_t>(p.elpHatch));
        w_.U32(static_cast<std::uint32_t>(p.elpStyleEntry.size()));
        for (DWORD e : p.elpStyleEntry) w_.U32(e);
        End(at);
    }

    void CreateBrush(std::uint32_t handle, const FileObject& o) {
        if (o.brush.lbStyle == BS_PATTERN && o.pattern && !o.pattern->Empty()) {
            const std::size_t at = Begin(EMR_CREATEDIBPATTERNBRUSHPT);
            w_.U32(handle);
            w_.U32(kDibRgbColors);
            const std::size_t fields = out_.size();
            w_.U32(0), w_.U32(0), w_.U32(0), w_.U32(0);
            AppendDibAt(at, fields, *o.pattern, 24);
            End(at);
            return;
        }
        const std::size_t at = Begin(EMR_CREATEBRUSHINDIRECT);
        w_.U32(handle);
        w_.U32(o.brush.lbStyle == BS_PATTERN ? BS_SOLID : o.brush.lbStyle);
        w_.U32(o.brush.lbColor);
        w_.U32(static_cast<std::uint32_t>(o.brush.lbHatch));
        End(at);
    }

    void CreateFont(std::uint32_t handle, const LOGFONT& f) {
        const std::size_t at = Begin(EMR_EXTCREATEFONTINDIRECTW);
        w_.U32(handle);
        w_.I32(f.lfHeight), w_.I32(f.lfWidth), w_.I32(f.lfEscapement), w_.I32(f.lfOrientation);
        w_.I32(f.lfWeight);
        w_.U8(f.lfItalic), w_.U8(f.lfUnderline), w_.U8(f.lfStrikeOut), w_.U8(f.lfCharSet);
        w_.U8(f.lfOutPrecision), w_.U8(f.lfClipPrecision), w_.U8(f.lfQuality),
            w_.U8(f.lfPitchAndFamily);
        const std::u16string face = AnsiToQString(f.lfFaceName).left(31).toStdU16String();
        for (char16_t c : face) w_.U16(c);
        w_.Zeros(2 * (32 - face.size()));
        End(at);
    }

    void EmitSelect(std::uint32_t handle) override { Simple(EMR_SELECTOBJECT, {std::int32_t(handle)}); }
    void EmitDelete(std::uint32_t handle) override { Simple(EMR_DELETEOBJECT, {std::int32_t(handle)}); }

    void EmitAttr(Attr a, std::uint32_t v) override {
        static constexpr std::uint32_t kTypes[] = {EMR_SETTEXTCOLOR, EMR_SETBKCOLOR, EMR_SETBKMODE,
                                                   EMR_SETROP2,      EMR_SETTEXTALIGN, EMR_SETPOLYFILLMODE,
                                                   EMR_SETARCDIRECTION};
        static_assert(std::size(kTypes) == std::size_t(Attr::Count));
        Simple(kTypes[std::size_t(a)], {std::int32_t(v)});
    }

    void EmitMoveTo(POINT p) override { Simple(EMR_MOVETOEX, {p.x, p.y}); }

    // ---- Calls

    void Play(const Record& r) {
        if (const unsigned needs = detail::NeedsOf(r)) Sync(r.State, needs);
        const auto& a = r.Args;
        switch (r.Op) {
            case RecordOp::MoveTo:
                EmitMoveTo({a[0], a[1]});
                MovedTo({a[0], a[1]});
                break;
            case RecordOp::LineTo:
                Simple(EMR_LINETO, {a[0], a[1]});
                MovedTo({a[0], a[1]});
                break;
            case RecordOp::Polyline:
            case RecordOp::Polygon: Poly(r); break;
            case RecordOp::Rectangle: Simple(EMR_RECTANGLE, {a[0], a[1], a[2], a[3]}); break;
            case RecordOp::Ellipse: Simple(EMR_ELLIPSE, {a[0], a[1], a[2], a[3]}); break;
            case RecordOp::RoundRect: Simple(EMR_ROUNDRECT, {a[0], a[1], a[2], a[3], a[4], a[5]}); break;
            case RecordOp::Arc:
            case RecordOp::ArcTo:
            case RecordOp::Pie:
            case RecordOp::Chord: {
                const std::uint32_t type = r.Op == RecordOp::Arc     ? EMR_ARC
                                           : r.Op == RecordOp::ArcTo ? EMR_ARCTO
                                           : r.Op == RecordOp::Pie   ? EMR_PIE
                                                                     : EMR_CHORD;
                Simple(type, {a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7]});
                if (r.Op == RecordOp::ArcTo) PositionUnknown();
                break;
            }
            case RecordOp::FillRect:
                Fill(r.State, {a[0], a[1], a[2], a[3]}, R2_COPYPEN);
                break;
            case RecordOp::PatBlt:
                Fill(r.State, detail::BlitRect(a[0], a[1], a[2], a[3]), detail::Rop2OfRop3(DWORD(a[4])));
                break;
            case RecordOp::SetPixel: Simple(EMR_SETPIXELV, {a[0], a[1], a[2]}); break;
            case RecordOp::BitBlt:
            case RecordOp::StretchBlt:
                if (!detail::RopUses(DWORD(a[8]), 2)) {
                    Fill(r.State, detail::BlitRect(a[0], a[1], a[2], a[3]), detail::Rop2OfRop3(DWORD(a[8])));
                } else if (r.Image && !r.Image->Empty()) {
                    StretchDib(r);
                }
                break;
            case RecordOp::AlphaBlend:
                if (r.Image && !r.Image->Empty()) Blend(r);
                break;
            case RecordOp::TextOut:
            case RecordOp::ExtTextOut: Text(r); break;
            case RecordOp::BeginPath: Simple(EMR_BEGINPATH, {}); break;
            case RecordOp::EndPath: Simple(EMR_ENDPATH, {}); break;
            case RecordOp::AbortPath: Simple(EMR_ABORTPATH, {}); break;
            case RecordOp::WidenPath: Simple(EMR_WIDENPATH, {}); break;
            case RecordOp::StrokePath:
            case RecordOp::FillPath:
            case RecordOp::StrokeAndFillPath: {
                const std::uint32_t type = r.Op == RecordOp::StrokePath ? EMR_STROKEPATH
                                           : r.Op == RecordOp::FillPath ? EMR_FILLPATH
                                                                        : EMR_STROKEANDFILLPATH;
                const std::size_t at = Begin(type);
                Rect({0, 0, width_ - 1, height_ - 1});
                End(at);
                break;
            }
            case RecordOp::SelectClipPath: Simple(EMR_SELECTCLIPPATH, {a[0]}); break;
            case RecordOp::ExtSelectClipRgn: ClipRegion(r); break;
            default: break;  // attribute and selection calls: written as the calls use them
        }
    }

    void Poly(const Record& r) {
        const bool line = r.Op == RecordOp::Polyline;
        const bool narrow = Fits16(r.Points);
        const std::size_t at = Begin(narrow ? (line ? EMR_POLYLINE16 : EMR_POLYGON16)
                                            : (line ? EMR_POLYLINE : EMR_POLYGON));
        Rect(Inclusive(detail::BoundsOf(r)));
        w_.U32(static_cast<std::uint32_t>(r.Points.size()));
        for (const POINT& p : r.Points) {
            if (narrow) {
                w_.I16(static_cast<std::int16_t>(p.x));
                w_.I16(static_cast<std::int16_t>(p.y));
            } else {
                Point(p);
            }
        }
        End(at);
    }

    // A rectangle [box) filled with the state's brush under a ROP2 mode, no
    // outline (a rectangle without a pen leaves out one more column and row).
    void Fill(const RecordState& s, RECT box, int rop2) {
        if (detail::IsEmpty(box)) return;
        SyncFill(s, rop2);
        Simple(EMR_RECTANGLE, {box.left, box.top, box.right + 1, box.bottom + 1});
    }

    void StretchDib(const Record& r) {
        const auto& a = r.Args;
        const Bitmap& image = *r.Image;
        const std::size_t at = Begin(EMR_STRETCHDIBITS);
        Rect(Inclusive(detail::BoundsOf(r)));
        w_.I32(a[0]), w_.I32(a[1]);
        w_.I32(0), w_.I32(0);
        w_.I32(image.Width()), w_.I32(image.Height());
        const std::size_t fields = out_.size();
        w_.U32(0), w_.U32(0), w_.U32(0), w_.U32(0);
        w_.U32(kDibRgbColors);
        w_.U32(static_cast<std::uint32_t>(a[8]));
        // A mirrored source is a mirrored destination.
        w_.I32(a[6] < 0 ? -a[2] : a[2]);
        w_.I32(a[7] < 0 ? -a[3] : a[3]);
        AppendDibAt(at, fields, image, 24);
        End(at);
    }

    void Blend(const Record& r) {
        const auto& a = r.Args;
        const Bitmap& image = *r.Image;
        const std::size_t at = Begin(EMR_ALPHABLEND);
        Rect(Inclusive(detail::BoundsOf(r)));
        w_.I32(a[0]), w_.I32(a[1]), w_.I32(a[2]), w_.I32(a[3]);
        w_.U32(0u | 0u << 8 | std::uint32_t(a[8] & 0xFF) << 16 | std::uint32_t(a[9] & 0xFF) << 24);
        w_.I32(0), w_.I32(0);
        for (float f : {1.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f}) w_.F32(f);  // identity
        w_.U32(0);  // background of the source
        w_.U32(kDibRgbColors);
        const std::size_t fields = out_.size();
        w_.U32(0), w_.U32(0), w_.U32(0), w_.U32(0);
        w_.I32(image.Width()), w_.I32(image.Height());
        AppendDibAt(at, fields, image, 32);
        End(at);
    }

    // Appends the image as a DIB and fills the offset and size fields
    // (bitmap information, then bits) at fields.
    void AppendDibAt(std::size_t record, std::size_t fields, const Bitmap& image, int bits) {
        const std::size_t bmiAt = out_.size() - record;
        AppendDib(image, bits, out_);
        const std::size_t header = DibLayoutOf(image.Width(), image.Height(), bits, 0).header;
        const std::size_t total = out_.size() - record - bmiAt;
        w_.PatchU32(fields, static_cast<std::uint32_t>(bmiAt));
        w_.PatchU32(fields + 4, static_cast<std::uint32_t>(header));
        w_.PatchU32(fields + 8, static_cast<std::uint32_t>(bmiAt + header));
        w_.PatchU32(fields + 12, static_cast<std::uint32_t>(total - header));
    }

    void Text(const Record& r) {
        const auto& a = r.Args;
        const unsigned options = r.Op == RecordOp::ExtTextOut ? unsigned(a[2]) : 0u;
        const bool hasRect = r.Op == RecordOp::ExtTextOut && a.size() >= 7;
        const std::vector<int> advances = detail::TextAdvances(r);
        const std::size_t at = Begin(EMR_EXTTEXTOUTW);
        Rect(Inclusive(detail::BoundsOf(r)));
        w_.U32(kGraphicsModeCompatible);
        w_.F32(float(kHundredthsOfMillimetrePerPixel));
        w_.F32(float(kHundredthsOfMillimetrePerPixel));
        Point({a[0], a[1]});
        w_.U32(static_cast<std::uint32_t>(r.Text.size()));
        const std::size_t stringAt = 76;
        w_.U32(static_cast<std::uint32_t>(stringAt));
        w_.U32(hasRect ? options & (ETO_OPAQUE | ETO_CLIPPED) : 0u);
        if (hasRect) Rect({a[3], a[4], a[5], a[6]});
        else Rect({0, 0, -1, -1});
        const std::size_t dxField = out_.size();
        w_.U32(0);
        for (char16_t c : r.Text) w_.U16(c);
        w_.Align(4);
        w_.PatchU32(dxField, static_cast<std::uint32_t>(out_.size() - at));
        for (int d : advances) w_.I32(d);
        End(at);
        if (r.State.TextAlign & TA_UPDATECP) PositionUnknown();
    }

    void ClipRegion(const Record& r) {
        const int mode = r.Args[0];
        if (!r.Region && mode != RGN_COPY) return;  // refused by the context: no change
        const std::size_t at = Begin(EMR_EXTSELECTCLIPRGN);
        const std::size_t sizeField = out_.size();
        w_.U32(0);
        w_.U32(static_cast<std::uint32_t>(mode));
        if (r.Region) {
            const std::vector<RECT> rects = GetRegionRects(r.Region);
            RECT box{};
            GetRgnBox(r.Region, &box);
            const std::size_t dataAt = out_.size();
            w_.U32(32);  // region data header
            w_.U32(1);   // rectangles
            w_.U32(static_cast<std::uint32_t>(rects.size()));
            w_.U32(static_cast<std::uint32_t>(rects.size() * 16));
            Rect(box);
            for (const RECT& rc : rects) Rect(rc);
            w_.PatchU32(sizeField, static_cast<std::uint32_t>(out_.size() - dataAt));
        }
        End(at);
    }

    int width_, height_;
    std::vector<std::uint8_t> out_;
    ByteWriter w_;
    std::uint32_t records_ = 0;
};

}  // namespace

std::vector<std::uint8_t> EnhancedMetafileBytes(std::span<const Record> records, int width,
                                                int height) {
    return EmfWriter(std::max(width, 0), std::max(height, 0)).Write(records);
}

}  // namespace gdi
