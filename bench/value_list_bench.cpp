// Value lists at the graph window's scale: how fast 10M points go in (into
// a list, and into a series through AddXY), how long the statistics take
// after an append to a long list, and how much memory the values hold per
// point.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstddef>

#include "chart/engine/chart_series.h"
#include "chart/engine/value_list.h"

namespace {

using chart::engine::TChartListOrder;
using chart::engine::TChartValueList;

constexpr int kPoints = 10'000'000;

// Heap bytes in use, from the allocator's own books (blocks it mapped for
// large requests included), so that realloc'ed blocks count too.
double HeapBytes() {
    const struct mallinfo2 info = mallinfo2();
    return static_cast<double>(info.uordblks + info.hblkhd);
}

void AddPoints(benchmark::State& state, TChartListOrder order) {
    for (auto _ : state) {
        TChartValueList list("X");
        list.Order = order;
        for (int i = 0; i < kPoints; ++i) list.AddValue(i * 0.001);
        benchmark::DoNotOptimize(list.Count());
    }
    state.SetItemsProcessed(state.iterations() * kPoints);
}

// Time stamps: each value at or past the last one.
void BM_AddValueAscending(benchmark::State& state) {
    AddPoints(state, TChartListOrder::loAscending);
}
BENCHMARK(BM_AddValueAscending)->Unit(benchmark::kMillisecond);

void BM_AddValueUnordered(benchmark::State& state) { AddPoints(state, TChartListOrder::loNone); }
BENCHMARK(BM_AddValueUnordered)->Unit(benchmark::kMillisecond);

// A series' points as the graph window adds them: X time stamps and Y
// values through AddXY, all inside one update bracket.
void BM_AddXYInUpdateBracket(benchmark::State& state) {
    for (auto _ : state) {
        chart::engine::TChartSeries series(nullptr);
        series.BeginUpdate();
        for (int i = 0; i < kPoints; ++i) series.AddXY(i * 0.001, (i % 256) - 128.0);
        series.EndUpdate();
        benchmark::DoNotOptimize(series.Count());
    }
    state.SetItemsProcessed(state.iterations() * kPoints);
}
BENCHMARK(BM_AddXYInUpdateBracket)->Unit(benchmark::kMillisecond);

// Statistics read after 1,000 more points reach a list of 10M whose
// statistics were read before; only the read is timed.
void BM_StatisticsAfterAppend(benchmark::State& state) {
    TChartValueList list("Y");
    for (int i = 0; i < kPoints; ++i) list.AddValue((i % 1000) * 0.5 - 100);
    benchmark::DoNotOptimize(list.MaxValue());
    int next = 0;
    for (auto _ : state) {
        for (int i = 0; i < 1000; ++i) list.AddValue((next++ % 777) * 0.25);
        const auto start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(list.MaxValue());
        benchmark::DoNotOptimize(list.TotalABS());
        const auto stop = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(stop - start).count());
    }
}
BENCHMARK(BM_StatisticsAfterAppend)->UseManualTime()->Unit(benchmark::kMicrosecond);

// For comparison: the whole pass that any other change calls for.
void BM_StatisticsFullPass(benchmark::State& state) {
    TChartValueList list("Y");
    for (int i = 0; i < kPoints; ++i) list.AddValue((i % 1000) * 0.5 - 100);
    for (auto _ : state) {
        list.SetValue(0, 1);
        benchmark::DoNotOptimize(list.MaxValue());
    }
}
BENCHMARK(BM_StatisticsFullPass)->Unit(benchmark::kMillisecond);

// A series' two lists (X ascending, Y unordered) with 10M points each:
// heap bytes held against the raw 16 bytes per point, after filling and at
// the largest sample taken every 4,096 points on the way.
void BM_MemoryPerPoint(benchmark::State& state) {
    double held = 0;
    double peak = 0;
    for (auto _ : state) {
        const double before = HeapBytes();
        TChartValueList x("X"), y("Y");
        x.Order = TChartListOrder::loAscending;
        for (int i = 0; i < kPoints; ++i) {
            y.InsertValue(x.AddValue(i), (i % 256) - 128.0);
            if (i % 4096 == 0) peak = std::max(peak, HeapBytes() - before);
        }
        held = HeapBytes() - before;
        peak = std::max(peak, held);
    }
    const double raw = 16.0 * kPoints;
    state.counters["held_to_raw"] = held / raw;
    state.counters["peak_to_raw"] = peak / raw;
    state.counters["bytes_per_point"] = held / kPoints;
}
BENCHMARK(BM_MemoryPerPoint)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
