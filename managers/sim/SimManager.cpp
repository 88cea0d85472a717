// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The simulated recorder bus, built as a drive-access manager library (wnaspi32.DLL in the sim/
// folder). It exports, with C linkage, the two entry points every manager defines:
//   uint32_t GetASPI32SupportInfo(void)  status 0x01 in bits 8..15 and the number of simulated
//                                         adapters in bits 0..7; 0x0100 (no adapter) when the
//                                         bus file cannot be used
//   uint32_t SendASPI32Command(void *)   answers host adapter inquiries, device types and SCSI
//                                         commands at once, storing SRB_Status last
// and the unit hold's two (left out when built with SIM_WITHOUT_UNIT_HOLD, as a manager that
// predates them):
//   uint32_t HoldUnitForUpdate(uint8_t HaId, uint8_t Target, uint8_t Lun)
//   uint32_t ReleaseUnitForUpdate(uint8_t HaId, uint8_t Target, uint8_t Lun)
//                                         0x01; 0xE5 for a unit the bus file marks "held" or
//                                         that this or another process holds
// and the units' transport, from the bus file:
//   uint32_t GetUnitTransport(uint8_t HaId, uint8_t Target, uint8_t Lun, aspi::UnitTransport *)
// and one that tells the program it runs on a simulated machine, and which boot of it:
//   uint32_t SimulatedMachineBoot(char *buffer, uint32_t size)
//                                         copies the boot id, NUL-terminated and cut to fit,
//                                         and returns its full length
//
// Its own environment variables, read when the program binds it (every GetASPI32SupportInfo
// call sets up a fresh bus; the program calls it once, a test process once per binding):
//   CDRW_SIM_BUS     bus file to simulate (format in BusFile.h and the README), or a trace of an
//                    update to replay (TraceBus.h); unset: the built-in bus of BusFile.cpp
//   CDRW_SIM_LOG     file to which one line per request is appended
//   CDRW_SIM_IMAGES  folder into which each unit's received image is written as
//                    a<adapter>t<target>.bin after every WRITE BUFFER, and where a unit notes
//                    the boot under which it stored a complete download (SimBus.h)
//   CDRW_SIM_BOOT    the boot id of the simulated machine: a new one stands in for switching it
//                    off and on; unset or empty: the kernel's boot id
// and, as every program of the user does, XDG_RUNTIME_DIR (else TMPDIR, else /tmp): where the
// units' lock files are, so that every copy on the same bus file sees a unit another one holds
// (SimBus.h).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>

#include "aspi/AspiRecords.h"
#include "managers/sim/BusFile.h"
#include "managers/sim/SimBus.h"
#include "managers/sim/TraceBus.h"

namespace {

std::mutex g_mutex;
std::unique_ptr<sim::SimBus> g_bus;

std::string environment(const char *name) {
    const char *value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

// The bus to simulate; with no usable bus file, a bus without adapters.
sim::BusDescription readBus() {
    const std::string path = environment("CDRW_SIM_BUS");
    std::string text = sim::kDefaultBusText;
    if (!path.empty()) {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "simulated bus: cannot read the bus file %s; no adapter\n",
                         path.c_str());
            return {};
        }
        std::ostringstream contents;
        contents << in.rdbuf();
        text = contents.str();
    }
    sim::ParseResult parsed = sim::parseBusOrTrace(text);
    if (!parsed.bus) {
        std::fprintf(stderr, "simulated bus: %s line %d: %s; no adapter\n",
                     path.empty() ? "built-in bus" : path.c_str(), parsed.errorLine,
                     parsed.error.c_str());
        return {};
    }
    return std::move(*parsed.bus);
}

// The simulated machine's boot: CDRW_SIM_BOOT, else the kernel's.
std::string bootId() {
    std::string boot = environment("CDRW_SIM_BOOT");
    if (boot.empty()) {
        std::ifstream("/proc/sys/kernel/random/boot_id") >> boot;
    }
    return boot;
}

void setUpBus() {
    // The old bus lets go of its units before the new one may hold them.
    g_bus.reset();
    g_bus = std::make_unique<sim::SimBus>(
        readBus(),
        sim::SimOptions{environment("CDRW_SIM_LOG"), environment("CDRW_SIM_IMAGES"), bootId(),
                        sim::unitLockFolder(environment("XDG_RUNTIME_DIR"), environment("TMPDIR")),
                        sim::busKeyOf(environment("CDRW_SIM_BUS"))});
}

// The bus, set up on first use when the support word was never asked for. Called under g_mutex.
sim::SimBus &bus() {
    if (!g_bus) {
        setUpBus();
    }
    return *g_bus;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) std::uint32_t GetASPI32SupportInfo() {
    const std::lock_guard<std::mutex> lock(g_mutex);
    setUpBus();
    return g_bus->supportInfo();
}

extern "C" __attribute__((visibility("default"))) std::uint32_t SendASPI32Command(void *record) {
    const std::lock_guard<std::mutex> lock(g_mutex);
    bus().handle(record);
    return aspi::loadStatus(static_cast<aspi::SRB_Header *>(record)->SRB_Status);
}

#ifndef SIM_WITHOUT_UNIT_HOLD
extern "C" __attribute__((visibility("default"))) std::uint32_t HoldUnitForUpdate(
    std::uint8_t HaId, std::uint8_t Target, std::uint8_t Lun) {
    const std::lock_guard<std::mutex> lock(g_mutex);
    return bus().holdUnit(HaId, Target, Lun);
}

extern "C" __attribute__((visibility("default"))) std::uint32_t ReleaseUnitForUpdate(
    std::uint8_t HaId, std::uint8_t Target, std::uint8_t Lun) {
    const std::lock_guard<std::mutex> lock(g_mutex);
    return bus().releaseUnit(HaId, Target, Lun);
}
#endif

extern "C" __attribute__((visibility("default"))) std::uint32_t GetUnitTransport(
    std::uint8_t HaId, std::uint8_t Target, std::uint8_t Lun, aspi::UnitTransport *record) {
    const std::lock_guard<std::mutex> lock(g_mutex);
    return bus().unitTransport(HaId, Target, Lun, record);
}

extern "C" __attribute__((visibility("default"))) std::uint32_t SimulatedMachineBoot(
    char *buffer, std::uint32_t size) {
    const std::lock_guard<std::mutex> lock(g_mutex);
    const std::string boot = bus().bootId();
    if (size > 0) {
        const std::size_t count = std::min<std::size_t>(boot.size(), size - 1);
        std::memcpy(buffer, boot.data(), count);
        buffer[count] = '\0';
    }
    return static_cast<std::uint32_t>(boot.size());
}
