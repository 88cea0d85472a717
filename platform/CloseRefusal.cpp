// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "platform/CloseRefusal.h"

#include <QCoreApplication>
#include <QEvent>

namespace platform {

CloseRefusal::CloseRefusal() {
    if (QCoreApplication::instance() != nullptr) {
        QCoreApplication::instance()->installEventFilter(this);
    }
}

CloseRefusal::~CloseRefusal() {
    if (QCoreApplication::instance() != nullptr) {
        QCoreApplication::instance()->removeEventFilter(this);
    }
}

bool CloseRefusal::eventFilter(QObject *watched, QEvent *event) {
    // A window-system close reaches the widget as a spontaneous event; the program's own close()
    // does not. Ignoring the event keeps the window open; the main window's closing would
    // otherwise end the program and every event loop in it, the update's wait among them.
    if (event->type() == QEvent::Close && event->spontaneous() && watched->isWidgetType()) {
        event->ignore();
        return true;
    }
    return false;
}

}  // namespace platform
