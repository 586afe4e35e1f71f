#include "platform/gdi/raster.h"

#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/gdi/qt_gdi.h"

namespace gdi::detail {

namespace {

QPainter::CompositionMode ModeFor(int rop2) {
    switch (rop2) {
        case R2_BLACK: return QPainter::RasterOp_ClearDestination;
        case R2_NOTMERGEPEN: return QPainter::RasterOp_NotSourceAndNotDestination;
        case R2_MASKNOTPEN: return QPainter::RasterOp_NotSourceAndDestination;
        case R2_NOTCOPYPEN: return QPainter::RasterOp_NotSource;
        case R2_MASKPENNOT: return QPainter::RasterOp_SourceAndNotDestination;
        case R2_NOT: return QPainter::RasterOp_NotDestination;
        case R2_XORPEN: return QPainter::RasterOp_SourceXorDestination;
        case R2_NOTMASKPEN: return QPainter::RasterOp_NotSourceOrNotDestination;
        case R2_MASKPEN: return QPainter::RasterOp_SourceAndDestination;
        case R2_NOTXORPEN: return QPainter::RasterOp_NotSourceXorDestination;
        case R2_MERGENOTPEN: return QPainter::RasterOp_NotSourceOrDestination;
        case R2_MERGEPENNOT: return QPainter::RasterOp_SourceOrNotDestination;
        case R2_MERGEPEN: return QPainter::RasterOp_SourceOrDestination;
        case R2_WHITE: return QPainter::RasterOp_SetDestination;
        default: return QPainter::CompositionMode_SourceOver;
    }
}

int Mod(long long v, int m) {
    const long long r = v % m;
    return static_cast<int>(r < 0 ? r + m : r);
}

QRgb Read24(const uchar* p) { return 0xFF000000u | (QRgb(p[2]) << 16) | (QRgb(p[1]) << 8) | p[0]; }
void Write24(uchar* p, QRgb c) {
    p[0] = uchar(c & 0xFF);
    p[1] = uchar((c >> 8) & 0xFF);
    p[2] = uchar((c >> 16) & 0xFF);
}

// Cuts the segment a-b to the box (Liang-Barsky); false when nothing is left.
bool CutSegment(QPointF& a, QPointF& b, const QRectF& box) {
    double t0 = 0, t1 = 1;
    const double dx = b.x() - a.x(), dy = b.y() - a.y();
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {a.x() - box.left(), box.right() - a.x(), a.y() - box.top(),
                         box.bottom() - a.y()};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0) {
            if (q[i] < 0) return false;
            continue;
        }
        const double t = q[i] / p[i];
        if (p[i] < 0) t0 = std::max(t0, t);
        else t1 = std::min(t1, t);
        if (t0 > t1) return false;
    }
    const QPointF start = a;
    a = start + QPointF(dx * t0, dy * t0);
    b = start + QPointF(dx * t1, dy * t1);
    return true;
}

// One segment (its last pixel left out) whose ends both lie inside the
// surface: the walk of line_walker.h without its clipping, on pixel
// addresses. put(pixel) for each pixel.
template <class Put>
inline void SegmentInside(int x0, int y0, int x1, int y1, QRgb* bits, qsizetype stride, Put&& put) {
    const int dx = x1 - x0, dy = y1 - y0;
    const int adx = dx < 0 ? -dx : dx, ady = dy < 0 ? -dy : dy;
    const qsizetype sx = dx < 0 ? -1 : 1, sy = dy < 0 ? -stride : stride;
    // Selects rather than a swap: which axis leads varies from segment to
    // segment, and a branch on it would be mispredicted half the time.
    const bool yMajor = ady > adx;
    const int major = yMajor ? ady : adx, minor = yMajor ? adx : ady;
    const qsizetype pick = -static_cast<qsizetype>(yMajor);
    const qsizetype majorStep = (sy & pick) | (sx & ~pick), minorStep = (sx & pick) | (sy & ~pick);
    QRgb* p = bits + y0 * stride + x0;
    const int twoMinor = 2 * minor, twoMajor = 2 * major;
    int num = major;
    for (int i = 0; i < major; ++i) {
        put(p);
        p += majorStep;
        num += twoMinor;
        // Without a branch for the same reason.
        const int over = -static_cast<int>(num >= twoMajor);
        num -= twoMajor & over;
        p += minorStep & static_cast<qsizetype>(over);
    }
}

