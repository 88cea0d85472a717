// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The chooser's logic without a window: file types, masks, listings, directory entries, the
// shortened path label and the volumes.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "dialogs/ChooserModel.h"
#include "dialogs/Volumes.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestMountTable.h"

using namespace dialogs;

namespace {

void makeFile(const QString &path) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
}

int characters(const QString &text) {
    return static_cast<int>(text.size());
}

}  // namespace

TEST(ChooserFilter, SplitsIntoThreeTypesInOrder) {
    QStringList parts;
    for (const FileType &type : splitFilter(QString::fromLatin1(kChooserFilter))) {
        parts << type.description << type.mask;
    }
    EXPECT_EQ(parts, (QStringList{"HEX files(*.hex)", "*.hex", "Binary files(*.bin)", "*.bin",
                                  "All files (*.*)", "*.*"}));
    EXPECT_EQ(splitFilter(QStringLiteral("A|*.a|B")).size(), 1u) << "a lone description is dropped";
}

TEST(ChooserMask, MatchesNames) {
    struct Case {
        const char *name;
        const char *mask;
        bool matches;
    };
    const Case cases[] = {
        {"fw.hex", "*.hex", true},
        {"FW.HEX", "*.hex", true},
        {"fw.hex2", "*.hex", false},
        {"hex", "*.hex", false},
        {"a.b.hex", "*.hex", true},
        {"fw.hex", "*.bin;*.hex", true},
        {"fw.bin", " *.hex ; *.bin ", true},
        {"fw.asc", "*.bin;*.hex", false},
        {"notes", "*.*", true},
        {".hidden", "*.*", true},
        {"notes", "*", true},
        {"fw01.hex", "fw??.hex", true},
        {"fw1.hex", "fw??.hex", false},
        {"fw.hex", "", false},
        {"fw.hex", ";", false},
        {"aXbXc", "a*b*c", true},
        {"abcbd", "a*bd", true},
        {"abcbe", "a*bd", false},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(matchesMask(QString::fromLatin1(c.name), QString::fromLatin1(c.mask)), c.matches)
            << c.name << " against " << c.mask;
    }
}

TEST(ChooserListing, FilesAndDirectoriesOfADirectory) {
    QTemporaryDir tree;
    ASSERT_TRUE(tree.isValid());
    const QString dir = tree.path();
    for (const char *name : {"b.hex", "A.HEX", "a.hex", "c.bin", "notes", ".hidden.hex"}) {
        makeFile(dir + u'/' + QString::fromLatin1(name));
    }
    for (const char *name : {"sub.hex", "Zeta", "alpha", ".cache"}) {
        ASSERT_TRUE(QDir(dir).mkdir(QString::fromLatin1(name)));
    }
    ASSERT_TRUE(QFile::link(dir + QStringLiteral("/gone"), dir + QStringLiteral("/broken.hex")));
    ASSERT_EQ(mkfifo(QFile::encodeName(dir + QStringLiteral("/pipe.hex")).constData(), 0600), 0);

    EXPECT_EQ(listFiles(dir, QStringLiteral("*.hex")), (QStringList{"A.HEX", "a.hex", "b.hex"}));
    EXPECT_EQ(listFiles(dir, QStringLiteral("*.*")),
              (QStringList{"A.HEX", "a.hex", "b.hex", "c.bin", "notes"}));
    EXPECT_EQ(listFiles(dir, QStringLiteral("*.bin;*.hex")),
              (QStringList{"A.HEX", "a.hex", "b.hex", "c.bin"}));
    EXPECT_EQ(listSubdirectories(dir), (QStringList{"alpha", "sub.hex", "Zeta"}));
    EXPECT_TRUE(listFiles(dir + QStringLiteral("/missing"), QStringLiteral("*.*")).isEmpty());
}

