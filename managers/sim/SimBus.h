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
//
// A unit held for an update is held as the real manager holds one: an exclusive flock, through a
// descriptor of the hold's own, on a lock file of that unit in `lockDir`, named after `busKey` and
// the unit's address. Every process of the user that simulates the same bus sees it, so a second
// copy of the program cannot take a unit the first one updates, and the keeper of an update
// (which inherits the descriptor) keeps the unit after the program has gone.
struct SimOptions {
    std::string logPath;   // empty: no log. One line per request, appended.
    std::string imageDir;  // empty: no images, and no unit remembers a download.
    std::string bootId;    // the simulated machine's boot
    std::string lockDir;   // empty: a hold is this bus's alone, and no other process sees it
    std::string busKey;    // which bus the units belong to: its bus file, or the built-in bus
};

// The folder of the simulated units' lock files: cdrw-fwupdate-sim in `runtimeDir` (the user's
// $XDG_RUNTIME_DIR) when that is an absolute path, else cdrw-fwupdate-sim-<user id> in `tmpDir`
// ($TMPDIR, else /tmp). Made 0700 when missing. Empty, having said why on standard error, when it
// cannot be made or is not a folder of this user's own (a link, another user's).
std::string unitLockFolder(const std::string &runtimeDir, const std::string &tmpDir);

// The key of a bus for SimOptions::busKey: a hash of the bus file's canonical path, "built-in"
// for an empty path.
std::string busKeyOf(const std::string &busPath);

class SimBus {
  public:
    SimBus(const BusDescription &bus, SimOptions options);
    // Lets go of every unit this bus still holds.
    ~SimBus();
    SimBus(const SimBus &) = delete;
    SimBus &operator=(const SimBus &) = delete;

    // Status 0x01 in bits 8 to 15, the number of adapters in bits 0 to 7.
    std::uint32_t supportInfo() const;

    // Answers one record (host adapter inquiry, get device type or execute SCSI command) and
    // stores its SRB_Status last. Data buffers are reached through SRB_BufPointer.
    void handle(void *record);

    const SimUnit *unit(std::uint8_t adapter, std::uint8_t target) const;
    const std::string &bootId() const { return m_options.bootId; }

    // The unit hold (HoldUnitForUpdate, ReleaseUnitForUpdate), logged as HOLD and RELEASE lines.
    // Hold: SS_COMP, SS_ASPI_IS_BUSY for a unit marked "held" or held already (by this or another
    // process: its lock file is locked), SS_INVALID_HA or SS_NO_DEVICE for an address without a
    // unit. A lock file that cannot be opened is said on standard error and the unit is held
    // without it. Release: SS_COMP for any unit, held or not.
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

    // The lock file of the unit at (adapter, target); empty without a lock folder.
    std::string lockFile(std::uint8_t adapter, std::uint8_t target) const;

    std::vector<Adapter> m_adapters;
    // The units this bus holds, each with its lock file's descriptor (-1: held without one).
    std::map<std::pair<std::uint8_t, std::uint8_t>, int> m_holds;
    std::map<std::pair<std::uint8_t, std::uint8_t>, SimUnit> m_units;
    SimOptions m_options;
};

}  // namespace sim
