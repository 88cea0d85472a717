// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "platform/LogindInhibitor.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "platform/BusConnection.h"

namespace platform {

namespace {

// Errors after which asking again for fewer locks cannot help; an empty name: no answer at all.
bool isFinal(const std::string &errorName) {
    return errorName.empty() || errorName == "org.freedesktop.DBus.Error.ServiceUnknown" ||
           errorName == "org.freedesktop.DBus.Error.NoReply" ||
           errorName == "org.freedesktop.DBus.Error.Timeout" ||
           errorName == "org.freedesktop.DBus.Error.Disconnected";
}

void sayWithout(const std::string &reason) {
    std::fprintf(stderr,
                 "cdrw-fwupdate: no logind inhibitor (%s); sleep and shutdown are not held off "
                 "during this update\n",
                 reason.c_str());
}

}  // namespace

LogindInhibitor::LogindInhibitor(const std::string &busAddress, const std::string &why) {
    // The whole request (connect, ask, fall back) ends by this time, answered or not.
    const auto deadline = busRequestDeadline();
    // The bus is reached only here, for the one request, and let go at once: the inhibitor lives
    // on in the descriptor, not in the connection.
    BusConnection bus(busAddress.empty() ? systemBusAddress() : busAddress, "system bus", deadline);
    if (!bus.ready()) {
        sayWithout(bus.problem());
        return;
    }
    if (!bus.passesDescriptors()) {
        sayWithout("the system bus at " + bus.entry() + " passes no descriptors");
        return;
    }
    std::string failure;
    for (const char *locks : {kAllLocks, kBasicLocks}) {
        const BusMessage call = bus.methodCall("org.freedesktop.login1", "/org/freedesktop/login1",
                                               "org.freedesktop.login1.Manager", "Inhibit");
        if (call && sd_bus_message_append(call.get(), "ssss", locks, kWho, busText(why).c_str(),
                                          "block") < 0) {
            failure = "cannot make the request";
            break;
        }
        const BusReply reply = bus.call(call, deadline);
        int fd = -1;
        if (reply.message && sd_bus_message_read(reply.message.get(), "h", &fd) > 0) {
            // The reply owns the descriptor it carried.
            m_fd = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
        }
        if (m_fd >= 0) {
            m_locks = locks;
            break;
        }
        failure = reply.message ? "no descriptor in logind's answer" : reply.problem;
        if (reply.message || isFinal(reply.errorName)) {
            break;
        }
    }
    if (m_fd < 0) {
        sayWithout(failure);
    } else if (m_locks != kAllLocks) {
        std::fprintf(stderr,
                     "cdrw-fwupdate: logind refused the key and lid locks; only shutdown, sleep "
                     "and idle are held off during this update\n");
    }
}

LogindInhibitor::~LogindInhibitor() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

}  // namespace platform

namespace platform {

std::string logindProblem(const std::string &busAddress) {
    const auto deadline = busRequestDeadline();
    BusConnection bus(busAddress.empty() ? systemBusAddress() : busAddress, "system bus", deadline);
    if (!bus.ready()) {
        return bus.problem();
    }
    if (!bus.passesDescriptors()) {
        return "the system bus at " + bus.entry() + " passes no descriptors";
    }
    const BusMessage call = bus.methodCall("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                           "org.freedesktop.DBus", "GetNameOwner");
    if (!call || sd_bus_message_append(call.get(), "s", "org.freedesktop.login1") < 0) {
        return "cannot make the request";
    }
    const BusReply reply = bus.call(call, deadline);
    if (reply.message) {
        return {};
    }
    return reply.errorName == "org.freedesktop.DBus.Error.NameHasNoOwner" ? "logind is not running"
                                                                          : reply.problem;
}

}  // namespace platform
