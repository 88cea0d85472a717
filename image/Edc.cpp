// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "image/Edc.h"

#include <algorithm>
#include <array>

namespace image {

namespace {

// The generator with its bits reversed, for the least-significant-bit-first form.
constexpr std::uint32_t kReflectedPolynomial = 0xD8018001u;
constexpr std::uint32_t kPolynomial = 0x8001801Bu;

// Sixteen tables: table k gives the effect of a byte followed by k zero bytes, so sixteen bytes
// are taken in one step without a chain of dependent lookups.
constexpr std::size_t kSlices = 16;
using EdcTables = std::array<std::array<std::uint32_t, 256>, kSlices>;

constexpr EdcTables makeTables() {
    EdcTables tables{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t crc = i;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1u) != 0 ? (crc >> 1) ^ kReflectedPolynomial : crc >> 1;
        }
        tables[0][i] = crc;
    }
    for (std::size_t k = 1; k < kSlices; ++k) {
        for (std::size_t i = 0; i < 256; ++i) {
            const std::uint32_t previous = tables[k - 1][i];
            tables[k][i] = (previous >> 8) ^ tables[0][previous & 0xFFu];
        }
    }
    return tables;
}

constexpr EdcTables kTables = makeTables();

// Four bytes as a little-endian number (one load on the usual hosts).
std::uint32_t load32(const std::uint8_t *p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint32_t updateBytewise(std::uint32_t crc, const std::uint8_t *data, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
        crc = (crc >> 8) ^ kTables[0][(crc ^ data[i]) & 0xFFu];
    }
    return crc;
}

std::uint32_t update(std::uint32_t crc, const std::uint8_t *data, std::size_t length) {
    const auto &t = kTables;
    while (length >= kSlices) {
        const std::uint32_t a = load32(data) ^ crc;
        const std::uint32_t b = load32(data + 4);
        const std::uint32_t c = load32(data + 8);
        const std::uint32_t d = load32(data + 12);
        crc = t[15][a & 0xFF] ^ t[14][(a >> 8) & 0xFF] ^ t[13][(a >> 16) & 0xFF] ^ t[12][a >> 24] ^
              t[11][b & 0xFF] ^ t[10][(b >> 8) & 0xFF] ^ t[9][(b >> 16) & 0xFF] ^ t[8][b >> 24] ^
              t[7][c & 0xFF] ^ t[6][(c >> 8) & 0xFF] ^ t[5][(c >> 16) & 0xFF] ^ t[4][c >> 24] ^
              t[3][d & 0xFF] ^ t[2][(d >> 8) & 0xFF] ^ t[1][(d >> 16) & 0xFF] ^ t[0][d >> 24];
        data += kSlices;
        length -= kSlices;
    }
    return updateBytewise(crc, data, length);
}

}  // namespace

std::uint8_t ReverseBits(std::uint8_t value) {
    std::uint8_t result = 0;
    for (int bit = 0; bit < 8; ++bit) {
        result = static_cast<std::uint8_t>((result << 1) | ((value >> bit) & 1u));
    }
    return result;
}

std::uint32_t ComputeEdc(const std::uint8_t *data, std::size_t length, std::FILE *trace) {
    std::uint32_t crc = 0;
    for (std::size_t done = 0; done < length; done += kEdcTraceInterval) {
        if (trace != nullptr) {
            std::fputc('.', trace);
        }
        crc = update(crc, data + done, std::min(kEdcTraceInterval, length - done));
    }
    if (trace != nullptr) {
        std::fflush(trace);
    }
    return crc;
}

std::uint32_t computeEdcBitwise(const std::uint8_t *data, std::size_t length) {
    std::uint32_t r = 0;
    for (std::size_t i = 0; i < length; ++i) {
        for (int bit = 0; bit < 8; ++bit) {
            const bool in = ((data[i] >> bit) & 1u) != 0;
            const bool top = (r >> 31) != 0;
            r = in != top ? (r << 1) ^ kPolynomial : r << 1;
        }
    }
    // Each byte of the register reversed in place gives the value whose bytes, most significant
    // first, are stored; read least significant first, that is the register reversed as a whole.
    std::uint32_t value = 0;
    for (int byte = 0; byte < 4; ++byte) {
        value = (value << 8) | ReverseBits(static_cast<std::uint8_t>(r >> (8 * byte)));
    }
    return value;
}

}  // namespace image
