#pragma once
// TChartAxis: one axis of a chart. It keeps the range it shows (following
// the data or fixed), maps values to pixels and back, lays out its title,
// labels and ticks beside the chart rectangle, chooses the label increment
// and texts, and draws itself: title, labels, axis line, ticks, grid and
// minor marks. Every chart has six standard axes; custom axes are items of
// the chart's TChartCustomAxes.
//
// Pixel results are clamped to +-kPixelLimit whatever the value or range;
// a NaN value maps as minus infinity does.
#include <cstdint>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "chart/drawing/plot_font.h"
#include "chart/drawing/plot_pens.h"
#include "chart/engine/axis_parts.h"
#include "chart/engine/chart_series.h"
#include "chart/engine/pixel_math.h"
#include "chart/engine/plot_panel.h"

namespace chart::engine {

class TCustomAxisPanel;

enum TAxisLabelStyle : std::uint8_t { talAuto, talNone, talValue, talMark, talText };
enum TAxisLabelAlign : std::uint8_t { alDefault, alOpposite };

class TChartAxis;
using TAxisDrawLabelEvent = std::function<void(TChartAxis* Sender, int& X, int& Y, int& Z,
                                               std::string& Text, bool& DrawLabel)>;

// The 1-2-5 sequence: the next value after V (V > 0; anything else gives 1).
double NextNiceStep(double V);

// The linear value-to-pixel routine of an axis (normal or fast) as a value
// that a loop over many points keeps in registers; Pixel gives what the
// axis's own routine gives.
struct TAxisPixelMap {
    bool RangeIsZero = true;
    bool Fast = false;
    int CenterPixel = 0;
    // The pixel of Minimum, and pixels per unit in the direction pixels run
    // for growing values.
    int Origin = 0;
    double Minimum = 0;
    double Scale = 0;

    int Pixel(double Value) const {
        if (RangeIsZero) return CenterPixel;
        // NaN counts as minus infinity: the far low end.
        if (std::isnan(Value)) Value = -std::numeric_limits<double>::infinity();
        if (Fast) {
            // The offset rounded on its own, then added in 64 bits.
            const long long t = Scale == 0 ? 0 : RoundTo64((Value - Minimum) * Scale);
            return ClampPixel(Origin + t);
        }
        const double t = Scale == 0 ? 0 : (Value - Minimum) * Scale;
        return RoundPixel(Origin + t);
    }
};

class TChartAxis : public vcl::TPersistent {
  public:
    // A new axis of Chart, appended to its list of axes.
    explicit TChartAxis(TCustomAxisPanel& Chart);
    // Series using it as custom axis fall back to the bottom or left axis;
    // tools bound to it lose it; it leaves the chart's list.
    ~TChartAxis() override;

    TCustomAxisPanel* ParentChart() const { return chart_; }

    // ---- Range
    bool Automatic() const { return automatic_; }
    void SetAutomatic(bool Value);
    bool AutomaticMaximum() const { return automatic_maximum_; }
    void SetAutomaticMaximum(bool Value);
    bool AutomaticMinimum() const { return automatic_minimum_; }
    void SetAutomaticMinimum(bool Value);
    double Maximum() const { return maximum_; }
    // Raises AxisException below Minimum (unless the chart is loading).
    void SetMaximum(double Value);
    double Minimum() const { return minimum_; }
    void SetMinimum(double Value);
    int MaximumOffset() const { return maximum_offset_; }
    void SetMaximumOffset(int Value);
    int MinimumOffset() const { return minimum_offset_; }
    void SetMinimumOffset(int Value);
    bool MaximumRound() const { return maximum_round_; }
    void SetMaximumRound(bool Value);
    bool MinimumRound() const { return minimum_round_; }
    void SetMinimumRound(bool Value);
    double Increment() const { return increment_; }
    // Raises AxisException below 0 (and for NaN).
    void SetIncrement(double Value);
    bool Inverted() const { return inverted_; }
    virtual void SetInverted(bool Value);
    bool Horizontal() const { return horizontal_; }
    void SetHorizontal(bool Value);
    bool OtherSide() const { return other_side_; }
    void SetOtherSide(bool Value);
    bool Logarithmic() const { return logarithmic_; }
    void SetLogarithmic(bool Value);
    double LogarithmicBase() const { return logarithmic_base_; }
    void SetLogarithmicBase(double Value);
    double StartPosition() const { return start_position_; }
    void SetStartPosition(double Value);
    double EndPosition() const { return end_position_; }
    void SetEndPosition(double Value);
    double PositionPercent() const { return position_percent_; }
    void SetPositionPercent(double Value);
    TPlotUnits PositionUnits() const { return position_units_; }
    void SetPositionUnits(TPlotUnits Value);
    double ZPosition() const { return z_position_; }
    // Exactly 0 is kept as 0.01.
    void SetZPosition(double Value);
    bool Visible() const { return visible_; }
    void SetVisible(bool Value);
    int TitleSize() const { return title_size_; }
    void SetTitleSize(int Value);
    int LabelsSize() const { return labels_size_; }
    void SetLabelsSize(int Value);

