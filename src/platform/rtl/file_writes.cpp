#include "platform/rtl/file_writes.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <csignal>

#include "platform/rtl/exceptions.h"

namespace rtl {

namespace {

// The faults a test has armed; none in the program.
std::atomic<TInjectedFileFaults*> armed{nullptr};

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
    // the signal is held back for the write, which then fails with EPIPE
    // like any other, and the one it raised is taken back before it is let
    // through again. One that was pending already is left alone.
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
    if (n < 0 && error == EPIPE && !was_pending) {
        const timespec none{};
        while (sigtimedwait(&pipe_signal, nullptr, &none) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
    errno = error;
    return n;
}

int WriteAll(int Fd, std::string_view Data) {
    while (!Data.empty()) {
        const ssize_t n = WriteSome(Fd, Data.data(), Data.size());
        if (n < 0) return errno;
        if (n == 0) return EIO;
        Data.remove_prefix(static_cast<std::size_t>(n));
    }
    return 0;
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
