// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "dialogs/ChooserGlyphs.h"

#include <array>

#include "ui/Glyphs.h"

namespace dialogs {

namespace {

// clang-format off
// A disk unit: light top edge, grey body, green lamp.
const char *const kFixedXpm[] = {
    "16 16 6 1",
    "  c None",
    ". c #000000",
    "w c #FFFFFF",
    "g c #C0C0C0",
    "s c #808080",
    "l c #00C000",
    "                ",
    "                ",
    "                ",
    "                ",
    "                ",
    "  ............  ",
    " .wwwwwwwwwwww. ",
    " .wgggggggggggs.",
    " .wgggggggggggs.",
    " .wggggggggglgs.",
    " .wgggggggggggs.",
    " .ssssssssssss. ",
    "  ............  ",
    "                ",
    "                ",
    "                ",
};

// A diskette: metal shutter above, paper label below.
const char *const kRemovableXpm[] = {
    "16 16 6 1",
    "  c None",
    ". c #000000",
    "b c #2848A0",
    "s c #C0C0C0",
    "w c #FFFFFF",
    "k c #8088C0",
    "                ",
    " .............. ",
    " .bb.ssss.ss.b. ",
    " .bb.ssss.ss.b. ",
    " .bb.ssss.ss.b. ",
    " .bb.........b. ",
    " .bbbbbbbbbbbb. ",
    " .bbbbbbbbbbbb. ",
    " .b..........b. ",
    " .b.wwwwwwww.b. ",
    " .b.wkkkkkkw.b. ",
    " .b.wwwwwwww.b. ",
    " .b.wkkkkkkw.b. ",
    " .b.wwwwwwww.b. ",
    " .............. ",
    "                ",
};

// A compact disc with a coloured sheen.
const char *const kCdXpm[] = {
    "16 16 6 1",
    "  c None",
    ". c #000000",
    "c c #C8C8D8",
    "h c #E8C8F8",
    "b c #A0C8F0",
    "s c #F8F8F8",
    "      ....      ",
    "    ..bbbc..    ",
    "  ..hhbbbccc..  ",
    "  .hhhbbbcccc.  ",
    " .hhhhhbbccccc. ",
    " .hhhhsssscccc. ",
    ".ccchs....scccc.",
    ".ccccs.  .scccc.",
    ".ccccs.  .scccc.",
    ".ccccs....shccc.",
    " .ccccsssshhhh. ",
    " .ccccccbhhhhh. ",
    "  .cccccbbhhh.  ",
    "  ..ccccbbhh..  ",
    "    ..ccbb..    ",
    "      ....      ",
};

// A memory module: chips on a green board, gold contacts.
const char *const kRamXpm[] = {
    "16 16 5 1",
    "  c None",
    ". c #000000",
    "g c #208040",
    "k c #303030",
    "y c #E0C040",
    "                ",
    "                ",
    "                ",
    "                ",
    "................",
    ".gggggggggggggg.",
    ".gkkkgkkkgkkkgg.",
    ".gkkkgkkkgkkkgg.",
    ".gkkkgkkkgkkkgg.",
    ".gggggggggggggg.",
    ".gyygyygyygyygg.",
    "................",
    "                ",
    "                ",
    "                ",
    "                ",
};

// A disk unit hanging on a network line.
const char *const kNetworkXpm[] = {
    "16 16 6 1",
    "  c None",
    ". c #000000",
    "w c #FFFFFF",
    "g c #C0C0C0",
    "s c #808080",
    "l c #00C000",
    "                ",
    "                ",
    "  ............  ",
    " .wwwwwwwwwwww. ",
    " .wgggggggggggs.",
    " .wggggggggglgs.",
    " .wgggggggggggs.",
    " .ssssssssssss. ",
    "  ............  ",
    "       ..       ",
    "       ..       ",
    "       ..       ",
    "................",
    "................",
    "                ",
    "                ",
};

// A closed folder.
const char *const kClosedFolderXpm[] = {
    "16 16 5 1",
    "  c None",
    ". c #000000",
    "h c #FFF0A0",
    "y c #E8C040",
    "d c #A07818",
    "                ",
    "                ",
    "  .....         ",
    " .hhhhh.        ",
    " .hyyyyy......  ",
    " .hhhhhhhhhhhh. ",
    " .hyyyyyyyyyyd. ",
    " .hyyyyyyyyyyd. ",
    " .hyyyyyyyyyyd. ",
    " .hyyyyyyyyyyd. ",
    " .hyyyyyyyyyyd. ",
    " .hyyyyyyyyyyd. ",
    " .dddddddddddd. ",
    " .............. ",
    "                ",
    "                ",
};

// An open folder: the front flap tipped forward.
const char *const kOpenFolderXpm[] = {
    "16 16 5 1",
    "  c None",
    ". c #000000",
    "h c #FFF0A0",
    "y c #E8C040",
    "d c #A07818",
    "                ",
    "                ",
    "  .....         ",
    " .hhhhh.        ",
    " .hyyyyy......  ",
    " .hyyyyyyyyyy.  ",
    " .hyy...........",
    " .hy.hhhhhhhhhh.",
    " .h.hyyyyyyyyd. ",
    " .h.yyyyyyyyyd. ",
    " ..hyyyyyyyyd.  ",
    " ..yyyyyyyyyd.  ",
    " .hyyyyyyyyd.   ",
    " .............  ",
    "                ",
    "                ",
};

// The current folder: open, with a sheet of paper standing in it.
const char *const kCurrentFolderXpm[] = {
    "16 16 6 1",
    "  c None",
    ". c #000000",
    "h c #FFF0A0",
    "y c #E8C040",
    "d c #A07818",
    "w c #FFFFFF",
    "                ",
    "      .......   ",
    "  ....wwwwww.   ",
    " .hhh.w....w.   ",
    " .hyy.wwwwww... ",
    " .hyy.w....w..  ",
    " .hyy...........",
    " .hy.hhhhhhhhhh.",
    " .h.hyyyyyyyyd. ",
    " .h.yyyyyyyyyd. ",
    " ..hyyyyyyyyd.  ",
    " ..yyyyyyyyyd.  ",
    " .hyyyyyyyyd.   ",
    " .............  ",
    "                ",
    "                ",
};
// clang-format on

}  // namespace

QIcon volumeGlyph(VolumeKind kind) {
    // In the order of VolumeKind.
    constexpr std::array kPictures{kFixedXpm, kRemovableXpm, kCdXpm, kRamXpm, kNetworkXpm};
    return ui::glyphFromXpm(kPictures.at(static_cast<size_t>(kind)));
}

QIcon folderGlyph(EntryKind kind) {
    // In the order of EntryKind.
    constexpr std::array kPictures{kOpenFolderXpm, kCurrentFolderXpm, kClosedFolderXpm};
    return ui::glyphFromXpm(kPictures.at(static_cast<size_t>(kind)));
}

}  // namespace dialogs
