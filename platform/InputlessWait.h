// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The update's wait: a fixed time during which the program takes no user input but stays alive.
#pragma once

namespace platform {

// Waits `milliseconds` through host().sleepMilliseconds, run on a worker thread, while the calling
// thread runs an event loop that takes no user input: windows repaint, timers fire and the window
// manager's ping is answered, but keys, clicks and close requests wait until it is over. Nothing
// ends the wait early. Without an application object (command-line tools, logic tests) the
// calling thread sleeps itself.
void waitWithoutInput(unsigned milliseconds);

}  // namespace platform
