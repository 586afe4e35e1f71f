#include "platform/vcl/forms.h"

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QGuiApplication>
#include <QPointer>
#include <qguiapplication_platform.h>
#include <xcb/xcb.h>
#include <QCloseEvent>
#include <QEventLoop>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMessageBox>
#include <QProxyStyle>
#include <QScreen>
#include <climits>
#include <QTimer>
#include <QToolTip>
#include <QWidget>
#include <QWindowStateChangeEvent>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/failure_trace.h"
#include "platform/rtl/file_writes.h"
#include "platform/win/message_window.h"
#include "platform/vcl/keys.h"
#include "platform/vcl/qt_bridge.h"
#include "platform/vcl/std_ctrls.h"

namespace vcl {

void MuteEvents(bool mute);  // controls.cpp

TApplication* Application = nullptr;

namespace {

class TFormWidget : public QWidget {
public:
    explicit TFormWidget(TForm* form) : QWidget(nullptr, Qt::Window), form_(form) {}

protected:
    void closeEvent(QCloseEvent* e) override {
        // The form decides; a refused close leaves the window as it is.
        e->ignore();
        if (!EventsMuted()) form_->Close();
    }

public:
    TForm* Form() const { return form_; }

private:
    TForm* form_;
};

// Sees every key of the application first, for forms with key preview.
class TKeyPreviewFilter : public QObject {
public:
    TKeyPreviewFilter(TForm* form, QWidget* window) : form_(form), window_(window) {}
    bool eventFilter(QObject* obj, QEvent* e) override {
        if (e->type() != QEvent::KeyPress || !obj->isWidgetType() || !form_->KeyPreview())
            return false;
        auto* w = static_cast<QWidget*>(obj);
        if (w->window() != window_) return false;
        auto* ke = static_cast<QKeyEvent*>(e);
        // A key that a child ignored travels on to its parents: handle it once.
        if (ke == last_ && ke->timestamp() == last_stamp_) return false;
        last_ = ke;
        last_stamp_ = ke->timestamp();
        std::uint16_t key = VirtualKey(ke->key());
        if (!key) return false;
        return form_->PreviewKey(key, ShiftFromModifiers(ke->modifiers()));
    }

private:
    TForm* form_;
    QWidget* window_;
    const QKeyEvent* last_ = nullptr;
    quint64 last_stamp_ = 0;
};

}  // namespace

TForm::TForm(TComponent* owner) : TWinControl(owner, new TFormWidget(this)) {
    SetVisible(false);
    SetBounds(200, 150, 640, 480);
    key_filter_ = std::make_unique<TKeyPreviewFilter>(this, Widget());
    qApp->installEventFilter(key_filter_.get());
}

TForm::~TForm() {
    DestroyComponents();
    qApp->removeEventFilter(key_filter_.get());
    if (Application && Application->MainForm() == this) Application->SetMainForm(nullptr);
}

void TForm::DestroyComponents() {
    MuteEvents(true);
    while (ComponentCount() > 0) Free(Components(ComponentCount() - 1));
    MuteEvents(false);
}

bool TForm::PreviewKey(std::uint16_t& key, TShiftState shift) {
    if (!OnKeyDown) return false;
    Fire(OnKeyDown, this, key, shift);
    return key == 0;
}

void TForm::SetCaption(const std::string& caption) {
    caption_ = caption;
    if (Widget()) Widget()->setWindowTitle(ToQShown(caption));
}

void TForm::ApplyFlags() {
    QWidget* w = Widget();
    if (!w) return;
    Qt::WindowFlags f = Qt::Window;
    if (border_style_ == TFormBorderStyle::bsNone) f |= Qt::FramelessWindowHint | Qt::Tool;
    // A window that must never take activation is a tip window: the window
    // systems (and the offscreen platform) leave the active window alone
    // when one is shown.
    if (no_activate_) f = Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus;
    if (form_style_ == TFormStyle::fsStayOnTop) f |= Qt::WindowStaysOnTopHint;
    if (w->windowFlags() == f) return;
    bool shown = w->isVisible();
    w->setWindowFlags(f);
    if (shown) w->show();
}

void TForm::SetFormStyle(TFormStyle style) {
    form_style_ = style;
    ApplyFlags();
}

void TForm::SetBorderStyle(TFormBorderStyle style) {
    border_style_ = style;
    ApplyFlags();
}

TWindowState TForm::WindowState() const {
    if (!Widget()) return TWindowState::wsNormal;
    if (Widget()->isMinimized()) return TWindowState::wsMinimized;
    if (Widget()->isMaximized()) return TWindowState::wsMaximized;
    return TWindowState::wsNormal;
}

void TForm::SetWindowState(TWindowState state) {
    QWidget* w = Widget();
    if (!w) return;
    switch (state) {
        case TWindowState::wsMinimized: w->setWindowState(Qt::WindowMinimized); break;
        case TWindowState::wsMaximized: w->setWindowState(Qt::WindowMaximized); break;
        default: w->setWindowState(Qt::WindowNoState); break;
    }
}

void TForm::SetMinSize(int width, int height) {
    if (Widget()) Widget()->setMinimumSize(std::max(0, width), std::max(0, height));
}

void TForm::SetClientSize(int width, int height) { SetBounds(Left(), Top(), width, height); }

TRect TForm::NormalBounds() const {
    QWidget* w = Widget();
    if (!w) return BoundsRect();
    QRect r = (w->isMaximized() || w->isMinimized()) ? w->normalGeometry()
                                                     : QRect(w->pos(), w->size());
    if (!r.isValid()) r = QRect(w->pos(), w->size());
    return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}

void TForm::SetVisible(bool visible) {
    bool was = Widget() && Widget()->isVisible();
    TControl::SetVisible(visible);
    if (visible && !was) Fire(OnShow, this);
    if (!visible && was) Fire(OnHide, this);
}

void TForm::Close() {
    bool can_close = true;
    if (OnCloseQuery) {
        try {
            OnCloseQuery(this, can_close);
        } catch (...) {
            can_close = false;
            if (Application)
                Application->HandleException(std::current_exception());
            else
                rtl::TraceFailure(std::current_exception());
        }
    }
    if (!can_close) return;
    // A modal form closes by ending its loop, which hides it.
    if (modal_) {
        if (modal_result_ == mrNone) modal_result_ = mrCancel;
        return;
    }
    bool is_main = Application && Application->MainForm() == this;
    TCloseAction action = is_main ? TCloseAction::caFree : TCloseAction::caHide;
    Fire(OnClose, this, action);
    if (action == TCloseAction::caNone) return;
    if (action == TCloseAction::caMinimize) {
        SetWindowState(TWindowState::wsMinimized);
        return;
    }
    Hide();
    if (is_main)
        Application->Terminate();
    else if (action == TCloseAction::caFree)
        Release();
}

void TForm::Release() {
    if (!Widget()) return;
    QTimer::singleShot(0, Widget(), [this] { delete this; });
}

int TForm::ShowModal() {
    QWidget* w = Widget();
    if (!w || modal_) throw rtl::Exception("Cannot make a visible window modal");
    // Once the application is ending nobody is left to answer.
    if (Application && Application->Terminated()) return modal_result_ = mrCancel;
    modal_result_ = mrNone;
    modal_ = true;
    w->setWindowModality(Qt::ApplicationModal);
    struct TModalEnd {
        TForm* form;
        ~TModalEnd() {
            form->modal_ = false;
            if (QWidget* w = form->Widget()) {
                form->Hide();
                w->setWindowModality(Qt::NonModal);
            }
        }
    } end{this};
    Show();
    Activate();
    QEventLoop loop;
    while (modal_result_ == mrNone && Widget() && Widget()->isVisible() &&
           !(Application && Application->Terminated()))
        loop.processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    if (modal_result_ == mrNone) modal_result_ = mrCancel;  // hidden some other way
    return modal_result_;
}

namespace {

// The default button inside a control, if any is there to press.
TButton* DefaultButton(TWinControl* parent) {
    for (int i = 0; i < parent->ControlCount(); ++i) {
        TControl* c = parent->Controls(i);
        if (auto* b = dynamic_cast<TButton*>(c); b && b->Default() && b->Enabled() && b->Showing()) return b;
        if (auto* w = dynamic_cast<TWinControl*>(c))
            if (TButton* b = DefaultButton(w)) return b;
    }
    return nullptr;
}

}  // namespace

bool TForm::Active() const { return Widget() && Widget()->isActiveWindow(); }

void TForm::Activate() {
    if (!Widget()) return;
    Widget()->raise();
    Widget()->activateWindow();
}

void TForm::ShowNoActivate() {
    if (QWidget* w = Widget()) {
        no_activate_ = true;
        w->setAttribute(Qt::WA_ShowWithoutActivating, true);
        ApplyFlags();
    }
    SetVisible(true);
}

bool TForm::HandleEvent(QEvent* event) {
    switch (event->type()) {
        case QEvent::KeyPress: {
            // Enter that no control took presses the default button.
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                if (TButton* b = DefaultButton(this)) {
                    b->Click();
                    return true;
                }
            }
            // With key preview the form has seen the key already.
            if (key_preview_) return false;
            break;
        }
        case QEvent::ActivationChange:
            if (Widget() && Widget()->isActiveWindow())
                Fire(OnActivate, this);
            else
                Fire(OnDeactivate, this);
            break;
        case QEvent::WindowStateChange:
            if (Application && Application->MainForm() == this && Widget()) {
                auto* se = static_cast<QWindowStateChangeEvent*>(event);
                bool was_min = se->oldState() & Qt::WindowMinimized;
                bool is_min = Widget()->isMinimized();
                if (is_min && !was_min) Application->DoMinimize();
                if (!is_min && was_min) Application->DoRestore();
            }
            break;
        default:
            break;
    }
    return TWinControl::HandleEvent(event);
}

