#pragma once
// TCursorTool: a cursor over a chart (a horizontal line, a vertical line,
// both, or a small scope mark) whose place is kept in axis values, so that
// it stays on the same data when the chart zooms, scrolls or pages. It
// follows the mouse or is dragged, can snap to the nearest point of its
// series and reports every move. It is drawn in XOR mode over the finished
// picture: a move draws the old cursor again (which erases it) and the new
// one, without repainting the chart.
#include <cstdint>
#include <functional>

#include "chart/engine/plot_tool.h"
#include "platform/vcl/graphics.h"

namespace chart::tools {

using chart::engine::TChartSeries;
using vcl::TPoint;
using vcl::TRect;

enum TCursorToolStyle : std::uint8_t { cssHorizontal, cssVertical, cssBoth, cssScope, cssScopeOnly };
enum TScopeCursorStyle : std::uint8_t { scsRectangle, scsCircle, scsDiamond, scsEmpty, scsCamera };
// Which distance decides the nearest point: by the cursor's style, along Y
// only, or along X only.
enum TSnapStyle : std::uint8_t { ssDefault, ssHorizontal, ssVertical };

class TCursorTool;
using TCursorToolChangeEvent =
    std::function<void(TCursorTool* Sender, int X, int Y, double XValue, double YValue,
                       TChartSeries* Series, int ValueIndex)>;
// May change the rectangle the cursor lives in before it is used.
using TCursorToolRectEvent = std::function<void(TCursorTool* Sender, TRect& Rect)>;

class TCursorTool : public chart::engine::TPlotCustomToolSeries {
  public:
    explicit TCursorTool(vcl::TComponent* AOwner);

    // ---- Settings
    // Pixels within which a press or hover catches a cursor line.
    int ClickTolerance = 3;
    // The cursor moves with the mouse without a button held.
    bool FollowMouse = false;
    // The cursor spans the chart rectangle instead of the axes' rectangle.
    bool FullChart = false;
    // Move onto the nearest point of the series.
    bool Snap = false;
    TSnapStyle SnapStyle = ssDefault;
    // Each setter below stores and repaints on a change.
    int HorizSize() const { return horiz_size_; }
    void SetHorizSize(int Value) { SetIntegerProperty(horiz_size_, Value); }
    int VertSize() const { return vert_size_; }
    void SetVertSize(int Value) { SetIntegerProperty(vert_size_, Value); }
    int ScopeSize() const { return scope_size_; }
    void SetScopeSize(int Value) { SetIntegerProperty(scope_size_, Value); }
    TScopeCursorStyle ScopeStyle() const { return scope_style_; }
    void SetScopeStyle(TScopeCursorStyle Value);
    bool UseSeriesZ() const { return use_series_z_; }
    void SetUseSeriesZ(bool Value) { SetBooleanProperty(use_series_z_, Value); }
    TCursorToolStyle Style() const { return style_; }
    // A new style snaps again and repaints.
    void SetStyle(TCursorToolStyle Value);

    // ---- Position
    double XValue = 0;
    double YValue = 0;
    // Pixel position; (-1, -1) until the first paint places the cursor.
    TPoint IPoint() const { return ipoint_; }

    // The point of the visible part of the series nearest the cursor, by
    // SnapStyle (and AStyle for the default snap); the lowest index among
    // equally near ones. -1 (Distance -1) when there is none.
    int NearestPoint(TCursorToolStyle AStyle, double& Distance) const;
    // Moves the cursor onto the nearest point and answers its index; -1
    // (and no move) without a series, with Snap off or no visible point.
    int SnapToNearest();
    // 0 outside the cursor; else the part under (X, Y): 1 the horizontal
    // line, 2 the vertical line, 3 their crossing.
    int Clicked(int X, int Y);
    // Calls OnChange.
    virtual void Changed(int ValueIndex);

    TCursorToolChangeEvent OnChange;
    TCursorToolChangeEvent OnSnapChange;
    TCursorToolRectEvent OnCalcRect;

    // ---- Overrides
    void Assign(const chart::engine::TCustomChartElement& Source) override;
    std::string GetEditorClassName() const override { return "TCursorToolEditor"; }
    void SetParentChart(chart::engine::TCustomAxisPanel* Value) override;
    void SetSeries(TChartSeries* Value) override;
    void ChartEvent(chart::engine::TChartToolEvent AEvent) override;
    void ChartMouseEvent(chart::engine::TChartMouseEvent AEvent, vcl::TMouseButton Button,
                         vcl::TShiftState Shift, int X, int Y) override;
    std::string Description() const override;
    std::string LongDescription() const override;

  private:
    // The axes' rectangle (or the chart's), through OnCalcRect.
    TRect CursorRect();
    // With the sizes applied around IPoint.
    TRect DrawRect();
    // XValue and YValue from a pixel, as the dragged part allows.
    void SetValuesFromPixel(int X, int Y);
    // IPoint from the values.
    void CalcPixelPosition();
    // The first placement at the middle of the plot, snapped and reported.
    void PlaceFirstTime();
    // The cursor in XOR mode at IPoint on the chart's surface.
    void DrawCursor();
    // The cursor's pixels on screen (for drawing between paints).
    TRect DirtyArea();
    // The pixel at the series' start depth when UseSeriesZ.
    void ToSeriesPlane(int& X, int& Y);
    // The depth the cursor is drawn at (0 without UseSeriesZ).
    int DrawDepth() const;
    chart::engine::TCustomAxisPanel* Chart() const { return ParentChart(); }

    int horiz_size_ = 0;
    int vert_size_ = 0;
    int scope_size_ = 4;
    TScopeCursorStyle scope_style_ = scsRectangle;
    bool use_series_z_ = false;
    TCursorToolStyle style_ = cssBoth;
    TPoint ipoint_{-1, -1};
    int dragging_ = 0;
    int last_snap_ = -1;
    // Whether a hover set the chart's mouse cursor (to put it back).
    bool cursor_shown_ = false;
};

}  // namespace chart::tools
