// What one frame of the receive view costs: the main window's list painted
// with a screenful of fresh HEX lines with millisecond time stamps, as it is
// while data streams in (offscreen).
#include <benchmark/benchmark.h>

#include <QAbstractScrollArea>
#include <QPixmap>
#include <QWidget>
#include <random>
#include <string>

#include "support/main_window.h"
#include "support/qt_app.h"

namespace {

std::string RandomBytes(std::size_t n) {
    std::mt19937 gen(12345);
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(gen() & 0xFF);
    return s;
}

void BM_ReceiveView_Frame(benchmark::State& state) {
    test_support::EnsureQtApplication();
    test_support::MainWindow window;
    terminal::TMain* m = window.main;
    m->DataFormat = terminal::dfHEX;
    m->RVPnlTime = terminal::tpMilliseconds;
    const std::string chunk = RandomBytes(2048);
    // The rows alone: the scroll bar repaints only when its handle moves.
    QWidget* list = static_cast<QAbstractScrollArea*>(m->lb1->Widget())->viewport();
    for (auto _ : state) {
        m->ShowData(chunk.data(), chunk.size(), 0);
        benchmark::DoNotOptimize(list->grab());
    }
    state.counters["rows"] = m->lb1->VisibleRows();
}
BENCHMARK(BM_ReceiveView_Frame)->Unit(benchmark::kMicrosecond);

}  // namespace
