#pragma once
// Forms, the application object and its events.
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/vcl/controls.h"

namespace rtl {
class TWriteWaitTurns;
}

class QAbstractNativeEventFilter;
class QApplication;
class QWidget;

namespace vcl {

enum class TCloseAction { caNone, caHide, caFree, caMinimize };
enum class TFormStyle { fsNormal, fsStayOnTop };
enum class TFormBorderStyle { bsSizeable, bsNone, bsDialog };
enum class TWindowState { wsNormal, wsMinimized, wsMaximized };

using TCloseEvent = std::function<void(TComponent* Sender, TCloseAction& Action)>;
using TCloseQueryEvent = std::function<void(TComponent* Sender, bool& CanClose)>;

// Results of a modal form or message.
enum : int { mrNone = 0, mrOk = 1, mrCancel = 2, mrAbort = 3, mrRetry = 4, mrIgnore = 5,
             mrYes = 6, mrNo = 7 };

class TForm : public TWinControl {
public:
    explicit TForm(TComponent* owner);
    ~TForm() override;

    const std::string& Caption() const { return caption_; }
    void SetCaption(const std::string& caption);
    TFormStyle FormStyle() const { return form_style_; }
    void SetFormStyle(TFormStyle style);
    TFormBorderStyle BorderStyle() const { return border_style_; }
    void SetBorderStyle(TFormBorderStyle style);
    bool KeyPreview() const { return key_preview_; }
    void SetKeyPreview(bool on) { key_preview_ = on; }
    TWindowState WindowState() const;
    void SetWindowState(TWindowState state);
    void SetClientSize(int width, int height);
    // The smallest size the user can give the window.
    void SetMinSize(int width, int height);
    // Placement of the window when it is not maximized or minimized.
    TRect NormalBounds() const;

    void SetVisible(bool visible) override;
    // Asks OnCloseQuery, raises OnClose and then hides (or frees) the form;
    // closing the main form ends the application's loop.
    void Close();
    // Frees the form once the current event has been handled.
    void Release();
    bool Active() const;
    // Brings the form to the front and gives it the focus.
    void Activate();
    // Shows the form without taking activation from the active window: a
    // tip over another window must leave the keyboard where it was. From
    // then on the form never takes the focus.
    void ShowNoActivate();
    bool NoActivate() const { return no_activate_; }

    // Shows the form and handles messages until its ModalResult is set (a
    // button with a modal result, or closing the window: mrCancel); then
    // hides it and answers the result. Other windows take no input
    // meanwhile.
    int ShowModal();
    int ModalResult() const { return modal_result_; }
    void SetModalResult(int result) { modal_result_ = result; }
    bool Modal() const { return modal_; }

    TNotifyEvent OnCreate;
    TNotifyEvent OnActivate;
    TNotifyEvent OnDeactivate;
    TNotifyEvent OnShow;
    TNotifyEvent OnHide;
    TCloseEvent OnClose;
    TCloseQueryEvent OnCloseQuery;

    // Used by the form's window for key preview: returns true to eat the key.
    bool PreviewKey(std::uint16_t& key, TShiftState shift);

protected:
    // Frees the form's components with events muted; a form class whose
    // handlers use its own members calls it first in its destructor.
    void DestroyComponents();
    bool HandleEvent(QEvent* event) override;

private:
    void ApplyFlags();
    std::string caption_;
    TFormStyle form_style_ = TFormStyle::fsNormal;
    TFormBorderStyle border_style_ = TFormBorderStyle::bsSizeable;
    bool key_preview_ = false;
    bool no_activate_ = false;
    bool modal_ = false;
    int modal_result_ = 0;
    std::unique_ptr<QObject> key_filter_;
};

enum TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };
enum TMsgDlgBtn : unsigned {
    mbYes = 1, mbNo = 2, mbOK = 4, mbCancel = 8, mbAbort = 16, mbRetry = 32, mbIgnore = 64,
};
using TMsgDlgButtons = unsigned;

