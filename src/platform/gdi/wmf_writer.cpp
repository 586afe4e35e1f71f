// The Windows metafile writer: the recording reduced to 16-bit records
// (what each call becomes: metafile.h).
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <numbers>
#include <optional>

#include "platform/gdi/bytes.h"
#include "platform/gdi/dib.h"
#include "platform/gdi/metafile.h"
#include "platform/gdi/metafile_writer.h"
#include "platform/gdi/qt_gdi.h"
#include "platform/gdi/raster.h"
#include "platform/rtl/cp1251.h"

namespace gdi {

namespace {

using detail::Attr;
using detail::FileObject;

// Record functions.
enum : std::uint16_t {
    META_EOF = 0x0000,
    META_SAVEDC = 0x001E,
    META_SETBKMODE = 0x0102,
    META_SETMAPMODE = 0x0103,
    META_SETROP2 = 0x0104,
    META_SETPOLYFILLMODE = 0x0106,
    META_RESTOREDC = 0x0127,
    META_SELECTOBJECT = 0x012D,
    META_SETTEXTALIGN = 0x012E,
    META_DIBCREATEPATTERNBRUSH = 0x0142,
    META_DELETEOBJECT = 0x01F0,
    META_SETBKCOLOR = 0x0201,
    META_SETTEXTCOLOR = 0x0209,
    META_SETWINDOWORG = 0x020B,
    META_SETWINDOWEXT = 0x020C,
    META_CREATEPENINDIRECT = 0x02FA,
    META_CREATEFONTINDIRECT = 0x02FB,
    META_CREATEBRUSHINDIRECT = 0x02FC,
    META_LINETO = 0x0213,
    META_MOVETO = 0x0214,
    META_POLYGON = 0x0324,
    META_EXCLUDECLIPRECT = 0x0415,
    META_INTERSECTCLIPRECT = 0x0416,
    META_ELLIPSE = 0x0418,
    META_RECTANGLE = 0x041B,
    META_SETPIXEL = 0x041F,
    META_POLYPOLYGON = 0x0538,
    META_ROUNDRECT = 0x061C,
    META_ARC = 0x0817,
    META_PIE = 0x081A,
    META_CHORD = 0x0830,
    META_EXTTEXTOUT = 0x0A32,
    META_STRETCHDIB = 0x0F43,
};

constexpr std::uint32_t kPlaceableKey = 0x9AC6CDD7u;
constexpr std::uint16_t kMetafileVersion = 0x0300;
constexpr std::uint16_t kBrushDibPattern = 5;
constexpr std::uint16_t kDibRgbColors = 0;
constexpr std::uint16_t kMapModeText = 1;
// A point count is a signed 16-bit field.
constexpr std::size_t kMaxPoints = 32767;

std::int16_t Clamp16(long long v) {
    return static_cast<std::int16_t>(std::clamp<long long>(v, INT16_MIN, INT16_MAX));
}

// A pen as the 16-bit pen of this file can hold it.
struct Pen16 {
    std::uint16_t style;
    std::int16_t width;
    COLORREF color;
};
Pen16 ReducePen(const EXTLOGPEN& p) {
    const bool geometric = (p.elpPenStyle & PS_TYPE_MASK) == PS_GEOMETRIC;
    const int width = geometric ? static_cast<int>(std::max<DWORD>(p.elpWidth, 1)) : 1;
    DWORD style = p.elpPenStyle & PS_STYLE_MASK;
    if (style == PS_USERSTYLE) style = width > 1 ? PS_SOLID : PS_DASH;
    if (style == PS_ALTERNATE) style = PS_DOT;
    const DWORD ends = geometric ? p.elpPenStyle & (PS_ENDCAP_MASK | PS_JOIN_MASK) : 0;
    return {static_cast<std::uint16_t>(style | ends), Clamp16(width), p.elpColor};
}

class WmfWriter : public detail::MetafileWriter {
public:
    WmfWriter(int width, int height) : MetafileWriter(0), width_(width), height_(height), w_(out_) {}

