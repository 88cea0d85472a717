// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "managers/sim/Edc.h"

#include <array>

namespace sim {

namespace {

// 0x8001801B with its bits in reverse order, for the least-significant-bit-first shift.
constexpr std::uint32_t kReflectedPolynomial = 0xD8018001u;

constexpr std::array<std::uint32_t, 256> makeTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t r = i;
        for (int bit = 0; bit < 8; ++bit) {
            r = (r & 1u) != 0 ? (r >> 1) ^ kReflectedPolynomial : r >> 1;
        }
        table[i] = r;
    }
    return table;
}

constexpr std::array<std::uint32_t, 256> kTable = makeTable();

}  // namespace

std::uint32_t cdromEdc(const std::uint8_t *data, std::size_t length) {
    std::uint32_t edc = 0;
    for (std::size_t i = 0; i < length; ++i) {
        edc = (edc >> 8) ^ kTable[(edc ^ data[i]) & 0xFFu];
    }
    return edc;
}

}  // namespace sim
