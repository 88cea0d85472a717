// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/UpdateKeeper.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <thread>

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

// The keeper, in the child of fork(): async-signal-safe calls only, as the other threads of the
// program may have held any lock at the fork. `kept` is sorted and holds `socket`.
[[noreturn]] void keep(const int *kept, std::size_t count, int socket, unsigned afterLoss,
                       unsigned limit) {
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

    char word = 0;
    ssize_t got = 0;
    do {
        got = ::read(socket, &word, 1);
    } while (got < 0 && errno == EINTR);
    if (got == 1) {
        ::_exit(0);
    }
    // The program has gone without letting go.
    const long long deadline = monotonicMilliseconds() + afterLoss;
    for (long long left = afterLoss; left > 0; left = deadline - monotonicMilliseconds()) {
        ::poll(nullptr, 0, static_cast<int>(std::min<long long>(left, INT_MAX)));
    }
    ::_exit(0);
}

}  // namespace

UpdateKeeper::UpdateKeeper(const std::vector<int> &kept, unsigned afterLossMilliseconds) {
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
    std::sort(descriptors.begin(), descriptors.end());
    descriptors.erase(std::unique(descriptors.begin(), descriptors.end()), descriptors.end());
    rlimit files{};
    const unsigned limit = ::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < UINT_MAX
                               ? static_cast<unsigned>(files.rlim_cur)
                               : 65536;

    const pid_t pid = ::fork();
    if (pid == 0) {
        keep(descriptors.data(), descriptors.size(), ends[1], afterLossMilliseconds, limit);
    }
    ::close(ends[1]);
    if (pid < 0) {
        std::fprintf(stderr, "cdrw-fwupdate: no keeper process (%s)\n", std::strerror(errno));
        ::close(ends[0]);
        return;
    }
    m_pid = pid;
    m_socket = ends[0];
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
