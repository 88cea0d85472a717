// SPDX-License-Identifier: GPL-2.0-or-later
// The wait notice shown during the fixed wait after the last block: its words in the title bar and
// in its own client area (for a desktop without window frames, and for a screen reader), and
// nothing the user can close.
//
// Use: showNotice() before the wait, finish() after it. Close requests and Esc are refused while
// it is up; only finish() takes it down.
#pragma once

#include <QDialog>
#include <QLabel>

class TWaitDlg : public QDialog {
    Q_OBJECT
  public:
    explicit TWaitDlg(QWidget *parent = nullptr);

    // Shows the notice without making it modal and lets it paint, so it is on screen before the
    // caller blocks the GUI thread. User input is not processed meanwhile.
    void showNotice();
    // Hides the notice; the only way it goes away.
    void finish();

    // Esc would reject the dialog; the notice stays.
    void reject() override {}

    QLabel *Message;

  protected:
    void closeEvent(QCloseEvent *event) override;
};
