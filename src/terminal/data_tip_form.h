#pragma once
// The data tip: a small borderless topmost window that shows a receive line
// in a second representation while Ctrl is held over it in the receive
// panel. The panel's mouse-move handler calls ShowTip (or HideTip over a
// line without bytes); the tip hides itself when Ctrl is let go (checked on
// every Timer1 tick), when the mouse moves over it, and when it loses
// activation.
#include <functional>
#include <string_view>

#include "platform/vcl/forms.h"
#include "platform/vcl/timer.h"
#include "terminal/data_tip.h"
#include "terminal/receive_panel_lines.h"
#include "terminal/tag_label.h"

namespace terminal {

class TfrmData : public vcl::TForm {
public:
    explicit TfrmData(vcl::TComponent* owner);
    ~TfrmData() override;

    // Shows Line's bytes for the mouse at client X of the panel (CharWidth
    // pixels per character; ShowNonVisible: the option that shows the codes
    // of non-visible ASC bytes), under the hovered line, whose rectangle is
    // given in screen coordinates, and starts Timer1. A line without bytes
    // hides the tip instead.
    void ShowTip(const TDataTipLine& Line, int X, int CharWidth, bool ShowNonVisible,
                 const vcl::TRect& LineOnScreen);
    // The same for a panel line given by its record and its text after the
    // prefix: the bytes are read back from the text. A line edited into text
    // that is no longer numbers has no bytes to show, so the tip hides
    // rather than raising an error at every move of the mouse.
    void ShowTip(const TLineRecord& Record, std::string_view Data, int X, int CharWidth,
                 bool ShowNonVisible, const vcl::TRect& LineOnScreen);
    // Hides the tip (the mouse is over a line without bytes).
    void HideTip() { FormDeactivate(this); }

    // Hides the window and stops Timer1.
    void FormDeactivate(vcl::TComponent* Sender);
    void LInfo1MouseMove(vcl::TComponent* Sender, vcl::TShiftState Shift, int X, int Y);
    void Timer1Timer(vcl::TComponent* Sender);

    // Whether Ctrl is held now; the keyboard state unless replaced.
    std::function<bool()> CtrlHeld;
    // The screen's rectangle, for wrapping the text and keeping the tip on
    // the screen; unset or empty: not known (no wrapping, no moving).
    std::function<vcl::TRect()> ScreenBounds;

    TTagLabel* LInfo1;
    vcl::TTimer* Timer1;
};

// The one data-tip window of the program (null until it is created).
extern TfrmData* frmData;

}  // namespace terminal
