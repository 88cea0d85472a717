// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// Sense data in the form the execute-command record carries it. The program reads the sense key,
// ASC and ASCQ where fixed-format sense holds them (bytes 2, 12 and 13). A unit may answer in
// descriptor format instead (response code 72h or 73h, for instance with D_SENSE set in its
// control mode page), and the kernel hands that on unchanged; read at the fixed places it would
// name a wrong sense key and no ASC at all.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace sg {

inline constexpr std::size_t kFixedSenseLength = 18;

// `sense` (the bytes the unit returned) in fixed format, zeros past them:
// - descriptor format (response code 72h/73h) is rewritten: response code 70h/71h; sense key,
//   ASC and ASCQ; FILEMARK, EOM and ILI from a stream or block commands descriptor; the
//   information and command-specific information fields when their value fits 32 bits (VALID as
//   the information descriptor says); the sense-key-specific bytes; additional length 10. A
//   descriptor cut short by the end of the data is left out.
// - anything else (fixed format, no sense) is copied as it is, up to 18 bytes.
std::array<std::uint8_t, kFixedSenseLength> fixedFormatSense(std::span<const std::uint8_t> sense);

}  // namespace sg
