#include "chart/drawing/plot_shadow.h"

#include <algorithm>
#include <cstdlib>

#include "chart/drawing/not_available.h"

namespace chart {

TPlotShadow::TPlotShadow(TNotifyEvent ChangedEvent) : changed_(std::move(ChangedEvent)) {}

void TPlotShadow::SetClip(bool Value) { Store(clip_, Value); }
void TPlotShadow::SetColor(TColor Value) { Store(color_, Value); }
void TPlotShadow::SetHorizSize(int Value) { Store(horiz_size_, Value); }
void TPlotShadow::SetSmooth(bool Value) { Store(smooth_, Value); }
void TPlotShadow::SetSmoothBlur(int Value) { Store(smooth_blur_, Value); }
void TPlotShadow::SetTransparency(int Value) {
    Store(transparency_, static_cast<std::uint8_t>(std::clamp(Value, 0, 100)));
}
void TPlotShadow::SetVertSize(int Value) { Store(vert_size_, Value); }
void TPlotShadow::SetVisible(bool Value) { Store(visible_, Value); }

int TPlotShadow::Size() const {
    // |INT_MIN| does not fit: the sizes are measured in 64 bits.
    const long long h = std::llabs(horiz_size_), v = std::llabs(vert_size_);
    return static_cast<int>(std::min<long long>(std::max(h, v), INT32_MAX));
}

void TPlotShadow::SetSize(int Value) {
    SetHorizSize(Value);
    SetVertSize(Value);
}

void TPlotShadow::SetDefaults(TColor Color, int Size) {
    color_ = DefaultColor = Color;
    horiz_size_ = vert_size_ = DefaultSize = Size;
}

void TPlotShadow::Assign(const vcl::TPersistent& Source) {
    const auto* other = dynamic_cast<const TPlotShadow*>(&Source);
    if (!other) return vcl::TPersistent::Assign(Source);
    color_ = other->color_;
    horiz_size_ = other->horiz_size_;
    smooth_ = other->smooth_;
    smooth_blur_ = other->smooth_blur_;
    transparency_ = other->transparency_;
    vert_size_ = other->vert_size_;
    visible_ = other->visible_;
}

void TPlotShadow::Draw(TCanvas3D&, const TRect&, int, int) { NotAvailableYet("Shadow drawing"); }
void TPlotShadow::DrawEllipse(TCanvas3D&, const TRect&, int) { NotAvailableYet("Shadow drawing"); }
void TPlotShadow::DrawPolygon(TCanvas3D&, std::span<const TPoint>, int) {
    NotAvailableYet("Shadow drawing");
}

}  // namespace chart
