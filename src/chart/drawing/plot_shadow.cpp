#include "chart/drawing/plot_shadow.h"

#include <algorithm>
#include <cstdlib>

#include <cmath>
#include <functional>
#include <memory>
#include <vector>

#include "chart/drawing/plot_canvas3d.h"
#include "chart/drawing/projection_math.h"
#include "platform/rtl/failure_trace.h"
#include "platform/vcl/bitmap.h"

namespace chart {

TPlotShadow::TPlotShadow(TNotifyEvent ChangedEvent) : changed_(std::move(ChangedEvent)) {}

void TPlotShadow::SetClip(bool Value) { Store(clip_, Value); }
void TPlotShadow::SetColor(TColor Value) { Store(color_, Value); }
void TPlotShadow::SetHorizSize(int Value) { Store(horiz_size_, Value); }
void TPlotShadow::SetSmooth(bool Value) { Store(smooth_, Value); }
void TPlotShadow::SetSmoothBlur(int Value) { Store(smooth_blur_, Value); }
void TPlotShadow::SetTransparency(int Value) {
    Store(transparency_, static_cast<std::uint8_t>(std::clamp(Value, 0, 100)));
}
void TPlotShadow::SetVertSize(int Value) { Store(vert_size_, Value); }
void TPlotShadow::SetVisible(bool Value) { Store(visible_, Value); }

int TPlotShadow::Size() const {
    // |INT_MIN| does not fit: the sizes are measured in 64 bits.
    const long long h = std::llabs(horiz_size_), v = std::llabs(vert_size_);
    return static_cast<int>(std::min<long long>(std::max(h, v), INT32_MAX));
}

void TPlotShadow::SetSize(int Value) {
    SetHorizSize(Value);
    SetVertSize(Value);
}

void TPlotShadow::SetDefaults(TColor Color, int Size) {
    color_ = DefaultColor = Color;
    horiz_size_ = vert_size_ = DefaultSize = Size;
}

void TPlotShadow::Assign(const vcl::TPersistent& Source) {
    const auto* other = dynamic_cast<const TPlotShadow*>(&Source);
    if (!other) return vcl::TPersistent::Assign(Source);
    color_ = other->color_;
    horiz_size_ = other->horiz_size_;
    smooth_ = other->smooth_;
    smooth_blur_ = other->smooth_blur_;
    transparency_ = other->transparency_;
    vert_size_ = other->vert_size_;
    visible_ = other->visible_;
}

// ---- Drawing

namespace {

// The off-screen bitmap the canvas draws into now, when blurred shadows can
// be multiplied into it.
vcl::TBitmap* SmoothTarget(TCanvas3D& canvas) {
    auto* gdiCanvas = dynamic_cast<TPlotCanvas3D*>(&canvas);
    vcl::TBitmap* bitmap = gdiCanvas ? gdiCanvas->Bitmap() : nullptr;
    if (!bitmap || canvas.Metafiling || canvas.ReferenceCanvas != &bitmap->Canvas()) return nullptr;
    return bitmap;
}

TRect Offset(const TRect& r, int h, int v) {
    auto add = [](int a, int b) { return static_cast<int>(std::clamp<long long>((long long)a + b, INT32_MIN, INT32_MAX)); };
    return {add(r.Left, h), add(r.Top, v), add(r.Right, h), add(r.Bottom, v)};
}

// Around one shadow: the canvas pen and brush saved and restored, the flat
// brush (solid in the shadow colour, no pen) set when asked, and a blending
// block over the shadow's area when the shadow is transparent.
class Preparation {
public:
    Preparation(TCanvas3D& canvas, const TPlotShadow& shadow, const TRect& area, bool flat) : canvas_(canvas) {
        pen_.Assign(*canvas.Pen);
        pen_handle_ = canvas.Pen->Handle();
        brush_.Assign(*canvas.Brush);
        if (flat) Flat(shadow);
        if (shadow.Transparency() > 0) blend_ = canvas.BeginBlending(area, shadow.Transparency());
    }
    ~Preparation() {
        try {
            if (blend_) canvas_.EndBlending(std::move(blend_));
        } catch (...) {
            // A shadow that cannot be mixed stays as drawn (opaque); the
            // painting goes on, and the failure is left on the trace, as
            // nothing can be raised out of here.
            rtl::TraceFailure(std::current_exception(), "mixing a transparent shadow");
        }
        canvas_.Pen->Assign(pen_);
        canvas_.Pen->SetHandle(pen_handle_);
        canvas_.Brush->Assign(brush_);
    }
    Preparation(const Preparation&) = delete;
    Preparation& operator=(const Preparation&) = delete;

