#pragma once
// TChartSeries: the base of every plotted series, as far as its points go:
// the value lists (X, Y and the extra lists of a series kind), per-point
// colours and labels, null points, the series colour, the update counter,
// and the series fed by this one (its dependents).
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "chart/engine/chart_element.h"
#include "chart/engine/chart_xy.h"
#include "chart/engine/plot_function.h"
#include "chart/engine/series_marks.h"
#include "chart/engine/series_pointer.h"
#include "chart/engine/value_list.h"
#include "platform/vcl/controls.h"

namespace chart::engine {

class TChartSeries;
class TChartAxis;
enum TChartSeriesToolEvent : std::uint8_t;

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
    // An empty label for each point of a batch at Places (final indexes,
    // ascending), the labels there moving along: the list as InsertLabel
    // with an empty text at each of them in turn would leave it (an empty
    // list stays empty). Reserve first takes the memory for it, or raises
    // std::bad_alloc with nothing changed; then Insert cannot fail.
    void ReserveEmptyLabels(std::span<const int> Places);
    void InsertEmptyLabels(std::span<const int> Places);

  private:
    // The list's length after empty labels at Places.
    std::size_t LengthAfter(std::span<const int> Places) const;

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

// What TChartSeries::AddXYs did with a batch.
struct TAddedPoints {
    // The points of the batch gone through from its front, added or
    // refused: all of them, unless something raised; those from here on
    // were not added.
    int Taken = 0;
    // The indexes where the added points now stand, ascending.
    std::vector<int> Places;
};

// Which events of a source series a dependent follows (bits of SourceEvents).
enum TSeriesSourceEvent : std::uint8_t {
    sseDelete = 1,
    sseModify = 2,
    sseAdd = 4,
    sseClear = 8,
};

// Which horizontal and vertical axis a series is drawn against.
enum THorizAxis : std::uint8_t { aTopAxis, aBottomAxis, aBothHorizAxis, aCustomHorizAxis };
enum TVertAxis : std::uint8_t { aLeftAxis, aRightAxis, aBothVertAxis, aCustomVertAxis };

// How a legend row of one point is composed.
enum TLegendTextStyle : std::uint8_t {
    ltsPlain,
    ltsLeftValue,
    ltsRightValue,
    ltsLeftPercent,
    ltsRightPercent,
    ltsXValue,
    ltsValue,
    ltsPercent,
    ltsXAndValue,
    ltsXAndPercent,
};

// A click on point ValueIndex of a series.
using TSeriesClick = std::function<void(TChartSeries* Sender, int ValueIndex,
                                        vcl::TMouseButton Button, vcl::TShiftState Shift, int X,
                                        int Y)>;

class TFiler;

// The components that feed a series, in order (the first is its
// DataSource). Not owned.
class TDataSourcesList {
  public:
    int Count() const { return static_cast<int>(items_.size()); }
    vcl::TComponent* Items(int Index) const { return items_.at(static_cast<std::size_t>(Index)); }
    int IndexOf(const vcl::TComponent* Source) const;
    // The entry when it is a series, else none.
    TChartSeries* Series(int Index) const;

  private:
    friend class TChartSeries;
    std::vector<vcl::TComponent*> items_;
};

class TChartSeries : public TCustomChartSeries, public TValueListOwner, public TPointerOwner {
  public:
    explicit TChartSeries(vcl::TComponent* AOwner);
    // Leaves its chart (also when deleted without Free), then its sources.
    ~TChartSeries() override;

