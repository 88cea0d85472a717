// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The host's mounted file systems, as the file chooser lists them. The program reads them only
// through platform::mountTable(), so tests can install a table of their own: what the real one
// holds depends on where a test runs (a build chroot that is not a mount point lists no file
// system holding its own folders).
#pragma once

#include <QString>
#include <vector>

namespace platform {

struct MountEntry {
    QString rootPath;             // the mount point
    QString label;                // the file system's label; may be empty
    QString device;               // the device, or the source of a network file system
    QString fileSystemType;       // as the kernel names it: "ext4", "iso9660", "nfs4", ...
    bool removableMedia = false;  // the device's disk reports media that can be removed
};

class MountTable {
  public:
    virtual ~MountTable() = default;
    // The mounted file systems that are ready and whose root is a directory, in the host's order;
    // a root may appear more than once.
    virtual std::vector<MountEntry> mounted() const = 0;
};

// The table in force: the host's own unless a test installed another.
const MountTable &mountTable();
// Installs a table (not owned); nullptr restores the host's.
void installMountTable(const MountTable *table);

}  // namespace platform
