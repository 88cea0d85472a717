// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "platform/MountTable.h"

#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

namespace platform {

namespace {

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

class SystemMountTable : public MountTable {
  public:
    std::vector<MountEntry> mounted() const override {
        std::vector<MountEntry> entries;
        for (const QStorageInfo &storage : QStorageInfo::mountedVolumes()) {
            // Bind mounts of single files (common in containers) are no place to browse.
            if (!storage.isValid() || !storage.isReady() ||
                !QFileInfo(storage.rootPath()).isDir()) {
                continue;
            }
            const QString device = QString::fromLocal8Bit(storage.device());
            entries.push_back({storage.rootPath(), storage.name(), device,
                               QString::fromLatin1(storage.fileSystemType()),
                               deviceIsRemovable(device)});
        }
        return entries;
    }
};

const SystemMountTable g_systemTable;
const MountTable *g_table = nullptr;

}  // namespace

const MountTable &mountTable() {
    return g_table != nullptr ? *g_table : g_systemTable;
}

void installMountTable(const MountTable *table) {
    g_table = table;
}

}  // namespace platform
