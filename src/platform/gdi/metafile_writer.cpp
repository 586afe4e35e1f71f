#include "platform/gdi/metafile_writer.h"

#include <QTransform>
#include <algorithm>
#include <cmath>
#include <numbers>

#include "platform/gdi/metafile.h"
#include "platform/gdi/qt_gdi.h"
#include "platform/gdi/raster.h"

namespace gdi::detail {

namespace {

// Objects of one kind a file keeps at most before it deletes the least
// recently used.
constexpr std::size_t kCachedPerKind = 12;

bool SamePen(const EXTLOGPEN& a, const EXTLOGPEN& b) {
    return a.elpPenStyle == b.elpPenStyle && a.elpWidth == b.elpWidth &&
           a.elpBrushStyle == b.elpBrushStyle && a.elpColor == b.elpColor &&
           a.elpHatch == b.elpHatch && a.elpStyleEntry == b.elpStyleEntry;
}

std::size_t KindIndex(FileObject::Kind k) { return static_cast<std::size_t>(k); }

QString TextOf(const Record& r) {
    return QString::fromUtf16(r.Text.data(), static_cast<qsizetype>(r.Text.size()));
}

}  // namespace

bool operator==(const FileObject& a, const FileObject& b) {
    if (a.kind != b.kind) return false;
    switch (a.kind) {
        case FileObject::Kind::Pen: return SamePen(a.pen, b.pen);
        case FileObject::Kind::Brush:
            return a.brush.lbStyle == b.brush.lbStyle && a.brush.lbColor == b.brush.lbColor &&
                   a.brush.lbHatch == b.brush.lbHatch && a.pattern == b.pattern;
        case FileObject::Kind::Font: return a.font == b.font;
    }
    return false;
}

FileObject PenObject(const RecordState& s) {
    FileObject o;
    o.kind = FileObject::Kind::Pen;
    o.pen = s.Pen->Log();
    if (s.Pen->IsDCPen()) o.pen.elpColor = s.DCPenColor;
    if (s.Pen->IsNull()) o.pen = NullPenObject().pen;
    return o;
}

FileObject NullPenObject() {
    FileObject o;
    o.kind = FileObject::Kind::Pen;
    o.pen.elpPenStyle = PS_NULL;
    o.pen.elpWidth = 1;
    o.pen.elpColor = 0;
    return o;
}

FileObject BrushObject(const HBRUSH& brush, COLORREF dcBrushColor) {
    FileObject o;
    o.kind = FileObject::Kind::Brush;
    o.brush = brush->Log();
    if (brush->IsDCBrush()) o.brush.lbColor = dcBrushColor;
    if (o.brush.lbStyle == BS_PATTERN) o.pattern = brush->Pattern();
    if (brush->IsNull()) o.brush = LOGBRUSH{BS_NULL, 0, 0};
    if (o.brush.lbStyle == BS_PATTERN && !o.pattern) o.brush.lbStyle = BS_SOLID;
    return o;
}

FileObject BrushObject(const RecordState& s) { return BrushObject(s.Brush, s.DCBrushColor); }

FileObject FontObject(const RecordState& s) {
    FileObject o;
    o.kind = FileObject::Kind::Font;
    o.font = s.Font->Log();
    return o;
}

unsigned NeedsOf(const Record& r) {
    switch (r.Op) {
        case RecordOp::LineTo: return kNeedPen | kNeedBackground | kNeedRop2 | kNeedPosition;
        case RecordOp::ArcTo:
            return kNeedPen | kNeedBackground | kNeedRop2 | kNeedArcDirection | kNeedPosition;
        case RecordOp::Polyline: return kNeedPen | kNeedBackground | kNeedRop2;
        case RecordOp::Arc: return kNeedPen | kNeedBackground | kNeedRop2 | kNeedArcDirection;
        case RecordOp::Polygon:
            return kNeedPen | kNeedBrush | kNeedBackground | kNeedRop2 | kNeedFillMode;
        case RecordOp::Rectangle:
        case RecordOp::RoundRect:
        case RecordOp::Ellipse: return kNeedPen | kNeedBrush | kNeedBackground | kNeedRop2;
        case RecordOp::Pie:
        case RecordOp::Chord:
            return kNeedPen | kNeedBrush | kNeedBackground | kNeedRop2 | kNeedArcDirection;
        case RecordOp::TextOut:
        case RecordOp::ExtTextOut:
            return kNeedFont | kNeedText | ((r.State.TextAlign & TA_UPDATECP) ? kNeedPosition : 0u);
        case RecordOp::StrokePath:
        case RecordOp::WidenPath: return kNeedPen | kNeedBackground | kNeedRop2;
        case RecordOp::FillPath: return kNeedBrush | kNeedBackground | kNeedRop2 | kNeedFillMode;
        case RecordOp::StrokeAndFillPath:
            return kNeedPen | kNeedBrush | kNeedBackground | kNeedRop2 | kNeedFillMode;
        case RecordOp::SelectClipPath: return kNeedFillMode;
        default: return 0;
    }
}

// ---- State of the file

MetafileWriter::MetafileWriter(std::uint32_t firstHandle) : first_handle_(firstHandle) {
    attrs_[std::size_t(Attr::TextColor)] = RGB(0, 0, 0);
    attrs_[std::size_t(Attr::BkColor)] = RGB(255, 255, 255);
    attrs_[std::size_t(Attr::BkMode)] = OPAQUE;
    attrs_[std::size_t(Attr::Rop2)] = R2_COPYPEN;
    attrs_[std::size_t(Attr::TextAlign)] = TA_LEFT | TA_TOP;
    attrs_[std::size_t(Attr::PolyFill)] = ALTERNATE;
    attrs_[std::size_t(Attr::ArcDirection)] = AD_COUNTERCLOCKWISE;
}

void MetafileWriter::Sync(const RecordState& s, unsigned needs) {
    if (needs & kNeedPen) Select(PenObject(s));
    if (needs & kNeedBrush) Select(BrushObject(s));
    if (needs & kNeedFont) Select(FontObject(s));
    if (needs & (kNeedText | kNeedBackground)) {
        SetAttr(Attr::BkColor, s.BkColor);
        SetAttr(Attr::BkMode, static_cast<std::uint32_t>(s.BkMode));
    }
    if (needs & kNeedText) {
        SetAttr(Attr::TextColor, s.TextColor);
        SetAttr(Attr::TextAlign, s.TextAlign);
    }
    if (needs & kNeedRop2) SetAttr(Attr::Rop2, static_cast<std::uint32_t>(s.Rop2));
    if (needs & kNeedFillMode) SetAttr(Attr::PolyFill, static_cast<std::uint32_t>(s.PolyFillMode));
    if (needs & kNeedArcDirection)
        SetAttr(Attr::ArcDirection, static_cast<std::uint32_t>(s.ArcDirection));
    if ((needs & kNeedPosition) && pos_ != s.Position) {
        EmitMoveTo(s.Position);
        pos_ = s.Position;
    }
}

void MetafileWriter::SetAttr(Attr a, std::uint32_t value) {
    auto& current = attrs_[std::size_t(a)];
    if (current == value) return;
    EmitAttr(a, value);
    current = value;
}

void MetafileWriter::SyncFill(const RecordState& s, int rop2) {
    Select(NullPenObject());
    Select(BrushObject(s));
    SetAttr(Attr::BkColor, s.BkColor);
    SetAttr(Attr::BkMode, static_cast<std::uint32_t>(s.BkMode));
    SetAttr(Attr::Rop2, static_cast<std::uint32_t>(rop2));
}

std::uint32_t MetafileWriter::AllocateHandle() {
    std::size_t i = first_handle_;
    while (i < in_use_.size() && in_use_[i]) ++i;
    if (i >= in_use_.size()) in_use_.resize(i + 1, false);
    in_use_[i] = true;
    handle_count_ = std::max(handle_count_, static_cast<std::uint32_t>(i + 1));
    return static_cast<std::uint32_t>(i);
}

void MetafileWriter::Evict(FileObject::Kind kind) {
    std::size_t count = 0;
    auto victim = cache_.end();
    for (auto it = cache_.begin(); it != cache_.end(); ++it) {
        if (it->object.kind != kind) continue;
        ++count;
        if (it->pinned || selected_[KindIndex(kind)] == it->handle) continue;
        if (victim == cache_.end() || it->used < victim->used) victim = it;
    }
    if (count < kCachedPerKind || victim == cache_.end()) return;
    EmitDelete(victim->handle);
    in_use_[victim->handle] = false;
    cache_.erase(victim);
}

void MetafileWriter::Select(const FileObject& object) {
    std::optional<std::uint32_t>& selected = selected_[KindIndex(object.kind)];
    std::optional<std::uint32_t> handle = StockHandle(object);
    if (!handle) {
        auto it = std::find_if(cache_.begin(), cache_.end(),
                               [&](const Cached& c) { return c.object == object; });
        if (it != cache_.end()) {
            it->used = ++clock_;
            handle = it->handle;
        } else {
            Evict(object.kind);
            handle = AllocateHandle();
            EmitCreate(*handle, object);
            cache_.push_back({object, *handle, ++clock_, false});
        }
    }
    if (selected == handle) return;
    EmitSelect(*handle);
    selected = handle;
}

void MetafileWriter::SaveState() {
    saved_ = Snapshot{selected_, attrs_};
    for (Cached& c : cache_)
        c.pinned = std::find(selected_.begin(), selected_.end(), c.handle) != selected_.end();
}

void MetafileWriter::RestoreState() {
    if (!saved_) return;
    selected_ = saved_->selected;
    attrs_ = saved_->attrs;
    saved_.reset();
    for (Cached& c : cache_) c.pinned = false;
}

// ---- Geometry

RECT UnionOf(const RECT& a, const RECT& b) {
    if (IsEmpty(a)) return b;
    if (IsEmpty(b)) return a;
    return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
            std::max(a.bottom, b.bottom)};
}