    // ---- Virtual operations, in their fixed order (after the element's)
    // Copies the values of Source's point ValueIndex (X and Y exchanged when
    // the two series differ in YMandatory; extra lists Source lacks take 0).
    virtual int AddChartValue(TChartSeries& Source, int ValueIndex);  // 1
    // AddChartValue with the point's colour and label, then the usual news.
    virtual int AddValueFromSource(TChartSeries& Source, int ValueIndex);  // 2
    // Refills the series from Source (through the function when there is one).
    virtual void AssignValues(TChartSeries& Source);  // 3
    // The depth row: ZOrder when fixed, else 0 in 2D or the next row in 3D.
    virtual void CalcZOrder();  // 4
    // StartZ, EndZ and MiddleZ from the chart's series depth and the row.
    virtual void CalcDepthPositions();  // 5
    virtual void CalcXYPos(int ValueIndex, int& X, int& Y);  // 6
    virtual void ClearLists();  // 7
    // Names the series' gallery styles; "Normal" here.
    virtual void CreateSubGallery(const std::function<void(const std::string&)>& AddSubChart);  // 8
    virtual void DeleteValueFromSource(TChartSeries& Source, int ValueIndex);  // 9
    // Series tools hear event 4, then AfterDrawValues.
    virtual void DoAfterDrawValues();  // 10
    // Series tools hear event 1, then BeforeDrawValues.
    virtual void DoBeforeDrawValues();  // 11
    // DrawValue for every visible point, in the series' drawing order.
    virtual void DrawAllValues();  // 12
    // The legend symbol: Rect filled with the surface's brush.
    virtual void DrawLegendShape(int ValueIndex, const TRect& Rect);  // 13
    // One mark (the marks draw it at Position), and the marks of the
    // visible points that have a text, are not null and fall on DrawEvery.
    virtual void DrawMark(int ValueIndex, const std::string& Text, TSeriesMarkPosition* Position);  // 14
    virtual void DrawMarks();  // 15
    // Draws one point; nothing here: each kind of series draws its own.
    virtual void DrawValue(int) {}  // 16
    // The point's own colour, else a palette colour by index when colouring
    // each point, else the series colour. clNone marks a null point.
    virtual TColor ValueColor(int ValueIndex) const;  // 17
    virtual double GetXValue(int ValueIndex) const { return XValues().Value(ValueIndex); }  // 18
    virtual double GetYValue(int ValueIndex) const { return YValues().Value(ValueIndex); }  // 19
    // The point's pixel lies in the chart rectangle.
    virtual bool PointInChartRect(int ValueIndex);  // 20
    // OnAfterAdd, the dependents, a repaint.
    virtual void NotifyNewValue(TChartSeries* Sender, int ValueIndex);  // 21
    // Tells the dependents of a change of the data (TSeriesDataEvent);
    // nothing while an update is in progress.
    void NotifyDependents(std::uint8_t Event, int ValueIndex) override;  // 22
    // Another active series shares the depth row (with rows applied).
    virtual bool MoreSameZOrder();  // 23
    virtual void PrepareLegendCanvas(int, TColor&, vcl::TBrushStyle&) {}  // 24
    virtual void SetColorEachPoint(bool Value) { SetBooleanProperty(color_each_point_, Value); }  // 25
    virtual void SetSeriesColor(TColor Value);  // 26
    virtual void SetSubGallery(TChartSeries*, int) {}  // 27
    virtual void SetValueFormat(const std::string& Value) {  // 28
        SetStringProperty(value_format_, Value);
    }
    // X values for a horizontal axis, Y for a vertical one; none when the
    // series is not on the axis.
    virtual TChartValueList* ValueListOfAxis(TChartAxis& Axis);  // 29
    virtual bool HasClickEvents() const { return OnClick || OnDblClick; }  // 30
    // A value at the next position (the count) on the other axis.
    virtual int Add(double Value, const std::string& ALabel = {},  // 31
                    TColor AColor = vcl::clDefault);
    // A null point: NullValue with colour clNone.
    virtual int AddNull(const std::string& ALabel = {});  // 32
    virtual int AddNullXY(double X, double Y, const std::string& ALabel = {});  // 33
    // Adds one point: X at its place by the X list's order, every other
    // list at the same index; AColor kept per point (clDefault: the series
    // colour), ALabel as its label. Returns the index, or -1 when OnBeforeAdd
    // refuses. Without memory nothing is added and every list keeps its
    // count.
    virtual int AddXY(double X, double Y, const std::string& ALabel = {},  // 34
                      TColor AColor = vcl::clDefault);
    // False when the series uses no axes; else Axis is (or both is) its
    // resolved axis of that direction.
    virtual bool AssociatedToAxis(TChartAxis& Axis);  // 35
    // Every point goes; the colour, formats and update counter stay.
    virtual void Clear();  // 36
    virtual int CountLegendItems() { return Count(); }  // 37
    // Raises ChartException for an index outside the points.
    virtual void Delete(int ValueIndex);  // 38
    // Quantity points from Start; a Quantity below 1, a negative Start or a
    // range past the last point fails an assertion. RemoveGap renumbers the
    // positioning list 0, 1, 2, ...
    virtual void DeleteRange(int Start, int Quantity, bool RemoveGap = false);  // 39
    virtual int LegendToValueIndex(int LegendIndex) { return LegendIndex; }  // 40
    virtual TColor LegendItemColor(int LegendIndex) { return ValueColor(LegendIndex); }  // 41
    // The text of a legend row: the point's label, alone or with its value,
    // percent or X text by Style (columns split by character 6).
    virtual void LegendString(int LegendIndex, TLegendTextStyle Style, std::string& Text);  // 42
    // Extremes of the finite values of X and Y (NaN when there is none);
    // the Z pair is the depth row.
    virtual double MaxXValue();  // 43
    virtual double MaxYValue();  // 44
    virtual double MaxZValue();  // 45
    virtual double MinXValue();  // 46
    virtual double MinYValue();  // 47
    virtual double MinZValue();  // 48
    virtual int CalcXPos(int ValueIndex);  // 49
    virtual int CalcYPos(int ValueIndex);  // 50
    // The first and last point inside the chart rectangle along the axis
    // that positions points (found by binary search).
    virtual void CalcFirstLastVisibleIndex();  // 51
    // The extra list (from the third on) whose name matches without case,
    // else the mandatory list.
    virtual TChartValueList& ValueListByName(const std::string& Name);  // 52
    // The point under the pixel; none (-1) here.
    virtual int Clicked(int, int) { return -1; }  // 53
    // The value of the mandatory list.
    virtual double MandatoryValue(int ValueIndex) const { return GetMarkValue(ValueIndex); }  // 54
    virtual double GetMarkValue(int ValueIndex) const {  // 55
        return MandatoryValueList().Value(ValueIndex);
    }
    // Points in increasing index order, unless the axis that positions them
    // is inverted (or, for a vertical series, the view is seen from behind).
    virtual bool DrawValuesForward();  // 56
    virtual bool DrawSeriesForward(int ValueIndex);  // 57
    // The legend symbol of point ValueIndex (-1: the series as a whole).
    virtual void DrawLegend(int ValueIndex, const TRect& Rect);  // 58
    virtual bool UseAxis() { return true; }  // 59
    // Takes the function (none frees the one there is): it fills the
    // series from its sources from now on.
    virtual void SetFunction(std::unique_ptr<TPlotFunction> Value);  // 60

