#pragma once
// Curved shapes as rows of pixels: ellipses, rounded rectangles, and the
// pies and chords cut from an ellipse. A shape is given by its box in
// device units (a pixel x covers [x, x + 1)) and holds the pixels whose
// centres lie inside it, left and top boundaries in, right and bottom out;
// so the shape of a box (l, t, r, b) reaches from column l to r - 1.
//
// A shape drawn with a one-pixel pen is those pixels: its outline is every
// one of them with a side-neighbour outside the shape, its inside the rest
// (ScanOutlined). Fill and outline then meet exactly: no inside pixel lies
// beyond the outline and none of the background between them. Without a
// pen the fill keeps to the same pixels less the right and bottom edges.
//
// Each shape answers Top(), Bottom() (its rows are [Top, Bottom)) and
// Row(y, spans), and costs nothing for rows that are not asked for.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

#include "platform/gdi/scan.h"

namespace gdi::detail {

// Up to eight disjoint spans [x0, x1) of one row, left to right. A shape's
// row has one span, or two where a pie of more than half its ellipse
// leaves a notch: the rows made from them here stay well within eight.
struct RowSpans {
    struct Span {
        int x0, x1;
    };
    int n = 0;
    std::array<Span, 8> s{};

    void Add(int x0, int x1) {
        if (x0 >= x1) return;
        if (n > 0 && s[n - 1].x1 >= x0) {
            s[n - 1].x1 = std::max(s[n - 1].x1, x1);
            return;
        }
        if (n < static_cast<int>(s.size())) s[n++] = {x0, x1};
    }
    bool Contains(int x) const {
        for (int i = 0; i < n; ++i)
            if (x >= s[i].x0 && x < s[i].x1) return true;
        return false;
    }
};

// The pixels in both a and b.
inline RowSpans Intersect(const RowSpans& a, const RowSpans& b) {
    RowSpans out;
    for (int i = 0, j = 0; i < a.n && j < b.n;) {
        out.Add(std::max(a.s[i].x0, b.s[j].x0), std::min(a.s[i].x1, b.s[j].x1));
        if (a.s[i].x1 < b.s[j].x1) ++i;
        else ++j;
    }
    return out;
}

// The pixels of a that are not in b.
inline RowSpans Subtract(const RowSpans& a, const RowSpans& b) {
    RowSpans out;
    for (int i = 0; i < a.n; ++i) {
        int from = a.s[i].x0;
        for (int j = 0; j < b.n && from < a.s[i].x1; ++j) {
            if (b.s[j].x1 <= from || b.s[j].x0 >= a.s[i].x1) continue;
            out.Add(from, b.s[j].x0);
            from = std::max(from, b.s[j].x1);
        }
        out.Add(from, a.s[i].x1);
    }
    return out;
}

// Each span less `left` pixels at its start and `right` at its end.
inline RowSpans Shrink(const RowSpans& a, int left, int right) {
    RowSpans out;
    for (int i = 0; i < a.n; ++i) out.Add(a.s[i].x0 + left, a.s[i].x1 - right);
    return out;
}

// ---- Shapes

// The ellipse inscribed in the box (left, top) .. (right, bottom).
class EllipseRows {
public:
    EllipseRows(double left, double top, double right, double bottom)
        : cx_((left + right) / 2), cy_((top + bottom) / 2), rx_((right - left) / 2),
          ry_((bottom - top) / 2), top_(FirstPixel(top)), bottom_(FirstPixel(bottom)) {
        if (rx_ <= 0 || ry_ <= 0) bottom_ = top_;
    }
    int Top() const { return top_; }
    int Bottom() const { return bottom_; }
    double CentreY() const { return cy_; }
    // Where the ray from the centre in direction (dx, dy) meets the ellipse.
    double YOnRay(double dx, double dy) const {
        if (rx_ <= 0 || ry_ <= 0) return cy_;
        const double k = std::hypot(dx / rx_, dy / ry_);
        return k > 0 ? cy_ + dy / k : cy_;
    }
    double TopEdge() const { return cy_ - ry_; }
    double BottomEdge() const { return cy_ + ry_; }
    void Row(int y, RowSpans& out) const {
        out.n = 0;
        const double d = (y + 0.5 - cy_) / ry_;
        if (y < top_ || y >= bottom_ || d <= -1 || d >= 1) return;
        const double half = rx_ * std::sqrt(1 - d * d);
        out.Add(FirstPixel(cx_ - half), FirstPixel(cx_ + half));
    }

private:
    double cx_, cy_, rx_, ry_;
    int top_, bottom_;
};

// A rectangle with corners rounded by an ellipse of ew x eh.
class RoundRectRows {
public:
    RoundRectRows(double left, double top, double right, double bottom, double ew, double eh)
        : left_(left), top_edge_(top), right_(right), bottom_edge_(bottom),
          rx_(std::clamp(std::abs(ew) / 2, 0.0, std::max(0.0, (right - left) / 2))),
          ry_(std::clamp(std::abs(eh) / 2, 0.0, std::max(0.0, (bottom - top) / 2))),
          top_(FirstPixel(top)), bottom_(FirstPixel(bottom)) {
        if (right <= left || bottom <= top) bottom_ = top_;
    }
    int Top() const { return top_; }
    int Bottom() const { return bottom_; }
    void Row(int y, RowSpans& out) const {
        out.n = 0;
        if (y < top_ || y >= bottom_) return;
        const double yc = y + 0.5;
        double inset = 0;
        if (rx_ > 0 && ry_ > 0) {
            double dy = 0;
            if (yc < top_edge_ + ry_) dy = top_edge_ + ry_ - yc;
            else if (yc > bottom_edge_ - ry_) dy = yc - (bottom_edge_ - ry_);
            const double d = dy / ry_;
            inset = d >= 1 ? rx_ : rx_ - rx_ * std::sqrt(1 - d * d);
        }
        out.Add(FirstPixel(left_ + inset), FirstPixel(right_ - inset));
    }

private:
    double left_, top_edge_, right_, bottom_edge_, rx_, ry_;
    int top_, bottom_;
};

// What a pie or a chord keeps of its ellipse. The sweep runs from the ray
// through the centre of pixel (xs, ys) to the ray through (xe, ye),
// counter-clockwise as seen on the screen unless `clockwise`; rays from the
// centre of the box (l, t, r, b), which is where a pie's point lies.
class ArcCut {
public:
    enum class Kind { Pie, Chord };
    ArcCut(Kind kind, int l, int t, int r, int b, int xs, int ys, int xe, int ye, bool clockwise);

