#include "platform/vcl/clipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <cstring>

#include "platform/gdi/qt_gdi.h"
#include "platform/rtl/exceptions.h"
#include "platform/vcl/bitmap.h"
#include "platform/vcl/metafile.h"
#include "platform/vcl/picture.h"
#include "platform/vcl/qt_bridge.h"

namespace vcl {

namespace {

// Where metafile files travel on the toolkit's clipboard.
const char* const kEnhancedMime = "image/x-emf";
const char* const kWindowsMime = "image/x-wmf";

QImage ImageOf(const TBitmap& bitmap) {
    const QImage& image = bitmap.Handle()->impl().image;
    return image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
}

QByteArray Bytes(const std::vector<std::uint8_t>& data) {
    return QByteArray(reinterpret_cast<const char*>(data.data()), static_cast<qsizetype>(data.size()));
}

}  // namespace

std::string TClipboard::AsText() const { return FromQ(QGuiApplication::clipboard()->text()); }

void TClipboard::SetAsText(const std::string& text) {
    // Copied lines are data: every byte as the code page spells it.
    QGuiApplication::clipboard()->setText(ToQ(text));
}

bool TClipboard::HasText() const { return HasFormat(CF_TEXT); }

void TClipboard::Assign(const TPersistent& source) {
    const TPersistent* what = &source;
    if (const auto* picture = dynamic_cast<const TPicture*>(what)) {
        if (!picture->Graphic()) throw rtl::EConvertError("An empty picture cannot be put on the clipboard");
        what = picture->Graphic();
    }
    auto data = std::make_unique<QMimeData>();
    if (const auto* bitmap = dynamic_cast<const TBitmap*>(what)) {
        data->setImageData(ImageOf(*bitmap));
    } else if (const auto* metafile = dynamic_cast<const TMetafile*>(what)) {
        data->setData(kEnhancedMime, Bytes(metafile->FileBytes(true)));
        data->setData(kWindowsMime, Bytes(metafile->FileBytes(false)));
        TBitmap pixels(metafile->Width(), metafile->Height());
        metafile->Draw(pixels.Canvas(), {0, 0, metafile->Width(), metafile->Height()});
        data->setImageData(ImageOf(pixels));
    } else if (const auto* graphic = dynamic_cast<const TGraphic*>(what)) {
        TBitmap pixels;
        pixels.Assign(*graphic);
        data->setImageData(ImageOf(pixels));
    } else {
        throw rtl::EConvertError("Cannot assign a " + source.ClassName() + " to the clipboard");
    }
    QGuiApplication::clipboard()->setMimeData(data.release());
}

bool TClipboard::HasFormat(unsigned format) const {
    const QMimeData* d = QGuiApplication::clipboard()->mimeData();
    if (!d) return false;
    switch (format) {
        case CF_TEXT: return d->hasText();
        case CF_BITMAP: return d->hasImage();
        case CF_ENHMETAFILE: return d->hasFormat(kEnhancedMime);
        case CF_METAFILEPICT: return d->hasFormat(kWindowsMime);
        default: return false;
    }
}

bool TClipboard::GetBitmap(TBitmap& bitmap) const {
    const QMimeData* d = QGuiApplication::clipboard()->mimeData();
    if (!d || !d->hasImage()) return false;
    const QImage image = qvariant_cast<QImage>(d->imageData());
    if (image.isNull()) return false;
    TBitmap copy(image.width(), image.height());
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < rgb.height(); ++y)
        std::memcpy(copy.ScanLine(y), rgb.constScanLine(y), static_cast<std::size_t>(rgb.width()) * 4);
    bitmap.Assign(copy);
    return true;
}

std::vector<std::uint8_t> TClipboard::GetMetafile(unsigned format) const {
    const QMimeData* d = QGuiApplication::clipboard()->mimeData();
    const char* mime = format == CF_ENHMETAFILE ? kEnhancedMime : format == CF_METAFILEPICT ? kWindowsMime : nullptr;
    if (!d || !mime || !d->hasFormat(mime)) return {};
    const QByteArray bytes = d->data(mime);
    return {bytes.begin(), bytes.end()};
}

TClipboard& Clipboard() {
    static TClipboard clipboard;
    return clipboard;
}

}  // namespace vcl
