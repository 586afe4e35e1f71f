// Exporting a chart of 800 x 400 pixels: as a bitmap file (the aim is 20 ms
// in all), and as an enhanced metafile holding a line of 1,000,000 points
// (the aim is 150 ms, with a file whose size follows the picture's width,
// not the number of points).
//
// The panel stands in for a chart: its background, a frame, grid lines,
// labels and a line drawn through the drawing surface. The series that
// draws many points skips the points that fall on the pixel column it has
// just drawn; the "columns" runs draw the line that way, the "all points"
// run draws every point for comparison.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "chart/tools/export_formats.h"
#include "platform/vcl/streams.h"
#include "support/chart_panels.h"
#include "support/qt_app.h"

namespace {

using chart::tools::TBMPExportFormat;
using chart::tools::TEMFExportFormat;

constexpr int kHeight = 400;

struct LinePanel : test_support::BackgroundPanel {
    std::vector<double> values;  // one per point, from 0 to 1
    bool everyPoint = false;

    LinePanel(int width, std::size_t points) {
        MakePlain(width, kHeight, vcl::clWhite);
        Shadow().SetVisible(false);
        values.resize(points);
        for (std::size_t i = 0; i < points; ++i)
            values[i] = 0.5 + 0.4 * std::sin(static_cast<double>(i) * 0.0007) + 0.05 * std::sin(static_cast<double>(i) * 0.9);
        Extra = [this](BackgroundPanel&, const vcl::TRect&) { DrawChart(); };
    }

    void DrawChart() {
        chart::TCanvas3D& c = *Canvas();
        const vcl::TRect r{50, 20, Width() - 20, kHeight - 40};
        c.Brush->SetStyle(vcl::TBrushStyle::bsClear);
        c.Pen->SetColor(vcl::clBlack);
        c.Rectangle(r.Left, r.Top, r.Right, r.Bottom);
        c.Pen->SetColor(vcl::clSilver);
        for (int y = r.Top + 40; y < r.Bottom; y += 40) c.Line(r.Left + 1, y, r.Right - 1, y);
        c.SetBackMode(gdi::TRANSPARENT);
        c.SetTextAlign(gdi::TA_RIGHT);
        for (int y = r.Top, v = 100; y <= r.Bottom; y += 80, v -= 25) c.TextOut(r.Left - 4, y - 6, std::to_string(v));
        c.SetTextAlign(gdi::TA_CENTER);
        c.TextOut((r.Left + r.Right) / 2, r.Bottom + 10, "Time, s");
        c.Pen->SetColor(vcl::clRed);
        const double w = r.Right - r.Left - 1, h = r.Bottom - r.Top - 1;
        const double n = static_cast<double>(values.size() - 1);
        int lastX = r.Left - 1;
        bool first = true;
        for (std::size_t i = 0; i < values.size(); ++i) {
            const int x = r.Left + static_cast<int>(static_cast<double>(i) * w / n);
            const int y = r.Bottom - 1 - static_cast<int>(values[i] * h);
            if (first) {
                c.MoveTo(x, y);
                first = false;
            } else if (everyPoint || x != lastX) {
                c.LineTo(x, y);
            } else {
                continue;
            }
            lastX = x;
        }
    }
};

// Each iteration writes the whole file; its size is reported.
void Export(benchmark::State& state, chart::tools::TPlotExportFormat& format) {
    std::int64_t size = 0;
    for (auto _ : state) {
        vcl::TMemoryStream out;
        format.SaveToStream(out);
        size = out.Size();
    }
    state.counters["bytes"] = static_cast<double>(size);
}

void BM_ExportBitmap(benchmark::State& state) {
    test_support::EnsureQtApplication();
    LinePanel panel(800, 1600);
    TBMPExportFormat format;
    format.Panel = &panel;
    Export(state, format);
}
BENCHMARK(BM_ExportBitmap)->Unit(benchmark::kMillisecond);

void ExportMetafile(benchmark::State& state, bool everyPoint) {
    test_support::EnsureQtApplication();
    LinePanel panel(static_cast<int>(state.range(0)), static_cast<std::size_t>(state.range(1)));
    panel.everyPoint = everyPoint;
    TEMFExportFormat format;
    format.Panel = &panel;
    Export(state, format);
}
void BM_ExportMetafile_Columns(benchmark::State& state) { ExportMetafile(state, false); }
void BM_ExportMetafile_AllPoints(benchmark::State& state) { ExportMetafile(state, true); }
BENCHMARK(BM_ExportMetafile_Columns)
    ->Args({800, 1'000'000})
    ->Args({800, 100'000})
    ->Args({1600, 1'000'000})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExportMetafile_AllPoints)->Args({800, 1'000'000})->Unit(benchmark::kMillisecond);

}  // namespace
