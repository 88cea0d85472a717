// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// A whole update through the real windows on the simulated bus: the chooser is answered by
// clicking, the wait and the final question are pictured.
#include <gtest/gtest.h>

#include <QtTest/qtestspontaneevent.h>
#include <xcb/xcb.h>

#include <QAbstractNativeEventFilter>
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QWindow>
#include <atomic>
#include <filesystem>

#include "app/ProgramWindows.h"
#include "app/StartupNotices.h"
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

// The main window's controls that act, as holdControls() finds them before an update.
std::vector<QWidget *> actingControls(TMainForm &form) {
    std::vector<QWidget *> controls{form.Update, form.About,    form.Close,
                                    form.BUS,    form.CreatEDC, form.RadioGroup};
    controls.insert(controls.end(), form.RadioItems.begin(), form.RadioItems.end());
    return controls;
}

// Does `action` on `control` through Qt's accessibility interface, as an AT-SPI client's
// doAction arrives.
void doAccessibleAction(QWidget *control, const QString &action) {
    QAccessibleInterface *node = QAccessible::queryAccessibleInterface(control);
    ASSERT_NE(node, nullptr);
    ASSERT_NE(node->actionInterface(), nullptr);
    node->actionInterface()->doAction(action);
}

// Counts the showings of the windows it watches.
struct ShowCounter : QObject {
    int count = 0;
    bool eventFilter(QObject *, QEvent *event) override {
        count += event->type() == QEvent::Show;
        return false;
    }
};

// Counts the key presses the toolkit takes from the X server.
struct XKeyCounter : QAbstractNativeEventFilter {
    int count = 0;
    bool nativeEventFilter(const QByteArray &, void *event, qintptr *) override {
        count += (static_cast<xcb_generic_event_t *>(event)->response_type & 0x7F) == XCB_KEY_PRESS;
        return false;
    }
};

// Sends `window` a key press from a client of its own, as the X server hands on a typed key.
void pressKeyOnX(const QWidget &window) {
    xcb_connection_t *x = xcb_connect(nullptr, nullptr);
    xcb_key_press_event_t key{};
    key.response_type = XCB_KEY_PRESS;
    key.detail = 65;  // space
    key.root = xcb_setup_roots_iterator(xcb_get_setup(x)).data->root;
    key.event = static_cast<xcb_window_t>(window.winId());
    key.same_screen = 1;
    xcb_send_event(x, 0, key.event, XCB_EVENT_MASK_KEY_PRESS, reinterpret_cast<const char *>(&key));
    // A round trip: the server has handed the key on before the connection goes.
    std::free(xcb_get_input_focus_reply(x, xcb_get_input_focus(x), nullptr));
    xcb_disconnect(x);
}

}  // namespace

class UpdateWindows : public UpdateBench {};

