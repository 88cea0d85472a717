// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "platform/UpdateKeeper.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "platform/StandardStreams.h"

namespace platform {

namespace {

// What the program sends when it lets go normally.
constexpr char kLetGo = 'E';

long long monotonicMilliseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Closes the descriptors first..last; where close_range is missing (kernels before 5.9), one by
// one below `limit`.
void closeRange(unsigned first, unsigned last, unsigned limit) {
    if (first > last || ::close_range(first, last, 0) == 0) {
        return;
    }
    for (unsigned fd = first; fd <= last && fd < limit; ++fd) {
        ::close(static_cast<int>(fd));
    }
}

// The abstract socket address (no file; gone with its last descriptor) at which a keeper of this
// user names the unit of an update whose program has gone.
struct UnitAddress {
    sockaddr_un address{};
    socklen_t length = 0;
};

UnitAddress unitAddress(const std::string &unitName) {
    const std::string name = std::string(UpdateKeeper::kName) + " uid " +
                             std::to_string(::geteuid()) + " unit " + unitName;
    UnitAddress unit;
    unit.address.sun_family = AF_UNIX;
    // sun_path[0] stays NUL: the abstract namespace.
    const std::size_t size = std::min(name.size(), sizeof unit.address.sun_path - 1);
    std::memcpy(unit.address.sun_path + 1, name.data(), size);
    unit.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + size);
    return unit;
}

// The keeper, in the child of fork(): async-signal-safe calls only, as the other threads of the
// program may have held any lock at the fork. `kept` is sorted and holds `socket` and, when a
// unit is named, `named`, which is bound to `unit` once the program has gone.
[[noreturn]] void keep(const int *kept, std::size_t count, int socket, int named,
                       const UnitAddress &unit, unsigned afterLoss, unsigned limit) {
    // No handler of the program runs here; a terminal's interrupt and hangup are ignored.
    struct sigaction action {};
    sigemptyset(&action.sa_mask);
    for (int signal = 1; signal < NSIG; ++signal) {
        action.sa_handler = signal == SIGHUP || signal == SIGINT ? SIG_IGN : SIG_DFL;
        ::sigaction(signal, &action, nullptr);
    }
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    // Out of the program's session and process group: no terminal's job control reaches it, nor
    // a signal sent to the program's group.
    ::setsid();
    ::prctl(PR_SET_NAME, UpdateKeeper::kName, 0, 0, 0);

    unsigned next = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const auto fd = static_cast<unsigned>(kept[i]);
        if (fd > next) {
            closeRange(next, fd - 1, limit);
        }
        next = fd + 1;
    }
    closeRange(next, UINT_MAX, limit);
    // Nothing of the program's is left on the standard streams; whatever the keeper or the C
    // library writes there goes nowhere rather than into a descriptor it keeps.
    openClosedStandardStreams();

    char word = 0;
    ssize_t got = 0;
    do {
        got = ::read(socket, &word, 1);
    } while (got < 0 && errno == EINTR);
    if (got == 1) {
        ::_exit(0);
    }
    // The program has gone without letting go. Connections to the unit's address are never
    // taken; asking needs only that one can be made.
    if (named >= 0 &&
        ::bind(named, reinterpret_cast<const sockaddr *>(&unit.address), unit.length) == 0) {
        ::listen(named, SOMAXCONN);
    }
    const long long deadline = monotonicMilliseconds() + afterLoss;
    for (long long left = afterLoss; left > 0; left = deadline - monotonicMilliseconds()) {
        ::poll(nullptr, 0, static_cast<int>(std::min<long long>(left, INT_MAX)));
    }
    ::_exit(0);
}

}  // namespace

UpdateKeeper::UpdateKeeper(const std::vector<int> &kept, unsigned afterLossMilliseconds,
                           const std::string &unitName) {
    std::vector<int> descriptors;
    for (const int fd : kept) {
        if (fd >= 0 && ::fcntl(fd, F_GETFD) >= 0) {
            descriptors.push_back(fd);
        }
    }
    if (descriptors.empty()) {
        return;
    }
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        std::fprintf(stderr, "cdrw-fwupdate: no keeper process (%s)\n", std::strerror(errno));
        return;
    }
    descriptors.push_back(ends[1]);
    const UnitAddress unit = unitAddress(unitName);
    const int named = unitName.empty() ? -1 : ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (named >= 0) {
        descriptors.push_back(named);
    }
    std::sort(descriptors.begin(), descriptors.end());
    descriptors.erase(std::unique(descriptors.begin(), descriptors.end()), descriptors.end());
    rlimit files{};
    const unsigned limit = ::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < UINT_MAX
                               ? static_cast<unsigned>(files.rlim_cur)
                               : 65536;

    const pid_t pid = ::fork();
    if (pid == 0) {
        keep(descriptors.data(), descriptors.size(), ends[1], named, unit, afterLossMilliseconds,
             limit);
    }
    ::close(ends[1]);
    if (named >= 0) {
        ::close(named);
    }
    if (pid < 0) {
        std::fprintf(stderr, "cdrw-fwupdate: no keeper process (%s)\n", std::strerror(errno));
        ::close(ends[0]);
        return;
    }
    m_pid = pid;
    m_socket = ends[0];
}

bool UpdateKeeper::keepsUnitOfEndedUpdate(const std::string &unitName) {
    const UnitAddress unit = unitAddress(unitName);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return false;
    }
    // Anyone may bind any abstract address: the one there must be this user's keeper.
    bool kept = false;
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&unit.address), unit.length) == 0 &&
        ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == ::geteuid()) {
        std::string name;
        std::getline(std::ifstream("/proc/" + std::to_string(peer.pid) + "/comm"), name);
        kept = name == kName;
    }
    ::close(fd);
    return kept;
}

UpdateKeeper::~UpdateKeeper() {
    if (m_pid <= 0) {
        return;
    }
    const char word = kLetGo;
    ::send(m_socket, &word, 1, MSG_NOSIGNAL);
    ::close(m_socket);
    // It ends at once; one that does not (stopped, say) must not hold the program up.
    const auto giveUp =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kEndMilliseconds);
    for (;;) {
        const pid_t reaped = ::waitpid(m_pid, nullptr, WNOHANG);
        if (reaped == m_pid || (reaped < 0 && errno != EINTR)) {
            return;  // reaped, or reaped already (SIGCHLD ignored)
        }
        if (std::chrono::steady_clock::now() >= giveUp) {
            std::fprintf(stderr, "cdrw-fwupdate: the keeper process did not end when told to\n");
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

}  // namespace platform
