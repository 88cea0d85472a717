// SPDX-License-Identifier: GPL-2.0-or-later
#include "dialogs/wait.h"

#include <QCloseEvent>
#include <QCoreApplication>

#include "ui/WindowSetup.h"

TWaitDlg::TWaitDlg(QWidget *parent) : QDialog(parent) {
    // A title bar without close, minimise or maximise box and without system menu; below it a
    // strip just tall enough for the same words.
    ui::setupFixedWindow(*this, QStringLiteral("          Wait a moment please..."), 240, 30,
                         Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFont(ui::msSansSerif(8, true));
    Message = new QLabel(QStringLiteral("Wait a moment please..."), this);
    Message->setGeometry(0, 0, 240, 30);
    Message->setAlignment(Qt::AlignCenter);
    Message->setAccessibleName(Message->text());
    ui::centerOnScreen(*this);
}

void TWaitDlg::showNotice() {
    show();
    raise();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void TWaitDlg::finish() {
    hide();
}

void TWaitDlg::closeEvent(QCloseEvent *event) {
    event->ignore();
}
