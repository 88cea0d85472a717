// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The simulator's parts driven directly: the bus file reader, the unit model and its EDC check,
// and the request handling with its log and image files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "aspi/AspiRecords.h"
#include "aspi/DriveCommands.h"
#include "aspi/LowMemory.h"
#include "image/Edc.h"
#include "managers/sim/BusFile.h"
#include "managers/sim/Edc.h"
#include "managers/sim/SimBus.h"
#include "managers/sim/SimUnit.h"
#include "managers/sim/TraceBus.h"
#include "tests/support/SimBench.h"

using aspi::kBusAtapi;
using aspi::kBusScsi;
using sim::parseBusFile;
using Bytes = std::vector<std::uint8_t>;

namespace {

// An image as the unit expects it: a 46-byte header with the data length D big-endian at 42, the
// D data bytes, then their EDC least significant byte first, computed by the program's reference
// form so that the unit's own check meets an independent computation.
Bytes imageOf(const Bytes &data) {
    const std::size_t d = data.size();
    const std::uint32_t edc = image::computeEdcBitwise(data.data(), d);
    Bytes image(46 + d + 4, 0);
    for (int i = 0; i < 4; ++i) {
        image[42 + i] = static_cast<std::uint8_t>(d >> (24 - 8 * i));
        image[46 + d + i] = static_cast<std::uint8_t>(edc >> (8 * i));
    }
    std::copy(data.begin(), data.end(), image.begin() + 46);
    return image;
}

template <std::size_t N>
std::string text(const std::array<std::uint8_t, N> &field) {
    return {field.begin(), field.end()};
}

// CHECK CONDITION with fixed-format sense: current error, ten more bytes, key, ASC and ASCQ.
sim::Reply checkCondition(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq = 0) {
    return {0x04, 0x00, 0x02, {0x70, 0, key, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, asc, ascq}};
}

void expectReply(const sim::Reply &actual, const sim::Reply &expected) {
    EXPECT_EQ(actual.status, expected.status);
    EXPECT_EQ(actual.haStat, expected.haStat);
    EXPECT_EQ(actual.targStat, expected.targStat);
    EXPECT_EQ(actual.sense, expected.sense);
}

// The program's WRITE BUFFER CDB in the form of `bus`.
aspi::Cdb writeBufferCdb(int bus, std::uint8_t mode, std::uint32_t offset, std::uint32_t length,
                         bool last = false, std::uint8_t bufferId = 0) {
    return *aspi::writeBufferCdb(bus, {mode, bufferId, offset, length, last});
}

sim::Reply run(sim::SimUnit &unit, const aspi::Cdb &cdb, std::uint8_t *data, std::uint32_t length) {
    return unit.execute(cdb.bytes.data(), cdb.length, data, length);
}

// Sends `image` in 16 KiB blocks, mode 6 then 7 on the last, which carries `flag`; returns the
// last block's reply.
sim::Reply sendImage(sim::SimUnit &unit, Bytes image, int bus, bool flag) {
    sim::Reply reply;
    for (std::uint32_t offset = 0; offset < image.size(); offset += 16384) {
        const auto length = std::min<std::uint32_t>(16384, image.size() - offset);
        const bool last = offset + length == image.size();
        reply = run(unit, writeBufferCdb(bus, last ? 7 : 6, offset, length, last && flag),
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

TEST(BusFile, TextsKeepEveryByteAndShortTextsEndInNuls) {
    const auto parsed = parseBusFile(
        "# comment line\n"
        "\n"
        "adapter 0 id 0x0C answers 2   # trailing comment\n"
        "adapter 1 id 7 fails\n"
        "unit 0 6 type 0 vendor \"V\\0K \\x7f\\xE9\\\\\\\"\" product \"# not a comment\" "
        "revision \"\"\r\n"
        "unit 1 0 blocktime 250 held transport usb 152D:0578\n");
    ASSERT_TRUE(parsed.bus) << parsed.error << " at line " << parsed.errorLine;
    const sim::BusDescription &bus = *parsed.bus;
    EXPECT_EQ(bus.adapters[0].ownId, 12);
    EXPECT_EQ(bus.adapters[0].answeredInquiries, 2u);
    EXPECT_FALSE(bus.adapters[0].failsInquiry);
    EXPECT_TRUE(bus.adapters[1].failsInquiry);
    EXPECT_EQ(text(bus.units[0].vendor), std::string("V\0K \x7f\xE9\\\"", 8));
    EXPECT_EQ(text(bus.units[0].product), std::string("# not a comment\0", 16));
    EXPECT_EQ(text(bus.units[0].revision), std::string(4, '\0'));
    EXPECT_EQ(bus.units[0].deviceType, 0);
    EXPECT_EQ(bus.units[1].deviceType, 5);
    EXPECT_EQ(bus.units[0].blockMilliseconds, 0u);
    EXPECT_EQ(bus.units[1].blockMilliseconds, 250u);
    EXPECT_FALSE(bus.units[0].heldElsewhere);
    EXPECT_TRUE(bus.units[1].heldElsewhere);
    EXPECT_EQ(bus.units[0].transport.kind, aspi::Transport::Ata);
    EXPECT_EQ(aspi::usbIdText(bus.units[1].transport), "152d:0578");
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
        {"adapter 0 id 7\nunit 0 1 blocktime 60001\n", 2, "larger than 60000"},
        {"adapter 0 id 7\nunit 0 1\nunit 0 1\n", 3, "already declared"},
        {"adapter 0 id 7\nunit 0 1 transport firewire\n", 2, "unknown transport"},
        {"adapter 0 id 7\nunit 0 1 transport usb 152d0578\n", 2, "vvvv:pppp"},
        {"adapter 0 id 7\nunit 0 1 transport usb 152d:05g8\n", 2, "vvvv:pppp"},
        {"adapter 0 id 7\nfail 0 1 offset 0\n", 2, "no unit"},
        {"adapter 0 id 7\nunit 0 1\nfail 0 1 attempts 2\n", 3, "offset"},
        {"adapter 0 id 7\nunit 0 1\nfail 0 1 offset 0 sense 70 00\n", 3, "18 are needed"},
        {"adapter 0 id 7\nunit 0 1\nfail 0 1 offset 0x1000000\n", 3, "larger than"},
        {"adapter 0 id 7\nunit 0 1\nfail 0 1 offset 0 status 0\n", 3, "pending"},
        {"adapter 0 id 7\nunit 0 1\nfail 0 1 offset 0 residual hastat 0x11\n", 3, "residual"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        const auto parsed = parseBusFile(c.text);
        EXPECT_FALSE(parsed.bus);
        EXPECT_EQ(parsed.errorLine, c.line);
        EXPECT_NE(parsed.error.find(c.says), std::string::npos) << parsed.error;
    }
    EXPECT_TRUE(parseBusFile("").bus) << "an empty bus is a bus without adapters";
}

TEST(Edc, CdRomSectorCrc) {
    const std::uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(sim::cdromEdc(digits, sizeof digits), 0x6EC2EDC4u);
    EXPECT_EQ(sim::cdromEdc(digits, 0), 0u);
}

// Standard data up to the allocation length and the buffer length, whichever ends first.
TEST(SimUnit, InquiryAnswersInBothFormsUpToTheAllocationLength) {
    sim::UnitDescription description = vekUnit();
    description.deviceType = 0;
    sim::SimUnit unit(description, {});
    const struct {
        std::uint8_t cdbLength, allocation;
        std::uint32_t buffer;
    } cases[] = {{6, 98, 98}, {12, 98, 98}, {6, 36, 98}, {12, 98, 50}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.cdbLength) << "-byte CDB, allocation "
                                        << int(c.allocation) << ", buffer " << c.buffer);
        std::uint8_t cdb[12] = {0x12, 0, 0, 0, c.allocation, 0};
        Bytes data(100, 0xEE);
        expectReply(unit.execute(cdb, c.cdbLength, data.data(), c.buffer), {});
        EXPECT_EQ(data[0], 0);
        EXPECT_EQ(std::string(data.begin() + 8, data.begin() + 36),
                  "VEK     P" + std::string(15, '\0') + std::string("1\0\0\0", 4));
        const std::size_t end = std::min<std::size_t>(c.allocation, c.buffer);
        EXPECT_EQ(data[end - 1], 0);
        EXPECT_EQ(data[end], 0xEE) << "nothing past the answer";
    }
    std::uint8_t cdb[12] = {0x12, 0, 0, 0, 98, 0};
    Bytes data(98);
    expectReply(unit.execute(cdb, 10, data.data(), 98), checkCondition(0x05, 0x24));
}

// The unit puts the blocks together and checks the EDC when the last block carries the flag.
TEST(SimUnit, ReassemblesBlocksAndChecksTheEdcOnTheFlaggedBlock) {
    Bytes data(40000);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(i * 7 + 3);
    }
    const Bytes image = imageOf(data);
    Bytes corrupt = image;
    corrupt[46 + 20000] ^= 0x01;
    const Bytes tooShort(corrupt.begin(), corrupt.begin() + 40);
    const sim::Reply edcError = checkCondition(0x04, 0x80);
    const struct {
        const char *name;
        const Bytes &image;
        int bus;
        bool flag;
        sim::Reply reply;
    } cases[] = {
        {"SCSI", image, kBusScsi, true, {}},
        {"ATAPI", image, kBusAtapi, true, {}},
        {"SCSI, one data byte changed", corrupt, kBusScsi, true, edcError},
        {"ATAPI, one data byte changed", corrupt, kBusAtapi, true, edcError},
        {"no flag, nothing checked", corrupt, kBusScsi, false, {}},
        {"too short for its header", tooShort, kBusAtapi, true, edcError},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        sim::SimUnit unit(vekUnit(), {});
        expectReply(sendImage(unit, c.image, c.bus, c.flag), c.reply);
        EXPECT_EQ(unit.received(), c.image);
        EXPECT_TRUE(unit.saved());
    }
    // Bit 7 of byte 9 of a 12-byte CDB is not the flag.
    sim::SimUnit misplaced(vekUnit(), {});
    auto cdb = writeBufferCdb(kBusAtapi, 7, 0, static_cast<std::uint32_t>(corrupt.size()));
    cdb.bytes[9] = 0x80;
    expectReply(run(misplaced, cdb, corrupt.data(), corrupt.size()), {});
}

TEST(SimUnit, BlocksLandAtTheirOffsetsAndOffsetZeroStartsAgain) {
    sim::SimUnit unit(vekUnit(), {});
    Bytes a(8, 0xAA);
    Bytes b(4, 0xBB);
    run(unit, writeBufferCdb(kBusScsi, 6, 8, 8), a.data(), 8);
    run(unit, writeBufferCdb(kBusScsi, 6, 2, 4), b.data(), 4);
    EXPECT_EQ(unit.received(), (Bytes{0, 0, 0xBB, 0xBB, 0xBB, 0xBB, 0, 0, 0xAA, 0xAA, 0xAA, 0xAA,
                                      0xAA, 0xAA, 0xAA, 0xAA}));
    EXPECT_FALSE(unit.saved());
    run(unit, writeBufferCdb(kBusScsi, 6, 0, 4), b.data(), 4);
    EXPECT_EQ(unit.received(), Bytes(4, 0xBB));
}

TEST(SimUnit, RefusesOtherModesBuffersAndLengths) {
    aspi::Cdb sixBytes = writeBufferCdb(kBusScsi, 6, 0, 16);
    sixBytes.length = 6;
    const struct {
        const char *name;
        aspi::Cdb cdb;
        std::uint32_t bufferLength;
        sim::Reply reply;
    } cases[] = {
        {"mode 5", writeBufferCdb(kBusScsi, 5, 0, 16), 16, checkCondition(0x05, 0x24)},
        {"buffer 1", writeBufferCdb(kBusScsi, 6, 0, 16, false, 1), 16, checkCondition(0x05, 0x24)},
        {"6-byte CDB", sixBytes, 16, checkCondition(0x05, 0x24)},
        {"length other than the buffer's", writeBufferCdb(kBusScsi, 6, 0, 16), 8, {0x02, 0x12}},
        {"unknown operation", {{0x28}, 6}, 0, checkCondition(0x05, 0x20)},
    };
    sim::SimUnit unit(vekUnit(), {});
    Bytes data(16, 1);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        expectReply(run(unit, c.cdb, data.data(), c.bufferLength), c.reply);
    }
    EXPECT_TRUE(unit.received().empty());
}

