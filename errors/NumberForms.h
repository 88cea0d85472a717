// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The two number forms of the error texts: ids in decimal, every other code in lower-case
// hexadecimal without leading zeros, prefix or suffix (3Bh is "3b", 00h is "0").
#pragma once

#include <charconv>
#include <cstdint>
#include <string>

namespace errors {

inline std::string hexText(unsigned value) {
    char digits[8];
    const auto end = std::to_chars(digits, digits + sizeof digits, value, 16).ptr;
    return std::string(digits, end);
}

inline std::string decimalText(unsigned value) {
    return std::to_string(value);
}

}  // namespace errors
