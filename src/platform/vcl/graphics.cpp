#include "platform/vcl/graphics.h"

#include <QPaintDevice>
#include <QPainter>
#include <cmath>

#include "platform/gdi/qt_gdi.h"
#include "platform/vcl/bitmap.h"
#include "platform/vcl/graphic.h"
#include "platform/vcl/qt_bridge.h"
#include "platform/vcl/text.h"

namespace vcl {

gdi::COLORREF ColorToRGB(TColor color) {
    const auto u = static_cast<std::uint32_t>(color);
    if ((u & 0xFF000000u) == 0xFF000000u) {
        const std::uint32_t index = u & 0x00FFFFFFu;
        return index <= 0xFF ? gdi::GetSysColor(static_cast<int>(index)) : 0;
    }
    return u & 0x00FFFFFFu;
}

int MulDiv(int number, int numerator, int denominator) {
    if (denominator == 0) return -1;
    const long long product = static_cast<long long>(number) * numerator;
    const long long half = std::llabs(denominator) / 2;
    long long q = (std::llabs(product) + half) / std::llabs(denominator);
    if ((product < 0) != (denominator < 0)) q = -q;
    return static_cast<int>(q);
}

QColor ToQColor(std::int32_t color) { return QColor::fromRgb(gdi::ToQRgb(ColorToRGB(color))); }

std::int32_t FromQColor(const QColor& c) {
    return std::int32_t(c.red() | (c.green() << 8) | (c.blue() << 16));
}

QFont ToQFont(const TFont& font) {
    QFont f = gdi::ToQFont(font.LogFont());
    // Widgets lay out their own text; they keep the face's kerning.
    f.setKerning(true);
    return f;
}

// ---- TFont

TFont::TFont() = default;

int TFont::Size() const { return -MulDiv(height_, 72, PixelsPerInch); }

void TFont::SetName(const std::string& name) { Update(name_, name, handle_); }
void TFont::SetSize(int size) { SetHeight(-MulDiv(size, PixelsPerInch, 72)); }
void TFont::SetHeight(int height) { Update(height_, height, handle_); }
void TFont::SetColor(TColor color) {
    if (color == color_) return;
    color_ = color;
    Changed();  // the handle does not hold the colour
}
void TFont::SetStyle(TFontStyles style) { Update(style_, style, handle_); }
void TFont::SetCharset(TFontCharset charset) { Update(charset_, charset, handle_); }
void TFont::SetPitch(TFontPitch pitch) { Update(pitch_, pitch, handle_); }

void TFont::Assign(const TPersistent& Source) {
    const auto* other = dynamic_cast<const TFont*>(&Source);
    if (!other) return TPersistent::Assign(Source);
    name_ = other->name_;
    // The size in points carries over, whatever the two resolutions.
    height_ = PixelsPerInch == other->PixelsPerInch
                  ? other->height_
                  : -MulDiv(other->Size(), PixelsPerInch, 72);
    color_ = other->color_;
    style_ = other->style_;
    charset_ = other->charset_;
    pitch_ = other->pitch_;
    Changed();
}

gdi::LOGFONT TFont::LogFont() const {
    gdi::LOGFONT lf;
    // The layer draws at 96 dpi: a font meant for another resolution keeps
    // its size in points.
    lf.lfHeight = PixelsPerInch == gdi::kPixelsPerInch
                      ? height_
                      : MulDiv(height_, gdi::kPixelsPerInch, PixelsPerInch);
    lf.lfWeight = (style_ & fsBold) ? gdi::FW_BOLD : gdi::FW_NORMAL;
    lf.lfItalic = (style_ & fsItalic) ? 1 : 0;
    lf.lfUnderline = (style_ & fsUnderline) ? 1 : 0;
    lf.lfStrikeOut = (style_ & fsStrikeOut) ? 1 : 0;
    lf.lfCharSet = charset_;
    lf.lfPitchAndFamily = pitch_ == TFontPitch::fpFixed      ? gdi::FIXED_PITCH
                          : pitch_ == TFontPitch::fpVariable ? gdi::VARIABLE_PITCH
                                                             : gdi::DEFAULT_PITCH;
    lf.lfFaceName = name_;
    return lf;
}

gdi::HFONT TFont::Handle() const {
    gdi::LOGFONT lf = LogFont();
    if (!handle_ || !(handle_->Log() == lf)) handle_ = gdi::CreateFontIndirect(lf);
    return handle_;
}

// ---- TPen

int PenModeToRop2(TPenMode mode) {
    switch (mode) {
        case TPenMode::pmBlack: return gdi::R2_BLACK;
        case TPenMode::pmWhite: return gdi::R2_WHITE;
        case TPenMode::pmNop: return gdi::R2_NOP;
        case TPenMode::pmNot: return gdi::R2_NOT;
        case TPenMode::pmNotCopy: return gdi::R2_NOTCOPYPEN;
        case TPenMode::pmMergePenNot: return gdi::R2_MERGEPENNOT;
        case TPenMode::pmMaskPenNot: return gdi::R2_MASKPENNOT;
        case TPenMode::pmMergeNotPen: return gdi::R2_MERGENOTPEN;
        case TPenMode::pmMaskNotPen: return gdi::R2_MASKNOTPEN;
        case TPenMode::pmMerge: return gdi::R2_MERGEPEN;
        case TPenMode::pmNotMerge: return gdi::R2_NOTMERGEPEN;
        case TPenMode::pmMask: return gdi::R2_MASKPEN;
        case TPenMode::pmNotMask: return gdi::R2_NOTMASKPEN;
        case TPenMode::pmXor: return gdi::R2_XORPEN;
        case TPenMode::pmNotXor: return gdi::R2_NOTXORPEN;
        default: return gdi::R2_COPYPEN;
    }
}

void TPen::SetColor(TColor color) { Update(color_, color, handle_); }
void TPen::SetWidth(int width) { Update(width_, width, handle_); }
void TPen::SetStyle(TPenStyle style) { Update(style_, style, handle_); }
void TPen::SetMode(TPenMode mode) {
    if (mode == mode_) return;
    mode_ = mode;
    Changed();
}

void TPen::Assign(const TPersistent& Source) {
    const auto* other = dynamic_cast<const TPen*>(&Source);
    if (!other) return TPersistent::Assign(Source);
    color_ = other->color_;
    width_ = other->width_;
    style_ = other->style_;
    mode_ = other->mode_;
    handle_ = other->handle_;
    Changed();
}

gdi::HPEN TPen::Handle() const {
    if (handle_) return handle_;
    const gdi::COLORREF c = ColorToRGB(color_);
    switch (style_) {
        case TPenStyle::psAlternate:
            handle_ = gdi::ExtCreatePen(gdi::PS_COSMETIC | gdi::PS_ALTERNATE, 1,
                                        gdi::LOGBRUSH{gdi::BS_SOLID, c, 0});
            break;
        case TPenStyle::psUserStyle:
            // No entries given: the pen draws solid.
            handle_ = gdi::CreatePen(gdi::PS_SOLID, width_, c);
            break;
        default: handle_ = gdi::CreatePen(static_cast<int>(style_), width_, c); break;
    }
    return handle_;
}

void TPen::SetHandle(gdi::HPEN handle) {
    if (!handle) return;
    handle_ = std::move(handle);
    const gdi::EXTLOGPEN& log = handle_->Log();
    color_ = static_cast<TColor>(log.elpColor);
    width_ = static_cast<int>(log.elpWidth);
    const gdi::DWORD s = handle_->Style();
    style_ = s <= gdi::PS_ALTERNATE ? static_cast<TPenStyle>(s) : TPenStyle::psSolid;
    Changed();
}

// ---- TBrush

void TBrush::SetColor(TColor color) {
    if (color == color_ && !bitmap_) return;
    color_ = color;
    bitmap_ = nullptr;
    handle_.reset();
    Changed();
}
void TBrush::SetStyle(TBrushStyle style) {
    if (style == style_ && !bitmap_) return;
    style_ = style;
    bitmap_ = nullptr;
    handle_.reset();
    Changed();
}
void TBrush::SetBitmap(TBitmap* bitmap) {
    if (bitmap == bitmap_) return;
    bitmap_ = bitmap;
    handle_.reset();
    Changed();
}

void TBrush::Assign(const TPersistent& Source) {
    const auto* other = dynamic_cast<const TBrush*>(&Source);
    if (!other) return TPersistent::Assign(Source);
    color_ = other->color_;
    style_ = other->style_;
    bitmap_ = other->bitmap_;
    handle_.reset();
    Changed();
}

gdi::HBRUSH TBrush::Handle() const {
    if (handle_) return handle_;
    const gdi::COLORREF c = ColorToRGB(color_);
    if (bitmap_ && !bitmap_->Empty()) {
        handle_ = gdi::CreatePatternBrush(bitmap_->Handle());
        return handle_;
    }
    switch (style_) {
        case TBrushStyle::bsSolid: handle_ = gdi::CreateSolidBrush(c); break;
        case TBrushStyle::bsClear: handle_ = gdi::GetStockBrush(gdi::NULL_BRUSH); break;
        case TBrushStyle::bsHorizontal: handle_ = gdi::CreateHatchBrush(gdi::HS_HORIZONTAL, c); break;
        case TBrushStyle::bsVertical: handle_ = gdi::CreateHatchBrush(gdi::HS_VERTICAL, c); break;
        case TBrushStyle::bsFDiagonal: handle_ = gdi::CreateHatchBrush(gdi::HS_FDIAGONAL, c); break;
        case TBrushStyle::bsBDiagonal: handle_ = gdi::CreateHatchBrush(gdi::HS_BDIAGONAL, c); break;
        case TBrushStyle::bsCross: handle_ = gdi::CreateHatchBrush(gdi::HS_CROSS, c); break;
        case TBrushStyle::bsDiagCross: handle_ = gdi::CreateHatchBrush(gdi::HS_DIAGCROSS, c); break;
    }
    return handle_;
}

// ---- TCanvas

TCanvas::TCanvas() {
    Font.OnChange = [this] { font_valid_ = false; };
    Pen.OnChange = [this] { pen_valid_ = false; };
    Brush.OnChange = [this] { brush_valid_ = false; };
}

TCanvas::~TCanvas() {
    Font.OnChange = nullptr;
    Pen.OnChange = nullptr;
    Brush.OnChange = nullptr;
}

void TCanvas::SetHandle(gdi::HDC dc) {
    if (dc == dc_) return;
    dc_ = dc;
    Invalidate();
}

gdi::HDC TCanvas::Handle() { return Realised(); }

gdi::HDC TCanvas::Realised() {
    gdi::HDC dc = dc_;
    if (!dc) {
        if (!measure_dc_) {
            measure_dc_ = gdi::DC::CreateCompatibleDC();
            Invalidate();
        }
        dc = measure_dc_.get();
    }
    if (!pen_valid_) {
        dc->SelectObject(Pen.Handle());
        dc->SetROP2(PenModeToRop2(Pen.Mode()));
        pen_valid_ = true;
    }
    if (!brush_valid_) {
        dc->SelectObject(Brush.Handle());
        if (Brush.Style() == TBrushStyle::bsSolid && !Brush.Bitmap()) {
            dc->SetBkColor(ColorToRGB(Brush.Color()));
            dc->SetBkMode(gdi::OPAQUE);
        } else {
            dc->SetBkMode(gdi::TRANSPARENT);
        }
        brush_valid_ = true;
    }
    if (!font_valid_) {
        dc->SelectObject(Font.Handle());
        dc->SetTextColor(ColorToRGB(Font.Color()));
        font_valid_ = true;
    }
    return dc;
}

void TCanvas::MoveTo(int x, int y) {
    Realised()->MoveToEx(x, y);
    pen_pos_ = {x, y};
}

void TCanvas::LineTo(int x, int y) {
    gdi::HDC dc = Realised();
    dc->MoveToEx(pen_pos_.X, pen_pos_.Y);
    dc->LineTo(x, y);
    pen_pos_ = {x, y};
}

namespace {

std::vector<gdi::POINT> ToPoints(std::span<const TPoint> points) {
    std::vector<gdi::POINT> out;
    out.reserve(points.size());
    for (const TPoint& p : points) out.push_back({p.X, p.Y});
    return out;
}

gdi::RECT ToRECT(const TRect& r) { return {r.Left, r.Top, r.Right, r.Bottom}; }

}  // namespace

void TCanvas::Polyline(std::span<const TPoint> points) {
    Realised()->Polyline(ToPoints(points));
    if (!points.empty()) pen_pos_ = points.back();
}

void TCanvas::Polygon(std::span<const TPoint> points) { Realised()->Polygon(ToPoints(points)); }

void TCanvas::Rectangle(int x1, int y1, int x2, int y2) { Realised()->Rectangle(x1, y1, x2, y2); }

void TCanvas::RoundRect(int x1, int y1, int x2, int y2, int x3, int y3) {
    Realised()->RoundRect(x1, y1, x2, y2, x3, y3);
}

void TCanvas::Ellipse(int x1, int y1, int x2, int y2) { Realised()->Ellipse(x1, y1, x2, y2); }

void TCanvas::Arc(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4) {
    Realised()->Arc(x1, y1, x2, y2, x3, y3, x4, y4);
}

void TCanvas::Pie(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4) {
    Realised()->Pie(x1, y1, x2, y2, x3, y3, x4, y4);
}

void TCanvas::FillRect(const TRect& r) {
    gdi::HDC dc = Realised();
    dc->FillRect(ToRECT(r), Brush.Handle());
}

void TCanvas::FrameRect(const TRect& r) {
    if (r.Right <= r.Left || r.Bottom <= r.Top) return;
    gdi::HDC dc = Realised();
    const gdi::HBRUSH b = Brush.Handle();
    dc->FillRect({r.Left, r.Top, r.Right, r.Top + 1}, b);
    dc->FillRect({r.Left, r.Bottom - 1, r.Right, r.Bottom}, b);
    dc->FillRect({r.Left, r.Top, r.Left + 1, r.Bottom}, b);
    dc->FillRect({r.Right - 1, r.Top, r.Right, r.Bottom}, b);
}

TColor TCanvas::Pixel(int x, int y) {
    const gdi::COLORREF c = Realised()->GetPixel(x, y);
    return c == gdi::CLR_INVALID ? clNone : static_cast<TColor>(c);
}

void TCanvas::SetPixel(int x, int y, TColor color) { Realised()->SetPixel(x, y, ColorToRGB(color)); }

void TCanvas::TextOut(int x, int y, const std::string& text) {
    gdi::HDC dc = Realised();
    if (message_text_)
        dc->TextOutW(x, y, ToQShown(text).toStdU16String());
    else
        dc->TextOut(x, y, text);
    pen_pos_ = {x + TextWidth(text), y};
}

void TCanvas::TextRect(const TRect& r, int x, int y, const std::string& text) {
    gdi::HDC dc = Realised();
    unsigned options = gdi::ETO_CLIPPED;
    if (Brush.Style() != TBrushStyle::bsClear) options |= gdi::ETO_OPAQUE;
    const gdi::RECT rect = ToRECT(r);
    if (message_text_)
        dc->ExtTextOutW(x, y, options, &rect, ToQShown(text).toStdU16String());
    else
        dc->ExtTextOut(x, y, options, &rect, text);
}

TSize TCanvas::TextExtent(const std::string& text) {
    gdi::SIZE size;
    if (message_text_)
        Realised()->GetTextExtentPoint32W(ToQShown(text).toStdU16String(), &size);
    else
        Realised()->GetTextExtentPoint32(text, &size);
    return {size.cx, size.cy};
}

void TCanvas::Draw(int x, int y, TGraphic* graphic) {
    if (!graphic || graphic->Empty()) return;
    graphic->Draw(*this, {x, y, x + graphic->Width(), y + graphic->Height()});
}

void TCanvas::StretchDraw(const TRect& r, TGraphic* graphic) {
    if (!graphic || graphic->Empty()) return;
    graphic->Draw(*this, r);
}

void TCanvas::CopyRect(const TRect& dest, TCanvas& source, const TRect& src) {
    gdi::HDC from = source.Handle();
    Realised()->StretchBlt(dest.Left, dest.Top, dest.Width(), dest.Height(), from, src.Left,
                           src.Top, src.Width(), src.Height(), CopyMode);
}

void TCanvas::Attach(QPainter* painter) {
    if (painter == painter_) return;
    if (window_dc_) {
        if (dc_ == window_dc_.get()) SetHandle(nullptr);
        window_dc_.reset();
    }
    painter_ = painter;
    if (!painter) return;
    QPaintDevice* device = painter->device();
    window_dc_ = gdi::CreatePainterDC(painter, device ? device->width() : 0,
                                      device ? device->height() : 0);
    SetHandle(window_dc_.get());
}

}  // namespace vcl
