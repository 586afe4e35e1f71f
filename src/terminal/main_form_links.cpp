// The main window's calls into the terminal's other parts, as far as they
// stand. Each says what it does so far; the parts that own them replace
// these bodies (settings file, port scan and selection, profiles, layouts,
// receive panel, RS-485).
#include <exception>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/files.h"
#include "platform/rtl/format.h"
#include "platform/rtl/numbers.h"
#include "terminal/main_form.h"

namespace terminal {

void TMain::Disableondeactivate1Click(vcl::TComponent* Sender) { ToggleCheck(Sender); }

// A menu option that only toggles its check mark (called with no sender,
// it keeps the state).
void TMain::ToggleCheck(vcl::TComponent* Sender) {
    if (auto* m = dynamic_cast<vcl::TMenuItem*>(Sender)) m->SetChecked(!m->Checked());
}

}  // namespace terminal
