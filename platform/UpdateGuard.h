// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The update guard: what the program holds from right before the first block of an update until
// its wait ends, the user stops, or the update ends any other way. A recorder whose firmware
// download is cut short may be left unusable, so while the guard is held the machine is kept from
// sleeping and shutting down, termination signals are held back, close requests of the windows
// are refused, and no second update runs on the machine.
//
// The guard is one object whose lifetime is that section: taking it takes everything, destroying
// it lets go of everything, whichever way the update ends. With a manager that can hold the unit
// (platform/UnitHold.h), the guard owns that hold too, and the unit's hold takes the place of the
// machine-wide lock.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "platform/UnitHold.h"

namespace platform {

class UpdateGuard {
  public:
    // Keeps `unitHold` (null: no hold) until the guard ends.
    explicit UpdateGuard(std::unique_ptr<UnitHold> unitHold = nullptr)
        : m_unitHold(std::move(unitHold)) {}
    virtual ~UpdateGuard() = default;
    UpdateGuard(const UpdateGuard &) = delete;
    UpdateGuard &operator=(const UpdateGuard &) = delete;

    // The unit's hold, or null when the manager has none.
    const UnitHold *unitHold() const { return m_unitHold.get(); }
    // The keeper process that holds on should the program end without letting go
    // (platform/UpdateKeeper.h); 0 when none runs.
    virtual long long keeperProcess() const { return 0; }

  protected:
    // Lets go of the unit now rather than when the object ends.
    void releaseUnit() { m_unitHold.reset(); }

  private:
    std::unique_ptr<UnitHold> m_unitHold;
};

// Where the real guard finds what it holds. The program uses the defaults; a test that builds a
// real guard points it at its own lock file and its own bus.
struct UpdateGuardSettings {
    // The machine-wide update lock; every user's copy of the program must find the same file.
    std::string lockPath = defaultLockPath();
    // The D-Bus address of the bus that logind is on; empty: the system bus.
    std::string busAddress;
    // The D-Bus address of the session bus, where the desktop portal is; empty: the session bus
    // of the environment.
    std::string sessionBusAddress;
    // The main window's identifier for the desktop portal ("x11:<hex id>"), asked when the guard
    // is taken; none or empty: no window to name (offscreen, Wayland).
    std::function<std::string()> windowIdentifier;
    // Called with the number of a termination signal that arrived while the guard was held, once
    // everything is let go. The program ends there with status 128 + that number.
    std::function<void(int)> onHeldSignal;
    // Called once, on a thread of the guard's own, soon after the first termination signal was
    // held, so that a face can say at once that the update goes on; none: nothing is said.
    std::function<void(int)> announceHeldSignal;
    // Called once, on that thread, soon after the first job-control stop (Ctrl+Z) was ignored
    // while the guard was held; none: nothing is said.
    std::function<void(int)> announceIgnoredStop;
    // Whether the desktop is asked, through its portal, not to log out. A program without a
    // window (the shell's update) has no desktop session of its own to ask.
    bool askDesktop = true;
    // How long the keeper process (platform/UpdateKeeper.h) holds on when the program ends without
    // letting go of the guard: the drive's store time, as long as the update's wait. Only tests
    // shorten it.
    unsigned keeperMilliseconds = 70000;

    // /run/lock/cdrw-fwupdate.lock, or the same name in $XDG_RUNTIME_DIR where /run/lock is
    // missing.
    static std::string defaultLockPath();
};

}  // namespace platform
