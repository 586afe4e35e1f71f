#include "platform/win/message_window.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

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

    bool event(QEvent* e) override {
        if (e->type() != MessageEventType()) return QObject::event(e);
        auto* m = static_cast<MessageEvent*>(e);
        Dispatch(m->msg, m->wParam, m->lParam);
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
            QObject::connect(timer.get(), &QTimer::timeout, this, [this, id] { Dispatch(WM_TIMER, id, 0); });
        }
        timer->start(static_cast<int>(ms));
        return id;
    }

    // The procedure may kill the timer whose tick it is handling, so the
    // timer object goes away only once control is back in the loop.
    bool StopTimer(std::uintptr_t id) {
        auto it = timers_.find(id);
        if (it == timers_.end()) return false;
        it->second->stop();
        it->second.release()->deleteLater();
        timers_.erase(it);
        return true;
    }

    const std::string& Text() const { return text_; }

private:
    HWND handle_;
    WndProc proc_;
    std::string text_;
    std::map<std::uintptr_t, std::unique_ptr<QTimer>> timers_;
    int depth_ = 0;
    bool dead_ = false;
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

}  // namespace

HWND AllocateHWnd(WndProc proc, const std::string& windowText) {
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
    window->Destroy();
}

bool PostMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto& t = Table();
    std::lock_guard guard(t.lock);
    auto it = t.windows.find(wnd);
    if (it == t.windows.end()) return false;
    QCoreApplication::postEvent(it->second, new MessageEvent(msg, wParam, lParam));
    return true;
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
    MessageWindow* window = Find(wnd);
    return window ? window->StartTimer(id, elapseMs) : 0;
}

bool KillTimer(HWND wnd, std::uintptr_t id) {
    MessageWindow* window = Find(wnd);
    return window && window->StopTimer(id);
}

void ProcessMessages() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

void Sleep(UINT ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace win
