#include "chart/drawing/plot_gradient.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "chart/drawing/plot_canvas3d.h"
#include "chart/drawing/projection_math.h"
#include "platform/vcl/bitmap.h"

namespace chart {

TCustomPlotGradient::TCustomPlotGradient(TNotifyEvent ChangedEvent)
    : changed_(std::move(ChangedEvent)) {}

TCustomPlotGradient::~TCustomPlotGradient() { sub_.reset(); }

void TCustomPlotGradient::SetAngle(int Value) { Store(angle_, Value); }
void TCustomPlotGradient::SetBalance(int Value) { Store(balance_, Value); }
void TCustomPlotGradient::SetDirection(TGradientDirection Value) { Store(direction_, Value); }
void TCustomPlotGradient::SetEndColor(TColor Value) { Store(end_color_, Value); }
void TCustomPlotGradient::SetRadialX(int Value) { Store(radial_x_, Value); }
void TCustomPlotGradient::SetRadialY(int Value) { Store(radial_y_, Value); }
void TCustomPlotGradient::SetStartColor(TColor Value) { Store(start_color_, Value); }
void TCustomPlotGradient::SetVisible(bool Value) { Store(visible_, Value); }

void TCustomPlotGradient::SetMidColor(TColor Value) {
    if (Value == vcl::clNone) {
        if (!has_mid_) return;
        has_mid_ = false;
        Changed();
        return;
    }
    if (has_mid_ && mid_color_ == Value) return;
    has_mid_ = true;
    mid_color_ = Value;
    Changed();
}

TSubGradient& TCustomPlotGradient::SubGradientRef() {
    if (!sub_) sub_ = std::make_unique<TSubGradient>(changed_);
    return *sub_;
}

void TCustomPlotGradient::Assign(const vcl::TPersistent& Source) {
    const auto* other = dynamic_cast<const TCustomPlotGradient*>(&Source);
    if (!other) return vcl::TPersistent::Assign(Source);
    if (other == this) return;
    angle_ = other->angle_;
    balance_ = other->balance_;
    direction_ = other->direction_;
    end_color_ = other->end_color_;
    mid_color_ = other->mid_color_;
    radial_x_ = other->radial_x_;
    radial_y_ = other->radial_y_;
    start_color_ = other->start_color_;
    visible_ = other->visible_;
    has_mid_ = other->has_mid_;
    if (other->sub_) {
        TSubGradient& sub = SubGradientRef();
        sub.Assign(*other->sub_);
        sub.transparency_ = other->sub_->transparency_;
    } else {
        sub_.reset();
    }
}

// ---- Drawing

namespace {

// The colour as the canvas shows it: a grey of the same brightness on a
// monochrome canvas.
TColor ForCanvas(TCanvas3D& canvas, TColor color) {
    if (!canvas.GetMonochrome() || color == vcl::clNone) return color;
    const gdi::COLORREF rgb = vcl::ColorToRGB(color);
    const int grey = (gdi::GetRValue(rgb) + gdi::GetGValue(rgb) + gdi::GetBValue(rgb)) / 3;
    return static_cast<TColor>(gdi::RGB(grey, grey, grey));
}

bool HasArea(const TRect& r) { return r.Left != r.Right && r.Top != r.Bottom; }

// Restores a value when the scope ends, also by an exception.
template <class T>
class Restore {
public:
    Restore(T& field, T value) : field_(field), old_(field) { field = value; }
    ~Restore() { field_ = old_; }
    Restore(const Restore&) = delete;
    Restore& operator=(const Restore&) = delete;

private:
    T& field_;
    T old_;
};

}  // namespace

void TCustomPlotGradient::Draw(TCanvas3D& Canvas, const TRect& Rect, int RoundSize) {
    if (!HasArea(Rect)) return;
    if (angle_ != 0 && PlotRotateBitmapHook) {
        DrawTurned(Canvas, Rect);
        return;
    }
    if (RoundSize > 0) Canvas.ClipRoundRectangle(Rect, RoundSize);
    try {
        DrawUnturned(Canvas, Rect, RoundSize);
    } catch (...) {
        if (RoundSize > 0) Canvas.UnClipRectangle();
        throw;
    }
    if (RoundSize > 0) Canvas.UnClipRectangle();
    DrawSubGradient(Canvas, Rect, RoundSize);
}

void TCustomPlotGradient::DrawUnturned(TCanvas3D& Canvas, const TRect& Rect, int) {
    const TColor start = ForCanvas(Canvas, start_color_), end = ForCanvas(Canvas, end_color_);
    if (direction_ == gdRadial) {
        Canvas.GradientFill(Rect, start, end, gdRadial, balance_, radial_x_, radial_y_);
        return;
    }
    if (!has_mid_ || direction_ == gdDiagonalUp || direction_ == gdDiagonalDown) {
        Canvas.GradientFill(Rect, start, end, direction_, balance_, 0, 0);
        return;
    }
    const TColor mid = ForCanvas(Canvas, mid_color_);
    const int ym = static_cast<int>(((long long)Rect.Top + Rect.Bottom) / 2);
    const int xm = static_cast<int>(((long long)Rect.Left + Rect.Right) / 2);
    const TRect upper{Rect.Left, Rect.Top, Rect.Right, ym}, lower{Rect.Left, ym, Rect.Right, Rect.Bottom};
    const TRect left{Rect.Left, Rect.Top, xm, Rect.Bottom}, right{xm, Rect.Top, Rect.Right, Rect.Bottom};
    auto fill = [&](const TRect& r, TColor from, TColor to) {
        Canvas.GradientFill(r, from, to, direction_, 50, 0, 0);
    };
    switch (direction_) {
        case gdTopBottom:
            fill(upper, mid, end);
            fill(lower, start, mid);
            break;
        case gdBottomTop:
            fill(upper, start, mid);
            fill(lower, mid, end);
            break;
        case gdLeftRight:
            fill(left, mid, end);
            fill(right, start, mid);
            break;
        case gdRightLeft:
            fill(left, start, mid);
            fill(right, mid, end);
            break;
        default:
            // From the centre or a corner the middle colour is not used.
            fill(Rect, start, end);
            break;
    }
}

void TCustomPlotGradient::DrawSubGradient(TCanvas3D& Canvas, const TRect& Rect, int RoundSize) {
    TSubGradient* sub = sub_.get();
    if (!sub || !sub->Visible()) return;
    std::unique_ptr<TPlotBlend> blend = Canvas.BeginBlending(Rect, sub->Transparency());
    if (sub->Direction() == gdRadial) DrawRadialGradient(*sub, Canvas, Rect);
    else sub->Draw(Canvas, Rect, RoundSize);
    Canvas.EndBlending(std::move(blend));
}

void TCustomPlotGradient::DrawTurned(TCanvas3D& Canvas, const TRect& Rect) {
    TRect rect = Rect;
    NormalizeRect(rect);
    long long w = (long long)rect.Right - rect.Left, h = (long long)rect.Bottom - rect.Top;
    if (w + h + 2 > gdi::kMaxSurfaceSide) {
        // No bitmap holds it turned: the part that can be seen is turned.
        gdi::RECT box;
        Canvas.GetHandle()->GetClipBox(&box);
        rect = {std::max(rect.Left, box.left), std::max(rect.Top, box.top), std::min(rect.Right, box.right),
                std::min(rect.Bottom, box.bottom)};
        w = (long long)rect.Right - rect.Left;
        h = (long long)rect.Bottom - rect.Top;
        if (w <= 0 || h <= 0) return;
    }
    const double a = (360.0 - angle_) * kDegreesToRadians;
    const double s = std::sin(a), c = std::cos(a);
    long long e1, e2;
    if (s * c > 0) {
        e1 = std::llabs(RoundToInt(h * s + w * c)) + 2;
        e2 = std::llabs(RoundToInt(h * c + w * s)) + 2;
    } else {
        e1 = std::llabs(RoundToInt(h * s - w * c)) + 2;
        e2 = std::llabs(RoundToInt(h * c - w * s)) + 2;
    }
    // E1 runs along the rectangle's width once turned, E2 along its height:
    // the bitmap is made E1 wide and E2 high, so that turned it covers the
    // whole rectangle.
    vcl::TBitmap bitmap(static_cast<int>(e1), static_cast<int>(e2));
    {
        TPlotCanvas3D unturned;
        unturned.SetBufferedDisplay(false);
        unturned.SetMonochrome(Canvas.GetMonochrome());
        const TRect all{0, 0, bitmap.Width(), bitmap.Height()};
        unturned.InitWindow(&bitmap.Canvas(), nullptr, vcl::clWhite, false, all);
        unturned.Projection(0, all);
        const Restore<int> unangled(angle_, 0);
        Draw(unturned, all, 0);
    }
    PlotRotateBitmapHook(angle_, bitmap);
    Canvas.ClipRectangle(rect);
    try {
        Canvas.Draw(static_cast<int>(rect.Left - (bitmap.Width() - w) / 2),
                    static_cast<int>(rect.Top - (bitmap.Height() - h) / 2), &bitmap);
        Canvas.Brush->SetStyle(vcl::TBrushStyle::bsClear);
        Canvas.RectangleRect(rect);
    } catch (...) {
        Canvas.UnClipRectangle();
        throw;
    }
    Canvas.UnClipRectangle();
}

void TCustomPlotGradient::DrawPolygon(TCanvas3D& Canvas, std::span<const TPoint> Points) {
    Canvas.Pen->SetStyle(vcl::TPenStyle::psClear);
    Canvas.PolygonGradient(Points, *this);
}

void TCustomPlotGradient::DrawPolygonWithZ(TCanvas3D& Canvas, std::span<const TPoint> Points, int Z) {
    const std::vector<TPoint> projected = Canvas.Calc3DPoints(Points, Z);
    DrawPolygon(Canvas, projected);
}

void DrawRadialGradient(TCustomPlotGradient& Gradient, TCanvas3D& Canvas, const TRect& Rect) {
    TRect r = Rect;
    NormalizeRect(r);
    const long long w = (long long)r.Right - r.Left, h = (long long)r.Bottom - r.Top;
    if (w <= 0 || h <= 0) return;
    Canvas.ClipRectangle(r);
    long long n = std::min<long long>(255, std::max(w, h));
    const double xStep = w * 0.5 / n, yStep = h * 0.5 / n;
    const gdi::COLORREF start = vcl::ColorToRGB(Gradient.StartColor()), end = vcl::ColorToRGB(Gradient.EndColor());
    const int s[3] = {gdi::GetRValue(start), gdi::GetGValue(start), gdi::GetBValue(start)};
    const int e[3] = {gdi::GetRValue(end), gdi::GetGValue(end), gdi::GetBValue(end)};
    const bool linear = Gradient.Balance() == 50;
    double d[3];
    for (int k = 0; k < 3; ++k) d[k] = linear ? static_cast<double>(e[k] - s[k]) / n : e[k] - s[k];

    const vcl::TPenStyle penStyle = Canvas.Pen->Style();
    Canvas.Pen->SetStyle(vcl::TPenStyle::psClear);
    gdi::HDC dc = Canvas.GetHandle();
    // The bands (and the end colour behind them) through the device
    // context's own brush, whatever the canvas brush is.
    const gdi::HBRUSH old = dc->SelectObject(gdi::GetStockBrush(gdi::DC_BRUSH));
    try {
        dc->SetDCBrushColor(end);
        dc->FillRect({r.Left, r.Top, r.Right, r.Bottom}, gdi::GetStockBrush(gdi::DC_BRUSH));
        if (w % 2 != 0 || h % 2 != 0) --n;
        const double cx = (Gradient.RadialX() + 1.0) + (static_cast<double>(r.Left) + r.Right) * 0.5;
        const double cy = (Gradient.RadialY() + 1.0) + (static_cast<double>(r.Top) + r.Bottom) * 0.5;
        for (long long i = n; i >= 0; --i) {
            int c[3];
            if (linear) {
                for (int k = 0; k < 3; ++k) c[k] = s[k] + RoundToInt(i * d[k]);
            } else {
                const double t = std::pow((1.0 + i) / (1.0 + n), 0.5 + 0.015 * Gradient.Balance());
                for (int k = 0; k < 3; ++k) c[k] = s[k] + RoundToInt(t * d[k]);
            }
            dc->SetDCBrushColor(gdi::RGB(c[0], c[1], c[2]));
            Canvas.Ellipse(RoundToInt(cx - i * xStep), RoundToInt(cy - i * yStep), RoundToInt(cx + i * xStep),
                           RoundToInt(cy + i * yStep));
        }
    } catch (...) {
        dc->SelectObject(old);
        Canvas.Pen->SetStyle(penStyle);
        Canvas.UnClipRectangle();
        throw;
    }
    dc->SelectObject(old);
    Canvas.Pen->SetStyle(penStyle);
    Canvas.UnClipRectangle();
    Gradient.DrawSubGradient(Canvas, r, 0);
}

TSubGradient::TSubGradient(TNotifyEvent ChangedEvent) : TCustomPlotGradient(std::move(ChangedEvent)) {}

void TSubGradient::SetTransparency(int Value) {
    Store(transparency_, static_cast<std::uint8_t>(std::clamp(Value, 0, 100)));
}

TPlotGradient::TPlotGradient(TNotifyEvent ChangedEvent) : TCustomPlotGradient(std::move(ChangedEvent)) {}

void TPlotGradient::SetSubGradient(const TSubGradient& Value) {
    TSubGradient& sub = SubGradientRef();
    sub.Assign(Value);
    sub.SetTransparency(Value.Transparency());
}

TPlotFontGradient::TPlotFontGradient(TNotifyEvent ChangedEvent) : TPlotGradient(std::move(ChangedEvent)) {}

void TPlotFontGradient::SetOutline(bool Value) { Store(outline_, Value); }

}  // namespace chart
