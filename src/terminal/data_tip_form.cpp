#include "terminal/data_tip_form.h"

namespace terminal {

TfrmData* frmData = nullptr;

TfrmData::TfrmData(vcl::TComponent* owner) : vcl::TForm(owner) {
    Name = "frmData";
    SetBorderStyle(vcl::TFormBorderStyle::bsNone);
    SetFormStyle(vcl::TFormStyle::fsStayOnTop);
    SetColor(vcl::clNavy);
    Font().SetName("Tahoma");
    Font().SetHeight(-13);
    SetBounds(0, 0, 200, 40);
    Timer1 = new vcl::TTimer(this);
    Timer1->Name = "Timer1";
    Timer1->SetInterval(1000);
    frmData = this;
}

TfrmData::~TfrmData() {
    DestroyComponents();
    if (frmData == this) frmData = nullptr;
}

}  // namespace terminal