    std::vector<std::uint8_t> Write(std::span<const Record> records) {
        PlaceableHeader();
        const std::size_t header = out_.size();
        w_.U16(1);  // in memory
        w_.U16(9);  // header words
        w_.U16(kMetafileVersion);
        w_.U32(0);  // size in words, patched
        w_.U16(0);  // objects, patched
        w_.U32(0);  // largest record, patched
        w_.U16(0);
        Params(META_SETMAPMODE, {kMapModeText});
        Params(META_SETWINDOWORG, {0, 0});
        Params(META_SETWINDOWEXT, {Clamp16(height_), Clamp16(width_)});
        for (const Record& r : records) Play(r);
        if (StateSaved()) Params(META_RESTOREDC, {-1});
        Params(META_EOF, {});
        const std::size_t words = (out_.size() - header) / 2;
        w_.PatchU16(header + 6, static_cast<std::uint16_t>(words));
        w_.PatchU16(header + 8, static_cast<std::uint16_t>(words >> 16));
        w_.PatchU16(header + 10, static_cast<std::uint16_t>(HandleCount()));
        w_.PatchU32(header + 12, max_record_);
        return std::move(out_);
    }

private:
    void PlaceableHeader() {
        w_.U32(kPlaceableKey);
        w_.U16(0);
        w_.I16(0), w_.I16(0), w_.I16(Clamp16(width_)), w_.I16(Clamp16(height_));
        w_.U16(static_cast<std::uint16_t>(kPixelsPerInch));
        w_.U32(0);
        std::uint16_t sum = 0;
        for (std::size_t i = 0; i < 20; i += 2) sum ^= GetU16(out_, i);
        w_.U16(sum);
    }

    std::size_t Begin(std::uint16_t function) {
        const std::size_t at = out_.size();
        w_.U32(0);
        w_.U16(function);
        return at;
    }
    void End(std::size_t at) {
        w_.Align(2);
        const std::uint32_t words = static_cast<std::uint32_t>((out_.size() - at) / 2);
        w_.PatchU32(at, words);
        max_record_ = std::max(max_record_, words);
    }
    void Params(std::uint16_t function, std::initializer_list<long long> values) {
        const std::size_t at = Begin(function);
        for (long long v : values) w_.I16(Clamp16(v));
        End(at);
    }
    void Colour(std::uint16_t function, COLORREF c) {
        const std::size_t at = Begin(function);
        w_.U32(c & 0xFFFFFFu);
        End(at);
    }
    // Left, top, right, bottom: written bottom first, as the file wants.
    void Box(std::uint16_t function, long long l, long long t, long long r, long long b) {
        Params(function, {b, r, t, l});
    }

    // ---- Objects and attributes

    void EmitCreate(std::uint32_t, const FileObject& o) override {
        switch (o.kind) {
            case FileObject::Kind::Pen: {
                const Pen16 p = ReducePen(o.pen);
                const std::size_t at = Begin(META_CREATEPENINDIRECT);
                w_.U16(p.style);
                w_.I16(p.width), w_.I16(0);
                w_.U32(p.color);
                End(at);
                return;
            }
            case FileObject::Kind::Brush: {
                if (o.brush.lbStyle == BS_PATTERN && o.pattern && !o.pattern->Empty()) {
                    const std::size_t at = Begin(META_DIBCREATEPATTERNBRUSH);
                    w_.U16(kBrushDibPattern);
                    w_.U16(kDibRgbColors);
                    AppendDib(*o.pattern, 24, out_);
                    End(at);
                    return;
                }
                const std::size_t at = Begin(META_CREATEBRUSHINDIRECT);
                w_.U16(static_cast<std::uint16_t>(o.brush.lbStyle == BS_PATTERN ? BS_SOLID : o.brush.lbStyle));
                w_.U32(o.brush.lbColor);
                w_.U16(static_cast<std::uint16_t>(o.brush.lbHatch));
                End(at);
                return;
            }
            case FileObject::Kind::Font: {
                const LOGFONT& f = o.font;
                const std::size_t at = Begin(META_CREATEFONTINDIRECT);
                w_.I16(Clamp16(f.lfHeight)), w_.I16(Clamp16(f.lfWidth));
                w_.I16(Clamp16(f.lfEscapement)), w_.I16(Clamp16(f.lfOrientation));
                w_.I16(Clamp16(f.lfWeight));
                w_.U8(f.lfItalic), w_.U8(f.lfUnderline), w_.U8(f.lfStrikeOut), w_.U8(f.lfCharSet);
                w_.U8(f.lfOutPrecision), w_.U8(f.lfClipPrecision), w_.U8(f.lfQuality),
                    w_.U8(f.lfPitchAndFamily);
                const std::string face = f.lfFaceName.substr(0, 31);
                for (char c : face) w_.U8(static_cast<std::uint8_t>(c));
                w_.U8(0);
                End(at);
                return;
            }
        }
    }
    void EmitSelect(std::uint32_t handle) override { Params(META_SELECTOBJECT, {handle}); }
    void EmitDelete(std::uint32_t handle) override { Params(META_DELETEOBJECT, {handle}); }
    void EmitAttr(Attr a, std::uint32_t v) override {
        switch (a) {
            case Attr::TextColor: return Colour(META_SETTEXTCOLOR, v);
            case Attr::BkColor: return Colour(META_SETBKCOLOR, v);
            case Attr::BkMode: return Params(META_SETBKMODE, {v});
            case Attr::Rop2: return Params(META_SETROP2, {v});
            case Attr::TextAlign: return Params(META_SETTEXTALIGN, {v});
            case Attr::PolyFill: return Params(META_SETPOLYFILLMODE, {v});
            case Attr::ArcDirection:  // no such record: arcs are written in drawing order
            case Attr::Count: return;
        }
    }
    void EmitMoveTo(POINT p) override { Params(META_MOVETO, {p.y, p.x}); }

