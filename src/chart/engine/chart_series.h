#pragma once
// TChartSeries: the base of every plotted series, as far as its points go:
// the value lists (X, Y and the extra lists of a series kind), per-point
// colours and labels, null points, the series colour, the update counter,
// and the series fed by this one (its dependents).
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "chart/engine/chart_element.h"
#include "chart/engine/plot_function.h"
#include "chart/engine/series_marks.h"
#include "chart/engine/value_list.h"

namespace chart::engine {

class TChartSeries;

// Per-point labels. Entry i is a point's label; the list is padded only as
// far as the last labelled point, so it may be shorter than the points.
class TLabelsList {
  public:
    int Count() const { return static_cast<int>(items_.size()); }
    // Empty past the end.
    std::string Labels(int Index) const;
    // A label (padding the list up to Index) at Index. An empty text goes
    // in only when the list has entries already: a series without labels
    // keeps none.
    void InsertLabel(int Index, const std::string& Text);
    // Removes entry Index when the list reaches that far.
    void DeleteLabel(int Index);
    // Removes the entries of the range that the list holds.
    void DeleteRange(int Start, int Quantity);
    // Exchanges two labels; an index past the end counts as an empty label.
    void Swap(int A, int B);
    void Clear() { items_.clear(); }
    void Assign(const TLabelsList& Other) { items_ = Other.items_; }

  private:
    std::vector<std::string> items_;
};

// Series referred to, not owned.
class TCustomSeriesList {
  public:
    int Count() const { return static_cast<int>(items_.size()); }
    TChartSeries* Items(int Index) const { return items_.at(static_cast<std::size_t>(Index)); }
    int IndexOf(const TChartSeries* Series) const;
    void Add(TChartSeries* Series);
    void Remove(TChartSeries* Series);
    void Clear() { items_.clear(); }

  private:
    std::vector<TChartSeries*> items_;
};

// Which events of a source series a dependent follows (bits of SourceEvents).
enum TSeriesSourceEvent : std::uint8_t {
    sseDelete = 1,
    sseModify = 2,
    sseAdd = 4,
    sseClear = 8,
};

class TChartSeries : public TCustomChartSeries, public TValueListOwner {
  public:
    explicit TChartSeries(vcl::TComponent* AOwner);
    ~TChartSeries() override;

    // ---- Value lists
    TChartValueList& XValues() { return *lists_[0]; }
    TChartValueList& YValues() { return *lists_[1]; }
    const TChartValueList& XValues() const { return *lists_[0]; }
    const TChartValueList& YValues() const { return *lists_[1]; }
    int ValueListCount() const { return static_cast<int>(lists_.size()); }
    TChartValueList& ValueList(int Index) const {
        return *lists_.at(static_cast<std::size_t>(Index));
    }
    // The list every point must have (its value) and the one that places
    // points along the other axis.
    TChartValueList& MandatoryValueList() const { return y_mandatory_ ? *lists_[1] : *lists_[0]; }
    TChartValueList& NotMandatoryValueList() const {
        return y_mandatory_ ? *lists_[0] : *lists_[1];
    }
    bool YMandatory() const { return y_mandatory_; }
    // The extra list (from the third on) whose name matches without case,
    // else the mandatory list.
    virtual TChartValueList& ValueListByName(const std::string& Name);

    // ---- Points
    int Count() const { return lists_[0]->Count(); }
    // Adds one point: X at its place by the X list's order, every other
    // list at the same index; AColor kept per point (clDefault: the series
    // colour), ALabel as its label. Returns the index, or -1 when OnBeforeAdd
    // refuses. Without memory nothing is added and every list keeps its
    // count.
    virtual int AddXY(double X, double Y, const std::string& ALabel = {},
                      TColor AColor = vcl::clDefault);
    // A value at the next position (the count) on the other axis.
    virtual int Add(double Value, const std::string& ALabel = {}, TColor AColor = vcl::clDefault);
    // A null point: NullValue with colour clNone.
    virtual int AddNull(const std::string& ALabel = {});
    virtual int AddNullXY(double X, double Y, const std::string& ALabel = {});
    // Copies the values of Source's point ValueIndex (X and Y exchanged when
    // the two series differ in YMandatory; extra lists Source lacks take 0).
    virtual int AddChartValue(TChartSeries& Source, int ValueIndex);
    // AddChartValue with the point's colour and label, then the usual news.
    virtual int AddValueFromSource(TChartSeries& Source, int ValueIndex);
    virtual void DeleteValueFromSource(TChartSeries& Source, int ValueIndex);
    // Raises ChartException for an index outside the points.
    virtual void Delete(int ValueIndex);
    // Quantity points from Start; a Quantity below 1, a negative Start or a
    // range past the last point fails an assertion. RemoveGap renumbers the
    // positioning list 0, 1, 2, ...
    virtual void DeleteRange(int Start, int Quantity, bool RemoveGap = false);
    // Every point goes; the colour, formats and update counter stay.
    virtual void Clear();
    virtual void ClearLists();
    // Refills the series from Source (through the function when there is one).
    virtual void AssignValues(TChartSeries& Source);
    // OnAfterAdd, the dependents, a repaint.
    virtual void NotifyNewValue(TChartSeries* Sender, int ValueIndex);
    // Tells the dependents of a change of the data (TSeriesDataEvent);
    // nothing while an update is in progress.
    void NotifyDependents(std::uint8_t Event, int ValueIndex) override;

