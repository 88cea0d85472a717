// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The program's update guard: the unit's hold or, without one, the machine-wide update lock, the
// logind inhibitor, the desktop portal's inhibitor (where the settings ask the desktop), the held
// termination signals and the refusal of close requests, taken in that order and let go together; and a keeper process that holds the
// logind inhibitor and the unit's hold on when the program ends without letting go.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/UpdateGuard.h"

namespace platform {

// Takes the guard for an update described by `why`, owning `unitHold`. Only without a unit hold
// is the machine-wide update lock taken; returns null when another update holds it, and nothing
// is held then. On letting go, a termination signal that arrived meanwhile is handed to
// settings.onHeldSignal, after everything else is let go.
std::unique_ptr<UpdateGuard> takeSystemUpdateGuard(const UpdateGuardSettings &settings,
                                                   const std::string &why,
                                                   std::unique_ptr<UnitHold> unitHold = nullptr);

}  // namespace platform