    // ---- Calls

    void Play(const Record& r) {
        if (in_path_) return AddToPath(r);
        const unsigned needs = detail::NeedsOf(r);
        if (needs) Sync(r.State, needs);
        const auto& a = r.Args;
        switch (r.Op) {
            case RecordOp::MoveTo:
                EmitMoveTo({a[0], a[1]});
                MovedTo({a[0], a[1]});
                break;
            case RecordOp::LineTo:
                Params(META_LINETO, {a[1], a[0]});
                MovedTo({a[0], a[1]});
                break;
            case RecordOp::Polyline: Polyline(r.Points); break;
            case RecordOp::Polygon: Polygon(r.Points); break;
            case RecordOp::Rectangle: Box(META_RECTANGLE, a[0], a[1], a[2], a[3]); break;
            case RecordOp::Ellipse: Box(META_ELLIPSE, a[0], a[1], a[2], a[3]); break;
            case RecordOp::RoundRect: Params(META_ROUNDRECT, {a[5], a[4], a[3], a[2], a[1], a[0]}); break;
            case RecordOp::Arc: ArcRecord(META_ARC, r); break;
            case RecordOp::Pie: ArcRecord(META_PIE, r); break;
            case RecordOp::Chord: ArcRecord(META_CHORD, r); break;
            case RecordOp::ArcTo: {
                const RECT box{a[0], a[1], a[2], a[3]};
                const POINT start = detail::ArcPoint(box, a[4], a[5]);
                const POINT end = detail::ArcPoint(box, a[6], a[7]);
                Params(META_LINETO, {start.y, start.x});
                ArcRecord(META_ARC, r);
                EmitMoveTo(end);
                MovedTo(end);
                break;
            }
            case RecordOp::FillRect: Fill(r.State, {a[0], a[1], a[2], a[3]}, R2_COPYPEN); break;
            case RecordOp::PatBlt:
                Fill(r.State, detail::BlitRect(a[0], a[1], a[2], a[3]), detail::Rop2OfRop3(DWORD(a[4])));
                break;
            case RecordOp::SetPixel: {
                const std::size_t at = Begin(META_SETPIXEL);
                w_.U32(std::uint32_t(a[2]) & 0xFFFFFFu);
                w_.I16(Clamp16(a[1])), w_.I16(Clamp16(a[0]));
                End(at);
                break;
            }
            case RecordOp::BitBlt:
            case RecordOp::StretchBlt:
                if (!detail::RopUses(DWORD(a[8]), 2))
                    Fill(r.State, detail::BlitRect(a[0], a[1], a[2], a[3]), detail::Rop2OfRop3(DWORD(a[8])));
                else if (r.Image && !r.Image->Empty())
                    StretchDib(r, DWORD(a[8]));
                break;
            case RecordOp::AlphaBlend:
                if (r.Image && !r.Image->Empty()) StretchDib(r, SRCCOPY);
                break;
            case RecordOp::TextOut:
            case RecordOp::ExtTextOut: Text(r, r.State.TextColor); break;
            case RecordOp::BeginPath:
                path_ = QPainterPath();
                path_texts_.clear();
                widened_ = false;
                in_path_ = true;
                break;
            case RecordOp::AbortPath: ClearPath(); break;
            case RecordOp::WidenPath: widened_ = true; break;
            case RecordOp::StrokePath:
            case RecordOp::FillPath:
            case RecordOp::StrokeAndFillPath: DrawPath(r); break;
            case RecordOp::SelectClipPath:
                if (r.Region) Clip(r.Region, a[0]);
                ClearPath();
                break;
            case RecordOp::ExtSelectClipRgn:
                if (r.Region || a[0] == RGN_COPY) Clip(r.Region, a[0]);
                break;
            default: break;
        }
    }

