#include "platform/gdi/dc.h"

#include <QPainterPath>
#include <QPainterPathStroker>
#include <QTransform>
#include <algorithm>
#include <cmath>
#include <numbers>
#include <optional>

#include "platform/gdi/contour.h"
#include "platform/gdi/qt_gdi.h"
#include "platform/gdi/raster.h"
#include "platform/gdi/shapes.h"

namespace gdi {

using detail::PointD;
using detail::SpanPaint;
using detail::ThinPen;

namespace {

bool IsHatchPixel(int hatch, int x, int y) {
    switch (hatch) {
        case HS_HORIZONTAL: return y == 0;
        case HS_VERTICAL: return x == 0;
        case HS_FDIAGONAL: return x == y;
        case HS_BDIAGONAL: return x + y == 7;
        case HS_CROSS: return x == 0 || y == 0;
        case HS_DIAGCROSS: return x == y || x + y == 7;
        default: return false;
    }
}

// The 8 x 8 tile of a hatch: lines in the brush colour, the rest in the
// background colour (opaque background) or left alone.
QImage HatchTile(int hatch, COLORREF color, COLORREF back, bool opaque) {
    QImage tile(8, 8, QImage::Format_ARGB32);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            tile.setPixel(x, y, IsHatchPixel(hatch, x, y) ? ToQRgb(color)
                                : opaque                   ? ToQRgb(back)
                                                           : 0u);
    return tile;
}

int KindOf(const QRegion& r) {
    if (r.isEmpty()) return NULLREGION;
    return r.rectCount() == 1 ? SIMPLEREGION : COMPLEXREGION;
}

QRect ToQRect(const RECT& r) { return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top); }

void Order(int& a, int& b) {
    if (a > b) std::swap(a, b);
}

double Degrees(double radians) { return radians * 180.0 / std::numbers::pi; }

// Dash runs in pixels of a pen's style for the line walker.
std::vector<int> WalkerDashes(const Pen& pen) {
    const DWORD style = pen.Style();
    if (style == PS_USERSTYLE) {
        std::vector<int> runs;
        const bool capped = pen.IsGeometric() && pen.EndCap() != PS_ENDCAP_FLAT;
        const auto& entries = pen.Log().elpStyleEntry;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            int run = static_cast<int>(std::min<DWORD>(entries[i], 1u << 24));
            // Round and square ends reach half a pixel past each end of a dash.
            if (capped) run += (i % 2 == 0) ? 1 : -1;
            runs.push_back(std::max(run, 0));
        }
        if (runs.size() % 2 == 1) runs.push_back(0);
        return runs;
    }
    if (pen.IsGeometric()) {
        switch (style) {
            case PS_DASH: return {3, 1};
            case PS_DOT: return {1, 1};
            case PS_DASHDOT: return {3, 1, 1, 1};
            case PS_DASHDOTDOT: return {3, 1, 1, 1, 1, 1};
            default: return {};
        }
    }
    switch (style) {
        case PS_DASH: return {18, 6};
        case PS_DOT: return {3, 3};
        case PS_DASHDOT: return {9, 6, 3, 6};
        case PS_DASHDOTDOT: return {9, 3, 3, 3, 3, 3};
        case PS_ALTERNATE: return {1, 1};
        default: return {};
    }
}

// A path point for integer coordinates drawn through pixel centres.
QPointF Centre(int x, int y) { return QPointF(x + 0.5, y + 0.5); }

}  // namespace

const char* RecordOpName(RecordOp op) {
    static constexpr const char* kNames[] = {
        "SelectPen",     "SelectBrush",     "SelectFont",  "SetBkColor",       "SetBkMode",
        "SetTextColor",  "SetTextAlign",    "SetROP2",     "SetTextCharacterExtra",
        "SetPolyFillMode", "SetArcDirection", "SetDCPenColor", "SetDCBrushColor", "MoveTo",
        "LineTo",        "Polyline",        "Polygon",     "Rectangle",        "RoundRect",
        "Ellipse",       "Arc",             "ArcTo",       "Pie",              "Chord",
        "FillRect",      "SetPixel",        "PatBlt",      "BitBlt",           "StretchBlt",
        "AlphaBlend",    "TextOut",         "ExtTextOut",  "BeginPath",        "EndPath",
        "AbortPath",     "StrokePath",      "FillPath",    "StrokeAndFillPath", "WidenPath",
        "SelectClipPath", "ExtSelectClipRgn",
    };
    static_assert(std::size(kNames) == static_cast<std::size_t>(RecordOp::ExtSelectClipRgn) + 1);
    return kNames[static_cast<std::size_t>(op)];
}

struct DC::Impl {
    enum class Kind { Memory, Window, Recording };
    enum class PathState { None, Open, Closed };

    Kind kind = Kind::Memory;
    HPEN pen = GetStockPen(BLACK_PEN);
    HBRUSH brush = GetStockBrush(WHITE_BRUSH);
    HFONT font = GetStockFont(SYSTEM_FONT);
    HBITMAP bitmap;
    COLORREF bk = RGB(255, 255, 255);
    COLORREF text = 0;
    COLORREF dc_pen = 0;
    COLORREF dc_brush = RGB(255, 255, 255);
    int bk_mode = OPAQUE;
    int rop2 = R2_COPYPEN;
    int extra = 0;
    int poly_fill = ALTERNATE;
    int arc_dir = AD_COUNTERCLOCKWISE;
    unsigned align = 0;
    POINT pos;

    bool has_clip = false;
    QRegion clip;

    PathState path_state = PathState::None;
    QPainterPath path;

    std::unique_ptr<detail::Raster> raster;
    int width = 0;  // window and recording surfaces
    int height = 0;
    std::vector<Record> records;

    // ---- Surface

    detail::Raster* R() {
        if (raster) raster->Refresh();
        return raster.get();
    }
    int Width() const { return kind == Kind::Memory ? (bitmap ? bitmap->Width() : 0) : width; }
    int Height() const { return kind == Kind::Memory ? (bitmap ? bitmap->Height() : 0) : height; }
    QRect Surface() const { return QRect(0, 0, Width(), Height()); }
    bool InPath() const { return path_state == PathState::Open; }
    void ClearPath() {
        path = QPainterPath();
        path_state = PathState::None;
    }

    // ---- Recording

