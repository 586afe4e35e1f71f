#include "platform/gdi/font_alias.h"

#include <algorithm>
#include <cctype>

namespace gdi {

namespace {

bool SameTextAscii(const std::string& a, const char* b) {
    std::size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return i == a.size() && b[i] == '\0';
}

}  // namespace

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
        if (SameTextAscii(name, a.asked)) return a.installed;
    return name;
}

}  // namespace gdi
