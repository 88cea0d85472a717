// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "managers/sim/SimBus.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

#include "aspi/AspiRecords.h"

namespace sim {

namespace {

std::string hex2(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", value & 0xFFu);
    return text;
}

std::string cdbText(const aspi::SRB_ExecSCSICmd &srb) {
    std::string text;
    const unsigned length = srb.SRB_CDBLen < 16 ? srb.SRB_CDBLen : 16;
    for (unsigned i = 0; i < length; ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, "%02x", srb.CDBByte[i]);
        text += (i == 0 ? "" : " ");
        text += byte;
    }
    return text;
}

std::string address(unsigned adapter, unsigned target, unsigned lun) {
    return " ha=" + std::to_string(adapter) + " target=" + std::to_string(target) +
           " lun=" + std::to_string(lun);
}

}  // namespace

std::string unitLockFolder(const std::string &runtimeDir, const std::string &tmpDir) {
    std::string folder;
    if (!runtimeDir.empty() && runtimeDir.front() == '/') {
        folder = runtimeDir + "/cdrw-fwupdate-sim";
    } else {
        folder = (!tmpDir.empty() && tmpDir.front() == '/' ? tmpDir : std::string("/tmp")) +
                 "/cdrw-fwupdate-sim-" + std::to_string(::geteuid());
    }
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        std::fprintf(stderr,
                     "simulated bus: cannot make %s (%s); another copy of the program will not "
                     "see which simulated units are held\n",
                     folder.c_str(), std::strerror(errno));
        return {};
    }
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != ::geteuid()) {
        std::fprintf(stderr,
                     "simulated bus: %s is not a folder of your own; another copy of the program "
                     "will not see which simulated units are held\n",
                     folder.c_str());
        return {};
    }
    return folder;
}

std::string busKeyOf(const std::string &busPath) {
    if (busPath.empty()) {
        return "built-in";
    }
    char resolved[PATH_MAX];
    const std::string path =
        ::realpath(busPath.c_str(), resolved) != nullptr ? std::string(resolved) : busPath;
    // 64-bit FNV-1a: a short, stable piece of a file name for any path.
    std::uint64_t hash = 0xcbf29ce484222325u;
    for (const unsigned char byte : path) {
        hash = (hash ^ byte) * 0x100000001b3u;
    }
    char text[24];
    std::snprintf(text, sizeof text, "bus-%016llx", static_cast<unsigned long long>(hash));
    return text;
}

SimBus::SimBus(const BusDescription &bus, SimOptions options) : m_options(std::move(options)) {
    for (const AdapterDescription &description : bus.adapters) {
        m_adapters.push_back({description, 0});
    }
    for (const UnitDescription &description : bus.units) {
        std::vector<BlockFailure> failures;
        for (const BlockFailure &failure : bus.failures) {
            if (failure.adapter == description.adapter && failure.target == description.target) {
                failures.push_back(failure);
            }
        }
        std::vector<RecordedReply> recorded;
        for (const RecordedReply &reply : bus.recorded) {
            if (reply.adapter == description.adapter && reply.target == description.target) {
                recorded.push_back(reply);
            }
        }
        m_units.emplace(std::make_pair(description.adapter, description.target),
                        SimUnit(poweredOn(description), failures, std::move(recorded)));
    }
}

std::uint32_t SimBus::supportInfo() const {
    return (std::uint32_t{aspi::SS_COMP} << 8) | static_cast<std::uint32_t>(m_adapters.size());
}

const SimUnit *SimBus::unit(std::uint8_t adapter, std::uint8_t target) const {
    const auto found = m_units.find({adapter, target});
    return found == m_units.end() ? nullptr : &found->second;
}

SimUnit *SimBus::findUnit(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun) {
    const auto found = m_units.find({adapter, target});
    return lun != 0 || found == m_units.end() ? nullptr : &found->second;
}

SimUnit *SimBus::unitAt(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun,
                        std::uint8_t &status) {
    SimUnit *found = adapter < m_adapters.size() ? findUnit(adapter, target, lun) : nullptr;
    status = adapter >= m_adapters.size() ? aspi::SS_INVALID_HA
             : found == nullptr           ? aspi::SS_NO_DEVICE
                                          : aspi::SS_COMP;
    return found;
}

SimBus::~SimBus() {
    for (const auto &[unit, handle] : m_holds) {
        if (handle >= 0) {
            ::close(handle);
        }
    }
}

std::string SimBus::lockFile(std::uint8_t adapter, std::uint8_t target) const {
    if (m_options.lockDir.empty()) {
        return {};
    }
    return m_options.lockDir + "/" + (m_options.busKey.empty() ? "built-in" : m_options.busKey) +
           "-a" + std::to_string(adapter) + "t" + std::to_string(target) + ".lock";
}

