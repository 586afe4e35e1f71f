// Receive panel throughput and memory: how fast received chunks become
// panel lines, and what the panel holds per received byte.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>

#include "platform/rtl/datetime.h"
#include "terminal/receive_panel.h"

namespace {

using namespace terminal;

// A clock that moves on by one millisecond whenever a chunk takes its stamp.
class SteppingClock : public TReceiveClock {
public:
    double Now = rtl::EncodeDate(2026, 12, 7) + rtl::EncodeTime(10, 0, 0, 0);
    double LocalNow() override {
        Now += 1.0 / 86400000.0;
        return Now;
    }
    std::int64_t Counter() override { return 0; }
    std::int64_t CounterFrequency() override { return 1000; }
};

std::string RandomBytes(std::size_t n) {
    std::mt19937 gen(12345);
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(gen() & 0xFF);
    return s;
}

// Printable text with a line feed now and then, as a device printing lines.
std::string TextLines(std::size_t n) {
    std::mt19937 gen(777);
    std::string s(n, '\0');
    for (char& c : s) c = (gen() % 60 == 0) ? '\n' : static_cast<char>(32 + gen() % 95);
    return s;
}

long ResidentBytes() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return resident * 4096;
}

void RunThroughput(benchmark::State& state, TDataFormat format, int resolution,
                   const std::string& chunk) {
    SteppingClock clock;
    TReceivePanel panel(clock);
    panel.DataFormat = format;
    panel.RVPnlTime = resolution;
    panel.SetInfiniteList(false);  // the steady state of a long run
    panel.StartNewLine(true);
    for (auto _ : state) panel.ShowData(chunk, 0);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(chunk.size()));
}

void BM_ShowData_Hex_MillisecondStamps(benchmark::State& state) {
    RunThroughput(state, dfHEX, tpMilliseconds, RandomBytes(static_cast<std::size_t>(state.range(0))));
}
BENCHMARK(BM_ShowData_Hex_MillisecondStamps)->Arg(16)->Arg(2048)->Arg(65536);

void BM_ShowData_Asc(benchmark::State& state) {
    RunThroughput(state, dfASC, tpSeconds, TextLines(static_cast<std::size_t>(state.range(0))));
}
BENCHMARK(BM_ShowData_Asc)->Arg(16)->Arg(2048)->Arg(65536);

// Received bytes through the list at the default width (80 characters):
// what it holds per received byte it still shows, in its own count and in
// the process's resident memory. Without a limit ("Infinite List" on, the
// default) 100 MB go through; with one, about three times the limit in text,
// and how long the slowest chunks took, with and without a drop. Last, how
// much of the memory stays with the process once the list is cleared.
void MemoryPerByte(benchmark::State& state, TDataFormat format, int resolution, std::size_t limit) {
    const std::size_t total = limit == 0 ? std::size_t{100} << 20 : 3 * limit / 4;
    const std::string chunk = RandomBytes(2048);
    for (auto _ : state) {
        SteppingClock clock;
        const long rssBefore = ResidentBytes();
        TReceivePanel panel(clock);
        panel.DataFormat = format;
        panel.RVPnlTime = resolution;
        panel.SetMemoryLimit(limit);
        panel.StartNewLine(true);
        double slowestChunkMs = 0, slowestDropChunkMs = 0;
        for (std::size_t done = 0; done < total; done += chunk.size()) {
            const std::uint64_t dropped = panel.Lines().DroppedLines();
            const auto t0 = std::chrono::steady_clock::now();
            panel.ShowData(chunk, 0);
            const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
            double& slowest = panel.Lines().DroppedLines() != dropped ? slowestDropChunkMs : slowestChunkMs;
            slowest = std::max(slowest, ms);
        }
        const TLineStore& lines = panel.Lines();
        // Lines are alike, so the bytes still shown are the kept share of all.
        const double kept = static_cast<double>(total) * lines.LineCount() /
                            static_cast<double>(lines.LineCount() + lines.DroppedLines());
        state.counters["held_MB"] = static_cast<double>(panel.MemoryUsage()) / (1 << 20);
        state.counters["panel_bytes_per_byte"] = static_cast<double>(panel.MemoryUsage()) / kept;
        state.counters["rss_bytes_per_byte"] = static_cast<double>(ResidentBytes() - rssBefore) / kept;
        state.counters["lines"] = lines.LineCount();
        state.counters["lines_dropped"] = static_cast<double>(lines.DroppedLines());
        state.counters["slowest_chunk_ms"] = slowestChunkMs;
        if (limit != 0) state.counters["slowest_chunk_with_drop_ms"] = slowestDropChunkMs;
        panel.ClearLines();
        panel.StartNewLine(true);
        state.counters["rss_MB_left_after_clear"] = static_cast<double>(ResidentBytes() - rssBefore) / (1 << 20);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * total));
}
void BM_Memory_Hex_100MB_SecondStamps(benchmark::State& state) { MemoryPerByte(state, dfHEX, tpSeconds, 0); }
void BM_Memory_Hex_100MB_MillisecondStamps(benchmark::State& state) {
    MemoryPerByte(state, dfHEX, tpMilliseconds, 0);
}
void BM_Memory_Bin_100MB_SecondStamps(benchmark::State& state) { MemoryPerByte(state, dfBIN, tpSeconds, 0); }
// At the list's memory limit: 256 MB, the least limit a machine gets.
void BM_Memory_Hex_AtLimit(benchmark::State& state) {
    MemoryPerByte(state, dfHEX, tpMilliseconds, std::size_t{256} << 20);
}
BENCHMARK(BM_Memory_Hex_100MB_SecondStamps)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memory_Hex_100MB_MillisecondStamps)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memory_Bin_100MB_SecondStamps)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memory_Hex_AtLimit)->Iterations(1)->Unit(benchmark::kMillisecond);

