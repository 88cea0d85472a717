// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// What the firmware file chooser knows without a window: its file types, how a mask matches a
// name, what a directory lists, the entries of the directory list and the shortened path label.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

namespace dialogs {

// The chooser's filter text: pairs of a description and a mask, separated by "|".
inline constexpr const char *kChooserFilter =
    "HEX files(*.hex)|*.hex|Binary files(*.bin)|*.bin|All files (*.*)|*.*";

struct FileType {
    QString description;  // the item shown in the file-type selector
    QString mask;         // the file list's mask while the item is selected
};

// Splits a filter text at "|" into description-mask pairs, in order. A description left without
// a mask at the end is dropped.
std::vector<FileType> splitFilter(const QString &filter);

// True if `name` matches one of the ";"-separated patterns of `mask` ("*" any run of characters,
// "?" one character), without regard to letter case as on the platform the files come from.
// "*.*" matches every name, with or without an extension. Blank patterns match nothing.
bool matchesMask(const QString &name, const QString &mask);

// Sorts names alphabetically without regard to letter case; names that differ only in case keep
// a fixed order (upper case first).
void sortNames(QStringList &names);

// The names (no path) of the regular files in `directory` that match `mask`, sorted. Directories,
// hidden (dot) files and special files (devices, sockets, broken links) are left out. An
// unreadable directory lists nothing.
QStringList listFiles(const QString &directory, const QString &mask);

// The names of the sub-directories of `directory`, sorted; hidden (dot) directories left out.
QStringList listSubdirectories(const QString &directory);

// The glyph table follows this order.
enum class EntryKind { OpenFolder, CurrentFolder, ClosedFolder };

struct DirectoryEntry {
    QString text;  // what the list shows: the root path, else the directory's own name
    QString path;  // the absolute directory it stands for
    EntryKind kind;
    int level;  // indentation: 0 for the root, one more per step down
};

// Whether the clean absolute `path` is `base` or lies below it.
bool isUnder(const QString &path, const QString &base);

// The directory list for `current` on the volume mounted at `root`: the root and every directory
// on the path down to `current` (open folders), `current` itself (current folder; the root when
// they are the same), then the sub-directories of `current` (closed folders, sorted). When
// `current` does not lie under `root`, the file-system root "/" stands in for `root`.
std::vector<DirectoryEntry> directoryEntries(const QString &root, const QString &current);

// `path` made to fit `maxWidth` as measured by `width`: the directories after the leading "/"
// are replaced by "..." one more at a time, from the top down, always keeping the last name
// ("/a/b/c/d" -> "/.../b/c/d" -> "/.../c/d" -> "/.../d"). A path that fits is returned as it is;
// when even "/.../<last>" does not fit, that is returned.
QString shortenPath(const QString &path, int maxWidth,
                    const std::function<int(const QString &)> &width);

}  // namespace dialogs
