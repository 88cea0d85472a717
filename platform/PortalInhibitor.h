// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The desktop's own inhibitor, asked through the XDG desktop portal on the session bus: no
// logout, no user switch, no suspend and no idle while the object lives. Logging out ends the
// session's display, and the program with it, whatever signals it holds; the logind inhibitor
// cannot stop that, the desktop can. Where there is no session bus or no portal, or no answer
// within kBusRequestLimitMilliseconds, none, said in one line on standard error. It never fails.
#pragma once

#include <memory>
#include <string>

namespace platform {

class BusConnection;

class PortalInhibitor {
  public:
    // `busAddress`: the session bus; empty: the session bus of the environment
    // (platform/BusConnection.h). `why` is the reason the desktop shows; `window` the main
    // window's identifier for the portal ("x11:<hex id>"), or empty when there is none.
    PortalInhibitor(const std::string &busAddress, const std::string &why,
                    const std::string &window);
    // Closes the portal's request, waiting kBusRequestLimitMilliseconds at most, and lets go of
    // the connection.
    ~PortalInhibitor();
    PortalInhibitor(const PortalInhibitor &) = delete;
    PortalInhibitor &operator=(const PortalInhibitor &) = delete;

    // Logout, user switch, suspend and idle.
    static constexpr unsigned kFlags = 1 | 2 | 4 | 8;

  private:
    // A connection of its own, kept while the request is held: the portal ends a request whose
    // caller has left the bus. Null when no request is held.
    std::unique_ptr<BusConnection> m_bus;
    // The portal's request object; empty when none is held.
    std::string m_handle;
};

}  // namespace platform
