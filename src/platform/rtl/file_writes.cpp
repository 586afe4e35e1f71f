#include "platform/rtl/file_writes.h"

#include <unistd.h>

#include <atomic>

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
    for (;;) {
        const ssize_t n = ::write(Fd, Data, Count);
        if (n < 0 && errno == EINTR) continue;
        return n;
    }
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
