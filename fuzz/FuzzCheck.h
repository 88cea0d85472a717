// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// What a fuzz target demands of the code it tries beyond not crashing: a broken invariant ends
// the run as a crash does, so that libFuzzer keeps the input.
#pragma once

#include <cstdlib>

namespace fuzz_support {

inline void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace fuzz_support
