#pragma once
// Turning a 3D chart with the mouse: across changes the rotation, up and
// down the elevation. While dragging, a visible Pen draws only the outline
// of the chart's 3D box (in XOR, no repaint); after release the chart may
// keep turning with decaying speed.
#include <cstdint>
#include <memory>
#include <string>

#include "chart/engine/plot_tool.h"
#include "chart/tools/repaint_hold.h"

namespace vcl {
class TTimer;
}

namespace chart::tools {

enum TRotateToolStyles : std::uint8_t { rsAll, rsRotation, rsElevation };

class TRotateTool : public engine::TPlotCustomTool {
  public:
    explicit TRotateTool(vcl::TComponent* AOwner);
    ~TRotateTool() override;

    vcl::TMouseButton Button() const { return button_; }
    void SetButton(vcl::TMouseButton Value) { button_ = Value; }
    // Shown while turning; crDefault shows none of its own.
    vcl::TCursor Cursor() const { return cursor_; }
    void SetCursor(vcl::TCursor Value) { cursor_ = Value; }
    // 0 to 100 (held there); above 0 the chart keeps turning after release.
    int Inertia() const { return inertia_; }
    void SetInertia(int Value);
    bool Inverted() const { return inverted_; }
    void SetInverted(bool Value) { inverted_ = Value; }
    // 50 is neutral; 100 turns half as much again.
    int Speed() const { return speed_; }
    void SetSpeed(int Value) { speed_ = Value; }
    TRotateToolStyles Style() const { return style_; }
    void SetStyle(TRotateToolStyles Value) { style_ = Value; }
    vcl::TNotifyEvent OnRotate;

    bool Dragging() const { return dragging_; }
    bool InertiaRunning() const;
    double RotationStep() const { return rotation_step_; }
    double ElevationStep() const { return elevation_step_; }
    // Turns the chart's view by the steps, as the tool's style and the
    // surface's limits allow.
    void Turn(double Rotation, double Elevation);
    void StopInertia();

    void SetActive(bool Value) override;
    void SetParentChart(engine::TCustomAxisPanel* Value) override;
    void ChartEvent(engine::TChartToolEvent AEvent) override;
    void ChartMouseEvent(engine::TChartMouseEvent AEvent, vcl::TMouseButton Button, vcl::TShiftState Shift,
                         int X, int Y) override;
    void Assign(const engine::TCustomChartElement& Source) override;
    std::string Description() const override;
    std::string LongDescription() const override;
    std::string GetEditorClassName() const override { return "TRotateToolEditor"; }

  private:
    // The chart's 3D box at depth 0 and at its depth, joined at the corners.
    void DrawOutline();
    // Ends a drag however it ends: outline given up, repaints back, cursor back.
    void EndDrag(bool Repaint);
    void InertiaTick();

    vcl::TMouseButton button_ = vcl::TMouseButton::mbLeft;
    vcl::TCursor cursor_;
    int inertia_ = 0;
    bool inverted_ = false;
    int speed_ = 50;
    TRotateToolStyles style_ = rsAll;
    bool dragging_ = false;
    bool first_move_ = false;
    bool outline_shown_ = false;
    int old_x_ = 0;
    int old_y_ = 0;
    double rotation_step_ = 0;
    double elevation_step_ = 0;
    vcl::TCursor saved_cursor_ = vcl::TCursor::crDefault;
    TRepaintHold hold_;
    std::unique_ptr<vcl::TTimer> timer_;
};

}  // namespace chart::tools
