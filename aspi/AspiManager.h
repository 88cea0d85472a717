// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// Binding of the drive-access manager library and the one rule by which every request is sent
// and awaited. The library is loaded by its bare name, so the dynamic loader's search order
// decides which manager serves the program (LD_LIBRARY_PATH, then the executable's RUNPATH).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "aspi/AspiRecords.h"
#include "aspi/ScanReport.h"
#include "aspi/UnitTransport.h"

namespace aspi {

// Low byte: SRB_Status at completion. High byte: host adapter status if non-zero, else target
// status (execute requests), or the device type (get-device-type requests). 0x0001 is success.
using CommandResult = std::uint16_t;

inline constexpr CommandResult kCommandSuccess = 0x0001;
// An execute request that ended in CHECK CONDITION with no host adapter status (SS_ERR, target
// status 0x02): the one result whose sense bytes are the command's own.
inline constexpr CommandResult kCheckConditionResult = 0x0204;
inline constexpr const char *kManagerLibraryName = "wnaspi32.DLL";

// The four fatal binding failures, exactly as they are shown.
inline constexpr const char *kCantLoadText = "Can't load the ASPI Manager wnaspi32.DLL!";
inline constexpr const char *kCantLoadCaption = "Can't load !";
inline constexpr const char *kNoSupportInfoText =
    "Can't get the address of GetASPI32SupportInfo \t\t\t            function from wnaspi32.DLL!";
inline constexpr const char *kInitFailedText = "Failure in initializing ASPI manager!!!";
inline constexpr const char *kNoSendCommandText =
    "Can't get the address of SendASPI32Command \t\t                function from wnaspi32.DLL!";

// Exit status of a fatal binding failure: a failure must not read as success.
inline constexpr int kBindingFailureExitStatus = 1;

class AspiManager {
  public:
    // Loads the manager, binds both entry points, checks the status byte of the support word and
    // keeps its low 16 bits. Returns only on success; every failure shows its message box and
    // ends the process through platform::exitProcess.
    // The unit hold's entry points are bound too when the manager has both; a manager without
    // them works as before. So is the scan report's, when the manager has it. `useUnitHold` false
    // leaves them unbound (the kernel test shows with it what reaches a unit without the hold).
    void LoadAspiManager(bool useUnitHold = true);

    bool bound() const { return m_send != nullptr; }

    // Low 16 bits of the support word: high byte the manager's status, low byte adapter count.
    std::uint16_t AspiSupport() const { return m_support; }

    // The manager has the unit hold's entry points (aspi/UnitHold.h).
    bool canHoldUnits() const { return m_holdUnit != nullptr; }

    // Ask the manager to hold, or let go of, a unit for an update. Return the manager's status
    // (SS_COMP, SS_ASPI_IS_BUSY, SS_INVALID_HA, SS_NO_DEVICE); only when canHoldUnits().
    std::uint32_t HoldUnitForUpdate(std::uint8_t adapter, std::uint8_t target,
                                    std::uint8_t lun) const;
    std::uint32_t ReleaseUnitForUpdate(std::uint8_t adapter, std::uint8_t target,
                                       std::uint8_t lun) const;

    // What the manager found at its latest enumeration (aspi/ScanReport.h); nullopt when it has
    // no GetScanReport (the simulator) or does not answer SS_COMP.
    std::optional<ScanReport> scanReport() const;
    // How the unit at (adapter, target, LUN 0) is attached (aspi/UnitTransport.h); unknown when
    // the manager has no GetUnitTransport, does not answer SS_COMP or names no kind it knows.
    TransportInfo unitTransport(std::uint8_t adapter, std::uint8_t target) const;
    // The manager simulates its units: it has the simulator's SimulatedMachineBoot entry point.
    bool simulated() const { return m_simulatedBoot != nullptr; }
    // The boot id of the machine the simulator simulates, which it changes when the machine is
    // "switched off and on"; empty for a manager that simulates none.
    std::string simulatedBoot() const;

    // Hands a host adapter inquiry over and returns SRB_Status as read once right after the call.
    std::uint8_t SendHostAdapterInquiry(SRB_HAInquiry &srb) const;

    // Hands the record over, polls SRB_Status until it is no longer pending and returns the
    // result (device type × 256 + status).
    CommandResult SendAndWait(SRB_GDEVBlock &srb) const;

    // As above for an execute request. The 18 sense bytes are copied to `sense` exactly when the
    // host adapter status is 0 and the target status is CHECK CONDITION; otherwise `sense` keeps
    // what it held.
    CommandResult SendAndWait(SRB_ExecSCSICmd &srb, std::uint8_t *sense) const;

  private:
    void *m_handle = nullptr;
    GetASPI32SupportInfoFn m_supportInfo = nullptr;
    SendASPI32CommandFn m_send = nullptr;
    UnitHoldFn m_holdUnit = nullptr;
    UnitHoldFn m_releaseUnit = nullptr;
    GetScanReportFn m_scanReport = nullptr;
    GetUnitTransportFn m_unitTransport = nullptr;
    SimulatedMachineBootFn m_simulatedBoot = nullptr;
    std::uint16_t m_support = 0;
};

// The result of a completed execute request, as defined above.
CommandResult executeResult(const SRB_ExecSCSICmd &srb);

}  // namespace aspi
