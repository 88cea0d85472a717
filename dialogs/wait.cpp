#include "dialogs/wait.h"

#include <QCloseEvent>
#include <QCoreApplication>

#include "ui/WindowSetup.h"

TWaitDlg::TWaitDlg(QWidget *parent) : QDialog(parent) {
    // A title bar without close box or system menu; the client area is a thin strip below it.
    ui::setupFixedWindow(*this, QStringLiteral("          Wait a moment please..."), 240, 7,
                         Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
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
