#include "terminal/data_tip_form.h"

#include <string>

#include "platform/rtl/exceptions.h"

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

    LInfo1 = new TTagLabel(this);
    LInfo1->Name = "LInfo1";
    LInfo1->SetParent(this);
    LInfo1->Font().Assign(Font());
    LInfo1->SetColor(vcl::clInfoBk);
    LInfo1->SetShowAccelChar(false);
    LInfo1->SetTabSize(50);
    LInfo1->SetTextStyles({"h:<B><c=0000FF><z=00FFFF>"});
    LInfo1->SetBounds(1, 1, LInfo1->Width(), LInfo1->Height());
    LInfo1->OnMouseMove = [this](vcl::TComponent* Sender, vcl::TShiftState Shift, int X, int Y) {
        LInfo1MouseMove(Sender, Shift, X, Y);
    };

    Timer1 = new vcl::TTimer(this);
    Timer1->Name = "Timer1";
    Timer1->SetEnabled(false);
    Timer1->SetInterval(1000);
    Timer1->SetOnTimer([this](vcl::TComponent* Sender) { Timer1Timer(Sender); });

    OnDeactivate = [this](vcl::TComponent* Sender) { FormDeactivate(Sender); };
    CtrlHeld = [] { return (vcl::KeyboardShiftState() & vcl::ssCtrl) != 0; };
    frmData = this;
}

TfrmData::~TfrmData() {
    DestroyComponents();
    if (frmData == this) frmData = nullptr;
}

void TfrmData::ShowTip(const TDataTipLine& Line, int X, int CharWidth, bool ShowNonVisible,
                       const vcl::TRect& LineOnScreen) {
    const vcl::TRect screen = ScreenBounds ? ScreenBounds() : vcl::TRect{};
    const std::string caption =
        DataTipCaption(Line, X, CharWidth, ShowNonVisible, screen.Width());
    if (caption.empty()) {
        FormDeactivate(this);
        return;
    }
    LInfo1->SetCaption(caption);
    const int width = LInfo1->Width() + 2;
    const int height = LInfo1->Height() + 2;
    const vcl::TPoint at = PlaceDataTip(LineOnScreen, width, height, screen);
    SetBounds(at.X, at.Y, width, height);
    // On top of every window, yet the window under the mouse keeps the
    // keyboard: the user is still working there.
    ShowNoActivate();
    Timer1->SetEnabled(true);
}

void TfrmData::ShowTip(const TLineRecord& Record, std::string_view Data, int X, int CharWidth,
                       bool ShowNonVisible, const vcl::TRect& LineOnScreen) {
    std::string bytes;
    try {
        bytes = DecodeLineBytes(Record.Format, Data);
    } catch (const rtl::Exception&) {
        FormDeactivate(this);
        return;
    }
    ShowTip({Record.Format, Record.PrefixLen, Data, bytes}, X, CharWidth, ShowNonVisible,
            LineOnScreen);
}

void TfrmData::FormDeactivate(vcl::TComponent*) {
    Hide();
    Timer1->SetEnabled(false);
}

void TfrmData::LInfo1MouseMove(vcl::TComponent*, vcl::TShiftState, int, int) {
    FormDeactivate(this);
}

void TfrmData::Timer1Timer(vcl::TComponent*) {
    if (!CtrlHeld || !CtrlHeld()) FormDeactivate(this);
}

}  // namespace terminal
