// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The command line's two reports, answered without a display: the journal of updates
// (--history) and the unit list (--list), as text or, with `json`, as JSON on standard output.
#pragma once

namespace app {

// Prints the journal (update/Journal.h), one update per line, oldest first: start, unit, file,
// outcome and verdict; as JSON an array of one object per update, the unit's vendor and product
// without their padding. An empty journal is said on standard error. Loads no manager. Returns
// the exit status: 0, or 1 when the journal cannot be read.
int printHistory(bool json);

// Scans the buses with the manager the program loads, as the window does at start, says the
// verdicts due on earlier updates on standard error (app/UpdateVerdicts.h), and prints the unit
// lines as the window lists them, each with how the unit is attached (ata, usb with the bridge's
// id, scsi, unknown) and whether it may take this build's firmware; as JSON an array of one object per unit, vendor and product without their padding.
// Control characters in the units' texts are written escaped. An empty list is said on standard
// error: why, as the window's start-up box says it, when the manager reports a reason (status 1),
// else "no units" (status 0). Returns 0 otherwise; a manager that cannot be bound is said on
// standard error and ends the process with status 1.
int printUnitList(bool json);

}  // namespace app
