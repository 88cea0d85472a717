// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "aspi/DriveCommands.h"

#include <cstring>

#include "aspi/LowMemory.h"

namespace aspi {

namespace {

constexpr std::uint8_t kInquiryAllocation = 98;
constexpr std::uint8_t kModeMask = 0x1F;

// CDB length of each command on each bus; 0 for an unknown bus.
std::uint8_t cdbLength(int busType, std::uint8_t scsiLength) {
    switch (busType) {
        case kBusScsi:
            return scsiLength;
        case kBusAtapi:
            return 12;
        default:
            return 0;
    }
}

SRB_ExecSCSICmd execRecord(const Cdb &cdb, std::uint8_t adapter, std::uint8_t target,
                           std::uint8_t lun, std::uint8_t flags, std::uint32_t length,
                           const void *buffer) {
    SRB_ExecSCSICmd srb{};
    srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
    srb.SRB_HaId = adapter;
    srb.SRB_Flags = flags;
    srb.SRB_Target = target;
    srb.SRB_Lun = lun;
    srb.SRB_BufLen = length;
    srb.SRB_BufPointer = buffer == nullptr ? 0 : lowAddress(buffer);
    srb.SRB_SenseLen = static_cast<std::uint8_t>(kSenseLength);
    srb.SRB_CDBLen = cdb.length;
    std::memcpy(srb.CDBByte, cdb.bytes.data(), sizeof srb.CDBByte);
    return srb;
}

}  // namespace

void putBigEndian24(std::uint8_t *out, std::uint32_t value) {
    out[0] = static_cast<std::uint8_t>(value >> 16);
    out[1] = static_cast<std::uint8_t>(value >> 8);
    out[2] = static_cast<std::uint8_t>(value);
}

std::optional<Cdb> inquiryCdb(int busType) {
    Cdb cdb;
    cdb.length = cdbLength(busType, 6);
    if (cdb.length == 0) {
        return std::nullopt;
    }
    cdb.bytes[0] = kOpInquiry;
    cdb.bytes[4] = kInquiryAllocation;
    return cdb;
}

std::optional<Cdb> writeBufferCdb(int busType, const WriteBufferFields &fields) {
    Cdb cdb;
    cdb.length = cdbLength(busType, 10);
    if (cdb.length == 0 || fields.offset > kMax24Bit || fields.length > kMax24Bit ||
        (fields.mode & ~kModeMask) != 0) {
        return std::nullopt;
    }
    cdb.bytes[0] = kOpWriteBuffer;
    cdb.bytes[1] = fields.mode;
    cdb.bytes[2] = fields.bufferId;
    putBigEndian24(&cdb.bytes[3], fields.offset);
    putBigEndian24(&cdb.bytes[6], fields.length);
    // The flag byte is the last byte of the CDB in both forms.
    cdb.bytes[cdb.length - 1] = fields.lastBlock ? kLastBlockBit : 0;
    return cdb;
}

SRB_ExecSCSICmd inquiryRecord(const Cdb &cdb, std::uint8_t adapter, std::uint8_t target,
                              std::uint8_t lun, std::uint8_t *buffer) {
    return execRecord(cdb, adapter, target, lun, SRB_DIR_IN, kInquiryAllocation, buffer);
}

SRB_ExecSCSICmd writeBufferRecord(const Cdb &cdb, std::uint8_t adapter, std::uint8_t target,
                                  std::uint8_t lun, std::uint32_t length,
                                  const std::uint8_t *data) {
    return execRecord(cdb, adapter, target, lun, SRB_DIR_OUT, length, data);
}

SRB_GDEVBlock deviceTypeRecord(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun) {
    SRB_GDEVBlock srb{};
    srb.SRB_Cmd = SC_GET_DEV_TYPE;
    srb.SRB_HaId = adapter;
    srb.SRB_Target = target;
    srb.SRB_Lun = lun;
    return srb;
}

CommandResult DriveCommands::SendInquiry(std::uint8_t adapter, std::uint8_t target,
                                         std::uint8_t lun, std::uint8_t *inquiryBuffer,
                                         std::uint8_t *sense) const {
    const std::optional<Cdb> cdb = inquiryCdb(m_busType());
    if (!cdb) {
        return kCommandNotBuilt;
    }
    SRB_ExecSCSICmd srb = inquiryRecord(*cdb, adapter, target, lun, inquiryBuffer);
    return m_manager.SendAndWait(srb, sense);
}

CommandResult DriveCommands::GetDeviceType(std::uint8_t adapter, std::uint8_t target,
                                           std::uint8_t lun) const {
    SRB_GDEVBlock srb = deviceTypeRecord(adapter, target, lun);
    return m_manager.SendAndWait(srb);
}

CommandResult DriveCommands::SendWriteBuffer(std::uint8_t adapter, std::uint8_t target,
                                             std::uint8_t lun, std::uint32_t length,
                                             std::uint32_t offset, const std::uint8_t *data,
                                             std::uint8_t *sense, std::uint8_t mode,
                                             std::uint8_t bufferId, std::uint8_t lastBlockFlag,
                                             SRB_ExecSCSICmd *sent) const {
    const std::optional<Cdb> cdb =
        writeBufferCdb(m_busType(), {mode, bufferId, offset, length, lastBlockFlag != 0});
    if (!cdb) {
        return kCommandNotBuilt;
    }
    SRB_ExecSCSICmd srb = writeBufferRecord(*cdb, adapter, target, lun, length, data);
    const CommandResult result = m_manager.SendAndWait(srb, sense);
    if (sent != nullptr) {
        *sent = srb;
    }
    return result;
}

}  // namespace aspi
