// Regions: made by our own scan conversion (scan.h, shapes.h) so that the
// pixels of a region are the ones our fills cover, and combined with the
// toolkit's region arithmetic, which is exact on integer rectangles.
#include <algorithm>

#include "platform/gdi/objects.h"
#include "platform/gdi/qt_gdi.h"
#include "platform/gdi/scan.h"
#include "platform/gdi/shapes.h"

namespace gdi {

namespace {

constexpr detail::Window kUniverse{-kRegionLimit, -kRegionLimit, kRegionLimit, kRegionLimit};

int Clamp(int v) { return std::clamp(v, -kRegionLimit, kRegionLimit); }

HRGN MakeRegion(QRegion r) {
    auto rgn = std::make_shared<Region>();
    rgn->impl().region = std::move(r);
    return rgn;
}

int KindOf(const QRegion& r) {
    if (r.isEmpty()) return NULLREGION;
    return r.rectCount() == 1 ? SIMPLEREGION : COMPLEXREGION;
}

void Normalise(int& a, int& b) {
    if (a > b) std::swap(a, b);
}

}  // namespace

Region::Region() : impl_(std::make_unique<Impl>()) {}
Region::~Region() = default;

HRGN CreateRectRgn(int left, int top, int right, int bottom) {
    Normalise(left, right);
    Normalise(top, bottom);
    left = Clamp(left), right = Clamp(right), top = Clamp(top), bottom = Clamp(bottom);
    if (left == right || top == bottom) return MakeRegion(QRegion());
    return MakeRegion(QRegion(left, top, right - left, bottom - top));
}

HRGN CreateRectRgnIndirect(const RECT& r) { return CreateRectRgn(r.left, r.top, r.right, r.bottom); }

HRGN CreateRoundRectRgn(int left, int top, int right, int bottom, int w, int h) {
    Normalise(left, right);
    Normalise(top, bottom);
    detail::RegionBuilder b;
    detail::ScanRows(detail::RoundRectRows(left, top, right, bottom, w, h), kUniverse,
                     [&](int y, int x0, int x1) { b.Add(y, x0, x1); });
    return MakeRegion(b.Finish());
}

HRGN CreateEllipticRgn(int left, int top, int right, int bottom) {
    Normalise(left, right);
    Normalise(top, bottom);
    detail::RegionBuilder b;
    detail::ScanRows(detail::EllipseRows(left, top, right, bottom), kUniverse,
                     [&](int y, int x0, int x1) { b.Add(y, x0, x1); });
    return MakeRegion(b.Finish());
}

HRGN CreateEllipticRgnIndirect(const RECT& r) {
    return CreateEllipticRgn(r.left, r.top, r.right, r.bottom);
}

HRGN CreatePolygonRgn(std::span<const POINT> points, int fillMode) {
    // The pixels Polygon fills with these points.
    detail::RegionBuilder b;
    if (points.size() >= 3) {
        const std::vector<detail::PointD> one[] = {detail::PixelCentres(points)};
        detail::ScanPolygon(one, fillMode == WINDING, kUniverse,
                            [&](int y, int x0, int x1) { b.Add(y, x0, x1); });
    }
    return MakeRegion(b.Finish());
}

int CombineRgn(const HRGN& dest, const HRGN& a, const HRGN& b, int mode) {
    if (!dest || !a) return RGN_ERROR;
    const QRegion& ra = a->impl().region;
    QRegion result;
    if (mode == RGN_COPY) {
        result = ra;
    } else {
        if (!b) return RGN_ERROR;
        const QRegion& rb = b->impl().region;
        switch (mode) {
            case RGN_AND: result = ra.intersected(rb); break;
            case RGN_OR: result = ra.united(rb); break;
            case RGN_XOR: result = ra.xored(rb); break;
            case RGN_DIFF: result = ra.subtracted(rb); break;
            default: return RGN_ERROR;
        }
    }
    dest->impl().region = std::move(result);
    return KindOf(dest->impl().region);
}

int GetRgnBox(const HRGN& rgn, RECT* box) {
    if (!rgn || !box) return RGN_ERROR;
    const QRect r = rgn->impl().region.boundingRect();
    *box = r.isEmpty() ? RECT{} : RECT{r.left(), r.top(), r.right() + 1, r.bottom() + 1};
    return KindOf(rgn->impl().region);
}

bool PtInRegion(const HRGN& rgn, int x, int y) {
    return rgn && rgn->impl().region.contains(QPoint(x, y));
}

bool EqualRgn(const HRGN& a, const HRGN& b) {
    return a && b && a->impl().region == b->impl().region;
}

int OffsetRgn(const HRGN& rgn, int dx, int dy) {
    if (!rgn) return RGN_ERROR;
    QRegion& r = rgn->impl().region;
    const QRect box = r.boundingRect();
    // Keep the region inside the limits: what moves beyond them is dropped.
    const long long limit = kRegionLimit;
    if (!r.isEmpty() && (box.left() + (long long)dx < -limit || box.right() + (long long)dx >= limit ||
                         box.top() + (long long)dy < -limit || box.bottom() + (long long)dy >= limit)) {
        const int cdx = static_cast<int>(std::clamp<long long>(dx, -3 * limit, 3 * limit));
        const int cdy = static_cast<int>(std::clamp<long long>(dy, -3 * limit, 3 * limit));
        r = r.translated(cdx, cdy).intersected(
            QRect(-kRegionLimit, -kRegionLimit, 2 * kRegionLimit, 2 * kRegionLimit));
    } else {
        r.translate(dx, dy);
    }
    return KindOf(r);
}

std::vector<RECT> GetRegionRects(const HRGN& rgn) {
    std::vector<RECT> out;
    if (!rgn) return out;
    for (const QRect& r : rgn->impl().region)
        out.push_back({r.left(), r.top(), r.right() + 1, r.bottom() + 1});
    return out;
}

}  // namespace gdi
