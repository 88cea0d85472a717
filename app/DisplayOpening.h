// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// Opening the display. Without one (no DISPLAY or WAYLAND_DISPLAY, or none that answers, as in a
// text console or a remote shell) the toolkit gives up with a fatal message that blames its own
// installation and aborts. The program instead says what happened and what works without a
// display, and ends with status 1.
#pragma once

#include <QtGlobal>

namespace app {

inline constexpr const char *kNoDisplayText =
    "cdrw-fwupdate: no display could be opened, so the window cannot be shown.\n"
    "Start it on a desktop, or work from this shell: 'cdrw-fwupdate --list' lists the units and "
    "'cdrw-fwupdate --update FILE --unit ADDRESS' updates one (see 'cdrw-fwupdate --help').\n";

// Lives while the application object is made. A fatal message from the toolkit meanwhile writes
// kNoDisplayText to standard error and ends the process with status 1; the toolkit's messages
// before it (why each platform it tried failed) are dropped. When the application object was made,
// those messages are handed on as the toolkit would have written them.
class DisplayOpening {
  public:
    DisplayOpening();
    ~DisplayOpening();
    DisplayOpening(const DisplayOpening &) = delete;
    DisplayOpening &operator=(const DisplayOpening &) = delete;
};

}  // namespace app
