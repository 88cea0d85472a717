// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "dialogs/OpenFileForm.h"

#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QStyledItemDelegate>
#include <algorithm>

#include "dialogs/ChooserGlyphs.h"
#include "ui/WindowSetup.h"

namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kLevelRole = Qt::UserRole + 1;
constexpr int kIndentPerLevel = 8;

// List rows of a fixed height; rows that carry a level are indented by it.
class ListRowDelegate : public QStyledItemDelegate {
  public:
    ListRowDelegate(int rowHeight, QObject *parent)
        : QStyledItemDelegate(parent), m_rowHeight(rowHeight) {}

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(m_rowHeight);
        size.rwidth() += indent(index);
        return size;
    }

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override {
        QStyleOptionViewItem shifted(option);
        shifted.rect.setLeft(option.rect.left() + indent(index));
        QStyledItemDelegate::paint(painter, shifted, index);
    }

  private:
    static int indent(const QModelIndex &index) {
        return index.data(kLevelRole).toInt() * kIndentPerLevel;
    }

    int m_rowHeight;
};

QFrame *raisedPanel(QWidget *parent, int bevelWidth, const QRect &geometry) {
    auto *panel = new QFrame(parent);
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel->setLineWidth(bevelWidth);
    panel->setGeometry(geometry);
    return panel;
}

// Labels size themselves to their text: the layout's width, or more if the face in use is wider.
QLabel *label(QWidget *parent, const char *text, const QRect &geometry) {
    auto *l = new QLabel(ui::ansi(text), parent);
    const int textWidth = l->fontMetrics().horizontalAdvance(l->text());
    l->setGeometry(geometry.adjusted(0, 0, std::max(0, textWidth - geometry.width()), 0));
    return l;
}

QListWidget *listBox(QWidget *parent, int rowHeight, const QRect &geometry) {
    auto *list = new QListWidget(parent);
    list->setGeometry(geometry);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setUniformItemSizes(true);
    list->setItemDelegate(new ListRowDelegate(rowHeight, list));
    return list;
}

// Neither button is the window's default: Enter must not press them.
QPushButton *plainButton(QWidget *parent, const char *text, const QRect &geometry) {
    auto *button = new QPushButton(ui::ansi(text), parent);
    button->setGeometry(geometry);
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

}  // namespace

TOpenFileDialog::TOpenFileDialog(QWidget *parent)
    : QDialog(parent), m_fileTypes(dialogs::splitFilter(ui::ansi(dialogs::kChooserFilter))) {
    ui::setupFixedWindow(*this, QStringLiteral("OpenFileDialog"), 365, 312,
                         Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                             Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint);
    setFont(ui::msSansSerif(8, true));

    createTopStrip();
    createLists();
    createNameRowAndButtons();
    setTabOrder();

    // The lists start in the directory the process is in; the first file type is selected.
    m_directory = QDir::currentPath();
    m_volumeRoot = dialogs::volumeOf(m_directory).rootPath;
    m_lastDirectories.remember(m_volumeRoot, m_directory);
    fillVolumeSelector();
    rebuildDirectoryList();
    updateDirectoryLabel();
    FilterComboBox1->setCurrentIndex(0);
    rereadFiles();
    FileChosen = false;

    connect(DriveComboBox1, &QComboBox::activated, this, &TOpenFileDialog::volumeChosen);
    connect(FilterComboBox1, &QComboBox::currentIndexChanged, this, [this](int) {
        rereadFiles();
        FilterComboBox1Change();
    });
    connect(DirectoryListBox1, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem *item) { openDirectoryEntry(DirectoryListBox1->row(item)); });
    DirectoryListBox1->installEventFilter(this);
    connect(FileListBox1, &QListWidget::itemSelectionChanged, this,
            &TOpenFileDialog::fileSelectionChanged);
    connect(OK, &QPushButton::clicked, this, &TOpenFileDialog::OKClick);
    connect(Cancel, &QPushButton::clicked, this, &TOpenFileDialog::CancelClick);
    ui::centerOnScreen(*this);
}

