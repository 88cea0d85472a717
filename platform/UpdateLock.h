// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The machine-wide update lock: an exclusive flock on a file that every user's copy of the program
// finds, so that only one update runs on the machine at a time. Held for as long as the object
// lives; the kernel lets go of it when the process ends, however it ends.
#pragma once

#include <string>

namespace platform {

class UpdateLock {
  public:
    // Tries once and never waits. A lock file that cannot be opened, is not a regular file, or
    // cannot be locked for another reason than another holder is reported in one line on
    // standard error; the update goes on without.
    explicit UpdateLock(const std::string &path);
    ~UpdateLock();
    UpdateLock(const UpdateLock &) = delete;
    UpdateLock &operator=(const UpdateLock &) = delete;

    // Another process holds the lock: this object holds nothing.
    bool heldElsewhere() const { return m_heldElsewhere; }

  private:
    int m_fd = -1;
    bool m_heldElsewhere = false;
};

}  // namespace platform
