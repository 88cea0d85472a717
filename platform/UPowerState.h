// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The power supply as UPower tells it on the system bus: OnBattery of org.freedesktop.UPower and,
// on battery, the Percentage of its display device. Asked over a connection of its own under the
// update guard's deadline (platform/BusConnection.h), so that a bus or a UPower that does not
// answer holds the program up for about two seconds at most.
#pragma once

#include <string>

#include "platform/PowerSupply.h"

namespace platform {

// Asks UPower on the bus at `busAddress` (empty: the system bus). Returns Mains or Battery, or
// Unknown with the problem when the bus or UPower does not answer in time or answers otherwise.
PowerState readUPowerState(const std::string &busAddress);

}  // namespace platform
