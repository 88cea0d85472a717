// SPDX-License-Identifier: GPL-2.0-or-later
// The program icon, and the decoding of the 16 x 16 button glyphs that every window draws from
// XPM pictures. Each glyph icon carries a greyed picture for the disabled state.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace ui {

QIcon programIcon();
QPixmap programIconPixmap(int size);  // 16, 32 or 48

// Builds a glyph icon from an XPM picture, adding its greyed disabled form.
QIcon glyphFromXpm(const char *const *xpm);
// The greyed form of a picture: grey levels, lightened, transparency kept.
QPixmap greyed(const QPixmap &pixmap);

}  // namespace ui
