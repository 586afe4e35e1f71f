#pragma once
// Paging: a chart may show its points MaxPointsPerPage at a time. The axis
// along which the points run gets the X range of the current page, and the
// series draw what falls inside it.
#include "platform/vcl/persistent.h"

namespace chart::engine {

class TCustomAxisPanel;
class TChartSeries;

class TChartPage : public vcl::TPersistent {
  public:
    explicit TChartPage(TCustomAxisPanel& Chart) : chart_(Chart) {}

    // The value axis of each series is scaled to the page's points only.
    bool AutoScale() const { return auto_scale_; }
    void SetAutoScale(bool Value);
    // The page shown, 1-based. Always within 1..Count: a page set earlier
    // beyond the pages there now are (points were deleted) reads as the
    // last one.
    int Current() const;
    // Clamped to 1..Count; a change repaints, tells the chart's listeners
    // and fires the chart's OnPageChange.
    void SetCurrent(int Value);
    // 0: no paging.
    int MaxPointsPerPage() const { return max_points_per_page_; }
    // Raises ChartException below 0; pulls Current back when fewer pages
    // are left (with the news of a page change); then the listeners always
    // hear of the setting.
    void SetMaxPointsPerPage(int Value);
    // A short last page is scaled to its points, or as if it were full.
    bool ScaleLastPage() const { return scale_last_page_; }
    void SetScaleLastPage(bool Value);

    // Number of pages: 1 without paging or series, else the most points a
    // series on the paging axes has, MaxPointsPerPage to a page.
    int Count() const;
    // Index of the first point of the current page.
    int FirstValueIndex() const;
    // Stores the page as shown (Current), without news: the chart calls it
    // when it paints, so a page left beyond the end stays the last one.
    void KeepCurrentInRange() { current_ = Current(); }

    // The four settings of another page, without news.
    void Assign(const vcl::TPersistent& Source) override;

  private:
    int CountForAxis(bool Horizontal, bool OtherSide) const;
    // Tells the chart's listeners.
    void Changed();
    // Repaint, the listeners, OnPageChange.
    void PageChanged();

    TCustomAxisPanel& chart_;
    bool auto_scale_ = false;
    int current_ = 1;
    int max_points_per_page_ = 0;
    bool scale_last_page_ = true;
};

// The page of Count points shown as page Page (1-based) at MaxPerPage a
// page: indexes First..Last; -1, -1 without points; 0..Count - 1 without
// paging. A page past the end shows the last page.
void PageRange(int Count, int MaxPerPage, int Page, int& First, int& Last);

}  // namespace chart::engine
