// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "dialogs/Volumes.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <array>

#include "dialogs/ChooserModel.h"
#include "platform/MountTable.h"

namespace dialogs {

namespace {

constexpr std::array kNetworkFileSystems{
    "nfs",  "nfs4",      "cifs",  "smb3",       "smbfs",       "ncpfs",      "afs",      "9p",
    "ceph", "glusterfs", "davfs", "fuse.sshfs", "fuse.rclone", "fuse.davfs", "fuse.s3fs"};
constexpr std::array kOpticalFileSystems{"iso9660", "udf"};
constexpr std::array kMemoryFileSystems{"tmpfs", "ramfs"};

template <typename Names>
bool isOneOf(const QString &type, const Names &names) {
    return std::any_of(names.begin(), names.end(),
                       [&type](const char *name) { return type == QLatin1String(name); });
}

Volume fromEntry(const platform::MountEntry &entry) {
    return {entry.rootPath, entry.label, entry.device,
            classifyVolume(entry.fileSystemType, entry.device, entry.removableMedia)};
}

}  // namespace

VolumeKind classifyVolume(const QString &fileSystemType, const QString &device, bool removable) {
    if (isOneOf(fileSystemType, kNetworkFileSystems)) {
        return VolumeKind::Network;
    }
    if (isOneOf(fileSystemType, kOpticalFileSystems) ||
        device.startsWith(QStringLiteral("/dev/sr"))) {
        return VolumeKind::Cd;
    }
    if (isOneOf(fileSystemType, kMemoryFileSystems)) {
        return VolumeKind::Ram;
    }
    return removable ? VolumeKind::Removable : VolumeKind::Fixed;
}

QString volumeCaption(const Volume &volume) {
    switch (volume.kind) {
        case VolumeKind::Network:
            return volume.device.isEmpty() ? volume.rootPath
                                           : volume.rootPath + u' ' + volume.device;
        case VolumeKind::Removable:
            return volume.rootPath;
        case VolumeKind::Fixed:
        case VolumeKind::Cd:
        case VolumeKind::Ram:
            break;
    }
    return volume.label.isEmpty() ? volume.rootPath
                                  : volume.rootPath + QStringLiteral(" [") + volume.label + u']';
}

std::vector<Volume> mountedVolumes() {
    std::vector<Volume> volumes;
    for (const platform::MountEntry &entry : platform::mountTable().mounted()) {
        const bool known = std::any_of(volumes.begin(), volumes.end(), [&](const Volume &v) {
            return v.rootPath == entry.rootPath;
        });
        if (!known) {
            volumes.push_back(fromEntry(entry));
        }
    }
    std::sort(volumes.begin(), volumes.end(),
              [](const Volume &a, const Volume &b) { return a.rootPath < b.rootPath; });
    return volumes;
}

Volume volumeOf(const QString &path) {
    const QString canonical = QFileInfo(path).canonicalFilePath();
    const QString here = QDir::cleanPath(canonical.isEmpty() ? path : canonical);
    // Sorted by root, the volumes above `here` come outermost first.
    Volume holder{QStringLiteral("/"), QString(), QString(), VolumeKind::Fixed};
    for (Volume &volume : mountedVolumes()) {
        if (isUnder(here, volume.rootPath)) {
            holder = std::move(volume);
        }
    }
    return holder;
}

void LastDirectories::remember(const QString &root, const QString &directory) {
    m_directories[root] = directory;
}

QString LastDirectories::directoryFor(const QString &root) const {
    const auto found = m_directories.find(root);
    if (found != m_directories.end() && QFileInfo(found->second).isDir()) {
        return found->second;
    }
    return root;
}

}  // namespace dialogs