    RecordState Snapshot() const {
        return {pen, brush, font, text, bk, dc_pen, dc_brush, bk_mode, rop2, align, extra,
                poly_fill, arc_dir, pos};
    }
    // Stores a new attribute value, logs the call and returns the old value.
    template <class T>
    T Change(T& field, T value, RecordOp op) {
        const T old = std::exchange(field, value);
        thin_pen.reset();
        Log(op, {static_cast<int>(value)});
        return old;
    }
    // Only a recording context builds the record (drawing calls pass their
    // arguments on every call).
    Record* Log(RecordOp op, std::initializer_list<int> args = {}) {
        if (kind != Kind::Recording) return nullptr;
        return Log(op, std::vector<int>(args));
    }
    Record* Log(RecordOp op, std::vector<int> args) {
        if (kind != Kind::Recording) return nullptr;
        records.push_back(Record{op, std::move(args), {}, {}, nullptr, nullptr, Snapshot()});
        return &records.back();
    }

    // ---- Resolved pens and brushes

    COLORREF PenColor() const { return pen->IsDCPen() ? dc_pen : pen->Log().elpColor; }
    COLORREF BrushColor() const { return brush->IsDCBrush() ? dc_brush : brush->Log().lbColor; }
    bool PenThin() const { return !pen->IsGeometric() || pen->Width() <= 1; }

    // The pen for the line walker, made again only after the pen, the
    // background or the mode changed.
    const ThinPen& MakeThinPen() {
        if (!thin_pen) {
            thin_pen.emplace();
            thin_pen->color = ToQRgb(PenColor());
            thin_pen->gap_color = ToQRgb(bk);
            thin_pen->opaque_gaps = bk_mode == OPAQUE;
            thin_pen->dashes = WalkerDashes(*pen);
            thin_pen->rop2 = rop2;
        }
        return *thin_pen;
    }
    std::optional<ThinPen> thin_pen;

    QPen MakeQPen(COLORREF color) const {
        const Pen& p = *pen;
        QPen q;
        const bool wide = p.IsGeometric() && p.Width() > 1;
        q.setWidth(wide ? p.Width() : 0);
        if (p.Log().elpBrushStyle == BS_HATCHED)
            q.setBrush(QBrush(HatchTile(p.Log().elpHatch, color, bk, bk_mode == OPAQUE)));
        else
            q.setColor(QColor::fromRgb(ToQRgb(color)));
        if (wide) {
            const DWORD cap = p.EndCap(), join = p.Join();
            q.setCapStyle(cap == PS_ENDCAP_FLAT     ? Qt::FlatCap
                          : cap == PS_ENDCAP_SQUARE ? Qt::SquareCap
                                                    : Qt::RoundCap);
            q.setJoinStyle(join == PS_JOIN_MITER   ? Qt::MiterJoin
                           : join == PS_JOIN_BEVEL ? Qt::BevelJoin
                                                   : Qt::RoundJoin);
        } else {
            q.setCapStyle(Qt::FlatCap);
        }
        std::vector<int> dashes = WalkerDashes(p);
        if (!dashes.empty()) {
            QList<qreal> pattern;
            const double unit = wide && p.Style() == PS_USERSTYLE ? p.Width() : 1.0;
            for (int d : dashes) pattern << std::max(d / unit, 0.0001);
            q.setDashPattern(pattern);
        }
        return q;
    }
    bool Styled() const { return !WalkerDashes(*pen).empty(); }

    // The brush as spans paint; false for a null brush.
    bool BrushPaint(SpanPaint& paint, QImage& tile, int mode) const {
        if (brush->IsNull()) return false;
        paint.rop2 = mode;
        const LOGBRUSH& lb = brush->Log();
        if (lb.lbStyle == BS_HATCHED) {
            tile = HatchTile(lb.lbHatch, BrushColor(), bk, bk_mode == OPAQUE);
            paint.tile = &tile;
        } else if (lb.lbStyle == BS_PATTERN && brush->Pattern()) {
            tile = brush->Pattern()->impl().image.convertToFormat(QImage::Format_RGB32)
                       .convertToFormat(QImage::Format_ARGB32);
            paint.tile = &tile;
        } else {
            paint.color = ToQRgb(BrushColor());
        }
        return true;
    }

    // ---- Drawing helpers

    // Fills with the brush through a scan of the shape, then outlines the
    // path with the pen (thin straight outlines go through the walker).
    template <class Scan>
    void FillWith(Scan&& scan) {
        detail::Raster* r = R();
        if (!r || !r->CanDraw()) return;
        SpanPaint paint;
        QImage tile;
        if (!BrushPaint(paint, tile, rop2)) return;
        const QRect& b = r->Clip().Box();
        if (b.isEmpty()) return;
        const detail::Window w{b.left(), b.top(), b.right() + 1, b.bottom() + 1};
        scan(w, [&](int y, int x0, int x1) { r->FillSpan(y, x0, x1, paint); });
    }
    void StrokeOutline(const QPainterPath& outline) {
        detail::Raster* r = R();
        if (!r || pen->IsNull()) return;
        const COLORREF c = PenColor();
        const QPen q = MakeQPen(c);
        if (Styled() && bk_mode == OPAQUE) {
            QPen gap = q;
            gap.setStyle(Qt::SolidLine);
            gap.setColor(QColor::fromRgb(ToQRgb(bk)));
            r->Stroke(outline, q, rop2, &gap);
        } else {
            r->Stroke(outline, q, rop2, nullptr);
        }
    }
    void ThinLines(std::span<const POINT> points, bool closed) {
        if (detail::Raster* r = R(); r && !pen->IsNull()) r->ThinPolyline(points, closed, MakeThinPen());
    }
    // Half the pen width inside the frame for PS_INSIDEFRAME.
    int FrameInset() const {
        return pen->Style() == PS_INSIDEFRAME && !PenThin() ? pen->Width() / 2 : 0;
    }

