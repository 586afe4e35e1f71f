// What a large plug-in costs in memory once loaded, and whether unloading
// gives it back: a generated plug-in (large_plugin.h) is compiled and loaded
// by the plug-in host, as the program loads one; the resident size (from
// /proc/self/statm) is read before, after the load, after its ONSEND has
// run every procedure once, after unloading it, and after loading it three
// more times.
//
// Counters: "loaded_mb" (what the loaded plug-in adds), "mb_per_1000_lines",
// "heap_mb_per_1000_lines" (what the allocator handed out for it),
// "run_mb_per_1000_lines" (once every procedure has run), "unloaded_mb"
// (what stays after the unload, against before the load) and "reloaded_mb"
// (after three reloads, against the first load). Freed memory
// is handed back to the system before each reading, so that only what is
// held counts.
#include <benchmark/benchmark.h>

#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "large_plugin.h"
#include "script/runtime/my_script.h"
#include "support/qt_app.h"

namespace {

using script::runtime::TMyScript;

double ResidentMb(bool trim = true) {
    if (trim) malloc_trim(0);
    long pages = 0;
    long resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// What the allocator has handed out (whether or not the system has
// given it pages yet).
double HeapMb() {
    const struct mallinfo2 info = mallinfo2();
    return static_cast<double>(info.uordblks + info.hblkhd) / (1024.0 * 1024.0);
}

std::unique_ptr<TMyScript> Load(const std::string& source) {
    auto host = std::make_unique<TMyScript>([](std::int32_t, const std::string&, std::string&) {});
    host->Compile(source, "large.pas");
    return host;
}

void BM_LargePluginMemory(benchmark::State& state) {
    test_support::EnsureQtApplication();
    const int lines = static_cast<int>(state.range(0));
    const std::string source = bench_support::LargePlugin(lines);
    int counted = 0;
    for (const char c : source) counted += c == '\n' ? 1 : 0;
    for (auto _ : state) {
        const double before = ResidentMb();
        const double heap_before = HeapMb();
        std::unique_ptr<TMyScript> host;
        try {
            host = Load(source);
        } catch (const std::exception& e) {
            state.SkipWithError(e.what());
            return;
        }
        const double loaded = ResidentMb();
        const double heap_loaded = HeapMb();
        host->RunOnSend();
        const double ran = ResidentMb();
        host.reset();
        const double unloaded = ResidentMb(false);
        for (int n = 0; n < 3; ++n) {
            host = Load(source);
            host.reset();
        }
        host = Load(source);
        const double reloaded = ResidentMb(false);
        host.reset();
        state.counters["lines"] = counted;
        state.counters["loaded_mb"] = loaded - before;
        state.counters["mb_per_1000_lines"] = (loaded - before) * 1000.0 / counted;
        state.counters["heap_mb_per_1000_lines"] = (heap_loaded - heap_before) * 1000.0 / counted;
        state.counters["run_mb_per_1000_lines"] = (ran - before) * 1000.0 / counted;
        state.counters["unloaded_mb"] = unloaded - before;
        state.counters["reloaded_mb"] = reloaded - loaded;
    }
}

}  // namespace

BENCHMARK(BM_LargePluginMemory)->Arg(80000)->Iterations(1)->Unit(benchmark::kSecond);