// ---------------------------------------------------------------------------

namespace {

// Watches the application as a whole: activation, locale changes, hints.
class TAppWatcher : public QObject {
public:
    explicit TAppWatcher(TApplication* app) : app_(app) {}
    std::vector<TApplicationEvents*>* events = nullptr;

    bool eventFilter(QObject* obj, QEvent* e) override {
        if (e->type() == QEvent::LocaleChange && obj == qApp) app_->DoSettingChange();
        if (e->type() == QEvent::ToolTip && obj->isWidgetType() && events) {
            auto* w = static_cast<QWidget*>(obj);
            if (w->toolTip().isEmpty()) return false;
            bool any = std::any_of(events->begin(), events->end(),
                                   [](TApplicationEvents* ev) { return bool(ev->OnShowHint); });
            if (!any) return false;
            auto* he = static_cast<QHelpEvent*>(e);
            const QVariant held = w->property(kHintProperty);
            std::string hint = held.isValid() ? held.toByteArray().toStdString() : FromQ(w->toolTip());
            bool can_show = true;
            THintInfo info;
            info.HintPos = {he->globalPos().x(), he->globalPos().y()};
            auto list = *events;
            for (TApplicationEvents* ev : list) Fire(ev->OnShowHint, hint, can_show, info);
            if (can_show)
                QToolTip::showText(QPoint(info.HintPos.X, info.HintPos.Y), ToQShown(hint), w, QRect(),
                                   info.HideTimeout);
            return true;
        }
        return false;
    }

private:
    TApplication* app_;
};

int g_argc = 1;
char g_arg0[] = "vostrel";
char* g_argv[] = {g_arg0, nullptr};

}  // namespace

