#include "platform/vcl/text.h"

#include "platform/rtl/cp1251.h"
#include "platform/rtl/files.h"
#include "platform/rtl/name_escapes.h"
#include "platform/vcl/qt_bridge.h"

namespace vcl {

QString ToQ(const std::string& ansi) {
    QString out;
    out.reserve(static_cast<qsizetype>(ansi.size()));
    for (char c : ansi) out.append(QChar(static_cast<char16_t>(rtl::AnsiCharToUnicode(c))));
    return out;
}

QString ToQShown(const std::string& message) {
    // A name's bytes that are no text show as the replacement mark.
    return QString::fromStdString(rtl::MessageToUtf8(message));
}

std::string FromQ(const QString& text) {
    std::string out;
    out.reserve(static_cast<std::size_t>(text.size()));
    for (QChar c : text) out.push_back(rtl::UnicodeToAnsiChar(c.unicode()));
    return out;
}

std::string FromQName(const QString& name) { return rtl::FromSysPath(name.toStdString()); }

}  // namespace vcl