std::uint32_t SimBus::holdUnit(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun) {
    std::uint8_t status = aspi::SS_COMP;
    const SimUnit *found = unitAt(adapter, target, lun, status);
    if (found != nullptr &&
        (found->description().heldElsewhere || m_holds.contains({adapter, target}))) {
        status = aspi::SS_ASPI_IS_BUSY;
    }
    if (status == aspi::SS_COMP) {
        // A descriptor of the hold's own, as the real manager's lock: the keeper of the update
        // inherits it and keeps the unit held after the program has gone.
        const std::string path = lockFile(adapter, target);
        int handle = -1;
        if (!path.empty()) {
            handle = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
            if (handle < 0) {
                std::fprintf(stderr,
                             "simulated bus: cannot open %s (%s); the unit is held for this "
                             "program only\n",
                             path.c_str(), std::strerror(errno));
            } else if (::flock(handle, LOCK_EX | LOCK_NB) != 0) {
                ::close(handle);
                handle = -1;
                status = aspi::SS_ASPI_IS_BUSY;
            }
        }
        if (status == aspi::SS_COMP) {
            m_holds[{adapter, target}] = handle;
        }
    }
    log("HOLD" + address(adapter, target, lun) + " -> status=" + hex2(status));
    return status;
}

std::uint32_t SimBus::releaseUnit(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun) {
    std::uint8_t status = aspi::SS_COMP;
    unitAt(adapter, target, lun, status);
    const auto held = m_holds.find({adapter, target});
    if (held != m_holds.end()) {
        if (held->second >= 0) {
            ::close(held->second);
        }
        m_holds.erase(held);
    }
    log("RELEASE" + address(adapter, target, lun) + " -> status=" + hex2(status));
    return status;
}

std::uint32_t SimBus::unitTransport(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun,
                                    aspi::UnitTransport *record) {
    if (record == nullptr || record->RecordSize != sizeof(aspi::UnitTransport)) {
        return aspi::SS_INVALID_SRB;
    }
    std::uint8_t status = aspi::SS_COMP;
    const SimUnit *found = unitAt(adapter, target, lun, status);
    if (found == nullptr) {
        return status;
    }
    const aspi::TransportInfo &transport = found->description().transport;
    *record =
        aspi::UnitTransport{sizeof(aspi::UnitTransport), static_cast<std::uint8_t>(transport.kind),
                            0, transport.usbVendor, transport.usbProduct};
    return aspi::SS_COMP;
}

void SimBus::handle(void *record) {
    auto *header = static_cast<aspi::SRB_Header *>(record);
    switch (header->SRB_Cmd) {
        case aspi::SC_HA_INQUIRY:
            answerAdapterInquiry(*static_cast<aspi::SRB_HAInquiry *>(record));
            return;
        case aspi::SC_GET_DEV_TYPE:
            answerDeviceType(*static_cast<aspi::SRB_GDEVBlock *>(record));
            return;
        case aspi::SC_EXEC_SCSI_CMD:
            execute(*static_cast<aspi::SRB_ExecSCSICmd *>(record));
            return;
        default:
            log("UNKNOWN cmd=" + hex2(header->SRB_Cmd) +
                " -> status=" + hex2(aspi::SS_INVALID_SRB));
            aspi::storeStatus(header->SRB_Status, aspi::SS_INVALID_SRB);
            return;
    }
}

void SimBus::answerAdapterInquiry(aspi::SRB_HAInquiry &srb) {
    const std::uint8_t adapter = srb.SRB_HaId;
    std::uint8_t status = aspi::SS_INVALID_HA;
    if (adapter < m_adapters.size()) {
        Adapter &entry = m_adapters[adapter];
        const bool answers = !entry.description.failsInquiry &&
                             (!entry.description.answeredInquiries ||
                              entry.inquiriesAnswered < *entry.description.answeredInquiries);
        status = answers ? aspi::SS_COMP : aspi::SS_ERR;
        if (answers) {
            ++entry.inquiriesAnswered;
            srb.HA_Count = static_cast<std::uint8_t>(m_adapters.size());
            srb.HA_SCSI_ID = entry.description.ownId;
            std::memcpy(srb.HA_ManagerId, "SIMULATED BUS   ", 16);
            std::memcpy(srb.HA_Identifier, "SIM ADAPTER     ", 16);
        }
    }
    log("HA_INQUIRY ha=" + std::to_string(adapter) + " -> status=" + hex2(status) +
        (status == aspi::SS_COMP ? " id=" + std::to_string(srb.HA_SCSI_ID) : ""));
    aspi::storeStatus(srb.SRB_Status, status);
}

