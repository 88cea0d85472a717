// Program entry: creates the six windows in order, then runs the message loop.
#include <csignal>
#include <exception>

#include "app/Application.h"
#include "app/ProgramWindows.h"
#include "platform/QtHost.h"

int main(int argc, char **argv) {
    // The EDC trace writes to standard output; a reader that has gone must not end an update.
    std::signal(SIGPIPE, SIG_IGN);
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