namespace {

// A window behind a modal box takes no input, and the toolkit refuses the
// window manager's close requests to it too. The main form's close is
// never refused so: it ends the program, and no box (the program's, a
// plug-in's, a file dialog) may keep the program running when the user
// closes it. Its close request is handed to it from the loop, inside the
// box's; closing it ends that loop too (TApplication::Terminate).
class TCloseRequestFilter : public QAbstractNativeEventFilter {
public:
    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type != "xcb_generic_event_t" || !message) return false;
        const auto* ev = static_cast<const xcb_generic_event_t*>(message);
        if ((ev->response_type & 0x7f) != XCB_CLIENT_MESSAGE) return false;
        const auto* cm = static_cast<const xcb_client_message_event_t*>(message);
        if (cm->format != 32 || !QApplication::activeModalWidget() || !Atoms()) return false;
        if (cm->type != protocols_ || cm->data.data32[0] != delete_) return false;
        auto* window = dynamic_cast<TFormWidget*>(QWidget::find(static_cast<WId>(cm->window)));
        if (!window || !Application || window->Form() != Application->MainForm()) return false;
        QPointer<QWidget> alive(window);
        TForm* form = window->Form();
        QTimer::singleShot(0, window, [alive, form] {
            if (alive) form->Close();
        });
        return true;
    }

