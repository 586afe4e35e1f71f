#pragma once
// The outline of a shape of shapes.h in the order a pen goes round it, so
// that a dash pattern can run along it: each contour is followed from its
// top-left pixel, clockwise on the screen, from neighbour to neighbour
// (corners included). Only the part of the shape within `bounds` is
// followed: the bounds are the surface with a wide margin, never the clip,
// so that a clip changes none of the dashes it lets through.
#include <algorithm>
#include <cstdint>
#include <unordered_set>
#include <vector>

#include "platform/gdi/shapes.h"

namespace gdi::detail {

// visit(x, y, step) once for each outline pixel of the shape within bounds
// (a pixel of the shape with a side-neighbour outside it); step counts the
// outline pixels passed along the contours so far, so a pixel that a
// contour passes twice (a one-pixel neck) moves the pattern on both times.
template <class Shape, class Visit>
void WalkOutline(const Shape& shape, const Window& bounds, Visit&& visit) {
    const int y0 = std::max(bounds.y0, shape.Top()), y1 = std::min(bounds.y1, shape.Bottom());
    if (y0 >= y1 || bounds.x0 >= bounds.x1) return;
    std::vector<RowSpans> rows(static_cast<std::size_t>(y1 - y0) + 2);  // rows y0 - 1 .. y1
    for (int y = y0 - 1; y <= y1; ++y) shape.Row(y, rows[static_cast<std::size_t>(y - y0 + 1)]);
    auto row = [&](int y) -> const RowSpans& { return rows[static_cast<std::size_t>(y - y0 + 1)]; };
    auto inShape = [&](int x, int y) { return row(y).Contains(x); };  // y0 - 1 <= y <= y1
    auto member = [&](int x, int y) {
        return y >= y0 && y < y1 && x >= bounds.x0 && x < bounds.x1 && inShape(x, y);
    };
    auto onOutline = [&](int x, int y) {
        return !(inShape(x - 1, y) && inShape(x + 1, y) && inShape(x, y - 1) && inShape(x, y + 1));
    };

    auto key = [](int x, int y) {
        return (std::uint64_t(std::uint32_t(y)) << 32) | std::uint32_t(x);
    };
    std::unordered_set<std::uint64_t> walked;
    long long step = 0;
    auto pass = [&](int x, int y) {
        const bool first = walked.insert(key(x, y)).second;
        if (!onOutline(x, y)) return;  // an edge of the bounds, not of the shape
        if (first) visit(x, y, step);
        ++step;
    };

    // Neighbours clockwise on the screen from the right.
    static constexpr int kDx[8] = {1, 1, 0, -1, -1, -1, 0, 1};
    static constexpr int kDy[8] = {0, 1, 1, 1, 0, -1, -1, -1};
    static constexpr int kDirection[3][3] = {{5, 4, 3}, {6, -1, 2}, {7, 0, 1}};  // [dx + 1][dy + 1]
    // Enough steps to go round any contour within the bounds twice.
    const long long limit =
        8 * ((long long)(y1 - y0) + (long long)bounds.x1 - bounds.x0) + 64;
    auto follow = [&](int sx, int sy) {
        pass(sx, sy);
        int x = sx, y = sy;
        int outside = 4;  // the neighbour to the left is not in the shape
        int firstMove = -1;
        for (long long n = 0; n < limit; ++n) {
            int move = -1;
            for (int k = 1; k <= 8; ++k) {
                const int d = (outside + k) & 7;
                if (member(x + kDx[d], y + kDy[d])) {
                    move = d;
                    break;
                }
            }
            if (move < 0) return;  // a pixel on its own
            if (x == sx && y == sy) {
                if (firstMove < 0) firstMove = move;
                else if (move == firstMove) return;  // round once
            }
            // The neighbour looked at last was outside: look from there next.
            const int ox = x + kDx[(move + 7) & 7], oy = y + kDy[(move + 7) & 7];
            x += kDx[move];
            y += kDy[move];
            outside = kDirection[ox - x + 1][oy - y + 1];
            pass(x, y);
        }
    };

    // Every contour starts at a pixel whose left neighbour is outside: the
    // first pixel of a span that no contour has passed yet.
    for (int y = y0; y < y1; ++y) {
        const RowSpans& r = row(y);
        for (int i = 0; i < r.n; ++i) {
            const int sx = std::max(r.s[i].x0, bounds.x0);
            if (sx < std::min(r.s[i].x1, bounds.x1) && !walked.count(key(sx, y))) follow(sx, y);
        }
    }
    // Outline pixels no contour reached, should there be any, still get drawn.
    for (int y = y0; y < y1; ++y) {
        const RowSpans inside = InsideRow(row(y - 1), row(y), row(y + 1));
        const RowSpans outline = Subtract(row(y), inside);
        for (int i = 0; i < outline.n; ++i)
            for (int x = std::max(outline.s[i].x0, bounds.x0), e = std::min(outline.s[i].x1, bounds.x1);
                 x < e; ++x)
                if (walked.insert(key(x, y)).second) visit(x, y, step++);
    }
}

}  // namespace gdi::detail
