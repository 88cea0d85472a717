// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "dialogs/ChooserModel.h"

#include <QDir>
#include <algorithm>

namespace dialogs {

namespace {

bool sameLetter(QChar a, QChar b) {
    return a == b || a.toCaseFolded() == b.toCaseFolded();
}

// Wildcard match with "*" and "?"; a failed match after a "*" retries with the star taking one
// more character.
bool wildcardMatch(QStringView pattern, QStringView name) {
    qsizetype p = 0;
    qsizetype n = 0;
    qsizetype star = -1;
    qsizetype starName = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == u'*') {
            star = p++;
            starName = n;
        } else if (p < pattern.size() && (pattern[p] == u'?' || sameLetter(pattern[p], name[n]))) {
            ++p;
            ++n;
        } else if (star >= 0) {
            p = star + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*') {
        ++p;
    }
    return p == pattern.size();
}

QString joinPath(const QString &directory, const QString &name) {
    return directory.endsWith(u'/') ? directory + name : directory + u'/' + name;
}

}  // namespace

std::vector<FileType> splitFilter(const QString &filter) {
    const QStringList parts = filter.split(u'|');
    std::vector<FileType> types;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        types.push_back({parts[i], parts[i + 1]});
    }
    return types;
}

bool matchesMask(const QString &name, const QString &mask) {
    for (const QString &part : mask.split(u';')) {
        const QString pattern = part.trimmed();
        if (pattern.isEmpty()) {
            continue;
        }
        if (pattern == QStringLiteral("*.*") || wildcardMatch(pattern, name)) {
            return true;
        }
    }
    return false;
}

void sortNames(QStringList &names) {
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        const int folded = a.compare(b, Qt::CaseInsensitive);
        return folded != 0 ? folded < 0 : a.compare(b, Qt::CaseSensitive) < 0;
    });
}

QStringList listFiles(const QString &directory, const QString &mask) {
    // Without QDir::Hidden dot files stay out, without QDir::System special files and broken
    // links do.
    QStringList names;
    for (const QString &name : QDir(directory).entryList(QDir::Files | QDir::NoDotAndDotDot)) {
        if (!name.startsWith(u'.') && matchesMask(name, mask)) {
            names.append(name);
        }
    }
    sortNames(names);
    return names;
}

QStringList listSubdirectories(const QString &directory) {
    QStringList names;
    for (const QString &name : QDir(directory).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (!name.startsWith(u'.')) {
            names.append(name);
        }
    }
    sortNames(names);
    return names;
}

bool isUnder(const QString &path, const QString &base) {
    return path == base || base == QStringLiteral("/") || path.startsWith(base + u'/');
}

std::vector<DirectoryEntry> directoryEntries(const QString &root, const QString &current) {
    const QString here = QDir::cleanPath(current);
    QString base = QDir::cleanPath(root);
    if (base.isEmpty() || !isUnder(here, base)) {
        base = QStringLiteral("/");
    }
    const QStringList steps = here.mid(base.size()).split(u'/', Qt::SkipEmptyParts);

    std::vector<DirectoryEntry> entries;
    entries.push_back(
        {base, base, steps.isEmpty() ? EntryKind::CurrentFolder : EntryKind::OpenFolder, 0});
    QString path = base;
    for (qsizetype i = 0; i < steps.size(); ++i) {
        path = joinPath(path, steps[i]);
        const bool last = i + 1 == steps.size();
        entries.push_back({steps[i], path, last ? EntryKind::CurrentFolder : EntryKind::OpenFolder,
                           static_cast<int>(i + 1)});
    }
    const int childLevel = static_cast<int>(steps.size()) + 1;
    for (const QString &name : listSubdirectories(here)) {
        entries.push_back({name, joinPath(here, name), EntryKind::ClosedFolder, childLevel});
    }
    return entries;
}

QString shortenPath(const QString &path, int maxWidth,
                    const std::function<int(const QString &)> &width) {
    if (width(path) <= maxWidth) {
        return path;
    }
    const QStringList parts = path.split(u'/', Qt::SkipEmptyParts);
    if (parts.size() < 2) {
        return path;
    }
    const QString lead = path.startsWith(u'/') ? QStringLiteral("/...") : QStringLiteral("...");
    QString candidate;
    for (qsizetype dropped = 1; dropped < parts.size(); ++dropped) {
        candidate = lead;
        for (qsizetype i = dropped; i < parts.size(); ++i) {
            candidate += u'/' + parts[i];
        }
        if (width(candidate) <= maxWidth) {
            break;
        }
    }
    return candidate;
}

}  // namespace dialogs
