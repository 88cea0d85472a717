// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// Writes the program icon into the folder given as the only argument, in the hicolor layout: PNG
// files of 16 to 256 pixels (<size>x<size>/apps/cdrw-fwupdate.png) and a scalable one
// (scalable/apps/cdrw-fwupdate.svg), all drawn by the same code. Used by the build.
#include <QDir>
#include <QGuiApplication>
#include <QPainter>
#include <QString>
#include <QSvgGenerator>
#include <cstdio>

#include "ui/Glyphs.h"

namespace {

bool writeScalable(const QString &dir) {
    constexpr int kSize = 256;
    QSvgGenerator svg;
    svg.setFileName(dir + QStringLiteral("/cdrw-fwupdate.svg"));
    svg.setSize(QSize(kSize, kSize));
    svg.setViewBox(QRect(0, 0, kSize, kSize));
    svg.setTitle(QStringLiteral("cdrw-fwupdate"));
    QPainter painter;
    if (!painter.begin(&svg)) {
        return false;
    }
    ui::paintProgramIcon(painter, kSize);
    return painter.end();
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    QGuiApplication application(argc, argv);
    const QString root = QString::fromLocal8Bit(argv[1]);
    for (const int size : {16, 32, 48, 64, 128, 256}) {
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(root).arg(size);
        if (!QDir().mkpath(dir) ||
            !ui::programIconPixmap(size).save(dir + QStringLiteral("/cdrw-fwupdate.png"))) {
            std::fprintf(stderr, "cannot write the icon into %s\n", qPrintable(dir));
            return 1;
        }
    }
    const QString scalable = root + QStringLiteral("/scalable/apps");
    if (!QDir().mkpath(scalable) || !writeScalable(scalable)) {
        std::fprintf(stderr, "cannot write the scalable icon into %s\n", qPrintable(scalable));
        return 1;
    }
    return 0;
}
