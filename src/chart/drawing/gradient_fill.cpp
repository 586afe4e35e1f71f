// The band gradient fill of the GDI surface: the rectangle is painted in at
// most 256 bands of solid colour (or 255 colour steps of diagonal lines,
// or nested strips from the centre or a corner), each colour set only when
// it changes, through the device context's own brush and pen colours.
#include <algorithm>
#include <cmath>

#include "chart/drawing/drawing_setup.h"
#include "chart/drawing/plot_canvas3d.h"
#include "chart/drawing/plot_gradient.h"
#include "chart/drawing/projection_math.h"

namespace chart {

namespace {

// Sides beyond this many pixels are cut to the visible part first.
constexpr long long kLargestStripFill = 1 << 16;

// The colour of step i of N from Start by Diff, per channel.
class Steps {
public:
    Steps(gdi::COLORREF start, gdi::COLORREF end, int balance) : balance_(balance) {
        start_[0] = gdi::GetRValue(start);
        start_[1] = gdi::GetGValue(start);
        start_[2] = gdi::GetBValue(start);
        diff_[0] = gdi::GetRValue(end) - start_[0];
        diff_[1] = gdi::GetGValue(end) - start_[1];
        diff_[2] = gdi::GetBValue(end) - start_[2];
    }
    gdi::COLORREF At(long long i, long long n) const {
        int c[3];
        if (balance_ != 50) {
            const double k = std::pow((1.0 + i) / (1.0 + n), 0.5 + 0.015 * balance_);
            for (int j = 0; j < 3; ++j) c[j] = RoundToInt(diff_[j] * k) + start_[j];
        } else {
            for (int j = 0; j < 3; ++j) c[j] = n == 0 ? start_[j] : static_cast<int>(diff_[j] * i / n) + start_[j];
        }
        // Balances far outside 0..100 push past the channel range: held to it.
        return gdi::RGB(std::clamp(c[0], 0, 255), std::clamp(c[1], 0, 255), std::clamp(c[2], 0, 255));
    }

private:
    int balance_;
    int start_[3];
    int diff_[3];
};

// Paints solid rectangles with the device context's brush, setting its
// colour only when it changes; the brush selected before comes back.
class BandPainter {
public:
    explicit BandPainter(gdi::HDC dc) : dc_(dc), old_(dc->SelectObject(gdi::GetStockBrush(gdi::DC_BRUSH))) {}
    ~BandPainter() { dc_->SelectObject(old_); }
    BandPainter(const BandPainter&) = delete;
    BandPainter& operator=(const BandPainter&) = delete;

