#pragma once
// Drop shadows: the settings chart elements and fonts own. Text shadows
// of one flat colour are drawn by the surface (TPlotCanvas3D::TextOut);
// shadows of shapes, and transparent or blurred ones, come with the effects
// of a later step, and until then the drawing calls raise ENotAvailableYet.
#include <cstdint>
#include <span>

#include "chart/drawing/notify_event.h"
#include "chart/drawing/plot_geometry.h"
#include "platform/vcl/persistent.h"

namespace chart {

class TCanvas3D;

class TPlotShadow : public vcl::TPersistent {
public:
    explicit TPlotShadow(TNotifyEvent ChangedEvent = {});

    bool Clip() const { return clip_; }
    TColor Color() const { return color_; }
    int HorizSize() const { return horiz_size_; }
    bool Smooth() const { return smooth_; }
    int SmoothBlur() const { return smooth_blur_; }
    int Transparency() const { return transparency_; }
    int VertSize() const { return vert_size_; }
    bool Visible() const { return visible_; }

    void SetClip(bool Value);
    void SetColor(TColor Value);
    void SetHorizSize(int Value);
    void SetSmooth(bool Value);
    void SetSmoothBlur(int Value);
    // Percent, 0 to 100.
    void SetTransparency(int Value);
    void SetVertSize(int Value);
    void SetVisible(bool Value);

    // The larger of |HorizSize| and |VertSize|; SetSize sets both.
    int Size() const;
    void SetSize(int Value);
    // Drawable: a colour and at least one non-zero size.
    bool Valid() const { return color_ != vcl::clNone && (horiz_size_ != 0 || vert_size_ != 0); }

    // Other defaults for an owner: sets Color, both sizes and the fields
    // they are tested against for streaming, without a change event.
    void SetDefaults(TColor Color, int Size);
    TColor DefaultColor = 0xC0C0C0;
    int DefaultSize = 0;
    bool DefaultVisible = true;
    bool IsColorStored() const { return color_ != DefaultColor; }
    bool IsHorizSizeStored() const { return horiz_size_ != DefaultSize; }
    bool IsVertSizeStored() const { return vert_size_ != DefaultSize; }
    bool IsVisibleStored() const { return visible_ != DefaultVisible; }

    // Everything but Clip.
    void Assign(const vcl::TPersistent& Source) override;

    void Draw(TCanvas3D& Canvas, const TRect& Rect, int Z, int RoundSize);
    void DrawRect(TCanvas3D& Canvas, const TRect& Rect) { Draw(Canvas, Rect, 0, 0); }
    void DrawEllipse(TCanvas3D& Canvas, const TRect& Rect, int Z);
    void DrawPolygon(TCanvas3D& Canvas, std::span<const TPoint> Points, int Z);

private:
    template <class T>
    void Store(T& field, T value) {
        if (field == value) return;
        field = value;
        if (changed_) changed_(this);
    }
    bool clip_ = false;
    TColor color_ = 0xC0C0C0;
    int horiz_size_ = 0;
    bool smooth_ = true;
    int smooth_blur_ = 0;
    std::uint8_t transparency_ = 0;
    int vert_size_ = 0;
    bool visible_ = true;
    TNotifyEvent changed_;
};

}  // namespace chart
