#include "platform/vcl/timer.h"

namespace vcl {

namespace {
constexpr std::uintptr_t kTimerId = 1;
}

TTimer::TTimer(TComponent* owner)
    : TComponent(owner),
      window_(win::AllocateHWnd(
          [this](win::HWND, win::UINT msg, win::WPARAM, win::LPARAM) -> win::LRESULT {
              // The ticks keep a state of their own: a handler that fails
              // on every tick is told as a repeat, not as a new failure.
              if (msg == win::WM_TIMER && running_ && on_timer_ && !EventsMuted())
                  Guarded(tickFailed_, [this] { on_timer_(this); });
              return 0;
          },
          "TimerWindow")) {}

TTimer::~TTimer() { win::DeallocateHWnd(window_); }

void TTimer::SetEnabled(bool enabled) {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    Update();
}

void TTimer::SetInterval(int ms) {
    if (ms < 0) ms = 0;
    if (ms == interval_) return;
    interval_ = ms;
    Update();
}

void TTimer::SetOnTimer(TNotifyEvent handler) {
    on_timer_ = std::move(handler);
    Update();
}

bool TTimer::Running() const { return running_; }

bool TTimer::DiscardDueTick() { return running_ && win::RemoveTimerMessage(window_, kTimerId); }

void TTimer::Update() {
    // Changing anything restarts the count: a new interval or a re-enabled
    // timer waits a full interval before its first tick.
    win::KillTimer(window_, kTimerId);
    running_ = enabled_ && interval_ > 0 && on_timer_ &&
               win::SetTimer(window_, kTimerId, static_cast<win::UINT>(interval_)) != 0;
}

}  // namespace vcl
