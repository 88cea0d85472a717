// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "units/UnitLine.h"

#include <cstring>

namespace units {

namespace {

constexpr std::size_t kVendorOffset = 8;
constexpr std::size_t kProductOffset = 16;
constexpr std::size_t kRevisionOffset = 32;

// Fills a fixed-width table entry with the bytes of `source` up to their first NUL; the rest of
// the entry is NUL.
void storeText(char *entry, std::size_t width, const std::uint8_t *source) {
    const std::string_view text = entryText(reinterpret_cast<const char *>(source), width);
    std::memset(entry, 0, width);
    std::memcpy(entry, text.data(), text.size());
}

// Parses a decimal number of at most three digits at `pos`; advances `pos` past it.
bool readNumber(const std::string &text, std::size_t &pos, int &value) {
    constexpr std::size_t kMaxDigits = 3;  // adapter, own id and target are bytes
    const std::size_t start = pos;
    value = 0;
    while (pos < text.size() && pos - start < kMaxDigits && text[pos] >= '0' && text[pos] <= '9') {
        value = value * 10 + (text[pos] - '0');
        ++pos;
    }
    return pos > start;
}

bool readColon(const std::string &text, std::size_t &pos) {
    if (pos < text.size() && text[pos] == ':') {
        ++pos;
        return true;
    }
    return false;
}

}  // namespace

std::string_view entryText(const char *entry, std::size_t width) {
    const void *nul = std::memchr(entry, '\0', width);
    return {entry, nul == nullptr
                       ? width
                       : static_cast<std::size_t>(static_cast<const char *>(nul) - entry)};
}

void storeUnitTexts(UnitTable &units, int adapter, int target, const std::uint8_t *inquiry) {
    char *vendor = units.vendor[adapter][target];
    std::memcpy(vendor, inquiry + kVendorOffset, 8);
    vendor[8] = '\0';
    storeText(units.product[adapter][target], sizeof units.product[0][0], inquiry + kProductOffset);
    storeText(units.revision[adapter][target], sizeof units.revision[0][0],
              inquiry + kRevisionOffset);
}

std::string UnitLine(const UnitTable &units, int adapter, int ownId, int target) {
    std::string line =
        std::to_string(adapter) + ':' + std::to_string(ownId) + ':' + std::to_string(target);
    line.append(9, ' ');
    line.append(entryText(units.vendor[adapter][target], 8));
    line.append(7, ' ');
    line.append(entryText(units.product[adapter][target], sizeof units.product[0][0]));
    line.append(5, ' ');
    line.append(entryText(units.revision[adapter][target], sizeof units.revision[0][0]));
    return line;
}

bool DecodeUnitLine(const std::string &line, std::uint8_t &adapter, std::uint8_t &target) {
    std::size_t pos = 0;
    int adapterNumber = 0;
    int ownId = 0;
    int targetId = 0;
    if (!readNumber(line, pos, adapterNumber) || !readColon(line, pos) ||
        !readNumber(line, pos, ownId) || !readColon(line, pos) ||
        !readNumber(line, pos, targetId)) {
        return false;
    }
    // The blanks after the target id end the address.
    if (pos < line.size() && line[pos] != ' ') {
        return false;
    }
    if (adapterNumber >= kTableAdapters || targetId >= kTableTargets) {
        return false;
    }
    adapter = static_cast<std::uint8_t>(adapterNumber);
    target = static_cast<std::uint8_t>(targetId);
    return true;
}

}  // namespace units
