// The axis object: its settings, the range it shows and the rules for it,
// the scale, the value-to-pixel routines and the way back, and the layout
// of its title, labels and ticks beside the chart rectangle.
#include <algorithm>
#include <cmath>
#include <limits>

#include "chart/drawing/plot_const.h"
#include "chart/engine/axis_panel.h"
#include "chart/engine/chart_axis.h"
#include "chart/engine/chart_exceptions.h"
#include "chart/engine/panel_routines.h"

namespace chart::engine {

namespace {

constexpr double kNegInfinity = -std::numeric_limits<double>::infinity();

// Moves the side of R the axis sits on inward by N pixels.
void ShrinkSide(TRect& R, bool horizontal, bool otherSide, long long n) {
    if (horizontal) {
        if (otherSide)
            R.Top = Clamp32(R.Top + n);
        else
            R.Bottom = Clamp32(R.Bottom - n);
    } else {
        if (otherSide)
            R.Right = Clamp32(R.Right - n);
        else
            R.Left = Clamp32(R.Left + n);
    }
}

}  // namespace

// ---- Life

TChartAxis::TChartAxis(TCustomAxisPanel& Chart) : TChartAxis(Chart, false) {}

TChartAxis::TChartAxis(TCustomAxisPanel& Chart, bool Depth)
    : IsDepthAxis(Depth), chart_(&Chart), axis_values_format_(PlotMsg_DefValueFormat) {
    const chart::TNotifyEvent changed = [this](vcl::TPersistent*) { Invalidate(); };
    title_ = std::make_unique<TChartAxisTitle>(&Chart);
    ticks_ = std::make_unique<chart::TDarkGrayPen>(changed);
    minor_ticks_ = std::make_unique<chart::TDarkGrayPen>(changed);
    ticks_inner_ = std::make_unique<chart::TDarkGrayPen>(changed);
    grid_ = std::make_unique<TAxisGridPen>(changed);
    minor_grid_ = std::make_unique<chart::TChartHiddenPen>(changed);
    axis_pen_ = std::make_unique<TChartAxisPen>(changed);
    items_ = std::make_unique<TAxisItems>(*this);
    SelectPosRoutines();
    Chart.Axes().Add(this);
}

TChartAxis::~TChartAxis() {
    TCustomAxisPanel& chart = *chart_;
    for (int i = 0; i < chart.SeriesCount(); ++i) {
        TChartSeries& s = *chart.GetSeries(i);
        if (s.CustomHorizAxis() == this) s.SetCustomHorizAxis(nullptr);
        if (s.CustomVertAxis() == this) s.SetCustomVertAxis(nullptr);
    }
    // A tool bound to the axis would otherwise keep a dangling axis.
    for (int i = 0; i < chart.Tools().Count(); ++i)
        if (auto* tool = dynamic_cast<TPlotCustomToolAxis*>(chart.Tools().Items(i));
            tool && tool->Axis() == this)
            tool->ForgetAxis();
    chart.Axes().Remove(this);
}

void TChartAxis::Invalidate() { chart_->Invalidate(); }

template <class T>
void TChartAxis::Store(T& field, T value) {
    if (field == value) return;
    field = value;
    Invalidate();
}

// ---- Range settings

void TChartAxis::SetAutomatic(bool Value) {
    Store(automatic_, Value);
    if (chart_->ComponentState() & vcl::csLoading) return;
    Store(automatic_minimum_, Value);
    Store(automatic_maximum_, Value);
}

void TChartAxis::SetAutomaticMaximum(bool Value) {
    Store(automatic_maximum_, Value);
    if (!Value)
        Store(automatic_, false);
    else if (automatic_minimum_)
        Store(automatic_, true);
}

void TChartAxis::SetAutomaticMinimum(bool Value) {
    Store(automatic_minimum_, Value);
    if (!Value)
        Store(automatic_, false);
    else if (automatic_maximum_)
        Store(automatic_, true);
}

void TChartAxis::SetMaximum(double Value) {
    const bool loading = chart_->ComponentState() & vcl::csLoading;
    if (std::isnan(Value) || (!loading && Value < minimum_)) throw AxisException(PlotMsg_AxisMaxMin);
    Store(maximum_, Value);
}

void TChartAxis::SetMinimum(double Value) {
    const bool loading = chart_->ComponentState() & vcl::csLoading;
    if (std::isnan(Value) || (!loading && Value > maximum_)) throw AxisException(PlotMsg_AxisMinMax);
    Store(minimum_, Value);
}

void TChartAxis::SetMaximumOffset(int Value) { Store(maximum_offset_, Value); }
void TChartAxis::SetMinimumOffset(int Value) { Store(minimum_offset_, Value); }
void TChartAxis::SetMaximumRound(bool Value) { Store(maximum_round_, Value); }
void TChartAxis::SetMinimumRound(bool Value) { Store(minimum_round_, Value); }

void TChartAxis::SetIncrement(double Value) {
    if (!(Value >= 0)) throw AxisException(PlotMsg_AxisIncrementNeg);
    Store(increment_, Value);
}

void TChartAxis::SetInverted(bool Value) { Store(inverted_, Value); }

void TChartAxis::SetHorizontal(bool Value) {
    Store(horizontal_, Value);
    SelectPosRoutines();
}

void TChartAxis::SetOtherSide(bool Value) { Store(other_side_, Value); }

void TChartAxis::SetLogarithmic(bool Value) {
    if (Value && !logarithmic_) {
        if (IsDateTimeAxis()) throw AxisException(PlotMsg_AxisLogDateTime);
        AdjustMaxMin();
        if (InternalMinimum < 0 || InternalMaximum < 0)
            throw AxisException(PlotMsg_AxisLogNotPositive);
    }
    Store(logarithmic_, Value);
    AdjustMaxMin();
    SelectPosRoutines();
}

void TChartAxis::SetLogarithmicBase(double Value) {
    if (!(Value > 0) || Value == 1 || !std::isfinite(Value))
        throw AxisException(PlotMsg_AxisLogBase);
    Store(logarithmic_base_, Value);
}

void TChartAxis::SetStartPosition(double Value) { Store(start_position_, Value); }
void TChartAxis::SetEndPosition(double Value) { Store(end_position_, Value); }
void TChartAxis::SetPositionPercent(double Value) { Store(position_percent_, Value); }
void TChartAxis::SetPositionUnits(TPlotUnits Value) { Store(position_units_, Value); }
void TChartAxis::SetZPosition(double Value) { Store(z_position_, Value == 0 ? 0.01 : Value); }
void TChartAxis::SetVisible(bool Value) { Store(visible_, Value); }
void TChartAxis::SetTitleSize(int Value) { Store(title_size_, Value); }
void TChartAxis::SetLabelsSize(int Value) { Store(labels_size_, Value); }

// ---- Label and look settings

void TChartAxis::SetLabelStyle(TAxisLabelStyle Value) { Store(label_style_, Value); }
void TChartAxis::SetAxisValuesFormat(const std::string& Value) { Store(axis_values_format_, Value); }
void TChartAxis::SetDateTimeFormat(const std::string& Value) { Store(date_time_format_, Value); }
void TChartAxis::SetExactDateTime(bool Value) { Store(exact_date_time_, Value); }
void TChartAxis::SetRoundFirstLabel(bool Value) { Store(round_first_label_, Value); }
void TChartAxis::SetLabelsAngle(int Value) {
    Store(labels_angle_, static_cast<int>(((static_cast<long long>(Value) % 360) + 360) % 360));
}
void TChartAxis::SetLabelsAlternate(bool Value) { Store(labels_alternate_, Value); }
void TChartAxis::SetLabelsAlign(TAxisLabelAlign Value) { Store(labels_align_, Value); }
void TChartAxis::SetLabelsExponent(bool Value) { Store(labels_exponent_, Value); }
void TChartAxis::SetLabelsMultiLine(bool Value) { Store(labels_multi_line_, Value); }
void TChartAxis::SetLabelsOnAxis(bool Value) { Store(labels_on_axis_, Value); }
void TChartAxis::SetLabelsSeparation(int Value) {
    if (Value < 0) throw AxisException(PlotMsg_AxisLabelSep);
    Store(labels_separation_, Value);
}
void TChartAxis::SetTickOnLabelsOnly(bool Value) { Store(tick_on_labels_only_, Value); }
void TChartAxis::SetTickLength(int Value) { Store(tick_length_, Value); }
void TChartAxis::SetTickInnerLength(int Value) { Store(tick_inner_length_, Value); }
void TChartAxis::SetMinorTickLength(int Value) { Store(minor_tick_length_, Value); }
void TChartAxis::SetMinorTickCount(int Value) { Store(minor_tick_count_, Value); }

bool TChartAxis::IsCustom() const { return chart_->Axes().IndexOf(this) >= 6; }

bool TChartAxis::IsDateTimeAxis() const {
    auto* self = const_cast<TChartAxis*>(this);
    for (int i = 0; i < chart_->SeriesCount(); ++i) {
        TChartSeries& s = *chart_->GetSeries(i);
        if (!s.Active()) continue;
        if (TChartValueList* list = s.ValueListOfAxis(*self)) return list->DateTime();
    }
    return false;
}

// ---- Range

void TChartAxis::AdjustMaxMin() {
    if (automatic_ || automatic_maximum_) maximum_ = chart_->InternalMinMax(*this, false, horizontal_);
    if (automatic_ || automatic_minimum_) minimum_ = chart_->InternalMinMax(*this, true, horizontal_);
    InternalMaximum = maximum_;
    InternalMinimum = minimum_;
    CalcScale();
    if (AxisPixelSize == 0 || RangeIsZero) return;
    bool rounded = false;
    double inc = 0;
    bool haveIncrement = false;
    // Rounded in double: on a date-time axis with a step of a second the
    // bound over the step is far beyond any 32-bit integer.
    if (maximum_round_ && (automatic_ || automatic_maximum_)) {
        inc = CalcLabelIncrement();
        haveIncrement = true;
        if (inc != 0 && std::isfinite(inc)) {
            const double v = std::ceil(InternalMaximum / inc) * inc;
            if (std::isfinite(v)) InternalMaximum = v, rounded = true;
        }
    }
    if (minimum_round_ && (automatic_ || automatic_minimum_)) {
        if (!haveIncrement) inc = CalcLabelIncrement();
        if (inc != 0 && std::isfinite(inc)) {
            const double v = std::floor(InternalMinimum / inc) * inc;
            if (std::isfinite(v)) InternalMinimum = v, rounded = true;
        }
    }
    if (rounded) CalcScale();
}

void TChartAxis::CalcScale() {
    InternalRange = InternalMaximum - InternalMinimum;
    RangeIsZero = InternalRange == 0;
    AxisScale = RangeIsZero ? 0 : AxisPixelSize / InternalRange;
    if (logarithmic_) {
        LogMinimum = InternalMinimum > 0 ? std::log(InternalMinimum) : 0;
        LogMaximum = InternalMaximum > 0 ? std::log(InternalMaximum) : 0;
        LogRange = LogMaximum - LogMinimum;
        LogScale = LogRange == 0 ? 0 : AxisPixelSize / LogRange;
    }
    const double depth = IsDepthAxis ? chart_->ChartHeight : chart_->Width3D;
    DepthPixel = RoundTo32(depth * z_position_ * 0.01);
}

void TChartAxis::SetMinMax(double AMin, double AMax) {
    automatic_ = automatic_maximum_ = automatic_minimum_ = false;
    if (AMin > AMax) std::swap(AMin, AMax);
    Store(minimum_, AMin);
    Store(maximum_, AMax);
    if (maximum_ - minimum_ < 1e-10) Store(maximum_, minimum_ + 1e-10);
}

void TChartAxis::StoreMinMax(double AMin, double AMax) {
    Store(minimum_, AMin);
    Store(maximum_, AMax);
}

void TChartAxis::Scroll(double Offset, bool CheckLimits) {
    if (Offset == 0 || std::isnan(Offset)) return;
    if (CheckLimits) {
        const bool up = Offset > 0
                            ? chart_->InternalMinMax(*this, false, horizontal_) > maximum_
                            : chart_->InternalMinMax(*this, true, horizontal_) < minimum_;
        if (!up) return;
    }
    automatic_ = automatic_maximum_ = automatic_minimum_ = false;
    maximum_ += Offset;
    minimum_ += Offset;
    Invalidate();
}

// ---- Values to pixels

void TChartAxis::SelectPosRoutines() {
    if (IsDepthAxis) {
        calc_x_ = calc_y_ = &TChartAxis::DepthPos;
    } else if (logarithmic_) {
        calc_x_ = &TChartAxis::LogX;
        calc_y_ = &TChartAxis::LogY;
    } else if (chart_->Axes().FastCalc()) {
        calc_x_ = &TChartAxis::FastX;
        calc_y_ = &TChartAxis::FastY;
    } else {
        calc_x_ = &TChartAxis::NormalX;
        calc_y_ = &TChartAxis::NormalY;
    }
    calc_pos_ = horizontal_ ? calc_x_ : calc_y_;
}

TAxisPixelMap TChartAxis::PixelMap(bool AlongX) const {
    return LinearMap(AlongX, calc_x_ == &TChartAxis::FastX);
}

TAxisPixelMap TChartAxis::LinearMap(bool AlongX, bool Fast) const {
    TAxisPixelMap map;
    map.RangeIsZero = RangeIsZero;
    map.Fast = Fast;
    map.CenterPixel = CenterPixel;
    map.Minimum = InternalMinimum;
    // X runs right from the start pixel, Y up from the end pixel; inverted
    // axes the other way.
    const bool fromStart = AlongX != inverted_;
    map.Origin = fromStart ? StartPixel : EndPixel;
    map.Scale = AxisScale == 0 ? 0 : (fromStart ? AxisScale : -AxisScale);
    return map;
}

// The normal and fast routines are the pixel map's; NaN counts as minus
// infinity in every routine: the far low end.

int TChartAxis::NormalX(double Value) const { return LinearMap(true, false).Pixel(Value); }
int TChartAxis::NormalY(double Value) const { return LinearMap(false, false).Pixel(Value); }
int TChartAxis::FastX(double Value) const { return LinearMap(true, true).Pixel(Value); }
int TChartAxis::FastY(double Value) const { return LinearMap(false, true).Pixel(Value); }

int TChartAxis::LogX(double Value) const {
    if (LogRange == 0) return CenterPixel;
    if (!(Value > 0)) return inverted_ ? EndPixel : StartPixel;
    const double t = inverted_ ? LogMaximum - std::log(Value) : std::log(Value) - LogMinimum;
    return PixelPlus(StartPixel, RoundTo64(t * LogScale));
}

int TChartAxis::LogY(double Value) const {
    if (LogRange == 0) return CenterPixel;
    if (!(Value > 0)) return inverted_ ? StartPixel : EndPixel;
    const double t = inverted_ ? LogMaximum - std::log(Value) : std::log(Value) - LogMinimum;
    return PixelPlus(EndPixel, -RoundTo64(t * LogScale));
}

int TChartAxis::DepthPos(double Value) const {
    if (RangeIsZero) return CenterPixel;
    if (std::isnan(Value)) Value = kNegInfinity;
    const double d = inverted_ ? InternalMaximum - Value : Value - InternalMinimum;
    return ClampPixel(AxisScale == 0 ? 0 : RoundTo64(d * AxisScale));
}

double TChartAxis::CalcPosPoint(int Pixel) const {
    if (logarithmic_) {
        const bool minAtStart = horizontal_ != inverted_;
        if (Pixel == StartPixel) return minAtStart ? InternalMinimum : InternalMaximum;
        if (Pixel == EndPixel) return minAtStart ? InternalMaximum : InternalMinimum;
        if (LogRange == 0 || AxisPixelSize == 0) return InternalMinimum;
        const double d =
            (inverted_ ? static_cast<double>(EndPixel) - Pixel : static_cast<double>(Pixel) - StartPixel) *
            LogRange / AxisPixelSize;
        return horizontal_ ? std::exp(LogMinimum + d) : std::exp(LogMaximum - d);
    }
    if (AxisPixelSize < 1) return 0;
    double d = inverted_ ? static_cast<double>(EndPixel) - Pixel : static_cast<double>(Pixel) - StartPixel;
    d = d * InternalRange / AxisPixelSize;
    return horizontal_ ? InternalMinimum + d : InternalMaximum - d;
}

// ---- Layout

void TChartAxis::CalcPositions() {
    double extent;
    long long origin;
    if (IsDepthAxis) {
        extent = chart_->Width3D;
        origin = 0;
    } else if (horizontal_) {
        extent = chart_->ChartWidth;
        origin = chart_->ChartRect.Left;
    } else {
        extent = chart_->ChartHeight;
        origin = chart_->ChartRect.Top;
    }
    StartPixel = PixelPlus(origin, RoundTo64(extent * 0.01 * start_position_));
    EndPixel = PixelPlus(origin, RoundTo64(extent * 0.01 * end_position_));
    AxisPixelSize = EndPixel - StartPixel;
    CenterPixel = static_cast<int>((static_cast<long long>(StartPixel) + EndPixel) / 2);
    CalcScale();
}

void TChartAxis::ApplyPixelMargins(const TRect& Margins) {
    const int a = horizontal_ ? Margins.Left : Margins.Top;
    const int b = horizontal_ ? Margins.Right : Margins.Bottom;
    const int oldStart = StartPixel;
    const int oldEnd = EndPixel;
    StartPixel = PixelPlus(StartPixel, a);
    EndPixel = PixelPlus(EndPixel, -static_cast<long long>(b));
    AxisPixelSize = EndPixel - StartPixel;
    const double atStart = CalcPosPoint(oldStart);
    const double atEnd = CalcPosPoint(oldEnd);
    CalcPositions();
    InternalMaximum = atStart;
    InternalMinimum = atEnd;
    if (InternalMinimum > InternalMaximum) std::swap(InternalMinimum, InternalMaximum);
    CalcScale();
}

int TChartAxis::PositionShift(const TRect& R) const {
    if (position_percent_ == 0) return 0;
    if (position_units_ == muPixels) return RoundTo32(position_percent_);
    const double size = horizontal_ ? static_cast<double>(R.Bottom) - R.Top
                                    : static_cast<double>(R.Right) - R.Left;
    return RoundTo32(0.01 * position_percent_ * size);
}

int TChartAxis::BasePosition(const TRect& R) const {
    if (horizontal_) return other_side_ ? R.Top : R.Bottom;
    return other_side_ ? R.Right : R.Left;
}

namespace {

// Moves a position across the axis: Inward into the chart, else outward.
int MoveAcross(int Position, bool horizontal, bool otherSide, long long by, bool inward) {
    // Outward is down for the bottom axis, up for the top one, left for the
    // left axis and right for the right one.
    const bool outwardIsPlus = horizontal ? !otherSide : otherSide;
    const long long sign = (outwardIsPlus != inward) ? 1 : -1;
    return PixelPlus(Position, sign * by);
}

}  // namespace

int TChartAxis::TicksSize() const {
    long long t = 0;
    if (axis_pen_->Visible()) t += static_cast<long long>(axis_pen_->Width()) + 1;
    if (ticks_->Visible()) t += tick_length_;
    if (minor_ticks_->Visible()) t = std::max<long long>(t, minor_tick_length_);
    return Clamp32(t);
}

void TChartAxis::CalcRect(TRect& R, bool InflateChartRectangle) {
    ShowsDateTime = IsDateTimeAxis();
    if (!InflateChartRectangle) {
        AxisPosition = MoveAcross(BasePosition(R), horizontal_, other_side_, PositionShift(R), true);
        LabelsPosition = MoveAcross(AxisPosition, horizontal_, other_side_, TicksSize(), false);
        TitlePosition = MoveAcross(LabelsPosition, horizontal_, other_side_, LabelsSizeAcross(), false);
        return;
    }
    if (!IsDepthAxis) {
        if (title_->Visible() && !title_->Caption().empty()) {
            ShrinkSide(R, horizontal_, other_side_,
                       TextSizeAcross(title_->Font(), title_->Angle(), title_size_, title_->Caption()));
            TitlePosition = BasePosition(R);
        }
    } else {
        TitlePosition = other_side_ ? R.Right : R.Left;
    }
    LabelsPosition = BasePosition(R);
    if (Labels()) {
        int s = LabelsSizeAcross();
        if (chart_->Axes().OnGetLabelsSize) s = chart_->Axes().OnGetLabelsSize(*this, s);
        ShrinkSide(R, horizontal_, other_side_, s);
        LabelsPosition = BasePosition(R);
    }
    const long long room = static_cast<long long>(chart_->CalcWallSize(*this)) + TicksSize();
    if (room > 0) ShrinkSide(R, horizontal_, other_side_, room);
    const int shift = PositionShift(R);
    if (shift != 0) {
        TitlePosition = MoveAcross(TitlePosition, horizontal_, other_side_, shift, true);
        LabelsPosition = MoveAcross(LabelsPosition, horizontal_, other_side_, shift, true);
    }
}

bool TChartAxis::Clicked(int X, int Y) {
    if (!chart_->IsAxisVisible(*this)) return false;
    const int lo = std::min(StartPixel, EndPixel), hi = std::max(StartPixel, EndPixel);
    int a = AxisPosition, b = AxisPosition;
    if (Labels()) {
        if (LabelsPosition >= AxisPosition) {
            a = AxisPosition - 3;
            b = LabelsPosition;
        } else {
            a = LabelsPosition;
            b = AxisPosition + 3;
        }
    }
    TRect r = horizontal_ ? TRect{lo, a, hi, b} : TRect{a, lo, b, hi};
    if (chart_->View3D()) r = chart_->Canvas()->CalcRect3D(r, other_side_ ? chart_->Width3D : 0);
    chart::NormalizeRect(r);
    return chart::PointInRectXY(r, X, Y);
}

// ---- Copying

void TChartAxis::Assign(const vcl::TPersistent& Source) {
    const auto* other = dynamic_cast<const TChartAxis*>(&Source);
    if (!other) {
        vcl::TPersistent::Assign(Source);
        return;
    }
    if (other == this) return;
    axis_pen_->Assign(*other->axis_pen_);
    ticks_->Assign(*other->ticks_);
    ticks_inner_->Assign(*other->ticks_inner_);
    minor_ticks_->Assign(*other->minor_ticks_);
    grid_->Assign(*other->grid_);
    minor_grid_->Assign(*other->minor_grid_);
    title_->Assign(*other->title_);
    items_->Assign(*other->items_);
    automatic_ = other->automatic_;
    automatic_maximum_ = other->automatic_maximum_;
    automatic_minimum_ = other->automatic_minimum_;
    maximum_ = other->maximum_;
    minimum_ = other->minimum_;
    maximum_offset_ = other->maximum_offset_;
    minimum_offset_ = other->minimum_offset_;
    maximum_round_ = other->maximum_round_;
    minimum_round_ = other->minimum_round_;
    increment_ = other->increment_;
    inverted_ = other->inverted_;
    horizontal_ = other->horizontal_;
    other_side_ = other->other_side_;
    logarithmic_ = other->logarithmic_;
    logarithmic_base_ = other->logarithmic_base_;
    start_position_ = other->start_position_;
    end_position_ = other->end_position_;
    position_percent_ = other->position_percent_;
    position_units_ = other->position_units_;
    z_position_ = other->z_position_;
    visible_ = other->visible_;
    title_size_ = other->title_size_;
    labels_size_ = other->labels_size_;
    label_style_ = other->label_style_;
    axis_values_format_ = other->axis_values_format_;
    date_time_format_ = other->date_time_format_;
    exact_date_time_ = other->exact_date_time_;
    round_first_label_ = other->round_first_label_;
    labels_angle_ = other->labels_angle_;
    labels_alternate_ = other->labels_alternate_;
    labels_align_ = other->labels_align_;
    labels_exponent_ = other->labels_exponent_;
    labels_multi_line_ = other->labels_multi_line_;
    labels_on_axis_ = other->labels_on_axis_;
    labels_separation_ = other->labels_separation_;
    tick_on_labels_only_ = other->tick_on_labels_only_;
    tick_length_ = other->tick_length_;
    tick_inner_length_ = other->tick_inner_length_;
    minor_tick_length_ = other->minor_tick_length_;
    minor_tick_count_ = other->minor_tick_count_;
    IsDepthAxis = other->IsDepthAxis;
    SelectPosRoutines();
    Invalidate();
}

// ---- Depth axes

TChartDepthAxis::TChartDepthAxis(TCustomAxisPanel& Chart) : TChartAxis(Chart, true) {}

void TChartDepthAxis::SetInverted(bool Value) {
    TChartAxis::SetInverted(Value);
    TCustomAxisPanel& chart = *ParentChart();
    TChartAxis& other = this == &chart.DepthAxis() ? static_cast<TChartAxis&>(chart.DepthTopAxis())
                                                    : static_cast<TChartAxis&>(chart.DepthAxis());
    if (&other != this && other.Inverted() != Value) other.TChartAxis::SetInverted(Value);
}

// ---- Custom axes

TChartCustomAxes::~TChartCustomAxes() { Clear(); }

TChartAxis& TChartCustomAxes::Add() {
    items_.push_back(std::make_unique<TChartAxis>(chart_));
    chart_.Invalidate();
    return *items_.back();
}

void TChartCustomAxes::Delete(int Index) {
    if (Index < 0 || Index >= Count()) return;
    items_.erase(items_.begin() + Index);
    chart_.Invalidate();
}

void TChartCustomAxes::Clear() {
    while (!items_.empty()) items_.pop_back();
}

void TChartCustomAxes::Assign(const TChartCustomAxes& Source) {
    if (&Source == this) return;
    Clear();
    for (const auto& axis : Source.items_) Add().Assign(*axis);
}

}  // namespace chart::engine
