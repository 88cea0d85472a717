// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The program icon, and the decoding of the 16 x 16 button glyphs that every window draws from
// XPM pictures. Each glyph icon carries a greyed picture for the disabled state.
#pragma once

#include <QIcon>
#include <QPainter>
#include <QPixmap>

namespace ui {

QIcon programIcon();
QPixmap programIconPixmap(int size);  // 16 to 256
// Paints the program icon into the square (0, 0, size, size) of any paint device (a pixmap, a
// scalable picture); at 16 pixels without smoothing, so that the smallest icon stays crisp.
void paintProgramIcon(QPainter &painter, int size);

// Builds a glyph icon from an XPM picture, adding its greyed disabled form.
QIcon glyphFromXpm(const char *const *xpm);
// The greyed form of a picture: grey levels, lightened, transparency kept.
QPixmap greyed(const QPixmap &pixmap);

}  // namespace ui
