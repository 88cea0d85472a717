// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The unit's own check of a downloaded image: the CD-ROM sector EDC, a CRC-32 with generator
// x^32 + x^31 + x^16 + x^15 + x^4 + x^3 + x + 1 (0x8001801B) fed least significant bit first,
// initial value 0 and no final inversion. Computed here independently of the program's image
// code, so the bench judges what the program sent rather than agreeing with it by construction.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sim {

// EDC of `length` bytes. "123456789" gives 0x6EC2EDC4.
std::uint32_t cdromEdc(const std::uint8_t *data, std::size_t length);

}  // namespace sim
