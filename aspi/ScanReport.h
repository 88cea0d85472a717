// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// What a manager found at its latest enumeration, so that a program whose unit list stayed empty
// can say why. Shared by the program and the real manager; the byte layout is a wire format.
//
// A manager may export, with C linkage:
//   uint32_t GetScanReport(ScanReport *report);
// It fills the record and returns SS_COMP; SS_INVALID_SRB, writing nothing, for a null record or
// one whose ReportSize is not this layout's. A manager without it (the simulator, another
// maker's) has nothing to tell, and the program says nothing.
#pragma once

#include <cstddef>
#include <cstdint>

namespace aspi {

inline constexpr std::size_t kReportedNodes = 4;
inline constexpr std::size_t kReportedNodeLength = 64;

#pragma pack(push, 1)

// 264 bytes. [in] written by the program, [out] by the manager.
struct ScanReport {
    std::uint32_t ReportSize;   // 0  [in]  sizeof(ScanReport)
    std::uint8_t DriverLoaded;  // 4  [out] 1: the kernel's generic SCSI driver (sg) is loaded
    std::uint8_t CdUnits;       // 5  [out] CD/DVD units (device type 5) found, at most 255
    std::uint8_t DeniedUnits;   // 6  [out] of those, units this user may not open, at most 255
    std::uint8_t HeldUnits;     // 7  [out] of the others, units another process holds for an
                                //          update (another copy's, or its keeper's), at most 255
    // 8 [out] the device nodes of the first kReportedNodes denied units ("/dev/sg1"),
    // NUL-terminated, cut to fit; the rest zero
    char DeniedNodes[kReportedNodes][kReportedNodeLength];
};

#pragma pack(pop)

static_assert(sizeof(ScanReport) == 264);
static_assert(offsetof(ScanReport, DeniedNodes) == 8);

using GetScanReportFn = std::uint32_t (*)(ScanReport *);

}  // namespace aspi
