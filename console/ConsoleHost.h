// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The host of the shell's update: message boxes are lines on standard error, the update's wait is
// a countdown there, and the update guard is the window's (the unit hold, the logind inhibitor,
// the held termination signals, the keeper) without the desktop portal, saying at once when a
// termination signal is held.
#pragma once

#include <memory>
#include <string>

#include "console/Terminal.h"
#include "platform/Platform.h"

namespace console {

struct ConsoleSettings {
    // Where the guard finds what it holds; the program uses the defaults. Whatever it says of
    // the desktop, no portal is asked.
    platform::UpdateGuardSettings guard;
    // How long one second of the countdown lasts: 1000 but in tests.
    unsigned secondMilliseconds = 1000;
};

class ConsoleHost : public platform::Host {
  public:
    ConsoleHost(Terminal &terminal, const ConsoleSettings &settings);

    // Writes the box's text as a line; for a file the system refused, the file and the system's
    // reason instead. A question is answered No.
    platform::Answer messageBox(const platform::MessageBoxRequest &request) override;
    // The update's wait: counts the seconds down, redrawn on a terminal, a line every ten seconds
    // elsewhere.
    void sleepMilliseconds(unsigned milliseconds) override;
    void exitProcess(int status) override;
    std::unique_ptr<platform::UpdateGuard> takeUpdateGuard(
        const std::string &why, std::unique_ptr<platform::UnitHold> unitHold) override;
    // Asks UPower on the guard's system bus.
    platform::PowerState powerState() override;

    // The first termination signal the guard held, once the guard has let go; 0 when none was.
    // The shell's update writes its result, then ends with status 128 + that number.
    int heldSignal() const { return m_heldSignal; }

  private:
    Terminal &m_terminal;
    ConsoleSettings m_settings;
    int m_heldSignal = 0;
};

}  // namespace console
