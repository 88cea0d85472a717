// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The drive command set: everything the program says to a unit. INQUIRY and the manager's
// get-device-type request serve discovery; WRITE BUFFER (microcode download with offsets) serves
// the update. Each command is one record handed to the manager by AspiManager::SendAndWait.
//
// Two bus forms exist. On a SCSI bus INQUIRY has a 6-byte CDB and WRITE BUFFER a 10-byte CDB
// with the last-block flag in bit 7 of byte 9 (the control byte). ATAPI units take 12-byte CDBs
// only: the same bytes padded with zeros, and the WRITE BUFFER flag moves to bit 7 of byte 11.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

#include "aspi/AspiManager.h"
#include "aspi/AspiRecords.h"

namespace aspi {

// Item index of the main window's bus selection.
inline constexpr int kBusScsi = 0;
inline constexpr int kBusAtapi = 1;

inline constexpr std::uint8_t kModeDownloadWithOffsets = 6;
inline constexpr std::uint8_t kModeDownloadWithOffsetsAndSave = 7;
inline constexpr std::uint8_t kLastBlockBit = 0x80;
inline constexpr std::uint32_t kMax24Bit = 0xFFFFFF;

// Returned without anything handed to the manager when a command cannot be built (an unknown
// bus, a field wider than the CDB holds): the manager's "invalid request" status, no adapter or
// target status.
inline constexpr CommandResult kCommandNotBuilt = SS_INVALID_SRB;

struct Cdb {
    std::array<std::uint8_t, 16> bytes{};  // bytes past `length` are zero
    std::uint8_t length = 0;
};

// Writes the low 24 bits of `value` big-endian into out[0..2]. The caller has checked the width.
void putBigEndian24(std::uint8_t *out, std::uint32_t value);

// INQUIRY asking for 98 bytes of standard data: 12 00 00 00 62 00, plus six zeros on ATAPI.
// Empty for a bus index other than SCSI or ATAPI.
std::optional<Cdb> inquiryCdb(int busType);

struct WriteBufferFields {
    std::uint8_t mode = 0;  // 5 bits: 6 download with offsets, 7 download with offsets and save
    std::uint8_t bufferId = 0;
    std::uint32_t offset = 0;  // 24 bits
    std::uint32_t length = 0;  // 24 bits
    bool lastBlock = false;    // bit 7 of the control byte (SCSI) or of byte 11 (ATAPI)
};

// WRITE BUFFER with big-endian 24-bit offset and length. Empty for an unknown bus, a mode wider
// than 5 bits, or an offset or length wider than 24 bits (the CDB would carry a value other than
// the one asked for).
std::optional<Cdb> writeBufferCdb(int busType, const WriteBufferFields &fields);

// Execute records for the two SCSI commands, every field not named here zero. `buffer` must lie
// below 4 GiB (it comes from the low-memory buffers) or be null.
SRB_ExecSCSICmd inquiryRecord(const Cdb &cdb, std::uint8_t adapter, std::uint8_t target,
                              std::uint8_t lun, std::uint8_t *buffer);
SRB_ExecSCSICmd writeBufferRecord(const Cdb &cdb, std::uint8_t adapter, std::uint8_t target,
                                  std::uint8_t lun, std::uint32_t length, const std::uint8_t *data);
SRB_GDEVBlock deviceTypeRecord(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun);

// Sends the three commands through a bound manager. The bus form is asked of `busType` afresh
// for every INQUIRY and WRITE BUFFER, so a change of the window's bus selection applies to the
// next command. Cheap to construct; holds references only.
class DriveCommands {
  public:
    using BusTypeProvider = std::function<int()>;

    DriveCommands(const AspiManager &manager, BusTypeProvider busType)
        : m_manager(manager), m_busType(std::move(busType)) {}

    // INQUIRY for 98 bytes into `inquiryBuffer` (98 bytes, below 4 GiB). The 18 sense bytes go
    // to `sense` exactly when the unit ends with CHECK CONDITION and no adapter status.
    CommandResult SendInquiry(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun,
                              std::uint8_t *inquiryBuffer, std::uint8_t *sense) const;

    // The manager's device type for the address: high byte device type, low byte status.
    CommandResult GetDeviceType(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun) const;

    // WRITE BUFFER of `length` bytes from `data` (below 4 GiB) to the unit's buffer `bufferId`
    // at `offset`, in `mode`; a non-zero `lastBlockFlag` sets bit 7 of the flag byte. Sense as
    // for SendInquiry. Returns kCommandNotBuilt, sending nothing, when offset or length exceed
    // 24 bits or the mode exceeds 5 bits. With `sent`, the record as the manager completed it is
    // copied there (its CDB, length and the three statuses); it stays untouched when nothing was
    // sent.
    CommandResult SendWriteBuffer(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun,
                                  std::uint32_t length, std::uint32_t offset,
                                  const std::uint8_t *data, std::uint8_t *sense, std::uint8_t mode,
                                  std::uint8_t bufferId, std::uint8_t lastBlockFlag,
                                  SRB_ExecSCSICmd *sent = nullptr) const;

  private:
    const AspiManager &m_manager;
    BusTypeProvider m_busType;
};

}  // namespace aspi
