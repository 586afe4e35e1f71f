#pragma once
// Gradients: the settings of a colour transition that chart elements own
// and fill rectangles and polygons with. Drawing them comes with the
// effects of a later step; until then the drawing calls raise
// ENotAvailableYet.
#include <cstdint>
#include <memory>

#include "chart/drawing/notify_event.h"
#include "chart/drawing/plot_geometry.h"
#include "platform/vcl/persistent.h"

namespace chart {

class TCanvas3D;

enum TGradientDirection : std::uint8_t {
    gdTopBottom,
    gdBottomTop,
    gdLeftRight,
    gdRightLeft,
    gdFromCenter,
    gdFromTopLeft,
    gdFromBottomLeft,
    gdRadial,
    gdDiagonalUp,
    gdDiagonalDown,
};

class TSubGradient;

class TCustomPlotGradient : public vcl::TPersistent {
public:
    explicit TCustomPlotGradient(TNotifyEvent ChangedEvent = {});
    ~TCustomPlotGradient() override;

    int Angle() const { return angle_; }
    int Balance() const { return balance_; }
    TGradientDirection Direction() const { return direction_; }
    TColor EndColor() const { return end_color_; }
    // clNone whenever no middle colour is in use.
    TColor MidColor() const { return has_mid_ ? mid_color_ : vcl::clNone; }
    bool HasMidColor() const { return has_mid_; }
    int RadialX() const { return radial_x_; }
    int RadialY() const { return radial_y_; }
    TColor StartColor() const { return start_color_; }
    bool Visible() const { return visible_; }

    void SetAngle(int Value);
    void SetBalance(int Value);
    void SetDirection(TGradientDirection Value);
    void SetEndColor(TColor Value);
    // clNone switches the middle colour off; any other colour on.
    void SetMidColor(TColor Value);
    void SetRadialX(int Value);
    void SetRadialY(int Value);
    void SetStartColor(TColor Value);
    void SetVisible(bool Value);

    // The sub-gradient when one was made, without making it.
    TSubGradient* SubGradientIfAny() const { return sub_.get(); }

    // Copies every setting and the sub-gradient (or frees this one's when
    // the source has none); no change event.
    void Assign(const vcl::TPersistent& Source) override;

    void Draw(TCanvas3D& Canvas, const TRect& Rect, int RoundSize = 0);
    void DrawPolygon(TCanvas3D& Canvas, std::span<const TPoint> Points);
    void DrawPolygonWithZ(TCanvas3D& Canvas, std::span<const TPoint> Points, int Z);

    const TNotifyEvent& ChangedEvent() const { return changed_; }

protected:
    void Changed() {
        if (changed_) changed_(this);
    }
    template <class T>
    void Store(T& field, T value) {
        if (field == value) return;
        field = value;
        Changed();
    }
    // Made on first use, with this gradient's change event.
    TSubGradient& SubGradientRef();
    void FreeSubGradient() { sub_.reset(); }

private:
    int angle_ = 0;
    int balance_ = 50;
    TGradientDirection direction_ = gdTopBottom;
    TColor end_color_ = 0x00FFFF;
    TColor mid_color_ = vcl::clNone;
    int radial_x_ = 0;
    int radial_y_ = 0;
    TColor start_color_ = 0xFFFFFF;
    std::unique_ptr<TSubGradient> sub_;
    bool visible_ = false;
    bool has_mid_ = false;
    TNotifyEvent changed_;
};

// A second gradient drawn over its parent with a transparency.
class TSubGradient : public TCustomPlotGradient {
public:
    explicit TSubGradient(TNotifyEvent ChangedEvent = {});
    // Percent, 0 to 100.
    int Transparency() const { return transparency_; }
    void SetTransparency(int Value);

private:
    friend class TCustomPlotGradient;  // copies the transparency silently in Assign
    std::uint8_t transparency_ = 50;
};

class TPlotGradient : public TCustomPlotGradient {
public:
    explicit TPlotGradient(TNotifyEvent ChangedEvent = {});
    // Made on first read, with this gradient's change event and Transparency 50.
    TSubGradient* SubGradient() { return &SubGradientRef(); }
    // Copies Value's settings and transparency into this one's sub-gradient.
    void SetSubGradient(const TSubGradient& Value);
};

// The fill of a chart font's letters.
class TPlotFontGradient : public TPlotGradient {
public:
    explicit TPlotFontGradient(TNotifyEvent ChangedEvent = {});
    // Fill the letters' outline instead of their inside.
    bool Outline() const { return outline_; }
    void SetOutline(bool Value);

private:
    bool outline_ = false;
};

// The elliptical band fill of a gradient over Rect.
void DrawRadialGradient(TCustomPlotGradient& Gradient, TCanvas3D& Canvas, const TRect& Rect);

}  // namespace chart
