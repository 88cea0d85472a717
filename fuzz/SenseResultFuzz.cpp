// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// Fuzz target of the real manager's handling of what the kernel reports for a command: the
// result mapping of any status, host, driver and residual values, and the conversion of any
// sense bytes to the fixed format the program reads.
//
// Input: eight bytes of result, then the sense bytes the unit returned (any length):
//   0  bit 0 set: the command never completed, with errno byte 1; bit 1 set: data went to the
//      unit
//   2  SCSI status   3  host byte   4  driver byte
//   5  sense length the kernel claims (may exceed what is there)
//   6  SRB_SenseLen of the record   7  residual (signed)
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "aspi/AspiRecords.h"
#include "fuzz/FuzzCheck.h"
#include "managers/sg/ExecCommand.h"
#include "managers/sg/ResultMapping.h"
#include "managers/sg/SenseFormat.h"

namespace {

constexpr std::size_t kHeaderLength = 8;
constexpr std::uint8_t kGuard = 0xA5;

using fuzz_support::check;

bool isDescriptorFormat(std::span<const std::uint8_t> sense) {
    const std::uint8_t code = sense.empty() ? 0 : sense[0] & 0x7F;
    return (code == 0x72 || code == 0x73) && sense.size() >= 4;
}

// What the conversion promises for any sense bytes.
void checkConversion(std::span<const std::uint8_t> sense) {
    const auto fixed = sg::fixedFormatSense(sense);
    if (isDescriptorFormat(sense)) {
        check((fixed[0] & 0x7F) == ((sense[0] & 0x7F) == 0x72 ? 0x70 : 0x71));
        check((fixed[2] & 0x0F) == (sense[1] & 0x0F));
        check(fixed[1] == 0 && fixed[7] == 10 && fixed[14] == 0);
        check(fixed[12] == sense[2] && fixed[13] == sense[3]);
        return;
    }
    const std::size_t copied = std::min(sense.size(), fixed.size());
    check(std::equal(sense.begin(), sense.begin() + static_cast<std::ptrdiff_t>(copied),
                     fixed.begin()));
    check(std::all_of(fixed.begin() + static_cast<std::ptrdiff_t>(copied), fixed.end(),
                      [](std::uint8_t b) { return b == 0; }));
}

bool isAdapterStatus(std::uint8_t haStat) {
    return haStat == aspi::HASTAT_OK || haStat == aspi::HASTAT_SEL_TO ||
           haStat == aspi::HASTAT_BUS_FREE || haStat == aspi::HASTAT_PHASE_ERR;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < kHeaderLength) {
        return 0;
    }
    const std::span<const std::uint8_t> sense(data + kHeaderLength, size - kHeaderLength);
    checkConversion(sense);

    sg::PassThroughResult result;
    result.osError = (data[0] & 1) != 0 ? data[1] : 0;
    result.scsiStatus = data[2];
    result.hostStatus = data[3];
    result.driverStatus = data[4];
    result.senseLength = data[5];
    result.residual = static_cast<std::int8_t>(data[7]);
    std::copy_n(sense.begin(), std::min(sense.size(), result.sense.size()), result.sense.begin());

    const sg::DataDirection direction =
        (data[0] & 2) != 0 ? sg::DataDirection::toUnit : sg::DataDirection::toHost;
    const sg::RecordStatus status = sg::mapResult(result, direction);
    // Over-run/under-run only for data the unit did not all take.
    check(isAdapterStatus(status.haStat) ||
          (status.haStat == aspi::HASTAT_DO_DU && direction == sg::DataDirection::toUnit &&
           result.residual != 0 && status.targStat == 0));
    if (result.osError == 0) {
        // A failure on the host side is aborted; SS_ERR only with the unit's status alone.
        check(status.srbStatus == (status.haStat != 0     ? aspi::SS_ABORTED
                                   : status.targStat != 0 ? aspi::SS_ERR
                                                          : aspi::SS_COMP));
        check(status.senseValid == (status.targStat == aspi::STATUS_CHKCOND));
    } else {
        check(!status.senseValid && status.targStat == 0);
    }

    // The record is written only where the result goes: the two statuses and the first
    // SRB_SenseLen sense bytes (at most 18), zeros unless CHECK CONDITION.
    aspi::SRB_ExecSCSICmd record;
    std::memset(&record, kGuard, sizeof record);
    record.SRB_SenseLen = data[6];
    aspi::SRB_ExecSCSICmd expected = record;
    const std::uint8_t srbStatus = sg::applyResult(result, direction, record);
    check(srbStatus == status.srbStatus);
    expected.SRB_HaStat = status.haStat;
    expected.SRB_TargStat = status.targStat;
    std::memset(expected.SenseArea, 0,
                std::min<std::size_t>(record.SRB_SenseLen, aspi::kSenseLength));
    if (status.senseValid) {
        // The kernel's sense buffer: the bytes the unit sent, zeros past them.
        const std::size_t delivered = std::min<std::size_t>(result.senseLength, sg::kSenseCapacity);
        const auto fixed =
            sg::fixedFormatSense(std::span<const std::uint8_t>(result.sense).first(delivered));
        std::memcpy(expected.SenseArea, fixed.data(),
                    std::min<std::size_t>(record.SRB_SenseLen, aspi::kSenseLength));
    }
    check(std::memcmp(&record, &expected, sizeof record) == 0);
    return 0;
}
