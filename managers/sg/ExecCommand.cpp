// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "managers/sg/ExecCommand.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <iterator>

#include "managers/sg/ResultMapping.h"
#include "managers/sg/SenseFormat.h"

namespace sg {

namespace {

struct TimeoutRow {
    std::uint8_t operationCode;
    int seconds;
};

constexpr TimeoutRow kTimeouts[] = {
    {0x12, 10},   // INQUIRY
    {0x3B, 300},  // WRITE BUFFER
};
constexpr int kDefaultTimeout = 60;

}  // namespace

int commandTimeout(std::uint8_t operationCode) {
    const auto row =
        std::find_if(std::begin(kTimeouts), std::end(kTimeouts),
                     [&](const TimeoutRow &r) { return r.operationCode == operationCode; });
    return row != std::end(kTimeouts) ? row->seconds : kDefaultTimeout;
}

std::uint8_t buildCommand(const aspi::SRB_ExecSCSICmd &record, PassThroughCommand &command) {
    const bool toHost = (record.SRB_Flags & aspi::SRB_DIR_IN) != 0;
    const bool toUnit = (record.SRB_Flags & aspi::SRB_DIR_OUT) != 0;
    if (record.SRB_CDBLen == 0 || record.SRB_CDBLen > sizeof(record.CDBByte)) {
        return aspi::SS_INVALID_SRB;
    }
    if (toHost && toUnit) {
        return aspi::SS_INVALID_SRB;
    }
    if (record.SRB_BufLen > 0 && ((!toHost && !toUnit) || record.SRB_BufPointer == 0)) {
        return aspi::SS_INVALID_SRB;
    }
    if (record.SRB_BufLen > INT_MAX) {
        return kSsBufferTooBig;
    }
    command.cdb = std::span<const std::uint8_t>(record.CDBByte, record.SRB_CDBLen);
    command.length = record.SRB_BufLen;
    command.data = static_cast<std::uint8_t *>(aspi::bufferAddress(record.SRB_BufPointer));
    command.direction = record.SRB_BufLen == 0 ? DataDirection::none
                        : toHost               ? DataDirection::toHost
                                               : DataDirection::toUnit;
    if (command.direction == DataDirection::none) {
        command.data = nullptr;
    }
    command.timeoutSeconds = commandTimeout(record.CDBByte[0]);
    return 0;
}

std::uint8_t applyResult(const PassThroughResult &result, DataDirection direction,
                         aspi::SRB_ExecSCSICmd &record) {
    const RecordStatus status = mapResult(result, direction);
    record.SRB_HaStat = status.haStat;
    record.SRB_TargStat = status.targStat;
    // Cleared for every command, so that a record handed over again never shows an earlier
    // command's sense as this one's.
    const std::size_t wanted = std::min<std::size_t>(record.SRB_SenseLen, aspi::kSenseLength);
    std::memset(record.SenseArea, 0, wanted);
    if (status.senseValid) {
        static_assert(kFixedSenseLength >= aspi::kSenseLength);
        const auto fixed =
            fixedFormatSense(std::span<const std::uint8_t>(result.sense)
                                 .first(std::min(result.senseLength, result.sense.size())));
        std::memcpy(record.SenseArea, fixed.data(), wanted);
    }
    return status.srbStatus;
}

}  // namespace sg
