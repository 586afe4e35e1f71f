#include "platform/vcl/timer.h"

#include <QTimer>

namespace vcl {

TTimer::TTimer(TComponent* owner) : TComponent(owner), timer_(std::make_unique<QTimer>()) {
    timer_->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer_.get(), &QTimer::timeout, timer_.get(), [this] { Fire(on_timer_, this); });
}

TTimer::~TTimer() = default;

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

bool TTimer::Running() const { return timer_->isActive(); }

void TTimer::Update() {
    // Changing anything restarts the count, as the original's timer does.
    timer_->stop();
    if (enabled_ && interval_ > 0 && on_timer_) timer_->start(interval_);
}

}  // namespace vcl
