#pragma once
// What a window shows on the screen, as opposed to what its controls would
// draw if asked now: on the offscreen platform a window's backing store
// holds the pixels it last painted, so a control that was not repainted
// after a change still shows the old picture there. Header only: the test
// programs that use it link the class library (and so Qt) themselves.
#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "platform/vcl/controls.h"
#include "platform/vcl/std_ctrls.h"
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

// What keeps a user from seeing or reaching the controls shown under Root:
// a control cut off by a control it lies in, one that lies over another
// shown control beside it, and a caption or list entry wider than its
// control. One line each, naming the controls. Floating controls lie over
// the others on purpose.
inline std::vector<std::string> LayoutProblems(vcl::TWinControl* Root,
                                               const std::vector<const vcl::TControl*>& Floating = {}) {
    std::vector<std::string> problems;
    QWidget* top = Root->Widget();
    auto rect_of = [&](const vcl::TControl* c) {
        return QRect(c->Widget()->mapTo(top, QPoint(0, 0)), c->Widget()->size());
    };
    auto name_of = [](const vcl::TControl* c) {
        return c->Name.empty() ? std::string(c->Widget()->metaObject()->className()) : c->Name;
    };
    // The text as shown: an "&" that marks a key is not drawn.
    auto shown = [](QString text, bool mnemonic) {
        if (!mnemonic) return text;
        text.replace("&&", QChar(0xE000));
        text.remove('&');
        text.replace(QChar(0xE000), "&");
        return text;
    };
    auto text_fits = [&](const vcl::TControl* c) {
        QWidget* w = c->Widget();
        const QFontMetrics fm(w->font());
        if (auto* label = qobject_cast<QLabel*>(w)) {
            int widest = 0;
            for (const QString& line : shown(label->text(), label->buddy() != nullptr).split('\n'))
                widest = std::max(widest, fm.horizontalAdvance(line));
            return widest <= w->width();
        }
        if (auto* check = qobject_cast<QCheckBox*>(w)) return fm.horizontalAdvance(shown(check->text(), true)) + 18 <= w->width();
        if (auto* button = qobject_cast<QAbstractButton*>(w)) return fm.horizontalAdvance(shown(button->text(), true)) + 4 <= w->width();
        if (auto* combo = qobject_cast<QComboBox*>(w)) {
            if (combo->isEditable()) return true;
            int widest = 0;
            for (int i = 0; i < combo->count(); ++i)
                widest = std::max(widest, fm.horizontalAdvance(combo->itemText(i).section('\t', 0, 0)));
            return widest + 20 <= w->width();  // the arrow beside the text
        }
        return true;
    };
    std::function<void(vcl::TWinControl*, QRect)> walk = [&](vcl::TWinControl* parent, QRect clip) {
        std::vector<vcl::TControl*> shown;
        for (int i = 0; i < parent->ControlCount(); ++i) {
            vcl::TControl* c = parent->Controls(i);
            if (!c->Widget() || !c->Widget()->isVisible()) continue;
            shown.push_back(c);
            const QRect r = rect_of(c);
            if (!clip.contains(r)) problems.push_back(name_of(c) + " is cut off");
            if (!text_fits(c)) problems.push_back(name_of(c) + " is too narrow for its text");
            if (auto* w = dynamic_cast<vcl::TWinControl*>(c)) walk(w, clip.intersected(r));
        }
        for (std::size_t i = 0; i < shown.size(); ++i)
            for (std::size_t j = i + 1; j < shown.size(); ++j)
                if (rect_of(shown[i]).intersects(rect_of(shown[j])) &&
                    std::find(Floating.begin(), Floating.end(), shown[i]) == Floating.end() &&
                    std::find(Floating.begin(), Floating.end(), shown[j]) == Floating.end())
                    problems.push_back(name_of(shown[i]) + " and " + name_of(shown[j]) + " overlap");
    };
    walk(Root, QRect(QPoint(0, 0), top->size()));
    return problems;
}

}  // namespace test_support
