// The simulator's parts driven directly: the bus file reader, the unit model and its EDC check,
// and the request handling with its log and image files.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "aspi/AspiRecords.h"
#include "aspi/LowMemory.h"
#include "managers/sim/BusFile.h"
#include "managers/sim/Edc.h"
#include "managers/sim/SimBus.h"
#include "managers/sim/SimUnit.h"
#include "tests/support/SimBench.h"

using sim::parseBusFile;

namespace {

template <std::size_t N>
std::string bytes(const std::array<std::uint8_t, N> &field) {
    return {field.begin(), field.end()};
}

// An image as the unit expects it: header with D at 42, D data bytes, EDC least significant
// byte first.
std::vector<std::uint8_t> imageOf(const std::vector<std::uint8_t> &data) {
    std::vector<std::uint8_t> image(sim::kImageHeaderLength, 0);
    std::memcpy(image.data(), "fw.hex", 6);
    const auto d = static_cast<std::uint32_t>(data.size());
    image[42] = static_cast<std::uint8_t>(d >> 24);
    image[43] = static_cast<std::uint8_t>(d >> 16);
    image[44] = static_cast<std::uint8_t>(d >> 8);
    image[45] = static_cast<std::uint8_t>(d);
    image.insert(image.end(), data.begin(), data.end());
    const std::uint32_t edc = sim::cdromEdc(data.data(), data.size());
    for (int i = 0; i < 4; ++i) {
        image.push_back(static_cast<std::uint8_t>(edc >> (8 * i)));
    }
    return image;
}

std::vector<std::uint8_t> writeBufferCdb(int cdbLength, std::uint8_t mode, std::uint32_t offset,
                                         std::uint32_t length, bool last) {
    // Room for the widest record CDB, so that a short form can be asked for as well.
    std::vector<std::uint8_t> cdb(16, 0);
    cdb[0] = 0x3B;
    cdb[1] = mode;
    cdb[3] = static_cast<std::uint8_t>(offset >> 16);
    cdb[4] = static_cast<std::uint8_t>(offset >> 8);
    cdb[5] = static_cast<std::uint8_t>(offset);
    cdb[6] = static_cast<std::uint8_t>(length >> 16);
    cdb[7] = static_cast<std::uint8_t>(length >> 8);
    cdb[8] = static_cast<std::uint8_t>(length);
    cdb[static_cast<std::size_t>(cdbLength) - 1] = last ? 0x80 : 0x00;
    return cdb;
}

// Sends `image` in blocks of `block` bytes, mode 6 then 7 with the flag on the last.
sim::Reply sendImage(sim::SimUnit &unit, std::vector<std::uint8_t> image, int cdbLength,
                     std::uint32_t block) {
    sim::Reply reply;
    for (std::uint32_t offset = 0; offset < image.size(); offset += block) {
        const auto length = std::min<std::uint32_t>(block, image.size() - offset);
        const bool last = offset + length == image.size();
        const auto cdb = writeBufferCdb(cdbLength, last ? 7 : 6, offset, length, last);
        reply = unit.execute(cdb.data(), static_cast<std::uint8_t>(cdbLength),
                             image.data() + offset, length);
    }
    return reply;
}

sim::UnitDescription vekUnit() {
    const auto parsed =
        parseBusFile("adapter 0 id 7\nunit 0 2 vendor \"VEK     \" product \"P\" revision \"1\"");
    return parsed.bus->units.at(0);
}

}  // namespace

TEST(BusFile, BuiltInBus) {
    const auto parsed = parseBusFile(sim::kDefaultBusText);
    ASSERT_TRUE(parsed.bus) << parsed.error;
    const sim::BusDescription &bus = *parsed.bus;
    ASSERT_EQ(bus.adapters.size(), 2u);
    EXPECT_EQ(bus.adapters[0].ownId, 7);
    EXPECT_EQ(bus.adapters[1].ownId, 7);
    ASSERT_EQ(bus.units.size(), 3u);
    EXPECT_EQ(bus.units[0].adapter, 0);
    EXPECT_EQ(bus.units[0].target, 2);
    EXPECT_EQ(bytes(bus.units[0].vendor), "VEK     ");
    EXPECT_EQ(bus.units[1].target, 4);
    EXPECT_EQ(bytes(bus.units[1].vendor), "ZAV     ");
    EXPECT_EQ(bus.units[2].adapter, 1);
    EXPECT_EQ(bus.units[2].target, 0);
    for (const auto &unit : bus.units) {
        EXPECT_EQ(unit.deviceType, 5);
    }
}

