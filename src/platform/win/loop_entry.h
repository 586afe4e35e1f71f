#pragma once
// The one guard for every entry from the event loop into the program: a
// window procedure handling a posted or timer message, a device or socket
// notifier, a control's paint, input or event. Exceptions never cross the
// event loop: the guard catches what the entry raises and hands it to the
// loop's error handler, then the loop goes on.
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <utility>

namespace win {

// Receives what an entry raised. Repeated is true when the same entry failed
// before within RepeatWindowMs, so that the handler can tell a failure that
// comes back with every message (a flood of data, a ticking timer, a paint)
// from a new one. Without a handler, or when the handler itself fails, the
// message goes to standard error, whatever the type of what was raised. Set
// by the class library's application object; GUI thread only.
using LoopErrorHandler = std::function<void(std::exception_ptr Error, bool Repeated)>;
void SetLoopErrorHandler(LoopErrorHandler Handler, std::uint32_t RepeatWindowMs = 10000);

// What one entry from the loop remembers of its failures. Each entry keeps
// its own, so one failing site never makes another's first failure a repeat.
struct LoopEntryState {
    bool Failed = false;            // it has failed before
    std::uint32_t LastFailure = 0;  // tick count (ms) of its last failure
};

// Hands Error to the handler as a failure of the entry State belongs to, and
// records it there. Never throws.
void ReportLoopFailure(LoopEntryState& State, std::exception_ptr Error) noexcept;

// The same, from the loop itself, once the running entry has returned: for
// a failure raised on another thread (a multimedia timer's callback), or in
// the middle of a call that must not open a box (a socket call). State is
// shared, so that it outlives its owner until the report runs. Without an
// application to run the report, it goes to standard error at once. Never
// throws; any thread.
void ReportLoopFailureLater(std::shared_ptr<LoopEntryState> State, std::exception_ptr Error) noexcept;

// Runs Entry as one entry from the loop: an exception goes to the handler.
// A template, so that the entry costs no more than the call when it succeeds.
template <class Entry>
void RunLoopEntry(LoopEntryState& State, Entry&& entry) noexcept {
    try {
        std::forward<Entry>(entry)();
    } catch (...) {
        ReportLoopFailure(State, std::current_exception());
    }
}

}  // namespace win
