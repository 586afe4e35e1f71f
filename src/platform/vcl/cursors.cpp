#include "platform/vcl/cursors.h"

#include <QBitmap>
#include <QCursor>
#include <QImage>
#include <QPixmap>
#include <QWidget>
#include <map>

#include "platform/vcl/qt_bridge.h"

namespace vcl {

namespace {

std::map<int, TResourceImage>& Table() {
    static std::map<int, TResourceImage> table;
    return table;
}

}  // namespace

void SetScreenCursor(TCursor number, const TResourceImage* image) {
    if (image)
        Table()[static_cast<int>(number)] = *image;
    else
        Table().erase(static_cast<int>(number));
}

const TResourceImage* ScreenCursor(TCursor number) {
    auto it = Table().find(static_cast<int>(number));
    return it == Table().end() ? nullptr : &it->second;
}

// Used by TControl::SetCursor for numbers beyond the standard cursors.
void ApplyScreenCursor(QWidget* widget, TCursor number) {
    const TResourceImage* image = ScreenCursor(number);
    if (!image || image->Width() <= 0 || image->Height() <= 0) {
        widget->unsetCursor();
        return;
    }
    QImage pixels(image->Width(), image->Height(), QImage::Format_ARGB32);
    for (int y = 0; y < image->Height(); ++y)
        for (int x = 0; x < image->Width(); ++x) {
            TColor color = clBlack;
            pixels.setPixel(x, y,
                            image->PixelColor(x, y, color) ? ToQColor(color).rgba() : 0u);
        }
    widget->setCursor(QCursor(QPixmap::fromImage(pixels), image->HotX, image->HotY));
}

}  // namespace vcl
