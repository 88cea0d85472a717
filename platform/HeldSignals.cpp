// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "platform/HeldSignals.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>

namespace platform {

namespace {

// The first held signal; written by the handler, so it must be lock-free.
std::atomic<int> g_firstSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);
// The first stop ignored, written by its handler.
std::atomic<int> g_firstStop{0};
// The write end of the watcher's wake pipe while the signals are held; -1 otherwise.
std::atomic<int> g_wakeFd{-1};

// The termination signals, then the stops.
constexpr auto kAllSignals = [] {
    std::array<int, HeldSignals::kSignals.size() + HeldSignals::kStopSignals.size()> all{};
    std::size_t i = 0;
    for (const int signal : HeldSignals::kSignals) {
        all[i++] = signal;
    }
    for (const int signal : HeldSignals::kStopSignals) {
        all[i++] = signal;
    }
    return all;
}();

void noteFirst(std::atomic<int> &first, int signal) {
    int none = 0;
    first.compare_exchange_strong(none, signal);
    // The handler may run on any thread that has the signal open; the byte wakes the watcher.
    const int savedErrno = errno;
    if (const int fd = g_wakeFd.load(); fd >= 0) {
        const char byte = 0;
        [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

void keepFirst(int signal) {
    noteFirst(g_firstSignal, signal);
}

// Stands in for the stop a job-control signal would make: the process goes on.
void noteStop(int signal) {
    noteFirst(g_firstStop, signal);
}

sigset_t heldSet() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : kAllSignals) {
        sigaddset(&set, signal);
    }
    return set;
}

// The watcher: waits with only the held signals open until told to end; tells `onHeld` of the
// first termination signal held, and `onStopIgnored` of the first stop, once a handler has woken
// it. They run with every signal blocked: a line they write to the terminal from a background
// job then goes out instead of raising SIGTTOU on this thread again.
void watch(int stopFd, int wakeFd, const std::function<void(int)> &onHeld,
           const std::function<void(int)> &onStopIgnored) {
    sigset_t open;
    sigfillset(&open);
    for (const int signal : kAllSignals) {
        sigdelset(&open, signal);
    }
    pthread_sigmask(SIG_SETMASK, &open, nullptr);
    const auto tell = [&open](const std::function<void(int)> &say, int signal) {
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_SETMASK, &all, nullptr);
        say(signal);
        pthread_sigmask(SIG_SETMASK, &open, nullptr);
    };
    pollfd watched[2] = {{stopFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    bool told = false;
    bool toldStop = false;
    for (;;) {
        if (::poll(watched, wakeFd >= 0 ? 2 : 1, -1) <= 0) {
            continue;  // interrupted by a signal, whose handler has run and woken the poll
        }
        if (watched[0].revents != 0) {
            return;
        }
        char drained[16];
        while (::read(wakeFd, drained, sizeof drained) > 0) {
        }
        const int first = g_firstSignal.load();
        if (!told && first != 0 && onHeld) {
            told = true;
            tell(onHeld, first);
        }
        const int stop = g_firstStop.load();
        if (!toldStop && stop != 0 && onStopIgnored) {
            toldStop = true;
            tell(onStopIgnored, stop);
        }
    }
}

}  // namespace

HeldSignals::HeldSignals(std::function<void(int)> onHeld, std::function<void(int)> onStopIgnored)
    : m_onHeld(std::move(onHeld)), m_onStopIgnored(std::move(onStopIgnored)) {
    g_firstSignal.store(0);
    g_firstStop.store(0);
    if (::pipe2(m_wakeWatcher, O_CLOEXEC | O_NONBLOCK) == 0) {
        g_wakeFd.store(m_wakeWatcher[1]);
    }
    struct sigaction keep {};
    keep.sa_flags = SA_RESTART;
    sigfillset(&keep.sa_mask);
    for (std::size_t i = 0; i < kAllSignals.size(); ++i) {
        sigaction(kAllSignals[i], nullptr, &m_previousActions[i]);
        // Whoever started the program made this signal harmless (nohup, a session launcher, a
        // shell without job control): it stays ignored and is never acted on.
        const bool ignored = (m_previousActions[i].sa_flags & SA_SIGINFO) == 0 &&
                             m_previousActions[i].sa_handler == SIG_IGN;
        if (!ignored) {
            keep.sa_handler = i < kSignals.size() ? keepFirst : noteStop;
            sigaction(kAllSignals[i], &keep, nullptr);
        }
    }
    if (::pipe2(m_stopWatcher, O_CLOEXEC) == 0) {
        m_watcher = std::thread(watch, m_stopWatcher[0], m_wakeWatcher[0], std::cref(m_onHeld),
                                std::cref(m_onStopIgnored));
    }
    const sigset_t held = heldSet();
    pthread_sigmask(SIG_BLOCK, &held, &m_previousMask);
}

HeldSignals::~HeldSignals() {
    release();
}

int HeldSignals::release() {
    if (!m_held) {
        return 0;
    }
    m_held = false;
    if (m_watcher.joinable()) {
        ::close(m_stopWatcher[1]);
        m_watcher.join();
        ::close(m_stopWatcher[0]);
    }
    // Unblocking first delivers a signal pending on this thread to the handler, still in place.
    pthread_sigmask(SIG_SETMASK, &m_previousMask, nullptr);
    for (std::size_t i = 0; i < kAllSignals.size(); ++i) {
        sigaction(kAllSignals[i], &m_previousActions[i], nullptr);
    }
    g_wakeFd.store(-1);
    for (const int fd : m_wakeWatcher) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    return g_firstSignal.exchange(0);
}

}  // namespace platform
