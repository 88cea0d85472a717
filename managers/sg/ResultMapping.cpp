// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "managers/sg/ResultMapping.h"

#include <algorithm>
#include <cerrno>
#include <iterator>

#include "aspi/AspiRecords.h"

namespace sg {

namespace {

using aspi::HASTAT_BUS_FREE;
using aspi::HASTAT_PHASE_ERR;
using aspi::HASTAT_SEL_TO;

struct HostRow {
    std::uint8_t hostStatus;
    std::uint8_t haStat;
};

// Sorted by host byte; bytes not listed map to HASTAT_PHASE_ERR.
constexpr HostRow kHostRows[] = {
    {0x00, aspi::HASTAT_OK},  // DID_OK
    {0x01, HASTAT_SEL_TO},    // DID_NO_CONNECT
    {0x02, HASTAT_BUS_FREE},  // DID_BUS_BUSY
    {0x03, HASTAT_SEL_TO},    // DID_TIME_OUT
    {0x04, HASTAT_SEL_TO},    // DID_BAD_TARGET
    {0x0C, HASTAT_BUS_FREE},  // DID_IMM_RETRY
    {0x0D, HASTAT_BUS_FREE},  // DID_REQUEUE
    {0x0E, HASTAT_BUS_FREE},  // DID_TRANSPORT_DISRUPTED
    {0x0F, HASTAT_SEL_TO},    // DID_TRANSPORT_FAILFAST
};

struct OsErrorRow {
    int error;
    std::uint8_t srbStatus;
    std::uint8_t haStat;
};

// Errors of a command that never completed; any other is reported as aborted. A unit that went
// away fails on the host side like a selection that nothing answered.
constexpr OsErrorRow kOsErrorRows[] = {
    {ENODEV, aspi::SS_ABORTED, HASTAT_SEL_TO},
    {ENXIO, aspi::SS_ABORTED, HASTAT_SEL_TO},
    {ENOENT, aspi::SS_ABORTED, HASTAT_SEL_TO},
    {EINVAL, kSsBufferTooBig, 0},
    {ENOMEM, kSsBufferTooBig, 0},
    {E2BIG, kSsBufferTooBig, 0},
};

}  // namespace

std::uint8_t haStatForHost(std::uint8_t hostStatus) {
    const auto row =
        std::lower_bound(std::begin(kHostRows), std::end(kHostRows), hostStatus,
                         [](const HostRow &r, std::uint8_t value) { return r.hostStatus < value; });
    return row != std::end(kHostRows) && row->hostStatus == hostStatus ? row->haStat
                                                                       : HASTAT_PHASE_ERR;
}

RecordStatus mapResult(const PassThroughResult &result, DataDirection direction) {
    RecordStatus status;
    if (result.osError != 0) {
        const auto row =
            std::find_if(std::begin(kOsErrorRows), std::end(kOsErrorRows),
                         [&](const OsErrorRow &r) { return r.error == result.osError; });
        status.srbStatus = row != std::end(kOsErrorRows) ? row->srbStatus : aspi::SS_ABORTED;
        status.haStat = row != std::end(kOsErrorRows) ? row->haStat : 0;
        return status;
    }

    const std::uint8_t driver = result.driverStatus & kDriverMask;
    status.targStat = result.scsiStatus;
    status.haStat = haStatForHost(result.hostStatus);
    if (status.haStat == 0 && driver != 0 && driver != kDriverSense) {
        status.haStat = driver == kDriverTimeout ? HASTAT_SEL_TO : HASTAT_PHASE_ERR;
    }
    if (driver == kDriverSense && status.targStat == aspi::STATUS_GOOD && status.haStat == 0) {
        status.targStat = aspi::STATUS_CHKCOND;
    }
    status.senseValid = status.targStat == aspi::STATUS_CHKCOND;
    if (direction == DataDirection::toUnit && result.residual != 0 && status.haStat == 0 &&
        status.targStat == 0) {
        // The unit (or a bridge) ended GOOD without taking all of the block: a transfer that
        // broke off, "Data over-run/under-run.".
        status.haStat = aspi::HASTAT_DO_DU;
    }
    // A failure on the host side is reported as aborted rather than as a completed command with
    // an error: with SS_ERR the command error dialog shows sense lines, which for this command
    // can only be another command's sense or zeros; with SS_ABORTED it explains the host adapter
    // status ("Selection time out.").
    status.srbStatus = status.haStat != 0     ? aspi::SS_ABORTED
                       : status.targStat != 0 ? aspi::SS_ERR
                                              : aspi::SS_COMP;
    return status;
}

}  // namespace sg
