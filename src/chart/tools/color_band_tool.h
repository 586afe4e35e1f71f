#pragma once
// Axis tools that mark values of an axis: TColorLineTool, a line across the
// plot at one value that the user may drag, and TColorBandTool, the plot
// filled between two values (colour, gradient or picture, framed, maybe
// transparent), whose two edges are hidden colour lines the user may drag
// when allowed.
#include <cstdint>
#include <functional>
#include <memory>

#include "chart/drawing/plot_gradient.h"
#include "chart/engine/plot_tool.h"
#include "platform/vcl/graphics.h"

namespace chart {
class TPlotPicture;
}

namespace chart::tools {

using vcl::TRect;

// Where a colour line stands: at Value, at the axis maximum, at the middle
// of the axis range, at the axis minimum.
enum TColorLineStyle : std::uint8_t { clCustom, clMaximum, clCenter, clMinimum };

class TColorLineTool;
using TColorLineToolOnDrag = std::function<void(TColorLineTool* Sender)>;

class TColorLineTool : public chart::engine::TPlotCustomToolAxis {
  public:
    explicit TColorLineTool(vcl::TComponent* AOwner);

    bool AllowDrag = true;
    // Repaint the chart on each drag step instead of moving the line in
    // not-XOR mode.
    bool DragRepaint = false;
    // In 3D the line is drawn at the back and along the depth too.
    bool Draw3D = true;
    // Only behind the series.
    bool DrawBehind = false;
    // The line may be dragged beyond the axis's visible range.
    bool NoLimitDrag = false;

    TColorLineStyle Style() const { return style_; }
    void SetStyle(TColorLineStyle Value);
    double Value() const { return value_; }
    // Makes the style custom; stores and repaints on a change (while a
    // drag moves the line in not-XOR mode, only stores).
    void SetValue(double Value);
    // Value, or the axis maximum, centre or minimum by Style.
    double GetValue() const;
    // The value kept inside the axis's two pixel ends.
    double LimitValue(double Value) const;
    bool Dragging() const { return dragging_; }

    TColorLineToolOnDrag OnBeginDragLine;
    TColorLineToolOnDrag OnDragLine;
    TColorLineToolOnDrag OnEndDragLine;

    // The end of a drag: the internal notification, then OnEndDragLine.
    virtual void DoEndDragLine();
    // The chart the line draws on when it is not in a chart's tools itself.
    virtual void SetSubstituteChart(chart::engine::TCustomAxisPanel* Value) { substitute_ = Value; }
    // Used by an owning band: called at the end of every drag.
    std::function<void()> OnInternalDragEnd;
    // The line's back part (before the series) or front part (at the end).
    void DrawColorLine(bool Back);
    // Whether (X, Y) lies on the line.
    bool Clicked(int X, int Y);

    void ChartEvent(chart::engine::TChartToolEvent AEvent) override;
    void ChartMouseEvent(chart::engine::TChartMouseEvent AEvent, vcl::TMouseButton Button,
                         vcl::TShiftState Shift, int X, int Y) override;
    void Assign(const chart::engine::TCustomChartElement& Source) override;
    std::string GetEditorClassName() const override { return "TColorLineToolEditor"; }
    std::string Description() const override;
    std::string LongDescription() const override;
    // The chart, or the substitute.
    chart::engine::TCustomAxisPanel* Chart() const;

  private:
    // The pixel of the line on its axis.
    int LinePixel() const;
    // The line at its pixel in not-XOR mode, drawn into the shown image.
    void ToggleDragLine();

    TColorLineStyle style_ = clCustom;
    double value_ = 0;
    bool dragging_ = false;
    bool cursor_shown_ = false;
    chart::engine::TCustomAxisPanel* substitute_ = nullptr;
};

using TColorBandMouseEvent = std::function<void(vcl::TComponent* Sender, vcl::TMouseButton Button,
                                                vcl::TShiftState Shift, int X, int Y)>;

class TColorBandTool : public chart::engine::TPlotCustomToolAxis {
  public:
    explicit TColorBandTool(vcl::TComponent* AOwner);
    ~TColorBandTool() override;

    vcl::TColor Color() const { return color_; }
    void SetColor(vcl::TColor Value) { SetColorProperty(color_, Value); }
    // The mouse cursor shown over the band (the default: none).
    vcl::TCursor Cursor = vcl::TCursor::crDefault;
    bool DrawBehind() const { return draw_behind_; }
    void SetDrawBehind(bool Value) { SetBooleanProperty(draw_behind_, Value); }
    bool DrawBehindAxes() const { return draw_behind_axes_; }
    void SetDrawBehindAxes(bool Value) { SetBooleanProperty(draw_behind_axes_, Value); }
    double StartValue() const { return start_value_; }
    double EndValue() const { return end_value_; }
    // Store and repaint on a change; both lines take both values.
    void SetStartValue(double Value);
    void SetEndValue(double Value);
    // Percent, 0 to 100.
    int Transparency() const { return transparency_; }
    void SetTransparency(int Value) { SetIntegerProperty(transparency_, Value); }
    chart::TPlotGradient& Gradient() { return *gradient_; }
    // Made on first use; any change repaints.
    chart::TPlotPicture& Picture();
    chart::TPlotPicture* PictureIfAny() const { return picture_.get(); }
    // Whether the user may drag the start or end edge.
    bool ResizeStart() const;
    void SetResizeStart(bool Value);
    bool ResizeEnd() const;
    void SetResizeEnd(bool Value);
    TColorLineTool& StartLine() { return *start_line_; }
    TColorLineTool& EndLine() { return *end_line_; }
    chart::TChartPen& StartLinePen() { return start_line_->Pen(); }
    chart::TChartPen& EndLinePen() { return end_line_->Pen(); }

    // A press inside the band.
    TColorBandMouseEvent OnClick;
    // After an edge was dragged.
    vcl::TNotifyEvent OnResized;

    // The band's rectangle (empty without an axis or outside its range).
    TRect BoundsRect();

    void SetAxis(chart::engine::TChartAxis* Value) override;
    void SetParentChart(chart::engine::TCustomAxisPanel* Value) override;
    void ChartEvent(chart::engine::TChartToolEvent AEvent) override;
    void ChartMouseEvent(chart::engine::TChartMouseEvent AEvent, vcl::TMouseButton Button,
                         vcl::TShiftState Shift, int X, int Y) override;
    void Assign(const chart::engine::TCustomChartElement& Source) override;
    // The values into the lines, after reading.
    void Loaded();
    std::string GetEditorClassName() const override { return "TColorBandToolEditor"; }
    std::string Description() const override;
    std::string LongDescription() const override;

  private:
    void DrawBand();
    // Both values into both lines.
    void CopyValuesToLines();
    // A line's drag step or end: its value into the band's edge.
    void LineMoved(TColorLineTool& Line);
    // The band's depth: the chart's depth when drawn behind.
    int BandZ() const;
    bool PointInBand(int X, int Y);

    vcl::TColor color_ = vcl::clWhite;
    bool draw_behind_ = true;
    bool draw_behind_axes_ = false;
    double start_value_ = 0;
    double end_value_ = 0;
    int transparency_ = 0;
    bool cursor_shown_ = false;
    std::unique_ptr<chart::TPlotGradient> gradient_;
    std::unique_ptr<chart::TPlotPicture> picture_;
    // Owned here, never in a chart's tools: they draw on the band's chart.
    std::unique_ptr<TColorLineTool, vcl::TComponentDeleter> start_line_;
    std::unique_ptr<TColorLineTool, vcl::TComponentDeleter> end_line_;
};

}  // namespace chart::tools