    // ---- Points in a batch
    // Adds Points, taken in their order, each where AddXY (X, Y) with no
    // label and the automatic colour would put it had they come one by one
    // (after points of equal X, and among the batch in their order), as
    // one bulk change (BeginUpdate ... EndUpdate). OnBeforeAdd is asked for
    // every point first, in order; a point it refuses is left out. When the
    // part of the line the batch lands in is in order, the batch is merged
    // into it in one pass: the cost is that part plus the batch, not their
    // product. Every list, the colours and the labels take their entries
    // at the same places. Result tells what was done, also when an
    // exception passes on: OnBeforeAdd raising adds the points before it;
    // no memory adds nothing.
    void AddXYs(std::span<const TChartXY> Points, TAddedPoints& Result);

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

    // ---- Points
    int Count() const { return lists_[0]->Count(); }
    // A bulk change: no per-point news until the outer EndUpdate, which
    // refreshes the dependents and tells the chart's listeners once.
    void BeginUpdate() { ++update_count_; }
    void EndUpdate();
    int UpdateCount() const { return update_count_; }
    // Exchanges two points in every list, the colours and the labels.
    void SwapValueIndex(int A, int B) override;
    // The value given to points added by AddNull.
    double NullValue = 0;

    // ---- Colours
    // The series colour: the field, or the automatic colour while the field
    // is clDefault.
    TColor SeriesColor() const {
        return series_color_ == vcl::clDefault ? automatic_color_ : series_color_;
    }
    bool IsSeriesColorStored() const { return series_color_ != vcl::clDefault; }
    // The chart gives an automatic series the colour it picked.
    void SetAutomaticColor(TColor Value);
    // The automatic colour is none until the chart gives one again.
    void ForgetAutomaticColor() { automatic_color_ = vcl::clDefault; }
    bool ColorEachPoint() const { return color_each_point_; }
    bool IsNull(int ValueIndex) const { return ValueColor(ValueIndex) == vcl::clNone; }
    // Whether points have colours of their own (a list as long as the points).
    bool HasPointColors() const { return colors_.has_value(); }

