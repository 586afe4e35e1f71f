#pragma once
// A series for tests that shows its points as pointer symbols and lifts its
// marks above them by the marks callout's length and distance (as a line
// series of the program does), so that a picture shows pointers, callouts
// and mark boxes where the chart puts them. Header only.
#include <memory>
#include <string>

#include "chart/engine/axis_panel.h"
#include "chart/engine/callout.h"
#include "chart/engine/chart_series.h"
#include "chart/engine/series_pointer.h"

namespace test_support {

class PointSeries : public chart::engine::TChartSeries {
  public:
    explicit PointSeries(vcl::TComponent* AOwner = nullptr)
        : TChartSeries(AOwner), pointer_(std::make_unique<chart::engine::TSeriesPointer>(nullptr, this)) {}

    chart::engine::TSeriesPointer& Pointer() { return *pointer_; }

    void SetParentChart(chart::engine::TCustomAxisPanel* Value) override {
        TChartSeries::SetParentChart(Value);
        pointer_->SetParentChart(Value);
    }
    void DrawValue(int ValueIndex) override {
        chart::engine::TCustomAxisPanel* chart = ParentChart();
        if (!chart || IsNull(ValueIndex)) return;
        chart::TCanvas3D& canvas = *chart->Canvas();
        const vcl::TColor color = ValueColor(ValueIndex);
        pointer_->PrepareCanvas(canvas, color);
        pointer_->DrawPointer(canvas, chart->View3D(), CalcXPos(ValueIndex), CalcYPos(ValueIndex),
                              pointer_->HorizSize(), pointer_->VertSize(), color, pointer_->Style());
    }
    void DrawMark(int ValueIndex, const std::string& Text, chart::engine::TSeriesMarkPosition* Position) override {
        if (chart::engine::TMarksCallout* callout = Marks().CalloutIfAny(); callout && Position)
            callout->ApplyLength(*Position);
        TChartSeries::DrawMark(ValueIndex, Text, Position);
    }

  private:
    std::unique_ptr<chart::engine::TSeriesPointer> pointer_;
};

}  // namespace test_support
