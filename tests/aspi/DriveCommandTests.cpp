// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The drive command set: CDB and record bytes in both bus forms, and the commands as the
// manager receives them (through the "good" test manager, which records the last record).
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <vector>

#include "aspi/DriveCommands.h"
#include "aspi/LowMemory.h"
#include "tests/aspi/BoundFakeManager.h"

using aspi::kBusAtapi;
using aspi::kBusScsi;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes recordCdb(const aspi::SRB_ExecSCSICmd &srb) {
    return {srb.CDBByte, srb.CDBByte + srb.SRB_CDBLen};
}

bool tailIsZero(const aspi::SRB_ExecSCSICmd &srb) {
    return Bytes(srb.CDBByte + srb.SRB_CDBLen, srb.CDBByte + 16) == Bytes(16 - srb.SRB_CDBLen, 0);
}

aspi::LowBuffers lowBuffers() {
    static aspi::LowBuffers buffers = [] {
        aspi::LowBuffers b;
        EXPECT_TRUE(aspi::allocateLowBuffers(b));
        return b;
    }();
    return buffers;
}

}  // namespace

TEST(CdbBuilders, BytesOfEveryFormAndRefusals) {
    struct Case {
        const char *what;
        std::optional<aspi::Cdb> cdb;
        Bytes bytes;
    };
    const Case cases[] = {
        {"INQUIRY, SCSI", aspi::inquiryCdb(kBusScsi), {0x12, 0, 0, 0, 0x62, 0}},
        {"INQUIRY, ATAPI", aspi::inquiryCdb(kBusAtapi), {0x12, 0, 0, 0, 0x62, 0, 0, 0, 0, 0, 0, 0}},
        {"WRITE BUFFER block 2, SCSI",
         aspi::writeBufferCdb(kBusScsi, {6, 0, 2 * 16384, 16384, false}),
         {0x3B, 0x06, 0x00, 0x00, 0x80, 0x00, 0x00, 0x40, 0x00, 0x00}},
        {"final 1000-byte block, ATAPI: the flag in byte 11",
         aspi::writeBufferCdb(kBusAtapi, {7, 0, 0x00C000, 1000, true}),
         {0x3B, 0x07, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x03, 0xE8, 0x00, 0x00, 0x80}},
        {"final block, SCSI: the flag in the control byte",
         aspi::writeBufferCdb(kBusScsi, {7, 0, 0x00C000, 1000, true}),
         {0x3B, 0x07, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x03, 0xE8, 0x80}},
        {"widest fields, big-endian",
         aspi::writeBufferCdb(kBusAtapi, {6, 0x5A, 0xFFFFFF, 0xABCDEF, false}),
         {0x3B, 0x06, 0x5A, 0xFF, 0xFF, 0xFF, 0xAB, 0xCD, 0xEF, 0, 0, 0}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(c.cdb);
        EXPECT_EQ(Bytes(c.cdb->bytes.begin(), c.cdb->bytes.begin() + c.cdb->length), c.bytes);
        EXPECT_EQ(Bytes(c.cdb->bytes.begin() + c.cdb->length, c.cdb->bytes.end()),
                  Bytes(16 - c.cdb->length, 0));
    }
    // No form for an unselected bus; values the fields cannot hold are refused rather than cut.
    EXPECT_FALSE(aspi::inquiryCdb(-1));
    EXPECT_FALSE(aspi::inquiryCdb(2));
    EXPECT_FALSE(aspi::writeBufferCdb(kBusScsi, {6, 0, 0x1000000, 16, false}));
    EXPECT_FALSE(aspi::writeBufferCdb(kBusScsi, {6, 0, 0, 0x1000000, false}));
    EXPECT_FALSE(aspi::writeBufferCdb(kBusScsi, {0x26, 0, 0, 16, false})) << "mode over 5 bits";
    EXPECT_FALSE(aspi::writeBufferCdb(-1, {6, 0, 0, 16, false}));
}

TEST(RecordBuilders, DeviceTypeRecordBytes) {
    const auto dev = aspi::deviceTypeRecord(1, 6, 0);
    const std::uint8_t expected[12] = {0x01, 0, 1, 0, 0, 0, 0, 0, 6, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(&dev, expected, sizeof expected));
}

// The commands through a bound manager that records what it received.
class DriveCommandsSent : public BoundFakeManager {
  protected:
    void SetUp() override {
        BoundFakeManager::SetUp();
        setReply(aspi::SS_COMP, 0, 0, 5, noSense, 0);
    }

    int bus = kBusScsi;
    aspi::DriveCommands commands{manager, [this] { return bus; }};
    const std::uint8_t noSense[18] = {};
    std::uint8_t sense[18] = {};
};

TEST_F(DriveCommandsSent, InquiryRecordInTheBusFormOfTheMoment) {
    std::uint8_t *inquiry = lowBuffers().InquiryData;
    EXPECT_EQ(commands.SendInquiry(2, 5, 0, inquiry, sense), 0x0001);
    EXPECT_EQ(recordCdb(sent()), (Bytes{0x12, 0, 0, 0, 0x62, 0}));

    bus = kBusAtapi;
    commands.SendInquiry(2, 5, 0, inquiry, sense);
    const auto srb = sent();
    EXPECT_EQ(recordCdb(srb), (Bytes{0x12, 0, 0, 0, 0x62, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(tailIsZero(srb));
    EXPECT_EQ(srb.SRB_Cmd, aspi::SC_EXEC_SCSI_CMD);
    EXPECT_EQ(srb.SRB_Status, aspi::SS_PENDING);
    EXPECT_EQ(srb.SRB_HaId, 2);
    EXPECT_EQ(srb.SRB_Flags, 0x08);
    EXPECT_EQ(srb.SRB_Target, 5);
    EXPECT_EQ(srb.SRB_Lun, 0);
    EXPECT_EQ(srb.SRB_BufLen, 98u);
    EXPECT_EQ(aspi::bufferAddress(srb.SRB_BufPointer), inquiry);
    EXPECT_EQ(srb.SRB_SenseLen, 18);
    EXPECT_EQ(srb.SRB_HaStat, 0);
    EXPECT_EQ(srb.SRB_TargStat, 0);
    EXPECT_EQ(srb.SRB_PostProc, 0u);
}

TEST_F(DriveCommandsSent, DeviceTypeIsTheHighByte) {
    EXPECT_EQ(commands.GetDeviceType(1, 2, 0), 0x0501);
}

TEST_F(DriveCommandsSent, WriteBufferResultsAndSense) {
    std::uint8_t *image = lowBuffers().DownloadImage;
    // Completed with no adapter or target status.
    bus = kBusAtapi;
    EXPECT_EQ(commands.SendWriteBuffer(0, 2, 0, 1000, 0xC000, image + 0xC000, sense, 7, 0, 1),
              0x0001);
    auto srb = sent();
    EXPECT_EQ(recordCdb(srb),
              (Bytes{0x3B, 0x07, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x03, 0xE8, 0x00, 0x00, 0x80}));
    EXPECT_EQ(srb.SRB_BufLen, 1000u);
    EXPECT_EQ(aspi::bufferAddress(srb.SRB_BufPointer), image + 0xC000);

    // CHECK CONDITION with no adapter status: the sense bytes are taken.
    setReply(aspi::SS_ERR, 0, aspi::STATUS_CHKCOND, 0, unitSense, 0);
    EXPECT_EQ(commands.SendWriteBuffer(0, 2, 0, 16384, 0, image, sense, 6, 0, 0), 0x0204);
    EXPECT_EQ(0, std::memcmp(sense, unitSense, 18));

    // Host adapter status 0x11: high byte 0x11, the sense buffer keeps what it held.
    const std::uint8_t other[18] = {0x70, 0, 0x06};
    setReply(aspi::SS_ERR, aspi::HASTAT_SEL_TO, 0, 0, other, 0);
    EXPECT_EQ(commands.SendWriteBuffer(0, 2, 0, 16384, 0, image, sense, 6, 0, 0) >> 8, 0x11);
    EXPECT_EQ(0, std::memcmp(sense, unitSense, 18));
}

TEST_F(DriveCommandsSent, FieldsTooWideAreRefusedWithoutSending) {
    std::uint8_t *image = lowBuffers().DownloadImage;
    const int before = commandCount();
    EXPECT_EQ(commands.SendWriteBuffer(0, 2, 0, 16, 0x1000000, image, sense, 6, 0, 0),
              aspi::kCommandNotBuilt);
    EXPECT_EQ(commands.SendWriteBuffer(0, 2, 0, 0x1000000, 0, image, sense, 6, 0, 0),
              aspi::kCommandNotBuilt);
    EXPECT_EQ(commandCount(), before);
    EXPECT_NE(aspi::kCommandNotBuilt & 0xFF, aspi::SS_COMP) << "never reads as success";
}
