// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The three file names of one update, derived from the name picked in the file chooser.
#pragma once

#include <cstddef>
#include <string>

namespace image {

// Longest base name: the names are kept in 20-byte buffers ("name.hex" and its terminator).
inline constexpr std::size_t kMaxBaseNameLength = 15;

struct UpdateFileNames {
    std::string HexName;  // base + ".hex", read
    std::string BinName;  // base + ".bin", written
    std::string AscName;  // base + ".asc", written
};

// Cuts `chosenName` (a bare file name, resolved later against the current directory) at its
// first "." and gives base + ".hex", ".bin" and ".asc" in `names`: FW01.HEX gives FW01.hex,
// fw.old.hex gives fw.hex, WOL123 gives WOL123.hex. A base name longer than kMaxBaseNameLength
// is refused with a warning message box; `names` is then left unchanged and false returned.
bool DeriveFileNames(const std::string &chosenName, UpdateFileNames &names);

}  // namespace image
