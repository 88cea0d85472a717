// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "app/DownloadMain.h"

#include <QFile>

#include "app/MainGlyphs.h"
#include "dialogs/AboutDialogForm.h"
#include "dialogs/OpenFileForm.h"
#include "dialogs/wait.h"
#include "errors/Cmd_error_FM.h"
#include "platform/Platform.h"
#include "ui/WindowSetup.h"
#include "units/FirmwareVariants.h"

namespace {

QFrame *raisedPanel(QWidget *parent, int bevelWidth) {
    auto *panel = new QFrame(parent);
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel->setLineWidth(bevelWidth);
    return panel;
}

// The controls below the client area are never seen, so they must not be reached either: hidden,
// they take no focus and no keys (arrow keys in the variant group would switch the variant, and
// with it the unit and file checks, out of sight) and a screen reader does not announce them.
// They keep their state and keep working for the program: the variant is read from the group,
// the progress bar is set and stepped.
void hideOutOfView(QWidget *control) {
    control->setVisible(false);
}

QLabel *label(QWidget *parent, const char *text, int left, int top, int width, int height) {
    auto *l = new QLabel(ui::ansi(text), parent);
    l->setGeometry(left, top, width, height);
    return l;
}

QPushButton *glyphButton(QWidget *parent, const char *text, const QIcon &glyph, int left, int top,
                         int width, int height) {
    auto *button = new QPushButton(glyph, ui::ansi(text), parent);
    button->setGeometry(left, top, width, height);
    button->setIconSize(QSize(16, 16));
    button->setAutoDefault(false);
    return button;
}

}  // namespace

TMainForm::TMainForm(QWidget *parent) : QWidget(parent) {
    ui::setupFixedWindow(*this, QString::fromLatin1(kWindowTitle), 419, 209,
                         Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                             Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFont(ui::msSansSerif(8, true));

    createButtonBar();
    createUnitList();
    createOptionsRow();
    createHiddenControls();
    setTabOrder();

    Timer1 = new QTimer(this);
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, &TMainForm::Timer1Timer);
    Timer1->start();

    state.allocateBuffers();

    // Constructor steps: the first scan runs with the SCSI command forms, downloads then default
    // to ATAPI.
    BUS->setCurrentIndex(0);
    state.aspi.LoadAspiManager();
    // On simulated units the window says so, that no one takes a rehearsal for an update.
    if (state.aspi.simulated()) {
        setWindowTitle(QString::fromLatin1(kRehearsalWindowTitle));
    }
    units::ScanUnits(state, *this);
    BUS->setCurrentIndex(1);
    state.BlockSize = 16384;
    if (DrivesList->count() > 0) {
        Update->setEnabled(true);
        DrivesList->setCurrentRow(0);
    } else {
        Update->setEnabled(false);
    }
    ui::centerOnScreen(*this);
}

void TMainForm::createButtonBar() {
    Panel2 = raisedPanel(this, 1);
    Panel2->setGeometry(-5, 5, 471, 31);
    Update = glyphButton(Panel2, "Update", app::updateGlyph(), 30, 3, 81, 25);
    About = glyphButton(Panel2, "About ...", app::aboutGlyph(), 231, 3, 75, 25);
    Close = glyphButton(Panel2, "Quit", app::quitGlyph(), 313, 3, 75, 25);
    connect(Update, &QPushButton::clicked, this, &TMainForm::UpdateClick);
    connect(About, &QPushButton::clicked, this, &TMainForm::AboutClick);
    connect(Close, &QPushButton::clicked, this, &TMainForm::CloseClick);
}

void TMainForm::createUnitList() {
    Panel1 = raisedPanel(this, 1);
    Panel1->setGeometry(-5, 40, 471, 241);
    GroupBox1 = new QGroupBox(ui::ansi(" CD_R/RW Unit List "), Panel1);
    GroupBox1->setGeometry(9, 10, 397, 123);
    Panel3 = raisedPanel(GroupBox1, 2);
    Panel3->setGeometry(2, 20, 394, 18);
    Label3 = label(Panel3, "SCSI ID", 5, 3, 46, 13);
    Label4 = label(Panel3, "Vendor", 70, 3, 41, 13);
    Product = label(Panel3, "Product", 140, 3, 45, 13);
    Label5 = label(Panel3, "Version", 240, 3, 43, 13);
    Label6 = label(Panel3, "Date", 310, 3, 28, 13);
    DrivesList = new QListWidget(GroupBox1);
    DrivesList->setGeometry(3, 37, 391, 83);
    DrivesList->setAccessibleName(GroupBox1->title().trimmed());
    DrivesList->setSelectionMode(QAbstractItemView::SingleSelection);
    // Once a line is selected one stays selected (a Ctrl+click would otherwise clear it and leave
    // Update with no unit to act on).
    connect(DrivesList, &QListWidget::itemSelectionChanged, this, [this]() {
        if (DrivesList->selectedItems().isEmpty() && DrivesList->currentItem() != nullptr) {
            DrivesList->currentItem()->setSelected(true);
        }
    });
    DrivesList->setUniformItemSizes(true);
    // Unit lines keep their blanks; a fixed item height of 13 pixels as in the layout.
    DrivesList->setStyleSheet(QStringLiteral("QListWidget::item { height: 13px; padding: 0; }"));
}

