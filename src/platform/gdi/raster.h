#pragma once
// The pixel engine behind a raster device context (private to gdi/).
//
// Who sets which pixels:
//   - one-pixel lines, area fills (rectangles, polygons, ellipses, pies,
//     paths, regions), pixels and block transfers are ours: the line walker
//     and the span filler write the target's memory, with the 16 ROP2 modes
//     and the ternary raster operations computed here, clipped here;
//   - wide pens, curve outlines and text are drawn by the toolkit's painter
//     with antialiasing off, clipped by it to the same region.
// On a window target (no pixel memory) our spans and pixels become
// painter rectangles and points with the matching composition mode.
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>
#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "platform/gdi/line_walker.h"
#include "platform/gdi/objects.h"
#include "platform/gdi/scan.h"

namespace gdi::detail {

// How spans are painted: a solid colour or a tile aligned with the device
// origin (alpha 0 in the tile leaves the destination as it is).
struct SpanPaint {
    QRgb color = 0xFF000000u;
    const QImage* tile = nullptr;  // Format_ARGB32
    int rop2 = 13;                 // R2_COPYPEN
};

// A one-pixel pen for the line walker.
struct ThinPen {
    QRgb color = 0xFF000000u;
    QRgb gap_color = 0xFFFFFFFFu;
    bool opaque_gaps = false;   // styled pens: gaps take gap_color
    std::vector<int> dashes;    // on, off, on, ... in pixels; empty: solid
    int rop2 = 13;
};

// Where the dash pattern of a styled pen stands at a pixel index.
class DashState {
public:
    explicit DashState(const std::vector<int>& dashes) {
        long long sum = 0;
        for (int d : dashes) ends_.push_back(sum += std::max(d, 0));
        period_ = sum;
    }
    bool On(long long index) const {
        if (period_ <= 0) return true;
        const long long pos = index % period_;
        const auto it = std::upper_bound(ends_.begin(), ends_.end(), pos);
        return ((it - ends_.begin()) & 1) == 0;
    }

private:
    std::vector<long long> ends_;
    long long period_ = 0;
};

// The visible part of the surface: the device rectangle and the clip.
class ClipShape {
public:
    void Set(int width, int height, const QRegion* clip);
    const QRect& Box() const { return box_; }
    bool Simple() const { return simple_; }
    const QRegion& Region() const { return region_; }  // device part of the clip
    bool HasClip() const { return has_clip_; }
    // Calls f(a, b) for the visible parts [a, b) of row y's [x0, x1).
    template <class F>
    void ForEach(int y, int x0, int x1, F&& f) const;
    bool Visible(int x, int y) const;  // within Box()

private:
    struct Band {
        int y0, y1;
        std::size_t first, count;
    };
    const Band* BandAt(int y) const;
    QRect box_;
    bool simple_ = true;
    bool has_clip_ = false;
    QRegion region_;
    std::vector<Band> bands_;
    std::vector<std::pair<int, int>> spans_;
    mutable std::vector<std::uint8_t> mask_;
};

class Raster {
public:
    // A bitmap's pixels (null or empty: nothing is drawn).
    explicit Raster(Bitmap::Impl* bitmap);
    // A window's painter: drawn through, never read.
    Raster(QPainter* external, int width, int height);
    ~Raster();
    Raster(const Raster&) = delete;
    Raster& operator=(const Raster&) = delete;

    // Takes up a change of the bitmap's size since the last call.
    void Refresh();
    int Width() const { return width_; }
    int Height() const { return height_; }
    bool CanDraw() const { return width_ > 0 && height_ > 0; }
    bool HasMemory() const { return image_ != nullptr; }
    const QImage* Image() const { return image_; }

    void SetClip(const QRegion* clip);
    const ClipShape& Clip() const { return clip_; }

    // ---- Our pixels
    void FillSpan(int y, int x0, int x1, const SpanPaint& paint);
    void FillBox(QRect r, const SpanPaint& paint);
    void FillPolygons(std::span<const std::vector<PointD>> contours, bool winding,
                      const SpanPaint& paint);
    void FillPath(const QPainterPath& path, const SpanPaint& paint);
    void FillRegion(const QRegion& region, const SpanPaint& paint);
    void ThinPolyline(std::span<const POINT> points, bool closed, const ThinPen& pen);
    bool SetPixel(int x, int y, QRgb color);
    QRgb GetPixel(int x, int y) const;  // 0 when unreadable (check Readable)
    bool Readable(int x, int y) const;
    // Ternary raster operation over dest (x, y, w, h) with an optional source
    // sampled nearest from (sx, sy, sw, sh) and the brush's pattern.
    void Blt(int x, int y, int w, int h, const QImage* source, int sx, int sy, int sw, int sh,
             DWORD rop, const SpanPaint& pattern);
    void AlphaBlt(int x, int y, int w, int h, const QImage& source, int sx, int sy, int sw, int sh,
                  int constantAlpha, bool perPixel);

