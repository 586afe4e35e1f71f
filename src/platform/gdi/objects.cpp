#include "platform/gdi/objects.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "platform/gdi/qt_gdi.h"

namespace gdi {

namespace {

QImage::Format FormatFor(int bitsPerPixel, bool alpha) {
    if (bitsPerPixel == 24) return QImage::Format_BGR888;
    return alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32;
}

void CheckSides(int width, int height) {
    if (width > kMaxSurfaceSide || height > kMaxSurfaceSide)
        throw EGdiError("Bitmap of " + std::to_string(width) + " x " + std::to_string(height) +
                        " pixels is too large (at most " + std::to_string(kMaxSurfaceSide) +
                        " pixels per side)");
}

// A white image of the size, or a null one for a side of 0 or below.
QImage MakeImage(int width, int height, QImage::Format format) {
    CheckSides(width, height);
    if (width <= 0 || height <= 0) return QImage();
    QImage image(width, height, format);
    if (image.isNull())
        throw EGdiError("Not enough memory for a bitmap of " + std::to_string(width) + " x " +
                        std::to_string(height) + " pixels");
    image.fill(Qt::white);
    return image;
}

}  // namespace

// ---- Bitmaps

Bitmap::Bitmap(int width, int height, int bitsPerPixel) : impl_(std::make_unique<Impl>()) {
    impl_->image = MakeImage(width, height, FormatFor(bitsPerPixel, false));
    impl_->width = std::max(width, 0);
    impl_->height = std::max(height, 0);
    impl_->bits = bitsPerPixel == 24 ? 24 : 32;
}

Bitmap::~Bitmap() { impl_->ReleasePainter(); }

int Bitmap::Width() const { return impl_->width; }
int Bitmap::Height() const { return impl_->height; }
int Bitmap::BitsPerPixel() const { return impl_->bits; }
bool Bitmap::HasAlpha() const { return impl_->image.format() == QImage::Format_ARGB32; }
int Bitmap::BytesPerLine() const { return static_cast<int>(impl_->image.bytesPerLine()); }

std::uint8_t* Bitmap::ScanLine(int row) {
    if (row < 0 || row >= impl_->image.height()) return nullptr;
    return impl_->image.scanLine(row);
}
const std::uint8_t* Bitmap::ScanLine(int row) const {
    if (row < 0 || row >= impl_->image.height()) return nullptr;
    return impl_->image.constScanLine(row);
}

void Bitmap::SetSize(int width, int height) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width == Width() && height == Height()) return;
    QImage next = MakeImage(width, height, impl_->image.isNull() ? FormatFor(BitsPerPixel(), false)
                                                                : impl_->image.format());
    impl_->ReleasePainter();
    const int w = std::min(width, impl_->image.width());
    const int h = std::min(height, impl_->image.height());
    impl_->width = width;
    impl_->height = height;
    if (!next.isNull() && w > 0 && h > 0) {
        const int bytes = w * (BitsPerPixel() / 8);
        for (int y = 0; y < h; ++y)
            std::memcpy(next.scanLine(y), impl_->image.constScanLine(y), static_cast<size_t>(bytes));
    }
    impl_->image = std::move(next);
}

void Bitmap::SetBitsPerPixel(int bitsPerPixel) {
    impl_->bits = bitsPerPixel == 24 ? 24 : 32;
    const QImage::Format format = FormatFor(bitsPerPixel, HasAlpha());
    if (impl_->image.isNull() || impl_->image.format() == format) return;
    impl_->ReleasePainter();
    impl_->image = impl_->image.convertToFormat(format);
}

