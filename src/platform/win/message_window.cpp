#include "platform/win/message_window.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <deque>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

namespace win {
namespace {

QEvent::Type MessageEventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

class MessageEvent : public QEvent {
public:
    MessageEvent(UINT m, WPARAM w, LPARAM l) : QEvent(MessageEventType()), msg(m), wParam(w), lParam(l) {}
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
};

// ---- Timer messages
//
// A timer message is made only when the loop has nothing else to do, so a
// busy timer can never starve input, painting, the window manager or the
// other posted messages: WM_TIMER, whether a window timer is due or another
// thread posted it (a multimedia timer's tick), waits in a queue of its own
// and is handed out one at a time, each after everything else that waits.
// One waiting tick per window and wParam stands for any number of them, so
// ticks never pile up while the loop is busy; a tick that comes while its
// window handles the last one waits for the next turn. The waiting ticks take
// turns in the order they came, so a slow timer cannot keep another from
// ticking.
struct TimerMessage {
    HWND wnd;
    WPARAM wParam;
    LPARAM lParam;
    bool windowTimer;  // made by SetTimer (KillTimer takes it back)
};

// Below every priority Qt uses, painting included.
constexpr int kTimerPriority = std::numeric_limits<int>::min();

QEvent::Type TimerTurnEventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

class TimerTurn;

// Shared with the posting threads, hence the lock.
struct TimerQueue {
    std::mutex lock;
    std::deque<TimerMessage> waiting;
    TimerTurn* turn = nullptr;  // lives on the GUI thread while the application does
    bool scheduled = false;     // a turn event is queued

    // Both called with the lock held.
    void Schedule();
    bool Holds(HWND wnd, WPARAM wParam, bool windowTimer) const {
        return std::any_of(waiting.begin(), waiting.end(), [&](const TimerMessage& m) {
            return m.wnd == wnd && m.wParam == wParam && m.windowTimer == windowTimer;
        });
    }
};

TimerQueue& Timers() {
    static TimerQueue queue;
    return queue;
}

void DispatchTimerMessage(const TimerMessage& m);

// While ProcessInputMessages runs, posted messages wait here and timer
// messages in their queue. GUI thread only.
struct HeldMessage {
    HWND wnd;
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
};
struct Holding {
    int depth = 0;
    std::vector<HeldMessage> posted;
};

Holding& Held() {
    static Holding held;
    return held;
}

// A procedure that runs a loop of its own (a plug-in's wait, a box) must
// get the messages that were queued behind the one it handles: the toolkit's
// loop hands out queued messages only after it has been woken since the
// current one began.
void WakeNestedLoops() {
    if (QAbstractEventDispatcher* d = QAbstractEventDispatcher::instance()) d->wakeUp();
}

// Hands out the waiting timer messages, one per turn.
class TimerTurn : public QObject {
public:
    explicit TimerTurn(QObject* parent) : QObject(parent) {}
    ~TimerTurn() override {
        auto& q = Timers();
        std::lock_guard guard(q.lock);
        q.turn = nullptr;
        q.scheduled = false;
    }

    bool event(QEvent* e) override {
        if (e->type() != TimerTurnEventType()) return QObject::event(e);
        TimerMessage m{};
        bool taken = false;
        RunLoopEntry(failed_, [&] {
            auto& q = Timers();
            std::lock_guard guard(q.lock);
            q.scheduled = false;
            // Held: the messages wait; the hold's end schedules a turn again.
            if (Held().depth > 0 || q.waiting.empty()) return;
            m = q.waiting.front();
            q.waiting.pop_front();
            taken = true;
            // The next turn is queued before this one runs, so a nested
            // loop inside the procedure goes on handing out ticks.
            if (!q.waiting.empty()) q.Schedule();
        });
        if (!taken) return true;
        WakeNestedLoops();
        DispatchTimerMessage(m);
        return true;
    }

private:
    LoopEntryState failed_;
};

void TimerQueue::Schedule() {
    if (scheduled || !turn) return;
    // Marked only once the turn is queued: a turn that cannot be queued (no
    // memory) is queued by the next timer message instead of every later
    // one waiting for a turn that never comes.
    QCoreApplication::postEvent(turn, new QEvent(TimerTurnEventType()), kTimerPriority);
    scheduled = true;
}

// Made on the GUI thread when the first window is, so that the turns are
// taken there; owned by the application object.
void EnsureTimerTurn() {
    auto& q = Timers();
    std::lock_guard guard(q.lock);
    if (q.turn || !QCoreApplication::instance()) return;
    q.turn = new TimerTurn(QCoreApplication::instance());
    if (!q.waiting.empty()) q.Schedule();
}

void QueueTimerMessage(const TimerMessage& m) {
    auto& q = Timers();
    std::lock_guard guard(q.lock);
    // One that waits already stands for this one; its turn is asked for
    // again all the same, in case asking failed when it came.
    if (!q.Holds(m.wnd, m.wParam, m.windowTimer)) q.waiting.push_back(m);
    q.Schedule();
}

// Takes back waiting ticks: of one window timer, or (id 0 and all) every one
// of the window. The number taken back.
std::size_t DropTimerMessages(HWND wnd, std::uintptr_t id, bool all) {
    auto& q = Timers();
    std::lock_guard guard(q.lock);
    return std::erase_if(q.waiting, [&](const TimerMessage& m) {
        return m.wnd == wnd && (all || (m.windowTimer && m.wParam == id));
    });
}

class MessageWindow : public QObject {
public:
    MessageWindow(HWND handle, WndProc proc, std::string text)
        : handle_(handle), proc_(std::move(proc)), text_(std::move(text)) {}

