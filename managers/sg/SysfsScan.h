// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// Reading the kernel's device model (sysfs) for the generic SCSI devices and their hosts. The
// root is a parameter so that tests read a fake tree instead of /sys.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "aspi/UnitTransport.h"

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
    int type = kTypeUnknown;        // peripheral device type; 5 is a CD/DVD unit
    std::string blockName;          // "sr0": its block device node, empty when it has none
    aspi::TransportInfo transport;  // how it is attached (transportOf)
};

// Lists <sysfsRoot>/class/scsi_generic. Each entry's address comes from the name of the folder
// its "device" link points at ("H:C:I:L"), its type from device/type (kTypeUnknown when that is
// missing or unreadable), its block device from the one entry of device/block (the sr driver's
// srN; none without). Entries whose address cannot be read are left out. Returns an empty
// list when the folder does not exist, that is when the generic driver is not loaded. The order
// is the order of the entries' numbers (sg0, sg1, ..., sg10).
std::vector<ScsiDevice> scanScsiGeneric(const std::filesystem::path &sysfsRoot);

// How the SCSI device whose folder in the device tree is `deviceFolder` (the canonical path,
// ".../host2/target2:0:0/2:0:0:0") is attached, from the folders above it: behind a USB device (a
// folder with idVendor and idProduct, whose ids are taken; or a host made by usb-storage or uas)
// it is Usb; on a port of the ATA layer (an "ataN" folder) Ata; any other SCSI host ("hostN":
// a SCSI or SAS adapter, virtio-scsi, iSCSI, a target loopback) Scsi; Unknown without a host.
aspi::TransportInfo transportOf(const std::filesystem::path &deviceFolder);

// True when <sysfsRoot>/class/scsi_generic can be listed, that is when the generic driver is
// loaded (with or without devices).
bool genericDriverLoaded(const std::filesystem::path &sysfsRoot);

// The driver name of a SCSI host (<sysfsRoot>/class/scsi_host/host<N>/proc_name), or "host<N>"
// when it cannot be read.
std::string hostDriverName(const std::filesystem::path &sysfsRoot, int host);

// The decoding of the texts the two functions above read, apart from the reading, so that it
// can be tried on any bytes. An attribute's text is its first line without line end and
// trailing blanks; nullopt stands for an attribute that cannot be read.

// The entry `name` whose device link points at a folder named `address`, with the type its type
// attribute gives (kTypeUnknown when that is missing or not a number). nullopt when the address
// is not "H:C:I:L" in decimal numbers.
std::optional<ScsiDevice> deviceFromTexts(std::string name, std::string_view address,
                                          std::optional<std::string_view> typeText);

// Puts the devices in the order of their entries' numbers (sg0, sg1, ..., sg10); entries of
// another form come last, by name.
void sortByEntryNumber(std::vector<ScsiDevice> &devices);

// The driver name a host's proc_name attribute gives, or "host<N>" when it is unreadable or empty.
std::string driverNameFromText(std::optional<std::string_view> procNameText, int host);

}  // namespace sg
