#pragma once
// The point symbol of a series: a small shape of a given half-width and
// half-height centred on a pixel (rectangle, circle, triangles, cross,
// star, diamond, dot, hexagon), flat or as a solid in a 3D view, with an
// optional shadow, gradient and transparency. It is also the base of the
// callouts that join a point to its mark.
#include <cstdint>
#include <memory>
#include <vector>

#include "chart/drawing/plot_gradient.h"
#include "chart/drawing/plot_shadow.h"
#include "chart/engine/plot_shape.h"

namespace chart::engine {

enum TSeriesPointerStyle : std::uint8_t {
    psRectangle,
    psCircle,
    psTriangle,
    psDownTriangle,
    psCross,
    psDiagCross,
    psStar,
    psDiamond,
    psSmallDot,
    psNothing,
    psLeftTriangle,
    psRightTriangle,
    psHexagon,
};

// The depth row a pointer stands in: its series' StartZ, MiddleZ and EndZ.
struct TPointerDepth {
    int StartZ = 0;
    int MiddleZ = 0;
    int EndZ = 0;
};

// What a pointer asks of the element that owns it, at every draw: the depth
// row of the owner's series and the offset the chart is drawn at. A series
// answers once it places itself in depth; without an owner both are 0.
class TPointerOwner {
  public:
    virtual TPointerDepth PointerDepth() const = 0;
    virtual TPoint DrawingOffset() const = 0;

  protected:
    ~TPointerOwner() = default;
};

class TSeriesPointer : public TPlotCustomShapeBrushPen {
  public:
    explicit TSeriesPointer(TCustomPlotPanelExtended* Chart = nullptr,
                            const TPointerOwner* Owner = nullptr);
    ~TSeriesPointer() override;

    const TPointerOwner* Owner() const { return owner_; }
    // The outline of the shape (the framed shapes' frame pen).
    chart::TChartPen& Pen() { return Frame(); }

    TSeriesPointerStyle Style() const { return style_; }
    void SetStyle(TSeriesPointerStyle Value) { Store(style_, Value); }
    // Half-width and half-height in pixels: below 1 raises ChartException
    // "Pointer size must be greater than zero" and keeps the old value.
    int HorizSize() const { return horiz_size_; }
    void SetHorizSize(int Value);
    int VertSize() const { return vert_size_; }
    void SetVertSize(int Value);
    // Kept and copied; nothing reads it.
    bool InflateMargins() const { return inflate_margins_; }
    void SetInflateMargins(bool Value) { Store(inflate_margins_, Value); }
    // Solids darken their side faces.
    bool Dark3D() const { return dark_3d_; }
    void SetDark3D(bool Value) { Store(dark_3d_, Value); }
    // In a 3D view: solids (cube, pyramid, round solid); off: flat shapes at
    // the series' front depth.
    bool Draw3D() const { return draw_3d_; }
    void SetDraw3D(bool Value) { Store(draw_3d_, Value); }
    // Invisible until shown. Its end colour becomes the point colour at each
    // draw unless KeepGradientColors is set.
    chart::TPlotGradient& Gradient() { return *gradient_; }
    void SetGradient(const chart::TPlotGradient& Value) { gradient_->Assign(Value); }
    bool KeepGradientColors = false;
    // Invisible until shown, 3 pixels each way.
    chart::TPlotShadow& Shadow() { return *shadow_; }
    void SetShadow(const chart::TPlotShadow& Value) { shadow_->Assign(Value); }
    // Percent of see-through blending, 0 to 100.
    int Transparency() const { return transparency_; }
    void SetTransparency(int Value);

    // Dark3D, Draw3D, Gradient, HorizSize, InflateMargins, Shadow, Style,
    // Transparency, VertSize, then brush, pen and visibility.
    void Assign(const vcl::TPersistent& Source) override;

    // The surface's pen and brush for a point of colour Color: an invisible
    // pen draws nothing, a pen of colour clDefault draws in Color; a brush
    // of colour clDefault fills in Color (a patterned brush in its back
    // colour).
    void PrepareCanvas(TCanvas3D& Canvas, TColor Color);
    // The colour PrepareCanvas gives the brush.
    TColor PointerColor(TColor Color);
    // One symbol centred on (PX, PY) with the surface's pen and brush: its
    // shadow, the shape (flat, or in a 3D view at the owner's depth row),
    // its gradient, blended by Transparency. psNothing draws nothing.
    void DrawPointer(TCanvas3D& Canvas, bool Is3D, int PX, int PY, int HorizSize, int VertSize,
                     TColor Color, TSeriesPointerStyle Style);

  protected:
    template <class T>
    void Store(T& field, T value) {
        if (field == value) return;
        field = value;
        Repaint();
    }

  private:
    struct TBox;
    chart::TNotifyEvent QuietRepaintEvent();
    void DrawShape(TCanvas3D& Canvas, bool Is3D, const TBox& Box, TSeriesPointerStyle Style);
    void DrawGradient(TCanvas3D& Canvas, bool Is3D, const TBox& Box, TColor Color,
                      TSeriesPointerStyle Style);

    const TPointerOwner* owner_;
    TSeriesPointerStyle style_ = psRectangle;
    int horiz_size_ = 4;
    int vert_size_ = 4;
    bool inflate_margins_ = true;
    bool dark_3d_ = true;
    bool draw_3d_ = true;
    std::unique_ptr<chart::TPlotGradient> gradient_;
    std::unique_ptr<chart::TPlotShadow> shadow_;
    int transparency_ = 0;
    // Set while the pointer itself changes its gradient or shadow (making
    // them, giving the gradient the point colour at a draw): no repaint.
    bool quiet_ = false;
};

}  // namespace chart::engine
