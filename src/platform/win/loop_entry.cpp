#include "platform/win/loop_entry.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <chrono>

#include "platform/rtl/failure_trace.h"

namespace win {
namespace {

LoopErrorHandler& ErrorHandler() {
    static LoopErrorHandler handler;
    return handler;
}

std::uint32_t& RepeatWindow() {
    static std::uint32_t window = 10000;
    return window;
}

std::uint32_t NowMs() {
    using namespace std::chrono;
    return static_cast<std::uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

bool Recent(const LoopEntryState& state, std::uint32_t now) {
    return state.Failed && now - state.LastFailure < RepeatWindow();
}

}  // namespace

void SetLoopErrorHandler(LoopErrorHandler Handler, std::uint32_t RepeatWindowMs) {
    ErrorHandler() = std::move(Handler);
    RepeatWindow() = RepeatWindowMs;
}

void ReportLoopFailure(LoopEntryState& State, std::exception_ptr Error) noexcept {
    const std::uint32_t now = NowMs();
    const bool repeated = Recent(State, now);
    State.Failed = true;
    State.LastFailure = now;
    try {
        // A copy: the handler may be replaced while it runs (its box pumps).
        if (LoopErrorHandler handler = ErrorHandler()) {
            handler(Error, repeated);
            return;
        }
    } catch (...) {
        // The handler itself failed: the error it was given still goes to
        // standard error below, rather than vanishing.
    }
    // No failure passes without a trace, whatever its type.
    rtl::TraceFailure(Error);
}

void ReportLoopFailureLater(std::shared_ptr<LoopEntryState> State, std::exception_ptr Error) noexcept {
    try {
        if (QCoreApplication* app = QCoreApplication::instance()) {
            QMetaObject::invokeMethod(
                app, [State, Error] { ReportLoopFailure(*State, Error); }, Qt::QueuedConnection);
            return;
        }
    } catch (...) {
        // Out of memory for the report: standard error below.
    }
    rtl::TraceFailure(Error);
}

}  // namespace win
