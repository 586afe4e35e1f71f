// The chart's own share of a paint at the graph window's scale: finding
// the visible points of a 10M-point series (binary search on its X list,
// where received chunks share time stamps), and a paint of axes, grid and
// labels over such a series whose points draw nothing, so what is left is
// layout, ranges from the cached statistics, increments and labels.
#include <benchmark/benchmark.h>

#include <random>

#include "chart/engine/chart.h"
#include "chart/engine/chart_axis.h"
#include "chart/engine/chart_series.h"
#include "platform/rtl/datetime.h"
#include "platform/vcl/bitmap.h"
#include "platform/vcl/forms.h"

namespace {

constexpr int kPoints = 10'000'000;

// A series that draws nothing of its own.
class SilentSeries : public chart::engine::TChartSeries {
  public:
    using TChartSeries::TChartSeries;
};

struct Chart {
    chart::engine::TChart chart{(vcl::EnsureApplication(), nullptr)};
    SilentSeries* series = new SilentSeries(nullptr);
    vcl::TBitmap bitmap{800, 400};
    Chart() {
        chart.SetBounds(0, 0, 800, 400);
        chart.SetView3D(false);
        chart.SetBufferedDisplay(false);
        series->SetParentChart(&chart);
        series->XValues().SetDateTime(true);
        chart.BottomAxis().SetDateTimeFormat("h:nn:ss");
        // Chunks of 64 values sharing one time stamp, a millisecond apart.
        std::mt19937 random(1);
        series->BeginUpdate();
        double t = rtl::EncodeDate(2024, 5, 1);
        for (int i = 0; i < kPoints; ++i) {
            if (i % 64 == 0) t += 1.0 / 86400000;
            series->AddXY(t, static_cast<double>(random() % 256));
        }
        series->EndUpdate();
    }
    void Paint() { chart.DrawToCanvas(&bitmap.Canvas(), {0, 0, 800, 400}); }
};

Chart& Shared() {
    static Chart chart;
    return chart;
}

void BM_VisibleRangeOf10MPoints(benchmark::State& state) {
    Chart& c = Shared();
    chart::engine::TChartAxis& x = c.chart.BottomAxis();
    const double first = c.series->XValues().First(), last = c.series->XValues().Last();
    const double span = last - first;
    c.Paint();
    std::mt19937 random(2);
    for (auto _ : state) {
        const double from = first + span * (random() % 1000) / 1000.0;
        x.SetMinMax(from, from + span / 100);
        x.AdjustMaxMin();
        c.series->CalcFirstLastVisibleIndex();
        benchmark::DoNotOptimize(c.series->LastVisibleIndex);
    }
}
BENCHMARK(BM_VisibleRangeOf10MPoints)->Unit(benchmark::kMicrosecond);

// A whole paint without new data: statistics come from the cache.
void BM_PaintAxesOver10MPoints(benchmark::State& state) {
    Chart& c = Shared();
    c.chart.BottomAxis().SetAutomatic(true);
    c.Paint();
    for (auto _ : state) c.Paint();
}
BENCHMARK(BM_PaintAxesOver10MPoints)->Unit(benchmark::kMillisecond);

}  // namespace
