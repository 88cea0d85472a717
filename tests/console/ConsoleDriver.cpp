// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The shell's update as the program runs it, for the tests that reach its guard and its wait: the
// guard uses the test's lock file and bus, and a second of the countdown lasts SECOND-MS.
//
// usage: cdrw-console-driver LOCK-FILE BUS-ADDRESS SECOND-MS UPDATE-OPTIONS...
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "console/ConsoleUpdate.h"

int main(int argc, char **argv) {
    if (argc < 4) {
        std::fprintf(stderr,
                     "usage: cdrw-console-driver LOCK-FILE BUS-ADDRESS SECOND-MS "
                     "UPDATE-OPTIONS...\n");
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);
    console::ConsoleSettings settings;
    settings.guard.lockPath = argv[1];
    settings.guard.busAddress = argv[2];
    settings.secondMilliseconds = static_cast<unsigned>(std::atoi(argv[3]));
    std::vector<char *> arguments{argv[0]};
    arguments.insert(arguments.end(), argv + 4, argv + argc);
    return console::runUpdateCommand(static_cast<int>(arguments.size()), arguments.data(),
                                     settings);
}