    void Paint(long long x, long long y, long long w, long long h, gdi::COLORREF color) {
        if (w <= 0 || h <= 0) return;
        if (!set_ || color != last_) {
            dc_->SetDCBrushColor(color);
            last_ = color;
            set_ = true;
        }
        dc_->PatBlt(Clamp(x), Clamp(y), Clamp(w), Clamp(h), gdi::PATCOPY);
    }

private:
    static int Clamp(long long v) { return static_cast<int>(std::clamp<long long>(v, INT32_MIN, INT32_MAX)); }
    gdi::HDC dc_;
    gdi::HBRUSH old_;
    gdi::COLORREF last_ = 0;
    bool set_ = false;
};

}  // namespace

void TPlotCanvas3D::GradientFill(const TRect& Rect, TColor StartColor, TColor EndColor,
                                 TGradientDirection Direction, int Balance, int RadialX, int RadialY) {
    TRect r = Rect;
    NormalizeRect(r);
    const long long w = (long long)r.Right - r.Left, h = (long long)r.Bottom - r.Top;
    if (w <= 0 || h <= 0) return;
    if (Direction == gdRadial) {
        TCustomPlotGradient radial;
        radial.SetDirection(gdRadial);
        radial.SetStartColor(StartColor);
        radial.SetEndColor(EndColor);
        radial.SetBalance(Balance);
        radial.SetRadialX(RadialX);
        radial.SetRadialY(RadialY);
        DrawRadialGradient(radial, *this, r);
        return;
    }
    // Strips and lines cost one step per pixel of the rectangle's sides:
    // over a rectangle far beyond any surface only the visible part is
    // filled, as if it were the whole rectangle.
    const bool banded = Direction == gdTopBottom || Direction == gdBottomTop || Direction == gdLeftRight ||
                        Direction == gdRightLeft;
    if (!banded && (w > kLargestStripFill || h > kLargestStripFill)) {
        gdi::RECT box;
        GetHandle()->GetClipBox(&box);
        r = {std::max(r.Left, box.left), std::max(r.Top, box.top), std::min(r.Right, box.right),
             std::min(r.Bottom, box.bottom)};
        return GradientFill(r, StartColor, EndColor, Direction, Balance, RadialX, RadialY);
    }
    if (Direction != gdTopBottom && Direction != gdLeftRight && Direction != gdDiagonalUp &&
        Direction != gdDiagonalDown)
        std::swap(StartColor, EndColor);
    const Steps steps(vcl::ColorToRGB(StartColor), vcl::ColorToRGB(EndColor), Balance);
    gdi::HDC dc = GetHandle();

    switch (Direction) {
        case gdTopBottom:
        case gdBottomTop:
        case gdLeftRight:
        case gdRightLeft: {
            // Bands from the bottom (or right) edge, the start colour first.
            const bool rows = Direction == gdTopBottom || Direction == gdBottomTop;
            const long long size = rows ? h : w;
            const long long count = std::min<long long>(size, 256), n = count - 1;
            if (n <= 0) return;
            BandPainter bands(dc);
            for (long long i = 0; i < count; ++i) {
                const long long e0 = i * size / count, e1 = (i + 1) * size / count;
                if (rows) bands.Paint(r.Left, r.Bottom - e1, w, e1 - e0, steps.At(i, n));
                else bands.Paint(r.Right - e1, r.Top, e1 - e0, h, steps.At(i, n));
            }
            return;
        }
        case gdFromCenter: {
            // Strips nested from the edge inwards: the edge takes colour 0.
            const long long hw = w / 2, hh = h / 2, n = std::max<long long>(1, hw + hh);
            const long long stepSize = std::max(PlotGradientStep, 1);
            BandPainter bands(dc);
            long long i = 0, j = 0;
            for (bool grew = true; grew;) {
                const gdi::COLORREF c = steps.At(i + j, n);
                bands.Paint(r.Left + j, r.Top + i, stepSize, h - 2 * i, c);
                bands.Paint(r.Right - j - stepSize, r.Top + i, stepSize, h - 2 * i, c);
                bands.Paint(r.Left + j, r.Top + i, w - 2 * j, stepSize, c);
                bands.Paint(r.Left + j, r.Bottom - i - stepSize, w - 2 * j, stepSize, c);
                grew = false;
                if (i < hh) i += stepSize, grew = true;
                if (j < hw) j += stepSize, grew = true;
            }
            return;
        }
        case gdFromTopLeft:
        case gdFromBottomLeft: {
            // Columns and rows growing from the corner, like nested quarters.
            const bool fromTop = Direction == gdFromTopLeft;
            const long long n = std::max<long long>(1, w + h);
            const long long y0 = fromTop ? r.Top : r.Bottom;
            long long y = y0, x = 0, k = 0;
            BandPainter bands(dc);
            for (;;) {
                const gdi::COLORREF c = steps.At(x + k, n);
                if (x < w) {  // once all columns are done, no more beyond them
                    if (fromTop) bands.Paint(r.Left + x, y0, 1, y - y0, c);
                    else bands.Paint(r.Left + x, y, 1, y0 - y, c);
                }
                if (k < h) {
                    ++k;
                    // As wide as the columns so far, never past the right edge.
                    bands.Paint(r.Left, fromTop ? y : y - 1, std::min(x + 1, w), 1, c);
                    y += fromTop ? 1 : -1;
                }
                if (x < w) ++x;
                if (k == h && x == w) break;
            }
            return;
        }
        case gdDiagonalUp:
        case gdDiagonalDown: {
            const bool up = Direction == gdDiagonalUp;
            --r.Bottom;
            const long long dw = (long long)r.Right - r.Left, dh = (long long)r.Bottom - r.Top;
            const long long total = dw + dh;
            const long long n = std::max<long long>(1, std::min<long long>(255, total - 1));
            long long px = r.Left, py = up ? r.Bottom : r.Top;
            long long qx = px, qy = py;
            const int rop = dc->SetROP2(gdi::R2_COPYPEN);
            const gdi::HPEN oldPen = dc->SelectObject(gdi::GetStockPen(gdi::DC_PEN));
            gdi::COLORREF last = 0;
            bool set = false;
            for (long long k = 0; k < total; ++k) {
                const gdi::COLORREF c = steps.At(n * k / total, n);
                if (!set || c != last) {
                    dc->SetDCPenColor(c);
                    last = c;
                    set = true;
                }
                dc->MoveToEx(static_cast<int>(px), static_cast<int>(py));
                dc->LineTo(static_cast<int>(qx), static_cast<int>(qy));
                // A line leaves out its last pixel: on the edge the lines
                // end at, that pixel is the only one they would paint.
                if (qx < r.Right && qy >= r.Top && qy <= r.Bottom)
                    dc->SetPixel(static_cast<int>(qx), static_cast<int>(qy), c);
                if (qx < r.Right) ++qx;
                else if (up ? qy > r.Top : qy < r.Bottom) qy += up ? -1 : 1;
                if (up ? py > r.Top : py < r.Bottom) py += up ? -1 : 1;
                else if (px < r.Right) ++px;
            }
            dc->SelectObject(oldPen);
            dc->SetROP2(rop);
            return;
        }
        default: return;
    }
}

}  // namespace chart