void TOpenFileDialog::createTopStrip() {
    Panel1 = raisedPanel(this, 2, QRect(-5, 0, 516, 271));
    Panel2 = raisedPanel(Panel1, 2, QRect(5, 0, 365, 51));
    Label5 = label(Panel2, "Drivers :", QRect(15, 8, 49, 13));
    DriveComboBox1 = new QComboBox(Panel2);
    DriveComboBox1->setEditable(false);
    DriveComboBox1->setGeometry(10, 27, 161, 19);
    DriveComboBox1->setIconSize(QSize(16, 16));
    ui::nameByLabel(*Label5, *DriveComboBox1);
    Label4 = label(Panel2, "Files type :", QRect(195, 8, 63, 13));
    FilterComboBox1 = new QComboBox(Panel2);
    FilterComboBox1->setEditable(false);
    FilterComboBox1->setGeometry(195, 25, 161, 21);
    for (const dialogs::FileType &type : m_fileTypes) {
        FilterComboBox1->addItem(type.description, type.mask);
    }
    ui::nameByLabel(*Label4, *FilterComboBox1);
}

void TOpenFileDialog::createLists() {
    DirectoryListBox1 = listBox(Panel1, 16, QRect(5, 50, 180, 171));
    DirectoryListBox1->setIconSize(QSize(16, 16));
    FileListBox1 = listBox(Panel1, 13, QRect(190, 50, 180, 171));
    DirectoryListBox1->setAccessibleName(QStringLiteral("Folders"));
    FileListBox1->setAccessibleName(QStringLiteral("Files"));
    Directory = new QLabel(Panel1);
    Directory->setTextFormat(Qt::PlainText);  // a path is text, whatever characters it holds
    Directory->move(10, 228);
}

void TOpenFileDialog::createNameRowAndButtons() {
    Label1 = label(Panel1, "File Name :", QRect(10, 250, 65, 13));
    FileName = new QLineEdit(QStringLiteral("*.hex"), Panel1);
    FileName->setGeometry(80, 245, 146, 21);
    ui::nameByLabel(*Label1, *FileName);
    OK = plainButton(this, "OK", QRect(175, 280, 86, 25));
    Cancel = plainButton(this, "Cancel", QRect(270, 280, 86, 25));
}

void TOpenFileDialog::setTabOrder() {
    const QList<QWidget *> chain{
        DriveComboBox1, FilterComboBox1, DirectoryListBox1, FileListBox1, FileName, OK, Cancel};
    for (qsizetype i = 1; i < chain.size(); ++i) {
        QWidget::setTabOrder(chain[i - 1], chain[i]);
    }
}

QString TOpenFileDialog::mask() const {
    return FilterComboBox1->currentData().toString();
}

void TOpenFileDialog::OKClick() {
    FileChosen = true;
    close();
}

void TOpenFileDialog::CancelClick() {
    FileChosen = false;
    close();
}

void TOpenFileDialog::keyPressEvent(QKeyEvent *event) {
    // Esc and Enter belong to no button here (and Esc must not close the window either).
    switch (event->key()) {
        case Qt::Key_Escape:
        case Qt::Key_Return:
        case Qt::Key_Enter:
            event->ignore();
            return;
        default:
            QDialog::keyPressEvent(event);
    }
}

