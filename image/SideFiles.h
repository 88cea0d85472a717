// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The two side files written beside the HEX file on every update: the .bin copy of the image
// and the .asc dump of it.
//
// .bin: ImageLength as 4 bytes, little-endian, then the ImageLength image bytes.
// .asc: 16 image bytes to a line, each as "%02X " ("%02X   " for the 8th, "%02X    " for the
// 16th), then the 16 bytes themselves as raw characters (0x0A and 0x13 shown as ".") and "\n".
// A last line of k < 16 bytes holds only its hex fields: no characters and no line feed.
#pragma once

#include <cstdint>
#include <string>

#include "image/UpdateFiles.h"

namespace image {

// Writes the .bin file of the image to the new .bin file of `files` and puts it on the disk
// (fsync). A write or sync error shows "Can not write the .BIN file !" (warning icon, no
// caption) and gives false.
bool WriteBinFile(UpdateFiles &files, const std::uint8_t *image, std::uint32_t imageLength);

// Writes the .asc dump of the image to the new .asc file of `files` and puts it on the disk. A
// write or sync error shows "Can not write the .ASC file !" (warning icon, no caption) and gives
// false.
bool WriteAscDump(UpdateFiles &files, const std::uint8_t *image, std::uint32_t imageLength);

// Once both are written: puts both new files in place of the previous pair, all or nothing
// (UpdateFiles::replaceSideFiles), then puts their folders' entries on the disk. A file that
// cannot be put in place (closed, or renamed) shows "Can not write the .BIN file !" or "Can not
// write the .ASC file !", a folder that cannot be synced the .BIN message; each gives false.
bool ReplaceSideFiles(UpdateFiles &files);

// The text of the .asc dump of `imageLength` bytes at `image`.
std::string formatAscDump(const std::uint8_t *image, std::uint32_t imageLength);

}  // namespace image
