#include "chart/drawing/plot_gradient.h"

#include <algorithm>

#include "chart/drawing/not_available.h"

namespace chart {

TCustomPlotGradient::TCustomPlotGradient(TNotifyEvent ChangedEvent)
    : changed_(std::move(ChangedEvent)) {}

TCustomPlotGradient::~TCustomPlotGradient() { sub_.reset(); }

void TCustomPlotGradient::SetAngle(int Value) { Store(angle_, Value); }
void TCustomPlotGradient::SetBalance(int Value) { Store(balance_, Value); }
void TCustomPlotGradient::SetDirection(TGradientDirection Value) { Store(direction_, Value); }
void TCustomPlotGradient::SetEndColor(TColor Value) { Store(end_color_, Value); }
void TCustomPlotGradient::SetRadialX(int Value) { Store(radial_x_, Value); }
void TCustomPlotGradient::SetRadialY(int Value) { Store(radial_y_, Value); }
void TCustomPlotGradient::SetStartColor(TColor Value) { Store(start_color_, Value); }
void TCustomPlotGradient::SetVisible(bool Value) { Store(visible_, Value); }

void TCustomPlotGradient::SetMidColor(TColor Value) {
    if (Value == vcl::clNone) {
        if (!has_mid_) return;
        has_mid_ = false;
        Changed();
        return;
    }
    if (has_mid_ && mid_color_ == Value) return;
    has_mid_ = true;
    mid_color_ = Value;
    Changed();
}

TSubGradient& TCustomPlotGradient::SubGradientRef() {
    if (!sub_) sub_ = std::make_unique<TSubGradient>(changed_);
    return *sub_;
}

void TCustomPlotGradient::Assign(const vcl::TPersistent& Source) {
    const auto* other = dynamic_cast<const TCustomPlotGradient*>(&Source);
    if (!other) return vcl::TPersistent::Assign(Source);
    if (other == this) return;
    angle_ = other->angle_;
    balance_ = other->balance_;
    direction_ = other->direction_;
    end_color_ = other->end_color_;
    mid_color_ = other->mid_color_;
    radial_x_ = other->radial_x_;
    radial_y_ = other->radial_y_;
    start_color_ = other->start_color_;
    visible_ = other->visible_;
    has_mid_ = other->has_mid_;
    if (other->sub_) {
        TSubGradient& sub = SubGradientRef();
        sub.Assign(*other->sub_);
        sub.transparency_ = other->sub_->transparency_;
    } else {
        sub_.reset();
    }
}

void TCustomPlotGradient::Draw(TCanvas3D&, const TRect&, int) { NotAvailableYet("Gradient drawing"); }

void TCustomPlotGradient::DrawPolygon(TCanvas3D&, std::span<const TPoint>) {
    NotAvailableYet("Gradient drawing");
}

void TCustomPlotGradient::DrawPolygonWithZ(TCanvas3D&, std::span<const TPoint>, int) {
    NotAvailableYet("Gradient drawing");
}

void DrawRadialGradient(TCustomPlotGradient&, TCanvas3D&, const TRect&) {
    NotAvailableYet("Radial gradient drawing");
}

TSubGradient::TSubGradient(TNotifyEvent ChangedEvent) : TCustomPlotGradient(std::move(ChangedEvent)) {}

void TSubGradient::SetTransparency(int Value) {
    Store(transparency_, static_cast<std::uint8_t>(std::clamp(Value, 0, 100)));
}

TPlotGradient::TPlotGradient(TNotifyEvent ChangedEvent) : TCustomPlotGradient(std::move(ChangedEvent)) {}

void TPlotGradient::SetSubGradient(const TSubGradient& Value) {
    TSubGradient& sub = SubGradientRef();
    sub.Assign(Value);
    sub.SetTransparency(Value.Transparency());
}

TPlotFontGradient::TPlotFontGradient(TNotifyEvent ChangedEvent) : TPlotGradient(std::move(ChangedEvent)) {}

void TPlotFontGradient::SetOutline(bool Value) { Store(outline_, Value); }

}  // namespace chart
