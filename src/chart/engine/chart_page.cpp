#include "chart/engine/chart_page.h"

#include <algorithm>

#include "chart/drawing/plot_const.h"
#include "chart/engine/axis_panel.h"
#include "chart/engine/chart_axis.h"
#include "chart/engine/chart_exceptions.h"

namespace chart::engine {

void PageRange(int Count, int MaxPerPage, int Page, int& First, int& Last) {
    if (Count < 1) {
        First = Last = -1;
        return;
    }
    if (MaxPerPage < 1) {
        First = 0;
        Last = Count - 1;
        return;
    }
    const long long n = MaxPerPage;
    long long first = n * (std::max(Page, 1) - 1LL);
    // A page past this series' end shows the page before its last whole
    // one (25 points at 10 a page: page 4 gives 10..19). The chart's own
    // page is clamped to its longest series, so only a shorter series of
    // several meets this rule; charts and plug-ins that page such a series
    // see the same points on every run.
    if (Count <= first) first = n * std::max(0LL, Count / n - 1);
    First = static_cast<int>(first);
    Last = static_cast<int>(std::min<long long>(first + n - 1, Count - 1LL));
}

void TChartPage::SetAutoScale(bool Value) {
    if (Value == auto_scale_) return;
    auto_scale_ = Value;
    chart_.Invalidate();
}

void TChartPage::SetScaleLastPage(bool Value) {
    if (Value == scale_last_page_) return;
    scale_last_page_ = Value;
    chart_.Invalidate();
}

int TChartPage::CountForAxis(bool Horizontal, bool OtherSide) const {
    TChartAxis& axis = Horizontal ? (OtherSide ? chart_.TopAxis() : chart_.BottomAxis())
                                  : (OtherSide ? chart_.RightAxis() : chart_.LeftAxis());
    int most = 0;
    for (int i = 0; i < chart_.SeriesCount(); ++i) {
        TChartSeries& s = *chart_.GetSeries(i);
        if (s.Active() && s.AssociatedToAxis(axis)) most = std::max(most, s.Count());
    }
    if (most < 1) return 1;
    const int n = max_points_per_page_;
    return most / n + (most % n > 0 ? 1 : 0);
}

int TChartPage::Count() const {
    if (max_points_per_page_ < 1 || chart_.SeriesCount() == 0) return 1;
    const bool vertical = chart_.GetSeries(0)->YMandatory();
    return std::max(CountForAxis(vertical, false), CountForAxis(vertical, true));
}

int TChartPage::Current() const { return std::clamp(current_, 1, Count()); }

int TChartPage::FirstValueIndex() const {
    return static_cast<int>(std::min<long long>((Current() - 1LL) * max_points_per_page_, INT32_MAX));
}

void TChartPage::Changed() {
    if (chart_.Destroying()) return;
    TChartChangePage event;
    chart_.BroadcastPlotEvent(event);
}

void TChartPage::SetCurrent(int Value) {
    const int page = std::max(std::min(Value, Count()), 1);
    const int shown = Current();
    current_ = page;
    if (page != shown) PageChanged();
}

void TChartPage::PageChanged() {
    chart_.Invalidate();
    Changed();
    if (chart_.OnPageChange && !chart_.Destroying()) chart_.OnPageChange(this);
}

void TChartPage::SetMaxPointsPerPage(int Value) {
    if (Value < 0) throw ChartException(PlotMsg_MaxPointsPerPage);
    const int shown = Current();
    if (Value != max_points_per_page_) {
        max_points_per_page_ = Value;
        chart_.Invalidate();
    }
    // Fewer pages than the one shown: the last one is shown now, with its
    // news; the listeners hear of the setting in any case.
    current_ = std::min(current_, Count());
    if (Current() != shown) PageChanged();
    Changed();
}

void TChartPage::Assign(const vcl::TPersistent& Source) {
    if (const auto* other = dynamic_cast<const TChartPage*>(&Source)) {
        auto_scale_ = other->auto_scale_;
        current_ = other->current_;
        max_points_per_page_ = other->max_points_per_page_;
        scale_last_page_ = other->scale_last_page_;
        return;
    }
    vcl::TPersistent::Assign(Source);
}

}  // namespace chart::engine