// The segments of a polyline on 32-bit pixels within box. Kept out of line
// so that its loop gets the registers to itself.
template <class Put>
[[gnu::noinline]] void WalkSegments(std::span<const POINT> points, bool closed, const Box& box, QRgb* bits,
                  qsizetype stride, Put put) {
    const std::size_t n = points.size();
    const std::size_t segments = closed ? n : n - 1;
    const int x0 = box.x0, y0 = box.y0;
    const unsigned w = static_cast<unsigned>(box.x1 - box.x0), h = static_cast<unsigned>(box.y1 - box.y0);
    auto inside = [=](const POINT& p) {
        return static_cast<unsigned>(p.x - x0) < w && static_cast<unsigned>(p.y - y0) < h;
    };
    bool aInside = inside(points[0]);
    for (std::size_t k = 0; k < segments; ++k) {
        const POINT a = points[k], b = points[k + 1 == n ? 0 : k + 1];
        const bool bInside = inside(b);
        if (aInside && bInside) {
            SegmentInside(a.x, a.y, b.x, b.y, bits, stride, put);
        } else {
            WalkLine(a.x, a.y, b.x, b.y, box, [&](int x, int y, i64) { put(bits + y * stride + x); });
        }
        aInside = bInside;
    }
}

// Beyond this the toolkit's rasteriser loses precision: paths that reach
// further are cut to the surface first.
constexpr double kPainterLimit = 1 << 20;

}  // namespace

// ---- Clip

void ClipShape::Set(int width, int height, const QRegion* clip) {
    const QRect device(0, 0, std::max(width, 0), std::max(height, 0));
    has_clip_ = clip != nullptr;
    bands_.clear();
    spans_.clear();
    mask_.clear();
    if (!clip) {
        box_ = device;
        simple_ = true;
        region_ = QRegion(device);
        return;
    }
    region_ = clip->intersected(device);
    box_ = region_.boundingRect();
    simple_ = region_.rectCount() <= 1;
    if (simple_) return;
    for (const QRect& r : region_) {
        if (bands_.empty() || bands_.back().y0 != r.top() || bands_.back().y1 != r.bottom() + 1)
            bands_.push_back({r.top(), r.bottom() + 1, spans_.size(), 0});
        spans_.emplace_back(r.left(), r.right() + 1);
        ++bands_.back().count;
    }
}

const ClipShape::Band* ClipShape::BandAt(int y) const {
    auto it = std::upper_bound(bands_.begin(), bands_.end(), y,
                               [](int v, const Band& b) { return v < b.y0; });
    if (it == bands_.begin()) return nullptr;
    --it;
    return y < it->y1 ? &*it : nullptr;
}

bool ClipShape::Visible(int x, int y) const {
    if (!box_.contains(x, y)) return false;
    if (simple_) return true;
    if (mask_.empty()) {
        mask_.assign(static_cast<size_t>(box_.width()) * static_cast<size_t>(box_.height()), 0);
        for (const QRect& r : region_)
            for (int yy = r.top(); yy <= r.bottom(); ++yy)
                std::memset(&mask_[static_cast<size_t>(yy - box_.top()) * box_.width() +
                                   static_cast<size_t>(r.left() - box_.left())],
                            1, static_cast<size_t>(r.width()));
    }
    return mask_[static_cast<size_t>(y - box_.top()) * box_.width() +
                 static_cast<size_t>(x - box_.left())] != 0;
}

// ---- Targets

Raster::Raster(Bitmap::Impl* bitmap) : bitmap_(bitmap) {
    if (bitmap_) image_ = &bitmap_->image;
    Refresh();
    clip_.Set(width_, height_, nullptr);
}

void Raster::Refresh() {
    if (!image_ || (image_->width() == width_ && image_->height() == height_)) return;
    width_ = image_->width();
    height_ = image_->height();
    clip_.Set(width_, height_, clip_region_ ? &*clip_region_ : nullptr);
    painter_clip_dirty_ = true;
    visited_.clear();
    visited_words_.clear();
}

Raster::Raster(QPainter* external, int width, int height)
    : external_(external), width_(std::max(width, 0)), height_(std::max(height, 0)) {
    clip_.Set(width_, height_, nullptr);
    if (external_) external_->save();
}

Raster::~Raster() {
    EndPainter();
    if (external_) external_->restore();
}

