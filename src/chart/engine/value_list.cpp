#include "chart/engine/value_list.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <utility>

#include "chart/engine/panel_routines.h"
#include "chart/engine/spread_places.h"
#include "platform/rtl/exceptions.h"

namespace chart::engine {

namespace {

// The first block; later ones are half as large again, so that appends
// cost a reallocation only now and then and at most a third of the block
// is unused.
constexpr std::size_t kFirstCapacity = 1000;

[[noreturn]] void IndexError(std::int64_t index) {
    throw rtl::EListError("List index out of bounds (" + std::to_string(index) + ")");
}

}  // namespace

namespace detail {

void TValueStorage::TFree::operator()(double* p) const noexcept { std::free(p); }

void TValueStorage::reserve(std::size_t capacity) {
    if (capacity <= capacity_) return;
    void* block = std::realloc(data_.get(), capacity * sizeof(double));
    if (!block) throw std::bad_alloc();
    (void)data_.release();  // realloc took the old block
    data_.reset(static_cast<double*>(block));
    capacity_ = capacity;
}

void TValueStorage::insert(std::size_t index, double value) {
    double* p = data_.get();
    std::memmove(p + index + 1, p + index, (size_ - index) * sizeof(double));
    p[index] = value;
    ++size_;
}

void TValueStorage::erase(std::size_t first, std::size_t last) {
    double* p = data_.get();
    std::memmove(p + first, p + last, (size_ - last) * sizeof(double));
    size_ -= last - first;
}

void TValueStorage::resize(std::size_t size) {
    reserve(size);
    for (std::size_t i = size_; i < size; ++i) data_.get()[i] = 0;
    size_ = size;
}

void TValueStorage::release() {
    data_.reset();
    size_ = capacity_ = 0;
}

}  // namespace detail

TChartValueList::TChartValueList(std::string AName) : Name(std::move(AName)) {}

TChartValueList& TChartValueList::Create(TValueListOwner& AOwner, std::string AName) {
    auto list = std::make_unique<TChartValueList>(std::move(AName));
    list->owner_ = &AOwner;
    TChartValueList& result = *list;
    AOwner.AdoptValueList(std::move(list));
    return result;
}

void TChartValueList::Assign(const TChartValueList& Source) {
    Order = Source.Order;
    SetDateTime(Source.dateTime_);
    SetValueSource(Source.valueSource_);
}

void TChartValueList::Grow() { GrowTo(values_.size() + 1); }

void TChartValueList::GrowTo(std::size_t Needed) {
    const std::size_t capacity = values_.capacity();
    if (Needed <= capacity) return;
    // Count is a 32-bit number.
    if (Needed > static_cast<std::size_t>(INT_MAX)) throw rtl::EListError("Too many values in the list");
    std::size_t next = capacity < kFirstCapacity ? kFirstCapacity : capacity + capacity / 2;
    next = std::min(std::max(next, Needed), static_cast<std::size_t>(INT_MAX));
    values_.reserve(next);
}

void TChartValueList::ReserveMore(int Extra) {
    if (Extra > 0) GrowTo(values_.size() + static_cast<std::size_t>(Extra));
}

void TChartValueList::Reserve(int Capacity) {
    if (Capacity > 0) values_.reserve(static_cast<std::size_t>(Capacity));
}

void TChartValueList::ExchangeValues(TChartValueList& Other) noexcept {
    std::swap(values_, Other.values_);
    Changed();
    Other.Changed();
}

int TChartValueList::OrderedPlace(double Value) const {
    // Backwards from the end: time-stamped data lands at or near it.
    int i = Count() - 1;
    if (Order == TChartListOrder::loNone) return Count();
    if (Order == TChartListOrder::loAscending) {
        while (i >= 0 && values_[static_cast<std::size_t>(i)] > Value) --i;
    } else {
        while (i >= 0 && values_[static_cast<std::size_t>(i)] < Value) --i;
    }
    return i + 1;
}

int TChartValueList::AddValue(double Value) {
    TempValue = Value;
    const int n = Count();
    bool atEnd = n == 0 || Order == TChartListOrder::loNone;
    if (!atEnd) {
        const double last = values_[values_.size() - 1];
        atEnd = Order == TChartListOrder::loAscending ? Value >= last : Value <= last;
    }
    if (atEnd) {
        ReserveOneMore();
        values_.push_back(Value);
        Appended();
        return n;
    }
    const int place = OrderedPlace(Value);
    InsertAt(place, Value);
    return place;
}

void TChartValueList::InsertValue(int ValueIndex, double Value) {
    if (ValueIndex < 0 || ValueIndex > Count()) IndexError(ValueIndex);
    InsertAt(ValueIndex, Value);
}

void TChartValueList::InsertAt(int ValueIndex, double Value) {
    const int n = Count();
    ReserveOneMore();
    if (ValueIndex == n) {
        // The series adds most points at the end of every list.
        values_.push_back(Value);
        Appended();
        return;
    }
    values_.insert(static_cast<std::size_t>(ValueIndex), Value);
    Changed();
}

template <class ValueAt>
void TChartValueList::SpreadIn(std::span<const int> Places, ValueAt&& Value) {
    if (Places.empty()) return;
    ReserveMore(static_cast<int>(Places.size()));
    const std::size_t old = values_.size();
    values_.resize(old + Places.size());
    SpreadAtPlaces(values_, old, Places, Value);
    // Values that all went past the end leave the statistics of the others;
    // values among them, the extremes: so a batch into a long list costs no
    // pass over all of it for the axes.
    if (static_cast<std::size_t>(Places.front()) >= old)
        Appended();
    else if (!KeepExtremes(Places, Value))
        Changed();
}

template <class ValueAt>
bool TChartValueList::KeepExtremes(std::span<const int> Places, ValueAt& Value) {
    const std::size_t old = values_.size() - Places.size();
    // The pass starts from value 0: it must be the one it was.
    if (modified_ || statsCount_ != old || Places.front() == 0 || std::isnan(stats_.MinValue)) return false;
    TStatistics s = stats_;
    // A zero of the other sign equal to an extreme: the pass keeps whichever
    // comes first, which the places would decide.
    const auto otherZero = [](double v, double e) { return v == e && std::signbit(v) != std::signbit(e); };
    for (std::size_t k = 0; k < Places.size(); ++k) {
        const double v = Value(k);
        if (std::isnan(v) || otherZero(v, s.MinValue) || otherZero(v, s.MaxValue)) return false;
        if (v < s.MinValue)
            s.MinValue = v;
        else if (v > s.MaxValue)
            s.MaxValue = v;
        if (!std::isfinite(v)) continue;
        if (!s.HasFinite) {
            s.MinFinite = s.MaxFinite = v;
            s.HasFinite = true;
        } else if (otherZero(v, s.MinFinite) || otherZero(v, s.MaxFinite)) {
            return false;
        } else if (v < s.MinFinite) {
            s.MinFinite = v;
        } else if (v > s.MaxFinite) {
            s.MaxFinite = v;
        }
    }
    stats_ = s;
    statsCount_ = values_.size();
    totalsStale_ = true;
    return true;
}

void TChartValueList::InsertAtPlaces(std::span<const int> Places, std::span<const double> Values) {
    SpreadIn(Places, [&](std::size_t k) { return Values[k]; });
}

void TChartValueList::InsertAtPlaces(std::span<const int> Places, double Value) {
    SpreadIn(Places, [&](std::size_t) { return Value; });
}

void TChartValueList::ClearValues() {
    values_.release();
    Changed();
}

void TChartValueList::Delete(int ValueIndex) {
    if (ValueIndex < 0 || ValueIndex >= Count()) IndexError(ValueIndex);
    values_.erase(static_cast<std::size_t>(ValueIndex), static_cast<std::size_t>(ValueIndex) + 1);
    Changed();
}

void TChartValueList::DeleteRange(int Start, int Quantity) {
    rtl::Assert(Start >= 0 && Quantity >= 0,
                "Start and Quantity of data to delete must not be negative.");
    rtl::Assert(std::int64_t{Start} + Quantity - 1 < Count(),
                "Quantity of data to delete must be less than Count.");
    if (Quantity == 0) return;
    values_.erase(static_cast<std::size_t>(Start),
                  static_cast<std::size_t>(Start) + static_cast<std::size_t>(Quantity));
    Changed();
}

void TChartValueList::Scroll() {
    if (values_.empty()) return;
    std::rotate(values_.begin(), values_.begin() + 1, values_.end());
    Changed();
}

void TChartValueList::SetCount(int NewCount) {
    rtl::Assert(NewCount >= 0, "ValueList Count must be greater than zero.");
    values_.resize(static_cast<std::size_t>(NewCount));
    Changed();
}

void TChartValueList::SetValue(int Index, double AValue) {
    values_[static_cast<std::size_t>(Index)] = AValue;
    Changed();
}

double TChartValueList::First() const {
    if (values_.empty()) IndexError(0);
    return values_[0];
}

double TChartValueList::Last() const {
    if (values_.empty()) IndexError(-1);
    return values_[values_.size() - 1];
}

const TChartValueList::TStatistics& TChartValueList::Statistics(bool NeedTotals) const {
    if (NeedTotals && totalsStale_) {
        totalsStale_ = false;
        modified_ = true;
        statsCount_ = 0;
    }
    if (!modified_) return stats_;
    const std::size_t n = values_.size();
    std::size_t from = statsCount_;
    if (n == 0) {
        stats_ = TStatistics{};
    } else {
        if (from == 0 || from > n) {
            const double first = values_[0];
            const bool finite = std::isfinite(first);
            stats_ = TStatistics{first, first, first, std::fabs(first),
                                 finite ? first : 0.0, finite ? first : 0.0, finite};
            from = 1;
        }
        // One loop for the whole pass and for extending it over appended
        // values, so both give the same bits.
        TStatistics s = stats_;
        for (std::size_t i = from; i < n; ++i) {
            const double v = values_[i];
            if (v < s.MinValue)
                s.MinValue = v;
            else if (v > s.MaxValue)
                s.MaxValue = v;
            s.Total += v;
            s.TotalABS += std::fabs(v);
            if (std::isfinite(v)) {
                if (!s.HasFinite) {
                    s.MinFinite = s.MaxFinite = v;
                    s.HasFinite = true;
                } else if (v < s.MinFinite) {
                    s.MinFinite = v;
                } else if (v > s.MaxFinite) {
                    s.MaxFinite = v;
                }
            }
        }
        stats_ = s;
    }
    statsCount_ = n;
    modified_ = false;
    return stats_;
}

double TChartValueList::MaxValue() const { return Statistics(false).MaxValue; }
double TChartValueList::MinValue() const { return Statistics(false).MinValue; }
double TChartValueList::Total() const { return Statistics().Total; }
double TChartValueList::TotalABS() const { return Statistics().TotalABS; }
double TChartValueList::Range() const {
    const TStatistics& s = Statistics(false);
    return s.MaxValue - s.MinValue;
}

double TChartValueList::MinFiniteValue() const {
    const TStatistics& s = Statistics(false);
    return s.HasFinite ? s.MinFinite : std::numeric_limits<double>::quiet_NaN();
}

double TChartValueList::MaxFiniteValue() const {
    const TStatistics& s = Statistics(false);
    return s.HasFinite ? s.MaxFinite : std::numeric_limits<double>::quiet_NaN();
}

void TChartValueList::SwapValues(int Index1, int Index2) {
    const int n = Count();
    if (Index1 < 0 || Index1 >= n) IndexError(Index1);
    if (Index2 < 0 || Index2 >= n) IndexError(Index2);
    std::swap(values_[static_cast<std::size_t>(Index1)], values_[static_cast<std::size_t>(Index2)]);
    Changed();
}

void TChartValueList::Exchange(int Index1, int Index2) {
    SwapValues(Index1, Index2);
    if (owner_) owner_->NotifyDependents(sdeModified, Index1);
}

void TChartValueList::FillSequence() {
    for (std::size_t i = 0; i < values_.size(); ++i) values_[i] = static_cast<double>(i);
    Changed();
    if (owner_) owner_->NotifyDependents(sdeModified, 0);
}

int TChartValueList::CompareValueIndex(int A, int B) const {
    const double a = Value(A);
    const double b = Value(B);
    const int result = a < b ? -1 : (a > b ? 1 : 0);
    return Order == TChartListOrder::loDescending ? -result : result;
}

void TChartValueList::Sort() {
    if (Order == TChartListOrder::loNone) return;
    Changed();
    const auto compare = [this](int A, int B) { return CompareValueIndex(A, B); };
    if (owner_)
        PlotQuickSort(0, Count() - 1, compare,
                      [this](int A, int B) { owner_->SwapValueIndex(A, B); });
    else
        PlotQuickSort(0, Count() - 1, compare, [this](int A, int B) { SwapValues(A, B); });
}

void TChartValueList::SetDateTime(bool Value) {
    if (owner_)
        owner_->SetValueListFlag(dateTime_, Value);
    else
        dateTime_ = Value;
}

void TChartValueList::SetValueSource(const std::string& Value) {
    if (Value == valueSource_) return;
    valueSource_ = Value;
    if (owner_) owner_->CheckDataSource();
}

}  // namespace chart::engine