    void Points(std::span<const POINT> pts) {
        for (const POINT& p : pts) w_.I16(Clamp16(p.x)), w_.I16(Clamp16(p.y));
    }
    // A move to the first point and a line to each next one. The pen draws
    // the same (it never draws the last pixel of a line), the current
    // position moves; players differ in how they treat the inside of a
    // polyline record, none in how they draw a line.
    void Polyline(std::span<const POINT> pts) {
        if (pts.size() < 2) return;
        EmitMoveTo(pts[0]);
        for (std::size_t i = 1; i < pts.size(); ++i) Params(META_LINETO, {pts[i].y, pts[i].x});
        MovedTo(pts.back());
    }
    // A polygon of more points than the file can count keeps every k-th.
    std::vector<POINT> Thinned(std::span<const POINT> pts) {
        std::vector<POINT> out;
        const std::size_t step = (pts.size() + kMaxPoints - 1) / kMaxPoints;
        for (std::size_t i = 0; i < pts.size(); i += step) out.push_back(pts[i]);
        return out;
    }
    void Polygon(std::span<const POINT> pts) {
        const std::vector<POINT> kept = pts.size() > kMaxPoints ? Thinned(pts) : std::vector<POINT>(pts.begin(), pts.end());
        const std::size_t at = Begin(META_POLYGON);
        w_.I16(static_cast<std::int16_t>(kept.size()));
        Points(kept);
        End(at);
    }

    void ArcRecord(std::uint16_t function, const Record& r) {
        const auto& a = r.Args;
        int xs = a[4], ys = a[5], xe = a[6], ye = a[7];
        // Drawn counter-clockwise: a clockwise arc from s to e is the
        // counter-clockwise one from e to s.
        if (r.State.ArcDirection == AD_CLOCKWISE) std::swap(xs, xe), std::swap(ys, ye);
        Params(function, {ye, xe, ys, xs, a[3], a[2], a[1], a[0]});
    }

    void Fill(const RecordState& s, RECT box, int rop2) {
        if (detail::IsEmpty(box)) return;
        SyncFill(s, rop2);
        Box(META_RECTANGLE, box.left, box.top, (long long)box.right + 1, (long long)box.bottom + 1);
    }

    void StretchDib(const Record& r, DWORD rop) {
        const auto& a = r.Args;
        const Bitmap& image = *r.Image;
        const std::size_t at = Begin(META_STRETCHDIB);
        w_.U32(rop);
        w_.U16(kDibRgbColors);
        w_.I16(Clamp16(image.Height())), w_.I16(Clamp16(image.Width()));
        w_.I16(0), w_.I16(0);
        w_.I16(Clamp16(a[7] < 0 ? -(long long)a[3] : a[3]));
        w_.I16(Clamp16(a[6] < 0 ? -(long long)a[2] : a[2]));
        w_.I16(Clamp16(a[1])), w_.I16(Clamp16(a[0]));
        AppendDib(image, 24, out_);
        End(at);
    }

