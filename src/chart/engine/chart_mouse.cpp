// The chart under the mouse: what a press lies on and whose click events it
// fires, the zoom rectangle dragged out and zoomed to (or a leftward drag
// undoing the zoom), panning by dragging, the wheel scrolling the vertical
// axes, and the ranges kept by the first zoom or pan for UndoZoom. The
// chart's tools hear every mouse and wheel event first; one that handles it
// sets CancelMouseAction and the chart does nothing more with it.
#include <algorithm>
#include <cstdlib>

#include "chart/engine/chart.h"
#include "chart/engine/chart_axis.h"
#include "chart/engine/chart_series.h"

namespace chart::engine {

bool ChartWheelScrollEnabled = true;
vcl::TShiftState ChartPanKeyShift = 0;

namespace {

// Every key of Keys is held in Shift.
bool KeysHeld(vcl::TShiftState Keys, vcl::TShiftState Shift) { return (Shift & Keys) == Keys; }

// Calls Handler with the chart's CancelMouseAction set first; whether the
// handler left it set (the click is handled: nothing more happens).
template <class F>
bool HandledBy(TCustomChart& Chart, F&& Handler) {
    Chart.CancelMouseAction = true;
    Handler();
    return Chart.CancelMouseAction;
}

}  // namespace

// ---- Hit test

void TCustomChart::CalcClickedPart(const TPoint& P, bool OnlyWithClickEvents,
                                   TChartClickedPart& Part) {
    Part = {};
    TChartLegend& legend = Legend();
    auto legendAt = [&] {
        const int item = legend.Clicked(P.X, P.Y);
        if (item == -1) return false;
        Part.Part = cpkLegend;
        Part.PointIndex = item;
        return true;
    };
    if (legend.Visible() && legend.CustomPosition() && legendAt()) return;
    for (int i = SeriesCount() - 1; i >= 0; --i) {
        TChartSeries& s = *GetSeries(i);
        if (!s.Active()) continue;
        if (OnlyWithClickEvents && !s.HasClickEvents() && !OnClickSeries) continue;
        const int index = s.Clicked(P.X, P.Y);
        if (index != -1) {
            Part = {cpkSeries, index, &s, nullptr};
            return;
        }
        if (s.Marks().Visible()) {
            const int mark = s.Marks().Clicked(P.X, P.Y);
            if (mark != -1) {
                Part = {cpkSeriesMarks, mark, &s, nullptr};
                return;
            }
        }
    }
    for (int i = 0; i < Axes().Count(); ++i) {
        TChartAxis& axis = *Axes().Items(i);
        if (axis.Clicked(P.X, P.Y)) {
            Part = {cpkAxis, -1, nullptr, &axis};
            return;
        }
        if (axis.Title().Clicked(P.X, P.Y)) {
            Part = {cpkAxisTitle, -1, nullptr, &axis};
            return;
        }
    }
    if (legend.Visible() && !legend.CustomPosition() && legendAt()) return;
    const std::pair<TChartTitle*, TChartClickedPartStyle> titles[] = {
        {&Title(), cpkTitle}, {&SubTitle(), cpkSubTitle}, {&Foot(), cpkFoot}, {&SubFoot(), cpkSubFoot}};
    for (const auto& [title, style] : titles)
        if (title->Clicked(P.X, P.Y)) {
            Part.Part = style;
            return;
        }
    if (chart::PointInRectXY(ChartRect, P.X, P.Y) && CountActiveSeries() > 0) Part.Part = cpkChartRect;
}

// ---- Tools first

void TCustomChart::BroadcastToolMouseEvent(TChartMouseEvent AEvent, vcl::TMouseButton Button,
                                           vcl::TShiftState Shift, int X, int Y) {
    // By index: a tool may leave the chart while it hears the event.
    for (int i = 0; i < Tools().Count(); ++i) {
        TPlotCustomTool* tool = Tools().Items(i);
        if (!tool->Active()) continue;
        tool->ChartMouseEvent(AEvent, Button, Shift, X, Y);
        if (CancelMouseAction) break;
    }
}

void TCustomChart::BroadcastToolMouseWheel(TChartMouseWheel AKind, int WheelDelta, int X, int Y) {
    for (int i = 0; i < Tools().Count(); ++i) {
        TPlotCustomTool* tool = Tools().Items(i);
        if (!tool->Active()) continue;
        tool->ChartMouseWheel(AKind, WheelDelta, X, Y);
        if (CancelMouseAction) break;
    }
}

// ---- Press

bool TCustomChart::ClickBackground(vcl::TMouseButton Button, vcl::TShiftState Shift, int X, int Y) {
    if (!OnClickBackground) return false;
    return HandledBy(*this, [&] { OnClickBackground(this, Button, Shift, X, Y); });
}

void TCustomChart::StartZoomOrPan(vcl::TMouseButton Button, vcl::TShiftState Shift, int X, int Y) {
    // Only over axes: a chart whose active series all go without axes
    // (pies) neither zooms nor pans.
    bool usesAxes = CountActiveSeries() == 0;
    for (int i = 0; i < SeriesCount() && !usesAxes; ++i)
        usesAxes = GetSeries(i)->Active() && GetSeries(i)->UseAxis();
    if (!usesAxes) return;
    TPlotZoom& zoom = Zoom();
    bool started = false;
    if (zoom.Allow && Button == zoom.MouseButton && KeysHeld(zoom.KeyShift, Shift)) {
        if (zoom.Direction == tzdVertical) X = ChartRect.Left;
        if (zoom.Direction == tzdHorizontal) Y = ChartRect.Top;
        zoom.Activate(X, Y);
        if (zoom.Direction == tzdVertical) zoom.X1 = ChartRect.Right;
        if (zoom.Direction == tzdHorizontal) zoom.Y1 = ChartRect.Bottom;
        ToggleZoomRectangle();
        started = true;
    }
    if (AllowPanning != pmNone && Button == ScrollMouseButton && KeysHeld(ChartPanKeyShift, Shift)) {
        Panning().Activate(X, Y);
        started = true;
    }
    if (started && Cursor() != SavedCursor) SetCursor(SavedCursor);
}

void TCustomChart::MouseDown(vcl::TMouseButton Button, vcl::TShiftState Shift, int X, int Y) {
    TCustomAxisPanel::MouseDown(Button, Shift, X, Y);
    if (CancelMouseAction || Zoom().Active || Panning().Active) return;
    CancelMouseAction = false;
    BroadcastToolMouseEvent(cmeDown, Button, Shift, X, Y);
    if (CancelMouseAction) {
        CancelMouseAction = false;
        return;
    }
    TChartClickedPart part;
    CalcClickedPart({X, Y}, true, part);
    bool handled = false;
    bool background = false;
    switch (part.Part) {
        case cpkLegend:
            // Its check box first: switching a series is the click's use.
            handled = Legend().DoCheck(part.PointIndex);
            if (OnClickLegend)
                handled = HandledBy(*this, [&] { OnClickLegend(this, Button, Shift, X, Y); });
            break;
        case cpkAxis:
            if (OnClickAxis)
                handled =
                    HandledBy(*this, [&] { OnClickAxis(this, part.AAxis, Button, Shift, X, Y); });
            if (!handled) StartZoomOrPan(Button, Shift, X, Y);
            break;
        case cpkSeries: {
            TChartSeries& series = *part.ASeries;
            CancelMouseAction = false;
            const TSeriesClick& own = (Shift & vcl::ssDouble) ? series.OnDblClick : series.OnClick;
            if (own) own(&series, part.PointIndex, Button, Shift, X, Y);
            handled = CancelMouseAction;
            if (OnClickSeries)
                handled = HandledBy(*this, [&] {
                    OnClickSeries(this, &series, part.PointIndex, Button, Shift, X, Y);
                });
            if (!handled) StartZoomOrPan(Button, Shift, X, Y);
            break;
        }
        case cpkTitle:
        case cpkFoot:
        case cpkSubTitle:
        case cpkSubFoot:
            if (OnClickTitle) {
                TChartTitle* title = part.Part == cpkTitle      ? &Title()
                                     : part.Part == cpkSubTitle ? &SubTitle()
                                     : part.Part == cpkFoot     ? static_cast<TChartTitle*>(&Foot())
                                                                : &SubFoot();
                handled = HandledBy(*this, [&] { OnClickTitle(this, title, Button, Shift, X, Y); });
            }
            if (!handled) StartZoomOrPan(Button, Shift, X, Y);
            break;
        case cpkChartRect:
            background = true;
            handled = ClickBackground(Button, Shift, X, Y);
            if (!handled) StartZoomOrPan(Button, Shift, X, Y);
            break;
        default:
            break;
    }
    if (!handled && !background) ClickBackground(Button, Shift, X, Y);
    CancelMouseAction = false;
}

// ---- Moves

void TCustomChart::ToggleZoomRectangle() {
    TPlotZoom& zoom = Zoom();
    const TRect band{std::min(zoom.X0, zoom.X1), std::min(zoom.Y0, zoom.Y1),
                     std::max(zoom.X0, zoom.X1), std::max(zoom.Y0, zoom.Y1)};
    // A wide pen reaches half its width beyond the outline each way; a
    // pixel or two more for rounding.
    const long long reach = 2 + std::max(zoom.Pen().Width(), 0);
    const TRect area{Clamp32(band.Left - reach), Clamp32(band.Top - reach),
                     Clamp32(band.Right + reach), Clamp32(band.Bottom + reach)};
    DrawOnCachedImage(area, [this] { DrawZoomRectangle(); });
}

void TCustomChart::SaveAxesRanges() {
    saved_ranges_.assign(static_cast<std::size_t>(Axes().Count()), TAxisSavedRange{});
    for (int i = 0; i < Axes().Count(); ++i) {
        const TChartAxis& axis = *Axes().Items(i);
        if (axis.IsDepthAxis) continue;
        saved_ranges_[static_cast<std::size_t>(i)] = {axis.Automatic(), axis.AutomaticMinimum(),
                                                      axis.AutomaticMaximum(), axis.Minimum(),
                                                      axis.Maximum()};
    }
    restore_pending_ = false;
    // Zoomed holds exactly while there are ranges to put back.
    Zoomed = true;
}

bool TCustomChart::Pan(bool Horizontal, int New, int Old) {
    if (New == Old) return false;
    if (AllowPanning != pmBoth && AllowPanning != (Horizontal ? pmHorizontal : pmVertical))
        return false;
    for (int i = 0; i < Axes().Count(); ++i) {
        TChartAxis& axis = *Axes().Items(i);
        if (axis.IsDepthAxis || axis.Horizontal() != Horizontal) continue;
        const double delta = axis.CalcPosPoint(Old) - axis.CalcPosPoint(New);
        double aMin = axis.Minimum() + delta, aMax = axis.Maximum() + delta;
        bool allow = true;
        if (OnAllowScroll) OnAllowScroll(&axis, aMin, aMax, allow);
        if (allow) axis.SetMinMax(aMin, aMax);
    }
    return true;
}

void TCustomChart::MouseMove(vcl::TShiftState Shift, int X, int Y) {
    TCustomAxisPanel::MouseMove(Shift, X, Y);
    if (!Designing()) BroadcastToolMouseEvent(cmeMove, vcl::TMouseButton::mbLeft, Shift, X, Y);
    if (CancelMouseAction) return;
    TPlotZoom& zoom = Zoom();
    TZoomPanning& panning = Panning();
    if (zoom.Active) {
        const int x = zoom.Direction == tzdVertical ? ChartRect.Right : X;
        const int y = zoom.Direction == tzdHorizontal ? ChartRect.Bottom : Y;
        if (x == zoom.X1 && y == zoom.Y1) return;
        ToggleZoomRectangle();
        zoom.X1 = x;
        zoom.Y1 = y;
        ToggleZoomRectangle();
    } else if (panning.Active) {
        if (!chart::PointInRectXY(ChartRect, X, Y)) {
            panning.Active = false;
            return;
        }
        if (X == panning.X1 && Y == panning.Y1) return;
        if (restore_pending_) SaveAxesRanges();
        const bool across = Pan(true, X, panning.X1);
        const bool upDown = Pan(false, Y, panning.Y1);
        panning.X1 = X;
        panning.Y1 = Y;
        if (across || upDown) {
            if (OnScroll) OnScroll(this);
            Invalidate();
        }
    } else {
        for (int i = SeriesCount() - 1; i >= 0; --i) {
            TChartSeries& s = *GetSeries(i);
            if (s.Active() && s.CheckMouse(X, Y)) return;
        }
        if (Cursor() != SavedCursor) SetCursor(SavedCursor);
    }
}

// ---- Release

void TCustomChart::MouseUp(vcl::TMouseButton Button, vcl::TShiftState Shift, int X, int Y) {
    CancelMouseAction = false;
    TCustomAxisPanel::MouseUp(Button, Shift, X, Y);
    TPlotZoom& zoom = Zoom();
    if (zoom.Active && Button == zoom.MouseButton) {
        zoom.Active = false;
        // The band goes; the image is as it was before the drag.
        ToggleZoomRectangle();
        Canvas()->Pen->SetMode(vcl::TPenMode::pmCopy);
        if (zoom.Direction != tzdVertical) zoom.X1 = X;
        if (zoom.Direction != tzdHorizontal) zoom.Y1 = Y;
        const long long across = std::llabs(static_cast<long long>(zoom.X1) - zoom.X0);
        const long long upDown = std::llabs(static_cast<long long>(zoom.Y1) - zoom.Y0);
        const bool farEnough = (zoom.Direction == tzdVertical || across > zoom.MinimumPixels) &&
                               (zoom.Direction == tzdHorizontal || upDown > zoom.MinimumPixels);
        if (farEnough) {
            const bool zoomIn = zoom.UpLeftZooms ||
                                (zoom.Direction == tzdVertical ? zoom.Y1 > zoom.Y0 : zoom.X1 > zoom.X0);
            if (zoomIn)
                ZoomToRectangle();
            else
                UndoZoom();
            Invalidate();
        }
    }
    Panning().Active = false;
    BroadcastToolMouseEvent(cmeUp, Button, Shift, X, Y);
}

// ---- Zoom and undo

void TCustomChart::ZoomToRectangle() {
    TPlotZoom& zoom = Zoom();
    if (zoom.X0 > zoom.X1) std::swap(zoom.X0, zoom.X1);
    if (zoom.Y0 > zoom.Y1) std::swap(zoom.Y0, zoom.Y1);
    ZoomAxes(LeftAxis().CalcPosPoint(zoom.Y1), LeftAxis().CalcPosPoint(zoom.Y0),
             RightAxis().CalcPosPoint(zoom.Y1), RightAxis().CalcPosPoint(zoom.Y0),
             BottomAxis().CalcPosPoint(zoom.X0), BottomAxis().CalcPosPoint(zoom.X1),
             TopAxis().CalcPosPoint(zoom.X0), TopAxis().CalcPosPoint(zoom.X1));
}

void TCustomChart::ZoomAxes(double LeftMin, double LeftMax, double RightMin, double RightMax,
                            double BottomMin, double BottomMax, double TopMin, double TopMax) {
    if (restore_pending_) SaveAxesRanges();
    const TPlotZoom& zoom = Zoom();
    const bool vertical = zoom.Direction != tzdHorizontal;
    const bool horizontal = zoom.Direction != tzdVertical;
    struct TTarget {
        TChartAxis& Axis;
        bool Selected;
        double Min, Max;
    };
    const TTarget targets[] = {{LeftAxis(), vertical, LeftMin, LeftMax},
                               {RightAxis(), vertical, RightMin, RightMax},
                               {BottomAxis(), horizontal, BottomMin, BottomMax},
                               {TopAxis(), horizontal, TopMin, TopMax}};
    if (zoom.Animated) {
        for (int step = 1; step < zoom.AnimatedSteps; ++step) {
            for (const TTarget& t : targets) {
                if (!t.Selected) continue;
                const double lo = std::min(t.Min, t.Max), hi = std::max(t.Min, t.Max);
                const double min = t.Axis.Minimum(), max = t.Axis.Maximum();
                t.Axis.SetMinMax(min + (lo - min) / 3, max + (hi - max) / 3);
            }
            // Each step shows before the next.
            Invalidate();
            Update();
        }
    }
    for (const TTarget& t : targets)
        if (t.Selected) t.Axis.SetMinMax(t.Min, t.Max);
    Zoomed = true;
    if (OnZoom) OnZoom(this);
}

void TCustomChart::UndoZoom() {
    if (!restore_pending_) {
        const int n = std::min(Axes().Count(), static_cast<int>(saved_ranges_.size()));
        for (int i = 0; i < n; ++i) {
            TChartAxis& axis = *Axes().Items(i);
            if (axis.IsDepthAxis) continue;
            const TAxisSavedRange& r = saved_ranges_[static_cast<std::size_t>(i)];
            axis.SetAutomatic(r.Automatic);
            axis.SetAutomaticMinimum(r.AutomaticMinimum);
            axis.SetAutomaticMaximum(r.AutomaticMaximum);
            axis.StoreMinMax(r.Minimum, r.Maximum);
        }
        saved_ranges_.clear();
        restore_pending_ = true;
    }
    TCustomAxisPanel::UndoZoom();
}

// ---- Wheel

void TCustomChart::WheelScroll(bool Down) {
    for (int i = 0; i < Axes().Count(); ++i) {
        TChartAxis& axis = *Axes().Items(i);
        if (axis.Horizontal()) continue;
        double step = (axis.Maximum() - axis.Minimum()) * 3 * 0.01;
        if (!Down) step = -step;
        bool allow = true;
        if (OnAllowScroll) {
            // What the handler answers for the range is not used.
            double aMin = axis.Minimum() + step, aMax = axis.Maximum() + step;
            OnAllowScroll(&axis, aMin, aMax, allow);
        }
        if (!allow) continue;
        // Scrolling switches the axis's automatic range off: the ranges
        // before it are kept, so that UndoZoom puts the automatic range
        // back as it does after a zoom or a pan.
        if (restore_pending_) SaveAxesRanges();
        axis.Scroll(step, false);
    }
}

bool TCustomChart::DoMouseWheel(vcl::TShiftState Shift, int WheelDelta, const TPoint& MousePos) {
    // What a handler of an earlier event left set must not stop the tools.
    CancelMouseAction = false;
    const bool handled = TCustomAxisPanel::DoMouseWheel(Shift, WheelDelta, MousePos);
    BroadcastToolMouseWheel(cmwWheel, WheelDelta, MousePos.X, MousePos.Y);
    return handled;
}

bool TCustomChart::WheelNotch(bool Down, bool Handled, const TPoint& MousePos) {
    const bool scrolls = ChartWheelScrollEnabled && (AllowPanning == pmVertical || AllowPanning == pmBoth);
    if (scrolls) WheelScroll(Down);
    BroadcastToolMouseWheel(Down ? cmwDown : cmwUp, 0, MousePos.X, MousePos.Y);
    return Handled || scrolls;
}

bool TCustomChart::DoMouseWheelDown(vcl::TShiftState Shift, const TPoint& MousePos) {
    return WheelNotch(true, TCustomAxisPanel::DoMouseWheelDown(Shift, MousePos), MousePos);
}

bool TCustomChart::DoMouseWheelUp(vcl::TShiftState Shift, const TPoint& MousePos) {
    return WheelNotch(false, TCustomAxisPanel::DoMouseWheelUp(Shift, MousePos), MousePos);
}

}  // namespace chart::engine
