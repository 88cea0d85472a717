// The drive command set: CDB and record bytes in both bus forms, and the commands as the
// manager receives them (through the "good" test manager, which records the last record).
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "aspi/DriveCommands.h"
#include "aspi/LowMemory.h"
#include "tests/support/TestHost.h"

using aspi::Cdb;
using aspi::kBusAtapi;
using aspi::kBusScsi;

namespace {

std::vector<std::uint8_t> cdbBytes(const Cdb &cdb) {
    return {cdb.bytes.begin(), cdb.bytes.begin() + cdb.length};
}

std::vector<std::uint8_t> recordCdb(const aspi::SRB_ExecSCSICmd &srb) {
    return {srb.CDBByte, srb.CDBByte + srb.SRB_CDBLen};
}

bool tailIsZero(const aspi::SRB_ExecSCSICmd &srb) {
    for (int i = srb.SRB_CDBLen; i < 16; ++i) {
        if (srb.CDBByte[i] != 0) {
            return false;
        }
    }
    return true;
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

TEST(CdbBuilders, InquiryInBothBusForms) {
    const auto scsi = aspi::inquiryCdb(kBusScsi);
    ASSERT_TRUE(scsi);
    EXPECT_EQ(scsi->length, 6);
    EXPECT_EQ(cdbBytes(*scsi), (std::vector<std::uint8_t>{0x12, 0x00, 0x00, 0x00, 0x62, 0x00}));

    const auto atapi = aspi::inquiryCdb(kBusAtapi);
    ASSERT_TRUE(atapi);
    EXPECT_EQ(atapi->length, 12);
    EXPECT_EQ(cdbBytes(*atapi),
              (std::vector<std::uint8_t>{0x12, 0x00, 0x00, 0x00, 0x62, 0x00, 0, 0, 0, 0, 0, 0}));
    EXPECT_FALSE(aspi::inquiryCdb(-1)) << "no form for an unselected bus";
    EXPECT_FALSE(aspi::inquiryCdb(2));
}

TEST(CdbBuilders, WriteBufferThirdFullBlockOnScsi) {
    const auto cdb = aspi::writeBufferCdb(kBusScsi, {6, 0, 2 * 16384, 16384, false});
    ASSERT_TRUE(cdb);
    EXPECT_EQ(cdbBytes(*cdb), (std::vector<std::uint8_t>{0x3B, 0x06, 0x00, 0x00, 0x80, 0x00, 0x00,
                                                         0x40, 0x00, 0x00}));
}

TEST(CdbBuilders, WriteBufferFinalAtapiBlockCarriesTheFlagInByteEleven) {
    const auto cdb = aspi::writeBufferCdb(kBusAtapi, {7, 0, 0x00C000, 1000, true});
    ASSERT_TRUE(cdb);
    EXPECT_EQ(cdbBytes(*cdb), (std::vector<std::uint8_t>{0x3B, 0x07, 0x00, 0x00, 0xC0, 0x00, 0x00,
                                                         0x03, 0xE8, 0x00, 0x00, 0x80}));
    // On SCSI the same block has the flag in the control byte, byte 9.
    const auto scsi = aspi::writeBufferCdb(kBusScsi, {7, 0, 0x00C000, 1000, true});
    ASSERT_TRUE(scsi);
    EXPECT_EQ(scsi->length, 10);
    EXPECT_EQ(scsi->bytes[9], 0x80);
    EXPECT_EQ(scsi->bytes[10], 0x00);
}

TEST(CdbBuilders, OffsetAndLengthAreBigEndian24BitFields) {
    const auto cdb = aspi::writeBufferCdb(kBusScsi, {6, 0, 0x004000, 0x004000, false});
    ASSERT_TRUE(cdb);
    EXPECT_EQ(std::vector<std::uint8_t>(cdb->bytes.begin() + 3, cdb->bytes.begin() + 9),
              (std::vector<std::uint8_t>{0x00, 0x40, 0x00, 0x00, 0x40, 0x00}));
    const auto widest = aspi::writeBufferCdb(kBusAtapi, {6, 0x5A, 0xFFFFFF, 0xABCDEF, false});
    ASSERT_TRUE(widest);
    EXPECT_EQ(std::vector<std::uint8_t>(widest->bytes.begin() + 2, widest->bytes.begin() + 9),
              (std::vector<std::uint8_t>{0x5A, 0xFF, 0xFF, 0xFF, 0xAB, 0xCD, 0xEF}));

    // Values the fields cannot hold are refused rather than cut.
    EXPECT_FALSE(aspi::writeBufferCdb(kBusScsi, {6, 0, 0x1000000, 16, false}));
    EXPECT_FALSE(aspi::writeBufferCdb(kBusScsi, {6, 0, 0, 0x1000000, false}));
    EXPECT_FALSE(aspi::writeBufferCdb(kBusScsi, {0x26, 0, 0, 16, false})) << "mode over 5 bits";
    EXPECT_FALSE(aspi::writeBufferCdb(-1, {6, 0, 0, 16, false}));
}

TEST(RecordBuilders, FieldsOfTheThreeRecords) {
    std::uint8_t *inquiry = lowBuffers().InquiryData;
    const auto inq = aspi::inquiryRecord(*aspi::inquiryCdb(kBusAtapi), 2, 5, 0, inquiry);
    EXPECT_EQ(inq.SRB_Cmd, aspi::SC_EXEC_SCSI_CMD);
    EXPECT_EQ(inq.SRB_Status, aspi::SS_PENDING);
    EXPECT_EQ(inq.SRB_HaId, 2);
    EXPECT_EQ(inq.SRB_Flags, 0x08);
    EXPECT_EQ(inq.SRB_Target, 5);
    EXPECT_EQ(inq.SRB_Lun, 0);
    EXPECT_EQ(inq.SRB_BufLen, 98u);
    EXPECT_EQ(aspi::bufferAddress(inq.SRB_BufPointer), inquiry);
    EXPECT_EQ(inq.SRB_SenseLen, 18);
    EXPECT_EQ(inq.SRB_CDBLen, 12);
    EXPECT_EQ(inq.SRB_HaStat, 0);
    EXPECT_EQ(inq.SRB_TargStat, 0);
    EXPECT_EQ(inq.SRB_PostProc, 0u);
    EXPECT_TRUE(tailIsZero(inq));

    std::uint8_t *image = lowBuffers().DownloadImage;
    const auto cdb = aspi::writeBufferCdb(kBusScsi, {6, 0, 0x8000, 16384, false});
    const auto wb = aspi::writeBufferRecord(*cdb, 1, 3, 0, 16384, image + 0x8000);
    EXPECT_EQ(wb.SRB_Flags, 0x10);
    EXPECT_EQ(wb.SRB_HaId, 1);
    EXPECT_EQ(wb.SRB_Target, 3);
    EXPECT_EQ(wb.SRB_BufLen, 16384u);
    EXPECT_EQ(aspi::bufferAddress(wb.SRB_BufPointer), image + 0x8000);
    EXPECT_EQ(wb.SRB_CDBLen, 10);
    EXPECT_TRUE(tailIsZero(wb));

    const auto dev = aspi::deviceTypeRecord(1, 6, 0);
    const std::uint8_t expected[12] = {0x01, 0, 1, 0, 0, 0, 0, 0, 6, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(&dev, expected, sizeof expected));
}

// The commands through a bound manager that records what it received.
class DriveCommandsSent : public ::testing::Test {
  protected:
    using SetReply = void (*)(std::uint8_t, std::uint8_t, std::uint8_t, std::uint8_t,
                              const std::uint8_t *, int);
    using LastExec = void (*)(aspi::SRB_ExecSCSICmd *);

    void SetUp() override {
        manager.LoadAspiManager();
        void *handle = dlopen(aspi::kManagerLibraryName, RTLD_NOW | RTLD_NOLOAD);
        ASSERT_NE(handle, nullptr);
        setReply = reinterpret_cast<SetReply>(dlsym(handle, "FakeSetReply"));
        lastExec = reinterpret_cast<LastExec>(dlsym(handle, "FakeLastExec"));
        commandCount = reinterpret_cast<int (*)()>(dlsym(handle, "FakeCommands"));
        ASSERT_NE(setReply, nullptr);
        setReply(aspi::SS_COMP, 0, 0, 5, noSense, 0);
    }

    aspi::SRB_ExecSCSICmd sent() const {
        aspi::SRB_ExecSCSICmd srb{};
        lastExec(&srb);
        return srb;
    }

    testing_support::TestHost host;
    aspi::AspiManager manager;
    int bus = kBusScsi;
    aspi::DriveCommands commands{manager, [this] { return bus; }};
    SetReply setReply = nullptr;
    LastExec lastExec = nullptr;
    int (*commandCount)() = nullptr;
    const std::uint8_t noSense[18] = {};
    std::uint8_t sense[18] = {};
};

TEST_F(DriveCommandsSent, InquiryFollowsTheBusSelectionOfTheMoment) {
    std::uint8_t *inquiry = lowBuffers().InquiryData;
    EXPECT_EQ(commands.SendInquiry(0, 3, 0, inquiry, sense), 0x0001);
    auto srb = sent();
    EXPECT_EQ(recordCdb(srb), (std::vector<std::uint8_t>{0x12, 0, 0, 0, 0x62, 0}));
    EXPECT_EQ(srb.SRB_Target, 3);
    EXPECT_EQ(aspi::bufferAddress(srb.SRB_BufPointer), inquiry);

    bus = kBusAtapi;
    commands.SendInquiry(0, 3, 0, inquiry, sense);
    srb = sent();
    EXPECT_EQ(srb.SRB_CDBLen, 12);
    EXPECT_TRUE(tailIsZero(srb));
}

TEST_F(DriveCommandsSent, DeviceTypeIsTheHighByte) {
    setReply(aspi::SS_COMP, 0, 0, 0x05, noSense, 0);
    EXPECT_EQ(commands.GetDeviceType(1, 2, 0), 0x0501);
}

TEST_F(DriveCommandsSent, WriteBufferResultsAndSense) {
    std::uint8_t *image = lowBuffers().DownloadImage;
    // Completed with no adapter or target status.
    bus = kBusAtapi;
    EXPECT_EQ(commands.SendWriteBuffer(0, 2, 0, 1000, 0xC000, image + 0xC000, sense, 7, 0, 1),
              0x0001);
    auto srb = sent();
    EXPECT_EQ(recordCdb(srb), (std::vector<std::uint8_t>{0x3B, 0x07, 0x00, 0x00, 0xC0, 0x00, 0x00,
                                                         0x03, 0xE8, 0x00, 0x00, 0x80}));
    EXPECT_EQ(srb.SRB_BufLen, 1000u);
    EXPECT_EQ(aspi::bufferAddress(srb.SRB_BufPointer), image + 0xC000);

    // CHECK CONDITION with no adapter status: the sense bytes are taken.
    std::uint8_t unitSense[18] = {0x70, 0, 0x04};
    unitSense[12] = 0x80;
    setReply(aspi::SS_ERR, 0, aspi::STATUS_CHKCOND, 0, unitSense, 0);
    EXPECT_EQ(commands.SendWriteBuffer(0, 2, 0, 16384, 0, image, sense, 6, 0, 0), 0x0204);
    EXPECT_EQ(0, std::memcmp(sense, unitSense, 18));

    // Host adapter status 0x11: high byte 0x11, the sense buffer keeps what it held.
    std::uint8_t other[18] = {0x70, 0, 0x06};
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
    EXPECT_NE(aspi::kCommandNotBuilt & 0xFF, aspi::SS_COMP);
}
