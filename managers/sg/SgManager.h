// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The manager behind the entry points: finds the adapters and units in sysfs, answers host
// adapter inquiries and device-type requests from what it found, runs SCSI commands through the
// kernel seam on the unit's generic device, and holds units for updates (HeldUnit.h).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "aspi/AspiRecords.h"
#include "aspi/ScanReport.h"
#include "managers/sg/AdapterMap.h"
#include "managers/sg/HeldUnit.h"
#include "managers/sg/PassThrough.h"

namespace sg {

// Where the manager looks, and where it says what it must tell the user. Tests point the roots
// at a fake tree and catch the reports.
struct SgConfig {
    std::filesystem::path sysfsRoot = "/sys";
    std::filesystem::path devRoot = "/dev";
    std::function<void(const std::string &line)> report;  // one line; standard error when empty
};

inline constexpr std::uint8_t kOwnScsiId = 7;
inline constexpr const char *kManagerIdentifier = "Linux SG_IO";

class SgManager {
  public:
    // The seam must outlive the manager.
    SgManager(SgConfig config, PassThrough &passThrough);
    ~SgManager();
    SgManager(const SgManager &) = delete;
    SgManager &operator=(const SgManager &) = delete;

    // Enumerates the devices afresh (closing any unit opened before) and returns the support
    // word: status 0x01 in bits 8..15 and the adapter count in bits 0..7. No device, or no
    // generic driver, is a count of 0 with the same status.
    std::uint32_t supportInfo();

    // Serves one record and returns its status, which it has stored in SRB_Status last, after
    // every other field it fills. The request is complete on return. Enumerates first if
    // supportInfo() was never called. A null record returns 0xE0 and writes nothing.
    std::uint32_t send(void *record);

    // Holds the unit at (adapter, target, LUN) for an update (HeldUnit.h). Returns SS_COMP when
    // it is held (also when this manager held it already), SS_ASPI_IS_BUSY when another process
    // holds it, SS_INVALID_HA or SS_NO_DEVICE as a request to that address would get. Holds are
    // per unit and stay across enumerations until released.
    std::uint32_t holdUnit(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun);

    // Lets go of the unit's hold: closes what holdUnit opened. SS_COMP also when it was not held;
    // SS_INVALID_HA or SS_NO_DEVICE for an address without a unit.
    std::uint32_t releaseUnit(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun);

    // Fills `report` (aspi/ScanReport.h) from the latest enumeration (enumerating first if there
    // was none): whether the generic driver is loaded, the CD/DVD units it lists and those of
    // them this process may not open. Each CD/DVD unit not open yet is opened to find out, as a
    // command would (a refusal is said once on standard error). Returns SS_COMP, or
    // SS_INVALID_SRB, writing nothing, for a null record or one of another size.
    std::uint32_t scanReport(aspi::ScanReport *report);

    // Fills `record` (aspi/UnitTransport.h) with how the unit at (adapter, target, LUN) is
    // attached, as the latest enumeration read it from sysfs. Returns SS_COMP; SS_INVALID_HA or
    // SS_NO_DEVICE for an address without a unit, SS_INVALID_SRB for a null record or one of
    // another size, writing nothing then.
    std::uint32_t unitTransport(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun,
                                aspi::UnitTransport *record);

  private:
    std::uint8_t hostAdapterInquiry(aspi::SRB_HAInquiry &record);
    std::uint8_t deviceType(aspi::SRB_GDEVBlock &record);
    std::uint8_t executeCommand(aspi::SRB_ExecSCSICmd &record);

    // Finds and opens the unit at (adapter, target, LUN). Returns 0x01 with the unit and its
    // handle set, 0x81 when there is no such adapter, 0x82 when no unit is there, it cannot be
    // opened, or another process holds it for an update (said on standard error).
    std::uint8_t reachUnit(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun,
                           const ScsiDevice *&unit, int &handle);

    // The open handle of a unit, opening it on first use; -1 when it cannot be opened. A unit
    // refused for lack of permission stays absent and, if it is a CD/DVD unit, is reported once
    // per process.
    int openUnit(const ScsiDevice &unit);
    void closeUnits();
    const ScsiDevice *unitAt(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun,
                             std::uint8_t &status);
    void reportLine(const std::string &line) const;

    SgConfig m_config;
    PassThrough &m_passThrough;
    bool m_enumerated = false;
    bool m_driverLoaded = false;
    std::vector<ScsiDevice> m_devices;  // every device of the enumeration
    std::vector<Adapter> m_adapters;
    std::vector<std::string> m_hostNames;    // driver name per adapter
    std::map<std::string, int> m_handles;    // open handle per device name
    std::set<std::string> m_denied;          // devices refused for lack of permission
    std::map<std::string, HeldUnit> m_held;  // units this manager holds, by device name
};

}  // namespace sg
