// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// Words for the codes of a failed drive command: sense key, additional sense code and
// qualifier, the manager's request status, and the host adapter or target status. Stateless;
// each lookup returns a text the caller owns, and the empty text for a code without a row.
// Texts are single-byte and shown exactly as they stand.
#pragma once

#include <cstdint>
#include <string>

namespace errors {

// The name of the sense key in the low four bits of `senseByte` (byte 2 of fixed-format sense
// data); the high four bits are flags and are ignored. Never empty.
std::string SenseKeyName(std::uint8_t senseByte);

// The message for an additional sense code and qualifier. `senseByte` is the whole byte as
// stored, flags included; only ASC 80h looks at it. Empty when no row matches.
std::string AdditionalSenseText(std::uint8_t senseByte, std::uint8_t asc, std::uint8_t ascq);

// The text for the status byte of a request record (SS_COMP, SS_ERR, ...); empty if unlisted.
std::string SrbStatusText(std::uint8_t srbStatus);

// The text for the combined status of a failed command: the host adapter status when that is
// nonzero, else the target's SCSI status. The listed values of the two do not overlap. Empty if
// unlisted (CHECK CONDITION included).
std::string HostTargetStatusText(std::uint8_t status);

}  // namespace errors
