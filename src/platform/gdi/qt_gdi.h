#pragma once
// The toolkit side of the device-context layer, for src/platform only: how
// bitmaps, regions and fonts are held, and the window DC that draws through
// a painter the toolkit opened for a paint.
#include <QFont>
#include <QImage>
#include <QRegion>
#include <QString>
#include <functional>
#include <memory>
#include <string_view>

#include "platform/gdi/dc.h"

class QPainter;

namespace gdi {

struct Bitmap::Impl {
    // Format_RGB32, Format_ARGB32 (a picture with alpha), Format_BGR888
    // (24 bits per pixel) or a null image (empty bitmap). Never shared with
    // another QImage: a painter may be drawing into its memory.
    QImage image;
    // The size asked for: an image with a side of 0 has no pixels but keeps
    // the other side.
    int width = 0;
    int height = 0;
    int bits = 32;
    // Set while a device context keeps a painter open on the image; called
    // before the image is resized, converted or painted by another DC.
    std::function<void()> release_painter;
    void ReleasePainter() {
        if (release_painter) {
            auto release = std::move(release_painter);
            release_painter = nullptr;
            release();
        }
    }
};

// A bitmap holding image (never shared with the caller's copy).
HBITMAP BitmapFromImage(const QImage& image);

struct Region::Impl {
    QRegion region;
};

struct Font::Realised {
    QFont font;          // the face at its pixel size, spacing not applied
    int ascent = 0;
    int descent = 0;
    int internal_leading = 0;
    int external_leading = 0;
    int ave_char_width = 0;
    int max_char_width = 0;
    double escapement = 0;  // degrees, counter-clockwise
    int Advance(const QString& text) const;
};

// 0x00BBGGRR <-> the toolkit's 0xAARRGGBB pixel (opaque).
inline QRgb ToQRgb(COLORREF c) {
    return 0xFF000000u | ((c & 0xFFu) << 16) | (c & 0xFF00u) | ((c >> 16) & 0xFFu);
}
inline COLORREF FromQRgb(QRgb p) {
    return ((p >> 16) & 0xFFu) | (p & 0xFF00u) | ((p & 0xFFu) << 16);
}

// The face of a logical font (alias table applied, pixel size at 96 dpi).
QFont ToQFont(const LOGFONT& font);
// 8-bit program text (Windows-1251) <-> the toolkit's text.
QString AnsiToQString(std::string_view text);

// A DC drawing onto the device of an open painter (a window while it
// paints) of the given size. The painter's state is saved and restored.
std::unique_ptr<DC> CreatePainterDC(QPainter* painter, int width, int height);

}  // namespace gdi
