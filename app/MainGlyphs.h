// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The 16 x 16 glyphs of the main window's buttons, each with its greyed disabled form.
#pragma once

#include <QIcon>

namespace app {

QIcon updateGlyph();  // white sheet, red arrow pointing right
QIcon quitGlyph();    // red X
QIcon aboutGlyph();   // ruled notebook page, spiral binding along its top

}  // namespace app