private:
    bool Atoms() {
        if (protocols_ != 0 && delete_ != 0) return true;
        auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
        xcb_connection_t* c = x11 ? x11->connection() : nullptr;
        if (!c) return false;
        protocols_ = Intern(c, "WM_PROTOCOLS");
        delete_ = Intern(c, "WM_DELETE_WINDOW");
        return protocols_ != 0 && delete_ != 0;
    }
    static xcb_atom_t Intern(xcb_connection_t* c, const char* name) {
        xcb_intern_atom_reply_t* r =
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
        const xcb_atom_t atom = r ? r->atom : 0;
        std::free(r);
        return atom;
    }
    xcb_atom_t protocols_ = 0;
    xcb_atom_t delete_ = 0;
};

}  // namespace

TApplication::TApplication() : TComponent(nullptr) {
    if (!QCoreApplication::instance()) {
        qt_app_ = std::make_unique<QApplication>(g_argc, g_argv);
    }
    QApplication::setQuitOnLastWindowClosed(false);
    auto watcher = std::make_unique<TAppWatcher>(this);
    watcher->events = &events_;
    watcher_ = std::move(watcher);
    qApp->installEventFilter(watcher_.get());
    QObject::connect(qApp, &QGuiApplication::applicationStateChanged, watcher_.get(),
                     [this](Qt::ApplicationState s) { DoActivate(s == Qt::ApplicationActive); });
    close_filter_ = std::make_unique<TCloseRequestFilter>();
    qApp->installNativeEventFilter(close_filter_.get());
    Application = this;
    // What the platform layer's entries from the loop catch comes here.
    win::SetLoopErrorHandler([this](std::exception_ptr e, bool repeated) { HandleException(e, repeated); });
    write_turns_ = std::make_unique<rtl::TWriteWaitTurns>([this] { return WriteWaitTurn(); });
}

TApplication::~TApplication() {
    // The forms go first, while the toolkit still runs.
    MuteEvents(true);
    while (ComponentCount() > 0) Free(Components(ComponentCount() - 1));
    MuteEvents(false);
    write_turns_.reset();
    qApp->removeEventFilter(watcher_.get());
    watcher_.reset();
    qApp->removeNativeEventFilter(close_filter_.get());
    close_filter_.reset();
    if (Application == this) {
        Application = nullptr;
        win::SetLoopErrorHandler(nullptr);
    }
}

void TApplication::Notification(TComponent* component, TOperation operation) {
    TComponent::Notification(component, operation);
    if (operation == TOperation::opRemove && component == main_form_) main_form_ = nullptr;
}

namespace {
// Lets the application decide how long the mouse rests before a hint shows.
class THintPauseStyle : public QProxyStyle {
public:
    explicit THintPauseStyle(const int* pause) : pause_(pause) {}
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* ret) const override {
        if (hint == QStyle::SH_ToolTip_WakeUpDelay) return *pause_;
        return QProxyStyle::styleHint(hint, option, widget, ret);
    }

private:
    const int* pause_;
};
}  // namespace