    // A curved shape of shapes.h with a one-pixel pen or none. With the pen
    // its pixels are its outline and its inside, so that the brush never
    // shows beyond the outline nor leaves background between the two;
    // without one the brush fills the same pixels less the right and bottom
    // edges, as a rectangle without an outline is one pixel smaller.
    template <class Shape>
    void ThinShape(const Shape& shape) {
        detail::Raster* r = R();
        if (!r || !r->CanDraw()) return;
        const QRect& b = r->Clip().Box();
        if (b.isEmpty()) return;
        const detail::Window w{b.left(), b.top(), b.right() + 1, b.bottom() + 1};
        SpanPaint fill;
        QImage tile;
        const bool brushed = BrushPaint(fill, tile, rop2);
        auto inside = [&](int y, int x0, int x1) {
            if (brushed) r->FillSpan(y, x0, x1, fill);
        };
        if (pen->IsNull()) {
            if (brushed) detail::ScanWithoutRightAndBottom(shape, w, inside);
            return;
        }
        const ThinPen& line = MakeThinPen();
        if (line.dashes.empty()) {
            const SpanPaint solid{line.color, nullptr, line.rop2};
            detail::ScanOutlined(shape, w, inside,
                                 [&](int y, int x0, int x1) { r->FillSpan(y, x0, x1, solid); });
            return;
        }
        detail::ScanOutlined(shape, w, inside, [](int, int, int) {});
        // Dashes run along the outline from its top-left pixel; they are
        // counted over the surface and a wide margin round it, whatever the
        // clip, so that drawing in parts gives the same dashes.
        constexpr int kMargin = 2048;
        const detail::Window bounds{-kMargin, -kMargin, r->Width() + kMargin, r->Height() + kMargin};
        const detail::DashState dashes(line.dashes);
        const SpanPaint on{line.color, nullptr, line.rop2}, gap{line.gap_color, nullptr, line.rop2};
        detail::WalkOutline(shape, bounds, [&](int x, int y, long long step) {
            const bool dash = dashes.On(step);
            if (dash || line.opaque_gaps) r->FillSpan(y, x, x + 1, dash ? on : gap);
        });
    }

    // Angles of an arc's start and end (degrees, counter-clockwise) on the
    // ellipse of the box, and the sweep in the arc direction.
    void ArcAngles(const QRectF& box, int xs, int ys, int xe, int ye, double& start,
                   double& sweep) const {
        const QPointF c = box.center();
        const double rx = std::max(box.width() / 2, 1e-9), ry = std::max(box.height() / 2, 1e-9);
        auto angle = [&](double x, double y) { return Degrees(std::atan2(-(y - c.y()) / ry, (x - c.x()) / rx)); };
        start = angle(xs + 0.5, ys + 0.5);
        const double end = angle(xe + 0.5, ye + 0.5);
        double ccw = std::fmod(end - start + 720.0, 360.0);
        if (ccw <= 1e-9) ccw = 360.0;
        sweep = arc_dir == AD_CLOCKWISE ? -(360.0 - (ccw == 360.0 ? 0.0 : ccw)) : ccw;
        if (sweep == 0) sweep = -360.0;
    }

    QRectF OutlineBox(int l, int t, int r, int b) const {
        const int in = FrameInset();
        return QRectF(l + 0.5 + in, t + 0.5 + in, r - l - 1 - 2 * in, b - t - 1 - 2 * in);
    }

    // Fills a path with the brush in the ROP2 mode (by the polygon fill
    // mode unless a rule is given).
    void FillShape(QPainterPath shape, std::optional<Qt::FillRule> rule = std::nullopt) {
        detail::Raster* r = R();
        SpanPaint paint;
        QImage tile;
        if (!r || !BrushPaint(paint, tile, rop2)) return;
        shape.setFillRule(rule ? *rule : poly_fill == WINDING ? Qt::WindingFill : Qt::OddEvenFill);
        r->FillPath(shape, paint);
    }

    bool ArcShape(RecordOp op, int l, int t, int r, int b, int xs, int ys, int xe, int ye);

    // ---- Text

    QFont SpacedFont() const {
        QFont f = font->Realise().font;
        if (extra != 0) f.setLetterSpacing(QFont::AbsoluteSpacing, extra);
        return f;
    }
    SIZE Extent(const QString& s) const {
        const Font::Realised& f = font->Realise();
        return {f.Advance(s) + extra * static_cast<int>(s.size()), f.ascent + f.descent};
    }
    bool Text(int x, int y, const QString& s, unsigned options, const RECT* rect);

    // ---- Clip

    int SetClip(const QRegion* rgn, int mode) {
        const QRegion whole(Surface());
        if (mode == RGN_COPY) {
            has_clip = rgn != nullptr;
            clip = rgn ? *rgn : QRegion();
        } else {
            if (!rgn) return RGN_ERROR;
            const QRegion base = has_clip ? clip : whole;
            switch (mode) {
                case RGN_AND: clip = has_clip ? clip.intersected(*rgn) : *rgn; break;
                case RGN_OR: clip = base.united(*rgn); break;
                case RGN_XOR: clip = base.xored(*rgn); break;
                case RGN_DIFF: clip = base.subtracted(*rgn); break;
                default: return RGN_ERROR;
            }
            has_clip = true;
        }
        if (raster) raster->SetClip(has_clip ? &clip : nullptr);
        return KindOf(has_clip ? clip.intersected(whole) : whole);
    }
};

