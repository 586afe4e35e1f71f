#include "chart/engine/plot_function.h"

#include <algorithm>
#include <cmath>

#include "chart/drawing/plot_const.h"
#include "chart/engine/axis_panel.h"
#include "chart/engine/callout.h"
#include "chart/engine/chart_exceptions.h"
#include "chart/engine/chart_series.h"
#include "chart/engine/panel_routines.h"

namespace chart::engine {

TPlotFunction::TPlotFunction(vcl::TComponent* AOwner) : vcl::TComponent(AOwner) {}

// ---- Settings

void TPlotFunction::SetPeriod(double Value) {
    if (!(Value >= 0) || !std::isfinite(Value)) throw ChartException(PlotMsg_FunctionPeriod);
    if (Value == period_) return;
    period_ = Value;
    ReCalculate();
}

void TPlotFunction::SetPeriodStyle(TFunctionPeriodStyle Value) {
    if (Value == period_style_) return;
    period_style_ = Value;
    ReCalculate();
}

void TPlotFunction::SetPeriodAlign(TFunctionPeriodAlign Value) {
    if (Value == period_align_) return;
    period_align_ = Value;
    ReCalculate();
}

void TPlotFunction::Assign(const TPlotFunction& Source) {
    if (&Source == this) return;
    period_ = Source.period_;
    period_style_ = Source.period_style_;
    period_align_ = Source.period_align_;
}

void TPlotFunction::EndUpdate() {
    if (!updating_) return;
    updating_ = false;
    ReCalculate();
}

void TPlotFunction::ReCalculate() {
    if (!updating_ && parent_series_) parent_series_->CheckDataSource();
}

// ---- The parent

void TPlotFunction::SetParentSeries(TChartSeries* Value) {
    if (Value == parent_series_) return;
    std::unique_ptr<TPlotFunction> self;
    if (parent_series_ && parent_series_->Function() == this) self = parent_series_->ReleaseFunction();
    if (!self) self.reset(this);
    parent_series_ = nullptr;
    if (Value)
        Value->SetFunction(std::move(self));
    else
        self.release();  // no series holds it: its owner (or whoever made it) frees it
}

vcl::TComponent* TPlotFunction::GetParentComponent() const { return parent_series_; }

void TPlotFunction::SetParentComponent(vcl::TComponent* Value) {
    if (auto* series = dynamic_cast<TChartSeries*>(Value)) SetParentSeries(series);
}

// ---- Calculation

double TPlotFunction::Calculate(TChartSeries&, int, int) { return 0; }

double TPlotFunction::CalculateMany(const std::vector<TChartSeries*>&, int) { return 0; }

void TPlotFunction::AddFunctionXY(bool YMandatorySource, double X, double Y) {
    if (!parent_series_) return;
    if (YMandatorySource)
        parent_series_->AddXY(X, Y, {}, vcl::clDefault);
    else
        parent_series_->AddXY(Y, X, {}, vcl::clDefault);
}

void TPlotFunction::CalculatePeriod(TChartSeries& Source, double X, int FirstIndex, int LastIndex) {
    AddFunctionXY(Source.YMandatory(), X, Calculate(Source, FirstIndex, LastIndex));
}

void TPlotFunction::CalculateAllPoints(TChartSeries& Source, TChartValueList& NotMandatory) {
    const double value = Calculate(Source, -1, -1);
    const double lo = NotMandatory.MinValue(), hi = NotMandatory.MaxValue();
    if (!parent_series_ || parent_series_->FunctionSinglePoint) {
        AddFunctionXY(Source.YMandatory(), lo + (hi - lo) * 0.5, value);
    } else {
        AddFunctionXY(Source.YMandatory(), lo, value);
        AddFunctionXY(Source.YMandatory(), hi, value);
    }
}

void TPlotFunction::CalculateByPeriod(TChartSeries& Source, TChartValueList& NotMandatory) {
    const int count = Source.Count();
    if (count < 1) return;
    const bool byPoints = period_style_ == psNumPoints;
    // At least one point per period: a period that rounds to none would
    // never move on.
    const long long points = std::max<long long>(1, std::llround(period_));
    const bool dates = NotMandatory.DateTime();
    const int dateStep = dates ? FindDateTimeStep(period_) : 0;
    auto x = [&](long long i) { return NotMandatory.Value(static_cast<int>(i)); };
    long long first = 0;
    double window = x(0);
    while (first <= count - 1) {
        long long last;
        double start, end;
        if (byPoints) {
            last = first + points - 1;
            start = x(first);
            end = last <= count - 1 ? x(last) : 0;
        } else {
            start = window;
            const double before = window;
            if (dates && dateStep != dtNone)
                IncDecDateTime(true, true, window, period_, dateStep);
            else
                window += period_;
            // A window that no longer moves (a period lost in the values'
            // precision, or values beyond any number) ends the walk.
            if (!(window > before)) break;
            end = window - 0.001 * period_;
            last = first;
            while (last < count - 1 && x(last + 1) < window) ++last;
        }
        if (last > count - 1) break;  // a last, incomplete period
        const double at = period_align_ == paFirst ? start : period_align_ == paLast ? end : (start + end) * 0.5;
        // Not "X >= window": a point without a finite X is counted in the
        // window it is met in, so the walk always goes on.
        if (byPoints || !(x(first) >= window)) {
            CalculatePeriod(Source, at, static_cast<int>(first), static_cast<int>(last));
            first = last + 1;
        } else {
            AddFunctionXY(Source.YMandatory(), at, 0);
        }
    }
}

void TPlotFunction::DoCalculation(TChartSeries& Source, TChartValueList& NotMandatory) {
    if (period_ != 0)
        CalculateByPeriod(Source, NotMandatory);
    else
        CalculateAllPoints(Source, NotMandatory);
}

void TPlotFunction::AddPoints(TChartSeries& Source) {
    if (updating_ || !parent_series_) return;
    const TDataSourcesList& sources = parent_series_->DataSources();
    std::vector<TChartSeries*> series;
    for (int i = 0; i < sources.Count(); ++i)
        if (TChartSeries* s = sources.Series(i)) series.push_back(s);
    if (sources.Count() >= 2) {
        if (series.empty()) return;
        TChartSeries* longest = *std::max_element(series.begin(), series.end(),
                                                  [](TChartSeries* a, TChartSeries* b) { return a->Count() < b->Count(); });
        const bool vertical = parent_series_->YMandatory();
        for (int i = 0; i < longest->Count(); ++i) {
            const double value = CalculateMany(series, i);
            const double x = longest->NotMandatoryValueList().Value(i);
            const std::string label = longest->Labels().Labels(i);
            if (vertical)
                parent_series_->AddXY(x, value, label, vcl::clDefault);
            else
                parent_series_->AddXY(value, x, label, vcl::clDefault);
        }
        return;
    }
    if (Source.Count() > 0) DoCalculation(Source, Source.NotMandatoryValueList());
}

void TPlotFunction::PrepareForGallery(TCustomAxisPanel& Chart, bool IsEnabled) {
    for (int i = 0; i < Chart.SeriesCount(); ++i) {
        TChartSeries& s = *Chart.GetSeries(i);
        s.FillSampleValues(4);
        TSeriesMarks& marks = s.Marks();
        marks.SetVisible(false);
        marks.Font().SetSize(7);
        marks.Callout().SetLength(4);
        marks.SetDrawEvery(2);
        s.SetColorEachPoint(true);
        s.SetSeriesColor(!IsEnabled ? vcl::clSilver : i == 0 ? Chart.GetDefaultColor(0) : Chart.GetDefaultColor(1));
    }
}

}  // namespace chart::engine
