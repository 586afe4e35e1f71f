#include "chart/tools/rotate_tool.h"

#include <algorithm>
#include <cmath>

#include "chart/drawing/plot_pro_co.h"
#include "chart/engine/axis_panel.h"
#include "chart/engine/panel_unit.h"
#include "platform/vcl/timer.h"

namespace chart::tools {

using engine::TCustomAxisPanel;

TRotateTool::TRotateTool(vcl::TComponent* AOwner) : TPlotCustomTool(AOwner), cursor_(engine::crPlotHand) {
    Pen().SetColor(vcl::clWhite);
    Pen().SetMode(vcl::TPenMode::pmXor);
}

TRotateTool::~TRotateTool() {
    // A drag cut short by freeing the tool still gives the chart back.
    EndDrag(false);
    if (timer_) timer_->SetOnTimer(nullptr);
}

void TRotateTool::SetInertia(int Value) { inertia_ = std::clamp(Value, 0, 100); }

bool TRotateTool::InertiaRunning() const { return timer_ && timer_->Enabled() && timer_->OnTimer(); }

void TRotateTool::StopInertia() {
    if (timer_) timer_->SetEnabled(false);
}

void TRotateTool::SetActive(bool Value) {
    if (!Value) {
        EndDrag(true);
        StopInertia();
    }
    TPlotCustomTool::SetActive(Value);
}

void TRotateTool::SetParentChart(TCustomAxisPanel* Value) {
    if (Value != ParentChart()) {
        EndDrag(true);
        StopInertia();
    }
    TPlotCustomTool::SetParentChart(Value);
}

void TRotateTool::EndDrag(bool Repaint) {
    const bool was = dragging_;
    dragging_ = false;
    outline_shown_ = false;
    TCustomAxisPanel* chart = ParentChart();
    // A chart being freed keeps its repaints off.
    if (chart && chart->Destroying()) hold_.Forget();
    const bool held = hold_.Release();
    if (!chart || chart->Destroying()) return;
    if (held && Repaint) chart->Invalidate();
    if (was && cursor_ != vcl::TCursor::crDefault) chart->SetCursor(saved_cursor_);
}

void TRotateTool::Turn(double Rotation, double Elevation) {
    TCustomAxisPanel* chart = ParentChart();
    if (!chart || !std::isfinite(Rotation) || !std::isfinite(Elevation)) return;
    chart::TView3DOptions& view = chart->View3DOptions();
    view.SetOrthogonal(false);
    const bool turnRotation = style_ != rsElevation, turnElevation = style_ != rsRotation;
    double r = view.RotationFloat(), e = view.ElevationFloat();
    if (chart->Canvas()->GetSupportsFull3D()) {
        auto wrap = [](double a) {
            a = std::fmod(a, 360.0);
            return a < 0 ? a + 360.0 : a;
        };
        if (turnRotation) r = wrap(r + Rotation);
        if (turnElevation) e = wrap(e + Elevation);
    } else {
        // A flat surface can only show the chart from in front, tilted back
        // up to a quarter turn.
        if (turnRotation) {
            r += Rotation;
            if (Rotation > 0 && r > 360) r -= 360;
            if (Rotation < 0 && r < 0) r += 360;
        }
        if (turnElevation) {
            e += Elevation;
            if (Elevation > 0 && e > 360) e = 360;
            if (Elevation < 0 && e < 270) e = 270;
        }
    }
    view.SetRotationFloat(r);
    view.SetElevationFloat(e);
}

void TRotateTool::DrawOutline() {
    TCustomAxisPanel& chart = *ParentChart();
    TCanvas3D& canvas = *chart.Canvas();
    const TRect client{0, 0, chart.Width(), chart.Height()};
    chart.DrawOnCachedImage(client, [&] {
        canvas.Projection(chart.Width3D, chart.ChartRect);
        canvas.AssignVisiblePen(Pen());
        canvas.Brush->SetStyle(vcl::TBrushStyle::bsClear);
        const TRect& r = chart.ChartRect;
        const int depth = chart.Width3D;
        canvas.RectangleWithZ(r, 0);
        canvas.RectangleWithZ(r, depth);
        for (const TPoint& p : {TPoint{r.Left, r.Top}, TPoint{r.Right, r.Top}, TPoint{r.Right, r.Bottom},
                                TPoint{r.Left, r.Bottom}}) {
            canvas.MoveTo3D(p.X, p.Y, 0);
            canvas.LineTo3D(p.X, p.Y, depth);
        }
    });
}

void TRotateTool::ChartMouseEvent(engine::TChartMouseEvent AEvent, vcl::TMouseButton Button,
                                  vcl::TShiftState Shift, int X, int Y) {
    TPlotCustomTool::ChartMouseEvent(AEvent, Button, Shift, X, Y);
    TCustomAxisPanel* chart = ParentChart();
    if (!chart) return;
    switch (AEvent) {
        case engine::cmeDown:
            if (Button != button_) return;
            StopInertia();
            dragging_ = true;
            old_x_ = X;
            old_y_ = Y;
            first_move_ = true;
            if (cursor_ != vcl::TCursor::crDefault) {
                saved_cursor_ = chart->Cursor();
                chart->SetCursor(cursor_);
            }
            chart->CancelMouseAction = true;
            break;
        case engine::cmeMove: {
            if (!dragging_) return;
            const double f = 0.01 * (speed_ - 50) + 1;
            rotation_step_ = (static_cast<double>(X) - old_x_) * 90.0 / std::max(1, chart->ChartWidth) * f;
            elevation_step_ = (static_cast<double>(old_y_) - Y) * 90.0 / std::max(1, chart->ChartHeight) * f;
            if (inverted_) {
                rotation_step_ = -rotation_step_;
                elevation_step_ = -elevation_step_;
            }
            const bool outline = Pen().Visible();
            if (outline) {
                if (first_move_)
                    hold_.Hold(*chart);
                else if (outline_shown_)
                    DrawOutline();  // XOR: the last outline goes
                outline_shown_ = false;
            }
            first_move_ = false;
            if (!chart->View3D()) chart->SetView3D(true);
            Turn(rotation_step_, elevation_step_);
            old_x_ = X;
            old_y_ = Y;
            chart->CancelMouseAction = true;
            if (outline) {
                DrawOutline();
                outline_shown_ = true;
            }
            if (OnRotate) OnRotate(this);
            break;
        }
        case engine::cmeUp:
            if (!dragging_) return;
            EndDrag(true);
            if (inertia_ > 0) {
                if (!timer_) {
                    timer_ = std::make_unique<vcl::TTimer>(nullptr);
                    timer_->SetEnabled(false);
                    timer_->SetInterval(1);
                    timer_->SetOnTimer([this](vcl::TComponent*) { InertiaTick(); });
                }
                timer_->SetEnabled(true);
            }
            break;
    }
}

namespace {
bool Settled(double Rotation, double Elevation) { return std::fabs(Rotation) <= 0.01 && std::fabs(Elevation) <= 0.01; }
}  // namespace

void TRotateTool::InertiaTick() {
    // Steps that died away turn nothing, so no paint would come to stop the
    // timer: it stops here.
    if (!ParentChart() || !Active() || Settled(rotation_step_, elevation_step_)) {
        StopInertia();
        return;
    }
    Turn(rotation_step_, elevation_step_);
}

void TRotateTool::ChartEvent(engine::TChartToolEvent AEvent) {
    TPlotCustomTool::ChartEvent(AEvent);
    if (AEvent != engine::cteAfterDraw || inertia_ <= 0 || !InertiaRunning()) return;
    if (Settled(rotation_step_, elevation_step_)) {
        StopInertia();
        return;
    }
    auto decay = [&](double& step) {
        step -= step * (100 - inertia_) * 0.001;
        if (std::fabs(step) <= 0.01) step = 0;
    };
    decay(rotation_step_);
    decay(elevation_step_);
}

void TRotateTool::Assign(const engine::TCustomChartElement& Source) {
    if (auto* s = dynamic_cast<const TRotateTool*>(&Source)) {
        button_ = s->button_;
        cursor_ = s->cursor_;
        inertia_ = s->inertia_;
        inverted_ = s->inverted_;
        speed_ = s->speed_;
        style_ = s->style_;
    }
    TPlotCustomTool::Assign(Source);
}

std::string TRotateTool::Description() const { return PlotMsg_RotateTool; }
std::string TRotateTool::LongDescription() const { return PlotMsg_RotateToolDesc; }

}  // namespace chart::tools
