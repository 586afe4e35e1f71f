// The runtime's text formatting on the paths that run per received line or
// per saved record: the receive-list record line, the time prefix of a line,
// graph point lines and number parsing when a graph file loads.
#include <benchmark/benchmark.h>

#include <string>

#include "platform/rtl/datetime.h"
#include "platform/rtl/format.h"
#include "platform/rtl/numbers.h"

namespace {

void BM_FormatRecordLine(benchmark::State& state) {
    const std::string data(static_cast<size_t>(state.range(0)), 'A');
    long long bits = 0x40E6A36DC9FE54CD;
    for (auto _ : state) {
        benchmark::DoNotOptimize(rtl::Format("%d%d%.16x\t%s\r\n", {1, 1, bits++, data}));
    }
}
BENCHMARK(BM_FormatRecordLine)->Arg(16)->Arg(1024);

void BM_FormatDateTimePrefix(benchmark::State& state) {
    double t = rtl::EncodeDate(2026, 12, 7) + rtl::EncodeTime(10, 0, 0, 0);
    for (auto _ : state) {
        benchmark::DoNotOptimize(rtl::FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", t));
        t += 1.0 / 86400000.0;
    }
}
BENCHMARK(BM_FormatDateTimePrefix);

void BM_GraphPointLine(benchmark::State& state) {
    double x = 46000.123456789, y = -3.25;
    for (auto _ : state) {
        benchmark::DoNotOptimize(rtl::Format("%g;%g", {x, y}));
        x += 0.001;
    }
}
BENCHMARK(BM_GraphPointLine);

void BM_StrToFloat(benchmark::State& state) {
    const std::string text = "46000.123456789";
    for (auto _ : state) benchmark::DoNotOptimize(rtl::StrToFloat(text));
}
BENCHMARK(BM_StrToFloat);

}  // namespace
