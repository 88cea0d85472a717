// The seven firmware variants one build knows, in the order of the main window's radio group.
// Each ties the vendor word that eligible units report to the three-letter code that the
// variant's firmware file names begin with, and to the About box title.
#pragma once

#include <array>

namespace app {

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

}  // namespace app