void Bitmap::SetHasAlpha(bool hasAlpha) {
    if (impl_->image.isNull() || impl_->image.depth() != 32 || hasAlpha == HasAlpha()) return;
    impl_->ReleasePainter();
    if (hasAlpha) {
        impl_->image.reinterpretAsFormat(QImage::Format_ARGB32);
    } else {
        // Pixels become opaque: their colour stays, blended alpha is dropped.
        impl_->image.reinterpretAsFormat(QImage::Format_RGB32);
        for (int y = 0; y < impl_->image.height(); ++y) {
            auto* row = reinterpret_cast<QRgb*>(impl_->image.scanLine(y));
            for (int x = 0; x < impl_->image.width(); ++x) row[x] |= 0xFF000000u;
        }
    }
}

COLORREF Bitmap::GetPixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= impl_->image.width() || y >= impl_->image.height()) return CLR_INVALID;
    return FromQRgb(impl_->image.pixel(x, y));
}

void Bitmap::SetPixel(int x, int y, COLORREF color) {
    if (x < 0 || y < 0 || x >= impl_->image.width() || y >= impl_->image.height()) return;
    impl_->image.setPixel(x, y, ToQRgb(color));
}

void Bitmap::Fill(COLORREF color) {
    if (!impl_->image.isNull()) impl_->image.fill(QColor::fromRgb(ToQRgb(color)));
}

HBITMAP Bitmap::Clone() const {
    auto copy = std::make_shared<Bitmap>(0, 0, BitsPerPixel());
    copy->impl_->image = impl_->image.copy();
    copy->impl_->width = impl_->width;
    copy->impl_->height = impl_->height;
    return copy;
}

HBITMAP BitmapFromImage(const QImage& image) {
    const bool narrow = image.format() == QImage::Format_BGR888;
    auto bitmap = std::make_shared<Bitmap>(0, 0, narrow ? 24 : 32);
    Bitmap::Impl& b = bitmap->impl();
    if (!image.isNull()) {
        CheckSides(image.width(), image.height());
        b.image = narrow ? image.copy()
                         : image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32
                                                                         : QImage::Format_RGB32);
        if (b.image.constBits() == image.constBits()) b.image = image.copy();
    }
    b.width = image.width();
    b.height = image.height();
    return bitmap;
}

HBITMAP CreateBitmap(int width, int height, int bitsPerPixel) {
    return std::make_shared<Bitmap>(width, height, bitsPerPixel);
}

// ---- Pens and brushes

HPEN CreatePen(int style, int width, COLORREF color) {
    EXTLOGPEN log;
    DWORD s = static_cast<DWORD>(style) & PS_STYLE_MASK;
    if (s > PS_INSIDEFRAME) s = PS_SOLID;
    const DWORD w = width < 1 ? 1u : static_cast<DWORD>(width);
    // A styled pen wider than one pixel draws solid.
    if (w > 1 && s != PS_NULL && s != PS_INSIDEFRAME) s = PS_SOLID;
    log.elpPenStyle = (w > 1 ? PS_GEOMETRIC : PS_COSMETIC) | s;
    log.elpWidth = w;
    log.elpColor = color & 0xFFFFFFu;
    return std::make_shared<Pen>(std::move(log), false);
}

HPEN ExtCreatePen(DWORD style, DWORD width, const LOGBRUSH& brush,
                  std::span<const DWORD> styleEntries) {
    EXTLOGPEN log;
    const bool geometric = (style & PS_TYPE_MASK) == PS_GEOMETRIC;
    DWORD s = style & PS_STYLE_MASK;
    if (s > PS_ALTERNATE) s = PS_SOLID;
    if (!geometric && s == PS_INSIDEFRAME) s = PS_SOLID;
    if (geometric && s == PS_ALTERNATE) s = PS_SOLID;
    if (brush.lbStyle == BS_NULL) s = PS_NULL;
    log.elpPenStyle = (geometric ? PS_GEOMETRIC : PS_COSMETIC) | (style & PS_ENDCAP_MASK) |
                      (style & PS_JOIN_MASK) | s;
    const int signedWidth = static_cast<int>(width);
    log.elpWidth = geometric ? static_cast<DWORD>(signedWidth < 1 ? 1 : signedWidth) : 1u;
    log.elpBrushStyle = brush.lbStyle == BS_HATCHED ? BS_HATCHED : BS_SOLID;
    log.elpColor = brush.lbColor & 0xFFFFFFu;
    log.elpHatch = brush.lbHatch;
    if (s == PS_USERSTYLE) {
        // Sixteen entries at most, as GDI takes; an all-zero style draws solid.
        const std::size_t n = std::min<std::size_t>(styleEntries.size(), 16);
        log.elpStyleEntry.assign(styleEntries.begin(), styleEntries.begin() + static_cast<long>(n));
        DWORD sum = 0;
        for (DWORD e : log.elpStyleEntry) sum += e;
        if (log.elpStyleEntry.empty() || (sum == 0 && !geometric))
            log.elpPenStyle = (log.elpPenStyle & ~PS_STYLE_MASK) | PS_SOLID;
    }
    return std::make_shared<Pen>(std::move(log), false);
}

