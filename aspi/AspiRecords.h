// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// Request records exchanged with a drive-access manager, and the two entry points every manager
// exports. This header is shared by the program and by each manager (managers/sg, managers/sim):
// the byte layout is a wire format and must not change. Multi-byte fields are little-endian.
//
// A manager library exports, with C linkage:
//   uint32_t GetASPI32SupportInfo(void);  bits 8..15 status (0x01 ready), bits 0..7 adapter count
//   uint32_t SendASPI32Command(void *srb); fills the record and stores SRB_Status last
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace aspi {

// Request codes (SRB_Cmd).
inline constexpr std::uint8_t SC_HA_INQUIRY = 0x00;
inline constexpr std::uint8_t SC_GET_DEV_TYPE = 0x01;
inline constexpr std::uint8_t SC_EXEC_SCSI_CMD = 0x02;

// Completion status (SRB_Status).
inline constexpr std::uint8_t SS_PENDING = 0x00;
inline constexpr std::uint8_t SS_COMP = 0x01;
inline constexpr std::uint8_t SS_ABORTED = 0x02;
inline constexpr std::uint8_t SS_ABORT_FAIL = 0x03;
inline constexpr std::uint8_t SS_ERR = 0x04;
inline constexpr std::uint8_t SS_INVALID_HA = 0x81;
inline constexpr std::uint8_t SS_NO_DEVICE = 0x82;
inline constexpr std::uint8_t SS_INVALID_SRB = 0xE0;
inline constexpr std::uint8_t SS_ASPI_IS_BUSY = 0xE5;  // the unit hold: another program holds it

// Data direction (SRB_Flags).
inline constexpr std::uint8_t SRB_DIR_IN = 0x08;
inline constexpr std::uint8_t SRB_DIR_OUT = 0x10;

// Host adapter status (SRB_HaStat).
inline constexpr std::uint8_t HASTAT_OK = 0x00;
inline constexpr std::uint8_t HASTAT_SEL_TO = 0x11;
inline constexpr std::uint8_t HASTAT_DO_DU = 0x12;
inline constexpr std::uint8_t HASTAT_BUS_FREE = 0x13;
inline constexpr std::uint8_t HASTAT_PHASE_ERR = 0x14;

// Target status (SRB_TargStat).
inline constexpr std::uint8_t STATUS_GOOD = 0x00;
inline constexpr std::uint8_t STATUS_CHKCOND = 0x02;
inline constexpr std::uint8_t STATUS_BUSY = 0x08;
inline constexpr std::uint8_t STATUS_RESCONF = 0x18;

inline constexpr std::size_t kSenseLength = 18;

// SCSI operation codes the program sends (CDB byte 0).
inline constexpr std::uint8_t kOpInquiry = 0x12;
inline constexpr std::uint8_t kOpWriteBuffer = 0x3B;

#pragma pack(push, 1)

// Host adapter inquiry, 60 bytes. [in] written by the program, [out] by the manager.
struct SRB_HAInquiry {
    std::uint8_t SRB_Cmd;            // 0  [in]  SC_HA_INQUIRY
    std::uint8_t SRB_Status;         // 1  [out] completion status, stored last
    std::uint8_t SRB_HaId;           // 2  [in]  host adapter number
    std::uint8_t SRB_Flags;          // 3  [in]  0
    std::uint32_t SRB_Hdr_Rsvd;      // 4  [in]  0
    std::uint8_t HA_Count;           // 8  [out] number of host adapters
    std::uint8_t HA_SCSI_ID;         // 9  [out] the adapter's own SCSI id
    std::uint8_t HA_ManagerId[16];   // 10 [out] manager identifier text
    std::uint8_t HA_Identifier[16];  // 26 [out] adapter identifier text
    std::uint8_t HA_Unique[16];      // 42 [out] adapter-specific parameters
    std::uint16_t HA_Rsvd1;          // 58       0
};

// Get device type, 12 bytes.
struct SRB_GDEVBlock {
    std::uint8_t SRB_Cmd;         // 0  [in]  SC_GET_DEV_TYPE
    std::uint8_t SRB_Status;      // 1  [out] completion status, stored last
    std::uint8_t SRB_HaId;        // 2  [in]  host adapter number
    std::uint8_t SRB_Flags;       // 3  [in]  0
    std::uint32_t SRB_Hdr_Rsvd;   // 4  [in]  0
    std::uint8_t SRB_Target;      // 8  [in]  target id
    std::uint8_t SRB_Lun;         // 9  [in]  LUN, always 0
    std::uint8_t SRB_DeviceType;  // 10 [out] peripheral device type
    std::uint8_t SRB_Rsvd1;       // 11       0
};

// Execute SCSI command, 82 bytes.
struct SRB_ExecSCSICmd {
    std::uint8_t SRB_Cmd;          // 0  [in]  SC_EXEC_SCSI_CMD
    std::uint8_t SRB_Status;       // 1  [out] completion status, stored last
    std::uint8_t SRB_HaId;         // 2  [in]  host adapter number
    std::uint8_t SRB_Flags;        // 3  [in]  SRB_DIR_IN or SRB_DIR_OUT
    std::uint32_t SRB_Hdr_Rsvd;    // 4  [in]  0
    std::uint8_t SRB_Target;       // 8  [in]  target id
    std::uint8_t SRB_Lun;          // 9  [in]  LUN, always 0
    std::uint16_t SRB_Rsvd1;       // 10       0
    std::uint32_t SRB_BufLen;      // 12 [in]  bytes to move
    std::uint32_t SRB_BufPointer;  // 16 [in]  data buffer address; the buffer lies below 4 GiB
    std::uint8_t SRB_SenseLen;     // 20 [in]  18
    std::uint8_t SRB_CDBLen;       // 21 [in]  6, 10 or 12
    std::uint8_t SRB_HaStat;       // 22 [out] host adapter status
    std::uint8_t SRB_TargStat;     // 23 [out] target status; 0x02 CHECK CONDITION
    std::uint32_t SRB_PostProc;    // 24 [in]  0, no completion routine
    std::uint8_t SRB_Rsvd2[20];    // 28       zeros
    std::uint8_t CDBByte[16];      // 48 [in]  the CDB; bytes past SRB_CDBLen are zero
    std::uint8_t SenseArea[kSenseLength];  // 64 [out] sense data, valid on CHECK CONDITION
};

#pragma pack(pop)

static_assert(sizeof(SRB_HAInquiry) == 60);
static_assert(offsetof(SRB_HAInquiry, SRB_Status) == 1);
static_assert(offsetof(SRB_HAInquiry, SRB_HaId) == 2);
static_assert(offsetof(SRB_HAInquiry, SRB_Flags) == 3);
static_assert(offsetof(SRB_HAInquiry, SRB_Hdr_Rsvd) == 4);
static_assert(offsetof(SRB_HAInquiry, HA_Count) == 8);
static_assert(offsetof(SRB_HAInquiry, HA_SCSI_ID) == 9);
static_assert(offsetof(SRB_HAInquiry, HA_ManagerId) == 10);
static_assert(offsetof(SRB_HAInquiry, HA_Identifier) == 26);
static_assert(offsetof(SRB_HAInquiry, HA_Unique) == 42);
static_assert(offsetof(SRB_HAInquiry, HA_Rsvd1) == 58);

static_assert(sizeof(SRB_GDEVBlock) == 12);
static_assert(offsetof(SRB_GDEVBlock, SRB_Target) == 8);
static_assert(offsetof(SRB_GDEVBlock, SRB_Lun) == 9);
static_assert(offsetof(SRB_GDEVBlock, SRB_DeviceType) == 10);
static_assert(offsetof(SRB_GDEVBlock, SRB_Rsvd1) == 11);

static_assert(sizeof(SRB_ExecSCSICmd) == 82);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Target) == 8);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Lun) == 9);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Rsvd1) == 10);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_BufLen) == 12);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_BufPointer) == 16);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_SenseLen) == 20);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_CDBLen) == 21);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_HaStat) == 22);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_TargStat) == 23);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_PostProc) == 24);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Rsvd2) == 28);
static_assert(offsetof(SRB_ExecSCSICmd, CDBByte) == 48);
static_assert(offsetof(SRB_ExecSCSICmd, SenseArea) == 64);

