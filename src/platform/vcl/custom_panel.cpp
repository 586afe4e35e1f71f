#include "platform/vcl/custom_panel.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QCursor>
#include <QEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QWheelEvent>
#include <QWidget>
#include <algorithm>
#include <cstdlib>

#include "platform/gdi/qt_gdi.h"
#include "platform/vcl/keys.h"
#include "platform/vcl/menus.h"

namespace vcl {

namespace {

class TPanelWidget : public QWidget {
public:
    TCustomPanel* Owner = nullptr;

protected:
    void paintEvent(QPaintEvent*) override {
        if (!Owner) return;
        QPainter painter(this);
        Owner->PaintOn(&painter);
    }
};

TMouseButton ButtonOf(Qt::MouseButton b) {
    if (b == Qt::RightButton) return TMouseButton::mbRight;
    if (b == Qt::MiddleButton) return TMouseButton::mbMiddle;
    return TMouseButton::mbLeft;
}

bool IsArrow(int key) {
    return key == Qt::Key_Left || key == Qt::Key_Right || key == Qt::Key_Up || key == Qt::Key_Down;
}

// A wheel event tells of a few notches at most; more (a broken device, a
// made-up event) count as this many, so that one event cannot keep the
// program busy for long.
constexpr long long kMostNotches = 1000;

// A bevel Width pixels wide inside r; r comes back shrunk by Width. No
// more lines are drawn than the rectangle has room for.
void Frame3D(TCanvas& canvas, TRect& r, TColor topLeft, TColor bottomRight, int width) {
    const long long room = (std::min<long long>((long long)r.Right - r.Left, (long long)r.Bottom - r.Top) + 1) / 2;
    const int lines = static_cast<int>(std::clamp<long long>(width, 0, std::max(room, 0LL)));
    canvas.Pen.SetWidth(1);
    canvas.Pen.SetStyle(TPenStyle::psSolid);
    for (int i = 0; i < lines; ++i) {
        canvas.Pen.SetColor(topLeft);
        const TPoint top[3] = {{r.Left, r.Bottom - 1}, {r.Left, r.Top}, {r.Right - 1, r.Top}};
        canvas.Polyline(top);
        canvas.Pen.SetColor(bottomRight);
        const TPoint bottom[3] = {{r.Right - 1, r.Top}, {r.Right - 1, r.Bottom - 1}, {r.Left - 1, r.Bottom - 1}};
        canvas.Polyline(bottom);
        ++r.Left;
        ++r.Top;
        --r.Right;
        --r.Bottom;
    }
    auto shrink = [](int& v, long long by) {
        v = static_cast<int>(std::clamp<long long>(v + by, INT32_MIN, INT32_MAX));
    };
    const long long rest = static_cast<long long>(width) - lines;
    if (rest > 0) {
        shrink(r.Left, rest);
        shrink(r.Top, rest);
        shrink(r.Right, -rest);
        shrink(r.Bottom, -rest);
    }
}

void Bevel(TCanvas& canvas, TRect& r, TBevelCut cut, int width) {
    if (cut == TBevelCut::bvNone) return;
    const bool raised = cut == TBevelCut::bvRaised;
    Frame3D(canvas, r, raised ? clBtnHighlight : clBtnShadow, raised ? clBtnShadow : clBtnHighlight, width);
}

}  // namespace

TCustomPanel::TCustomPanel(TComponent* owner) : TWinControl(owner, new TPanelWidget()) {
    auto* w = static_cast<TPanelWidget*>(Widget());
    w->Owner = this;
    // The face is painted whole: nothing is erased first.
    w->setAttribute(Qt::WA_OpaquePaintEvent);
    w->setAttribute(Qt::WA_NoSystemBackground);
    w->setAutoFillBackground(false);
    SetBounds(0, 0, 185, 41);
}

TCustomPanel::~TCustomPanel() {
    if (auto* w = static_cast<TPanelWidget*>(Widget())) w->Owner = nullptr;
}

void TCustomPanel::SetBevelInner(TBevelCut value) {
    if (value == bevel_inner_) return;
    bevel_inner_ = value;
    Realign();
    Invalidate();
}

void TCustomPanel::SetBevelOuter(TBevelCut value) {
    if (value == bevel_outer_) return;
    bevel_outer_ = value;
    Realign();
    Invalidate();
}

void TCustomPanel::SetBevelWidth(int value) {
    value = std::max(value, 1);
    if (value == bevel_width_) return;
    bevel_width_ = value;
    Realign();
    Invalidate();
}

void TCustomPanel::SetBorderWidth(int value) {
    value = std::max(value, 0);
    if (value == border_width_) return;
    border_width_ = value;
    Realign();
    Invalidate();
}

void TCustomPanel::SetCaption(const std::string& caption) {
    if (caption == caption_) return;
    caption_ = caption;
    if (show_caption_) Invalidate();
}

void TCustomPanel::SetShowCaption(bool value) {
    if (value == show_caption_) return;
    show_caption_ = value;
    Invalidate();
}

TPoint TCustomPanel::CursorPos() const {
    if (!Widget()) return {};
    const QPoint p = Widget()->mapFromGlobal(QCursor::pos());
    return {p.x(), p.y()};
}

void TCustomPanel::SetWindowRgn(const gdi::HRGN& region, bool redraw) {
    QWidget* w = Widget();
    if (!w) return;
    if (region)
        w->setMask(region->impl().region);
    else
        w->clearMask();
    if (redraw) w->update();
}

bool TCustomPanel::HasWindowRgn() const { return Widget() && !Widget()->mask().isEmpty(); }

void TCustomPanel::CreateParams(TCreateParams&) {}

void TCustomPanel::ApplyCreateParams() {
    TCreateParams params;
    CreateParams(params);
    transparent_ = (params.ExStyle & WS_EX_TRANSPARENT) != 0;
    if (QWidget* w = Widget()) {
        w->setAttribute(Qt::WA_OpaquePaintEvent, !transparent_);
        w->setAttribute(Qt::WA_NoSystemBackground, !transparent_);
    }
}

void TCustomPanel::RecreateWnd() {
    ApplyCreateParams();
    Invalidate();
}

void TCustomPanel::PaintOn(QPainter* painter) {
    canvas_.Attach(painter);
    Guarded(paintFailed_, [this] { Paint(); });
    canvas_.Attach(nullptr);
}

void TCustomPanel::Paint() {
    TRect r = ClientRect();
    if (Color() != clNone) {
        canvas_.Brush.SetStyle(TBrushStyle::bsSolid);
        canvas_.Brush.SetColor(Color());
        canvas_.FillRect(r);
    }
    Bevel(canvas_, r, bevel_outer_, bevel_width_);
    Frame3D(canvas_, r, Color(), Color(), border_width_);
    Bevel(canvas_, r, bevel_inner_, bevel_width_);
    if (show_caption_ && !caption_.empty()) {
        canvas_.Font.Assign(Font());
        canvas_.Brush.SetStyle(TBrushStyle::bsClear);
        const TSize size = canvas_.TextExtent(caption_);
        canvas_.TextOut((r.Left + r.Right - size.cx) / 2, (r.Top + r.Bottom - size.cy) / 2, caption_);
    }
}

void TCustomPanel::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
    Fire(OnMouseDown, this, Button, Shift, X, Y);
}

