#pragma once
// A window timer: raises OnTimer every Interval ms while Enabled. An
// interval of 0, or no OnTimer handler, keeps it stopped. Its ticks are
// window-timer messages of a hidden window of its own, so they wait while
// input, painting or other messages are pending.
#include "platform/vcl/controls.h"
#include "platform/win/message_window.h"

namespace vcl {

class TTimer : public TComponent {
public:
    explicit TTimer(TComponent* owner);
    ~TTimer() override;

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    int Interval() const { return interval_; }
    void SetInterval(int ms);
    void SetOnTimer(TNotifyEvent handler);
    const TNotifyEvent& OnTimer() const { return on_timer_; }
    // True while the timer is really counting.
    bool Running() const;
    // Takes back a tick that has come due and not been raised yet; the
    // timer goes on with its next one. True when there was one.
    bool DiscardDueTick();

private:
    void Update();
    win::HWND window_ = 0;
    bool running_ = false;
    bool enabled_ = true;
    int interval_ = 1000;
    TNotifyEvent on_timer_;
    win::LoopEntryState tickFailed_;
};

}  // namespace vcl
