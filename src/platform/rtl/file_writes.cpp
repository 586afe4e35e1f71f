#include "platform/rtl/file_writes.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/rtl/exceptions.h"

namespace rtl {

namespace {

// The faults a test has armed; none in the program.
std::atomic<TInjectedFileFaults*> armed{nullptr};

// The innermost turns of this thread's waiting writes.
thread_local TWriteWaitTurns* innermost = nullptr;

// A waiting write polls its descriptor this long at a time, and runs the
// turn at least this often.
constexpr std::chrono::milliseconds kWaitSlice{20};

}  // namespace

TInjectedFileFaults::TInjectedFileFaults() {
    TInjectedFileFaults* none = nullptr;
    if (!armed.compare_exchange_strong(none, this))
        throw EAssertionFailed("Injected file faults are armed already");
}

TInjectedFileFaults::~TInjectedFileFaults() { armed.store(nullptr); }

void TInjectedFileFaults::FailWritesFrom(int Nth, int Error) {
    failFrom_ = writes_ + (Nth < 1 ? 1 : Nth);
    writeError_ = Error;
}

void TInjectedFileFaults::FailCloses(int Error) { closeError_ = Error; }

bool TInjectedFileFaults::WriteFails(int& Error) {
    ++writes_;
    if (failFrom_ == 0 || writes_ < failFrom_) return false;
    Error = writeError_;
    return true;
}

bool TInjectedFileFaults::CloseFails(int& Error) const {
    if (closeError_ == 0) return false;
    Error = closeError_;
    return true;
}

ssize_t WriteSome(int Fd, const void* Data, std::size_t Count) {
    if (TInjectedFileFaults* faults = armed.load()) {
        int error = 0;
        if (faults->WriteFails(error)) {
            errno = error;
            return -1;
        }
    }
    // A pipe whose reader has gone raises SIGPIPE, which ends the program:
    // the signal is held back for the write, and the one the write raised is
    // taken back before the old mask is restored. The write then fails with
    // EPIPE like any other, or, when the reader left while a blocking write
    // was part-way, returns the short count with the signal raised all the
    // same; only a write that did not move every byte can have raised it.
    // One that was pending before is left alone.
    sigset_t pipe_signal, old_mask, pending;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_signal, &old_mask);
    const bool was_pending = sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
    ssize_t n;
    do {
        n = ::write(Fd, Data, Count);
    } while (n < 0 && errno == EINTR);
    const int error = errno;
    if (!was_pending && (n < 0 || static_cast<std::size_t>(n) < Count) && sigpending(&pending) == 0 &&
        sigismember(&pending, SIGPIPE) == 1) {
        const timespec none{};
        while (sigtimedwait(&pipe_signal, nullptr, &none) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
    errno = error;
    return n;
}

long QueuedForReader(int Fd) {
    struct stat st {};
    if (::fstat(Fd, &st) != 0) return -1;
    int queued = 0;
    if (S_ISFIFO(st.st_mode)) return ::ioctl(Fd, FIONREAD, &queued) == 0 ? queued : -1;
    if (S_ISCHR(st.st_mode) && ::isatty(Fd)) return ::ioctl(Fd, TIOCOUTQ, &queued) == 0 ? queued : -1;
    return -1;
}

std::chrono::milliseconds WriteStallLimit() {
    constexpr std::chrono::milliseconds usual{5000};
    const char* text = std::getenv("VOSTREL_TEST_WRITE_STALL_MS");
    if (!text) return usual;
    long long ms = 0;
    const char* end = text + std::strlen(text);
    if (std::from_chars(text, end, ms).ec != std::errc() || ms <= 0) return usual;
    return std::chrono::milliseconds(ms);
}

int WriteAll(int Fd, std::string_view Data, std::chrono::milliseconds StallLimit, std::size_t* Written) {
    using Clock = std::chrono::steady_clock;
    std::size_t done = 0;
    const auto finish = [&](int Result) {
        if (Written) *Written = done;
        return Result;
    };
    bool waited = false;
    bool stalling = false;
    long queued = -1;  // what the reader had not taken when last seen
    Clock::time_point deadline{}, lastTurn{};
    while (done < Data.size()) {
        const ssize_t n = WriteSome(Fd, Data.data() + done, Data.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            // The time allowed counts from the last byte taken.
            stalling = false;
            queued = -1;
            continue;
        }
        if (n == 0) return finish(EIO);
        if (errno != EAGAIN && errno != EWOULDBLOCK) return finish(errno);
        // A pipe or device opened without waiting that is full for now.
        const Clock::time_point now = Clock::now();
        // A reader that took part of a page has taken bytes all the same.
        const long left_queued = QueuedForReader(Fd);
        if (left_queued >= 0 && queued >= 0 && left_queued < queued) stalling = false;
        queued = left_queued;
        if (!waited) {
            waited = true;
            if (StallLimit <= std::chrono::milliseconds::zero()) StallLimit = WriteStallLimit();
            lastTurn = now;
        }
        if (!stalling) {
            stalling = true;
            deadline = now + StallLimit;
        }
        if (now >= deadline) return finish(WriteStalled);
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
        pollfd wait{Fd, POLLOUT, 0};
        const int ready = ::poll(&wait, 1, static_cast<int>(std::min(left, kWaitSlice).count()));
        if (ready < 0 && errno != EINTR) return finish(errno);
        // A reader that keeps taking a little at a time never lets the
        // slice run out: the turn comes by the clock as well.
        if (ready == 0 || Clock::now() - lastTurn >= kWaitSlice) {
            if (!TWriteWaitTurns::RunInnermost()) return finish(ECANCELED);
            lastTurn = Clock::now();
        }
    }
    return finish(0);
}

TWriteWaitTurns::TWriteWaitTurns(std::function<bool()> Turn) : turn_(std::move(Turn)), outer_(innermost) {
    innermost = this;
}

TWriteWaitTurns::~TWriteWaitTurns() {
    // Normally the innermost; one that goes out of order is taken from the
    // middle of the chain.
    for (TWriteWaitTurns** link = &innermost; *link; link = &(*link)->outer_) {
        if (*link == this) {
            *link = outer_;
            break;
        }
    }
}

bool TWriteWaitTurns::RunInnermost() {
    TWriteWaitTurns* turns = innermost;
    return !turns || !turns->turn_ || turns->turn_();
}

int CloseFile(int Fd) {
    const int result = ::close(Fd);
    const int error = errno;
    if (TInjectedFileFaults* faults = armed.load()) {
        int injected = 0;
        if (faults->CloseFails(injected)) return injected;
    }
    if (result == 0 || error == EINTR) return 0;
    return error;
}

}  // namespace rtl
