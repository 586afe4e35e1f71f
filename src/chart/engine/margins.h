#pragma once
// The four-sided space between a framed shape's text and its frame, in
// percent of the font height, percent of the size, or pixels.
#include <cstdint>

#include "platform/vcl/persistent.h"

namespace chart::engine {

class TPlotCustomShape;

enum TMarginUnits : std::uint8_t { maPercentFont, maPercentSize, maPixels };

class TMargins : public vcl::TPersistent {
  public:
    // Owner is repainted when a margin changes; it may be none.
    explicit TMargins(TPlotCustomShape* Owner = nullptr) : owner_(Owner) {}

    int Left() const { return left_; }
    int Top() const { return top_; }
    int Right() const { return right_; }
    int Bottom() const { return bottom_; }
    TMarginUnits Units() const { return units_; }
    void SetLeft(int Value);
    void SetTop(int Value);
    void SetRight(int Value);
    void SetBottom(int Value);
    void SetUnits(TMarginUnits Value);

    // Left and Right are written to a stream only when they differ from
    // this (owners such as marks set another); Top and Bottom from 5.
    int DefaultHorizMargin = 10;
    bool IsLeftStored() const { return left_ != DefaultHorizMargin; }
    bool IsRightStored() const { return right_ != DefaultHorizMargin; }
    bool IsTopStored() const { return top_ != 5; }
    bool IsBottomStored() const { return bottom_ != 5; }

    // The margins and Units of another TMargins.
    void Assign(const vcl::TPersistent& Source) override;

    // The pixel sizes for a box of Width x Height with text of FontHeight:
    // margin x 2 % of the font height, margin % of the width (left, right)
    // or height (top, bottom), or the margin itself; rounded, halves to even.
    void CalcSizes(int Width, int Height, int FontHeight);
    int LeftSize() const { return left_size_; }
    int TopSize() const { return top_size_; }
    int RightSize() const { return right_size_; }
    int BottomSize() const { return bottom_size_; }
    // Left + right and top + bottom pixel sizes (held to 32 bits).
    int HorizSize() const;
    int VertSize() const;

  private:
    void Store(int& field, int value);
    TPlotCustomShape* owner_;
    int left_ = 10;
    int top_ = 5;
    int right_ = 10;
    int bottom_ = 5;
    TMarginUnits units_ = maPercentFont;
    int left_size_ = 0;
    int top_size_ = 0;
    int right_size_ = 0;
    int bottom_size_ = 0;
};

}  // namespace chart::engine
