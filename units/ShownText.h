// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// Text on its way to a terminal. A unit's vendor, product and revision come from the bus, and a
// file name from whoever named it: either may hold control characters, which a terminal would
// take as commands (an escape sequence that moves the cursor, clears the screen or retitles the
// window). Every line the shell writes goes through shownText().
#pragma once

#include <string>
#include <string_view>

namespace units {

// `text` (UTF-8) with every control character but the line end written as \xHH: C0 controls,
// DEL, and the C1 controls U+0080 to U+009F (in UTF-8, C2 80 to C2 9F), whose CSI (U+009B)
// starts an escape sequence on many terminals. Everything else is kept byte for byte.
std::string shownText(std::string_view text);

// A unit's text, one byte per character (Latin-1), as UTF-8.
std::string latin1ToUtf8(std::string_view bytes);

}  // namespace units
