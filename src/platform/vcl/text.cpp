#include "platform/vcl/text.h"

#include "platform/rtl/cp1251.h"
#include "platform/rtl/files.h"
#include "platform/rtl/name_escapes.h"
#include "platform/vcl/qt_bridge.h"

namespace vcl {

QString ToQ(const std::string& ansi) {
    QString out;
    out.reserve(static_cast<qsizetype>(ansi.size()));
    for (std::size_t i = 0; i < ansi.size(); ++i) {
        // A file name's letters that the code page lacks are shown as
        // themselves; a byte that is no character at all as the
        // replacement mark.
        char32_t code = 0;
        if (rtl::NameEscapeAt(ansi, i, code)) {
            const bool rawByte = code >= rtl::RawByteEscapeBase && code <= rtl::RawByteEscapeBase + 0xFF;
            out.append(QString::fromUcs4(rawByte ? U"\uFFFD" : &code, 1));
            i += rtl::NameEscapeLength - 1;
            continue;
        }
        out.append(QChar(static_cast<char16_t>(rtl::AnsiCharToUnicode(ansi[i]))));
    }
    return out;
}

QString ToQBytes(const std::string& ansi) {
    QString out;
    out.reserve(static_cast<qsizetype>(ansi.size()));
    for (char c : ansi) out.append(QChar(static_cast<char16_t>(rtl::AnsiCharToUnicode(c))));
    return out;
}

std::string FromQ(const QString& text) {
    std::string out;
    out.reserve(static_cast<std::size_t>(text.size()));
    for (QChar c : text) out.push_back(rtl::UnicodeToAnsiChar(c.unicode()));
    return out;
}

std::string FromQName(const QString& name) { return rtl::FromSysPath(name.toStdString()); }

}  // namespace vcl
