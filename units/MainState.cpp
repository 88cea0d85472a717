// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "units/MainState.h"

#include "platform/Platform.h"

namespace units {

void MainState::allocateBuffers() {
    aspi::LowBuffers buffers;
    if (!aspi::allocateLowBuffers(buffers)) {
        platform::messageBox(aspi::kLowMemoryMessage, std::nullopt, platform::Icon::Error);
        platform::exitProcess(1);
    }
    InquiryData = buffers.InquiryData;
    DownloadImage = buffers.DownloadImage;
}

}  // namespace units
