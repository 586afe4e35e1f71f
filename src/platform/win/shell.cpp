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
    // The opener is handed the name as text: a name whose bytes are no
    // valid UTF-8 would reach it changed, and it might open (or an editor
    // create) another file, so it is not handed over at all.
    const QString arg = QString::fromLocal8Bit(path.c_str());
    if (arg.toLocal8Bit().toStdString() != path) return SE_ERR_FNF;
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (opener.isEmpty()) return SE_ERR_NOASSOC;
    if (!QProcess::startDetached(opener, {arg})) return SE_ERR_NOASSOC;
    return SE_ERR_OK;
}

}  // namespace win
