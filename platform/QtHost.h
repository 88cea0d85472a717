// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The program's real host: Qt message boxes, a blocking sleep, exit, and the update guard of
// platform/SystemUpdateGuard.h.
#pragma once

#include <QMessageBox>
#include <memory>
#include <string>

#include "platform/Platform.h"

namespace platform {

// The identifier by which the desktop portal knows `window`'s top-level window: "x11:<hex id>" on
// X11; empty elsewhere (offscreen, Wayland) or when there is no window.
std::string portalWindowIdentifier(const QWidget *window);

// The message box QtHost shows for a request, not yet shown.
std::unique_ptr<QMessageBox> buildMessageBox(const MessageBoxRequest &request);

class QtHost : public Host {
  public:
    // A held termination signal ends the program with status 128 + its number unless the
    // settings say otherwise.
    explicit QtHost(UpdateGuardSettings guardSettings = {});

    Answer messageBox(const MessageBoxRequest &request) override;
    void sleepMilliseconds(unsigned milliseconds) override;
    void exitProcess(int status) override;
    std::unique_ptr<UpdateGuard> takeUpdateGuard(const std::string &why,
                                                 std::unique_ptr<UnitHold> unitHold) override;
    // Asks UPower on the guard's system bus.
    PowerState powerState() override;

  private:
    UpdateGuardSettings m_guardSettings;
};

}  // namespace platform
