// The chart effects on a 1920 x 1080 picture: image filters, smooth
// resampling, a transparency block and a band gradient fill.
#include <benchmark/benchmark.h>

#include <memory>

#include "chart/drawing/geometric_filters.h"
#include "chart/drawing/pixel_filters.h"
#include "chart/drawing/plot_canvas3d.h"
#include "chart/drawing/resample.h"
#include "support/qt_app.h"

namespace {

using namespace chart;

constexpr int kWidth = 1920, kHeight = 1080;

// A photo-like picture: smooth ramps with some texture (many colours).
const vcl::TBitmap& Picture() {
    static const std::unique_ptr<vcl::TBitmap> picture = [] {
        auto b = std::make_unique<vcl::TBitmap>(kWidth, kHeight);
        b->SetPixelFormat(vcl::TPixelFormat::pf24bit);
        for (int y = 0; y < kHeight; ++y) {
            std::uint8_t* row = b->ScanLine(y);
            for (int x = 0; x < kWidth; ++x) {
                row[3 * x] = static_cast<std::uint8_t>(x * 255 / kWidth);
                row[3 * x + 1] = static_cast<std::uint8_t>(y * 255 / kHeight);
                row[3 * x + 2] = static_cast<std::uint8_t>((x * 7 + y * 13) % 256);
            }
        }
        return b;
    }();
    return *picture;
}

// Applies the filter to a fresh copy of the picture each time (the copy is
// not timed).
void RunFilter(benchmark::State& state, TPlotFilter& filter) {
    vcl::TBitmap work;
    for (auto _ : state) {
        state.PauseTiming();
        work.Assign(Picture());
        state.ResumeTiming();
        filter.ApplyTo(work);
        benchmark::DoNotOptimize(work.ScanLine(0));
    }
}

void BM_Blur(benchmark::State& state) {
    TBlurFilter blur;  // Amount 1, Steps 1
    RunFilter(state, blur);
}
void BM_Invert(benchmark::State& state) {
    TInvertFilter invert;
    RunFilter(state, invert);
}
void BM_Brightness(benchmark::State& state) {
    TBrightnessFilter brightness;
    brightness.Amount = 20;
    RunFilter(state, brightness);
}
void BM_Gamma(benchmark::State& state) {
    TGammaCorrectionFilter gamma;
    RunFilter(state, gamma);
}
void BM_HueLumSat(benchmark::State& state) {
    THueLumSatFilter hls;
    hls.Hue = 40;
    hls.Saturation = -30;
    RunFilter(state, hls);
}
void BM_Rotate30(benchmark::State& state) {
    TRotateFilter rotate;
    rotate.SetAngle(30);
    RunFilter(state, rotate);
}
BENCHMARK(BM_Blur)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Invert)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Brightness)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Gamma)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HueLumSat)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Rotate30)->Unit(benchmark::kMillisecond);

void BM_SmoothStretchTo1280x720(benchmark::State& state) {
    vcl::TBitmap dest(1280, 720);
    for (auto _ : state) SmoothStretch(Picture(), dest);
}
BENCHMARK(BM_SmoothStretchTo1280x720)->Unit(benchmark::kMillisecond);

// A buffered chart surface of 1920 x 1080.
struct Surface {
    vcl::TBitmap window{kWidth, kHeight};
    TPlotCanvas3D canvas;
    Surface() {
        test_support::EnsureQtApplication();
        canvas.InitWindow(&window.Canvas(), nullptr, vcl::clWhite, false, {0, 0, kWidth, kHeight});
        canvas.Projection(0, {0, 0, kWidth, kHeight});
        canvas.ResetState();
    }
};

// A whole-surface block: the pixels saved, then mixed back at 40 percent.
void BM_Blend(benchmark::State& state) {
    Surface s;
    for (auto _ : state) {
        auto blend = s.canvas.BeginBlending({0, 0, kWidth, kHeight}, 40);
        s.canvas.EndBlending(std::move(blend));
    }
}
BENCHMARK(BM_Blend)->Unit(benchmark::kMillisecond);

void BM_BandGradientFill(benchmark::State& state) {
    Surface s;
    for (auto _ : state)
        s.canvas.GradientFill({0, 0, kWidth, kHeight}, vcl::clNavy, vcl::clYellow, gdTopBottom, 50, 0, 0);
}
BENCHMARK(BM_BandGradientFill)->Unit(benchmark::kMillisecond);

}  // namespace
