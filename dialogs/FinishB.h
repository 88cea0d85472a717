// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The finish notice: the update is complete and the PC is to be switched off. Nothing in the
// program shows it; it is built with the other windows and kept.
#pragma once

#include <QDialog>
#include <QFrame>
#include <QLabel>
#include <QPushButton>

class TFinishBox : public QDialog {
    Q_OBJECT
  public:
    explicit TFinishBox(QWidget *parent = nullptr);

    QFrame *Bevel1;
    QLabel *Label1;
    QLabel *Label2;  // ends in a blank
    QLabel *Label3;  // ends in a blank
    QPushButton *OKBtn;

    // Closes the box with the result OK.
    void OKBtnClick();
};
