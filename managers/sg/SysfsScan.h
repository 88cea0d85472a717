// Reading the kernel's device model (sysfs) for the generic SCSI devices and their hosts. The
// root is a parameter so that tests read a fake tree instead of /sys.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace sg {

inline constexpr int kTypeCdDvd = 5;
inline constexpr int kTypeUnknown = 0x1F;

// One generic SCSI device: its node name and its address on the host's buses.
struct ScsiDevice {
    std::string name;  // "sg3": the node under the device root
    int host = 0;
    int channel = 0;
    int id = 0;
    int lun = 0;
    int type = kTypeUnknown;  // peripheral device type; 5 is a CD/DVD unit
};

// Lists <sysfsRoot>/class/scsi_generic. Each entry's address comes from the name of the folder
// its "device" link points at ("H:C:I:L"), its type from device/type (kTypeUnknown when that is
// missing or unreadable). Entries whose address cannot be read are left out. Returns an empty
// list when the folder does not exist, that is when the generic driver is not loaded. The order
// is the order of the entries' numbers (sg0, sg1, ..., sg10).
std::vector<ScsiDevice> scanScsiGeneric(const std::filesystem::path &sysfsRoot);

// The driver name of a SCSI host (<sysfsRoot>/class/scsi_host/host<N>/proc_name), or "host<N>"
// when it cannot be read.
std::string hostDriverName(const std::filesystem::path &sysfsRoot, int host);

}  // namespace sg
