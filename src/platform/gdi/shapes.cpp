#include "platform/gdi/shapes.h"

#include <climits>
#include <utility>

namespace gdi::detail {

namespace {

using i64 = std::int64_t;
using i128 = __int128;

i128 FloorDiv(i128 a, i128 b) {
    i128 q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}
i128 CeilDiv(i128 a, i128 b) { return -FloorDiv(-a, b); }

int ClampToInt(i128 v) {
    return v < INT_MIN ? INT_MIN : v > INT_MAX ? INT_MAX : static_cast<int>(v);
}

// Every pixel of a row.
void AllOf(RowSpans& out) { out.Add(INT_MIN, INT_MAX); }

RowSpans Unite(const RowSpans& a, const RowSpans& b) {
    RowSpans out;
    int i = 0, j = 0;
    while (i < a.n || j < b.n) {
        if (j >= b.n || (i < a.n && a.s[i].x0 <= b.s[j].x0)) {
            out.Add(a.s[i].x0, a.s[i].x1);
            ++i;
        } else {
            out.Add(b.s[j].x0, b.s[j].x1);
            ++j;
        }
    }
    return out;
}

}  // namespace

ArcCut::ArcCut(Kind kind, int l, int t, int r, int b, int xs, int ys, int xe, int ye, bool clockwise)
    : kind_(kind), cx2_(i64(l) + r), cy2_(i64(t) + b) {
    // Doubled, the centres of pixels and of the box are whole numbers, so
    // which side of a ray a pixel lies on is decided exactly: pies that
    // share a ray share out its pixels.
    ux_ = 2 * i64(xs) + 1 - cx2_;
    uy_ = 2 * i64(ys) + 1 - cy2_;
    vx_ = 2 * i64(xe) + 1 - cx2_;
    vy_ = 2 * i64(ye) + 1 - cy2_;
    // A point at the centre gives no direction: it stands for angle 0.
    if (ux_ == 0 && uy_ == 0) ux_ = 1;
    if (vx_ == 0 && vy_ == 0) vx_ = 1;
    if (clockwise) {
        std::swap(ux_, vx_);
        std::swap(uy_, vy_);
    }
    // turn > 0: the end ray lies less than half a turn on from the start,
    // counter-clockwise as seen on the screen (device y runs down).
    const i128 turn = i128(uy_) * vx_ - i128(ux_) * vy_;
    const i128 dot = i128(ux_) * vx_ + i128(uy_) * vy_;
    whole_ = turn == 0 && dot > 0;  // both rays alike: the whole ellipse
    wide_ = turn < 0;
    constexpr std::int64_t kSmall = std::int64_t{1} << 30;
    auto small = [](std::int64_t v) { return v > -kSmall && v < kSmall; };
    small_ = small(ux_) && small(uy_) && small(vx_) && small(vy_) && small(cx2_) && small(cy2_);
}

bool ArcCut::InSweep(i64 dx, i64 dy) const {
    if (whole_) return true;
    const bool fromStart = i128(uy_) * dx - i128(ux_) * dy >= 0;
    const bool toEnd = -i128(vy_) * dx + i128(vx_) * dy > 0;
    return wide_ ? fromStart || toEnd : fromStart && toEnd;
}

bool ArcCut::Reach(const EllipseRows& ellipse, double& top, double& bottom) const {
    if (whole_) return false;
    double ends[2];
    if (kind_ == Kind::Chord) {
        ends[0] = ay_;
        ends[1] = by_;
    } else {
        ends[0] = ellipse.YOnRay(double(ux_), double(uy_));
        ends[1] = ellipse.YOnRay(double(vx_), double(vy_));
    }
    top = std::min(ends[0], ends[1]);
    bottom = std::max(ends[0], ends[1]);
    if (kind_ == Kind::Pie) {
        top = std::min(top, ellipse.CentreY());
        bottom = std::max(bottom, ellipse.CentreY());
    }
    if (InSweep(0, -1)) top = ellipse.TopEdge();
    if (InSweep(0, 1)) bottom = ellipse.BottomEdge();
    return true;
}

void ArcCut::SetChordEllipse(double l, double t, double r, double b) {
    const double cx = (l + r) / 2, cy = (t + b) / 2, rx = (r - l) / 2, ry = (b - t) / 2;
    auto onEllipse = [&](double dx, double dy, double& x, double& y) {
        const double k = std::hypot(rx > 0 ? dx / rx : 0.0, ry > 0 ? dy / ry : 0.0);
        x = cx + (k > 0 ? dx / k : 0.0);
        y = cy + (k > 0 ? dy / k : 0.0);
    };
    onEllipse(double(ux_), double(uy_), ax_, ay_);
    onEllipse(double(vx_), double(vy_), bx_, by_);
}

void ArcCut::HalfRow(i64 a, i128 c, bool strict, RowSpans& out) const {
    // The doubled centre of pixel x is X = 2x + 1 - cx2.
    out.n = 0;
    if (a == 0) {
        if (c > 0 || (c == 0 && !strict)) AllOf(out);
        return;
    }
    if (small_ && c > -(i128(1) << 62) && c < (i128(1) << 62)) {
        // The common case in 64 bits, which divide several times faster.
        const i64 c64 = static_cast<i64>(c);
        auto floorDiv = [](i64 n, i64 d) { return n / d - ((n % d != 0) && ((n < 0) != (d < 0))); };
        auto ceilDiv = [&](i64 n, i64 d) { return -floorDiv(-n, d); };
        if (a > 0) {
            const i64 xMin = strict ? floorDiv(-c64, a) + 1 : ceilDiv(-c64, a);
            out.Add(ClampToInt(ceilDiv(xMin - 1 + cx2_, 2)), INT_MAX);
        } else {
            const i64 xMax = strict ? ceilDiv(c64, -a) - 1 : floorDiv(c64, -a);
            out.Add(INT_MIN, ClampToInt(i128(floorDiv(xMax - 1 + cx2_, 2)) + 1));
        }
        return;
    }
    if (a > 0) {
        const i128 xMin = strict ? FloorDiv(-c, a) + 1 : CeilDiv(-c, a);
        out.Add(ClampToInt(CeilDiv(xMin - 1 + cx2_, 2)), INT_MAX);
    } else {
        const i128 xMax = strict ? CeilDiv(c, -i128(a)) - 1 : FloorDiv(c, -i128(a));
        out.Add(INT_MIN, ClampToInt(FloorDiv(xMax - 1 + cx2_, 2) + 1));
    }
}

void ArcCut::Row(int y, RowSpans& out) const {
    out.n = 0;
    if (whole_) {
        AllOf(out);
        return;
    }
    if (kind_ == Kind::Chord) {
        // The side of the chord from start to end that holds the arc.
        const double dx = bx_ - ax_, dy = by_ - ay_, yc = y + 0.5;
        const double a = -dy, c = dx * (yc - ay_) + dy * ax_;
        if (a == 0) {
            if (c >= 0) AllOf(out);
        } else if (a > 0) {
            out.Add(FirstPixel(-c / a), INT_MAX);
        } else {
            // Centres at or before c / -a: up to floor(c / -a - 0.5).
            const double last = std::floor(c / -a - 0.5);
            out.Add(INT_MIN, last >= INT_MAX - 1.0 ? INT_MAX : last < INT_MIN ? INT_MIN : int(last) + 1);
        }
        return;
    }
    // A pie: from the start ray (its pixels in) to the end ray (out).
    const i64 py = 2 * i64(y) + 1 - cy2_;
    RowSpans fromStart, toEnd;
    HalfRow(uy_, -i128(ux_) * py, false, fromStart);
    HalfRow(-vy_, i128(vx_) * py, true, toEnd);
    out = wide_ ? Unite(fromStart, toEnd) : Intersect(fromStart, toEnd);
}

}  // namespace gdi::detail
