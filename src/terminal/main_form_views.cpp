// The main window's remaining user-facing mechanics: the transmit timer's
// interval (text box, track bar and timer kept in step), the option menus
// (output data format, input format, line breaks, time display, view
// toggles, stay on top, font), reception on and off, the three layouts with
// the settings link of layout 3, the window geometry, the keys the form
// sees first, the help file and the about box.
#include <climits>
#include <cmath>
#include <string>

#include "graph/graph_form.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/failure_trace.h"
#include "platform/rtl/files.h"
#include "platform/rtl/format.h"
#include "platform/rtl/numbers.h"
#include "platform/vcl/clipboard.h"
#include "platform/vcl/screen_fonts.h"
#include "platform/win/shell.h"
#include "terminal/data_tip_form.h"
#include "terminal/main_form.h"

#ifndef VOSTREL_VERSION
#define VOSTREL_VERSION ""
#endif

namespace terminal {

namespace {

constexpr vcl::TColor kAlertColor = 0x8080FF;  // options that change transmission
constexpr const char* kEmptyPattern = "<empty>";
constexpr int kLabelLeft = 62;  // RVLabel and lblSets in the receive group
constexpr int kTrackPage = 9;
constexpr int kPanelHeight = 56;      // pnlTR in the column of layout 1
constexpr int kUpperTimerExtra = 16;  // room for the timer group on the button row

// Line-break texts by index: CR, LF, CR LF, one NUL, none.
const std::string& LineBreakText(int Index) {
    static const std::string kTexts[] = {"\r", "\n", "\r\n", std::string(1, '\0'), ""};
    return kTexts[Index];
}

// Names of the data formats as the format label shows them.
constexpr const char* kFormatNames[] = {"DEC", "HEX", "DW", "HW", "ASC", "BIN", "ERR", "MSG"};

struct TInputFormatLook {
    const char* Caption;
    vcl::TColor Color;
    const char* Hint;
};
const TInputFormatLook kInputFormats[] = {
    {"DEC", vcl::clWindow,
     "11 22 33 - DEC numbers (int8); $56 - HEX number (int8)\r"
     "12+ - autoincrement after transmission; 12- - autodecrement\r"
     "1234W - int16, LSB 1st; 1234WR - int16, MSB 1st; 987L - int32\r"
     "135Q - int64; 5.5F - float; 6.6D - double; ? - random byte\r"
     "\"ABCD\" - string; 100p - pause during transmission for 1s"},
    {"HEX", 0xC0FFFF,
     "56 88 AA - HEX numbers (int8)\r"
     "A8+ - autoincrement after transmission; 9F- - autodecrement\r"
     "2A34W - int16, LSB 1st; 1A34WR - int16, MSB 1st; 987L - int32\r"
     "135Q - int64; ? - random byte\r"
     "\"ABCD\" - string; 100p - pause during transmission for 1s"},
    {"ASC", 0xFFC0FF,
     "All entered characters are sent as their ASCII codes.\r"
     "Selected Line break is automatically added at the end.\r"
     "Supported control characters: \\n - 10, \\r - 13, \\t - 9,\r"
     "\\0 - 0, \\\\ - 92 (single '\\'), \\xHH - replaced by char\r"
     "with code HH (HEX)"},
};

// Seconds as typed into the timer box -> whole milliseconds. False for a
// text that is not a number or an interval no timer can hold.
bool SecondsToInterval(const std::string& Text, int& Milliseconds) {
    double seconds = 0;
    if (!rtl::TryStrToFloat(Text, seconds)) return false;
    const double ms = seconds * 1000.0;
    if (!(ms >= 0 && ms <= static_cast<double>(INT_MAX))) return false;
    Milliseconds = static_cast<int>(rtl::Round(ms));
    return true;
}

// A menu option that toggles when the user chose it; called without a
// sender it keeps its state.
void ToggleIfClicked(vcl::TComponent* Sender, vcl::TMenuItem* Item) {
    if (Sender) Item->SetChecked(!Item->Checked());
}

vcl::TMenuItem* Entry(TMain& m, const char* Name) {
    auto* item = dynamic_cast<vcl::TMenuItem*>(m.FindComponent(Name));
    if (!item) throw rtl::Exception(rtl::Format("Menu entry %s is missing", {Name}));
    return item;
}

// Puts Control into an aligned stack of Parent right below Above: the stack
// is ordered by top, so it goes just above the control that follows.
void AlignBelow(vcl::TControl* Control, vcl::TControl* Above) {
    Control->SetAlign(vcl::TAlign::alNone);
    Control->SetTop(Above->Top() + Above->Height() - 1);
    Control->SetAlign(vcl::TAlign::alTop);
}

}  // namespace

// ---- Transmit timer

int TMain::TrackPosToInterval(int Position) {
    if (Position < 1) Position = 1;
    if (Position > 37) Position = 37;
    if (Position <= 10) return Position * 10;
    if (Position <= 19) return (Position - 11) * 100 + 200;
    if (Position <= 28) return (Position - 20) * 1000 + 2000;
    return (Position - 29) * 10000 + 20000;
}

int TMain::IntervalToTrackPos(int Milliseconds) {
    if (Milliseconds < 101) return Milliseconds / 10;
    if (Milliseconds <= 1000) return (Milliseconds - 200) / 100 + 11;
    if (Milliseconds <= 10000) return (Milliseconds - 2000) / 1000 + 20;
    return (Milliseconds - 20000) / 10000 + 29;
}

void TMain::SetTimerInterval(int Milliseconds, bool FromTextBox) {
    if (TimerIntervalGuard != 0) return;
    struct TGuard {
        int& Count;
        explicit TGuard(int& c) : Count(c) { ++Count; }
        ~TGuard() { --Count; }
    } guard(TimerIntervalGuard);
    tmr1->SetInterval(Milliseconds);
    if (!FromTextBox) TmrEd->SetText(rtl::FloatToStr(Milliseconds / 1000.0L));
    ttr1->SetPosition(IntervalToTrackPos(Milliseconds));
}

void TMain::ttr1Change(vcl::TComponent*) {
    try {
        SetTimerInterval(TrackPosToInterval(ttr1->Position()), false);
    } catch (...) {
        // A track bar move never reports anything to the user; the failure
        // still leaves a trace on standard error.
        rtl::TraceFailure(std::current_exception(), "moving the timer track bar");
    }
}

void TMain::TmrEdChange(vcl::TComponent*) {
    int ms = 0;
    if (SecondsToInterval(TmrEd->Text(), ms)) SetTimerInterval(ms, true);
}

void TMain::TmrEdKeyDown(vcl::TComponent*, std::uint16_t& Key, vcl::TShiftState) {
    int step = 0;
    switch (Key) {
        case vcl::VK_RETURN:
            TmrEd->SetText(rtl::Format("%.1f", {tmr1->Interval() / 1000.0}));
            return;
        case vcl::VK_UP: step = 1; break;
        case vcl::VK_DOWN: step = -1; break;
        case vcl::VK_PRIOR: step = kTrackPage; break;
        case vcl::VK_NEXT: step = -kTrackPage; break;
        default: return;
    }
    Key = 0;
    ttr1->SetPosition(ttr1->Position() + step);
    ttr1Change(ttr1);
}

void TMain::TmrEnCBClick(vcl::TComponent*) {
    if (TmrEnCB->Checked()) {
        int ms = 0;
        if (SecondsToInterval(TmrEd->Text(), ms)) {
            tmr1->SetInterval(ms);
            tmr1->SetEnabled(true);
        } else {
            // Unchecking raises this handler again, which stops the timer.
            tmr1->SetEnabled(false);
            TmrEnCB->SetChecked(false);
            return;
        }
    } else {
        tmr1->SetEnabled(false);
    }
    TmrEnCB->SetColor(TmrEnCB->Checked() ? kAlertColor : Timergb->Color());
}

// ---- Output data format and input format

void TMain::ASCII1Click(vcl::TComponent* Sender) {
    vcl::TMenuItem* root = pmOutput->Items();
    int pos = DataFormat;
    if (auto* item = dynamic_cast<vcl::TMenuItem*>(Sender); item && item->Parent() == root)
        pos = item->MenuIndex();
    if (pos < 0 || pos > dfBIN) pos = dfHEX;
    vcl::TMenuItem* entry = root->Items(pos);
    DataFormat = static_cast<int>(entry->Tag);
    entry->SetChecked(true);
    if (!RxPanel->CurLine().empty()) StartNewLine(true);
    SyncReceivePanelOptions();
    UpdateNumFormat();
    lb1->Repaint();
}

void TMain::UpdateNumFormat() {
    if (OutputOn())
        LNumFormat->SetCaption("FILE:");
    else if (DataFormat >= 0 && DataFormat <= dfMSG)
        LNumFormat->SetCaption(kFormatNames[DataFormat]);
}

void TMain::mStringModeClick(vcl::TComponent* Sender) {
    vcl::TMenuItem* root = pmTRFormat->Items();
    int format = TRFormat;
    if (auto* item = dynamic_cast<vcl::TMenuItem*>(Sender); item && item->Parent() == root)
        format = static_cast<int>(item->Tag);
    if (format < 0 || format > 2) return;
    TRFormat = format;
    root->Items(format)->SetChecked(true);
    const TInputFormatLook& look = kInputFormats[format];
    TrBCB->SetColor(look.Color);
    TrBCB->SetHint(look.Hint);
    TrBCB->SetShowHint(true);
    sbTRFormat->SetCaption(look.Caption);
    ParseNeeded = true;
}

// ---- Line breaks

int TMain::LineBreakIndex(const std::string& Text) {
    for (int i = 0; i < 5; ++i)
        if (LineBreakText(i) == Text) return i;
    return 1;
}

void TMain::SetLineBreak(bool IsTransmit, int Index) {
    if (IsTransmit) {
        if (Index < 0 || Index > 4) return;
        Entry(*this, "mAscTrLb")->Items(Index)->SetChecked(true);
        TrLineBreak = LineBreakText(Index);
        ParseNeeded = true;
    } else {
        // The receive menu offers CR, LF and NUL.
        int pos = Index == 0 ? 0 : Index == 1 ? 1 : Index == 3 ? 2 : -1;
        if (pos < 0) return;
        Entry(*this, "mAscRvLb")->Items(pos)->SetChecked(true);
        RvLineBreak = LineBreakText(Index)[0];
        SyncReceivePanelOptions();
    }
}

// ---- Time display and the receive panel's toggles

void TMain::milliseconds1Click(vcl::TComponent* Sender) {
    int pos = RVPnlTime;
    if (auto* item = dynamic_cast<vcl::TMenuItem*>(Sender); item && item->Parent() == mTimeInRVPanel)
        pos = item->MenuIndex();
    if (pos < 0 || pos > 4) pos = 2;
    mTimeInRVPanel->Items(pos)->SetChecked(true);
    RVPnlTime = pos;
    mTimecaninterruptdatarow->SetEnabled(RVPnlTime >= 1);
    SyncReceivePanelOptions();
}

void TMain::mTimeFreeFormatClick(vcl::TComponent* Sender) {
    if (Sender) {
        std::string format = RVPnlTimeFormat;
        if (!vcl::InputQuery("Free time format", "e.g. yyyy-mm-dd hh:nn:ss", format)) return;
        RVPnlTimeFormat = format;
    }
    mTimeFreeFormat->SetCaption(rtl::Format("Free format (%s)...", {RVPnlTimeFormat}));
    if (Sender) milliseconds1Click(mTimeFreeFormat);
    SyncReceivePanelOptions();
}

void TMain::mTimecaninterruptdatarowClick(vcl::TComponent* Sender) {
    ToggleIfClicked(Sender, mTimecaninterruptdatarow);
    SyncReceivePanelOptions();
}

void TMain::Precisetimecalc1Click(vcl::TComponent* Sender) {
    ToggleIfClicked(Sender, Precisetimecalc1);
    SyncReceivePanelOptions();
    // Switching on (or applying it on) takes a new base for the time stamps.
    if (Precisetimecalc1->Checked()) RxPanel->SetPreciseTimeCalc(true);
}

void TMain::mShowASCIInonvisiblecodesClick(vcl::TComponent* Sender) {
    ToggleIfClicked(Sender, mShowASCIInonvisiblecodes);
    SyncReceivePanelOptions();
    lb1->Repaint();
}

void TMain::InfinitemClick(vcl::TComponent* Sender) {
    ToggleIfClicked(Sender, Infinitem);
    RecalcListMetrics();
    lb1->Repaint();
}

void TMain::mShowWritesClick(vcl::TComponent* Sender) {
    ToggleIfClicked(Sender, mShowWrites);
    SyncReceivePanelOptions();
    if (!OutputOn()) lb1->Repaint();
}

// ---- Window options

void TMain::mStayonTopClick(vcl::TComponent* Sender) {
    ToggleIfClicked(Sender, mStayonTop);
    SetFormStyle(mStayonTop->Checked() ? vcl::TFormStyle::fsStayOnTop : vcl::TFormStyle::fsNormal);
}

void TMain::FontmClick(vcl::TComponent*) {
    fd1->Font.Assign(lb1->Font());
    if (fd1->Execute()) SetListFont(fd1->Font.Name(), fd1->Font.Size());
}

void TMain::SetListFont(const std::string& Name, int Size) {
    // A size no screen can show would leave the list unreadable.
    if (Size < 1 || Size > 1000 || !vcl::ScreenFontExists(Name)) return;
    lb1->Font().SetName(Name);
    lb1->Font().SetSize(Size);
    if (frmData) {
        frmData->LInfo1->Font().SetName(Name);
        frmData->LInfo1->Font().SetSize(Size);
    }
    Fontm->SetCaption(rtl::Format("Font (%s, %d)...", {lb1->Font().Name(), lb1->Font().Size()}));
    RecalcListMetrics();
}

void TMain::dRVcbClick(vcl::TComponent*) {
    ReceptionEnabled = !dRVcb->Checked();
    dRVcb->SetColor(dRVcb->Checked() ? kAlertColor : pnlDRV->Color());
}

void TMain::mViewTmrClick(vcl::TComponent* Sender) {
    if (Sender) Timergb->SetVisible(!Timergb->Visible());
    if (!Timergb->Visible()) TmrEnCB->SetChecked(false);
    RxSplitter1Resize(nullptr);
}

void TMain::mViewSetClick(vcl::TComponent* Sender) {
    if (Sender) nastrp->SetVisible(!nastrp->Visible());
    RxSplitter1Resize(nullptr);
}

// ---- Layouts

void TMain::SetLayout(int L) {
    Layout = L;
    RVLabel->SetLeft(kLabelLeft);
    lblSets->Hide();
    if (L < 1 || L > 3) return;

    // The column docked at the left of the window with the splitter beside it.
    auto dock_column = [this] {
        RvGB->SetParentBackground(true);
        RvGB->SetParent(this);
        RvGB->SetLeft(0);
        RvGB->SetAlign(vcl::TAlign::alLeft);
        RvGB->Show();
        Splitter1->SetLeft(RvGB->Width());
        Splitter1->Show();
    };
    vcl::TWinControl* upper = L == 1 ? static_cast<vcl::TWinControl*>(RvGB) : GBUpper;
    for (vcl::TControl* c : std::initializer_list<vcl::TControl*>{pnlTR, TRLabel, LTRFormat,
                                                                  sbTRFormat, sbPlugin})
        c->SetParent(upper);
    const int row = TmrEd->Top();
    if (L == 1) {
        dock_column();
        GBUpper->Hide();
        RvGB->SetCaption("Transmission");
        // The transmit panel heads the column, the timer follows it.
        pnlTR->SetHeight(kPanelHeight);
        pnlTR->SetTop(-1);
        Timergb->SetParent(RvGB);
        Timergb->SetHeight(64);
        AlignBelow(Timergb, pnlTR);
        ttr1->SetBounds(4, row + TmrEd->Height() + 1, ttr1->Width(), ttr1->Height());
        mLayout1->SetChecked(true);
    } else {
        // The upper group holds the transmit box above a row of the
        // Transmit button, the arrow button and the timer group.
        pnlTR->SetHeight(kPanelHeight + kUpperTimerExtra);
        // Room for the group's caption and frame around the panel.
        GBUpper->SetHeight(pnlTR->Height() + GBUpper->Height() - GBUpper->ClientHeight() + 2);
        GBUpper->Show();
        RvGB->SetCaption("Options");
        Timergb->SetAlign(vcl::TAlign::alNone);
        Timergb->SetParent(pnlTR);
        ttr1->SetBounds(TmrEd->Left() + TmrEd->Width() + 18, row, ttr1->Width(), ttr1->Height());
        if (L == 2) {
            mLayout2->SetChecked(true);
            dock_column();
        } else {
            mLayout3->SetChecked(true);
            lblSets->SetLeft(kLabelLeft);
            UpdateSettingsSummary();
            lblSets->Show();
            // The column floats under the link, hidden until it is clicked.
            const int width = RvGB->Width();
            // Down to the connection group (the first of the column's stack
            // once the transmit controls left it), and the reception switch
            // below it, which keeps to the column's bottom.
            const vcl::TRect inside = RvGB->AlignRect();
            const int height =
                inside.Top + nastrp->Height() + pnlDRV->Height() + (RvGB->Height() - inside.Bottom);
            RvGB->Hide();
            RvGB->SetParentBackground(false);  // it lies over the receive list
            RvGB->SetAlign(vcl::TAlign::alNone);
            RvGB->SetParent(TrGB);
            RvGB->SetBounds(lblSets->Left(), lblSets->Top() + lblSets->Height(), width, height);
            RvGB->BringToFront();
            Splitter1->Hide();
        }
    }
    RxSplitter1Resize(nullptr);
}

void TMain::lblSetsClick(vcl::TComponent*) {
    if (!ColumnFloating()) return;
    if (RvGB->Visible()) {
        RvGB->Hide();
        return;
    }
    RvGB->Show();
    RvGB->BringToFront();
    if (RvGB->CanFocus()) RvGB->SetFocus();
}

void TMain::RvGBExit(vcl::TComponent*) {
    // The focus moving on inside the column (from the group to its first
    // control, say) is no leaving it.
    if (RvGB->ContainsFocus()) return;
    HideFloatingColumn();
}

void TMain::HideFloatingColumn() {
    if (!ColumnFloating() || !RvGB->Visible()) return;
    // Focus inside the column goes to the transmit box (the list would
    // take a second Escape as its Clear shortcut).
    const bool had_focus = RvGB->ContainsFocus();
    UpdateSettingsSummary();
    RvGB->Hide();
    if (had_focus && TrBCB->CanFocus()) TrBCB->SetFocus();
}

// ---- Window geometry

void TMain::FormResize(vcl::TComponent*) {
    const int min_width = Splitter1->Left() + 25;
    if (Width() < min_width) SetWidth(min_width);
    if (Height() < 110) SetHeight(110);
    RxSplitter1Resize(nullptr);
}

void TMain::RxSplitter1Resize(vcl::TComponent*) {
    // The format and plug-in buttons keep to the right edge of their group.
    if (vcl::TWinControl* group = sbTRFormat->Parent()) {
        sbTRFormat->SetLeft(group->Width() - sbTRFormat->Width() - 5);
        FitPluginButton();
    }
    TrBCB->SetWidth(std::max(20, pnlTR->Width() - 2 * TrBCB->Left()));
    if (Layout == 1) {
        // The button row and the track bar fill their own containers, which
        // sit inside the column's group box with its margins.
        Transb->SetWidth(
            std::max(20, pnlTR->Width() - 2 * Transb->Left() - 2 - BTrArrow->Width()));
        BTrArrow->SetLeft(Transb->Left() + Transb->Width() + 2);
        ttr1->SetWidth(std::max(0, Timergb->Width() - ttr1->Left() - 4));
    } else {
        Transb->SetWidth(160);
        BTrArrow->SetLeft(Transb->Left() + Transb->Width() + 2);
        // The timer sits on the button row, right of the arrow button.
        const int left = BTrArrow->Left() + BTrArrow->Width() + 4;
        const int top = Transb->Top() - 4;
        Timergb->SetBounds(left, top, std::max(0, pnlTR->Width() - left),
                           std::max(0, pnlTR->Height() - top));
        ttr1->SetWidth(std::max(0, Timergb->Width() - ttr1->Left() - 4));
    }
    LNumFormat->SetLeft(TrGB->Width() - LNumFormat->Width() - 5);
    PlaceReceptionSwitch();
    RecalcListMetrics();
}

void TMain::PlaceReceptionSwitch() {
    // The switch keeps to the column's bottom while there is room below the
    // groups stacked from its top; in a window too low for both it sits
    // right below them, clipped by the column, instead of lying over them.
    const vcl::TRect inside = RvGB->AlignRect();
    int stack_bottom = inside.Top;
    for (int i = 0; i < RvGB->ControlCount(); ++i) {
        vcl::TControl* c = RvGB->Controls(i);
        if (c != pnlDRV && c->Visible() && c->Align() == vcl::TAlign::alTop)
            stack_bottom = std::max(stack_bottom, c->Top() + c->Height());
    }
    if (inside.Bottom - pnlDRV->Height() >= stack_bottom) {
        if (pnlDRV->Align() != vcl::TAlign::alBottom) pnlDRV->SetAlign(vcl::TAlign::alBottom);
        return;
    }
    if (pnlDRV->Align() != vcl::TAlign::alNone) pnlDRV->SetAlign(vcl::TAlign::alNone);
    pnlDRV->SetBounds(inside.Left, stack_bottom, inside.Width(), pnlDRV->Height());
}

// ---- Keys the form sees first

void TMain::FormKeyDown(vcl::TComponent*, std::uint16_t& Key, vcl::TShiftState Shift) {
    const vcl::TShiftState mods = Shift & (vcl::ssShift | vcl::ssAlt | vcl::ssCtrl);
    switch (Key) {
        case vcl::VK_F1: mHelpClick(mHelp); return;
        case vcl::VK_F2: SavecfgbClick(Saveb); return;
        case vcl::VK_F5: TmrEnCB->SetChecked(!TmrEnCB->Checked()); return;
        case vcl::VK_F10:
            dRVcb->SetChecked(!dRVcb->Checked());
            Key = 0;
            return;
        case vcl::VK_RETURN:
        case vcl::VK_ESCAPE:
            // Also (above all) while a control in the column has the focus.
            if (ColumnFloating() && RvGB->Visible()) {
                HideFloatingColumn();
                Key = 0;
            }
            return;
        default: break;
    }
    if (Key == 'F' && mods == vcl::ssCtrl) {
        Outputtofile1->Click();
    } else if (Key == 'C' && mods == vcl::ssShift) {
        // The copy leaves out the prefix because Shift is held; the letter
        // still reaches the focused control.
        Entry(*this, "mCopyLine")->Click();
    } else if (Key >= '1' && Key <= '5' && mods == vcl::ssAlt) {
        vcl::TMenuItem* patterns[] = {N11, N9, N10, N12, alt51};
        vcl::TMenuItem* pattern = patterns[Key - '1'];
        Key = 0;
        if (pattern->Caption() == kEmptyPattern) return;
        alt51Click(pattern);
        ParseNeeded = true;
        TransbClick(Transb);
    }
}

// ---- Help and about

void TMain::mHelpClick(vcl::TComponent*) {
    const std::string file = rtl::ExeFolder() + "vostrel.chm";
    if (win::ShellExecute("Open", file, win::SW_SHOWNORMAL) <= 32)
        throw rtl::Exception("Can't open help file");
}

std::string TMain::FileVersion() { return VOSTREL_VERSION; }

void TMain::About1Click(vcl::TComponent*) {
    vcl::Application->MessageBox(rtl::Format("Vostrel\rVersion %s", {FileVersion()}), "VOSTREL",
                                 vcl::MB_OK | vcl::MB_ICONINFORMATION);
}

// ---- Hooks

void TMain::HookViewControls() {
    OnKeyDown = [this](vcl::TComponent* s, std::uint16_t& k, vcl::TShiftState sh) {
        FormKeyDown(s, k, sh);
    };
    OnResize = [this](vcl::TComponent* s) { FormResize(s); };
    Splitter1->OnMoved = [this](vcl::TComponent* s) { RxSplitter1Resize(s); };
    pnlTR->OnResize = [this](vcl::TComponent* s) { RxSplitter1Resize(s); };
    RvGB->OnResize = [this](vcl::TComponent*) { PlaceReceptionSwitch(); };

    // Transmit timer.
    ttr1->OnChange = [this](vcl::TComponent* s) { ttr1Change(s); };
    TmrEd->OnChange = [this](vcl::TComponent* s) { TmrEdChange(s); };
    TmrEd->OnKeyDown = [this](vcl::TComponent* s, std::uint16_t& k, vcl::TShiftState sh) {
        TmrEdKeyDown(s, k, sh);
    };
    TmrEnCB->OnClick = [this](vcl::TComponent* s) { TmrEnCBClick(s); };
    SetTimerInterval(tmr1->Interval(), false);

    // Formats and line breaks.
    for (int i = 0; i <= dfBIN; ++i)
        pmOutput->Items()->Items(i)->OnClick = [this](vcl::TComponent* s) { ASCII1Click(s); };
    for (int i = 0; i < 3; ++i)
        pmTRFormat->Items()->Items(i)->OnClick = [this](vcl::TComponent* s) { mStringModeClick(s); };
    const char* tr_breaks[] = {"mAscTrLbR", "mAscTrLbN", "mAscTrLbRN", "mAscTrLb0", "mAscTrLbNone"};
    for (int i = 0; i < 5; ++i)
        Entry(*this, tr_breaks[i])->OnClick = [this, i](vcl::TComponent*) { SetLineBreak(true, i); };
    const struct {
        const char* Name;
        int Index;
    } rv_breaks[] = {{"mAscRvLbR", 0}, {"mAscRvLbN", 1}, {"mAscRvLb0", 3}};
    for (const auto& b : rv_breaks)
        Entry(*this, b.Name)->OnClick = [this, i = b.Index](vcl::TComponent*) { SetLineBreak(false, i); };
    UpdateNumFormat();
    mStringModeClick(nullptr);  // the transmit box's colour and hint

    // Time display and the panel's toggles.
    for (int i = 0; i < 4; ++i)
        mTimeInRVPanel->Items(i)->OnClick = [this](vcl::TComponent* s) { milliseconds1Click(s); };
    mTimeFreeFormat->OnClick = [this](vcl::TComponent* s) { mTimeFreeFormatClick(s); };
    mTimecaninterruptdatarow->OnClick = [this](vcl::TComponent* s) { mTimecaninterruptdatarowClick(s); };
    mTimecaninterruptdatarow->SetEnabled(RVPnlTime >= 1);
    Precisetimecalc1->OnClick = [this](vcl::TComponent* s) { Precisetimecalc1Click(s); };
    mShowASCIInonvisiblecodes->OnClick = [this](vcl::TComponent* s) { mShowASCIInonvisiblecodesClick(s); };
    Infinitem->OnClick = [this](vcl::TComponent* s) { InfinitemClick(s); };
    mShowWrites->OnClick = [this](vcl::TComponent* s) { mShowWritesClick(s); };
    mStayonTop->OnClick = [this](vcl::TComponent* s) { mStayonTopClick(s); };
    Fontm->OnClick = [this](vcl::TComponent* s) { FontmClick(s); };
    dRVcb->OnClick = [this](vcl::TComponent* s) { dRVcbClick(s); };

    // Views and layouts.
    mViewTmr->OnClick = [this](vcl::TComponent* s) { mViewTmrClick(s); };
    mViewSet->OnClick = [this](vcl::TComponent* s) { mViewSetClick(s); };
    lblSets->OnClick = [this](vcl::TComponent* s) { lblSetsClick(s); };
    lblSets->OnDblClick = lblSets->OnClick;
    // Underlined while the mouse is over it.
    lblSets->OnMouseEnter = [this](vcl::TComponent*) { lblSets->Font().SetStyle(vcl::fsUnderline); };
    lblSets->OnMouseLeave = [this](vcl::TComponent*) { lblSets->Font().SetStyle(0); };
    // The floating column loses the focus to whatever outside it takes it.
    RvGB->OnExit = [this](vcl::TComponent* s) { RvGBExit(s); };
    // (In layout 3 the transmit controls sit in the upper group.)
    for (vcl::TWinControl* outside : std::initializer_list<vcl::TWinControl*>{
             lb1, TrBCB, Transb, BTrArrow, TmrEnCB, TmrEd, ttr1}) {
        vcl::TNotifyEvent previous = outside->OnEnter;
        outside->OnEnter = [this, previous](vcl::TComponent* s) {
            if (previous) previous(s);
            RvGBExit(s);
        };
    }
    // Alt+1 to Alt+5 are also the shortcuts of the pattern entries, which
    // the toolkit serves before the form sees the key (in the transmit box):
    // chosen that way, an entry sends as the form's key does.
    AltHeld = [] { return (vcl::KeyboardShiftState() & vcl::ssAlt) != 0; };
    vcl::TMenuItem* patterns[] = {N11, N9, N10, N12, alt51};
    for (int i = 0; i < 5; ++i) {
        vcl::TNotifyEvent chosen = patterns[i]->OnClick;
        patterns[i]->OnClick = [this, chosen, i](vcl::TComponent* s) {
            if (AltHeld && AltHeld()) {
                std::uint16_t key = static_cast<std::uint16_t>('1' + i);
                FormKeyDown(this, key, vcl::ssAlt);
            } else if (chosen) {
                chosen(s);
            }
        };
    }
    if (!pmLine->OnPopup) {
        vcl::TMenuItem* paste = Entry(*this, "mPaste");
        pmLine->OnPopup = [paste](vcl::TComponent*) { paste->SetEnabled(!vcl::Clipboard().AsText().empty()); };
    }

    // Help and about.
    mHelp->OnClick = [this](vcl::TComponent* s) { mHelpClick(s); };
    Entry(*this, "About1")->OnClick = [this](vcl::TComponent* s) { About1Click(s); };
}

}  // namespace terminal
