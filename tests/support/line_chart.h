#pragma once
// A chart of one fast line whose axes put values on whole pixels: no
// bevel, no margins, no axes shown, no title or legend, so the chart
// rectangle is the whole chart and the point (X, H - Y) lies on pixel
// (X, Y). It counts its full paints. And what a line should paint: the
// chart's picture without the line, with the expected segments drawn over
// it by the device context (one-pixel lines leave out their last pixel),
// clipped as series are clipped. Header only.
#include <memory>
#include <string>
#include <vector>

#include "chart/engine/chart.h"
#include "chart/engine/chart_axis.h"
#include "chart/engine/fast_line_series.h"
#include "platform/gdi/dc.h"
#include "platform/vcl/bitmap.h"
#include "platform/vcl/forms.h"

namespace test_support {

class PixelChart : public chart::engine::TChart {
  public:
    explicit PixelChart(int Width = 200, int Height = 100, vcl::TComponent* AOwner = nullptr)
        : TChart((vcl::EnsureApplication(), AOwner)) {
        SetBounds(0, 0, Width, Height);
        SetBevelOuter(vcl::TBevelCut::bvNone);
        SetView3D(false);
        SetColor(vcl::clWhite);
        SetMarginUnits(chart::engine::muPixels);
        for (int i = 0; i < 4; ++i) SetMargin(i, 0);
        SetAxisVisible(false);
        Title().SetVisible(false);
        Legend().SetVisible(false);
        Line = new chart::engine::TFastLineSeries(nullptr);
        Line->SetParentChart(this);
        Line->SetSeriesColor(kLineColor);
        PixelAxes();
    }

    static constexpr vcl::TColor kLineColor = 0x800000;  // navy
    chart::engine::TFastLineSeries* Line = nullptr;
    int Draws = 0;

    void InternalDraw(const vcl::TRect& Rect) override {
        ++Draws;
        TChart::InternalDraw(Rect);
    }

    // Values are pixels: X across, Y up from the bottom edge.
    void PixelAxes() {
        BottomAxis().SetMinMax(0, Width());
        LeftAxis().SetMinMax(0, Height());
    }
    // A point at pixel (X, Y).
    int AddPixel(double X, double Y) { return Line->AddXY(X, Height() - Y); }

    std::unique_ptr<vcl::TBitmap> Render() { return CreateBitmap(); }
    // The picture without the line.
    std::unique_ptr<vcl::TBitmap> Background() {
        Line->SetActive(false);
        auto b = Render();
        Line->SetActive(true);
        return b;
    }
};

using Polyline = std::vector<vcl::TPoint>;

// Draws the polylines segment by segment onto Target in Color, clipped as
// series are clipped to the chart rectangle Clip: the rectangle a pixel
// higher above and below, which the surface's flat cube clip takes a pixel
// in on every side but the right.
inline void DrawSegments(vcl::TBitmap& Target, const std::vector<Polyline>& Lines, vcl::TColor Color,
                         const vcl::TRect& Clip) {
    gdi::HDC dc = Target.Canvas().Handle();
    dc->IntersectClipRect(Clip.Left + 1, Clip.Top, Clip.Right, Clip.Bottom);
    dc->SelectObject(gdi::CreatePen(gdi::PS_SOLID, 1, vcl::ColorToRGB(Color)));
    for (const Polyline& line : Lines)
        for (std::size_t i = 0; i + 1 < line.size(); ++i) {
            dc->MoveToEx(line[i].X, line[i].Y);
            dc->LineTo(line[i + 1].X, line[i + 1].Y);
        }
    dc->SelectClipRgn(gdi::HRGN());
}

// Where two pictures of one size differ: the count of pixels and the first
// one as text ("" when they are the same).
inline std::string FirstDifference(const vcl::TBitmap& A, const vcl::TBitmap& B, int* Count = nullptr) {
    std::string first;
    int n = 0;
    for (int y = 0; y < A.Height(); ++y)
        for (int x = 0; x < A.Width(); ++x) {
            const gdi::COLORREF a = A.Handle()->GetPixel(x, y), b = B.Handle()->GetPixel(x, y);
            if (a == b) continue;
            if (n++ == 0)
                first = "(" + std::to_string(x) + ", " + std::to_string(y) + "): " + std::to_string(a) +
                        " against " + std::to_string(b);
        }
    if (Count) *Count = n;
    return first;
}

// What Chart should show: its background with Lines over it.
inline std::unique_ptr<vcl::TBitmap> ExpectedPicture(PixelChart& Chart, const std::vector<Polyline>& Lines) {
    auto expected = Chart.Background();
    DrawSegments(*expected, Lines, Chart.Line->LinePen().Color(), Chart.ChartRect);
    return expected;
}

}  // namespace test_support