DC::DC(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
DC::~DC() = default;

std::unique_ptr<DC> DC::CreateCompatibleDC() {
    auto impl = std::make_unique<Impl>();
    impl->kind = Impl::Kind::Memory;
    impl->bitmap = CreateBitmap(1, 1);
    impl->raster = std::make_unique<detail::Raster>(&impl->bitmap->impl());
    return std::make_unique<DC>(std::move(impl));
}

std::unique_ptr<DC> DC::CreateRecordingDC(int width, int height) {
    if (width > kMaxSurfaceSide || height > kMaxSurfaceSide)
        throw EGdiError("Recording surface of " + std::to_string(width) + " x " +
                        std::to_string(height) + " pixels is too large (at most " +
                        std::to_string(kMaxSurfaceSide) + " pixels per side)");
    auto impl = std::make_unique<Impl>();
    impl->kind = Impl::Kind::Recording;
    impl->width = std::max(width, 0);
    impl->height = std::max(height, 0);
    return std::make_unique<DC>(std::move(impl));
}

std::unique_ptr<DC> CreatePainterDC(QPainter* painter, int width, int height) {
    auto impl = std::make_unique<DC::Impl>();
    impl->kind = DC::Impl::Kind::Window;
    impl->width = std::max(width, 0);
    impl->height = std::max(height, 0);
    impl->raster = std::make_unique<detail::Raster>(painter, impl->width, impl->height);
    return std::make_unique<DC>(std::move(impl));
}

bool DC::IsRecording() const { return impl_->kind == Impl::Kind::Recording; }
const std::vector<Record>& DC::Records() const { return impl_->records; }
std::vector<Record> DC::TakeRecords() { return std::exchange(impl_->records, {}); }
void DC::ClearRecords() { impl_->records.clear(); }
int DC::Width() const { return impl_->Width(); }
int DC::Height() const { return impl_->Height(); }

// ---- Objects

HPEN DC::SelectObject(const HPEN& pen) {
    if (!pen) return nullptr;
    impl_->thin_pen.reset();
    HPEN old = std::exchange(impl_->pen, pen);
    impl_->Log(RecordOp::SelectPen);
    return old;
}
HBRUSH DC::SelectObject(const HBRUSH& brush) {
    if (!brush) return nullptr;
    HBRUSH old = std::exchange(impl_->brush, brush);
    impl_->Log(RecordOp::SelectBrush);
    return old;
}
HFONT DC::SelectObject(const HFONT& font) {
    if (!font) return nullptr;
    HFONT old = std::exchange(impl_->font, font);
    impl_->Log(RecordOp::SelectFont);
    return old;
}
HBITMAP DC::SelectObject(const HBITMAP& bitmap) {
    if (!bitmap || impl_->kind != Impl::Kind::Memory) return nullptr;
    HBITMAP old = impl_->bitmap;
    impl_->raster.reset();
    impl_->bitmap = bitmap;
    impl_->raster = std::make_unique<detail::Raster>(&bitmap->impl());
    impl_->raster->SetClip(impl_->has_clip ? &impl_->clip : nullptr);
    return old;
}
int DC::SelectObject(const HRGN& region) { return SelectClipRgn(region); }
HPEN DC::CurrentPen() const { return impl_->pen; }
HBRUSH DC::CurrentBrush() const { return impl_->brush; }
HFONT DC::CurrentFont() const { return impl_->font; }
HBITMAP DC::CurrentBitmap() const { return impl_->bitmap; }

COLORREF DC::SetDCPenColor(COLORREF color) {
    return impl_->Change(impl_->dc_pen, color & 0xFFFFFFu, RecordOp::SetDCPenColor);
}
COLORREF DC::GetDCPenColor() const { return impl_->dc_pen; }
COLORREF DC::SetDCBrushColor(COLORREF color) {
    return impl_->Change(impl_->dc_brush, color & 0xFFFFFFu, RecordOp::SetDCBrushColor);
}
COLORREF DC::GetDCBrushColor() const { return impl_->dc_brush; }

// ---- Attributes

COLORREF DC::SetBkColor(COLORREF color) {
    return impl_->Change(impl_->bk, color & 0xFFFFFFu, RecordOp::SetBkColor);
}
COLORREF DC::GetBkColor() const { return impl_->bk; }
int DC::SetBkMode(int mode) {
    if (mode != TRANSPARENT && mode != OPAQUE) return 0;
    return impl_->Change(impl_->bk_mode, mode, RecordOp::SetBkMode);
}
int DC::GetBkMode() const { return impl_->bk_mode; }
COLORREF DC::SetTextColor(COLORREF color) {
    return impl_->Change(impl_->text, color & 0xFFFFFFu, RecordOp::SetTextColor);
}
COLORREF DC::GetTextColor() const { return impl_->text; }
unsigned DC::SetTextAlign(unsigned align) {
    return impl_->Change(impl_->align, align & (TA_UPDATECP | TA_CENTER | TA_BASELINE),
                         RecordOp::SetTextAlign);
}
unsigned DC::GetTextAlign() const { return impl_->align; }
int DC::SetROP2(int rop2) {
    if (rop2 < R2_BLACK || rop2 > R2_WHITE) return 0;
    return impl_->Change(impl_->rop2, rop2, RecordOp::SetROP2);
}
int DC::GetROP2() const { return impl_->rop2; }
int DC::SetTextCharacterExtra(int extra) {
    return impl_->Change(impl_->extra, extra, RecordOp::SetTextCharacterExtra);
}
int DC::GetTextCharacterExtra() const { return impl_->extra; }
int DC::SetPolyFillMode(int mode) {
    if (mode != ALTERNATE && mode != WINDING) return 0;
    return impl_->Change(impl_->poly_fill, mode, RecordOp::SetPolyFillMode);
}
int DC::GetPolyFillMode() const { return impl_->poly_fill; }
int DC::SetArcDirection(int direction) {
    if (direction != AD_COUNTERCLOCKWISE && direction != AD_CLOCKWISE) return 0;
    return impl_->Change(impl_->arc_dir, direction, RecordOp::SetArcDirection);
}
int DC::GetArcDirection() const { return impl_->arc_dir; }
bool DC::LPtoDP(std::span<POINT>) const { return true; }

// ---- Lines and shapes

bool DC::MoveToEx(int x, int y, POINT* old) {
    impl_->Log(RecordOp::MoveTo, {x, y});
    if (old) *old = impl_->pos;
    impl_->pos = {x, y};
    if (impl_->InPath()) impl_->path.moveTo(x, y);
    return true;
}

POINT DC::GetCurrentPositionEx() const { return impl_->pos; }

bool DC::LineTo(int x, int y) {
    Impl& d = *impl_;
    d.Log(RecordOp::LineTo, {x, y});
    const POINT from = d.pos;
    d.pos = {x, y};
    if (d.InPath()) {
        if (d.path.elementCount() == 0) d.path.moveTo(from.x, from.y);
        d.path.lineTo(x, y);
        return true;
    }
    if (d.PenThin()) {
        const POINT pts[2] = {from, {x, y}};
        d.ThinLines(pts, false);
    } else {
        QPainterPath p(Centre(from.x, from.y));
        // A line to the point it starts from is a dot of the pen's ends.
        p.lineTo(Centre(x, y) + QPointF(from.x == x && from.y == y ? 0.001 : 0.0, 0.0));
        d.StrokeOutline(p);
    }
    return true;
}

bool DC::Polyline(std::span<const POINT> points) {
    Impl& d = *impl_;
    if (Record* rec = d.Log(RecordOp::Polyline)) rec->Points.assign(points.begin(), points.end());
    if (points.size() < 2) return points.empty() ? false : true;
    if (d.InPath()) {
        d.path.moveTo(points[0].x, points[0].y);
        for (std::size_t i = 1; i < points.size(); ++i) d.path.lineTo(points[i].x, points[i].y);
        return true;
    }
    if (d.PenThin()) {
        d.ThinLines(points, false);
        return true;
    }
    // A path of many crossing segments costs the toolkit's rasteriser far
    // more than its parts: where drawing a pixel twice changes nothing, a
    // solid pen draws the line in pieces that share a segment, so that every
    // join is still drawn.
    constexpr std::size_t kPiece = 64;
    const bool inPieces = detail::Rop2Idempotent(d.rop2) && !d.Styled();
    const std::size_t last = points.size() - 1;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = inPieces ? std::min(last, start + kPiece) : last;
        QPainterPath p(Centre(points[start].x, points[start].y));
        for (std::size_t i = start + 1; i <= end; ++i) p.lineTo(Centre(points[i].x, points[i].y));
        d.StrokeOutline(p);
        if (end == last) break;
        start = end - 1;
    }
    return true;
}

