// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The entry points of the module, exported with C linkage, over moduleManager():
//   uint32_t GetASPI32SupportInfo(void)  enumerates the generic SCSI devices; returns status 0x01
//                                        in bits 8..15 and the number of adapters in bits 0..7
//   uint32_t SendASPI32Command(void *)   serves SC_HA_INQUIRY, SC_GET_DEV_TYPE and
//                                        SC_EXEC_SCSI_CMD; the request is complete, SRB_Status
//                                        stored last, when it returns
//   uint32_t HoldUnitForUpdate(uint8_t HaId, uint8_t Target, uint8_t Lun)
//   uint32_t ReleaseUnitForUpdate(uint8_t HaId, uint8_t Target, uint8_t Lun)
//                                        hold the unit for an update and let go of it
//                                        (HeldUnit.h): 0x01 held / let go, 0xE5 another program
//                                        holds it, 0x81 / 0x82 no such adapter / unit
//   uint32_t GetScanReport(aspi::ScanReport *)
//                                        what the latest enumeration found, for an empty unit
//                                        list (aspi/ScanReport.h)
//   uint32_t GetUnitTransport(uint8_t HaId, uint8_t Target, uint8_t Lun, aspi::UnitTransport *)
//                                        how the unit is attached: ATA, USB (with the bridge's
//                                        ids), SCSI (aspi/UnitTransport.h)
#include <cstdint>
#include <mutex>

#include "managers/sg/ModuleManager.h"

namespace {

std::mutex g_lock;

}  // namespace

extern "C" __attribute__((visibility("default"))) std::uint32_t GetASPI32SupportInfo() {
    const std::lock_guard<std::mutex> hold(g_lock);
    return sg::moduleManager().supportInfo();
}

extern "C" __attribute__((visibility("default"))) std::uint32_t SendASPI32Command(void *record) {
    const std::lock_guard<std::mutex> hold(g_lock);
    return sg::moduleManager().send(record);
}

extern "C" __attribute__((visibility("default"))) std::uint32_t HoldUnitForUpdate(
    std::uint8_t HaId, std::uint8_t Target, std::uint8_t Lun) {
    const std::lock_guard<std::mutex> hold(g_lock);
    return sg::moduleManager().holdUnit(HaId, Target, Lun);
}

extern "C" __attribute__((visibility("default"))) std::uint32_t ReleaseUnitForUpdate(
    std::uint8_t HaId, std::uint8_t Target, std::uint8_t Lun) {
    const std::lock_guard<std::mutex> hold(g_lock);
    return sg::moduleManager().releaseUnit(HaId, Target, Lun);
}

extern "C" __attribute__((visibility("default"))) std::uint32_t GetScanReport(
    aspi::ScanReport *report) {
    const std::lock_guard<std::mutex> hold(g_lock);
    return sg::moduleManager().scanReport(report);
}

extern "C" __attribute__((visibility("default"))) std::uint32_t GetUnitTransport(
    std::uint8_t HaId, std::uint8_t Target, std::uint8_t Lun, aspi::UnitTransport *record) {
    const std::lock_guard<std::mutex> hold(g_lock);
    return sg::moduleManager().unitTransport(HaId, Target, Lun, record);
}
