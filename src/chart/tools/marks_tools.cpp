#include "chart/tools/marks_tools.h"

#include "chart/drawing/plot_pro_co.h"
#include "chart/engine/axis_panel.h"
#include "chart/engine/chart_series.h"
#include "chart/tools/repaint_hold.h"
#include "platform/vcl/forms.h"

namespace chart::tools {

using engine::TChartSeries;
using engine::TCustomAxisPanel;

namespace {

bool InChart(TCustomAxisPanel& Chart, const TChartSeries* Series) {
    return Series && Chart.SeriesList().IndexOf(Series) >= 0;
}

// The marks keep Style only for the scope.
class TMarksStyleHold {
  public:
    TMarksStyleHold(engine::TSeriesMarks& Marks, engine::TSeriesMarksStyle Style)
        : marks_(Marks), saved_(Marks.Style()) {
        marks_.SetStyle(Style);
    }
    ~TMarksStyleHold() { marks_.SetStyle(saved_); }
    TMarksStyleHold(const TMarksStyleHold&) = delete;
    TMarksStyleHold& operator=(const TMarksStyleHold&) = delete;

  private:
    engine::TSeriesMarks& marks_;
    engine::TSeriesMarksStyle saved_;
};

}  // namespace

// ---- Mark texts as hints

TMarksTipTool::TMarksTipTool(vcl::TComponent* AOwner) : TPlotCustomToolSeries(AOwner) {}

TMarksTipTool::~TMarksTipTool() = default;

TCustomAxisPanel* TMarksTipTool::Chart() const {
    if (TChartSeries* s = Series(); s && s->ParentChart()) return s->ParentChart();
    return ParentChart();
}

void TMarksTipTool::SetMouseAction(TMarkToolMouseAction Value) {
    if (mouse_action_ == Value) return;
    mouse_action_ = Value;
    CancelTip();
}

int TMarksTipTool::MouseDelay() const { return vcl::EnsureApplication()->HintPause(); }
void TMarksTipTool::SetMouseDelay(int Value) { vcl::EnsureApplication()->SetHintPause(std::max(0, Value)); }
int TMarksTipTool::HideDelay() const { return vcl::EnsureApplication()->HintHidePause(); }
void TMarksTipTool::SetHideDelay(int Value) { vcl::EnsureApplication()->SetHintHidePause(Value); }

void TMarksTipTool::SetActive(bool Value) {
    if (Active() && !Value) CancelTip();
    TPlotCustomToolSeries::SetActive(Value);
}

std::string TMarksTipTool::TipText(TChartSeries& Series, int ValueIndex) {
    std::string text;
    {
        TMarksStyleHold style(Series.Marks(), style_);
        text = Series.GetMarkText(ValueIndex);
    }
    if (OnGetText) OnGetText(this, text);
    return text;
}

void TMarksTipTool::ShowTip(TChartSeries& Series, int ValueIndex, int X, int Y) {
    TCustomAxisPanel& chart = *Chart();
    // Changing the marks' style asks for repaints the tip does not want;
    // the flag comes back also when OnGetText raises.
    TRepaintHold hold(chart);
    const std::string text = TipText(Series, ValueIndex);
    if (text == chart.Hint()) return;
    vcl::TApplication& app = *vcl::EnsureApplication();
    app.CancelHint();
    chart.SetShowHint(true);
    chart.SetHint(text);
    app.ActivateHint(chart.ClientToScreen({X, Y}), &chart);
}

void TMarksTipTool::CancelTip() {
    TCustomAxisPanel* chart = Chart();
    if (!chart) return;
    if (OnCancelHint) OnCancelHint(this);
    const bool shown = !chart->Hint().empty();
    chart->SetHint({});
    if (shown) vcl::EnsureApplication()->CancelHint();
}

void TMarksTipTool::ChartMouseEvent(engine::TChartMouseEvent AEvent, vcl::TMouseButton Button,
                                    vcl::TShiftState Shift, int X, int Y) {
    TPlotCustomToolSeries::ChartMouseEvent(AEvent, Button, Shift, X, Y);
    TCustomAxisPanel* chart = Chart();
    if (!chart) return;
    if (!(mouse_action_ == mtmMove && AEvent == engine::cmeMove) &&
        !(mouse_action_ == mtmClick && AEvent == engine::cmeDown))
        return;
    if (dynamic_cast<TPlotHintRegions*>(chart->Canvas())) return;
    TChartSeries* found = nullptr;
    int index = -1;
    if (TChartSeries* s = Series()) {
        index = s->Clicked(X, Y);
        if (index != -1) found = s;
    } else {
        for (int i = chart->SeriesCount() - 1; i >= 0 && !found; --i) {
            TChartSeries* s = chart->GetSeries(i);
            if (!s->Active()) continue;
            index = s->Clicked(X, Y);
            if (index != -1) found = s;
        }
    }
    if (found) {
        ShowTip(*found, index, X, Y);
        return;
    }
    // Another tip tool of the chart may be showing its own hint.
    for (int i = 0; i < chart->Tools().Count(); ++i) {
        engine::TPlotCustomTool* t = chart->Tools().Items(i);
        if (t != this && dynamic_cast<TMarksTipTool*>(t)) return;
    }
    CancelTip();
}

void TMarksTipTool::ChartEvent(engine::TChartToolEvent AEvent) {
    TPlotCustomToolSeries::ChartEvent(AEvent);
    TCustomAxisPanel* chart = Chart();
    if (AEvent != engine::cteAfterDraw || !chart) return;
    auto* regions = dynamic_cast<TPlotHintRegions*>(chart->Canvas());
    if (!regions) return;
    TRepaintHold hold(*chart);
    auto addSeries = [&](TChartSeries& s) {
        if (s.FirstVisibleIndex < 0) return;
        for (int i = s.FirstVisibleIndex; i <= s.LastVisibleIndex && i < s.Count(); ++i)
            regions->AddHintRegion(s.NameOrNumber() + "_" + std::to_string(i), TipText(s, i));
    };
    if (TChartSeries* s = Series())
        addSeries(*s);
    else
        for (int i = 0; i < chart->SeriesCount(); ++i) addSeries(*chart->GetSeries(i));
}

void TMarksTipTool::Assign(const engine::TCustomChartElement& Source) {
    if (auto* s = dynamic_cast<const TMarksTipTool*>(&Source)) {
        mouse_action_ = s->mouse_action_;
        style_ = s->style_;
    }
    TPlotCustomToolSeries::Assign(Source);
}

std::string TMarksTipTool::Description() const { return PlotMsg_MarksTipTool; }
std::string TMarksTipTool::LongDescription() const { return PlotMsg_MarksTipToolDesc; }

// ---- Dragging marks

int TDragMarksTool::MarkAt(int X, int Y, bool VisibleOnly, TChartSeries*& Found) {
    Found = nullptr;
    TCustomAxisPanel* chart = ParentChart();
    if (!chart) return -1;
    auto answer = [&](TChartSeries& s) {
        if (!s.Active() || (VisibleOnly && !s.Marks().Visible())) return -1;
        return s.Marks().Clicked(X, Y);
    };
    if (TChartSeries* s = Series()) {
        const int index = answer(*s);
        if (index != -1) Found = s;
        return index;
    }
    for (int i = chart->SeriesCount() - 1; i >= 0; --i) {
        TChartSeries* s = chart->GetSeries(i);
        const int index = answer(*s);
        if (index != -1) {
            Found = s;
            return index;
        }
    }
    return -1;
}

void TDragMarksTool::ChartMouseEvent(engine::TChartMouseEvent AEvent, vcl::TMouseButton Button,
                                     vcl::TShiftState Shift, int X, int Y) {
    TPlotCustomToolSeries::ChartMouseEvent(AEvent, Button, Shift, X, Y);
    TCustomAxisPanel* chart = ParentChart();
    if (!chart) return;
    // The series may have left the chart (or been freed) since the press.
    if (drag_index_ != -1 && !InChart(*chart, drag_series_)) {
        drag_index_ = -1;
        drag_series_ = nullptr;
    }
    switch (AEvent) {
        case engine::cmeDown: {
            TChartSeries* s = nullptr;
            const int index = MarkAt(X, Y, false, s);
            if (index != -1) {
                drag_series_ = s;
                drag_index_ = index;
                old_x_ = X;
                old_y_ = Y;
                chart->CancelMouseAction = true;
            }
            break;
        }
        case engine::cmeMove:
            if (drag_index_ != -1) {
                if (engine::TSeriesMarkPosition* p = drag_series_->Marks().Positions().Position(drag_index_)) {
                    const int dx = X - old_x_, dy = Y - old_y_;
                    p->Custom = true;
                    p->LeftTop = {p->LeftTop.X + dx, p->LeftTop.Y + dy};
                    p->ArrowTo = {p->ArrowTo.X + dx, p->ArrowTo.Y + dy};
                    old_x_ = X;
                    old_y_ = Y;
                    chart->CancelMouseAction = true;
                    chart->Invalidate();
                }
            } else {
                TChartSeries* s = nullptr;
                if (MarkAt(X, Y, true, s) != -1) {
                    chart->SetCursor(vcl::TCursor::crHandPoint);
                    chart->CancelMouseAction = true;
                }
            }
            if (OnDraggingMark && drag_index_ != -1) OnDraggingMark(this, drag_index_, Button, Shift, X, Y);
            break;
        case engine::cmeUp:
            if (OnDraggedMark && drag_index_ != -1) OnDraggedMark(this, drag_index_, Button, Shift, X, Y);
            drag_index_ = -1;
            drag_series_ = nullptr;
            break;
    }
}

std::string TDragMarksTool::Description() const { return PlotMsg_DragMarksTool; }
std::string TDragMarksTool::LongDescription() const { return PlotMsg_DragMarksToolDesc; }

}  // namespace chart::tools