bool DC::Polygon(std::span<const POINT> points) {
    Impl& d = *impl_;
    if (Record* rec = d.Log(RecordOp::Polygon)) rec->Points.assign(points.begin(), points.end());
    if (points.size() < 2) return false;
    if (d.InPath()) {
        d.path.moveTo(points[0].x, points[0].y);
        for (std::size_t i = 1; i < points.size(); ++i) d.path.lineTo(points[i].x, points[i].y);
        d.path.closeSubpath();
        return true;
    }
    // The outline passes through the pixels the points name: the fill is
    // the inside of the polygon through those pixels' centres.
    const std::vector<PointD> contours[] = {detail::PixelCentres(points)};
    d.FillWith([&](const detail::Window& w, auto&& add) {
        detail::ScanPolygon(contours, d.poly_fill == WINDING, w, add);
    });
    if (d.PenThin()) {
        d.ThinLines(points, true);
    } else {
        QPainterPath p(Centre(points[0].x, points[0].y));
        for (std::size_t i = 1; i < points.size(); ++i) p.lineTo(Centre(points[i].x, points[i].y));
        p.closeSubpath();
        d.StrokeOutline(p);
    }
    return true;
}

bool DC::Rectangle(int left, int top, int right, int bottom) {
    Impl& d = *impl_;
    d.Log(RecordOp::Rectangle, {left, top, right, bottom});
    Order(left, right);
    Order(top, bottom);
    if (d.InPath()) {
        d.path.addRect(left, top, double(right) - left, double(bottom) - top);
        return true;
    }
    if (right == left || bottom == top) return true;
    detail::Raster* r = d.R();
    if (!r) return true;
    auto fill = [&](long long l, long long t, long long rr, long long b) {
        d.FillWith([&](const detail::Window& w, auto&& add) {
            const long long y0 = std::max<long long>(t, w.y0), y1 = std::min<long long>(b, w.y1);
            const long long x0 = std::max<long long>(l, w.x0), x1 = std::min<long long>(rr, w.x1);
            if (x0 < x1)
                for (long long y = y0; y < y1; ++y) add(int(y), int(x0), int(x1));
        });
    };
    if (d.pen->IsNull()) {
        // Without an outline the rectangle is one pixel smaller.
        fill(left, top, (long long)right - 1, (long long)bottom - 1);
        return true;
    }
    const int in = d.FrameInset();
    const long long l = (long long)left + in, t = (long long)top + in;
    const long long rr = (long long)right - in, b = (long long)bottom - in;
    if (d.PenThin()) {
        fill(l + 1, t + 1, rr - 1, b - 1);
        const POINT outline[4] = {{int(l), int(t)}, {int(rr - 1), int(t)}, {int(rr - 1), int(b - 1)},
                                  {int(l), int(b - 1)}};
        d.ThinLines(outline, true);
        return true;
    }
    const int half = d.pen->Width() / 2;
    fill(l + 1 + half, t + 1 + half, rr - 1 - half, b - 1 - half);
    QPainterPath p;
    p.addRect(QRectF(l + 0.5, t + 0.5, double(rr - l - 1), double(b - t - 1)));
    d.StrokeOutline(p);
    return true;
}

bool DC::RoundRect(int left, int top, int right, int bottom, int width, int height) {
    Impl& d = *impl_;
    d.Log(RecordOp::RoundRect, {left, top, right, bottom, width, height});
    Order(left, right);
    Order(top, bottom);
    const double rx = std::abs(width) / 2.0, ry = std::abs(height) / 2.0;
    if (d.InPath()) {
        d.path.addRoundedRect(QRectF(left, top, double(right) - left, double(bottom) - top), rx, ry);
        return true;
    }
    if (d.pen->IsNull() || d.PenThin()) {
        d.ThinShape(detail::RoundRectRows(left, top, right, bottom, width, height));
        return true;
    }
    // A wide pen: the brush inside the stroke's middle line, less half the width.
    const QRectF box = d.OutlineBox(left, top, right, bottom);
    const double half = d.pen->Width() / 2.0;
    d.FillWith([&](const detail::Window& w, auto&& add) {
        detail::ScanRows(detail::RoundRectRows(box.left() + half, box.top() + half, box.right() - half,
                                               box.bottom() - half, std::max(0.0, 2 * rx - 2 * half),
                                               std::max(0.0, 2 * ry - 2 * half)),
                         w, add);
    });
    QPainterPath p;
    p.addRoundedRect(box, std::min(rx, box.width() / 2), std::min(ry, box.height() / 2));
    d.StrokeOutline(p);
    return true;
}

