#pragma once
// Two series tools that work at the paint stages: a picture stretched over
// the plot area (or over the range of a series) behind the series, and the
// clipping of one series to the rectangle of its own axes.
#include <memory>
#include <string>

#include "chart/drawing/plot_filters.h"
#include "chart/engine/plot_tool.h"

namespace chart::tools {

class TChartImageTool : public engine::TPlotCustomToolSeries {
  public:
    explicit TChartImageTool(vcl::TComponent* AOwner);
    ~TChartImageTool() override;

    // Any change of the picture repaints.
    TPlotPicture& Picture() { return *picture_; }
    void SetPicture(const vcl::TPicture& Value) { picture_->Assign(Value); }
    void SetSeries(engine::TChartSeries* Value) override;

    // The pixels the picture covers: the axes' range, or the series' values.
    TRect TargetRect();
    void ChartEvent(engine::TChartToolEvent AEvent) override;
    std::string Description() const override;
    std::string LongDescription() const override;
    std::string GetEditorClassName() const override { return "TChartImageToolEditor"; }

  private:
    std::unique_ptr<TPlotPicture> picture_;
};

class TClipSeriesTool : public engine::TPlotCustomToolSeries {
  public:
    using TPlotCustomToolSeries::TPlotCustomToolSeries;

    void SeriesEvent(engine::TChartSeriesToolEvent AEvent) override;
    std::string Description() const override;
    std::string LongDescription() const override;

  private:
    bool clipped_ = false;
};

}  // namespace chart::tools