bool IsEmpty(const RECT& r) { return r.right <= r.left || r.bottom <= r.top; }

RECT BlitRect(int x, int y, int width, int height) {
    const int x0 = std::min(x, x + width), y0 = std::min(y, y + height);
    return {x0, y0, x0 + std::abs(width), y0 + std::abs(height)};
}

namespace {

// The box of points, right and bottom outside, grown by the pen.
RECT BoxOf(std::span<const POINT> points, int grow) {
    if (points.empty()) return {};
    long long l = points[0].x, t = points[0].y, r = l, b = t;
    for (const POINT& p : points) {
        l = std::min<long long>(l, p.x), r = std::max<long long>(r, p.x);
        t = std::min<long long>(t, p.y), b = std::max<long long>(b, p.y);
    }
    auto clamp = [](long long v) { return static_cast<int>(std::clamp<long long>(v, INT32_MIN, INT32_MAX)); };
    return {clamp(l - grow), clamp(t - grow), clamp(r + 1 + grow), clamp(b + 1 + grow)};
}

int PenGrowth(const RecordState& s) {
    if (s.Pen->IsNull() || !s.Pen->IsGeometric()) return 0;
    return s.Pen->Width() / 2;
}

std::vector<POINT> CornersOf(const Record& r) {
    const auto& a = r.Args;
    return {{a[0], a[1]}, {a[2], a[3]}};
}

}  // namespace