bool DC::Ellipse(int left, int top, int right, int bottom) {
    Impl& d = *impl_;
    d.Log(RecordOp::Ellipse, {left, top, right, bottom});
    Order(left, right);
    Order(top, bottom);
    if (d.InPath()) {
        d.path.addEllipse(QRectF(left, top, double(right) - left, double(bottom) - top));
        return true;
    }
    if (d.pen->IsNull() || d.PenThin()) {
        d.ThinShape(detail::EllipseRows(left, top, right, bottom));
        return true;
    }
    // A wide pen: the brush inside the stroke's middle line, less half the width.
    const QRectF box = d.OutlineBox(left, top, right, bottom);
    const double half = d.pen->Width() / 2.0;
    d.FillWith([&](const detail::Window& w, auto&& add) {
        detail::ScanRows(detail::EllipseRows(box.left() + half, box.top() + half, box.right() - half,
                                             box.bottom() - half),
                         w, add);
    });
    QPainterPath p;
    p.addEllipse(box);
    d.StrokeOutline(p);
    return true;
}

bool DC::Impl::ArcShape(RecordOp op, int l, int t, int r, int b, int xs, int ys, int xe, int ye) {
    Log(op, {l, t, r, b, xs, ys, xe, ye});
    Order(l, r);
    Order(t, b);
    if ((op == RecordOp::Pie || op == RecordOp::Chord) && !InPath() && (pen->IsNull() || PenThin())) {
        detail::ArcCut cut(op == RecordOp::Pie ? detail::ArcCut::Kind::Pie : detail::ArcCut::Kind::Chord,
                           l, t, r, b, xs, ys, xe, ye, arc_dir == AD_CLOCKWISE);
        cut.SetChordEllipse(l, t, r, b);
        ThinShape(detail::ArcRows(detail::EllipseRows(l, t, r, b), cut));
        return true;
    }
    const QRectF box = InPath() ? QRectF(l, t, double(r) - l, double(b) - t) : OutlineBox(l, t, r, b);
    double start, sweep;
    ArcAngles(box, xs, ys, xe, ye, start, sweep);
    QPainterPath shape;
    if (op == RecordOp::Pie) shape.moveTo(box.center());
    else shape.arcMoveTo(box, start);
    if (op == RecordOp::ArcTo) {
        QPointF arcStart = shape.currentPosition();
        shape = QPainterPath(InPath() ? QPointF(pos.x, pos.y) : Centre(pos.x, pos.y));
        shape.lineTo(arcStart);
    }
    shape.arcTo(box, start, sweep);
    if (op == RecordOp::Pie || op == RecordOp::Chord) shape.closeSubpath();
    if (op == RecordOp::ArcTo) {
        const QPointF end = shape.currentPosition();
        pos = InPath() ? POINT{int(std::lround(end.x())), int(std::lround(end.y()))}
                       : POINT{int(std::floor(end.x())), int(std::floor(end.y()))};
    }
    if (InPath()) {
        if (op == RecordOp::ArcTo && path.elementCount() > 0) {
            path.connectPath(shape);
        } else {
            path.addPath(shape);
        }
        return true;
    }
    if (op == RecordOp::Pie || op == RecordOp::Chord) FillShape(shape, Qt::WindingFill);
    StrokeOutline(shape);
    return true;
}

bool DC::Arc(int l, int t, int r, int b, int xs, int ys, int xe, int ye) {
    return impl_->ArcShape(RecordOp::Arc, l, t, r, b, xs, ys, xe, ye);
}
bool DC::ArcTo(int l, int t, int r, int b, int xs, int ys, int xe, int ye) {
    return impl_->ArcShape(RecordOp::ArcTo, l, t, r, b, xs, ys, xe, ye);
}
bool DC::Pie(int l, int t, int r, int b, int xs, int ys, int xe, int ye) {
    return impl_->ArcShape(RecordOp::Pie, l, t, r, b, xs, ys, xe, ye);
}
bool DC::Chord(int l, int t, int r, int b, int xs, int ys, int xe, int ye) {
    return impl_->ArcShape(RecordOp::Chord, l, t, r, b, xs, ys, xe, ye);
}

bool DC::FillRect(const RECT& rect, const HBRUSH& brush) {
    Impl& d = *impl_;
    if (!brush) return false;
    // The record holds the brush it fills with as its state's brush.
    if (Record* rec = d.Log(RecordOp::FillRect, {rect.left, rect.top, rect.right, rect.bottom}))
        rec->State.Brush = brush;
    detail::Raster* r = d.R();
    if (!r || rect.right <= rect.left || rect.bottom <= rect.top) return true;
    HBRUSH selected = std::exchange(d.brush, brush);
    SpanPaint paint;
    QImage tile;
    if (d.BrushPaint(paint, tile, R2_COPYPEN)) {
        const long long l = std::max<long long>(rect.left, -1), t = std::max<long long>(rect.top, -1);
        const long long rr = std::min<long long>(rect.right, d.Width() + 1LL);
        const long long b = std::min<long long>(rect.bottom, d.Height() + 1LL);
        if (l < rr && t < b) r->FillBox(QRect(int(l), int(t), int(rr - l), int(b - t)), paint);
    }
    d.brush = std::move(selected);
    return true;
}

COLORREF DC::SetPixel(int x, int y, COLORREF color) {
    Impl& d = *impl_;
    d.Log(RecordOp::SetPixel, {x, y, int(color & 0xFFFFFFu)});
    if (d.kind == Impl::Kind::Recording) return color & 0xFFFFFFu;
    detail::Raster* r = d.R();
    if (!r || !r->SetPixel(x, y, ToQRgb(color))) return CLR_INVALID;
    return color & 0xFFFFFFu;
}

COLORREF DC::GetPixel(int x, int y) const {
    const detail::Raster* r = impl_->raster.get();
    if (!r) return CLR_INVALID;
    impl_->raster->Refresh();
    if (!r->Readable(x, y)) return CLR_INVALID;
    return FromQRgb(r->GetPixel(x, y));
}

// ---- Block transfers

bool DC::PatBlt(int x, int y, int width, int height, DWORD rop) {
    Impl& d = *impl_;
    d.Log(RecordOp::PatBlt, {x, y, width, height, int(rop)});
    detail::Raster* r = d.R();
    if (!r) return true;
    SpanPaint paint;
    QImage tile;
    if (!d.BrushPaint(paint, tile, R2_COPYPEN) && detail::RopUses(rop, 4)) return true;
    r->Blt(x, y, width, height, nullptr, 0, 0, 0, 0, rop, paint);
    return true;
}

