#pragma once
// A panel with the chart's drawing surface, background, bevels, margins,
// gradient, back image, shadow and 3D view, but no axes or series: the
// application draws on it in OnPaint.
#include <functional>

#include "chart/engine/plot_panel_extended.h"

namespace chart::engine {

using TDraw3DPaintEvent = std::function<void(vcl::TComponent* Sender, const TRect& ARect)>;

class TDraw3D : public TCustomPlotPanelExtended {
  public:
    explicit TDraw3D(vcl::TComponent* AOwner);

    // After the background, with the surface reset, for the application's
    // drawing; ARect is the rectangle the paint covers.
    TDraw3DPaintEvent OnPaint;
    // At the very end of each paint, with the surface reset again.
    vcl::TNotifyEvent OnAfterDraw;

    // Background, the application's drawing, the zoom rectangle while the
    // user drags one; repaints asked meanwhile are not made.
    void InternalDraw(const TRect& UserRect) override;
};

}  // namespace chart::engine
