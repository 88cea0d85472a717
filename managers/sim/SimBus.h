// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// Request handling of the simulated bus: takes the three request records, answers them from the
// adapters and units of a bus description, and when asked logs every request and writes each
// unit's received image to a folder.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "aspi/AspiRecords.h"
#include "aspi/UnitTransport.h"
#include "managers/sim/BusFile.h"
#include "managers/sim/SimUnit.h"

namespace sim {

// A unit that stores a complete download (a download-and-save block answered GOOD) notes the
// boot of the simulated machine in a<adapter>t<target>.stored beside its image. A unit with a new
// revision reports it once a bus is set up, in the image folder, under another boot than the one
// noted: the machine, and the unit with it, has been switched off and on since.
struct SimOptions {
    std::string logPath;   // empty: no log. One line per request, appended.
    std::string imageDir;  // empty: no images, and no unit remembers a download.
    std::string bootId;    // the simulated machine's boot
};

class SimBus {
  public:
    SimBus(const BusDescription &bus, SimOptions options);

    // Status 0x01 in bits 8 to 15, the number of adapters in bits 0 to 7.
    std::uint32_t supportInfo() const;

    // Answers one record (host adapter inquiry, get device type or execute SCSI command) and
    // stores its SRB_Status last. Data buffers are reached through SRB_BufPointer.
    void handle(void *record);

    const SimUnit *unit(std::uint8_t adapter, std::uint8_t target) const;
    const std::string &bootId() const { return m_options.bootId; }

    // The unit hold (HoldUnitForUpdate, ReleaseUnitForUpdate), logged as HOLD and RELEASE lines.
    // Hold: SS_COMP, SS_ASPI_IS_BUSY for a unit marked "held", SS_INVALID_HA or SS_NO_DEVICE for
    // an address without a unit. Release: SS_COMP for any unit, held or not.
    std::uint32_t holdUnit(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun);
    std::uint32_t releaseUnit(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun);

    // How the unit is attached (GetUnitTransport, aspi/UnitTransport.h), from its description.
    // SS_COMP; SS_INVALID_HA or SS_NO_DEVICE for an address without a unit, SS_INVALID_SRB for a
    // null record or one of another size, writing nothing then. Nothing is logged: the unit hears
    // nothing of it.
    std::uint32_t unitTransport(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun,
                                aspi::UnitTransport *record);

  private:
    struct Adapter {
        AdapterDescription description;
        unsigned inquiriesAnswered = 0;
    };

    void answerAdapterInquiry(aspi::SRB_HAInquiry &srb);
    void answerDeviceType(aspi::SRB_GDEVBlock &srb);
    void execute(aspi::SRB_ExecSCSICmd &srb);
    SimUnit *findUnit(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun);
    // SS_COMP with the unit at the address, else SS_INVALID_HA or SS_NO_DEVICE and null.
    SimUnit *unitAt(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun,
                    std::uint8_t &status);
    void log(const std::string &line) const;
    void writeImage(std::uint8_t adapter, std::uint8_t target, const SimUnit &unit) const;
    // a<adapter>t<target> and `suffix` in the image folder.
    std::string unitFile(std::uint8_t adapter, std::uint8_t target, const char *suffix) const;
    // The unit's description as it starts up: with its new revision when it stored a download
    // under another boot.
    UnitDescription poweredOn(UnitDescription description) const;

    std::vector<Adapter> m_adapters;
    std::map<std::pair<std::uint8_t, std::uint8_t>, SimUnit> m_units;
    SimOptions m_options;
};

}  // namespace sim