    // ---- Labels, formats
    TLabelsList& Labels() { return labels_; }
    const TLabelsList& Labels() const { return labels_; }
    const std::string& ValueFormat() const { return value_format_; }
    const std::string& PercentFormat() const { return percent_format_; }
    void SetPercentFormat(const std::string& Value) { SetStringProperty(percent_format_, Value); }
    bool IsValueFormatStored() const;
    bool IsPercentFormatStored() const;
    // The list whose texts label the X axis; a change refreshes the series.
    const std::string& XLabelsSource() const { return x_labels_source_; }
    void SetXLabelsSource(const std::string& Value);

    // ---- Sources, dependents and the function
    // The components that feed this series (other series, series sources)
    // and the series fed by this one. Neither list owns what it lists.
    const TDataSourcesList& DataSources() const { return data_sources_; }
    const TCustomSeriesList& Dependents() const { return dependents_; }
    // The first source, none without.
    vcl::TComponent* DataSource() const;
    // Feeds the series from Value in place of its sources (beside them
    // while the series is being read): refused with ChartException when the
    // chart (or without one the series' own rule) does not accept it, or
    // for a chain of series that would lead back here. None detaches the
    // first source, and with it all.
    void SetDataSource(vcl::TComponent* Value);
    // Adds Source beside the others (once): a series gets this one among
    // its dependents; a series source feeding another series moves here.
    // A chain of series that would lead back here raises ChartException.
    void AddDataSource(vcl::TComponent& Source);
    // Detaches Source; the first one takes every source with it (and the
    // points, unless they are the series' own).
    void RemoveDataSource(vcl::TComponent& Source);
    // The series' own rule for a source: another series that the function
    // (when there is one) accepts.
    virtual bool IsValidSource(vcl::TComponent& Source);
    // Which events of a source this series follows (TSeriesSourceEvent bits).
    std::uint8_t SourceEvents = sseDelete | sseModify | sseAdd | sseClear;
    TPlotFunction* Function() const { return function_.get(); }
    // Gives the function up without freeing it (it moves to another series).
    std::unique_ptr<TPlotFunction> ReleaseFunction();
    // Set by default: a function over all points adds one point (else a
    // level line at both ends of the X range).
    bool FunctionSinglePoint = true;

    // ---- Storage in forms
    // The points were read from the stored "Data"; only such points (and
    // those forced) are stored again.
    bool HasOwnData() const { return own_data_; }
    // X values may be stored (when they are not 0, 1, 2, ...).
    bool StoreXValues = true;
    // Never set inside the engine: store "Data" always, or never.
    bool ForceSaveData = false;
    bool DontSaveData = false;
    // Never set inside the engine: FillSampleValues(0) takes this many
    // points when above 0.
    int PreferredSampleCount = 0;
    // The series' extra stream properties: "Identifier" and "Style",
    // "DataSources" (when more than one), "CustomHorizAxis" and
    // "CustomVertAxis" (when bound), the marks' as "Marks.", "Data" (the
    // points, when they are the series' own).
    void DefineProperties(TFiler& Filer) override;
    // The points as the "Data" block, and read back from one: a block that
    // is short, negative or inconsistent raises rtl::EReadError and the
    // series keeps its points.
    void WriteData(vcl::TStream& Stream);
    void ReadData(vcl::TStream& Stream);
    // Reading: set while the series' properties are read; Loaded ends it
    // and binds the sources read by name.
    void SetLoading(bool Value);
    bool Loading() const { return (ComponentState() & vcl::csLoading) != 0; }
    virtual void Loaded();

