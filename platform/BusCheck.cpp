// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/BusCheck.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>
#include <utility>

#include "image/HexReader.h"

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

// A descriptor closed with the object.
class Socket {
  public:
    explicit Socket(int fd) : m_fd(fd) {}
    ~Socket() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    Socket(const Socket &) = delete;
    Socket &operator=(const Socket &) = delete;
    int fd() const { return m_fd; }

  private:
    int m_fd;
};

// Bytes a D-Bus address may hold as they are; any other byte is written %XX.
bool isPlainAddressByte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           (c != '\0' && std::strchr("-_/\\*.", c) != nullptr);
}

// A value of an address entry with its %XX escapes undone; nothing when it is malformed or holds
// a NUL byte (a socket name cannot).
std::optional<std::string> unescape(const std::string &value) {
    std::string plain;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (isPlainAddressByte(value[i])) {
            plain += value[i];
            continue;
        }
        if (value[i] != '%' || i + 2 >= value.size()) {
            return std::nullopt;
        }
        const int high = image::hexDigitValue(value[i + 1]);
        const int low = image::hexDigitValue(value[i + 2]);
        if (high < 0 || low < 0 || (high == 0 && low == 0)) {
            return std::nullopt;
        }
        plain += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return plain;
}

// The socket address of a "unix:path=..." or "unix:abstract=..." entry (its "guid" key aside);
// nothing for any other entry.
std::optional<std::pair<sockaddr_un, socklen_t>> unixSocketOf(const std::string &entry) {
    constexpr std::string_view kTransport = "unix:";
    if (entry.compare(0, kTransport.size(), kTransport) != 0) {
        return std::nullopt;
    }
    std::optional<std::string> path, abstract;
    std::size_t start = kTransport.size();
    while (start <= entry.size()) {
        std::size_t end = entry.find(',', start);
        if (end == std::string::npos) {
            end = entry.size();
        }
        const std::string pair = entry.substr(start, end - start);
        const std::size_t equals = pair.find('=');
        if (equals == std::string::npos) {
            return std::nullopt;
        }
        const std::string key = pair.substr(0, equals);
        std::optional<std::string> value = unescape(pair.substr(equals + 1));
        if (!value || value->empty()) {
            return std::nullopt;
        }
        if (key == "path" && !path) {
            path = std::move(value);
        } else if (key == "abstract" && !abstract) {
            abstract = std::move(value);
        } else if (key != "guid") {
            return std::nullopt;
        }
        start = end + 1;
    }
    sockaddr_un socketAddress{};
    socketAddress.sun_family = AF_UNIX;
    // A path keeps room for its terminating NUL; an abstract name starts after a NUL byte.
    const std::string &name = path ? *path : abstract ? *abstract : std::string();
    if (name.empty() || (path && abstract) || name.size() >= sizeof socketAddress.sun_path) {
        return std::nullopt;
    }
    char *at = socketAddress.sun_path + (abstract ? 1 : 0);
    name.copy(at, name.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) +
                                               (abstract ? 1 : 0) + name.size() + (path ? 1 : 0));
    return std::make_pair(socketAddress, length);
}

// Waits until `fd` is ready for `events` (or has failed, which the next call reports), up to
// `deadline`. False when the deadline passed first.
bool waitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        const long long left = millisecondsUntil(deadline);
        if (left <= 0) {
            return false;
        }
        pollfd one{fd, events, 0};
        const int ready = ::poll(&one, 1, static_cast<int>(left));
        if (ready > 0) {
            return true;
        }
        if (ready < 0 && errno != EINTR) {
            return false;
        }
    }
}

// The authentication handshake's first exchange: a NUL byte, the EXTERNAL mechanism with this
// process's user id (its decimal digits, hex-encoded), and the server's "OK <guid>" line.
bool answersHandshake(int fd, Clock::time_point deadline) {
    std::string uid = std::to_string(::geteuid());
    std::string request("\0AUTH EXTERNAL ", 15);
    for (const char digit : uid) {
        static constexpr char kHex[] = "0123456789abcdef";
        request += kHex[static_cast<unsigned char>(digit) >> 4];
        request += kHex[static_cast<unsigned char>(digit) & 0x0f];
    }
    request += "\r\n";
    for (std::size_t sent = 0; sent < request.size();) {
        if (!waitFor(fd, POLLOUT, deadline)) {
            return false;
        }
        const ssize_t n =
            ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
        sent += n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    std::string answer;
    while (answer.find("\r\n") == std::string::npos && answer.size() < 512) {
        if (!waitFor(fd, POLLIN, deadline)) {
            return false;
        }
        char buffer[256];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
            return false;
        }
        answer.append(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
    }
    return answer.compare(0, 3, "OK ") == 0;
}

}  // namespace

BusCheck checkBus(const std::string &address, Clock::time_point deadline) {
    BusCheck check;
    check.problem = "no bus address";
    std::size_t start = 0;
    while (start < address.size()) {
        std::size_t end = address.find(';', start);
        if (end == std::string::npos) {
            end = address.size();
        }
        const std::string entry = address.substr(start, end - start);
        start = end + 1;
        if (entry.empty()) {
            continue;
        }
        const auto socketAddress = unixSocketOf(entry);
        if (!socketAddress) {
            check.problem = "cannot check the bus address " + entry;
            return check;
        }
        const Socket socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        if (socket.fd() < 0) {
            check.problem = std::string("no socket: ") + std::strerror(errno);
            return check;
        }
        int error = 0;
        if (::connect(socket.fd(), reinterpret_cast<const sockaddr *>(&socketAddress->first),
                      socketAddress->second) != 0) {
            error = errno;
        }
        if (error == EINPROGRESS && waitFor(socket.fd(), POLLOUT, deadline)) {
            socklen_t length = sizeof error;
            ::getsockopt(socket.fd(), SOL_SOCKET, SO_ERROR, &error, &length);
        }
        if (error != 0 && error != EAGAIN && error != EINPROGRESS) {
            // Nothing listens there: the D-Bus library would try the next entry at once.
            check.problem = "no bus at " + entry + ": " + std::strerror(error);
            continue;
        }
        // A full backlog (EAGAIN) or a connection that is not taken in time is a bus that does
        // not answer.
        if (error != 0 || !answersHandshake(socket.fd(), deadline)) {
            check.problem = "the bus at " + entry + " did not answer in time";
            return check;
        }
        check.entry = entry;
        check.problem.clear();
        return check;
    }
    return check;
}

long long millisecondsUntil(Clock::time_point deadline) {
    return std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
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
    return address != nullptr ? address : "";
}

}  // namespace platform