    void Flat(const TPlotShadow& shadow) {
        canvas_.Brush->SetBitmap(nullptr);
        canvas_.Brush->SetStyle(vcl::TBrushStyle::bsSolid);
        canvas_.Brush->SetColor(shadow.Color());
        canvas_.Pen->SetStyle(vcl::TPenStyle::psClear);
    }

private:
    TCanvas3D& canvas_;
    vcl::TPen pen_;
    gdi::HPEN pen_handle_;
    vcl::TBrush brush_;
    std::unique_ptr<TPlotBlend> blend_;
};

// The largest blurred copy made; larger shadows are drawn flat.
constexpr long long kLargestSmoothArea = 1LL << 24;

}  // namespace

TColor PlotShadeColor(TColor Color, int Amount) {
    const gdi::COLORREF c = vcl::ColorToRGB(Color);
    auto ch = [&](int v) { return std::clamp(v - Amount, 0, 255); };
    return static_cast<TColor>(gdi::RGB(ch(gdi::GetRValue(c)), ch(gdi::GetGValue(c)), ch(gdi::GetBValue(c))));
}

void TPlotShadow::Draw(TCanvas3D& Canvas, const TRect& Rect, int Z, int RoundSize) {
    if (!Valid()) return;
    const bool smooth = smooth_ && Size() != 0 && SmoothTarget(Canvas);
    const TRect area = Canvas.CalcRect3D(Offset(Rect, horiz_size_, vert_size_), Z);
    Preparation prep(Canvas, *this, area, !smooth);
    if (smooth) {
        const Shape kind = RoundSize > 0 ? Shape::RoundRectangle : Shape::Rectangle;
        if (DrawSmooth(Canvas, kind, Canvas.CalcRect3D(Rect, Z), RoundSize, {})) return;
        prep.Flat(*this);
        DrawFlat(Canvas, Rect, Z, RoundSize);
        return;
    }
    if (!smooth_ || Size() == 0 || Canvas.GetSupportsFull3D() || RoundSize >= 1) DrawFlat(Canvas, Rect, Z, RoundSize);
    else DrawGraded(Canvas, Rect, Z);
}

void TPlotShadow::DrawFlat(TCanvas3D& Canvas, const TRect& Rect, int Z, int RoundSize) {
    const int h = horiz_size_, v = vert_size_;
    if (RoundSize >= 1) {
        const TRect r = Canvas.CalcRect3D(Offset(Rect, h, v), Z);
        Canvas.RoundRect(r.Left, r.Top, r.Right, r.Bottom, RoundSize, RoundSize);
        return;
    }
    const TRect s = Offset(Rect, h, v);
    if (Canvas.Nesting2D() == 0) {
        // The strips of the shadow that the shape leaves uncovered, on the
        // side each size points to.
        if (v > 0) Canvas.RectangleWithZ({s.Left, Rect.Bottom, s.Right, s.Bottom}, Z);
        if (v < 0) Canvas.RectangleWithZ({s.Left, s.Top, s.Right, Rect.Top}, Z);
        if (h > 0) Canvas.RectangleWithZ({Rect.Right, s.Top, s.Right, s.Bottom}, Z);
        if (h < 0) Canvas.RectangleWithZ({s.Left, s.Top, Rect.Left, s.Bottom}, Z);
        return;
    }
    // Without a pen a rectangle fills one pixel short of its right and
    // bottom edges: both strips reach one further to make up for it.
    if (v != 0) {
        if (v > 0) Canvas.Rectangle(s.Left, Rect.Bottom, s.Right + 1, Rect.Bottom + 1 + v);
        else Canvas.Rectangle(s.Left, Rect.Top + 1, s.Right + 1, Rect.Top + v);
    }
    if (h != 0) {
        if (h > 0) Canvas.Rectangle(Rect.Right, s.Top, Rect.Right + 1 + h, s.Bottom + 1);
        else Canvas.Rectangle(Rect.Left + 1, s.Top, Rect.Left + h, s.Bottom + 1);
    }
}

void TPlotShadow::DrawGraded(TCanvas3D& Canvas, const TRect& Rect, int Z) {
    const gdi::COLORREF base = vcl::ColorToRGB(color_);
    const double grey = (gdi::GetRValue(base) + gdi::GetGValue(base) + gdi::GetBValue(base)) / 3.0;
    const bool flat = Canvas.Nesting2D() > 0;
    auto hline = [&](int x0, int x1, int y) {
        if (flat) Canvas.HorizLine(x0, x1, y);
        else Canvas.HorizLine3D(x0, x1, y, Z);
    };
    auto vline = [&](int x, int y0, int y1) {
        if (flat) Canvas.VertLine(x, y0, y1);
        else Canvas.VertLine3D(x, y0, y1, Z);
    };
    auto pixel = [&](int x, int y, TColor c) {
        if (flat) Canvas.SetPixel(x, y, c);
        else Canvas.SetPixel3D(x, y, Z, c);
    };
    Canvas.Pen->SetStyle(vcl::TPenStyle::psSolid);
    Canvas.Pen->SetWidth(1);
    Canvas.Pen->SetMode(vcl::TPenMode::pmCopy);
    const long long h = horiz_size_, v = vert_size_;
    const long long L = Rect.Left, T = Rect.Top, R = Rect.Right, B = Rect.Bottom;
    auto clampInt = [](long long x) { return static_cast<int>(std::clamp<long long>(x, INT32_MIN, INT32_MAX)); };
    // A negative size draws the mirror image on the other side.
    // |size| lines, lightening by a step from the colour toward white.
    auto lightening = [&](long long size, const std::function<void(long long i, TColor c)>& line) {
        const long long n = std::llabs(size);
        const int step = RoundToInt((255 - grey) / static_cast<double>(n));
        TColor c = static_cast<TColor>(base);
        for (long long i = 1; i <= n; ++i) {
            Canvas.Pen->SetColor(c);
            line(i, c);
            c = PlotShadeColor(c, -step);
        }
    };
    if (v != 0)
        lightening(v, [&](long long i, TColor) {
            const long long n = std::llabs(v);
            hline(clampInt(L + h), clampInt(R + h - n + i - 1), clampInt(v > 0 ? B + i - 1 : T - i));
        });
    if (h != 0)
        lightening(h, [&](long long i, TColor c) {
            const long long n = std::llabs(h);
            const long long x = h > 0 ? R + i - 1 : L - i;
            vline(clampInt(x), clampInt(T + v), clampInt(B + v - n + i - 1));
            pixel(clampInt(h > 0 ? x - 1 : x + 1), clampInt(B + v - n + i - 2), c);
        });
}

void TPlotShadow::DrawEllipse(TCanvas3D& Canvas, const TRect& Rect, int Z) {
    if (!Valid()) return;
    const TRect offset = Offset(Rect, horiz_size_, vert_size_);
    const TRect area = Canvas.CalcRect3D(offset, Z);
    const bool smooth = smooth_ && SmoothTarget(Canvas);
    Preparation prep(Canvas, *this, area, !smooth);
    if (!smooth_) {
        Canvas.EllipseWithZRect(offset, Z);
        return;
    }
    if (smooth) {
        if (DrawSmooth(Canvas, Shape::Ellipse, Canvas.CalcRect3D(Rect, Z), 0, {})) return;
        prep.Flat(*this);
        Canvas.EllipseWithZRect(offset, Z);
        return;
    }
    // No bitmap to blur in: elliptical bands from dark to light.
    Canvas.ClipEllipse(area, false);
    try {
        TPlotGradient bands;
        bands.SetDirection(gdRadial);
        bands.SetStartColor(PlotShadeColor(color_, 128));
        bands.SetEndColor(PlotShadeColor(color_, -32));
        DrawRadialGradient(bands, Canvas, area);
    } catch (...) {
        Canvas.UnClipRectangle();
        throw;
    }
    Canvas.UnClipRectangle();
}

void TPlotShadow::DrawPolygon(TCanvas3D& Canvas, std::span<const TPoint> Points, int Z) {
    if (!Valid() || Points.empty()) return;
    std::vector<TPoint> moved;
    moved.reserve(Points.size());
    for (const TPoint& p : Points) {
        const TRect r = Offset({p.X, p.Y, p.X, p.Y}, horiz_size_, vert_size_);
        moved.push_back({r.Left, r.Top});
    }
    const TRect bounds = PolygonBoundsHigh(Points, static_cast<int>(Points.size()) - 1);
    const TRect area = Canvas.CalcRect3D(Offset(bounds, horiz_size_, vert_size_), Z);
    const bool smooth = smooth_ && SmoothTarget(Canvas);
    Preparation prep(Canvas, *this, area, !smooth);
    if (smooth && DrawSmooth(Canvas, Shape::Polygon, bounds, 0, Points)) return;
    if (smooth) prep.Flat(*this);
    Canvas.Polygon(moved);
}

bool TPlotShadow::DrawSmooth(TCanvas3D& Canvas, Shape Kind, const TRect& R, int RoundSize,
                             std::span<const TPoint> Points) {
    vcl::TBitmap* target = SmoothTarget(Canvas);
    const long long ax = std::llabs(horiz_size_), ay = std::llabs(vert_size_);
    const long long w = std::max<long long>(1, ((long long)R.Right + 1 - R.Left) + 2 * ax);
    const long long hgt = std::max<long long>(1, ((long long)R.Bottom + 1 - R.Top) + 2 * ay);
    if (!target || w > gdi::kMaxSurfaceSide || hgt > gdi::kMaxSurfaceSide || w * hgt > kLargestSmoothArea)
        return false;
    const int W = static_cast<int>(w), H = static_cast<int>(hgt), AX = static_cast<int>(ax), AY = static_cast<int>(ay);
    vcl::TBitmap shape(W, H);
    shape.SetPixelFormat(vcl::TPixelFormat::pf24bit);
    vcl::TCanvas& c = shape.Canvas();
    c.Brush.SetStyle(vcl::TBrushStyle::bsSolid);
    c.Brush.SetColor(color_);
    c.Pen.SetStyle(vcl::TPenStyle::psClear);
    switch (Kind) {
        case Shape::Rectangle: c.Rectangle(AX, AY, W - AX, H - AY); break;
        case Shape::RoundRectangle: c.RoundRect(AX, AY, W - AX, H - AY, RoundSize, RoundSize); break;
        case Shape::Ellipse: c.Ellipse(AX, AY, W - AX, H - AY); break;
        case Shape::Polygon: {
            std::vector<TPoint> moved;
            for (const TPoint& p : Points)
                moved.push_back({static_cast<int>(p.X + ax - R.Left), static_cast<int>(p.Y + ay - R.Top)});
            c.Polygon(moved);
            break;
        }
    }
    PlotBlurShadow(shape, target, R.Left, R.Top, clip_ ? &Canvas : nullptr, Kind != Shape::Rectangle,
                   (smooth_blur_ + 180) * 0.01, vert_size_, horiz_size_);
    return true;
}

// ---- Blur

namespace {

// Weights of the distances -r..r (index d + r), scaled by 100000; those that
// round to 0 are cut from the ends.
std::vector<long long> BlurWeights(int r, double base, int& reach) {
    std::vector<long long> weights;
    if (r == 0) {
        reach = 0;
        return {100000};
    }
    reach = 0;
    for (int d = 0; d <= r; ++d) {
        const long long w = RoundToInt(std::pow(base, -static_cast<double>(d) * d / r) * 100000.0);
        if (w == 0) break;
        reach = d;
    }
    weights.resize(static_cast<std::size_t>(2 * reach + 1));
    for (int d = -reach; d <= reach; ++d)
        weights[static_cast<std::size_t>(d + reach)] =
            RoundToInt(std::pow(base, -static_cast<double>(d) * d / r) * 100000.0);
    return weights;
}

}  // namespace

void PlotBlurShadow(vcl::TBitmap& Source, vcl::TBitmap* Dest, int OffX, int OffY, TPlotCanvas* ClipCanvas,
                    bool Whole, double Spread, int RY, int RX) {
    Source.SetPixelFormat(vcl::TPixelFormat::pf24bit);
    const int W = Source.Width(), H = Source.Height();
    if (W <= 0 || H <= 0) return;
    long long offX = OffX, offY = OffY;
    long long rx = RX, ry = RY;
    if (rx < 0) {
        rx = -rx;
        offX -= 2 * rx;
        Whole = true;
    }
    if (ry < 0) {
        ry = -ry;
        offY -= 2 * ry;
        Whole = true;
    }
    // Radii beyond the bitmap blur no further than across it.
    rx = std::min<long long>(rx, W);
    ry = std::min<long long>(ry, H);
    const long long kx = 2 * rx + 1, ky = 2 * ry + 1;
    const double base = (Spread + 180) * 0.01;
    int reachX = 0, reachY = 0;
    const std::vector<long long> wx = BlurWeights(static_cast<int>(rx), base, reachX);
    const std::vector<long long> wy = BlurWeights(static_cast<int>(ry), base, reachY);

    const long long destW = Dest ? Dest->Width() : W, destH = Dest ? Dest->Height() : H;
    const long long xs = Dest ? std::max<long long>(0, -offX) : 0, ys = Dest ? std::max<long long>(0, -offY) : 0;
    const long long xe = Dest ? std::min<long long>(W, destW - offX) - 1 : W - 1;
    const long long ye = Dest ? std::min<long long>(H, destH - offY) - 1 : H - 1;
    if (xs > xe || ys > ye) return;
    // Only the fringes the shape does not cover, unless Whole.
    auto skipped = [&](long long x, long long y, long long extra) { return !Whole && x < W - kx && y < H - ky - extra; };

    const gdi::Bitmap& src = *Source.Handle();
    // Across, into a work area; rows the downward pass reads included.
    std::vector<std::uint8_t> work(static_cast<std::size_t>(W) * H * 3);
    const long long rowFrom = std::max<long long>(0, ys - reachY), rowTo = std::min<long long>(H - 1, ye + reachY);
    for (long long y = rowFrom; y <= rowTo; ++y) {
        const std::uint8_t* row = src.ScanLine(static_cast<int>(y));
        std::uint8_t* out = work.data() + static_cast<std::size_t>(y) * W * 3;
        for (long long x = xs; x <= xe; ++x) {
            if (skipped(x, y, reachY)) continue;
            long long b = 0, g = 0, r = 0, total = 0;
            const long long from = std::max<long long>(0, x - reachX), to = std::min<long long>(W - 1, x + reachX);
            for (long long i = from; i <= to; ++i) {
                const long long w = wx[static_cast<std::size_t>(i - x + reachX)];
                const std::uint8_t* p = row + 3 * i;
                b += w * p[0];
                g += w * p[1];
                r += w * p[2];
                total += w;
            }
            std::uint8_t* o = out + 3 * x;
            o[0] = static_cast<std::uint8_t>(b / total);
            o[1] = static_cast<std::uint8_t>(g / total);
            o[2] = static_cast<std::uint8_t>(r / total);
        }
    }
    // Down, multiplied into the target.
    gdi::Bitmap& dst = Dest ? *Dest->Handle() : *Source.Handle();
    const int step = dst.BitsPerPixel() / 8;
    gdi::HDC clipDC = ClipCanvas ? ClipCanvas->GetHandle() : nullptr;
    for (long long y = ys; y <= ye; ++y) {
        std::uint8_t* drow = Dest ? dst.ScanLine(static_cast<int>(y + offY)) : dst.ScanLine(static_cast<int>(y));
        const long long from = std::max<long long>(0, y - reachY), to = std::min<long long>(H - 1, y + reachY);
        for (long long x = xs; x <= xe; ++x) {
            if (skipped(x, y, 0)) continue;
            if (clipDC && !clipDC->PtVisible(static_cast<int>(x + offX), static_cast<int>(y + offY))) continue;
            long long sum[3] = {0, 0, 0}, total = 0;
            for (long long i = from; i <= to; ++i) {
                const long long w = wy[static_cast<std::size_t>(i - y + reachY)];
                const std::uint8_t* p = work.data() + (static_cast<std::size_t>(i) * W + x) * 3;
                for (int k = 0; k < 3; ++k) sum[k] += w * p[k];
                total += w;
            }
            std::uint8_t* t = Dest ? drow + (x + offX) * step : drow + x * 3;
            for (int k = 0; k < 3; ++k) {
                if (Dest) t[k] = static_cast<std::uint8_t>(RoundToInt(t[k] * (sum[k] * (1.0 / 255) / total)));
                else t[k] = static_cast<std::uint8_t>(RoundToInt(static_cast<double>(sum[k]) / total));
            }
        }
    }
}

}  // namespace chart
