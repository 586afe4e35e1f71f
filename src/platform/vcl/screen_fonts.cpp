#include "platform/vcl/screen_fonts.h"

#include <QFontDatabase>
#include <QStringList>

#include "platform/vcl/qt_bridge.h"
#include "platform/vcl/text.h"

namespace vcl {

bool ScreenFontExists(const std::string& name) {
    if (name.empty()) return false;
    const QStringList families = QFontDatabase::families();
    for (const std::string& candidate : {name, FontAlias(name)})
        if (families.contains(ToQ(candidate), Qt::CaseInsensitive)) return true;
    return false;
}

}  // namespace vcl
