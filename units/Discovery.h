// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// Unit discovery: asks the host adapters the manager reports for the units on targets 0 to 6,
// keeps their INQUIRY texts in the unit table, appends one line per unit to the unit list and
// marks each unit eligible or not for the selected firmware variant.
#pragma once

#include <string>
#include <vector>

#include "units/MainState.h"

namespace units {

// What discovery needs of the face that scans: the current bus and variant selections, and the
// list to append lines to. The main window implements it; tests use a plain recording one.
class UnitListView {
  public:
    virtual ~UnitListView() = default;
    virtual int busType() const = 0;          // 0 SCSI, 1 ATAPI
    virtual int firmwareVariant() const = 0;  // 0 to 6
    virtual void appendUnitLine(const std::string &line) = 0;
};

// Scans the buses of the bound manager in state.aspi. Sets state.AdapterCount to the number of
// adapters walked: 0 when the manager's status byte is not 0x01, else the adapter count it
// reported, at most the three adapters the unit table holds. An adapter whose host adapter
// inquiry does not complete with 0x01 is skipped untouched (its old table entries and flags
// stay). On every other adapter each target 0 to 6 has its Eligible flag cleared and is asked
// for INQUIRY data into state.InquiryData (bus form as view.busType() says at each command);
// every unit that answers gets its texts stored, its device type asked, its line appended to
// the view (nothing is removed, the selection is not changed) and the eligibility rule of
// view.firmwareVariant() applied. LastResult and LastSense follow every command. Reports
// nothing.
void ScanUnits(MainState &state, UnitListView &view);

// The main window's start without a window, for the command line's unit list and the shell's
// update: reserves the buffers, binds the manager the program loads (a failure is said through
// the host and ends the process with status 1), and scans in the SCSI form for `variant`, as the
// window does when it is built. Returns the unit list's lines, in order.
std::vector<std::string> scanAtStart(MainState &state, int variant);

}  // namespace units
