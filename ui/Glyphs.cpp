// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "ui/Glyphs.h"

#include <QImage>
#include <QPainter>
#include <QRadialGradient>

namespace ui {

QPixmap greyed(const QPixmap &pixmap) {
    QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int grey = 128 + qGray(line[x]) / 2;
            line[x] = qRgba(grey, grey, grey, qAlpha(line[x]));
        }
    }
    return QPixmap::fromImage(image);
}

QIcon glyphFromXpm(const char *const *xpm) {
    const QPixmap picture(xpm);
    QIcon icon;
    icon.addPixmap(picture, QIcon::Normal);
    icon.addPixmap(greyed(picture), QIcon::Disabled);
    return icon;
}

void paintProgramIcon(QPainter &painter, int size) {
    // A recordable disc with a red download arrow across it.
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, size > 16);
    const qreal s = size / 32.0;
    QRadialGradient disc(QPointF(12 * s, 12 * s), 18 * s);
    disc.setColorAt(0.0, QColor(0xF0, 0xF0, 0xFF));
    disc.setColorAt(0.5, QColor(0xB0, 0xC8, 0xE8));
    disc.setColorAt(1.0, QColor(0xC8, 0xA0, 0xE0));
    painter.setPen(QPen(QColor(0x40, 0x40, 0x60), s));
    painter.setBrush(disc);
    painter.drawEllipse(QRectF(1 * s, 1 * s, 30 * s, 30 * s));
    painter.setBrush(QColor(0xE0, 0xE0, 0xE0));
    painter.drawEllipse(QRectF(12 * s, 12 * s, 8 * s, 8 * s));
    painter.setBrush(Qt::white);
    painter.drawEllipse(QRectF(14.5 * s, 14.5 * s, 3 * s, 3 * s));
    // The arrow: a shaft and a head pointing down into the disc.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xD0, 0x00, 0x00));
    painter.drawRect(QRectF(22 * s, 2 * s, 5 * s, 14 * s));
    const QPointF head[] = {QPointF(18 * s, 15 * s), QPointF(31 * s, 15 * s),
                            QPointF(24.5 * s, 24 * s)};
    painter.drawPolygon(head, 3);
    painter.restore();
}

QPixmap programIconPixmap(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    paintProgramIcon(painter, size);
    return pixmap;
}

QIcon programIcon() {
    QIcon icon;
    for (const int size : {16, 32, 48}) {
        icon.addPixmap(programIconPixmap(size));
    }
    return icon;
}

}  // namespace ui
