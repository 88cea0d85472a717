// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "ui/WindowSetup.h"

#include <QGuiApplication>
#include <QScreen>

namespace ui {

namespace {

// "MS Sans Serif" as the layouts ask for it, then faces with its metrics (the sizes and positions
// are measured for them), then the style hint's generic sans serif. A wider face would cut the
// ends off the column headers.
QFont layoutFont() {
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("Arimo"), QStringLiteral("Arial")});
    font.setStyleHint(QFont::SansSerif);
    return font;
}

}  // namespace

QFont msSansSerif(int pointSize, bool bold) {
    QFont font = layoutFont();
    font.setPointSize(pointSize);
    font.setWeight(bold ? QFont::Bold : QFont::Normal);
    return font;
}

QFont msSansSerifPixels(int pixelHeight, bool bold, bool italic) {
    QFont font = layoutFont();
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

void nameByLabel(QLabel &label, QWidget &control) {
    label.setBuddy(&control);
    QString name = label.text().trimmed();
    if (name.endsWith(QLatin1Char(':'))) {
        name.chop(1);
    }
    control.setAccessibleName(name.trimmed());
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
