// SPDX-License-Identifier: GPL-2.0-or-later
// The kernel seam over the packaged SCSI pass-through library (sg_pt.h), which issues SG_IO on
// Linux and knows the differences between the generic driver's interface versions.
#pragma once

#include "managers/sg/PassThrough.h"

namespace sg {

class SgUtilsPassThrough final : public PassThrough {
  public:
    // Opens with O_RDWR | O_NONBLOCK, so that a unit held exclusively elsewhere does not block
    // the open, then clears O_NONBLOCK again for the commands. A read-write open is what lets the
    // kernel pass WRITE BUFFER for a member of the device's group.
    int open(const std::string &path) override;
    void close(int handle) override;
    int openNode(const std::string &path, int flags) override;
    PassThroughResult run(int handle, const PassThroughCommand &command) override;
};

}  // namespace sg
