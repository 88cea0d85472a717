// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// What the program tells once per start, after the main window is up: main() calls
// showStartupNotices from the message loop's first turn. Each notice is one box, shown only when
// it has something to say; notices are shown in the order listed in StartupNotices.cpp.
#pragma once

class TMainForm;

namespace app {

// Shows the start-up notices over the main window; a second call shows nothing.
void showStartupNotices(TMainForm &mainForm);

}  // namespace app