HBRUSH CreateSolidBrush(COLORREF color) {
    return std::make_shared<Brush>(LOGBRUSH{BS_SOLID, color & 0xFFFFFFu, 0}, nullptr, false);
}

HBRUSH CreateHatchBrush(int hatch, COLORREF color) {
    if (hatch < HS_HORIZONTAL || hatch > HS_DIAGCROSS) hatch = HS_HORIZONTAL;
    return std::make_shared<Brush>(LOGBRUSH{BS_HATCHED, color & 0xFFFFFFu, hatch}, nullptr, false);
}

HBRUSH CreatePatternBrush(const HBITMAP& pattern) {
    if (!pattern || pattern->Empty()) return CreateSolidBrush(0);
    return std::make_shared<Brush>(LOGBRUSH{BS_PATTERN, 0, 0}, pattern->Clone(), false);
}

HBRUSH CreateBrushIndirect(const LOGBRUSH& brush) {
    switch (brush.lbStyle) {
        case BS_NULL: return GetStockBrush(NULL_BRUSH);
        case BS_HATCHED: return CreateHatchBrush(brush.lbHatch, brush.lbColor);
        default: return CreateSolidBrush(brush.lbColor);
    }
}

HFONT CreateFontIndirect(const LOGFONT& font) { return std::make_shared<Font>(font); }

Font::Font(LOGFONT log) : log_(std::move(log)) {}
Font::~Font() = default;

// ---- Stock objects: made once, never changed.

HPEN GetStockPen(int which) {
    static const HPEN white = CreatePen(PS_SOLID, 1, RGB(255, 255, 255));
    static const HPEN black = CreatePen(PS_SOLID, 1, 0);
    static const HPEN null = CreatePen(PS_NULL, 1, 0);
    static const HPEN dc = std::make_shared<Pen>(EXTLOGPEN{}, true);
    switch (which) {
        case WHITE_PEN: return white;
        case NULL_PEN: return null;
        case DC_PEN: return dc;
        default: return black;
    }
}

HBRUSH GetStockBrush(int which) {
    static const HBRUSH white = CreateSolidBrush(RGB(255, 255, 255));
    static const HBRUSH ltgray = CreateSolidBrush(RGB(192, 192, 192));
    static const HBRUSH gray = CreateSolidBrush(RGB(128, 128, 128));
    static const HBRUSH dkgray = CreateSolidBrush(RGB(64, 64, 64));
    static const HBRUSH black = CreateSolidBrush(0);
    static const HBRUSH null = std::make_shared<Brush>(LOGBRUSH{BS_NULL, 0, 0}, nullptr, false);
    static const HBRUSH dc = std::make_shared<Brush>(LOGBRUSH{BS_SOLID, 0xFFFFFF, 0}, nullptr, true);
    switch (which) {
        case LTGRAY_BRUSH: return ltgray;
        case GRAY_BRUSH: return gray;
        case DKGRAY_BRUSH: return dkgray;
        case BLACK_BRUSH: return black;
        case NULL_BRUSH: return null;
        case DC_BRUSH: return dc;
        default: return white;
    }
}