// While an update runs, in the command error dialog and again during the wait, every way into
// the main window finds it inert: an accessibility client's Press on Update, About and Quit and
// Toggle on every variant button (hidden with their group), the handlers themselves, a bus type
// or variant set by the program. No chooser or About box opens, no scan reaches the bus, the
// program goes on, and the unit receives the file that was chosen; afterwards every control is
// as before.
TEST_F(UpdateWindows, NothingInTheMainWindowActsWhileAnUpdateRuns) {
    bench.useBus(std::string(kFailingBus) + "fail 0 3 offset 16384 hastat 0x11 targstat 0\n");
    image_test::writeFile("lix101.hex", hexWithData(40000));
    Program program;
    program.errorDialogExpected = true;
    TMainForm &form = program.MainForm;
    const std::vector<QWidget *> controls = actingControls(form);
    for (QWidget *control : controls) {
        ASSERT_TRUE(control->isEnabled()) << control->metaObject()->className();
    }
    const std::size_t inquiries = bench.logLinesWith("cdb=12 ").size();

    // A chooser or About box that opens again is answered at once, so that the test goes on.
    ShowCounter choosers;
    ShowCounter abouts;
    program.OpenFileDialog.installEventFilter(&choosers);
    program.AboutDialog.installEventFilter(&abouts);
    QTimer unexpected;
    QObject::connect(&unexpected, &QTimer::timeout, [&] {
        if (choosers.count > 1 && program.OpenFileDialog.isVisible()) {
            program.OpenFileDialog.Cancel->click();
        }
        if (program.AboutDialog.isVisible()) {
            program.AboutDialog.OK->click();
        }
    });
    unexpected.start(20);

    int moments = 0;
    const auto expectNothingActed = [&](const char *moment) {
        SCOPED_TRACE(moment);
        ++moments;
        EXPECT_EQ(choosers.count, 1) << "the chooser opened again";
        EXPECT_EQ(abouts.count, 0) << "the About box opened";
        EXPECT_EQ(bench.logLinesWith("cdb=12 ").size(), inquiries) << "a scan reached the bus";
        EXPECT_FALSE(host.exitStatus.has_value()) << "the program was ended";
        EXPECT_EQ(form.firmwareVariant(), 4);
        EXPECT_EQ(form.BUS->currentIndex(), 1);
        EXPECT_TRUE(form.CreatEDC->isChecked());
        for (QWidget *control : controls) {
            EXPECT_FALSE(control->isEnabled()) << control->metaObject()->className();
        }
    };
    // Every way in, then the event loop that runs at that moment has 300 ms to act on them (a
    // Press clicks a tenth of a second later) before `then`.
    const auto tryEveryWayIn = [&](const char *moment, std::function<void()> then) {
        SCOPED_TRACE(moment);
        for (QWidget *button : {form.Update, form.About, form.Close}) {
            doAccessibleAction(button, QAccessibleActionInterface::pressAction());
        }
        for (QRadioButton *item : form.RadioItems) {
            doAccessibleAction(item, QAccessibleActionInterface::toggleAction());
        }
        form.RadioItems[0]->setChecked(true);
        form.BUS->setCurrentIndex(0);
        form.UpdateClick();
        form.AboutClick();
        EXPECT_NO_THROW(form.CloseClick());
        form.RadioGroupClick();
        QTimer::singleShot(300, [moment, then = std::move(then), &expectNothingActed] {
            expectNothingActed(moment);
            then();
        });
    };

    // The second block fails once: Retry in the dialog. Then the wait, then No.
    testing_support::whenModalShown([&](QWidget *) {
        program.OpenFileDialog.FileName->setText(QStringLiteral("lix101.hex"));
        program.OpenFileDialog.OK->click();
        testing_support::whenModalShown([&](QWidget *dialog) {
            EXPECT_EQ(dialog, &program.CMD_Error_Form);
            tryEveryWayIn("in the command error dialog",
                          [&] { program.CMD_Error_Form.Retry_btn->click(); });
        });
    });
    std::atomic<bool> waitTried{false};
    host.onSleep = [&waitTried](unsigned) {
        for (int i = 0; i < 2000 && !waitTried.load(); ++i) {
            QThread::msleep(10);
        }
    };
    QTimer duringWait;
    QObject::connect(&duringWait, &QTimer::timeout, [&] {
        if (program.WaitDlg.isVisible()) {
            duringWait.stop();
            tryEveryWayIn("during the wait", [&waitTried] { waitTried.store(true); });
        }
    });
    duringWait.start(20);
    host.answers = {platform::Answer::No};
    form.UpdateClick();

    EXPECT_EQ(moments, 2);
    EXPECT_EQ(host.boxes.size(), 1u) << "the final question only";
    EXPECT_EQ(sentBlocks(bench).size(), 4u) << "three blocks, the second twice";
    EXPECT_EQ(bench.image(0, 3), binBody("lix101.bin"));
    for (QWidget *control : controls) {
        EXPECT_TRUE(control->isEnabled()) << control->metaObject()->className();
    }
    EXPECT_EQ(form.firmwareVariant(), 4);
    EXPECT_EQ(form.BUS->currentIndex(), 1);
    EXPECT_EQ(choosers.count, 1);
    EXPECT_EQ(bench.logLinesWith("cdb=12 ").size(), inquiries);
}

// While the unit takes a block the window is drawn and its timers run; on an X server
// (update.windows_x11) a key pressed meanwhile waits until the blocks have gone.
TEST_F(UpdateWindows, DrawnWhileBlocksGoTakingNoInput) {
    bench.useBus(R"(adapter 0 id 7
unit 0 3 vendor "VEK     " product "CDRW 8432       " revision "1.10" blocktime 800
)");
    image_test::writeFile("lix101.hex", hexWithData(40000));
    Program program;
    TMainForm &form = program.MainForm;
    const bool onX = QGuiApplication::platformName() == QStringLiteral("xcb");
    XKeyCounter keys;
    qApp->installNativeEventFilter(&keys);
    PaintCounter paints;
    form.installEventFilter(&paints);
    int ticks = 0;  // from the first once the block count is known
    QTimer duringBlocks;
    QObject::connect(&duringBlocks, &QTimer::timeout, [&] {
        if (form.state.BlockCount == 0 || program.WaitDlg.isVisible() || ++ticks > 10) {
            return;
        }
        if (ticks == 1) {
            paints.count = 0;
            form.update();
            if (onX) {
                pressKeyOnX(form);
            }
        } else if (ticks == 10) {
            EXPECT_LT(sentBlocks(bench).size(), 3u) << "the blocks still go";
            EXPECT_GT(paints.count, 0) << "the window was drawn";
            EXPECT_EQ(keys.count, 0) << "a key press was taken while blocks went";
        }
    });
    duringBlocks.start(20);
    host.answers = {platform::Answer::No};
    pickInChooser(program.OpenFileDialog, QStringLiteral("lix101.hex"));
    form.UpdateClick();
    qApp->removeNativeEventFilter(&keys);

    EXPECT_GE(ticks, 10) << "the event loop ran while the blocks went";
}

