// Where the main window keeps its settings file, and the menu options that
// do no more than toggle their check mark (the rest of the program reads
// the mark when it needs the option).
#include <unistd.h>

#include <cstdlib>
#include <exception>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/files.h"
#include "platform/rtl/format.h"
#include "platform/rtl/numbers.h"
#include "terminal/main_form.h"

namespace terminal {

// The settings file lives beside the executable; where that folder cannot
// be written, in the user's configuration folder.
std::string TMain::DefaultConfigFileName() {
    std::string exe = rtl::ExeFolder();
    if (::access(rtl::SysPath(exe).c_str(), W_OK) == 0) return exe + "vostrel.ini";
    std::string base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
        base = rtl::FromSysPath(xdg);
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = rtl::FromSysPath(home) + "/.config";
    else
        return exe + "vostrel.ini";
    return rtl::IncludeTrailingPathDelimiter(base) + "vostrel/vostrel.ini";
}

void TMain::Disableondeactivate1Click(vcl::TComponent* Sender) { ToggleCheck(Sender); }

// A menu option that only toggles its check mark (called with no sender,
// it keeps the state).
void TMain::ToggleCheck(vcl::TComponent* Sender) {
    if (auto* m = dynamic_cast<vcl::TMenuItem*>(Sender)) m->SetChecked(!m->Checked());
}

}  // namespace terminal
