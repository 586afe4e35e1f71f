#include "platform/win/timers.h"

#include <time.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/win/loop_entry.h"

namespace win {
namespace {

constexpr std::uint32_t kPeriodMin = 1;
constexpr std::uint32_t kPeriodMax = 1000000;

std::int64_t MonotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// One multimedia timer: a thread that sleeps to the next due time and calls
// the callback. Due times advance by the period; when the thread falls
// behind by more than a period it skips ahead instead of firing a burst.
class MultimediaTimer {
public:
    MultimediaTimer(MMRESULT id, std::uint32_t delay, LPTIMECALLBACK callback, DWORD_PTR user, bool periodic)
        : id_(id), delay_(delay), callback_(callback), user_(user), periodic_(periodic) {
        thread_ = std::thread([this] { Run(); });
    }

    ~MultimediaTimer() {
        {
            std::lock_guard guard(lock_);
            stop_ = true;
        }
        wake_.notify_all();
        if (thread_.get_id() == std::this_thread::get_id())
            thread_.detach();  // killed from its own callback: Run returns right after it
        else
            thread_.join();
    }

    bool OnTimerThread() const { return thread_.get_id() == std::this_thread::get_id(); }
    std::shared_ptr<bool> StopFlag() const { return stopped_; }

private:
    void Run() {
        using clock = std::chrono::steady_clock;
        const auto period = std::chrono::milliseconds(delay_);
        auto due = clock::now() + period;
        // Kept alive by this thread even when the object goes away under a
        // self-kill from the callback.
        std::shared_ptr<bool> stopped = stopped_;
        std::shared_ptr<LoopEntryState> failed = failed_;
        std::unique_lock guard(lock_);
        for (;;) {
            wake_.wait_until(guard, due, [this] { return stop_; });
            if (stop_) return;
            guard.unlock();
            // Nothing may leave this thread: a callback that fails loses
            // its tick, and what it raised goes to the error handler on the
            // GUI thread, as a failing entry from the loop would.
            try {
                callback_(id_, 0, user_, 0, 0);
            } catch (...) {
                ReportLoopFailureLater(failed, std::current_exception());
            }
            if (*stopped) return;
            guard.lock();
            if (stop_ || !periodic_) return;
            due += period;
            auto now = clock::now();
            if (now > due + period) due = now + period;
        }
    }

    MMRESULT id_;
    std::uint32_t delay_;
    LPTIMECALLBACK callback_;
    DWORD_PTR user_;
    bool periodic_;
    std::mutex lock_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::shared_ptr<bool> stopped_ = std::make_shared<bool>(false);
    // Its callback's failures, as one entry from the loop (GUI thread only).
    std::shared_ptr<LoopEntryState> failed_ = std::make_shared<LoopEntryState>();
    std::thread thread_;
};

struct TimerTable {
    std::mutex lock;
    std::map<MMRESULT, std::unique_ptr<MultimediaTimer>> timers;
    MMRESULT next = 1;
};

TimerTable& Timers() {
    static TimerTable table;
    return table;
}

}  // namespace

DWORD GetTickCount() { return static_cast<DWORD>(static_cast<std::uint64_t>(MonotonicNs() / 1000000)); }

bool QueryPerformanceCounter(std::int64_t* count) {
    if (!count) return false;
    *count = MonotonicNs();
    return true;
}

bool QueryPerformanceFrequency(std::int64_t* frequency) {
    if (!frequency) return false;
    *frequency = 1000000000;
    return true;
}

MMRESULT timeSetEvent(std::uint32_t delay, std::uint32_t, LPTIMECALLBACK callback, DWORD_PTR user,
                      std::uint32_t flags) {
    if (!callback || delay < kPeriodMin || delay > kPeriodMax) return 0;
    auto& t = Timers();
    std::lock_guard guard(t.lock);
    MMRESULT id = t.next++;
    if (t.next == 0) t.next = 1;
    t.timers[id] = std::make_unique<MultimediaTimer>(id, delay, callback, user, (flags & TIME_PERIODIC) != 0);
    return id;
}

MMRESULT timeKillEvent(MMRESULT id) {
    std::unique_ptr<MultimediaTimer> timer;
    {
        auto& t = Timers();
        std::lock_guard guard(t.lock);
        auto it = t.timers.find(id);
        if (it == t.timers.end()) return MMSYSERR_INVALPARAM;
        timer = std::move(it->second);
        t.timers.erase(it);
    }
    if (timer->OnTimerThread()) *timer->StopFlag() = true;
    timer.reset();  // joins the thread outside the table lock
    return TIMERR_NOERROR;
}

MMRESULT timeGetDevCaps(TIMECAPS* caps, std::uint32_t size) {
    if (!caps || size < sizeof(TIMECAPS)) return TIMERR_NOCANDO;
    caps->wPeriodMin = kPeriodMin;
    caps->wPeriodMax = kPeriodMax;
    return TIMERR_NOERROR;
}

MMRESULT timeBeginPeriod(std::uint32_t period) {
    return period >= kPeriodMin && period <= kPeriodMax ? TIMERR_NOERROR : TIMERR_NOCANDO;
}

MMRESULT timeEndPeriod(std::uint32_t period) { return timeBeginPeriod(period); }

}  // namespace win