namespace {

const QImage* SourceImage(const DC* source) {
    if (!source || !source->impl().raster) return nullptr;
    const QImage* img = source->impl().raster->Image();
    return img && !img->isNull() ? img : nullptr;
}

HBITMAP CopyOf(const QImage* image, int x, int y, int w, int h) {
    if (!image) return CreateBitmap(0, 0);
    return BitmapFromImage(image->copy(std::min(x, x + w), std::min(y, y + h), std::abs(w), std::abs(h)));
}

}  // namespace

bool DC::BitBlt(int x, int y, int width, int height, const DC* source, int xSrc, int ySrc,
                DWORD rop) {
    return StretchBlt(x, y, width, height, source, xSrc, ySrc, width, height, rop);
}

bool DC::StretchBlt(int x, int y, int width, int height, const DC* source, int xSrc, int ySrc,
                    int widthSrc, int heightSrc, DWORD rop) {
    Impl& d = *impl_;
    if (source) source->impl_->R();
    const QImage* src = SourceImage(source);
    const bool usesSource = detail::RopUses(rop, 2);
    if (Record* rec = d.Log(width == widthSrc && height == heightSrc ? RecordOp::BitBlt : RecordOp::StretchBlt,
                            {x, y, width, height, xSrc, ySrc, widthSrc, heightSrc, int(rop)}))
        if (usesSource) rec->Image = CopyOf(src, xSrc, ySrc, widthSrc, heightSrc);
    if (usesSource && !src) return false;
    detail::Raster* r = d.R();
    if (!r) return true;
    SpanPaint paint;
    QImage tile;
    d.BrushPaint(paint, tile, R2_COPYPEN);
    if (src == r->Image()) {
        // Source and destination are the same pixels: read from a copy.
        const QImage copy = src->copy();
        r->Blt(x, y, width, height, &copy, xSrc, ySrc, widthSrc, heightSrc, rop, paint);
    } else {
        r->Blt(x, y, width, height, src, xSrc, ySrc, widthSrc, heightSrc, rop, paint);
    }
    return true;
}

bool DC::AlphaBlend(int x, int y, int width, int height, const DC* source, int xSrc, int ySrc,
                    int widthSrc, int heightSrc, BLENDFUNCTION blend) {
    Impl& d = *impl_;
    if (source) source->impl_->R();
    const QImage* src = SourceImage(source);
    if (Record* rec = d.Log(RecordOp::AlphaBlend,
                            {x, y, width, height, xSrc, ySrc, widthSrc, heightSrc,
                             blend.SourceConstantAlpha, blend.AlphaFormat}))
        rec->Image = CopyOf(src, xSrc, ySrc, widthSrc, heightSrc);
    if (!src || width < 0 || height < 0 || widthSrc < 0 || heightSrc < 0) return false;
    if (detail::Raster* r = d.R()) {
        const QImage copy = src == r->Image() ? src->copy() : QImage();
        r->AlphaBlt(x, y, width, height, src == r->Image() ? copy : *src, xSrc, ySrc, widthSrc,
                    heightSrc, blend.SourceConstantAlpha, blend.AlphaFormat & AC_SRC_ALPHA);
    }
    return true;
}

// ---- Text

bool DC::Impl::Text(int x, int y, const QString& s, unsigned options, const RECT* rect) {
    const Font::Realised& f = font->Realise();
    const SIZE ext = Extent(s);
    const bool updateCp = (align & TA_UPDATECP) != 0;
    const POINT at = updateCp ? pos : POINT{x, y};
    double dx = 0;
    const unsigned horizontal = align & TA_CENTER;
    if (horizontal == TA_CENTER) dx = -(ext.cx / 2);
    else if (horizontal == TA_RIGHT) dx = -ext.cx;
    double baseline = f.ascent;
    if ((align & TA_BASELINE) == TA_BASELINE) baseline = 0;
    else if ((align & TA_BASELINE) == TA_BOTTOM) baseline = -f.descent;
    QTransform frame;
    frame.translate(at.x, at.y);
    frame.rotate(-f.escapement);
    if (updateCp) {
        double advance = horizontal == TA_LEFT ? ext.cx : horizontal == TA_RIGHT ? -ext.cx : 0;
        const QPointF next = frame.map(QPointF(advance, 0));
        pos = {int(std::lround(next.x())), int(std::lround(next.y()))};
    }
    if (InPath()) {
        QPainterPath glyphs;
        glyphs.addText(QPointF(dx, baseline), SpacedFont(), s);
        path.addPath(frame.map(glyphs));
        return true;
    }
    detail::Raster* r = R();
    if (!r || !r->CanDraw()) return true;
    if ((options & ETO_OPAQUE) && rect) {
        SpanPaint back;
        back.color = ToQRgb(bk);
        r->FillBox(ToQRect(*rect), back);
    }
    constexpr int kFar = 1 << 20;
    if (std::abs(at.x) > kFar || std::abs(at.y) > kFar || s.isEmpty()) return true;
    QPainter* p = r->Painter(R2_COPYPEN);  // text ignores the ROP2 mode
    if (!p) return true;
    // Turned or clipped text changes the painter's state for the one call;
    // plain text (the common case) draws at the point in device units.
    const bool framed = f.escapement != 0 || ((options & ETO_CLIPPED) && rect);
    QPointF origin(dx, baseline);
    if (framed) {
        p->save();
        if ((options & ETO_CLIPPED) && rect) p->setClipRect(ToQRect(*rect), Qt::IntersectClip);
        p->setTransform(frame, true);
    } else {
        origin += QPointF(at.x, at.y);
    }
    if (bk_mode == OPAQUE)
        p->fillRect(QRectF(origin.x(), origin.y() - f.ascent, ext.cx, ext.cy), QColor::fromRgb(ToQRgb(bk)));
    if (extra != 0) p->setFont(SpacedFont());
    else if (p->font() != f.font) p->setFont(f.font);
    p->setPen(QColor::fromRgb(ToQRgb(text)));
    p->drawText(origin, s);
    if (framed) p->restore();
    return true;
}

bool DC::TextOut(int x, int y, std::string_view text) {
    if (Record* rec = impl_->Log(RecordOp::TextOut, {x, y}))
        rec->Text = AnsiToQString(text).toStdU16String();
    return impl_->Text(x, y, AnsiToQString(text), 0, nullptr);
}

bool DC::TextOutW(int x, int y, std::u16string_view text) {
    if (Record* rec = impl_->Log(RecordOp::TextOut, {x, y})) rec->Text = std::u16string(text);
    return impl_->Text(x, y, QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size())), 0,
                       nullptr);
}

