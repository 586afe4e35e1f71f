#pragma once
// The pixel filters: each rewrites the pixels of a 24-bit bitmap inside the
// filter rectangle (bounds inclusive). Results are bytes held to 0..255;
// rounding is to the nearest, halves to the even neighbour.
#include <array>
#include <cstdint>
#include <memory>

#include "chart/drawing/plot_filters.h"

namespace chart {

// A 3 x 3 convolution: weights W0..W8 row by row over the neighbourhood,
// the sum times Factor (1 / the weights' sum, worked out on every call).
// The outermost rows and columns of the rectangle are left as they were;
// weights that sum to 0 leave every pixel as it was.
class TConvolveFilter : public TPlotFilter {
public:
    float Factor = 1.0f / 9.0f;
    std::array<float, 9> Weights{};

    void Apply(vcl::TBitmap& Bitmap, const TRect& Rect) override;
    const TFilterClass& FilterClass() const override { return Class(); }
    static const TFilterClass& Class();

protected:
    // The convolution with the weights as they are (row table built).
    void Convolve(const TRect& Rect);
};

class TBlurFilter : public TConvolveFilter {
public:
    // The weight of the pixel itself (its 8 neighbours weigh 1).
    int Amount = 1;
    // How many times the convolution runs (none below 1; at most 100).
    int Steps = 1;

    void Apply(vcl::TBitmap& Bitmap, const TRect& Rect) override;
    std::string Description() const override;
    void CreateEditor(IFormCreator& Creator, std::function<void(vcl::TPersistent*)> Changed) override;
    const TFilterClass& FilterClass() const override { return Class(); }
    static const TFilterClass& Class();
};

class TSharpenFilter : public TConvolveFilter {
public:
    void Apply(vcl::TBitmap& Bitmap, const TRect& Rect) override;
    std::string Description() const override;
    const TFilterClass& FilterClass() const override { return Class(); }
    static const TFilterClass& Class();
};

class TEmbossFilter : public TConvolveFilter {
public:
    void Apply(vcl::TBitmap& Bitmap, const TRect& Rect) override;
    std::string Description() const override;
    const TFilterClass& FilterClass() const override { return Class(); }
    static const TFilterClass& Class();
};

class TSoftenFilter : public TConvolveFilter {
public:
    void Apply(vcl::TBitmap& Bitmap, const TRect& Rect) override;
    std::string Description() const override;
    const TFilterClass& FilterClass() const override { return Class(); }
    static const TFilterClass& Class();
};

class TInvertFilter : public TPlotFilter {
public:
    void Apply(vcl::TBitmap& Bitmap, const TRect& Rect) override;
    std::string Description() const override;
    const TFilterClass& FilterClass() const override { return Class(); }
    static const TFilterClass& Class();
};

enum TGrayMethod : std::uint8_t { gmSimple, gmEye, gmEye2 };

class TGrayScaleFilter : public TPlotFilter {
public:
    TGrayMethod Method = gmSimple;

    void Apply(vcl::TBitmap& Bitmap, const TRect& Rect) override;
    std::string Description() const override;
    void CreateEditor(IFormCreator& Creator, std::function<void(vcl::TPersistent*)> Changed) override;
    const TFilterClass& FilterClass() const override { return Class(); }
    static const TFilterClass& Class();
};

// A filter with one amount, as a percent or in channel steps.
class TAmountFilter : public TPlotFilter {
public:
    int Amount = 5;
    bool Percent = true;
    // The editor's scroll range starts at 0.
    bool OnlyPositive = false;

