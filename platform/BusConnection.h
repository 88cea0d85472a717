// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// A private D-Bus connection for one request of the update guard, driven by this program under a
// deadline. Connecting, authenticating, the Hello and every call wait with poll() on the
// connection's own socket and never past the deadline; letting go closes the socket at once,
// whatever is still queued. It is built on sd-bus, which does its I/O only when asked to, starts
// no thread and shares nothing with Qt's own D-Bus connections (the accessibility bridge's): a bus
// daemon that stalls holds up this connection's request and nothing else.
#pragma once

#include <systemd/sd-bus.h>

#include <chrono>
#include <memory>
#include <string>

namespace platform {

// The longest one request on a bus (connect, ask, fall back; or close) may hold the program up; a
// bus that has not answered by then counts as no bus.
inline constexpr int kBusRequestLimitMilliseconds = 2000;

// The time by which a request started now must be over.
inline std::chrono::steady_clock::time_point busRequestDeadline() {
    return std::chrono::steady_clock::now() +
           std::chrono::milliseconds(kBusRequestLimitMilliseconds);
}

struct BusMessageRelease {
    void operator()(sd_bus_message *message) const { sd_bus_message_unref(message); }
};
// An sd-bus message, let go with the object.
using BusMessage = std::unique_ptr<sd_bus_message, BusMessageRelease>;

// The answer to a call.
struct BusReply {
    // The method's reply; null when there is none (an error reply, no answer, the bus gone).
    BusMessage message;
    // The name of the D-Bus error the bus or the service answered with; empty when it did not.
    std::string errorName;
    // Why there is no reply, in a few words for standard error; empty when there is one.
    std::string problem;
};

class BusConnection {
  public:
    // Connects to the bus at the D-Bus address `address` before `deadline`: the first of its
    // entries that takes the connection, authenticates and answers the Hello is used; an entry
    // that fails before the deadline is passed over. Unix sockets (by path or abstract name) are
    // used, and TCP to a host given by number or as "localhost" (authenticated anonymously, the
    // one way a TCP bus can take a client of this library); other entries are passed over, since
    // starting a program or looking up a host name could hold the update up past the deadline.
    // `bus` names the bus in problem(): "system bus", "session bus".
    BusConnection(const std::string &address, const char *bus,
                  std::chrono::steady_clock::time_point deadline);
    // Closes the connection at once; a request still queued is dropped with it.
    ~BusConnection();
    BusConnection(const BusConnection &) = delete;
    BusConnection &operator=(const BusConnection &) = delete;

    // Connected and greeted: calls may be made.
    bool ready() const { return m_bus != nullptr; }
    // Why it is not ready, in a few words; empty when it is.
    const std::string &problem() const { return m_problem; }
    // The entry of the address in use, as written there; empty when not ready.
    const std::string &entry() const { return m_entry; }
    // Whether file descriptors pass over this connection (a Unix socket, and the bus agreed).
    bool passesDescriptors() const;

    // A method call for this connection to fill in (sd_bus_message_append) and pass to call();
    // null when not ready or out of memory.
    BusMessage methodCall(const char *destination, const char *path, const char *interface,
                          const char *member) const;
    // Sends `call` and waits for its answer until `deadline`.
    BusReply call(const BusMessage &call, std::chrono::steady_clock::time_point deadline);

  private:
    // Starts a connection to the one entry `entry`; 0, or the negative errno when it fails at once.
    int start(const std::string &entry);
    // Processes the connection until `done` returns true (0) or `deadline` passes (-ETIMEDOUT);
    // another negative errno when the connection failed first.
    template <typename Done>
    int drive(std::chrono::steady_clock::time_point deadline, Done done);

    sd_bus *m_bus = nullptr;
    std::string m_problem;
    std::string m_entry;
};

// A text of this program (single-byte, Latin-1: a unit's texts may hold any byte) as UTF-8, which a
// D-Bus string must be; it stops at a NUL byte.
std::string busText(const std::string &text);

// $DBUS_SYSTEM_BUS_ADDRESS, or the system bus's usual socket when it is unset or empty.
std::string systemBusAddress();

// $DBUS_SESSION_BUS_ADDRESS, or the session bus's usual socket in $XDG_RUNTIME_DIR when it is
// unset or empty; empty (no session bus) when neither is set.
std::string sessionBusAddress();

}  // namespace platform
