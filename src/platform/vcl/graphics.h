#pragma once
// Colours, fonts, pens, brushes and the canvas that owner-drawn controls
// paint on. Colours are 0x00BBGGRR values (red in the low byte) or system
// colours (0xFF0000nn), as the program's code writes them.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QFont;
class QPainter;

namespace vcl {

using TColor = std::int32_t;

constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clNavy = 0x800000;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clNone = 0x1FFFFFFF;
constexpr TColor clDefault = 0x20000000;
// System colours: 0xFF000000 | index of the system colour.
constexpr TColor clScrollBar = TColor(0xFF000000u);
constexpr TColor clBtnFace = TColor(0xFF00000Fu);
constexpr TColor clWindow = TColor(0xFF000005u);
constexpr TColor clWindowText = TColor(0xFF000008u);
constexpr TColor clHighlight = TColor(0xFF00000Du);
constexpr TColor clHighlightText = TColor(0xFF00000Eu);
constexpr TColor clGrayText = TColor(0xFF000011u);
constexpr TColor clBtnText = TColor(0xFF000012u);
constexpr TColor clInfoBk = TColor(0xFF000018u);
constexpr TColor clInfoText = TColor(0xFF000017u);

struct TPoint {
    int X = 0;
    int Y = 0;
};

struct TRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
};

enum TFontStyle : std::uint8_t { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
using TFontStyles = std::uint8_t;

// A font description. Size is in points; Height, when negative, is the
// character height in pixels (the two are kept in step at 96 dpi).
class TFont {
public:
    const std::string& Name() const { return name_; }
    int Size() const { return size_; }
    int Height() const { return -(size_ * 96 + 36) / 72; }
    TColor Color() const { return color_; }
    TFontStyles Style() const { return style_; }

    void SetName(const std::string& name);
    void SetSize(int size);
    void SetHeight(int height);  // negative: pixels of character height
    void SetColor(TColor color);
    void SetStyle(TFontStyles style);
    void Assign(const TFont& other);

    std::function<void()> OnChange;

private:
    void Changed() {
        if (OnChange) OnChange();
    }
    std::string name_ = "Tahoma";
    int size_ = 8;
    TColor color_ = clWindowText;
    TFontStyles style_ = 0;
};

enum class TBrushStyle { bsSolid, bsClear };

struct TBrush {
    TColor Color = clWhite;
    TBrushStyle Style = TBrushStyle::bsSolid;
};

struct TPen {
    TColor Color = clBlack;
    int Width = 1;
};

// A drawing surface for owner drawing. It paints through a painter that the
// control opens for the paint (or a measuring-only canvas without one).
class TCanvas {
public:
    TCanvas();
    ~TCanvas();
    TCanvas(const TCanvas&) = delete;
    TCanvas& operator=(const TCanvas&) = delete;

    TFont Font;
    TBrush Brush;
    TPen Pen;

    void FillRect(const TRect& r);
    void TextOut(int x, int y, const std::string& text);
    // Draws text at (x, y) clipped to r, filling r with the brush first
    // unless the brush is clear.
    void TextRect(const TRect& r, int x, int y, const std::string& text);
    void MoveTo(int x, int y);
    void LineTo(int x, int y);
    int TextWidth(const std::string& text) const;
    int TextHeight(const std::string& text) const;
    TPoint PenPos() const { return pen_pos_; }

    // Used by the class library: the painter this canvas draws on (none
    // while the canvas only measures).
    void Attach(QPainter* painter) { painter_ = painter; }
    QPainter* Painter() const { return painter_; }

private:
    void ApplyFont() const;
    // The toolkit's font for Font, made again only when Font has changed.
    const QFont& QtFont() const;
    struct TFontKey {
        std::string Name;
        int Size = 0;
        TFontStyles Style = 0;
        bool operator==(const TFontKey&) const = default;
    };
    QPainter* painter_ = nullptr;
    TPoint pen_pos_;
    mutable TFontKey font_key_;
    mutable std::unique_ptr<QFont> font_;
    // The text measured last and its width (in the font of font_key_): the
    // rows of a list often begin with the same text.
    mutable std::string measured_text_;
    mutable int measured_width_ = -1;
};

}  // namespace vcl
