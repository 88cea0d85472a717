// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// Lets test failures print Qt values as text.
#pragma once

#include <QRect>
#include <QString>
#include <QStringList>
#include <ostream>

inline void PrintTo(const QString &text, std::ostream *out) {
    *out << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList &texts, std::ostream *out) {
    *out << '{' << texts.join(QStringLiteral(", ")).toStdString() << '}';
}
inline void PrintTo(const QRect &rect, std::ostream *out) {
    *out << '(' << rect.x() << ", " << rect.y() << ", " << rect.width() << " x " << rect.height()
         << ')';
}
inline void PrintTo(const QPoint &point, std::ostream *out) {
    *out << '(' << point.x() << ", " << point.y() << ')';
}