TEST(BusFile, TextsKeepEveryByteAndShortTextsEndInNuls) {
    const auto parsed = parseBusFile(
        "# comment line\n"
        "\n"
        "adapter 0 id 0x0C answers 2   # trailing comment\n"
        "adapter 1 id 7 fails\n"
        "unit 0 6 type 0 vendor \"V\\0K \\x7f\\xE9\\\\\\\"\" product \"# not a comment\" "
        "revision \"\"\r\n"
        "unit 1 0\n");
    ASSERT_TRUE(parsed.bus) << parsed.error << " at line " << parsed.errorLine;
    const sim::BusDescription &bus = *parsed.bus;
    EXPECT_EQ(bus.adapters[0].ownId, 12);
    EXPECT_EQ(bus.adapters[0].answeredInquiries, 2u);
    EXPECT_FALSE(bus.adapters[0].failsInquiry);
    EXPECT_TRUE(bus.adapters[1].failsInquiry);
    EXPECT_EQ(bytes(bus.units[0].vendor), std::string("V\0K \x7f\xE9\\\"", 8));
    EXPECT_EQ(bytes(bus.units[0].product), std::string("# not a comment\0", 16));
    EXPECT_EQ(bytes(bus.units[0].revision), std::string(4, '\0'));
    EXPECT_EQ(bus.units[0].deviceType, 0);
    EXPECT_EQ(bus.units[1].deviceType, 5);
}

TEST(BusFile, BlockFailures) {
    const auto parsed = parseBusFile(
        "adapter 0 id 7\n"
        "unit 0 3\n"
        "fail 0 3 offset 0x4000 attempts 3 status 4 hastat 0x11 targstat 0 "
        "sense 70 00 0x04 00 00 00 00 0a 00 00 00 00 80 00 00 00 00 ff\n"
        "fail 0 3 offset 16384\n");
    ASSERT_TRUE(parsed.bus) << parsed.error;
    ASSERT_EQ(parsed.bus->failures.size(), 2u);
    const sim::BlockFailure &first = parsed.bus->failures[0];
    EXPECT_EQ(first.offset, 0x4000u);
    EXPECT_EQ(first.attempts, 3u);
    EXPECT_EQ(first.status, 4);
    EXPECT_EQ(first.haStat, 0x11);
    EXPECT_EQ(first.targStat, 0);
    EXPECT_EQ(first.sense[2], 0x04);
    EXPECT_EQ(first.sense[7], 0x0A);
    EXPECT_EQ(first.sense[12], 0x80);
    EXPECT_EQ(first.sense[17], 0xFF);
    const sim::BlockFailure &second = parsed.bus->failures[1];
    EXPECT_EQ(second.attempts, 1u);
    EXPECT_EQ(second.status, 0x04);
    EXPECT_EQ(second.haStat, 0);
    EXPECT_EQ(second.targStat, 0x02);
    EXPECT_EQ(bytes(second.sense), std::string(18, '\0'));
}

TEST(BusFile, FaultsNameTheirLine) {
    const struct {
        const char *text;
        int line;
        const char *says;
    } cases[] = {
        {"adapter 0 id 7\nscanner 0 1\n", 2, "unknown line kind"},
        {"adapter 1 id 7\n", 1, "out of order"},
        {"adapter 0 id 7\nadapter 0 id 6\n", 2, "out of order"},
        {"adapter 0 id 256\n", 1, "larger than 255"},
        {"adapter 0 id 7x\n", 1, "bad number"},
        {"adapter 0 7\n", 1, "\"id\""},
        {"adapter 0 id 7 sometimes\n", 1, "unknown adapter keyword"},
        {"unit 0 1\n", 1, "not declared"},
        {"adapter 0 id 7\nunit 0 16\n", 2, "larger than 15"},
        {"adapter 0 id 7\nunit 0 1 vendor VEK\n", 2, "quoted"},
        {"adapter 0 id 7\n\nunit 0 1 vendor \"VEKTRONIX\"\n", 3, "longer than 8"},
        {"adapter 0 id 7\nunit 0 1 product \"12345678901234567\"\n", 2, "longer than 16"},
        {"adapter 0 id 7\nunit 0 1 revision \"1.234\"\n", 2, "longer than 4"},
        {"adapter 0 id 7\nunit 0 1 vendor \"VEK\n", 2, "closing quote"},
        {"adapter 0 id 7\nunit 0 1 vendor \"V\\q\"\n", 2, "escape"},
        {"adapter 0 id 7\nunit 0 1 vendor \"V\\x4\"\n", 2, "escape"},
        {"adapter 0 id 7\nunit 0 1 type\n", 2, "missing"},
        {"adapter 0 id 7\nunit 0 1\nunit 0 1\n", 3, "already declared"},
        {"adapter 0 id 7\nfail 0 1 offset 0\n", 2, "no unit"},
        {"adapter 0 id 7\nunit 0 1\nfail 0 1 attempts 2\n", 3, "offset"},
        {"adapter 0 id 7\nunit 0 1\nfail 0 1 offset 0 sense 70 00\n", 3, "18 are needed"},
        {"adapter 0 id 7\nunit 0 1\nfail 0 1 offset 0x1000000\n", 3, "larger than"},
        {"adapter 0 id 7\nunit 0 1\nfail 0 1 offset 0 status 0\n", 3, "pending"},
    };
    for (const auto &c : cases) {
        const auto parsed = parseBusFile(c.text);
        EXPECT_FALSE(parsed.bus) << c.text;
        EXPECT_EQ(parsed.errorLine, c.line) << c.text;
        EXPECT_NE(parsed.error.find(c.says), std::string::npos) << c.text << " -> " << parsed.error;
    }
    EXPECT_TRUE(parseBusFile("").bus) << "an empty bus is a bus without adapters";
}