    // The chord joins the points where the rays meet the ellipse of this
    // box (the ellipse that the shape's outline follows).
    void SetChordEllipse(double l, double t, double r, double b);

    // Pixels of row y that the cut keeps (all when the sweep is whole).
    void Row(int y, RowSpans& out) const;
    // The rows that what the cut keeps of the ellipse can reach; false
    // when it keeps the whole ellipse.
    bool Reach(const EllipseRows& ellipse, double& top, double& bottom) const;

private:
    // Pixels whose centre X (doubled, from the doubled centre) satisfies
    // a * X + c >= 0, or > 0 when strict.
    void HalfRow(std::int64_t a, __int128 c, bool strict, RowSpans& out) const;
    bool InSweep(std::int64_t dx, std::int64_t dy) const;  // a direction from the centre

    Kind kind_;
    bool whole_ = false;
    bool wide_ = false;  // a pie of more than half the ellipse: either side of a ray
    std::int64_t cx2_, cy2_;  // the box's centre, doubled
    std::int64_t ux_, uy_, vx_, vy_;  // start and end rays, doubled
    bool small_ = false;  // products of rays and rows fit 64 bits
    double ax_ = 0, ay_ = 0, bx_ = 0, by_ = 0;  // the chord's ends
};

// An ellipse cut to a pie or a chord.
class ArcRows {
public:
    ArcRows(const EllipseRows& ellipse, const ArcCut& cut)
        : ellipse_(ellipse), cut_(cut), top_(ellipse.Top()), bottom_(ellipse.Bottom()) {
        // Rows beyond the cut's reach are left alone (a row to spare on each
        // side: the rows themselves decide).
        double top, bottom;
        if (cut.Reach(ellipse, top, bottom)) {
            top_ = static_cast<int>(std::max<long long>(top_, FirstPixel(top) - 1LL));
            bottom_ = static_cast<int>(std::min<long long>(bottom_, FirstPixel(bottom) + 1LL));
        }
    }
    int Top() const { return top_; }
    int Bottom() const { return std::max(top_, bottom_); }
    void Row(int y, RowSpans& out) const {
        out.n = 0;
        if (y < top_ || y >= bottom_) return;
        ellipse_.Row(y, out);
        if (out.n == 0) return;
        RowSpans keep;
        cut_.Row(y, keep);
        out = Intersect(out, keep);
    }

private:
    EllipseRows ellipse_;
    ArcCut cut_;
    int top_, bottom_;
};

// ---- Scanning

// add(y, x0, x1) for every span of the shape within the window.
template <class Shape, class Emit>
void ScanRows(const Shape& shape, const Window& w, Emit&& add) {
    const int first = std::max(w.y0, shape.Top()), last = std::min(w.y1, shape.Bottom());
    RowSpans row;
    for (int y = first; y < last; ++y) {
        shape.Row(y, row);
        for (int i = 0; i < row.n; ++i) {
            const int x0 = std::max(w.x0, row.s[i].x0), x1 = std::min(w.x1, row.s[i].x1);
            if (x0 < x1) add(y, x0, x1);
        }
    }
}

// Rows y - 1, y and y + 1 of a shape, moved down one row at a time.
template <class Shape>
class RowWindow {
public:
    RowWindow(const Shape& shape, int y) : shape_(shape), y_(y) {
        shape_.Row(y - 1, above_);
        shape_.Row(y, row_);
        shape_.Row(y + 1, below_);
    }
    void Next() {
        ++y_;
        above_ = row_;
        row_ = below_;
        shape_.Row(y_ + 1, below_);
    }
    const RowSpans& Above() const { return above_; }
    const RowSpans& Row() const { return row_; }
    const RowSpans& Below() const { return below_; }

private:
    const Shape& shape_;
    int y_;
    RowSpans above_, row_, below_;
};

// The pixels of a row with all four side-neighbours in the shape (its
// inside when it has an outline), from the rows above and below.
inline RowSpans InsideRow(const RowSpans& above, const RowSpans& row, const RowSpans& below) {
    return Intersect(Intersect(Shrink(row, 1, 1), above), below);
}

template <class Emit>
void EmitClipped(int y, const RowSpans& spans, const Window& w, Emit&& add) {
    for (int i = 0; i < spans.n; ++i) {
        const int x0 = std::max(w.x0, spans.s[i].x0), x1 = std::min(w.x1, spans.s[i].x1);
        if (x0 < x1) add(y, x0, x1);
    }
}

// The shape as an outlined figure: inside(y, x0, x1) for the pixels of its
// inside and outline(y, x0, x1) for those of its one-pixel outline, within
// the window. Each pixel of the shape is given once.
template <class Shape, class Inside, class Outline>
void ScanOutlined(const Shape& shape, const Window& w, Inside&& inside, Outline&& outline) {
    const int first = std::max(w.y0, shape.Top()), last = std::min(w.y1, shape.Bottom());
    if (first >= last) return;
    RowWindow<Shape> rows(shape, first);
    for (int y = first; y < last; ++y, rows.Next()) {
        const RowSpans in = InsideRow(rows.Above(), rows.Row(), rows.Below());
        EmitClipped(y, in, w, inside);
        EmitClipped(y, Subtract(rows.Row(), in), w, outline);
    }
}

// The fill of a shape without an outline: its pixels less those of its
// right and bottom edges (whose neighbour to the right or below is outside).
template <class Shape, class Emit>
void ScanWithoutRightAndBottom(const Shape& shape, const Window& w, Emit&& add) {
    const int first = std::max(w.y0, shape.Top()), last = std::min(w.y1, shape.Bottom());
    if (first >= last) return;
    RowWindow<Shape> rows(shape, first);
    for (int y = first; y < last; ++y, rows.Next())
        EmitClipped(y, Intersect(Shrink(rows.Row(), 0, 1), rows.Below()), w, add);
}

}  // namespace gdi::detail
