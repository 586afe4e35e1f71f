// Which values of an axis get labels, how far apart, with which text and
// how much room they need; and the loops that walk the label values and
// hand each label to the drawing. Every loop here is bounded, whatever the
// range, increment or base: a step that no longer moves a value ends it.
#include <algorithm>
#include <climits>
#include <cmath>

#include "chart/engine/axis_panel.h"
#include "chart/engine/chart_axis.h"
#include "chart/engine/panel_routines.h"
#include "platform/rtl/datetime.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/numbers.h"

namespace chart::engine {

namespace {

// Linear labels drawn at most, and value labels measured at most.
constexpr double kMaxLinearLabels = 10000;
constexpr int kMaxMeasuredLabels = 5000;
constexpr int kMaxEventLabels = 2001;
// Steps of an increment search: from the smallest double to the largest
// the 1-2-5 sequence takes about 2000.
constexpr int kMaxIncrementSteps = 4096;

// The dates the calendar routines take (years 1 to 9999).
bool InCalendar(double Value) { return Value >= -693593.0 && Value < 2958466.0; }

// A logarithmic base as a step upward: below 1 its inverse gives the same
// powers (and the labels and increments still grow).
double StepBase(double Base) { return Base < 1 ? 1 / Base : Base; }

// Labels step down from the top of the range, and each step adds rounding
// error: zero is reached as a value a tiny fraction of a step away (about
// 7.4E283 for a range of +-1E300), which the label would show in full.
// Such a value is zero. Far more error than the steps can gather, far less
// than any label apart.
constexpr double kZeroFraction = 1e-9;
double ZeroIfNear(double Value, double Increment) {
    return std::fabs(Value) < std::fabs(Increment) * kZeroFraction ? 0 : Value;
}

}  // namespace

double NextNiceStep(double V) {
    if (!(V > 0) || std::isinf(V)) return 1;
    // 10 x the step of V / 10 above 10, the step of V x 10 / 10 below 1:
    // the factors applied innermost first, as the recursion does.
    int ups = 0, downs = 0;
    while (V >= 10) V *= 0.1, ++ups;
    while (V < 1) V *= 10, ++downs;
    double r = V < 2 ? 2 : (V < 5 ? 5 : 10);
    for (int i = 0; i < ups; ++i) r *= 10;
    for (int i = 0; i < downs; ++i) r *= 0.1;
    return r;
}

// ---- Increments

bool TChartAxis::HasSeriesWithFewPoints(int MaxPoints) const {
    for (int i = 0; i < chart_->SeriesCount(); ++i) {
        TChartSeries& s = *chart_->GetSeries(i);
        if (!s.Active() || !s.AssociatedToAxis(*const_cast<TChartAxis*>(this))) continue;
        const bool along = horizontal_ ? s.YMandatory() : !s.YMandatory();
        if (along && s.Count() <= MaxPoints) return true;
    }
    return false;
}

double TChartAxis::IncrementForLabelCount(int MaxLabels) {
    const double base = StepBase(logarithmic_base_);
    double inc;
    if (increment_ > 0) {
        inc = increment_;
    } else if (InternalRange == 0) {
        inc = 1;
    } else {
        inc = std::fabs(InternalRange) / (static_cast<double>(MaxLabels) + 1);
        if (logarithmic_) {
            const double e = std::log(inc) / std::log(logarithmic_base_);
            inc = std::pow(logarithmic_base_, static_cast<double>(RoundTo64(e)));
        }
        if (InternalRange >= 1.1 && HasSeriesWithFewPoints(MaxLabels)) inc = std::max(inc, 1.0);
    }
    if (labels_separation_ > 0) {
        auto stepUp = [&](double v) { return logarithmic_ ? v * base : NextNiceStep(v); };
        long long n = static_cast<long long>(MaxLabels) + 1;
        for (int guard = 0; guard < kMaxIncrementSteps; ++guard) {
            const double q = InternalRange / inc;
            if (std::fabs(q) >= 2147483647.0) {
                inc = stepUp(inc);
            } else {
                n = RoundTo64(q);
                if (n > MaxLabels) inc = stepUp(inc);
            }
            if (!(n > MaxLabels && inc <= InternalRange && std::isfinite(inc))) break;
        }
    }
    if (std::isinf(inc)) return InternalRange;
    return std::max(inc, 1e-12);
}

double TChartAxis::DateTimeIncrementFor(int MaxLabels) {
    const double smallest = DateTimeStep[dtOneMicrosecond];
    double inc = std::max(smallest, increment_);
    if (inc > 0 && MaxLabels >= 1) {
        if (InternalRange / inc > 1000000) inc = InternalRange / 1000000;
        for (int guard = 0; guard < kMaxIncrementSteps && RoundTo64(InternalRange / inc) > MaxLabels;
             ++guard) {
            if (inc >= DateTimeStep[dtOneYear])
                inc *= 2;
            else if (inc >= DateTimeStep[dtOneSecond])
                inc = NextDateTimeStep(inc);
            else
                inc = NextNiceStep(inc);
        }
    }
    return std::max(smallest, inc);
}

double TChartAxis::IncrementForLabelSize(int LabelSize) {
    long long labels = 1;
    if (LabelSize > 0 && AxisPixelSize > 0) {
        long long size = LabelSize;
        if (labels_separation_ > 0) size += RoundTo64(labels_separation_ * 0.01 * LabelSize);
        labels = RoundTo64(static_cast<double>(AxisPixelSize) / static_cast<double>(size));
    }
    if (labels < 1) return ShowsDateTime ? DateTimeStep[dtOneMicrosecond] : 1e-12;
    const int n = static_cast<int>(std::min<long long>(labels, INT_MAX - 1));
    return ShowsDateTime ? DateTimeIncrementFor(n) : IncrementForLabelCount(n);
}

double TChartAxis::CalcLabelIncrement() {
    chart_->Canvas()->AssignFont(LabelsFont());
    return MeasuredLabelIncrement();
}

double TChartAxis::MeasuredLabelIncrement() {
    double lo = InternalMinimum, hi = InternalMaximum;
    if (round_first_label_ && increment_ != 0) {
        lo = std::fabs(InternalMinimum) <= 9223372036854775807.0
                 ? static_cast<double>(RoundTo64(InternalMinimum)) * increment_
                 : increment_ * InternalMinimum;
        hi = std::trunc(InternalMaximum) * increment_;
    }
    // A middle value with decimals is measured too.
    double mid = (hi + lo) * 0.5;
    for (int guard = 0; guard < 2200 && std::isfinite(mid) && mid == std::trunc(mid) && mid != 0;
         ++guard)
        mid *= 0.5;
    int size = std::max({LabelExtentAlong(mid), LabelExtentAlong(hi), LabelExtentAlong(lo)});
    if (increment_ != 0)
        size = std::max({size, LabelExtentAlong(hi - increment_), LabelExtentAlong(lo + increment_)});
    double inc = IncrementForLabelSize(size);
    if (!labels_alternate_ && increment_ == 0 && inc >= 2) {
        // Whole steps: measure the labels of whole numbers.
        increment_ = 1;
        try {
            inc = MeasuredLabelIncrement();
        } catch (...) {
            increment_ = 0;
            throw;
        }
        increment_ = 0;
    }
    if (labels_alternate_) inc = logarithmic_ ? inc / logarithmic_base_ : inc * 0.5;
    return inc;
}

// ---- Texts

std::string TChartAxis::LabelValue(double Value) {
    std::string text;
    if (ShowsDateTime) {
        const std::string& format =
            date_time_format_.empty() ? DateTimeDefaultFormat(InternalRange) : date_time_format_;
        text = rtl::FormatDateTime(format, Value);
    } else {
        text = rtl::FormatFloat(axis_values_format_, Value);
    }
    if (chart_->OnGetAxisLabel) chart_->OnGetAxisLabel(this, nullptr, -1, text);
    if (labels_multi_line_) std::replace(text.begin(), text.end(), ' ', kPlotLineSeparator);
    return text;
}

TAxisLabelStyle TChartAxis::CalcLabelStyle() {
    TAxisLabelStyle style = talNone;
    for (int i = 0; i < chart_->SeriesCount(); ++i) {
        TChartSeries& s = *chart_->GetSeries(i);
        if (!s.Active() || !s.AssociatedToAxis(*this)) continue;
        style = talValue;
        const bool along = horizontal_ ? s.YMandatory() : !s.YMandatory();
        if (!along) continue;
        const TLabelsList& labels = s.Labels();
        for (int k = 0; k < labels.Count(); ++k)
            if (!labels.Labels(k).empty()) return talText;
    }
    return style;
}

TAxisLabelStyle TChartAxis::EffectiveLabelStyle() {
    return label_style_ == talAuto ? CalcLabelStyle() : label_style_;
}

TAxisLabelStyle TChartDepthAxis::CalcLabelStyle() {
    TCustomAxisPanel& chart = *ParentChart();
    for (int i = 0; i < chart.SeriesCount(); ++i) {
        TChartSeries& s = *chart.GetSeries(i);
        if (s.Active() && s.MaxZValue() != s.MinZValue()) return talValue;
    }
    return talText;
}

// ---- Measuring

int TChartAxis::LabelExtentAlong(double Value) {
    int lines = 0;
    const int width = chart_->MultiLineTextWidth(LabelValue(Value), lines);
    const bool across = horizontal_ ? (labels_angle_ == 90 || labels_angle_ == 270)
                                    : (labels_angle_ == 0 || labels_angle_ == 180);
    if (!across) return width;
    return Clamp32(static_cast<long long>(lines) * chart_->Canvas()->FontHeight());
}

int TChartAxis::ValueLabelsWidth() {
    // The chart's label event is left out of measuring, and always put back.
    struct Restore {
        TCustomAxisPanel& chart;
        TAxisLabelEvent saved;
        ~Restore() { chart.OnGetAxisLabel = std::move(saved); }
    } restore{*chart_, std::move(chart_->OnGetAxisLabel)};
    chart_->OnGetAxisLabel = nullptr;
    const double inc = CalcLabelIncrement();
    double lo = InternalMinimum, hi = InternalMaximum;
    const bool snap = (ShowsDateTime && exact_date_time_) || round_first_label_;
    const bool stepped = inc != 0 && std::isfinite(inc);
    if (snap && stepped) {
        lo = std::trunc(lo / inc) * inc;
        hi = std::trunc(hi / inc) * inc;
    }
    int lines = 0;
    int widest = 0;
    if (!stepped) {
        widest = std::max(chart_->MultiLineTextWidth(LabelValue(lo), lines),
                          chart_->MultiLineTextWidth(LabelValue(hi), lines));
    } else {
        double v = hi;
        for (int count = 0; v >= lo && count < kMaxMeasuredLabels; ++count) {
            widest = std::max(widest, chart_->MultiLineTextWidth(LabelValue(v), lines));
            const double next = ZeroIfNear(v - inc, inc);
            if (!(next < v)) break;
            v = next;
        }
    }
    return Clamp32(static_cast<long long>(widest) + chart_->Canvas()->TextWidth(" "));
}

int TChartAxis::MaxLabelsWidth() {
    TCanvas3D& canvas = *chart_->Canvas();
    int lines = 0;
    if (!items_->Automatic) {
        int widest = 0;
        for (int i = 0; i < items_->Count(); ++i) {
            canvas.AssignFont(items_->Items(i).Font());
            widest = std::max(widest, chart_->MultiLineTextWidth(items_->Items(i).Text(), lines));
        }
        return widest;
    }
    switch (EffectiveLabelStyle()) {
        case talValue:
            return ValueLabelsWidth();
        case talMark:
            return chart_->MaxMarkWidth();
        case talText: {
            if (!chart_->OnGetAxisLabel) return chart_->MaxTextWidth();
            int widest = 0;
            for (int i = 0; i < chart_->SeriesCount(); ++i) {
                TChartSeries& s = *chart_->GetSeries(i);
                for (int k = 0; k < s.Count(); ++k) {
                    std::string text = s.Labels().Labels(k);
                    chart_->OnGetAxisLabel(this, &s, k, text);
                    widest = std::max(widest, chart_->MultiLineTextWidth(text, lines));
                }
            }
            return widest;
        }
        default:
            return 0;
    }
}

int TChartAxis::TextSizeAcross(chart::TPlotFont& Font, int Angle, int FixedSize,
                               const std::string& Text) {
    if (FixedSize != 0) return FixedSize;
    TCanvas3D& canvas = *chart_->Canvas();
    canvas.AssignFont(Font);
    const bool height = horizontal_ ? (Angle == 0 || Angle == 180) : (Angle == 90 || Angle == 270);
    if (height) return canvas.FontHeight();
    if (Text.empty()) return MaxLabelsWidth();
    return canvas.TextWidth(Text);
}

int TChartAxis::LabelsSizeAcross() {
    const long long size = TextSizeAcross(LabelsFont(), labels_angle_, labels_size_, {});
    return Clamp32(labels_alternate_ ? 2 * size : size);
}

// ---- The label loops

void TChartAxis::AddTick(int Pixel, double Value) {
    TickPositions.push_back(Pixel);
    tick_values_.push_back(Value);
}

double TChartAxis::StepDown(double Value, double Increment, int Step) const {
    const bool calendar = ShowsDateTime && exact_date_time_ && Step >= dtHalfMonth && Step < dtNone;
    if (calendar && InCalendar(Value) && InCalendar(Value - Increment)) {
        try {
            double v = Value;
            IncDecDateTime(true, false, v, Increment, Step);
            return v;
        } catch (const rtl::EConvertError&) {
        }
    }
    return Value - Increment;
}

void TChartAxis::DrawValueLabel(double Value) {
    const int p = CalcPosValue(Value);
    if (!labels_on_axis_ && !(StartPixel < p && p < EndPixel)) return;
    if (!tick_on_labels_only_) AddTick(p, Value);
    if (Labels()) DrawLabelAt(p, Value, LabelValue(Value), nullptr);
}

void TChartAxis::DrawValueLabels(double Increment, int Step) {
    if (chart_->OnGetNextAxisLabel && DrawEventLabels(Increment, Step)) return;
    if (logarithmic_ && increment_ == 0)
        DrawLogLabels();
    else
        DrawLinearLabels(Increment, Step);
}

void TChartAxis::DrawLinearLabels(double Increment, int Step) {
    const double inc = Increment;
    const double q = InternalRange / inc;
    // Too many labels (or a range or step that is not a number): none.
    if (!(std::fabs(q) < kMaxLinearLabels) || !std::isfinite(InternalMaximum) ||
        !std::isfinite(InternalMinimum) || !(inc > 0))
        return;
    double v = InternalMaximum / inc;
    const bool calendar = ShowsDateTime && exact_date_time_ && Step >= dtOneDay && Step < dtNone;
    if (calendar && InCalendar(InternalMaximum)) {
        try {
            v = AlignDateTimeToStep(Step, InternalMaximum);
        } catch (const rtl::EConvertError&) {
            v = InternalMaximum;
        }
    } else if (round_first_label_ && rtl::FloatToStr(InternalMinimum) != rtl::FloatToStr(InternalMaximum)) {
        v = std::trunc(v) * inc;
    } else {
        v = InternalMaximum;
    }
    for (int guard = 0; v > InternalMaximum && guard < kMaxLinearLabels; ++guard) {
        const double next = StepDown(v, inc, Step);
        if (!(next < v)) break;
        v = next;
    }
    if (RangeIsZero || std::fabs(InternalMaximum - InternalMinimum) < 1e-10 ||
        rtl::FloatToStr(v) == rtl::FloatToStr(v - inc)) {
        DrawValueLabel(v);
        return;
    }
    double limit = InternalMinimum < 0 ? InternalMinimum : (InternalMinimum - 1e-12) / (1 + 1e-12);
    // The relative allowance above is far more than a step when the range
    // is near the resolution of its values (a deep zoom into dates): labels
    // would run on beyond the axis's start. Never more than half a step.
    limit = std::max(limit, InternalMinimum - inc * 0.5);
    for (int count = 0; v >= limit && count <= kMaxLinearLabels; ++count) {
        DrawValueLabel(v);
        const double next = ZeroIfNear(StepDown(v, inc, Step), inc);
        if (!(next < v)) break;
        v = next;
    }
}

void TChartAxis::DrawLogLabels() {
    if (InternalMinimum == InternalMaximum) return;
    if (!std::isfinite(InternalMinimum) || !std::isfinite(InternalMaximum)) return;
    const double base = StepBase(logarithmic_base_);
    const double lnBase = std::log(base);
    auto nearestPower = [&](double x) {
        return std::pow(base, static_cast<double>(RoundTo64(std::log(x) / lnBase)));
    };
    double v;
    if (InternalMinimum > 0)
        v = nearestPower(InternalMinimum);
    else
        v = InternalMinimum == 0 ? 0.1 : nearestPower(1e-10);
    if (!(v > 0) || !std::isfinite(v)) return;
    // Every power of the base from v up: too many of them (a base just
    // above 1) draws none, as a linear axis does.
    if (InternalMaximum > v && std::log(InternalMaximum / v) / lnBase >= kMaxLinearLabels) return;
    if (minor_grid_->Visible()) {
        if (v < InternalMinimum) {
            AddTick(CalcPosValue(v), v);
        } else if (InternalMinimum > 0) {
            const double below = std::pow(base, std::log(InternalMinimum) / lnBase - 1);
            if (below < InternalMinimum) AddTick(CalcPosValue(below), below);
        }
    }
    bool drew = false;
    double x = v;
    for (int count = 0; x <= InternalMaximum && count <= kMaxLinearLabels; ++count) {
        if (x >= InternalMinimum) {
            DrawValueLabel(x);
            drew = true;
        }
        x *= base;
    }
    if (!drew) {
        // Within one power: steps of a tenth (of the base) of v.
        const double step = v / base;
        x = v;
        for (int count = 0; x <= InternalMaximum && count <= kMaxLinearLabels; ++count) {
            if (x >= InternalMinimum) DrawValueLabel(x);
            const double next = x + step;
            if (!(next > x)) break;
            x = next;
        }
    }
    if (minor_grid_->Visible() && x > InternalMaximum) AddTick(CalcPosValue(x), x);
}

bool TChartAxis::DrawEventLabels(double, int) {
    double v = InternalMinimum;
    bool stop = true;
    for (int index = 0; index < kMaxEventLabels; ++index) {
        chart_->OnGetNextAxisLabel(this, index, v, stop);
        // Stopped at once: the default labels are drawn instead.
        if (stop) return index > 0;
        if (!(v >= InternalMinimum - 1e-7 && v <= InternalMaximum + 1e-7)) return true;
        DrawValueLabel(v);
    }
    return true;
}

void TChartAxis::DrawTextLabels(TAxisLabelStyle Style) {
    AxisSeries.Clear();
    for (int i = 0; i < chart_->SeriesCount(); ++i) {
        TChartSeries& s = *chart_->GetSeries(i);
        if (!s.Active() || !s.AssociatedToAxis(*this)) continue;
        // The axes are laid out by now: the visible points of this paint,
        // not of the one before.
        s.CalcFirstLastVisibleIndex();
        AxisSeries.Add(&s);
    }
    int first = INT_MAX, last = -1;
    for (int k = 0; k < AxisSeries.Count(); ++k) {
        const TChartSeries& s = *AxisSeries.Items(k);
        if (s.FirstVisibleIndex < 0) continue;
        first = std::min(first, s.FirstVisibleIndex);
        last = std::max(last, s.LastVisibleIndex);
    }
    TCanvas3D& canvas = *chart_->Canvas();
    bool drewOne = false;
    int lastPixel = 0, lastHalf = 0;
    for (int i = first; i <= last && i >= 0; ++i) {
        std::string text;
        double value = 0;
        bool found = false;
        for (int k = 0; k < AxisSeries.Count() && !found; ++k) {
            TChartSeries& s = *AxisSeries.Items(k);
            if (s.FirstVisibleIndex < 0 || i < s.FirstVisibleIndex || i > s.LastVisibleIndex) continue;
            text = Style == talMark ? s.GetMarkText(i) : s.Labels().Labels(i);
            if (chart_->OnGetAxisLabel) chart_->OnGetAxisLabel(this, &s, i, text);
            if (text.empty()) continue;
            value = horizontal_ ? s.XValues().Value(i) : s.YValues().Value(i);
            found = true;
        }
        if (!found || !(value >= InternalMinimum && value <= InternalMaximum)) continue;
        const int p = CalcPosValue(value);
        if (!tick_on_labels_only_) AddTick(p, value);
        if (!Labels()) continue;
        int lines = 0;
        const int width = chart_->MultiLineTextWidth(text, lines);
        const bool alongAxis = horizontal_ ? (labels_angle_ != 90 && labels_angle_ != 270)
                                           : (labels_angle_ == 90 || labels_angle_ == 270);
        long long extent = alongAxis ? width : static_cast<long long>(canvas.FontHeight()) * lines;
        if (drewOne && labels_separation_ != 0) {
            extent += static_cast<long long>(std::trunc(extent * 0.02 * labels_separation_));
            const long long half = extent / 2;
            const bool clear = p >= lastPixel ? p - half >= static_cast<long long>(lastPixel) + lastHalf
                                              : p + half <= static_cast<long long>(lastPixel) - lastHalf;
            if (!clear) continue;
        }
        DrawLabelAt(p, value, text, nullptr);
        drewOne = true;
        lastPixel = p;
        lastHalf = static_cast<int>(std::min<long long>(extent / 2, INT_MAX));
    }
    AxisSeries.Clear();
}

void TChartAxis::DrawDepthTextLabels() {
    if (chart_->CountActiveSeries() == 0) return;
    const double from = std::trunc(InternalMinimum), to = std::trunc(InternalMaximum);
    // One label per series: a range far from the series' numbers has none.
    if (!(to - from < kMaxLinearLabels) || !(from >= INT_MIN && to <= INT_MAX)) return;
    for (double i = from; i <= to; ++i) {
        const double v = InternalMaximum - i - 0.5;
        const int p = CalcYPosValue(v);
        if (!tick_on_labels_only_) AddTick(p, v);
        if (!Labels()) continue;
        const int index = static_cast<int>(i);
        std::string text;
        int active = 0;
        for (int k = 0; k < chart_->SeriesCount(); ++k) {
            TChartSeries& s = *chart_->GetSeries(k);
            if (!s.Active()) continue;
            if (active++ == index) {
                text = s.Title();
                break;
            }
        }
        if (chart_->OnGetAxisLabel) chart_->OnGetAxisLabel(this, nullptr, index, text);
        DrawLabelAt(p, v, text, nullptr);
    }
}

void TChartAxis::DrawCustomLabels() {
    for (int i = 0; i < items_->Count(); ++i) {
        TAxisItem& item = items_->Items(i);
        if (!(item.Value() >= minimum_ && item.Value() <= maximum_)) continue;
        const int p = CalcPosValue(item.Value());
        if (!tick_on_labels_only_) AddTick(p, item.Value());
        if (item.Visible()) DrawLabelAt(p, item.Value(), item.Text(), &item);
    }
}

}  // namespace chart::engine
