// Smoothed drawing: 10,000 diagonal lines of 100 pixels on an 800 x 600
// image; one line across the chart's whole pixel range (only what crosses
// the image may cost anything); and an 800 x 400 chart of a 1,000,000-point
// fast line painted as a window paints it, with the anti-alias tool and
// without it (the smoothed paint should take at most twice as long).
#include <benchmark/benchmark.h>

#include <random>

#include "chart/drawing/plot_antialias.h"
#include "chart/drawing/projection_math.h"
#include "chart/engine/chart.h"
#include "chart/engine/chart_axis.h"
#include "chart/engine/fast_line_series.h"
#include "chart/tools/antialias_tool.h"
#include "platform/vcl/bitmap.h"
#include "platform/vcl/forms.h"

namespace {

// A smoothing surface painting into its off-screen bitmap, as a chart's
// window paint does.
struct SmoothImage {
    vcl::TBitmap window;
    chart::TAntiAliasCanvas canvas;
    SmoothImage(int Width, int Height) : window((vcl::EnsureApplication(), Width), Height) {
        canvas.InitWindow(&window.Canvas(), nullptr, vcl::clWhite, false, {0, 0, Width, Height});
        canvas.Projection(0, {0, 0, Width, Height});
        canvas.Brush->SetColor(vcl::clWhite);
        canvas.FillRect({0, 0, Width, Height});
        canvas.Pen->SetColor(vcl::clNavy);
        canvas.Pen->SetWidth(1);
    }
};

void BM_Smooth10000DiagonalLines(benchmark::State& state) {
    SmoothImage image(800, 600);
    // Both directions and both slopes, spread over the image.
    std::mt19937 random(1);
    struct Segment {
        int x0, y0, x1, y1;
    };
    std::vector<Segment> lines;
    for (int i = 0; i < 10'000; ++i) {
        const int x = 50 + int(random() % 700), y = 50 + int(random() % 500);
        const int dx = i % 2 ? 50 : -50, dy = i % 4 < 2 ? 50 : -50;
        lines.push_back({x - dx, y - dy, x + dx, y + dy});
    }
    for (auto _ : state)
        for (const Segment& s : lines) image.canvas.Line(s.x0, s.y0, s.x1, s.y1);
    state.SetItemsProcessed(state.iterations() * 10'000);
}
BENCHMARK(BM_Smooth10000DiagonalLines)->Unit(benchmark::kMillisecond);

void BM_SmoothLineAcrossThePixelRange(benchmark::State& state) {
    SmoothImage image(800, 600);
    for (auto _ : state) image.canvas.Line(-chart::kPixelLimit, -200, chart::kPixelLimit, 800);
}
BENCHMARK(BM_SmoothLineAcrossThePixelRange)->Unit(benchmark::kMicrosecond);

constexpr int kPoints = 1'000'000;

// The graph window's chart at 800 x 400 with a fast line of random bytes,
// painted into a window-sized bitmap through the chart's off-screen image.
struct LineChart {
    chart::engine::TChart chart{(vcl::EnsureApplication(), nullptr)};
    vcl::TBitmap window{800, 400};
    explicit LineChart(bool Smoothed) {
        chart.SetBounds(0, 0, 800, 400);
        chart.SetView3D(false);
        chart.SetColor(vcl::clWhite);
        chart.Axes().SetFastCalc(true);
        chart.Legend().SetVisible(false);
        auto* line = new chart::engine::TFastLineSeries(nullptr);
        line->SetParentChart(&chart);
        line->SetSeriesColor(vcl::clNavy);
        line->AutoRepaint = false;
        std::mt19937 random(1);
        line->BeginUpdate();
        for (int i = 0; i < kPoints; ++i) line->AddXY(i, static_cast<double>(random() % 256));
        line->EndUpdate();
        if (Smoothed) (new chart::tools::TAntiAliasTool(nullptr))->SetParentChart(&chart);
        Paint();
    }
    void Paint() { chart.Draw(&window.Canvas(), {0, 0, 800, 400}); }
};

void PaintLineChart(benchmark::State& state, bool Smoothed) {
    LineChart c(Smoothed);
    for (auto _ : state) c.Paint();
    state.SetItemsProcessed(state.iterations() * kPoints);
}

void BM_Paint1MPointLinePlain(benchmark::State& state) { PaintLineChart(state, false); }
BENCHMARK(BM_Paint1MPointLinePlain)->Unit(benchmark::kMillisecond);

void BM_Paint1MPointLineSmoothed(benchmark::State& state) { PaintLineChart(state, true); }
BENCHMARK(BM_Paint1MPointLineSmoothed)->Unit(benchmark::kMillisecond);

}  // namespace
