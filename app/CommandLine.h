// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The command line, answered before the application object exists: no display is opened for it,
// and no manager is loaded but for --list.
#pragma once

#include <initializer_list>
#include <optional>
#include <string_view>

#include "update/UpdateChecks.h"

namespace app {

// Reads the options: --help, anywhere, prints the usage and --version the program's name and
// version on standard output (status 0, or 1 with the reason on standard error when standard output
// cannot be written); --history and --list print their reports (app/ShellCommands.h), as JSON with
// --json. Qt's own options (-style fusion, -platform offscreen, -reverse, -session ID ...) are
// left in `argv` for the application object to take. Any other option, an option without its
// value, any argument, --json alone or both reports are refused on standard error (status 2);
// "--" ends the options. Returns the exit status when the program is to end here, nothing when it
// is to start. `managerFolder` is the folder the program's RUNPATH names, relative to the
// program's own folder; the usage names the manager there. --allow-usb-bridge and --allow-battery
// are set in `overrides` for the window's updates.
std::optional<int> answerCommandLine(int argc, char **argv, const char *managerFolder,
                                     update::CheckOverrides &overrides);

// Whether one of `options` comes before a lone "--".
bool givenBeforeEnd(int argc, char **argv, std::initializer_list<std::string_view> options);

// Whether -h or --help comes before a lone "--": the usage is then printed whatever else the
// command line holds, an update's options too.
inline bool asksForHelp(int argc, char **argv) {
    return givenBeforeEnd(argc, argv, {"-h", "--help"});
}

}  // namespace app
