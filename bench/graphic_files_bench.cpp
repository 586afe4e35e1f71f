// Writing pictures: an 800 x 400 bitmap file at each depth (a chart export
// as a bitmap aims at 20 ms in all), and enhanced and Windows metafiles of
// a recording that holds a long polyline.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

#include "platform/gdi/dc.h"
#include "platform/gdi/metafile.h"
#include "platform/vcl/bitmap.h"
#include "platform/vcl/streams.h"
#include "support/qt_app.h"

namespace {

constexpr int kWidth = 800, kHeight = 400;

// A chart-like picture: a background, a frame, grid lines and a line.
void DrawChart(vcl::TBitmap& bmp) {
    vcl::TCanvas& c = bmp.Canvas();
    c.Brush.SetColor(vcl::clWhite);
    c.FillRect({0, 0, kWidth, kHeight});
    c.Pen.SetColor(vcl::clSilver);
    for (int x = 40; x < kWidth; x += 40) c.MoveTo(x, 20), c.LineTo(x, kHeight - 30);
    c.Pen.SetColor(vcl::clBlack);
    c.Brush.SetStyle(vcl::TBrushStyle::bsClear);
    c.Rectangle(40, 20, kWidth - 20, kHeight - 30);
    c.Pen.SetColor(vcl::clRed);
    c.MoveTo(40, 200);
    for (int x = 41; x < kWidth - 20; ++x) c.LineTo(x, 200 + static_cast<int>(150 * std::sin(x / 30.0)));
    c.TextOut(300, kHeight - 25, "Time, s");
}

void BitmapFile(benchmark::State& state, vcl::TPixelFormat format) {
    test_support::EnsureQtApplication();
    vcl::TBitmap bmp(kWidth, kHeight);
    DrawChart(bmp);
    bmp.SetPixelFormat(format);
    std::size_t size = 0;
    for (auto _ : state) {
        vcl::TMemoryStream out;
        bmp.SaveToStream(out);
        size = static_cast<std::size_t>(out.Size());
        benchmark::DoNotOptimize(out.Memory());
    }
    state.counters["bytes"] = static_cast<double>(size);
}

void BM_BitmapFile_Default(benchmark::State& s) { BitmapFile(s, vcl::TPixelFormat::pfDevice); }
void BM_BitmapFile_24(benchmark::State& s) { BitmapFile(s, vcl::TPixelFormat::pf24bit); }
void BM_BitmapFile_16(benchmark::State& s) { BitmapFile(s, vcl::TPixelFormat::pf16bit); }
void BM_BitmapFile_8(benchmark::State& s) { BitmapFile(s, vcl::TPixelFormat::pf8bit); }
void BM_BitmapFile_4(benchmark::State& s) { BitmapFile(s, vcl::TPixelFormat::pf4bit); }
void BM_BitmapFile_1(benchmark::State& s) { BitmapFile(s, vcl::TPixelFormat::pf1bit); }
BENCHMARK(BM_BitmapFile_Default)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BitmapFile_24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BitmapFile_16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BitmapFile_8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BitmapFile_4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BitmapFile_1)->Unit(benchmark::kMillisecond);

// A recording of the frame, labels and one polyline of n points over the
// surface.
std::unique_ptr<gdi::DC> Recording(std::size_t points) {
    auto dc = gdi::DC::CreateRecordingDC(kWidth, kHeight);
    dc->FillRect({0, 0, kWidth, kHeight}, gdi::CreateSolidBrush(gdi::RGB(255, 255, 255)));
    dc->Rectangle(40, 20, kWidth - 20, kHeight - 30);
    std::mt19937 gen(7);
    std::uniform_int_distribution<int> y(20, kHeight - 30);
    std::vector<gdi::POINT> line;
    line.reserve(points);
    for (std::size_t i = 0; i < points; ++i)
        line.push_back({40 + static_cast<int>(i * (kWidth - 60) / points), y(gen)});
    dc->SelectObject(gdi::CreatePen(gdi::PS_SOLID, 1, gdi::RGB(200, 0, 0)));
    dc->Polyline(line);
    dc->TextOut(300, kHeight - 25, "Time, s");
    return dc;
}

void BM_EnhancedMetafile(benchmark::State& state) {
    test_support::EnsureQtApplication();
    const auto dc = Recording(static_cast<std::size_t>(state.range(0)));
    std::size_t size = 0;
    for (auto _ : state) size = gdi::EnhancedMetafileBytes(dc->Records(), kWidth, kHeight).size();
    state.counters["bytes"] = static_cast<double>(size);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
void BM_WindowsMetafile(benchmark::State& state) {
    test_support::EnsureQtApplication();
    const auto dc = Recording(static_cast<std::size_t>(state.range(0)));
    std::size_t size = 0;
    for (auto _ : state) size = gdi::WindowsMetafileBytes(dc->Records(), kWidth, kHeight).size();
    state.counters["bytes"] = static_cast<double>(size);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_EnhancedMetafile)->Arg(1600)->Arg(1'000'000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WindowsMetafile)->Arg(1600)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

}  // namespace
