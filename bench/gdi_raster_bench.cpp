// Raster drawing speed on a 1920 x 1080 surface: the long one-pixel
// polyline a fast line series draws (copy and XOR), wide polylines, filled
// shapes with an outline (a point series' symbols, pies), text and block
// transfers.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "platform/gdi/dc.h"
#include "support/qt_app.h"

namespace {

using namespace gdi;

constexpr int kWidth = 1920, kHeight = 1080;

// A walk over the surface in steps of 1 to 8 pixels.
std::vector<POINT> Walk(std::size_t vertices) {
    std::mt19937 gen(4242);
    std::uniform_int_distribution<int> step(-8, 8);
    std::vector<POINT> points;
    points.reserve(vertices);
    POINT p{kWidth / 2, kHeight / 2};
    while (points.size() < vertices) {
        const int dx = step(gen), dy = step(gen);
        if (dx == 0 && dy == 0) continue;
        p.x = std::clamp(p.x + dx, 0, kWidth - 1);
        p.y = std::clamp(p.y + dy, 0, kHeight - 1);
        points.push_back(p);
    }
    return points;
}

struct Target {
    std::unique_ptr<DC> dc = DC::CreateCompatibleDC();
    HBITMAP bitmap = CreateBitmap(kWidth, kHeight);
    Target() { dc->SelectObject(bitmap); }
};

void Polyline(benchmark::State& state, int rop2, int width) {
    const std::vector<POINT> points = Walk(static_cast<std::size_t>(state.range(0)));
    Target t;
    t.dc->SelectObject(CreatePen(PS_SOLID, width, RGB(20, 120, 220)));
    t.dc->SetROP2(rop2);
    for (auto _ : state) t.dc->Polyline(points);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
    state.counters["vertices"] = static_cast<double>(points.size());
}

void BM_Polyline_Width1_Copy(benchmark::State& state) { Polyline(state, R2_COPYPEN, 1); }
void BM_Polyline_Width1_Xor(benchmark::State& state) { Polyline(state, R2_XORPEN, 1); }
void BM_Polyline_Width3_Copy(benchmark::State& state) { Polyline(state, R2_COPYPEN, 3); }
BENCHMARK(BM_Polyline_Width1_Copy)->Arg(1'000'000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Polyline_Width1_Xor)->Arg(1'000'000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Polyline_Width3_Copy)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

// The same segments drawn one LineTo at a time, as single moves and lines.
void BM_LineTo_Width1_Copy(benchmark::State& state) {
    const std::vector<POINT> points = Walk(static_cast<std::size_t>(state.range(0)));
    Target t;
    for (auto _ : state) {
        t.dc->MoveToEx(points[0].x, points[0].y);
        for (std::size_t i = 1; i < points.size(); ++i) t.dc->LineTo(points[i].x, points[i].y);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_LineTo_Width1_Copy)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

// 10,000 filled symbols with a one-pixel outline across the surface, as a
// point series draws them: arg 0 diamonds, 1 hexagons, 2 ellipses, 3 round
// rectangles; arg 1 their size in pixels.
void BM_FilledSymbols_10000(benchmark::State& state) {
    test_support::EnsureQtApplication();
    Target t;
    t.dc->SelectObject(CreatePen(PS_SOLID, 1, RGB(0, 0, 0)));
    t.dc->SelectObject(CreateSolidBrush(RGB(240, 60, 30)));
    const int shape = static_cast<int>(state.range(0)), size = static_cast<int>(state.range(1));
    const int h = size / 2;
    for (auto _ : state)
        for (int i = 0; i < 10'000; ++i) {
            const int x = (i * 37) % (kWidth - size) + h, y = (i * 13) % (kHeight - size) + h;
            if (shape == 0) {
                const POINT diamond[] = {{x, y - h}, {x + h, y}, {x, y + h}, {x - h, y}};
                t.dc->Polygon(diamond);
            } else if (shape == 1) {
                const int q = h / 2;
                const POINT hexagon[] = {{x - h, y}, {x - q, y - h}, {x + q, y - h},
                                         {x + h, y}, {x + q, y + h}, {x - q, y + h}};
                t.dc->Polygon(hexagon);
            } else if (shape == 2) {
                t.dc->Ellipse(x - h, y - h, x + h + 1, y + h + 1);
            } else {
                t.dc->RoundRect(x - h, y - h, x + h + 1, y + h + 1, h, h);
            }
        }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * 10'000);
}
BENCHMARK(BM_FilledSymbols_10000)
    ->ArgsProduct({{0, 1, 2, 3}, {9, 41}})
    ->Unit(benchmark::kMillisecond);

// A pie of 12 slices filling most of the surface, outlined.
void BM_PieChart_12Slices(benchmark::State& state) {
    test_support::EnsureQtApplication();
    Target t;
    t.dc->SelectObject(CreatePen(PS_SOLID, 1, RGB(0, 0, 0)));
    const int cx = kWidth / 2, cy = kHeight / 2, r = 500;
    for (auto _ : state)
        for (int i = 0; i < 12; ++i) {
            t.dc->SelectObject(CreateSolidBrush(RGB(i * 20, 255 - i * 20, 128)));
            const double a0 = i * 30.0 * 3.14159265358979 / 180, a1 = (i + 1) * 30.0 * 3.14159265358979 / 180;
            t.dc->Pie(cx - r, cy - r, cx + r, cy + r, cx + int(1000 * std::cos(a0)), cy - int(1000 * std::sin(a0)),
                      cx + int(1000 * std::cos(a1)), cy - int(1000 * std::sin(a1)));
        }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * 12);
}
BENCHMARK(BM_PieChart_12Slices)->Unit(benchmark::kMillisecond);

// 10,000 labels of a chart's size across the surface.
void BM_TextOut_10000(benchmark::State& state) {
    test_support::EnsureQtApplication();
    Target t;
    LOGFONT lf;
    lf.lfHeight = -11;
    lf.lfFaceName = "Arial";
    t.dc->SelectObject(CreateFontIndirect(lf));
    t.dc->SetBkMode(TRANSPARENT);
    for (auto _ : state)
        for (int i = 0; i < 10'000; ++i) t.dc->TextOut((i * 37) % (kWidth - 60), (i * 13) % (kHeight - 12), "12.345");
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * 10'000);
}
BENCHMARK(BM_TextOut_10000)->Unit(benchmark::kMillisecond);

// The whole off-screen image to another surface, as a repaint copies it.
void BM_BitBlt_FullSurface(benchmark::State& state) {
    Target source, dest;
    source.dc->SelectObject(CreateSolidBrush(RGB(200, 100, 50)));
    source.dc->Rectangle(0, 0, kWidth, kHeight);
    const DWORD rop = static_cast<DWORD>(state.range(0));
    for (auto _ : state) dest.dc->BitBlt(0, 0, kWidth, kHeight, source.dc.get(), 0, 0, rop);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kWidth * kHeight * 4);
}
BENCHMARK(BM_BitBlt_FullSurface)->Arg(SRCCOPY)->Arg(SRCINVERT)->Unit(benchmark::kMillisecond);

}  // namespace
