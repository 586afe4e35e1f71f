#include "chart/engine/axis_panel.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "chart/drawing/plot_const.h"
#include "chart/engine/chart_axis.h"
#include "chart/engine/chart_exceptions.h"
#include "chart/engine/chart_page.h"
#include "chart/engine/chart_series.h"
#include "chart/engine/palettes.h"
#include "chart/engine/series_source.h"
#include "chart/engine/panel_routines.h"
#include "platform/rtl/format.h"

namespace chart::engine {

// ---- Life

TCustomAxisPanel::TCustomAxisPanel(vcl::TComponent* AOwner) : TCustomPlotPanelExtended(AOwner) {
    AutoRepaint = false;
    axes_ = std::make_unique<TChartAxes>(*this);
    custom_axes_ = std::make_unique<TChartCustomAxes>(*this);
    bottom_axis_ = std::make_unique<TChartAxis>(*this);
    bottom_axis_->SetHorizontal(true);
    top_axis_ = std::make_unique<TChartAxis>(*this);
    top_axis_->SetHorizontal(true);
    top_axis_->SetOtherSide(true);
    top_axis_->SetZPosition(100);
    top_axis_->Grid().DefaultZPosition = 100;
    top_axis_->Grid().SetZPosition(100);
    left_axis_ = std::make_unique<TChartAxis>(*this);
    left_axis_->Title().DefaultAngle = 90;
    left_axis_->Title().SetAngle(90);
    right_axis_ = std::make_unique<TChartAxis>(*this);
    right_axis_->Title().DefaultAngle = 270;
    right_axis_->Title().SetAngle(270);
    right_axis_->SetOtherSide(true);
    right_axis_->SetZPosition(100);
    right_axis_->Grid().DefaultZPosition = 100;
    right_axis_->Grid().SetZPosition(100);
    depth_axis_ = std::make_unique<TChartDepthAxis>(*this);
    depth_axis_->SetVisible(false);
    depth_axis_->SetOtherSide(true);
    depth_top_axis_ = std::make_unique<TChartDepthAxis>(*this);
    depth_top_axis_->SetVisible(false);
    pages_ = std::make_unique<TChartPage>(*this);
    AutoRepaint = true;
}

TCustomAxisPanel::~TCustomAxisPanel() {
    // From here on nothing repaints, broadcasts or fires events.
    SetComponentState(ComponentState() | vcl::csDestroying);
    AutoRepaint = false;
    FreeAllSeries();
    for (int i = 0; i < tools_.Count(); ++i)
        if (auto* tool = dynamic_cast<TPlotCustomToolAxis*>(tools_.Items(i))) tool->ForgetAxis();
    tools_.Clear();
    pages_.reset();
    custom_axes_.reset();
    depth_top_axis_.reset();
    depth_axis_.reset();
    right_axis_.reset();
    left_axis_.reset();
    top_axis_.reset();
    bottom_axis_.reset();
}

void TCustomAxisPanel::SetChart3DPercent(int Value) {
    if (Value < 1 || Value > 100) throw rtl::Exception(rtl::Format(PlotMsg_3DPercent, {1, 100}));
    SetIntegerProperty(chart3d_percent_, Value);
}

void TCustomAxisPanel::MouseLeave() {
    TCustomPlotPanelExtended::MouseLeave();
    BroadcastToolEvent(cteMouseLeave);
}

void TCustomAxisPanel::BroadcastToolEvent(TChartToolEvent AEvent) {
    // By index: a tool may leave the chart while it hears the event.
    for (int i = 0; i < tools_.Count(); ++i) {
        TPlotCustomTool* tool = tools_.Items(i);
        if (tool->Active()) tool->ChartEvent(AEvent);
    }
}

void TCustomAxisPanel::Assign(const TCustomPlotPanel& Source) {
    if (const auto* other = dynamic_cast<const TCustomAxisPanel*>(&Source); other && other != this) {
        chart3d_percent_ = other->chart3d_percent_;
        axis_behind_ = other->axis_behind_;
        axis_visible_ = other->axis_visible_;
        bottom_axis_->Assign(*other->bottom_axis_);
        clip_points_ = other->clip_points_;
        color_palette_ = other->color_palette_;
        custom_axes_->Assign(*other->custom_axes_);
        left_axis_->Assign(*other->left_axis_);
        depth_axis_->Assign(*other->depth_axis_);
        depth_top_axis_->Assign(*other->depth_top_axis_);
        pages_->Assign(*other->pages_);
        right_axis_->Assign(*other->right_axis_);
        top_axis_->Assign(*other->top_axis_);
        view3d_walls_ = other->view3d_walls_;
    }
    TCustomPlotPanelExtended::Assign(Source);
}

// ---- Paging

int TCustomAxisPanel::NumPages() { return pages_->Count(); }
int TCustomAxisPanel::Page() { return pages_->Current(); }
void TCustomAxisPanel::SetPage(int Value) { pages_->SetCurrent(Value); }
int TCustomAxisPanel::GetMaxPointsPerPage() { return pages_->MaxPointsPerPage(); }
void TCustomAxisPanel::SetMaxPointsPerPage(int Value) { pages_->SetMaxPointsPerPage(Value); }

// ---- Series list

void TCustomAxisPanel::AddSeries(TChartSeries& ASeries) {
    if (series_list_.IndexOf(&ASeries) >= 0) return;
    if (ASeries.ParentChart() != this) {
        // Joining goes through the series, which leaves its old chart and
        // comes back here.
        ASeries.SetParentChart(this);
        return;
    }
    ASeries.Added();
    series_list_.Add(&ASeries);
    BroadcastSeriesEvent(ASeries, seAdd);
    if (OnAddSeries && !Destroying()) OnAddSeries(&ASeries);
    Invalidate();
}

void TCustomAxisPanel::RemoveSeries(TChartSeries& ASeries) { RemoveSeries(series_list_.IndexOf(&ASeries)); }

void TCustomAxisPanel::RemoveSeries(int Index) {
    if (Index < 0 || Index >= series_list_.Count()) return;
    TChartSeries& series = *series_list_.Items(Index);
    BroadcastSeriesEvent(series, seRemove);
    series.Removed();
    series_list_.Remove(&series);
    if (OnRemoveSeries && !Destroying()) OnRemoveSeries(&series);
    Invalidate();
}

void TCustomAxisPanel::FreeAllSeries(const std::function<bool(TChartSeries&)>& Filter) {
    int i = 0;
    while (i < series_list_.Count()) {
        TChartSeries* series = series_list_.Items(i);
        if (Filter && !Filter(*series)) {
            ++i;
            continue;
        }
        series->SetParentChart(nullptr);
        vcl::TComponent::Free(series);
    }
}

int TCustomAxisPanel::CountActiveSeries() const {
    int n = 0;
    for (int i = 0; i < series_list_.Count(); ++i) n += series_list_.Items(i)->Active() ? 1 : 0;
    return n;
}

bool TCustomAxisPanel::NoActiveSeries(TChartAxis& Axis) {
    for (int i = 0; i < series_list_.Count(); ++i) {
        TChartSeries& s = *series_list_.Items(i);
        if (s.Active() && s.AssociatedToAxis(Axis)) return false;
    }
    return true;
}

TChartSeries* TCustomAxisPanel::GetAxisSeries(TChartAxis& Axis) {
    const bool any = NoActiveSeries(Axis);
    for (int i = 0; i < series_list_.Count(); ++i) {
        TChartSeries& s = *series_list_.Items(i);
        if ((any || s.Active()) && s.AssociatedToAxis(Axis)) return &s;
    }
    return nullptr;
}

TChartSeries* TCustomAxisPanel::GetAxisSeriesMaxPoints(TChartAxis& Axis) {
    const bool any = NoActiveSeries(Axis);
    TChartSeries* most = nullptr;
    for (int i = 0; i < series_list_.Count(); ++i) {
        TChartSeries& s = *series_list_.Items(i);
        if ((any || s.Active()) && s.AssociatedToAxis(Axis) && (!most || s.Count() > most->Count()))
            most = &s;
    }
    return most;
}

int TCustomAxisPanel::GetMaxValuesCount() const {
    int most = 0;
    for (int i = 0; i < series_list_.Count(); ++i)
        if (series_list_.Items(i)->Active()) most = std::max(most, series_list_.Items(i)->Count());
    return most;
}

std::string TCustomAxisPanel::SeriesTitleLegend(int Index, bool OnlyActive) {
    int n = 0;
    for (int i = 0; i < series_list_.Count(); ++i) {
        TChartSeries& s = *series_list_.Items(i);
        if (!s.ShowInLegend() || (OnlyActive && !s.Active())) continue;
        if (n++ != Index) continue;
        return s.Title().empty() ? s.NameOrNumber() : s.Title();
    }
    return {};
}

int TCustomAxisPanel::MultiLineTextWidth(const std::string& Text, int& Lines) {
    Lines = 0;
    int widest = 0;
    std::size_t from = 0;
    while (from < Text.size()) {
        std::size_t at = Text.find(kPlotLineSeparator, from);
        if (at == std::string::npos) at = Text.size();
        widest = std::max(widest, Canvas()->TextWidth(Text.substr(from, at - from)));
        ++Lines;
        from = at + 1;
    }
    return widest;
}

int TCustomAxisPanel::MaxTextWidth() {
    int widest = 0, lines = 0;
    for (int i = 0; i < series_list_.Count(); ++i) {
        const TLabelsList& labels = series_list_.Items(i)->Labels();
        for (int k = 0; k < labels.Count(); ++k)
            widest = std::max(widest, MultiLineTextWidth(labels.Labels(k), lines));
    }
    return widest;
}

// ---- Colours

void TCustomAxisPanel::SetColorPalette(std::vector<TColor> Colors) {
    color_palette_ = std::move(Colors);
    Invalidate();
}

TColor TCustomAxisPanel::GetDefaultColor(int Index) const {
    if (color_palette_.empty()) return engine::PaletteColor(Index);
    const long long n = static_cast<long long>(color_palette_.size());
    return color_palette_[static_cast<std::size_t>(((Index % n) + n) % n)];
}

bool TCustomAxisPanel::IsFreeSeriesColor(TColor AColor, bool CheckBackground, TChartSeries* Series) {
    for (int i = 0; i < series_list_.Count(); ++i) {
        TChartSeries* s = series_list_.Items(i);
        if (s != Series && s->SeriesColor() == AColor) return false;
    }
    return !(CheckBackground && AColor == Color());
}

TColor TCustomAxisPanel::GetFreeSeriesColor(bool CheckBackground, TChartSeries* Series) {
    // The chart's palette, else the global one, else the default table.
    std::size_t count = color_palette_.size();
    if (count == 0) count = engine::ColorPalette().size();
    if (count == 0) count = DefaultColorTable().size();
    const int high = static_cast<int>(count) - 1;
    for (int i = 0; i < high; ++i) {
        const TColor c = GetDefaultColor(i);
        if (IsFreeSeriesColor(c, CheckBackground, Series)) return c;
    }
    return GetDefaultColor(high);
}

void TCustomAxisPanel::FillSeriesColors() {
    // Afresh: the automatic colours of before do not hold colours back.
    for (int i = 0; i < series_list_.Count(); ++i)
        if (!series_list_.Items(i)->IsSeriesColorStored()) series_list_.Items(i)->ForgetAutomaticColor();
    for (int i = 0; i < series_list_.Count(); ++i) {
        TChartSeries& s = *series_list_.Items(i);
        if (!s.IsSeriesColorStored()) s.SetAutomaticColor(GetFreeSeriesColor(true, &s));
    }
}

// ---- Series news

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
    if (ASeries.ComponentState() & vcl::csLoading) return;
    vcl::TComponent* first = ASeries.DataSource();
    if (!first) {
        if (ASeries.Function()) {
            ASeries.BeginUpdate();
            ASeries.Clear();
            ASeries.EndUpdate();
        }
    } else if (auto* series = dynamic_cast<TChartSeries*>(first)) {
        ASeries.AssignValues(*series);
    } else if (auto* source = dynamic_cast<TPlotSeriesSource*>(first)) {
        source->Refresh();
    }
}

