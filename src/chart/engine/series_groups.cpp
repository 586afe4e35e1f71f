#include "chart/engine/series_groups.h"

#include "platform/rtl/exceptions.h"

namespace chart::engine {

TSeriesGroup::TSeriesGroup(std::string Name) : name_(std::move(Name)) {}

TSeriesGroupActive TSeriesGroup::Active() const {
    int on = 0;
    for (int i = 0; i < series_.Count(); ++i) on += series_.Items(i)->Active() ? 1 : 0;
    if (on == series_.Count()) return gaYes;
    return on == 0 ? gaNo : gaSome;
}

void TSeriesGroup::SetActive(TSeriesGroupActive Value) {
    if (Value == gaSome || Value == Active()) return;
    // By index: a series' news may change the group.
    for (int i = 0; i < series_.Count(); ++i) series_.Items(i)->SetActive(Value == gaYes);
}

void TSeriesGroup::Assign(const TSeriesGroup& Source) {
    if (&Source == this) return;
    name_ = Source.name_;
    series_.Clear();
    for (int i = 0; i < Source.series_.Count(); ++i) series_.Add(Source.series_.Items(i));
}

TSeriesGroup& TSeriesGroups::Add() {
    items_.push_back(std::make_unique<TSeriesGroup>("Group" + std::to_string(items_.size() + 1)));
    return *items_.back();
}

void TSeriesGroups::Delete(int Index) {
    if (Index < 0 || Index >= Count())
        throw rtl::EListError("List index out of bounds (" + std::to_string(Index) + ")");
    items_.erase(items_.begin() + Index);
}

void TSeriesGroups::RemoveSeries(const TChartSeries* Series) {
    for (auto& group : items_) group->Series().Remove(const_cast<TChartSeries*>(Series));
}

void TSeriesGroups::Assign(const TSeriesGroups& Source) {
    if (&Source == this) return;
    items_.clear();
    for (const auto& group : Source.items_) Add().Assign(*group);
}

}  // namespace chart::engine
