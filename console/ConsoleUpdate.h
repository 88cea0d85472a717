// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The shell's update from start to end: reads the update command, binds the manager the program
// loads, scans the buses as the window's start does (saying the verdicts due on earlier updates),
// and runs the window's update sequence on the unit named, with the shell's face and host. No
// display is opened.
#pragma once

#include "console/ConsoleHost.h"

namespace console {

// Runs the update command of `argv` (see console/UpdateCommand.h) and returns the program's exit
// status: 0 when every block went down and the wait is over; 1 when anything was refused,
// stopped or failed, or a failed block was ignored; 2 for a command line it does not take. After
// a termination signal held during the update, once the result is written: 128 + its number. A
// manager that cannot be bound ends the process with status 1.
int runUpdateCommand(int argc, char **argv, const ConsoleSettings &settings = {});

}  // namespace console
