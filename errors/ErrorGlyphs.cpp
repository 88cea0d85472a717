// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "errors/ErrorGlyphs.h"

#include "ui/Glyphs.h"

namespace errors {

namespace {

// Light red pixels soften the edges of the round shapes against the button face.
// clang-format off
const char *const kRetryXpm[] = {
    "16 16 4 1",
    "  c None",
    ". c #000000",
    "r c #E00000",
    "o c #F09090",
    "      oorr      ",
    "    rrrrrrro    ",
    "   rrrrrrrrr    ",
    "  rrr   rro     ",
    " rrr   ..       ",
    " rr    ..       ",
    "orr    ..       ",
    "oro    ..    oro",
    "oro    ..    oro",
    "orr    ..    rro",
    " rr          rr ",
    " rrr   ..   rrr ",
    "  rrr  ..  rrr  ",
    "   rrrrrrrrrr   ",
    "    rrrrrrrr    ",
    "      oooo      ",
};

const char *const kIgnoreXpm[] = {
    "16 16 3 1",
    "  c None",
    ". c #000000",
    "r c #E00000",
    "                ",
    " rr    ..    rr ",
    " rrr   ..   rrr ",
    "  rrr  ..  rrr  ",
    "   rrr .. rrr   ",
    "    rrr..rrr    ",
    "     rrrrrr     ",
    "      rrrr      ",
    "      rrrr      ",
    "     rrrrrr     ",
    "    rrr..rrr    ",
    "   rrr    rrr   ",
    "  rrr  ..  rrr  ",
    " rrr   ..   rrr ",
    " rr          rr ",
    "                ",
};

const char *const kStopXpm[] = {
    "16 16 4 1",
    "  c None",
    ". c #000000",
    "r c #E00000",
    "o c #F09090",
    "     orrrro     ",
    "   orrrrrrrro   ",
    "  rrrro  orrrr  ",
    " orrr  ..  orro ",
    " rrrrr ..   orr ",
    "orr rrr..    rro",
    "rro  rrr.    orr",
    "rr    rrr     rr",
    "rr     rrr    rr",
    "rro    .rrr  orr",
    "orr      rrr rro",
    " rro   .. rrrrr ",
    " orro  ..  rrro ",
    "  rrrro  orrrr  ",
    "   orrrrrrrro   ",
    "     orrrro     ",
};
// clang-format on

}  // namespace

QIcon retryGlyph() {
    return ui::glyphFromXpm(kRetryXpm);
}
QIcon ignoreGlyph() {
    return ui::glyphFromXpm(kIgnoreXpm);
}
QIcon stopGlyph() {
    return ui::glyphFromXpm(kStopXpm);
}

}  // namespace errors
