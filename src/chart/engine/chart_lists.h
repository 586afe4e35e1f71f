#pragma once
// Two lists of a chart: every axis it has (the six standard ones first, then
// the custom ones) with the switch to the fast value-to-pixel routines, and
// its series in the order they joined it. Neither list owns what it lists.
#include <functional>
#include <vector>

#include "chart/engine/chart_series.h"
#include "chart/engine/series_groups.h"

namespace chart::engine {

class TChartAxis;
class TCustomAxisPanel;

class TChartAxes {
  public:
    explicit TChartAxes(TCustomAxisPanel& Chart) : chart_(Chart) {}

    int Count() const { return static_cast<int>(items_.size()); }
    TChartAxis* Items(int Index) const { return items_.at(static_cast<std::size_t>(Index)); }
    TChartAxis* GetAxis(int Index) const { return Items(Index); }
    int IndexOf(const TChartAxis* Axis) const;

    // The chart's standard axes.
    TChartAxis* GetLeftAxis() const;
    TChartAxis* GetTopAxis() const;
    TChartAxis* GetBottomAxis() const;
    TChartAxis* GetDepthAxis() const;
    TChartAxis* GetDepthTopAxis() const;

    bool FastCalc() const { return fast_calc_; }
    // Every axis chooses its value-to-pixel routines again.
    void SetFastCalc(bool Value);

    // Asked while the chart is laid out, when set: the room (pixels across
    // the axis) for the labels of a visible axis, given the measured one;
    // and the room kept on a hidden axis's side of the chart.
    std::function<int(TChartAxis& Axis, int LabelsSize)> OnGetLabelsSize;
    std::function<int(TChartAxis& Axis)> HiddenAxisSize;

  private:
    friend class TChartAxis;
    void Add(TChartAxis* Axis) { items_.push_back(Axis); }
    void Remove(const TChartAxis* Axis);

    TCustomAxisPanel& chart_;
    std::vector<TChartAxis*> items_;
    bool fast_calc_ = false;
};

// The chart's series, in the order they joined it, and its series groups.
class TChartSeriesList : public TCustomSeriesList {
  public:
    TChartSeries* GetSeries(int Index) const { return Items(Index); }
    TSeriesGroups& SeriesGroups() { return groups_; }

  private:
    TSeriesGroups groups_;
};

}  // namespace chart::engine
