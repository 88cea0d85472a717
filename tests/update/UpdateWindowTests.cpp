// SPDX-License-Identifier: GPL-2.0-or-later
// A whole update through the real windows on the simulated bus: the chooser is answered by
// clicking, the wait and the final question are pictured.
#include <gtest/gtest.h>

#include <QtTest/qtestspontaneevent.h>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QWindow>
#include <atomic>
#include <filesystem>

#include "app/ProgramWindows.h"
#include "platform/QtHost.h"
#include "platform/SystemUpdateGuard.h"
#include "tests/support/GuiSupport.h"
#include "tests/update/UpdateTestSupport.h"

using namespace update_test;

namespace {

// The six windows as the program creates them, bound to the simulated bus, main window shown.
// A command error dialog that the test did not say it expects would wait for an answer for
// ever: it fails the test at once, naming what the dialog shows, and is answered Stop.
struct Program : ProgramWindows {
    bool errorDialogExpected = false;
    QTimer unexpectedDialogs;

    Program() {
        MainForm.show();
        unexpectedDialogs.setInterval(20);
        QObject::connect(&unexpectedDialogs, &QTimer::timeout, [this] {
            if (!errorDialogExpected && CMD_Error_Form.isVisible()) {
                ADD_FAILURE() << "unexpected command error dialog:\n"
                              << CMD_Error_Form.Memo1->toPlainText().toStdString();
                CMD_Error_Form.Stop_btn->click();
            }
        });
        unexpectedDialogs.start();
    }
};

// Counts the paints of the window it watches.
struct PaintCounter : QObject {
    int count = 0;
    bool eventFilter(QObject *, QEvent *event) override {
        count += event->type() == QEvent::Paint;
        return false;
    }
};

// Delivers a close request to the window as the window system does (the title bar's close box).
void requestCloseLikeTheWindowManager(QWidget &window) {
    QCloseEvent close;
    QSpontaneKeyEvent::setSpontaneous(&close);
    QCoreApplication::instance()->notify(window.windowHandle(), &close);
}

// Picks `name` in the chooser's file list and presses OK.
void pickInChooser(TOpenFileDialog &chooser, const QString &name) {
    testing_support::whenModalShown([&chooser, name](QWidget *) {
        const auto found = chooser.FileListBox1->findItems(name, Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1);
        chooser.FileListBox1->setCurrentItem(found[0]);
        chooser.OK->click();
    });
}

}  // namespace

class UpdateWindows : public UpdateBench {};

TEST_F(UpdateWindows, ShippedExampleUpdatesTheDefaultBus) {
    // The example firmware that `./run demo` offers, copied so the source tree stays untouched.
    std::filesystem::copy_file(CDRW_SOURCE_DIR "/examples/lix0101.hex", "lix0101.hex");
    Program program;
    ASSERT_EQ(program.MainForm.DrivesList->count(), 3);

    // The program's own guard, on the bench's lock file and without a bus.
    host.makeGuard = [this](const std::string &why) {
        platform::UpdateGuardSettings settings;
        settings.lockPath = (bench.dir() / "update.lock").string();
        settings.busAddress = "unix:path=" + (bench.dir() / "no-bus").string();
        return platform::takeSystemUpdateGuard(settings, why);
    };
    // The wait's clock runs until the window side has seen what it looks for, at most 20 s.
    std::atomic<bool> seen{false};
    host.onSleep = [&seen](unsigned) {
        if (QThread::currentThread() == QCoreApplication::instance()->thread()) {
            ADD_FAILURE() << "the wait's clock runs on the GUI thread";
            return;
        }
        for (int i = 0; i < 2000 && !seen.load(); ++i) {
            QThread::msleep(10);
        }
    };
    // During the wait: a timer fires, the main window paints, a close request of each window
    // changes nothing, and the wait notice is pictured over the main window.
    int ticks = 0;
    PaintCounter paints;
    program.MainForm.installEventFilter(&paints);
    QTimer duringWait;
    QObject::connect(&duringWait, &QTimer::timeout, [&] {
        if (!program.WaitDlg.isVisible() || seen.load()) {
            return;
        }
        if (++ticks == 1) {
            program.MainForm.update();
            requestCloseLikeTheWindowManager(program.MainForm);
            requestCloseLikeTheWindowManager(program.WaitDlg);
            return;
        }
        EXPECT_TRUE(program.MainForm.isVisible());
        EXPECT_TRUE(program.WaitDlg.isVisible());
        QPixmap picture = testing_support::framedPicture(program.MainForm);
        const QPixmap notice = testing_support::framedPicture(program.WaitDlg);
        QPainter painter(&picture);
        painter.drawPixmap((picture.width() - notice.width()) / 2,
                           (picture.height() - notice.height()) / 2, notice);
        painter.end();
        testing_support::savePicture(picture, QStringLiteral("UpdateWait"));
        seen.store(true);
    });
    duringWait.start(20);
    host.onMessageBox = [](const platform::MessageBoxRequest &request) {
        auto box = platform::buildMessageBox(request);
        box->show();
        testing_support::pumpEvents();
        testing_support::saveFramedScreenshot(*box, QStringLiteral("FinalQuestion"));
    };
    host.answers = {platform::Answer::No};
    pickInChooser(program.OpenFileDialog, QStringLiteral("lix0101.hex"));
    program.MainForm.UpdateClick();

    EXPECT_TRUE(seen.load()) << "the event loop ran during the wait";
    EXPECT_GE(ticks, 2);
    EXPECT_GE(paints.count, 1);
    EXPECT_TRUE(program.MainForm.isVisible()) << "the close request changed nothing";
    EXPECT_FALSE(program.WaitDlg.isVisible());
    EXPECT_EQ(host.sleeps, std::vector<unsigned>{70000});
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].text, "Update completed. Shutdown PC.");
    EXPECT_EQ(sentBlocks(bench).size(), 3u);
    const std::string bin = image_test::readFile("lix0101.bin");
    EXPECT_EQ(bin.size(), 4u + 50u + 40000u);
    EXPECT_EQ(bench.image(0, 2), Bytes(bin.begin() + 4, bin.end()));
    EXPECT_EQ(program.MainForm.ProgressBar1->value(), 0);
    EXPECT_FALSE(program.MainForm.Timer1->isActive());
}

TEST_F(UpdateWindows, FailedBlockAnsweredInTheRealDialog) {
    bench.useBus(R"(adapter 0 id 7
unit 0 3 vendor "VEK     " product "CDRW 8432       " revision "1.10"
fail 0 3 offset 0 attempts 1 sense 70 00 05 00 00 00 00 0a 00 00 00 00 24 00 00 00 00 00
)");
    image_test::writeFile("lix101.hex", hexWithData(100));
    Program program;
    program.errorDialogExpected = true;
    testing_support::whenModalShown([&program](QWidget *) {
        program.OpenFileDialog.FileName->setText(QStringLiteral("lix101.hex"));
        program.OpenFileDialog.OK->click();
        testing_support::whenModalShown([&program](QWidget *dialog) {
            EXPECT_EQ(dialog, &program.CMD_Error_Form);
            program.CMD_Error_Form.Stop_btn->click();
        });
    });
    program.MainForm.UpdateClick();
    EXPECT_EQ(sentBlocks(bench).size(), 1u);
    EXPECT_TRUE(host.sleeps.empty());
    const QString text = program.CMD_Error_Form.Memo1->toPlainText();
    EXPECT_TRUE(text.contains(QStringLiteral("Invalid field in CDB"))) << text.toStdString();
}
