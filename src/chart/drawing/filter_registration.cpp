// The unit start of the image filters: their properties are published, the
// classes registered in the order the filters editor offers them, and the
// bitmap rotation that angled gradients use installed.
#include "chart/drawing/geometric_filters.h"
#include "chart/drawing/pixel_filters.h"
#include "chart/drawing/plot_gradient.h"
#include "chart/drawing/plot_pro_co.h"
#include "chart/drawing/unit_start.h"

namespace chart {

constinit TPlotRotateBitmap PlotRotateBitmapHook = nullptr;

namespace {

void RotateBitmap(int Angle, vcl::TBitmap& Bitmap) {
    TRotateFilter rotate;
    rotate.SetAngle(Angle);
    rotate.ApplyTo(Bitmap);
}

void Start() {
    PlotProCoUse();
    PublishPixelFilters();
    PublishGeometricFilters();
    PlotRegisterFilters({&TInvertFilter::Class(), &TGrayScaleFilter::Class(), &TMosaicFilter::Class(),
                         &TFlipFilter::Class(), &TReverseFilter::Class(), &TBrightnessFilter::Class(),
                         &TContrastFilter::Class(), &TColorFilter::Class(), &THueLumSatFilter::Class(),
                         &TBlurFilter::Class(), &TSharpenFilter::Class(), &TGammaCorrectionFilter::Class(),
                         &TEmbossFilter::Class(), &TSoftenFilter::Class(), &TCropFilter::Class(),
                         &TResizeFilter::Class(), &TRotateFilter::Class(), &TMirrorFilter::Class(),
                         &TTileFilter::Class(), &TBevelFilter::Class(), &TZoomFilter::Class()});
    PlotRotateBitmapHook = RotateBitmap;
}

void Stop() {
    PlotRotateBitmapHook = nullptr;
    PlotUnregisterFilters();
    PlotProCoRelease();
}

constinit TUnitStart unit_start(Start, Stop);
[[maybe_unused]] const bool started = StartAtLoad(unit_start);

}  // namespace

void PlotFiltersUse() { unit_start.Use(); }
void PlotFiltersRelease() { unit_start.Release(); }
void PlotFiltersLinked() {}

}  // namespace chart