TEST(Edc, CdRomSectorCrc) {
    const std::uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(sim::cdromEdc(digits, sizeof digits), 0x6EC2EDC4u);
    EXPECT_EQ(sim::cdromEdc(digits, 0), 0u);
}

TEST(SimUnit, InquiryAnswersInBothFormsUpToTheAllocationLength) {
    sim::UnitDescription description = vekUnit();
    description.deviceType = 0;
    sim::SimUnit unit(description, {});
    for (std::uint8_t cdbLength : {6, 12}) {
        std::uint8_t cdb[12] = {0x12, 0, 0, 0, 98, 0};
        std::uint8_t data[100];
        std::memset(data, 0xEE, sizeof data);
        const sim::Reply reply = unit.execute(cdb, cdbLength, data, 98);
        EXPECT_EQ(reply.status, 0x01);
        EXPECT_EQ(data[0], 0);
        EXPECT_EQ(std::string(reinterpret_cast<char *>(data + 8), 8), "VEK     ");
        EXPECT_EQ(std::string(reinterpret_cast<char *>(data + 16), 16),
                  "P" + std::string(15, '\0'));
        EXPECT_EQ(std::string(reinterpret_cast<char *>(data + 32), 4), std::string("1\0\0\0", 4));
        EXPECT_EQ(data[97], 0);
        EXPECT_EQ(data[98], 0xEE) << "nothing past the buffer";
    }
    std::uint8_t cdb[12] = {0x12, 0, 0, 0, 36, 0};
    std::uint8_t data[98];
    std::memset(data, 0xEE, sizeof data);
    unit.execute(cdb, 6, data, 98);
    EXPECT_EQ(data[35], '\0');
    EXPECT_EQ(data[36], 0xEE) << "allocation length 36";

    const sim::Reply refused = unit.execute(cdb, 10, data, 98);
    EXPECT_EQ(refused.status, 0x04);
    EXPECT_EQ(refused.targStat, 0x02);
    EXPECT_EQ(refused.sense[2], 0x05);
    EXPECT_EQ(refused.sense[12], 0x24);
}

TEST(SimUnit, ReassemblesBlocksAndChecksTheEdcOnTheFlaggedBlock) {
    std::vector<std::uint8_t> data(40000);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(i * 7 + 3);
    }
    const std::vector<std::uint8_t> image = imageOf(data);
    for (int cdbLength : {10, 12}) {
        sim::SimUnit unit(vekUnit(), {});
        const sim::Reply reply = sendImage(unit, image, cdbLength, 16384);
        EXPECT_EQ(reply.status, 0x01) << cdbLength;
        EXPECT_EQ(reply.targStat, 0x00);
        EXPECT_EQ(unit.received(), image);
        EXPECT_TRUE(unit.saved());
    }

    // One changed data byte: the flagged block ends in CHECK CONDITION, sense 04h/80h/00h.
    std::vector<std::uint8_t> corrupt = image;
    corrupt[46 + 20000] ^= 0x01;
    for (int cdbLength : {10, 12}) {
        sim::SimUnit unit(vekUnit(), {});
        const sim::Reply reply = sendImage(unit, corrupt, cdbLength, 16384);
        EXPECT_EQ(reply.status, 0x04);
        EXPECT_EQ(reply.haStat, 0x00);
        EXPECT_EQ(reply.targStat, 0x02);
        EXPECT_EQ(reply.sense[0], 0x70);
        EXPECT_EQ(reply.sense[2], 0x04);
        EXPECT_EQ(reply.sense[12], 0x80);
        EXPECT_EQ(reply.sense[13], 0x00);
    }

    // Without the flag nothing is checked; an image too short for its header fails the check.
    sim::SimUnit unchecked(vekUnit(), {});
    auto cdb = writeBufferCdb(10, 7, 0, static_cast<std::uint32_t>(corrupt.size()), false);
    EXPECT_EQ(unchecked.execute(cdb.data(), 10, corrupt.data(), corrupt.size()).status, 0x01);
    sim::SimUnit shortImage(vekUnit(), {});
    cdb = writeBufferCdb(12, 7, 0, 40, true);
    EXPECT_EQ(shortImage.execute(cdb.data(), 12, corrupt.data(), 40).status, 0x04);
    // The flag bit in byte 9 of a 12-byte CDB is not the flag.
    sim::SimUnit misplaced(vekUnit(), {});
    cdb = writeBufferCdb(12, 7, 0, static_cast<std::uint32_t>(corrupt.size()), false);
    cdb[9] = 0x80;
    EXPECT_EQ(misplaced.execute(cdb.data(), 12, corrupt.data(), corrupt.size()).status, 0x01);
}

