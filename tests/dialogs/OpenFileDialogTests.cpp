// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The firmware file chooser on the offscreen platform, browsing a temporary directory tree that a
// mount table of the test's own lists as a volume beside "/". Each test starts in <tree>/start and
// puts the process's current directory back afterwards.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <optional>

#include "dialogs/ChooserGlyphs.h"
#include "dialogs/OpenFileForm.h"
#include "tests/support/GuiSupport.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestMountTable.h"

namespace {

QStringList texts(const QListWidget *list) {
    QStringList result;
    for (int i = 0; i < list->count(); ++i) {
        result.append(list->item(i)->text());
    }
    return result;
}

int rowOf(const QListWidget *list, const QString &text) {
    const QList<QListWidgetItem *> found = list->findItems(text, Qt::MatchExactly);
    return found.isEmpty() ? -1 : list->row(found.first());
}

}  // namespace

class Chooser : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_tree.isValid());
        root = QDir(m_tree.path()).canonicalPath();
        start = root + QStringLiteral("/start");
        for (const char *dir : {"start/alpha", "start/sub.hex", "start/zeta", "start/.cache"}) {
            ASSERT_TRUE(QDir(root).mkpath(QString::fromLatin1(dir)));
        }
        for (const char *file : {"start/b.hex", "start/A.HEX", "start/c.bin", "start/notes",
                                 "start/.hidden.hex", "start/alpha/fw.hex", "start/alpha/fw.bin"}) {
            QFile f(root + u'/' + QString::fromLatin1(file));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        }
        ASSERT_TRUE(QDir::setCurrent(start));
        m_volumes.emplace(
            std::vector<platform::MountEntry>{{"/", "SYSTEM", "/dev/sda1", "ext4", false},
                                              {root, "FIRMWARE", "/dev/sdb1", "vfat", true}});
    }

    void TearDown() override { QDir::setCurrent(m_saved); }

    // Shows the chooser modally; `whileUp` runs once it is up and must end the showing.
    static void showModally(TOpenFileDialog &dialog, const std::function<void()> &whileUp) {
        testing_support::whenModalShown([&dialog, whileUp](QWidget *) {
            whileUp();
            if (dialog.isVisible()) {
                ADD_FAILURE() << "the chooser is still up";
                dialog.done(QDialog::Rejected);
            }
        });
        dialog.exec();
    }

    static void doubleClick(QListWidget *list, int row) {
        ASSERT_GE(row, 0);
        // A press and release, then the second press that the toolkit reports as a double-click.
        const QPoint at = list->visualItemRect(list->item(row)).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
    }

    QString root;
    QString start;

  private:
    QString m_saved = QDir::currentPath();
    QTemporaryDir m_tree;
    std::optional<testing_support::TestMountTable> m_volumes;
};

