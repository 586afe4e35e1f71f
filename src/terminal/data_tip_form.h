#pragma once
// The data tip: a small borderless topmost window that shows a receive line
// in a second representation. For now the window itself, hidden.
#include "platform/vcl/forms.h"
#include "platform/vcl/timer.h"

namespace terminal {

class TfrmData : public vcl::TForm {
public:
    explicit TfrmData(vcl::TComponent* owner);
    ~TfrmData() override;

    vcl::TTimer* Timer1;
};

// The one data-tip window of the program (null until it is created).
extern TfrmData* frmData;

}  // namespace terminal