bool TOpenFileDialog::eventFilter(QObject *watched, QEvent *event) {
    if (watched == DirectoryListBox1 && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            openDirectoryEntry(DirectoryListBox1->currentRow());
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TOpenFileDialog::showEvent(QShowEvent *event) {
    // Volumes come and go while the program runs. The directory shown is made the current one
    // again, so the name returned opens where the user saw it; should it have vanished, the
    // lists move up to its nearest parent that still exists (the process's own current directory
    // may be the vanished one itself, so it is no place to fall back to).
    fillVolumeSelector();
    if (QDir::setCurrent(m_directory)) {
        refreshLists();
    } else {
        QString folder = m_directory;
        while (!changeDirectory(folder)) {
            const QString parent = QFileInfo(folder).path();
            if (parent == folder) {
                break;
            }
            folder = parent;
        }
    }
    QDialog::showEvent(event);
}

bool TOpenFileDialog::openDirectoryEntry(int row) {
    const QListWidgetItem *item = DirectoryListBox1->item(row);
    if (item == nullptr) {
        return false;
    }
    const QString path = item->data(kPathRole).toString();
    if (path == m_directory) {
        return true;
    }
    if (changeDirectory(path)) {
        return true;
    }
    if (!QFileInfo(path).isDir()) {
        rebuildDirectoryList();  // it has gone; show what is there now
    }
    return false;
}

void TOpenFileDialog::fillVolumeSelector() {
    std::vector<dialogs::Volume> volumes = dialogs::mountedVolumes();
    if (std::none_of(volumes.begin(), volumes.end(),
                     [this](const dialogs::Volume &v) { return v.rootPath == m_volumeRoot; })) {
        volumes.push_back(dialogs::volumeOf(m_directory));
    }
    const QSignalBlocker quiet(DriveComboBox1);
    DriveComboBox1->clear();
    for (const dialogs::Volume &volume : volumes) {
        DriveComboBox1->addItem(dialogs::volumeGlyph(volume.kind), dialogs::volumeCaption(volume),
                                volume.rootPath);
    }
    DriveComboBox1->setCurrentIndex(DriveComboBox1->findData(m_volumeRoot));
}

void TOpenFileDialog::volumeChosen(int index) {
    const QString root = DriveComboBox1->itemData(index).toString();
    if (root.isEmpty() || root == m_volumeRoot) {
        return;
    }
    if (!changeDirectory(m_lastDirectories.directoryFor(root)) && !changeDirectory(root)) {
        // A volume that cannot be entered: stay where we are.
        DriveComboBox1->setCurrentIndex(DriveComboBox1->findData(m_volumeRoot));
    }
}

bool TOpenFileDialog::changeDirectory(const QString &path) {
    if (!QDir::setCurrent(path)) {
        return false;
    }
    m_directory = QDir::currentPath();
    m_volumeRoot = dialogs::volumeOf(m_directory).rootPath;
    m_lastDirectories.remember(m_volumeRoot, m_directory);
    if (DriveComboBox1->findData(m_volumeRoot) < 0) {
        fillVolumeSelector();
    }
    DriveComboBox1->setCurrentIndex(DriveComboBox1->findData(m_volumeRoot));
    rebuildDirectoryList();
    updateDirectoryLabel();
    rereadFiles();
    DirectoryListBox1Change();
    return true;
}

void TOpenFileDialog::rebuildDirectoryList() {
    DirectoryListBox1->clear();
    int currentRow = 0;
    for (const dialogs::DirectoryEntry &entry :
         dialogs::directoryEntries(m_volumeRoot, m_directory)) {
        auto *item = new QListWidgetItem(dialogs::folderGlyph(entry.kind), entry.text);
        item->setData(kPathRole, entry.path);
        item->setData(kLevelRole, entry.level);
        if (entry.kind == dialogs::EntryKind::CurrentFolder) {
            currentRow = DirectoryListBox1->count();
        }
        DirectoryListBox1->addItem(item);
    }
    DirectoryListBox1->setCurrentRow(currentRow);
}

void TOpenFileDialog::updateDirectoryLabel() {
    const QFontMetrics metrics(Directory->font());
    Directory->setText(dialogs::shortenPath(
        m_directory, DirectoryListBox1->width(),
        [&metrics](const QString &text) { return metrics.horizontalAdvance(text); }));
    Directory->adjustSize();
}

void TOpenFileDialog::rereadFiles() {
    QDir::setCurrent(m_directory);
    {
        const QSignalBlocker quiet(FileListBox1);
        FileListBox1->clear();
        FileListBox1->addItems(dialogs::listFiles(m_directory, mask()));
    }
    FileName->setText(mask());
}

void TOpenFileDialog::refreshLists() {
    // Files may have been added or removed since the last showing. The lists follow, while the
    // field keeps what the user left in it and the picked file stays picked if it is still there.
    rebuildDirectoryList();
    const QSignalBlocker quiet(FileListBox1);
    const QList<QListWidgetItem *> picked = FileListBox1->selectedItems();
    const QString pickedName = picked.isEmpty() ? QString() : picked.first()->text();
    FileListBox1->clear();
    FileListBox1->addItems(dialogs::listFiles(m_directory, mask()));
    if (!pickedName.isEmpty()) {
        const QList<QListWidgetItem *> again =
            FileListBox1->findItems(pickedName, Qt::MatchExactly);
        if (!again.isEmpty()) {
            FileListBox1->setCurrentItem(again.first());
        }
    }
}

void TOpenFileDialog::fileSelectionChanged() {
    const QList<QListWidgetItem *> selected = FileListBox1->selectedItems();
    if (!selected.isEmpty()) {
        FileName->setText(selected.first()->text());
        FileName->selectAll();
    }
}
