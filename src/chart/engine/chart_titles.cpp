#include "chart/engine/chart_titles.h"

#include "chart/drawing/plot_geometry.h"

namespace chart::engine {

void TPlotCustomShapePosition::SetCustomPosition(bool Value) {
    if (Value == custom_position_) return;
    custom_position_ = Value;
    Repaint();
}

void TPlotCustomShapePosition::SetLeft(int Value) {
    ShapeBounds.Left = Value;
    custom_position_ = true;
    Repaint();
}

void TPlotCustomShapePosition::SetTop(int Value) {
    ShapeBounds.Top = Value;
    custom_position_ = true;
    Repaint();
}

void TPlotCustomShapePosition::Assign(const vcl::TPersistent& Source) {
    if (const auto* other = dynamic_cast<const TPlotCustomShapePosition*>(&Source)) {
        custom_position_ = other->custom_position_;
        if (custom_position_) {
            ShapeBounds.Left = other->ShapeBounds.Left;
            ShapeBounds.Top = other->ShapeBounds.Top;
        }
    }
    TPlotCustomShape::Assign(Source);
}

TChartTitle::TChartTitle(TCustomPlotPanelExtended* Chart, bool AtTop)
    : TPlotCustomShapePosition(Chart), text_(std::make_unique<vcl::TStringList>()), at_top_(AtTop) {
    DefaultTransparent = true;
    SetTransparent(true);
    Font().DefaultColor = vcl::clBlue;
    Font().SetColor(vcl::clBlue);
    text_->OnChange = [this](vcl::TStringList*) { Repaint(); };
}

TChartTitle::~TChartTitle() = default;

void TChartTitle::SetAdjustFrame(bool Value) {
    if (Value == adjust_frame_) return;
    adjust_frame_ = Value;
    Repaint();
}

void TChartTitle::SetAlignment(TAlignment Value) {
    if (Value == alignment_) return;
    alignment_ = Value;
    Repaint();
}

void TChartTitle::SetText(const vcl::TStrings& Value) { text_->Assign(Value); }

void TChartTitle::SetVertMargin(int Value) {
    if (Value == vert_margin_) return;
    vert_margin_ = Value;
    Repaint();
}

bool TChartTitle::Clicked(int X, int Y) const {
    return Visible() && chart::PointInRectXY(ShapeBounds, X, Y);
}

void TChartTitle::Assign(const vcl::TPersistent& Source) {
    if (const auto* other = dynamic_cast<const TChartTitle*>(&Source)) {
        adjust_frame_ = other->adjust_frame_;
        alignment_ = other->alignment_;
        text_->Assign(*other->text_);
        vert_margin_ = other->vert_margin_;
    }
    TPlotCustomShapePosition::Assign(Source);
}

TChartFootTitle::TChartFootTitle(TCustomPlotPanelExtended* Chart) : TChartTitle(Chart, false) {
    Font().DefaultColor = vcl::clRed;
    Font().SetColor(vcl::clRed);
    Font().DefaultStyle = vcl::fsItalic;
    Font().SetStyle(vcl::fsItalic);
}

TChartLegend::TChartLegend(TCustomPlotPanelExtended* Chart) : TPlotCustomShapePosition(Chart) {}

}  // namespace chart::engine
