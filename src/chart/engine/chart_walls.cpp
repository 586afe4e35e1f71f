#include "chart/engine/chart_walls.h"

namespace chart::engine {

TCustomChartWall::TCustomChartWall(TCustomPlotPanelExtended* Chart, TColor Color)
    : TPlotCustomShape(Chart), DefaultColor(Color) {
    SetColor(Color);
}

void TCustomChartWall::Store(int& field, int value) {
    if (field == value) return;
    field = value;
    Repaint();
}

void TCustomChartWall::SetAutoHide(bool Value) {
    if (Value == auto_hide_) return;
    auto_hide_ = Value;
    Repaint();
}

void TCustomChartWall::SetDark3D(bool Value) {
    if (Value == dark3d_) return;
    dark3d_ = Value;
    Repaint();
}

void TCustomChartWall::SetEndPosition(int Value) { Store(end_position_, Value); }
void TCustomChartWall::SetStartPosition(int Value) { Store(start_position_, Value); }
void TCustomChartWall::SetSize(int Value) { Store(size_, Value); }

void TCustomChartWall::Assign(const vcl::TPersistent& Source) {
    if (const auto* other = dynamic_cast<const TCustomChartWall*>(&Source)) {
        auto_hide_ = other->auto_hide_;
        dark3d_ = other->dark3d_;
        end_position_ = other->end_position_;
        start_position_ = other->start_position_;
        size_ = other->size_;
    }
    TPlotCustomShape::Assign(Source);
}

TChartWalls::TChartWalls(TCustomPlotPanelExtended* Chart)
    : back_(std::make_unique<TChartWall>(Chart, vcl::clSilver)),
      bottom_(std::make_unique<TChartWall>(Chart, vcl::clWhite)),
      left_(std::make_unique<TChartWall>(Chart, static_cast<TColor>(0x80FFFF))),
      right_(std::make_unique<TChartWall>(Chart, vcl::clSilver)) {
    back_->DefaultTransparent = true;
    back_->SetTransparent(true);
    back_->Shadow().SetVisible(false);
    back_->Shadow().SetColor(vcl::clGray);
    right_->SetVisible(false);
}

TChartWalls::~TChartWalls() = default;

void TChartWalls::Assign(const TChartWalls& Source) {
    if (&Source == this) return;
    back_->Assign(*Source.back_);
    bottom_->Assign(*Source.bottom_);
    left_->Assign(*Source.left_);
    right_->Assign(*Source.right_);
}

}  // namespace chart::engine
