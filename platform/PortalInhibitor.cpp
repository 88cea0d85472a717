// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "platform/PortalInhibitor.h"

#include <cstdio>

#include "platform/BusConnection.h"

namespace platform {

namespace {

constexpr const char *kService = "org.freedesktop.portal.Desktop";

void sayWithout(const std::string &reason) {
    std::fprintf(stderr,
                 "cdrw-fwupdate: no desktop inhibitor (%s); logging out is not held off during "
                 "this update\n",
                 reason.c_str());
}

}  // namespace

PortalInhibitor::PortalInhibitor(const std::string &busAddress, const std::string &why,
                                 const std::string &window) {
    const auto deadline = busRequestDeadline();
    m_bus = std::make_unique<BusConnection>(busAddress.empty() ? sessionBusAddress() : busAddress,
                                            "session bus", deadline);
    if (!m_bus->ready()) {
        sayWithout(m_bus->problem());
        m_bus.reset();
        return;
    }
    const BusMessage call = m_bus->methodCall(kService, "/org/freedesktop/portal/desktop",
                                              "org.freedesktop.portal.Inhibit", "Inhibit");
    BusReply reply;
    if (!call || sd_bus_message_append(call.get(), "sua{sv}", window.c_str(), kFlags, 1, "reason",
                                       "s", busText(why).c_str()) < 0) {
        reply.problem = "cannot make the request";
    } else {
        reply = m_bus->call(call, deadline);
    }
    const char *handle = nullptr;
    if (reply.message && sd_bus_message_read(reply.message.get(), "o", &handle) > 0) {
        m_handle = handle;
    }
    if (m_handle.empty()) {
        sayWithout(reply.message ? "no request in the portal's answer" : reply.problem);
        m_bus.reset();
    }
}

PortalInhibitor::~PortalInhibitor() {
    if (m_handle.empty()) {
        return;
    }
    // Waits for the portal no longer than the request did; closing the connection afterwards
    // ends the request in any case.
    const BusMessage close =
        m_bus->methodCall(kService, m_handle.c_str(), "org.freedesktop.portal.Request", "Close");
    m_bus->call(close, busRequestDeadline());
}

}  // namespace platform
