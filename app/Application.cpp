#include "app/Application.h"

#include <QFont>
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
    // The layouts are measured for an 8-point sans serif of the width of "MS Sans Serif"; prefer
    // the metric-compatible Arial substitutes over wider sans serifs.
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                               {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                                QStringLiteral("Nimbus Sans"), QStringLiteral("DejaVu Sans")});
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
