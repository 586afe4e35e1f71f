#include "chart/drawing/geometric_filters.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "chart/drawing/filter_kit.h"
#include "chart/drawing/pixel_filters.h"
#include "chart/drawing/plot_pro_co.h"
#include "chart/drawing/projection_math.h"
#include "chart/drawing/resample.h"
#include "platform/vcl/properties.h"

namespace chart {

using namespace filter_kit;

namespace {

// A bitmap of the size, 24 bits per pixel (white).
std::unique_ptr<vcl::TBitmap> NewBitmap(long long width, long long height) {
    if (width > gdi::kMaxSurfaceSide || height > gdi::kMaxSurfaceSide)
        throw gdi::EGdiError("A bitmap of " + std::to_string(width) + " x " + std::to_string(height) +
                             " pixels cannot be made");
    auto b = std::make_unique<vcl::TBitmap>(static_cast<int>(width), static_cast<int>(height));
    b->SetPixelFormat(vcl::TPixelFormat::pf24bit);
    return b;
}

}  // namespace

std::unique_ptr<vcl::TBitmap> SmoothResized(const vcl::TBitmap& Source, int Width, int Height) {
    auto out = NewBitmap(Width, Height);
    SmoothStretch(Source, *out);
    return out;
}

// ---- Resize and crop

void TResizeFilter::Apply(vcl::TBitmap& Bitmap, const TRect& Rect) {
    TPlotFilter::Apply(Bitmap, Rect);
    if (Width < 1 || Height < 1) return;
    // Made before the bitmap is touched: a size that cannot be made leaves it.
    std::unique_ptr<vcl::TBitmap> resized = SmoothResized(Bitmap, Width, Height);
    Bitmap.Assign(*resized);
}
std::string TResizeFilter::Description() const { return PlotMsg_FilterResize; }
void TResizeFilter::CreateEditor(IFormCreator& Creator, std::function<void(vcl::TPersistent*)> Changed) {
    TPlotFilter::CreateEditor(Creator, std::move(Changed));
    Creator.AddInteger("Width", PlotMsg_FilterCaptionWidth, 0, 10000);
    Creator.AddInteger("Height", PlotMsg_FilterCaptionHeight, 0, 10000);
}
const TFilterClass& TResizeFilter::Class() {
    return MakeClass<TResizeFilter>("TResizeFilter", [] { return PlotMsg_FilterResize; });
}

void TCropFilter::Apply(vcl::TBitmap& Bitmap, const TRect& Rect) {
    TPlotFilter::Apply(Bitmap, Rect);
    if (Width < 1 || Height < 1 || Bitmap.Empty()) return;
    std::unique_ptr<vcl::TBitmap> part = NewBitmap(Width, Height);
    auto add = [](int a, long long b) { return static_cast<int>(std::clamp<long long>(a + b, INT32_MIN, INT32_MAX)); };
    part->Canvas().CopyRect({0, 0, Width, Height}, Bitmap.Canvas(),
                            {Left, Top, add(Left, (long long)Width - 1), add(Top, (long long)Height - 1)});
    if (Smooth) SmoothStretch(*part, Bitmap);
    else Bitmap.Canvas().CopyRect({0, 0, Bitmap.Width() - 1, Bitmap.Height() - 1}, part->Canvas(), {0, 0, Width, Height});
}
std::string TCropFilter::Description() const { return PlotMsg_FilterCrop; }
void TCropFilter::CreateEditor(IFormCreator& Creator, std::function<void(vcl::TPersistent*)> Changed) {
    TResizeFilter::CreateEditor(Creator, std::move(Changed));
    Creator.AddInteger("Left", PlotMsg_FilterCaptionLeft, 0, 10000);
    Creator.AddInteger("Top", PlotMsg_FilterCaptionTop, 0, 10000);
    Creator.AddCheckBox("Smooth", PlotMsg_FilterCaptionSmooth);
}
const TFilterClass& TCropFilter::Class() {
    return MakeClass<TCropFilter>("TCropFilter", [] { return PlotMsg_FilterCrop; });
}

// ---- Zoom

std::unique_ptr<TCropFilter> TZoomFilter::CropFor(const TRect& R, int X0, int Y0) const {
    const long long w = (long long)R.Right - R.Left + 1, h = (long long)R.Bottom - R.Top + 1;
    const long long dx = RoundToInt(w * Percent * 0.005), dy = RoundToInt(h * Percent * 0.005);
    auto toInt = [](long long v) { return static_cast<int>(std::clamp<long long>(v, INT32_MIN, INT32_MAX)); };
    auto crop = std::make_unique<TCropFilter>();
    crop->Left = toInt(X0 + dx);
    crop->Top = toInt(Y0 + dy);
    crop->Width = toInt(std::max<long long>(1, w - 2 * dx));
    crop->Height = toInt(std::max<long long>(1, h - 2 * dy));
    crop->Smooth = Smooth;
    return crop;
}

void TZoomFilter::Apply(vcl::TBitmap& Bitmap, const TRect& Rect) {
    TPlotFilter::Apply(Bitmap, Rect);
    TRect r = Rect;
    if (!Clip(r)) return;
    const int w = r.Right - r.Left + 1, h = r.Bottom - r.Top + 1;
    if (Bitmap.Width() == w && Bitmap.Height() == h) {
        CropFor(r, r.Left, r.Top)->ApplyTo(Bitmap);
        return;
    }
    std::unique_ptr<vcl::TBitmap> part = NewBitmap(w, h);
    part->Canvas().CopyRect({0, 0, w, h}, Bitmap.Canvas(), {r.Left, r.Top, r.Right, r.Bottom});
    CropFor(r, 0, 0)->ApplyTo(*part);
    Bitmap.Canvas().Draw(r.Left, r.Top, part.get());
}
std::string TZoomFilter::Description() const { return PlotMsg_FilterZoom; }
void TZoomFilter::CreateEditor(IFormCreator& Creator, std::function<void(vcl::TPersistent*)> Changed) {
    TPlotFilter::CreateEditor(Creator, std::move(Changed));
    Creator.AddScroll("Percent", 0, 100);
    Creator.AddCheckBox("Smooth", PlotMsg_FilterCaptionSmooth);
}
const TFilterClass& TZoomFilter::Class() {
    return MakeClass<TZoomFilter>("TZoomFilter", [] { return PlotMsg_FilterZoom; });
}

// ---- Tile

void TTileFilter::Apply(vcl::TBitmap& Bitmap, const TRect& Rect) {
    TPlotFilter::Apply(Bitmap, Rect);
    NumCols = std::max(NumCols, 1);
    NumRows = std::max(NumRows, 1);
    TRect r = Rect;
    if (!Clip(r)) return;
    const int tw = (r.Right - r.Left) / NumCols, th = (r.Bottom - r.Top) / NumRows;
    if (tw < 1 || th < 1) return;
    std::unique_ptr<vcl::TBitmap> tile = SmoothResized(Bitmap, tw, th);
    // Every tile from the bitmap's corner on, as far as the bitmap reaches.
    const std::vector<std::uint8_t*> lines = RowTable(Bitmap);
    const int W = Bitmap.Width(), H = Bitmap.Height();
    for (long long j = 0; j < NumRows && j * th < H; ++j)
        for (int y = 0; y < th && j * th + y < H; ++y) {
            const std::uint8_t* from = tile->ScanLine(y);
            std::uint8_t* to = lines[static_cast<std::size_t>(j * th + y)];
            for (long long i = 0; i < NumCols && i * tw < W; ++i)
                std::memcpy(to + 3 * i * tw, from, 3 * static_cast<std::size_t>(std::min<long long>(tw, W - i * tw)));
        }
}
std::string TTileFilter::Description() const { return PlotMsg_FilterTile; }
void TTileFilter::CreateEditor(IFormCreator& Creator, std::function<void(vcl::TPersistent*)> Changed) {
    TPlotFilter::CreateEditor(Creator, std::move(Changed));
    Creator.AddInteger("NumCols", PlotMsg_FilterCaptionColumns, 1, 1000);
    Creator.AddInteger("NumRows", PlotMsg_FilterCaptionRows, 1, 1000);
}
const TFilterClass& TTileFilter::Class() {
    return MakeClass<TTileFilter>("TTileFilter", [] { return PlotMsg_FilterTile; });
}

// ---- Mirror

void TMirrorFilter::Apply(vcl::TBitmap& Bitmap, const TRect& Rect) {
    TPlotFilter::Apply(Bitmap, Rect);
    if (Lines.empty()) return;
    const int W = Bitmap.Width(), H = Bitmap.Height();
    const bool vertical = Direction == mdDown || Direction == mdUp;
    std::unique_ptr<vcl::TBitmap> doubled = NewBitmap(vertical ? W : 2LL * W, vertical ? 2LL * H : H);
    const std::size_t rowBytes = 3 * static_cast<std::size_t>(W);
    for (int y = 0; y < H; ++y) {
        const std::uint8_t* row = Lines[static_cast<std::size_t>(y)];
        if (vertical) {
            const int plain = Direction == mdDown ? y : H + y;
            const int mirrored = Direction == mdDown ? 2 * H - 1 - y : H - 1 - y;
            std::memcpy(doubled->ScanLine(plain), row, rowBytes);
            std::memcpy(doubled->ScanLine(mirrored), row, rowBytes);
        } else {
            std::uint8_t* out = doubled->ScanLine(y);
            std::uint8_t* plain = out + (Direction == mdRight ? 0 : rowBytes);
            std::uint8_t* mirrored = out + (Direction == mdRight ? rowBytes : 0);
            std::memcpy(plain, row, rowBytes);
            for (int x = 0; x < W; ++x) std::memcpy(mirrored + 3 * (W - 1 - x), row + 3 * x, 3);
        }
    }
    Bitmap.Assign(*doubled);
}
std::string TMirrorFilter::Description() const { return PlotMsg_FilterMirror; }
void TMirrorFilter::CreateEditor(IFormCreator& Creator, std::function<void(vcl::TPersistent*)> Changed) {
    TPlotFilter::CreateEditor(Creator, std::move(Changed));
    Creator.AddCombo("Direction");
}
const TFilterClass& TMirrorFilter::Class() {
    return MakeClass<TMirrorFilter>("TMirrorFilter", [] { return PlotMsg_FilterMirror; });
}

// ---- Rotate

void TRotateFilter::Apply(vcl::TBitmap& Bitmap, const TRect& Rect) {
    if (!std::isfinite(angle_)) return;
    // Whole turns are dropped at once (the property keeps the rest).
    if (angle_ >= 360) angle_ = std::fmod(angle_, 360.0);
    if (angle_ == 180) {
        PlotApplyFilterClass(TFlipFilter::Class(), Bitmap);
        PlotApplyFilterClass(TReverseFilter::Class(), Bitmap);
        return;
    }
    if (angle_ == 0) return;
    TPlotFilter::Apply(Bitmap, Rect);
    const long long W = Bitmap.Width(), H = Bitmap.Height();
    if (W < 2 || H < 2 || Lines.empty()) return;
    const bool quarter = angle_ == 90 || angle_ == 270;
    const float degree = static_cast<float>(3.14159265358979323846 / 180.0);
    const double a = (360.0 - angle_) * static_cast<double>(degree);
    const double s = std::sin(a), c = std::cos(a);
    long long dw = W, dh = H;
    if (quarter) {
        dw = H;
        dh = W;
    } else if (AutoSize) {
        if (s * c <= 0) {
            dh = std::llabs(RoundToInt(W * s - H * c));
            dw = std::llabs(RoundToInt(W * c - H * s));
        } else {
            dh = std::llabs(RoundToInt(W * s + H * c));
            dw = std::llabs(RoundToInt(W * c + H * s));
        }
    }
    std::unique_ptr<vcl::TBitmap> turned = NewBitmap(dw, dh);
    if (turned->Empty()) return;
    if (BackColor != vcl::clNone && vcl::ColorToRGB(BackColor) != vcl::ColorToRGB(vcl::clWhite))
        turned->Handle()->Fill(vcl::ColorToRGB(BackColor));
    const std::vector<std::uint8_t*> out = RowTable(*turned);
    if (angle_ == 90) {
        for (long long y = 0; y < H; ++y)
            for (long long x = 0; x < W; ++x)
                std::memcpy(out[static_cast<std::size_t>(x)] + 3 * (H - 1 - y), Lines[static_cast<std::size_t>(y)] + 3 * x, 3);
    } else if (angle_ == 270) {
        for (long long y = 0; y < H; ++y)
            for (long long x = 0; x < W; ++x)
                std::memcpy(out[static_cast<std::size_t>(W - 1 - x)] + 3 * y, Lines[static_cast<std::size_t>(y)] + 3 * x, 3);
    } else {
        const long long cx = dw / 2, cy = dh / 2, sx = W / 2, sy = H / 2;
        for (long long j = 0; j < dh; ++j) {
            const double dy = static_cast<double>(j - cy);
            std::uint8_t* row = out[static_cast<std::size_t>(j)];
            for (long long i = 0; i < dw; ++i) {
                const double dx = static_cast<double>(i - cx);
                const double col = RoundEven(dx * c - dy * s + sx), line = RoundEven(dx * s + dy * c + sy);
                if (col < 0 || line < 0 || col >= W || line >= H) continue;
                std::memcpy(row + 3 * i, Lines[static_cast<std::size_t>(line)] + 3 * static_cast<long long>(col), 3);
            }
        }
    }
    Bitmap.Assign(*turned);
}
std::string TRotateFilter::Description() const { return PlotMsg_FilterRotate; }
void TRotateFilter::CreateEditor(IFormCreator& Creator, std::function<void(vcl::TPersistent*)> Changed) {
    TPlotFilter::CreateEditor(Creator, std::move(Changed));
    Creator.AddScroll("Angle", 0, 360);
    Creator.AddColor("BackColor", PlotMsg_FilterCaptionBack);
    Creator.AddCheckBox("AutoSize", PlotMsg_FilterCaptionAutosize);
}
const TFilterClass& TRotateFilter::Class() {
    return MakeClass<TRotateFilter>("TRotateFilter", [] { return PlotMsg_FilterRotate; });
}

// ---- Published properties

namespace {

// Made on first use: the tables are filled while the program loads.
const vcl::TEnumTypeInfo& MirrorDirectionType() {
    static const vcl::TEnumTypeInfo type{"TMirrorDirection", {"mdDown", "mdUp", "mdRight", "mdLeft"}};
    return type;
}

}  // namespace

void PublishGeometricFilters() {
    static const bool published = [] {
        PublishFilterFrame();
        using vcl::RegisterProperties;
        RegisterProperties<TResizeFilter, TPlotFilter>()
            .Integer("Width", &TResizeFilter::Width, &TResizeFilter::Width, 0)
            .Integer("Height", &TResizeFilter::Height, &TResizeFilter::Height, 0);
        RegisterProperties<TCropFilter, TResizeFilter>()
            .Integer("Left", &TCropFilter::Left, &TCropFilter::Left, 0)
            .Integer("Top", &TCropFilter::Top, &TCropFilter::Top, 0)
            .Boolean("Smooth", &TCropFilter::Smooth, &TCropFilter::Smooth, false);
        RegisterProperties<TZoomFilter, TPlotFilter>()
            .Float("Percent", &TZoomFilter::Percent, &TZoomFilter::Percent, 10.0)
            .Boolean("Smooth", &TZoomFilter::Smooth, &TZoomFilter::Smooth, false);
        RegisterProperties<TTileFilter, TPlotFilter>()
            .Integer("NumCols", &TTileFilter::NumCols, &TTileFilter::NumCols, 3)
            .Integer("NumRows", &TTileFilter::NumRows, &TTileFilter::NumRows, 3);
        RegisterProperties<TMirrorFilter, TPlotFilter>().Enum("Direction", MirrorDirectionType(), &TMirrorFilter::Direction,
                                                              &TMirrorFilter::Direction, mdDown);
        RegisterProperties<TRotateFilter, TPlotFilter>()
            .Float("Angle", &TRotateFilter::Angle, &TRotateFilter::SetAngle, 0.0)
            .Boolean("AutoSize", &TRotateFilter::AutoSize, &TRotateFilter::AutoSize, true)
            .Color("BackColor", &TRotateFilter::BackColor, &TRotateFilter::BackColor, vcl::clWhite);
        return true;
    }();
    (void)published;
}

}  // namespace chart
