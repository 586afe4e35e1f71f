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

// Program text for a widget: byte by byte through the code page, except
// that a file name's escaped letters (name_escapes.h) show as the letters.
QString ToQ(const std::string& ansi);
// Byte by byte, escapes included: for data that must show as it came (text
// copied from the receive list).
QString ToQBytes(const std::string& ansi);
// A widget's text as program text; characters the code page lacks become
// '?' (text typed for a device has no other spelling).
std::string FromQ(const QString& text);
// A file name as Qt spells it, as program text that reaches the same file
// (the escapes of name_escapes.h, never a '?').
std::string FromQName(const QString& name);

// 0x00BBGGRR (or a system colour) -> QColor.
QColor ToQColor(std::int32_t color);
std::int32_t FromQColor(const QColor& color);

QFont ToQFont(const TFont& font);

}  // namespace vcl
