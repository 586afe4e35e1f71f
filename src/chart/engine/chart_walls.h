#pragma once
// The chart's four walls (back, left, bottom, right): colour, pen, brush,
// thickness and extent, and how each is drawn: a rectangle behind the
// series in 2D; in 3D planes or blocks on the sides of the chart's box,
// drawn behind the series or, when they face the viewer, in front of them.
#include <cstdint>
#include <memory>

#include "chart/engine/plot_shape.h"

namespace chart::engine {

class TCustomChartWall : public TPlotCustomShape {
  public:
    TCustomChartWall(TCustomPlotPanelExtended* Chart, TColor Color);

    // Not drawn in front of the series.
    bool AutoHide() const { return auto_hide_; }
    void SetAutoHide(bool Value);
    // The sides of a thick wall darkened.
    bool Dark3D() const { return dark3d_; }
    void SetDark3D(bool Value);
    // Extent along the wall's length, in percent.
    int EndPosition() const { return end_position_; }
    void SetEndPosition(int Value);
    int StartPosition() const { return start_position_; }
    void SetStartPosition(int Value);
    // Thickness in pixels: 0 a plane.
    int Size() const { return size_; }
    void SetSize(int Value);
    // The colour it was made with; Color is stored only when it differs.
    TColor DefaultColor = vcl::clDefault;
    bool IsColorStored() const { return Color() != DefaultColor; }

    // The five wall settings, then the shape.
    void Assign(const vcl::TPersistent& Source) override;

  private:
    void Store(int& field, int value);
    bool auto_hide_ = false;
    bool dark3d_ = true;
    int end_position_ = 100;
    int start_position_ = 0;
    int size_ = 0;
};

class TChartWall : public TCustomChartWall {
  public:
    using TCustomChartWall::TCustomChartWall;
};

class TCustomChart;

enum class TWallKind : std::uint8_t { Back, Left, Bottom, Right };

class TChartWalls {
  public:
    explicit TChartWalls(TCustomPlotPanelExtended* Chart);
    ~TChartWalls();
    TChartWall& Back() { return *back_; }
    TChartWall& Bottom() { return *bottom_; }
    TChartWall& Left() { return *left_; }
    TChartWall& Right() { return *right_; }
    TChartWall& Wall(TWallKind Kind);
    // Back, bottom, left, right.
    void Assign(const TChartWalls& Source);

  private:
    std::unique_ptr<TChartWall> back_;
    std::unique_ptr<TChartWall> bottom_;
    std::unique_ptr<TChartWall> left_;
    std::unique_ptr<TChartWall> right_;
};

// ---- Drawing (on the chart's surface, with its last layout)

// Top and bottom of the side walls (and of the back wall): the chart
// rectangle's height, the bottom wall's thickness below it, cut by the
// walls' StartPosition and EndPosition.
void SideWallHeight(TCustomChart& Chart, const TCustomChartWall& Wall, int& Top, int& Bottom);
// Whether the side of the chart's box at X faces away from the viewer, so
// that its wall goes behind the series (always on a full-3D surface).
bool WallSideTest(TCustomChart& Chart, int X);
// Draws one wall at its place.
void DrawWall(TCustomChart& Chart, TWallKind Kind);

}  // namespace chart::engine