// Message box flags and answers: these values are fixed, because stored
// files and plug-ins use them.
enum : unsigned {
    MB_OK = 0x0, MB_OKCANCEL = 0x1, MB_ABORTRETRYIGNORE = 0x2, MB_YESNOCANCEL = 0x3, MB_YESNO = 0x4,
    MB_RETRYCANCEL = 0x5,
    MB_ICONERROR = 0x10, MB_ICONQUESTION = 0x20, MB_ICONWARNING = 0x30, MB_ICONINFORMATION = 0x40,
};
enum : int { IDOK = 1, IDCANCEL = 2, IDABORT = 3, IDRETRY = 4, IDIGNORE = 5, IDYES = 6, IDNO = 7 };

// What a modal message asked; a test answers it through the application's
// MessageHook instead of a modal loop.
struct TMessageRequest {
    std::string Caption;
    std::string Text;
    unsigned Flags = 0;  // MB_* flags
};

class TCommonDialog;
class TApplicationEvents;

class TApplication : public TComponent {
public:
    // Creates the toolkit application (once per process) and the object.
    TApplication();
    ~TApplication() override;

    std::string Title;
    std::string HelpFile;
    int HintPause() const { return hint_pause_; }
    void SetHintPause(int ms);
    // How long a hint stays shown, in ms.
    int HintHidePause() const { return hint_hide_pause_; }
    void SetHintHidePause(int ms) { hint_hide_pause_ = ms < 0 ? 0 : ms; }
    // Shows the control's hint now at the screen point (hidden again after
    // HintHidePause); CancelHint takes a shown hint away.
    void ActivateHint(const TPoint& ScreenPos, TControl* Control);
    void CancelHint();
    // The text of the hint shown now; empty when none shows.
    std::string ShownHint() const;

    // Creates a form owned by the application; the first becomes the main form.
    template <class T>
    T* CreateForm() {
        T* form = new T(this);
        if (!main_form_) main_form_ = form;
        return form;
    }
    TForm* MainForm() const { return main_form_; }
    void SetMainForm(TForm* form) { main_form_ = form; }

    // Runs the loop until Terminate (the main form closing calls it).
    void Run();
    // Ends the loop, and every loop nested in it (a box's, a dialog's),
    // whatever windows are still open: a window that stays (the graph
    // window, a notice, a box) never keeps the program running. From then
    // on no box, dialog or modal form opens: each answers as if cancelled
    // at once, as nobody is left to answer it.
    void Terminate();
    bool Terminated() const { return terminated_; }
    void ProcessMessages();

    // While a write waits for a pipe or a device to take more (a save onto
    // a FIFO), the windows keep answering: painting, the window manager's
    // pings and close requests are handled between slices of the wait; the
    // user's input is dropped and the program's own messages and timers
    // wait (nothing may change what is being saved). Whether such a wait
    // runs the loop now.
    bool WriteWaiting() const { return write_waiting_ > 0; }
    // Runs at each turn of such a wait. The program's own timers wait
    // meanwhile: a watchdog they renew learns here that the loop turns.
    std::function<void()> OnWriteWaitTurn;
    // Gives the waiting write up at its next turn (a close that must not
    // wait for a reader): a save then ends with a silent rtl::EAbort.
    void StopWaitingWrite();
    // The program closes while a write waits (a save onto a FIFO): every
    // window goes now, and the write carries on without turns (nothing else
    // runs meanwhile) until its reader has taken all, or has taken nothing
    // for the stall limit, as output files are finished once the window
    // has gone. From then on errors go to standard error: no window is
    // left to show them.
    void FinishWaitingWrites();
    bool FinishingWrites() const { return finishing_writes_; }
    // The close that waited for them goes on: what follows is its own.
    void WritesFinished() { finishing_writes_ = false; }
    bool Active() const;
    void Minimize();
    void Restore();

