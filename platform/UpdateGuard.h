// SPDX-License-Identifier: GPL-2.0-or-later
// The update guard: what the program holds from right before the first block of an update until
// its wait ends, the user stops, or the update ends any other way. A recorder whose firmware
// download is cut short may be left unusable, so while the guard is held the machine is kept from
// sleeping and shutting down, termination signals are held back, close requests of the windows
// are refused, and no second update runs on the machine.
//
// The guard is one object whose lifetime is that section: taking it takes everything, destroying
// it lets go of everything, whichever way the update ends.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace platform {

class UpdateGuard {
  public:
    virtual ~UpdateGuard() = default;
};

// Where the real guard finds what it holds. The program uses the defaults; a test that builds a
// real guard points it at its own lock file and its own bus.
struct UpdateGuardSettings {
    // The machine-wide update lock; every user's copy of the program must find the same file.
    std::string lockPath = defaultLockPath();
    // The D-Bus address of the bus that logind is on; empty: the system bus.
    std::string busAddress;
    // Called with the number of a termination signal that arrived while the guard was held, once
    // everything is let go. The program ends there with status 128 + that number.
    std::function<void(int)> onHeldSignal;

    // /run/lock/cdrw-fwupdate.lock, or the same name in $XDG_RUNTIME_DIR where /run/lock is
    // missing.
    static std::string defaultLockPath();
};

}  // namespace platform