void TApplication::SetHintPause(int ms) {
    hint_pause_ = ms;
    if (!hint_style_) {
        hint_style_ = true;
        QApplication::setStyle(new THintPauseStyle(&hint_pause_));
    }
}

void TApplication::ActivateHint(const TPoint& ScreenPos, TControl* Control) {
    if (!Control || !Control->Widget()) return;
    if (Control->Hint().empty()) {
        CancelHint();
        return;
    }
    shown_hint_ = Control->Hint();
    QToolTip::showText(QPoint(ScreenPos.X, ScreenPos.Y), ToQShown(shown_hint_), Control->Widget(), QRect(),
                       hint_hide_pause_);
}

void TApplication::CancelHint() {
    shown_hint_.clear();
    QToolTip::hideText();
}

std::string TApplication::ShownHint() const { return QToolTip::isVisible() ? shown_hint_ : std::string(); }

void TApplication::Run() {
    if (main_form_ && !terminated_) {
        main_form_->Show();
        // The main form starts active, also where no window manager hands
        // out the focus.
        main_form_->Activate();
    }
    if (terminated_) return;
    running_ = true;
    QApplication::exec();
    running_ = false;
}

void TApplication::Terminate() {
    terminated_ = true;
    // Not the toolkit's quit: that first asks every window to close, and a
    // form decides its close itself (a refused or hidden one makes the
    // toolkit give the quit up), so a second notice or the graph window
    // would keep the program running with no window to close it by. Exit
    // ends the loop and every loop nested in it, as they are. Outside Run
    // (a test driving forms) there is no loop to end.
    if (running_) QCoreApplication::exit(0);
}

void TApplication::ProcessMessages() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

bool TApplication::WriteWaitTurn() {
    // The windows have gone: the write only waits for its reader.
    if (finishing_writes_ && !terminated_) return true;
    if (!terminated_ && !write_stopped_) {
        ++write_waiting_;
        struct Leave {
            int& depth;
            ~Leave() { --depth; }
        } leave{write_waiting_};
        win::ProcessWindowMessages();
        if (OnWriteWaitTurn) OnWriteWaitTurn();
    }
    if (terminated_) return false;
    if (!write_stopped_) return true;
    // A write that waits inside the turn of another gives up too; the stop
    // is over once the outermost has.
    if (write_waiting_ == 0) write_stopped_ = false;
    return false;
}

void TApplication::StopWaitingWrite() {
    if (write_waiting_ > 0) write_stopped_ = true;
}

void TApplication::FinishWaitingWrites() {
    finishing_writes_ = true;
    CloseModalBoxes();
    for (int i = 0; i < ComponentCount(); ++i)
        if (auto* form = dynamic_cast<TForm*>(Components(i))) form->Hide();
}

bool TApplication::Active() const {
    return QGuiApplication::applicationState() == Qt::ApplicationActive;
}

void TApplication::Minimize() {
    if (main_form_) main_form_->SetWindowState(TWindowState::wsMinimized);
}

void TApplication::Restore() {
    if (main_form_) main_form_->SetWindowState(TWindowState::wsNormal);
}

namespace {
std::string ExceptionText(const std::exception& error) {
    if (dynamic_cast<const std::bad_alloc*>(&error)) return rtl::ExceptionMessage(error);
    // A message that does not end in punctuation gets a full stop, so every
    // error box reads as a sentence.
    std::string text = error.what();
    if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') text += '.';
    return text;
}
}  // namespace

void TApplication::HandleException(std::exception_ptr error, bool Repeated) {
    try {
        std::rethrow_exception(error);
    } catch (const rtl::EAbort&) {
        // Silent by design.
    } catch (const std::exception& e) {
        ReportError(ExceptionText(e), Repeated);
    } catch (...) {
        ReportError("Unknown error", Repeated);
    }
}

