#include "app/Application.h"

#include <exception>

#include "app/AppTitle.h"
#include "app/WindowSetup.h"
#include "platform/Platform.h"

TApplication::TApplication(int &argc, char **argv)
    : QApplication(argc, argv),
      m_title(app::applicationTitle(app::ansiBytes(QCoreApplication::applicationFilePath()))) {
    setApplicationDisplayName(app::ansi(m_title));
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