void Raster::SetClip(const QRegion* clip) {
    if (clip) clip_region_ = *clip;
    else clip_region_.reset();
    clip_.Set(width_, height_, clip);
    painter_clip_dirty_ = true;
}

void Raster::BeginPainter() {
    if (external_ || own_painter_ || !image_ || image_->isNull()) return;
    bitmap_->ReleasePainter();
    own_painter_ = std::make_unique<QPainter>(image_);
    bitmap_->release_painter = [this] { EndPainter(); };
    painter_clip_dirty_ = true;
}

void Raster::EndPainter() {
    if (!own_painter_) return;
    own_painter_->end();
    own_painter_.reset();
    if (bitmap_) bitmap_->release_painter = nullptr;
}

QPainter* Raster::Painter(int rop2) {
    if (!CanDraw() || rop2 == R2_NOP || clip_.Box().isEmpty()) return nullptr;
    BeginPainter();
    QPainter* p = external_ ? external_ : own_painter_.get();
    if (!p) return nullptr;
    if (painter_clip_dirty_) {
        if (clip_.HasClip()) p->setClipRegion(clip_.Region());
        else p->setClipping(false);
        painter_clip_dirty_ = false;
    }
    p->setCompositionMode(ModeFor(rop2));
    p->setRenderHint(QPainter::Antialiasing, false);
    p->setRenderHint(QPainter::SmoothPixmapTransform, false);
    p->setOpacity(1.0);
    p->setBrushOrigin(0, 0);
    return p;
}

// ---- Spans

void Raster::WriteSpan32(int y, int x0, int x1, const SpanPaint& paint) {
    auto* row = reinterpret_cast<QRgb*>(image_->scanLine(y));
    if (paint.tile) {
        const QImage& t = *paint.tile;
        const auto* trow = reinterpret_cast<const QRgb*>(t.constScanLine(Mod(y, t.height())));
        const int tw = t.width();
        for (int x = x0, tx = Mod(x0, tw); x < x1; ++x) {
            const QRgb s = trow[tx];
            if (qAlpha(s) != 0) row[x] = Rop2(paint.rop2, s, row[x]);
            if (++tx == tw) tx = 0;
        }
        return;
    }
    if (paint.rop2 == R2_COPYPEN) {
        std::fill(row + x0, row + x1, paint.color | 0xFF000000u);
        return;
    }
    for (int x = x0; x < x1; ++x) row[x] = Rop2(paint.rop2, paint.color, row[x]);
}

void Raster::WriteSpan24(int y, int x0, int x1, const SpanPaint& paint) {
    uchar* row = image_->scanLine(y);
    for (int x = x0; x < x1; ++x) {
        QRgb s = paint.color;
        if (paint.tile) {
            s = paint.tile->pixel(Mod(x, paint.tile->width()), Mod(y, paint.tile->height()));
            if (qAlpha(s) == 0) continue;
        }
        Write24(row + 3 * x, Rop2(paint.rop2, s, Read24(row + 3 * x)));
    }
}

void Raster::FillSpan(int y, int x0, int x1, const SpanPaint& paint) {
    if (!CanDraw() || paint.rop2 == R2_NOP) return;
    if (image_) {
        const bool wide = image_->depth() == 32;
        clip_.ForEach(y, x0, x1, [&](int a, int b) {
            if (wide) WriteSpan32(y, a, b, paint);
            else WriteSpan24(y, a, b, paint);
        });
        return;
    }
    QPainter* p = Painter(paint.rop2);
    if (!p) return;
    const QBrush brush = paint.tile ? QBrush(*paint.tile) : QBrush(QColor::fromRgb(paint.color));
    clip_.ForEach(y, x0, x1, [&](int a, int b) { p->fillRect(QRect(a, y, b - a, 1), brush); });
}

void Raster::FillBox(QRect r, const SpanPaint& paint) {
    r = r.intersected(clip_.Box());
    if (r.isEmpty() || paint.rop2 == R2_NOP) return;
    if (!image_) {
        QPainter* p = Painter(paint.rop2);
        if (!p) return;
        const QBrush brush = paint.tile ? QBrush(*paint.tile) : QBrush(QColor::fromRgb(paint.color));
        for (const QRect& part : clip_.Region().intersected(r)) p->fillRect(part, brush);
        return;
    }
    for (int y = r.top(); y <= r.bottom(); ++y) FillSpan(y, r.left(), r.right() + 1, paint);
}

