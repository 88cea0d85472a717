// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The one manager that the module's entry points serve, defined over the kernel's pass-through
// (SgExports.cpp).
#pragma once

#include "managers/sg/SgManager.h"

namespace sg {

// The manager behind the module's entry points. Called with the entry points' lock held; the
// manager is never unloaded.
SgManager &moduleManager();

}  // namespace sg
