// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The kernel seam on Linux: the generic SCSI driver's SG_IO with its version 3 header
// (<scsi/sg.h>), filled and read here field by field.
#pragma once

#include "managers/sg/PassThrough.h"

namespace sg {

class SgIoPassThrough final : public PassThrough {
  public:
    // Opens with O_RDWR | O_NONBLOCK, so that a unit held exclusively elsewhere does not block
    // the open, then clears O_NONBLOCK again for the commands. A read-write open is what lets the
    // kernel pass WRITE BUFFER for a member of the device's group.
    int open(const std::string &path) override;
    void close(int handle) override;
    int openNode(const std::string &path, int flags) override;
    // Issues SG_IO and reports the header's status byte, host and driver bytes, the sense bytes
    // the kernel wrote and its `resid` (bytes not moved), whichever way the data went. A failed
    // ioctl reports its errno; an interrupted one (EINTR) is not issued again, since the command
    // may already be on its way to the unit.
    PassThroughResult run(int handle, const PassThroughCommand &command) override;
};

}  // namespace sg
