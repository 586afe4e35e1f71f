#pragma once
// Colours, fonts, pens, brushes and the canvas: the drawing classes of the
// class library over the device contexts of platform/gdi. Colours are
// 0x00BBGGRR values (red in the low byte) or system colours (0xFF0000nn),
// as the program's code writes them.
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "platform/gdi/dc.h"
#include "platform/vcl/persistent.h"

class QPainter;

namespace vcl {

using TColor = std::int32_t;

constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clOlive = 0x008080;
constexpr TColor clNavy = 0x800000;
constexpr TColor clPurple = 0x800080;
constexpr TColor clTeal = 0x808000;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clFuchsia = 0xFF00FF;
constexpr TColor clAqua = 0xFFFF00;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clNone = 0x1FFFFFFF;
constexpr TColor clDefault = 0x20000000;
// System colours: 0xFF000000 | index of the system colour.
constexpr TColor clScrollBar = TColor(0xFF000000u);
constexpr TColor clWindow = TColor(0xFF000005u);
constexpr TColor clWindowText = TColor(0xFF000008u);
constexpr TColor clHighlight = TColor(0xFF00000Du);
constexpr TColor clHighlightText = TColor(0xFF00000Eu);
constexpr TColor clBtnFace = TColor(0xFF00000Fu);
constexpr TColor clBtnShadow = TColor(0xFF000010u);
constexpr TColor clGrayText = TColor(0xFF000011u);
constexpr TColor clBtnText = TColor(0xFF000012u);
constexpr TColor clBtnHighlight = TColor(0xFF000014u);
constexpr TColor clInfoText = TColor(0xFF000017u);
constexpr TColor clInfoBk = TColor(0xFF000018u);

// The RGB value of a colour: system colours from the fixed table (an
// unknown index gives black), any other value its low 24 bits.
gdi::COLORREF ColorToRGB(TColor color);

struct TPoint {
    int X = 0;
    int Y = 0;
    friend bool operator==(const TPoint&, const TPoint&) = default;
};

struct TRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
    friend bool operator==(const TRect&, const TRect&) = default;
};

struct TSize {
    int cx = 0;
    int cy = 0;
};

// Pixels and points: the conversion of the class library, rounded to the
// nearest with halves away from zero.
int MulDiv(int number, int numerator, int denominator);

// Pens, brushes and fonts tell their owner of every change through
// OnChange; the canvas that uses them hears of it that way.
class TGraphicsObject : public TPersistent {
public:
    std::function<void()> OnChange;

protected:
    void Changed() {
        if (OnChange) OnChange();
    }
    // Stores a differing value, drops the handle made from the old one and
    // tells the owner.
    template <class T, class Handle>
    void Update(T& field, const T& value, Handle& handle) {
        if (field == value) return;
        field = value;
        handle.reset();
        Changed();
    }
};

enum TFontStyle : std::uint8_t { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
using TFontStyles = std::uint8_t;
using TFontCharset = std::uint8_t;
enum class TFontPitch { fpDefault, fpVariable, fpFixed };

// A font description. Height is in pixels: negative, the character height;
// positive, the cell height. Size is in points at PixelsPerInch.
class TFont : public TGraphicsObject {
public:
    TFont();

    const std::string& Name() const { return name_; }
    int Size() const;
    int Height() const { return height_; }
    TColor Color() const { return color_; }
    TFontStyles Style() const { return style_; }
    TFontCharset Charset() const { return charset_; }
    TFontPitch Pitch() const { return pitch_; }
    int PixelsPerInch = gdi::kPixelsPerInch;

    void SetName(const std::string& name);
    void SetSize(int size);
    void SetHeight(int height);
    void SetColor(TColor color);
    void SetStyle(TFontStyles style);
    void SetCharset(TFontCharset charset);
    void SetPitch(TFontPitch pitch);
    // Name, size, style, colour, character set and pitch; one change.
    void Assign(const TPersistent& Source) override;

    // The logical font and its handle (made again only when the
    // description changes; the colour is not part of it).
    gdi::LOGFONT LogFont() const;
    gdi::HFONT Handle() const;

private:
    std::string name_ = "Tahoma";
    int height_ = -11;  // 8 points
    TColor color_ = clWindowText;
    TFontStyles style_ = 0;
    TFontCharset charset_ = gdi::DEFAULT_CHARSET;
    TFontPitch pitch_ = TFontPitch::fpDefault;
    mutable gdi::HFONT handle_;
};

enum class TPenStyle { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear, psInsideFrame, psUserStyle, psAlternate };
enum class TPenMode {
    pmBlack, pmWhite, pmNop, pmNot, pmCopy, pmNotCopy, pmMergePenNot, pmMaskPenNot,
    pmMergeNotPen, pmMaskNotPen, pmMerge, pmNotMerge, pmMask, pmNotMask, pmXor, pmNotXor
};
// The ROP2 mode of a pen mode.
int PenModeToRop2(TPenMode mode);

class TPen : public TGraphicsObject {
public:
    TColor Color() const { return color_; }
    int Width() const { return width_; }
    TPenStyle Style() const { return style_; }
    TPenMode Mode() const { return mode_; }
    void SetColor(TColor color);
    // Widths below 1 draw one pixel.
    void SetWidth(int width);
    void SetStyle(TPenStyle style);
    void SetMode(TPenMode mode);
    // Colour, width, style and mode; one change.
    void Assign(const TPersistent& Source) override;

