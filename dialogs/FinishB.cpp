// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "dialogs/FinishB.h"

#include <QFontDatabase>
#include <algorithm>

#include "ui/WindowSetup.h"

namespace {

// A Japanese proportional Gothic face if one is installed, else the program's usual family.
QFont gothicFont(int pixelHeight, bool italic) {
    QFont font = ui::msSansSerifPixels(pixelHeight, true, italic);
    const QStringList installed = QFontDatabase::families();
    for (const QString &family : {QStringLiteral("IPAPGothic"), QStringLiteral("IPAGothic")}) {
        if (installed.contains(family)) {
            font.setFamily(family);
            break;
        }
    }
    return font;
}

// The lines size themselves to their text: the layout's width, or more if the face in use is
// wider, so no line is cut off.
QLabel *line(QWidget *parent, const char *text, const QFont &font, const QRect &geometry) {
    auto *label = new QLabel(ui::ansi(text), parent);
    label->setFont(font);
    const int textWidth = label->fontMetrics().horizontalAdvance(label->text());
    label->setGeometry(geometry.adjusted(0, 0, std::max(0, textWidth - geometry.width()), 0));
    return label;
}

}  // namespace

TFinishBox::TFinishBox(QWidget *parent) : QDialog(parent) {
    ui::setupFixedWindow(
        *this, QStringLiteral("Warning"), 458, 214,
        Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFont(ui::msSansSerif(8, true));

    Bevel1 = new QFrame(this);
    Bevel1->setFrameStyle(QFrame::Box | QFrame::Sunken);
    Bevel1->setGeometry(8, 8, 441, 161);
    Label1 = line(this, "Update program completed.", gothicFont(24, false), QRect(40, 40, 298, 24));
    Label2 = line(this, "please quit running programs now, and ", gothicFont(19, true),
                  QRect(40, 88, 354, 19));
    Label3 = line(this, "then put the PC power off, restart again. ", gothicFont(19, true),
                  QRect(40, 112, 381, 19));
    OKBtn = new QPushButton(QStringLiteral("OK"), this);
    OKBtn->setGeometry(191, 180, 75, 25);
    OKBtn->setDefault(true);
    connect(OKBtn, &QPushButton::clicked, this, &TFinishBox::OKBtnClick);
    ui::centerOnScreen(*this);
}

void TFinishBox::OKBtnClick() {
    accept();
}
