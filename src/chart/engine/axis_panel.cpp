#include "chart/engine/axis_panel.h"

#include "chart/engine/chart_series.h"
#include "chart/engine/palettes.h"

namespace chart::engine {

TCustomAxisPanel::TCustomAxisPanel(vcl::TComponent* AOwner) : TCustomPlotPanelExtended(AOwner) {}

TCustomAxisPanel::~TCustomAxisPanel() = default;

void TCustomAxisPanel::SetColorPalette(std::vector<TColor> Colors) {
    color_palette_ = std::move(Colors);
    Invalidate();
}

TColor TCustomAxisPanel::GetDefaultColor(int Index) const {
    if (color_palette_.empty()) return engine::PaletteColor(Index);
    const long long n = static_cast<long long>(color_palette_.size());
    return color_palette_[static_cast<std::size_t>(((Index % n) + n) % n)];
}

void TCustomAxisPanel::BroadcastSeriesEvent(TCustomChartSeries& Series, std::uint8_t Event) {
    if (SuppressSeriesEvents) return;
    TPlotSeriesEvent event;
    event.Event = Event;
    event.Series = &Series;
    BroadcastPlotEvent(event);
}

void TCustomAxisPanel::NotifySeriesChanged(TCustomChartSeries& Series) {
    if (SeriesChangeListener) SeriesChangeListener->SeriesChanged(Series);
}

void TCustomAxisPanel::RefreshSeriesData(TChartSeries& ASeries) {
    if (ASeries.DataSources().Count() > 0) ASeries.AssignValues(*ASeries.DataSources().Items(0));
}

}  // namespace chart::engine
