#include "chart/engine/series_source.h"

#include <typeinfo>

#include "chart/engine/chart_series.h"

namespace chart::engine {

TPlotSeriesSource::TPlotSeriesSource(vcl::TComponent* AOwner) : vcl::TComponent(AOwner) {}

TPlotSeriesSource::~TPlotSeriesSource() {
    // Deleted without Free: still whole here, unlike in ~TComponent.
    if (!Destroying()) {
        SetComponentState(ComponentState() | vcl::csDestroying);
        BeforeDestruction();
    }
}

void TPlotSeriesSource::BeforeDestruction() {
    Close();
    // The series forgets this source (its free notification comes later,
    // when only the component part is left).
    if (TChartSeries* series = series_) {
        series_ = nullptr;
        RemoveFreeNotification(series);
        series->RemoveDataSource(*this);
    }
    vcl::TComponent::BeforeDestruction();
}

void TPlotSeriesSource::SetActive(bool Value) {
    if (Value != active_ && series_) {
        if (Value) {
            active_ = true;
            if (!(ComponentState() & vcl::csLoading)) Load();
        } else if (!Destroying() && !series_->Destroying() && !KeepData) {
            series_->Clear();
        }
    }
    active_ = Value;
}

bool TPlotSeriesSource::Available(TCustomAxisPanel&) const { return true; }

bool TPlotSeriesSource::HasSeries(TChartSeries& Series) const {
    vcl::TComponent* source = Series.DataSource();
    return source && vcl::ClassNameOf(typeid(*source)) == vcl::ClassNameOf(typeid(*this));
}

void TPlotSeriesSource::Close() {
    if (!(ComponentState() & vcl::csLoading) && !Destroying()) SetActive(false);
}

void TPlotSeriesSource::Refresh() {
    if (active_ && !(ComponentState() & vcl::csLoading)) Load();
}

void TPlotSeriesSource::SetLoading(bool Value) {
    SetComponentState(Value ? ComponentState() | vcl::csLoading : ComponentState() & ~vcl::csLoading);
}

void TPlotSeriesSource::Loaded() {
    SetLoading(false);
    Refresh();
}

void TPlotSeriesSource::SetSeries(TChartSeries* Value) {
    if (Value == series_) return;
    Close();
    TChartSeries* old = series_;
    if (old) RemoveFreeNotification(old);
    series_ = Value;
    if (Value) {
        FreeNotification(Value);
        if (Value->DataSource() != this) Value->SetDataSource(this);
    }
    // The series this source fed lets it go.
    if (old && old->DataSources().IndexOf(this) >= 0) old->RemoveDataSource(*this);
}

void TPlotSeriesSource::Notification(vcl::TComponent* AComponent, vcl::TOperation Operation) {
    vcl::TComponent::Notification(AComponent, Operation);
    if (Operation == vcl::TOperation::opRemove && AComponent == series_) series_ = nullptr;
}

}  // namespace chart::engine