void TCustomPanel::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
    Fire(OnMouseUp, this, Button, Shift, X, Y);
}

void TCustomPanel::MouseMove(TShiftState Shift, int X, int Y) { Fire(OnMouseMove, this, Shift, X, Y); }

void TCustomPanel::DblClick() {
    // Raised directly, so that an EAbort from the handler ends the click.
    if (OnDblClick && !EventsMuted()) OnDblClick(this);
}

void TCustomPanel::MouseLeave() { Fire(OnMouseLeave, this); }

bool TCustomPanel::DoMouseWheel(TShiftState Shift, int WheelDelta, const TPoint& MousePos) {
    bool handled = false;
    Fire(OnMouseWheel, this, Shift, WheelDelta, MousePos, handled);
    if (handled) return true;
    const long long turned = wheel_rest_ + WheelDelta;
    // Whole notches now; what is short of one waits for the next turn.
    const long long notches = std::clamp(turned / WHEEL_DELTA, -kMostNotches, kMostNotches);
    wheel_rest_ = turned % WHEEL_DELTA;
    for (long long i = 0; i < std::llabs(notches); ++i)
        handled = notches < 0 ? DoMouseWheelDown(Shift, MousePos) : DoMouseWheelUp(Shift, MousePos);
    return handled;
}

bool TCustomPanel::DoMouseWheelDown(TShiftState Shift, const TPoint& MousePos) {
    bool handled = false;
    Fire(OnMouseWheelDown, this, Shift, MousePos, handled);
    return handled;
}