TEST(SimUnit, BlocksLandAtTheirOffsetsAndOffsetZeroStartsAgain) {
    sim::SimUnit unit(vekUnit(), {});
    std::vector<std::uint8_t> a(8, 0xAA);
    std::vector<std::uint8_t> b(4, 0xBB);
    auto cdb = writeBufferCdb(10, 6, 8, 8, false);
    unit.execute(cdb.data(), 10, a.data(), 8);
    cdb = writeBufferCdb(10, 6, 2, 4, false);
    unit.execute(cdb.data(), 10, b.data(), 4);
    EXPECT_EQ(unit.received(),
              (std::vector<std::uint8_t>{0, 0, 0xBB, 0xBB, 0xBB, 0xBB, 0, 0, 0xAA, 0xAA, 0xAA, 0xAA,
                                         0xAA, 0xAA, 0xAA, 0xAA}));
    EXPECT_FALSE(unit.saved());
    cdb = writeBufferCdb(10, 6, 0, 4, false);
    unit.execute(cdb.data(), 10, b.data(), 4);
    EXPECT_EQ(unit.received(), std::vector<std::uint8_t>(4, 0xBB));
}

TEST(SimUnit, RefusesOtherModesBuffersAndLengths) {
    sim::SimUnit unit(vekUnit(), {});
    std::vector<std::uint8_t> data(16, 1);
    auto cdb = writeBufferCdb(10, 5, 0, 16, false);
    EXPECT_EQ(unit.execute(cdb.data(), 10, data.data(), 16).sense[12], 0x24) << "mode 5";
    cdb = writeBufferCdb(10, 6, 0, 16, false);
    cdb[2] = 1;
    EXPECT_EQ(unit.execute(cdb.data(), 10, data.data(), 16).sense[12], 0x24) << "buffer 1";
    cdb = writeBufferCdb(6, 6, 0, 16, false);
    EXPECT_EQ(unit.execute(cdb.data(), 6, data.data(), 16).targStat, 0x02) << "6-byte CDB";
    cdb = writeBufferCdb(10, 6, 0, 16, false);
    const sim::Reply mismatch = unit.execute(cdb.data(), 10, data.data(), 8);
    EXPECT_EQ(mismatch.status, 0x04);
    EXPECT_EQ(mismatch.haStat, 0x12) << "data over/underrun";
    const std::uint8_t unknown[6] = {0x28};
    EXPECT_EQ(unit.execute(unknown, 6, nullptr, 0).sense[12], 0x20);
    EXPECT_TRUE(unit.received().empty());
}

TEST(SimUnit, AFailingBlockFailsItsAttemptsThenIsTaken) {
    const auto parsed = parseBusFile(
        "adapter 0 id 7\nunit 0 2\n"
        "fail 0 2 offset 16 attempts 2 status 0x04 hastat 0 targstat 2 "
        "sense 70 00 03 00 00 00 00 0a 00 00 00 00 0c 00 00 00 00 00\n");
    ASSERT_TRUE(parsed.bus);
    sim::SimUnit unit(parsed.bus->units[0], parsed.bus->failures);
    std::vector<std::uint8_t> data(16, 0x5A);
    auto first = writeBufferCdb(12, 6, 0, 16, false);
    EXPECT_EQ(unit.execute(first.data(), 12, data.data(), 16).status, 0x01);
    auto second = writeBufferCdb(12, 7, 16, 16, false);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const sim::Reply reply = unit.execute(second.data(), 12, data.data(), 16);
        EXPECT_EQ(reply.status, 0x04);
        EXPECT_EQ(reply.targStat, 0x02);
        EXPECT_EQ(reply.sense[2], 0x03);
        EXPECT_EQ(reply.sense[12], 0x0C);
        EXPECT_EQ(unit.received().size(), 16u) << "a failed block is not taken";
    }
    EXPECT_EQ(unit.execute(second.data(), 12, data.data(), 16).status, 0x01);
    EXPECT_EQ(unit.received().size(), 32u);
}