TEST_F(UpdateWindows, ShippedExampleUpdatesTheDefaultBus) {
    // The example firmware that `./run demo` offers, copied so the source tree stays untouched.
    std::filesystem::copy_file(CDRW_SOURCE_DIR "/examples/lix0101.hex", "lix0101.hex");
    Program program;
    ASSERT_EQ(program.MainForm.DrivesList->count(), 3);

    // The program's own guard, on the bench's lock file and without a bus.
    host.makeGuard = [this](const std::string &why, std::unique_ptr<platform::UnitHold> unitHold) {
        platform::UpdateGuardSettings settings;
        settings.lockPath = (bench.dir() / "update.lock").string();
        settings.busAddress = "unix:path=" + (bench.dir() / "no-bus").string();
        settings.sessionBusAddress = settings.busAddress;
        return platform::takeSystemUpdateGuard(settings, why, std::move(unitHold));
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
    ASSERT_EQ(host.boxes.size(), 1u) << "the one block was the saving one";
    EXPECT_EQ(host.boxes[0].buttons, platform::Buttons::Ok);
    EXPECT_NE(host.boxes[0].text.find("block 1 of 1 failed"), std::string::npos);
    EXPECT_NE(host.boxes[0].text.find("may hold part of it"), std::string::npos);
    for (QWidget *control : actingControls(program.MainForm)) {
        EXPECT_TRUE(control->isEnabled()) << "after Stop: " << control->metaObject()->className();
    }
    const QString text = program.CMD_Error_Form.Memo1->toPlainText();
    EXPECT_TRUE(text.contains(QStringLiteral("Invalid field in CDB"))) << text.toStdString();
}

// A unit behind a USB bridge in the rehearsal: the window refuses it in one warning box that
// names the bridge, before the chooser opens; with the check turned off at start the start-up
// says so once and the chooser opens (and is cancelled here).
TEST_F(UpdateWindows, UnitBehindAUsbBridgeIsRefusedBeforeTheChooser) {
    bench.useBus(
        "adapter 0 id 7\nunit 0 3 vendor \"VEK     \" product \"CDRW 8432       \" "
        "revision \"1.10\" transport usb 152d:0578\n");
    for (const bool allowed : {false, true}) {
        SCOPED_TRACE(allowed ? "--allow-usb-bridge" : "checked");
        host.boxes.clear();
        Program program;
        program.MainForm.state.AllowUsbBridge = allowed;
        // The start-up says once that the check is off.
        app::showStartupNotices(program.MainForm);
        app::showStartupNotices(program.MainForm);
        bool chooserShown = false;
        QTimer chooserWatch;
        QObject::connect(&chooserWatch, &QTimer::timeout, [&program, &chooserShown] {
            if (program.OpenFileDialog.isVisible()) {
                chooserShown = true;
                program.OpenFileDialog.Cancel->click();
            }
        });
        chooserWatch.start(20);
        program.MainForm.UpdateClick();
        EXPECT_EQ(chooserShown, allowed);
        ASSERT_EQ(host.boxes.size(), 1u);
        if (allowed) {
            EXPECT_EQ(host.boxes[0].icon, platform::Icon::Information);
            EXPECT_EQ(host.boxes[0].text.rfind("The USB bridge check is off", 0), 0u);
        } else {
            EXPECT_EQ(host.boxes[0].icon, platform::Icon::Warning);
            EXPECT_EQ(host.boxes[0].text.rfind("The unit 0:7:3 is attached through a USB bridge "
                                               "(152d:0578). Bridges often cut or drop firmware "
                                               "download commands",
                                               0),
                      0u)
                << host.boxes[0].text;
        }
        EXPECT_TRUE(sentBlocks(bench).empty());
    }
}
