#pragma once
// The drawing objects of the device-context layer: pens, brushes, fonts,
// bitmaps and regions, with the creation functions GDI names them by.
//
// Ownership: an object lives as long as a handle to it does. Handles are
// shared pointers, so an object selected into a device context stays alive
// while it is selected, and nothing has to be deleted by hand. Pens,
// brushes and fonts cannot change once made; bitmaps (their pixels) and
// regions (through CombineRgn) can.
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "platform/gdi/types.h"
#include "platform/rtl/exceptions.h"

namespace gdi {

// A request the layer cannot honour: a surface side beyond kMaxSurfaceSide,
// a bitmap the memory cannot hold, text before the application exists.
class EGdiError : public rtl::Exception {
public:
    using Exception::Exception;
};

class Bitmap;
using HBITMAP = std::shared_ptr<Bitmap>;

// The description of a pen (what GetObject gives back for a pen).
struct EXTLOGPEN {
    DWORD elpPenStyle = PS_SOLID;  // type | join | end cap | style
    DWORD elpWidth = 1;
    unsigned elpBrushStyle = BS_SOLID;
    COLORREF elpColor = 0;
    int elpHatch = 0;
    std::vector<DWORD> elpStyleEntry;  // PS_USERSTYLE: dash and gap lengths
};

class Pen {
public:
    Pen(EXTLOGPEN log, bool isDCPen) : log_(std::move(log)), dc_pen_(isDCPen) {}

    const EXTLOGPEN& Log() const { return log_; }
    // The stock DC pen: its colour is the device context's DC pen colour.
    bool IsDCPen() const { return dc_pen_; }
    bool IsNull() const { return Style() == PS_NULL; }
    bool IsGeometric() const { return (log_.elpPenStyle & PS_TYPE_MASK) == PS_GEOMETRIC; }
    DWORD Style() const { return log_.elpPenStyle & PS_STYLE_MASK; }
    DWORD EndCap() const { return log_.elpPenStyle & PS_ENDCAP_MASK; }
    DWORD Join() const { return log_.elpPenStyle & PS_JOIN_MASK; }
    // The width drawn, never below one pixel.
    int Width() const { return log_.elpWidth < 1 ? 1 : static_cast<int>(log_.elpWidth); }

private:
    EXTLOGPEN log_;
    bool dc_pen_;
};
using HPEN = std::shared_ptr<const Pen>;

class Brush {
public:
    Brush(LOGBRUSH log, HBITMAP pattern, bool isDCBrush)
        : log_(log), pattern_(std::move(pattern)), dc_brush_(isDCBrush) {}

    const LOGBRUSH& Log() const { return log_; }
    // BS_PATTERN: the brush's own copy of the pattern's pixels.
    const HBITMAP& Pattern() const { return pattern_; }
    // The stock DC brush: its colour is the device context's DC brush colour.
    bool IsDCBrush() const { return dc_brush_; }
    bool IsNull() const { return log_.lbStyle == BS_NULL; }

private:
    LOGBRUSH log_;
    HBITMAP pattern_;
    bool dc_brush_;
};
using HBRUSH = std::shared_ptr<const Brush>;

class Font {
public:
    explicit Font(LOGFONT log);
    ~Font();
    Font(const Font&) = delete;
    Font& operator=(const Font&) = delete;

    const LOGFONT& Log() const { return log_; }

    // The realised face, sizes and metrics, made on first use (text.cpp).
    struct Realised;
    const Realised& Realise() const;

private:
    LOGFONT log_;
    mutable std::unique_ptr<Realised> realised_;
};
using HFONT = std::shared_ptr<const Font>;

// Pixels of a bitmap: 32 bits per pixel (blue, green, red and a byte that
// is 0xFF, or the alpha of a picture that has one) or 24 (blue, green, red),
// rows top-down. A bitmap of width or height 0 holds no pixels.
class Bitmap {
public:
    // White pixels. Sides of 0 or below make an empty bitmap; a side beyond
    // kMaxSurfaceSide, or too little memory, raises EGdiError.
    Bitmap(int width, int height, int bitsPerPixel = 32);
    ~Bitmap();
    Bitmap(const Bitmap&) = delete;
    Bitmap& operator=(const Bitmap&) = delete;

