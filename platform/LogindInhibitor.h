// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// A logind block inhibitor for shutdown, sleep, idle and the power, suspend, hibernate and lid
// keys, held for as long as the object lives (logind keeps it while the descriptor it returned is
// open). Where the key locks are refused, shutdown, sleep and idle alone; where there is no bus,
// no logind or a bus that cannot pass the descriptor (TCP), none, said in one line on standard
// error. It never fails, and the whole request (connect, authenticate, Hello, ask, fall back)
// holds the caller up for kLimitMilliseconds at most: a bus that does not answer in that time
// counts as no bus.
#pragma once

#include <string>

#include "platform/BusConnection.h"

namespace platform {

class LogindInhibitor {
  public:
    // `busAddress`: the bus logind is on; empty: the system bus ($DBUS_SYSTEM_BUS_ADDRESS or its
    // usual socket). `why` is shown to the user by the desktop ("Updating the firmware of ...").
    LogindInhibitor(const std::string &busAddress, const std::string &why);
    ~LogindInhibitor();
    LogindInhibitor(const LogindInhibitor &) = delete;
    LogindInhibitor &operator=(const LogindInhibitor &) = delete;

    // The locks logind granted, as asked for; empty when none.
    const std::string &locks() const { return m_locks; }
    // The descriptor that holds the inhibitor; -1 when none.
    int descriptor() const { return m_fd; }

    static constexpr const char *kAllLocks =
        "shutdown:sleep:idle:handle-power-key:handle-suspend-key:handle-hibernate-key:"
        "handle-lid-switch";
    static constexpr const char *kBasicLocks = "shutdown:sleep:idle";
    static constexpr const char *kWho = "CD-R/RW Firmware Update";
    static constexpr int kLimitMilliseconds = kBusRequestLimitMilliseconds;

  private:
    int m_fd = -1;
    std::string m_locks;
};

// Whether an update could take the logind inhibitor, without taking it: logind owns its name on
// the bus at `busAddress` (empty: the system bus) and the bus passes descriptors. Empty when it
// could; otherwise why not, in a few words. Under the same deadline as the inhibitor.
std::string logindProblem(const std::string &busAddress);

}  // namespace platform
