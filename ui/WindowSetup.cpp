#include "ui/WindowSetup.h"

#include <QGuiApplication>
#include <QScreen>

namespace ui {

QFont msSansSerif(int pointSize, bool bold) {
    QFont font(QStringLiteral("MS Sans Serif"), pointSize, bold ? QFont::Bold : QFont::Normal);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

QFont msSansSerifPixels(int pixelHeight, bool bold, bool italic) {
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelHeight);
    font.setBold(bold);
    font.setItalic(italic);
    return font;
}

void setupFixedWindow(QWidget &window, const QString &caption, int width, int height,
                      Qt::WindowFlags flags) {
    window.setWindowFlags(flags);
    window.setWindowTitle(caption);
    window.setFixedSize(width, height);
}

void centerOnScreen(QWidget &window) {
    const QScreen *screen =
        window.screen() != nullptr ? window.screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return;
    }
    const QRect area = screen->availableGeometry();
    window.move(area.center() - QPoint(window.width() / 2, window.height() / 2));
}

}  // namespace ui
