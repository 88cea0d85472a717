// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// Work that the program must wait for, the update's blocks and its wait, during which it takes no
// user input but stays alive.
#pragma once

#include <functional>

namespace platform {

// Runs `work` on a worker thread while the calling thread runs an event loop that takes no user
// input: windows repaint, timers fire and the window manager's ping is answered, but keys, clicks
// and close requests wait until the work is over. Nothing ends the work early; an exception it
// throws is thrown here once it has ended. Without an application object (the shell, logic tests)
// or off its thread, the calling thread runs `work` itself. `work` must not touch a widget.
void runWithoutInput(const std::function<void()> &work);

// Waits `milliseconds` through host().sleepMilliseconds as runWithoutInput's work.
void waitWithoutInput(unsigned milliseconds);

}  // namespace platform
