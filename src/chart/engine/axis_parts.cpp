#include "chart/engine/axis_parts.h"

#include "chart/engine/axis_panel.h"
#include "chart/engine/chart_axis.h"
#include "chart/engine/panel_routines.h"
#include "chart/engine/plot_panel_extended.h"

namespace chart::engine {

// ---- Title

TChartAxisTitle::TChartAxisTitle(TCustomPlotPanelExtended* Chart) : TPlotCustomShape(Chart) {
    DefaultTransparent = true;
    SetTransparent(true);
}

void TChartAxisTitle::SetAngle(int Value) {
    const int angle = static_cast<int>(((static_cast<long long>(Value) % 360) + 360) % 360);
    if (angle == angle_) return;
    angle_ = angle;
    Repaint();
}

void TChartAxisTitle::SetCaption(const std::string& Value) {
    if (Value == caption_) return;
    caption_ = Value;
    Repaint();
}

bool TChartAxisTitle::Clicked(int X, int Y) const {
    if (!Visible() || caption_.empty()) return false;
    if (angle_ == 0) return chart::PointInRectXY(ShapeBounds, X, Y);
    const auto corners = RotatedCorners(ShapeBounds, angle_);
    return PointInPolygon({X, Y}, corners, 3);
}

void TChartAxisTitle::Assign(const vcl::TPersistent& Source) {
    if (const auto* other = dynamic_cast<const TChartAxisTitle*>(&Source)) {
        angle_ = other->angle_;
        caption_ = other->caption_;
    }
    TPlotCustomShape::Assign(Source);
}

// ---- Pens

TChartAxisPen::TChartAxisPen(chart::TNotifyEvent OnChange) {
    SetWidth(2);
    SetChangeEvent(std::move(OnChange));
}

void TChartAxisPen::SetLineMode(TPenLineMode Value) {
    if (Value == line_mode_) return;
    line_mode_ = Value;
    Changed();
}

void TChartAxisPen::Assign(const vcl::TPersistent& Source) {
    if (const auto* other = dynamic_cast<const TChartAxisPen*>(&Source))
        line_mode_ = other->line_mode_;
    chart::TChartPen::Assign(Source);
}

TAxisGridPen::TAxisGridPen(chart::TNotifyEvent OnChange) : TDottedGrayPen(std::move(OnChange)) {}

void TAxisGridPen::SetCentered(bool Value) { Store(centered_, Value); }
void TAxisGridPen::SetDrawEvery(int Value) { Store(draw_every_, Value); }
void TAxisGridPen::SetZPosition(double Value) { Store(z_position_, Value); }

void TAxisGridPen::Assign(const vcl::TPersistent& Source) {
    if (const auto* other = dynamic_cast<const TAxisGridPen*>(&Source)) {
        centered_ = other->centered_;
        draw_every_ = other->draw_every_;
        z_position_ = other->z_position_;
    }
    chart::TChartPen::Assign(Source);
}

// ---- Custom labels

TAxisItem::TAxisItem(TCustomPlotPanelExtended* Chart) : TPlotCustomShape(Chart) {
    DefaultTransparent = true;
    SetTransparent(true);
}

void TAxisItem::SetValue(double Value) {
    if (Value == value_) return;
    value_ = Value;
    Repaint();
}

void TAxisItem::SetText(const std::string& Value) {
    if (Value == text_) return;
    text_ = Value;
    Repaint();
}

TAxisItems::TAxisItems(TChartAxis& Axis)
    : axis_(Axis), format_(std::make_unique<TPlotShape>(Axis.ParentChart())) {
    format_->DefaultTransparent = true;
    format_->SetTransparent(true);
}

TAxisItems::~TAxisItems() = default;

TAxisItem& TAxisItems::AddAutomatic(double Value, const std::string& Text) {
    auto item = std::make_unique<TAxisItem>(axis_.ParentChart());
    item->SetValue(Value);
    item->SetText(Text);
    items_.push_back(std::move(item));
    return *items_.back();
}

TAxisItem& TAxisItems::Add(double Value) { return Add(Value, {}); }

TAxisItem& TAxisItems::Add(double Value, const std::string& Text) {
    // The labels an automatic axis drew last are no labels of the user's.
    if (Automatic) items_.clear();
    TAxisItem& item = AddAutomatic(Value, Text);
    Automatic = false;
    item.Repaint();
    return item;
}

void TAxisItems::Clear() {
    items_.clear();
    format_->Repaint();
}

void TAxisItems::Assign(const TAxisItems& Source) {
    if (&Source == this) return;
    format_->Assign(*Source.format_);
    Clear();
    // The labels an automatic axis drew last are not custom labels: copying
    // them would freeze the copy's labels.
    Automatic = Source.Automatic;
    if (!Source.Automatic)
        for (const auto& item : Source.items_) Add(item->Value(), item->Text());
}

}  // namespace chart::engine
