#include "chart/engine/plot_zoom.h"

namespace chart::engine {

TPlotZoomPen::TPlotZoomPen() { SetColor(vcl::clWhite); }

TPlotZoomBrush::TPlotZoomBrush() {
    SetColor(vcl::clWhite);
    SetStyle(vcl::TBrushStyle::bsClear);
}

TPlotZoomBrush& TPlotZoom::Brush() {
    if (!brush_) brush_ = std::make_unique<TPlotZoomBrush>();
    return *brush_;
}

TPlotZoomPen& TPlotZoom::Pen() {
    if (!pen_) pen_ = std::make_unique<TPlotZoomPen>();
    return *pen_;
}

void TPlotZoom::SetBrush(const chart::TChartBrush* Value) {
    if (!Value)
        brush_.reset();
    else if (Value != brush_.get())
        Brush().Assign(*Value);
}

void TPlotZoom::SetPen(const chart::TChartPen* Value) {
    if (!Value)
        pen_.reset();
    else if (Value != pen_.get())
        Pen().Assign(*Value);
}

void TPlotZoom::Assign(const vcl::TPersistent& Source) {
    const auto* other = dynamic_cast<const TPlotZoom*>(&Source);
    if (!other) return TZoomPanning::Assign(Source);
    if (other == this) return;
    Allow = other->Allow;
    Animated = other->Animated;
    AnimatedSteps = other->AnimatedSteps;
    SetBrush(other->brush_.get());
    Direction = other->Direction;
    KeyShift = other->KeyShift;
    MouseButton = other->MouseButton;
    SetPen(other->pen_.get());
}

}  // namespace chart::engine
