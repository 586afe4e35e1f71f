#pragma once
// Drop shadows: the settings chart elements and fonts own, and the shadow
// of a rectangle, rounded rectangle, ellipse or polygon drawn before the
// shape itself: flat (one colour), transparent (flat, blended), graded
// (lines lightening step by step, for surfaces without a bitmap) or smooth
// (a blurred copy of the shape multiplied into the surface's bitmap).
// Text shadows are drawn by the surface's TextOut.
#include <cstdint>
#include <span>

#include "chart/drawing/notify_event.h"
#include "chart/drawing/plot_geometry.h"
#include "platform/vcl/persistent.h"

namespace vcl {
class TBitmap;
}

namespace chart {

class TCanvas3D;
class TPlotCanvas;

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

    // The shadow of Rect at depth Z (rounded with RoundSize >= 1), of the
    // ellipse inside Rect, of a polygon. Nothing without a colour or a size.
    // The canvas pen and brush come back as they were.
    void Draw(TCanvas3D& Canvas, const TRect& Rect, int Z, int RoundSize);
    void DrawRect(TCanvas3D& Canvas, const TRect& Rect) { Draw(Canvas, Rect, 0, 0); }
    void DrawEllipse(TCanvas3D& Canvas, const TRect& Rect, int Z);
    void DrawPolygon(TCanvas3D& Canvas, std::span<const TPoint> Points, int Z);

private:
    enum class Shape { Rectangle, RoundRectangle, Ellipse, Polygon };
    void DrawFlat(TCanvas3D& Canvas, const TRect& Rect, int Z, int RoundSize);
    void DrawGraded(TCanvas3D& Canvas, const TRect& Rect, int Z);
    // False when the blurred copy would be too large to make.
    bool DrawSmooth(TCanvas3D& Canvas, Shape Kind, const TRect& R, int RoundSize, std::span<const TPoint> Points);

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

// The blur of smooth shadows. Source (24 bits per pixel) is blurred with a
// Gaussian-like profile of radii RX across and RY down, spread by Spread;
// the blurred copy multiplies the pixels of Dest at (OffX, OffY) (without
// Dest, Source takes it). Negative radii blur the whole bitmap and move it
// 2 x |radius| further back; otherwise, unless Whole, only the right and
// bottom fringes (where the shape does not cover its shadow) are worked.
// With ClipCanvas, target pixels outside its clip are left alone.
void PlotBlurShadow(vcl::TBitmap& Source, vcl::TBitmap* Dest, int OffX, int OffY, TPlotCanvas* ClipCanvas,
                    bool Whole, double Spread, int RY, int RX);

// A colour darker (Amount > 0) or lighter (Amount < 0) by |Amount| on each
// channel, held to 0..255.
TColor PlotShadeColor(TColor Color, int Amount);

}  // namespace chart
