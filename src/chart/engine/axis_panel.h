#pragma once
// TCustomAxisPanel: the chart panel that owns series. Here it gives the
// services its series call on: the colour palette, the series events sent
// to the panel's listeners, the series-change listener and the refresh of
// a series from its data sources. The series list itself, the axes, the
// tools and the paint order build on it.
#include <cstdint>
#include <vector>

#include "chart/engine/plot_panel_extended.h"

namespace chart::engine {

class TCustomChartSeries;
class TChartSeries;

// What happened to a series, as the chart's listeners hear it.
enum TPlotSeriesEventKind : std::uint8_t {
    seAdd = 0,
    seRemove = 1,
    seChangeTitle = 2,
    seChangeColor = 3,
    seChangeActive = 5,
    seDataChanged = 6,
};

class TPlotSeriesEvent : public TPlotEvent {
  public:
    std::uint8_t Event = seAdd;
    TCustomChartSeries* Series = nullptr;
};

// An object the chart may hold that is told when a series' Active or Title
// changes.
class TSeriesChangeListener {
  public:
    virtual void SeriesChanged(TCustomChartSeries& Series) = 0;

  protected:
    ~TSeriesChangeListener() = default;
};

class TCustomAxisPanel : public TCustomPlotPanelExtended {
  public:
    explicit TCustomAxisPanel(vcl::TComponent* AOwner);
    ~TCustomAxisPanel() override;

    // The chart's own palette; empty: the global default palette.
    const std::vector<TColor>& ColorPalette() const { return color_palette_; }
    void SetColorPalette(std::vector<TColor> Colors);
    // Entry Index (modulo the length, counted forward for negative indexes)
    // of the chart's palette, or of the global palette when it has none.
    TColor GetDefaultColor(int Index) const;

    // While set, series events reach no listener.
    bool SuppressSeriesEvents = false;
    // Sends a TPlotSeriesEvent for Series through BroadcastPlotEvent.
    void BroadcastSeriesEvent(TCustomChartSeries& Series, std::uint8_t Event);
    // Not owned; may be none.
    TSeriesChangeListener* SeriesChangeListener = nullptr;
    // Tells the series-change listener, when there is one.
    void NotifySeriesChanged(TCustomChartSeries& Series);

    // Fills the series again from its data source (a series: copied).
    virtual void RefreshSeriesData(TChartSeries& ASeries);

  private:
    std::vector<TColor> color_palette_;
};

}  // namespace chart::engine