void TMainForm::createOptionsRow() {
    Label2 = label(Panel1, "BUS Type", 25, 145, 58, 13);
    // A selection-only list, so a bus is always selected and every command has a known form.
    BUS = new QComboBox(Panel1);
    BUS->setEditable(false);
    BUS->setGeometry(90, 142, 101, 21);
    BUS->addItem(QStringLiteral("SCSI"));
    BUS->addItem(QStringLiteral("ATAPI"));
    ui::nameByLabel(*Label2, *BUS);
    connect(BUS, &QComboBox::currentIndexChanged, this, &TMainForm::BUSChange);
    CreatEDC = new QCheckBox(ui::ansi(" Create  EDC"), Panel1);
    CreatEDC->setGeometry(280, 145, 101, 17);
    CreatEDC->setChecked(true);
    GroupBox2 = new QGroupBox(ui::ansi(" Down Load "), Panel1);
    GroupBox2->setGeometry(15, 175, 386, 45);
    ProgressBar1 = new QProgressBar(GroupBox2);
    ProgressBar1->setGeometry(10, 20, 366, 15);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    hideOutOfView(GroupBox2);
}

void TMainForm::createHiddenControls() {
    RadioGroup = new QGroupBox(ui::ansi("The downloded file's type"), this);
    RadioGroup->setGeometry(16, 288, 369, 105);
    RadioGroupItems = new QButtonGroup(this);
    // Items fill four columns top to bottom.
    constexpr int kColumns = 4;
    constexpr int kRows = 2;
    const int columnWidth = (369 - 16) / kColumns;
    for (int i = 0; i < static_cast<int>(units::kFirmwareVariants.size()); ++i) {
        auto *item = new QRadioButton(ui::ansi(units::kFirmwareVariants[i].caption), RadioGroup);
        item->setGeometry(8 + (i / kRows) * columnWidth, 20 + (i % kRows) * 40, columnWidth, 17);
        RadioGroupItems->addButton(item, i);
        RadioItems[i] = item;
    }
    RadioItems[units::kDefaultFirmwareVariant]->setChecked(true);
    connect(RadioGroupItems, &QButtonGroup::idToggled, this, [this](int, bool checked) {
        if (checked) {
            RadioGroupClick();
        }
    });
    hideOutOfView(RadioGroup);

    const auto checkBox = [this](const char *caption, int top) {
        auto *box = new QCheckBox(ui::ansi(caption), this);
        box->setGeometry(448, top, 97, 17);
        hideOutOfView(box);
        return box;
    };
    ChkB_YEB = checkBox("For YEB", 296);
    ChkB_VEK = checkBox("For VEK", 312);
    ChkB_DUQ = checkBox("For DUQ", 328);
    ChkB_BEZ = checkBox("For BEZ", 344);
    ChkB_HUP = checkBox("For HUP", 360);
    ChkB_WOL = checkBox("For WOL", 376);
    ChkB_LIX = checkBox("For LIX", 392);
}

void TMainForm::setTabOrder() {
    // Panel1 (unit list, BUS, CreatEDC), then Panel2 (Update, Quit, About), then the seven
    // check boxes, then the radio group; Tab passes the hidden ones by.
    QList<QWidget *> chain{DrivesList, BUS,      CreatEDC, Update,   Close,    About,   ChkB_YEB,
                           ChkB_VEK,   ChkB_DUQ, ChkB_BEZ, ChkB_HUP, ChkB_WOL, ChkB_LIX};
    for (QRadioButton *item : RadioItems) {
        chain.append(item);
    }
    for (qsizetype i = 1; i < chain.size(); ++i) {
        QWidget::setTabOrder(chain[i - 1], chain[i]);
    }
}

