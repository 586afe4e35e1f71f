#include "chart/tools/draw_line_tool.h"

#include <algorithm>

#include "chart/drawing/plot_pro_co.h"
#include "chart/engine/axis_panel.h"
#include "chart/engine/chart_axis.h"
#include "chart/engine/panel_routines.h"
#include "chart/tools/overlay.h"

namespace chart::tools {

using engine::TChartAxis;
using engine::TCustomAxisPanel;

// ---- One line

TDrawLine::TDrawLine(TDrawLineTool* Owner) : tool_(Owner) {}

TDrawLine::~TDrawLine() {
    if (tool_) tool_->LineGone(this);
}

void TDrawLine::Repaint() {
    if (tool_) tool_->Repaint();
}

void TDrawLine::SetStartPos(const TFloatPoint& Value) {
    if (start_ == Value) return;
    start_ = Value;
    Repaint();
}

void TDrawLine::SetEndPos(const TFloatPoint& Value) {
    if (end_ == Value) return;
    end_ = Value;
    Repaint();
}

void TDrawLine::SetStyle(TDrawLineStyle Value) {
    if (style_ == Value) return;
    style_ = Value;
    Repaint();
}

chart::TChartPen& TDrawLine::Pen() {
    if (!pen_) {
        pen_ = std::make_unique<chart::TChartPen>([this](vcl::TPersistent*) { Repaint(); });
        if (tool_) pen_->Assign(tool_->Pen());
    }
    return *pen_;
}

void TDrawLine::SetPen(const chart::TChartPen* Value) {
    if (!Value) {
        pen_.reset();
    } else {
        Pen().Assign(*Value);
    }
    Repaint();
}

void TDrawLine::Assign(const TDrawLine& Source) {
    start_ = Source.start_;
    end_ = Source.end_;
    style_ = Source.style_;
    SetPen(Source.pen_.get());
}

// ---- The lines

TDrawLine& TDrawLines::Add() {
    items_.push_back(std::make_unique<TDrawLine>(tool_));
    return *items_.back();
}

void TDrawLines::Delete(int Index) {
    if (Index < 0 || Index >= Count()) return;
    // Out of the list first: the line tells the tool of its end.
    std::unique_ptr<TDrawLine> line = std::move(items_[static_cast<std::size_t>(Index)]);
    items_.erase(items_.begin() + Index);
    line.reset();
    if (tool_) tool_->Repaint();
}

void TDrawLines::Clear() {
    while (!items_.empty()) Delete(Count() - 1);
}

int TDrawLines::IndexOf(const TDrawLine* Line) const {
    for (int i = 0; i < Count(); ++i)
        if (items_[static_cast<std::size_t>(i)].get() == Line) return i;
    return -1;
}

void TDrawLines::Assign(const TDrawLines& Source) {
    if (&Source == this) return;
    Clear();
    for (const auto& line : Source.items_) Add().Assign(*line);
}

// ---- The tool

TDrawLineTool::TDrawLineTool(vcl::TComponent* AOwner)
    : TPlotCustomToolSeries(AOwner), lines_(std::make_unique<TDrawLines>(this)) {}

TDrawLineTool::~TDrawLineTool() {
    selected_ = nullptr;
    lines_->Clear();
}

void TDrawLineTool::LineGone(const TDrawLine* Line) {
    if (selected_ == Line) {
        selected_ = nullptr;
        handle_ = 0;
    }
}

void TDrawLineTool::SetEnableSelect(bool Value) {
    if (enable_select_ == Value) return;
    enable_select_ = Value;
    if (!Value) {
        selected_ = nullptr;
        Repaint();
    }
}

void TDrawLineTool::SetSelected(TDrawLine* Value) {
    if (Value && lines_->IndexOf(Value) < 0) return;
    selected_ = Value;
    Repaint();
}

void TDrawLineTool::CancelDrag() {
    const bool busy = drawing_ || handle_ != 0;
    drawing_ = false;
    dragged_ = false;
    handle_ = 0;
    if (busy) Repaint();
}

void TDrawLineTool::SetActive(bool Value) {
    if (!Value) CancelDrag();
    TPlotCustomToolSeries::SetActive(Value);
}

void TDrawLineTool::SetParentChart(TCustomAxisPanel* Value) {
    if (Value != ParentChart()) CancelDrag();
    TPlotCustomToolSeries::SetParentChart(Value);
}

TPoint TDrawLineTool::AxisPoint(const TFloatPoint& P) const {
    TChartAxis* h = GetHorizAxis();
    TChartAxis* v = GetVertAxis();
    if (!h || !v) return {};
    return {h->CalcXPosValue(P.X), v->CalcYPosValue(P.Y)};
}

TFloatPoint TDrawLineTool::ScreenPoint(const TPoint& P) const {
    TChartAxis* h = GetHorizAxis();
    TChartAxis* v = GetVertAxis();
    if (!h || !v) return {};
    return {h->CalcPosPoint(P.X), v->CalcPosPoint(P.Y)};
}

bool TDrawLineTool::LineHit(const TDrawLine& Line, const TPoint& P, int Part) const {
    const TPoint s = AxisPoint(Line.StartPos()), e = AxisPoint(Line.EndPos());
    auto inHandle = [&](const TPoint& c) {
        return static_cast<long long>(P.X) >= c.X - 3LL && P.X <= c.X + 3LL && P.Y >= c.Y - 3LL &&
               P.Y <= c.Y + 3LL;
    };
    if (Part == 1) return inHandle(s);
    if (Part == 2) return inHandle(e);
    const int t = click_tolerance_;
    switch (Line.Style()) {
        case dlLine:
            return engine::PointInLine(P, s, e, t);
        case dlHorizParallel:
            return engine::PointInLine(P, s.X, s.Y, e.X, s.Y, t) || engine::PointInLine(P, s.X, e.Y, e.X, e.Y, t);
        case dlVertParallel:
            return engine::PointInLine(P, s.X, s.Y, s.X, e.Y, t) || engine::PointInLine(P, e.X, s.Y, e.X, e.Y, t);
        case dlRectangle:
        case dlEllipse: {
            TRect r{s.X, s.Y, e.X, e.Y};
            engine::RectangleNormalise(r);
            return P.X >= r.Left && P.X <= r.Right && P.Y >= r.Top && P.Y <= r.Bottom;
        }
    }
    return false;
}

TDrawLine* TDrawLineTool::Clicked(int X, int Y, int Part) const {
    TCustomAxisPanel* chart = ParentChart();
    if (!chart) return nullptr;
    chart->Canvas()->Calculate2DPosition(X, Y, 0);
    const TPoint p{X, Y};
    if (selected_ && LineHit(*selected_, p, Part)) return selected_;
    for (int i = 0; i < lines_->Count(); ++i)
        if (LineHit(lines_->Items(i), p, Part)) return &lines_->Items(i);
    return nullptr;
}

TDrawLine* TDrawLineTool::Clicked(int X, int Y) const {
    for (int part : {0, 1, 2})
        if (TDrawLine* line = Clicked(X, Y, part)) return line;
    return nullptr;
}

void TDrawLineTool::ClipDrawing() {
    TCustomAxisPanel& chart = *ParentChart();
    if (!chart.CanClip()) return;
    TRect r = chart.ChartRect;
    if (TChartAxis* h = GetHorizAxis(); h && Series())
        if (TChartAxis* v = GetVertAxis()) r = {h->StartPixel, v->StartPixel, h->EndPixel, v->EndPixel};
    chart.Canvas()->ClipCube(r, 0, chart.Width3D);
}

void TDrawLineTool::DrawLine(const TPoint& A, const TPoint& B, TDrawLineStyle Style, chart::TChartPen& Pen) {
    TCustomAxisPanel& chart = *ParentChart();
    TCanvas3D& canvas = *chart.Canvas();
    canvas.Brush->SetStyle(vcl::TBrushStyle::bsClear);
    canvas.SetBackMode(gdi::TRANSPARENT);
    if (SmoothingCanvas(canvas))
        canvas.AssignVisiblePen(Pen);
    else
        SelectOverlayPen(canvas, Pen, chart.Color());
    const bool in3D = chart.View3D();
    auto line = [&](int x0, int y0, int x1, int y1) {
        if (in3D)
            canvas.LineWithZ(x0, y0, x1, y1, 0);
        else
            canvas.Line(x0, y0, x1, y1);
    };
    switch (Style) {
        case dlLine: line(A.X, A.Y, B.X, B.Y); break;
        case dlHorizParallel:
            line(A.X, A.Y, B.X, A.Y);
            line(A.X, B.Y, B.X, B.Y);
            break;
        case dlVertParallel:
            line(A.X, A.Y, A.X, B.Y);
            line(B.X, A.Y, B.X, B.Y);
            break;
        case dlRectangle:
            if (in3D)
                canvas.RectangleWithZ({A.X, A.Y, B.X, B.Y}, 0);
            else
                canvas.Rectangle(A.X, A.Y, B.X, B.Y);
            break;
        case dlEllipse:
            if (in3D)
                canvas.EllipseWithZ(A.X, A.Y, B.X, B.Y, 0);
            else
                canvas.Ellipse(A.X, A.Y, B.X, B.Y);
            break;
    }
    canvas.Pen->SetMode(vcl::TPenMode::pmCopy);
}

void TDrawLineTool::DrawHandles(const TDrawLine& Line) {
    TCustomAxisPanel& chart = *ParentChart();
    TCanvas3D& canvas = *chart.Canvas();
    canvas.Brush->SetStyle(vcl::TBrushStyle::bsSolid);
    canvas.Brush->SetColor(vcl::ColorToRGB(chart.Color()) == 0 ? static_cast<TColor>(0xC0C0C0) : vcl::clBlack);
    canvas.Pen->SetStyle(vcl::TPenStyle::psClear);
    canvas.Pen->SetMode(vcl::TPenMode::pmCopy);
    for (const TPoint& c : {AxisPoint(Line.StartPos()), AxisPoint(Line.EndPos())}) {
        const TRect r{c.X - 3, c.Y - 3, c.X + 3, c.Y + 3};
        if (chart.View3D())
            canvas.RectangleWithZ(r, 0);
        else
            canvas.Rectangle(r.Left, r.Top, r.Right, r.Bottom);
    }
}

void TDrawLineTool::ChartEvent(engine::TChartToolEvent AEvent) {
    TPlotCustomToolSeries::ChartEvent(AEvent);
    TCustomAxisPanel* chart = ParentChart();
    if (AEvent != engine::cteAfterDraw || !chart) return;
    TCanvas3D& canvas = *chart->Canvas();
    canvas.SetBackMode(gdi::TRANSPARENT);
    const bool clipped = chart->CanClip();
    ClipDrawing();
    for (int i = 0; i < lines_->Count(); ++i) {
        TDrawLine& line = lines_->Items(i);
        // The line being dragged shows where the drag has it.
        if (&line == selected_ && handle_ != 0) continue;
        DrawLine(AxisPoint(line.StartPos()), AxisPoint(line.EndPos()), line.Style(),
                 line.PenIfAny() ? *line.PenIfAny() : Pen());
    }
    if (selected_ && handle_ != 0)
        DrawLine(p0_, p1_, selected_->Style(), selected_->PenIfAny() ? *selected_->PenIfAny() : Pen());
    if (selected_) DrawHandles(*selected_);
    if (drawing_) DrawLine(p0_, p1_, style_, Pen());
    if (clipped) canvas.UnClipRectangle();
}

void TDrawLineTool::ToggleDragged() {
    TCustomAxisPanel& chart = *ParentChart();
    if (SmoothingCanvas(*chart.Canvas())) {
        chart.Invalidate();
        return;
    }
    DrawOverlay(chart, [&] {
        const bool clipped = chart.CanClip();
        ClipDrawing();
        if (drawing_)
            DrawLine(p0_, p1_, style_, Pen());
        else if (selected_)
            DrawLine(p0_, p1_, selected_->Style(), selected_->PenIfAny() ? *selected_->PenIfAny() : Pen());
        if (clipped) chart.Canvas()->UnClipRectangle();
    });
}

void TDrawLineTool::ChartMouseEvent(engine::TChartMouseEvent AEvent, vcl::TMouseButton Button,
                                    vcl::TShiftState Shift, int X, int Y) {
    TPlotCustomToolSeries::ChartMouseEvent(AEvent, Button, Shift, X, Y);
    TCustomAxisPanel* chart = ParentChart();
    if (!chart) return;
    switch (AEvent) {
        case engine::cmeDown: {
            if (Button != button_) return;
            TDrawLine* line = enable_select_ ? Clicked(X, Y) : nullptr;
            if (!line) {
                const bool had = selected_ != nullptr;
                selected_ = nullptr;
                if (had) chart->Invalidate();
                if (enable_draw_) {
                    drawing_ = true;
                    p0_ = p1_ = {X, Y};
                    if (!had) ToggleDragged();
                    chart->CancelMouseAction = true;
                }
                return;
            }
            p0_ = AxisPoint(line->StartPos());
            p1_ = AxisPoint(line->EndPos());
            from_ = {X, Y};
            handle_ = 3;
            if (line == selected_) {
                if (Clicked(X, Y, 1) == line)
                    handle_ = 1;
                else if (Clicked(X, Y, 2) == line)
                    handle_ = 2;
            } else {
                bool allow = true;
                if (OnSelecting) OnSelecting(this, line, allow);
                if (allow) {
                    const bool had = selected_ != nullptr;
                    selected_ = line;
                    if (!had)
                        DrawOverlay(*chart, [&] { DrawHandles(*line); });
                    else
                        chart->Invalidate();
                    if (OnSelect) OnSelect(this);
                } else {
                    handle_ = 0;
                }
            }
            chart->CancelMouseAction = true;
            break;
        }
        case engine::cmeMove:
            if (!drawing_ && handle_ == 0) {
                if (!enable_select_) return;
                if (selected_ && (Clicked(X, Y, 1) == selected_ || Clicked(X, Y, 2) == selected_)) {
                    chart->SetCursor(vcl::TCursor::crCross);
                    chart->CancelMouseAction = true;
                } else if (Clicked(X, Y)) {
                    chart->SetCursor(vcl::TCursor::crHandPoint);
                    chart->CancelMouseAction = true;
                }
                return;
            }
            if (handle_ != 0 && !selected_) {
                handle_ = 0;
                return;
            }
            ToggleDragged();  // the last picture goes
            if (drawing_) {
                p1_ = {X, Y};
            } else if (handle_ == 1) {
                p0_ = {X, Y};
            } else if (handle_ == 2) {
                p1_ = {X, Y};
            } else if (handle_ == 3) {
                const int dx = X - from_.X, dy = Y - from_.Y;
                p0_ = {p0_.X + dx, p0_.Y + dy};
                p1_ = {p1_.X + dx, p1_.Y + dy};
                from_ = {X, Y};
            }
            if (selected_ && handle_ != 0) {
                // The stored points follow without a repaint of their own.
                const bool repaint = chart->AutoRepaint;
                chart->AutoRepaint = false;
                selected_->start_ = ScreenPoint(p0_);
                selected_->end_ = ScreenPoint(p1_);
                chart->AutoRepaint = repaint;
            }
            ToggleDragged();
            chart->CancelMouseAction = true;
            dragged_ = true;
            if (OnDragLine) OnDragLine(this);
            break;
        case engine::cmeUp:
            if (Button != button_) return;
            if (handle_ == 0 || !selected_) {
                if (drawing_ && !(p0_ == p1_)) {
                    TDrawLine& line = lines_->Add();
                    line.start_ = ScreenPoint(p0_);
                    line.end_ = ScreenPoint(p1_);
                    line.style_ = style_;
                    if (select_new_lines_) selected_ = &line;
                    drawing_ = false;
                    chart->Invalidate();
                    if (OnNewLine) OnNewLine(this);
                } else if (drawing_) {
                    drawing_ = false;
                    ToggleDragged();  // the dot of the click goes
                }
                handle_ = 0;
            } else {
                if (handle_ == 1 || handle_ == 3) selected_->start_ = ScreenPoint(p0_);
                if (handle_ == 2 || handle_ == 3) selected_->end_ = ScreenPoint(p1_);
                handle_ = 0;
                chart->Invalidate();
                if (dragged_) {
                    dragged_ = false;
                    if (OnDraggedLine) OnDraggedLine(this);
                }
            }
            break;
    }
}

void TDrawLineTool::Assign(const engine::TCustomChartElement& Source) {
    if (auto* s = dynamic_cast<const TDrawLineTool*>(&Source)) {
        button_ = s->button_;
        click_tolerance_ = s->click_tolerance_;
        enable_draw_ = s->enable_draw_;
        enable_select_ = s->enable_select_;
        lines_->Assign(*s->lines_);
        select_new_lines_ = s->select_new_lines_;
        style_ = s->style_;
    }
    TPlotCustomToolSeries::Assign(Source);
}

std::string TDrawLineTool::Description() const { return PlotMsg_DrawLineTool; }
std::string TDrawLineTool::LongDescription() const { return PlotMsg_DrawLineToolDesc; }

}  // namespace chart::tools
