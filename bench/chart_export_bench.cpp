// Exporting a chart of 800 x 400 pixels (axes, grid, labels and a line) as
// a bitmap file (the aim is 20 ms in all), and as an enhanced metafile when
// its line has 1,000,000 points (the aim is 150 ms, with a file whose size
// follows the picture's width, not the number of points).
//
// The line is drawn as the series built for many points draws it: a point
// that falls on the pixel column just drawn is skipped. That series comes
// later; until then this one stands in for it (the "all points" run draws
// every point, for comparison).
#include <benchmark/benchmark.h>

#include <cmath>

#include "chart/tools/export_formats.h"
#include "platform/vcl/streams.h"
#include "support/qt_app.h"
#include "support/recording_series.h"

namespace {

using chart::tools::TBMPExportFormat;
using chart::tools::TEMFExportFormat;

class ColumnLineSeries : public chart::engine::TChartSeries {
  public:
    ColumnLineSeries() : TChartSeries(nullptr) {}
    bool EveryPoint = false;

    void DoBeforeDrawValues() override {
        started_ = false;
        TChartSeries::DoBeforeDrawValues();
    }
    void DrawValue(int ValueIndex) override {
        chart::TCanvas3D& canvas = *ParentChart()->Canvas();
        const int x = CalcXPos(ValueIndex), y = CalcYPos(ValueIndex);
        if (!started_) {
            canvas.Pen->SetColor(SeriesColor());
            canvas.MoveTo(x, y);
            started_ = true;
        } else if (EveryPoint || x != last_x_) {
            canvas.LineTo(x, y);
        } else {
            return;
        }
        last_x_ = x;
    }

  private:
    bool started_ = false;
    int last_x_ = 0;
};

struct LineChart : test_support::PlainChart {
    ColumnLineSeries* series = new ColumnLineSeries;
    LineChart(int width, int points) : PlainChart(width, 400) {
        series->SetParentChart(this);
        series->SetSeriesColor(vcl::clRed);
        series->BeginUpdate();
        for (int i = 0; i < points; ++i)
            series->AddXY(i, 50 + 40 * std::sin(i * 0.0007 * 1e6 / points) + 5 * std::sin(i * 0.9));
        series->EndUpdate();
    }
};

// Each iteration writes the whole file; its size is reported.
void Export(benchmark::State& state, chart::tools::TPlotExportFormat& format) {
    std::int64_t size = 0;
    for (auto _ : state) {
        vcl::TMemoryStream out;
        format.SaveToStream(out);
        size = out.Size();
    }
    state.counters["bytes"] = static_cast<double>(size);
}

void BM_ExportBitmap(benchmark::State& state) {
    test_support::EnsureQtApplication();
    LineChart chart(800, 1600);
    TBMPExportFormat format;
    format.Panel = &chart;
    Export(state, format);
}
BENCHMARK(BM_ExportBitmap)->Unit(benchmark::kMillisecond);

void ExportMetafile(benchmark::State& state, bool everyPoint) {
    test_support::EnsureQtApplication();
    LineChart chart(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    chart.series->EveryPoint = everyPoint;
    TEMFExportFormat format;
    format.Panel = &chart;
    Export(state, format);
}
void BM_ExportMetafile_Columns(benchmark::State& state) { ExportMetafile(state, false); }
void BM_ExportMetafile_AllPoints(benchmark::State& state) { ExportMetafile(state, true); }
BENCHMARK(BM_ExportMetafile_Columns)
    ->Args({800, 1'000'000})
    ->Args({800, 100'000})
    ->Args({1600, 1'000'000})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExportMetafile_AllPoints)->Args({800, 1'000'000})->Unit(benchmark::kMillisecond);

}  // namespace
