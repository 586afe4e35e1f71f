#include "platform/vcl/clipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include "platform/vcl/qt_bridge.h"

namespace vcl {

std::string TClipboard::AsText() const { return FromQ(QGuiApplication::clipboard()->text()); }

void TClipboard::SetAsText(const std::string& text) {
    QGuiApplication::clipboard()->setText(ToQ(text));
}

bool TClipboard::HasText() const {
    const QMimeData* d = QGuiApplication::clipboard()->mimeData();
    return d && d->hasText();
}

TClipboard& Clipboard() {
    static TClipboard clipboard;
    return clipboard;
}

}  // namespace vcl
