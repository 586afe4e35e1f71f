#pragma once
// The chart's titles: framed shapes with lines of text at the top (title,
// subtitle) or the bottom (foot, subfoot) of the chart. Unless placed by
// hand (CustomPosition), a title measures itself, takes its room off the
// chart rectangle and is drawn before the series.
#include <cstdint>
#include <memory>

#include "chart/engine/plot_shape.h"
#include "platform/vcl/string_list.h"

namespace chart::engine {

enum TAlignment : std::uint8_t { taLeftJustify, taRightJustify, taCenter };

// A shape whose Left and Top may be set by hand.
class TPlotCustomShapePosition : public TPlotCustomShape {
  public:
    using TPlotCustomShape::TPlotCustomShape;
    bool CustomPosition() const { return custom_position_; }
    void SetCustomPosition(bool Value);
    bool DefaultCustomPosition = false;
    bool IsCustomPositionStored() const { return custom_position_ != DefaultCustomPosition; }
    // ShapeBounds' Left and Top; setting either places the shape by hand.
    int Left() const { return ShapeBounds.Left; }
    int Top() const { return ShapeBounds.Top; }
    void SetLeft(int Value);
    void SetTop(int Value);
    // CustomPosition (with Left and Top when set), then the shape.
    void Assign(const vcl::TPersistent& Source) override;

  private:
    bool custom_position_ = false;
};

class TChartTitle : public TPlotCustomShapePosition {
  public:
    explicit TChartTitle(TCustomPlotPanelExtended* Chart, bool AtTop = true);
    ~TChartTitle() override;

    // The frame as wide as the widest line, else as the chart rectangle.
    bool AdjustFrame() const { return adjust_frame_; }
    void SetAdjustFrame(bool Value);
    TAlignment Alignment() const { return alignment_; }
    void SetAlignment(TAlignment Value);
    // The lines; a change repaints the chart.
    vcl::TStringList& Text() { return *text_; }
    void SetText(const vcl::TStrings& Value);
    // Pixels between the title and the chart rectangle.
    int VertMargin() const { return vert_margin_; }
    void SetVertMargin(int Value);
    // At the top (titles) or the bottom (foot titles).
    bool AtTop() const { return at_top_; }
    // Visible and the point inside the title's bounds.
    bool Clicked(int X, int Y) const;
    // Lays the title out (unless placed by hand, from the chart rectangle,
    // which loses the room taken) and draws its box and lines. Nothing
    // when hidden or without lines.
    void DrawTitle();

    void Assign(const vcl::TPersistent& Source) override;

  private:
    bool adjust_frame_ = true;
    TAlignment alignment_ = taCenter;
    std::unique_ptr<vcl::TStringList> text_;
    int vert_margin_ = 5;
    bool at_top_ = true;
};

// Red, italic, at the bottom.
class TChartFootTitle : public TChartTitle {
  public:
    explicit TChartFootTitle(TCustomPlotPanelExtended* Chart);
};

}  // namespace chart::engine
