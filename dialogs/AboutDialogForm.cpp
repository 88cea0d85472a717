// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "dialogs/AboutDialogForm.h"

#include <algorithm>

#include "ui/Glyphs.h"
#include "ui/WindowSetup.h"

TAboutDialog::TAboutDialog(QWidget *parent)
    : QDialog(parent),
      Label1(new QLabel(this)),
      Label2(new QLabel(QStringLiteral("Version " CDRW_VERSION), this)),
      Image1(new QLabel(this)),
      OK(new QPushButton(QStringLiteral("OK"), this)) {
    ui::setupFixedWindow(*this, QStringLiteral("About CD-R/RW Firmware Update"), 386, 125,
                         Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                             Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint);
    setFont(ui::msSansSerifPixels(13, true));

    Label1->setGeometry(55, 10, 256, 16);
    Label2->setGeometry(138, 56, 123, 13);
    Label2->setFont(ui::msSansSerifPixels(11, false));
    Image1->setGeometry(30, 55, 41, 41);
    Image1->setPixmap(ui::programIconPixmap(32));
    OK->setGeometry(164, 88, 75, 25);
    OK->setDefault(true);
    connect(OK, &QPushButton::clicked, this, &TAboutDialog::OKClick);
    ui::centerOnScreen(*this);
}

void TAboutDialog::OKClick() {
    close();
}

void TAboutDialog::showEvent(QShowEvent *event) {
    constexpr int kTitleWidth = 256;
    const int textWidth = Label1->fontMetrics().horizontalAdvance(Label1->text());
    Label1->resize(std::max(kTitleWidth, textWidth), Label1->height());
    QDialog::showEvent(event);
}