// Failures from the bus file: a failing block answers with its statuses and sense for its
// attempts, taking no data, and is taken afterwards. The second failure takes every default; the
// third is a block the unit ends GOOD without taking it, reported as the real manager reports it,
// and so is the fourth, a host adapter status alone: aborted, no target status.
TEST(SimUnit, FailingBlocksFailTheirAttemptsThenAreTaken) {
    const auto parsed = parseBusFile(
        "adapter 0 id 7\nunit 0 2\n"
        "fail 0 2 offset 0x10 attempts 2 status 4 hastat 0x11 targstat 0 "
        "sense 70 00 0x03 00 00 00 00 0a 00 00 00 00 0c 00 00 00 00 ff\n"
        "fail 0 2 offset 32\n"
        "fail 0 2 offset 48 attempts 2 residual\n"
        "fail 0 2 offset 64 hastat 0x11\n");
    ASSERT_TRUE(parsed.bus) << parsed.error;
    sim::SimUnit unit(parsed.bus->units[0], parsed.bus->failures);
    Bytes data(16, 0x5A);
    const auto send = [&](std::uint32_t offset) {
        return run(unit, writeBufferCdb(kBusAtapi, 6, offset, 16), data.data(), 16);
    };
    const sim::Reply first{
        0x04, 0x11, 0x00, {0x70, 0, 0x03, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x0C, 0, 0, 0, 0, 0xFF}};
    expectReply(send(0), {});
    for (int attempt = 0; attempt < 2; ++attempt) {
        expectReply(send(16), first);
        EXPECT_EQ(unit.received().size(), 16u) << "a failed block is not taken";
    }
    expectReply(send(16), {});
    expectReply(send(32), {0x04, 0x00, 0x02, {}});
    expectReply(send(32), {});
    for (int attempt = 0; attempt < 2; ++attempt) {
        expectReply(send(48), {0x02, 0x12, 0x00, {}});
    }
    EXPECT_EQ(unit.received().size(), 48u);
    expectReply(send(48), {});
    EXPECT_EQ(unit.received().size(), 64u);
    expectReply(send(64), {0x02, 0x11, 0x00, {}});
    expectReply(send(64), {});
}

