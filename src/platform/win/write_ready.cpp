#include "platform/win/write_ready.h"

#include <QTimer>
#include <algorithm>
#include <climits>
#include <utility>

#include "platform/win/guarded_notifier.h"

namespace win {

struct TWriteReadyWatch::TImpl {
    std::function<void()> ready;
    std::unique_ptr<QSocketNotifier> notifier;
    QTimer clock;
    bool armed = false;

    void Fire() {
        if (!armed) return;
        Stop();
        ready();
    }
    void Stop() {
        armed = false;
        notifier->setEnabled(false);
        clock.stop();
    }
};

TWriteReadyWatch::TWriteReadyWatch(int Fd, std::function<void()> Ready) : impl_(std::make_unique<TImpl>()) {
    TImpl& impl = *impl_;
    impl.ready = std::move(Ready);
    impl.notifier = MakeGuardedNotifier(Fd, QSocketNotifier::Write, [&impl] { impl.Fire(); });
    impl.notifier->setEnabled(false);
    impl.clock.setSingleShot(true);
    // A precise timer: the writer's limit is judged by it, and a coarse one
    // may come late by a twentieth of its interval.
    impl.clock.setTimerType(Qt::PreciseTimer);
    QObject::connect(&impl.clock, &QTimer::timeout, &impl.clock,
                     [&impl, failed = LoopEntryState{}]() mutable { RunLoopEntry(failed, [&impl] { impl.Fire(); }); });
}

TWriteReadyWatch::~TWriteReadyWatch() = default;

void TWriteReadyWatch::Arm(std::chrono::milliseconds Within) {
    impl_->armed = true;
    impl_->notifier->setEnabled(true);
    impl_->clock.start(static_cast<int>(std::clamp<long long>(Within.count(), 0, INT_MAX)));
}

void TWriteReadyWatch::Disarm() { impl_->Stop(); }

bool TWriteReadyWatch::Armed() const { return impl_->armed; }

}  // namespace win
