// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The plan before an update, from a shell:
//
//   cdrw-fwupdate --check --unit ADDRESS [--json] [--allow-usb-bridge] [--allow-battery] [FILE]
//
// runs every check that an update of the unit runs before its first block and prints each with
// its result (ok, warn, refuse) and reason: the unit is listed and may take this build's firmware,
// no other program or update holds it, how it is attached, the power supply, the update guard's
// bus (a missing logind inhibitor is a warning: the update goes ahead without it) and, with FILE,
// the file's name and records. Nothing is sent to the unit, nothing is held and no file written.
#pragma once

#include "console/ConsoleHost.h"

namespace console {

// True when the command line holds --check before a lone "--".
bool isCheckCommand(int argc, char **argv);

// Runs the check command of `argv` and returns the exit status: 0 when no check refuses, 1 when
// one does, 2 for a command line it does not take. The settings name the guard's bus.
int runCheckCommand(int argc, char **argv, const ConsoleSettings &settings = {});

}  // namespace console