TEST(SimBus, AnswersRecordsAndLogsEveryRequest) {
    testing_support::SimBench bench;
    aspi::LowBuffers low;
    ASSERT_TRUE(aspi::allocateLowBuffers(low));
    const auto parsed = parseBusFile(
        "adapter 0 id 7\nadapter 1 id 3 answers 1\n"
        "unit 1 4 type 5 vendor \"ZAV     \" product \"R\" revision \"9\"\n");
    ASSERT_TRUE(parsed.bus);
    sim::SimBus bus(*parsed.bus,
                    {(bench.dir() / "requests.log").string(), (bench.dir() / "images").string()});
    EXPECT_EQ(bus.supportInfo(), 0x0102u);

    aspi::SRB_HAInquiry ha{};
    ha.SRB_HaId = 1;
    bus.handle(&ha);
    EXPECT_EQ(ha.SRB_Status, aspi::SS_COMP);
    EXPECT_EQ(ha.HA_SCSI_ID, 3);
    EXPECT_EQ(ha.HA_Count, 2);
    ha.SRB_Status = 0;
    bus.handle(&ha);
    EXPECT_EQ(ha.SRB_Status, aspi::SS_ERR) << "answers its first inquiry only";
    ha.SRB_HaId = 2;
    bus.handle(&ha);
    EXPECT_EQ(ha.SRB_Status, aspi::SS_INVALID_HA);

    aspi::SRB_GDEVBlock dev{};
    dev.SRB_Cmd = aspi::SC_GET_DEV_TYPE;
    dev.SRB_HaId = 1;
    dev.SRB_Target = 4;
    bus.handle(&dev);
    EXPECT_EQ(dev.SRB_Status, aspi::SS_COMP);
    EXPECT_EQ(dev.SRB_DeviceType, 5);
    dev.SRB_Status = 0;
    dev.SRB_Target = 3;
    bus.handle(&dev);
    EXPECT_EQ(dev.SRB_Status, aspi::SS_NO_DEVICE);

    aspi::SRB_ExecSCSICmd exec{};
    exec.SRB_Cmd = aspi::SC_EXEC_SCSI_CMD;
    exec.SRB_HaId = 1;
    exec.SRB_Target = 4;
    exec.SRB_Flags = aspi::SRB_DIR_OUT;
    exec.SRB_CDBLen = 10;
    exec.SRB_BufLen = 4;
    exec.SRB_BufPointer = aspi::lowAddress(low.DownloadImage);
    const auto cdb = writeBufferCdb(10, 6, 0, 4, false);
    std::memcpy(exec.CDBByte, cdb.data(), 10);
    std::memcpy(low.DownloadImage, "\x01\x02\x03\x04", 4);
    bus.handle(&exec);
    EXPECT_EQ(exec.SRB_Status, aspi::SS_COMP);
    EXPECT_EQ(bench.image(1, 4), (std::vector<std::uint8_t>{1, 2, 3, 4}));

    exec.SRB_Status = 0;
    exec.SRB_Target = 5;
    bus.handle(&exec);
    EXPECT_EQ(exec.SRB_Status, aspi::SS_ERR);
    EXPECT_EQ(exec.SRB_HaStat, aspi::HASTAT_SEL_TO) << "nothing answers at target 5";

    const auto log = bench.log();
    ASSERT_EQ(log.size(), 7u);
    EXPECT_EQ(log[0], "HA_INQUIRY ha=1 -> status=0x01 id=3");
    EXPECT_EQ(log[1], "HA_INQUIRY ha=1 -> status=0x04");
    EXPECT_EQ(log[3], "GET_DEV_TYPE ha=1 target=4 lun=0 -> status=0x01 type=5");
    EXPECT_EQ(log[5],
              "EXEC ha=1 target=4 lun=0 flags=0x10 buflen=4 cdblen=10 "
              "cdb=3b 06 00 00 00 00 00 00 04 00 -> status=0x01 hastat=0x00 targstat=0x00");
    EXPECT_EQ(log[6].substr(0, 24), "EXEC ha=1 target=5 lun=0");
}
