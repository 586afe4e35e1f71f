#pragma once
// Follows the mouse and marks the point of its series nearest to it (a
// circle, square, diamond or the series' own symbol), joined to the mouse
// by a line; either repainting the chart at each move or drawing and
// taking away the marker in not-XOR.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>

#include "chart/engine/plot_tool.h"

namespace chart::tools {

enum TNearestToolStyle : std::uint8_t { hsNone, hsCircle, hsRectangle, hsDiamond, hsSeries };

class TNearestTool : public engine::TPlotCustomToolSeries {
  public:
    explicit TNearestTool(vcl::TComponent* AOwner);
    ~TNearestTool() override;

    // The Visible of LinePen.
    bool DrawLine() const { return line_pen_->Visible(); }
    void SetDrawLine(bool Value) { line_pen_->SetVisible(Value); }
    bool FullRepaint() const { return full_repaint_; }
    void SetFullRepaint(bool Value) { full_repaint_ = Value; }
    chart::TChartPen& LinePen() { return *line_pen_; }
    void SetLinePen(const chart::TChartPen& Value) { line_pen_->Assign(Value); }
    // Half the marker's width and height (below 0 counts as 0).
    int Size() const { return size_; }
    void SetSize(int Value) { SetIntegerProperty(size_, std::max(0, Value)); }
    TNearestToolStyle Style() const { return style_; }
    void SetStyle(TNearestToolStyle Value);
    vcl::TNotifyEvent OnChange;

    // The point marked, -1 for none.
    int Point() const { return point_; }
    const TPoint& Mouse() const { return mouse_; }
    // The series' point nearest to (X, Y): its own hit test first, then the
    // nearest visible point inside the chart rectangle (the lower index of
    // equally near points); -1 when none is nearer than 10000 pixels.
    static int GetNearestPoint(engine::TChartSeries& Series, int X, int Y);

    void ChartEvent(engine::TChartToolEvent AEvent) override;
    void ChartMouseEvent(engine::TChartMouseEvent AEvent, vcl::TMouseButton Button, vcl::TShiftState Shift,
                         int X, int Y) override;
    void Assign(const engine::TCustomChartElement& Source) override;
    std::string Description() const override;
    std::string LongDescription() const override;
    std::string GetEditorClassName() const override { return "TNearestToolEdit"; }

  private:
    void DrawNearest();
    // The marker drawn over the shown image (or a repaint asked for).
    void ToggleNearest();

    std::unique_ptr<chart::TChartPen> line_pen_;
    bool full_repaint_ = true;
    int size_ = 20;
    TNearestToolStyle style_ = hsCircle;
    int point_ = -1;
    TPoint mouse_;
};

}  // namespace chart::tools
