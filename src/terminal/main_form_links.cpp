// The menu options that do no more than toggle their check mark: the rest of
// the program reads the mark when it needs the option.
#include "terminal/main_form.h"

namespace terminal {

void TMain::Disableondeactivate1Click(vcl::TComponent* Sender) { ToggleCheck(Sender); }

// A menu option that only toggles its check mark (called with no sender,
// it keeps the state).
void TMain::ToggleCheck(vcl::TComponent* Sender) {
    if (auto* m = dynamic_cast<vcl::TMenuItem*>(Sender)) m->SetChecked(!m->Checked());
}

}  // namespace terminal
