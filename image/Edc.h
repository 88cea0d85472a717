// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The error detection code that ends the download image: the CRC-32 of the CD-ROM sector EDC,
// generator x^32 + x^31 + x^16 + x^15 + x^4 + x^3 + x + 1, bits of each byte taken least
// significant first, initial value 0, no final XOR.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace image {

// Bytes between two "." of the trace that ComputeEdc writes.
inline constexpr std::size_t kEdcTraceInterval = 4096;

// Gives the byte with bits 0 and 7, 1 and 6, 2 and 5, 3 and 4 exchanged.
std::uint8_t ReverseBits(std::uint8_t value);

// Gives the EDC of the `length` bytes at `data` as a number (0x6EC2EDC4 for the ASCII digits
// 1 to 9, 0 for no bytes); the image stores it least significant byte first.
// Writes one "." to `trace` before byte 0 and before every byte whose index is a multiple of
// kEdcTraceInterval, then flushes it; a null `trace` writes nothing.
std::uint32_t ComputeEdc(const std::uint8_t *data, std::size_t length, std::FILE *trace = stdout);

// The same value as ComputeEdc, computed one bit at a time as the polynomial is written down.
// Slow; kept as the reference that the fast form is checked against.
std::uint32_t computeEdcBitwise(const std::uint8_t *data, std::size_t length);

}  // namespace image
