// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The text of one line of the unit list and its decoding back into an address.
//
// A line is: adapter number, ":", the adapter's own SCSI id, ":", target id (all decimal, no
// leading zeros), 9 blanks, vendor text, 7 blanks, product text, 5 blanks, revision text. The
// texts are the unit's INQUIRY fields up to their first NUL, trailing blanks kept; nothing pads
// them to a column.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "units/UnitTable.h"

namespace units {

// The characters of a fixed-width table entry before its first NUL (all `width` when none).
std::string_view entryText(const char *entry, std::size_t width);

// Copies the texts of a unit's INQUIRY data (at least 36 bytes) into its table entries at
// (adapter, target), which must lie within the table: all eight vendor bytes of 8-15 (the entry's
// ninth stays NUL), product (16-31) and revision (32-35) up to their first NUL, NUL after.
void storeUnitTexts(UnitTable &units, int adapter, int target, const std::uint8_t *inquiry);

// The line of the unit at (adapter, target) of `units`, on an adapter whose own id is `ownId`.
// adapter and target must lie within the table.
std::string UnitLine(const UnitTable &units, int adapter, int ownId, int target);

// Reads the adapter number and the target id from the start of a unit line by its
// colon-separated numbers, so an own id of any width leads to the right target. Returns false,
// leaving both outputs unchanged, when the line does not start with three colon-separated
// decimal numbers or the address lies outside the unit table (adapter 0-2, target 0-6).
bool DecodeUnitLine(const std::string &line, std::uint8_t &adapter, std::uint8_t &target);

}  // namespace units
