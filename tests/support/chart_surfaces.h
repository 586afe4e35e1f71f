#pragma once
// Chart drawing surfaces for tests: the GDI surface drawing (unbuffered)
// into a white bitmap, or into a recording device context whose calls the
// test reads back. Header only: the chart test program links the layer.
#include <memory>
#include <string>
#include <vector>

#include "chart/drawing/plot_canvas3d.h"
#include "chart/engine/plot_panel.h"
#include "platform/gdi/dc.h"
#include "platform/vcl/bitmap.h"
#include "support/gdi_surface.h"

namespace test_support {

// The image a chart in a window shows: its last paint and what was drawn
// into it since.
inline vcl::TBitmap& ShownImage(chart::engine::TCustomPlotPanel& Chart) {
    return *dynamic_cast<chart::TPlotCanvas3D&>(*Chart.Canvas()).Bitmap();
}

// A copy of a picture, to compare with later.
inline std::unique_ptr<vcl::TBitmap> CopyOf(vcl::TBitmap& Image) {
    auto b = std::make_unique<vcl::TBitmap>(Image.Width(), Image.Height());
    b->Canvas().Draw(0, 0, &Image);
    return b;
}

struct RasterChart {
    vcl::TBitmap bitmap;
    chart::TPlotCanvas3D canvas;

    RasterChart(int width, int height) : bitmap(width, height) {
        canvas.SetBufferedDisplay(false);
        canvas.InitWindow(&bitmap.Canvas(), nullptr, vcl::clWhite, false, {0, 0, width, height});
        canvas.Projection(0, {0, 0, width, height});
    }
    gdi::COLORREF At(int x, int y) const { return bitmap.Handle()->GetPixel(x, y); }
    int Count(gdi::COLORREF color) const { return CountPixels(*bitmap.Handle(), color); }
    gdi::RECT InkBox() const { return InkBoxOf(*bitmap.Handle()); }
    std::vector<gdi::COLORREF> Pixels() const { return PixelsOf(*bitmap.Handle()); }
};

struct RecordingChart {
    std::unique_ptr<gdi::DC> dc;
    vcl::TCanvas target;
    chart::TPlotCanvas3D canvas;

    RecordingChart(int width, int height) : dc(gdi::DC::CreateRecordingDC(width, height)) {
        target.SetHandle(dc.get());
        canvas.SetBufferedDisplay(false);
        canvas.InitWindow(&target, nullptr, vcl::clWhite, false, {0, 0, width, height});
        canvas.Projection(0, {0, 0, width, height});
        dc->ClearRecords();
    }
    // The records of one call, in order.
    std::vector<gdi::Record> Of(gdi::RecordOp op) const {
        std::vector<gdi::Record> out;
        for (const gdi::Record& r : dc->Records())
            if (r.Op == op) out.push_back(r);
        return out;
    }
    // The names of the calls that draw or clip (state calls left out).
    std::vector<std::string> Drawing() const {
        std::vector<std::string> out;
        for (const gdi::Record& r : dc->Records())
            if (r.Op >= gdi::RecordOp::MoveTo) out.push_back(gdi::RecordOpName(r.Op));
        return out;
    }
};

}  // namespace test_support
