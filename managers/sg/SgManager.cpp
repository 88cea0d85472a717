// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "managers/sg/SgManager.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "managers/sg/ExecCommand.h"
#include "managers/sg/ResultMapping.h"

namespace sg {

namespace {

// Copies a text into a 16-byte identifier field, cut at 16 and NUL-padded.
void fillIdentifier(std::uint8_t (&field)[16], const std::string &text) {
    std::memset(field, 0, sizeof(field));
    std::memcpy(field, text.data(), std::min(text.size(), sizeof(field)));
}

std::string addressText(const ScsiDevice &unit) {
    return std::to_string(unit.host) + ":" + std::to_string(unit.channel) + ":" +
           std::to_string(unit.id) + ":" + std::to_string(unit.lun);
}

}  // namespace

SgManager::SgManager(SgConfig config, PassThrough &passThrough)
    : m_config(std::move(config)), m_passThrough(passThrough) {}

SgManager::~SgManager() {
    closeUnits();
    for (auto &[name, held] : m_held) {
        sg::releaseUnit(held);
    }
}

std::uint32_t SgManager::supportInfo() {
    closeUnits();
    m_driverLoaded = genericDriverLoaded(m_config.sysfsRoot);
    m_devices = scanScsiGeneric(m_config.sysfsRoot);
    m_adapters = numberAdapters(m_devices);
    m_hostNames.clear();
    for (const Adapter &adapter : m_adapters) {
        m_hostNames.push_back(hostDriverName(m_config.sysfsRoot, adapter.host));
    }
    m_enumerated = true;
    return (std::uint32_t{aspi::SS_COMP} << 8) | static_cast<std::uint32_t>(m_adapters.size());
}

std::uint32_t SgManager::send(void *record) {
    if (record == nullptr) {
        return aspi::SS_INVALID_SRB;
    }
    if (!m_enumerated) {
        supportInfo();
    }
    auto *header = static_cast<aspi::SRB_Header *>(record);
    std::uint8_t status = kSsInvalidCommand;
    switch (header->SRB_Cmd) {
        case aspi::SC_HA_INQUIRY:
            status = hostAdapterInquiry(*static_cast<aspi::SRB_HAInquiry *>(record));
            break;
        case aspi::SC_GET_DEV_TYPE:
            status = deviceType(*static_cast<aspi::SRB_GDEVBlock *>(record));
            break;
        case aspi::SC_EXEC_SCSI_CMD:
            status = executeCommand(*static_cast<aspi::SRB_ExecSCSICmd *>(record));
            break;
        default:
            break;
    }
    aspi::storeStatus(header->SRB_Status, status);
    return status;
}

std::uint8_t SgManager::hostAdapterInquiry(aspi::SRB_HAInquiry &record) {
    if (record.SRB_HaId >= m_adapters.size()) {
        return aspi::SS_INVALID_HA;
    }
    record.HA_Count = static_cast<std::uint8_t>(m_adapters.size());
    record.HA_SCSI_ID = kOwnScsiId;
    fillIdentifier(record.HA_ManagerId, kManagerIdentifier);
    fillIdentifier(record.HA_Identifier, m_hostNames[record.SRB_HaId]);
    return aspi::SS_COMP;
}

std::uint8_t SgManager::deviceType(aspi::SRB_GDEVBlock &record) {
    const ScsiDevice *unit = nullptr;
    int handle = -1;
    const std::uint8_t status =
        reachUnit(record.SRB_HaId, record.SRB_Target, record.SRB_Lun, unit, handle);
    if (status == aspi::SS_COMP) {
        record.SRB_DeviceType = static_cast<std::uint8_t>(unit->type);
    }
    return status;
}

std::uint8_t SgManager::executeCommand(aspi::SRB_ExecSCSICmd &record) {
    const ScsiDevice *unit = nullptr;
    int handle = -1;
    if (const std::uint8_t status =
            reachUnit(record.SRB_HaId, record.SRB_Target, record.SRB_Lun, unit, handle);
        status != aspi::SS_COMP) {
        return status;
    }
    PassThroughCommand command;
    if (const std::uint8_t refused = buildCommand(record, command); refused != 0) {
        return refused;
    }
    return applyResult(m_passThrough.run(handle, command), command.direction, record);
}

std::uint32_t SgManager::holdUnit(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun) {
    std::uint8_t status = aspi::SS_COMP;
    const ScsiDevice *unit = unitAt(adapter, target, lun, status);
    if (unit == nullptr || m_held.count(unit->name) != 0) {
        return status;
    }
    HeldUnit held;
    status = sg::holdUnit(
        m_passThrough, m_config.devRoot, *unit,
        [this](const std::string &line) { reportLine(line); }, held);
    if (status == aspi::SS_COMP) {
        m_held.emplace(unit->name, held);
    }
    return status;
}

std::uint32_t SgManager::releaseUnit(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun) {
    std::uint8_t status = aspi::SS_COMP;
    const ScsiDevice *unit = unitAt(adapter, target, lun, status);
    if (unit == nullptr) {
        return status;
    }
    if (const auto held = m_held.find(unit->name); held != m_held.end()) {
        sg::releaseUnit(held->second);
        m_held.erase(held);
    }
    return aspi::SS_COMP;
}

std::uint32_t SgManager::scanReport(aspi::ScanReport *report) {
    if (report == nullptr || report->ReportSize != sizeof(aspi::ScanReport)) {
        return aspi::SS_INVALID_SRB;
    }
    if (!m_enumerated) {
        supportInfo();
    }
    aspi::ScanReport found{};
    found.ReportSize = sizeof(found);
    found.DriverLoaded = m_driverLoaded ? 1 : 0;
    for (const ScsiDevice &device : m_devices) {
        if (device.type != kTypeCdDvd || found.CdUnits == UINT8_MAX) {
            continue;
        }
        ++found.CdUnits;
        // Such a unit is left out of the list, as reachUnit() leaves it out of a scan.
        if (m_held.count(device.name) == 0 &&
            heldElsewhere(m_passThrough, m_config.devRoot, device)) {
            found.HeldUnits += found.HeldUnits < UINT8_MAX ? 1 : 0;
            continue;
        }
        const std::string path = (m_config.devRoot / device.name).string();
        if (openUnit(device) >= 0 || m_denied.count(path) == 0) {
            continue;
        }
        if (found.DeniedUnits < aspi::kReportedNodes) {
            char *node = found.DeniedNodes[found.DeniedUnits];
            path.copy(node, aspi::kReportedNodeLength - 1);
        }
        ++found.DeniedUnits;
    }
    *report = found;
    return aspi::SS_COMP;
}

std::uint32_t SgManager::unitTransport(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun,
                                       aspi::UnitTransport *record) {
    if (record == nullptr || record->RecordSize != sizeof(aspi::UnitTransport)) {
        return aspi::SS_INVALID_SRB;
    }
    std::uint8_t status = aspi::SS_COMP;
    const ScsiDevice *unit = unitAt(adapter, target, lun, status);
    if (unit == nullptr) {
        return status;
    }
    aspi::UnitTransport found{};
    found.RecordSize = sizeof(found);
    found.Kind = static_cast<std::uint8_t>(unit->transport.kind);
    found.UsbVendor = unit->transport.usbVendor;
    found.UsbProduct = unit->transport.usbProduct;
    *record = found;
    return aspi::SS_COMP;
}

const ScsiDevice *SgManager::unitAt(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun,
                                    std::uint8_t &status) {
    if (!m_enumerated) {
        supportInfo();
    }
    if (adapter >= m_adapters.size()) {
        status = aspi::SS_INVALID_HA;
        return nullptr;
    }
    const ScsiDevice *unit = findUnit(m_adapters[adapter], target, lun);
    status = unit != nullptr ? aspi::SS_COMP : aspi::SS_NO_DEVICE;
    return unit;
}

std::uint8_t SgManager::reachUnit(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun,
                                  const ScsiDevice *&unit, int &handle) {
    std::uint8_t status = aspi::SS_COMP;
    unit = unitAt(adapter, target, lun, status);
    // A unit that another process holds for its update hears nothing from here, not even a
    // scan's INQUIRY, and is not listed.
    if (unit != nullptr && m_held.count(unit->name) == 0 &&
        heldElsewhere(m_passThrough, m_config.devRoot, *unit)) {
        reportLine("wnaspi32.DLL: " + (m_config.devRoot / unit->name).string() + " (unit " +
                   addressText(*unit) + ") is being updated by another program; left out");
        return aspi::SS_NO_DEVICE;
    }
    handle = unit != nullptr ? openUnit(*unit) : -1;
    return unit == nullptr ? status : handle >= 0 ? aspi::SS_COMP : aspi::SS_NO_DEVICE;
}

int SgManager::openUnit(const ScsiDevice &unit) {
    if (const auto open = m_handles.find(unit.name); open != m_handles.end()) {
        return open->second;
    }
    const std::string path = (m_config.devRoot / unit.name).string();
    if (m_denied.count(path) != 0) {
        return -1;
    }
    const int handle = m_passThrough.open(path);
    if (handle >= 0) {
        m_handles.emplace(unit.name, handle);
        return handle;
    }
    if (handle == -EACCES || handle == -EPERM) {
        m_denied.insert(path);
        // Other kinds of device (disks, for one) are normally closed to users, and the program
        // has nothing to do with them; only a recorder is worth a word.
        if (unit.type == kTypeCdDvd) {
            reportLine(
                "wnaspi32.DLL: cannot open " + path + " (CD/DVD unit " + addressText(unit) +
                "): " + std::strerror(-handle) +
                ". To update it, join the 'cdrom' group (then log in again) or run as root.");
        }
    }
    return -1;
}

void SgManager::closeUnits() {
    for (const auto &[name, handle] : m_handles) {
        m_passThrough.close(handle);
    }
    m_handles.clear();
}

void SgManager::reportLine(const std::string &line) const {
    if (m_config.report) {
        m_config.report(line);
    } else {
        std::fprintf(stderr, "%s\n", line.c_str());
    }
}

}  // namespace sg
