// Receive panel throughput and memory: how fast received chunks become
// panel lines, and what the panel holds per received byte.
#include <benchmark/benchmark.h>

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

// 100 MB through the unbounded list ("Infinite List" on, the default) at the
// default width (80 characters): what it holds per received byte.
void MemoryPerByte(benchmark::State& state, int resolution) {
    const std::size_t total = std::size_t{100} << 20;
    const std::string chunk = RandomBytes(2048);
    for (auto _ : state) {
        SteppingClock clock;
        const long rssBefore = ResidentBytes();
        TReceivePanel panel(clock);
        panel.RVPnlTime = resolution;
        panel.StartNewLine(true);
        for (std::size_t done = 0; done < total; done += chunk.size()) panel.ShowData(chunk, 0);
        state.counters["panel_bytes_per_byte"] =
            static_cast<double>(panel.MemoryUsage()) / static_cast<double>(total);
        state.counters["rss_bytes_per_byte"] =
            static_cast<double>(ResidentBytes() - rssBefore) / static_cast<double>(total);
        state.counters["lines"] = panel.Lines().LineCount();
        state.counters["chars_per_line"] = panel.CharsPerLine();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * total));
}
void BM_Memory_Hex_100MB_SecondStamps(benchmark::State& state) { MemoryPerByte(state, tpSeconds); }
void BM_Memory_Hex_100MB_MillisecondStamps(benchmark::State& state) {
    MemoryPerByte(state, tpMilliseconds);
}
BENCHMARK(BM_Memory_Hex_100MB_SecondStamps)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memory_Hex_100MB_MillisecondStamps)->Iterations(1)->Unit(benchmark::kMillisecond);

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

}  // namespace
