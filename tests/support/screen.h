#pragma once
// What a window shows on the screen, as opposed to what its controls would
// draw if asked now: on the offscreen platform a window's backing store
// holds the pixels it last painted, so a control that was not repainted
// after a change still shows the old picture there. Header only: the test
// programs that use it link the class library (and so Qt) themselves.
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <chrono>

#include "platform/vcl/controls.h"
#include "support/qt_app.h"

namespace test_support {

// Lets pending repaints reach the screen, then copies the part of the
// window's backing store that Control covers.
inline QImage OnScreen(vcl::TControl* Control) {
    Pump(std::chrono::milliseconds(30));
    QWidget* w = Control->Widget();
    QWidget* top = w->window();
    const QPoint at = w->mapTo(top, QPoint(0, 0));
    QScreen* screen = top->screen() ? top->screen() : QGuiApplication::primaryScreen();
    return screen->grabWindow(top->winId(), at.x(), at.y(), w->width(), w->height()).toImage();
}

// Whether any pixel of a band of rows [Top, Top + Height) differs from the
// colour at the band's right end (past any text).
inline bool BandHasInk(const QImage& Image, int Top, int Height) {
    const QRgb background = Image.pixel(Image.width() - 2, Top + Height / 2);
    for (int y = Top; y < Top + Height && y < Image.height(); ++y)
        for (int x = 0; x < Image.width() - 4; ++x)
            if (Image.pixel(x, y) != background) return true;
    return false;
}

}  // namespace test_support
