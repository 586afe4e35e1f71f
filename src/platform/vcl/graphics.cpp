#include "platform/vcl/graphics.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QPalette>

#include "platform/vcl/qt_bridge.h"
#include "platform/vcl/text.h"

namespace vcl {

void TFont::SetName(const std::string& name) {
    if (name == name_) return;
    name_ = name;
    Changed();
}
void TFont::SetSize(int size) {
    if (size == size_) return;
    size_ = size;
    Changed();
}
void TFont::SetHeight(int height) {
    int pixels = height < 0 ? -height : height;
    SetSize((pixels * 72 + 48) / 96);
}
void TFont::SetColor(TColor color) {
    if (color == color_) return;
    color_ = color;
    Changed();
}
void TFont::SetStyle(TFontStyles style) {
    if (style == style_) return;
    style_ = style;
    Changed();
}
void TFont::Assign(const TFont& other) {
    name_ = other.name_;
    size_ = other.size_;
    color_ = other.color_;
    style_ = other.style_;
    Changed();
}

QColor ToQColor(std::int32_t color) {
    auto u = static_cast<std::uint32_t>(color);
    if ((u & 0xFF000000u) == 0xFF000000u) {
        QPalette pal = QGuiApplication::palette();
        switch (u & 0xFFu) {
            case 0x05: return pal.color(QPalette::Base);
            case 0x08: return pal.color(QPalette::Text);
            case 0x0D: return pal.color(QPalette::Highlight);
            case 0x0E: return pal.color(QPalette::HighlightedText);
            case 0x11: return pal.color(QPalette::Disabled, QPalette::Text);
            case 0x12: return pal.color(QPalette::ButtonText);
            case 0x17: return pal.color(QPalette::ToolTipText);
            case 0x18: return QColor(0xFF, 0xFF, 0xE1);
            case 0x0F: return pal.color(QPalette::Window);  // the face of dialogs and groups
            default: return pal.color(QPalette::Button);
        }
    }
    return QColor(int(u & 0xFF), int((u >> 8) & 0xFF), int((u >> 16) & 0xFF));
}

std::int32_t FromQColor(const QColor& c) {
    return std::int32_t(c.red() | (c.green() << 8) | (c.blue() << 16));
}

QFont ToQFont(const TFont& font) {
    QFont f(QString::fromStdString(FontAlias(font.Name())));
    f.setPixelSize(-font.Height());
    f.setBold(font.Style() & fsBold);
    f.setItalic(font.Style() & fsItalic);
    f.setUnderline(font.Style() & fsUnderline);
    f.setStrikeOut(font.Style() & fsStrikeOut);
    return f;
}

TCanvas::TCanvas() = default;
TCanvas::~TCanvas() = default;

const QFont& TCanvas::QtFont() const {
    TFontKey key{Font.Name(), Font.Size(), Font.Style()};
    if (!font_ || !(key == font_key_)) {
        font_ = std::make_unique<QFont>(ToQFont(Font));
        font_key_ = std::move(key);
        measured_width_ = -1;
    }
    return *font_;
}

void TCanvas::ApplyFont() const {
    painter_->setFont(QtFont());
    painter_->setPen(ToQColor(Font.Color()));
}

void TCanvas::FillRect(const TRect& r) {
    if (!painter_ || Brush.Style == TBrushStyle::bsClear) return;
    painter_->fillRect(QRect(r.Left, r.Top, r.Width(), r.Height()), ToQColor(Brush.Color));
}

void TCanvas::TextOut(int x, int y, const std::string& text) {
    if (!painter_) return;
    ApplyFont();
    QFontMetrics fm(painter_->font());
    const int width = TextWidth(text);
    if (Brush.Style != TBrushStyle::bsClear)
        painter_->fillRect(QRect(x, y, width, fm.height()), ToQColor(Brush.Color));
    painter_->drawText(x, y + fm.ascent(), ToQ(text));
    pen_pos_ = {x + width, y};
}

void TCanvas::TextRect(const TRect& r, int x, int y, const std::string& text) {
    if (!painter_) return;
    QRect qr(r.Left, r.Top, r.Width(), r.Height());
    painter_->save();
    painter_->setClipRect(qr);
    if (Brush.Style != TBrushStyle::bsClear) painter_->fillRect(qr, ToQColor(Brush.Color));
    ApplyFont();
    QFontMetrics fm(painter_->font());
    painter_->drawText(x, y + fm.ascent(), ToQ(text));
    painter_->restore();
}

void TCanvas::MoveTo(int x, int y) { pen_pos_ = {x, y}; }

void TCanvas::LineTo(int x, int y) {
    if (painter_) {
        painter_->setPen(QPen(ToQColor(Pen.Color), Pen.Width));
        painter_->drawLine(pen_pos_.X, pen_pos_.Y, x, y);
    }
    pen_pos_ = {x, y};
}

int TCanvas::TextWidth(const std::string& text) const {
    const QFont& font = QtFont();
    if (measured_width_ < 0 || text != measured_text_) {
        measured_width_ = QFontMetrics(font).horizontalAdvance(ToQ(text));
        measured_text_ = text;
    }
    return measured_width_;
}

int TCanvas::TextHeight(const std::string&) const { return QFontMetrics(QtFont()).height(); }

}  // namespace vcl
