#include "support/qt_app.h"

// The widgets header comes through Qt's common include folder; every test
// program that calls this links Qt6::Widgets (directly or through vcl).
#include <QtWidgets/QApplication>

#include <cstdlib>

namespace test_support {

void EnsureQtApplication() {
    if (QCoreApplication::instance()) return;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "vostrel_test";
    static char* argv[] = {name, nullptr};
    // Lives for the whole test program, as the application object does.
    static QApplication* app = new QApplication(argc, argv);
    (void)app;
}

}  // namespace test_support

#include <sys/resource.h>

#include "platform/win/message_window.h"
#include "support/processor_share.h"

namespace test_support {

bool PumpUntil(const std::function<bool()>& pred, std::chrono::milliseconds limit) {
    GivenTimeLimit given(limit);
    while (!pred()) {
        if (given.Passed()) return false;
        win::ProcessMessages();
        win::Sleep(1);
    }
    return true;
}

void Pump(std::chrono::milliseconds span) {
    // A span of the clock, not a limit: what a test counts in it (ticks,
    // turns) keeps its meaning on a busy machine.
    const auto end = std::chrono::steady_clock::now() + span;
    while (std::chrono::steady_clock::now() <= end) {
        win::ProcessMessages();
        win::Sleep(1);
    }
}

double CpuSeconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

}  // namespace test_support