void Raster::FillPolygons(std::span<const std::vector<PointD>> contours, bool winding,
                          const SpanPaint& paint) {
    const QRect& b = clip_.Box();
    if (b.isEmpty() || paint.rop2 == R2_NOP) return;
    const Window w{b.left(), b.top(), b.right() + 1, b.bottom() + 1};
    ScanPolygon(contours, winding, w, [&](int y, int x0, int x1) { FillSpan(y, x0, x1, paint); });
}

void Raster::FillPath(const QPainterPath& path, const SpanPaint& paint) {
    std::vector<std::vector<PointD>> contours;
    for (const QPolygonF& poly : path.toSubpathPolygons()) {
        auto& c = contours.emplace_back();
        c.reserve(static_cast<size_t>(poly.size()));
        for (const QPointF& pt : poly) c.push_back({pt.x(), pt.y()});
    }
    FillPolygons(contours, path.fillRule() == Qt::WindingFill, paint);
}

void Raster::FillRegion(const QRegion& region, const SpanPaint& paint) {
    for (const QRect& r : region) FillBox(r, paint);
}

// ---- Lines

void Raster::ThinPolyline(std::span<const POINT> points, bool closed, const ThinPen& pen) {
    const std::size_t n = points.size();
    if (!CanDraw() || pen.rop2 == R2_NOP || n < 2) return;
    const QRect& vb = clip_.Box();
    if (vb.isEmpty()) return;
    const Box box{vb.left(), vb.top(), vb.right() + 1, vb.bottom() + 1};
    const std::size_t segments = closed ? n : n - 1;
    auto walk = [&](auto&& plot) {
        i64 base = 0;
        for (std::size_t k = 0; k < segments; ++k) {
            const POINT a = points[k], b = points[(k + 1) % n];
            base += WalkLine(a.x, a.y, b.x, b.y, box,
                             [&](int x, int y, i64 i) { plot(x, y, base + i); });
        }
    };
    // Each pixel of one polyline is drawn once: where a mode is not
    // idempotent, or where dashes and gaps of different colours cross.
    const bool dedupe =
        segments > 1 && (!Rop2Idempotent(pen.rop2) || (!pen.dashes.empty() && pen.opaque_gaps));

    // The common case, kept tight: solid, rectangular clip, 32-bit pixels.
    if (image_ && image_->depth() == 32 && clip_.Simple() && pen.dashes.empty() &&
        (!dedupe || image_->format() == QImage::Format_RGB32)) {
        auto* bits = reinterpret_cast<QRgb*>(image_->bits());
        const qsizetype stride = image_->bytesPerLine() / 4;
        const QRgb c = pen.color | 0xFF000000u;
        const int rop = pen.rop2;
        auto run = [&](auto put) { WalkSegments(points, closed, box, bits, stride, put); };
        if (dedupe && image_->format() == QImage::Format_RGB32) {
            // Each pixel once. The fourth byte of these pixels is always 0xFF:
            // a drawn pixel is marked 0xFE there for the rest of the call,
            // and the rows the polyline reached are unmarked afterwards. No
            // branch on it: whether a walk comes back to a pixel cannot be
            // predicted.
            constexpr QRgb kMark = 0x01000000u;
            if (rop == R2_XORPEN) {
                const QRgb x = c & 0xFFFFFFu;
                run([x](QRgb* px) {
                    const QRgb v = *px;
                    *px = (v ^ (x & (0u - (v >> 24 & 1u)))) & ~kMark;
                });
            } else {
                run([c, rop](QRgb* px) {
                    const QRgb v = *px;
                    *px = ((v & kMark) ? Rop2(rop, c, v) : v) & ~kMark;
                });
            }
            int top = box.y1, bottom = box.y0 - 1;
            for (const POINT& p : points) {
                top = std::min(top, p.y);
                bottom = std::max(bottom, p.y);
            }
            for (int y = std::max(top, box.y0); y <= std::min(bottom, box.y1 - 1); ++y) {
                QRgb* row = bits + y * stride;
                for (int x = box.x0; x < box.x1; ++x) row[x] |= kMark;
            }
        } else if (rop == R2_COPYPEN) {
            run([c](QRgb* px) { *px = c; });
        } else {
            run([c, rop](QRgb* px) { *px = Rop2(rop, c, *px); });
        }
        return;
    }

    const DashState dashes(pen.dashes);
    const bool styled = !pen.dashes.empty();
    const bool simple = clip_.Simple();
    if (dedupe) {
        const std::size_t words = (static_cast<size_t>(width_) * height_ + 63) / 64;
        if (visited_.size() != words) visited_.assign(words, 0);
    }
    auto firstVisit = [&](int x, int y) {
        const std::size_t idx = static_cast<size_t>(y) * width_ + static_cast<size_t>(x);
        std::uint64_t& word = visited_[idx >> 6];
        const std::uint64_t bit = std::uint64_t{1} << (idx & 63);
        if (word & bit) return false;
        if (word == 0) visited_words_.push_back(idx >> 6);
        word |= bit;
        return true;
    };
    std::vector<QPoint> onPoints, gapPoints;  // window targets
    uchar* bits = image_ ? image_->bits() : nullptr;
    const qsizetype bpl = image_ ? image_->bytesPerLine() : 0;
    const bool wide = image_ && image_->depth() == 32;
    walk([&](int x, int y, i64 i) {
        if (!simple && !clip_.Visible(x, y)) return;
        const bool on = !styled || dashes.On(i);
        if (!on && !pen.opaque_gaps) return;
        if (dedupe && !firstVisit(x, y)) return;
        const QRgb c = on ? pen.color : pen.gap_color;
        if (!bits) {
            (on ? onPoints : gapPoints).emplace_back(x, y);
        } else if (wide) {
            QRgb* px = reinterpret_cast<QRgb*>(bits + y * bpl) + x;
            *px = Rop2(pen.rop2, c, *px);
        } else {
            uchar* px = bits + y * bpl + 3 * x;
            Write24(px, Rop2(pen.rop2, c, Read24(px)));
        }
    });
    if (dedupe) {
        if (visited_words_.size() > visited_.size() / 8) std::fill(visited_.begin(), visited_.end(), 0);
        else for (std::size_t w : visited_words_) visited_[w] = 0;
        visited_words_.clear();
    }
    if (!bits && (!onPoints.empty() || !gapPoints.empty())) {
        QPainter* p = Painter(pen.rop2);
        if (!p) return;
        p->setPen(QPen(QColor::fromRgb(pen.color), 0));
        p->drawPoints(onPoints.data(), static_cast<int>(onPoints.size()));
        p->setPen(QPen(QColor::fromRgb(pen.gap_color), 0));
        p->drawPoints(gapPoints.data(), static_cast<int>(gapPoints.size()));
    }
}

