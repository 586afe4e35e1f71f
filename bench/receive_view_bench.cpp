// What the receive view costs: one frame of the main window's list painted
// with a screenful of fresh HEX lines with millisecond time stamps, as it is
// while data streams in; and a list holding one very long loaded line (a
// ".cp" file of a single 100 MB line): the load with its first frame, and
// every later repaint (offscreen). And what a received piece costs on its
// way from the port's handler to the list (not painted), with no plug-in,
// no output file and no graph.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <QAbstractScrollArea>
#include <QPixmap>
#include <QWidget>
#include <bit>
#include <cstdint>
#include <fstream>
#include <random>
#include <string>

#include "platform/rtl/format.h"
#include "platform/win/message_window.h"
#include "support/main_window.h"
#include "support/qt_app.h"
#include "support/temp_dir.h"
#include "terminal/receive_list_files.h"

namespace {

std::string RandomBytes(std::size_t n) {
    std::mt19937 gen(12345);
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(gen() & 0xFF);
    return s;
}

QWidget* ListRows(terminal::TMain* m) {
    // The rows alone: the scroll bar repaints only when its handle moves.
    return static_cast<QAbstractScrollArea*>(m->lb1->Widget())->viewport();
}

void BM_ReceiveView_Frame(benchmark::State& state) {
    test_support::EnsureQtApplication();
    test_support::MainWindow window;
    terminal::TMain* m = window.main;
    m->DataFormat = terminal::dfHEX;
    m->RVPnlTime = terminal::tpMilliseconds;
    const std::string chunk = RandomBytes(2048);
    QWidget* list = ListRows(m);
    for (auto _ : state) {
        m->ShowData(chunk.data(), chunk.size(), 0);
        benchmark::DoNotOptimize(list->grab());
    }
    state.counters["rows"] = m->lb1->VisibleRows();
}
BENCHMARK(BM_ReceiveView_Frame)->Unit(benchmark::kMicrosecond);

// One piece through the receive path: the main window's OnReceiveData as
// the serial component calls it, then the loop's turn that hands the piece
// on (the posted pump). Not inlined, so that a profiler can count what a
// piece costs: valgrind --tool=callgrind --toggle-collect='*HandOnePiece*'.
[[gnu::noinline]] void HandOnePiece(terminal::TMain* m, const std::string& Piece) {
    m->cp1->OnReceiveData(m->cp1, Piece.data(), static_cast<std::uint32_t>(Piece.size()));
    win::ProcessMessages();
}

// Pieces of state.range(0) bytes, with millisecond time stamps: small ones
// show what a piece itself costs, large ones what its bytes cost.
void RunPieces(benchmark::State& state, terminal::TDataFormat Format) {
    test_support::EnsureQtApplication();
    test_support::MainWindow window;
    terminal::TMain* m = window.main;
    m->DataFormat = Format;
    m->RVPnlTime = terminal::tpMilliseconds;
    const std::string piece = RandomBytes(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) HandOnePiece(m, piece);
    if (!window.ShowReceived()) state.SkipWithError("the pieces were not all shown");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * piece.size()));
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

void BM_ReceivePath_Hex(benchmark::State& state) { RunPieces(state, terminal::dfHEX); }
void BM_ReceivePath_Ascii(benchmark::State& state) { RunPieces(state, terminal::dfASC); }
BENCHMARK(BM_ReceivePath_Hex)->Arg(1)->Arg(64)->Arg(4096)->Arg(65536)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReceivePath_Ascii)->Arg(1)->Arg(64)->Arg(4096)->Arg(65536)->Unit(benchmark::kMicrosecond);

// A ".cp" file of one ASC line of Size characters (letters, with a
// non-visible code now and then), written in blocks.
std::string WriteLongLineFile(const test_support::TempDir& dir, std::size_t Size) {
    const std::string path = dir.File("long.cp");
    std::ofstream out(path, std::ios::binary);
    const double time = 46000.5;
    out << rtl::Format("%d%d%.16x\t", {0, int(terminal::dfASC), std::bit_cast<std::uint64_t>(time)});
    std::string block;
    for (int i = 0; i < 1 << 20; ++i) block += i % 997 == 0 ? std::string("\x95" "0D") : std::string(1, char('A' + i % 26));
    for (std::size_t left = Size; left > 0;) {
        const std::size_t n = std::min(left, block.size());
        out.write(block.data(), static_cast<std::streamsize>(n));
        left -= n;
    }
    out << "\r\n";
    return path;
}

long PeakRssMB() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss / 1024;
}

// The main window and a ".cp" file of one ASC line of 100 MB.
struct LongLineWindow {
    void Load() {
        window.main->SyncReceivePanelOptions();
        terminal::LoadPanelList(file, *window.main->RxPanel);
    }
    // The application comes before the window.
    bool app = (test_support::EnsureQtApplication(), true);
    test_support::TempDir dir;
    const std::string file = WriteLongLineFile(dir, 100u << 20);
    test_support::MainWindow window;
    QWidget* list = ListRows(window.main);
};

// Loading the file and showing it: the list cleared, the line read, the
// first frame painted. Peak memory is the process's high-water mark.
void BM_ReceiveView_LongLineLoad(benchmark::State& state) {
    LongLineWindow w;
    const long rssBefore = PeakRssMB();
    for (auto _ : state) {
        w.Load();
        benchmark::DoNotOptimize(w.list->grab());
    }
    state.counters["peak_rss_MB"] = static_cast<double>(PeakRssMB());
    state.counters["peak_rss_growth_MB"] = static_cast<double>(PeakRssMB() - rssBefore);
}
BENCHMARK(BM_ReceiveView_LongLineLoad)->Unit(benchmark::kMillisecond)->Iterations(2);

// Every later repaint of the list with that line in view, the window's
// width changing as when the user resizes it.
void BM_ReceiveView_LongLineRepaint(benchmark::State& state) {
    LongLineWindow w;
    w.Load();
    terminal::TMain* m = w.window.main;
    const int width = m->Width();
    int step = 0;
    for (auto _ : state) {
        m->SetWidth(width + (++step % 2) * 40);
        benchmark::DoNotOptimize(w.list->grab());
    }
    m->SetWidth(width);
}
BENCHMARK(BM_ReceiveView_LongLineRepaint)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