void TApplication::ShowException(const std::exception& error) { ReportError(ExceptionText(error), false); }

void TApplication::ReportError(const std::string& text, bool repeated) {
    // Nothing leaves here: the caller is already handling a failure, often
    // on its way back to the event loop. What cannot be shown goes to
    // standard error instead of vanishing. Once the loop is ending nobody
    // is there to answer a box.
    if (terminated_ || finishing_writes_) {
        rtl::TraceFailure(std::string_view(text));
        return;
    }
    if (error_box_open_ || (repeated && OnErrorLine)) {
        try {
            if (OnErrorLine)
                OnErrorLine(text);
            else if (text != error_box_text_ &&
                     std::find(waiting_errors_.begin(), waiting_errors_.end(), text) == waiting_errors_.end())
                waiting_errors_.push_back(text);
        } catch (...) {
            rtl::TraceFailure(std::string_view(text));
        }
        return;
    }
    error_box_open_ = true;
    ShowErrorBox(text);
    // What came while a box was open, in its order, one box each.
    while (!waiting_errors_.empty()) {
        std::string next = std::move(waiting_errors_.front());
        waiting_errors_.erase(waiting_errors_.begin());
        ShowErrorBox(next);
    }
    error_box_open_ = false;
}

void TApplication::ShowErrorBox(const std::string& text) noexcept {
    try {
        error_box_text_ = text;
        MessageBox(text, Title, MB_OK | MB_ICONERROR);
    } catch (...) {
        rtl::TraceFailure(std::string_view(text));
    }
    error_box_text_.clear();
}

int TApplication::MessageBox(const std::string& text, const std::string& caption, unsigned flags) {
    if (MessageHook) return MessageHook({caption, text, flags});
    // The application is ending: nobody is left to answer.
    if (terminated_) return IDCANCEL;
    QMessageBox box;
    box.setWindowTitle(ToQShown(caption));
    box.setText(ToQShown(text));
    switch (flags & 0xF0) {
        case MB_ICONERROR: box.setIcon(QMessageBox::Critical); break;
        case MB_ICONQUESTION: box.setIcon(QMessageBox::Question); break;
        case MB_ICONWARNING: box.setIcon(QMessageBox::Warning); break;
        case MB_ICONINFORMATION: box.setIcon(QMessageBox::Information); break;
        default: break;
    }
    switch (flags & 0xF) {
        case MB_OKCANCEL: box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
        case MB_YESNOCANCEL:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
            break;
        case MB_YESNO: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
        case MB_ABORTRETRYIGNORE:
            box.setStandardButtons(QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore);
            break;
        case MB_RETRYCANCEL: box.setStandardButtons(QMessageBox::Retry | QMessageBox::Cancel); break;
        default: box.setStandardButtons(QMessageBox::Ok); break;
    }
    open_boxes_.push_back(&box);
    struct Open {
        std::vector<QWidget*>& boxes;
        QWidget* box;
        ~Open() { boxes.erase(std::remove(boxes.begin(), boxes.end(), box), boxes.end()); }
    } open{open_boxes_, &box};
    switch (box.exec()) {
        case QMessageBox::Ok: return IDOK;
        case QMessageBox::Yes: return IDYES;
        case QMessageBox::No: return IDNO;
        case QMessageBox::Abort: return IDABORT;
        case QMessageBox::Retry: return IDRETRY;
        case QMessageBox::Ignore: return IDIGNORE;
        default: return IDCANCEL;
    }
}

void TApplication::CloseModalBoxes() {
    for (auto it = open_boxes_.rbegin(); it != open_boxes_.rend(); ++it)
        if (auto* box = dynamic_cast<QMessageBox*>(*it)) box->done(QMessageBox::Cancel);
}

void TApplication::DoActivate(bool active) {
    auto list = events_;
    for (TApplicationEvents* ev : list) Fire(active ? ev->OnActivate : ev->OnDeactivate, ev);
}

void TApplication::DoMinimize() {
    auto list = events_;
    for (TApplicationEvents* ev : list) Fire(ev->OnMinimize, ev);
}

