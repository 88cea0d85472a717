// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The firmware file chooser: drives, directories, file types and a file-name field. It makes the
// browsed directory the process's current directory and returns a bare name.
//
// Use: exec() it, then read FileChosen and, when set, FileName->text(). The window is built once
// and keeps its directory, drive, file type, field text and FileChosen from one showing to the
// next.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <vector>

#include "dialogs/ChooserModel.h"
#include "dialogs/Volumes.h"

class TOpenFileDialog : public QDialog {
    Q_OBJECT
  public:
    // Takes the process's current directory, selects the first file type and clears FileChosen.
    explicit TOpenFileDialog(QWidget *parent = nullptr);

    // Set by OK, cleared by Cancel; the close box leaves it as it was.
    bool FileChosen = false;

    // Controls, named as in the layout.
    QFrame *Panel1;
    QFrame *Panel2;
    QLabel *Label5;
    QComboBox *DriveComboBox1;
    QLabel *Label4;
    QComboBox *FilterComboBox1;
    QListWidget *DirectoryListBox1;
    QListWidget *FileListBox1;
    QLabel *Directory;
    QLabel *Label1;
    QLineEdit *FileName;
    QPushButton *OK;
    QPushButton *Cancel;

    // Handlers.
    void OKClick();
    void CancelClick();
    void DirectoryListBox1Change() {}
    void FilterComboBox1Change() {}

    // The directory the lists show, which every change also makes the process's current one.
    const QString &directory() const { return m_directory; }
    // The file list's mask, from the selected file type.
    QString mask() const;
    // Opens the directory-list entry in `row`, as a double-click or Enter on it does: that
    // directory becomes the current one, the lists are rebuilt and the label follows. Returns
    // false (and changes nothing) when the directory cannot be entered.
    bool openDirectoryEntry(int row);

  protected:
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

  private:
    void createTopStrip();
    void createLists();
    void createNameRowAndButtons();
    void setTabOrder();

    // The links between the controls.
    void fillVolumeSelector();
    void volumeChosen(int index);
    bool changeDirectory(const QString &path);
    void rebuildDirectoryList();
    void updateDirectoryLabel();
    void rereadFiles();
    void refreshLists();
    void fileSelectionChanged();

    std::vector<dialogs::FileType> m_fileTypes;
    dialogs::LastDirectories m_lastDirectories;
    QString m_directory;
    QString m_volumeRoot;
};
