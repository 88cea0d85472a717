// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// Intel HEX text for tests and test programs: records with correct checksums, and a whole file
// of pattern data. Free of the test framework so the kernel test's driver can use it too.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace hex_text {

using Bytes = std::vector<std::uint8_t>;

// One Intel HEX record, upper-case, with its checksum.
inline std::string record(std::uint16_t address, std::uint8_t type, const Bytes &data) {
    Bytes all = {static_cast<std::uint8_t>(data.size()), static_cast<std::uint8_t>(address >> 8),
                 static_cast<std::uint8_t>(address), type};
    all.insert(all.end(), data.begin(), data.end());
    unsigned sum = 0;
    std::string text = ":";
    char digits[3];
    for (std::uint8_t b : all) {
        std::snprintf(digits, sizeof digits, "%02X", b);
        text += digits;
        sum += b;
    }
    std::snprintf(digits, sizeof digits, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
    return text + digits;
}

inline std::string dataRecord(std::uint16_t address, const Bytes &data) {
    return record(address, 0, data);
}

inline const std::string kEndRecord = ":00000001FF";

// A HEX file whose data are `count` bytes of a pattern, contiguous from address 0 (count at most
// 64 KiB: the records carry no address extension). With no data bytes it holds one data record
// of none.
inline std::string hexWithData(std::size_t count) {
    std::string text = count == 0 ? dataRecord(0, {}) + "\n" : "";
    std::size_t address = 0;
    while (address < count) {
        const std::size_t n = std::min<std::size_t>(32, count - address);
        Bytes data(n);
        for (std::size_t i = 0; i < n; ++i) {
            data[i] = static_cast<std::uint8_t>((address + i) * 7 + 3);
        }
        text += dataRecord(static_cast<std::uint16_t>(address), data) + "\n";
        address += n;
    }
    return text + kEndRecord + "\n";
}

}  // namespace hex_text
