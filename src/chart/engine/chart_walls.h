#pragma once
// The chart's four walls (back, left, bottom, right) as settings: colour,
// pen, brush, thickness and extent. Where and when they are drawn comes
// with the step that draws walls; their thickness already gives the axes
// their room in a 3D chart.
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

class TChartWalls {
  public:
    explicit TChartWalls(TCustomPlotPanelExtended* Chart);
    ~TChartWalls();
    TChartWall& Back() { return *back_; }
    TChartWall& Bottom() { return *bottom_; }
    TChartWall& Left() { return *left_; }
    TChartWall& Right() { return *right_; }
    // Back, bottom, left, right.
    void Assign(const TChartWalls& Source);

  private:
    std::unique_ptr<TChartWall> back_;
    std::unique_ptr<TChartWall> bottom_;
    std::unique_ptr<TChartWall> left_;
    std::unique_ptr<TChartWall> right_;
};

}  // namespace chart::engine
