#pragma once
// The framed box of titles, legends, marks and annotations: fill, frame,
// bevel, shadow, gradient, picture and transparency, as a rectangle, a
// rounded rectangle or an ellipse, optionally rotated. It draws only the
// box; its owner lays out and draws the text inside.
#include <array>
#include <cstdint>
#include <memory>

#include "chart/drawing/plot_font.h"
#include "chart/drawing/plot_gradient.h"
#include "chart/drawing/plot_pens.h"
#include "chart/drawing/plot_shadow.h"
#include "chart/engine/back_image.h"
#include "platform/vcl/std_ctrls.h"

namespace chart::engine {

class TCustomPlotPanelExtended;
class TFiler;

enum TChartObjectShapeStyle : std::uint8_t { fosRectangle, fosRoundRectangle, fosEllipse };
enum TTextFormat : std::uint8_t { ttfNormal, ttfHtml };

// Brush, frame pen, visibility and the chart panel the shape belongs to.
class TPlotCustomShapeBrushPen : public vcl::TPersistent {
  public:
    explicit TPlotCustomShapeBrushPen(TCustomPlotPanelExtended* AOwner = nullptr);
    ~TPlotCustomShapeBrushPen() override;

    chart::TChartBrush& Brush() { return *brush_; }
    void SetBrush(const chart::TChartBrush& Value) { brush_->Assign(Value); }
    chart::TChartPen& Frame() { return *frame_; }
    void SetFrame(const chart::TChartPen& Value) { frame_->Assign(Value); }
    TCustomPlotPanelExtended* ParentChart() const { return parent_; }
    virtual void SetParentChart(TCustomPlotPanelExtended* Value) { parent_ = Value; }
    bool Visible() const { return visible_; }
    void SetVisible(bool Value);

    // Invalidates the chart, when there is one.
    void Repaint();

    // Brush, Frame and Visible of another shape.
    void Assign(const vcl::TPersistent& Source) override;

  protected:
    // The change event of the shape's settings objects: Repaint.
    chart::TNotifyEvent RepaintEvent();

  private:
    TCustomPlotPanelExtended* parent_;
    std::unique_ptr<chart::TChartBrush> brush_;
    std::unique_ptr<chart::TChartPen> frame_;
    bool visible_ = true;
};

class TPlotCustomShape : public TPlotCustomShapeBrushPen {
  public:
    explicit TPlotCustomShape(TCustomPlotPanelExtended* AOwner = nullptr);
    ~TPlotCustomShape() override;

    vcl::TBevelCut Bevel() const { return bevel_; }
    void SetBevel(vcl::TBevelCut Value);
    int BevelWidth() const { return bevel_width_; }
    // At least 1.
    void SetBevelWidth(int Value);
    TColor Color() const { return color_; }
    void SetColor(TColor Value);
    chart::TPlotFont& Font() { return *font_; }
    void SetFont(const chart::TPlotFont& Value) { font_->Assign(Value); }
    // Made on first read, of the class CreateGradient gives.
    chart::TPlotGradient& Gradient();
    chart::TPlotGradient* GradientIfAny() const { return gradient_.get(); }
    // A copy into the shape's own; none frees it.
    void SetGradient(const chart::TPlotGradient* Value);
    // Made on first read.
    TBackImage& Picture();
    TBackImage* PictureIfAny() const { return picture_.get(); }
    void SetPicture(const TBackImage* Value);
    int RoundSize() const { return round_size_; }
    void SetRoundSize(int Value);
    chart::TPlotShadow& Shadow() { return *shadow_; }
    void SetShadow(const chart::TPlotShadow& Value) { shadow_->Assign(Value); }
    TChartObjectShapeStyle ShapeStyle() const { return shape_style_; }
    void SetShapeStyle(TChartObjectShapeStyle Value);
    TTextFormat TextFormat() const { return text_format_; }
    void SetTextFormat(TTextFormat Value);
    // Percent, 0 to 100.
    int Transparency() const { return transparency_; }
    void SetTransparency(int Value);
    // A transparent shape draws nothing at all.
    bool Transparent() const { return transparent_; }
    void SetTransparent(bool Value);
    // The class's own default of Transparent, against which it is streamed.
    bool DefaultTransparent = false;
    bool IsTransparentStored() const { return transparent_ != DefaultTransparent; }

    // Set by the owner's layout.
    TRect ShapeBounds;
    // Right - Left + 1 and Bottom - Top + 1; setting them moves Right and Bottom.
    int Width() const;
    int Height() const;
    void SetWidth(int Value);
    void SetHeight(int Value);

    // Every setting of another shape.
    void Assign(const vcl::TPersistent& Source) override;
    // The extra stream properties: "ShadowColor" (a colour's name or a
    // number) and "ShadowSize" (both sizes) of older streams, read only.
    virtual void DefineProperties(TFiler& Filer);

    // The box at ShapeBounds.
    void Draw() { DrawRectRotated(ShapeBounds, 0, 0); }
    // The box at Rect, turned by Angle degrees about its centre, at depth
    // Z, on the chart's surface (nothing without a chart).
    void DrawRectRotated(const TRect& Rect, int Angle = 0, int Z = 0);

    // The corners (Left, Top), (Right, Top), (Right, Bottom), (Left, Bottom)
    // turned by Angle degrees about the centre, rounded (halves to even).
    static std::array<TPoint, 4> RotatedCorners(const TRect& Rect, int Angle);

  protected:
    // The class of the gradient made on first read.
    virtual std::unique_ptr<chart::TPlotGradient> CreateGradient();
    // The shadow a new shape gets: black, 3 pixels each way (recorded as
    // the defaults). A subclass with other defaults calls its own from its
    // constructor.
    virtual void InitShadow(chart::TPlotShadow& AShadow);

  private:
    template <class T>
    void Store(T& field, T value) {
        if (field == value) return;
        field = value;
        Repaint();
    }
    void DrawShape(TCanvas3D& Canvas, const TRect& Rect, bool Rotated,
                   const std::array<TPoint, 4>& Corners, int Z);
    void DrawShadowArea(TCanvas3D& Canvas, const TRect& Rect, bool Rotated,
                        const std::array<TPoint, 4>& Corners, int Z);

    vcl::TBevelCut bevel_ = vcl::TBevelCut::bvNone;
    int bevel_width_ = 2;
    TColor color_ = vcl::clWhite;
    std::unique_ptr<chart::TPlotFont> font_;
    std::unique_ptr<chart::TPlotGradient> gradient_;
    std::unique_ptr<TBackImage> picture_;
    int round_size_ = 16;
    std::unique_ptr<chart::TPlotShadow> shadow_;
    TChartObjectShapeStyle shape_style_ = fosRectangle;
    TTextFormat text_format_ = ttfNormal;
    int transparency_ = 0;
    bool transparent_ = false;
};

// The shape with every setting published.
class TPlotShape : public TPlotCustomShape {
  public:
    using TPlotCustomShape::TPlotCustomShape;
};

}  // namespace chart::engine
