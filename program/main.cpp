// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// Program entry, above both faces: an update command goes to the shell's update (console/),
// which opens no display; otherwise the command line's options are answered, or the six windows
// are created in order (app/) and the message loop runs.
#include <QPointer>
#include <QTimer>
#include <csignal>
#include <exception>
#include <memory>

#include "app/Application.h"
#include "app/CommandLine.h"
#include "app/DisplayOpening.h"
#include "app/ProgramWindows.h"
#include "app/StartupNotices.h"
#include "console/CheckCommand.h"
#include "console/ConsoleUpdate.h"
#include "console/UpdateCommand.h"
#include "platform/QtHost.h"
#include "platform/StandardStreams.h"
#include "update/Journal.h"

int main(int argc, char **argv) {
    // First of all: a standard stream the program was started without must not become the unit's
    // node, the journal or the display connection opened below.
    platform::openClosedStandardStreams();
    // The EDC trace writes to standard output; a reader that has gone must not end an update.
    std::signal(SIGPIPE, SIG_IGN);
    if (console::isCheckCommand(argc, argv) && !app::asksForHelp(argc, argv)) {
        return console::runCheckCommand(argc, argv);
    }
    // --help anywhere answers with the usage, an update's command line too.
    if (console::isUpdateCommand(argc, argv) && !app::asksForHelp(argc, argv)) {
        return console::runUpdateCommand(argc, argv);
    }
    update::CheckOverrides overrides;
    if (const auto status = app::answerCommandLine(argc, argv, CDRW_MANAGER_FOLDER, overrides)) {
        return *status;
    }
    // Without a display the program says so and ends here, status 1.
    auto opening = std::make_unique<app::DisplayOpening>();
    TApplication application(argc, argv);
    opening.reset();
    // The desktop portal is asked with the main window's identifier, once there is one.
    QPointer<QWidget> mainWindow;
    platform::UpdateGuardSettings guardSettings;
    guardSettings.windowIdentifier = [&mainWindow] {
        return platform::portalWindowIdentifier(mainWindow);
    };
    platform::QtHost host(guardSettings);
    platform::installHost(&host);
    const update::Journal journal;
    try {
        ProgramWindows windows;
        mainWindow = &windows.MainForm;
        windows.MainForm.setJournal(&journal);
        windows.MainForm.state.AllowUsbBridge = overrides.allowUsbBridge;
        windows.MainForm.state.AllowBattery = overrides.allowBattery;
        windows.MainForm.show();
        QTimer::singleShot(0, &windows.MainForm,
                           [&windows] { app::showStartupNotices(windows.MainForm); });
        TApplication::exec();
    } catch (const std::exception &error) {
        application.showException(error.what());
    }
    return 0;
}
