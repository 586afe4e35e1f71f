#pragma once
// The reading end of a FIFO, played by the test: it takes nothing until
// told to, so that a writer soon finds the pipe full. It can take what is
// there, or leave part-way through a write: once the pipe is full (the
// writer is held in its write, or waits for room), it takes a few bytes and
// closes its end, as `head -c 1000 < pipe` does. Or it takes a little at a
// time, at its own pace.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "support/processor_share.h"

namespace test_support {

class FifoReader {
public:
    // Opens Path for reading without waiting (a writer may come later).
    explicit FifoReader(const std::string& Path) : fd_(::open(Path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) {}
    ~FifoReader() {
        done_ = true;
        StopTaking();
        if (leaver_.joinable()) leaver_.join();
        if (fd_ >= 0) ::close(fd_);
    }
    FifoReader(const FifoReader&) = delete;
    FifoReader& operator=(const FifoReader&) = delete;

    bool Open() const { return fd_ >= 0; }

    // What the pipe holds now, taken without waiting.
    std::string Take() {
        std::string got;
        char buf[65536];
        for (ssize_t n; fd_ >= 0 && (n = ::read(fd_, buf, sizeof buf)) > 0;)
            got.append(buf, static_cast<std::size_t>(n));
        return got;
    }

    // At most Count bytes, taken without waiting.
    std::string TakeSome(std::size_t Count) {
        std::string got(Count, '\0');
        const ssize_t n = fd_ >= 0 ? ::read(fd_, got.data(), Count) : -1;
        got.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        return got;
    }

    // In a thread of its own: once the pipe is full, takes Count bytes and
    // closes the reading end. Left() tells when it has.
    void LeaveWhenFull(std::size_t Count) {
        leaver_ = std::thread([this, Count] {
            while (!done_ && Queued() < Capacity()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (done_) return;
            std::string taken(Count, '\0');
            for (std::size_t got = 0; got < Count;) {
                const ssize_t n = ::read(fd_, taken.data() + got, Count - got);
                if (n <= 0) break;
                got += static_cast<std::size_t>(n);
            }
            // Marked first: a writer that sees the end sees the mark.
            left_ = true;
            ::close(fd_.exchange(-1));
        });
    }
    bool Left() const { return left_; }

    // The most the pipe holds (the system rounds it up to a page), so that a
    // writer finds it full after a little.
    bool SetCapacity(int Bytes) { return fd_ >= 0 && ::fcntl(fd_, F_SETPIPE_SZ, Bytes) >= 0; }

    // In a thread of its own: takes at most Count bytes every Pace until
    // StopTaking, as a slow program reading the pipe does. With NotePauses
    // it also notes how long it went between two takes (see Pauses).
    void TakeEvery(std::size_t Count, std::chrono::milliseconds Pace, bool NotePauses = false) {
        pacing_ = true;
        {
            const std::lock_guard<std::mutex> lock(takenLock_);
            pauses_.reset();
            if (NotePauses) pauses_.emplace();
        }
        pacer_ = std::thread([this, Count, Pace] {
            auto next = std::chrono::steady_clock::now();
            while (pacing_) {
                const std::string got = TakeSome(Count);
                {
                    const std::lock_guard<std::mutex> lock(takenLock_);
                    taken_ += got;
                    if (pauses_) pauses_->Tick();
                }
                next += Pace;
                std::this_thread::sleep_until(next);
            }
        });
    }
    // The longest the paced taking went without a take, so far, judged
    // against Bound: a writer that gives the reader up after Bound without
    // a take can only have done so rightly when this is not within Bound,
    // and a pause that passed Bound only because the test waited for a
    // processor is void. Only after TakeEvery with NotePauses.
    BoundedWait Pauses(std::chrono::milliseconds Bound) {
        const std::lock_guard<std::mutex> lock(takenLock_);
        return pauses_ ? pauses_->Judged(Bound) : BoundedWait{Timely::kLate, false, "no pauses noted", Bound};
    }
    void StopTaking() {
        pacing_ = false;
        if (pacer_.joinable()) pacer_.join();
    }
    // Stops taking at its pace, takes what the pipe holds now, and closes
    // the reading end: a writer's next write fails.
    void LeaveNow() {
        StopTaking();
        const std::string rest = Take();
        {
            const std::lock_guard<std::mutex> lock(takenLock_);
            taken_ += rest;
        }
        left_ = true;
        const int fd = fd_.exchange(-1);
        if (fd >= 0) ::close(fd);
    }
    // What the paced taking took so far.
    std::string Taken() {
        const std::lock_guard<std::mutex> lock(takenLock_);
        return taken_;
    }

    // Bytes waiting in the pipe, and how many it holds at most.
    int Queued() const {
        int queued = 0;
        return fd_ >= 0 && ::ioctl(fd_, FIONREAD, &queued) == 0 ? queued : 0;
    }
    int Capacity() const { return fd_ >= 0 ? ::fcntl(fd_, F_GETPIPE_SZ) : 0; }

private:
    std::atomic<int> fd_;
    std::atomic<bool> done_{false};
    std::atomic<bool> left_{false};
    std::thread leaver_;
    std::atomic<bool> pacing_{false};
    std::thread pacer_;
    std::mutex takenLock_;
    std::string taken_;
    std::optional<LongestGap> pauses_;  // guarded by takenLock_
};

}  // namespace test_support
