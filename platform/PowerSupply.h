// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// What the host says of the computer's power supply, asked before an update (a laptop whose
// battery runs flat while the unit stores its firmware can leave the unit unusable).
#pragma once

#include <string>

namespace platform {

struct PowerState {
    enum class Source {
        NotAsked,  // this host does not ask (tests, programs that send no firmware)
        Unknown,   // asked, and no answer: no UPower, or none in time (`problem` says which)
        Mains,
        Battery,
    };
    Source source = Source::NotAsked;
    double percentage = 0;  // Battery: the charge left, 0 to 100
    std::string problem;    // Unknown: why, in a few words
};

}  // namespace platform