    // A bulk change: no per-point news until the outer EndUpdate, which
    // refreshes the dependents and tells the chart's listeners once.
    void BeginUpdate() { ++update_count_; }
    void EndUpdate();
    int UpdateCount() const { return update_count_; }

    // Exchanges two points in every list, the colours and the labels.
    void SwapValueIndex(int A, int B) override;

    virtual double GetXValue(int ValueIndex) const { return XValues().Value(ValueIndex); }
    virtual double GetYValue(int ValueIndex) const { return YValues().Value(ValueIndex); }
    // The value of the mandatory list.
    virtual double GetMarkValue(int ValueIndex) const {
        return MandatoryValueList().Value(ValueIndex);
    }
    double MandatoryValue(int ValueIndex) const { return GetMarkValue(ValueIndex); }
    // The value given to points added by AddNull.
    double NullValue = 0;

    // ---- Colours
    // The series colour: the field, or the automatic colour while the field
    // is clDefault.
    TColor SeriesColor() const {
        return series_color_ == vcl::clDefault ? automatic_color_ : series_color_;
    }
    bool IsSeriesColorStored() const { return series_color_ != vcl::clDefault; }
    virtual void SetSeriesColor(TColor Value);
    // The chart gives an automatic series the colour it picked.
    void SetAutomaticColor(TColor Value);
    bool ColorEachPoint() const { return color_each_point_; }
    virtual void SetColorEachPoint(bool Value) { SetBooleanProperty(color_each_point_, Value); }
    // The point's own colour, else a palette colour by index when colouring
    // each point, else the series colour. clNone marks a null point.
    virtual TColor ValueColor(int ValueIndex) const;
    bool IsNull(int ValueIndex) const { return ValueColor(ValueIndex) == vcl::clNone; }
    // Whether points have colours of their own (a list as long as the points).
    bool HasPointColors() const { return colors_.has_value(); }

    // ---- Labels, formats
    TLabelsList& Labels() { return labels_; }
    const TLabelsList& Labels() const { return labels_; }
    const std::string& ValueFormat() const { return value_format_; }
    virtual void SetValueFormat(const std::string& Value) {
        SetStringProperty(value_format_, Value);
    }
    const std::string& PercentFormat() const { return percent_format_; }
    void SetPercentFormat(const std::string& Value) { SetStringProperty(percent_format_, Value); }
    bool IsValueFormatStored() const;
    bool IsPercentFormatStored() const;
    // The list whose texts label the X axis; a change refreshes the series.
    const std::string& XLabelsSource() const { return x_labels_source_; }
    void SetXLabelsSource(const std::string& Value);

    // ---- Sources and dependents
    // The series this one takes its data from, and those that take theirs
    // from this one. Neither list owns its series.
    const TCustomSeriesList& DataSources() const { return data_sources_; }
    const TCustomSeriesList& Dependents() const { return dependents_; }
    // Makes Source a data source of this series (and this a dependent of
    // it). A chain that would lead back to this series raises ChartException.
    void AddDataSource(TChartSeries& Source);
    void RemoveDataSource(TChartSeries& Source);
    // Which events of a source this series follows (TSeriesSourceEvent bits).
    std::uint8_t SourceEvents = sseDelete | sseModify | sseAdd | sseClear;
    TPlotFunction* Function() const { return function_.get(); }
    // Takes the function (none frees the one there is).
    virtual void SetFunction(std::unique_ptr<TPlotFunction> Value);

    TSeriesMarks& Marks() { return *marks_; }

    // The range of points inside the chart rectangle at the last paint.
    int FirstVisibleIndex = -1;
    int LastVisibleIndex = -1;

    // Joins a chart; the marks follow.
    void SetParentChart(TCustomAxisPanel* Value) override;

    // False cancels the add.
    std::function<bool(TChartSeries* Sender)> OnBeforeAdd;
    std::function<void(TChartSeries* Sender, int ValueIndex)> OnAfterAdd;
    vcl::TNotifyEvent OnClearValues;

    // ---- What the value lists ask of their series
    void AdoptValueList(std::unique_ptr<TChartValueList> List) override;
    void SetValueListFlag(bool& Variable, bool Value) override {
        SetBooleanProperty(Variable, Value);
    }
    // Asks the chart to refill the series from its sources.
    void CheckDataSource() override;

  protected:
    // Horizontal series keep their values in X.
    void SetYMandatory(bool Value) { y_mandatory_ = Value; }

  private:
    // The TempValue of every list goes in at the X list's ordered place;
    // on failure every list is back at its old count.
    int InsertValues();
    // The point's colour and label at Index; on failure the point is taken
    // out of every list again.
    void InsertColorAndLabel(int Index, TColor AColor, const std::string& ALabel);
    void RemoveValuesAt(int Index);

    std::vector<std::unique_ptr<TChartValueList>> lists_;
    bool y_mandatory_ = true;
    // Present once a point got a colour of its own; then as long as the points.
    std::optional<std::vector<TColor>> colors_;
    TLabelsList labels_;
    TColor series_color_ = vcl::clDefault;
    TColor automatic_color_ = vcl::clDefault;
    bool color_each_point_ = false;
    int update_count_ = 0;
    std::string value_format_;
    std::string percent_format_;
    std::string x_labels_source_;
    TCustomSeriesList data_sources_;
    TCustomSeriesList dependents_;
    std::unique_ptr<TPlotFunction, vcl::TComponentDeleter> function_;
    std::unique_ptr<TSeriesMarks> marks_;
};

}  // namespace chart::engine
