// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The About box: the selected variant's title, a one-line notice and the program icon.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QPushButton>

class TAboutDialog : public QDialog {
    Q_OBJECT
  public:
    explicit TAboutDialog(QWidget *parent = nullptr);

    QLabel *Label1;  // the variant's title, set before every showing
    QLabel *Label2;  // one-line notice
    QLabel *Image1;  // program icon, 32 x 32
    QPushButton *OK;

    void OKClick();

  protected:
    // The title is set from outside before every showing; Label1 widens to hold it.
    void showEvent(QShowEvent *event) override;
};
