// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// Drives the installed program through a rehearsal as a user would, from inside its process.
// Loaded with LD_PRELOAD, it starts when the program makes its application object and then,
// every 100 ms, looks at the windows on screen:
//   - the main window, once its unit list holds a unit: press Update;
//   - the file chooser, once it lists lix0101.hex: click that file, then press OK;
//   - the final question "Update completed. Shutdown PC.": press Yes (the program ends, 0).
// The wait notice in between is only waited out; built with LEAVE_AT_WAIT defined (the
// program's own tests), the driver instead ends the process with status 0 once the wait notice
// shows, when every block has been sent (leaving in $TMPDIR/standard-error what descriptor 2 is
// then). Any other message box, or the command error dialog, is written to standard error and
// ends the process with status 3.
#include <unistd.h>
#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest/QTest>
#include <cstdio>

namespace {

const QString kExample = QStringLiteral("lix0101.hex");
const QString kCompleted = QStringLiteral("Update completed. Shutdown PC.");

enum class Step { PressUpdate, PickFile, AnswerYes };
Step step = Step::PressUpdate;

void fail(const QString &what) {
    std::fprintf(stderr, "rehearsal driver: %s\n", qPrintable(what));
    std::fflush(stderr);
    _exit(3);
}

QPushButton *button(QWidget *window, const QString &text) {
    for (QPushButton *candidate : window->findChildren<QPushButton *>()) {
        if (candidate->isVisible() && candidate->isEnabled() && candidate->text() == text) {
            return candidate;
        }
    }
    return nullptr;
}

// A press opens modal windows with event loops of their own, so it is made from a timer of its
// own: the periodic look at the windows goes on meanwhile.
void pressLater(QAbstractButton *target) {
    QTimer::singleShot(0, target, [target] { QTest::mouseClick(target, Qt::LeftButton); });
}

void look() {
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (!window->isVisible()) {
            continue;
        }
        if (auto *box = qobject_cast<QMessageBox *>(window)) {
            if (step == Step::AnswerYes && box->text() == kCompleted) {
                std::fprintf(stderr, "rehearsal driver: final question, Yes\n");
                pressLater(box->button(QMessageBox::Yes));
                return;
            }
            fail(QStringLiteral("unexpected message box: ") + box->text());
        }
#ifdef LEAVE_AT_WAIT
        if (step == Step::AnswerYes &&
            window->windowTitle().trimmed() == QStringLiteral("Wait a moment please...")) {
            std::fprintf(stderr, "rehearsal driver: wait notice, leaving\n");
            std::fflush(stderr);
            {  // for a test that started the program without a standard error
                QFile file(qEnvironmentVariable("TMPDIR") + QStringLiteral("/standard-error"));
                if (file.open(QIODevice::WriteOnly)) {
                    file.write(
                        QFileInfo(QStringLiteral("/proc/self/fd/2")).symLinkTarget().toUtf8());
                }
            }
            _exit(0);
        }
#endif
        if (button(window, QStringLiteral("Retry")) && button(window, QStringLiteral("Stop"))) {
            fail(QStringLiteral("command error dialog: ") + window->windowTitle());
        }
        const auto lists = window->findChildren<QListWidget *>();
        if (step == Step::PressUpdate && QApplication::activeModalWidget() == nullptr) {
            QPushButton *update = button(window, QStringLiteral("Update"));
            for (QListWidget *list : lists) {
                if (update && list->isVisible() && list->count() > 0) {
                    std::fprintf(stderr, "rehearsal driver: %s, Update\n",
                                 qPrintable(list->item(0)->text().simplified()));
                    step = Step::PickFile;
                    pressLater(update);
                    return;
                }
            }
        }
        if (step == Step::PickFile) {
            QPushButton *ok = button(window, QStringLiteral("OK"));
            for (QListWidget *list : lists) {
                const auto found = list->findItems(kExample, Qt::MatchExactly);
                if (ok && list->isVisible() && found.size() == 1) {
                    std::fprintf(stderr, "rehearsal driver: %s, OK\n", qPrintable(kExample));
                    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                                      list->visualItemRect(found[0]).center());
                    step = Step::AnswerYes;
                    pressLater(ok);
                    return;
                }
            }
        }
    }
}

void start() {
    auto *timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, look);
    timer->start(100);
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(start)
