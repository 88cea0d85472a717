// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "errors/SenseTexts.h"

#include <algorithm>
#include <array>

#include "aspi/AspiRecords.h"
#include "errors/NumberForms.h"
#include "errors/SenseTextTables.h"

namespace errors {

namespace {

constexpr std::array<const char *, 16> kSenseKeyNames = {
    "No sense",       "Recovered error", "Not ready",      "Medium error",
    "Hardware error", "Illegal request", "Unit attention", "Data protect",
    "Blank check",    "Vendor-specific", "Copy aborted",   "Aborted command",
    "Equal",          "Volume overflow", "Miscompare",     "Reserved",
};

// Request statuses of the manager; the two buffer statuses have no use elsewhere.
constexpr std::uint8_t SS_BUFFER_ALIGN = 0xE1;
constexpr std::uint8_t SS_BUFFER_TO_BIG = 0xE6;

// clang-format off
constexpr std::array kSrbStatusRows = {
    StatusRow{aspi::SS_COMP, "SCSI request has completed without error."},
    StatusRow{aspi::SS_ABORTED, "SCSI command has been aborted."},
    StatusRow{aspi::SS_ABORT_FAIL, "SCSI command abort failed."},
    StatusRow{aspi::SS_ERR, "SCSI command completed with an error!"},
    StatusRow{aspi::SS_INVALID_SRB, "One or more parameters in the SRB are set incorrectly."},
    StatusRow{SS_BUFFER_ALIGN, "The ASPI manager can't handle the alignment on this buffer."},
    StatusRow{SS_BUFFER_TO_BIG, "The ASPI manager can't handle the given transfer size."},
};

// Host adapter statuses and the two target statuses with a text of their own. A host adapter
// status takes the target status's place when nonzero; the listed values do not overlap.
constexpr std::array kHostTargetStatusRows = {
    StatusRow{aspi::STATUS_BUSY, "Target is busy."},
    StatusRow{aspi::HASTAT_SEL_TO, "Selection time out."},
    StatusRow{aspi::HASTAT_DO_DU, "Data over-run/under-run."},
    StatusRow{aspi::HASTAT_BUS_FREE, "Unexpexted Bus Free."},
    StatusRow{aspi::HASTAT_PHASE_ERR, "Target bus phase sequence failure."},
    StatusRow{aspi::STATUS_RESCONF, "Reservation conflict."},
};
// clang-format on

std::string statusText(std::span<const StatusRow> rows, std::uint8_t value) {
    const auto row =
        std::lower_bound(rows.begin(), rows.end(), value,
                         [](const StatusRow &r, std::uint8_t v) { return r.value < v; });
    return row != rows.end() && row->value == value ? std::string(row->text) : std::string();
}

std::string composed(const SpecialSenseRule &rule, std::uint8_t ascq) {
    std::string text = rule.prefix;
    if (rule.appendAscq) {
        text += hexText(ascq);
    }
    text += rule.suffix;
    return text;
}

}  // namespace

std::span<const char *const> senseKeyNames() {
    return kSenseKeyNames;
}
std::span<const StatusRow> srbStatusRows() {
    return kSrbStatusRows;
}
std::span<const StatusRow> hostTargetStatusRows() {
    return kHostTargetStatusRows;
}

std::string SenseKeyName(std::uint8_t senseByte) {
    return kSenseKeyNames[senseByte & 0x0F];
}

std::string AdditionalSenseText(std::uint8_t senseByte, std::uint8_t asc, std::uint8_t ascq) {
    const auto rows = additionalSenseRows();
    const auto key = [](const AdditionalSenseRow &r) { return std::pair(r.asc, r.ascq); };
    const auto row = std::ranges::lower_bound(rows, std::pair(asc, ascq), {}, key);
    if (row != rows.end() && row->asc == asc && row->ascq == ascq) {
        return row->text;
    }
    // No plain row: the rules of this ASC, in table order.
    const auto rules = specialSenseRules();
    const auto first = std::ranges::lower_bound(rules, asc, {}, &SpecialSenseRule::asc);
    const auto last = std::ranges::upper_bound(rules, asc, {}, &SpecialSenseRule::asc);
    const auto matches = [&](const SpecialSenseRule &r) {
        return ascq >= r.firstAscq && ascq <= r.lastAscq &&
               (r.senseByte == kAnySenseByte || r.senseByte == senseByte);
    };
    const auto rule = std::find_if(first, last, matches);
    return rule != last ? composed(*rule, ascq) : std::string();
}

std::string SrbStatusText(std::uint8_t srbStatus) {
    return statusText(kSrbStatusRows, srbStatus);
}

std::string HostTargetStatusText(std::uint8_t status) {
    return statusText(kHostTargetStatusRows, status);
}

}  // namespace errors