bool TCustomPanel::DoMouseWheelUp(TShiftState Shift, const TPoint& MousePos) {
    bool handled = false;
    Fire(OnMouseWheelUp, this, Shift, MousePos, handled);
    return handled;
}

void TCustomPanel::Resize() { Fire(OnResize, this); }

void TCustomPanel::ColorChanged() { Invalidate(); }

void TCustomPanel::SetBounds(int left, int top, int width, int height) {
    TWinControl::SetBounds(left, top, width, height);
    SizeChanged(Width(), Height());
}

void TCustomPanel::SizeChanged(int width, int height) {
    if (width == reported_width_ && height == reported_height_) return;
    reported_width_ = width;
    reported_height_ = height;
    Guarded(paintFailed_, [this] {
        Invalidate();
        Resize();
    });
}

bool TCustomPanel::HandleEvent(QEvent* event) {
    if (EventsMuted()) return TWinControl::HandleEvent(event);

    switch (event->type()) {
        case QEvent::Polish:
            ApplyCreateParams();
            break;
        case QEvent::Resize: {
            // The toolkit also reports sizes that did not change (when a
            // hidden window is rendered): only a new size repaints in full.
            UpdateFromWidget();
            Realign();
            const QSize size = static_cast<QResizeEvent*>(event)->size();
            SizeChanged(size.width(), size.height());
            return false;
        }
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick: {
            auto* me = static_cast<QMouseEvent*>(event);
            const QPoint p = me->position().toPoint();
            const TMouseButton button = ButtonOf(me->button());
            TShiftState shift = ShiftFromModifiers(me->modifiers(), me->buttons());
            if (event->type() == QEvent::MouseButtonPress) {
                if (button == TMouseButton::mbRight) {
                    right_down_x_ = p.x();
                    right_down_y_ = p.y();
                }
                Guarded([&] { MouseDown(button, shift, p.x(), p.y()); });
            } else if (event->type() == QEvent::MouseButtonRelease) {
                Guarded([&] { MouseUp(button, shift, p.x(), p.y()); });
                // The pop-up menu opens when the right button comes up (the
                // toolkit here would open it on the press and take the drag
                // away), but not after a drag with it: that drag panned.
                const bool dragged =
                    std::abs(p.x() - right_down_x_) + std::abs(p.y() - right_down_y_) >
                    QApplication::startDragDistance();
                if (button == TMouseButton::mbRight && !dragged && PopupMenu()) {
                    const QPoint at = me->globalPosition().toPoint();
                    PopupMenu()->SetPopupComponent(this);
                    Guarded([&] { PopupMenu()->Popup(at.x(), at.y()); });
                }
            } else {
                shift |= ssDouble;
                Guarded([&] {
                    DblClick();
                    MouseDown(button, shift, p.x(), p.y());
                });
            }
            return false;
        }
        case QEvent::MouseMove: {
            auto* me = static_cast<QMouseEvent*>(event);
            const QPoint p = me->position().toPoint();
            Guarded(moveFailed_, [&] { MouseMove(ShiftFromModifiers(me->modifiers(), me->buttons()), p.x(), p.y()); });
            return false;
        }
        case QEvent::Leave:
            Guarded([this] { MouseLeave(); });
            return false;
        case QEvent::Wheel: {
            auto* we = static_cast<QWheelEvent*>(event);
            const int delta = we->angleDelta().y();
            if (delta == 0) break;
            const QPoint p = we->position().toPoint();
            const TShiftState shift = ShiftFromModifiers(we->modifiers(), we->buttons());
            bool handled = false;
            Guarded([&] { handled = DoMouseWheel(shift, delta, {p.x(), p.y()}); });
            // Unhandled, the wheel goes on to the parent.
            return handled;
        }
        case QEvent::ContextMenu:
            // From the mouse it is shown on release (above); the keyboard's
            // menu key still opens it at once.
            if (PopupMenu() && static_cast<QContextMenuEvent*>(event)->reason() == QContextMenuEvent::Mouse)
                return true;
            break;
        case QEvent::ApplicationPaletteChange:
            Guarded([this] { SysColorChange(); });
            break;
        case QEvent::ShortcutOverride: {
            auto* ke = static_cast<QKeyEvent*>(event);
            if (WantArrows && IsArrow(ke->key())) {
                ke->accept();
                return true;
            }
            break;
        }
        default:
            break;
    }
    return TWinControl::HandleEvent(event);
}

}  // namespace vcl
