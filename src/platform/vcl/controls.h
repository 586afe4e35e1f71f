#pragma once
// Controls: the visual components. Each control owns one toolkit widget;
// its events are std::function members, called through a guard that hands
// any exception to the application's handler (exceptions never cross the
// toolkit's event loop).
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/vcl/component.h"
#include "platform/vcl/graphics.h"
#include "platform/win/loop_entry.h"

class QWidget;
class QObject;
class QEvent;

namespace vcl {

class TWinControl;
class TPopupMenu;

// Virtual key codes.
enum : std::uint16_t {
    VK_BACK = 0x08, VK_TAB = 0x09, VK_RETURN = 0x0D, VK_SHIFT = 0x10, VK_CONTROL = 0x11,
    VK_MENU = 0x12, VK_ESCAPE = 0x1B, VK_SPACE = 0x20, VK_PRIOR = 0x21, VK_NEXT = 0x22,
    VK_END = 0x23, VK_HOME = 0x24, VK_LEFT = 0x25, VK_UP = 0x26, VK_RIGHT = 0x27,
    VK_DOWN = 0x28, VK_INSERT = 0x2D, VK_DELETE = 0x2E,
    VK_F1 = 0x70, VK_F2, VK_F3, VK_F4, VK_F5, VK_F6, VK_F7, VK_F8, VK_F9, VK_F10, VK_F11, VK_F12,
};

// Shift state: keyboard modifiers and mouse buttons held.
enum TShiftFlag : std::uint8_t {
    ssShift = 1, ssAlt = 2, ssCtrl = 4, ssLeft = 8, ssRight = 16, ssMiddle = 32, ssDouble = 64,
};
using TShiftState = std::uint8_t;

enum class TMouseButton { mbLeft, mbRight, mbMiddle };
enum class TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };
enum class TCursor { crDefault, crHandPoint, crHSplit, crVSplit, crSizeAll, crCross, crSizeWE, crSizeNS, crSizeNWSE, crSizeNESW };

using TNotifyEvent = std::function<void(TComponent* Sender)>;
using TKeyEvent = std::function<void(TComponent* Sender, std::uint16_t& Key, TShiftState Shift)>;
using TKeyPressEvent = std::function<void(TComponent* Sender, char& Key)>;
using TMouseEvent = std::function<void(TComponent* Sender, TMouseButton Button, TShiftState Shift,
                                       int X, int Y)>;
using TMouseMoveEvent = std::function<void(TComponent* Sender, TShiftState Shift, int X, int Y)>;

// Runs fn as an entry from the event loop into the program, through the
// loop's one guard: what it raises goes to the application's handler
// (standard error when there is none), and the loop goes on. An entry that
// can fail again without the user doing anything (a paint, a pointer move, a
// timer's tick) keeps a state of its own in site, so that a failure that
// comes back with every paint is told as a repeat.
template <class Fn>
void Guarded(win::LoopEntryState& site, Fn&& fn) noexcept {
    win::RunLoopEntry(site, std::forward<Fn>(fn));
}

// An entry that answers one action of the user (a click, a key, a choice):
// each of its failures is a new one.
template <class Fn>
void Guarded(Fn&& fn) noexcept {
    win::LoopEntryState action;
    win::RunLoopEntry(action, std::forward<Fn>(fn));
}

// True while a form tears its controls down: no event is raised then.
bool EventsMuted();

// Raises an event through the guard; an unassigned event is skipped.
template <class Event, class... Args>
void Fire(const Event& event, Args&&... args) {
    if (!event || EventsMuted()) return;
    Guarded([&] { event(std::forward<Args>(args)...); });
}

// The keyboard state right now (for code that asks, as GetKeyState does).
TShiftState KeyboardShiftState();

class TControl : public TComponent {
public:
    ~TControl() override;

    TWinControl* Parent() const { return parent_; }
    virtual void SetParent(TWinControl* parent);

    int Left() const { return left_; }
    int Top() const { return top_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    void SetLeft(int v) { SetBounds(v, top_, width_, height_); }
    void SetTop(int v) { SetBounds(left_, v, width_, height_); }
    void SetWidth(int v) { SetBounds(left_, top_, v, height_); }
    void SetHeight(int v) { SetBounds(left_, top_, width_, v); }
    virtual void SetBounds(int left, int top, int width, int height);
    TRect BoundsRect() const { return {left_, top_, left_ + width_, top_ + height_}; }
    int ClientWidth() const;
    int ClientHeight() const;

    TAlign Align() const { return align_; }
    void SetAlign(TAlign align);

    bool Visible() const { return visible_; }
    virtual void SetVisible(bool visible);
    void Show() { SetVisible(true); }
    void Hide() { SetVisible(false); }
    // Visible and every parent up to the form visible too.
    bool Showing() const;

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);

    const std::string& Hint() const { return hint_; }
    void SetHint(const std::string& hint);
    bool ShowHint() const { return show_hint_; }
    void SetShowHint(bool show);

