#pragma once
// Tools bound to an axis: scrolling it by dragging on it, clickable arrows
// at its ends that scroll it by a share of its range, and bands of two
// alternating fills between its grid lines.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "chart/drawing/plot_gradient.h"
#include "chart/engine/plot_tool.h"

namespace chart::engine {
class TCustomChart;
}

namespace chart::tools {

// Moves Axis by Offset values as a user's scroll does: the chart's
// OnAllowScroll may refuse; with Pairs, the other axis of a pair (top and
// bottom, left and right) that a series bound to both of them shares moves
// too; then the chart's OnScroll. Whether the axis moved.
bool ScrollAxisByUser(engine::TChartAxis& Axis, double Offset, bool Pairs);

class TAxisScrollTool : public engine::TPlotCustomToolAxis {
  public:
    explicit TAxisScrollTool(vcl::TComponent* AOwner);

    bool ScrollInverted() const { return scroll_inverted_; }
    void SetScrollInverted(bool Value) { scroll_inverted_ = Value; }
    // The axis a press caught, while the button is held.
    engine::TChartAxis* DraggedAxis() const { return dragged_; }

    void ChartMouseEvent(engine::TChartMouseEvent AEvent, vcl::TMouseButton Button, vcl::TShiftState Shift,
                         int X, int Y) override;
    void SetParentChart(engine::TCustomAxisPanel* Value) override;
    void Assign(const engine::TCustomChartElement& Source) override;
    std::string Description() const override;
    std::string LongDescription() const override;
    std::string GetEditorClassName() const override { return "TAxisScrollEditor"; }

  private:
    engine::TChartAxis* AxisAt(int X, int Y);
    bool scroll_inverted_ = false;
    engine::TChartAxis* dragged_ = nullptr;
    int old_x_ = 0;
    int old_y_ = 0;
};

enum TAxisArrowToolPosition : std::uint8_t { aaStart, aaEnd, aaBoth };
using TAxisArrowClickEvent = std::function<void(vcl::TComponent* Sender, bool AtStart)>;

class TAxisArrowTool : public engine::TPlotCustomToolAxis {
  public:
    explicit TAxisArrowTool(vcl::TComponent* AOwner);

    int HeadWidth() const { return head_width_; }
    void SetHeadWidth(int Value) { SetIntegerProperty(head_width_, std::max(0, Value)); }
    int Length() const { return length_; }
    void SetLength(int Value) { SetIntegerProperty(length_, std::max(0, Value)); }
    TAxisArrowToolPosition Position() const { return position_; }
    void SetPosition(TAxisArrowToolPosition Value);
    // Percent of the axis range per click; 0 makes the arrows inert.
    int ScrollPercent() const { return scroll_percent_; }
    void SetScrollPercent(int Value) { scroll_percent_ = Value; }
    bool ScrollInverted() const { return scroll_inverted_; }
    void SetScrollInverted(bool Value) { scroll_inverted_ = Value; }
    // Width of the arrow's body in percent of its head.
    int SizePercent() const { return size_percent_; }
    void SetSizePercent(int Value) { SetIntegerProperty(size_percent_, std::clamp(Value, 0, 100)); }
    TAxisArrowClickEvent OnClick;

    // -1 none, 0 the start arrow, 1 the end arrow.
    int ClickedArrow(int X, int Y);
    void ChartEvent(engine::TChartToolEvent AEvent) override;
    void ChartMouseEvent(engine::TChartMouseEvent AEvent, vcl::TMouseButton Button, vcl::TShiftState Shift,
                         int X, int Y) override;
    void Assign(const engine::TCustomChartElement& Source) override;
    std::string Description() const override;
    std::string LongDescription() const override;
    std::string GetEditorClassName() const override { return "TAxisArrowToolEditor"; }

  private:
    int head_width_ = 8;
    int length_ = 16;
    TAxisArrowToolPosition position_ = aaBoth;
    int scroll_percent_ = 10;
    bool scroll_inverted_ = false;
    int size_percent_ = 50;
};

// A band's fill: a brush with a colour behind its hatch, an optional
// gradient and a transparency.
class TGridBandBrush : public chart::TChartBrush {
  public:
    explicit TGridBandBrush(TNotifyEvent OnChange = {});
    ~TGridBandBrush() override;

    chart::TPlotGradient& Gradient() { return *gradient_; }
    int Transparency() const { return transparency_; }
    // A percent: held to 0..100.
    void SetTransparency(int Value);
    void Assign(const vcl::TPersistent& Source) override;

  private:
    std::unique_ptr<chart::TPlotGradient> gradient_;
    int transparency_ = 0;
};

class TGridBandTool : public engine::TPlotCustomToolAxis {
  public:
    explicit TGridBandTool(vcl::TComponent* AOwner);
    ~TGridBandTool() override;

    TGridBandBrush& Band1() { return *band1_; }
    TGridBandBrush& Band2() { return *band2_; }
    // Where the bands run across the axis; both 0: the chart rectangle.
    int BandStart = 0;
    int BandEnd = 0;

    void SetAxis(engine::TChartAxis* Value) override;
    // The axis's grid-drawing hook: the bands between its ticks.
    void DrawGrids(engine::TChartAxis* Sender);
    void Assign(const engine::TCustomChartElement& Source) override;
    std::string Description() const override;
    std::string LongDescription() const override;
    std::string GetEditorClassName() const override { return "TGridBandToolEdit"; }

  private:
    void DrawBand(int A, int B, TGridBandBrush& Brush, bool Horizontal);
    void Detach();
    std::unique_ptr<TGridBandBrush> band1_;
    std::unique_ptr<TGridBandBrush> band2_;
    engine::TChartAxis* hooked_ = nullptr;
    int extent_start_ = 0;
    int extent_end_ = 0;
};

}  // namespace chart::tools
