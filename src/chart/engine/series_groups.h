#pragma once
// Series groups: named sets of a chart's series that are switched on and
// off together (the legend can list groups with a check box each).
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "chart/engine/chart_series.h"

namespace chart::engine {

// Whether a group's series are active: all (or the group is empty), some,
// none.
enum TSeriesGroupActive : std::uint8_t { gaYes, gaNo, gaSome };

class TSeriesGroup {
  public:
    explicit TSeriesGroup(std::string Name);

    const std::string& Name() const { return name_; }
    void SetName(const std::string& Value) { name_ = Value; }
    // The group's series (not owned).
    TCustomSeriesList& Series() { return series_; }
    const TCustomSeriesList& Series() const { return series_; }
    bool IsSeriesStored() const { return series_.Count() > 0; }

    TSeriesGroupActive Active() const;
    // gaYes switches every series on, gaNo off; gaSome (or the present
    // state) changes nothing.
    void SetActive(TSeriesGroupActive Value);

    // Name and series.
    void Assign(const TSeriesGroup& Source);

  private:
    std::string name_;
    TCustomSeriesList series_;
};

class TSeriesGroups {
  public:
    int Count() const { return static_cast<int>(items_.size()); }
    TSeriesGroup& Items(int Index) const { return *items_.at(static_cast<std::size_t>(Index)); }
    // A new group named "Group" and the number of groups with it.
    TSeriesGroup& Add();
    void Delete(int Index);
    void Clear() { items_.clear(); }
    // Takes a series out of every group (it leaves the chart).
    void RemoveSeries(const TChartSeries* Series);
    void Assign(const TSeriesGroups& Source);

  private:
    std::vector<std::unique_ptr<TSeriesGroup>> items_;
};

}  // namespace chart::engine
