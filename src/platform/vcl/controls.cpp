#include "platform/vcl/controls.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QGroupBox>
#include <QMouseEvent>
#include <QPainter>
#include <QWidget>
#include <algorithm>
#include <cstring>

#include "platform/vcl/bitmap.h"
#include "platform/vcl/keys.h"
#include "platform/vcl/menus.h"
#include "platform/vcl/qt_bridge.h"

namespace vcl {

namespace {
int events_muted = 0;
}

bool EventsMuted() { return events_muted > 0; }

// Used by forms while they free their controls.
void MuteEvents(bool mute) { events_muted += mute ? 1 : -1; }

std::uint16_t VirtualKey(int k) {
    if ((k >= Qt::Key_A && k <= Qt::Key_Z) || (k >= Qt::Key_0 && k <= Qt::Key_9))
        return static_cast<std::uint16_t>(k);
    if (k >= Qt::Key_F1 && k <= Qt::Key_F12) return static_cast<std::uint16_t>(VK_F1 + (k - Qt::Key_F1));
    switch (k) {
        case Qt::Key_Backspace: return VK_BACK;
        case Qt::Key_Tab: return VK_TAB;
        case Qt::Key_Return:
        case Qt::Key_Enter: return VK_RETURN;
        case Qt::Key_Shift: return VK_SHIFT;
        case Qt::Key_Control: return VK_CONTROL;
        case Qt::Key_Alt: return VK_MENU;
        case Qt::Key_Escape: return VK_ESCAPE;
        case Qt::Key_Space: return VK_SPACE;
        case Qt::Key_PageUp: return VK_PRIOR;
        case Qt::Key_PageDown: return VK_NEXT;
        case Qt::Key_End: return VK_END;
        case Qt::Key_Home: return VK_HOME;
        case Qt::Key_Left: return VK_LEFT;
        case Qt::Key_Up: return VK_UP;
        case Qt::Key_Right: return VK_RIGHT;
        case Qt::Key_Down: return VK_DOWN;
        case Qt::Key_Insert: return VK_INSERT;
        case Qt::Key_Delete: return VK_DELETE;
        default: return 0;
    }
}

TShiftState ShiftFromModifiers(Qt::KeyboardModifiers m, Qt::MouseButtons b) {
    TShiftState s = 0;
    if (m & Qt::ShiftModifier) s |= ssShift;
    if (m & Qt::AltModifier) s |= ssAlt;
    if (m & Qt::ControlModifier) s |= ssCtrl;
    if (b & Qt::LeftButton) s |= ssLeft;
    if (b & Qt::RightButton) s |= ssRight;
    if (b & Qt::MiddleButton) s |= ssMiddle;
    return s;
}

TShiftState KeyboardShiftState() {
    return ShiftFromModifiers(QGuiApplication::queryKeyboardModifiers(),
                              QGuiApplication::mouseButtons());
}

// Routes the widget's events to its control.
class TControlFilter : public QObject {
public:
    explicit TControlFilter(TControl* control) : control_(control) {}
    bool eventFilter(QObject*, QEvent* event) override { return control_->HandleEvent(event); }

private:
    TControl* control_;
};

TControl::TControl(TComponent* owner, QWidget* widget) : TComponent(owner), widget_(widget) {
    filter_ = std::make_unique<TControlFilter>(this);
    widget_->installEventFilter(filter_.get());
    // The toolkit may free the widget first (with its parent widget).
    QObject::connect(widget_, &QObject::destroyed, filter_.get(), [this] { widget_ = nullptr; });
    font_.OnChange = [this] { FontChanged(); };
    FontChanged();
    QRect g = widget_->geometry();
    left_ = g.x();
    top_ = g.y();
    width_ = g.width();
    height_ = g.height();
}

TControl::~TControl() {
    if (parent_) {
        auto& v = parent_->controls_;
        v.erase(std::remove(v.begin(), v.end(), this), v.end());
    }
    if (widget_) {
        widget_->removeEventFilter(filter_.get());
        QWidget* w = widget_;
        widget_ = nullptr;
        delete w;  // the control owns its widget (unless the toolkit freed it above)
    }
}

void TControl::Notification(TComponent* component, TOperation operation) {
    TComponent::Notification(component, operation);
    if (operation == TOperation::opRemove && component == popup_menu_) popup_menu_ = nullptr;
}

void TControl::SetParent(TWinControl* parent) {
    if (parent == parent_) return;
    if (parent_) {
        auto& v = parent_->controls_;
        v.erase(std::remove(v.begin(), v.end(), this), v.end());
        parent_->Realign();
    }
    parent_ = parent;
    if (widget_) widget_->setParent(parent ? parent->ClientWidget() : nullptr);
    if (parent_) {
        parent_->controls_.push_back(this);
        if (widget_) widget_->setGeometry(left_, top_, width_, height_);
        ApplyVisible();
        parent_->Realign();
    }
}

void TControl::SetBounds(int left, int top, int width, int height) {
    left_ = left;
    top_ = top;
    width_ = std::max(0, width);
    height_ = std::max(0, height);
    if (widget_) {
        if (widget_->isWindow()) {
            // Moving a shown window reports its old size back into the fields
            // at once; the size asked for must not be lost to that.
            const int w = width_, h = height_;
            widget_->move(left_, top_);
            width_ = w;
            height_ = h;
            widget_->resize(w, h);
        } else {
            widget_->setGeometry(left_, top_, width_, height_);
        }
    }
    if (parent_ && align_ != TAlign::alNone) parent_->Realign();
}

void TControl::SetBoundsFromParent(int left, int top, int width, int height) {
    left_ = left;
    top_ = top;
    width_ = std::max(0, width);
    height_ = std::max(0, height);
    if (widget_) widget_->setGeometry(left_, top_, width_, height_);
}

void TControl::UpdateFromWidget() {
    if (!widget_) return;
    QRect g = widget_->isWindow() ? QRect(widget_->pos(), widget_->size()) : widget_->geometry();
    left_ = g.x();
    top_ = g.y();
    width_ = g.width();
    height_ = g.height();
}

int TControl::ClientWidth() const {
    if (auto* w = dynamic_cast<const TWinControl*>(this)) return w->AlignRect().Width();
    return width_;
}
int TControl::ClientHeight() const {
    if (auto* w = dynamic_cast<const TWinControl*>(this)) return w->AlignRect().Height();
    return height_;
}

void TControl::SetAlign(TAlign align) {
    align_ = align;
    if (parent_) parent_->Realign();
}

void TControl::ApplyVisible() {
    if (!widget_) return;
    if (widget_->isWindow() || parent_) widget_->setVisible(visible_);
}

void TControl::SetVisible(bool visible) {
    bool changed = visible != visible_;
    visible_ = visible;
    ApplyVisible();
    if (changed && parent_ && align_ != TAlign::alNone) parent_->Realign();
}

bool TControl::Showing() const {
    for (const TControl* c = this; c; c = c->parent_)
        if (!c->visible_) return false;
    return widget_ && widget_->isVisible();
}

void TControl::SetEnabled(bool enabled) {
    enabled_ = enabled;
    if (widget_) widget_->setEnabled(enabled);
}

void TControl::SetHint(const std::string& hint) {
    hint_ = hint;
    if (!widget_) return;
    widget_->setToolTip(show_hint_ ? ToQShown(hint_) : QString());
    // The hint as program text, for the hint event: the tip's own text
    // cannot spell a name's letters in the code page.
    widget_->setProperty(kHintProperty, QByteArray::fromStdString(hint_));
}

void TControl::SetShowHint(bool show) {
    show_hint_ = show;
    SetHint(hint_);
}

void TControl::SetColor(TColor color) {
    color_ = color;
    ColorChanged();
}

void TControl::SetParentBackground(bool on) {
    parent_background_ = on;
    ColorChanged();
}

void TControl::ColorChanged() {
    if (!widget_) return;
    // An edit's, combo's or list's colour is its text area; any other
    // control's is its background.
    QPalette pal = widget_->palette();
    bool text_area = qobject_cast<QLineEdit*>(widget_) || qobject_cast<QComboBox*>(widget_) ||
                     qobject_cast<QAbstractScrollArea*>(widget_);
    if (text_area) {
        pal.setColor(QPalette::Base, ToQColor(color_));
    } else if (static_cast<std::uint32_t>(color_) == static_cast<std::uint32_t>(clBtnFace) &&
               parent_background_) {
        // The usual face: the parent shows through, as it looks there.
        widget_->setAutoFillBackground(false);
    } else {
        pal.setColor(widget_->backgroundRole(), ToQColor(color_));
        widget_->setAutoFillBackground(true);
    }
    widget_->setPalette(pal);
}

void TControl::FontChanged() {
    if (!widget_) return;
    widget_->setFont(ToQFont(font_));
    QPalette pal = widget_->palette();
    // A disabled control keeps the toolkit's greyed text, whatever colour
    // its font has.
    const QPalette def = QApplication::palette();
    const bool own = static_cast<std::uint32_t>(font_.Color()) != static_cast<std::uint32_t>(clWindowText);
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
            pal.setColor(group, role,
                         own && group != QPalette::Disabled ? ToQColor(font_.Color()) : def.color(group, role));
    widget_->setPalette(pal);
}

// cursors.cpp: the cursors of the application's table.
void ApplyScreenCursor(QWidget* widget, TCursor number);

void TControl::SetCursor(TCursor cursor) {
    cursor_ = cursor;
    if (!widget_) return;
    switch (cursor) {
        case TCursor::crDefault: widget_->unsetCursor(); break;
        case TCursor::crHandPoint: widget_->setCursor(Qt::PointingHandCursor); break;
        case TCursor::crHSplit: widget_->setCursor(Qt::SplitHCursor); break;
        case TCursor::crVSplit: widget_->setCursor(Qt::SplitVCursor); break;
        case TCursor::crSizeAll: widget_->setCursor(Qt::SizeAllCursor); break;
        case TCursor::crCross: widget_->setCursor(Qt::CrossCursor); break;
        case TCursor::crSizeWE: widget_->setCursor(Qt::SizeHorCursor); break;
        case TCursor::crSizeNS: widget_->setCursor(Qt::SizeVerCursor); break;
        case TCursor::crSizeNWSE: widget_->setCursor(Qt::SizeFDiagCursor); break;
        case TCursor::crSizeNESW: widget_->setCursor(Qt::SizeBDiagCursor); break;
        default: ApplyScreenCursor(widget_, cursor); break;
    }
}

void TControl::SetPopupMenu(TPopupMenu* menu) {
    if (popup_menu_ && widget_) popup_menu_->DetachFrom(widget_);
    popup_menu_ = menu;
    if (menu) {
        FreeNotification(menu);
        if (widget_) menu->AttachTo(widget_);
    }
}

void TControl::Repaint() {
    if (!widget_) return;
    // A scrolling control draws on its viewport: updating the frame around
    // it would leave what it shows as it was.
    if (auto* area = qobject_cast<QAbstractScrollArea*>(widget_))
        area->viewport()->update();
    else
        widget_->update();
}

void TControl::RepaintRect(const TRect& Rect) {
    if (!widget_ || Rect.Right <= Rect.Left || Rect.Bottom <= Rect.Top) return;
    // Within the widget first: a rectangle may reach any 32-bit coordinate.
    const int left = std::max(Rect.Left, 0), top = std::max(Rect.Top, 0);
    const int right = std::min(Rect.Right, widget_->width()), bottom = std::min(Rect.Bottom, widget_->height());
    if (right > left && bottom > top) widget_->update(left, top, right - left, bottom - top);
}

void TControl::Update() {
    if (widget_ && widget_->isVisible()) widget_->repaint();
}

void TControl::BringToFront() {
    if (widget_) widget_->raise();
}

TPoint TControl::ClientToScreen(const TPoint& p) const {
    if (!widget_) return p;
    QPoint g = widget_->mapToGlobal(QPoint(p.X, p.Y));
    return {g.x(), g.y()};
}

void TControl::Click() { Fire(OnClick, this); }

void TControl::PaintTo(TCanvas& canvas, int x, int y) {
    if (!widget_ || width_ <= 0 || height_ <= 0) return;
    QImage image(width_, height_, QImage::Format_RGB32);
    image.fill(Qt::white);
    widget_->render(&image);
    TBitmap shot(width_, height_);
    for (int row = 0; row < height_; ++row)
        std::memcpy(shot.ScanLine(row), image.constScanLine(row), static_cast<std::size_t>(width_) * 4);
    canvas.Draw(x, y, &shot);
}

bool TControl::HandleEvent(QEvent* event) {
    switch (event->type()) {
        case QEvent::Paint:
            if (paints_over_ && widget_ && !in_custom_paint_) {
                in_custom_paint_ = true;
                static_cast<QObject*>(widget_)->event(event);  // the toolkit's own drawing first
                in_custom_paint_ = false;
                QPainter painter(widget_);
                TCanvas canvas;
                canvas.Attach(&painter);
                Guarded(paintOverFailed_, [&] { PaintOver(canvas); });
                canvas.Attach(nullptr);
                return true;
            }
            break;
        case QEvent::Resize:
        case QEvent::Move:
            UpdateFromWidget();
            if (event->type() == QEvent::Resize) Fire(OnResize, this);
            break;
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease: {
            auto* me = static_cast<QMouseEvent*>(event);
            TMouseButton b = me->button() == Qt::RightButton    ? TMouseButton::mbRight
                             : me->button() == Qt::MiddleButton ? TMouseButton::mbMiddle
                                                                : TMouseButton::mbLeft;
            TShiftState s = ShiftFromModifiers(me->modifiers(), me->buttons());
            QPoint p = widget_->mapFromGlobal(me->globalPosition().toPoint());
            if (event->type() == QEvent::MouseButtonPress) {
                Fire(OnMouseDown, this, b, s, p.x(), p.y());
            } else {
                Fire(OnMouseUp, this, b, s, p.x(), p.y());
            }
            break;
        }
        case QEvent::Enter:
            ControlMessage(TControlMessage::cmMouseEnter);
            Fire(OnMouseEnter, this);
            break;
        case QEvent::Leave:
            ControlMessage(TControlMessage::cmMouseLeave);
            Fire(OnMouseLeave, this);
            break;
        case QEvent::MouseButtonDblClick:
            Fire(OnDblClick, this);
            break;
        case QEvent::MouseMove: {
            auto* me = static_cast<QMouseEvent*>(event);
            QPoint p = widget_->mapFromGlobal(me->globalPosition().toPoint());
            Fire(OnMouseMove, this, ShiftFromModifiers(me->modifiers(), me->buttons()), p.x(),
                 p.y());
            break;
        }
        case QEvent::ContextMenu:
            if (popup_menu_) {
                auto* ce = static_cast<QContextMenuEvent*>(event);
                popup_menu_->SetPopupComponent(this);
                popup_menu_->Popup(ce->globalPos().x(), ce->globalPos().y());
                return true;
            }
            break;
        default:
            break;
    }
    return false;
}

// ---------------------------------------------------------------------------

TWinControl::TWinControl(TComponent* owner, QWidget* widget) : TControl(owner, widget) {
    widget->setMouseTracking(true);
}

TWinControl::~TWinControl() {
    for (TControl* c : controls_) c->parent_ = nullptr;
    controls_.clear();
}

void TWinControl::SetFocus() {
    if (Widget()) Widget()->setFocus(Qt::OtherFocusReason);
}

bool TWinControl::Focused() const { return Widget() && Widget()->hasFocus(); }

bool TWinControl::ContainsFocus() const {
    const QWidget* focus = QApplication::focusWidget();
    return Widget() && focus && (focus == Widget() || Widget()->isAncestorOf(focus));
}

bool TWinControl::CanFocus() const { return Widget() && Widget()->isEnabled() && Showing(); }

TRect TWinControl::AlignRect() const {
    QWidget* w = ClientWidget();
    if (!w) return {};
    QRect r = w->contentsRect();
    if (auto* gb = qobject_cast<QGroupBox*>(w)) {
        int caption = QFontMetrics(gb->font()).height();
        return {r.left() + 2, r.top() + caption, r.right() + 1 - 2, r.bottom() + 1 - 2};
    }
    return {r.left(), r.top(), r.right() + 1, r.bottom() + 1};
}

void TWinControl::Realign() {
    if (aligning_) return;
    aligning_ = true;
    TRect r = AlignRect();
    auto place = [&](TAlign which) {
        std::vector<TControl*> list;
        for (TControl* c : controls_)
            if (c->align_ == which && c->visible_) list.push_back(c);
        auto by_pos = [which](TControl* a, TControl* b) {
            switch (which) {
                case TAlign::alTop: return a->top_ < b->top_;
                case TAlign::alBottom: return a->top_ > b->top_;
                case TAlign::alLeft: return a->left_ < b->left_;
                case TAlign::alRight: return a->left_ > b->left_;
                default: return false;
            }
        };
        std::stable_sort(list.begin(), list.end(), by_pos);
        for (TControl* c : list) {
            switch (which) {
                case TAlign::alTop:
                    c->SetBoundsFromParent(r.Left, r.Top, r.Width(), c->height_);
                    r.Top += c->height_;
                    break;
                case TAlign::alBottom:
                    c->SetBoundsFromParent(r.Left, r.Bottom - c->height_, r.Width(), c->height_);
                    r.Bottom -= c->height_;
                    break;
                case TAlign::alLeft:
                    c->SetBoundsFromParent(r.Left, r.Top, c->width_, r.Height());
                    r.Left += c->width_;
                    break;
                case TAlign::alRight:
                    c->SetBoundsFromParent(r.Right - c->width_, r.Top, c->width_, r.Height());
                    r.Right -= c->width_;
                    break;
                case TAlign::alClient:
                    c->SetBoundsFromParent(r.Left, r.Top, r.Width(), r.Height());
                    break;
                default:
                    break;
            }
        }
    };
    place(TAlign::alTop);
    place(TAlign::alBottom);
    place(TAlign::alLeft);
    place(TAlign::alRight);
    place(TAlign::alClient);
    aligning_ = false;
}

bool TWinControl::HandleEvent(QEvent* event) {
    switch (event->type()) {
        case QEvent::Resize:
            TControl::HandleEvent(event);
            Realign();
            return false;
        case QEvent::FocusIn:
        case QEvent::FocusOut: {
            // A control stays its form's active control while another window
            // (a dialog, a menu, another program) has the keyboard: entering
            // and leaving are moves of the focus inside the form only.
            ControlMessage(TControlMessage::cmFocusChanged);
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason) break;
            Fire(event->type() == QEvent::FocusIn ? OnEnter : OnExit, this);
            break;
        }
        case QEvent::KeyPress: {
            auto* ke = static_cast<QKeyEvent*>(event);
            std::uint16_t key = VirtualKey(ke->key());
            if (key && OnKeyDown) {
                Fire(OnKeyDown, this, key, ShiftFromModifiers(ke->modifiers()));
                if (key == 0) return true;
            }
            if (OnKeyPress && !ke->text().isEmpty()) {
                std::string s = FromQ(ke->text());
                char ch = s[0];
                Fire(OnKeyPress, this, ch);
                if (ch == 0) return true;
            }
            break;
        }
        case QEvent::KeyRelease: {
            auto* ke = static_cast<QKeyEvent*>(event);
            std::uint16_t key = VirtualKey(ke->key());
            if (key && OnKeyUp) {
                Fire(OnKeyUp, this, key, ShiftFromModifiers(ke->modifiers()));
                if (key == 0) return true;
            }
            break;
        }
        default:
            break;
    }
    return TControl::HandleEvent(event);
}

}  // namespace vcl