int TMainForm::firmwareVariant() const {
    return RadioGroupItems->checkedId();
}

void TMainForm::appendUnitLine(const std::string &line) {
    DrivesList->addItem(ui::ansi(line));
}

void TMainForm::UpdateClick() {
    update::UpdateClick(state, *this, m_journal);  // refuses by itself while an update runs
}

std::vector<std::string> TMainForm::unitLines() const {
    std::vector<std::string> lines;
    lines.reserve(static_cast<std::size_t>(DrivesList->count()));
    for (int row = 0; row < DrivesList->count(); ++row) {
        lines.push_back(ui::ansiBytes(DrivesList->item(row)->text()));
    }
    return lines;
}

std::array<QWidget *, 6> TMainForm::actingControls() const {
    return {Update, About, Close, BUS, RadioGroup, CreatEDC};
}

void TMainForm::holdControls() {
    m_heldFocus = focusWidget();
    m_heldVariant = firmwareVariant();
    m_heldBus = busType();
    // The variant group's radio buttons, hidden or not, follow their group.
    const std::array<QWidget *, 6> controls = actingControls();
    for (std::size_t i = 0; i < controls.size(); ++i) {
        m_heldEnabled[i] = controls[i]->isEnabled();
        controls[i]->setEnabled(false);
    }
}

void TMainForm::releaseControls() {
    const std::array<QWidget *, 6> controls = actingControls();
    for (std::size_t i = 0; i < controls.size(); ++i) {
        controls[i]->setEnabled(m_heldEnabled[i]);
    }
    // Disabling moved the keyboard focus away; it goes back where the update found it.
    if (m_heldFocus != nullptr && m_heldFocus->isEnabled()) {
        m_heldFocus->setFocus();
    }
}

bool TMainForm::selectedUnitLine(std::string &line) const {
    const QListWidgetItem *item = DrivesList->currentItem();
    if (item == nullptr || !item->isSelected()) {
        return false;
    }
    line = ui::ansiBytes(item->text());
    return true;
}

bool TMainForm::chooseFirmwareFile(std::string &fileName) {
    TOpenFileDialog &chooser = *m_windows.OpenFileDialog;
    chooser.exec();
    if (!chooser.FileChosen) {
        return false;
    }
    // The name opens through the file system, so it takes the file system's encoding.
    fileName = QFile::encodeName(chooser.FileName->text()).toStdString();
    return true;
}

void TMainForm::setTimerInterval(int milliseconds) {
    // A zero interval stops the timer (the toolkit would otherwise fire it continuously).
    if (milliseconds <= 0) {
        Timer1->stop();
    } else {
        Timer1->setInterval(milliseconds);
    }
}

void TMainForm::showWaitNotice() {
    m_windows.WaitDlg->showNotice();
}

void TMainForm::closeWaitNotice() {
    m_windows.WaitDlg->finish();
}

errors::CommandErrorDialog &TMainForm::commandErrorDialog() {
    return *m_windows.CMD_Error_Form;
}

void TMainForm::SetAboutTitle() {
    if (m_windows.AboutDialog != nullptr) {
        m_windows.AboutDialog->Label1->setText(ui::ansi(units::aboutTitle(firmwareVariant())));
    }
}

void TMainForm::AboutClick() {
    if (state.UpdateRunning) {
        return;
    }
    SetAboutTitle();
    if (m_windows.AboutDialog != nullptr) {
        m_windows.AboutDialog->exec();
    }
}

void TMainForm::CloseClick() {
    if (state.UpdateRunning) {
        return;
    }
    platform::exitProcess(0);
}

void TMainForm::Timer1Timer() {
    if (ProgressBar1->value() < state.ProgressTarget) {
        ProgressBar1->setValue(ProgressBar1->value() + kProgressStep);
    }
    setTimerInterval(state.TimerInterval);
}

void TMainForm::RadioGroupClick() {
    if (state.UpdateRunning) {
        // The units were judged eligible by this variant, and a scan would reach the unit that
        // takes the image.
        RadioItems[m_heldVariant]->setChecked(true);
        return;
    }
    units::ScanUnits(state, *this);
}

void TMainForm::BUSChange() {
    // The update's commands take their form from the bus type, each as it is sent.
    if (state.UpdateRunning) {
        BUS->setCurrentIndex(m_heldBus);
    }
}