TEST_F(Chooser, WindowAndControlsFollowTheLayout) {
    TOpenFileDialog dialog;
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("OpenFileDialog"));
    EXPECT_EQ(dialog.size(), QSize(365, 312));
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
    EXPECT_TRUE(dialog.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(dialog.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(dialog.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(dialog.font().bold());
    EXPECT_EQ(dialog.font().pointSize(), 8);
    EXPECT_FALSE(dialog.windowIcon().isNull());

    using testing_support::kMayWidenForText;
    testing_support::expectControls({
        {dialog.Panel1, {-5, 0, 516, 271}},
        {dialog.Panel2, {5, 0, 365, 51}},
        {dialog.Label5, {15, 8, 49, 13}, "Drivers :", kMayWidenForText},
        {dialog.DriveComboBox1, {10, 27, 161, 19}},
        {dialog.Label4, {195, 8, 63, 13}, "Files type :", kMayWidenForText},
        {dialog.FilterComboBox1, {195, 25, 161, 21}},
        {dialog.DirectoryListBox1, {5, 50, 180, 171}},
        {dialog.FileListBox1, {190, 50, 180, 171}},
        {dialog.Label1, {10, 250, 65, 13}, "File Name :", kMayWidenForText},
        {dialog.FileName, {80, 245, 146, 21}},
        {dialog.OK, {175, 280, 86, 25}, "OK"},
        {dialog.Cancel, {270, 280, 86, 25}, "Cancel"},
    });
    EXPECT_EQ(dialog.Directory->pos(), QPoint(10, 228));
    EXPECT_EQ(dialog.Directory->size(), dialog.Directory->sizeHint()) << "sized to its text";
    EXPECT_EQ(dialog.Panel2->parentWidget(), dialog.Panel1);
    EXPECT_EQ(dialog.FileName->parentWidget(), dialog.Panel1);
    EXPECT_EQ(dialog.OK->parentWidget(), &dialog);
    QStringList types;
    for (int i = 0; i < dialog.FilterComboBox1->count(); ++i) {
        types << dialog.FilterComboBox1->itemText(i);
    }
    EXPECT_EQ(types, (QStringList{"HEX files(*.hex)", "Binary files(*.bin)", "All files (*.*)"}));
    EXPECT_FALSE(dialog.FilterComboBox1->isEditable());
    EXPECT_FALSE(dialog.DriveComboBox1->isEditable());
    for (const QPushButton *button : {dialog.OK, dialog.Cancel}) {
        EXPECT_FALSE(button->isDefault());
        EXPECT_FALSE(button->autoDefault());
    }
    EXPECT_FALSE(dialog.FileChosen);

    // The drive selector lists the volumes and stands on the one that holds the starting
    // directory (a removable one: its root alone).
    EXPECT_EQ(dialog.DriveComboBox1->count(), 2);
    EXPECT_EQ(dialog.DriveComboBox1->currentData().toString(), root);
    EXPECT_EQ(dialog.DriveComboBox1->currentText(), root);
    EXPECT_FALSE(dialog.DriveComboBox1->itemIcon(dialog.DriveComboBox1->currentIndex()).isNull());
}

TEST_F(Chooser, FirstShowingListsTheStartingDirectoryAndOkReturnsTheMask) {
    TOpenFileDialog dialog;
    showModally(dialog, [&] {
        EXPECT_EQ(texts(dialog.FileListBox1), (QStringList{"A.HEX", "b.hex"}))
            << "no hidden file, no directory";
        EXPECT_EQ(dialog.FileName->text(), QStringLiteral("*.hex"));
        EXPECT_TRUE(dialog.FileListBox1->selectedItems().isEmpty());
        EXPECT_EQ(dialog.directory(), start);

        const QStringList entries = texts(dialog.DirectoryListBox1);
        ASSERT_GE(entries.size(), 4);
        EXPECT_EQ(entries.mid(entries.size() - 4),
                  (QStringList{"start", "alpha", "sub.hex", "zeta"}))
            << "the current directory, then its visible sub-directories";
        EXPECT_EQ(dialog.DirectoryListBox1->currentRow(), entries.size() - 4);
        EXPECT_TRUE(dialog.Directory->text().endsWith(QStringLiteral("/start")));
        EXPECT_LE(dialog.Directory->width(), dialog.DirectoryListBox1->width());

        dialog.show();
        testing_support::pumpEvents();
        testing_support::saveFramedScreenshot(dialog, QStringLiteral("OpenFileDialog"));
        QTest::mouseClick(dialog.OK, Qt::LeftButton);
    });
    EXPECT_TRUE(dialog.FileChosen);
    EXPECT_EQ(dialog.FileName->text(), QStringLiteral("*.hex"));
    EXPECT_EQ(QDir::currentPath(), start);
}

TEST_F(Chooser, PickingAFileAndChangingTheType) {
    TOpenFileDialog dialog;
    dialog.FileListBox1->setCurrentRow(1);
    EXPECT_EQ(dialog.FileName->text(), QStringLiteral("b.hex"));
    EXPECT_EQ(dialog.FileName->selectedText(), QStringLiteral("b.hex"));

    dialog.FilterComboBox1->setCurrentIndex(1);
    EXPECT_EQ(dialog.FileName->text(), QStringLiteral("*.bin"));
    EXPECT_EQ(texts(dialog.FileListBox1), QStringList{"c.bin"});
    EXPECT_TRUE(dialog.FileListBox1->selectedItems().isEmpty());

    dialog.FilterComboBox1->setCurrentIndex(2);
    EXPECT_EQ(dialog.FileName->text(), QStringLiteral("*.*"));
    EXPECT_EQ(texts(dialog.FileListBox1), (QStringList{"A.HEX", "b.hex", "c.bin", "notes"}));

    // Typing does not filter the list.
    dialog.FileName->setText(QStringLiteral("b"));
    EXPECT_EQ(dialog.FileListBox1->count(), 4);
}

TEST_F(Chooser, DirectoryChangeSticksEvenAfterCancel) {
    TOpenFileDialog dialog;
    const QString alpha = start + QStringLiteral("/alpha");
    showModally(dialog, [&] {
        dialog.FileListBox1->setCurrentRow(0);
        ASSERT_EQ(dialog.FileName->text(), QStringLiteral("A.HEX"));

        doubleClick(dialog.DirectoryListBox1, rowOf(dialog.DirectoryListBox1, "alpha"));
        EXPECT_EQ(QDir::currentPath(), alpha) << "changed at once";
        EXPECT_EQ(texts(dialog.FileListBox1), QStringList{"fw.hex"});
        EXPECT_EQ(dialog.FileName->text(), QStringLiteral("*.hex")) << "a re-read shows the mask";
        EXPECT_TRUE(dialog.Directory->text().endsWith(QStringLiteral("/alpha")));
        EXPECT_EQ(texts(dialog.DirectoryListBox1).last(), QStringLiteral("alpha"))
            << "alpha has no sub-directories and is now the last, current entry";

        // A single click only moves the selection; Enter opens the entry.
        const int startRow = rowOf(dialog.DirectoryListBox1, "start");
        QTest::mouseClick(
            dialog.DirectoryListBox1->viewport(), Qt::LeftButton, {},
            dialog.DirectoryListBox1->visualItemRect(dialog.DirectoryListBox1->item(startRow))
                .center());
        EXPECT_EQ(QDir::currentPath(), alpha);
        QTest::keyClick(dialog.DirectoryListBox1, Qt::Key_Return);
        EXPECT_EQ(QDir::currentPath(), start);
        EXPECT_TRUE(dialog.isVisible()) << "Enter in the list presses no button";

        dialog.DirectoryListBox1->setCurrentRow(rowOf(dialog.DirectoryListBox1, "alpha"));
        QTest::keyClick(dialog.DirectoryListBox1, Qt::Key_Enter);
        EXPECT_EQ(QDir::currentPath(), alpha);
        QTest::mouseClick(dialog.Cancel, Qt::LeftButton);
    });
    EXPECT_FALSE(dialog.FileChosen);
    EXPECT_EQ(QDir::currentPath(), alpha);
    EXPECT_EQ(dialog.directory(), alpha);

    // Two folder levels are removed while the chooser is closed (the process is still in the
    // inner one): the next showing moves to the nearest existing parent and lists that.
    ASSERT_TRUE(QDir(alpha).mkdir(QStringLiteral("deeper")));
    showModally(dialog, [&] {
        dialog.DirectoryListBox1->setCurrentRow(rowOf(dialog.DirectoryListBox1, "deeper"));
        QTest::keyClick(dialog.DirectoryListBox1, Qt::Key_Return);
        dialog.close();
    });
    ASSERT_EQ(QDir::currentPath(), alpha + QStringLiteral("/deeper"));
    ASSERT_TRUE(QDir(alpha).removeRecursively());
    showModally(dialog, [&] {
        EXPECT_EQ(dialog.directory(), start);
        EXPECT_EQ(QDir::currentPath(), start);
        EXPECT_TRUE(dialog.Directory->text().endsWith(QStringLiteral("/start")));
        EXPECT_EQ(texts(dialog.FileListBox1), (QStringList{"A.HEX", "b.hex"}));
        EXPECT_EQ(texts(dialog.DirectoryListBox1).last(), QStringLiteral("zeta"));
        dialog.close();
    });
}

TEST_F(Chooser, CloseBoxKeepsTheOutcomeAndStateCarriesOver) {
    TOpenFileDialog dialog;
    showModally(dialog, [&] { dialog.close(); });
    EXPECT_FALSE(dialog.FileChosen) << "first showing: counts as Cancel";

    showModally(dialog, [&] {
        dialog.FilterComboBox1->setCurrentIndex(1);
        dialog.FileListBox1->setCurrentRow(0);
        QTest::mouseClick(dialog.OK, Qt::LeftButton);
    });
    EXPECT_TRUE(dialog.FileChosen);
    EXPECT_EQ(dialog.FileName->text(), QStringLiteral("c.bin"));

    // A file that arrived meanwhile is listed at the next showing; the field keeps its text.
    QFile arrived(start + QStringLiteral("/d.bin"));
    ASSERT_TRUE(arrived.open(QIODevice::WriteOnly));
    arrived.close();
    showModally(dialog, [&] {
        EXPECT_EQ(dialog.FilterComboBox1->currentIndex(), 1);
        EXPECT_EQ(dialog.FileName->text(), QStringLiteral("c.bin"));
        EXPECT_EQ(texts(dialog.FileListBox1), (QStringList{"c.bin", "d.bin"}));
        dialog.close();
    });
    EXPECT_TRUE(dialog.FileChosen) << "after an OK the close box counts as OK";
    EXPECT_EQ(dialog.FileName->text(), QStringLiteral("c.bin"));
}

TEST_F(Chooser, EscapeAndEnterPressNoButtonAndTypedNamesComeBackUnchanged) {
    TOpenFileDialog dialog;
    const QString typed = QStringLiteral("/media/stick/fw/VEK0105.hex");
    showModally(dialog, [&] {
        QTest::keyClick(&dialog, Qt::Key_Escape);
        EXPECT_TRUE(dialog.isVisible()) << "Esc neither cancels nor closes";
        dialog.FileName->setFocus();
        dialog.FileName->clear();
        QTest::keyClicks(dialog.FileName, typed);
        QTest::keyClick(dialog.FileName, Qt::Key_Return);
        EXPECT_TRUE(dialog.isVisible()) << "Enter does not press OK";
        EXPECT_EQ(texts(dialog.FileListBox1), (QStringList{"A.HEX", "b.hex"}));
        QTest::mouseClick(dialog.OK, Qt::LeftButton);
    });
    EXPECT_TRUE(dialog.FileChosen);
    EXPECT_EQ(dialog.FileName->text(), typed);
    EXPECT_EQ(QDir::currentPath(), start);
}

TEST_F(Chooser, LongPathLabelIsShortenedToTheListWidth) {
    const QString deep = start + QStringLiteral(
                                     "/a-rather-long-directory-name/another-long-directory-name/"
                                     "firmware");
    ASSERT_TRUE(QDir().mkpath(deep));
    ASSERT_TRUE(QDir::setCurrent(deep));
    TOpenFileDialog dialog;
    dialog.show();
    testing_support::pumpEvents();
    const QString label = dialog.Directory->text();
    EXPECT_TRUE(label.startsWith(QStringLiteral("/.../"))) << label.toStdString();
    EXPECT_TRUE(label.endsWith(QStringLiteral("/firmware"))) << label.toStdString();
    EXPECT_LE(dialog.Directory->fontMetrics().horizontalAdvance(label),
              dialog.DirectoryListBox1->width());
    EXPECT_TRUE(deep.endsWith(label.mid(4))) << "only leading directories gave way";

    // Going up to a shorter path shows more of it again.
    doubleClick(dialog.DirectoryListBox1, rowOf(dialog.DirectoryListBox1, "start"));
    EXPECT_EQ(QDir::currentPath(), start);
    EXPECT_TRUE(dialog.Directory->text().endsWith(QStringLiteral("/start")));
    EXPECT_GT(dialog.Directory->text().count(u'/'), label.count(u'/') - 3);
}

TEST(ChooserGlyphs, EachKindHasItsOwnPicture) {
    using dialogs::EntryKind;
    using dialogs::VolumeKind;
    const std::vector<QIcon> glyphs{dialogs::volumeGlyph(VolumeKind::Fixed),
                                    dialogs::volumeGlyph(VolumeKind::Removable),
                                    dialogs::volumeGlyph(VolumeKind::Cd),
                                    dialogs::volumeGlyph(VolumeKind::Ram),
                                    dialogs::volumeGlyph(VolumeKind::Network),
                                    dialogs::folderGlyph(EntryKind::OpenFolder),
                                    dialogs::folderGlyph(EntryKind::CurrentFolder),
                                    dialogs::folderGlyph(EntryKind::ClosedFolder)};
    constexpr int kScale = 4;
    constexpr int kCell = 16 * kScale + 8;
    QPixmap sheet(kCell * static_cast<int>(glyphs.size()), kCell);
    sheet.fill(Qt::white);
    QPainter painter(&sheet);
    for (size_t i = 0; i < glyphs.size(); ++i) {
        const QImage picture = glyphs[i].pixmap(16, 16).toImage();
        EXPECT_EQ(picture.size(), QSize(16, 16));
        for (size_t j = 0; j < i; ++j) {
            EXPECT_NE(picture, glyphs[j].pixmap(16, 16).toImage()) << i << " and " << j;
        }
        painter.drawImage(QRect(static_cast<int>(i) * kCell + 4, 4, 16 * kScale, 16 * kScale),
                          picture);
    }
    painter.end();
    sheet.save(QStringLiteral(CDRW_SCREENSHOT_DIR "/ChooserGlyphs.png"), "PNG");
}
