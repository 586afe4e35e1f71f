#pragma once
// The window control every chart is drawn on. TCustomPlotPanel owns the
// drawing surface, the 3D view settings, the border pen, the shadow, the
// margins and the listeners, and runs the paint: show the cached image
// again when it is still valid, otherwise prepare the surface, compute the
// chart rectangle (the panel less bevels, border, margins and shadow) and
// let InternalDraw, which descendants fill, draw inside it.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "chart/drawing/plot_canvas.h"
#include "chart/drawing/plot_pens.h"
#include "chart/drawing/plot_shadow.h"
#include "chart/drawing/view3d_options.h"
#include "platform/vcl/bitmap.h"
#include "platform/vcl/custom_panel.h"

namespace vcl {
class TMetafile;
class TPicture;
}

namespace chart::engine {

class TFiler;

using chart::TCanvas3D;
using vcl::TColor;
using vcl::TPoint;
using vcl::TRect;

class TCustomPlotPanel;

// ---- Events and listeners

class TPlotEvent {
  public:
    virtual ~TPlotEvent() = default;
    // Set by BroadcastPlotEvent.
    TCustomPlotPanel* Sender = nullptr;
};

enum TPlotMouseEventKind : std::uint8_t { pmeDown = 0, pmeUp = 1, pmeMove = 2 };

class TPlotMouseEvent : public TPlotEvent {
  public:
    TPlotMouseEventKind Event = pmeDown;
    vcl::TMouseButton Button = vcl::TMouseButton::mbLeft;
    vcl::TShiftState Shift = 0;
    int X = 0;
    int Y = 0;
};

// View3D changed.
class TPlotView3DEvent : public TPlotEvent {};

// An object that hears the panel's events.
class TPlotEventListener {
  public:
    virtual void PlotEvent(TPlotEvent& Event) = 0;

  protected:
    ~TPlotEventListener() = default;
};

// The listeners of a panel, in order of adding; not owned (a listener
// removes itself before it goes away).
class TPlotEventListeners {
  public:
    int Count() const { return static_cast<int>(items_.size()); }
    TPlotEventListener* Items(int Index) const {
        return items_.at(static_cast<std::size_t>(Index));
    }
    int IndexOf(const TPlotEventListener* Listener) const;
    // Adding one that is there already changes nothing.
    void Add(TPlotEventListener* Listener);
    void Remove(TPlotEventListener* Listener);

  private:
    std::vector<TPlotEventListener*> items_;
};

// The drag state of panning, and of zooming (TPlotZoom): pixels of the
// drag's start and current corner.
class TZoomPanning : public vcl::TPersistent {
  public:
    bool Active = false;
    int X0 = 0;
    int Y0 = 0;
    int X1 = 0;
    int Y1 = 0;
    void Activate(int X, int Y);
};

enum TPlotUnits : std::uint8_t { muPercent, muPixels };

// A panel that never paints a caption.
class TCustomPanelNoCaption : public vcl::TCustomPanel {
  public:
    explicit TCustomPanelNoCaption(vcl::TComponent* AOwner);
};

class TCustomPlotPanel : public TCustomPanelNoCaption, public chart::TView3DOwner {
  public:
    explicit TCustomPlotPanel(vcl::TComponent* AOwner);
    ~TCustomPlotPanel() override;

    // ---- The drawing surface
    TCanvas3D* Canvas() const { return canvas_.get(); }
    // The control's own canvas (draws during a paint, measures any time).
    vcl::TCanvas& ControlCanvas() { return vcl::TCustomPanel::Canvas(); }
    // Puts NewCanvas in place of the surface: bound to the control canvas,
    // given the old one's settings, which is then freed.
    void ReplaceCanvas(std::unique_ptr<TCanvas3D> NewCanvas);
    bool BufferedDisplay() const;
    void SetBufferedDisplay(bool Value);
    bool Monochrome() const;
    void SetMonochrome(bool Value);
    // Clip regions can be used: the surface is not a full-3D one.
    bool CanClip() const;