    // ---- The toolkit's painter, clipped and set for the ROP2 mode; null
    // when nothing can be drawn (R2_NOP, empty surface).
    QPainter* Painter(int rop2);
    void EndPainter();
    // Strokes a path with a wide or curved pen; opaque_gap draws the gaps of a
    // styled pen first. Paths far beyond the surface are cut to it first.
    void Stroke(const QPainterPath& path, const QPen& pen, int rop2, const QPen* gapPen);

private:
    void WriteSpan32(int y, int x0, int x1, const SpanPaint& paint);
    void WriteSpan24(int y, int x0, int x1, const SpanPaint& paint);
    void BeginPainter();

    Bitmap::Impl* bitmap_ = nullptr;
    QImage* image_ = nullptr;
    QPainter* external_ = nullptr;
    std::unique_ptr<QPainter> own_painter_;
    int width_ = 0;
    int height_ = 0;
    ClipShape clip_;
    std::optional<QRegion> clip_region_;
    bool painter_clip_dirty_ = true;
    // Pixels a polyline has set, so that a mode that is not idempotent
    // touches each pixel of one call once.
    std::vector<std::uint64_t> visited_;
    std::vector<std::size_t> visited_words_;
};

template <class F>
void ClipShape::ForEach(int y, int x0, int x1, F&& f) const {
    if (y < box_.top() || y > box_.bottom()) return;
    x0 = std::max(x0, box_.left());
    x1 = std::min(x1, box_.right() + 1);
    if (x0 >= x1) return;
    if (simple_) {
        f(x0, x1);
        return;
    }
    const Band* band = BandAt(y);
    if (!band) return;
    for (std::size_t i = band->first; i < band->first + band->count; ++i) {
        const int a = std::max(x0, spans_[i].first), b = std::min(x1, spans_[i].second);
        if (a < b) f(a, b);
    }
}

// The pixels the fill of a path covers, within limit (paths to clip to).
QRegion PathRegion(const QPainterPath& path, const QRect& limit);

// The 16 ROP2 modes on 24-bit colours; the result is opaque.
inline QRgb Rop2(int rop, QRgb p, QRgb d) {
    QRgb r;
    switch (rop) {
        case 1: r = 0; break;               // R2_BLACK
        case 2: r = ~(p | d); break;        // R2_NOTMERGEPEN
        case 3: r = ~p & d; break;          // R2_MASKNOTPEN
        case 4: r = ~p; break;              // R2_NOTCOPYPEN
        case 5: r = p & ~d; break;          // R2_MASKPENNOT
        case 6: r = ~d; break;              // R2_NOT
        case 7: r = p ^ d; break;           // R2_XORPEN
        case 8: r = ~(p & d); break;        // R2_NOTMASKPEN
        case 9: r = p & d; break;           // R2_MASKPEN
        case 10: r = ~(p ^ d); break;       // R2_NOTXORPEN
        case 11: r = d; break;              // R2_NOP
        case 12: r = ~p | d; break;         // R2_MERGENOTPEN
        case 14: r = p | ~d; break;         // R2_MERGEPENNOT
        case 15: r = p | d; break;          // R2_MERGEPEN
        case 16: r = 0xFFFFFFu; break;      // R2_WHITE
        default: r = p; break;              // R2_COPYPEN
    }
    return r | 0xFF000000u;
}

// Whether a ternary operation reads its pattern (bit 4), source (2) or
// destination (1).
inline bool RopUses(DWORD rop, unsigned bit) {
    const unsigned table = (rop >> 16) & 0xFFu;
    for (unsigned i = 0; i < 8; ++i)
        if (((table >> i) & 1u) != ((table >> (i ^ bit)) & 1u)) return true;
    return false;
}

// Modes for which drawing a pixel twice equals drawing it once.
inline bool Rop2Idempotent(int rop) {
    switch (rop) {
        case 1: case 3: case 4: case 9: case 11: case 12: case 13: case 15: case 16: return true;
        default: return false;
    }
}

// Ternary operation: bits 16..23 of rop are the truth table indexed by
// (pattern << 2) | (source << 1) | destination.
inline QRgb Rop3(DWORD rop, QRgb p, QRgb s, QRgb d) {
    const unsigned table = (rop >> 16) & 0xFFu;
    QRgb r = 0;
    for (unsigned i = 0; i < 8; ++i)
        if (table & (1u << i))
            r |= ((i & 4) ? p : ~p) & ((i & 2) ? s : ~s) & ((i & 1) ? d : ~d);
    return r | 0xFF000000u;
}

}  // namespace gdi::detail
