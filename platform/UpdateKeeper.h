// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// A keeper process for the update guard's descriptors (the logind inhibitor's, a unit hold's).
// Whatever such a descriptor holds lasts as long as any process has it open, so a forked child
// that keeps copies keeps the machine awake and the unit held after the program is gone. That
// matters when the program ends without letting go (SIGKILL, a crash, Qt ending it when its
// display goes at logout) while the drive still stores its new firmware.
//
// The keeper holds the descriptors it is given, one end of a socket pair to the program and, with
// a unit's name, one more socket (below), and nothing else. When the program lets go normally it
// sends one byte and the keeper ends at once; when the socket closes without that byte the
// program has gone, and the keeper keeps everything for the drive's store time more, then ends.
// It runs no code but system calls that are safe after fork() in a threaded program: no D-Bus,
// no Qt, no allocation, no I/O but its sockets.
//
// With a unit's name that socket is bound, once the program has gone, to an abstract address (no
// file) made of this user's id and that name: a later run whose hold of the unit is refused asks
// there, and learns that the holder is this program's keeper of an update of that unit that
// ended moments ago, not another program.
//
// It is called cdrw-fw-keeper in `ps -o comm`, `top` and `pgrep` (its command line in
// `ps -o args` stays the program's), leads a session of its own so that a terminal's Ctrl+C,
// Ctrl+\, Ctrl+Z and hangup never reach it, and ignores SIGHUP and SIGINT besides. SIGTERM ends
// it, so that whoever means it can still end it at once.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace platform {

class UpdateKeeper {
  public:
    static constexpr const char *kName = "cdrw-fw-keeper";
    // How long the program waits for a keeper told to end before it ends it with SIGKILL.
    static constexpr int kEndMilliseconds = 2000;

    // Starts a keeper holding copies of `kept` (open descriptors of this process; others are
    // ignored), which keeps them for `afterLossMilliseconds` once this process has gone without
    // letting go. With nothing to keep, or when fork() fails (said in one line on standard
    // error), no keeper is started and the object holds nothing.
    // `unitName` (UnitHold::unitName) names the held unit, empty when none is held.
    UpdateKeeper(const std::vector<int> &kept, unsigned afterLossMilliseconds,
                 const std::string &unitName = {});
    // Tells the keeper to end and reaps it.
    ~UpdateKeeper();
    UpdateKeeper(const UpdateKeeper &) = delete;
    UpdateKeeper &operator=(const UpdateKeeper &) = delete;

    // The keeper's process id; 0 when none runs.
    pid_t pid() const { return m_pid; }

    // Whether a keeper of this user holds the unit named `unitName` for an update whose program
    // has gone (less than the keeper's time ago).
    static bool keepsUnitOfEndedUpdate(const std::string &unitName);

  private:
    pid_t m_pid = 0;
    int m_socket = -1;  // the program's end; the keeper reads the other
};

}  // namespace platform
