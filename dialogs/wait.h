// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The wait notice shown during the fixed wait after the last block: its words in its title and in
// its own client area (for a frame without title bar, and for a screen reader), and nothing the
// user can close or minimise.
//
// Use: showNotice() before the wait, finish() after it. Close requests and Esc are refused while
// it is up, and a minimised notice comes back at once; only finish() takes it down. It stays above
// other windows; on X11 it asks the window manager for a border alone, without title bar.
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
    void changeEvent(QEvent *event) override;
};
