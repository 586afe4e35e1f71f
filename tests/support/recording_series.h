#pragma once
// Charts for tests: a series that draws its visible points as a polyline
// in its colour (so a picture shows them) and records every index it was
// asked to draw; and a flat chart of a given size, without bevels, painted
// through the real paint road onto a bitmap, with its legend hidden.
// Header only.
#include <memory>
#include <vector>

#include "chart/engine/chart.h"
#include "chart/engine/chart_series.h"
#include "platform/gdi/dc.h"
#include "platform/vcl/bitmap.h"
#include "platform/vcl/forms.h"

namespace test_support {

class RecordingSeries : public chart::engine::TChartSeries {
  public:
    explicit RecordingSeries(vcl::TComponent* AOwner = nullptr) : TChartSeries(AOwner) {}

    std::vector<int> Drawn;
    // Whether DrawValue draws (a line from the previous drawn point).
    bool Paint = true;

    void DoBeforeDrawValues() override {
        started_ = false;
        TChartSeries::DoBeforeDrawValues();
    }
    void DrawValue(int ValueIndex) override {
        Drawn.push_back(ValueIndex);
        if (!Paint) return;
        chart::TCanvas3D& canvas = *ParentChart()->Canvas();
        const int x = CalcXPos(ValueIndex), y = CalcYPos(ValueIndex);
        canvas.Pen->SetColor(SeriesColor());
        canvas.Pen->SetStyle(vcl::TPenStyle::psSolid);
        canvas.Pen->SetWidth(1);
        if (!started_)
            canvas.MoveTo(x, y);
        else
            canvas.LineTo(x, y);
        started_ = true;
    }
    // Adds (i, f(i)) for i in [0, n).
    template <class F>
    void Fill(int n, F f) {
        BeginUpdate();
        for (int i = 0; i < n; ++i) AddXY(i, f(i));
        EndUpdate();
    }

  private:
    bool started_ = false;
};

class PlainChart : public chart::engine::TChart {
  public:
    // The application (with its toolkit) comes first: the chart is a window.
    explicit PlainChart(int Width = 600, int Height = 400, vcl::TComponent* AOwner = nullptr)
        : TChart((vcl::EnsureApplication(), AOwner)) {
        SetBounds(0, 0, Width, Height);
        SetBevelOuter(vcl::TBevelCut::bvNone);
        SetView3D(false);
        SetColor(vcl::clWhite);
        // The chart rectangle is the axes' alone unless a test shows the
        // legend, which takes its room.
        Legend().SetVisible(false);
    }
    // A series of the chart's (freed with it).
    RecordingSeries& AddRecording() {
        auto* s = new RecordingSeries(nullptr);
        s->SetParentChart(this);
        return *s;
    }
    // One paint onto a bitmap of the chart's size.
    std::unique_ptr<vcl::TBitmap> Render() { return CreateBitmap(); }
};

inline gdi::COLORREF At(const vcl::TBitmap& b, int x, int y) { return b.Handle()->GetPixel(x, y); }

}  // namespace test_support