// ---- Pixels

bool Raster::SetPixel(int x, int y, QRgb color) {
    if (!CanDraw() || !clip_.Visible(x, y)) return false;
    if (image_) {
        if (image_->depth() == 32) reinterpret_cast<QRgb*>(image_->scanLine(y))[x] = color | 0xFF000000u;
        else Write24(image_->scanLine(y) + 3 * x, color);
        return true;
    }
    QPainter* p = Painter(R2_COPYPEN);
    if (!p) return false;
    p->fillRect(QRect(x, y, 1, 1), QColor::fromRgb(color));
    return true;
}

bool Raster::Readable(int x, int y) const { return image_ && clip_.Visible(x, y); }

QRgb Raster::GetPixel(int x, int y) const {
    if (!Readable(x, y)) return 0;
    if (image_->depth() == 32) return reinterpret_cast<const QRgb*>(image_->constScanLine(y))[x];
    return Read24(image_->constScanLine(y) + 3 * x);
}

// ---- Block transfers

void Raster::Blt(int x, int y, int w, int h, const QImage* source, int sx, int sy, int sw, int sh,
                 DWORD rop, const SpanPaint& pattern) {
    if (!CanDraw() || w == 0 || h == 0) return;
    const bool useSource = RopUses(rop, 2);
    if (useSource && (!source || source->isNull() || sw == 0 || sh == 0)) return;
    const long long dl = std::min<long long>(x, (long long)x + w);
    const long long dt = std::min<long long>(y, (long long)y + h);
    const long long dr = std::max<long long>(x, (long long)x + w);
    const long long db = std::max<long long>(y, (long long)y + h);
    const QRect& vb = clip_.Box();
    const long long l = std::max<long long>(dl, vb.left()), r = std::min<long long>(dr, vb.right() + 1);
    const long long t = std::max<long long>(dt, vb.top()), b = std::min<long long>(db, vb.bottom() + 1);
    if (l >= r || t >= b) return;
    const QRect visible(int(l), int(t), int(r - l), int(b - t));
    const long long aw = dr - dl, ah = db - dt;
    const long long srcLeft = sw > 0 ? sx : (long long)sx + sw, srcTop = sh > 0 ? sy : (long long)sy + sh;
    const long long asw = sw < 0 ? -(long long)sw : sw, ash = sh < 0 ? -(long long)sh : sh;
    const bool mirrorX = (w < 0) != (sw < 0), mirrorY = (h < 0) != (sh < 0);
    const bool sameWidth = asw == aw, sameHeight = ash == ah;
    auto srcCol = [&](long long X) {
        const long long k = mirrorX ? dr - 1 - X : X - dl;
        if (sameWidth) return srcLeft + k;
        return srcLeft + ((2 * k + 1) * asw) / (2 * aw);  // the nearest source pixel
    };
    auto srcRow = [&](long long Y) {
        const long long k = mirrorY ? db - 1 - Y : Y - dt;
        if (sameHeight) return srcTop + k;
        return srcTop + ((2 * k + 1) * ash) / (2 * ah);
    };

    if (!image_) {
        // A window: only what the painter can do.
        QPainter* p = Painter(R2_COPYPEN);
        if (!p) return;
        const QRect target{int(dl), int(dt), int(aw), int(ah)};
        if (rop == SRCCOPY && source) {
            QImage part = source->copy(int(srcLeft), int(srcTop), int(asw), int(ash));
            if (mirrorX || mirrorY) part = part.mirrored(mirrorX, mirrorY);
            p->drawImage(target, part);
        } else if (!useSource) {
            QPainter::CompositionMode mode = QPainter::CompositionMode_SourceOver;
            QBrush brush = pattern.tile ? QBrush(*pattern.tile) : QBrush(QColor::fromRgb(pattern.color));
            switch (rop) {
                case PATINVERT: mode = QPainter::RasterOp_SourceXorDestination; break;
                case DSTINVERT: mode = QPainter::RasterOp_NotDestination; break;
                case BLACKNESS: mode = QPainter::RasterOp_ClearDestination; break;
                case WHITENESS: mode = QPainter::RasterOp_SetDestination; break;
                default: break;
            }
            p->setCompositionMode(mode);
            p->fillRect(visible, brush);
        }
        return;
    }

    const bool usePattern = RopUses(rop, 4);
    const bool wide = image_->depth() == 32;
    const bool srcWide = source && source->depth() == 32;
    // Same size, not mirrored, 32 bits both sides: row runs without sampling.
    const bool aligned = asw == aw && ash == ah && !mirrorX && !mirrorY && wide && srcWide &&
                         (rop == SRCINVERT || rop == SRCAND || rop == SRCPAINT);
    const bool plain = rop == SRCCOPY && asw == aw && ash == ah && !mirrorX && !mirrorY && wide &&
                       srcWide && !source->hasAlphaChannel();
    // A solid pattern copied: spans of one colour.
    if (rop == PATCOPY && !pattern.tile) {
        const SpanPaint solid{pattern.color, nullptr, R2_COPYPEN};
        for (int Y = visible.top(); Y <= visible.bottom(); ++Y)
            FillSpan(Y, visible.left(), visible.right() + 1, solid);
        return;
    }
    // A copy without sampling between pixels of other depths: each pixel
    // converted, no raster operation to evaluate.
    const bool converted = rop == SRCCOPY && asw == aw && ash == ah && !mirrorX && !mirrorY && !plain &&
                           !source->hasAlphaChannel();
    for (int Y = visible.top(); Y <= visible.bottom(); ++Y) {
        const long long SY = useSource ? srcRow(Y) : 0;
        if (useSource && (SY < 0 || SY >= source->height())) continue;
        const uchar* srow = useSource ? source->constScanLine(int(SY)) : nullptr;
        uchar* drow = image_->scanLine(Y);
        const QRgb* trow = nullptr;
        if (usePattern && pattern.tile)
            trow = reinterpret_cast<const QRgb*>(pattern.tile->constScanLine(Mod(Y, pattern.tile->height())));
        clip_.ForEach(Y, visible.left(), visible.right() + 1, [&](int a, int b) {
            if (plain || aligned) {
                long long s0 = srcCol(a), s1 = srcCol(b - 1) + 1;
                const long long lo = std::max<long long>(s0, 0), hi = std::min<long long>(s1, source->width());
                if (lo >= hi) return;
                a += int(lo - s0);
                QRgb* d = reinterpret_cast<QRgb*>(drow) + a;
                const QRgb* from = reinterpret_cast<const QRgb*>(srow) + lo;
                const auto n = static_cast<std::size_t>(hi - lo);
                switch (rop) {
                    case SRCINVERT:
                        for (std::size_t i = 0; i < n; ++i) d[i] ^= from[i] & 0xFFFFFFu;
                        break;
                    case SRCAND:
                        for (std::size_t i = 0; i < n; ++i) d[i] &= from[i] | 0xFF000000u;
                        break;
                    case SRCPAINT:
                        for (std::size_t i = 0; i < n; ++i) d[i] |= from[i];
                        break;
                    default: std::memcpy(d, from, n * 4); break;
                }
                return;
            }
            if (converted) {
                const long long lo = std::max<long long>(srcCol(a), 0);
                const long long hi = std::min<long long>(srcCol(b - 1) + 1, source->width());
                if (lo >= hi) return;
                a += int(lo - srcCol(a));
                const int n = int(hi - lo);
                for (int i = 0; i < n; ++i) {
                    const QRgb s = srcWide ? reinterpret_cast<const QRgb*>(srow)[lo + i] : Read24(srow + 3 * (lo + i));
                    if (wide) reinterpret_cast<QRgb*>(drow)[a + i] = s | 0xFF000000u;
                    else Write24(drow + 3 * (a + i), s);
                }
                return;
            }
            for (int X = a; X < b; ++X) {
                QRgb s = 0;
                if (useSource) {
                    const long long SX = srcCol(X);
                    if (SX < 0 || SX >= source->width()) continue;
                    s = srcWide ? reinterpret_cast<const QRgb*>(srow)[SX] : Read24(srow + 3 * SX);
                }
                QRgb pt = pattern.color;
                if (trow) pt = trow[Mod(X, pattern.tile->width())];
                if (wide) {
                    QRgb* px = reinterpret_cast<QRgb*>(drow) + X;
                    *px = Rop3(rop, pt, s, *px);
                } else {
                    uchar* px = drow + 3 * X;
                    Write24(px, Rop3(rop, pt, s, Read24(px)));
                }
            }
        });
    }
}

