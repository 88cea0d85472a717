// SPDX-License-Identifier: GPL-2.0-or-later
// Program entry: answers the command line's options, or creates the six windows in order and
// runs the message loop.
#include <exception>

#include "app/Application.h"
#include "app/CommandLine.h"
#include "app/ProgramWindows.h"
#include "platform/QtHost.h"

int main(int argc, char **argv) {
    if (const auto status = app::answerCommandLine(argc, argv, CDRW_MANAGER_FOLDER)) {
        return *status;
    }
    TApplication application(argc, argv);
    platform::QtHost host;
    platform::installHost(&host);
    try {
        ProgramWindows windows;
        windows.MainForm.show();
        TApplication::exec();
    } catch (const std::exception &error) {
        application.showException(error.what());
    }
    return 0;
}