TEST(ChooserDirectoryList, RootPathCurrentAndSubdirectories) {
    QTemporaryDir tree;
    ASSERT_TRUE(tree.isValid());
    const QString root = QDir(tree.path()).canonicalPath();
    ASSERT_TRUE(QDir(root).mkpath(QStringLiteral("a/b/y")));
    ASSERT_TRUE(QDir(root).mkpath(QStringLiteral("a/b/x")));
    ASSERT_TRUE(QDir(root).mkpath(QStringLiteral("a/b/.git")));

    const std::vector<DirectoryEntry> entries =
        directoryEntries(root, root + QStringLiteral("/a/b"));
    ASSERT_EQ(entries.size(), 5u);
    const auto expect = [&](size_t i, const QString &text, const QString &path, EntryKind kind,
                            int level) {
        EXPECT_EQ(entries[i].text, text) << i;
        EXPECT_EQ(entries[i].path, path) << i;
        EXPECT_EQ(entries[i].kind, kind) << i;
        EXPECT_EQ(entries[i].level, level) << i;
    };
    expect(0, root, root, EntryKind::OpenFolder, 0);
    expect(1, QStringLiteral("a"), root + QStringLiteral("/a"), EntryKind::OpenFolder, 1);
    expect(2, QStringLiteral("b"), root + QStringLiteral("/a/b"), EntryKind::CurrentFolder, 2);
    expect(3, QStringLiteral("x"), root + QStringLiteral("/a/b/x"), EntryKind::ClosedFolder, 3);
    expect(4, QStringLiteral("y"), root + QStringLiteral("/a/b/y"), EntryKind::ClosedFolder, 3);

    // At the root itself the root is the current entry.
    const std::vector<DirectoryEntry> atRoot = directoryEntries(root, root);
    ASSERT_EQ(atRoot.size(), 2u);
    EXPECT_EQ(atRoot[0].kind, EntryKind::CurrentFolder);
    EXPECT_EQ(atRoot[1].text, QStringLiteral("a"));
    EXPECT_EQ(atRoot[1].level, 1);

    // A directory outside the given root is shown from "/".
    const std::vector<DirectoryEntry> outside =
        directoryEntries(root + QStringLiteral("/a/b"), root + QStringLiteral("/a"));
    EXPECT_EQ(outside.front().text, QStringLiteral("/"));
    EXPECT_EQ(outside.front().kind, EntryKind::OpenFolder);
}

TEST(ChooserPathLabel, MiddleDirectoriesGiveWayToDots) {
    const QString path = QStringLiteral("/aaaa/bbbb/cccc/dddd");
    EXPECT_EQ(shortenPath(path, 20, characters), path) << "fits as it is";
    EXPECT_EQ(shortenPath(path, 19, characters), QStringLiteral("/.../bbbb/cccc/dddd"));
    EXPECT_EQ(shortenPath(path, 18, characters), QStringLiteral("/.../cccc/dddd"));
    EXPECT_EQ(shortenPath(path, 13, characters), QStringLiteral("/.../dddd"));
    EXPECT_EQ(shortenPath(path, 3, characters), QStringLiteral("/.../dddd"))
        << "the last name is always kept";
    EXPECT_EQ(shortenPath(QStringLiteral("/averyveryverylongname"), 5, characters),
              QStringLiteral("/averyveryverylongname"));
}

TEST(ChooserVolumes, KindsAndCaptions) {
    EXPECT_EQ(classifyVolume("ext4", "/dev/sda1", false), VolumeKind::Fixed);
    EXPECT_EQ(classifyVolume("vfat", "/dev/sdb1", true), VolumeKind::Removable);
    EXPECT_EQ(classifyVolume("iso9660", "/dev/sr0", true), VolumeKind::Cd);
    EXPECT_EQ(classifyVolume("udf", "/dev/loop3", false), VolumeKind::Cd);
    EXPECT_EQ(classifyVolume("tmpfs", "tmpfs", false), VolumeKind::Ram);
    EXPECT_EQ(classifyVolume("nfs4", "server:/export", false), VolumeKind::Network);
    EXPECT_EQ(classifyVolume("cifs", "//server/share", false), VolumeKind::Network);
    EXPECT_EQ(classifyVolume("fuse.sshfs", "me@host:", false), VolumeKind::Network);

    const std::pair<Volume, const char *> captions[] = {
        {{"/", "SYSTEM", "/dev/sda1", VolumeKind::Fixed}, "/ [SYSTEM]"},
        {{"/home", "", "/dev/sda2", VolumeKind::Fixed}, "/home"},
        {{"/media/cd", "FW_DISC", "/dev/sr0", VolumeKind::Cd}, "/media/cd [FW_DISC]"},
        {{"/run/shm", "", "tmpfs", VolumeKind::Ram}, "/run/shm"},
        {{"/mnt/fw", "", "//server/firmware", VolumeKind::Network}, "/mnt/fw //server/firmware"},
        {{"/media/stick", "STICK", "/dev/sdb1", VolumeKind::Removable}, "/media/stick"},
    };
    for (const auto &[volume, caption] : captions) {
        EXPECT_EQ(volumeCaption(volume), QString::fromLatin1(caption));
    }
}