void Raster::AlphaBlt(int x, int y, int w, int h, const QImage& source, int sx, int sy, int sw,
                      int sh, int constantAlpha, bool perPixel) {
    if (!CanDraw() || w <= 0 || h <= 0 || sw <= 0 || sh <= 0 || source.isNull()) return;
    if (!image_) {
        QPainter* p = Painter(R2_COPYPEN);
        if (!p) return;
        p->setOpacity(constantAlpha / 255.0);
        QImage part = source.copy(sx, sy, sw, sh);
        if (!perPixel) part = part.convertToFormat(QImage::Format_RGB32);
        p->drawImage(QRect(x, y, w, h), part);
        p->setOpacity(1.0);
        return;
    }
    const QRect& vb = clip_.Box();
    const long long l = std::max<long long>(x, vb.left()), r = std::min<long long>((long long)x + w, vb.right() + 1);
    const long long t = std::max<long long>(y, vb.top()), b = std::min<long long>((long long)y + h, vb.bottom() + 1);
    const bool wide = image_->depth() == 32;
    const bool srcWide = source.depth() == 32;
    const bool srcAlpha = perPixel && source.hasAlphaChannel();
    // Same size: source column X - x + sx, no sampling.
    const bool unstretched = sw == w && sh == h;
    // The common case of a constant blend between 32-bit pixels of the same
    // size: whole runs, one multiply per channel.
    if (unstretched && wide && srcWide && !srcAlpha) {
        const int a = constantAlpha, na = 255 - constantAlpha;
        for (long long Y = t; Y < b; ++Y) {
            const long long SY = sy + (Y - y);
            if (SY < 0 || SY >= source.height()) continue;
            const QRgb* srow = reinterpret_cast<const QRgb*>(source.constScanLine(int(SY)));
            QRgb* drow = reinterpret_cast<QRgb*>(image_->scanLine(int(Y)));
            clip_.ForEach(int(Y), int(l), int(r), [&](int from, int to) {
                const long long lo = std::max<long long>(from, (long long)x - sx);
                const long long hi = std::min<long long>(to, (long long)x - sx + source.width());
                for (long long X = lo; X < hi; ++X) {
                    const QRgb s = srow[X - x + sx], d = drow[X];
                    auto mix = [&](int shift) {
                        const unsigned v = ((s >> shift) & 0xFF) * a + ((d >> shift) & 0xFF) * na + 127;
                        return ((v / 255) & 0xFF) << shift;
                    };
                    drow[X] = 0xFF000000u | mix(16) | mix(8) | mix(0);
                }
            });
        }
        return;
    }
    for (long long Y = t; Y < b; ++Y) {
        const long long SY = unstretched ? sy + (Y - y) : sy + ((2 * (Y - y) + 1) * sh) / (2LL * h);
        if (SY < 0 || SY >= source.height()) continue;
        const uchar* srow = source.constScanLine(int(SY));
        uchar* drow = image_->scanLine(int(Y));
        clip_.ForEach(int(Y), int(l), int(r), [&](int a, int e) {
            for (int X = a; X < e; ++X) {
                const long long SX = unstretched ? sx + ((long long)X - x)
                                                 : sx + ((2 * ((long long)X - x) + 1) * sw) / (2LL * w);
                if (SX < 0 || SX >= source.width()) continue;
                const QRgb s = srcWide ? reinterpret_cast<const QRgb*>(srow)[SX] : Read24(srow + 3 * SX);
                const int alpha = srcAlpha ? qAlpha(s) * constantAlpha / 255 : constantAlpha;
                if (alpha == 0) continue;
                const QRgb d = wide ? reinterpret_cast<QRgb*>(drow)[X] : Read24(drow + 3 * X);
                auto mix = [&](int sc, int dc) { return (sc * alpha + dc * (255 - alpha) + 127) / 255; };
                const QRgb out = qRgb(mix(qRed(s), qRed(d)), mix(qGreen(s), qGreen(d)), mix(qBlue(s), qBlue(d)));
                if (wide) reinterpret_cast<QRgb*>(drow)[X] = out;
                else Write24(drow + 3 * X, out);
            }
        });
    }
}

