#include "chart/engine/margins.h"

#include <algorithm>
#include <climits>

#include "chart/drawing/projection_math.h"
#include "chart/engine/plot_shape.h"

namespace chart::engine {

void TMargins::Store(int& field, int value) {
    if (field == value) return;
    field = value;
    if (owner_) owner_->Repaint();
}

void TMargins::SetLeft(int Value) { Store(left_, Value); }
void TMargins::SetTop(int Value) { Store(top_, Value); }
void TMargins::SetRight(int Value) { Store(right_, Value); }
void TMargins::SetBottom(int Value) { Store(bottom_, Value); }

void TMargins::SetUnits(TMarginUnits Value) {
    if (units_ == Value) return;
    units_ = Value;
    if (owner_) owner_->Repaint();
}

void TMargins::Assign(const vcl::TPersistent& Source) {
    const auto* other = dynamic_cast<const TMargins*>(&Source);
    if (!other) return vcl::TPersistent::Assign(Source);
    left_ = other->left_;
    top_ = other->top_;
    right_ = other->right_;
    bottom_ = other->bottom_;
    units_ = other->units_;
}

void TMargins::CalcSizes(int Width, int Height, int FontHeight) {
    auto size = [&](int margin, int extent) {
        switch (units_) {
            case maPercentFont:
                return chart::RoundToInt(margin * 0.02 * FontHeight);
            case maPercentSize:
                return chart::RoundToInt(margin * 0.01 * extent);
            default:
                return margin;
        }
    };
    left_size_ = size(left_, Width);
    right_size_ = size(right_, Width);
    top_size_ = size(top_, Height);
    bottom_size_ = size(bottom_, Height);
}

int TMargins::HorizSize() const {
    return static_cast<int>(
        std::clamp<long long>((long long)left_size_ + right_size_, INT32_MIN, INT32_MAX));
}

int TMargins::VertSize() const {
    return static_cast<int>(
        std::clamp<long long>((long long)top_size_ + bottom_size_, INT32_MIN, INT32_MAX));
}

}  // namespace chart::engine
