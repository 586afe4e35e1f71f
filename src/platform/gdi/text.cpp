// Fonts: a logical font becomes a face at a pixel size (96 dpi, names
// through the alias table) with its metrics, made once per font object.
#include <QFontMetrics>
#include <QGuiApplication>
#include <algorithm>
#include <cmath>

#include "platform/gdi/font_alias.h"
#include "platform/gdi/qt_gdi.h"
#include "platform/rtl/cp1251.h"

namespace gdi {

namespace {

// lfHeight 0 asks for the face's ordinary size.
constexpr int kDefaultCharHeight = 12;

void RequireApplication() {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        throw EGdiError("Fonts and text need the application object");
}

}  // namespace

QString AnsiToQString(std::string_view text) {
    QString out;
    out.reserve(static_cast<qsizetype>(text.size()));
    for (char c : text) out.append(QChar(static_cast<char16_t>(rtl::AnsiCharToUnicode(c))));
    return out;
}

QFont ToQFont(const LOGFONT& lf) {
    RequireApplication();
    const std::string face = lf.lfFaceName.empty() ? std::string(kDefaultGuiFace) : lf.lfFaceName;
    QFont f(QString::fromStdString(FontAlias(face)));
    // Text widths add up run by run, as the program measures them.
    f.setKerning(false);
    f.setWeight(static_cast<QFont::Weight>(
        std::clamp(lf.lfWeight <= 0 ? int(FW_NORMAL) : lf.lfWeight, 1, 1000)));
    f.setItalic(lf.lfItalic != 0);
    f.setUnderline(lf.lfUnderline != 0);
    f.setStrikeOut(lf.lfStrikeOut != 0);
    if (lf.lfQuality == NONANTIALIASED_QUALITY)
        f.setStyleStrategy(QFont::NoAntialias);
    else if (lf.lfQuality == ANTIALIASED_QUALITY || lf.lfQuality == CLEARTYPE_QUALITY)
        f.setStyleStrategy(QFont::PreferAntialias);
    if ((lf.lfPitchAndFamily & 3) == FIXED_PITCH) f.setFixedPitch(true);
    int pixels = kDefaultCharHeight;
    if (lf.lfHeight < 0) {
        pixels = lf.lfHeight == INT32_MIN ? 32767 : -lf.lfHeight;
    } else if (lf.lfHeight > 0) {
        // A positive height is the cell: find the character height whose
        // ascent plus descent gives it.
        QFont probe = f;
        probe.setPixelSize(100);
        const QFontMetricsF m(probe);
        const double cell = m.ascent() + m.descent();
        pixels = cell > 0 ? static_cast<int>(std::lround(lf.lfHeight * 100.0 / cell)) : lf.lfHeight;
    }
    f.setPixelSize(std::clamp(pixels, 1, 32767));
    if (lf.lfWidth > 0) {
        const QFontMetrics m(f);
        const int natural = m.averageCharWidth();
        if (natural > 0) f.setStretch(std::clamp(lf.lfWidth * 100 / natural, 1, 4000));
    }
    return f;
}

const Font::Realised& Font::Realise() const {
    if (realised_) return *realised_;
    auto r = std::make_unique<Realised>();
    r->font = ToQFont(log_);
    const QFontMetrics m(r->font);
    r->ascent = m.ascent();
    r->descent = m.descent();
    r->internal_leading = std::max(0, r->ascent + r->descent - r->font.pixelSize());
    r->external_leading = std::max(0, m.leading());
    r->ave_char_width = m.averageCharWidth();
    r->max_char_width = m.maxWidth();
    r->escapement = log_.lfEscapement / 10.0;
    realised_ = std::move(r);
    return *realised_;
}

int Font::Realised::Advance(const QString& text) const {
    return QFontMetrics(font).horizontalAdvance(text);
}

}  // namespace gdi