HFONT GetStockFont(int which) {
    static const HFONT gui = [] {
        LOGFONT lf;
        lf.lfHeight = -11;  // 8 points at 96 dpi
        lf.lfFaceName = "Tahoma";
        return CreateFontIndirect(lf);
    }();
    static const HFONT system = [] {
        LOGFONT lf;
        lf.lfHeight = 16;
        lf.lfWeight = FW_BOLD;
        lf.lfFaceName = "Tahoma";
        return CreateFontIndirect(lf);
    }();
    return which == SYSTEM_FONT ? system : gui;
}

// ---- System colours

COLORREF GetSysColor(int index) {
    // A light desktop, in the shades the toolkit's own widgets use, so that
    // owner-drawn controls match the ones beside them.
    static constexpr std::array<COLORREF, 31> kColors = {
        RGB(0xEF, 0xEF, 0xEF),  // COLOR_SCROLLBAR
        RGB(0x9F, 0x9F, 0x9F),  // COLOR_BACKGROUND
        RGB(0x30, 0x8C, 0xC6),  // COLOR_ACTIVECAPTION
        RGB(0xEF, 0xEF, 0xEF),  // COLOR_INACTIVECAPTION
        RGB(0xEF, 0xEF, 0xEF),  // COLOR_MENU
        RGB(0xFF, 0xFF, 0xFF),  // COLOR_WINDOW
        RGB(0x76, 0x76, 0x76),  // COLOR_WINDOWFRAME
        RGB(0x00, 0x00, 0x00),  // COLOR_MENUTEXT
        RGB(0x00, 0x00, 0x00),  // COLOR_WINDOWTEXT
        RGB(0xFF, 0xFF, 0xFF),  // COLOR_CAPTIONTEXT
        RGB(0xEF, 0xEF, 0xEF),  // COLOR_ACTIVEBORDER
        RGB(0xEF, 0xEF, 0xEF),  // COLOR_INACTIVEBORDER
        RGB(0x9F, 0x9F, 0x9F),  // COLOR_APPWORKSPACE
        RGB(0x30, 0x8C, 0xC6),  // COLOR_HIGHLIGHT
        RGB(0xFF, 0xFF, 0xFF),  // COLOR_HIGHLIGHTTEXT
        RGB(0xEF, 0xEF, 0xEF),  // COLOR_BTNFACE
        RGB(0x9F, 0x9F, 0x9F),  // COLOR_BTNSHADOW
        RGB(0xBE, 0xBE, 0xBE),  // COLOR_GRAYTEXT
        RGB(0x00, 0x00, 0x00),  // COLOR_BTNTEXT
        RGB(0x00, 0x00, 0x00),  // COLOR_INACTIVECAPTIONTEXT
        RGB(0xFF, 0xFF, 0xFF),  // COLOR_BTNHIGHLIGHT
        RGB(0x76, 0x76, 0x76),  // COLOR_3DDKSHADOW
        RGB(0xCA, 0xCA, 0xCA),  // COLOR_3DLIGHT
        RGB(0x00, 0x00, 0x00),  // COLOR_INFOTEXT
        RGB(0xFF, 0xFF, 0xE1),  // COLOR_INFOBK
        RGB(0x00, 0x00, 0x00),  // (no colour 25)
        RGB(0x00, 0x00, 0xFF),  // COLOR_HOTLIGHT
        RGB(0x30, 0x8C, 0xC6),  // COLOR_GRADIENTACTIVECAPTION
        RGB(0xEF, 0xEF, 0xEF),  // COLOR_GRADIENTINACTIVECAPTION
        RGB(0x30, 0x8C, 0xC6),  // COLOR_MENUHILIGHT
        RGB(0xEF, 0xEF, 0xEF),  // COLOR_MENUBAR
    };
    if (index < 0 || index >= static_cast<int>(kColors.size())) return 0;
    return kColors[static_cast<std::size_t>(index)];
}

}  // namespace gdi