void TCustomAxisPanel::CheckDatasource(TChartSeries& ASeries, TChartSeries& Other) {
    // Every chain of sources from Other: reaching ASeries refuses it.
    std::vector<const TChartSeries*> pending{&Other};
    std::vector<const TChartSeries*> seen;
    while (!pending.empty()) {
        const TChartSeries* s = pending.back();
        pending.pop_back();
        if (std::find(seen.begin(), seen.end(), s) != seen.end()) continue;
        seen.push_back(s);
        for (int i = 0; i < s->DataSources().Count(); ++i) {
            const TChartSeries* source = s->DataSources().Series(i);
            if (!source) continue;
            if (source == &ASeries) throw ChartException(PlotMsg_CircularSeries);
            pending.push_back(source);
        }
    }
}

// ---- Axes

bool TCustomAxisPanel::IsAxisVisible(TChartAxis& Axis) {
    if (!axis_visible_ || !Axis.Visible()) return false;
    if (Axis.IsDepthAxis) return View3D();
    bool anyActive = false;
    for (int i = 0; i < series_list_.Count(); ++i) {
        TChartSeries& s = *series_list_.Items(i);
        if (!s.Active()) continue;
        anyActive = true;
        if (!s.UseAxis()) return false;
        if (s.AssociatedToAxis(Axis)) return true;
    }
    return !anyActive;
}