    // ---- Copies and sample points
    // The series' settings, its function (when it has none), and its points
    // or its links to sources.
    void Assign(const TCustomChartElement& Source) override;
    // Random points for previews (never stored): NumValues, 0 for the
    // preferred or default count; below 0 raises ChartException.
    void FillSampleValues(int NumValues = 0);
    virtual void AddSampleValues(int NumValues, bool OnlyMandatory);
    // The class's number of sample points.
    virtual int NumSampleValues() const { return 25; }

    TSeriesMarks& Marks() { return *marks_; }
    // The text of point ValueIndex's mark: its item's own text, else by the
    // marks' Style; then OnGetMarkText.
    virtual std::string GetMarkText(int ValueIndex);
    TSeriesMarkTextEvent OnGetMarkText;
    // The widest mark text of the points whose box is visible.
    int MaxMarkWidth();
    // The depth row (pointers and callouts stand in it) and the chart's
    // drawing offset (none).
    TPointerDepth PointerDepth() const override { return {StartZ, MiddleZ, EndZ}; }
    TPoint DrawingOffset() const override { return {0, 0}; }
    // The component name, else "Series" and the 1-based place in the chart.
    std::string NameOrNumber() const;

    // ---- Axes
    THorizAxis HorizAxis() const { return horiz_axis_; }
    // A choice other than the custom one drops the custom axis (unless the
    // form is loading); the axes are resolved again and the series repaints.
    void SetHorizAxis(THorizAxis Value);
    TVertAxis VertAxis() const { return vert_axis_; }
    void SetVertAxis(TVertAxis Value);
    TChartAxis* CustomHorizAxis() const { return custom_horiz_axis_; }
    // An axis selects aCustomHorizAxis, none aBottomAxis.
    void SetCustomHorizAxis(TChartAxis* Value);
    TChartAxis* CustomVertAxis() const { return custom_vert_axis_; }
    void SetCustomVertAxis(TChartAxis* Value);
    // The axes the series is drawn against (none without a chart).
    TChartAxis* GetHorizAxis() const { return horiz_axis_object_; }
    TChartAxis* GetVertAxis() const { return vert_axis_object_; }
    // Resolves the axis choices against the chart.
    void RecalcGetAxis();
    // A value through the horizontal or vertical axis's mapping.
    int CalcXPosValue(double Value);
    int CalcYPosValue(double Value);

    // ---- Drawing frame
    // The range of points inside the chart rectangle at the last paint.
    int FirstVisibleIndex = -1;
    int LastVisibleIndex = -1;
    // Compute the visible range from the axes (else every point is visible).
    bool CalcVisiblePoints = true;
    // The last visible point is the first one at or past the axis maximum
    // (a line to it is drawn and clipped), not the last one before it.
    bool KeepPointAfterLast = false;
    // The points of the chart's current page (-1, -1 without points).
    void CalcFirstLastPage(int& First, int& Last);
    // ZOrder when fixed (not -1), else the assigned row.
    int ZOrder() const { return z_order_; }
    void SetZOrder(int Value) { SetIntegerProperty(z_order_, Value); }
    int DepthRow() const { return z_order_ != -1 ? z_order_ : depth_row_; }
    // Set by the chart after the Z-order pass.
    int InternalDepthIndex = 0;
    // Pixels of depth; -1: the chart's series depth.
    int Depth() const { return depth_; }
    void SetDepth(int Value) { SetIntegerProperty(depth_, Value); }
    int StartZ = 0;
    int MiddleZ = 0;
    int EndZ = 0;
    // Never set inside the engine: a series that never shares a depth row.
    bool ExcludeFromZOrderSharing = false;
    // Whether this is the first active series of its depth row.
    bool FirstInZOrder();

