// Helpers that every fixed-layout window uses: fonts, fixed client size and centring.
#pragma once

#include <QFont>
#include <QString>
#include <QWidget>

namespace ui {

// "MS Sans Serif" as asked for; fontconfig substitutes what the machine has.
QFont msSansSerif(int pointSize, bool bold);
// The same family at a character height in pixels.
QFont msSansSerifPixels(int pixelHeight, bool bold, bool italic = false);

// Sets caption, a fixed client size and the window's frame flags.
void setupFixedWindow(QWidget &window, const QString &caption, int width, int height,
                      Qt::WindowFlags flags);

// Moves the window to the centre of its screen.
void centerOnScreen(QWidget &window);

// Texts are single-byte; each byte becomes one character.
inline QString ansi(const char *text) {
    return QString::fromLatin1(text);
}
inline QString ansi(const std::string &text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}
inline std::string ansiBytes(const QString &text) {
    return text.toLatin1().toStdString();
}

}  // namespace ui
