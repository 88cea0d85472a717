// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// Standard streams that a process was started without.
#pragma once

namespace platform {

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed (a launcher, cron or `2>&-`
// may start the program so): the next file, unit node or display connection opened would
// otherwise take that number, and every line meant for standard error would go into it.
// Standard input gets it for reading, the other two for writing; like standard streams they
// are passed on to programs this one starts. A /dev/null that cannot be opened leaves the number
// closed. Only async-signal-safe calls, so that a child of fork() may call it too.
void openClosedStandardStreams();

}  // namespace platform