QPolygonF TextBox(const Record& r) {
    const Font::Realised& f = r.State.Font->Realise();
    const POINT at = TextOrigin(r);
    const QString s = TextOf(r);
    const double cx = f.Advance(s) + double(r.State.CharExtra) * double(s.size());
    const unsigned horizontal = r.State.TextAlign & TA_CENTER;
    const double dx = horizontal == TA_CENTER ? -std::trunc(cx / 2) : horizontal == TA_RIGHT ? -cx : 0.0;
    double baseline = f.ascent;
    if ((r.State.TextAlign & TA_BASELINE) == TA_BASELINE) baseline = 0;
    else if ((r.State.TextAlign & TA_BASELINE) == TA_BOTTOM) baseline = -f.descent;
    QTransform frame;
    frame.translate(at.x, at.y);
    frame.rotate(-f.escapement);
    return frame.map(QPolygonF(QRectF(dx, baseline - f.ascent, cx, double(f.ascent) + f.descent)));
}

std::vector<int> TextAdvances(const Record& r) {
    const Font::Realised& f = r.State.Font->Realise();
    std::vector<int> out;
    out.reserve(r.Text.size());
    const QString s = TextOf(r);
    // Each advance is the growth of the run's width, so the advances add up
    // to the width the run is drawn with.
    int before = 0;
    for (qsizetype i = 0; i < s.size(); ++i) {
        const int upTo = f.Advance(s.left(i + 1));
        out.push_back(upTo - before + r.State.CharExtra);
        before = upTo;
    }
    return out;
}