// 100 MB through the bounded list: the memory held stays what it was after
// the first 10 MB.
void BM_Memory_Hex_100MB_BoundedList(benchmark::State& state) {
    const std::size_t total = std::size_t{100} << 20;
    const std::string chunk = RandomBytes(2048);
    for (auto _ : state) {
        SteppingClock clock;
        TReceivePanel panel(clock);
        panel.RVPnlTime = tpMilliseconds;
        panel.SetInfiniteList(false);
        panel.StartNewLine(true);
        std::size_t after10 = 0, most = 0;
        for (std::size_t done = 0; done < total; done += chunk.size()) {
            panel.ShowData(chunk, 0);
            if (done == (std::size_t{10} << 20)) after10 = panel.MemoryUsage();
            if (panel.MemoryUsage() > most) most = panel.MemoryUsage();
        }
        state.counters["held_after_10MB"] = static_cast<double>(after10);
        state.counters["held_after_100MB"] = static_cast<double>(panel.MemoryUsage());
        state.counters["most_held"] = static_cast<double>(most);
        state.counters["lines"] = panel.Lines().LineCount();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * total));
}
BENCHMARK(BM_Memory_Hex_100MB_BoundedList)->Iterations(1)->Unit(benchmark::kMillisecond);

// The time one new line costs in a store below its limit and in one at its
// limit, where every new line may drop old ones: the drops are paid in
// blocks, so the cost per line stays about the same.
void AddLines(benchmark::State& state, bool atLimit) {
    const std::size_t limit = std::size_t{64} << 20;
    const std::string line(80, 'x');
    const TLineRecord record{0, 0.5, dfHEX, 0};
    TLineStore store;
    store.SetMemoryLimit(atLimit ? limit : 0);
    if (atLimit)
        while (store.DroppedLines() == 0) store.AddLine(line, record);
    std::size_t added = 0;
    for (auto _ : state) {
        store.AddLine(line, record);
        // Below the limit the store is kept small instead, outside the timing.
        if (!atLimit && ++added % 400000 == 0) {
            state.PauseTiming();
            store.Clear();
            state.ResumeTiming();
        }
    }
    state.counters["lines_dropped"] = static_cast<double>(store.DroppedLines());
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
void BM_AddLine_BelowLimit(benchmark::State& state) { AddLines(state, false); }
void BM_AddLine_AtLimit(benchmark::State& state) { AddLines(state, true); }
BENCHMARK(BM_AddLine_BelowLimit);
BENCHMARK(BM_AddLine_AtLimit);

}  // namespace
