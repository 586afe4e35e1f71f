#include "platform/win/shell.h"

#include <unistd.h>

#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include "platform/rtl/files.h"
#include "platform/rtl/strings.h"

namespace win {

int ShellExecute(const std::string& Verb, const std::string& File, int) {
    if (!Verb.empty() && rtl::LowerCase(Verb) != "open") return SE_ERR_NOASSOC;
    if (File.empty() || !rtl::FileExists(File)) return SE_ERR_FNF;
    const std::string path = rtl::SysPath(File);
    if (::access(path.c_str(), R_OK) != 0) return SE_ERR_ACCESSDENIED;
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (opener.isEmpty()) return SE_ERR_NOASSOC;
    if (!QProcess::startDetached(opener, {QString::fromLocal8Bit(path.c_str())})) return SE_ERR_NOASSOC;
    return SE_ERR_OK;
}

}  // namespace win