    LRESULT Dispatch(UINT msg, WPARAM wParam, LPARAM lParam) {
        if (dead_ || !proc_) return 0;
        ++depth_;
        struct Leave {
            int& depth;
            ~Leave() { --depth; }
        } leave{depth_};
        return proc_(handle_, msg, wParam, lParam);
    }

    // A message from the loop (posted, or a timer message): what the
    // procedure raises goes to the loop's error handler.
    void DispatchFromLoop(UINT msg, WPARAM wParam, LPARAM lParam) {
        RunLoopEntry(failed_, [&] { Dispatch(msg, wParam, lParam); });
    }

    bool event(QEvent* e) override {
        if (e->type() != MessageEventType()) return QObject::event(e);
        auto* m = static_cast<MessageEvent*>(e);
        WakeNestedLoops();
        if (Held().depth > 0)
            RunLoopEntry(failed_, [&] { Held().posted.push_back({handle_, m->msg, m->wParam, m->lParam}); });
        else
            DispatchFromLoop(m->msg, m->wParam, m->lParam);
        return true;
    }

    // Destroys now, or after the procedure that is running returns.
    void Destroy() {
        dead_ = true;
        while (!timers_.empty()) StopTimer(timers_.begin()->first);
        if (depth_ > 0)
            deleteLater();
        else
            delete this;
    }

    std::uintptr_t StartTimer(std::uintptr_t id, UINT ms) {
        auto& timer = timers_[id];
        if (!timer) {
            timer = std::make_unique<QTimer>();
            timer->setTimerType(Qt::PreciseTimer);
            QObject::connect(timer.get(), &QTimer::timeout, this, [this, id] {
                // A tick taken back while it was overdue never comes.
                RunLoopEntry(timerFailed_, [&] {
                    if (skipped_.erase(id) == 0) QueueTimerMessage({handle_, id, 0, true});
                });
            });
        }
        skipped_.erase(id);
        timer->start(static_cast<int>(ms));
        return id;
    }

    // The tick that has come due: waiting as a message, or overdue in the
    // timer itself (its timeout not yet run because the loop was busy).
    bool RemoveDueTick(std::uintptr_t id) {
        bool removed = DropTimerMessages(handle_, id, false) > 0;
        auto it = timers_.find(id);
        if (it != timers_.end() && it->second->isActive() && it->second->remainingTime() == 0)
            removed = skipped_.insert(id).second || removed;
        return removed;
    }

    // The procedure may kill the timer whose tick it is handling, so the
    // timer object goes away only once control is back in the loop.
    bool StopTimer(std::uintptr_t id) {
        auto it = timers_.find(id);
        if (it == timers_.end()) return false;
        it->second->stop();
        it->second.release()->deleteLater();
        timers_.erase(it);
        skipped_.erase(id);
        DropTimerMessages(handle_, id, false);
        return true;
    }

    const std::string& Text() const { return text_; }

private:
    HWND handle_;
    WndProc proc_;
    std::string text_;
    std::map<std::uintptr_t, std::unique_ptr<QTimer>> timers_;
    std::set<std::uintptr_t> skipped_;  // timers whose overdue tick was taken back
    int depth_ = 0;
    bool dead_ = false;
    LoopEntryState failed_;       // its procedure, for messages from the loop
    LoopEntryState timerFailed_;  // queueing its timers' ticks
};

// The handle table: written on the GUI thread, read by PostMessage from any
// thread, hence the lock. A window is removed from it before it is destroyed,
// so a poster holding the lock always posts to a live object; Qt drops the
// events still queued for an object when it is destroyed.
struct WindowTable {
    std::mutex lock;
    std::map<HWND, MessageWindow*> windows;
    HWND next = 0x10000;
};

WindowTable& Table() {
    static WindowTable table;
    return table;
}

MessageWindow* Find(HWND wnd) {
    auto& t = Table();
    std::lock_guard guard(t.lock);
    auto it = t.windows.find(wnd);
    return it == t.windows.end() ? nullptr : it->second;
}

void DispatchTimerMessage(const TimerMessage& m) {
    if (MessageWindow* window = Find(m.wnd)) window->DispatchFromLoop(WM_TIMER, m.wParam, m.lParam);
}

}  // namespace

HWND AllocateHWnd(WndProc proc, const std::string& windowText) {
    EnsureTimerTurn();
    auto& t = Table();
    std::lock_guard guard(t.lock);
    HWND handle = t.next;
    t.next += 4;
    t.windows[handle] = new MessageWindow(handle, std::move(proc), windowText);
    return handle;
}

void DeallocateHWnd(HWND wnd) {
    MessageWindow* window = nullptr;
    {
        auto& t = Table();
        std::lock_guard guard(t.lock);
        auto it = t.windows.find(wnd);
        if (it == t.windows.end()) return;
        window = it->second;
        t.windows.erase(it);
    }
    DropTimerMessages(wnd, 0, true);
    window->Destroy();
}

void PostMessageOrThrow(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto& t = Table();
    std::lock_guard guard(t.lock);
    auto it = t.windows.find(wnd);
    if (it == t.windows.end()) throw std::runtime_error("the window it goes to is gone");
    if (msg == WM_TIMER)
        QueueTimerMessage({wnd, wParam, lParam, false});
    else
        QCoreApplication::postEvent(it->second, new MessageEvent(msg, wParam, lParam));
}

bool PostMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    // Called from the timer thread and from the loop's own entries: a
    // message that cannot be queued is answered with false, as Win32 does,
    // not thrown; a caller that must not lose it checks the answer.
    try {
        PostMessageOrThrow(wnd, msg, wParam, lParam);
        return true;
    } catch (...) {
        return false;
    }
}

