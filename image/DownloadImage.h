// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The download image: a 46-byte header that describes the HEX file, the firmware bytes placed
// from its records, and a 4-byte EDC over those bytes. Numbers in the header are big-endian.
//
//   offset  size  field
//   0       13    HexFileName  HEX name, zero-terminated, zero-filled (12 characters at most)
//   13      25    HexFileTime  last-write time, local, "Tue May 04 07:08:09 1999" and a zero
//   38      4     HexFileSize  size of the HEX file in bytes
//   42      4     DataLength   number D of data bytes
//   46      D     data
//   46 + D  4     Edc          ComputeEdc of the data, least significant byte first
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

#include "image/UpdateFiles.h"

namespace image {

inline constexpr std::size_t kHexFileNameOffset = 0;
inline constexpr std::size_t kHexFileNameSize = 13;
inline constexpr std::size_t kHexFileTimeOffset = 13;
inline constexpr std::size_t kHexFileTimeLength = 24;
inline constexpr std::size_t kHexFileSizeOffset = 38;
inline constexpr std::size_t kDataLengthOffset = 42;
inline constexpr std::size_t kHeaderSize = 46;
inline constexpr std::size_t kEdcSize = 4;

// The 24-character time text of `local`: "Fri Dec 04 18:55:06 1998" (English names, day of
// month zero-padded, four-digit year).
std::string formatHexFileTime(const std::tm &local);

// Reads the open HEX file of `files` to its end and builds the image in `image`, a buffer of
// aspi::kImageBufferSize bytes (image capacity plus the spare byte), and sets `imageLength` to
// 50 + D. The header names `hexName` (cut to 12 characters) and takes size and last-write time
// from the open file. Every byte of the buffer past the EDC is zero. Writes the "." trace of
// ComputeEdc to standard output.
// A record that fails its checks, data beyond the image capacity or a read error is refused
// with a warning message box naming the fault (and the line, for a record); the buffer is then
// all zero, `imageLength` 0, and false is returned.
bool BuildDownloadImage(UpdateFiles &files, const std::string &hexName, std::uint8_t *image,
                        std::uint32_t &imageLength);

// Forgets an image: zeroes the whole buffer of `image` and sets `imageLength` to 0.
void discardImage(std::uint8_t *image, std::uint32_t &imageLength);

}  // namespace image
