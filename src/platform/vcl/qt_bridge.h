#pragma once
// Private to the class library: conversions between our types and Qt's.
// Nothing outside src/platform/vcl includes this header.
#include <QColor>
#include <QFont>
#include <QString>
#include <cstdint>
#include <string>

namespace vcl {

class TFont;

QString ToQ(const std::string& ansi);
std::string FromQ(const QString& text);

// 0x00BBGGRR (or a system colour) -> QColor.
QColor ToQColor(std::int32_t color);
std::int32_t FromQColor(const QColor& color);

QFont ToQFont(const TFont& font);

}  // namespace vcl