double TCustomAxisPanel::InternalMinMax(TChartAxis& Axis, bool IsMin, bool IsX) {
    if (Axis.IsDepthAxis) {
        if (Axis.EffectiveLabelStyle() == talValue) {
            double result = 0;
            bool first = true;
            for (int i = 0; i < series_list_.Count(); ++i) {
                TChartSeries& s = *series_list_.Items(i);
                if (!s.Active()) continue;
                const double v = IsMin ? s.MinZValue() : s.MaxZValue();
                if (first || (IsMin ? v < result : v > result)) result = v;
                first = false;
            }
            return result;
        }
        return IsMin ? -0.5 : MaxZOrder + 0.5;
    }
    if (TChartSeries* s = GetAxisSeries(Axis); s && !s->YMandatory()) IsX = !IsX;
    const int perPage = pages_->MaxPointsPerPage();
    if (perPage > 0 && IsX) {
        if (TChartSeries* s = GetAxisSeriesMaxPoints(Axis); s && s->Count() > 0) {
            int first = 0, last = 0;
            s->CalcFirstLastPage(first, last);
            const TChartValueList& list = s->NotMandatoryValueList();
            // The page's ends, or its nearest finite values.
            int a = first, b = last;
            while (a < last && !std::isfinite(list.Value(a))) ++a;
            while (b > a && !std::isfinite(list.Value(b))) --b;
            const double lo = std::isfinite(list.Value(a)) ? list.Value(a) : 0;
            const double hi = std::isfinite(list.Value(b)) ? list.Value(b) : lo;
            if (IsMin) return lo;
            const int n = last - first + 1;
            if (!pages_->ScaleLastPage() && n < perPage)
                return hi == lo ? lo + static_cast<double>(perPage) / n
                                : lo + perPage * (hi - lo) / n;
            return hi;
        }
    }
    const bool any = NoActiveSeries(Axis);
    double result = 0;
    bool first = true;
    for (int i = 0; i < series_list_.Count(); ++i) {
        TChartSeries& s = *series_list_.Items(i);
        if (!(any || s.Active()) || s.Count() == 0 || !s.AssociatedToAxis(Axis)) continue;
        double v = std::numeric_limits<double>::quiet_NaN();
        if (perPage > 0 && pages_->AutoScale()) {
            const long long from = static_cast<long long>(pages_->Current() - 1) * perPage;
            if (from >= s.Count()) continue;
            const long long to = std::min<long long>(from + perPage, s.Count()) - 1;
            const TChartValueList& list = IsX ? s.XValues() : s.YValues();
            for (long long k = from; k <= to; ++k) {
                const double x = list.Value(static_cast<int>(k));
                if (std::isfinite(x) && (std::isnan(v) || (IsMin ? x < v : x > v))) v = x;
            }
        } else {
            v = IsX ? (IsMin ? s.MinXValue() : s.MaxXValue()) : (IsMin ? s.MinYValue() : s.MaxYValue());
        }
        // A series without finite values tells the axis nothing.
        if (std::isnan(v)) continue;
        if (first || (IsMin ? v < result : v > result)) result = v;
        first = false;
    }
    return result;
}

}  // namespace chart::engine
