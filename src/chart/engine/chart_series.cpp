#include "chart/engine/chart_series.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <utility>

#include "chart/drawing/plot_const.h"
#include "chart/engine/axis_panel.h"
#include "chart/engine/chart_exceptions.h"
#include "chart/engine/palettes.h"
#include "chart/engine/series_source.h"
#include "chart/engine/spread_places.h"
#include "platform/rtl/format.h"
#include "platform/rtl/strings.h"

namespace chart::engine {

// ---- Labels

std::string TLabelsList::Labels(int Index) const {
    if (Index < 0 || Index >= Count()) return {};
    return items_[static_cast<std::size_t>(Index)];
}

void TLabelsList::InsertLabel(int Index, const std::string& Text) {
    if (Index < 0)
        throw rtl::EListError("List index out of bounds (" + std::to_string(Index) + ")");
    if (Text.empty() && items_.empty()) return;
    if (Index > Count()) items_.resize(static_cast<std::size_t>(Index));
    items_.insert(items_.begin() + Index, Text);
}

void TLabelsList::DeleteLabel(int Index) {
    if (Index >= 0 && Index < Count()) items_.erase(items_.begin() + Index);
}

void TLabelsList::DeleteRange(int Start, int Quantity) {
    const long long from = std::max(Start, 0);
    const long long to = std::min<long long>((long long)Start + Quantity, Count());
    if (from < to) items_.erase(items_.begin() + from, items_.begin() + to);
}

void TLabelsList::Swap(int A, int B) {
    if (A < 0 || B < 0)
        throw rtl::EListError("List index out of bounds (" + std::to_string(std::min(A, B)) + ")");
    const int needed = std::max(A, B) + 1;
    if (needed > Count()) {
        // Only a label that moves past the end needs room there.
        if (Labels(std::min(A, B)).empty()) return;
        items_.resize(static_cast<std::size_t>(needed));
    }
    std::swap(items_[static_cast<std::size_t>(A)], items_[static_cast<std::size_t>(B)]);
}

std::size_t TLabelsList::LengthAfter(std::span<const int> Places) const {
    if (items_.empty() || Places.empty()) return items_.size();
    // Where the last label ends up: one place on for each new one before it.
    std::size_t last = items_.size() - 1;
    for (const int place : Places) {
        if (static_cast<std::size_t>(place) > last) break;
        ++last;
    }
    // Each empty label pads the list up to its place.
    return std::max(last + 1, static_cast<std::size_t>(Places.back()) + 1);
}

void TLabelsList::ReserveEmptyLabels(std::span<const int> Places) { ReserveGrowing(items_, LengthAfter(Places)); }

void TLabelsList::InsertEmptyLabels(std::span<const int> Places) {
    if (items_.empty() || Places.empty()) return;
    const std::size_t length = LengthAfter(Places);
    // The old entries that stay within the new length, padding included.
    const std::size_t old = length - Places.size();
    items_.resize(old);
    items_.resize(length);
    SpreadAtPlaces(items_, old, Places, [](std::size_t) { return std::string(); });
}

// ---- Series lists

int TCustomSeriesList::IndexOf(const TChartSeries* Series) const {
    const auto it = std::find(items_.begin(), items_.end(), Series);
    return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

void TCustomSeriesList::Add(TChartSeries* Series) {
    if (Series && IndexOf(Series) < 0) items_.push_back(Series);
}

void TCustomSeriesList::Remove(TChartSeries* Series) {
    items_.erase(std::remove(items_.begin(), items_.end(), Series), items_.end());
}

// ---- Life

TChartSeries::TChartSeries(vcl::TComponent* AOwner)
    : TCustomChartSeries(AOwner),
      value_format_(PlotMsg_DefValueFormat),
      percent_format_(PlotMsg_DefPercentFormat) {
    TChartValueList::Create(*this, PlotMsg_ValuesX).Order = TChartListOrder::loAscending;
    TChartValueList::Create(*this, PlotMsg_ValuesY).Order = TChartListOrder::loNone;
    marks_ = std::make_unique<TSeriesMarks>(*this);
}

TChartSeries::~TChartSeries() {
    // Deleted without Free: the series part is still whole here.
    if (TCustomAxisPanel* chart = ParentChart()) chart->RemoveSeries(*this);
    function_.reset();
    // Series sources the series owns go with it, first, while the series
    // part they tell is still whole (the end of the component part would
    // free them only after it).
    for (int i = ComponentCount() - 1; i >= 0; --i) {
        auto* source = dynamic_cast<TPlotSeriesSource*>(Components(i));
        if (!source) continue;
        auto& items = data_sources_.items_;
        items.erase(std::remove(items.begin(), items.end(), source), items.end());
        RemoveFreeNotification(source);
        vcl::TComponent::Free(source);
    }
    // Other sources hear of the end through their free notification.
    for (int i = 0; i < data_sources_.Count(); ++i)
        if (TChartSeries* source = data_sources_.Series(i)) source->dependents_.Remove(this);
    data_sources_.items_.clear();
    for (int i = 0; i < dependents_.Count(); ++i) {
        auto& items = dependents_.Items(i)->data_sources_.items_;
        items.erase(std::remove(items.begin(), items.end(), this), items.end());
    }
    TChartSeries::Clear();
}

void TChartSeries::AdoptValueList(std::unique_ptr<TChartValueList> List) {
    lists_.push_back(std::move(List));
}

void TChartSeries::CheckDataSource() {
    if (TCustomAxisPanel* chart = ParentChart(); chart && update_count_ == 0) chart->RefreshSeriesData(*this);
}

TChartValueList& TChartSeries::ValueListByName(const std::string& Name) {
    const std::string wanted = rtl::UpperCase(Name);
    for (std::size_t k = 2; k < lists_.size(); ++k)
        if (rtl::UpperCase(lists_[k]->Name) == wanted) return *lists_[k];
    return MandatoryValueList();
}

// ---- Adding

void TChartSeries::RemoveValuesAt(int Index) {
    for (auto& list : lists_)
        if (Index < list->Count()) list->Delete(Index);
}

int TChartSeries::InsertValues() {
    TChartValueList& x = XValues();
    const int n = x.Count();
    const int index = x.AddValue(x.TempValue);
    try {
        for (std::size_t k = 1; k < lists_.size(); ++k)
            lists_[k]->InsertValue(index, lists_[k]->TempValue);
    } catch (...) {
        // Lists that took the value are one longer than before.
        for (auto& list : lists_)
            if (list->Count() > n) list->Delete(index);
        throw;
    }
    return index;
}

void TChartSeries::InsertColorAndLabel(int Index, TColor AColor, const std::string& ALabel) {
    const std::size_t at = static_cast<std::size_t>(Index);
    bool colorIn = false;
    bool colorsMade = false;
    try {
        if (colors_) {
            colors_->insert(colors_->begin() + static_cast<std::ptrdiff_t>(at), AColor);
            colorIn = true;
        } else if (AColor != vcl::clDefault) {
            std::vector<TColor> colors(static_cast<std::size_t>(Count() - 1), vcl::clDefault);
            colors.insert(colors.begin() + static_cast<std::ptrdiff_t>(at), AColor);
            colors_ = std::move(colors);
            colorsMade = true;
        }
        if (!ALabel.empty() || labels_.Count() > 0) labels_.InsertLabel(Index, ALabel);
    } catch (...) {
        if (colorsMade) colors_.reset();
        if (colorIn) colors_->erase(colors_->begin() + static_cast<std::ptrdiff_t>(at));
        RemoveValuesAt(Index);
        throw;
    }
}

int TChartSeries::AddXY(double X, double Y, const std::string& ALabel, TColor AColor) {
    XValues().TempValue = X;
    YValues().TempValue = Y;
    if (OnBeforeAdd && !OnBeforeAdd(this)) return -1;
    const int index = InsertValues();
    if (colors_ || AColor != vcl::clDefault || !ALabel.empty() || labels_.Count() > 0)
        InsertColorAndLabel(index, AColor, ALabel);
    if (update_count_ == 0) NotifyNewValue(this, index);
    return index;
}

void TChartSeries::AddXYs(std::span<const TChartXY> Points, TAddedPoints& Result) {
    Result.Taken = 0;
    Result.Places.clear();
    std::vector<int> accepted;
    accepted.reserve(Points.size());
    std::exception_ptr refusal;
    for (std::size_t i = 0; i < Points.size(); ++i) {
        if (OnBeforeAdd) {
            XValues().TempValue = Points[i].X;
            YValues().TempValue = Points[i].Y;
            try {
                if (!OnBeforeAdd(this)) {
                    Result.Taken = static_cast<int>(i) + 1;
                    continue;
                }
            } catch (...) {
                refusal = std::current_exception();
                break;
            }
        }
        accepted.push_back(static_cast<int>(i));
        Result.Taken = static_cast<int>(i) + 1;
    }
    if (!accepted.empty()) {
        const int taken = Result.Taken;
        BeginUpdate();
        try {
            PlaceBatch(Points, accepted, Result.Places);
        } catch (...) {
            // Placed one by one, the points in already stay; merged, none went in.
            Result.Taken = Result.Places.empty() ? 0 : accepted[Result.Places.size()];
            std::sort(Result.Places.begin(), Result.Places.end());
            EndUpdate();
            throw;
        }
        Result.Taken = taken;
        XValues().TempValue = Points[static_cast<std::size_t>(accepted.back())].X;
        YValues().TempValue = Points[static_cast<std::size_t>(accepted.back())].Y;
        EndUpdate();
    }
    if (refusal) std::rethrow_exception(refusal);
}

void TChartSeries::PlaceBatch(std::span<const TChartXY> Points, const std::vector<int>& Accepted,
                              std::vector<int>& Places) {
    TChartValueList& x = XValues();
    const int n = Count();
    const std::size_t m = Accepted.size();
    const bool ascending = x.Order == TChartListOrder::loAscending;
    // A comes before B in the list's order.
    const auto before = [ascending](double A, double B) { return ascending ? A < B : A > B; };
    const auto xOf = [&](int i) { return Points[static_cast<std::size_t>(i)].X; };

    // The batch in the order it takes in the list: stable, so that points
    // of equal X keep the order they came in.
    std::vector<int> order(Accepted);
    std::vector<int> places(m);
    if (x.Order == TChartListOrder::loNone) {
        for (std::size_t k = 0; k < m; ++k) places[k] = n + static_cast<int>(k);
    } else {
        // X that is not a number stops the search for its place at once
        // and goes to the end, after which the list is out of order.
        if (std::any_of(order.begin(), order.end(), [&](int i) { return std::isnan(xOf(i)); }))
            return PlaceOneByOne(Points, Accepted, Places);
        const auto sooner = [&](int a, int b) { return before(xOf(a), xOf(b)); };
        if (!std::is_sorted(order.begin(), order.end(), sooner)) std::stable_sort(order.begin(), order.end(), sooner);
        // The batch lands from where its first point goes on. Were that
        // part out of order, the points would land one by one where the
        // search from the end stops, which a merge does not follow.
        const int from = x.OrderedPlace(xOf(order.front()));
        for (int i = from + 1; i < n; ++i)
            if (before(x.Value(i), x.Value(i - 1))) return PlaceOneByOne(Points, Accepted, Places);
        // A new point goes after the old ones it does not come before.
        int old = from;
        int at = from;
        for (std::size_t k = 0; k < m; ++k) {
            const double v = xOf(order[k]);
            while (old < n && !before(v, x.Value(old))) {
                ++old;
                ++at;
            }
            places[k] = at++;
        }
    }

    std::vector<double> xs(m), ys(m);
    for (std::size_t k = 0; k < m; ++k) {
        xs[k] = Points[static_cast<std::size_t>(order[k])].X;
        ys[k] = Points[static_cast<std::size_t>(order[k])].Y;
    }
    // All the memory first: from here on nothing can fail, so every list
    // changes or none does.
    for (auto& list : lists_) list->ReserveMore(static_cast<int>(m));
    if (colors_) ReserveGrowing(*colors_, colors_->size() + m);
    labels_.ReserveEmptyLabels(places);
    Places.reserve(m);

    x.InsertAtPlaces(places, xs);
    YValues().InsertAtPlaces(places, ys);
    for (std::size_t k = 2; k < lists_.size(); ++k) lists_[k]->InsertAtPlaces(places, lists_[k]->TempValue);
    if (colors_) {
        const std::size_t old = colors_->size();
        colors_->resize(old + m);
        SpreadAtPlaces(*colors_, old, places, [](std::size_t) { return vcl::clDefault; });
    }
    labels_.InsertEmptyLabels(places);
    Places = std::move(places);
}

void TChartSeries::PlaceOneByOne(std::span<const TChartXY> Points, const std::vector<int>& Accepted,
                                 std::vector<int>& Places) {
    Places.reserve(Accepted.size());
    for (const int i : Accepted) {
        XValues().TempValue = Points[static_cast<std::size_t>(i)].X;
        YValues().TempValue = Points[static_cast<std::size_t>(i)].Y;
        const int index = InsertValues();
        if (colors_ || labels_.Count() > 0) InsertColorAndLabel(index, vcl::clDefault, {});
        // The points in before move up past the new one.
        for (int& place : Places)
            if (place >= index) ++place;
        Places.push_back(index);
    }
    std::sort(Places.begin(), Places.end());
}

int TChartSeries::Add(double Value, const std::string& ALabel, TColor AColor) {
    const double position = Count();
    return y_mandatory_ ? AddXY(position, Value, ALabel, AColor)
                        : AddXY(Value, position, ALabel, AColor);
}

int TChartSeries::AddNull(const std::string& ALabel) { return Add(NullValue, ALabel, vcl::clNone); }

int TChartSeries::AddNullXY(double X, double Y, const std::string& ALabel) {
    return AddXY(X, Y, ALabel, vcl::clNone);
}

int TChartSeries::AddChartValue(TChartSeries& Source, int ValueIndex) {
    if (ValueIndex < 0 || ValueIndex >= Source.Count())
        throw rtl::EListError("List index out of bounds (" + std::to_string(ValueIndex) + ")");
    double x = Source.XValues().Value(ValueIndex);
    double y = Source.YValues().Value(ValueIndex);
    if (Source.y_mandatory_ != y_mandatory_) std::swap(x, y);
    XValues().TempValue = x;
    YValues().TempValue = y;
    for (std::size_t k = 2; k < lists_.size(); ++k)
        lists_[k]->TempValue = k < Source.lists_.size() ? Source.lists_[k]->Value(ValueIndex) : 0.0;
    return InsertValues();
}

int TChartSeries::AddValueFromSource(TChartSeries& Source, int ValueIndex) {
    const int index = AddChartValue(Source, ValueIndex);
    // Colours and labels move with the points even where the source has
    // none at this index, so that the later points keep theirs.
    const TColor color = Source.colors_ && static_cast<int>(Source.colors_->size()) > ValueIndex
                             ? (*Source.colors_)[static_cast<std::size_t>(ValueIndex)]
                             : vcl::clDefault;
    InsertColorAndLabel(index, color, Source.labels_.Labels(ValueIndex));
    if (update_count_ == 0) NotifyNewValue(this, index);
    return index;
}

void TChartSeries::DeleteValueFromSource(TChartSeries&, int ValueIndex) { Delete(ValueIndex); }

void TChartSeries::NotifyNewValue(TChartSeries* Sender, int ValueIndex) {
    if (OnAfterAdd) OnAfterAdd(Sender, ValueIndex);
    NotifyDependents(sdeAdded, ValueIndex);
    if (Active()) Repaint();
}

// ---- Removing

void TChartSeries::Delete(int ValueIndex) {
    if (ValueIndex < 0 || ValueIndex >= Count())
        throw ChartException(rtl::Format(PlotMsg_SeriesDelete, {ValueIndex, Count() - 1}));
    for (auto& list : lists_) list->Delete(ValueIndex);
    if (colors_ && ValueIndex < static_cast<int>(colors_->size()))
        colors_->erase(colors_->begin() + ValueIndex);
    labels_.DeleteLabel(ValueIndex);
    marks_->Positions().Delete(ValueIndex);
    marks_->Items().Delete(ValueIndex);
    NotifyDependents(sdeDeleted, ValueIndex);
    if (Active()) Repaint();
}

void TChartSeries::DeleteRange(int Start, int Quantity, bool RemoveGap) {
    rtl::Assert(Quantity >= 1, "Quantity of data points to delete must be greater than zero.");
    rtl::Assert(Start >= 0, "Start of data points to delete must not be negative.");
    rtl::Assert(static_cast<long long>(Start) + Quantity - 1 < Count(),
                "Quantity of data to delete must be less than Count.");
    for (auto& list : lists_) list->DeleteRange(Start, Quantity);
    if (colors_) {
        const auto from = colors_->begin() + Start;
        colors_->erase(from, from + std::min<std::ptrdiff_t>(Quantity, colors_->end() - from));
        if (colors_->empty()) colors_.reset();
    }
    labels_.DeleteRange(Start, Quantity);
    marks_->Positions().DeleteRange(Start, Quantity);
    NotifyDependents(sdeDeleted, -1);
    if (Active()) Repaint();
    if (RemoveGap) NotMandatoryValueList().FillSequence();
}

void TChartSeries::ClearLists() {
    for (auto& list : lists_) list->ClearValues();
    colors_.reset();
    labels_.Clear();
    marks_->Clear();
}

void TChartSeries::Clear() {
    FirstVisibleIndex = -1;
    LastVisibleIndex = -1;
    ClearLists();
    if (OnClearValues) OnClearValues(this);
    NotifyDependents(sdeCleared, 0);
    if (function_) function_->SeriesCleared();
    if (Active() && ParentChart() && !ParentChart()->Destroying()) Repaint();
}

// ---- Bulk changes and dependents

void TChartSeries::EndUpdate() {
    if (update_count_ == 0) return;
    if (--update_count_ > 0) return;
    NotifyDependents(sdeRefreshed, 0);
    if (TCustomAxisPanel* chart = ParentChart()) chart->BroadcastSeriesEvent(*this, seDataChanged);
}

void TChartSeries::AssignValues(TChartSeries& Source) {
    BeginUpdate();
    try {
        Clear();
        if (function_) {
            XValues().SetDateTime(Source.XValues().DateTime());
            YValues().SetDateTime(Source.YValues().DateTime());
            function_->AddPoints(Source);
        } else if (&Source != this) {
            for (int i = 0; i < Source.Count(); ++i) AddValueFromSource(Source, i);
        }
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TChartSeries::NotifyDependents(std::uint8_t Event, int ValueIndex) {
    if (update_count_ > 0) return;
    // By index: a dependent may leave the list while it follows.
    for (int i = 0; i < dependents_.Count(); ++i) {
        TChartSeries& d = *dependents_.Items(i);
        switch (Event) {
            case sdeCleared:
                if (d.SourceEvents & sseClear) d.Clear();
                break;
            case sdeAdded:
                if ((d.SourceEvents & sseAdd) && !d.function_)
                    d.AddValueFromSource(*this, ValueIndex);
                break;
            case sdeDeleted:
                if ((d.SourceEvents & sseDelete) && !d.function_) {
                    // A range (no single index) is followed by copying anew.
                    if (ValueIndex < 0)
                        d.AssignValues(*this);
                    else
                        d.DeleteValueFromSource(*this, ValueIndex);
                }
                break;
            case sdeRefreshed:
                d.AssignValues(*this);
                break;
            case sdeModified:
                if (d.SourceEvents & sseModify) d.AssignValues(*this);
                break;
            default:
                break;
        }
    }
}

// ---- Points swapped by sorting

void TChartSeries::SwapValueIndex(int A, int B) {
    for (auto& list : lists_) list->SwapValues(A, B);
    if (colors_)
        std::swap((*colors_)[static_cast<std::size_t>(A)], (*colors_)[static_cast<std::size_t>(B)]);
    if (labels_.Count() > 0) labels_.Swap(A, B);
}

// ---- Colours

void TChartSeries::SetSeriesColor(TColor Value) {
    if (series_color_ == vcl::clDefault && Value == automatic_color_) return;
    SetColorProperty(series_color_, Value);
    automatic_color_ = Value;
    if (TCustomAxisPanel* chart = ParentChart()) chart->BroadcastSeriesEvent(*this, seChangeColor);
}

void TChartSeries::SetAutomaticColor(TColor Value) {
    automatic_color_ = Value;
    SetSeriesColor(Value);
    if (TCustomAxisPanel* chart = ParentChart()) chart->BroadcastSeriesEvent(*this, seChangeColor);
}

TColor TChartSeries::ValueColor(int ValueIndex) const {
    if (colors_ && ValueIndex >= 0 && ValueIndex < static_cast<int>(colors_->size())) {
        const TColor own = (*colors_)[static_cast<std::size_t>(ValueIndex)];
        if (own != vcl::clDefault) return own;
    }
    if (color_each_point_) {
        if (const TCustomAxisPanel* chart = ParentChart())
            return chart->GetDefaultColor(ValueIndex);
        return PaletteColor(ValueIndex);
    }
    return SeriesColor();
}

// ---- Formats

bool TChartSeries::IsValueFormatStored() const { return value_format_ != PlotMsg_DefValueFormat; }
bool TChartSeries::IsPercentFormatStored() const {
    return percent_format_ != PlotMsg_DefPercentFormat;
}

void TChartSeries::SetXLabelsSource(const std::string& Value) {
    if (Value == x_labels_source_) return;
    SetStringProperty(x_labels_source_, Value);
    CheckDataSource();
}

}  // namespace chart::engine
