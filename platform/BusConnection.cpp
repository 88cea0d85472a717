// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "platform/BusConnection.h"

#include <arpa/inet.h>
#include <poll.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>

#include "image/HexReader.h"

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

// Whole milliseconds from now until `deadline`, rounded up; 0 or less once it has passed.
long long millisecondsUntil(Clock::time_point deadline) {
    return std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
}

// The clock sd-bus states its time-outs in.
std::uint64_t monotonicMicroseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000000 +
           static_cast<std::uint64_t>(now.tv_nsec) / 1000;
}

// Bytes a D-Bus address holds as they are; any other byte is written %XX.
bool isPlainAddressByte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           (c != '\0' && std::strchr("-_/\\*.", c) != nullptr);
}

// The value of `key` in the entry's "key=value" pairs with its %XX escapes undone; nothing when
// the key is missing or its value malformed.
std::optional<std::string> valueOf(std::string_view entry, std::string_view key) {
    std::size_t start = entry.find(':');
    while (start != std::string_view::npos) {
        ++start;
        const std::size_t end = entry.find(',', start);
        const std::string_view pair = entry.substr(start, end - start);
        start = end;
        if (pair.substr(0, key.size()) != key || pair.substr(key.size(), 1) != "=") {
            continue;
        }
        std::string plain;
        for (std::size_t i = key.size() + 1; i < pair.size(); ++i) {
            if (pair[i] != '%') {
                plain += pair[i];
                continue;
            }
            const int high = i + 2 < pair.size() ? image::hexDigitValue(pair[i + 1]) : -1;
            const int low = i + 2 < pair.size() ? image::hexDigitValue(pair[i + 2]) : -1;
            if (high < 0 || low < 0) {
                return std::nullopt;
            }
            plain += static_cast<char>(high * 16 + low);
            i += 2;
        }
        return plain;
    }
    return std::nullopt;
}

bool isTcp(std::string_view entry) {
    return entry.substr(0, 4) == "tcp:";
}

// Why `entry` is passed over; empty when it is used. A Unix socket is reached at once. A TCP
// host given by name would be looked up by the resolver, which waits for no deadline; the other
// transports start a program (unixexec, autolaunch), enter another machine's namespaces, or are
// not supported by the library (nonce-tcp).
std::string whyPassedOver(std::string_view entry) {
    if (entry.substr(0, 5) == "unix:") {
        return {};
    }
    if (isTcp(entry)) {
        const std::optional<std::string> host = valueOf(entry, "host");
        unsigned char number[sizeof(in6_addr)];
        if (host && (*host == "localhost" || ::inet_pton(AF_INET, host->c_str(), number) == 1 ||
                     ::inet_pton(AF_INET6, host->c_str(), number) == 1)) {
            return {};
        }
        return "the bus address " + std::string(entry) + " names no host by number";
    }
    return "cannot use the bus address " + std::string(entry);
}

// A D-Bus address value for `plain`: bytes other than the plain ones written %XX.
std::string escapeAddressValue(std::string_view plain) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string value;
    for (const char c : plain) {
        if (isPlainAddressByte(c)) {
            value += c;
        } else {
            value += '%';
            value += kHex[static_cast<unsigned char>(c) >> 4];
            value += kHex[static_cast<unsigned char>(c) & 0x0f];
        }
    }
    return value;
}

std::string noAnswerWithinTheLimit() {
    return "no answer within " + std::to_string(kBusRequestLimitMilliseconds) + " ms";
}

}  // namespace

BusConnection::BusConnection(const std::string &address, const char *bus,
                             Clock::time_point deadline) {
    m_problem = std::string("no ") + bus + " address";
    std::size_t next = 0;
    while (next < address.size()) {
        std::size_t end = address.find(';', next);
        if (end == std::string::npos) {
            end = address.size();
        }
        const std::string entry = address.substr(next, end - next);
        next = end + 1;
        if (entry.empty()) {
            continue;
        }
        if (std::string why = whyPassedOver(entry); !why.empty()) {
            m_problem = std::move(why);
            continue;
        }
        if (millisecondsUntil(deadline) <= 0) {
            break;
        }
        int result = start(entry);
        if (result == 0) {
            result = drive(deadline, [this] { return sd_bus_is_ready(m_bus) > 0; });
            if (result == 0) {
                m_entry = entry;
                m_problem.clear();
                return;
            }
            m_bus = sd_bus_close_unref(m_bus);
        }
        if (result == -ETIMEDOUT) {
            m_problem =
                std::string("the ") + bus + " at " + entry + " gave " + noAnswerWithinTheLimit();
            return;
        }
        m_problem = std::string("no ") + bus + " at " + entry + ": " + std::strerror(-result);
    }
}

BusConnection::~BusConnection() {
    // Not sd_bus_flush_close_unref(): flushing waits, without a time-out, for a bus that may
    // have stopped reading. A request still queued is given up anyway.
    sd_bus_close_unref(m_bus);
}

