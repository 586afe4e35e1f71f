// The graph window's line at its sizes: a chart of 800 x 400 pixels with a
// fast line of 10M points against time (an hour of bytes at 115200 baud
// is 41M), as the window sets it up (fast axis routines, a 1-pixel navy
// pen). A whole paint with paging off (axis ranges from the cached
// statistics, labels, the visible range, every point through the line),
// with the received chunks' shared time stamps and against sample numbers
// (every X its own); the last page of 800 points; a zoom to 1 % of the
// time range.
#include <benchmark/benchmark.h>

#include <random>

#include "chart/engine/chart.h"
#include "chart/engine/chart_axis.h"
#include "chart/engine/chart_page.h"
#include "chart/engine/fast_line_series.h"
#include "platform/rtl/datetime.h"
#include "platform/vcl/bitmap.h"
#include "platform/vcl/forms.h"

namespace {

constexpr int kPoints = 10'000'000;

struct LineChart {
    chart::engine::TChart chart{(vcl::EnsureApplication(), nullptr)};
    chart::engine::TFastLineSeries* line = new chart::engine::TFastLineSeries(nullptr);
    vcl::TBitmap bitmap{800, 400};
    explicit LineChart(bool Time = true) {
        chart.SetBounds(0, 0, 800, 400);
        chart.SetView3D(false);
        chart.SetBevelOuter(vcl::TBevelCut::bvNone);
        chart.SetColor(vcl::clWhite);
        chart.SetBufferedDisplay(false);
        chart.Axes().SetFastCalc(true);
        chart.Legend().SetVisible(false);
        chart.BottomAxis().SetDateTimeFormat("h:nn:ss");
        line->SetParentChart(&chart);
        line->SetSeriesColor(0x800000);
        line->XValues().SetDateTime(Time);
        line->AutoRepaint = false;
        line->SetFastPen(true);
        // Bytes of a serial line in chunks of 64 that share a time stamp.
        std::mt19937 random(1);
        line->BeginUpdate();
        double t = rtl::EncodeDate(2024, 5, 1);
        for (int i = 0; i < kPoints; ++i) {
            if (i % 64 == 0) t += 1.0 / 86400000;
            line->AddXY(Time ? t : i + 1.0, static_cast<double>(random() % 256));
        }
        line->EndUpdate();
        Paint();
    }
    void Paint() { chart.DrawToCanvas(&bitmap.Canvas(), {0, 0, 800, 400}); }
};

LineChart& Shared() {
    static LineChart chart;
    return chart;
}

LineChart& Numbered() {
    static LineChart chart(false);
    return chart;
}

void Whole(LineChart& c) {
    c.chart.SetMaxPointsPerPage(0);
    c.chart.BottomAxis().SetAutomatic(true);
}

void BM_PaintAll10MPoints(benchmark::State& state) {
    LineChart& c = Shared();
    Whole(c);
    c.Paint();
    for (auto _ : state) c.Paint();
    state.SetItemsProcessed(state.iterations() * kPoints);
}
BENCHMARK(BM_PaintAll10MPoints)->Unit(benchmark::kMillisecond);

void BM_PaintAll10MSampleNumbers(benchmark::State& state) {
    LineChart& c = Numbered();
    c.Paint();
    for (auto _ : state) c.Paint();
    state.SetItemsProcessed(state.iterations() * kPoints);
}
BENCHMARK(BM_PaintAll10MSampleNumbers)->Unit(benchmark::kMillisecond);

void BM_PaintLastPageOf800(benchmark::State& state) {
    LineChart& c = Shared();
    c.chart.BottomAxis().SetAutomatic(true);
    c.chart.SetMaxPointsPerPage(800);
    c.chart.SetPage(c.chart.NumPages());
    c.Paint();
    for (auto _ : state) c.Paint();
    Whole(c);
}
BENCHMARK(BM_PaintLastPageOf800)->Unit(benchmark::kMillisecond);

void BM_PaintZoomTo1Percent(benchmark::State& state) {
    LineChart& c = Shared();
    Whole(c);
    const double first = c.line->XValues().First(), last = c.line->XValues().Last();
    const double span = last - first;
    std::mt19937 random(2);
    for (auto _ : state) {
        const double from = first + span * (random() % 990) / 1000.0;
        c.chart.BottomAxis().SetMinMax(from, from + span / 100);
        c.Paint();
    }
    Whole(c);
}
BENCHMARK(BM_PaintZoomTo1Percent)->Unit(benchmark::kMillisecond);

}  // namespace
