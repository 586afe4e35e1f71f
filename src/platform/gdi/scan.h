#pragma once
// Scan conversion of the layer's own: polygons become rows of pixel spans.
// Coordinates are device units in which pixel x covers [x, x + 1): a pixel
// belongs to a polygon when its centre (x + 0.5, y + 0.5) lies inside, with
// the right and bottom boundaries outside, so a rectangle (l, t, r, b)
// covers l..r-1 x t..b-1. A polygon whose vertices name pixels, as the
// points of a polyline do, is given through those pixels' centres: its fill
// then keeps to the inside of the line drawn through them (see PixelCentres).
// Only the rows and columns of the given window are visited, so shapes of
// any size cost no more than the part that can show. Curved shapes are in
// shapes.h.
#include <QRegion>
#include <algorithm>
#include <cmath>
#include <span>
#include <vector>

namespace gdi::detail {

struct PointD {
    double x = 0;
    double y = 0;
};

struct Window {
    int x0, y0, x1, y1;  // [x0, x1) x [y0, y1)
};

inline int FirstPixel(double edge) {
    const double v = std::ceil(edge - 0.5);
    return v < -2147483647.0 ? -2147483647 : v > 2147483647.0 ? 2147483647 : static_cast<int>(v);
}

// Rows [FirstRow, LastRow) whose centres lie in [top, bottom), within the window.
inline void RowRange(double top, double bottom, const Window& w, int& first, int& last) {
    first = std::max(w.y0, FirstPixel(top));
    last = std::min(w.y1, FirstPixel(bottom));
}

// Calls add(y, x0, x1) with the spans [x0, x1) of each row of the
// polygon (one or more closed contours), left to right and disjoint.
template <class Emit>
void ScanPolygon(std::span<const std::vector<PointD>> contours, bool winding, const Window& w,
                 Emit&& add) {
    struct Edge {
        double y0, y1, x0, dxdy;
        int dir;
    };
    std::vector<Edge> edges;
    double top = 0, bottom = 0;
    bool any = false;
    for (const auto& c : contours) {
        const std::size_t n = c.size();
        for (std::size_t i = 0; i < n; ++i) {
            PointD a = c[i], b = c[(i + 1) % n];
            if (!any) top = bottom = a.y, any = true;
            top = std::min(top, a.y);
            bottom = std::max(bottom, a.y);
            if (a.y == b.y) continue;
            int dir = 1;
            if (a.y > b.y) std::swap(a, b), dir = -1;
            edges.push_back({a.y, b.y, a.x, (b.x - a.x) / (b.y - a.y), dir});
        }
    }
    if (edges.empty()) return;
    int first, last;
    RowRange(top, bottom, w, first, last);
    std::sort(edges.begin(), edges.end(), [](const Edge& a, const Edge& b) { return a.y0 < b.y0; });
    std::vector<const Edge*> active;
    std::vector<std::pair<double, int>> xs;
    std::size_t next = 0;
    for (int y = first; y < last; ++y) {
        const double yc = y + 0.5;
        while (next < edges.size() && edges[next].y0 <= yc) active.push_back(&edges[next++]);
        active.erase(std::remove_if(active.begin(), active.end(),
                                    [yc](const Edge* e) { return e->y1 <= yc; }),
                     active.end());
        xs.clear();
        for (const Edge* e : active)
            if (e->y0 <= yc) xs.emplace_back(e->x0 + (yc - e->y0) * e->dxdy, e->dir);
        std::sort(xs.begin(), xs.end());
        int runStart = 0;
        bool inRun = false;
        int count = 0;
        for (std::size_t i = 0; i < xs.size(); ++i) {
            const bool wasInside = winding ? count != 0 : (count & 1) != 0;
            count += winding ? xs[i].second : 1;
            const bool inside = winding ? count != 0 : (count & 1) != 0;
            if (!wasInside && inside) {
                runStart = FirstPixel(xs[i].first);
                inRun = true;
            } else if (wasInside && !inside && inRun) {
                const int x0 = std::max(w.x0, runStart);
                const int x1 = std::min(w.x1, FirstPixel(xs[i].first));
                if (x0 < x1) add(y, x0, x1);
                inRun = false;
            }
        }
    }
}

// The contour through the centres of the pixels that points name.
template <class Point>
std::vector<PointD> PixelCentres(std::span<const Point> points) {
    std::vector<PointD> contour;
    contour.reserve(points.size());
    for (const Point& p : points) contour.push_back({p.x + 0.5, p.y + 0.5});
    return contour;
}

// Collects spans row by row (rows ascending, spans of a row left to right
// and disjoint) into a region, joining rows that repeat the row above.
class RegionBuilder {
public:
    void Add(int y, int x0, int x1) {
        if (y != row_y_) FlushRow(y);
        row_.push_back({x0, x1});
    }
    QRegion Finish() {
        FlushRow(row_y_ + 1);
        CloseBand();
        QRegion region;
        if (!rects_.empty()) region.setRects(rects_.data(), static_cast<int>(rects_.size()));
        return region;
    }

private:
    struct Span {
        int x0, x1;
        bool operator==(const Span&) const = default;
    };
    void FlushRow(int nextY) {
        if (!row_.empty()) {
            if (row_y_ == band_y1_ && row_ == band_) {
                ++band_y1_;
            } else {
                CloseBand();
                band_ = row_;
                band_y0_ = row_y_;
                band_y1_ = row_y_ + 1;
            }
        }
        row_.clear();
        row_y_ = nextY;
    }
    void CloseBand() {
        for (const Span& s : band_) rects_.emplace_back(s.x0, band_y0_, s.x1 - s.x0, band_y1_ - band_y0_);
        band_.clear();
    }
    std::vector<Span> row_, band_;
    int row_y_ = INT32_MIN / 2;
    int band_y0_ = 0, band_y1_ = INT32_MIN / 2;
    std::vector<QRect> rects_;
};

}  // namespace gdi::detail
