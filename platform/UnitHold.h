// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// What the update guard holds of the unit itself: the manager keeps everything else from reaching
// the unit (the kernel's media polling, mounts, recording programs, other copies of this
// program) until the hold is let go. Letting go is destroying the object.
#pragma once

#include <string>
#include <vector>

namespace platform {

class UnitHold {
  public:
    virtual ~UnitHold() = default;

    // The descriptors of this process that the manager opened for the hold (the unit's block
    // device, the descriptor of its lock), so that a process that must keep the hold after this
    // one ends can inherit exactly them. Empty when the hold opened none.
    virtual std::vector<int> descriptors() const = 0;

    // The unit's name among this user's updates ("0:3", its adapter and target under the
    // manager; "simulated 0:3" on the simulator), which a keeper of the hold gives to a later run
    // once the program has gone (platform/UpdateKeeper.h); empty: none.
    virtual std::string unitName() const { return {}; }
};

}  // namespace platform
