// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// What the host alone can tell before an update sends its first block, and what stands in its
// way: a unit behind a USB bridge (bridges cut, drop or time out firmware download commands) and
// a battery that may run flat while the unit stores its firmware. Nothing is sent to the unit for
// them. The update runs them when it starts and again right before the first block; --check runs
// them with the others and prints each.
#pragma once

#include <string>

#include "aspi/UnitTransport.h"
#include "platform/PowerSupply.h"

namespace update {

// Below this charge on battery an update is refused.
inline constexpr int kBatteryFloorPercent = 25;

enum class CheckResult { Ok, Warn, Refuse };

struct Check {
    std::string name;  // "transport", "power", ...
    CheckResult result = CheckResult::Ok;
    std::string reason;  // what was found and, for Warn and Refuse, what to do
};

// What the user said at start: he knows better than a check.
struct CheckOverrides {
    bool allowUsbBridge = false;  // --allow-usb-bridge
    bool allowBattery = false;    // --allow-battery
};

// "ok", "warn" or "refuse".
const char *resultName(CheckResult result);

// The unit at `unitAddress` ("2:7:0") attached as `transport`: Refuse behind a USB bridge unless
// `overrides` allow it (then Warn); Ok otherwise.
Check transportCheck(const aspi::TransportInfo &transport, const std::string &unitAddress,
                     const CheckOverrides &overrides);

// The power supply: Refuse on battery below kBatteryFloorPercent unless `overrides` allow it
// (then Warn); Warn on battery above it; Warn when it could not be asked; Ok on the mains or
// when this host does not ask.
Check powerCheck(const platform::PowerState &power, const CheckOverrides &overrides);

// "mains", "battery 80 %", "unknown" or "not asked", for the journal and the checks' reasons.
std::string powerText(const platform::PowerState &power);

// The text the shell's confirmation and the window's start-up show once when a check is off;
// empty when none is.
std::string overridesText(const CheckOverrides &overrides);

}  // namespace update
