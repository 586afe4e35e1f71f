#pragma once
// The filters that change a bitmap's size or geometry: resize, crop, zoom,
// tile, mirror and rotate.
#include <cstdint>

#include <memory>

#include "chart/drawing/plot_filters.h"
#include "chart/drawing/plot_geometry.h"

namespace chart {

// The whole bitmap resampled (Lanczos) to Width x Height; nothing unless
// both are at least 1.
class TResizeFilter : public TPlotFilter {
public:
    int Width = 0;
    int Height = 0;

    void Apply(vcl::TBitmap& Bitmap, const TRect& Rect) override;
    std::string Description() const override;
    void CreateEditor(IFormCreator& Creator, std::function<void(vcl::TPersistent*)> Changed) override;
    const TFilterClass& FilterClass() const override { return Class(); }
    static const TFilterClass& Class();
};

// The part from (Left, Top), Width x Height, stretched over the whole
// bitmap (whose size stays); smoothly resampled with Smooth.
class TCropFilter : public TResizeFilter {
public:
    int Left = 0;
    int Top = 0;
    bool Smooth = false;

    void Apply(vcl::TBitmap& Bitmap, const TRect& Rect) override;
    std::string Description() const override;
    void CreateEditor(IFormCreator& Creator, std::function<void(vcl::TPersistent*)> Changed) override;
    const TFilterClass& FilterClass() const override { return Class(); }
    static const TFilterClass& Class();
};

// The filter rectangle zoomed in by Percent (of its size, taken off both
// sides together).
class TZoomFilter : public TPlotFilter {
public:
    double Percent = 10;
    bool Smooth = false;

    void Apply(vcl::TBitmap& Bitmap, const TRect& Rect) override;
    std::string Description() const override;
    void CreateEditor(IFormCreator& Creator, std::function<void(vcl::TPersistent*)> Changed) override;
    const TFilterClass& FilterClass() const override { return Class(); }
    static const TFilterClass& Class();
    // The crop that zooms R in.
    std::unique_ptr<TCropFilter> CropFor(const TRect& R, int X0, int Y0) const;
};

// The whole bitmap shrunk into NumCols x NumRows tiles.
class TTileFilter : public TPlotFilter {
public:
    int NumCols = 3;
    int NumRows = 3;

    void Apply(vcl::TBitmap& Bitmap, const TRect& Rect) override;
    std::string Description() const override;
    void CreateEditor(IFormCreator& Creator, std::function<void(vcl::TPersistent*)> Changed) override;
    const TFilterClass& FilterClass() const override { return Class(); }
    static const TFilterClass& Class();
};

enum TMirrorDirection : std::uint8_t { mdDown, mdUp, mdRight, mdLeft };

// The bitmap doubled with its mirror image on the given side.
class TMirrorFilter : public TPlotFilter {
public:
    TMirrorFilter() { AllowRegion = false; }
    TMirrorDirection Direction = mdDown;

    void Apply(vcl::TBitmap& Bitmap, const TRect& Rect) override;
    std::string Description() const override;
    void CreateEditor(IFormCreator& Creator, std::function<void(vcl::TPersistent*)> Changed) override;
    const TFilterClass& FilterClass() const override { return Class(); }
    static const TFilterClass& Class();
};

// The whole bitmap turned by Angle degrees (clockwise on the screen), grown
// to hold it with AutoSize; uncovered pixels take BackColor (clNone and
// white leave them white). A non-finite Angle turns nothing.
class TRotateFilter : public TPlotFilter {
public:
    double Angle() const { return angle_; }
    // Stores only a changed value.
    void SetAngle(double Value) {
        if (Value != angle_) angle_ = Value;
    }
    bool AutoSize = true;
    TColor BackColor = vcl::clWhite;

    void Apply(vcl::TBitmap& Bitmap, const TRect& Rect) override;
    std::string Description() const override;
    void CreateEditor(IFormCreator& Creator, std::function<void(vcl::TPersistent*)> Changed) override;
    const TFilterClass& FilterClass() const override { return Class(); }
    static const TFilterClass& Class();

private:
    double angle_ = 0;
};

// Publishes the properties of the geometric filters (once).
void PublishGeometricFilters();

// A new bitmap of the size with Source resampled into it.
std::unique_ptr<vcl::TBitmap> SmoothResized(const vcl::TBitmap& Source, int Width, int Height);

}  // namespace chart