    // ---- Settings
    bool View3D() const { return view3d_; }
    void SetView3D(bool Value);
    chart::TView3DOptions& View3DOptions() { return view3d_options_; }
    void SetView3DOptions(const chart::TView3DOptions& Value) { view3d_options_.Assign(Value); }
    chart::TChartHiddenPen& Border() { return *border_; }
    void SetBorder(const chart::TChartPen& Value) { border_->Assign(Value); }
    int BorderRound() const { return border_round_; }
    void SetBorderRound(int Value);
    chart::TPlotShadow& Shadow() { return *shadow_; }
    void SetShadow(const chart::TPlotShadow& Value) { shadow_->Assign(Value); }
    // Index 0 Left, 1 Top, 2 Right, 3 Bottom.
    int Margin(int Index) const { return margins_.at(static_cast<std::size_t>(Index)); }
    void SetMargin(int Index, int Value);
    int MarginLeft() const { return margins_[0]; }
    int MarginTop() const { return margins_[1]; }
    int MarginRight() const { return margins_[2]; }
    int MarginBottom() const { return margins_[3]; }
    void SetMarginLeft(int Value) { SetMargin(0, Value); }
    void SetMarginTop(int Value) { SetMargin(1, Value); }
    void SetMarginRight(int Value) { SetMargin(2, Value); }
    void SetMarginBottom(int Value) { SetMargin(3, Value); }
    TPlotUnits MarginUnits() const { return margin_units_; }
    void SetMarginUnits(TPlotUnits Value);
    // Kept and copied only.
    bool PrintProportional = true;
    int PrintResolution = 0;
    std::array<int, 4> PrintMargins = {15, 15, 15, 15};

    // ---- Geometry of the last paint
    TRect ChartBounds;
    TRect ChartRect;
    int ChartWidth = 0;
    int ChartHeight = 0;
    int ChartXCenter = 0;
    int ChartYCenter = 0;
    // Raises ChartRect's Left and Top to ChartBounds' when smaller, gives it
    // a width and height of at least 1 and stores the width, height and
    // centre.
    void RecalcWidthHeight();

    // When False, Invalidate does nothing.
    bool AutoRepaint = true;
    // Set by event handlers to stop further processing of a mouse event.
    bool CancelMouseAction = false;
    // Restored when the mouse leaves.
    vcl::TCursor SavedCursor = vcl::TCursor::crDefault;
    TZoomPanning& Panning() { return *panning_; }
    TPlotEventListeners& Listeners() { return listeners_; }
    // Series and the axis panel read it: series with depth rows are drawn
    // in their Z order.
    bool ApplyZOrder = true;

    // ---- Store-and-invalidate setters of every chart setting
    void SetBooleanProperty(bool& Variable, bool Value);
    void SetIntegerProperty(int& Variable, int Value);
    void SetColorProperty(TColor& Variable, TColor Value);
    // Compared exactly.
    void SetDoubleProperty(double& Variable, double Value);
    // Compared with case.
    void SetStringProperty(std::string& Variable, const std::string& Value);

    // ---- Virtual operations
    virtual TColor GetBackColor() { return Color(); }
    // Draws the panel's contents; Rect is ChartBounds. Empty here.
    virtual void InternalDraw(const TRect& UserRect);
    // The change handler of the panel's settings objects.
    virtual void PropertyChanged(vcl::TPersistent* Sender);
    // One paint onto UserCanvas.
    virtual void Draw(vcl::TCanvas* UserCanvas, const TRect& UserRect);
    // (0, 0, Width, Height) without a parent, else the client rectangle.
    virtual TRect GetRectangle();
    // The cached image becomes stale and the window repaints, when
    // AutoRepaint is on.
    void Invalidate() override;
    // From another panel: Border, BorderRound, BufferedDisplay, the print
    // settings, MarginUnits, the margins, Monochrome, Shadow, View3D,
    // View3DOptions and Color.
    virtual void Assign(const TCustomPlotPanel& Source);
    // Into a graphic or a picture: a bitmap of the chart. Anything else
    // raises EConvertError.
    virtual void AssignTo(vcl::TPersistent& Dest);
    // When loading has finished.
    virtual void Loaded();
    // The extra stream properties: "BorderStyle" of older streams (read
    // only: "bsSingle" shows the border, anything else hides it).
    virtual void DefineProperties(TFiler& Filer);

