// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// How a unit is attached to the host, as a manager tells it: a unit behind a USB bridge may never
// see a firmware download whole (bridges cut, drop or time out WRITE BUFFER), so the program checks
// this before it sends anything. Shared by the program and the managers; the byte layout is a
// wire format.
//
// A manager may export, with C linkage:
//   uint32_t GetUnitTransport(uint8_t HaId, uint8_t Target, uint8_t Lun, UnitTransport *record);
// It fills the record and returns SS_COMP; SS_INVALID_HA or SS_NO_DEVICE, writing nothing, for an
// address without a unit; SS_INVALID_SRB, writing nothing, for a null record or one whose
// RecordSize is not this layout's. A manager without it tells nothing: the transport is unknown.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace aspi {

enum class Transport : std::uint8_t {
    Unknown = 0,  // the manager cannot tell, or does not say
    Ata = 1,      // the kernel's ATA layer: SATA, IDE/ATAPI
    Usb = 2,      // a USB mass-storage bridge (usb-storage or uas)
    Scsi = 3,     // a SCSI or SAS adapter, virtio-scsi, iSCSI, a target loopback
};

#pragma pack(push, 1)

// 10 bytes. [in] written by the program, [out] by the manager.
struct UnitTransport {
    std::uint32_t RecordSize;  // 0 [in]  sizeof(UnitTransport)
    std::uint8_t Kind;         // 4 [out] a Transport value
    std::uint8_t Reserved;     // 5       zero
    std::uint16_t UsbVendor;   // 6 [out] for Usb: the bridge's USB vendor id, else 0
    std::uint16_t UsbProduct;  // 8 [out] for Usb: the bridge's USB product id, else 0
};

#pragma pack(pop)

static_assert(sizeof(UnitTransport) == 10);
static_assert(offsetof(UnitTransport, UsbVendor) == 6);

using GetUnitTransportFn = std::uint32_t (*)(std::uint8_t, std::uint8_t, std::uint8_t,
                                             UnitTransport *);

// What the program knows of a unit's attachment.
struct TransportInfo {
    Transport kind = Transport::Unknown;
    std::uint16_t usbVendor = 0;
    std::uint16_t usbProduct = 0;
};

// "ata", "usb", "scsi" or "unknown".
inline const char *transportName(Transport kind) {
    switch (kind) {
        case Transport::Ata:
            return "ata";
        case Transport::Usb:
            return "usb";
        case Transport::Scsi:
            return "scsi";
        case Transport::Unknown:
            break;
    }
    return "unknown";
}

// The bridge's id as USB tools write it, "152d:0578"; empty when the unit is not behind USB.
inline std::string usbIdText(const TransportInfo &transport) {
    if (transport.kind != Transport::Usb) {
        return {};
    }
    char text[10];
    std::snprintf(text, sizeof text, "%04x:%04x", transport.usbVendor, transport.usbProduct);
    return text;
}

}  // namespace aspi
