#include "chart/drawing/pixel_filters.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "chart/drawing/filter_kit.h"
#include "chart/drawing/plot_pro_co.h"
#include "chart/drawing/projection_math.h"
#include "platform/vcl/properties.h"

namespace chart {

using namespace filter_kit;


// ---- Convolution

const TFilterClass& TConvolveFilter::Class() {
    return MakeClass<TConvolveFilter>("TConvolveFilter", [] { return std::string("TConvolveFilter"); });
}

void TConvolveFilter::Apply(vcl::TBitmap& Bitmap, const TRect& Rect) {
    TPlotFilter::Apply(Bitmap, Rect);
    if (Lines.empty()) return;
    Convolve(Rect);
}

namespace {

// Runs over the rows of the rectangle's inside: f(above, own, below, out)
// for each row, the pointers at the pixel left of the first one worked.
template <class Row>
void EachInnerRow(const std::vector<std::uint8_t*>& lines, const TRect& r, std::vector<std::uint8_t>& out, Row&& f) {
    const int cols = r.Right - r.Left - 1, rows = r.Bottom - r.Top - 1;
    for (int y = 0; y < rows; ++y)
        f(lines[static_cast<std::size_t>(r.Top + y)] + 3 * r.Left, lines[static_cast<std::size_t>(r.Top + y + 1)] + 3 * r.Left,
          lines[static_cast<std::size_t>(r.Top + y + 2)] + 3 * r.Left, out.data() + static_cast<std::size_t>(y) * cols * 3,
          cols * 3);
}

std::uint8_t ToByte(double v) { return v <= 0 ? 0 : v >= 255 ? 255 : static_cast<std::uint8_t>(v); }

}  // namespace

void TConvolveFilter::Convolve(const TRect& Rect) {
    TRect r = Rect;
    if (!Clip(r)) return;
    float sum = 0;
    for (float w : Weights) sum += w;
    // Weights that cancel out cannot be scaled: the pixels stay.
    if (sum == 0 || !std::isfinite(sum)) return;
    Factor = 1.0f / sum;
    const int cols = r.Right - r.Left - 1, rows = r.Bottom - r.Top - 1;
    if (cols < 1 || rows < 1) return;
    const double factor = Factor;
    std::vector<std::uint8_t> out(static_cast<std::size_t>(cols) * rows * 3);
    // Whole weights (blur, emboss, soften) give whole sums: the result of
    // each possible sum is worked out once and looked up.
    int iw[9];
    double w[9];
    long long lowest = 0, highest = 0;
    bool whole = true;
    for (int i = 0; i < 9; ++i) {
        w[i] = Weights[static_cast<std::size_t>(i)];
        whole = whole && w[i] == std::floor(w[i]) && std::fabs(w[i]) <= 1024;
        iw[i] = whole ? static_cast<int>(w[i]) : 0;
        (iw[i] < 0 ? lowest : highest) += 255LL * iw[i];
    }
    if (whole) {
        std::vector<std::uint8_t> result(static_cast<std::size_t>(highest - lowest + 1));
        for (long long s = lowest; s <= highest; ++s)
            result[static_cast<std::size_t>(s - lowest)] = ToByte(RoundEven(static_cast<double>(s) * factor));
        const std::uint8_t* lookup = result.data() - lowest;
        EachInnerRow(Lines, r, out, [&](const std::uint8_t* a, const std::uint8_t* m, const std::uint8_t* b,
                                        std::uint8_t* o, int n) {
            for (int i = 0; i < n; ++i)
                o[i] = lookup[iw[0] * a[i] + iw[1] * a[i + 3] + iw[2] * a[i + 6] + iw[3] * m[i] + iw[4] * m[i + 3] +
                              iw[5] * m[i + 6] + iw[6] * b[i] + iw[7] * b[i + 3] + iw[8] * b[i + 6]];
        });
    } else {
        EachInnerRow(Lines, r, out, [&](const std::uint8_t* a, const std::uint8_t* m, const std::uint8_t* b,
                                        std::uint8_t* o, int n) {
            for (int i = 0; i < n; ++i)
                o[i] = ToByte(RoundEven((w[0] * a[i] + w[1] * a[i + 3] + w[2] * a[i + 6] + w[3] * m[i] +
                                         w[4] * m[i + 3] + w[5] * m[i + 6] + w[6] * b[i] + w[7] * b[i + 3] +
                                         w[8] * b[i + 6]) *
                                        factor));
        });
    }
    for (int y = 0; y < rows; ++y)
        std::copy_n(out.data() + static_cast<std::size_t>(y) * cols * 3, cols * 3,
                    Lines[static_cast<std::size_t>(r.Top + y + 1)] + 3 * (r.Left + 1));
}

// Repeated blurring beyond this many passes changes little more; a larger
// Steps (from a stream or code) is taken as this.
constexpr int kMostBlurSteps = 100;

void TBlurFilter::Apply(vcl::TBitmap& Bitmap, const TRect& Rect) {
    TPlotFilter::Apply(Bitmap, Rect);
    if (Lines.empty()) return;
    LinesReady = true;
    Weights = {1, 1, 1, 1, static_cast<float>(Amount), 1, 1, 1, 1};
    for (int i = 0; i < std::min(Steps, kMostBlurSteps); ++i) Convolve(Rect);
    LinesReady = false;
}

std::string TBlurFilter::Description() const { return PlotMsg_FilterBlur; }

void TBlurFilter::CreateEditor(IFormCreator& Creator, std::function<void(vcl::TPersistent*)> Changed) {
    TPlotFilter::CreateEditor(Creator, std::move(Changed));
    Creator.AddScroll("Steps", 1, 20);
    Creator.AddScroll("Amount", 0, 50);
}

const TFilterClass& TBlurFilter::Class() {
    return MakeClass<TBlurFilter>("TBlurFilter", [] { return PlotMsg_FilterBlur; });
}

void TSharpenFilter::Apply(vcl::TBitmap& Bitmap, const TRect& Rect) {
    Weights = {-0.125f, -0.125f, -0.125f, -0.125f, 2.0f, -0.125f, -0.125f, -0.125f, -0.125f};
    TConvolveFilter::Apply(Bitmap, Rect);
}
std::string TSharpenFilter::Description() const { return PlotMsg_FilterSharpen; }
const TFilterClass& TSharpenFilter::Class() {
    return MakeClass<TSharpenFilter>("TSharpenFilter", [] { return PlotMsg_FilterSharpen; });
}

void TEmbossFilter::Apply(vcl::TBitmap& Bitmap, const TRect& Rect) {
    Weights = {0, -1, 0, -1, 1, 1, 0, -1, 0};
    TConvolveFilter::Apply(Bitmap, Rect);
}
std::string TEmbossFilter::Description() const { return PlotMsg_FilterEmboss; }
const TFilterClass& TEmbossFilter::Class() {
    return MakeClass<TEmbossFilter>("TEmbossFilter", [] { return PlotMsg_FilterEmboss; });
}

void TSoftenFilter::Apply(vcl::TBitmap& Bitmap, const TRect& Rect) {
    Weights = {0, 0, 0, 0, 1, 1, 0, 1, 1};
    TConvolveFilter::Apply(Bitmap, Rect);
}
std::string TSoftenFilter::Description() const { return PlotMsg_FilterCaptionAntialias; }
const TFilterClass& TSoftenFilter::Class() {
    return MakeClass<TSoftenFilter>("TSoftenFilter", [] { return PlotMsg_FilterCaptionAntialias; });
}

// ---- Per-pixel filters

namespace {

// Calls f(pixel) for every pixel of r (clipped) through the row table.
template <class F>
void EachPixel(const std::vector<std::uint8_t*>& lines, const TRect& r, F&& f) {
    for (int y = r.Top; y <= r.Bottom; ++y) {
        std::uint8_t* p = lines[static_cast<std::size_t>(y)] + 3 * r.Left;
        for (int x = r.Left; x <= r.Right; ++x, p += 3) f(p);
    }
}

// Each channel through a 256-entry table.
void MapChannels(const std::vector<std::uint8_t*>& lines, const TRect& r, const std::uint8_t (&table)[256]) {
    for (int y = r.Top; y <= r.Bottom; ++y) {
        std::uint8_t* p = lines[static_cast<std::size_t>(y)] + 3 * r.Left;
        std::uint8_t* end = p + 3 * (r.Right - r.Left + 1);
        for (; p < end; ++p) *p = table[*p];
    }
}

}  // namespace

void TInvertFilter::Apply(vcl::TBitmap& Bitmap, const TRect& Rect) {
    TPlotFilter::Apply(Bitmap, Rect);
    TRect r = Rect;
    if (!Clip(r)) return;
    std::uint8_t table[256];
    for (int i = 0; i < 256; ++i) table[i] = static_cast<std::uint8_t>(255 - i);
    MapChannels(Lines, r, table);
}
std::string TInvertFilter::Description() const { return PlotMsg_FilterInvert; }
const TFilterClass& TInvertFilter::Class() {
    return MakeClass<TInvertFilter>("TInvertFilter", [] { return PlotMsg_FilterInvert; });
}

void TGrayScaleFilter::Apply(vcl::TBitmap& Bitmap, const TRect& Rect) {
    TPlotFilter::Apply(Bitmap, Rect);
    TRect r = Rect;
    if (!Clip(r)) return;
    const TGrayMethod method = Method;
    EachPixel(Lines, r, [method](std::uint8_t* p) {
        const int b = p[0], g = p[1], rd = p[2];
        int v;
        switch (method) {
            case gmEye: v = static_cast<int>(RoundEven(rd * 0.3 + g * 0.59 + b * 0.11)); break;
            case gmEye2: v = (rd * 11 + g * 16 + b * 5) >> 5; break;
            default: v = (b + g + rd) / 3; break;
        }
        p[0] = p[1] = p[2] = ClampByte(v);
    });
}
std::string TGrayScaleFilter::Description() const { return PlotMsg_FilterGrayScale; }
void TGrayScaleFilter::CreateEditor(IFormCreator& Creator, std::function<void(vcl::TPersistent*)> Changed) {
    TPlotFilter::CreateEditor(Creator, std::move(Changed));
    Creator.AddCombo("Method");
}
const TFilterClass& TGrayScaleFilter::Class() {
    return MakeClass<TGrayScaleFilter>("TGrayScaleFilter", [] { return PlotMsg_FilterGrayScale; });
}

// ---- Amount filters

std::string TAmountFilter::Description() const { return ClassName(); }

void TAmountFilter::CreateEditor(IFormCreator& Creator, std::function<void(vcl::TPersistent*)> Changed) {
    TPlotFilter::CreateEditor(Creator, std::move(Changed));
    scroll_ = Creator.AddScroll("Amount", MinAmount(), MaxAmount());
    Creator.AddCheckBox("Percent", PlotMsg_FilterCaptionPercent, [this] {
        if (auto scroll = scroll_.lock()) scroll->SetRange(MinAmount(), MaxAmount());
    });
}

const TFilterClass& TAmountFilter::Class() {
    return MakeClass<TAmountFilter>("TAmountFilter", [] { return std::string("TAmountFilter"); });
}

TMosaicFilter::TMosaicFilter() {
    Amount = 8;
    OnlyPositive = true;
}

void TMosaicFilter::Apply(vcl::TBitmap& Bitmap, const TRect& Rect) {
    TPlotFilter::Apply(Bitmap, Rect);
    TRect r = Rect;
    if (!Clip(r) || Amount < 1) return;
    const long long n = Amount;
    long long bw = n - 1, bh = n - 1;
    float factor = static_cast<float>(1.0 / (static_cast<double>(n) * n));
    auto block = [&](long long x, long long y) {
        long long sum[3] = {0, 0, 0};
        for (long long j = y; j <= y + bh; ++j) {
            const std::uint8_t* p = Lines[static_cast<std::size_t>(j)] + 3 * x;
            for (long long i = 0; i <= bw; ++i, p += 3)
                for (int c = 0; c < 3; ++c) sum[c] += p[c];
        }
        std::uint8_t colour[3];
        for (int c = 0; c < 3; ++c) colour[c] = ClampByte(static_cast<long long>(RoundEven(sum[c] * static_cast<double>(factor))));
        for (long long j = y; j <= y + bh; ++j) {
            std::uint8_t* p = Lines[static_cast<std::size_t>(j)] + 3 * x;
            for (long long i = 0; i <= bw; ++i, p += 3) std::copy_n(colour, 3, p);
        }
    };
    auto rowOfBlocks = [&](long long y) {
        long long x = r.Left;
        for (; x < r.Right - n; x += n) block(x, y);
        if (x < r.Right) {
            bw = r.Right - x;
            factor = static_cast<float>(1.0 / (static_cast<double>(bw + 1) * (bh + 1)));
            block(x, y);
        }
        bw = bh;
        factor = static_cast<float>(1.0 / (static_cast<double>(n) * n));
    };
    long long y = r.Top;
    for (; y < r.Bottom - n; y += n) rowOfBlocks(y);
    if (y < r.Bottom) {
        bh = r.Bottom - y - 1;
        factor = static_cast<float>(1.0 / (static_cast<double>(bw + 1) * (bh + 1)));
        rowOfBlocks(y);
    }
}
std::string TMosaicFilter::Description() const { return PlotMsg_FilterMosaic; }
const TFilterClass& TMosaicFilter::Class() {
    return MakeClass<TMosaicFilter>("TMosaicFilter", [] { return PlotMsg_FilterMosaic; });
}

void TBrightnessFilter::Apply(vcl::TBitmap& Bitmap, const TRect& Rect) {
    TPlotFilter::Apply(Bitmap, Rect);
    TRect r = Rect;
    if (!Clip(r) || Amount == 0) return;
    long long d = Amount;
    if (Percent) {
        const float s = static_cast<float>(Amount * 0.01);
        d = RoundToInt(255.0 * static_cast<double>(s));
    }
    std::uint8_t table[256];
    for (int i = 0; i < 256; ++i) table[i] = ClampByte(i + d);
    MapChannels(Lines, r, table);
}
std::string TBrightnessFilter::Description() const { return PlotMsg_FilterBrightness; }
const TFilterClass& TBrightnessFilter::Class() {
    return MakeClass<TBrightnessFilter>("TBrightnessFilter", [] { return PlotMsg_FilterBrightness; });
}

void TContrastFilter::Apply(vcl::TBitmap& Bitmap, const TRect& Rect) {
    TPlotFilter::Apply(Bitmap, Rect);
    TRect r = Rect;
    if (!Clip(r)) return;
    std::uint8_t table[256];
    const float f = Percent ? static_cast<float>(Amount * 0.01) : 1.0f;
    for (int c = 0; c < 256; ++c) {
        long long v;
        if (!Percent) {
            v = c + (static_cast<long long>(Amount) * (c - 128)) / 256;
        } else {
            const long long k = RoundToInt(c * static_cast<double>(f));
            v = c + (k * (c - 128)) / 256;
        }
        table[c] = ClampByte(v);
    }
    MapChannels(Lines, r, table);
}
std::string TContrastFilter::Description() const { return PlotMsg_FilterContrast; }
const TFilterClass& TContrastFilter::Class() {
    return MakeClass<TContrastFilter>("TContrastFilter", [] { return PlotMsg_FilterContrast; });
}

TGammaCorrectionFilter::TGammaCorrectionFilter() {
    Amount = 70;
    OnlyPositive = true;
}

void TGammaCorrectionFilter::Apply(vcl::TBitmap& Bitmap, const TRect& Rect) {
    TPlotFilter::Apply(Bitmap, Rect);
    TRect r = Rect;
    if (!Clip(r)) return;
    const double g = std::max(std::fabs(static_cast<double>(Amount)) * 0.01, 0.001);
    std::uint8_t table[256];
    table[0] = 0;
    for (int i = 1; i < 256; ++i) table[i] = ClampByte(RoundToInt(255.0 * std::exp(std::log(i / 255.0) / g)));
    MapChannels(Lines, r, table);
}
std::string TGammaCorrectionFilter::Description() const { return PlotMsg_FilterGamma; }
const TFilterClass& TGammaCorrectionFilter::Class() {
    return MakeClass<TGammaCorrectionFilter>("TGammaCorrectionFilter", [] { return PlotMsg_FilterGamma; });
}

// ---- Flip and reverse

void TFlipFilter::Apply(vcl::TBitmap& Bitmap, const TRect& Rect) {
    TPlotFilter::Apply(Bitmap, Rect);
    TRect r = Rect;
    if (!Clip(r)) return;
    const int bytes = 3 * (r.Right - r.Left + 1);
    for (int k = 0; k < (r.Bottom - r.Top + 1) / 2; ++k)
        std::swap_ranges(Lines[static_cast<std::size_t>(r.Top + k)] + 3 * r.Left,
                         Lines[static_cast<std::size_t>(r.Top + k)] + 3 * r.Left + bytes,
                         Lines[static_cast<std::size_t>(r.Bottom - k)] + 3 * r.Left);
}
std::string TFlipFilter::Description() const { return PlotMsg_FilterFlip; }
const TFilterClass& TFlipFilter::Class() {
    return MakeClass<TFlipFilter>("TFlipFilter", [] { return PlotMsg_FilterFlip; });
}

void TReverseFilter::Apply(vcl::TBitmap& Bitmap, const TRect& Rect) {
    TPlotFilter::Apply(Bitmap, Rect);
    TRect r = Rect;
    if (!Clip(r)) return;
    for (int y = r.Top; y <= r.Bottom; ++y) {
        std::uint8_t* row = Lines[static_cast<std::size_t>(y)];
        for (int k = 0; k < (r.Right - r.Left + 1) / 2; ++k)
            std::swap_ranges(row + 3 * (r.Left + k), row + 3 * (r.Left + k) + 3, row + 3 * (r.Right - k));
    }
}
std::string TReverseFilter::Description() const { return PlotMsg_FilterReverse; }
const TFilterClass& TReverseFilter::Class() {
    return MakeClass<TReverseFilter>("TReverseFilter", [] { return PlotMsg_FilterReverse; });
}

// ---- Colour

void TColorFilter::Apply(vcl::TBitmap& Bitmap, const TRect& Rect) {
    TPlotFilter::Apply(Bitmap, Rect);
    TRect r = Rect;
    if (!Clip(r) || (Red == 0 && Green == 0 && Blue == 0)) return;
    const int amounts[3] = {Blue, Green, Red};
    std::uint8_t tables[3][256];
    for (int c = 0; c < 3; ++c)
        for (int i = 0; i < 256; ++i) tables[c][i] = ClampByte(static_cast<long long>(i) + amounts[c]);
    EachPixel(Lines, r, [&](std::uint8_t* p) {
        for (int c = 0; c < 3; ++c)
            if (amounts[c] != 0) p[c] = tables[c][p[c]];
    });
}
std::string TColorFilter::Description() const { return PlotMsg_FilterColor; }
void TColorFilter::CreateEditor(IFormCreator& Creator, std::function<void(vcl::TPersistent*)> Changed) {
    TPlotFilter::CreateEditor(Creator, std::move(Changed));
    Creator.AddScroll("Red", -255, 255);
    Creator.AddScroll("Green", -255, 255);
    Creator.AddScroll("Blue", -255, 255);
}
const TFilterClass& TColorFilter::Class() {
    return MakeClass<TColorFilter>("TColorFilter", [] { return PlotMsg_FilterColor; });
}

THLS RGBToHLS(int R, int G, int B) {
    const int mx = std::max({R, G, B}), mn = std::min({R, G, B});
    THLS out;
    const float l = static_cast<float>(((mx + mn) * 240.0 + 255.0) / 510.0);
    out.L = static_cast<int>(RoundEven(l));
    if (mx == mn) {
        out.H = 160;
        out.S = 0;
        return out;
    }
    const double sum = mx + mn, span = mx - mn;
    const double s = l <= 120 ? (span * 240 + sum / 2) / sum : (span * 240 + (510 - sum) / 2) / (510 - sum);
    const float rd = static_cast<float>(((mx - R) * 40.0 + span / 2) / span);
    const float gd = static_cast<float>(((mx - G) * 40.0 + span / 2) / span);
    const float bd = static_cast<float>(((mx - B) * 40.0 + span / 2) / span);
    double h;
    if (mx == R) h = static_cast<double>(bd) - gd;
    else if (mx == G) h = 80.0 + rd - bd;
    else h = 160.0 + gd - rd;
    if (h < 0) h += 240;
    if (h > 240) h -= 240;
    out.H = static_cast<int>(RoundEven(h));
    out.S = static_cast<int>(RoundEven(s));
    return out;
}

namespace {

int HueToRGB(float m1, float m2, double hue) {
    if (hue < 0) hue += 240;
    if (hue > 240) hue -= 240;
    double v;
    if (hue < 40) v = m1 + ((m2 - m1) * hue + 20) / 40;
    else if (hue < 120) v = m2;
    else if (hue < 160) v = m1 + ((m2 - m1) * (160 - hue) + 20) / 40;
    else v = m1;
    const double rounded = RoundEven(v);
    return std::clamp(static_cast<int>(RoundEven((rounded * 255 + 120) / 240)), 0, 255);
}

}  // namespace

void HLSToRGB(const THLS& Value, int& R, int& G, int& B) {
    const double l = Value.L, s = Value.S, h = Value.H;
    if (Value.S == 0) {
        R = G = B = std::clamp(static_cast<int>(RoundEven(l * 255 / 240)), 0, 255);
        return;
    }
    const float m2 = static_cast<float>(l <= 120 ? (l * (240 + s) + 120) / 240 : l + s - (l * s + 120) / 240);
    const float m1 = static_cast<float>(2 * l - m2);
    R = HueToRGB(m1, m2, h + 80);
    G = HueToRGB(m1, m2, h);
    B = HueToRGB(m1, m2, h - 80);
}

void THueLumSatFilter::Apply(vcl::TBitmap& Bitmap, const TRect& Rect) {
    TPlotFilter::Apply(Bitmap, Rect);
    TRect r = Rect;
    if (!Clip(r) || (Hue == 0 && Luminance == 0 && Saturation == 0)) return;
    // Pictures repeat their colours: the last conversions are kept.
    struct Entry {
        std::uint32_t from = 0xFFFFFFFFu;
        std::uint8_t to[3];
    };
    std::vector<Entry> cache(1 << 14);
    EachPixel(Lines, r, [&](std::uint8_t* p) {
        const std::uint32_t colour = p[0] | (p[1] << 8) | (p[2] << 16);
        Entry& e = cache[(colour * 2654435761u) >> 18];
        if (e.from != colour) {
            THLS v = RGBToHLS(p[2], p[1], p[0]);
            if (Hue != 0) v.H = std::clamp<long long>((long long)v.H + Hue, 0, 255);
            if (Luminance != 0) v.L = std::clamp<long long>((long long)v.L + Luminance, 0, 255);
            if (Saturation != 0) v.S = std::clamp<long long>((long long)v.S + Saturation, 0, 255);
            int rd, g, b;
            HLSToRGB(v, rd, g, b);
            e.from = colour;
            e.to[0] = static_cast<std::uint8_t>(b);
            e.to[1] = static_cast<std::uint8_t>(g);
            e.to[2] = static_cast<std::uint8_t>(rd);
        }
        std::copy_n(e.to, 3, p);
    });
}
std::string THueLumSatFilter::Description() const { return PlotMsg_FilterHLS; }
void THueLumSatFilter::CreateEditor(IFormCreator& Creator, std::function<void(vcl::TPersistent*)> Changed) {
    TPlotFilter::CreateEditor(Creator, std::move(Changed));
    Creator.AddScroll("Hue", -255, 255);
    Creator.AddScroll("Luminance", -255, 255);
    Creator.AddScroll("Saturation", -255, 255);
}
const TFilterClass& THueLumSatFilter::Class() {
    return MakeClass<THueLumSatFilter>("THueLumSatFilter", [] { return PlotMsg_FilterHLS; });
}

// ---- Bevel

void TBevelFilter::Apply(vcl::TBitmap& Bitmap, const TRect& Rect) {
    TPlotFilter::Apply(Bitmap, Rect);
    TRect r = Rect;
    if (!Clip(r)) return;
    const long long bright = Bright;
    auto raise = [&](std::uint8_t* p) {
        for (int c = 0; c < 3; ++c) p[c] = ClampByte(p[c] + bright);
    };
    auto lower = [&](std::uint8_t* p) {
        for (int c = 0; c < 3; ++c) p[c] = ClampByte(p[c] - bright);
    };
    const int halfH = (r.Bottom - r.Top) / 2, halfW = (r.Right - r.Left) / 2;
    // Beyond both halves no edge is left to shade.
    const int size = std::min(Size, std::max(halfH, halfW));
    for (int k = 0; k < size; ++k) {
        if (k < halfH) {
            std::uint8_t* top = Lines[static_cast<std::size_t>(r.Top + k)];
            std::uint8_t* bottom = Lines[static_cast<std::size_t>(r.Bottom - k)];
            for (int x = r.Left + k; x <= r.Right - k; ++x) {
                raise(top + 3 * x);
                lower(bottom + 3 * x);
            }
        }
        if (k < halfW)
            for (int y = r.Top + k + 1; y <= r.Bottom - k; ++y) {
                raise(Lines[static_cast<std::size_t>(y)] + 3 * (r.Left + k));
                lower(Lines[static_cast<std::size_t>(y)] + 3 * (r.Right - k));
            }
    }
}
std::string TBevelFilter::Description() const { return PlotMsg_FilterBevel; }
void TBevelFilter::CreateEditor(IFormCreator& Creator, std::function<void(vcl::TPersistent*)> Changed) {
    TPlotFilter::CreateEditor(Creator, std::move(Changed));
    Creator.AddScroll("Bright", 1, 255);
    Creator.AddScroll("Size", 1, 1000);
}
const TFilterClass& TBevelFilter::Class() {
    return MakeClass<TBevelFilter>("TBevelFilter", [] { return PlotMsg_FilterBevel; });
}

// ---- Published properties

namespace {

// Made on first use: the tables are filled while the program loads.
const vcl::TEnumTypeInfo& GrayMethodType() {
    static const vcl::TEnumTypeInfo type{"TGrayMethod", {"gmSimple", "gmEye", "gmEye2"}};
    return type;
}

// An amount filter's Amount, with the value it starts at as its default,
// so that every value the filter can hold comes back from a stream.
template <class C>
void PublishAmount(long long start) {
    vcl::RegisterProperties<C, TAmountFilter>().Integer("Amount", Member<C>(&TAmountFilter::Amount),
                                                        Member<C>(&TAmountFilter::Amount), start);
}

}  // namespace

void PublishPixelFilters() {
    static const bool published = [] {
        PublishFilterFrame();
        using vcl::RegisterProperties;
        RegisterProperties<TConvolveFilter, TPlotFilter>();
        RegisterProperties<TBlurFilter, TConvolveFilter>()
            .Integer("Amount", &TBlurFilter::Amount, &TBlurFilter::Amount, 1)
            .Integer("Steps", &TBlurFilter::Steps, &TBlurFilter::Steps, 1);
        RegisterProperties<TSharpenFilter, TConvolveFilter>();
        RegisterProperties<TEmbossFilter, TConvolveFilter>();
        RegisterProperties<TSoftenFilter, TConvolveFilter>();
        RegisterProperties<TInvertFilter, TPlotFilter>();
        RegisterProperties<TGrayScaleFilter, TPlotFilter>().Enum("Method", GrayMethodType(), &TGrayScaleFilter::Method,
                                                                 &TGrayScaleFilter::Method, gmSimple);
        RegisterProperties<TAmountFilter, TPlotFilter>().Boolean("Percent", &TAmountFilter::Percent,
                                                                 &TAmountFilter::Percent, true);
        PublishAmount<TMosaicFilter>(8);
        PublishAmount<TBrightnessFilter>(5);
        PublishAmount<TContrastFilter>(5);
        PublishAmount<TGammaCorrectionFilter>(70);
        RegisterProperties<TFlipFilter, TPlotFilter>();
        RegisterProperties<TReverseFilter, TPlotFilter>();
        RegisterProperties<TColorFilter, TPlotFilter>()
            .Integer("Blue", &TColorFilter::Blue, &TColorFilter::Blue, 0)
            .Integer("Green", &TColorFilter::Green, &TColorFilter::Green, 0)
            .Integer("Red", &TColorFilter::Red, &TColorFilter::Red, 0);
        RegisterProperties<THueLumSatFilter, TPlotFilter>()
            .Integer("Hue", &THueLumSatFilter::Hue, &THueLumSatFilter::Hue, 0)
            .Integer("Luminance", &THueLumSatFilter::Luminance, &THueLumSatFilter::Luminance, 0)
            .Integer("Saturation", &THueLumSatFilter::Saturation, &THueLumSatFilter::Saturation, 0);
        RegisterProperties<TBevelFilter, TPlotFilter>()
            .Integer("Bright", &TBevelFilter::Bright, &TBevelFilter::Bright, 64)
            .Integer("Size", &TBevelFilter::Size, &TBevelFilter::Size, 15);
        return true;
    }();
    (void)published;
}

}  // namespace chart
