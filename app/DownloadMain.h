// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The main window: the unit list with its header, the bus selection, the EDC option and the
// Update, About and Quit buttons. Controls outside the client area (the progress group, the
// firmware variant radio group and seven inert check boxes) exist, hidden: never seen, reached
// or announced.
// The working state lives in `state`; the window only wires controls to the logic.
#pragma once

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QWidget>
#include <array>
#include <string>
#include <vector>

#include "units/Discovery.h"
#include "units/MainState.h"
#include "update/UpdateSequence.h"

// The main window's title, and its title on a manager that simulates its units (a rehearsal).
inline constexpr const char *kWindowTitle = "  CD-R/RW Firmware Update";
inline constexpr const char *kRehearsalWindowTitle = "  CD-R/RW Firmware Update - rehearsal";

class TAboutDialog;
class TOpenFileDialog;
class TCMD_Error_Form;
class TWaitDlg;
class TFinishBox;

// The five windows created after the main window; it reaches them through these.
struct AppWindows {
    TAboutDialog *AboutDialog = nullptr;
    TOpenFileDialog *OpenFileDialog = nullptr;
    TCMD_Error_Form *CMD_Error_Form = nullptr;
    TWaitDlg *WaitDlg = nullptr;
    TFinishBox *FinishBox = nullptr;
};

class TMainForm : public QWidget, public units::UnitListView, public update::UpdateWindows {
    Q_OBJECT
  public:
    // Builds the layout, then: SCSI selected, the manager bound (fatal failures end the process
    // here), the buses scanned, ATAPI selected, block size 16384, Update enabled only with units.
    explicit TMainForm(QWidget *parent = nullptr);

    void attachWindows(const AppWindows &windows) { m_windows = windows; }
    const AppWindows &windows() const { return m_windows; }
    // Updates are recorded in `journal` (not owned; null: not recorded).
    void setJournal(const update::Journal *journal) { m_journal = journal; }
    const update::Journal *journal() const { return m_journal; }
    // The unit list's lines, top to bottom.
    std::vector<std::string> unitLines() const;

    units::MainState state;

    // units::UnitListView
    int busType() const override { return BUS->currentIndex(); }
    int firmwareVariant() const override;
    void appendUnitLine(const std::string &line) override;

    // update::UpdateWindows
    bool selectedUnitLine(std::string &line) const override;
    bool chooseFirmwareFile(std::string &fileName) override;
    bool createEdc() const override { return CreatEDC->isChecked(); }
    int progressMaximum() const override { return ProgressBar1->maximum(); }
    void setProgressPosition(int position) override { ProgressBar1->setValue(position); }
    void setTimerInterval(int milliseconds) override;
    void showWaitNotice() override;
    void closeWaitNotice() override;
    errors::CommandErrorDialog &commandErrorDialog() override;
    void holdControls() override;
    void releaseControls() override;

    // Handlers. While an update runs (state.UpdateRunning) those of the controls that act do
    // nothing: an accessibility client's action reaches a control whatever modality, its
    // enabled state or its visibility says. A variant or bus changed meanwhile goes back to what
    // the update found.
    void UpdateClick();
    void AboutClick();
    void CloseClick();
    void Timer1Timer();
    void RadioGroupClick();
    void BUSChange();
    void SetAboutTitle();

    // Controls, named as in the layout.
    QFrame *Panel2;
    QPushButton *Update;
    QPushButton *About;
    QPushButton *Close;
    QFrame *Panel1;
    QGroupBox *GroupBox1;
    QFrame *Panel3;
    QLabel *Label3;
    QLabel *Label4;
    QLabel *Product;
    QLabel *Label5;
    QLabel *Label6;
    QListWidget *DrivesList;
    QLabel *Label2;
    QComboBox *BUS;
    QCheckBox *CreatEDC;
    QGroupBox *GroupBox2;
    QProgressBar *ProgressBar1;
    QTimer *Timer1;
    QGroupBox *RadioGroup;
    QButtonGroup *RadioGroupItems;
    std::array<QRadioButton *, 7> RadioItems{};
    QCheckBox *ChkB_YEB;
    QCheckBox *ChkB_VEK;
    QCheckBox *ChkB_DUQ;
    QCheckBox *ChkB_BEZ;
    QCheckBox *ChkB_HUP;
    QCheckBox *ChkB_WOL;
    QCheckBox *ChkB_LIX;

    static constexpr int kProgressStep = 10;

  private:
    void createButtonBar();
    void createUnitList();
    void createOptionsRow();
    void createHiddenControls();
    void setTabOrder();
    // The controls that holdControls() disables, in one order.
    std::array<QWidget *, 6> actingControls() const;

    AppWindows m_windows;
    const update::Journal *m_journal = nullptr;
    // What holdControls() found, for releaseControls() and the refusing handlers.
    std::array<bool, 6> m_heldEnabled{};
    int m_heldVariant = 0;
    int m_heldBus = 0;
    QPointer<QWidget> m_heldFocus;
};