POINT TextOrigin(const Record& r) {
    if (r.State.TextAlign & TA_UPDATECP) return r.State.Position;
    return {r.Args[0], r.Args[1]};
}

POINT ArcPoint(const RECT& box, int x, int y) {
    const double cx = (double(box.left) + box.right) / 2, cy = (double(box.top) + box.bottom) / 2;
    const double rx = std::max((double(box.right) - box.left) / 2, 1e-9);
    const double ry = std::max((double(box.bottom) - box.top) / 2, 1e-9);
    const double t = std::atan2((y - cy) / ry, (x - cx) / rx);
    return {static_cast<int>(std::lround(cx + rx * std::cos(t))),
            static_cast<int>(std::lround(cy + ry * std::sin(t)))};
}

int Rop2OfRop3(DWORD rop) {
    const unsigned table = (rop >> 16) & 0xFFu;
    int code = 0;
    for (int p = 0; p < 2; ++p)
        for (int d = 0; d < 2; ++d)
            if (table & (1u << ((p << 2) | d))) code |= 1 << (2 * p + d);
    return code + 1;
}

RECT BoundsOf(const Record& r) {
    const auto& a = r.Args;
    const int grow = PenGrowth(r.State);
    switch (r.Op) {
        case RecordOp::LineTo: {
            const POINT pts[] = {r.State.Position, {a[0], a[1]}};
            return BoxOf(pts, grow);
        }
        case RecordOp::Polyline:
        case RecordOp::Polygon: return BoxOf(r.Points, grow);
        case RecordOp::Rectangle:
        case RecordOp::RoundRect:
        case RecordOp::Ellipse:
        case RecordOp::Arc:
        case RecordOp::Pie:
        case RecordOp::Chord: {
            RECT box = BoxOf(CornersOf(r), grow);
            box.right -= 1, box.bottom -= 1;  // the far corner is outside already
            return box;
        }
        case RecordOp::ArcTo: {
            std::vector<POINT> pts = CornersOf(r);
            pts.push_back(r.State.Position);
            return BoxOf(pts, grow);
        }
        case RecordOp::FillRect: return IsEmpty({a[0], a[1], a[2], a[3]}) ? RECT{} : RECT{a[0], a[1], a[2], a[3]};
        case RecordOp::SetPixel: return {a[0], a[1], a[0] + 1, a[1] + 1};
        case RecordOp::PatBlt:
        case RecordOp::BitBlt:
        case RecordOp::StretchBlt:
        case RecordOp::AlphaBlend: {
            const POINT pts[] = {{a[0], a[1]}, {a[0] + a[2], a[1] + a[3]}};
            RECT box = BoxOf(pts, 0);
            box.right -= 1, box.bottom -= 1;
            return box;
        }
        case RecordOp::TextOut:
        case RecordOp::ExtTextOut: {
            RECT box{};
            if (!r.Text.empty()) {
                const QRectF b = TextBox(r).boundingRect();
                box = {int(std::floor(b.left())), int(std::floor(b.top())), int(std::ceil(b.right())),
                       int(std::ceil(b.bottom()))};
            }
            if (r.Op == RecordOp::ExtTextOut && a.size() >= 7 && (a[2] & ETO_OPAQUE))
                box = UnionOf(box, RECT{a[3], a[4], a[5], a[6]});
            return box;
        }
        default: return {};
    }
}

}  // namespace gdi::detail

namespace gdi {

RECT RecordedBounds(std::span<const Record> records, int width, int height) {
    RECT all{};
    for (const Record& r : records) all = detail::UnionOf(all, detail::BoundsOf(r));
    all = {std::max(all.left, 0), std::max(all.top, 0), std::min(all.right, width),
           std::min(all.bottom, height)};
    return detail::IsEmpty(all) ? RECT{} : all;
}

}  // namespace gdi
