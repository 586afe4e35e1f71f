#pragma once
// Answers the program's real file dialogs (the toolkit's dialog, run
// modally, not a test hook) as a user does: picks a filter, types a name
// into the name box and presses the accept button. A dialog still open after
// that (the user declined to replace a file) is cancelled and counted. Header only: Qt is linked by the test programs.
#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QTimer>
#include <string>

#include "platform/vcl/forms.h"

namespace test_support {

class RealFileDialog {
public:
    RealFileDialog() {
        vcl::EnsureApplication();  // the timer needs the application's thread
        QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
        timer_.start(5);
    }

    // The next dialogs get Typed (UTF-8, as the user's keyboard gives it)
    // with the Filter-th filter (from 1; 0 keeps the dialog's).
    void Answer(const std::string& Typed, int Filter = 0) {
        typed_ = QString::fromStdString(Typed);
        filter_ = Filter;
    }

    int Shown = 0;       // dialogs answered
    int LeftOpen = 0;    // of them, still open after the accept button
    int Foreign = 0;     // other modal dialogs met (and declined)

private:
    void Poll() {
        QWidget* modal = QApplication::activeModalWidget();
        auto* dlg = qobject_cast<QFileDialog*>(modal);
        if (!dlg) {
            // A question the toolkit asks on its own, past the program:
            // declined, so that the test goes on to fail instead of waiting.
            if (auto* other = qobject_cast<QDialog*>(modal)) {
                ++Foreign;
                other->reject();
            }
            return;
        }
        if (busy_) return;
        busy_ = true;
        ++Shown;
        if (filter_ > 0 && filter_ <= dlg->nameFilters().size()) dlg->selectNameFilter(dlg->nameFilters()[filter_ - 1]);
        if (auto* edit = dlg->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
            // Typed into the focused name box, as the dialog's own
            // completion expects of a user.
            QApplication::setActiveWindow(dlg);
            edit->setFocus(Qt::OtherFocusReason);
            edit->setText(typed_);
        }
        // Pressed outside this timer's tick, so that the tick can answer a
        // question the press brings up.
        QMetaObject::invokeMethod(
            dlg,
            [this, dlg] {
                // A disabled button (the dialog's list not read yet) stands
                // for a double click on the entry, which accepts as well.
                if (auto* box = dlg->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox")))
                    for (QAbstractButton* b : box->buttons())
                        if (box->buttonRole(b) == QDialogButtonBox::AcceptRole) {
                            if (b->isEnabled())
                                b->click();
                            else
                                QMetaObject::invokeMethod(dlg, "accept");
                        }
                if (dlg->isVisible()) {
                    ++LeftOpen;
                    dlg->reject();
                }
                busy_ = false;
            },
            Qt::QueuedConnection);
    }

    QTimer timer_;
    QString typed_;
    int filter_ = 0;
    bool busy_ = false;  // a dialog is being answered
};

}  // namespace test_support
