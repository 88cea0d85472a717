// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The execute-command record on its way to the kernel and back: checking it, building the
// kernel command from it, and writing the result into it.
#pragma once

#include <cstdint>

#include "aspi/AspiRecords.h"
#include "managers/sg/PassThrough.h"

namespace sg {

// Seconds the kernel lets a command run before it aborts it: WRITE BUFFER 300 (a unit that saves
// new firmware may be busy that long), INQUIRY 10, anything else 60.
int commandTimeout(std::uint8_t operationCode);

// Builds the kernel command from the record: the first SRB_CDBLen bytes of CDBByte, the
// direction of SRB_Flags, SRB_BufLen bytes at SRB_BufPointer, and the time-out of the operation.
// Returns 0 when the record can be sent, else the status that refuses it: 0xE0 for a CDB length
// of 0 or over 16, both direction flags, or data without a direction or without a buffer; 0xE6
// for a length the kernel interface cannot carry. The command points into the record, which
// must outlive it.
std::uint8_t buildCommand(const aspi::SRB_ExecSCSICmd &record, PassThroughCommand &command);

// Writes the kernel's result for a command that moved data in `direction` into SRB_HaStat and
// SRB_TargStat (see mapResult), and SRB_SenseLen bytes (at most 18) of SenseArea: on CHECK
// CONDITION the sense bytes, always in fixed format (see SenseFormat.h), zero past what the unit
// sent; otherwise zeros. Returns the status to store; SRB_Status itself is left to the caller, who
// stores it last.
std::uint8_t applyResult(const PassThroughResult &result, DataDirection direction,
                         aspi::SRB_ExecSCSICmd &record);

}  // namespace sg