// A trace as the program writes it: its unit at adapter 1, own id 6, target 2; then a WRITE
// BUFFER that failed with a unit attention, the same block taken, an INQUIRY and a block that
// failed with a selection time-out.
const std::string kTrace =
    R"({"trace":1,"id":"x","program":"1.4.0","unit":{"address":"1:6:2","vendor":"VEK\u00e9",)"
    R"("product":"CDRW 8432","revision":"1.10"}})"
    "\n"
    R"({"command":1,"cdb":"3b0600000000000010000000","direction":"out","length":16,"aspi_status":4,)"
    R"("host_adapter_status":0,"target_status":2,"sense":"700006000000000a0000000029000000000)"
    R"(0","at_us":0,"duration_us":5,"answer":"retry"})"
    "\n"
    R"({"command":2,"cdb":"3b0600000000000010000000","direction":"out","length":16,"aspi_status":1,)"
    R"("host_adapter_status":0,"target_status":0,"at_us":9,"duration_us":5})"
    "\n"
    R"({"command":3,"cdb":"120000006200","direction":"in","length":98,"aspi_status":1,)"
    R"("host_adapter_status":0,"target_status":0,"at_us":20,"duration_us":5})"
    "\n"
    R"({"command":4,"cdb":"3b0600000010000010000000","direction":"out","length":16,"aspi_status":2,)"
    R"("host_adapter_status":17,"target_status":0,"at_us":30,"duration_us":5,"answer":"ignore"})"
    "\n";

