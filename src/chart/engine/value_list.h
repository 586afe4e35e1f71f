#pragma once
// TChartValueList: one coordinate (X, Y or a further value) of all points of
// a series, as one contiguous array of doubles kept in the list's order, with
// minimum, maximum and totals computed on demand.
//
// The statistics are cached. Appends (at the end, by order or by index) keep
// the cache of the values before them, and the next read only extends it over
// the new values, in index order, so the result is the same bit for bit as a
// pass over the whole list. A batch placed among the values (InsertAtPlaces)
// keeps the extremes, taking in the new values as a pass would, and leaves
// only the totals to be summed again when they are read. Any other change
// (insert before the end, delete, swap, overwrite, scroll) makes the next
// read start again from value 0.
//
// The storage grows geometrically; its capacity is not visible outside.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace chart::engine {

enum class TChartListOrder { loNone, loAscending, loDescending };

class TChartValueList;

namespace detail {

// The contiguous doubles of a value list. Kept in a malloc'ed block because
// realloc lengthens a large block by remapping its pages, where a vector
// would copy every value and hold both blocks at once: at 10M points that
// copying would take most of the time of the appends.
class TValueStorage {
  public:
    std::size_t size() const { return size_; }
    std::size_t capacity() const { return capacity_; }
    bool empty() const { return size_ == 0; }
    double& operator[](std::size_t i) { return data_.get()[i]; }
    double operator[](std::size_t i) const { return data_.get()[i]; }
    double* begin() { return data_.get(); }
    double* end() { return data_.get() + size_; }
    std::span<const double> span() const { return {data_.get(), size_}; }

    // Raises std::bad_alloc and keeps the values when there is no memory.
    void reserve(std::size_t capacity);
    // Within the capacity only.
    void push_back(double value) { data_.get()[size_++] = value; }
    void insert(std::size_t index, double value);
    void erase(std::size_t first, std::size_t last);
    // New values are 0.
    void resize(std::size_t size);
    void release();

  private:
    struct TFree {
        void operator()(double* p) const noexcept;
    };
    std::unique_ptr<double[], TFree> data_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

}  // namespace detail

// What a series tells its dependents about its data (the event byte of
// NotifyDependents).
enum TSeriesDataEvent : std::uint8_t {
    sdeCleared = 0,
    sdeAdded = 1,
    sdeDeleted = 2,
    sdeRefreshed = 3,
    sdeModified = 4,
};

// What a value list asks of the series that owns it. The series keeps its
// lists (X, Y, then the extra lists of a series kind) in one owned list.
class TValueListOwner {
  public:
    // Appends List to the owner's list of value lists, which owns it from now on.
    virtual void AdoptValueList(std::unique_ptr<TChartValueList> List) = 0;
    // The owner's store-and-repaint setter for a Boolean property of a list.
    virtual void SetValueListFlag(bool& Variable, bool Value) = 0;
    // Tells the series that feed on the owner's data.
    virtual void NotifyDependents(std::uint8_t Event, int ValueIndex) = 0;
    // Exchanges two whole points: every value list, colours and labels.
    virtual void SwapValueIndex(int A, int B) = 0;
    // Reloads the owner's data from its data source (a list's ValueSource changed).
    virtual void CheckDataSource() = 0;

  protected:
    ~TValueListOwner() = default;
};

class TChartValueList {
  public:
    // A list of its own, belonging to no series.
    explicit TChartValueList(std::string AName = {});
    // A list of AOwner: created, handed to the owner's list of value lists,
    // and returned.
    static TChartValueList& Create(TValueListOwner& AOwner, std::string AName);

    virtual ~TChartValueList() = default;
    TChartValueList(const TChartValueList&) = delete;
    TChartValueList& operator=(const TChartValueList&) = delete;

    // Copies Order, DateTime and ValueSource; not the values, not the name.
    virtual void Assign(const TChartValueList& Source);

    // Stores Value in TempValue and inserts it at its place by Order (after
    // values equal to it); returns the index where it now stands.
    virtual int AddValue(double Value);
    // Count := 0 and the storage is released.
    virtual void ClearValues();
    // Places Value at ValueIndex (0..Count), moving the later values up.
    // Raises EListError outside that range.
    virtual void InsertValue(int ValueIndex, double Value);
    // The index AddValue would give Value now: the end for loNone, else
    // after the last value, searching back from the end, that Value does not
    // come before by Order (so after values equal to it).
    int OrderedPlace(double Value) const;
    // A batch of values at once: afterwards Values[k] stands at Places[k]
    // (final indexes, ascending, one per value) and the values that were
    // there keep their order in the other places. Only the part of the list
    // from the first place on moves, once. Raises std::bad_alloc, the list
    // unchanged, when there is no memory (none after ReserveMore for them).
    void InsertAtPlaces(std::span<const int> Places, std::span<const double> Values);
    // The same with one value in every place.
    void InsertAtPlaces(std::span<const int> Places, double Value);
    // Removes one value (0..Count - 1), moving the later values down.
    // Raises EListError outside that range.
    virtual void Delete(int ValueIndex);
    // Moves every value one place towards index 0 and the first to the end.
    virtual void Scroll();

