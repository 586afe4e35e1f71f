#pragma once
// The chart panel with what a chart shows behind its contents (shadow,
// gradient or colour fill, background picture, bevels) and the settings of
// zooming and panning with the rectangle drawn while the user drags.
#include <memory>

#include "chart/drawing/plot_gradient.h"
#include "chart/engine/back_image.h"
#include "chart/engine/plot_panel.h"
#include "chart/engine/plot_zoom.h"

namespace chart::engine {

class TCustomPlotPanelExtended : public TCustomPlotPanel {
  public:
    explicit TCustomPlotPanelExtended(vcl::TComponent* AOwner);
    ~TCustomPlotPanelExtended() override;

    // Read by the chart's mouse logic.
    TPanningMode AllowPanning = pmBoth;
    TPlotZoom& Zoom() { return *zoom_; }
    void SetZoom(const TPlotZoom& Value) { zoom_->Assign(Value); }
    // Set by the chart after it zoomed or scrolled, cleared by UndoZoom.
    bool Zoomed = false;
    vcl::TNotifyEvent OnUndoZoom;

    // Made on first read, with the panel's change handler.
    chart::TPlotGradient& Gradient();
    chart::TPlotGradient* GradientIfAny() const { return gradient_.get(); }
    // A copy into the panel's own; none frees it.
    void SetGradient(const chart::TPlotGradient* Value);
    // Made on first read (stretched), with the panel's change handler.
    TBackImage& BackImage();
    TBackImage* BackImageIfAny() const { return back_image_.get(); }
    // A copy into the panel's own; none frees it and repaints.
    void SetBackImage(const TBackImage* Value);

    // False without a picture.
    bool BackImageInside() const;
    void SetBackImageInside(bool Value) { BackImage().SetInside(Value); }
    TPlotBackImageMode BackImageMode() const;
    void SetBackImageMode(TPlotBackImageMode Value) { BackImage().SetMode(Value); }
    // The picture's Transparent flag: False, and writes ignored, without one.
    bool BackImageTransp() const;
    void SetBackImageTransp(bool Value);

    // A back image that holds a graphic.
    bool HasBackImage() const;
    void DrawBackImage(const TRect& Rect, int Z);

    // Fills Rect with the gradient when it is visible, else with Color
    // (rounded by BorderRound; nothing for clNone).
    virtual void FillPanelRect(const TRect& Rect);
    // The first step of every chart paint: shadow, fill, back image (unless
    // it goes inside the chart rectangle), bevels.
    virtual void DrawPanelBackground(const TRect& Rect);
    // Fires OnUndoZoom, repaints, clears Zoomed. (The chart first restores
    // the axis ranges it saved.)
    virtual void UndoZoom();
    // The zoom rectangle (X0, Y0)-(X1, Y1) in not-XOR mode: drawing it
    // twice leaves the pixels as they were.
    void DrawZoomRectangle();

    // From another extended panel: BackImage, Gradient, AllowPanning and
    // Zoom; then the panel settings.
    void Assign(const TCustomPlotPanel& Source) override;
    // The panel's, then "AllowZoom", "AnimatedZoom" and
    // "AnimatedZoomSteps" of older streams (read only, into Zoom) and
    // "PrintMargins" (four numbers, written when one is not 15).
    void DefineProperties(TFiler& Filer) override;

  private:
    std::unique_ptr<TPlotZoom> zoom_;
    std::unique_ptr<chart::TPlotGradient> gradient_;
    std::unique_ptr<TBackImage> back_image_;
};

}  // namespace chart::engine
