// The program's update guard: the machine-wide update lock, the held termination signals, the
// refusal of close requests and the logind inhibitor, taken in that order and let go together;
// and a keeper process that holds the inhibitor on when the program ends without letting go.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/UpdateGuard.h"

namespace platform {

// Takes the guard for an update described by `why`. Returns null when another update holds the
// update lock; nothing is held then. On letting go, a termination signal that arrived meanwhile
// is handed to settings.onHeldSignal, after everything else is let go. The keeper holds
// `alsoKept` too: descriptors the caller holds for the same time.
std::unique_ptr<UpdateGuard> takeSystemUpdateGuard(const UpdateGuardSettings &settings,
                                                   const std::string &why,
                                                   const std::vector<int> &alsoKept = {});

}  // namespace platform