bool DC::ExtTextOut(int x, int y, unsigned options, const RECT* rect, std::string_view text) {
    return ExtTextOutW(x, y, options, rect, AnsiToQString(text).toStdU16String());
}

bool DC::ExtTextOutW(int x, int y, unsigned options, const RECT* rect, std::u16string_view text) {
    std::vector<int> args{x, y, int(options)};
    if (rect) args.insert(args.end(), {rect->left, rect->top, rect->right, rect->bottom});
    if (Record* rec = impl_->Log(RecordOp::ExtTextOut, std::move(args))) rec->Text = std::u16string(text);
    return impl_->Text(x, y, QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size())), options,
                       rect);
}

bool DC::GetTextExtentPoint32(std::string_view text, SIZE* size) const {
    if (!size) return false;
    *size = impl_->Extent(AnsiToQString(text));
    return true;
}

bool DC::GetTextExtentPoint32W(std::u16string_view text, SIZE* size) const {
    if (!size) return false;
    *size = impl_->Extent(QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size())));
    return true;
}

bool DC::GetTextMetrics(TEXTMETRIC* tm) const {
    if (!tm) return false;
    const LOGFONT& lf = impl_->font->Log();
    const Font::Realised& f = impl_->font->Realise();
    *tm = TEXTMETRIC{};
    tm->tmAscent = f.ascent;
    tm->tmDescent = f.descent;
    tm->tmHeight = f.ascent + f.descent;
    tm->tmInternalLeading = f.internal_leading;
    tm->tmExternalLeading = f.external_leading;
    tm->tmAveCharWidth = f.ave_char_width;
    tm->tmMaxCharWidth = f.max_char_width;
    tm->tmWeight = lf.lfWeight <= 0 ? FW_NORMAL : lf.lfWeight;
    tm->tmItalic = lf.lfItalic;
    tm->tmUnderlined = lf.lfUnderline;
    tm->tmStruckOut = lf.lfStrikeOut;
    tm->tmPitchAndFamily = lf.lfPitchAndFamily;
    tm->tmCharSet = lf.lfCharSet;
    return true;
}

// ---- Paths

bool DC::BeginPath() {
    impl_->Log(RecordOp::BeginPath);
    impl_->path = QPainterPath();
    impl_->path_state = Impl::PathState::Open;
    return true;
}

bool DC::EndPath() {
    impl_->Log(RecordOp::EndPath);
    if (impl_->path_state != Impl::PathState::Open) return false;
    impl_->path_state = Impl::PathState::Closed;
    return true;
}

bool DC::AbortPath() {
    impl_->Log(RecordOp::AbortPath);
    impl_->ClearPath();
    return true;
}

bool DC::StrokePath() {
    Impl& d = *impl_;
    d.Log(RecordOp::StrokePath);
    if (d.path_state != Impl::PathState::Closed) return false;
    d.StrokeOutline(d.path);
    d.ClearPath();
    return true;
}

bool DC::FillPath() {
    Impl& d = *impl_;
    d.Log(RecordOp::FillPath);
    if (d.path_state != Impl::PathState::Closed) return false;
    d.FillShape(d.path);
    d.ClearPath();
    return true;
}

bool DC::StrokeAndFillPath() {
    Impl& d = *impl_;
    d.Log(RecordOp::StrokeAndFillPath);
    if (d.path_state != Impl::PathState::Closed) return false;
    d.FillShape(d.path);
    d.StrokeOutline(d.path);
    d.ClearPath();
    return true;
}

bool DC::WidenPath() {
    Impl& d = *impl_;
    d.Log(RecordOp::WidenPath);
    if (d.path_state != Impl::PathState::Closed) return false;
    QPainterPathStroker stroker(d.MakeQPen(d.PenColor()));
    stroker.setWidth(d.pen->Width());
    d.path = stroker.createStroke(d.path);
    return true;
}

bool DC::SelectClipPath(int mode) {
    Impl& d = *impl_;
    Record* rec = d.Log(RecordOp::SelectClipPath, {mode});
    if (d.path_state != Impl::PathState::Closed) return false;
    QPainterPath shape = d.path;
    shape.setFillRule(d.poly_fill == WINDING ? Qt::WindingFill : Qt::OddEvenFill);
    const QRegion region = detail::PathRegion(shape, d.Surface());
    if (rec) {  // the path's pixels, for files that clip by regions only
        rec->Region = std::make_shared<Region>();
        rec->Region->impl().region = region;
    }
    d.ClearPath();
    return d.SetClip(&region, mode) != RGN_ERROR;
}

// ---- Clipping

int DC::ExtSelectClipRgn(const HRGN& region, int mode) {
    Impl& d = *impl_;
    if (Record* rec = d.Log(RecordOp::ExtSelectClipRgn, {mode})) {
        if (region) {
            rec->Region = std::make_shared<Region>();
            rec->Region->impl().region = region->impl().region;
        }
    }
    return d.SetClip(region ? &region->impl().region : nullptr, mode);
}

int DC::IntersectClipRect(int left, int top, int right, int bottom) {
    return ExtSelectClipRgn(CreateRectRgn(left, top, right, bottom), RGN_AND);
}

int DC::ExcludeClipRect(int left, int top, int right, int bottom) {
    return ExtSelectClipRgn(CreateRectRgn(left, top, right, bottom), RGN_DIFF);
}

int DC::GetClipRgn(const HRGN& region) const {
    if (!region) return -1;
    if (!impl_->has_clip) return 0;
    region->impl().region = impl_->clip;
    return 1;
}

int DC::GetClipBox(RECT* box) const {
    if (!box) return RGN_ERROR;
    const QRegion visible =
        impl_->has_clip ? impl_->clip.intersected(impl_->Surface()) : QRegion(impl_->Surface());
    const QRect b = visible.boundingRect();
    *box = visible.isEmpty() ? RECT{} : RECT{b.left(), b.top(), b.right() + 1, b.bottom() + 1};
    return KindOf(visible);
}

bool DC::PtVisible(int x, int y) const {
    if (!impl_->Surface().contains(x, y)) return false;
    return !impl_->has_clip || impl_->clip.contains(QPoint(x, y));
}

}  // namespace gdi
