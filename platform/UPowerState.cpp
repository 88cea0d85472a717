// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "platform/UPowerState.h"

#include "platform/BusConnection.h"

namespace platform {

namespace {

constexpr const char *kService = "org.freedesktop.UPower";
constexpr const char *kDisplayDevice = "/org/freedesktop/UPower/devices/DisplayDevice";

// Reads one property of `type` ("b", "d") into `value`; an empty text, or why it could not.
template <typename Value>
std::string readProperty(BusConnection &bus, const char *path, const char *interface,
                         const char *name, const char *type, Value &value,
                         std::chrono::steady_clock::time_point deadline) {
    const BusMessage call =
        bus.methodCall(kService, path, "org.freedesktop.DBus.Properties", "Get");
    if (!call || sd_bus_message_append(call.get(), "ss", interface, name) < 0) {
        return "cannot make the request";
    }
    const BusReply reply = bus.call(call, deadline);
    if (!reply.message) {
        return reply.errorName == "org.freedesktop.DBus.Error.ServiceUnknown"
                   ? "UPower is not running"
                   : "UPower: " + reply.problem;
    }
    if (sd_bus_message_read(reply.message.get(), "v", type, &value) <= 0) {
        return std::string("UPower's ") + name + " is not of the expected type";
    }
    return {};
}

}  // namespace

PowerState readUPowerState(const std::string &busAddress) {
    const auto deadline = busRequestDeadline();
    BusConnection bus(busAddress.empty() ? systemBusAddress() : busAddress, "system bus", deadline);
    PowerState state;
    state.source = PowerState::Source::Unknown;
    if (!bus.ready()) {
        state.problem = bus.problem();
        return state;
    }
    int onBattery = 0;
    state.problem = readProperty(bus, "/org/freedesktop/UPower", kService, "OnBattery", "b",
                                 onBattery, deadline);
    if (!state.problem.empty()) {
        return state;
    }
    if (onBattery == 0) {
        state.source = PowerState::Source::Mains;
        return state;
    }
    double percentage = 0;
    state.problem = readProperty(bus, kDisplayDevice, "org.freedesktop.UPower.Device", "Percentage",
                                 "d", percentage, deadline);
    if (state.problem.empty()) {
        state.source = PowerState::Source::Battery;
        state.percentage = percentage;
    }
    return state;
}

}  // namespace platform