// The trace's unit is listed at its address and answers its n-th WRITE BUFFER as recorded, then
// as itself; a trace that is not one (cut, edited, hostile) is refused naming its line.
TEST(TraceBus, ReplaysItsUnitAndRefusesWhatIsNoTrace) {
    const sim::ParseResult parsed = sim::parseBusOrTrace(kTrace);
    ASSERT_TRUE(parsed.bus) << parsed.errorLine << ": " << parsed.error;
    const sim::BusDescription &bus = *parsed.bus;
    ASSERT_EQ(bus.adapters.size(), 2u);
    EXPECT_EQ(bus.adapters[1].ownId, 6);
    ASSERT_EQ(bus.units.size(), 1u);
    EXPECT_EQ(bus.units[0].target, 2);
    EXPECT_EQ(text(bus.units[0].vendor), std::string("VEK\xe9\0\0\0\0", 8));
    sim::SimUnit unit(bus.units[0], {}, bus.recorded);
    Bytes data(16, 0x5A);
    const auto send = [&](std::uint32_t offset) {
        return run(unit, writeBufferCdb(kBusAtapi, 6, offset, 16), data.data(), 16);
    };
    expectReply(send(0), checkCondition(0x06, 0x29));
    expectReply(send(0), {});
    expectReply(send(16), {0x02, 0x11, 0x00, {}});
    expectReply(send(16), {});
    EXPECT_EQ(unit.received().size(), 32u);

    const std::string first = kTrace.substr(0, kTrace.find('\n') + 1);
    const std::string command =
        kTrace.substr(first.size(), kTrace.find('\n', first.size()) + 1 - first.size());
    const auto replaced = [](std::string line, const std::string &from, const std::string &to) {
        return line.replace(line.find(from), from.size(), to);
    };
    const struct {
        std::string text;
        int line;
        const char *says;
    } cases[] = {
        {kTrace.substr(0, kTrace.size() - 30), 5, "cut short"},
        {"{}\n", 1, "\"trace\":1"},
        {replaced(first, "\"trace\":1", "\"trace\":2"), 1, "\"trace\":1"},
        {"{\n", 1, "not a JSON object"},
        {first + "[1]\n", 2, "not a JSON object"},
        {replaced(first, "1:6:2", "8:6:2"), 1, "address"},
        {replaced(first, "1:6:2", "1:6:2:3"), 1, "address"},
        {replaced(first, "VEK\\u00e9", "VEK\\u0100"), 1, "\"vendor\""},
        {replaced(first, "CDRW 8432", "CDRW 8432 1234567"), 1, "\"product\""},
        {first + replaced(command, "\"command\":1", "\"command\":2"), 2, "next in order"},
        {first + replaced(command, "3b06", "3b0g"), 2, "\"cdb\""},
        {first + replaced(command, "3b06000000000000100000", "3b"), 2, "\"cdb\""},
        {first + replaced(command, "\"aspi_status\":4", "\"aspi_status\":0"), 2, "aspi_status"},
        {first + replaced(command, "\"target_status\":2", "\"target_status\":256"), 2,
         "target_status"},
        {first + replaced(command, "\"length\":16", "\"length\":1.5"), 2, "\"length\""},
        {first + replaced(command, "29000000", "29"), 2, "\"sense\""},
        {first + replaced(command, "retry", "again"), 2, "\"answer\""},
        {first + std::string(5000, ' ') + "\n", 2, "longer"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        const sim::ParseResult refused = sim::parseBusOrTrace(c.text);
        EXPECT_FALSE(refused.bus);
        EXPECT_EQ(refused.errorLine, c.line);
        EXPECT_NE(refused.error.find("not a trace this program can replay: "), std::string::npos);
        EXPECT_NE(refused.error.find(c.says), std::string::npos) << refused.error;
    }
}

// Each request is answered, its status stored in the record, and logged on one line.
TEST(SimBus, AnswersRecordsAndLogsEveryRequest) {
    testing_support::SimBench bench;
    aspi::LowBuffers low;
    ASSERT_TRUE(aspi::allocateLowBuffers(low));
    const auto parsed = parseBusFile(
        "adapter 0 id 7\nadapter 1 id 3 answers 1\n"
        "unit 1 4 type 5 vendor \"ZAV     \" product \"R\" revision \"9\"\n"
        "unit 1 6 held\n");
    ASSERT_TRUE(parsed.bus);
    const sim::SimOptions options{(bench.dir() / "requests.log").string(),
                                  (bench.dir() / "images").string(), "boot-1", bench.dir().string(),
                                  "bus-a"};
    sim::SimBus bus(*parsed.bus, options);
    EXPECT_EQ(bus.supportInfo(), 0x0102u);

    aspi::SRB_HAInquiry adapter1{};
    adapter1.SRB_HaId = 1;
    aspi::SRB_HAInquiry adapter2{};
    adapter2.SRB_HaId = 2;
    auto unitType = aspi::deviceTypeRecord(1, 4, 0);
    auto noUnitType = aspi::deviceTypeRecord(1, 3, 0);
    std::memcpy(low.DownloadImage, "\x01\x02\x03\x04", 4);
    auto write =
        aspi::writeBufferRecord(writeBufferCdb(kBusScsi, 6, 0, 4), 1, 4, 0, 4, low.DownloadImage);
    auto writeToNobody = write;
    writeToNobody.SRB_Target = 5;
    const struct {
        void *record;
        std::uint8_t status;
        std::string log;
    } requests[] = {
        {&adapter1, aspi::SS_COMP, "HA_INQUIRY ha=1 -> status=0x01 id=3"},
        {&adapter1, aspi::SS_ERR, "HA_INQUIRY ha=1 -> status=0x04"},  // answers its first only
        {&adapter2, aspi::SS_INVALID_HA, "HA_INQUIRY ha=2 -> status=0x81"},
        {&unitType, aspi::SS_COMP, "GET_DEV_TYPE ha=1 target=4 lun=0 -> status=0x01 type=5"},
        {&noUnitType, aspi::SS_NO_DEVICE, "GET_DEV_TYPE ha=1 target=3 lun=0 -> status=0x82 type=0"},
        {&write, aspi::SS_COMP,
         "EXEC ha=1 target=4 lun=0 flags=0x10 buflen=4 cdblen=10 cdb=3b 06 00 00 00 00 00 00 04 00 "
         "-> status=0x01 hastat=0x00 targstat=0x00"},
        {&writeToNobody, aspi::SS_ABORTED,
         "EXEC ha=1 target=5 lun=0 flags=0x10 buflen=4 cdblen=10 cdb=3b 06 00 00 00 00 00 00 04 00 "
         "-> status=0x02 hastat=0x11 targstat=0x00"},
    };
    for (std::size_t i = 0; i < std::size(requests); ++i) {
        SCOPED_TRACE(requests[i].log);
        bus.handle(requests[i].record);
        EXPECT_EQ(static_cast<aspi::SRB_Header *>(requests[i].record)->SRB_Status,
                  requests[i].status);
        EXPECT_EQ(bench.log().at(i), requests[i].log);
    }
    EXPECT_EQ(bench.log().size(), std::size(requests));

    // The unit hold, logged among the requests.
    const struct {
        bool hold;
        std::uint8_t adapter, target;
        std::uint32_t status;
        const char *log;
    } holds[] = {
        {true, 1, 4, aspi::SS_COMP, "HOLD ha=1 target=4 lun=0 -> status=0x01"},
        {true, 1, 6, aspi::SS_ASPI_IS_BUSY, "HOLD ha=1 target=6 lun=0 -> status=0xe5"},
        {true, 1, 3, aspi::SS_NO_DEVICE, "HOLD ha=1 target=3 lun=0 -> status=0x82"},
        {true, 2, 0, aspi::SS_INVALID_HA, "HOLD ha=2 target=0 lun=0 -> status=0x81"},
        {false, 1, 4, aspi::SS_COMP, "RELEASE ha=1 target=4 lun=0 -> status=0x01"},
    };
    for (const auto &h : holds) {
        EXPECT_EQ(
            h.hold ? bus.holdUnit(h.adapter, h.target, 0) : bus.releaseUnit(h.adapter, h.target, 0),
            h.status);
        EXPECT_EQ(bench.log().back(), h.log);
    }
    // A unit one bus holds is busy for another on the same locks (another process) until let go.
    sim::SimBus other(*parsed.bus, options);
    EXPECT_EQ(bus.holdUnit(1, 4, 0), aspi::SS_COMP);
    EXPECT_EQ(other.holdUnit(1, 4, 0), aspi::SS_ASPI_IS_BUSY);
    EXPECT_EQ(bus.holdUnit(1, 4, 0), aspi::SS_ASPI_IS_BUSY) << "held already";
    EXPECT_EQ(bus.releaseUnit(1, 4, 0), aspi::SS_COMP);
    EXPECT_EQ(other.holdUnit(1, 4, 0), aspi::SS_COMP);
    EXPECT_EQ(adapter1.HA_SCSI_ID, 3);
    EXPECT_EQ(adapter1.HA_Count, 2);
    EXPECT_EQ(unitType.SRB_DeviceType, 5);
    EXPECT_EQ(writeToNobody.SRB_HaStat, aspi::HASTAT_SEL_TO);
    EXPECT_EQ(bench.image(1, 4), (Bytes{1, 2, 3, 4}));
    aspi::freeLowBuffers(low);
}
