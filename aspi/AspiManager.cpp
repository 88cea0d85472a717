// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "aspi/AspiManager.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstring>

#include "platform/Platform.h"

namespace aspi {

namespace {

[[noreturn]] void fail(const char *text, std::optional<std::string> caption, platform::Icon icon) {
    platform::messageBox(text, std::move(caption), icon);
    platform::exitProcess(kBindingFailureExitStatus);
}

std::uint8_t waitForCompletion(std::uint8_t &status) {
    // No sleep and no time-out of our own: every manager completes every request (the real one
    // sets a time-out per command in the kernel).
    std::uint8_t value = loadStatus(status);
    while (value == SS_PENDING) {
        value = loadStatus(status);
    }
    return value;
}

}  // namespace

void AspiManager::LoadAspiManager(bool useUnitHold) {
    // The library stays loaded until the process ends; the handle is never closed.
    m_handle = dlopen(kManagerLibraryName, RTLD_NOW);
    if (m_handle == nullptr) {
        fail(kCantLoadText, kCantLoadCaption, platform::Icon::Warning);
    }
    m_supportInfo =
        reinterpret_cast<GetASPI32SupportInfoFn>(dlsym(m_handle, "GetASPI32SupportInfo"));
    if (m_supportInfo == nullptr) {
        fail(kNoSupportInfoText, std::nullopt, platform::Icon::Warning);
    }
    m_support = static_cast<std::uint16_t>(m_supportInfo() & 0xFFFFu);
    if ((m_support >> 8) != SS_COMP) {
        fail(kInitFailedText, std::nullopt, platform::Icon::Error);
    }
    m_send = reinterpret_cast<SendASPI32CommandFn>(dlsym(m_handle, "SendASPI32Command"));
    if (m_send == nullptr) {
        fail(kNoSendCommandText, std::nullopt, platform::Icon::Error);
    }
    m_scanReport = reinterpret_cast<GetScanReportFn>(dlsym(m_handle, "GetScanReport"));
    m_unitTransport = reinterpret_cast<GetUnitTransportFn>(dlsym(m_handle, "GetUnitTransport"));
    m_simulatedBoot =
        reinterpret_cast<SimulatedMachineBootFn>(dlsym(m_handle, "SimulatedMachineBoot"));
    if (!useUnitHold) {
        return;
    }
    // Both or neither: a hold that could not be let go would stay until the process ends.
    const auto hold = reinterpret_cast<UnitHoldFn>(dlsym(m_handle, "HoldUnitForUpdate"));
    const auto release = reinterpret_cast<UnitHoldFn>(dlsym(m_handle, "ReleaseUnitForUpdate"));
    if (hold != nullptr && release != nullptr) {
        m_holdUnit = hold;
        m_releaseUnit = release;
    }
}

std::uint32_t AspiManager::HoldUnitForUpdate(std::uint8_t adapter, std::uint8_t target,
                                             std::uint8_t lun) const {
    return m_holdUnit(adapter, target, lun);
}

std::uint32_t AspiManager::ReleaseUnitForUpdate(std::uint8_t adapter, std::uint8_t target,
                                                std::uint8_t lun) const {
    return m_releaseUnit(adapter, target, lun);
}

std::optional<ScanReport> AspiManager::scanReport() const {
    if (m_scanReport == nullptr) {
        return std::nullopt;
    }
    ScanReport report{};
    report.ReportSize = sizeof(report);
    if (m_scanReport(&report) != SS_COMP) {
        return std::nullopt;
    }
    return report;
}

TransportInfo AspiManager::unitTransport(std::uint8_t adapter, std::uint8_t target) const {
    if (m_unitTransport == nullptr) {
        return {};
    }
    UnitTransport record{};
    record.RecordSize = sizeof(record);
    if (m_unitTransport(adapter, target, 0, &record) != SS_COMP ||
        record.Kind > static_cast<std::uint8_t>(Transport::Scsi)) {
        return {};
    }
    TransportInfo info;
    info.kind = static_cast<Transport>(record.Kind);
    if (info.kind == Transport::Usb) {
        info.usbVendor = record.UsbVendor;
        info.usbProduct = record.UsbProduct;
    }
    return info;
}

std::string AspiManager::simulatedBoot() const {
    if (m_simulatedBoot == nullptr) {
        return {};
    }
    char boot[64] = {};
    const std::uint32_t length = m_simulatedBoot(boot, sizeof boot);
    return std::string(boot, std::min<std::size_t>(length, sizeof boot - 1));
}

std::uint8_t AspiManager::SendHostAdapterInquiry(SRB_HAInquiry &srb) const {
    m_send(&srb);
    return loadStatus(srb.SRB_Status);
}

CommandResult AspiManager::SendAndWait(SRB_GDEVBlock &srb) const {
    m_send(&srb);
    const std::uint8_t status = waitForCompletion(srb.SRB_Status);
    return static_cast<CommandResult>((srb.SRB_DeviceType << 8) | status);
}

CommandResult AspiManager::SendAndWait(SRB_ExecSCSICmd &srb, std::uint8_t *sense) const {
    m_send(&srb);
    waitForCompletion(srb.SRB_Status);
    if (srb.SRB_HaStat == HASTAT_OK && srb.SRB_TargStat == STATUS_CHKCOND && sense != nullptr) {
        std::memcpy(sense, srb.SenseArea, kSenseLength);
    }
    return executeResult(srb);
}

CommandResult executeResult(const SRB_ExecSCSICmd &srb) {
    const std::uint8_t high = srb.SRB_HaStat != 0 ? srb.SRB_HaStat : srb.SRB_TargStat;
    return static_cast<CommandResult>((high << 8) | srb.SRB_Status);
}

}  // namespace aspi