    // The default exception handler: shows the message in a message box
    // captioned with the title ("Out of memory" for a failed allocation); a
    // silent abort shows nothing. At most one such box is open at a time:
    // an error raised while it is open, or one the event loop reports as
    // Repeated (the same entry failed again right after its box), goes to
    // OnErrorLine instead when it is set. Without OnErrorLine, an error
    // raised while the box is open waits and gets a box of its own once
    // that one closes (the same text only once). What cannot be shown at
    // all goes to standard error. Never throws. Entries from the event loop
    // in the platform layer report here too.
    void HandleException(std::exception_ptr error, bool Repeated = false);
    void ShowException(const std::exception& error);
    // Where errors go that would have opened a second box (the main window
    // writes them to its receive panel); without it they wait for the open
    // box to close and are shown in a box otherwise.
    std::function<void(const std::string& Text)> OnErrorLine;
    int MessageBox(const std::string& text, const std::string& caption, unsigned flags);
    // Ends every message box that is open (each answers Cancel), innermost
    // first: for a close that cannot wait for the user.
    void CloseModalBoxes();
    // Message boxes open now.
    int OpenBoxes() const { return static_cast<int>(open_boxes_.size()); }

    // Test seams: when set, modal messages and common dialogs are answered
    // by these instead of a modal loop.
    std::function<int(const TMessageRequest&)> MessageHook;
    std::function<bool(TCommonDialog&)> DialogHook;
    std::function<bool(const std::string& caption, const std::string& prompt, std::string& value)>
        InputHook;

    // Raised by the toolkit; handed to every TApplicationEvents.
    void DoActivate(bool active);
    void DoMinimize();
    void DoRestore();
    void DoSettingChange();
    void Register(TApplicationEvents* events);
    void Unregister(TApplicationEvents* events);

private:
    std::unique_ptr<QApplication> qt_app_;
    TForm* main_form_ = nullptr;
    bool terminated_ = false;
    bool running_ = false;  // Run's loop is on
    int hint_pause_ = 500;
    int hint_hide_pause_ = 2500;
    std::string shown_hint_;
    bool hint_style_ = false;
    bool error_box_open_ = false;
    std::string error_box_text_;              // the text of the open box
    std::vector<std::string> waiting_errors_;  // raised while it was open
    // Shows an error's text in a box, or as a line (see HandleException).
    void ReportError(const std::string& text, bool repeated);
    // One error box; a box that cannot be shown leaves the text on standard
    // error.
    void ShowErrorBox(const std::string& text) noexcept;
    std::vector<TApplicationEvents*> events_;
    std::unique_ptr<QObject> watcher_;
    std::vector<QWidget*> open_boxes_;
    std::unique_ptr<QAbstractNativeEventFilter> close_filter_;
    // The turn of waiting writes (see WriteWaiting).
    bool WriteWaitTurn();
    std::unique_ptr<rtl::TWriteWaitTurns> write_turns_;
    int write_waiting_ = 0;
    bool write_stopped_ = false;
    bool finishing_writes_ = false;

protected:
    void Notification(TComponent* component, TOperation operation) override;
};

// The global application object (created by the program entry or a test).
extern TApplication* Application;

// Hint shown by the application: the text may be changed by OnShowHint.
struct THintInfo {
    TControl* HintControl = nullptr;
    TPoint HintPos;
    int HideTimeout = 2500;
};
using TShowHintEvent =
    std::function<void(std::string& HintStr, bool& CanShow, THintInfo& HintInfo)>;

class TApplicationEvents : public TComponent {
public:
    explicit TApplicationEvents(TComponent* owner);
    ~TApplicationEvents() override;

    TNotifyEvent OnActivate;
    TNotifyEvent OnDeactivate;
    TNotifyEvent OnMinimize;
    TNotifyEvent OnRestore;
    TNotifyEvent OnSettingChange;
    TShowHintEvent OnShowHint;
};

// The system's alert sound.
void Beep();

// Creates Application when it does not exist yet (used by tests).
TApplication* EnsureApplication();

// The rectangle of the primary screen in screen coordinates; empty when no
// screen is known.
TRect ScreenRect();
// The rectangle of the screen that holds the point (the primary screen
// when none does).
TRect MonitorRect(const TPoint& ScreenPoint);
// The work area (the screen less its panels and docks) of every screen.
std::vector<TRect> ScreenWorkAreas();
// A window rectangle made to fit the work area nearest to it (the one it
// overlaps most, else the closest): no larger than that area, at least
// MinWidth by MinHeight where the area allows, and moved onto it when no
// part of it large enough to take hold of would be on any screen. Without
// areas the rectangle is kept.
TRect FitToWorkArea(const TRect& Window, const std::vector<TRect>& Areas, int MinWidth, int MinHeight);

}  // namespace vcl
