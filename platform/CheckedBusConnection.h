// SPDX-License-Identifier: GPL-2.0-or-later
// A Qt D-Bus connection of its own to a bus that has just answered (platform/BusCheck.h), for the
// update guard's requests: Qt D-Bus meets no bus that could hold its connect, shared with the
// accessibility bridge, for ever.
#pragma once

#include <QDBusConnection>
#include <QString>
#include <chrono>
#include <string>

namespace platform {

// Checks the bus at `address` before `deadline`, then opens the named connection `name` to the
// entry that answered. Returns it connected; otherwise the named connection is let go again, the
// one returned is not connected, and `problem` says why in a few words (`bus` names the bus
// there: "system bus", "session bus").
QDBusConnection connectCheckedBus(const std::string &address, const QString &name, const char *bus,
                                  std::chrono::steady_clock::time_point deadline, QString &problem);

}  // namespace platform
