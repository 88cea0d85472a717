// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The information box for a start-up scan that listed no unit: what the manager found and what to
// do about it, from the manager's scan report (aspi/ScanReport.h).
#pragma once

#include <optional>
#include <string>

#include "aspi/ScanReport.h"

namespace app {

// The box's text, by the first that holds: the generic SCSI driver is not loaded (how to load it
// now and at every start); CD/DVD units were found that this user may not open (their nodes, and
// that the group "cdrom" or a local desktop session gives access after logging in again); no
// CD/DVD unit was found; CD/DVD units were found but none answered. nullopt when `listedUnits`
// is not 0, or without a report (a manager that tells nothing, such as the simulator).
std::optional<std::string> emptyUnitListText(int listedUnits,
                                             const std::optional<aspi::ScanReport> &report);

// Why units are missing from a list that is not empty: the units an update holds (another copy
// of this program, or the keeper of an update that ended less than 70 seconds ago), and to wait
// a minute. nullopt without a report or when it counts none.
std::optional<std::string> heldUnitsText(const std::optional<aspi::ScanReport> &report);

}  // namespace app