    // The pen's handle: made from colour, width and style on first use, or
    // one made elsewhere (SetHandle) until a property changes again.
    gdi::HPEN Handle() const;
    void SetHandle(gdi::HPEN handle);

private:
    TColor color_ = clBlack;
    int width_ = 1;
    TPenStyle style_ = TPenStyle::psSolid;
    TPenMode mode_ = TPenMode::pmCopy;
    mutable gdi::HPEN handle_;
};

class TBitmap;

enum class TBrushStyle { bsSolid, bsClear, bsHorizontal, bsVertical, bsFDiagonal, bsBDiagonal, bsCross, bsDiagCross };

class TBrush : public TGraphicsObject {
public:
    TColor Color() const { return color_; }
    TBrushStyle Style() const { return style_; }
    // A pattern bitmap, not owned; while set it is the brush.
    TBitmap* Bitmap() const { return bitmap_; }
    void SetColor(TColor color);
    void SetStyle(TBrushStyle style);
    void SetBitmap(TBitmap* bitmap);
    // Colour, style and bitmap; one change.
    void Assign(const TPersistent& Source) override;

    gdi::HBRUSH Handle() const;

private:
    TColor color_ = clWhite;
    TBrushStyle style_ = TBrushStyle::bsSolid;
    TBitmap* bitmap_ = nullptr;
    mutable gdi::HBRUSH handle_;
};

class TGraphic;

// A drawing surface over a device context. Its pen, brush and font are
// selected into the context when it draws or hands out its Handle (only
// those that changed since): a solid brush also sets the context's
// background to its colour and opaque, any other brush makes it
// transparent; the font sets the text colour. Without a context of its own
// it measures text (and draws into nothing).
class TCanvas : public TPersistent {
public:
    TCanvas();
    ~TCanvas() override;
    TCanvas(const TCanvas&) = delete;
    TCanvas& operator=(const TCanvas&) = delete;

    TFont Font;
    TBrush Brush;
    TPen Pen;

    // The device context with the canvas's objects selected.
    gdi::HDC Handle();
    // Draw on dc (not owned; null: none).
    void SetHandle(gdi::HDC dc);
    bool HandleAllocated() const { return dc_ != nullptr; }

    void MoveTo(int x, int y);
    void LineTo(int x, int y);
    TPoint PenPos() const { return pen_pos_; }
    void SetPenPos(TPoint p) { MoveTo(p.X, p.Y); }
    void Polyline(std::span<const TPoint> points);
    void Polygon(std::span<const TPoint> points);
    void Rectangle(int x1, int y1, int x2, int y2);
    void Rectangle(const TRect& r) { Rectangle(r.Left, r.Top, r.Right, r.Bottom); }
    void RoundRect(int x1, int y1, int x2, int y2, int x3, int y3);
    void Ellipse(int x1, int y1, int x2, int y2);
    void Arc(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4);
    void Pie(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4);
    void FillRect(const TRect& r);
    void FrameRect(const TRect& r);
    TColor Pixel(int x, int y);
    void SetPixel(int x, int y, TColor color);

    // Text is plain text, each byte one character of the code page, unless
    // the canvas is told that it draws message text (name_escapes.h), whose
    // names are drawn and measured by their letters.
    void SetMessageText(bool on) { message_text_ = on; }
    bool MessageText() const { return message_text_; }

    void TextOut(int x, int y, const std::string& text);
    // Draws text at (x, y) clipped to r, filling r with the brush first
    // unless the brush is clear.
    void TextRect(const TRect& r, int x, int y, const std::string& text);
    // Measured on the canvas's context (with its character spacing).
    TSize TextExtent(const std::string& text);
    int TextWidth(const std::string& text) { return TextExtent(text).cx; }
    int TextHeight(const std::string& text) { return TextExtent(text).cy; }

    // Graphics: drawn at their size, or stretched into a rectangle; missing
    // and empty graphics are skipped.
    void Draw(int x, int y, TGraphic* graphic);
    void StretchDraw(const TRect& r, TGraphic* graphic);
    // Copies (stretching) a rectangle of another canvas with CopyMode.
    void CopyRect(const TRect& dest, TCanvas& source, const TRect& src);
    gdi::DWORD CopyMode = gdi::SRCCOPY;

    // Used by the class library: draw on a painter the toolkit opened for a
    // paint (none: stop). The painter's state is restored afterwards.
    void Attach(QPainter* painter);
    QPainter* Painter() const { return painter_; }

private:
    gdi::HDC Realised();
    void Invalidate() { pen_valid_ = brush_valid_ = font_valid_ = false; }

    gdi::HDC dc_ = nullptr;
    QPainter* painter_ = nullptr;
    std::unique_ptr<gdi::DC> window_dc_;
    std::unique_ptr<gdi::DC> measure_dc_;
    bool pen_valid_ = false;
    bool brush_valid_ = false;
    bool font_valid_ = false;
    TPoint pen_pos_;
    bool message_text_ = false;
};

}  // namespace vcl