    // Text in the colour given; letters of a path have no background.
    void Text(const Record& r, COLORREF color, bool ofPath = false) {
        const auto& a = r.Args;
        RecordState s = r.State;
        s.TextColor = color;
        if (ofPath) s.BkMode = TRANSPARENT;
        Sync(s, detail::NeedsOf(r));
        const bool hasRect = r.Op == RecordOp::ExtTextOut && a.size() >= 7;
        const unsigned options = hasRect ? unsigned(a[2]) & (ETO_OPAQUE | ETO_CLIPPED) : 0u;
        std::string bytes;
        for (char16_t c : r.Text) bytes.push_back(rtl::UnicodeToAnsiChar(c));
        const std::size_t at = Begin(META_EXTTEXTOUT);
        w_.I16(Clamp16(a[1])), w_.I16(Clamp16(a[0]));
        w_.I16(static_cast<std::int16_t>(std::min<std::size_t>(bytes.size(), INT16_MAX)));
        w_.U16(static_cast<std::uint16_t>(options));
        if (options) {
            for (int v : {a[3], a[4], a[5], a[6]}) w_.I16(Clamp16(v));
        }
        for (char c : bytes) w_.U8(static_cast<std::uint8_t>(c));
        w_.Align(2);
        // Advances only for spaced text: without them a player lays the
        // string out with its own font, as one run.
        if (s.CharExtra != 0)
            for (int d : detail::TextAdvances(r)) w_.I16(Clamp16(d));
        End(at);
        if (s.TextAlign & TA_UPDATECP) PositionUnknown();
    }

    // ---- Paths: collected while open, written when used.

    void AddToPath(const Record& r) {
        const auto& a = r.Args;
        switch (r.Op) {
            case RecordOp::EndPath: in_path_ = false; break;
            case RecordOp::AbortPath: ClearPath(); break;
            case RecordOp::MoveTo: path_.moveTo(a[0], a[1]); break;
            case RecordOp::LineTo:
                if (path_.elementCount() == 0) path_.moveTo(r.State.Position.x, r.State.Position.y);
                path_.lineTo(a[0], a[1]);
                break;
            case RecordOp::Polyline:
            case RecordOp::Polygon:
                if (r.Points.size() < 2) break;
                path_.moveTo(r.Points[0].x, r.Points[0].y);
                for (std::size_t i = 1; i < r.Points.size(); ++i) path_.lineTo(r.Points[i].x, r.Points[i].y);
                if (r.Op == RecordOp::Polygon) path_.closeSubpath();
                break;
            case RecordOp::Rectangle: path_.addRect(Rect(r)); break;
            case RecordOp::Ellipse: path_.addEllipse(Rect(r)); break;
            case RecordOp::RoundRect: path_.addRoundedRect(Rect(r), std::abs(a[4]) / 2.0, std::abs(a[5]) / 2.0); break;
            case RecordOp::Arc:
            case RecordOp::ArcTo:
            case RecordOp::Pie:
            case RecordOp::Chord: AddArc(r); break;
            case RecordOp::TextOut:
            case RecordOp::ExtTextOut: path_texts_.push_back(&r); break;
            default: break;  // state calls: the records of the call that uses the path hold them
        }
    }
    static QRectF Rect(const Record& r) {
        const auto& a = r.Args;
        const double l = std::min(a[0], a[2]), t = std::min(a[1], a[3]);
        return QRectF(l, t, std::abs(double(a[2]) - a[0]), std::abs(double(a[3]) - a[1]));
    }
    void AddArc(const Record& r) {
        const auto& a = r.Args;
        const QRectF box = Rect(r);
        const RECT ibox{a[0], a[1], a[2], a[3]};
        auto angle = [&](int x, int y) {
            const POINT p = detail::ArcPoint(ibox, x, y);
            const QPointF c = box.center();
            return std::atan2(-(p.y - c.y()) / std::max(box.height() / 2, 1e-9),
                              (p.x - c.x()) / std::max(box.width() / 2, 1e-9)) * 180 / std::numbers::pi;
        };
        const double start = angle(a[4], a[5]), end = angle(a[6], a[7]);
        double sweep = std::fmod(end - start + 720.0, 360.0);
        if (sweep <= 1e-9) sweep = 360.0;
        if (r.State.ArcDirection == AD_CLOCKWISE) sweep -= 360.0;
        QPainterPath shape;
        if (r.Op == RecordOp::Pie) shape.moveTo(box.center());
        else shape.arcMoveTo(box, start);
        shape.arcTo(box, start, sweep);
        if (r.Op == RecordOp::Pie || r.Op == RecordOp::Chord) shape.closeSubpath();
        if (r.Op == RecordOp::ArcTo && path_.elementCount() > 0) path_.connectPath(shape);
        else path_.addPath(shape);
    }
    void ClearPath() {
        path_ = QPainterPath();
        path_texts_.clear();
        in_path_ = false;
        widened_ = false;
    }

