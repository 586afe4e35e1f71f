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
