// SPDX-License-Identifier: GPL-2.0-or-later
// The program's update guard: the machine-wide update lock, the held termination signals, the
// refusal of close requests and the logind inhibitor, taken in that order and let go together.
#pragma once

#include <memory>
#include <string>

#include "platform/UpdateGuard.h"

namespace platform {

// Takes the guard for an update described by `why`. Returns null when another update holds the
// update lock; nothing is held then. On letting go, a termination signal that arrived meanwhile
// is handed to settings.onHeldSignal, after everything else is let go.
std::unique_ptr<UpdateGuard> takeSystemUpdateGuard(const UpdateGuardSettings &settings,
                                                   const std::string &why);

}  // namespace platform
