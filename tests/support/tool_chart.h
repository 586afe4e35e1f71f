#pragma once
// A chart in a shown window for the chart tools: a point series (whose hit
// test takes the pixels of a point's symbol) on pixel-true axes, so that the
// point (X, H - Y) lies on pixel (X, Y) while the axes are hidden; the
// image the window shows, copies of it and where two pictures differ.
// Header only.
#include <chrono>
#include <cstdlib>
#include <memory>
#include <vector>

#include "chart/drawing/plot_canvas3d.h"
#include "support/chart_surfaces.h"
#include "support/line_chart.h"
#include "support/point_series.h"
#include "support/qt_app.h"

namespace test_support {

class ClickablePoints : public PointSeries {
  public:
    using PointSeries::PointSeries;
    int Clicked(int X, int Y) override {
        if (!ParentChart()) return -1;
        for (int i = 0; i < Count(); ++i)
            if (!IsNull(i) && std::abs(X - CalcXPos(i)) <= Pointer().HorizSize() && std::abs(Y - CalcYPos(i)) <= Pointer().VertSize())
                return i;
        return -1;
    }
};

struct ToolChart {
    vcl::TForm form{(vcl::EnsureApplication(), vcl::Application)};
    PixelChart* chart = nullptr;
    ClickablePoints* points = nullptr;

    explicit ToolChart(int W = 400, int H = 300) {
        form.SetClientSize(W, H);
        chart = new PixelChart(W, H, &form);
        chart->SetParent(&form);
        chart->Line->SetActive(false);
        points = new ClickablePoints(nullptr);
        points->SetParentChart(chart);
        points->SetSeriesColor(vcl::clRed);
        form.Show();
    }
    // A point at pixel (X, Y).
    int AddPixel(double X, double Y) { return points->AddXY(X, chart->Height() - Y); }
    void Paint() {
        Pump(std::chrono::milliseconds(20));
        chart->Update();
    }
    vcl::TBitmap& Image() { return test_support::ShownImage(*chart); }
    std::unique_ptr<vcl::TBitmap> CopyImage() { return test_support::CopyOf(Image()); }
    vcl::TColor Pixel(int X, int Y) { return static_cast<vcl::TColor>(Image().Handle()->GetPixel(X, Y)); }
};

// The pixels where two pictures of one size differ.
inline std::vector<vcl::TPoint> Differences(vcl::TBitmap& A, vcl::TBitmap& B) {
    std::vector<vcl::TPoint> out;
    for (int y = 0; y < A.Height(); ++y)
        for (int x = 0; x < A.Width(); ++x)
            if (A.Handle()->GetPixel(x, y) != B.Handle()->GetPixel(x, y)) out.push_back({x, y});
    return out;
}

}  // namespace test_support