    // ---- Drawing
    void DrawToOwnCanvas();
    // Draws without the off-screen buffer onto ACanvas.
    void DrawToCanvas(vcl::TCanvas* ACanvas, const TRect& Rect);
    // Whether the chart is drawing itself into an exported picture (set by
    // the export formats while they draw it): overlays that follow the
    // mouse and erase themselves by drawing again (a cursor, a zoom
    // rectangle) have no place there.
    bool DrawingPicture() const { return drawing_picture_; }
    void SetDrawingPicture(bool Value) { drawing_picture_ = Value; }
    // A metafile of Rect's size (each side at least 1 pixel), enhanced or
    // not, holding the chart drawn into it unbuffered while the surface
    // knows it is metafiling (no blending, smooth shadows or pixel reads).
    std::unique_ptr<vcl::TMetafile> CreateMetafile(bool Enhanced, const TRect& Rect);
    std::unique_ptr<vcl::TBitmap> CreateBitmap();
    std::unique_ptr<vcl::TBitmap> PlotCreateBitmap(TColor BackColor, const TRect& Rect,
                                                   vcl::TPixelFormat PixelFormat);
    // Draws into the image of the last paint between paints (overlays that
    // follow the mouse, a newly added segment), as Draw draws on the
    // surface, then shows Area (client pixels) of it on screen. False when
    // there is no valid image to draw into: the paint that is due draws
    // everything anyway.
    bool DrawOnCachedImage(const TRect& Area, const std::function<void()>& Draw);
    // Bevels and border (the background step of a paint draws them).
    virtual void DrawPanelBevels(const TRect& Rect);
    // One bevel inside Rect (which comes back shrunk by it), as the panel
    // and framed shapes draw it.
    static void DrawBevel(TCanvas3D& Canvas, vcl::TBevelCut Cut, TRect& Rect, int BorderRound,
                          int BevelWidth);

    // The surface's brush: ABrush with Color and BackColor; a patterned
    // brush of the back colour is drawn in black (white on black) instead.
    void SetBrushCanvas(TColor Color, chart::TChartBrush& ABrush, TColor BackColor);
    // The mouse in client coordinates.
    TPoint GetCursorPos() const { return CursorPos(); }
    // Entry Index of the current colour palette.
    TColor PaletteColor(int Index) const;

    // Tells every listener in order; a mouse event stops after the listener
    // that set CancelMouseAction. Nothing while the panel is destroyed.
    TPlotEvent& BroadcastPlotEvent(TPlotEvent& Event);

  protected:
    void Paint() override;
    void MouseDown(vcl::TMouseButton Button, vcl::TShiftState Shift, int X, int Y) override;
    void MouseUp(vcl::TMouseButton Button, vcl::TShiftState Shift, int X, int Y) override;
    void MouseMove(vcl::TShiftState Shift, int X, int Y) override;
    void DblClick() override;
    void MouseLeave() override;
    void SysColorChange() override;
    void Resize() override;
    void CreateParams(vcl::TCreateParams& Params) override;

  private:
    // The round window region for BorderRound (or none).
    void ApplyRoundRegion();
    void BroadcastMouse(TPlotMouseEventKind Kind, vcl::TMouseButton Button, vcl::TShiftState Shift,
                        int X, int Y);

    std::unique_ptr<TCanvas3D> canvas_;
    chart::TView3DOptions view3d_options_;
    std::unique_ptr<chart::TChartHiddenPen> border_;
    std::unique_ptr<chart::TPlotShadow> shadow_;
    std::unique_ptr<TZoomPanning> panning_;
    TPlotEventListeners listeners_;
    bool view3d_ = true;
    int border_round_ = 0;
    std::array<int, 4> margins_ = {3, 4, 3, 4};
    TPlotUnits margin_units_ = muPercent;
    bool region_guard_ = false;
    bool drawing_picture_ = false;
};

}  // namespace chart::engine
