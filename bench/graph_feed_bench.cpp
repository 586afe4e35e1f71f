// The graph window under a busy feed.
//
// BM_GraphAddPoint: points handed over as the receive path hands them, in
// chunks under an update lock, with the window shown and repainting (the
// message loop runs after every chunk), paged at 800 points and unpaged;
// the graph is cleared whenever it reaches 10 M points. Target: at least
// 1 M points per second.
//
// BM_GraphLateBatch: a chunk of late points (a port's reads held back while
// a plug-in's receive event waited, stamped with their read times) flushed
// into a line of 1 M points, landing among its last points: arguments are
// the batch and the tail it lands in. The cost must grow with batch + tail,
// not with their product.
//
// BM_GraphReceivePty: bytes written to a pseudo-terminal that the main
// window reads as COM5 in DEC format at 1 M bytes per second in 2 KB writes,
// with the graph window shown, for the given number of seconds (30 for the
// target run). Counters: bytes received, points plotted, points lost
// (bytes - points), notices shown (anti-hang and others) and the polling
// steps the anti-hang check added. Target: nothing lost, no notice.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include <QApplication>

#include "chart/engine/chart.h"
#include "chart/engine/chart_page.h"
#include "chart/engine/fast_line_series.h"
#include "graph/graph_form.h"
#include "platform/rtl/datetime.h"
#include "platform/vcl/forms.h"
#include "support/main_window.h"
#include "support/pty.h"
#include "support/qt_app.h"
#include "terminal/main_form.h"
#include "terminal/receive_format.h"

namespace {

constexpr int kChunk = 2048;
constexpr int kMostPoints = 10'000'000;

void BM_GraphAddPoint(benchmark::State& state) {
    auto* g = new graph::TfGraph(vcl::EnsureApplication());
    g->SetBounds(0, 0, 671, 272);
    g->SetVisible(true);
    g->cbInfinite->SetChecked(state.range(0) == 0);
    long long paints = 0;
    auto painted = g->Chart1->OnAfterDraw;
    g->Chart1->OnAfterDraw = [&](vcl::TComponent* s) {
        ++paints;
        painted(s);
    };
    double t = rtl::Now();
    long long points = 0;
    for (auto _ : state) {
        if (g->serLine->Count() + kChunk > kMostPoints) {
            state.PauseTiming();
            g->ClearGraph();
            state.ResumeTiming();
        }
        g->SetUpdateLock(true);
        t += 1.0 / 86400000;
        for (int i = 0; i < kChunk; ++i) g->AddPoint(t, i & 0xFF);
        g->SetUpdateLock(false);
        QApplication::processEvents();
        points += kChunk;
    }
    state.SetItemsProcessed(points);
    state.counters["paints_per_s"] = benchmark::Counter(static_cast<double>(paints), benchmark::Counter::kIsRate);
    vcl::TComponent::Free(g);
}
BENCHMARK(BM_GraphAddPoint)->Arg(800)->Arg(0)->Unit(benchmark::kMicrosecond)->MinTime(5);

void BM_GraphLateBatch(benchmark::State& state) {
    constexpr int kLine = 1'000'000;
    const int batch = static_cast<int>(state.range(0));
    const int tail = static_cast<int>(state.range(1));
    auto* g = new graph::TfGraph(vcl::EnsureApplication());
    for (auto _ : state) {
        state.PauseTiming();
        g->ClearGraph();
        g->SetUpdateLock(true);
        for (int i = 0; i < kLine; ++i) g->AddPoint(i, i & 0xFF);
        g->SetUpdateLock(false);
        state.ResumeTiming();
        g->SetUpdateLock(true);
        for (int k = 0; k < batch; ++k) g->AddPoint(kLine - tail + (k + 0.5) * tail / batch, -1);
        g->SetUpdateLock(false);
        if (g->serLine->Count() != kLine + batch) state.SkipWithError("the batch did not reach the line");
    }
    state.SetItemsProcessed(state.iterations() * batch);
    vcl::TComponent::Free(g);
}
BENCHMARK(BM_GraphLateBatch)->Args({1000, 1000})->Args({50'000, 50'000})->Args({100'000, 100'000})->Unit(benchmark::kMillisecond);

void BM_GraphReceivePty(benchmark::State& state) {
    const int seconds = static_cast<int>(state.range(0));
    for (auto _ : state) {
        test_support::PtyPair dev;
        test_support::MainWindow window({.Start = false, .Graph = true});
        dev.MapAsCom(5);
        window.Start();
        terminal::TMain* m = window.main;
        m->ForceComNumber(5, true);
        m->ApplyBothPortParams(false);
        m->DataFormat = terminal::dfDEC;
        m->StartNewLine(true);
        window.graph->SetVisible(true);
        const int pollingBefore = m->PollingIndex;

        std::atomic<bool> done{false};
        long long written = 0;
        std::thread writer([&] {
            const std::string block(kChunk, '\x55');
            const auto start = std::chrono::steady_clock::now();
            const auto end = start + std::chrono::seconds(seconds);
            auto next = start;
            while (next < end) {
                written += static_cast<long long>(dev.Write(block, std::chrono::seconds(10)));
                next += std::chrono::microseconds(kChunk);  // 1 byte a microsecond
                std::this_thread::sleep_until(next);
            }
            done = true;
        });
        while (!done) QApplication::processEvents(QEventLoop::AllEvents, 5);
        writer.join();
        test_support::PumpUntil(
            [&] { return m->PortSlots[terminal::PortSlotMain].RxCount >= static_cast<std::uint64_t>(written); }, std::chrono::seconds(20));
        test_support::Pump(std::chrono::milliseconds(200));
        const long long points = window.graph->serLine->Count() + window.graph->PendingCount();
        state.counters["bytes"] = static_cast<double>(written);
        state.counters["points"] = static_cast<double>(points);
        state.counters["lost"] = static_cast<double>(written - points);
        state.counters["notices"] = static_cast<double>(window.Requests.size());
        state.counters["polling_steps"] = m->PollingIndex - pollingBefore;
        state.counters["rate"] = benchmark::Counter(static_cast<double>(points), benchmark::Counter::kIsRate);
        window.Free();
    }
}
BENCHMARK(BM_GraphReceivePty)->Arg(30)->Arg(3)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