int BusConnection::start(const std::string &entry) {
    sd_bus *bus = nullptr;
    int result = sd_bus_new(&bus);
    if (result >= 0) {
        result = sd_bus_set_address(bus, entry.c_str());
    }
    if (result >= 0) {
        result = sd_bus_set_bus_client(bus, 1);
    }
    if (result >= 0) {
        result = sd_bus_negotiate_fds(bus, 1);
    }
    // A bus daemon takes a TCP client without credentials only anonymously.
    if (result >= 0 && isTcp(entry)) {
        result = sd_bus_set_anonymous(bus, 1);
    }
    // Connects without waiting; the authentication and the Hello are queued, for drive().
    if (result >= 0) {
        result = sd_bus_start(bus);
    }
    if (result < 0) {
        sd_bus_close_unref(bus);
        return result;
    }
    m_bus = bus;
    return 0;
}

template <typename Done>
int BusConnection::drive(Clock::time_point deadline, Done done) {
    for (;;) {
        if (done()) {
            return 0;
        }
        const long long left = millisecondsUntil(deadline);
        if (left <= 0) {
            return -ETIMEDOUT;
        }
        const int processed = sd_bus_process(m_bus, nullptr);
        if (processed < 0) {
            return processed;
        }
        if (processed > 0) {
            continue;  // more may be ready without waiting
        }
        const int fd = sd_bus_get_fd(m_bus);
        const int events = sd_bus_get_events(m_bus);
        if (fd < 0 || events < 0) {
            return fd < 0 ? fd : events;
        }
        // sd-bus's own time-outs (the authentication's, a call's) are processed when they come.
        long long wait = left;
        std::uint64_t until = 0;
        if (sd_bus_get_timeout(m_bus, &until) >= 0 && until != UINT64_MAX) {
            const std::uint64_t now = monotonicMicroseconds();
            wait = std::min<long long>(wait, until > now ? (until - now + 999) / 1000 : 0);
        }
        pollfd one{fd, static_cast<short>(events), 0};
        if (::poll(&one, 1, static_cast<int>(wait)) < 0 && errno != EINTR) {
            return -errno;
        }
    }
}

bool BusConnection::passesDescriptors() const {
    // Answers at once on a connection that is ready.
    return m_bus != nullptr && sd_bus_can_send(m_bus, SD_BUS_TYPE_UNIX_FD) > 0;
}

BusMessage BusConnection::methodCall(const char *destination, const char *path,
                                     const char *interface, const char *member) const {
    sd_bus_message *message = nullptr;
    if (m_bus == nullptr ||
        sd_bus_message_new_method_call(m_bus, &message, destination, path, interface, member) < 0) {
        return nullptr;
    }
    return BusMessage(message);
}

BusReply BusConnection::call(const BusMessage &call, Clock::time_point deadline) {
    BusReply reply;
    const long long left = millisecondsUntil(deadline);
    if (m_bus == nullptr || !call) {
        reply.problem = "no call";
        return reply;
    }
    if (left <= 0) {
        reply.problem = noAnswerWithinTheLimit();
        return reply;
    }
    struct Answer {
        BusMessage message;
    } answer;
    sd_bus_slot *slot = nullptr;
    int result = sd_bus_call_async(
        m_bus, &slot, call.get(),
        [](sd_bus_message *message, void *data, sd_bus_error *) {
            static_cast<Answer *>(data)->message.reset(sd_bus_message_ref(message));
            return 0;
        },
        &answer, static_cast<std::uint64_t>(left) * 1000);
    if (result >= 0) {
        result = drive(deadline, [&answer] { return answer.message != nullptr; });
    }
    // A call given up is forgotten: an answer that comes later calls nothing.
    sd_bus_slot_unref(slot);
    if (result == -ETIMEDOUT) {
        reply.problem = noAnswerWithinTheLimit();
    } else if (result < 0) {
        reply.problem = std::strerror(-result);
    } else if (sd_bus_message_is_method_error(answer.message.get(), nullptr) > 0) {
        const sd_bus_error *error = sd_bus_message_get_error(answer.message.get());
        reply.errorName = error->name != nullptr ? error->name : "";
        reply.problem = reply.errorName + ": " + (error->message != nullptr ? error->message : "");
    } else {
        reply.message = std::move(answer.message);
    }
    return reply;
}

std::string busText(const std::string &text) {
    std::string utf8;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == 0) {
            break;
        }
        if (byte < 0x80) {
            utf8 += c;
        } else {
            utf8 += static_cast<char>(0xC0 | (byte >> 6));
            utf8 += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return utf8;
}

std::string systemBusAddress() {
    const char *address = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    if (address != nullptr && address[0] != '\0') {
        return address;
    }
    return "unix:path=/run/dbus/system_bus_socket";
}

std::string sessionBusAddress() {
    const char *address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address != nullptr && address[0] != '\0') {
        return address;
    }
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] != '\0') {
        return "unix:path=" + escapeAddressValue(std::string(runtime) + "/bus");
    }
    return {};
}

}  // namespace platform
