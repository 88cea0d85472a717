// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "app/MainGlyphs.h"

#include "ui/Glyphs.h"

namespace app {

namespace {

// clang-format off
const char *const kUpdateXpm[] = {
    "16 16 5 1",
    "  c None",
    ". c #000000",
    "w c #FFFFFF",
    "g c #C0C0C0",
    "r c #E00000",
    "                ",
    " .........      ",
    " .wwwwwww..     ",
    " .wwwwwww.w.    ",
    " .wwwwwww....   ",
    " .wwwwwwwwr.    ",
    " .wwwwwwwwrr    ",
    " .wwwwwwwwrrr   ",
    " .wrrrrrrrrrrr  ",
    " .wrrrrrrrrrrrr ",
    " .wrrrrrrrrrrr  ",
    " .wwwwwwwwrrr   ",
    " .wwwwwwwwrr    ",
    " .wwwwwwwwr.    ",
    " .gggggggggg.   ",
    " ............   ",
};

const char *const kQuitXpm[] = {
    "16 16 3 1",
    "  c None",
    "r c #E00000",
    "d c #800000",
    "                ",
    "  rr        rr  ",
    " rrrr      rrrr ",
    " rrrrr    rrrrr ",
    "  rrrrr  rrrrr  ",
    "   rrrrrrrrrr   ",
    "    rrrrrrrr    ",
    "     rrrrrr     ",
    "     rrrrrr     ",
    "    rrrrrrrr    ",
    "   rrrrrrrrrr   ",
    "  rrrrr  rrrrr  ",
    " rrrrr    rrrrr ",
    " rrrrd     drrr ",
    "  dd        dd  ",
    "                ",
};

const char *const kAboutXpm[] = {
    "16 16 6 1",
    "  c None",
    ". c #000000",
    "w c #FFFFFF",
    "b c #6080E0",
    "s c #808080",
    "r c #E06060",
    "  .  .  .  .  . ",
    " . .. .. .. .. .",
    " s.ss.ss.ss.ss.s",
    " .w.ww.ww.ww.w. ",
    " .wrwwwwwwwwwww.",
    " .wrbbbbbbbbbbb.",
    " .wrwwwwwwwwwww.",
    " .wrbbbbbbbbbbb.",
    " .wrwwwwwwwwwww.",
    " .wrbbbbbbbbbbb.",
    " .wrwwwwwwwwwww.",
    " .wrbbbbbbbbbbb.",
    " .wrwwwwwwwwwww.",
    " .wrbbbbbbbbbbb.",
    " .wrwwwwwwwwwww.",
    " ...............",
};
// clang-format on

}  // namespace

QIcon updateGlyph() {
    return ui::glyphFromXpm(kUpdateXpm);
}
QIcon quitGlyph() {
    return ui::glyphFromXpm(kQuitXpm);
}
QIcon aboutGlyph() {
    return ui::glyphFromXpm(kAboutXpm);
}

}  // namespace app
