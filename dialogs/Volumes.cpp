// SPDX-License-Identifier: GPL-2.0-or-later
#include "dialogs/Volumes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>
#include <algorithm>
#include <array>

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

// The block layer says per disk whether its media can be removed; a partition asks its disk.
bool deviceIsRemovable(const QString &device) {
    if (!device.startsWith(QStringLiteral("/dev/"))) {
        return false;
    }
    const QString node = QFileInfo(device).canonicalFilePath();
    const QString name = QFileInfo(node.isEmpty() ? device : node).fileName();
    const QString block = QFileInfo(QStringLiteral("/sys/class/block/") + name).canonicalFilePath();
    if (block.isEmpty()) {
        return false;
    }
    for (const QString &flag : {block + QStringLiteral("/removable"),
                                QFileInfo(block).path() + QStringLiteral("/removable")}) {
        QFile file(flag);
        if (file.open(QIODevice::ReadOnly)) {
            return file.readAll().trimmed() == "1";
        }
    }
    return false;
}

Volume fromStorage(const QStorageInfo &storage) {
    const QString type = QString::fromLatin1(storage.fileSystemType());
    const QString device = QString::fromLocal8Bit(storage.device());
    return {storage.rootPath(), storage.name(), device,
            classifyVolume(type, device, deviceIsRemovable(device))};
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
    for (const QStorageInfo &storage : QStorageInfo::mountedVolumes()) {
        // Bind mounts of single files (common in containers) are no place to browse.
        if (!storage.isValid() || !storage.isReady() || !QFileInfo(storage.rootPath()).isDir()) {
            continue;
        }
        const bool known = std::any_of(volumes.begin(), volumes.end(), [&](const Volume &v) {
            return v.rootPath == storage.rootPath();
        });
        if (!known) {
            volumes.push_back(fromStorage(storage));
        }
    }
    std::sort(volumes.begin(), volumes.end(),
              [](const Volume &a, const Volume &b) { return a.rootPath < b.rootPath; });
    return volumes;
}

Volume volumeOf(const QString &path) {
    const QStorageInfo storage(path);
    if (!storage.isValid()) {
        return {QStringLiteral("/"), QString(), QString(), VolumeKind::Fixed};
    }
    return fromStorage(storage);
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
