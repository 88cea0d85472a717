// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// Holds back the termination signals (SIGTERM, SIGHUP, SIGINT, SIGQUIT) for as long as the object
// lives: none of them ends the program meanwhile; the first one that arrives is kept, to be acted
// on when the object lets go. The job-control stops (SIGTSTP, SIGTTIN, SIGTTOU: Ctrl+Z, a
// background job at the terminal) are ignored meanwhile, so that the process never stops in the
// middle of a drive command; they are noted, not kept. A signal that was ignored when the object
// was made stays ignored and is never kept or noted. Only one object may hold them at a time.
//
// The calling thread blocks these signals too, so that a signal never interrupts a drive
// command it is waiting on (threads it starts meanwhile inherit the block). A watcher thread
// keeps them open, so that each signal runs the handler as it arrives and the first one is
// known as the first; the handler wakes the watcher, whichever thread it ran on, so that the
// watcher can tell that a signal is being held.
#pragma once

#include <signal.h>

#include <array>
#include <functional>
#include <thread>

namespace platform {

class HeldSignals {
  public:
    static constexpr std::array<int, 4> kSignals = {SIGTERM, SIGHUP, SIGINT, SIGQUIT};
    static constexpr std::array<int, 3> kStopSignals = {SIGTSTP, SIGTTIN, SIGTTOU};

    // `onHeld`, when given, is called once with the number of the first signal held, and
    // `onStopIgnored` once with that of the first stop ignored, on the watcher thread, soon after
    // it arrived (not in the signal handler, and with every signal blocked, so that a line written
    // to the terminal from the background goes out), so that they may say so.
    explicit HeldSignals(std::function<void(int)> onHeld = {},
                         std::function<void(int)> onStopIgnored = {});
    ~HeldSignals();
    HeldSignals(const HeldSignals &) = delete;
    HeldSignals &operator=(const HeldSignals &) = delete;

    // Puts the calling thread's signal mask and the seven signals' actions back as they were, and
    // returns the first termination signal that arrived while held (0 when none did). Later calls
    // return 0.
    int release();

  private:
    std::array<struct sigaction, kSignals.size() + kStopSignals.size()> m_previousActions{};
    sigset_t m_previousMask{};
    bool m_held = true;
    int m_stopWatcher[2] = {-1, -1};  // a pipe; writing to it ends the watcher
    int m_wakeWatcher[2] = {-1, -1};  // a pipe; the handler writes to it when a signal arrives
    std::function<void(int)> m_onHeld;
    std::function<void(int)> m_onStopIgnored;
    std::thread m_watcher;
};

}  // namespace platform
