// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The "drives" of the file chooser: the machine's mounted volumes, how each one is named and
// which kind of glyph it gets, and the directory each was last left in.
#pragma once

#include <QString>
#include <map>
#include <vector>

namespace dialogs {

// The glyph table follows this order.
enum class VolumeKind { Fixed, Removable, Cd, Ram, Network };

struct Volume {
    QString rootPath;  // the mount point
    QString label;     // the volume label; may be empty
    QString device;    // the device, or the network source of a network volume
    VolumeKind kind = VolumeKind::Fixed;
};

// The kind of a volume from its file-system type, its device and whether the device reports
// removable media. Network file systems win, then optical ones, then memory ones.
VolumeKind classifyVolume(const QString &fileSystemType, const QString &device, bool removable);

// The selector's text: the root path, then for a local volume (fixed, CD, RAM) its label in
// square brackets, for a network volume its device; a removable volume shows its root alone, and
// an empty label adds nothing.
QString volumeCaption(const Volume &volume);

// The mounted volumes of the platform's mount table (platform/MountTable.h), sorted by root
// path, each root once.
std::vector<Volume> mountedVolumes();

// The volume that holds `path`: the deepest of mountedVolumes() whose root is above it; "/" as a
// fixed volume when there is none (a chroot that is not a mount point lists no volume for "/").
Volume volumeOf(const QString &path);

// Remembers, per volume root, the directory last shown on that volume, for as long as the
// program runs.
class LastDirectories {
  public:
    void remember(const QString &root, const QString &directory);
    // The directory last remembered for `root` if it still exists, else `root` itself.
    QString directoryFor(const QString &root) const;

  private:
    std::map<QString, QString> m_directories;
};

}  // namespace dialogs