void TApplication::DoRestore() {
    auto list = events_;
    for (TApplicationEvents* ev : list) Fire(ev->OnRestore, ev);
}

void TApplication::DoSettingChange() {
    auto list = events_;
    for (TApplicationEvents* ev : list) Fire(ev->OnSettingChange, ev);
}

void TApplication::Register(TApplicationEvents* events) { events_.push_back(events); }

void TApplication::Unregister(TApplicationEvents* events) {
    events_.erase(std::remove(events_.begin(), events_.end(), events), events_.end());
}

TApplicationEvents::TApplicationEvents(TComponent* owner) : TComponent(owner) {
    if (Application) Application->Register(this);
}

TApplicationEvents::~TApplicationEvents() {
    if (Application) Application->Unregister(this);
}

void Beep() { QApplication::beep(); }

TApplication* EnsureApplication() {
    // Lives for the rest of the process, as the program's application does.
    if (!Application) new TApplication();
    return Application;
}

TRect ScreenRect() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return {};
    const QRect r = screen->geometry();
    return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}

TRect MonitorRect(const TPoint& ScreenPoint) {
    const QScreen* screen = QGuiApplication::screenAt(QPoint(ScreenPoint.X, ScreenPoint.Y));
    if (!screen) return ScreenRect();
    const QRect r = screen->geometry();
    return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}

std::vector<TRect> ScreenWorkAreas() {
    std::vector<TRect> areas;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect r = screen->availableGeometry();
        areas.push_back({r.left(), r.top(), r.left() + r.width(), r.top() + r.height()});
    }
    return areas;
}

TRect FitToWorkArea(const TRect& Window, const std::vector<TRect>& Areas, int MinWidth, int MinHeight) {
    if (Areas.empty()) return Window;
    // Coordinates from a settings file may be anything: work in 64 bits.
    using L = long long;
    auto overlap = [&](const TRect& a) {
        const L w = std::min<L>(Window.Right, a.Right) - std::max<L>(Window.Left, a.Left);
        const L h = std::min<L>(Window.Bottom, a.Bottom) - std::max<L>(Window.Top, a.Top);
        return w > 0 && h > 0 ? w * h : 0;
    };
    auto distance = [&](const TRect& a) {
        const L dx = std::max<L>({0, L{a.Left} - Window.Right, L{Window.Left} - a.Right});
        const L dy = std::max<L>({0, L{a.Top} - Window.Bottom, L{Window.Top} - a.Bottom});
        return dx * dx + dy * dy;
    };
    const TRect* best = &Areas.front();
    for (const TRect& a : Areas)
        if (overlap(a) > overlap(*best) || (overlap(*best) == 0 && distance(a) < distance(*best)))
            best = &a;
    const TRect& area = *best;
    const int width = std::clamp<L>(L{Window.Right} - Window.Left, std::min(MinWidth, area.Width()), area.Width());
    const int height =
        std::clamp<L>(L{Window.Bottom} - Window.Top, std::min(MinHeight, area.Height()), area.Height());
    int left = Window.Left, top = Window.Top;
    const TRect sized{left, top, static_cast<int>(std::min<L>(L{left} + width, INT_MAX)),
                      static_cast<int>(std::min<L>(L{top} + height, INT_MAX))};
    bool visible = false;
    for (const TRect& a : Areas) {
        const L w = std::min<L>(sized.Right, a.Right) - std::max<L>(sized.Left, a.Left);
        const L h = std::min<L>(sized.Bottom, a.Bottom) - std::max<L>(sized.Top, a.Top);
        // Enough of it to take hold of with the mouse.
        visible = visible || (w >= std::min(width, 50) && h >= std::min(height, 30));
    }
    if (!visible) {
        left = std::clamp(left, area.Left, area.Right - width);
        top = std::clamp(top, area.Top, area.Bottom - height);
    }
    return {left, top, left + width, top + height};
}

}  // namespace vcl
