// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// Additional sense codes whose message is not one fixed row per qualifier: messages composed
// with the qualifier, messages shared by a range of qualifiers, and the vendor code 80h whose
// qualifier 00h means two things depending on the whole sense byte. Sorted by ASC.
#include <array>

#include "errors/SenseTextTables.h"

namespace errors {

namespace {

// Each row: ASC, first and last ASCQ, the sense byte it needs, then the text as prefix,
// whether the ASCQ follows in hexadecimal, and suffix.
constexpr std::array kRules = {
    SpecialSenseRule{0x40, 0x00, 0xFF, kAnySenseByte,  //
                     "Diagnostic failure on component ", true, ""},
    // Reserved entries of the 44h list: no message.
    SpecialSenseRule{0x44, 0x0B, 0x0F, kAnySenseByte,  //
                     "", false, ""},
    SpecialSenseRule{0x4D, 0x00, 0xFF, kAnySenseByte,  //
                     "Tagged overlapped commands(Queue tag=", true, ")"},
    SpecialSenseRule{0x5D, 0x01, 0xFF, kAnySenseByte,  //
                     "Failure prediction threshold exceeded(False) ", false, ""},
    // The whole sense byte must match: a flag bit in its high half means no message.
    SpecialSenseRule{0x80, 0x00, 0x00, 0x04,  //
                     "EDC error", false, ""},
    SpecialSenseRule{0x80, 0x00, 0x00, 0x05,  //
                     "Invalid initiator ID", false, ""},
};

}  // namespace

std::span<const SpecialSenseRule> specialSenseRules() {
    return kRules;
}

}  // namespace errors