// Every record starts with the same header; a manager reads SRB_Cmd first to know which it got.
struct SRB_Header {
    std::uint8_t SRB_Cmd;
    std::uint8_t SRB_Status;
    std::uint8_t SRB_HaId;
    std::uint8_t SRB_Flags;
    std::uint32_t SRB_Hdr_Rsvd;
};
static_assert(sizeof(SRB_Header) == 8);

// The status byte is written by the manager, possibly from another thread; the program polls it.
// Both sides go through these so the compiler neither caches nor reorders the access.
inline std::uint8_t loadStatus(std::uint8_t &status) {
    return std::atomic_ref<std::uint8_t>(status).load(std::memory_order_acquire);
}
inline void storeStatus(std::uint8_t &status, std::uint8_t value) {
    std::atomic_ref<std::uint8_t>(status).store(value, std::memory_order_release);
}

// Turns a 32-bit SRB_BufPointer back into an address (managers). The program only hands over
// buffers that lie below 4 GiB (aspi::lowAddress gives the field's value).
inline void *bufferAddress(std::uint32_t field) {
    // The record's field is an address by definition of the wire format.
    return reinterpret_cast<void *>(  // NOLINT(performance-no-int-to-ptr)
        static_cast<std::uintptr_t>(field));
}

using GetASPI32SupportInfoFn = std::uint32_t (*)();
using SendASPI32CommandFn = std::uint32_t (*)(void *);
// The unit hold's two entry points (HoldUnitForUpdate, ReleaseUnitForUpdate), which a manager may
// leave out: (adapter, target, LUN) -> SS_COMP, SS_ASPI_IS_BUSY, SS_INVALID_HA or SS_NO_DEVICE.
using UnitHoldFn = std::uint32_t (*)(std::uint8_t, std::uint8_t, std::uint8_t);
// A simulator's own entry point (SimulatedMachineBoot), which no other manager has: copies the
// boot id of the machine it simulates, NUL-terminated and cut to fit, into (buffer, size) and
// returns the id's full length.
using SimulatedMachineBootFn = std::uint32_t (*)(char *, std::uint32_t);

}  // namespace aspi