// ---- Toolkit drawing

void Raster::Stroke(const QPainterPath& path, const QPen& pen, int rop2, const QPen* gapPen) {
    QPainter* p = Painter(rop2);
    if (!p) return;
    const QRectF bounds = path.controlPointRect();
    const bool safe = bounds.left() > -kPainterLimit && bounds.right() < kPainterLimit &&
                      bounds.top() > -kPainterLimit && bounds.bottom() < kPainterLimit;
    auto draw = [&](const QPen& qpen) {
        p->setPen(qpen);
        p->setBrush(Qt::NoBrush);
        if (safe) {
            p->drawPath(path);
            return;
        }
        // Cut the outline to the surface, with room for the pen's width, so
        // that the rasteriser only sees coordinates it handles exactly.
        const double margin = qpen.widthF() + 16;
        const QRectF box(-margin, -margin, width_ + 2 * margin, height_ + 2 * margin);
        for (const QPolygonF& poly : path.toSubpathPolygons()) {
            QPolygonF run;
            for (qsizetype i = 0; i + 1 < poly.size(); ++i) {
                QPointF a = poly[i], b = poly[i + 1];
                if (!CutSegment(a, b, box)) {
                    if (run.size() > 1) p->drawPolyline(run);
                    run.clear();
                    continue;
                }
                if (run.isEmpty() || run.back() != a) {
                    if (run.size() > 1) p->drawPolyline(run);
                    run.clear();
                    run << a;
                }
                run << b;
            }
            if (run.size() > 1) p->drawPolyline(run);
        }
    };
    if (gapPen) draw(*gapPen);
    draw(pen);
}

}  // namespace gdi::detail

namespace gdi::detail {

QRegion PathRegion(const QPainterPath& path, const QRect& limit) {
    RegionBuilder builder;
    std::vector<std::vector<PointD>> contours;
    for (const QPolygonF& poly : path.toSubpathPolygons()) {
        auto& c = contours.emplace_back();
        for (const QPointF& pt : poly) c.push_back({pt.x(), pt.y()});
    }
    const Window w{limit.left(), limit.top(), limit.right() + 1, limit.bottom() + 1};
    ScanPolygon(contours, path.fillRule() == Qt::WindingFill, w,
                [&](int y, int x0, int x1) { builder.Add(y, x0, x1); });
    return builder.Finish();
}

}  // namespace gdi::detail
