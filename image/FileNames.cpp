// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "image/FileNames.h"

#include "platform/Platform.h"

namespace image {

bool DeriveFileNames(const std::string &chosenName, UpdateFileNames &names) {
    const std::string base = chosenName.substr(0, chosenName.find('.'));
    if (base.size() > kMaxBaseNameLength) {
        platform::messageBox(
            "The file name is too long: at most 15 characters may stand before the first \".\" !",
            std::nullopt, platform::Icon::Warning);
        return false;
    }
    names = UpdateFileNames{base + ".hex", base + ".bin", base + ".asc"};
    return true;
}

}  // namespace image
