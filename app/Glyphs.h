// Pixel art of the program: the program icon and the 16 x 16 button glyphs. Each glyph icon
// carries a greyed picture for the disabled state.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace app {

QIcon programIcon();
QPixmap programIconPixmap(int size);  // 16, 32 or 48

QIcon updateGlyph();  // white sheet, red arrow pointing right
QIcon quitGlyph();    // red X
QIcon aboutGlyph();   // ruled notebook page, spiral binding along its top

// Builds a glyph icon from an XPM picture, adding its greyed disabled form.
QIcon glyphFromXpm(const char *const *xpm);
// The greyed form of a picture: grey levels, lightened, transparency kept.
QPixmap greyed(const QPixmap &pixmap);

}  // namespace app
