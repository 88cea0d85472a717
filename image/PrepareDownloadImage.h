// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The image part of an update in one call: file names, the three files, the image, both side
// files, in the order the update runs them.
#pragma once

#include <cstdint>
#include <string>

namespace image {

// From the name picked in the file chooser (a bare name, resolved against the current
// directory): DeriveFileNames, OpenUpdateFiles, BuildDownloadImage, WriteBinFile, WriteAscDump,
// ReplaceSideFiles, then closes every file. `image` is the low-memory buffer of
// aspi::kImageBufferSize bytes.
//
// Returns true when the image is built and both side files are written: `image` then holds the
// image and `imageLength` its length, ready to send. Returns false when any step refuses (that
// step has shown its warning message box and no later step runs); `image` is then all zero and
// `imageLength` 0, so nothing of a refused or half-written update can be sent, and the previous
// side files stay as they were, with no temporary file left beside them.
// When the image is ready, `hexFile` (when given) names the HEX file that was read: the path it
// was opened by, and the SHA-256 of its bytes as read through the same descriptor.
struct HexFileFacts {
    std::string path;
    std::string sha256;  // lower-case hex
};
bool prepareDownloadImage(const std::string &chosenName, std::uint8_t *image,
                          std::uint32_t &imageLength, HexFileFacts *hexFile = nullptr);

}  // namespace image
