// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "image/PrepareDownloadImage.h"

#include <unistd.h>

#include <QCryptographicHash>
#include <filesystem>
#include <system_error>

#include "image/DownloadImage.h"
#include "image/FileNames.h"
#include "image/SideFiles.h"
#include "image/UpdateFiles.h"

namespace image {

namespace {

// The HEX file as the open descriptor reads it, from its first byte.
HexFileFacts factsOf(int hex) {
    HexFileFacts facts;
    std::error_code error;
    facts.path =
        std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(hex), error).string();
    QCryptographicHash hash(QCryptographicHash::Sha256);
    char buffer[65536];
    off_t offset = 0;
    for (ssize_t got; (got = ::pread(hex, buffer, sizeof buffer, offset)) > 0; offset += got) {
        hash.addData(QByteArrayView(buffer, got));
    }
    facts.sha256 = hash.result().toHex().toStdString();
    return facts;
}

}  // namespace

bool prepareDownloadImage(const std::string &chosenName, std::uint8_t *image,
                          std::uint32_t &imageLength, HexFileFacts *hexFile) {
    UpdateFileNames names;
    UpdateFiles files;
    const bool ready = DeriveFileNames(chosenName, names) && OpenUpdateFiles(names, files) &&
                       BuildDownloadImage(files, names.HexName, image, imageLength) &&
                       WriteBinFile(files, image, imageLength) &&
                       WriteAscDump(files, image, imageLength) && ReplaceSideFiles(files);
    if (ready && hexFile != nullptr) {
        *hexFile = factsOf(files.hex());
    }
    files.close();
    if (!ready) {
        discardImage(image, imageLength);
    }
    return ready;
}

}  // namespace image