    // Removes Quantity values from Start on; a range reaching past the last
    // value, or a negative Start or Quantity, fails an assertion.
    void DeleteRange(int Start, int Quantity);

    int Count() const { return static_cast<int>(values_.size()); }
    // Shortens the list, or lengthens it with zeros; a negative count fails
    // an assertion and changes nothing.
    void SetCount(int NewCount);

    // The value at Index, without a range check (0 <= Index < Count).
    double Value(int Index) const { return values_[static_cast<std::size_t>(Index)]; }
    // Overwrites the value at Index (0 <= Index < Count; unchecked).
    void SetValue(int Index, double AValue);
    double First() const;
    double Last() const;
    // All values, in index order.
    std::span<const double> Values() const { return values_.span(); }

    double MaxValue() const;
    double MinValue() const;
    double Total() const;
    double TotalABS() const;
    double Range() const;
    // The extremes of the finite values (what axes scale to); NaN when the
    // list holds none.
    double MinFiniteValue() const;
    double MaxFiniteValue() const;
    // The statistics are stale: some value changed since they were computed.
    bool Modified() const { return modified_ || totalsStale_; }

    // Room for Capacity values, so that adding up to that many allocates
    // nothing more; raises std::bad_alloc (the list unchanged) when there is
    // no memory.
    void Reserve(int Capacity);
    // Room for Extra values more, grown as adding grows it; raises
    // std::bad_alloc (the list unchanged) when there is no memory, and
    // EListError past the most values a list can count.
    void ReserveMore(int Extra);
    // Exchanges all values with Other, allocating nothing (so it cannot
    // fail): a list filled aside takes the place of this one's values at
    // once. The owners are not told; a series brackets the exchange with
    // BeginUpdate and EndUpdate.
    void ExchangeValues(TChartValueList& Other) noexcept;
    // Swaps two values and tells the owner's dependents (values modified).
    void Exchange(int Index1, int Index2);
    // Swaps two values without telling anyone; the series swaps whole
    // points through it.
    void SwapValues(int Index1, int Index2);
    // Every value becomes its own index; the dependents are told.
    void FillSequence();
    // -1, 0 or 1 as value A is below, equal to or above value B; reversed
    // for a descending list.
    int CompareValueIndex(int A, int B) const;
    // Sorts by Order (nothing for loNone); with an owner, whole points move
    // through the owner's SwapValueIndex.
    void Sort();

    bool DateTime() const { return dateTime_; }
    void SetDateTime(bool Value);
    const std::string& ValueSource() const { return valueSource_; }
    void SetValueSource(const std::string& Value);
    // DateTime is written to a stream only when it differs from DefaultDateTime.
    bool IsDateTimeStored() const { return dateTime_ != DefaultDateTime; }

    TValueListOwner* Owner() const { return owner_; }

    std::string Name;
    // Sort order kept when values are added; assigning it does not re-sort.
    TChartListOrder Order = TChartListOrder::loNone;
    // The value being added (set by AddValue; the series sets it for lists
    // that receive their values at a computed index).
    double TempValue = 0;
    bool DefaultDateTime = false;

  private:
    struct TStatistics {
        double MinValue = 0;
        double MaxValue = 0;
        double Total = 0;
        double TotalABS = 0;
        double MinFinite = 0;
        double MaxFinite = 0;
        bool HasFinite = false;
    };

    // Room for one more value (the common case answered inline).
    void ReserveOneMore() {
        if (values_.size() < values_.capacity()) return;
        Grow();
    }
    void Grow();
    // Grows the storage (as appends grow it) to hold at least Needed values.
    void GrowTo(std::size_t Needed);
    // InsertAtPlaces with the value for place k from Value(k).
    template <class ValueAt>
    void SpreadIn(std::span<const int> Places, ValueAt&& Value);
    void InsertAt(int ValueIndex, double Value);
    // A change other than an append: the cached statistics are dropped.
    void Changed() {
        modified_ = true;
        totalsStale_ = false;
        statsCount_ = 0;
    }
    // Only values at the end were added: the cache of the others holds.
    void Appended() { modified_ = true; }
    // The statistics, the totals only when NeedTotals (the extremes always).
    const TStatistics& Statistics(bool NeedTotals = true) const;
    // After values went in among the others at Places (none at index 0):
    // true when the cached extremes, complete before, took them in exactly
    // as a pass over the list would; the totals are then stale.
    template <class ValueAt>
    bool KeepExtremes(std::span<const int> Places, ValueAt& Value);

    detail::TValueStorage values_;
    TValueListOwner* owner_ = nullptr;
    bool dateTime_ = false;
    std::string valueSource_;

    mutable TStatistics stats_;
    // How many leading values the cached statistics cover.
    mutable std::size_t statsCount_ = 0;
    mutable bool modified_ = true;
    // The extremes are up to date but the totals are not.
    mutable bool totalsStale_ = false;
};

}  // namespace chart::engine