void SimBus::answerDeviceType(aspi::SRB_GDEVBlock &srb) {
    std::uint8_t status = aspi::SS_COMP;
    if (const SimUnit *found = unitAt(srb.SRB_HaId, srb.SRB_Target, srb.SRB_Lun, status)) {
        srb.SRB_DeviceType = found->description().deviceType;
    } else if (status == aspi::SS_NO_DEVICE) {
        srb.SRB_DeviceType = 0;
    }
    log("GET_DEV_TYPE" + address(srb.SRB_HaId, srb.SRB_Target, srb.SRB_Lun) +
        " -> status=" + hex2(status) + " type=" + std::to_string(srb.SRB_DeviceType));
    aspi::storeStatus(srb.SRB_Status, status);
}

void SimBus::execute(aspi::SRB_ExecSCSICmd &srb) {
    const std::uint8_t adapter = srb.SRB_HaId;
    void *buffer = aspi::bufferAddress(srb.SRB_BufPointer);
    SimUnit *unit =
        adapter < m_adapters.size() ? findUnit(adapter, srb.SRB_Target, srb.SRB_Lun) : nullptr;
    Reply reply;
    if (adapter >= m_adapters.size()) {
        reply.status = aspi::SS_INVALID_HA;
    } else if ((srb.SRB_BufLen > 0 && buffer == nullptr) || srb.SRB_CDBLen == 0 ||
               srb.SRB_CDBLen > sizeof srb.CDBByte) {
        reply.status = aspi::SS_INVALID_SRB;
    } else if (unit == nullptr) {
        // Nothing answers the selection: the host side fails, as with the real manager.
        reply.status = aspi::SS_ABORTED;
        reply.haStat = aspi::HASTAT_SEL_TO;
    } else {
        if (srb.CDBByte[0] == aspi::kOpWriteBuffer && unit->description().blockMilliseconds > 0) {
            std::this_thread::sleep_for(
                std::chrono::milliseconds(unit->description().blockMilliseconds));
        }
        reply = unit->execute(srb.CDBByte, srb.SRB_CDBLen, static_cast<std::uint8_t *>(buffer),
                              srb.SRB_BufLen);
        if (srb.CDBByte[0] == aspi::kOpWriteBuffer) {
            writeImage(adapter, srb.SRB_Target, *unit);
            const bool saves = (srb.CDBByte[1] & 0x1F) == 7;
            if (saves && reply.status == aspi::SS_COMP && !m_options.imageDir.empty()) {
                std::ofstream(unitFile(adapter, srb.SRB_Target, ".stored"), std::ios::trunc)
                    << m_options.bootId << '\n';
            }
        }
    }
    srb.SRB_HaStat = reply.haStat;
    srb.SRB_TargStat = reply.targStat;
    std::memcpy(srb.SenseArea, reply.sense.data(), reply.sense.size());
    log("EXEC" + address(adapter, srb.SRB_Target, srb.SRB_Lun) + " flags=" + hex2(srb.SRB_Flags) +
        " buflen=" + std::to_string(srb.SRB_BufLen) + " cdblen=" + std::to_string(srb.SRB_CDBLen) +
        " cdb=" + cdbText(srb) + " -> status=" + hex2(reply.status) +
        " hastat=" + hex2(reply.haStat) + " targstat=" + hex2(reply.targStat));
    aspi::storeStatus(srb.SRB_Status, reply.status);
}

void SimBus::log(const std::string &line) const {
    if (m_options.logPath.empty()) {
        return;
    }
    std::ofstream out(m_options.logPath, std::ios::app);
    out << line << '\n';
}

std::string SimBus::unitFile(std::uint8_t adapter, std::uint8_t target, const char *suffix) const {
    return m_options.imageDir + "/a" + std::to_string(adapter) + "t" + std::to_string(target) +
           suffix;
}

UnitDescription SimBus::poweredOn(UnitDescription description) const {
    if (!description.newRevision || m_options.imageDir.empty()) {
        return description;
    }
    std::ifstream stored(unitFile(description.adapter, description.target, ".stored"));
    std::string boot;
    if (std::getline(stored, boot) && boot != m_options.bootId) {
        description.revision = *description.newRevision;
    }
    return description;
}

void SimBus::writeImage(std::uint8_t adapter, std::uint8_t target, const SimUnit &unit) const {
    if (m_options.imageDir.empty()) {
        return;
    }
    std::ofstream out(unitFile(adapter, target, ".bin"), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(unit.received().data()),
              static_cast<std::streamsize>(unit.received().size()));
}

}  // namespace sim