TEST(ChooserVolumes, MountTableSortedOnceAndTheDeepestVolumeHoldsAPath) {
    using platform::MountEntry;
    const MountEntry stick{"/media/stick", "STICK", "/dev/sdb1", "vfat", true};
    const testing_support::TestMountTable table({
        stick,
        {"/", "SYSTEM", "/dev/sda1", "ext4", false},
        stick,
        {"/mnt/fw", "", "//server/firmware", "cifs", false},
        {"/media/stick/cd", "FW_DISC", "/dev/sr0", "iso9660", true},
    });
    QStringList roots;
    std::vector<VolumeKind> kinds;
    for (const Volume &volume : mountedVolumes()) {
        roots << volume.rootPath;
        kinds.push_back(volume.kind);
    }
    EXPECT_EQ(roots, (QStringList{"/", "/media/stick", "/media/stick/cd", "/mnt/fw"}));
    EXPECT_EQ(kinds, (std::vector{VolumeKind::Fixed, VolumeKind::Removable, VolumeKind::Cd,
                                  VolumeKind::Network}));

    const std::pair<const char *, const char *> holders[] = {
        {"/media/stick/fw/lix0101.hex", "/media/stick"},
        {"/media/stick/cd", "/media/stick/cd"},
        {"/media/stick/cdrom", "/media/stick"},
        {"/mnt/fw/", "/mnt/fw"},
        {"/mnt/fwold", "/"},
    };
    for (const auto &[path, root] : holders) {
        EXPECT_EQ(volumeOf(QString::fromLatin1(path)).rootPath, QString::fromLatin1(root)) << path;
    }
    EXPECT_EQ(volumeOf("/media/stick/fw").label, QStringLiteral("STICK"));
}

TEST(ChooserVolumes, WithoutAVolumeForTheRootTheRootStandsIn) {
    // A build chroot that is not a mount point: the table lists nothing that holds its folders.
    const testing_support::TestMountTable table({{"/proc", "", "proc", "proc", false}});
    const Volume holder = volumeOf(QDir::tempPath());
    EXPECT_EQ(holder.rootPath, QStringLiteral("/"));
    EXPECT_EQ(holder.kind, VolumeKind::Fixed);
}

TEST(ChooserVolumes, TheHostsTableListsDirectoriesOnly) {
    for (const platform::MountEntry &entry : platform::mountTable().mounted()) {
        EXPECT_TRUE(QFileInfo(entry.rootPath).isDir()) << entry.rootPath.toStdString();
    }
}

TEST(ChooserVolumes, EachVolumeRemembersItsLastDirectory) {
    QTemporaryDir tree;
    ASSERT_TRUE(tree.isValid());
    const QString one = tree.path() + QStringLiteral("/one");
    const QString two = tree.path() + QStringLiteral("/two");
    ASSERT_TRUE(QDir().mkpath(one));
    ASSERT_TRUE(QDir().mkpath(two));
    LastDirectories last;
    EXPECT_EQ(last.directoryFor(QStringLiteral("/")), QStringLiteral("/")) << "new: its root";
    last.remember(QStringLiteral("/"), one);
    last.remember(QStringLiteral("/media/stick"), QStringLiteral("/media/stick/fw"));
    last.remember(QStringLiteral("/"), two);
    EXPECT_EQ(last.directoryFor(QStringLiteral("/")), two);
    ASSERT_TRUE(QDir(two).removeRecursively());
    EXPECT_EQ(last.directoryFor(QStringLiteral("/")), QStringLiteral("/")) << "gone: the root";
}
