// SPDX-License-Identifier: GPL-2.0-or-later
#include "image/PrepareDownloadImage.h"

#include "image/DownloadImage.h"
#include "image/FileNames.h"
#include "image/SideFiles.h"
#include "image/UpdateFiles.h"

namespace image {

bool prepareDownloadImage(const std::string &chosenName, std::uint8_t *image,
                          std::uint32_t &imageLength) {
    UpdateFileNames names;
    UpdateFiles files;
    const bool ready = DeriveFileNames(chosenName, names) && OpenUpdateFiles(names, files) &&
                       BuildDownloadImage(files, names.HexName, image, imageLength) &&
                       WriteBinFile(files, image, imageLength) &&
                       WriteAscDump(files, image, imageLength) && ReplaceSideFiles(files);
    files.close();
    if (!ready) {
        discardImage(image, imageLength);
    }
    return ready;
}

}  // namespace image
