// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// Holding a unit for an update through its own device nodes, so that nothing but the update
// reaches it:
//   - its block device (/dev/srN), opened read-write, exclusive and non-blocking: the kernel stops
//     polling a disk for media events while it has an exclusive writer (a poll during the store
//     time takes the unit attention the drive raises for its new firmware), a mount gets EBUSY,
//     and recording programs, which open exclusively too, are kept out;
//   - an exclusive flock on its generic node (/dev/sgN), through a descriptor of its own: another
//     copy of the manager neither holds the unit nor scans it while the lock is held.
// A unit without a block device (the sr driver not loaded: nothing polls it) is held by the lock
// alone. Only a process allowed to use the unit can take either.
#pragma once

#include <fcntl.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "managers/sg/PassThrough.h"
#include "managers/sg/SysfsScan.h"

namespace sg {

// The descriptors of one hold; -1 where none is open.
struct HeldUnit {
    int lockHandle = -1;   // the generic node, flock'ed exclusively
    int blockHandle = -1;  // the block device, open exclusively
};

// Flags of the block device's open: exclusive writer, no wait for a medium, never inherited by a
// program this process starts.
inline constexpr int kBlockHoldFlags = O_RDWR | O_NONBLOCK | O_EXCL | O_CLOEXEC;
// Flags of the generic node's own descriptor for the lock (flock needs no more than read).
inline constexpr int kLockFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC;

// Takes the hold of `unit`, whose nodes are under `devRoot`. Returns SS_COMP with `held` filled,
// SS_ASPI_IS_BUSY when another process holds the unit (its lock, or the block device open
// exclusively: a mount, a recording program), or SS_NO_DEVICE when the generic node cannot be
// opened; nothing is held then. A block device that cannot be opened for another reason
// (permissions, no node) is reported through `report` and left out.
std::uint8_t holdUnit(PassThrough &nodes, const std::filesystem::path &devRoot,
                      const ScsiDevice &unit,
                      const std::function<void(const std::string &)> &report, HeldUnit &held);

// Closes what holdUnit opened and clears `held`.
void releaseUnit(HeldUnit &held);

// Another process holds the unit: its generic node cannot be locked shared. A node that cannot be
// opened counts as not held (the unit is reported elsewhere if it matters).
bool heldElsewhere(PassThrough &nodes, const std::filesystem::path &devRoot,
                   const ScsiDevice &unit);

}  // namespace sg
