// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The seven firmware variants one build knows, in the order of the main window's radio group.
// Each ties the vendor word that eligible units report to the three-letter code that the
// variant's firmware file names begin with, and to the About box title. The variant in force is
// the radio group's selected index; every rule below takes it as an argument, read by the caller
// at the moment of the call.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "units/UnitTable.h"

namespace units {

struct FirmwareVariantInfo {
    const char *caption;     // radio item caption
    const char *vendorWord;  // nullptr: every unit is eligible
    const char *lowerCode;   // nullptr: every file name is accepted
    const char *upperCode;
    const char *aboutTitle;
};

inline constexpr std::array<FirmwareVariantInfo, 7> kFirmwareVariants{{
    {"For VEK", nullptr, nullptr, nullptr, "VEK CD-R/RW Firmware Update V1.1"},
    {"For WOL", "TANDOR", "wol", "WOL", "TANDOR CD-R/RW Firmware Update V1.1"},
    {"For YEB", "MIB", "yeb", "YEB", "MIB CD-R/RW Firmware Update V1.1"},
    {"For DUQ", "FALKONIS", "duq", "DUQ", "FALKONIS CD-R/RW Firmware Update V1.1"},
    {"For LIX", "VEK", "lix", "LIX", "VEK CD-R/RW Firmware Update V1.1"},
    {"For HUP", "ZAV", "hup", "HUP", "ZAV CD-R/RW Firmware Update V1.1"},
    {"For BEZ", "VEK", "bez", "BEZ", "VEK CD-R/RW Firmware Update V1.1"},
}};

// The variant the window layout selects.
inline constexpr int kDefaultFirmwareVariant = 4;

// Upper case of one single-byte (Latin-1 / Windows-1252) character: a to z and 0xE0 to 0xFE
// except 0xF7 (the division sign) move down by 0x20; everything else, 0xFF included, stays.
char ansiUpper(char c);

// The vendor text as the rule compares it: every character of code 0x20 or below removed from
// both ends, the rest upper-cased.
std::string normalisedVendor(std::string_view vendor);

// Sets units.Eligible for (adapter, target) to 1 when the unit qualifies for `variant`: always
// for variant 0, otherwise when the normalised vendor text equals the variant's vendor word.
// Never clears a flag. Addresses outside the table (adapter 0-2, target 0-6) and variants
// outside 0-6 change nothing.
void CheckUnitEligibility(UnitTable &units, int variant, int adapter, int target,
                          std::string_view vendor);

// True when a firmware file `name` (as the chooser's name field holds it, unchanged) may be
// downloaded under `variant`: every name for variant 0, otherwise a name whose first three
// characters are the variant's lower-case code or its upper-case code, case-sensitively.
// A name shorter than three characters, and a variant outside 0-6, are refused.
bool IsFileNameAccepted(int variant, std::string_view name);

// The About box title of `variant`; empty for a variant outside 0-6.
const char *aboutTitle(int variant);

}  // namespace units