LRESULT SendMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    MessageWindow* window = Find(wnd);
    return window ? window->Dispatch(msg, wParam, lParam) : 0;
}

LRESULT DefWindowProc(HWND, UINT, WPARAM, LPARAM) { return 0; }

std::string GetWindowText(HWND wnd) {
    MessageWindow* window = Find(wnd);
    return window ? window->Text() : std::string();
}

std::uintptr_t SetTimer(HWND wnd, std::uintptr_t id, UINT elapseMs) {
    EnsureTimerTurn();
    MessageWindow* window = Find(wnd);
    return window ? window->StartTimer(id, elapseMs) : 0;
}

bool KillTimer(HWND wnd, std::uintptr_t id) {
    MessageWindow* window = Find(wnd);
    return window && window->StopTimer(id);
}

bool RemoveTimerMessage(HWND wnd, std::uintptr_t id) {
    MessageWindow* window = Find(wnd);
    return window && window->RemoveDueTick(id);
}

bool TimerMessageWaiting(HWND wnd) {
    auto& q = Timers();
    std::lock_guard guard(q.lock);
    return std::any_of(q.waiting.begin(), q.waiting.end(), [&](const TimerMessage& m) { return m.wnd == wnd; });
}

void ProcessMessages() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

namespace {

// Runs the loop's pending events once, with posted and timer messages held.
void ProcessHolding() {
    Holding& held = Held();
    ++held.depth;
    struct Release {
        Holding& held;
        ~Release() {
            if (--held.depth > 0) return;
            // What waited goes back into the queue in its order, behind what
            // came meanwhile; so do the timer turns.
            std::vector<HeldMessage> posted;
            posted.swap(held.posted);
            for (const HeldMessage& m : posted) PostMessage(m.wnd, m.msg, m.wParam, m.lParam);
            auto& q = Timers();
            std::lock_guard guard(q.lock);
            if (!q.waiting.empty()) q.Schedule();
        }
    } release{held};
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

// Drops the user's input while it is installed. The loop's own flag for
// leaving input out would hold back a close request as well (the toolkit
// counts it as input), so input is taken away here instead. A modal loop
// opened meanwhile (a box about an error) gets its input.
class TInputDropper : public QObject {
public:
    bool eventFilter(QObject*, QEvent* e) override {
        if (thread()->loopLevel() > loopLevel_) return false;
        switch (e->type()) {
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseButtonDblClick:
            case QEvent::MouseMove:
            case QEvent::NonClientAreaMouseButtonPress:
            case QEvent::NonClientAreaMouseButtonRelease:
            case QEvent::NonClientAreaMouseButtonDblClick:
            case QEvent::NonClientAreaMouseMove:
            case QEvent::Wheel:
            case QEvent::KeyPress:
            case QEvent::KeyRelease:
            case QEvent::ShortcutOverride:
            case QEvent::Shortcut:
            case QEvent::ContextMenu:
            case QEvent::InputMethod:
            case QEvent::TabletPress:
            case QEvent::TabletMove:
            case QEvent::TabletRelease:
            case QEvent::TouchBegin:
            case QEvent::TouchUpdate:
            case QEvent::TouchEnd:
            case QEvent::TouchCancel:
            case QEvent::DragEnter:
            case QEvent::DragMove:
            case QEvent::Drop:
                return true;
            default:
                return false;
        }
    }

private:
    int loopLevel_ = thread()->loopLevel();
};

}  // namespace

void ProcessInputMessages() { ProcessHolding(); }

void ProcessWindowMessages() {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return;
    TInputDropper dropper;
    app->installEventFilter(&dropper);
    struct Remove {
        QCoreApplication* app;
        TInputDropper& dropper;
        ~Remove() { app->removeEventFilter(&dropper); }
    } remove{app, dropper};
    ProcessHolding();
}

void Sleep(UINT ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace win