    std::string Description() const override;
    void CreateEditor(IFormCreator& Creator, std::function<void(vcl::TPersistent*)> Changed) override;
    const TFilterClass& FilterClass() const override { return Class(); }
    static const TFilterClass& Class();
    // The editor's range: up to 100 as a percent, else 255; from 0 when
    // OnlyPositive, else from -100 or -255.
    int MinAmount() const { return OnlyPositive ? 0 : Percent ? -100 : -255; }
    int MaxAmount() const { return Percent ? 100 : 255; }

private:
    std::weak_ptr<TFormScrollBar> scroll_;
};

class TMosaicFilter : public TAmountFilter {
public:
    TMosaicFilter();
    void Apply(vcl::TBitmap& Bitmap, const TRect& Rect) override;
    std::string Description() const override;
    const TFilterClass& FilterClass() const override { return Class(); }
    static const TFilterClass& Class();
};

class TBrightnessFilter : public TAmountFilter {
public:
    void Apply(vcl::TBitmap& Bitmap, const TRect& Rect) override;
    std::string Description() const override;
    const TFilterClass& FilterClass() const override { return Class(); }
    static const TFilterClass& Class();
};

class TContrastFilter : public TAmountFilter {
public:
    void Apply(vcl::TBitmap& Bitmap, const TRect& Rect) override;
    std::string Description() const override;
    const TFilterClass& FilterClass() const override { return Class(); }
    static const TFilterClass& Class();
};

class TGammaCorrectionFilter : public TAmountFilter {
public:
    TGammaCorrectionFilter();
    void Apply(vcl::TBitmap& Bitmap, const TRect& Rect) override;
    std::string Description() const override;
    const TFilterClass& FilterClass() const override { return Class(); }
    static const TFilterClass& Class();
};

// Rows exchanged about the rectangle's middle.
class TFlipFilter : public TPlotFilter {
public:
    void Apply(vcl::TBitmap& Bitmap, const TRect& Rect) override;
    std::string Description() const override;
    const TFilterClass& FilterClass() const override { return Class(); }
    static const TFilterClass& Class();
};

// Columns exchanged about the rectangle's middle.
class TReverseFilter : public TPlotFilter {
public:
    void Apply(vcl::TBitmap& Bitmap, const TRect& Rect) override;
    std::string Description() const override;
    const TFilterClass& FilterClass() const override { return Class(); }
    static const TFilterClass& Class();
};

// Adds to each channel.
class TColorFilter : public TPlotFilter {
public:
    int Blue = 0;
    int Green = 0;
    int Red = 0;

    void Apply(vcl::TBitmap& Bitmap, const TRect& Rect) override;
    std::string Description() const override;
    void CreateEditor(IFormCreator& Creator, std::function<void(vcl::TPersistent*)> Changed) override;
    const TFilterClass& FilterClass() const override { return Class(); }
    static const TFilterClass& Class();
};

// Adds to hue, luminance and saturation (each on the 0..240 scale).
class THueLumSatFilter : public TPlotFilter {
public:
    int Hue = 0;
    int Luminance = 0;
    int Saturation = 0;

    void Apply(vcl::TBitmap& Bitmap, const TRect& Rect) override;
    std::string Description() const override;
    void CreateEditor(IFormCreator& Creator, std::function<void(vcl::TPersistent*)> Changed) override;
    const TFilterClass& FilterClass() const override { return Class(); }
    static const TFilterClass& Class();
};

// A raised frame: lighter top and left edges, darker bottom and right.
class TBevelFilter : public TPlotFilter {
public:
    int Bright = 64;
    int Size = 15;

    void Apply(vcl::TBitmap& Bitmap, const TRect& Rect) override;
    std::string Description() const override;
    void CreateEditor(IFormCreator& Creator, std::function<void(vcl::TPersistent*)> Changed) override;
    const TFilterClass& FilterClass() const override { return Class(); }
    static const TFilterClass& Class();
};

// Publishes the properties of the pixel filters (once).
void PublishPixelFilters();

// The classic conversions on the 0..240 scale (hue 160 when undefined).
struct THLS {
    int H = 0, L = 0, S = 0;
};
THLS RGBToHLS(int R, int G, int B);
void HLSToRGB(const THLS& Value, int& R, int& G, int& B);

}  // namespace chart
