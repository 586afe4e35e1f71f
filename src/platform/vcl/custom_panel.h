#pragma once
// A panel that paints its own face: its class draws during the window's
// paint on the control canvas, which draws only while a paint is on and
// measures text at any time. It has the panel's bevels and border band,
// the mouse as overridable operations (down, up, move, double click,
// leaving, the wheel), system colour changes, a window region that shapes
// the window, and it can take the arrow keys for itself.
#include <cstdint>
#include <functional>
#include <string>

#include "platform/gdi/objects.h"
#include "platform/vcl/controls.h"
#include "platform/vcl/std_ctrls.h"

class QPainter;

namespace vcl {

// Extended window style: siblings below show through the window.
constexpr std::uint32_t WS_EX_TRANSPARENT = 0x20;

// What a control asks of its window when the window is made.
struct TCreateParams {
    std::uint32_t ExStyle = 0;
};

// The wheel turned by one notch.
inline constexpr int WHEEL_DELTA = 120;

// The wheel turned by WheelDelta (positive away from the user; a notch is
// WHEEL_DELTA) with the mouse at MousePos (client pixels). Setting Handled
// keeps the control's own handling from running.
using TMouseWheelEvent = std::function<void(TComponent* Sender, TShiftState Shift, int WheelDelta,
                                            const TPoint& MousePos, bool& Handled)>;
using TMouseWheelUpDownEvent =
    std::function<void(TComponent* Sender, TShiftState Shift, const TPoint& MousePos, bool& Handled)>;

class TCustomPanel : public TWinControl {
public:
    explicit TCustomPanel(TComponent* owner);
    ~TCustomPanel() override;

    TBevelCut BevelInner() const { return bevel_inner_; }
    TBevelCut BevelOuter() const { return bevel_outer_; }
    int BevelWidth() const { return bevel_width_; }
    int BorderWidth() const { return border_width_; }
    void SetBevelInner(TBevelCut value);
    void SetBevelOuter(TBevelCut value);
    // At least 1.
    void SetBevelWidth(int value);
    // At least 0.
    void SetBorderWidth(int value);

    const std::string& Caption() const { return caption_; }
    void SetCaption(const std::string& caption);
    // Whether Paint writes the caption (on by default).
    bool ShowCaption() const { return show_caption_; }
    void SetShowCaption(bool value);

    // The arrow keys reach OnKeyDown even where a shortcut uses them.
    bool WantArrows = false;

    // The control canvas.
    TCanvas& Canvas() { return canvas_; }
    TRect ClientRect() const { return {0, 0, ClientWidth(), ClientHeight()}; }
    // The mouse position in client coordinates.
    TPoint CursorPos() const;

    // Only the region's pixels belong to the window (mouse and paint);
    // none gives back the whole rectangle. With redraw the window repaints.
    void SetWindowRgn(const gdi::HRGN& region, bool redraw);
    bool HasWindowRgn() const;

    // Asks CreateParams again and applies the answer to the existing
    // widget: callers only need the new parameters to take effect.
    void RecreateWnd();
    // Whether the window lets siblings below show through.
    bool TransparentWindow() const { return transparent_; }

    // Paints the face now, as a paint of the window does, on painter.
    void PaintOn(QPainter* painter);

    TMouseWheelEvent OnMouseWheel;
    TMouseWheelUpDownEvent OnMouseWheelDown;
    TMouseWheelUpDownEvent OnMouseWheelUp;

protected:
    // The face: background in Color, outer bevel, border band, inner bevel,
    // caption.
    virtual void Paint();
    // The mouse. The base operations raise the matching events.
    virtual void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y);
    virtual void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y);
    virtual void MouseMove(TShiftState Shift, int X, int Y);
    // Comes before the MouseDown of the second click (which has ssDouble);
    // raising EAbort here ends the click there, silently.
    virtual void DblClick();
    virtual void MouseLeave();
    // The wheel: OnMouseWheel, then, unless that handled it, one
    // DoMouseWheelDown or DoMouseWheelUp per whole notch turned (partial
    // turns add up over later events). True when handled.
    virtual bool DoMouseWheel(TShiftState Shift, int WheelDelta, const TPoint& MousePos);
    // OnMouseWheelDown / OnMouseWheelUp; true when the handler handled it.
    virtual bool DoMouseWheelDown(TShiftState Shift, const TPoint& MousePos);
    virtual bool DoMouseWheelUp(TShiftState Shift, const TPoint& MousePos);
    // The system colours changed.
    virtual void SysColorChange() {}
    // After a change of size, once the window is marked for a full repaint.
    virtual void Resize();
    virtual void CreateParams(TCreateParams& Params);

    bool HandleEvent(QEvent* event) override;
    void ColorChanged() override;

public:
    // A new size is handled at once, as the window system reports it, also
    // while the window is hidden.
    void SetBounds(int left, int top, int width, int height) override;

private:
    void ApplyCreateParams();
    // Invalidate and Resize when the size differs from the last one seen.
    void SizeChanged(int width, int height);

    TCanvas canvas_;
    TBevelCut bevel_inner_ = TBevelCut::bvNone;
    TBevelCut bevel_outer_ = TBevelCut::bvRaised;
    int bevel_width_ = 1;
    int border_width_ = 0;
    std::string caption_;
    bool show_caption_ = true;
    bool transparent_ = false;
    // The size of the last Resize.
    int reported_width_ = -1;
    int reported_height_ = -1;
    // The guard's states of the entries that can fail with every paint or move.
    win::LoopEntryState paintFailed_;
    win::LoopEntryState moveFailed_;
    // What the wheel turned short of a whole notch.
    long long wheel_rest_ = 0;
    // Where the right button went down, to tell a click from a drag.
    int right_down_x_ = 0;
    int right_down_y_ = 0;
};

}  // namespace vcl
