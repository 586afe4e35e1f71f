// RS-485 mode of the main window: the check box with the priorities that
// make the transmit path's busy-wait dependable, the measurement of the
// counter rate that the wait counts with, and the wait itself.
#include <chrono>
#include <thread>

#include "platform/rtl/format.h"
#include "platform/vcl/dialogs.h"
#include "terminal/main_form.h"
#include "terminal/rs485_timing.h"

namespace terminal {

namespace {

constexpr vcl::TColor kRS485OnColor = 0x8080FF;

// The small "please wait" window shown over the main window while the
// measurement holds the GUI thread; it answers nothing and goes when done.
class TWaitDialog {
public:
    explicit TWaitDialog(vcl::TForm* Over) : form_(new vcl::TForm(Over)) {
        form_->Name = "DLGWAIT";
        form_->SetCaption("Please wait..");
        form_->SetBorderStyle(vcl::TFormBorderStyle::bsDialog);
        form_->SetFormStyle(vcl::TFormStyle::fsStayOnTop);
        form_->Font().SetName("MS Sans Serif");
        form_->SetClientSize(230, 60);
        form_->SetBounds(Over->Left() + (Over->Width() - 230) / 2,
                         Over->Top() + (Over->Height() - 60) / 2, 230, 60);
        const char* lines[] = {"Counting CPU frequency", "for correct RS-485 operation..."};
        for (int i = 0; i < 2; ++i) {
            auto* label = new vcl::TLabel(form_);
            label->Name = rtl::Format("lblWait%d", {i + 1});
            label->SetParent(form_);
            label->SetCaption(lines[i]);
            label->SetBounds(12, 10 + 20 * i, 210, 16);
        }
        form_->Show();
        vcl::Application->ProcessMessages();  // painted before the thread is held
    }
    ~TWaitDialog() { vcl::TComponent::Free(form_); }
    TWaitDialog(const TWaitDialog&) = delete;
    TWaitDialog& operator=(const TWaitDialog&) = delete;

private:
    vcl::TForm* form_;  // owned by the main window until freed here
};

}  // namespace

void TMain::CBRS485Click(vcl::TComponent*) {
    const bool on = CBRS485->Checked();
    rtscb->SetEnabled(!on && !cbFlow->Checked());
    CBRS485->SetColor(on ? kRS485OnColor : CBRS485->Parent()->Color());
    tmrRS485On->SetEnabled(false);
    if (!on) {
        SetRS485Priority(false);  // a refusal leaves the priority as it was
        cp1->ToggleRTS(rtscb->Checked());
    } else if (CPUSpeed == 0) {
        tmrRS485On->SetEnabled(true);
    } else {
        // Without the privilege to raise it the mode still works, less exactly.
        SetRS485Priority(true);
    }
}

void TMain::tmrRS485OnTimer(vcl::TComponent*) {
    tmrRS485On->SetEnabled(false);
    if (!CBRS485->Checked()) return;
    if (CPUSpeed == 0) BSpeedClick(BSpeed);
    SetRS485Priority(true);
}

void TMain::BSpeedClick(vcl::TComponent* Sender) {
    if (Sender) {
        {
            TWaitDialog wait(this);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            CPUSpeed = MeasureCpuSpeed(std::chrono::milliseconds(CpuMeasureMs));
        }
        vcl::ShowMessage(rtl::Format("CPU frequency = %d kHz", {CPUSpeed}));
    }
    BSpeed->SetHint(rtl::Format("%sCurrent speed value = %d kHz",
                                {"Count CPU speed\r(for exact 485 mode functioning)\r", CPUSpeed}));
}

void TMain::RS485Wait(std::int64_t Microseconds) const { terminal::RS485Wait(Microseconds, CPUSpeed); }

}  // namespace terminal
