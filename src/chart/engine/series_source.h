#pragma once
// Series sources: components that fill a series from outside the chart when
// they are opened (and clear it when closed). The base loads nothing; a
// kind of source overrides Load.
#include <string>

#include "platform/vcl/component.h"

namespace chart::engine {

class TChartSeries;
class TCustomAxisPanel;

class TPlotSeriesSource : public vcl::TComponent {
  public:
    explicit TPlotSeriesSource(vcl::TComponent* AOwner = nullptr);
    // Closed first.
    ~TPlotSeriesSource() override;

    // ---- Virtual operations, in their fixed order
    // Opening loads the series (unless the form is loading); closing
    // clears it (unless it or the source is going away, or the data is to
    // be kept). The value is stored in every case.
    virtual void SetActive(bool Value);
    // Whether the kind of source can serve Chart; every chart here.
    virtual bool Available(TCustomAxisPanel& Chart) const;
    virtual std::string Description() const { return {}; }
    // Two class queries of kinds of sources; none here.
    virtual const void* EditorClass() const { return nullptr; }
    virtual int EditorOptions() const { return 0; }
    // Whether Series is fed by a source of this kind.
    virtual bool HasSeries(TChartSeries& Series) const;
    // SetActive(False), unless loading or going away.
    virtual void Close();
    // Fills the series; nothing here.
    virtual void Load() {}
    virtual void Open() { SetActive(true); }

    bool Active() const { return active_; }
    // When active (and not loading): Load.
    void Refresh();
    // Loading has ended: Refresh.
    virtual void Loaded();
    void SetLoading(bool Value);

    TChartSeries* Series() const { return series_; }
    // Closes, then feeds Value (which takes this source as its DataSource);
    // none clears the old series' DataSource.
    void SetSeries(TChartSeries* Value);
    // Closing keeps the series' points.
    bool KeepData = false;

  protected:
    void Notification(vcl::TComponent* AComponent, vcl::TOperation Operation) override;
    void BeforeDestruction() override;

  private:
    friend class TChartSeries;
    bool active_ = false;
    TChartSeries* series_ = nullptr;
};

}  // namespace chart::engine
