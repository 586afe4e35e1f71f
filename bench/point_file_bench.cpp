// The graph window's point files at the size of a long capture.
//
// BM_SavePoints / BM_LoadPoints: 27.46 million points, as a capture of
// bytes in time mode makes them (time stamps of 2 KB chunks a millisecond
// apart, byte values), saved through the window's "Сохранить как..." path
// and loaded back through "Загрузить...". Counters: the file's size in MB
// and the peak resident size of the process in MB. Target: each within 5 s.
//
// BM_RefuseFileWithoutLineEnds: a 256 MB file with no line end (a wrong
// file picked), read until it is refused: the time grows with the size, not
// with its square (a 48 MB file took 4.5 s in a debug build before, 1.3 s
// after; 144 MB 4.2 s after).
//
// Run with --benchmark_filter=Points; each runs once (a run takes seconds).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "chart/engine/fast_line_series.h"
#include "chart/engine/value_list.h"
#include "graph/graph_form.h"
#include "graph/point_file.h"
#include "platform/vcl/forms.h"
#include "support/qt_app.h"
#include "support/temp_dir.h"

namespace {

constexpr int kPoints = 27'460'000;
constexpr int kChunk = 2048;

double PeakResidentMB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024;
}

// The window with the capture's points plotted.
graph::TfGraph* CaptureGraph() {
    auto* g = new graph::TfGraph(vcl::EnsureApplication());
    g->MaxPoints = kPoints;
    g->serLine->BeginUpdate();
    double t = 46000.5;
    for (int i = 0; i < kPoints; ++i) {
        if (i % kChunk == 0) t += 1.0 / 86400 / 1000;
        g->serLine->AddXY(t, static_cast<double>((i * 37) % 256), {}, vcl::clDefault);
    }
    g->serLine->EndUpdate();
    return g;
}

test_support::TempDir& Folder() {
    static test_support::TempDir dir;
    return dir;
}

std::string FileName() { return Folder().File("capture.csv"); }

void BM_SavePoints(benchmark::State& state) {
    graph::TfGraph* g = CaptureGraph();
    for (auto _ : state) g->SavePoints(FileName());
    state.counters["file_MB"] = static_cast<double>(std::filesystem::file_size(FileName())) / (1 << 20);
    state.counters["peak_rss_MB"] = PeakResidentMB();
    vcl::TComponent::Free(g);
}
BENCHMARK(BM_SavePoints)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_LoadPoints(benchmark::State& state) {
    if (!std::filesystem::exists(FileName())) {
        state.SkipWithError("run BM_SavePoints first (same run)");
        return;
    }
    auto* g = new graph::TfGraph(vcl::EnsureApplication());
    g->MaxPoints = kPoints;
    for (auto _ : state) g->LoadPoints(FileName());
    if (g->serLine->Count() != kPoints) state.SkipWithError("not every point was loaded");
    state.counters["points"] = g->serLine->Count();
    state.counters["peak_rss_MB"] = PeakResidentMB();
    vcl::TComponent::Free(g);
}
BENCHMARK(BM_LoadPoints)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_RefuseFileWithoutLineEnds(benchmark::State& state) {
    const std::string name = Folder().File("one_line.csv");
    {
        std::ofstream out(name, std::ios::binary);
        const std::string block(1 << 20, '7');
        for (int i = 0; i < 256; ++i) out << block;
    }
    bool refused = false;
    for (auto _ : state) {
        chart::engine::TChartValueList x, y;
        try {
            graph::ReadPointFile(name, kPoints, x, y);
        } catch (const std::exception&) {
            refused = true;
        }
    }
    if (!refused) state.SkipWithError("the file was taken");
    std::filesystem::remove(name);
}
BENCHMARK(BM_RefuseFileWithoutLineEnds)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