    TColor Color() const { return color_; }
    void SetColor(TColor color);
    // With the usual face colour a control lets its parent show through; a
    // control that lies over others (a floating panel) paints its own.
    void SetParentBackground(bool on);
    TFont& Font() { return font_; }
    // A standard cursor, or a number of the application's cursor table
    // (cursors.h).
    void SetCursor(TCursor cursor);
    TCursor Cursor() const { return cursor_; }

    TPopupMenu* PopupMenu() const { return popup_menu_; }
    void SetPopupMenu(TPopupMenu* menu);

    void Repaint();
    // Controls that keep a drawn image of their own mark it stale here too.
    virtual void Invalidate() { Repaint(); }
    // Shows Rect (client pixels) again from what the control paints, without
    // marking any image it keeps stale: for drawing added to such an image
    // between paints.
    void RepaintRect(const TRect& Rect);
    // Paints the control now, before returning: after Invalidate the new
    // picture shows at once, without waiting for the message loop.
    void Update();
    void BringToFront();
    // Client point -> screen point.
    TPoint ClientToScreen(const TPoint& p) const;

    TNotifyEvent OnClick;
    TNotifyEvent OnDblClick;
    TNotifyEvent OnResize;
    TMouseEvent OnMouseDown;
    TMouseEvent OnMouseUp;
    TMouseMoveEvent OnMouseMove;
    // The mouse came over the control or left it (with or without a button
    // held, whatever other control is under it now).
    TNotifyEvent OnMouseEnter;
    TNotifyEvent OnMouseLeave;

    // The widget behind the control (for the class library only).
    QWidget* Widget() const { return widget_; }
    // Raises OnClick as a click of the user does.
    virtual void Click();
    // Draws the control as it shows on screen (with what it paints over
    // the toolkit's drawing) onto canvas with its top-left corner at (x, y).
    void PaintTo(TCanvas& canvas, int x, int y);

protected:
    TControl(TComponent* owner, QWidget* widget);

    // Controls that paint over what the toolkit drew: while on, each paint
    // of the widget is followed by PaintOver on a canvas of the widget.
    void SetPaintsOver(bool on) { paints_over_ = on; }
    virtual void PaintOver(TCanvas&) {}
    // True while the toolkit paints the widget of such a control.
    bool InCustomPaint() const { return in_custom_paint_; }
    // What happened to the control, for controls that change their look.
    enum class TControlMessage { cmMouseEnter, cmMouseLeave, cmFocusChanged };
    virtual void ControlMessage(TControlMessage) {}
    // Toolkit events of the widget; returns true to eat the event.
    virtual bool HandleEvent(QEvent* event);
    virtual void FontChanged();
    virtual void ColorChanged();
    void UpdateFromWidget();  // takes the widget's geometry into the fields

private:
    friend class TWinControl;
    friend class TControlFilter;
    void ApplyVisible();
    void SetBoundsFromParent(int left, int top, int width, int height);

    QWidget* widget_ = nullptr;
    std::unique_ptr<QObject> filter_;
    TWinControl* parent_ = nullptr;
    TPopupMenu* popup_menu_ = nullptr;
    int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
    TAlign align_ = TAlign::alNone;
    bool visible_ = true;
    bool enabled_ = true;
    bool show_hint_ = false;
    bool parent_background_ = true;
    bool paints_over_ = false;
    bool in_custom_paint_ = false;
    win::LoopEntryState paintOverFailed_;  // the guard's state of PaintOver
    std::string hint_;
    TColor color_ = clBtnFace;
    TCursor cursor_ = TCursor::crDefault;
    TFont font_;

protected:
    void Notification(TComponent* component, TOperation operation) override;
};

// A control that can hold other controls and take the keyboard focus.
class TWinControl : public TControl {
public:
    int ControlCount() const { return static_cast<int>(controls_.size()); }
    TControl* Controls(int index) const { return controls_.at(static_cast<size_t>(index)); }

    void SetFocus();
    bool Focused() const;
    bool CanFocus() const;
    // Lays out the aligned children inside the client area.
    void Realign();
    // Whether the control or one of the controls inside it has the focus.
    bool ContainsFocus() const;

    TNotifyEvent OnEnter;
    TNotifyEvent OnExit;
    TKeyEvent OnKeyDown;
    TKeyEvent OnKeyUp;
    TKeyPressEvent OnKeyPress;

    // The widget that children are placed in.
    virtual QWidget* ClientWidget() const { return Widget(); }
    // Client area of the widget for aligned children (a group box keeps its
    // caption clear).
    virtual TRect AlignRect() const;

protected:
    TWinControl(TComponent* owner, QWidget* widget);
    ~TWinControl() override;
    bool HandleEvent(QEvent* event) override;

private:
    friend class TControl;
    std::vector<TControl*> controls_;
    bool aligning_ = false;
};

}  // namespace vcl
