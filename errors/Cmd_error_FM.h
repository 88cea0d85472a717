// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The command error dialog: explains a failed drive command and asks Retry, Ignore or Stop.
// One instance lives for the whole run; its text box keeps the records of earlier failures.
// The answer stays in RetryRequested and StopRequested (see errors/CommandError.h for how the
// caller reads them); the modal result means nothing.
#pragma once

#include <QDialog>
#include <QGroupBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <cstdint>
#include <deque>

#include "errors/CommandError.h"

class TCMD_Error_Form : public QDialog, public errors::CommandErrorDialog {
    Q_OBJECT
  public:
    explicit TCMD_Error_Form(QWidget *parent = nullptr);

    // Most records the text box holds; past it the oldest records go. A record is five or six
    // short lines, so this keeps a long session's history while the box stays responsive.
    static constexpr int kMaxRecords = 1000;

    // Set by Retry (1) and Ignore (0); kept between showings.
    std::uint8_t RetryRequested = 0;
    // Set by Stop; reset to 0 each time the dialog is shown.
    std::uint8_t StopRequested = 0;
    // The failed command, read when the dialog is shown.
    errors::CommandErrorInfo CommandErrorInfo;

    // errors::CommandErrorDialog: stores the record and runs the dialog modally.
    void showModal(const errors::CommandErrorInfo &info) override;
    bool stopRequested() const override { return StopRequested != 0; }
    bool retryRequested() const override { return RetryRequested != 0; }

    // Runs on every showing: resets StopRequested and appends the record's lines to Memo1.
    void FormShow();
    // Each sets its flag as described above, then closes the window.
    void Retry_btnClick();
    void Ignore_btnClick();
    void Stop_btnClick();

    QPlainTextEdit *Memo1;
    QGroupBox *GroupBox1;
    QPushButton *Retry_btn;
    QPushButton *Ignore_btn;
    QPushButton *Stop_btn;

  protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    // Only the three buttons close the dialog: a close request from the window manager (Alt+F4,
    // or a close button a desktop adds anyway) would end it unanswered, which reads as Ignore.
    void closeEvent(QCloseEvent *event) override;

  private:
    void createMemo();
    void createButtons();
    void appendRecord();
    // Closes the window after a button has set its flag.
    void closeAnswered();

    std::deque<int> m_recordLineCounts;  // lines of each record in Memo1, oldest first
    bool m_answered = false;             // a button is closing the window
};
