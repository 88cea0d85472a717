// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "update/UpdateChecks.h"

#include <cmath>

namespace update {

namespace {

std::string percentText(double percentage) {
    return std::to_string(static_cast<int>(std::floor(percentage))) + " %";
}

}  // namespace

const char *resultName(CheckResult result) {
    switch (result) {
        case CheckResult::Warn:
            return "warn";
        case CheckResult::Refuse:
            return "refuse";
        case CheckResult::Ok:
            break;
    }
    return "ok";
}

Check transportCheck(const aspi::TransportInfo &transport, const std::string &unitAddress,
                     const CheckOverrides &overrides) {
    Check check{"transport", CheckResult::Ok, {}};
    switch (transport.kind) {
        case aspi::Transport::Ata:
            check.reason = "The unit " + unitAddress + " is attached through an ATA port.";
            return check;
        case aspi::Transport::Scsi:
            check.reason = "The unit " + unitAddress + " is attached through a SCSI adapter.";
            return check;
        case aspi::Transport::Unknown:
            check.reason = "The drive-access manager does not tell how the unit " + unitAddress +
                           " is attached.";
            return check;
        case aspi::Transport::Usb:
            break;
    }
    const std::string bridge = "The unit " + unitAddress + " is attached through a USB bridge (" +
                               aspi::usbIdText(transport) + ").";
    if (overrides.allowUsbBridge) {
        check.result = CheckResult::Warn;
        check.reason = bridge + " The USB bridge check is off (--allow-usb-bridge).";
        return check;
    }
    check.result = CheckResult::Refuse;
    check.reason = bridge +
                   " Bridges often cut or drop firmware download commands, which can leave the "
                   "unit unusable. Connect it to an internal SATA or IDE port to update it. If "
                   "you know that this bridge passes them through, start the program with "
                   "--allow-usb-bridge.";
    return check;
}

Check powerCheck(const platform::PowerState &power, const CheckOverrides &overrides) {
    using Source = platform::PowerState::Source;
    Check check{"power", CheckResult::Ok, {}};
    switch (power.source) {
        case Source::NotAsked:
            check.reason = "The power supply is not checked.";
            return check;
        case Source::Mains:
            check.reason = "The computer runs on the mains.";
            return check;
        case Source::Unknown:
            check.result = CheckResult::Warn;
            check.reason = "The power supply could not be checked (" + power.problem + ").";
            return check;
        case Source::Battery:
            break;
    }
    const std::string battery =
        "The computer runs on battery at " + percentText(power.percentage) + ".";
    if (power.percentage >= kBatteryFloorPercent) {
        check.result = CheckResult::Warn;
        check.reason = battery +
                       " The update goes ahead; keep the battery from running flat "
                       "until it has finished.";
        return check;
    }
    if (overrides.allowBattery) {
        check.result = CheckResult::Warn;
        check.reason = battery + " The battery check is off (--allow-battery).";
        return check;
    }
    check.result = CheckResult::Refuse;
    check.reason = battery +
                   " A battery that runs flat while the unit stores its firmware can leave the "
                   "unit unusable: connect the mains, then update it (or start the program with "
                   "--allow-battery).";
    return check;
}

std::string powerText(const platform::PowerState &power) {
    using Source = platform::PowerState::Source;
    switch (power.source) {
        case Source::Mains:
            return "mains";
        case Source::Battery:
            return "battery " + percentText(power.percentage);
        case Source::Unknown:
            return "unknown";
        case Source::NotAsked:
            break;
    }
    return "not asked";
}

std::string overridesText(const CheckOverrides &overrides) {
    if (overrides.allowUsbBridge && overrides.allowBattery) {
        return "The USB bridge check and the battery check are off (--allow-usb-bridge, "
               "--allow-battery): the program updates units behind a USB bridge and on a low "
               "battery.";
    }
    if (overrides.allowUsbBridge) {
        return "The USB bridge check is off (--allow-usb-bridge): the program updates units "
               "behind a USB bridge.";
    }
    if (overrides.allowBattery) {
        return "The battery check is off (--allow-battery): the program updates units on a low "
               "battery.";
    }
    return {};
}

}  // namespace update
