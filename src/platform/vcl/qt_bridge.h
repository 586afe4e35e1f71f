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

// Plain text for a widget, byte by byte through the code page (0x98 is
// U+0098): what an edit, a list or the clipboard holds comes back through
// FromQ as it went in, and nothing in it is read as a name.
QString ToQ(const std::string& ansi);
// Message text (name_escapes.h) for what a person only reads: message
// boxes, hints, captions, a dialog's title and its file name. A name in it
// shows its letters. Nothing shown this way is read back.
QString ToQShown(const std::string& message);
// A widget's text as program text; characters the code page lacks become
// '?' (text typed for a device has no other spelling).
std::string FromQ(const QString& text);
// A file name as Qt spells it, as program text that reaches the same file
// (the escapes of name_escapes.h, never a '?').
std::string FromQName(const QString& name);

// The widget property that holds a control's hint as program text.
inline constexpr const char* kHintProperty = "vclHint";

// 0x00BBGGRR (or a system colour) -> QColor.
QColor ToQColor(std::int32_t color);
std::int32_t FromQColor(const QColor& color);

QFont ToQFont(const TFont& font);

}  // namespace vcl
