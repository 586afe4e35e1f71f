#pragma once
// The mouse and the wheel on a control, as the toolkit delivers them to its
// widget: presses, moves with buttons held, releases and wheel turns at
// client pixels, each sent through the widget's event handling. Header
// only: the test programs that use it link the class library (and so Qt).
#include <QApplication>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QWidget>

#include "platform/vcl/controls.h"

namespace test_support {

inline void SendMouse(vcl::TControl& Control, QEvent::Type Type, Qt::MouseButton Button,
                      Qt::MouseButtons Held, int X, int Y, Qt::KeyboardModifiers Keys = {}) {
    QWidget* w = Control.Widget();
    const QPointF at(X, Y);
    QMouseEvent event(Type, at, w->mapToGlobal(at), Button, Held, Keys);
    QApplication::sendEvent(w, &event);
}

inline void MousePress(vcl::TControl& Control, Qt::MouseButton Button, int X, int Y,
                       Qt::KeyboardModifiers Keys = {}) {
    SendMouse(Control, QEvent::MouseButtonPress, Button, Button, X, Y, Keys);
}

inline void MouseMoveTo(vcl::TControl& Control, int X, int Y, Qt::MouseButtons Held = {},
                        Qt::KeyboardModifiers Keys = {}) {
    SendMouse(Control, QEvent::MouseMove, Qt::NoButton, Held, X, Y, Keys);
}

inline void MouseRelease(vcl::TControl& Control, Qt::MouseButton Button, int X, int Y,
                         Qt::KeyboardModifiers Keys = {}) {
    SendMouse(Control, QEvent::MouseButtonRelease, Button, Qt::NoButton, X, Y, Keys);
}

// Press at (X0, Y0), Steps moves on the way, release at (X1, Y1).
inline void MouseDrag(vcl::TControl& Control, Qt::MouseButton Button, int X0, int Y0, int X1, int Y1,
                      int Steps = 4, Qt::KeyboardModifiers Keys = {}) {
    MousePress(Control, Button, X0, Y0, Keys);
    for (int i = 1; i <= Steps; ++i)
        MouseMoveTo(Control, X0 + (X1 - X0) * i / Steps, Y0 + (Y1 - Y0) * i / Steps, Button, Keys);
    MouseRelease(Control, Button, X1, Y1, Keys);
}

// The wheel turned by Delta (a notch is 120; positive away from the user)
// with the mouse at (X, Y).
inline void MouseWheel(vcl::TControl& Control, int X, int Y, int Delta, Qt::KeyboardModifiers Keys = {}) {
    QWidget* w = Control.Widget();
    const QPointF at(X, Y);
    QWheelEvent event(at, w->mapToGlobal(at), QPoint(), QPoint(0, Delta), Qt::NoButton, Keys,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(w, &event);
}

}  // namespace test_support
