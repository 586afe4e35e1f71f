// The place of a series on its chart: the axes it is drawn against, its
// visible points and their order, its depth row in 3D, the news its tools
// hear around its drawing, its legend rows and symbol, and the mouse over
// its points.
#include <algorithm>
#include <cmath>

#include "chart/drawing/plot_const.h"
#include "chart/engine/axis_panel.h"
#include "chart/engine/chart_axis.h"
#include "chart/engine/chart_page.h"
#include "chart/engine/chart_series.h"
#include "chart/engine/panel_routines.h"
#include "platform/rtl/datetime.h"
#include "platform/rtl/numbers.h"

namespace chart::engine {

// ---- Joining and leaving a chart

void TChartSeries::SetParentChart(TCustomAxisPanel* Value) {
    TCustomAxisPanel* old = ParentChart();
    if (Value == old) return;
    // The old chart's list lets go first (its removal news run), then the
    // new chart takes the series.
    if (old) old->RemoveSeries(*this);
    TCustomChartSeries::SetParentChart(Value);
    marks_->SetParentChart(Value);
    RecalcGetAxis();
    if (Value) Value->AddSeries(*this);
}

void TChartSeries::Added() {
    TCustomAxisPanel* chart = ParentChart();
    if (!chart) return;
    RecalcGetAxis();
    if (!IsSeriesColorStored()) SetAutomaticColor(chart->GetFreeSeriesColor(true, nullptr));
    // Back on a chart, the series follows its source series again.
    for (int i = 0; i < data_sources_.Count(); ++i)
        if (TChartSeries* source = data_sources_.Series(i)) source->dependents_.Add(this);
    CheckDataSource();
}

void TChartSeries::Removed() {
    TCustomAxisPanel* chart = ParentChart();
    if (!chart) return;
    if (mouse_inside_ && Cursor != vcl::TCursor::crDefault && chart->Cursor() == Cursor)
        chart->SetCursor(chart->SavedCursor);
    mouse_inside_ = false;
    // Off the chart, the series stops following its source series (it keeps
    // them as its sources, and follows them again when it joins a chart).
    for (int i = 0; i < data_sources_.Count(); ++i)
        if (TChartSeries* source = data_sources_.Series(i)) source->dependents_.Remove(this);
    chart->SeriesList().SeriesGroups().RemoveSeries(this);
    TCustomChartSeries::SetParentChart(nullptr);
    marks_->SetParentChart(nullptr);
    RecalcGetAxis();
}

std::string TChartSeries::NameOrNumber() const {
    if (!Name.empty()) return Name;
    const TCustomAxisPanel* chart = ParentChart();
    const int place = chart ? const_cast<TCustomAxisPanel*>(chart)->SeriesList().IndexOf(this) + 1 : 0;
    return PlotMsg_SeriesTitle + std::to_string(place);
}

// ---- Axes

void TChartSeries::RecalcGetAxis() {
    TCustomAxisPanel* chart = ParentChart();
    if (!chart) {
        horiz_axis_object_ = vert_axis_object_ = nullptr;
        return;
    }
    if (horiz_axis_ == aTopAxis)
        horiz_axis_object_ = &chart->TopAxis();
    else if (horiz_axis_ == aCustomHorizAxis && custom_horiz_axis_)
        horiz_axis_object_ = custom_horiz_axis_;
    else
        horiz_axis_object_ = &chart->BottomAxis();
    if (vert_axis_ == aRightAxis)
        vert_axis_object_ = &chart->RightAxis();
    else if (vert_axis_ == aCustomVertAxis && custom_vert_axis_)
        vert_axis_object_ = custom_vert_axis_;
    else
        vert_axis_object_ = &chart->LeftAxis();
}

void TChartSeries::SetHorizAxis(THorizAxis Value) {
    horiz_axis_ = Value;
    if (Value != aCustomHorizAxis && !(ComponentState() & vcl::csLoading)) custom_horiz_axis_ = nullptr;
    RecalcGetAxis();
    Repaint();
}

void TChartSeries::SetVertAxis(TVertAxis Value) {
    vert_axis_ = Value;
    if (Value != aCustomVertAxis && !(ComponentState() & vcl::csLoading)) custom_vert_axis_ = nullptr;
    RecalcGetAxis();
    Repaint();
}

void TChartSeries::SetCustomHorizAxis(TChartAxis* Value) {
    custom_horiz_axis_ = Value;
    horiz_axis_ = Value ? aCustomHorizAxis : aBottomAxis;
    RecalcGetAxis();
    Repaint();
}

void TChartSeries::SetCustomVertAxis(TChartAxis* Value) {
    custom_vert_axis_ = Value;
    vert_axis_ = Value ? aCustomVertAxis : aLeftAxis;
    RecalcGetAxis();
    Repaint();
}

bool TChartSeries::AssociatedToAxis(TChartAxis& Axis) {
    if (!UseAxis()) return false;
    if (Axis.Horizontal()) return horiz_axis_ == aBothHorizAxis || &Axis == horiz_axis_object_;
    return vert_axis_ == aBothVertAxis || &Axis == vert_axis_object_;
}

TChartValueList* TChartSeries::ValueListOfAxis(TChartAxis& Axis) {
    if (!AssociatedToAxis(Axis)) return nullptr;
    return Axis.Horizontal() ? &XValues() : &YValues();
}

// ---- Values to pixels

int TChartSeries::CalcXPosValue(double Value) {
    return horiz_axis_object_ ? horiz_axis_object_->CalcXPosValue(Value) : 0;
}

int TChartSeries::CalcYPosValue(double Value) {
    return vert_axis_object_ ? vert_axis_object_->CalcYPosValue(Value) : 0;
}

int TChartSeries::CalcXPos(int ValueIndex) {
    return horiz_axis_object_ ? horiz_axis_object_->CalcXPosValue(XValues().Value(ValueIndex)) : 0;
}

int TChartSeries::CalcYPos(int ValueIndex) {
    return vert_axis_object_ ? vert_axis_object_->CalcYPosValue(YValues().Value(ValueIndex)) : 0;
}

void TChartSeries::CalcXYPos(int ValueIndex, int& X, int& Y) {
    X = CalcXPos(ValueIndex);
    Y = CalcYPos(ValueIndex);
}

bool TChartSeries::PointInChartRect(int ValueIndex) {
    const TCustomAxisPanel* chart = ParentChart();
    return chart && chart::PointInRectXY(chart->ChartRect, CalcXPos(ValueIndex), CalcYPos(ValueIndex));
}

double TChartSeries::MaxXValue() { return XValues().MaxFiniteValue(); }
double TChartSeries::MaxYValue() { return YValues().MaxFiniteValue(); }
double TChartSeries::MinXValue() { return XValues().MinFiniteValue(); }
double TChartSeries::MinYValue() { return YValues().MinFiniteValue(); }
double TChartSeries::MaxZValue() { return DepthRow(); }
double TChartSeries::MinZValue() { return DepthRow(); }

// ---- Visible points

void TChartSeries::CalcFirstLastVisibleIndex() {
    FirstVisibleIndex = LastVisibleIndex = -1;
    const int n = Count();
    if (n < 1) return;
    const TChartValueList& list = NotMandatoryValueList();
    TChartAxis* axis = y_mandatory_ ? horiz_axis_object_ : vert_axis_object_;
    if (!CalcVisiblePoints || list.Order == TChartListOrder::loNone || !axis) {
        FirstVisibleIndex = 0;
        LastVisibleIndex = n - 1;
        return;
    }
    const TRect& r = ParentChart()->ChartRect;
    const bool inv = axis->Inverted();
    const long long lo = axis->MinimumOffset(), hi = axis->MaximumOffset();
    const bool offsets = lo != 0 || hi != 0;
    long long minPixel, maxPixel;
    if (y_mandatory_) {
        minPixel = (inv ? r.Right : r.Left) + (offsets ? lo : 0);
        maxPixel = (inv ? r.Left : r.Right) - (offsets ? hi : 0);
    } else {
        minPixel = (inv ? r.Top : r.Bottom) - (offsets ? hi : 0);
        maxPixel = (inv ? r.Bottom : r.Top) + (offsets ? lo : 0);
    }
    const double minV = axis->CalcPosPoint(Clamp32(minPixel));
    const double maxV = axis->CalcPosPoint(Clamp32(maxPixel));
    const std::span<const double> v = list.Values();

    if (list.Order == TChartListOrder::loDescending) {
        // Seldom used: the plain walk.
        int first = 0;
        if (v[0] <= minV) {
            while (first < n && v[static_cast<std::size_t>(first)] < minV) ++first;
            if (first > n - 1) return;
        }
        int last = n - 1;
        if (v[static_cast<std::size_t>(n - 1)] > maxV) {
            last = first;
            while (last < n - 1 && v[static_cast<std::size_t>(last)] < maxV) ++last;
            if (!KeepPointAfterLast)
                while (last > 0 && v[static_cast<std::size_t>(last)] > maxV) --last;
        }
        FirstVisibleIndex = first;
        LastVisibleIndex = last;
        return;
    }
    // Ascending: binary searches with the walk's result (the first of a
    // run of equal values, as received chunks share one time stamp).
    const auto begin = v.begin();
    int first = 0;
    if (v[0] <= minV) {
        first = static_cast<int>(std::lower_bound(begin, v.end(), minV) - begin);
        if (first > n - 1) return;
    }
    int last = n - 1;
    if (v[static_cast<std::size_t>(n - 1)] > maxV) {
        last = static_cast<int>(std::lower_bound(begin + first, v.end(), maxV) - begin);
        last = std::min(last, n - 1);
        if (!KeepPointAfterLast && v[static_cast<std::size_t>(last)] > maxV)
            last = std::max(0, static_cast<int>(std::upper_bound(begin, begin + last + 1, maxV) - begin) - 1);
    }
    FirstVisibleIndex = first;
    LastVisibleIndex = last;
}

void TChartSeries::CalcFirstLastPage(int& First, int& Last) {
    TCustomAxisPanel* chart = ParentChart();
    if (!chart) {
        PageRange(Count(), 0, 1, First, Last);
        return;
    }
    PageRange(Count(), chart->Pages().MaxPointsPerPage(), chart->Pages().Current(), First, Last);
}

// ---- Drawing

bool TChartSeries::DrawValuesForward() {
    const TCustomAxisPanel* chart = ParentChart();
    if (y_mandatory_) {
        const bool forward = !(horiz_axis_object_ && horiz_axis_object_->Inverted());
        return chart && chart->ReversedView ? !forward : forward;
    }
    return !(vert_axis_object_ && vert_axis_object_->Inverted());
}

bool TChartSeries::DrawSeriesForward(int) {
    const TCustomAxisPanel* chart = ParentChart();
    return !(chart && chart->ReversedView);
}

void TChartSeries::DrawAllValues() {
    const int first = FirstVisibleIndex, last = LastVisibleIndex;
    if (first < 0 || last < first) return;
    TCustomAxisPanel* chart = ParentChart();
    TCanvas3D* canvas = chart ? chart->Canvas() : nullptr;
    const bool groups = canvas && canvas->GetReservedFlag();
    auto draw = [&](int i) {
        if (!groups) {
            DrawValue(i);
            return;
        }
        canvas->BeginGroup(std::to_string(i));
        try {
            DrawValue(i);
        } catch (...) {
            canvas->EndGroup();
            throw;
        }
        canvas->EndGroup();
    };
    if (DrawValuesForward())
        for (int i = first; i <= last; ++i) draw(i);
    else
        for (int i = last; i >= first; --i) draw(i);
}

void TChartSeries::SeriesToolsEvent(TChartSeriesToolEvent Event) {
    TCustomAxisPanel* chart = ParentChart();
    if (!chart) return;
    TChartTools& tools = chart->Tools();
    for (int i = 0; i < tools.Count(); ++i) {
        auto* tool = dynamic_cast<TPlotCustomToolSeries*>(tools.Items(i));
        if (tool && tool->Active() && tool->Series() == this) tool->SeriesEvent(Event);
    }
}

void TChartSeries::DoBeforeDrawValues() {
    SeriesToolsEvent(cseBeforeDrawValues);
    if (BeforeDrawValues) BeforeDrawValues(this);
}

void TChartSeries::DoAfterDrawValues() {
    SeriesToolsEvent(cseAfterDrawValues);
    if (AfterDrawValues) AfterDrawValues(this);
}

// ---- Depth rows

void TChartSeries::CalcZOrder() {
    TCustomAxisPanel* chart = ParentChart();
    if (!chart) return;
    if (z_order_ != -1)
        chart->MaxZOrder = std::max(chart->MaxZOrder, z_order_);
    else if (!chart->View3D())
        depth_row_ = 0;
    else
        depth_row_ = ++chart->MaxZOrder;
    InternalDepthIndex = DepthRow();
}

void TChartSeries::CalcDepthPositions() {
    const TCustomAxisPanel* chart = ParentChart();
    if (!chart) return;
    const long long start = static_cast<long long>(chart->SeriesWidth3D) * InternalDepthIndex;
    const long long end = start + (depth_ != -1 ? depth_ : chart->SeriesWidth3D);
    StartZ = ClampPixel(start);
    EndZ = ClampPixel(end);
    MiddleZ = static_cast<int>((static_cast<long long>(StartZ) + EndZ) / 2);
}

bool TChartSeries::MoreSameZOrder() {
    TCustomAxisPanel* chart = ParentChart();
    if (!chart || !chart->ApplyZOrder) return false;
    for (int i = 0; i < chart->SeriesCount(); ++i) {
        TChartSeries& s = *chart->GetSeries(i);
        if (&s != this && s.Active() && !s.ExcludeFromZOrderSharing && s.DepthRow() == DepthRow())
            return true;
    }
    return false;
}

bool TChartSeries::FirstInZOrder() {
    if (!Active()) return false;
    TCustomAxisPanel* chart = ParentChart();
    if (!chart) return true;
    for (int i = 0; i < chart->SeriesCount(); ++i) {
        TChartSeries& s = *chart->GetSeries(i);
        if (&s == this) return true;
        if (s.Active() && s.DepthRow() == DepthRow()) return false;
    }
    return true;
}

// ---- Legend

void TChartSeries::CreateSubGallery(const std::function<void(const std::string&)>& AddSubChart) {
    AddSubChart(PlotMsg_GalleryNormal);
}

std::string TChartSeries::LegendValueText(double Value) {
    if (MandatoryValueList().DateTime())
        return rtl::FormatDateTime(DateTimeDefaultFormat(Value), Value);
    return rtl::FormatFloat(value_format_, Value);
}

std::string TChartSeries::LegendPercentText(double Value) {
    const double total = MandatoryValueList().TotalABS();
    return rtl::FormatFloat(percent_format_, total != 0 ? 100 * Value / total : 100.0);
}

std::string TChartSeries::LegendXText(int ValueIndex) {
    const double x = XValues().Value(ValueIndex);
    return horiz_axis_object_ ? horiz_axis_object_->LabelValue(x) : rtl::FormatFloat(value_format_, x);
}

void TChartSeries::LegendString(int LegendIndex, TLegendTextStyle Style, std::string& Text) {
    const int i = LegendToValueIndex(LegendIndex);
    Text.clear();
    if (i < 0 || i >= Count()) return;
    const std::string label = labels_.Labels(i);
    Text = label;
    if (Style == ltsPlain) return;
    const double v = GetMarkValue(i);
    const std::string sep(1, kPlotColumnSeparator);
    auto before = [&](const std::string& first) { return label.empty() ? first : first + sep + label; };
    auto after = [&](const std::string& last) { return label.empty() ? last : label + sep + last; };
    switch (Style) {
        case ltsLeftValue:
            Text = before(LegendValueText(v));
            break;
        case ltsRightValue:
            Text = after(LegendValueText(v));
            break;
        case ltsLeftPercent:
            Text = before(LegendPercentText(v));
            break;
        case ltsRightPercent:
            Text = after(LegendPercentText(v));
            break;
        case ltsXValue:
            Text = LegendXText(i);
            break;
        case ltsValue:
            Text = LegendValueText(v);
            break;
        case ltsPercent:
            Text = LegendPercentText(v);
            break;
        case ltsXAndValue:
            Text = LegendXText(i) + sep + LegendValueText(v);
            break;
        case ltsXAndPercent:
            Text = LegendXText(i) + sep + LegendPercentText(v);
            break;
        default:
            break;
    }
}

void TChartSeries::DrawLegendShape(int, const TRect& Rect) {
    if (TCustomAxisPanel* chart = ParentChart()) chart->DrawLegendSymbolRect(Rect);
}

void TChartSeries::DrawLegend(int ValueIndex, const TRect& Rect) {
    if (ValueIndex == -1 && ColorEachPoint()) return;
    TCustomAxisPanel* chart = ParentChart();
    if (!chart) return;
    TCanvas3D& canvas = *chart->Canvas();
    // Settings changed for the symbol must not schedule a repaint.
    const bool repaint = chart->AutoRepaint;
    chart->AutoRepaint = false;
    const vcl::TBrushStyle style = Brush().Style();
    bool restyled = false;
    auto restore = [&] {
        if (restyled) Brush().SetStyle(style);
        chart->AutoRepaint = repaint;
    };
    try {
        const TColor color = ValueIndex == -1 ? SeriesColor() : LegendItemColor(ValueIndex);
        canvas.Brush->SetColor(color);
        if (color != vcl::clNone) {
            TColor back = chart->LegendSymbolBackColor();
            vcl::TBrushStyle brushStyle = style;
            canvas.AssignVisiblePen(Pen());
            PrepareLegendCanvas(ValueIndex, back, brushStyle);
            if (chart::TChartPen* pen = chart->LegendSymbolPen()) canvas.AssignVisiblePen(*pen);
            if (back == vcl::clDefault) {
                back = chart->LegendSymbolBackColor();
                if (back == vcl::clDefault) back = chart->Color();
            }
            const vcl::TPicture* image = Brush().ImageIfAny();
            if (brushStyle != style && !(image && image->Graphic())) {
                Brush().SetStyle(brushStyle);
                restyled = true;
            }
            chart->SetBrushCanvas(color, Brush(), back);
            DrawLegendShape(ValueIndex, Rect);
        }
    } catch (...) {
        restore();
        throw;
    }
    restore();
}

// ---- Mouse

bool TChartSeries::CheckMouse(int X, int Y) {
    if (Cursor == vcl::TCursor::crDefault && !OnMouseEnter && !OnMouseLeave) return false;
    const int i = Clicked(X, Y);
    TCustomAxisPanel* chart = ParentChart();
    if (i != -1) {
        if (Cursor != vcl::TCursor::crDefault && chart) chart->SetCursor(Cursor);
        if (!mouse_inside_) {
            mouse_inside_ = true;
            if (OnMouseEnter) OnMouseEnter(this);
        }
    } else if (mouse_inside_) {
        mouse_inside_ = false;
        if (OnMouseLeave) OnMouseLeave(this);
    }
    return i != -1;
}

}  // namespace chart::engine
