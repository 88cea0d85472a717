// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// Turning what the kernel reports for a command into the status fields of an execute-command
// record.
//
// Host byte (DID_*) to host adapter status. The program has texts for the four adapter codes
// 0x11 to 0x14, so every failure of the host lands on the nearest of them:
//
//   DID_OK                                                    0x00
//   DID_NO_CONNECT, DID_BAD_TARGET, DID_TIME_OUT,             0x11 selection time-out: nothing
//     DID_TRANSPORT_FAILFAST, driver time-out                      answered in time
//   DID_BUS_BUSY, DID_IMM_RETRY, DID_REQUEUE,                 0x13 unexpected bus free: the bus
//     DID_TRANSPORT_DISRUPTED                                      or link went away or was busy
//   DID_RESET, DID_ABORT, DID_PARITY, DID_ERROR, and every    0x14 bus phase sequence failure:
//     other host byte; any other driver failure                    the exchange broke off
//
// Data over-run/under-run (0x12) is reported for one case only: a command that sends data to the
// unit and ends GOOD with a residual count. The unit (or a bridge on the way, as USB mass storage
// does) took fewer bytes than were sent, and a firmware block it did not take must not count as
// sent. A unit that answers INQUIRY with fewer bytes than were asked for has answered it.
#pragma once

#include <cstdint>

#include "managers/sg/PassThrough.h"

namespace sg {

// Status codes of the records beyond those the shared record header names.
inline constexpr std::uint8_t kSsInvalidCommand = 0x80;
inline constexpr std::uint8_t kSsBufferTooBig = 0xE6;

struct RecordStatus {
    std::uint8_t srbStatus = 0;  // 0x01 only when both statuses below are zero, else non-zero
    std::uint8_t haStat = 0;
    std::uint8_t targStat = 0;
    bool senseValid = false;  // the sense bytes belong in SenseArea (CHECK CONDITION)
};

// The host adapter status for a Linux host byte, per the table above.
std::uint8_t haStatForHost(std::uint8_t hostStatus);

// The record's statuses for one kernel result:
// - a command that never completed (osError): a device gone (ENODEV, ENXIO, ENOENT) is 0x02 with
//   host adapter status 0x11; a transfer the kernel cannot take (EINVAL, ENOMEM, E2BIG) is 0xE6;
//   anything else is 0x02, aborted;
// - otherwise SRB_TargStat is the unit's status byte, SRB_HaStat the host byte mapped by the
//   table, a driver failure with no host status gives 0x11 (time-out) or 0x14, and sense data
//   that the driver delivered with a GOOD status byte counts as CHECK CONDITION;
// - a command with `direction` toUnit that would succeed but left a residual gets host adapter
//   status 0x12;
// - the status is 0x02 (aborted) whenever SRB_HaStat is non-zero (the host side failed), else
//   0x04 when SRB_TargStat is non-zero (CHECK CONDITION with its sense, BUSY ...), else 0x01.
RecordStatus mapResult(const PassThroughResult &result, DataDirection direction);

}  // namespace sg
