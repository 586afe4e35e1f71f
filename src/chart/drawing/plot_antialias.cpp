#include "chart/drawing/plot_antialias.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "chart/drawing/plot_filters.h"
#include "chart/drawing/projection_math.h"
#include "chart/drawing/view3d_options.h"
#include "platform/vcl/bitmap.h"

namespace chart {

namespace {

using i64 = long long;

// Dash patterns, eight steps repeating, bit k for step k.
constexpr std::uint8_t kSolidPattern = 0xFF;        // 1,1,1,1,1,1,1,1
constexpr std::uint8_t kDashPattern = 0x77;         // 1,1,1,0,1,1,1,0
constexpr std::uint8_t kDotPattern = 0x33;          // 1,1,0,0,1,1,0,0
constexpr std::uint8_t kDashDotPattern = 0x57;      // 1,1,1,0,1,0,1,0
constexpr std::uint8_t kSmallDotsPattern = 0x55;    // 1,0,1,0,1,0,1,0

bool Drawn(std::uint8_t pattern, i64 step) { return (pattern >> (step & 7)) & 1; }

int Clamp32(i64 v) { return static_cast<int>(std::clamp<i64>(v, INT32_MIN, INT32_MAX)); }

// Halves away from zero.
i64 RoundAway(double v) { return static_cast<i64>(std::round(v)); }

// A pen set up for one operation and given back as it was, handle and all.
class TPenScope {
public:
    explicit TPenScope(vcl::TPen& Pen) : pen_(Pen) { saved_.Assign(Pen); }
    ~TPenScope() { pen_.Assign(saved_); }
    TPenScope(const TPenScope&) = delete;
    TPenScope& operator=(const TPenScope&) = delete;

private:
    vcl::TPen& pen_;
    vcl::TPen saved_;
};

// The background keeps weight W of a channel, the colour the rest.
inline std::uint8_t Mix(int Old, int Color, float W) {
    return static_cast<std::uint8_t>(std::lrintf(static_cast<float>(Old - Color) * W) + Color);
}

}  // namespace

// Where one operation blends its pixels: the rows of the off-screen bitmap
// when it draws there, else the reference canvas pixel by pixel; only what
// the device context's clip lets through is touched.
class TAntiAliasCanvas::TTarget {
public:
    TTarget(TAntiAliasCanvas& Canvas, gdi::COLORREF Color)
        : canvas_(Canvas), rows_(Canvas.Rows()), color_(Color),
          r_(Color & 0xFF), g_((Color >> 8) & 0xFF), b_((Color >> 16) & 0xFF) {
        dc_ = Canvas.GetHandle();
        gdi::RECT box{};
        const int kind = dc_->GetClipBox(&box);
        simple_ = kind == gdi::SIMPLEREGION;
        if (kind != gdi::SIMPLEREGION && kind != gdi::COMPLEXREGION) box = {};
        if (rows_) {
            box.left = std::max(box.left, 0);
            box.top = std::max(box.top, 0);
            box.right = std::min(box.right, Canvas.rows_width_);
            box.bottom = std::min(box.bottom, Canvas.rows_height_);
        }
        x0_ = box.left;
        y0_ = box.top;
        x1_ = box.right;
        y1_ = box.bottom;
    }

    bool Empty() const { return x0_ >= x1_ || y0_ >= y1_; }
    // The visible box, [X0, X1) x [Y0, Y1).
    int X0() const { return x0_; }
    int Y0() const { return y0_; }
    int X1() const { return x1_; }
    int Y1() const { return y1_; }

