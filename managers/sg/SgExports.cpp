// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The real drive-access manager over the kernel's SCSI pass-through, built as wnaspi32.DLL in the
// folder named by the executable's RUNPATH. It exports exactly the two entry points every manager
// defines, the unit hold's two, the scan report and the units' transport (SgEntryPoints.cpp), and
// nothing else. It reads /sys and opens /dev/sgN read-write (and for a hold /dev/srN); it reads no
// variable of its own.
#include "managers/sg/ModuleManager.h"
#include "managers/sg/SgIoPassThrough.h"

namespace sg {

// Built on first use and kept until the process ends.
SgManager &moduleManager() {
    static SgIoPassThrough passThrough;
    static SgManager instance(SgConfig{}, passThrough);
    return instance;
}

}  // namespace sg
