// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// What discovery keeps of every unit it found: per host adapter (0 to 2) and target (0 to 6)
// the INQUIRY texts and whether the unit may receive a download for the selected variant.
#pragma once

#include <cstdint>

namespace units {

inline constexpr int kTableAdapters = 3;
inline constexpr int kTableTargets = 7;

struct UnitTable {
    // 8 vendor bytes as the unit sent them; the ninth is always NUL.
    char vendor[kTableAdapters][kTableTargets][9] = {};
    // Up to 16 product bytes, NUL-terminated only when shorter.
    char product[kTableAdapters][kTableTargets][16] = {};
    // Up to 4 revision bytes, NUL-terminated only when shorter.
    char revision[kTableAdapters][kTableTargets][4] = {};
    // Indexed by adapter * 7 + target: 1 when the unit qualifies for the selected variant.
    std::uint8_t Eligible[kTableAdapters * kTableTargets] = {};
};

}  // namespace units