    // The pixel keeps weight W of what it was.
    void Blend(i64 x, i64 y, float W) {
        if (!Visible(x, y)) return;
        if (rows_) {
            std::uint8_t* p = (*rows_)[static_cast<std::size_t>(y)] + 3 * x;
            p[0] = Mix(p[0], b_, W);
            p[1] = Mix(p[1], g_, W);
            p[2] = Mix(p[2], r_, W);
            return;
        }
        const TColor old = canvas_.TPlotCanvas3D::GetPixel(int(x), int(y));
        if (old == vcl::clNone) return;  // a surface that cannot be read
        const gdi::COLORREF o = vcl::ColorToRGB(old);
        const int r = Mix(o & 0xFF, r_, W), g = Mix((o >> 8) & 0xFF, g_, W), b = Mix((o >> 16) & 0xFF, b_, W);
        canvas_.TPlotCanvas3D::SetPixel(int(x), int(y), static_cast<TColor>(gdi::RGB(r, g, b)));
    }
    // The pixel in the full colour.
    void Put(i64 x, i64 y) {
        if (!Visible(x, y)) return;
        if (rows_) {
            std::uint8_t* p = (*rows_)[static_cast<std::size_t>(y)] + 3 * x;
            p[0] = static_cast<std::uint8_t>(b_);
            p[1] = static_cast<std::uint8_t>(g_);
            p[2] = static_cast<std::uint8_t>(r_);
            return;
        }
        canvas_.TPlotCanvas3D::SetPixel(int(x), int(y), static_cast<TColor>(color_));
    }

private:
    bool Visible(i64 x, i64 y) const {
        if (x < x0_ || x >= x1_ || y < y0_ || y >= y1_) return false;
        return simple_ || dc_->PtVisible(int(x), int(y));
    }