    // ---- Labels
    TAxisLabelStyle LabelStyle() const { return label_style_; }
    void SetLabelStyle(TAxisLabelStyle Value);
    const std::string& AxisValuesFormat() const { return axis_values_format_; }
    void SetAxisValuesFormat(const std::string& Value);
    const std::string& DateTimeFormat() const { return date_time_format_; }
    void SetDateTimeFormat(const std::string& Value);
    bool ExactDateTime() const { return exact_date_time_; }
    void SetExactDateTime(bool Value);
    bool RoundFirstLabel() const { return round_first_label_; }
    void SetRoundFirstLabel(bool Value);
    // The Visible flag of the custom items' Format.
    bool Labels() const { return items_->Format().Visible(); }
    void SetLabels(bool Value) { items_->Format().SetVisible(Value); }
    // The font of the custom items' Format.
    chart::TPlotFont& LabelsFont() { return items_->Format().Font(); }
    int LabelsAngle() const { return labels_angle_; }
    // Stored modulo 360.
    void SetLabelsAngle(int Value);
    bool LabelsAlternate() const { return labels_alternate_; }
    void SetLabelsAlternate(bool Value);
    TAxisLabelAlign LabelsAlign() const { return labels_align_; }
    void SetLabelsAlign(TAxisLabelAlign Value);
    bool LabelsExponent() const { return labels_exponent_; }
    void SetLabelsExponent(bool Value);
    bool LabelsMultiLine() const { return labels_multi_line_; }
    void SetLabelsMultiLine(bool Value);
    bool LabelsOnAxis() const { return labels_on_axis_; }
    void SetLabelsOnAxis(bool Value);
    int LabelsSeparation() const { return labels_separation_; }
    // Raises AxisException below 0.
    void SetLabelsSeparation(int Value);
    bool TickOnLabelsOnly() const { return tick_on_labels_only_; }
    void SetTickOnLabelsOnly(bool Value);
    TAxisItems& Items() { return *items_; }

    // ---- Looks
    TChartAxisPen& Axis() { return *axis_pen_; }
    chart::TDarkGrayPen& Ticks() { return *ticks_; }
    chart::TDarkGrayPen& TicksInner() { return *ticks_inner_; }
    chart::TDarkGrayPen& MinorTicks() { return *minor_ticks_; }
    TAxisGridPen& Grid() { return *grid_; }
    chart::TChartHiddenPen& MinorGrid() { return *minor_grid_; }
    TChartAxisTitle& Title() { return *title_; }
    int TickLength() const { return tick_length_; }
    void SetTickLength(int Value);
    int TickInnerLength() const { return tick_inner_length_; }
    void SetTickInnerLength(int Value);
    int MinorTickLength() const { return minor_tick_length_; }
    void SetMinorTickLength(int Value);
    int MinorTickCount() const { return minor_tick_count_; }
    void SetMinorTickCount(int Value);
    bool GridCentered() const { return grid_->Centered(); }
    void SetGridCentered(bool Value) { grid_->SetCentered(Value); }
    TAxisDrawLabelEvent OnDrawLabel;
    // Called while the axis draws its lines, before any of them, with
    // TickPositions filled: fills between the grid lines go here.
    std::function<void(TChartAxis* Sender)> OnDrawGrids;

    // ---- State of the last layout and paint (recomputed, never stored)
    double InternalMinimum = 0;
    double InternalMaximum = 0;
    double InternalRange = 0;
    bool RangeIsZero = true;
    double AxisScale = 0;
    double LogMinimum = 0;
    double LogMaximum = 0;
    double LogRange = 0;
    double LogScale = 0;
    int StartPixel = 0;
    int EndPixel = 0;
    int AxisPixelSize = 0;
    int CenterPixel = 0;
    int AxisPosition = 0;
    int LabelsPosition = 0;
    int TitlePosition = 0;
    int DepthPixel = 0;
    int WallThickness = 0;
    bool ShowsDateTime = false;
    bool IsDepthAxis = false;
    // Whether the chart found the axis visible in its last layout.
    bool ShownInLayout = false;
    // Pixel positions of the ticks recorded while the axis was drawn last.
    std::vector<int> TickPositions;
    // Set by the wall drawing around a second drawing of the axis.
    bool HideBackGrid = false;
    bool HideSideGrid = false;
    // Series bound to the axis while text labels are made.
    TCustomSeriesList AxisSeries;