    // ---- Mouse
    vcl::TCursor Cursor = vcl::TCursor::crDefault;
    // On a mouse move over the chart: sets the chart's cursor over a point
    // and fires OnMouseEnter / OnMouseLeave. Whether a point is under it.
    bool CheckMouse(int X, int Y);
    bool MouseInside() const { return mouse_inside_; }

    // Joins a chart (through the chart's series list); the marks follow.
    void SetParentChart(TCustomAxisPanel* Value) override;
    // What the chart runs when the series joins and leaves it.
    void Added();
    void Removed();

    // False cancels the add.
    std::function<bool(TChartSeries* Sender)> OnBeforeAdd;
    std::function<void(TChartSeries* Sender, int ValueIndex)> OnAfterAdd;
    vcl::TNotifyEvent OnClearValues;
    TSeriesClick OnClick;
    TSeriesClick OnDblClick;
    vcl::TNotifyEvent OnMouseEnter;
    vcl::TNotifyEvent OnMouseLeave;
    vcl::TNotifyEvent BeforeDrawValues;
    vcl::TNotifyEvent AfterDrawValues;

    // ---- What the value lists ask of their series
    void AdoptValueList(std::unique_ptr<TChartValueList> List) override;
    void SetValueListFlag(bool& Variable, bool Value) override {
        SetBooleanProperty(Variable, Value);
    }
    // Asks the chart to refill the series from its sources.
    void CheckDataSource() override;

  protected:
    // A source, or the function, that goes away is forgotten.
    void Notification(vcl::TComponent* AComponent, vcl::TOperation Operation) override;
    // Horizontal series keep their values in X.
    void SetYMandatory(bool Value) { y_mandatory_ = Value; }

  private:
    // Forgets every source (a series source's free notification goes too)
    // and, unless they are the series' own, the points.
    void ClearDataSources();
    // The TempValue of every list goes in at the X list's ordered place;
    // on failure every list is back at its old count.
    int InsertValues();
    // The point's colour and label at Index; on failure the point is taken
    // out of every list again.
    void InsertColorAndLabel(int Index, TColor AColor, const std::string& ALabel);
    void RemoveValuesAt(int Index);
    // The accepted points of a batch (indexes into Points) into every list,
    // colours and labels; Places gets where they stand, ascending.
    void PlaceBatch(std::span<const TChartXY> Points, const std::vector<int>& Accepted,
                    std::vector<int>& Places);
    // The same one point at a time, as AddXY places them: for lists whose
    // part that the batch lands in is out of order, or batches with X that
    // is not a number, where a merge could place them elsewhere.
    void PlaceOneByOne(std::span<const TChartXY> Points, const std::vector<int>& Accepted,
                       std::vector<int>& Places);
    // Tells the series tools of the chart.
    void SeriesToolsEvent(TChartSeriesToolEvent Event);
    // Value, percent and X texts of a legend row.
    std::string LegendValueText(double Value);
    std::string LegendPercentText(double Value);
    std::string LegendXText(int ValueIndex);

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
    TDataSourcesList data_sources_;
    TCustomSeriesList dependents_;
    bool own_data_ = false;
    // Source names read from a stream, bound when loading ends.
    std::vector<std::string> data_source_names_;
    // Custom axes read from a stream by index, bound when loading ends.
    int custom_horiz_axis_index_ = -1;
    int custom_vert_axis_index_ = -1;
    std::unique_ptr<TPlotFunction, vcl::TComponentDeleter> function_;
    std::unique_ptr<TSeriesMarks> marks_;

    THorizAxis horiz_axis_ = aBottomAxis;
    TVertAxis vert_axis_ = aLeftAxis;
    TChartAxis* custom_horiz_axis_ = nullptr;
    TChartAxis* custom_vert_axis_ = nullptr;
    TChartAxis* horiz_axis_object_ = nullptr;
    TChartAxis* vert_axis_object_ = nullptr;
    int z_order_ = -1;
    int depth_row_ = 0;
    int depth_ = -1;
    bool mouse_inside_ = false;
};

}  // namespace chart::engine