    TAntiAliasCanvas& canvas_;
    const std::vector<std::uint8_t*>* rows_;
    gdi::HDC dc_ = nullptr;
    gdi::COLORREF color_;
    int r_, g_, b_;
    bool simple_ = false;
    int x0_ = 0, y0_ = 0, x1_ = 0, y1_ = 0;
};

class TAntiAliasCanvas::TSuspend {
public:
    explicit TSuspend(TAntiAliasCanvas& Canvas) : canvas_(Canvas) { ++canvas_.suspended_; }
    ~TSuspend() { --canvas_.suspended_; }
    TSuspend(const TSuspend&) = delete;
    TSuspend& operator=(const TSuspend&) = delete;

private:
    TAntiAliasCanvas& canvas_;
};

TAntiAliasCanvas::TAntiAliasCanvas(TAntiAliasCanvasOwner* Tool) : tool_(Tool) {}

TAntiAliasCanvas::~TAntiAliasCanvas() {
    if (tool_) tool_->CanvasFreed(*this);
}

void TAntiAliasCanvas::SetDisabled(bool Value) {
    if (Value == disabled_) return;
    disabled_ = Value;
    Invalidate();
    if (View3DOptions && View3DOptions->Owner()) View3DOptions->Owner()->Invalidate();
}

bool TAntiAliasCanvas::Smoothing() const { return active_ && suspended_ == 0 && !Metafiling && ReferenceCanvas; }

// ---- Activation

void TAntiAliasCanvas::Recompute() {
    active_ = !Metafiling && !disabled_ && GetBufferedDisplay();
    if (active_ && Bitmap()) {
        if (!rows_) rows_ = std::make_unique<TPlotFilter>();
        rows_->Apply(*Bitmap(), {});
        rows_width_ = rows_->Lines.empty() ? 0 : Bitmap()->Width();
        rows_height_ = static_cast<int>(rows_->Lines.size());
    } else {
        rows_.reset();
        rows_width_ = rows_height_ = 0;
    }
}

const std::vector<std::uint8_t*>* TAntiAliasCanvas::Rows() {
    vcl::TBitmap* bitmap = Bitmap();
    if (!rows_ || !bitmap || ReferenceCanvas != &bitmap->Canvas()) return nullptr;
    // The bitmap may have been resized or switched to other rows since the
    // table was made.
    if (rows_->Lines.empty() || bitmap->PixelFormat() != vcl::TPixelFormat::pf24bit ||
        bitmap->Width() != rows_width_ || bitmap->Height() != rows_height_ ||
        rows_->Lines[0] != bitmap->ScanLine(0))
        Recompute();
    return rows_ && !rows_->Lines.empty() ? &rows_->Lines : nullptr;
}

TRect TAntiAliasCanvas::InitWindow(vcl::TCanvas* DestCanvas, TView3DOptions* Options, TColor BackColor, bool Is3D,
                                   const TRect& UserRect) {
    const TRect r = TPlotCanvas3D::InitWindow(DestCanvas, Options, BackColor, Is3D, UserRect);
    Recompute();
    return r;
}

void TAntiAliasCanvas::SetBufferedDisplay(bool Value) {
    TPlotCanvas3D::SetBufferedDisplay(Value);
    Recompute();
}

std::unique_ptr<vcl::TBitmap> TAntiAliasCanvas::SetBitmap(std::unique_ptr<vcl::TBitmap> Bitmap) {
    std::unique_ptr<vcl::TBitmap> old = TPlotCanvas3D::SetBitmap(std::move(Bitmap));
    Recompute();
    return old;
}

void TAntiAliasCanvas::DeleteBitmap() {
    rows_.reset();
    rows_width_ = rows_height_ = 0;
    TPlotCanvas3D::DeleteBitmap();
}

// ---- Pens

void TAntiAliasCanvas::AssignVisiblePenColor(vcl::TPen& APen, TColor Color) {
    TPlotCanvas3D::AssignVisiblePenColor(APen, Color);
    const auto* chartPen = dynamic_cast<const TChartPen*>(&APen);
    small_dots_ = chartPen && chartPen->Visible() && chartPen->SmallDots();
}

TAntiAliasCanvas::TStroke TAntiAliasCanvas::PenStroke() {
    const gdi::COLORREF color = vcl::ColorToRGB(Pen->Color());
    switch (Pen->Style()) {
        case vcl::TPenStyle::psDash: return {color, kDashPattern};
        case vcl::TPenStyle::psDot: return {color, kDotPattern};
        case vcl::TPenStyle::psDashDot:
        case vcl::TPenStyle::psDashDotDot: return {color, kDashDotPattern};
        case vcl::TPenStyle::psAlternate: return {color, kSmallDotsPattern};
        // A small-dots pen, while it is still the one realised.
        case vcl::TPenStyle::psUserStyle: return {color, small_dots_ ? kSmallDotsPattern : kSolidPattern};
        default: return {color, kSolidPattern};
    }
}

// XOR and the other mixing modes draw plainly, so that drawing twice still
// erases.
bool TAntiAliasCanvas::SmoothsPen() {
    return Smoothing() && Pen->Style() != vcl::TPenStyle::psClear && Pen->Mode() == vcl::TPenMode::pmCopy;
}

// ---- Lines

void TAntiAliasCanvas::LineTo(int X, int Y) {
    if (!SmoothsPen()) {
        TPlotCanvas3D::LineTo(X, Y);
        return;
    }
    const gdi::POINT from = GetHandle()->GetCurrentPositionEx();
    if (from.x == X || from.y == Y) {
        TPlotCanvas3D::LineTo(X, Y);
        return;
    }
    if (Pen->Width() <= 1) SmoothLine(from.x, from.y, X, Y, PenStroke());
    else WideLine(from.x, from.y, X, Y, Pen->Width());
    MoveTo(X, Y);
}

void TAntiAliasCanvas::SmoothLine(i64 X0, i64 Y0, i64 X1, i64 Y1, const TStroke& Stroke) {
    TTarget target(*this, Stroke.Color);
    if (target.Empty()) return;
    target.Put(X0, Y0);
    // Along the longer axis (u), from the lower end; the cross coordinate
    // (v) at each step gives a pair of pixels across the line.
    const bool flat = std::llabs(X1 - X0) >= std::llabs(Y1 - Y0);
    i64 u0 = flat ? X0 : Y0, v0 = flat ? Y0 : X0, u1 = flat ? X1 : Y1, v1 = flat ? Y1 : X1;
    if (u1 < u0) {
        std::swap(u0, u1);
        std::swap(v0, v1);
    }
    if (u1 - u0 >= 2) {
        const double slope = double(v1 - v0) / double(u1 - u0);
        // Only the steps whose pixels can show: within the visible box
        // along u, and with the pair reaching it across.
        const int uMin = flat ? target.X0() : target.Y0(), uMax = (flat ? target.X1() : target.Y1()) - 1;
        const int vMin = flat ? target.Y0() : target.X0(), vMax = (flat ? target.Y1() : target.X1()) - 1;
        double first = std::max<double>(double(u0 + 1), uMin), last = std::min<double>(double(u1 - 1), uMax);
        if (slope != 0) {
            const double a = u0 + (vMin - 1 - double(v0)) / slope, b = u0 + (vMax + 1 - double(v0)) / slope;
            first = std::max(first, std::floor(std::min(a, b)) - 1);
            last = std::min(last, std::ceil(std::max(a, b)) + 1);
        } else if (v0 < vMin - 1 || v0 > vMax) {
            last = first - 1;
        }
        for (i64 u = i64(first); u <= i64(last) && first <= last; ++u) {
            if (!Drawn(Stroke.Pattern, u)) continue;
            const double v = double(v0) + slope * double(u - u0);
            const double whole = std::floor(v);
            const auto i = i64(whole);
            const auto f = static_cast<float>(v - whole);
            if (flat) {
                target.Blend(u, i, f);
                target.Blend(u, i + 1, 1 - f);
            } else {
                target.Blend(i, u, f);
                target.Blend(i + 1, u, 1 - f);
            }
        }
    }
    target.Put(X1, Y1);
}

void TAntiAliasCanvas::WideLine(i64 X0, i64 Y0, int X, int Y, int Width) {
    // Width lines of one pixel side by side, across the longer axis: the
    // two outermost smoothed, those between plain.
    const bool steep = std::llabs(i64(Y) - Y0) > std::llabs(i64(X) - X0);
    const TStroke stroke = PenStroke();
    TPenScope scope(*Pen);
    Pen->SetWidth(1);
    // Only the offsets whose line can reach the visible box are drawn.
    gdi::RECT box{};
    GetHandle()->GetClipBox(&box);
    const i64 lo = steep ? std::min<i64>(X0, X) : std::min<i64>(Y0, Y);
    const i64 hi = steep ? std::max<i64>(X0, X) : std::max<i64>(Y0, Y);
    const i64 boxLo = steep ? box.left : box.top, boxHi = (steep ? box.right : box.bottom) - 1;
    // Line i is shifted back by o = Width div 2 - i: visible for
    // lo - o <= boxHi and hi - o >= boxLo.
    const i64 half = Width / 2;
    const i64 iFirst = std::max<i64>(0, half - (hi - boxLo));
    const i64 iLast = std::min<i64>(Width - 1, half - (lo - boxHi));
    auto line = [&](i64 i) {
        const i64 o = half - i;
        const i64 ax = steep ? X0 - o : X0, ay = steep ? Y0 : Y0 - o;
        const i64 bx = steep ? i64(X) - o : X, by = steep ? Y : i64(Y) - o;
        if (i == 0 || i == Width - 1) {
            SmoothLine(ax, ay, bx, by, stroke);
        } else {
            TPlotCanvas3D::MoveTo(Clamp32(ax), Clamp32(ay));
            TPlotCanvas3D::LineTo(Clamp32(bx), Clamp32(by));
        }
    };
    for (i64 i = iFirst; i <= iLast; ++i) line(i);
}

// ---- Arcs

void TAntiAliasCanvas::ArcByAngles(int Left, int Top, int Right, int Bottom, double StartAngle, double EndAngle) {
    if (!SmoothsPen()) {
        TPlotCanvas3D::ArcByAngles(Left, Top, Right, Bottom, StartAngle, EndAngle);
        return;
    }
    if (!std::isfinite(StartAngle) || !std::isfinite(EndAngle)) return;
    // Counter-clockwise from the start; the same angle twice is the whole
    // ellipse, as the plain arc draws it.
    double start = std::fmod(StartAngle, 360.0);
    if (start < 0) start += 360.0;
    double sweep = std::fmod(EndAngle - StartAngle, 360.0);
    if (sweep <= 0) sweep += 360.0;
    const i64 a = std::llabs(i64(Right) - Left) / 2, b = std::llabs(i64(Bottom) - Top) / 2;
    const i64 cx = (i64(Left) + Right) / 2, cy = (i64(Top) + Bottom) / 2;
    if (a < 1 || b < 1) FlatArc(cx, cy, a, b, start, sweep, PenStroke());
    else SmoothArc(cx, cy, a, b, start, sweep, PenStroke());
}

void TAntiAliasCanvas::FlatArc(i64 Cx, i64 Cy, i64 A, i64 B, double Start, double Sweep, const TStroke& Stroke) {
    // A box without width or height: the arc is a piece of its middle line
    // (or its centre), from the lowest to the highest value of the moving
    // coordinate over the angles.
    TTarget target(*this, Stroke.Color);
    if (target.Empty()) return;
    const bool vertical = A < 1;
    const double radius = double(vertical ? B : A);
    auto value = [&](double degrees) {
        const double t = degrees * kDegreesToRadians;
        return vertical ? std::sin(t) : std::cos(t);
    };
    double lo = std::min(value(Start), value(Start + Sweep)), hi = std::max(value(Start), value(Start + Sweep));
    // The angles of the extremes (90 and 270 for sine, 0 and 180 for cosine)
    // that the arc passes.
    for (double extreme = vertical ? 90.0 : 0.0; extreme < 720.0; extreme += 180.0)
        if (extreme >= Start && extreme <= Start + Sweep) {
            lo = std::min(lo, value(extreme));
            hi = std::max(hi, value(extreme));
        }
    const i64 from = RoundAway(radius * lo), to = RoundAway(radius * hi);
    for (i64 c = std::max(from, i64(-radius)); c <= std::min(to, i64(radius)); ++c) {
        if (!Drawn(Stroke.Pattern, c)) continue;
        if (vertical) target.Put(Cx, Cy - c);
        else target.Put(Cx + c, Cy);
    }
}

void TAntiAliasCanvas::SmoothArc(i64 Cx, i64 Cy, i64 A, i64 B, double Start, double Sweep, const TStroke& Stroke) {
    TTarget target(*this, Stroke.Color);
    if (target.Empty()) return;
    // One axis of a quadrant's piece: the coordinate c (relative to the
    // centre) runs from From to To in steps of 1, the other one is
    // computed; only the steps on the visible lines [VisLo, VisHi] of c
    // are visited, and a step is drawn when the computed coordinate's
    // whole part moved by less than 2 from the step before.
    auto walk = [&](i64 From, i64 To, i64 VisLo, i64 VisHi, double Along, double Across, auto&& Plot) {
        const i64 dir = To >= From ? 1 : -1, n = (To - From) * dir;
        i64 k0 = dir > 0 ? VisLo - From : From - VisHi;
        i64 k1 = dir > 0 ? VisHi - From : From - VisLo;
        k0 = std::max<i64>(k0, 0);
        k1 = std::min<i64>(k1, n);
        auto across = [&](i64 c) {
            const double t = double(c) / Along;
            return Across * std::sqrt(std::max(0.0, 1.0 - t * t));
        };
        i64 previous = k0 > 0 ? i64(std::floor(across(From + (k0 - 1) * dir))) : 0;
        for (i64 k = k0; k <= k1; ++k) {
            const i64 c = From + k * dir;
            const double value = across(c);
            const double whole = std::floor(value);
            const auto i = i64(whole);
            if ((k == 0 || std::llabs(i - previous) < 2) && Drawn(Stroke.Pattern, c))
                Plot(c, i, static_cast<float>(value - whole));
            previous = i;
        }
    };
    auto piece = [&](int q, double s, double e) {
        const int sx = q == 0 || q == 3 ? 1 : -1;  // right of the centre
        const int sy = q == 0 || q == 1 ? 1 : -1;  // above the centre
        const double rs = s * kDegreesToRadians, re = e * kDegreesToRadians;
        // x steps; |y| from x. The pixel pair is the arc's and the one
        // further out.
        walk(RoundAway(A * std::cos(rs)), i64(std::trunc(A * std::cos(re))), target.X0() - Cx, target.X1() - 1 - Cx,
             double(A), double(B), [&](i64 x, i64 y, float f) {
                 target.Blend(Cx + x, Cy - sy * y, f);
                 target.Blend(Cx + x, Cy - sy * (y + 1), 1 - f);
             });
        // y steps (up from the centre); |x| from y.
        walk(RoundAway(B * std::sin(rs)), i64(std::trunc(B * std::sin(re))), Cy - (target.Y1() - 1), Cy - target.Y0(),
             double(B), double(A), [&](i64 y, i64 x, float f) {
                 target.Blend(Cx + sx * x, Cy - y, f);
                 target.Blend(Cx + sx * (x + 1), Cy - y, 1 - f);
             });
    };
    // Quadrant by quadrant, from the one that holds the start.
    double at = Start, left = Sweep;
    for (int pieces = 0; left > 0 && pieces < 5; ++pieces) {
        const int q = std::min(3, static_cast<int>(at / 90.0));
        const double end = std::min((q + 1) * 90.0, at + left);
        piece(q, at, end);
        left -= end - at;
        at = end >= 360.0 ? end - 360.0 : end;
    }
}

namespace {

// The angle (degrees, counter-clockwise, 0 to 360) at which the ray from the
// centre through (X, Y) meets the ellipse of radii A, B, as the ellipse's
// own parameter: the point there is (Cx + A cos t, Cy - B sin t).
double ParameterAngle(i64 Cx, i64 Cy, i64 A, i64 B, int X, int Y) {
    // (A box without width or height: the ray's own angle.)
    if (A < 1 || B < 1) A = B = 1;
    double t = std::atan2(double(Cy - Y) * double(A), double(X - Cx) * double(B)) * 180.0 / std::numbers::pi;
    if (t < 0) t += 360.0;
    return t;
}

}  // namespace

void TAntiAliasCanvas::Arc(int X1, int Y1, int X2, int Y2, int X3, int Y3, int X4, int Y4) {
    if (!SmoothsPen()) {
        TPlotCanvas3D::Arc(X1, Y1, X2, Y2, X3, Y3, X4, Y4);
        return;
    }
    const i64 a = std::llabs(i64(X2) - X1) / 2, b = std::llabs(i64(Y2) - Y1) / 2;
    const i64 cx = (i64(X1) + X2) / 2, cy = (i64(Y1) + Y2) / 2;
    ArcByAngles(X1, Y1, X2, Y2, ParameterAngle(cx, cy, a, b, X3, Y3), ParameterAngle(cx, cy, a, b, X4, Y4));
}

// ---- Filled shapes

template <class Fill, class Outline>
void TAntiAliasCanvas::FilledShape(bool SolidRule, Fill&& DrawFill, Outline&& DrawOutline) {
    // SolidRule: only a solid pen outlines in its colour (any other lets
    // the brush's colour outline); else any pen that draws does.
    const vcl::TPenStyle style = Pen->Style();
    const bool penOutlines = SolidRule ? style == vcl::TPenStyle::psSolid : style != vcl::TPenStyle::psClear;
    const TColor color = penOutlines ? Pen->Color() : Brush->Color();
    const bool outlined = penOutlines || Brush->Style() != vcl::TBrushStyle::bsClear;
    TPenScope scope(*Pen);
    if (penOutlines) Pen->SetStyle(vcl::TPenStyle::psClear);
    DrawFill();
    if (!outlined) return;
    // The outline in its colour, with the pen's own style (solid where the
    // pen drew nothing).
    Pen->SetStyle(style == vcl::TPenStyle::psClear ? vcl::TPenStyle::psSolid : style);
    Pen->SetColor(color);
    DrawOutline(color);
}

bool TAntiAliasCanvas::SmoothsShapes() { return Smoothing() && Pen->Mode() == vcl::TPenMode::pmCopy; }

void TAntiAliasCanvas::Ellipse(int X1, int Y1, int X2, int Y2) {
    const i64 l = std::min(X1, X2), r = std::max(X1, X2), t = std::min(Y1, Y2), b = std::max(Y1, Y2);
    // A box of one pixel or less has no curve: it is drawn plainly.
    if (!SmoothsShapes() || (r - l) / 2 < 1 || (b - t) / 2 < 1) {
        TPlotCanvas3D::Ellipse(X1, Y1, X2, Y2);
        return;
    }
    FilledShape(
        true, [&] { TPlotCanvas3D::Ellipse(X1, Y1, X2, Y2); },
        [&](TColor Color) { TraceEllipse(l, t, r, b, vcl::ColorToRGB(Color)); });
}

void TAntiAliasCanvas::TraceEllipse(i64 X1, i64 Y1, i64 X2, i64 Y2, gdi::COLORREF Color) {
    TTarget target(*this, Color);
    if (target.Empty() || X2 < target.X0() || X1 >= target.X1() || Y2 < target.Y0() || Y1 >= target.Y1()) return;
    using i128 = __int128;
    const i64 cx = (X1 + X2) / 2, cy = (Y1 + Y2) / 2, a = (X2 - X1) / 2, b = (Y2 - Y1) / 2;
    const i64 kx = (X2 - X1) % 2 != 0 ? 1 : 2, ky = (Y2 - Y1) % 2 != 0 ? 1 : 2;
    const i128 a2 = i128(a) * a, b2 = i128(b) * b;
    // Each point of the outline in full colour, with its two neighbours
    // outward blended (the one along the last step's direction stronger).
    auto plot = [&](i64 x, i64 y, bool diagonal) {
        const i64 px[4] = {cx + x - kx, cx - x, cx - x, cx + x - kx};
        const i64 py[4] = {cy + y - ky, cy + y - ky, cy - y, cy - y};
        constexpr int dx[4] = {1, -1, -1, 1}, dy[4] = {1, 1, -1, -1};
        for (int k = 0; k < 4; ++k) {
            target.Put(px[k], py[k]);
            if (diagonal) {
                target.Blend(px[k] + dx[k], py[k], 0.4f);
                target.Blend(px[k], py[k] + dy[k], 0.6f);
            } else {
                target.Blend(px[k], py[k] + dy[k], 0.4f);
                target.Blend(px[k] + dx[k], py[k], 0.6f);
            }
        }
    };
    // Where the outline is steeper than 45 degrees: y steps.
    {
        i64 x = a, y = 0;
        i128 e = 0, ux = (1 - 2 * i128(a)) * b2, uy = a2, sx = 2 * b2 * a, sy = 0;
        bool diagonal = false;
        while (sx >= sy) {
            plot(x, y, diagonal);
            ++y;
            sy += 2 * a2;
            e += uy;
            uy += 2 * a2;
            diagonal = 2 * e + ux >= 1;
            if (diagonal) {
                --x;
                sx -= 2 * b2;
                e += ux;
                ux += 2 * b2;
            }
        }
    }
    // The flatter rest: x steps.
    {
        i64 x = 0, y = b;
        i128 e = 0, ux = b2, uy = (1 - 2 * i128(b)) * a2, sx = 0, sy = 2 * a2 * b;
        bool diagonal = false;
        while (sx <= sy) {
            plot(x, y, diagonal);
            ++x;
            sx += 2 * b2;
            e += ux;
            ux += 2 * b2;
            diagonal = 2 * e + uy >= 1;
            if (diagonal) {
                --y;
                sy -= 2 * a2;
                e += uy;
                uy += 2 * a2;
            }
        }
    }
}

void TAntiAliasCanvas::Pie(int X1, int Y1, int X2, int Y2, int X3, int Y3, int X4, int Y4) {
    if (!SmoothsShapes()) {
        TPlotCanvas3D::Pie(X1, Y1, X2, Y2, X3, Y3, X4, Y4);
        return;
    }
    const i64 a = std::llabs(i64(X2) - X1) / 2, b = std::llabs(i64(Y2) - Y1) / 2;
    const i64 cx = (i64(X1) + X2) / 2, cy = (i64(Y1) + Y2) / 2;
    // A box without width or height holds no slice to fill: only its edges.
    const bool flat = a < 1 || b < 1;
    FilledShape(
        true,
        [&] {
            if (!flat) TPlotCanvas3D::Pie(X1, Y1, X2, Y2, X3, Y3, X4, Y4);
        },
        [&](TColor) {
            // The arc, and the two radii out to where it ends.
            Arc(X1, Y1, X2, Y2, X3, Y3, X4, Y4);
            auto end = [&](int X, int Y) {
                const double t = ParameterAngle(cx, cy, a, b, X, Y) * kDegreesToRadians;
                return TPoint{Clamp32(cx + RoundToInt(double(a) * std::cos(t))),
                              Clamp32(cy - RoundToInt(double(b) * std::sin(t)))};
            };
            const TPoint p3 = end(X3, Y3), p4 = end(X4, Y4);
            Line(Clamp32(cx), Clamp32(cy), p3.X, p3.Y);
            Line(Clamp32(cx), Clamp32(cy), p4.X, p4.Y);
        });
}

void TAntiAliasCanvas::RoundRect(int X1, int Y1, int X2, int Y2, int X3, int Y3) {
    if (!SmoothsShapes()) {
        TPlotCanvas3D::RoundRect(X1, Y1, X2, Y2, X3, Y3);
        return;
    }
    FilledShape(
        false, [&] { TPlotCanvas3D::RoundRect(X1, Y1, X2, Y2, X3, Y3); },
        [&](TColor) {
            const i64 w = std::llabs(i64(X3)) / 2, h = std::llabs(i64(Y3)) / 2;
            const i64 l = std::min(X1, X2), t = std::min(Y1, Y2);
            // The last column and row that the plain shape covers.
            const i64 r = i64(std::max(X1, X2)) - 1, b = i64(std::max(Y1, Y2)) - 1;
            if (2 * w > r + 1 - l || 2 * h > b + 1 - t) {
                Ellipse(X1, Y1, Clamp32(i64(X2) - 1), Clamp32(i64(Y2) - 1));
                return;
            }
            Line(Clamp32(l + w), Clamp32(t), Clamp32(r - w), Clamp32(t));
            Line(Clamp32(r), Clamp32(t + h), Clamp32(r), Clamp32(b - h));
            Line(Clamp32(r - w), Clamp32(b), Clamp32(l + w), Clamp32(b));
            Line(Clamp32(l), Clamp32(b - h), Clamp32(l), Clamp32(t + h));
            const i64 cw = 2 * w, ch = 2 * h;
            ArcByAngles(Clamp32(r - cw), Clamp32(b - ch), Clamp32(r), Clamp32(b), 270, 360);
            ArcByAngles(Clamp32(r - cw), Clamp32(t), Clamp32(r), Clamp32(t + ch), 0, 90);
            ArcByAngles(Clamp32(l), Clamp32(t), Clamp32(l + cw), Clamp32(t + ch), 90, 180);
            ArcByAngles(Clamp32(l), Clamp32(b - ch), Clamp32(l + cw), Clamp32(b), 180, 270);
        });
}

void TAntiAliasCanvas::Polygon(std::span<const TPoint> Points) {
    if (!SmoothsShapes() || Points.empty()) {
        TPlotCanvas3D::Polygon(Points);
        return;
    }
    FilledShape(
        false, [&] { TPlotCanvas3D::Polygon(Points); },
        [&](TColor) {
            MoveTo(Points[0].X, Points[0].Y);
            for (std::size_t i = 1; i < Points.size(); ++i) LineTo(Points[i].X, Points[i].Y);
            LineTo(Points[0].X, Points[0].Y);
        });
}

void TAntiAliasCanvas::Polyline(std::span<const TPoint> Points) {
    if (!Smoothing() || Points.empty()) {
        TPlotCanvas3D::Polyline(Points);
        return;
    }
    MoveTo(Points[0].X, Points[0].Y);
    for (std::size_t i = 1; i < Points.size(); ++i) LineTo(Points[i].X, Points[i].Y);
}

void TAntiAliasCanvas::Donut(int XCenter, int YCenter, int XRadius, int YRadius, double StartAngle, double EndAngle,
                             double HolePercent) {
    // A ring without radius holds nothing to draw.
    if (Smoothing() && (XRadius < 1 || YRadius < 1)) return;
    TPlotCanvas3D::Donut(XCenter, YCenter, XRadius, YRadius, StartAngle, EndAngle, HolePercent);
    if (!SmoothsPen() || !std::isfinite(StartAngle) || !std::isfinite(EndAngle) || !std::isfinite(HolePercent))
        return;
    // The ring's edges, drawn with the brush clear.
    struct TBrushScope {
        vcl::TBrush& brush;
        vcl::TBrushStyle style = brush.Style();
        ~TBrushScope() { brush.SetStyle(style); }
    } scope{*Brush};
    Brush->SetStyle(vcl::TBrushStyle::bsClear);
    const double from = StartAngle * 180.0 / std::numbers::pi, to = EndAngle * 180.0 / std::numbers::pi;
    auto arc = [&](i64 rx, i64 ry) {
        if (rx < 1 || ry < 1) return;  // no hole
        ArcByAngles(Clamp32(XCenter - rx), Clamp32(YCenter - ry), Clamp32(XCenter + rx), Clamp32(YCenter + ry), from,
                    to);
    };
    arc(XRadius, YRadius);
    arc(RoundToInt(XRadius * HolePercent * 0.01), RoundToInt(YRadius * HolePercent * 0.01));
}

void TAntiAliasCanvas::GradientFill(const TRect& Rect, TColor StartColor, TColor EndColor,
                                    TGradientDirection Direction, int Balance, int RadialX, int RadialY) {
    TSuspend plain(*this);
    TPlotCanvas3D::GradientFill(Rect, StartColor, EndColor, Direction, Balance, RadialX, RadialY);
}

}  // namespace chart
