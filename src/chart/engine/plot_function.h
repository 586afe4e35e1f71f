#pragma once
// What a series needs of the calculation function that fills it from its
// source series: compute the points, and hear that the series was
// cleared. The periods, alignment and calculations of functions build on
// this.
#include "platform/vcl/component.h"

namespace chart::engine {

class TChartSeries;

class TPlotFunction : public vcl::TComponent {
  public:
    explicit TPlotFunction(vcl::TComponent* AOwner = nullptr) : vcl::TComponent(AOwner) {}

    // The series the function fills (set when the series takes it).
    TChartSeries* ParentSeries() const { return parent_series_; }

    // Adds to the parent series the points computed from Source.
    virtual void AddPoints(TChartSeries& Source) = 0;
    // The parent series was cleared; nothing to do here.
    virtual void SeriesCleared() {}

  private:
    friend class TChartSeries;
    TChartSeries* parent_series_ = nullptr;
};

}  // namespace chart::engine
