#include "platform/vcl/text.h"

#include "platform/rtl/cp1251.h"
#include "platform/vcl/qt_bridge.h"

namespace vcl {

QString ToQ(const std::string& ansi) {
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

std::string FontAlias(const std::string& name) {
    struct Alias {
        const char* asked;
        const char* installed;
    };
    static constexpr Alias kAliases[] = {
        {"Arial", "Liberation Sans"},
        {"Courier New", "Liberation Mono"},
        {"Tahoma", "DejaVu Sans"},
        {"MS Sans Serif", "DejaVu Sans"},
        {"Times New Roman", "Liberation Serif"},
    };
    for (const Alias& a : kAliases)
        if (QString::fromLatin1(a.asked).compare(QString::fromStdString(name),
                                                 Qt::CaseInsensitive) == 0)
            return a.installed;
    return name;
}

}  // namespace vcl
