// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "managers/sg/HeldUnit.h"

#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "aspi/AspiRecords.h"

namespace sg {

namespace {

void closeHandle(int &handle) {
    if (handle >= 0) {
        ::close(handle);
        handle = -1;
    }
}

}  // namespace

std::uint8_t holdUnit(PassThrough &nodes, const std::filesystem::path &devRoot,
                      const ScsiDevice &unit,
                      const std::function<void(const std::string &)> &report, HeldUnit &held) {
    HeldUnit taking;
    taking.lockHandle = nodes.openNode((devRoot / unit.name).string(), kLockFlags);
    if (taking.lockHandle < 0) {
        return aspi::SS_NO_DEVICE;
    }
    if (::flock(taking.lockHandle, LOCK_EX | LOCK_NB) != 0) {
        const bool busy = errno == EWOULDBLOCK;
        closeHandle(taking.lockHandle);
        return busy ? aspi::SS_ASPI_IS_BUSY : aspi::SS_NO_DEVICE;
    }
    if (!unit.blockName.empty()) {
        const std::string block = (devRoot / unit.blockName).string();
        taking.blockHandle = nodes.openNode(block, kBlockHoldFlags);
        if (taking.blockHandle == -EBUSY) {
            closeHandle(taking.lockHandle);
            return aspi::SS_ASPI_IS_BUSY;
        }
        if (taking.blockHandle < 0) {
            report("wnaspi32.DLL: cannot open " + block + " exclusively (" +
                   std::strerror(-taking.blockHandle) +
                   "); the kernel may poll the unit during the update");
            taking.blockHandle = -1;
        }
    }
    held = taking;
    return aspi::SS_COMP;
}

void releaseUnit(HeldUnit &held) {
    closeHandle(held.blockHandle);
    closeHandle(held.lockHandle);
}

bool heldElsewhere(PassThrough &nodes, const std::filesystem::path &devRoot,
                   const ScsiDevice &unit) {
    int handle = nodes.openNode((devRoot / unit.name).string(), kLockFlags);
    if (handle < 0) {
        return false;
    }
    const bool held = ::flock(handle, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    closeHandle(handle);
    return held;
}

}  // namespace sg
