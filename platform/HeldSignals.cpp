// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/HeldSignals.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>

namespace platform {

namespace {

// The first held signal; written by the handler, so it must be lock-free.
std::atomic<int> g_firstSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

void keepFirst(int signal) {
    int none = 0;
    g_firstSignal.compare_exchange_strong(none, signal);
}

sigset_t heldSet() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : HeldSignals::kSignals) {
        sigaddset(&set, signal);
    }
    return set;
}

// The watcher: waits with only the four signals open until told to end.
void watch(int stopFd) {
    sigset_t open;
    sigfillset(&open);
    for (const int signal : HeldSignals::kSignals) {
        sigdelset(&open, signal);
    }
    pthread_sigmask(SIG_SETMASK, &open, nullptr);
    pollfd stop{stopFd, POLLIN, 0};
    while (::poll(&stop, 1, -1) <= 0) {
        // Interrupted by a signal, whose handler has run.
    }
}

}  // namespace

HeldSignals::HeldSignals() {
    g_firstSignal.store(0);
    struct sigaction keep {};
    keep.sa_handler = keepFirst;
    keep.sa_flags = SA_RESTART;
    sigfillset(&keep.sa_mask);
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        sigaction(kSignals[i], nullptr, &m_previousActions[i]);
        // Whoever started the program made this signal harmless (nohup, a session launcher):
        // it stays ignored and is never acted on.
        const bool ignored = (m_previousActions[i].sa_flags & SA_SIGINFO) == 0 &&
                             m_previousActions[i].sa_handler == SIG_IGN;
        if (!ignored) {
            sigaction(kSignals[i], &keep, nullptr);
        }
    }
    if (::pipe2(m_stopWatcher, O_CLOEXEC) == 0) {
        m_watcher = std::thread(watch, m_stopWatcher[0]);
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
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        sigaction(kSignals[i], &m_previousActions[i], nullptr);
    }
    return g_firstSignal.exchange(0);
}

}  // namespace platform
