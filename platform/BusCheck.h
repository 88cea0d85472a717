// SPDX-License-Identifier: GPL-2.0-or-later
// A check, with a deadline, that a D-Bus bus answers before Qt D-Bus is let near it. Qt D-Bus
// connects without a time-out and does so inside the one thread that serves every connection of
// the process (the accessibility bridge's too): a bus daemon that takes the connection and never
// answers would hold that thread, and whoever waits on it, for ever. This check needs no Qt and
// no thread: it connects a non-blocking socket and waits with poll() until the deadline.
#pragma once

#include <chrono>
#include <string>

namespace platform {

// The longest a request on a bus (connect, ask, fall back) may hold an update up; a bus that has
// not answered by then counts as no bus.
inline constexpr int kBusRequestLimitMilliseconds = 2000;

// What checkBus() found.
struct BusCheck {
    // The one entry of the address that answered (as written there, e.g. "unix:path=/x"), for
    // Qt D-Bus to connect to; empty when none did.
    std::string entry;
    // Why there is no bus to use, in a few words for standard error; empty when there is one.
    std::string problem;

    bool answered() const { return !entry.empty(); }
};

// Tries the entries of the D-Bus address `address` in order, as the D-Bus library would: an
// entry whose socket is missing or refuses is passed over; the first that accepts the connection
// must answer the authentication handshake (EXTERNAL, with this process's user id) with "OK"
// before `deadline`, or there is no bus. An entry this check cannot reach by itself (any
// transport but a Unix socket by path or abstract name, a malformed entry) also means no bus,
// because the D-Bus library would try it without a deadline. The connection is closed again.
BusCheck checkBus(const std::string &address, std::chrono::steady_clock::time_point deadline);

// Whole milliseconds from now until `deadline`, rounded up; 0 or less once it has passed.
long long millisecondsUntil(std::chrono::steady_clock::time_point deadline);

// $DBUS_SYSTEM_BUS_ADDRESS, or the system bus's usual socket when it is unset or empty.
std::string systemBusAddress();

// $DBUS_SESSION_BUS_ADDRESS; empty (no session bus) when it is unset.
std::string sessionBusAddress();

}  // namespace platform
