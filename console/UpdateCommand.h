// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The shell's update command:
//
//   cdrw-fwupdate --update FILE --unit ADDRESS [--bus scsi|atapi] [--variant N] [--no-edc]
//                 [--yes] [--on-error ask|stop] [--allow-usb-bridge] [--allow-battery]
//
// Its options stand for what the window's user picks: the file in the chooser, the line in the
// unit list, the bus box, the variant (which only the build sets) and the Create EDC box, each
// with the window's default; --yes and --on-error answer for a person who is not there.
#pragma once

#include <optional>
#include <string>

#include "aspi/DriveCommands.h"
#include "units/FirmwareVariants.h"
#include "update/UpdateChecks.h"

namespace console {

enum class OnError { Ask, Stop };

struct UpdateCommand {
    std::string file;           // the HEX file, as given
    std::string unit;           // the unit's address as its line shows it: "0:7:3"
    int bus = aspi::kBusAtapi;  // the bus box's selection after start-up
    int variant = units::kDefaultFirmwareVariant;
    bool edc = true;                   // " Create  EDC" is checked by default
    bool yes = false;                  // the transfer is confirmed without asking
    std::optional<OnError> onError;    // none: ask on a terminal, stop elsewhere
    update::CheckOverrides overrides;  // the checks before the first block turned off
};

// True when the command line holds one of the update command's options before a lone "--": the
// shell's update answers it, not the window.
bool isUpdateCommand(int argc, char **argv);

// Reads the update command's options into `command`. Returns status 2 once it has refused the
// command line on standard error (an unknown option or an argument, an option twice, --update or
// --unit missing, a value the option does not take, a variant the build does not let a user
// pick); nothing when `command` holds the update to run.
std::optional<int> readUpdateCommand(int argc, char **argv, UpdateCommand &command);

}  // namespace console