    void DrawPath(const Record& r) {
        const bool stroke = r.Op != RecordOp::FillPath || widened_;
        const bool fill = r.Op != RecordOp::StrokePath && !widened_;
        const bool brushed = !r.State.Brush->IsNull();
        std::vector<std::vector<POINT>> polygons;
        for (const QPolygonF& poly : path_.toSubpathPolygons()) {
            std::vector<POINT> pts;
            for (const QPointF& p : poly)
                pts.push_back({int(std::clamp(std::lround(p.x()), -2147483647L, 2147483647L)),
                               int(std::clamp(std::lround(p.y()), -2147483647L, 2147483647L))});
            if (pts.size() >= 2) polygons.push_back(std::move(pts));
        }
        if (fill && !polygons.empty()) {
            Select(stroke ? detail::PenObject(r.State) : detail::NullPenObject());
            Select(detail::BrushObject(r.State));
            PolyPolygon(polygons);
        } else if (stroke) {
            for (const auto& pts : polygons) Polyline(pts);
        }
        // Letters of the path: drawn as text in the colour they were filled
        // (or outlined) with.
        for (const Record* text : path_texts_) {
            if (fill && brushed) Text(*text, detail::BrushObject(r.State).brush.lbColor, true);
            else if (stroke && !r.State.Pen->IsNull()) Text(*text, detail::PenObject(r.State).pen.elpColor, true);
        }
        ClearPath();
    }
    void PolyPolygon(const std::vector<std::vector<POINT>>& polygons) {
        std::vector<std::vector<POINT>> kept;
        for (const auto& p : polygons) kept.push_back(p.size() > kMaxPoints ? Thinned(p) : p);
        const std::size_t at = Begin(META_POLYPOLYGON);
        w_.I16(static_cast<std::int16_t>(std::min<std::size_t>(kept.size(), INT16_MAX)));
        for (const auto& p : kept) w_.I16(static_cast<std::int16_t>(p.size()));
        for (const auto& p : kept) Points(p);
        End(at);
    }

    // ---- Clips: the region in force, as box less what of it is outside.

    void Clip(const HRGN& region, int mode) {
        const HRGN whole = CreateRectRgn(0, 0, width_, height_);
        if (mode == RGN_COPY) {
            clip_ = region ? CreateRectRgn(0, 0, 0, 0) : nullptr;
            if (region) CombineRgn(clip_, region, nullptr, RGN_COPY);
        } else {
            HRGN next = CreateRectRgn(0, 0, 0, 0);
            if (mode == RGN_AND) CombineRgn(next, clip_ ? clip_ : region, clip_ ? region : nullptr,
                                            clip_ ? RGN_AND : RGN_COPY);
            else CombineRgn(next, clip_ ? clip_ : whole, region, mode);
            clip_ = next;
        }
        if (StateSaved()) {
            Params(META_RESTOREDC, {-1});
            RestoreState();
            PositionUnknown();
        }
        if (!clip_) return;
        SaveState();
        Params(META_SAVEDC, {});
        HRGN visible = CreateRectRgn(0, 0, 0, 0);
        CombineRgn(visible, clip_, whole, RGN_AND);
        RECT box{};
        GetRgnBox(visible, &box);
        Box(META_INTERSECTCLIPRECT, box.left, box.top, box.right, box.bottom);
        HRGN outside = CreateRectRgnIndirect(box);
        CombineRgn(outside, outside, visible, RGN_DIFF);
        for (const RECT& rc : GetRegionRects(outside))
            Box(META_EXCLUDECLIPRECT, rc.left, rc.top, rc.right, rc.bottom);
    }

    int width_, height_;
    std::vector<std::uint8_t> out_;
    ByteWriter w_;
    std::uint32_t max_record_ = 0;
    bool in_path_ = false;
    bool widened_ = false;
    QPainterPath path_;
    std::vector<const Record*> path_texts_;
    HRGN clip_;
};

}  // namespace

std::vector<std::uint8_t> WindowsMetafileBytes(std::span<const Record> records, int width,
                                               int height) {
    return WmfWriter(std::max(width, 0), std::max(height, 0)).Write(records);
}

}  // namespace gdi