    // The size asked for; with either side 0 there are no pixels.
    int Width() const;
    int Height() const;
    bool Empty() const { return Width() == 0 || Height() == 0; }
    int BitsPerPixel() const;
    // The fourth byte of a 32-bit pixel is an alpha to blend with.
    bool HasAlpha() const;
    int BytesPerLine() const;
    std::uint8_t* ScanLine(int row);
    const std::uint8_t* ScanLine(int row) const;

    // New size: the pixels that both sizes share keep their colour, new
    // ones are white. Same size limits as the constructor.
    void SetSize(int width, int height);
    // 24 or 32 bits per pixel; the colours are kept.
    void SetBitsPerPixel(int bitsPerPixel);
    void SetHasAlpha(bool hasAlpha);

    COLORREF GetPixel(int x, int y) const;  // CLR_INVALID outside
    void SetPixel(int x, int y, COLORREF color);
    void Fill(COLORREF color);

    HBITMAP Clone() const;

    struct Impl;
    Impl& impl() { return *impl_; }
    const Impl& impl() const { return *impl_; }

private:
    std::unique_ptr<Impl> impl_;
};

// A set of pixels. Regions hold only the part within ±kRegionLimit.
class Region {
public:
    Region();
    ~Region();
    Region(const Region&) = delete;
    Region& operator=(const Region&) = delete;

    struct Impl;
    Impl& impl() { return *impl_; }
    const Impl& impl() const { return *impl_; }

private:
    std::unique_ptr<Impl> impl_;
};
using HRGN = std::shared_ptr<Region>;

constexpr int kRegionLimit = 1 << 16;

// ---- Creation

// Widths below 1 draw one pixel. Styles other than solid, null and inside
// frame draw solid when the width is above 1.
HPEN CreatePen(int style, int width, COLORREF color);
// style: PS_COSMETIC (width 1; solid, the dashed styles, PS_ALTERNATE,
// PS_USERSTYLE) or PS_GEOMETRIC (any width, end caps, joins, user styles).
HPEN ExtCreatePen(DWORD style, DWORD width, const LOGBRUSH& brush,
                  std::span<const DWORD> styleEntries = {});
HBRUSH CreateSolidBrush(COLORREF color);
HBRUSH CreateHatchBrush(int hatch, COLORREF color);
// The brush keeps its own copy of the pattern's pixels.
HBRUSH CreatePatternBrush(const HBITMAP& pattern);
HBRUSH CreateBrushIndirect(const LOGBRUSH& brush);
HFONT CreateFontIndirect(const LOGFONT& font);
HBITMAP CreateBitmap(int width, int height, int bitsPerPixel = 32);

HPEN GetStockPen(int which);      // WHITE_PEN, BLACK_PEN, NULL_PEN, DC_PEN
HBRUSH GetStockBrush(int which);  // WHITE_BRUSH .. NULL_BRUSH, DC_BRUSH
HFONT GetStockFont(int which);    // SYSTEM_FONT, DEFAULT_GUI_FONT

// ---- Regions

HRGN CreateRectRgn(int left, int top, int right, int bottom);
HRGN CreateRectRgnIndirect(const RECT& r);
// Corner ellipse of width w and height h.
HRGN CreateRoundRectRgn(int left, int top, int right, int bottom, int w, int h);
HRGN CreateEllipticRgn(int left, int top, int right, int bottom);
HRGN CreateEllipticRgnIndirect(const RECT& r);
// fillMode ALTERNATE or WINDING.
HRGN CreatePolygonRgn(std::span<const POINT> points, int fillMode);
// dest := a (mode) b; b is not read for RGN_COPY. Returns the kind of the
// result, RGN_ERROR on a bad argument.
int CombineRgn(const HRGN& dest, const HRGN& a, const HRGN& b, int mode);
int GetRgnBox(const HRGN& rgn, RECT* box);
bool PtInRegion(const HRGN& rgn, int x, int y);
bool EqualRgn(const HRGN& a, const HRGN& b);
int OffsetRgn(const HRGN& rgn, int dx, int dy);
// The rectangles the region is made of, top to bottom, left to right.
std::vector<RECT> GetRegionRects(const HRGN& rgn);

// ---- System colours

// One fixed table; an index outside it gives black.
COLORREF GetSysColor(int index);

}  // namespace gdi
