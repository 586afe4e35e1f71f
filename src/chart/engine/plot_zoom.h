#pragma once
// The zoom settings of a chart panel: whether and how the mouse zooms, and
// the pen and brush of the rectangle drawn while the user drags.
#include <cstdint>
#include <memory>

#include "chart/drawing/plot_pens.h"
#include "chart/engine/plot_panel.h"

namespace chart::engine {

enum TPlotZoomDirection : std::uint8_t { tzdHorizontal, tzdVertical, tzdBoth };
enum TPanningMode : std::uint8_t { pmNone, pmHorizontal, pmVertical, pmBoth };

// White; its colour is written to a stream only when it is not white.
class TPlotZoomPen : public chart::TChartPen {
  public:
    TPlotZoomPen();
    bool IsColorStored() const { return Color() != vcl::clWhite; }
};

// White and clear.
class TPlotZoomBrush : public chart::TChartBrush {
  public:
    TPlotZoomBrush();
};

class TPlotZoom : public TZoomPanning {
  public:
    bool Allow = true;
    bool Animated = false;
    int AnimatedSteps = 8;
    TPlotZoomDirection Direction = tzdBoth;
    vcl::TShiftState KeyShift = 0;
    int MinimumPixels = 16;
    vcl::TMouseButton MouseButton = vcl::TMouseButton::mbLeft;
    bool UpLeftZooms = false;

    // Made on first read.
    TPlotZoomBrush& Brush();
    TPlotZoomPen& Pen();
    // The objects when they were made, without making them.
    TPlotZoomBrush* BrushIfAny() const { return brush_.get(); }
    TPlotZoomPen* PenIfAny() const { return pen_.get(); }
    // A copy into the zoom's own object; none frees it (the next read makes
    // a fresh default one).
    void SetBrush(const chart::TChartBrush* Value);
    void SetPen(const chart::TChartPen* Value);

    // From another zoom: Allow, Animated, AnimatedSteps, Brush, Direction,
    // KeyShift, MouseButton and Pen (MinimumPixels and UpLeftZooms stay).
    void Assign(const vcl::TPersistent& Source) override;

  private:
    std::unique_ptr<TPlotZoomBrush> brush_;
    std::unique_ptr<TPlotZoomPen> pen_;
};

}  // namespace chart::engine
