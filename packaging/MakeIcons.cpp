// SPDX-License-Identifier: GPL-2.0-or-later
// Writes the program icon as PNG files at 16, 32 and 48 pixels into the folder given as the
// only argument (hicolor layout: <size>x<size>/apps/cdrw-fwupdate.png). Used by the build.
#include <QDir>
#include <QGuiApplication>
#include <QString>
#include <cstdio>

#include "ui/Glyphs.h"

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    QGuiApplication application(argc, argv);
    const QString root = QString::fromLocal8Bit(argv[1]);
    for (const int size : {16, 32, 48}) {
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(root).arg(size);
        if (!QDir().mkpath(dir) ||
            !ui::programIconPixmap(size).save(dir + QStringLiteral("/cdrw-fwupdate.png"))) {
            std::fprintf(stderr, "cannot write the icon into %s\n", qPrintable(dir));
            return 1;
        }
    }
    return 0;
}
