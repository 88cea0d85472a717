// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// Helpers that every fixed-layout window uses: fonts, fixed client size and centring.
#pragma once

#include <QFont>
#include <QLabel>
#include <QString>
#include <QWidget>

namespace ui {

// "MS Sans Serif" as asked for, then a face with its metrics ("Liberation Sans", "Arimo",
// "Arial"), then the generic sans serif.
QFont msSansSerif(int pointSize, bool bold);
// The same family at a character height in pixels.
QFont msSansSerifPixels(int pixelHeight, bool bold, bool italic = false);

// Sets caption, a fixed client size and the window's frame flags.
void setupFixedWindow(QWidget &window, const QString &caption, int width, int height,
                      Qt::WindowFlags flags);

// Ties a label to the control it names: the label becomes the control's buddy (a screen reader
// reads it with the control) and its text, without blanks and a trailing ":", the control's
// accessible name.
void nameByLabel(QLabel &label, QWidget &control);

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