    // ---- Range and scale
    // The range shown: from the series when automatic, rounded to the
    // label increment when asked.
    void AdjustMaxMin();
    void CalcScale();
    // Fixes the range (swapped when reversed; at least 1e-10 wide).
    void SetMinMax(double AMin, double AMax);
    // Puts back a range saved before (undoing a zoom): stored as it is,
    // without checks; the chart repaints when a bound changes.
    void StoreMinMax(double AMin, double AMax);
    // Shifts the range; with CheckLimits only towards data beyond it.
    void Scroll(double Offset, bool CheckLimits);
    bool IsDateTimeAxis() const;
    // Index 6 or more in the chart's axes.
    bool IsCustom() const;

    // ---- Values and pixels
    int CalcXPosValue(double Value) const { return (this->*calc_x_)(Value); }
    int CalcYPosValue(double Value) const { return (this->*calc_y_)(Value); }
    int CalcPosValue(double Value) const { return (this->*calc_pos_)(Value); }
    // Whether the routines are the linear ones (not logarithmic, not depth).
    bool IsLinear() const { return !IsDepthAxis && !logarithmic_; }
    // The linear routine for X (or, AlongX false, for Y) as a value; for a
    // linear axis only.
    TAxisPixelMap PixelMap(bool AlongX) const;
    double CalcPosPoint(int Pixel) const;
    void SelectPosRoutines();
    // Pixel ends from the chart rectangle (depth: the chart depth).
    void CalcPositions();
    // Narrows the data range so it ends Margins' pixels inside the ends.
    void ApplyPixelMargins(const TRect& Margins);
    // Reserves room (title, labels, ticks) on the axis's side of R and
    // places them; without InflateChartRectangle only places them,
    // outward from R's side.
    void CalcRect(TRect& R, bool InflateChartRectangle);
    bool Clicked(int X, int Y);

    // ---- Increments and labels
    double IncrementForLabelCount(int MaxLabels);
    double DateTimeIncrementFor(int MaxLabels);
    double IncrementForLabelSize(int LabelSize);
    double CalcLabelIncrement();
    virtual std::string LabelValue(double Value);
    virtual TAxisLabelStyle CalcLabelStyle();
    TAxisLabelStyle EffectiveLabelStyle();
    int LabelExtentAlong(double Value);
    int MaxLabelsWidth();
    int TextSizeAcross(chart::TPlotFont& Font, int Angle, int FixedSize, const std::string& Text);
    int LabelsSizeAcross();

    // ---- Drawing
    void Draw(bool CalcPosAxis);
    void DrawAxisLabel(int X, int Y, int Angle, std::string Text, TPlotCustomShape* Format, int Z);
    void DrawTitle(int X, int Y);

    // Every setting of another axis (pens, title and items through theirs).
    void Assign(const vcl::TPersistent& Source) override;

  protected:
    // For the depth axes.
    TChartAxis(TCustomAxisPanel& Chart, bool Depth);
    // Stores and invalidates the chart.
    template <class T>
    void Store(T& field, T value);

  private:
    using TPosRoutine = int (TChartAxis::*)(double) const;
    TAxisPixelMap LinearMap(bool AlongX, bool Fast) const;
    int NormalX(double Value) const;
    int NormalY(double Value) const;
    int FastX(double Value) const;
    int FastY(double Value) const;
    int LogX(double Value) const;
    int LogY(double Value) const;
    int DepthPos(double Value) const;

