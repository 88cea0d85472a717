// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "app/Application.h"

#include <exception>

#include "app/AppTitle.h"
#include "platform/Platform.h"
#include "ui/Glyphs.h"
#include "ui/WindowSetup.h"

TApplication::TApplication(int &argc, char **argv)
    : QApplication(argc, argv),
      m_title(app::applicationTitle(ui::ansiBytes(QCoreApplication::applicationFilePath()))) {
    // The title names the application for the window system: a box without a caption of its own
    // shows it. (A display name would instead be appended to every window's caption.)
    setApplicationName(ui::ansi(m_title));
    // Every window and message box shows the program icon; it is drawn once, here.
    setWindowIcon(ui::programIcon());
}

void TApplication::showException(const std::string &message) const {
    platform::messageBox(app::escapedExceptionText(message), m_title, platform::Icon::Error);
}

bool TApplication::notify(QObject *receiver, QEvent *event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception &error) {
        showException(error.what());
    }
    return false;
}
