// A series' points in a form stream: the "Data" block of a million points
// written and read back (goal: both together within 150 ms), with time
// stamps as X values (which the block then carries) and without.
#include <benchmark/benchmark.h>

#include "chart/engine/chart_series.h"
#include "platform/vcl/streams.h"

namespace {

using chart::engine::TChartSeries;

constexpr int kPoints = 1'000'000;

void Fill(TChartSeries& Series, bool TimeStamps) {
    Series.BeginUpdate();
    for (int i = 0; i < kPoints; ++i) Series.AddXY(TimeStamps ? 45000.0 + i / 86400.0 : i, (i * 37) % 1000);
    Series.EndUpdate();
}

void WriteAndRead(benchmark::State& state, bool TimeStamps) {
    TChartSeries source(nullptr), target(nullptr);
    Fill(source, TimeStamps);
    std::int64_t bytes = 0;
    for (auto _ : state) {
        vcl::TMemoryStream stream;
        source.WriteData(stream);
        stream.SetPosition(0);
        target.ReadData(stream);
        bytes = stream.Size();
        benchmark::DoNotOptimize(target.Count());
    }
    state.SetItemsProcessed(state.iterations() * kPoints);
    state.counters["block_MB"] = static_cast<double>(bytes) / 1e6;
}

void BM_DataWriteAndRead_TimeStamps(benchmark::State& state) { WriteAndRead(state, true); }
BENCHMARK(BM_DataWriteAndRead_TimeStamps)->Unit(benchmark::kMillisecond);

void BM_DataWriteAndRead_SampleNumbers(benchmark::State& state) { WriteAndRead(state, false); }
BENCHMARK(BM_DataWriteAndRead_SampleNumbers)->Unit(benchmark::kMillisecond);

// The two halves alone.
void BM_DataWrite(benchmark::State& state) {
    TChartSeries source(nullptr);
    Fill(source, true);
    for (auto _ : state) {
        vcl::TMemoryStream stream;
        source.WriteData(stream);
        benchmark::DoNotOptimize(stream.Size());
    }
}
BENCHMARK(BM_DataWrite)->Unit(benchmark::kMillisecond);

void BM_DataRead(benchmark::State& state) {
    TChartSeries source(nullptr), target(nullptr);
    Fill(source, true);
    vcl::TMemoryStream stream;
    source.WriteData(stream);
    for (auto _ : state) {
        stream.SetPosition(0);
        target.ReadData(stream);
        benchmark::DoNotOptimize(target.Count());
    }
}
BENCHMARK(BM_DataRead)->Unit(benchmark::kMillisecond);

}  // namespace