    void Invalidate();
    // The position of R's side the axis sits on, with PositionPercent's
    // shift into the chart.
    int BasePosition(const TRect& R) const;
    int PositionShift(const TRect& R) const;
    int TicksSize() const;
    int DepthAxisY() const;
    // Chart values the increment and label loops read.
    bool HasSeriesWithFewPoints(int MaxPoints) const;
    double MeasuredLabelIncrement();
    int ValueLabelsWidth();
    // The label loops.
    void DrawValueLabels(double Increment, int Step);
    void DrawLinearLabels(double Increment, int Step);
    void DrawLogLabels();
    bool DrawEventLabels(double Increment, int Step);
    void DrawTextLabels(TAxisLabelStyle Style);
    void DrawDepthTextLabels();
    void DrawCustomLabels();
    void DrawValueLabel(double Value);
    void DrawLabelAt(int Pixel, double Value, const std::string& Text, TPlotCustomShape* Own);
    void AddTick(int Pixel, double Value);
    double StepDown(double Value, double Increment, int Step) const;
    // Drawing of the lines.
    void DrawLines();
    void DrawAxisLine();
    void DrawTick(int Pixel, int Offset, int Length);
    void DrawGridLine(int Pixel);
    void DrawMinorMarks(bool Ticks);
    void DrawMinorMark(int Pixel, bool Tick);
    void LabelExponent(int X, int Y, int Z, const std::string& Text);

    TCustomAxisPanel* chart_;
    TPosRoutine calc_x_ = &TChartAxis::NormalX;
    TPosRoutine calc_y_ = &TChartAxis::NormalY;
    TPosRoutine calc_pos_ = &TChartAxis::NormalY;

    bool automatic_ = true;
    bool automatic_maximum_ = true;
    bool automatic_minimum_ = true;
    double maximum_ = 0;
    double minimum_ = 0;
    int maximum_offset_ = 0;
    int minimum_offset_ = 0;
    bool maximum_round_ = false;
    bool minimum_round_ = false;
    double increment_ = 0;
    bool inverted_ = false;
    bool horizontal_ = false;
    bool other_side_ = false;
    bool logarithmic_ = false;
    double logarithmic_base_ = 10;
    double start_position_ = 0;
    double end_position_ = 100;
    double position_percent_ = 0;
    TPlotUnits position_units_ = muPercent;
    double z_position_ = 0;
    bool visible_ = true;
    int title_size_ = 0;
    int labels_size_ = 0;

    TAxisLabelStyle label_style_ = talAuto;
    std::string axis_values_format_;
    std::string date_time_format_;
    bool exact_date_time_ = true;
    bool round_first_label_ = true;
    int labels_angle_ = 0;
    bool labels_alternate_ = false;
    TAxisLabelAlign labels_align_ = alDefault;
    bool labels_exponent_ = false;
    bool labels_multi_line_ = false;
    bool labels_on_axis_ = true;
    int labels_separation_ = 10;
    bool tick_on_labels_only_ = true;

    int tick_length_ = 4;
    int tick_inner_length_ = 0;
    int minor_tick_length_ = 2;
    int minor_tick_count_ = 3;

    std::unique_ptr<TChartAxisTitle> title_;
    std::unique_ptr<chart::TDarkGrayPen> ticks_;
    std::unique_ptr<chart::TDarkGrayPen> minor_ticks_;
    std::unique_ptr<chart::TDarkGrayPen> ticks_inner_;
    std::unique_ptr<TAxisGridPen> grid_;
    std::unique_ptr<chart::TChartHiddenPen> minor_grid_;
    std::unique_ptr<TChartAxisPen> axis_pen_;
    std::unique_ptr<TAxisItems> items_;

    // Drawing state: values of the recorded ticks (log minor marks), the
    // alternation of labels and the width of the second row.
    std::vector<double> tick_values_;
    bool alternate_ = false;
    int alternate_width_ = -1;
};

// The axes along the depth of a 3D chart.
class TChartDepthAxis : public TChartAxis {
  public:
    explicit TChartDepthAxis(TCustomAxisPanel& Chart);
    // One label per series (text) unless series span a range of depths.
    TAxisLabelStyle CalcLabelStyle() override;
    // The chart's other depth axis follows.
    void SetInverted(bool Value) override;
};

// The chart's user axes, owned.
class TChartCustomAxes {
  public:
    explicit TChartCustomAxes(TCustomAxisPanel& Chart) : chart_(Chart) {}
    ~TChartCustomAxes();
    int Count() const { return static_cast<int>(items_.size()); }
    TChartAxis& Items(int Index) const { return *items_.at(static_cast<std::size_t>(Index)); }
    // A new axis, appended here and to the chart's axes.
    TChartAxis& Add();
    void Delete(int Index);
    void Clear();
    // As many axes as Source, each with Source's settings.
    void Assign(const TChartCustomAxes& Source);

  private:
    TCustomAxisPanel& chart_;
    std::vector<std::unique_ptr<TChartAxis>> items_;
};

}  // namespace chart::engine
